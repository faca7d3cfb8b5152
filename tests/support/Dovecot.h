#pragma once
// A private Dovecot POP3 server on 127.0.0.1 for tests: one user, one Maildir, a free port,
// everything (config, sockets, state, log, mail) in its own temporary folder.
//
// Runs as root (mail owned by the "dovecot" user, logins as "dovenull") or as any other user
// (everything runs as that user). Start() returns once the port greets with "+OK"; it
// throws std::runtime_error with Dovecot's log when the server does not come up. Stop()
// kills the master and all its processes at once and waits until they are gone; mail
// deleted by a completed QUIT is gone from disk by then, a session without QUIT is
// dropped. The destructor stops the server and removes the folder. Not thread-safe; create,
// start and stop on one thread (the server is also stopped if that thread dies).

#include <string>
#include <sys/types.h>
#include <vector>

class DovecotServer {
public:
    DovecotServer();
    ~DovecotServer();
    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    // Starts the server for one user; any password other than `password` is refused.
    // The Maildir exists (empty) from the first Start on and survives Stop/Start.
    void Start(const std::string& user = "alice", const std::string& password = "secret");
    void Stop();
    // Stop, then Start with the same user and password, on the same port when it is free.
    void Restart();
    bool Running() const { return FMaster > 0; }
    // Before Start: TLS too, with a PEM certificate and key file (TLS 1.2 at least): Port()
    // offers STLS and TlsPort() speaks TLS from the first byte. The files must stay while
    // the server runs.
    void EnableTls(const std::string& certFile, const std::string& keyFile);
    int TlsPort() const { return FTlsPort; }
    // Before Start: XOAUTH2 and OAUTHBEARER too, each token checked at `introspectionUrl`
    // (RFC 7662 by POST; its "email" must be the user, its "active" true).
    void EnableOAuth(const std::string& introspectionUrl) { FIntrospection = introspectionUrl; }

    int Port() const { return FPort; }
    const std::string& User() const { return FUser; }
    const std::string& Password() const { return FPassword; }
    const std::string& Folder() const { return FFolder; }  // the temporary folder
    std::string Maildir() const;                            // <folder>/home/<user>/Maildir
    std::string Log() const;                                // Dovecot's log so far

    // Delivers one message (raw RFC 822 bytes, stored as given) into Maildir/new, or into
    // Maildir/cur as already seen; works while the server runs (the next session sees it)
    // or is stopped. Messages are numbered by POP3 in the order they were added.
    // Returns the file's path.
    std::string AddMessage(const std::string& raw, bool seen = false);
    void AddMessages(const std::vector<std::string>& raws);
    // Message files in new/ and cur/, sorted by name (the order they were added).
    std::vector<std::string> MessageFiles() const;
    int CountMessages() const { return static_cast<int>(MessageFiles().size()); }
    // Removes every message file (for tests that share one server); Dovecot notices at
    // the next session.
    void ClearMessages();

private:
    void WriteConfig() const;
    std::string TlsSettings() const;
    std::string OAuthPassdb() const;
    bool Launch(std::string& failure);
    void PrepareMaildir();

    std::string FFolder;
    std::string FUser, FPassword;
    std::string FGreeting;
    int FPort = 0;
    std::string FTlsCert, FTlsKey;
    int FTlsPort = 0;
    std::string FIntrospection;
    pid_t FMaster = -1;
    uid_t FMailUid = 0;
    gid_t FMailGid = 0;
    long long FLastStamp = 0;
    unsigned FSequence = 0;
};
