// The main window's use of the keyring against a real GNOME Keyring on a private session bus
// (KeyringRig), and, run with --no-session-bus, in a process that has no session bus at all.
// The window connects to a private Dovecot.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <utility>

#include "app/accounts/AccountDialog.h"
#include "app/main/ListView.h"
#include "app/main/MainWindow.h"
#include "app/main/Sjis.h"
#include "app/main/Texts.h"
#include "mailbox/Environment.h"
#include "mailbox/Keyring.h"
#include "pop3/Nmpop3.h"
#include "tests/app/TestSupport.h"
#include "tests/support/Dovecot.h"
#include "tests/support/KeyringRig.h"

namespace {

// The window with a keyring of its own service, and a Dovecot for user alice, password secret.
class KeyringWindowTest : public AppTest {
protected:
    static void SetUpTestSuite() { Server = new DovecotServer; Server->Start(); }
    static void TearDownTestSuite() { delete Server; Server = nullptr; }
    void SetUp() override
    {
        AppTest::SetUp();
        Keyring.Service = std::string("PurgelWindow.") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    void TearDown() override
    {
        W.reset();
        Unlock();
        AppTest::TearDown();
    }
    // Locking lasts until the daemon starts again (nobody answers its unlock prompt).
    void Lock() { Rig->LockCollection(); Locked = true; }
    void Unlock()
    {
        if (std::exchange(Locked, false)) {
            Rig->StopKeyring();
            Rig->StartKeyring();
        }
    }
    void Start(const std::string& file)
    {
        WriteFile("Account.lst", file);
        W = std::make_unique<TMain>();
        W->Keyring.Service = Keyring.Service;
        W->show();
        QCoreApplication::processEvents();   // the move offer
    }
    // Connects with account `row` and ends the connection again; whether it logged in.
    bool Connects(int row)
    {
        W->Lv1->selectRow(row);
        W->SpeedButton1->click();
        const bool in = W->NMPOP3->Connected;
        if (W->SpeedButton1->isChecked())
            W->SpeedButton1->click();
        return in;
    }
    std::string Stored(const std::string& id, const std::string& server = "127.0.0.1", std::string port = "")
    {
        std::string pw;
        const TKeyringResult r = Keyring.Read({id, server, port.empty() ? Port() : port}, pw);
        return r == TKeyringResult::Ok ? pw : "<none>";
    }
    static std::string Port() { return std::to_string(Server->Port()); }
    static std::string Account(const std::string& name, const std::string& id, const std::string& pw)
    {
        return "\"" + name + "\",\"" + id + "\",\"" + pw + "\",\"127.0.0.1\",\"10\",\"" + Port() + "\"\r\n";
    }
    // Runs the account dialog that `command` opens: `fill` sets its fields, then OK.
    void Dialog(const std::function<void(TAcco&)>& fill, const std::function<void()>& command)
    {
        const auto found = OnNextModal([&](QWidget* w) {
            auto* d = dynamic_cast<TAcco*>(w);
            ASSERT_NE(d, nullptr);
            fill(*d);
            d->BitBtn1->click();
        });
        command();
        EXPECT_TRUE(*found);
    }
    static DovecotServer* Server;
    TKeyring Keyring;
    std::unique_ptr<TMain> W;
    bool Locked = false;
};
DovecotServer* KeyringWindowTest::Server = nullptr;

// A file of the previous version: plain passwords, six fields. Declining the offer keeps it
// byte for byte, it connects as before, and the offer is not made again.
TEST_F(KeyringWindowTest, APreviousFileConnectsUnchangedAndTheOfferComesOnce)
{
    const std::string file = Account("a", "alice", "secret");
    Start(file);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, Texts::AskMoveToKeyring);
    EXPECT_TRUE(Connects(0));
    EXPECT_TRUE(Prompts.empty());
    W.reset();
    EXPECT_EQ(ReadFile("Account.lst"), file);
    Start(file);
    EXPECT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Stored("alice"), "<none>");
}

// The demo account, named in the settings file by the demo setup, keeps its public password
// in the file and brings no offer; a real account beside it is offered and moves alone.
TEST_F(KeyringWindowTest, TheDemoAccountIsNeverOffered)
{
    WriteFile(SettingsFileName().substr(Path("").size()), "[Demo]\r\nAccount=demo@127.0.0.1:" + Port() + "\r\n");
    const std::string demo = Account("d", "demo", "demo");
    Start(demo);
    EXPECT_TRUE(Boxes.empty());
    W.reset();
    Answers = {mrYes};
    Start(demo + Account("a", "alice", "secret"));
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(ReadFile("Account.lst"), demo + Account("a", "alice", ""));
    EXPECT_EQ(Stored("alice"), "secret");
    EXPECT_EQ(Stored("demo"), "<none>");
}

