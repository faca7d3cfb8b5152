#include "platform/TlsFilter.h"

#include "platform/Winsock.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>

namespace ws {

namespace {

TlsFailure FromVerifyError(long error)
{
    switch (error) {
    case X509_V_OK:
        return TlsFailure::None;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return TlsFailure::CertificateExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return TlsFailure::CertificateNotYetValid;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return TlsFailure::CertificateSelfSigned;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return TlsFailure::HostMismatch;
    default:
        return TlsFailure::CertificateUntrusted;
    }
}

// Reasons OpenSSL gives when the two sides share no version: ours start at TLS 1.2.
bool IsVersionRefusal(unsigned long error)
{
    if (ERR_GET_LIB(error) != ERR_LIB_SSL)
        return false;
    switch (ERR_GET_REASON(error)) {
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_WRONG_SSL_VERSION:
    case SSL_R_UNSUPPORTED_SSL_VERSION:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
        return true;
    default:
        return false;
    }
}

std::string DerOf(X509* cert)
{
    std::string der;
    const int len = cert ? i2d_X509(cert, nullptr) : 0;
    if (len <= 0)
        return der;
    der.resize(static_cast<std::size_t>(len));
    auto* p = reinterpret_cast<unsigned char*>(der.data());
    i2d_X509(cert, &p);
    return der;
}

// Adds every certificate of a PEM text to the store; false when it holds none or garbage.
bool AddPem(X509_STORE* store, const std::string& pem)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                  &BIO_free);
    int added = 0;
    while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
        const int ok = X509_STORE_add_cert(store, cert);
        X509_free(cert);
        if (!ok)
            return false;
        ++added;
    }
    ERR_clear_error();  // the end of the text reads as an error
    return added > 0;
}

} // namespace

const char* TlsFailureText(TlsFailure failure)
{
    switch (failure) {
    case TlsFailure::None:
        return "";
    case TlsFailure::CertificateUntrusted:
        return "TLS handshake failed: certificate is not trusted";
    case TlsFailure::CertificateSelfSigned:
        return "TLS handshake failed: certificate is self-signed";
    case TlsFailure::CertificateExpired:
        return "TLS handshake failed: certificate has expired";
    case TlsFailure::CertificateNotYetValid:
        return "TLS handshake failed: certificate is not yet valid";
    case TlsFailure::HostMismatch:
        return "TLS handshake failed: certificate does not match the host name";
    case TlsFailure::ProtocolTooOld:
        return "TLS handshake failed: the server only supports TLS 1.0/1.1, which are too old";
    case TlsFailure::HandshakeFailed:
        return "TLS handshake failed";
    case TlsFailure::PeerClosed:
        return "TLS handshake failed: the server closed the connection";
    case TlsFailure::ProtocolError:
        return "TLS connection failed: invalid data from the server";
    }
    return "TLS handshake failed";
}

std::string TlsFingerprintText(const TlsFingerprint& fingerprint)
{
    static const char Hex[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t b : fingerprint) {
        if (!text.empty())
            text += ':';
        text += Hex[b >> 4];
        text += Hex[b & 15];
    }
    return text;
}

TlsFingerprint TlsFingerprintOf(const std::string& der)
{
    TlsFingerprint md{};
    if (!der.empty())
        EVP_Digest(der.data(), der.size(), md.data(), nullptr, EVP_sha256(), nullptr);
    return md;
}

TlsFilter::TlsFilter(const TlsClientOptions& options) : FPins(options.PinnedFingerprints)
{
    if (!Setup(options))
        Fail(TlsFailure::HandshakeFailed);
    ERR_clear_error();
}

TlsFilter::~TlsFilter()
{
    SSL_free(FSsl);  // frees both BIOs
    SSL_CTX_free(FContext);
}

