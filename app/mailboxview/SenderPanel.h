#pragma once
// TSenderPanel: who fills the mailbox, above the message list. Two tabs, "送信者別" and
// "ドメイン別", over one TSenderGrouping of the session's store (owned by the window): a table
// of one row per sender address or domain with the number of messages, their total size, its
// share of the mailbox's size and the newest and oldest date; sorted by total size at first,
// by any column on a click on its header.
//
// Selecting a row fires OnGroupSelected (the window filters the message list to it; -1 when
// the selection goes); "このグループを選択" checks every message of the selected group. The
// rows' menu offers rules made from the row (OnMakeRule): check this sender or this domain
// always, never check this sender.
//
// The table follows the grouping at most every 250 ms while the listing adds rows, and not
// at all while the panel is hidden (it catches up when shown); Refresh brings it up to date at
// once. Detach before the grouping goes. UI thread only.

#include <QWidget>
#include <functional>
#include <string>

#include "mailbox/Rules.h"
#include "mailbox/SenderGrouping.h"

class QMenu;
class QPushButton;
class QSortFilterProxyModel;
class QTabBar;
class QTableView;
class TSenderModel;

class TSenderPanel : public QWidget {
public:
    TSenderPanel(QWidget* parent, TSenderGrouping& grouping);
    ~TSenderPanel() override;

    TGroupBy By() const;
    void SetBy(TGroupBy by);
    // The group of a shown row (in the order shown), and the shown row of a group (-1: none).
    int GroupAt(int row) const;
    int RowOfGroup(int group) const;
    int Count() const;
    // The selected group, -1 when none is.
    int Selected() const;
    void Select(int group);
    // Checks every message of the selected group that is not deleted.
    void CheckGroup();
    void Refresh();
    void Detach();

    QTabBar* Tabs;
    QTableView* Table;
    QPushButton* CheckGroupButton;
    QMenu* RowMenu;
    QAction* AlwaysCheckSender;
    QAction* AlwaysCheckDomain;
    QAction* KeepSender;

    std::function<void(TGroupBy by, int group)> OnGroupSelected;
    // A rule made from the selected row (its key already folded).
    std::function<void(const TRule& rule)> OnMakeRule;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void SelectionChanged();
    void UpdateRowMenu();
    void MakeRule(TRuleAction action, TRuleKind kind);

    TSenderGrouping* FGrouping;
    TSenderModel* FModel;
    QSortFilterProxyModel* FSorted;
};
