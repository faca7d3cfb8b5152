#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "runtime/Exception.h"
#include "runtime/IniFile.h"
#include "runtime/Stream.h"
#include "tests/support/Files.h"

namespace {

using testsupport::ReadFile;

struct TempDir : testsupport::TempFolder {
    TempDir() : TempFolder("purgel-rt") {}
    std::string operator/(const char* name) const { return (Path() / name).string(); }
};

}

TEST(Streams, MemoryStreamReadsWritesAndSeeks)
{
    TMemoryStream m;
    m.WriteBuffer("abcdef", 6);
    EXPECT_EQ(m.Size(), 6);
    m.SetPosition(4);
    char buf[8] = {};
    EXPECT_EQ(m.Read(buf, 8), 2); // only what is there
    EXPECT_EQ(std::string(buf, 2), "ef");
    m.SetPosition(2);
    m.WriteBuffer("XYZW", 4); // overwrites and grows
    EXPECT_EQ(m.DataString(), "abXYZW");
    m.SetPosition(6);
    EXPECT_THROW(m.ReadBuffer(buf, 1), EReadError);
}

TEST(Streams, FileStreamErrorsNameTheFile)
{
    TempDir dir;
    try {
        TFileStream f(dir / "missing", fmOpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_NE(e.Message.find("missing"), std::string::npos);
        EXPECT_EQ(e.Message.rfind("\x83t\x83@\x83" "C\x83\x8b ", 0), 0u); // "ファイル "
    }
    EXPECT_THROW(TFileStream(dir / "no/such/dir", fmCreate), EFCreateError);
    EXPECT_THROW(TFileStream(dir.Path().string(), fmOpenRead), EFOpenError); // a directory
}

TEST(Streams, FileStreamCreateTruncatesAndCopies)
{
    TempDir dir;
    {
        TFileStream f(dir / "a", fmCreate);
        f.WriteBuffer("hello world", 11);
    }
    {
        TFileStream f(dir / "a", fmCreate);
        f.WriteBuffer("hi", 2);
    }
    EXPECT_EQ(ReadFile(dir / "a"), "hi");
    TMemoryStream m;
    TFileStream in(dir / "a", fmOpenRead);
    EXPECT_EQ(m.CopyFrom(in, 0), 2);
    EXPECT_EQ(m.DataString(), "hi");
}

TEST(IniFiles, ReadsDefaultsAndWritesSections)
{
    TempDir dir;
    const std::string name = dir / "purgel.ini";
    {
        TIniFile ini(name);
        EXPECT_EQ(ini.ReadInteger("Main", "FormTop", -20), -20); // no file
        ini.WriteInteger("Main", "FormTop", 213);
        ini.WriteInteger("Main", "FormLeft", 277);
    }
    EXPECT_EQ(ReadFile(name), "[Main]\r\nFormTop=213\r\nFormLeft=277\r\n");
    std::ofstream(name, std::ios::app) << "formwidth = abc\r\n[Other]\r\nFormTop=1\r\n";
    TIniFile ini(name);
    EXPECT_EQ(ini.ReadInteger("MAIN", "formtop", 0), 213);  // names without case
    EXPECT_EQ(ini.ReadInteger("Main", "FormWidth", 469), 469); // not an integer
    EXPECT_EQ(ini.ReadInteger("Other", "FormTop", 0), 1);
    EXPECT_FALSE(std::filesystem::exists(name + ".tmp"));
}

TEST(IniFiles, UnwritableFolderRaisesAndKeepsNothingBehind)
{
    TempDir dir;
    TIniFile ini(dir / "gone/purgel.ini");
    EXPECT_THROW(ini.WriteInteger("Main", "FormTop", 1), Exception);
}
