// Renders the main window, the account dialog, the viewer, a message box, the About box, the
// sender panel, the rules dialog and the check of every account to PNG files,
// offscreen: purgel-screenshots <output folder>. The main window connects to a demo POP3
// server started inside this process and lists its generated Japanese mailbox through the
// program's own component (one picture during the listing, one after); the viewer shows one
// of those messages as fetched, and each message of today's mail.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QToolButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

#include "app/accounts/AccountDialog.h"
#include "app/accounts/AccountsCheckView.h"
#include "app/accounts/SignInDialog.h"
#include "app/mailboxview/RuleCommands.h"
#include "app/mailboxview/RulesDialog.h"
#include "app/mailboxview/SenderPanel.h"
#include "app/mailboxview/MessageView.h"
#include "app/main/ListView.h"
#include "app/main/MainWindow.h"
#include "app/main/MessageBox.h"
#include "app/main/Screen.h"
#include "app/main/Sjis.h"
#include "app/main/Startup.h"
#include "app/main/StatusBar.h"
#include "app/main/Texts.h"
#include "app/viewer/Viewer.h"
#include "mailbox/AccountFile.h"
#include "mailbox/Environment.h"
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

// The viewer's picture of each form of today's mail in the mailbox.
const std::pair<demo::Form, const char*> ModernViews[] = {
    {demo::Form::Utf8Subject, "viewer-utf8-subject.png"},   {demo::Form::QuotedSubject, "viewer-q-subject.png"},
    {demo::Form::SplitSubject, "viewer-split-subject.png"}, {demo::Form::QuotedPrintable, "viewer-quoted-printable.png"},
    {demo::Form::HtmlOnly, "viewer-html-only.png"},         {demo::Form::NamedAttachment, "viewer-rfc2231-name.png"},
    {demo::Form::UnlabelledEuc, "viewer-unlabelled-euc.png"}};

int FirstOfForm(const std::vector<demo::DemoMessage>& mailbox, demo::Form form)
{
    for (size_t i = 0; i < mailbox.size(); ++i)
        if (mailbox[i].Kind == form)
            return static_cast<int>(i);
    return -1;
}

void Choose(TMain& window, int row, QAction* item)
{
    window.Lv2->clearSelection();
    window.Lv2->SetSelected(row, true);
    window.Lv2->scrollTo(window.Lv2->model()->index(row, 0));
    window.MenuItemClick(window.Pm2);
    item->trigger();
}

// The account file the window loads: the demo server first, then three made-up accounts.
// Returns the second, which the account dialog and the message box show, and the first.
std::pair<TAccountFields, TAccountFields> WriteAccounts(int port)
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
    return {company, demoAccount};
}

// The cleaning workflow, in a window wide enough for the date column: oldest first (the mail
// in today's forms, sent first) with three checked, then the largest first, then only the news
// letters (typed in half-width kana), the delete confirmation with its count, and the undo
// offered once the server accepted.
bool TakeWorkflowPictures(TMain& window, const QDir& out)
{
    bool ok = true;
    window.resize(640, 440);
    QHeaderView* header = window.Lv2->horizontalHeader();
    header->sectionClicked(3);
    for (int row : {1, 2, 4})
        window.Lv2->SetChecked(row, true);
    window.Lv2->scrollToTop();
    ok = Save(&window, out, "main.png") && ok;
    for (int row : {1, 2, 4})
        window.Lv2->SetChecked(row, false);
    for (int i = 0; i < 2; ++i)
        header->sectionClicked(2);
    for (int row : {0, 1, 3})
        window.Lv2->SetChecked(row, true);
    window.FilterEdit->setText(SjisToQ("\xc6\xad\xb0\xbd" /* sjis: ﾆｭｰｽ */));
    header->sectionClicked(3);
    ok = Save(&window, out, "filtered.png") && ok;
    window.FilterEdit->clear();
    for (int i = 0; i < 2; ++i)
        header->sectionClicked(2);
    window.Lv2->scrollToTop();
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ok = Save(box, out, "confirm.png") && ok;
            box->buttons().first()->click();  // はい
        }
    });
    window.BitBtn5->click();
    ok = Save(&window, out, "undo.png") && ok;
    window.MenuItemClick(window.Pm2);
    window.Pm2->popup(window.mapToGlobal(QPoint(200, 200)));
    ok = Save(window.Pm2, out, "undo-menu.png") && ok;
    window.Pm2->hide();
    window.BitBtn6->click();
    window.resize(469, 342);
    return ok;
}

