// The main window's mailbox workflow: connecting to the selected account, listing its
// messages, deleting the checked ones, ending the connection, and the session's events.
#include "app/mailboxview/MailboxCommands.h"

#include <QAction>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <ctime>

#include "app/accounts/AccountCommands.h"
#include "app/accounts/CertificateQuestion.h"
#include "app/accounts/SignInHandling.h"
#include "app/mailboxview/MessageFilter.h"
#include "app/mailboxview/MessageModel.h"
#include "app/mailboxview/MessageView.h"
#include "app/mailboxview/RuleCommands.h"
#include "app/mailboxview/SenderPanel.h"
#include "app/main/ListView.h"
#include "app/main/MainWindow.h"
#include "app/main/MessageBox.h"
#include "app/main/Sjis.h"
#include "app/main/StatusBar.h"
#include "app/main/Texts.h"
#include "mailbox/Environment.h"
#include "mailbox/LastLook.h"
#include "mailbox/MessageList.h"
#include "mailbox/Rules.h"
#include "pop3/Nmpop3.h"
#include "runtime/SysUtils.h"

namespace {
// The progress bar and the new rows follow the listing at most this often: laying out the
// list and moving the bar for every message would take longer than fetching it.
constexpr int ShowEveryMs = 50;
}

// The server's reply to a refused token, with the status of its error challenge.
std::string TokenRefusalText(const TTokenRefusal& refusal)
{
    return refusal.Reply + (refusal.Status.empty() ? "" : " (" + refusal.Status + ")");
}

std::string ConnectFailureReason(const TMailboxSession& session)
{
    return ConnectFailureReason(session.Failure(), session.Account(),
                                session.Failure() == TConnectFailure::TokenRefused ? TokenRefusalText(session.TokenRefusal())
                                                                                   : session.LoginRefusal());
}

std::string ConnectFailureReason(TConnectFailure failure, const TAccountFields& account, const std::string& loginRefusal)
{
    switch (failure) {
    // Refused before the network, with the account dialog's words for the empty field.
    case TConnectFailure::CredentialsMissing:
        return Texts::FieldMissing[account[afUserID].empty() ? afUserID : afPassword];
    case TConnectFailure::HostNotFound: return Texts::HostNotFound;
    case TConnectFailure::Refused: return Texts::ConnectionRefused;
    case TConnectFailure::TimedOut:
    case TConnectFailure::NoAnswer: return Texts::NoAnswer;
    case TConnectFailure::LoginRefused: return Texts::LoginRefused + ("\n" + loginRefusal);
    case TConnectFailure::TokenRefused: return Texts::TokenRefused + ("\n" + loginRefusal);
    case TConnectFailure::TokenNeedsTls: return Texts::OAuthNeedsTls;
    default: return "";
    }
}

TMailboxCommands::TMailboxCommands(TMain& window) : W(window)
{
    TMailboxSession& s = W.Session;
    s.OnConnect = [this] { Guarded([this] { Connected(); }); };
    s.OnDisconnect = [this](bool kept) { Guarded([&] { Disconnected(kept); }); };
    s.OnConnectionFailed = [this] { Guarded([this] { ConnectionFailed(); }); };
    s.OnListProgress = [this](int done, int) { Guarded([&] { ListProgress(done); }); };
    s.OnDeleteStart = [this](int number) { Guarded([&] { DeleteStart(number); }); };
    s.OnDeleteEnd = [this](int, bool accepted) { Guarded([&] { DeleteEnd(accepted); }); };
}

TMailboxCommands::~TMailboxCommands()
{
    TMailboxSession& s = W.Session;
    s.OnConnect = nullptr;
    s.OnDisconnect = nullptr;
    s.OnConnectionFailed = nullptr;
    s.OnListProgress = nullptr;
    s.OnDeleteStart = nullptr;
    s.OnDeleteEnd = nullptr;
}

