// The program's entry: the application, its main window, the message loop.
#include <QApplication>
#include <memory>

#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "pop3/PartFolder.h"
#include "runtime/SysUtils.h"

int main(int argc, char** argv)
{
#ifdef PURGEL_NO_CORE_FILES
    DisableCoreDumps();
#endif
    // The part files a crashed run could not remove.
    partfolder::RemoveStalePartFolders();
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
