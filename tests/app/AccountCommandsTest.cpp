// The account list in the main window: loading, new, edit, copy, delete, and the saves.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QComboBox>
#include <QPushButton>

#include "app/accounts/AccountDialog.h"
#include "app/mailboxview/MessageView.h"
#include "app/main/ListView.h"
#include "app/main/MainWindow.h"
#include "app/main/Sjis.h"
#include "app/main/Texts.h"
#include "tests/app/TestSupport.h"

namespace {
const std::string Yamada = "\x8eR\x93" "c" /* sjis: 山田 */;
// A name whose bytes do not all decode: they must come back unchanged all the same.
const std::string Odd = Yamada + "\x97\x5c\xff\x80";
const std::string CopyPrefix = Texts::CopyPrefix;
const std::string Confirm = Texts::Confirm;
const std::string SaveFailed = Texts::SaveFailed;

std::string Line(const std::vector<std::string>& f)
{
    std::string s;
    for (size_t i = 0; i < f.size(); ++i)
        s += (i ? ",\"" : "\"") + f[i] + "\"";
    return s + "\r\n";
}

class AccountCommandsTest : public AppTest {
protected:
    void TearDown() override
    {
        W.reset();
        AppTest::TearDown();
    }
    void Start()
    {
        W = std::make_unique<TMain>();
        W->show();
    }
    void Select(int row) { W->Lv1->selectRow(row); }
    // Runs a command that opens the account dialog and fills it through `fill`, then presses OK.
    void WithDialog(const std::function<void(TAcco&)>& fill, const std::function<void()>& command, bool ok = true)
    {
        const auto found = OnNextModal([&](QWidget* w) {
            auto* d = dynamic_cast<TAcco*>(w);
            ASSERT_NE(d, nullptr);
            fill(*d);
            (ok ? d->BitBtn1 : d->BitBtn2)->click();
        });
        command();
        EXPECT_TRUE(*found) << "no dialog opened";
    }
    std::vector<std::string> Row(int row) const
    {
        std::vector<std::string> f{W->Lv1->Caption(row)};
        for (int i = 0; i < 5; ++i)
            f.push_back(W->Lv1->SubItem(row, i));
        return f;
    }
    std::unique_ptr<TMain> W;
};
}

