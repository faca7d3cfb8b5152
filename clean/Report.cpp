#include "clean/Report.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <ostream>

#include "mailbox/MessageList.h"
#include "mailbox/Sender.h"

namespace {
// Local time with its offset from UTC: "2024-05-01T09:30:00+09:00".
QString IsoDate(long long seconds)
{
    const QDateTime local = QDateTime::fromSecsSinceEpoch(seconds);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

QJsonValue JsonDate(const std::optional<long long>& seconds)
{
    return seconds ? QJsonValue(IsoDate(*seconds)) : QJsonValue();
}

std::string DateOrDash(const std::optional<long long>& seconds)
{
    return seconds ? MessageList::DateText(*seconds).toStdString() : "-";
}

// The group's part of the mailbox's size, in percent.
double Share(const TSenderGrouping& grouping, const TSenderGroup& group)
{
    return grouping.TotalSize() > 0 ? 100.0 * static_cast<double>(group.Size) / static_cast<double>(grouping.TotalSize())
                                    : 0.0;
}
}  // namespace

std::string PrintableText(const std::string& utf8)
{
    QString text = QString::fromStdString(utf8);
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u < 0xA0) || u == 0x2028 || u == 0x2029)
            c = QLatin1Char(' ');
    }
    return text.trimmed().toStdString();
}

std::string MessageLine(const TMessageRecord& record)
{
    return std::to_string(record.Number) + '\t' + (record.Size >= 0 ? std::to_string(record.Size) : "-") + '\t' +
           DateOrDash(record.Date) + '\t' + PrintableText(record.From) + '\t' + PrintableText(record.Subject);
}

std::string MessagesJson(const std::vector<const TMessageRecord*>& records)
{
    QJsonArray array;
    for (const TMessageRecord* r : records) {
        QJsonObject o;
        o[QStringLiteral("number")] = r->Number;
        o[QStringLiteral("size")] = r->Size >= 0 ? QJsonValue(static_cast<double>(r->Size)) : QJsonValue();
        o[QStringLiteral("date")] = JsonDate(r->Date);
        // JSON escapes what it must; the texts stay whole for scripts, blanks at the ends aside.
        o[QStringLiteral("from")] = QString::fromStdString(r->From).trimmed();
        o[QStringLiteral("address")] = QString::fromStdString(SenderOf(*r).Address);
        o[QStringLiteral("subject")] = QString::fromStdString(r->Subject).trimmed();
        o[QStringLiteral("uidl")] = r->Uidl.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(r->Uidl));
        array.append(o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented).toStdString();
}

std::string GroupLine(const TSenderGrouping& grouping, TGroupBy by, int group)
{
    const TSenderGroup& g = grouping.At(by, group);
    return std::to_string(g.Count) + '\t' + std::to_string(g.Size) + '\t' +
           QString::number(Share(grouping, g), 'f', 1).toStdString() + "%\t" + DateOrDash(g.Newest) + '\t' +
           DateOrDash(g.Oldest) + '\t' + (g.Key.empty() ? "-" : PrintableText(g.Key)) +
           (by == TGroupBy::Address ? '\t' + PrintableText(g.Name) : "");
}

std::string GroupsJson(const TSenderGrouping& grouping, TGroupBy by)
{
    QJsonArray array;
    for (const int group : grouping.BySize(by)) {
        const TSenderGroup& g = grouping.At(by, group);
        QJsonObject o;
        o[QStringLiteral("count")] = g.Count;
        o[QStringLiteral("size")] = static_cast<double>(g.Size);
        o[QStringLiteral("share")] = Share(grouping, g);
        o[QStringLiteral("newest")] = JsonDate(g.Newest);
        o[QStringLiteral("oldest")] = JsonDate(g.Oldest);
        const QString key = by == TGroupBy::Address ? QStringLiteral("address") : QStringLiteral("domain");
        o[key] = g.Key.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(g.Key));
        if (by == TGroupBy::Address)
            o[QStringLiteral("name")] = QString::fromStdString(g.Name);
        array.append(o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented).toStdString();
}

std::string TotalSizeText(const std::vector<const TMessageRecord*>& records)
{
    long long total = 0;
    for (const TMessageRecord* r : records)
        total += std::max(0LL, r->Size);
    return MessageList::SizeText(total).toStdString();
}

void TProgressLine::Show(const std::string& text, bool force)
{
    if (!FShown)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - FLast < std::chrono::milliseconds(100))
        return;
    FLast = now;
    FOut << '\r' << text;
    if (text.size() < FWidth)
        FOut << std::string(FWidth - text.size(), ' ');
    FOut << std::flush;
    FWidth = std::max(FWidth, text.size());
}

void TProgressLine::Clear()
{
    if (!FShown || FWidth == 0)
        return;
    FOut << '\r' << std::string(FWidth, ' ') << '\r' << std::flush;
    FWidth = 0;
}
