#include "app/accounts/SignInDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/main/AppStyle.h"
#include "app/main/Sjis.h"
#include "app/main/Texts.h"

TSignInDialog::TSignInDialog(QWidget* owner, const std::string& url, bool again) : QDialog(owner)
{
    UseAppStyle();
    setObjectName("SignIn");
    setWindowTitle(SjisToQ(Texts::SignInCaption));
    QFont font("IPAPGothic");
    font.setPixelSize(12);
    setFont(font);
    auto* layout = new QVBoxLayout(this);
    auto* prompt = new QLabel(SjisToQ(again ? Texts::SignInAgain + ("\n" + std::string(Texts::SignInPrompt))
                                            : std::string(Texts::SignInPrompt)),
                              this);
    prompt->setTextFormat(Qt::PlainText);
    prompt->setWordWrap(true);
    layout->addWidget(prompt);
    auto* row = new QHBoxLayout;
    Url = new QLineEdit(QString::fromStdString(url), this);
    Url->setObjectName("Url");
    Url->setReadOnly(true);
    Url->setMinimumWidth(360);
    Url->setCursorPosition(0);
    row->addWidget(Url);
    CopyButton = new QPushButton(SjisToQ(Texts::CopyCaption), this);
    CopyButton->setObjectName("Copy");
    CopyButton->setAutoDefault(false);
    row->addWidget(CopyButton);
    layout->addLayout(row);
    CancelButton = new QPushButton(SjisToQ(Texts::CancelCaption), this);
    CancelButton->setObjectName("Cancel");
    CancelButton->setAutoDefault(false);
    layout->addWidget(CancelButton, 0, Qt::AlignRight);
    connect(CopyButton, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(Url->text()); });
    connect(CancelButton, &QPushButton::clicked, this, &TSignInDialog::reject);
}

void TSignInDialog::reject()
{
    // The sign-in ends and its owner closes this window; closing it here too would be early.
    if (OnCancel)
        OnCancel();
}
