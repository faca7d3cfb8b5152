// The main window's building and layout, its life events, the settings file and the shared
// handlers that dispatch on the sender's tag.
#include "app/main/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <algorithm>
#include <stdexcept>

#include "app/accounts/AccountCommands.h"
#include "app/accounts/AccountsCheckView.h"
#include "app/accounts/CertificateQuestion.h"
#include "app/accounts/PasswordHandling.h"
#include "app/accounts/SignInHandling.h"
#include "app/files/WindowSettings.h"
#include "app/mailboxview/CheckRules.h"
#include "app/mailboxview/MailboxCommands.h"
#include "app/mailboxview/MessageFilter.h"
#include "app/mailboxview/MessageModel.h"
#include "app/mailboxview/MessageView.h"
#include "app/mailboxview/RuleCommands.h"
#include "app/mailboxview/SenderPanel.h"
#include "app/main/AppStyle.h"
#include "app/main/ListView.h"
#include "app/main/MessageBox.h"
#include "app/main/Screen.h"
#include "app/main/Sjis.h"
#include "app/main/Splitter.h"
#include "app/main/Startup.h"
#include "app/main/StatusBar.h"
#include "app/main/Tag.h"
#include "app/main/Texts.h"
#include "app/viewer/ViewerCommands.h"
#include "mailbox/Environment.h"
#include "platform/Window.h"
#include "runtime/IniFile.h"

TMain* Main = nullptr;

namespace {
constexpr int Panel3Width = 89;
constexpr int SplitterHeight = 3;
constexpr int Panel4Height = 27;
constexpr int Lv1MinHeight = 74;
constexpr int Lv2MinHeight = 56;
constexpr int FilterBarHeight = 24;
constexpr int RuleButtonWidth = 96;
constexpr int SenderButtonWidth = 72;
constexpr int SenderPanelHeight = 150;
constexpr int AddAccountWidth = 116;

QWidget* MakePanel(QWidget* parent, const char* name)
{
    auto* panel = new QWidget(parent);
    panel->setObjectName(name);
    return panel;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const std::string& caption, TButtonTag tag, int left,
                        int top, int width, int height)
{
    auto* button = new QPushButton(SjisToQ(caption), parent);
    button->setObjectName(name);
    button->setGeometry(left, top, width, height);
    button->setEnabled(false);
    SetTag(button, tag);
    return button;
}

QAction* MakeItem(QMenu* menu, const char* name, const std::string& caption, TMenuTag tag)
{
    QAction* action = menu->addAction(SjisToQ(caption));
    action->setObjectName(name);
    SetTag(action, tag);
    return action;
}
}

TMain::TMain() : NMPOP3(&Session.Pop3())
{
    Main = this;
    setObjectName("Main");
    setWindowTitle(Texts::MainCaption);
    QFont font("IPAPGothic");
    font.setPixelSize(12);
    setFont(font);

    BuildAccountPanel();
    BuildMessagePanel();
    BuildStatusBar();
    BuildMenus();
    Accounts = std::make_unique<TAccountCommands>(*this);
    PasswordHandling = std::make_unique<TPasswordHandling>(*this);
    SignInHandling = std::make_unique<TSignInHandling>(*this);
    Certificates = std::make_unique<TCertificateQuestion>(*this);
    Mailbox = std::make_unique<TMailboxCommands>(*this);
    Viewers = std::make_unique<TViewerCommands>(*this);
    Rules = std::make_unique<TRuleCommands>(*this);
    // What goes wrong inside the component's own timer and socket handling is shown like
    // any other exception that reaches the message loop.
    platform::SetExceptionHandler([](const std::exception* e, TObject*) {
        ShowException(e ? *e : std::runtime_error("Unknown exception"));
    });
    ConnectHandlers();

    resize(FirstStartSize());
    Realign();
    Guarded([this] { FormCreate(); });
}

