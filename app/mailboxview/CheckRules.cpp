// The message list's check rules; the size and date rules ask their value in a small dialog.
#include "app/mailboxview/CheckRules.h"

#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QVBoxLayout>
#include <functional>
#include <optional>
#include <vector>

#include "app/mailboxview/MessageFilter.h"
#include "app/mailboxview/MessageModel.h"
#include "app/mailboxview/MessageView.h"
#include "app/main/Sjis.h"
#include "app/main/Texts.h"

namespace {
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

std::optional<double> AskMegabytes(QWidget* owner)
{
    auto* input = new QDoubleSpinBox;
    input->setObjectName("Megabytes");
    input->setRange(0, 100000);
    input->setDecimals(1);
    input->setSuffix(QStringLiteral(" MB"));
    input->setValue(1.0);
    std::optional<double> value;
    AskValue(owner, Texts::LargerPrompt, input, [&] { value = input->value(); });
    return value;
}

// The start of the chosen day, local time.
std::optional<long long> AskDate(QWidget* owner)
{
    auto* input = new QDateEdit(QDate::currentDate().addYears(-1));
    input->setObjectName("Date");
    input->setCalendarPopup(true);
    input->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    std::optional<long long> value;
    AskValue(owner, Texts::OlderPrompt, input, [&] { value = input->date().startOfDay().toSecsSinceEpoch(); });
    return value;
}

// Sets the check of every shown row `rule` gives a value for. The rows are taken first: a
// sorted list may move rows whose checks change.
void CheckShown(TMessageView& list, const std::function<std::optional<bool>(const TMessageRecord&)>& rule)
{
    std::vector<std::pair<int, bool>> changes;
    for (int row = 0; row < list.Count(); ++row)
        if (const std::optional<bool> checked = rule(list.Record(row)))
            changes.emplace_back(list.Filter()->StoreRow(row), *checked);
    TMessageStore& store = list.Filter()->Model()->Store();
    for (const auto& [storeRow, checked] : changes)
        store.SetChecked(storeRow, checked);
}
}

namespace CheckRules {
void CheckShownRows(TMessageView& list)
{
    CheckShown(list, [](const TMessageRecord&) { return std::optional<bool>(true); });
}

// The size and date rules check among the shown rows too, and add to the checks there are.
void CheckLargerRows(QWidget* owner, TMessageView& list)
{
    const std::optional<double> mb = AskMegabytes(owner);
    if (!mb)
        return;
    const auto limit = static_cast<long long>(*mb * 1024 * 1024);
    CheckShown(list, [limit](const TMessageRecord& r) { return r.Size > limit ? std::optional<bool>(true) : std::nullopt; });
}

void CheckOlderRows(QWidget* owner, TMessageView& list)
{
    const std::optional<long long> before = AskDate(owner);
    if (!before)
        return;
    CheckShown(list, [before](const TMessageRecord& r) {
        return r.Date && *r.Date < *before ? std::optional<bool>(true) : std::nullopt;
    });
}

void InvertChecks(TMessageView& list)
{
    CheckShown(list, [](const TMessageRecord& r) { return std::optional<bool>(!r.Checked); });
}
}
