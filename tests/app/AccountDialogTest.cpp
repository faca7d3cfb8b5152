// The account dialog: layout, the fields it shows, the input checks, keys and the exchange list.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>

#include "app/accounts/AccountDialog.h"
#include "app/main/Sjis.h"
#include "app/main/Tag.h"
#include "app/main/Texts.h"
#include "runtime/StringList.h"
#include "tests/app/TestSupport.h"
#include "tests/support/WidgetLayout.h"

namespace {
const auto& FieldMessages = Texts::FieldMissing;

class AccountDialogTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        Owner = std::make_unique<QWidget>();
        Owner->setGeometry(100, 100, 469, 342);
        Owner->show();
    }
    void TearDown() override
    {
        delete D.data();
        Owner.reset();
        AppTest::TearDown();
    }
    TAcco& Open(std::vector<std::string> fields = {})
    {
        for (auto& f : fields)
            Fields.Add(f);
        D = new TAcco(Owner.get(), Fields, Choice);
        D->show();
        QCoreApplication::processEvents();  // the window system's activation gives the first field the focus
        return *D;
    }
    void Key(int key)
    {
        QWidget* target = D->focusWidget() ? D->focusWidget() : D.data();
        QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &e);
    }
    void Type(QLineEdit* edit, const QString& text)
    {
        QKeyEvent e(QEvent::KeyPress, 0, Qt::NoModifier, text);
        QApplication::sendEvent(edit, &e);
    }
    std::vector<std::string> List() const { return Fields.Items(); }
    bool Closed() const { return D.isNull() || D->isHidden(); }

    std::unique_ptr<QWidget> Owner;
    TStringList Fields;
    TPasswordChoice Choice;
    QPointer<TAcco> D;
};
}

TEST_F(AccountDialogTest, LayoutCaptionsHintsAndTabOrder)
{
    TAcco& d = Open();
    EXPECT_EQ(d.windowTitle(), SjisToQ(Texts::AccountCaption));
    EXPECT_EQ(d.minimumSize(), d.maximumSize());
    EXPECT_EQ(d.geometry().center(), Owner->geometry().center());

    // Each field on a line of its own, its caption at its left on the same line.
    struct Field {
        QWidget* field;
        QLabel* label;
        const char* caption;
        const char* hint;
    };
    const Field fields[] = {
        {d.Nam, d.Label1, Texts::NameLabel, Texts::NameHint},
        {d.Acc, d.Label2, Texts::UserLabel, Texts::UserHint},
        {d.Pas, d.Label3, Texts::PasswordLabel, ""},
        {d.Pop, d.Label4, Texts::ServerLabel, Texts::ServerHint},
        {d.Tim, d.Label5, Texts::TimeOutLabel, Texts::TimeOutHint},
        {d.Por, d.Label7, Texts::PortLabel, Texts::PortHint},
        {d.Loc, d.Label8, Texts::PlaceLabel, Texts::NoKeyringHint},
        {d.Sec, d.Label9, Texts::SecurityLabel, nullptr},
        {d.Aut, d.Label10, Texts::SignInLabel, nullptr},
        {d.Prv, d.Label11, Texts::ProviderLabel, nullptr},
    };
    std::vector<const QWidget*> controls{d.Label6, d.Bevel1, d.BitBtn1, d.BitBtn2};
    for (size_t i = 0; i < std::size(fields); ++i) {
        const Field& f = fields[i];
        SCOPED_TRACE(f.field->objectName().toStdString());
        if (f.caption)
            EXPECT_EQ(f.label->text(), SjisToQ(f.caption));
        if (f.hint)
            EXPECT_EQ(f.field->toolTip(), SjisToQ(f.hint));
        EXPECT_TRUE(testsupport::LeftOf(f.label, f.field));
        const QRect line = testsupport::ScreenRect(f.field);
        EXPECT_TRUE(line.top() <= testsupport::ScreenRect(f.label).center().y() &&
                    testsupport::ScreenRect(f.label).center().y() <= line.bottom());
        if (i > 0)
            EXPECT_TRUE(testsupport::Above(fields[i - 1].field, f.field));
        controls.insert(controls.end(), {f.label, f.field});
    }
    testsupport::ExpectLaidOut(d, controls);
    EXPECT_EQ(d.Label6->text(), SjisToQ(Texts::SecondsLabel));
    EXPECT_TRUE(testsupport::LeftOf(d.Tim, d.Label6));
    EXPECT_EQ(d.Pas->echoMode(), QLineEdit::Password);
    EXPECT_EQ(d.Pas->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, d.Pas), '*');
    EXPECT_EQ(d.Loc->itemText(0), SjisToQ(Texts::KeyringPlace));
    EXPECT_EQ(d.Loc->itemText(1), SjisToQ(Texts::FilePlace));
    ASSERT_EQ(d.Sec->count(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(d.Sec->itemText(i), SjisToQ(Texts::SecurityNames[i]));
    // Under the fields, a rule, then OK and Cancel side by side.
    EXPECT_TRUE(testsupport::Above(d.Prv, d.Bevel1));
    EXPECT_TRUE(testsupport::Above(d.Bevel1, d.BitBtn1));
    EXPECT_TRUE(testsupport::LeftOf(d.BitBtn1, d.BitBtn2));
    EXPECT_EQ(d.BitBtn1->text(), "OK");
    EXPECT_EQ(TagOf(d.BitBtn1), 0);
    EXPECT_EQ(d.BitBtn2->text(), "Cancel");

    const QWidget* order[] = {d.Nam, d.Acc, d.Pas, d.Pop, d.Tim, d.Por, d.Loc, d.Sec, d.Aut, d.Prv, d.BitBtn1, d.BitBtn2};
    for (size_t i = 0; i < std::size(order); ++i) {
        const QWidget* next = order[i]->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus)
            next = next->nextInFocusChain();
        EXPECT_EQ(next, order[(i + 1) % std::size(order)]) << i;
    }
}

