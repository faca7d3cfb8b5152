#include "app/AccountDialog.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

#include "app/AppStyle.h"
#include "app/MessageBox.h"
#include "app/Sjis.h"
#include "app/Tag.h"
#include "runtime/StringList.h"
#include "runtime/SysUtils.h"

namespace {
const char* const kCaption = "\xb1\xb6\xb3\xdd\xc4\x90\xdd\x92\xe8" /* sjis: ｱｶｳﾝﾄ設定 */;
const char* const kConfirm = "\x8am\x94" "F" /* sjis: 確認 */;

const char* const kMessages[6] = {
    "\x96\xbc\x91O\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81" "B" /* sjis: 名前を入力して下さい。 */,
    "ID(\xb1\xb6\xb3\xdd\xc4)\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81" "B" /* sjis: ID(ｱｶｳﾝﾄ)を入力して下さい。 */,
    "\xca\xdf\xbd\xdc\xb0\xc4\xde\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81" "B" /* sjis: ﾊﾟｽﾜｰﾄﾞを入力して下さい。 */,
    "\x8e\xf3\x90M\xbb\xb0\xca\xde\xb0\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81" "B" /* sjis: 受信ｻｰﾊﾞｰを入力して下さい。 */,
    "\xc0\xb2\xd1\xb1\xb3\xc4\x82\xcc\x92l\x82\xaa\x90\xb3\x82\xb5\x82\xad\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x81" "B" /* sjis: ﾀｲﾑｱｳﾄの値が正しくありません。 */,
    "\xce\xdf\xb0\xc4\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81" "B" /* sjis: ﾎﾟｰﾄを入力して下さい。 */,
};

// Keeps out what the account file could not hold: characters without Shift-JIS bytes, and
// line breaks, which would split the account's line in two.
class TSjisValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        if (input.contains(QLatin1Char('\n')) || input.contains(QLatin1Char('\r')))
            return Invalid;
        return IsSjisEncodable(input) ? Acceptable : Invalid;
    }
};

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

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left)
{
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(name);
    button->setGeometry(left, 168, 75, 21);
    button->setAutoDefault(false);  // Enter moves the focus on; it never presses a button
    return button;
}
}

TAcco::TAcco(QWidget* owner, TStringList& accountFields) : QDialog(owner), AccountFields(accountFields)
{
    UseAppStyle();
    setObjectName("Acco");
    setWindowTitle(SjisToQ(kCaption));
    setAttribute(Qt::WA_DeleteOnClose);
    QFont font("IPAPGothic");
    font.setPixelSize(12);
    setFont(font);
    setFixedSize(255, 196);

    auto* validator = new TSjisValidator(this);
    Label1 = MakeLabel(this, "\x96\xbc\x91O:" /* sjis: 名前: */, 16, 16);
    Nam = MakeEdit(this, "Nam", 84, 12, 153,
                   "\xcc\xdf\xdb\xca\xde\x96\xbc\x82\xc6\x82\xa9\x93K\x93\x96\x82\xc9" /* sjis: ﾌﾟﾛﾊﾞ名とか適当に */, validator);
    Label2 = MakeLabel(this, "ID(\xb1\xb6\xb3\xdd\xc4):" /* sjis: ID(ｱｶｳﾝﾄ): */, 16, 40);
    Acc = MakeEdit(this, "Acc", 84, 36, 153, "\xb1\xb6\xb3\xdd\xc4" /* sjis: ｱｶｳﾝﾄ */, validator);
    Label3 = MakeLabel(this, "\xca\xdf\xbd\xdc\xb0\xc4\xde:" /* sjis: ﾊﾟｽﾜｰﾄﾞ: */, 16, 64);
    Pas = MakeEdit(this, "Pas", 84, 60, 121, "", validator);
    Pas->setEchoMode(QLineEdit::Password);
    Label4 = MakeLabel(this, "\x8e\xf3\x90M\xbb\xb0\xca\xde\xb0:" /* sjis: 受信ｻｰﾊﾞｰ: */, 16, 88);
    Pop = MakeEdit(this, "Pop", 84, 84, 153, "POP3", validator);
    Label5 = MakeLabel(this, "\xc0\xb2\xd1\xb1\xb3\xc4:" /* sjis: ﾀｲﾑｱｳﾄ: */, 16, 112);
    Tim = MakeEdit(this, "Tim", 84, 108, 53,
                   "\x8e\xf3\x90M\xc0\xb2\xd1\xb1\xb3\xc4(\xc3\xde\xcc\xab\xd9\xc4\x82\xcd" "30\x95" "b)" /* sjis: 受信ﾀｲﾑｱｳﾄ(ﾃﾞﾌｫﾙﾄは30秒) */,
                   validator);
    Label6 = MakeLabel(this, "\x95" "b" /* sjis: 秒 */, 144, 112);
    Label7 = MakeLabel(this, "\xce\xdf\xb0\xc4:" /* sjis: ﾎﾟｰﾄ: */, 16, 136);
    Por = MakeEdit(this, "Por", 84, 132, 53,
                   "\xce\xdf\xb0\xc4\x94\xd4\x8d\x86(\xc3\xde\xcc\xab\xd9\xc4\x82\xcd" "110)" /* sjis: ﾎﾟｰﾄ番号(ﾃﾞﾌｫﾙﾄは110) */,
                   validator);
    Bevel1 = new QFrame(this);
    Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Bevel1->setGeometry(16, 160, 221, 2);
    BitBtn1 = MakeButton(this, "BitBtn1", "OK", 16);
    SetTag(BitBtn1, 0);
    BitBtn2 = MakeButton(this, "BitBtn2", "Cancel", 96);

    QWidget* order[] = {Nam, Acc, Pas, Pop, Tim, Por, BitBtn1, BitBtn2};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    // Every key passes here before the focused control sees it.
    for (QWidget* w : order)
        w->installEventFilter(this);
    installEventFilter(this);

    connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtnClick(BitBtn1); }); });
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
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
    if (AccountFields.Count() == 0) {
        for (int i = 0; i < 6; ++i)
            AccountFields.Add("");
        AccountFields.Put(4, "30");
        AccountFields.Put(5, "110");
    }
    for (int i = 0; i < 6; ++i) {
        FOriginal[i] = i < AccountFields.Count() ? AccountFields[i] : std::string();
        FShown[i] = SjisToQ(FOriginal[i]);
        Edit(i)->setText(FShown[i]);
    }
}

std::string TAcco::FieldText(int index) const
{
    const QString text = Edit(index)->text();
    return text == FShown[index] ? FOriginal[index] : QToSjis(text);
}

int TAcco::CheckInput()
{
    for (int i = 0; i < 4; ++i)
        if (FieldText(i).empty())
            return i + 1;
    if (StrToIntDef(FieldText(4), 0) == 0)
        return 5;
    if (StrToIntDef(FieldText(5), 0) == 0)
        return 6;
    return 0;
}

void TAcco::BitBtnClick(QObject* Sender)
{
    if (TagOf(Sender) != 0)
        return;
    const int failed = CheckInput();
    if (failed != 0) {
        MessageBox(kMessages[failed - 1], kConfirm, TMsgIcon::Exclamation, TMsgButtons::OK);
        Edit(failed - 1)->setFocus();
        return;
    }
    while (AccountFields.Count() < 6)
        AccountFields.Add("");
    for (int i = 0; i < 6; ++i)
        AccountFields.Put(i, FieldText(i));
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
