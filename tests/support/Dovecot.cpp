#include "tests/support/Dovecot.h"
#include "tests/support/Files.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <random>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;
using Clock = std::chrono::steady_clock;

void Own(const std::string& path, uid_t uid, gid_t gid)
{
    if (::geteuid() == 0 && ::lchown(path.c_str(), uid, gid) != 0)
        throw std::runtime_error("cannot chown " + path + ": " + std::strerror(errno));
}

// A port nobody listens on right now; Start retries when another test takes it first.
int FreePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (s >= 0)
        ::close(s);
    if (port == 0)
        throw std::runtime_error("no free port on 127.0.0.1");
    return port;
}

// The greeting of the server on port, or empty when none arrives in time.
std::string Greeting(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return {};
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    std::string line;
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        char c = 0;
        while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
            pollfd p{s, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            if (::recv(s, &c, 1, 0) != 1)
                break;
            line += c;
        }
    }
    ::close(s);
    return line;
}

std::string Token()
{
    std::random_device rd;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%08x%08x", rd(), rd());
    return buf;
}

struct Identity {
    uid_t MailUid;
    gid_t MailGid;
    std::string LoginUser, InternalUser, InternalGroup;
};

// Root runs mail as "dovecot" and logins as "dovenull"; any other user runs all of it.
Identity WhoRuns()
{
    if (::geteuid() == 0) {
        const passwd* pw = ::getpwnam("dovecot");
        if (pw == nullptr)
            throw std::runtime_error("the user dovecot is missing (install dovecot-pop3d)");
        const uid_t uid = pw->pw_uid;  // copied: the next look-up reuses the record
        const gid_t gid = pw->pw_gid;
        if (::getpwnam("dovenull") == nullptr)
            throw std::runtime_error("the user dovenull is missing (install dovecot-pop3d)");
        const group* gr = ::getgrgid(gid);
        return {uid, gid, "dovenull", "dovecot", gr ? gr->gr_name : "dovecot"};
    }
    const passwd* pw = ::getpwuid(::geteuid());
    const group* gr = ::getgrgid(::getegid());
    if (pw == nullptr || gr == nullptr)
        throw std::runtime_error("the current user or group has no name; Dovecot needs one");
    return {pw->pw_uid, gr->gr_gid, pw->pw_name, pw->pw_name, gr->gr_name};
}

// True while a live (not yet dead) process of the group remains. Dead children of the
// master wait for init to collect them, which can take seconds; they hold no socket.
bool GroupAlive(pid_t group)
{
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
        const std::string name = e.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string stat = ReadFile(e.path().string() + "/stat");
        const auto close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        int ppid = 0, pgrp = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d %d", &state, &ppid, &pgrp) == 3 && pgrp == group &&
            state != 'Z' && state != 'X')
            return true;
    }
    return false;
}

std::string DovecotBinary()
{
    for (const char* p : {"/usr/sbin/dovecot", "/usr/local/sbin/dovecot"})
        if (::access(p, X_OK) == 0)
            return p;
    throw std::runtime_error("dovecot not found (install dovecot-pop3d)");
}
}

DovecotServer::DovecotServer()
{
    FFolder = testsupport::MakeTempFolder("purgel-dovecot");
    // The mail user must reach its home below this folder.
    ::chmod(FFolder.c_str(), 0755);
    const Identity id = WhoRuns();
    FMailUid = id.MailUid;
    FMailGid = id.MailGid;
}

DovecotServer::~DovecotServer()
{
    try {
        Stop();
    } catch (...) {
    }
    std::error_code ec;
    fs::remove_all(FFolder, ec);
}

std::string DovecotServer::Maildir() const
{
    return FFolder + "/home/" + FUser + "/Maildir";
}

std::string DovecotServer::Log() const
{
    return ReadFile(FFolder + "/dovecot.log") + ReadFile(FFolder + "/dovecot.stderr");
}

void DovecotServer::PrepareMaildir()
{
    const std::string home = FFolder + "/home";
    fs::create_directories(Maildir() + "/tmp");
    fs::create_directories(Maildir() + "/new");
    fs::create_directories(Maildir() + "/cur");
    ::chmod(home.c_str(), 0755);
    Own(home + "/" + FUser, FMailUid, FMailGid);
    for (const auto& e : fs::recursive_directory_iterator(home + "/" + FUser))
        Own(e.path().string(), FMailUid, FMailGid);
}

