// Fault injection against the POP3 component: a scripted server plays a good dialogue up to
// one line of one reply and then misbehaves there (drops the connection, resets it, goes
// silent, sends garbage or a 1 MiB line; over TLS also a record that fails its check).
// Every case must end by the failure itself (only silence by the time-out) with a clear
// message, send no DELE that was not asked for and no QUIT after a failure that closed the
// connection, write nothing outside the attachment folder, and leave the component able to
// connect again and list.
#include "pop3/Nmpop3.h"
#include "runtime/Exception.h"
#include "runtime/SysUtils.h"
#include "tests/fault/LineFaults.h"
#include "tests/net/NetTestUtil.h"
#include "tests/support/Files.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/ScriptServer.h"
#include "tests/support/TestCerts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::Clock;
using testsupport::MsSince;
using testsupport::Script;
using testsupport::ScriptServer;
namespace fs = std::filesystem;

// The time-out of the operation that must end by it (the server is silent there); every
// other wait gets one that only a hang reaches, so a case that ends by a time-out where it
// should not fails, whatever the machine's load.
constexpr int ShortTimeOutMs = 1000;
const int LongTimeOutMs = static_cast<int>(testsupport::Generous(20s).count());

// The client's operations, in the order the test runs them.
enum class Op { Connect, Summary, List, Retrieve, Delete, Disconnect };

const char* OpName(Op op)
{
    switch (op) {
    case Op::Connect: return "Connect";
    case Op::Summary: return "GetSummary";
    case Op::List: return "List";
    case Op::Retrieve: return "GetMailMessage";
    case Op::Delete: return "DeleteMailMessage";
    case Op::Disconnect: return "Disconnect";
    }
    return "?";
}

// What a line of garbage does in place of a reply line.
enum class Junk {
    Absorbed,     // taken as data (a header, body or listing line, a DELE reply): no failure
    Raised,       // the operation fails with the junk line itself as its message
    AuthFailed,   // "Authentication failed"
    NotANumber,   // the integer parser's EConvertError
    Stalls,       // the reply's end never comes: the time-out ends the wait
};

// Which faults strike at a line. A line whose loss runs the same code as its neighbour's is
// left out; garbage also strikes where the parser reads the line's text; the transport's
// faults over TLS strike at a few lines of different operations (the transport does not
// know the line).
enum class Strikes { Never, GarbageOnly, Every, EveryAndTls };

// The server's answer where garbage stands in for a line. Its third blank-separated field
// and its first are no numbers.
const std::string Garbage = GarbageLine + "\r\n";

struct Line {
    std::string Text;   // without CR LF
    Junk IfJunk;
    Strikes At = Strikes::Every;
};

struct Exchange {
    std::string Command;   // "" for the greeting
    std::vector<Line> Reply;
    Op During;
};

const std::string Base64A = "YXR0YWNobWVudCBieXRlcyBhdHRhY2htZW50IGJ5dGVzIGF0dGFjaG1lbnQgYnl0";
const std::string Base64B = "ZXMgYXR0YWNobWVudCBieXRlcw==";

