// Renders the main window, the account dialog, the viewer and a message box to PNG files,
// offscreen: purgel-screenshots <output folder>. The main window connects to a demo POP3
// server started inside this process and lists its generated Japanese mailbox through the
// program's own component (one picture during the listing, one after); the viewer shows one
// of those messages as fetched.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

#include "app/AccountDialog.h"
#include "app/AccountFile.h"
#include "app/Environment.h"
#include "app/ListView.h"
#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "app/StatusBar.h"
#include "app/Texts.h"
#include "app/Viewer.h"
#include "runtime/StringList.h"
#include "tools/DemoMailbox.h"
#include "tools/DemoServer.h"

namespace {
// Pending paints are done first, unless the window is in the middle of a listing (then
// nothing may run the loop behind the listing's back).
bool Save(QWidget* w, const QDir& folder, const char* name, bool settle = true)
{
    if (settle)
        QApplication::processEvents();
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (!w->grab().save(path, "PNG")) {
        std::fprintf(stderr, "purgel-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The first message of the mailbox with a Japanese text body and no attachment.
int JapaneseTextMessage(const std::vector<demo::DemoMessage>& mailbox)
{
    for (size_t i = 0; i < mailbox.size(); ++i)
        if (mailbox[i].Code == demo::BodyCode::Jis && mailbox[i].Attachments.empty() && i > 0)
            return static_cast<int>(i);
    return 0;
}

void Choose(TMain& window, int row, QAction* item)
{
    window.Lv2->clearSelection();
    window.Lv2->SetSelected(row, true);
    window.Lv2->scrollToItem(window.Lv2->item(row, 0));
    window.MenuItemClick(window.Pm2);
    item->trigger();
}

// The account file the window loads: the demo server first, then three made-up accounts.
// Returns the second, which the account dialog and the message box show.
TAccountFields WriteAccounts(int port)
{
    const TAccountFields demoAccount{"\x83" "f\x83\x82" /* sjis: デモ */, "demo", "demo", "127.0.0.1", "30",
                                     std::to_string(port)};
    const TAccountFields company{"\x89\xef\x8e\xd0\x82\xcc\x83\x81\x81[\x83\x8b" /* sjis: 会社のメール */,
                                 "taro", "secret", "pop.example.jp", "30", "110"};
    const TAccountFields provider{"\x83v\x83\x8d\x83o\x83" "C\x83_" /* sjis: プロバイダ */,
                                  "yamada", "secret", "mail.example.ne.jp", "60", "110"};
    const TAccountFields mobile{"\x8cg\x91\xd1\x93]\x91\x97\x97p" /* sjis: 携帯転送用 */,
                                "m-yamada", "secret", "pop.example.com", "30", "995"};
    SaveAccountFile(AccountFileName(), {demoAccount, company, provider, mobile});
    return company;
}

// Lists the demo mailbox in the main window and saves every window of the program.
bool TakePictures(const QDir& out, const std::vector<demo::DemoMessage>& mailbox, const TAccountFields& company)
{
    bool ok = true;
    const int viewed = JapaneseTextMessage(mailbox);
    TMain window;
    window.show();
    window.Lv1->selectRow(0);
    // One picture while the listing runs, taken as a row comes in.
    const int during = static_cast<int>(mailbox.size()) * 5 / 6;
    const auto hook = QObject::connect(window.Lv2->model(), &QAbstractItemModel::rowsInserted,
                                       [&](const QModelIndex&, int, int last) {
                                           if (last + 1 == during)
                                               ok = Save(&window, out, "listing.png", false) && ok;
                                       });
    window.SpeedButton1->click();  // connects and lists the demo mailbox
    QObject::disconnect(hook);
    if (window.Lv2->Count() != static_cast<int>(mailbox.size())) {
        std::fprintf(stderr, "purgel-screenshots: %d rows listed instead of %zu\n", window.Lv2->Count(),
                     mailbox.size());
        ok = false;
    }
    window.Lv2->SetChecked(2, true);
    window.Lv2->SetChecked(3, true);
    window.Lv2->scrollToTop();
    ok = Save(&window, out, "main.png") && ok;

    TStringList fields;
    for (const auto& f : company)
        fields.Add(f);
    TPasswordChoice password;
    password.KeyringAvailable = true;
    auto* dialog = new TAcco(&window, fields, password);
    dialog->show();
    ok = Save(dialog, out, "account.png") && ok;
    dialog->close();

    // A viewer is saved once its content has arrived ("受信中" gone).
    auto view = [&](QAction* item, const char* name) {
        Choose(window, viewed, item);
        if (Mail && Mail->Sb->PanelText(0).empty())
            return Save(Mail, out, name);
        std::fprintf(stderr, "purgel-screenshots: nothing arrived for %s\n", name);
        return false;
    };
    ok = view(window.Pm2_1, "viewer.png") && ok;
    ok = view(window.Pm2_2, "header.png") && ok;
    if (Mail)
        Mail->close();

    // The box is modal: it is taken and closed from inside its own loop.
    QTimer::singleShot(0, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            ok = Save(box, out, "message.png") && ok;
            box->close();
        }
    });
    window.Lv1->setFocus();
    MessageBox(company[afName] + "\n" + Texts::AskDeleteAccount, Texts::Confirm, TMsgIcon::Question,
               TMsgButtons::YesNo, 1);
    return ok;
}
}

int main(int argc, char** argv)
{
    // No keyring: the pictures never touch the user's, and no offer to move the demo
    // passwords into it stands in front of the window.
    // (A bus address that leads nowhere: without one, D-Bus may start a bus for the display.)
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/purgel-no-bus");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Purgel");
    if (argc != 2) {
        std::fprintf(stderr, "usage: purgel-screenshots <output folder>\n");
        return 2;
    }
    const QDir out(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "purgel-screenshots: cannot create %s\n", argv[1]);
        return 1;
    }
    // The window reads and writes its files here, never beside this executable, and the
    // part files of viewed messages land here too.
    QTemporaryDir files;
    SetAppFolder(files.path().toStdString());
    SetScreenSize(TScreenSize{1024, 768});
    char cwd[4096];
    const std::string oldDir = getcwd(cwd, sizeof cwd) ? cwd : ".";
    if (chdir(files.path().toLocal8Bit().constData()) != 0)
        return 1;

    // Large enough for the listing to last a few frames of the progress bar.
    const std::vector<demo::DemoMessage> mailbox = demo::GenerateMailbox(1, 2000);
    TDemoPop3Server server(nullptr);
    server.Store = demo::MessageStore::InMemory(demo::ToStoredMessages(mailbox, 1));
    server.Credentials = {"", "demo"};
    int port = 0;
    try {
        port = server.ListenOnLoopback(0);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "purgel-screenshots: the demo server does not start: %s\n", e.what());
        return 1;
    }
    const TAccountFields company = WriteAccounts(port);
    bool ok = TakePictures(out, mailbox, company);
    SetAppFolder("");
    if (chdir(oldDir.c_str()) != 0)
        ok = false;
    return ok ? 0 : 1;
}
