#pragma once
// TMail: the window that shows one message's text or header, non-modal, owned by the main
// window. It shows "受信中" until its content arrives; Esc or the close box closes it and a
// closed viewer deletes itself, clearing the global `Mail` when that refers to it.
// Texts handed to it are Shift-JIS, except those of the Utf8 setters (the mail text functions'
// results), which show in any script. The part files of its message (SetPartFiles) are noted
// above the text with a button that opens their folder, and removed, with the private folder
// that held them, when it is destroyed.

#include <QStringList>
#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class TStatusBar;

class TMail : public QWidget {
public:
    explicit TMail(QWidget* owner);
    ~TMail() override;

    TStatusBar* Sb;
    QPlainTextEdit* Memo;

    void SetCaption(const std::string& caption);
    void SetCaptionUtf8(std::string_view caption);
    // The whole text at once, lines separated by "\n".
    void SetTextUtf8(std::string_view text);
    void SetLines(const std::vector<std::string>& lines);
    void AddLine(const std::string& line);
    void ClearLines();
    // In place of "受信中": why nothing will arrive.
    void ShowUnavailable(const std::string& status, const std::string& text);
    // `files` (folder and name, as the component lists them, at least one) in `folder`, the
    // retrieval's private folder ("" when they are in a folder not made for them).
    void SetPartFiles(const std::string& folder, const std::vector<std::string>& files);
    QString PartFolder() const { return FPartFolder; }

    QWidget* PartsBar;
    QLabel* PartsNote;
    QPushButton* OpenFolderButton;

    void FormShow() {}
    void FormKeyPress(char& Key);
    void FormDestroy();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Realign();

    bool FPlaced = false;
    QString FPartFolder;                   // shown and opened
    std::string FOwnFolder;                // removed after the files
    std::vector<std::string> FPartFiles;
};

// The viewer that is open, or null; at most one exists at a time.
extern TMail* Mail;
