#include "app/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <climits>
#include <stdexcept>

#include "app/AccountDialog.h"
#include "app/AppStyle.h"
#include "app/Environment.h"
#include "app/ListView.h"
#include "app/MessageBox.h"
#include "app/Sjis.h"
#include "app/Splitter.h"
#include "app/StatusBar.h"
#include "app/Tag.h"
#include "app/Viewer.h"
#include "app/WindowSettings.h"
#include "jconv/Jconvert.h"
#include "platform/Window.h"
#include "pop3/Nmpop3.h"
#include "runtime/Exception.h"
#include "runtime/IniFile.h"
#include "runtime/StringList.h"
#include "runtime/SysUtils.h"

TMain* Main = nullptr;

namespace {
constexpr int kPanel3Width = 89;
constexpr int kSplitterHeight = 3;
constexpr int kPanel4Height = 27;
constexpr int kStatusHeight = 19;
constexpr int kLv1MinHeight = 74;
constexpr int kLv2MinHeight = 56;

const char* const kConfirm = "\x8am\x94" "F" /* sjis: 確認 */;
const char* const kAskDeleteAccount =
    "\x82\xf0\x8d\xed\x8f\x9c\x82\xb5\x82\xdc\x82\xb7\x82\xa9\x81H" /* sjis: を削除しますか？ */;
const char* const kAskDeleteMessages =
    "\x8d\xed\x8f\x9c\x82\xb5\x82\xc4\x82\xe0\x82\xa2\x82\xa2\x82\xc5\x82\xb7\x82\xa9\x81H" /* sjis: 削除してもいいですか？ */;
const char* const kSaveFailed =
    "\xb1\xb6\xb3\xdd\xc4\x82\xcc\x95\xdb\x91\xb6\x82\xc9\x8e\xb8\x94s\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: ｱｶｳﾝﾄの保存に失敗しました。 */;
const char* const kCopyPrefix = "\xba\xcb\xdf\xb0 \x81` " /* sjis: ｺﾋﾟｰ ～  */;
const char* const kDeleted = "Deleted";
const char* const kConnecting = "\x90\xda\x91\xb1\x92\x86" /* sjis: 接続中 */;
const char* const kListing = "\xd2\xb0\xd9\xd8\xbd\xc4\x8e\xf3\x90M\x92\x86" /* sjis: ﾒｰﾙﾘｽﾄ受信中 */;
const char* const kOnline = "\xb5\xdd\xd7\xb2\xdd" /* sjis: ｵﾝﾗｲﾝ */;
const char* const kCannotConnect =
    "\x90\xda\x91\xb1\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81I" /* sjis: 接続できません！ */;
const char* const kCouldNotConnect =
    "\x90\xda\x91\xb1\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd\x81" "B" /* sjis: 接続できませんでした。 */;

QWidget* MakePanel(QWidget* parent, const char* name)
{
    auto* panel = new QWidget(parent);
    panel->setObjectName(name);
    return panel;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const std::string& caption, int tag, int left, int top,
                        int width, int height)
{
    auto* button = new QPushButton(SjisToQ(caption), parent);
    button->setObjectName(name);
    button->setGeometry(left, top, width, height);
    button->setEnabled(false);
    SetTag(button, tag);
    return button;
}

QAction* MakeItem(QMenu* menu, const char* name, const std::string& caption, int tag)
{
    QAction* action = menu->addAction(SjisToQ(caption));
    action->setObjectName(name);
    SetTag(action, tag);
    return action;
}

int AppendAccount(TListView* items, const TAccountFields& fields)
{
    return items->AddItem(fields[afName], std::vector<std::string>(fields.begin() + 1, fields.end()), 0);
}

TAccountFields ReadAccount(const TListView* items, int row)
{
    TAccountFields fields;
    fields[afName] = items->Caption(row);
    for (int i = 1; i < kAccountFieldCount; ++i)
        fields[static_cast<size_t>(i)] = items->SubItem(row, i - 1);
    return fields;
}

// Sets a field back to zero (0, false) on every way out of a scope.
template <class T>
struct ZeroOnExit {
    T& Value;
    ~ZeroOnExit() { Value = T(); }
};
template <class T>
ZeroOnExit(T&) -> ZeroOnExit<T>;

// The account's time-out in seconds as the component's milliseconds: 30 seconds for a text
// that is no positive number (the component takes no negative time-out, and 0 would wait
// for ever), at most what an int holds.
int TimeOutMilliseconds(const std::string& seconds)
{
    long long s = StrToIntDef(seconds, 30);
    if (s <= 0)
        s = 30;
    return static_cast<int>(std::min<long long>(s * 1000, INT_MAX));
}

TAccountFields FromExchangeList(const TStringList& list)
{
    TAccountFields fields;
    for (int i = 0; i < kAccountFieldCount && i < list.Count(); ++i)
        fields[static_cast<size_t>(i)] = list[i];
    return fields;
}
}

