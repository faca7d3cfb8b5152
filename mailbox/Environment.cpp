#include "mailbox/Environment.h"

#include "runtime/SysUtils.h"

namespace {
std::string gFolder;
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