// The good dialogue, every reply line with what garbage in its place does.
std::vector<Exchange> Dialogue()
{
    using J = Junk;
    using S = Strikes;
    return {
        {"", {{"+OK ready", J::Raised, S::EveryAndTls}}, Op::Connect},
        {"CAPA", {{"-ERR", J::Absorbed}}, Op::Connect},
        {"USER bob", {{"+OK", J::AuthFailed}}, Op::Connect},
        {"PASS pw", {{"+OK", J::AuthFailed}}, Op::Connect},
        {"STAT", {{"+OK 2 320", J::Raised, S::EveryAndTls}}, Op::Connect},
        {"TOP 1 0",
         {{"+OK", J::Raised},
          {"Subject: hello", J::Absorbed, S::EveryAndTls},
          {"From: a@b", J::Absorbed, S::Never},
          {"Message-ID: <1@b>", J::Absorbed, S::Never},
          {"", J::Absorbed, S::Never},
          {".", J::Stalls}},
         Op::Summary},
        {"LIST 1", {{"+OK 1 160", J::NotANumber}}, Op::Summary},
        {"LIST ", {{"+OK 2 messages", J::Absorbed}, {"1 160", J::NotANumber}, {"2 160", J::NotANumber, S::Never}, {".", J::Stalls}}, Op::List},
        {"RETR 1",
         {{"+OK", J::Raised},
          {"Subject: m", J::Absorbed, S::Never},
          {"Content-Type: multipart/mixed; boundary=\"BB\"", J::Absorbed, S::GarbageOnly},
          {"", J::Absorbed, S::Never},
          {"--BB", J::Absorbed, S::Never},
          {"Content-Type: text/plain", J::Absorbed, S::Never},
          {"", J::Absorbed, S::Never},
          {"body line 1", J::Absorbed, S::EveryAndTls},
          {"body line 2", J::Absorbed, S::Never},
          {"--BB", J::Absorbed, S::Never},
          {"Content-Type: application/octet-stream; name=\"../escape.bin\"", J::Absorbed, S::GarbageOnly},
          {"Content-Transfer-Encoding: base64", J::Absorbed, S::GarbageOnly},
          {"", J::Absorbed, S::Never},
          {Base64A, J::Absorbed, S::GarbageOnly},
          {Base64B, J::Absorbed, S::Never},
          {"--BB--", J::Absorbed, S::GarbageOnly},
          {".", J::Stalls}},
         Op::Retrieve},
        {"DELE 1", {{"+OK deleted", J::Absorbed}}, Op::Delete},
        {"QUIT", {{"+OK bye", J::Raised, S::EveryAndTls}}, Op::Disconnect},
    };
}

std::vector<std::string> Texts(const std::vector<Line>& lines)
{
    std::vector<std::string> texts;
    for (const Line& l : lines)
        texts.push_back(l.Text);
    return texts;
}

// Where the fault strikes: line `Line` of the reply of exchange `Exchange`.
struct Point {
    int Exchange;
    int Line;
    std::string Name;
};

void PrintTo(const Point& p, std::ostream* os)
{
    *os << p.Name;
}

// The expected end of a case.
struct Outcome {
    std::optional<Op> Fails;           // the operation that raises; none when all succeed
    std::vector<std::string> Messages; // one of these (empty: only the type is checked)
    bool EConvert = false;             // the integer parser's exception
    bool TimesOut = false;             // the time-out ended the wait
    bool StaysConnected = false;       // the failure leaves the (usable) connection open
    bool QuitsInConnect = false;       // Connect's own clean-up sends QUIT
};

Outcome Expected(const Exchange& ex, const Line& line, Fault fault)
{
    Outcome o;
    o.Fails = ex.During;
    switch (fault) {
    case Fault::Drop:
    case Fault::DropMidLine:
        o.Messages = {ConnectionClosedText};
        break;
    case Fault::Reset:
        o.Messages = {ConnectionClosedText, "10054:Connection reset by peer"};
        break;
    case Fault::Silent:
        o.Messages = {"Socket readln aborted"};
        o.TimesOut = true;
        break;
    case Fault::HugeLine:
        o.Messages = {"Line too long: no line end within 65536 bytes"};
        break;
    case Fault::Tampered:
        o.Messages = {"TLS connection failed: invalid data from the server"};
        break;
    case Fault::Garbage:
        switch (line.IfJunk) {
        case Junk::Absorbed:
            o.Fails.reset();
            break;
        case Junk::Raised:
            o.Messages = {Garbage};
            o.StaysConnected = ex.During != Op::Connect && ex.During != Op::Disconnect;
            o.QuitsInConnect = ex.During == Op::Connect;
            break;
        case Junk::AuthFailed:
            o.Messages = {"Authentication failed"};
            o.QuitsInConnect = true;
            break;
        case Junk::NotANumber:
            o.EConvert = true;
            o.StaysConnected = true;
            break;
        case Junk::Stalls:
            o.Messages = {"Socket readln aborted"};
            o.TimesOut = true;
            break;
        }
        break;
    }
    return o;
}

