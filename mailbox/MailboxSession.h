#pragma once
// TMailboxSession: one account's mailbox on its POP3 server, without a window. It owns the
// POP3 component and the message store of the session, and runs the workflow a person (or a
// command line) drives: Connect (the password from the credentials, the certificate question
// through a hook), List (every message's header and size into the store; Stop ends it after
// the message being fetched), Delete (of given message numbers; the confirmation is the
// caller's), Undo (RSET), End (QUIT, which commits the deletions), and the fetches of one
// message's text and header for a viewer. The session never shows anything: it reports
// through events and answers with enums, and asks its owner through hooks.
//
// Listing. After the login the session lists the whole mailbox with UIDL and LIST (together,
// and with CAPA asked again, when the server announces PIPELINING; without it CAPA waits for
// the first TOP, so the rows cost no round trip for it): every message gets its record at
// once, with its size, and with its header when the mailbox's header cache (HeaderCache.h,
// in CacheFolder()) holds its UIDL at that size. Then TOP n 0 fills in the others, in the
// pipelined window where allowed, and each header goes into the cache as it comes; entries
// the server no longer lists are dropped from the file. A server that lists no UIDL, or
// repeats one, gets no cache (its file is removed) and the same listing without it; one
// whose LIST fails gets today's listing, a record per summary (TOP n 0, LIST n). A record
// is always this session's message number as this session's listing gave it, so a deletion
// asks for exactly the message the row shows.
//
// Waiting. Every network wait pumps the thread's messages (see net/Psock.h), so the owner's
// handlers run nested inside a running command. State() says what runs; while one runs
// (Waiting()), a second command is refused: it returns at once and does nothing (a fetch
// says Busy). End may come at any time:
//  - while the connection is made it cancels it (Connect fails: Canceled, or Withdrawn when
//    nothing was sent yet);
//  - while a command runs and nothing waits to be committed, it cancels the command at once
//    (Abort: the connection drops without QUIT);
//  - while a command runs and the server has accepted deletions (or the delete command
//    runs), a QUIT must not overtake the command's reply: the end waits (EndPending), the
//    command stops after that reply (a listing after the message in hand, the delete command
//    before asking for the next message) and the session then ends itself with QUIT.
// A command that ends with the connection gone leaves the session Idle.
//
// Deletions. An accepted DELE marks the message's record Deleted (the store keeps it); RSET
// and a connection lost without QUIT (the server keeps the messages then, RFC 1939) bring
// the records of this connection back, and OnDisconnect says so. After QUIT the marks stay
// until the next listing clears the store.
//
// Failures. Connect answers false and leaves the reason in Failure(). List and FetchText
// never raise (a message whose summary fails gets no record; a failed fetch delivers what the
// component holds, or nothing). Delete, Undo and FetchHeader raise what the component raises:
// Exception with the server's refusing reply line, "Not Connected", ESockError /
// EAbortError for a connection that broke or timed out. End and Abort never raise.
//
// Events (std::function members, tested before each call) fire inside the command that
// causes them, on the session's thread; a handler must not destroy the session. Deleting the
// session drops an open connection without QUIT (call End first to commit); it must not be
// deleted from inside one of its own commands. One thread, with a QCoreApplication (the
// waits run its event dispatcher).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mailbox/AccountFile.h"
#include "mailbox/Credentials.h"
#include "mailbox/MessageStore.h"
#include "net/TlsMode.h"

class TComponent;
class TNMPOP3;
struct TTokenRefusal;
class THeaderCache;
struct TCacheEntry;
enum class TCacheState;
struct TMailboxListing;

// What the session is in the middle of.
enum class TSessionState {
    Idle,         // no connection
    Connecting,   // Connect runs (the password look-up included)
    Connected,    // online, no command runs
    Listing,
    Deleting,
    Undoing,      // RSET
    Fetching,     // a message's text or header for a viewer
    Ending,       // the QUIT of End
};

// Why the last Connect failed.
enum class TConnectFailure {
    None,
    Busy,            // a connection was open or being made: nothing was tried
    NoPassword,      // no credential: none was found, or the person declined to give one
    CredentialsMissing,   // the account's ID or the password given is empty: nothing was sent
    Withdrawn,       // End or Abort came before the connection was tried
    HostNotFound,    // the server's name was not found
    Refused,         // the server refused the TCP connection
    TimedOut,        // no TCP connection within the time-out
    Canceled,        // End or Abort while the connection was being made
    NoAnswer,        // connected, then the server fell silent until the time-out
    LoginRefused,    // the server refused USER or PASS: LoginRefusal() holds its reply
    TokenRefused,    // the server refused the OAuth token, also once refreshed: TokenRefusal()
    TokenNeedsTls,   // an OAuth account without SSL/TLS or STARTTLS: nothing was asked or sent
    Tls,             // the secure connection failed (TlsProblem() says why), no question to ask
    Untrusted,       // a certificate the system does not vouch for, not trusted by the owner
    TrustNotSaved,   // trusted by the owner, but "Trusted.lst" could not be saved
    Other,           // the greeting or the count refused, or a dialogue that broke otherwise
};

