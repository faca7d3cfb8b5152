// The main window's account list: the rows of Lv1, loaded from and saved to "Account.lst",
// and the account menu's commands, every account at a glance among them.
#include "app/accounts/AccountCommands.h"

#include <QPushButton>
#include <optional>

#include "app/accounts/AccountDialog.h"
#include "app/accounts/AccountsCheckView.h"
#include "app/accounts/PasswordHandling.h"
#include "app/mailboxview/MailboxCommands.h"
#include "app/main/ListView.h"
#include "app/main/MainWindow.h"
#include "app/main/MessageBox.h"
#include "app/main/Texts.h"
#include "mailbox/Environment.h"
#include "runtime/Exception.h"
#include "runtime/StringList.h"
#include "runtime/SysUtils.h"

namespace {
TAccountFields FromExchangeList(const TStringList& list)
{
    TAccountFields fields;
    for (int i = 0; i < AccountFieldCount && i < list.Count(); ++i)
        fields[static_cast<size_t>(i)] = list[i];
    return fields;
}
}

int TAccountCommands::AppendAccount(const TAccountFields& fields)
{
    const int row = W.Lv1->AddItem(fields[afName], std::vector<std::string>(fields.begin() + 1, fields.end()), 0);
    W.PasswordHandling->ShowPasswordPlace(row);
    return row;
}

void TAccountCommands::LoadAccounts()
{
    W.Lv1->ClearItems();
    std::vector<TAccountFields> accounts;
    FAccountFileUnread = !LoadAccountFile(AccountFileName(), accounts);
    for (const auto& a : accounts)
        AppendAccount(a);
}

void TAccountCommands::SaveAccounts()
{
    try {
        const std::string fileName = AccountFileName();
        // A file that could not be read at start holds accounts this list lacks: keep it.
        if (FAccountFileUnread && FileExists(fileName))
            throw EWriteError("Not replacing the unread " + fileName);
        std::vector<TAccountFields> accounts;
        for (int row = 0; row < Count(); ++row)
            accounts.push_back(AccountRow(row));
        SaveAccountFile(fileName, accounts);
        FAccountFileUnread = false;
    } catch (const std::exception&) {
        MessageBox(Texts::SaveFailed, Texts::Confirm, TMsgIcon::Stop, TMsgButtons::OK);
    }
}

int TAccountCommands::Count() const { return W.Lv1->Count(); }

TAccountFields TAccountCommands::AccountRow(int row) const
{
    TAccountFields fields;
    fields[afName] = W.Lv1->Caption(row);
    for (int i = 1; i < AccountFieldCount; ++i)
        fields[static_cast<size_t>(i)] = W.Lv1->SubItem(row, i - 1);
    return fields;
}

void TAccountCommands::SetAccountRow(int row, const TAccountFields& fields)
{
    W.Lv1->SetCaption(row, fields[afName]);
    for (int i = 1; i < AccountFieldCount; ++i)
        W.Lv1->SetSubItem(row, i - 1, fields[static_cast<size_t>(i)]);
    W.PasswordHandling->ShowPasswordPlace(row);
}

bool TAccountCommands::ExecAccountDialog(TStringList& fields, TPasswordChoice& password)
{
    password.KeyringAvailable = W.Keyring.IsAvailable();
    // The dialog deletes itself when it closes.
    auto* dialog = new TAcco(&W, fields, password);
    return dialog->exec() == QDialog::Accepted;
}

void TAccountCommands::NewAccount()
{
    TStringList fields;
    TPasswordChoice password;
    if (!ExecAccountDialog(fields, password))
        return;
    TAccountFields account = FromExchangeList(fields);
    W.PasswordHandling->FollowInKeyring(std::nullopt, account, password, -1);
    AppendAccount(account);
    SaveAccounts();
}

void TAccountCommands::EditAccount()
{
    const int row = W.Lv1->Selected();
    if (row < 0)
        return;
    const TAccountFields before = AccountRow(row);
    TStringList fields;
    for (const auto& f : before)
        fields.Add(f);
    TPasswordChoice password;
    if (!ExecAccountDialog(fields, password) || row >= Count())
        return;
    TAccountFields after = FromExchangeList(fields);
    W.PasswordHandling->FollowInKeyring(before, after, password, row);
    if (row >= Count())
        return;
    SetAccountRow(row, after);
    SaveAccounts();
}

void TAccountCommands::CopyAccount()
{
    const int row = W.Lv1->Selected();
    if (row < 0)
        return;
    TAccountFields fields = AccountRow(row);
    fields[afName] = Texts::CopyPrefix + fields[afName];
    AppendAccount(fields);
    SaveAccounts();
}

void TAccountCommands::DeleteAccount()
{
    int row = W.Lv1->Selected();
    if (row < 0)
        return;
    const std::string text = W.Lv1->Caption(row) + "\n" + Texts::AskDeleteAccount;
    if (MessageBox(text, Texts::Confirm, TMsgIcon::Question, TMsgButtons::YesNo, 1) != mrYes)
        return;
    row = W.Lv1->Selected();
    if (row < 0)
        return;
    const TAccountFields account = AccountRow(row);
    W.Lv1->DeleteItem(row);
    W.ListViewSelectItem(W.Lv1, W.Lv1->Selected() >= 0);
    SaveAccounts();
    W.PasswordHandling->ForgetInKeyring(account);
}

// ---- Every account at a glance ----

void TAccountCommands::CheckAllAccounts()
{
    TAccountsCheckView*& view = W.AccountsCheck;
    if (!view) {
        view = new TAccountsCheckView(&W, W.Credentials);
        view->setWindowFlag(Qt::Window);
        view->Accounts = [this] {
            std::vector<TAccountFields> accounts;
            for (int row = 0; row < Count(); ++row)
                accounts.push_back(AccountRow(row));
            return accounts;
        };
        // Never a second connection to the server the window is connected to.
        view->Check().ServerInUse = [this](const TAccountFields& account) {
            return W.Session.State() != TSessionState::Idle &&
                   LowerCase(W.Session.Account()[afServer]) == LowerCase(account[afServer]);
        };
        view->OnOpen = [this](const TAccountFields& account) { OpenAccount(account); };
    }
    view->show();
    view->raise();
    if (!view->Check().Running())
        QMetaObject::invokeMethod(
            view, [view] { Guarded([view] { view->Start(view->Accounts()); }); }, Qt::QueuedConnection);
}

void TAccountCommands::OpenAccount(const TAccountFields& account)
{
    int row = Count() - 1;
    while (row >= 0 && AccountRow(row) != account)
        --row;
    if (row < 0)
        return;   // changed or removed since the check
    W.activateWindow();
    W.raise();
    TMailboxSession& s = W.Session;
    if (s.State() != TSessionState::Idle && s.Account() == account)
        return;
    if (W.SpeedButton1->isChecked()) {
        W.SpeedButton1->setChecked(false);
        W.Mailbox->ConnectButtonClick();
        if (s.State() != TSessionState::Idle)
            return;   // still ending: the person presses again
    }
    W.Lv1->selectRow(row);
    W.SpeedButton1->setChecked(true);
    W.Mailbox->ConnectButtonClick();
}
