// The main window's side of secure connections: the account's security and the certificates
// the user trusts given to the component before Connect, the server noted once it proved
// itself, and after a failed Connect the reason in Japanese, or the question whether to trust
// a certificate the system does not vouch for.
#include "app/MainWindow.h"

#include "app/CertificateText.h"
#include "app/Environment.h"
#include "app/MessageBox.h"
#include "app/Texts.h"
#include "app/TrustFile.h"
#include "pop3/Nmpop3.h"

namespace {
TTlsMode TlsModeOf(TAccountSecurity security)
{
    switch (security) {
    case TAccountSecurity::Tls: return TTlsMode::Implicit;
    case TAccountSecurity::StartTls: return TTlsMode::StartTls;
    case TAccountSecurity::None: break;
    }
    return TTlsMode::None;
}
}

void TMain::PrepareTls(const TAccountFields& account)
{
    NMPOP3->TlsMode = TlsModeOf(AccountSecurity(account));
    NMPOP3->TrustedFingerprints.clear();
    const std::string trusted = TrustedFingerprint(LoadTrustFile(TrustFileName()), account[afServer], account[afPort]);
    if (!trusted.empty())
        NMPOP3->TrustedFingerprints.push_back(trusted);
}

void TMain::RememberVerifiedServer(const TAccountFields& account)
{
    if (NMPOP3->TlsMode != TTlsMode::None && NMPOP3->Connected)
        ::RememberVerifiedServer(TrustFileName(), account[afServer], account[afPort]);
}

bool TMain::ReportTlsFailure(const TAccountFields& account, bool& trusted)
{
    trusted = false;
    const TTlsProblem problem = NMPOP3->TlsProblem();
    if (problem == TTlsProblem::None)
        return false;
    const std::string fingerprint = NMPOP3->PeerFingerprint();
    if (!IsCertificateProblem(problem) || fingerprint.empty()) {
        MessageBox(TlsProblemText(problem), Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
        return true;
    }
    std::vector<TTrustedCertificate> list = LoadTrustFile(TrustFileName());
    // A server that showed another certificate before, trusted by the user or by the system:
    // someone may be in between.
    const bool changed = KnownServer(list, account[afServer], account[afPort]);
    std::string text = changed ? std::string(Texts::CertificateChanged) + "\n\n" : std::string();
    std::vector<TTlsProblem> problems = NMPOP3->TlsProblems();
    if (problems.empty())
        problems.push_back(problem);
    text += TlsProblemText(problems) + "\n\n" + CertificateDescription(NMPOP3->PeerCertificate(), fingerprint) + "\n\n"
            + Texts::AskTrustCertificate;
    const TMsgIcon icon = changed ? TMsgIcon::Stop : TMsgIcon::Exclamation;
    if (MessageBox(text, Texts::CertificateCaption, icon, TMsgButtons::YesNo, 1) != mrYes)
        return true;
    Trust(list, account[afServer], account[afPort], fingerprint);
    try {
        SaveTrustFile(TrustFileName(), list);
        trusted = true;
    } catch (const std::exception&) {
        MessageBox(Texts::SaveFailed, Texts::Confirm, TMsgIcon::Stop, TMsgButtons::OK);
    }
    return true;
}
