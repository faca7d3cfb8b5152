#pragma once
// TPasswordHandling: the main window's side of the passwords in the keyring (TMain::Keyring):
// the one-time offer to move plain-text passwords there, the follow-ups of the account
// commands, the sign of where each account's password is, and the prompt at connect when
// neither the account's field nor the keyring holds the password (the hook of
// TMain::Passwords). Every keyring call waits in the pump, so handlers run nested in each of
// these: a row is told by its fields, which the waits may have changed, never by its index
// alone. A password goes into the file only when the person says so.

#include <optional>
#include <string>

#include "mailbox/Credentials.h"

class TMain;
struct TPasswordChoice;

class TPasswordHandling {
public:
    explicit TPasswordHandling(TMain& window);
    ~TPasswordHandling();
    TPasswordHandling(const TPasswordHandling&) = delete;
    TPasswordHandling& operator=(const TPasswordHandling&) = delete;

    // The row's icon and tooltip tell where its password is.
    void ShowPasswordPlace(int row);
    // Once, when a keyring answers and the list holds plain-text passwords: offers to move them
    // (all but the demo account's, which the settings file names).
    void OfferKeyringMove();
    // Keeps the keyring in step after a new (`before` none) or edited account; may put a
    // password the keyring did not take into `after`, when the person agrees.
    void FollowInKeyring(const std::optional<TAccountFields>& before, TAccountFields& after,
                         const TPasswordChoice& choice, int row);
    void ForgetInKeyring(const TAccountFields& account);

private:
    // Another row than `row` uses the keyring entry of `account`.
    bool EntryShared(const TAccountFields& account, int row) const;
    // FollowInKeyring for an account that signs in with OAuth 2.0 before or after.
    void FollowSignIn(const std::optional<TAccountFields>& before, const TAccountFields& after, int row);
    // The prompt at connect; the answer is remembered where the person chose.
    TCredentialResult Ask(const TAccountFields& account, TKeyringResult keyring, TCredential& credential);

    TMain& W;
};
