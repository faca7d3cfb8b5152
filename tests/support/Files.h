#pragma once
// Reading and writing a whole file, and a private temporary folder, the one way every test
// does it.

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>
#include <string>
#include <vector>

namespace testsupport {

// The bytes of the file as they stand; "" when it cannot be opened.
inline std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Creates or truncates the file with exactly these bytes and this mode; throws
// std::runtime_error when that fails.
inline void WriteFile(const std::filesystem::path& path, const std::string& bytes, mode_t mode = 0644)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!(out << bytes).flush() || ::chmod(path.c_str(), mode) != 0)
        throw std::runtime_error("cannot write " + path.string());
}

// A new empty folder <TMPDIR or /tmp>/<prefix>.XXXXXX; throws std::runtime_error when none
// can be made. The caller removes it.
inline std::string MakeTempFolder(const char* prefix)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + ".XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder: " + std::string(std::strerror(errno)));
    return templ;
}

// MakeTempFolder's folder, removed with everything in it when this goes.
class TempFolder {
public:
    explicit TempFolder(const char* prefix) : FPath(MakeTempFolder(prefix)) {}
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    std::filesystem::path operator/(const std::string& name) const { return FPath / name; }
    // The names in the folder, hidden ones too, sorted.
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(FPath))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path FPath;
};

// Lets the writes of this process fail beyond `bytes` (file size limit) while it lives: a
// write beyond it then fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(unsigned long bytes) : FOldHandler(std::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &FOld);
        const rlimit r{bytes, FOld.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit FOld{};
    void (*FOldHandler)(int);
};

} // namespace testsupport
