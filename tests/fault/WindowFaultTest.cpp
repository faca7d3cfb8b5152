// Fault injection against the main window: the user connects (login and listing), views a
// message's text and its header, checks all messages and deletes them, and releases the
// connect button, while a scripted server breaks one line of that dialogue (drops the
// connection, cuts a line, resets, goes silent until the account's time-out, sends garbage
// or a 1 MiB line). Every command must end within the time-out, show only the boxes the
// failure calls for, leave the window in a state it can show (idle, online or dropped) and
// able to connect again, send no DELE the user did not ask for and no QUIT after a failure
// that closed the connection, and leave "Account.lst" and the folders as they were.
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "mailbox/AccountFile.h"
#include "pop3/Nmpop3.h"
#include "tests/app/MailboxFixture.h"
#include "tests/fault/LineFaults.h"
#include "tests/support/ScriptServer.h"

namespace {

using namespace std::chrono_literals;
using testsupport::Clock;
using testsupport::MsSince;
using testsupport::Script;
using testsupport::ScriptServer;
using testsupport::TopReply;
using testsupport::Wire;

// The account's time-out is "1" (seconds): the silent cases end by it. A command that must
// end otherwise is told by the component's TimeoutFired, not by the clock; the clock only
// bounds a hang.
constexpr long long TimeOutMs = 1000;

const char* const CurrentFolder = "cur";   // the current directory, inside the app folder

// The user's commands, in the order the test gives them.
enum class Phase { Login, Listing, ViewText, ViewHeader, Delete, Release };

// What a line of garbage in place of the faulted line does to the session.
enum class Junk {
    Absorbed,    // taken as data: the session goes on
    Gap,         // a size that is no number: the message gets no row, the listing goes on
    Distrusted,  // a line of the mailbox's listing: each later size is asked for on its own
    Refused,     // taken as the command's refusal: a box, the connection stays
    Login,       // the login fails; Connect's clean-up sends QUIT
    LastReply,   // the QUIT reply: nothing is left to fail
};

enum class State { Idle, Online, Dropped };

const char* StateName(State s)
{
    switch (s) {
    case State::Idle: return "idle";
    case State::Online: return "online";
    case State::Dropped: return "dropped";
    }
    return "?";
}

// The exchanges of the dialogue, in the order the window's commands make them.
// From the second summary on the sizes come from one listing of the mailbox.
enum Ex { Greeting, Capa, User, Pass, Stat, Top1, List1, ListAll, Top2, Retr, TopView, Dele, Dele2, Quit, ExCount };

// Exchanges that begin a component operation: a refusal skips to the next of them.
bool BeginsOperation(int e)
{
    return e == Greeting || e == Top1 || e == ListAll || e == Retr || e == TopView || e == Dele || e == Dele2 || e == Quit;
}

struct Exchange {
    std::string Command;   // "" for the greeting
    std::vector<std::string> Reply;   // none: the exchange does not take place
};

// The good dialogue; `viewed` is the message of the first row, which the user views. Both
// rows are checked and deleted: message 1 (when it has a row) and message 2.
std::vector<Exchange> Dialogue(int viewed)
{
    const std::string v = std::to_string(viewed);
    std::vector<Exchange> d(ExCount);
    d[Greeting] = {"", {"+OK ready"}};
    d[Capa] = {"CAPA", {"-ERR"}};
    d[User] = {"USER alice", {"+OK"}};
    d[Pass] = {"PASS secret", {"+OK"}};
    d[Stat] = {"STAT", {"+OK 2 320"}};
    d[Top1] = {"TOP 1 0", TopReply(1)};
    d[List1] = {"LIST 1", {"+OK 1 160"}};
    d[ListAll] = {"LIST", {"+OK 2 messages", "1 160", "2 160", "."}};
    d[Top2] = {"TOP 2 0", TopReply(2)};
    d[Retr] = {"RETR " + v,
               {"+OK",
                "Subject: text",
                "Content-Type: multipart/mixed; boundary=\"BB\"",
                "",
                "--BB",
                "Content-Type: text/plain",
                "",
                "body line 1",   // 7
                "body line 2",
                "--BB",
                "Content-Type: application/octet-stream; name=\"../escape.bin\"",
                "Content-Transfer-Encoding: base64",
                "",
                "YXR0YWNobWVudCBieXRlcyBhdHRhY2htZW50IGJ5dGVzIGF0dGFjaG1lbnQgYnl0",   // 13
                "ZXMgYXR0YWNobWVudCBieXRlcw==",
                "--BB--",
                "."}};
    d[TopView] = {"TOP " + v + " 0", TopReply(viewed)};
    d[Dele] = {"DELE " + v, {"+OK deleted"}};
    if (viewed != 2)
        d[Dele2] = {"DELE 2", {"+OK deleted"}};
    d[Quit] = {"QUIT", {"+OK bye"}};
    return d;
}

// Where a fault strikes: line `Line` of the reply of exchange `At`.
struct Step {
    const char* Name;
    int At;
    int Line;
    Phase During;
    Junk IfJunk;
};

const Step Steps[] = {
    {"Greeting", Greeting, 0, Phase::Login, Junk::Login},
    {"USER", User, 0, Phase::Login, Junk::Login},
    {"PASS", Pass, 0, Phase::Login, Junk::Login},
    {"STAT", Stat, 0, Phase::Login, Junk::Login},
    {"TOP_SubjectLine", Top1, 1, Phase::Listing, Junk::Absorbed},
    {"LIST", List1, 0, Phase::Listing, Junk::Gap},
    {"LIST_All", ListAll, 1, Phase::Listing, Junk::Distrusted},
    {"RETR_Body", Retr, 7, Phase::ViewText, Junk::Absorbed},
    {"RETR_Attachment", Retr, 13, Phase::ViewText, Junk::Absorbed},
    {"TOP_HeaderView", TopView, 0, Phase::ViewHeader, Junk::Refused},
    {"DELE_First", Dele, 0, Phase::Delete, Junk::Absorbed},
    {"DELE_Second", Dele2, 0, Phase::Delete, Junk::Absorbed},
    {"QUIT", Quit, 0, Phase::Release, Junk::LastReply},
};

// The expected end of a case.
struct Expectation {
    int Viewed = 1;                       // the message number of the first row
    State After = State::Online;          // once the command the fault hit is done
    bool GoesOn = false;                  // the window is still online: the user goes on
    std::vector<std::string> FailureBox;  // the box of the failed command: one of these texts
    bool TimesOut = false;                // the time-out ends the failed command
    bool Cancels = false;                 // releasing the button ends the wait at once
};

Expectation Expected(const Step& step, Fault fault)
{
    Expectation x;
    if (fault == Fault::Garbage) {
        switch (step.IfJunk) {
        case Junk::Absorbed:
        case Junk::Distrusted: x.GoesOn = true; break;
        case Junk::Gap:
            x.GoesOn = true;
            x.Viewed = 2;
            break;
        case Junk::Refused:
            x.GoesOn = true;
            x.FailureBox = {GarbageLine + "\r\n"};
            break;
        case Junk::Login:
            x.After = State::Idle;
            // A refused USER or PASS is named, with the server's reply.
            x.FailureBox = {step.At == User || step.At == Pass
                                ? Texts::CouldNotConnect + ("\n" + std::string(Texts::LoginRefused) + "\n" + GarbageLine)
                                : Texts::CouldNotConnect};
            break;
        case Junk::LastReply: x.After = State::Idle; break;
        }
        return x;
    }
    std::vector<std::string> text;
    switch (fault) {
    case Fault::Drop:
    case Fault::DropMidLine: text = {ConnectionClosedText}; break;
    case Fault::Reset: text = {ConnectionClosedText, "10054:Connection reset by peer"}; break;
    case Fault::Silent:
        text = {"Socket readln aborted"};
        x.TimesOut = true;
        break;
    case Fault::HugeLine: text = {"Line too long: no line end within 65536 bytes"}; break;
    case Fault::Garbage:
    case Fault::Tampered: break;
    }
    switch (step.During) {
    case Phase::Login:
        x.After = State::Idle;
        x.FailureBox = {fault == Fault::Silent ? Texts::CouldNotConnect + ("\n" + std::string(Texts::NoAnswer))
                                               : Texts::CouldNotConnect};
        break;
    case Phase::Listing:
    case Phase::ViewText: x.After = State::Dropped; break;
    case Phase::ViewHeader:
    case Phase::Delete:
        x.After = State::Dropped;
        x.FailureBox = text;   // the exception reaches the message loop's box
        break;
    case Phase::Release: x.After = State::Idle; break;
    }
    return x;
}

// The user releases the connect button while the server is silent at the step (during the
// QUIT, which the release sent, presses it again). Nothing waits for a reply that is not
// needed: only a deletion (whose reply must come before a QUIT) and the QUIT itself wait for
// the time-out.
Expectation ExpectedOnRelease(const Step& step)
{
    Expectation x;
    x.After = State::Idle;
    switch (step.During) {
    case Phase::Login:
        x.FailureBox = {Texts::CouldNotConnect};
        x.Cancels = true;
        break;
    case Phase::Listing:
    case Phase::ViewText: x.Cancels = true; break;
    case Phase::ViewHeader:
        x.FailureBox = {"Socket readln aborted"};
        x.Cancels = true;
        break;
    case Phase::Delete:
        x.FailureBox = {"Socket readln aborted"};
        x.TimesOut = true;
        break;
    case Phase::Release: x.TimesOut = true; break;
    }
    return x;
}

// The server's side of the first connection, and the lines the client must send on it.
struct FaultScript {
    Script Server;
    std::vector<std::string> ClientLines;
};

// `reached`, when given, is set once the server has sent the lines before the fault.
FaultScript MakeFaultScript(const Step& step, Fault fault, const Expectation& x, const Flag& reached = nullptr)
{
    FaultScript f;
    Script& s = f.Server;
    s.ExpectTimeout(5000ms);
    auto expect = [&f](const std::string& line) {
        f.Server.Expect(line);
        f.ClientLines.push_back(line + "\r\n");
    };
    const auto dialogue = Dialogue(x.Viewed);
    bool skipping = false;
    bool sizeEach = false;   // the listing was distrusted
    for (int e = 0; e < ExCount; ++e) {
        const Exchange& ex = dialogue[static_cast<std::size_t>(e)];
        if ((skipping && !BeginsOperation(e)) || ex.Reply.empty())
            continue;
        skipping = false;
        if (!ex.Command.empty())
            expect(ex.Command);
        if (e != step.At) {
            s.Send(Wire(ex.Reply));
            if (sizeEach && (e == Top2 || e == TopView)) {
                const std::string n = e == Top2 ? "2" : std::to_string(x.Viewed);
                expect("LIST " + n);
                s.SendLine("+OK " + n + " 160");
            }
            continue;
        }
        const auto l = static_cast<std::size_t>(step.Line);
        s.Send(Wire(ex.Reply, 0, l));
        if (reached)
            s.Call([reached] { *reached = true; });
        if (BreakLine(s, fault, ex.Reply[l]))
            return f;
        s.SendLine(GarbageLine);
        switch (step.IfJunk) {
        case Junk::Absorbed:
        case Junk::Gap: s.Send(Wire(ex.Reply, l + 1)); break;
        case Junk::Distrusted:
            s.Send(Wire(ex.Reply, l + 1));
            sizeEach = true;
            break;
        case Junk::Refused: skipping = true; break;
        case Junk::Login:
            expect("QUIT");
            s.SendLine("+OK").WaitForClose(5000ms);
            return f;
        case Junk::LastReply: s.WaitForClose(5000ms); return f;
        }
    }
    s.WaitForClose(5000ms);
    return f;
}

using Case = std::tuple<int, Fault>;   // index into Steps, fault

class WindowFault : public MailboxTest, public ::testing::WithParamInterface<Case> {
protected:
    // The window is made anew over an "Account.lst" that holds the scripted server's account
    // with a time-out of "1", and the current directory is a folder inside the app folder.
    void OpenWindow(std::uint16_t port)
    {
        W.reset();
        AccountFile = FormatAccounts({TAccountFields{"fault", "alice", "secret", "127.0.0.1", "1", std::to_string(port)}});
        WriteFile("Account.lst", AccountFile);
        ASSERT_TRUE(QDir(Dir.path()).mkpath(CurrentFolder));
        ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(Path(CurrentFolder))));
        W = std::make_unique<TMain>();
        W->show();
        ASSERT_EQ(W->Lv1->Count(), 1);
        W->Lv1->selectRow(0);
    }

    // Runs a command of the user; when `timesOut` is given, it ends by the time-out exactly
    // then (a time-out stays noted until the next wait, so it is not asked after one).
    long long Timed(const char* what, const std::function<void()>& command, std::optional<bool> timesOut = false)
    {
        const auto t0 = Clock::now();
        command();
        const long long ms = MsSince(t0);
        if (timesOut) {
            EXPECT_EQ(static_cast<bool>(W->NMPOP3->TimeoutFired), *timesOut) << what << (*timesOut ? " did not end by" : " ended by") << " the time-out";
        }
        EXPECT_LE(ms, TimeOutMs + testsupport::Generous(3s).count()) << what << " hung";
        return ms;
    }

    State Now() const
    {
        if (!W->SpeedButton1->isChecked())
            return State::Idle;
        return W->NMPOP3->Connected ? State::Online : State::Dropped;
    }

    // The visible signs of a state.
    void ExpectState(State s, const std::string& when)
    {
        SCOPED_TRACE(when);
        EXPECT_EQ(StateName(Now()), std::string(StateName(s)));
        EXPECT_FALSE(W->NMPOP3->Busy());
        EXPECT_EQ(Bar()->value(), 0);
        switch (s) {
        case State::Idle:
            EXPECT_FALSE(W->SpeedButton1->isChecked());
            EXPECT_TRUE(W->SpeedButton1->isEnabled());
            EXPECT_FALSE(CommandButtonsEnabled());
            EXPECT_EQ(Panel(0), "");
            EXPECT_EQ(Panel(1), "") << "a count shown without a connection";
            break;
        case State::Online:
            EXPECT_TRUE(W->SpeedButton1->isChecked());
            EXPECT_TRUE(CommandButtonsEnabled());
            EXPECT_EQ(Panel(0), Texts::Online);
            EXPECT_EQ(Panel(1), std::to_string(2 - Accepted)) << "the count follows the deletions";
            break;
        case State::Dropped:
            EXPECT_TRUE(W->SpeedButton1->isChecked());
            EXPECT_FALSE(CommandButtonsEnabled());
            EXPECT_EQ(Panel(0), "");
            EXPECT_EQ(Panel(1), "");
            break;
        }
    }

    // Only the app's files (the accounts, the settings, the last look at a mailbox listed
    // whole), the current folder and the runtime folder's "purgel" in the app folder; nothing in the current folder; only folders and plain files (the part
    // files) in "purgel".
    void ExpectNoStrayFiles()
    {
        const std::string settings = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString() + ".ini";
        for (const std::string& name : FolderEntries())
            EXPECT_TRUE(name == "Account.lst" || name == settings || name == "LastLook.lst" || name == CurrentFolder ||
                        name == "purgel")
                << "stray file " << name;
        const auto all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
        EXPECT_TRUE(QDir(QString::fromStdString(Path(CurrentFolder))).isEmpty(all));
        for (QDirIterator it(Dir.path() + "/purgel", all, QDirIterator::Subdirectories); it.hasNext();) {
            const QFileInfo e(it.next());
            EXPECT_TRUE((e.isFile() || e.isDir()) && !e.isSymLink()) << e.filePath().toStdString();
        }
    }

    void RunCase(const Step& step, Fault fault, const Expectation& x, bool release);

    std::string AccountFile;
    int Accepted = 0;   // deletions the server accepted, once the delete command is done
};