// The account list with the connect button beside it, and the splitter below them.
void TMain::BuildAccountPanel()
{
    Panel1 = MakePanel(this, "Panel1");
    Lv1 = new TListView(Panel1);
    Lv1->setObjectName("Lv1");
    Lv1->AddColumn(Texts::NameColumn, 190);
    Lv1->AddColumn(Texts::AccountColumn, 162);
    Lv1->setMinimumHeight(Lv1MinHeight);
    SetTag(Lv1, TListTag::Accounts);
    Panel3 = MakePanel(Panel1, "Panel3");
    SpeedButton1 = MakeButton(Panel3, "SpeedButton1", Texts::ConnectCaption, TButtonTag::Connect, 8, 8, 73, 61);
    SpeedButton1->setCheckable(true);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);  // a speed button never takes the focus
    // Down means connected: plain to see, and the caption names what a press does then.
    SpeedButton1->setStyleSheet(
        "QPushButton:checked { background: #2b62b0; color: white; border: 2px inset #173a6e; font-weight: bold; }");
    connect(SpeedButton1, &QPushButton::toggled, this, [this](bool down) {
        SpeedButton1->setText(SjisToQ(down ? Texts::DisconnectCaption : Texts::ConnectCaption));
    });
    // First start: the empty list says how to add an account, with a button for it.
    Lv1->EmptyHint = SjisToQ(Texts::NoAccountsHint);
    Lv1->EmptyHintMargin = AddAccountWidth + 8;
    AddAccountButton = MakeButton(Lv1->viewport(), "AddAccountButton", Texts::AddAccountCaption,
                                  TButtonTag::AddAccount, 0, 0, AddAccountWidth, 21);
    AddAccountButton->setEnabled(true);

    Splitter1 = new TSplitter(this, Panel1);
    Splitter1->setObjectName("Splitter1");
}

// The message list with the command buttons below it.
void TMain::BuildMessagePanel()
{
    Panel2 = MakePanel(this, "Panel2");
    Panel4 = MakePanel(Panel2, "Panel4");
    BitBtn1 = MakeButton(Panel4, "BitBtn1", Texts::ListCaption, TButtonTag::List, 4, 4, 75, 21);
    BitBtn2 = MakeButton(Panel4, "BitBtn2", Texts::StopCaption, TButtonTag::Stop, 84, 4, 75, 21);
    BitBtn3 = MakeButton(Panel4, "BitBtn3", Texts::CheckAllCaption, TButtonTag::CheckAll, 164, 4, 75, 21);
    BitBtn4 = MakeButton(Panel4, "BitBtn4", Texts::UncheckAllCaption, TButtonTag::UncheckAll, 244, 4, 75, 21);
    BitBtn5 = MakeButton(Panel4, "BitBtn5", Texts::DeleteCaption, TButtonTag::Delete, 324, 4, 75, 21);
    BitBtn6 = MakeButton(Panel4, "BitBtn6", Texts::UndoCaption, TButtonTag::Undo, 404, 4, 64, 21);
    BitBtn6->setToolTip(SjisToQ(Texts::UndoItem));
    Lv2 = new TMessageView(Panel2);
    Lv2->setObjectName("Lv2");
    Grouping = std::make_unique<TSenderGrouping>(Session.Store());
    Model = std::make_unique<TMessageModel>(Session.Store());
    Filter = std::make_unique<TMessageFilter>(Model.get());
    Lv2->SetModels(Filter.get());
    const int widths[] = {241, 140, 60, 118};
    for (int c = 0; c < TMessageModel::ColumnCount; ++c)
        Lv2->setColumnWidth(c, widths[c]);
    // The subject takes whatever width the other columns leave.
    Lv2->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    Lv2->setMinimumHeight(Lv2MinHeight);
    SetTag(Lv2, TListTag::Messages);
    BuildFilterBar();
    BuildSenderPanel();
}

// Above the message list: the filter field and the button of the check rules.
void TMain::BuildFilterBar()
{
    FilterEdit = new QLineEdit(Panel2);
    FilterEdit->setObjectName("FilterEdit");
    FilterEdit->setPlaceholderText(SjisToQ(Texts::FilterHint));
    FilterEdit->setClearButtonEnabled(true);
    RuleButton = new QToolButton(Panel2);
    RuleButton->setObjectName("RuleButton");
    RuleButton->setText(SjisToQ(Texts::RuleCaption));
    RuleButton->setPopupMode(QToolButton::InstantPopup);
}

