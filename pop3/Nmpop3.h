#pragma once
// Nmpop3: the POP3 client component TNMPOP3 (RFC 1939) and its result records TSummary and
// TMailMessage. Its sources: Nmpop3.cpp (the dialogue: login, summaries, commands),
// Pop3Message.cpp (whole messages: header and part parsing, part and attachment files),
// Pop3Reply.h (the reply readers and text helpers both share).
//
// TNMPOP3 is a TPowersock: every operation looks blocking but waits by pumping the thread's
// messages, so handlers of the owner run inside a waiting operation. The busy flag makes
// GetSummary, GetSummaries, GetListing, GetMailMessage, DeleteMailMessage,
// UniqueID and List return at once, silently,
// while one of them waits, or any other wait of the component runs. A handler that runs inside a wait of the component never gets a
// reply meant for the waiting command: Reset returns at once, silently, and Disconnect
// ends the wait as Abort does (the waiting command raises EAbortError, no QUIT is sent).
// Abort is the way to break into a wait. The time-out of the socket component runs this
// Abort, so a time-out during any wait closes the connection. Deleting the component inside
// one of its waits is deferred until the wait has unwound (see Psock.h).
//
// Failures are exceptions:
//  - Exception with the server's reply line exactly as received (line end included) when a
//    reply fails its test;
//  - Exception "Authentication failed" for missing or refused credentials;
//  - Exception with ConnectionClosedText when the server closes the connection while a
//    reply, or any line of a multi-line reply, is still awaited (never a loop on nothing);
//    the component's side is closed then too (OnDisconnect) and Connected is false;
//  - ESockError for a reply line of more than 64 KiB, for a reply of more than ReplyLimit
//    bytes ("Reply too long: more than <ReplyLimit> bytes") and for a failed receive (a
//    reset): the connection is closed first (OnDisconnect, no QUIT), as the dialogue cannot
//    go on;
//  - Exception "Not Connected" from the connection check; EConvertError
//    ("'%s' は整数ではありません") for a size that is not a number; the socket component's
//    ESockError / EAbortError (time-out, Abort) pass through unchanged, and so do the
//    file layer's EFCreateError / EFOpenError but for part and attachment files;
//  - EAbortError "Retrieval aborted" when Abort or the time-out comes while a retrieved
//    message is taken apart (its parse pumps like a wait; every part has the time-out).
// The busy flag is cleared on every way out.
//
// Files. GetMailMessage writes, into AttachFilePath, or when that is "" into a private
// folder made for the retrieval (pop3/PartFolder.h), one temporary part file "Temp<N>.mme"
// for every part after the first of a multipart message (N: a counter shared by all
// instances, never reset within a run, passing over numbers whose name exists; the files
// stay) and one attachment file per such part, at most MaxPartFiles of them; both are
// made readable by the owner only (0600) and created new: a name that exists, a link
// included, is never opened. MailMessage.Files lists what the retrieval left on disk; the
// caller removes those files and the folder when done with them. An attachment name taken
// from the mail is reduced to a plain file name first (no directory part, no "..", no
// separator, no control character, no leading dot) and cut to 255 bytes (its extension
// kept, no Shift-JIS character split); a name set by OnDecodeStart is used as the handler
// leaves it. An existing file is never replaced by a name found in the mail: the name is
// numbered (base_1.ext, base_2.ext ...) and a rename never replaces. A file that cannot
// be made or written (a name taken meanwhile included) is noted in Body ("File "x" could
// not be written") and the rest of the message is still taken.
//
// Ownership. TNMPOP3 owns Summary and MailMessage (members) and its codec (an owned
// component). Everything runs on the thread that made the component.

#include "net/Psock.h"
#include "pop3/Nmextstr.h"
#include "pop3/Nmuue.h"
#include "runtime/StringList.h"

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// (Msg, Size): one line of the LIST listing.
using TListEvent = std::function<void(int Msg, int Size)>;
// The proposed attachment file name, which the handler may change.
using TVarFileNameEvent = std::function<void(std::string& FileName)>;

// One message of the whole mailbox's listing (GetListing).
struct TListedMessage {
    int Number = 0;
    long long Size = -1;   // as LIST gave it
    std::string Uidl;      // as UIDL gave it; "" when UIDL listed nothing for the number
};

