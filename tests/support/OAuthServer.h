#pragma once
// A small OAuth 2.0 authorization server on 127.0.0.1 for the sign-in tests, on a thread of
// its own (plain HTTP/1.1, one request per connection):
//  - GET /authorize redirects at once (302) to the redirect URI with a code and the state, or
//    with error=access_denied after Deny();
//  - POST /token exchanges a code (checking the redirect URI and the PKCE S256 verifier) or a
//    refresh token (issuing a new one each time and retiring the old) for a bearer token;
//    anything else is answered 400 {"error":"invalid_grant"};
//  - POST /introspect (Dovecot's oauth2 passdb) answers {"active":true,"email":User} for a
//    live access token, {"active":false} else.
// FollowAuthorization plays the browser: it fetches the URL and then the redirect.

#include "tests/support/ScriptServer.h"

#include <map>
#include <mutex>
#include <set>
#include <string>

namespace testsupport {

class OAuthServer : public detail::ServerCore {
public:
    explicit OAuthServer(std::string user = "alice");
    ~OAuthServer();
    OAuthServer(const OAuthServer&) = delete;
    OAuthServer& operator=(const OAuthServer&) = delete;

    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(Port()) + path; }
    // The lines of a "[OAuth2 NAME]" section of the settings file for this server.
    std::string Settings(const std::string& name) const;

    void SetExpiresIn(int seconds);
    void Deny();                   // the next authorization answers error=access_denied
    void ExpireAccessTokens();     // introspection finds every token issued so far dead
    void RevokeRefreshTokens();
    // Requests to /token so far, by grant type.
    int Grants(const std::string& type) const;

    // GETs `url`, then the Location it redirects to; the last status (0: no answer).
    static int FollowAuthorization(const std::string& url);

private:
    void Run();
    std::string Handle(const std::string& method, const std::string& target, const std::string& body);
    std::string Token(const std::map<std::string, std::string>& form);

    const std::string FUser;
    mutable std::mutex FLock;
    int FExpiresIn = 3600;
    bool FDeny = false;
    int FSerial = 0;
    struct Grant {
        std::string Challenge, RedirectUri;
    };
    std::map<std::string, Grant> FCodes;
    std::set<std::string> FAccess, FRefresh;
    std::map<std::string, int> FGrants;
};

} // namespace testsupport
