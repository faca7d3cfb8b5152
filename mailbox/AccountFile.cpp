#include "mailbox/AccountFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "runtime/StringList.h"
#include "runtime/SysUtils.h"

TAccountSecurity AccountSecurity(const TAccountFields& fields)
{
    const std::string mode = LowerCase(fields[afSecurity]);
    return mode == "tls" ? TAccountSecurity::Tls : mode == "starttls" ? TAccountSecurity::StartTls : TAccountSecurity::None;
}

std::string SecurityField(TAccountSecurity security)
{
    return security == TAccountSecurity::Tls ? "tls" : security == TAccountSecurity::StartTls ? "starttls" : "";
}

int DefaultPort(TAccountSecurity security) { return security == TAccountSecurity::Tls ? 995 : 110; }

namespace {
constexpr std::string_view OAuthPrefix = "oauth2:";
}

std::string OAuthProviderOf(const TAccountFields& fields)
{
    const std::string& field = fields[afSignIn];
    if (field.size() <= OAuthPrefix.size() || LowerCase(field.substr(0, OAuthPrefix.size())) != OAuthPrefix)
        return "";
    return field.substr(OAuthPrefix.size());
}

std::string SignInField(const std::string& provider)
{
    return provider.empty() ? "" : std::string(OAuthPrefix) + provider;
}

std::string FormatQuotedLine(const std::vector<std::string>& fields)
{
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i)
            line += ',';
        line += '"';
        for (char c : fields[i]) {
            if (c == '"')
                line += '"';
            line += c;
        }
        line += '"';
    }
    return line;
}

std::string FormatAccountLine(const TAccountFields& fields)
{
    // Each optional field is written when it, or one after it, is set.
    const size_t count = !fields[afSignIn].empty()     ? fields.size()
                         : !fields[afSecurity].empty() ? static_cast<size_t>(afSignIn)
                                                       : static_cast<size_t>(afSecurity);
    return FormatQuotedLine(std::vector<std::string>(fields.begin(), fields.begin() + static_cast<long>(count)));
}

std::string FormatAccounts(const std::vector<TAccountFields>& accounts)
{
    std::string text;
    for (const auto& a : accounts) {
        text += FormatAccountLine(a);
        text += "\r\n";
    }
    return text;
}

std::vector<TAccountFields> ParseAccounts(std::string_view text)
{
    TStringList lines;
    lines.SetText(text);
    std::vector<TAccountFields> accounts;
    TStringList fields;
    for (const auto& line : lines.Items()) {
        fields.SetCommaText(line);
        if (fields.Count() == 0)
            continue;
        TAccountFields a;
        for (int i = 0; i < AccountFieldCount && i < fields.Count(); ++i)
            a[static_cast<size_t>(i)] = fields[i];
        accounts.push_back(std::move(a));
    }
    return accounts;
}

bool ReadFileWhole(const std::string& fileName, std::string& text)
{
    try {
        TFileStream f(fileName, fmOpenRead);
        text.resize(static_cast<size_t>(f.Size()));
        f.ReadBuffer(text.data(), static_cast<long long>(text.size()));
        return true;
    } catch (const Exception&) {
        text.clear();
        return false;
    }
}

bool ReadFileIfAny(const std::string& fileName, std::string& text)
{
    if (ReadFileWhole(fileName, text))
        return true;
    struct stat st {};
    return ::stat(fileName.c_str(), &st) != 0 && errno == ENOENT;
}

bool LoadAccountFile(const std::string& fileName, std::vector<TAccountFields>& accounts)
{
    accounts.clear();
    std::string text;
    if (!ReadFileIfAny(fileName, text))
        return false;
    accounts = ParseAccounts(text);
    return true;
}

namespace {
bool WriteAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Makes the rename itself durable; a failure here leaves a complete file either way.
void SyncFolder(const std::string& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
}

// The temporary file of the save: beside the target so that the rename cannot cross file
// systems, under one fixed name so that a save cut short (the program killed) leaves at most
// this one file behind, which the next save takes over.
std::string AccountTempName(const std::string& fileName)
{
    return fileName + ".tmp";
}

void SaveAccountFile(const std::string& fileName, const std::vector<TAccountFields>& accounts)
{
    SaveFileWhole(fileName, FormatAccounts(accounts));
}

void SaveFileWhole(const std::string& fileName, const std::string& data)
{
    const std::string temp = AccountTempName(fileName);
    // Two programs saving at once take turns: the lock is held until the rename, and a
    // waiter whose file was renamed away meanwhile opens the name again.
    int fd = -1;
    for (int attempt = 0;; ++attempt) {
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd < 0)
            throw EFCreateError("Cannot create " + temp);
        if (::flock(fd, LOCK_EX) != 0) {
            ::close(fd);
            throw EFCreateError("Cannot lock " + temp);
        }
        struct stat opened {}, named {};
        if (::fstat(fd, &opened) == 0 && ::lstat(temp.c_str(), &named) == 0 && opened.st_dev == named.st_dev
            && opened.st_ino == named.st_ino)
            break;
        ::close(fd);
        if (attempt == 100)
            throw EFCreateError("Cannot create " + temp);
    }
    const bool written = ::ftruncate(fd, 0) == 0 && ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && WriteAll(fd, data) && ::fsync(fd) == 0;
    if (!written || !ReplaceFile(temp, fileName)) {
        ::unlink(temp.c_str());
        ::close(fd);
        throw EWriteError((written ? "Cannot replace " : "Cannot write ") + (written ? fileName : temp));
    }
    ::close(fd);   // after the rename: the lock is held until then
    SyncFolder(ExtractFilePath(fileName));
}
