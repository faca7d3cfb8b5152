#include "app/main/ListView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <stdexcept>

#include "app/main/Sjis.h"

namespace {
constexpr int DataRole = Qt::UserRole;
constexpr int FieldsRole = Qt::UserRole + 1;
constexpr int RowHeight = 17;
constexpr int SortRole = Qt::UserRole + 2;
constexpr int TextsRole = Qt::UserRole + 3;   // the fields as given, whatever their script

// A cell that sorts by its sort key when it has one, else by its text.
class TListItem : public QTableWidgetItem {
public:
    bool operator<(const QTableWidgetItem& other) const override
    {
        const QVariant a = data(SortRole), b = other.data(SortRole);
        if (a.isValid() != b.isValid())
            return a.isValid();
        if (a.isValid())
            return a.toLongLong() < b.toLongLong();
        // Full- and half-width forms of a letter or kana sort together, case ignored.
        return text().normalized(QString::NormalizationForm_KC).toCaseFolded() <
               other.text().normalized(QString::NormalizationForm_KC).toCaseFolded();
    }
};

QByteArray ToBytes(const std::string& s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }
}

TListView::TListView(QWidget* parent, bool checkBoxes, bool multiSelect)
    : QTableWidget(parent), FCheckBoxes(checkBoxes)
{
    setShowGrid(true);
    setSelectionBehavior(SelectRows);
    setSelectionMode(multiSelect ? ExtendedSelection : SingleSelection);
    setEditTriggers(NoEditTriggers);
    setSortingEnabled(false);
    setWordWrap(false);
    setTabKeyNavigation(false);  // Tab leaves the list like every other control
    setHorizontalScrollMode(ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(RowHeight);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setSectionsClickable(false);  // a click on a column selects nothing
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The selection stays visible while another control has the focus.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);
    TakeOverRowCount();
}

void TListView::AddColumn(const std::string& caption, int width, Qt::Alignment alignment)
{
    const int column = columnCount();
    setColumnCount(column + 1);
    auto* header = new QTableWidgetItem(SjisToQ(caption));
    header->setTextAlignment(alignment | Qt::AlignVCenter);
    setHorizontalHeaderItem(column, header);
    setColumnWidth(column, width);
    FAlignments.push_back(alignment);
    FFormats.emplace_back();
}

void TListView::SetColumnFormat(int column, TColumnFormat format)
{
    if (column >= 0 && column < static_cast<int>(FFormats.size()))
        FFormats[static_cast<size_t>(column)] = std::move(format);
}

void TListView::ShowField(QTableWidgetItem* cell, int column, const std::string& field, const QString& text) const
{
    const TColumnFormat& f = FFormats[static_cast<size_t>(column)];
    cell->setText(f.Text ? f.Text(field) : text);
    std::optional<qint64> key;
    if (f.Key)
        key = f.Key(field);
    cell->setData(SortRole, key ? QVariant(*key) : QVariant());
}

void TListView::SetSortable(bool sortable)
{
    horizontalHeader()->setSectionsClickable(sortable);
    horizontalHeader()->setSortIndicatorShown(sortable);
    if (sortable)
        connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
            SortByColumn(column, column == FSortColumn && FSortOrder == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                                          : Qt::AscendingOrder);
        });
}

void TListView::SortByColumn(int column, Qt::SortOrder order)
{
    FSortColumn = column;
    FSortOrder = order;
    horizontalHeader()->setSortIndicator(column, order);
    sortItems(column, order);
}

void TListView::Resort()
{
    if (FSortColumn >= 0)
        sortItems(FSortColumn, FSortOrder);
}

int TListView::AddItem(const std::string& caption) { return AddItem(caption, {}, 0); }

int TListView::AddItem(const std::string& caption, const std::vector<std::string>& subItems, int data)
{
    return InsertItem(rowCount(), caption, subItems, data);
}

int TListView::InsertItem(int row, const std::string& caption, const std::vector<std::string>& subItems, int data)
{
    QByteArrayList fields{ToBytes(caption)};
    for (const std::string& s : subItems)
        fields.append(ToBytes(s));
    QStringList texts;
    for (const QByteArray& f : fields)
        texts.append(SjisToQ(std::string_view(f.constData(), static_cast<size_t>(f.size()))));
    return InsertRow(row, fields, texts, data);
}

