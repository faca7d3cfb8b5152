// The rules in the main window: their file, their dialog, and the rows they check.
#include "app/mailboxview/RuleCommands.h"

#include <algorithm>
#include <ctime>
#include <utility>

#include "app/accounts/AccountCommands.h"
#include "app/mailboxview/RulesDialog.h"
#include "app/main/MainWindow.h"
#include "app/main/MessageBox.h"
#include "app/main/Sjis.h"
#include "app/main/StatusBar.h"
#include "app/main/Texts.h"
#include "mailbox/Environment.h"
#include "runtime/SysUtils.h"

namespace {
constexpr int RulesPanel = 3;
// At most this many unread lines are named; the rest are kept all the same.
constexpr std::size_t UnreadShown = 10;

long long Now() { return static_cast<long long>(std::time(nullptr)); }
}

TRuleCommands::TRuleCommands(TMain& window) : W(window)
{
    FPending.setSingleShot(true);
    FPending.setInterval(0);
    QObject::connect(&FPending, &QTimer::timeout, [this] { Guarded([this] { ApplyPending(); }); });
    TMessageStore& store = W.Session.Store();
    FMatched.assign(static_cast<std::size_t>(store.Count()), 0);
    store.AddObserver(this);
}

TRuleCommands::~TRuleCommands() { W.Session.Store().RemoveObserver(this); }

void TRuleCommands::Load()
{
    FFileUnread = !LoadRulesFile(RulesFileName(), FContent);
    FUnreadReported = false;
}

void TRuleCommands::ReportUnread()
{
    if (FContent.Unread.empty() || std::exchange(FUnreadReported, true))
        return;
    std::string text = Texts::RulesUnread;
    for (std::size_t i = 0; i < FContent.Unread.size() && i < UnreadShown; ++i) {
        const TUnreadRuleLine& u = FContent.Unread[i];
        text += "\n" + IntToStr(u.Line) + Texts::RulesLine + QToSjis(Utf8ToQ(u.Text));
    }
    if (FContent.Unread.size() > UnreadShown)
        text += "\n...";
    MessageBox(text, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
}

// A file that is there but could not be read is never replaced by the rules known here.
void TRuleCommands::Save()
{
    try {
        if (FFileUnread)
            throw std::runtime_error("Rules.lst unread");
        SaveRulesFile(RulesFileName(), FContent);
    } catch (const std::exception&) {
        MessageBox(Texts::RulesSaveFailed, Texts::Confirm, TMsgIcon::Stop, TMsgButtons::OK);
    }
}

void TRuleCommands::AddRule(const TRule& rule)
{
    if (std::find(FContent.Rules.begin(), FContent.Rules.end(), rule) == FContent.Rules.end())
        FContent.Rules.push_back(rule);
    Save();
    ApplyAdded({rule});
}

void TRuleCommands::EditRules()
{
    std::vector<TRuleScope> accounts;
    for (int row = 0; row < W.Accounts->Count(); ++row) {
        const TAccountFields account = W.Accounts->AccountRow(row);
        accounts.emplace_back(AccountKey(account), SjisToQ(account[afName]) + QStringLiteral(" (") +
                                                       SjisToQ(AccountKey(account)) + ')');
    }
    TRulesDialog dialog(&W, FContent.Rules, accounts);
    if (dialog.exec() != QDialog::Accepted)
        return;
    std::vector<TRule> added;
    for (const TRule& r : dialog.Rules())
        if (std::find(FContent.Rules.begin(), FContent.Rules.end(), r) == FContent.Rules.end())
            added.push_back(r);
    FContent.Rules = dialog.Rules();
    Save();
    ApplyAdded(added);
}

void TRuleCommands::ListingEnded()
{
    FListed = true;
    ApplyPending();
}

void TRuleCommands::ApplyPending()
{
    FPending.stop();
    TMessageStore& store = W.Session.Store();
    if (!FListed || store.Count() == 0)
        return;
    const TRuleMatcher matcher(FContent.Rules, AccountKey(W.Session.Account()), Now());
    FMatched.resize(static_cast<std::size_t>(store.Count()), 0);
    int checked = 0;
    for (int row = 0; row < store.Count(); ++row) {
        if (FMatched[static_cast<std::size_t>(row)] || !store.At(row).HeaderKnown)
            continue;
        FMatched[static_cast<std::size_t>(row)] = 1;
        checked += ApplyRules(matcher, store, row, row);
    }
    Count(checked);
}

void TRuleCommands::ApplyAdded(const std::vector<TRule>& added)
{
    TMessageStore& store = W.Session.Store();
    if (added.empty() || store.Count() == 0)
        return;
    std::vector<TRule> rules = added;
    for (const TRule& r : FContent.Rules)
        if (r.Action == TRuleAction::Keep)
            rules.push_back(r);
    const TRuleMatcher matcher(rules, AccountKey(W.Session.Account()), Now());
    Count(ApplyRules(matcher, store, 0, store.Count() - 1));
}

void TRuleCommands::Count(int checked)
{
    if (checked == 0)
        return;
    FChecked += checked;
    W.Sb->SetPanelText(RulesPanel, Texts::RulesChecked + IntToStr(FChecked) + Texts::RulesCheckedCount);
}

// Rows that arrive, or whose header arrives, after the listing ended are matched soon after.
void TRuleCommands::RowsAppended(int first, int last)
{
    FMatched.resize(static_cast<std::size_t>(last) + 1, 0);
    if (FListed && first <= last)
        FPending.start();
}

void TRuleCommands::RowsChanged(int first, int last)
{
    if (!FListed)
        return;
    TMessageStore& store = W.Session.Store();
    for (int row = first; row <= last && row < static_cast<int>(FMatched.size()); ++row)
        if (!FMatched[static_cast<std::size_t>(row)] && store.At(row).HeaderKnown) {
            FPending.start();
            return;
        }
}

void TRuleCommands::Cleared()
{
    FPending.stop();
    FMatched.clear();
    FListed = false;
    FChecked = 0;
    W.Sb->SetPanelText(RulesPanel, "");
}
