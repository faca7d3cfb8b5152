#pragma once
// TMailboxCommands: the main window's mailbox workflow over its session (TMain::Session):
// the connect button, the listing with its progress bar and the stop button, the delete
// command with its question, undo, ending the connection; and the session's events shown in
// the status bar, on the command buttons and in message boxes.
//
// Every command may wait in the component's pump, so other handlers run nested inside it;
// the session refuses what may not run then. While the window is closing (Close .. Show)
// nothing is reported in a message box and a listing stops after its current message.
// Lives as long as the window's controls; binds the session's events for that time.

#include <QElapsedTimer>
#include <string>

#include "mailbox/MailboxSession.h"

class TMain;

class TMailboxCommands {
public:
    explicit TMailboxCommands(TMain& window);
    ~TMailboxCommands();
    TMailboxCommands(const TMailboxCommands&) = delete;
    TMailboxCommands& operator=(const TMailboxCommands&) = delete;

    // The connect button has already toggled. Released: end the connection. Pressed: connect
    // to the selected account and list its mailbox.
    void ConnectButtonClick();
    // Lists the mailbox anew into the message list; needs an open connection that no other
    // command is using.
    void RetrieveMessageList();
    // Asks, naming how many messages go and their total size, then asks the server to delete
    // each checked message; a refusal raises the server's reply to the handler boundary.
    void DeleteCheckedMessages();
    // RSET; a refusal raises the server's reply.
    void UndoDeletions();
    // Undo is offered only while deletions wait for QUIT on an open connection.
    void UpdateUndo();

    void Close();
    void Show() { FClosing = false; }
    bool Closing() const { return FClosing; }
    // The window goes: an open connection ends with QUIT, or is dropped when a command
    // still waits (the window is never destroyed so by the program itself).
    void Destroy();

private:
    void ShowConnectFailure();
    void ShowMessageCount();
    void SetCommandButtonsEnabled(bool enabled);
    // The session's events.
    void Connected();
    void Disconnected(bool deletionsKept);
    void ConnectionFailed();
    void ListProgress(int done);
    void DeleteStart(int number);
    void DeleteEnd(bool accepted);

    TMain& W;
    bool FClosing = false;
    QElapsedTimer FSinceShown;   // since the listing last showed its progress
};

// Why the session's last connection failed, in Japanese, for the text after
// "接続できませんでした。"; "" when the failure tells no more.
std::string ConnectFailureReason(const TMailboxSession& session);
// The same for a failure kept apart from its session: the account it was for and the
// server's reply to a refused login (or token, TokenRefusalText).
std::string ConnectFailureReason(TConnectFailure failure, const TAccountFields& account, const std::string& loginRefusal);
std::string TokenRefusalText(const TTokenRefusal& refusal);
