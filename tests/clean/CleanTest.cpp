// purgel-clean against Dovecot (plain, TLS, STARTTLS): --dry-run names exactly the messages
// that meet the conditions and deletes nothing, a real run leaves exactly the others; each
// exit status from a real cause; the program itself without a display or a terminal.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QProcess>
#include <sstream>
#include <sysexits.h>

#include "clean/Cleaner.h"
#include "clean/CleanOptions.h"
#include "mailbox/Environment.h"
#include "tests/support/Dovecot.h"
#include "tests/support/Files.h"
#include "tests/support/Mailbox.h"
#include "tests/support/PopServer.h"
#include "tests/support/ScriptServer.h"
#include "tests/support/TestCerts.h"

using namespace std::chrono_literals;

namespace {

struct TRun {
    int Status = -1;
    std::string Out, Err;
};

class CleanTest : public ::testing::Test {
protected:
    void SetUp() override { SetAppFolder(Folder.Path().string() + "/"); }
    void TearDown() override { SetAppFolder(""); }
    // "Account.lst" of these lines (name, ID, password, server, time-out, port[, security]).
    void Accounts(const std::vector<std::string>& lines)
    {
        std::string text;
        for (const std::string& line : lines)
            text += line + "\r\n";
        testsupport::WriteFile(AccountFileName(), text, 0600);
    }
    static std::string Account(const std::string& name, int port, const std::string& password = "secret",
                               const std::string& security = "", const std::string& timeOut = "5")
    {
        return "\"" + name + "\",\"alice\",\"" + password + "\",\"127.0.0.1\",\"" + timeOut + "\",\"" +
               std::to_string(port) + "\",\"" + security + "\"";
    }
    static TRun Run(const std::vector<std::string>& args)
    {
        std::ostringstream out, err;
        TCleanIo io{out, err, TLanguage::English, false, nullptr};
        TRun run;
        run.Status = RunClean(args, io);
        run.Out = out.str();
        run.Err = err.str();
        return run;
    }
    // The message numbers at the start of the lines, the last (the count) aside.
    static std::vector<int> Numbers(const std::string& out)
    {
        std::vector<int> numbers;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])))
                numbers.push_back(std::stoi(line));
        return numbers;
    }

    testsupport::TempFolder Folder{"purgel-clean"};
};

class CleanServerTest : public CleanTest, public ::testing::WithParamInterface<PopServerKind> {};

