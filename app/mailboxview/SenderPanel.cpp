// The panel of who fills the mailbox: a table model over the grouping, sorted by a proxy.
#include "app/mailboxview/SenderPanel.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTabBar>
#include <QTableView>
#include <QTimer>

#include "app/main/MessageBox.h"
#include "app/main/Sjis.h"
#include "app/main/Texts.h"
#include "mailbox/MessageList.h"

namespace {
constexpr int TabHeight = 22;
constexpr int ButtonWidth = 140;
// The table follows a listing at most this often.
constexpr int RefreshEveryMs = 250;
constexpr int SortKeyRole = Qt::UserRole;
}

// One row per group with messages, in the grouping's size order; the proxy sorts.
class TSenderModel : public QAbstractTableModel {
public:
    enum TColumn { NameColumn, CountColumn, SizeColumn, ShareColumn, NewestColumn, OldestColumn, ColumnCount };

    explicit TSenderModel(TSenderGrouping* grouping) : FGrouping(grouping)
    {
        FTimer.setSingleShot(true);
        FTimer.setInterval(RefreshEveryMs);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Guarded([this] { Refresh(); }); });
    }

    TGroupBy By() const { return FBy; }
    void SetBy(TGroupBy by)
    {
        FBy = by;
        Refresh();
    }
    int Group(int row) const { return FGroups.at(static_cast<std::size_t>(row)); }
    int RowOf(int group) const
    {
        for (std::size_t row = 0; row < FGroups.size(); ++row)
            if (FGroups[row] == group)
                return static_cast<int>(row);
        return -1;
    }
    // A change of the grouping: the table follows soon, or when next shown.
    void Changed(bool shown)
    {
        FStale = true;
        if (shown && !FTimer.isActive())
            FTimer.start();
    }
    bool Stale() const { return FStale; }
    void Refresh()
    {
        FTimer.stop();
        FStale = false;
        beginResetModel();
        FGroups = FGrouping ? FGrouping->BySize(FBy) : std::vector<int>();
        endResetModel();
    }
    void Detach()
    {
        FTimer.stop();
        beginResetModel();
        FGrouping = nullptr;
        FGroups.clear();
        endResetModel();
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(FGroups.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : ColumnCount; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!FGrouping || !index.isValid() || index.row() >= rowCount())
            return {};
        const TSenderGroup& g = FGrouping->At(FBy, Group(index.row()));
        const int column = index.column();
        if (role == Qt::TextAlignmentRole && column != NameColumn)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        if (role == Qt::ToolTipRole && column == NameColumn)
            return Name(g);
        if (role != Qt::DisplayRole && role != SortKeyRole)
            return {};
        const long long total = FGrouping->TotalSize();
        switch (column) {
        case NameColumn: return Name(g);
        case CountColumn: return g.Count;
        case SizeColumn: return role == SortKeyRole ? QVariant(g.Size) : QVariant(MessageList::SizeText(g.Size));
        case ShareColumn: {
            const double share = total > 0 ? 100.0 * static_cast<double>(g.Size) / static_cast<double>(total) : 0.0;
            return role == SortKeyRole ? QVariant(share) : QVariant(QString::number(share, 'f', 1) + '%');
        }
        case NewestColumn:
        case OldestColumn: {
            const std::optional<long long>& date = column == NewestColumn ? g.Newest : g.Oldest;
            if (role == SortKeyRole)
                return date ? QVariant(*date) : QVariant();
            return date ? MessageList::DateText(*date) : QString();
        }
        default: return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal)
            return {};
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue((section == NameColumn ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
        if (role != Qt::DisplayRole)
            return {};
        const char* const captions[] = {FBy == TGroupBy::Address ? Texts::SenderColumn : Texts::DomainColumn,
                                        Texts::CountColumn, Texts::SizeColumn, Texts::ShareColumn,
                                        Texts::NewestColumn, Texts::OldestColumn};
        return SjisToQ(captions[section]);
    }

private:
    QString Name(const TSenderGroup& g) const
    {
        switch (g.Kind) {
        case TGroupKind::NotYetKnown: return SjisToQ(Texts::NotYetKnownGroup);
        case TGroupKind::NoSender: return SjisToQ(Texts::NoSenderGroup);
        case TGroupKind::Sender: break;
        }
        if (FBy == TGroupBy::Address && !g.Name.empty())
            return Utf8ToQ(g.Name) + QStringLiteral(" <") + Utf8ToQ(g.Key) + '>';
        return Utf8ToQ(g.Key);
    }

    TSenderGrouping* FGrouping;
    TGroupBy FBy = TGroupBy::Address;
    std::vector<int> FGroups;
    bool FStale = true;
    QTimer FTimer;
};

namespace {
// Numbers sort by their value, rows without one (no date) last; names in their match form.
class TSenderSort : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override
    {
        if (left.column() == TSenderModel::NameColumn)
            return MessageList::MatchKey(left.data().toString()) < MessageList::MatchKey(right.data().toString());
        const QVariant a = left.data(SortKeyRole), b = right.data(SortKeyRole);
        if (a.isValid() != b.isValid())
            return a.isValid() == (sortOrder() == Qt::AscendingOrder);
        if (a.toDouble() != b.toDouble())
            return a.toDouble() < b.toDouble();
        // Equal: the grouping's order (larger first), whichever way the column sorts.
        return sortOrder() == Qt::AscendingOrder ? left.row() < right.row() : left.row() > right.row();
    }
};
}

