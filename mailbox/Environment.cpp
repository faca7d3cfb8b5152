#include "app/Environment.h"

#include <QGuiApplication>
#include <QScreen>

#include "runtime/SysUtils.h"

namespace {
std::string gFolder;
std::optional<TScreenSize> gScreen;
}

std::string AppFolder() { return gFolder.empty() ? ExtractFilePath(ExeName()) : gFolder; }

void SetAppFolder(std::string folder)
{
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    gFolder = std::move(folder);
}

std::string AccountFileName() { return AppFolder() + "Account.lst"; }

std::string TrustFileName() { return AppFolder() + "Trusted.lst"; }

std::string SettingsFileName() { return AppFolder() + ExtractFileName(ChangeFileExt(ExeName(), ".ini")); }

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
