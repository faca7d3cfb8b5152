#pragma once
// A Windows-style initialisation file: "[Section]" headers and "Key=Value" lines.
//
// Section and key names compare without case. The file is read when the object is made
// (a missing or unreadable file reads as empty) and rewritten by every Write*: written to a
// temporary file beside it and renamed over it, so an interrupted write keeps the old file.
// Write* raises Exception when the file cannot be written.

#include <string>
#include <vector>

class TIniFile {
public:
    explicit TIniFile(std::string fileName);

    int ReadInteger(const std::string& section, const std::string& key, int fallback) const;
    std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback) const;
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    // The names of the sections, in file order.
    std::vector<std::string> Sections() const;

    const std::string FileName;

private:
    struct Section {
        std::string Name;
        std::vector<std::pair<std::string, std::string>> Entries;
    };
    const std::string* Find(const std::string& section, const std::string& key) const;
    void Save() const;

    std::vector<Section> FSections;
    // Lines before the first section are kept as they were.
    std::vector<std::string> FPreamble;
};
