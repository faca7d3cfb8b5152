#pragma once
// The main window's geometry in the settings file (section named after the window):
// FormTop, FormLeft, FormWidth, FormHeight, Panel1Height, ListView1ColumnWidth<i>,
// ListView2ColumnWidth<i>; decimal integers.
//
// Reading takes the keys in that order and lets each missing or non-integer value fall back
// to what the settings hold at that moment, except the top and left edges, which fall back
// to the centre of the screen for the size at that moment (before a stored size is applied).
// Writing raises what TIniFile raises.

#include <string>
#include <vector>

class TIniFile;

struct TWindowSettings {
    int Top = 0;
    int Left = 0;
    int Width = 0;
    int Height = 0;
    int Panel1Height = 0;
    std::vector<int> ListView1Columns;
    std::vector<int> ListView2Columns;
};

void ReadWindowSettings(const TIniFile& ini, const std::string& section, int screenWidth, int screenHeight,
                        TWindowSettings& settings);
void WriteWindowSettings(TIniFile& ini, const std::string& section, const TWindowSettings& settings);
