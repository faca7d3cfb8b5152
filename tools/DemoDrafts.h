#pragma once
// The drafts of the generated demo mailbox (DemoMailbox.h): the people, texts and dates
// the mails are made of, and one builder per kind of mail. Private to tools/; nothing here
// waits, owns or raises beyond std::bad_alloc.

#include "tools/DemoMailbox.h"

#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace demo::detail {

using Lines = std::vector<std::string>;

inline const std::string CrLf = "\r\n";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Joined(const Lines& lines);

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

inline constexpr const char* Recipient = "\x83" "f\x83\x82 <demo@purgel.example>" /* sjis: デモ <demo@purgel.example> */;

struct Stamp {
    int Year, Month, Day, Hour, Minute, Second, Weekday;
};

// Days since 1970-01-01 to the civil date (proleptic Gregorian).
Stamp CivilFromMinutes(long long minutes);
std::string Rfc2822(const Stamp& s);

constexpr int MailTopic = 3;  // its handout shows a POP3 dialogue, with lines of a single "."
constexpr int StudyWithDots = 11;

// ---- the message kinds ----

enum class Kind {
    Newsletter, Meeting, Reply, Order, Shipping, Maintenance, Party, Library, Cooking, Study, Personal,
    BuildReport, Invitation, ParcelNotice, Lunch,
    Welcome, SalesSheet, Minutes, Photos, AccessLog,
};

// One of the ordinary kinds, as often as each turns up.
Kind OrdinaryKind(Rng& rng);

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
};

// The kind builders.
Draft Newsletter(Rng& rng, int issue);
Draft Meeting(Rng& rng, const Stamp& when);
Draft Reply(Rng& rng);
Draft Order(Rng& rng, const Stamp& when, int number);
Draft Shipping(Rng& rng, int number);
Draft Maintenance(const Stamp& when);
Draft Party(Rng& rng, const Stamp& when);
Draft Library(Rng& rng, const Stamp& when);
Draft Cooking(Rng& rng, const Stamp& when);
Draft Study(Rng& rng, int round, int topic);
Draft Personal(Rng& rng);
Draft BuildReport(Rng& rng, int number);
Draft Invitation(const Stamp& when);
Draft ParcelNotice(Rng& rng);
Draft Lunch(Rng& rng);
Draft Welcome();
Draft SalesSheet();
Draft Minutes();
Draft Photos(Rng& rng);
Draft AccessLog(Rng& rng, const Stamp& when);

}  // namespace demo::detail
