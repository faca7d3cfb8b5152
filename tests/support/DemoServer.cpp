#include "tests/support/DemoServer.h"
#include "tests/support/Files.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

using testsupport::MakeTempFolder;

namespace {
using Clock = std::chrono::steady_clock;

// The first line the child writes to the pipe, or "" when none comes before the deadline
// or the child closes it.
std::string FirstLine(int fd, Clock::time_point deadline)
{
    std::string line;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return "";
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return "";
        char buf[64];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return "";
        line.append(buf, static_cast<std::size_t>(n));
    }
    return line.substr(0, line.find('\n'));
}
}  // namespace

namespace testsupport {

DemoServerProcess::DemoServerProcess() : FFolder(MakeTempFolder("purgel-demo-log")) {}

DemoServerProcess::~DemoServerProcess()
{
    Stop();
    std::error_code ec;
    fs::remove_all(FFolder, ec);
}

std::string DemoServerProcess::Program()
{
    return PURGEL_DEMO_SERVER;
}

std::string DemoServerProcess::ErrorOutput() const
{
    std::ifstream f(FFolder + "/stderr", std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void DemoServerProcess::Start(const std::vector<std::string>& args)
{
    if (Running())
        throw std::runtime_error("the demo server is already running");
    std::vector<std::string> argv = {Program(), "--port", "0", "--print-port"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed: " + std::string(std::strerror(errno)));
    const int errFd = ::open((FFolder + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec; the server goes when the test goes.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(nullFd, 0);
        ::dup2(out[1], 1);
        ::dup2(errFd, 2);
        ::execv(cargv[0], cargv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(errFd);
    ::close(nullFd);
    if (pid < 0) {
        ::close(out[0]);
        throw std::runtime_error("fork failed: " + std::string(std::strerror(errno)));
    }
    FPid = pid;
    const std::string line = FirstLine(out[0], Clock::now() + std::chrono::seconds(30));
    ::close(out[0]);
    FPort = std::atoi(line.c_str());
    if (FPort <= 0) {
        Stop();
        throw std::runtime_error("the demo server did not start: " + ErrorOutput());
    }
}

int DemoServerProcess::Stop()
{
    if (FPid <= 0)
        return -1;
    const pid_t pid = FPid;
    FPid = -1;
    FPort = 0;
    ::kill(pid, SIGTERM);
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            return status;
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace testsupport

namespace {

class DemoPopServer : public PopServer {
public:
    DemoPopServer() : FFolder(MakeTempFolder("purgel-demo-mail")) {}
    ~DemoPopServer() override
    {
        FServer.Stop();
        std::error_code ec;
        fs::remove_all(FFolder, ec);
    }

    void Start(const std::string& user, const std::string& password) override
    {
        FServer.Start({"--mailbox", FFolder, "--user", user, "--password", password});
    }
    void Stop() override { FServer.Stop(); }
    int Port() const override { return FServer.Port(); }

    // Names that sort in the order of adding; written aside and renamed, so a session
    // never reads half a message.
    std::string AddMessage(const std::string& raw) override
    {
        char name[32];
        std::snprintf(name, sizeof name, "%08u.eml", ++FSequence);
        const std::string path = FFolder + "/" + name;
        const std::string tmp = FFolder + "/.adding";
        {
            std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
            f.write(raw.data(), static_cast<std::streamsize>(raw.size()));
            if (!f)
                throw std::runtime_error("cannot write " + tmp);
        }
        fs::rename(tmp, path);
        return path;
    }

    int CountMessages() const override { return static_cast<int>(Files().size()); }

    void ClearMessages() override
    {
        for (const fs::path& f : Files())
            fs::remove(f);
    }

private:
    std::vector<fs::path> Files() const
    {
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(FFolder))
            if (e.is_regular_file() && e.path().filename().string()[0] != '.')
                files.push_back(e.path());
        return files;
    }

    std::string FFolder;
    unsigned FSequence = 0;
    testsupport::DemoServerProcess FServer;
};

}  // namespace

std::unique_ptr<PopServer> MakeDemoPopServer()
{
    return std::make_unique<DemoPopServer>();
}
