// The demo server's POP3 dialogue, seen on the wire by a plain blocking client: the server
// runs as its own program (tests/support/DemoServer.h), serving a folder of message files
// or its generated mailbox.

#include "tests/support/Files.h"
#include "tests/support/BlockingPop3.h"
#include "tests/support/DemoServer.h"
#include "tools/DemoMailbox.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

namespace fs = std::filesystem;
using FreshFolder = testsupport::TempFolder;
using testsupport::BlockingPop3;
using testsupport::DemoServerProcess;

namespace {

bool IsOk(const std::string& reply) { return reply.rfind("+OK", 0) == 0; }
bool IsErr(const std::string& reply) { return reply.rfind("-ERR", 0) == 0; }

const std::string First = "From: a@example.jp\r\nSubject: one\r\n\r\nline 1\r\nline 2\r\nline 3\r\n";
// Lines that must be dot-stuffed on the wire, one of them a lone "." that would otherwise
// end the reply.
const std::string Dotted = "Subject: dots\r\n\r\n.\r\n..x\r\n.hidden\r\nend.\r\n";
// Written with LF only and without a final line end: served with CR LF throughout.
const std::string LfOnly = "Subject: lf\n\nfirst\nlast";
const std::string LfOnlyServed = "Subject: lf\r\n\r\nfirst\r\nlast\r\n";

class DialogueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Put("a-first.eml", First);
        Put("b-dotted.eml", Dotted);
        Put("c-lf.eml", LfOnly);
        Server.Start({"--mailbox", Folder.string()});
    }
    void TearDown() override { Server.Stop(); }
    void Put(const std::string& name, const std::string& bytes)
    {
        std::ofstream(Folder / name, std::ios::binary) << bytes;
    }
    int Files() const
    {
        return static_cast<int>(std::distance(fs::directory_iterator(Folder), fs::directory_iterator()));
    }

    FreshFolder Mail{"purgel-dialogue"};
    const fs::path& Folder = Mail.Path();
    DemoServerProcess Server;
};

}  // namespace

TEST_F(DialogueTest, BeforeLoginOnlyUserPassQuitAndCapaAreServed)
{
    BlockingPop3 c(Server.Port());
    EXPECT_EQ(c.Line(), "+OK Purgel demo POP3 server ready.\r\n");
    for (const char* command : {"STAT", "LIST", "UIDL 1", "RETR 1", "TOP 1 0", "DELE 1", "RSET", "NOOP"})
        EXPECT_TRUE(IsErr(c.Command(command))) << command;
    EXPECT_TRUE(IsErr(c.Command("PASS demo"))) << "PASS before USER";
    EXPECT_TRUE(IsErr(c.Command("HELO there"))) << "unknown command";
    EXPECT_TRUE(IsErr(c.Command(""))) << "empty line";
    EXPECT_EQ(c.Multi("CAPA"), "+OK Capability list follows\r\nTOP\r\nUSER\r\nUIDL\r\n.\r\n");
    EXPECT_TRUE(IsErr(c.Command("USER")));
    EXPECT_TRUE(IsOk(c.Command("user anyone"))) << "commands are case-insensitive";
    EXPECT_TRUE(IsErr(c.Command("PASS wrong")));
    EXPECT_TRUE(IsErr(c.Command("PASS demo"))) << "a failed PASS needs a new USER";
    EXPECT_TRUE(c.TryLogin("someone else", "demo"));
    EXPECT_TRUE(IsErr(c.Command("USER again")));
    EXPECT_TRUE(IsErr(c.Command("PASS demo")));
    EXPECT_EQ(c.Command("QUIT"), "+OK Logging out.\r\n");

    BlockingPop3 early(Server.Port());
    early.Line();
    EXPECT_EQ(early.Command("QUIT"), "+OK Logging out.\r\n");
    EXPECT_TRUE(early.ClosedByServer()) << "the server closes after QUIT, also when the client does not";
}

