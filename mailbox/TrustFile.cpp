#include "mailbox/TrustFile.h"

#include "mailbox/AccountFile.h"
#include "runtime/StringList.h"
#include "runtime/SysUtils.h"

namespace {
bool SameServer(const TTrustedCertificate& t, const std::string& host, const std::string& port)
{
    return LowerCase(t.Host) == LowerCase(host) && t.Port == port;
}
}

std::vector<TTrustedCertificate> LoadTrustFile(const std::string& fileName)
{
    std::string text;
    ReadFileWhole(fileName, text);
    std::vector<TTrustedCertificate> trusted;
    TStringList lines, fields;
    lines.SetText(text);
    for (const auto& line : lines.Items()) {
        fields.SetCommaText(line);
        if (fields.Count() >= 3)
            trusted.push_back({fields[0], fields[1], fields[2]});
    }
    return trusted;
}

void SaveTrustFile(const std::string& fileName, const std::vector<TTrustedCertificate>& trusted)
{
    std::string text;
    for (const auto& t : trusted)
        text += FormatQuotedLine({t.Host, t.Port, t.Fingerprint}) + "\r\n";
    SaveFileWhole(fileName, text);
}

std::string TrustedFingerprint(const std::vector<TTrustedCertificate>& trusted, const std::string& host,
                               const std::string& port)
{
    for (const auto& t : trusted)
        if (SameServer(t, host, port))
            return t.Fingerprint;
    return {};
}

void Trust(std::vector<TTrustedCertificate>& trusted, const std::string& host, const std::string& port,
           const std::string& fingerprint)
{
    for (auto& t : trusted)
        if (SameServer(t, host, port)) {
            t.Fingerprint = fingerprint;
            return;
        }
    trusted.push_back({host, port, fingerprint});
}

bool IsCertificateProblem(TTlsProblem problem)
{
    switch (problem) {
    case TTlsProblem::CertificateUntrusted:
    case TTlsProblem::CertificateSelfSigned:
    case TTlsProblem::CertificateExpired:
    case TTlsProblem::CertificateNotYetValid:
    case TTlsProblem::HostMismatch:
        return true;
    default:
        return false;
    }
}
