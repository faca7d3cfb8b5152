// The main window's mailbox workflow: connecting to the selected account, listing its
// messages, deleting the checked ones, ending the connection; the component's events; the
// viewer's fetches. The rules that keep nested handlers apart are in MainWindow.h and
// MailboxState.h.
#include "app/MainWindow.h"

#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <climits>
#include <optional>

#include "app/ListView.h"
#include "app/MessageBox.h"
#include "app/StatusBar.h"
#include "app/Texts.h"
#include "app/Viewer.h"
#include "jconv/Jconvert.h"
#include "pop3/Nmpop3.h"
#include "runtime/SysUtils.h"

namespace {
// The row data of a message the server accepted to delete, in place of its number.
constexpr int DeletedRowData = -1;

// Sets a field back to its zero value (0, false, TRetrieveMode::ListRow) on every way out of
// a scope.
template <class T>
struct ZeroOnExit {
    T& Value;
    ~ZeroOnExit() { Value = T(); }
};
template <class T>
ZeroOnExit(T&) -> ZeroOnExit<T>;

// The account's time-out in seconds as the component's milliseconds: 30 seconds for a text
// that is no positive number (the component takes no negative time-out, and 0 would wait
// for ever), at most what an int holds.
int TimeOutMilliseconds(const std::string& seconds)
{
    long long s = StrToIntDef(seconds, 30);
    if (s <= 0)
        s = 30;
    return static_cast<int>(std::min<long long>(s * 1000, INT_MAX));
}
}

bool TMain::Connected() const { return NMPOP3 && NMPOP3->Connected; }

bool TMain::ComponentWaiting() const { return NMPOP3->Busy() || FState.Ending(); }

void TMain::SetCommandButtonsEnabled(bool enabled)
{
    for (QPushButton* b : {BitBtn1, BitBtn2, BitBtn3, BitBtn4, BitBtn5})
        b->setEnabled(enabled);
}

std::string TMain::DecodeHeaderText(const std::string& text) const
{
    return Jconvert::ConvertJCode(Jconvert::DecodeHeaderString(text), Jconvert::JCODE_SJIS);
}

