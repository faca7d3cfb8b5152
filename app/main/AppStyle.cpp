#include "app/main/AppStyle.h"

#include <QApplication>
#include <QHelpEvent>
#include <QPalette>
#include <QPointer>
#include <QProxyStyle>
#include <QToolTip>
#include <QWidget>

namespace {
int gPause = 700;
int gHidePause = 10000;

class TAppStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_ToolTip_WakeUpDelay)
            return gPause;
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Qt has no setting for how long a tooltip stays, so the tooltip is shown here with that time.
class THintFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::ToolTip || !watched->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->toolTip().isEmpty())
            return false;
        const auto* help = static_cast<QHelpEvent*>(event);
        QToolTip::showText(help->globalPos(), widget->toolTip(), widget, QRect(), gHidePause);
        return true;
    }
};

QPointer<QStyle> gStyle;
QPointer<QObject> gFilter;
}

void UseAppStyle()
{
    if (!gStyle) {
        gStyle = new TAppStyle;
        QApplication::setStyle(gStyle);  // the application owns it from here
    }
}

void SetHintSettings(const QColor& color, int pauseMs, int hidePauseMs)
{
    UseAppStyle();
    gPause = pauseMs;
    gHidePause = hidePauseMs;
    QPalette palette = QToolTip::palette();
    palette.setColor(QPalette::ToolTipBase, color);
    palette.setColor(QPalette::ToolTipText, Qt::black);
    QToolTip::setPalette(palette);
    if (!gFilter) {
        gFilter = new THintFilter(qApp);
        qApp->installEventFilter(gFilter);
    }
}

int HintPause() { return gPause; }
int HintHidePause() { return gHidePause; }