// The keyring locks as soon as the first password is in (seen by a read queued behind its
// store): the move stops there, what moved has an empty field and connects from the keyring,
// the rest stays in the file.
TEST_F(KeyringWindowTest, AKeyringThatRefusesHalfwayLosesNothing)
{
    bool locked = false, polling = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (locked || polling)
            return;
        polling = true;
        if (Stored("alice") == "secret") {
            Rig->LockCollection();
            locked = true;
        }
        polling = false;
    });
    poll.start(1);
    Answers = {mrYes};
    const std::string rest = Account("b", "bob", "pw-b") + Account("c", "carol", "pw-c");
    Start(Account("a", "alice", "secret") + rest);
    poll.stop();
    Rig->StopKeyring();
    Rig->StartKeyring();
    ASSERT_TRUE(locked);
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[1].Text, Texts::MoveIncomplete);
    EXPECT_EQ(ReadFile("Account.lst"), Account("a", "alice", "") + rest);
    EXPECT_EQ(Stored("alice"), "secret");
    EXPECT_EQ(Stored("bob"), "<none>");
    EXPECT_EQ(W->Lv1->item(0, 0)->toolTip(), SjisToQ(Texts::PasswordInKeyringTip));
    EXPECT_EQ(W->Lv1->item(1, 0)->toolTip(), SjisToQ(Texts::PasswordInFileTip));
    EXPECT_TRUE(Connects(0));
    EXPECT_TRUE(Prompts.empty());
}

// An entry that is not there asks; "remember" in the keyring answers the next connect.
TEST_F(KeyringWindowTest, AMissingEntryAsksAndTheAnswerIsRemembered)
{
    Start(Account("a", "alice", "") + Account("b", "bob", ""));
    EXPECT_TRUE(Boxes.empty());   // nothing in plain text: no offer
    PasswordAnswers = {{"secret", TRememberPlace::Keyring}};
    EXPECT_TRUE(Connects(0));
    EXPECT_EQ(Prompts, std::vector<std::string>{"a+keyring"});
    EXPECT_EQ(Stored("alice"), "secret");
    EXPECT_TRUE(Connects(0));
    EXPECT_FALSE(Connects(1));   // cancelled: no connect, no box
    EXPECT_EQ(Prompts, (std::vector<std::string>{"a+keyring", "b+keyring"}));
    EXPECT_FALSE(W->SpeedButton1->isChecked());
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(ReadFile("Account.lst"), Account("a", "alice", "") + Account("b", "bob", ""));
}

// New, edit (server and ID moved, then into the file), copy and delete keep the entries in step.
TEST_F(KeyringWindowTest, AccountCommandsKeepTheKeyringInStep)
{
    Start("");
    const auto dialog = [this](auto fill, auto command) { Dialog(fill, command); };
    dialog([](TAcco& d) {
        EXPECT_EQ(d.Loc->currentIndex(), 0);   // a keyring answers: the default
        d.Nam->setText("a");
        d.Acc->setText("alice");
        d.Pas->setText("secret");
        d.Pop->setText("localhost");
        d.Sec->setCurrentIndex(2);   // the private Dovecot speaks plain POP3
        d.Por->setText(QString::fromStdString(Port()));
    }, [&] { W->Pm1_1->trigger(); });
    EXPECT_EQ(Stored("alice", "localhost"), "secret");
    EXPECT_EQ(W->Lv1->SubItem(0, 1), "");
    W->Lv1->selectRow(0);
    dialog([](TAcco& d) { d.Pop->setText("127.0.0.1"); }, [&] { W->ListViewDblClick(W->Lv1); });
    EXPECT_EQ(Stored("alice", "localhost"), "<none>");
    EXPECT_EQ(Stored("alice"), "secret");
    EXPECT_TRUE(Connects(0));
    W->Lv1->selectRow(0);
    W->MenuItemClick(W->Pm1_3);   // a copy shares the entry: deleting it leaves the entry
    W->Lv1->selectRow(1);
    Answers = {mrYes};
    W->MenuItemClick(W->Pm1_4);
    EXPECT_EQ(Stored("alice"), "secret");
    W->Lv1->selectRow(0);
    dialog([](TAcco& d) { d.Acc->setText("alice2"); }, [&] { W->ListViewDblClick(W->Lv1); });
    EXPECT_EQ(Stored("alice"), "<none>");
    EXPECT_EQ(Stored("alice2"), "secret");
    W->Lv1->selectRow(0);
    dialog([](TAcco& d) { d.Loc->setCurrentIndex(1); d.Pas->setText("in-file"); }, [&] { W->ListViewDblClick(W->Lv1); });
    EXPECT_EQ(Stored("alice2"), "<none>");
    EXPECT_EQ(W->Lv1->SubItem(0, 1), "in-file");
    dialog([](TAcco& d) { d.Loc->setCurrentIndex(0); }, [&] { W->ListViewDblClick(W->Lv1); });
    EXPECT_EQ(Stored("alice2"), "in-file");
    W->Lv1->selectRow(0);
    Answers = {mrYes};
    W->MenuItemClick(W->Pm1_4);
    EXPECT_EQ(Stored("alice2"), "<none>");
}

