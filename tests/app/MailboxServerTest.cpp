// The window over the session against every real server of the tests (Dovecot and the demo
// server): the listing with decoded Japanese rows, the stop button, the question before a
// deletion, the viewer's text and header views, and commands given while a listing runs. One server per kind serves the
// whole suite; every test starts with an empty mailbox.
#include <QAction>
#include <QMenu>
#include <QCoreApplication>
#include <QDir>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QTableWidget>
#include <QToolButton>
#include <map>
#include <set>

#include "app/main/Sjis.h"
#include "jconv/Jconvert.h"
#include "mailbox/MessageList.h"
#include "pop3/Nmpop3.h"
#include "app/accounts/AccountsCheckView.h"
#include "app/mailboxview/RuleCommands.h"
#include "app/mailboxview/SenderPanel.h"
#include "tests/app/MailboxFixture.h"
#include "tests/support/Mailbox.h"
#include "tests/support/PopServer.h"
#include "tools/DemoMailbox.h"

namespace {

const char* const Travel = "\x97\xb7\x8ds\x82\xcc\x97\x5c\x96\xf1" /* sjis: 旅行の予約 */;
const char* const Sato = "\x8d\xb2\x93\xa1\x89\xd4\x8eq" /* sjis: 佐藤花子 */;
const char* const Line1 = "\x96{\x93\xfa\x82\xcd\x90\xb0\x82\xea\x82\xc5\x82\xb7\x81" "B" /* sjis: 本日は晴れです。 */;
const char* const Line2 = "\x82\xe6\x82\xeb\x82\xb5\x82\xad\x82\xa8\x8a\xe8\x82\xa2\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: よろしくお願いします。 */;

// Message n of a small mailbox: Japanese subject "<n> 旅行の予約", sender 佐藤花子, two JIS lines.
std::string NumberedMail(int n)
{
    return mailbox::MailBuilder()
        .JapaneseFrom(Sato, "hanako@example.jp")
        .JapaneseSubject(std::to_string(n) + " " + Travel)
        .JapaneseText(std::string(Line1) + "\n" + Line2 + "\n")
        .Build();
}

class MailboxServerTest : public MailboxTest, public ::testing::WithParamInterface<PopServerKind> {
protected:
    static void TearDownTestSuite() { ReleaseSharedPopServers(); }

    void SetUp() override
    {
        MailboxTest::SetUp();
        Server = &SharedPopServer(GetParam(), "alice", "secret");
        UseAccount("127.0.0.1", Server->Port());
    }
    std::vector<std::string> AddNumbered(int count)
    {
        std::vector<std::string> raws;
        for (int i = 1; i <= count; ++i) {
            raws.push_back(NumberedMail(i));
            Server->AddMessage(raws.back());
        }
        return raws;
    }

