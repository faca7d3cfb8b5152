#include "platform/ThreadContext.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <sys/epoll.h>
#include <unistd.h>

namespace platform::detail {

namespace {

const QEvent::Type CallEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class CallEvent : public QEvent {
public:
    explicit CallEvent(std::function<void()> call) : QEvent(CallEventType), Call(std::move(call)) {}
    std::function<void()> Call;
};

class Receiver : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() != CallEventType)
            return QObject::event(e);
        try {
            static_cast<CallEvent*>(e)->Call();
        } catch (...) {
            platform::HandleException(nullptr);
        }
        return true;
    }
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
    ctx->FReceiver = new Receiver;
    ctx->FNotifier = new QSocketNotifier(ep, QSocketNotifier::Read);
    Context* raw = ctx.get();
    QObject::connect(ctx->FNotifier, &QSocketNotifier::activated, ctx->FReceiver, [raw] { raw->Drain(); });
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
    }
    delete notifier;
    delete receiver;   // Qt discards the calls still queued for it
    ::close(ep);
}

bool Context::Post(std::function<void()> call)
{
    std::lock_guard lock(FLock);
    if (!FAlive)
        return false;
    QCoreApplication::postEvent(FReceiver, new CallEvent(std::move(call)));
    return true;
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
            {
                std::lock_guard lock(FLock);
                auto it = FWatchers.find(events[i].data.u64);
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
