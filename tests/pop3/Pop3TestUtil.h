#pragma once
// Helpers shared by the POP3 component tests: the component with its part parser in reach,
// a scripted login, a recorded event trail and a scratch folder for attachment files.

#include "pop3/Nmpop3.h"
#include "tests/net/NetTestUtil.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace pop3test {

using testsupport::ReadFile;

using namespace std::chrono_literals;
using nettest::Later;
using testsupport::Clock;
using testsupport::Generous;
using testsupport::MsSince;
using testsupport::Script;
using testsupport::ScriptServer;
namespace fs = std::filesystem;

class Pop3Probe : public TNMPOP3 {
public:
    using TNMPOP3::TNMPOP3;
    using TNMPOP3::FAttachName;
    using TNMPOP3::FPartMode;
    using TNMPOP3::PartBodyText;
    using TNMPOP3::FTransferEncoding;
    using TNMPOP3::ReadBody;
    using TNMPOP3::ReadHeader;
    using TNMPOP3::ReadParts;
};

// Greeting, USER bob, PASS pw and STAT answered with `stat`; the script goes on from there.
inline Script Login(const std::string& stat = "+OK 2 320")
{
    return Script().Pop3Login("+OK POP3 ready", "bob", "pw", stat);
}

// A multi-line reply: "+OK", the lines, ".".
inline std::string Listing(const std::vector<std::string>& lines)
{
    return "+OK\r\n" + testsupport::Wire(lines) + ".\r\n";
}

inline std::vector<std::string> Lines(const TStringList& list)
{
    return list.Items();
}

// The component (events recorded in order) and a fresh scratch folder per test.
class Pop3Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        Folder = Scratch.Path();
        fs::create_directories(Folder / "inbox");
        Pop = std::make_unique<Pop3Probe>(nullptr);
        Pop->Host = testsupport::LoopbackHost;
        Pop->UserID = "bob";
        Pop->Password = "pw";
        Pop->TimeOut = 5000;
        Pop->SetAttachFilePath((Folder / "inbox").string());
        Pop->OnConnect = [this](TObject*) { Events.push_back("connect"); };
        Pop->OnDisconnect = [this](TObject*) { Events.push_back("disconnect"); };
        Pop->OnRetrieveStart = [this](TObject*) { Events.push_back("start"); };
        Pop->OnRetrieveEnd = [this](TObject*) {
            Events.push_back("end");
            EXPECT_TRUE(Pop->Busy()) << "busy while OnRetrieveEnd runs";
        };
        Pop->OnSuccess = [this](TObject*) { Events.push_back("success"); };
        Pop->OnFailure = [this](TObject*) { Events.push_back("failure"); };
        Pop->OnReset = [this](TObject*) { Events.push_back("reset"); };
        Pop->OnDecodeStart = [this](std::string& name) { Events.push_back("decode " + name); };
    }
    void TearDown() override { Pop.reset(); }

    void ConnectTo(const ScriptServer& server)
    {
        Pop->Port = server.Port();
        Pop->Connect();
    }
    // The file names in the attachment folder, sorted.
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(Folder / "inbox"))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Inbox(const std::string& name) const { return (Folder / "inbox" / name).string(); }

    testsupport::TempFolder Scratch{"purgel-pop3"};
    fs::path Folder;
    std::unique_ptr<Pop3Probe> Pop;
    std::vector<std::string> Events;
};

// The exception text of `fn`, or "" when it raised nothing.
template <class F>
std::string Failure(F&& fn)
{
    try {
        fn();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

} // namespace pop3test