int TListView::AddItemUtf8(const std::vector<std::string>& texts, int data)
{
    return InsertItemUtf8(rowCount(), texts, data);
}

int TListView::InsertItemUtf8(int row, const std::vector<std::string>& texts, int data)
{
    QByteArrayList fields;
    QStringList shown;
    for (const std::string& text : texts) {
        shown.append(Utf8ToQ(text));
        fields.append(ToBytes(QToSjis(shown.back())));
    }
    return InsertRow(row, fields, shown, data);
}

int TListView::InsertRow(int row, const QByteArrayList& fields, const QStringList& texts, int data)
{
    // The cells are complete before they join the table, so the view hears of the row once.
    std::vector<QTableWidgetItem*> cells;
    for (int c = 0; c < columnCount(); ++c) {
        auto* cell = new TListItem;
        Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
        if (c == 0 && FCheckBoxes)
            flags |= Qt::ItemIsUserCheckable;
        cell->setFlags(flags);
        cell->setTextAlignment(FAlignments[static_cast<size_t>(c)] | Qt::AlignVCenter);
        if (c == 0) {
            if (FCheckBoxes)
                cell->setCheckState(Qt::Unchecked);
            cell->setData(DataRole, data);
            cell->setData(FieldsRole, QVariant::fromValue(fields));
            cell->setData(TextsRole, texts);
        }
        if (c < fields.size())
            ShowField(cell, c, std::string(fields[c].constData(), static_cast<size_t>(fields[c].size())), texts[c]);
        cells.push_back(cell);
    }
    insertRow(row);
    {
        // The new row makes the view lay itself out and repaint anyway; that its empty cells
        // got their contents needs no notice of its own.
        const QSignalBlocker quiet(model());
        for (int c = 0; c < columnCount(); ++c)
            setItem(row, c, cells[static_cast<size_t>(c)]);
    }
    return row;
}

// The table's own connection of the header's row count to its layout is named by strings;
// it is replaced by one this list holds, so that appending can detach it. Both names are
// checked: the slot by the compiler, the string connection by the result of disconnecting it.
void TListView::TakeOverRowCount()
{
    if (!disconnect(verticalHeader(), SIGNAL(sectionCountChanged(int,int)), this, SLOT(rowCountChanged(int,int))))
        throw std::logic_error("QTableView no longer connects sectionCountChanged to rowCountChanged");
    ConnectRowCount();
}

void TListView::ConnectRowCount()
{
    FRowCountConnection =
        connect(verticalHeader(), &QHeaderView::sectionCountChanged, this, &TListView::rowCountChanged);
}

// A table lays itself out anew (scroll range, header, a repaint of every visible row) on a
// timer after each row added: more work than the row itself.
void TListView::BeginAppending()
{
    if (FAppending)
        return;
    FAppending = true;
    FShownRows = rowCount();
    disconnect(FRowCountConnection);
}

void TListView::ShowAppended()
{
    if (!FAppending || FShownRows == rowCount())
        return;
    updateGeometries();
    if (FShownRows > rowCount() || rowCount() == 0) {  // rows went meanwhile
        FShownRows = rowCount();
        viewport()->update();
        return;
    }
    const QRect first = visualRect(model()->index(FShownRows, 0));
    if (first.top() < viewport()->height())
        viewport()->update(QRect(0, std::max(0, first.top()), viewport()->width(), viewport()->height()));
    FShownRows = rowCount();
}

void TListView::EndAppending()
{
    if (!FAppending)
        return;
    FAppending = false;
    ConnectRowCount();
    doItemsLayout();
}

