#include "tests/support/TlsPeer.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <memory>
#include <type_traits>

namespace testsupport {

namespace {

template <class Target>
bool UseCertificate(Target* target, const TestCert& cert)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> c(BIO_new_mem_buf(cert.CertPem.data(), -1), &BIO_free);
    std::unique_ptr<BIO, decltype(&BIO_free)> k(BIO_new_mem_buf(cert.KeyPem.data(), -1), &BIO_free);
    X509* x = PEM_read_bio_X509(c.get(), nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(k.get(), nullptr, nullptr, nullptr);
    bool ok = x && key;
    if constexpr (std::is_same_v<Target, SSL>)
        ok = ok && SSL_use_certificate(target, x) == 1 && SSL_use_PrivateKey(target, key) == 1;
    else
        ok = ok && SSL_CTX_use_certificate(target, x) == 1 && SSL_CTX_use_PrivateKey(target, key) == 1;
    X509_free(x);
    EVP_PKEY_free(key);
    return ok;
}

} // namespace

TlsPeer::TlsPeer(const TestCert* serverCert, int maxVersion)
{
    FContext = SSL_CTX_new(serverCert ? TLS_server_method() : TLS_client_method());
    bool ok = FContext != nullptr && (!serverCert || UseCertificate(FContext, *serverCert));
    if (ok && maxVersion != 0) {
        SSL_CTX_set_security_level(FContext, 0);
        ok = SSL_CTX_set_min_proto_version(FContext, 0) == 1 &&
             SSL_CTX_set_max_proto_version(FContext, maxVersion) == 1 &&
             SSL_CTX_set_cipher_list(FContext, "DEFAULT:@SECLEVEL=0") == 1;
    }
    if (ok)
        FSsl = SSL_new(FContext);
    if (FSsl) {
        BIO* in = BIO_new(BIO_s_mem());
        BIO_set_mem_eof_return(in, -1);
        SSL_set_bio(FSsl, in, BIO_new(BIO_s_mem()));
        if (serverCert)
            SSL_set_accept_state(FSsl);
        else
            SSL_set_connect_state(FSsl);
    }
    ERR_clear_error();
}

TlsPeer::~TlsPeer()
{
    SSL_free(FSsl);
    SSL_CTX_free(FContext);
}

void TlsPeer::Feed(const std::string& ciphertext)
{
    if (FSsl && !ciphertext.empty())
        BIO_write(SSL_get_rbio(FSsl), ciphertext.data(), static_cast<int>(ciphertext.size()));
}

std::string TlsPeer::TakeOutput()
{
    std::string out;
    if (!FSsl)
        return out;
    BIO* wbio = SSL_get_wbio(FSsl);
    out.resize(BIO_ctrl_pending(wbio));
    if (!out.empty())
        BIO_read(wbio, out.data(), static_cast<int>(out.size()));
    return out;
}

bool TlsPeer::Step()
{
    if (!FSsl || FFailed)
        return false;
    int r = SSL_is_init_finished(FSsl) ? 1 : SSL_do_handshake(FSsl);
    char buf[16384];
    std::size_t n = 0;
    while (r == 1 && (r = SSL_read_ex(FSsl, buf, sizeof buf, &n)) == 1)
        Received.append(buf, n);
    const int e = SSL_get_error(FSsl, r);
    FFailed = e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE && e != SSL_ERROR_ZERO_RETURN;
    ERR_clear_error();
    return !FFailed;
}

bool TlsPeer::Established() const
{
    return FSsl && !FFailed && SSL_is_init_finished(FSsl);
}

void TlsPeer::Write(const std::string& plain)
{
    std::size_t n = 0;
    if (FSsl && !plain.empty())
        SSL_write_ex(FSsl, plain.data(), plain.size(), &n);
}

void TlsPeer::Shutdown()
{
    if (FSsl)
        SSL_shutdown(FSsl);
    ERR_clear_error();
}

bool TlsPeer::Renegotiate(const TestCert& next)
{
    if (FSsl)   // a full handshake: a resumed session would bring no certificate
        SSL_set_options(FSsl, SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);
    const bool ok = FSsl && UseCertificate(FSsl, next) && SSL_renegotiate(FSsl) == 1;
    if (ok)
        SSL_do_handshake(FSsl);   // the HelloRequest
    ERR_clear_error();
    return ok;
}

} // namespace testsupport
