// libFuzzer target: mime::MessageText (see MimeChecks::Message).
#include "fuzz/mime/MimeChecks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    MimeChecks::Message(std::string_view(reinterpret_cast<const char*>(data), size), [](const char* what) {
        std::fprintf(stderr, "mime check failed: %s\n", what);
        std::abort();
    });
    return 0;
}
