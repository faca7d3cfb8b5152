// mime::HeaderText and mime::MessageText: against Python's email package, which writes the
// values and messages at test time and reads them back (oracle.py), and against vector tables
// for the legacy and malformed forms Python never writes.
#include "mime/MailText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using mime::HeaderText;
using mime::MessageText;

namespace {

std::string FromHex(const std::string& hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// Python maps these JIS characters to other code points than code page 932 does (the wave
// dash and its relatives); both sides are compared in code page 932's choice.
std::string JisNeutral(std::string text)
{
    static const std::pair<const char*, const char*> same[] = {
        {"\xe3\x80\x9c", "\xef\xbd\x9e"} /* 〜 -> ～ */, {"\xe2\x80\x96", "\xe2\x88\xa5"} /* ‖ -> ∥ */,
        {"\xe2\x88\x92", "\xef\xbc\x8d"} /* − -> － */,  {"\xc2\xa2", "\xef\xbf\xa0"} /* ¢ -> ￠ */,
        {"\xc2\xa3", "\xef\xbf\xa1"} /* £ -> ￡ */,      {"\xc2\xac", "\xef\xbf\xa2"} /* ¬ -> ￢ */,
        {"\xe2\x80\x94", "\xe2\x80\x95"} /* — -> ― */,
    };
    for (const auto& [from, to] : same)
        for (std::size_t at; (at = text.find(from)) != std::string::npos;)
            text.replace(at, std::string(from).size(), to);
    return text;
}

struct OracleCase {
    char Kind;
    std::string Raw, Expected;
};

std::vector<OracleCase> OracleCases()
{
    const std::string command = "python3 " PURGEL_SOURCE_DIR "/tests/mime/oracle.py";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string output;
    char buffer[4096];
    for (std::size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
        output.append(buffer, n);
    std::vector<OracleCase> cases;
    std::istringstream lines(output);
    for (std::string kind, raw, expected; lines >> kind >> raw >> expected;)
        cases.push_back({kind[0], FromHex(raw), FromHex(expected)});
    return cases;
}

// A message of `levels` multiparts, one inside the other, around a text part "leaf".
std::string NestedMultiparts(int levels)
{
    std::string inner = "Content-Type: text/plain\r\n\r\nleaf\r\n";
    for (int k = levels; k >= 1; --k) {
        const std::string b = "b" + std::to_string(k) + "x";
        inner = "Content-Type: multipart/mixed; boundary=" + b + "\r\n\r\n--" + b + "\r\n" + inner + "--" + b + "--\r\n";
    }
    return inner;
}

// An HTML message whose text "deep" lies `levels` elements down (<html> and <body> counted),
// followed by "after".
std::string NestedHtml(int levels)
{
    std::string open, close;
    for (int i = 2; i < levels; ++i) {
        open += "<b>";
        close += "</b>";
    }
    return "Content-Type: text/html; charset=utf-8\r\n\r\n<html><body>" + open + "deep" + close + "after</body></html>\r\n";
}

}  // namespace

TEST(MailTextOracle, ReadsWhatPythonWritesAsPythonReadsIt)
{
    const std::vector<OracleCase> cases = OracleCases();
    ASSERT_GE(cases.size(), 40u) << "python3 and tests/mime/oracle.py must run";
    for (const OracleCase& c : cases) {
        const std::string got = c.Kind == 'H' ? HeaderText(c.Raw) : MessageText(c.Raw);
        EXPECT_EQ(JisNeutral(got), JisNeutral(c.Expected)) << c.Raw;
    }
}

// Forms of header values found in old and careless mail.
TEST(HeaderText, LegacyAndMalformedValues)
{
    const struct {
        std::string Raw, Text;
    } cases[] = {
        // Raw 8-bit bytes: UTF-8, else the Japanese code detected, else windows-1252.
        {"\x89\xef\x8b\x63 Re:" /* sjis: 会議 Re: */, "\xe4\xbc\x9a\xe8\xad\xb0 Re:" /* utf-8: 会議 Re: */},
        {"\xb2\xf1\xb5\xc4\xa4\xce\xb7\xef", "\xe4\xbc\x9a\xe8\xad\xb0\xe3\x81\xae\xe4\xbb\xb6" /* utf-8: 会議の件 */},
        {"\xa4\xa2\xa4\xa4\xa4\xa6", "\xe3\x81\x82\xe3\x81\x84\xe3\x81\x86" /* utf-8: あいう (EUC-JP that Jconvert leaves undecided) */},
        {"\x1b$B2q5D\x1b(B", "\xe4\xbc\x9a\xe8\xad\xb0" /* utf-8: 会議 (JIS sent raw) */},
        {"Caf\xe9 cr\xe8me", "Caf\xc3\xa9 cr\xc3\xa8me"},
        // A word without its "?=", bad Base64, an unknown encoding: kept as they are.
        {"=?UTF-8?B?w7w Subject", "=?UTF-8?B?w7w Subject"},
        {"=?UTF-8?B?w7*=?= x", "=?UTF-8?B?w7*=?= x"},
        {"=?UTF-8?X?abc?=", "=?UTF-8?X?abc?="},
        {"a =?UTF-8?B?w7w=?", "a =?UTF-8?B?w7w=?"},
        // A word glued to text, and white space between words dropped while other stays.
        {"Re:=?UTF-8?Q?=C3=BC?=!", "Re:\xc3\xbc!"},
        {"=?utf-8?q?a?= \t =?utf-8?q?b?= c =?utf-8?q?d?=", "ab c d"},
        // A character split across two words of one charset; a language suffix; any case.
        {"=?UTF-8?B?5Lya?= =?UTF-8?B?6K2w?=", "\xe4\xbc\x9a\xe8\xad\xb0"},
        {"=?utf-8?B?5Lw=?= =?UTF-8?B?muitsA==?=", "\xe4\xbc\x9a\xe8\xad\xb0"},
        {"=?ISO-2022-JP*ja?B?GyRCMnE1RBsoQg==?=", "\xe4\xbc\x9a\xe8\xad\xb0"},
        {"=?iso-2022-JP?b?GyRCMnE1RBsoQg?=", "\xe4\xbc\x9a\xe8\xad\xb0"},
        // The labels people's mail carries.
        {"=?cp932?B?ie+LYw==?= =?x-sjis?B?ie+LYw==?=", "\xe4\xbc\x9a\xe8\xad\xb0\xe4\xbc\x9a\xe8\xad\xb0"},
        {"=?Shift_JIS?Q?=89=EF=8Bc?=", "\xe4\xbc\x9a\xe8\xad\xb0"},
        {"=?ks_c_5601-1987?B?x9Gxub7u?=", "\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4" /* utf-8: 한국어 */},
        {"=?gb2312?B?1tDOxA==?=", "\xe4\xb8\xad\xe6\x96\x87" /* utf-8: 中文 */},
        {"=?utf8?Q?=F0=9F=8E=89?=", "\xf0\x9f\x8e\x89" /* utf-8: 🎉 */},
        {"=?x-unknown?Q?caf=E9?=", "caf\xc3\xa9"},
        // Folds, with CR LF and with bare LF.
        {"=?UTF-8?Q?a?=\r\n =?UTF-8?Q?b?=\r\n\tc", "ab\tc"},
        {"long\n subject", "long subject"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HeaderText(c.Raw), c.Text) << c.Raw;
}

// Message structures and encodings beyond what the oracle writes.
TEST(MessageText, StructuresEncodingsAndAttachmentNames)
{
    const struct {
        const char* What;
        std::string Raw, Text;
    } cases[] = {
        {"EUC-JP without charset: detected over the whole part, kana-only lines included",
         "Subject: x\r\n\r\n\xa4\xa2\xa4\xa4\xa4\xa6\r\n\xb2\xf1\xb5\xc4\xa4\xc7\xa4\xb9\xa1\xa3\r\n",
         "\xe3\x81\x82\xe3\x81\x84\xe3\x81\x86\n\xe4\xbc\x9a\xe8\xad\xb0\xe3\x81\xa7\xe3\x81\x99\xe3\x80\x82" /* utf-8: あいう / 会議です。 */},
        {"HTML only, through the HTML parser",
         "Content-Type: text/html; charset=utf-8\r\n\r\n<html><head><title>T</title><style>p{}</style></head>"
         "<body><p>Hello&nbsp;<b>world</b></p><p>line<br>next &amp; last</p><script>x()</script></body></html>\r\n",
         "Hello\xc2\xa0world\n\nline\nnext & last"},
        {"nested multiparts, plain text chosen, RFC 2231 and encoded-word names, an unnamed part",
         "Content-Type: multipart/mixed; boundary=outer\r\n\r\npreamble\r\n--outer\r\n"
         "Content-Type: multipart/alternative; boundary=\"inner\"\r\n\r\n--inner\r\n"
         "Content-Type: text/html\r\n\r\n<p>rich</p>\r\n--inner\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\ncaf=E9 =\r\nlong\r\n--inner--\r\n--outer\r\n"
         "Content-Type: application/pdf; name=\"=?UTF-8?B?5Lya6K2w?=.pdf\"\r\n\r\n%PDF\r\n--outer\r\n"
         "Content-Disposition: attachment;\r\n filename*0*=iso-8859-1'de'%FCber;\r\n filename*1=\" sicht.txt\"\r\n\r\nx\r\n"
         "--outer\r\nContent-Type: image/png\r\n\r\n\x89PNG\r\n--outer--\r\nepilogue\r\n",
         "caf\xc3\xa9 long\n\nFile \"\xe4\xbc\x9a\xe8\xad\xb0.pdf\" extracted\n\nFile \"\xc3\xbc" "ber sicht.txt\" extracted"
         "\n\nFile \"text.tmp\" extracted"},
        {"a missing closing delimiter, a boundary that is a prefix of a body line, base64 over odd lines",
         "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Transfer-Encoding: base64\r\n"
         "Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n\r\nGyRCMnE1RBsoQg0K\r\nLS1iYw==\r\n",
         "\xe4\xbc\x9a\xe8\xad\xb0\n--bc"},
        {"a boundary read as bytes (an encoded word is no word there), a line with a longer key is text",
         "Content-Type: multipart/mixed; boundary=\"=?utf-8?q?b?=\"\r\n\r\n--=?utf-8?q?b?=\r\n\r\none\r\n"
         "--=?utf-8?q?b?=x\r\n--=?utf-8?q?b?=-- \r\n",
         "one\n--=?utf-8?q?b?=x"},
        {"no header at all", "just text\r\nand more: of it\r\n", "just text\nand more: of it"},
        {"no empty line after the header", "Subject: x\r\nbody line\r\n", "body line"},
        {"mislabelled Shift-JIS under ISO-2022-JP", "Content-Type: text/plain; charset=iso-2022-jp\r\n\r\n\x89\xef\x8b\x63\r\n",
         "\xe4\xbc\x9a\xe8\xad\xb0"},
        // The nesting limits: 32 multiparts are walked, the 33rd is read as text; 256 HTML
        // elements are laid out, what lies deeper is read as one run, also past the parser's
        // own limit.
        {"multiparts 32 deep", NestedMultiparts(32), "leaf"},
        {"multiparts 33 deep", NestedMultiparts(33), "--b33x\nContent-Type: text/plain\n\nleaf\n--b33x--"},
        {"HTML 256 deep", NestedHtml(256), "deepafter"},
        {"HTML 257 deep", NestedHtml(257), "deepafter"},
        {"HTML 300 deep", NestedHtml(300), "deepafter"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MessageText(c.Raw), c.Text) << c.What;
}
