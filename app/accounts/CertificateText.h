#pragma once
// The texts the window shows about a secure connection, as Shift-JIS: why it failed
// (decided on the component's TTlsProblem, never on an error text), and a certificate's
// subject, issuer, validity and SHA-256 fingerprint.

#include <string>
#include <vector>

#include "net/TlsMode.h"

// "" for TTlsProblem::None.
std::string TlsProblemText(TTlsProblem problem);
// The text of each problem on a line of its own.
std::string TlsProblemText(const std::vector<TTlsProblem>& problems);

// Subject, its alternative names (when it has any), issuer, validity (UTC) and fingerprint
// on a line each; `der` the certificate's DER
// bytes, `fingerprint` as the component gives it (shown in colon-separated pairs). A DER that
// does not parse shows the fingerprint alone.
std::string CertificateDescription(const std::string& der, const std::string& fingerprint);