// The whole mailbox as UIDL and LIST of this session gave it (GetListing).
struct TMailboxListing {
    // LIST answered with a listing of "number size" lines only: Messages holds them.
    bool Sizes = false;
    // UIDL answered with a listing of "number id" lines only (the id printable, no blank):
    // their ids are in Messages. Repeated ids are kept as the server gave them.
    bool Uidls = false;
    std::vector<TListedMessage> Messages;   // the numbers LIST listed, in its order
};

// The text of the exception raised when the server closes the connection while a reply is
// awaited.
inline constexpr const char* ConnectionClosedText = "Connection closed by the server";

// Why the server refused an OAuth access token (TNMPOP3::AccessToken).
struct TTokenRefusal {
    bool Refused = false;
    std::string Status;   // the error challenge's JSON "status" ("" without a challenge)
    std::string Reply;    // the server's refusing reply, line end removed
};

// The result of one GetSummary: the header lines of TOP n 0 and the size of LIST n.
class TSummary : public TPersistent {
public:
    std::string Subject;     // the first "Subject:" line's text after the colon (blank kept)
    std::string From;        // likewise for "From:"
    std::string MessageId;   // after "Message-ID:" and one character, at most 256
    int Bytes = 0;           // the size LIST reported
    // Every line of the TOP reply, line ends removed, folded lines as entries of their own,
    // ending with the empty line and "." of a complete header.
    TExStringList Header;
};

// The result of one GetMailMessage.
class TMailMessage : public TPersistent {
public:
    TExStringList Header;      // top-level header lines; the closing empty line last (if any)
    TStringList RawBody;       // every line after the header up to "." (a doubled leading dot undone)
    TStringList Body;          // the text for the user
    TStringList Attachments;   // attachment file names (without directory), in order
    std::string ContentType;   // of the last content-type line read (top level or part)
    std::string From;
    std::string Subject;
    std::string MessageId;
    std::string Boundary;      // the multipart boundary key (without the leading "--")
    // Every file the retrieval left on disk (folder and name), in the order made.
    std::vector<std::string> Files;
    // The private folder made for the retrieval; "" when AttachFilePath named the folder or
    // no part was written.
    std::string PartFolder;

    // Empties every field.
    void Clear();
};

// Index in MailMessage.RawBody of the next line the part parser takes; shared by all
// instances, set to 0 by every GetMailMessage.
extern int Pop3LineCursor;
// Number of the last temporary part file "Temp<N>.mme"; 0 at start, never reset; a
// number whose name exists is passed over.
extern int Pop3TempFileCounter;

class TNMPOP3 : public TPowersock {
public:
    // The most parts of one message written to files; the rest stays in Body as text.
    static constexpr int MaxPartFiles = 1000;

    explicit TNMPOP3(TComponent* AOwner);   // Port 110
    ~TNMPOP3() override;                    // drops an open connection without QUIT

    // First forgets what the last attempt found (ForgetLastAttempt), then reads the greeting,
    // asks CAPA (Capabilities), in TlsMode StartTls upgrades with STLS (below), logs in with
    // USER/PASS (OnAuthenticationNeeded before: empty credentials it does not fill raise
    // "Authentication failed" before the network, CredentialsMissing; one
    // OnAuthenticationFailed retry), sends STAT for MessageCount, then fires OnConnect.
    // After the socket connected, a failure first ends the connection with Disconnect
    // (QUIT); OnConnect still fires when the login had succeeded (a refused STAT).
    // STLS: sent only when CAPA lists it, else ESockError "Server does not offer STLS";
    // a refusal raises "Server refused STLS"; bytes that came with or after the consent
    // are refused unread ("TLS handshake failed: data arrived before the handshake");
    // CAPA is asked again over TLS. Each of these failures, and every failed handshake,
    // drops the connection without another word (TlsProblem tells which), so USER and PASS
    // never travel in clear once TLS was asked for. While connected: ESockError "Already
    // connected", and the session goes on untouched (commands in flight included).
    void Connect() override;
    // QUIT, then the socket is closed whatever happened; raises a refusing reply after that.
    // Nothing when not connected; Abort when called inside a wait of the component.
    void Disconnect() override;
    // Cancels a wait in progress and drops the connection without QUIT.
    void Abort() override;

