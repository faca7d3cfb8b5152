#pragma once
// Internal to platform/ (not for use above it): the per-thread machinery behind windows,
// timers and socket notifications.
//
// Each thread that owns windows has one context: a queue of posted calls (run in posting
// order) and one epoll descriptor, watched by a QSocketNotifier, on which the sockets and
// timer descriptors of that thread's windows are registered. Watchers run on the owning
// thread and must only post; they never call window procedures directly, so nothing
// re-enters the dispatcher from inside a notifier.
//
// The queue is run by the platform pump after each pass, and otherwise through one Qt
// event: posted at once when a call comes from another thread (which must wake the owner),
// and, for calls posted on the owning thread, when its event dispatcher is about to block
// with calls still queued. So a notification handled inside the pump costs no wake-up.

#include "platform/Window.h"

#include <cstdint>
#include <deque>
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
    // The calling thread's context if it has a live one (never makes one).
    static std::shared_ptr<Context> Existing();

    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    bool OnThisThread() const { return std::this_thread::get_id() == FThread; }
    // Queues a call for the context's thread; false once the context is dead.
    bool Post(std::function<void()> call);
    // Runs the queued calls (also those queued meanwhile); on the context's thread.
    void RunQueue();
    bool HasQueued();
    // Posts the Qt event that runs the queue, unless one is pending or nothing is queued.
    void RequestRun();

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
    std::deque<std::function<void()>> FQueue;
    bool FRunPosted = false;
};

// The context of a window's thread (null for unknown windows).
std::shared_ptr<Context> WindowContext(WindowHandle window);
// Posts a message whose delivery is first checked by `guard` on the window's thread (after
// the window was found alive); a false guard drops the message.
bool PostWindowMessage(WindowHandle window, unsigned msg, WPARAM wParam, LPARAM lParam,
                       std::function<bool()> guard);

} // namespace platform::detail
