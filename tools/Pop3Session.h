#pragma once
// The server side of one POP3 dialogue (RFC 1939), without the socket: a command line in,
// the bytes to send back out. The demo server runs one per connection.
//
// AUTHORIZATION: USER, PASS, QUIT, CAPA. TRANSACTION: STAT, LIST [n], UIDL [n], TOP n k,
// RETR n, DELE n, RSET, NOOP, QUIT, CAPA. Deletions are only marks until QUIT, which hands
// them to the store before its reply is sent; a session that ends without QUIT deletes
// nothing. Multi-line replies are dot-stuffed and end with ".". Every refusal is "-ERR"
// with a short reason, and the session stays where it was.

#include "tools/MessageStore.h"

#include <memory>
#include <string>
#include <vector>

namespace demo {

struct Credentials {
    std::string User;      // empty: any user name is accepted
    std::string Password;
};

struct Pop3Reply {
    std::string Bytes;   // one or more CR LF lines
    bool Close = false;  // the session is over: close after sending
};

class Pop3Session {
public:
    Pop3Session(std::shared_ptr<MessageStore> store, Credentials credentials);

    static std::string Greeting();
    // One command line, its line end already removed.
    Pop3Reply Handle(const std::string& line);
    bool LoggedIn() const { return FLoggedIn; }

private:
    Pop3Reply Authorization(const std::string& command, const std::string& args);
    Pop3Reply Transaction(const std::string& command, const std::string& args);
    Pop3Reply Quit();
    // The message numbered by `arg` (1-based, not deleted), or an "-ERR" in `refusal`.
    int MessageIndex(const std::string& arg, std::string& refusal) const;
    std::string Listing(const std::string& args, bool uids) const;

    std::shared_ptr<MessageStore> FStore;
    Credentials FCredentials;
    std::string FUser;
    bool FUserGiven = false;
    bool FLoggedIn = false;
    std::vector<MessagePtr> FMessages;
    std::vector<bool> FDeleted;
};

// The message as a multi-line reply body: lines beginning with "." get another one, and
// the terminating "." line follows.
std::string DotStuffed(const std::string& data);
// The header (up to and including the empty line that ends it) and the first `lines` lines
// of the body; the whole message when it has no empty line.
std::string TopOf(const std::string& data, unsigned long long lines);

}  // namespace demo
