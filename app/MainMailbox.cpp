// The main window's mailbox workflow: connecting to the selected account, listing its
// messages, deleting the checked ones, ending the connection; the component's events; the
// viewer's fetches. The rules that keep nested handlers apart are in MainWindow.h and
// MailboxState.h.
#include "app/MainWindow.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <climits>
#include <optional>

#include "app/ListView.h"
#include "app/MessageBox.h"
#include "app/MessageList.h"
#include "app/ShownText.h"
#include "app/Sjis.h"
#include "app/StatusBar.h"
#include "app/Texts.h"
#include "app/Viewer.h"
#include "pop3/Nmpop3.h"
#include "pop3/PartFolder.h"
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

bool TMain::ComponentWaiting() const { return NMPOP3->Busy() || FState.Ending() || FState.Undoing(); }

void TMain::SetCommandButtonsEnabled(bool enabled)
{
    for (QPushButton* b : {BitBtn1, BitBtn2, BitBtn3, BitBtn4, BitBtn5})
        b->setEnabled(enabled);
    UpdateUndo();
}

// Undo is offered only while deletions wait for QUIT on an open connection.
void TMain::UpdateUndo()
{
    const bool offered = Connected() && FState.DeletedCount() > 0;
    BitBtn6->setEnabled(offered);
    Pm2_3->setEnabled(offered);
}

void TMain::ShowMessageCount()
{
    Sb->SetPanelText(1, IntToStr(NMPOP3->MessageCount - FState.DeletedCount()));
}

