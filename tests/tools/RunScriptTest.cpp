// scripts/run-purgel, run on a build folder whose purgel is a stand-in script that records
// what it was given and reads the demo server's greeting: the account file it writes (or
// leaves alone), the port it picks, and that the server is gone when it is done.

#include "tests/support/Files.h"
#include "tests/support/BlockingPop3.h"
#include "tests/support/DemoServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <sstream>
#include <utility>
#include <vector>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using testsupport::ReadFile;

// A socket listening on 127.0.0.1 at a port the system picks; closed when destroyed.
class Listener {
public:
    Listener()
    {
        FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(FSocket, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(FSocket, 4);
        ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&a), &len);
        FPort = ntohs(a.sin_port);
    }
    ~Listener() { ::close(FSocket); }
    int Port() const { return FPort; }

private:
    int FSocket = -1;
    int FPort = 0;
};

int FreePort()
{
    return Listener().Port();
}

const char FakePurgel[] = R"(#!/bin/bash
out="$(dirname "$0")/ran"
{ echo "cwd=$PWD"; echo "server=$PURGEL_DEMO_SERVER"; } >"$out"
if exec 3<>"/dev/tcp/${PURGEL_DEMO_SERVER%:*}/${PURGEL_DEMO_SERVER#*:}"; then
    read -r greeting <&3
    echo "greeting=$greeting" >>"$out"
fi
exit 7
)";

class RunScriptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(Build / "app");
        fs::create_directories(Build / "tools");
        std::ofstream(Build / "app/purgel") << FakePurgel;
        fs::permissions(Build / "app/purgel", fs::perms::owner_all);
        fs::create_symlink(testsupport::DemoServerProcess::Program(), Build / "tools/purgel-demo-server");
    }
    // Runs the script with a clean environment plus `env`; returns its exit status, its
    // output in Output.
    int Run(const std::map<std::string, std::string>& env)
    {
        std::string command = "env -i PATH=\"$PATH\"";
        for (const char* keep : {"TMPDIR", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
            if (std::getenv(keep))
                command += std::string(" ") + keep + "=\"$" + keep + "\"";
        for (const auto& [name, value] : env)
            command += " " + name + "='" + value + "'";
        command += " bash " + std::string(PURGEL_SOURCE_DIR) + "/scripts/run-purgel '" + Build.string() + "' >'" +
                   (Build / "output").string() + "' 2>&1";
        const int status = std::system(command.c_str());
        Output = ReadFile(Build / "output");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // What the stand-in purgel recorded: name=value lines.
    std::map<std::string, std::string> Recorded() const
    {
        std::map<std::string, std::string> values;
        std::istringstream in(ReadFile(Build / "app/ran"));
        for (std::string line; std::getline(in, line);)
            values[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
        return values;
    }
    fs::path Accounts() const { return Build / "app/Account.lst"; }

    testsupport::TempFolder Folder{"purgel-run"};
    const fs::path& Build = Folder.Path();
    std::string Output;
};

}  // namespace

TEST_F(RunScriptTest, WritesTheDemoAccountAndRunsPurgelAgainstTheServer)
{
    const int port = FreePort();
    // A record of an earlier demo account is replaced; the window's settings stay.
    std::ofstream(Build / "app/purgel.ini", std::ios::binary) << "[Demo]\r\nAccount=demo@127.0.0.1:1\r\n[Main]\r\nFormWidth=600\r\n";
    ASSERT_EQ(Run({{"QT_QPA_PLATFORM", "offscreen"}, {"PURGEL_DEMO_PORT", std::to_string(port)}}), 7)
        << "purgel's exit status is passed on\n" << Output;
    // Shift-JIS "デモ", six quoted fields, CR LF.
    EXPECT_EQ(ReadFile(Accounts()),
              "\"\x83" "f\x83\x82\",\"demo\",\"demo\",\"127.0.0.1\",\"30\",\"" + std::to_string(port) + "\"\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(Accounts().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "it holds a password";
    EXPECT_EQ(ReadFile(Build / "app/purgel.ini"),
              "[Main]\r\nFormWidth=600\r\n[Demo]\r\nAccount=demo@127.0.0.1:" + std::to_string(port) + "\r\n");

    const auto recorded = Recorded();
    EXPECT_EQ(recorded.at("server"), "127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(recorded.at("cwd"), (Build / "run").string());
    EXPECT_EQ(recorded.at("greeting").rfind("+OK", 0), 0u) << "the server ran while purgel did";
    EXPECT_FALSE(testsupport::BlockingPop3(port).Connected()) << "the server is stopped afterwards";
}

TEST_F(RunScriptTest, LeavesAnExistingAccountFileAloneAndTakesAFreePortWhenTheUsualIsBusy)
{
    const std::string mine = "\"mine\",\"me\",\"secret\",\"pop.example.jp\",\"30\",\"110\"\r\n";
    std::ofstream(Accounts(), std::ios::binary) << mine;
    fs::permissions(Accounts(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    Listener busy;
    ASSERT_EQ(Run({{"DISPLAY", ":99"}, {"PURGEL_DEMO_PORT", std::to_string(busy.Port())}}), 7) << Output;
    EXPECT_EQ(ReadFile(Accounts()), mine);
    EXPECT_FALSE(fs::exists(Build / "app/purgel.ini")) << "no demo account was written";
    struct stat st {};
    ASSERT_EQ(::stat(Accounts().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    const std::string server = Recorded().at("server");
    const int port = std::atoi(server.substr(server.find(':') + 1).c_str());
    EXPECT_NE(port, busy.Port());
    EXPECT_EQ(Recorded().at("greeting").rfind("+OK", 0), 0u);
    EXPECT_NE(Output.find("port " + std::to_string(port)), std::string::npos) << Output;
    EXPECT_NE(Output.find("left alone"), std::string::npos) << Output;
    EXPECT_NE(Output.find("in use"), std::string::npos) << Output;
}

TEST_F(RunScriptTest, WithoutADisplayOrWithQtsOpenVncItSaysSoAndStartsNothing)
{
    const std::vector<std::pair<std::map<std::string, std::string>, std::string>> cases = {
        {{}, "no display"},
        {{{"QT_QPA_PLATFORM", "vnc"}}, "QT_QPA_PLATFORM=vnc refused"},
        {{{"QT_QPA_PLATFORM", "vnc:size=1024x768"}, {"DISPLAY", ":99"}}, "without a\npassword"}};
    for (const auto& [env, said] : cases) {
        EXPECT_EQ(Run(env), 1) << said;
        EXPECT_NE(Output.find(said), std::string::npos) << Output;
        EXPECT_NE(Output.find("ssh -X"), std::string::npos) << Output;
        EXPECT_FALSE(fs::exists(Accounts()));
        EXPECT_FALSE(fs::exists(Build / "app/ran"));
    }
}

TEST_F(RunScriptTest, AMissingBuildIsReported)
{
    fs::remove(Build / "app/purgel");
    EXPECT_EQ(Run({{"DISPLAY", ":99"}}), 1);
    EXPECT_NE(Output.find("build first"), std::string::npos) << Output;
}
