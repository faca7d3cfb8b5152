#pragma once
// TSignInDialog: the window that waits while an OAuth 2.0 sign-in goes on in the browser. It
// shows the authorization URL (read-only, selectable) with a button that copies it, for a
// browser on another machine, and a cancel button. Modeless: the sign-in waits in the pump
// meanwhile. Cancel, Esc and the close box call OnCancel (tested before the call); the owner
// closes the window when the sign-in ends.

#include <QDialog>
#include <functional>
#include <string>

class QLineEdit;
class QPushButton;

class TSignInDialog : public QDialog {
public:
    // `url` UTF-8; `again`: the earlier sign-in was revoked or expired, which is said first.
    TSignInDialog(QWidget* owner, const std::string& url, bool again);

    QLineEdit* Url;
    QPushButton* CopyButton;
    QPushButton* CancelButton;
    std::function<void()> OnCancel;

protected:
    void reject() override;
};
