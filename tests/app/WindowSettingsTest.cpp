// The settings file: defaults on a first start, centring, partial files, and when it is written.
#include <gtest/gtest.h>
#include <QHeaderView>
#include <sys/stat.h>

#include "app/files/WindowSettings.h"
#include "app/mailboxview/MessageView.h"
#include "app/main/ListView.h"
#include "app/main/MainWindow.h"
#include "mailbox/Environment.h"
#include "runtime/IniFile.h"
#include "runtime/SysUtils.h"
#include "tests/app/TestSupport.h"

namespace {
TWindowSettings Design() { return {0, 0, 469, 342, 74, {190, 162}, {241, 140, 60}}; }

class SettingsTest : public AppTest {
protected:
    TWindowSettings Read(int screenWidth, int screenHeight)
    {
        TIniFile ini(Path("purgel.ini"));
        TWindowSettings s = Design();
        ReadWindowSettings(ini, "Main", screenWidth, screenHeight, s);
        return s;
    }
    // The settings file the window itself uses (named after the running executable).
    std::string IniName() const { return SettingsFileName().substr(AppFolder().size()); }
};

void ExpectGeometry(const TMain& w, int left, int top, int width, int height)
{
    EXPECT_EQ(w.x(), left);
    EXPECT_EQ(w.y(), top);
    EXPECT_EQ(w.width(), width);
    EXPECT_EQ(w.height(), height);
}
}

