#include "mime/Charset.h"

#include "jconv/Jconvert.h"

#include <QStringDecoder>
#include <algorithm>
#include <map>

namespace mime {

namespace {

using u8 = unsigned char;

enum class Japanese { None, Jis, Sjis, Euc };

// The labels Japanese mail carries, and what ICU should open for the labels whose own
// converter is narrower than what senders put under them (WHATWG's choices).
Japanese JapaneseSet(const std::string& label)
{
    static const std::map<std::string, Japanese, std::less<>> sets = {
        {"iso-2022-jp", Japanese::Jis},   {"csiso2022jp", Japanese::Jis},  {"iso-2022-jp-1", Japanese::Jis},
        {"iso-2022-jp-2", Japanese::Jis}, {"iso-2022-jp-3", Japanese::Jis}, {"shift_jis", Japanese::Sjis},
        {"shift-jis", Japanese::Sjis},    {"sjis", Japanese::Sjis},        {"x-sjis", Japanese::Sjis},
        {"cp932", Japanese::Sjis},        {"ms932", Japanese::Sjis},       {"windows-31j", Japanese::Sjis},
        {"ms_kanji", Japanese::Sjis},     {"csshiftjis", Japanese::Sjis},  {"x-ms-cp932", Japanese::Sjis},
        {"euc-jp", Japanese::Euc},        {"x-euc-jp", Japanese::Euc},     {"eucjp", Japanese::Euc},
        {"cseucpkdfmtjapanese", Japanese::Euc},
    };
    const auto it = sets.find(label);
    return it == sets.end() ? Japanese::None : it->second;
}

std::string IcuName(const std::string& label)
{
    static const std::map<std::string, std::string, std::less<>> wider = {
        {"gb2312", "GB18030"},         {"gbk", "GB18030"},         {"cp936", "GB18030"},
        {"x-gbk", "GB18030"},          {"ks_c_5601-1987", "windows-949"}, {"euc-kr", "windows-949"},
        {"iso-8859-1", "windows-1252"}, {"latin1", "windows-1252"}, {"iso_8859-1", "windows-1252"},
        {"big5", "Big5-HKSCS"},        {"utf8", "UTF-8"},           {"tis-620", "windows-874"},
    };
    const auto it = wider.find(label);
    return it == wider.end() ? label : it->second;
}

// One open converter per charset and thread: opening an ICU converter costs far more than
// converting a header value. Labels that open nothing are not kept, so the cache stays small.
QStringDecoder* Decoder(const std::string& name)
{
    thread_local std::map<std::string, QStringDecoder, std::less<>> open;
    if (auto it = open.find(name); it != open.end())
        return &it->second;
    QStringDecoder decoder(name.c_str());
    if (!decoder.isValid() || open.size() >= 64)
        return nullptr;
    return &open.emplace(name, std::move(decoder)).first->second;
}

std::string Decoded(QStringDecoder& d, std::string_view bytes)
{
    d.resetState();
    const QString text = d.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

bool Ascii(std::string_view bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<u8>(c) < 0x80; });
}

bool WellFormedSjis(std::string_view t)
{
    for (std::size_t i = 0; i < t.size(); ++i) {
        const u8 b = static_cast<u8>(t[i]);
        if (b < 0x80 || (b >= 0xA1 && b <= 0xDF))
            continue;
        if (!((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) || ++i >= t.size())
            return false;
        const u8 c = static_cast<u8>(t[i]);
        if (c < 0x40 || c == 0x7F || c > 0xFC)
            return false;
    }
    return true;
}

bool WellFormedEuc(std::string_view t)
{
    for (std::size_t i = 0; i < t.size(); ++i) {
        const u8 b = static_cast<u8>(t[i]);
        if (b < 0x80)
            continue;
        const int trail = b == 0x8F ? 2 : (b == 0x8E || (b >= 0xA1 && b <= 0xFE)) ? 1 : -1;
        if (trail < 0 || i + static_cast<std::size_t>(trail) >= t.size())
            return false;
        for (int k = 1; k <= trail; ++k)
            if (static_cast<u8>(t[i + static_cast<std::size_t>(k)]) < 0xA1)
                return false;
        i += static_cast<std::size_t>(trail);
    }
    return true;
}

// A byte in 80..A0 other than EUC-JP's single shifts 8E and 8F.
bool HasSjisLead(std::string_view t)
{
    return std::any_of(t.begin(), t.end(), [](char ch) {
        const u8 c = static_cast<u8>(ch);
        return c >= 0x80 && c <= 0xA0 && c != 0x8E && c != 0x8F;
    });
}

std::string Windows1252(std::string_view bytes)
{
    QStringDecoder* d = Decoder("windows-1252");
    return d ? Decoded(*d, bytes) : std::string(bytes);
}

// JIS with each designator that another one follows at once left out: joined encoded words
// put "ESC ( B" before "ESC $ B", and Jconvert reads the byte after a designator as text.
std::string WithoutIdleDesignators(std::string_view jis)
{
    std::string out;
    out.reserve(jis.size());
    for (std::size_t i = 0; i < jis.size(); ++i) {
        if (jis[i] == '\x1b' && i + 3 < jis.size() && jis[i + 3] == '\x1b' && (jis[i + 1] == '(' || jis[i + 1] == '$')) {
            i += 2;
            continue;
        }
        out += jis[i];
    }
    return out;
}

// Japanese text through Jconvert to Shift-JIS. JIS that carries 8-bit bytes is mislabelled
// Shift-JIS or EUC-JP (common in old mail), so its own code is detected.
std::string JapaneseText(std::string_view bytes, Japanese set)
{
    if (set == Japanese::Jis && !Ascii(bytes))
        return GuessedText(bytes);
    if (set == Japanese::Jis)
        return SjisToUtf8(Jconvert::jis2sjis(WithoutIdleDesignators(bytes)));
    if (set == Japanese::Euc)
        return SjisToUtf8(Jconvert::euc2sjis(bytes));
    return SjisToUtf8(bytes);
}

}  // namespace

std::string CharsetLabel(std::string_view name)
{
    std::string label;
    for (char c : name.substr(0, name.find('*'))) {
        if (c != ' ' && c != '\t' && c != '"')
            label += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    }
    return label;
}

std::string CharsetText(std::string_view bytes, std::string_view charset)
{
    const std::string label = CharsetLabel(charset);
    if (const Japanese set = JapaneseSet(label); set != Japanese::None)
        return JapaneseText(bytes, set);
    if (label.empty() || label == "us-ascii" || label == "ascii")
        return GuessedText(bytes);
    // ASCII reads the same in every set mail uses but the 7-bit stateful ones.
    if (Ascii(bytes) && bytes.find_first_of("\x1b~+") == std::string_view::npos)
        return std::string(bytes);
    if (label == "utf-8" || label == "utf8")
        return IsUtf8(bytes) ? std::string(bytes) : Decoded(*Decoder("UTF-8"), bytes);
    QStringDecoder* d = Decoder(IcuName(label));
    return d ? Decoded(*d, bytes) : GuessedText(bytes);
}

std::string GuessedText(std::string_view bytes)
{
    if (IsUtf8(bytes) && bytes.find('\x1b') == std::string_view::npos)
        return std::string(bytes);
    switch (Jconvert::InCodeCheck(bytes)) {
    case Jconvert::JCODE_JIS83:
    case Jconvert::JCODE_JIS78:
        return SjisToUtf8(Jconvert::jis2sjis(bytes));
    case Jconvert::JCODE_EUC:
        if (WellFormedEuc(bytes))
            return SjisToUtf8(Jconvert::euc2sjis(bytes));
        break;
    case Jconvert::JCODE_EUCORSJIS:
        // Undecided: EUC-JP writes every byte of a character in A1..FE, while Shift-JIS text
        // without a byte in 81..A0 (the leads of kana and most kanji) hardly exists.
        if (WellFormedEuc(bytes) && !HasSjisLead(bytes))
            return SjisToUtf8(Jconvert::euc2sjis(bytes));
        [[fallthrough]];
    case Jconvert::JCODE_SJIS:
        if (WellFormedSjis(bytes))
            return SjisToUtf8(bytes);
        if (WellFormedEuc(bytes))
            return SjisToUtf8(Jconvert::euc2sjis(bytes));
        break;
    default:
        break;
    }
    return Windows1252(bytes);
}

bool IsUtf8(std::string_view t)
{
    for (std::size_t i = 0; i < t.size();) {
        const u8 b = static_cast<u8>(t[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        const std::size_t n = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        if (n == 0 || i + n > t.size())
            return false;
        const u8 c = static_cast<u8>(t[i + 1]);
        // The second byte's range excludes overlong forms, surrogates and code points above U+10FFFF.
        const u8 low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
        const u8 high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
        if (c < low || c > high)
            return false;
        for (std::size_t k = 2; k < n; ++k)
            if ((static_cast<u8>(t[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

QString SjisToQString(std::string_view sjis)
{
    // Printable ASCII reads the same in code page 932 and needs no converter. Control bytes
    // do not: the converter maps some of them to others.
    if (std::all_of(sjis.begin(), sjis.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
        return QString::fromLatin1(sjis.data(), static_cast<qsizetype>(sjis.size()));
    QStringDecoder* d = Decoder("windows-31j");
    if (!d)  // a Qt without ICU: the bytes as Latin-1 rather than nothing
        return QString::fromLatin1(sjis.data(), static_cast<qsizetype>(sjis.size()));
    d->resetState();
    return d->decode(QByteArrayView(sjis.data(), static_cast<qsizetype>(sjis.size())));
}

std::string SjisToUtf8(std::string_view sjis)
{
    if (std::all_of(sjis.begin(), sjis.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
        return std::string(sjis);
    const QByteArray utf8 = SjisToQString(sjis).toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

}  // namespace mime
