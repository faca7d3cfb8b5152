// The mailbox session without a window, against Dovecot: a whole session (connect, list,
// delete, undo, quit), a stop in the middle of a listing, a connection lost before QUIT, why
// a connection failed, as the session reports it, the check of every account over it, and
// the OAuth 2.0 sign-in end to end (the tests' own authorization server, Dovecot's oauth2
// passdb over TLS), and the header cache across sessions (the TOP commands counted in
// Dovecot's log at each logout).
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <sys/stat.h>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "mailbox/AccountsCheck.h"
#include "mailbox/Environment.h"
#include "mailbox/HeaderCache.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/OAuthClient.h"
#include "mailbox/OAuthProvider.h"
#include "pop3/Nmpop3.h"
#include "tests/support/Dovecot.h"
#include "tests/support/Files.h"
#include "tests/support/Mailbox.h"
#include "tests/support/OAuthServer.h"
#include "tests/support/PopServer.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/ScriptServer.h"
#include "tests/support/Store.h"

using namespace std::chrono_literals;

namespace {

class SessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Server = new DovecotServer;
        Server->Start();
    }
    static void TearDownTestSuite()
    {
        delete Server;
        Server = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(Files.isValid());
        SetAppFolder(Files.path().toStdString());   // no "Trusted.lst" of the user's
        if (!Server->Running())
            Server->Start();
        Server->ClearMessages();
        S.OnConnect = [this] { Events.push_back("connect"); };
        S.OnDisconnect = [this](bool kept) { Events.push_back(kept ? "lost, kept" : "closed"); };
        S.OnDeleteStart = [this](int n) { Events.push_back("dele " + std::to_string(n)); };
        S.OnDeleteEnd = [this](int n, bool accepted) { Events.push_back((accepted ? "+" : "-") + std::to_string(n)); };
    }
    void TearDown() override
    {
        S.End();
        SetAppFolder("");
    }

    static TAccountFields Account(const std::string& password = "secret", int port = Server->Port())
    {
        return {"test", "alice", password, "127.0.0.1", "10", std::to_string(port)};
    }
    // Messages "<n> subject" for n = 1 .. count; their sizes.
    static std::vector<long long> AddMessages(int count)
    {
        std::vector<long long> sizes;
        for (int n = 1; n <= count; ++n) {
            const std::string raw =
                mailbox::MailBuilder().Subject(std::to_string(n) + " subject").From("a@example.jp").Text("text\n").Build();
            Server->AddMessage(raw);
            sizes.push_back(static_cast<long long>(raw.size()));
        }
        return sizes;
    }
    std::vector<int> Listed() const { return testsupport::Listed(S.Store()); }
    int Headers() const { return testsupport::Headers(S.Store()); }

    std::vector<std::string> Subjects() const
    {
        std::vector<std::string> subjects;
        for (int row = 0; row < S.Store().Count(); ++row)
            subjects.push_back(S.Store().At(row).Subject);
        return subjects;
    }
    // Connects, lists and quits; the TOP commands of that session, from Dovecot's logout line.
    int ListedTops()
    {
        const std::string before = Server->Log();
        EXPECT_TRUE(S.Connect(Account()));
        S.List();
        S.End();
        std::string log;
        EXPECT_TRUE(testsupport::PumpUntil([&] { return (log = Server->Log()).rfind("top=") + 1 > before.size() + 1; }, 5000ms));
        return std::atoi(log.c_str() + log.rfind("top=") + 4);
    }
    THeaderCache Cache(int port = Server->Port()) const
    {
        const std::string key = THeaderCache::KeyFor("127.0.0.1", port, "alice");
        return THeaderCache(THeaderCache::FileNameFor(CacheFolder(), key), key);
    }

    static DovecotServer* Server;
    QTemporaryDir Files;
    TPasswordLookup Passwords{nullptr};
    TMailboxSession S{Passwords};
    std::vector<std::string> Events;
};

