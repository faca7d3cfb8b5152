#pragma once
// Reading a whole file, and making a private temporary folder, the one way every test does it.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>
#include <string>

namespace testsupport {

// The bytes of the file as they stand; "" when it cannot be opened.
inline std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
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

} // namespace testsupport
