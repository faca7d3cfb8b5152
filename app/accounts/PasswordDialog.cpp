#include "app/accounts/PasswordDialog.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

#include "app/main/AppStyle.h"
#include "app/main/Sjis.h"
#include "app/main/Texts.h"

namespace {
TPasswordPromptHook gHook;
}

void SetPasswordPromptHook(TPasswordPromptHook hook) { gHook = std::move(hook); }

bool AskPassword(QWidget* owner, const std::string& accountName, bool keyringAvailable, TPasswordAnswer& answer)
{
    if (gHook)
        return gHook(accountName, keyringAvailable, answer);
    UseAppStyle();
    QDialog dialog(owner);
    dialog.setObjectName("PasswordPrompt");
    dialog.setWindowTitle(SjisToQ(Texts::PasswordCaption));
    QFont font("IPAPGothic");
    font.setPixelSize(12);
    dialog.setFont(font);
    auto* layout = new QFormLayout(&dialog);
    auto* question = new QLabel(SjisToQ(accountName + Texts::AskPasswordOf), &dialog);
    question->setTextFormat(Qt::PlainText);
    layout->addRow(question);
    auto* edit = new QLineEdit(&dialog);
    edit->setEchoMode(QLineEdit::Password);
    // What the account dialog refuses is refused here too: such a password would be sent,
    // and remembered, as other bytes than the ones typed.
    edit->setValidator(new TSjisValidator(edit));
    layout->addRow(SjisToQ(Texts::PasswordLabel), edit);
    // The items in TRememberPlace order; the keyring item is left out without a keyring.
    auto* remember = new QComboBox(&dialog);
    remember->addItem(SjisToQ(Texts::DontRemember), static_cast<int>(TRememberPlace::None));
    if (keyringAvailable)
        remember->addItem(SjisToQ(Texts::KeyringPlace), static_cast<int>(TRememberPlace::Keyring));
    remember->addItem(SjisToQ(Texts::FilePlace), static_cast<int>(TRememberPlace::File));
    remember->setCurrentIndex(keyringAvailable ? 1 : 0);
    layout->addRow(SjisToQ(Texts::RememberLabel), remember);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    answer.Password = QToSjis(edit->text());
    answer.Remember = static_cast<TRememberPlace>(remember->currentData().toInt());
    return true;
}
