#include "tests/app/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <sstream>

#include "app/mailboxview/MessageModel.h"
#include "app/mailboxview/MessageView.h"
#include "app/main/MainWindow.h"
#include "app/main/Screen.h"
#include "app/main/Sjis.h"
#include "app/main/Texts.h"
#include "mailbox/Environment.h"
#include "tests/support/Files.h"
#include "tests/support/Timing.h"

void InstallUnexpectedBoxHook()
{
    SetMessageBoxHook([](const TMessageBoxRequest& r) -> int {
        ADD_FAILURE() << "unexpected message box: " << r.Text;
        return r.Buttons == TMsgButtons::YesNo ? mrNo : mrOK;
    });
    SetPasswordPromptHook([](const std::string& name, bool, TPasswordAnswer&) {
        ADD_FAILURE() << "unexpected password prompt for " << name;
        return false;
    });
}

int AddMessageRow(TMain& w, const std::string& subject, const std::string& from, long long bytes, int number,
                  std::optional<long long> date)
{
    TMessageRecord record;
    record.Number = number;
    record.Size = bytes;
    record.Subject = subject;
    record.From = from;
    record.Date = date;
    record.HeaderKnown = true;
    w.Session.Store().Append(std::move(record));
    w.Model->Flush();
    return w.Lv2->RowOf(number);
}

std::string CellSjis(const TMain& w, int row, int column) { return QToSjis(w.Lv2->Text(row, column)); }

void AppTest::SetUp()
{
    ASSERT_TRUE(Dir.isValid());
    SetAppFolder(Dir.path().toStdString());
    SetScreenSize(TScreenSize{1024, 768});
    SetMessageBoxHook([this](const TMessageBoxRequest& r) -> int {
        Boxes.push_back(r);
        if (!Answers.empty()) {
            const int a = Answers.front();
            Answers.pop_front();
            return a;
        }
        return r.Buttons == TMsgButtons::YesNo ? mrNo : mrOK;
    });
    SetPasswordPromptHook([this](const std::string& name, bool keyring, TPasswordAnswer& answer) {
        Prompts.push_back(name + (keyring ? "+keyring" : ""));
        if (PasswordAnswers.empty())
            return false;
        answer = PasswordAnswers.front();
        PasswordAnswers.pop_front();
        return true;
    });
}

void AppTest::TearDown()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    InstallUnexpectedBoxHook();
    SetAppFolder("");
    SetScreenSize(std::nullopt);
}

std::string AppTest::Path(const std::string& name) const { return Dir.path().toStdString() + "/" + name; }

std::string AppTest::ReadFile(const std::string& name) const { return testsupport::ReadFile(Path(name)); }

void AppTest::WriteFile(const std::string& name, const std::string& data) const
{
    testsupport::WriteFile(Path(name), data);
}

bool AppTest::Exists(const std::string& name) const { return QFileInfo::exists(QString::fromStdString(Path(name))); }

std::vector<std::string> AppTest::FolderEntries() const
{
    std::vector<std::string> names;
    for (const QString& n : QDir(Dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name))
        names.push_back(n.toStdString());
    return names;
}

// Polled, for the code may wait in the pump (the keyring) before it opens the window; a
// modal window that never comes stops the polling after ten seconds (scaled).
std::shared_ptr<bool> OnNextModal(std::function<void(QWidget*)> action)
{
    auto found = std::make_shared<bool>(false);
    auto* poll = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, [poll, started, action = std::move(action), found] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && started->elapsed() < testsupport::Generous(std::chrono::seconds(10)).count())
            return;
        poll->stop();
        poll->deleteLater();
        if (!modal)
            return;
        *found = true;
        action(modal);
    });
    poll->start(0);
    return found;
}

std::string DeleteQuestion(int count, const std::string& size)
{
    return std::to_string(count) + Texts::DeleteCount + size + Texts::DeleteTotal + "\n" + Texts::DeleteUntilQuit + "\n" +
           Texts::AskDeleteMessages;
}