TMain::TMain() : FComponents(std::make_unique<TComponent>(nullptr))
{
    Main = this;
    setObjectName("Main");
    setWindowTitle("Purgel  Ver1.00");
    QFont font("IPAPGothic");
    font.setPixelSize(12);
    setFont(font);
    resize(469, 342);

    Panel1 = MakePanel(this, "Panel1");
    Lv1 = new TListView(Panel1, false, false);
    Lv1->setObjectName("Lv1");
    Lv1->AddColumn("\x96\xbc\x91O" /* sjis: 名前 */, 190);
    Lv1->AddColumn("\xb1\xb6\xb3\xdd\xc4" /* sjis: ｱｶｳﾝﾄ */, 162);
    Lv1->setMinimumHeight(kLv1MinHeight);
    SetTag(Lv1, 0);
    Panel3 = MakePanel(Panel1, "Panel3");
    SpeedButton1 = MakeButton(Panel3, "SpeedButton1", "\x90\xda\x91\xb1" /* sjis: 接続 */, 0, 8, 8, 73, 61);
    SpeedButton1->setCheckable(true);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);  // a speed button never takes the focus

    Splitter1 = new TSplitter(this, Panel1);
    Splitter1->setObjectName("Splitter1");

    Panel2 = MakePanel(this, "Panel2");
    Panel4 = MakePanel(Panel2, "Panel4");
    BitBtn1 = MakeButton(Panel4, "BitBtn1", "\x88\xea\x97\x97\x8e\xe6\x93\xbe" /* sjis: 一覧取得 */, 1, 4, 4, 75, 21);
    BitBtn2 = MakeButton(Panel4, "BitBtn2", "\x93\xc7\x8d\x9e\x92\x86\x8e~" /* sjis: 読込中止 */, 2, 84, 4, 75, 21);
    BitBtn3 = MakeButton(Panel4, "BitBtn3", "\x91S\x91I\x91\xf0" /* sjis: 全選択 */, 3, 164, 4, 75, 21);
    BitBtn4 = MakeButton(Panel4, "BitBtn4", "\x91I\x91\xf0\x89\xf0\x8f\x9c" /* sjis: 選択解除 */, 4, 244, 4, 75, 21);
    BitBtn5 = MakeButton(Panel4, "BitBtn5", "\x8d\xed\x8f\x9c" /* sjis: 削除 */, 5, 324, 4, 75, 21);
    Lv2 = new TListView(Panel2, true, true);
    Lv2->setObjectName("Lv2");
    Lv2->AddColumn("\xc0\xb2\xc4\xd9" /* sjis: ﾀｲﾄﾙ */, 241);
    Lv2->AddColumn("\x91\x97\x90M\x8e\xd2" /* sjis: 送信者 */, 140);
    Lv2->AddColumn("\xbb\xb2\xbd\xde" /* sjis: ｻｲｽﾞ */, 60, Qt::AlignRight);
    Lv2->setMinimumHeight(kLv2MinHeight);
    SetTag(Lv2, 1);

    Sb = new TStatusBar(this);
    Sb->setObjectName("Sb");
    Sb->AddPanel(100, Qt::AlignHCenter);
    Sb->AddPanel(50, Qt::AlignHCenter);
    Sb->AddPanel(200);
    Sb->AddPanel(50);

    Pm1 = new QMenu(this);
    Pm1->setObjectName("Pm1");
    SetTag(Pm1, 10);
    Pm1_1 = MakeItem(Pm1, "Pm1_1", "\x90V\x8bK" /* sjis: 新規 */, 11);
    Pm1_2 = MakeItem(Pm1, "Pm1_2", "\x95\xd2\x8fW" /* sjis: 編集 */, 12);
    Pm1_3 = MakeItem(Pm1, "Pm1_3", "\xba\xcb\xdf\xb0" /* sjis: ｺﾋﾟｰ */, 13);
    Pm1_4 = MakeItem(Pm1, "Pm1_4", "\x8d\xed\x8f\x9c" /* sjis: 削除 */, 14);
    Pm2 = new QMenu(this);
    Pm2->setObjectName("Pm2");
    SetTag(Pm2, 20);
    Pm2_1 = MakeItem(Pm2, "Pm2_1", "\xd2\xb0\xd9\x93\xe0\x97" "e" /* sjis: ﾒｰﾙ内容 */, 21);
    Pm2_2 = MakeItem(Pm2, "Pm2_2", "\xcd\xaf\xc0\xde\xb0\x8f\xee\x95\xf1" /* sjis: ﾍｯﾀﾞｰ情報 */, 22);

    NMPOP3 = new TNMPOP3(FComponents.get());
    NMPOP3->Name = "NMPOP3";
    NMPOP3->Port = 110;
    NMPOP3->ReportLevel = 0;
    NMPOP3->Parse = false;
    NMPOP3->DeleteOnRead = false;
    NMPOP3->OnConnect = [this](TObject* s) { Guarded([&] { NMPOP3Connect(s); }); };
    NMPOP3->OnDisconnect = [this](TObject* s) { Guarded([&] { NMPOP3Disconnect(s); }); };
    NMPOP3->OnConnectionFailed = [this](TObject* s) { Guarded([&] { NMPOP3ConnectionFailed(s); }); };
    NMPOP3->OnRetrieveEnd = [this](TObject* s) { Guarded([&] { NMPOP3RetrieveEnd(s); }); };
    NMPOP3->OnSuccess = [this](TObject* s) { Guarded([&] { NMPOP3Success(s); }); };
    NMPOP3->OnDecodeStart = [this](std::string& f) { Guarded([&] { NMPOP3DecodeStart(f); }); };
    // What goes wrong inside the component's own timer and socket handling is shown like
    // any other exception that reaches the message loop.
    platform::SetExceptionHandler([](const std::exception* e, TObject*) {
        ShowException(e ? *e : std::runtime_error("Unknown exception"));
    });

    // The stop button comes first among the command buttons.
    QWidget* order[] = {Lv1, SpeedButton1, BitBtn2, BitBtn1, BitBtn3, BitBtn4, BitBtn5, Lv2};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    for (QPushButton* b : {SpeedButton1, BitBtn1, BitBtn2, BitBtn3, BitBtn4, BitBtn5})
        Bind(b);
    for (QAction* a : {Pm1_1, Pm1_2, Pm1_3, Pm1_4, Pm2_1, Pm2_2})
        Bind(a);
    for (QMenu* m : {Pm1, Pm2})
        connect(m, &QMenu::aboutToShow, this, [this, m] { Guarded([&] { MenuItemClick(m); }); });
    for (const auto& pair : {std::pair{Lv1, Pm1}, std::pair{Lv2, Pm2}}) {
        // Plain copies: clang 14 cannot capture structured bindings.
        TListView* list = pair.first;
        QMenu* menu = pair.second;
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(list, &QWidget::customContextMenuRequested, this,
                [list, menu](const QPoint& pos) { menu->popup(list->viewport()->mapToGlobal(pos)); });
        list->OnDblClick = [this, list] { Handle([&] { ListViewDblClick(list); }); };
    }
    connect(Lv1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { Guarded([this] { ListViewSelectItem(Lv1, Lv1->Selected() >= 0); }); });
    Splitter1->OnMoved = [this](int height) {
        Guarded([&] {
            const int most = this->height() - kSplitterHeight - kStatusHeight - kPanel4Height - kLv2MinHeight;
            SetPanel1Height(std::max(kLv1MinHeight, std::min(height, most)));
        });
    };

    Realign();
    Guarded([this] { FormCreate(); });
}

