#pragma once
// "Trusted.lst": the server certificates the user chose to trust although the system does
// not vouch for them, one per server (host and port).
//
// One line per server: host, port, the SHA-256 fingerprint of the certificate's DER (lowercase
// hex, no colons, as TPowersock::TrustedFingerprints takes it); quoted and joined like the
// lines of "Account.lst", CR LF after each. Hosts compare without case. Loading never fails (a
// missing or unreadable file is an empty list; lines without three fields are skipped);
// saving raises Exception like SaveAccountFile and, like it, never leaves a partial file
// (mode 0600).

#include <string>
#include <vector>

#include "net/TlsMode.h"

struct TTrustedCertificate {
    std::string Host;
    std::string Port;
    std::string Fingerprint;
    bool operator==(const TTrustedCertificate&) const = default;
};

std::vector<TTrustedCertificate> LoadTrustFile(const std::string& fileName);
void SaveTrustFile(const std::string& fileName, const std::vector<TTrustedCertificate>& trusted);

// The fingerprint trusted for host and port; "" when none.
std::string TrustedFingerprint(const std::vector<TTrustedCertificate>& trusted, const std::string& host,
                               const std::string& port);
// Trusts `fingerprint` for host and port, in place of one trusted before.
void Trust(std::vector<TTrustedCertificate>& trusted, const std::string& host, const std::string& port,
           const std::string& fingerprint);

// A certificate problem the user may overrule by trusting the certificate for the server.
bool IsCertificateProblem(TTlsProblem problem);
