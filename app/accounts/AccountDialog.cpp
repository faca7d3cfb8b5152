#include "app/accounts/AccountDialog.h"

#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/main/AppStyle.h"
#include "app/main/MessageBox.h"
#include "app/main/Sjis.h"
#include "app/main/Tag.h"
#include "app/main/Texts.h"
#include "mailbox/Environment.h"
#include "mailbox/OAuthProvider.h"
#include "runtime/StringList.h"
#include "runtime/SysUtils.h"

namespace {
QLabel* MakeLabel(QWidget* parent, const std::string& text, int left, int top)
{
    auto* label = new QLabel(SjisToQ(text), parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int left, int top, int width, const std::string& hint,
                    QValidator* validator)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(left, top, width, 20);
    edit->setValidator(validator);
    if (!hint.empty())
        edit->setToolTip(SjisToQ(hint));
    return edit;
}

QComboBox* MakeChoice(QWidget* parent, const char* name, int top, std::initializer_list<const char*> items)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setGeometry(84, top, 153, 20);
    for (const char* item : items)
        box->addItem(SjisToQ(item));
    return box;
}

TAccountFields FieldsOf(const std::string (&texts)[AccountFieldCount])
{
    TAccountFields fields;
    std::copy(std::begin(texts), std::end(texts), fields.begin());
    return fields;
}

// The check numbers of the choices, after the six fields.
constexpr int PlaceNotChosen = AccountFieldCount;
constexpr int ProviderNotChosen = PlaceNotChosen + 1;
constexpr int TokenNeedsTls = PlaceNotChosen + 2;
constexpr int OAuthIndex = 1;
constexpr int KeyringIndex = 0;
constexpr int FileIndex = 1;

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left)
{
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(name);
    button->setGeometry(left, 264, 75, 21);
    button->setAutoDefault(false);  // Enter moves the focus on; it never presses a button
    return button;
}
}

TAcco::TAcco(QWidget* owner, TStringList& accountFields, TPasswordChoice& password)
    : QDialog(owner), AccountFields(accountFields), PasswordChoice(password)
{
    UseAppStyle();
    setObjectName("Acco");
    setWindowTitle(SjisToQ(Texts::AccountCaption));
    setAttribute(Qt::WA_DeleteOnClose);
    QFont font("IPAPGothic");
    font.setPixelSize(12);
    setFont(font);
    setFixedSize(255, 292);

    auto* validator = new TSjisValidator(this);
    Label1 = MakeLabel(this, Texts::NameLabel, 16, 16);
    Nam = MakeEdit(this, "Nam", 84, 12, 153,
                   Texts::NameHint, validator);
    Label2 = MakeLabel(this, Texts::UserLabel, 16, 40);
    Acc = MakeEdit(this, "Acc", 84, 36, 153, Texts::UserHint, validator);
    Label3 = MakeLabel(this, Texts::PasswordLabel, 16, 64);
    Pas = MakeEdit(this, "Pas", 84, 60, 121, "", validator);
    Pas->setEchoMode(QLineEdit::Password);
    Label4 = MakeLabel(this, Texts::ServerLabel, 16, 88);
    Pop = MakeEdit(this, "Pop", 84, 84, 153, Texts::ServerHint, validator);
    Label5 = MakeLabel(this, Texts::TimeOutLabel, 16, 112);
    Tim = MakeEdit(this, "Tim", 84, 108, 53,
                   Texts::TimeOutHint,
                   validator);
    Label6 = MakeLabel(this, Texts::SecondsLabel, 144, 112);
    Label7 = MakeLabel(this, Texts::PortLabel, 16, 136);
    Por = MakeEdit(this, "Por", 84, 132, 53,
                   Texts::PortHint,
                   validator);
    Label8 = MakeLabel(this, Texts::PlaceLabel, 16, 160);
    Loc = MakeChoice(this, "Loc", 156, {Texts::KeyringPlace, Texts::FilePlace});
    if (!PasswordChoice.KeyringAvailable)
        Loc->setToolTip(SjisToQ(Texts::NoKeyringHint));
    Label9 = MakeLabel(this, Texts::SecurityLabel, 16, 184);
    Sec = MakeChoice(this, "Sec", 180, {Texts::SecurityNames[0], Texts::SecurityNames[1], Texts::SecurityNames[2]});
    Label10 = MakeLabel(this, Texts::SignInLabel, 16, 208);
    Aut = MakeChoice(this, "Aut", 204, {Texts::SignInNames[0], Texts::SignInNames[1]});
    Label11 = MakeLabel(this, Texts::ProviderLabel, 16, 232);
    Prv = MakeChoice(this, "Prv", 228, {});
    for (const std::string& name : OAuthProviderNames(SettingsFileName()))
        Prv->addItem(SjisToQ(name));
    Bevel1 = new QFrame(this);
    Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Bevel1->setGeometry(16, 256, 221, 2);
    BitBtn1 = MakeButton(this, "BitBtn1", "OK", 16);
    SetTag(BitBtn1, TAccoTag::OK);
    BitBtn2 = MakeButton(this, "BitBtn2", "Cancel", 96);

    QWidget* order[] = {Nam, Acc, Pas, Pop, Tim, Por, Loc, Sec, Aut, Prv, BitBtn1, BitBtn2};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    // Every key passes here before the focused control sees it.
    for (QWidget* w : order)
        w->installEventFilter(this);
    installEventFilter(this);

    connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtnClick(BitBtn1); }); });
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Sec, &QComboBox::activated, this, [this](int index) { Guarded([&] { SecurityChanged(index); }); });
    connect(Aut, &QComboBox::activated, this, [this] { Guarded([this] { SignInChanged(); }); });
    connect(Pop, &QLineEdit::textEdited, this, [this] { Guarded([this] { SignInChanged(); }); });
}