TMain::~TMain()
{
    Guarded([this] { FormDestroy(); });
    // Nothing of the component reaches the window from here on.
    NMPOP3->OnConnect = nullptr;
    NMPOP3->OnDisconnect = nullptr;
    NMPOP3->OnConnectionFailed = nullptr;
    NMPOP3->OnRetrieveEnd = nullptr;
    NMPOP3->OnSuccess = nullptr;
    NMPOP3->OnDecodeStart = nullptr;
    FComponents.reset();
    NMPOP3 = nullptr;
    platform::SetExceptionHandler(nullptr);
    if (Main == this)
        Main = nullptr;
}

void TMain::Handle(const std::function<void()>& handler)
{
    Guarded(handler);
    Guarded([this] { FinishPendingEnd(); });
}

void TMain::Bind(QPushButton* button)
{
    connect(button, &QPushButton::clicked, this, [this, button] { Handle([&] { ButtonClick(button); }); });
}

void TMain::Bind(QAction* action)
{
    connect(action, &QAction::triggered, this, [this, action] { Handle([&] { MenuItemClick(action); }); });
}

// ---- Life events ----

void TMain::FormCreate()
{
    LoadWindowSettings();
    CreateProgressBar(2);
    SetHintSettings(QColor(0, 255, 0), 10, 5000);
    StopRequested = false;
}

