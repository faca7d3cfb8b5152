#include "tools/ModernMail.h"

#include "jconv/Jconvert.h"
#include "mime/Charset.h"

#include <cctype>

namespace demo {

namespace {

const std::string CrLf = "\r\n";

std::string Utf8(const char* sjis) { return mime::SjisToUtf8(sjis); }

std::string JoinedLines(const std::vector<std::string>& lines, const std::string& end)
{
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i)
        out += lines[i] + (i + 1 < lines.size() ? end : "");
    return out;
}

std::string BWord(const std::string& utf8) { return "=?UTF-8?B?" + Jconvert::EncodeBase64(utf8) + "?="; }

std::string QWord(const std::string& utf8)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "=?utf-8?q?";
    for (unsigned char c : utf8) {
        if (c == ' ')
            out += '_';
        else if (c >= 0x80 || c == '=' || c == '?' || c == '_' || c < 0x20)
            out += {'=', hex[c >> 4], hex[c & 15]};
        else
            out += static_cast<char>(c);
    }
    return out + "?=";
}

// Quoted-printable lines of at most 76 characters, long lines broken with soft line breaks.
std::string QuotedPrintable(const std::vector<std::string>& lines)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const std::string& line : lines) {
        std::size_t width = 0;
        for (unsigned char c : line) {
            const std::string piece = c >= 0x80 || c == '=' ? std::string{'=', hex[c >> 4], hex[c & 15]} : std::string(1, static_cast<char>(c));
            if (width + piece.size() > 75) {
                out += "=" + CrLf;
                width = 0;
            }
            out += piece;
            width += piece.size();
        }
        out += CrLf;
    }
    return out;
}

std::string Percent(const std::string& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes)
        out += std::isalnum(c) || c == '.' || c == '-' || c == '_' ? std::string(1, static_cast<char>(c)) : std::string{'%', hex[c >> 4], hex[c & 15]};
    return out;
}

std::string TextContent(const std::string& encoding, const std::string& body)
{
    return "Content-Type: text/plain; charset=UTF-8" + CrLf + "Content-Transfer-Encoding: " + encoding + CrLf + CrLf + body;
}

