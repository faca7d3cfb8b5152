#pragma once
// Helpers of the demo server's tests.

#include <filesystem>
#include <string>

namespace demotest {

// An empty folder below the temporary folder, named after the process and the running
// test; removed (with what it holds) when destroyed.
class FreshFolder {
public:
    explicit FreshFolder(const std::string& prefix);
    ~FreshFolder();
    FreshFolder(const FreshFolder&) = delete;
    FreshFolder& operator=(const FreshFolder&) = delete;
    const std::filesystem::path& Path() const { return FPath; }

private:
    std::filesystem::path FPath;
};

}  // namespace demotest