void TMailboxCommands::SetCommandButtonsEnabled(bool enabled)
{
    for (QPushButton* b : {W.BitBtn1, W.BitBtn2, W.BitBtn3, W.BitBtn4, W.BitBtn5})
        b->setEnabled(enabled);
    UpdateUndo();
}

void TMailboxCommands::UpdateUndo()
{
    const bool offered = W.Session.Connected() && W.Session.DeletedCount() > 0;
    W.BitBtn6->setEnabled(offered);
    W.Pm2_3->setEnabled(offered);
}

// Panel 1: the messages left on the server once the deleted ones go.
void TMailboxCommands::ShowMessageCount()
{
    W.Sb->SetPanelText(1, IntToStr(W.Session.MessageCount() - W.Session.DeletedCount()));
}

void TMailboxCommands::ConnectButtonClick()
{
    TMailboxSession& s = W.Session;
    if (!W.SpeedButton1->isChecked()) {
        s.End();
        W.ListViewSelectItem(W.Lv1, W.Lv1->Selected() >= 0);
        return;
    }
    // A second Connect on the socket of one still being made or ended would break both.
    const int row = W.Lv1->Selected();
    if (s.Connected() || s.Waiting() || row < 0) {
        W.SpeedButton1->setChecked(false);
        return;
    }
    W.Sb->SetPanelText(0, Texts::Connecting);
    if (!s.Connect(W.Accounts->AccountRow(row)))
        ShowConnectFailure();
    RetrieveMessageList();
}

