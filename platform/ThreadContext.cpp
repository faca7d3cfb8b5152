#include "platform/ThreadContext.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace platform::detail {

namespace {

// The keys of the wake-up descriptor and of the round timer on the epoll descriptor (watch
// keys count from 1).
constexpr std::uint64_t WakeKey = ~std::uint64_t(0);
constexpr std::uint64_t RoundKey = WakeKey - 1;
constexpr int MaxEvents = 64;

const QEvent::Type RunQueueEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class Receiver : public QObject {
public:
    explicit Receiver(Context* ctx) : FCtx(ctx) {}
    bool event(QEvent* e) override
    {
        if (e->type() != RunQueueEventType)
            return QObject::event(e);
        FCtx->RunQueue();
        return true;
    }

private:
    Context* FCtx;
};

// Tears the thread's context down when the thread ends (QThreads) ...
struct Holder {
    std::shared_ptr<Context> Ctx;
    ~Holder()
    {
        if (Ctx)
            Ctx->TearDown();
    }
};
thread_local Holder CurrentHolder;

// ... or, for the application's thread, when the application object goes, since the
// notifier cannot outlive the event dispatcher it is registered with.
void TearDownApplicationThread()
{
    if (CurrentHolder.Ctx) {
        CurrentHolder.Ctx->TearDown();
        CurrentHolder.Ctx.reset();
    }
}

} // namespace

std::shared_ptr<Context> Context::Current()
{
    auto& held = CurrentHolder.Ctx;
    if (held && held->FAlive)
        return held;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return nullptr;
    int ep = epoll_create1(EPOLL_CLOEXEC);
    if (ep < 0)
        return nullptr;
    int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    int round = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    epoll_event wev{};
    wev.events = EPOLLIN;
    wev.data.u64 = WakeKey;
    // Edge-triggered: arming the timer anew clears it, so it is never read.
    epoll_event rev{};
    rev.events = EPOLLIN | EPOLLET;
    rev.data.u64 = RoundKey;
    if (wake < 0 || round < 0 || epoll_ctl(ep, EPOLL_CTL_ADD, wake, &wev) != 0
        || epoll_ctl(ep, EPOLL_CTL_ADD, round, &rev) != 0) {
        for (int fd : {wake, round, ep})
            if (fd >= 0)
                ::close(fd);
        return nullptr;
    }
    std::shared_ptr<Context> ctx(new Context);
    ctx->FThread = std::this_thread::get_id();
    ctx->FEpoll = ep;
    ctx->FWake = wake;
    ctx->FRoundTimer = round;
    Context* raw = ctx.get();
    ctx->FReceiver = new Receiver(raw);
    ctx->FNotifier = new QSocketNotifier(ep, QSocketNotifier::Read);
    QObject::connect(ctx->FNotifier, &QSocketNotifier::activated, ctx->FReceiver, [raw] { raw->Drain(); });
    // Calls queued on this thread outside the platform pump run before the thread sleeps.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, ctx->FReceiver,
                         [raw] { raw->RequestRun(); });
    ctx->FNotifier->setEnabled(true);
    ctx->FAlive = true;
    if (app->thread() == QThread::currentThread())
        qAddPostRoutine(TearDownApplicationThread);
    held = ctx;
    return ctx;
}

Context::~Context()
{
    TearDown();
}

void Context::TearDown()
{
    QObject* receiver;
    QSocketNotifier* notifier;
    int ep, wake, round;
    std::unordered_map<std::uint64_t, std::shared_ptr<const Watcher>> watchers;
    std::deque<Posted> queue;
    {
        std::lock_guard lock(FLock);
        if (!FAlive)
            return;
        FAlive = false;
        receiver = FReceiver;
        notifier = FNotifier;
        ep = FEpoll;
        wake = FWake;
        round = FRoundTimer;
        FReceiver = nullptr;
        FNotifier = nullptr;
        FEpoll = -1;
        FWake = -1;
        FRoundTimer = -1;
        watchers.swap(FWatchers);
        queue.swap(FQueue);
        FQueued = 0;
    }
    delete notifier;
    delete receiver;   // Qt discards its pending event
    ::close(wake);
    ::close(round);
    ::close(ep);
    // The calls and watchers go last, outside the lock: what they hold may post or unwatch.
}

std::shared_ptr<Context> Context::Existing()
{
    auto& held = CurrentHolder.Ctx;
    return held && held->FAlive ? held : nullptr;
}

Context* Context::Here()
{
    Context* ctx = CurrentHolder.Ctx.get();
    return ctx && ctx->FAlive ? ctx : nullptr;
}

bool Context::Post(std::function<void()> call)
{
    Posted item;
    item.Call = std::move(call);
    return Post(std::move(item));
}

