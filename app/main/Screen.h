#pragma once
// How large the screen is, for the window's first placement. Tests set the size; the program
// never does.

#include <optional>

struct TScreenSize {
    int Width = 0;
    int Height = 0;
};
// The primary screen's size in pixels (needs a QGuiApplication unless overridden).
TScreenSize ScreenSize();
void SetScreenSize(std::optional<TScreenSize> size);
