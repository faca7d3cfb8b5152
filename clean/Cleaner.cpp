#include "clean/Cleaner.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStringEncoder>
#include <ostream>
#include <sysexits.h>

#include "clean/CleanOptions.h"
#include "clean/Report.h"
#include "mailbox/Environment.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/RulesFile.h"
#include "mime/Charset.h"
#include "platform/Window.h"
#include "pop3/Nmpop3.h"
#include "runtime/Exception.h"
#include "runtime/SysUtils.h"

namespace {

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }

TText TlsProblemText(TTlsProblem problem)
{
    switch (problem) {
    case TTlsProblem::CertificateSelfSigned: return TText::TlsSelfSigned;
    case TTlsProblem::CertificateExpired: return TText::TlsExpired;
    case TTlsProblem::CertificateNotYetValid: return TText::TlsNotYetValid;
    case TTlsProblem::HostMismatch: return TText::TlsHostMismatch;
    case TTlsProblem::ProtocolTooOld: return TText::TlsTooOld;
    case TTlsProblem::StlsNotOffered: return TText::TlsNoStls;
    case TTlsProblem::StlsRefused: return TText::TlsStlsRefused;
    case TTlsProblem::StlsInjected: return TText::TlsInjected;
    case TTlsProblem::CertificateUntrusted: return TText::TlsUntrusted;
    case TTlsProblem::HandshakeFailed:
    case TTlsProblem::None: break;
    }
    return TText::TlsHandshake;
}

TText KeyringText(TKeyringResult result)
{
    switch (result) {
    case TKeyringResult::NotFound: return TText::KeyringNoEntry;
    case TKeyringResult::Refused: return TText::KeyringLocked;
    case TKeyringResult::Failed: return TText::KeyringFailed;
    case TKeyringResult::TimedOut: return TText::KeyringTimedOut;
    case TKeyringResult::NoKeyring:
    case TKeyringResult::Ok: break;
    }
    return TText::KeyringNone;
}

