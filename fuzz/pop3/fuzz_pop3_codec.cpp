// libFuzzer target: TNMUUProcessor decoding (both methods) over memory streams, its line
// reader, and Encode followed by Decode.
#include "fuzz/pop3/Pop3Checks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    Pop3Checks::Codec(std::string_view(reinterpret_cast<const char*>(data), size), [](const char* what) {
        std::fprintf(stderr, "pop3 codec check failed: %s\n", what);
        std::abort();
    });
    return 0;
}