// Between the filter bar and the list, hidden until its button is pressed.
void TMain::BuildSenderPanel()
{
    SenderButton = new QToolButton(Panel2);
    SenderButton->setObjectName("SenderButton");
    SenderButton->setText(SjisToQ(Texts::BySenderTab));
    SenderButton->setCheckable(true);
    SenderPanel = new TSenderPanel(Panel2, *Grouping);
    SenderPanel->hide();
}

void TMain::BuildStatusBar()
{
    Sb = new TStatusBar(this);
    Sb->setObjectName("Sb");
    Sb->AddPanel(100, Qt::AlignHCenter);
    Sb->AddPanel(50, Qt::AlignHCenter);
    Sb->AddPanel(200);
    Sb->AddPanel(50);
}

// The context menus of the account list (Pm1) and the message list (Pm2).
void TMain::BuildMenus()
{
    Pm1 = new QMenu(this);
    Pm1->setObjectName("Pm1");
    SetTag(Pm1, TMenuTag::AccountMenu);
    Pm1_1 = MakeItem(Pm1, "Pm1_1", Texts::NewItem, TMenuTag::NewAccount);
    Pm1_2 = MakeItem(Pm1, "Pm1_2", Texts::EditItem, TMenuTag::EditAccount);
    Pm1_3 = MakeItem(Pm1, "Pm1_3", Texts::CopyItem, TMenuTag::CopyAccount);
    Pm1_4 = MakeItem(Pm1, "Pm1_4", Texts::DeleteItem, TMenuTag::DeleteAccount);
    Pm1->addSeparator();
    Pm1_6 = MakeItem(Pm1, "Pm1_6", Texts::CheckAllAccountsItem, TMenuTag::CheckAllAccounts);
    Pm1->addSeparator();
    Pm1_5 = MakeItem(Pm1, "Pm1_5", Texts::AboutItem, TMenuTag::About);
    Pm2 = new QMenu(this);
    Pm2->setObjectName("Pm2");
    SetTag(Pm2, TMenuTag::MessageMenu);
    Pm2_1 = MakeItem(Pm2, "Pm2_1", Texts::MessageTextItem, TMenuTag::MessageText);
    Pm2_2 = MakeItem(Pm2, "Pm2_2", Texts::HeaderItem, TMenuTag::MessageHeader);
    Pm2->addSeparator();
    Pm2_3 = MakeItem(Pm2, "Pm2_3", Texts::UndoItem, TMenuTag::Undo);
    Pm3 = new QMenu(this);
    Pm3->setObjectName("Pm3");
    SetTag(Pm3, TMenuTag::RuleMenu);
    Pm3_1 = MakeItem(Pm3, "Pm3_1", Texts::CheckShownItem, TMenuTag::CheckShown);
    Pm3_2 = MakeItem(Pm3, "Pm3_2", Texts::CheckLargerItem, TMenuTag::CheckLarger);
    Pm3_3 = MakeItem(Pm3, "Pm3_3", Texts::CheckOlderItem, TMenuTag::CheckOlder);
    Pm3_4 = MakeItem(Pm3, "Pm3_4", Texts::InvertItem, TMenuTag::InvertChecks);
    Pm3->addSeparator();
    Pm3_5 = MakeItem(Pm3, "Pm3_5", Texts::RulesItem, TMenuTag::Rules);
    RuleButton->setMenu(Pm3);
}

