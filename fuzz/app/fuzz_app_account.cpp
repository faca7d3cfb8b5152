// libFuzzer target: the "Account.lst" reader and writer.
#include "fuzz/app/AccountChecks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    AccountChecks::All(std::string_view(reinterpret_cast<const char*>(data), size), [](const char* what) {
        std::fprintf(stderr, "account file check failed: %s\n", what);
        std::abort();
    });
    return 0;
}
