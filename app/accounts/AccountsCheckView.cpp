// The window of every account at a glance.
#include "app/accounts/AccountsCheckView.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <utility>

#include "app/accounts/CertificateText.h"
#include "app/mailboxview/MailboxCommands.h"
#include "app/main/MessageBox.h"
#include "app/main/Sjis.h"
#include "app/main/Texts.h"
#include "mailbox/Environment.h"
#include "mailbox/MessageList.h"
#include "runtime/SysUtils.h"

namespace {
enum TColumn { NameColumn, StateColumn, CountColumn, SizeColumn, NewColumn, LargestColumn, ReasonColumn, ColumnCount };

// Why an account failed, for its row; "" when it did not.
QString Reason(const TAccountSummary& s, const TAccountFields& account)
{
    if (s.State != TAccountSummary::TState::Failed)
        return {};
    if (s.InUse)
        return SjisToQ(Texts::ServerInUse);
    switch (s.Failure) {
    case TConnectFailure::None: return SjisToQ(Texts::ConnectionLost);
    case TConnectFailure::Tls:
    case TConnectFailure::Untrusted: return SjisToQ(TlsProblemText(s.TlsProblem));
    default: break;
    }
    const std::string reason = ConnectFailureReason(s.Failure, account, s.LoginRefusal);
    return SjisToQ(reason.empty() ? std::string(Texts::CouldNotConnect) : reason).replace('\n', ' ');
}

QString Largest(const TSenderGroup& g)
{
    if (g.Count == 0 || g.Key.empty())
        return {};
    const QString who = g.Name.empty() ? Utf8ToQ(g.Key) : Utf8ToQ(g.Name) + QStringLiteral(" <") + Utf8ToQ(g.Key) + '>';
    return who + QStringLiteral("  ") + MessageList::SizeText(g.Size);
}
}

TAccountsCheckView::TAccountsCheckView(QWidget* owner, TCredentialSource& credentials)
    : QDialog(owner), FCheck(credentials)
{
    setObjectName("AccountsCheck");
    setWindowTitle(SjisToQ(Texts::CheckAllAccountsItem));
    setModal(false);
    Table = new QTableWidget(0, ColumnCount, this);
    Table->setObjectName("AccountsTable");
    const char* const captions[] = {Texts::NameColumn,  Texts::StateColumn,         Texts::CountColumn, Texts::SizeColumn,
                                    Texts::NewColumn,   Texts::LargestSenderColumn, Texts::ReasonColumn};
    QStringList labels;
    for (const char* c : captions)
        labels << SjisToQ(c);
    Table->setHorizontalHeaderLabels(labels);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setWordWrap(false);
    Table->verticalHeader()->hide();
    Table->verticalHeader()->setDefaultSectionSize(20);
    Table->horizontalHeader()->setSectionResizeMode(ReasonColumn, QHeaderView::Stretch);
    const int widths[] = {130, 56, 50, 70, 44, 230};
    for (int c = 0; c < ReasonColumn; ++c)
        Table->setColumnWidth(c, widths[c]);
    auto* hint = new QLabel(SjisToQ(Texts::OpenAccountHint), this);
    AgainButton = new QPushButton(SjisToQ(Texts::CheckAgainCaption), this);
    AgainButton->setObjectName("CheckAgainButton");
    StopButton = new QPushButton(SjisToQ(Texts::StopCheckCaption), this);
    StopButton->setObjectName("StopCheckButton");
    auto* close = new QPushButton(SjisToQ(Texts::CloseCaption), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(hint, 1);
    for (QPushButton* b : {AgainButton, StopButton, close})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Table, 1);
    layout->addLayout(buttons);
    connect(AgainButton, &QPushButton::clicked, this, [this] {
        Guarded([this] {
            if (Accounts)
                Start(Accounts());
        });
    });
    connect(StopButton, &QPushButton::clicked, this, [this] { Stop(); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(Table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { Guarded([&] { Open(row); }); });
    FCheck.LooksFile = LastLookFileName();
    FCheck.OnChanged = [this](int index) { Guarded([&] { Show(index); }); };
    StopButton->setEnabled(false);
    resize(960, 300);
}

TAccountsCheckView::~TAccountsCheckView() { FCheck.OnChanged = nullptr; }

void TAccountsCheckView::Start(const std::vector<TAccountFields>& accounts)
{
    if (FCheck.Running())
        return;
    FThen = nullptr;
    Table->setRowCount(static_cast<int>(accounts.size()));
    for (int row = 0; row < static_cast<int>(accounts.size()); ++row) {
        Table->setItem(row, NameColumn, new QTableWidgetItem(SjisToQ(accounts[static_cast<std::size_t>(row)][afName])));
        for (int c = StateColumn; c < ColumnCount; ++c)
            Table->setItem(row, c, new QTableWidgetItem);
        Table->item(row, StateColumn)->setText(SjisToQ(Texts::CheckStates[0]));
    }
    AgainButton->setEnabled(false);
    StopButton->setEnabled(true);
    FCheck.Run(accounts);
    AgainButton->setEnabled(true);
    StopButton->setEnabled(false);
    if (const std::function<void()> then = std::exchange(FThen, nullptr))
        then();
}

void TAccountsCheckView::StopThen(std::function<void()> then)
{
    if (!FCheck.Running()) {
        then();
        return;
    }
    FThen = std::move(then);
    FCheck.Stop();
}

void TAccountsCheckView::Show(int index)
{
    const TAccountSummary& s = FCheck.Summaries()[static_cast<std::size_t>(index)];
    const bool figures = s.State == TAccountSummary::TState::Done ||
                         (s.State != TAccountSummary::TState::Checking && s.Messages > 0);
    const QString cells[] = {
        SjisToQ(Texts::CheckStates[static_cast<int>(s.State)]),
        figures ? QString::number(s.Messages) : QString(),
        figures ? MessageList::SizeText(s.Size) : QString(),
        figures && s.New >= 0 ? QString::number(s.New) : QString(),
        figures ? Largest(s.LargestSender) : QString(),
        Reason(s, FCheck.Accounts()[static_cast<std::size_t>(index)]),
    };
    for (int c = StateColumn; c < ColumnCount; ++c) {
        QTableWidgetItem* item = Table->item(index, c);
        item->setText(cells[c - StateColumn]);
        if (c == CountColumn || c == SizeColumn || c == NewColumn)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        item->setToolTip(c == ReasonColumn || c == LargestColumn ? item->text() : QString());
    }
}

void TAccountsCheckView::Open(int row)
{
    if (row < 0 || row >= static_cast<int>(FCheck.Accounts().size()))
        return;
    StopThen([this, account = FCheck.Accounts()[static_cast<std::size_t>(row)]] {
        if (OnOpen)
            OnOpen(account);
    });
}

void TAccountsCheckView::closeEvent(QCloseEvent* event)
{
    FCheck.Stop();
    QDialog::closeEvent(event);
}
