#include "runtime/SysUtils.h"

#include "runtime/Exception.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// "'%s' は整数ではありません"
const char* const InvalidInteger =
    "'%s' \x82\xcd\x90\xae\x90\x94\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1" /* sjis: '%s' は整数ではありません */;

bool IsBlankOrControl(unsigned char c) { return c <= 0x20; }
unsigned char FoldLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }
}

std::string IntToStr(long long value) { return std::to_string(value); }

bool TryStrToInt(std::string_view text, int& value)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
        if (v > static_cast<long long>(INT_MAX) + 1)
            return false;
    }
    if (negative)
        v = -v;
    if (v < INT_MIN || v > INT_MAX)
        return false;
    value = static_cast<int>(v);
    return true;
}

int StrToInt(std::string_view text)
{
    int v = 0;
    if (!TryStrToInt(text, v))
        throw EConvertError(FormatMessage(InvalidInteger, std::string(text)));
    return v;
}

int StrToIntDef(std::string_view text, int fallback)
{
    int v = 0;
    return TryStrToInt(text, v) ? v : fallback;
}

std::string TrimLeft(std::string_view text)
{
    size_t b = 0;
    while (b < text.size() && IsBlankOrControl(text[b]))
        ++b;
    return std::string(text.substr(b));
}

std::string TrimRight(std::string_view text)
{
    size_t e = text.size();
    while (e > 0 && IsBlankOrControl(text[e - 1]))
        --e;
    return std::string(text.substr(0, e));
}

std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

std::string_view TrimView(std::string_view text)
{
    while (!text.empty() && IsBlankOrControl(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlankOrControl(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string UpperCase(std::string_view text)
{
    std::string r(text);
    for (auto& c : r)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return r;
}

std::string LowerCase(std::string_view text)
{
    std::string r(text);
    for (auto& c : r)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return r;
}

int AnsiCompareText(std::string_view a, std::string_view b)
{
    size_t i = 0;
    while (i < a.size() && i < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (IsSjisLeadByte(ca) && ca == cb && i + 1 < a.size() && i + 1 < b.size()) {
            // A double-byte character: its trail byte is not a letter.
            const auto ta = static_cast<unsigned char>(a[i + 1]);
            const auto tb = static_cast<unsigned char>(b[i + 1]);
            if (ta != tb)
                return ta < tb ? -1 : 1;
            i += 2;
            continue;
        }
        const auto la = FoldLower(ca), lb = FoldLower(cb);
        if (la != lb)
            return la < lb ? -1 : 1;
        ++i;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool AnsiSameText(std::string_view a, std::string_view b) { return AnsiCompareText(a, b) == 0; }

std::string ExtractFilePath(std::string_view fileName)
{
    const auto slash = fileName.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(fileName.substr(0, slash + 1));
}

std::string ExtractFileName(std::string_view fileName)
{
    const auto slash = fileName.rfind('/');
    return std::string(slash == std::string_view::npos ? fileName : fileName.substr(slash + 1));
}

std::string ChangeFileExt(std::string_view fileName, std::string_view extension)
{
    const auto slash = fileName.rfind('/');
    auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        dot = fileName.size();
    return std::string(fileName.substr(0, dot)) + std::string(extension);
}

bool FileExists(const std::string& fileName)
{
    struct stat st {};
    return ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool RenameFile(const std::string& oldName, const std::string& newName)
{
    // Never replaces an existing file: a mail-supplied name must not overwrite the user's files.
    if (::renameat2(AT_FDCWD, oldName.c_str(), AT_FDCWD, newName.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without the no-replace flag: a hard link fails when the name exists.
    if (::link(oldName.c_str(), newName.c_str()) != 0)
        return false;
    ::unlink(oldName.c_str());
    return true;
}

bool ReplaceFile(const std::string& oldName, const std::string& newName)
{
    return std::rename(oldName.c_str(), newName.c_str()) == 0;
}

bool DeleteFile(const std::string& fileName) { return ::unlink(fileName.c_str()) == 0; }

void WipeString(std::string& secret)
{
    ::explicit_bzero(secret.data(), secret.size());
    secret.clear();
}

bool DisableCoreDumps()
{
    const rlimit none{0, 0};
    return ::setrlimit(RLIMIT_CORE, &none) == 0;
}

std::string ExeName()
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}
