// Renders the main window, the account dialog, the viewer and a message box to PNG files, offscreen, with
// sample accounts and messages: purgel-screenshots <output folder>.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/AccountDialog.h"
#include "app/AccountFile.h"
#include "app/Environment.h"
#include "app/ListView.h"
#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "app/StatusBar.h"
#include "app/Viewer.h"
#include "runtime/StringList.h"

namespace {
bool Save(QWidget* w, const QDir& folder, const char* name)
{
    QApplication::processEvents();
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (!w->grab().save(path, "PNG")) {
        std::fprintf(stderr, "purgel-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Purgel");
    if (argc != 2) {
        std::fprintf(stderr, "usage: purgel-screenshots <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "purgel-screenshots: cannot create %s\n", argv[1]);
        return 1;
    }
    // The window reads and writes its files here, never beside this executable.
    QTemporaryDir files;
    SetAppFolder(files.path().toStdString());
    SetScreenSize(TScreenSize{1024, 768});
    const TAccountFields company{"\x89\xef\x8e\xd0\x82\xcc\x83\x81\x81[\x83\x8b" /* sjis: 会社のメール */,
                                 "taro", "secret", "pop.example.jp", "30", "110"};
    const TAccountFields provider{"\x83v\x83\x8d\x83o\x83" "C\x83_" /* sjis: プロバイダ */,
                                  "yamada", "secret", "mail.example.ne.jp", "60", "110"};
    const TAccountFields mobile{"\x8cg\x91\xd1\x93]\x91\x97\x97p" /* sjis: 携帯転送用 */,
                                "m-yamada", "secret", "pop.example.com", "30", "995"};
    SaveAccountFile(AccountFileName(), {company, provider, mobile});

    bool ok = true;
    {
        TMain window;
        window.show();
        window.Lv1->selectRow(0);
        window.AddMessageRow("\x90V\x92\x85\x82\xcc\x82\xa8\x92m\x82\xe7\x82\xb9" /* sjis: 新着のお知らせ */,
                             "\x8eR\x93" "c \x91\xbe\x98Y <taro@example.jp>" /* sjis: 山田 太郎 <taro@example.jp> */,
                             2048, 1);
        window.AddMessageRow("\x89\xef\x8b" "c\x8e\x91\x97\xbf\x82\xcc\x91\x97\x95t\x82\xc9\x82\xc2\x82\xa2\x82\xc4" /* sjis: 会議資料の送付について */,
                             "\x97\xe9\x96\xd8 \x89\xd4\x8eq <hanako@example.jp>" /* sjis: 鈴木 花子 <hanako@example.jp> */,
                             153600, 2);
        window.AddMessageRow("\x81y\x8f" "d\x97v\x81z\x83p\x83X\x83\x8f\x81[\x83h\x95\xcf\x8dX\x82\xcc\x82\xa8\x8a\xe8\x82\xa2" /* sjis: 【重要】パスワード変更のお願い */,
                             "\x83T\x83|\x81[\x83g\x91\x8b\x8c\xfb <support@example.com>" /* sjis: サポート窓口 <support@example.com> */,
                             4301, 3);
        window.AddMessageRow("\x8fT\x96\x96\x82\xcc\x82\xb2\x97\x5c\x92\xe8\x82\xcd\x81H" /* sjis: 週末のご予定は？ */,
                             "\x8d\xb2\x93\xa1 <sato@example.ne.jp>" /* sjis: 佐藤 <sato@example.ne.jp> */, 987, 4);
        window.Lv2->SetChecked(2, true);
        window.Lv2->SetChecked(3, true);
        window.Sb->SetPanelText(0, "\xb5\xdd\xd7\xb2\xdd" /* sjis: ｵﾝﾗｲﾝ */);
        window.Sb->SetPanelText(1, "4");
        ok = Save(&window, out, "main.png") && ok;

        TStringList fields;
        for (const auto& f : company)
            fields.Add(f);
        auto* dialog = new TAcco(&window, fields);
        dialog->show();
        ok = Save(dialog, out, "account.png") && ok;
        dialog->close();

        Mail = new TMail(&window);
        Mail->SetCaption("\x90V\x92\x85\x82\xcc\x82\xa8\x92m\x82\xe7\x82\xb9" /* sjis: 新着のお知らせ */);
        Mail->SetLines({"\x96{\x95\xb6\x82\xcc\x88\xea\x8ds\x96\xda\x82\xc5\x82\xb7\x81" "B" /* sjis: 本文の一行目です。 */, "",
                        "\x82\xe6\x82\xeb\x82\xb5\x82\xad\x82\xa8\x8a\xe8\x82\xa2\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: よろしくお願いします。 */});
        Mail->Sb->SetPanelText(0, "");
        Mail->Sb->SetPanelText(1, "\x8eR\x93" "c \x91\xbe\x98Y <taro@example.jp>" /* sjis: 山田 太郎 <taro@example.jp> */);
        Mail->show();
        ok = Save(Mail, out, "viewer.png") && ok;

        // The box is modal: it is taken and closed from inside its own loop.
        QTimer::singleShot(0, [&] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                ok = Save(box, out, "message.png") && ok;
                box->close();
            }
        });
        window.Lv1->setFocus();
        MessageBox(company[afName] + "\n" + "\x82\xf0\x8d\xed\x8f\x9c\x82\xb5\x82\xdc\x82\xb7\x82\xa9\x81H" /* sjis: を削除しますか？ */,
                   "\x8am\x94" "F" /* sjis: 確認 */, TMsgIcon::Question, TMsgButtons::YesNo, 1);
    }
    SetAppFolder("");
    return ok ? 0 : 1;
}
