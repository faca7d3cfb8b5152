#pragma once
// An ordered list of byte strings, optionally kept sorted.
//
// Raises EStringListError for an index out of range, EFOpenError / EFCreateError when a
// file cannot be opened or created. Sorted lists compare with AnsiCompareText and ignore
// duplicates on Add (the existing index is returned).

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Component.h"

class TStringList : public TPersistent {
public:
    TStringList() = default;
    ~TStringList() override = default;

    int Count() const { return static_cast<int>(Items().size()); }
    const std::string& Get(int index) const;
    void Put(int index, std::string s);
    const std::string& operator[](int index) const { return Get(index); }

    int Add(std::string s);
    void Insert(int index, std::string s);
    void Delete(int index);
    void Clear() { FItems.reset(); }
    int IndexOf(std::string_view s) const;
    // Shares the other list's lines until either list changes (no copy is made now).
    void Assign(const TStringList& other) { FItems = other.FItems; }

    bool Sorted() const { return FSorted; }
    void SetSorted(bool value);
    // Binary search of a sorted list: true when found; index is the match or the insert place.
    bool Find(std::string_view s, int& index) const;

    // Lines split at CR LF, lone CR and lone LF; a last line without a break counts.
    void SetText(std::string_view text);
    // Every line followed by CR LF.
    std::string Text() const;
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;

    // Comma text: fields separated by commas, a field in double quotes may hold commas, blanks
    // and doubled quotes; unquoted fields end at a comma or a byte 0x00 to 0x20.
    void SetCommaText(std::string_view text);
    // Fields quoted when they hold a comma, a quote or a byte 0x00 to 0x20 (or are empty).
    std::string CommaText() const;

    const std::vector<std::string>& Items() const { return FItems ? *FItems : NoItems(); }

private:
    void CheckIndex(int index) const;

    // The lines for writing: unshared first (copied when another list shares them).
    std::vector<std::string>& Mutable();
    static const std::vector<std::string>& NoItems();

    // The lines; shared by lists assigned from one another (a retrieval's Body and RawBody)
    // until one of them changes, and null while there are none.
    std::shared_ptr<std::vector<std::string>> FItems;
    bool FSorted = false;
};