void TMain::FormShow()
{
    LoadAccounts(Lv1);
    Lv2->ClearItems();
}

void TMain::FormClose()
{
    if (Connected())
        StopRequested = true;
    FClosing = true;
    // Nothing is committed yet while the connection is being made: the closed program does
    // not wait for it.
    if (FConnecting)
        NMPOP3->Abort();
}

void TMain::FormDestroy()
{
    if (Connected()) {
        StopRequested = true;
        EndDialogue();
        // Destroyed while a command still waited (never by the program itself): nothing can
        // wait for it any more.
        if (FEndPending)
            NMPOP3->Abort();
    }
    SaveAccounts(Lv1);
    try {
        SaveWindowSettings();
    } catch (const std::exception&) {
        // Only the window's geometry is lost; the accounts were saved (or reported) above.
    }
    delete ProgressBar;
    ProgressBar = nullptr;
}

void TMain::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        FClosing = false;
        Guarded([this] { FormShow(); });
    }
    QWidget::showEvent(event);
}

void TMain::closeEvent(QCloseEvent* event)
{
    Guarded([this] { FormClose(); });
    event->accept();
}

void TMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Realign();
}

// The controls are placed here rather than by Qt layouts so that every size is exact and
// known before the window is first shown.
void TMain::Realign()
{
    const int w = width();
    const int h = height();
    const int p1 = FPanel1Height;
    Panel1->setGeometry(0, 0, w, p1);
    Lv1->setGeometry(0, 0, std::max(0, w - kPanel3Width), p1);
    Panel3->setGeometry(std::max(0, w - kPanel3Width), 0, kPanel3Width, p1);
    Splitter1->setGeometry(0, p1, w, kSplitterHeight);
    const int top2 = p1 + kSplitterHeight;
    const int h2 = std::max(0, h - kStatusHeight - top2);
    Panel2->setGeometry(0, top2, w, h2);
    Panel4->setGeometry(0, h2 - kPanel4Height, w, kPanel4Height);
    Lv2->setGeometry(0, 0, w, std::max(0, h2 - kPanel4Height));
    Sb->setGeometry(0, h - kStatusHeight, w, kStatusHeight);
}

void TMain::SetPanel1Height(int height)
{
    FPanel1Height = std::max(0, height);
    Realign();
}

// ---- Settings file ----

TWindowSettings TMain::CurrentWindowSettings() const
{
    TWindowSettings s;
    s.Top = y();
    s.Left = x();
    s.Width = width();
    s.Height = height();
    s.Panel1Height = FPanel1Height;
    for (int i = 0; i < Lv1->columnCount(); ++i)
        s.ListView1Columns.push_back(Lv1->columnWidth(i));
    for (int i = 0; i < Lv2->columnCount(); ++i)
        s.ListView2Columns.push_back(Lv2->columnWidth(i));
    return s;
}

void TMain::LoadWindowSettings()
{
    const TIniFile ini(SettingsFileName());
    TWindowSettings s = CurrentWindowSettings();
    const TScreenSize screen = ScreenSize();
    ReadWindowSettings(ini, objectName().toStdString(), screen.Width, screen.Height, s);
    move(s.Left, s.Top);
    resize(s.Width, s.Height);
    SetPanel1Height(s.Panel1Height);
    for (size_t i = 0; i < s.ListView1Columns.size(); ++i)
        Lv1->setColumnWidth(static_cast<int>(i), s.ListView1Columns[i]);
    for (size_t i = 0; i < s.ListView2Columns.size(); ++i)
        Lv2->setColumnWidth(static_cast<int>(i), s.ListView2Columns[i]);
}

