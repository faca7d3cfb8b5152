#pragma once
// The messages of today's mail in the demo mailbox, beside its classic Japanese ones: UTF-8
// subjects in "B" and "Q" words, a long subject split between words inside a character,
// quoted-printable UTF-8, an HTML-only newsletter and an attachment named the RFC 2231
// way. Each comes with the text a reader of today's mail shows for it (mime/MailText.h).

#include "tools/DemoMailbox.h"

#include <string>
#include <vector>

namespace demo {

struct ModernMail {
    std::string From, Subject;  // raw header values, 7-bit, folded where long
    std::string Content;        // the Content-* header lines, the empty line and the body, CR LF
    std::string ShownSender, ShownSubject, ShownText;  // UTF-8
    std::vector<DemoAttachment> Attachments;
};

// One of the UTF-8 forms (Utf8Subject .. NamedAttachment); any other form gives an empty mail.
ModernMail MakeModernMail(Form form);

}  // namespace demo
