#include "app/Sjis.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>

namespace {
// Made once: opening the converter is far dearer than converting a cell's text. UI thread only.
QStringDecoder& Decoder()
{
    static QStringDecoder decoder("windows-31j");
    return decoder;
}

QStringEncoder& Encoder()
{
    static QStringEncoder encoder("windows-31j");
    return encoder;
}
}

QString SjisToQ(std::string_view sjis)
{
    // Printable ASCII reads the same in code page 932 and needs no converter (sizes, most
    // addresses). Control bytes do not: the converter maps some of them to others.
    if (std::all_of(sjis.begin(), sjis.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
        return QString::fromLatin1(sjis.data(), static_cast<qsizetype>(sjis.size()));
    QStringDecoder& d = Decoder();
    d.resetState();
    return d.decode(QByteArrayView(sjis.data(), static_cast<qsizetype>(sjis.size())));
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
    QStringEncoder& e = Encoder();
    e.resetState();
    (void)QByteArray(e.encode(text));
    const bool ok = !e.hasError();
    e.resetState();
    return ok;
}