ModernMail Utf8Subject()
{
    const std::string subject = "\xf0\x9f\x8e\x89 " + Utf8("\x8ft\x82\xcc\x90V\x83\x81\x83j\x83\x85\x81[" /* sjis: 春の新メニュー */) +
                                " \xe2\x80\x94 Cr\xc3\xa8me br\xc3\xbbl\xc3\xa9" "e & " /* utf-8: 🎉 … — Crème brûlée & */ +
                                Utf8("\x96\x95\x92\x83\x83\x89\x83" "e" /* sjis: 抹茶ラテ */);
    const std::vector<std::string> text = {
        "Bonjour / " + Utf8("\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\x81" "A" /* sjis: こんにちは、 */), "",
        Utf8("\x8ft\x82\xcc\x90V\x83\x81\x83j\x83\x85\x81[\x82\xaa\x82\xc5\x82\xab\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: 春の新メニューができました。 */),
        Utf8("\x81" "E\x96\x95\x92\x83\x82\xcc\x83N\x83\x8c\x81[\x83\x80\x83u\x83\x8a\x83\x85\x83\x8c" /* sjis: ・抹茶のクレームブリュレ */) + " (cr\xc3\xa8me br\xc3\xbbl\xc3\xa9" "e au th\xc3\xa9 vert)",
        Utf8("\x81" "E\x83" "A\x83" "C\x83X\x83J\x83t\x83" "F\x83I\x83\x8c" /* sjis: ・アイスカフェオレ */) + " (caf\xc3\xa9 au lait glac\xc3\xa9)",
        Utf8("\x82\xb2\x97\x88\x93X\x82\xf0\x82\xa8\x91\xd2\x82\xbf\x82\xb5\x82\xc4\x82\xa8\x82\xe8\x82\xdc\x82\xb7" /* sjis: ご来店をお待ちしております */) + " \xe2\x98\x95" /* utf-8: ☕ */,
        "", "Caf\xc3\xa9 Lumi\xc3\xa8re"};
    ModernMail m;
    m.ShownSender = "Caf\xc3\xa9 Lumi\xc3\xa8re <news@cafe-lumiere.example.fr>";
    m.From = BWord("Caf\xc3\xa9 Lumi\xc3\xa8re") + " <news@cafe-lumiere.example.fr>";
    m.ShownSubject = subject;
    m.Subject = BWord(subject);
    m.Content = TextContent("base64", Jconvert::EncodeBase64R(JoinedLines(text, CrLf) + CrLf, CrLf) + CrLf);
    m.ShownText = JoinedLines(text, "\n");
    return m;
}

ModernMail QuotedSubject()
{
    const std::string subject = "R\xc3\xa9servation confirm\xc3\xa9" "e \xe2\x80\x93 H\xc3\xb4tel Z\xc3\xbcrich, 12\xe2\x80\x93" "14 avril";
    const std::vector<std::string> text = {
        "Bonjour,", "", "Votre r\xc3\xa9servation est confirm\xc3\xa9" "e : chambre double, 2 nuits, petit-d\xc3\xa9jeuner inclus.",
        "Arriv\xc3\xa9" "e \xc3\xa0 partir de 15 h \xe2\x80\x94 \xc3\xa0 bient\xc3\xb4t !", "", "Jos\xc3\xa9 Garc\xc3\xad" "a"};
    ModernMail m;
    m.ShownSender = "Jos\xc3\xa9 Garc\xc3\xad" "a <jose@hotel-zurich.example.ch>";
    m.From = QWord("Jos\xc3\xa9 Garc\xc3\xad" "a") + " <jose@hotel-zurich.example.ch>";
    m.ShownSubject = subject;
    m.Subject = QWord(subject);
    m.Content = TextContent("8bit", JoinedLines(text, CrLf) + CrLf);
    m.ShownText = JoinedLines(text, "\n");
    return m;
}

// Senders cut long subjects into words by bytes; here the cuts fall inside characters.
ModernMail SplitSubject()
{
    const std::string subject = Utf8("\x81y\x82\xb2\x88\xc4\x93\xe0\x81z\x90V\x82\xb5\x82\xa2\x83I\x83\x93\x83\x89\x83" "C\x83\x93\x89\xef\x8b" "c\x83V\x83X\x83" "e\x83\x80\x82\xd6\x82\xcc\x88\xda\x8ds\x82\xc9\x82\xc2\x82\xa2\x82\xc4\x81i\x8el\x8c\x8e\x88\xea\x93\xfa\x82\xa9\x82\xe7\x81j" /* sjis: 【ご案内】新しいオンライン会議システムへの移行について（四月一日から） */);
    const std::vector<std::string> text = {
        Utf8("\x8el\x8c\x8e\x88\xea\x93\xfa\x82\xa9\x82\xe7\x81" "A\x89\xef\x8b" "c\x82\xc9\x82\xcd\x90V\x82\xb5\x82\xa2\x83V\x83X\x83" "e\x83\x80\x82\xf0\x82\xa8\x8eg\x82\xa2\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "B" /* sjis: 四月一日から、会議には新しいシステムをお使いください。 */),
        Utf8("\x90\xda\x91\xb1\x90\xe6\x82\xc6\x8e\xe8\x8f\x87\x82\xcd\x8e\xd0\x93\xe0\x83|\x81[\x83^\x83\x8b\x82\xc9\x8c" "f\x8d\xda\x82\xb5\x82\xc4\x82\xa2\x82\xdc\x82\xb7\x81" "B" /* sjis: 接続先と手順は社内ポータルに掲載しています。 */),
        "", Utf8("\x83I\x83\x93\x83\x89\x83" "C\x83\x93\x89\xef\x8b" "c\x8e\x96\x96\xb1\x8b\xc7" /* sjis: オンライン会議事務局 */)};
    ModernMail m;
    const std::string team = Utf8("\x83I\x83\x93\x83\x89\x83" "C\x83\x93\x89\xef\x8b" "c\x8e\x96\x96\xb1\x8b\xc7" /* sjis: オンライン会議事務局 */);
    m.ShownSender = team + " <meeting@example.co.jp>";
    m.From = BWord(team) + " <meeting@example.co.jp>";
    m.ShownSubject = subject;
    std::vector<std::string> words;
    for (std::size_t at = 0; at < subject.size(); at += 40)
        words.push_back(BWord(subject.substr(at, 40)));
    m.Subject = JoinedLines(words, CrLf + " ");
    m.Content = TextContent("base64", Jconvert::EncodeBase64R(JoinedLines(text, CrLf) + CrLf, CrLf) + CrLf);
    m.ShownText = JoinedLines(text, "\n");
    return m;
}

ModernMail QuotedPrintableBody()
{
    const std::string subject = Utf8("\x97\xb7\x8ds\x82\xcc\x8e\xca\x90^\x82\xf0\x8b\xa4\x97L\x82\xb5\x82\xdc\x82\xb5\x82\xbd" /* sjis: 旅行の写真を共有しました */) + " \xf0\x9f\x93\xb7" /* utf-8: 📷 */;
    const std::vector<std::string> text = {
        "\xe4\xbd\xa0\xe5\xa5\xbd\xef\xbc\x81\xe8\xbf\x99\xe6\x98\xaf\xe4\xb8\x8a\xe6\xb5\xb7\xe7\x9a\x84\xe7\x85\xa7\xe7\x89\x87\xe3\x80\x82" /* utf-8: 你好！这是上海的照片。 */,
        Utf8("\x8f\xe3\x8a" "C\x82\xc6\x8b\x9e\x93s\x82\xcc\x8e\xca\x90^\x82\xc5\x82\xb7\x81" "B\x83" "A\x83\x8b\x83o\x83\x80\x82\xcc\x83\x8a\x83\x93\x83N\x82\xcd\x89\xba\x82\xc9\x82\xa0\x82\xe8\x82\xdc\x82\xb7\x81" "B" /* sjis: 上海と京都の写真です。アルバムのリンクは下にあります。 */) + " \xf0\x9f\x8c\xb8" /* utf-8: 🌸 */,
        "https://photos.example.net/album/2024-spring?view=grid&lang=ja", "", "Li Wei (\xe6\x9d\x8e\xe4\xbc\x9f)" /* utf-8: 李伟 */};
    ModernMail m;
    m.ShownSender = m.From = "Li Wei <liwei@example.cn>";
    m.ShownSubject = subject;
    m.Subject = BWord(subject);
    m.Content = TextContent("quoted-printable", QuotedPrintable(text));
    m.ShownText = JoinedLines(text, "\n");
    return m;
}

ModernMail HtmlOnly()
{
    const std::string picks = Utf8("\x8d\xa1\x8fT\x82\xcc\x82\xa8\x82\xb7\x82\xb7\x82\xdf" /* sjis: 今週のおすすめ */);
    const std::string basics = Utf8("\x95\xb6\x8e\x9a\x83R\x81[\x83h\x82\xcc\x8a\xee\x91" "b" /* sjis: 文字コードの基礎 */);
    const std::vector<std::string> html = {
        "<!DOCTYPE html>", "<html><head><meta charset=\"utf-8\"><title>Tech Weekly</title>",
        "<style>body { font-family: sans-serif; } h1 { color: #336; }</style></head>", "<body>",
        "<h1>Tech Weekly #42</h1>", "<p>This week&rsquo;s picks &mdash; " + picks + ":</p>",
        "<ul><li><a href=\"https://example.com/rust\">Rust 2024 edition</a></li>", "<li>Qt 6 &amp; Unicode \xf0\x9f\x9a\x80</li>",
        "<li>" + basics + "</li></ul>", "<p>Thanks for reading!<br>Tech Weekly</p>",
        "<script>track('open');</script>", "</body></html>"};
    ModernMail m;
    m.ShownSender = m.From = "Tech Weekly <newsletter@techweekly.example.com>";
    m.ShownSubject = "Tech Weekly #42: Rust, Qt 6 & Unicode \xf0\x9f\x9a\x80" /* utf-8: 🚀 */;
    m.Subject = QWord(m.ShownSubject);
    m.Content = "Content-Type: text/html; charset=UTF-8" + CrLf + "Content-Transfer-Encoding: quoted-printable" + CrLf + CrLf + QuotedPrintable(html);
    m.ShownText = "Tech Weekly #42\n\nThis week\xe2\x80\x99s picks \xe2\x80\x94 " + picks + ":\n\nRust 2024 edition\nQt 6 & Unicode \xf0\x9f\x9a\x80\n" +
                  basics + "\n\nThanks for reading!\nTech Weekly";
    return m;
}

// The name only in RFC 2231 form, in two sections: no quoted name for older readers.
ModernMail NamedAttachment()
{
    const std::string name = Utf8("\x8c\xe4\x8c\xa9\x90\xcf\x8f\x91_2024\x94N4\x8c\x8e_\x8a\x94\x8e\xae\x89\xef\x8e\xd0\x82\xb3\x82\xad\x82\xe7.pdf" /* sjis: 御見積書_2024年4月_株式会社さくら.pdf */);
    const std::string sender = Utf8("\x8a\x94\x8e\xae\x89\xef\x8e\xd0\x82\xb3\x82\xad\x82\xe7\x8f\xa4\x8e\x96\x81@\x89" "c\x8b\xc6\x95\x94" /* sjis: 株式会社さくら商事　営業部 */);
    const std::vector<std::string> text = {
        Utf8("\x82\xa8\x8c\xa9\x90\xcf\x8f\x91\x82\xf0\x82\xa8\x91\x97\x82\xe8\x82\xb5\x82\xdc\x82\xb7\x81" "B\x82\xb2\x8d\xb8\x8e\xfb\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "B" /* sjis: お見積書をお送りします。ご査収ください。 */),
        "", sender};
    const std::string pdf = "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n";
    const std::string encoded = Percent(name);
    std::size_t cut = 45;  // the sections may part a character's bytes, never a "%XX"
    while (encoded[cut - 1] == '%' || encoded[cut - 2] == '%')
        --cut;
    const std::string boundary = "sakura-quote-boundary";
    ModernMail m;
    m.ShownSender = sender + " <sales@sakura-trading.example.jp>";
    m.From = BWord(sender) + " <sales@sakura-trading.example.jp>";
    m.ShownSubject = Utf8("\x82\xa8\x8c\xa9\x90\xcf\x8f\x91\x91\x97\x95t\x82\xcc\x8c\x8f" /* sjis: お見積書送付の件 */);
    m.Subject = BWord(m.ShownSubject);
    m.Content = "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"" + CrLf + CrLf + "--" + boundary + CrLf +
                TextContent("quoted-printable", QuotedPrintable(text)) + CrLf + "--" + boundary + CrLf +
                "Content-Type: application/pdf" + CrLf + "Content-Transfer-Encoding: base64" + CrLf +
                "Content-Disposition: attachment;" + CrLf + " filename*0*=UTF-8''" + encoded.substr(0, cut) + ";" + CrLf +
                " filename*1*=" + encoded.substr(cut) + CrLf + CrLf + Jconvert::EncodeBase64R(pdf, CrLf) + CrLf + CrLf +
                "--" + boundary + "--" + CrLf;
    m.ShownText = JoinedLines(text, "\n") + "\n\nFile \"" + name + "\" extracted";
    m.Attachments.push_back({name, pdf, false});
    return m;
}

}  // namespace

ModernMail MakeModernMail(Form form)
{
    switch (form) {
    case Form::Utf8Subject: return Utf8Subject();
    case Form::QuotedSubject: return QuotedSubject();
    case Form::SplitSubject: return SplitSubject();
    case Form::QuotedPrintable: return QuotedPrintableBody();
    case Form::HtmlOnly: return HtmlOnly();
    case Form::NamedAttachment: return NamedAttachment();
    default: return {};
    }
}

}  // namespace demo
