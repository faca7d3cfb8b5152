// The demo mailbox as Purgel sees it: the program's own POP3 component lists it, decodes
// subjects and senders to the texts they were made from, and saves the attachments as
// they were — what `make run` is there to show.

#include "TestUtil.h"
#include "jconv/Jconvert.h"
#include "pop3/Nmpop3.h"
#include "tests/support/DemoServer.h"
#include "tools/DemoMailbox.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string Shown(const std::string& value)
{
    std::string text = Jconvert::ConvertJCode(Jconvert::DecodeHeaderString(value), Jconvert::JCODE_SJIS);
    return text.rfind(' ', 0) == 0 ? text.substr(1) : text;  // the blank after the colon
}

std::string ReadFile(const std::filesystem::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class PurgelClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Expected = new std::vector<demo::DemoMessage>(demo::GenerateMailbox(1));
        Server = new testsupport::DemoServerProcess;
        Server->Start({});
    }
    static void TearDownTestSuite()
    {
        delete Server;
        delete Expected;
    }
    void SetUp() override
    {
        Pop.Host = "127.0.0.1";
        Pop.Port = Server->Port();
        Pop.TimeOut = 20000;
        Pop.UserID = "purgel";
        Pop.Password = "demo";
    }

    static std::vector<demo::DemoMessage>* Expected;
    static testsupport::DemoServerProcess* Server;
    TNMPOP3 Pop{nullptr};
};
std::vector<demo::DemoMessage>* PurgelClientTest::Expected = nullptr;
testsupport::DemoServerProcess* PurgelClientTest::Server = nullptr;

}  // namespace

TEST_F(PurgelClientTest, ListsEveryMessageWithItsSubjectSenderAndSize)
{
    Pop.Connect();
    ASSERT_EQ(Pop.MessageCount, 300);
    for (int n = 1; n <= Pop.MessageCount; ++n) {
        const demo::DemoMessage& m = (*Expected)[static_cast<std::size_t>(n - 1)];
        Pop.GetSummary(n);
        ASSERT_EQ(Pop.Summary.Bytes, static_cast<int>(m.Raw.size())) << n;
        if (m.Code == demo::BodyCode::Utf8)
            continue;  // today's forms, which this route does not read (tests/tools/DemoMailboxTest)
        ASSERT_EQ(Shown(Pop.Summary.Subject), m.Subject) << n;
        ASSERT_EQ(Shown(Pop.Summary.From), m.Sender) << n;
    }
    Pop.Disconnect();
}

TEST_F(PurgelClientTest, OpensMessagesAndSavesTheirAttachments)
{
    demotest::FreshFolder files("purgel-demo-files");
    Pop.SetAttachFilePath(files.Path().string());
    Pop.Connect();
    int attachments = 0;
    for (int n = 1; n <= Pop.MessageCount; ++n) {
        const demo::DemoMessage& m = (*Expected)[static_cast<std::size_t>(n - 1)];
        // The welcome and the attachments named the way this route reads.
        const bool wanted = n == 1 || (!m.Attachments.empty() && m.Code != demo::BodyCode::Utf8);
        if (!wanted)
            continue;
        Pop.GetMailMessage(n);
        std::string text;
        for (int i = 0; i < Pop.MailMessage.Body.Count() && Pop.MailMessage.Body[i].rfind("\r\nFile ", 0) != 0; ++i)
            text += Pop.MailMessage.Body[i] + "\r\n";
        // Before a delimiter the program keeps the empty line whose line end MIME counts
        // as the delimiter's.
        EXPECT_EQ(Jconvert::ConvertJCode(text, Jconvert::JCODE_SJIS), m.Text + (m.Attachments.empty() ? "" : "\r\n")) << n;
        ASSERT_EQ(Pop.MailMessage.Attachments.Count(), static_cast<int>(m.Attachments.size())) << n;
        for (std::size_t i = 0; i < m.Attachments.size(); ++i) {
            EXPECT_EQ(Pop.MailMessage.Attachments[static_cast<int>(i)], m.Attachments[i].Name);
            EXPECT_EQ(ReadFile(files.Path() / m.Attachments[i].Name), m.Attachments[i].Bytes) << m.Attachments[i].Name;
            ++attachments;
        }
    }
    EXPECT_EQ(attachments, 3);
    Pop.Disconnect();
}

TEST_F(PurgelClientTest, DeletesOnTheServerWhenItDisconnects)
{
    testsupport::DemoServerProcess own;
    own.Start({"--seed", "2"});
    Pop.Port = own.Port();
    int accepted = 0;
    Pop.OnSuccess = [&](TObject*) { ++accepted; };
    Pop.Connect();
    for (int n = 1; n <= 3; ++n)
        Pop.DeleteMailMessage(n);
    EXPECT_EQ(accepted, 3);
    Pop.Disconnect();
    Pop.Connect();
    EXPECT_EQ(Pop.MessageCount, 297);
    EXPECT_EQ(Pop.UniqueID(1), "demo-2-0004");
    Pop.Disconnect();
}
