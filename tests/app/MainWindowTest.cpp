// The main window as it starts: controls, captions, tags, layout, tab order, menus, enabling.
#include <gtest/gtest.h>

#include <QAction>
#include <algorithm>
#include <QApplication>
#include <QDateEdit>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

#include "app/mailboxview/MessageModel.h"
#include "app/mailboxview/MessageView.h"
#include "app/mailboxview/RuleCommands.h"
#include "app/mailboxview/SenderPanel.h"
#include "app/main/AppStyle.h"
#include "app/main/ListView.h"
#include "app/main/MainWindow.h"
#include "app/main/Sjis.h"
#include "app/main/Splitter.h"
#include "app/main/Startup.h"
#include "app/main/StatusBar.h"
#include "app/main/Tag.h"
#include "app/main/Texts.h"
#include "runtime/Exception.h"
#include "tests/app/TestSupport.h"
#include "tests/support/WidgetLayout.h"

namespace {
class MainWindowTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        W = std::make_unique<TMain>();
    }
    void TearDown() override
    {
        W.reset();
        AppTest::TearDown();
    }
    void AddMessages(int n)
    {
        for (int i = 1; i <= n; ++i)
            AddMessageRow(*W, "subject", "from", 100 * i, i);
    }
    std::unique_ptr<TMain> W;
};

QString Q(const char* sjis) { return SjisToQ(sjis); }

using testsupport::Above;
using testsupport::ExpectLaidOut;
using testsupport::LeftOf;

void Click(QWidget* target, QPoint pos, QEvent::Type type = QEvent::MouseButtonPress)
{
    QMouseEvent e(type, pos, target->mapToGlobal(pos), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &e);
}

// A click on the header of the list's column, as the mouse gives it.
void ClickHeader(QTableView* list, int column)
{
    QWidget* header = list->horizontalHeader()->viewport();
    const QPoint pos(list->horizontalHeader()->sectionViewportPosition(column) + 5, 5);
    Click(header, pos);
    Click(header, pos, QEvent::MouseButtonRelease);
}

void Type(QWidget* target, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent e(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &e);
    }
}

void Key(QWidget* target, int key)
{
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &e);
}

// The message numbers of the rows the list shows, in the order shown: the rows the filter
// leaves out are absent from the view's model.
std::vector<int> Shown(const TMessageView* list)
{
    std::vector<int> numbers;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        numbers.push_back(list->model()->index(row, 0).data(TMessageModel::NumberRole).toInt());
    return numbers;
}

std::vector<int> CheckedNumbers(const TMain& w)
{
    std::vector<int> numbers;
    const TMessageStore& store = w.Session.Store();
    for (int row = 0; row < store.Count(); ++row)
        if (store.At(row).Checked)
            numbers.push_back(store.At(row).Number);
    return numbers;
}
}

TEST_F(MainWindowTest, WindowCaptionAndGlobal)
{
    EXPECT_EQ(Main, W.get());
    EXPECT_EQ(W->windowTitle(), "Purgel  Ver1.00");
    EXPECT_EQ(W->objectName(), "Main");
    W.reset();
    EXPECT_EQ(Main, nullptr);
}

// The row of buttons under the list reads left to right in its tags' order.
TEST_F(MainWindowTest, ButtonsCaptionsTagsOrderAndStartDisabled)
{
    W->show();
    struct Expected {
        QPushButton* button;
        const char* caption;
        int tag;
    };
    const Expected buttons[] = {
        {W->SpeedButton1, Texts::ConnectCaption, 0}, {W->BitBtn1, Texts::ListCaption, 1},
        {W->BitBtn2, Texts::StopCaption, 2},         {W->BitBtn3, Texts::CheckAllCaption, 3},
        {W->BitBtn4, Texts::UncheckAllCaption, 4},   {W->BitBtn5, Texts::DeleteCaption, 5},
    };
    for (const Expected& e : buttons) {
        EXPECT_EQ(e.button->text(), Q(e.caption)) << e.tag;
        EXPECT_EQ(TagOf(e.button), e.tag);
        EXPECT_FALSE(e.button->isEnabled()) << e.tag;
        if (e.tag > 1)
            EXPECT_TRUE(LeftOf((&e - 1)->button, e.button)) << e.tag;
    }
    ExpectLaidOut(*W, {W->SpeedButton1, W->BitBtn1, W->BitBtn2, W->BitBtn3, W->BitBtn4, W->BitBtn5});
    EXPECT_TRUE(W->SpeedButton1->isCheckable());
    EXPECT_EQ(W->SpeedButton1->parentWidget(), W->Panel3);
    EXPECT_EQ(W->BitBtn1->parentWidget(), W->Panel4);
}

