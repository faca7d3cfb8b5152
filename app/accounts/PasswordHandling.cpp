// The main window's side of the passwords in the keyring: the one-time move of plain-text
// passwords, the follow-ups of the account commands, the question at connect, and the sign of
// where each account's password is.
#include "app/accounts/PasswordHandling.h"

#include <QStyle>
#include <algorithm>

#include "app/accounts/AccountCommands.h"
#include "app/accounts/AccountDialog.h"
#include "app/accounts/PasswordDialog.h"
#include "app/main/ListView.h"
#include "app/main/MainWindow.h"
#include "app/main/MessageBox.h"
#include "app/main/Sjis.h"
#include "app/main/Texts.h"
#include "mailbox/AccountPasswords.h"
#include "mailbox/Environment.h"
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

// The keyring entry an account's row stands for: its password, or its sign-in's refresh token.
TKeyringEntry EntryOf(const TAccountFields& account)
{
    return SignsInWithOAuth(account) ? TOAuthClient::EntryOf(account) : KeyringEntryOf(account);
}
}

TPasswordHandling::TPasswordHandling(TMain& window) : W(window)
{
    W.Passwords.OnAsk = [this](const TAccountFields& account, TKeyringResult keyring, TCredential& credential) {
        return Ask(account, keyring, credential);
    };
}

TPasswordHandling::~TPasswordHandling() { W.Passwords.OnAsk = nullptr; }

void TPasswordHandling::ShowPasswordPlace(int row)
{
    QTableWidgetItem* cell = W.Lv1->item(row, 0);
    if (!cell)
        return;
    const TAccountFields account = W.Accounts->AccountRow(row);
    const bool inFile = !PasswordInKeyring(account);
    cell->setToolTip(SjisToQ(SignsInWithOAuth(account) ? Texts::OAuthTip + OAuthProviderOf(account)
                             : inFile                  ? Texts::PasswordInFileTip
                                                       : Texts::PasswordInKeyringTip));
    cell->setIcon(inFile ? W.style()->standardIcon(QStyle::SP_MessageBoxWarning) : QIcon());
}

bool TPasswordHandling::EntryShared(const TAccountFields& account, int row) const
{
    for (int other = 0; other < W.Accounts->Count(); ++other) {
        const TAccountFields fields = W.Accounts->AccountRow(other);
        if (other != row && PasswordInKeyring(fields) && EntryOf(fields) == EntryOf(account))
            return true;
    }
    return false;
}

void TPasswordHandling::OfferKeyringMove()
{
    TIniFile ini(SettingsFileName());
    const std::string demo = ini.ReadString(DemoSection, DemoAccountKey, "");
    std::vector<TAccountFields> accounts;
    for (int row = 0; row < W.Accounts->Count(); ++row)
        if (const TAccountFields fields = W.Accounts->AccountRow(row);
            demo.empty() || TKeyring::KeyOf(KeyringEntryOf(fields)) != demo)
            accounts.push_back(fields);
    if (W.Accounts->FileUnread() || std::all_of(accounts.begin(), accounts.end(), PasswordInKeyring))
        return;
    if (ini.ReadInteger(KeyringSection, MoveOfferedKey, 0) != 0 || !W.Keyring.IsAvailable())
        return;
    ini.WriteInteger(KeyringSection, MoveOfferedKey, 1);
    if (MessageBox(Texts::AskMoveToKeyring, Texts::Confirm, TMsgIcon::Question, TMsgButtons::YesNo, 0) != mrYes)
        return;
    const std::vector<TAccountFields> original = accounts;
    const TKeyringMove move = MovePasswordsToKeyring(W.Keyring, accounts);
    // The waits let the account commands run: a row takes the empty field only when it still
    // holds the account that was moved.
    for (size_t i = 0; i < accounts.size(); ++i) {
        if (accounts[i] == original[i])
            continue;
        for (int row = 0; row < W.Accounts->Count(); ++row)
            if (W.Accounts->AccountRow(row) == original[i])
                W.Accounts->SetAccountRow(row, accounts[i]);
    }
    if (move.Moved > 0)
        W.Accounts->SaveAccounts();
    if (move.Result != TKeyringResult::Ok)
        MessageBox(Texts::MoveIncomplete, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
}

void TPasswordHandling::FollowInKeyring(const std::optional<TAccountFields>& before, TAccountFields& after,
                                        const TPasswordChoice& choice, int row)
{
    if ((before && SignsInWithOAuth(*before)) || SignsInWithOAuth(after)) {
        FollowSignIn(before, after, row);
        return;
    }
    const std::string typed = choice.InKeyring ? choice.Password : std::string();
    const TKeyringFollow follow =
        FollowAccountChange(W.Keyring, before, after, typed, before && EntryShared(*before, row));
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

// An OAuth account keeps no password; its refresh token follows the account as far as the
// keyring lets it (else the next connect signs in again, which loses nothing).
void TPasswordHandling::FollowSignIn(const std::optional<TAccountFields>& before, const TAccountFields& after, int row)
{
    if (!before)
        return;
    const bool shared = EntryShared(*before, row);
    if (!SignsInWithOAuth(*before))
        ForgetAccount(W.Keyring, *before, shared);
    else if (!SignsInWithOAuth(after) && !shared)
        W.SignIns.Forget(*before);
    else if (EntryOf(*before) != EntryOf(after) && !shared)
        W.Keyring.Move(EntryOf(*before), EntryOf(after));
}

void TPasswordHandling::ForgetInKeyring(const TAccountFields& account)
{
    const bool shared = EntryShared(account, -1);
    // An OAuth account's entry is its sign-in's refresh token.
    const TKeyringResult result = !SignsInWithOAuth(account) ? ForgetAccount(W.Keyring, account, shared)
                                  : shared                   ? TKeyringResult::Ok
                                                             : W.SignIns.Forget(account);
    if (result != TKeyringResult::Ok)
        MessageBox(Texts::KeyringUpdateFailed, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
}

TCredentialResult TPasswordHandling::Ask(const TAccountFields& account, TKeyringResult keyring, TCredential& credential)
{
    TPasswordAnswer answer;
    const bool given = AskPassword(&W, account[afName], keyring == TKeyringResult::NotFound, answer);
    credential.Password = answer.Password;
    WipeString(answer.Password);
    if (!given)
        return TCredentialResult::Refused;
    const std::string& password = credential.Password;
    credential.Kept = answer.Remember != TRememberPlace::None && !password.empty();
    if (answer.Remember == TRememberPlace::Keyring) {
        credential.Kept = W.Keyring.Store(KeyringEntryOf(account), password) == TKeyringResult::Ok;
        if (!credential.Kept)
            MessageBox(Texts::KeyringStoreFailed, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
    } else if (answer.Remember == TRememberPlace::File && !password.empty()) {
        for (int row = 0; row < W.Accounts->Count(); ++row) {
            if (W.Accounts->AccountRow(row) != account)
                continue;
            TAccountFields fields = account;
            fields[afPassword] = password;
            W.Accounts->SetAccountRow(row, fields);
            W.Accounts->SaveAccounts();
            break;
        }
    }
    return TCredentialResult::Found;
}
