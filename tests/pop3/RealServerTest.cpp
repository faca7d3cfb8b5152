// The POP3 component against every real server of the tests (PopServerKinds): login,
// summaries of Japanese mail, ids, the listing, deletion committed by QUIT and undone by
// RSET, attachments decoded byte for byte, and a refused password; and the demo mailbox of
// `make run` as Purgel sees it, listed, opened and cleaned. One server per kind serves the
// whole suite; every test starts with an empty mailbox.

#include "jconv/Jconvert.h"
#include "pop3/Nmpop3.h"
#include "tests/support/Dovecot.h"
#include "tests/support/Mailbox.h"
#include "tests/support/TestCerts.h"
#include "tests/support/PopServer.h"
#include "tests/support/QtTestMain.h"
#include "tools/DemoMailbox.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>


#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::ReadFile;

namespace fs = std::filesystem;

// The demo mailbox of `make run` (seed 1), made once for the suite.
const std::vector<demo::DemoMessage>& DemoMail()
{
    static const std::vector<demo::DemoMessage> mail = demo::GenerateMailbox(1);
    return mail;
}

// A header value as the window shows it: decoded to Shift-JIS, the blank after the colon gone.
std::string Shown(const std::string& value)
{
    std::string text = Jconvert::ConvertJCode(Jconvert::DecodeHeaderString(value), Jconvert::JCODE_SJIS);
    return text.rfind(' ', 0) == 0 ? text.substr(1) : text;
}

class RealServerTest : public ::testing::TestWithParam<PopServerKind> {
protected:
    static void TearDownTestSuite() { ReleaseSharedPopServers(); }

    void SetUp() override
    {
        Server = &SharedPopServer(GetParam(), "alice", "secret");
        Folder = Scratch.Path();
        fs::create_directories(Folder / "inbox");
        Pop = std::make_unique<TNMPOP3>(nullptr);
        Pop->Host = "127.0.0.1";
        Pop->Port = GetParam().ClientPort(*Server);
        Pop->TlsMode = GetParam().Mode;
        Pop->UserID = "alice";
        Pop->Password = "secret";
        Pop->TimeOut = 10000;
        Pop->SetAttachFilePath((Folder / "inbox").string());
    }
    void TearDown() override
    {
        if (Pop->Connected) {
            try {
                Pop->Disconnect();
            } catch (const std::exception&) {
            }
        }
        Pop.reset();
    }

    // Puts the demo mailbox on the server; its messages take some megabytes, so every read
    // gets more time.
    void AddDemoMail()
    {
        for (const demo::DemoMessage& m : DemoMail())
            Server->AddMessage(m.Raw);
        Pop->TimeOut = 20000;
    }

    PopServer* Server = nullptr;
    std::unique_ptr<TNMPOP3> Pop;
    testsupport::TempFolder Scratch{"purgel-pop3-real"};
    fs::path Folder;
};

TEST_P(RealServerTest, LoginCountsTheMessages)
{
    for (int i = 1; i <= 3; ++i)
        Server->AddMessage(mailbox::PlainMail(i));
    int connects = 0;
    Pop->OnConnect = [&](TObject*) { ++connects; };
    Pop->Connect();
    EXPECT_EQ(Pop->MessageCount, 3);
    EXPECT_EQ(connects, 1);
    // CAPA as the server answered it over the connection as it is now: after STLS no more STLS.
    EXPECT_TRUE(Pop->HasCapability("uidl"));
    EXPECT_FALSE(Pop->HasCapability("STLS"));
    Pop->Disconnect();
    EXPECT_FALSE(Pop->Connected);
}