// Top to bottom: the accounts beside the connect button, the filter row, the messages, the
// buttons, the status bar at the window's foot; a bigger window goes to the message list.
TEST_F(MainWindowTest, AreasAreStackedAndTheMessageListTakesTheRoom)
{
    // `senders`: the sender panel between the filter row and the list, when shown.
    const auto stacked = [this](QWidget* senders) {
        std::vector<const QWidget*> controls{W->Lv1, W->SpeedButton1, W->FilterEdit, W->SenderButton, W->RuleButton,
                                             W->Lv2, W->BitBtn1, W->BitBtn5, W->Sb};
        QWidget* aboveList = W->FilterEdit;
        if (senders) {
            controls.push_back(senders);
            EXPECT_TRUE(Above(W->FilterEdit, senders));
            aboveList = senders;
        }
        ExpectLaidOut(*W, controls);
        EXPECT_TRUE(LeftOf(W->Lv1, W->SpeedButton1));
        EXPECT_TRUE(LeftOf(W->FilterEdit, W->SenderButton) && LeftOf(W->SenderButton, W->RuleButton));
        EXPECT_TRUE(Above(W->Lv1, W->FilterEdit) && Above(aboveList, W->Lv2));
        EXPECT_TRUE(Above(W->Lv2, W->BitBtn1) && Above(W->BitBtn1, W->Sb));
        EXPECT_EQ(W->Sb->geometry().bottom(), W->rect().bottom());
    };
    W->resize(469, 342);   // the design size
    W->show();
    stacked(nullptr);
    const QSize list = W->Lv2->size();
    const int accounts = W->Lv1->height();
    W->resize(600, 500);
    stacked(nullptr);
    EXPECT_EQ(W->Lv2->size(), list + QSize(600 - 469, 500 - 342));
    EXPECT_EQ(W->Lv1->height(), accounts);
    // The sender panel, when shown, takes at most half of the lists' height above the list.
    for (QSize size : {QSize(600, 500), QSize(469, 342)}) {
        W->resize(size);
        if (!W->SenderPanel->isVisible())
            W->SenderButton->click();
        stacked(W->SenderPanel);
        EXPECT_LE(W->SenderPanel->height(), W->Lv2->height() + 1) << size.height();
    }
    W->SenderButton->click();
    EXPECT_EQ(W->Lv2->size(), list);
    // The subject column takes the width the others leave, as the window grows and shrinks.
    for (int width : {900, 700}) {
        W->resize(width, 500);
        QApplication::processEvents();
        int columns = 0;
        for (int c = 0; c < 4; ++c)
            columns += W->Lv2->columnWidth(c);
        EXPECT_EQ(columns, W->Lv2->viewport()->width()) << width;
    }
}

