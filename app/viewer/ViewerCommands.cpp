#include "app/viewer/ViewerCommands.h"

#include <QPointer>
#include <string>

#include "app/mailboxview/MessageView.h"
#include "app/main/MainWindow.h"
#include "app/main/StatusBar.h"
#include "app/main/Texts.h"
#include "app/viewer/Viewer.h"
#include "pop3/PartFolder.h"

namespace {
// Caption, text ("\n" between lines) and sender, UTF-8.
void FillViewer(TMail* viewer, const std::string& caption, const std::string& text, const std::string& sender)
{
    viewer->SetCaptionUtf8(caption);
    viewer->SetTextUtf8(text);
    viewer->Sb->SetPanelText(0, "");
    viewer->Sb->SetPanelUtf8(1, sender);
    viewer->raise();
}
}

std::optional<int> TViewerCommands::OpenViewer()
{
    const int row = W.Lv2->Selected();
    if (row < 0)
        return std::nullopt;
    const int number = W.Lv2->Data(row);
    if (Mail) {
        TMail* old = Mail;
        Mail = nullptr;
        old->close();
    }
    Mail = new TMail(&W);
    Mail->show();
    // In front of the main window, also when it was opened by a click there.
    Mail->raise();
    Mail->activateWindow();
    if (!W.Session.Connected()) {
        Mail->ShowUnavailable(Texts::Offline, Texts::ViewerOffline);
        return std::nullopt;
    }
    return number;
}

void TViewerCommands::ViewMessageText()
{
    const std::optional<int> number = OpenViewer();
    if (!number)
        return;
    const QPointer<TMail> viewer = Mail;
    const TFetchedText fetched = W.Session.FetchText(*number);
    if (fetched.Result == TFetchedText::TResult::Delivered && viewer && viewer == Mail)
        FillViewer(viewer, fetched.Subject, fetched.Text, fetched.From);
    TakePartFiles(viewer, fetched);
}

void TViewerCommands::TakePartFiles(TMail* viewer, const TFetchedText& fetched) const
{
    if (fetched.PartFiles.empty() && fetched.PartFolder.empty())
        return;
    if (viewer && viewer == Mail && !fetched.PartFiles.empty()) {
        viewer->SetPartFiles(fetched.PartFolder, fetched.PartFiles);
        return;
    }
    partfolder::RemovePartFiles(fetched.PartFiles, fetched.PartFolder);
}

// Every header line decoded on its own (a folded field shows as several lines).
void TViewerCommands::ViewMessageHeader()
{
    const std::optional<int> number = OpenViewer();
    if (!number)
        return;
    const QPointer<TMail> viewer = Mail;
    const std::optional<TFetchedHeader> header = W.Session.FetchHeader(*number);
    if (!header || !viewer || viewer != Mail)
        return;
    viewer->ClearLines();
    FillViewer(viewer, header->Subject, header->Text, header->From);
}
