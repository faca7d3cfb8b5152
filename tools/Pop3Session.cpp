#include "tools/Pop3Session.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace demo {

namespace {

const std::string Ok = "+OK";
const std::string CrLf = "\r\n";

std::string Line(const std::string& text) { return text + CrLf; }

Pop3Reply Reply(const std::string& text, bool close = false) { return {Line(text), close}; }

// Decimal digits only (no sign, no blank); false for anything else. A number too big for
// the type gives the largest value: it names no message and counts more lines than any has.
bool ParseNumber(const std::string& text, unsigned long long& value)
{
    if (text.empty())
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const unsigned digit = static_cast<unsigned>(c - '0');
        value = value > (ULLONG_MAX - digit) / 10 ? ULLONG_MAX : value * 10 + digit;
    }
    return true;
}

std::vector<std::string> Words(const std::string& args)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < args.size()) {
        if (args[i] == ' ') {
            ++i;
            continue;
        }
        std::size_t end = args.find(' ', i);
        if (end == std::string::npos)
            end = args.size();
        words.push_back(args.substr(i, end - i));
        i = end;
    }
    return words;
}

std::string Capabilities()
{
    return Line(Ok + " Capability list follows") + Line("TOP") + Line("USER") + Line("UIDL") + Line(".");
}

}  // namespace

std::string DotStuffed(const std::string& data)
{
    std::string out;
    out.reserve(data.size() + data.size() / 64 + 8);
    bool lineStart = true;
    for (char c : data) {
        if (lineStart && c == '.')
            out += '.';
        out += c;
        lineStart = c == '\n';
    }
    if (!lineStart)
        out += CrLf;  // the terminator must begin a line of its own
    out += Line(".");
    return out;
}

std::string TopOf(const std::string& data, unsigned long long lines)
{
    std::size_t end = 2;  // a message without header lines begins with the empty line
    if (data.rfind("\r\n", 0) != 0) {
        end = data.find("\r\n\r\n");
        if (end == std::string::npos)
            return data;
        end += 4;
    }
    for (unsigned long long n = 0; n < lines && end < data.size(); ++n) {
        const std::size_t lf = data.find('\n', end);
        end = lf == std::string::npos ? data.size() : lf + 1;
    }
    return data.substr(0, end);
}

Pop3Session::Pop3Session(std::shared_ptr<MessageStore> store, Credentials credentials)
    : FStore(std::move(store)), FCredentials(std::move(credentials))
{
}

std::string Pop3Session::Greeting()
{
    return Line(Ok + " Purgel demo POP3 server ready.");
}