void DovecotServer::WriteConfig() const
{
    const Identity id = WhoRuns();
    const std::string users = FFolder + "/users";
    // passwd-file: user:password:uid:gid:gecos:home:shell; unknown users are refused.
    WriteFile(users,
              FUser + ":{PLAIN}" + FPassword + ":" + std::to_string(FMailUid) + ":" + std::to_string(FMailGid) +
                  "::" + FFolder + "/home/" + FUser + "::\n",
              0600);
    Own(users, FMailUid, FMailGid);

    std::ostringstream c;
    c << "# Private test server: everything below " << FFolder << "\n"
      << "base_dir = " << FFolder << "/run\n"
      << "state_dir = " << FFolder << "/state\n"
      << "log_path = " << FFolder << "/dovecot.log\n"
      << "listen = 127.0.0.1\n"
      << "protocols = pop3\n"
      << TlsSettings()
      << "disable_plaintext_auth = no\n"
      << "auth_mechanisms = plain" << (FIntrospection.empty() ? "" : " xoauth2 oauthbearer") << "\n"
      // Refusals answer at once: tests of wrong passwords must not wait.
      << "auth_failure_delay = 0\n"
      << "login_trusted_networks = 127.0.0.0/8\n"
      << "login_greeting = " << FGreeting << "\n"
      << "default_login_user = " << id.LoginUser << "\n"
      << "default_internal_user = " << id.InternalUser << "\n"
      << "default_internal_group = " << id.InternalGroup << "\n"
      << "first_valid_uid = 1\n"
      << "first_valid_gid = 1\n"
      << "mail_location = maildir:~/Maildir\n"
      // A test server needs no durability, and 2,000-message mailboxes come up faster.
      << "mail_fsync = never\n"
      << "pop3_uidl_format = %08Xu%08Xv\n"
      << OAuthPassdb()
      << "passdb {\n  driver = passwd-file\n  args = " << users << "\n}\n"
      << "userdb {\n  driver = passwd-file\n  args = " << users << "\n}\n"
      // Only root may chroot; the test server does without.
      << "service anvil {\n  chroot =\n"
      // Without its penalty socket, auth drops the growing delay after failed logins.
      << "  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n}\n"
      << "service pop3-login {\n  chroot =\n"
      << "  inet_listener pop3 {\n    address = 127.0.0.1\n    port = " << FPort << "\n  }\n";
    if (FTlsPort != 0)
        c << "  inet_listener pop3s {\n    address = 127.0.0.1\n    port = " << FTlsPort << "\n    ssl = yes\n  }\n";
    c << "}\n";
    WriteFile(FFolder + "/dovecot.conf", c.str(), 0644);
}

std::string DovecotServer::OAuthPassdb() const
{
    if (FIntrospection.empty())
        return "";
    const std::string file = FFolder + "/oauth2.conf";
    WriteFile(file,
              "introspection_mode = post\nintrospection_url = " + FIntrospection +
                  "\nforce_introspection = yes\nusername_attribute = email\nactive_attribute = active\nactive_value = true\n",
              0644);
    return "passdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n  args = " + file + "\n}\n";
}

void DovecotServer::EnableTls(const std::string& certFile, const std::string& keyFile)
{
    if (Running())
        throw std::runtime_error("EnableTls after Start");
    FTlsCert = certFile;
    FTlsKey = keyFile;
}

std::string DovecotServer::TlsSettings() const
{
    if (FTlsCert.empty())
        return "ssl = no\n";
    // Dovecot 2.3 needs no ssl_dh: its ciphers use ECDHE.
    return "ssl = yes\nssl_cert = <" + FTlsCert + "\nssl_key = <" + FTlsKey + "\nssl_min_protocol = TLSv1.2\n";
}

void DovecotServer::Start(const std::string& user, const std::string& password)
{
    if (Running())
        throw std::runtime_error("the Dovecot server is already running");
    if (user.empty() || user.find_first_of("/:%\r\n\t ") != std::string::npos || user == "." || user == "..")
        throw std::runtime_error("unusable test user name: " + user);
    if (password.find_first_of(":\r\n") != std::string::npos)
        throw std::runtime_error("a test password cannot hold ':' or a line break");
    FUser = user;
    FPassword = password;
    FGreeting = "Purgel test server " + Token() + " ready.";
    PrepareMaildir();
    std::string failure;
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (FPort == 0)
            FPort = FreePort();
        while (!FTlsCert.empty() && (FTlsPort == 0 || FTlsPort == FPort))
            FTlsPort = FreePort();
        WriteConfig();
        if (Launch(failure))
            return;
        if (failure.find("Address already in use") == std::string::npos)
            break;
        FPort = FTlsPort = 0;  // another test took a port between our look and Dovecot's bind
    }
    throw std::runtime_error("Dovecot did not start:\n" + failure);
}