TEST_F(AccountCommandsTest, ShowingTheWindowLoadsTheFileAndEmptiesTheMessages)
{
    WriteFile("Account.lst", "\"" + Odd + "\",\"id\",\"p\"\"w\",\"pop.example.jp\",\"30\",\"110\"\nb,c,d,e,f,g\n");
    W = std::make_unique<TMain>();
    AddMessageRow(*W, "s", "f", 1, 1);
    W->show();
    EXPECT_EQ(W->Lv2->Count(), 0);
    ASSERT_EQ(W->Lv1->Count(), 2);
    EXPECT_EQ(Row(0), (std::vector<std::string>{Odd, "id", "p\"w", "pop.example.jp", "30", "110"}));
    EXPECT_EQ(Row(1), (std::vector<std::string>{"b", "c", "d", "e", "f", "g"}));
    EXPECT_EQ(W->Lv1->item(0, 1)->text(), "id");
    EXPECT_EQ(W->Lv1->item(0, 0)->text(), SjisToQ(Odd));
    EXPECT_EQ(W->Lv1->Selected(), -1);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(AccountCommandsTest, NewAccountIsAppendedUnselectedAndSaved)
{
    WriteFile("Account.lst", Line({"first", "a", "b", "c", "30", "110"}));
    Start();
    WithDialog(
        [](TAcco& d) {
            EXPECT_EQ(d.Nam->text(), "");
            EXPECT_EQ(d.Tim->text(), "30");
            EXPECT_EQ(d.Por->text(), "995");
            d.Nam->setText(SjisToQ(Yamada));
            d.Acc->setText("taro");
            d.Pas->setText("pw");
            d.Pop->setText("pop.example.jp");
            d.Loc->setCurrentIndex(1);  // no keyring here: the file has to be chosen
        },
        [&] { W->Pm1_1->trigger(); });
    ASSERT_EQ(W->Lv1->Count(), 2);
    EXPECT_EQ(Row(1), (std::vector<std::string>{Yamada, "taro", "pw", "pop.example.jp", "30", "995"}));
    EXPECT_EQ(W->Lv1->Selected(), -1);
    EXPECT_EQ(W->Lv1->item(1, 0)->toolTip(), SjisToQ(Texts::PasswordInFileTip));
    EXPECT_EQ(ReadFile("Account.lst"),
              Line({"first", "a", "b", "c", "30", "110"}) + Line({Yamada, "taro", "pw", "pop.example.jp", "30", "995", "tls"}));
}

TEST_F(AccountCommandsTest, CancelledNewAccountChangesNothing)
{
    Start();
    WithDialog([](TAcco& d) { d.Nam->setText("x"); }, [&] { W->MenuItemClick(W->Pm1_1); }, false);
    EXPECT_EQ(W->Lv1->Count(), 0);
    EXPECT_FALSE(Exists("Account.lst"));
}

TEST_F(AccountCommandsTest, EditReplacesTheRowInPlaceAndKeepsUntouchedBytes)
{
    WriteFile("Account.lst", Line({"a", "1", "2", "3", "4", "5"}) + Line({Odd, "id", "pw", "srv", "30", "110"}) +
                                 Line({"c", "1", "2", "3", "4", "5"}));
    Start();
    Select(1);
    WithDialog(
        [](TAcco& d) {
            EXPECT_EQ(d.Nam->text(), SjisToQ(Odd));
            EXPECT_EQ(d.Pas->text(), "pw");
            d.Pop->setText("pop.example.jp");
            d.Tim->setText("-5");
        },
        [&] { W->ListViewDblClick(W->Lv1); });
    EXPECT_EQ(Row(1), (std::vector<std::string>{Odd, "id", "pw", "pop.example.jp", "-5", "110"}));
    EXPECT_EQ(W->Lv1->Count(), 3);
    EXPECT_EQ(ReadFile("Account.lst"), Line({"a", "1", "2", "3", "4", "5"}) +
                                           Line({Odd, "id", "pw", "pop.example.jp", "-5", "110"}) +
                                           Line({"c", "1", "2", "3", "4", "5"}));
}

TEST_F(AccountCommandsTest, DoubleClickWithoutASelectedAccountDoesNothing)
{
    WriteFile("Account.lst", Line({"a", "1", "2", "3", "4", "5"}));
    Start();
    W->ListViewDblClick(W->Lv1);
    W->MenuItemClick(W->Pm1_2);
    W->MenuItemClick(W->Pm1_3);
    EXPECT_EQ(W->Lv1->Count(), 1);
}

TEST_F(AccountCommandsTest, CopyPrefixesTheNameAndACopyOfACopyPrefixesAgain)
{
    WriteFile("Account.lst", Line({"x", "id", "pw", "srv", "30", "110"}));
    Start();
    Select(0);
    W->MenuItemClick(W->Pm1_3);
    W->MenuItemClick(W->Pm1_3);
    ASSERT_EQ(W->Lv1->Count(), 3);
    EXPECT_EQ(Row(1), (std::vector<std::string>{CopyPrefix + "x", "id", "pw", "srv", "30", "110"}));
    EXPECT_EQ(Row(2), Row(1));
    Select(2);
    W->MenuItemClick(W->Pm1_3);
    EXPECT_EQ(W->Lv1->Caption(3), CopyPrefix + CopyPrefix + "x");
    EXPECT_EQ(ReadFile("Account.lst"), Line(Row(0)) + Line(Row(1)) + Line(Row(2)) + Line(Row(3)));
}

TEST_F(AccountCommandsTest, DeleteAsksWithTheNameAndRemovesOnlyOnYes)
{
    WriteFile("Account.lst", Line({Yamada, "1", "2", "3", "4", "5"}) + Line({"b", "1", "2", "3", "4", "5"}));
    Start();
    Select(0);
    Answers = {mrNo};
    W->MenuItemClick(W->Pm1_4);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, Yamada + "\n" + Texts::AskDeleteAccount);
    EXPECT_EQ(Boxes[0].Caption, Confirm);
    EXPECT_EQ(Boxes[0].Icon, TMsgIcon::Question);
    EXPECT_EQ(Boxes[0].Buttons, TMsgButtons::YesNo);
    EXPECT_EQ(Boxes[0].DefaultButton, 1);
    EXPECT_EQ(W->Lv1->Count(), 2);

    Answers = {mrYes};
    W->MenuItemClick(W->Pm1_4);
    ASSERT_EQ(W->Lv1->Count(), 1);
    EXPECT_EQ(W->Lv1->Caption(0), "b");
    EXPECT_FALSE(W->SpeedButton1->isEnabled());
    EXPECT_EQ(ReadFile("Account.lst"), Line({"b", "1", "2", "3", "4", "5"}));

    Select(0);
    Answers = {mrYes};
    W->MenuItemClick(W->Pm1_4);
    EXPECT_EQ(W->Lv1->Count(), 0);
    EXPECT_TRUE(Exists("Account.lst"));
    EXPECT_EQ(ReadFile("Account.lst"), "");
}

TEST_F(AccountCommandsTest, ShortLinesAreKeptAndLongOnesCutAtTheNextSave)
{
    WriteFile("Account.lst", "\"short\",\"id\"\n1,2,3,4,5,6,7,8,9\n");
    Start();
    ASSERT_EQ(W->Lv1->Count(), 2);
    W.reset();  // the save at the end of the run
    EXPECT_EQ(ReadFile("Account.lst"), Line({"short", "id", "", "", "", ""}) + Line({"1", "2", "3", "4", "5", "6", "7", "8"}));
}

TEST_F(AccountCommandsTest, AFailedSaveShowsTheStopMessageAndKeepsTheFile)
{
    const std::string old = Line({"x", "id", "pw", "srv", "30", "110"});
    WriteFile("Account.lst", old);
    Start();
    Select(0);
    {
        FileSizeLimit limit(old.size() + 10);
        W->MenuItemClick(W->Pm1_3);
    }
    EXPECT_EQ(W->Lv1->Count(), 2);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, SaveFailed);
    EXPECT_EQ(Boxes[0].Caption, Confirm);
    EXPECT_EQ(Boxes[0].Icon, TMsgIcon::Stop);
    EXPECT_EQ(Boxes[0].Buttons, TMsgButtons::OK);
    EXPECT_EQ(ReadFile("Account.lst"), old);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Account.lst"});
}

TEST_F(AccountCommandsTest, AnUnreadableFileStartsEmptyQuietlyAndIsNeverReplaced)
{
    ASSERT_TRUE(QDir(Dir.path()).mkdir("Account.lst"));
    Start();
    EXPECT_EQ(W->Lv1->Count(), 0);
    EXPECT_TRUE(Boxes.empty());
    W.reset();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, SaveFailed);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(Path("Account.lst"))).isDir());
}

TEST_F(AccountCommandsTest, AMissingFileIsCreatedAtTheEnd)
{
    Start();
    W->Lv1->AddItem("n");
    W.reset();
    EXPECT_EQ(ReadFile("Account.lst"), Line({"n", "", "", "", "", ""}));
}
