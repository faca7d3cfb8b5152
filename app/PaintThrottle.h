#pragma once
// Holds back the painting of a widget (and its children) while it changes many times a
// second, as the message list does during a listing: while the throttle lives, the widget
// is painted only by Frame(), which the caller runs when a frame is Due() (once per
// interval), and once more, in full, when the throttle ends. A table is also laid out only
// then (its scroll range follows the rows at the frames).
//
// The widget must outlive the throttle; the throttle is used on the widget's thread.

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

class TPaintThrottle {
public:
    explicit TPaintThrottle(QWidget* widget, int intervalMs = 50);
    ~TPaintThrottle();
    TPaintThrottle(const TPaintThrottle&) = delete;
    TPaintThrottle& operator=(const TPaintThrottle&) = delete;

    // The interval has passed since the last frame.
    bool Due() const { return FSinceFrame.elapsed() >= FInterval; }
    // Paints the widget now and starts the next interval.
    void Frame();

private:
    QPointer<QWidget> FWidget;
    bool FWasEnabled;
    int FInterval;
    QElapsedTimer FSinceFrame;
};