void TMain::SaveWindowSettings()
{
    // A maximised or minimised window keeps the geometry of the last normal one.
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    TIniFile ini(SettingsFileName());
    WriteWindowSettings(ini, objectName().toStdString(), CurrentWindowSettings());
}

void TMain::CreateProgressBar(int panelIndex)
{
    ProgressBar = new QProgressBar(Sb);
    ProgressBar->setObjectName("ProgressBar");
    int left = 0;
    for (int i = 0; i < panelIndex; ++i)
        left += Sb->PanelWidth(i);
    ProgressBar->setGeometry(left + 2, 2, Sb->PanelWidth(panelIndex) - 2, Sb->height() - 2);
    ProgressBar->setTextVisible(false);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->show();
}

// ---- Shared handlers ----

void TMain::ButtonClick(QObject* Sender)
{
    switch (TagOf(Sender)) {
    case 0: ConnectButtonClick(); break;
    case 1: RetrieveMessageList(Lv2); break;
    case 2: StopRequested = true; break;
    case 3: SetAllChecked(true); break;
    case 4: SetAllChecked(false); break;
    case 5: DeleteCheckedMessages(); break;
    default: break;
    }
}

void TMain::MenuItemClick(QObject* Sender)
{
    switch (TagOf(Sender)) {
    case 10: {
        const bool selected = Lv1->Selected() >= 0;
        Pm1_2->setEnabled(selected);
        Pm1_3->setEnabled(selected);
        Pm1_4->setEnabled(selected);
        break;
    }
    case 11: NewAccount(); break;
    case 12: EditAccount(); break;
    case 13: CopyAccount(); break;
    case 14: DeleteAccount(); break;
    case 20: {
        const bool selected = Lv2->Selected() >= 0;
        Pm2_1->setEnabled(selected);
        Pm2_2->setEnabled(selected);
        break;
    }
    case 21: ViewMessageText(); break;
    case 22: ViewMessageHeader(); break;
    default: break;
    }
}

void TMain::ListViewDblClick(QObject* Sender)
{
    switch (TagOf(Sender)) {
    case 0:
        if (Lv1->Selected() >= 0)
            EditAccount();
        break;
    case 1:
        if (Lv2->Selected() >= 0 && Connected())
            ViewMessageText();
        break;
    default: break;
    }
}

void TMain::ListViewSelectItem(QObject*, bool Selected) { SpeedButton1->setEnabled(Selected); }

// ---- Account list ----

void TMain::LoadAccounts(TListView* items)
{
    items->ClearItems();
    std::vector<TAccountFields> accounts;
    FAccountFileUnread = !LoadAccountFile(AccountFileName(), accounts);
    for (const auto& a : accounts)
        AppendAccount(items, a);
}

void TMain::SaveAccounts(TListView* items)
{
    try {
        const std::string fileName = AccountFileName();
        // A file that could not be read at start holds accounts this list lacks: keep it.
        if (FAccountFileUnread && FileExists(fileName))
            throw EWriteError("Not replacing the unread " + fileName);
        std::vector<TAccountFields> accounts;
        for (int row = 0; row < items->Count(); ++row)
            accounts.push_back(ReadAccount(items, row));
        SaveAccountFile(fileName, accounts);
        FAccountFileUnread = false;
    } catch (const std::exception&) {
        MessageBox(kSaveFailed, kConfirm, TMsgIcon::Stop, TMsgButtons::OK);
    }
}

TAccountFields TMain::AccountRow(int row) const { return ReadAccount(Lv1, row); }

void TMain::SetAccountRow(int row, const TAccountFields& fields)
{
    Lv1->SetCaption(row, fields[afName]);
    for (int i = 1; i < kAccountFieldCount; ++i)
        Lv1->SetSubItem(row, i - 1, fields[static_cast<size_t>(i)]);
}

