#pragma once
// TMessageView: the message list `Lv2`, a table over a TMessageFilter (rows as they are
// shown: filtered, sorted). Report style: grid lines, whole-row selection of several rows, no
// editing, a check box per row. A click on a column's header sorts by it, a second click the
// other way; a click below the last row removes the selection; Space toggles the check of
// the current row; the Delete key fires OnDeleteKey; OnDblClick fires for a double-click
// anywhere in the list.
//
// Rows are the filter's rows: `row` below is a shown row, counted from 0 in the order shown.
// The view neither owns its models nor outlives them unless they are taken from it first.

#include <QTableView>
#include <functional>

class TMessageFilter;
class TMessageModel;
struct TMessageRecord;

class TMessageView : public QTableView {
public:
    explicit TMessageView(QWidget* parent);

    void SetModels(TMessageFilter* filter);
    TMessageFilter* Filter() const { return FFilter; }

    int Count() const;
    // The message number of a row.
    int Data(int row) const;
    const TMessageRecord& Record(int row) const;
    // The row of message `number`, -1 when it is not shown.
    int RowOf(int number) const;
    // The text a cell shows.
    QString Text(int row, int column) const;

    bool Checked(int row) const;
    void SetChecked(int row, bool checked);

    // The first selected row in the order shown, -1 when none is.
    int Selected() const;
    void SetSelected(int row, bool selected);
    // Selects the row and scrolls it into view (the delete command shows where it is).
    void ShowRow(int row);

    void SortByColumn(int column, Qt::SortOrder order);
    int SortColumn() const { return FSortColumn; }

    std::function<void()> OnDblClick;
    std::function<void()> OnDeleteKey;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    TMessageFilter* FFilter = nullptr;
    int FSortColumn = -1;
    Qt::SortOrder FSortOrder = Qt::AscendingOrder;
};
