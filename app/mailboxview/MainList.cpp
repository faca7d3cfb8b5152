// The main window's message list beyond its rows: how the size and date columns show and
// sort, the filter field, and the rules that check rows.
#include "app/main/MainWindow.h"

#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <functional>

#include "app/main/ListView.h"
#include "mailbox/MessageList.h"
#include "app/main/Sjis.h"
#include "app/main/Texts.h"

namespace {
constexpr int SizeColumn = 2;
constexpr int DateColumn = 3;

using MessageList::Number;

// A small modal dialog: the prompt, one input control (the dialog takes it), OK and Cancel.
// `take` reads the input when the dialog closed with OK.
void AskValue(QWidget* owner, const char* prompt, QWidget* input, const std::function<void()>& take)
{
    QDialog dialog(owner);
    dialog.setObjectName("RuleDialog");
    dialog.setWindowTitle(SjisToQ(Texts::RuleCaption));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(SjisToQ(prompt), &dialog));
    input->setParent(&dialog);
    layout->addWidget(input);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() == QDialog::Accepted)
        take();
}
}

// Sizes for people, sorted by bytes ("Deleted" and other texts after them); dates in local
// time, sorted by the moment.
void TMain::SetMessageColumnFormats()
{
    Lv2->SetColumnFormat(SizeColumn, {[](const std::string& f) {
                                          const auto n = Number(f);
                                          return n ? MessageList::SizeText(*n) : SjisToQ(f);
                                      },
                                      Number});
    Lv2->SetColumnFormat(DateColumn, {[](const std::string& f) {
                                          const auto n = Number(f);
                                          return n ? MessageList::DateText(*n) : QString();
                                      },
                                      Number});
}

bool TMain::RowMatchesFilter(int row) const
{
    const QString key = MessageList::MatchKey(FilterEdit->text());
    if (key.isEmpty())
        return true;
    for (int column : {0, 1})
        if (const QTableWidgetItem* cell = Lv2->item(row, column))
            if (MessageList::MatchKey(cell->text()).contains(key))
                return true;
    return false;
}

void TMain::ApplyFilter()
{
    for (int row = 0; row < Lv2->Count(); ++row)
        Lv2->setRowHidden(row, !RowMatchesFilter(row));
}

void TMain::CheckShownRows()
{
    for (int row = 0; row < Lv2->Count(); ++row)
        if (!Lv2->isRowHidden(row))
            Lv2->SetChecked(row, true);
}

// The size and date rules check among the shown rows too, and add to the checks there are.
void TMain::CheckLargerRows()
{
    const std::optional<double> mb = AskMegabytes();
    if (!mb)
        return;
    const auto limit = static_cast<qint64>(*mb * 1024 * 1024);
    for (int row = 0; row < Lv2->Count(); ++row)
        if (!Lv2->isRowHidden(row))
            if (const auto bytes = Number(Lv2->SubItem(row, SizeColumn - 1)); bytes && *bytes > limit)
                Lv2->SetChecked(row, true);
}

void TMain::CheckOlderRows()
{
    const std::optional<long long> before = AskDate();
    if (!before)
        return;
    for (int row = 0; row < Lv2->Count(); ++row)
        if (!Lv2->isRowHidden(row))
            if (const auto date = Number(Lv2->SubItem(row, DateColumn - 1)); date && *date < *before)
                Lv2->SetChecked(row, true);
}

void TMain::InvertChecks()
{
    for (int row = 0; row < Lv2->Count(); ++row)
        if (!Lv2->isRowHidden(row))
            Lv2->SetChecked(row, !Lv2->Checked(row));
}

std::optional<double> TMain::AskMegabytes()
{
    auto* input = new QDoubleSpinBox;
    input->setObjectName("Megabytes");
    input->setRange(0, 100000);
    input->setDecimals(1);
    input->setSuffix(QStringLiteral(" MB"));
    input->setValue(1.0);
    std::optional<double> value;
    AskValue(this, Texts::LargerPrompt, input, [&] { value = input->value(); });
    return value;
}

// The start of the chosen day, local time.
std::optional<long long> TMain::AskDate()
{
    auto* input = new QDateEdit(QDate::currentDate().addYears(-1));
    input->setObjectName("Date");
    input->setCalendarPopup(true);
    input->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    std::optional<long long> value;
    AskValue(this, Texts::OlderPrompt, input, [&] { value = input->date().startOfDay().toSecsSinceEpoch(); });
    return value;
}
