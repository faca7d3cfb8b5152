#pragma once
// "LastLook.lst": what each account's mailbox ended with when it was last looked at, so that
// the next look can say how many messages are new since. Beside "Account.lst", a few hundred
// bytes per account.
//
// A look remembers the time it was taken and the identities of the last messages of the
// mailbox (at most TailLength, the newest last): the UIDL where the server gave one, else a
// hash of the Message-ID (or of the whole header). POP3 numbers messages in the order they
// arrived, so the messages after the latest remembered one still on the server are new. When
// none of them is left (all deleted since), the messages dated after the look count as new.
//
// One line per account: the account's key (AccountKey), the time in seconds since the epoch,
// the identities separated by blanks; quoted and joined like the lines of "Account.lst", CR LF
// after each. Loading never fails (lines without three fields are skipped); Remember raises
// nothing and leaves a file it cannot read untouched. Saving is SaveFileWhole's (mode 0600,
// never partial).

#include <optional>
#include <string>
#include <vector>

#include "mailbox/MessageStore.h"

struct TLastLook {
    std::string Account;
    long long Time = 0;
    std::vector<std::string> Tail;
    bool operator==(const TLastLook&) const = default;
};

constexpr int TailLength = 16;

// "" for a record known by neither its UIDL nor its header.
std::string MessageIdentity(const TMessageRecord& record);
// The look at a store now: its last identities, deleted messages left out.
TLastLook LookAt(const std::string& account, const TMessageStore& store, long long now);
// How many messages of the store are new since `look`.
int NewSince(const TLastLook& look, const TMessageStore& store);

std::vector<TLastLook> LoadLastLooks(const std::string& fileName);
std::optional<TLastLook> FindLastLook(const std::vector<TLastLook>& looks, const std::string& account);
// Puts `look` in place of the account's earlier one; true when the file was written.
bool RememberLook(const std::string& fileName, const TLastLook& look);
