#include "TestUtil.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace demotest {

FreshFolder::FreshFolder(const std::string& prefix)
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    FPath = std::filesystem::temp_directory_path() /
            (prefix + "-" + std::to_string(::getpid()) + "-" + (test ? test->name() : "none"));
    std::filesystem::remove_all(FPath);
    std::filesystem::create_directories(FPath);
}

FreshFolder::~FreshFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
}

}  // namespace demotest
