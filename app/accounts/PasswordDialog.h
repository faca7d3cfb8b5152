#pragma once
// The password prompt of a connect whose account keeps no password the program can reach
// (its keyring entry is missing, or no keyring answers): the password, and where to remember
// it ("記憶しない", "キーリング", "ファイル（平文）").
//
// AskPassword shows the modal prompt over `owner` and waits in its loop (handlers of other
// windows run meanwhile); it returns false when the user cancelled. The keyring item is offered
// only when `keyringAvailable`, and is then the default; otherwise nothing is remembered
// unless the user chooses the file. Like MessageBox, a test can answer in the user's place.

#include <functional>
#include <string>

class QWidget;

enum class TRememberPlace { None, Keyring, File };

struct TPasswordAnswer {
    std::string Password;   // Shift-JIS
    TRememberPlace Remember = TRememberPlace::None;
};

// `accountName`: the account's name (Shift-JIS), shown in the question.
bool AskPassword(QWidget* owner, const std::string& accountName, bool keyringAvailable, TPasswordAnswer& answer);

// While a hook is set it answers every prompt (its arguments those of AskPassword) and no
// window is shown; an empty hook restores the prompt.
using TPasswordPromptHook = std::function<bool(const std::string& accountName, bool keyringAvailable, TPasswordAnswer&)>;
void SetPasswordPromptHook(TPasswordPromptHook hook);
