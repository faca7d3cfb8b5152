// Proves the private Dovecot fixture and the test mail it serves, with the blocking
// reference client, before the program's own client is pointed at it: what is checked here
// is the fixture and Dovecot's own behaviour, not the program.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>
#include <sys/socket.h>

#include "platform/TlsFilter.h"
#include "pop3/Nmuue.h"
#include "tests/support/BlockingPop3.h"
#include "tests/support/Dovecot.h"
#include "tests/support/Files.h"
#include "tests/support/Mailbox.h"
#include "tests/support/TestCerts.h"

namespace {
// Drives the TLS filter over the client's blocking socket: finishes the handshake, sends
// `command` and returns the plaintext once it holds `until` (less on failure or time-out).
std::string TlsReply(const testsupport::BlockingPop3& client, ws::TlsFilter& tls, const std::string& command,
                     const std::string& until)
{
    std::string plain, out;
    bool sent = command.empty();
    char buf[16384];
    for (;;) {
        if (tls.Handshake() == ws::TlsState::Established) {
            sent = sent || tls.WritePlain(command.data(), command.size());
            tls.ReadPlain(plain, sizeof buf);
        }
        if (tls.TakeOutput(out) > 0)
            ::send(client.Socket(), out.data(), out.size(), MSG_NOSIGNAL);
        out.clear();
        const bool over = tls.State() == ws::TlsState::Failed || tls.State() == ws::TlsState::Closed;
        if (over || plain.find(until) != std::string::npos)
            return plain;
        const ssize_t n = ::recv(client.Socket(), buf, sizeof buf, 0);
        if (n < 0)
            return plain;  // timed out
        if (n == 0)
            tls.FeedEnd();
        tls.Feed(buf, static_cast<std::size_t>(n));
    }
}

using testsupport::BlockingPop3;
using testsupport::ReadFile;

// The blocking client, connected, greeted and logged in to the server.
void LogIn(BlockingPop3& p, const DovecotServer& s)
{
    p.Connect(s.Port());
    p.Login(s.User(), s.Password());
}

std::vector<std::string> Top(BlockingPop3& p, int n)
{
    p.Ok("TOP " + std::to_string(n) + " 0");
    return p.Lines();
}

std::string Subject(BlockingPop3& p, int n)
{
    for (const std::string& l : Top(p, n))
        if (l.rfind("Subject: ", 0) == 0)
            return l.substr(9);
    return {};
}

// Decodes with the program's own codec, so the builder's encoders are checked by an
// independent implementation (and the other way round).
std::string CodecDecode(UUMethods method, const std::string& text)
{
    TNMUUProcessor uu(nullptr);
    TMemoryStream in, out;
    in.WriteBuffer(text.data(), static_cast<long long>(text.size()));
    in.SetPosition(0);
    uu.InStream = &in;
    uu.OutStream = &out;
    uu.Method = method;
    uu.Decode();
    return out.DataString();
}

// The Shift-JIS text of one "=?ISO-2022-JP?B?...?=" word.
std::string DecodeWord(const std::string& word)
{
    const std::string head = "=?ISO-2022-JP?B?";
    if (word.rfind(head, 0) != 0 || word.size() < head.size() + 2)
        return "<not an encoded word>";
    return mailbox::ToSjis(CodecDecode(uuMime, word.substr(head.size(), word.size() - head.size() - 2)));
}

// One server for the suite; each test starts from an empty mailbox.
class DovecotFixture : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = new DovecotServer;
        server->Start("alice", "s3cret pass");
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(server->Running());
        server->ClearMessages();
    }

    static DovecotServer* server;
};
DovecotServer* DovecotFixture::server = nullptr;
}

TEST_F(DovecotFixture, GreetsAndChecksTheCredentials)
{
    {
        BlockingPop3 p;
        p.Connect(server->Port());
        EXPECT_EQ(p.Greeting().substr(0, 4), "+OK ");
        EXPECT_EQ(p.Command("USER alice").substr(0, 3), "+OK");
        EXPECT_EQ(p.Command("PASS wrong").substr(0, 4), "-ERR");
    }
    {
        BlockingPop3 p;
        p.Connect(server->Port());
        p.Command("USER mallory");
        EXPECT_EQ(p.Command("PASS s3cret pass").substr(0, 4), "-ERR");  // unknown user
    }
    BlockingPop3 p;
    LogIn(p, *server);
    EXPECT_EQ(p.Stat(), 0);
    EXPECT_EQ(p.Command("QUIT").substr(0, 3), "+OK");
}