bool DovecotServer::Launch(std::string& failure)
{
    const std::string binary = DovecotBinary();
    const std::string conf = FFolder + "/dovecot.conf";
    const std::string err = FFolder + "/dovecot.stderr";
    ::unlink((FFolder + "/run/master.pid").c_str());
    const size_t logStart = ReadFile(FFolder + "/dovecot.log").size();
    const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (errFd < 0 || nullFd < 0)
        throw std::runtime_error("cannot open " + err);
    const char* argv[] = {"dovecot", "-F", "-c", conf.c_str(), nullptr};
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec. Own process group, so Stop kills the
        // master with all its children; the server goes when the test process goes.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(nullFd, 0);
        ::dup2(errFd, 1);
        ::dup2(errFd, 2);
        ::close_range(3, ~0U, 0);
        ::execv(binary.c_str(), const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(errFd);
    ::close(nullFd);
    if (pid < 0)
        throw std::runtime_error("fork failed: " + std::string(std::strerror(errno)));
    ::setpgid(pid, pid);
    FMaster = pid;

    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            FMaster = -1;
            ::kill(-pid, SIGKILL);  // anything the master left behind
            failure = ReadFile(FFolder + "/dovecot.log").substr(logStart) + ReadFile(err);
            return false;
        }
        // Our own greeting: a parallel test's server on the same port does not count.
        if (Greeting(FPort).find(FGreeting) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Stop();
    failure = "no greeting within 20 seconds\n" + Log();
    return false;
}

void DovecotServer::Stop()
{
    if (FMaster <= 0)
        return;
    const pid_t pid = FMaster;
    FMaster = -1;
    // SIGTERM would cost a second (the master waits for its log process); the mail on
    // disk is complete after every QUIT that was answered, so the whole group goes at once.
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // The children now belong to init; wait until they are gone too (listeners closed).
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (GroupAlive(pid) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::unlink((FFolder + "/run/master.pid").c_str());
}

void DovecotServer::Restart()
{
    Stop();
    Start(FUser, FPassword);
}

std::string DovecotServer::AddMessage(const std::string& raw, bool seen)
{
    if (FUser.empty())
        throw std::runtime_error("AddMessage before the first Start: no user yet");
    // Maildir names that sort in the order of delivery: Dovecot numbers new mail by them.
    const long long now = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::system_clock::now().time_since_epoch()).count();
    FLastStamp = std::max(now, FLastStamp + 1);
    char name[128];
    std::snprintf(name, sizeof name, "%lld.M%06lldP%dQ%u.purgel", FLastStamp / 1000000, FLastStamp % 1000000,
                  static_cast<int>(::getpid()), ++FSequence);
    const std::string tmp = Maildir() + "/tmp/" + name;
    const std::string final = Maildir() + (seen ? "/cur/" : "/new/") + name + (seen ? ":2,S" : "");
    WriteFile(tmp, raw, 0600);
    Own(tmp, FMailUid, FMailGid);
    if (::rename(tmp.c_str(), final.c_str()) != 0)
        throw std::runtime_error("cannot deliver " + final + ": " + std::strerror(errno));
    return final;
}

void DovecotServer::AddMessages(const std::vector<std::string>& raws)
{
    for (const std::string& raw : raws)
        AddMessage(raw);
}

std::vector<std::string> DovecotServer::MessageFiles() const
{
    std::vector<std::string> files;
    if (FUser.empty())
        return files;
    for (const char* sub : {"/new", "/cur"}) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(Maildir() + sub, ec))
            if (e.is_regular_file() && e.path().filename().string()[0] != '.')
                files.push_back(e.path().string());
    }
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        return fs::path(a).filename() < fs::path(b).filename();
    });
    return files;
}

void DovecotServer::ClearMessages()
{
    for (const std::string& f : MessageFiles())
        ::unlink(f.c_str());
}
