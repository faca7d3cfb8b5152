#pragma once
// The client side of a TLS connection as a filter between a socket's bytes and the plaintext
// the program reads and writes (OpenSSL 3 over memory BIOs). The filter does no I/O and
// never waits: the owner (the socket record) feeds it the ciphertext it received, sends
// the ciphertext the filter hands out, and keeps epoll as its only event source.
//
// Ownership: the owner creates one filter per connection and destroys it with the
// connection; the filter owns its OpenSSL objects and copies every option it is given.
// One thread at a time. Nothing here throws except std::bad_alloc.
//
// The owner's duties, after every call below: send what TakeOutput hands out (the
// handshake, alerts and close_notify all travel that way), and while PlainPending() is
// true, call ReadPlain before waiting for the socket again: OpenSSL may hold whole records
// already received, and no socket event will announce them a second time.
//
// After STLS the filter starts on a connection that spoke plain text: bytes the owner
// received before it was created are not the filter's, and the owner must refuse them.
//
// Trust: the system's store as OpenSSL's default paths find it (SSL_CERT_FILE and
// SSL_CERT_DIR work), plus the caller's extra certificates; TLS 1.2 at least. The host name
// is the one the user typed: names get SNI and the RFC 6125 name check, IPv4 address
// literals the address check. A pinned SHA-256 fingerprint accepts exactly that leaf
// certificate when the chain does not verify (the user trusted it); pins never reject a
// certificate the chain vouches for. Renegotiation is refused: the certificate judged in the
// handshake stays the connection's.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// OpenSSL's types, so that users of the filter need not include OpenSSL.
typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct bio_st BIO;
typedef struct x509_store_ctx_st X509_STORE_CTX;

namespace ws {

// SHA-256 of a certificate's DER bytes.
using TlsFingerprint = std::array<std::uint8_t, 32>;

struct TlsClientOptions {
    std::string HostName;                         // as typed: a name or a dotted address
    std::vector<std::string> TrustedPem;          // extra CA or leaf certificates (PEM)
    std::vector<TlsFingerprint> PinnedFingerprints;
};

enum class TlsState {
    Handshaking,    // Handshake() has more to do; feed ciphertext and call it again
    Established,    // plaintext flows both ways
    Closed,         // the server sent close_notify, or the connection ended after the handshake
    Failed,         // see Failure(); nothing more flows
};

// Why a connection failed; decisions go by these values, the texts are for people.
enum class TlsFailure {
    None,
    CertificateUntrusted,   // unknown issuer or another chain fault
    CertificateSelfSigned,
    CertificateExpired,
    CertificateNotYetValid,
    HostMismatch,           // the certificate is for another name or address
    ProtocolTooOld,         // the server speaks only TLS 1.0/1.1 (or SSL)
    HandshakeFailed,        // any other failure during the handshake
    PeerClosed,             // the connection ended during the handshake
    ProtocolError,          // broken data after the handshake
};

// The English text of a failure, e.g. "TLS handshake failed: certificate has expired".
const char* TlsFailureText(TlsFailure failure);
// "AB:CD:...": 32 pairs of upper-case hex digits.
std::string TlsFingerprintText(const TlsFingerprint& fingerprint);
TlsFingerprint TlsFingerprintOf(const std::string& der);

class TlsFilter {
public:
    // Sets everything up for Handshake(); an unusable TrustedPem entry makes the filter
    // Failed (HandshakeFailed) at once.
    explicit TlsFilter(const TlsClientOptions& options);
    ~TlsFilter();
    TlsFilter(const TlsFilter&) = delete;
    TlsFilter& operator=(const TlsFilter&) = delete;

    // Ciphertext received from the server, in any pieces (one byte at a time is fine).
    void Feed(const char* data, std::size_t len);
    // The server closed its side; no more Feed. Ends a handshake with PeerClosed and,
    // after the handshake, ends the plaintext once what was fed before is read.
    void FeedEnd();
    // Moves the ciphertext waiting to be sent to the end of `out`; returns its length.
    std::size_t TakeOutput(std::string& out);
    bool HasOutput() const;

    // Advances the handshake as far as the ciphertext fed so far allows; returns State().
    // The first call produces the ClientHello. On Established, the certificate checks
    // have passed; plaintext that came along with the handshake is PlainPending().
    TlsState Handshake();

    // Appends up to `max` bytes of plaintext to `stash`; returns the number appended (0
    // when nothing is decrypted yet, at the end, or on failure: see State()).
    std::size_t ReadPlain(std::string& stash, std::size_t max);
    // True while ReadPlain would give plaintext (or notice the end or a failure) without
    // more ciphertext: decrypted bytes left in OpenSSL or whole records not yet opened.
    bool PlainPending() const;
    // Encrypts all of `len` bytes into the output; false (nothing taken) unless Established.
    bool WritePlain(const char* data, std::size_t len);
    // Queues close_notify in the output; the filter is Closed for reading afterwards.
    void Close();

    TlsState State() const { return FState; }
    TlsFailure Failure() const { return FFailure; }
    // Every fault OpenSSL found in the server's certificate chain in the handshake, each
    // kind once, the first found (Failure()) first; also when a pin accepted the leaf.
    const std::vector<TlsFailure>& CertificateFaults() const { return FFaults; }
    bool CloseNotifySeen() const { return FCloseNotify; }
    // The server's leaf certificate once it arrived (also when it was refused); empty before.
    const std::string& PeerCertificateDer() const { return FPeerDer; }
    TlsFingerprint PeerFingerprint() const { return TlsFingerprintOf(FPeerDer); }
    // The negotiated version, e.g. "TLSv1.3"; empty before Established.
    std::string Version() const;

private:
    static TlsFilter* Of(X509_STORE_CTX* store);
    // Per certificate: notes the fault and lets the verification go on.
    static int VerifyCallback(int ok, X509_STORE_CTX* store);
    // Per handshake: verifies the chain of the leaf it brings, then accepts it when nothing
    // was found or the leaf is pinned.
    static int VerifyChain(X509_STORE_CTX* store, void* unused);
    bool Setup(const TlsClientOptions& options);
    bool Pinned() const;
    void Fail(TlsFailure failure);
    TlsFailure HandshakeFailure();  // empties OpenSSL's error queue

    SSL_CTX* FContext = nullptr;
    SSL* FSsl = nullptr;
    BIO* FIn = nullptr;     // ciphertext from the server (owned by FSsl)
    BIO* FOut = nullptr;    // ciphertext to the server (owned by FSsl)
    TlsState FState = TlsState::Handshaking;
    TlsFailure FFailure = TlsFailure::None;
    std::vector<TlsFailure> FFaults;   // of the last chain verified
    int FFirstError = 0;               // OpenSSL's code of the first of them
    std::vector<TlsFingerprint> FPins;
    std::string FPeerDer;
    bool FInputEnded = false;
    bool FCloseNotify = false;
};

} // namespace ws
