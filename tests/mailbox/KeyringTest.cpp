// TKeyring against a real GNOME Keyring on a private session bus (KeyringRig), and, run with
// --no-session-bus, in a process that has no session bus at all.
#include <QCoreApplication>
#include <gtest/gtest.h>
#include <thread>
#include <utility>

#include "mailbox/Keyring.h"
#include "mailbox/OAuthClient.h"
#include "tests/support/Files.h"
#include "tests/support/KeyringRig.h"
#include "tests/support/OAuthServer.h"

namespace {

class KeyringTest : public ::testing::Test {
protected:
    KeyringTest() { Keyring.Service = std::string("PurgelTest.") + ::testing::UnitTest::GetInstance()->current_test_info()->name(); }
    std::string ReadBack(const TKeyringEntry& e)
    {
        std::string pw;
        TKeyringResult r = Keyring.Read(e, pw);
        return r == TKeyringResult::Ok ? pw : "<" + std::to_string(static_cast<int>(r)) + ">";
    }
    TKeyring Keyring;
    const TKeyringEntry A{"alice", "pop.example.jp", "110"};
    const std::string Missing = "<" + std::to_string(static_cast<int>(TKeyringResult::NotFound)) + ">";
};

TEST_F(KeyringTest, StoresReadsBackAndRemovesBytesUnchanged)
{
    EXPECT_TRUE(Keyring.IsAvailable());
    // Shift-JIS IDs and passwords, a 0x5C trail byte, a lone lead byte, a NUL: all kept as
    // the file would keep them. The first case is A.
    const std::pair<std::string, std::string> cases[] = {
        {"alice", "plain"}, {"\x95\x5c" /* sjis: 表 */, "\x95\x5c" /* sjis: 表 */ "\\x"}, {"bob", std::string("\x81\0z", 3)}};
    for (const auto& [id, pw] : cases) {
        TKeyringEntry e{id, A.Server, A.Port};
        ASSERT_EQ(Keyring.Store(e, "old"), TKeyringResult::Ok);
        ASSERT_EQ(Keyring.Store(e, pw), TKeyringResult::Ok);
        EXPECT_EQ(ReadBack(e), pw);
    }
    // ID, server and port each tell entries apart.
    for (const TKeyringEntry& other : {TKeyringEntry{"alic", A.Server, A.Port}, TKeyringEntry{A.UserID, "pop2.example.jp", A.Port},
                                       TKeyringEntry{A.UserID, A.Server, "995"}})
        EXPECT_EQ(ReadBack(other), Missing);
    EXPECT_EQ(Keyring.Remove(A), TKeyringResult::Ok);
    EXPECT_EQ(ReadBack(A), Missing);
    EXPECT_EQ(Keyring.Remove(A), TKeyringResult::Ok);
}

TEST_F(KeyringTest, MoveFollowsServerAndIdChanges)
{
    const TKeyringEntry server{A.UserID, "mail.example.jp", A.Port}, id{"alice2", "mail.example.jp", A.Port};
    ASSERT_EQ(Keyring.Store(A, "pw"), TKeyringResult::Ok);
    EXPECT_EQ(Keyring.Move(A, A), TKeyringResult::Ok);
    EXPECT_EQ(Keyring.Move(A, server), TKeyringResult::Ok);
    EXPECT_EQ(Keyring.Move(server, id), TKeyringResult::Ok);
    EXPECT_EQ(ReadBack(A), Missing);
    EXPECT_EQ(ReadBack(server), Missing);
    EXPECT_EQ(ReadBack(id), "pw");
    EXPECT_EQ(Keyring.Move(A, server), TKeyringResult::NotFound);
}

// A keyring that refuses or goes away half-way through loses nothing it held.
TEST_F(KeyringTest, LockedKeyringRefusesAndKeepsEntries)
{
    const TKeyringEntry b{"bob", A.Server, A.Port};
    ASSERT_EQ(Keyring.Store(A, "pw"), TKeyringResult::Ok);
    Rig->LockCollection();
    EXPECT_EQ(Keyring.Store(b, "new"), TKeyringResult::Refused);
    EXPECT_EQ(Keyring.Move(A, b), TKeyringResult::Refused);
    EXPECT_EQ(Keyring.Remove(A), TKeyringResult::Refused);
    Rig->StopKeyring();
    Rig->StartKeyring();
    EXPECT_EQ(ReadBack(A), "pw");
    EXPECT_EQ(ReadBack(b), Missing);
}

TEST_F(KeyringTest, StoppedOrSilentKeyringIsReportedAndKeepsEntries)
{
    ASSERT_EQ(Keyring.Store(A, "pw"), TKeyringResult::Ok);
    Rig->StopKeyring();
    EXPECT_FALSE(Keyring.IsAvailable());
    EXPECT_EQ(Keyring.Move(A, {"bob", A.Server, A.Port}), TKeyringResult::NoKeyring);
    Rig->StartKeyring();
    EXPECT_EQ(ReadBack(A), "pw");

    Keyring.TimeOut = std::chrono::milliseconds(500);
    Rig->FreezeKeyring(true);
    std::string pw;
    EXPECT_EQ(Keyring.Read(A, pw), TKeyringResult::TimedOut);
    Rig->FreezeKeyring(false);
    Keyring.TimeOut = std::chrono::seconds(20);
    EXPECT_EQ(ReadBack(A), "pw");
}

// Without a session bus every call says so at once, rather than waiting for its time-out.
// An OAuth sign-in keeps its refresh token in an entry of its own beside the password's; a
// later run refreshes from it without the browser (storing the rotated token), and a revoked
// one is forgotten.
TEST_F(KeyringTest, ASignInsRefreshTokenOutlivesTheRunUntilRevoked)
{
    testsupport::OAuthServer auth;
    const testsupport::TempFolder dir("purgel-oauth");
    testsupport::WriteFile(dir / "purgel.ini", auth.Settings("test"));
    const TAccountFields account{"n", "alice", "", "127.0.0.1", "10", "995", "tls", "oauth2:Test"};
    ASSERT_EQ(Keyring.Store(KeyringEntryOf(account), "password"), TKeyringResult::Ok);
    const auto run = [&](bool browser, TCredentialResult expected) {
        TOAuthClient client(&Keyring);
        client.SettingsFile = (dir / "purgel.ini").string();
        std::thread follower;
        if (browser)
            client.OnSignInStart = [&](const TSignInRequest& r) {
                follower = std::thread([url = r.Url] { testsupport::OAuthServer::FollowAuthorization(url); });
            };
        TCredential token;
        EXPECT_EQ(client.Find(account, token), expected);
        if (follower.joinable())
            follower.join();
        return client.Status();
    };
    EXPECT_TRUE(run(true, TCredentialResult::Found).Kept);
    EXPECT_EQ(TKeyring::KeyOf(TOAuthClient::EntryOf(account)), "OAuth2 test alice@127.0.0.1:995");
    const std::string first = ReadBack(TOAuthClient::EntryOf(account));
    run(false, TCredentialResult::Found);
    EXPECT_EQ(auth.Grants("refresh_token"), 1);
    EXPECT_NE(ReadBack(TOAuthClient::EntryOf(account)), first);
    auth.RevokeRefreshTokens();
    EXPECT_EQ(run(false, TCredentialResult::Missing).Error, TOAuthError::SignInNeeded);
    EXPECT_EQ(ReadBack(TOAuthClient::EntryOf(account)), Missing);
    EXPECT_EQ(ReadBack(KeyringEntryOf(account)), "password");
    Keyring.Remove(KeyringEntryOf(account));
}

TEST(KeyringNoBus, AnswersNoKeyring)
{
    if (Rig)
        GTEST_SKIP() << "needs --no-session-bus";
    TKeyring keyring;
    keyring.TimeOut = std::chrono::minutes(2);
    std::string pw;
    EXPECT_FALSE(keyring.IsAvailable());
    EXPECT_EQ(keyring.Read({"alice", "pop.example.jp", "110"}, pw), TKeyringResult::NoKeyring);
    EXPECT_EQ(keyring.Store({"alice", "pop.example.jp", "110"}, "pw"), TKeyringResult::NoKeyring);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    UseKeyringRig(argc, argv);
    return RUN_ALL_TESTS();
}