    // TOP Msg 0 and LIST Msg into Summary; OnRetrieveStart, then OnRetrieveEnd on success.
    // Without PIPELINING the second call of a session sends LIST for the whole mailbox and
    // keeps its sizes, so each further message costs one TOP (LIST Msg when the listing
    // lacks it).
    // When the server announced PIPELINING the commands for the next messages are sent
    // ahead (Depth) and their replies read by the calls for them, in order; every other
    // command first reads and drops the replies still in flight, Abort drops them with the
    // connection.
    void GetSummary(int Msg);
    // UIDL and LIST of the whole mailbox into Listing (emptied first), sent together in one
    // write when the server announced PIPELINING, else one after the other. A refusal or a
    // malformed line leaves that half out (Sizes or Uidls false), and a LIST left out is not
    // asked again by GetSummary. AskCapabilities: CAPA again, for what the server says after
    // the login (RFC 2449 lets capabilities change then; a refusal keeps the earlier ones):
    // first, in the same write, when PIPELINING was announced before; else the next
    // GetSummary or GetSummaries asks it before its first TOP and uses its answer, so that
    // the listing's rows wait for no round trip of it. WhileWaiting: called once the first
    // write went out, before any reply is read, for work of the caller's that needs none
    // (it must not use the component). Raises what a command raises (connection,
    // time-out, reply limit). Nothing when busy.
    void GetListing(bool AskCapabilities = false, const std::function<void()>& WhileWaiting = {});
    // TOP n 0 for each of Numbers in order, into Summary, OnRetrieveEnd after each (the
    // number in SummaryNumber, Bytes from the session's LIST or -1); with PIPELINING sent
    // ahead in the window GetSummary uses. A refused TOP fires nothing and the next message
    // follows. StopSummaries (from a handler) ends it after the message in hand; the replies
    // still in flight are read and dropped before it returns. OnRetrieveStart once. Raises
    // what GetSummary raises but for refusals. Nothing when busy.
    void GetSummaries(const std::vector<int>& Numbers);
    void StopSummaries() { FStopSummaries = true; }
    // RETR Msg into MailMessage (attachments to files); OnRetrieveStart, and OnRetrieveEnd
    // on every way out after the connection check.
    void GetMailMessage(int Msg);
    // DELE Msg; OnSuccess when accepted, OnFailure before the exception when refused.
    void DeleteMailMessage(int Msg);
    // UIDL Msg: the unique id; "" when busy. OnFailure before the exception when refused.
    std::string UniqueID(int Msg);
    // LIST: OnList per line of the listing. A refusing reply ("-ERR") is raised.
    void List();
    // RSET, then OnReset; a refusing reply is raised (before OnReset). Nothing when called
    // inside a wait of the component.
    void Reset();
    // The value (after the first ":", trimmed, at most 255) of the first MailMessage.Header
    // entry containing Key (case-sensitive); "" when none.
    void Extract(const std::string& Key, std::string& Value);

    bool Busy() const { return FBusy; }

    // The directory for attachment and temporary files, ending in "/"; "" for a private
    // folder per retrieval.
    const std::string& AttachFilePath() const { return FAttachFilePath; }
    void SetAttachFilePath(const std::string& Value);   // appends "/" unless empty or present

    // Published properties.
    std::string UserID;
    std::string Password;
    // False for a password the owner keeps nowhere (asked for one connection): it is wiped
    // when the connection ends, by either side or by a failed Connect.
    bool KeepPassword = true;
    bool Parse = false;          // parse a single-part body (Base64 decoded into Body)
    bool DeleteOnRead = false;   // DELE right after a retrieval
    // The most messages whose TOP and LIST GetSummary keeps sent ahead when the server
    // announces PIPELINING (at most up to MessageCount); 1 or less sends nothing ahead.
    // Fewer are kept in flight where the round trip is short (see Window): on loopback 64.
    // The default is about 50 ms of reading at the component's pace on loopback, enough
    // for replies that come a round trip of up to 50 ms after their commands.
    int Depth = 2048;
    // Bytes one reply may have (status line and line ends included); 0 = no limit.
    long long ReplyLimit = 64LL << 20;
    using TPowersock::OnConnectionRequired;
    using TPowersock::OnPacketRecvd;
    using TPowersock::BytesRecvd;
    using TPowersock::BytesTotal;