// The certificate of the servers that speak TLS; the client trusts exactly it.
const testsupport::TestCert& ServerCert()
{
    static const testsupport::TestCerts certs;
    return certs.SelfSigned;
}

// A script that speaks TLS from the first byte, or plain text.
Script Opening(bool tls)
{
    Script s;
    if (tls)
        s.StartTls(ServerCert());
    return s;
}

// The good dialogue up to the fault, the fault, and what the server does after it.
Script FaultScript(const std::vector<Exchange>& dialogue, const Point& at, Fault fault, const Outcome& outcome, bool tls)
{
    Script s = Opening(tls);
    s.ExpectTimeout(3000ms);
    for (int e = 0; e < static_cast<int>(dialogue.size()); ++e) {
        const Exchange& ex = dialogue[e];
        const std::vector<std::string> reply = Texts(ex.Reply);
        if (!ex.Command.empty())
            s.Expect(ex.Command);
        if (e != at.Exchange) {
            s.Send(testsupport::Wire(reply));
            continue;
        }
        const std::size_t l = static_cast<std::size_t>(at.Line);
        s.Send(testsupport::Wire(reply, 0, l));
        if (BreakLine(s, fault, reply[l]))
            return s;
        s.Send(Garbage);
        // Taken as data, the reply goes on (and a listing is read to its end before its
        // lines are parsed); a refused status line has nothing after it.
        if (!outcome.Fails || outcome.EConvert)
            s.Send(testsupport::Wire(reply, l + 1));
        if (!outcome.Fails)
            continue;
        if (outcome.QuitsInConnect || outcome.StaysConnected)
            s.Expect("QUIT").SendLine("+OK");
        return s.WaitForClose(5000ms);
    }
    return s.WaitForClose(5000ms);
}

// A component with a scratch attachment folder inside a folder that must stay otherwise empty.
class FaultFixture {
public:
    explicit FaultFixture(bool tls = false) : Attach(Outer / "attach")
    {
        fs::create_directories(Attach);
        Pop = std::make_unique<TNMPOP3>(nullptr);
        Pop->Host = testsupport::LoopbackHost;
        Pop->UserID = "bob";
        Pop->Password = "pw";
        Pop->TimeOut = LongTimeOutMs;
        Pop->SetAttachFilePath(Attach.string());
        Pop->OnList = [this](int Msg, int Size) { Listed.emplace_back(Msg, Size); };
        Pop->OnSuccess = [this](TObject*) { ++Successes; };
        if (tls) {
            Pop->TlsMode = TTlsMode::Implicit;
            Pop->TrustedFingerprints = {ServerCert().Sha256};
        }
    }
    ~FaultFixture() { Pop.reset(); }

    // Nothing beside the attachment folder, and only plain files in it.
    void ExpectFilesInside() const
    {
        for (const auto& e : fs::directory_iterator(Outer.Path()))
            EXPECT_EQ(e.path().filename(), "attach") << "a file outside the attachment folder";
        for (const auto& e : fs::directory_iterator(Attach))
            EXPECT_TRUE(e.is_regular_file() && !e.is_symlink()) << e.path();
    }

    // Connects again to the good session that follows the broken one, and lists it.
    void ExpectReusable(ScriptServer& server)
    {
        Pop->TimeOut = LongTimeOutMs;
        EXPECT_NO_THROW(Pop->Connect());
        EXPECT_NO_THROW(Pop->GetSummary(1));
        EXPECT_EQ(Pop->Summary.Subject, " fresh");
        EXPECT_NO_THROW(Pop->Disconnect());
        EXPECT_FALSE(Pop->TimeoutFired);
        EXPECT_TRUE(server.WaitDone());
    }

