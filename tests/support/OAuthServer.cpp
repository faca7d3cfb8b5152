#include "tests/support/OAuthServer.h"

#include <openssl/evp.h>
#include <openssl/sha.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/Timing.h"

namespace testsupport {

namespace {

std::string Decoded(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size())
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)), i += 2;
        else
            out += text[i] == '+' ? ' ' : text[i];
    }
    return out;
}

std::map<std::string, std::string> Form(const std::string& text)
{
    std::map<std::string, std::string> form;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('&', at), text.size());
        const std::string pair = text.substr(at, end - at);
        const std::size_t eq = pair.find('=');
        if (eq != std::string::npos)
            form[Decoded(pair.substr(0, eq))] = Decoded(pair.substr(eq + 1));
        at = end + 1;
    }
    return form;
}

std::string S256(const std::string& verifier)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
    unsigned char text[64];
    std::string b64(reinterpret_cast<char*>(text), static_cast<std::size_t>(EVP_EncodeBlock(text, digest, sizeof digest)));
    for (char& c : b64)
        c = c == '+' ? '-' : c == '/' ? '_' : c;
    return b64.substr(0, b64.find('='));
}

std::string Reply(int status, const std::string& headers, const std::string& body)
{
    return "HTTP/1.1 " + std::to_string(status) + " X\r\n" + headers + "Content-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// Reads one request (or, for a client, the whole answer up to the close), each read within a generous 5 s.
std::string ReadMessage(int fd, bool toClose)
{
    std::string data;
    char buf[4096];
    for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, static_cast<int>(Generous(std::chrono::seconds(5)).count())) > 0;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        data.append(buf, static_cast<std::size_t>(n));
        const std::size_t head = data.find("\r\n\r\n");
        const std::size_t length = data.find("Content-Length: ");
        if (!toClose && head != std::string::npos &&
            (length == std::string::npos || data.size() >= head + 4 + std::stoul(data.substr(length + 16))))
            break;
    }
    return data;
}

} // namespace

OAuthServer::OAuthServer(std::string user) : FUser(std::move(user))
{
    Start(16, [this] { Run(); });
}

OAuthServer::~OAuthServer() { Stop(); }

std::string OAuthServer::Settings(const std::string& name) const
{
    return "[OAuth2 " + name + "]\nAuthorizeUrl=" + Url("/authorize") + "\nTokenUrl=" + Url("/token") +
           "\nClientId=purgel-test\nScope=pop\n";
}

void OAuthServer::SetExpiresIn(int seconds) { std::lock_guard l(FLock); FExpiresIn = seconds; }
void OAuthServer::Deny() { std::lock_guard l(FLock); FDeny = true; }
void OAuthServer::ExpireAccessTokens() { std::lock_guard l(FLock); FAccess.clear(); }
void OAuthServer::RevokeRefreshTokens() { std::lock_guard l(FLock); FRefresh.clear(); }
int OAuthServer::Grants(const std::string& type) const { std::lock_guard l(FLock); return FGrants.count(type) ? FGrants.at(type) : 0; }

void OAuthServer::Run()
{
    for (int fd; (fd = NextClient()) >= 0; ::close(fd)) {
        const std::string request = ReadMessage(fd, false);
        const std::size_t sp1 = request.find(' '), sp2 = request.find(' ', sp1 + 1), head = request.find("\r\n\r\n");
        if (sp1 == std::string::npos || sp2 == std::string::npos || head == std::string::npos)
            continue;
        const std::string reply = Handle(request.substr(0, sp1), request.substr(sp1 + 1, sp2 - sp1 - 1), request.substr(head + 4));
        (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
}

std::string OAuthServer::Handle(const std::string& method, const std::string& target, const std::string& body)
{
    std::lock_guard l(FLock);
    const std::size_t q = target.find('?');
    const std::string path = target.substr(0, q);
    if (method == "GET" && path == "/authorize") {
        auto query = Form(q == std::string::npos ? "" : target.substr(q + 1));
        const bool valid = query["client_id"] == "purgel-test" && query["code_challenge_method"] == "S256" &&
                           query["redirect_uri"].rfind("http://127.0.0.1:", 0) == 0;
        if (!valid)
            return Reply(400, "", "{}");
        // A code that needs its escapes: "c/N+x".
        FCodes["c/" + std::to_string(++FSerial) + "+x"] = {query["code_challenge"], query["redirect_uri"]};
        const std::string answer = FDeny ? "error=access_denied" : "code=c%2F" + std::to_string(FSerial) + "%2Bx";
        FDeny = false;
        return Reply(302, "Location: " + query["redirect_uri"] + "/?" + answer + "&state=" + query["state"] + "\r\n", "");
    }
    if (method == "POST" && path == "/token")
        return Token(Form(body));
    if (method == "POST" && path == "/introspect") {
        const bool active = FAccess.count(Form(body)["token"]) > 0;
        return Reply(200, "", active ? "{\"active\":true,\"email\":\"" + FUser + "\"}" : "{\"active\":false}");
    }
    return Reply(404, "", "{}");
}

std::string OAuthServer::Token(const std::map<std::string, std::string>& form)
{
    const auto field = [&form](const char* name) { return form.count(name) ? form.at(name) : std::string(); };
    const std::string type = field("grant_type");
    ++FGrants[type];
    bool granted = false;
    if (type == "authorization_code" && FCodes.count(field("code"))) {
        const Grant grant = FCodes.at(field("code"));
        FCodes.erase(field("code"));
        granted = grant.RedirectUri == field("redirect_uri") && grant.Challenge == S256(field("code_verifier"));
    } else if (type == "refresh_token") {
        granted = FRefresh.erase(field("refresh_token")) > 0;
    }
    if (!granted || field("client_id") != "purgel-test")
        return Reply(400, "", "{\"error\":\"invalid_grant\",\"error_description\":\"Bad grant.\"}");
    const std::string access = "at-" + std::to_string(++FSerial), refresh = "rt-" + std::to_string(FSerial);
    FAccess.insert(access);
    FRefresh.insert(refresh);
    return Reply(200, "", "{\"access_token\":\"" + access + "\",\"token_type\":\"Bearer\",\"expires_in\":" +
                              std::to_string(FExpiresIn) + ",\"refresh_token\":\"" + refresh + "\"}");
}

int OAuthServer::FollowAuthorization(const std::string& url)
{
    int status = 0;
    for (std::string next = url; !next.empty();) {
        // http://127.0.0.1:PORT/target
        const std::size_t colon = next.find(':', 7), slash = next.find('/', 7);
        const int fd = DialLoopback(static_cast<std::uint16_t>(std::stoi(next.substr(colon + 1, slash - colon - 1))));
        if (fd < 0)
            return 0;
        const std::string request = "GET " + next.substr(slash) + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        const std::string answer = ReadMessage(fd, true);
        ::close(fd);
        status = answer.size() > 12 ? std::stoi(answer.substr(9, 3)) : 0;
        const std::size_t at = answer.find("Location: ");
        next = at == std::string::npos ? "" : answer.substr(at + 10, answer.find("\r\n", at) - at - 10);
    }
    return status;
}

} // namespace testsupport