// Beside the executable when an "Account.lst" lies there, else the user's XDG folders; a
// relative XDG path counts as unset, and without a home everything stays beside the executable.
TEST_F(SettingsTest, TheFoldersOfARun)
{
    using enum TFolderPlace;
    struct Row {
        bool Beside;
        const char *ConfigHome, *CacheHome, *Home;
        TFolders Expected;
    };
    const Row rows[] = {
        {true, "/x/conf", "/x/cache", "/home/u", {BesideExecutable, "/opt/p/", "/opt/p/cache/"}},
        {false, "/x/conf/", "/x/cache", "/home/u", {UserConfig, "/x/conf/purgel/", "/x/cache/purgel/"}},
        {false, "", "", "/home/u", {UserConfig, "/home/u/.config/purgel/", "/home/u/.cache/purgel/"}},
        {false, "conf", "cache", "/home/u/", {UserConfig, "/home/u/.config/purgel/", "/home/u/.cache/purgel/"}},
        {false, "/x/conf", "", "", {UserConfig, "/x/conf/purgel/", "/x/conf/purgel/cache/"}},
        {false, "", "/x/cache", "", {BesideExecutable, "/opt/p/", "/opt/p/cache/"}},
    };
    for (const Row& r : rows) {
        const TFolders f = ChooseFolders("/opt/p", r.Beside, r.ConfigHome, r.CacheHome, r.Home);
        EXPECT_EQ(f.Place, r.Expected.Place) << r.ConfigHome << " " << r.Home;
        EXPECT_EQ(f.Config, r.Expected.Config) << r.ConfigHome << " " << r.Home;
        EXPECT_EQ(f.Cache, r.Expected.Cache) << r.CacheHome << " " << r.Home;
    }
    // A folder set by a test wins, with the settings file named after the executable.
    EXPECT_EQ(AccountFileName(), Path("Account.lst"));
    EXPECT_EQ(RulesFileName(), Path("Rules.lst"));
    EXPECT_EQ(SettingsFileName(), Path("test_app.ini"));
    EXPECT_EQ(CacheFolder(), Path("cache/"));
    // The user's folder and the parents made with it are theirs alone.
    for (const char* made : {"a/b/purgel/", "a/"}) {
        ASSERT_TRUE(MakeUserFolder(Path("a/b/purgel/")));
        struct stat st {};
        ASSERT_EQ(::stat(Path(made).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
    }
    WriteFile("file", "");
    EXPECT_FALSE(MakeUserFolder(Path("file/purgel/")));
}

TEST_F(SettingsTest, FirstStartCentresTheDesignSize)
{
    const TWindowSettings s = Read(1024, 768);
    EXPECT_EQ(s.Left, 277);
    EXPECT_EQ(s.Top, 213);
    EXPECT_EQ(s.Width, 469);
    EXPECT_EQ(s.Height, 342);
    EXPECT_EQ(s.Panel1Height, 74);
    EXPECT_EQ(s.ListView1Columns, (std::vector<int>{190, 162}));
    EXPECT_EQ(s.ListView2Columns, (std::vector<int>{241, 140, 60}));
}

TEST_F(SettingsTest, CentringOnASmallScreenTruncatesTowardZero)
{
    EXPECT_EQ(Read(1024, 301).Top, -20);  // (301 - 342) / 2, not -21
    EXPECT_EQ(Read(468, 768).Left, 0);    // (468 - 469) / 2
}

TEST_F(SettingsTest, AStoredSizeIsCentredAsIfItWereTheDesignSize)
{
    WriteFile("purgel.ini", "[Main]\r\nFormWidth=600\r\nFormHeight=500\r\n");
    const TWindowSettings s = Read(1024, 768);
    EXPECT_EQ(s.Width, 600);
    EXPECT_EQ(s.Height, 500);
    EXPECT_EQ(s.Left, 277);
    EXPECT_EQ(s.Top, 213);
}

TEST_F(SettingsTest, ValuesThatAreNoIntegersFallBack)
{
    WriteFile("purgel.ini", "[Main]\r\nFormTop=abc\r\nFormLeft=12\r\nPanel1Height=\r\nListView2ColumnWidth2=7x\r\n"
                            "ListView1ColumnWidth1=99\r\n[Other]\r\nFormWidth=1\r\n");
    const TWindowSettings s = Read(1024, 768);
    EXPECT_EQ(s.Top, 213);
    EXPECT_EQ(s.Left, 12);
    EXPECT_EQ(s.Width, 469);
    EXPECT_EQ(s.Panel1Height, 74);
    EXPECT_EQ(s.ListView1Columns, (std::vector<int>{190, 99}));
    EXPECT_EQ(s.ListView2Columns, (std::vector<int>{241, 140, 60}));
}

TEST_F(SettingsTest, WriteGivesEveryKeyInReadingOrder)
{
    TIniFile ini(Path("purgel.ini"));
    WriteWindowSettings(ini, "Main", {-20, 5, 500, 400, 90, {1, 2}, {3, 4, 5}});
    EXPECT_EQ(ReadFile("purgel.ini"),
              "[Main]\r\nFormTop=-20\r\nFormLeft=5\r\nFormWidth=500\r\nFormHeight=400\r\nPanel1Height=90\r\n"
              "ListView1ColumnWidth0=1\r\nListView1ColumnWidth1=2\r\n"
              "ListView2ColumnWidth0=3\r\nListView2ColumnWidth1=4\r\nListView2ColumnWidth2=5\r\n");
}

// A first start opens centred at a size that shows about 20 rows of messages.
TEST_F(SettingsTest, TheWindowStartsCentredAndSavesItsGeometryAtTheEnd)
{
    int subject = 0;
    {
        TMain w;
        ExpectGeometry(w, (1024 - w.width()) / 2, (768 - w.height()) / 2, w.width(), w.height());
        const int rows = (w.Lv2->viewport()->height()) / w.Lv2->verticalHeader()->defaultSectionSize();
        EXPECT_GE(rows, 19);
        EXPECT_LE(rows, 21);
        EXPECT_EQ(w.Panel1Height(), 74);
        EXPECT_EQ(w.Panel1->height(), 74);
        w.show();
        w.resize(500, 400);
        w.move(10, 20);
        w.SetPanel1Height(100);
        w.Lv2->setColumnWidth(1, 150);
        subject = w.Lv2->columnWidth(0);
    }
    EXPECT_EQ(ReadFile(IniName()),
              "[Main]\r\nFormTop=20\r\nFormLeft=10\r\nFormWidth=500\r\nFormHeight=400\r\nPanel1Height=100\r\n"
              "ListView1ColumnWidth0=190\r\nListView1ColumnWidth1=162\r\n"
              "ListView2ColumnWidth0=" + std::to_string(subject) +
              "\r\nListView2ColumnWidth1=150\r\nListView2ColumnWidth2=60\r\nListView2ColumnWidth3=118\r\n");
    TMain again;
    ExpectGeometry(again, 10, 20, 500, 400);
    EXPECT_EQ(again.Panel1->height(), 100);
    EXPECT_EQ(again.Lv2->columnWidth(1), 150);
}

TEST_F(SettingsTest, OnlyWidthAndHeightStoredCentresTheFirstStartSize)
{
    const QSize first = TMain().size();
    WriteFile(IniName(), "[Main]\r\nFormWidth=600\r\nFormHeight=500\r\n");
    TMain w;
    ExpectGeometry(w, (1024 - first.width()) / 2, (768 - first.height()) / 2, 600, 500);
}

TEST_F(SettingsTest, MaximisedOrMinimisedWindowsWriteNothing)
{
    for (Qt::WindowState state : {Qt::WindowMaximized, Qt::WindowMinimized}) {
        WriteFile(IniName(), "[Main]\r\nFormWidth=600\r\n");
        {
            TMain w;
            w.setWindowState(state);
        }
        EXPECT_EQ(ReadFile(IniName()), "[Main]\r\nFormWidth=600\r\n") << state;
    }
}
