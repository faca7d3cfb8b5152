#pragma once
// Fixtures for the window tests: a folder of their own for the program's files, a 1024 x 768
// screen, and message boxes answered by the test and recorded.

#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "app/accounts/PasswordDialog.h"
#include "app/main/MessageBox.h"
#include "tests/support/Files.h"

class QWidget;
class TMain;

// Between fixtures a message box or a password prompt is a test failure (it would wait for a user who never comes).
void InstallUnexpectedBoxHook();

class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string& name) const;
    std::string ReadFile(const std::string& name) const;
    void WriteFile(const std::string& name, const std::string& data) const;
    bool Exists(const std::string& name) const;
    std::vector<std::string> FolderEntries() const;

    // Answers for the next boxes, in order; when none is left, OK resp. No.
    std::deque<int> Answers;
    std::vector<TMessageBoxRequest> Boxes;
    // Answers for the next password prompts, in order (none: cancelled); the names of the
    // accounts asked for, and whether a keyring was offered, as "name" or "name+keyring".
    std::deque<TPasswordAnswer> PasswordAnswers;
    std::vector<std::string> Prompts;
    QTemporaryDir Dir;
};

// Appends a message to the window's list as a listing does (a record of its session's store,
// announced at once); returns its shown row, -1 when the filter hides it. Texts UTF-8.
int AddMessageRow(TMain& w, const std::string& subject, const std::string& from, long long bytes, int number,
                  std::optional<long long> date = std::nullopt);
// The text a cell of the message list shows, in Shift-JIS.
std::string CellSjis(const TMain& w, int row, int column);

// The delete command's question for `count` messages of `size` (as the list shows sizes).
std::string DeleteQuestion(int count, const std::string& size);

// Runs `action` on the modal window that the code run next opens (from inside its loop).
// Returns a flag that tells afterwards whether a modal window was found.
std::shared_ptr<bool> OnNextModal(std::function<void(QWidget*)> action);

using testsupport::FileSizeLimit;
