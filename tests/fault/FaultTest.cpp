// Fault injection against the POP3 component: a scripted server plays a good dialogue up to
// one line of one reply and then misbehaves there (drops the connection, resets it, goes
// silent, sends garbage or a 1 MiB line). Every case must end within the time-out with a
// clear message, send no DELE that was not asked for and no QUIT after a failure that
// closed the connection, write nothing outside the attachment folder, and leave the
// component able to connect again and list.
#include "pop3/Nmpop3.h"
#include "runtime/Exception.h"
#include "runtime/SysUtils.h"
#include "tests/fault/LineFaults.h"
#include "tests/net/NetTestUtil.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/ScriptServer.h"
#include "tests/support/TestCerts.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
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
using testsupport::Script;
using testsupport::ScriptServer;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int TimeOutMs = 250;
// Scheduling slack on a loaded machine (and under the sanitizers) beyond the time-out.
constexpr long long MarginMs = 400;

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

// The server's answer where garbage stands in for a line. Its third blank-separated field
// and its first are no numbers.
const std::string Garbage = GarbageLine + "\r\n";

struct Line {
    std::string Text;   // without CR LF
    Junk IfJunk;
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
    return {
        {"", {{"+OK ready", J::Raised}}, Op::Connect},
        {"CAPA", {{"-ERR", J::Absorbed}}, Op::Connect},
        {"USER bob", {{"+OK", J::AuthFailed}}, Op::Connect},
        {"PASS pw", {{"+OK", J::AuthFailed}}, Op::Connect},
        {"STAT", {{"+OK 2 320", J::Raised}}, Op::Connect},
        {"TOP 1 0",
         {{"+OK", J::Raised},
          {"Subject: hello", J::Absorbed},
          {"From: a@b", J::Absorbed},
          {"Message-ID: <1@b>", J::Absorbed},
          {"", J::Absorbed},
          {".", J::Stalls}},
         Op::Summary},
        {"LIST 1", {{"+OK 1 160", J::NotANumber}}, Op::Summary},
        {"LIST ", {{"+OK 2 messages", J::Absorbed}, {"1 160", J::NotANumber}, {"2 160", J::NotANumber}, {".", J::Stalls}}, Op::List},
        {"RETR 1",
         {{"+OK", J::Raised},
          {"Subject: m", J::Absorbed},
          {"Content-Type: multipart/mixed; boundary=\"BB\"", J::Absorbed},
          {"", J::Absorbed},
          {"--BB", J::Absorbed},
          {"Content-Type: text/plain", J::Absorbed},
          {"", J::Absorbed},
          {"body line 1", J::Absorbed},
          {"body line 2", J::Absorbed},
          {"--BB", J::Absorbed},
          {"Content-Type: application/octet-stream; name=\"../escape.bin\"", J::Absorbed},
          {"Content-Transfer-Encoding: base64", J::Absorbed},
          {"", J::Absorbed},
          {Base64A, J::Absorbed},
          {Base64B, J::Absorbed},
          {"--BB--", J::Absorbed},
          {".", J::Stalls}},
         Op::Retrieve},
        {"DELE 1", {{"+OK deleted", J::Absorbed}}, Op::Delete},
        {"QUIT", {{"+OK bye", J::Raised}}, Op::Disconnect},
    };
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

std::vector<Point> Points()
{
    std::vector<Point> points;
    const auto dialogue = Dialogue();
    for (int e = 0; e < static_cast<int>(dialogue.size()); ++e) {
        std::string base = dialogue[e].Command.empty() ? "Greeting" : Trim(dialogue[e].Command);
        for (char& c : base)
            if (c == ' ')
                c = '_';
        for (int l = 0; l < static_cast<int>(dialogue[e].Reply.size()); ++l)
            points.push_back({e, l, base + "_line" + std::to_string(l)});
    }
    return points;
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

// The lines a reply sends, CR LF after each.
std::string Wire(const std::vector<Line>& lines, std::size_t from, std::size_t to)
{
    std::string out;
    for (std::size_t i = from; i < to && i < lines.size(); ++i)
        out += lines[i].Text + "\r\n";
    return out;
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
        if (!ex.Command.empty())
            s.Expect(ex.Command);
        if (e != at.Exchange) {
            s.Send(Wire(ex.Reply, 0, ex.Reply.size()));
            continue;
        }
        const std::size_t l = static_cast<std::size_t>(at.Line);
        s.Send(Wire(ex.Reply, 0, l));
        if (BreakLine(s, fault, ex.Reply[l].Text))
            return s;
        s.Send(Garbage);
        // Taken as data, the reply goes on (and a listing is read to its end before its
        // lines are parsed); a refused status line has nothing after it.
        if (!outcome.Fails || outcome.EConvert)
            s.Send(Wire(ex.Reply, l + 1, ex.Reply.size()));
        if (!outcome.Fails)
            continue;
        if (outcome.QuitsInConnect || outcome.StaysConnected)
            s.Expect("QUIT").SendLine("+OK");
        return s.WaitForClose(5000ms);
    }
    return s.WaitForClose(5000ms);
}

// A second, good connection: login, the listing, QUIT.
Script GoodScript(bool tls = false)
{
    return Opening(tls)
        .Pop3Login("+OK again", "bob", "pw", "+OK 2 320")
        .Expect("LIST ")
        .Send("+OK\r\n1 160\r\n2 160\r\n.\r\n")
        .Expect("QUIT")
        .SendLine("+OK")
        .WaitForClose(5000ms);
}

long long MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// A component with a scratch attachment folder inside a folder that must stay otherwise empty.
class FaultFixture {
public:
    explicit FaultFixture(const std::string& name, bool tls = false)
        : Outer(fs::temp_directory_path() / ("purgel-fault-" + std::to_string(::getpid()) + "-" + name)),
          Attach(Outer / "attach")
    {
        fs::remove_all(Outer);
        fs::create_directories(Attach);
        Pop = std::make_unique<TNMPOP3>(nullptr);
        Pop->Host = testsupport::LoopbackHost;
        Pop->UserID = "bob";
        Pop->Password = "pw";
        Pop->TimeOut = TimeOutMs;
        Pop->SetAttachFilePath(Attach.string());
        Pop->OnList = [this](int Msg, int Size) { Listed.emplace_back(Msg, Size); };
        Pop->OnSuccess = [this](TObject*) { ++Successes; };
        if (tls) {
            Pop->TlsMode = TTlsMode::Implicit;
            Pop->TrustedFingerprints = {ServerCert().Sha256};
        }
    }
    ~FaultFixture()
    {
        Pop.reset();
        std::error_code ec;
        fs::remove_all(Outer, ec);
    }

