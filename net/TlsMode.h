#pragma once
// The secure-connection settings and outcomes of the socket component, in the component's
// own terms (the window decides on these values, never on an error text).

enum class TTlsMode {
    None,        // plain text throughout
    Implicit,    // TLS from the first byte (POP3S, port 995)
    StartTls,    // plain connect, then the protocol's upgrade command; never falls back
};

// Why the last Connect failed for a reason of the secure connection; None otherwise
// (cleared at the start of every Connect).
enum class TTlsProblem {
    None,
    CertificateUntrusted,     // unknown issuer or another chain fault
    CertificateSelfSigned,
    CertificateExpired,
    CertificateNotYetValid,
    HostMismatch,             // the certificate names another host
    ProtocolTooOld,           // the server speaks only TLS 1.0/1.1 or older
    HandshakeFailed,          // any other failure of the handshake, time-out and cancel included
    StlsNotOffered,           // CAPA did not list STLS
    StlsRefused,              // the server refused STLS
    StlsInjected,             // bytes came with or after the consent, before the handshake
};
