#include "clean/Report.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <ostream>

#include "clean/Conditions.h"
#include "mailbox/MessageList.h"

namespace {
// Local time with its offset from UTC: "2024-05-01T09:30:00+09:00".
QString IsoDate(long long seconds)
{
    const QDateTime local = QDateTime::fromSecsSinceEpoch(seconds);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
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
    const std::string date = record.Date ? MessageList::DateText(*record.Date).toStdString() : "-";
    return std::to_string(record.Number) + '\t' + (record.Size >= 0 ? std::to_string(record.Size) : "-") + '\t' +
           date + '\t' + PrintableText(record.From) + '\t' + PrintableText(record.Subject);
}

std::string MessagesJson(const std::vector<const TMessageRecord*>& records)
{
    QJsonArray array;
    for (const TMessageRecord* r : records) {
        QJsonObject o;
        o[QStringLiteral("number")] = r->Number;
        o[QStringLiteral("size")] = r->Size >= 0 ? QJsonValue(static_cast<double>(r->Size)) : QJsonValue();
        o[QStringLiteral("date")] = r->Date ? QJsonValue(IsoDate(*r->Date)) : QJsonValue();
        // JSON escapes what it must; the texts stay whole for scripts, blanks at the ends aside.
        o[QStringLiteral("from")] = QString::fromStdString(r->From).trimmed();
        o[QStringLiteral("address")] = QString::fromStdString(SenderAddress(r->From));
        o[QStringLiteral("subject")] = QString::fromStdString(r->Subject).trimmed();
        o[QStringLiteral("uidl")] = r->Uidl.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(r->Uidl));
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
