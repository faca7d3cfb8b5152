#pragma once
// TOAuthListener: the loopback redirect of an OAuth 2.0 sign-in (RFC 8252). A listener on
// 127.0.0.1 at a port the system picks; the browser brings the authorization server's answer
// to it as "GET /?code=...&state=..." (or "error=..."). The one request whose `state` is the
// sign-in's is answered with a short page and taken; any other request (another path, no or
// another state) is answered 404 or 400 and changes nothing. Then the listener closes.
//
// It works in the thread's event dispatcher: the owner waits in the pump until Answered().
// Nothing is raised but std::bad_alloc. Lives on the thread that made it.

#include <memory>
#include <string>

class QTcpServer;

class TOAuthListener {
public:
    explicit TOAuthListener(std::string state);
    ~TOAuthListener();
    TOAuthListener(const TOAuthListener&) = delete;
    TOAuthListener& operator=(const TOAuthListener&) = delete;

    // False when no port could be had.
    bool Listen();
    // "http://127.0.0.1:<port>", the redirect URI of the sign-in.
    std::string RedirectUri() const;

    bool Answered() const { return FAnswered; }
    // The answer: the code, or the error and its description (UTF-8, as the server sent them).
    const std::string& Code() const { return FCode; }
    const std::string& Error() const { return FError; }
    const std::string& Description() const { return FDescription; }

private:
    void Serve(class QTcpSocket* socket);
    // The status and the page for a request line's target; takes the answer when it is one.
    std::pair<int, std::string> Answer(const std::string& target);

    std::string FState;
    std::unique_ptr<QTcpServer> FServer;
    unsigned short FPort = 0;
    bool FAnswered = false;
    std::string FCode, FError, FDescription;
};
