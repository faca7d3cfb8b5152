#include "mailbox/MessageList.h"

#include "mailbox/ShownText.h"

#include <QDateTime>
#include <QRegularExpression>
#include <algorithm>
#include <charconv>

namespace MessageList {

std::optional<long long> Number(const std::string& field)
{
    long long n = 0;
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, n);
    if (field.empty() || error != std::errc() || stop != end || n < 0)
        return std::nullopt;
    return n;
}

QString SizeText(long long bytes)
{
    constexpr double Kilo = 1024.0;
    if (bytes < 1024)
        return QString::number(bytes) + QStringLiteral(" B");
    if (bytes < 1024 * 1024)
        return QString::number(std::max(1LL, (bytes + 512) / 1024)) + QStringLiteral(" KB");
    if (bytes < 1024LL * 1024 * 1024)
        return QString::number(bytes / (Kilo * Kilo), 'f', 1) + QStringLiteral(" MB");
    return QString::number(bytes / (Kilo * Kilo * Kilo), 'f', 1) + QStringLiteral(" GB");
}

std::optional<long long> HeaderDate(const std::vector<std::string>& headerLines)
{
    // Folded lines are joined by CR LF, which the blanks' folding below takes away.
    const std::string value = FieldValue(headerLines, "Date");
    if (value.empty())
        return std::nullopt;
    static const QRegularExpression comment(QStringLiteral("\\([^)]*\\)"));
    QString text = QString::fromLatin1(value.data(), static_cast<qsizetype>(value.size()));
    if (text.contains(u'('))   // the expression costs more than the rest for every message
        text.remove(comment);
    const QDateTime date = QDateTime::fromString(text.simplified(), Qt::RFC2822Date);
    if (!date.isValid())
        return std::nullopt;
    return date.toSecsSinceEpoch();
}

QString DateText(long long seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm"));
}

QString MatchKey(const QString& text) { return text.normalized(QString::NormalizationForm_KC).toCaseFolded(); }

}