TEST_F(DovecotFixture, StatCountsAndTopShowsTheEncodedHeader)
{
    server->AddMessage(mailbox::PlainMail(1));
    server->AddMessage(mailbox::JapaneseMail(mailbox::SampleSubject, mailbox::SampleSender));
    server->AddMessage(mailbox::PlainMail(3));
    EXPECT_EQ(server->CountMessages(), 3);

    BlockingPop3 p;
    LogIn(p, *server);
    EXPECT_EQ(p.Stat(), 3);
    const std::vector<std::string> top = Top(p, 2);
    ASSERT_FALSE(top.empty());
    EXPECT_EQ(top.back(), "");  // the header's closing empty line, no body
    const std::string subject = Subject(p, 2);
    EXPECT_EQ(subject, mailbox::EncodedWord(mailbox::SampleSubject));
    EXPECT_EQ(DecodeWord(subject), mailbox::SampleSubject);
    EXPECT_EQ(Subject(p, 1), "Plain message 1");
    p.Command("QUIT");
}

TEST_F(DovecotFixture, DeleAndQuitRemoveTheFileRsetUndoes)
{
    server->AddMessage(mailbox::PlainMail(1));
    server->AddMessage(mailbox::PlainMail(2));
    {
        BlockingPop3 p;
        LogIn(p, *server);
        EXPECT_EQ(p.Command("DELE 1").substr(0, 3), "+OK");
        EXPECT_EQ(p.Command("RSET").substr(0, 3), "+OK");
        EXPECT_EQ(p.Command("QUIT").substr(0, 3), "+OK");
    }
    EXPECT_EQ(server->CountMessages(), 2);
    {
        BlockingPop3 p;
        LogIn(p, *server);
        EXPECT_EQ(p.Command("DELE 1").substr(0, 3), "+OK");
    }  // dropped without QUIT: nothing is deleted
    EXPECT_EQ(server->CountMessages(), 2);
    {
        BlockingPop3 p;
        LogIn(p, *server);
        EXPECT_EQ(p.Command("DELE 1").substr(0, 3), "+OK");
        EXPECT_EQ(p.Command("QUIT").substr(0, 3), "+OK");
    }
    const std::vector<std::string> left = server->MessageFiles();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(ReadFile(left[0]), mailbox::PlainMail(2));
}

TEST_F(DovecotFixture, MessagesAddedBetweenSessionsAppearInOrder)
{
    for (int i = 1; i <= 20; ++i)
        server->AddMessage(mailbox::PlainMail(i));
    {
        BlockingPop3 p;
        LogIn(p, *server);
        EXPECT_EQ(p.Stat(), 20);
        for (int i = 1; i <= 20; ++i)
            EXPECT_EQ(Subject(p, i), "Plain message " + std::to_string(i));
        p.Command("QUIT");
    }
    server->AddMessage(mailbox::PlainMail(21));
    server->AddMessage(mailbox::PlainMail(22), true);  // already seen, in cur/
    BlockingPop3 p;
    LogIn(p, *server);
    EXPECT_EQ(p.Stat(), 22);
    EXPECT_EQ(Subject(p, 21), "Plain message 21");
    EXPECT_EQ(Subject(p, 22), "Plain message 22");
    p.Command("QUIT");
}

TEST_F(DovecotFixture, RetrGivesTheStoredBytesOfAMultipartMessage)
{
    const mailbox::MultipartSample m = mailbox::MultipartMail(4000, 2000, 5);
    server->AddMessage(m.Raw);
    BlockingPop3 p;
    LogIn(p, *server);
    ASSERT_EQ(p.Command("RETR 1").substr(0, 3), "+OK");
    std::string back;
    for (const std::string& l : p.Lines())
        back += l + "\r\n";
    EXPECT_TRUE(back == m.Raw);
    p.Command("QUIT");
}

