#pragma once
// One side of a TLS connection over memory BIOs, for tests that drive a TLS client without
// sockets: the test carries the ciphertext between the two sides. Usually the server, with
// one of the TestCerts; as a client (no certificate given) it checks nothing and serves to
// probe what this machine's OpenSSL still allows. Throws nothing; Usable() is false when
// OpenSSL refused the setup (an old version that this build no longer offers, for one).

#include "tests/support/TestCerts.h"

#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace testsupport {

class TlsPeer {
public:
    // maxVersion: 0 for OpenSSL's defaults; an older one (TLS1_1_VERSION) also lowers the
    // security level to 0 so that OpenSSL 3 agrees to speak it.
    explicit TlsPeer(const TestCert* serverCert, int maxVersion = 0);
    ~TlsPeer();
    TlsPeer(const TlsPeer&) = delete;
    TlsPeer& operator=(const TlsPeer&) = delete;

    bool Usable() const { return FSsl != nullptr; }
    void Feed(const std::string& ciphertext);
    std::string TakeOutput();
    // Advances the handshake, then moves any plaintext that arrived to Received. False once
    // the connection failed.
    bool Step();
    bool Established() const;
    void Write(const std::string& plain);
    void Shutdown();   // queues close_notify
    // As a TLS 1.2 server: asks the client to renegotiate, offering `next` this time.
    bool Renegotiate(const TestCert& next);

    std::string Received;

private:
    SSL_CTX* FContext = nullptr;
    SSL* FSsl = nullptr;
    bool FFailed = false;
};

} // namespace testsupport
