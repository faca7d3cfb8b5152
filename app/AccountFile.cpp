#include "app/AccountFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "runtime/StringList.h"
#include "runtime/SysUtils.h"

std::string FormatAccountLine(const TAccountFields& fields)
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
        for (int i = 0; i < kAccountFieldCount && i < fields.Count(); ++i)
            a[static_cast<size_t>(i)] = fields[i];
        accounts.push_back(std::move(a));
    }
    return accounts;
}

bool LoadAccountFile(const std::string& fileName, std::vector<TAccountFields>& accounts)
{
    accounts.clear();
    std::string text;
    try {
        TFileStream f(fileName, fmOpenRead);
        text.resize(static_cast<size_t>(f.Size()));
        f.ReadBuffer(text.data(), static_cast<long long>(text.size()));
    } catch (const Exception&) {
        struct stat st {};
        return ::stat(fileName.c_str(), &st) != 0 && errno == ENOENT;
    }
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

void SaveAccountFile(const std::string& fileName, const std::vector<TAccountFields>& accounts)
{
    const std::string data = FormatAccounts(accounts);
    // The temporary file sits beside the target so that the rename cannot cross file systems.
    std::string temp = fileName + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        throw EFCreateError("Cannot create " + temp);
    const bool written = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && WriteAll(fd, data) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(temp.c_str());
        throw EWriteError("Cannot write " + temp);
    }
    if (!ReplaceFile(temp, fileName)) {
        ::unlink(temp.c_str());
        throw EWriteError("Cannot replace " + fileName);
    }
    SyncFolder(ExtractFilePath(fileName));
}