TEST_F(DialogueTest, OnlyTheGivenUserAndPasswordLogIn)
{
    Server.Stop();
    Server.Start({"--mailbox", Folder.string(), "--user", "alice", "--password", "pass with blanks"});
    BlockingPop3 c(Server.Port());
    c.Line();
    EXPECT_FALSE(c.TryLogin("bob", "pass with blanks"));
    EXPECT_FALSE(c.TryLogin("alice", "demo"));
    EXPECT_TRUE(c.TryLogin("alice", "pass with blanks"));
}

TEST_F(DialogueTest, StatListAndUidlDescribeTheFolder)
{
    BlockingPop3 c(Server.Port());
    c.Line();
    ASSERT_TRUE(c.TryLogin());
    const std::size_t total = First.size() + Dotted.size() + LfOnlyServed.size();
    EXPECT_EQ(c.Command("STAT"), "+OK 3 " + std::to_string(total) + "\r\n");
    EXPECT_EQ(c.Multi("LIST"), "+OK 3 messages (" + std::to_string(total) + " octets)\r\n1 " +
                                   std::to_string(First.size()) + "\r\n2 " + std::to_string(Dotted.size()) +
                                   "\r\n3 " + std::to_string(LfOnlyServed.size()) + "\r\n.\r\n");
    EXPECT_EQ(c.Command("LIST 2"), "+OK 2 " + std::to_string(Dotted.size()) + "\r\n");
    EXPECT_EQ(c.Multi("UIDL"), "+OK\r\n1 a-first.eml\r\n2 b-dotted.eml\r\n3 c-lf.eml\r\n.\r\n");
    EXPECT_EQ(c.Command("UIDL 3"), "+OK 3 c-lf.eml\r\n");
    // Numbers that name no message.
    for (const char* command : {"LIST 0", "LIST 4", "LIST x", "LIST -1", "LIST +1", "LIST 1 2", "UIDL 4",
                                "LIST 99999999999999999999999", "RETR", "RETR 1 2", "DELE 0", "TOP 1", "TOP 1 x",
                                "TOP 1 -1", "TOP 9 0"})
        EXPECT_TRUE(IsErr(c.Command(command))) << command;
    EXPECT_TRUE(IsErr(c.Command("XTND list"))) << "unknown commands are refused after login too";
    EXPECT_EQ(c.Command("NOOP"), "+OK\r\n");
    EXPECT_EQ(c.Command("STAT"), "+OK 3 " + std::to_string(total) + "\r\n") << "the session is still fine";
}

TEST_F(DialogueTest, RetrAndTopAreDotStuffedOnTheWire)
{
    BlockingPop3 c(Server.Port());
    c.Line();
    ASSERT_TRUE(c.TryLogin());
    EXPECT_EQ(c.Multi("RETR 1"), "+OK " + std::to_string(First.size()) + " octets\r\n" + First + ".\r\n");
    EXPECT_EQ(c.Multi("RETR 2"), "+OK " + std::to_string(Dotted.size()) +
                                     " octets\r\nSubject: dots\r\n\r\n..\r\n...x\r\n..hidden\r\nend.\r\n.\r\n");
    EXPECT_EQ(c.Multi("RETR 3"), "+OK " + std::to_string(LfOnlyServed.size()) + " octets\r\n" + LfOnlyServed + ".\r\n");
    EXPECT_EQ(c.Multi("TOP 1 0"), "+OK\r\nFrom: a@example.jp\r\nSubject: one\r\n\r\n.\r\n");
    EXPECT_EQ(c.Multi("TOP 1 2"), "+OK\r\nFrom: a@example.jp\r\nSubject: one\r\n\r\nline 1\r\nline 2\r\n.\r\n");
    EXPECT_EQ(c.Multi("TOP 1 99999999999999999999"), "+OK\r\n" + First + ".\r\n");
    EXPECT_EQ(c.Multi("TOP 2 1"), "+OK\r\nSubject: dots\r\n\r\n..\r\n.\r\n");
}

