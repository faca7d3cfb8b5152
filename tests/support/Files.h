#pragma once
// Reading a whole file in a test, the one way every test does it.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testsupport {

// The bytes of the file as they stand; "" when it cannot be opened.
inline std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace testsupport
