#include "app/main/ListView.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>

#include "app/main/Sjis.h"

namespace {
constexpr int DataRole = Qt::UserRole;
constexpr int FieldsRole = Qt::UserRole + 1;
constexpr int RowHeight = 17;

QByteArray ToBytes(const std::string& s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }
}

void SetReportStyle(QTableView* list, bool multiSelect)
{
    list->setShowGrid(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(multiSelect ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSortingEnabled(false);
    list->setWordWrap(false);
    list->setTabKeyNavigation(false);  // Tab leaves the list like every other control
    list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    list->verticalHeader()->hide();
    list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list->verticalHeader()->setDefaultSectionSize(RowHeight);
    QHeaderView* header = list->horizontalHeader();
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    header->setSectionsMovable(false);
    header->setSectionsClickable(false);  // a click on a column selects nothing
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The selection stays visible while another control has the focus.
    QPalette p = list->palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    list->setPalette(p);
}

TListView::TListView(QWidget* parent) : QTableWidget(parent) { SetReportStyle(this, false); }

void TListView::AddColumn(const std::string& caption, int width, Qt::Alignment alignment)
{
    const int column = columnCount();
    setColumnCount(column + 1);
    auto* header = new QTableWidgetItem(SjisToQ(caption));
    header->setTextAlignment(alignment | Qt::AlignVCenter);
    setHorizontalHeaderItem(column, header);
    setColumnWidth(column, width);
    FAlignments.push_back(alignment);
}

int TListView::AddItem(const std::string& caption) { return AddItem(caption, {}, 0); }

int TListView::AddItem(const std::string& caption, const std::vector<std::string>& subItems, int data)
{
    QByteArrayList fields{ToBytes(caption)};
    for (const std::string& s : subItems)
        fields.append(ToBytes(s));
    // The cells are complete before they join the table, so the view hears of the row once.
    std::vector<QTableWidgetItem*> cells;
    for (int c = 0; c < columnCount(); ++c) {
        auto* cell = new QTableWidgetItem;
        cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        cell->setTextAlignment(FAlignments[static_cast<size_t>(c)] | Qt::AlignVCenter);
        if (c == 0) {
            cell->setData(DataRole, data);
            cell->setData(FieldsRole, QVariant::fromValue(fields));
        }
        if (c < fields.size())
            cell->setText(SjisToQ(std::string_view(fields[c].constData(), static_cast<size_t>(fields[c].size()))));
        cells.push_back(cell);
    }
    const int row = rowCount();
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

void TListView::DeleteItem(int row)
{
    // No row takes over the deleted one's selection, where Qt would select the neighbour of a
    // deleted current row.
    const bool keep = Selected() >= 0 && Selected() != row;
    const int selected = Selected() > row ? Selected() - 1 : Selected();
    removeRow(row);
    clearSelection();
    if (keep)
        selectRow(selected);
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
    if (index < columnCount())
        if (QTableWidgetItem* shown = item(row, index))
            shown->setText(SjisToQ(text));
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

int TListView::Data(int row) const
{
    const QTableWidgetItem* cell = item(row, 0);
    return cell ? cell->data(DataRole).toInt() : 0;
}

int TListView::Selected() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TListView::mousePressEvent(QMouseEvent* event)
{
    if (!indexAt(event->position().toPoint()).isValid())
        clearSelection();
    QTableWidget::mousePressEvent(event);
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
