// Every Shift-JIS literal in the sources carries its text in a comment, "/* sjis: text */";
// this test encodes the comment with iconv and compares it to the bytes of the literal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <regex>
#include <sstream>

namespace {
std::string ToCp932(const std::string& utf8)
{
    iconv_t cd = iconv_open("CP932", "UTF-8");
    std::string out(utf8.size() * 2 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size(), outLeft = out.size();
    char* o = out.data();
    const size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1))
        return "<not encodable>";
    out.resize(out.size() - outLeft);
    return out;
}

// The bytes of adjacent C++ string literals (simple escapes and \xNN only).
std::string Unescape(const std::string& literals)
{
    std::string out;
    bool inside = false;
    for (size_t i = 0; i < literals.size(); ++i) {
        const char c = literals[i];
        if (!inside) {
            inside = c == '"';
            continue;
        }
        if (c == '"') {
            inside = false;
        } else if (c == '\\' && i + 1 < literals.size()) {
            const char e = literals[++i];
            if (e == 'x') {
                size_t used = 0;
                out += static_cast<char>(std::stoi(literals.substr(i + 1, 2), &used, 16));
                i += used;
            } else {
                out += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
            }
        } else {
            out += c;
        }
    }
    return out;
}
}

TEST(SjisLiterals, EveryCommentMatchesItsBytes)
{
    const std::regex pattern(R"sjis(((?:"(?:[^"\\]|\\.)*"\s*)+)/\* sjis: (.*?) \*/)sjis");
    int checked = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(PURGEL_SOURCE_DIR)) {
        const auto path = entry.path();
        const auto rel = path.lexically_relative(PURGEL_SOURCE_DIR).string();
        if (rel.rfind("build", 0) == 0 || rel.rfind(".git", 0) == 0 || rel.rfind("scripts", 0) == 0)
            continue;
        const auto ext = path.extension().string();
        if (ext != ".h" && ext != ".cpp")
            continue;
        std::ifstream f(path);
        std::stringstream s;
        s << f.rdbuf();
        const std::string text = s.str();
        for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
            EXPECT_EQ(Unescape((*it)[1]), ToCp932((*it)[2])) << rel << ": " << (*it)[2];
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);
}
