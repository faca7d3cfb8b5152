#pragma once
// Realistic test messages for the POP3 and GUI suites: ISO-2022-JP encoded subjects and
// senders, folded header lines, multipart messages with Base64 and x-uuencode attachments
// (the original bytes kept for comparison), hostile attachment names and bulk mailboxes.
//
// Japanese input is Shift-JIS bytes, like the program's own text. The conversion to JIS
// uses glibc iconv and throws std::runtime_error for a character ISO-2022-JP cannot hold
// (half-width katakana, NEC specials). Every message is built with CR LF line ends.
// The encoders here are independent of the program's own, so tests do not check a codec
// against itself.

#include <string>
#include <vector>

namespace mailbox {

// Shift-JIS to ISO-2022-JP; the result ends in ASCII mode.
std::string SjisToJis(const std::string& sjis);
// ISO-2022-JP (or EUC-JP with "EUC-JP") to Shift-JIS, for checking what a test decoded.
std::string ToSjis(const std::string& text, const char* fromCharset = "ISO-2022-JP");
// Base64 (RFC 2045 alphabet) of bytes: one line, or lines of perLine characters, each
// ended by CR LF.
std::string Base64(const std::string& bytes);
std::string Base64Lines(const std::string& bytes, size_t perLine = 76);
// uuencode lines of 45 bytes ("M" + 60 characters), the grave accent for 0, closed by a
// line of one grave accent; framed by "begin 644 <name>" and "end" when framed is true.
std::string Uuencode(const std::string& bytes, const std::string& name, bool framed = true);
// "=?ISO-2022-JP?B?...?=" for a Shift-JIS text.
std::string EncodedWord(const std::string& sjis);
// A header value folded over several lines: one encoded word per charsPerWord characters,
// joined by CR LF and a blank.
std::string FoldedEncodedWords(const std::string& sjis, size_t charsPerWord);
// Deterministic pseudo-random bytes.
std::string RandomBytes(size_t n, unsigned seed);

struct Attachment {
    enum Kind { AsBase64, AsUuencode, AsPlain };
    std::string Name;   // goes into name="..." and filename="..." as it stands
    std::string Bytes;  // the original content
    Kind Encoding = AsBase64;
    bool UuFramed = true;  // begin/end lines around uuencoded data
    std::string ContentType = "application/octet-stream";
};

class MailBuilder {
public:
    MailBuilder();

    MailBuilder& From(std::string rawValue);
    MailBuilder& JapaneseFrom(const std::string& sjisName, const std::string& address);
    MailBuilder& To(std::string rawValue);
    MailBuilder& Subject(std::string rawValue);
    MailBuilder& JapaneseSubject(const std::string& sjis);
    // The subject as several encoded words on continuation lines.
    MailBuilder& FoldedJapaneseSubject(const std::string& sjis, size_t charsPerWord = 8);
    MailBuilder& MessageId(std::string rawValue);
    MailBuilder& Date(std::string rawValue);
    // Any further header line (without line end), after the standard ones.
    MailBuilder& Header(std::string line);
    // Body text in ASCII (lines may end in LF or CR LF).
    MailBuilder& Text(const std::string& ascii);
    // Body text in Shift-JIS, sent as ISO-2022-JP line by line.
    MailBuilder& JapaneseText(const std::string& sjis);
    // Any attachment makes the message multipart/mixed, the text its first part.
    MailBuilder& Attach(Attachment a);

    // The boundary key of a multipart message (without the leading "--").
    const std::string& Boundary() const { return FBoundary; }
    std::string Build() const;

private:
    std::string FFrom, FTo, FSubject, FMessageId, FDate;
    std::vector<std::string> FHeaders;
    std::string FText;  // CR LF lines
    bool FJapanese = false;
    std::vector<Attachment> FAttachments;
    std::string FBoundary;
};

// Sample Japanese texts (Shift-JIS) used by the presets.
extern const char* const SampleSubject;  // 会議のお知らせ
extern const char* const SampleSender;   // 山田太郎
extern const char* const SampleLongSubject;

// An ASCII message numbered n ("Subject: Plain message <n>").
std::string PlainMail(int n);
// A message with an encoded Japanese subject and sender and a JIS body.
std::string JapaneseMail(const std::string& sjisSubject, const std::string& sjisSender,
                         const std::string& address = "taro@example.jp");

// A multipart message: a JIS text part, a Base64 attachment and an x-uuencode attachment.
struct MultipartSample {
    std::string Raw;
    std::string Boundary;
    std::string Text;  // the text part as sent (JIS), lines joined by CR LF
    Attachment Base64Part;
    Attachment UuencodedPart;
};
MultipartSample MultipartMail(size_t base64Size = 5000, size_t uuSize = 3000, unsigned seed = 1);

// A message with one Base64 attachment of the given name (for "../../x" and the like).
std::string MailWithAttachmentNamed(const std::string& name, const std::string& bytes);

// A multipart message of one text part and `parts` small unnamed, unencoded parts (each
// "part <i>" on one line, i counted from 1), delimited by "--" + ManyPartsBoundary.
std::string ManyPartsMail(int parts);
inline constexpr const char* ManyPartsBoundary = "many-parts-boundary";

// count messages of 2 to 4 KiB each, with Received lines; about two in three have the
// encoded Japanese subject "お知らせ 第<i>号", an encoded sender and a JIS body, the
// others "Bulk message <i>" in ASCII (i counted from 1). Same seed, same messages.
std::vector<std::string> BulkMailbox(int count, unsigned seed = 1);

}  // namespace mailbox
