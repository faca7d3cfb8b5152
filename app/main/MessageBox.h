#pragma once
// The program's message boxes, and the display of an exception that no handler caught.
//
// Every box goes through MessageBox(), so that a test can answer it in the user's place.
// Guarded() is the boundary of every handler that Qt calls: an exception never unwinds into
// Qt's event loop; it is shown like the message loop shows it and the program carries on.

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

// Program: the application's own icon (the About box).
enum class TMsgIcon { None, Exclamation, Question, Stop, Program };
enum class TMsgButtons { OK, YesNo };
// The answers, numbered like the window system's (IDOK, IDYES, IDNO).
enum TMsgResult { mrOK = 1, mrYes = 6, mrNo = 7 };

struct TMessageBoxRequest {
    std::string Text;     // Shift-JIS
    std::string Caption;  // Shift-JIS
    TMsgIcon Icon = TMsgIcon::None;
    TMsgButtons Buttons = TMsgButtons::OK;
    int DefaultButton = 0;  // index among the buttons: 0 the first (OK, Yes), 1 the second (No)
};

// Shows a modal box over the active window and returns the answer. Closing a Yes/No box
// without choosing answers No.
int MessageBox(const std::string& text, const std::string& caption, TMsgIcon icon, TMsgButtons buttons,
               int defaultButton = 0);

// While a hook is set it answers every box and no window is shown; an empty hook restores the boxes.
using TMessageBoxHook = std::function<int(const TMessageBoxRequest&)>;
void SetMessageBoxHook(TMessageBoxHook hook);

// The application's standard exception display: the text in a box titled with the
// application's name, stop icon, OK button.
void ShowException(const std::exception& e) noexcept;

template <class F>
void Guarded(F&& handler) noexcept
{
    try {
        handler();
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(std::runtime_error("Unknown exception"));
    }
}
