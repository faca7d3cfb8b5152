#pragma once
// TAccountsCheck: every account at a glance. Connects to each account in turn with a session
// of its own, lists its mailbox, notes what it holds (messages, total size, how many are new
// since the last look, the sender who takes the most room) and ends with QUIT, deleting
// nothing. A failing account never stops the others: its summary says why and the next one
// is tried.
//
// One connection at a time, so never two to one server from here. A server that another
// connection of the program uses (the ServerInUse hook says so) is put back to be tried after
// the others, once; still in use then, its account fails with InUse.
//
// Run waits in the session's pump (see MailboxSession.h), so the owner's handlers run nested
// inside it; Stop, from one of them, ends the account being checked (a listing after its
// current message, a connection being made at once) and leaves the rest Stopped. Each
// complete listing is remembered as the account's last look in LooksFile (LastLook.h) when
// that is set. Events fire inside Run; a handler must not destroy the check. Nothing raised
// but std::bad_alloc.

#include <functional>
#include <string>
#include <vector>

#include "mailbox/MailboxSession.h"
#include "mailbox/SenderGrouping.h"

struct TAccountSummary {
    enum class TState { Waiting, Checking, Done, Failed, Stopped };
    TState State = TState::Waiting;
    int Messages = 0;
    long long Size = 0;
    int New = -1;                       // since the last look; -1 when none is remembered
    TSenderGroup LargestSender;         // Count 0 when the mailbox is empty
    // Failed: why the connection failed (None when it broke during the listing), the
    // server's reply to a refused login, the secure connection's problem.
    TConnectFailure Failure = TConnectFailure::None;
    std::string LoginRefusal;
    TTlsProblem TlsProblem = TTlsProblem::None;
    bool InUse = false;                 // another connection to its server stayed open
};

class TAccountsCheck {
public:
    // `credentials` is borrowed for the check's life.
    explicit TAccountsCheck(TCredentialSource& credentials) : FSession(credentials) {}

    TMailboxSession& Session() { return FSession; }
    bool Running() const { return FRunning; }
    const std::vector<TAccountFields>& Accounts() const { return FAccounts; }
    const std::vector<TAccountSummary>& Summaries() const { return FSummaries; }

    // Checks the accounts, in their order; returns when every one is done or Stop came.
    // Refused (nothing done) while a check runs.
    void Run(const std::vector<TAccountFields>& accounts);
    void Stop();

    std::string LooksFile;
    // Whether another connection of the program is open to the account's server.
    std::function<bool(const TAccountFields&)> ServerInUse;
    // A summary changed (its state, or its figures).
    std::function<void(int index)> OnChanged;

private:
    void Check(int index);
    void Summarize(int index);
    void Changed(int index);

    TMailboxSession FSession;
    std::vector<TAccountFields> FAccounts;
    std::vector<TAccountSummary> FSummaries;
    bool FRunning = false;
    bool FStopRequested = false;
};
