#include "tools/DemoMailbox.h"
#include "tools/DemoDrafts.h"

#include "jconv/Jconvert.h"

#include <algorithm>
#include <cstring>

namespace demo {

using namespace detail;

namespace {

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

std::string TextHeaders(BodyCode code)
{
    const bool eightBit = code == BodyCode::Euc || code == BodyCode::Sjis;
    return std::string("Content-Type: text/plain; charset=") + Charset(code) + CrLf +
           "Content-Transfer-Encoding: " + (eightBit ? "8bit" : "7bit") + CrLf;
}

DemoMessage Build(Draft&& d, int index, const Stamp& when, Rng& rng)
{
    DemoMessage m;
    m.Subject = d.Subject;
    m.Sender = std::string(d.From->Name) + " <" + d.From->Address + ">";
    m.Text = Joined(d.Text);
    m.Code = d.Code;
    const std::string date = Rfc2822(when);
    const std::string domain = Domain(d.From->Address);
    std::string raw;
    raw += "Return-Path: <" + std::string(d.From->Address) + ">" + CrLf;
    raw += Format("Received: from mx.%s (mx.%s [192.0.2.%d])", domain.c_str(), domain.c_str(), rng.Between(1, 254)) + CrLf;
    raw += Format("\tby pop.purgel.example (Purgel demo) with ESMTP id %08X", static_cast<unsigned>(rng.Below(0x7FFFFFFF))) + CrLf;
    raw += "\tfor <demo@purgel.example>; " + date + CrLf;
    const int subnet = rng.Between(0, 255), client = rng.Between(1, 254);
    raw += Format("Received: from [10.%d.7.%d] (client.%s)", subnet, client, domain.c_str()) + CrLf;
    raw += Format("\tby mx.%s with ESMTPSA id %08X", domain.c_str(), static_cast<unsigned>(rng.Below(0x7FFFFFFF))) + CrLf;
    raw += "\tfor <demo@purgel.example>; " + date + CrLf;
    raw += "Date: " + date + CrLf;
    raw += "From: " + Jconvert::CreateHeaderString(m.Sender) + CrLf;
    raw += "To: " + Jconvert::CreateHeaderString(Recipient) + CrLf;
    raw += "Subject: " + Jconvert::CreateHeaderString(m.Subject) + CrLf;
    raw += Format("Message-ID: <%04d%02d%02d%02d%02d.%d.%u@%s>", when.Year, when.Month, when.Day, when.Hour, when.Minute,
                  index + 1, static_cast<unsigned>(rng.Below(1000000)), domain.c_str()) + CrLf;
    raw += "MIME-Version: 1.0" + CrLf;
    if (d.Attachments.empty()) {
        raw += TextHeaders(m.Code) + CrLf + EncodedBody(d.Text, m.Code);
    } else {
        const std::string boundary = Format("purgel-demo-part-%04d", index + 1);
        raw += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"" + CrLf + CrLf;
        raw += "This is a multi-part message in MIME format." + CrLf + CrLf;
        raw += "--" + boundary + CrLf + TextHeaders(m.Code) + CrLf + EncodedBody(d.Text, m.Code) + CrLf;
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
    return m;
}

BodyCode JapaneseCode(Rng& rng)
{
    const unsigned r = rng.Below(4);
    return r < 2 ? BodyCode::Jis : r == 2 ? BodyCode::Euc : BodyCode::Sjis;
}

}  // namespace

std::vector<DemoMessage> GenerateMailbox(unsigned seed, int count)
{
    Rng rng(seed);
    std::vector<Kind> kinds(static_cast<std::size_t>(std::max(count, 0)));
    for (Kind& k : kinds)
        k = OrdinaryKind(rng);
    // The special messages at places of their own: the welcome first, the attachments early
    // (easy to find), the two big ones further down.
    const std::pair<int, Kind> specials[] = {{0, Kind::Welcome},        {3, Kind::SalesSheet},
                                             {7, Kind::Minutes},        {StudyWithDots, Kind::Study},
                                             {count / 2, Kind::Photos}, {count * 3 / 4 + 1, Kind::AccessLog}};
    for (const auto& [at, kind] : specials)
        if (at < count)
            kinds[static_cast<std::size_t>(at)] = kind;

    std::vector<DemoMessage> mailbox;
    mailbox.reserve(kinds.size());
    long long minutes = 28532160 + 8 * 60 + 30;  // 2024-04-01 08:30 (minutes since 1970)
    int issue = 120, order = 58000, build = 40, round = 1;
    for (int i = 0; i < count; ++i) {
        minutes += rng.Between(20, 40 * 60);
        Stamp when = CivilFromMinutes(minutes);
        when.Second = rng.Between(0, 59);
        const Stamp soon = CivilFromMinutes(minutes + 1440 * rng.Between(2, 10));
        Draft d;
        switch (kinds[static_cast<std::size_t>(i)]) {
        case Kind::Newsletter: d = Newsletter(rng, ++issue); break;
        case Kind::Meeting: d = Meeting(rng, soon); break;
        case Kind::Reply: d = Reply(rng); break;
        case Kind::Order: d = Order(rng, when, ++order); break;
        case Kind::Shipping: d = Shipping(rng, order); break;
        case Kind::Maintenance: d = Maintenance(soon); break;
        case Kind::Party: d = Party(rng, soon); break;
        case Kind::Library: d = Library(rng, when); break;
        case Kind::Cooking: d = Cooking(rng, when); break;
        case Kind::Study: d = Study(rng, round++, i == StudyWithDots ? MailTopic : static_cast<int>(rng.Below(4))); break;
        case Kind::Personal: d = Personal(rng); break;
        case Kind::BuildReport: d = BuildReport(rng, ++build); break;
        case Kind::Invitation: d = Invitation(soon); break;
        case Kind::ParcelNotice: d = ParcelNotice(rng); break;
        case Kind::Lunch: d = Lunch(rng); break;
        case Kind::Welcome: d = Welcome(); break;
        case Kind::SalesSheet: d = SalesSheet(); break;
        case Kind::Minutes: d = Minutes(); break;
        case Kind::Photos: d = Photos(rng); break;
        case Kind::AccessLog: d = AccessLog(rng, when); break;
        }
        if (d.Code != BodyCode::Ascii) {
            const Kind k = kinds[static_cast<std::size_t>(i)];
            const bool fixedJis = k == Kind::Welcome || k == Kind::SalesSheet || k == Kind::Minutes ||
                                  k == Kind::Photos || k == Kind::AccessLog;
            d.Code = fixedJis ? BodyCode::Jis : JapaneseCode(rng);
        }
        mailbox.push_back(Build(std::move(d), i, when, rng));
    }
    return mailbox;
}

std::vector<StoredMessage> ToStoredMessages(std::vector<DemoMessage> mailbox, unsigned seed)
{
    std::vector<StoredMessage> stored;
    stored.reserve(mailbox.size());
    for (std::size_t i = 0; i < mailbox.size(); ++i)
        stored.push_back({Format("demo-%u-%04zu", seed, i + 1), std::move(mailbox[i].Raw), ""});
    return stored;
}

}  // namespace demo

