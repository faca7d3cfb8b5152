#include "mailbox/OAuthClient.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QUrl>

#include "mailbox/Environment.h"
#include "mailbox/OAuthListener.h"
#include "mailbox/PumpWait.h"
#include "runtime/SysUtils.h"

using namespace std::chrono_literals;
using mailbox::Clock;

namespace {

// An access token is refreshed this long before it expires, so that it never expires on its
// way to the server.
constexpr auto ExpiryMargin = 60s;
// When the token endpoint does not say how long a token lasts.
constexpr auto AssumedLifetime = 3600s;

std::string Base64Url(const QByteArray& bytes)
{
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals).toStdString();
}

std::string RandomText(int bytes)
{
    QByteArray random(bytes, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(random.data()), bytes / 4);
    return Base64Url(random);
}

// "name=value" pairs joined by "&", every value percent-encoded but for the unreserved
// characters (a "+" in a code must not arrive as a blank).
std::string FormOf(std::initializer_list<std::pair<const char*, std::string>> fields)
{
    std::string form;
    for (const auto& [name, value] : fields) {
        if (value.empty())
            continue;
        if (!form.empty())
            form += '&';
        form.append(name).append("=").append(QUrl::toPercentEncoding(QString::fromStdString(value)).toStdString());
    }
    return form;
}

std::string Wiped(std::string& secret)
{
    std::string value = secret;
    WipeString(secret);
    return value;
}

} // namespace

std::string PkceVerifier() { return RandomText(32); }

std::string PkceChallenge(const std::string& verifier)
{
    return Base64Url(QCryptographicHash::hash(QByteArray::fromStdString(verifier), QCryptographicHash::Sha256));
}

// What the token endpoint answered.
struct TOAuthClient::TAnswer {
    std::string Access, Refresh, Error, Description;
    long long ExpiresIn = 0;
};

TOAuthClient::TOAuthClient(const TKeyring* keyring) : FKeyring(keyring) {}

TOAuthClient::~TOAuthClient()
{
    for (auto& [key, tokens] : FTokens)
        Drop(tokens);
}

TKeyringEntry TOAuthClient::EntryOf(const TAccountFields& account)
{
    TKeyringEntry entry = KeyringEntryOf(account);
    entry.Kind = "OAuth2 " + LowerCase(OAuthProviderOf(account));
    return entry;
}

void TOAuthClient::Drop(TTokens& tokens)
{
    WipeString(tokens.Access);
    WipeString(tokens.Refresh);
}

TCredentialResult TOAuthClient::Fail(TOAuthError error, std::string code, std::string description)
{
    FStatus.Error = error;
    FStatus.Code = std::move(code);
    FStatus.Description = std::move(description);
    return error == TOAuthError::Canceled ? TCredentialResult::Refused : TCredentialResult::Missing;
}

TCredentialResult TOAuthClient::Find(const TAccountFields& account, TCredential& credential)
{
    FStatus = {};
    FCanceled = false;
    const std::string name = OAuthProviderOf(account);
    const std::optional<TOAuthProvider> provider =
        FindOAuthProvider(name, SettingsFile.empty() ? SettingsFileName() : SettingsFile);
    if (!provider)
        return Fail(TOAuthError::NoProvider, name);
    if (provider->ClientId.empty())
        return Fail(TOAuthError::NoClientId, name);
    for (const std::string& url : {provider->AuthorizeUrl, provider->TokenUrl})
        if (!SafeEndpoint(url))
            return Fail(TOAuthError::UnsafeEndpoint, url);
    const TKeyringEntry entry = EntryOf(account);
    TTokens& tokens = FTokens[TKeyring::KeyOf(entry)];
    FStatus.Kept = tokens.Refresh.empty();
    if (tokens.Access.empty() || Clock::now() + ExpiryMargin >= tokens.Expiry) {
        std::string refresh = tokens.Refresh;
        if (refresh.empty() && FKeyring && FKeyring->Read(entry, refresh) != TKeyringResult::Ok)
            refresh.clear();
        bool again = false;
        if (!refresh.empty() && !Request(*provider, FormOf({{"grant_type", "refresh_token"}, {"refresh_token", Wiped(refresh)},
                                                            {"client_id", provider->ClientId},
                                                            {"client_secret", provider->ClientSecret}}),
                                         entry, tokens)) {
            if (FStatus.Code != "invalid_grant")
                return TCredentialResult::Missing;
            // Revoked or expired: forgotten, and signed in anew where someone can.
            ForgetRefresh(entry, tokens);
            FStatus = {};
            again = true;
        }
        if (tokens.Access.empty() && !OnSignInStart)
            return Fail(TOAuthError::SignInNeeded, again ? "invalid_grant" : "");
        if (tokens.Access.empty() && !SignIn(*provider, account, again, tokens))
            return FStatus.Error == TOAuthError::Canceled ? TCredentialResult::Refused : TCredentialResult::Missing;
    }
    credential = {TCredential::TOrigin::Token, tokens.Access, true};
    return TCredentialResult::Found;
}