TEST_F(AccountDialogTest, ANewAccountShowsDefaultsAndFillsTheEmptyList)
{
    TAcco& d = Open();
    EXPECT_EQ(d.Nam->text(), "");
    EXPECT_EQ(d.Pas->text(), "");
    EXPECT_EQ(d.Tim->text(), "30");
    EXPECT_EQ(d.Por->text(), "995");
    EXPECT_EQ(d.Sec->currentIndex(), 0);
    EXPECT_EQ(d.Loc->currentIndex(), -1);  // no keyring answered: the user must choose
    EXPECT_EQ(List(), (std::vector<std::string>{"", "", "", "", "30", "995", "tls"}));
    EXPECT_EQ(d.focusWidget(), d.Nam);
}

TEST_F(AccountDialogTest, EachCheckReportsItsMessageInOrderAndFocusesItsField)
{
    TAcco& d = Open();
    struct Step {
        QLineEdit* fill;  // filled after the check
        QString text;
        int message;      // expected for the OK before filling; -1 = accepted
        QLineEdit* focus;
    };
    d.Tim->setText("");
    d.Por->setText("");
    const Step steps[] = {
        {d.Nam, "   ", 0, d.Nam}, {d.Acc, "id", 1, d.Acc},      {d.Pas, "pw", 2, d.Pas},
        {d.Pop, "srv", 3, d.Pop}, {d.Tim, "0", 4, d.Tim},       {d.Tim, "abc", 4, d.Tim},
        {d.Tim, SjisToQ("30\x95" "b" /* sjis: 30秒 */), 4, d.Tim},
        {d.Tim, "-5", 4, d.Tim},  {d.Por, "0", 5, d.Por},       {d.Por, "65536", 5, d.Por},
    };
    for (const Step& s : steps) {
        Boxes.clear();
        d.BitBtn1->click();
        ASSERT_EQ(Boxes.size(), 1u) << s.message;
        EXPECT_EQ(Boxes[0].Text, FieldMessages[s.message]);
        EXPECT_EQ(Boxes[0].Caption, Texts::Confirm);
        EXPECT_EQ(Boxes[0].Icon, TMsgIcon::Exclamation);
        EXPECT_EQ(Boxes[0].Buttons, TMsgButtons::OK);
        EXPECT_EQ(d.focusWidget(), s.focus);
        EXPECT_FALSE(Closed());
        EXPECT_EQ(List(), (std::vector<std::string>{"", "", "", "", "30", "995", "tls"}));
        s.fill->setText(s.text);
    }
    Boxes.clear();
    d.BitBtn1->click();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, Texts::PlaceMissing);
    EXPECT_EQ(d.focusWidget(), d.Loc);
    d.Loc->setCurrentIndex(1);
    Boxes.clear();
    d.BitBtn1->click();
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(List(), (std::vector<std::string>{"   ", "id", "pw", "srv", "-5", "65536", "tls"}));
    EXPECT_FALSE(Choice.InKeyring);
}

