#include "mailbox/TrustFile.h"

#include "mailbox/AccountFile.h"
#include "runtime/StringList.h"
#include "runtime/SysUtils.h"

#include <algorithm>

namespace {
bool SameServer(const TTrustedCertificate& t, const std::string& host, const std::string& port)
{
    return LowerCase(t.Host) == LowerCase(host) && t.Port == port;
}

std::vector<TTrustedCertificate> ParseTrustFile(const std::string& text)
{
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
}

std::vector<TTrustedCertificate> LoadTrustFile(const std::string& fileName)
{
    std::string text;
    ReadFileWhole(fileName, text);
    return ParseTrustFile(text);
}

bool RememberVerifiedServer(const std::string& fileName, const std::string& host, const std::string& port)
{
    std::string text;
    if (!ReadFileWhole(fileName, text) && FileExists(fileName))
        return false;
    std::vector<TTrustedCertificate> trusted = ParseTrustFile(text);
    if (KnownServer(trusted, host, port))
        return false;
    trusted.push_back({host, port, ""});
    try {
        SaveTrustFile(fileName, trusted);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void SaveTrustFile(const std::string& fileName, const std::vector<TTrustedCertificate>& trusted)
{
    std::string text;
    for (const auto& t : trusted)
        text += FormatQuotedLine({t.Host, t.Port, t.Fingerprint}) + "\r\n";
    SaveFileWhole(fileName, text);
}

bool KnownServer(const std::vector<TTrustedCertificate>& trusted, const std::string& host, const std::string& port)
{
    return std::any_of(trusted.begin(), trusted.end(), [&](const auto& t) { return SameServer(t, host, port); });
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
