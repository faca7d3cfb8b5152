#pragma once
// TThreadTimer: the time-out timer of the socket components, a window-system timer
// (identifier 1 on its own hidden window) ticking on the thread that made it. The timer
// owns its hidden window. It never waits; OnTimer runs inside the owning thread's message
// handling. Raises Exception "No Timer" when no window or timer can be had.

#include "platform/Window.h"
#include "runtime/Component.h"
#include "runtime/Exception.h"

#include <atomic>
#include <cstdint>

// A window-system timer (identifier 1 on its own hidden window) ticking on the thread that
// made it. Enabled/Interval may be changed from any thread.
class TThreadTimer : public TComponent {
public:
    explicit TThreadTimer(TComponent* AOwner);   // raises Exception "No Timer" without a window
    ~TThreadTimer() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    std::uint32_t Interval() const { return FInterval; }
    void SetInterval(std::uint32_t Value);
    const TNotifyEvent& OnTimer() const { return FOnTimer; }
    void SetOnTimer(TNotifyEvent Value);

    // Kills the timer, then sets it anew (a fresh countdown) when Interval is not 0, the timer
    // is enabled and has a handler. Raises Exception "No Timer" when that fails.
    void UpdateTimer();
    void Wndproc(platform::TMessage& Message);
    virtual void Timer();
    platform::WindowHandle Handle() const { return FWindowHandle; }

    static platform::WindowHandle TmrAllocateHWnd(TThreadTimer* Object);

private:
    std::atomic<bool> FEnabled{true};
    std::atomic<std::uint32_t> FInterval{1000};
    TNotifyEvent FOnTimer;
    platform::WindowHandle FWindowHandle = 0;
};
