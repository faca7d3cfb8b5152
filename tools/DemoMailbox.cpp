#include "tools/DemoMailbox.h"

#include "jconv/Jconvert.h"
#include "mime/Charset.h"
#include "tools/ModernMail.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

namespace demo {

namespace {

using Lines = std::vector<std::string>;

const std::string kCrLf = "\r\n";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char buf[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return std::string(buf, static_cast<std::size_t>(std::max(0, std::min(n, static_cast<int>(sizeof buf) - 1))));
}

std::string Joined(const Lines& lines)
{
    std::string out;
    for (const std::string& l : lines)
        out += l + kCrLf;
    return out;
}

// std::mt19937 gives the same numbers everywhere; the distributions of <random> do not,
// so the picks are made here.
class Rng {
public:
    explicit Rng(unsigned seed) : FEngine(seed) {}
    unsigned Below(unsigned n) { return static_cast<unsigned>(FEngine() % n); }
    int Between(int lo, int hi) { return lo + static_cast<int>(Below(static_cast<unsigned>(hi - lo + 1))); }
    template <class T, std::size_t N>
    const T& Pick(const T (&items)[N]) { return items[Below(N)]; }

private:
    std::mt19937 FEngine;
};

struct Person {
    const char* Name;  // Shift-JIS
    const char* Address;
    const char* Signature;  // how the person signs, Shift-JIS
};

const Person kPeople[] = {
    {"\x8eR\x93" "c\x91\xbe\x98Y" /* sjis: 山田太郎 */, "yamada@example.jp", "\x8eR\x93" "c" /* sjis: 山田 */},
    {"\x8d\xb2\x93\xa1\x89\xd4\x8eq" /* sjis: 佐藤花子 */, "hanako.sato@example.co.jp", "\x8d\xb2\x93\xa1" /* sjis: 佐藤 */},
    {"\x97\xe9\x96\xd8\x88\xea\x98Y" /* sjis: 鈴木一郎 */, "suzuki@example.ne.jp", "\x97\xe9\x96\xd8" /* sjis: 鈴木 */},
    {"\x93" "c\x92\x86\x94\xfc\x8d\xe7" /* sjis: 田中美咲 */, "misaki.tanaka@example.jp", "\x93" "c\x92\x86" /* sjis: 田中 */},
    {"\x8d\x82\x8b\xb4\x8c\x92\x91\xbe" /* sjis: 高橋健太 */, "kenta.takahashi@example.co.jp", "\x8d\x82\x8b\xb4" /* sjis: 高橋 */},
    {"\x93n\x95\xd3\x92\xbc\x94\xfc" /* sjis: 渡辺直美 */, "naomi.watanabe@example.ne.jp", "\x93n\x95\xd3" /* sjis: 渡辺 */},
    {"\x88\xc9\x93\xa1\x90\xbd" /* sjis: 伊藤誠 */, "makoto.ito@example.jp", "\x88\xc9\x93\xa1" /* sjis: 伊藤 */},
    {"\x92\x86\x91\xba\x97R\x94\xfc" /* sjis: 中村由美 */, "yumi.nakamura@example.co.jp", "\x92\x86\x91\xba" /* sjis: 中村 */},
};
const Person kNewsDesk = {"\x8fT\x8a\xa7\x83" "e\x83" "b\x83N\x83j\x83\x85\x81[\x83X\x95\xd2\x8fW\x95\x94" /* sjis: 週刊テックニュース編集部 */, "news@example.jp", "\x8fT\x8a\xa7\x83" "e\x83" "b\x83N\x83j\x83\x85\x81[\x83X\x95\xd2\x8fW\x95\x94" /* sjis: 週刊テックニュース編集部 */};
const Person kGeneralAffairs = {"\x91\x8d\x96\xb1\x95\x94" /* sjis: 総務部 */, "soumu@example.co.jp", "\x91\x8d\x96\xb1\x95\x94\x81@\x92\x86\x91\xba\x97R\x94\xfc" /* sjis: 総務部　中村由美 */};
const Person kShop = {"\x82\xb3\x82\xad\x82\xe7\x83I\x83\x93\x83\x89\x83" "C\x83\x93\x83V\x83\x87\x83" "b\x83v" /* sjis: さくらオンラインショップ */, "order@shop.example.jp", "\x82\xb3\x82\xad\x82\xe7\x83I\x83\x93\x83\x89\x83" "C\x83\x93\x83V\x83\x87\x83" "b\x83v" /* sjis: さくらオンラインショップ */};
const Person kAdmin = {"\x83V\x83X\x83" "e\x83\x80\x8a\xc7\x97\x9d\x8e\xd2" /* sjis: システム管理者 */, "admin@example.co.jp", "\x83V\x83X\x83" "e\x83\x80\x8a\xc7\x97\x9d\x8e\xd2" /* sjis: システム管理者 */};
const Person kCooking = {"\x97\xbf\x97\x9d\x8b\xb3\x8e\xba\x82\xbd\x82\xdc\x82\xb2" /* sjis: 料理教室たまご */, "info@tamago.example.jp", "\x97\xbf\x97\x9d\x8b\xb3\x8e\xba\x82\xbd\x82\xdc\x82\xb2" /* sjis: 料理教室たまご */};
const Person kLibrary = {"\x82\xdd\x82\xc7\x82\xe8\x8es\x97\xa7\x90}\x8f\x91\x8a\xd9" /* sjis: みどり市立図書館 */, "library@city.example.jp", "\x82\xdd\x82\xc7\x82\xe8\x8es\x97\xa7\x90}\x8f\x91\x8a\xd9" /* sjis: みどり市立図書館 */};
const Person kDemo = {"Purgel\x83" "f\x83\x82\x83T\x81[\x83o\x81[" /* sjis: Purgelデモサーバー */, "demo@purgel.example", "Purgel\x83" "f\x83\x82\x83T\x81[\x83o\x81[" /* sjis: Purgelデモサーバー */};
const Person kBuildBot = {"Build Robot", "ci@example.com", "Build Robot"};
const Person kAlice = {"Alice Walker", "alice@example.com", "Alice"};
const Person kParcel = {"Parcel Service", "noreply@parcel.example.net", "Parcel Service"};
const Person kBob = {"Bob Smith", "bob@example.org", "Bob"};

const char* const kRecipient = "\x83" "f\x83\x82 <demo@purgel.example>" /* sjis: デモ <demo@purgel.example> */;
const char* const kDear = "\x83" "f\x83\x82\x97l" /* sjis: デモ様 */;

const char* const kWeekdays[] = {"\x93\xfa" /* sjis: 日 */, "\x8c\x8e" /* sjis: 月 */, "\x89\xce" /* sjis: 火 */, "\x90\x85" /* sjis: 水 */, "\x96\xd8" /* sjis: 木 */, "\x8b\xe0" /* sjis: 金 */, "\x93y" /* sjis: 土 */};
const char* const kWeekdaysEn[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthsEn[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// ---- dates ----

struct Stamp {
    int Year, Month, Day, Hour, Minute, Second, Weekday;
};

// Days since 1970-01-01 to the civil date (proleptic Gregorian).
Stamp CivilFromMinutes(long long minutes)
{
    long long days = minutes / 1440;
    const int inDay = static_cast<int>(minutes % 1440);
    const int weekday = static_cast<int>((days + 4) % 7);  // 1970-01-01 was a Thursday
    days += 719468;
    const long long era = days / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    return {year, month, day, inDay / 60, inDay % 60, 0, weekday};
}

std::string Rfc2822(const Stamp& s)
{
    return Format("%s, %02d %s %d %02d:%02d:%02d +0900", kWeekdaysEn[s.Weekday], s.Day, kMonthsEn[s.Month - 1], s.Year,
                  s.Hour, s.Minute, s.Second);
}

// ---- texts ----

struct Article {
    const char* Title;
    const char* Lines[3];
};

const Article kArticles[] = {
    {"\x90V\x82\xb5\x82\xa2\x83X\x83}\x81[\x83g\x83t\x83H\x83\x93\x82\xcc\x93" "d\x92r\x8e\x9d\x82\xbf\x82\xf0\x94\xe4\x82\xd7\x82\xc4\x82\xdd\x82\xdc\x82\xb5\x82\xbd" /* sjis: 新しいスマートフォンの電池持ちを比べてみました */,
     {"\x8d\xa1\x94N\x94\xad\x94\x84\x82\xb3\x82\xea\x82\xbd\x8c\xdc\x82\xc2\x82\xcc\x8b@\x8e\xed\x82\xc9\x82\xc2\x82\xa2\x82\xc4\x81" "A\x93\xae\x89\xe6\x82\xf0\x91\xb1\x82\xaf\x82\xc4\x8d\xc4\x90\xb6\x82\xb5\x82\xbd\x82\xc6\x82\xab\x82\xcc\x93" "d\x92r\x82\xcc\x8e\x9d\x82\xbf\x82\xf0\x92\xb2\x82\xd7\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: 今年発売された五つの機種について、動画を続けて再生したときの電池の持ちを調べました。 */,
      "\x88\xea\x94\xd4\x92\xb7\x82\xa9\x82\xc1\x82\xbd\x8b@\x8e\xed\x82\xcd\x8f\x5c\x94\xaa\x8e\x9e\x8a\xd4\x82\xf0\x92\xb4\x82\xa6\x81" "A\x8d\xf0\x94N\x82\xcc\x8b@\x8e\xed\x82\xe6\x82\xe8\x8eO\x8a\x84\x82\xd9\x82\xc7\x90L\x82\xd1\x82\xc4\x82\xa2\x82\xdc\x82\xb7\x81" "B" /* sjis: 一番長かった機種は十八時間を超え、昨年の機種より三割ほど伸びています。 */,
      "\x89\xe6\x96\xca\x82\xcc\x96\xbe\x82\xe9\x82\xb3\x82\xf0\x8f\xad\x82\xb5\x89\xba\x82\xb0\x82\xe9\x82\xbe\x82\xaf\x82\xc5\x82\xe0\x81" "A\x93" "d\x92r\x82\xcc\x8e\x9d\x82\xbf\x82\xcd\x82\xa9\x82\xc8\x82\xe8\x95\xcf\x82\xed\x82\xe8\x82\xdc\x82\xb7\x81" "B" /* sjis: 画面の明るさを少し下げるだけでも、電池の持ちはかなり変わります。 */}},
    {"\x89\xc6\x92\xeb\x82\xc5\x82\xc5\x82\xab\x82\xe9\x83l\x83" "b\x83g\x83\x8f\x81[\x83N\x82\xcc\x8c\xa9\x92\xbc\x82\xb5" /* sjis: 家庭でできるネットワークの見直し */,
     {"\x83\x8b\x81[\x83^\x81[\x82\xcc\x92u\x82\xab\x8f\xea\x8f\x8a\x82\xf0\x95\xcf\x82\xa6\x82\xe9\x82\xbe\x82\xaf\x82\xc5\x81" "A\x92\xca\x90M\x91\xac\x93x\x82\xaa\x91\xe5\x82\xab\x82\xad\x95\xcf\x82\xed\x82\xe9\x82\xb1\x82\xc6\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb7\x81" "B" /* sjis: ルーターの置き場所を変えるだけで、通信速度が大きく変わることがあります。 */,
      "\x8f\xb0\x82\xcc\x8f\xe3\x82\xe2\x92I\x82\xcc\x89\x9c\x82\xcd\x94\xf0\x82\xaf\x81" "A\x89\xc6\x82\xcc\x92\x86\x90S\x82\xc9\x8b\xdf\x82\xa2\x8d\x82\x82\xa2\x8f\xea\x8f\x8a\x82\xc9\x92u\x82\xad\x82\xcc\x82\xaa\x82\xa8\x82\xb7\x82\xb7\x82\xdf\x82\xc5\x82\xb7\x81" "B" /* sjis: 床の上や棚の奥は避け、家の中心に近い高い場所に置くのがおすすめです。 */,
      "\x93" "d\x8eq\x83\x8c\x83\x93\x83W\x82\xcc\x8b\xdf\x82\xad\x82\xe0\x93" "d\x94g\x82\xaa\x8e\xe3\x82\xad\x82\xc8\x82\xe8\x82\xe2\x82\xb7\x82\xa2\x82\xcc\x82\xc5\x92\x8d\x88\xd3\x82\xb5\x82\xdc\x82\xb5\x82\xe5\x82\xa4\x81" "B" /* sjis: 電子レンジの近くも電波が弱くなりやすいので注意しましょう。 */}},
    {"\x83v\x83\x8d\x83O\x83\x89\x83~\x83\x93\x83O\x8b\xb3\x8e\xba\x82\xaa\x90l\x8b" "C\x82\xc5\x82\xb7" /* sjis: プログラミング教室が人気です */,
     {"\x8f\xac\x8aw\x90\xb6\x8c\xfc\x82\xaf\x82\xcc\x83v\x83\x8d\x83O\x83\x89\x83~\x83\x93\x83O\x8b\xb3\x8e\xba\x82\xcc\x90\x5c\x82\xb5\x8d\x9e\x82\xdd\x82\xaa\x91\x9d\x82\xa6\x82\xc4\x82\xa2\x82\xdc\x82\xb7\x81" "B" /* sjis: 小学生向けのプログラミング教室の申し込みが増えています。 */,
      "\x83u\x83\x8d\x83" "b\x83N\x82\xf0\x91g\x82\xdd\x8d\x87\x82\xed\x82\xb9\x82\xc4\x83Q\x81[\x83\x80\x82\xf0\x8d\xec\x82\xe9\x8e\xf6\x8b\xc6\x82\xaa\x93\xc1\x82\xc9\x90l\x8b" "C\x82\xc5\x81" "A" /* sjis: ブロックを組み合わせてゲームを作る授業が特に人気で、 */,
      "\x89\xc4\x8bx\x82\xdd\x82\xcc\x8du\x8d\xc0\x82\xcd\x8e\xf3\x95t\x8aJ\x8en\x82\xa9\x82\xe7\x82\xb7\x82\xae\x82\xc9\x96\x9e\x90\xc8\x82\xc9\x82\xc8\x82\xe8\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: 夏休みの講座は受付開始からすぐに満席になりました。 */}},
    {"\x8c\xc3\x82\xa2\x83p\x83\x5c\x83R\x83\x93\x82\xcc\x8f\xe3\x8e\xe8\x82\xc8\x8f\x88\x95\xaa\x95\xfb\x96@" /* sjis: 古いパソコンの上手な処分方法 */,
     {"\x83p\x83\x5c\x83R\x83\x93\x82\xf0\x8f\x88\x95\xaa\x82\xb7\x82\xe9\x82\xc6\x82\xab\x82\xcd\x81" "A\x82\xdc\x82\xb8\x83" "f\x81[\x83^\x82\xf0\x8a\xae\x91S\x82\xc9\x8f\xc1\x8b\x8e\x82\xb5\x82\xdc\x82\xb5\x82\xe5\x82\xa4\x81" "B" /* sjis: パソコンを処分するときは、まずデータを完全に消去しましょう。 */,
      "\x83\x81\x81[\x83J\x81[\x82\xcc\x89\xf1\x8e\xfb\x83T\x81[\x83r\x83X\x82\xf0\x8eg\x82\xa6\x82\xce\x81" "A\x91\xbd\x82\xad\x82\xcc\x8f\xea\x8d\x87\x82\xcd\x96\xb3\x97\xbf\x82\xc5\x88\xf8\x82\xab\x8e\xe6\x82\xc1\x82\xc4\x82\xe0\x82\xe7\x82\xa6\x82\xdc\x82\xb7\x81" "B" /* sjis: メーカーの回収サービスを使えば、多くの場合は無料で引き取ってもらえます。 */,
      "\x8f\x88\x95\xaa\x82\xcc\x91O\x82\xc9\x81" "A\x8e\xca\x90^\x82\xe2\x8f\x91\x97\xde\x82\xcc\x95\xdb\x91\xb6\x90\xe6\x82\xf0\x82\xe0\x82\xa4\x88\xea\x93x\x8am\x82\xa9\x82\xdf\x82\xc4\x82\xa8\x82\xad\x82\xc6\x88\xc0\x90S\x82\xc5\x82\xb7\x81" "B" /* sjis: 処分の前に、写真や書類の保存先をもう一度確かめておくと安心です。 */}},
    {"\x83\x81\x81[\x83\x8b\x82\xcc\x90\xae\x97\x9d\x8fp" /* sjis: メールの整理術 */,
     {"\x8e\xf3\x90M\x94\xa0\x82\xc9\x82\xbd\x82\xdc\x82\xc1\x82\xbd\x83\x81\x81[\x83\x8b\x82\xcd\x81" "A\x93\xc7\x82\xdc\x82\xb8\x82\xc9\x8f\xc1\x82\xb5\x82\xc4\x82\xe0\x82\xe6\x82\xa2\x82\xe0\x82\xcc\x82\xa9\x82\xe7\x95\xd0\x95t\x82\xaf\x82\xe9\x82\xcc\x82\xaa\x83R\x83" "c\x82\xc5\x82\xb7\x81" "B" /* sjis: 受信箱にたまったメールは、読まずに消してもよいものから片付けるのがコツです。 */,
      "\x8c\x8f\x96\xbc\x82\xc6\x8d\xb7\x8fo\x90l\x82\xbe\x82\xaf\x82\xc5\x94\xbb\x92" "f\x82\xc5\x82\xab\x82\xe9\x83\x81\x81[\x83\x8b\x82\xcd\x81" "A\x88\xd3\x8aO\x82\xc9\x91\xbd\x82\xa2\x82\xe0\x82\xcc\x82\xc5\x82\xb7\x81" "B" /* sjis: 件名と差出人だけで判断できるメールは、意外に多いものです。 */,
      "\x91\xe5\x82\xab\x82\xc8\x93Y\x95t\x83t\x83@\x83" "C\x83\x8b\x95t\x82\xab\x82\xcc\x83\x81\x81[\x83\x8b\x82\xf0\x90\xe6\x82\xc9\x8f\xc1\x82\xb7\x82\xc6\x81" "A\x97" "e\x97\xca\x82\xaa\x82\xb7\x82\xae\x82\xc9\x8b\xf3\x82\xab\x82\xdc\x82\xb7\x81" "B" /* sjis: 大きな添付ファイル付きのメールを先に消すと、容量がすぐに空きます。 */}},
    {"\x83p\x83X\x83\x8f\x81[\x83h\x8a\xc7\x97\x9d\x82\xcc\x82\xb7\x82\xb7\x82\xdf" /* sjis: パスワード管理のすすめ */,
     {"\x93\xaf\x82\xb6\x83p\x83X\x83\x8f\x81[\x83h\x82\xf0\x95\xa1\x90\x94\x82\xcc\x83T\x81[\x83r\x83X\x82\xc5\x8eg\x82\xa2\x89\xf1\x82\xb7\x82\xcc\x82\xcd\x8a\xeb\x8c\xaf\x82\xc5\x82\xb7\x81" "B" /* sjis: 同じパスワードを複数のサービスで使い回すのは危険です。 */,
      "\x83p\x83X\x83\x8f\x81[\x83h\x8a\xc7\x97\x9d\x83\x5c\x83t\x83g\x82\xf0\x8eg\x82\xa6\x82\xce\x81" "A\x92\xb7\x82\xad\x82\xc4\x95\xa1\x8eG\x82\xc8\x83p\x83X\x83\x8f\x81[\x83h\x82\xe0\x8ao\x82\xa6\x82\xe9\x95K\x97v\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x81" "B" /* sjis: パスワード管理ソフトを使えば、長くて複雑なパスワードも覚える必要がありません。 */,
      "\x91\xe5\x90\xd8\x82\xc8\x83" "A\x83J\x83" "E\x83\x93\x83g\x82\xc9\x82\xcd\x81" "A\x93\xf1\x92i\x8aK\x94" "F\x8f\xd8\x82\xe0\x90\xdd\x92\xe8\x82\xb5\x82\xc4\x82\xa8\x82\xab\x82\xdc\x82\xb5\x82\xe5\x82\xa4\x81" "B" /* sjis: 大切なアカウントには、二段階認証も設定しておきましょう。 */}},
    {"\x93" "d\x8eq\x8f\x91\x90\xd0\x83\x8a\x81[\x83_\x81[\x82\xcc\x91I\x82\xd1\x95\xfb" /* sjis: 電子書籍リーダーの選び方 */,
     {"\x89\xe6\x96\xca\x82\xcc\x91\xe5\x82\xab\x82\xb3\x81" "A\x8f" "d\x82\xb3\x81" "A\x91\xce\x89\x9e\x82\xb5\x82\xc4\x82\xa2\x82\xe9\x8f\x91\x93X\x82\xcc\x8eO\x82\xc2\x82\xaa\x91I\x82\xd4\x82\xc6\x82\xab\x82\xcc\x83|\x83" "C\x83\x93\x83g\x82\xc5\x82\xb7\x81" "B" /* sjis: 画面の大きさ、重さ、対応している書店の三つが選ぶときのポイントです。 */,
      "\x92\xca\x8b\xce\x92\x86\x82\xc9\x93\xc7\x82\xde\x82\xc8\x82\xe7\x81" "A\x95\xd0\x8e\xe8\x82\xc5\x8e\x9d\x82\xc4\x82\xe9\x8cy\x82\xa2\x82\xe0\x82\xcc\x82\xaa\x95\xd6\x97\x98\x82\xc5\x82\xb7\x81" "B" /* sjis: 通勤中に読むなら、片手で持てる軽いものが便利です。 */,
      "\x96h\x90\x85\x82\xcc\x8b@\x8e\xed\x82\xc8\x82\xe7\x81" "A\x82\xa8\x95\x97\x98" "C\x82\xc5\x82\xe0\x88\xc0\x90S\x82\xb5\x82\xc4\x93\xc7\x8f\x91\x82\xf0\x8ay\x82\xb5\x82\xdf\x82\xdc\x82\xb7\x81" "B" /* sjis: 防水の機種なら、お風呂でも安心して読書を楽しめます。 */}},
    {"\x8fT\x96\x96\x82\xcc\x82\xa8\x82\xb7\x82\xb7\x82\xdf\x83" "A\x83v\x83\x8a" /* sjis: 週末のおすすめアプリ */,
     {"\x8d\xa1\x8fT\x82\xcd\x81" "A\x8eU\x95\xe0\x82\xcc\x8bL\x98^\x82\xf0\x92n\x90}\x82\xc9\x8e" "c\x82\xb9\x82\xe9\x83" "A\x83v\x83\x8a\x82\xf0\x8f\xd0\x89\xee\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: 今週は、散歩の記録を地図に残せるアプリを紹介します。 */,
      "\x95\xe0\x82\xa2\x82\xbd\x93\xb9\x82\xaa\x90" "F\x95t\x82\xab\x82\xc5\x95\x5c\x8e\xa6\x82\xb3\x82\xea\x82\xe9\x82\xcc\x82\xc5\x81" "A\x8b\xdf\x8f\x8a\x82\xcc\x92m\x82\xe7\x82\xc8\x82\xa2\x93\xb9\x82\xf0\x92T\x82\xb7\x82\xcc\x82\xaa\x8ay\x82\xb5\x82\xad\x82\xc8\x82\xe8\x82\xdc\x82\xb7\x81" "B" /* sjis: 歩いた道が色付きで表示されるので、近所の知らない道を探すのが楽しくなります。 */,
      "\x8bG\x90\xdf\x82\xcc\x89\xd4\x82\xcc\x8e\xca\x90^\x82\xf0\x92n\x90}\x82\xc9\x93\x5c\x82\xe8\x95t\x82\xaf\x82\xe9\x82\xb1\x82\xc6\x82\xe0\x82\xc5\x82\xab\x82\xdc\x82\xb7\x81" "B" /* sjis: 季節の花の写真を地図に貼り付けることもできます。 */}},
};

const char* const kRule = "\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa\x84\xaa" /* sjis: ━━━━━━━━━━━━━━━━━━━━━━━━ */;

struct Item {
    const char* Name;
    int Price;
};
const Item kItems[] = {
    {"\x97\xce\x92\x83\x83" "e\x83" "B\x81[\x83o\x83" "b\x83O\x81i\x8c\xdc\x8f\x5c\x91\xdc\x93\xfc\x82\xe8\x81j" /* sjis: 緑茶ティーバッグ（五十袋入り） */, 980}, {"\x97L\x93" "c\x8f\xc4\x82\xcc\x93\x92\x82\xcc\x82\xdd" /* sjis: 有田焼の湯のみ */, 2400}, {"\x8e\xe8\x82\xca\x82\xae\x82\xa2\x81i\x8d\xf7\x95\xbf\x81j" /* sjis: 手ぬぐい（桜柄） */, 1100},
    {"\x8cI\x82\xe6\x82\xa4\x82\xa9\x82\xf1" /* sjis: 栗ようかん */, 1500},                   {"\x82\xd9\x82\xa4\x82\xb6\x92\x83\x81i\x95S\x83O\x83\x89\x83\x80\x81j" /* sjis: ほうじ茶（百グラム） */, 800}, {"\x96\xd8\x82\xcc\x82\xa8\x94\xa2\x81@\x93\xf1\x91V\x83Z\x83" "b\x83g" /* sjis: 木のお箸　二膳セット */, 1800},
};

const char* const kParties[] = {"\x8a\xbd\x8c}\x89\xef" /* sjis: 歓迎会 */, "\x96Y\x94N\x89\xef" /* sjis: 忘年会 */, "\x90V\x94N\x89\xef" /* sjis: 新年会 */, "\x8f\x8b\x8b" "C\x95\xa5\x82\xa2" /* sjis: 暑気払い */, "\x91\x97\x95\xca\x89\xef" /* sjis: 送別会 */};
const char* const kBooks[] = {"\x82\xe2\x82\xb3\x82\xb5\x82\xa2\x93\xfa\x96{\x8c\xea\x82\xcc\x95\xb6\x96@" /* sjis: やさしい日本語の文法 */, "\x82\xcd\x82\xb6\x82\xdf\x82\xc4\x82\xcc\x89\xc6\x92\xeb\x8d\xd8\x89\x80" /* sjis: はじめての家庭菜園 */, "\x90\xa2\x8a" "E\x82\xcc\x93S\x93\xb9\x97\xb7\x8ds" /* sjis: 世界の鉄道旅行 */,
                              "\x94L\x82\xc6\x95\xe9\x82\xe7\x82\xb7\x96{" /* sjis: 猫と暮らす本 */, "\x90\xaf\x8b\xf3\x82\xcc\x8c\xa9\x82\xc2\x82\xaf\x95\xfb" /* sjis: 星空の見つけ方 */};
const char* const kDishes[] = {"\x93\xf7\x82\xb6\x82\xe1\x82\xaa" /* sjis: 肉じゃが */, "\x90" "e\x8eq\x98\xa5" /* sjis: 親子丼 */, "\x8d\xf8\x82\xcc\x90\x86\x82\xab\x8d\x9e\x82\xdd\x82\xb2\x94\xd1" /* sjis: 鮭の炊き込みご飯 */, "\x92\x83\x82\xed\x82\xf1\x8f\xf6\x82\xb5" /* sjis: 茶わん蒸し */,
                               "\x82\xa9\x82\xda\x82\xbf\x82\xe1\x82\xcc\x8e\xcf\x95\xa8" /* sjis: かぼちゃの煮物 */};
const char* const kTopics[] = {"\x95\xb6\x8e\x9a\x83R\x81[\x83h\x82\xcc\x8a\xee\x91" "b" /* sjis: 文字コードの基礎 */, "\x90\xb3\x8bK\x95\x5c\x8c\xbb\x93\xfc\x96\xe5" /* sjis: 正規表現入門 */, "\x83" "e\x83X\x83g\x82\xcc\x8f\x91\x82\xab\x95\xfb" /* sjis: テストの書き方 */, "\x83\x81\x81[\x83\x8b\x82\xcc\x8e" "d\x91g\x82\xdd" /* sjis: メールの仕組み */};
constexpr int kMailTopic = 3;  // its handout shows a POP3 dialogue, with lines of a single "."
constexpr int kStudyWithDots = 11;

struct PersonalNote {
    const char* Subject;
    const char* Lines[2];
};
const PersonalNote kNotes[] = {
    {"\x82\xa8\x92" "a\x90\xb6\x93\xfa\x82\xa8\x82\xdf\x82\xc5\x82\xc6\x82\xa4\x82\xb2\x82\xb4\x82\xa2\x82\xdc\x82\xb7" /* sjis: お誕生日おめでとうございます */,
     {"\x82\xa8\x92" "a\x90\xb6\x93\xfa\x82\xa8\x82\xdf\x82\xc5\x82\xc6\x82\xa4\x82\xb2\x82\xb4\x82\xa2\x82\xdc\x82\xb7\x81I" /* sjis: お誕生日おめでとうございます！ */, "\x91" "f\x93G\x82\xc8\x88\xea\x94N\x82\xc9\x82\xc8\x82\xe8\x82\xdc\x82\xb7\x82\xe6\x82\xa4\x82\xc9\x81" "B\x82\xb3\x82\xb3\x82\xe2\x82\xa9\x82\xc5\x82\xb7\x82\xaa\x81" "A\x82\xa8\x8fj\x82\xa2\x82\xf0\x91\x97\x82\xe8\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: 素敵な一年になりますように。ささやかですが、お祝いを送りました。 */}},
    {"\x97\xb7\x8ds\x82\xcc\x82\xa8\x82\xdd\x82\xe2\x82\xb0\x82\xf0\x93n\x82\xb5\x82\xbd\x82\xa2\x82\xc5\x82\xb7" /* sjis: 旅行のおみやげを渡したいです */,
     {"\x90\xe6\x8fT\x81" "A\x8b\x9e\x93s\x82\xd6\x97\xb7\x8ds\x82\xc9\x8ds\x82\xc1\x82\xc4\x82\xab\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: 先週、京都へ旅行に行ってきました。 */, "\x82\xa8\x82\xdd\x82\xe2\x82\xb0\x82\xc9\x94\xaa\x82\xc2\x8b\xb4\x82\xf0\x94\x83\x82\xc1\x82\xc4\x82\xab\x82\xbd\x82\xcc\x82\xc5\x81" "A\x8d\xa1\x93x\x82\xa8\x93n\x82\xb5\x82\xb5\x82\xdc\x82\xb7\x82\xcb\x81" "B" /* sjis: おみやげに八つ橋を買ってきたので、今度お渡ししますね。 */}},
    {"\x8fT\x96\x96\x82\xcc\x97\x5c\x92\xe8\x82\xc9\x82\xc2\x82\xa2\x82\xc4" /* sjis: 週末の予定について */,
     {"\x8d\xa1\x93x\x82\xcc\x93y\x97j\x93\xfa\x81" "A\x93V\x8b" "C\x82\xaa\x82\xe6\x82\xaf\x82\xea\x82\xce\x8c\xf6\x89\x80\x82\xc5\x8e\xca\x90^\x82\xf0\x8e" "B\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x82\xa9\x81" "B" /* sjis: 今度の土曜日、天気がよければ公園で写真を撮りませんか。 */, "\x82\xa8\x92\x8b\x82\xcd\x82\xa8\x95\xd9\x93\x96\x82\xf0\x8e\x9d\x82\xc1\x82\xc4\x8ds\x82\xab\x82\xdc\x82\xb5\x82\xe5\x82\xa4\x81" "B" /* sjis: お昼はお弁当を持って行きましょう。 */}},
    {"\x82\xa8\x8e\xd8\x82\xe8\x82\xb5\x82\xbd\x96{\x82\xcc\x82\xa8\x97\xe7" /* sjis: お借りした本のお礼 */,
     {"\x90\xe6\x93\xfa\x82\xa8\x8e\xd8\x82\xe8\x82\xb5\x82\xbd\x96{\x81" "A\x82\xc6\x82\xc4\x82\xe0\x96\xca\x94\x92\x82\xad\x82\xc4\x88\xea\x8b" "C\x82\xc9\x93\xc7\x82\xf1\x82\xc5\x82\xb5\x82\xdc\x82\xa2\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: 先日お借りした本、とても面白くて一気に読んでしまいました。 */, "\x8e\x9f\x82\xc9\x89\xef\x82\xa4\x82\xc6\x82\xab\x82\xc9\x82\xa8\x95\xd4\x82\xb5\x82\xb5\x82\xdc\x82\xb7\x81" "B\x82\xa0\x82\xe8\x82\xaa\x82\xc6\x82\xa4\x82\xb2\x82\xb4\x82\xa2\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: 次に会うときにお返しします。ありがとうございました。 */}},
};

// ---- the message kinds ----

enum class Kind {
    Newsletter, Meeting, Reply, Order, Shipping, Maintenance, Party, Library, Cooking, Study, Personal,
    BuildReport, Invitation, ParcelNotice, Lunch,
    Welcome, SalesSheet, Minutes, Photos, AccessLog, KanaNote,
};

// How often each ordinary kind turns up.
const Kind kOrdinary[] = {
    Kind::Newsletter, Kind::Newsletter, Kind::Newsletter, Kind::Meeting,     Kind::Meeting,
    Kind::Reply,      Kind::Reply,      Kind::Order,      Kind::Order,       Kind::Shipping,
    Kind::Shipping,   Kind::Maintenance, Kind::Party,     Kind::Library,     Kind::Cooking,
    Kind::Study,      Kind::Personal,   Kind::Personal,   Kind::BuildReport, Kind::Invitation,
    Kind::ParcelNotice, Kind::Lunch,
};

// What a message is made from. Kind builders fill it; Build makes the raw message.
struct Draft {
    Draft() = default;
    Draft(const Person* from, std::string subject, Lines text, BodyCode code = BodyCode::Jis,
          std::vector<DemoAttachment> attachments = {}, std::string attachmentType = {})
        : From(from), Subject(std::move(subject)), Text(std::move(text)), Code(code),
          Attachments(std::move(attachments)), AttachmentType(std::move(attachmentType))
    {
    }

    const Person* From = nullptr;
    std::string Subject;
    Lines Text;
    BodyCode Code = BodyCode::Jis;  // Japanese drafts get their charset later
    std::vector<DemoAttachment> Attachments;
    std::string AttachmentType;
    Form Kind = Form::Classic;
};

std::string MonthDay(const Stamp& s) { return Format("%d\x8c\x8e%d\x93\xfa" /* sjis: %d月%d日 */, s.Month, s.Day); }

void Append(Lines& text, std::initializer_list<std::string> more) { text.insert(text.end(), more); }

Draft Newsletter(Rng& rng, int issue)
{
    const bool special = issue % 10 == 0;
    Draft d{&kNewsDesk,
            special ? Format("\x81y\x8fT\x8a\xa7\x83" "e\x83" "b\x83N\x83j\x83\x85\x81[\x83X\x81z\x91\xe6%d\x8d\x86 \x91\x9d\x8a\xa7\x8d\x86\x81@\x82\xdc\x82\xc6\x82\xdf\x82\xc4\x93\xc7\x82\xde\x93\xc1\x8fW" /* sjis: 【週刊テックニュース】第%d号 増刊号　まとめて読む特集 */, issue)
                    : Format("\x81y\x8fT\x8a\xa7\x83" "e\x83" "b\x83N\x83j\x83\x85\x81[\x83X\x81z\x91\xe6%d\x8d\x86 \x8d\xa1\x8fT\x82\xcc\x92\x8d\x96\xda\x8bL\x8e\x96" /* sjis: 【週刊テックニュース】第%d号 今週の注目記事 */, issue),
            {Format("\x8fT\x8a\xa7\x83" "e\x83" "b\x83N\x83j\x83\x85\x81[\x83X\x81@\x91\xe6%d\x8d\x86" /* sjis: 週刊テックニュース　第%d号 */, issue), kRule,
             "\x82\xa2\x82\xc2\x82\xe0\x8fT\x8a\xa7\x83" "e\x83" "b\x83N\x83j\x83\x85\x81[\x83X\x82\xf0\x82\xb2\x8dw\x93\xc7\x82\xa2\x82\xbd\x82\xbe\x82\xab\x81" "A\x82\xa0\x82\xe8\x82\xaa\x82\xc6\x82\xa4\x82\xb2\x82\xb4\x82\xa2\x82\xdc\x82\xb7\x81" "B" /* sjis: いつも週刊テックニュースをご購読いただき、ありがとうございます。 */,
             special ? "\x8d\xa1\x89\xf1\x82\xcd\x91\x9d\x8a\xa7\x8d\x86\x82\xc6\x82\xb5\x82\xc4\x81" "A\x82\xb1\x82\xea\x82\xdc\x82\xc5\x82\xcc\x90l\x8b" "C\x8bL\x8e\x96\x82\xf0\x82\xdc\x82\xc6\x82\xdf\x82\xc4\x82\xa8\x93\xcd\x82\xaf\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: 今回は増刊号として、これまでの人気記事をまとめてお届けします。 */
                     : "\x8d\xa1\x8fT\x82\xcc\x92\x8d\x96\xda\x8bL\x8e\x96\x82\xf0\x82\xa8\x93\xcd\x82\xaf\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: 今週の注目記事をお届けします。 */,
             ""}};
    const int articles = special ? rng.Between(30, 60) : rng.Between(3, 8);
    for (int i = 0; i < articles; ++i) {
        const Article& a = rng.Pick(kArticles);
        d.Text.push_back(Format("\x81\xa1 %d. %s" /* sjis: ■ %d. %s */, i + 1, a.Title));
        Append(d.Text, {a.Lines[0], a.Lines[1], a.Lines[2], ""});
    }
    Append(d.Text, {kRule, "\x94z\x90M\x82\xcc\x92\xe2\x8e~\x81" "E\x93o\x98^\x93\xe0\x97" "e\x82\xcc\x95\xcf\x8dX\x82\xcd\x82\xb1\x82\xbf\x82\xe7\x82\xa9\x82\xe7" /* sjis: 配信の停止・登録内容の変更はこちらから */, "https://news.example.jp/settings",
                    "\x94\xad\x8ds\x81" "F\x8fT\x8a\xa7\x83" "e\x83" "b\x83N\x83j\x83\x85\x81[\x83X\x95\xd2\x8fW\x95\x94" /* sjis: 発行：週刊テックニュース編集部 */});
    return d;
}

Draft Meeting(Rng& rng, const Stamp& when)
{
    const std::string day = MonthDay(when);
    const int floor = rng.Between(2, 8), room = rng.Between(1, 3);  // one by one: argument order is unspecified
    return {&kGeneralAffairs,
            Format("\x92\xe8\x97\xe1\x89\xef\x8b" "c\x82\xcc\x82\xa8\x92m\x82\xe7\x82\xb9\x81i%s\x81j" /* sjis: 定例会議のお知らせ（%s） */, day.c_str()),
            {"\x8a\xd6\x8cW\x8e\xd2\x8a" "e\x88\xca" /* sjis: 関係者各位 */, "", "\x82\xa8\x94\xe6\x82\xea\x97l\x82\xc5\x82\xb7\x81" "B\x91\x8d\x96\xb1\x95\x94\x82\xcc\x92\x86\x91\xba\x82\xc5\x82\xb7\x81" "B" /* sjis: お疲れ様です。総務部の中村です。 */,
             Format("%s\x82\xcc\x92\xe8\x97\xe1\x89\xef\x8b" "c\x82\xc9\x82\xc2\x82\xa2\x82\xc4\x81" "A\x89\xba\x8bL\x82\xcc\x82\xc6\x82\xa8\x82\xe8\x82\xb2\x88\xc4\x93\xe0\x82\xa2\x82\xbd\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: %sの定例会議について、下記のとおりご案内いたします。 */, day.c_str()), "",
             Format("\x93\xfa\x8e\x9e\x81" "F%s\x81i%s\x81j14\x8e\x9e\x82\xa9\x82\xe7" "15\x8e\x9e" "30\x95\xaa" /* sjis: 日時：%s（%s）14時から15時30分 */, day.c_str(), kWeekdays[when.Weekday]),
             Format("\x8f\xea\x8f\x8a\x81" "F\x96{\x8e\xd0%d\x8aK\x81@\x91\xe6%d\x89\xef\x8b" "c\x8e\xba" /* sjis: 場所：本社%d階　第%d会議室 */, floor, room), "\x8b" "c\x91\xe8\x81" "F" /* sjis: 議題： */,
             "\x81@\x81" "E\x91O\x89\xf1\x82\xcc\x8b" "c\x8e\x96\x98^\x82\xcc\x8am\x94" "F" /* sjis: 　・前回の議事録の確認 */, "\x81@\x81" "E\x8a" "e\x95\x94\x8f\x90\x82\xa9\x82\xe7\x82\xcc\x95\xf1\x8d\x90" /* sjis: 　・各部署からの報告 */, "\x81@\x81" "E\x97\x88\x8c\x8e\x82\xcc\x8ds\x8e\x96\x97\x5c\x92\xe8\x82\xc9\x82\xc2\x82\xa2\x82\xc4" /* sjis: 　・来月の行事予定について */, "",
             "\x8e\x91\x97\xbf\x82\xcd\x91O\x93\xfa\x82\xdc\x82\xc5\x82\xc9\x82\xa8\x91\x97\x82\xe8\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: 資料は前日までにお送りします。 */, "\x8c\x87\x90\xc8\x82\xb3\x82\xea\x82\xe9\x8f\xea\x8d\x87\x82\xcd\x81" "A\x91O\x93\xfa\x82\xdc\x82\xc5\x82\xc9\x82\xb2\x98" "A\x97\x8d\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "B" /* sjis: 欠席される場合は、前日までにご連絡ください。 */, "",
             kGeneralAffairs.Signature}};
}

Draft Reply(Rng& rng)
{
    const Person& from = rng.Pick(kPeople);
    return {&from,
            "Re: \x97\x88\x8fT\x82\xcc\x91\xc5\x82\xbf\x8d\x87\x82\xed\x82\xb9\x93\xfa\x92\xf6\x82\xc9\x82\xc2\x82\xa2\x82\xc4" /* sjis: Re: 来週の打ち合わせ日程について */,
            {kDear, "", Format("\x82\xa8\x90\xa2\x98" "b\x82\xc9\x82\xc8\x82\xc1\x82\xc4\x82\xa8\x82\xe8\x82\xdc\x82\xb7\x81" "B%s\x82\xc5\x82\xb7\x81" "B" /* sjis: お世話になっております。%sです。 */, from.Signature),
             "\x93\xfa\x92\xf6\x82\xcc\x82\xb2\x98" "A\x97\x8d\x82\xa0\x82\xe8\x82\xaa\x82\xc6\x82\xa4\x82\xb2\x82\xb4\x82\xa2\x82\xdc\x82\xb7\x81" "B" /* sjis: 日程のご連絡ありがとうございます。 */, "",
             Format("%s\x97j\x93\xfa\x82\xcc\x8c\xdf\x8c\xe3\x82\xc5\x82\xa0\x82\xea\x82\xce\x81" "A\x82\xc7\x82\xcc\x8e\x9e\x8a\xd4\x82\xc5\x82\xe0\x91\xe5\x8f\xe4\x95v\x82\xc5\x82\xb7\x81" "B" /* sjis: %s曜日の午後であれば、どの時間でも大丈夫です。 */, kWeekdays[rng.Between(1, 5)]),
             "\x8f\xea\x8f\x8a\x82\xcd\x91O\x89\xf1\x82\xc6\x93\xaf\x82\xb6\x89\xef\x8b" "c\x8e\xba\x82\xc5\x82\xe6\x82\xeb\x82\xb5\x82\xa2\x82\xc5\x82\xb5\x82\xe5\x82\xa4\x82\xa9\x81" "B" /* sjis: 場所は前回と同じ会議室でよろしいでしょうか。 */, "", "\x82\xe6\x82\xeb\x82\xb5\x82\xad\x82\xa8\x8a\xe8\x82\xa2\x82\xa2\x82\xbd\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: よろしくお願いいたします。 */, "",
             "> \x97\x88\x8fT\x82\xcc\x91\xc5\x82\xbf\x8d\x87\x82\xed\x82\xb9\x82\xc5\x82\xb7\x82\xaa\x81" "A\x82\xb2\x93s\x8d\x87\x82\xcc\x82\xe6\x82\xa2\x93\xfa\x8e\x9e\x82\xf0" /* sjis: > 来週の打ち合わせですが、ご都合のよい日時を */, "> \x8b\xb3\x82\xa6\x82\xc4\x82\xa2\x82\xbd\x82\xbe\x82\xaf\x82\xdc\x82\xb7\x82\xc5\x82\xb5\x82\xe5\x82\xa4\x82\xa9\x81" "B" /* sjis: > 教えていただけますでしょうか。 */}};
}

Draft Order(Rng& rng, const Stamp& when, int number)
{
    Draft d{&kShop,
            Format("\x82\xb2\x92\x8d\x95\xb6\x82\xa0\x82\xe8\x82\xaa\x82\xc6\x82\xa4\x82\xb2\x82\xb4\x82\xa2\x82\xdc\x82\xb7\x81i\x92\x8d\x95\xb6\x94\xd4\x8d\x86 %d\x81j" /* sjis: ご注文ありがとうございます（注文番号 %d） */, number),
            {kDear, "", "\x82\xb1\x82\xcc\x82\xbd\x82\xd1\x82\xcd\x81" "A\x82\xb3\x82\xad\x82\xe7\x83I\x83\x93\x83\x89\x83" "C\x83\x93\x83V\x83\x87\x83" "b\x83v\x82\xf0\x82\xb2\x97\x98\x97p\x82\xa2\x82\xbd\x82\xbe\x82\xab\x81" "A" /* sjis: このたびは、さくらオンラインショップをご利用いただき、 */, "\x82\xdc\x82\xb1\x82\xc6\x82\xc9\x82\xa0\x82\xe8\x82\xaa\x82\xc6\x82\xa4\x82\xb2\x82\xb4\x82\xa2\x82\xdc\x82\xb7\x81" "B" /* sjis: まことにありがとうございます。 */,
             "\x88\xc8\x89\xba\x82\xcc\x93\xe0\x97" "e\x82\xc5\x82\xb2\x92\x8d\x95\xb6\x82\xf0\x8f\xb3\x82\xe8\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: 以下の内容でご注文を承りました。 */, "", kRule, Format("\x82\xb2\x92\x8d\x95\xb6\x94\xd4\x8d\x86\x81" "F%d" /* sjis: ご注文番号：%d */, number),
             Format("\x82\xb2\x92\x8d\x95\xb6\x93\xfa\x81@\x81" "F%d\x94N%s" /* sjis: ご注文日　：%d年%s */, when.Year, MonthDay(when).c_str()), kRule}};
    int total = 500;  // shipping
    const int items = rng.Between(1, 4);
    for (int i = 0; i < items; ++i) {
        const Item& item = rng.Pick(kItems);
        const int pieces = rng.Between(1, 3);
        d.Text.push_back(Format("%s\x81@%d\x8c\xc2\x81@%d\x89~" /* sjis: %s　%d個　%d円 */, item.Name, pieces, item.Price * pieces));
        total += item.Price * pieces;
    }
    Append(d.Text, {"\x91\x97\x97\xbf\x81@500\x89~" /* sjis: 送料　500円 */, Format("\x8d\x87\x8cv\x81@%d\x89~" /* sjis: 合計　%d円 */, total), "",
                    "\x8f\xa4\x95i\x82\xcc\x94\xad\x91\x97\x8f\x80\x94\xf5\x82\xaa\x90\xae\x82\xa2\x82\xb5\x82\xbe\x82\xa2\x81" "A\x89\xfc\x82\xdf\x82\xc4\x82\xb2\x98" "A\x97\x8d\x82\xa2\x82\xbd\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: 商品の発送準備が整いしだい、改めてご連絡いたします。 */, "", kShop.Signature,
                    "https://shop.example.jp/"});
    return d;
}

Draft Shipping(Rng& rng, int number)
{
    return {&kShop,
            Format("\x8f\xa4\x95i\x94\xad\x91\x97\x82\xcc\x82\xa8\x92m\x82\xe7\x82\xb9\x81i\x92\x8d\x95\xb6\x94\xd4\x8d\x86 %d\x81j" /* sjis: 商品発送のお知らせ（注文番号 %d） */, number),
            {kDear, "", "\x82\xb2\x92\x8d\x95\xb6\x82\xa2\x82\xbd\x82\xbe\x82\xa2\x82\xbd\x8f\xa4\x95i\x82\xf0\x96{\x93\xfa\x94\xad\x91\x97\x82\xa2\x82\xbd\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: ご注文いただいた商品を本日発送いたしました。 */, "\x82\xa8\x93\xcd\x82\xaf\x82\xdc\x82\xc5\x93\xf1\x81" "A\x8eO\x93\xfa\x82\xd9\x82\xc7\x82\xa8\x91\xd2\x82\xbf\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "B" /* sjis: お届けまで二、三日ほどお待ちください。 */, "",
             Format("\x82\xa8\x96\xe2\x82\xa2\x8d\x87\x82\xed\x82\xb9\x94\xd4\x8d\x86\x81" "F%d-%04d" /* sjis: お問い合わせ番号：%d-%04d */, rng.Between(1000, 9999), number % 10000),
             "\x94z\x91\x97\x8b\xc6\x8e\xd2\x81" "F\x82\xe2\x82\xdc\x82\xd1\x82\xb1\x89^\x97" "A" /* sjis: 配送業者：やまびこ運輸 */, "", "\x8f\xa4\x95i\x82\xcc\x93\x9e\x92\x85\x82\xdc\x82\xc5\x81" "A\x8d\xa1\x82\xb5\x82\xce\x82\xe7\x82\xad\x82\xa8\x91\xd2\x82\xbf\x82\xad\x82\xbe\x82\xb3\x82\xa2\x82\xdc\x82\xb9\x81" "B" /* sjis: 商品の到着まで、今しばらくお待ちくださいませ。 */, "", kShop.Signature}};
}

Draft Maintenance(const Stamp& when)
{
    const std::string day = MonthDay(when);
    return {&kAdmin,
            Format("\x83V\x83X\x83" "e\x83\x80\x83\x81\x83\x93\x83" "e\x83i\x83\x93\x83X\x82\xcc\x82\xa8\x92m\x82\xe7\x82\xb9\x81i%s\x81j" /* sjis: システムメンテナンスのお知らせ（%s） */, day.c_str()),
            {"\x97\x98\x97p\x8e\xd2\x8a" "e\x88\xca" /* sjis: 利用者各位 */, "", "\x83V\x83X\x83" "e\x83\x80\x8a\xc7\x97\x9d\x8e\xd2\x82\xc5\x82\xb7\x81" "B" /* sjis: システム管理者です。 */, "\x89\xba\x8bL\x82\xcc\x93\xfa\x92\xf6\x82\xc5\x83\x81\x81[\x83\x8b\x83T\x81[\x83o\x81[\x82\xcc\x83\x81\x83\x93\x83" "e\x83i\x83\x93\x83X\x82\xf0\x8ds\x82\xa2\x82\xdc\x82\xb7\x81" "B" /* sjis: 下記の日程でメールサーバーのメンテナンスを行います。 */, "",
             Format("\x93\xfa\x8e\x9e\x81" "F%s\x81@22\x8e\x9e\x82\xa9\x82\xe7\x97\x82" "2\x8e\x9e\x82\xdc\x82\xc5" /* sjis: 日時：%s　22時から翌2時まで */, day.c_str()), "\x93\xe0\x97" "e\x81" "F\x83T\x81[\x83o\x81[\x82\xcc\x83\x5c\x83t\x83g\x83" "E\x83" "F\x83" "A\x8dX\x90V" /* sjis: 内容：サーバーのソフトウェア更新 */,
             "\x89" "e\x8b\xbf\x81" "F\x8d\xec\x8b\xc6\x92\x86\x82\xcd\x83\x81\x81[\x83\x8b\x82\xcc\x91\x97\x8e\xf3\x90M\x82\xaa\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81" "B" /* sjis: 影響：作業中はメールの送受信ができません。 */, "", "\x82\xb2\x95s\x95\xd6\x82\xf0\x82\xa8\x82\xa9\x82\xaf\x82\xb5\x82\xdc\x82\xb7\x82\xaa\x81" "A\x82\xb2\x8b\xa6\x97\xcd\x82\xf0\x82\xa8\x8a\xe8\x82\xa2\x82\xa2\x82\xbd\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: ご不便をおかけしますが、ご協力をお願いいたします。 */}};
}

Draft Party(Rng& rng, const Stamp& when)
{
    const Person& from = rng.Pick(kPeople);
    const char* party = rng.Pick(kParties);
    return {&from,
            Format("\x81y\x8fo\x8c\x87\x8am\x94" "F\x81z%s\x82\xcc\x82\xb2\x88\xc4\x93\xe0" /* sjis: 【出欠確認】%sのご案内 */, party),
            {"\x8a" "F\x82\xb3\x82\xdc" /* sjis: 皆さま */, "", Format("\x82\xa8\x94\xe6\x82\xea\x97l\x82\xc5\x82\xb7\x81" "B%s\x82\xc5\x82\xb7\x81" "B" /* sjis: お疲れ様です。%sです。 */, from.Signature),
             Format("%s\x82\xf0\x89\xba\x8bL\x82\xcc\x82\xc6\x82\xa8\x82\xe8\x8aJ\x8d\xc3\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: %sを下記のとおり開催します。 */, party), "",
             Format("\x93\xfa\x8e\x9e\x81" "F%s\x81i%s\x81j19\x8e\x9e\x82\xa9\x82\xe7" /* sjis: 日時：%s（%s）19時から */, MonthDay(when).c_str(), kWeekdays[when.Weekday]),
             "\x8f\xea\x8f\x8a\x81" "F\x98" "a\x90H\x8f\x88\x82\xb3\x82\xad\x82\xe7\x81i\x89w\x91O\x92\xca\x82\xe8\x81j" /* sjis: 場所：和食処さくら（駅前通り） */, Format("\x89\xef\x94\xef\x81" "F%d\x89~" /* sjis: 会費：%d円 */, rng.Between(3, 6) * 1000), "",
             "\x8fo\x8c\x87\x82\xf0\x8d\xa1\x8fT\x92\x86\x82\xc9\x82\xa8\x92m\x82\xe7\x82\xb9\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "B" /* sjis: 出欠を今週中にお知らせください。 */, "\x82\xbd\x82\xad\x82\xb3\x82\xf1\x82\xcc\x82\xb2\x8eQ\x89\xc1\x82\xf0\x82\xa8\x91\xd2\x82\xbf\x82\xb5\x82\xc4\x82\xa2\x82\xdc\x82\xb7\x81" "B" /* sjis: たくさんのご参加をお待ちしています。 */}};
}

Draft Library(Rng& rng, const Stamp& when)
{
    return {&kLibrary,
            "\x97\x5c\x96\xf1\x8e\x91\x97\xbf\x82\xcc\x82\xb2\x97p\x88\xd3\x82\xaa\x82\xc5\x82\xab\x82\xdc\x82\xb5\x82\xbd" /* sjis: 予約資料のご用意ができました */,
            {kDear, "", "\x82\xdd\x82\xc7\x82\xe8\x8es\x97\xa7\x90}\x8f\x91\x8a\xd9\x82\xc5\x82\xb7\x81" "B" /* sjis: みどり市立図書館です。 */, "\x82\xb2\x97\x5c\x96\xf1\x82\xa2\x82\xbd\x82\xbe\x82\xa2\x82\xbd\x8e\x91\x97\xbf\x82\xcc\x8f\x80\x94\xf5\x82\xaa\x82\xc5\x82\xab\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: ご予約いただいた資料の準備ができました。 */, "",
             Format("\x8e\x91\x97\xbf\x96\xbc\x81" "F\x81u%s\x81v" /* sjis: 資料名：「%s」 */, rng.Pick(kBooks)), "\x8e\xf3\x8e\xe6\x8a\xd9\x81" "F\x92\x86\x89\x9b\x90}\x8f\x91\x8a\xd9" /* sjis: 受取館：中央図書館 */,
             Format("\x8e\xe6\x92u\x8a\xfa\x8c\xc0\x81" "F%d\x8c\x8e%d\x93\xfa\x82\xdc\x82\xc5" /* sjis: 取置期限：%d月%d日まで */, when.Month, std::min(when.Day + 7, 28)), "",
             "\x8a\xfa\x8c\xc0\x82\xf0\x89\xdf\x82\xac\x82\xdc\x82\xb7\x82\xc6\x81" "A\x8e\x9f\x82\xc9\x82\xb2\x97\x5c\x96\xf1\x82\xcc\x95\xfb\x82\xd6\x82\xa8\x89\xf1\x82\xb5\x82\xb5\x82\xdc\x82\xb7\x82\xcc\x82\xc5\x82\xb2\x92\x8d\x88\xd3\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "B" /* sjis: 期限を過ぎますと、次にご予約の方へお回ししますのでご注意ください。 */}};
}

Draft Cooking(Rng& rng, const Stamp& when)
{
    return {&kCooking,
            Format("\x81y\x97\xbf\x97\x9d\x8b\xb3\x8e\xba\x82\xbd\x82\xdc\x82\xb2\x81z%d\x8c\x8e\x82\xcc\x83\x8c\x83V\x83s" /* sjis: 【料理教室たまご】%d月のレシピ */, when.Month),
            {"\x97\xbf\x97\x9d\x8b\xb3\x8e\xba\x82\xbd\x82\xdc\x82\xb2\x82\xcc\x89\xef\x88\xf5\x82\xcc\x8a" "F\x82\xb3\x82\xdc" /* sjis: 料理教室たまごの会員の皆さま */, "", Format("\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\x81" "B%d\x8c\x8e\x82\xcc\x83\x8c\x83V\x83s\x82\xf0\x82\xa8\x93\xcd\x82\xaf\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: こんにちは。%d月のレシピをお届けします。 */, when.Month),
             Format("\x8d\xa1\x8c\x8e\x82\xcd\x81u%s\x81v\x82\xc5\x82\xb7\x81" "B" /* sjis: 今月は「%s」です。 */, rng.Pick(kDishes)), "",
             "\x8d\xec\x82\xe8\x95\xfb\x82\xcc\x82\xb1\x82\xc2\x82\xcd\x81" "A\x89\xce\x82\xf0\x8e\xe3\x82\xdf\x82\xc4\x82\xb6\x82\xc1\x82\xad\x82\xe8\x8e\xcf\x82\xe9\x82\xb1\x82\xc6\x82\xc5\x82\xb7\x81" "B" /* sjis: 作り方のこつは、火を弱めてじっくり煮ることです。 */, "\x8b\xb3\x8e\xba\x82\xc5\x82\xcd\x81" "A\x8fo\x8f`\x82\xcc\x8e\xe6\x82\xe8\x95\xfb\x82\xa9\x82\xe7\x88\xea\x8f\x8f\x82\xc9\x97\xfb\x8fK\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: 教室では、出汁の取り方から一緒に練習します。 */, "",
             Format("\x8e\x9f\x89\xf1\x82\xcc\x8b\xb3\x8e\xba\x82\xcd%d\x8c\x8e%d\x93\xfa\x82\xc5\x82\xb7\x81" "B" /* sjis: 次回の教室は%d月%d日です。 */, when.Month % 12 + 1, rng.Between(1, 28)),
             "\x8a" "F\x82\xb3\x82\xdc\x82\xcc\x82\xb2\x8eQ\x89\xc1\x82\xf0\x82\xa8\x91\xd2\x82\xbf\x82\xb5\x82\xc4\x82\xa8\x82\xe8\x82\xdc\x82\xb7\x81" "B" /* sjis: 皆さまのご参加をお待ちしております。 */}};
}

Draft Study(Rng& rng, int round, int topic)
{
    const Person& from = rng.Pick(kPeople);
    Draft d{&from,
            Format("\x95\xd7\x8b\xad\x89\xef\x8e\x91\x97\xbf\x82\xcc\x91\x97\x95t\x81i\x91\xe6%d\x89\xf1\x81j" /* sjis: 勉強会資料の送付（第%d回） */, round),
            {"\x95\xd7\x8b\xad\x89\xef\x82\xcc\x8a" "F\x82\xb3\x82\xdc" /* sjis: 勉強会の皆さま */, "", Format("%s\x82\xc5\x82\xb7\x81" "B" /* sjis: %sです。 */, from.Signature),
             Format("\x91\xe6%d\x89\xf1\x95\xd7\x8b\xad\x89\xef\x82\xcc\x8e\x91\x97\xbf\x82\xf0\x82\xa8\x91\x97\x82\xe8\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: 第%d回勉強会の資料をお送りします。 */, round), Format("\x8d\xa1\x89\xf1\x82\xcc\x83" "e\x81[\x83}\x82\xcd\x81u%s\x81v\x82\xc5\x82\xb7\x81" "B" /* sjis: 今回のテーマは「%s」です。 */, kTopics[topic]),
             "\x93\x96\x93\xfa\x82\xdc\x82\xc5\x82\xc9\x88\xea\x93x\x96\xda\x82\xf0\x92\xca\x82\xb5\x82\xc4\x82\xa8\x82\xa2\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "B" /* sjis: 当日までに一度目を通しておいてください。 */, ""}};
    if (topic == kMailTopic)
        Append(d.Text, {"\x97\xe1\x81" "FPOP3\x82\xc5\x83\x81\x81[\x83\x8b\x82\xf0\x88\xea\x92\xca\x93\xc7\x82\xde\x82\xc6\x82\xab\x82\xcc\x82\xe2\x82\xe8\x82\xc6\x82\xe8" /* sjis: 例：POP3でメールを一通読むときのやりとり */, "C: RETR 1", "S: +OK 120 octets",
                        "S: \x81i\x83\x81\x81[\x83\x8b\x82\xcc\x96{\x95\xb6\x81j" /* sjis: S: （メールの本文） */, "S: .", "", "\x96{\x95\xb6\x82\xcc\x92\x86\x82\xcc\x81u.\x81v\x82\xbe\x82\xaf\x82\xcc\x8ds\x82\xcd\x81" "A" /* sjis: 本文の中の「.」だけの行は、 */,
                        "\x83T\x81[\x83o\x81[\x82\xaa\x81u..\x81v\x82\xc9\x82\xb5\x82\xc4\x91\x97\x82\xe8\x82\xdc\x82\xb7\x81i\x83h\x83" "b\x83g\x8bl\x82\xdf\x81j\x81" "B" /* sjis: サーバーが「..」にして送ります（ドット詰め）。 */, ".", "..", ".\x82\xc5\x8en\x82\xdc\x82\xe9\x8ds\x82\xe0\x82\xa0\x82\xe8\x82\xdc\x82\xb7\x81" "B" /* sjis: .で始まる行もあります。 */, ""});
    d.Text.push_back("\x82\xe6\x82\xeb\x82\xb5\x82\xad\x82\xa8\x8a\xe8\x82\xa2\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: よろしくお願いします。 */);
    return d;
}

Draft Personal(Rng& rng)
{
    const Person& from = rng.Pick(kPeople);
    const PersonalNote& note = rng.Pick(kNotes);
    return {&from,
            note.Subject,
            {"\x83" "f\x83\x82\x82\xb3\x82\xf1" /* sjis: デモさん */, "", Format("\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\x81" "A%s\x82\xc5\x82\xb7\x81" "B" /* sjis: こんにちは、%sです。 */, from.Signature), note.Lines[0], note.Lines[1], "",
             "\x82\xdc\x82\xbd\x8b\xdf\x82\xa2\x82\xa4\x82\xbf\x82\xc9\x82\xa8\x89\xef\x82\xa2\x82\xb5\x82\xdc\x82\xb5\x82\xe5\x82\xa4\x81" "B" /* sjis: また近いうちにお会いしましょう。 */}};
}

Draft BuildReport(Rng& rng, int number)
{
    Draft d{&kBuildBot,
            Format("Weekly build report #%d", number),
            {"Hello team,", "", "Here is this week's build summary.", ""},
            BodyCode::Ascii};
    for (int day = 0; day < 5; ++day) {
        const char* outcome = rng.Below(6) == 0 ? "FAILED" : "passed";
        const int tests = rng.Between(1200, 1300);
        d.Text.push_back(Format("  build %d: %s (%d tests, %d s)", number * 10 + day, outcome, tests, rng.Between(200, 400)));
    }
    Append(d.Text, {"", "Changed files:", ".gitignore", "..github/workflows (typo, fixed)", "src/main.cpp", "",
                    "Have a nice weekend!", "-- ", "Build Robot"});
    return d;
}

Draft Invitation(const Stamp& when)
{
    const char* month = kMonthsEn[when.Month - 1];
    return {&kAlice,
            Format("Invitation: Project sync (%s %d)", month, when.Day),
            {"Hi,", "", "Let's meet for our project sync:", "",
             Format("  When:  %s, %s %d, 10:00-10:30", kWeekdaysEn[when.Weekday], month, when.Day),
             "  Where: Room 4B or video call", "", "Agenda: status, open questions, next steps.", "", "Thanks,", "Alice"},
            BodyCode::Ascii};
}

Draft ParcelNotice(Rng& rng)
{
    return {&kParcel,
            "Your package is on its way",
            {"Good news! Your package has left our depot.", "",
             Format("Tracking number: PX%08d", rng.Between(0, 99999999)), "Expected delivery: within 2 days", "",
             "Parcel Service"},
            BodyCode::Ascii};
}

Draft Lunch(Rng& rng)
{
    return {&kBob,
            "Re: lunch on Friday?",
            {rng.Below(2) ? "Sounds great, see you at noon!" : "Friday works for me. The noodle place?", "", "Bob"},
            BodyCode::Ascii};
}

// Lines of kana alone cannot be told from Shift-JIS one by one; the whole text can.
Draft KanaNote()
{
    Draft d{&kAdmin,
            "\x95\xb6\x8e\x9a\x83R\x81[\x83h\x82\xcc\x8am\x94" "F" /* sjis: 文字コードの確認 */,
            {"\x95\xb6\x8e\x9a\x83R\x81[\x83h\x82\xcc\x95\x5c\x8e\xa6\x82\xaa\x90\xb3\x82\xb5\x82\xa2\x82\xa9\x8am\x82\xa9\x82\xdf\x82\xe9\x82\xbd\x82\xdf\x82\xcc\x83\x81\x81[\x83\x8b\x82\xc5\x82\xb7\x81" "B" /* sjis: 文字コードの表示が正しいか確かめるためのメールです。 */,
             "\x89\xfc\x8ds\x82\xb2\x82\xc6\x82\xc9\x94\xbb\x92\xe8\x82\xb7\x82\xe9\x82\xc6\x81" "A\x82\xa9\x82\xc8\x82\xbe\x82\xaf\x82\xcc\x8ds\x82\xaa\x89\xbb\x82\xaf\x82\xc4\x82\xa2\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: 改行ごとに判定すると、かなだけの行が化けていました。 */, "",
             "\x82\xd0\x82\xe7\x82\xaa\x82\xc8\x82\xc6\x82\xa9\x82\xbd\x82\xa9\x82\xc8\x82\xbe\x82\xaf\x82\xcc\x82\xac\x82\xe5\x82\xa4" /* sjis: ひらがなとかたかなだけのぎょう */,
             "\x82\xab\x82\xe5\x82\xa4\x82\xcd\x82\xa2\x82\xa2\x82\xc4\x82\xf1\x82\xab\x82\xc5\x82\xb7\x82\xcb" /* sjis: きょうはいいてんきですね */,
             "\x83J\x83^\x83J\x83i\x83m\x83M\x83\x87\x83" "E\x83" "f\x83X" /* sjis: カタカナノギョウデス */, "",
             "\x83V\x83X\x83" "e\x83\x80\x8a\xc7\x97\x9d\x8e\xd2" /* sjis: システム管理者 */},
            BodyCode::Euc};
    d.Kind = Form::UnlabelledEuc;
    return d;
}

Draft Welcome()
{
    return {&kDemo,
            "Purgel\x82\xcc\x83" "f\x83\x82\x82\xd6\x82\xe6\x82\xa4\x82\xb1\x82\xbb" /* sjis: Purgelのデモへようこそ */,
            {"Purgel\x82\xcc\x83" "f\x83\x82\x82\xd6\x82\xe6\x82\xa4\x82\xb1\x82\xbb\x81I" /* sjis: Purgelのデモへようこそ！ */, "",
             "\x82\xb1\x82\xcc\x83\x81\x81[\x83\x8b\x83{\x83" "b\x83N\x83X\x82\xcd\x81" "APurgel\x82\xf0\x8e\x8e\x82\xb7\x82\xbd\x82\xdf\x82\xcc\x83" "f\x83\x82\x97pPOP3\x83T\x81[\x83o\x81[\x82\xaa" /* sjis: このメールボックスは、Purgelを試すためのデモ用POP3サーバーが */,
             "\x8bN\x93\xae\x82\xcc\x82\xbd\x82\xd1\x82\xc9\x8d\xec\x82\xc1\x82\xbd\x82\xe0\x82\xcc\x82\xc5\x82\xb7\x81" "B\x96{\x95\xa8\x82\xcc\x83\x81\x81[\x83\x8b\x82\xcd\x88\xea\x92\xca\x82\xe0\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x81" "B" /* sjis: 起動のたびに作ったものです。本物のメールは一通もありません。 */, "", "\x8e\x8e\x82\xb5\x82\xc4\x82\xdd\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "F" /* sjis: 試してみてください： */,
             "\x81" "E\x88\xea\x97\x97\x82\xcc\x8ds\x82\xf0\x83_\x83u\x83\x8b\x83N\x83\x8a\x83" "b\x83N\x82\xb7\x82\xe9\x82\xc6\x81" "A\x96{\x95\xb6\x82\xf0\x95\x5c\x8e\xa6\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: ・一覧の行をダブルクリックすると、本文を表示します。 */,
             "\x81" "E\x83`\x83" "F\x83" "b\x83N\x82\xf0\x95t\x82\xaf\x82\xc4\x8d\xed\x8f\x9c\x82\xb7\x82\xe9\x82\xc6\x81" "A\x90\xd8\x92" "f\x82\xb5\x82\xbd\x82\xc6\x82\xab\x82\xc9\x83T\x81[\x83o\x81[\x82\xa9\x82\xe7\x8f\xc1\x82\xa6\x82\xdc\x82\xb7\x81" "B" /* sjis: ・チェックを付けて削除すると、切断したときにサーバーから消えます。 */,
             "\x81" "E\x8c\x8f\x96\xbc\x82\xc6\x8d\xb7\x8fo\x90l\x82\xcd\x81" "AISO-2022-JP\x82\xcc\x95\x84\x8d\x86\x89\xbb\x83\x8f\x81[\x83h\x82\xc5\x93\xcd\x82\xa2\x82\xc4\x82\xa2\x82\xdc\x82\xb7\x81" "B" /* sjis: ・件名と差出人は、ISO-2022-JPの符号化ワードで届いています。 */,
             "\x81" "E\x96{\x95\xb6\x82\xcdJIS\x81" "AEUC-JP\x81" "AShift_JIS\x82\xcc\x82\xc7\x82\xea\x82\xa9\x82\xc5\x8f\x91\x82\xa9\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb7\x81" "B" /* sjis: ・本文はJIS、EUC-JP、Shift_JISのどれかで書かれています。 */,
             "\x81" "E\x93Y\x95t\x83t\x83@\x83" "C\x83\x8b\x95t\x82\xab\x82\xcc\x83\x81\x81[\x83\x8b\x82\xe2\x81" "A\x90\x94\x83\x81\x83K\x83o\x83" "C\x83g\x82\xcc\x91\xe5\x82\xab\x82\xc8\x83\x81\x81[\x83\x8b\x82\xe0\x82\xa0\x82\xe8\x82\xdc\x82\xb7\x81" "B" /* sjis: ・添付ファイル付きのメールや、数メガバイトの大きなメールもあります。 */, "",
             "\x8d\xed\x8f\x9c\x82\xb5\x82\xbd\x83\x81\x81[\x83\x8b\x82\xcd\x81" "A\x83" "f\x83\x82\x83T\x81[\x83o\x81[\x82\xaa\x8e~\x82\xdc\x82\xe9\x82\xdc\x82\xc5\x8f\xc1\x82\xa6\x82\xbd\x82\xdc\x82\xdc\x82\xc5\x82\xb7\x81" "B" /* sjis: 削除したメールは、デモサーバーが止まるまで消えたままです。 */,
             "\x8e\x9f\x82\xc9\x8bN\x93\xae\x82\xb7\x82\xe9\x82\xc6\x81" "A\x8c\xb3\x82\xcc\x83\x81\x81[\x83\x8b\x83{\x83" "b\x83N\x83X\x82\xc9\x96\xdf\x82\xe8\x82\xdc\x82\xb7\x81" "B" /* sjis: 次に起動すると、元のメールボックスに戻ります。 */, "",
             "\x83T\x81[\x83o\x81[\x81" "F127.0.0.1\x81@\x83\x86\x81[\x83U\x81[\x96\xbc\x81" "F\x89\xbd\x82\xc5\x82\xe0\x89\xc2\x81@\x83p\x83X\x83\x8f\x81[\x83h\x81" "Fdemo" /* sjis: サーバー：127.0.0.1　ユーザー名：何でも可　パスワード：demo */}};
}

Draft SalesSheet()
{
    std::string csv = "\x8c\x8e,\x94\x84\x8f\xe3\x81i\x89~\x81j,\x91O\x94N\x94\xe4\x81i\x81\x93\x81j" /* sjis: 月,売上（円）,前年比（％） */ + kCrLf;
    for (int m = 0; m < 12; ++m)
        csv += Format("%d\x8c\x8e,%d,%d" /* sjis: %d月,%d,%d */, (m + 3) % 12 + 1, 1200000 + m * 73000 + (m % 3) * 41000, 95 + (m * 7) % 15) + kCrLf;
    return {&kPeople[4],
            "\x94\x84\x8f\xe3\x8fW\x8cv\x95\x5c\x82\xf0\x82\xa8\x91\x97\x82\xe8\x82\xb5\x82\xdc\x82\xb7" /* sjis: 売上集計表をお送りします */,
            {kDear, "", "\x82\xa8\x94\xe6\x82\xea\x97l\x82\xc5\x82\xb7\x81" "B\x8d\x82\x8b\xb4\x82\xc5\x82\xb7\x81" "B" /* sjis: お疲れ様です。高橋です。 */, "\x8d\xa1\x94N\x93x\x82\xcc\x8c\x8e\x95\xca\x82\xcc\x94\x84\x8f\xe3\x8fW\x8cv\x95\x5c\x82\xf0\x82\xa8\x91\x97\x82\xe8\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: 今年度の月別の売上集計表をお送りします。 */,
             "\x93Y\x95t\x82\xcc" "CSV\x83t\x83@\x83" "C\x83\x8b\x82\xf0\x82\xb2\x8am\x94" "F\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "B" /* sjis: 添付のCSVファイルをご確認ください。 */, "", "\x82\xe6\x82\xeb\x82\xb5\x82\xad\x82\xa8\x8a\xe8\x82\xa2\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: よろしくお願いします。 */},
            BodyCode::Jis,
            {{"uriage.csv", csv, false}},
            "text/csv; charset=Shift_JIS"};
}

Draft Minutes()
{
    std::string text = "\x91\xc5\x82\xbf\x8d\x87\x82\xed\x82\xb9\x8b" "c\x8e\x96\x98^" /* sjis: 打ち合わせ議事録 */ + kCrLf + kCrLf;
    for (int i = 1; i <= 12; ++i)
        text += Format("%d. \x91O\x89\xf1\x82\xcc\x8fh\x91\xe8%d\x8c\x8f\x96\xda\x82\xc9\x82\xc2\x82\xa2\x82\xc4\x8am\x94" "F\x82\xb5\x81" "A\x92S\x93\x96\x8e\xd2\x82\xc6\x8a\xfa\x8c\xc0\x82\xf0\x8c\x88\x82\xdf\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: %d. 前回の宿題%d件目について確認し、担当者と期限を決めました。 */, i, i) + kCrLf;
    text += "\x8e\x9f\x89\xf1\x82\xcd\x97\x88\x8c\x8e\x82\xcc\x91\xe6\x88\xea\x8c\x8e\x97j\x93\xfa\x82\xc5\x82\xb7\x81" "B" /* sjis: 次回は来月の第一月曜日です。 */ + kCrLf;
    return {&kPeople[6],
            "\x8b" "c\x8e\x96\x98^\x82\xf0\x82\xa8\x91\x97\x82\xe8\x82\xb5\x82\xdc\x82\xb7" /* sjis: 議事録をお送りします */,
            {"\x8a" "F\x82\xb3\x82\xdc" /* sjis: 皆さま */, "", "\x88\xc9\x93\xa1\x82\xc5\x82\xb7\x81" "B" /* sjis: 伊藤です。 */, "\x90\xe6\x93\xfa\x82\xcc\x91\xc5\x82\xbf\x8d\x87\x82\xed\x82\xb9\x82\xcc\x8b" "c\x8e\x96\x98^\x82\xf0\x82\xa8\x91\x97\x82\xe8\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: 先日の打ち合わせの議事録をお送りします。 */,
             "\x8c\xc3\x82\xa2\x83\x81\x81[\x83\x8b\x83\x5c\x83t\x83g\x82\xc5\x82\xe0\x93\xc7\x82\xdf\x82\xe9\x82\xe6\x82\xa4\x82\xc9\x81" "Auuencode\x82\xc5\x93Y\x95t\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81" "B" /* sjis: 古いメールソフトでも読めるように、uuencodeで添付しました。 */},
            BodyCode::Jis,
            {{"gijiroku.txt", text, true}},
            "text/plain; charset=Shift_JIS"};
}

// A night sky with fireworks, 24-bit BMP.
std::string FireworksBitmap(Rng& rng, int width, int height)
{
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;  // width is a multiple of 4
    const std::size_t pixels = rowBytes * static_cast<std::size_t>(height);
    std::string bmp(54 + pixels, '\0');
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bmp[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, static_cast<std::uint32_t>(bmp.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    put32(26, 1 | (24u << 16));  // one plane, 24 bits a pixel
    put32(34, static_cast<std::uint32_t>(pixels));
    char* p = bmp.data() + 54;
    // Rows are stored from the bottom up, blue-green-red.
    for (int y = 0; y < height; ++y) {
        const int up = y * 60 / height;
        for (int x = 0; x < width; ++x) {
            char* px = p + static_cast<std::size_t>(y) * rowBytes + static_cast<std::size_t>(x) * 3;
            px[0] = static_cast<char>(70 - up / 2);
            px[1] = static_cast<char>(20 + up / 4);
            px[2] = static_cast<char>(15 + up / 6);
        }
    }
    auto plot = [&](int x, int y, int r, int g, int b) {
        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx) {
                const int xx = x + dx, yy = y + dy;
                if (xx < 0 || yy < 0 || xx >= width || yy >= height)
                    continue;
                char* px = p + static_cast<std::size_t>(yy) * rowBytes + static_cast<std::size_t>(xx) * 3;
                px[0] = static_cast<char>(std::max(static_cast<unsigned char>(px[0]), static_cast<unsigned char>(b)));
                px[1] = static_cast<char>(std::max(static_cast<unsigned char>(px[1]), static_cast<unsigned char>(g)));
                px[2] = static_cast<char>(std::max(static_cast<unsigned char>(px[2]), static_cast<unsigned char>(r)));
            }
    };
    for (int star = 0; star < 300; ++star) {
        const int v = rng.Between(120, 220);
        const int x = rng.Between(0, width - 1);
        plot(x, rng.Between(height / 4, height - 1), v, v, v);
    }
    static const int kColours[][3] = {{255, 90, 60}, {255, 210, 80}, {120, 200, 255}, {180, 255, 140}, {255, 130, 220}};
    static const double kDir[][2] = {{1, 0},     {0.966, 0.259},  {0.866, 0.5},    {0.707, 0.707},  {0.5, 0.866},
                                     {0.259, 0.966}, {0, 1},     {-0.259, 0.966}, {-0.5, 0.866},  {-0.707, 0.707},
                                     {-0.866, 0.5}, {-0.966, 0.259}};
    for (int burst = 0; burst < 7; ++burst) {
        const int cx = rng.Between(width / 8, width * 7 / 8), cy = rng.Between(height / 2, height * 7 / 8);
        const int radius = rng.Between(height / 10, height / 5);
        const int* c = kColours[rng.Below(5)];
        for (int ray = 0; ray < 48; ++ray) {
            const double* dir = kDir[ray % 12];
            const double turn = (ray / 12) * 0.13;  // four fans of twelve rays, turned a little each
            const double dx = dir[0] - turn * dir[1], dy = dir[1] + turn * dir[0];
            for (int t = 4; t < radius; t += 4) {
                const int fade = 255 - 160 * t / radius;
                plot(cx + static_cast<int>(dx * t), cy + static_cast<int>(dy * t), c[0] * fade / 255,
                     c[1] * fade / 255, c[2] * fade / 255);
            }
        }
    }
    // A row of houses along the bottom.
    for (int x = 0; x < width;) {
        const int w = rng.Between(30, 90), h = rng.Between(height / 20, height / 8);
        for (int y = 0; y < h; ++y)
            for (int xx = x; xx < std::min(width, x + w - 4); ++xx) {
                char* px = p + static_cast<std::size_t>(y) * rowBytes + static_cast<std::size_t>(xx) * 3;
                px[0] = px[1] = px[2] = 8;
            }
        x += w;
    }
    return bmp;
}

Draft Photos(Rng& rng)
{
    return {&kPeople[3],
            "\x89\xd4\x89\xce\x91\xe5\x89\xef\x82\xcc\x8e\xca\x90^\x82\xc5\x82\xb7" /* sjis: 花火大会の写真です */,
            {kDear, "", "\x82\xb1\x82\xf1\x82\xce\x82\xf1\x82\xcd\x81" "A\x93" "c\x92\x86\x82\xc5\x82\xb7\x81" "B" /* sjis: こんばんは、田中です。 */, "\x8d\xf0\x93\xfa\x82\xcc\x89\xd4\x89\xce\x91\xe5\x89\xef\x82\xcc\x8e\xca\x90^\x82\xf0\x82\xa8\x91\x97\x82\xe8\x82\xb5\x82\xdc\x82\xb7\x81" "B" /* sjis: 昨日の花火大会の写真をお送りします。 */,
             "\x91\xe5\x82\xab\x82\xc8\x83t\x83@\x83" "C\x83\x8b\x82\xc8\x82\xcc\x82\xc5\x81" "A\x8e\xf3\x90M\x82\xc9\x8f\xad\x82\xb5\x8e\x9e\x8a\xd4\x82\xaa\x82\xa9\x82\xa9\x82\xe9\x82\xa9\x82\xe0\x82\xb5\x82\xea\x82\xdc\x82\xb9\x82\xf1\x81" "B" /* sjis: 大きなファイルなので、受信に少し時間がかかるかもしれません。 */, "", "\x82\xdc\x82\xbd\x88\xea\x8f\x8f\x82\xc9\x8ds\x82\xab\x82\xdc\x82\xb5\x82\xe5\x82\xa4\x81I" /* sjis: また一緒に行きましょう！ */},
            BodyCode::Jis,
            {{"hanabi.bmp", FireworksBitmap(rng, 1024, 768), false}},
            "image/bmp"};
}

Draft AccessLog(Rng& rng, const Stamp& when)
{
    static const char* const kPages[] = {"/", "/news/", "/news/archive.html", "/shop/tea.html", "/img/logo.png",
                                         "/about.html", "/contact.html", "/feed.xml"};
    static const char* const kAgents[] = {"Mozilla/5.0 (X11; Linux x86_64)", "Mozilla/5.0 (Windows NT 10.0)",
                                          "Mozilla/5.0 (iPhone)", "FeedReader/2.1"};
    Draft d{&kAdmin,
            "\x83" "A\x83N\x83Z\x83X\x83\x8d\x83O\x81i\x90\xe6\x8c\x8e\x95\xaa\x81j" /* sjis: アクセスログ（先月分） */,
            {"\x8a\xd6\x8cW\x8e\xd2\x8a" "e\x88\xca" /* sjis: 関係者各位 */, "", "\x90\xe6\x8c\x8e\x95\xaa\x82\xcc\x83" "E\x83" "F\x83u\x83T\x81[\x83o\x81[\x82\xcc\x83" "A\x83N\x83Z\x83X\x83\x8d\x83O\x82\xf0\x91\x97\x82\xe8\x82\xdc\x82\xb7\x81" "B" /* sjis: 先月分のウェブサーバーのアクセスログを送ります。 */, "\x8fW\x8cv\x82\xcc\x8eQ\x8dl\x82\xc9\x82\xb5\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "B" /* sjis: 集計の参考にしてください。 */, ""}};
    const char* month = kMonthsEn[(when.Month + 10) % 12];
    for (int i = 0; i < 12000; ++i) {
        const int day = 1 + i * 28 / 12000, second = (i * 211) % 86400;
        const int host = rng.Between(1, 254);
        const char* page = rng.Pick(kPages);
        const int status = rng.Below(20) ? 200 : 404;
        const int bytes = rng.Between(300, 40000);
        d.Text.push_back(Format("192.0.2.%d - - [%02d/%s/%d:%02d:%02d:%02d +0900] \"GET %s HTTP/1.1\" %d %d \"-\" \"%s\"",
                                host, day, month, when.Year, second / 3600, second / 60 % 60, second % 60, page, status,
                                bytes, rng.Pick(kAgents)));
    }
    return d;
}

// ---- building the raw message ----

std::string Domain(const char* address)
{
    const char* at = std::strchr(address, '@');
    return at ? at + 1 : address;
}

// One line of Shift-JIS text as JIS that ends in ASCII, as each line of mail should (the
// converter leaves kanji or JIS-Roman mode open at the end).
std::string JisLine(const std::string& sjis)
{
    std::string jis = Jconvert::sjis2jis83(sjis);
    const std::size_t esc = jis.rfind('\x1b');
    if (esc != std::string::npos && jis.compare(esc, 3, "\x1b(B") != 0)
        jis += "\x1b(B";
    return jis;
}

std::string EncodedBody(const Lines& text, BodyCode code)
{
    std::string body;
    for (const std::string& line : text) {
        switch (code) {
        case BodyCode::Jis:
            body += JisLine(line);
            break;
        case BodyCode::Euc:
            body += Jconvert::sjis2euc(line);
            break;
        default:
            body += line;
        }
        body += kCrLf;
    }
    return body;
}

const char* Charset(BodyCode code)
{
    switch (code) {
    case BodyCode::Jis:
        return "ISO-2022-JP";
    case BodyCode::Euc:
        return "EUC-JP";
    case BodyCode::Sjis:
        return "Shift_JIS";
    default:
        return "us-ascii";
    }
}

std::string TextHeaders(BodyCode code, bool labelled)
{
    const bool eightBit = code == BodyCode::Euc || code == BodyCode::Sjis;
    return std::string("Content-Type: text/plain") + (labelled ? std::string("; charset=") + Charset(code) : "") + kCrLf +
           "Content-Transfer-Encoding: " + (eightBit ? "8bit" : "7bit") + kCrLf;
}

// The program's own writer leaves the blank between two runs of double-byte characters as
// plain text between two words, and readers drop white space between adjacent encoded words
// (RFC 2047); such a value goes as a single word, the way mailers write it.
std::string HeaderValue(const std::string& sjis)
{
    const std::string words = Jconvert::CreateHeaderString(sjis);
    if (words.find("?= =?") == std::string::npos && words.find("?=\t=?") == std::string::npos)
        return words;
    return "=?ISO-2022-JP?B?" + Jconvert::EncodeBase64(JisLine(sjis)) + "?=";
}

// The trace and date lines every message begins with.
std::string Envelope(const char* address, const std::string& date, Rng& rng)
{
    const std::string domain = Domain(address);
    std::string raw;
    raw += "Return-Path: <" + std::string(address) + ">" + kCrLf;
    raw += Format("Received: from mx.%s (mx.%s [192.0.2.%d])", domain.c_str(), domain.c_str(), rng.Between(1, 254)) + kCrLf;
    raw += Format("\tby pop.purgel.example (Purgel demo) with ESMTP id %08X", static_cast<unsigned>(rng.Below(0x7FFFFFFF))) + kCrLf;
    raw += "\tfor <demo@purgel.example>; " + date + kCrLf;
    const int subnet = rng.Between(0, 255), client = rng.Between(1, 254);
    raw += Format("Received: from [10.%d.7.%d] (client.%s)", subnet, client, domain.c_str()) + kCrLf;
    raw += Format("\tby mx.%s with ESMTPSA id %08X", domain.c_str(), static_cast<unsigned>(rng.Below(0x7FFFFFFF))) + kCrLf;
    raw += "\tfor <demo@purgel.example>; " + date + kCrLf;
    raw += "Date: " + date + kCrLf;
    return raw;
}

std::string MessageId(const Stamp& when, int index, Rng& rng, const std::string& domain)
{
    return Format("Message-ID: <%04d%02d%02d%02d%02d.%d.%u@%s>", when.Year, when.Month, when.Day, when.Hour, when.Minute,
                  index + 1, static_cast<unsigned>(rng.Below(1000000)), domain.c_str()) + kCrLf;
}

// What a reader of today's mail shows for a classic message's Shift-JIS text.
std::string ShownText(const DemoMessage& m)
{
    std::string text = m.Text;
    for (std::size_t at; (at = text.find(kCrLf)) != std::string::npos;)
        text.replace(at, 2, "\n");
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    text = mime::SjisToUtf8(text);
    for (const DemoAttachment& a : m.Attachments)
        text += "\n\nFile \"" + a.Name + "\" extracted";
    return text;
}

DemoMessage BuildModern(Form form, int index, const Stamp& when, Rng& rng)
{
    ModernMail mail = MakeModernMail(form);
    const std::string address = mail.ShownSender.substr(mail.ShownSender.rfind('<') + 1, mail.ShownSender.rfind('>') - mail.ShownSender.rfind('<') - 1);
    DemoMessage m;
    m.Code = BodyCode::Utf8;
    m.Kind = form;
    m.Raw = Envelope(address.c_str(), Rfc2822(when), rng);
    m.Raw += "From: " + mail.From + kCrLf + "To: " + Jconvert::CreateHeaderString(kRecipient) + kCrLf;
    m.Raw += "Subject: " + mail.Subject + kCrLf + MessageId(when, index, rng, Domain(address.c_str()));
    m.Raw += "MIME-Version: 1.0" + kCrLf + mail.Content;
    m.ShownSubject = std::move(mail.ShownSubject);
    m.ShownSender = std::move(mail.ShownSender);
    m.ShownText = std::move(mail.ShownText);
    m.Attachments = std::move(mail.Attachments);
    return m;
}

DemoMessage Build(Draft&& d, int index, const Stamp& when, Rng& rng)
{
    DemoMessage m;
    m.Subject = d.Subject;
    m.Sender = std::string(d.From->Name) + " <" + d.From->Address + ">";
    m.Text = Joined(d.Text);
    m.Code = d.Code;
    m.Kind = d.Kind;
    std::string raw = Envelope(d.From->Address, Rfc2822(when), rng);
    raw += "From: " + HeaderValue(m.Sender) + kCrLf;
    raw += "To: " + Jconvert::CreateHeaderString(kRecipient) + kCrLf;
    raw += "Subject: " + HeaderValue(m.Subject) + kCrLf;
    raw += MessageId(when, index, rng, Domain(d.From->Address));
    raw += "MIME-Version: 1.0" + kCrLf;
    const std::string text = TextHeaders(m.Code, d.Kind != Form::UnlabelledEuc) + kCrLf + EncodedBody(d.Text, m.Code);
    if (d.Attachments.empty()) {
        raw += text;
    } else {
        const std::string boundary = Format("purgel-demo-part-%04d", index + 1);
        raw += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"" + kCrLf + kCrLf;
        raw += "This is a multi-part message in MIME format." + kCrLf + kCrLf;
        raw += "--" + boundary + kCrLf + text + kCrLf;
        for (const DemoAttachment& a : d.Attachments) {
            raw += "--" + boundary + kCrLf;
            raw += "Content-Type: " + d.AttachmentType + "; name=\"" + a.Name + "\"" + kCrLf;
            raw += std::string("Content-Transfer-Encoding: ") + (a.Uuencoded ? "X-UUENCODE" : "base64") + kCrLf;
            raw += "Content-Disposition: attachment; filename=\"" + a.Name + "\"" + kCrLf + kCrLf;
            raw += a.Uuencoded ? Jconvert::EncodeUU(a.Bytes, kCrLf) : Jconvert::EncodeBase64R(a.Bytes, kCrLf);
            if (raw.compare(raw.size() - 2, 2, kCrLf) != 0)
                raw += kCrLf;
            raw += kCrLf;
        }
        raw += "--" + boundary + "--" + kCrLf;
    }
    m.Raw = std::move(raw);
    m.Attachments = std::move(d.Attachments);
    m.ShownSubject = mime::SjisToUtf8(m.Subject);
    m.ShownSender = mime::SjisToUtf8(m.Sender);
    m.ShownText = ShownText(m);
    return m;
}

BodyCode JapaneseCode(Rng& rng)
{
    const unsigned r = rng.Below(4);
    return r < 2 ? BodyCode::Jis : r == 2 ? BodyCode::Euc : BodyCode::Sjis;
}

}  // namespace

std::vector<DemoMessage> GenerateMailbox(unsigned seed, int count)
{
    Rng rng(seed);
    std::vector<Kind> kinds(static_cast<std::size_t>(std::max(count, 0)));
    for (Kind& k : kinds)
        k = rng.Pick(kOrdinary);
    // The special messages at places of their own: the welcome first, the attachments early
    // (easy to find), the two big ones further down.
    const std::pair<int, Kind> specials[] = {{0, Kind::Welcome},        {3, Kind::SalesSheet},
                                             {7, Kind::Minutes},        {kStudyWithDots, Kind::Study},
                                             {count / 2, Kind::Photos}, {count * 3 / 4 + 1, Kind::AccessLog},
                                             {9, Kind::KanaNote}};
    for (const auto& [at, kind] : specials)
        if (at < count)
            kinds[static_cast<std::size_t>(at)] = kind;
    // One message of each UTF-8 form of today's mail, near the top where people look first.
    std::vector<Form> forms(kinds.size(), Form::Classic);
    const std::pair<int, Form> modern[] = {{1, Form::Utf8Subject}, {2, Form::QuotedSubject},   {4, Form::SplitSubject},
                                           {5, Form::QuotedPrintable}, {6, Form::HtmlOnly}, {8, Form::NamedAttachment}};
    for (const auto& [at, form] : modern)
        if (at < count)
            forms[static_cast<std::size_t>(at)] = form;

    std::vector<DemoMessage> mailbox;
    mailbox.reserve(kinds.size());
    long long minutes = 28532160 + 8 * 60 + 30;  // 2024-04-01 08:30 (minutes since 1970)
    int issue = 120, order = 58000, build = 40, round = 1;
    for (int i = 0; i < count; ++i) {
        minutes += rng.Between(20, 40 * 60);
        Stamp when = CivilFromMinutes(minutes);
        when.Second = rng.Between(0, 59);
        const Stamp soon = CivilFromMinutes(minutes + 1440 * rng.Between(2, 10));
        if (forms[static_cast<std::size_t>(i)] != Form::Classic) {
            mailbox.push_back(BuildModern(forms[static_cast<std::size_t>(i)], i, when, rng));
            continue;
        }
        Draft d;
        switch (kinds[static_cast<std::size_t>(i)]) {
        case Kind::Newsletter: d = Newsletter(rng, ++issue); break;
        case Kind::Meeting: d = Meeting(rng, soon); break;
        case Kind::Reply: d = Reply(rng); break;
        case Kind::Order: d = Order(rng, when, ++order); break;
        case Kind::Shipping: d = Shipping(rng, order); break;
        case Kind::Maintenance: d = Maintenance(soon); break;
        case Kind::Party: d = Party(rng, soon); break;
        case Kind::Library: d = Library(rng, when); break;
        case Kind::Cooking: d = Cooking(rng, when); break;
        case Kind::Study: d = Study(rng, round++, i == kStudyWithDots ? kMailTopic : static_cast<int>(rng.Below(4))); break;
        case Kind::Personal: d = Personal(rng); break;
        case Kind::BuildReport: d = BuildReport(rng, ++build); break;
        case Kind::Invitation: d = Invitation(soon); break;
        case Kind::ParcelNotice: d = ParcelNotice(rng); break;
        case Kind::Lunch: d = Lunch(rng); break;
        case Kind::Welcome: d = Welcome(); break;
        case Kind::SalesSheet: d = SalesSheet(); break;
        case Kind::Minutes: d = Minutes(); break;
        case Kind::Photos: d = Photos(rng); break;
        case Kind::AccessLog: d = AccessLog(rng, when); break;
        case Kind::KanaNote: d = KanaNote(); break;
        }
        if (d.Code != BodyCode::Ascii) {
            const Kind k = kinds[static_cast<std::size_t>(i)];
            const bool fixedJis = k == Kind::Welcome || k == Kind::SalesSheet || k == Kind::Minutes ||
                                  k == Kind::Photos || k == Kind::AccessLog;
            d.Code = fixedJis ? BodyCode::Jis : d.Kind == Form::UnlabelledEuc ? BodyCode::Euc : JapaneseCode(rng);
        }
        mailbox.push_back(Build(std::move(d), i, when, rng));
    }
    return mailbox;
}

std::vector<StoredMessage> ToStoredMessages(std::vector<DemoMessage> mailbox, unsigned seed)
{
    std::vector<StoredMessage> stored;
    stored.reserve(mailbox.size());
    for (std::size_t i = 0; i < mailbox.size(); ++i)
        stored.push_back({Format("demo-%u-%04zu", seed, i + 1), std::move(mailbox[i].Raw), ""});
    return stored;
}

}  // namespace demo
