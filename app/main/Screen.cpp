#include "app/main/Screen.h"

#include <QGuiApplication>
#include <QScreen>

namespace {
std::optional<TScreenSize> gScreen;
}

TScreenSize ScreenSize()
{
    if (gScreen)
        return *gScreen;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    return {screen->size().width(), screen->size().height()};
}

void SetScreenSize(std::optional<TScreenSize> size) { gScreen = size; }
