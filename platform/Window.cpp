#include "platform/Window.h"

#include "platform/ThreadContext.h"

#include <QCoreApplication>

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdio>
#include <map>

namespace platform {

namespace {

using detail::Context;
using detail::NowNs;

// One window timer: a one-shot timerfd watched on the window's thread, armed for the next
// deadline. The countdown lives here: setting the timer again (a time-out restarted around
// every wait) only moves `Deadline`; the descriptor is re-armed when it expires early, or
// when the new deadline is sooner. `Generation` changes with every set and kill, so that a
// tick queued for an earlier setting is recognised as stale.
struct TimerRec {
    int Fd = -1;
    std::uint64_t Key = 0;
    std::uint64_t Generation = 0;
    bool Armed = false;
    bool TickQueued = false;     // like the window system, at most one tick waits at a time
    std::int64_t PeriodNs = 0;
    std::int64_t Deadline = 0;   // CLOCK_MONOTONIC, nanoseconds
    bool KernelArmed = false;
    std::int64_t KernelDeadline = 0;
};

struct WindowRec {
    WindowProc Proc;
    std::shared_ptr<Context> Ctx;
    std::map<WPARAM, TimerRec> Timers;
};

struct Registry {
    std::mutex Lock;
    std::unordered_map<WindowHandle, std::shared_ptr<WindowRec>> Windows;
    WindowHandle Next = 0;
    ExceptionHandler Handler;
};

// Never destroyed: look-up threads may still post while the process exits.
Registry& Reg()
{
    static Registry* r = new Registry;
    return *r;
}

// The timer `id` of the window, or null; the caller holds the registry's lock.
TimerRec* FindTimer(Registry& r, WindowHandle window, WPARAM id)
{
    auto it = r.Windows.find(window);
    if (it == r.Windows.end())
        return nullptr;
    auto t = it->second->Timers.find(id);
    return t == it->second->Timers.end() ? nullptr : &t->second;
}

std::shared_ptr<WindowRec> Find(WindowHandle window)
{
    auto& r = Reg();
    std::lock_guard lock(r.Lock);
    auto it = r.Windows.find(window);
    return it == r.Windows.end() ? nullptr : it->second;
}

void ArmKernel(TimerRec& t, std::int64_t deadline)
{
    itimerspec due{};
    due.it_value.tv_sec = static_cast<time_t>(deadline / 1000000000);
    due.it_value.tv_nsec = static_cast<long>(deadline % 1000000000);
    timerfd_settime(t.Fd, TFD_TIMER_ABSTIME, &due, nullptr);
    t.KernelArmed = true;
    t.KernelDeadline = deadline;
}

void OnTimerReady(WindowHandle window, WPARAM id)
{
    std::uint64_t generation;
    {
        auto& r = Reg();
        std::lock_guard lock(r.Lock);
        TimerRec* found = FindTimer(r, window, id);
        if (!found)
            return;
        TimerRec& t = *found;
        std::uint64_t expirations;
        if (::read(t.Fd, &expirations, sizeof expirations) != sizeof expirations)
            return;
        t.KernelArmed = false;
        if (!t.Armed)
            return;   // killed: the descriptor stays quiet until the next SetTimer
        std::int64_t now = NowNs();
        if (now < t.Deadline) {
            ArmKernel(t, t.Deadline);   // the countdown was restarted meanwhile
            return;
        }
        t.Deadline += t.PeriodNs;
        if (t.Deadline <= now)
            t.Deadline = now + t.PeriodNs;
        ArmKernel(t, t.Deadline);
        if (t.TickQueued)
            return;
        t.TickQueued = true;
        generation = t.Generation;
    }
    detail::Posted tick;
    tick.Window = window;
    tick.Msg = WM_TIMER;
    tick.WParam = id;
    tick.Tag = generation;
    tick.Guard = [](const detail::Posted& p) {
        auto& r = Reg();
        std::lock_guard lock(r.Lock);
        TimerRec* t = FindTimer(r, p.Window, p.WParam);
        if (!t || t->Generation != p.Tag)
            return false;
        t->TickQueued = false;
        return t->Armed;
    };
    detail::PostWindowMessage(std::move(tick));
}

} // namespace

namespace detail {

std::shared_ptr<Context> WindowContext(WindowHandle window)
{
    auto rec = Find(window);
    return rec ? rec->Ctx : nullptr;
}

bool PostWindowMessage(Posted item)
{
    auto ctx = WindowContext(item.Window);
    if (!ctx)
        return false;
    return ctx->Post(std::move(item));
}

void Deliver(const Posted& item)
{
    if (item.Call && !item.Window) {
        item.Call();   // a call for the thread, bound to no window
        return;
    }
    std::shared_ptr<WindowRec> rec = Find(item.Window);
    if (!rec)
        return;
    try {
        if (item.Call) {
            item.Call();
            return;
        }
        if (item.Guard && !item.Guard(item))
            return;
        rec->Proc(item.Msg, item.WParam, item.LParam);
    } catch (...) {
        HandleException(nullptr);
    }
}

} // namespace detail

WindowHandle AllocateHWnd(WindowProc proc)
{
    auto ctx = Context::Current();
    if (!ctx)
        return 0;
    auto rec = std::make_shared<WindowRec>();
    rec->Proc = std::move(proc);
    rec->Ctx = std::move(ctx);
    auto& r = Reg();
    std::lock_guard lock(r.Lock);
    do {
        ++r.Next;
    } while (r.Next == 0 || r.Windows.count(r.Next));
    r.Windows.emplace(r.Next, std::move(rec));
    return r.Next;
}

void DeallocateHWnd(WindowHandle window)
{
    std::shared_ptr<WindowRec> rec;
    {
        auto& r = Reg();
        std::lock_guard lock(r.Lock);
        auto it = r.Windows.find(window);
        if (it == r.Windows.end())
            return;
        rec = std::move(it->second);
        r.Windows.erase(it);
        for (auto& [id, t] : rec->Timers) {
            rec->Ctx->RemoveWatch(t.Fd, t.Key);
            ::close(t.Fd);
        }
        rec->Timers.clear();
    }
    // `rec` may still be running its procedure further up the stack; it goes when that ends.
}

bool IsWindow(WindowHandle window)
{
    return Find(window) != nullptr;
}

bool IsWindowThread(WindowHandle window)
{
    auto ctx = detail::WindowContext(window);
    return ctx && ctx->OnThisThread();
}

LPARAM DefWindowProc(unsigned, WPARAM, LPARAM)
{
    return 0;
}

bool PostMessage(WindowHandle window, unsigned msg, WPARAM wParam, LPARAM lParam)
{
    detail::Posted item;
    item.Window = window;
    item.Msg = msg;
    item.WParam = wParam;
    item.LParam = lParam;
    return detail::PostWindowMessage(std::move(item));
}

bool PostCall(WindowHandle window, std::function<void()> call)
{
    detail::Posted item;
    item.Window = window;
    item.Call = std::move(call);
    return detail::PostWindowMessage(std::move(item));
}

bool SetTimer(WindowHandle window, WPARAM id, unsigned ms)
{
    auto& r = Reg();
    std::lock_guard lock(r.Lock);
    auto it = r.Windows.find(window);
    if (it == r.Windows.end())
        return false;
    WindowRec& rec = *it->second;
    auto [pos, fresh] = rec.Timers.try_emplace(id);
    TimerRec& t = pos->second;
    if (fresh) {
        t.Fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (t.Fd >= 0)
            t.Key = rec.Ctx->AddWatch(t.Fd, EPOLLIN, [window, id](std::uint32_t) { OnTimerReady(window, id); });
        if (t.Key == 0) {
            if (t.Fd >= 0)
                ::close(t.Fd);
            rec.Timers.erase(pos);
            return false;
        }
    }
    ++t.Generation;
    t.Armed = true;
    t.TickQueued = false;
    t.PeriodNs = static_cast<std::int64_t>(ms == 0 ? 10 : ms) * 1000000;
    t.Deadline = NowNs() + t.PeriodNs;
    if (!t.KernelArmed || t.KernelDeadline > t.Deadline)
        ArmKernel(t, t.Deadline);
    return true;
}

bool KillTimer(WindowHandle window, WPARAM id)
{
    auto& r = Reg();
    std::lock_guard lock(r.Lock);
    TimerRec* t = FindTimer(r, window, id);
    if (!t || !t->Armed)
        return false;
    // No system call: a killed timer's descriptor that still expires is ignored then.
    ++t->Generation;
    t->Armed = false;
    t->TickQueued = false;
    return true;
}

void ProcessMessages()
{
    if (!QCoreApplication::instance())
        return;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Messages posted while the notifiers ran are pending too: hand them over now.
    if (Context* ctx = Context::Here()) {
        ctx->NoteRound();
        ctx->RunQueue();
    }
}

void HandleMessage()
{
    if (!QCoreApplication::instance())
        return;
    Context* ctx = Context::Here();
    if (!ctx) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return;
    }
    // Something pending already, or an event of the thread's own while Qt's round is not
    // yet due: no round of the event dispatcher.
    if (ctx->HasQueued() || ctx->WaitOwn()) {
        ctx->RunQueue();
        return;
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ctx->NoteRound();
    ctx->RunQueue();
}

void SetExceptionHandler(ExceptionHandler handler)
{
    auto& r = Reg();
    std::lock_guard lock(r.Lock);
    r.Handler = std::move(handler);
}

void HandleException(TObject* sender)
{
    ExceptionHandler handler;
    {
        auto& r = Reg();
        std::lock_guard lock(r.Lock);
        handler = r.Handler;
    }
    try {
        try {
            throw;
        } catch (const std::exception& e) {
            if (handler)
                handler(&e, sender);
            else
                std::fprintf(stderr, "%s\n", e.what());
        } catch (...) {
            if (handler)
                handler(nullptr, sender);
            else
                std::fprintf(stderr, "unknown exception\n");
        }
    } catch (...) {
        // The handler itself failed; nothing further can report it.
    }
}

} // namespace platform
