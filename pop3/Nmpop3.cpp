#include "pop3/Nmpop3.h"
#include "pop3/Pop3Reply.h"

#include "runtime/SysUtils.h"

#include <algorithm>
#include <cctype>
#include <string>

using namespace pop3text;

namespace {

// The pipelining window: never narrower than this (on loopback it stays there), and wide
// enough for summaries read at this many a second, about the component's pace on loopback.
constexpr int SmallestWindow = 64;
constexpr double ReadingPace = 40000;

} // namespace

TNMPOP3::TNMPOP3(TComponent* AOwner) : TPowersock(AOwner)
{
    Port = 110;
    FCodec = new TNMUUProcessor(this);
}

TNMPOP3::~TNMPOP3()
{
    // The socket component's destructor can only reach its own Abort.
    Destroying();
    try {
        Abort();
    } catch (...) {
    }
}

void TNMPOP3::ConnectionEnded()
{
    if (!KeepPassword)
        WipeString(Password);
    WipeString(AccessToken);
}

void TNMPOP3::DetachEvents()
{
    TPowersock::DetachEvents();
    ParkEvent(OnConnect);
    ParkEvent(OnAuthenticationNeeded);
    ParkEvent(OnAuthenticationFailed);
    ParkEvent(OnReset);
    ParkEvent(OnList);
    ParkEvent(OnRetrieveStart);
    ParkEvent(OnRetrieveEnd);
    ParkEvent(OnSuccess);
    ParkEvent(OnFailure);
    ParkEvent(OnDecodeStart);
    ParkEvent(OnDecodeEnd);
}

void TNMPOP3::SetAttachFilePath(const std::string& Value)
{
    FAttachFilePath = Value;
    FFolder.clear();
    if (!FAttachFilePath.empty() && FAttachFilePath.back() != '/')
        FAttachFilePath += '/';
}

// ---- replies ----

std::string TNMPOP3::Command(const std::string& Line)
{
    Send(Line);
    const auto sent = std::chrono::steady_clock::now();
    std::string reply = ReadStatus();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    if (FRoundTrip < 0 || seconds < FRoundTrip)
        FRoundTrip = seconds;
    return reply;
}

void TNMPOP3::Send(const std::string& Line)
{
    if (!FInFlight.empty() || !FTopsInFlight.empty())
        SettleInFlight();
    StatusMessage(8, "Transaction");
    FReplyBytes = 0;
    Writeln(Line);
}

std::string TNMPOP3::ReadStatus()
{
    std::string reply;
    ReadReply([&reply](std::string_view line) {
        reply.assign(line);
        return true;
    });
    NoteReply(reply);
    return reply;
}

void TNMPOP3::ConnectionClosed()
{
    // The close notification keeps a connection open while unread data waits; once that is
    // read the connection is over, and the owner hears of it as of any other close.
    DropConnection();
    throw Exception(ConnectionClosedText);
}

void TNMPOP3::ReplyTooLong()
{
    DropConnection();
    throw ESockError("Reply too long: more than " + std::to_string(ReplyLimit) + " bytes");
}

void TNMPOP3::ReleaseLargeBuffers()
{
    // Kept up to the size of a large header: a listing reuses them for every message.
    constexpr std::size_t KeptRoom = 1 << 20;
    if (FReplyText.capacity() > KeptRoom)
        std::string().swap(FReplyText);
    if (FLineLengths.capacity() * sizeof(std::size_t) > KeptRoom)
        std::vector<std::size_t>().swap(FLineLengths);
}

// ---- connection ----