// The keyring locks as the command stores (at the dialog's OK, before the delete's yes): the
// person is told which change missed the keyring, and no password it held is lost. Account a
// (alice) keeps "secret" in the keyring at the start.
TEST_F(KeyringWindowTest, AKeyringLockedAsACommandStoresSaysSoAndLosesNothing)
{
    const auto fresh = [](TAcco& d) {
        d.Nam->setText("b");
        d.Acc->setText("bob");
        d.Pas->setText("pw-b");
        d.Pop->setText("127.0.0.1");
        d.Tim->setText("10");
        d.Sec->setCurrentIndex(2);
        d.Por->setText(QString::fromStdString(Port()));
    };
    const std::string storeFailed = std::string(Texts::KeyringStoreFailed) + "\n" + Texts::AskStoreInFile;
    const std::string a = Account("a", "alice", "");
    struct Case {
        const char* Command;
        bool New;
        std::function<void(TAcco&)> Fill;   // none: delete the account
        int Answer;                          // to the box that tells
        std::string Box, File, Alice;        // the box; then Account.lst and alice's entry
    };
    const Case cases[] = {
        {"new, not into the file", true, fresh, mrNo, storeFailed, a + Account("b", "bob", ""), "secret"},
        {"new, into the file", true, fresh, mrYes, storeFailed, a + Account("b", "bob", "pw-b"), "secret"},
        {"edit, new password", false, [](TAcco& d) { d.Pas->setText("new"); }, mrNo, storeFailed, a, "secret"},
        {"edit, ID changed", false, [](TAcco& d) { d.Acc->setText("alice2"); }, mrOK, Texts::KeyringUpdateFailed,
         Account("a", "alice2", ""), "secret"},
        {"delete", false, nullptr, mrOK, Texts::KeyringUpdateFailed, "", "secret"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Command);
        ASSERT_EQ(Keyring.Store({"alice", "127.0.0.1", Port()}, "secret"), TKeyringResult::Ok);
        Start(a);
        W->Lv1->selectRow(0);
        Boxes.clear();
        if (!c.Fill) {
            Lock();
            Answers = {mrYes, c.Answer};
            W->MenuItemClick(W->Pm1_4);
        } else {
            Answers = {c.Answer};
            Dialog([&](TAcco& d) { c.Fill(d); Lock(); }, [&] {
                c.New ? W->Pm1_1->trigger() : W->ListViewDblClick(W->Lv1);
            });
        }
        ASSERT_FALSE(Boxes.empty());
        EXPECT_EQ(Boxes.back().Text, c.Box);
        EXPECT_EQ(ReadFile("Account.lst"), c.File);
        W.reset();
        Unlock();
        EXPECT_EQ(Stored("alice"), c.Alice);
        EXPECT_EQ(Stored("alice2"), "<none>");
        EXPECT_EQ(Stored("bob"), "<none>");
    }
}

// At connect: a keyring that locks while the person types keeps nothing (and says so) but the
// connect goes on; a locked one is not offered to remember in; the file remembers, and connects
// from then on.
TEST_F(KeyringWindowTest, ConnectsPastALockedKeyringAndRemembersInTheFile)
{
    Start(Account("a", "alice", ""));
    SetPasswordPromptHook([this](const std::string& name, bool keyring, TPasswordAnswer& answer) {
        Prompts.push_back(name + (keyring ? "+keyring" : ""));
        answer = {"secret", keyring ? TRememberPlace::Keyring : TRememberPlace::File};
        if (!Locked)
            Lock();
        return true;
    });
    EXPECT_TRUE(Connects(0));
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, Texts::KeyringStoreFailed);
    EXPECT_EQ(ReadFile("Account.lst"), Account("a", "alice", ""));
    EXPECT_TRUE(Connects(0));   // the read refused: asked again, without the keyring item
    EXPECT_EQ(Prompts, (std::vector<std::string>{"a+keyring", "a"}));
    EXPECT_EQ(ReadFile("Account.lst"), Account("a", "alice", "secret"));
    EXPECT_EQ(W->Lv1->item(0, 0)->toolTip(), SjisToQ(Texts::PasswordInFileTip));
    EXPECT_TRUE(Connects(0));
    EXPECT_EQ(Prompts.size(), 2u);
    EXPECT_EQ(Boxes.size(), 1u);
    Unlock();
    EXPECT_EQ(Stored("alice"), "<none>");
}

// Without a session bus a password the file does not hold is asked, without the keyring item.
TEST_F(KeyringWindowTest, NoBusAsksWithoutTheKeyringItem)
{
    if (Rig)
        GTEST_SKIP() << "needs --no-session-bus";
    Start(Account("a", "alice", ""));
    EXPECT_TRUE(Boxes.empty());
    PasswordAnswers = {{"secret", TRememberPlace::None}};
    EXPECT_TRUE(Connects(0));
    EXPECT_EQ(Prompts, std::vector<std::string>{"a"});
    EXPECT_EQ(W->NMPOP3->Password, "") << "kept nowhere: gone with the connection";
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    InstallUnexpectedBoxHook();
    UseKeyringRig(argc, argv);
    return RUN_ALL_TESTS();
}
