#pragma once
// TOAuthClient: the OAuth 2.0 sign-in of the accounts that sign in with a provider
// ("oauth2:NAME", mailbox/OAuthProvider.h), as a source of credentials: Find gives an access
// token (TCredential::TOrigin::Token) for the POP3 component's SASL sign-in.
//
// Find, in this order:
//  1. the access token kept in memory for the account, while it has more than a minute left;
//  2. a refresh (grant_type=refresh_token) with the account's refresh token: its own entry in
//     the keyring (Kind "OAuth2 NAME"; never the account file), or the one kept in memory
//     for this run when no keyring took it. A new refresh token in the answer replaces the
//     old one (providers that rotate them). An answer "invalid_grant" forgets the refresh
//     token (keyring entry included), then goes on to 3;
//  3. a sign-in through the browser, when the owner set OnSignInStart (a program without a
//     person leaves it empty and gets SignInNeeded): the authorization code flow with PKCE
//     S256 (RFC 7636) and a loopback redirect (TOAuthListener); the owner opens the URL in a
//     browser, this waits for the redirect; the code is then exchanged for the tokens.
// Rejected (the server refused the token) drops the access token, so the next Find refreshes.
//
// Waiting: the listener and the token endpoint are waited for in the thread's message pump
// (the windows stay alive, handlers run nested); Cancel ends a wait at once. The listener
// waits ListenTimeOut, a request to the token endpoint HttpTimeOut. Requests go out with
// QNetworkAccessManager; the token endpoint and the authorization URL must be https (or
// plain http to the loopback address). Nothing is raised but std::bad_alloc; every outcome
// is in Status(). One thread, with a QCoreApplication. Tokens are wiped when forgotten.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "mailbox/Credentials.h"
#include "mailbox/Keyring.h"
#include "mailbox/OAuthProvider.h"

class QNetworkAccessManager;

enum class TOAuthError {
    None,
    Canceled,        // Cancel (the person, or the session that ended)
    NoProvider,      // the account names a provider no one knows: Code holds its name
    NoClientId,      // the provider has no ClientId: Code holds its name
    UnsafeEndpoint,  // an endpoint that is not https (nor loopback http): Code holds it
    ListenFailed,    // no loopback port for the redirect
    TimedOut,        // no redirect within ListenTimeOut
    Denied,          // the browser came back with error=: Code, Description
    TokenRefused,    // the token endpoint answered an error: Code ("error"), Description
    NoAnswer,        // the token endpoint could not be reached: Description (Qt's text)
    BadAnswer,       // its answer held no usable token
    SignInNeeded,    // no stored sign-in and nobody to sign in; Code "invalid_grant" when it was revoked
};

struct TOAuthStatus {
    TOAuthError Error = TOAuthError::None;
    std::string Code;          // UTF-8
    std::string Description;   // UTF-8
    bool Kept = true;          // the sign-in lasts past this run (its refresh token is in the keyring)
};

// What the owner is asked to open, in a browser of its choice.
struct TSignInRequest {
    std::string Url;
    std::string Provider;
    bool Again = false;   // the earlier sign-in was revoked or expired
};

// PKCE (RFC 7636): a new verifier (43 characters of base64url), and its S256 challenge.
std::string PkceVerifier();
std::string PkceChallenge(const std::string& verifier);

class TOAuthClient : public TCredentialSource {
public:
    // `keyring` is borrowed; null for none (every sign-in then lasts for this run only).
    explicit TOAuthClient(const TKeyring* keyring);
    ~TOAuthClient() override;
    TOAuthClient(const TOAuthClient&) = delete;
    TOAuthClient& operator=(const TOAuthClient&) = delete;

    // The settings file with the providers; "" for the program's (SettingsFileName()).
    std::string SettingsFile;
    std::chrono::milliseconds ListenTimeOut{std::chrono::minutes(5)};
    std::chrono::milliseconds HttpTimeOut{std::chrono::seconds(30)};

    // The sign-in through the browser begins (the loopback listener waits): open the URL.
    std::function<void(const TSignInRequest&)> OnSignInStart;
    // It ended (the tokens are in, or it failed or was canceled): Status() tells.
    std::function<void(const TOAuthStatus&)> OnSignInEnd;

    TCredentialResult Find(const TAccountFields& account, TCredential& credential) override;
    void Rejected(const TAccountFields& account) override;
    void Cancel() override;
    // Forgets the account's sign-in: its tokens in memory and its keyring entry.
    TKeyringResult Forget(const TAccountFields& account);
    // What the last Find came to.
    const TOAuthStatus& Status() const { return FStatus; }
    bool SigningIn() const { return FSigningIn; }

    // The keyring entry of an account's refresh token.
    static TKeyringEntry EntryOf(const TAccountFields& account);

private:
    struct TTokens {
        std::string Access;
        std::chrono::steady_clock::time_point Expiry;
        std::string Refresh;   // only when no keyring took it
    };
    struct TAnswer;

    TCredentialResult Fail(TOAuthError error, std::string code = "", std::string description = "");
    // The tokens for `form` from the token endpoint into `tokens`; false with Status set.
    bool Request(const TOAuthProvider& provider, std::string form, const TKeyringEntry& entry, TTokens& tokens);
    bool Post(const std::string& url, const std::string& form, TAnswer& answer);
    bool SignIn(const TOAuthProvider& provider, const TAccountFields& account, bool again, TTokens& tokens);
    void KeepRefresh(const TKeyringEntry& entry, std::string refresh, TTokens& tokens);
    void Drop(TTokens& tokens);
    TKeyringResult ForgetRefresh(const TKeyringEntry& entry, TTokens& tokens);

    const TKeyring* FKeyring;
    std::unique_ptr<QNetworkAccessManager> FNetwork;
    std::map<std::string, TTokens> FTokens;   // by the keyring entry's key
    TOAuthStatus FStatus;
    bool FCanceled = false;
    bool FSigningIn = false;
};