TEST_F(MainWindowTest, ListColumnsAndOptions)
{
    ASSERT_EQ(W->Lv1->columnCount(), 2);
    EXPECT_EQ(W->Lv1->horizontalHeaderItem(0)->text(), Q(Texts::NameColumn));
    EXPECT_EQ(W->Lv1->horizontalHeaderItem(1)->text(), Q(Texts::AccountColumn));
    W->show();
    EXPECT_LE(W->Lv1->columnWidth(0) + W->Lv1->columnWidth(1), W->Lv1->viewport()->width());   // no scrolling
    EXPECT_EQ(W->Lv1->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(W->Lv1->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(W->Lv1->showGrid());
    EXPECT_EQ(W->Lv1->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(TagOf(W->Lv1), 0);

    const QAbstractItemModel* messages = W->Lv2->model();
    ASSERT_EQ(messages->columnCount(), 4);
    const char* const captions[] = {Texts::SubjectColumn, Texts::SenderColumn, Texts::SizeColumn, Texts::DateColumn};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(messages->headerData(c, Qt::Horizontal).toString(), Q(captions[c]));
        EXPECT_LT(W->Lv2->fontMetrics().horizontalAdvance(Q(captions[c])), W->Lv2->columnWidth(c)) << c;
    }
    EXPECT_TRUE(messages->headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
    EXPECT_TRUE(W->Lv2->horizontalHeader()->sectionsClickable());
    EXPECT_EQ(W->Lv2->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_TRUE(W->Lv2->showGrid());
    EXPECT_EQ(TagOf(W->Lv2), 1);
}

TEST_F(MainWindowTest, MessageRowsCarryCheckBoxTextsAndTheirNumber)
{
    const int row = AddMessageRow(*W, "\xe4\xbb\xb6\xe5\x90\x8d" /* utf-8: 件名 */,
                                     "Caf\xc3\xa9 \xf0\x9f\x9a\x80 <a@example.jp>" /* utf-8: Café 🚀 */, 12345, 7);
    EXPECT_EQ(CellSjis(*W, row, 0), "\x8c\x8f\x96\xbc" /* sjis: 件名 */);
    // Shown whatever Shift-JIS lacks.
    EXPECT_EQ(W->Lv2->Text(row, 1), QString::fromUtf8("Caf\xc3\xa9 \xf0\x9f\x9a\x80 <a@example.jp>"));
    EXPECT_EQ(std::to_string(W->Lv2->Record(row).Size), "12345");
    EXPECT_EQ(W->Lv2->Data(row), 7);
    EXPECT_FALSE(W->Lv2->Checked(row));
    EXPECT_TRUE(W->Lv2->model()->index(row, 0).flags() & Qt::ItemIsUserCheckable);
    EXPECT_TRUE(W->Lv2->model()->index(row, 2).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
    EXPECT_EQ(W->Lv2->Text(row, 0), Q("\x8c\x8f\x96\xbc" /* sjis: 件名 */));
    const int account = W->Lv1->AddItem("x");
    EXPECT_FALSE(W->Lv1->item(account, 0)->flags() & Qt::ItemIsUserCheckable);
}

TEST_F(MainWindowTest, StatusBarPanelsAndProgressBar)
{
    W->show();
    ASSERT_EQ(W->Sb->PanelCount(), 4);
    ExpectLaidOut(*W, {W->Sb->Panel(0), W->Sb->Panel(1), W->Sb->Panel(2), W->Sb->Panel(3)});
    for (int i = 1; i < 4; ++i)
        EXPECT_TRUE(LeftOf(W->Sb->Panel(i - 1), W->Sb->Panel(i))) << i;
    EXPECT_TRUE(W->Sb->Panel(0)->alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(W->Sb->Panel(1)->alignment() & Qt::AlignHCenter);
    auto* bar = W->Sb->findChild<QProgressBar*>("ProgressBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(testsupport::ScreenRect(W->Sb->Panel(2)).contains(testsupport::ScreenRect(bar)));   // in the third panel
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_FALSE(bar->isHidden());
}

TEST_F(MainWindowTest, TooltipsAreQuick)
{
    EXPECT_EQ(HintPause(), 10);
    EXPECT_EQ(HintHidePause(), 5000);
    EXPECT_EQ(W->style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 10);
}

TEST_F(MainWindowTest, TabOrderPutsTheStopButtonFirst)
{
    const QWidget* expected[] = {W->Lv1, W->SpeedButton1, W->BitBtn2, W->BitBtn1, W->BitBtn3, W->BitBtn4, W->BitBtn5, W->Lv2};
    std::vector<const QWidget*> chain;
    const QWidget* w = W->Lv1;
    do {
        if (std::find(std::begin(expected), std::end(expected), w) != std::end(expected))
            chain.push_back(w);
        w = w->nextInFocusChain();
    } while (w != W->Lv1);
    EXPECT_EQ(chain, std::vector<const QWidget*>(std::begin(expected), std::end(expected)));
}

TEST_F(MainWindowTest, PopupMenusTheirItemsAndTags)
{
    EXPECT_EQ(TagOf(W->Pm1), 10);
    EXPECT_EQ(TagOf(W->Pm2), 20);
    const std::pair<QAction*, std::pair<const char*, int>> items[] = {
        {W->Pm1_1, {Texts::NewItem, 11}},
        {W->Pm1_2, {Texts::EditItem, 12}},
        {W->Pm1_3, {Texts::CopyItem, 13}},
        {W->Pm1_4, {Texts::DeleteItem, 14}},
        {W->Pm1_5, {Texts::AboutItem, 15}},
        {W->Pm1_6, {Texts::CheckAllAccountsItem, 16}},
        {W->Pm2_1, {Texts::MessageTextItem, 21}},
        {W->Pm2_2, {Texts::HeaderItem, 22}},
        {W->Pm2_3, {Texts::UndoItem, 23}},
        {W->Pm3_1, {Texts::CheckShownItem, 31}},
        {W->Pm3_2, {Texts::CheckLargerItem, 32}},
        {W->Pm3_3, {Texts::CheckOlderItem, 33}},
        {W->Pm3_4, {Texts::InvertItem, 34}},
        {W->Pm3_5, {Texts::RulesItem, 35}},
    };
    for (const auto& [action, expected] : items) {
        EXPECT_EQ(action->text(), Q(expected.first));
        EXPECT_EQ(TagOf(action), expected.second);
    }
    EXPECT_EQ(W->Pm1->actions().size(), 8);  // separators before the check of all accounts and the About box
    EXPECT_EQ(W->Pm1->actions().back(), W->Pm1_5);
    EXPECT_EQ(W->Pm2->actions().size(), 4);  // a separator before the undo
    EXPECT_EQ(W->Pm2->actions().back(), W->Pm2_3);
    EXPECT_EQ(W->RuleButton->menu(), W->Pm3);
}

TEST_F(MainWindowTest, TheAboutBoxNamesTheFolderInUse)
{
    W->Pm1_5->trigger();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_NE(Boxes[0].Text.find(Path("")), std::string::npos) << Boxes[0].Text;
    EXPECT_EQ(Boxes[0].Icon, TMsgIcon::Program);
}

// Qt's standard buttons, menus and dialogs speak the interface's Japanese.
TEST(QtTranslation, StandardButtonsAreJapanese)
{
    QObject owner;
    if (!LoadQtTranslation(&owner))
        GTEST_SKIP() << "Qt's Japanese texts (qtbase_ja.qm, package qt6-translations-l10n) are not installed";
    const QDialogButtonBox box(QDialogButtonBox::Cancel);
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), Q("\x83L\x83\x83\x83\x93\x83Z\x83\x8b" /* sjis: キャンセル */));
}

TEST_F(MainWindowTest, OpeningPm1EnablesEditCopyDeleteExactlyWithASelectedAccount)
{
    W->Lv1->AddItem("a");
    W->Pm1->popup(QPoint(0, 0));  // the menu's opening runs MenuItemClick with tag 10
    EXPECT_TRUE(W->Pm1_1->isEnabled());
    EXPECT_FALSE(W->Pm1_2->isEnabled());
    EXPECT_FALSE(W->Pm1_3->isEnabled());
    EXPECT_FALSE(W->Pm1_4->isEnabled());
    W->Pm1->hide();
    W->Lv1->selectRow(0);
    W->Pm1->popup(QPoint(0, 0));
    EXPECT_TRUE(W->Pm1_2->isEnabled());
    EXPECT_TRUE(W->Pm1_3->isEnabled());
    EXPECT_TRUE(W->Pm1_4->isEnabled());
    W->Pm1->hide();
}

TEST_F(MainWindowTest, OpeningPm2FollowsTheMessageSelection)
{
    AddMessages(2);
    W->MenuItemClick(W->Pm2);
    EXPECT_FALSE(W->Pm2_1->isEnabled());
    EXPECT_FALSE(W->Pm2_2->isEnabled());
    W->Lv2->SetSelected(1, true);
    W->MenuItemClick(W->Pm2);
    EXPECT_TRUE(W->Pm2_1->isEnabled());
    EXPECT_TRUE(W->Pm2_2->isEnabled());
}

TEST_F(MainWindowTest, ConnectButtonIsEnabledExactlyWhileAnAccountIsSelected)
{
    W->show();
    W->Lv1->AddItem("a");
    W->Lv1->AddItem("b");
    EXPECT_FALSE(W->SpeedButton1->isEnabled());
    W->Lv1->selectRow(1);
    EXPECT_TRUE(W->SpeedButton1->isEnabled());
    // A click below the last row removes the selection.
    Click(W->Lv1->viewport(), QPoint(10, W->Lv1->viewport()->height() - 2));
    Click(W->Lv1->viewport(), QPoint(10, W->Lv1->viewport()->height() - 2), QEvent::MouseButtonRelease);
    EXPECT_EQ(W->Lv1->Selected(), -1);
    EXPECT_FALSE(W->SpeedButton1->isEnabled());
}

TEST_F(MainWindowTest, ConnectButtonGoesBackUpWhenTheAccountCannotConnect)
{
    W->Lv1->AddItem("a", {"", "pw"}, 0);  // no account ID: the component refuses before any network
    W->Lv1->selectRow(0);
    W->SpeedButton1->click();
    EXPECT_FALSE(W->SpeedButton1->isChecked());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, Texts::CouldNotConnect + ("\n" + std::string(Texts::FieldMissing[afUserID])));
    EXPECT_EQ(W->Sb->PanelText(0), "");
}

TEST_F(MainWindowTest, CheckAllAndUncheckAll)
{
    AddMessages(3);
    W->Lv2->SetChecked(1, true);
    W->ButtonClick(W->BitBtn3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(W->Lv2->Checked(i));
    W->ButtonClick(W->BitBtn4);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(W->Lv2->Checked(i));
}

TEST_F(MainWindowTest, DeleteAsksOnlyWithRowsAndChangesNothingUnlessTheServerAccepts)
{
    auto del = [this] { Guarded([this] { W->ButtonClick(W->BitBtn5); }); };
    del();
    EXPECT_TRUE(Boxes.empty());

    AddMessages(2);
    W->Lv2->SetChecked(0, true);
    Answers = {mrNo, mrYes};
    W->ButtonClick(W->BitBtn5);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, DeleteQuestion(1, "100 B"));
    EXPECT_EQ(Boxes[0].Caption, Texts::Confirm);
    EXPECT_EQ(Boxes[0].Icon, TMsgIcon::Question);
    EXPECT_EQ(Boxes[0].Buttons, TMsgButtons::YesNo);
    EXPECT_EQ(Boxes[0].DefaultButton, 0);
    del();
    ASSERT_EQ(Boxes.size(), 3u);
    EXPECT_EQ(Boxes[2].Text, "Not Connected");  // without a connection the component refuses
    EXPECT_EQ(W->Lv2->Count(), 2);
    EXPECT_TRUE(W->Lv2->Checked(0));
    EXPECT_EQ(W->Lv2->Data(0), 1);
}

TEST_F(MainWindowTest, SplitterResizesTheAccountAreaWithinLimits)
{
    W->show();
    const QPoint at(100, 1);
    Click(W->Splitter1, at);
    QMouseEvent move(QEvent::MouseMove, at + QPoint(0, 40), W->Splitter1->mapToGlobal(at + QPoint(0, 40)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    const int start = W->Panel1->height();
    QApplication::sendEvent(W->Splitter1, &move);
    EXPECT_EQ(W->Panel1->height(), start + 40);
    EXPECT_EQ(W->Splitter1->y(), start + 40);
    QMouseEvent up(QEvent::MouseMove, at - QPoint(0, 60), W->Splitter1->mapToGlobal(at - QPoint(0, 60)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(W->Splitter1, &up);
    EXPECT_EQ(W->Panel1->height(), start);  // the account list keeps its minimum height
}

TEST_F(MainWindowTest, AnExceptionInAHandlerIsShownAndGoesNoFurther)
{
    Guarded([] { throw Exception("\x83G\x83\x89\x81[" /* sjis: エラー */); });
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "\x83G\x83\x89\x81[" /* sjis: エラー */);
    EXPECT_EQ(Boxes[0].Caption, "Purgel");
    EXPECT_EQ(Boxes[0].Icon, TMsgIcon::Stop);
    EXPECT_EQ(Boxes[0].Buttons, TMsgButtons::OK);
    Guarded([] { throw std::runtime_error("Not Connected"); });
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[1].Text, "Not Connected");
}

TEST_F(MainWindowTest, HeaderClicksSortFilterTypingAndRulesCheckTheShownRows)
{
    W->show();
    const long long day = 24 * 3600, year2024 = 1704067200;  // 2024-01-01 00:00 UTC
    AddMessageRow(*W, "Invoice \xef\xbe\x83\xef\xbd\xbd\xef\xbe\x84" /* utf-8: Invoice ﾃｽﾄ */, "a@example.jp", 3250586, 1, year2024);
    AddMessageRow(*W, "\xe3\x83\x8b\xe3\x83\xa5\xe3\x83\xbc\xe3\x82\xb9" /* utf-8: ニュース */, "NEWS@example.com", 820 * 1024, 2, year2024 + 500 * day);
    AddMessageRow(*W, "\xef\xbc\xa9\xef\xbc\xae\xef\xbc\xb6\xef\xbc\xaf\xef\xbc\xa9\xef\xbc\xa3\xef\xbc\xa5" /* utf-8: ＩＮＶＯＩＣＥ */, "b@example.jp", 512, 3);
    // Sizes for people, right-aligned; the byte count stays the row's field.
    EXPECT_EQ(W->Lv2->Text(0, 2), "3.1 MB");
    EXPECT_EQ(W->Lv2->Text(1, 2), "820 KB");
    EXPECT_EQ(W->Lv2->Text(2, 2), "512 B");
    EXPECT_TRUE(W->Lv2->model()->index(0, 2).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
    EXPECT_EQ(std::to_string(W->Lv2->Record(0).Size), "3250586");
    EXPECT_EQ(W->Lv2->Text(0, 3), QDateTime::fromSecsSinceEpoch(year2024).toString("yyyy/MM/dd HH:mm"));
    EXPECT_EQ(W->Lv2->Text(2, 3), "");

    const struct {
        int column;
        std::vector<int> order;
    } clicks[] = {
        {2, {3, 2, 1}},   // size, by bytes (820 KB before 3.1 MB)
        {2, {1, 2, 3}},   // the same header again: the other way
        {3, {1, 2, 3}},   // date: oldest first, the undated last
        {1, {1, 3, 2}},   // sender, ignoring case
        {0, {3, 1, 2}},   // subject: full-width letters with their half-width forms
    };
    for (const auto& c : clicks) {
        ClickHeader(W->Lv2, c.column);
        EXPECT_EQ(Shown(W->Lv2), c.order) << "column " << c.column;
    }
    EXPECT_EQ(CellSjis(*W, 1, 0).substr(0, 7), "Invoice");  // the fields went with their rows

    // Latin letters in any case and width; kana in full and half width.
    const struct {
        const char* typed;
        std::vector<int> shown;
    } filters[] = {
        {"invoice", {3, 1}},
        {"\xef\xbd\x8e\xef\xbd\x85\xef\xbd\x97\xef\xbd\x93" /* UTF-8: ｎｅｗｓ */, {2}},
        {"\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88" /* テスト */, {1}},
        {"news", {2}},
        {"EXAMPLE.JP", {3, 1}},   // the sender too
        {"", {3, 1, 2}},
    };
    for (const auto& f : filters) {
        W->FilterEdit->clear();
        Type(W->FilterEdit, QString::fromUtf8(f.typed));
        EXPECT_EQ(Shown(W->Lv2), f.shown) << f.typed;
    }

    Type(W->FilterEdit, "invoice");
    W->Pm3_1->trigger();  // check every shown row
    EXPECT_EQ(CheckedNumbers(*W), (std::vector<int>{1, 3}));
    W->FilterEdit->clear();
    W->Pm3_4->trigger();  // invert
    EXPECT_EQ(CheckedNumbers(*W), (std::vector<int>{2}));
    const auto uncheckAll = [this] { W->ButtonClick(W->BitBtn4); };
    uncheckAll();
    OnNextModal([](QWidget* dialog) {
        dialog->findChild<QDoubleSpinBox*>("Megabytes")->setValue(1.0);
        static_cast<QDialog*>(dialog)->accept();
    });
    W->Pm3_2->trigger();  // larger than 1 MB
    EXPECT_EQ(CheckedNumbers(*W), (std::vector<int>{1}));
    uncheckAll();
    OnNextModal([](QWidget* dialog) {
        dialog->findChild<QDateEdit*>("Date")->setDate(QDate(2025, 1, 1));
        static_cast<QDialog*>(dialog)->accept();
    });
    W->Pm3_3->trigger();  // older than 2025-01-01 (the undated one is not)
    EXPECT_EQ(CheckedNumbers(*W), (std::vector<int>{1}));
    uncheckAll();
    OnNextModal([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    W->Pm3_3->trigger();  // cancelled: no change
    EXPECT_EQ(CheckedNumbers(*W), (std::vector<int>{}));

    // A deleted message leaves the view's model; checks move no row among equals.
    ClickHeader(W->Lv2, 2);
    AddMessageRow(*W, "same", "c@example.jp", 512, 4);
    AddMessageRow(*W, "same", "d@example.jp", 512, 5);
    EXPECT_EQ(Shown(W->Lv2), (std::vector<int>{3, 4, 5, 2, 1}));
    W->Session.Store().SetDeleted(W->Session.Store().RowOf(3), true);
    W->Lv2->SetChecked(W->Lv2->RowOf(5), true);
    EXPECT_EQ(Shown(W->Lv2), (std::vector<int>{4, 5, 2, 1}));
    W->Session.Store().SetDeleted(W->Session.Store().RowOf(3), false);
    EXPECT_EQ(Shown(W->Lv2), (std::vector<int>{3, 4, 5, 2, 1}));
    W->ButtonClick(W->BitBtn4);

    // Space toggles the current row's check.
    W->Lv2->setCurrentIndex(W->Lv2->model()->index(4, 2));
    Key(W->Lv2, Qt::Key_Space);
    EXPECT_EQ(CheckedNumbers(*W), (std::vector<int>{1}));
    Key(W->Lv2, Qt::Key_Space);
    EXPECT_EQ(CheckedNumbers(*W), (std::vector<int>{}));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(MainWindowTest, MessageBoxesAnswerInJapanese)
{
    SetMessageBoxHook(nullptr);
    const struct {
        TMsgButtons buttons;
        std::vector<const char*> captions;
        int answer;
    } cases[] = {
        {TMsgButtons::YesNo, {Texts::YesButton, Texts::NoButton}, mrYes},
        {TMsgButtons::YesNo, {Texts::YesButton, Texts::NoButton}, mrNo},
        {TMsgButtons::OK, {Texts::OkButton}, mrOK},
    };
    for (const auto& c : cases) {
        QStringList seen;
        OnNextModal([&](QWidget* box) {
            for (QPushButton* b : box->findChildren<QPushButton*>())
                seen.append(b->text());
            for (QPushButton* b : box->findChildren<QPushButton*>())
                if (b->text() == Q(c.answer == mrNo ? Texts::NoButton : c.captions[0]))
                    b->click();
        });
        EXPECT_EQ(MessageBox("?", Texts::Confirm, TMsgIcon::Question, c.buttons), c.answer);
        QStringList expected;
        for (const char* caption : c.captions)
            expected.append(Q(caption));
        EXPECT_EQ(seen, expected);
    }
}

TEST_F(MainWindowTest, AnEmptyAccountListSaysHowToAddOne)
{
    W->show();
    EXPECT_EQ(W->Lv1->EmptyHint, Q(Texts::NoAccountsHint));
    ASSERT_TRUE(W->AddAccountButton->isVisible());
    EXPECT_EQ(W->AddAccountButton->text(), Q(Texts::AddAccountCaption));
    // Inside the list, at its right, beside the hint (which leaves it room).
    const QRect list = testsupport::ScreenRect(W->Lv1->viewport()), button = testsupport::ScreenRect(W->AddAccountButton);
    EXPECT_TRUE(list.contains(button));
    EXPECT_GT(button.left(), list.center().x());
    auto shown = OnNextModal([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    W->AddAccountButton->click();  // the account dialog
    EXPECT_TRUE(*shown);
    W->Lv1->AddItem("a");
    EXPECT_FALSE(W->AddAccountButton->isVisible());
    W->Lv1->DeleteItem(0);
    EXPECT_TRUE(W->AddAccountButton->isVisible());
}

// Rules check the rows of a listing once it has ended, and rows that arrive or learn their
// header later, each once: a row the person unchecked stays so, and a rule added then checks
// only what it matches. Lines of "Rules.lst" that cannot be read are named by number, once,
// and kept in the file.
TEST_F(MainWindowTest, RulesCheckEachRowOnceFriendsWinAndUnreadLinesAreNamedAndKept)
{
    WriteFile("Rules.lst", "check sender a@x.jp\ncheck nothing\nkeep sender b@x.jp\ncheck larger 1K\n");
    W->Rules->Load();
    W->Rules->ReportUnread();
    W->Rules->ReportUnread();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_NE(Boxes[0].Text.find("2" + std::string(Texts::RulesLine) + "check nothing"), std::string::npos);
    const auto mail = [](int n, const std::string& from, long long size) {
        TMessageRecord r;
        r.Number = n;
        r.Size = size;
        ReadHeader(r, {"From: " + from});
        return r;
    };
    TMessageRecord later;   // its size first, its header later
    later.Number = 3;
    later.Size = 10;
    TMessageStore& store = W->Session.Store();
    store.Append({mail(1, "A <a@x.jp>", 10), mail(2, "b@x.jp", 5000), later, mail(4, "c@y.jp", 10)});
    EXPECT_TRUE(CheckedNumbers(*W).empty());   // not before the listing ends
    W->Rules->ListingEnded();
    EXPECT_EQ(CheckedNumbers(*W), std::vector<int>{1});   // the friend's large message stays
    store.SetHeader(2, {"From: a@X.jp"});
    QApplication::processEvents();                         // matched after the store's notification
    EXPECT_EQ(CheckedNumbers(*W), (std::vector<int>{1, 3}));
    store.SetChecked(0, false);
    store.Append(mail(5, "big@y.jp", 2048));
    QApplication::processEvents();
    EXPECT_EQ(CheckedNumbers(*W), (std::vector<int>{3, 5}));
    EXPECT_EQ(W->Sb->PanelText(3), Texts::RulesChecked + std::string("3") + Texts::RulesCheckedCount);
    W->Rules->AddRule({TRuleAction::Check, TRuleKind::Domain, "y.jp", 0, ""});
    EXPECT_EQ(CheckedNumbers(*W), (std::vector<int>{3, 4, 5}));
    EXPECT_NE(ReadFile("Rules.lst").find("\ncheck nothing\n"), std::string::npos);
    EXPECT_NE(ReadFile("Rules.lst").find("\ncheck domain y.jp\n"), std::string::npos);
    store.Clear();
    EXPECT_EQ(W->Sb->PanelText(3), "");
}
