// "Account.lst": the line format, the comma-text reading, and the safe replacement of the file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "mailbox/AccountFile.h"
#include "mailbox/TrustFile.h"
#include "runtime/Exception.h"
#include "tests/support/Files.h"

namespace {
using Fields = TAccountFields;

std::vector<Fields> Parse(const std::string& text) { return ParseAccounts(text); }

// 山田 followed by 予 (its second byte is a backslash) and bytes that are no Shift-JIS at all.
const std::string OddName = std::string("\x8eR\x93" "c" /* sjis: 山田 */) + "\x97\x5c" + "\xff\x80\xa0" + "\x82";

class AccountFileTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return (Dir / name).string(); }
    std::string ReadFile(const std::string& name) const { return testsupport::ReadFile(Dir / name); }
    void WriteFile(const std::string& name, const std::string& data) const { testsupport::WriteFile(Dir / name, data); }
    std::vector<std::string> FolderEntries() const { return Dir.Entries(); }

    testsupport::TempFolder Dir{"purgel-accounts"};
};
}

TEST(AccountLine, SixQuotedFieldsJoinedByCommas)
{
    // The example line: nine bytes of field text, twelve quotes, five commas.
    const std::string line = FormatAccountLine({"A", "b", "c", "d", "30", "110"});
    EXPECT_EQ(line, "\"A\",\"b\",\"c\",\"d\",\"30\",\"110\"");
    EXPECT_EQ(line.size(), 26u);
}

// The security is a seventh field, written only when set: a plain account's line is the one
// older versions wrote, and their six-field lines read as plain.
TEST(AccountLine, TheSecurityIsASeventhFieldWrittenOnlyWhenSet)
{
    EXPECT_EQ(FormatAccountLine({"A", "b", "c", "d", "30", "995", "tls"}), "\"A\",\"b\",\"c\",\"d\",\"30\",\"995\",\"tls\"");
    EXPECT_EQ(FormatAccountLine({"A", "b", "", "d", "30", "110", ""}), "\"A\",\"b\",\"\",\"d\",\"30\",\"110\"");
    const std::pair<std::string, TAccountSecurity> fields[] = {
        {"tls", TAccountSecurity::Tls}, {"StartTLS", TAccountSecurity::StartTls}, {"", TAccountSecurity::None},
        {"ssl", TAccountSecurity::None}};
    for (const auto& [text, security] : fields)
        EXPECT_EQ(AccountSecurity({"n", "i", "p", "s", "30", "110", text}), security) << text;
    EXPECT_EQ(AccountSecurity(Parse("n,i,p,s,30,110\r\n")[0]), TAccountSecurity::None);
}

// The sign-in is an eighth field; with it the seventh is written even when empty.
TEST(AccountLine, AnOAuthAccountsSignInIsAnEighthField)
{
    EXPECT_EQ(FormatAccountLine({"A", "b", "", "d", "30", "110", "", "oauth2:x"}),
              "\"A\",\"b\",\"\",\"d\",\"30\",\"110\",\"\",\"oauth2:x\"");
    const std::pair<std::string, std::string> fields[] = {
        {"oauth2:google", "google"}, {"OAuth2:My Corp", "My Corp"}, {"oauth2:", ""}, {"", ""}, {"password", ""}};
    for (const auto& [text, provider] : fields)
        EXPECT_EQ(OAuthProviderOf({"n", "i", "", "s", "30", "995", "tls", text}), provider) << text;
}

TEST(AccountLine, QuotesInsideAFieldAreDoubled)
{
    EXPECT_EQ(FormatAccountLine({"a,b", "id", "pa\"ss", "", "30", "110"}),
              "\"a,b\",\"id\",\"pa\"\"ss\",\"\",\"30\",\"110\"");
}

TEST(AccountLine, EveryLineEndsWithCrLfAndAnEmptyListIsEmpty)
{
    EXPECT_EQ(FormatAccounts({}), "");
    EXPECT_EQ(FormatAccounts({{"a", "b", "c", "d", "e", "f"}, {"1", "2", "3", "4", "5", "6"}}),
              "\"a\",\"b\",\"c\",\"d\",\"e\",\"f\"\r\n\"1\",\"2\",\"3\",\"4\",\"5\",\"6\"\r\n");
}

