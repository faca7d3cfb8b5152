// The main window's account list: the rows of Lv1, loaded from and saved to "Account.lst",
// and the account menu's commands.
#include "app/main/MainWindow.h"

#include <QPushButton>
#include <algorithm>
#include <optional>

#include "app/accounts/AccountDialog.h"
#include "mailbox/Environment.h"
#include "app/main/ListView.h"
#include "app/main/MessageBox.h"
#include "app/main/Texts.h"
#include "runtime/Exception.h"
#include "runtime/StringList.h"
#include "runtime/SysUtils.h"

namespace {
int AppendAccount(TListView* items, const TAccountFields& fields)
{
    return items->AddItem(fields[afName], std::vector<std::string>(fields.begin() + 1, fields.end()), 0);
}

TAccountFields ReadAccount(const TListView* items, int row)
{
    TAccountFields fields;
    fields[afName] = items->Caption(row);
    for (int i = 1; i < AccountFieldCount; ++i)
        fields[static_cast<size_t>(i)] = items->SubItem(row, i - 1);
    return fields;
}

TAccountFields FromExchangeList(const TStringList& list)
{
    TAccountFields fields;
    for (int i = 0; i < AccountFieldCount && i < list.Count(); ++i)
        fields[static_cast<size_t>(i)] = list[i];
    return fields;
}
}

void TMain::LoadAccounts(TListView* items)
{
    items->ClearItems();
    std::vector<TAccountFields> accounts;
    FAccountFileUnread = !LoadAccountFile(AccountFileName(), accounts);
    for (const auto& a : accounts)
        AppendAccount(items, a);
    if (items == Lv1)
        for (int row = 0; row < items->Count(); ++row)
            ShowPasswordPlace(row);
}

void TMain::SaveAccounts(TListView* items)
{
    try {
        const std::string fileName = AccountFileName();
        // A file that could not be read at start holds accounts this list lacks: keep it.
        if (FAccountFileUnread && FileExists(fileName))
            throw EWriteError("Not replacing the unread " + fileName);
        std::vector<TAccountFields> accounts;
        for (int row = 0; row < items->Count(); ++row)
            accounts.push_back(ReadAccount(items, row));
        SaveAccountFile(fileName, accounts);
        FAccountFileUnread = false;
    } catch (const std::exception&) {
        MessageBox(Texts::SaveFailed, Texts::Confirm, TMsgIcon::Stop, TMsgButtons::OK);
    }
}

TAccountFields TMain::AccountRow(int row) const { return ReadAccount(Lv1, row); }

void TMain::SetAccountRow(int row, const TAccountFields& fields)
{
    Lv1->SetCaption(row, fields[afName]);
    for (int i = 1; i < AccountFieldCount; ++i)
        Lv1->SetSubItem(row, i - 1, fields[static_cast<size_t>(i)]);
    ShowPasswordPlace(row);
}

bool TMain::ExecAccountDialog(TStringList& fields, TPasswordChoice& password)
{
    password.KeyringAvailable = Keyring.IsAvailable();
    // The dialog deletes itself when it closes.
    auto* dialog = new TAcco(this, fields, password);
    return dialog->exec() == QDialog::Accepted;
}

void TMain::NewAccount()
{
    TStringList fields;
    TPasswordChoice password;
    if (!ExecAccountDialog(fields, password))
        return;
    TAccountFields account = FromExchangeList(fields);
    FollowInKeyring(std::nullopt, account, password, -1);
    ShowPasswordPlace(AppendAccount(Lv1, account));
    SaveAccounts(Lv1);
}

void TMain::EditAccount()
{
    const int row = Lv1->Selected();
    if (row < 0)
        return;
    const TAccountFields before = AccountRow(row);
    TStringList fields;
    for (const auto& f : before)
        fields.Add(f);
    TPasswordChoice password;
    if (!ExecAccountDialog(fields, password) || row >= Lv1->Count())
        return;
    TAccountFields after = FromExchangeList(fields);
    FollowInKeyring(before, after, password, row);
    if (row >= Lv1->Count())
        return;
    SetAccountRow(row, after);
    SaveAccounts(Lv1);
}

void TMain::CopyAccount()
{
    const int row = Lv1->Selected();
    if (row < 0)
        return;
    TAccountFields fields = AccountRow(row);
    fields[afName] = Texts::CopyPrefix + fields[afName];
    ShowPasswordPlace(AppendAccount(Lv1, fields));
    SaveAccounts(Lv1);
}

void TMain::DeleteAccount()
{
    int row = Lv1->Selected();
    if (row < 0)
        return;
    const std::string text = Lv1->Caption(row) + "\n" + Texts::AskDeleteAccount;
    if (MessageBox(text, Texts::Confirm, TMsgIcon::Question, TMsgButtons::YesNo, 1) != mrYes)
        return;
    row = Lv1->Selected();
    if (row < 0)
        return;
    const TAccountFields account = AccountRow(row);
    Lv1->DeleteItem(row);
    ListViewSelectItem(Lv1, Lv1->Selected() >= 0);
    SaveAccounts(Lv1);
    ForgetInKeyring(account);
}

// The add button stands in the empty list beside its hint, at the right.
void TMain::UpdateAccountHint()
{
    const bool empty = Lv1->Count() == 0;
    AddAccountButton->setVisible(empty);
    if (empty)
        // From the list's own width: its viewport is sized only once the list is shown.
        AddAccountButton->move(std::max(0, Lv1->width() - 2 * Lv1->frameWidth() - AddAccountButton->width() - 8), 8);
    Lv1->viewport()->update();
}
