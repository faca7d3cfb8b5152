// The generated demo mailbox: what it holds, and that every encoded text decodes with the
// program's own converters back to the Shift-JIS text it was made from.

#include "jconv/Jconvert.h"
#include "mime/Charset.h"
#include "mime/Entity.h"
#include "mime/MailText.h"
#include "tools/DemoMailbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

using demo::BodyCode;
using demo::DemoMessage;
using demo::Form;

namespace {

const std::vector<DemoMessage>& Mailbox()
{
    static const std::vector<DemoMessage> mailbox = demo::GenerateMailbox(1);
    return mailbox;
}

std::string HeaderOf(const std::string& raw) { return raw.substr(0, raw.find("\r\n\r\n") + 2); }
std::string BodyOf(const std::string& raw) { return raw.substr(raw.find("\r\n\r\n") + 4); }

// The value of the first header line of that name (not unfolded), "" when there is none.
std::string Field(const std::string& header, const std::string& name)
{
    const std::string key = "\r\n" + name + ": ";
    const std::size_t at = ("\r\n" + header).find(key);
    if (at == std::string::npos)
        return "";
    const std::size_t start = at + key.size() - 2;
    return header.substr(start, header.find("\r\n", start) - start);
}

std::string Decoded(const std::string& value)
{
    return Jconvert::ConvertJCode(Jconvert::DecodeHeaderString(value), Jconvert::JCODE_SJIS);
}

bool SevenBit(const std::string& s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

struct Part {
    std::string Header, Body;
};

// The parts of a multipart message between its delimiter lines.
std::vector<Part> Parts(const std::string& raw)
{
    const std::string type = Field(HeaderOf(raw), "Content-Type");
    const std::size_t b = type.find("boundary=\"");
    if (b == std::string::npos)
        return {};
    const std::string boundary = type.substr(b + 10, type.find('"', b + 10) - b - 10);
    const std::string delimiter = "\r\n--" + boundary;
    std::vector<Part> parts;
    const std::string body = "\r\n" + BodyOf(raw);
    std::size_t at = body.find(delimiter);
    while (at != std::string::npos && body.compare(at + delimiter.size(), 2, "--") != 0) {
        const std::size_t start = body.find("\r\n", at + delimiter.size()) + 2;
        const std::size_t next = body.find(delimiter, start);
        const std::string part = body.substr(start, next - start);
        parts.push_back({HeaderOf(part), BodyOf(part)});
        at = next;
    }
    return parts;
}

std::string ToSjis(const std::string& body, BodyCode code)
{
    switch (code) {
    case BodyCode::Jis:
        return Jconvert::jis2sjis(body);
    case BodyCode::Euc:
        return Jconvert::euc2sjis(body);
    default:
        return body;
    }
}

}  // namespace

TEST(DemoMailbox, HoldsThreeHundredMessagesOfEveryKind)
{
    const auto& mailbox = Mailbox();
    ASSERT_EQ(mailbox.size(), 300u);
    std::map<BodyCode, int> codes;
    std::set<Form> forms;
    int base64 = 0, uuencoded = 0;
    for (const DemoMessage& m : mailbox) {
        ++codes[m.Code];
        forms.insert(m.Kind);
        for (const auto& a : m.Attachments)
            ++(a.Uuencoded ? uuencoded : base64);
    }
    // Every charset is well represented, plain ASCII mails included.
    for (BodyCode c : {BodyCode::Ascii, BodyCode::Jis, BodyCode::Euc, BodyCode::Sjis})
        EXPECT_GE(codes[c], 25) << static_cast<int>(c);
    EXPECT_EQ(forms.size(), 8u) << "the classic form and each form of today's mail";
    EXPECT_GE(base64, 2) << "the sales sheet and the photo";
    EXPECT_EQ(uuencoded, 1);
    EXPECT_NE(mailbox[0].Text.find("demo"), std::string::npos) << "the welcome message comes first and names the password";
    std::set<std::string> subjects;
    for (const DemoMessage& m : mailbox)
        subjects.insert(m.Subject);
    EXPECT_GE(subjects.size(), 100u) << "subjects vary";
}

TEST(DemoMailbox, IsTheSameForASeedAndDiffersBetweenSeeds)
{
    const auto again = demo::GenerateMailbox(1);
    const auto other = demo::GenerateMailbox(2);
    ASSERT_EQ(again.size(), Mailbox().size());
    int same = 0, differ = 0;
    for (std::size_t i = 0; i < again.size(); ++i) {
        same += again[i].Raw == Mailbox()[i].Raw;
        differ += other[i].Raw != Mailbox()[i].Raw;
    }
    EXPECT_EQ(same, 300);
    EXPECT_GT(differ, 250);
    EXPECT_EQ(demo::GenerateMailbox(3, 12).size(), 12u) << "a small mailbox can be had too";
    EXPECT_TRUE(demo::GenerateMailbox(3, 0).empty());
}

TEST(DemoMailbox, SubjectsAndSendersAreEncodedWordsThatDecodeToTheirTexts)
{
    int encoded = 0;
    for (const DemoMessage& m : Mailbox()) {
        const std::string header = HeaderOf(m.Raw);
        ASSERT_TRUE(SevenBit(header)) << m.Subject;
        if (m.Code == BodyCode::Utf8)
            continue;  // read by mime only (below)
        EXPECT_EQ(Decoded(Field(header, "Subject")), m.Subject);
        EXPECT_EQ(Decoded(Field(header, "From")), m.Sender);
        encoded += Field(header, "Subject").find("=?ISO-2022-JP?B?") != std::string::npos;
        // The fields the program's summary reads, with the case it looks for.
        EXPECT_NE(Field(header, "Message-ID"), "");
        EXPECT_NE(Field(header, "Date"), "");
    }
    EXPECT_GE(encoded, 200);
}

TEST(DemoMailbox, BodiesAreInTheirDeclaredCharsetAndDecodeToTheirTexts)
{
    const std::map<BodyCode, std::string> charset = {{BodyCode::Ascii, "us-ascii"},
                                                     {BodyCode::Jis, "ISO-2022-JP"},
                                                     {BodyCode::Euc, "EUC-JP"},
                                                     {BodyCode::Sjis, "Shift_JIS"}};
    for (const DemoMessage& m : Mailbox()) {
        if (m.Code == BodyCode::Utf8)
            continue;
        const bool multipart = !m.Attachments.empty();
        const std::vector<Part> parts = Parts(m.Raw);
        ASSERT_EQ(multipart, !parts.empty()) << m.Subject;
        const std::string header = multipart ? parts[0].Header : HeaderOf(m.Raw);
        const std::string body = multipart ? parts[0].Body : BodyOf(m.Raw);
        const bool labelled = m.Kind != Form::UnlabelledEuc;
        EXPECT_EQ(Field(header, "Content-Type"), labelled ? "text/plain; charset=" + charset.at(m.Code) : "text/plain") << m.Subject;
        const bool eightBit = m.Code == BodyCode::Euc || m.Code == BodyCode::Sjis;
        EXPECT_EQ(Field(header, "Content-Transfer-Encoding"), eightBit ? "8bit" : "7bit");
        EXPECT_EQ(SevenBit(body), !eightBit || SevenBit(m.Text)) << m.Subject;
        if (m.Code != BodyCode::Ascii && !SevenBit(m.Text)) {
            const int expected = m.Code == BodyCode::Jis   ? Jconvert::JCODE_JIS83
                                 : m.Code == BodyCode::Euc ? Jconvert::JCODE_EUC
                                                           : Jconvert::JCODE_SJIS;
            EXPECT_EQ(Jconvert::InCodeCheck(body), expected) << m.Subject;
        }
        EXPECT_EQ(ToSjis(body, m.Code), m.Text) << m.Subject;
    }
}

// Every message, classic or of today's forms, reads as meant through mime: subject and
// sender (folds included), text and attachment names.
TEST(DemoMailbox, EveryMessageReadsAsMeantThroughMailText)
{
    for (const DemoMessage& m : Mailbox()) {
        const std::string header = HeaderOf(m.Raw);
        EXPECT_EQ(mime::HeaderText(mime::FieldValue(header, "Subject")), m.ShownSubject);
        EXPECT_EQ(mime::HeaderText(mime::FieldValue(header, "From")), m.ShownSender);
        EXPECT_EQ(mime::MessageText(m.Raw), m.ShownText) << m.ShownSubject;
        if (m.Kind == Form::SplitSubject) {
            const std::string first = Field(header, "Subject");
            const std::string word = first.substr(10, first.find("?=") - 10);
            EXPECT_FALSE(mime::IsUtf8(Jconvert::DecodeBase64(word))) << "the first word ends inside a character";
            EXPECT_NE(mime::FieldValue(header, "Subject").find("\r\n "), std::string::npos) << "folded";
        }
    }
}

TEST(DemoMailbox, JisLinesEndInAscii)
{
    for (const DemoMessage& m : Mailbox()) {
        if (m.Code != BodyCode::Jis)
            continue;
        const std::string body = BodyOf(m.Raw);
        for (std::size_t at = 0, lf; (lf = body.find("\r\n", at)) != std::string::npos; at = lf + 2) {
            const std::string line = body.substr(at, lf - at);
            const std::size_t esc = line.rfind('\x1b');
            ASSERT_TRUE(esc == std::string::npos || line.substr(esc, 3) == "\x1b(B") << m.Subject;
        }
    }
}

TEST(DemoMailbox, AttachmentsDecodeToTheirOriginals)
{
    int checked = 0;
    for (const DemoMessage& m : Mailbox()) {
        if (m.Code == BodyCode::Utf8)
            continue;  // the name in RFC 2231 form: read by mime (below)
        const std::vector<Part> parts = Parts(m.Raw);
        ASSERT_EQ(parts.size(), m.Attachments.empty() ? 0 : m.Attachments.size() + 1);
        for (std::size_t i = 0; i < m.Attachments.size(); ++i) {
            const demo::DemoAttachment& a = m.Attachments[i];
            const Part& p = parts[i + 1];
            // The program takes the name from between the first pair of double quotes.
            EXPECT_NE(Field(p.Header, "Content-Type").find("name=\"" + a.Name + "\""), std::string::npos);
            if (a.Uuencoded) {
                EXPECT_EQ(Field(p.Header, "Content-Transfer-Encoding"), "X-UUENCODE");
                EXPECT_EQ(p.Body[0], 'M') << "bare uuencode lines, no begin line";
                EXPECT_EQ(Jconvert::DecodeUU(p.Body), a.Bytes);
            } else {
                EXPECT_EQ(Field(p.Header, "Content-Transfer-Encoding"), "base64");
                EXPECT_EQ(Jconvert::DecodeBase64(p.Body), a.Bytes);
            }
            ++checked;
        }
    }
    EXPECT_GE(checked, 3);
}

TEST(DemoMailbox, ThePictureIsAValidBitmap)
{
    for (const DemoMessage& m : Mailbox())
        for (const auto& a : m.Attachments)
            if (a.Name == "hanabi.bmp") {
                ASSERT_GT(a.Bytes.size(), 54u);
                EXPECT_EQ(a.Bytes.substr(0, 2), "BM");
                auto u32 = [&](std::size_t at) {
                    std::uint32_t v = 0;
                    for (int i = 3; i >= 0; --i)
                        v = v << 8 | static_cast<unsigned char>(a.Bytes[at + i]);
                    return v;
                };
                EXPECT_EQ(u32(2), a.Bytes.size());
                EXPECT_EQ(54 + u32(18) * u32(22) * 3, a.Bytes.size()) << "width x height x 3 bytes after the header";
                return;
            }
    FAIL() << "no picture";
}

TEST(DemoMailbox, SizesRangeFromUnderAKilobyteToAFewMegabytes)
{
    std::vector<std::size_t> sizes;
    for (const DemoMessage& m : Mailbox())
        sizes.push_back(m.Raw.size());
    std::sort(sizes.begin(), sizes.end());
    EXPECT_LT(sizes.front(), 1024u);
    EXPECT_GE(std::count_if(sizes.begin(), sizes.end(), [](std::size_t s) { return s < 1024; }), 5);
    EXPECT_GE(sizes.back(), 2u << 20);
    EXPECT_LE(sizes.back(), 6u << 20);
    EXPECT_GE(sizes[sizes.size() - 2], 1u << 20) << "two big ones";
    EXPECT_LT(sizes[sizes.size() - 3], 1u << 20) << "only two";
}

TEST(DemoMailbox, LinesAreCrLfAndShortEnoughForMail)
{
    for (const DemoMessage& m : Mailbox()) {
        const std::string& r = m.Raw;
        ASSERT_GE(r.size(), 2u);
        EXPECT_EQ(r.substr(r.size() - 2), "\r\n");
        std::size_t start = 0;
        for (std::size_t i = 0; i < r.size(); ++i) {
            ASSERT_TRUE(r[i] != '\r' || (i + 1 < r.size() && r[i + 1] == '\n')) << "a lone CR in " << m.Subject;
            if (r[i] == '\n') {
                ASSERT_TRUE(i > 0 && r[i - 1] == '\r') << "a lone LF in " << m.Subject;
                ASSERT_LE(i + 1 - start, 998u) << m.Subject;
                start = i + 1;
            }
            ASSERT_NE(r[i], '\0');
        }
    }
}

TEST(DemoMailbox, SomeLinesBeginWithADot)
{
    int lone = 0, dotted = 0;
    for (const DemoMessage& m : Mailbox()) {
        lone += m.Raw.find("\r\n.\r\n") != std::string::npos;
        dotted += m.Raw.find("\r\n.") != std::string::npos;
    }
    EXPECT_GE(lone, 1) << "a line of a single dot";
    EXPECT_GE(dotted, 5);
}

TEST(DemoMailbox, StoredMessagesHaveStableUniqueIds)
{
    const auto stored = demo::ToStoredMessages(demo::GenerateMailbox(5, 20), 5);
    ASSERT_EQ(stored.size(), 20u);
    EXPECT_EQ(stored[0].Uid, "demo-5-0001");
    EXPECT_EQ(stored[19].Uid, "demo-5-0020");
    EXPECT_EQ(stored[3].Data, demo::NormaliseLineEnds(stored[3].Data)) << "kept as served";
}