TEST_F(AccountDialogTest, EnterMovesTheFocusOnAndRoundAndNeverCloses)
{
    TAcco& d = Open({"n", "i", "p", "s", "30", "110"});
    // The provider is off for a password account.
    const QWidget* expected[] = {d.Acc, d.Pas, d.Pop, d.Tim, d.Por, d.Loc, d.Sec, d.Aut, d.BitBtn1, d.BitBtn2, d.Nam};
    for (const QWidget* w : expected) {
        Key(Qt::Key_Return);
        EXPECT_EQ(d.focusWidget(), w);
    }
    d.BitBtn1->setFocus();
    Key(Qt::Key_Enter);
    EXPECT_EQ(d.focusWidget(), d.BitBtn2);
    EXPECT_FALSE(Closed());
    EXPECT_EQ(d.result(), QDialog::Rejected);
}

TEST_F(AccountDialogTest, EscCancelsWithoutTouchingTheList)
{
    TAcco& d = Open({"n", "i", "p", "s", "30", "110"});
    d.Nam->setText("changed");
    d.Tim->setText("0");
    Key(Qt::Key_Escape);
    EXPECT_TRUE(Closed());
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(List(), (std::vector<std::string>{"n", "i", "p", "s", "30", "110"}));
}

TEST_F(AccountDialogTest, OnlyTheSenderWithTagZeroActsAsOk)
{
    TAcco& d = Open({"n", "i", "p", "s", "30", "110"});
    QObject other;
    SetTag(&other, 1);
    d.BitBtnClick(&other);
    EXPECT_FALSE(Closed());
    d.BitBtnClick(d.BitBtn1);
    EXPECT_TRUE(Closed());
}

TEST_F(AccountDialogTest, UnchangedFieldsKeepTheirBytes)
{
    const std::string odd = std::string("\x8eR\x93" "c" /* sjis: 山田 */) + "\x97\x5c\xff\x80\x82";
    TAcco& d = Open({odd, "id", odd, "srv", "30", "110"});
    d.Pop->setText(SjisToQ("\x97\x5c" "pop" /* sjis: 予pop */));
    d.BitBtn1->click();
    EXPECT_EQ(List(), (std::vector<std::string>{odd, "id", odd, "\x97\x5c" "pop" /* sjis: 予pop */, "30", "110", ""}));
}

TEST_F(AccountDialogTest, TypingRefusesWhatTheFileCannotHold)
{
    TAcco& d = Open();
    Type(d.Nam, SjisToQ("\x8eR" /* sjis: 山 */));
    Type(d.Nam, QString::fromUtf8("\xf0\x9f\x98\x80"));  // an emoji has no Shift-JIS bytes
    Type(d.Nam, QString::fromUtf8("\xe3\x80\x9c"));      // nor has U+301C
    Type(d.Nam, "\n");
    EXPECT_EQ(d.Nam->text(), SjisToQ("\x8eR" /* sjis: 山 */));
    // The password asked at connect refuses the same, so "pässwörd" is never sent as "p?ssw?rd".
    SetPasswordPromptHook({});
    OnNextModal([this](QWidget* prompt) {
        for (const char* typed : {"p", "\xc3\xa4", "s"})
            Type(prompt->findChild<QLineEdit*>(), QString::fromUtf8(typed));
        static_cast<QDialog*>(prompt)->accept();
    });
    TPasswordAnswer answer;
    ASSERT_TRUE(AskPassword(Owner.get(), "a", false, answer));
    EXPECT_EQ(answer.Password, "ps");
}

TEST_F(AccountDialogTest, PasswordPlaceFollowsTheFieldAndTheKeyringTakesTheTypedPassword)
{
    struct Case {
        std::vector<std::string> fields;   // {} = a new account
        bool keyring;                      // a keyring answered
        int shown;                         // the place shown
        int chosen;                        // the place chosen before OK
        QString typed;                     // typed into the password edit ("-": left)
        std::vector<std::string> written;  // the list after OK; {} = OK refused
        std::string handed;                // the password handed over for the keyring
    };
    const std::vector<std::string> file{"n", "i", "p", "s", "30", "110"}, keyring{"n", "i", "", "s", "30", "110", "starttls"};
    const Case cases[] = {
        {file, false, 1, 1, "-", {"n", "i", "p", "s", "30", "110", ""}, ""},
        {file, true, 1, 0, "-", {"n", "i", "", "s", "30", "110", ""}, "p"},
        {keyring, false, 0, 0, "-", keyring, ""},
        {keyring, true, 0, 0, "new", keyring, "new"},
        {keyring, true, 0, 1, "-", {}, ""},   // the file needs a password
        {keyring, true, 0, 1, "f", {"n", "i", "f", "s", "30", "110", "starttls"}, ""},
        {{}, true, 0, 0, "-", {"n", "i", "", "s", "30", "995", "tls"}, ""},
    };
    for (const Case& c : cases) {
        Fields.Clear();
        Choice = TPasswordChoice();
        Choice.KeyringAvailable = c.keyring;
        TAcco& d = Open(c.fields);
        EXPECT_EQ(d.Loc->currentIndex(), c.shown);
        d.Nam->setText("n");
        d.Acc->setText("i");
        d.Pop->setText("s");
        d.Loc->setCurrentIndex(c.chosen);
        if (c.typed != "-")
            d.Pas->setText(c.typed);
        Boxes.clear();
        d.BitBtn1->click();
        if (c.written.empty()) {
            EXPECT_EQ(Boxes.size(), 1u);
            EXPECT_FALSE(Closed());
        } else {
            EXPECT_EQ(List(), c.written);
            EXPECT_EQ(Choice.InKeyring, c.chosen == 0);
            EXPECT_EQ(Choice.Password, c.handed);
        }
        delete D.data();
    }
}

