#include "app/accounts/SignInHandling.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>
#include <iterator>

#include "app/accounts/SignInDialog.h"
#include "app/main/MainWindow.h"
#include "app/main/MessageBox.h"
#include "app/main/Sjis.h"
#include "app/main/Texts.h"

TSignInHandling::TSignInHandling(TMain& window) : W(window)
{
    W.SignIns.OnSignInStart = [this](const TSignInRequest& request) { Guarded([&] { Started(request); }); };
    W.SignIns.OnSignInEnd = [this](const TOAuthStatus& status) { Guarded([&] { Ended(status); }); };
}

TSignInHandling::~TSignInHandling()
{
    W.SignIns.OnSignInStart = nullptr;
    W.SignIns.OnSignInEnd = nullptr;
}

bool TSignInHandling::OpenInBrowser(const std::string& url)
{
    // The URL is sent as it was made: parsing it again could re-encode its parameters.
    if (QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(url), QUrl::StrictMode)))
        return true;
    // A platform without desktop services (offscreen, a bare window manager) still has xdg-open.
    return QProcess::startDetached("xdg-open", {QString::fromStdString(url)});
}

void TSignInHandling::Started(const TSignInRequest& request)
{
    FDialog = std::make_unique<TSignInDialog>(&W, request.Url, request.Again);
    FDialog->OnCancel = [this] { W.SignIns.Cancel(); };
    FDialog->show();
    // Without a browser the URL in the dialog is the way: it can be copied to another machine.
    OpenInBrowser(request.Url);
}

void TSignInHandling::Ended(const TOAuthStatus& status)
{
    FDialog.reset();
    if (status.Error == TOAuthError::None && !status.Kept)
        MessageBox(Texts::SignInNotKept, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
}

std::string TSignInHandling::FailureText(const TOAuthStatus& status)
{
    const auto index = static_cast<size_t>(status.Error);
    if (index >= std::size(Texts::OAuthErrorTexts) || *Texts::OAuthErrorTexts[index] == '\0')
        return "";
    std::string text = Texts::OAuthErrorTexts[index];
    // The details come from the provider or the settings file: UTF-8, shown as the window's text.
    std::string details = status.Code;
    if (!status.Description.empty())
        details += (details.empty() ? "" : " ") + status.Description;
    if (!details.empty() && status.Error != TOAuthError::SignInNeeded)
        text += "\n" + QToSjis(QString::fromStdString(details));
    return text;
}