bool TMain::ExecAccountDialog(TStringList& fields)
{
    // The dialog deletes itself when it closes.
    auto* dialog = new TAcco(this, fields);
    return dialog->exec() == QDialog::Accepted;
}

void TMain::NewAccount()
{
    TStringList fields;
    if (!ExecAccountDialog(fields))
        return;
    AppendAccount(Lv1, FromExchangeList(fields));
    SaveAccounts(Lv1);
}

void TMain::EditAccount()
{
    const int row = Lv1->Selected();
    if (row < 0)
        return;
    TStringList fields;
    for (const auto& f : AccountRow(row))
        fields.Add(f);
    if (!ExecAccountDialog(fields) || row >= Lv1->Count())
        return;
    SetAccountRow(row, FromExchangeList(fields));
    SaveAccounts(Lv1);
}

void TMain::CopyAccount()
{
    const int row = Lv1->Selected();
    if (row < 0)
        return;
    TAccountFields fields = AccountRow(row);
    fields[afName] = kCopyPrefix + fields[afName];
    AppendAccount(Lv1, fields);
    SaveAccounts(Lv1);
}

void TMain::DeleteAccount()
{
    int row = Lv1->Selected();
    if (row < 0)
        return;
    const std::string text = Lv1->Caption(row) + "\n" + kAskDeleteAccount;
    if (MessageBox(text, kConfirm, TMsgIcon::Question, TMsgButtons::YesNo, 1) != mrYes)
        return;
    row = Lv1->Selected();
    if (row < 0)
        return;
    Lv1->DeleteItem(row);
    ListViewSelectItem(Lv1, Lv1->Selected() >= 0);
    SaveAccounts(Lv1);
}

// ---- Mailbox ----

bool TMain::Connected() const { return NMPOP3 && NMPOP3->Connected; }

bool TMain::ComponentWaiting() const { return NMPOP3->Busy() || FEnding; }

void TMain::SetCommandButtonsEnabled(bool enabled)
{
    for (QPushButton* b : {BitBtn1, BitBtn2, BitBtn3, BitBtn4, BitBtn5})
        b->setEnabled(enabled);
}

std::string TMain::DecodeHeaderText(const std::string& text) const
{
    return Jconvert::ConvertJCode(Jconvert::DecodeHeaderString(text), Jconvert::JCODE_SJIS);
}

// The connect button has already toggled. Released: end the connection. Pressed: connect to
// the selected account and list its mailbox.
void TMain::ConnectButtonClick()
{
    if (!SpeedButton1->isChecked()) {
        EndDialogue();
        return;
    }
    // A second Connect on the socket of one still being made or ended would break both.
    const int row = Lv1->Selected();
    if (Connected() || ComponentWaiting() || row < 0) {
        SpeedButton1->setChecked(false);
        return;
    }
    Sb->SetPanelText(0, kConnecting);
    const TAccountFields account = AccountRow(row);
    NMPOP3->UserID = account[afUserID];
    NMPOP3->Password = account[afPassword];
    NMPOP3->Host = account[afServer];
    NMPOP3->TimeOut = TimeOutMilliseconds(account[afTimeOut]);
    NMPOP3->Port = StrToIntDef(account[afPort], 110);
    FDeletedCount = 0;
    FEndPending = false;
    try {
        FConnecting = true;
        NMPOP3->Connect();
        FConnecting = false;
    } catch (...) {
        FConnecting = false;
        if (!FClosing)
            MessageBox(kCouldNotConnect, kConfirm, TMsgIcon::Exclamation, TMsgButtons::OK);
        SpeedButton1->setChecked(false);
        Sb->SetPanelText(0, "");
        // A failed STAT fires OnConnect after the connection has closed: back to idle, without
        // a count for a mailbox that was never counted.
        SetCommandButtonsEnabled(false);
        Sb->SetPanelText(1, "");
    }
    RetrieveMessageList(Lv2);
}

