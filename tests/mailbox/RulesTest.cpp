// Cleaning at scale without a window: who sent a message (address and domain folding, names,
// encoded senders), the grouping of a store as rows arrive, are deleted and come back, the
// rule matcher, "Rules.lst" and the last look at a mailbox.
#include <gtest/gtest.h>

#include <set>
#include <sys/stat.h>

#include "mailbox/LastLook.h"
#include "mailbox/MessageList.h"
#include "mailbox/RulesFile.h"
#include "mailbox/SenderGrouping.h"
#include "runtime/Exception.h"
#include "tests/support/Files.h"

namespace {
const char* const Sato = "\xe4\xbd\x90\xe8\x97\xa4\xe8\x8a\xb1\xe5\xad\x90" /* utf-8: 佐藤花子 */;
const long long Day = 24 * 3600, Now = 1750000000;

// A record with the header `From: <from>`, its size and date (seconds), read as a listing
// reads it.
TMessageRecord Mail(int number, const std::string& from, long long size = 100, long long date = Now - Day,
                    const std::string& subject = "hello")
{
    TMessageRecord r;
    r.Number = number;
    r.Size = size;
    std::vector<std::string> lines{"Subject: " + subject, "Message-ID: <" + std::to_string(number) + "@x>"};
    if (!from.empty())
        lines.push_back("From: " + from);
    ReadHeader(r, lines);
    r.Date = date;
    return r;
}
}

TEST(Sender, AddressesFoldAndNamesComeFromTheDecodedField)
{
    struct Case {
        const char* rule;
        std::string from, address, domain, name;
    };
    const Case cases[] = {
        {"a bare address", "a@example.jp", "a@example.jp", "example.jp", ""},
        {"case folds, the name is unquoted", "\"Sato, Hanako\" <Hanako@Example.JP>", "hanako@example.jp", "example.jp", "Sato, Hanako"},
        {"a comma in an unquoted name", "Sato, Hanako <h@x.jp>", "h@x.jp", "x.jp", "Sato, Hanako"},
        {"an encoded name", "=?ISO-2022-JP?B?GyRCOjRGIzJWO1IbKEI=?= <h@x.jp>", "h@x.jp", "x.jp", Sato},
        {"a UTF-8 name", "=?UTF-8?B?5L2Q6Jek6Iqx5a2Q?= <h@x.jp>", "h@x.jp", "x.jp", Sato},
        {"the name in a comment", "h@x.jp (Hanako Sato)", "h@x.jp", "x.jp", "Hanako Sato"},
        {"a name that claims an address", "\"<ceo@bank.example>\" <x@Evil.example>", "x@evil.example", "evil.example", "<ceo@bank.example>"},
        {"a field encoded whole", "=?UTF-8?B?U2hvcCBOZXdzIDxuZXdzQFNob3AuRXhhbXBsZS5qcD4=?=", "news@shop.example.jp", "shop.example.jp", "Shop News"},
        {"an international domain in either spelling", "a@XN--R8JZ45G.JP", "a@\xe4\xbe\x8b\xe3\x81\x88.jp" /* utf-8: a@例え.jp */, "\xe4\xbe\x8b\xe3\x81\x88.jp" /* utf-8: 例え.jp */, ""},
        {"a source route", "<@relay.example:a@B.example>", "a@b.example", "b.example", ""},
        {"the first of a list", "a@x.jp, b@y.jp", "a@x.jp", "x.jp", ""},
        {"the null sender", "<>", "", "", ""},
        {"a name only", "Hanako", "", "", ""},
        {"no From at all", "", "", "", ""},
    };
    for (const Case& c : cases) {
        const TSender s = SenderOf(Mail(1, c.from));
        EXPECT_EQ(s.Address, c.address) << c.rule;
        EXPECT_EQ(s.Domain, c.domain) << c.rule;
        EXPECT_EQ(s.Name, c.name) << c.rule;
    }
    EXPECT_EQ(FoldDomain("*.Example.COM."), "example.com");
    EXPECT_EQ(FoldDomain("@\xe4\xbe\x8b\xe3\x81\x88.JP" /* utf-8: @例え.JP */), FoldDomain("xn--r8jz45g.jp"));
    EXPECT_TRUE(DomainWithin("news.example.com", "example.com"));
    EXPECT_FALSE(DomainWithin("badexample.com", "example.com"));
    EXPECT_TRUE(SenderOf(TMessageRecord{}).Address.empty());
}

