#pragma once
// TMain: the main window. The account list `Lv1` above, the message list `Lv2` below with
// the filter field and rule button above it and its command buttons below it, the status
// bar `Sb` with the progress bar over panel 2.
//
// The window's geometry and column widths are kept in the settings file; the account list
// lives in the rows of `Lv1` (fields as Shift-JIS bytes, exactly as in "Account.lst"), is
// loaded when the window is first shown and saved after every change and when the window is
// destroyed. Handlers that Qt calls never let an exception escape: it is shown in the
// application's exception box (exceptions from the component's timer and socket handling
// too, while a window exists). Constructing the window runs FormCreate; destroying it runs
// FormDestroy, which ends an open connection with QUIT.
//
// The window owns the POP3 component `NMPOP3`. Every network wait of the component pumps
// messages, so the window's handlers run nested inside a waiting command (the stop button,
// the connect button, the viewer commands, closing). Rules that keep this safe:
//  - while the component waits, no second command is started on it: a listing and the
//    viewer's fetch are refused then (the viewer stays at "受信中"), and the retrieve mode is
//    only set for a request the component takes; a fetched text or header goes to the viewer
//    that asked for it, and is dropped when that viewer has been closed or replaced meanwhile;
//  - releasing the connect button while a command waits cancels it at once when nothing is
//    left to commit; after accepted deletions (or during the delete command or its undo,
//    RSET) the QUIT waits until the command's reply is in (a QUIT must not overtake it), and
//    the command stops there;
//  - while the connect button is down it stays enabled whatever the account selection: it
//    is the only way to end the connection and commit the deletions;
//  - the rows the server accepted to delete leave the list but are kept until QUIT; RSET
//    (undo) or a connection that ends without QUIT brings them back, and the delete command
//    finds each message by its number, so sorting while it waits changes nothing;
//  - closing only hides the window and stops the listing after its current message (and
//    cancels a connection still being made); the owner destroys the window once its
//    handlers have returned (in the program: after the message loop). The window must never
//    be destroyed from inside one of its own handlers.
// TMailboxState (app/MailboxState.h) holds what the workflow is in the middle of, with its
// invariants.
//
// The window's code is split by job: MainWindow.cpp builds and lays out the window and runs
// its life events and shared handlers, MainAccounts.cpp the account list, MainMailbox.cpp the
// mailbox workflow, the component's events and the viewer, MainPasswords.cpp the passwords
// in the keyring (the one-time move, the follow-ups of account commands, the look-up at
// connect), MainTls.cpp the secure connection's settings and failures, MainList.cpp the message
// list's columns, filter and check rules.

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AccountFile.h"
#include "app/Keyring.h"
#include "app/MailboxState.h"

class QAction;

class QLineEdit;
class QMenu;
class QToolButton;
class QProgressBar;
class QPushButton;
class TComponent;
class TListView;
class TMail;
class TMailMessage;
class TNMPOP3;
class TObject;
class TSplitter;
class TStatusBar;
class TStringList;
class TSummary;
struct TPasswordChoice;
struct TWindowSettings;

// The tags the shared handlers tell their senders by; the values are the ones the controls
// have always carried.
enum class TButtonTag : int {
    Connect = 0, List = 1, Stop = 2, CheckAll = 3, UncheckAll = 4, Delete = 5, Undo = 6, AddAccount = 7
};
enum class TMenuTag : int {
    AccountMenu = 10, NewAccount = 11, EditAccount = 12, CopyAccount = 13, DeleteAccount = 14, About = 15,
    MessageMenu = 20, MessageText = 21, MessageHeader = 22, Undo = 23,
    RuleMenu = 30, CheckShown = 31, CheckLarger = 32, CheckOlder = 33, InvertChecks = 34
};
enum class TListTag : int { Accounts = 0, Messages = 1 };

// What the component's next OnRetrieveEnd is for: a row of the listing, the viewer's text,
// the viewer's header.
enum class TRetrieveMode : int { ListRow = 0, MessageText = 1, MessageHeader = 2 };

class TMain : public QWidget {
public:
    TMain();
    ~TMain() override;

