// Every input that once made a jconv fuzz target fail is kept under data/regressions, named
// after the fault, and replayed here through all the fuzz checks.
#include "fuzz/jconv/JconvChecks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

void ReportFailure(const char* what) { ADD_FAILURE() << what; }

}  // namespace

TEST(FuzzRegressions, EveryKeptInputPassesEveryCheck)
{
    const std::filesystem::path folder = JCONV_TEST_DATA "/regressions";
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".md")
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        SCOPED_TRACE(entry.path().filename().string());
        JconvChecks::All(bytes.str(), ReportFailure);
        ++replayed;
    }
    EXPECT_GT(replayed, 0);
}