TAcco::~TAcco()
{
    Guarded([this] { FormDestroy(); });
}

QLineEdit* TAcco::Edit(int index) const
{
    QLineEdit* const edits[] = {Nam, Acc, Pas, Pop, Tim, Por};
    return edits[index];
}

void TAcco::showEvent(QShowEvent* event)
{
    // Only the show that opens the dialog fills it; a window system's re-show does not.
    if (!event->spontaneous())
        Guarded([this] { FormShow(); });
    QDialog::showEvent(event);
}

void TAcco::FormShow()
{
    const bool isNew = AccountFields.Count() == 0;
    if (isNew) {
        for (int i = 0; i < afSignIn; ++i)   // the sign-in only when there is one
            AccountFields.Add("");
        AccountFields.Put(afTimeOut, "30");
        AccountFields.Put(afPort, IntToStr(DefaultPort(TAccountSecurity::Tls)));
        AccountFields.Put(afSecurity, SecurityField(TAccountSecurity::Tls));
    }
    TAccountFields fields;
    for (int i = 0; i < AccountFieldCount; ++i) {
        FOriginal[i] = i < AccountFields.Count() ? AccountFields[i] : std::string();
        fields[static_cast<size_t>(i)] = FOriginal[i];
        FShown[i] = SjisToQ(FOriginal[i]);
        if (i < afSecurity)
            Edit(i)->setText(FShown[i]);
    }
    FShownSecurity = static_cast<int>(AccountSecurity(fields));
    Sec->setCurrentIndex(FShownSecurity);
    if (isNew)
        Loc->setCurrentIndex(PasswordChoice.KeyringAvailable ? KeyringIndex : -1);
    else
        Loc->setCurrentIndex(PasswordInKeyring(fields) ? KeyringIndex : FileIndex);
    const std::string provider = OAuthProviderOf(fields);
    // A provider the settings no longer name stays the account's until another is chosen.
    if (!provider.empty() && Prv->findText(SjisToQ(provider), Qt::MatchFixedString) < 0)
        Prv->addItem(SjisToQ(provider));
    Prv->setCurrentIndex(provider.empty() ? -1 : Prv->findText(SjisToQ(provider), Qt::MatchFixedString));
    Aut->setCurrentIndex(provider.empty() ? 0 : OAuthIndex);
    SignInChanged();
}

bool TAcco::SignsInWithOAuth() const { return Aut->currentIndex() == OAuthIndex; }

void TAcco::SignInChanged()
{
    const bool oauth = SignsInWithOAuth();
    Pas->setEnabled(!oauth);
    Loc->setEnabled(!oauth);
    Prv->setEnabled(oauth);
    const std::string proposed = ProposedOAuthProvider(FieldText(afServer));
    if (oauth && !proposed.empty() && Prv->currentIndex() < 0)
        Prv->setCurrentIndex(Prv->findText(SjisToQ(proposed), Qt::MatchFixedString));
}

