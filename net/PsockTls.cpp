// TPowersock's secure connection: the handshake wait and what it leaves to the layers above.
#include "net/Psock.h"
#include "net/TimerScope.h"

#include <cstdio>

namespace {

TTlsProblem ProblemOf(ws::TlsFailure failure)
{
    switch (failure) {
    case ws::TlsFailure::CertificateUntrusted: return TTlsProblem::CertificateUntrusted;
    case ws::TlsFailure::CertificateSelfSigned: return TTlsProblem::CertificateSelfSigned;
    case ws::TlsFailure::CertificateExpired: return TTlsProblem::CertificateExpired;
    case ws::TlsFailure::CertificateNotYetValid: return TTlsProblem::CertificateNotYetValid;
    case ws::TlsFailure::HostMismatch: return TTlsProblem::HostMismatch;
    case ws::TlsFailure::ProtocolTooOld: return TTlsProblem::ProtocolTooOld;
    default: return TTlsProblem::HandshakeFailed;
    }
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A fingerprint as TrustedFingerprints keeps it; false for anything else (it pins nothing).
bool ParseFingerprint(const std::string& text, ws::TlsFingerprint& out)
{
    if (text.size() != 2 * out.size())
        return false;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int hi = HexDigit(text[2 * i]), lo = HexDigit(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return true;
}

} // namespace

std::string TPowersock::PeerFingerprint() const
{
    if (FPeerCertificate.empty())
        return "";
    std::string text;
    char pair[3];
    for (std::uint8_t b : ws::TlsFingerprintOf(FPeerCertificate)) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        text += pair;
    }
    return text;
}

void TPowersock::ForgetLastAttempt()
{
    ConnectFault = TConnectFault::None;
    FTlsProblem = TTlsProblem::None;
    FTlsProblems.clear();
    FPeerCertificate.clear();
}

bool TPowersock::TlsActive()
{
    return ws::TlsActive(SocketHandle);
}

void TPowersock::StartTls()
{
    StatusMessage(8, "Starting TLS");
    FPeerCertificate.clear();
    FTlsProblems.clear();
    ws::TlsClientOptions options;
    options.HostName = Host;
    for (const std::string& text : TrustedFingerprints) {
        ws::TlsFingerprint pin;
        if (ParseFingerprint(text, pin))
            options.PinnedFingerprints.push_back(pin);
    }
    if (ws::TlsStart(SocketHandle, options) == ws::SOCKET_ERROR) {
        const bool early = ws::GetLastError() == ws::WSAEINVAL;
        FailTls(early ? TTlsProblem::StlsInjected : TTlsProblem::HandshakeFailed,
                early ? "TLS handshake failed: data arrived before the handshake" : "TLS handshake failed");
    }
    TimerOn();
    TimerScope timer(*this);
    ws::TlsState state = ws::TlsHandshake(SocketHandle);
    while (state == ws::TlsState::Handshaking && Connected && !TimeoutFired && !CancelRequested) {
        WaitPass(FCancelWait);
        state = ws::TlsHandshake(SocketHandle);
    }
    timer.Off();
    FPeerCertificate = ws::TlsPeerCertificate(SocketHandle);
    if (state == ws::TlsState::Established && Connected) {
        StatusMessage(4, "TLS established");
        return;
    }
    if (TimeoutFired || CancelRequested) {
        CancelRequested = false;
        SetTlsProblem(TTlsProblem::HandshakeFailed);
        DropConnection();
        throw EAbortError(TimeoutFired ? "TLS handshake failed: timed out" : "TLS handshake failed: canceled");
    }
    // A close during the handshake has replaced the socket, and its failure with it.
    const ws::TlsFailure failure = Connected ? ws::TlsFailureOf(SocketHandle) : ws::TlsFailure::PeerClosed;
    if (Connected)
        for (ws::TlsFailure fault : ws::TlsCertificateFaults(SocketHandle))
            FTlsProblems.push_back(ProblemOf(fault));
    FailTls(ProblemOf(failure), ws::TlsFailureText(failure));
}

void TPowersock::FailTls(TTlsProblem Problem, const char* Text)
{
    SetTlsProblem(Problem);
    DropConnection();
    throw ESockError(Text);
}

void TPowersock::ImplicitHandshake()
{
    try {
        StartTls();
    } catch (const ESockError&) {
        if (OnConnectionFailed)
            OnConnectionFailed(this);
        throw;
    }
}
