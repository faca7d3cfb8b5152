#include "mailbox/MailboxSession.h"

#include <algorithm>
#include <climits>

#include "mailbox/Environment.h"
#include "mailbox/ShownText.h"
#include "mailbox/TrustFile.h"
#include "pop3/Nmpop3.h"
#include "runtime/SysUtils.h"

namespace {
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

TTlsMode TlsModeOf(TAccountSecurity security)
{
    switch (security) {
    case TAccountSecurity::Tls: return TTlsMode::Implicit;
    case TAccountSecurity::StartTls: return TTlsMode::StartTls;
    case TAccountSecurity::None: break;
    }
    return TTlsMode::None;
}
}

TMailboxSession::TMailboxSession(TCredentialSource& credentials)
    : FOwner(std::make_unique<TComponent>(nullptr)), FCredentials(credentials)
{
    FPop = new TNMPOP3(FOwner.get());
    FPop->Name = "NMPOP3";
    FPop->Port = 110;
    FPop->ReportLevel = 0;
    FPop->Parse = false;
    FPop->DeleteOnRead = false;
    BindComponent();
}

TMailboxSession::~TMailboxSession()
{
    // Nothing of the component reaches the session from here on.
    FPop->OnConnect = nullptr;
    FPop->OnDisconnect = nullptr;
    FPop->OnConnectionFailed = nullptr;
    FPop->OnRetrieveEnd = nullptr;
    FPop->OnSuccess = nullptr;
    FPop->OnDecodeStart = nullptr;
    FOwner.reset();
}

void TMailboxSession::BindComponent()
{
    FPop->OnConnect = [this](TObject*) {
        if (OnConnect)
            OnConnect();
    };
    FPop->OnDisconnect = [this](TObject*) { Disconnected(); };
    // A failed secure connection is told by Connect's failure alone.
    FPop->OnConnectionFailed = [this](TObject*) {
        if (FPop->TlsProblem() == TTlsProblem::None && OnConnectionFailed)
            OnConnectionFailed();
    };
    FPop->OnRetrieveEnd = [this](TObject*) { RetrieveEnd(); };
    FPop->OnSuccess = [this](TObject*) { Deleted(); };
    // Attachments are not saved under a name of their own.
    FPop->OnDecodeStart = [](std::string& fileName) { fileName.clear(); };
}

bool TMailboxSession::Connected() const { return FPop->Connected; }

bool TMailboxSession::Waiting() const
{
    return (FState != TSessionState::Idle && FState != TSessionState::Connected) || FPop->Busy();
}

int TMailboxSession::MessageCount() const { return FPop->MessageCount; }

TTlsProblem TMailboxSession::TlsProblem() const { return FPop->TlsProblem(); }

std::string TMailboxSession::LoginRefusal() const { return FPop->LoginRefusal; }

const TTokenRefusal& TMailboxSession::TokenRefusal() const { return FPop->TokenRefusal; }

template <class F>
void TMailboxSession::RunCommand(TSessionState state, F&& command)
{
    FState = state;
    try {
        command();
    } catch (...) {
        FinishCommand();
        throw;
    }
    FinishCommand();
}

// Back to Connected (or Idle when the connection went); an end that waited for the command
// runs now.
void TMailboxSession::FinishCommand()
{
    FRetrieve = TRetrieve::ListRow;
    FState = Connected() ? TSessionState::Connected : TSessionState::Idle;
    if (!FEndPending)
        return;
    FEndPending = false;
    End();
}

// ---- Connecting ----

