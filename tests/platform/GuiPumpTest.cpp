// The pump nested in the handlers of a real event loop: a button handler of a QApplication
// (as the GUI calls the network operations) and a plain exec() loop.

#include "platform/Window.h"
#include "tests/support/QtTestMain.h"

#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A hidden window whose timer ticks every `ms` milliseconds, counting the ticks.
struct Ticker {
    int Ticks = 0;
    platform::WindowHandle W = 0;
    explicit Ticker(unsigned ms)
    {
        W = platform::AllocateHWnd([this](unsigned msg, platform::WPARAM, platform::LPARAM) {
            Ticks += msg == platform::WM_TIMER;
            return platform::LPARAM(0);
        });
        platform::SetTimer(W, 1, ms);
    }
    ~Ticker() { platform::DeallocateHWnd(W); }
};

bool UnderQApplication()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

} // namespace

TEST(GuiPump, WaitsNestedInAButtonHandlerOfAQApplication)
{
    if (!UnderQApplication()) {
        // Run this test again in a child process that has a QApplication.
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PURGEL_TEST_QAPPLICATION", "1");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=GuiPump.WaitsNestedInAButtonHandlerOfAQApplication"});
        ASSERT_TRUE(child.waitForFinished(30000));
        EXPECT_EQ(child.exitCode(), 0) << child.readAll().toStdString();
        return;
    }
    QPushButton button("connect");
    bool received = false, ticked = false, handled = false;
    platform::WindowHandle w = platform::AllocateHWnd([&](unsigned msg, platform::WPARAM, platform::LPARAM) {
        if (msg == 1234)
            button.click();   // posted before exec(): delivered by the application's own loop
        received = received || msg == 1235;
        ticked = ticked || msg == platform::WM_TIMER;
        return platform::LPARAM(0);
    });
    QObject::connect(&button, &QPushButton::clicked, [&] {
        // A blocking-looking operation inside the handler: wait for a message from another
        // thread and a timer tick, pumping the application's events meanwhile.
        std::thread poster([w] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            platform::PostMessage(w, 1235, 0, 0);
        });
        platform::SetTimer(w, 1, 30);
        while (!(received && ticked))
            platform::HandleMessage();
        platform::KillTimer(w, 1);
        poster.join();
        handled = true;
        QCoreApplication::quit();
    });
    platform::PostMessage(w, 1234, 0, 0);
    QTimer::singleShot(10000, [] { QCoreApplication::exit(2); });
    EXPECT_EQ(QApplication::exec(), 0);
    platform::DeallocateHWnd(w);
    EXPECT_TRUE(handled);
}

TEST(GuiPump, QtEventsKeepComingWhileTheThreadsOwnMessagesDo)
{
    // A window timer ticking every millisecond keeps the pump busy with the thread's own
    // messages, which it takes without a round of Qt's dispatcher; Qt's own events (a
    // queued call, a Qt timer: what user input and repaints are made of) still come.
    Ticker ticker(1);
    const int& ticks = ticker.Ticks;
    EXPECT_TRUE(testsupport::PumpUntil([&] { return ticks >= 5; }, 2s));
    bool queued = false, timed = false;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&queued] { queued = true; }, Qt::QueuedConnection);
    QTimer::singleShot(20, [&timed] { timed = true; });
    const int ticksBefore = ticks;
    const auto deadline = testsupport::Clock::now() + testsupport::Generous(2s);
    while (!(queued && timed) && testsupport::Clock::now() < deadline)
        platform::HandleMessage();
    EXPECT_TRUE(queued);
    EXPECT_TRUE(timed);
    EXPECT_GT(ticks, ticksBefore) << "the thread's own messages came meanwhile";
}

TEST(GuiPump, AnIdlePumpReturnsOnlyForEvents)
{
    // Between the events of a slow timer the pump blocks: it neither polls nor wakes up
    // for nothing (its short cut ends at most once after each event).
    EXPECT_LE(testsupport::PumpReturnsFor(6, 40), 2 * 6 + 2);
}

TEST(GuiPump, MessagesAndTicksReachWindowsWhileAnExecLoopRuns)
{
    if (UnderQApplication())
        GTEST_SKIP() << "runs under the plain application object";
    int ticks = 0;
    bool posted = false;
    platform::WindowHandle w = platform::AllocateHWnd([&](unsigned msg, platform::WPARAM, platform::LPARAM) {
        posted = posted || msg == 1300;
        if (msg == platform::WM_TIMER && ++ticks == 3)
            QCoreApplication::quit();
        return platform::LPARAM(0);
    });
    platform::PostMessage(w, 1300, 0, 0);
    platform::SetTimer(w, 1, 20);
    QTimer::singleShot(5000, [] { QCoreApplication::exit(2); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    platform::DeallocateHWnd(w);
    EXPECT_TRUE(posted);
    EXPECT_EQ(ticks, 3);
}
