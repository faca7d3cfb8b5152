// The program's entry: the answers of the command line, the application, its main window,
// the message loop.
#include <QApplication>
#include <iostream>
#include <memory>

#include "app/main/MainWindow.h"
#include "app/main/MessageBox.h"
#include "app/main/Startup.h"
#include "pop3/PartFolder.h"
#include "runtime/SysUtils.h"

int main(int argc, char** argv)
{
#ifdef PURGEL_NO_CORE_FILES
    DisableCoreDumps();
#endif
    // Before the application, which needs a display.
    if (const std::optional<int> answered = AnswerCommandLine(argc, argv, std::cout))
        return *answered;
    // The part files a crashed run could not remove.
    partfolder::RemoveStalePartFolders();
    QApplication app(argc, argv);
    SetUpApplication(app);
    Guarded([] {
        const auto window = std::make_unique<TMain>();
        window->show();
        QApplication::exec();
    });
    return 0;
}