TEST_P(CleanServerTest, ADryRunNamesExactlyTheMatchesAndARealRunLeavesExactlyTheOthers)
{
    PopServer& server = SharedPopServer(GetParam(), "alice", "secret");
    const std::string today = QDateTime::currentDateTimeUtc().toString(Qt::RFC2822Date).toStdString();
    const std::string old = "Mon, 1 Jan 2001 09:00:00 +0900", big(5000, 'x');
    using mailbox::MailBuilder;
    server.AddMessage(MailBuilder().Subject("old news").From("news@example.org").Date(old).Build());
    server.AddMessage(MailBuilder().Subject("photo").From("friend@example.jp").Date(today).Text(big).Build());
    server.AddMessage(MailBuilder()
                          .JapaneseSubject("\x82r\x82`\x82k\x82" "d\x82\xcc\x82\xa8\x92m\x82\xe7\x82\xb9" /* sjis: ＳＡＬＥのお知らせ */)
                          .From("Shop <shop@example.org>").Date(today).Build());
    server.AddMessage(MailBuilder().Subject("undated").From("a@example.jp").Date("someday").Build());
    server.AddMessage(MailBuilder().Subject("old photo").From("\"b@x\" <B@Example.JP>").Date(old).Text(big).Build());
    const TTlsMode mode = GetParam().Mode;
    Accounts({Account("box", GetParam().ClientPort(server), "secret",
                      mode == TTlsMode::Implicit ? "tls" : mode == TTlsMode::StartTls ? "starttls" : "")});
    const struct {
        std::vector<std::string> Conditions;
        std::vector<int> Matches;
    } cases[] = {
        {{"--older-than", "30"}, {1, 5}},   // never one without a date
        {{"--larger-than=4K"}, {2, 5}},
        {{"--from", "@example.org"}, {1, 3}},
        {{"--from", "a@example.jp", "--from", "b@example.jp"}, {4, 5}},
        {{"--subject", "sale"}, {3}},       // full-width letters and case alike
        {{"--older-than", "30", "--larger-than", "4k"}, {5}},
        {{"--rules"}, {1, 2, 5}},           // a friend wins over its domain
    };
    testsupport::WriteFile(RulesFileName(), "check domain example.org\nkeep sender shop@example.org\ncheck subject photo\n");
    for (const auto& c : cases) {
        std::vector<std::string> args{"delete", "box", "--dry-run"};
        args.insert(args.end(), c.Conditions.begin(), c.Conditions.end());
        const TRun run = Run(args);
        SCOPED_TRACE(c.Conditions[0] + "\n" + run.Err);
        ASSERT_EQ(run.Status, EX_OK);
        EXPECT_EQ(Numbers(run.Out), c.Matches);
    }
    EXPECT_EQ(server.CountMessages(), 5);
    const TRun stats = Run({"stats", "box", "--by", "domain"});
    EXPECT_EQ(stats.Out.substr(0, 2), "3\t") << stats.Err;
    EXPECT_NE(stats.Out.find("\texample.jp\n2\t"), std::string::npos) << stats.Out;

    const TRun run = Run({"delete", "box", "--from", "@example.org"});
    ASSERT_EQ(run.Status, EX_OK) << run.Err;
    EXPECT_EQ(Numbers(run.Out), (std::vector<int>{1, 3}));
    EXPECT_NE(run.Out.find("\nmessages deleted: 2 ("), std::string::npos) << run.Out;
    EXPECT_EQ(server.CountMessages(), 3);
    const TRun left = Run({"list", "box", "--json"});
    ASSERT_EQ(left.Status, EX_OK);
    for (const char* kept : {"\"photo\"", "\"undated\"", "\"old photo\"", "\"b@example.jp\""})
        EXPECT_NE(left.Out.find(kept), std::string::npos) << kept;
    EXPECT_EQ(left.Out.find("news@example.org"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(, CleanServerTest,
                         ::testing::Values(PopServerKinds()[0], TlsPopServerKinds()[0], TlsPopServerKinds()[1]),
                         [](const auto& info) { return info.param.Name; });

TEST_F(CleanTest, EachExitStatusComesFromItsCause)
{
    PopServer& dovecot = SharedPopServer(PopServerKinds()[0], "alice", "secret");
    dovecot.AddMessage(mailbox::MailBuilder().Build());
    testsupport::TestCerts certs;
    DovecotServer selfSigned;
    selfSigned.EnableTls(certs.SelfSigned.CertFile, certs.SelfSigned.KeyFile);
    selfSigned.Start();
    testsupport::ScriptServer silent(testsupport::Script().Pause(2500ms));
    // One deletion accepted, then the connection dropped: before QUIT, or after it unanswered.
    const auto twoDeleted = [] {
        return testsupport::Script()
            .Pop3Login("+OK", "alice", "secret", "+OK 2 200")
            .Expect("UIDL").SendLine("-ERR no ids").Expect("LIST").Send("+OK\r\n1 100\r\n2 100\r\n.\r\n")
            .Expect("TOP 1 0").Send("+OK\r\nSubject: one\r\n\r\n.\r\n")
            .Expect("TOP 2 0").Send("+OK\r\nSubject: two\r\n\r\n.\r\n")
            .Expect("DELE 1").SendLine("+OK").Expect("DELE 2");
    };
    testsupport::ScriptServer dropping(twoDeleted().Close());
    testsupport::ScriptServer unanswered(twoDeleted().SendLine("+OK").Expect("QUIT").Close());
    const int port = dovecot.Port();
    Accounts({Account("box", port), Account("wrong", port, "nope"), Account("keyring", port, ""),
              Account("closed", testsupport::UnusedPort()), Account("silent", silent.Port(), "secret", "", "1"),
              Account("dropping", dropping.Port()), Account("unanswered", unanswered.Port()), Account("odd", port, "secret", "tsl"),
              Account("self", selfSigned.TlsPort(), "secret", "tls"), Account("twice", port), Account("twice", port)});
    const struct {
        std::vector<std::string> Args;
        int Status;
        std::string Said;
    } cases[] = {
        {{"list", "box", "--bogus"}, EX_USAGE, "unknown option \"--bogus\""},
        {{"delete", "box"}, EX_USAGE, "at least one condition"},
        {{"delete", "box", "--larger-than", "3X"}, EX_USAGE, "\"3X\" is not a valid value"},
        {{"stats", "box", "--dry-run"}, EX_USAGE, "--dry-run does not go with stats"},
        {{"list", "nobody"}, EX_NOUSER, "no account named \"nobody\""},
        {{"list", "twice"}, EX_NOUSER, "2 accounts are named \"twice\""},
        {{"list", "wrong"}, EX_NOPERM, "login refused: -ERR"},
        {{"list", "keyring"}, EX_NOPERM, "enter it in the window"},   // nobody to ask
        {{"list", "closed"}, EX_UNAVAILABLE, "refused the connection"},
        {{"list", "self"}, EX_UNAVAILABLE, "(self-signed): connect once in the window"},
        {{"list", "silent"}, EX_TEMPFAIL, "no answer within 1 seconds"},
        {{"delete", "dropping", "--larger-than", "0"}, EX_TEMPFAIL, "lost before QUIT: nothing was deleted"},
        {{"delete", "unanswered", "--larger-than", "0"}, EX_TEMPFAIL, "did not confirm QUIT"},
        {{"list", "odd"}, EX_CONFIG, "unknown security \"tsl\""},
        {{"delete", "box", "--rules"}, EX_CONFIG, "(line 2)"},
        {{"list", "box", "--accounts", (Folder / "none.lst").string()}, EX_CONFIG, "cannot read"},
    };
    testsupport::WriteFile(RulesFileName(), "keep sender a@example.jp\nkeep sendr b@example.jp\n");
    for (const auto& c : cases) {
        const TRun run = Run(c.Args);
        SCOPED_TRACE(c.Args[1] + ": " + run.Err);
        EXPECT_EQ(run.Status, c.Status);
        EXPECT_NE(run.Err.find(c.Said), std::string::npos);
        EXPECT_EQ(run.Out, "");
    }
    EXPECT_EQ(Run({"list", "box"}).Status, EX_OK);
}

// The program as cron runs it: no display, no terminal, no keyring; Japanese by the locale.
TEST_F(CleanTest, TheProgramRunsWithoutADisplayAndNeverAsks)
{
    PopServer& dovecot = SharedPopServer(PopServerKinds()[0], "alice", "secret");
    dovecot.AddMessage(mailbox::MailBuilder().Subject("hello").Build());
    std::filesystem::create_directories(Folder / "purgel");
    SetAppFolder((Folder / "purgel").string() + "/");
    Accounts({Account("box", dovecot.Port()), Account("keyring", dovecot.Port(), "")});
    const auto run = [this](const QStringList& args, const QString& lang) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS", "LC_ALL"})
            env.remove(QString::fromLatin1(name));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(Folder.Path().string()));
        env.insert("LANG", lang);
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(PURGEL_CLEAN, args);
        EXPECT_TRUE(p.waitForFinished(static_cast<int>(testsupport::Generous(20s).count())));
        return TRun{p.exitCode(), p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
    };
    const TRun listed = run({"list", "box"}, "C");
    EXPECT_EQ(listed.Status, EX_OK) << listed.Err;
    EXPECT_NE(listed.Out.find("\thello\n"), std::string::npos) << listed.Out;
    const TRun asked = run({"list", "keyring"}, "ja_JP.UTF-8");
    EXPECT_EQ(asked.Status, EX_NOPERM);
    EXPECT_NE(asked.Err.find("\xe3\x82\xa6\xe3\x82\xa3\xe3\x83\xb3\xe3\x83\x89\xe3\x82\xa6" /* utf-8: ウィンドウ */),
              std::string::npos) << asked.Err;
}

}  // namespace