TEST(SenderGrouping, FollowsRowsAsTheyArriveAreDeletedAndComeBack)
{
    TMessageStore store;
    store.Append(Mail(1, "A <a@x.jp>", 100, Now - 3 * Day));
    TSenderGrouping g(store);   // reads what is there, then follows
    int changes = 0;
    g.OnChanged = [&] { ++changes; };
    TMessageRecord pending;     // its size first, its header later
    pending.Number = 3;
    pending.Size = 50;
    store.Append({Mail(2, "a@X.JP", 300, Now - Day), pending, Mail(4, "b@news.x.jp", 1000, Now - 2 * Day)});
    EXPECT_GE(changes, 1);
    const auto group = [&](TGroupBy by, const std::string& key) { return g.At(by, g.Find(by, key)); };
    EXPECT_EQ(g.Count(TGroupBy::Address), 3);   // a@x.jp, not yet known, b@news.x.jp
    EXPECT_EQ(group(TGroupBy::Address, "a@x.jp").Count, 2);
    EXPECT_EQ(group(TGroupBy::Address, "a@x.jp").Size, 400);
    EXPECT_EQ(group(TGroupBy::Address, "a@x.jp").Name, "A");
    EXPECT_EQ(*group(TGroupBy::Address, "a@x.jp").Newest, Now - Day);
    EXPECT_EQ(*group(TGroupBy::Address, "a@x.jp").Oldest, Now - 3 * Day);
    EXPECT_EQ(g.At(TGroupBy::Address, g.GroupOf(TGroupBy::Address, 2)).Kind, TGroupKind::NotYetKnown);
    EXPECT_EQ(g.TotalSize(), 1450);
    EXPECT_EQ(g.BySize(TGroupBy::Address), (std::vector<int>{g.Find(TGroupBy::Address, "b@news.x.jp"), 0, 1}));

    store.SetHeader(2, {"From: b@news.x.jp"});   // the header comes
    EXPECT_EQ(group(TGroupBy::Address, "b@news.x.jp").Count, 2);
    EXPECT_EQ(g.At(TGroupBy::Address, 1).Count, 0);
    EXPECT_EQ(g.BySize(TGroupBy::Address).size(), 2u);
    EXPECT_EQ(group(TGroupBy::Domain, "news.x.jp").Size, 1050);

    store.SetDeleted(1, true);   // the newest of a@x.jp goes
    EXPECT_EQ(group(TGroupBy::Address, "a@x.jp").Count, 1);
    EXPECT_EQ(*group(TGroupBy::Address, "a@x.jp").Newest, Now - 3 * Day);
    EXPECT_EQ(g.Rows(TGroupBy::Address, 0), (std::vector<int>{0}));
    store.SetDeleted(1, false);
    EXPECT_EQ(*group(TGroupBy::Address, "a@x.jp").Newest, Now - Day);
    EXPECT_EQ(g.TotalCount(), 4);
    store.SetChecked(0, true);   // checks change nothing here
    EXPECT_EQ(g.TotalCount(), 4);
    store.Clear();
    EXPECT_EQ(g.Count(TGroupBy::Domain), 0);
    EXPECT_EQ(g.TotalSize(), 0);
}

