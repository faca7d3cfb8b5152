#!/usr/bin/env python3
"""Writes header values and messages with Python's email package and reads them back with its
modern parser (email.policy.default); prints one case a line: kind, raw bytes, expected text,
both in hex. The C++ test gives each raw value to mime and compares."""
import email
import email.policy
from email.charset import BASE64, QP, Charset
from email.header import Header
from email.message import EmailMessage

JAPANESE = ["会議のお知らせ：来週月曜日１０時から〜第二会議室", "ｶﾀｶﾅも全角カタカナも、漢字も。①②Ⅲ"]
TEXTS = {
    "utf-8": ["Grüße aus Köln — 🎉 and 会議の件", "Ünïcödé façade naïve résumé Ωμέγα Привет 中文 한국어 😀"],
    "iso-2022-jp": JAPANESE[:1], "shift_jis": JAPANESE[:1], "euc-jp": JAPANESE[:1],
    "iso-8859-1": ["Café crème, déjà vu à Zürich"], "gb2312": ["中文邮件测试，欢迎使用"],
    "big5": ["繁體中文郵件測試，歡迎"], "koi8-r": ["Привет, мир! Проверка почты"],
}
LONG = {
    "utf-8": "Ein sehr langer Betreff mit Umlauten äöü und Emoji 🎉, der über mehrere Zeilen gefaltet und in Wörter geteilt wird",
    "iso-2022-jp": "【重要】システムメンテナンスのお知らせ：四月二十日土曜日の午前二時から午前六時まで全てのサービスが停止します",
    "gb2312": "这是一个很长的中文邮件主题，用来测试折叠和分割成多个编码字的情况，谢谢大家的配合",
}
CRLF = email.policy.default.clone(linesep="\r\n")


def charset(name, encoding):
    c = Charset(name)
    c.header_encoding = encoding
    c.input_charset = c.output_charset = name
    c.output_codec = c.input_codec
    return c


def header(text, name, encoding, maxlen=76):
    c = charset(name, encoding)
    value = Header(text, c, maxlinelen=maxlen, header_name="Subject").encode(linesep="\r\n")
    # Header labels some words with Python's codec name ("eucgb2312_cn"); mail carries the charset's.
    return value.replace("=?%s?" % c.output_codec, "=?%s?" % name)


def read_subject(value):
    m = email.message_from_bytes(b"Subject: " + value.encode() + b"\r\n\r\n", policy=email.policy.default)
    return str(m["Subject"])


def emit(kind, raw, expected):
    print(kind, raw.hex(), expected.encode("utf-8").hex())


def headers():
    for name, texts in TEXTS.items():
        for text in texts:
            for encoding in (BASE64, QP):
                value = header(text, name, encoding)
                emit("H", value.encode(), read_subject(value))
    for name, text in LONG.items():
        for encoding in (BASE64, QP):
            value = header(text, name, encoding, maxlen=60)
            assert "\r\n " in value
            emit("H", value.encode(), read_subject(value))
    # Words next to plain text, and a UTF-8 value sent raw (RFC 6532).
    value = "Re: " + header("会議の件", "utf-8", BASE64) + " (2) " + header("Köln", "iso-8859-1", QP)
    emit("H", value.encode(), read_subject(value))
    emit("H", "Re: Grüße 会議".encode(), "Re: Grüße 会議")


def body_text(msg):
    part = msg.get_body(preferencelist=("plain",))
    # The content with its lines joined by "\n" (a Base64 body keeps the CR LF it was encoded with).
    text = part.get_content().replace("\r\n", "\n").rstrip("\n") if part is not None else ""
    for a in msg.iter_attachments():
        text += '\n\nFile "%s" extracted' % a.get_filename()
    return text


def message(text, name, cte, attachments=(), alternative=None):
    m = EmailMessage(policy=CRLF)
    m["From"] = "Sender <sender@example.com>"
    m.set_content(text + "\nsecond line\n", charset=name, cte=cte)
    if alternative:
        m.add_alternative(alternative, subtype="html")
    for filename, data in attachments:
        m.add_attachment(data, maintype="application", subtype="octet-stream", filename=filename)
    raw = b"Subject: " + header(text, name, BASE64).encode() + b"\r\n" + m.as_bytes()
    back = email.message_from_bytes(raw, policy=email.policy.default)
    emit("M", raw, body_text(back))


def messages():
    for name, texts in TEXTS.items():
        ctes = ["base64", "quoted-printable"] + (["7bit"] if name == "iso-2022-jp" else ["8bit"])
        for cte in ctes:
            message(texts[0], name, cte)
    files = [("報告書.pdf", b"%PDF-1.4"), ("Überblick über das Jahr zwei­tausend­vierundzwanzig, sehr ausführlich.txt", b"x" * 40)]
    message(JAPANESE[0], "iso-2022-jp", "7bit", files)
    message("Plain and rich", "utf-8", "quoted-printable", files[:1], alternative="<p>Plain <b>and</b> rich</p>")


headers()
messages()