    testsupport::TempFolder Outer{"purgel-fault"};
    fs::path Attach;
    std::unique_ptr<TNMPOP3> Pop;
    std::vector<std::pair<int, int>> Listed;
    int Successes = 0;
};

struct Failure {
    Op During;
    std::string Message;
    bool EConvert;
    bool TimedOut;   // the time-out ended it
    long long Ms;
};

// Runs the operations in order until one raises. Only the one that must end by the time-out
// has a short one.
std::optional<Failure> RunSession(TNMPOP3& pop, const Outcome& expected)
{
    const Op ops[] = {Op::Connect, Op::Summary, Op::List, Op::Retrieve, Op::Delete, Op::Disconnect};
    for (Op op : ops) {
        pop.TimeOut = expected.TimesOut && op == expected.Fails ? ShortTimeOutMs : LongTimeOutMs;
        const auto t0 = Clock::now();
        try {
            switch (op) {
            case Op::Connect: pop.Connect(); break;
            case Op::Summary: pop.GetSummary(1); break;
            case Op::List: pop.List(); break;
            case Op::Retrieve: pop.GetMailMessage(1); break;
            case Op::Delete: pop.DeleteMailMessage(1); break;
            case Op::Disconnect: pop.Disconnect(); break;
            }
        } catch (const std::exception& e) {
            return Failure{op, e.what(), dynamic_cast<const EConvertError*>(&e) != nullptr, pop.TimeoutFired, MsSince(t0)};
        }
        EXPECT_FALSE(pop.TimeoutFired) << OpName(op) << " ended by the time-out";
    }
    return std::nullopt;
}

// What the app does when the user releases the connect button: QUIT when connected, then
// drop whatever is left.
void EndLikeTheWindow(TNMPOP3& pop)
{
    const bool firedBefore = pop.TimeoutFired;   // noted until the next wait
    pop.TimeOut = LongTimeOutMs;
    if (pop.Connected) {
        try {
            pop.Disconnect();
        } catch (const std::exception&) {
        }
    }
    pop.Abort();
    EXPECT_TRUE(firedBefore || !pop.TimeoutFired) << "ending the connection waited for the time-out";
    EXPECT_FALSE(pop.Connected);
}

using Case = std::tuple<Point, Fault, bool>;   // bool: over TLS

class DialogueFault : public ::testing::TestWithParam<Case> {};

TEST_P(DialogueFault, EndsByItsFailureWithAClearMessageAndLeavesTheComponentReusable)
{
    const auto& [at, fault, tls] = GetParam();
    const auto dialogue = Dialogue();
    const Exchange& ex = dialogue[static_cast<std::size_t>(at.Exchange)];
    const Line& line = ex.Reply[static_cast<std::size_t>(at.Line)];
    const Outcome expected = Expected(ex, line, fault);

    ScriptServer server(std::vector<Script>{FaultScript(dialogue, at, fault, expected, tls),
                                            testsupport::GoodSession("bob", "pw", Opening(tls))});
    FaultFixture f(tls);
    f.Pop->Port = server.Port();

    const std::optional<Failure> failure = RunSession(*f.Pop, expected);
    EXPECT_FALSE(f.Pop->Busy());
    if (!expected.Fails) {
        if (failure)
            ADD_FAILURE() << OpName(failure->During) << " raised " << failure->Message;
    } else {
        ASSERT_TRUE(failure) << "no operation failed";
        EXPECT_EQ(OpName(failure->During), std::string(OpName(*expected.Fails)));
        if (!expected.Messages.empty()) {
            EXPECT_NE(std::find(expected.Messages.begin(), expected.Messages.end(), failure->Message), expected.Messages.end())
                << "message: " << failure->Message;
        }
        EXPECT_EQ(failure->EConvert, expected.EConvert) << failure->Message;
        EXPECT_EQ(failure->TimedOut, expected.TimesOut) << "ended by the time-out: " << failure->Message;
        if (expected.TimesOut) {
            EXPECT_GE(failure->Ms, ShortTimeOutMs - 20) << "ended before the time-out";
        }
        EXPECT_EQ(static_cast<bool>(f.Pop->Connected), expected.StaysConnected);
    }

    // What the client sent: a DELE only where it asked for one, and after a failure that
    // closed the connection, nothing (above all no QUIT to commit anything).
    EndLikeTheWindow(*f.Pop);
    const auto sent = server.ReceivedLines(0);
    const bool askedDelete = !failure || failure->During >= Op::Delete;
    const auto deletes = std::count_if(sent.begin(), sent.end(), [](const std::string& l) { return l.rfind("DELE", 0) == 0; });
    EXPECT_EQ(deletes, askedDelete ? 1 : 0) << "DELE commands sent";
    EXPECT_LE(server.TimesSent(0, "DELE 1"), 1u);
    if (failure) {
        // Every exchange after the greeting begins with one command of the client.
        const std::size_t commandsBefore = static_cast<std::size_t>(at.Exchange);
        std::vector<std::string> after(sent.begin() + std::min(sent.size(), commandsBefore), sent.end());
        std::vector<std::string> allowed;
        if (expected.QuitsInConnect || expected.StaysConnected)
            allowed = {"QUIT\r\n"};
        EXPECT_EQ(after, allowed) << "what the client sent after the fault";
    }

    f.ExpectReusable(server);
    f.ExpectFilesInside();
}

