#include "tests/support/TestCerts.h"
#include "tests/support/Files.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

void Check(bool ok, const char* what)
{
    if (!ok)
        throw std::runtime_error(std::string("TestCerts: ") + what + " failed");
}

Key NewKey()
{
    Key key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
    Check(key != nullptr, "EC key generation");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    Check(ext != nullptr && X509_add_ext(cert, ext, -1) == 1, "adding an extension");
    X509_EXTENSION_free(ext);
}

// A certificate for `key` with common name `cn`, valid from `fromDays` to `toDays` (days
// from now), signed by `issuerKey` as `issuer` (itself when null). `altNames` empty makes a CA.
Cert Make(EVP_PKEY* key, const char* cn, const char* altNames, X509* issuer, EVP_PKEY* issuerKey, long fromDays,
          long toDays)
{
    Cert cert(X509_new(), &X509_free);
    Check(cert != nullptr && X509_set_version(cert.get(), 2) == 1, "X509_new");
    unsigned char serial[8];
    Check(RAND_bytes(serial, sizeof serial) == 1, "RAND_bytes");
    serial[0] &= 0x7F;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), fromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), toDays * 86400);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Purgel tests"), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509* signer = issuer ? issuer : cert.get();
    Check(X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) == 1, "setting the issuer");
    Check(X509_set_pubkey(cert.get(), key) == 1, "setting the key");
    const bool ca = *altNames == '\0';
    AddExtension(cert.get(), signer, NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE");
    // A self-signed leaf without key usage, as "openssl req -x509" makes it: OpenSSL then
    // sees it as self-signed rather than as one from an unknown issuer.
    if (ca || issuer != nullptr)
        AddExtension(cert.get(), signer, NID_key_usage,
                     ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature,keyEncipherment");
    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (!ca) {
        AddExtension(cert.get(), signer, NID_subject_alt_name, altNames);
        AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    }
    Check(X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) > 0, "signing");
    return cert;
}

template <typename Write>
std::string Pem(Write write)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    Check(bio != nullptr && write(bio.get()) == 1, "PEM writing");
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(len));
}

TestCert Keep(const std::string& folder, const char* name, X509* cert, EVP_PKEY* key)
{
    TestCert t;
    t.CertPem = Pem([&](BIO* b) { return PEM_write_bio_X509(b, cert); });
    t.KeyPem = Pem([&](BIO* b) { return PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr); });
    const int len = i2d_X509(cert, nullptr);
    t.Der.resize(static_cast<std::size_t>(len));
    auto* p = reinterpret_cast<unsigned char*>(t.Der.data());
    i2d_X509(cert, &p);
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLen = 0;
    Check(EVP_Digest(t.Der.data(), t.Der.size(), md, &mdLen, EVP_sha256(), nullptr) == 1, "SHA-256");
    for (unsigned int i = 0; i < mdLen; ++i) {
        t.Sha256 += "0123456789abcdef"[md[i] >> 4];
        t.Sha256 += "0123456789abcdef"[md[i] & 15];
    }
    t.CertFile = folder + "/" + name + ".crt";
    t.KeyFile = folder + "/" + name + ".key";
    WriteFile(t.CertFile, t.CertPem, 0644);
    WriteFile(t.KeyFile, t.KeyPem, 0600);
    return t;
}

} // namespace

TestCerts::TestCerts()
{
    const std::string folder = Folder();
    ::chmod(folder.c_str(), 0755);

    const char* Names = "DNS:localhost,IP:127.0.0.1";
    Key caKey = NewKey(), otherCaKey = NewKey(), serverKey = NewKey();
    Cert ca = Make(caKey.get(), "Purgel Test CA", "", nullptr, nullptr, -1, 3650);
    Cert otherCa = Make(otherCaKey.get(), "Purgel Unknown CA", "", nullptr, nullptr, -1, 3650);
    Ca = Keep(folder, "ca", ca.get(), caKey.get());
    Server = Keep(folder, "server",
                  Make(serverKey.get(), "localhost", Names, ca.get(), caKey.get(), -1, 365).get(), serverKey.get());
    Expired = Keep(folder, "expired",
                   Make(serverKey.get(), "localhost", Names, ca.get(), caKey.get(), -30, -1).get(), serverKey.get());
    NotYetValid = Keep(folder, "notyetvalid",
                       Make(serverKey.get(), "localhost", Names, ca.get(), caKey.get(), 1, 365).get(), serverKey.get());
    WrongHost = Keep(folder, "wronghost",
                     Make(serverKey.get(), "mail.invalid", "DNS:mail.invalid", ca.get(), caKey.get(), -1, 365).get(),
                     serverKey.get());
    SelfSigned = Keep(folder, "selfsigned",
                      Make(serverKey.get(), "localhost", Names, nullptr, nullptr, -1, 365).get(), serverKey.get());
    UnknownIssuer = Keep(folder, "unknownissuer",
                         Make(serverKey.get(), "localhost", Names, otherCa.get(), otherCaKey.get(), -1, 365).get(),
                         serverKey.get());
    AllWrong = Keep(folder, "allwrong",
                    Make(serverKey.get(), "mail.invalid", "DNS:mail.invalid", nullptr, nullptr, -30, -1).get(),
                    serverKey.get());
}

TestCerts::~TestCerts() = default;

} // namespace testsupport
