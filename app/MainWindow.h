#pragma once
// TMain: the main window. The account list `Lv1` above, the message list `Lv2` below with
// its command buttons, the status bar `Sb` with the progress bar over panel 2.
//
// The window's geometry and column widths are kept in the settings file; the account list
// lives in the rows of `Lv1` (fields as Shift-JIS bytes, exactly as in "Account.lst"), is
// loaded when the window is first shown and saved after every change and when the window is
// destroyed. Handlers that Qt calls never let an exception escape: it is shown in the
// application's exception box. Constructing the window runs FormCreate; destroying it runs
// FormDestroy. Closing it (FormClose) only asks a running listing to stop.

#include <QWidget>
#include <string>

#include "app/AccountFile.h"

class QAction;
class QMenu;
class QProgressBar;
class QPushButton;
class TListView;
class TSplitter;
class TStatusBar;
class TStringList;
struct TWindowSettings;

class TMain : public QWidget {
public:
    TMain();
    ~TMain() override;

    QWidget* Panel1;
    TListView* Lv1;
    QWidget* Panel3;
    QPushButton* SpeedButton1;
    TSplitter* Splitter1;
    QWidget* Panel2;
    QWidget* Panel4;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QPushButton* BitBtn3;
    QPushButton* BitBtn4;
    QPushButton* BitBtn5;
    TListView* Lv2;
    TStatusBar* Sb;
    QMenu* Pm1;
    QAction* Pm1_1;
    QAction* Pm1_2;
    QAction* Pm1_3;
    QAction* Pm1_4;
    QMenu* Pm2;
    QAction* Pm2_1;
    QAction* Pm2_2;

    void FormCreate();
    void FormShow();
    void FormClose();
    void FormDestroy();
    // Shared handlers; the sender's tag tells the command.
    void ButtonClick(QObject* Sender);
    void MenuItemClick(QObject* Sender);
    void ListViewDblClick(QObject* Sender);
    void ListViewSelectItem(QObject* Sender, bool Selected);

    // Appends an unchecked row to the message list: subject and sender as Shift-JIS text to
    // show, the size in bytes, the message number on the server as the row's data.
    int AddMessageRow(const std::string& subject, const std::string& from, long long bytes, int msgNo);

    int Panel1Height() const { return FPanel1Height; }
    void SetPanel1Height(int height);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TWindowSettings CurrentWindowSettings() const;
    void LoadWindowSettings();
    void SaveWindowSettings();
    void CreateProgressBar(int panelIndex);

    // Account list.
    void LoadAccounts(TListView* items);
    void SaveAccounts(TListView* items);
    TAccountFields AccountRow(int row) const;
    void SetAccountRow(int row, const TAccountFields& fields);
    // Shows the account dialog over the exchange list; true when it closed with OK.
    bool ExecAccountDialog(TStringList& fields);
    void NewAccount();
    void EditAccount();
    void CopyAccount();
    void DeleteAccount();

    // Mailbox.
    bool Connected() const;
    void ConnectButtonClick();
    void RetrieveMessageList(TListView* items);
    void EndDialogue();
    void SetAllChecked(bool checked);
    void DeleteCheckedMessages();
    void DeleteMailMessage(int row, int msgNo);
    void MarkMessageDeleted(int row);

    // Viewer.
    void OpenViewer();
    void ShowMessageText();
    void ShowMessageHeader();
    void RetrieveMessageText(int msgNo);
    void RetrieveMessageHeader(int msgNo);

    void Realign();
    void Bind(QPushButton* button);
    void Bind(QAction* action);

    QProgressBar* ProgressBar = nullptr;
    bool StopRequested = false;
    int RetrieveMode = 0;

    int FPanel1Height = 74;
    // "Account.lst" existed but could not be read: it is never overwritten by a list that lacks it.
    bool FAccountFileUnread = false;
};

extern TMain* Main;
