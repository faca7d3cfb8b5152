#pragma once
// Where the program keeps its files.
//
// The files live beside the executable: "Account.lst" and the executable's name with the
// extension ".ini". Tests point the folder elsewhere; the program never does.

#include <string>

// The folder with its trailing "/".
std::string AppFolder();
// An empty folder returns to the executable's folder.
void SetAppFolder(std::string folder);

std::string AccountFileName();
// The certificates the user chose to trust ("Trusted.lst", beside "Account.lst").
std::string TrustFileName();
std::string SettingsFileName();