TEST_P(RealServerTest, SummariesCarryTheEncodedHeaderAndTheSize)
{
    const std::string japanese = mailbox::JapaneseMail(mailbox::SampleSubject, mailbox::SampleSender);
    const std::string folded = mailbox::MailBuilder()
                                   .FoldedJapaneseSubject(mailbox::SampleLongSubject, 4)
                                   .From("plain@example.com")
                                   .Text("text\n")
                                   .Build();
    Server->AddMessage(japanese);
    Server->AddMessage(folded);
    Pop->Connect();
    int ends = 0;
    Pop->OnRetrieveEnd = [&](TObject*) { ++ends; };

    Pop->GetSummary(1);
    EXPECT_EQ(Pop->Summary.Subject, " " + mailbox::EncodedWord(mailbox::SampleSubject));
    EXPECT_EQ(Pop->Summary.From, " " + mailbox::EncodedWord(mailbox::SampleSender) + " <taro@example.jp>");
    EXPECT_EQ(Pop->Summary.Bytes, static_cast<int>(japanese.size()));
    const TExStringList& header = Pop->Summary.Header;
    ASSERT_GE(header.Count(), 2);
    EXPECT_EQ(header[header.Count() - 2], "");
    EXPECT_EQ(header[header.Count() - 1], ".");
    EXPECT_EQ(header.GetValue("Subject"), mailbox::EncodedWord(mailbox::SampleSubject));

    Pop->GetSummary(2);
    const std::string first = mailbox::FoldedEncodedWords(mailbox::SampleLongSubject, 4);
    EXPECT_EQ(Pop->Summary.Subject, " " + first.substr(0, first.find("\r\n"))) << "the first line of a folded subject";
    EXPECT_EQ(Pop->Summary.Bytes, static_cast<int>(folded.size()));
    EXPECT_EQ(ends, 2);
}

TEST_P(RealServerTest, UniqueIdsAndTheListing)
{
    const std::string a = mailbox::PlainMail(1), b = mailbox::PlainMail(22);
    Server->AddMessage(a);
    Server->AddMessage(b);
    Pop->Connect();
    const std::string id1 = Pop->UniqueID(1), id2 = Pop->UniqueID(2);
    EXPECT_FALSE(id1.empty());
    EXPECT_NE(id1, id2);
    EXPECT_EQ(id1.find_first_of("\r\n "), std::string::npos);
    std::vector<std::pair<int, int>> listed;
    Pop->OnList = [&](int Msg, int Size) { listed.emplace_back(Msg, Size); };
    Pop->List();
    EXPECT_EQ(listed, (std::vector<std::pair<int, int>>{{1, static_cast<int>(a.size())}, {2, static_cast<int>(b.size())}}));
}

TEST_P(RealServerTest, AListingSentAheadIsTheSameFieldForFieldAsOneSentOneAtATime)
{
    const int count = 2000;
    for (const std::string& raw : mailbox::BulkMailbox(count))
        Server->AddMessage(raw);
    using Row = std::tuple<std::string, std::string, std::string, int, std::vector<std::string>>;
    auto listing = [&](int depth) {
        Pop->Depth = depth;
        Pop->Connect();
        std::vector<Row> rows;
        for (int n = 1; n <= Pop->MessageCount; ++n) {
            Pop->GetSummary(n);
            const TSummary& s = Pop->Summary;
            rows.emplace_back(s.Subject, s.From, s.MessageId, s.Bytes, s.Header.Items());
        }
        Pop->Disconnect();
        return rows;
    };
    const std::vector<Row> ahead = listing(32);
    if (GetParam().Name.find("Dovecot") != std::string::npos)
        EXPECT_TRUE(Pop->HasCapability("PIPELINING"));
    const std::vector<Row> single = listing(1);
    ASSERT_EQ(ahead.size(), static_cast<std::size_t>(count));
    EXPECT_TRUE(ahead == single);
}

TEST_P(RealServerTest, DeleThenQuitRemovesTheMessage)
{
    Server->AddMessage(mailbox::PlainMail(1));
    Server->AddMessage(mailbox::PlainMail(2));
    Pop->Connect();
    int successes = 0;
    Pop->OnSuccess = [&](TObject*) { ++successes; };
    Pop->DeleteMailMessage(1);
    EXPECT_EQ(successes, 1);
    Pop->Disconnect();
    EXPECT_EQ(Server->CountMessages(), 1);
    Pop->Connect();
    EXPECT_EQ(Pop->MessageCount, 1);
    Pop->GetSummary(1);
    EXPECT_EQ(Pop->Summary.Subject, " Plain message 2");
}

TEST_P(RealServerTest, ResetUndoesADele)
{
    Server->AddMessage(mailbox::PlainMail(1));
    Server->AddMessage(mailbox::PlainMail(2));
    Pop->Connect();
    int resets = 0;
    Pop->OnReset = [&](TObject*) { ++resets; };
    Pop->DeleteMailMessage(1);
    Pop->Reset();
    EXPECT_EQ(resets, 1);
    Pop->Disconnect();
    EXPECT_EQ(Server->CountMessages(), 2);
    Pop->Connect();
    EXPECT_EQ(Pop->MessageCount, 2);
}

