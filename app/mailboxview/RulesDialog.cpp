// The rules dialog and its editor of one rule.
#include "app/mailboxview/RulesDialog.h"

#include <QComboBox>
#include <algorithm>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/main/MessageBox.h"
#include "app/main/Sjis.h"
#include "app/main/Texts.h"
#include "mailbox/RulesFile.h"

namespace {
QString ActionName(TRuleAction action)
{
    return SjisToQ(action == TRuleAction::Keep ? Texts::KeepAction : Texts::CheckAction);
}
}

TRulesDialog::TRulesDialog(QWidget* owner, std::vector<TRule> rules, std::vector<TRuleScope> accounts)
    : QDialog(owner), FRules(std::move(rules)), FAccounts(std::move(accounts))
{
    setObjectName("RulesDialog");
    setWindowTitle(SjisToQ(Texts::RulesCaption));
    Table = new QTableWidget(0, 4, this);
    Table->setObjectName("RulesTable");
    Table->setHorizontalHeaderLabels({SjisToQ(Texts::ActionColumn), SjisToQ(Texts::KindColumn),
                                      SjisToQ(Texts::ValueColumn), SjisToQ(Texts::ScopeColumn)});
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->verticalHeader()->hide();
    Table->verticalHeader()->setDefaultSectionSize(20);
    Table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    const int widths[] = {120, 130, 0, 150};
    for (int c : {0, 1, 3})
        Table->setColumnWidth(c, widths[c]);
    AddButton = new QPushButton(SjisToQ(Texts::AddRuleCaption), this);
    EditButton = new QPushButton(SjisToQ(Texts::EditRuleCaption), this);
    RemoveButton = new QPushButton(SjisToQ(Texts::DeleteItem), this);
    auto* side = new QVBoxLayout;
    for (QPushButton* b : {AddButton, EditButton, RemoveButton})
        side->addWidget(b);
    side->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(Table, 1);
    top->addLayout(side);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(AddButton, &QPushButton::clicked, this, [this] { Guarded([this] { AddRule(); }); });
    connect(EditButton, &QPushButton::clicked, this, [this] { Guarded([this] { EditRule(Table->currentRow()); }); });
    connect(RemoveButton, &QPushButton::clicked, this, [this] { Guarded([this] { RemoveRule(Table->currentRow()); }); });
    connect(Table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { Guarded([&] { EditRule(row); }); });
    connect(Table, &QTableWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    resize(640, 320);
    Fill();
}

QString TRulesDialog::ScopeName(const std::string& account) const
{
    if (account.empty())
        return SjisToQ(Texts::EveryAccount);
    for (const auto& [key, name] : FAccounts)
        if (key == account)
            return name;
    return Utf8ToQ(account);   // an account no longer in the list keeps its rules
}

void TRulesDialog::Fill()
{
    Table->setRowCount(static_cast<int>(FRules.size()));
    for (int row = 0; row < static_cast<int>(FRules.size()); ++row) {
        const TRule& r = FRules[static_cast<std::size_t>(row)];
        const QString cells[] = {ActionName(r.Action), SjisToQ(Texts::RuleKindNames[static_cast<int>(r.Kind)]),
                                 Utf8ToQ(RuleValueText(r)), ScopeName(r.Account)};
        for (int c = 0; c < 4; ++c)
            Table->setItem(row, c, new QTableWidgetItem(cells[c]));
    }
    UpdateButtons();
}

void TRulesDialog::UpdateButtons()
{
    const bool selected = Table->currentRow() >= 0 && !Table->selectedItems().isEmpty();
    EditButton->setEnabled(selected);
    RemoveButton->setEnabled(selected);
}

void TRulesDialog::AddRule()
{
    TRule rule;
    if (!Edit(this, rule, FAccounts))
        return;
    FRules.push_back(rule);
    Fill();
    Table->selectRow(static_cast<int>(FRules.size()) - 1);
}

void TRulesDialog::EditRule(int row)
{
    if (row < 0 || row >= static_cast<int>(FRules.size()))
        return;
    TRule rule = FRules[static_cast<std::size_t>(row)];
    if (!Edit(this, rule, FAccounts))
        return;
    FRules[static_cast<std::size_t>(row)] = rule;
    Fill();
    Table->selectRow(row);
}

void TRulesDialog::RemoveRule(int row)
{
    if (row < 0 || row >= static_cast<int>(FRules.size()))
        return;
    FRules.erase(FRules.begin() + row);
    Fill();
}

bool TRulesDialog::Edit(QWidget* owner, TRule& rule, const std::vector<TRuleScope>& known)
{
    // A rule for an account no longer in the list stays for it unless changed.
    std::vector<TRuleScope> accounts = known;
    if (!rule.Account.empty() &&
        std::none_of(accounts.begin(), accounts.end(), [&](const TRuleScope& a) { return a.first == rule.Account; }))
        accounts.emplace_back(rule.Account, Utf8ToQ(rule.Account));
    QDialog dialog(owner);
    dialog.setObjectName("RuleEditor");
    dialog.setWindowTitle(SjisToQ(Texts::RuleCaptionEdit));
    auto* action = new QComboBox(&dialog);
    action->setObjectName("RuleAction");
    action->addItems({ActionName(TRuleAction::Check), ActionName(TRuleAction::Keep)});
    action->setCurrentIndex(static_cast<int>(rule.Action));
    auto* kind = new QComboBox(&dialog);
    kind->setObjectName("RuleKind");
    for (const char* name : Texts::RuleKindNames)
        kind->addItem(SjisToQ(name));
    kind->setCurrentIndex(static_cast<int>(rule.Kind));
    auto* value = new QLineEdit(&dialog);
    value->setObjectName("RuleValue");
    if (!rule.Text.empty() || rule.Number != 0)
        value->setText(Utf8ToQ(RuleValueText(rule)));
    auto* scope = new QComboBox(&dialog);
    scope->setObjectName("RuleScope");
    scope->addItem(SjisToQ(Texts::EveryAccount));
    for (const auto& [key, name] : accounts) {
        scope->addItem(name);
        if (key == rule.Account)
            scope->setCurrentIndex(scope->count() - 1);
    }
    const auto hint = [&] { value->setPlaceholderText(SjisToQ(Texts::RuleValueHints[kind->currentIndex()])); };
    hint();
    QObject::connect(kind, &QComboBox::currentIndexChanged, &dialog, hint);
    auto* form = new QFormLayout(&dialog);
    form->addRow(SjisToQ(Texts::ActionColumn), action);
    form->addRow(SjisToQ(Texts::KindColumn), kind);
    form->addRow(SjisToQ(Texts::ValueColumn), value);
    form->addRow(SjisToQ(Texts::ScopeColumn), scope);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    TRule entered;
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        Guarded([&] {
            entered = TRule{};
            entered.Action = static_cast<TRuleAction>(action->currentIndex());
            entered.Kind = static_cast<TRuleKind>(kind->currentIndex());
            const int account = scope->currentIndex() - 1;
            entered.Account = account >= 0 ? accounts[static_cast<std::size_t>(account)].first : std::string();
            if (!ParseRuleValue(entered, value->text().toStdString())) {
                MessageBox(Texts::RuleValueWrong, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
                value->setFocus();
                return;
            }
            dialog.accept();
        });
    });
    dialog.resize(420, dialog.sizeHint().height());
    if (dialog.exec() != QDialog::Accepted)
        return false;
    rule = entered;
    return true;
}
