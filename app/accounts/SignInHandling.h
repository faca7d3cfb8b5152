#pragma once
// TSignInHandling: the main window's side of the OAuth 2.0 sign-in (TMain::SignIns): when a
// connect needs the browser it opens the authorization URL there (QDesktopServices, else
// xdg-open) and shows the waiting dialog with the URL and a cancel button; when the sign-in
// ends it closes that dialog, and says when the sign-in lasts only for this run (no keyring).
// Why a sign-in failed is told in Japanese by FailureText. The hooks it sets on TMain::SignIns
// run nested in the connect (the sign-in waits in the pump).

#include <memory>
#include <string>

#include "mailbox/OAuthClient.h"

class TMain;
class TSignInDialog;

class TSignInHandling {
public:
    explicit TSignInHandling(TMain& window);
    ~TSignInHandling();
    TSignInHandling(const TSignInHandling&) = delete;
    TSignInHandling& operator=(const TSignInHandling&) = delete;

    // The waiting dialog while a sign-in waits for the browser, else null.
    TSignInDialog* Dialog() const { return FDialog.get(); }

    // Why the sign-in of the last connect failed (Shift-JIS, the error's details on a line of
    // their own); "" when there is nothing to say (it was canceled, or did not fail).
    static std::string FailureText(const TOAuthStatus& status);
    // Opens `url` in the desktop's browser; false when nothing could be started.
    static bool OpenInBrowser(const std::string& url);

private:
    void Started(const TSignInRequest& request);
    void Ended(const TOAuthStatus& status);

    TMain& W;
    std::unique_ptr<TSignInDialog> FDialog;
};
