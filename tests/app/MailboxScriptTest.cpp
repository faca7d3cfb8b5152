// The window over the session against scripted servers, for what a real server does not do
// on demand: the boxes of refusals and failed connections, a dropped connection, replies that
// keep the window waiting while the user releases the connect button or closes the viewer.
// What the session itself does with them: tests/mailbox/SessionServerTest.cpp.
#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QCoreApplication>
#include <QPointer>
#include <QScrollBar>
#include <chrono>

#include "app/mailboxview/MessageModel.h"
#include "app/main/Sjis.h"
#include "pop3/Nmpop3.h"
#include "tests/app/MailboxFixture.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/ScriptServer.h"

using namespace std::chrono_literals;
using testsupport::Script;
using testsupport::ScriptServer;

namespace {

bool Sent(const ScriptServer& server, std::size_t connection, const std::string& line)
{
    return server.TimesSent(connection, line) > 0;
}

using MailboxScriptTest = MailboxTest;

TEST_F(MailboxScriptTest, ASlowListingIsLaidOutInBatchesNotForEveryRow)
{
    Script s;
    s.Pop3Listing("alice", "secret", 40);
    for (int n = 1; n <= 40; ++n)
        s.Pause(8ms).Summaries(n, n);
    s.Pop3Quit();
    ScriptServer server(s);
    UseAccount("127.0.0.1", server.Port());
    // Rows come with their sizes from LIST; the headers that arrived since the last look are
    // announced together, at least 50 ms apart: fewer announcements than headers, none lost.
    int batches = 0;
    QObject::connect(W->Model.get(), &QAbstractItemModel::dataChanged, W->Model.get(),
                     [&](const QModelIndex&, const QModelIndex&, const QList<int>& roles) { batches += roles.isEmpty(); });
    int rangeAtRow30 = -1;
    AtRow(30, [&] { rangeAtRow30 = W->Lv2->verticalScrollBar()->maximum(); });
    ClickConnect();
    ASSERT_EQ(W->Lv2->Count(), 40);
    bool allThere = true;
    for (int row = 0; row < 40; ++row)
        allThere = allThere && CellSjis(*W, row, 0) != Texts::HeaderPending;
    EXPECT_GE(batches, 2);
    EXPECT_LT(batches, 40) << "one announcement per header";
    EXPECT_TRUE(allThere) << "a header was never announced";
    // Every row was there with its size before the headers came.
    EXPECT_GT(rangeAtRow30, 0);
    EXPECT_EQ(rangeAtRow30, W->Lv2->verticalScrollBar()->maximum());
    ClickConnect();
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(MailboxScriptTest, ARefusedDeletionStopsTheCommandAndShowsTheReply)
{
    Script s;
    s.Pop3Listing("alice", "secret", 3);
    s.Summaries(1, 3)
        .Expect("DELE 1").SendLine("+OK deleted")
        .Expect("DELE 2").SendLine("-ERR message 2 is locked")
        // The accepted row has left the list: the next command asks for the others only.
        .Expect("DELE 2").SendLine("+OK deleted")
        .Expect("DELE 3").SendLine("+OK deleted");
    s.Pop3Quit();
    ScriptServer server(s);
    UseAccount("127.0.0.1", server.Port());
    ClickConnect();
    W->BitBtn3->click();  // check all
    Answers = {mrYes};
    W->BitBtn5->click();
    ASSERT_EQ(BoxTexts(), (std::vector<std::string>{DeleteQuestion(3, "600 B"), "-ERR message 2 is locked\r\n"}));
    EXPECT_EQ(Boxes[1].Caption, "Purgel");  // the application's exception display
    EXPECT_EQ(Boxes[1].Icon, TMsgIcon::Stop);
    ASSERT_EQ(RowNumbers(), (std::vector<int>{2, 3}));
    EXPECT_EQ(Panel(1), "2");
    EXPECT_EQ(std::to_string(W->Lv2->Record(0).Size), "200");
    EXPECT_TRUE(W->Lv2->Checked(0));
    EXPECT_EQ(W->Lv2->Selected(), 0);  // the refused row stays selected

    Answers = {mrYes};
    W->BitBtn5->click();
    EXPECT_EQ(Boxes.size(), 3u);
    EXPECT_EQ(Boxes[2].Text, DeleteQuestion(2, "500 B"));
    EXPECT_EQ(Panel(1), "0");
    EXPECT_EQ(W->Lv2->Count(), 0);
    ClickConnect();
    EXPECT_TRUE(server.WaitDone());
    EXPECT_FALSE(Sent(server, 0, "DELE -1"));
}

TEST_F(MailboxScriptTest, DeletingWhileTheFilterHidesCheckedRowsCountsAndDeletesExactlyTheChecked)
{
    Script s;
    s.Pop3Listing("alice", "secret", 4);
    s.Summaries(1, 4).Expect("DELE 2").SendLine("+OK deleted").Expect("DELE 1").SendLine("+OK deleted")
        .Expect("DELE 3").SendLine("+OK deleted");
    s.Pop3Quit();
    ScriptServer server(s);
    UseAccount("127.0.0.1", server.Port());
    ClickConnect();
    for (int row : {0, 1, 2})
        W->Lv2->SetChecked(row, true);
    W->FilterEdit->setText("message 2");   // rows 1 and 3 checked but hidden, row 4 hidden unchecked
    ASSERT_EQ(RowNumbers(), std::vector<int>{2});
    Answers = {mrYes};
    W->BitBtn5->click();
    ASSERT_EQ(BoxTexts(), std::vector<std::string>{DeleteQuestion(3, "600 B")});
    W->FilterEdit->clear();
    EXPECT_EQ(RowNumbers(), std::vector<int>{4});
    ClickConnect();
    EXPECT_TRUE(server.WaitDone());
    EXPECT_FALSE(Sent(server, 0, "DELE 4"));
}

TEST_F(MailboxScriptTest, TheServerClosingWhileOnlineLeavesTheButtonDown)
{
    Script first;
    first.Pop3Listing("alice", "secret", 1);
    first.Summaries(1, 1).Pause(100ms).Close();
    Script second;
    second.Pop3Listing("alice", "secret", 0);
    second.Pop3Quit();
    ScriptServer server({first, second});
    UseAccount("127.0.0.1", server.Port());
    ClickConnect();
    EXPECT_EQ(Panel(0), Texts::Online);
    ASSERT_TRUE(testsupport::PumpUntil([this] { return !W->NMPOP3->Connected; }, 5000ms));
    EXPECT_EQ(Panel(0), "");
    EXPECT_EQ(Panel(1), "");
    EXPECT_FALSE(CommandButtonsEnabled());
    EXPECT_TRUE(W->SpeedButton1->isChecked());
    EXPECT_EQ(W->Lv2->Count(), 1);

    ClickConnect();  // up: idle
    EXPECT_FALSE(W->SpeedButton1->isChecked());
    EXPECT_EQ(server.Accepted(), 1u);
    ClickConnect();  // down: connects again
    EXPECT_EQ(Panel(0), Texts::Online);
    EXPECT_EQ(Panel(1), "0");
    EXPECT_EQ(W->Lv2->Count(), 0);
    ClickConnect();
    EXPECT_TRUE(server.WaitDone());
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(MailboxScriptTest, AConnectionLostAfterDeletionsSaysNothingWasDeletedAndBringsTheRowsBack)
{
    Script s;
    s.Pop3Listing("alice", "secret", 3);
    s.Summaries(1, 3).Expect("DELE 2").SendLine("+OK deleted").Pause(100ms).Close();
    ScriptServer server(s);
    UseAccount("127.0.0.1", server.Port());
    ClickConnect();
    W->Lv2->SetChecked(1, true);
    Answers = {mrYes};
    W->BitBtn5->click();
    ASSERT_EQ(RowNumbers(), (std::vector<int>{1, 3}));
    EXPECT_TRUE(W->BitBtn6->isEnabled());
    ASSERT_TRUE(testsupport::PumpUntil([this] { return !W->NMPOP3->Connected; }, 5000ms));
    EXPECT_EQ(BoxTexts().back(), Texts::DeletionsKept);
    EXPECT_EQ(RowNumbers(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(std::to_string(W->Lv2->Record(1).Size), "200");
    EXPECT_FALSE(W->BitBtn6->isEnabled());
    EXPECT_TRUE(W->SpeedButton1->isEnabled());  // still down: one click ends it
    ClickConnect();
    EXPECT_EQ(Boxes.size(), 2u);
}

TEST_F(MailboxScriptTest, SortingWhileADeletionWaitsChangesNoMessageThatIsAskedFor)
{
    auto waiting = NewFlag();
    Script s;
    s.Pop3Listing("alice", "secret", 3);
    s.Summaries(1, 3).Expect("DELE 1").Call([waiting] { *waiting = true; }).Pause(200ms).SendLine("+OK");
    s.Expect("DELE 3").SendLine("+OK");
    s.Pop3Quit();
    ScriptServer server(s);
    When([waiting] { return waiting->load(); }, [this] {
        for (int i = 0; i < 2; ++i)
            W->Lv2->horizontalHeader()->sectionClicked(2);  // largest first: 3, 2, 1
    });
    UseAccount("127.0.0.1", server.Port());
    ClickConnect();
    W->Lv2->SetChecked(0, true);
    W->Lv2->SetChecked(2, true);
    Answers = {mrYes};
    W->BitBtn5->click();
    EXPECT_EQ(RowNumbers(), (std::vector<int>{2}));
    ClickConnect();
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(server.ReceivedLines(0).size(), 12u);   // CAPA USER PASS STAT, TOP LIST, LIST, 2 x TOP, DELE 1, DELE 3, QUIT
}

// A server that never greets, an unknown host, a refused greeting: one box with the reason.
TEST_F(MailboxScriptTest, AFailedConnectionShowsOneBoxWithItsReason)
{
    ScriptServer silent(Script().Pause(3000ms).Close()), away(Script().SendLine("-ERR go away").Close());
    const struct {
        std::string host;
        int port;
        std::string text;
    } cases[] = {
        {"127.0.0.1", silent.Port(), Texts::CouldNotConnect + ("\n" + std::string(Texts::NoAnswer))},
        {"bad..name", 110, Texts::CouldNotConnect + ("\n" + std::string(Texts::HostNotFound))},
        {"127.0.0.1", away.Port(), Texts::CouldNotConnect},
    };
    for (const auto& c : cases) {
        Boxes.clear();
        UseAccount(c.host, c.port, "alice", "secret", "1");
        ClickConnect();
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{c.text}) << c.host << ":" << c.port;
        EXPECT_FALSE(W->SpeedButton1->isChecked());
    }
    EXPECT_TRUE(away.WaitDone());
}

TEST_F(MailboxScriptTest, ConnectingShowsItsStateAndTheCount)
{
    auto greeted = NewFlag();
    Script s;
    s.Call([greeted] { *greeted = true; }).Pause(200ms);
    s.Pop3Listing("alice", "secret", 0);
    s.Pop3Quit();
    ScriptServer server(s);
    UseAccount("127.0.0.1", server.Port());
    std::string during;
    When([greeted] { return greeted->load(); }, [&] { during = Panel(0); });
    ClickConnect();
    EXPECT_EQ(during, Texts::Connecting);
    EXPECT_EQ(Panel(0), Texts::Online);
    ClickConnect();
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(MailboxScriptTest, ARefusedConnectionShowsBothBoxesInOrder)
{
    UseAccount("127.0.0.1", testsupport::UnusedPort());
    ClickConnect();
    ASSERT_EQ(BoxTexts(), (std::vector<std::string>{Texts::CannotConnect,
                                                    Texts::CouldNotConnect + ("\n" + std::string(Texts::ConnectionRefused))}));
    for (const auto& b : Boxes) {
        EXPECT_EQ(b.Icon, TMsgIcon::Exclamation);
        EXPECT_EQ(b.Buttons, TMsgButtons::OK);
        EXPECT_EQ(b.Caption, Texts::Confirm);
    }
    EXPECT_FALSE(W->SpeedButton1->isChecked());
    EXPECT_EQ(Panel(0), "");
    EXPECT_FALSE(CommandButtonsEnabled());
}

TEST_F(MailboxScriptTest, ClosingTheViewerWhileItsTextIsFetchedDropsTheResult)
{
    auto waiting = NewFlag();
    Script s;
    s.Pop3Listing("alice", "secret", 1);
    s.Summaries(1, 1).Expect("RETR 1").Call([waiting] { *waiting = true; }).Pause(200ms);
    s.Send("+OK\r\nSubject: one\r\n\r\nline\r\n.\r\n");
    s.Summaries(1, 1);
    s.Pop3Quit();
    ScriptServer server(s);
    UseAccount("127.0.0.1", server.Port());
    ClickConnect();
    QPointer<TMail> viewer;
    When([waiting] { return waiting->load(); }, [&] {
        viewer = Mail;
        Mail->close();
    });
    ChooseFromMessageMenu(0, W->Pm2_1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(viewer.isNull());
    EXPECT_EQ(Mail, nullptr);
    // The next view is filled as usual (the mode went back to the listing's).
    ChooseFromMessageMenu(0, W->Pm2_2);
    ASSERT_NE(Mail, nullptr);
    EXPECT_EQ(Mail->windowTitle(), " message 1");
    EXPECT_EQ(W->Lv2->Count(), 1);
    ClickConnect();
    EXPECT_TRUE(server.WaitDone());
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(MailboxScriptTest, ARefusedMessageTextShowsNoOtherMessage)
{
    Script s;
    s.Pop3Listing("alice", "secret", 2);
    s.Summaries(1, 2).Expect("RETR 1").Send("+OK\r\nSubject: one\r\n\r\nfirst text\r\n.\r\n");
    s.Expect("RETR 2").SendLine("-ERR message 2 is gone");
    s.Pop3Quit();
    ScriptServer server(s);
    UseAccount("127.0.0.1", server.Port());
    ClickConnect();
    ChooseFromMessageMenu(0, W->Pm2_1);
    EXPECT_EQ(ViewerLines(), std::vector<std::string>{"first text"});
    ChooseFromMessageMenu(1, W->Pm2_1);
    EXPECT_TRUE(ViewerLines().empty());
    EXPECT_EQ(Mail->windowTitle(), "");
    EXPECT_TRUE(Boxes.empty());  // a failing text view is silent
    ClickConnect();
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(MailboxScriptTest, ViewsWithoutAConnection)
{
    AddMessageRow(*W, "s", "f", 10, 3);
    W->MenuItemClick(W->Pm2);
    EXPECT_FALSE(W->Pm2_1->isEnabled());
    EXPECT_FALSE(W->Pm2_2->isEnabled());
    // Both views say that nothing will arrive, in the viewer, without a box.
    ChooseFromMessageMenu(0, W->Pm2_2);
    ASSERT_NE(Mail, nullptr);
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(Mail->Sb->PanelText(0), Texts::Offline);
    ChooseFromMessageMenu(0, W->Pm2_1);
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(Mail->Sb->PanelText(0), Texts::Offline);
    // A double-click views nothing without a connection.
    QPointer<TMail> viewer = Mail;
    W->Lv2->OnDblClick();
    EXPECT_EQ(Mail, viewer.data());
}

TEST_F(MailboxScriptTest, ASecondPressWhileConnectingPutsTheButtonBackUp)
{
    auto greeted = NewFlag();
    Script s;
    s.Call([greeted] { *greeted = true; }).Pause(200ms);
    s.Pop3Listing("alice", "secret", 0);
    s.Pop3Quit();
    ScriptServer server(s);
    UseAccount("127.0.0.1", server.Port());
    When([greeted] { return greeted->load(); }, [this] {
        W->SpeedButton1->setChecked(false);  // as if released and pressed again meanwhile
        ClickConnect();
        EXPECT_FALSE(W->SpeedButton1->isChecked());
        W->SpeedButton1->setChecked(true);
    });
    ClickConnect();
    EXPECT_EQ(Panel(0), Texts::Online);
    EXPECT_EQ(server.Accepted(), 1u);
    ClickConnect();
    EXPECT_TRUE(server.WaitDone());
}

TEST_F(MailboxScriptTest, ClosingTheWindowWhileConnectingEndsTheWaitWithoutBoxes)
{
    testsupport::StalledListener stalled;
    UseAccount("127.0.0.1", stalled.Port(), "alice", "secret", "30");
    When([] { return true; }, [this] { W->close(); });
    ClickConnect();
    EXPECT_FALSE(W->NMPOP3->TimeoutFired) << "the close ended the wait, not the time-out";
    EXPECT_FALSE(W->NMPOP3->Connected);
    EXPECT_TRUE(Boxes.empty());
}

} // namespace
