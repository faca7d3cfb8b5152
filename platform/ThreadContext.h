#pragma once
// Internal to platform/ (not for use above it): the per-thread machinery behind windows,
// timers and socket notifications.
//
// Each thread that owns windows has one context: a QObject that receives posted calls (in
// posting order) and one epoll descriptor, watched by a QSocketNotifier, on which the
// sockets and timer descriptors of that thread's windows are registered. Watchers run on the
// owning thread and must only post; they never call window procedures directly, so nothing
// re-enters the dispatcher from inside a notifier.

#include "platform/Window.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

class QObject;
class QSocketNotifier;

namespace platform::detail {

using Watcher = std::function<void(std::uint32_t epollEvents)>;

class Context {
public:
    // The calling thread's context, made on first use; null when no application object
    // exists. A context dies with its application object (or its thread).
    static std::shared_ptr<Context> Current();

    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    bool OnThisThread() const { return std::this_thread::get_id() == FThread; }
    // Queues a call for the context's thread; false once the context is dead.
    bool Post(std::function<void()> call);

    // Registers `fd` on the epoll descriptor; returns a key (0 on failure).
    std::uint64_t AddWatch(int fd, std::uint32_t events, Watcher watcher);
    bool ModifyWatch(int fd, std::uint64_t key, std::uint32_t events);
    void RemoveWatch(int fd, std::uint64_t key);

    void TearDown();   // on the context's thread

private:
    Context() = default;
    void Drain();

    std::mutex FLock;
    bool FAlive = false;
    std::thread::id FThread;
    QObject* FReceiver = nullptr;
    QSocketNotifier* FNotifier = nullptr;
    int FEpoll = -1;
    std::uint64_t FNextKey = 0;
    std::unordered_map<std::uint64_t, Watcher> FWatchers;
};

// The context of a window's thread (null for unknown windows).
std::shared_ptr<Context> WindowContext(WindowHandle window);
// Posts a message whose delivery is first checked by `guard` on the window's thread (after
// the window was found alive); a false guard drops the message.
bool PostWindowMessage(WindowHandle window, unsigned msg, WPARAM wParam, LPARAM lParam,
                       std::function<bool()> guard);

} // namespace platform::detail
