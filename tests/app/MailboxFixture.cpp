#include "tests/app/MailboxFixture.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPlainTextEdit>
#include <unistd.h>

#include "app/main/Sjis.h"

void MailboxTest::SetUp()
{
    AppTest::SetUp();
    char cwd[4096];
    FOldDir = getcwd(cwd, sizeof cwd) ? cwd : "/";
    ASSERT_EQ(chdir(Dir.path().toLocal8Bit().constData()), 0);
    FOldRuntimeDir = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", Dir.path().toLocal8Bit());
    W = std::make_unique<TMain>();
    W->show();
}

void MailboxTest::TearDown()
{
    for (auto& o : FObservers)
        if (W)
            W->Session.Store().RemoveObserver(o.get());
    FObservers.clear();
    FTimers.clear();
    W.reset();
    FOldRuntimeDir.isEmpty() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", FOldRuntimeDir);
    if (chdir(FOldDir.c_str()) != 0)
        ADD_FAILURE() << "cannot return to " << FOldDir;
    AppTest::TearDown();
}

void MailboxTest::UseAccount(const std::string& host, int port, const std::string& user, const std::string& password,
                             const std::string& timeOut)
{
    const int row = W->Lv1->AddItem("test");
    for (const std::string& f : {user, password, host, timeOut, std::to_string(port)})
        W->Lv1->AddSubItem(row, f);
    W->Lv1->selectRow(row);
}

void MailboxTest::ChooseFromMessageMenu(int row, QAction* item)
{
    W->Lv2->clearSelection();
    W->Lv2->SetSelected(row, true);
    W->MenuItemClick(W->Pm2);  // what opening the menu does
    item->trigger();
}

bool MailboxTest::CommandButtonsEnabled() const
{
    const bool first = W->BitBtn1->isEnabled();
    for (QWidget* b : {W->BitBtn2, W->BitBtn3, W->BitBtn4, W->BitBtn5})
        EXPECT_EQ(b->isEnabled(), first);
    return first;
}

std::vector<int> MailboxTest::RowNumbers() const
{
    std::vector<int> numbers;
    for (int i = 0; i < W->Lv2->Count(); ++i)
        numbers.push_back(W->Lv2->Data(i));
    return numbers;
}

std::vector<std::string> MailboxTest::BoxTexts() const
{
    std::vector<std::string> texts;
    for (const auto& b : Boxes)
        texts.push_back(b.Text);
    return texts;
}

std::vector<std::string> MailboxTest::ViewerLines() const
{
    std::vector<std::string> lines;
    if (!Mail)
        return lines;
    const QString text = Mail->Memo->toPlainText();
    if (text.isEmpty())
        return lines;
    for (const QString& line : text.split(QChar('\n')))
        lines.push_back(QToSjis(line));
    return lines;
}

void MailboxTest::When(std::function<bool()> ready, std::function<void()> action)
{
    auto timer = std::make_unique<QTimer>();
    QTimer* t = timer.get();
    t->setInterval(2);
    QObject::connect(t, &QTimer::timeout, [t, ready = std::move(ready), action = std::move(action)] {
        if (!ready())
            return;
        t->stop();
        action();
    });
    t->start();
    FTimers.push_back(std::move(timer));
}

void MailboxTest::AtRow(int rows, std::function<void()> action)
{
    struct Observer : TStoreObserver {
        TMain* W;
        int Rows;
        std::function<void()> Action;
        bool Done = false;
        Observer(TMain* w, int rows, std::function<void()> action) : W(w), Rows(rows), Action(std::move(action)) {}
        void RowsAppended(int first, int last) override
        {
            if (first < Rows && last + 1 >= Rows && W->Session.Store().At(Rows - 1).HeaderKnown)
                Run();
        }
        void HeaderArrived(int row) override
        {
            if (row + 1 == Rows)
                Run();
        }
        void Run()
        {
            if (Done)
                return;
            Done = true;
            W->Model->Flush();
            Action();
        }
        void RowsChanged(int, int) override {}
        void RowDeleted(int) override {}
        void RowRestored(int) override {}
        void Cleared() override {}
    };
    FObservers.push_back(std::make_unique<Observer>(W.get(), rows, std::move(action)));
    W->Session.Store().AddObserver(FObservers.back().get());
}
