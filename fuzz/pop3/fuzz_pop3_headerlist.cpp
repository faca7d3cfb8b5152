// libFuzzer target: TExStringList look-ups and changes on sorted and unsorted lists built
// from the input.
#include "fuzz/pop3/Pop3Checks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    Pop3Checks::HeaderList(std::string_view(reinterpret_cast<const char*>(data), size), [](const char* what) {
        std::fprintf(stderr, "header list check failed: %s\n", what);
        std::abort();
    });
    return 0;
}