// Who fills the mailbox, by sender and by domain, with the rule made from the largest
// sender's row; the rules dialog and its editor; every account at a glance (the demo account,
// one whose server refuses, one whose password is wrong).
bool TakeCleaningPictures(TMain& window, const QDir& out, const TAccountFields& demoAccount)
{
    bool ok = true;
    window.resize(720, 600);
    window.SenderButton->click();
    window.SenderPanel->Refresh();
    window.SenderPanel->Table->selectRow(0);
    window.SenderPanel->AlwaysCheckSender->trigger();
    window.SenderPanel->Table->selectRow(1);
    ok = Save(&window, out, "senders.png") && ok;
    window.SenderPanel->Tabs->setCurrentIndex(1);
    window.SenderPanel->Table->selectRow(0);
    ok = Save(&window, out, "domains.png") && ok;
    window.SenderPanel->Table->clearSelection();
    window.SenderButton->click();

    std::vector<TRule> rules = window.Rules->Content().Rules;
    rules.push_back({TRuleAction::Check, TRuleKind::Subject, "\xe5\xba\x83\xe5\x91\x8a" /* utf-8: 広告 */, 0, ""});
    rules.push_back({TRuleAction::Check, TRuleKind::LargerThan, "", 5 << 20, ""});
    rules.push_back({TRuleAction::Check, TRuleKind::OlderThan, "", 365, "taro@pop.example.jp"});
    rules.push_back({TRuleAction::Keep, TRuleKind::Domain, "family.example.jp", 0, ""});
    const std::vector<TRuleScope> scopes{{"taro@pop.example.jp", SjisToQ(std::string("\x89\xef\x8e\xd0\x82\xcc\x83\x81\x81[\x83\x8b" /* sjis: 会社のメール */) + " (taro@pop.example.jp)")}};
    TRulesDialog dialog(&window, rules, scopes);
    dialog.show();
    dialog.Table->selectRow(2);
    ok = Save(&dialog, out, "rules.png") && ok;
    QTimer::singleShot(0, [&] {
        if (QWidget* editor = QApplication::activeModalWidget()) {
            ok = Save(editor, out, "rule-editor.png") && ok;
            editor->close();
        }
    });
    TRule rule = rules[2];
    TRulesDialog::Edit(&dialog, rule, scopes);
    dialog.close();

    TAccountFields refused = demoAccount, wrong = demoAccount;
    refused[afName] = "\x8b\x8c\x83T\x81[\x83o\x81[" /* sjis: 旧サーバー */;
    refused[afPort] = "1";
    wrong[afName] = "\x83T\x83u\x83" "A\x83J\x83" "E\x83\x93\x83g" /* sjis: サブアカウント */;
    wrong[afPassword] = "wrong";
    TAccountsCheckView check(&window, window.Passwords);
    check.show();
    check.Start({demoAccount, refused, wrong});
    ok = Save(&check, out, "all-accounts.png") && ok;
    return ok;
}

// Lists the demo mailbox in the main window and saves every window of the program.
bool TakePictures(const QDir& out, const std::vector<demo::DemoMessage>& mailbox, const TAccountFields& company,
                  const TAccountFields& demoAccount)
{
    bool ok = true;
    const int viewed = JapaneseTextMessage(mailbox);
    TMain window;
    window.show();
    window.Lv1->selectRow(0);
    // One picture while the listing runs, taken as the rows come in.
    const int during = static_cast<int>(mailbox.size()) * 5 / 6;
    bool taken = false;
    const auto hook = QObject::connect(window.Lv2->model(), &QAbstractItemModel::rowsInserted,
                                       [&](const QModelIndex&, int, int last) {
                                           if (last + 1 < during || taken)
                                               return;
                                           taken = true;
                                           ok = Save(&window, out, "listing.png", false) && ok;
                                       });
    window.SpeedButton1->click();  // connects and lists the demo mailbox
    QObject::disconnect(hook);
    if (window.Lv2->Count() != static_cast<int>(mailbox.size())) {
        std::fprintf(stderr, "purgel-screenshots: %d rows listed instead of %zu\n", window.Lv2->Count(),
                     mailbox.size());
        ok = false;
    }

    TStringList fields;
    for (const auto& f : company)
        fields.Add(f);
    TPasswordChoice password;
    password.KeyringAvailable = true;
    auto* dialog = new TAcco(&window, fields, password);
    dialog->show();
    ok = Save(dialog, out, "account.png") && ok;
    dialog->close();
    // An account that signs in with OAuth 2.0, and the window that waits for the browser.
    TStringList gmail;
    for (const char* f : {"Gmail", "taro@gmail.com", "", "pop.gmail.com", "30", "995", "tls", "oauth2:google"})
        gmail.Add(f);
    auto* oauth = new TAcco(&window, gmail, password);
    oauth->show();
    ok = Save(oauth, out, "account-oauth.png") && ok;
    oauth->close();
    TSignInDialog signIn(&window, "https://accounts.google.com/o/oauth2/v2/auth?response_type=code&client_id=1234567890-abc.apps.googleusercontent.com&redirect_uri=http%3A%2F%2F127.0.0.1%3A40123", false);
    signIn.show();
    ok = Save(&signIn, out, "sign-in.png") && ok;
    signIn.close();

    // A viewer is saved once its content has arrived ("受信中" gone).
    auto view = [&](int row, QAction* item, const char* name) {
        if (row >= 0)
            Choose(window, row, item);
        if (row >= 0 && Mail && Mail->Sb->PanelText(0).empty())
            return Save(Mail, out, name);
        std::fprintf(stderr, "purgel-screenshots: nothing arrived for %s\n", name);
        return false;
    };
    ok = view(viewed, window.Pm2_1, "viewer.png") && ok;
    ok = view(viewed, window.Pm2_2, "header.png") && ok;
    for (const auto& [form, name] : ModernViews)
        ok = view(FirstOfForm(mailbox, form), window.Pm2_1, name) && ok;
    if (Mail)
        Mail->close();

    ok = TakeWorkflowPictures(window, out) && ok;
    ok = TakeCleaningPictures(window, out, demoAccount) && ok;

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
    QTimer::singleShot(0, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            ok = Save(box, out, "about.png") && ok;
            box->close();
        }
    });
    window.Pm1_5->trigger();
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
    // The program's own start (its name, icon and Qt's Japanese texts on the standard
    // buttons), after the folder is set so that it makes no folder of the user's.
    SetUpApplication(app);
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
    const auto [company, demoAccount] = WriteAccounts(port);
    bool ok = TakePictures(out, mailbox, company, demoAccount);
    {
        // The first start: no "Account.lst" yet, the empty list says how to add one.
        QTemporaryDir empty;
        SetAppFolder(empty.path().toStdString());
        TMain window;
        window.show();
        ok = Save(&window, out, "first-start.png") && ok;
    }
    SetAppFolder("");
    if (chdir(oldDir.c_str()) != 0)
        ok = false;
    return ok ? 0 : 1;
}
