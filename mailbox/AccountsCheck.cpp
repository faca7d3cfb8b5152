#include "mailbox/AccountsCheck.h"

#include <ctime>
#include <deque>

#include "mailbox/LastLook.h"
#include "mailbox/Rules.h"
#include "pop3/Nmpop3.h"

void TAccountsCheck::Run(const std::vector<TAccountFields>& accounts)
{
    if (FRunning)
        return;
    FRunning = true;
    FStopRequested = false;
    FAccounts = accounts;
    FSummaries.assign(accounts.size(), TAccountSummary());
    std::deque<std::pair<int, bool>> queue;   // the account, and whether it was put back once
    for (int i = 0; i < static_cast<int>(accounts.size()); ++i)
        queue.emplace_back(i, false);
    while (!queue.empty() && !FStopRequested) {
        const auto [index, putBack] = queue.front();
        queue.pop_front();
        if (ServerInUse && ServerInUse(FAccounts[static_cast<std::size_t>(index)])) {
            if (!putBack && !queue.empty()) {
                queue.emplace_back(index, true);
                continue;
            }
            FSummaries[static_cast<std::size_t>(index)].State = TAccountSummary::TState::Failed;
            FSummaries[static_cast<std::size_t>(index)].InUse = true;
            Changed(index);
            continue;
        }
        Check(index);
    }
    for (int i = 0; i < static_cast<int>(FSummaries.size()); ++i)
        if (FSummaries[static_cast<std::size_t>(i)].State == TAccountSummary::TState::Waiting) {
            FSummaries[static_cast<std::size_t>(i)].State = TAccountSummary::TState::Stopped;
            Changed(i);
        }
    FRunning = false;
}

void TAccountsCheck::Stop()
{
    if (!FRunning)
        return;
    FStopRequested = true;
    FSession.Stop();
    if (FSession.State() == TSessionState::Connecting)
        FSession.Abort();
}

void TAccountsCheck::Check(int index)
{
    TAccountSummary& s = FSummaries[static_cast<std::size_t>(index)];
    s.State = TAccountSummary::TState::Checking;
    Changed(index);
    if (!FSession.Connect(FAccounts[static_cast<std::size_t>(index)])) {
        s.State = FStopRequested ? TAccountSummary::TState::Stopped : TAccountSummary::TState::Failed;
        s.Failure = FSession.Failure();
        s.LoginRefusal = s.Failure == TConnectFailure::TokenRefused ? FSession.TokenRefusal().Reply : FSession.LoginRefusal();
        s.TlsProblem = FSession.TlsProblem();
        Changed(index);
        return;
    }
    FSession.List();
    const bool complete = FSession.ListComplete();
    const bool lost = !FSession.Connected();
    Summarize(index);
    if (complete && !LooksFile.empty())
        RememberLook(LooksFile, LookAt(AccountKey(FAccounts[static_cast<std::size_t>(index)]), FSession.Store(),
                                       static_cast<long long>(std::time(nullptr))));
    FSession.End();
    s.State = complete ? TAccountSummary::TState::Done
              : lost   ? TAccountSummary::TState::Failed
                       : TAccountSummary::TState::Stopped;
    Changed(index);
}

// The figures of the mailbox just listed, before its look is remembered.
void TAccountsCheck::Summarize(int index)
{
    TAccountSummary& s = FSummaries[static_cast<std::size_t>(index)];
    const TMessageStore& store = FSession.Store();
    const TSenderGrouping grouping(FSession.Store());
    s.Messages = grouping.TotalCount();
    s.Size = grouping.TotalSize();
    if (const std::vector<int> largest = grouping.BySize(TGroupBy::Address); !largest.empty())
        s.LargestSender = grouping.At(TGroupBy::Address, largest.front());
    if (!LooksFile.empty())
        if (const auto look = FindLastLook(LoadLastLooks(LooksFile), AccountKey(FAccounts[static_cast<std::size_t>(index)])))
            s.New = NewSince(*look, store);
}

void TAccountsCheck::Changed(int index)
{
    if (OnChanged)
        OnChanged(index);
}
