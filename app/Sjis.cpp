#include "app/Sjis.h"

#include <QStringEncoder>

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
