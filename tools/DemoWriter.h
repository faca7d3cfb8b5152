#pragma once
// What the demo mailbox's messages are made from, shared by the generator (DemoMailbox.cpp),
// and the writer that makes raw messages of them: the draft of a message, its sender, its
// date, the picks of one seeded generator. Internal to tools/.

#include "tools/DemoMailbox.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace demo {

using Lines = std::vector<std::string>;

inline const std::string CrLf = "\r\n";

inline std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Format(const char* format, ...)
{
    char buf[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return std::string(buf, static_cast<std::size_t>(std::max(0, std::min(n, static_cast<int>(sizeof buf) - 1))));
}

inline std::string Joined(const Lines& lines)
{
    std::string out;
    for (const std::string& l : lines)
        out += l + CrLf;
    return out;
}

// std::mt19937 gives the same numbers everywhere; the distributions of <random> do not,
// so the picks are made here.
class Rng {
public:
    explicit Rng(unsigned seed) : FEngine(seed) {}
    unsigned Below(unsigned n) { return static_cast<unsigned>(FEngine() % n); }
    int Between(int lo, int hi) { return lo + static_cast<int>(Below(static_cast<unsigned>(hi - lo + 1))); }
    template <class T, std::size_t N>
    const T& Pick(const T (&items)[N]) { return items[Below(N)]; }

private:
    std::mt19937 FEngine;
};

struct Person {
    const char* Name;  // Shift-JIS
    const char* Address;
    const char* Signature;  // how the person signs, Shift-JIS
};

inline const char* const WeekdaysEn[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
inline const char* const MonthsEn[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct Stamp {
    int Year, Month, Day, Hour, Minute, Second, Weekday;
};

// Minutes since 1970-01-01 00:00 as the civil date and time (proleptic Gregorian).
Stamp CivilFromMinutes(long long minutes);
// "Mon, 01 Apr 2024 08:30:00 +0900"
std::string Rfc2822(const Stamp& s);

// What a message is made from. Kind builders fill it; Build makes the raw message.
struct Draft {
    Draft() = default;
    Draft(const Person* from, std::string subject, Lines text, BodyCode code = BodyCode::Jis,
          std::vector<DemoAttachment> attachments = {}, std::string attachmentType = {})
        : From(from), Subject(std::move(subject)), Text(std::move(text)), Code(code),
          Attachments(std::move(attachments)), AttachmentType(std::move(attachmentType))
    {
    }

    const Person* From = nullptr;
    std::string Subject;
    Lines Text;
    BodyCode Code = BodyCode::Jis;  // Japanese drafts get their charset later
    std::vector<DemoAttachment> Attachments;
    std::string AttachmentType;
    Form Kind = Form::Classic;
};

// The raw message of a draft, as a Japanese mailer of the classic kind writes it, and one
// of today's forms (tools/ModernMail.h); both with what a reader of today's mail shows.
DemoMessage WriteMessage(Draft&& d, int index, const Stamp& when, Rng& rng);
DemoMessage WriteModernMessage(Form form, int index, const Stamp& when, Rng& rng);

}  // namespace demo
