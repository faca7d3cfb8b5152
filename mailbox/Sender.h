#pragma once
// Who sent a message, in the form the grouping by sender and the rules compare: the address
// of the From field folded (case, the domain's international form), its domain, and the name
// shown for people.
//
// The address is read from the raw field as received (RFC 5322: a name, then the address in
// angle brackets; or a bare address, perhaps with a comment), so that a name which claims to
// be an address never counts as one; the name comes from the decoded field. A sender that
// encoded the whole field, address and all, is read from the decoded text instead. Only the
// first mailbox of a list counts. Pure functions; nothing raised but std::bad_alloc.

#include <string>
#include <string_view>

struct TMessageRecord;

struct TSender {
    std::string Address;   // folded, UTF-8; "" when the field names none (or is missing)
    std::string Domain;    // the part after the last "@", folded; "" without one
    std::string Name;      // the display name, UTF-8, for people; "" when none is given
};

// Empty for a record whose header is not known yet.
TSender SenderOf(const TMessageRecord& record);
// The sender of a From field: its raw value and the value decoded for people.
TSender ParseSender(std::string_view rawValue, std::string_view decoded);

// The folded forms, also for what people type (a rule's address or domain): blanks and angle
// brackets around it dropped, lower case; a domain in its Unicode form (an "xn--" label
// decoded, so both spellings of an international domain are one), without a trailing dot.
// A domain may be given with a leading "@" or "*.".
std::string FoldAddress(std::string_view address);
std::string FoldDomain(std::string_view domain);
// The domain is `within` itself or one of its subdomains (both folded).
bool DomainWithin(std::string_view domain, std::string_view within);
