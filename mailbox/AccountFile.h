#pragma once
// "Account.lst": the user's list of POP3 accounts.
//
// One line per account, six fields in the order name, account ID, password, receiving
// server, time-out (seconds), port, and a seventh for the security of the connection ("tls",
// "starttls"; absent or empty is plain POP3), written only when it is not empty so that a
// plain account's line stays what older versions wrote. An eighth, the sign-in, is
// "oauth2:NAME" for an account that signs in with OAuth 2.0 through the provider NAME (its
// password field stays empty); absent or empty is a password. When it is set the seventh is
// written too; versions that know seven fields drop the eighth. Each field in double quotes (a quote
// inside doubled), joined by commas; CR LF after every line; an empty list is an empty file.
// Shift-JIS bytes. A non-empty password field is the password in plain text; an empty one
// means the password is in the desktop keyring (mailbox/Keyring.h), or asked at each connect.
// Lines are read with the comma-text rule of TStringList.
//
// Parsing never fails. LoadAccountFile tells a missing file (an empty list) from one that
// exists but cannot be read. SaveAccountFile raises Exception when the file cannot be
// written; the previous file then stays whole (a temporary file, mode 0600, is renamed over it).
// The temporary file is AccountTempName(fileName); a save that is killed half-way leaves it
// behind (the file itself is never partial), and the next save reuses and removes it.

#include <array>
#include <string>
#include <string_view>
#include <vector>

enum TAccountField { afName, afUserID, afPassword, afServer, afTimeOut, afPort, afSecurity, afSignIn };
constexpr int AccountFieldCount = 8;
using TAccountFields = std::array<std::string, AccountFieldCount>;

// The security field: implicit TLS from the first byte, STLS after the greeting, or plain.
enum class TAccountSecurity { Tls, StartTls, None };
// Any other text of the field, in any case, reads as None, like an empty one.
TAccountSecurity AccountSecurity(const TAccountFields& fields);
std::string SecurityField(TAccountSecurity security);
// The port that goes with a security by default: 995 for Tls, 110 else.
int DefaultPort(TAccountSecurity security);

// The provider NAME of a sign-in field "oauth2:NAME" (the prefix in any case); "" for a
// password account (any other text of the field included).
std::string OAuthProviderOf(const TAccountFields& fields);
inline bool SignsInWithOAuth(const TAccountFields& fields) { return !OAuthProviderOf(fields).empty(); }
// The sign-in field for a provider ("" for a password).
std::string SignInField(const std::string& provider);

// The password field is empty: the password is looked up in the keyring.
inline bool PasswordInKeyring(const TAccountFields& fields) { return fields[afPassword].empty(); }

// One line without its line end.
std::string FormatAccountLine(const TAccountFields& fields);
// Any fields quoted and joined the way an account line is.
std::string FormatQuotedLine(const std::vector<std::string>& fields);
std::string FormatAccounts(const std::vector<TAccountFields>& accounts);

// A line with fewer than eight fields is kept, padded with empty fields, so that saving
// loses nothing of it; fields after the eighth are dropped. Lines without any field are skipped.
std::vector<TAccountFields> ParseAccounts(std::string_view text);

// Fills `accounts` from the file; false when the file exists but cannot be read (accounts
// then empty). A missing file gives an empty list and true.
bool LoadAccountFile(const std::string& fileName, std::vector<TAccountFields>& accounts);
void SaveAccountFile(const std::string& fileName, const std::vector<TAccountFields>& accounts);
// The read behind LoadAccountFile: false (text empty) when the file cannot be read.
bool ReadFileWhole(const std::string& fileName, std::string& text);
// The same for a file that may be missing: then true with the text empty; false (text empty)
// when the file exists but cannot be read.
bool ReadFileIfAny(const std::string& fileName, std::string& text);
// The save behind SaveAccountFile, for any file kept like it (mode 0600, never partial).
void SaveFileWhole(const std::string& fileName, const std::string& data);
std::string AccountTempName(const std::string& fileName);
