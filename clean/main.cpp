// purgel-clean's entry: the process's streams and terminal behind a run (clean/Cleaner.h).
#include <QCoreApplication>
#include <iostream>
#include <termios.h>
#include <unistd.h>

#include "clean/Cleaner.h"
#include "runtime/SysUtils.h"

namespace {
// A line read from the terminal without echo; none at the end of input.
std::optional<std::string> AskSecret(const std::string& prompt)
{
    std::cerr << prompt << std::flush;
    termios saved{};
    const bool quiet = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    if (quiet)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << std::endl;
    if (!read)
        return std::nullopt;
    return line;
}
}  // namespace

int main(int argc, char** argv)
{
#ifdef PURGEL_NO_CORE_FILES
    DisableCoreDumps();
#endif
    // Qt Core only: the session's waits run its event dispatcher, no display is needed.
    QCoreApplication app(argc, argv);
    TCleanIo io{std::cout, std::cerr, LanguageOfEnvironment(), isatty(STDERR_FILENO) == 1, nullptr};
    if (isatty(STDIN_FILENO) == 1)
        io.AskSecret = AskSecret;
    return RunClean(std::vector<std::string>(argv + 1, argv + argc), io);
}