TEST_P(RealServerTest, MultipartAttachmentsAreDecodedByteForByte)
{
    const mailbox::MultipartSample sample = mailbox::MultipartMail(20000, 7000, 5);
    Server->AddMessage(sample.Raw);
    Pop->Connect();
    Pop->GetMailMessage(1);
    EXPECT_EQ(Pop->MailMessage.Subject, " " + mailbox::EncodedWord(mailbox::SampleSubject));
    ASSERT_EQ(Pop->MailMessage.Attachments.Count(), 2);
    EXPECT_EQ(Pop->MailMessage.Attachments[0], "report.bin");
    EXPECT_EQ(Pop->MailMessage.Attachments[1], "archive.dat");
    EXPECT_EQ(ReadFile(Folder / "inbox" / "report.bin"), sample.Base64Part.Bytes);
    EXPECT_EQ(ReadFile(Folder / "inbox" / "archive.dat"), sample.UuencodedPart.Bytes);
    EXPECT_EQ(Pop->MailMessage.Body[0], sample.Text.substr(0, sample.Text.find("\r\n")));
}

TEST_P(RealServerTest, AnAttachmentNamedWithParentStepsStaysInsideTheFolder)
{
    const fs::path inbox = Folder / "a" / "b" / "inbox";
    fs::create_directories(inbox);
    Pop->SetAttachFilePath(inbox.string());
    Server->AddMessage(mailbox::MailWithAttachmentNamed("../../x", "escaped?"));
    Pop->Connect();
    Pop->GetMailMessage(1);
    EXPECT_EQ(Pop->MailMessage.Attachments[0], "x");
    EXPECT_EQ(ReadFile(inbox / "x"), "escaped?");
    EXPECT_FALSE(fs::exists(Folder / "a" / "x"));
}

TEST_P(RealServerTest, AWrongPasswordIsAuthenticationFailed)
{
    Pop->Password = "not the password";
    try {
        Pop->Connect();
        ADD_FAILURE() << "connected";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "Authentication failed");
    }
    EXPECT_FALSE(Pop->Connected);
}

TEST_P(RealServerTest, TheDemoMailboxListsWithItsSubjectsSendersAndSizes)
{
    AddDemoMail();
    Pop->Connect();
    ASSERT_EQ(Pop->MessageCount, 300);
    for (int n = 1; n <= Pop->MessageCount; ++n) {
        const demo::DemoMessage& m = DemoMail()[static_cast<std::size_t>(n - 1)];
        Pop->GetSummary(n);
        ASSERT_EQ(Pop->Summary.Bytes, static_cast<int>(m.Raw.size())) << n;
        if (m.Code == demo::BodyCode::Utf8)
            continue;  // today's forms, which this route does not read (tests/tools/DemoMailboxTest)
        ASSERT_EQ(Shown(Pop->Summary.Subject), m.Subject) << n;
        ASSERT_EQ(Shown(Pop->Summary.From), m.Sender) << n;
    }
    Pop->Disconnect();
}

TEST_P(RealServerTest, TheDemoMessagesOpenWithTheirTextsAndAttachments)
{
    AddDemoMail();
    Pop->Connect();
    int attachments = 0;
    for (int n = 1; n <= Pop->MessageCount; ++n) {
        const demo::DemoMessage& m = DemoMail()[static_cast<std::size_t>(n - 1)];
        // The welcome and the attachments named the way this route reads.
        const bool wanted = n == 1 || (!m.Attachments.empty() && m.Code != demo::BodyCode::Utf8);
        if (!wanted)
            continue;
        Pop->GetMailMessage(n);
        std::string text;
        for (int i = 0; i < Pop->MailMessage.Body.Count() && Pop->MailMessage.Body[i].rfind("\r\nFile ", 0) != 0; ++i)
            text += Pop->MailMessage.Body[i] + "\r\n";
        // Before a delimiter the program keeps the empty line whose line end MIME counts
        // as the delimiter's.
        EXPECT_EQ(Jconvert::ConvertJCode(text, Jconvert::JCODE_SJIS), m.Text + (m.Attachments.empty() ? "" : "\r\n")) << n;
        ASSERT_EQ(Pop->MailMessage.Attachments.Count(), static_cast<int>(m.Attachments.size())) << n;
        for (std::size_t i = 0; i < m.Attachments.size(); ++i) {
            EXPECT_EQ(Pop->MailMessage.Attachments[static_cast<int>(i)], m.Attachments[i].Name);
            EXPECT_EQ(ReadFile(Folder / "inbox" / m.Attachments[i].Name), m.Attachments[i].Bytes) << m.Attachments[i].Name;
            ++attachments;
        }
    }
    EXPECT_EQ(attachments, 3);
    Pop->Disconnect();
}

