#include "tools/MessageStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace demo {

namespace {

bool UsableAsUid(const std::string& name)
{
    if (name.empty() || name.size() > 70)
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

std::string UidOf(const std::string& name)
{
    if (UsableAsUid(name))
        return name;
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : name)
        h = (h ^ c) * 1099511628211ull;
    char buf[32];
    std::snprintf(buf, sizeof buf, "h%016llx", static_cast<unsigned long long>(h));
    return buf;
}

// The message file names of the folder, sorted; false when the folder cannot be listed.
bool ListFolder(const std::string& folder, std::vector<fs::path>& files)
{
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    if (ec)
        return false;
    for (; it != end; it.increment(ec)) {
        if (ec)
            return false;
        const std::string name = it->path().filename().string();
        if (!name.empty() && name[0] != '.' && it->is_regular_file(ec))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    return true;
}

}  // namespace

std::string NormaliseLineEnds(const std::string& raw)
{
    std::string out;
    out.reserve(raw.size() + raw.size() / 32 + 2);
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r'))
            out += '\r';
        out += raw[i];
    }
    if (!out.empty() && (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0))
        out += "\r\n";
    return out;
}

std::shared_ptr<MessageStore> MessageStore::InMemory(std::vector<StoredMessage> messages)
{
    std::shared_ptr<MessageStore> store(new MessageStore);
    store->FMessages.reserve(messages.size());
    for (StoredMessage& m : messages)
        store->FMessages.push_back(std::make_shared<const StoredMessage>(std::move(m)));
    return store;
}

std::shared_ptr<MessageStore> MessageStore::Folder(std::string path)
{
    std::shared_ptr<MessageStore> store(new MessageStore);
    store->FFolder = std::move(path);
    return store;
}

bool MessageStore::Open(std::vector<MessagePtr>& messages, std::string& error)
{
    messages.clear();
    std::lock_guard lock(FLock);
    if (FFolder.empty()) {
        messages = FMessages;
        return true;
    }
    std::vector<fs::path> files;
    if (!ListFolder(FFolder, files)) {
        error = "cannot read the mailbox folder";
        return false;
    }
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in)
            continue;  // removed meanwhile
        std::ostringstream bytes;
        bytes << in.rdbuf();
        messages.push_back(std::make_shared<const StoredMessage>(
            StoredMessage{UidOf(file.filename().string()), NormaliseLineEnds(bytes.str()), file.string()}));
    }
    return true;
}

bool MessageStore::Delete(const std::vector<MessagePtr>& messages)
{
    std::lock_guard lock(FLock);
    if (FFolder.empty()) {
        std::erase_if(FMessages, [&](const MessagePtr& m) {
            return std::find(messages.begin(), messages.end(), m) != messages.end();
        });
        return true;
    }
    bool all = true;
    for (const MessagePtr& m : messages)
        if (::unlink(m->Path.c_str()) != 0 && errno != ENOENT)
            all = false;
    return all;
}

int MessageStore::Count()
{
    std::lock_guard lock(FLock);
    if (FFolder.empty())
        return static_cast<int>(FMessages.size());
    std::vector<fs::path> files;
    return ListFolder(FFolder, files) ? static_cast<int>(files.size()) : -1;
}

}  // namespace demo
