#include "net/ThreadTimer.h"

TThreadTimer::TThreadTimer(TComponent* AOwner) : TComponent(AOwner)
{
    FWindowHandle = TmrAllocateHWnd(this);
    if (!FWindowHandle)
        throw Exception("No Timer");
}

TThreadTimer::~TThreadTimer()
{
    FEnabled = false;
    try {
        UpdateTimer();
    } catch (...) {
    }
    platform::DeallocateHWnd(FWindowHandle);
}

platform::WindowHandle TThreadTimer::TmrAllocateHWnd(TThreadTimer* Object)
{
    return platform::AllocateHWnd([Object](unsigned msg, platform::WPARAM w, platform::LPARAM l) -> platform::LPARAM {
        if (!Object)
            return platform::DefWindowProc(msg, w, l);
        if (msg != platform::WM_ACTIVATEAPP) {
            platform::TMessage m{msg, w, l, 0};
            Object->Wndproc(m);
        }
        return 0;
    });
}

void TThreadTimer::SetEnabled(bool Value)
{
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(std::uint32_t Value)
{
    if (Value == FInterval)
        return;
    FInterval = Value;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent Value)
{
    FOnTimer = std::move(Value);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer()
{
    // Setting the timer kills the earlier setting too (a fresh countdown): one call does.
    if (FInterval != 0 && FEnabled && FOnTimer) {
        if (!platform::SetTimer(FWindowHandle, 1, FInterval))
            throw Exception("No Timer");
    } else {
        platform::KillTimer(FWindowHandle, 1);
    }
}

void TThreadTimer::Wndproc(platform::TMessage& Message)
{
    if (Message.Msg != platform::WM_TIMER)
        return;
    try {
        Timer();
    } catch (...) {
        platform::HandleException(this);
    }
}

void TThreadTimer::Timer()
{
    if (FOnTimer)
        FOnTimer(this);
}
