// The crossing between the program's Shift-JIS bytes and Qt's text.
#include <gtest/gtest.h>

#include <QStringDecoder>

#include "app/main/Sjis.h"

// The plain ASCII shortcut reads what the code page 932 converter reads, and stops where the
// converter maps control bytes to others.
TEST(SjisCrossing, PrintableAsciiTakesTheShortcutAndEverythingElseTheConverter)
{
    QStringDecoder cp932("windows-31j");
    std::string printable;
    for (int b = 0x20; b < 0x7F; ++b)
        printable.push_back(static_cast<char>(b));
    EXPECT_EQ(SjisToQ(printable), cp932.decode(QByteArray::fromStdString(printable)));
    for (const std::string& text : {std::string("a\x1a" "b"), std::string("\x7f"), std::string("x\x1cy"),
                                    std::string("\x8eR\x93" "c" /* sjis: 山田 */)}) {
        cp932.resetState();
        EXPECT_EQ(SjisToQ(text), cp932.decode(QByteArray::fromStdString(text))) << text;
    }
    EXPECT_EQ(SjisToQ("a\x1a" "b"), QString::fromUtf16(u"a\u001cb"));  // the converter's own mapping
    EXPECT_TRUE(SjisToQ("").isEmpty());
}

// Whether a text fits the account file does not depend on what was converted before: an
// emoji of a listed subject once made every later check fail.
TEST(SjisCrossing, EncodabilityIsJudgedForEachTextAlone)
{
    const QString yama = SjisToQ("\x8eR" /* sjis: 山 */);
    const QString emoji = QString::fromUtf8("\xf0\x9f\x98\x80");
    EXPECT_TRUE(IsSjisEncodable(yama));
    (void)QToSjis(emoji);
    EXPECT_FALSE(IsSjisEncodable(emoji));
    EXPECT_TRUE(IsSjisEncodable(yama));
    EXPECT_EQ(QToSjis(yama), "\x8eR" /* sjis: 山 */);
    EXPECT_EQ(Utf8ToQ("\xf0\x9f\x98\x80 \xe5\xb1\xb1" /* utf-8: 😀 山 */), emoji + " " + yama);
}
