#pragma once
// TMailboxState: what the main window's mailbox workflow is in the middle of. Every network
// wait of the POP3 component pumps messages, so the window's handlers run nested inside a
// waiting command; they decide by this state whether they may start, end or report anything.
// The transitions below are its only writers.
//
// Invariants:
//  - Connecting, Ending, Deleting and Undoing each hold exactly while that call is further
//    down the stack: Connect (BeginConnect .. EndConnect), the QUIT of ending the connection
//    (BeginEnd .. EndEnd), the delete command (the TDeleting scope), its undo by RSET (the
//    TUndoing scope; the component is not busy during RSET, so the window must know).
//  - DeletedCount counts the deletions the server accepted since the connection was made;
//    a new connection, an accepted RSET and a connection lost without QUIT (the server
//    keeps the messages then) set it back to 0: DeletionsUndone. While it is above 0, or
//    while Deleting, ending the connection must send QUIT (which commits them) rather than
//    cancel: MustCommit.
//  - EndPending holds from the moment ending the connection had to wait for a running
//    command with something to commit (DeferEnd) until that end is run (PendingEndRuns) or a
//    new connection starts. While it holds, the delete command asks for no further message.
//  - Closing holds from the window's close until it is shown again: nothing is reported in
//    a message box then, and a listing stops.

class TMailboxState {
public:
    bool Connecting() const { return FConnecting; }
    bool Ending() const { return FEnding; }
    bool EndPending() const { return FEndPending; }
    bool Deleting() const { return FDeleting; }
    bool Undoing() const { return FUndoing; }
    bool Closing() const { return FClosing; }
    int DeletedCount() const { return FDeletedCount; }
    bool MustCommit() const { return FDeletedCount > 0 || FDeleting; }

    // A new connection: nothing accepted, nothing pending.
    void BeginConnect()
    {
        FDeletedCount = 0;
        FEndPending = false;
        FConnecting = true;
    }
    void EndConnect() { FConnecting = false; }

    void BeginEnd() { FEnding = true; }
    void EndEnd() { FEnding = false; }
    void DeferEnd() { FEndPending = true; }
    // The end that waited is run now.
    void PendingEndRuns() { FEndPending = false; }

    // A flag of the state set for the life of the scope, on every way out of it.
    class TFlagScope {
    public:
        explicit TFlagScope(bool& flag) : FFlag(flag) { FFlag = true; }
        ~TFlagScope() { FFlag = false; }
        TFlagScope(const TFlagScope&) = delete;
        TFlagScope& operator=(const TFlagScope&) = delete;

    private:
        bool& FFlag;
    };
    struct TDeleting : TFlagScope {
        explicit TDeleting(TMailboxState& state) : TFlagScope(state.FDeleting) {}
    };
    struct TUndoing : TFlagScope {
        explicit TUndoing(TMailboxState& state) : TFlagScope(state.FUndoing) {}
    };
    void DeletionAccepted() { ++FDeletedCount; }
    void DeletionsUndone() { FDeletedCount = 0; }

    void Close() { FClosing = true; }
    void Show() { FClosing = false; }

private:
    bool FConnecting = false;
    bool FEnding = false;
    bool FEndPending = false;
    bool FDeleting = false;
    bool FUndoing = false;
    bool FClosing = false;
    int FDeletedCount = 0;
};
