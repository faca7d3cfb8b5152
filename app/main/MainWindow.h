#pragma once
// TMain: the main window. The account list `Lv1` above, the message list `Lv2` below with
// the filter field and rule button above it and its command buttons below it, the status
// bar `Sb` with the progress bar over panel 2.
//
// The window builds and lays out its controls, keeps its geometry and column widths in the
// settings file, runs its life events and dispatches the shared handlers by the sender's tag
// to the parts that do the work:
//  - TAccountCommands (app/accounts): the account list, its file and its commands;
//  - TPasswordHandling (app/accounts): the passwords in the keyring and the prompt at connect;
//  - TCertificateQuestion (app/accounts): the secure connection's failures and questions;
//  - TMailboxCommands (app/mailboxview): the mailbox workflow over `Session`;
//  - TViewerCommands (app/viewer): the viewer's fetches;
//  - TSenderPanel and TRuleCommands (app/mailboxview): who fills the mailbox, above the
//    message list (shown by the button "送信者別"), and the rules that check messages;
//  - TAccountsCheckView (app/accounts): every account at a glance ("全アカウントを確認").
// The mailbox itself is `Session` (mailbox/MailboxSession.h), which owns the POP3 component
// and the message store; `Lv2` is a view of that store (TMessageModel under TMessageFilter).
//
// Handlers that Qt calls never let an exception escape: it is shown in the application's
// exception box (exceptions from the component's timer and socket handling too, while a
// window exists). Constructing the window runs FormCreate; destroying it runs FormDestroy,
// which ends an open connection with QUIT.
//
// Every network wait of the component pumps messages, so the window's handlers run nested
// inside a waiting command (the stop button, the connect button, the viewer commands,
// closing). The session refuses a second command meanwhile and defers an end that must not
// overtake a reply (see MailboxSession.h); while the connect button is down it stays enabled
// whatever the account selection: it is the only way to end the connection and commit the
// deletions. Closing only hides the window and stops the listing after its current message
// (and cancels a connection still being made); the owner destroys the window once its
// handlers have returned (in the program: after the message loop). The window must never
// be destroyed from inside one of its own handlers.

#include <QWidget>
#include <functional>
#include <memory>

#include "mailbox/Credentials.h"
#include "mailbox/Keyring.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/OAuthClient.h"
#include "mailbox/SenderGrouping.h"

class QAction;
class QLineEdit;
class QMenu;
class QToolButton;
class QProgressBar;
class QPushButton;
class TAccountCommands;
class TAccountsCheckView;
class TRuleCommands;
class TSenderPanel;
class TCertificateQuestion;
class TListView;
class TMailboxCommands;
class TMessageFilter;
class TMessageModel;
class TMessageView;
class TNMPOP3;
class TPasswordHandling;
class TSignInHandling;
class TSplitter;
class TStatusBar;
class TViewerCommands;
struct TWindowSettings;

// The tags the shared handlers tell their senders by; the values are the ones the controls
// have always carried.
enum class TButtonTag : int {
    Connect = 0, List = 1, Stop = 2, CheckAll = 3, UncheckAll = 4, Delete = 5, Undo = 6, AddAccount = 7
};
enum class TMenuTag : int {
    AccountMenu = 10, NewAccount = 11, EditAccount = 12, CopyAccount = 13, DeleteAccount = 14, About = 15,
    CheckAllAccounts = 16,
    MessageMenu = 20, MessageText = 21, MessageHeader = 22, Undo = 23,
    RuleMenu = 30, CheckShown = 31, CheckLarger = 32, CheckOlder = 33, InvertChecks = 34, Rules = 35
};
enum class TListTag : int { Accounts = 0, Messages = 1 };

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
    QToolButton* SenderButton;     // shows or hides SenderPanel
    TSenderPanel* SenderPanel;     // who fills the mailbox, above the message list
    QPushButton* AddAccountButton; // inside the empty account list
    TMessageView* Lv2;
    TStatusBar* Sb;
    QMenu* Pm1;
    QAction* Pm1_1;
    QAction* Pm1_2;
    QAction* Pm1_3;
    QAction* Pm1_4;
    QAction* Pm1_5;   // the About box
    QAction* Pm1_6;   // every account at a glance
    QMenu* Pm2;
    QAction* Pm2_1;
    QAction* Pm2_2;
    QAction* Pm2_3;
    QMenu* Pm3;
    QAction* Pm3_1;
    QAction* Pm3_2;
    QAction* Pm3_3;
    QAction* Pm3_4;
    QAction* Pm3_5;   // the rules dialog

    // Where the accounts' passwords with an empty field live. Its calls wait in the pump, so
    // handlers run nested in every command that uses it.
    TKeyring Keyring;
    // The password of an account: its field, the keyring, else the prompt (TPasswordHandling).
    TPasswordLookup Passwords{&Keyring};
    // The OAuth 2.0 sign-ins of the accounts that have one (TSignInHandling opens the browser),
    // their refresh tokens in the keyring.
    TOAuthClient SignIns{&Keyring};
    // Each account's credentials from the source of its kind.
    TAccountCredentials Credentials{Passwords, SignIns};
    // The mailbox of the connected account, for the window's whole life.
    TMailboxSession Session{Credentials};
    // The session's POP3 component.
    TNMPOP3* NMPOP3;
    // The grouping by sender and the message list's models, over Session's store (the
    // grouping first: the filter asks it about rows the model reports changed).
    std::unique_ptr<TSenderGrouping> Grouping;
    std::unique_ptr<TMessageModel> Model;
    std::unique_ptr<TMessageFilter> Filter;

    std::unique_ptr<TAccountCommands> Accounts;
    std::unique_ptr<TPasswordHandling> PasswordHandling;
    std::unique_ptr<TSignInHandling> SignInHandling;
    std::unique_ptr<TCertificateQuestion> Certificates;
    std::unique_ptr<TMailboxCommands> Mailbox;
    std::unique_ptr<TViewerCommands> Viewers;
    std::unique_ptr<TRuleCommands> Rules;
    // Made when first asked for; closed (and its check stopped) when the window closes.
    TAccountsCheckView* AccountsCheck = nullptr;

    void FormCreate();
    void FormShow();
    void FormClose();
    void FormDestroy();
    // Shared handlers; the sender's tag tells the command.
    void ButtonClick(QObject* Sender);
    void MenuItemClick(QObject* Sender);
    void ListViewDblClick(QObject* Sender);
    void ListViewSelectItem(QObject* Sender, bool Selected);

    QProgressBar* ProgressBar() const { return FProgressBar; }
    int Panel1Height() const { return FPanel1Height; }
    void SetPanel1Height(int height);
    // The add button and the hint in the empty account list follow its rows.
    void UpdateAccountHint();


protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Building, in the order the controls are made.
    void BuildAccountPanel();
    void BuildMessagePanel();
    void BuildFilterBar();
    void BuildSenderPanel();
    void BuildStatusBar();
    void BuildMenus();
    void ConnectHandlers();

    TWindowSettings CurrentWindowSettings() const;
    void LoadWindowSettings();
    void SaveWindowSettings();
    void CreateProgressBar(int panelIndex);

    void Realign();
    QSize FirstStartSize() const;
    void Bind(QPushButton* button);
    void Bind(QAction* action);

    QProgressBar* FProgressBar = nullptr;
    int FPanel1Height = 74;
};

extern TMain* Main;