// Fetches the summaries of all messages into `items`; a listing needs an open connection
// that no other command is using.
void TMain::RetrieveMessageList(TListView* items)
{
    if (!Connected() || ComponentWaiting())
        return;
    Sb->SetPanelText(0, kListing);
    Sb->SetPanelText(1, IntToStr(NMPOP3->MessageCount));
    // A range of 0 to 0 would turn the bar into a busy indicator.
    ProgressBar->setRange(0, std::max(1, NMPOP3->MessageCount));
    ProgressBar->setValue(0);
    items->ClearItems();
    StopRequested = false;
    RetrieveMode = 0;
    {
        // Laying out the list and moving the bar for every message would take longer than
        // fetching it: both follow at most every 50 ms.
        items->BeginAppending();
        struct Appending {
            TListView* List;
            ~Appending() { List->EndAppending(); }
        } appending{items};
        QElapsedTimer sinceShown;
        sinceShown.start();
        int done = 0;
        for (int i = 0; !StopRequested && !FClosing && i < NMPOP3->MessageCount; ++i) {
            if (!Connected())
                break;
            NMPOP3->Tag = i + 1;
            try {
                NMPOP3->GetSummary(i + 1);
            } catch (...) {
                // The message gets no row; a lost connection ends the loop at its next pass.
            }
            ++done;
            if (sinceShown.elapsed() >= 50) {
                ProgressBar->setValue(done);
                items->ShowAppended();
                sinceShown.restart();
            }
        }
    }
    ProgressBar->setValue(0);
    if (Connected()) {
        Sb->SetPanelText(0, kOnline);
    } else {
        Sb->SetPanelText(0, "");
        Sb->SetPanelText(1, "");
    }
    StopRequested = false;
}

// Ends the connection: QUIT (which commits the deletions), then Abort. While a command waits
// further down the stack a QUIT would be read as that command's reply, so then either the
// command is cancelled at once (nothing to commit) or the end waits until it is done.
void TMain::EndDialogue()
{
    if (ComponentWaiting()) {
        StopRequested = true;
        if (FEnding)
            return;  // the QUIT is on its way already
        if (FDeletedCount > 0 || FDeleting) {
            FEndPending = true;
            return;
        }
        NMPOP3->Abort();
        return;
    }
    FEnding = true;
    try {
        if (NMPOP3->Connected)
            NMPOP3->Disconnect();
    } catch (...) {
        // The component has closed the connection anyway; a failed QUIT is not shown.
    }
    FEnding = false;
    try {
        NMPOP3->Abort();
    } catch (...) {
    }
}

void TMain::FinishPendingEnd()
{
    if (FEndPending && !ComponentWaiting()) {
        FEndPending = false;
        EndDialogue();
    }
}

void TMain::SetAllChecked(bool checked)
{
    for (int row = 0; row < Lv2->Count(); ++row)
        Lv2->SetChecked(row, checked);
}

void TMain::DeleteCheckedMessages()
{
    if (Lv2->Count() == 0)
        return;
    if (MessageBox(kAskDeleteMessages, kConfirm, TMsgIcon::Question, TMsgButtons::YesNo, 0) != mrYes)
        return;
    FDeleting = true;
    const ZeroOnExit deleting{FDeleting};
    // Rows are only marked while the server is asked, so the row index of each request stays
    // valid. A row marked by an earlier command that ended with a refusal is deleted already.
    for (int row = 0; row < Lv2->Count() && !FEndPending; ++row) {
        if (!Lv2->Checked(row) || Lv2->Data(row) == -1)
            continue;
        Lv2->SetSelected(row, true);
        Lv2->scrollToItem(Lv2->item(row, 0), QAbstractItemView::EnsureVisible);
        Lv2->viewport()->repaint();
        DeleteMailMessage(row, Lv2->Data(row));
        Lv2->clearSelection();
    }
    for (int row = Lv2->Count() - 1; row >= 0; --row)
        if (Lv2->Data(row) == -1)
            Lv2->DeleteItem(row);
}

// Asks the server to delete message msgNo of list row `row`; an accepted deletion marks the
// row (NMPOP3Success), a refusal raises the server's reply.
void TMain::DeleteMailMessage(int row, int msgNo)
{
    NMPOP3->Tag = row;
    NMPOP3->DeleteMailMessage(msgNo);
}

void TMain::MarkMessageDeleted(int row)
{
    Lv2->SetSubItem(row, 1, kDeleted);
    Lv2->SetData(row, -1);
}

int TMain::AddMessageRow(const std::string& subject, const std::string& from, long long bytes, int msgNo)
{
    return Lv2->AddItem(subject, {from, IntToStr(bytes)}, msgNo);
}

// ---- Component events ----