// The connect button has already toggled. Released: end the connection. Pressed: connect to
// the selected account and list its mailbox.
void TMain::ConnectButtonClick()
{
    if (!SpeedButton1->isChecked()) {
        EndDialogue();
        ListViewSelectItem(Lv1, Lv1->Selected() >= 0);
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
    bool kept = true;
    struct Wipe {
        std::string& Secret;
        ~Wipe() { WipeString(Secret); }
    } wipe{password};
    // Looking the password up or asking for it runs other handlers meanwhile: they may have
    // released the button, closed the window or started a connection of their own.
    if (!AccountPassword(account, password, kept) || !SpeedButton1->isChecked() || FState.Closing() || Connected()
        || ComponentWaiting()) {
        if (!Connected() && !ComponentWaiting()) {
            SpeedButton1->setChecked(false);
            Sb->SetPanelText(0, "");
        }
        return;
    }
    NMPOP3->UserID = account[afUserID];
    NMPOP3->KeepPassword = kept;
    NMPOP3->Host = account[afServer];
    NMPOP3->TimeOut = TimeOutMilliseconds(account[afTimeOut]);
    NMPOP3->Port = StrToIntDef(account[afPort], 110);
    FDeletedRows.clear();
    // A certificate the user trusts at the failure is accepted on a second try.
    for (bool again = true; again;) {
        again = false;
        NMPOP3->Password = password;   // a failed attempt has wiped a password not kept
        PrepareTls(account);
        FState.BeginConnect();
        try {
            NMPOP3->Connect();
            FState.EndConnect();
            RememberVerifiedServer(account);
        } catch (...) {
            FState.EndConnect();
            bool trusted = false;
            if (!FState.Closing() && !ReportTlsFailure(account, trusted)) {
                const std::string reason = ConnectFailureReason();
                MessageBox(reason.empty() ? std::string(Texts::CouldNotConnect) : Texts::CouldNotConnect + ("\n" + reason),
                           Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
            }
            again = trusted && !FState.Closing() && SpeedButton1->isChecked();
            if (again)
                continue;
            SpeedButton1->setChecked(false);
            ListViewSelectItem(Lv1, Lv1->Selected() >= 0);
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
    ShowMessageCount();
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
    items->Resort();
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
    // The deletions are final (or, after a failed QUIT, past knowing): nothing to undo.
    FDeletedRows.clear();
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

// Asks, naming how many messages go and their total size, then asks the server to delete
// each checked message. The rows the server accepted leave the list on every way out (also
// after a refusal, which the handler boundary shows); they wait in FDeletedRows for an undo.
void TMain::DeleteCheckedMessages()
{
    std::vector<int> msgNos;
    long long bytes = 0;
    for (int row = 0; row < Lv2->Count(); ++row)
        if (Lv2->Checked(row) && Lv2->Data(row) != DeletedRowData) {
            msgNos.push_back(Lv2->Data(row));
            bytes += MessageList::Number(Lv2->SubItem(row, 1)).value_or(0);
        }
    if (msgNos.empty())
        return;
    const std::string question = IntToStr(static_cast<long long>(msgNos.size())) + Texts::DeleteCount +
                                 QToSjis(MessageList::SizeText(bytes)) + Texts::DeleteTotal + "\n" +
                                 Texts::DeleteUntilQuit + "\n" + Texts::AskDeleteMessages;
    if (MessageBox(question, Texts::Confirm, TMsgIcon::Question, TMsgButtons::YesNo, 0) != mrYes)
        return;
    const TMailboxState::TDeleting deleting(FState);
    struct RemoveMarked {
        TMain* Window;
        ~RemoveMarked() { Guarded([this] { Window->RemoveMarkedRows(); }); }
    } removeMarked{this};
    // Each message is found by its number when it is asked for: a header click while the
    // server answers may have sorted the rows meanwhile.
    for (int msgNo : msgNos) {
        if (FState.EndPending())
            break;
        const int row = RowOfMessage(msgNo);
        if (row < 0)
            continue;
        Lv2->SetSelected(row, true);
        Lv2->scrollToItem(Lv2->item(row, 0), QAbstractItemView::EnsureVisible);
        Lv2->viewport()->repaint();
        DeleteMailMessage(msgNo);
        Lv2->clearSelection();
    }
}

// Asks the server to delete message msgNo; an accepted deletion marks its row
// (NMPOP3Success), a refusal raises the server's reply.
void TMain::DeleteMailMessage(int msgNo)
{
    FDeletingMsgNo = msgNo;
    NMPOP3->DeleteMailMessage(msgNo);
}

// The row keeps what it was in FDeletedRows, for an undo.
void TMain::MarkMessageDeleted(int row)
{
    TDeletedRow kept{{}, Lv2->Checked(row), Lv2->Data(row)};
    for (int i = 0; i <= Lv2->SubItemCount(row); ++i)
        kept.Texts.push_back(Lv2->TextUtf8(row, i));
    FDeletedRows.push_back(std::move(kept));
    Lv2->SetSubItem(row, 1, Texts::Deleted);
    Lv2->SetData(row, DeletedRowData);
}

void TMain::RemoveMarkedRows()
{
    for (int row = Lv2->Count() - 1; row >= 0; --row)
        if (Lv2->Data(row) == DeletedRowData)
            Lv2->DeleteItem(row);
}

// Every kept row returns as it was: in the sorted place when the list is sorted, else in
// message number order (the order of a listing).
void TMain::RestoreDeletedRows()
{
    RemoveMarkedRows();
    for (const TDeletedRow& kept : FDeletedRows) {
        int row = 0;
        while (row < Lv2->Count() && Lv2->Data(row) < kept.MsgNo)
            ++row;
        row = Lv2->InsertItemUtf8(row, kept.Texts, kept.MsgNo);
        Lv2->SetChecked(row, kept.Checked);
        Lv2->setRowHidden(row, !RowMatchesFilter(row));
    }
    FDeletedRows.clear();
    Lv2->Resort();
}

// RSET: the server forgets this connection's deletions. Refused while another command
// waits; a refusal by the server raises its reply to the handler boundary.
void TMain::UndoDeletions()
{
    if (!Connected() || ComponentWaiting() || FState.DeletedCount() == 0)
        return;
    {
        const TMailboxState::TUndoing undoing(FState);
        NMPOP3->Reset();
    }
    FState.DeletionsUndone();
    RestoreDeletedRows();
    ShowMessageCount();
    UpdateUndo();
}

int TMain::RowOfMessage(int msgNo) const
{
    for (int row = 0; row < Lv2->Count(); ++row)
        if (Lv2->Data(row) == msgNo)
            return row;
    return -1;
}

int TMain::AddMessageRow(const std::string& subject, const std::string& from, long long bytes, int msgNo,
                         std::optional<long long> date)
{
    const int row = Lv2->AddItemUtf8({subject, from, IntToStr(bytes), date ? IntToStr(*date) : std::string()}, msgNo);
    if (!FilterEdit->text().isEmpty())
        Lv2->setRowHidden(row, !RowMatchesFilter(row));
    return row;
}

// ---- Component events ----

void TMain::NMPOP3Connect(TObject*)
{
    Sb->SetPanelText(0, Texts::Connected);
    Sb->SetPanelText(1, IntToStr(NMPOP3->MessageCount));
    SetCommandButtonsEnabled(true);
}

// A connection that ends without our QUIT deletes nothing (RFC 1939): the marked rows
// come back, and the user is told.
void TMain::NMPOP3Disconnect(TObject*)
{
    Sb->SetPanelText(0, "");
    Sb->SetPanelText(1, "");
    SetCommandButtonsEnabled(false);
    if (FState.Ending() || FState.DeletedCount() == 0)
        return;
    FState.DeletionsUndone();
    RestoreDeletedRows();
    if (!FState.Closing())
        MessageBox(Texts::DeletionsKept, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
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
        AddMessageRow(FieldText(s.Header.Items(), "Subject"), FieldText(s.Header.Items(), "From"), s.Bytes,
                      FListingMsgNo, MessageList::HeaderDate(s.Header.Items()));
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
    if (const int row = RowOfMessage(FDeletingMsgNo); row >= 0)
        MarkMessageDeleted(row);
    ShowMessageCount();
    UpdateUndo();
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
    // In front of the main window, also when it was opened by a click there.
    Mail->raise();
    Mail->activateWindow();
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
    if (!Connected()) {
        Mail->ShowUnavailable(Texts::Offline, Texts::ViewerOffline);
        return std::nullopt;
    }
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
    TakePartFiles(NMPOP3->MailMessage);
}

// The files the fetch wrote (exactly those) go to its viewer, which removes them and their
// folder when it closes; with that viewer gone meanwhile, they go at once.
void TMain::TakePartFiles(const TMailMessage& message)
{
    if (message.Files.empty() && message.PartFolder.empty())
        return;
    if (TMail* viewer = FRetrieveViewer.data(); viewer && viewer == Mail && !message.Files.empty()) {
        viewer->SetPartFiles(message.PartFolder, message.Files);
        return;
    }
    partfolder::RemovePartFiles(message.Files, message.PartFolder);
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

// The text is read from the message as received (its header and raw body), not from the
// component's Body; the record is left as it is, so showing it again gives the same text.
void TMain::ShowMessageText(TMail* viewer, const TMailMessage& message)
{
    const std::vector<std::string>& header = message.Header.Items();
    FillViewer(viewer, FieldText(header, "Subject"), ReadableText(message), FieldText(header, "From"));
}

// Every header line decoded on its own (a folded field shows as several lines).
void TMain::ShowMessageHeader(TMail* viewer, const TSummary& summary)
{
    viewer->ClearLines();
    const std::vector<std::string>& header = summary.Header.Items();
    FillViewer(viewer, FieldText(header, "Subject"), DecodedLines(header), FieldText(header, "From"));
}

void TMain::FillViewer(TMail* viewer, const std::string& caption, const std::string& text,
                       const std::string& sender) const
{
    viewer->SetCaptionUtf8(caption);
    viewer->SetTextUtf8(text);
    viewer->Sb->SetPanelText(0, "");
    viewer->Sb->SetPanelUtf8(1, sender);
    viewer->raise();
}

std::string TMain::ConnectFailureReason() const
{
    // Refused before the network, with the account dialog's words for the empty field.
    if (NMPOP3->CredentialsMissing)
        return Texts::FieldMissing[NMPOP3->UserID.empty() ? afUserID : afPassword];
    switch (NMPOP3->ConnectFault) {
    case TConnectFault::HostNotFound: return Texts::HostNotFound;
    case TConnectFault::Refused: return Texts::ConnectionRefused;
    case TConnectFault::TimedOut: return Texts::NoAnswer;
    case TConnectFault::Canceled: return "";
    case TConnectFault::None: break;
    }
    // Connected, then the dialogue failed: the login refused, or the server fell silent.
    if (!NMPOP3->LoginRefusal.empty())
        return Texts::LoginRefused + ("\n" + NMPOP3->LoginRefusal);
    if (NMPOP3->TimeoutFired)
        return Texts::NoAnswer;
    return "";
}
