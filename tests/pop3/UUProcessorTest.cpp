#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "pop3/Nmuue.h"
#include "runtime/Exception.h"
#include "tests/support/Mailbox.h"

namespace {
void Fill(TMemoryStream& s, const std::string& bytes)
{
    s.Clear();
    s.WriteBuffer(bytes.data(), static_cast<long long>(bytes.size()));
    s.SetPosition(0);
}

std::string Encode(UUMethods method, const std::string& bytes)
{
    TNMUUProcessor uu(nullptr);
    TMemoryStream in, out;
    Fill(in, bytes);
    uu.InStream = &in;
    uu.OutStream = &out;
    uu.Method = method;
    uu.Encode();
    EXPECT_EQ(out.Position(), 0);
    return out.DataString();
}

std::string Decode(UUMethods method, const std::string& text, long long start = 0)
{
    TNMUUProcessor uu(nullptr);
    TMemoryStream in, out;
    Fill(in, text);
    in.SetPosition(start);
    uu.InStream = &in;
    uu.OutStream = &out;
    uu.Method = method;
    uu.Decode();
    return out.DataString();
}

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

struct DecodeCase {
    std::string Text, Bytes;
    const char* Rule;
};

void CheckDecode(UUMethods method, std::initializer_list<DecodeCase> cases)
{
    for (const DecodeCase& c : cases)
        EXPECT_EQ(Decode(method, c.Text), c.Bytes) << c.Rule;
}

// A stream whose writes fail after a number of bytes.
class TFailingStream : public TMemoryStream {
public:
    explicit TFailingStream(long long limit) : FLimit(limit) {}
    long long Write(const void* buffer, long long count) override
    {
        if (Size() + count > FLimit)
            return 0;
        return TMemoryStream::Write(buffer, count);
    }

private:
    long long FLimit;
};
}

TEST(UUTables, AlphabetsAndDecodingTable)
{
    EXPECT_EQ(std::string(UUTABLE).size(), 64u);
    EXPECT_EQ(UUTABLE[0], '`');
    for (int v = 1; v < 64; ++v)
        EXPECT_EQ(UUTABLE[v], static_cast<char>(v + 32)) << v;
    EXPECT_EQ(std::string(MimeTable), "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    for (int code = 43; code <= 122; ++code) {
        const auto pos = std::string(MimeTable).find(static_cast<char>(code));
        const int expected = pos != std::string::npos ? static_cast<int>(pos) : code == '=' ? 64 : 127;
        EXPECT_EQ(base64Table[code - 43], expected) << static_cast<char>(code);
    }
}

TEST(UUDec, ValueIsCodeLess32Modulo64)
{
    EXPECT_EQ(TNMUUProcessor::UuDEC('`'), 0);
    EXPECT_EQ(TNMUUProcessor::UuDEC(' '), 0);
    EXPECT_EQ(TNMUUProcessor::UuDEC('!'), 1);
    EXPECT_EQ(TNMUUProcessor::UuDEC('M'), 45);
    EXPECT_EQ(TNMUUProcessor::UuDEC('_'), 63);
    EXPECT_EQ(TNMUUProcessor::UuDEC('\r'), 45);                    // (13 - 32) AND 63
    EXPECT_EQ(TNMUUProcessor::UuDEC(static_cast<char>(0xE0)), 0);  // a high byte wraps too
}