bool TOAuthClient::SignIn(const TOAuthProvider& provider, const TAccountFields& account, bool again, TTokens& tokens)
{
    std::string verifier = PkceVerifier();
    const std::string state = RandomText(16);
    TOAuthListener listener(state);
    if (!listener.Listen()) {
        Fail(TOAuthError::ListenFailed);
        return false;
    }
    const QUrl authorize(QString::fromStdString(provider.AuthorizeUrl));
    const std::string query = FormOf({{"response_type", "code"}, {"client_id", provider.ClientId},
                                      {"redirect_uri", listener.RedirectUri()}, {"scope", provider.Scope},
                                      {"state", state}, {"code_challenge", PkceChallenge(verifier)},
                                      {"code_challenge_method", "S256"}, {"login_hint", account[afUserID]}});
    const std::string url = provider.AuthorizeUrl + (authorize.hasQuery() ? "&" : "?") + query;
    FSigningIn = true;
    if (OnSignInStart)
        OnSignInStart({url, provider.Name, again});
    const bool answered =
        mailbox::WaitInPump([&] { return listener.Answered() || FCanceled; }, Clock::now() + ListenTimeOut);
    FSigningIn = false;
    bool done = false;
    if (FCanceled)
        Fail(TOAuthError::Canceled);
    else if (!answered)
        Fail(TOAuthError::TimedOut);
    else if (!listener.Error().empty())
        Fail(TOAuthError::Denied, listener.Error(), listener.Description());
    else
        done = Request(provider, FormOf({{"grant_type", "authorization_code"}, {"code", listener.Code()},
                                         {"redirect_uri", listener.RedirectUri()}, {"client_id", provider.ClientId},
                                         {"client_secret", provider.ClientSecret}, {"code_verifier", verifier}}),
                       EntryOf(account), tokens);
    WipeString(verifier);
    if (OnSignInEnd)
        OnSignInEnd(FStatus);
    return done;
}

bool TOAuthClient::Request(const TOAuthProvider& provider, std::string form, const TKeyringEntry& entry, TTokens& tokens)
{
    TAnswer answer;
    const bool posted = Post(provider.TokenUrl, form, answer);
    WipeString(form);
    if (!posted)
        return false;
    if (!answer.Error.empty()) {
        Fail(TOAuthError::TokenRefused, answer.Error, answer.Description);
        return false;
    }
    if (answer.Access.empty()) {
        Fail(TOAuthError::BadAnswer);
        return false;
    }
    WipeString(tokens.Access);
    tokens.Access = Wiped(answer.Access);
    tokens.Expiry = Clock::now() + (answer.ExpiresIn > 0 ? std::chrono::seconds(answer.ExpiresIn) : AssumedLifetime);
    if (!answer.Refresh.empty())
        KeepRefresh(entry, Wiped(answer.Refresh), tokens);
    return true;
}

// In the keyring when it takes it, else in memory for this run.
void TOAuthClient::KeepRefresh(const TKeyringEntry& entry, std::string refresh, TTokens& tokens)
{
    WipeString(tokens.Refresh);
    FStatus.Kept = FKeyring && FKeyring->Store(entry, refresh) == TKeyringResult::Ok;
    if (FStatus.Kept)
        WipeString(refresh);
    else
        tokens.Refresh = std::move(refresh);
}

bool TOAuthClient::Post(const std::string& url, const std::string& form, TAnswer& answer)
{
    if (!FNetwork)
        FNetwork = std::make_unique<QNetworkAccessManager>();
    QNetworkRequest request(QUrl(QString::fromStdString(url)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(static_cast<int>(HttpTimeOut.count()));
    std::unique_ptr<QNetworkReply> reply(FNetwork->post(request, QByteArray::fromStdString(form)));
    const bool finished =
        mailbox::WaitInPump([&] { return reply->isFinished() || FCanceled; }, Clock::now() + HttpTimeOut + 1s);
    if (!finished) {
        reply->abort();
        Fail(FCanceled ? TOAuthError::Canceled : TOAuthError::NoAnswer, "", reply->errorString().toStdString());
        return false;
    }
    QByteArray body = reply->readAll();
    const QJsonObject json = QJsonDocument::fromJson(body).object();
    body.fill('\0');
    // An error answer (400, 401) carries its reason in JSON; without one it is the transfer's.
    if (json.isEmpty() && reply->error() != QNetworkReply::NoError) {
        Fail(TOAuthError::NoAnswer, "", reply->errorString().toStdString());
        return false;
    }
    answer.Error = json.value("error").toString().toStdString();
    answer.Description = json.value("error_description").toString().toStdString();
    if (json.value("token_type").toString().compare("bearer", Qt::CaseInsensitive) == 0) {
        answer.Access = json.value("access_token").toString().toStdString();
        answer.Refresh = json.value("refresh_token").toString().toStdString();
        answer.ExpiresIn = json.value("expires_in").toVariant().toLongLong();
    }
    return true;
}

void TOAuthClient::Rejected(const TAccountFields& account)
{
    const auto found = FTokens.find(TKeyring::KeyOf(EntryOf(account)));
    if (found != FTokens.end())
        WipeString(found->second.Access);
}

void TOAuthClient::Cancel() { FCanceled = true; }

TKeyringResult TOAuthClient::ForgetRefresh(const TKeyringEntry& entry, TTokens& tokens)
{
    Drop(tokens);
    return FKeyring ? FKeyring->Remove(entry) : TKeyringResult::Ok;
}

TKeyringResult TOAuthClient::Forget(const TAccountFields& account)
{
    const TKeyringEntry entry = EntryOf(account);
    TTokens& tokens = FTokens[TKeyring::KeyOf(entry)];
    const TKeyringResult result = ForgetRefresh(entry, tokens);
    FTokens.erase(TKeyring::KeyOf(entry));
    return result;
}