void TMain::NMPOP3Connect(TObject*)
{
    Sb->SetPanelText(0, "\x90\xda\x91\xb1" /* sjis: 接続 */);
    Sb->SetPanelText(1, IntToStr(NMPOP3->MessageCount));
    SetCommandButtonsEnabled(true);
}

void TMain::NMPOP3Disconnect(TObject*)
{
    Sb->SetPanelText(0, "");
    Sb->SetPanelText(1, "");
    SetCommandButtonsEnabled(false);
}

void TMain::NMPOP3ConnectionFailed(TObject*)
{
    if (!FClosing)
        MessageBox(kCannotConnect, kConfirm, TMsgIcon::Exclamation, TMsgButtons::OK);
}

void TMain::NMPOP3RetrieveEnd(TObject*)
{
    const int mode = RetrieveMode;
    const ZeroOnExit reset{RetrieveMode};
    if (mode == 0) {
        const TSummary& s = NMPOP3->Summary;
        AddMessageRow(DecodeHeaderText(s.Subject), DecodeHeaderText(s.From), s.Bytes, NMPOP3->Tag);
        return;
    }
    // The viewer that asked, unless it has been closed or replaced meanwhile.
    TMail* viewer = FRetrieveViewer.data();
    if (!viewer || viewer != Mail)
        return;
    if (mode == 1)
        ShowMessageText(viewer, NMPOP3->MailMessage);
    else if (mode == 2)
        ShowMessageHeader(viewer, NMPOP3->Summary);
}

void TMain::NMPOP3Success(TObject*)
{
    ++FDeletedCount;
    const int row = NMPOP3->Tag;
    if (row >= 0 && row < Lv2->Count())
        MarkMessageDeleted(row);
}

// Attachments are not saved under a name of their own.
void TMain::NMPOP3DecodeStart(std::string& FileName) { FileName.clear(); }

// ---- Viewer ----

void TMain::OpenViewer()
{
    if (Mail) {
        TMail* old = Mail;
        Mail = nullptr;
        old->close();
    }
    Mail = new TMail(this);
    Mail->show();
}

// The message text of the selected row. A failing fetch is not reported: the viewer keeps
// "受信中".
void TMain::ViewMessageText()
{
    const int row = Lv2->Selected();
    if (row < 0)
        return;
    const int msgNo = Lv2->Data(row);
    OpenViewer();
    // The component would refuse the request; RetrieveMode stays with the running command.
    if (ComponentWaiting())
        return;
    // A refused RETR leaves the record alone: it must not show the previous message.
    NMPOP3->MailMessage.Clear();
    FRetrieveViewer = Mail;
    RetrieveMode = 1;
    try {
        NMPOP3->GetMailMessage(msgNo);
    } catch (...) {
    }
    RetrieveMode = 0;
}

// The header of the selected row; a failing fetch raises to the handler boundary.
void TMain::ViewMessageHeader()
{
    const int row = Lv2->Selected();
    if (row < 0)
        return;
    const int msgNo = Lv2->Data(row);
    OpenViewer();
    if (ComponentWaiting())
        return;
    FRetrieveViewer = Mail;
    RetrieveMode = 2;
    const ZeroOnExit reset{RetrieveMode};
    NMPOP3->GetSummary(msgNo);
}

// The record is left as it is (the lines are converted for the viewer only), so showing it
// again gives the same text.
void TMain::ShowMessageText(TMail* viewer, const TMailMessage& message)
{
    FillViewer(viewer, message.Subject, message.Body.Items(), message.From);
}

// Every header line converted on its own (a folded field shows as several lines).
void TMain::ShowMessageHeader(TMail* viewer, const TSummary& summary)
{
    viewer->ClearLines();
    FillViewer(viewer, summary.Subject, summary.Header.Items(), summary.From);
}

void TMain::FillViewer(TMail* viewer, const std::string& subject, const std::vector<std::string>& lines,
                       const std::string& from) const
{
    viewer->SetCaption(DecodeHeaderText(subject));
    std::vector<std::string> shown;
    shown.reserve(lines.size());
    for (const std::string& line : lines)
        shown.push_back(DecodeHeaderText(line));
    viewer->SetLines(shown);
    viewer->Sb->SetPanelText(0, "");
    viewer->Sb->SetPanelText(1, DecodeHeaderText(from));
}