// Says why (unless the window is closing, the person withdrew, or there is nothing to say)
// and returns to idle.
void TMailboxCommands::ShowConnectFailure()
{
    TMailboxSession& s = W.Session;
    const TConnectFailure failure = s.Failure();
    if (!FClosing) {
        switch (failure) {
        case TConnectFailure::NoPassword:
            // A password prompt the person canceled needs no word; a sign-in that failed does.
            if (const std::string reason = TSignInHandling::FailureText(W.SignIns.Status());
                SignsInWithOAuth(s.Account()) && !reason.empty())
                MessageBox(Texts::CouldNotConnect + ("\n" + reason), Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
            break;
        case TConnectFailure::None:
        case TConnectFailure::Busy:
        case TConnectFailure::Withdrawn:
        case TConnectFailure::Untrusted: break;
        case TConnectFailure::Tls: W.Certificates->ShowFailure(s.TlsProblem()); break;
        case TConnectFailure::TrustNotSaved: MessageBox(Texts::SaveFailed, Texts::Confirm, TMsgIcon::Stop, TMsgButtons::OK); break;
        default: {
            const std::string reason = ConnectFailureReason(s);
            MessageBox(reason.empty() ? std::string(Texts::CouldNotConnect) : Texts::CouldNotConnect + ("\n" + reason),
                       Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
        }
        }
    }
    if (s.Connected() || s.Waiting())
        return;
    W.SpeedButton1->setChecked(false);
    W.ListViewSelectItem(W.Lv1, W.Lv1->Selected() >= 0);
    W.Sb->SetPanelText(0, "");
    // A failed STAT fires OnConnect after the connection has closed: back to idle, without a
    // count for a mailbox that was never counted.
    SetCommandButtonsEnabled(false);
    W.Sb->SetPanelText(1, "");
}

void TMailboxCommands::RetrieveMessageList()
{
    TMailboxSession& s = W.Session;
    if (!s.Connected() || s.Waiting() || FClosing)
        return;
    W.Sb->SetPanelText(0, Texts::Listing);
    ShowMessageCount();
    QProgressBar* bar = W.ProgressBar();
    // A range of 0 to 0 would turn the bar into a busy indicator.
    bar->setRange(0, std::max(1, s.MessageCount()));
    bar->setValue(0);
    FSinceShown.start();
    s.List();
    W.Model->Flush();
    W.SenderPanel->Refresh();
    bar->setValue(0);
    W.Rules->ListingEnded();
    // A whole mailbox seen is the account's last look, for "全アカウントを確認".
    if (s.ListComplete())
        RememberLook(LastLookFileName(), LookAt(AccountKey(s.Account()), s.Store(), std::time(nullptr)));
    if (s.Connected()) {
        W.Sb->SetPanelText(0, Texts::Online);
    } else {
        W.Sb->SetPanelText(0, "");
        W.Sb->SetPanelText(1, "");
    }
}

void TMailboxCommands::ListProgress(int done)
{
    if (FSinceShown.elapsed() < ShowEveryMs)
        return;
    W.ProgressBar()->setValue(done);
    W.Model->Flush();
    FSinceShown.restart();
}

// The shown rows in the order shown, then the checked rows the filter hides: the question
// names every message that goes.
void TMailboxCommands::DeleteCheckedMessages()
{
    const TMessageStore& store = W.Session.Store();
    std::vector<int> numbers;
    long long bytes = 0;
    const auto take = [&](const TMessageRecord& r) {
        if (!r.Checked || r.Deleted)
            return;
        numbers.push_back(r.Number);
        bytes += std::max(0LL, r.Size);
    };
    W.Model->Flush();
    for (int row = 0; row < W.Lv2->Count(); ++row)
        take(W.Lv2->Record(row));
    for (int row = 0; row < store.Count(); ++row)
        if (!W.Filter->ShowsRow(row))
            take(store.At(row));
    if (numbers.empty())
        return;
    const std::string question = IntToStr(static_cast<long long>(numbers.size())) + Texts::DeleteCount +
                                 QToSjis(MessageList::SizeText(bytes)) + Texts::DeleteTotal + "\n" +
                                 Texts::DeleteUntilQuit + "\n" + Texts::AskDeleteMessages;
    if (MessageBox(question, Texts::Confirm, TMsgIcon::Question, TMsgButtons::YesNo, 0) != mrYes)
        return;
    W.Session.Delete(numbers);
}

void TMailboxCommands::DeleteStart(int number)
{
    if (const int row = W.Lv2->RowOf(number); row >= 0)
        W.Lv2->ShowRow(row);
}

void TMailboxCommands::DeleteEnd(bool accepted)
{
    W.Lv2->clearSelection();
    if (!accepted)
        return;
    ShowMessageCount();
    UpdateUndo();
}

void TMailboxCommands::UndoDeletions()
{
    W.Session.Undo();
    if (!W.Session.Connected())
        return;
    ShowMessageCount();
    UpdateUndo();
}

void TMailboxCommands::Close()
{
    FClosing = true;
    W.Session.Stop();
    // Nothing is committed yet while the connection is being made: the closed program does
    // not wait for it.
    if (W.Session.State() == TSessionState::Connecting)
        W.Session.Abort();
}

void TMailboxCommands::Destroy()
{
    TMailboxSession& s = W.Session;
    if (!s.Connected())
        return;
    s.Stop();
    s.End();
    // Destroyed while a command still waited (never by the program itself): nothing can wait
    // for it any more.
    if (s.EndPending())
        s.Abort();
}

// ---- The session's events ----

void TMailboxCommands::Connected()
{
    W.Sb->SetPanelText(0, Texts::Connected);
    W.Sb->SetPanelText(1, IntToStr(W.Session.MessageCount()));
    SetCommandButtonsEnabled(true);
}

// A connection that ends without our QUIT deletes nothing: the session has brought the
// records back, and the person is told.
void TMailboxCommands::Disconnected(bool deletionsKept)
{
    W.Sb->SetPanelText(0, "");
    W.Sb->SetPanelText(1, "");
    SetCommandButtonsEnabled(false);
    if (deletionsKept && !FClosing)
        MessageBox(Texts::DeletionsKept, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
}

void TMailboxCommands::ConnectionFailed()
{
    if (!FClosing)
        MessageBox(Texts::CannotConnect, Texts::Confirm, TMsgIcon::Exclamation, TMsgButtons::OK);
}