bool TMailboxSession::Connect(const TAccountFields& account)
{
    if (Connected() || Waiting()) {
        FFailure = TConnectFailure::Busy;
        return false;
    }
    FFailure = TConnectFailure::None;
    FAccount = account;
    FState = TSessionState::Connecting;
    FCanceled = false;
    FEndPending = false;
    FDeletedCount = 0;
    FDeletedNumbers.clear();
    bool connected = false;
    // Looking the password up may wait (the keyring, a prompt): other handlers run meanwhile.
    TCredential credential;
    bool renewed = false;
    // A token never travels in clear: an account that would send one so is not even signed in.
    if (SignsInWithOAuth(account) && AccountSecurity(account) == TAccountSecurity::None)
        FFailure = TConnectFailure::TokenNeedsTls;
    else if (FCredentials.Find(account, credential) != TCredentialResult::Found)
        FFailure = FCanceled ? TConnectFailure::Withdrawn : TConnectFailure::NoPassword;
    else if (FCanceled)
        FFailure = TConnectFailure::Withdrawn;
    else {
        Configure(account, credential.Kept);
        // A certificate the owner trusts at the failure is accepted on a second try, and a
        // refused token is renewed once.
        for (bool again = true; again && !connected;) {
            UseCredential(credential);   // a failed attempt has wiped one not kept
            PrepareTls(account);
            try {
                FPop->Connect();
                connected = true;
                FFailure = TConnectFailure::None;
                RememberVerifiedServer(account);
            } catch (...) {
                again = ReadFailure(account) || RenewToken(account, credential, renewed);
            }
        }
    }
    WipeString(credential.Password);
    FState = Connected() ? TSessionState::Connected : TSessionState::Idle;
    return connected;
}

void TMailboxSession::UseCredential(const TCredential& credential)
{
    const bool token = credential.Origin == TCredential::TOrigin::Token;
    FPop->Password = token ? std::string() : credential.Password;
    FPop->AccessToken = token ? credential.Password : std::string();
}

// After a refused token: true to try again with a fresh one (once).
bool TMailboxSession::RenewToken(const TAccountFields& account, TCredential& credential, bool& renewed)
{
    if (FFailure != TConnectFailure::TokenRefused || renewed || FCanceled)
        return false;
    renewed = true;
    FCredentials.Rejected(account);
    WipeString(credential.Password);
    if (FCredentials.Find(account, credential) == TCredentialResult::Found && !FCanceled)
        return true;
    FFailure = FCanceled ? TConnectFailure::Withdrawn : TConnectFailure::NoPassword;
    return false;
}

void TMailboxSession::Configure(const TAccountFields& account, bool keepPassword)
{
    FPop->UserID = account[afUserID];
    FPop->KeepPassword = keepPassword;
    FPop->Host = account[afServer];
    FPop->TimeOut = TimeOutMilliseconds(account[afTimeOut]);
    FPop->Port = StrToIntDef(account[afPort], 110);
}

// The component's TLS mode from the account, and the fingerprint trusted for its server.
void TMailboxSession::PrepareTls(const TAccountFields& account)
{
    FPop->TlsMode = TlsModeOf(AccountSecurity(account));
    FPop->TrustedFingerprints.clear();
    const std::string trusted = TrustedFingerprint(LoadTrustFile(TrustFileName()), account[afServer], account[afPort]);
    if (!trusted.empty())
        FPop->TrustedFingerprints.push_back(trusted);
}

// Once a secure connection is in: a server the system vouched for is noted.
void TMailboxSession::RememberVerifiedServer(const TAccountFields& account)
{
    if (FPop->TlsMode != TTlsMode::None && FPop->Connected)
        ::RememberVerifiedServer(TrustFileName(), account[afServer], account[afPort]);
}

bool TMailboxSession::ReadFailure(const TAccountFields& account)
{
    if (FPop->CredentialsMissing || FPop->TokenNeedsTls) {
        FFailure = FPop->TokenNeedsTls ? TConnectFailure::TokenNeedsTls : TConnectFailure::CredentialsMissing;
        return false;
    }
    const TTlsProblem problem = FPop->TlsProblem();
    if (problem != TTlsProblem::None) {
        if (FCanceled || !IsCertificateProblem(problem) || FPop->PeerFingerprint().empty()) {
            FFailure = TConnectFailure::Tls;
            return false;
        }
        return AskTrust(account);
    }
    switch (FPop->ConnectFault) {
    case TConnectFault::HostNotFound: FFailure = TConnectFailure::HostNotFound; return false;
    case TConnectFault::Refused: FFailure = TConnectFailure::Refused; return false;
    case TConnectFault::TimedOut: FFailure = TConnectFailure::TimedOut; return false;
    case TConnectFault::Canceled: FFailure = TConnectFailure::Canceled; return false;
    case TConnectFault::None: break;
    }
    // Connected, then the dialogue failed: the login refused, or the server fell silent.
    if (FCanceled)
        FFailure = TConnectFailure::Canceled;
    else if (FPop->TokenRefusal.Refused)
        FFailure = TConnectFailure::TokenRefused;
    else if (!FPop->LoginRefusal.empty())
        FFailure = TConnectFailure::LoginRefused;
    else if (FPop->TimeoutFired)
        FFailure = TConnectFailure::NoAnswer;
    else
        FFailure = TConnectFailure::Other;
    return false;
}