// The question whether to trust a certificate the system does not vouch for, for a server.
struct TTrustQuestion {
    std::string Host;
    std::string Port;
    TTlsProblem Problem = TTlsProblem::None;
    std::vector<TTlsProblem> Problems;   // every problem of the certificate, Problem among them
    std::string Certificate;   // DER bytes
    std::string Fingerprint;   // SHA-256 of the DER, lowercase hex
    // Another certificate was trusted for this server before, by the owner or (seen in a
    // secure connection) by the system: someone may be in between.
    bool Changed = false;
};

// A message's text as fetched for a viewer. Texts UTF-8.
struct TFetchedText {
    enum class TResult {
        Delivered,      // the component delivered its record (empty when the server refused)
        NotConnected,
        Busy,           // another command runs: nothing was asked
        Failed,         // refused before the retrieval began
    };
    TResult Result = TResult::Failed;
    std::string Subject;
    std::string From;
    std::string Text;
    // The files the retrieval left on disk (folder and name), and the private folder made for
    // them ("" when none was); the caller owns both and removes them when done
    // (partfolder::RemovePartFiles).
    std::string PartFolder;
    std::vector<std::string> PartFiles;
};

// A message's header as fetched for a viewer: every line decoded on its own. Texts UTF-8.
struct TFetchedHeader {
    std::string Subject;
    std::string From;
    std::string Text;   // the lines joined by "\n"
};

class TMailboxSession {
public:
    // `credentials` is borrowed for the session's life.
    explicit TMailboxSession(TCredentialSource& credentials);
    ~TMailboxSession();
    TMailboxSession(const TMailboxSession&) = delete;
    TMailboxSession& operator=(const TMailboxSession&) = delete;

    TSessionState State() const { return FState; }
    bool Connected() const;
    // A command runs further down the stack, or the connection is being ended: no other
    // command may start now.
    bool Waiting() const;
    // The count of the last login; the deletions the server accepted since then (or since
    // the last RSET) that wait for QUIT; an end that waits for the running command.
    int MessageCount() const;
    int DeletedCount() const { return FDeletedCount; }
    bool EndPending() const { return FEndPending; }

    // The account of the last Connect, as it was given.
    const TAccountFields& Account() const { return FAccount; }
    TMessageStore& Store() { return FStore; }
    const TMessageStore& Store() const { return FStore; }
    // The component, for what the owner sets or shows of it (never to run a command past
    // the session).
    TNMPOP3& Pop3() { return *FPop; }
    const TNMPOP3& Pop3() const { return *FPop; }

    // Connects to the account (fields as in "Account.lst"): the password (or for an OAuth
    // account the access token, renewed once when the server refuses it) from the
    // credentials, time-out and port read from the account's text (30 s and 110 for text
    // that is no positive number), TLS as its security says with the certificates trusted
    // in "Trusted.lst". A certificate the system does not vouch for goes to
    // OnTrustCertificate; trusted, it is saved and the connection is tried again. A server
    // that proved itself through the system's trust store is noted in "Trusted.lst" (for the
    // stronger warning should that change). A password the account keeps nowhere leaves with
    // the connection. True once logged in with the count known.
    bool Connect(const TAccountFields& account);
    TConnectFailure Failure() const { return FFailure; }
    // After a Tls or Untrusted failure: the component's reason. After LoginRefused: the
    // server's reply, line end removed.
    TTlsProblem TlsProblem() const;
    std::string LoginRefusal() const;
    // After TokenRefused: the error challenge's status ("" without one) and the server's reply.
    const TTokenRefusal& TokenRefusal() const;

    // Clears the store and lists the mailbox (see above) until the end, Stop, or the
    // connection's loss; after a listing that stopped, the next one on the same connection
    // goes on where it stopped (the headers still missing) instead.
    void List();
    // Ends a running listing after the message being fetched; nothing else.
    void Stop();
    // The last listing went through every message: neither stopped nor cut off.
    bool ListComplete() const { return FListComplete; }
    // Asks the server to delete the messages of these numbers, in order; numbers without a
    // record, or already deleted, are passed over. Returns how many the server accepted.
    // During a listing (from a handler inside it) the numbers are kept instead and 0 is
    // returned: the listing stops after the message in hand, the deletions run (events as
    // ever; a refusal ends them with OnDeleteFailed), and the listing goes on unless Stop or
    // End came meanwhile.
    int Delete(const std::vector<int>& numbers);
    // RSET: the server forgets this connection's deletions, and the records come back.
    // Nothing when no deletion waits.
    void Undo();
    // Ends the connection: QUIT, then the socket is closed whatever happened (see Waiting
    // above for an end during a command).
    void End();
    // Cancels any wait at once and drops the connection without QUIT.
    void Abort();
    // The last End sent QUIT and the server answered +OK: the deletions it committed are
    // final. False after an end without QUIT (the connection was gone, or a command was
    // cancelled) or whose QUIT failed, and from the next Connect on.
    bool QuitConfirmed() const { return FQuitConfirmed; }

