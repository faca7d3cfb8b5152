#include "mailbox/Keyring.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <algorithm>
#include <dlfcn.h>
#include <limits>
#include <memory>
#include <vector>
#include <qt6keychain/keychain.h>

#include "mime/Charset.h"
#include "mailbox/PumpWait.h"

namespace {

using mailbox::Clock;
using mailbox::MillisecondsLeft;
using mailbox::WaitInPump;

// The bus names a keyring QtKeychain can use answers under: the Secret Service (GNOME
// Keyring, KeePassXC, recent KWallet) and KWallet's own.
constexpr const char* KeyringBusNames[] = {"org.freedesktop.secrets", "org.kde.kwalletd6", "org.kde.kwalletd5"};

// Ok when a keyring owns its name on the session bus or the bus can start one (the
// keyring call then starts it); NoKeyring when there is no bus or no keyring on it. Only
// the bus daemon is asked, so this is quick.
TKeyringResult ReachKeyring(Clock::time_point deadline)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return TKeyringResult::NoKeyring;
    std::vector<std::unique_ptr<QDBusPendingCallWatcher>> lists;
    for (const char* method : {"ListNames", "ListActivatableNames"}) {
        QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                           "org.freedesktop.DBus", method);
        lists.push_back(std::make_unique<QDBusPendingCallWatcher>(bus.asyncCall(call, MillisecondsLeft(deadline))));
    }
    // The watchers' own events on the answers are what wake the pump.
    auto answered = [&] { return lists[0]->isFinished() && lists[1]->isFinished(); };
    if (!WaitInPump(answered, deadline))
        return TKeyringResult::TimedOut;
    for (const auto& list : lists) {
        QStringList names = QDBusPendingReply<QStringList>(*list).value();
        for (const char* name : KeyringBusNames)
            if (names.contains(QLatin1String(name)))
                return TKeyringResult::Ok;
    }
    return TKeyringResult::NoKeyring;
}

// True when the Secret Service's default collection is locked. libsecret answers "not
// found" for entries of a locked collection it could not unlock, and a plain error for
// writes into one; this flag tells that apart from a missing entry or a broken keyring.
bool DefaultCollectionLocked(Clock::time_point deadline)
{
    QDBusMessage call = QDBusMessage::createMethodCall(KeyringBusNames[0], "/org/freedesktop/secrets/aliases/default",
                                                       "org.freedesktop.DBus.Properties", "Get");
    call << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    QDBusPendingCallWatcher watcher(QDBusConnection::sessionBus().asyncCall(call, MillisecondsLeft(deadline)));
    if (!WaitInPump([&] { return watcher.isFinished(); }, deadline))
        return false;
    QDBusPendingReply<QDBusVariant> reply(watcher);
    return reply.isValid() && reply.value().variant().toBool();
}

TKeyringResult ResultOf(QKeychain::Error error)
{
    switch (error) {
    case QKeychain::NoError: return TKeyringResult::Ok;
    case QKeychain::EntryNotFound: return TKeyringResult::NotFound;
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser: return TKeyringResult::Refused;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented: return TKeyringResult::NoKeyring;
    default: return TKeyringResult::Failed;
    }
}

// What a finished job left behind; shared with the job's signal so that a job answering
// after the time-out writes into a record nobody reads any more.
struct TJobOutcome {
    bool Finished = false;
    QKeychain::Error Error = QKeychain::NoError;
    QByteArray Data;
};

// Runs the job (which deletes itself once finished) and waits for it until `deadline`.
TKeyringResult RunJob(QKeychain::Job* job, const QString& key, Clock::time_point deadline, QByteArray* data)
{
    auto outcome = std::make_shared<TJobOutcome>();
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(key);
    QObject::connect(job, &QKeychain::Job::finished, job, [outcome](QKeychain::Job* done) {
        outcome->Finished = true;
        outcome->Error = done->error();
        if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(done))
            outcome->Data = read->binaryData();
    });
    job->start();
    if (!WaitInPump([&] { return outcome->Finished; }, deadline))
        return TKeyringResult::TimedOut;
    if (data)
        *data = outcome->Data;
    return ResultOf(outcome->Error);
}