void TListView::DeleteItem(int row)
{
    // The other rows keep their selection and no row takes over the deleted one's, where Qt
    // would select the neighbour of a deleted current row.
    // (The indexes are made after the removal: a selection holds persistent indexes.)
    std::vector<int> kept;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        if (index.row() != row)
            kept.push_back(index.row() > row ? index.row() - 1 : index.row());
    removeRow(row);
    QItemSelection keep;
    for (int r : kept)
        keep.select(model()->index(r, 0), model()->index(r, 0));
    selectionModel()->select(keep, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TListView::ClearItems() { setRowCount(0); }

QByteArrayList TListView::Fields(int row) const
{
    const QTableWidgetItem* cell = item(row, 0);
    return cell ? cell->data(FieldsRole).value<QByteArrayList>() : QByteArrayList();
}

void TListView::SetField(int row, int index, const std::string& text)
{
    QTableWidgetItem* cell = item(row, 0);
    if (!cell)
        return;
    QByteArrayList fields = cell->data(FieldsRole).value<QByteArrayList>();
    while (fields.size() <= index)
        fields.append(QByteArray());
    fields[index] = ToBytes(text);
    cell->setData(FieldsRole, QVariant::fromValue(fields));
    QStringList texts = cell->data(TextsRole).toStringList();
    while (texts.size() <= index)
        texts.append(QString());
    texts[index] = SjisToQ(text);
    cell->setData(TextsRole, texts);
    if (index < columnCount())
        if (QTableWidgetItem* shown = item(row, index))
            ShowField(shown, index, text, texts[index]);
}

std::string TListView::TextUtf8(int row, int index) const
{
    const QTableWidgetItem* cell = item(row, 0);
    const QStringList texts = cell ? cell->data(TextsRole).toStringList() : QStringList();
    return index >= 0 && index < texts.size() ? texts[index].toUtf8().toStdString() : std::string();
}

std::string TListView::Caption(int row) const { return SubItem(row, -1); }

void TListView::SetCaption(int row, const std::string& caption) { SetField(row, 0, caption); }

int TListView::SubItemCount(int row) const { return std::max<int>(0, static_cast<int>(Fields(row).size()) - 1); }

std::string TListView::SubItem(int row, int index) const
{
    const QByteArrayList fields = Fields(row);
    if (index + 1 < 0 || index + 1 >= fields.size())
        return std::string();
    const QByteArray& b = fields[index + 1];
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

void TListView::AddSubItem(int row, const std::string& text) { SetField(row, SubItemCount(row) + 1, text); }

void TListView::SetSubItem(int row, int index, const std::string& text) { SetField(row, index + 1, text); }

bool TListView::Checked(int row) const
{
    const QTableWidgetItem* cell = item(row, 0);
    return cell && cell->checkState() == Qt::Checked;
}

void TListView::SetChecked(int row, bool checked)
{
    if (QTableWidgetItem* cell = item(row, 0); cell && FCheckBoxes)
        cell->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

int TListView::Data(int row) const
{
    const QTableWidgetItem* cell = item(row, 0);
    return cell ? cell->data(DataRole).toInt() : 0;
}

void TListView::SetData(int row, int data)
{
    if (QTableWidgetItem* cell = item(row, 0))
        cell->setData(DataRole, data);
}

int TListView::Selected() const
{
    int first = -1;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        if (first < 0 || index.row() < first)
            first = index.row();
    return first;
}

bool TListView::IsSelected(int row) const { return selectionModel()->isRowSelected(row, QModelIndex()); }

void TListView::SetSelected(int row, bool selected)
{
    const auto flags = (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) | QItemSelectionModel::Rows;
    selectionModel()->select(model()->index(row, 0), flags);
}

void TListView::mousePressEvent(QMouseEvent* event)
{
    if (!indexAt(event->position().toPoint()).isValid())
        clearSelection();
    QTableWidget::mousePressEvent(event);
}

void TListView::keyPressEvent(QKeyEvent* event)
{
    const int row = currentRow();
    if (event->key() == Qt::Key_Space && FCheckBoxes && row >= 0 && event->modifiers() == Qt::NoModifier) {
        SetChecked(row, !Checked(row));
        return;
    }
    if (event->key() == Qt::Key_Delete && OnDeleteKey) {
        OnDeleteKey();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

void TListView::paintEvent(QPaintEvent* event)
{
    QTableWidget::paintEvent(event);
    if (rowCount() > 0 || EmptyHint.isEmpty())
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(viewport()->rect().adjusted(8, 8, -8 - EmptyHintMargin, -8), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     EmptyHint);
}

void TListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTableWidget::mouseDoubleClickEvent(event);
    if (OnDblClick)
        OnDblClick();
}