TEST(AccountParse, CommaTextRule)
{
    struct Case {
        const char* rule;
        std::string text;
        std::vector<Fields> expected;
    };
    const Case cases[] = {
        {"a comma inside quotes stays in its field", "\"a,b\",\"x\",\"p\",\"s\",\"30\",\"110\"",
         {{"a,b", "x", "p", "s", "30", "110"}}},
        {"a doubled quote stands for one", "\"n\",\"id\",\"pa\"\"ss\",\"s\",\"30\",\"110\"",
         {{"n", "id", "pa\"ss", "s", "30", "110"}}},
        {"fields without quotes end at a comma", "n,id,pw,srv,30,110", {{"n", "id", "pw", "srv", "30", "110"}}},
        {"fields after the eighth are dropped", "1,2,3,4,5,6,tls,oauth2:x,9", {{"1", "2", "3", "4", "5", "6", "tls", "oauth2:x"}}},
        {"a short line is kept, padded", "\"only\",\"two\"", {{"only", "two", "", "", "", ""}}},
        {"blanks before a field and around commas are skipped", "  a ,  b,c,d,e,f", {{"a", "b", "c", "d", "e", "f"}}},
        {"a blank ends an unquoted field", "a b,c", {{"a", "b", "c", "", "", ""}}},
        {"blanks inside quotes are kept", "\"   \",\"x\"", {{"   ", "x", "", "", "", ""}}},
        {"lines end at LF alone", "a,1\nb,2\n", {{"a", "1", "", "", "", ""}, {"b", "2", "", "", "", ""}}},
        {"lines end at CR alone", "a\rb", {{"a", "", "", "", "", ""}, {"b", "", "", "", "", ""}}},
        {"a last line without a break is read", "a,1\r\nb,2", {{"a", "1", "", "", "", ""}, {"b", "2", "", "", "", ""}}},
        {"empty and blank lines are skipped", "\r\n  \r\na\r\n\r\n", {{"a", "", "", "", "", ""}}},
        {"an unclosed quote runs to the end of the line", "\"a,b\r\nc", {{"a,b", "", "", "", "", ""}, {"c", "", "", "", "", ""}}},
        {"a trailing comma adds no field", "a,", {{"a", "", "", "", "", ""}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Parse(c.text), c.expected) << c.rule;
}

TEST(AccountParse, FormattedListsReadBackUnchanged)
{
    const std::vector<Fields> accounts = {
        {OddName, "user\"x", "p,a\"\"ss", " lead and trail ", "-5", "65536"},
        {"", "", "", "", "", ""},
        {"\t", "a\\b", "\x81\x60", "\x5c\x5c", "30", "110"},
        {"n", "i", "", "s", "30", "995", "tls"},
        {"n", "i", "", "s", "30", "110", "", "oauth2:x"},
    };
    EXPECT_EQ(Parse(FormatAccounts(accounts)), accounts);
}

TEST_F(AccountFileTest, SaveWritesTheLinesOwnerOnly)
{
    SaveAccountFile(Path("Account.lst"), {{"A", "b", "c", "d", "30", "110"}});
    EXPECT_EQ(ReadFile("Account.lst"), "\"A\",\"b\",\"c\",\"d\",\"30\",\"110\"\r\n");
    struct stat st {};
    ASSERT_EQ(stat(Path("Account.lst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(AccountFileTest, SaveReplacesAReadableFileWithAnOwnerOnlyOne)
{
    WriteFile("Account.lst", "old\r\n");
    chmod(Path("Account.lst").c_str(), 0644);
    SaveAccountFile(Path("Account.lst"), {});
    EXPECT_EQ(ReadFile("Account.lst"), "");
    struct stat st {};
    ASSERT_EQ(stat(Path("Account.lst").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Account.lst"});
}

TEST_F(AccountFileTest, AFailedWriteKeepsThePreviousFileWhole)
{
    const std::string old = "\"kept\",\"a\",\"b\",\"c\",\"30\",\"110\"\r\n";
    WriteFile("Account.lst", old);
    const std::vector<Fields> many(50, Fields{"name", "id", "password", "server", "30", "110"});
    {
        testsupport::FileSizeLimit limit(100);
        EXPECT_THROW(SaveAccountFile(Path("Account.lst"), many), Exception);
    }
    EXPECT_EQ(ReadFile("Account.lst"), old);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Account.lst"});
}

TEST_F(AccountFileTest, AFailedRenameLeavesNoTemporaryFile)
{
    ASSERT_TRUE(std::filesystem::create_directory(Dir / "Account.lst"));
    EXPECT_THROW(SaveAccountFile(Path("Account.lst"), {{"a", "b", "c", "d", "e", "f"}}), Exception);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Account.lst"});
}

TEST_F(AccountFileTest, LoadTellsAMissingFileFromAnUnreadableOne)
{
    std::vector<Fields> accounts{{"stale", "", "", "", "", ""}};
    EXPECT_TRUE(LoadAccountFile(Path("Account.lst"), accounts));
    EXPECT_TRUE(accounts.empty());

    ASSERT_TRUE(std::filesystem::create_directory(Dir / "Account.lst"));
    accounts.assign(1, Fields{"stale", "", "", "", "", ""});
    EXPECT_FALSE(LoadAccountFile(Path("Account.lst"), accounts));
    EXPECT_TRUE(accounts.empty());
}

TEST_F(AccountFileTest, ShiftJisBytesSurviveARoundTripThroughTheFile)
{
    const std::vector<Fields> accounts{{OddName, "id", "\x82\xa0\"\x82\xa2", "pop.example.jp", "30", "110"}};
    SaveAccountFile(Path("Account.lst"), accounts);
    std::vector<Fields> back;
    ASSERT_TRUE(LoadAccountFile(Path("Account.lst"), back));
    EXPECT_EQ(back, accounts);
}

// Trusted.lst: one fingerprint per host (any case) and port, kept like Account.lst.
TEST_F(AccountFileTest, TrustedCertificatesRoundTripOnePerServer)
{
    EXPECT_TRUE(LoadTrustFile(Path("Trusted.lst")).empty());
    std::vector<TTrustedCertificate> trusted;
    Trust(trusted, "Pop.Example.jp", "995", "aa");
    Trust(trusted, "pop.example.jp", "110", "bb");
    Trust(trusted, "pop.example.jp", "995", "cc");   // replaces the first
    Trust(trusted, "we\"ird", "995", "dd");
    EXPECT_EQ(TrustedFingerprint(trusted, "POP.example.JP", "995"), "cc");
    EXPECT_EQ(TrustedFingerprint(trusted, "pop.example.jp", "996"), "");
    SaveTrustFile(Path("Trusted.lst"), trusted);
    EXPECT_EQ(ReadFile("Trusted.lst"), "\"Pop.Example.jp\",\"995\",\"cc\"\r\n\"pop.example.jp\",\"110\",\"bb\"\r\n"
                                       "\"we\"\"ird\",\"995\",\"dd\"\r\n");
    EXPECT_EQ(LoadTrustFile(Path("Trusted.lst")), trusted);
    struct stat st {};
    ASSERT_EQ(stat(Path("Trusted.lst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    WriteFile("Trusted.lst", "short,line\r\nh,1,ff,extra\r\n");
    EXPECT_EQ(LoadTrustFile(Path("Trusted.lst")), (std::vector<TTrustedCertificate>{{"h", "1", "ff"}}));
    // A server the system vouched for is noted once, without a pin, and reads back.
    EXPECT_TRUE(RememberVerifiedServer(Path("Trusted.lst"), "new.example.jp", "995"));
    EXPECT_FALSE(RememberVerifiedServer(Path("Trusted.lst"), "NEW.example.jp", "995"));
    EXPECT_EQ(LoadTrustFile(Path("Trusted.lst")),
              (std::vector<TTrustedCertificate>{{"h", "1", "ff"}, {"new.example.jp", "995", ""}}));
}
