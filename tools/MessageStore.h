#pragma once
// The mailbox behind the demo POP3 server: either messages held in memory for the life of
// the process (the generated demo mailbox), or the message files of a folder.
//
// A session takes a snapshot at login (Open) and works on it alone; QUIT hands the messages
// it marked to Delete. So sessions never see each other's numbering change, and a message
// deleted twice (two sessions) is simply gone. All members may be called from any thread.
//
// Folder mode: every regular file whose name does not begin with "." is one message, in
// the order of the names (bytes compared); the folder is read anew at each Open, and
// Delete removes the files. The unique id of a message is its file name when that is 1 to
// 70 printable ASCII characters without blanks, else a hash of the name.
//
// Message data is kept with CR LF line ends (a lone LF becomes CR LF, a missing final
// line end is added), as the server sends it; its size is what LIST reports.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace demo {

struct StoredMessage {
    std::string Uid;
    std::string Data;  // CR LF line ends, not dot-stuffed
    std::string Path;  // the file in folder mode, else empty
};

using MessagePtr = std::shared_ptr<const StoredMessage>;

// Raw message bytes as the server keeps them (see above).
std::string NormaliseLineEnds(const std::string& raw);

class MessageStore {
public:
    // Messages held in memory; uids given by the caller.
    static std::shared_ptr<MessageStore> InMemory(std::vector<StoredMessage> messages);
    // The message files of a folder.
    static std::shared_ptr<MessageStore> Folder(std::string path);

    // The current messages. False (and `error` set) when the folder cannot be read.
    bool Open(std::vector<MessagePtr>& messages, std::string& error);
    // Removes the messages (those already gone are skipped). False when a file could not
    // be removed; the others are removed anyway.
    bool Delete(const std::vector<MessagePtr>& messages);
    // The number of messages now (reads the folder in folder mode; -1 when it cannot).
    int Count();

private:
    MessageStore() = default;

    std::mutex FLock;
    std::string FFolder;  // empty: in memory
    std::vector<MessagePtr> FMessages;
};

}  // namespace demo