    // Nothing beside the attachment folder, and only plain files in it.
    void ExpectFilesInside() const
    {
        for (const auto& e : fs::directory_iterator(Outer))
            EXPECT_EQ(e.path().filename(), "attach") << "a file outside the attachment folder";
        for (const auto& e : fs::directory_iterator(Attach))
            EXPECT_TRUE(e.is_regular_file() && !e.is_symlink()) << e.path();
    }

    fs::path Outer, Attach;
    std::unique_ptr<TNMPOP3> Pop;
    std::vector<std::pair<int, int>> Listed;
    int Successes = 0;
};

struct Failure {
    Op During;
    std::string Message;
    bool EConvert;
    long long Ms;
};

// Runs the operations in order until one raises; every one must end within the time-out.
std::optional<Failure> RunSession(TNMPOP3& pop)
{
    const Op ops[] = {Op::Connect, Op::Summary, Op::List, Op::Retrieve, Op::Delete, Op::Disconnect};
    for (Op op : ops) {
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
            const long long ms = MsSince(t0);
            return Failure{op, e.what(), dynamic_cast<const EConvertError*>(&e) != nullptr, ms};
        }
        EXPECT_LE(MsSince(t0), TimeOutMs + MarginMs) << OpName(op) << " took longer than the time-out";
    }
    return std::nullopt;
}

// What the app does when the user releases the connect button: QUIT when connected, then
// drop whatever is left.
void EndLikeTheWindow(TNMPOP3& pop)
{
    const auto t0 = Clock::now();
    if (pop.Connected) {
        try {
            pop.Disconnect();
        } catch (const std::exception&) {
        }
    }
    pop.Abort();
    EXPECT_LE(MsSince(t0), TimeOutMs + MarginMs) << "ending the connection";
    EXPECT_FALSE(pop.Connected);
}