    QWidget* Panel1;
    TListView* Lv1;
    QWidget* Panel3;
    QPushButton* SpeedButton1;
    TSplitter* Splitter1;
    QWidget* Panel2;
    QWidget* Panel4;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QPushButton* BitBtn3;
    QPushButton* BitBtn4;
    QPushButton* BitBtn5;
    QPushButton* BitBtn6;          // undo: offered while deletions wait for QUIT
    QLineEdit* FilterEdit;         // shows only the rows whose subject or sender holds its text
    QToolButton* RuleButton;       // checks rows by a rule (menu Pm3)
    QPushButton* AddAccountButton; // inside the empty account list
    TListView* Lv2;
    TStatusBar* Sb;
    QMenu* Pm1;
    QAction* Pm1_1;
    QAction* Pm1_2;
    QAction* Pm1_3;
    QAction* Pm1_4;
    QAction* Pm1_5;   // the About box
    QMenu* Pm2;
    QAction* Pm2_1;
    QAction* Pm2_2;
    QAction* Pm2_3;
    QMenu* Pm3;
    QAction* Pm3_1;
    QAction* Pm3_2;
    QAction* Pm3_3;
    QAction* Pm3_4;
    // The POP3 component, owned by the window for its whole life.
    TNMPOP3* NMPOP3;
    // Where the accounts' passwords with an empty field live. Its calls wait in the pump, so
    // handlers run nested in every command that uses it.
    TKeyring Keyring;

    void FormCreate();
    void FormShow();
    void FormClose();
    void FormDestroy();
    // Shared handlers; the sender's tag tells the command.
    void ButtonClick(QObject* Sender);
    void MenuItemClick(QObject* Sender);
    void ListViewDblClick(QObject* Sender);
    void ListViewSelectItem(QObject* Sender, bool Selected);
    // Handlers of the component's events.
    void NMPOP3Connect(TObject* Sender);
    void NMPOP3Disconnect(TObject* Sender);
    void NMPOP3ConnectionFailed(TObject* Sender);
    void NMPOP3RetrieveEnd(TObject* Sender);
    void NMPOP3Success(TObject* Sender);
    void NMPOP3DecodeStart(std::string& FileName);

    // Appends an unchecked row to the message list: subject and sender as UTF-8 text to show,
    // the size in bytes, the message number on the server as the row's data, the date
    // (seconds since the epoch) when the header had one. The filter applies to it at once.
    int AddMessageRow(const std::string& subject, const std::string& from, long long bytes, int msgNo,
                      std::optional<long long> date = std::nullopt);
    // Why the last Connect failed, in Japanese, from the component's state; "" when it
    // cannot tell.
    std::string ConnectFailureReason() const;

    int Panel1Height() const { return FPanel1Height; }
    void SetPanel1Height(int height);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Building, in the order the controls are made.
    void BuildAccountPanel();
    void BuildMessagePanel();
    void BuildFilterBar();
    void SetMessageColumnFormats();
    void BuildStatusBar();
    void BuildMenus();
    void BuildComponent();
    void ConnectHandlers();

    TWindowSettings CurrentWindowSettings() const;
    void LoadWindowSettings();
    void SaveWindowSettings();
    void CreateProgressBar(int panelIndex);

    // Account list.
    void LoadAccounts(TListView* items);
    void SaveAccounts(TListView* items);
    TAccountFields AccountRow(int row) const;
    void SetAccountRow(int row, const TAccountFields& fields);
    // Shows the account dialog over the exchange list; true when it closed with OK.
    bool ExecAccountDialog(TStringList& fields, TPasswordChoice& password);
    void NewAccount();
    void EditAccount();
    void CopyAccount();
    void DeleteAccount();

    // Passwords in the keyring.
    // Once, when a keyring answers and the list holds plain-text passwords: offers to move them
    // (all but the demo account's, which the settings file names).
    void OfferKeyringMove();
    // The row's icon and tooltip tell where its password is.
    void ShowPasswordPlace(int row);
    // Another row than `row` uses the keyring entry of `account`.
    bool EntryShared(const TAccountFields& account, int row) const;
    // Keeps the keyring in step after a new or edited account; may put a password the
    // keyring did not take into `after`, when the user agrees.
    void FollowInKeyring(const std::optional<TAccountFields>& before, TAccountFields& after,
                         const TPasswordChoice& choice, int row);
    void ForgetInKeyring(const TAccountFields& account);
    // The password to connect with: the field, else the keyring, else asked. False when the
    // user cancelled. The row is told by its fields, which the waits may have changed.
    // `kept`: the account keeps the password (file or keyring), so it may outlive the connection.
    bool AccountPassword(const TAccountFields& account, std::string& password, bool& kept);

