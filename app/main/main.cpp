// The program's entry: the application, its main window, the message loop.
#include <QApplication>
#include <memory>

#include "app/main/MainWindow.h"
#include "app/main/MessageBox.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The task-bar name and the title of the exception box; window titles stay as the windows set them.
    QApplication::setApplicationName("Purgel");
    Guarded([] {
        const auto window = std::make_unique<TMain>();
        window->show();
        QApplication::exec();
    });
    return 0;
}
