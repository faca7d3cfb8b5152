#include "mailbox/Credentials.h"

#include "runtime/SysUtils.h"

TCredentialResult TPasswordLookup::Find(const TAccountFields& account, TCredential& credential)
{
    if (!PasswordInKeyring(account)) {
        credential = {TCredential::TOrigin::File, account[afPassword], true};
        return TCredentialResult::Found;
    }
    TKeyringResult found = TKeyringResult::NoKeyring;
    if (FKeyring) {
        std::string password;
        found = FKeyring->Read(KeyringEntryOf(account), password);
        if (found == TKeyringResult::Ok) {
            credential = {TCredential::TOrigin::Keyring, password, true};
            WipeString(password);
            return TCredentialResult::Found;
        }
    }
    if (!OnAsk)
        return TCredentialResult::Missing;
    credential.Kept = false;
    const TCredentialResult answer = OnAsk(account, found, credential);
    if (answer == TCredentialResult::Found)
        credential.Origin = TCredential::TOrigin::Prompt;
    return answer;
}
