#include "mailbox/OAuthProvider.h"

#include <QUrl>
#include <algorithm>

#include "runtime/IniFile.h"
#include "runtime/SysUtils.h"

namespace {

const std::string SectionPrefix = "oauth2 ";

const TOAuthProvider BuiltIn[] = {
    {"google", "https://accounts.google.com/o/oauth2/v2/auth", "https://oauth2.googleapis.com/token", "", "",
     "https://mail.google.com/"},
    {"microsoft", "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
     "https://login.microsoftonline.com/common/oauth2/v2.0/token", "", "",
     "https://outlook.office.com/POP.AccessAsUser.All offline_access"},
};

// The provider named by a section's name ("OAuth2 NAME"), "" for other sections.
std::string ProviderOfSection(const std::string& section)
{
    if (section.size() <= SectionPrefix.size() || LowerCase(section.substr(0, SectionPrefix.size())) != SectionPrefix)
        return "";
    return Trim(section.substr(SectionPrefix.size()));
}

} // namespace

std::optional<TOAuthProvider> FindOAuthProvider(const std::string& name, const std::string& settingsFile)
{
    std::optional<TOAuthProvider> provider;
    for (const TOAuthProvider& p : BuiltIn)
        if (AnsiSameText(p.Name, name))
            provider = p;
    const TIniFile ini(settingsFile);
    for (const std::string& section : ini.Sections()) {
        if (!AnsiSameText(ProviderOfSection(section), name))
            continue;
        if (!provider)
            provider = TOAuthProvider{name, "", "", "", "", ""};
        const auto setting = [&](const char* key, std::string& value) { value = ini.ReadString(section, key, value); };
        setting("AuthorizeUrl", provider->AuthorizeUrl);
        setting("TokenUrl", provider->TokenUrl);
        setting("ClientId", provider->ClientId);
        setting("ClientSecret", provider->ClientSecret);
        setting("Scope", provider->Scope);
    }
    return provider;
}

std::vector<std::string> OAuthProviderNames(const std::string& settingsFile)
{
    std::vector<std::string> names;
    const auto add = [&names](const std::string& name) {
        if (!name.empty() && std::none_of(names.begin(), names.end(), [&](const std::string& n) { return AnsiSameText(n, name); }))
            names.push_back(name);
    };
    for (const TOAuthProvider& p : BuiltIn)
        add(p.Name);
    for (const std::string& section : TIniFile(settingsFile).Sections())
        add(ProviderOfSection(section));
    return names;
}

std::string ProposedOAuthProvider(const std::string& server)
{
    const std::string host = LowerCase(Trim(server));
    if (host == "pop.gmail.com")
        return "google";
    if (host == "outlook.office365.com" || host == "pop-mail.outlook.com")
        return "microsoft";
    return "";
}

bool SafeEndpoint(const std::string& url)
{
    const QUrl u(QString::fromStdString(url), QUrl::StrictMode);
    if (!u.isValid() || u.host().isEmpty())
        return false;
    if (u.scheme() == "https")
        return true;
    return u.scheme() == "http" && (u.host() == "127.0.0.1" || u.host() == "localhost" || u.host() == "::1");
}
