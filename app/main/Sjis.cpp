#include "app/main/Sjis.h"

#include <QStringEncoder>
#include <algorithm>

#include "mime/Charset.h"

namespace {
// Made once: opening the converter is far dearer than converting a cell's text. UI thread only.
QStringEncoder& Encoder()
{
    static QStringEncoder encoder("windows-31j");
    return encoder;
}
}

QString SjisToQ(std::string_view sjis) { return mime::SjisToQString(sjis); }

QString Utf8ToQ(std::string_view utf8)
{
    return QString::fromUtf8(QByteArrayView(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

std::string QToSjis(const QString& text)
{
    // Printable ASCII (sizes, most addresses) is its own Shift-JIS.
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7F; }))
        return text.toStdString();
    QStringEncoder& e = Encoder();
    e.resetState();
    const QByteArray bytes = e.encode(text);
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

bool IsSjisEncodable(const QString& text)
{
    // Its own converter: an error stays on a converter through resetState (Qt over ICU), and
    // the shared one meets texts Shift-JIS cannot hold whenever modern mail is shown.
    QStringEncoder e("windows-31j");
    (void)QByteArray(e.encode(text));
    return !e.hasError();
}

QValidator::State TSjisValidator::validate(QString& input, int&) const
{
    if (input.contains(QLatin1Char('\n')) || input.contains(QLatin1Char('\r')))
        return Invalid;
    return IsSjisEncodable(input) ? Acceptable : Invalid;
}
