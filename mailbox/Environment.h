#pragma once
// Where the program keeps its files.
//
// The user's files ("Account.lst", "Trusted.lst", "Rules.lst", "LastLook.lst" and the
// settings file) live in one folder, chosen once per run (ChooseFolders):
//  - beside the executable, when an "Account.lst" already lies there: the layout of a build
//    run from its folder and of `make run`'s demo, so that nothing stored there is lost; the
//    settings file is then named after the executable, with the extension ".ini";
//  - else in $XDG_CONFIG_HOME/purgel/ (~/.config/purgel/ when that is unset or not an
//    absolute path), with the settings file "purgel.ini".
// The header cache goes to $XDG_CACHE_HOME/purgel/ (~/.cache/purgel/), or to "cache/" inside
// the folder beside the executable. Without any home folder everything stays beside the
// executable. Tests point the folder elsewhere; the program never does.

#include <string>

enum class TFolderPlace { BesideExecutable, UserConfig };

// The folders of a run, each with its trailing "/".
struct TFolders {
    TFolderPlace Place = TFolderPlace::BesideExecutable;
    std::string Config;   // the user's files
    std::string Cache;    // what can be fetched again (the header cache)
};
// The choice itself, from the executable's folder, whether an "Account.lst" lies there, and
// the environment's XDG_CONFIG_HOME, XDG_CACHE_HOME and HOME ("" when unset).
TFolders ChooseFolders(const std::string& exeFolder, bool accountsBesideExe, const std::string& configHome,
                       const std::string& cacheHome, const std::string& home);

// The folder of the user's files with its trailing "/": the one SetAppFolder gave, else the
// run's choice (made at the first call).
std::string AppFolder();
// An empty folder returns to the run's choice. The cache is then "cache/" inside `folder`.
void SetAppFolder(std::string folder);
TFolderPlace AppFolderPlace();
// The folder of the header cache, with its trailing "/" (not created here).
std::string CacheFolder();
// Creates a folder and its missing parents, each readable by the user only (0700); an
// existing one is left as it is. False when it cannot be made.
bool MakeUserFolder(const std::string& folder);

std::string AccountFileName();
// The certificates the user chose to trust ("Trusted.lst", beside "Account.lst").
std::string TrustFileName();
// The rules that check messages ("Rules.lst", beside "Account.lst").
std::string RulesFileName();
// What each mailbox held at its last look ("LastLook.lst", beside "Account.lst").
std::string LastLookFileName();
std::string SettingsFileName();
