#pragma once
// Hidden message windows, window timers and the message pump, over QtCore's event dispatcher.
//
// A window is a handle bound to a window procedure. It belongs to the thread that made it
// (which must be the application's thread or a QThread, and a QCoreApplication or
// QApplication must exist); its messages and timer ticks are handled there, inside the
// pump. Posting is allowed from any thread. A message posted to a window that has been
// destroyed by the time it would be handled is dropped: the procedure (and the object it is
// bound to) is never called for it. Timers may be set and killed from any thread.
//
// The pump: ProcessMessages handles what is pending without blocking; HandleMessage blocks
// until the next event (a posted message, a socket notification, a timer tick, user input),
// handles it and returns. Both may be called nested inside a Qt event handler (a button
// handler of a QApplication) or under a plain QCoreApplication. Messages posted by the
// thread itself (socket notifications, timer ticks) are handed out by these two, or by any
// Qt event loop before it blocks (exec(), modal dialogs); code that waits should pump with
// these rather than with QCoreApplication::processEvents.
//
// Exceptions never cross the pump: one that leaves a window procedure goes to the
// application's exception handler (see SetExceptionHandler).

#include <cstdint>
#include <exception>
#include <functional>

class TObject;

namespace platform {

using WindowHandle = std::uint32_t;           // 0 = no window
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
// A window procedure: (message number, first parameter, second parameter) -> result.
using WindowProc = std::function<LPARAM(unsigned msg, WPARAM wParam, LPARAM lParam)>;

constexpr unsigned WM_NULL = 0;               // does nothing; used to wake a waiting pump
constexpr unsigned WM_ACTIVATEAPP = 28;
constexpr unsigned WM_TIMER = 275;            // wParam = timer identifier
constexpr unsigned WM_USER = 1024;

// The message record handed to the components' Wndproc handlers.
struct TMessage {
    unsigned Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LPARAM Result = 0;
};

inline std::uint16_t LoWord(LPARAM v) { return static_cast<std::uint16_t>(static_cast<std::uintptr_t>(v) & 0xFFFF); }
inline std::uint16_t HiWord(LPARAM v) { return static_cast<std::uint16_t>((static_cast<std::uintptr_t>(v) >> 16) & 0xFFFF); }
inline LPARAM MakeLong(std::uint16_t low, std::uint16_t high) { return static_cast<LPARAM>((static_cast<std::uint32_t>(high) << 16) | low); }

// Makes a hidden window on the calling thread; 0 when no application object exists.
WindowHandle AllocateHWnd(WindowProc proc);
// Destroys the window and its timers; messages still queued for it are dropped. Safe to
// call from inside its own procedure; unknown handles are ignored.
void DeallocateHWnd(WindowHandle window);
bool IsWindow(WindowHandle window);
// True when the calling thread is the one the window belongs to.
bool IsWindowThread(WindowHandle window);
// The default procedure: ignores the message, result 0.
LPARAM DefWindowProc(unsigned msg, WPARAM wParam, LPARAM lParam);

// Queues a message for the window; false when the window does not exist.
bool PostMessage(WindowHandle window, unsigned msg, WPARAM wParam, LPARAM lParam);
// Queues a call to run on the window's thread, in order with its messages; dropped (never
// run) when the window is destroyed before then. False when the window does not exist.
bool PostCall(WindowHandle window, std::function<void()> call);

// Sets (or restarts from zero) timer `id` of the window: WM_TIMER every `ms` milliseconds
// (0 counts as 10). A tick of an earlier setting that is still queued is dropped, so after
// SetTimer the first tick comes a full period later, and after KillTimer none comes.
// False when the window does not exist or no timer can be had.
bool SetTimer(WindowHandle window, WPARAM id, unsigned ms);
bool KillTimer(WindowHandle window, WPARAM id);

// Handles every pending event of the calling thread without waiting.
void ProcessMessages();
// Waits for the next event of the calling thread (blocking, no CPU used while idle),
// handles what is then pending and returns. For speed it waits on the thread's own
// messages, timers and sockets alone while the last full round of the event dispatcher is
// less than 4 ms ago; Qt's own events (user input, Qt timers, events posted through Qt)
// are handled by the next full round, so they wait at most that long.
void HandleMessage();

// The application's exception handler, given every exception that leaves a window
// procedure or a posted call. The default writes the message to standard error; a GUI
// sets one that shows a message box. `sender` may be null.
using ExceptionHandler = std::function<void(const std::exception* e, TObject* sender)>;
void SetExceptionHandler(ExceptionHandler handler);
// Hands the exception being handled (call inside a catch block) to the handler.
void HandleException(TObject* sender);

} // namespace platform
