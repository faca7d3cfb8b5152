#pragma once
// A report-style list: columns with header captions, grid lines, whole-row selection,
// optionally a check box per row. A row holds Shift-JIS fields, the caption and its
// sub-items (more than there are columns, if need be: the others are kept but not shown),
// and one integer of row data.
//
// The bytes of every field are kept exactly as given and returned unchanged; the cells show
// them decoded, or as the column's format says. A click below the last row removes the
// selection; OnDblClick fires for a double-click anywhere in the list. Row indices are in
// list order: rows move only when SortByColumn (or a click on a sortable header) sorts them,
// and every row keeps its fields and data wherever it goes. Space toggles the check of the
// current row; the Delete key fires OnDeleteKey. An empty list shows its EmptyHint.
//
// Constructing a list raises std::logic_error when Qt's table no longer wires its row count
// to its layout the way this list takes over (a Qt change that would otherwise go unnoticed).

#include <QTableWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TListView : public QTableWidget {
public:
    TListView(QWidget* parent, bool checkBoxes, bool multiSelect);

    void AddColumn(const std::string& caption, int width, Qt::Alignment alignment = Qt::AlignLeft);
    // How a column shows a field and sorts it: the shown text, and a number to sort by
    // (rows without one sort by their shown text, after those with one).
    struct TColumnFormat {
        std::function<QString(const std::string&)> Text;
        std::function<std::optional<qint64>(const std::string&)> Key;
    };
    void SetColumnFormat(int column, TColumnFormat format);

    // A click on a header sorts by that column, a second click the other way.
    void SetSortable(bool sortable);
    void SortByColumn(int column, Qt::SortOrder order);
    // Sorts again by the last sort (after rows came back); nothing when never sorted.
    void Resort();
    int SortColumn() const { return FSortColumn; }

    int Count() const { return rowCount(); }
    // Appends a row (unchecked, data 0, no sub-items) and returns its index.
    int AddItem(const std::string& caption);
    // Appends a whole row at once (unchecked): one change of the list instead of one per field.
    int AddItem(const std::string& caption, const std::vector<std::string>& subItems, int data);
    // The same at index `row` (0 .. Count()); the rows from there move down.
    int InsertItem(int row, const std::string& caption, const std::vector<std::string>& subItems, int data);
    // The same for UTF-8 texts, caption first, shown whatever their script; the row's fields
    // keep their Shift-JIS form, as near as Shift-JIS holds them.
    int AddItemUtf8(const std::vector<std::string>& texts, int data);
    int InsertItemUtf8(int row, const std::vector<std::string>& texts, int data);
    void DeleteItem(int row);
    void ClearItems();

    std::string Caption(int row) const;
    // Field `index` (0 the caption) as it was given, in UTF-8: what InsertItemUtf8 takes back.
    std::string TextUtf8(int row, int index) const;
    void SetCaption(int row, const std::string& caption);
    int SubItemCount(int row) const;
    std::string SubItem(int row, int index) const;
    void AddSubItem(int row, const std::string& text);
    void SetSubItem(int row, int index, const std::string& text);

    bool Checked(int row) const;
    void SetChecked(int row, bool checked);
    int Data(int row) const;
    void SetData(int row, int data);

    // The first selected row in list order, -1 when none is.
    int Selected() const;
    bool IsSelected(int row) const;
    void SetSelected(int row, bool selected);

    // Appending many rows in a row (a listing): between BeginAppending and EndAppending the
    // view is laid out and the appended rows are painted only by ShowAppended, at the
    // caller's pace, instead of after every row; the list itself is always complete.
    // Everything else (selection, scrolling, painting what changed otherwise) works as usual.
    void BeginAppending();
    void ShowAppended();
    void EndAppending();

    std::function<void()> OnDblClick;
    std::function<void()> OnDeleteKey;
    QString EmptyHint;
    int EmptyHintMargin = 0;   // room the hint leaves at the right (for a control there)

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int InsertRow(int row, const QByteArrayList& fields, const QStringList& texts, int data);
    QByteArrayList Fields(int row) const;
    void SetField(int row, int index, const std::string& text);
    void TakeOverRowCount();
    void ConnectRowCount();

    // A column with a format shows the field its way; any other shows `text`.
    void ShowField(QTableWidgetItem* cell, int column, const std::string& field, const QString& text) const;

    bool FCheckBoxes;
    std::vector<Qt::Alignment> FAlignments;
    std::vector<TColumnFormat> FFormats;
    int FSortColumn = -1;
    Qt::SortOrder FSortOrder = Qt::AscendingOrder;
    bool FAppending = false;
    int FShownRows = 0;   // rows laid out and painted while appending
    // The table's layout after a change of the row count; detached while appending.
    QMetaObject::Connection FRowCountConnection;
};
