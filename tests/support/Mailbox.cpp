#include "tests/support/Mailbox.h"

#include <cerrno>
#include <iconv.h>
#include <random>
#include <stdexcept>

#include "runtime/SysUtils.h"

namespace mailbox {

const char* const SampleSubject = "\x89\xef\x8b" "c\x82\xcc\x82\xa8\x92m\x82\xe7\x82\xb9" /* sjis: 会議のお知らせ */;
const char* const SampleSender = "\x8eR\x93" "c\x91\xbe\x98Y" /* sjis: 山田太郎 */;
const char* const SampleLongSubject =
    "\x92\xb7\x82\xa2\x8c\x8f\x96\xbc\x82\xcc\x90\xdc\x82\xe8\x95\xd4\x82\xb5\x82\xf0\x8am\x82\xa9\x82\xdf\x82\xe9\x82\xbd\x82\xdf\x82\xcc\x82\xc6\x82\xc4\x82\xe0\x92\xb7\x82\xa2\x82\xa8\x92m\x82\xe7\x82\xb9\x82\xc5\x82\xb7" /* sjis: 長い件名の折り返しを確かめるためのとても長いお知らせです */;

namespace {
const char* const BodyLine1 =
    "\x96{\x93\xfa\x82\xcc\x89\xef\x8b" "c\x82\xcd\x8c\xdf\x8c\xe3\x8eO\x8e\x9e\x82\xa9\x82\xe7\x91\xe6\x93\xf1\x89\xef\x8b" "c\x8e\xba\x82\xc5\x8ds\x82\xa2\x82\xdc\x82\xb7\x81" "B" /* sjis: 本日の会議は午後三時から第二会議室で行います。 */;
const char* const BodyLine2 =
    "\x8e\x91\x97\xbf\x82\xf0\x93Y\x95t\x82\xb5\x82\xdc\x82\xb7\x82\xcc\x82\xc5\x82\xb2\x8am\x94" "F\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "B" /* sjis: 資料を添付しますのでご確認ください。 */;
const char* const BodyLine3 =
    "\x82\xe6\x82\xeb\x82\xb5\x82\xad\x82\xa8\x8a\xe8\x82\xa2\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: よろしくお願いします。 */;
const char* const BulkSubjectHead = "\x82\xa8\x92m\x82\xe7\x82\xb9 \x91\xe6" /* sjis: お知らせ 第 */;
const char* const BulkSubjectTail = "\x8d\x86" /* sjis: 号 */;
const char* const SecondSender = "\x97\xe9\x96\xd8\x89\xd4\x8eq" /* sjis: 鈴木花子 */;

std::string Convert(const std::string& text, const char* to, const char* from)
{
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    std::string out(text.size() * 3 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* o = out.data();
    size_t outLeft = out.size();
    // The input pass, then the flush that returns to the initial (ASCII) state.
    const bool ok = ::iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<size_t>(-1) &&
                    ::iconv(cd, nullptr, nullptr, &o, &outLeft) != static_cast<size_t>(-1);
    ::iconv_close(cd);
    if (!ok)
        throw std::runtime_error(std::string("test text not convertible from ") + from + " to " + to);
    out.resize(out.size() - outLeft);
    return out;
}

std::string CrLf(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    if (!out.empty() && out.back() != '\n')
        out += "\r\n";
    return out;
}

// Splits Shift-JIS text into pieces of at most n characters, never inside a character.
std::vector<std::string> SjisPieces(const std::string& sjis, size_t n)
{
    std::vector<std::string> pieces;
    std::string cur;
    size_t chars = 0;
    for (size_t i = 0; i < sjis.size();) {
        const size_t len = IsSjisLeadByte(static_cast<unsigned char>(sjis[i])) && i + 1 < sjis.size() ? 2 : 1;
        if (chars == n) {
            pieces.push_back(cur);
            cur.clear();
            chars = 0;
        }
        cur.append(sjis, i, len);
        ++chars;
        i += len;
    }
    if (!cur.empty())
        pieces.push_back(cur);
    return pieces;
}

unsigned g_boundaryCount = 0;
}

std::string SjisToJis(const std::string& sjis)
{
    return Convert(sjis, "ISO-2022-JP", "CP932");
}

std::string ToSjis(const std::string& text, const char* fromCharset)
{
    return Convert(text, "CP932", fromCharset);
}

std::string Base64(const std::string& bytes)
{
    static const char* const abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        unsigned v = 0;
        for (size_t k = 0; k < 3; ++k)
            v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            out += k <= n ? abc[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

std::string Base64Lines(const std::string& bytes, size_t perLine)
{
    const std::string all = Base64(bytes);
    std::string out;
    for (size_t i = 0; i < all.size(); i += perLine)
        out += all.substr(i, perLine) + "\r\n";
    return out;
}

std::string Uuencode(const std::string& bytes, const std::string& name, bool framed)
{
    auto enc = [](unsigned v) { return static_cast<char>(v == 0 ? '`' : v + 32); };
    std::string out = framed ? "begin 644 " + name + "\r\n" : "";
    for (size_t i = 0; i < bytes.size(); i += 45) {
        const size_t n = std::min<size_t>(45, bytes.size() - i);
        out += enc(static_cast<unsigned>(n));
        for (size_t j = 0; j < n; j += 3) {
            unsigned v = 0;
            for (size_t k = 0; k < 3; ++k)
                v = v << 8 | (j + k < n ? static_cast<unsigned char>(bytes[i + j + k]) : 0u);
            for (size_t k = 0; k < 4; ++k)
                out += enc((v >> (18 - 6 * k)) & 63);
        }
        out += "\r\n";
    }
    out += "`\r\n";
    if (framed)
        out += "end\r\n";
    return out;
}

std::string EncodedWord(const std::string& sjis)
{
    return "=?ISO-2022-JP?B?" + Base64(SjisToJis(sjis)) + "?=";
}

std::string FoldedEncodedWords(const std::string& sjis, size_t charsPerWord)
{
    std::string out;
    for (const std::string& piece : SjisPieces(sjis, charsPerWord))
        out += (out.empty() ? "" : "\r\n ") + EncodedWord(piece);
    return out;
}

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

MailBuilder::MailBuilder()
    : FFrom("sender@example.com"),
      FTo("alice@example.com"),
      FSubject("Test message"),
      FMessageId("<" + std::to_string(++g_boundaryCount) + ".purgel@example.com>"),
      FDate("Mon, 1 Jul 2024 09:30:00 +0900"),
      FBoundary("----=_Purgel_Part_" + std::to_string(g_boundaryCount) + "_0123456789")
{
}

MailBuilder& MailBuilder::From(std::string rawValue) { FFrom = std::move(rawValue); return *this; }
MailBuilder& MailBuilder::To(std::string rawValue) { FTo = std::move(rawValue); return *this; }
MailBuilder& MailBuilder::Subject(std::string rawValue) { FSubject = std::move(rawValue); return *this; }
MailBuilder& MailBuilder::MessageId(std::string rawValue) { FMessageId = std::move(rawValue); return *this; }
MailBuilder& MailBuilder::Date(std::string rawValue) { FDate = std::move(rawValue); return *this; }
MailBuilder& MailBuilder::Header(std::string line) { FHeaders.push_back(std::move(line)); return *this; }

MailBuilder& MailBuilder::JapaneseFrom(const std::string& sjisName, const std::string& address)
{
    FFrom = EncodedWord(sjisName) + " <" + address + ">";
    return *this;
}

MailBuilder& MailBuilder::JapaneseSubject(const std::string& sjis)
{
    FSubject = EncodedWord(sjis);
    return *this;
}

MailBuilder& MailBuilder::FoldedJapaneseSubject(const std::string& sjis, size_t charsPerWord)
{
    FSubject = FoldedEncodedWords(sjis, charsPerWord);
    return *this;
}

MailBuilder& MailBuilder::Text(const std::string& ascii)
{
    FText = CrLf(ascii);
    FJapanese = false;
    return *this;
}

MailBuilder& MailBuilder::JapaneseText(const std::string& sjis)
{
    // Line by line, so every line returns to ASCII before its end.
    FText.clear();
    size_t start = 0;
    const std::string text = CrLf(sjis);
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        FText += SjisToJis(text.substr(start, end - start)) + "\r\n";
        start = end + 2;
    }
    FJapanese = true;
    return *this;
}

MailBuilder& MailBuilder::Attach(Attachment a)
{
    FAttachments.push_back(std::move(a));
    return *this;
}

std::string MailBuilder::Build() const
{
    std::string m = "Return-Path: <sender@example.com>\r\n";
    m += "Date: " + FDate + "\r\n";
    m += "From: " + FFrom + "\r\n";
    m += "To: " + FTo + "\r\n";
    m += "Subject: " + FSubject + "\r\n";
    m += "Message-ID: " + FMessageId + "\r\n";
    for (const std::string& h : FHeaders)
        m += h + "\r\n";
    m += "MIME-Version: 1.0\r\n";
    const std::string textType = FJapanese ? "text/plain; charset=ISO-2022-JP" : "text/plain; charset=us-ascii";
    const std::string textEncoding = "Content-Transfer-Encoding: 7bit\r\n";
    if (FAttachments.empty()) {
        m += "Content-Type: " + textType + "\r\n" + textEncoding + "\r\n" + FText;
        return m;
    }
    // The boundary parameter on a continuation line, as many mailers write it.
    m += "Content-Type: multipart/mixed;\r\n\tboundary=\"" + FBoundary + "\"\r\n\r\n";
    m += "This is a multi-part message in MIME format.\r\n\r\n";
    m += "--" + FBoundary + "\r\n";
    m += "Content-Type: " + textType + "\r\n" + textEncoding + "\r\n" + FText + "\r\n";
    for (const Attachment& a : FAttachments) {
        m += "--" + FBoundary + "\r\n";
        m += "Content-Type: " + a.ContentType + ";\r\n name=\"" + a.Name + "\"\r\n";
        switch (a.Encoding) {
        case Attachment::AsBase64:
            m += "Content-Transfer-Encoding: base64\r\n";
            break;
        case Attachment::AsUuencode:
            m += "Content-Transfer-Encoding: x-uuencode\r\n";
            break;
        case Attachment::AsPlain:
            m += "Content-Transfer-Encoding: 7bit\r\n";
            break;
        }
        m += "Content-Disposition: attachment;\r\n filename=\"" + a.Name + "\"\r\n\r\n";
        switch (a.Encoding) {
        case Attachment::AsBase64: m += Base64Lines(a.Bytes); break;
        case Attachment::AsUuencode: m += Uuencode(a.Bytes, a.Name, a.UuFramed); break;
        case Attachment::AsPlain: m += CrLf(a.Bytes); break;
        }
        m += "\r\n";
    }
    m += "--" + FBoundary + "--\r\n";
    return m;
}

std::string PlainMail(int n)
{
    const std::string num = std::to_string(n);
    return MailBuilder()
        .From("Plain Sender <plain" + num + "@example.com>")
        .Subject("Plain message " + num)
        .MessageId("<plain." + num + "@example.com>")
        .Text("This is plain message " + num + ".\nIt has two lines.\n")
        .Build();
}

std::string JapaneseMail(const std::string& sjisSubject, const std::string& sjisSender, const std::string& address)
{
    return MailBuilder()
        .JapaneseFrom(sjisSender, address)
        .JapaneseSubject(sjisSubject)
        .JapaneseText(std::string(BodyLine1) + "\n" + BodyLine3 + "\n")
        .Build();
}

MultipartSample MultipartMail(size_t base64Size, size_t uuSize, unsigned seed)
{
    MultipartSample s;
    s.Base64Part = {"report.bin", RandomBytes(base64Size, seed), Attachment::AsBase64};
    s.UuencodedPart = {"archive.dat", RandomBytes(uuSize, seed + 1), Attachment::AsUuencode};
    MailBuilder b;
    b.JapaneseFrom(SampleSender, "taro@example.jp")
        .JapaneseSubject(SampleSubject)
        .JapaneseText(std::string(BodyLine1) + "\n" + BodyLine2 + "\n")
        .Attach(s.Base64Part)
        .Attach(s.UuencodedPart);
    s.Raw = b.Build();
    s.Boundary = b.Boundary();
    s.Text = SjisToJis(BodyLine1) + "\r\n" + SjisToJis(BodyLine2) + "\r\n";
    return s;
}

std::string MailWithAttachmentNamed(const std::string& name, const std::string& bytes)
{
    return MailBuilder()
        .Subject("Attachment named " + name)
        .Text("See the attachment.\n")
        .Attach({name, bytes, Attachment::AsBase64})
        .Build();
}

std::string ManyPartsMail(int parts)
{
    const std::string delimiter = std::string("--") + ManyPartsBoundary + "\r\n";
    std::string raw = std::string("Subject: many parts\r\nContent-Type: multipart/mixed; boundary=\"") + ManyPartsBoundary +
                      "\"\r\n\r\n" + delimiter + "Content-Type: text/plain\r\n\r\nthe text\r\n";
    for (int i = 1; i <= parts; ++i)
        raw += delimiter + "Content-Type: text/plain\r\n\r\npart " + std::to_string(i) + "\r\n";
    return raw + "--" + ManyPartsBoundary + "--\r\n";
}

std::vector<std::string> BulkMailbox(int count, unsigned seed)
{
    std::mt19937 gen(seed);
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(count));
    const char* const sjisLines[] = {BodyLine1, BodyLine2, BodyLine3};
    size_t jisSizes[3];
    for (size_t k = 0; k < 3; ++k)
        jisSizes[k] = SjisToJis(sjisLines[k]).size() + 2;
    for (int i = 1; i <= count; ++i) {
        const std::string num = std::to_string(i);
        const bool japanese = gen() % 3 != 0;
        MailBuilder b;
        b.MessageId("<bulk." + num + "." + std::to_string(seed) + "@example.com>");
        for (int r = 0; r < 3; ++r)
            b.Header("Received: from relay" + std::to_string(r) + ".example.net (relay" + std::to_string(r) +
                     ".example.net [192.0.2." + std::to_string(10 + r) + "])\r\n\tby mx.example.com with ESMTP id " +
                     std::to_string(gen() % 1000000) + ";\r\n\tMon, 1 Jul 2024 09:3" + std::to_string(r) +
                     ":00 +0900");
        if (japanese) {
            b.JapaneseSubject(std::string(BulkSubjectHead) + num + BulkSubjectTail);
            b.JapaneseFrom(i % 2 ? SampleSender : SecondSender, "user" + num + "@example.jp");
            b.JapaneseText("x");
        } else {
            b.Subject("Bulk message " + num);
            b.From("Bulk Sender <bulk" + num + "@example.com>");
            b.Text("x");
        }
        // Lines of at most 80 bytes are added while they fit below a size of 2148 to 4095.
        const size_t headerSize = b.Build().size() - 3;
        const size_t target = 2048 + 100 + gen() % (4096 - 2048 - 100);
        std::string body;
        size_t bodySize = 0;
        for (size_t k = 0; headerSize + bodySize + 80 < target; ++k) {
            if (japanese) {
                body += std::string(sjisLines[k % 3]) + "\n";
                bodySize += jisSizes[k % 3];
            } else {
                const std::string line = "Line " + std::to_string(k) + " of bulk message " + num +
                                         ": the quick brown fox jumps over the lazy dog.\r\n";
                body += line;
                bodySize += line.size();
            }
        }
        if (japanese)
            b.JapaneseText(body);
        else
            b.Text(body);
        out.push_back(b.Build());
    }
    return out;
}

}  // namespace mailbox