// The tab order, and the controls' signals to the handlers.
void TMain::ConnectHandlers()
{
    // The stop button comes first among the command buttons.
    QWidget* order[] = {Lv1, SpeedButton1, BitBtn2, BitBtn1, BitBtn3, BitBtn4, BitBtn5, BitBtn6, FilterEdit, Lv2};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    for (QPushButton* b : {SpeedButton1, BitBtn1, BitBtn2, BitBtn3, BitBtn4, BitBtn5, BitBtn6, AddAccountButton})
        Bind(b);
    for (QAction* a : {Pm1_1, Pm1_2, Pm1_3, Pm1_4, Pm1_5, Pm1_6, Pm2_1, Pm2_2, Pm2_3, Pm3_1, Pm3_2, Pm3_3, Pm3_4, Pm3_5})
        Bind(a);
    connect(SenderButton, &QToolButton::toggled, this, [this](bool shown) {
        SenderPanel->setVisible(shown);
        if (!shown)
            SenderPanel->Table->clearSelection();   // the whole list again
        Realign();
    });
    SenderPanel->OnGroupSelected = [this](TGroupBy by, int group) { Filter->SetGroup(Grouping.get(), by, group); };
    SenderPanel->OnMakeRule = [this](const TRule& rule) { Rules->AddRule(rule); };
    connect(FilterEdit, &QLineEdit::textChanged, this,
            [this](const QString& text) { Guarded([&] { Filter->SetFilterText(text); }); });
    // The Delete key asks like the delete button, when that is offered.
    Lv2->OnDeleteKey = [this] {
        if (BitBtn5->isEnabled())
            Guarded([this] { Mailbox->DeleteCheckedMessages(); });
    };
    for (QAbstractItemModel* m : {Lv1->model()}) {
        connect(m, &QAbstractItemModel::rowsInserted, this, [this] { UpdateAccountHint(); });
        connect(m, &QAbstractItemModel::rowsRemoved, this, [this] { UpdateAccountHint(); });
    }
    for (QMenu* m : {Pm1, Pm2, Pm3})
        connect(m, &QMenu::aboutToShow, this, [this, m] { Guarded([&] { MenuItemClick(m); }); });
    for (const auto& pair : {std::pair<QAbstractItemView*, QMenu*>{Lv1, Pm1}, std::pair<QAbstractItemView*, QMenu*>{Lv2, Pm2}}) {
        // Plain copies: clang 14 cannot capture structured bindings.
        QAbstractItemView* list = pair.first;
        QMenu* menu = pair.second;
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(list, &QWidget::customContextMenuRequested, this,
                [list, menu](const QPoint& pos) { menu->popup(list->viewport()->mapToGlobal(pos)); });
    }
    Lv1->OnDblClick = [this] { Guarded([this] { ListViewDblClick(Lv1); }); };
    Lv2->OnDblClick = [this] { Guarded([this] { ListViewDblClick(Lv2); }); };
    connect(Lv1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { Guarded([this] { ListViewSelectItem(Lv1, Lv1->Selected() >= 0); }); });
    Splitter1->OnMoved = [this](int height) {
        Guarded([&] {
            const int most = this->height() - SplitterHeight - TStatusBar::BarHeight - Panel4Height - Lv2MinHeight;
            SetPanel1Height(std::max(Lv1MinHeight, std::min(height, most)));
        });
    };
}

TMain::~TMain()
{
    Guarded([this] { FormDestroy(); });
    // Nothing of the session reaches the window from here on; the models go before the
    // store they follow.
    delete AccountsCheck;
    AccountsCheck = nullptr;
    Rules.reset();
    Mailbox.reset();
    Viewers.reset();
    Certificates.reset();
    SignInHandling.reset();
    Lv2->SetModels(nullptr);
    Filter.reset();
    Model.reset();
    SenderPanel->Detach();
    Grouping.reset();
    platform::SetExceptionHandler(nullptr);
    if (Main == this)
        Main = nullptr;
}

void TMain::Bind(QPushButton* button)
{
    connect(button, &QPushButton::clicked, this, [this, button] { Guarded([&] { ButtonClick(button); }); });
}

void TMain::Bind(QAction* action)
{
    connect(action, &QAction::triggered, this, [this, action] { Guarded([&] { MenuItemClick(action); }); });
}

// ---- Life events ----

void TMain::FormCreate()
{
    LoadWindowSettings();
    CreateProgressBar(2);
    SetHintSettings(QColor(0, 255, 0), 10, 5000);
}

