#pragma once
// The private folders that hold the part files of a retrieval when no AttachFilePath is set.
//
// One folder per retrieval, made by mkdtemp (mode 0700, a name nobody can guess) as
// "parts-<pid>-XXXXXX" in the folder "purgel" of the user's runtime folder ($XDG_RUNTIME_DIR),
// else of the cache folder ($XDG_CACHE_HOME, else ~/.cache). "purgel" is made 0700 when
// missing and used only when it is a real folder of the user's that no one else may write.
// Whoever takes the files of a retrieval removes them and its folder (RemovePartFiles); the
// folders a crashed run left are removed at the next start (RemoveStalePartFolders).
// Nothing here raises.

#include <string>
#include <vector>

namespace partfolder {

// A new private folder, its path without the trailing "/"; "" when none could be made.
std::string Make();

// Removes the files (paths as the component lists them), then `folder` when it is not ""
// (a folder still holding anything else stays).
void RemovePartFiles(const std::vector<std::string>& files, const std::string& folder);

// Removes every folder of this program's name pattern that is older than this process and
// whose process has ended, with what it holds; returns how many went.
int RemoveStalePartFolders();

} // namespace partfolder