void TNMPOP3::Connect()
{
    // Nothing of an earlier attempt may be taken for this one's, not even when this one
    // fails before the network.
    ForgetLastAttempt();
    LoginRefusal.clear();
    CredentialsMissing = false;
    SaslMechanism = TSaslMechanism::None;
    TokenRefusal = {};
    TokenNeedsTls = !AccessToken.empty() && TlsMode == TTlsMode::None;
    if (TokenNeedsTls) {
        WipeString(AccessToken);
        throw Exception("Token needs TLS");
    }
    bool asked = false;
    while ((UserID.empty() || (Password.empty() && AccessToken.empty())) && !asked) {
        bool Handled = false;
        if (OnAuthenticationNeeded) {
            asked = true;   // one chance: then it goes on with what there is
            OnAuthenticationNeeded(Handled);
        }
        if (!Handled) {
            CredentialsMissing = true;
            throw Exception("Authentication failed");
        }
    }
    // A Connect on a live session is refused at socket level and leaves that session as it
    // is: its capabilities, the sizes it listed and the commands it has in flight.
    if (!Connected) {
        Capabilities.clear();   // no answer of an earlier session stands for this one
        ForgetSession();
        FInFlight.clear();   // what was in flight went with the last connection
        FTopsInFlight.clear();
    }
    const bool wasBusy = FBusy;
    FBusy = true;
    bool loggedIn = false;
    std::exception_ptr failure;
    try {
        TPowersock::Connect();
        try {
            ConnectDialogue(loggedIn);
        } catch (...) {
            Disconnect();   // when this fails too, its exception is the one that leaves
            throw;
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!wasBusy)
        FBusy = false;
    if (failure)
        ConnectionEnded();   // also when it failed before there was a connection
    if (loggedIn && OnConnect)
        OnConnect(this);
    if (failure)
        std::rethrow_exception(failure);
}

void TNMPOP3::ConnectDialogue(bool& LoggedIn)
{
    std::string greeting;
    FReplyBytes = 0;
    ReadReply([&greeting](std::string_view line) {
        greeting = line;
        return true;
    });
    if (!ContainsOk(greeting))
        throw Exception(greeting);
    ReadCapabilities();
    if (TlsMode == TTlsMode::StartTls)
        UpgradeConnection();
    // Whatever the server said, credentials never travel in clear once TLS was asked for.
    if (TlsMode != TTlsMode::None && !TlsActive())
        FailTls(TTlsProblem::HandshakeFailed, "TLS handshake failed");
    if (!AccessToken.empty())
        SignInWithToken();
    for (int attempt = 1; AccessToken.empty(); ++attempt) {
        std::string reply = Command("USER " + UserID);
        if (ContainsOk(reply))
            reply = Command("PASS " + Password);
        if (ContainsOk(reply)) {
            LoginRefusal.clear();   // a retry was accepted
            break;
        }
        LoginRefusal = reply.substr(0, reply.find_first_of("\r\n"));
        if (attempt == 2 || !OnAuthenticationFailed)
            throw Exception("Authentication failed");
        bool Handled = false;
        OnAuthenticationFailed(Handled);
        if (!Handled)
            throw Exception("Authentication failed");
    }
    LoggedIn = true;
    // A count from an earlier login must not stand for this mailbox.
    MessageCount = 0;
    const std::string reply = Command("STAT");
    if (!ContainsOk(reply))
        throw Exception(reply);
    MessageCount = PlainNumber(NthWordView(reply, ' ', 2));
}

bool TNMPOP3::ReadCapabilities() { return TakeCapabilities(Command("CAPA")); }

bool TNMPOP3::TakeCapabilities(const std::string& Status)
{
    Capabilities.clear();
    // A server without CAPA refuses it: no capabilities, no further wait.
    if (StripLineEnd(FirstWord(Status)) != "+OK")
        return false;
    ReadListing([this](std::string_view line, bool last) {
        if (!last)
            Capabilities.emplace_back(StripLineEnd(line));
    });
    return true;
}

bool TNMPOP3::HasCapability(std::string_view Name) const
{
    auto lower = [](unsigned char c) { return static_cast<char>(std::tolower(c)); };
    return std::any_of(Capabilities.begin(), Capabilities.end(), [&](const std::string& line) {
        const std::string_view word = FirstWord(line);
        return word.size() == Name.size() && std::equal(word.begin(), word.end(), Name.begin(), [&](char a, char b) {
            return lower(a) == lower(b);
        });
    });
}

void TNMPOP3::UpgradeConnection()
{
    if (!HasCapability("STLS"))
        FailTls(TTlsProblem::StlsNotOffered, "Server does not offer STLS");
    if (StripLineEnd(FirstWord(Command("STLS"))) != "+OK")
        FailTls(TTlsProblem::StlsRefused, "Server refused STLS");
    StartTls();
    // What the server said before the handshake may have been forged by anyone on the way.
    ReadCapabilities();
}

void TNMPOP3::Disconnect()
{
    if (!Connected)
        return;
    if (InWait()) {   // the reply to QUIT could not be told from the waiting command's
        Abort();
        return;
    }
    std::string reply;
    std::exception_ptr failure;
    try {
        reply = Command("QUIT");
    } catch (...) {
        failure = std::current_exception();
    }
    ForgetSession();
    if (Connected)   // not when the failure found the connection closed by the server
        TPowersock::Disconnect();
    if (failure)
        std::rethrow_exception(failure);
    if (!ContainsOk(reply))
        throw Exception(reply);
}

void TNMPOP3::Abort()
{
    FInFlight.clear();   // the connection ends: their replies go with it
    FTopsInFlight.clear();
    ForgetSession();
    TPowersock::Abort();
    if (Connected) {
        RequestCloseSocket();
        ClearInput();
    }
}

// ---- summaries and commands ----

void TNMPOP3::StartRetrieval()
{
    CertifyConnect();
    if (OnRetrieveStart)
        OnRetrieveStart(this);
}

void TNMPOP3::GetSummary(int Msg)
{
    if (Refused())
        return;
    BusyScope busy(FBusy);
    AtScopeEnd release([this] { ReleaseLargeBuffers(); });
    StartRetrieval();
    if (FCapabilitiesDue)
        AskCapabilitiesAgain();
    // With PIPELINING the commands for this message were mostly sent ahead with those of
    // the next ones; without it the size comes from the session's one LIST of the mailbox,
    // or when that has none for it, LIST n is sent as the TOP reply's lines are stored.
    const bool ahead = HasCapability("PIPELINING") && Depth > 1;
    // The listing pays for itself from the second message on; a session that looks at one
    // message never fetches the sizes of the whole mailbox.
    if (!ahead && FSummaries++ > 0)
        KeepSizes();
    const int keptSize = ahead ? -1 : KeptSize(Msg);
    if (ahead) {
        if ((!FInFlight.empty() && FInFlight.front() != Msg) || !FTopsInFlight.empty())
            SettleInFlight();   // the caller went elsewhere: those replies are no one's
        SendAhead(Msg);
        FInFlight.pop_front();
        FReplyBytes = 0;
    } else {
        Send(CommandLine("TOP ", Msg, " 0"));
    }
    bool refused = false;
    const int unread = ReadTopReply(refused);
    const std::string_view statusLine(FReplyText.data(), FLineLengths[0]);
    if (refused) {
        const std::string reply(statusLine);
        ConsumeInput(unread);
        NoteReply(reply);
        if (ahead)
            ReadStatus();   // LIST's reply was asked for too
        throw Exception(reply);
    }
    if (!ahead && keptSize < 0)
        Send(CommandLine("LIST ", Msg));
    ConsumeInput(unread);
    NoteReply(statusLine);
    TakeSummaryLines();
    FReplyBytes = 0;
    Summary.Bytes = keptSize >= 0 ? keptSize : StrToInt(TrimView(NthWordView(ReadStatus(), ' ', 3)));
    StatusMessage(1, "Summary Retrieved");
    if (OnRetrieveEnd)
        OnRetrieveEnd(this);
}

void TNMPOP3::KeepSizes()
{
    if (FSizesAsked)
        return;
    FSizesAsked = true;
    FSizes.clear();
    if (StripLineEnd(FirstWord(Command("LIST"))) != "+OK")
        return;   // refused: each message asks for its own
    std::vector<std::string> sizes;
    // A listing with any line that is not "number size" is trusted for no message.
    if (ReadNumberedListing(sizes, IsSizeWord))
        KeepListedSizes(sizes);
}

void TNMPOP3::KeepListedSizes(const std::vector<std::string>& Sizes)
{
    FSizes.assign(Sizes.size(), -1);
    for (std::size_t i = 0; i < Sizes.size(); ++i)
        if (!Sizes[i].empty())
            FSizes[i] = PlainNumber(Sizes[i]);
}

int TNMPOP3::KeptSize(int Msg) const
{
    if (Msg < 1 || static_cast<std::size_t>(Msg) > FSizes.size())
        return -1;
    return FSizes[static_cast<std::size_t>(Msg - 1)];
}

void TNMPOP3::ForgetSession()
{
    FSummaries = 0;
    FSizesAsked = false;
    FCapabilitiesDue = false;
    FSizes.clear();
    FRoundTrip = -1;
}

int TNMPOP3::Window() const
{
    // The replies of a window come a round trip after its commands; two round trips of
    // reading at full speed keep the link busy, and a stop drops no more than that.
    const double wanted = FRoundTrip > 0 ? 2 * FRoundTrip * ReadingPace : 0;
    return static_cast<int>(std::clamp<double>(wanted, std::min(Depth, SmallestWindow), std::max(Depth, 1)));
}

void TNMPOP3::SendAhead(int Msg)
{
    // Topped up once a quarter of the window is read, so that one write carries many
    // commands and the link never runs dry.
    const bool following = !FInFlight.empty() && FInFlight.front() == Msg;
    if (following && FInFlight.back() >= MessageCount)
        return;   // the rest of the mailbox is in flight
    const int window = Window();
    if (following && FInFlight.size() > static_cast<std::size_t>(window - window / 4))
        return;
    const int first = FInFlight.empty() ? Msg : FInFlight.back() + 1;
    const int last = std::max(Msg, std::min(Msg + window - 1, MessageCount));
    std::string batch;
    for (int n = first; n <= last; ++n) {
        batch += CommandLine("TOP ", n, " 0\r\n");
        batch += CommandLine("LIST ", n, "\r\n");
    }
    if (batch.empty())
        return;
    SendBatch(batch);
    for (int n = first; n <= last; ++n)
        FInFlight.push_back(n);
}

void TNMPOP3::SendBatch(const std::string& Batch)
{
    StatusMessage(8, "Transaction");
    try {
        for (std::size_t at = 0; at < Batch.size();) {
            const std::size_t piece = std::min<std::size_t>(Batch.size() - at, 60000);
            SendBuffer(Batch.data() + at, static_cast<std::uint16_t>(piece));
            at += piece;
        }
    } catch (...) {
        // Part of the batch may be out: no later reply could be told whose it is.
        FInFlight.clear();
        FTopsInFlight.clear();
        DropConnection();
        throw;
    }
}

void TNMPOP3::SettleInFlight()
{
    // Each reply is read and dropped, TOP's through its "." unless refused, then LIST's.
    while (!FInFlight.empty()) {
        FInFlight.pop_front();
        if (!Connected)
            continue;   // the connection has ended: nothing is left to read
        DropTopReply();
        FReplyBytes = 0;
        ReadStatus();
    }
    while (!FTopsInFlight.empty()) {
        FTopsInFlight.pop_front();
        if (Connected)
            DropTopReply();
    }
}

void TNMPOP3::DeleteMailMessage(int Msg)
{
    if (Refused())
        return;
    {
        BusyScope busy(FBusy);
        CertifyConnect();
        const std::string reply = Command(CommandLine("DELE ", Msg));
        if (FirstWord(reply) == "-ERR") {
            if (OnFailure)
                OnFailure(this);
            throw Exception(reply);
        }
    }
    if (OnSuccess)
        OnSuccess(this);
}

std::string TNMPOP3::UniqueID(int Msg)
{
    if (Refused())
        return "";
    BusyScope busy(FBusy);
    CertifyConnect();
    const std::string reply = Command(CommandLine("UIDL ", Msg));
    if (FirstWord(reply) != "+OK") {
        if (OnFailure)
            OnFailure(this);
        throw Exception(reply);
    }
    return std::string(StripLineEnd(NthWordView(reply, ' ', 3)));
}

void TNMPOP3::List()
{
    if (Refused())
        return;
    BusyScope busy(FBusy);
    CertifyConnect();
    const std::string reply = Command("LIST ");
    // A refusal carries no listing: waiting for one would wait for the time-out.
    if (FirstWord(reply) == "-ERR")
        throw Exception(reply);
    // The whole listing is taken first, so that a line that is no number leaves no rest of
    // it in the connection to be taken for the next reply.
    std::vector<std::string> lines;
    ReadListing([&lines](std::string_view line, bool last) {
        if (!last)
            lines.emplace_back(StripLineEnd(line));
    });
    for (const std::string& line : lines) {
        if (OnList)
            OnList(StrToInt(NthWordView(line, ' ', 1)), StrToInt(NthWordView(line, ' ', 2)));
    }
}

void TNMPOP3::Reset()
{
    if (InWait())
        return;
    CertifyConnect();
    const std::string reply = Command("RSET");
    if (!ContainsOk(reply))
        throw Exception(reply);
    if (OnReset)
        OnReset(this);
}

void TNMPOP3::Extract(const std::string& Key, std::string& Value)
{
    CertifyConnect();
    Value.clear();
    for (const std::string& entry : MailMessage.Header.Items()) {
        if (!Contains(entry, Key))
            continue;
        const std::size_t colon = entry.find(':');
        if (colon != std::string::npos)
            Value = Trim(std::string_view(entry).substr(colon + 1, 255));
        return;
    }
}
