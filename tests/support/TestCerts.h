#pragma once
// Certificates for TLS tests, made afresh by each TestCerts with OpenSSL (P-256 keys, SHA-256
// signatures): a test CA and server certificates that pass or fail the client's checks in
// one way each. Every certificate is kept as PEM and DER text and also written, with its
// key, to a temporary folder (for Dovecot's "ssl_cert = <file"), removed with them. The
// constructor throws std::runtime_error when OpenSSL or the folder fails.

#include "tests/support/Files.h"

#include <string>

namespace testsupport {

struct TestCert {
    std::string CertPem, KeyPem, Der;
    std::string CertFile, KeyFile;   // <folder>/<name>.crt and .key
    std::string Sha256;              // of Der, lowercase hex: as a user's trust keeps it
};

class TestCerts {
public:
    TestCerts();
    ~TestCerts();
    TestCerts(const TestCerts&) = delete;
    TestCerts& operator=(const TestCerts&) = delete;

    std::string Folder() const { return FFolder.Path().string(); }

    TestCert Ca;              // the CA a test trusts
    TestCert Server;          // localhost and 127.0.0.1, from Ca, valid for a year
    TestCert Expired;         // the same names, from Ca, expired a day ago
    TestCert NotYetValid;     // the same names, from Ca, valid from tomorrow
    TestCert WrongHost;       // mail.invalid only, from Ca
    TestCert SelfSigned;      // localhost and 127.0.0.1, signed by its own key
    TestCert UnknownIssuer;   // localhost and 127.0.0.1, from a CA nobody trusts
    TestCert AllWrong;        // mail.invalid only, signed by its own key, expired a day ago

private:
    TempFolder FFolder{"purgel-certs"};
};

} // namespace testsupport
