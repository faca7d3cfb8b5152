// Runs the platform tests under a QCoreApplication; under a QApplication when
// PURGEL_TEST_QAPPLICATION is set (the child process of GuiPumpTest).

#include <QApplication>
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<QCoreApplication> app;
    if (std::getenv("PURGEL_TEST_QAPPLICATION"))
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    return RUN_ALL_TESTS();
}
