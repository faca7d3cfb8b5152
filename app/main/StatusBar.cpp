#include "app/main/StatusBar.h"

#include <QLabel>

#include "app/main/Sjis.h"

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent) {}

void TStatusBar::AddPanel(int width, Qt::Alignment alignment)
{
    auto* label = new QLabel(this);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setIndent(2);
    label->setTextFormat(Qt::PlainText);
    FPanels.push_back({label, width, {}});
    Realign();
}

int TStatusBar::PanelWidth(int index) const { return FPanels.at(static_cast<size_t>(index)).Width; }

QLabel* TStatusBar::Panel(int index) const { return FPanels.at(static_cast<size_t>(index)).Label; }

std::string TStatusBar::PanelText(int index) const { return FPanels.at(static_cast<size_t>(index)).Text; }

void TStatusBar::SetPanelText(int index, const std::string& text)
{
    TPanel& p = FPanels.at(static_cast<size_t>(index));
    p.Text = text;
    p.Label->setText(SjisToQ(text));
}

void TStatusBar::SetPanelUtf8(int index, std::string_view text)
{
    TPanel& p = FPanels.at(static_cast<size_t>(index));
    const QString shown = Utf8ToQ(text);
    p.Text = QToSjis(shown);
    p.Label->setText(shown);
}

void TStatusBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Realign();
}

void TStatusBar::Realign()
{
    int left = 0;
    for (const TPanel& p : FPanels) {
        // The last panel reaches to the bar's end, for a text longer than its width.
        const int width = &p == &FPanels.back() ? std::max(p.Width, this->width() - left) : p.Width;
        p.Label->setGeometry(left + 2, 2, std::max(0, width - 2), std::max(0, height() - 2));
        left += p.Width;
    }
}
