#!/usr/bin/env python3
"""Writes the header-word test data: subjects encoded by Python's email.header with the
ISO-2022-JP charset (NAME.hdr, the raw header value, folded as Python folds it) beside the
original text in Shift-JIS as glibc's iconv gives it (NAME.sjis).

Run from this folder: python3 make-header-words.py
"""
import subprocess
from email.header import Header

SUBJECTS = {
    "01-short": "テスト",
    "02-reply": "Re: 会議の日程について",
    "03-brackets": "【重要】システムメンテナンスのお知らせ（１２月２０日）",
    "04-mixed-ascii": "Purgel 0.9 リリースのお知らせ: POP3 サーバーのメールを一覧してから削除できます。",
    "05-long-kanji": "長い件名の試験です。" * 8,
    "06-long-mixed": "【お知らせ】来週月曜日の午前十時から、第三会議室で Project Review を行います。"
                     "資料は前日までに共有フォルダへ置いてください。ご不明な点は山田までお問い合わせください。",
    "07-symbols": "○×△□◎★☆※→←↑↓〒＃＆＊＠§",
    "08-greek-cyrillic": "ΑΒΓ αβγ АБВ абв 第一水準と第二水準：亜唖娃阿哀愛挨姶逢葵茜穐悪握渥旭葦芦鯵梓圧斡扱宛姐虻飴絢綾鮎或粟袷安庵按暗案闇鞍杏以伊位依偉囲夷委威尉惟意慰易椅為畏異移維緯胃萎衣謂違遺医井亥域育郁磯一壱溢逸稲茨芋鰯允印咽員因姻引飲淫胤蔭院陰隠韻吋",
    "09-row-edges": "凜熙堯槇遙瑤",
}

def write(name, header_value, text):
    with open(name + ".hdr", "wb") as f:
        f.write(header_value.encode("ascii"))
    sjis = subprocess.run(["iconv", "-f", "UTF-8", "-t", "SHIFT_JIS"], input=text.encode("utf-8"),
                          capture_output=True, check=True).stdout
    with open(name + ".sjis", "wb") as f:
        f.write(sjis)

for name, text in SUBJECTS.items():
    write("header-words/" + name, Header(text, charset="iso-2022-jp").encode(), text)

# Plain text before an encoded word, and CR LF folding.
h = Header("Fwd:", "us-ascii")
h.append("日本語の件名", "iso-2022-jp")
write("header-words/10-ascii-then-word", h.encode(), "Fwd: 日本語の件名")
write("header-words/11-crlf-folding", Header("改行の折り返しを含む長い件名です。" * 4, charset="iso-2022-jp").encode(linesep="\r\n"),
      "改行の折り返しを含む長い件名です。" * 4)