bool TlsFilter::Setup(const TlsClientOptions& options)
{
    FContext = SSL_CTX_new(TLS_client_method());
    if (FContext == nullptr || options.HostName.empty())
        return false;
    SSL_CTX_set_min_proto_version(FContext, TLS1_2_VERSION);
    if (SSL_CTX_set_default_verify_paths(FContext) != 1)
        return false;
    for (const std::string& pem : options.TrustedPem)
        if (!AddPem(SSL_CTX_get_cert_store(FContext), pem))
            return false;
    SSL_CTX_set_verify(FContext, SSL_VERIFY_PEER, &TlsFilter::VerifyCallback);
    SSL_CTX_set_cert_verify_callback(FContext, &TlsFilter::VerifyChain, nullptr);
    // A renegotiation could bring another certificate into a connection already judged.
    SSL_CTX_set_options(FContext, SSL_OP_NO_RENEGOTIATION);

    FSsl = SSL_new(FContext);
    FIn = BIO_new(BIO_s_mem());
    FOut = BIO_new(BIO_s_mem());
    if (FSsl == nullptr || FIn == nullptr || FOut == nullptr) {
        BIO_free(FIn);
        BIO_free(FOut);
        FIn = FOut = nullptr;
        return false;
    }
    BIO_set_mem_eof_return(FIn, -1);  // empty means "more to come", not the end
    SSL_set_bio(FSsl, FIn, FOut);
    SSL_set_app_data(FSsl, this);
    SSL_set_connect_state(FSsl);

    // An address the socket layer would connect to is checked as that address, without SNI.
    const char* host = options.HostName.c_str();
    const std::uint32_t addr = InetAddr(host);
    if (addr != NoAddress)
        return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(FSsl), InetNtoa(addr)) == 1;
    SSL_set_hostflags(FSsl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    return SSL_set_tlsext_host_name(FSsl, host) == 1 && SSL_set1_host(FSsl, host) == 1;
}

TlsFilter* TlsFilter::Of(X509_STORE_CTX* store)
{
    SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    return static_cast<TlsFilter*>(SSL_get_app_data(ssl));
}

int TlsFilter::VerifyCallback(int ok, X509_STORE_CTX* store)
{
    // Every fault is noted and the verification goes on, so that all of them are known;
    // VerifyChain decides.
    if (!ok) {
        std::vector<TlsFailure>& faults = Of(store)->FFaults;
        const int error = X509_STORE_CTX_get_error(store);
        const TlsFailure fault = FromVerifyError(error);
        if (faults.empty())
            Of(store)->FFirstError = error;
        if (std::find(faults.begin(), faults.end(), fault) == faults.end())
            faults.push_back(fault);
    }
    return 1;
}

int TlsFilter::VerifyChain(X509_STORE_CTX* store, void*)
{
    TlsFilter* self = Of(store);
    // The leaf of the handshake being made is the one judged and, when pinned, trusted.
    self->FPeerDer = DerOf(X509_STORE_CTX_get0_cert(store));
    self->FFaults.clear();
    if (X509_verify_cert(store) > 0 && self->FFaults.empty())
        return 1;
    if (self->FFaults.empty()) {   // failed without naming a fault
        self->FFaults.push_back(TlsFailure::CertificateUntrusted);
        self->FFirstError = X509_V_ERR_UNSPECIFIED;
    }
    // A leaf the user trusted goes on despite the chain; anything else stops here.
    if (self->Pinned())
        return 1;
    X509_STORE_CTX_set_error(store, self->FFirstError);
    return 0;
}

bool TlsFilter::Pinned() const
{
    const TlsFingerprint peer = PeerFingerprint();
    return !FPeerDer.empty() && std::find(FPins.begin(), FPins.end(), peer) != FPins.end();
}

void TlsFilter::Fail(TlsFailure failure)
{
    FState = TlsState::Failed;
    FFailure = failure;
}

void TlsFilter::Feed(const char* data, std::size_t len)
{
    if (FIn != nullptr && len > 0 && !FInputEnded)
        BIO_write(FIn, data, static_cast<int>(len));
}

