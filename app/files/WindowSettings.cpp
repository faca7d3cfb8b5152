#include "app/files/WindowSettings.h"

#include "runtime/IniFile.h"
#include "runtime/SysUtils.h"

namespace {
std::string ColumnKey(const char* prefix, size_t index) { return prefix + IntToStr(static_cast<long long>(index)); }
}

void ReadWindowSettings(const TIniFile& ini, const std::string& section, int screenWidth, int screenHeight,
                        TWindowSettings& s)
{
    // Integer division truncates toward zero: a screen smaller than the window gives -20, not -21.
    s.Top = ini.ReadInteger(section, "FormTop", (screenHeight - s.Height) / 2);
    s.Left = ini.ReadInteger(section, "FormLeft", (screenWidth - s.Width) / 2);
    s.Width = ini.ReadInteger(section, "FormWidth", s.Width);
    s.Height = ini.ReadInteger(section, "FormHeight", s.Height);
    s.Panel1Height = ini.ReadInteger(section, "Panel1Height", s.Panel1Height);
    for (size_t i = 0; i < s.ListView1Columns.size(); ++i)
        s.ListView1Columns[i] = ini.ReadInteger(section, ColumnKey("ListView1ColumnWidth", i), s.ListView1Columns[i]);
    for (size_t i = 0; i < s.ListView2Columns.size(); ++i)
        s.ListView2Columns[i] = ini.ReadInteger(section, ColumnKey("ListView2ColumnWidth", i), s.ListView2Columns[i]);
}

void WriteWindowSettings(TIniFile& ini, const std::string& section, const TWindowSettings& s)
{
    ini.WriteInteger(section, "FormTop", s.Top);
    ini.WriteInteger(section, "FormLeft", s.Left);
    ini.WriteInteger(section, "FormWidth", s.Width);
    ini.WriteInteger(section, "FormHeight", s.Height);
    ini.WriteInteger(section, "Panel1Height", s.Panel1Height);
    for (size_t i = 0; i < s.ListView1Columns.size(); ++i)
        ini.WriteInteger(section, ColumnKey("ListView1ColumnWidth", i), s.ListView1Columns[i]);
    for (size_t i = 0; i < s.ListView2Columns.size(); ++i)
        ini.WriteInteger(section, ColumnKey("ListView2ColumnWidth", i), s.ListView2Columns[i]);
}