// A certificate the system does not vouch for: the owner's answer, kept in "Trusted.lst".
bool TMailboxSession::AskTrust(const TAccountFields& account)
{
    TTrustQuestion question{account[afServer], account[afPort], FPop->TlsProblem(), FPop->TlsProblems(),
                            FPop->PeerCertificate(), FPop->PeerFingerprint(), false};
    if (question.Problems.empty())
        question.Problems.push_back(question.Problem);
    std::vector<TTrustedCertificate> list = LoadTrustFile(TrustFileName());
    // A server that showed another certificate before, trusted by the owner or by the system:
    // someone may be in between.
    question.Changed = KnownServer(list, question.Host, question.Port);
    FFailure = TConnectFailure::Untrusted;
    if (!OnTrustCertificate || !OnTrustCertificate(question))
        return false;
    Trust(list, question.Host, question.Port, question.Fingerprint);
    try {
        SaveTrustFile(TrustFileName(), list);
    } catch (const std::exception&) {
        FFailure = TConnectFailure::TrustNotSaved;
        return false;
    }
    // Ended while the owner was asked: trusted, but not tried again.
    FFailure = TConnectFailure::Withdrawn;
    return !FCanceled;
}

// ---- Commands ----

void TMailboxSession::List()
{
    if (!Connected() || Waiting())
        return;
    RunCommand(TSessionState::Listing, [this] {
        FStore.Clear();
        FStopRequested = false;
        FListComplete = false;
        for (int i = 0; !FStopRequested && i < FPop->MessageCount; ++i) {
            if (!Connected())
                break;
            FListingNumber = i + 1;
            FRetrieve = TRetrieve::ListRow;
            try {
                FPop->GetSummary(i + 1);
            } catch (...) {
                // The message gets no record; a lost connection ends the loop at its next pass.
            }
            if (OnListProgress)
                OnListProgress(i + 1, FPop->MessageCount);
        }
        FListComplete = !FStopRequested && Connected();
        FStopRequested = false;
    });
}

int TMailboxSession::Delete(const std::vector<int>& numbers)
{
    if (Waiting())
        return 0;
    int accepted = 0;
    RunCommand(TSessionState::Deleting, [&] {
        for (int number : numbers) {
            if (FEndPending)
                break;
            const int row = FStore.RowOf(number);
            if (row < 0 || FStore.At(row).Deleted)
                continue;
            if (OnDeleteStart)
                OnDeleteStart(number);
            FDeletingNumber = number;
            FAccepted = false;
            FPop->DeleteMailMessage(number);
            accepted += FAccepted;
            if (OnDeleteEnd)
                OnDeleteEnd(number, FAccepted);
        }
    });
    return accepted;
}

// The component's OnSuccess: the server accepted the DELE.
void TMailboxSession::Deleted()
{
    FAccepted = true;
    ++FDeletedCount;
    FDeletedNumbers.push_back(FDeletingNumber);
    if (const int row = FStore.RowOf(FDeletingNumber); row >= 0)
        FStore.SetDeleted(row, true);
}

void TMailboxSession::RestoreDeleted()
{
    for (int number : FDeletedNumbers)
        if (const int row = FStore.RowOf(number); row >= 0)
            FStore.SetDeleted(row, false);
    FDeletedNumbers.clear();
}

void TMailboxSession::Undo()
{
    if (!Connected() || Waiting() || FDeletedCount == 0)
        return;
    // The component is not busy during RSET: the state keeps other commands away.
    RunCommand(TSessionState::Undoing, [this] {
        FPop->Reset();
        FDeletedCount = 0;
        RestoreDeleted();
    });
}