TEST_F(DialogueTest, DeletionsHappenOnlyAtQuitAndRsetForgetsThem)
{
    {
        BlockingPop3 c(Server.Port());
        c.Line();
        ASSERT_TRUE(c.TryLogin());
        EXPECT_EQ(c.Command("DELE 1"), "+OK Marked to be deleted.\r\n");
        EXPECT_EQ(c.Command("DELE 2"), "+OK Marked to be deleted.\r\n");
        EXPECT_TRUE(IsErr(c.Command("DELE 1"))) << "already marked";
        EXPECT_TRUE(IsErr(c.Command("RETR 1")));
        EXPECT_TRUE(IsErr(c.Command("TOP 1 0")));
        EXPECT_TRUE(IsErr(c.Command("LIST 1")));
        EXPECT_TRUE(IsErr(c.Command("UIDL 2")));
        EXPECT_EQ(c.Command("STAT"), "+OK 1 " + std::to_string(LfOnlyServed.size()) + "\r\n");
        EXPECT_EQ(c.Multi("UIDL"), "+OK\r\n3 c-lf.eml\r\n.\r\n") << "marked messages keep their numbers";
        EXPECT_EQ(Files(), 3) << "nothing is gone before QUIT";
        EXPECT_EQ(c.Command("RSET"), "+OK\r\n");
        EXPECT_TRUE(IsOk(c.Command("RETR 1"))) << "RSET took the mark away";
        c.UpToDot();
        EXPECT_TRUE(IsOk(c.Command("DELE 3")));
        EXPECT_EQ(c.Command("QUIT"), "+OK Logging out, messages deleted.\r\n");
        EXPECT_EQ(Files(), 2) << "QUIT has removed the file before its reply";
    }
    EXPECT_FALSE(fs::exists(Folder / "c-lf.eml"));
}

TEST_F(DialogueTest, ASessionEndingWithoutQuitDeletesNothing)
{
    {
        BlockingPop3 c(Server.Port());
        c.Line();
        ASSERT_TRUE(c.TryLogin());
        ASSERT_TRUE(IsOk(c.Command("DELE 1")));
        ASSERT_TRUE(IsOk(c.Command("DELE 2")));
    }  // dropped
    BlockingPop3 next(Server.Port());
    next.Line();
    ASSERT_TRUE(next.TryLogin());
    EXPECT_EQ(next.Command("STAT").substr(0, 6), "+OK 3 ");
    EXPECT_EQ(Files(), 3);
}

TEST_F(DialogueTest, TwoClientsOneAfterTheOtherSeeEachOthersChanges)
{
    {
        BlockingPop3 first(Server.Port());
        first.Line();
        ASSERT_TRUE(first.TryLogin());
        ASSERT_TRUE(IsOk(first.Command("DELE 1")));
        // A client that logs in meanwhile works on the mailbox as it was at its login.
        BlockingPop3 meanwhile(Server.Port());
        meanwhile.Line();
        ASSERT_TRUE(meanwhile.TryLogin());
        EXPECT_EQ(meanwhile.Command("STAT").substr(0, 6), "+OK 3 ");
        ASSERT_TRUE(IsOk(first.Command("QUIT")));
        EXPECT_EQ(meanwhile.Command("UIDL 1"), "+OK 1 a-first.eml\r\n");
        EXPECT_TRUE(IsOk(meanwhile.Command("RETR 1"))) << "read at login, the message stays readable";
        meanwhile.UpToDot();
        EXPECT_TRUE(IsOk(meanwhile.Command("DELE 1"))) << "deleting what is already gone";
        EXPECT_TRUE(IsOk(meanwhile.Command("QUIT")));
    }
    Put("d-new.eml", "Subject: new\r\n\r\nhello\r\n");
    BlockingPop3 second(Server.Port());
    second.Line();
    ASSERT_TRUE(second.TryLogin());
    EXPECT_EQ(second.Multi("UIDL"), "+OK\r\n1 b-dotted.eml\r\n2 c-lf.eml\r\n3 d-new.eml\r\n.\r\n")
        << "the folder is read anew at each login";
    EXPECT_TRUE(IsOk(second.Command("QUIT")));
}