// A password typed at the terminal, as the account file would keep it.
std::string TypedToSjis(const std::string& utf8)
{
    QStringEncoder encoder("windows-31j");
    const QByteArray bytes = encoder.encode(QString::fromStdString(utf8));
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

class TCleaner {
public:
    TCleaner(const TCleanOptions& options, TCleanIo& io);
    int Run();

private:
    std::string Say(TText text, const std::vector<QString>& args = {}) const { return ::Say(FIo.Language, text, args); }
    void Fail(TText text, const std::vector<QString>& args = {});
    QString Server() const;
    int FindAccount();
    int LoadRules();
    int Connect();
    int ConnectFailure();
    void PrintList();
    void PrintStats();
    int Delete();
    int Commit(const std::vector<int>& numbers);

    const TCleanOptions& FOptions;
    TCleanIo& FIo;
    TProgressLine FProgress;
    TAccountFields FAccount;
    TKeyring FKeyring;
    TPasswordLookup FPasswords{&FKeyring};
    TMailboxSession FSession{FPasswords};
    TKeyringResult FKeyringAnswer = TKeyringResult::NoKeyring;
    std::optional<TTrustQuestion> FQuestion;   // the certificate not trusted
    std::optional<TRuleMatcher> FRules;        // --rules
    bool FLostWithDeletions = false;           // the connection ended without QUIT while deletions waited
};

TCleaner::TCleaner(const TCleanOptions& options, TCleanIo& io)
    : FOptions(options), FIo(io), FProgress(io.Err, io.ShowProgress)
{
    FPasswords.OnAsk = [this](const TAccountFields& account, TKeyringResult keyring, TCredential& credential) {
        FKeyringAnswer = keyring;
        if (!FIo.AskSecret)
            return TCredentialResult::Missing;
        std::optional<std::string> typed = FIo.AskSecret(
            Say(TText::PasswordPrompt, {Q(mime::SjisToUtf8(account[afName])), Q(account[afUserID]) + '@' + Server()}));
        if (!typed || typed->empty())
            return TCredentialResult::Missing;
        credential.Password = TypedToSjis(*typed);
        WipeString(*typed);
        return TCredentialResult::Found;
    };
    // Certificates are looked at and trusted in the window; here the question is only kept.
    FSession.OnTrustCertificate = [this](const TTrustQuestion& question) {
        FQuestion = question;
        return false;
    };
    FSession.OnDisconnect = [this](bool deletionsKept) { FLostWithDeletions |= deletionsKept; };
    FSession.OnListProgress = [this](int done, int total) {
        FProgress.Show(Say(TText::ProgressList, {QString::number(done), QString::number(total)}), done == total);
    };
}

void TCleaner::Fail(TText text, const std::vector<QString>& args)
{
    FProgress.Clear();
    FIo.Err << "purgel-clean: " << Say(text, args) << std::endl;
}

QString TCleaner::Server() const { return Q(FAccount[afServer]) + ':' + Q(FAccount[afPort]); }

int TCleaner::Run()
{
    if (const int status = FindAccount())
        return status;
    if (const int status = LoadRules())
        return status;
    if (const int status = Connect())
        return status;
    FSession.List();
    FProgress.Clear();
    if (!FSession.Connected()) {
        Fail(TText::ListLost, {Server()});
        return EX_TEMPFAIL;
    }
    if (FOptions.Command == TCleanCommand::Delete)
        return Delete();
    if (FOptions.Command == TCleanCommand::Stats)
        PrintStats();
    else
        PrintList();
    FSession.End();
    return EX_OK;
}

// The one account of that name; its fields must make a connection worth trying.
int TCleaner::FindAccount()
{
    const std::string file = FOptions.AccountsFile.empty() ? AccountFileName() : FOptions.AccountsFile;
    std::vector<TAccountFields> accounts;
    // A file named on the command line must be there; the user's own may be missing (no accounts yet).
    if (!LoadAccountFile(file, accounts) || (!FOptions.AccountsFile.empty() && !FileExists(file))) {
        Fail(TText::AccountFileUnreadable, {Q(file)});
        return EX_CONFIG;
    }
    int found = 0;
    for (const TAccountFields& account : accounts)
        if (mime::SjisToUtf8(account[afName]) == FOptions.Account && found++ == 0)
            FAccount = account;
    if (found != 1) {
        if (found == 0)
            Fail(TText::NoSuchAccount, {Q(FOptions.Account), Q(file)});
        else
            Fail(TText::SameNamedAccounts, {QString::number(found), Q(FOptions.Account), Q(file)});
        return EX_NOUSER;
    }
    // An unknown security would connect in plain text: never so without a window to say it.
    std::optional<QString> damage;
    if (Trim(FAccount[afServer]).empty())
        damage = Q(Say(TText::DamageNoServer));
    else if (FAccount[afUserID].empty())
        damage = Q(Say(TText::DamageNoUser));
    else if (!FAccount[afSecurity].empty() && AccountSecurity(FAccount) == TAccountSecurity::None)
        damage = Q(Say(TText::DamageSecurity, {Q(mime::SjisToUtf8(FAccount[afSecurity]))}));
    if (damage) {
        Fail(TText::AccountDamaged, {Q(FOptions.Account), Q(file), *damage});
        return EX_CONFIG;
    }
    return EX_OK;
}

// With --rules, the account's rules, from "Rules.lst" beside the account file read; a line
// that cannot be read might be a friend rule, so nothing is deleted by a file that has one.
int TCleaner::LoadRules()
{
    if (!FOptions.Conditions.Rules)
        return EX_OK;
    const std::string file = FOptions.AccountsFile.empty()
                                 ? RulesFileName()
                                 : QFileInfo(Q(FOptions.AccountsFile)).dir().filePath(QStringLiteral("Rules.lst")).toStdString();
    TRulesFileContent content;
    if (!LoadRulesFile(file, content)) {
        Fail(TText::RulesUnreadable, {Q(file)});
        return EX_CONFIG;
    }
    if (!content.Unread.empty()) {
        QStringList lines;
        for (const TUnreadRuleLine& line : content.Unread)
            lines << QString::number(line.Line);
        Fail(TText::RulesDamaged, {Q(file), lines.join(QLatin1String(", "))});
        return EX_CONFIG;
    }
    FRules.emplace(content.Rules, AccountKey(FAccount), QDateTime::currentSecsSinceEpoch());
    return EX_OK;
}

int TCleaner::Connect()
{
    if (FSession.Connect(FAccount))
        return EX_OK;
    return ConnectFailure();
}

int TCleaner::ConnectFailure()
{
    switch (FSession.Failure()) {
    case TConnectFailure::NoPassword:
    case TConnectFailure::CredentialsMissing:
        Fail(TText::NoPassword, {Q(FOptions.Account), Q(Say(KeyringText(FKeyringAnswer)))});
        return EX_NOPERM;
    case TConnectFailure::LoginRefused:
        Fail(TText::LoginRefused, {Server(), Q(PrintableText(mime::GuessedText(FSession.LoginRefusal())))});
        return EX_NOPERM;
    case TConnectFailure::TokenRefused:
        Fail(TText::SignInRefused, {Server(), Q(FOptions.Account)});
        return EX_NOPERM;
    case TConnectFailure::TokenNeedsTls:
        Fail(TText::AccountDamaged, {Q(FOptions.Account), Q(FOptions.AccountsFile.empty() ? AccountFileName() : FOptions.AccountsFile),
                                     Q(Say(TText::DamageTokenNeedsTls))});
        return EX_CONFIG;
    case TConnectFailure::HostNotFound: Fail(TText::HostNotFound, {Server()}); return EX_UNAVAILABLE;
    case TConnectFailure::Refused: Fail(TText::Refused, {Server()}); return EX_UNAVAILABLE;
    case TConnectFailure::TimedOut:
    case TConnectFailure::NoAnswer:
        Fail(TText::TimedOut, {Server(), QString::number(FSession.Pop3().TimeOut / 1000)});
        return EX_TEMPFAIL;
    case TConnectFailure::Untrusted:
    case TConnectFailure::TrustNotSaved:
        if (FQuestion) {
            Fail(FQuestion->Changed ? TText::UntrustedChanged : TText::Untrusted,
                 {Server(), Q(Say(TlsProblemText(FQuestion->Problem)))});
            return EX_UNAVAILABLE;
        }
        [[fallthrough]];
    case TConnectFailure::Tls:
        Fail(TText::TlsFailed, {Server(), Q(Say(TlsProblemText(FSession.TlsProblem())))});
        return EX_UNAVAILABLE;
    case TConnectFailure::Canceled:
    case TConnectFailure::Withdrawn:
    case TConnectFailure::Busy:
    case TConnectFailure::Other:
    case TConnectFailure::None: break;
    }
    Fail(TText::DialogueBroken, {Server()});
    return EX_UNAVAILABLE;
}

void TCleaner::PrintList()
{
    const TMessageStore& store = FSession.Store();
    std::vector<const TMessageRecord*> records;
    for (int row = 0; row < store.Count(); ++row)
        records.push_back(&store.At(row));
    if (FOptions.Json) {
        FIo.Out << MessagesJson(records);
        return;
    }
    for (const TMessageRecord* r : records)
        FIo.Out << MessageLine(*r) << '\n';
    FIo.Out << std::flush;
}

void TCleaner::PrintStats()
{
    TSenderGrouping grouping(FSession.Store());
    if (FOptions.Json) {
        FIo.Out << GroupsJson(grouping, FOptions.By);
        return;
    }
    for (const int group : grouping.BySize(FOptions.By))
        FIo.Out << GroupLine(grouping, FOptions.By, group) << '\n';
    FIo.Out << std::flush;
}

int TCleaner::Delete()
{
    const TMessageStore& store = FSession.Store();
    const long long now = QDateTime::currentSecsSinceEpoch();
    std::vector<const TMessageRecord*> chosen;
    std::vector<int> numbers;
    for (int row = 0; row < store.Count(); ++row)
        if (Meets(FOptions.Conditions, FRules ? &*FRules : nullptr, store.At(row), now)) {
            chosen.push_back(&store.At(row));
            numbers.push_back(store.At(row).Number);
        }
    if (!FOptions.DryRun)
        return Commit(numbers);
    for (const TMessageRecord* r : chosen)
        FIo.Out << MessageLine(*r) << '\n';
    FIo.Out << Say(TText::WouldDelete, {QString::number(chosen.size()), Q(TotalSizeText(chosen))}) << std::endl;
    FSession.End();
    return EX_OK;
}

// DELE for each number, then QUIT; what the server confirmed is printed.
int TCleaner::Commit(const std::vector<int>& numbers)
{
    int started = 0, current = 0;
    FSession.OnDeleteStart = [&](int number) {
        current = number;
        FProgress.Show(Say(TText::ProgressDelete, {QString::number(++started), QString::number(numbers.size())}),
                       started == static_cast<int>(numbers.size()));
    };
    std::optional<std::string> refusal;
    try {
        FSession.Delete(numbers);
    } catch (const std::exception& e) {
        // With the connection still there, the server refused this one message.
        refusal = PrintableText(mime::GuessedText(e.what()));
    }
    FSession.OnDeleteStart = nullptr;
    FProgress.Clear();
    // A close the server sent after its last reply is seen before QUIT goes out: then it is
    // certain that nothing was deleted.
    platform::ProcessMessages();
    const bool pending = FSession.DeletedCount() > 0;
    if (FSession.Connected())
        FSession.End();
    if (!FSession.QuitConfirmed()) {
        // Certain when nothing waited or the connection went before QUIT (RFC 1939).
        if (FLostWithDeletions || !pending)
            Fail(TText::DeleteLost, {Server()});
        else
            Fail(TText::QuitUnconfirmed, {Server()});
        return EX_TEMPFAIL;
    }
    const TMessageStore& store = FSession.Store();
    std::vector<const TMessageRecord*> deleted;
    for (int row = 0; row < store.Count(); ++row)
        if (store.At(row).Deleted) {
            deleted.push_back(&store.At(row));
            FIo.Out << MessageLine(store.At(row)) << '\n';
        }
    FIo.Out << Say(TText::Deleted, {QString::number(deleted.size()), Q(TotalSizeText(deleted))}) << std::endl;
    if (refusal) {
        Fail(TText::DeleteRefused, {Server(), QString::number(current), Q(*refusal)});
        return EX_UNAVAILABLE;
    }
    return EX_OK;
}

}  // namespace

int RunClean(const std::vector<std::string>& args, TCleanIo& io)
{
    const TParsedCommandLine parsed = ParseCommandLine(args);
    if (parsed.Error) {
        std::vector<QString> texts;
        for (const std::string& arg : parsed.Error->Args)
            texts.push_back(Q(arg));
        if (parsed.Error->Text != TText::Usage)
            io.Err << "purgel-clean: " << Say(io.Language, parsed.Error->Text, texts) << '\n';
        io.Err << Say(io.Language, TText::Usage) << std::endl;
        return EX_USAGE;
    }
    switch (parsed.Options.Command) {
    case TCleanCommand::Help:
        for (const std::string& line : HelpLines(io.Language, Q(AppFolder())))
            io.Out << line << '\n';
        io.Out << std::flush;
        return EX_OK;
    case TCleanCommand::Version: io.Out << "purgel-clean " PURGEL_VERSION << std::endl; return EX_OK;
    case TCleanCommand::List:
    case TCleanCommand::Stats:
    case TCleanCommand::Delete: break;
    }
    return TCleaner(parsed.Options, io).Run();
}
