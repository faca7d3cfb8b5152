#pragma once
// TRuleCommands: the rules that check messages, in the main window. Keeps the rules of
// "Rules.lst" (loaded when the window is shown; lines that cannot be read are named in a box
// and kept in the file), saves them after every change (a failed save is reported, stop
// icon), and checks the rows they match: every row of a listing once it has ended, then rows
// that arrive or learn their header later, each row once, so a row the person unchecked
// stays unchecked. A rule just made (from the sender panel or in the dialog "選択ルール")
// checks the rows it matches at once. Friends win throughout (TRuleMatcher). The status bar's
// last panel counts the rows the rules checked since the listing began ("ルールで N 件を選択").
//
// Follows the session's store as its observer for its life and checks from a zero-time timer,
// never inside the store's notification. Must go before the store. UI thread only.

#include <QTimer>
#include <vector>

#include "mailbox/MessageStore.h"
#include "mailbox/RulesFile.h"

class TMain;

class TRuleCommands : private TStoreObserver {
public:
    explicit TRuleCommands(TMain& window);
    ~TRuleCommands() override;
    TRuleCommands(const TRuleCommands&) = delete;
    TRuleCommands& operator=(const TRuleCommands&) = delete;

    void Load();
    // Names the lines of the file that could not be read, once, in a box.
    void ReportUnread();
    const TRulesFileContent& Content() const { return FContent; }
    // Adds a rule (one equal to it is not added twice) and saves; checks what it matches.
    void AddRule(const TRule& rule);
    // The dialog "選択ルール"; on OK the rules are saved and the new ones check their rows.
    void EditRules();
    // The listing ended: every row it brought is matched.
    void ListingEnded();
    int CheckedByRules() const { return FChecked; }

private:
    void RowsAppended(int first, int last) override;
    void RowsChanged(int first, int last) override;
    void RowDeleted(int) override {}
    void RowRestored(int) override {}
    void Cleared() override;

    void Save();
    // Matches the rows not matched yet (their header known) against every rule.
    void ApplyPending();
    // Matches every row against `added` (with every friend rule).
    void ApplyAdded(const std::vector<TRule>& added);
    void Count(int checked);

    TMain& W;
    TRulesFileContent FContent;
    bool FFileUnread = false;
    bool FUnreadReported = false;
    bool FListed = false;            // a listing ended since the store was cleared
    std::vector<char> FMatched;      // per store row: the rules have seen its header
    int FChecked = 0;
    QTimer FPending;
};