void TMain::FormShow()
{
    Accounts->LoadAccounts();
    Rules->Load();
    Session.Store().Clear();
    // After the show: the offer waits for the keyring, which must not happen inside it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            Guarded([this] { Rules->ReportUnread(); });
            Guarded([this] { PasswordHandling->OfferKeyringMove(); });
        },
        Qt::QueuedConnection);
}

void TMain::FormClose()
{
    if (AccountsCheck)
        AccountsCheck->close();
    Mailbox->Close();
}

void TMain::FormDestroy()
{
    Mailbox->Destroy();
    Accounts->SaveAccounts();
    try {
        SaveWindowSettings();
    } catch (const std::exception&) {
        // Only the window's geometry is lost; the accounts were saved (or reported) above.
    }
    delete FProgressBar;
    FProgressBar = nullptr;
}

void TMain::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        Mailbox->Show();
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
    Lv1->setGeometry(0, 0, std::max(0, w - Panel3Width), p1);
    Panel3->setGeometry(std::max(0, w - Panel3Width), 0, Panel3Width, p1);
    Splitter1->setGeometry(0, p1, w, SplitterHeight);
    const int top2 = p1 + SplitterHeight;
    const int h2 = std::max(0, h - TStatusBar::BarHeight - top2);
    Panel2->setGeometry(0, top2, w, h2);
    Panel4->setGeometry(0, h2 - Panel4Height, w, Panel4Height);
    const int buttons = RuleButtonWidth + SenderButtonWidth + 2;
    FilterEdit->setGeometry(2, 1, std::max(0, w - buttons - 6), FilterBarHeight - 2);
    SenderButton->setGeometry(std::max(0, w - buttons - 2), 1, SenderButtonWidth, FilterBarHeight - 2);
    RuleButton->setGeometry(std::max(0, w - RuleButtonWidth - 2), 1, RuleButtonWidth, FilterBarHeight - 2);
    const int lists = std::max(0, h2 - Panel4Height - FilterBarHeight);
    // The panel takes at most half of the lists' height.
    const int panel = SenderPanel->isVisibleTo(this) ? std::min(SenderPanelHeight, lists / 2) : 0;
    SenderPanel->setGeometry(0, FilterBarHeight, w, panel);
    Lv2->setGeometry(0, FilterBarHeight + panel, w, lists - panel);
    Sb->setGeometry(0, h - TStatusBar::BarHeight, w, TStatusBar::BarHeight);
    UpdateAccountHint();
}

// A first start shows about 20 rows of messages and the date column beside a readable
// subject, within the screen.
QSize TMain::FirstStartSize() const
{
    constexpr int Rows = 20;
    constexpr int Width = 720;
    const int list = Lv2->horizontalHeader()->sizeHint().height() +
                     Rows * Lv2->verticalHeader()->defaultSectionSize() + 2 * Lv2->frameWidth();
    const int height = FPanel1Height + SplitterHeight + FilterBarHeight + list + Panel4Height + TStatusBar::BarHeight;
    const TScreenSize screen = ScreenSize();
    return {screen.Width > 0 ? std::min(Width, screen.Width) : Width,
            screen.Height > 0 ? std::min(height, screen.Height * 9 / 10) : height};
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
    for (int i = 0; i < TMessageModel::ColumnCount; ++i)
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
    FProgressBar = new QProgressBar(Sb);
    FProgressBar->setObjectName("ProgressBar");
    int left = 0;
    for (int i = 0; i < panelIndex; ++i)
        left += Sb->PanelWidth(i);
    FProgressBar->setGeometry(left + 2, 2, Sb->PanelWidth(panelIndex) - 2, Sb->height() - 2);
    FProgressBar->setTextVisible(false);
    FProgressBar->setRange(0, 100);
    FProgressBar->setValue(0);
    FProgressBar->show();
}

// ---- Shared handlers ----

