#include "pop3/Nmpop3.h"

#include "runtime/Stream.h"
#include "runtime/SysUtils.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

int Pop3LineCursor = 0;
int Pop3TempFileCounter = 0;

namespace {

// Sets the busy flag for the lifetime of an operation and clears it on every way out.
class BusyScope {
public:
    explicit BusyScope(bool& flag) : FFlag(flag) { FFlag = true; }
    ~BusyScope() { FFlag = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& FFlag;
};

inline std::string_view StripLineEnd(std::string_view line)
{
    if (line.size() >= 2 && line[line.size() - 2] == '\r' && line.back() == '\n')
        line.remove_suffix(2);
    else if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    return line;
}

// A message line as it was before the server doubled its leading dot (RFC 1939): the
// message is stored as it is, so that a uuencoded line beginning with "." decodes.
std::string_view Unstuffed(std::string_view line)
{
    if (line.size() >= 2 && line[0] == '.' && line[1] == '.')
        line.remove_prefix(1);
    return line;
}

// True for the "." line that ends a multi-line reply (line end included).
inline bool IsEndLine(std::string_view line)
{
    return line == ".\r\n" || line == ".\n";
}

// The text from the 1-based character `from` on, at most `count` characters.
std::string_view From(std::string_view text, std::size_t from, std::size_t count = std::string_view::npos)
{
    return text.substr(std::min(from - 1, text.size()), count);
}

std::string_view FirstWord(std::string_view reply)
{
    return NthWordView(reply, ' ', 1);
}

bool ContainsOk(std::string_view reply)
{
    return FirstWord(reply).find("+OK") != std::string_view::npos;
}

// A command with a message number: verb (at most 8 characters), the number in decimal,
// tail (at most 8), made in one piece.
std::string CommandLine(std::string_view verb, int msg, std::string_view tail = "")
{
    char line[32];
    char* end = std::copy(verb.begin(), verb.end(), line);
    end = std::to_chars(end, line + 24, msg).ptr;
    end = std::copy(tail.begin(), tail.end(), end);
    return std::string(line, end);
}

bool Contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.starts_with(prefix);
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The value of at most 10 decimal digits; 0 past 32 bits.
int DigitsValue(std::string_view digits)
{
    long long v = 0;
    for (char c : digits)
        v = v * 10 + (c - '0');
    return v > 2147483647LL ? 0 : static_cast<int>(v);
}

// A plain decimal number (digits only, within 32 bits); 0 for anything else.
int PlainNumber(std::string_view text)
{
    if (text.empty() || text.size() > 10 || !std::all_of(text.begin(), text.end(), IsDigit))
        return 0;
    return DigitsValue(text);
}

// True when any directory entry has the name, a dangling link or a folder included: the
// attachment numbering steps past all of them.
bool NameTaken(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The boundary key after "BOUNDARY=" at `at` of the line: the quoted text, or the text up
// to the next ";" or blank.
std::string CutBoundary(std::string_view line, std::size_t at)
{
    std::string_view rest = line.substr(at, 256);
    if (!rest.empty() && rest.front() == '"') {
        rest.remove_prefix(1);
        return std::string(rest.substr(0, rest.find('"')));
    }
    const std::size_t end = rest.find_first_of("; \t\r\n");
    return std::string(rest.substr(0, end));
}

// Temporary part file contents are collected and written in blocks of this size.
constexpr std::size_t PartWriteBlock = 65536;

} // namespace

TNMPOP3::TNMPOP3(TComponent* AOwner) : TPowersock(AOwner)
{
    Port = 110;
    FCodec = new TNMUUProcessor(this);
    FCanceled = [this] { return CancelRequested.load(); };
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

void TNMPOP3::SetAttachFilePath(const std::string& Value)
{
    FAttachFilePath = Value;
    if (!FAttachFilePath.empty() && FAttachFilePath.back() != '/')
        FAttachFilePath += '/';
}

std::string TNMPOP3::PlainFileName(std::string_view Name)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < Name.size(); ++i) {
        const auto c = static_cast<unsigned char>(Name[i]);
        if (c == '/' || c == '\\') {
            start = i + 1;
        } else if (IsSjisLeadByte(c) && i + 1 < Name.size()) {
            // A Shift-JIS trail byte may be 0x5C ("\"); "/" is never one.
            const auto t = static_cast<unsigned char>(Name[i + 1]);
            if ((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC))
                ++i;
        }
    }
    std::string out;
    out.reserve(Name.size() - start);
    for (std::size_t i = start; i < Name.size(); ++i) {
        const auto c = static_cast<unsigned char>(Name[i]);
        if (c >= 0x20 && c != 0x7F)
            out += static_cast<char>(c);
    }
    if (out.find_first_not_of('.') == std::string::npos)
        return "";   // "", "." and ".." name no file of their own
    return out;
}

// ---- replies ----

std::string TNMPOP3::Command(const std::string& Line)
{
    Send(Line);
    return ReadStatus();
}

void TNMPOP3::Send(const std::string& Line)
{
    StatusMessage(8, "Transaction");
    Writeln(Line);
    // Nothing can have taken the reply's notification before the wait when no status
    // handler ran since the send (handlers may pump): the wait can come first then.
    FWaitFirst = !OnStatus;
}

std::string TNMPOP3::ReadStatus()
{
    std::string reply;
    ReadReply(FWaitFirst, [&reply](std::string_view line) {
        reply.assign(line);
        return true;
    });
    NoteReply(reply);
    return reply;
}

void TNMPOP3::NoteReply(std::string_view Reply)
{
    LastReply.assign(Reply);
    LastReplyCode = 0;
    StatusMessage(1, LastReply);
    // As Transaction notes it: the leading digits (at most 10), 0 past 32 bits, clipped.
    std::size_t digits = 0;
    while (digits < 10 && digits < Reply.size() && IsDigit(Reply[digits]))
        ++digits;
    if (digits > 0)
        LastReplyCode = static_cast<std::int16_t>(std::min(DigitsValue(Reply.substr(0, digits)), 32767));
}

template <class TakeLine>
int TNMPOP3::ReadReply(bool AfterSend, TakeLine&& Take, bool KeepLast, std::string* Keep)
{
    // Takes every complete line of what is pending at once (one peek, one receive) instead
    // of one line per receive: a listing asks for thousands of short replies. Right after a
    // command was sent nothing of its reply can be there yet, so the first pass waits: the
    // reply's arrival wakes the pump whatever came before it.
    TimerOn();
    struct TimerGuard {
        TPowersock& Sock;
        ~TimerGuard()
        {
            try {
                Sock.TimerOff();
            } catch (...) {
            }
        }
    } timerGuard{*this};
    std::string partial;   // the received start of a line whose end has not arrived
    for (bool wait = AfterSend;; wait = true) {
        if (wait) {
            WaitPass(FCanceled);
            if (CancelRequested) {
                CancelRequested = false;
                throw EAbortError("Socket readln aborted");
            }
        }
        const int n = ws::Recv(SocketHandle, TransferBuffer, TransferBufferSize, ws::MsgPeek);
        if (n == 0)
            ConnectionClosed();
        if (n < 0) {
            FLastErrorNo = ws::GetLastError();
            // The close notification has replaced the socket: the peer has closed.
            if (FLastErrorNo == ws::WSAENOTCONN)
                ConnectionClosed();
            try {
                ErrorManager(ws::WSAEWOULDBLOCK);
            } catch (const ESockError&) {
                DropConnection();   // a reset or failed connection carries no more replies
                throw;
            }
            continue;
        }
        int used = 0;
        bool done = false;
        while (!done && used < n) {
            const char* begin = TransferBuffer + used;
            const void* lf = std::memchr(begin, '\n', static_cast<std::size_t>(n - used));
            if (!lf)
                break;
            const auto length = static_cast<std::size_t>(static_cast<const char*>(lf) - begin) + 1;
            used += static_cast<int>(length);
            if (partial.empty()) {
                done = Take(std::string_view(begin, length));
            } else {
                partial.append(begin, length);
                done = Take(std::string_view(partial));
                partial.clear();
            }
        }
        if (!done && used < n) {
            // The start of a line is taken too, so that an end of the stream behind it shows.
            if (partial.size() + static_cast<std::size_t>(n - used) > static_cast<std::size_t>(TransferBufferSize)) {
                // The rest of that line would be taken for the next reply: the dialogue
                // cannot go on, and no QUIT may be sent into it.
                DropConnection();
                throw ESockError("Line too long: no line end within " + std::to_string(TransferBufferSize) + " bytes");
            }
            partial.append(TransferBuffer + used, static_cast<std::size_t>(n - used));
            used = n;
        }
        if (Keep)
            Keep->append(TransferBuffer, static_cast<std::size_t>(used));
        if (done && KeepLast)
            return used;
        Consume(used);
        if (done)
            return 0;
        TimerOn();   // the time-out measures the silence since the last bytes
    }
}

void TNMPOP3::ConnectionClosed()
{
    // The close notification keeps a connection open while unread data waits; once that is
    // read the connection is over, and the owner hears of it as of any other close.
    DropConnection();
    throw Exception(ConnectionClosedText);
}

void TNMPOP3::DropConnection()
{
    if (Connected) {
        try {
            RequestCloseSocket();
        } catch (const ESockError&) {
        }
    }
}

void TNMPOP3::Consume(int Count)
{
    // The same bytes again, now removed from the socket; nothing after the reply's end.
    if (Count > 0 && ws::Recv(SocketHandle, TransferBuffer, Count, 0) < 0)
        ErrorManager(ws::WSAEWOULDBLOCK);
}

template <class TakeLine>
void TNMPOP3::ReadListing(TakeLine&& Take)
{
    ReadReply(false, [&Take](std::string_view line) {
        const bool last = IsEndLine(line);
        Take(line, last);
        return last;
    });
}

// ---- connection ----

void TNMPOP3::Connect()
{
    bool asked = false;
    while (UserID.empty() || Password.empty()) {
        if (!OnAuthenticationNeeded)
            throw Exception("Authentication failed");
        if (asked)
            break;
        asked = true;
        bool Handled = false;
        OnAuthenticationNeeded(Handled);
        if (!Handled)
            throw Exception("Authentication failed");
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
    if (loggedIn && OnConnect)
        OnConnect(this);
    if (failure)
        std::rethrow_exception(failure);
}

void TNMPOP3::ConnectDialogue(bool& LoggedIn)
{
    std::string greeting;
    ReadReply(false, [&greeting](std::string_view line) {
        greeting = line;
        return true;
    });
    if (!ContainsOk(greeting))
        throw Exception(greeting);
    for (int attempt = 1;; ++attempt) {
        if (ContainsOk(Command("USER " + UserID)) && ContainsOk(Command("PASS " + Password)))
            break;
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

void TNMPOP3::Disconnect()
{
    if (!Connected)
        return;
    std::string reply;
    std::exception_ptr failure;
    try {
        reply = Command("QUIT");
    } catch (...) {
        failure = std::current_exception();
    }
    if (Connected)   // not when the failure found the connection closed by the server
        TPowersock::Disconnect();
    if (failure)
        std::rethrow_exception(failure);
    if (!ContainsOk(reply))
        throw Exception(reply);
}

void TNMPOP3::Abort()
{
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
    if (FBusy)
        return;
    BusyScope busy(FBusy);
    StartRetrieval();
    // The TOP reply is taken whole and its lines are stored after LIST has been sent: the
    // server looks up the size meanwhile. The reply's bytes are kept a receive at a time.
    Send(CommandLine("TOP ", Msg, " 0"));
    bool refused = false;
    FReplyText.clear();
    FLineLengths.clear();
    const int unread = ReadReply(
        FWaitFirst,
        [this, &refused](std::string_view line) {
            FLineLengths.push_back(line.size());
            if (FLineLengths.size() == 1) {
                refused = !ContainsOk(line);
                return refused;   // a refusal has no lines after it
            }
            return IsEndLine(line);
        },
        true, &FReplyText);
    const char* next = FReplyText.data();
    const std::string_view statusLine(next, FLineLengths[0]);
    next += statusLine.size();
    if (refused) {
        const std::string reply(statusLine);
        Consume(unread);
        NoteReply(reply);
        throw Exception(reply);
    }
    Send(CommandLine("LIST ", Msg));
    Consume(unread);
    NoteReply(statusLine);
    Summary.Header.Clear();
    Summary.Subject.clear();
    Summary.From.clear();
    Summary.MessageId.clear();
    for (std::size_t i = 1; i < FLineLengths.size(); ++i) {
        const std::string_view text = StripLineEnd(std::string_view(next, FLineLengths[i]));
        next += FLineLengths[i];
        // The three fields differ in their first character.
        if (!text.empty()) {
            if (text[0] == 'S' && StartsWith(text, "Subject:"))
                Summary.Subject.assign(From(text, 9));
            else if (text[0] == 'F' && StartsWith(text, "From:"))
                Summary.From.assign(From(text, 6));
            else if (text[0] == 'M' && StartsWith(text, "Message-ID:"))
                Summary.MessageId.assign(From(text, 13, 256));
        }
        Summary.Header.Add(std::string(text));
    }
    Summary.Bytes = StrToInt(TrimView(NthWordView(ReadStatus(), ' ', 3)));
    StatusMessage(1, "Summary Retrieved");
    if (OnRetrieveEnd)
        OnRetrieveEnd(this);
}

void TNMPOP3::DeleteMailMessage(int Msg)
{
    if (FBusy)
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
    if (FBusy)
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
    if (FBusy)
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
    CertifyConnect();
    Command("RSET");
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

// ---- whole messages ----

void TMailMessage::Clear()
{
    Header.Clear();
    RawBody.Clear();
    Body.Clear();
    Attachments.Clear();
    ContentType.clear();
    From.clear();
    Subject.clear();
    MessageId.clear();
    Boundary.clear();
}

void TNMPOP3::GetMailMessage(int Msg)
{
    if (FBusy)
        return;
    BusyScope busy(FBusy);
    StartRetrieval();
    std::exception_ptr failure;
    try {
        FTransferEncoding.clear();
        MailMessage.Boundary.clear();
        FAttachName.clear();
        FPartMode = 2;
        FReplyEnded = false;
        const std::string reply = Command(CommandLine("RETR ", Msg));
        if (!ContainsOk(reply))
            throw Exception(reply);
        Pop3LineCursor = 0;
        MailMessage.Clear();
        FBytesRecvd = 0;
        ReadHeader(false, MailMessage);
        if (!FReplyEnded) {
            ReadListing([this](std::string_view line, bool last) {
                if (!last)
                    MailMessage.RawBody.Add(std::string(Unstuffed(StripLineEnd(line))));
            });
        }
        if (Contains(LowerCase(MailMessage.ContentType), "multipart")) {
            ReadParts();
        } else if (!Parse) {
            MailMessage.Body.Assign(MailMessage.RawBody);
        } else if (Contains(UpperCase(FTransferEncoding), "BASE64")) {
            FPartMode = 0;
            ReadBody(MailMessage);
            if (MailMessage.Attachments.Count() == 0)
                throw Exception("Empty Base64 body: nothing to decode");
            MailMessage.Body.LoadFromFile(FAttachFilePath + MailMessage.Attachments[0]);
        } else {
            ReadBody(MailMessage);
        }
        if (DeleteOnRead) {
            const std::string deleted = Command(CommandLine("DELE ", Msg));
            if (FirstWord(deleted) == "-ERR")
                throw Exception(deleted);
        }
        StatusMessage(1, "Message Retrieved");
    } catch (...) {
        failure = std::current_exception();
    }
    if (OnRetrieveEnd)
        OnRetrieveEnd(this);
    if (failure)
        std::rethrow_exception(failure);
}

void TNMPOP3::ReadHeader(bool FromBuffer, TMailMessage& Target)
{
    if (FromBuffer) {
        for (bool ended = false; !ended;) {
            if (Pop3LineCursor >= MailMessage.RawBody.Count())
                return;
            ended = HeaderLine(MailMessage.RawBody[Pop3LineCursor++], Target);
        }
    } else {
        ReadReply(false, [this, &Target](std::string_view raw) {
            const std::string_view line = StripLineEnd(raw);
            // A message without a body may end right after its header, without an empty line.
            if (line == ".") {
                FReplyEnded = true;
                return true;
            }
            return HeaderLine(Unstuffed(line), Target);
        });
    }
    if (FPartMode == 2)
        FPartMode = 1;
}

bool TNMPOP3::HeaderLine(std::string_view Line, TMailMessage& Target)
{
    if (FPartMode == 2)
        MailMessage.Header.Add(std::string(Line));
    if (Line.empty())
        return true;
    const std::string word = UpperCase(Line.substr(0, Line.find(' ')));   // the first word
    if (word == "SUBJECT:")
        MailMessage.Subject = From(Line, 9, 256);
    else if (word == "FROM:")
        MailMessage.From = From(Line, 7, 256);
    else if (word == "CONTENT-TYPE:")
        MailMessage.ContentType = From(Line, 15, 256);
    else if (word == "MESSAGE-ID:")
        MailMessage.MessageId = From(Line, 13, 256);
    const std::string upper = UpperCase(Line);
    const std::size_t boundary = upper.find("BOUNDARY=");
    if (boundary != std::string::npos)
        Target.Boundary = CutBoundary(Line, boundary + 9);
    if (Contains(upper, "CONTENT-TRANSFER-ENCODING"))
        FTransferEncoding = From(Line, 28, 256);
    if (Contains(upper, "NAME"))
        FAttachName = NthWordView(Line, '"', 2);
    return false;
}

void TNMPOP3::ReadParts()
{
    TMailMessage scratch;   // takes the boundary keys of part headers, which are not used
    const TStringList& raw = MailMessage.RawBody;
    const std::string& key = MailMessage.Boundary;
    bool found = false;
    while (!key.empty() && !found && Pop3LineCursor < raw.Count())
        found = Contains(raw[Pop3LineCursor++], key);
    if (!found)
        throw Exception("Multipart message without its boundary line");
    bool closed = false;
    do {
        ReadHeader(true, scratch);
        closed = ReadBody(MailMessage);
    } while (!closed && Pop3LineCursor < raw.Count());
}

bool TNMPOP3::ReadBody(TMailMessage& Target)
{
    std::unique_ptr<TFileStream> part;
    std::string partName;
    if (FPartMode == 0) {
        // The counter starts at 0 in every run: numbers whose file exists (from an earlier
        // run, or an attachment of that name) are passed over rather than emptied.
        do {
            ++Pop3TempFileCounter;
            partName = FAttachFilePath + "Temp" + std::to_string(Pop3TempFileCounter) + ".mme";
        } while (NameTaken(partName));
        part = std::make_unique<TFileStream>(partName, fmCreate);
    }
    StatusMessage(1, "Extracting file");
    const TStringList& raw = MailMessage.RawBody;
    if (Pop3LineCursor >= raw.Count())
        return false;
    std::string pending;   // part file bytes not yet written
    long long written = 0;
    const std::string* delimiter = nullptr;
    while (Pop3LineCursor < raw.Count()) {
        const std::string& line = raw[Pop3LineCursor++];
        if (!Target.Boundary.empty() && Contains(line, Target.Boundary)) {
            delimiter = &line;
            break;
        }
        if (part) {
            pending += line;
            pending += "\r\n";
            if (pending.size() >= PartWriteBlock) {
                part->WriteBuffer(pending.data(), static_cast<long long>(pending.size()));
                written += static_cast<long long>(pending.size());
                pending.clear();
            }
        } else {
            Target.Body.Add(line);
        }
        ++FBytesRecvd;
        if (OnPacketRecvd)
            OnPacketRecvd(this);
    }
    if (part) {
        part->WriteBuffer(pending.data(), static_cast<long long>(pending.size()));
        written += static_cast<long long>(pending.size());
        part.reset();
        if (written > 0)
            ExtractPart(partName, Target);
    }
    // The closing delimiter is the key followed by "--" (RFC 2046); looking only at the
    // line's last characters would take every delimiter of a short key, or of a key that
    // ends in "--", for the closing one and drop the parts after it.
    const bool closing = delimiter && StartsWith(std::string_view(*delimiter).substr(delimiter->find(Target.Boundary) + Target.Boundary.size()), "--");
    FPartMode = 0;
    return closing;
}

void TNMPOP3::ExtractPart(const std::string& TempName, TMailMessage& Target)
{
    std::string name = PlainFileName(FAttachName);
    if (name.empty())
        name = "text.tmp";
    const std::size_t dot = name.rfind('.');
    const std::string base = name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    for (int k = 1; NameTaken(FAttachFilePath + name); ++k)
        name = base + "_" + std::to_string(k) + extension;
    if (OnDecodeStart)
        OnDecodeStart(name);
    Target.Body.Add("\r\nFile \"" + name + "\" extracted");
    Target.Attachments.Add(name);
    const std::string target = FAttachFilePath + name;
    // Encoding names are case-insensitive (RFC 2045): mailers write "x-uuencode".
    const bool uuencoded = Contains(UpperCase(FTransferEncoding), "X-UUENCODE");
    if (uuencoded || Contains(LowerCase(FTransferEncoding), "base64")) {
        TFileStream in(TempName, fmOpenRead);
        TFileStream out(target, fmCreate);
        struct Detach {
            TNMUUProcessor* Codec;
            ~Detach() { Codec->InStream = Codec->OutStream = nullptr; }
        } detach{FCodec};
        FCodec->InStream = &in;
        FCodec->OutStream = &out;
        FCodec->Method = uuencoded ? uuCode : uuMime;
        StatusMessage(1, "Decoding file");
        if (in.Size() > 0)
            FCodec->Decode();
    } else {
        RenameFile(TempName, target);   // never replaces; a failure leaves the part file
    }
}
