#pragma once
// Application-wide look set by the forms: tooltip colour and timing, and "*" as the character
// that hides a password. Installed on the application at the first use, kept for its life.

#include <QColor>

// Colour of the tooltip background, delay before a tooltip shows and time it stays (ms).
void SetHintSettings(const QColor& color, int pauseMs, int hidePauseMs);
// Makes sure the application style is in place (password character); SetHintSettings does too.
void UseAppStyle();

int HintPause();
int HintHidePause();