TSenderPanel::TSenderPanel(QWidget* parent, TSenderGrouping& grouping)
    : QWidget(parent), FGrouping(&grouping), FModel(new TSenderModel(&grouping))
{
    setObjectName("SenderPanel");
    FModel->setParent(this);
    Tabs = new QTabBar(this);
    Tabs->setObjectName("SenderTabs");
    Tabs->addTab(SjisToQ(Texts::BySenderTab));
    Tabs->addTab(SjisToQ(Texts::ByDomainTab));
    Tabs->setDrawBase(false);
    Tabs->setExpanding(false);
    CheckGroupButton = new QPushButton(SjisToQ(Texts::CheckGroupCaption), this);
    CheckGroupButton->setObjectName("CheckGroupButton");
    CheckGroupButton->setEnabled(false);
    FSorted = new TSenderSort(this);
    FSorted->setSourceModel(FModel);
    Table = new QTableView(this);
    Table->setObjectName("SenderTable");
    Table->setModel(FSorted);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setWordWrap(false);
    Table->verticalHeader()->hide();
    Table->verticalHeader()->setDefaultSectionSize(18);
    Table->setSortingEnabled(true);
    Table->sortByColumn(TSenderModel::SizeColumn, Qt::DescendingOrder);
    QHeaderView* header = Table->horizontalHeader();
    header->setSectionResizeMode(TSenderModel::NameColumn, QHeaderView::Stretch);
    const int widths[] = {0, 48, 70, 52, 118, 118};
    for (int c = 1; c < TSenderModel::ColumnCount; ++c)
        Table->setColumnWidth(c, widths[c]);

    RowMenu = new QMenu(this);
    RowMenu->setObjectName("SenderMenu");
    AlwaysCheckSender = RowMenu->addAction(SjisToQ(Texts::AlwaysCheckSenderItem));
    AlwaysCheckDomain = RowMenu->addAction(SjisToQ(Texts::AlwaysCheckDomainItem));
    KeepSender = RowMenu->addAction(SjisToQ(Texts::KeepSenderItem));
    Table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Table, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QModelIndex at = Table->indexAt(pos);
        if (!at.isValid())
            return;
        Table->selectRow(at.row());
        RowMenu->popup(Table->viewport()->mapToGlobal(pos));
    });
    connect(AlwaysCheckSender, &QAction::triggered, this, [this] { MakeRule(TRuleAction::Check, TRuleKind::Sender); });
    connect(AlwaysCheckDomain, &QAction::triggered, this, [this] { MakeRule(TRuleAction::Check, TRuleKind::Domain); });
    connect(KeepSender, &QAction::triggered, this, [this] { MakeRule(TRuleAction::Keep, TRuleKind::Sender); });
    connect(Tabs, &QTabBar::currentChanged, this, [this](int tab) {
        Guarded([&] { SetBy(tab == 1 ? TGroupBy::Domain : TGroupBy::Address); });
    });
    connect(CheckGroupButton, &QPushButton::clicked, this, [this] { Guarded([this] { CheckGroup(); }); });
    connect(Table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { Guarded([this] { SelectionChanged(); }); });
    // A cleared store starts the group numbers again: the selection goes at once.
    grouping.OnChanged = [this] {
        if (FGrouping->Count(TGroupBy::Address) == 0)
            Refresh();
        else
            FModel->Changed(isVisible());
    };
}

