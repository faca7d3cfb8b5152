#pragma once
// The program's start before and around its window: the answers to --help and --version
// (given without a display, before any QApplication exists), the desktop identity and icon
// of the application, Qt's own Japanese texts, the folder of the user's files, and the text
// of the About box.

#include <iosfwd>
#include <optional>
#include <string>

class QApplication;
class QIcon;
class QObject;
class QTranslator;

// The reverse-DNS id of the desktop entry, the icon and the AppStream metadata.
inline constexpr const char* DesktopId = "io.github.purgel.Purgel";

// "--help" (or "-h") or "--version" anywhere in the arguments: prints the answer to `out`
// (UTF-8) and gives the exit status. Any other command line gives nullopt; Qt's own options
// pass on to the application.
std::optional<int> AnswerCommandLine(int argc, char** argv, std::ostream& out);

// Installs Qt's Japanese texts (qtbase_ja: the standard buttons, the line edits' context
// menus, the file dialogs) into the application for as long as the returned translator,
// owned by `owner`, lives. Nullptr when Qt's translations are not installed.
QTranslator* LoadQtTranslation(QObject* owner);

// The program's icon: the installed theme's, else the copy built into the program.
QIcon ProgramIcon();

// The application's name, desktop file name (Wayland finds the icon by it), icon and Qt's
// Japanese texts; then the folder of the user's files is made, when it is theirs (0700).
// A folder that cannot be made is said in a message box; the program goes on.
void SetUpApplication(QApplication& app);

// The About box's text, Shift-JIS: name, version, what the program does, and the folder in use.
std::string AboutText();
