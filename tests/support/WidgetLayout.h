#pragma once
// What a person sees of a window's layout, without copying its pixels from the code: controls
// shown, with room for their text, inside the window, none over another, and their order on
// the screen. Header only: for test executables that link Qt Widgets.

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace testsupport {

inline QRect ScreenRect(const QWidget* w) { return {w->mapToGlobal(QPoint(0, 0)), w->size()}; }
// `upper` ends above where `lower` starts; `left` ends where `right` starts or before.
inline bool Above(const QWidget* upper, const QWidget* lower) { return ScreenRect(upper).bottom() < ScreenRect(lower).top(); }
inline bool LeftOf(const QWidget* left, const QWidget* right) { return ScreenRect(left).right() < ScreenRect(right).left(); }

// Each of `controls` is shown, not empty, wholly inside `window`, wide enough for its caption
// (buttons, labels), and overlaps none of the others.
inline void ExpectLaidOut(const QWidget& window, const std::vector<const QWidget*>& controls)
{
    const QRect inside = ScreenRect(&window);
    for (size_t i = 0; i < controls.size(); ++i) {
        const QWidget* c = controls[i];
        const QRect r = ScreenRect(c);
        const std::string name = c->objectName().isEmpty() ? "control " + std::to_string(i) : c->objectName().toStdString();
        EXPECT_TRUE(c->isVisible() && !r.isEmpty()) << name;
        EXPECT_TRUE(inside.contains(r)) << name << " lies outside the window";
        QString caption;
        if (const auto* b = qobject_cast<const QAbstractButton*>(c))
            caption = b->text();
        else if (const auto* l = qobject_cast<const QLabel*>(c))
            caption = l->text();
        EXPECT_LE(c->fontMetrics().horizontalAdvance(caption), c->contentsRect().width()) << name << " cuts its caption";
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(r.intersects(ScreenRect(controls[j]))) << name << " overlaps " << controls[j]->objectName().toStdString();
    }
}

} // namespace testsupport
