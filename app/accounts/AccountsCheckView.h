#pragma once
// TAccountsCheckView "全アカウントを確認": every account at a glance, in a window beside the
// main one. Start() checks the accounts of the list in turn (TAccountsCheck, one connection
// at a time, never to a server the main window is connected to) and shows one row per
// account as it goes: its state, messages, total size, how many are new since the last look,
// the sender who takes the most room, and why it failed. A failing account never stops the
// others. Opening a row (double-click) fires OnOpen with the account's fields, after the
// check has stopped. Closing the window, or Stop, ends the check after the account being
// checked.
//
// Start waits in the session's pump, so handlers run nested inside it; the view must not be
// destroyed while Start runs (the main window closes it first). Passwords come from the main
// window's source (field, keyring, prompt).

#include <QDialog>
#include <functional>
#include <vector>

#include "mailbox/AccountsCheck.h"

class QPushButton;
class QTableWidget;

class TAccountsCheckView : public QDialog {
public:
    TAccountsCheckView(QWidget* owner, TCredentialSource& credentials);
    ~TAccountsCheckView() override;

    TAccountsCheck& Check() { return FCheck; }
    void Start(const std::vector<TAccountFields>& accounts);
    void Stop() { FCheck.Stop(); }
    // Opens the account of a row (the check stops first).
    void Open(int row);
    // Runs `then` at once, or when a running check has stopped (it is asked to).
    void StopThen(std::function<void()> then);

    QTableWidget* Table;
    QPushButton* AgainButton;
    QPushButton* StopButton;

    std::function<void(const TAccountFields&)> OnOpen;
    // Gives the accounts for "再確認".
    std::function<std::vector<TAccountFields>()> Accounts;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Show(int index);

    TAccountsCheck FCheck;
    std::function<void()> FThen;   // to run once the check has stopped
};
