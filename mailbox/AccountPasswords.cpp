#include "mailbox/AccountPasswords.h"

TKeyringMove MovePasswordsToKeyring(const TKeyring& keyring, std::vector<TAccountFields>& accounts)
{
    TKeyringMove move;
    for (TAccountFields& a : accounts) {
        if (PasswordInKeyring(a))
            continue;
        move.Result = keyring.Store(KeyringEntryOf(a), a[afPassword]);
        if (move.Result != TKeyringResult::Ok)
            break;
        a[afPassword].clear();
        ++move.Moved;
    }
    return move;
}

namespace {
// Copies the entry `from` to `to`, leaving `from`; Ok when `from` has none (nothing to copy).
TKeyringResult CopyEntry(const TKeyring& keyring, const TKeyringEntry& from, const TKeyringEntry& to)
{
    std::string password;
    const TKeyringResult r = keyring.Read(from, password);
    if (r != TKeyringResult::Ok)
        return r == TKeyringResult::NotFound ? TKeyringResult::Ok : r;
    return keyring.Store(to, password);
}
}

TKeyringFollow FollowAccountChange(const TKeyring& keyring, const std::optional<TAccountFields>& before,
                                   const TAccountFields& after, const std::string& password, bool beforeShared)
{
    const bool hadEntry = before && PasswordInKeyring(*before);
    const bool left = hadEntry && !beforeShared;   // before's entry has no other user
    const TKeyringEntry to = KeyringEntryOf(after);
    if (!PasswordInKeyring(after))
        return {left ? keyring.Remove(KeyringEntryOf(*before)) : TKeyringResult::Ok};
    const bool renamed = hadEntry && KeyringEntryOf(*before) != to;
    if (!password.empty()) {
        const TKeyringResult r = keyring.Store(to, password);
        if (r != TKeyringResult::Ok)
            return {r};
        return {renamed && left ? keyring.Remove(KeyringEntryOf(*before)) : r, true};
    }
    if (!renamed)
        return {};
    if (!left)
        return {CopyEntry(keyring, KeyringEntryOf(*before), to)};
    const TKeyringResult r = keyring.Move(KeyringEntryOf(*before), to);
    return {r == TKeyringResult::NotFound ? TKeyringResult::Ok : r};
}

TKeyringResult ForgetAccount(const TKeyring& keyring, const TAccountFields& account, bool shared)
{
    if (shared || !PasswordInKeyring(account))
        return TKeyringResult::Ok;
    return keyring.Remove(KeyringEntryOf(account));
}
