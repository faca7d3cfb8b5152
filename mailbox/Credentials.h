#pragma once
// Credentials: what a session logs in with, behind one small interface. Each kind of source
// is one TCredentialSource: the password in the account's field ("Account.lst"), the one in
// the desktop keyring, the one a person answers to a prompt. TPasswordLookup asks them in
// that order, as the window and a command line both do; a program without a person to ask
// leaves its prompt hook empty. An OAuth 2.0 access token is one more kind (TOAuthClient,
// mailbox/OAuthClient.h); TAccountCredentials asks the source of the account's kind.
//
// A lookup may wait in the thread's message pump (the keyring, the owner's prompt), so other
// handlers run meanwhile. Nothing is raised but std::bad_alloc.

#include <functional>
#include <string>

#include "mailbox/AccountFile.h"
#include "mailbox/Keyring.h"

struct TCredential {
    // Token: an OAuth 2.0 access token (in Password), for the SASL sign-in.
    enum class TOrigin { File, Keyring, Prompt, Token };
    TOrigin Origin = TOrigin::File;
    std::string Password;   // Shift-JIS bytes, as the account file keeps them
    // The account keeps the password (file or keyring), so it may outlive the connection; a
    // password kept nowhere is wiped when the connection ends.
    bool Kept = true;
};

enum class TCredentialResult {
    Found,     // `credential` holds it
    Missing,   // this source has none: the next may
    Refused,   // the person asked declined: stop looking
};

class TCredentialSource {
public:
    virtual ~TCredentialSource() = default;
    virtual TCredentialResult Find(const TAccountFields& account, TCredential& credential) = 0;
    // The server refused what Find gave: a source that can get a fresh one drops it.
    virtual void Rejected(const TAccountFields&) {}
    // Ends a Find that waits (the connection was ended meanwhile): it answers Refused.
    virtual void Cancel() {}
};

// OAuth accounts (SignsInWithOAuth) to `tokens`, the others to `passwords`; both borrowed.
class TAccountCredentials : public TCredentialSource {
public:
    TAccountCredentials(TCredentialSource& passwords, TCredentialSource& tokens) : FPasswords(passwords), FTokens(tokens) {}
    TCredentialResult Find(const TAccountFields& account, TCredential& credential) override
    {
        return SourceOf(account).Find(account, credential);
    }
    void Rejected(const TAccountFields& account) override { SourceOf(account).Rejected(account); }
    void Cancel() override
    {
        FPasswords.Cancel();
        FTokens.Cancel();
    }

private:
    TCredentialSource& SourceOf(const TAccountFields& account)
    {
        return SignsInWithOAuth(account) ? FTokens : FPasswords;
    }
    TCredentialSource& FPasswords;
    TCredentialSource& FTokens;
};

// The account's field when it is not empty, else the keyring entry of its ID, server and
// port, else the answer to OnAsk. Without a keyring the second step is left out.
class TPasswordLookup : public TCredentialSource {
public:
    explicit TPasswordLookup(const TKeyring* keyring) : FKeyring(keyring) {}

    // Asked when neither the field nor the keyring holds the password; `keyring` tells why
    // the keyring had none (NotFound: it answered but has no entry; NoKeyring without one).
    // The hook may store the answer where the person chose, and then sets Kept (it starts
    // false). Empty: nobody to ask (Missing).
    std::function<TCredentialResult(const TAccountFields& Account, TKeyringResult Keyring, TCredential& Credential)>
        OnAsk;

    TCredentialResult Find(const TAccountFields& account, TCredential& credential) override;

private:
    const TKeyring* FKeyring;
};
