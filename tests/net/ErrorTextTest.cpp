// The error table and texts, the address texts, and the text helpers.

#include "NetTestUtil.h"

using namespace nettest;

using ErrorTextTest = SockTest;

TEST_F(ErrorTextTest, SocketErrorStrFormatsNumberAndText)
{
    EXPECT_EQ(Sock->SocketErrorStr(0), "");
    EXPECT_EQ(Sock->SocketErrorStr(10060), "10060:Connection timed out");
    EXPECT_EQ(Sock->SocketErrorStr(10061), "10061:Connection refused");
    EXPECT_EQ(Sock->SocketErrorStr(11004), "11004:Valid name, no data record of requested type");
    EXPECT_EQ(Sock->SocketErrorStr(12345), "Unknown Error No. 12345");
}

TEST(WinsockMessageTable, IsAscendingWithShortTexts)
{
    EXPECT_EQ(WinsockMessage.front().ErrorNo, 10004);
    EXPECT_EQ(WinsockMessage.back().ErrorNo, 11004);
    for (std::size_t i = 1; i < WinsockMessage.size(); ++i)
        EXPECT_LT(WinsockMessage[i - 1].ErrorNo, WinsockMessage[i].ErrorNo);
    for (const auto& m : WinsockMessage)
        EXPECT_LE(std::string(m.Text).size(), 51u) << m.ErrorNo;
}

TEST_F(ErrorTextTest, ErrorManagerIgnoresWouldBlockAndRaisesRealErrorsAfterOnError)
{
    std::vector<std::string> errors;
    Sock->OnError = [&](TComponent*, std::uint16_t no, const std::string& text) {
        errors.push_back(std::to_string(no) + " " + text);
    };
    ws::SetLastError(10035);
    EXPECT_EQ(Sock->ErrorManager(10035), "");
    ws::SetLastError(9999);
    EXPECT_EQ(Sock->ErrorManager(10035), "") << "numbers of 10000 and below never raise";
    ws::SetLastError(10061);
    try {
        Sock->ErrorManager(10035);
        FAIL() << "no exception";
    } catch (const ESockError& e) {
        EXPECT_EQ(e.Message, "10061:Connection refused");
    }
    EXPECT_EQ(errors, (std::vector<std::string>{"10061 10061:Connection refused"}));
    EXPECT_EQ(Sock->GetLastErrorNo(), 10061);
}

TEST_F(ErrorTextTest, SetWSAErrorReportsWithoutRaising)
{
    std::string seen;
    Sock->OnError = [&](TComponent*, std::uint16_t, const std::string& text) { seen = text; };
    Sock->SetWSAError(10061, "");
    EXPECT_EQ(seen, "10061:Connection refused");
    EXPECT_EQ(ws::GetLastError(), 10061);
    Sock->SetWSAError(10054, "own words");
    EXPECT_EQ(seen, "own words");
    EXPECT_EQ(Sock->GetLastErrorNo(), 10054);
}

TEST_F(ErrorTextTest, WinsockInfoDescribesTheStart)
{
    // Only the component that starts the sockets layer fills the lines; this test's is the
    // only one alive, so it did.
    ASSERT_EQ(Sock->WinsockInfo.Count(), 6);
    EXPECT_EQ(Sock->WinsockInfo[0], "Version= 1.1");
    EXPECT_EQ(Sock->WinsockInfo[1], "High Version= 1.1");
    EXPECT_EQ(Sock->WinsockInfo[2].rfind("Description= ", 0), 0u);
    EXPECT_EQ(Sock->WinsockInfo[5].rfind("Max Udp pack size= ", 0), 0u);
    Probe second(nullptr);
    EXPECT_EQ(second.WinsockInfo.Count(), 0);
}

TEST_F(ErrorTextTest, LocalAddressAndPortTexts)
{
    EXPECT_EQ(Sock->GetLocalAddress(), "0,0,0,0") << "unbound socket";
    EXPECT_EQ(Sock->GetPortString(), ",0,0");
    ScriptServer server(Script().WaitForClose());
    ConnectTo(server.Port());
    EXPECT_EQ(Sock->GetLocalAddress(), "127,0,0,1");
    std::string ports = Sock->GetPortString();
    int hi = 0, lo = 0;
    ASSERT_EQ(std::sscanf(ports.c_str(), ",%d,%d", &hi, &lo), 2) << ports;
    EXPECT_GT(hi * 256 + lo, 0);
    EXPECT_FALSE(Sock->GetLocalIP().empty());
}

TEST(NthWord, FieldsBetweenSingleDelimiters)
{
    struct {
        const char* Text;
        char Delim;
        int N;
        const char* Word;
        const char* Rule;
    } cases[] = {
        {"+OK 2 320", ' ', 2, "2", "plain field"},
        {"+OK 2 320\r\n", ' ', 3, "320\r\n", "the last field keeps the line end"},
        {"a,,b", ',', 2, "", "adjacent delimiters enclose an empty field"},
        {"a,,b", ',', 3, "b", "field after an empty one"},
        {",a", ',', 1, "", "a leading delimiter makes field 1 empty"},
        {"abc", ',', 1, "abc", "no delimiter: the whole text is field 1"},
        {"abc", ',', 2, "", "past the last field"},
        {"", ',', 1, "", "empty text"},
        {"a,b", ',', 0, "", "n = 0"},
        {"a,b", ',', -1, "", "negative n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NthWord(c.Text, c.Delim, c.N), c.Word) << '"' << c.Text << "\" n=" << c.N << ": " << c.Rule;
}

TEST(NthPos, PositionOfTheNthDelimiter)
{
    EXPECT_EQ(NthPos("a,b,c", ',', 2), 4);
    EXPECT_EQ(NthPos("a,b,", ',', 2), 4) << "ending in the delimiter";
    EXPECT_EQ(NthPos("a,b", ',', 5), 4) << "fewer delimiters: length + 1";
    EXPECT_EQ(NthPos("", ',', 1), 1) << "empty text";
    EXPECT_EQ(NthPos(",", ',', 1), 1);
}

TEST(StreamLn, AppendsCrLf)
{
    TMemoryStream s;
    StreamLn(s, "abc");
    StreamLn(s, "");
    EXPECT_EQ(s.DataString(), "abc\r\n\r\n");
}
