// The TLS filter alone: the test carries the ciphertext between it and a server in memory.

#include "platform/TlsFilter.h"
#include "tests/support/TestCerts.h"
#include "tests/support/TlsPeer.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <cstdlib>

using namespace ws;
using testsupport::TestCert;
using testsupport::TlsPeer;

namespace {

const testsupport::TestCerts& Certs()
{
    static const testsupport::TestCerts certs;
    return certs;
}

TlsClientOptions Trusting(const std::string& host, std::vector<TlsFingerprint> pins = {})
{
    return {host, {Certs().Ca.CertPem}, std::move(pins)};
}

// Carries bytes both ways until neither side has more to say; the client gets at most
// `chunk` bytes per step and reads its plaintext into `plain`.
void Exchange(TlsFilter& client, TlsPeer& server, std::string& plain, std::size_t chunk = 1 << 20)
{
    std::string toClient;
    for (bool moved = true; moved;) {
        if (client.Handshake() != TlsState::Handshaking)
            client.ReadPlain(plain, 1 << 20);
        std::string out;
        moved = client.TakeOutput(out) > 0;
        server.Feed(out);
        server.Step();
        toClient += server.TakeOutput();
        if (!toClient.empty()) {
            const std::size_t n = std::min(chunk, toClient.size());
            client.Feed(toClient.data(), n);
            toClient.erase(0, n);
            moved = true;
        }
    }
}

} // namespace

TEST(TlsFilter, HandshakeAndDialogueWithTheCiphertextFedOneByteAtATime)
{
    TlsFilter client(Trusting("localhost"));
    TlsPeer server(&Certs().Server);
    std::string plain;
    EXPECT_FALSE(client.WritePlain("early", 5));
    Exchange(client, server, plain, 1);
    ASSERT_EQ(client.State(), TlsState::Established);
    EXPECT_EQ(client.PeerCertificateDer(), Certs().Server.Der);
    server.Write("+OK ready\r\n");
    ASSERT_TRUE(client.WritePlain("CAPA\r\n", 6));
    Exchange(client, server, plain, 1);
    EXPECT_EQ(plain, "+OK ready\r\n");
    EXPECT_EQ(server.Received, "CAPA\r\n");
}

TEST(TlsFilter, AReplyLargerThanTheTransferBufferStaysPendingUntilReadOut)
{
    TlsFilter client(Trusting("localhost"));
    TlsPeer server(&Certs().Server);
    std::string plain, reply(200000, 'x');
    Exchange(client, server, plain);
    server.Write(reply);
    const std::string records = server.TakeOutput();
    client.Feed(records.data(), records.size());
    EXPECT_EQ(client.ReadPlain(plain, 65536), 65536u);
    while (client.PlainPending())
        client.ReadPlain(plain, 65536);
    EXPECT_EQ(plain, reply);
    EXPECT_EQ(client.State(), TlsState::Established);
}

TEST(TlsFilter, TheEndOfTheStreamDuringAReplyAndDuringTheHandshake)
{
    for (bool notify : {true, false}) {
        TlsFilter client(Trusting("localhost"));
        TlsPeer server(&Certs().Server);
        std::string plain;
        Exchange(client, server, plain);
        server.Write("+OK 2 messages\r\n1 120\r\n");
        if (notify)
            server.Shutdown();  // in the middle of the multi-line reply
        const std::string records = server.TakeOutput();
        client.Feed(records.data(), records.size());
        if (!notify)
            client.FeedEnd();   // the connection just ends
        EXPECT_TRUE(client.PlainPending());
        client.ReadPlain(plain, 65536);
        EXPECT_EQ(plain, "+OK 2 messages\r\n1 120\r\n");
        EXPECT_EQ(client.State(), TlsState::Closed);
        EXPECT_EQ(client.CloseNotifySeen(), notify);
    }
    TlsFilter client(Trusting("localhost"));
    client.Handshake();
    client.FeedEnd();
    EXPECT_EQ(client.Handshake(), TlsState::Failed);
    EXPECT_EQ(client.Failure(), TlsFailure::PeerClosed);
}

TEST(TlsFilter, CertificateChecks)
{
    const auto& c = Certs();
    const TlsFingerprint selfSigned = TlsFingerprintOf(c.SelfSigned.Der), server = TlsFingerprintOf(c.Server.Der);
    const struct {
        const TestCert& Cert;
        TlsClientOptions Options;
        TlsFailure Expected;
    } cases[] = {
        {c.Server, Trusting("localhost"), TlsFailure::None},
        {c.Server, Trusting("127.1"), TlsFailure::None},  // checked as 127.0.0.1, as connected
        {c.Server, Trusting("127.0.0.2"), TlsFailure::HostMismatch},
        {c.WrongHost, Trusting("localhost"), TlsFailure::HostMismatch},
        {c.UnknownIssuer, Trusting("localhost"), TlsFailure::CertificateUntrusted},
        {c.Server, {"localhost", {}, {}}, TlsFailure::CertificateUntrusted},
        {c.Expired, Trusting("localhost"), TlsFailure::CertificateExpired},
        {c.NotYetValid, Trusting("localhost"), TlsFailure::CertificateNotYetValid},
        {c.SelfSigned, Trusting("localhost"), TlsFailure::CertificateSelfSigned},
        {c.SelfSigned, Trusting("localhost", {selfSigned}), TlsFailure::None},
        {c.SelfSigned, Trusting("localhost", {server}), TlsFailure::CertificateSelfSigned},  // another pin
        {c.AllWrong, Trusting("localhost"), TlsFailure::CertificateSelfSigned},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.Options.HostName + " " + TlsFailureText(k.Expected));
        TlsFilter client(k.Options);
        TlsPeer peer(&k.Cert);
        std::string plain;
        Exchange(client, peer, plain);
        EXPECT_EQ(client.State(), k.Expected == TlsFailure::None ? TlsState::Established : TlsState::Failed);
        EXPECT_EQ(client.Failure(), k.Expected);
        EXPECT_EQ(client.PeerCertificateDer(), k.Cert.Der);
    }
}

