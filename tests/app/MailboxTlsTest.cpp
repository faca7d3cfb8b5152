// The window over TLS against Dovecot: a certificate the system does not vouch for is shown
// and may be trusted for its server, another certificate for that server asks again with the
// stronger warning; a STARTTLS account at a server without STLS is told why; an OAuth 2.0
// account of "purgel.ini" signs in through whatever xdg-open opens. What the session keeps in
// "Trusted.lst": tests/mailbox/SessionServerTest.cpp.
#include <QDir>

#include "app/accounts/CertificateText.h"
#include "app/accounts/SignInHandling.h"
#include "mailbox/Environment.h"
#include "pop3/Nmpop3.h"
#include "tests/app/MailboxFixture.h"
#include "tests/support/Dovecot.h"
#include "tests/support/Files.h"
#include "tests/support/OAuthServer.h"
#include "tests/support/PopServer.h"
#include "tests/support/TestCerts.h"

namespace {

class MailboxTlsTest : public MailboxTest {
protected:
    static const testsupport::TestCerts& Certs() { return TrustedTestCerts(); }
    // Serves `cert` from the first byte on the same ports as before.
    void Serve(DovecotServer& server, const testsupport::TestCert& cert)
    {
        server.Stop();
        server.EnableTls(cert.CertFile, cert.KeyFile);
        server.Restart();
    }
    void UseSecureAccount(int port, const std::string& security)
    {
        W->Lv1->ClearItems();
        UseAccount("127.0.0.1", port);
        W->Lv1->AddSubItem(0, security);
    }
    bool ConnectAndEnd()
    {
        ClickConnect();
        const bool in = W->NMPOP3->Connected;
        if (W->SpeedButton1->isChecked())
            ClickConnect();
        return in;
    }
    static std::string Pairs(const std::string& hex) { return hex.substr(0, 2) + ":" + hex.substr(2, 2) + ":"; }
};

TEST_F(MailboxTlsTest, ADeclinedCertificateIsNeverTakenForAnotherAccounts)
{
    DovecotServer selfSigned, caSigned;
    selfSigned.EnableTls(Certs().SelfSigned.CertFile, Certs().SelfSigned.KeyFile);
    caSigned.EnableTls(Certs().Server.CertFile, Certs().Server.KeyFile);
    selfSigned.Start();
    caSigned.Start();
    UseSecureAccount(selfSigned.TlsPort(), "tls");
    EXPECT_FALSE(ConnectAndEnd());   // declined
    UseSecureAccount(caSigned.TlsPort(), "tls");
    W->Lv1->SetSubItem(0, 1, "");   // in the keyring, which has no entry: Enter on the empty prompt
    PasswordAnswers = {{"", TRememberPlace::None}};
    Boxes.clear();
    EXPECT_FALSE(ConnectAndEnd());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, Texts::CouldNotConnect + ("\n" + std::string(Texts::FieldMissing[afPassword])));
    EXPECT_TRUE(W->NMPOP3->PeerCertificate().empty());
    EXPECT_FALSE(Exists("Trusted.lst"));
}

