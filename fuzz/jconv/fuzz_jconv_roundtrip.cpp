// libFuzzer target: jis2sjis(sjis2jis83(x)) == x for Shift-JIS texts of ASCII and JIS X 0208 characters.
#include "fuzz/jconv/JconvChecks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    JconvChecks::RoundTrip(std::string_view(reinterpret_cast<const char*>(data), size), [](const char* what) {
        std::fprintf(stderr, "jconv check failed: %s\n", what);
        std::abort();
    });
    return 0;
}
