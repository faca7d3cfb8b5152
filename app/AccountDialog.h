#pragma once
// TAcco: the modal dialog in which the user enters or changes one POP3 account.
//
// The caller passes its exchange list, borrowed for the dialog's life: empty for a new
// account, or the six fields name, account ID, password, receiving server, time-out, port
// (Shift-JIS). Only OK, after the input passed its checks, writes the six texts back; every
// other way out (Cancel, Esc, the close box) leaves the list untouched. The dialog deletes
// itself when it closes: after exec() returns the caller holds no reference to it.
//
// A field whose text the user did not change is written back with its original bytes, so
// editing one field never alters another, even one whose bytes do not decode cleanly. The
// edits refuse characters that Shift-JIS cannot hold.

#include <QDialog>
#include <string>

#include "app/AccountFile.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class TStringList;

// The tag of the button that BitBtnClick acts for.
enum class TAccoTag : int { OK = 0 };

class TAcco : public QDialog {
public:
    TAcco(QWidget* owner, TStringList& accountFields);
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
    QFrame* Bevel1;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;

    TStringList& AccountFields;

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
    // 0 when the input is acceptable, else the number 1 to 6 of the first field that is not.
    int CheckInput();
    QLineEdit* Edit(int index) const;
    std::string FieldText(int index) const;

    // What FormShow put into each edit, as bytes and as shown.
    std::string FOriginal[AccountFieldCount];
    QString FShown[AccountFieldCount];
};