TEST_F(DovecotFixture, RestartKeepsMailAndPort)
{
    server->AddMessage(mailbox::PlainMail(1));
    const int port = server->Port();
    const auto t0 = std::chrono::steady_clock::now();
    server->Stop();
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_FALSE(server->Running());
    server->AddMessage(mailbox::PlainMail(2));  // delivered while stopped
    server->Start(server->User(), server->Password());
    const auto t2 = std::chrono::steady_clock::now();
    using ms = std::chrono::duration<double, std::milli>;
    RecordProperty("stop_ms", std::to_string(ms(t1 - t0).count()));
    RecordProperty("start_ms", std::to_string(ms(t2 - t1).count()));
    EXPECT_EQ(server->Port(), port);
    BlockingPop3 p;
    LogIn(p, *server);
    EXPECT_EQ(p.Stat(), 2);
    p.Command("QUIT");
}

TEST(DovecotServerAlone, TwoServersRunSideBySide)
{
    DovecotServer a, b;
    a.Start("alice", "pw-a");
    b.Start("bob", "pw-b");
    EXPECT_NE(a.Port(), b.Port());
    a.AddMessage(mailbox::PlainMail(1));
    BlockingPop3 pa, pb;
    LogIn(pa, a);
    LogIn(pb, b);
    EXPECT_EQ(pa.Stat(), 1);
    EXPECT_EQ(pb.Stat(), 0);
}

TEST(DovecotServerAlone, StopClosesTheConnectionsAndThePort)
{
    DovecotServer s;
    s.Start();
    BlockingPop3 p;
    LogIn(p, s);
    s.Stop();
    EXPECT_EQ(p.Command("STAT"), "");  // the session is gone
    EXPECT_THROW(BlockingPop3().Connect(s.Port()), std::runtime_error);
    const std::string folder = s.Folder();
    {
        DovecotServer t;  // the destructor stops and cleans up
        t.Start();
        EXPECT_TRUE(std::filesystem::exists(t.Folder()));
        EXPECT_NE(t.Folder(), folder);
    }
}