TEST(UUEncode, Vectors)
{
    struct Case {
        UUMethods Method;
        std::string In, Out;
        const char* Rule;
    };
    const Case cases[] = {
        {uuMime, "abc", "YWJj\r\n", "one group"},
        {uuMime, "ab", "YWI=\r\n", "two bytes left: one pad"},
        {uuMime, "a", "YQ==\r\n", "one byte left: two pads"},
        {uuMime, "", "", "empty Base64 input writes nothing"},
        {uuMime, Bytes({0xFF, 0xFE, 0xFD}), "//79\r\n", "high bytes"},
        {uuCode, "abc", "#86)C\r\n`\r\n", "length character, group, closing line"},
        {uuCode, "ab", "\"86(\r\n`\r\n", "short group not filled up"},
        {uuCode, "a", "!80\r\n`\r\n", "one byte: two characters"},
        {uuCode, "", "`\r\n", "empty uuencode input: only the closing line"},
        {uuCode, std::string(3, '\0'), "#````\r\n`\r\n", "value 0 is the grave accent"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Encode(c.Method, c.In), c.Out) << c.Rule;
}

TEST(UUEncode, LinesCarry45Bytes)
{
    const std::string full = Encode(uuMime, std::string(45, 'x'));
    EXPECT_EQ(full.size(), 62u);
    EXPECT_EQ(full.substr(60), "\r\n");
    const std::string more = Encode(uuMime, std::string(46, 'x'));
    EXPECT_EQ(more.substr(0, 62), full);
    EXPECT_EQ(more.substr(62), "eA==\r\n");

    const std::string uu = Encode(uuCode, std::string(90, 'x'));
    ASSERT_EQ(uu.size(), 63u * 2 + 3);
    EXPECT_EQ(uu[0], 'M');
    EXPECT_EQ(uu[63], 'M');
    EXPECT_EQ(uu.substr(126), "`\r\n");
}

TEST(UUEncode, StartsFromTheBeginningAndFiresEvents)
{
    TNMUUProcessor uu(nullptr);
    TMemoryStream in, out;
    Fill(in, "abc");
    in.SetPosition(3);
    uu.InStream = &in;
    uu.OutStream = &out;
    std::string trace;
    uu.OnBeginEncode = [&](TObject* s) { trace += s == &uu ? "B" : "?"; };
    uu.OnEndEncode = [&](TObject* s) { trace += s == &uu ? "E" : "?"; };
    uu.Encode();
    EXPECT_EQ(out.DataString(), "YWJj\r\n");
    EXPECT_EQ(trace, "BE");
}

TEST(UUEncode, WriteFailurePassesThroughAfterEndEvent)
{
    TNMUUProcessor uu(nullptr);
    TMemoryStream in;
    TFailingStream out(10);
    Fill(in, std::string(100, 'x'));
    uu.InStream = &in;
    uu.OutStream = &out;
    int ends = 0;
    uu.OnEndEncode = [&](TObject*) { ++ends; };
    EXPECT_THROW(uu.Encode(), EWriteError);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(out.Position(), 0);
}

TEST(UUCodec, MissingStreamRaisesWithoutEvents)
{
    TNMUUProcessor uu(nullptr);
    TMemoryStream s;
    int events = 0;
    uu.OnBeginEncode = uu.OnEndEncode = uu.OnBeginDecode = uu.OnEndDecode = [&](TObject*) { ++events; };
    uu.InStream = &s;
    EXPECT_THROW(uu.Encode(), Exception);
    EXPECT_THROW(uu.Decode(), Exception);
    EXPECT_EQ(events, 0);
}

TEST(ReadLnFromStream, Vectors)
{
    struct Case {
        std::string Text;
        long long Start;
        std::string Line;
        long long Pos;
        const char* Rule;
    };
    const Case cases[] = {
        {"abc\r\ndef", 0, "abc", 5, "CR LF removed"},
        {"abc\r\ndef", 5, "def", 8, "last line without a break, from a position"},
        {"abc\ndef", 0, "ab", 4, "a lone LF takes the byte before it"},
        {"\n", 0, "", 1, "a lone LF at the start gives an empty line"},
        {"\r\n", 0, "", 2, "empty line"},
        {"", 0, "", 0, "nothing to read"},
        {"abc", 3, "", 3, "at the end: the position stays"},
        {std::string(199, 'x') + "\r\n", 0, std::string(199, 'x') + "\r", 200, "LF as the 201st byte: not seen"},
        {std::string(198, 'x') + "\r\n", 0, std::string(198, 'x'), 200, "LF as the 200th byte"},
        {std::string(250, 'x'), 0, std::string(200, 'x'), 200, "a long stretch comes in pieces of 200"},
        {std::string(250, 'x'), 200, std::string(50, 'x'), 250, "...and the rest, never past the end"},
    };
    for (const Case& c : cases) {
        TMemoryStream s;
        Fill(s, c.Text);
        s.SetPosition(c.Start);
        std::string line = "junk";
        TNMUUProcessor::ReadLnFromStream(s, line);
        EXPECT_EQ(line, c.Line) << c.Rule;
        EXPECT_EQ(s.Position(), c.Pos) << c.Rule;
    }
}

TEST(Base64Decode, Vectors)
{
    CheckDecode(uuMime, {
        {"YWJj\r\n", "abc", "one group"},
        {"YWJjZGVm\r\n", "abcdef", "last line without = and no line after it"},
        {"YWJjZGVm", "abcdef", "last line without a line end"},
        {"YWJjZA==\r\n", "abcd", "two pads"},
        {"YWJjZGU=\r\n", "abcde", "one pad"},
        {"YWJj\r\nZGVm\r\n\r\n", "abcdef", "two lines and an empty one"},
        {"====\r\nYWJj\r\n", "abc", "a line of ==== is passed over"},
        {"YWJj\r\n=YWJj\r\nYWJj\r\n", "abc", "a longer line that begins with = ends decoding"},
        {"YWJj\r\n=\r\nYWJj\r\n==\r\nYWJj\r\n", "abcabcabc", "lines of = and == are ignored"},
        {"YQ==\r\nYWJj\r\n", "a", "padding ends decoding"},
        {"YQ==YWJj\r\n", "a", "nothing after a padded group on its line"},
        {"YWJj=YWJj\r\nYWJj\r\n", "abc", "= where a group starts ends decoding"},
        {"YW\r\nYWJj\r\n", "abc", "a line of two characters is ignored"},
        {"  **YWJj\r\n", "abc", "leading non-alphabet characters skipped"},
        {"YWJj*-.YWJj\r\n", "abcabc", "non-alphabet characters at a group start skipped"},
        {"YW Jj\r\n", "abc", "a blank inside a group is passed over"},
        {"YWJjZA\r\n", "abcd", "a group cut short by the line end gives its bytes"},
        {"YWJjZGU\r\n", "abcde", "three characters give two bytes"},
        {"YWJj\nYWJj\n", "abab", "a lone LF costs the line its last character"},
        {"YWJjZA==\n", "abcd", "...which may be a pad"},
        {"-- \r\n", "", "no alphabet character at all"},
        {"  x\r\n", "", "skipping reaches the last character"},
        {"\xE3\x81\x82YWJj\r\n", "abc", "bytes above z skipped"},
        {"", "", "empty input"},
    });
}

TEST(Base64Decode, LongLinesWithoutLineFeedDecodeOnce)
{
    // A sender that does not wrap its Base64 text: every byte must come out once.
    const std::string data = mailbox::RandomBytes(3000, 7);
    std::string text = Encode(uuMime, data);
    std::string oneLine;
    for (char c : text)
        if (c != '\r' && c != '\n')
            oneLine += c;
    EXPECT_EQ(Decode(uuMime, oneLine), data);
    EXPECT_EQ(Decode(uuMime, oneLine + "\r\n"), data);
}

TEST(Base64Decode, StartsAtThePositionAndStopsAfterThePaddedLine)
{
    const std::string text = "junk\r\nYWI=\r\nYWJj\r\n";
    EXPECT_EQ(Decode(uuMime, text, 6), "ab");
    TNMUUProcessor uu(nullptr);
    TMemoryStream in, out;
    Fill(in, text);
    in.SetPosition(6);
    uu.InStream = &in;
    uu.OutStream = &out;
    uu.Decode();
    EXPECT_EQ(in.Position(), 12);  // after the line that ended decoding
    EXPECT_EQ(out.Position(), 2);  // decoding does not rewind the output
}

TEST(StdDecode, Vectors)
{
    CheckDecode(uuCode, {
        {"#86)C\r\n`\r\n", "abc", "one group, closing line"},
        {"\"86(\r\n`\r\n", "ab", "two bytes"},
        {"!80\r\n`\r\n", "a", "one byte"},
        {"#86)C", "abc", "no line end"},
        {"#````\r\n#    \r\n", std::string(6, '\0'), "grave accent and blank both mean 0"},
        {"` x\r\n#86)C\r\n#86)C\r\n", "abc", "the line after a zero-length line is dropped"},
        {"`\r\n#86)C\r\n", "abc", "a short closing line is just ignored"},
        {"#8\r\n", "", "a line of two characters is ignored"},
        {"#86\r\n", Bytes({'a', 0x60, 0}), "missing characters count as 0"},
        {"#86)C\n", "ab@", "a lone LF costs the line its last character"},
        {"begin 644 x.bin\r\n#86)C\r\n`\r\nend\r\n", "abc", "framing lines are not data"},
        {"#86)C\r\nend\r\n#86)C\r\n", "abc", "decoding stops at end"},
        {"", "", "empty input"},
    });
}

TEST(UUDecode, EventsFireAroundSuccessOnly)
{
    TNMUUProcessor uu(nullptr);
    TMemoryStream in;
    TFailingStream out(0);
    Fill(in, "YWJj\r\n");
    uu.InStream = &in;
    uu.OutStream = &out;
    std::string trace;
    uu.OnBeginDecode = [&](TObject*) { trace += "B"; };
    uu.OnEndDecode = [&](TObject*) { trace += "E"; };
    EXPECT_THROW(uu.Decode(), EWriteError);
    EXPECT_EQ(trace, "B");

    TMemoryStream good;
    uu.OutStream = &good;
    in.SetPosition(0);
    uu.Decode();
    EXPECT_EQ(trace, "BBE");
    EXPECT_EQ(good.DataString(), "abc");
}

TEST(UURoundTrip, RandomDataBothMethodsManySizes)
{
    std::vector<size_t> sizes;
    for (size_t n = 0; n <= 200; ++n)
        sizes.push_back(n);
    for (size_t n : {65519u, 65520u, 65521u, 65535u, 65536u, 65537u, 1000000u, 3u * 1024 * 1024 + 1})
        sizes.push_back(n);
    for (UUMethods m : {uuMime, uuCode}) {
        for (size_t n : sizes) {
            const std::string data = mailbox::RandomBytes(n, static_cast<unsigned>(n * 2 + m));
            const std::string text = Encode(m, data);
            ASSERT_EQ(Decode(m, text), data) << "method " << m << " size " << n;
        }
    }
}

TEST(UURoundTrip, ThroughFiles)
{
    const std::string dir = testing::TempDir();
    const std::string data = mailbox::RandomBytes(500000, 99);
    for (UUMethods m : {uuMime, uuCode}) {
        TNMUUProcessor uu(nullptr);
        uu.Method = m;
        {
            TFileStream raw(dir + "uu_raw.bin", fmCreate);
            raw.WriteBuffer(data.data(), static_cast<long long>(data.size()));
            TFileStream text(dir + "uu_text.txt", fmCreate);
            uu.InStream = &raw;
            uu.OutStream = &text;
            uu.Encode();
        }
        {
            TFileStream text(dir + "uu_text.txt", fmOpenRead);
            TFileStream back(dir + "uu_back.bin", fmCreate);
            uu.InStream = &text;
            uu.OutStream = &back;
            uu.Decode();
            EXPECT_EQ(text.Position(), text.Size());
        }
        TMemoryStream back;
        back.LoadFromFile(dir + "uu_back.bin");
        EXPECT_TRUE(back.DataString() == data) << "method " << m;
    }
}