TEST_F(AccountDialogTest, SecurityChoiceProposesItsPortAndKeepsUnknownBytesUntouched)
{
    TAcco& d = Open({"n", "i", "p", "s", "30", "110", "TLS"});
    EXPECT_EQ(d.Sec->currentIndex(), 0);   // read in any case
    // Each step: the choice made, the port before it, the port after it.
    const std::tuple<int, QString, QString> steps[] = {
        {2, "110", "110"}, {0, "110", "995"}, {1, "995", "110"}, {0, "1995", "1995"}, {2, "995", "110"}, {1, "110", "110"},
    };
    for (const auto& [choice, before, after] : steps) {
        d.Por->setText(before);
        d.Sec->setCurrentIndex(choice);
        emit d.Sec->activated(choice);
        EXPECT_EQ(d.Por->text(), after) << choice;
    }
    d.Sec->setCurrentIndex(0);
    d.BitBtn1->click();
    EXPECT_EQ(List().back(), "TLS");
    Fields.Clear();
    TAcco& e = Open({"n", "i", "p", "s", "30", "110", "TLS"});
    e.Sec->setCurrentIndex(1);
    e.BitBtn1->click();
    EXPECT_EQ(List().back(), "starttls");
}

TEST_F(AccountDialogTest, OAuthTakesNoPasswordNeedsTlsAndProposesTheServersProvider)
{
    struct Case {
        std::vector<std::string> fields;
        int signIn;                        // the choice made before OK
        int security;
        std::vector<std::string> written;  // {} = OK refused with `message`
        const char* message;
    };
    const Case cases[] = {
        {{"n", "i", "p", "POP.gmail.com", "30", "995", "tls"}, 1, 0,
         {"n", "i", "", "POP.gmail.com", "30", "995", "tls", "oauth2:google"}, ""},
        {{"n", "i", "p", "outlook.office365.com", "30", "110", ""}, 1, 2, {}, Texts::OAuthNeedsTls},
        {{"n", "i", "p", "pop.example.jp", "30", "995", "tls"}, 1, 0, {}, Texts::ProviderMissing},
        // A provider the settings do not know stays, with its bytes, until changed.
        {{"n", "i", "", "s", "30", "995", "tls", "OAuth2:Corp"}, 1, 0, {"n", "i", "", "s", "30", "995", "tls", "OAuth2:Corp"}, ""},
        {{"n", "i", "", "s", "30", "995", "tls", "OAuth2:Corp"}, 0, 0, {"n", "i", "", "s", "30", "995", "tls", ""}, ""},
    };
    for (const Case& c : cases) {
        Fields.Clear();
        Choice = TPasswordChoice();
        TAcco& d = Open(c.fields);
        d.Aut->setCurrentIndex(c.signIn);
        emit d.Aut->activated(c.signIn);
        d.Sec->setCurrentIndex(c.security);
        EXPECT_EQ(d.Pas->isEnabled(), c.signIn == 0);
        Boxes.clear();
        d.BitBtn1->click();
        if (c.written.empty()) {
            ASSERT_EQ(Boxes.size(), 1u);
            EXPECT_EQ(Boxes[0].Text, c.message);
            EXPECT_FALSE(Closed());
            delete D.data();
            continue;
        }
        EXPECT_TRUE(Boxes.empty());
        EXPECT_EQ(List(), c.written);
        EXPECT_TRUE(Choice.InKeyring);
        EXPECT_EQ(Choice.Password, "");
    }
}