TEST_F(DialogueTest, ListensOnTheLoopbackAddressOnly)
{
    BlockingPop3 loopback(Server.Port());
    EXPECT_TRUE(loopback.Connected());
    // Another address of the loopback network reaches every socket bound to all addresses.
    BlockingPop3 other(Server.Port(), "127.0.0.2");
    EXPECT_FALSE(other.Connected());
}

TEST_F(DialogueTest, ExitsCleanlyOnSigtermWithAClientConnected)
{
    BlockingPop3 c(Server.Port());
    c.Line();
    ASSERT_TRUE(c.TryLogin());
    ASSERT_TRUE(IsOk(c.Command("DELE 1")));
    const int status = Server.Stop();
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(c.ClosedByServer());
    EXPECT_EQ(Files(), 3) << "the interrupted session deleted nothing";
}

TEST(DemoServerProgram, ReportsABusyPortAndBadOptionsByItsExitStatus)
{
    FreshFolder empty("purgel-empty");
    DemoServerProcess first;
    first.Start({"--mailbox", empty.Path().string()});
    const std::string program = DemoServerProcess::Program();
    auto run = [&](const std::string& args) {
        const int status = std::system((program + " " + args + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run("--port " + std::to_string(first.Port())), 3);
    EXPECT_EQ(run("--port 70000"), 2);
    EXPECT_EQ(run("--seed x"), 2);
    EXPECT_EQ(run("--frobnicate"), 2);
    EXPECT_EQ(run("--mailbox /nonexistent/folder"), 2);
}

TEST(DemoServerProgram, TakesTheSamePortAgainRightAfterASession)
{
    // What lets `make run` keep its fixed port from one run to the next.
    FreshFolder empty("purgel-empty");
    DemoServerProcess server;
    server.Start({"--mailbox", empty.Path().string()});
    const int port = server.Port();
    {
        BlockingPop3 c(port);
        c.Line();
        ASSERT_TRUE(c.TryLogin());
        ASSERT_TRUE(IsOk(c.Command("QUIT")));
    }
    server.Stop();
    server.Start({"--mailbox", empty.Path().string(), "--port", std::to_string(port)});
    EXPECT_EQ(server.Port(), port);
}

TEST(DemoServerProgram, WritesAPortFileAndRemovesItAtExit)
{
    const FreshFolder scratch("purgel-port");
    const fs::path file = scratch / "port";
    FreshFolder empty("purgel-empty");
    DemoServerProcess server;
    server.Start({"--mailbox", empty.Path().string(), "--port-file", file.string()});
    std::ifstream in(file);
    int port = 0;
    in >> port;
    EXPECT_EQ(port, server.Port());
    server.Stop();
    EXPECT_FALSE(fs::exists(file));
}

TEST(DemoServerProgram, ServesItsGeneratedMailboxAndKeepsDeletionsWhileItRuns)
{
    const std::vector<demo::DemoMessage> expected = demo::GenerateMailbox(7);
    DemoServerProcess server;
    server.Start({"--seed", "7"});
    {
        BlockingPop3 c(server.Port());
        c.Line();
        ASSERT_TRUE(c.TryLogin("whoever", "demo"));
        EXPECT_EQ(c.Command("STAT").substr(0, 8), "+OK 300 ");
        EXPECT_EQ(c.Multi("RETR 2"), "+OK " + std::to_string(expected[1].Raw.size()) + " octets\r\n" +
                                         expected[1].Raw + ".\r\n");
        EXPECT_EQ(c.Command("UIDL 300"), "+OK 300 demo-7-0300\r\n");
        ASSERT_TRUE(IsOk(c.Command("DELE 1")));
        ASSERT_TRUE(IsOk(c.Command("QUIT")));
    }
    BlockingPop3 again(server.Port());
    again.Line();
    ASSERT_TRUE(again.TryLogin("other", "demo"));
    EXPECT_EQ(again.Command("STAT").substr(0, 8), "+OK 299 ");
    EXPECT_EQ(again.Command("UIDL 1"), "+OK 1 demo-7-0002\r\n");
}