    // Published events. OnConnect hides the socket component's event of that name.
    TNotifyEvent OnConnect;
    THandlerEvent OnAuthenticationNeeded;
    THandlerEvent OnAuthenticationFailed;
    TNotifyEvent OnReset;
    TListEvent OnList;
    TNotifyEvent OnRetrieveStart;
    TNotifyEvent OnRetrieveEnd;
    TNotifyEvent OnSuccess;
    TNotifyEvent OnFailure;
    TVarFileNameEvent OnDecodeStart;
    TNotifyEvent OnDecodeEnd;    // never fired

    // Run-time state.
    int MessageCount = 0;        // from STAT at the last login
    // The server's reply (line end removed) that refused USER or PASS in the last Connect;
    // "" when the login was not refused.
    std::string LoginRefusal;
    // The last Connect stopped before the network: UserID or Password was empty and
    // OnAuthenticationNeeded did not fill them.
    bool CredentialsMissing = false;
    // The CAPA answer of this session, one capability line each ("STLS", "SASL PLAIN");
    // empty when the server answered -ERR or nothing. Asked after the greeting and again
    // after STLS.
    std::vector<std::string> Capabilities;
    // Whether a capability's first word is Name (case-insensitive).
    bool HasCapability(std::string_view Name) const;

    // Signing in with an OAuth 2.0 access token (SASL AUTH, RFC 5034) instead of USER/PASS,
    // when AccessToken is set (Password may then be empty). The mechanism is OAUTHBEARER
    // (RFC 7628) when CAPA's SASL line offers it, else XOAUTH2; always in two steps ("AUTH
    // mech", the server's "+", then the base64 response on a line of its own), as some servers
    // refuse a response on the command line. A refused token comes back as an error challenge
    // ("+ " base64 JSON): it is answered (XOAUTH2 an empty line, OAUTHBEARER "AQ==") and the
    // closing -ERR read; Connect then raises "Token refused" and TokenRefusal says why. A token
    // never travels on a connection without TLS: with TlsMode None, Connect raises
    // "Token needs TLS" before the network (TokenNeedsTls). The token is wiped when the
    // connection ends and after a failed Connect, whatever KeepPassword says.
    enum class TSaslMechanism { None, XOAuth2, OAuthBearer };
    std::string AccessToken;
    TSaslMechanism SaslMechanism = TSaslMechanism::None;   // of the last Connect's AUTH
    TTokenRefusal TokenRefusal;                            // of the last Connect
    bool TokenNeedsTls = false;                            // the last Connect stopped for it
    // The response of a mechanism before base64: XOAUTH2 "user=U^Aauth=Bearer T^A^A",
    // OAUTHBEARER "n,a=U,^Ahost=H^Aport=P^Aauth=Bearer T^A^A" (U's "," and "=" escaped).
    static std::string SaslResponse(TSaslMechanism Mechanism, std::string_view User, std::string_view Token,
                                    std::string_view Host, int Port);
    // The "status" member of an error challenge's JSON object ("" when it has none).
    static std::string ChallengeStatus(std::string_view Json);
    TSummary Summary;
    int SummaryNumber = 0;       // the message of Summary, from GetSummaries
    TMailboxListing Listing;     // from GetListing
    TMailMessage MailMessage;

    // An attachment name from a mail reduced to a plain file name ("" when nothing is
    // left): the text after the last "/" or "\" (a Shift-JIS trail byte is no "\"), without
    // control characters and leading dots (so "." and ".." give "").
    static std::string PlainFileName(std::string_view Name);

protected:
    void DetachEvents() override;
    void ConnectionEnded() override;
    // The header reader: from the connection (FromBuffer false) or from RawBody at the line
    // cursor. Header lines go to MailMessage.Header while the part mode is 2.
    void ReadHeader(bool FromBuffer, TMailMessage& Target);
    // Splits a multipart RawBody at its delimiters ("--" Boundary); raises when there is
    // none. Parts past MaxPartFiles written ones stay in Body as text, after a note.
    void ReadParts();
    // Takes lines from RawBody up to the next delimiter into Body or into a part file;
    // true when the closing delimiter was met. A part file that cannot be written leaves a
    // note in Body instead ("could not be written"), and the retrieval goes on.
    bool ReadBody(TMailMessage& Target);

