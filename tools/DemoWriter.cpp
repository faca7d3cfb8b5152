#include "tools/DemoWriter.h"

#include "jconv/Jconvert.h"
#include "mime/Charset.h"
#include "tools/ModernMail.h"

#include <cstring>

namespace demo {

Stamp CivilFromMinutes(long long minutes)
{
    long long days = minutes / 1440;
    const int inDay = static_cast<int>(minutes % 1440);
    const int weekday = static_cast<int>((days + 4) % 7);  // 1970-01-01 was a Thursday
    days += 719468;
    const long long era = days / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    return {year, month, day, inDay / 60, inDay % 60, 0, weekday};
}

std::string Rfc2822(const Stamp& s)
{
    return Format("%s, %02d %s %d %02d:%02d:%02d +0900", WeekdaysEn[s.Weekday], s.Day, MonthsEn[s.Month - 1], s.Year,
                  s.Hour, s.Minute, s.Second);
}

namespace {

const char* const Recipient = "\x83" "f\x83\x82 <demo@purgel.example>" /* sjis: デモ <demo@purgel.example> */;

// ---- building the raw message ----

std::string Domain(const char* address)
{
    const char* at = std::strchr(address, '@');
    return at ? at + 1 : address;
}

// One line of Shift-JIS text as JIS that ends in ASCII, as each line of mail should (the
// converter leaves kanji or JIS-Roman mode open at the end).
std::string JisLine(const std::string& sjis)
{
    std::string jis = Jconvert::sjis2jis83(sjis);
    const std::size_t esc = jis.rfind('\x1b');
    if (esc != std::string::npos && jis.compare(esc, 3, "\x1b(B") != 0)
        jis += "\x1b(B";
    return jis;
}

std::string EncodedBody(const Lines& text, BodyCode code)
{
    std::string body;
    for (const std::string& line : text) {
        switch (code) {
        case BodyCode::Jis:
            body += JisLine(line);
            break;
        case BodyCode::Euc:
            body += Jconvert::sjis2euc(line);
            break;
        default:
            body += line;
        }
        body += CrLf;
    }
    return body;
}

const char* Charset(BodyCode code)
{
    switch (code) {
    case BodyCode::Jis:
        return "ISO-2022-JP";
    case BodyCode::Euc:
        return "EUC-JP";
    case BodyCode::Sjis:
        return "Shift_JIS";
    default:
        return "us-ascii";
    }
}

std::string TextHeaders(BodyCode code, bool labelled)
{
    const bool eightBit = code == BodyCode::Euc || code == BodyCode::Sjis;
    return std::string("Content-Type: text/plain") + (labelled ? std::string("; charset=") + Charset(code) : "") + CrLf +
           "Content-Transfer-Encoding: " + (eightBit ? "8bit" : "7bit") + CrLf;
}

// The program's own writer leaves the blank between two runs of double-byte characters as
// plain text between two words, and readers drop white space between adjacent encoded words
// (RFC 2047); such a value goes as a single word, the way mailers write it.
std::string HeaderValue(const std::string& sjis)
{
    const std::string words = Jconvert::CreateHeaderString(sjis);
    if (words.find("?= =?") == std::string::npos && words.find("?=\t=?") == std::string::npos)
        return words;
    return "=?ISO-2022-JP?B?" + Jconvert::EncodeBase64(JisLine(sjis)) + "?=";
}

// The trace and date lines every message begins with.
std::string Envelope(const char* address, const std::string& date, Rng& rng)
{
    const std::string domain = Domain(address);
    std::string raw;
    raw += "Return-Path: <" + std::string(address) + ">" + CrLf;
    raw += Format("Received: from mx.%s (mx.%s [192.0.2.%d])", domain.c_str(), domain.c_str(), rng.Between(1, 254)) + CrLf;
    raw += Format("\tby pop.purgel.example (Purgel demo) with ESMTP id %08X", static_cast<unsigned>(rng.Below(0x7FFFFFFF))) + CrLf;
    raw += "\tfor <demo@purgel.example>; " + date + CrLf;
    const int subnet = rng.Between(0, 255), client = rng.Between(1, 254);
    raw += Format("Received: from [10.%d.7.%d] (client.%s)", subnet, client, domain.c_str()) + CrLf;
    raw += Format("\tby mx.%s with ESMTPSA id %08X", domain.c_str(), static_cast<unsigned>(rng.Below(0x7FFFFFFF))) + CrLf;
    raw += "\tfor <demo@purgel.example>; " + date + CrLf;
    raw += "Date: " + date + CrLf;
    return raw;
}

std::string MessageId(const Stamp& when, int index, Rng& rng, const std::string& domain)
{
    return Format("Message-ID: <%04d%02d%02d%02d%02d.%d.%u@%s>", when.Year, when.Month, when.Day, when.Hour, when.Minute,
                  index + 1, static_cast<unsigned>(rng.Below(1000000)), domain.c_str()) + CrLf;
}

// What a reader of today's mail shows for a classic message's Shift-JIS text.
std::string ShownText(const DemoMessage& m)
{
    std::string text = m.Text;
    for (std::size_t at; (at = text.find(CrLf)) != std::string::npos;)
        text.replace(at, 2, "\n");
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    text = mime::SjisToUtf8(text);
    for (const DemoAttachment& a : m.Attachments)
        text += "\n\nFile \"" + a.Name + "\" extracted";
    return text;
}

}  // namespace

DemoMessage WriteModernMessage(Form form, int index, const Stamp& when, Rng& rng)
{
    ModernMail mail = MakeModernMail(form);
    const std::string address = mail.ShownSender.substr(mail.ShownSender.rfind('<') + 1, mail.ShownSender.rfind('>') - mail.ShownSender.rfind('<') - 1);
    DemoMessage m;
    m.Code = BodyCode::Utf8;
    m.Kind = form;
    m.Raw = Envelope(address.c_str(), Rfc2822(when), rng);
    m.Raw += "From: " + mail.From + CrLf + "To: " + Jconvert::CreateHeaderString(Recipient) + CrLf;
    m.Raw += "Subject: " + mail.Subject + CrLf + MessageId(when, index, rng, Domain(address.c_str()));
    m.Raw += "MIME-Version: 1.0" + CrLf + mail.Content;
    m.ShownSubject = std::move(mail.ShownSubject);
    m.ShownSender = std::move(mail.ShownSender);
    m.ShownText = std::move(mail.ShownText);
    m.Attachments = std::move(mail.Attachments);
    return m;
}

DemoMessage WriteMessage(Draft&& d, int index, const Stamp& when, Rng& rng)
{
    DemoMessage m;
    m.Subject = d.Subject;
    m.Sender = std::string(d.From->Name) + " <" + d.From->Address + ">";
    m.Text = Joined(d.Text);
    m.Code = d.Code;
    m.Kind = d.Kind;
    std::string raw = Envelope(d.From->Address, Rfc2822(when), rng);
    raw += "From: " + HeaderValue(m.Sender) + CrLf;
    raw += "To: " + Jconvert::CreateHeaderString(Recipient) + CrLf;
    raw += "Subject: " + HeaderValue(m.Subject) + CrLf;
    raw += MessageId(when, index, rng, Domain(d.From->Address));
    raw += "MIME-Version: 1.0" + CrLf;
    const std::string text = TextHeaders(m.Code, d.Kind != Form::UnlabelledEuc) + CrLf + EncodedBody(d.Text, m.Code);
    if (d.Attachments.empty()) {
        raw += text;
    } else {
        const std::string boundary = Format("purgel-demo-part-%04d", index + 1);
        raw += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"" + CrLf + CrLf;
        raw += "This is a multi-part message in MIME format." + CrLf + CrLf;
        raw += "--" + boundary + CrLf + text + CrLf;
        for (const DemoAttachment& a : d.Attachments) {
            raw += "--" + boundary + CrLf;
            raw += "Content-Type: " + d.AttachmentType + "; name=\"" + a.Name + "\"" + CrLf;
            raw += std::string("Content-Transfer-Encoding: ") + (a.Uuencoded ? "X-UUENCODE" : "base64") + CrLf;
            raw += "Content-Disposition: attachment; filename=\"" + a.Name + "\"" + CrLf + CrLf;
            raw += a.Uuencoded ? Jconvert::EncodeUU(a.Bytes, CrLf) : Jconvert::EncodeBase64R(a.Bytes, CrLf);
            if (raw.compare(raw.size() - 2, 2, CrLf) != 0)
                raw += CrLf;
            raw += CrLf;
        }
        raw += "--" + boundary + "--" + CrLf;
    }
    m.Raw = std::move(raw);
    m.Attachments = std::move(d.Attachments);
    m.ShownSubject = mime::SjisToUtf8(m.Subject);
    m.ShownSender = mime::SjisToUtf8(m.Sender);
    m.ShownText = ShownText(m);
    return m;
}

}  // namespace demo
