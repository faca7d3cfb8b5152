// The windows need a QApplication; the offscreen platform keeps them off any display.
#include <QApplication>
#include <gtest/gtest.h>

#include "app/main/MessageBox.h"
#include "tests/app/TestSupport.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The windows' keyring calls find no session bus: the user's own keyring is never touched.
    // (A bus address that leads nowhere: without one, D-Bus may start a bus for the display.)
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/purgel-no-bus");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Purgel");
    InstallUnexpectedBoxHook();
    return RUN_ALL_TESTS();
}