DovecotServer* SessionTest::Server = nullptr;

TEST_F(SessionTest, AWholeSessionListsDeletesUndoesAndCommitsAtQuit)
{
    const std::vector<long long> sizes = AddMessages(5);
    ASSERT_TRUE(S.Connect(Account()));
    EXPECT_EQ(S.State(), TSessionState::Connected);
    EXPECT_EQ(S.MessageCount(), 5);
    // Every record first, with its size (0 headers of 5), then one report per header.
    int progress = 0;
    S.OnListProgress = [&](int done, int total) {
        EXPECT_EQ(done, progress++);
        EXPECT_EQ(total, 5);
        EXPECT_EQ(S.Store().Count(), 5);
        EXPECT_EQ(S.Store().At(4).Size, sizes[4]);
    };
    S.List();
    ASSERT_EQ(Listed(), (std::vector<int>{1, 2, 3, 4, 5}));
    const TMessageRecord& first = S.Store().At(0);
    EXPECT_EQ(first.Subject, " 1 subject");   // the blank after the colon stays the value's
    EXPECT_EQ(first.From, " a@example.jp");
    EXPECT_EQ(first.Size, sizes[0]);
    EXPECT_TRUE(first.HeaderKnown);
    EXPECT_NE(first.Header.find("Subject: 1 subject\r\n"), std::string::npos);
    EXPECT_EQ(first.Header.substr(first.Header.size() - 2), "\r\n");

    EXPECT_EQ(S.Delete({2, 4, 4, 9}), 2);   // a number deleted already, or without a record, is passed over
    EXPECT_EQ(Listed(), (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(S.DeletedCount(), 2);
    EXPECT_EQ(Server->CountMessages(), 5);   // nothing is gone before QUIT
    S.Undo();
    EXPECT_EQ(Listed(), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(S.DeletedCount(), 0);

    EXPECT_EQ(S.Delete({1}), 1);
    S.End();
    EXPECT_EQ(S.State(), TSessionState::Idle);
    EXPECT_EQ(Server->CountMessages(), 4);
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "dele 2", "+2", "dele 4", "+4", "dele 1", "+1", "closed"}));

    S.OnListProgress = nullptr;
    ASSERT_TRUE(S.Connect(Account()));
    S.List();
    EXPECT_EQ(Listed(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(S.Store().At(0).Subject, " 2 subject");
}

TEST_F(SessionTest, AStopInTheMiddleKeepsWhatCameAndTheNextListingIsWhole)
{
    AddMessages(100);
    ASSERT_TRUE(S.Connect(Account()));
    S.OnListProgress = [this](int done, int) {
        if (done == 10)
            S.Stop();
    };
    S.List();
    EXPECT_EQ(S.Store().Count(), 100);   // every row with its size, 10 with their header
    EXPECT_EQ(Headers(), 10);
    EXPECT_EQ(S.State(), TSessionState::Connected);
    S.OnListProgress = nullptr;
    S.List();   // goes on with the 90 missing
    EXPECT_EQ(Headers(), 100);
    EXPECT_EQ(S.Store().At(99).Number, 100);
}

TEST_F(SessionTest, ADeletionDuringTheListingStopsItDeletesAndTheListingGoesOn)
{
    AddMessages(40);
    ASSERT_TRUE(S.Connect(Account()));
    int accepted = -1;
    S.OnListProgress = [&](int done, int) {
        if (done == 5 && accepted < 0)
            accepted = S.Delete({2, 30});   // kept until the header in hand is in
    };
    S.List();
    EXPECT_EQ(accepted, 0);
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "dele 2", "+2", "dele 30", "+30"}));
    EXPECT_EQ(Headers(), 39);   // not the one deleted before its header came
    EXPECT_EQ(Listed().size(), 38u);
    EXPECT_TRUE(S.Store().At(29).Deleted);
    S.End();
    EXPECT_EQ(Server->CountMessages(), 38);
}

