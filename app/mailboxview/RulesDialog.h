#pragma once
// TRulesDialog "選択ルール": the rules that check messages, one row each (what it does, its
// kind, its value, the account it is for), with buttons to add, edit and remove rules; a
// double-click edits a row. Adding and editing go through a small modal editor that refuses
// a value the kind cannot take. The dialog works on a copy: Rules() is the list as the person
// left it, read after exec() returned Accepted.

#include <QDialog>
#include <QString>
#include <string>
#include <utility>
#include <vector>

#include "mailbox/Rules.h"

class QPushButton;
class QTableWidget;

// An account a rule can be for: its key (AccountKey) and how people know it.
using TRuleScope = std::pair<std::string, QString>;

class TRulesDialog : public QDialog {
public:
    TRulesDialog(QWidget* owner, std::vector<TRule> rules, std::vector<TRuleScope> accounts);

    const std::vector<TRule>& Rules() const { return FRules; }

    void AddRule();
    void EditRule(int row);
    void RemoveRule(int row);

    QTableWidget* Table;
    QPushButton* AddButton;
    QPushButton* EditButton;
    QPushButton* RemoveButton;

    // Edits one rule in the modal editor over `owner`; true when it closed with OK (then
    // `rule` holds what was entered, its value read as the rules file reads it).
    static bool Edit(QWidget* owner, TRule& rule, const std::vector<TRuleScope>& accounts);

private:
    void Fill();
    void UpdateButtons();
    QString ScopeName(const std::string& account) const;

    std::vector<TRule> FRules;
    std::vector<TRuleScope> FAccounts;
};
