#include "mailbox/Environment.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/SysUtils.h"

namespace {
std::string gFolder;
std::optional<TFolders> gChoice;

std::string WithSlash(std::string folder)
{
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

// An XDG base folder counts only as an absolute path; a relative one is ignored.
std::string BaseFolder(const std::string& xdg, const std::string& home, const char* fallback)
{
    if (!xdg.empty() && xdg.front() == '/')
        return WithSlash(xdg);
    return home.empty() ? std::string() : WithSlash(home) + fallback;
}

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string HomeFolder()
{
    std::string home = Variable("HOME");
    if (home.empty())
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
            home = pw->pw_dir;
    return home;
}

const TFolders& RunFolders()
{
    if (!gChoice) {
        const std::string exeFolder = ExtractFilePath(ExeName());
        gChoice = ChooseFolders(exeFolder, FileExists(exeFolder + "Account.lst"), Variable("XDG_CONFIG_HOME"),
                                Variable("XDG_CACHE_HOME"), HomeFolder());
    }
    return *gChoice;
}
}

TFolders ChooseFolders(const std::string& exeFolder, bool accountsBesideExe, const std::string& configHome,
                       const std::string& cacheHome, const std::string& home)
{
    const std::string beside = WithSlash(exeFolder);
    const std::string config = BaseFolder(configHome, home, ".config/");
    if (accountsBesideExe || config.empty())
        return {TFolderPlace::BesideExecutable, beside, beside + "cache/"};
    const std::string cache = BaseFolder(cacheHome, home, ".cache/");
    return {TFolderPlace::UserConfig, config + "purgel/", cache.empty() ? config + "purgel/cache/" : cache + "purgel/"};
}

std::string AppFolder() { return gFolder.empty() ? RunFolders().Config : gFolder; }

void SetAppFolder(std::string folder) { gFolder = WithSlash(std::move(folder)); }

TFolderPlace AppFolderPlace() { return gFolder.empty() ? RunFolders().Place : TFolderPlace::BesideExecutable; }

std::string CacheFolder() { return gFolder.empty() ? RunFolders().Cache : gFolder + "cache/"; }

bool MakeUserFolder(const std::string& folder)
{
    // Part by part, so that the parents made here are private too.
    size_t end = 0;
    do {
        end = folder.find('/', end + 1);
        const std::string part = folder.substr(0, end);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    } while (end != std::string::npos);
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string AccountFileName() { return AppFolder() + "Account.lst"; }

std::string TrustFileName() { return AppFolder() + "Trusted.lst"; }

std::string RulesFileName() { return AppFolder() + "Rules.lst"; }

std::string LastLookFileName() { return AppFolder() + "LastLook.lst"; }

std::string SettingsFileName()
{
    if (AppFolderPlace() == TFolderPlace::UserConfig)
        return AppFolder() + "purgel.ini";
    return AppFolder() + ExtractFileName(ChangeFileExt(ExeName(), ".ini"));
}
