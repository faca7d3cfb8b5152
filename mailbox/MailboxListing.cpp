// The session's listing: the whole mailbox from UIDL and LIST, the headers from the cache or
// from TOP n 0, deletions asked for meanwhile, and the cache kept to what the server lists.
#include "mailbox/MailboxSession.h"

#include <ctime>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "mailbox/Environment.h"
#include "mailbox/HeaderCache.h"
#include "pop3/Nmpop3.h"

void TMailboxSession::Stop()
{
    FStopRequested = true;
    FPop->StopSummaries();
}

void TMailboxSession::RunListing()
{
    FStopRequested = false;
    FListComplete = false;
    FQueuedDeletions.clear();
    try {
        if (!FListed || ListingDone())
            ListAnew();
        if (FListed && FOneByOne)
            ListOneByOne(FNextNumber);
        else if (FListed)
            FetchMissingHeaders();
    } catch (...) {
        // Only a connection that broke or ended raises here: the listing is over.
    }
    if (FCache)
        FCache->Flush();   // the file holds the whole listing once it ends
    CompactCache();
    FListComplete = FListed && !FStopRequested && !FEndPending && Connected();
    FStopRequested = false;
    FQueuedDeletions.clear();
}

bool TMailboxSession::ListingDone() const
{
    if (FOneByOne)
        return FNextNumber > FPop->MessageCount;
    for (int row = 0; row < FStore.Count(); ++row)
        if (!FStore.At(row).HeaderKnown && !FStore.At(row).Deleted)
            return false;
    return true;
}

void TMailboxSession::ListAnew()
{
    FStore.Clear();
    FFirstSeen.clear();
    FHeadersDone = 0;
    FCache.reset();
    if (FPop->MessageCount == 0) {
        // Nothing listed: nothing the cache holds is on the server any more.
        FListed = true;
        THeaderCache(CacheFileName(), std::string()).Remove();
        return;
    }
    // The cache file is read record by record while the server's lists are on their way.
    auto cache = std::make_unique<THeaderCache>(CacheFileName(), CacheKey());
    std::optional<TCacheState> state;
    // CAPA again after the login, but not of a server that refused it before.
    FPop->GetListing(!FPop->Capabilities.empty(), [&] { state = cache->Load(); });
    if (!Connected())
        return;
    TMailboxListing listing = std::move(FPop->Listing);
    FListed = true;
    if (!listing.Sizes) {
        FOneByOne = true;
        FNextNumber = 1;
        return;
    }
    const long long now = static_cast<long long>(std::time(nullptr));
    std::vector<TMessageRecord> records;
    records.reserve(listing.Messages.size());
    for (TListedMessage& m : listing.Messages) {
        TMessageRecord& r = records.emplace_back();
        r.Number = m.Number;
        r.Size = m.Size;
        r.Uidl = std::move(m.Uidl);
    }
    FFirstSeen.assign(records.size(), now);
    const bool uidls = listing.Uidls;
    listing = TMailboxListing();
    if (!state)
        state = cache->Load();   // GetListing sent nothing: read now
    if (UidlsUsable(uidls, records))
        UseCache(std::move(cache), *state, records);
    else
        cache->Remove();
    FStore.Append(std::move(records));
    ReportProgress();
}

// A UIDL names one message only while the server lists each once; without that, nothing in
// the file can be trusted for this mailbox.
bool TMailboxSession::UidlsUsable(bool uidls, const std::vector<TMessageRecord>& records)
{
    std::unordered_set<std::string_view> seen;
    for (std::size_t i = 0; uidls && i < records.size(); ++i)
        uidls = !records[i].Uidl.empty() && seen.insert(records[i].Uidl).second;
    return uidls;
}

// The cache's headers move into the records listed under their UIDL at the same size.
void TMailboxSession::UseCache(std::unique_ptr<THeaderCache> cache, TCacheState state, std::vector<TMessageRecord>& records)
{
    // A torn tail is cut away when the listing ends, also when nothing new is appended.
    bool dead = state == TCacheState::TornTail;
    std::size_t found = 0;   // cache entries the server still lists
    for (std::size_t i = 0; i < records.size(); ++i) {
        TMessageRecord& r = records[i];
        const auto entry = cache->Entries.find(r.Uidl);
        if (entry == cache->Entries.end())
            continue;
        ++found;
        TCachedHeader& cached = entry->second;
        // A UIDL the server gave to a message of another size is read anew.
        if (cached.Size != r.Size) {
            dead = true;
            continue;
        }
        r.Header = std::move(cached.Header);
        r.Subject = std::move(cached.Subject);
        r.From = std::move(cached.From);
        r.Date = cached.Date;
        r.HeaderKnown = true;
        FFirstSeen[i] = cached.FirstSeen;
        ++FHeadersDone;
    }
    FCacheDead = dead || found < cache->Entries.size() || cache->Records() > cache->Entries.size();
    cache->Entries = {};
    FCache = std::move(cache);
}

