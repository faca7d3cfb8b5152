// The install rules, run into a temporary DESTDIR under /usr: the tree holds what the
// uninstall list names and the uninstall removes it all, the desktop entry and the AppStream
// metadata pass their validators and name the program's own id, and the installed program
// answers --version and --help without a display.

#include "TestUtil.h"
#include "app/Startup.h"
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
        ASSERT_EQ(Shell("DESTDIR='" + Dest.string() + "' '" PURGEL_CMAKE "' --install '" PURGEL_BINARY_DIR
                        "' --prefix /usr"),
                  0)
            << Output;
    }
    // Runs a shell command; its exit status, its output (and errors) in Output.
    int Shell(const std::string& command)
    {
        const int status = std::system((command + " >'" + (Folder.Path() / "output").string() + "' 2>&1").c_str());
        Output = testsupport::ReadFile(Folder.Path() / "output");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool Have(const char* tool) { return Shell(std::string("command -v ") + tool) == 0; }
    std::set<std::string> Installed() const
    {
        std::set<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(Dest / "usr"))
            if (!entry.is_directory())
                files.insert(fs::relative(entry.path(), Dest / "usr").string());
        return files;
    }
    fs::path Shared(const std::string& path) const { return Dest / "usr/share" / path; }

    demotest::FreshFolder Folder{"purgel-install"};
    const fs::path Dest = Folder.Path() / "root";
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
    const std::string id = DesktopId;
    for (const std::string& needed : {std::string("bin/purgel"), "share/applications/" + id + ".desktop",
                                      "share/metainfo/" + id + ".metainfo.xml",
                                      "share/icons/hicolor/scalable/apps/" + id + ".svg",
                                      "share/icons/hicolor/48x48/apps/" + id + ".png"})
        EXPECT_EQ(listed.count(needed), 1u) << needed;
    EXPECT_NE(testsupport::ReadFile(Shared("applications/" + id + ".desktop")).find("\nIcon=" + id + "\n"),
              std::string::npos);

    ASSERT_EQ(Shell("DESTDIR='" + Dest.string() + "' '" PURGEL_CMAKE "' -DPREFIX=/usr -DLIST='" PURGEL_BINARY_DIR
                    "/installed-files.txt' -P '" PURGEL_SOURCE_DIR "/desktop/Uninstall.cmake'"),
              0)
        << Output;
    EXPECT_TRUE(Installed().empty());
}

TEST_F(InstallTest, TheDesktopEntryAndTheMetadataAreValid)
{
    const std::string id = DesktopId;
    if (!Have("desktop-file-validate") || !Have("appstreamcli"))
        GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) or appstreamcli (appstream) is not installed";
    EXPECT_EQ(Shell("desktop-file-validate '" + Shared("applications/" + id + ".desktop").string() + "'"), 0)
        << Output;
    EXPECT_EQ(Output, "");
    EXPECT_EQ(Shell("appstreamcli validate --no-net '" + Shared("metainfo/" + id + ".metainfo.xml").string() + "'"),
              0)
        << Output;
}

TEST_F(InstallTest, TheProgramAnswersWithoutADisplay)
{
    const fs::path home = Folder.Path() / "home";
    const std::string run = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_CONFIG_HOME HOME='" +
                            home.string() + "' '" + (Dest / "usr/bin/purgel").string();
    ASSERT_EQ(Shell(run + "' --version"), 0) << Output;
    EXPECT_EQ(Output, "Purgel " PURGEL_VERSION "\n");
    ASSERT_EQ(Shell(run + "' --help"), 0) << Output;
    EXPECT_NE(Output.find("--version"), std::string::npos) << Output;
    // Installed, with no "Account.lst" beside it, it keeps the user's files in their own folder.
    EXPECT_NE(Output.find((home / ".config/purgel/").string()), std::string::npos) << Output;
}