    // Secure connections (MainTls.cpp).
    // The component's TLS mode from the account, and the fingerprint trusted for its server.
    void PrepareTls(const TAccountFields& account);
    // After a secure Connect: the server is noted in "Trusted.lst" as one the system vouched
    // for (unless it is there already), for the stronger warning if that ever changes.
    void RememberVerifiedServer(const TAccountFields& account);
    // After a failed Connect: false when the secure connection was not the reason; else it
    // has shown why, or asked whether to trust the server's certificate (`trusted`: saved so).
    bool ReportTlsFailure(const TAccountFields& account, bool& trusted);

    // Mailbox.
    bool Connected() const;
    // The component is running a command further down the stack (or the connection is
    // being ended): it must not be given another one now.
    bool ComponentWaiting() const;
    void ConnectButtonClick();
    void RetrieveMessageList(TListView* items);
    void EndDialogue();
    // Runs an end of the connection that had to wait for a command, once that is done.
    void FinishPendingEnd();
    void SetAllChecked(bool checked);
    void DeleteCheckedMessages();
    void DeleteMailMessage(int msgNo);
    void MarkMessageDeleted(int row);
    // Rows marked deleted leave the list; RestoreDeletedRows brings them back (after RSET, or
    // when the connection ended without QUIT) at their place.
    void RemoveMarkedRows();
    void RestoreDeletedRows();
    // RSET: every deletion of this connection is undone.
    void UndoDeletions();
    int RowOfMessage(int msgNo) const;
    // Panel 1: the messages left on the server once the marked ones go.
    void ShowMessageCount();
    void UpdateUndo();
    void SetCommandButtonsEnabled(bool enabled);

    // Viewer.
    void OpenViewer();
    std::optional<int> StartViewerFetch(TRetrieveMode mode);
    void ViewMessageText();
    void ViewMessageHeader();
    void TakePartFiles(const TMailMessage& message);
    void ShowMessageText(TMail* viewer, const TMailMessage& message);
    void ShowMessageHeader(TMail* viewer, const TSummary& summary);
    // Caption, text ("\n" between lines) and sender of a viewer, UTF-8 (app/ShownText.h).
    void FillViewer(TMail* viewer, const std::string& caption, const std::string& text,
                    const std::string& sender) const;

    // Message list: filter and check rules (MainList.cpp).
    bool RowMatchesFilter(int row) const;
    void ApplyFilter();
    void CheckShownRows();
    void CheckLargerRows();
    void CheckOlderRows();
    void InvertChecks();
    // The rule's value, asked in a small dialog; none when cancelled.
    std::optional<double> AskMegabytes();
    std::optional<long long> AskDate();
    void UpdateAccountHint();

    void Realign();
    QSize FirstStartSize() const;
    void Bind(QPushButton* button);
    void Bind(QAction* action);
    // The boundary of every handler that Qt or the component calls: shows what escapes, then
    // serves an end of the connection that had to wait.
    void Handle(const std::function<void()>& handler);

    QProgressBar* FProgressBar = nullptr;
    bool FStopRequested = false;
    TRetrieveMode FRetrieveMode = TRetrieveMode::ListRow;

    std::unique_ptr<TComponent> FComponents;   // owner of NMPOP3
    TMailboxState FState;
    int FListingMsgNo = 0;        // the message whose summary the listing fetches
    int FDeletingMsgNo = 0;       // the message the delete command asks for
    // The rows the server accepted to delete, as they were, until QUIT makes it final.
    struct TDeletedRow {
        std::vector<std::string> Texts;   // caption and sub-items as shown, UTF-8
        bool Checked = false;
        int MsgNo = 0;
    };
    std::vector<TDeletedRow> FDeletedRows;
    QPointer<TMail> FRetrieveViewer;   // the viewer the running fetch is for

    int FPanel1Height = 74;
    // "Account.lst" existed but could not be read: it is never overwritten by a list that lacks it.
    bool FAccountFileUnread = false;
};

extern TMain* Main;