// Drives the session against the fault script and checks everything; with `release`, the
// user releases the connect button (presses it, while the QUIT waits) as soon as the server
// has gone silent at the step.
void WindowFault::RunCase(const Step& step, Fault fault, const Expectation& x, bool release)
{
    const Flag reached = NewFlag();
    FaultScript fs = MakeFaultScript(step, fault, x, reached);
    ScriptServer server(std::vector<Script>{fs.Server, testsupport::GoodSession("alice", "secret")});
    OpenWindow(server.Port());
    ASSERT_FALSE(HasFatalFailure());

    std::optional<Clock::time_point> releasedAt;   // the release ends the wait: no time-out (Timed)
    // The server reaches the greeting when it accepts, which can be before the window has
    // heard that its connection is made: the release waits for that too.
    if (release)
        When([this, reached] { return reached->load() && W->NMPOP3->Connected; }, [&] {
            releasedAt = Clock::now();
            ClickConnect();
        });

    // The boxes the case must show, in order, each as the texts it may have.
    std::vector<std::vector<std::string>> boxes;
    std::optional<long long> failedMs;   // how long the command the fault hit took
    int asked = 0;                       // deletions the user asked for
    bool timedOut = false;   // the faulted command ended by the time-out
    auto run = [&](Phase phase, const char* what, const std::function<void()>& command) {
        const bool faulted = phase == step.During || (phase == Phase::Listing && step.During == Phase::Login);
        const long long ms = Timed(what, command, faulted ? std::optional<bool>(x.TimesOut) : timedOut ? std::nullopt : std::optional<bool>(false));
        timedOut = timedOut || (faulted && x.TimesOut);
        if (faulted) {
            failedMs = ms;
            if (x.Cancels) {
                ASSERT_TRUE(releasedAt) << what << " ended before the release";
            }
            if (!x.FailureBox.empty())
                boxes.push_back(x.FailureBox);
        }
    };

    // Press: login and listing.
    run(Phase::Listing, "connect and list", [&] { ClickConnect(); });
    if (Now() == State::Online) {
        EXPECT_EQ(RowNumbers(), x.Viewed == 2 ? std::vector<int>{2} : (std::vector<int>{1, 2}));
        run(Phase::ViewText, "view text", [&] { ChooseFromMessageMenu(0, W->Pm2_1); });
        if (step.During == Phase::ViewText) {
            ASSERT_NE(Mail, nullptr);
        }
    }
    if (Now() == State::Online) {
        run(Phase::ViewHeader, "view header", [&] { ChooseFromMessageMenu(0, W->Pm2_2); });
        if (step.During == Phase::ViewHeader) {
            // A failed summary fills no viewer.
            ASSERT_NE(Mail, nullptr);
            EXPECT_EQ(Mail->Sb->PanelText(0), Texts::Receiving);
            EXPECT_TRUE(ViewerLines().empty());
        }
    }
    if (Now() == State::Online) {
        W->BitBtn3->click();   // check all
        Answers = {mrYes};
        asked = W->Lv2->Count();
        boxes.push_back({DeleteQuestion(asked, std::to_string(160 * asked) + " B")});
        // A connection lost after the first deletion deletes nothing: the window says so
        // (inside the wait, before the failure's own box).
        const bool lostAfterFirst = step.At == Dele2 && (release || fault != Fault::Garbage);
        if (lostAfterFirst)
            boxes.push_back({Texts::DeletionsKept});
        run(Phase::Delete, "delete", [&] { W->BitBtn5->click(); });
        if (Now() == State::Online) {
            EXPECT_EQ(RowNumbers(), std::vector<int>{}) << "the deleted rows removed";
            Accepted = asked;
        } else {
            // Nothing was deleted: every row is back, still checked.
            EXPECT_EQ(RowNumbers(), (std::vector<int>{1, 2}));
            for (int row = 0; row < W->Lv2->Count(); ++row)
                EXPECT_TRUE(W->Lv2->Checked(row));
        }
    }
    // The state the fault left, before the user releases the button.
    if (step.During != Phase::Release) {
        ExpectState(x.After, "after the fault");
        EXPECT_EQ(x.GoesOn, Now() == State::Online);
    }
    if (W->SpeedButton1->isChecked())
        run(Phase::Release, "release", [&] { ClickConnect(); });
    ExpectState(State::Idle, "released");

    ASSERT_TRUE(failedMs || x.GoesOn) << "the faulted command was never given";
    if (failedMs && x.TimesOut) {
        EXPECT_GE(*failedMs, TimeOutMs - 50) << "ended before the time-out";
    }

    // The boxes: the delete confirmation and what the failed command shows, nothing else.
    const std::vector<std::string> shown = BoxTexts();
    EXPECT_EQ(shown.size(), boxes.size()) << ::testing::PrintToString(shown);
    for (std::size_t i = 0; i < std::min(shown.size(), boxes.size()); ++i)
        EXPECT_NE(std::find(boxes[i].begin(), boxes[i].end(), shown[i]), boxes[i].end()) << "box " << i << ": " << shown[i];

    // What the client sent: exactly the script's commands (so one DELE only where the user
    // asked for it, and nothing after a failure that closed the connection).
    const auto sent = server.ReceivedLines(0);
    EXPECT_EQ(sent, fs.ClientLines);
    int deletes = 0;
    for (const std::string& l : sent)
        deletes += l.rfind("DELE", 0) == 0;
    EXPECT_LE(deletes, asked);

    // Connects again to a good server and lists it.
    Boxes.clear();
    Timed("connect again", [&] { ClickConnect(); });
    EXPECT_EQ(Panel(0), Texts::Online);
    EXPECT_EQ(RowNumbers(), std::vector<int>{1});
    if (W->Lv2->Count() == 1) {
        EXPECT_EQ(CellSjis(*W, 0, 0), " fresh");
    }
    Timed("release again", [&] { ClickConnect(); });
    ExpectState(State::Idle, "released again");
    EXPECT_TRUE(server.WaitDone(5000ms));
    EXPECT_TRUE(Boxes.empty()) << BoxTexts().front();

    // Destroying the window saves the list: the same bytes, no failure box.
    W.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(ReadFile("Account.lst"), AccountFile);
    ExpectNoStrayFiles();
}

TEST_P(WindowFault, EndsInTimeWithTheRightBoxesAndTheWindowConnectsAgain)
{
    const Step& step = Steps[std::get<0>(GetParam())];
    const Fault fault = std::get<1>(GetParam());
    RunCase(step, fault, Expected(step, fault), false);
}

class ReleaseDuringSilence : public WindowFault {};

TEST_P(ReleaseDuringSilence, EndsTheWaitUnlessAReplyMustComeFirst)
{
    const Step& step = Steps[std::get<0>(GetParam())];
    RunCase(step, Fault::Silent, ExpectedOnRelease(step), true);
}

std::vector<Case> Cases()
{
    std::vector<Case> cases;
    for (int s = 0; s < static_cast<int>(std::size(Steps)); ++s)
        for (Fault f : AllFaults)
            cases.emplace_back(s, f);
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info)
{
    return std::string(Steps[std::get<0>(info.param)].Name) + "_" + FaultName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(EveryStep, WindowFault, ::testing::ValuesIn(Cases()), CaseName);
INSTANTIATE_TEST_SUITE_P(EveryStep, ReleaseDuringSilence,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(Steps))), ::testing::Values(Fault::Silent)),
                         CaseName);

} // namespace