void TMain::ButtonClick(QObject* Sender)
{
    switch (TagAs<TButtonTag>(Sender)) {
    case TButtonTag::Connect:
        // One connection at a time: a running check of every account stops first.
        if (AccountsCheck && AccountsCheck->Check().Running() && SpeedButton1->isChecked()) {
            SpeedButton1->setChecked(false);
            AccountsCheck->StopThen([this] { SpeedButton1->click(); });
            break;
        }
        Mailbox->ConnectButtonClick();
        break;
    case TButtonTag::List: Mailbox->RetrieveMessageList(); break;
    case TButtonTag::Stop: Session.Stop(); break;
    case TButtonTag::CheckAll: Session.Store().SetAllChecked(true); break;
    case TButtonTag::UncheckAll: Session.Store().SetAllChecked(false); break;
    case TButtonTag::Delete: Mailbox->DeleteCheckedMessages(); break;
    case TButtonTag::Undo: Mailbox->UndoDeletions(); break;
    case TButtonTag::AddAccount: Accounts->NewAccount(); break;
    default: break;
    }
}

void TMain::MenuItemClick(QObject* Sender)
{
    switch (TagAs<TMenuTag>(Sender)) {
    case TMenuTag::AccountMenu: {
        const bool selected = Lv1->Selected() >= 0;
        Pm1_2->setEnabled(selected);
        Pm1_3->setEnabled(selected);
        Pm1_4->setEnabled(selected);
        break;
    }
    case TMenuTag::NewAccount: Accounts->NewAccount(); break;
    case TMenuTag::EditAccount: Accounts->EditAccount(); break;
    case TMenuTag::CopyAccount: Accounts->CopyAccount(); break;
    case TMenuTag::DeleteAccount: Accounts->DeleteAccount(); break;
    case TMenuTag::CheckAllAccounts: Accounts->CheckAllAccounts(); break;
    case TMenuTag::About:
        MessageBox(AboutText(), Texts::AboutItem, TMsgIcon::Program, TMsgButtons::OK);
        break;
    case TMenuTag::MessageMenu: {
        const bool selected = Lv2->Selected() >= 0;
        Pm2_1->setEnabled(selected);
        Pm2_2->setEnabled(selected);
        Mailbox->UpdateUndo();
        break;
    }
    case TMenuTag::MessageText: Viewers->ViewMessageText(); break;
    case TMenuTag::MessageHeader: Viewers->ViewMessageHeader(); break;
    case TMenuTag::Undo: Mailbox->UndoDeletions(); break;
    case TMenuTag::CheckShown: CheckRules::CheckShownRows(*Lv2); break;
    case TMenuTag::CheckLarger: CheckRules::CheckLargerRows(this, *Lv2); break;
    case TMenuTag::CheckOlder: CheckRules::CheckOlderRows(this, *Lv2); break;
    case TMenuTag::InvertChecks: CheckRules::InvertChecks(*Lv2); break;
    case TMenuTag::Rules: Rules->EditRules(); break;
    default: break;
    }
}

void TMain::ListViewDblClick(QObject* Sender)
{
    switch (TagAs<TListTag>(Sender)) {
    case TListTag::Accounts:
        if (Lv1->Selected() >= 0)
            Accounts->EditAccount();
        break;
    case TListTag::Messages:
        if (Lv2->Selected() >= 0 && Session.Connected())
            Viewers->ViewMessageText();
        break;
    default: break;
    }
}

// While the button is down it is the only way to end the connection (and to commit the
// deletions), so then it stays enabled whatever the selection.
void TMain::ListViewSelectItem(QObject*, bool Selected)
{
    SpeedButton1->setEnabled(Selected || SpeedButton1->isChecked());
}

// The add button stands in the empty list beside its hint, at the right.
void TMain::UpdateAccountHint()
{
    const bool empty = Lv1->Count() == 0;
    AddAccountButton->setVisible(empty);
    if (empty)
        // From the list's own width: its viewport is sized only once the list is shown.
        AddAccountButton->move(std::max(0, Lv1->width() - 2 * Lv1->frameWidth() - AddAccountButton->width() - 8), 8);
    Lv1->viewport()->update();
}

