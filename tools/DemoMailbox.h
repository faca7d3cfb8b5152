#pragma once
// The generated demo mailbox: a few hundred friendly Japanese and English mails of the
// kinds a mailbox fills with (newsletters, meeting notices, shop mails, replies, reports),
// made fresh at every start of the demo server, the same for the same seed.
//
// Subjects and senders are ISO-2022-JP encoded words (CreateHeaderString, or one word for a
// value whose blank would fall between two words); bodies are in
// JIS, EUC-JP or Shift-JIS with a matching charset, or plain ASCII. The mailbox holds a
// welcome message first, a multipart message with a Base64 attachment, one with an
// X-UUENCODE attachment (bare uuencode lines, as the program's own codec writes and reads
// them), message sizes from under 1 KiB to a few MiB (a picture and a log file), and
// lines that begin with "." (dot-stuffed on the wire).
//
// Near its top the mailbox also holds one message of each form of today's mail (Form): UTF-8
// subjects in "B" and "Q" words, a subject split between words inside a character,
// quoted-printable UTF-8, an HTML-only newsletter, an attachment named only the RFC 2231
// way, and EUC-JP text that declares no charset.

#include "tools/MessageStore.h"

#include <string>
#include <vector>

namespace demo {

enum class BodyCode { Ascii, Jis, Euc, Sjis, Utf8 };

// How a message is written: Classic as the program's own route reads it (ISO-2022-JP words,
// a declared Japanese charset); the others in the forms of today's mail (tools/ModernMail.h).
enum class Form { Classic, Utf8Subject, QuotedSubject, SplitSubject, QuotedPrintable, HtmlOnly, NamedAttachment, UnlabelledEuc };

struct DemoAttachment {
    std::string Name;
    std::string Bytes;
    bool Uuencoded = false;  // else Base64
};

// One message and the texts it was made from, so that what a client decodes can be
// compared with what was meant.
struct DemoMessage {
    std::string Raw;      // the message, CR LF line ends
    std::string Subject;  // Shift-JIS; empty for the UTF-8 forms
    std::string Sender;   // Shift-JIS, "name <address>"; empty for the UTF-8 forms
    std::string Text;     // the body text (the first part of a multipart), Shift-JIS, CR LF lines; empty for the UTF-8 forms
    BodyCode Code = BodyCode::Ascii;
    Form Kind = Form::Classic;
    std::vector<DemoAttachment> Attachments;
    // What a reader of today's mail shows (mime/MailText.h), UTF-8, for every message: the
    // subject and sender unfolded and decoded, the text with "\n" lines and the attachments listed.
    std::string ShownSubject, ShownSender, ShownText;
};

inline constexpr int DemoMailboxSize = 300;

std::vector<DemoMessage> GenerateMailbox(unsigned seed, int count = DemoMailboxSize);
// The messages as the server keeps them, with unique ids that stay the same for a seed.
std::vector<StoredMessage> ToStoredMessages(std::vector<DemoMessage> mailbox, unsigned seed);

}  // namespace demo
