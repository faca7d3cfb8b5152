// The settings file: defaults on a first start, centring, partial files, and when it is written.
#include <gtest/gtest.h>

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

TEST_F(SettingsTest, FilesLieBesideTheExecutableUnlessTheFolderIsSet)
{
    EXPECT_EQ(AccountFileName(), Path("Account.lst"));
    EXPECT_EQ(SettingsFileName(), Path("test_app.ini"));
    SetAppFolder("");
    EXPECT_EQ(AppFolder(), ExtractFilePath(ExeName()));
    EXPECT_EQ(AccountFileName(), ExtractFilePath(ExeName()) + "Account.lst");
    EXPECT_EQ(SettingsFileName(), ChangeFileExt(ExeName(), ".ini"));
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

TEST_F(SettingsTest, TheWindowStartsCentredAndSavesItsGeometryAtTheEnd)
{
    {
        TMain w;
        ExpectGeometry(w, 277, 213, 469, 342);
        EXPECT_EQ(w.Panel1Height(), 74);
        EXPECT_EQ(w.Panel1->height(), 74);
        w.resize(500, 400);
        w.move(10, 20);
        w.SetPanel1Height(100);
        w.Lv2->setColumnWidth(1, 150);
    }
    EXPECT_EQ(ReadFile(IniName()),
              "[Main]\r\nFormTop=20\r\nFormLeft=10\r\nFormWidth=500\r\nFormHeight=400\r\nPanel1Height=100\r\n"
              "ListView1ColumnWidth0=190\r\nListView1ColumnWidth1=162\r\n"
              // The columns were wider than the list already: the subject kept its width.
              "ListView2ColumnWidth0=241\r\nListView2ColumnWidth1=150\r\nListView2ColumnWidth2=60\r\n"
              "ListView2ColumnWidth3=118\r\n");
    TMain again;
    ExpectGeometry(again, 10, 20, 500, 400);
    EXPECT_EQ(again.Panel1->height(), 100);
    EXPECT_EQ(again.Lv2->columnWidth(1), 150);
}

TEST_F(SettingsTest, OnlyWidthAndHeightStoredCentresTheDesignSize)
{
    WriteFile(IniName(), "[Main]\r\nFormWidth=600\r\nFormHeight=500\r\n");
    TMain w;
    ExpectGeometry(w, 277, 213, 600, 500);
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