    // What the lines being parsed are: a part for a file, the body text, or the top-level
    // header (the numbers are the part mode's historical values).
    enum TPartMode { PartToFile = 0, PartBodyText = 1, PartTopHeader = 2 };
    // Retrieval state: the part mode, the last attachment name and transfer-encoding text.
    TPartMode FPartMode = PartTopHeader;
    std::string FAttachName;
    std::string FTransferEncoding;

private:
    // Sends Line and returns the reply line (line end included), noted like Transaction's.
    std::string Command(const std::string& Line);
    void Send(const std::string& Line);
    std::string ReadStatus();
    // Reads reply lines through the socket component's ReadLines, handing each (line end
    // included) to Take (bool(std::string_view)) until it returns true; Take must not pump
    // messages. Consumes exactly the bytes of those lines, or with KeepLast all but the last
    // batch, whose size it returns for ConsumeInput.
    // Keep, when given, gets every byte of those lines appended, in order. Raises
    // ConnectionClosedText when the connection ends first, EAbortError "Socket readln
    // aborted" on Abort or time-out, ESockError for a line over 64 KiB or a failed receive
    // (both close the connection first).
    template <class TakeLine>
    int ReadReply(TakeLine&& Take, bool KeepLast = false, std::string* Keep = nullptr);
    // Closes what is left of a connection the server has ended; raises ConnectionClosedText.
    [[noreturn]] void ConnectionClosed();
    // Drops the connection (no QUIT) and raises the ESockError of a reply over ReplyLimit.
    [[noreturn]] void ReplyTooLong();
    // Sends, in one write, TOP n 0 and LIST n for the messages from the one after the last
    // in flight (Msg when none) up to Msg + window - 1 (MessageCount at most, Msg at least),
    // unless more than three quarters of the window are still in flight.
    void SendAhead(int Msg);
    // Without PIPELINING, once a session: LIST of the whole mailbox into FSizes; a refusal
    // or a line that is not "number size" leaves it empty. Raises what Command raises.
    void KeepSizes();
    // FSizes from the size words of a numbered listing ("" for a number not listed).
    void KeepListedSizes(const std::vector<std::string>& Sizes);
    // The kept size of Msg, or -1 when the listing has none for it.
    int KeptSize(int Msg) const;
    // The kept listing and the window belong to one session (DELE and RSET renumber nothing).
    void ForgetSession();
    // The messages to keep in flight: two of the session's shortest command round trips at
    // 40,000 summaries a second, 64 at least (Depth if less) and Depth at most.
    int Window() const;
    // Reads and drops the replies of every command in flight (none when the connection has
    // ended). Raises what ReadReply raises.
    void SettleInFlight();
    // Gives back the room the summary's reply buffers grew to for one large reply.
    void ReleaseLargeBuffers();
    // Sends commands sent ahead, in pieces; a failure drops the connection and what was in
    // flight, and is raised.
    void SendBatch(const std::string& Batch);
    // Sends, in one write, TOP n 0 for the next of Numbers after those in flight, from
    // index First (whose TOP is in flight or sent now) on, the window's way (SendAhead).
    void SendTopsAhead(const std::vector<int>& Numbers, std::size_t First);
    // Reads a TOP reply into FReplyText and FLineLengths, the last batch left unread (its
    // size returned, for ConsumeInput); Refused: its status line refused.
    int ReadTopReply(bool& Refused);
    // Summary's fields from the lines after the status line in FReplyText.
    void TakeSummaryLines();
    // Reads and drops one TOP reply (through its "." unless refused).
    void DropTopReply();
    // Reads the rest of a multi-line listing of "number word" lines into Words by number
    // (Words sized MessageCount); false when a line is malformed (the rest still read).
    bool ReadNumberedListing(std::vector<std::string>& Words, bool (*WordFits)(std::string_view));
    // ReadReply up to and including the "." line of a multi-line reply: Take(Line, Last).
    template <class TakeLine>
    void ReadListing(TakeLine&& Take);
    // One header line for ReadHeader; true when it ends the header.
    bool HeaderLine(std::string_view Line, TMailMessage& Target);
    void ConnectDialogue(bool& LoggedIn);
    // CAPA into Capabilities (emptied first; a refusal leaves it empty); false when refused.
    bool ReadCapabilities();
    // The same from CAPA's status line, already read.
    bool TakeCapabilities(const std::string& Status);
    // The same, keeping the earlier capabilities when refused (Sent: CAPA went out with the
    // listing, its reply comes next); also what GetListing left due.
    void AskCapabilitiesAgain(bool Sent = false);
    // The STLS step of TlsMode StartTls (see Connect).
    void UpgradeConnection();
    // The AUTH exchange with AccessToken (see AccessToken); raises "Token refused".
    void SignInWithToken();

