#pragma once
// The generated demo mailbox: a few hundred friendly Japanese and English mails of the
// kinds a mailbox fills with (newsletters, meeting notices, shop mails, replies, reports),
// made fresh at every start of the demo server, the same for the same seed.
//
// Subjects and senders are ISO-2022-JP encoded words (CreateHeaderString); bodies are in
// JIS, EUC-JP or Shift-JIS with a matching charset, or plain ASCII. The mailbox holds a
// welcome message first, a multipart message with a Base64 attachment, one with an
// X-UUENCODE attachment (bare uuencode lines, as the program's own codec writes and reads
// them), message sizes from under 1 KiB to a few MiB (a picture and a log file), and
// lines that begin with "." (dot-stuffed on the wire).

#include "tools/MessageStore.h"

#include <string>
#include <vector>

namespace demo {

enum class BodyCode { Ascii, Jis, Euc, Sjis };

struct DemoAttachment {
    std::string Name;
    std::string Bytes;
    bool Uuencoded = false;  // else Base64
};

// One message and the texts it was made from, so that what a client decodes can be
// compared with what was meant.
struct DemoMessage {
    std::string Raw;      // the message, CR LF line ends
    std::string Subject;  // Shift-JIS
    std::string Sender;   // Shift-JIS, "name <address>"
    std::string Text;     // the body text (the first part of a multipart), Shift-JIS, CR LF lines
    BodyCode Code = BodyCode::Ascii;
    std::vector<DemoAttachment> Attachments;
};

inline constexpr int DemoMailboxSize = 300;

std::vector<DemoMessage> GenerateMailbox(unsigned seed, int count = DemoMailboxSize);
// The messages as the server keeps them, with unique ids that stay the same for a seed.
std::vector<StoredMessage> ToStoredMessages(std::vector<DemoMessage> mailbox, unsigned seed);

}  // namespace demo