TEST_F(SessionTest, AConnectionLostBeforeQuitBringsTheDeletedRecordsBackAndDeletesNothing)
{
    AddMessages(3);
    ASSERT_TRUE(S.Connect(Account()));
    S.List();
    ASSERT_EQ(S.Delete({2}), 1);
    Server->Stop();   // the server's processes end: the connection breaks without QUIT
    ASSERT_TRUE(testsupport::PumpUntil([this] { return !S.Connected(); }, 5000ms));
    EXPECT_EQ(Events.back(), "lost, kept");
    EXPECT_EQ(Listed(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(S.DeletedCount(), 0);
    EXPECT_EQ(S.State(), TSessionState::Idle);
    Server->Restart();
    ASSERT_TRUE(S.Connect(Account("secret", Server->Port())));
    S.List();
    EXPECT_EQ(Listed(), (std::vector<int>{1, 2, 3}));
}

// An end while a listing runs and a deletion waits must not overtake the reply in hand: it
// waits, then QUIT commits the deletion.
TEST_F(SessionTest, AnEndDuringAListingAfterADeletionWaitsThenCommitsWithQuit)
{
    AddMessages(3);
    ASSERT_TRUE(S.Connect(Account()));
    S.List();
    ASSERT_EQ(S.Delete({1}), 1);
    bool pending = false, connected = false;
    S.OnListProgress = [&](int, int) {
        if (!pending) {
            S.End();
            pending = S.EndPending();
            connected = S.Connected();
        }
    };
    S.List();
    EXPECT_TRUE(pending);
    EXPECT_TRUE(connected);
    EXPECT_FALSE(S.Connected());
    EXPECT_TRUE(S.QuitConfirmed());
    EXPECT_EQ(Listed(), (std::vector<int>{2, 3}));
    EXPECT_EQ(Server->CountMessages(), 2);
}

TEST_F(SessionTest, AFailedConnectSaysWhyAndTriesNothingWithoutAPassword)
{
    testsupport::StalledListener stalled;
    testsupport::Script quiet;
    quiet.Pause(3000ms).Close();
    testsupport::ScriptServer silent(quiet);
    const auto waiting = [](int port) { return TAccountFields{"test", "alice", "secret", "127.0.0.1", "1", std::to_string(port)}; };
    const struct {
        TAccountFields account;
        TConnectFailure failure;
    } cases[] = {
        {Account("wrong"), TConnectFailure::LoginRefused},
        {Account("secret", testsupport::UnusedPort()), TConnectFailure::Refused},
        {{"test", "alice", "secret", "bad..name", "10", "110"}, TConnectFailure::HostNotFound},
        {waiting(stalled.Port()), TConnectFailure::TimedOut},   // no TCP connection in time
        {waiting(silent.Port()), TConnectFailure::NoAnswer},    // connected, no greeting in time
        // The field is empty, no keyring, nobody to ask: the server is never asked.
        {Account(""), TConnectFailure::NoPassword},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.account[afServer] + ":" + c.account[afPort] + " " + c.account[afPassword]);
        EXPECT_FALSE(S.Connect(c.account));
        EXPECT_EQ(S.Failure(), c.failure);
        EXPECT_EQ(S.State(), TSessionState::Idle);
        if (c.failure == TConnectFailure::LoginRefused) {
            EXPECT_EQ(S.LoginRefusal().substr(0, 4), "-ERR");
        }
    }
    ASSERT_TRUE(S.Connect(Account()));
    EXPECT_FALSE(S.Connect(Account()));   // one connection at a time
    EXPECT_EQ(S.Failure(), TConnectFailure::Busy);
    EXPECT_TRUE(S.Connected());
}

// ---- OAuth 2.0 ----

TEST(OAuthKnownAnswers, PkceOfRfc7636AndTheProvidersSettings)
{
    EXPECT_EQ(PkceChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"), "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    EXPECT_EQ(PkceVerifier().size(), 43u);
    EXPECT_NE(PkceVerifier(), PkceVerifier());
    for (const auto& [server, provider] : std::vector<std::pair<std::string, std::string>>{
             {"pop.gmail.com", "google"}, {" Outlook.Office365.com", "microsoft"}, {"pop-mail.outlook.com", "microsoft"},
             {"pop.example.jp", ""}})
        EXPECT_EQ(ProposedOAuthProvider(server), provider) << server;
    for (const auto& [url, safe] : std::vector<std::pair<std::string, bool>>{
             {"https://oauth2.googleapis.com/token", true}, {"http://127.0.0.1:8080/token", true},
             {"http://oauth.example.jp/token", false}, {"file:///etc/passwd", false}, {"https:///x", false}})
        EXPECT_EQ(SafeEndpoint(url), safe) << url;
    // A section overrides a built-in provider's settings (names without case) and adds others.
    const testsupport::TempFolder dir("purgel-oauth");
    const std::string file = (dir / "purgel.ini").string();
    testsupport::WriteFile(file, "[OAuth2 Google]\nClientId=mine\n[oauth2 corp]\nTokenUrl=https://t\n");
    const auto google = FindOAuthProvider("google", file);
    ASSERT_TRUE(google);
    EXPECT_EQ(google->ClientId, "mine");
    EXPECT_EQ(google->TokenUrl, "https://oauth2.googleapis.com/token");
    EXPECT_EQ(FindOAuthProvider("microsoft", file)->ClientId, "");
    EXPECT_EQ(FindOAuthProvider("CORP", file)->TokenUrl, "https://t");
    EXPECT_FALSE(FindOAuthProvider("other", file));
    EXPECT_EQ(OAuthProviderNames(file), (std::vector<std::string>{"google", "microsoft", "corp"}));
}

class OAuthSessionTest : public SessionTest {
protected:
    static void SetUpTestSuite()
    {
        Auth = new testsupport::OAuthServer;
        Server = new DovecotServer;
        Server->EnableTls(TrustedTestCerts().Server.CertFile, TrustedTestCerts().Server.KeyFile);
        Server->EnableOAuth(Auth->Url("/introspect"));
        Server->Start();
    }
    static void TearDownTestSuite()
    {
        SessionTest::TearDownTestSuite();
        delete Auth;
    }
    void SetUp() override
    {
        SessionTest::SetUp();
        OAuth.SettingsFile = Files.filePath("purgel.ini").toStdString();
        testsupport::WriteFile(OAuth.SettingsFile, Auth->Settings("test"));
        OAuth.OnSignInStart = [this](const TSignInRequest& request) {
            Requests.push_back(request);
            if (Follow)
                Browsers.emplace_back([url = request.Url] { testsupport::OAuthServer::FollowAuthorization(url); });
        };
    }
    void TearDown() override
    {
        SessionTest::TearDown();
        for (std::thread& b : Browsers)
            b.join();
    }
    static TAccountFields OAuthAccount(const std::string& security = "tls")
    {
        return {"test", "alice", "", "127.0.0.1", "10", std::to_string(Server->TlsPort()), security, "oauth2:test"};
    }

    static testsupport::OAuthServer* Auth;
    TOAuthClient OAuth{nullptr};
    TAccountCredentials Credentials{Passwords, OAuth};
    TMailboxSession S{Credentials};
    std::vector<TSignInRequest> Requests;
    std::vector<std::thread> Browsers;
    bool Follow = true;
};

testsupport::OAuthServer* OAuthSessionTest::Auth = nullptr;

TEST_F(OAuthSessionTest, SignsInListsAndRenewsAnExpiringOrRefusedTokenWithoutAQuestion)
{
    Server->ClearMessages();
    SessionTest::AddMessages(3);
    Auth->SetExpiresIn(30);   // within the minute before expiry: the next connect refreshes first
    ASSERT_TRUE(S.Connect(OAuthAccount())) << Server->Log() << OAuth.Status().Code << OAuth.Status().Description;
    S.List();
    EXPECT_EQ(S.Store().Count(), 3);
    EXPECT_EQ(S.Pop3().SaslMechanism, TNMPOP3::TSaslMechanism::OAuthBearer);
    S.End();
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_FALSE(Requests[0].Again);
    EXPECT_EQ(OAuth.Status().Kept, false) << "no keyring: for this run only";

    Auth->SetExpiresIn(3600);
    ASSERT_TRUE(S.Connect(OAuthAccount()));
    S.End();
    EXPECT_EQ(Auth->Grants("refresh_token"), 1);
    Auth->ExpireAccessTokens();   // refused at the server: refreshed once, then in
    ASSERT_TRUE(S.Connect(OAuthAccount()));
    EXPECT_EQ(Auth->Grants("refresh_token"), 2);
    EXPECT_EQ(Requests.size(), 1u);
}

TEST_F(OAuthSessionTest, ARevokedSignInAsksAgainOrSaysSoWithoutSomeoneToAsk)
{
    ASSERT_TRUE(S.Connect(OAuthAccount()));
    S.End();
    Auth->ExpireAccessTokens();
    Auth->RevokeRefreshTokens();
    const auto start = std::move(OAuth.OnSignInStart);
    OAuth.OnSignInStart = nullptr;
    EXPECT_FALSE(S.Connect(OAuthAccount()));
    EXPECT_EQ(S.Failure(), TConnectFailure::NoPassword);
    EXPECT_EQ(OAuth.Status().Error, TOAuthError::SignInNeeded);
    EXPECT_EQ(OAuth.Status().Code, "invalid_grant");
    OAuth.OnSignInStart = start;
    ASSERT_TRUE(S.Connect(OAuthAccount()));
    ASSERT_EQ(Requests.size(), 2u);
}

TEST_F(OAuthSessionTest, EveryWayASignInFailsIsToldApart)
{
    const struct {
        const char* name;
        std::function<void()> prepare;
        TOAuthError error;
        std::string code;
    } cases[] = {
        {"denied in the browser", [] { Auth->Deny(); }, TOAuthError::Denied, "access_denied"},
        {"wrong PKCE verifier", [this] {
             OAuth.OnSignInStart = [this](const TSignInRequest& r) {
                 const std::string url = r.Url.substr(0, r.Url.find("code_challenge=") + 15) + "x" +
                                         r.Url.substr(r.Url.find("code_challenge=") + 15);
                 Browsers.emplace_back([url] { testsupport::OAuthServer::FollowAuthorization(url); });
             };
         }, TOAuthError::TokenRefused, "invalid_grant"},
        {"no browser within the time", [this] { Follow = false; OAuth.ListenTimeOut = std::chrono::milliseconds(300); },
         TOAuthError::TimedOut, ""},
        {"canceled while waiting", [this] { Follow = false; OAuth.OnSignInEnd = nullptr;
             OAuth.OnSignInStart = [this](const TSignInRequest&) { S.End(); }; }, TOAuthError::Canceled, ""},
        {"a provider nobody knows", [this] { OAuth.SettingsFile = Files.filePath("none.ini").toStdString(); },
         TOAuthError::NoProvider, "test"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        EXPECT_FALSE(S.Connect(OAuthAccount()));
        EXPECT_EQ(S.Failure(), c.error == TOAuthError::Canceled ? TConnectFailure::Withdrawn : TConnectFailure::NoPassword);
        EXPECT_EQ(OAuth.Status().Error, c.error);
        EXPECT_EQ(OAuth.Status().Code, c.code);
        SetUp();
    }
    // A token never travels in clear: the account is refused before anyone is asked.
    Requests.clear();
    EXPECT_FALSE(S.Connect(OAuthAccount("")));
    EXPECT_EQ(S.Failure(), TConnectFailure::TokenNeedsTls);
    EXPECT_TRUE(Requests.empty());
}

TEST_F(SessionTest, ASecondSessionListsFromTheCacheAndAsksOnlyForWhatChanged)
{
    AddMessages(5);
    EXPECT_EQ(ListedTops(), 5);
    struct stat st {};
    ASSERT_EQ(::stat(Cache().FileName().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(CacheFolder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    int atOnce = -1;   // headers there with the rows, before any TOP
    S.OnListProgress = [&](int done, int) { atOnce = atOnce < 0 ? done : atOnce; };
    EXPECT_EQ(ListedTops(), 0);
    EXPECT_EQ(atOnce, 5);
    EXPECT_EQ(Subjects()[4], " 5 subject");

    // Another client deletes message 2, a message arrives: one TOP, the file drops message 2.
    std::filesystem::remove(Server->MessageFiles()[1]);
    Server->AddMessage(mailbox::MailBuilder().Subject("6 subject").Text("new\n").Build());
    EXPECT_EQ(ListedTops(), 1);
    EXPECT_EQ(Subjects(), (std::vector<std::string>{" 1 subject", " 3 subject", " 4 subject", " 5 subject", " 6 subject"}));
    THeaderCache cache = Cache();
    EXPECT_EQ(cache.Load(), TCacheState::Whole);
    EXPECT_EQ(cache.Entries.size(), 5u);
    EXPECT_EQ(cache.Records(), 5u);

    // A UIDL the server gives to a message of another size is read anew, never shown stale.
    const std::string uidl = S.Store().At(0).Uidl;
    std::vector<TCacheEntry> entries{{uidl, S.Store().At(0).Size + 1, 0, "Subject: stale\r\n", " stale"}};
    for (int row = 1; row < S.Store().Count(); ++row) {
        const TMessageRecord& r = S.Store().At(row);
        entries.push_back({r.Uidl, r.Size, 0, r.Header, r.Subject, r.From, r.Date});
    }
    ASSERT_TRUE(cache.Rewrite(entries));
    EXPECT_EQ(ListedTops(), 1);
    EXPECT_EQ(Subjects(), (std::vector<std::string>{" 1 subject", " 3 subject", " 4 subject", " 5 subject", " 6 subject"}));
    EXPECT_EQ(S.Store().At(3).From, " a@example.jp");   // from the cache
}

TEST_F(SessionTest, ATornOrDamagedCacheIsNeverBelievedAndIsBuiltAnew)
{
    AddMessages(5);
    const struct {
        const char* what;
        std::function<void(std::string&)> damage;
        int tops;   // what the next listing reads again
    } cases[] = {
        {"torn last record", [](std::string& f) { f.resize(f.size() - 7); }, 1},
        {"torn length", [](std::string& f) { f += "\x20\x00"; }, 0},
        {"empty", [](std::string& f) { f.clear(); }, 5},
        {"a flipped byte inside", [](std::string& f) { f[f.size() / 2] ^= 0x40; }, 5},
        {"a huge length inside", [](std::string& f) { f.replace(f.find("Kalice") - 8, 4, "\xff\xff\xff\x7f"); }, 5},
        {"not a cache", [](std::string& f) { f = "Subject: hello\r\n"; }, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ListedTops();
        std::string file = testsupport::ReadFile(Cache().FileName());
        c.damage(file);
        testsupport::WriteFile(Cache().FileName(), file, 0600);
        EXPECT_EQ(ListedTops(), c.tops);
        EXPECT_EQ(Subjects(), (std::vector<std::string>{" 1 subject", " 2 subject", " 3 subject", " 4 subject", " 5 subject"}));
        THeaderCache cache = Cache();
        EXPECT_EQ(cache.Load(), TCacheState::Whole);
        EXPECT_EQ(cache.Entries.size(), 5u);
    }
}

TEST_F(SessionTest, AServerWithoutUidlsOrWithARepeatedOneGetsNoCache)
{
    for (const std::string uidl : {"-ERR no\r\n", "+OK\r\n1 same\r\n2 same\r\n.\r\n"}) {
        SCOPED_TRACE(uidl);
        testsupport::Script s;
        s.Pop3Login("+OK ready", "alice", "secret", "+OK 2 300", {"TOP", "UIDL"})
            .Expect("CAPA").Send("+OK\r\nTOP\r\nUIDL\r\n.\r\n")
            .Expect("UIDL").Send(uidl)
            .Expect("LIST").Send("+OK\r\n1 100\r\n2 200\r\n.\r\n");
        for (const char* n : {"1", "2"})
            s.Expect(std::string("TOP ") + n + " 0").Send(std::string("+OK\r\nSubject: message ") + n + "\r\n\r\n.\r\n");
        s.Expect("QUIT").SendLine("+OK").WaitForClose();
        testsupport::ScriptServer server(s);
        THeaderCache stale = Cache(server.Port());
        ASSERT_TRUE(stale.Rewrite({{"same", 100, 0, "Subject: stale\r\n", " stale"}}));
        ASSERT_TRUE(S.Connect(Account("secret", server.Port())));
        S.List();
        S.End();
        EXPECT_TRUE(server.WaitDone());
        EXPECT_EQ(Subjects(), (std::vector<std::string>{" message 1", " message 2"}));
        EXPECT_FALSE(std::filesystem::exists(stale.FileName()));
    }
}

// Every account at a glance: a failing account never stops the others; a server in use by
// another connection is tried again after the others, once; each row has the mailbox's
// figures, its largest sender and, from the second look on, what is new since.
TEST_F(SessionTest, TheCheckOfEveryAccountGoesOnPastFailuresAndCountsWhatIsNew)
{
    const std::vector<long long> sizes = AddMessages(3);
    TAccountsCheck check(Passwords);
    check.LooksFile = Files.filePath("LastLook.lst").toStdString();
    std::vector<int> order;
    check.OnChanged = [&](int i) {
        if (check.Summaries()[static_cast<std::size_t>(i)].State == TAccountSummary::TState::Checking)
            order.push_back(i);
    };
    TAccountFields busy = Account(), stays = Account();
    busy[afName] = "busy";
    stays[afName] = "stays busy";
    int asked = 0;
    check.ServerInUse = [&](const TAccountFields& a) { return a[afName] == "stays busy" || (a[afName] == "busy" && asked++ == 0); };
    check.Run({busy, Account("wrong"), Account("secret", testsupport::UnusedPort()), stays, Account()});
    const std::vector<TAccountSummary>& s = check.Summaries();
    ASSERT_EQ(s.size(), 5u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 4, 0}));
    EXPECT_EQ(s[1].State, TAccountSummary::TState::Failed);
    EXPECT_EQ(s[1].Failure, TConnectFailure::LoginRefused);
    EXPECT_EQ(s[2].Failure, TConnectFailure::Refused);
    EXPECT_TRUE(s[3].InUse);
    EXPECT_EQ(s[3].State, TAccountSummary::TState::Failed);
    for (int i : {0, 4}) {
        EXPECT_EQ(s[i].State, TAccountSummary::TState::Done);
        EXPECT_EQ(s[i].Messages, 3);
        EXPECT_EQ(s[i].Size, sizes[0] + sizes[1] + sizes[2]);
        EXPECT_EQ(s[i].LargestSender.Key, "a@example.jp");
    }
    EXPECT_EQ(s[4].New, -1);   // never looked at before
    EXPECT_EQ(s[0].New, 0);    // looked at just before, as the same account
    EXPECT_EQ(Server->CountMessages(), 3);   // nothing deleted

    AddMessages(2);
    check.Run({Account()});
    EXPECT_EQ(check.Summaries()[0].New, 2);
    EXPECT_EQ(check.Summaries()[0].Messages, 5);
}

} // namespace
