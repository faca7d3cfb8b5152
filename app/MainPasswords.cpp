// The main window's side of the passwords in the keyring: the one-time move of plain-text
// passwords, the follow-ups of the account commands, the look-up (or the question) at connect,
// and the sign of where each account's password is.
#include "app/MainWindow.h"

#include <QStyle>
#include <algorithm>

#include "app/AccountDialog.h"
#include "app/AccountPasswords.h"
#include "app/Environment.h"
#include "app/ListView.h"
#include "app/MessageBox.h"
#include "app/PasswordDialog.h"
#include "app/Sjis.h"
#include "app/Texts.h"
#include "runtime/IniFile.h"
#include "runtime/SysUtils.h"

namespace {
// The settings key that records the offer to move the passwords: made once, whatever the answer.
const char* const KeyringSection = "Keyring";
const char* const MoveOfferedKey = "MoveOffered";
// The demo setup (`make run`) records the keyring key ("<ID>@<server>:<port>") of the demo
// server's account: its password is the demo server's public one and stays in the file.
const char* const DemoSection = "Demo";
const char* const DemoAccountKey = "Account";
}

void TMain::ShowPasswordPlace(int row)
{
    QTableWidgetItem* cell = Lv1->item(row, 0);
    if (!cell)
        return;
    const bool inFile = !PasswordInKeyring(AccountRow(row));
    cell->setToolTip(SjisToQ(inFile ? Texts::PasswordInFileTip : Texts::PasswordInKeyringTip));
    cell->setIcon(inFile ? style()->standardIcon(QStyle::SP_MessageBoxWarning) : QIcon());
}

bool TMain::EntryShared(const TAccountFields& account, int row) const
{
    for (int other = 0; other < Lv1->Count(); ++other) {
        const TAccountFields fields = AccountRow(other);
        if (other != row && PasswordInKeyring(fields) && KeyringEntryOf(fields) == KeyringEntryOf(account))
            return true;
    }
    return false;
}

void TMain::OfferKeyringMove()
{
    TIniFile ini(SettingsFileName());
    const std::string demo = ini.ReadString(DemoSection, DemoAccountKey, "");
    std::vector<TAccountFields> accounts;
    for (int row = 0; row < Lv1->Count(); ++row)
        if (const TAccountFields fields = AccountRow(row);
            demo.empty() || TKeyring::KeyOf(KeyringEntryOf(fields)) != demo)
            accounts.push_back(fields);
    if (FAccountFileUnread || std::all_of(accounts.begin(), accounts.end(), PasswordInKeyring))
        return;
    if (ini.ReadInteger(KeyringSection, MoveOfferedKey, 0) != 0 || !Keyring.IsAvailable())
        return;
    ini.WriteInteger(KeyringSection, MoveOfferedKey, 1);
    if (MessageBox(Texts::AskMoveToKeyring, Texts::Confirm, TMsgIcon::Question, TMsgButtons::YesNo, 0) != mrYes)
        return;
    const std::vector<TAccountFields> original = accounts;
    const TKeyringMove move = MovePasswordsToKeyring(Keyring, accounts);
    // The waits let the account commands run: a row takes the empty field only when it still
    // holds the account that was moved.
    for (size_t i = 0; i < accounts.size(); ++i) {
        if (accounts[i] == original[i])
            continue;
        for (int row = 0; row < Lv1->Count(); ++row)
            if (AccountRow(row) == original[i])
                SetAccountRow(row, accounts[i]);
    }
    if (move.Moved > 0)
        SaveAccounts(Lv1);
    if (move.Result != TKeyringResult::Ok)
        MessageBox(Texts::MoveIncomplete, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
}

void TMain::FollowInKeyring(const std::optional<TAccountFields>& before, TAccountFields& after,
                            const TPasswordChoice& choice, int row)
{
    const std::string typed = choice.InKeyring ? choice.Password : std::string();
    const TKeyringFollow follow =
        FollowAccountChange(Keyring, before, after, typed, before && EntryShared(*before, row));
    if (follow.Result == TKeyringResult::Ok)
        return;
    if (typed.empty() || follow.Stored) {
        MessageBox(Texts::KeyringUpdateFailed, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
        return;
    }
    // Never into the file unasked: without the user's yes the password is asked at connect.
    const std::string text = std::string(Texts::KeyringStoreFailed) + "\n" + Texts::AskStoreInFile;
    if (MessageBox(text, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::YesNo, 1) == mrYes)
        after[afPassword] = typed;
}

void TMain::ForgetInKeyring(const TAccountFields& account)
{
    if (ForgetAccount(Keyring, account, EntryShared(account, -1)) != TKeyringResult::Ok)
        MessageBox(Texts::KeyringUpdateFailed, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
}

bool TMain::AccountPassword(const TAccountFields& account, std::string& password, bool& kept)
{
    kept = true;
    if (!PasswordInKeyring(account)) {
        password = account[afPassword];
        return true;
    }
    const TKeyringResult found = Keyring.Read(KeyringEntryOf(account), password);
    if (found == TKeyringResult::Ok)
        return true;
    TPasswordAnswer answer;
    const bool given = AskPassword(this, account[afName], found == TKeyringResult::NotFound, answer);
    password = answer.Password;
    WipeString(answer.Password);
    if (!given)
        return false;
    kept = answer.Remember != TRememberPlace::None && !password.empty();
    if (answer.Remember == TRememberPlace::Keyring) {
        kept = Keyring.Store(KeyringEntryOf(account), password) == TKeyringResult::Ok;
        if (!kept)
            MessageBox(Texts::KeyringStoreFailed, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
    } else if (answer.Remember == TRememberPlace::File && !password.empty()) {
        for (int row = 0; row < Lv1->Count(); ++row) {
            if (AccountRow(row) != account)
                continue;
            TAccountFields fields = account;
            fields[afPassword] = password;
            SetAccountRow(row, fields);
            SaveAccounts(Lv1);
            break;
        }
    }
    return true;
}