TEST_F(MailboxTlsTest, AnUntrustedCertificateIsShownTrustedForItsServerAndAChangeWarnedOf)
{
    DovecotServer server;
    const testsupport::TestCert& self = Certs().AllWrong;   // self-signed, expired, for another name
    server.EnableTls(self.CertFile, self.KeyFile);
    server.Start();
    const int port = server.TlsPort();
    UseSecureAccount(port, "tls");

    EXPECT_FALSE(ConnectAndEnd());   // declined: nothing kept
    ASSERT_EQ(Boxes.size(), 1u);
    const TMessageBoxRequest& box = Boxes[0];
    EXPECT_EQ(box.Caption, Texts::CertificateCaption);
    EXPECT_EQ(box.Buttons, TMsgButtons::YesNo);
    EXPECT_EQ(box.DefaultButton, 1);
    for (const std::string& part : {TlsProblemText({TTlsProblem::CertificateSelfSigned, TTlsProblem::HostMismatch,
                                                    TTlsProblem::CertificateExpired}),
                                   std::string(Texts::SubjectLabel), Texts::AltNamesLabel + std::string("mail.invalid"),
                                   std::string(Texts::IssuerLabel),
                                   std::string(Texts::ValidityLabel), Texts::FingerprintLabel + Pairs(self.Sha256),
                                   std::string(Texts::AskTrustCertificate)})
        EXPECT_NE(box.Text.find(part), std::string::npos) << part;
    EXPECT_EQ(box.Text.find(Texts::CertificateChanged), std::string::npos);

    // Trusted, but "Trusted.lst" cannot be written (a folder in its place): said so, not connected.
    Boxes.clear();
    Answers = {mrYes};
    ASSERT_TRUE(QDir(Dir.path()).mkdir("Trusted.lst"));
    EXPECT_FALSE(ConnectAndEnd());
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[1].Text, Texts::SaveFailed);
    ASSERT_TRUE(QDir(Dir.path()).rmdir("Trusted.lst"));

    Boxes.clear();
    Answers = {mrYes};
    EXPECT_TRUE(ConnectAndEnd());   // trusted, then connected on the second try
    EXPECT_EQ(Boxes.size(), 1u);
    Boxes.clear();
    EXPECT_TRUE(ConnectAndEnd());
    EXPECT_TRUE(Boxes.empty());

    Serve(server, Certs().UnknownIssuer);
    EXPECT_FALSE(ConnectAndEnd());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text.rfind(Texts::CertificateChanged, 0), 0u);
    EXPECT_EQ(Boxes[0].Icon, TMsgIcon::Stop);
    EXPECT_NE(Boxes[0].Text.find(Texts::TlsProblemTexts[static_cast<int>(TTlsProblem::CertificateUntrusted)]), std::string::npos);
}

TEST_F(MailboxTlsTest, StartTlsAtAServerWithoutStlsSaysSoOnce)
{
    DovecotServer server;
    server.Start();
    UseSecureAccount(server.Port(), "starttls");
    EXPECT_FALSE(ConnectAndEnd());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, Texts::TlsProblemTexts[static_cast<int>(TTlsProblem::StlsNotOffered)]);
    EXPECT_FALSE(W->SpeedButton1->isChecked());
}

TEST_F(MailboxTlsTest, AnOAuthAccountSignsInThroughWhatXdgOpenOpensAndListsTheMailbox)
{
    testsupport::OAuthServer auth;
    DovecotServer server;
    server.EnableTls(Certs().Server.CertFile, Certs().Server.KeyFile);
    server.EnableOAuth(auth.Url("/introspect"));
    server.Start();
    server.AddMessages({"Subject: one\r\n\r\nx\r\n", "Subject: two\r\n\r\ny\r\n"});
    testsupport::WriteFile(SettingsFileName(), auth.Settings("corp"));
    // The desktop's browser: a script on PATH that follows the URL and its redirect.
    testsupport::WriteFile(Path("xdg-open"),
                           "#!/bin/sh\nexec python3 -c 'import sys, urllib.request; urllib.request.urlopen(sys.argv[1])' \"$1\"\n", 0700);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", Dir.path().toLocal8Bit() + ":" + path);
    UseSecureAccount(server.TlsPort(), "tls");
    W->Lv1->AddSubItem(0, "oauth2:corp");
    W->Lv1->SetSubItem(0, afPassword - 1, "");
    bool waited = false;
    When([&] { return W->SignInHandling->Dialog() != nullptr; }, [&] { waited = true; });
    ClickConnect();
    qputenv("PATH", path);
    EXPECT_TRUE(waited);
    EXPECT_EQ(W->SignInHandling->Dialog(), nullptr);
    ASSERT_TRUE(W->NMPOP3->Connected) << server.Log() << TSignInHandling::FailureText(W->SignIns.Status());
    EXPECT_EQ(W->Lv2->model()->rowCount(), 2);
    // No keyring here: the sign-in holds for this run, and the window says so.
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{Texts::SignInNotKept});
    ClickConnect();
}

}  // namespace
