#pragma once
// A real desktop keyring for the test process: a private D-Bus session bus and an unlocked
// GNOME Keyring (Secret Service only) on it, with HOME and the XDG folders in a temporary
// folder, so the user's own keyring is never touched.
//
// Start() points this process at them (DBUS_SESSION_BUS_ADDRESS, HOME, XDG_*; DISPLAY and
// the desktop variables unset, so QtKeychain takes the Secret Service) and returns once the
// keyring owns its bus name; it must run before anything in the process opens the session
// bus, on the application's thread, with a QCoreApplication in place. It throws
// std::runtime_error when a daemon does not come up. The bus starts no services on demand,
// so a stopped keyring stays away until StartKeyring(). The destructor stops both daemons
// and removes the folder.

#include <QProcess>
#include <QTemporaryDir>
#include <sys/types.h>

class KeyringRig {
public:
    KeyringRig() = default;
    ~KeyringRig();
    KeyringRig(const KeyringRig&) = delete;
    KeyringRig& operator=(const KeyringRig&) = delete;

    void Start();
    // The keyring daemon alone: stopped (its bus name gone on return), started again and
    // unlocked with the same password (its stored entries come back).
    void StopKeyring();
    void StartKeyring();
    // Stops or resumes the daemon's process (SIGSTOP/SIGCONT): it keeps its bus name but
    // answers nothing meanwhile.
    void FreezeKeyring(bool frozen);
    // Locks the login collection; unlocking would need a prompt nobody answers, so only
    // StopKeyring + StartKeyring opens it again.
    void LockCollection();

private:
    QTemporaryDir FDir;
    QProcess FBus;
    QProcess FKeyring;
};

// The rig of a test executable that calls UseKeyringRig: started as the tests start (listing
// them starts no daemons), null until then and in a run with --no-session-bus.
extern KeyringRig* Rig;
// For main(), after the application object is made: with "--no-session-bus" as the last
// argument the process forgets its session bus and display (every keyring call must say
// there is no keyring); otherwise the rig starts before the first test.
void UseKeyringRig(int argc, char** argv);