// While a command waits further down the stack a QUIT would be read as that command's reply,
// so then either the command is cancelled at once (nothing to commit) or the end waits until
// it is done.
void TMailboxSession::End()
{
    if (Waiting()) {
        FStopRequested = true;
        if (FState == TSessionState::Ending)
            return;   // the QUIT is on its way already
        if (FState == TSessionState::Connecting) {
            FCanceled = true;
            FCredentials.Cancel();
        } else if (FDeletedCount > 0 || FState == TSessionState::Deleting) {
            FEndPending = true;
            return;
        }
        Abort();
        return;
    }
    FState = TSessionState::Ending;
    try {
        if (FPop->Connected)
            FPop->Disconnect();
    } catch (...) {
        // The component has closed the connection anyway; a failed QUIT changes nothing here.
    }
    FState = TSessionState::Idle;
    // The deletions are final (or, after a failed QUIT, past knowing): nothing to undo.
    FDeletedCount = 0;
    FDeletedNumbers.clear();
    Abort();
}

void TMailboxSession::Abort()
{
    if (FState == TSessionState::Connecting) {
        FCanceled = true;
        FCredentials.Cancel();   // a sign-in that waits for the browser
    }
    try {
        FPop->Abort();
    } catch (...) {
    }
}

// A connection that ends without our QUIT deletes nothing (RFC 1939): the records come back.
void TMailboxSession::Disconnected()
{
    if (FState == TSessionState::Connected)
        FState = TSessionState::Idle;
    const bool kept = FState != TSessionState::Ending && FDeletedCount > 0;
    if (kept) {
        FDeletedCount = 0;
        RestoreDeleted();
    }
    if (OnDisconnect)
        OnDisconnect(kept);
}

// ---- Fetches ----

void TMailboxSession::RetrieveEnd()
{
    const TRetrieve retrieve = FRetrieve;
    FRetrieve = TRetrieve::ListRow;
    switch (retrieve) {
    case TRetrieve::ListRow: {
        TMessageRecord record;
        record.Number = FListingNumber;
        record.Size = FPop->Summary.Bytes;
        ReadHeader(record, FPop->Summary.Header.Items());
        FStore.Append(std::move(record));
        break;
    }
    case TRetrieve::Text: {
        // The text is read from the message as received (its header and raw body).
        const TMailMessage& message = FPop->MailMessage;
        const std::vector<std::string>& header = message.Header.Items();
        FText = TFetchedText{TFetchedText::TResult::Delivered, FieldText(header, "Subject"), FieldText(header, "From"),
                             ReadableText(message), {}, {}};
        break;
    }
    case TRetrieve::Header: {
        const std::vector<std::string>& header = FPop->Summary.Header.Items();
        FHeader = TFetchedHeader{FieldText(header, "Subject"), FieldText(header, "From"), DecodedLines(header)};
        break;
    }
    }
}

TFetchedText TMailboxSession::FetchText(int number)
{
    TFetchedText result;
    if (!Connected() || Waiting()) {
        result.Result = Connected() ? TFetchedText::TResult::Busy : TFetchedText::TResult::NotConnected;
        return result;
    }
    FText.reset();
    RunCommand(TSessionState::Fetching, [&] {
        // A refused RETR leaves the record alone: it must not show the previous message.
        FPop->MailMessage.Clear();
        FRetrieve = TRetrieve::Text;
        try {
            FPop->GetMailMessage(number);
        } catch (...) {
            // Not reported: what the component delivered (if anything) is the answer.
        }
    });
    if (FText)
        result = std::move(*FText);
    FText.reset();
    // Exactly the files this retrieval wrote, delivered or not.
    result.PartFolder = FPop->MailMessage.PartFolder;
    result.PartFiles = FPop->MailMessage.Files;
    return result;
}

std::optional<TFetchedHeader> TMailboxSession::FetchHeader(int number)
{
    if (!Connected() || Waiting())
        return std::nullopt;
    FHeader.reset();
    RunCommand(TSessionState::Fetching, [&] {
        FRetrieve = TRetrieve::Header;
        FPop->GetSummary(number);
    });
    std::optional<TFetchedHeader> header = std::move(FHeader);
    FHeader.reset();
    return header;
}
