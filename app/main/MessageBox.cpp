#include "app/main/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "app/main/Sjis.h"
#include "app/main/Texts.h"

namespace {
TMessageBoxHook gHook;

QMessageBox::Icon QtIcon(TMsgIcon icon)
{
    switch (icon) {
    case TMsgIcon::Exclamation: return QMessageBox::Warning;
    case TMsgIcon::Question: return QMessageBox::Question;
    case TMsgIcon::Stop: return QMessageBox::Critical;
    case TMsgIcon::None:
    case TMsgIcon::Program: break;
    }
    return QMessageBox::NoIcon;
}
}

void SetMessageBoxHook(TMessageBoxHook hook) { gHook = std::move(hook); }

int MessageBox(const std::string& text, const std::string& caption, TMsgIcon icon, TMsgButtons buttons,
               int defaultButton)
{
    if (gHook)
        return gHook(TMessageBoxRequest{text, caption, icon, buttons, defaultButton});

    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    QMessageBox box(QtIcon(icon), SjisToQ(caption), SjisToQ(text), QMessageBox::NoButton, owner);
    box.setTextFormat(Qt::PlainText);
    if (icon == TMsgIcon::Program)
        box.setIconPixmap(QApplication::windowIcon().pixmap(64));
    QFont font("IPAPGothic");
    font.setPixelSize(12);
    box.setFont(font);
    // The buttons carry the interface's own words, not Qt's English ones.
    if (buttons == TMsgButtons::YesNo) {
        QPushButton* yes = box.addButton(SjisToQ(Texts::YesButton), QMessageBox::YesRole);
        QPushButton* no = box.addButton(SjisToQ(Texts::NoButton), QMessageBox::NoRole);
        box.setDefaultButton(defaultButton == 1 ? no : yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? mrYes : mrNo;
    }
    box.setDefaultButton(box.addButton(SjisToQ(Texts::OkButton), QMessageBox::AcceptRole));
    box.exec();
    return mrOK;
}

void ShowException(const std::exception& e) noexcept
{
    try {
        MessageBox(e.what(), QToSjis(QCoreApplication::applicationName()), TMsgIcon::Stop, TMsgButtons::OK);
    } catch (...) {
        // Nothing is left to show it with; the handler that failed has already given up.
    }
}
