#include "app/accounts/CertificateText.h"

#include <QSslCertificate>
#include <iterator>

#include "app/main/Sjis.h"
#include "app/main/Texts.h"

std::string TlsProblemText(TTlsProblem problem)
{
    const auto index = static_cast<size_t>(problem);
    return index < std::size(Texts::TlsProblemTexts) ? Texts::TlsProblemTexts[index] : Texts::TlsProblemTexts[0];
}

std::string TlsProblemText(const std::vector<TTlsProblem>& problems)
{
    std::string text;
    for (TTlsProblem problem : problems)
        text += (text.empty() ? "" : "\n") + TlsProblemText(problem);
    return text;
}

namespace {
std::string Names(const QStringList& parts) { return QToSjis(parts.join(QStringLiteral(", "))); }

// "CN=..., O=..." from the attributes people recognise a server by.
std::string DistinguishedName(const QSslCertificate& cert, bool issuer)
{
    QStringList parts;
    for (auto attribute : {QSslCertificate::CommonName, QSslCertificate::Organization, QSslCertificate::CountryName}) {
        const QStringList values = issuer ? cert.issuerInfo(attribute) : cert.subjectInfo(attribute);
        if (!values.isEmpty())
            parts << values.join(QStringLiteral(" "));
    }
    return Names(parts);
}

// The names and addresses the certificate is for, as a line of its own; "" when it names none.
std::string AltNamesLine(const QSslCertificate& cert)
{
    const QStringList names = cert.subjectAlternativeNames().values();
    return names.isEmpty() ? std::string() : Texts::AltNamesLabel + Names(names) + "\n";
}
}

std::string CertificateDescription(const std::string& der, const std::string& fingerprint)
{
    std::string pairs;
    for (size_t i = 0; i < fingerprint.size(); i += 2)
        pairs += (i ? ":" : "") + fingerprint.substr(i, 2);
    const std::string last = std::string(Texts::FingerprintLabel) + pairs;
    const QSslCertificate cert(QByteArray(der.data(), static_cast<qsizetype>(der.size())), QSsl::Der);
    if (cert.isNull())
        return last;
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm 'UTC'");
    return std::string(Texts::SubjectLabel) + DistinguishedName(cert, false) + "\n" + AltNamesLine(cert) + Texts::IssuerLabel
           + DistinguishedName(cert, true) + "\n" + Texts::ValidityLabel
           + QToSjis(cert.effectiveDate().toUTC().toString(format)) + Texts::ValidityTo
           + QToSjis(cert.expiryDate().toUTC().toString(format)) + "\n" + last;
}
