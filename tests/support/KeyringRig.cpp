#include "tests/support/KeyringRig.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>

#include "tests/support/QtTestMain.h"

namespace {

constexpr const char* SecretsName = "org.freedesktop.secrets";
constexpr const char* UnlockPassword = "rig-unlock";
constexpr std::chrono::seconds DaemonLimit{20};

// A session bus that listens in `folder` and has no service directories: nothing is
// started on demand.
QByteArray BusConfig(const QString& folder)
{
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type>"
           "<listen>unix:dir=" + folder.toUtf8() + "</listen><auth>EXTERNAL</auth>"
           "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
}

// Waits until the keyring's bus name is owned (`up`) or gone; raises with what the daemon
// said when that does not happen.
void WaitForKeyringName(bool up, QProcess& daemon)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto owned = [&] { return bus.interface()->isServiceRegistered(SecretsName).value(); };
    if (!testsupport::PumpUntil([&] { return owned() == up; }, DaemonLimit))
        throw std::runtime_error(std::string(up ? "gnome-keyring-daemon did not take its bus name: "
                                                : "gnome-keyring-daemon kept its bus name: ") +
                                 daemon.readAll().toStdString());
}

} // namespace

KeyringRig::~KeyringRig()
{
    for (QProcess* p : {&FKeyring, &FBus}) {
        if (p->state() != QProcess::NotRunning) {
            FreezeKeyring(false);
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
            p->waitForFinished(5000);
        }
    }
}

void KeyringRig::Start()
{
    if (!FDir.isValid())
        throw std::runtime_error("no temporary folder for the keyring rig");
    QString root = FDir.path();
    for (const char* sub : {"home", "config", "data", "cache", "runtime"})
        QDir(root).mkpath(sub);
    QFile::setPermissions(root + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile config(root + "/bus.conf");
    if (!config.open(QIODevice::WriteOnly) || config.write(BusConfig(root)) < 0)
        throw std::runtime_error("cannot write the bus configuration");
    config.close();

    FBus.start("dbus-daemon", {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
    QDeadlineTimer limit(DaemonLimit);
    while (!FBus.canReadLine() && FBus.waitForReadyRead(static_cast<int>(limit.remainingTime()))) {
    }
    QByteArray address = FBus.readLine().trimmed();
    if (address.isEmpty())
        throw std::runtime_error("dbus-daemon gave no address: " + FBus.readAllStandardError().toStdString());

    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    qputenv("HOME", QFile::encodeName(root + "/home"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + "/config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + "/data"));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root + "/cache"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root + "/runtime"));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION",
                             "KDE_FULL_SESSION", "KDE_SESSION_VERSION", "GNOME_KEYRING_CONTROL"})
        qunsetenv(name);
    StartKeyring();
}

void KeyringRig::StartKeyring()
{
    // --unlock reads the login keyring's password from standard input (and creates the
    // keyring with it the first time).
    // Its warnings (no prompter for a locked keyring) are expected here; kept for failures.
    FKeyring.setProcessChannelMode(QProcess::MergedChannels);
    FKeyring.start("gnome-keyring-daemon", {"--foreground", "--unlock", "--components=secrets"});
    if (!FKeyring.waitForStarted(DaemonLimit.count() * 1000))
        throw std::runtime_error("gnome-keyring-daemon did not start");
    FKeyring.write(UnlockPassword);
    FKeyring.closeWriteChannel();
    WaitForKeyringName(true, FKeyring);
}

void KeyringRig::StopKeyring()
{
    FKeyring.terminate();
    FKeyring.waitForFinished(DaemonLimit.count() * 1000);
    WaitForKeyringName(false, FKeyring);
}

void KeyringRig::FreezeKeyring(bool frozen)
{
    if (FKeyring.processId() > 0)
        ::kill(static_cast<pid_t>(FKeyring.processId()), frozen ? SIGSTOP : SIGCONT);
}

void KeyringRig::LockCollection()
{
    QDBusMessage call = QDBusMessage::createMethodCall(SecretsName, "/org/freedesktop/secrets",
                                                       "org.freedesktop.Secret.Service", "Lock");
    call << QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath("/org/freedesktop/secrets/collection/login")});
    QDBusMessage reply = QDBusConnection::sessionBus().call(call);
    if (reply.type() != QDBusMessage::ReplyMessage)
        throw std::runtime_error("the keyring did not lock: " + reply.errorMessage().toStdString());
}

KeyringRig* Rig = nullptr;

namespace {
struct RigEnvironment : ::testing::Environment {
    void SetUp() override { Rig = new KeyringRig; Rig->Start(); }
    void TearDown() override { delete Rig; Rig = nullptr; }
};
}

void UseKeyringRig(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[argc - 1], "--no-session-bus") == 0) {
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qunsetenv("DISPLAY");
    } else {
        ::testing::AddGlobalTestEnvironment(new RigEnvironment);
    }
}