// SSL/TLS and the others each have their own usual port; a port of the user's own stays.
void TAcco::SecurityChanged(int index)
{
    const auto security = static_cast<TAccountSecurity>(index);
    const auto other = security == TAccountSecurity::Tls ? TAccountSecurity::None : TAccountSecurity::Tls;
    if (StrToIntDef(FieldText(afPort), 0) == DefaultPort(other))
        Por->setText(QString::number(DefaultPort(security)));
}

std::string TAcco::FieldText(int index) const
{
    const QString text = Edit(index)->text();
    return text == FShown[index] ? FOriginal[index] : QToSjis(text);
}

int TAcco::CheckInput()
{
    const bool oauth = SignsInWithOAuth();
    for (int i = afName; i < afTimeOut; ++i)
        if (FieldText(i).empty() && (i != afPassword || (Loc->currentIndex() != KeyringIndex && !oauth)))
            return i + 1;
    if (StrToIntDef(FieldText(afTimeOut), 0) == 0)
        return afTimeOut + 1;
    if (StrToIntDef(FieldText(afPort), 0) == 0)
        return afPort + 1;
    if (oauth && Prv->currentIndex() < 0)
        return ProviderNotChosen;
    if (oauth && Sec->currentIndex() == static_cast<int>(TAccountSecurity::None))
        return TokenNeedsTls;
    if (Loc->currentIndex() < 0 && !oauth)
        return PlaceNotChosen;
    return 0;
}

void TAcco::BitBtnClick(QObject* Sender)
{
    if (TagAs<TAccoTag>(Sender) != TAccoTag::OK)
        return;
    const int failed = CheckInput();
    if (failed >= PlaceNotChosen) {
        const std::pair<const char*, QWidget*> choice[] = {
            {Texts::PlaceMissing, Loc}, {Texts::ProviderMissing, Prv}, {Texts::OAuthNeedsTls, Sec}};
        MessageBox(choice[failed - PlaceNotChosen].first, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
        choice[failed - PlaceNotChosen].second->setFocus();
        return;
    }
    if (failed != 0) {
        MessageBox(Texts::FieldMissing[failed - 1], Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
        Edit(failed - 1)->setFocus();
        return;
    }
    while (AccountFields.Count() < afSignIn)
        AccountFields.Add("");
    for (int i = 0; i < afSecurity; ++i)
        AccountFields.Put(i, FieldText(i));
    const int security = Sec->currentIndex();
    AccountFields.Put(afSecurity, security == FShownSecurity ? FOriginal[afSecurity]
                                                             : SecurityField(static_cast<TAccountSecurity>(security)));
    // The sign-in: the original bytes while it names the same provider.
    const std::string provider = SignsInWithOAuth() ? QToSjis(Prv->currentText()) : std::string();
    const bool sameSignIn = AnsiSameText(OAuthProviderOf(FieldsOf(FOriginal)), provider) &&
                            (!provider.empty() || OAuthProviderOf(FieldsOf(FOriginal)).empty());
    const std::string signIn = sameSignIn ? FOriginal[afSignIn] : SignInField(provider);
    if (!signIn.empty() || AccountFields.Count() > afSignIn) {
        while (AccountFields.Count() <= afSignIn)
            AccountFields.Add("");
        AccountFields.Put(afSignIn, signIn);
    }
    if (!provider.empty())
        AccountFields.Put(afPassword, "");
    PasswordChoice.InKeyring = Loc->currentIndex() == KeyringIndex || !provider.empty();
    PasswordChoice.Password.clear();
    if (PasswordChoice.InKeyring) {
        PasswordChoice.Password = provider.empty() ? FieldText(afPassword) : std::string();
        AccountFields.Put(afPassword, "");
    }
    accept();
}

void TAcco::FormKeyPress(char& Key)
{
    if (Key == 13) {
        Key = 0;
        focusNextChild();
    } else if (Key == 27) {
        Key = 0;
        reject();
    }
}

bool TAcco::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        char c = key == Qt::Key_Return || key == Qt::Key_Enter ? 13 : key == Qt::Key_Escape ? 27 : 1;
        if (c != 1) {
            Guarded([&] { FormKeyPress(c); });
            if (c == 0)
                return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
