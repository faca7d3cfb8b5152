#include "pop3/PartFolder.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace partfolder {

namespace {

// Taken while the program starts: what is older was left by an earlier run.
const fs::file_time_type ProcessStart = fs::file_time_type::clock::now();

const char* const FolderPrefix = "parts-";

std::string Absolute(const char* variable)
{
    const char* value = std::getenv(variable);
    return value && value[0] == '/' ? std::string(value) : std::string();
}

// The places for the "purgel" folder, the runtime folder first.
std::vector<std::string> Bases()
{
    std::vector<std::string> bases;
    if (std::string runtime = Absolute("XDG_RUNTIME_DIR"); !runtime.empty())
        bases.push_back(runtime + "/purgel");
    std::string cache = Absolute("XDG_CACHE_HOME");
    if (cache.empty() && !Absolute("HOME").empty())
        cache = Absolute("HOME") + "/.cache";
    if (!cache.empty())
        bases.push_back(cache + "/purgel");
    return bases;
}

// A real folder of the user's that no one else may write to.
bool Private(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 022) == 0;
}

// The process id in a folder name "parts-<pid>-XXXXXX"; 0 when the name is not one of ours.
pid_t OwnerOf(const std::string& name)
{
    if (name.rfind(FolderPrefix, 0) != 0)
        return 0;
    char* end = nullptr;
    const long pid = std::strtol(name.c_str() + std::char_traits<char>::length(FolderPrefix), &end, 10);
    return pid > 0 && *end == '-' ? static_cast<pid_t>(pid) : 0;
}

bool Running(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

} // namespace

std::string Make()
{
    for (const std::string& base : Bases()) {
        ::mkdir(fs::path(base).parent_path().c_str(), 0700);   // ~/.cache may not be there yet
        ::mkdir(base.c_str(), 0700);
        if (!Private(base))
            continue;
        std::string path = base + "/" + FolderPrefix + std::to_string(::getpid()) + "-XXXXXX";
        if (::mkdtemp(path.data()))
            return path;
    }
    return "";
}

void RemovePartFiles(const std::vector<std::string>& files, const std::string& folder)
{
    for (const std::string& file : files)
        ::unlink(file.c_str());
    if (!folder.empty())
        ::rmdir(folder.c_str());
}

int RemoveStalePartFolders()
{
    int removed = 0;
    for (const std::string& base : Bases()) {
        std::error_code ec;
        if (!Private(base))
            continue;
        for (const fs::directory_entry& entry : fs::directory_iterator(base, ec)) {
            const pid_t pid = OwnerOf(entry.path().filename().string());
            if (pid == 0 || pid == ::getpid() || Running(pid) || !Private(entry.path().string()) ||
                fs::last_write_time(entry.path(), ec) >= ProcessStart || ec)
                continue;
            if (fs::remove_all(entry.path(), ec) != static_cast<std::uintmax_t>(-1) && !ec)
                ++removed;
        }
    }
    return removed;
}

} // namespace partfolder
