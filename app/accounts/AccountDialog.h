#pragma once
// TAcco: the modal dialog in which the user enters or changes one POP3 account.
//
// The caller passes its exchange list, borrowed for the dialog's life: empty for a new
// account, or the fields of "Account.lst" (Shift-JIS; a seventh, the security, and an eighth,
// the sign-in, may be missing). Only OK, after the input passed its checks, writes the seven
// texts back, and the eighth when the list had one or the account signs in with OAuth 2.0; every
// other way out (Cancel, Esc, the close box) leaves the list untouched. The dialog deletes
// itself when it closes: after exec() returns the caller holds no reference to it.
//
// Where the password lives ("キーリング" or "ファイル（平文）") goes through a TPasswordChoice,
// also borrowed: an account with a password in its field shows the file, one without it the
// keyring. A new account starts at the keyring where one answers and at no choice where none
// does (the user then has to pick: a password never lands in the file unasked). With the
// keyring chosen, OK writes the password field empty and hands the typed password over in the
// choice; the password may then be left empty (it is asked at connect).
//
// The security ("SSL/TLS", "STARTTLS", "なし") starts at SSL/TLS on port 995 for a new account;
// choosing it proposes 995 when the port was 110, the others 110 when it was 995.
//
// The sign-in ("認証方式: パスワード / OAuth 2.0") and for OAuth 2.0 the provider: the built-in
// ones and those of the settings file's "[OAuth2 NAME]" sections, the one that serves the
// receiving server proposed. An OAuth account has no password (the password and its place are
// off, the field written empty) and needs SSL/TLS or STARTTLS; OK writes the eighth field
// "oauth2:NAME".
//
// A field whose text the user did not change is written back with its original bytes, so
// editing one field never alters another, even one whose bytes do not decode cleanly. The
// edits refuse characters that Shift-JIS cannot hold.

#include <QDialog>
#include <string>

#include "mailbox/AccountFile.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class TStringList;

struct TPasswordChoice {
    bool KeyringAvailable = false;  // in: a keyring answered
    bool InKeyring = false;         // out: the keyring was chosen
    std::string Password;           // out: the password typed for the keyring ("": none typed)
};

// The tag of the button that BitBtnClick acts for.
enum class TAccoTag : int { OK = 0 };

class TAcco : public QDialog {
public:
    TAcco(QWidget* owner, TStringList& accountFields, TPasswordChoice& password);
    ~TAcco() override;

    QLabel* Label1;
    QLineEdit* Nam;
    QLabel* Label2;
    QLineEdit* Acc;
    QLabel* Label3;
    QLineEdit* Pas;
    QLabel* Label4;
    QLineEdit* Pop;
    QLabel* Label5;
    QLineEdit* Tim;
    QLabel* Label6;
    QLabel* Label7;
    QLineEdit* Por;
    QLabel* Label8;
    QComboBox* Loc;   // where the password lives: 0 keyring, 1 file, -1 not chosen
    QLabel* Label9;
    QComboBox* Sec;   // the items in TAccountSecurity order
    QLabel* Label10;
    QComboBox* Aut;   // 0 password, 1 OAuth 2.0
    QLabel* Label11;
    QComboBox* Prv;   // the provider's name; -1 not chosen
    QFrame* Bevel1;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;

    TStringList& AccountFields;
    TPasswordChoice& PasswordChoice;

    void FormShow();
    // OK: acts only for a sender tagged TAccoTag::OK.
    void BitBtnClick(QObject* Sender);
    // Enter moves the focus on, Esc cancels; a handled key is set to 0.
    void FormKeyPress(char& Key);
    void FormDestroy() {}

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // 0 when the input is acceptable, else the number 1 to 6 of the first field that is not,
    // or PlaceNotChosen.
    int CheckInput();
    void SecurityChanged(int index);
    // Password or OAuth chosen, or the server changed: what applies is enabled, a provider proposed.
    void SignInChanged();
    bool SignsInWithOAuth() const;
    QLineEdit* Edit(int index) const;
    std::string FieldText(int index) const;

    // What FormShow put into each edit (and the security choice), as bytes and as shown.
    std::string FOriginal[AccountFieldCount];
    QString FShown[AccountFieldCount];
    int FShownSecurity = 0;
};
