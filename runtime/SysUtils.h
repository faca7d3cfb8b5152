#pragma once
// Text, number and file helpers of the runtime. Texts are byte strings (Shift-JIS).

#include <cstdint>
#include <string>
#include <string_view>

std::string IntToStr(long long value);

// Optional leading blanks, an optional sign and decimal digits, within 32 bits, nothing after.
// StrToInt raises EConvertError "'%s' は整数ではありません" for anything else.
bool TryStrToInt(std::string_view text, int& value);
int StrToInt(std::string_view text);
int StrToIntDef(std::string_view text, int fallback);

// Bytes 0x00 to 0x20 removed at both ends (or one end).
std::string Trim(std::string_view text);
// The same as a view into text (no copy).
std::string_view TrimView(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// ASCII letters only: the bytes of Shift-JIS double-byte characters are left alone.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

// The Shift-JIS lead-byte test (code page 932).
inline bool IsSjisLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Case-insensitive comparison of Shift-JIS texts: ASCII letters compare without case,
// double-byte characters by their bytes. Negative, zero or positive like strcmp.
int AnsiCompareText(std::string_view a, std::string_view b);
bool AnsiSameText(std::string_view a, std::string_view b);

// File names. Paths use "/"; ExtractFilePath keeps the trailing "/".
std::string ExtractFilePath(std::string_view fileName);
std::string ExtractFileName(std::string_view fileName);
std::string ChangeFileExt(std::string_view fileName, std::string_view extension);
bool FileExists(const std::string& fileName);
// RenameFile fails when newName exists (it never replaces a file); ReplaceFile replaces it atomically.
bool RenameFile(const std::string& oldName, const std::string& newName);
bool ReplaceFile(const std::string& oldName, const std::string& newName);
bool DeleteFile(const std::string& fileName);

// Overwrites the bytes of a secret (a password), then empties it.
void WipeString(std::string& secret);
// Sets the process's core-file limit to zero, so that a crash leaves no image of its memory;
// false when the system refused.
bool DisableCoreDumps();

// The full path of the running executable ("" when it cannot be found).
std::string ExeName();
