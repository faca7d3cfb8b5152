// libFuzzer target: the line-end functions.
#include "fuzz/jconv/JconvChecks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    JconvChecks::LineEnds(std::string_view(reinterpret_cast<const char*>(data), size), [](const char* what) {
        std::fprintf(stderr, "jconv check failed: %s\n", what);
        std::abort();
    });
    return 0;
}
