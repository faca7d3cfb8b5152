#pragma once
// The main window driven like a user drives it, against a POP3 server: an account row for
// the server, clicks on the connect button and the commands, and a way to act from inside
// a waiting command (a timer that fires inside the component's message pump).
//
// The current directory and the runtime folder are the test's own folder while a test runs,
// so the part folders of viewed messages are made there.

#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/mailboxview/MessageModel.h"
#include "app/mailboxview/MessageView.h"
#include "app/main/ListView.h"
#include "app/main/MainWindow.h"
#include "app/main/StatusBar.h"
#include "app/main/Texts.h"
#include "app/viewer/Viewer.h"
#include "tests/app/TestSupport.h"
#include "tests/support/Store.h"

class MailboxTest : public AppTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds an account row for host:port and selects it.
    void UseAccount(const std::string& host, int port, const std::string& user = "alice",
                    const std::string& password = "secret", const std::string& timeOut = "10");
    // Presses (or releases) the connect button as a click does; a press lists the mailbox.
    void ClickConnect() { W->SpeedButton1->click(); }
    // Opens Lv2's popup menu on `row` and chooses the item.
    void ChooseFromMessageMenu(int row, QAction* item);

    std::string Panel(int i) const { return W->Sb->PanelText(i); }
    QProgressBar* Bar() const { return W->Sb->findChild<QProgressBar*>("ProgressBar"); }
    bool CommandButtonsEnabled() const;
    std::vector<int> RowNumbers() const;
    int Headers() const { return testsupport::Headers(W->Session.Store()); }
    std::vector<std::string> BoxTexts() const;
    std::vector<std::string> ViewerLines() const;

    // Runs `action` once, from a timer, as soon as `ready` holds (polled every 2 ms inside
    // whatever pump runs then).
    void When(std::function<bool()> ready, std::function<void()> action);
    // Runs `action` inside the handler that gives record number `rows` (1-based) of the
    // session's store its header, once, with the rows so far shown in Lv2.
    void AtRow(int rows, std::function<void()> action);

    std::unique_ptr<TMain> W;

private:
    std::string FOldDir;
    QByteArray FOldRuntimeDir;
    std::vector<std::unique_ptr<QTimer>> FTimers;
    std::vector<std::unique_ptr<TStoreObserver>> FObservers;
};

// A flag set by a script server's thread (Script::Call) and read by the test.
using Flag = std::shared_ptr<std::atomic<bool>>;
inline Flag NewFlag() { return std::make_shared<std::atomic<bool>>(false); }