// Plain text: every fault where its line strikes. Over TLS: the transport's faults and the
// tampered record at the lines marked for it (garbage is the same plaintext as in clear).
std::vector<Case> Cases()
{
    std::vector<Case> cases;
    const auto dialogue = Dialogue();
    for (int e = 0; e < static_cast<int>(dialogue.size()); ++e) {
        std::string base = dialogue[e].Command.empty() ? "Greeting" : Trim(dialogue[e].Command);
        std::replace(base.begin(), base.end(), ' ', '_');
        for (int l = 0; l < static_cast<int>(dialogue[e].Reply.size()); ++l) {
            const Point p{e, l, base + "_line" + std::to_string(l)};
            const Strikes at = dialogue[e].Reply[l].At;
            for (Fault f : AllFaults)
                if (at == Strikes::EveryAndTls || at == Strikes::Every || (at == Strikes::GarbageOnly && f == Fault::Garbage))
                    cases.emplace_back(p, f, false);
            if (at == Strikes::EveryAndTls)
                for (Fault f : {Fault::Drop, Fault::DropMidLine, Fault::Reset, Fault::Silent, Fault::HugeLine, Fault::Tampered})
                    cases.emplace_back(p, f, true);
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryStep, DialogueFault, ::testing::ValuesIn(Cases()), [](const auto& info) {
    return std::get<0>(info.param).Name + "_" + FaultName(std::get<1>(info.param)) + (std::get<2>(info.param) ? "_Tls" : "");
});

// ---- hostile servers beyond one broken line ----

class HostileServer : public ::testing::Test {
protected:
    FaultFixture F;
};

TEST_F(HostileServer, AMillionMessagesAnnouncedThenSilenceEndsTheListingAtTheFirstTimeOut)
{
    ScriptServer server(std::vector<Script>{Script().Pop3Login("+OK", "bob", "pw", "+OK 1000000 999999999").Expect("TOP 1 0").WaitForClose(5000ms),
                                            testsupport::GoodSession("bob", "pw")});
    F.Pop->Port = server.Port();
    F.Pop->Connect();
    EXPECT_EQ(F.Pop->MessageCount, 1000000);
    // The window's listing loop: a failed summary is swallowed, a lost connection ends it.
    F.Pop->TimeOut = ShortTimeOutMs;
    int asked = 0;
    for (int i = 0; i < F.Pop->MessageCount; ++i) {
        if (!F.Pop->Connected)
            break;
        ++asked;
        try {
            F.Pop->GetSummary(i + 1);
        } catch (const std::exception&) {
        }
    }
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(F.Pop->TimeoutFired);
    EXPECT_EQ(server.ReceivedLines(0).back(), "TOP 1 0\r\n") << "no QUIT after the time-out";
    F.ExpectReusable(server);
}

TEST_F(HostileServer, AReplyThatArrivedBeforeItsCommandIsTakenWithoutWaiting)
{
    // DELE's answer comes with STAT's, and the window's pump handles its notification
    // before the command is sent.
    std::atomic<bool> sent{false};
    ScriptServer server(Script().Pop3Login("+OK", "bob", "pw", "+OK 1 160").Send("+OK deleted\r\n").Call([&] { sent = true; })
                            .Expect("DELE 1").Expect("QUIT").SendLine("+OK").WaitForClose(5000ms));
    F.Pop->Port = server.Port();
    F.Pop->Connect();
    ASSERT_TRUE(testsupport::PumpUntil([&] { return sent.load(); }, 2s));
    testsupport::Settle();
    EXPECT_NO_THROW(F.Pop->DeleteMailMessage(1));
    EXPECT_FALSE(F.Pop->TimeoutFired);
    EXPECT_EQ(F.Successes, 1);
    EXPECT_NO_THROW(F.Pop->Disconnect());
    EXPECT_TRUE(server.WaitDone(5000ms));
}

// A handler that runs inside the wait for TOP's reply calls Disconnect, Reset or deletes
// the component; none of them may take TOP's reply for its own.
TEST_F(HostileServer, DisconnectResetOrDeleteFromAHandlerInsideAWaitNeverTakesItsReply)
{
    const std::string top = "+OK top follows\r\nSubject: hello\r\n\r\n.\r\n";
    std::atomic<bool> handled[3] = {false, false, false};
    auto script = [&](int i) { return Script().Pop3Login("+OK", "bob", "pw", "+OK 1 160").Expect("TOP 1 0").WaitFor(handled[i]).Send(top); };
    ScriptServer server(std::vector<Script>{script(0).WaitForClose(5000ms),
                                            script(1).Expect("LIST 1").SendLine("+OK 1 160").Expect("QUIT").SendLine("+OK").WaitForClose(5000ms),
                                            script(2).WaitForClose(5000ms)});
    F.Pop->Port = server.Port();

    F.Pop->Connect();
    {
        nettest::Later nested(100, [&] {
            F.Pop->Disconnect();
            handled[0] = true;
        });
        EXPECT_THROW(F.Pop->GetSummary(1), EAbortError);
    }
    EXPECT_FALSE(F.Pop->Connected);

    F.Pop->Connect();
    {
        nettest::Later nested(100, [&] {
            F.Pop->Reset();
            handled[1] = true;
        });
        EXPECT_NO_THROW(F.Pop->GetSummary(1));
    }
    EXPECT_EQ(F.Pop->Summary.Subject, " hello");
    EXPECT_NO_THROW(F.Pop->Disconnect());

    // Deleted inside its own wait: destroyed once the wait has unwound (ASan checks the rest).
    struct Witness : TComponent {
        using TComponent::TComponent;
        bool* Gone = nullptr;
        ~Witness() override { *Gone = true; }
    };
    bool gone = false;
    F.Pop->Connect();
    (new Witness(F.Pop.get()))->Gone = &gone;
    TNMPOP3* pop = F.Pop.get();
    int retrieveEnds = 0;
    pop->OnRetrieveEnd = [&](TObject*) { ++retrieveEnds; };
    {
        nettest::Later nested(100, [&] {
            F.Pop.reset();
            handled[2] = true;
        });
        EXPECT_THROW(pop->GetSummary(1), EAbortError);
    }
    EXPECT_FALSE(gone);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return gone; }, 2000ms));
    EXPECT_EQ(retrieveEnds, 0);
    EXPECT_TRUE(server.WaitDone(5000ms));
    for (std::size_t i : {0u, 2u})
        EXPECT_EQ(server.ReceivedLines(i).back(), "TOP 1 0\r\n") << "no QUIT, no RSET";
}

