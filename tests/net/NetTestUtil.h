#pragma once
// Helpers shared by the socket component tests.

#include "net/Psock.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/ScriptServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace nettest {

using namespace std::chrono_literals;
using testsupport::Clock;
using testsupport::Generous;
using testsupport::MsSince;
using testsupport::Script;
using testsupport::ScriptServer;

// The component with its internals in reach of the tests.
class Probe : public TPowersock {
public:
    using TPowersock::TPowersock;
    using TPowersock::AsyncDone;
    using TPowersock::CancelRequested;
    using TPowersock::NotifyWindow;
    using TPowersock::SocketHandle;
};

// Runs `fn` once on this thread after `ms`, from inside whatever wait is pumping then (as a
// button handler would).
class Later {
public:
    Later(int ms, std::function<void()> fn) : FFn(std::move(fn))
    {
        FWindow = platform::AllocateHWnd([this](unsigned msg, platform::WPARAM, platform::LPARAM) {
            if (msg == platform::WM_TIMER && FFn) {
                platform::KillTimer(FWindow, 1);
                auto fn = std::move(FFn);
                FFn = nullptr;
                fn();
            }
            return platform::LPARAM(0);
        });
        platform::SetTimer(FWindow, 1, static_cast<unsigned>(ms));
    }
    ~Later() { platform::DeallocateHWnd(FWindow); }
    Later(const Later&) = delete;
    Later& operator=(const Later&) = delete;

private:
    std::function<void()> FFn;
    platform::WindowHandle FWindow = 0;
};

// A component with its events recorded in order.
class SockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Sock = std::make_unique<Probe>(nullptr);
        Sock->OnConnect = [this](TObject*) { Events.push_back("connect"); };
        Sock->OnDisconnect = [this](TObject*) { Events.push_back("disconnect"); };
        Sock->OnConnectionFailed = [this](TObject*) { Events.push_back("failed"); };
        Sock->OnHostResolved = [this](TComponent*) { Events.push_back("resolved"); };
    }
    void TearDown() override { Sock.reset(); }

    void ConnectTo(std::uint16_t port, const std::string& host = testsupport::LoopbackHost)
    {
        Sock->Host = host;
        Sock->Port = port;
        Sock->Connect();
    }

    std::unique_ptr<Probe> Sock;
    std::vector<std::string> Events;
};

} // namespace nettest
