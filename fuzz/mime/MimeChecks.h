#pragma once
// The checks the mime fuzz targets run on each input. A broken property is reported
// through `fail`; the fuzz targets abort there.
#include "fuzz/Check.h"
#include "jconv/Jconvert.h"
#include "mime/Charset.h"
#include "mime/MailText.h"

#include <string>
#include <string_view>

namespace MimeChecks {

using FuzzCheck::Fail;
using FuzzCheck::Require;

// HeaderText on the input as a value: always UTF-8; plain ASCII without words, line
// breaks or escapes comes back as it is; valid UTF-8 sent as one "B" word comes back whole.
inline void Header(std::string_view input, Fail fail)
{
    const std::string text = mime::HeaderText(input);
    Require(mime::IsUtf8(text), "HeaderText gave bytes that are not UTF-8", fail);
    bool plain = input.find("=?") == std::string_view::npos;
    for (char c : input)
        plain = plain && c >= 0x20 && c < 0x7F;
    if (plain)
        Require(text == input, "HeaderText changed a plain ASCII value", fail);
    if (mime::IsUtf8(input)) {
        const std::string word = "=?UTF-8?B?" + Jconvert::EncodeBase64(input) + "?=";
        Require(mime::HeaderText(word) == input, "a UTF-8 B word did not decode to its text", fail);
    }
}

// MessageText on the input as a whole message, and as the body of a UTF-8 text message:
// always UTF-8; valid UTF-8 without CR comes back as it is but for one last line end.
inline void Message(std::string_view input, Fail fail)
{
    Require(mime::IsUtf8(mime::MessageText(input)), "MessageText gave bytes that are not UTF-8", fail);
    if (mime::IsUtf8(input) && input.find('\r') == std::string_view::npos) {
        const std::string text = mime::MessageText("Content-Type: text/plain; charset=utf-8\r\n\r\n" + std::string(input));
        std::string_view expected = input;
        if (!expected.empty() && expected.back() == '\n')
            expected.remove_suffix(1);
        Require(text == expected, "MessageText changed a UTF-8 body", fail);
    }
}

}  // namespace MimeChecks