TEST(TlsFilter, EveryFaultOfTheChainIsNamedAndARenegotiationUnderAPinIsRefused)
{
    const auto& c = Certs();
    TlsFilter faulty(Trusting("localhost"));
    TlsPeer allWrong(&c.AllWrong);
    std::string plain;
    Exchange(faulty, allWrong, plain);
    EXPECT_EQ(faulty.CertificateFaults(), (std::vector<TlsFailure>{TlsFailure::CertificateSelfSigned,
                                                                   TlsFailure::HostMismatch, TlsFailure::CertificateExpired}));
    // TLS 1.2 lets the server ask for a new handshake, with another certificate this time.
    TlsFilter client(Trusting("localhost", {TlsFingerprintOf(c.SelfSigned.Der)}));
    TlsPeer server(&c.SelfSigned, TLS1_2_VERSION);
    Exchange(client, server, plain);
    ASSERT_EQ(client.State(), TlsState::Established);
    ASSERT_TRUE(server.Renegotiate(c.UnknownIssuer));
    Exchange(client, server, plain);
    server.Write("+OK from the other certificate\r\n");
    Exchange(client, server, plain);
    EXPECT_EQ(plain, "");
    EXPECT_EQ(client.PeerCertificateDer(), c.SelfSigned.Der);
}

TEST(TlsFilter, TrustsWhatSslCertFileNames)
{
    ::setenv("SSL_CERT_FILE", Certs().Ca.CertFile.c_str(), 1);
    TlsFilter client({"localhost", {}, {}});
    ::unsetenv("SSL_CERT_FILE");
    TlsPeer server(&Certs().Server);
    std::string plain;
    Exchange(client, server, plain);
    EXPECT_EQ(client.State(), TlsState::Established);
}

TEST(TlsFilter, ACorruptedRecordAfterTheHandshakeEndsTheConnection)
{
    TlsFilter client(Trusting("localhost"));
    TlsPeer server(&Certs().Server);
    std::string plain;
    Exchange(client, server, plain);
    ASSERT_EQ(client.State(), TlsState::Established);
    server.Write("+OK 2 320\r\n");
    std::string record = server.TakeOutput();
    record.back() ^= 0x01;   // the tag no longer matches
    client.Feed(record.data(), record.size());
    EXPECT_EQ(client.ReadPlain(plain, 65536), 0u);
    EXPECT_EQ(plain, "");
    EXPECT_EQ(client.State(), TlsState::Failed);
    EXPECT_EQ(client.Failure(), TlsFailure::ProtocolError);
    EXPECT_FALSE(client.WritePlain("QUIT\r\n", 6)) << "nothing goes out after the failure";
}

// What a server answers to the ClientHello decides how the failure reads. A server that
// speaks only TLS 1.1 answers with its version (or refuses with an alert); the bytes are
// made here, since OpenSSL may no longer make such a server at all.
TEST(TlsFilter, WhatTheServerAnswersTheHelloWithDecidesTheFailure)
{
    std::string hello11 = std::string("\x16\x03\x02\x00\x2a\x02\x00\x00\x26\x03\x02", 11) + std::string(32, '\x5a') +
                          std::string("\x00\x00\x2f\x00", 4);
    const struct {
        const char* What;
        std::string Answer;
        TlsFailure Expected;
    } cases[] = {
        {"a ServerHello for TLS 1.1", hello11, TlsFailure::ProtocolTooOld},
        {"the alert protocol_version", std::string("\x15\x03\x03\x00\x02\x02\x46", 7), TlsFailure::ProtocolTooOld},
        {"the alert handshake_failure", std::string("\x15\x03\x03\x00\x02\x02\x28", 7), TlsFailure::HandshakeFailed},
        {"a POP3 greeting in plain text", "+OK POP3 ready\r\n", TlsFailure::HandshakeFailed},
    };
    for (const auto& c : cases) {
        TlsFilter client(Trusting("localhost"));
        EXPECT_EQ(client.Handshake(), TlsState::Handshaking);
        client.Feed(c.Answer.data(), c.Answer.size());
        EXPECT_EQ(client.Handshake(), TlsState::Failed) << c.What;
        EXPECT_EQ(client.Failure(), c.Expected) << c.What;
    }
    // And a real server limited to TLS 1.1, where this OpenSSL still makes one.
    TlsPeer old(&Certs().Server, TLS1_1_VERSION);
    if (old.Usable()) {
        TlsFilter client(Trusting("localhost"));
        std::string plain;
        Exchange(client, old, plain);
        EXPECT_EQ(client.Failure(), TlsFailure::ProtocolTooOld);
    }
}
