#pragma once
// Keeping the keyring in step with the account list: the move of plain-text passwords into
// the keyring, and the entry's follow-up when an account is added, edited or deleted.
//
// An account's password is in the file when its password field is not empty, else under the
// keyring entry of its ID, server and port (PasswordInKeyring, KeyringEntryOf). Two accounts
// may share an entry (a copied account): an entry another account still uses is copied, never
// moved or removed. Nothing here ever puts a password into the file; nothing is raised; every
// call waits in the pump like TKeyring's (mailbox/Keyring.h).

#include <optional>
#include <string>
#include <vector>

#include "mailbox/AccountFile.h"
#include "mailbox/Keyring.h"

struct TKeyringMove {
    int Moved = 0;                               // accounts whose password is now in the keyring
    TKeyringResult Result = TKeyringResult::Ok;  // what stopped the move; Ok when all moved
};

// Stores every plain-text password of `accounts` in the keyring and empties its field, in
// list order, stopping at the first one the keyring does not take: that account and the ones
// after it keep their passwords in the list. The caller saves the list.
TKeyringMove MovePasswordsToKeyring(const TKeyring& keyring, std::vector<TAccountFields>& accounts);

// After an account changed from `before` (nullopt for a new account) to `after` (as it will
// be saved): `password`, when not empty, is the password the user gave for the keyring, stored
// under after's entry; else an entry of before's that after's ID, server or port no longer
// names follows it. An account whose password went into the file leaves before's entry.
// `beforeShared`: another account still uses before's entry (it is then left in place).
// On a failure the password stays where it was (before's entry, or nowhere for one typed).
struct TKeyringFollow {
    TKeyringResult Result = TKeyringResult::Ok;  // the first failure, Ok when none
    bool Stored = false;                         // the typed password is in the keyring
};
TKeyringFollow FollowAccountChange(const TKeyring& keyring, const std::optional<TAccountFields>& before,
                                   const TAccountFields& after, const std::string& password, bool beforeShared);

// Removes the entry of a deleted account unless `shared` (another account uses it) or its
// password was in the file.
TKeyringResult ForgetAccount(const TKeyring& keyring, const TAccountFields& account, bool shared);
