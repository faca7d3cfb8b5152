#pragma once
// Plays bytes as a POP3 server's whole side of a dialogue to a fresh TNMPOP3: Connect,
// GetSummary(1), List, GetMailMessage(1) (and 2), Disconnect. Shared by the dialogue fuzz
// target and the regression test in tests/pop3; a QCoreApplication must exist.
//
// The server side is a loopback listener of this object. When the component's socket
// connects, the connection is accepted and every scripted byte is sent at once, followed by
// the end of the stream, so no wait of the component has anything to wait for: a run that
// meets its time-out has missed data or the close, and is a fault. Each run gets a fresh
// component; files go into <folder>/attach, which is emptied after each run, and nothing
// may appear beside it.
//
// Input: byte 0 holds the options (bit 0 Parse, bit 1 DeleteOnRead, bit 2 a second
// retrieval, bit 3 an empty password so that OnAuthenticationNeeded is asked, bit 4 STLS
// asked for, bit 5 GetSummary(2) and GetSummary(4) after GetSummary(1): with PIPELINING in
// the CAPA answer a window in flight is read, skipped and settled; bit 6 a reply limit of
// 4096 bytes), the rest is what the server sends. A server of plain bytes can never complete
// a TLS handshake, so with STLS asked for the client must never send USER or PASS.
#include "fuzz/pop3/Pop3Checks.h"
#include "pop3/Nmpop3.h"
#include "runtime/Exception.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace Pop3Checks {

class DialogueReplay {
public:
    // Long enough that a loaded machine (a sanitizer build beside, two cores) cannot starve a
    // wait into it; a wait that has missed data meets it all the same, only later.
    static constexpr int TimeOutMs = 2000;

    explicit DialogueReplay(std::filesystem::path folder) : FFolder(std::move(folder)), FAttach(FFolder / "attach")
    {
        std::filesystem::remove_all(FFolder);
        std::filesystem::create_directories(FAttach);
        FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (FListener < 0 || ::bind(FListener, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(FListener, 16) != 0
            || ::getsockname(FListener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw Exception("DialogueReplay: no loopback listener");
        FPort = ntohs(a.sin_port);
    }
    ~DialogueReplay()
    {
        if (FListener >= 0)
            ::close(FListener);
        std::error_code ec;
        std::filesystem::remove_all(FFolder, ec);
    }
    DialogueReplay(const DialogueReplay&) = delete;
    DialogueReplay& operator=(const DialogueReplay&) = delete;

    void Run(std::string_view input, Fail fail)
    {
        if (input.empty())
            return;
        const auto flags = static_cast<unsigned char>(input[0]);
        FScript = input.substr(1);
        DrainBacklog();
        {
            auto pop = std::make_unique<TNMPOP3>(nullptr);
            pop->Host = "127.0.0.1";
            pop->Port = FPort;
            pop->UserID = "u";
            pop->Password = (flags & 8) ? "" : "p";
            pop->OnAuthenticationNeeded = [&pop](bool& Handled) {
                pop->Password = "p";
                Handled = true;
            };
            pop->TimeOut = TimeOutMs;
            if (flags & 16)
                pop->TlsMode = TTlsMode::StartTls;
            if (flags & 64)
                pop->ReplyLimit = 4096;
            pop->Parse = (flags & 1) != 0;
            pop->DeleteOnRead = (flags & 2) != 0;
            pop->SetAttachFilePath(FAttach.string());
            // The socket's own connect event (hidden by the component's): the server's side starts.
            static_cast<TPowersock&>(*pop).OnConnect = [this](TObject*) { Serve(); };
            auto step = [&](auto&& op) {
                try {
                    op();
                } catch (const std::exception&) {
                }
                Require(!pop->Busy(), "the busy flag stayed set after an operation", fail);
                Require(!pop->TimeoutFired, "a wait ran into the time-out although every byte and the close had arrived", fail);
            };
            step([&] { pop->Connect(); });
            step([&] { pop->GetSummary(1); });
            if (flags & 32) {
                step([&] { pop->GetSummary(2); });
                step([&] { pop->GetSummary(4); });
            }
            step([&] { pop->List(); });
            step([&] { pop->GetMailMessage(1); });
            if (flags & 4)
                step([&] { pop->GetMailMessage(2); });
            step([&] { pop->Disconnect(); });
            Require(pop->Summary.Header.Count() <= static_cast<int>(input.size()), "more summary lines than bytes", fail);
        }
        if (FServer >= 0) {
            if (flags & 16) {
                const std::string sent = ClientBytes();
                Require(sent.find("USER") == std::string::npos && sent.find("PASS") == std::string::npos,
                        "credentials sent although STLS was asked for", fail);
            }
            ::close(FServer);
            FServer = -1;
        }
        CheckFiles(input.size(), fail);
    }

private:
    // Connections left by an earlier run (one that never reached its connect event).
    void DrainBacklog()
    {
        for (int fd; (fd = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
            ::close(fd);
    }

    // What the client sent on this run's connection.
    std::string ClientBytes() const
    {
        std::string bytes;
        char buf[4096];
        for (ssize_t n; (n = ::recv(FServer, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
            bytes.append(buf, static_cast<std::size_t>(n));
        return bytes;
    }

    void Serve()
    {
        pollfd p{FListener, POLLIN, 0};
        if (FServer >= 0 || ::poll(&p, 1, 1000) != 1)
            return;
        FServer = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (FServer < 0)
            return;
        int big = 1 << 20;
        ::setsockopt(FServer, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
        // Sent at once; what the socket buffers cannot take is cut off (inputs are far smaller).
        std::size_t sent = 0;
        while (sent < FScript.size()) {
            const ssize_t n = ::send(FServer, FScript.data() + sent, FScript.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
        ::shutdown(FServer, SHUT_WR);
    }

    // Only regular files inside the attachment folder, bounded by what the input can carry
    // (a part's lines, and at most 21 bytes decoded per byte of a uuencoded part); then empty it.
    void CheckFiles(std::size_t inputSize, Fail fail)
    {
        namespace fs = std::filesystem;
        for (const auto& e : fs::directory_iterator(FFolder))
            Require(e.path().filename() == "attach", "a file appeared beside the attachment folder", fail);
        std::uintmax_t total = 0;
        for (const auto& e : fs::directory_iterator(FAttach)) {
            Require(e.is_regular_file() && !e.is_symlink(), "something other than a plain file in the attachment folder", fail);
            if (e.is_regular_file())
                total += e.file_size();
        }
        Require(total <= 24 * static_cast<std::uintmax_t>(inputSize) + 64, "more bytes in files than the input can carry", fail);
        for (const auto& e : fs::directory_iterator(FAttach)) {
            std::error_code ec;
            fs::remove_all(e.path(), ec);
        }
    }

    std::filesystem::path FFolder;
    std::filesystem::path FAttach;
    int FListener = -1;
    int FServer = -1;
    std::uint16_t FPort = 0;
    std::string_view FScript;
};

} // namespace Pop3Checks
