#pragma once
// TMail: the window that shows one message's text or header, non-modal, owned by the main
// window. It shows "受信中" until its content arrives; Esc or the close box closes it and a
// closed viewer deletes itself, clearing the global `Mail` when that refers to it.
// Texts handed to it are Shift-JIS, except those of the Utf8 setters (the mail text functions'
// results), which show in any script.

#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

class QPlainTextEdit;
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
};

// The viewer that is open, or null; at most one exists at a time.
extern TMail* Mail;
