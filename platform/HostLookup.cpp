// The host look-up of the socket layer: GetHostByName and the worker threads of
// AsyncGetHostByName over the system resolver (declared in Winsock.h). A look-up cannot be
// interrupted: its worker is detached and its reply dropped when the window is gone.
#include "platform/Winsock.h"

#include "platform/ThreadContext.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace ws {

namespace {

// Letters, digits, '-' and '_' in dot-separated labels of 1 to 63 characters, at most 253
// in all (a final dot allowed). Anything else is no host name and never reaches the resolver.
bool IsHostName(const std::string& name)
{
    std::string n = name;
    if (!n.empty() && n.back() == '.')
        n.pop_back();
    if (n.empty() || n.size() > 253)
        return false;
    std::size_t label = 0;
    for (char c : n) {
        if (c == '.') {
            if (label == 0)
                return false;
            label = 0;
            continue;
        }
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok || ++label > 63)
            return false;
    }
    return label > 0;
}

int MapGai(int rc)
{
    switch (rc) {
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
    default: return WSANO_RECOVERY;
    }
}

// 0 and the entry, or a Winsock error number.
int Resolve(const std::string& name, HostEntry& entry)
{
    if (!IsHostName(name))
        return WSAHOST_NOT_FOUND;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* res = nullptr;
    int rc = getaddrinfo(name.c_str(), nullptr, &hints, &res);
    if (rc != 0)
        return MapGai(rc);
    entry = HostEntry{};
    for (addrinfo* p = res; p && entry.AddrCount < 16; p = p->ai_next) {
        if (p->ai_family != AF_INET)
            continue;
        std::uint32_t a = reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (int i = 0; i < entry.AddrCount; ++i)
            seen = seen || entry.Addr[i] == a;
        if (!seen)
            entry.Addr[entry.AddrCount++] = a;
    }
    const char* canon = res && res->ai_canonname ? res->ai_canonname : name.c_str();
    std::snprintf(entry.Name, sizeof entry.Name, "%s", canon);
    freeaddrinfo(res);
    return entry.AddrCount ? 0 : WSANO_DATA;
}

} // namespace

int GetHostByName(const char* name, std::uint32_t& addr)
{
    HostEntry entry;
    int err = Resolve(name ? name : "", entry);
    if (err) {
        SetLastError(err);
        return SOCKET_ERROR;
    }
    addr = entry.Addr[0];
    return 0;
}

int AsyncGetHostByName(platform::WindowHandle window, unsigned msg, const char* name, char* buf, int buflen)
{
    if (!buf || buflen < static_cast<int>(sizeof(HostEntry))) {
        SetLastError(WSAENOBUFS);
        return 0;
    }
    if (!platform::IsWindow(window)) {
        SetLastError(WSAEINVAL);
        return 0;
    }
    static std::atomic<int> nextTask{0};
    int task = ++nextTask;
    if (task <= 0)
        task = nextTask = 1;
    std::string host = name ? name : "";
    // Detached: a look-up cannot be interrupted, and its reply is dropped when no one
    // waits for it any more. Everything it touches outlives it.
    std::thread([window, msg, host, buf, task] {
        auto entry = std::make_shared<HostEntry>();
        int err = Resolve(host, *entry);
        platform::LPARAM lp = platform::MakeLong(static_cast<std::uint16_t>(sizeof(HostEntry)), static_cast<std::uint16_t>(err));
        platform::detail::Posted reply;
        reply.Window = window;
        reply.Msg = msg;
        reply.WParam = static_cast<platform::WPARAM>(task);
        reply.LParam = lp;
        // The entry is written into the caller's buffer (Tag) only now, when the window
        // is known to be alive.
        reply.Data = entry;
        reply.Tag = reinterpret_cast<std::uintptr_t>(buf);
        reply.Guard = [](const platform::detail::Posted& p) {
            if (platform::HiWord(p.LParam) == 0)
                std::memcpy(reinterpret_cast<char*>(p.Tag), p.Data.get(), sizeof(HostEntry));
            return true;
        };
        platform::detail::PostWindowMessage(std::move(reply));
    }).detach();
    return task;
}

} // namespace ws
