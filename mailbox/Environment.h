#pragma once
// Where the program keeps its files and how large the screen is.
//
// The files live beside the executable: "Account.lst" and the executable's name with the
// extension ".ini". Tests point the folder and the screen size elsewhere; the program never does.

#include <optional>
#include <string>

// The folder with its trailing "/".
std::string AppFolder();
// An empty folder returns to the executable's folder.
void SetAppFolder(std::string folder);

std::string AccountFileName();
// The certificates the user chose to trust ("Trusted.lst", beside "Account.lst").
std::string TrustFileName();
std::string SettingsFileName();

struct TScreenSize {
    int Width = 0;
    int Height = 0;
};
// The primary screen's size in pixels (needs a QGuiApplication unless overridden).
TScreenSize ScreenSize();
void SetScreenSize(std::optional<TScreenSize> size);