Pop3Reply Pop3Session::Handle(const std::string& line)
{
    const std::size_t blank = line.find(' ');
    std::string command = line.substr(0, blank);
    std::transform(command.begin(), command.end(), command.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::string args = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (command.empty())
        return Reply("-ERR Empty command.");
    if (command == "CAPA")
        return {Capabilities(), false};
    if (command == "QUIT")
        return Quit();
    return FLoggedIn ? Transaction(command, args) : Authorization(command, args);
}

Pop3Reply Pop3Session::Authorization(const std::string& command, const std::string& args)
{
    if (command == "USER") {
        if (args.empty())
            return Reply("-ERR USER needs a user name.");
        FUser = args;
        FUserGiven = true;
        return Reply(Ok);
    }
    if (command == "PASS") {
        if (!FUserGiven)
            return Reply("-ERR Give USER first.");
        FUserGiven = false;
        const bool userOk = FCredentials.User.empty() || FUser == FCredentials.User;
        if (!userOk || args != FCredentials.Password)
            return Reply("-ERR [AUTH] Authentication failed.");
        std::string error;
        if (!FStore->Open(FMessages, error))
            return Reply("-ERR [SYS/TEMP] " + error + ".");
        FDeleted.assign(FMessages.size(), false);
        FLoggedIn = true;
        return Reply(Ok + " Logged in.");
    }
    static const char* const TransactionOnly[] = {"STAT", "LIST", "UIDL", "TOP", "RETR", "DELE", "RSET", "NOOP"};
    for (const char* c : TransactionOnly)
        if (command == c)
            return Reply("-ERR Log in first (USER and PASS).");
    return Reply("-ERR Unknown command: " + command);
}

int Pop3Session::MessageIndex(const std::string& arg, std::string& refusal) const
{
    unsigned long long n = 0;
    if (!ParseNumber(arg, n)) {
        refusal = "-ERR Invalid message number: " + arg;
        return -1;
    }
    if (n == 0 || n > FMessages.size()) {
        refusal = "-ERR There's no message " + arg + ".";
        return -1;
    }
    if (FDeleted[n - 1]) {
        refusal = "-ERR Message " + arg + " is deleted.";
        return -1;
    }
    return static_cast<int>(n - 1);
}

std::string Pop3Session::Listing(const std::string& args, bool uids) const
{
    const std::vector<std::string> words = Words(args);
    auto entry = [&](std::size_t i) {
        return std::to_string(i + 1) + " " + (uids ? FMessages[i]->Uid : std::to_string(FMessages[i]->Data.size()));
    };
    if (words.size() > 1)
        return Line("-ERR Noise after the message number.");
    if (words.size() == 1) {
        std::string refusal;
        const int i = MessageIndex(words[0], refusal);
        return i < 0 ? Line(refusal) : Line(Ok + " " + entry(static_cast<std::size_t>(i)));
    }
    std::size_t count = 0, octets = 0;
    std::string body;
    for (std::size_t i = 0; i < FMessages.size(); ++i) {
        if (FDeleted[i])
            continue;
        ++count;
        octets += FMessages[i]->Data.size();
        body += Line(entry(i));
    }
    const std::string head =
        uids ? Ok : Ok + " " + std::to_string(count) + " messages (" + std::to_string(octets) + " octets)";
    return Line(head) + body + Line(".");
}

Pop3Reply Pop3Session::Transaction(const std::string& command, const std::string& args)
{
    if (command == "STAT") {
        std::size_t count = 0, octets = 0;
        for (std::size_t i = 0; i < FMessages.size(); ++i)
            if (!FDeleted[i]) {
                ++count;
                octets += FMessages[i]->Data.size();
            }
        return Reply(Ok + " " + std::to_string(count) + " " + std::to_string(octets));
    }
    if (command == "LIST" || command == "UIDL")
        return {Listing(args, command == "UIDL"), false};
    if (command == "RETR" || command == "DELE" || command == "TOP") {
        const std::vector<std::string> words = Words(args);
        const std::size_t wanted = command == "TOP" ? 2 : 1;
        if (words.size() != wanted)
            return Reply(command == "TOP" ? "-ERR TOP needs a message number and a line count."
                                          : "-ERR " + command + " needs one message number.");
        std::string refusal;
        const int i = MessageIndex(words[0], refusal);
        if (i < 0)
            return Reply(refusal);
        const std::string& data = FMessages[static_cast<std::size_t>(i)]->Data;
        if (command == "DELE") {
            FDeleted[static_cast<std::size_t>(i)] = true;
            return Reply(Ok + " Marked to be deleted.");
        }
        if (command == "RETR")
            return {Line(Ok + " " + std::to_string(data.size()) + " octets") + DotStuffed(data), false};
        unsigned long long lines = 0;
        if (!ParseNumber(words[1], lines))
            return Reply("-ERR Invalid line count: " + words[1]);
        return {Line(Ok) + DotStuffed(TopOf(data, lines)), false};
    }
    if (command == "RSET") {
        FDeleted.assign(FMessages.size(), false);
        return Reply(Ok);
    }
    if (command == "NOOP")
        return Reply(Ok);
    if (command == "USER" || command == "PASS")
        return Reply("-ERR Already logged in.");
    return Reply("-ERR Unknown command: " + command);
}

Pop3Reply Pop3Session::Quit()
{
    if (!FLoggedIn)
        return Reply(Ok + " Logging out.", true);
    std::vector<MessagePtr> doomed;
    for (std::size_t i = 0; i < FMessages.size(); ++i)
        if (FDeleted[i])
            doomed.push_back(FMessages[i]);
    FLoggedIn = false;
    if (doomed.empty())
        return Reply(Ok + " Logging out.", true);
    if (!FStore->Delete(doomed))
        return Reply("-ERR Some deleted messages were not removed.", true);
    return Reply(Ok + " Logging out, messages deleted.", true);
}

}  // namespace demo