TEST(DovecotServerAlone, RunsAsAnOrdinaryUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "already an ordinary user: every other test covers that path";
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string as = "runuser -u nobody -- env TMPDIR=/tmp ";
    if (std::system((as + "test -x " + exe + " >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "user nobody cannot run " << exe;
    const std::string cmd = as + exe + " --gtest_filter=DovecotFixture.*:DovecotServerAlone.TwoServers*:DovecotServerAlone.ServesTls* 2>&1";
    FILE* f = ::popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::string out;
    char buf[4096];
    while (size_t n = std::fread(buf, 1, sizeof buf, f))
        out.append(buf, n);
    const int status = ::pclose(f);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_NE(out.find("[  PASSED  ] 8 tests"), std::string::npos) << out;
}

TEST(DovecotServerAlone, ServesTlsOnBothPortsWithTheTestCertificate)
{
    testsupport::TestCerts certs;
    DovecotServer s;
    s.EnableTls(certs.Server.CertFile, certs.Server.KeyFile);
    s.Start();
    testsupport::BlockingPop3 plain(s.Port());
    ASSERT_EQ(plain.Line().substr(0, 3), "+OK");
    ASSERT_EQ(plain.Command("CAPA").substr(0, 3), "+OK");
    EXPECT_NE(("\n" + plain.UpToDot()).find("\nSTLS\r\n"), std::string::npos);
    ASSERT_EQ(plain.Command("STLS").substr(0, 3), "+OK");
    ws::TlsFilter stls({"localhost", {certs.Ca.CertPem}, {}});
    const std::string capaOverTls = TlsReply(plain, stls, "CAPA\r\n", "\r\n.\r\n");
    EXPECT_EQ(stls.State(), ws::TlsState::Established) << ws::TlsFailureText(stls.Failure()) << s.Log();
    EXPECT_EQ(capaOverTls.rfind("+OK", 0), 0u) << capaOverTls;
    EXPECT_EQ(capaOverTls.find("STLS"), std::string::npos);

    testsupport::BlockingPop3 implicit(s.TlsPort());
    ws::TlsFilter tls({"127.0.0.1", {certs.Ca.CertPem}, {}});
    const std::string greeting = TlsReply(implicit, tls, "", "\r\n");
    EXPECT_EQ(tls.State(), ws::TlsState::Established) << ws::TlsFailureText(tls.Failure()) << s.Log();
    EXPECT_EQ(greeting.rfind("+OK", 0), 0u) << greeting;
}

TEST(MailboxBuilder, EncodersAgreeWithTheCodec)
{
    const std::string data = mailbox::RandomBytes(1000, 3);
    EXPECT_EQ(CodecDecode(uuMime, mailbox::Base64Lines(data)), data);
    EXPECT_EQ(CodecDecode(uuCode, mailbox::Uuencode(data, "x", false)), data);
    EXPECT_EQ(mailbox::Base64("abcd"), "YWJjZA==");
    EXPECT_EQ(mailbox::Uuencode("abc", "x.bin"), "begin 644 x.bin\r\n#86)C\r\n`\r\nend\r\n");
}

TEST(MailboxBuilder, JapaneseHeadersAndFoldedSubject)
{
    const std::string word = mailbox::EncodedWord(mailbox::SampleSubject);
    EXPECT_EQ(word.rfind("=?ISO-2022-JP?B?GyRC", 0), 0u);  // starts by switching to JIS X 0208
    EXPECT_EQ(DecodeWord(word), mailbox::SampleSubject);

    const std::string folded = mailbox::FoldedEncodedWords(mailbox::SampleLongSubject, 8);
    std::string joined;
    size_t start = 0, lines = 0;
    while (start <= folded.size()) {
        size_t end = folded.find("\r\n", start);
        std::string line = folded.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (lines > 0) {
            ASSERT_EQ(line[0], ' ');
            line.erase(0, 1);
        }
        EXPECT_LE(line.size(), 75u);
        joined += DecodeWord(line);
        ++lines;
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    EXPECT_GT(lines, 2u);
    EXPECT_EQ(joined, mailbox::SampleLongSubject);
    // ISO-2022-JP holds no half-width katakana: test data must say so, not go wrong quietly.
    EXPECT_THROW(mailbox::SjisToJis("\xb1"), std::runtime_error);
}

TEST(MailboxBuilder, MultipartKeepsTheAttachmentsAndHostileNames)
{
    const mailbox::MultipartSample m = mailbox::MultipartMail(3000, 1000, 9);
    EXPECT_NE(m.Raw.find("\tboundary=\"" + m.Boundary + "\""), std::string::npos);
    EXPECT_NE(m.Raw.find(mailbox::Base64Lines(m.Base64Part.Bytes)), std::string::npos);
    EXPECT_NE(m.Raw.find(mailbox::Uuencode(m.UuencodedPart.Bytes, m.UuencodedPart.Name)), std::string::npos);
    EXPECT_NE(m.Raw.find("Content-Transfer-Encoding: x-uuencode\r\n"), std::string::npos);
    EXPECT_NE(m.Raw.find("\r\n--" + m.Boundary + "--\r\n"), std::string::npos);
    EXPECT_NE(m.Raw.find(m.Text), std::string::npos);

    const std::string hostile = mailbox::MailWithAttachmentNamed("../../x", "payload");
    EXPECT_NE(hostile.find("name=\"../../x\""), std::string::npos);
}

TEST(MailboxBuilder, BulkMessagesAreTwoToFourKiB)
{
    const std::vector<std::string> bulk = mailbox::BulkMailbox(300, 4);
    ASSERT_EQ(bulk.size(), 300u);
    int japanese = 0;
    for (size_t i = 0; i < bulk.size(); ++i) {
        EXPECT_GE(bulk[i].size(), 2048u) << i;
        EXPECT_LE(bulk[i].size(), 4096u) << i;
        japanese += bulk[i].find("Subject: =?ISO-2022-JP?B?") != std::string::npos;
    }
    EXPECT_GT(japanese, 100);
    EXPECT_LT(japanese, 300);
    EXPECT_NE(bulk[6].find("Message-ID: <bulk.7.4@example.com>"), std::string::npos);
}