    // The connection check and OnRetrieveStart that begin GetSummary and GetMailMessage.
    void StartRetrieval();
    // Turns the RawBody of a retrieved message into Body and files (ReadParts, ReadBody),
    // under the time-out, pumping as it goes (PumpWhileParsing).
    void ParseMessage();
    // After every stored body line: counts it, fires OnPacketRecvd and pumps now and then.
    void LineStored();
    // Handles the thread's messages when the last time is a few milliseconds back; raises
    // EAbortError "Retrieval aborted" when Abort (or the time-out) came meanwhile.
    void PumpWhileParsing();
    // The rest of RawBody, from the last delimiter read, into Body after the note.
    void KeepRestAsText(TMailMessage& Target);
    // The attachment name of the current part: PlainFileName, or "text.tmp".
    std::string AttachmentName() const;
    // That name, cut to the file system's 255 bytes (extension kept, no character split)
    // and numbered past existing files; remembers the next number for this retrieval.
    std::string FreeAttachmentName();
    // Names, announces and writes the attachment of a finished part file.
    void ExtractPart(const std::string& TempName, TMailMessage& Target);
    // Decodes the part file into Target; false (nothing left of Target) when a file cannot
    // be opened, made or written.
    bool DecodePart(const std::string& TempName, const std::string& Target, bool Uuencoded);
    void NoteUnwritten(const std::string& Name, TMailMessage& Target);
    // The folder of this retrieval's files in FFolder: AttachFilePath, else a private one
    // made now; false when none could be made.
    bool PartFolderReady();
    // A new temporary part file under the next free number (Name), listed in Files; null
    // when none can be made.
    std::unique_ptr<TFileStream> CreatePartFile(std::string& Name);
    // A listed file renamed to To, or removed when To is "".
    void NoteFileMoved(const std::string& From, const std::string& To);

    // The busy flag's test: an operation is running, or a wait of the component is.
    bool Refused() const { return FBusy || InWait(); }

    bool FBusy = false;
    bool FReplyEnded = false;    // the header reader met the "." of the RETR reply
    std::deque<int> FInFlight;   // messages whose TOP and LIST were sent ahead, unread
    std::deque<int> FTopsInFlight;   // messages whose TOP alone was sent ahead (GetSummaries)
    bool FStopSummaries = false;
    int FSummaries = 0;          // GetSummary calls of the session
    bool FSizesAsked = false;    // the session's LIST of the whole mailbox was sent
    bool FCapabilitiesDue = false;   // GetListing's CAPA waits for the next summary
    std::vector<int> FSizes;     // its sizes by message number - 1 (-1: not listed)
    double FRoundTrip = -1;      // the session's shortest command round trip, seconds
    long long FReplyBytes = 0;   // of the reply being read (counted from its command)
    std::string FReplyText;      // the TOP reply of GetSummary (its room is kept up to a size)
    std::vector<std::size_t> FLineLengths;   // of its lines, line ends included
    std::string FAttachFilePath;
    std::string FFolder;   // where the retrieval in progress writes, ending in "/"
    TNMUUProcessor* FCodec = nullptr;
    // Of the retrieval in progress: the next number to try per attachment name, the part
    // files begun, and when the parse last pumped.
    std::unordered_map<std::string, int> FNextNumber;
    int FPartFiles = 0;
    unsigned FLinesSincePump = 0;
    std::chrono::steady_clock::time_point FLastPump;
};