TEST_F(HostileServer, TopAnsweredWithTheWholeBodyIsTakenAsTheHeaderListAndTheDialogueGoesOn)
{
    std::string reply = "+OK\r\nSubject: big\r\nFrom: a@b\r\n\r\n";
    const std::string body = "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0\r\n";
    const int bodyLines = 16384;   // about 1.2 MiB
    for (int i = 0; i < bodyLines; ++i)
        reply += body;
    reply += ".\r\n";
    ScriptServer server(std::vector<Script>{Script().Pop3Login("+OK", "bob", "pw", "+OK 1 2000000")
                                                .Expect("TOP 1 0")
                                                .Send(reply)
                                                .Expect("LIST 1")
                                                .SendLine("+OK 1 1300000")
                                                .Expect("LIST ")
                                                .Send("+OK\r\n1 1300000\r\n.\r\n")
                                                .Expect("QUIT")
                                                .SendLine("+OK")
                                                .WaitForClose(5000ms)});
    F.Pop->Port = server.Port();
    F.Pop->Connect();
    EXPECT_NO_THROW(F.Pop->GetSummary(1));
    EXPECT_EQ(F.Pop->Summary.Subject, " big");
    EXPECT_EQ(F.Pop->Summary.Bytes, 1300000);
    EXPECT_EQ(F.Pop->Summary.Header.Count(), 3 + bodyLines + 1);
    EXPECT_NO_THROW(F.Pop->List());
    EXPECT_EQ(F.Listed, (std::vector<std::pair<int, int>>{{1, 1300000}}));
    EXPECT_NO_THROW(F.Pop->Disconnect());
    EXPECT_TRUE(server.WaitDone(5000ms));
}