TEST(RuleMatcher, EachKindFriendsWinAndTheAccountScope)
{
    TMessageRecord Unknown;
    Unknown.Size = 500;
    const auto rule = [](TRuleKind kind, std::string text, long long number = 0, TRuleAction action = TRuleAction::Check,
                         std::string account = "") { return TRule{action, kind, std::move(text), number, std::move(account)}; };
    struct Case {
        const char* rule;
        std::vector<TRule> rules;
        TMessageRecord record;
        TVerdict verdict;
    };
    const Case cases[] = {
        {"sender, folded", {rule(TRuleKind::Sender, "a@x.jp")}, Mail(1, "A <A@X.jp>"), TVerdict::Check},
        {"another sender", {rule(TRuleKind::Sender, "a@x.jp")}, Mail(1, "b@x.jp"), TVerdict::None},
        {"a subdomain", {rule(TRuleKind::Domain, "x.jp")}, Mail(1, "a@mail.X.jp"), TVerdict::Check},
        {"a look-alike domain", {rule(TRuleKind::Domain, "x.jp")}, Mail(1, "a@ex.jp"), TVerdict::None},
        {"subject, width and case",
         {rule(TRuleKind::Subject, "sale")},
         Mail(1, "a@x.jp", 1, Now, "\xef\xbc\xb3\xef\xbc\xa1\xef\xbc\xac\xef\xbc\xa5" /* utf-8: ＳＡＬＥ */),
         TVerdict::Check},
        {"larger, not equal", {rule(TRuleKind::LargerThan, "", 100)}, Mail(1, "a@x.jp", 100), TVerdict::None},
        {"larger", {rule(TRuleKind::LargerThan, "", 100)}, Mail(1, "a@x.jp", 101), TVerdict::Check},
        {"older", {rule(TRuleKind::OlderThan, "", 30)}, Mail(1, "a@x.jp", 1, Now - 31 * Day), TVerdict::Check},
        {"not older", {rule(TRuleKind::OlderThan, "", 30)}, Mail(1, "a@x.jp", 1, Now - 29 * Day), TVerdict::None},
        {"a friend wins, whatever the order",
         {rule(TRuleKind::LargerThan, "", 0), rule(TRuleKind::Sender, "a@x.jp", 0, TRuleAction::Keep)},
         Mail(1, "a@x.jp"),
         TVerdict::Keep},
        {"a friend's domain", {rule(TRuleKind::Domain, "x.jp", 0, TRuleAction::Keep)}, Mail(1, "a@x.jp"), TVerdict::Keep},
        {"this account's rule", {rule(TRuleKind::Sender, "a@x.jp", 0, TRuleAction::Check, "me@pop.x")}, Mail(1, "a@x.jp"), TVerdict::Check},
        {"another account's rule", {rule(TRuleKind::Sender, "a@x.jp", 0, TRuleAction::Check, "you@pop.x")}, Mail(1, "a@x.jp"), TVerdict::None},
        {"another account's friend", {rule(TRuleKind::LargerThan, "", 0), rule(TRuleKind::Sender, "a@x.jp", 0, TRuleAction::Keep, "you@pop.x")}, Mail(1, "a@x.jp"), TVerdict::Check},
        {"a header not known yet", {rule(TRuleKind::LargerThan, "", 0)}, Unknown, TVerdict::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TRuleMatcher(c.rules, "me@pop.x", Now).Verdict(c.record), c.verdict) << c.rule;
    EXPECT_EQ(AccountKey({"n", "me", "", "POP.X", "30", "110"}), "me@pop.x");

    TMessageStore store;
    store.Append({Mail(1, "a@x.jp", 500), Mail(2, "b@x.jp", 500), Mail(3, "c@x.jp", 10), Mail(4, "d@x.jp", 900)});
    store.SetDeleted(3, true);
    const TRuleMatcher matcher({rule(TRuleKind::LargerThan, "", 100), rule(TRuleKind::Sender, "b@x.jp", 0, TRuleAction::Keep)}, "", Now);
    EXPECT_EQ(ApplyRules(matcher, store, 0, 3), 1);   // the friend stays, the deleted one too
    EXPECT_TRUE(store.At(0).Checked);
    EXPECT_FALSE(store.At(1).Checked || store.At(2).Checked || store.At(3).Checked);
    EXPECT_EQ(ApplyRules(matcher, store, 0, 3), 0);   // rows checked already are not counted again
}

TEST(RulesFile, RoundTripAndDamagedLinesSkippedByNumberAndKept)
{
    const std::string text = "\xEF\xBB\xBF# mine\r\n"
                             "check sender News@Shop.example.jp\r\n"
                             "KEEP Sender mother@example.jp\n"
                             "check domain @Example.COM\n"
                             "check subject \xe5\xba\x83\xe5\x91\x8a \xe3\x81\x8a\xe7\x9f\xa5\xe3\x82\x89\xe3\x81\x9b  \n" /* utf-8: 広告 お知らせ */
                             "check larger 5M\n"
                             "\n"
                             "[taro@POP.example.jp]\n"
                             "check older 365\n"
                             "check larger lots\n"
                             "delete sender x@y.jp\n"
                             "check sender nobody\n"
                             "[*]\n"
                             "check subject \x8d\x4c\x8d\x90\n" /* Shift-JIS, no UTF-8 */
                             "check older\n";
    const TRulesFileContent c = ParseRules(text);
    ASSERT_EQ(c.Rules.size(), 6u);
    EXPECT_EQ(c.Rules[0], (TRule{TRuleAction::Check, TRuleKind::Sender, "news@shop.example.jp", 0, ""}));
    EXPECT_EQ(c.Rules[1].Action, TRuleAction::Keep);
    EXPECT_EQ(c.Rules[2].Text, "example.com");
    EXPECT_EQ(c.Rules[3].Text, "\xe5\xba\x83\xe5\x91\x8a \xe3\x81\x8a\xe7\x9f\xa5\xe3\x82\x89\xe3\x81\x9b" /* utf-8: 広告 お知らせ */);
    EXPECT_EQ(c.Rules[4].Number, 5 * 1024 * 1024);
    EXPECT_EQ(c.Rules[5], (TRule{TRuleAction::Check, TRuleKind::OlderThan, "", 365, "taro@pop.example.jp"}));
    const std::vector<int> unread{10, 11, 12, 14, 15};
    ASSERT_EQ(c.Unread.size(), unread.size());
    for (std::size_t i = 0; i < unread.size(); ++i)
        EXPECT_EQ(c.Unread[i].Line, unread[i]) << c.Unread[i].Text;
    EXPECT_EQ(c.Unread[0].Account, "taro@pop.example.jp");
    EXPECT_EQ(c.Unread[3].Account, "");

    // What is written reads back as it was, damaged lines in their sections included.
    const TRulesFileContent again = ParseRules(FormatRules(c));
    EXPECT_EQ(again.Rules, c.Rules);
    const auto lines = [](const TRulesFileContent& content) {
        std::multiset<std::pair<std::string, std::string>> set;
        for (const TUnreadRuleLine& u : content.Unread)
            set.emplace(u.Account, u.Text);
        return set;
    };
    EXPECT_EQ(lines(again), lines(c));

    long long bytes = 0;
    const std::pair<const char*, long long> sizes[] = {{"1500", 1500}, {"2k", 2048}, {"3 MB", 3 << 20}, {"1G", 1LL << 30}};
    for (const auto& [size, expected] : sizes)
        EXPECT_TRUE(ParseRuleSize(size, bytes) && bytes == expected) << size;
    for (const char* bad : {"", "-1", "5X", "9999999999999999G", "1.5M"})
        EXPECT_FALSE(ParseRuleSize(bad, bytes)) << bad;
    EXPECT_EQ(FormatRuleSize(3 << 20), "3M");
    EXPECT_EQ(FormatRuleSize(1500), "1500");

    const testsupport::TempFolder dir("purgel-rules");
    const std::string file = dir / "Rules.lst";
    TRulesFileContent loaded;
    EXPECT_TRUE(LoadRulesFile(file, loaded));   // none yet: no rules
    SaveRulesFile(file, c);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(LoadRulesFile(file, loaded));
    EXPECT_EQ(loaded.Rules, c.Rules);
    ::chmod(file.c_str(), 0);
    if (::geteuid() != 0) {
        EXPECT_FALSE(LoadRulesFile(file, loaded));   // there, but unreadable
    }
}

TEST(LastLook, NewSinceTheLatestMessageStillThereOrByDate)
{
    TMessageStore store;
    for (int n = 1; n <= 5; ++n)
        store.Append(Mail(n, "a@x.jp", 1, Now - (10 - n) * Day));
    const TLastLook look = LookAt("me@pop", store, Now - 5 * Day);
    EXPECT_EQ(look.Tail.size(), 5u);
    EXPECT_EQ(NewSince(look, store), 0);
    store.Append({Mail(6, "a@x.jp", 1, Now), Mail(7, "a@x.jp", 1, Now)});
    EXPECT_EQ(NewSince(look, store), 2);
    store.SetDeleted(4, true);    // the last one seen goes: the one before it still marks the place
    EXPECT_EQ(NewSince(look, store), 2);
    EXPECT_EQ(NewSince({"me@pop", Now - 5 * Day, {"m:gone"}}, store), 2);   // none left: by date
    EXPECT_EQ(NewSince({"me@pop", Now, {}}, store), 6);                      // it was empty then

    const testsupport::TempFolder dir("purgel-looks");
    const std::string file = dir / "LastLook.lst";
    EXPECT_TRUE(RememberLook(file, look));
    EXPECT_TRUE(RememberLook(file, {"you@pop", 7, {}}));
    EXPECT_TRUE(RememberLook(file, LookAt("me@pop", store, Now)));
    const std::vector<TLastLook> looks = LoadLastLooks(file);
    ASSERT_EQ(looks.size(), 2u);
    EXPECT_EQ(*FindLastLook(looks, "me@pop"), LookAt("me@pop", store, Now));
    EXPECT_EQ(FindLastLook(looks, "you@pop")->Time, 7);
}

// The first Date field, in any case, folded or not, comments left out; none for a bad one.
TEST(HeaderDate, ReadsTheFirstDateFieldFoldedOrWithComments)
{
    const long long July1 = 1719793800;   // Mon, 1 Jul 2024 09:30:00 +0900
    const struct { std::vector<std::string> lines; std::optional<long long> date; } cases[] = {
        {{"Subject: x", "Date: Mon, 1 Jul 2024 09:30:00 +0900"}, July1},
        {{"DATE:Mon, 1 Jul 2024 09:30:00 +0900", "Date: Tue, 2 Jul 2024 09:30:00 +0900"}, July1},
        {{"Date: Mon, 1 Jul 2024", "\t09:30:00", " +0900 (JST)", "Subject: x"}, July1},
        {{"Date: Mon, 1 Jul (the first)", " 2024 09:30:00 +0900"}, July1},
        {{"Dates: Mon, 1 Jul 2024 09:30:00 +0900"}, std::nullopt},
        {{"Date:"}, std::nullopt},
        {{"Date: yesterday"}, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MessageList::HeaderDate(c.lines), c.date) << c.lines[0];
}
