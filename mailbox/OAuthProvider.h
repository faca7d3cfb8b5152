#pragma once
// The OAuth 2.0 providers an account can sign in with ("oauth2:NAME" in "Account.lst").
//
// Two are built in, "google" and "microsoft", with their endpoints and scopes for POP3 but
// without a client ID: no client ID ships, the person registers their own (README). Any
// provider, and any setting of a built-in one, is a section of the settings file
// ("purgel.ini"):
//
//     [OAuth2 NAME]
//     AuthorizeUrl=https://...
//     TokenUrl=https://...
//     ClientId=...
//     ClientSecret=...        (installed apps' secrets are not secret; Microsoft needs none)
//     Scope=...
//
// Names compare without case. Nothing here waits or raises but std::bad_alloc.

#include <optional>
#include <string>
#include <vector>

struct TOAuthProvider {
    std::string Name;
    std::string AuthorizeUrl;
    std::string TokenUrl;
    std::string ClientId;
    std::string ClientSecret;
    std::string Scope;
};

// The provider `name` from the settings file `settingsFile` over the built-in one of that
// name; nullopt when neither knows it.
std::optional<TOAuthProvider> FindOAuthProvider(const std::string& name, const std::string& settingsFile);
// The built-in providers' names and then those only the settings file names, each once.
std::vector<std::string> OAuthProviderNames(const std::string& settingsFile);
// The built-in provider that serves a POP3 server of that name (pop.gmail.com: google;
// outlook.office365.com, pop-mail.outlook.com: microsoft); "" for any other.
std::string ProposedOAuthProvider(const std::string& server);
// Whether an endpoint may be sent the code, the secret and the tokens: https, or plain http
// to the loopback address only.
bool SafeEndpoint(const std::string& url);
