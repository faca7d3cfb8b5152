// The OAuth 2.0 sign-in of the POP3 dialogue: SASL AUTH (RFC 5034) with XOAUTH2 or
// OAUTHBEARER (RFC 7628), in place of USER/PASS.
#include "pop3/Nmpop3.h"
#include "pop3/Pop3Reply.h"

#include "jconv/Jconvert.h"
#include "runtime/SysUtils.h"

#include <algorithm>

using namespace pop3text;

namespace {

// A "+" line: the server waits for the next part of the exchange.
bool IsContinuation(std::string_view reply)
{
    return StripLineEnd(FirstWord(reply)) == "+";
}

// The base64 text after "+ " of a continuation line.
std::string_view ChallengeText(std::string_view reply)
{
    reply = StripLineEnd(reply);
    return reply.size() > 2 ? reply.substr(2) : std::string_view();
}

// A user name as a GS2 header's saslname (RFC 5801): "," and "=" escaped.
std::string SaslName(std::string_view user)
{
    std::string name;
    for (char c : user)
        name += c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c);
    return name;
}

} // namespace

std::string TNMPOP3::SaslResponse(TSaslMechanism Mechanism, std::string_view User, std::string_view Token,
                                  std::string_view Host, int Port)
{
    std::string response;
    if (Mechanism == TSaslMechanism::OAuthBearer) {
        response.append("n,a=").append(SaslName(User)).append(",\x01host=").append(Host);
        response.append("\x01port=").append(std::to_string(Port));
    } else {
        response.append("user=").append(User);
    }
    response.append("\x01" "auth=Bearer ").append(Token).append("\x01\x01");
    return response;
}

std::string TNMPOP3::ChallengeStatus(std::string_view Json)
{
    // The one member the dialogue needs; its value is a string or a bare number.
    std::size_t at = Json.find("\"status\"");
    if (at == std::string_view::npos)
        return "";
    at = Json.find_first_not_of(" \t\r\n", at + 8);
    if (at == std::string_view::npos || Json[at] != ':')
        return "";
    at = Json.find_first_not_of(" \t\r\n", at + 1);
    if (at == std::string_view::npos)
        return "";
    std::string value;
    if (Json[at] == '"') {
        for (++at; at < Json.size() && Json[at] != '"'; ++at) {
            if (Json[at] == '\\' && at + 1 < Json.size())
                ++at;
            value += Json[at];
        }
        return value;
    }
    const std::size_t end = Json.find_first_of(",} \t\r\n", at);
    return std::string(Json.substr(at, end == std::string_view::npos ? end : end - at));
}

void TNMPOP3::SignInWithToken()
{
    const bool bearer = std::any_of(Capabilities.begin(), Capabilities.end(), [](const std::string& line) {
        if (!AnsiSameText(FirstWord(line), "SASL"))
            return false;
        for (std::size_t at = 0; at < line.size();) {
            const std::size_t end = std::min(line.find(' ', at), line.size());
            if (AnsiSameText(std::string_view(line).substr(at, end - at), "OAUTHBEARER"))
                return true;
            at = end + 1;
        }
        return false;
    });
    // A server that names no mechanism may still take XOAUTH2: its answer decides.
    SaslMechanism = bearer ? TSaslMechanism::OAuthBearer : TSaslMechanism::XOAuth2;
    std::string reply = Command(bearer ? "AUTH OAUTHBEARER" : "AUTH XOAUTH2");
    if (IsContinuation(reply)) {
        std::string raw = SaslResponse(SaslMechanism, UserID, AccessToken, Host, Port);
        std::string line = Jconvert::EncodeBase64(raw);
        WipeString(raw);
        reply = Command(line);
        WipeString(line);
        if (IsContinuation(reply)) {
            // The error challenge: answered so that the server closes the exchange with -ERR.
            TokenRefusal.Status = ChallengeStatus(Jconvert::DecodeBase64(ChallengeText(reply)));
            reply = Command(bearer ? "AQ==" : "");
            if (ContainsOk(reply))
                reply = "-ERR " + TokenRefusal.Status;   // a refusal all the same
        }
    }
    if (ContainsOk(reply))
        return;
    TokenRefusal.Refused = true;
    TokenRefusal.Reply = std::string(StripLineEnd(reply));
    throw Exception("Token refused");
}