    PopServer* Server = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Servers, MailboxServerTest, ::testing::ValuesIn(PopServerKinds()),
                         [](const ::testing::TestParamInfo<PopServerKind>& info) { return info.param.Name; });

TEST_P(MailboxServerTest, ConnectingListsDecodedSubjectsSendersSizesAndNumbers)
{
    const std::string japanese = mailbox::JapaneseMail(mailbox::SampleSubject, mailbox::SampleSender);
    const std::string plain = mailbox::PlainMail(2);
    const std::string folded = mailbox::MailBuilder()
                                   .FoldedJapaneseSubject(mailbox::SampleLongSubject, 4)
                                   .From("plain@example.com")
                                   .Text("text\n")
                                   .Build();
    for (const auto& raw : {japanese, plain, folded})
        Server->AddMessage(raw);
    ClickConnect();

    EXPECT_TRUE(W->SpeedButton1->isChecked());
    EXPECT_TRUE(CommandButtonsEnabled());
    EXPECT_EQ(Panel(0), Texts::Online);
    EXPECT_EQ(Panel(1), "3");
    EXPECT_EQ(Bar()->value(), 0);
    EXPECT_EQ(Bar()->maximum(), 3);
    ASSERT_EQ(RowNumbers(), (std::vector<int>{1, 2, 3}));
    // The blank after the field's colon stays part of the value.
    EXPECT_EQ(CellSjis(*W, 0, 0), std::string(" ") + mailbox::SampleSubject);
    EXPECT_EQ(CellSjis(*W, 0, 1), std::string(" ") + mailbox::SampleSender + " <taro@example.jp>");
    EXPECT_EQ(std::to_string(W->Lv2->Record(0).Size), std::to_string(japanese.size()));
    EXPECT_EQ(W->Lv2->Text(0, 0), SjisToQ(std::string(" ") + mailbox::SampleSubject));
    EXPECT_EQ(CellSjis(*W, 1, 0), " Plain message 2");
    EXPECT_EQ(std::to_string(W->Lv2->Record(1).Size), std::to_string(plain.size()));
    // A folded subject shows whole, its words joined across the folds.
    EXPECT_EQ(CellSjis(*W, 2, 0), std::string(" ") + mailbox::SampleLongSubject);
    EXPECT_EQ(W->Lv2->Text(2, 0), SjisToQ(std::string(" ") + mailbox::SampleLongSubject));
    for (int row = 0; row < 3; ++row)
        EXPECT_FALSE(W->Lv2->Checked(row));
    EXPECT_TRUE(Boxes.empty());
}

TEST_P(MailboxServerTest, AnEmptyMailboxEndsOnlineWithCountZero)
{
    ClickConnect();
    EXPECT_EQ(Panel(0), Texts::Online);
    EXPECT_EQ(Panel(1), "0");
    EXPECT_EQ(W->Lv2->Count(), 0);
    EXPECT_EQ(Bar()->value(), 0);
    EXPECT_GT(Bar()->maximum(), Bar()->minimum());  // no busy indicator
}

// The stop button and the status bar during a listing (what the session keeps: SessionTest).
TEST_P(MailboxServerTest, StopDuringTheTenthOfAHundredSummariesKeepsTenHeaders)
{
    for (int i = 1; i <= 100; ++i)
        Server->AddMessage(mailbox::PlainMail(i));
    AtRow(10, [this] {
        EXPECT_EQ(Panel(0), Texts::Listing);
        EXPECT_EQ(Panel(1), "100");
        EXPECT_EQ(Bar()->maximum(), 100);
        EXPECT_LE(Bar()->value(), 9);
        W->BitBtn2->click();
    });
    ClickConnect();
    EXPECT_EQ(W->Lv2->Count(), 100);   // every row with its size
    EXPECT_EQ(Headers(), 10);
    EXPECT_EQ(W->Lv2->Text(10, 0), SjisToQ(Texts::HeaderPending));
    EXPECT_EQ(Bar()->value(), 0);
    EXPECT_EQ(Panel(0), Texts::Online);
}

TEST_P(MailboxServerTest, DeletedMessagesLeaveTheListAndTheServerAtQuit)
{
    const std::vector<std::string> raws = AddNumbered(5);
    ClickConnect();
    ASSERT_EQ(W->Lv2->Count(), 5);
    W->Lv2->SetChecked(0, true);
    W->Lv2->SetChecked(2, true);
    Answers = {mrYes};
    W->BitBtn5->click();
    const QString total = MessageList::SizeText(static_cast<long long>(raws[0].size() + raws[2].size()));
    ASSERT_EQ(BoxTexts(), std::vector<std::string>{DeleteQuestion(2, total.toStdString())});
    EXPECT_EQ(Boxes[0].Icon, TMsgIcon::Question);
    EXPECT_EQ(RowNumbers(), (std::vector<int>{2, 4, 5}));
    EXPECT_EQ(Panel(1), "3");
    EXPECT_EQ(CellSjis(*W, 0, 0), " 2 " + std::string(Travel));
    EXPECT_EQ(W->Lv2->Selected(), -1);
    EXPECT_EQ(Server->CountMessages(), 5);  // nothing is gone before QUIT

    ClickConnect();  // released: QUIT
    EXPECT_FALSE(W->SpeedButton1->isChecked());
    EXPECT_FALSE(W->NMPOP3->Connected);
    EXPECT_FALSE(CommandButtonsEnabled());
    EXPECT_EQ(Panel(0), "");
    EXPECT_EQ(Panel(1), "");
    EXPECT_EQ(W->Lv2->Count(), 3);  // the rows stay until the next listing
    EXPECT_EQ(Server->CountMessages(), 3);

    ClickConnect();
    EXPECT_EQ(Panel(1), "3");
    EXPECT_EQ(RowNumbers(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(CellSjis(*W, 1, 0), " 4 " + std::string(Travel));
    EXPECT_EQ(Boxes.size(), 1u);
}

TEST_P(MailboxServerTest, DeleteWithNothingCheckedAsksNothingAndSendsNothing)
{
    AddNumbered(2);
    ClickConnect();
    W->BitBtn5->click();
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(RowNumbers(), (std::vector<int>{1, 2}));
    ClickConnect();
    EXPECT_EQ(Server->CountMessages(), 2);
}

TEST_P(MailboxServerTest, ViewerShowsTheTextAndHeaderOfTheRowsOwnMessage)
{
    AddNumbered(5);
    ClickConnect();
    W->Lv2->SetChecked(0, true);
    Answers = {mrYes};
    W->BitBtn5->click();
    ASSERT_EQ(RowNumbers(), (std::vector<int>{2, 3, 4, 5}));

    ChooseFromMessageMenu(1, W->Pm2_1);  // the row of message 3
    ASSERT_NE(Mail, nullptr);
    EXPECT_EQ(Mail->windowTitle(), SjisToQ(" 3 " + std::string(Travel)));
    EXPECT_EQ(ViewerLines(), (std::vector<std::string>{Line1, Line2}));
    EXPECT_EQ(Mail->Sb->PanelText(0), "");
    EXPECT_EQ(Mail->Sb->PanelText(1), " " + std::string(Sato) + " <hanako@example.jp>");

    QPointer<TMail> textViewer = Mail;
    ChooseFromMessageMenu(2, W->Pm2_2);  // the header of message 4, in a new viewer
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(textViewer.isNull());
    ASSERT_NE(Mail, nullptr);
    EXPECT_EQ(Mail->windowTitle(), SjisToQ(" 4 " + std::string(Travel)));
    const std::vector<std::string> lines = ViewerLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Subject: 4 " + std::string(Travel)), lines.end());
    EXPECT_EQ(lines[lines.size() - 2], "");
    EXPECT_EQ(lines.back(), ".");
    EXPECT_EQ(Mail->Sb->PanelText(0), "");
    EXPECT_EQ(Mail->Sb->PanelText(1), " " + std::string(Sato) + " <hanako@example.jp>");

    // A double-click on a row views its text too.
    W->Lv2->clearSelection();
    W->Lv2->SetSelected(3, true);
    W->Lv2->OnDblClick();
    ASSERT_NE(Mail, nullptr);
    EXPECT_EQ(Mail->windowTitle(), SjisToQ(" 5 " + std::string(Travel)));
    EXPECT_TRUE(Boxes.size() == 1u);
}

TEST_P(MailboxServerTest, AMultipartMessageShowsItsTextAndItsPartUntilTheViewerCloses)
{
    const mailbox::MultipartSample sample = mailbox::MultipartMail();
    Server->AddMessage(sample.Raw);
    ClickConnect();
    ChooseFromMessageMenu(0, W->Pm2_1);
    ASSERT_NE(Mail, nullptr);
    EXPECT_EQ(Mail->windowTitle(), SjisToQ(std::string(" ") + mailbox::SampleSubject));
    // The text part, then every attachment by its own name, read from the message as received.
    // The window empties every proposed name, so the component keeps each part in its
    // temporary file (a file without a name cannot be written) and goes on with the next.
    const std::string text = Jconvert::ConvertJCode(sample.Text, Jconvert::JCODE_SJIS);
    const std::size_t end = text.find("\r\n");
    EXPECT_EQ(ViewerLines(), (std::vector<std::string>{text.substr(0, end), text.substr(end + 2, text.size() - end - 4),
                                                       "", "File \"report.bin\" extracted", "",
                                                       "File \"archive.dat\" extracted"}));
    EXPECT_EQ(Mail->Sb->PanelText(0), "");
    // The parts are in a private folder made for this fetch, which the viewer names and offers.
    const QString folder = Mail->PartFolder();
    EXPECT_TRUE(folder.startsWith(Dir.path() + "/purgel/parts-")) << folder.toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 2);
    EXPECT_FALSE(Mail->PartsBar->isHidden());
    EXPECT_TRUE(Mail->PartsNote->text().contains(QDir::toNativeSeparators(folder)));
    EXPECT_EQ(Mail->OpenFolderButton->text(), SjisToQ(Texts::OpenFolderCaption));
    Mail->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(QDir(folder).exists()) << "closing removes the parts and their folder";
    EXPECT_TRUE(Boxes.empty());
}

// The demo mailbox's first ten messages hold every kind it has: Japanese subjects and text
// in JIS, EUC-JP and Shift-JIS, Base64 and uuencoded attachments, UTF-8 subjects in "B" and
// "Q" words, a subject split inside a character, quoted-printable UTF-8, HTML only, an
// RFC 2231 file name, EUC-JP without a charset. Each reads as it was written, in the list and
// in both views; a field on one line shows decoded in the header view.
TEST_P(MailboxServerTest, DemoMailOfEveryKindReadsAsWritten)
{
    const std::vector<demo::DemoMessage> demoMail = demo::GenerateMailbox(1, 10);
    std::set<demo::Form> forms;
    for (const demo::DemoMessage& m : demoMail) {
        Server->AddMessage(m.Raw);
        forms.insert(m.Kind);
    }
    ASSERT_EQ(forms.size(), 8u);
    int oneLineFields = 0;
    ClickConnect();
    ASSERT_EQ(W->Lv2->Count(), 10);
    for (int row = 0; row < 10; ++row) {
        const demo::DemoMessage& m = demoMail[static_cast<std::size_t>(row)];
        SCOPED_TRACE(m.ShownSubject);
        const QString subject = Utf8ToQ(" " + m.ShownSubject);
        const QString sender = Utf8ToQ(" " + m.ShownSender);
        EXPECT_EQ(W->Lv2->Text(row, 0), subject);
        EXPECT_EQ(W->Lv2->Text(row, 1), sender);
        ChooseFromMessageMenu(row, W->Pm2_1);
        ASSERT_NE(Mail, nullptr);
        EXPECT_EQ(Mail->windowTitle(), subject);
        EXPECT_EQ(Mail->Memo->toPlainText(), Utf8ToQ(m.ShownText));
        EXPECT_EQ(Mail->Sb->Panel(1)->text(), sender);

        ChooseFromMessageMenu(row, W->Pm2_2);
        ASSERT_NE(Mail, nullptr);
        EXPECT_EQ(Mail->windowTitle(), subject);
        const QStringList lines = Mail->Memo->toPlainText().split(QChar('\n'));
        const auto folded = [&](const std::string& field) {
            const std::size_t at = m.Raw.find("\r\n" + field + ":");
            const std::size_t next = m.Raw.find("\r\n", at + 2);
            return m.Raw[next + 2] == ' ' || m.Raw[next + 2] == '\t';
        };
        for (const auto& [field, shown] : {std::pair{"Subject", subject}, std::pair{"From", sender}})
            if (!folded(field)) {
                EXPECT_TRUE(lines.contains(field + (":" + shown))) << lines.join('\n').toStdString();
                ++oneLineFields;
            }
        EXPECT_EQ(lines.back(), ".");
    }
    EXPECT_GE(oneLineFields, 10);
    EXPECT_TRUE(Boxes.empty());
}

TEST_P(MailboxServerTest, AViewerCommandDuringTheListingLosesNoRow)
{
    AddNumbered(30);
    QPointer<TMail> viewer;
    AtRow(5, [&] {
        ChooseFromMessageMenu(0, W->Pm2_1);  // refused by the busy component
        viewer = Mail;
    });
    ClickConnect();
    ASSERT_EQ(W->Lv2->Count(), 30);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(W->Lv2->Data(i), i + 1);
    ASSERT_FALSE(viewer.isNull());
    EXPECT_EQ(viewer->Sb->PanelText(0), Texts::Receiving);
    EXPECT_TRUE(ViewerLines().empty());
    // Once the listing is done the same command fetches the message.
    ChooseFromMessageMenu(0, W->Pm2_1);
    EXPECT_EQ(Mail->windowTitle(), SjisToQ(" 1 " + std::string(Travel)));
    EXPECT_EQ(W->Lv2->Count(), 30);
}

TEST_P(MailboxServerTest, ClosingTheWindowDuringAListingEndsItAfterTheCurrentMessage)
{
    AddNumbered(40);
    AtRow(10, [this] { W->close(); });
    ClickConnect();
    EXPECT_EQ(Headers(), 10);
    EXPECT_TRUE(W->NMPOP3->Connected);
    W.reset();  // destroying it sends QUIT
    EXPECT_EQ(Server->CountMessages(), 40);
    EXPECT_TRUE(Boxes.empty());
}

TEST_P(MailboxServerTest, ClosingTheViewerDuringTheListingDropsNothing)
{
    AddNumbered(20);
    ClickConnect();
    ChooseFromMessageMenu(0, W->Pm2_1);
    ASSERT_NE(Mail, nullptr);
    AtRow(3, [this] { Mail->close(); });
    W->BitBtn1->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(Mail, nullptr);
    EXPECT_EQ(W->Lv2->Count(), 20);
}

TEST_P(MailboxServerTest, ARefusedPasswordShowsOnlyTheSecondBox)
{
    W->Lv1->SetSubItem(W->Lv1->Selected(), 1, "wrong");
    ClickConnect();
    // The box says why, with the server's own reply.
    ASSERT_EQ(Boxes.size(), 1u);
    const std::string why = Texts::CouldNotConnect + ("\n" + std::string(Texts::LoginRefused) + "\n-ERR");
    EXPECT_EQ(Boxes[0].Text.substr(0, why.size()), why);
    EXPECT_EQ(Boxes[0].Icon, TMsgIcon::Exclamation);
    EXPECT_EQ(Boxes[0].Caption, Texts::Confirm);
    EXPECT_FALSE(W->SpeedButton1->isChecked());
    EXPECT_FALSE(CommandButtonsEnabled());
    EXPECT_EQ(Panel(0), "");
    // The right password connects at the next press.
    W->Lv1->SetSubItem(W->Lv1->Selected(), 1, "secret");
    ClickConnect();
    EXPECT_EQ(Panel(0), Texts::Online);
}

TEST_P(MailboxServerTest, SortedRowsDeleteTheirOwnMessagesUndoBringsThemBackAndTheButtonStaysUsable)
{
    // Message n: n kilobytes of text, dated n days after the first; the largest has a subject
    // Shift-JIS cannot hold, which must come back as it was listed.
    for (int n = 1; n <= 5; ++n)
        Server->AddMessage(mailbox::MailBuilder()
                               .Subject(n < 5 ? "size " + std::to_string(n) : "=?UTF-8?Q?size_5_caf=C3=A9_=F0=9F=93=A6?=")
                               .Date("Mon, " + std::to_string(n) + " Jul 2024 09:30:00 +0900 (JST)")
                               .Text(std::string(static_cast<size_t>(n) * 1024, 'x') + "\n")
                               .Build());
    ClickConnect();
    ASSERT_EQ(W->Lv2->Count(), 5);
    EXPECT_EQ(W->Lv2->Text(0, 3), MessageList::DateText(1719793800));  // 2024-07-01 00:30 UTC
    QHeaderView* header = W->Lv2->horizontalHeader();
    for (int i = 0; i < 2; ++i)
        header->sectionClicked(2);  // size, then largest first
    ASSERT_EQ(RowNumbers(), (std::vector<int>{5, 4, 3, 2, 1}));

    // Space checks the two largest, the Delete key asks, with their count.
    for (int row : {0, 1}) {
        W->Lv2->setCurrentIndex(W->Lv2->model()->index(row, 0));
        QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
        QApplication::sendEvent(W->Lv2, &space);
    }
    EXPECT_FALSE(W->BitBtn6->isEnabled());
    Answers = {mrYes};
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(W->Lv2, &del);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text.substr(0, 2), "2 ");
    EXPECT_EQ(RowNumbers(), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(Panel(1), "3");
    EXPECT_TRUE(W->BitBtn6->isEnabled());
    W->MenuItemClick(W->Pm2);
    EXPECT_TRUE(W->Pm2_3->isEnabled());

    W->BitBtn6->click();  // RSET: both come back, in their sorted places, checked
    EXPECT_EQ(RowNumbers(), (std::vector<int>{5, 4, 3, 2, 1}));
    const QString largest = W->Lv2->Text(0, 0);
    EXPECT_EQ(largest, " size 5 caf\u00e9 \U0001F4E6");
    EXPECT_TRUE(W->Lv2->Checked(0));
    EXPECT_EQ(Panel(1), "5");
    EXPECT_FALSE(W->BitBtn6->isEnabled());

    // The connect button stays usable while connected, even without a selected account.
    W->Lv1->clearSelection();
    EXPECT_TRUE(W->SpeedButton1->isEnabled());
    EXPECT_EQ(W->SpeedButton1->text(), SjisToQ(Texts::DisconnectCaption));
    W->Lv2->SetChecked(1, false);  // only the largest
    Answers = {mrYes};
    W->BitBtn5->click();
    ClickConnect();  // QUIT
    EXPECT_FALSE(W->SpeedButton1->isEnabled());
    EXPECT_EQ(W->SpeedButton1->text(), SjisToQ(Texts::ConnectCaption));
    EXPECT_EQ(Server->CountMessages(), 4);
    W->Lv1->selectRow(0);
    ClickConnect();
    ASSERT_EQ(W->Lv2->Count(), 4);
    for (int row = 0; row < 4; ++row)
        EXPECT_NE(W->Lv2->Text(row, 0), largest);
    EXPECT_EQ(Boxes.size(), 2u);
}

// A rule made from a row of the sender panel checks that sender's rows, is kept in
// "Rules.lst", and checks them again on the next listing; a friend's rows stay unchecked.
TEST_P(MailboxServerTest, ARuleMadeFromASenderRowChecksItsRowsAgainAfterReconnecting)
{
    const auto mail = [](const std::string& from) { return mailbox::MailBuilder().From(from).Subject("s").Text("t\n").Build(); };
    for (const char* from : {"News <News@Shop.example.jp>", "a@family.example.jp", "news@shop.example.jp", "b@shop.example.jp"})
        Server->AddMessage(mail(from));
    ClickConnect();
    W->SenderButton->click();
    W->SenderPanel->Refresh();
    const int news = W->Grouping->Find(TGroupBy::Address, "news@shop.example.jp");
    W->SenderPanel->Select(news);
    EXPECT_EQ(RowNumbers(), (std::vector<int>{1, 3}));   // the list shows the group only
    W->SenderPanel->KeepSender->trigger();               // not for this sender: a friend after all
    W->SenderPanel->SetBy(TGroupBy::Domain);
    W->SenderPanel->Select(W->Grouping->Find(TGroupBy::Domain, "shop.example.jp"));
    EXPECT_FALSE(W->SenderPanel->AlwaysCheckSender->isEnabled());
    W->SenderPanel->AlwaysCheckDomain->trigger();        // the friend's rows stay unchecked
    W->SenderPanel->Select(-1);
    EXPECT_EQ(RowNumbers(), (std::vector<int>{1, 2, 3, 4}));
    const auto checked = [this] {
        std::vector<int> numbers;
        for (int row = 0; row < W->Lv2->Count(); ++row)
            if (W->Lv2->Checked(row))
                numbers.push_back(W->Lv2->Data(row));
        return numbers;
    };
    EXPECT_EQ(checked(), std::vector<int>{4});
    EXPECT_EQ(Panel(3), Texts::RulesChecked + std::string("1") + Texts::RulesCheckedCount);
    EXPECT_NE(ReadFile("Rules.lst").find("check domain shop.example.jp\n"), std::string::npos);
    EXPECT_NE(ReadFile("Rules.lst").find("keep sender news@shop.example.jp\n"), std::string::npos);

    W->Lv2->SetChecked(3, false);
    ClickConnect();   // QUIT
    W->Rules->Load(); // as a new start reads it
    ClickConnect();
    EXPECT_EQ(checked(), std::vector<int>{4});
    EXPECT_EQ(Panel(3), Texts::RulesChecked + std::string("1") + Texts::RulesCheckedCount);
    // "このグループを選択" checks the rest of a group by hand.
    W->SenderPanel->Refresh();
    W->SenderPanel->Select(W->Grouping->Find(TGroupBy::Domain, "family.example.jp"));
    W->SenderPanel->CheckGroupButton->click();
    W->SenderPanel->Select(-1);
    EXPECT_EQ(checked(), (std::vector<int>{2, 4}));
    EXPECT_TRUE(Boxes.empty());
}

// Every account at a glance, from the account menu: one row per account, a failing one among
// them; opening a row lists that account's mailbox in the window.
TEST_P(MailboxServerTest, EveryAccountAtAGlanceOpensTheMailboxOfARow)
{
    AddNumbered(2);
    UseAccount("127.0.0.1", Server->Port(), "alice", "wrong");
    W->Pm1_6->trigger();
    QApplication::processEvents();   // the check starts after the menu's handler and runs to its end
    ASSERT_NE(W->AccountsCheck, nullptr);
    EXPECT_FALSE(W->AccountsCheck->Check().Running());
    QTableWidget* table = W->AccountsCheck->Table;
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(0, 1)->text(), SjisToQ(Texts::CheckStates[2]));
    EXPECT_EQ(table->item(0, 2)->text(), "2");
    EXPECT_EQ(table->item(1, 1)->text(), SjisToQ(Texts::CheckStates[3]));
    EXPECT_TRUE(table->item(1, 6)->text().startsWith(SjisToQ(Texts::LoginRefused)));
    EXPECT_FALSE(W->SpeedButton1->isChecked());
    W->AccountsCheck->Open(0);
    EXPECT_TRUE(W->SpeedButton1->isChecked());
    EXPECT_EQ(W->Lv1->Selected(), 0);
    EXPECT_EQ(RowNumbers(), (std::vector<int>{1, 2}));
    EXPECT_TRUE(Boxes.empty());
}

} // namespace