TEST_F(HostileServer, AReplyPastTheLimitIsCutOffAndTheConnectionDroppedWithoutQuit)
{
    // Header lines without end (and a RETR likewise): past the limit the operation fails.
    std::string endless = "+OK\r\n";
    while (endless.size() < (8u << 20))
        endless += "X-Filler: QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2\r\n";
    auto script = [&](const char* command) { return Script().Pop3Login("+OK", "bob", "pw", "+OK 1 160").Expect(command).Send(endless).WaitForClose(5000ms); };
    ScriptServer server(std::vector<Script>{script("TOP 1 0"), script("RETR 1"), testsupport::GoodSession("bob", "pw")});
    F.Pop->Port = server.Port();
    F.Pop->ReplyLimit = 1 << 20;
    for (int i = 0; i < 2; ++i) {
        F.Pop->Connect();
        try {
            i == 0 ? F.Pop->GetSummary(1) : F.Pop->GetMailMessage(1);
            ADD_FAILURE() << "no exception";
        } catch (const ESockError& e) {
            EXPECT_EQ(e.Message, "Reply too long: more than 1048576 bytes");
        }
        EXPECT_FALSE(F.Pop->TimeoutFired);
        EXPECT_FALSE(F.Pop->Connected);
        EXPECT_EQ(server.ReceivedLines(i).back(), i == 0 ? "TOP 1 0\r\n" : "RETR 1\r\n") << "no QUIT";
    }
    F.ExpectReusable(server);
}

TEST_F(HostileServer, AServerThatNeverStopsSendingOneLineIsCutOffAtTheBufferSize)
{
    // 8 MiB without a line end: the component gives up at 64 KiB instead of collecting.
    ScriptServer server(std::vector<Script>{Script().Send(std::string(8 << 20, 'y')).WaitForClose(5000ms), testsupport::GoodSession("bob", "pw")});
    F.Pop->Port = server.Port();
    EXPECT_EQ([&] {
        try {
            F.Pop->Connect();
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string();
    }(), "Line too long: no line end within 65536 bytes");
    EXPECT_FALSE(F.Pop->TimeoutFired);
    EXPECT_FALSE(F.Pop->Connected);
    EXPECT_TRUE(server.ReceivedLines(0).empty()) << "no QUIT into a broken stream";
    F.ExpectReusable(server);
}

} // namespace
