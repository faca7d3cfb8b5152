#pragma once
// purgel-clean's run: the command line read, the account found in the account file (and,
// with --rules, its rules in the rules file), the mailbox listed through a TMailboxSession,
// and the command done: the list or the grouping by sender printed, or the messages that
// meet the conditions deleted and committed with QUIT.
//
// What is asked for goes to Out (messages, JSON, the deleted ones and the last line of a
// delete); failures, progress and a password prompt go to Err, each failure on one line after
// "purgel-clean: ". The deleted messages are printed only once the server confirmed QUIT, so
// Out never names a message that is still there. A person is asked for a password only through
// AskSecret; without it (input not a terminal) nothing is ever asked: a missing password, a
// certificate the system does not vouch for, end with what to do in the window.
//
// Exit status (sysexits.h): 0 done; 64 the command line (EX_USAGE); 67 no such account
// (EX_NOUSER); 69 server not found or refusing, the secure connection failed or was not
// trusted, a deletion refused (EX_UNAVAILABLE); 75 the connection lost or timed out
// (EX_TEMPFAIL: nothing deleted, or a QUIT unconfirmed); 77 login refused or no password
// (EX_NOPERM); 78 the account file unreadable or the account damaged, the rules file
// unreadable or with a line that cannot be read (EX_CONFIG).
//
// Waits in the thread's message pump (the session, the keyring): needs a QCoreApplication.
// Raises nothing but std::bad_alloc and the streams' own failures.

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "clean/CleanTexts.h"

struct TCleanIo {
    std::ostream& Out;
    std::ostream& Err;
    TLanguage Language = TLanguage::English;
    bool ShowProgress = false;   // Err is a terminal
    // Asks a person for a secret without echo, the prompt given (UTF-8); the answer, or none
    // when nobody answers. Empty: there is nobody to ask.
    std::function<std::optional<std::string>(const std::string& prompt)> AskSecret;
};

// `args` without the program's name; the exit status.
int RunClean(const std::vector<std::string>& args, TCleanIo& io);
