#pragma once
// TAccountCommands: the main window's account list `Lv1`. The rows hold the fields of
// "Account.lst" as Shift-JIS bytes, exactly as in the file; they are the accounts' only home
// in memory. The list is loaded when the window is first shown and saved after every change
// and when the window is destroyed; a failed save is reported in a box (stop icon). An
// "Account.lst" that existed but could not be read is never overwritten by a list that
// lacks it. The commands new, edit, copy and delete run from the account menu `Pm1`; new
// and edited accounts keep the keyring in step (TPasswordHandling).

#include "mailbox/AccountFile.h"

class TMain;
class TStringList;
struct TPasswordChoice;

class TAccountCommands {
public:
    explicit TAccountCommands(TMain& window) : W(window) {}

    void LoadAccounts();
    void SaveAccounts();
    // "Account.lst" existed but could not be read.
    bool FileUnread() const { return FAccountFileUnread; }

    int Count() const;
    TAccountFields AccountRow(int row) const;
    void SetAccountRow(int row, const TAccountFields& fields);

    void NewAccount();
    void EditAccount();
    void CopyAccount();
    void DeleteAccount();
    // "全アカウントを確認": shows the window of every account and checks them (again, unless
    // a check runs); opening one of its rows opens that account's mailbox.
    void CheckAllAccounts();
    // Selects the account in the list and connects to it, ending another connection first.
    void OpenAccount(const TAccountFields& account);

private:
    // Appends a row and shows where its password is; returns the row.
    int AppendAccount(const TAccountFields& fields);
    // Shows the account dialog over the exchange list; true when it closed with OK.
    bool ExecAccountDialog(TStringList& fields, TPasswordChoice& password);

    TMain& W;
    bool FAccountFileUnread = false;
};
