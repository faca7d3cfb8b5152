#pragma once
// Internal to platform/ (not for use above it): the per-thread machinery behind windows,
// timers and socket notifications.
//
// Each thread that owns windows has one context: a queue of posted calls (run in posting
// order) and one epoll descriptor, watched by a QSocketNotifier, on which the sockets and
// timer descriptors of that thread's windows are registered, and a wake-up descriptor that
// other threads signal when they post. Watchers run on the owning thread and must only
// post; they never call window procedures directly, so nothing re-enters the dispatcher
// from inside a notifier.
//
// The queue is run by the platform pump after each pass, and otherwise through one Qt
// event: posted when a call from another thread wakes the owner, and, for calls posted on
// the owning thread, when its event dispatcher is about to block with calls still queued.
// So a notification handled inside the pump costs no wake-up.
//
// The pump's short cut (WaitOwn): a full round of the Qt event dispatcher (its sources,
// its poll, the notifier, then a second look at the epoll descriptor) costs a good part of
// a short network exchange, so within RoundEvery of the last full round the pump waits on
// the epoll descriptor alone, which covers every window message, timer and socket of the
// thread. Qt's own events (user input, Qt timers, Qt posted events) wait for the next full
// round, which comes at the latest RoundEvery after the last one: a timer on the epoll
// descriptor ends the short cut then.

#include "platform/Window.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <sys/epoll.h>

class QObject;
class QSocketNotifier;

namespace platform::detail {

using Watcher = std::function<void(std::uint32_t epollEvents)>;

// What the queue holds: a window message, or (with Call) a call for the thread.
struct Posted {
    WindowHandle Window = 0;
    unsigned Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    // Asked on the window's thread before delivery, after the window was found alive;
    // false drops the message. Owner, Data and Tag are the guard's own (the object it
    // checks, what it hands over, a serial number): a plain function with its data in
    // the item costs no allocation per message.
    bool (*Guard)(const Posted&) = nullptr;
    std::weak_ptr<void> Owner;
    std::shared_ptr<void> Data;
    std::uint64_t Tag = 0;
    // A call; dropped when Window is set and that window is gone by then.
    std::function<void()> Call;
};

// CLOCK_MONOTONIC in nanoseconds.
inline std::int64_t NowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

class Context {
public:
    // Longest time that Qt's own events wait while the pump takes the short cut.
    static constexpr std::int64_t RoundEveryNs = 4000000;

    // The calling thread's context, made on first use; null when no application object
    // exists. A context dies with its application object (or its thread).
    static std::shared_ptr<Context> Current();
    // The calling thread's context if it has a live one (never makes one).
    static std::shared_ptr<Context> Existing();
    // As Existing, without taking a reference: valid until the calling thread's context is
    // torn down, which only that thread (or the end of the application object) does.
    static Context* Here();

    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    bool OnThisThread() const { return std::this_thread::get_id() == FThread; }
    // Queues a message or call for the context's thread; false once the context is dead.
    bool Post(Posted item);
    bool Post(std::function<void()> call);
    // Runs the queued calls (also those queued meanwhile); on the context's thread.
    void RunQueue();
    bool HasQueued();
    // Posts the Qt event that runs the queue, unless one is pending or nothing is queued.
    void RequestRun();

    // The pump's short cut (see above), on the context's thread: unless a full round of
    // the event dispatcher is due, waits on the epoll descriptor until the next event of
    // the thread's own or until the round falls due, and hands what came to the watchers.
    // True when something was handed on; false when a full round is due (which then waits
    // for whatever comes next).
    bool WaitOwn();
    // Notes a full round of the event dispatcher: the next one falls due RoundEvery later
    // (or sooner, when it was due sooner already).
    void NoteRound();

    // Registers `fd` on the epoll descriptor; returns a key (0 on failure).
    std::uint64_t AddWatch(int fd, std::uint32_t events, Watcher watcher);
    bool ModifyWatch(int fd, std::uint64_t key, std::uint32_t events);
    void RemoveWatch(int fd, std::uint64_t key);

    void TearDown();   // on the context's thread

private:
    Context() = default;
    void Drain();
    // Hands epoll's reports to the watchers; true when other threads woke the context.
    bool Dispatch(const epoll_event* events, int n);

    std::mutex FLock;
    std::atomic<bool> FAlive{false};
    std::thread::id FThread;
    QObject* FReceiver = nullptr;
    QSocketNotifier* FNotifier = nullptr;
    int FEpoll = -1;
    int FWake = -1;              // eventfd on the epoll descriptor, signalled by foreign posts
    bool FWakeSignalled = false;
    std::uint64_t FNextKey = 0;
    std::unordered_map<std::uint64_t, std::shared_ptr<const Watcher>> FWatchers;
    std::deque<Posted> FQueue;
    std::atomic<std::size_t> FQueued{0};   // FQueue's size, for a look without the lock
    bool FRunPosted = false;
    int FRoundTimer = -1;          // timerfd on the epoll descriptor, armed for FRoundDue
    std::int64_t FRoundDue = 0;    // when the next full round falls due; 0: due now (owner thread only)
};

// The context of a window's thread (null for unknown windows).
std::shared_ptr<Context> WindowContext(WindowHandle window);
// Posts a message (with its guard, see Posted) to the window's thread.
bool PostWindowMessage(Posted item);
// Hands a queued item to its window (or runs its call); on the window's thread.
void Deliver(const Posted& item);

} // namespace platform::detail