std::string TMailboxSession::CacheKey() const
{
    return THeaderCache::KeyFor(FAccount[afServer], FPop->Port, FAccount[afUserID]);
}

std::string TMailboxSession::CacheFileName() const
{
    return THeaderCache::FileNameFor(CacheFolder(), CacheKey());
}

void TMailboxSession::FetchMissingHeaders()
{
    for (;;) {
        if (!FQueuedDeletions.empty())
            RunQueuedDeletions();
        if (FStopRequested || FEndPending || !Connected())
            return;
        std::vector<int> numbers;
        for (int row = 0; row < FStore.Count(); ++row)
            if (!FStore.At(row).HeaderKnown && !FStore.At(row).Deleted)
                numbers.push_back(FStore.At(row).Number);
        if (numbers.empty())
            return;
        FRetrieve = TRetrieve::ListRow;
        FPop->GetSummaries(numbers);
        if (FQueuedDeletions.empty())
            return;
    }
}

// Today's listing, for a server whose LIST of the mailbox failed: a record per summary.
void TMailboxSession::ListOneByOne(int from)
{
    for (FNextNumber = from;; RunQueuedDeletions()) {
        for (; !FStopRequested && FQueuedDeletions.empty() && FNextNumber <= FPop->MessageCount; ++FNextNumber) {
            if (!Connected())
                return;
            FListingNumber = FNextNumber;
            FRetrieve = TRetrieve::ListRow;
            try {
                FPop->GetSummary(FNextNumber);
            } catch (...) {
                // The message gets no record; a lost connection ends the loop at its next pass.
            }
            if (OnListProgress)
                OnListProgress(FNextNumber, FPop->MessageCount);
        }
        if (FQueuedDeletions.empty())
            return;
    }
}

// The component's OnRetrieveEnd inside GetSummaries: the header of a record that has one.
void TMailboxSession::HeaderArrived()
{
    const int row = FStore.RowOf(FPop->SummaryNumber);
    if (row < 0)
        return;
    FStore.SetHeader(row, FPop->Summary.Header.Items());
    if (FCache)
        FCache->Append(CacheEntryOf(row));
    ++FHeadersDone;
    ReportProgress();
}

TCacheEntry TMailboxSession::CacheEntryOf(int row) const
{
    const TMessageRecord& r = FStore.At(row);
    return {r.Uidl, r.Size, FFirstSeen[static_cast<std::size_t>(row)], r.Header, r.Subject, r.From, r.Date};
}

void TMailboxSession::ReportProgress()
{
    if (OnListProgress)
        OnListProgress(FHeadersDone, FStore.Count());
}

// The deletions asked for while the listing ran, now that it has stopped.
void TMailboxSession::RunQueuedDeletions()
{
    const std::vector<int> numbers = std::move(FQueuedDeletions);
    FQueuedDeletions.clear();
    if (!Connected())
        return;
    FState = TSessionState::Deleting;
    int accepted = 0;
    try {
        DeleteEach(numbers, accepted);
    } catch (const std::exception& e) {
        if (OnDeleteFailed)
            OnDeleteFailed(FDeletingNumber, e.what());
    }
    FState = TSessionState::Listing;
}

// The file keeps exactly the headers of what the server lists, when it held others.
void TMailboxSession::CompactCache()
{
    if (!FCache || !FCacheDead)
        return;
    std::vector<TCacheEntry> entries;
    entries.reserve(static_cast<std::size_t>(FStore.Count()));
    for (int row = 0; row < FStore.Count(); ++row) {
        const TMessageRecord& r = FStore.At(row);
        if (r.HeaderKnown)
            entries.push_back(CacheEntryOf(row));
    }
    if (FCache->Rewrite(entries))
        FCacheDead = false;
}
