#pragma once
// Account passwords in the desktop keyring (the Secret Service of GNOME Keyring or KWallet,
// through QtKeychain), so that "Account.lst" can leave its password field empty.
//
// An entry is keyed by account ID, receiving server and port, not by the account's name, so
// renaming an account keeps its password; a change of ID, server or port moves the entry
// (Move). In the keyring the entry shows as "<ID>@<server>:<port>" under the service
// "Purgel"; a host name holds no '@', so the last '@' splits ID from server.
//
// Text: the fields and the password are Shift-JIS bytes like every account field. The key is
// shown to people (keyring managers list it), so it is converted to Unicode (mime::SjisToQString); the
// password is stored as binary data, the very bytes the file would hold, so that moving it
// between the file and the keyring never changes it (a keyring manager shows it base64-coded).
//
// Waiting: every call waits for the keyring in the thread's message pump
// (platform::HandleMessage), never longer than TimeOut, so the windows stay alive meanwhile;
// callers must be ready for user input handled during the wait. A call that times out leaves
// its request to finish (or not) on its own; its answer is ignored. QtKeychain runs one
// request at a time, so a keyring that stopped answering makes the next calls time out too.
// Nothing is raised: every outcome is a TKeyringResult. Must be called on the application's
// thread, with a QCoreApplication (or QApplication) in place.

#include <chrono>
#include <string>

#include "mailbox/AccountFile.h"

enum class TKeyringResult {
    Ok,
    NotFound,     // no such entry
    NoKeyring,    // no session bus, or no keyring on it
    Refused,      // the keyring denied access: it is locked (and the user did not unlock it)
    Failed,       // any other error the keyring reported
    TimedOut,     // no answer within TimeOut
};

// What an entry is keyed by: the account's ID, receiving server and port fields, and for
// what is not the account's password (an OAuth 2.0 sign-in) what it is.
struct TKeyringEntry {
    TKeyringEntry() = default;
    TKeyringEntry(std::string userID, std::string server, std::string port, std::string kind = "")
        : UserID(std::move(userID)), Server(std::move(server)), Port(std::move(port)), Kind(std::move(kind))
    {
    }
    std::string UserID;
    std::string Server;
    std::string Port;
    std::string Kind;   // "" for the password
    bool operator==(const TKeyringEntry&) const = default;
};

inline TKeyringEntry KeyringEntryOf(const TAccountFields& account)
{
    return {account[afUserID], account[afServer], account[afPort]};
}

class TKeyring {
public:
    // The service name the entries are stored under; tests use their own.
    std::string Service = "Purgel";
    std::chrono::milliseconds TimeOut{10000};

    // True when a Secret Service answers on the session bus (it is started if the bus can
    // start it). False, within TimeOut, without a session bus or a keyring on it.
    bool IsAvailable() const;

    TKeyringResult Store(const TKeyringEntry& entry, const std::string& password) const;
    // `password` is set only on Ok.
    TKeyringResult Read(const TKeyringEntry& entry, std::string& password) const;
    // Ok also when there was no such entry.
    TKeyringResult Remove(const TKeyringEntry& entry) const;
    // Stores the password of `from` under `to`, then removes `from`. Ok when `from` equals
    // `to`; NotFound when `from` has no entry (nothing moved). On any failure the password
    // stays under `from` (and possibly under `to` too); never is it lost.
    TKeyringResult Move(const TKeyringEntry& from, const TKeyringEntry& to) const;

    // The key of an entry as the keyring lists it: "<ID>@<server>:<port>", after "<Kind> "
    // when the entry has a kind.
    static std::string KeyOf(const TKeyringEntry& entry);
};
