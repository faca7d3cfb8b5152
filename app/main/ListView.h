#pragma once
// A report-style list: columns with header captions, grid lines, whole-row selection of one
// row. A row holds Shift-JIS fields, the caption and its sub-items (more than there are
// columns, if need be: the others are kept but not shown), and one integer of row data.
//
// The bytes of every field are kept exactly as given and returned unchanged; the cells show
// them decoded. A click below the last row removes the selection; OnDblClick fires for a
// double-click anywhere in the list. An empty list shows its EmptyHint.

#include <QTableWidget>
#include <functional>
#include <string>
#include <vector>

// The report style both lists share: grid lines, whole rows selected (one, or several with
// `multiSelect`), no editing, no row headers, rows 17 pixels high, fixed columns, and the
// selection shown while another control has the focus.
void SetReportStyle(QTableView* list, bool multiSelect);

class TListView : public QTableWidget {
public:
    explicit TListView(QWidget* parent);

    void AddColumn(const std::string& caption, int width, Qt::Alignment alignment = Qt::AlignLeft);

    int Count() const { return rowCount(); }
    // Appends a row (data 0, no sub-items) and returns its index.
    int AddItem(const std::string& caption);
    // Appends a whole row at once: one change of the list instead of one per field.
    int AddItem(const std::string& caption, const std::vector<std::string>& subItems, int data);
    void DeleteItem(int row);
    void ClearItems();

    std::string Caption(int row) const;
    void SetCaption(int row, const std::string& caption);
    int SubItemCount(int row) const;
    std::string SubItem(int row, int index) const;
    void AddSubItem(int row, const std::string& text);
    void SetSubItem(int row, int index, const std::string& text);
    int Data(int row) const;

    // The selected row, -1 when none is.
    int Selected() const;

    std::function<void()> OnDblClick;
    QString EmptyHint;
    int EmptyHintMargin = 0;   // room the hint leaves at the right (for a control there)

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QByteArrayList Fields(int row) const;
    void SetField(int row, int index, const std::string& text);

    std::vector<Qt::Alignment> FAlignments;
};