// QtKeychain reaches the Secret Service through libsecret, which keeps one session with the
// keyring daemon for the life of the process; once the daemon has restarted, every call on
// that session fails. Dropping libsecret's cached service makes the next call open a new
// one. True when libsecret is loaded and its service was dropped.
bool ForgetSecretService()
{
    void* libsecret = dlopen("libsecret-1.so.0", RTLD_LAZY | RTLD_NOLOAD);
    if (!libsecret)
        return false;
    auto disconnect = reinterpret_cast<void (*)()>(dlsym(libsecret, "secret_service_disconnect"));
    if (disconnect)
        disconnect();
    dlclose(libsecret);
    return disconnect != nullptr;
}

// Reaches the keyring, then runs a job made by `makeJob`; a job that fails is run once more
// on a fresh libsecret session (see ForgetSecretService), and a locked collection turns
// what is left of "not found" or a failure into Refused; so also Ok when `okUnsure` (a
// removal answers Ok when it found nothing to remove). Every step shares one deadline.
template <typename MakeJob>
TKeyringResult Run(const MakeJob& makeJob, const TKeyring& keyring, const TKeyringEntry& entry, QByteArray* data,
                   bool okUnsure = false)
{
    auto deadline = Clock::now() + keyring.TimeOut;
    TKeyringResult result = ReachKeyring(deadline);
    if (result != TKeyringResult::Ok)
        return result;
    QString service = mime::SjisToQString(keyring.Service), key = mime::SjisToQString(TKeyring::KeyOf(entry));
    result = RunJob(makeJob(service), key, deadline, data);
    if (result == TKeyringResult::Failed && ForgetSecretService())
        result = RunJob(makeJob(service), key, deadline, data);
    bool unsure = result == TKeyringResult::NotFound || result == TKeyringResult::Failed ||
                  (okUnsure && result == TKeyringResult::Ok);
    if (unsure && DefaultCollectionLocked(deadline))
        result = TKeyringResult::Refused;
    return result;
}

} // namespace

std::string TKeyring::KeyOf(const TKeyringEntry& entry)
{
    const std::string key = entry.UserID + "@" + entry.Server + ":" + entry.Port;
    return entry.Kind.empty() ? key : entry.Kind + " " + key;
}

bool TKeyring::IsAvailable() const
{
    return ReachKeyring(Clock::now() + TimeOut) == TKeyringResult::Ok;
}

TKeyringResult TKeyring::Store(const TKeyringEntry& entry, const std::string& password) const
{
    QByteArray data(password.data(), static_cast<qsizetype>(password.size()));
    return Run([&](const QString& service) {
        auto* job = new QKeychain::WritePasswordJob(service);
        job->setBinaryData(data);
        return job;
    }, *this, entry, nullptr);
}

TKeyringResult TKeyring::Read(const TKeyringEntry& entry, std::string& password) const
{
    QByteArray data;
    TKeyringResult result = Run([](const QString& service) { return new QKeychain::ReadPasswordJob(service); },
                                *this, entry, &data);
    if (result == TKeyringResult::Ok)
        password.assign(data.constData(), static_cast<std::size_t>(data.size()));
    return result;
}

TKeyringResult TKeyring::Remove(const TKeyringEntry& entry) const
{
    TKeyringResult result = Run([](const QString& service) { return new QKeychain::DeletePasswordJob(service); },
                                *this, entry, nullptr, true);
    return result == TKeyringResult::NotFound ? TKeyringResult::Ok : result;
}

TKeyringResult TKeyring::Move(const TKeyringEntry& from, const TKeyringEntry& to) const
{
    if (from == to)
        return TKeyringResult::Ok;
    std::string password;
    TKeyringResult result = Read(from, password);
    if (result == TKeyringResult::Ok)
        result = Store(to, password);
    if (result == TKeyringResult::Ok)
        result = Remove(from);
    return result;
}