using Case = std::tuple<Point, Fault, bool>;   // bool: over TLS

class DialogueFault : public ::testing::TestWithParam<Case> {};

TEST_P(DialogueFault, EndsInTimeWithAClearMessageAndLeavesTheComponentReusable)
{
    const auto& [at, fault, tls] = GetParam();
    const auto dialogue = Dialogue();
    const Exchange& ex = dialogue[static_cast<std::size_t>(at.Exchange)];
    const Line& line = ex.Reply[static_cast<std::size_t>(at.Line)];
    const Outcome expected = Expected(ex, line, fault);

    ScriptServer server(std::vector<Script>{FaultScript(dialogue, at, fault, expected, tls), GoodScript(tls)});
    FaultFixture f(at.Name + "-" + FaultName(fault) + (tls ? "-tls" : ""), tls);
    f.Pop->Port = server.Port();

    const std::optional<Failure> failure = RunSession(*f.Pop);
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
        EXPECT_LE(failure->Ms, TimeOutMs + MarginMs) << "the failing operation outlasted the time-out";
        if (expected.TimesOut) {
            EXPECT_GE(failure->Ms, TimeOutMs - 20) << "ended before the time-out";
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
    for (const std::string& l : sent) {
        if (l.rfind("DELE", 0) == 0) {
            EXPECT_EQ(l, "DELE 1\r\n");
        }
    }
    if (failure) {
        // Every exchange after the greeting begins with one command of the client.
        const std::size_t commandsBefore = static_cast<std::size_t>(at.Exchange);
        std::vector<std::string> after(sent.begin() + std::min(sent.size(), commandsBefore), sent.end());
        std::vector<std::string> allowed;
        if (expected.QuitsInConnect || expected.StaysConnected)
            allowed = {"QUIT\r\n"};
        EXPECT_EQ(after, allowed) << "what the client sent after the fault";
    }

    // Reusable: a new connection to a good server lists.
    f.Listed.clear();
    const auto t0 = Clock::now();
    EXPECT_NO_THROW(f.Pop->Connect());
    EXPECT_NO_THROW(f.Pop->List());
    EXPECT_NO_THROW(f.Pop->Disconnect());
    EXPECT_LE(MsSince(t0), 3 * (TimeOutMs + MarginMs));
    EXPECT_EQ(f.Listed, (std::vector<std::pair<int, int>>{{1, 160}, {2, 160}}));
    EXPECT_TRUE(server.WaitDone(5000ms));
    f.ExpectFilesInside();
}

std::vector<Case> Cases()
{
    std::vector<Case> cases;
    for (bool tls : {false, true})
        for (const Point& p : Points())
            for (Fault f : AllFaults)
                cases.emplace_back(p, f, tls);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryStep, DialogueFault, ::testing::ValuesIn(Cases()), [](const auto& info) {
    return std::get<0>(info.param).Name + "_" + FaultName(std::get<1>(info.param)) + (std::get<2>(info.param) ? "_Tls" : "");
});

// ---- hostile servers beyond one broken line ----

class HostileServer : public ::testing::Test {
protected:
    HostileServer() : F(::testing::UnitTest::GetInstance()->current_test_info()->name()) {}
    FaultFixture F;
};


TEST_F(HostileServer, AMillionMessagesAnnouncedThenSilenceEndsTheListingAtTheFirstTimeOut)
{
    ScriptServer server(std::vector<Script>{Script().Pop3Login("+OK", "bob", "pw", "+OK 1000000 999999999").Expect("TOP 1 0").WaitForClose(5000ms), GoodScript()});
    F.Pop->Port = server.Port();
    F.Pop->Connect();
    EXPECT_EQ(F.Pop->MessageCount, 1000000);
    // The window's listing loop: a failed summary is swallowed, a lost connection ends it.
    const auto t0 = Clock::now();
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
    EXPECT_LE(MsSince(t0), TimeOutMs + MarginMs);
    EXPECT_EQ(server.ReceivedLines(0).back(), "TOP 1 0\r\n") << "no QUIT after the time-out";
    EXPECT_NO_THROW(F.Pop->Connect());
    EXPECT_NO_THROW(F.Pop->List());
    EXPECT_NO_THROW(F.Pop->Disconnect());
    EXPECT_TRUE(server.WaitDone(5000ms));
}

TEST_F(HostileServer, AReplyThatArrivedBeforeItsCommandIsTakenWithoutWaiting)
{
    // DELE's answer comes with STAT's, and the window's pump handles its notification
    // before the command is sent.
    ScriptServer server(Script().Pop3Login("+OK", "bob", "pw", "+OK 1 160").Send("+OK deleted\r\n").Expect("DELE 1").Expect("QUIT").SendLine("+OK").WaitForClose(5000ms));
    F.Pop->Port = server.Port();
    F.Pop->Connect();
    testsupport::PumpFor(100ms);
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
    auto script = [&] { return Script().Pop3Login("+OK", "bob", "pw", "+OK 1 160").Expect("TOP 1 0").Pause(300ms).Send(top); };
    ScriptServer server(std::vector<Script>{script().WaitForClose(5000ms),
                                            script().Expect("LIST 1").SendLine("+OK 1 160").Expect("QUIT").SendLine("+OK").WaitForClose(5000ms),
                                            script().WaitForClose(5000ms)});
    F.Pop->Port = server.Port();
    F.Pop->TimeOut = 5000;

    F.Pop->Connect();
    {
        nettest::Later nested(100, [&] { F.Pop->Disconnect(); });
        EXPECT_THROW(F.Pop->GetSummary(1), EAbortError);
    }
    EXPECT_FALSE(F.Pop->Connected);

    F.Pop->Connect();
    {
        nettest::Later nested(100, [&] { F.Pop->Reset(); });
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
        nettest::Later nested(100, [&] { F.Pop.reset(); });
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
    const auto t0 = Clock::now();
    EXPECT_NO_THROW(F.Pop->GetSummary(1));
    EXPECT_LE(MsSince(t0), 2000) << "1.2 MiB of header lines";
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
    ScriptServer server(std::vector<Script>{script("TOP 1 0"), script("RETR 1"), GoodScript()});
    F.Pop->Port = server.Port();
    F.Pop->ReplyLimit = 1 << 20;
    for (int i = 0; i < 2; ++i) {
        F.Pop->Connect();
        const auto t0 = Clock::now();
        try {
            i == 0 ? F.Pop->GetSummary(1) : F.Pop->GetMailMessage(1);
            ADD_FAILURE() << "no exception";
        } catch (const ESockError& e) {
            EXPECT_EQ(e.Message, "Reply too long: more than 1048576 bytes");
        }
        EXPECT_LE(MsSince(t0), 2000);
        EXPECT_FALSE(F.Pop->Connected);
        EXPECT_EQ(server.ReceivedLines(i).back(), i == 0 ? "TOP 1 0\r\n" : "RETR 1\r\n") << "no QUIT";
    }
    EXPECT_NO_THROW(F.Pop->Connect());
    EXPECT_NO_THROW(F.Pop->List());
    EXPECT_NO_THROW(F.Pop->Disconnect());
    EXPECT_TRUE(server.WaitDone(5000ms));
}

TEST_F(HostileServer, AServerThatNeverStopsSendingOneLineIsCutOffAtTheBufferSize)
{
    // 8 MiB without a line end: the component gives up at 64 KiB instead of collecting.
    ScriptServer server(std::vector<Script>{Script().Send(std::string(8 << 20, 'y')).WaitForClose(5000ms), GoodScript()});
    F.Pop->Port = server.Port();
    const auto t0 = Clock::now();
    EXPECT_EQ([&] {
        try {
            F.Pop->Connect();
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string();
    }(), "Line too long: no line end within 65536 bytes");
    EXPECT_LE(MsSince(t0), TimeOutMs + MarginMs);
    EXPECT_FALSE(F.Pop->Connected);
    EXPECT_TRUE(server.ReceivedLines(0).empty()) << "no QUIT into a broken stream";
    EXPECT_NO_THROW(F.Pop->Connect());
    EXPECT_NO_THROW(F.Pop->List());
    EXPECT_NO_THROW(F.Pop->Disconnect());
    EXPECT_TRUE(server.WaitDone(5000ms));
}

} // namespace
