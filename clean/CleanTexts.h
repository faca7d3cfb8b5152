#pragma once
// The texts purgel-clean says: one table per language, English and Japanese, each entry a
// line with %1, %2 ... for what the caller fills in. Japanese is chosen when the locale
// (LC_ALL, else LC_MESSAGES, else LANG) names it, English otherwise. Texts come out as
// UTF-8. Nothing here raises but std::bad_alloc.

#include <QString>
#include <string>
#include <vector>

enum class TLanguage { English, Japanese };

// The language of a locale name such as "ja_JP.UTF-8"; "" and "C" are English.
TLanguage LanguageOfLocale(const std::string& locale);
// The language the environment asks for.
TLanguage LanguageOfEnvironment();

enum class TText {
    Usage,
    UnknownCommand,
    UnknownOption,
    MissingValue,
    BadValue,
    MissingAccount,
    ExtraArgument,
    NotForCommand,
    RepeatedOption,
    NoCondition,
    AccountFileUnreadable,
    NoSuchAccount,
    SameNamedAccounts,
    AccountDamaged,
    DamageNoServer,
    DamageNoUser,
    DamageSecurity,
    NoPassword,
    KeyringNoEntry,
    KeyringNone,
    KeyringLocked,
    KeyringFailed,
    KeyringTimedOut,
    PasswordPrompt,
    HostNotFound,
    Refused,
    TimedOut,
    LoginRefused,
    Untrusted,
    UntrustedChanged,
    TlsFailed,
    DialogueBroken,
    TlsUntrusted,
    TlsSelfSigned,
    TlsExpired,
    TlsNotYetValid,
    TlsHostMismatch,
    TlsTooOld,
    TlsHandshake,
    TlsNoStls,
    TlsStlsRefused,
    TlsInjected,
    ListLost,
    DeleteLost,
    QuitUnconfirmed,
    DeleteRefused,
    ProgressList,
    ProgressDelete,
    Deleted,
    WouldDelete,
    Failed,
    RulesUnreadable,
    RulesDamaged,
    SignInRefused,
    DamageTokenNeedsTls,
    Count_
};

// The text in the language, with %1, %2 ... replaced by the arguments.
std::string Say(TLanguage language, TText text, const std::vector<QString>& args = {});
// The lines of --help; %1 in them names the folder of the user's files.
std::vector<std::string> HelpLines(TLanguage language, const QString& folder);