    TFetchedText FetchText(int number);
    // None when not connected or busy (nothing asked).
    std::optional<TFetchedHeader> FetchHeader(int number);

    // Logged in, the count known (also when the count is then refused and Connect fails).
    std::function<void()> OnConnect;
    // The connection closed; `deletionsKept`: it ended without QUIT while deletions waited,
    // so the server keeps those messages (their records are back).
    std::function<void(bool deletionsKept)> OnDisconnect;
    // The TCP connection could not be made (not for TLS reasons), before Connect fails.
    std::function<void()> OnConnectionFailed;
    // During a listing: how many records have their header, of how many the listing has;
    // first once the records are there, then after each header that arrives.
    std::function<void(int done, int total)> OnListProgress;
    // Before each DELE, and after it returned (accepted or not: a refusal raises instead).
    std::function<void(int number)> OnDeleteStart;
    std::function<void(int number, bool accepted)> OnDeleteEnd;
    // A deletion asked for during a listing failed (the rest were not asked for): the text
    // of what Delete would have raised (the server's refusing reply line, or the failure).
    std::function<void(int number, const std::string& text)> OnDeleteFailed;
    // Whether to trust the certificate for the server; no hook: not trusted.
    std::function<bool(const TTrustQuestion&)> OnTrustCertificate;

private:
    // What the component's next OnRetrieveEnd is for.
    enum class TRetrieve { ListRow, Text, Header };

    template <class F>
    void RunCommand(TSessionState state, F&& command);
    void FinishCommand();
    void BindComponent();
    void Configure(const TAccountFields& account, bool keepPassword);
    void UseCredential(const TCredential& credential);
    bool RenewToken(const TAccountFields& account, TCredential& credential, bool& renewed);
    void RememberVerifiedServer(const TAccountFields& account);
    void PrepareTls(const TAccountFields& account);
    // After a failed Connect attempt: true to try again (the certificate is now trusted).
    bool ReadFailure(const TAccountFields& account);
    bool AskTrust(const TAccountFields& account);
    void RetrieveEnd();
    // The listing (MailboxListing.cpp).
    void RunListing();
    void ListAnew();
    bool ListingDone() const;
    void ListOneByOne(int from);
    static bool UidlsUsable(bool uidls, const std::vector<TMessageRecord>& records);
    // Fills the records from the loaded cache, which this listing then appends to.
    void UseCache(std::unique_ptr<THeaderCache> cache, TCacheState state, std::vector<TMessageRecord>& records);
    // The mailbox's name in its cache file, and the file (HeaderCache.h).
    std::string CacheKey() const;
    std::string CacheFileName() const;
    void FetchMissingHeaders();
    void HeaderArrived();
    void CompactCache();
    TCacheEntry CacheEntryOf(int row) const;   // the record's entry in the cache
    void RunQueuedDeletions();
    void DeleteEach(const std::vector<int>& numbers, int& accepted);
    void ReportProgress();
    void Deleted();
    void Disconnected();
    void RestoreDeleted();

    std::unique_ptr<TComponent> FOwner;   // owns FPop
    TNMPOP3* FPop = nullptr;
    TCredentialSource& FCredentials;
    TAccountFields FAccount;
    TMessageStore FStore;
    TSessionState FState = TSessionState::Idle;
    TConnectFailure FFailure = TConnectFailure::None;
    TRetrieve FRetrieve = TRetrieve::ListRow;
    bool FStopRequested = false;
    bool FListComplete = false;
    bool FCanceled = false;        // End or Abort while connecting
    bool FEndPending = false;
    bool FQuitConfirmed = false;
    int FDeletedCount = 0;
    std::vector<int> FDeletedNumbers;   // accepted this connection, in order
    int FListingNumber = 0;        // the message whose summary the listing fetches
    // This connection's listing filled the store: a later List goes on from there (in
    // today's listing, from FNextNumber).
    bool FListed = false;
    bool FOneByOne = false;
    int FNextNumber = 0;
    std::vector<int> FQueuedDeletions;   // asked for during the listing
    std::unique_ptr<THeaderCache> FCache;   // this connection's, when its listing has one
    std::vector<long long> FFirstSeen;   // by row: when the cache first saw the message
    bool FCacheDead = false;        // the file holds entries no longer listed, or replaced
    int FHeadersDone = 0;           // records whose header came (or was refused) this listing
    int FDeletingNumber = 0;       // the message the delete command asks for
    bool FAccepted = false;        // the last DELE was accepted
    std::optional<TFetchedText> FText;
    std::optional<TFetchedHeader> FHeader;
};