TEST_P(RealServerTest, DeletingSeveralDemoMessagesKeepsTheIdsOfTheRest)
{
    AddDemoMail();
    int accepted = 0;
    Pop->OnSuccess = [&](TObject*) { ++accepted; };
    Pop->Connect();
    const std::string fourth = Pop->UniqueID(4);
    for (int n = 1; n <= 3; ++n)
        Pop->DeleteMailMessage(n);
    EXPECT_EQ(accepted, 3);
    Pop->Disconnect();
    Pop->Connect();
    EXPECT_EQ(Pop->MessageCount, 297);
    EXPECT_EQ(Pop->UniqueID(1), fourth);
    Pop->Disconnect();
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerTest, ::testing::ValuesIn(PopServerKinds()),
                         [](const ::testing::TestParamInfo<PopServerKind>& info) { return info.param.Name; });
// ---- certificates: what the system does not vouch for stops the connection before USER ----
// Every kind of certificate is checked against the TLS filter (TlsFilterTest); here one that
// the user trusted and one for another host go the whole way through Dovecot and the
// component (the fingerprints as the trust file keeps them, the host as typed, what the
// component tells of a refusal). The system's trust is SecureServers' every test.

struct CertCase {
    const char* Name;
    testsupport::TestCert testsupport::TestCerts::*Presented;
    const char* Host;                                           // as the user typed it
    testsupport::TestCert testsupport::TestCerts::*Trusted;     // its fingerprint pinned, or none
    TTlsProblem Problem;                                        // None: the login succeeds
};

void PrintTo(const CertCase& c, std::ostream* os)
{
    *os << c.Name;
}

class CertificateTest : public ::testing::TestWithParam<CertCase> {};

TEST_P(CertificateTest, OnlyWhatTheSystemOrTheUserTrustsLogsIn)
{
    const CertCase& c = GetParam();
    const testsupport::TestCerts& certs = TrustedTestCerts();
    const testsupport::TestCert& presented = certs.*c.Presented;
    DovecotServer server;
    server.EnableTls(presented.CertFile, presented.KeyFile);
    server.Start("alice", "secret");
    server.AddMessage(mailbox::PlainMail(1));
    TNMPOP3 pop(nullptr);
    pop.Host = c.Host;
    pop.Port = server.TlsPort();
    pop.TlsMode = TTlsMode::Implicit;
    pop.UserID = "alice";
    pop.Password = "secret";
    pop.TimeOut = 10000;
    if (c.Trusted)
        pop.TrustedFingerprints = {(certs.*c.Trusted).Sha256};
    if (c.Problem == TTlsProblem::None) {
        pop.Connect();
        EXPECT_EQ(pop.MessageCount, 1);
        pop.Disconnect();
        return;
    }
    try {
        pop.Connect();
        ADD_FAILURE() << "connected";
    } catch (const ESockError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("TLS handshake failed: ", 0), 0u) << e.what();
    }
    EXPECT_EQ(pop.TlsProblem(), c.Problem);
    EXPECT_EQ(pop.PeerCertificate(), presented.Der);
    EXPECT_EQ(pop.PeerFingerprint(), presented.Sha256);
    EXPECT_FALSE(pop.Connected);
}

using testsupport::TestCerts;
INSTANTIATE_TEST_SUITE_P(
    EveryKind, CertificateTest,
    ::testing::Values(CertCase{"WrongHostName", &TestCerts::WrongHost, "127.0.0.1", nullptr, TTlsProblem::HostMismatch},
                      CertCase{"TrustedByFingerprint", &TestCerts::SelfSigned, "localhost", &TestCerts::SelfSigned, TTlsProblem::None}),
    [](const ::testing::TestParamInfo<CertCase>& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(SecureServers, RealServerTest, ::testing::ValuesIn(TlsPopServerKinds()),
                         [](const ::testing::TestParamInfo<PopServerKind>& info) { return info.param.Name; });

} // namespace