// The connect button has already toggled. Released: end the connection. Pressed: connect to
// the selected account and list its mailbox.
void TMain::ConnectButtonClick()
{
    if (!SpeedButton1->isChecked()) {
        EndDialogue();
        return;
    }
    // A second Connect on the socket of one still being made or ended would break both.
    const int row = Lv1->Selected();
    if (Connected() || ComponentWaiting() || row < 0) {
        SpeedButton1->setChecked(false);
        return;
    }
    Sb->SetPanelText(0, Texts::Connecting);
    const TAccountFields account = AccountRow(row);
    std::string password;
    // Looking the password up or asking for it runs other handlers meanwhile: they may have
    // released the button, closed the window or started a connection of their own.
    if (!AccountPassword(account, password) || !SpeedButton1->isChecked() || FState.Closing() || Connected()
        || ComponentWaiting()) {
        if (!Connected() && !ComponentWaiting()) {
            SpeedButton1->setChecked(false);
            Sb->SetPanelText(0, "");
        }
        return;
    }
    NMPOP3->UserID = account[afUserID];
    NMPOP3->Password = password;
    NMPOP3->Host = account[afServer];
    NMPOP3->TimeOut = TimeOutMilliseconds(account[afTimeOut]);
    NMPOP3->Port = StrToIntDef(account[afPort], 110);
    // A certificate the user trusts at the failure is accepted on a second try.
    for (bool again = true; again;) {
        again = false;
        PrepareTls(account);
        FState.BeginConnect();
        try {
            NMPOP3->Connect();
            FState.EndConnect();
        } catch (...) {
            FState.EndConnect();
            bool trusted = false;
            if (!FState.Closing() && !ReportTlsFailure(account, trusted))
                MessageBox(Texts::CouldNotConnect, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
            again = trusted && !FState.Closing() && SpeedButton1->isChecked();
            if (again)
                continue;
            SpeedButton1->setChecked(false);
            Sb->SetPanelText(0, "");
            // A failed STAT fires OnConnect after the connection has closed: back to idle, without
            // a count for a mailbox that was never counted.
            SetCommandButtonsEnabled(false);
            Sb->SetPanelText(1, "");
        }
    }
    RetrieveMessageList(Lv2);
}

// Fetches the summaries of all messages into `items`; a listing needs an open connection
// that no other command is using.
void TMain::RetrieveMessageList(TListView* items)
{
    if (!Connected() || ComponentWaiting())
        return;
    Sb->SetPanelText(0, Texts::Listing);
    Sb->SetPanelText(1, IntToStr(NMPOP3->MessageCount));
    // A range of 0 to 0 would turn the bar into a busy indicator.
    FProgressBar->setRange(0, std::max(1, NMPOP3->MessageCount));
    FProgressBar->setValue(0);
    items->ClearItems();
    FStopRequested = false;
    FRetrieveMode = TRetrieveMode::ListRow;
    {
        // Laying out the list and moving the bar for every message would take longer than
        // fetching it: both follow at most every 50 ms.
        items->BeginAppending();
        struct Appending {
            TListView* List;
            ~Appending() { List->EndAppending(); }
        } appending{items};
        QElapsedTimer sinceShown;
        sinceShown.start();
        int done = 0;
        for (int i = 0; !FStopRequested && !FState.Closing() && i < NMPOP3->MessageCount; ++i) {
            if (!Connected())
                break;
            FListingMsgNo = i + 1;
            try {
                NMPOP3->GetSummary(i + 1);
            } catch (...) {
                // The message gets no row; a lost connection ends the loop at its next pass.
            }
            ++done;
            if (sinceShown.elapsed() >= 50) {
                FProgressBar->setValue(done);
                items->ShowAppended();
                sinceShown.restart();
            }
        }
    }
    FProgressBar->setValue(0);
    if (Connected()) {
        Sb->SetPanelText(0, Texts::Online);
    } else {
        Sb->SetPanelText(0, "");
        Sb->SetPanelText(1, "");
    }
    FStopRequested = false;
}

// Ends the connection: QUIT (which commits the deletions), then Abort. While a command waits
// further down the stack a QUIT would be read as that command's reply, so then either the
// command is cancelled at once (nothing to commit) or the end waits until it is done.
void TMain::EndDialogue()
{
    if (ComponentWaiting()) {
        FStopRequested = true;
        if (FState.Ending())
            return;  // the QUIT is on its way already
        if (FState.MustCommit()) {
            FState.DeferEnd();
            return;
        }
        NMPOP3->Abort();
        return;
    }
    FState.BeginEnd();
    try {
        if (NMPOP3->Connected)
            NMPOP3->Disconnect();
    } catch (...) {
        // The component has closed the connection anyway; a failed QUIT is not shown.
    }
    FState.EndEnd();
    try {
        NMPOP3->Abort();
    } catch (...) {
    }
}

void TMain::FinishPendingEnd()
{
    if (FState.EndPending() && !ComponentWaiting()) {
        FState.PendingEndRuns();
        EndDialogue();
    }
}

void TMain::SetAllChecked(bool checked)
{
    for (int row = 0; row < Lv2->Count(); ++row)
        Lv2->SetChecked(row, checked);
}

void TMain::DeleteCheckedMessages()
{
    if (Lv2->Count() == 0)
        return;
    if (MessageBox(Texts::AskDeleteMessages, Texts::Confirm, TMsgIcon::Question, TMsgButtons::YesNo, 0) != mrYes)
        return;
    const TMailboxState::TDeleting deleting(FState);
    // Rows are only marked while the server is asked, so the row index of each request stays
    // valid. A row marked by an earlier command that ended with a refusal is deleted already.
    for (int row = 0; row < Lv2->Count() && !FState.EndPending(); ++row) {
        if (!Lv2->Checked(row) || Lv2->Data(row) == DeletedRowData)
            continue;
        Lv2->SetSelected(row, true);
        Lv2->scrollToItem(Lv2->item(row, 0), QAbstractItemView::EnsureVisible);
        Lv2->viewport()->repaint();
        DeleteMailMessage(row, Lv2->Data(row));
        Lv2->clearSelection();
    }
    for (int row = Lv2->Count() - 1; row >= 0; --row)
        if (Lv2->Data(row) == DeletedRowData)
            Lv2->DeleteItem(row);
}

// Asks the server to delete message msgNo of list row `row`; an accepted deletion marks the
// row (NMPOP3Success), a refusal raises the server's reply.
void TMain::DeleteMailMessage(int row, int msgNo)
{
    FDeletingRow = row;
    NMPOP3->DeleteMailMessage(msgNo);
}

void TMain::MarkMessageDeleted(int row)
{
    Lv2->SetSubItem(row, 1, Texts::Deleted);
    Lv2->SetData(row, DeletedRowData);
}

int TMain::AddMessageRow(const std::string& subject, const std::string& from, long long bytes, int msgNo)
{
    return Lv2->AddItem(subject, {from, IntToStr(bytes)}, msgNo);
}

// ---- Component events ----

void TMain::NMPOP3Connect(TObject*)
{
    Sb->SetPanelText(0, Texts::Connected);
    Sb->SetPanelText(1, IntToStr(NMPOP3->MessageCount));
    SetCommandButtonsEnabled(true);
}

void TMain::NMPOP3Disconnect(TObject*)
{
    Sb->SetPanelText(0, "");
    Sb->SetPanelText(1, "");
    SetCommandButtonsEnabled(false);
}

void TMain::NMPOP3ConnectionFailed(TObject*)
{
    // A failed secure connection is explained after Connect returns (ReportTlsFailure).
    if (!FState.Closing() && NMPOP3->TlsProblem() == TTlsProblem::None)
        MessageBox(Texts::CannotConnect, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
}

void TMain::NMPOP3RetrieveEnd(TObject*)
{
    const TRetrieveMode mode = FRetrieveMode;
    const ZeroOnExit reset{FRetrieveMode};
    if (mode == TRetrieveMode::ListRow) {
        const TSummary& s = NMPOP3->Summary;
        AddMessageRow(DecodeHeaderText(s.Subject), DecodeHeaderText(s.From), s.Bytes, FListingMsgNo);
        return;
    }
    // The viewer that asked, unless it has been closed or replaced meanwhile.
    TMail* viewer = FRetrieveViewer.data();
    if (!viewer || viewer != Mail)
        return;
    if (mode == TRetrieveMode::MessageText)
        ShowMessageText(viewer, NMPOP3->MailMessage);
    else if (mode == TRetrieveMode::MessageHeader)
        ShowMessageHeader(viewer, NMPOP3->Summary);
}

void TMain::NMPOP3Success(TObject*)
{
    FState.DeletionAccepted();
    const int row = FDeletingRow;
    if (row >= 0 && row < Lv2->Count())
        MarkMessageDeleted(row);
}

// Attachments are not saved under a name of their own.
void TMain::NMPOP3DecodeStart(std::string& FileName) { FileName.clear(); }

// ---- Viewer ----

void TMain::OpenViewer()
{
    if (Mail) {
        TMail* old = Mail;
        Mail = nullptr;
        old->close();
    }
    Mail = new TMail(this);
    Mail->show();
}

// Opens a viewer for the selected row and gives it the component's next retrieval: the
// message number to fetch, nothing when no row is selected or the component is waiting (the
// component would refuse the request; the retrieve mode stays with the running command, and
// the viewer stays at "受信中").
std::optional<int> TMain::StartViewerFetch(TRetrieveMode mode)
{
    const int row = Lv2->Selected();
    if (row < 0)
        return std::nullopt;
    const int msgNo = Lv2->Data(row);
    OpenViewer();
    if (ComponentWaiting())
        return std::nullopt;
    FRetrieveViewer = Mail;
    FRetrieveMode = mode;
    return msgNo;
}

// The message text of the selected row. A failing fetch is not reported: the viewer keeps
// "受信中".
void TMain::ViewMessageText()
{
    const std::optional<int> msgNo = StartViewerFetch(TRetrieveMode::MessageText);
    if (!msgNo)
        return;
    // A refused RETR leaves the record alone: it must not show the previous message.
    NMPOP3->MailMessage.Clear();
    try {
        NMPOP3->GetMailMessage(*msgNo);
    } catch (...) {
    }
    FRetrieveMode = TRetrieveMode::ListRow;
}

// The header of the selected row; a failing fetch raises to the handler boundary.
void TMain::ViewMessageHeader()
{
    const std::optional<int> msgNo = StartViewerFetch(TRetrieveMode::MessageHeader);
    if (!msgNo)
        return;
    const ZeroOnExit reset{FRetrieveMode};
    NMPOP3->GetSummary(*msgNo);
}

// The record is left as it is (the lines are converted for the viewer only), so showing it
// again gives the same text.
void TMain::ShowMessageText(TMail* viewer, const TMailMessage& message)
{
    FillViewer(viewer, message.Subject, message.Body.Items(), message.From);
}

// Every header line converted on its own (a folded field shows as several lines).
void TMain::ShowMessageHeader(TMail* viewer, const TSummary& summary)
{
    viewer->ClearLines();
    FillViewer(viewer, summary.Subject, summary.Header.Items(), summary.From);
}

void TMain::FillViewer(TMail* viewer, const std::string& subject, const std::vector<std::string>& lines,
                       const std::string& from) const
{
    viewer->SetCaption(DecodeHeaderText(subject));
    std::vector<std::string> shown;
    shown.reserve(lines.size());
    for (const std::string& line : lines)
        shown.push_back(DecodeHeaderText(line));
    viewer->SetLines(shown);
    viewer->Sb->SetPanelText(0, "");
    viewer->Sb->SetPanelText(1, DecodeHeaderText(from));
}
