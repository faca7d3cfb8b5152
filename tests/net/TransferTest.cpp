// Counted reads, captures, header filtering, sending buffers, files and streams.

#include "NetTestUtil.h"
#include "tests/support/Files.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace nettest;

namespace {

using testsupport::ReadFile;

// A file name in a folder of the test's own.
std::string TempPath(const std::string& name)
{
    static const testsupport::TempFolder folder("purgel-net");
    return (folder / name).string();
}

} // namespace

using TransferTest = SockTest;

TEST_F(TransferTest, ReadWaitsForTheCountAndZeroTakesWhatIsThere)
{
    ScriptServer server(Script().SendPieces({"abc", "defg"}, 100ms).Expect("more").Send("xy").WaitForClose());
    ConnectTo(server.Port());
    EXPECT_EQ(Sock->Read(5), "abcde");
    EXPECT_EQ(Sock->Read(0), "fg");
    EXPECT_EQ(Sock->Read(0), "") << "nothing pending";
    Sock->Writeln("more");
    EXPECT_EQ(Sock->Read(2), "xy");
}

TEST_F(TransferTest, ReadOfMoreThanThePeerSendsBeforeItClosesEndsAtTheClose)
{
    ScriptServer server(Script().Send("abc").Close());
    ConnectTo(server.Port());
    Later safety(5000, [this] { Sock->Cancel(); });
    EXPECT_EQ(Sock->Read(5), "abc");
}

TEST_F(TransferTest, CaptureStringStopsAtTheLimitWithTheWholeChunk)
{
    ScriptServer server(Script().Send(std::string(300, 'z')).Expect("more").Send("w").WaitForClose());
    ConnectTo(server.Port());
    std::string text;
    Sock->CaptureString(text, 100);
    EXPECT_EQ(text, std::string(300, 'z')) << "the last chunk may go past the limit";
    Sock->Writeln("more");
    Sock->CaptureString(text, 1);
    EXPECT_EQ(text, "w") << "a 1-byte chunk is taken like any other";
}

TEST_F(TransferTest, CaptureStringWithoutLimitCollectsUntilTheClose)
{
    std::string big(200000, 'q');
    ScriptServer server(Script().Send(big).Close());
    ConnectTo(server.Port());
    std::string text;
    Sock->CaptureString(text, -1);
    EXPECT_EQ(text.size(), big.size());
}

TEST_F(TransferTest, CaptureStreamOnePassOrUpToTheLimit)
{
    ScriptServer server(Script().Send("first").Expect("more").Send("second").WaitForClose());
    ConnectTo(server.Port());
    ASSERT_TRUE(testsupport::PumpUntil([&] { return Sock->DataAvailable(); }, 2s));
    TMemoryStream stream;
    Sock->CaptureStream(stream, -1);
    EXPECT_EQ(stream.DataString(), "first") << "size -1: a single pass";
    Sock->CaptureStream(stream, 5);
    EXPECT_EQ(stream.DataString(), "first") << "the limit is not above the stream's size: returns at once";
    Sock->Writeln("more");
    Sock->CaptureStream(stream, 11);
    EXPECT_EQ(stream.DataString(), "firstsecond");
}

TEST_F(TransferTest, FilterHeaderWritesUpToTheBlankLineAndLeavesTheBody)
{
    ScriptServer server(Script().Send("From: a\r\nSubject: b\r\n\r\nbody\r\n").WaitForClose());
    ConnectTo(server.Port());
    TMemoryStream stream;
    Sock->FilterHeader(stream);
    EXPECT_EQ(stream.DataString(), "From: a\r\nSubject: b\r\n\r\n");
    EXPECT_EQ(Sock->ReadLn(), "body\r\n");
}

TEST_F(TransferTest, DataAvailableAndClearInput)
{
    ScriptServer server(Script().Send("junk").Expect("more").SendLine("+OK").WaitForClose());
    ConnectTo(server.Port());
    testsupport::PumpUntil([&] { return Sock->DataAvailable(); }, 2s);
    EXPECT_TRUE(Sock->DataAvailable());
    Sock->ClearInput();
    EXPECT_FALSE(Sock->DataAvailable());
    Sock->Writeln("more");
    EXPECT_EQ(Sock->ReadLn(), "+OK\r\n");
}

TEST_F(TransferTest, SendBufferWithLengthZeroSendsUpToTheNul)
{
    ScriptServer server(Script().WaitForClose());
    ConnectTo(server.Port());
    Sock->SendBuffer("abc\0def", 0);
    Sock->SendBuffer("xyz", 2);
    Sock->Disconnect();
    ASSERT_TRUE(server.WaitDone(2s));
    EXPECT_EQ(server.ReceivedBytes(0), "abcxy");
}

TEST_F(TransferTest, ATextOf65536BytesFailsBeforeAnythingIsSent)
{
    ScriptServer server(Script().WaitForClose());
    ConnectTo(server.Port());
    EXPECT_THROW(Sock->Write(std::string(65536, 'a')), ESockError);
    Sock->Write(std::string(65535, 'b'));
    Sock->Disconnect();
    ASSERT_TRUE(server.WaitDone(2s));
    EXPECT_EQ(server.ReceivedBytes(0), std::string(65535, 'b'));
}

TEST_F(TransferTest, SendStreamAndSendFileDeliverEveryByte)
{
    std::string data;
    for (int i = 0; i < 150000; ++i)
        data += static_cast<char>('a' + i % 26);
    std::string path = TempPath("send.bin");
    std::ofstream(path, std::ios::binary) << data;
    ScriptServer server(Script().WaitForClose());
    ConnectTo(server.Port());
    TMemoryStream stream;
    stream.WriteBuffer(data.data(), static_cast<long long>(data.size()));
    int packets = 0;
    Sock->OnPacketSent = [&](TObject*) { ++packets; };
    Sock->SendStream(stream);
    EXPECT_EQ(Sock->BytesTotal(), 150000);
    EXPECT_EQ(Sock->BytesSent, 150000);
    Sock->SendFile(path);
    EXPECT_EQ(Sock->BytesSent, 300000) << "SendFile adds to the count";
    EXPECT_GE(packets, 6);
    // The first socket closes with a reset (zero linger), which drops unsent bytes: let the
    // server take everything first.
    testsupport::PumpUntil([&] { return server.ReceivedBytes(0).size() >= 2 * data.size(); }, 5s);
    Sock->Disconnect();
    ASSERT_TRUE(server.WaitDone(5s));
    std::string got = server.ReceivedBytes(0);
    ASSERT_EQ(got.size(), 2 * data.size());
    EXPECT_TRUE(got == data + data) << "content differs";
    std::remove(path.c_str());
    EXPECT_THROW(Sock->SendFile(TempPath("missing")), Exception);
}

TEST_F(TransferTest, CaptureFileAndAppendFileWriteWhatArrives)
{
    std::string path = TempPath("capture.txt");
    ScriptServer server({Script().Send("hello ").Close(), Script().Send("world").Close()});
    ConnectTo(server.Port());
    Sock->CaptureFile(path);
    EXPECT_EQ(ReadFile(path), "hello ");
    Sock->Disconnect();   // the close came while data was unread: the connection stays open
    ConnectTo(server.Port());
    Sock->AppendFile(path);
    EXPECT_EQ(ReadFile(path), "hello world");
    EXPECT_EQ(Sock->BytesRecvd(), 5);
    std::remove(path.c_str());
}
