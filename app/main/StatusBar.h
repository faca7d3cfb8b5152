#pragma once
// A status bar of fixed-width panels side by side, each showing one Shift-JIS (or UTF-8) text.
// Panel i starts after the widths of panels 0 to i-1 and keeps a 2-pixel margin on its left
// and top, which is where a control laid over it (the progress bar) goes. The last panel's
// text may run on to the bar's end.

#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

class QLabel;

class TStatusBar : public QWidget {
public:
    // The height the windows give their status bar.
    static constexpr int BarHeight = 19;

    explicit TStatusBar(QWidget* parent);

    void AddPanel(int width, Qt::Alignment alignment = Qt::AlignLeft);
    int PanelCount() const { return static_cast<int>(FPanels.size()); }
    int PanelWidth(int index) const;
    QLabel* Panel(int index) const;

    std::string PanelText(int index) const;
    void SetPanelText(int index, const std::string& text);
    // UTF-8 text, shown whatever its script; PanelText gives its Shift-JIS form, as near as
    // Shift-JIS holds it.
    void SetPanelUtf8(int index, std::string_view text);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Realign();

    struct TPanel {
        QLabel* Label;
        int Width;
        std::string Text;
    };
    std::vector<TPanel> FPanels;
};
