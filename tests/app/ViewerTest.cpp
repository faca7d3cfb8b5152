// The viewer window: its status bar, one viewer at a time, Esc closes it and clears `Mail`.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>

#include "app/mailboxview/MessageView.h"
#include "app/main/ListView.h"
#include "app/main/MainWindow.h"
#include "app/main/Sjis.h"
#include "app/main/StatusBar.h"
#include "app/main/Texts.h"
#include "app/viewer/Viewer.h"
#include "tests/app/TestSupport.h"
#include "tests/support/WidgetLayout.h"

namespace {
class ViewerTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        W = std::make_unique<TMain>();
        W->show();
        AddMessageRow(*W, "s", "f", 10, 3);
        W->Lv2->SetSelected(0, true);
    }
    void TearDown() override
    {
        W.reset();
        AppTest::TearDown();
    }
    std::unique_ptr<TMain> W;
};
}

TEST_F(ViewerTest, ANewViewerOpenedOfflineSaysSo)
{
    W->MenuItemClick(W->Pm2_1);
    ASSERT_NE(Mail, nullptr);
    EXPECT_EQ(Mail->parentWidget(), W.get());
    EXPECT_TRUE(Mail->isWindow());
    ASSERT_EQ(Mail->Sb->PanelCount(), 3);
    // Offline nothing will arrive: the viewer says so instead of waiting for ever.
    EXPECT_EQ(Mail->Sb->PanelText(0), Texts::Offline);
    EXPECT_EQ(Mail->Sb->Panel(0)->text(), SjisToQ(Texts::Offline));
    // The text above the status bar, its panels left to right, the word whole.
    testsupport::ExpectLaidOut(*Mail, {Mail->Memo, Mail->Sb->Panel(0), Mail->Sb->Panel(1), Mail->Sb->Panel(2)});
    EXPECT_TRUE(testsupport::Above(Mail->Memo, Mail->Sb));
    EXPECT_TRUE(testsupport::LeftOf(Mail->Sb->Panel(0), Mail->Sb->Panel(1)) &&
                testsupport::LeftOf(Mail->Sb->Panel(1), Mail->Sb->Panel(2)));
    EXPECT_EQ(Mail->Memo->toPlainText(), SjisToQ(Texts::ViewerOffline));
    EXPECT_TRUE(Mail->isVisible());
    EXPECT_EQ(Mail->Memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    Mail->SetLines({"\x8eR" /* sjis: 山 */, "b"});
    EXPECT_EQ(Mail->Memo->toPlainText(), SjisToQ("\x8eR" /* sjis: 山 */) + "\nb");
}

TEST_F(ViewerTest, AnotherViewReplacesTheOpenViewer)
{
    Guarded([this] { W->MenuItemClick(W->Pm2_2); });  // offline: says so
    QPointer<TMail> first = Mail;
    W->MenuItemClick(W->Pm2_1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    ASSERT_NE(Mail, nullptr);
    int viewers = 0;
    for (QWidget* w : W->findChildren<QWidget*>())
        viewers += dynamic_cast<TMail*>(w) != nullptr;
    EXPECT_EQ(viewers, 1);
}

TEST_F(ViewerTest, EscClosesTheViewerAndForgetsIt)
{
    W->MenuItemClick(W->Pm2_1);
    QPointer<TMail> viewer = Mail;
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(viewer->Memo, &esc);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(viewer.isNull());
    EXPECT_EQ(Mail, nullptr);
    W->MenuItemClick(W->Pm2_1);
    EXPECT_NE(Mail, nullptr);
}

TEST_F(ViewerTest, NoSelectedMessageOpensNoViewer)
{
    W->Lv2->clearSelection();
    W->MenuItemClick(W->Pm2_1);
    W->MenuItemClick(W->Pm2_2);
    W->ListViewDblClick(W->Lv2);
    EXPECT_EQ(Mail, nullptr);
}
