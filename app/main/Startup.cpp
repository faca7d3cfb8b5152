#include "app/main/Startup.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstring>
#include <ostream>

#include "mailbox/Environment.h"
#include "app/main/MessageBox.h"
#include "app/main/Sjis.h"
#include "app/main/Texts.h"

namespace {
std::string Utf8(const std::string& sjis) { return SjisToQ(sjis).toStdString(); }

// The path is the file system's (UTF-8), the texts around it Shift-JIS.
QString AppFolderText() { return QFile::decodeName(AppFolder().c_str()); }

QString FolderInUse()
{
    const bool beside = AppFolderPlace() == TFolderPlace::BesideExecutable;
    return SjisToQ(Texts::FilesAt) + SjisToQ(beside ? Texts::BesideExecutable : Texts::UserConfigFolder) + "\n" +
           AppFolderText();
}
}

std::optional<int> AnswerCommandLine(int argc, char** argv, std::ostream& out)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            out << "Purgel " PURGEL_VERSION "\n";
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            out << Utf8(Texts::Usage) << "\n\n" << Utf8(Texts::AboutSummary) << "\n\n"
                << Utf8(Texts::HelpOption) << "\n" << Utf8(Texts::VersionOption) << "\n\n"
                << FolderInUse().toStdString() << "\n";
            return 0;
        }
    }
    return std::nullopt;
}

QTranslator* LoadQtTranslation(QObject* owner)
{
    // The interface is Japanese whatever the system's language, so Qt's texts are too.
    auto* translator = new QTranslator(owner);
    if (translator->load(QLocale(QLocale::Japanese, QLocale::Japan), "qtbase", "_",
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator))
        return translator;
    delete translator;
    return nullptr;
}

QIcon ProgramIcon()
{
    // The built-in copy serves a program run from its build folder.
    QIcon builtIn;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        builtIn.addFile(QString(":/icons/%1x%1/%2.png").arg(size).arg(DesktopId));
    return QIcon::fromTheme(DesktopId, builtIn);
}

void SetUpApplication(QApplication& app)
{
    // The task-bar name and the title of the exception box; window titles stay as the windows set them.
    QApplication::setApplicationName("Purgel");
    QApplication::setApplicationVersion(PURGEL_VERSION);
    QGuiApplication::setDesktopFileName(DesktopId);
    QApplication::setWindowIcon(ProgramIcon());
    LoadQtTranslation(&app);
    if (AppFolderPlace() == TFolderPlace::UserConfig && !MakeUserFolder(AppFolder()))
        MessageBox(Texts::FolderNotMade + QToSjis(AppFolderText()), Texts::Confirm, TMsgIcon::Exclamation,
                   TMsgButtons::OK);
}

std::string AboutText()
{
    return std::string("Purgel ") + PURGEL_VERSION + "\n\n" + Texts::AboutSummary + "\n\n" + QToSjis(FolderInUse());
}
