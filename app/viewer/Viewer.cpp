#include "app/viewer/Viewer.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>

#include "pop3/PartFolder.h"
#include "runtime/SysUtils.h"

#include "app/main/MessageBox.h"
#include "app/main/Sjis.h"
#include "app/main/StatusBar.h"
#include "app/main/Texts.h"

TMail* Mail = nullptr;

TMail::TMail(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName("Mail");
    setAttribute(Qt::WA_DeleteOnClose);
    QFont font("IPAPGothic");
    font.setPixelSize(12);
    setFont(font);
    resize(442, 371);

    Memo = new QPlainTextEdit(this);
    Memo->setObjectName("Memo");
    Memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->installEventFilter(this);

    Sb = new TStatusBar(this);
    Sb->setObjectName("Sb");
    Sb->AddPanel(60, Qt::AlignHCenter);
    Sb->AddPanel(240);
    Sb->AddPanel(50);
    Sb->SetPanelText(0, Texts::Receiving);

    PartsBar = new QWidget(this);
    PartsBar->setObjectName("PartsBar");
    PartsNote = new QLabel(PartsBar);
    PartsNote->setObjectName("PartsNote");
    PartsNote->setTextInteractionFlags(Qt::TextSelectableByMouse);
    OpenFolderButton = new QPushButton(SjisToQ(Texts::OpenFolderCaption), PartsBar);
    OpenFolderButton->setObjectName("OpenFolderButton");
    connect(OpenFolderButton, &QPushButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(FPartFolder)); });
    PartsBar->hide();
    Realign();
}

TMail::~TMail()
{
    Guarded([this] { FormDestroy(); });
}

void TMail::FormDestroy()
{
    // Copies the user saved elsewhere are theirs; the files here were only for this view.
    partfolder::RemovePartFiles(FPartFiles, FOwnFolder);
    if (Mail == this)
        Mail = nullptr;
}

void TMail::SetCaption(const std::string& caption) { setWindowTitle(SjisToQ(caption)); }

void TMail::SetCaptionUtf8(std::string_view caption) { setWindowTitle(Utf8ToQ(caption)); }

void TMail::SetTextUtf8(std::string_view text) { Memo->setPlainText(Utf8ToQ(text)); }

void TMail::SetLines(const std::vector<std::string>& lines)
{
    QStringList text;
    text.reserve(static_cast<qsizetype>(lines.size()));
    for (const auto& line : lines)
        text.append(SjisToQ(line));
    Memo->setPlainText(text.join(QLatin1Char('\n')));
}

void TMail::AddLine(const std::string& line) { Memo->appendPlainText(SjisToQ(line)); }

void TMail::ClearLines() { Memo->clear(); }

void TMail::ShowUnavailable(const std::string& status, const std::string& text)
{
    Sb->SetPanelText(0, status);
    Memo->setPlainText(SjisToQ(text));
}

void TMail::SetPartFiles(const std::string& folder, const std::vector<std::string>& files)
{
    FOwnFolder = folder;
    FPartFiles.insert(FPartFiles.end(), files.begin(), files.end());
    QStringList names;
    for (const std::string& file : FPartFiles)
        names.append(QString::fromLocal8Bit(ExtractFileName(file).c_str()));
    FPartFolder = QFileInfo(QString::fromLocal8Bit(FPartFiles.front().c_str())).absolutePath();
    PartsNote->setText(SjisToQ(IntToStr(static_cast<long long>(FPartFiles.size())) + Texts::PartsWritten) +
                       QDir::toNativeSeparators(FPartFolder) + "\n" + SjisToQ(Texts::PartsRemoved));
    PartsNote->setToolTip(names.join(QLatin1Char('\n')));
    PartsBar->show();
    Realign();
}

void TMail::FormKeyPress(char& Key)
{
    if (Key == 27) {
        Key = 0;
        close();
    }
}

void TMail::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        // Centred on the owner the first time it is shown.
        if (!FPlaced && parentWidget()) {
            const QRect owner = parentWidget()->window()->frameGeometry();
            move(owner.center() - QPoint(width() / 2, height() / 2));
            FPlaced = true;
        }
        Guarded([this] { FormShow(); });
    }
    QWidget::showEvent(event);
}

bool TMail::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        char key = 27;
        Guarded([&] { FormKeyPress(key); });
        if (key == 0)
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TMail::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Realign();
}

void TMail::Realign()
{
    const int top = PartsBar->isHidden() ? 0 : 34;
    PartsBar->setGeometry(0, 0, width(), top);
    OpenFolderButton->setGeometry(std::max(0, width() - 104), 6, 100, 22);
    PartsNote->setGeometry(4, 0, std::max(0, width() - 112), top);
    Memo->setGeometry(0, top, width(), std::max(0, height() - TStatusBar::BarHeight - top));
    Sb->setGeometry(0, height() - TStatusBar::BarHeight, width(), TStatusBar::BarHeight);
}
