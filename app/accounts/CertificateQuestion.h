#pragma once
// TCertificateQuestion: the main window's side of secure connections. It answers the
// session's question whether to trust a certificate the system does not vouch for (a box
// with the certificate's subject, issuer, validity and fingerprint, and a stronger warning
// when another certificate was trusted for the server before), and shows why a secure
// connection failed when there was nothing to ask. Nothing is asked while the window closes.
// Lives as long as the window's controls; binds the session's hook for that time.

#include "net/TlsMode.h"

class TMain;
struct TTrustQuestion;

class TCertificateQuestion {
public:
    explicit TCertificateQuestion(TMain& window);
    ~TCertificateQuestion();
    TCertificateQuestion(const TCertificateQuestion&) = delete;
    TCertificateQuestion& operator=(const TCertificateQuestion&) = delete;

    void ShowFailure(TTlsProblem problem) const;

private:
    bool Ask(const TTrustQuestion& question) const;

    TMain& W;
};
