#include "platform/ThreadContext.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <sys/epoll.h>
#include <unistd.h>

namespace platform::detail {

namespace {

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
    if (held) {
        std::lock_guard lock(held->FLock);
        if (held->FAlive)
            return held;
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return nullptr;
    int ep = epoll_create1(EPOLL_CLOEXEC);
    if (ep < 0)
        return nullptr;
    std::shared_ptr<Context> ctx(new Context);
    ctx->FThread = std::this_thread::get_id();
    ctx->FEpoll = ep;
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
    int ep;
    {
        std::lock_guard lock(FLock);
        if (!FAlive)
            return;
        FAlive = false;
        receiver = FReceiver;
        notifier = FNotifier;
        ep = FEpoll;
        FReceiver = nullptr;
        FNotifier = nullptr;
        FEpoll = -1;
        FWatchers.clear();
        FQueue.clear();
    }
    delete notifier;
    delete receiver;   // Qt discards its pending event
    ::close(ep);
}

std::shared_ptr<Context> Context::Existing()
{
    auto& held = CurrentHolder.Ctx;
    if (!held)
        return nullptr;
    std::lock_guard lock(held->FLock);
    return held->FAlive ? held : nullptr;
}

bool Context::Post(std::function<void()> call)
{
    bool foreign = !OnThisThread();
    std::lock_guard lock(FLock);
    if (!FAlive)
        return false;
    FQueue.push_back(std::move(call));
    if (foreign && !FRunPosted) {
        FRunPosted = true;
        QCoreApplication::postEvent(FReceiver, new QEvent(RunQueueEventType));
    }
    return true;
}

bool Context::HasQueued()
{
    std::lock_guard lock(FLock);
    return !FQueue.empty();
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
    {
        std::lock_guard lock(FLock);
        FRunPosted = false;
    }
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(FLock);
            if (!FAlive || FQueue.empty())
                return;
            call = std::move(FQueue.front());
            FQueue.pop_front();
        }
        try {
            call();
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
    FWatchers.emplace(key, std::move(watcher));
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

void Context::Drain()
{
    epoll_event events[64];
    for (;;) {
        int ep;
        {
            std::lock_guard lock(FLock);
            if (!FAlive)
                return;
            ep = FEpoll;
        }
        int n = epoll_wait(ep, events, 64, 0);
        for (int i = 0; i < n; ++i) {
            Watcher watcher;
            // epoll_event is packed: its key is copied out rather than bound by reference.
            const std::uint64_t key = events[i].data.u64;
            {
                std::lock_guard lock(FLock);
                auto it = FWatchers.find(key);
                if (it == FWatchers.end())
                    continue;
                watcher = it->second;
            }
            watcher(events[i].events);
        }
        if (n < 64)
            return;
    }
}

} // namespace platform::detail
