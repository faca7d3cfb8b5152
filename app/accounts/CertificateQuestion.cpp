// The main window's side of secure connections: the question whether to trust a certificate
// the system does not vouch for, and the reason a secure connection failed, in Japanese.
#include "app/accounts/CertificateQuestion.h"

#include "app/accounts/CertificateText.h"
#include "app/mailboxview/MailboxCommands.h"
#include "app/main/MainWindow.h"
#include "app/main/MessageBox.h"
#include "app/main/Texts.h"

TCertificateQuestion::TCertificateQuestion(TMain& window) : W(window)
{
    W.Session.OnTrustCertificate = [this](const TTrustQuestion& question) { return Ask(question); };
}

TCertificateQuestion::~TCertificateQuestion() { W.Session.OnTrustCertificate = nullptr; }

void TCertificateQuestion::ShowFailure(TTlsProblem problem) const
{
    MessageBox(TlsProblemText(problem), Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
}

bool TCertificateQuestion::Ask(const TTrustQuestion& question) const
{
    if (W.Mailbox->Closing())
        return false;
    std::string text = question.Changed ? std::string(Texts::CertificateChanged) + "\n\n" : std::string();
    text += TlsProblemText(question.Problems) + "\n\n" + CertificateDescription(question.Certificate, question.Fingerprint) +
            "\n\n" + Texts::AskTrustCertificate;
    const TMsgIcon icon = question.Changed ? TMsgIcon::Stop : TMsgIcon::Exclamation;
    return MessageBox(text, Texts::CertificateCaption, icon, TMsgButtons::YesNo, 1) == mrYes;
}