void TlsFilter::FeedEnd()
{
    FInputEnded = true;
}

std::size_t TlsFilter::TakeOutput(std::string& out)
{
    const std::size_t len = FOut ? BIO_ctrl_pending(FOut) : 0;
    if (len == 0)
        return 0;
    const std::size_t old = out.size();
    out.resize(old + len);
    const int got = BIO_read(FOut, out.data() + old, static_cast<int>(len));
    out.resize(old + static_cast<std::size_t>(std::max(got, 0)));
    return out.size() - old;
}

bool TlsFilter::HasOutput() const
{
    return FOut != nullptr && BIO_ctrl_pending(FOut) > 0;
}

TlsFailure TlsFilter::HandshakeFailure()
{
    if (!FFaults.empty())
        return FFaults.front();
    TlsFailure failure = TlsFailure::HandshakeFailed;
    while (const unsigned long e = ERR_get_error())
        if (IsVersionRefusal(e))
            failure = TlsFailure::ProtocolTooOld;
    return failure;
}

TlsState TlsFilter::Handshake()
{
    if (FState != TlsState::Handshaking)
        return FState;
    ERR_clear_error();
    const int r = SSL_do_handshake(FSsl);
    if (r == 1) {
        FState = TlsState::Established;
        if (FPeerDer.empty())
            FPeerDer = DerOf(SSL_get0_peer_certificate(FSsl));
    } else {
        const int e = SSL_get_error(FSsl, r);
        if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE)
            Fail(HandshakeFailure());
        else if (FInputEnded && BIO_ctrl_pending(FIn) == 0)
            Fail(TlsFailure::PeerClosed);
    }
    ERR_clear_error();
    return FState;
}

std::size_t TlsFilter::ReadPlain(std::string& stash, std::size_t max)
{
    std::size_t got = 0;
    while (FState == TlsState::Established && got < max) {
        const std::size_t old = stash.size();
        const std::size_t want = std::min<std::size_t>(max - got, 16384);
        stash.resize(old + want);
        std::size_t n = 0;
        ERR_clear_error();
        const int r = SSL_read_ex(FSsl, stash.data() + old, want, &n);
        stash.resize(old + (r == 1 ? n : 0));
        if (r == 1) {
            got += n;
            continue;
        }
        switch (SSL_get_error(FSsl, r)) {
        case SSL_ERROR_ZERO_RETURN:
            FCloseNotify = true;
            FState = TlsState::Closed;
            break;
        case SSL_ERROR_WANT_READ:
            if (FInputEnded)
                FState = TlsState::Closed;
            break;
        default:
            Fail(TlsFailure::ProtocolError);
        }
        break;
    }
    ERR_clear_error();
    return got;
}

bool TlsFilter::PlainPending() const
{
    return FState == TlsState::Established &&
           (SSL_pending(FSsl) > 0 || BIO_ctrl_pending(FIn) > 0 || FInputEnded);
}

bool TlsFilter::WritePlain(const char* data, std::size_t len)
{
    if (FState != TlsState::Established)
        return false;
    if (len == 0)
        return true;
    std::size_t n = 0;
    ERR_clear_error();
    const bool ok = SSL_write_ex(FSsl, data, len, &n) == 1 && n == len;
    ERR_clear_error();
    if (!ok)
        Fail(TlsFailure::ProtocolError);
    return ok;
}

void TlsFilter::Close()
{
    if (FState != TlsState::Established && FState != TlsState::Closed)
        return;
    ERR_clear_error();
    SSL_shutdown(FSsl);
    ERR_clear_error();
    FState = TlsState::Closed;
}

std::string TlsFilter::Version() const
{
    if (FState == TlsState::Handshaking || FState == TlsState::Failed)
        return {};
    return SSL_get_version(FSsl);
}

} // namespace ws
