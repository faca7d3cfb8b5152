// libFuzzer target: the input is a POP3 server's side of a whole dialogue, played over a
// loopback connection to Connect, GetSummary, List, GetMailMessage and Disconnect.
#include "fuzz/pop3/DialogueReplay.h"

#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {
std::unique_ptr<Pop3Checks::DialogueReplay> Replay;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The component's waits pump the thread's messages: they need the application object.
    static QCoreApplication app(*argc, *argv);
    Replay = std::make_unique<Pop3Checks::DialogueReplay>(std::filesystem::temp_directory_path()
                                                          / ("purgel-fuzz-pop3-" + std::to_string(::getpid())));
    std::atexit([] { Replay.reset(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    Replay->Run(std::string_view(reinterpret_cast<const char*>(data), size), [](const char* what) {
        std::fprintf(stderr, "pop3 dialogue check failed: %s\n", what);
        std::abort();
    });
    return 0;
}