bool Context::Post(Posted item)
{
    bool foreign = !OnThisThread();
    std::lock_guard lock(FLock);
    if (!FAlive)
        return false;
    FQueue.push_back(std::move(item));
    FQueued = FQueue.size();
    if (foreign && !FWakeSignalled) {
        // Wakes the owner wherever it waits: in the event dispatcher (through the notifier
        // on the epoll descriptor) or on the epoll descriptor itself (WaitOwn).
        FWakeSignalled = true;
        std::uint64_t one = 1;
        (void)!::write(FWake, &one, sizeof one);
    }
    return true;
}

bool Context::HasQueued()
{
    // Without the lock: a call that another thread queues meanwhile also signals the
    // wake-up descriptor, so a wait that starts now ends at once.
    return FQueued.load(std::memory_order_relaxed) != 0;
}

void Context::RequestRun()
{
    std::lock_guard lock(FLock);
    if (!FAlive || FRunPosted || FQueue.empty())
        return;
    FRunPosted = true;
    QCoreApplication::postEvent(FReceiver, new QEvent(RunQueueEventType));
}

void Context::RunQueue()
{
    for (bool first = true;; first = false) {
        Posted item;
        {
            std::lock_guard lock(FLock);
            if (first)
                FRunPosted = false;
            if (!FAlive || FQueue.empty())
                return;
            item = std::move(FQueue.front());
            FQueue.pop_front();
            FQueued = FQueue.size();
        }
        try {
            Deliver(item);
        } catch (...) {
            platform::HandleException(nullptr);
        }
    }
}

std::uint64_t Context::AddWatch(int fd, std::uint32_t events, Watcher watcher)
{
    std::lock_guard lock(FLock);
    if (!FAlive)
        return 0;
    std::uint64_t key = ++FNextKey;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = key;
    if (epoll_ctl(FEpoll, EPOLL_CTL_ADD, fd, &ev) != 0)
        return 0;
    FWatchers.emplace(key, std::make_shared<const Watcher>(std::move(watcher)));
    return key;
}

bool Context::ModifyWatch(int fd, std::uint64_t key, std::uint32_t events)
{
    std::lock_guard lock(FLock);
    if (!FAlive)
        return false;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = key;
    return epoll_ctl(FEpoll, EPOLL_CTL_MOD, fd, &ev) == 0;
}

void Context::RemoveWatch(int fd, std::uint64_t key)
{
    std::lock_guard lock(FLock);
    if (!FAlive)
        return;
    epoll_ctl(FEpoll, EPOLL_CTL_DEL, fd, nullptr);
    FWatchers.erase(key);
}

bool Context::Dispatch(const epoll_event* events, int n)
{
    bool woken = false;
    for (int i = 0; i < n; ++i) {
        // epoll_event is packed: its fields are copied out rather than bound by reference.
        const std::uint64_t key = events[i].data.u64;
        const std::uint32_t what = events[i].events;
        std::shared_ptr<const Watcher> watcher;   // kept while it runs: another thread may unwatch
        {
            std::lock_guard lock(FLock);
            if (!FAlive)
                return woken;
            if (key == RoundKey) {
                FRoundDue = 0;
                continue;
            }
            if (key == WakeKey) {
                std::uint64_t count;
                (void)!::read(FWake, &count, sizeof count);
                FWakeSignalled = false;
                woken = true;
                continue;
            }
            auto it = FWatchers.find(key);
            if (it == FWatchers.end())
                continue;
            watcher = it->second;
        }
        (*watcher)(what);
    }
    return woken;
}

void Context::Drain()
{
    epoll_event events[MaxEvents];
    for (;;) {
        if (!FAlive)
            return;
        int n = epoll_wait(FEpoll, events, MaxEvents, 0);
        if (n > 0 && Dispatch(events, n))
            RequestRun();   // calls from other threads: run them from the event loop too
        if (n < MaxEvents)
            return;
    }
}

void Context::NoteRound()
{
    const std::int64_t now = NowNs();
    if (FRoundDue > now)
        return;   // the next round falls due soon enough already
    FRoundDue = now + RoundEveryNs;
    itimerspec due{};
    due.it_value.tv_sec = static_cast<time_t>(FRoundDue / 1000000000);
    due.it_value.tv_nsec = static_cast<long>(FRoundDue % 1000000000);
    if (timerfd_settime(FRoundTimer, TFD_TIMER_ABSTIME, &due, nullptr) != 0)
        FRoundDue = 0;
}

bool Context::WaitOwn()
{
    // No time-out of its own: the round timer ends the wait when the round falls due (a
    // time-out would arm a timer for every single wait).
    if (!FAlive || FRoundDue <= NowNs())
        return false;
    epoll_event events[MaxEvents];
    int n = epoll_wait(FEpoll, events, MaxEvents, -1);
    if (n <= 0)
        return false;
    Dispatch(events, n);
    // Only the round timer: nothing was handled, the round is due.
    return !(n == 1 && events[0].data.u64 == RoundKey);
}

} // namespace platform::detail
