// The install rules, run into a temporary DESTDIR under /usr: the tree holds what the
// uninstall list names and the uninstall removes it all, the desktop entry and the AppStream
// metadata (found by the program's own desktop id) pass their validators, the installed
// programs answer --version and --help without a display, and the manual pages format.

#include "app/main/Startup.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(Shell(Env + "'" PURGEL_CMAKE "' --install " PURGEL_BINARY_DIR " --prefix /usr"), 0) << Output;
    }
    // Runs a shell command; its exit status, its output (and errors) in Output.
    int Shell(const std::string& command)
    {
        const int status = std::system((command + " >'" + (Folder.Path() / "output").string() + "' 2>&1").c_str());
        Output = testsupport::ReadFile(Folder.Path() / "output");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::set<std::string> Installed() const
    {
        std::set<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(Dest / "usr"))
            if (!entry.is_directory())
                files.insert(fs::relative(entry.path(), Dest / "usr").string());
        return files;
    }

    testsupport::TempFolder Folder{"purgel-install"};
    const fs::path Dest = Folder.Path() / "root";
    const std::string Env = "env DESTDIR='" + Dest.string() + "' ";
    const std::string Id = DesktopId;
    std::string Output;
};

}  // namespace

TEST_F(InstallTest, TheTreeIsWhatTheUninstallListNamesAndGoesWithIt)
{
    std::set<std::string> listed;
    std::istringstream list(testsupport::ReadFile(PURGEL_BINARY_DIR "/installed-files.txt"));
    for (std::string line; std::getline(list, line);)
        listed.insert(line);
    EXPECT_EQ(Installed(), listed);
    ASSERT_EQ(Shell(Env + "'" PURGEL_CMAKE "' -DPREFIX=/usr -DLIST=" PURGEL_BINARY_DIR "/installed-files.txt -P "
                    PURGEL_SOURCE_DIR "/desktop/Uninstall.cmake"),
              0)
        << Output;
    EXPECT_TRUE(Installed().empty());
}

TEST_F(InstallTest, TheDesktopEntryAndTheMetadataAreValid)
{
    if (Shell("command -v desktop-file-validate && command -v appstreamcli") != 0)
        GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) or appstreamcli (appstream) is not installed";
    const fs::path share = Dest / "usr/share";
    EXPECT_EQ(Shell("desktop-file-validate " + (share / "applications" / (Id + ".desktop")).string()), 0) << Output;
    EXPECT_EQ(Output, "");
    EXPECT_NE(testsupport::ReadFile(share / "applications" / (Id + ".desktop")).find("\nIcon=" + Id + "\n"),
              std::string::npos);
    EXPECT_EQ(Shell("appstreamcli validate --no-net " + (share / "metainfo" / (Id + ".metainfo.xml")).string()), 0)
        << Output;
}

TEST_F(InstallTest, TheProgramAnswersWithoutADisplay)
{
    const fs::path home = Folder.Path() / "home";
    const std::string run = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_CONFIG_HOME HOME='" +
                            home.string() + "' " + (Dest / "usr/bin/purgel").string();
    ASSERT_EQ(Shell(run + " --version"), 0) << Output;
    EXPECT_EQ(Output, "Purgel " PURGEL_VERSION "\n");
    ASSERT_EQ(Shell(run + " --help"), 0) << Output;
    // Installed, with no "Account.lst" beside it, it keeps the user's files in their own folder.
    EXPECT_NE(Output.find((home / ".config/purgel/").string()), std::string::npos) << Output;
    ASSERT_EQ(Shell(run + "-clean --version"), 0) << Output;
    EXPECT_EQ(Output, "purgel-clean " PURGEL_VERSION "\n");
    // Both manual pages format, the English one without a warning.
    if (Shell("command -v man") != 0)
        GTEST_SKIP() << "man (man-db) is not installed";
    for (const char* page : {"man1/purgel-clean.1", "ja/man1/purgel-clean.1"}) {
        EXPECT_EQ(Shell("LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l " + (Dest / "usr/share/man" / page).string()), 0);
        EXPECT_NE(Output.find("purgel-clean delete Provider"), std::string::npos) << Output;
        if (page[0] == 'm') {
            EXPECT_EQ(Output.find("warning"), std::string::npos) << Output;
        }
    }
}
