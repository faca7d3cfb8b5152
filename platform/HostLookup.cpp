// The host look-up of the socket layer: GetHostByName and the workers of AsyncGetHostByName
// over the system resolver (declared in Winsock.h). A running look-up cannot be
// interrupted, and one that never answers holds its worker for good: so the workers are a
// fixed few (LookupWorkers, started on demand, living as long as the process), later
// look-ups wait in a queue, and a cancelled look-up leaves the queue.
#include "platform/Winsock.h"

#include "platform/ThreadContext.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
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
int SystemResolve(const std::string& name, HostEntry& entry)
{
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

std::mutex ResolverLock;
std::function<int(const std::string&, HostEntry&)> Resolver = SystemResolve;

int Resolve(const std::string& name, HostEntry& entry)
{
    if (!IsHostName(name))
        return WSAHOST_NOT_FOUND;
    std::unique_lock lock(ResolverLock);
    auto resolve = Resolver;
    lock.unlock();
    return resolve(name, entry);
}

constexpr int LookupWorkers = 4;

struct Lookup {
    int Task = 0;
    platform::WindowHandle Window = 0;
    unsigned Msg = 0;
    std::string Host;
    char* Buffer = nullptr;
};

// The queue and its workers; never destroyed (workers may be stuck in the resolver).
struct LookupQueue {
    std::mutex Lock;
    std::condition_variable Ready;
    std::deque<Lookup> Waiting;
    int Workers = 0;
    int Idle = 0;
};

LookupQueue& Queue()
{
    static auto* queue = new LookupQueue;
    return *queue;
}

void Answer(const Lookup& lookup)
{
    auto entry = std::make_shared<HostEntry>();
    int err = Resolve(lookup.Host, *entry);
    platform::detail::Posted reply;
    reply.Window = lookup.Window;
    reply.Msg = lookup.Msg;
    reply.WParam = static_cast<platform::WPARAM>(lookup.Task);
    reply.LParam = platform::MakeLong(static_cast<std::uint16_t>(sizeof(HostEntry)), static_cast<std::uint16_t>(err));
    // The entry is written into the caller's buffer (Tag) only now, when the window is
    // known to be alive.
    reply.Data = entry;
    reply.Tag = reinterpret_cast<std::uintptr_t>(lookup.Buffer);
    reply.Guard = [](const platform::detail::Posted& p) {
        if (platform::HiWord(p.LParam) == 0)
            std::memcpy(reinterpret_cast<char*>(p.Tag), p.Data.get(), sizeof(HostEntry));
        return true;
    };
    platform::detail::PostWindowMessage(std::move(reply));
}

void Work()
{
    LookupQueue& q = Queue();
    std::unique_lock lock(q.Lock);
    for (;;) {
        ++q.Idle;
        q.Ready.wait(lock, [&] { return !q.Waiting.empty(); });
        --q.Idle;
        Lookup lookup = std::move(q.Waiting.front());
        q.Waiting.pop_front();
        if (!platform::IsWindow(lookup.Window))
            continue;   // no one waits for it any more
        lock.unlock();
        Answer(lookup);
        lock.lock();
    }
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
    LookupQueue& q = Queue();
    std::lock_guard lock(q.Lock);
    q.Waiting.push_back(Lookup{task, window, msg, name ? name : "", buf});
    if (static_cast<int>(q.Waiting.size()) > q.Idle && q.Workers < LookupWorkers) {
        ++q.Workers;
        std::thread(Work).detach();   // stays for the process: it may be stuck in the resolver
    }
    q.Ready.notify_one();
    return task;
}

int CancelAsyncRequest(int task)
{
    LookupQueue& q = Queue();
    std::lock_guard lock(q.Lock);
    for (auto it = q.Waiting.begin(); it != q.Waiting.end(); ++it) {
        if (it->Task == task) {
            q.Waiting.erase(it);
            return 0;
        }
    }
    SetLastError(WSAEINVAL);   // running or answered already: its reply is for no one
    return SOCKET_ERROR;
}

namespace detail {

int LookupThreads()
{
    std::lock_guard lock(Queue().Lock);
    return Queue().Workers;
}

void SetResolverForTests(std::function<int(const std::string&, HostEntry&)> resolve)
{
    std::lock_guard lock(ResolverLock);
    Resolver = resolve ? std::move(resolve) : SystemResolve;
}

} // namespace detail

} // namespace ws
