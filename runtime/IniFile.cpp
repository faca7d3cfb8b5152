#include "runtime/IniFile.h"

#include <fcntl.h>
#include <unistd.h>

#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "runtime/StringList.h"
#include "runtime/SysUtils.h"

TIniFile::TIniFile(std::string fileName) : FileName(std::move(fileName))
{
    TStringList lines;
    try {
        lines.LoadFromFile(FileName);
    } catch (const Exception&) {
        return;
    }
    Section* current = nullptr;
    for (const auto& raw : lines.Items()) {
        const std::string line = Trim(raw);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            FSections.push_back({line.substr(1, line.size() - 2), {}});
            current = &FSections.back();
            continue;
        }
        if (!current) {
            FPreamble.push_back(raw);
            continue;
        }
        const auto eq = line.find('=');
        if (line.empty() || line[0] == ';' || eq == std::string::npos)
            continue;
        current->Entries.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
    }
}

const std::string* TIniFile::Find(const std::string& section, const std::string& key) const
{
    for (const auto& s : FSections)
        if (AnsiSameText(s.Name, section))
            for (const auto& [k, v] : s.Entries)
                if (AnsiSameText(k, key))
                    return &v;
    return nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& fallback) const
{
    const std::string* v = Find(section, key);
    return v ? *v : fallback;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int fallback) const
{
    const std::string* v = Find(section, key);
    return v ? StrToIntDef(*v, fallback) : fallback;
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    WriteString(section, key, IntToStr(value));
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    Section* target = nullptr;
    for (auto& s : FSections)
        if (AnsiSameText(s.Name, section)) {
            target = &s;
            break;
        }
    if (!target) {
        FSections.push_back({section, {}});
        target = &FSections.back();
    }
    bool found = false;
    for (auto& [k, v] : target->Entries)
        if (AnsiSameText(k, key)) {
            v = value;
            found = true;
            break;
        }
    if (!found)
        target->Entries.emplace_back(key, value);
    Save();
}

void TIniFile::Save() const
{
    std::string text;
    for (const auto& l : FPreamble)
        text += l + "\r\n";
    for (const auto& s : FSections) {
        text += "[" + s.Name + "]\r\n";
        for (const auto& [k, v] : s.Entries)
            text += k + "=" + v + "\r\n";
    }
    const std::string temp = FileName + ".tmp";
    {
        TFileStream f(temp, fmCreate);
        f.WriteBuffer(text.data(), static_cast<long long>(text.size()));
        if (!f.Flush())
            throw EWriteError("Stream write error");
    }
    if (!ReplaceFile(temp, FileName)) {
        DeleteFile(temp);
        throw Exception("Cannot write " + FileName);
    }
}

std::vector<std::string> TIniFile::Sections() const
{
    std::vector<std::string> names;
    for (const auto& s : FSections)
        names.push_back(s.Name);
    return names;
}