TSenderPanel::~TSenderPanel() { Detach(); }

void TSenderPanel::Detach()
{
    if (!FGrouping)
        return;
    FGrouping->OnChanged = nullptr;
    FGrouping = nullptr;
    FModel->Detach();
}

TGroupBy TSenderPanel::By() const { return FModel->By(); }

void TSenderPanel::SetBy(TGroupBy by)
{
    if (Tabs->currentIndex() != static_cast<int>(by))
        Tabs->setCurrentIndex(static_cast<int>(by));   // comes back here
    else if (by != FModel->By()) {
        FModel->SetBy(by);
        SelectionChanged();
    }
}

int TSenderPanel::Count() const { return FSorted->rowCount(); }

int TSenderPanel::GroupAt(int row) const { return FModel->Group(FSorted->mapToSource(FSorted->index(row, 0)).row()); }

int TSenderPanel::RowOfGroup(int group) const
{
    const int source = FModel->RowOf(group);
    return source < 0 ? -1 : FSorted->mapFromSource(FModel->index(source, 0)).row();
}

int TSenderPanel::Selected() const
{
    const QModelIndexList rows = Table->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : GroupAt(rows.first().row());
}

void TSenderPanel::Select(int group)
{
    const int row = RowOfGroup(group);
    if (row < 0)
        Table->clearSelection();
    else
        Table->selectRow(row);
}

// The table is made anew; the selected group stays selected while it has messages.
void TSenderPanel::Refresh()
{
    if (!FGrouping)
        return;
    const int selected = Selected();
    const QSignalBlocker quiet(Table->selectionModel());
    FModel->Refresh();
    Select(selected);
    if (Selected() != selected)
        SelectionChanged();
    CheckGroupButton->setEnabled(Selected() >= 0);
}

void TSenderPanel::CheckGroup()
{
    const int group = Selected();
    if (!FGrouping || group < 0)
        return;
    TMessageStore& store = FGrouping->Store();
    for (int row : FGrouping->Rows(By(), group))
        store.SetChecked(row, true);
}

void TSenderPanel::SelectionChanged()
{
    const int group = Selected();
    CheckGroupButton->setEnabled(group >= 0);
    UpdateRowMenu();
    if (OnGroupSelected)
        OnGroupSelected(By(), group);
}

// Rules need a sender: the groups of messages without one (or not known yet) make none, and
// a domain's row makes only a domain rule.
void TSenderPanel::UpdateRowMenu()
{
    const int group = Selected();
    const bool sender = FGrouping && group >= 0 && FGrouping->At(By(), group).Kind == TGroupKind::Sender;
    AlwaysCheckSender->setEnabled(sender && By() == TGroupBy::Address);
    KeepSender->setEnabled(sender && By() == TGroupBy::Address);
    AlwaysCheckDomain->setEnabled(sender);
}

void TSenderPanel::MakeRule(TRuleAction action, TRuleKind kind)
{
    const int group = Selected();
    if (!FGrouping || group < 0 || !OnMakeRule)
        return;
    const TSenderGroup& g = FGrouping->At(By(), group);
    if (g.Kind != TGroupKind::Sender)
        return;
    TRule rule;
    rule.Action = action;
    rule.Kind = kind;
    rule.Text = g.Key;
    if (kind == TRuleKind::Domain && By() == TGroupBy::Address)
        rule.Text = g.Key.substr(g.Key.rfind('@') + 1);
    Guarded([&] { OnMakeRule(rule); });
}

void TSenderPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (FModel->Stale())
        Refresh();
}

void TSenderPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int w = width();
    Tabs->setGeometry(0, 0, std::max(0, w - ButtonWidth - 4), TabHeight);
    CheckGroupButton->setGeometry(std::max(0, w - ButtonWidth - 2), 1, ButtonWidth, TabHeight - 2);
    Table->setGeometry(0, TabHeight, w, std::max(0, height() - TabHeight));
}
