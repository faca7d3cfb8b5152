// libFuzzer target: mime::HeaderText (see MimeChecks::Header).
#include "fuzz/mime/MimeChecks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    MimeChecks::Header(std::string_view(reinterpret_cast<const char*>(data), size), [](const char* what) {
        std::fprintf(stderr, "mime check failed: %s\n", what);
        std::abort();
    });
    return 0;
}
