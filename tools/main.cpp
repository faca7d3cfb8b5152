// purgel-demo-server: a POP3 server on 127.0.0.1 with a mailbox to try Purgel on.
//
//   purgel-demo-server [--port N] [--print-port] [--port-file FILE] [--mailbox DIR]
//                      [--seed N] [--user NAME] [--password TEXT] [--exit-with-parent]
//
// Exit status: 0 after SIGTERM/SIGINT/SIGHUP, 2 for bad options, 3 when the port is in
// use, 1 for any other failure to start.

#include "tools/DemoMailbox.h"
#include "tools/DemoServer.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr int DefaultPort = 11110;

struct Options {
    int Port = DefaultPort;
    bool PrintPort = false;
    std::string PortFile;
    std::string Mailbox;
    unsigned Seed = 1;
    std::string User;
    std::string Password = "demo";
    bool ExitWithParent = false;
};

const char UsageText[] =
    "usage: purgel-demo-server [options]\n"
    "  --port N            listen on 127.0.0.1:N (default 11110; 0 picks a free port)\n"
    "  --print-port        write the port number as the first line of standard output\n"
    "  --port-file FILE    write the port number into FILE once listening\n"
    "  --mailbox DIR       serve the message files of DIR (read at each login; deleting\n"
    "                      a message at QUIT deletes its file) instead of the demo mailbox\n"
    "  --seed N            vary the generated demo mailbox (default 1)\n"
    "  --user NAME         accept only this user name (default: any)\n"
    "  --password TEXT     the password (default: demo)\n"
    "  --exit-with-parent  stop when the process that started the server ends\n";

[[noreturn]] void Usage(const std::string& problem)
{
    std::fprintf(stderr, "purgel-demo-server: %s\n%s", problem.c_str(), UsageText);
    std::exit(2);
}

bool ParseUnsigned(const char* text, unsigned long max, unsigned long& value)
{
    char* end = nullptr;
    errno = 0;
    if (!text || !*text || *text == '-' || *text == '+')
        return false;
    value = std::strtoul(text, &end, 10);
    return errno == 0 && *end == '\0' && value <= max;
}

Options ParseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc)
                Usage(a + " needs a value");
            return argv[++i];
        };
        unsigned long n = 0;
        if (a == "--port") {
            if (!ParseUnsigned(value(), 65535, n))
                Usage("--port takes a number from 0 to 65535");
            o.Port = static_cast<int>(n);
        } else if (a == "--print-port") {
            o.PrintPort = true;
        } else if (a == "--port-file") {
            o.PortFile = value();
        } else if (a == "--mailbox") {
            o.Mailbox = value();
        } else if (a == "--seed") {
            if (!ParseUnsigned(value(), 0xFFFFFFFFul, n))
                Usage("--seed takes a number");
            o.Seed = static_cast<unsigned>(n);
        } else if (a == "--user") {
            o.User = value();
        } else if (a == "--password") {
            o.Password = value();
        } else if (a == "--exit-with-parent") {
            o.ExitWithParent = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(UsageText, stdout);
            std::exit(0);
        } else {
            Usage("unknown option " + a);
        }
    }
    return o;
}

// Written beside the target and renamed, so a reader never sees half a number.
bool WritePortFile(const std::string& path, int port)
{
    const std::string tmp = path + ".tmp";
    const std::string text = std::to_string(port) + "\n";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return written && std::rename(tmp.c_str(), path.c_str()) == 0;
}

int SignalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(SignalPipe[1], &c, 1);
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = ParseOptions(argc, argv);
    if (options.ExitWithParent) {
        const pid_t parent = ::getppid();
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            return 0;  // the parent is already gone
    }
    if (!options.Mailbox.empty() && !std::filesystem::is_directory(options.Mailbox)) {
        std::fprintf(stderr, "purgel-demo-server: %s is not a folder\n", options.Mailbox.c_str());
        return 2;
    }

    // Signals reach the event loop through a pipe: the loop ends and everything is torn
    // down in order.
    if (::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return 1;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(s, &action, nullptr);

    QCoreApplication app(argc, argv);
    QSocketNotifier signalNotifier(SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    std::string what;
    std::shared_ptr<demo::MessageStore> store;
    if (options.Mailbox.empty()) {
        const auto started = std::chrono::steady_clock::now();
        std::vector<demo::DemoMessage> mailbox = demo::GenerateMailbox(options.Seed);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        what = std::to_string(mailbox.size()) + " generated messages (made in " + std::to_string(ms.count()) + " ms)";
        store = demo::MessageStore::InMemory(demo::ToStoredMessages(std::move(mailbox), options.Seed));
    } else {
        what = "the message files of " + options.Mailbox;
        store = demo::MessageStore::Folder(options.Mailbox);
    }

    int status = 0;
    {
        TDemoPop3Server server(nullptr);
        server.Store = store;
        server.Credentials = {options.User, options.Password};
        int port = 0;
        try {
            port = server.ListenOnLoopback(options.Port);
        } catch (const ESockError& e) {
            std::fprintf(stderr, "purgel-demo-server: %s\n", e.Message.c_str());
            return server.AddressInUse ? 3 : 1;
        }
        if (!options.PortFile.empty() && !WritePortFile(options.PortFile, port)) {
            std::fprintf(stderr, "purgel-demo-server: cannot write %s\n", options.PortFile.c_str());
            return 1;
        }
        if (options.PrintPort) {
            std::printf("%d\n", port);
            std::fflush(stdout);
        }
        const std::string user = options.User.empty() ? "any user name" : "user \"" + options.User + "\"";
        std::fprintf(stderr,
                     "purgel-demo-server: serving %s on 127.0.0.1 port %d (%s, password \"%s\"); "
                     "stop it with Ctrl-C\n",
                     what.c_str(), port, user.c_str(), options.Password.c_str());
        status = app.exec();
    }  // the server cancels and waits for its connections; unfinished sessions delete nothing
    if (!options.PortFile.empty())
        ::unlink(options.PortFile.c_str());
    return status;
}
