#include "pop3/Nmpop3.h"
#include "pop3/PartFolder.h"
#include "pop3/Pop3Reply.h"

#include "mime/Entity.h"
#include "runtime/Stream.h"
#include "runtime/SysUtils.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <string>

using namespace pop3text;

namespace {

// True when any directory entry has the name, a dangling link or a folder included: the
// attachment numbering steps past all of them.
bool NameTaken(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The boundary key of the parameter that starts at `at` of the line ("BOUNDARY=" in any
// case), read as the mail text functions read a parameter: the quoted string, or the text up
// to the next ";".
std::string CutBoundary(std::string_view line, std::size_t at)
{
    return mime::RawParameterValue(";" + std::string(line.substr(at, 9 + 256)), "boundary");
}

// Temporary part file contents are collected and written in blocks of this size.
constexpr std::size_t PartWriteBlock = 65536;

// Part and attachment files hold mail: only their owner may read them.
constexpr unsigned PrivateFileMode = 0600;

// The longest file name the file systems in use take, in bytes; an extension longer than
// MaxExtension is no extension worth keeping whole when a name is cut.
constexpr std::size_t NameMax = 255;
constexpr std::size_t MaxExtension = 32;

// A long parse looks at the clock every PumpCheckLines lines and handles the thread's
// messages when PumpInterval has passed, so the window, the time-out and Abort act.
constexpr unsigned PumpCheckLines = 16;
constexpr auto PumpInterval = std::chrono::milliseconds(10);

// A delimiter line (mime::Delimiter, the same reading as the viewer's text): "--" and the
// key at the line's start, "--" after it for the closing one, then nothing but transport
// padding; a line that merely contains the key, or begins with a longer key, is text.
using mime::DelimiterKind;

// The byte count of the UTF-8 sequence at the start of Text; 0 when none starts there.
std::size_t Utf8Length(std::string_view Text)
{
    const auto c = static_cast<unsigned char>(Text[0]);
    const std::size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || n > Text.size())
        return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(Text[i]) & 0xC0) != 0x80)
            return 0;
    return n;
}

// The longest start of Text of at most Limit bytes that ends on a character boundary:
// UTF-8 characters when all of Text is UTF-8 (as mailers send names today), else Shift-JIS
// (a lead byte keeps its trail byte).
std::string CutAtCharacter(std::string_view Text, std::size_t Limit)
{
    bool utf8 = true;
    for (std::size_t i = 0, n = 0; utf8 && i < Text.size(); i += n)
        utf8 = (n = Utf8Length(Text.substr(i))) != 0;
    std::size_t end = 0;
    while (end < Text.size()) {
        std::size_t step = utf8 ? Utf8Length(Text.substr(end)) : 1;
        if (!utf8 && IsSjisLeadByte(static_cast<unsigned char>(Text[end])) && end + 1 < Text.size())
            step = 2;
        if (end + step > Limit)
            break;
        end += step;
    }
    return std::string(Text.substr(0, end));
}

} // namespace

int Pop3LineCursor = 0;
int Pop3TempFileCounter = 0;

std::string TNMPOP3::PlainFileName(std::string_view Name)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < Name.size(); ++i) {
        const auto c = static_cast<unsigned char>(Name[i]);
        if (c == '/' || c == '\\') {
            start = i + 1;
        } else if (IsSjisLeadByte(c) && i + 1 < Name.size()) {
            // A Shift-JIS trail byte may be 0x5C ("\"); "/" is never one.
            const auto t = static_cast<unsigned char>(Name[i + 1]);
            if ((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC))
                ++i;
        }
    }
    std::string out;
    out.reserve(Name.size() - start);
    for (std::size_t i = start; i < Name.size(); ++i) {
        const auto c = static_cast<unsigned char>(Name[i]);
        if (c >= 0x20 && c != 0x7F)
            out += static_cast<char>(c);
    }
    // A name of dots only names no file of its own; leading dots would hide the file.
    out.erase(0, out.find_first_not_of('.'));
    return out;
}

// ---- whole messages ----

void TMailMessage::Clear()
{
    Header.Clear();
    RawBody.Clear();
    Body.Clear();
    Attachments.Clear();
    ContentType.clear();
    From.clear();
    Subject.clear();
    MessageId.clear();
    Boundary.clear();
    Files.clear();
    PartFolder.clear();
}

void TNMPOP3::GetMailMessage(int Msg)
{
    if (Refused())
        return;
    BusyScope busy(FBusy);
    StartRetrieval();
    std::exception_ptr failure;
    try {
        FTransferEncoding.clear();
        MailMessage.Boundary.clear();
        // The files of this retrieval go to a folder of its own (unless AttachFilePath names one).
        MailMessage.Files.clear();
        MailMessage.PartFolder.clear();
        FFolder.clear();
        FAttachName.clear();
        FNextNumber.clear();
        FPartFiles = 0;
        FPartMode = PartTopHeader;
        FReplyEnded = false;
        const std::string reply = Command(CommandLine("RETR ", Msg));
        if (!ContainsOk(reply))
            throw Exception(reply);
        Pop3LineCursor = 0;
        MailMessage.Clear();
        FBytesRecvd = 0;
        ReadHeader(false, MailMessage);
        if (!FReplyEnded) {
            ReadListing([this](std::string_view line, bool last) {
                if (!last)
                    MailMessage.RawBody.Add(std::string(Unstuffed(StripLineEnd(line))));
            });
        }
        ParseMessage();
        if (DeleteOnRead) {
            const std::string deleted = Command(CommandLine("DELE ", Msg));
            if (FirstWord(deleted) == "-ERR")
                throw Exception(deleted);
        }
        StatusMessage(1, "Message Retrieved");
    } catch (...) {
        failure = std::current_exception();
    }
    if (OnRetrieveEnd)
        OnRetrieveEnd(this);
    if (failure)
        std::rethrow_exception(failure);
}

void TNMPOP3::ParseMessage()
{
    // The parse is under the time-out like a wait (ReadParts starts it again for every
    // part); Abort, by the user or the time-out, ends it at its next look at the messages.
    TimerOn();
    struct TimerGuard {
        TNMPOP3& Pop;
        ~TimerGuard()
        {
            try {
                Pop.TimerOff();
            } catch (...) {
            }
        }
    } timer{*this};
    FLinesSincePump = 0;
    FLastPump = std::chrono::steady_clock::now();
    if (Contains(LowerCase(MailMessage.ContentType), "multipart")) {
        ReadParts();
    } else if (!Parse) {
        MailMessage.Body.Assign(MailMessage.RawBody);
    } else if (Contains(UpperCase(FTransferEncoding), "BASE64")) {
        FPartMode = PartToFile;
        ReadBody(MailMessage);
        // A part file that could not be written left its note and lines in Body instead.
        if (MailMessage.Attachments.Count() > 0)
            MailMessage.Body.LoadFromFile(FFolder + MailMessage.Attachments[0]);
        else if (MailMessage.Body.Count() == 0)
            throw Exception("Empty Base64 body: nothing to decode");
    } else {
        ReadBody(MailMessage);
    }
}

void TNMPOP3::ReadHeader(bool FromBuffer, TMailMessage& Target)
{
    if (FromBuffer) {
        for (bool ended = false; !ended;) {
            if (Pop3LineCursor >= MailMessage.RawBody.Count())
                return;
            ended = HeaderLine(MailMessage.RawBody[Pop3LineCursor++], Target);
        }
    } else {
        ReadReply([this, &Target](std::string_view raw) {
            const std::string_view line = StripLineEnd(raw);
            // A message without a body may end right after its header, without an empty line.
            if (line == ".") {
                FReplyEnded = true;
                return true;
            }
            return HeaderLine(Unstuffed(line), Target);
        });
    }
    if (FPartMode == PartTopHeader)
        FPartMode = PartBodyText;
}

bool TNMPOP3::HeaderLine(std::string_view Line, TMailMessage& Target)
{
    if (FPartMode == PartTopHeader)
        MailMessage.Header.Add(std::string(Line));
    if (Line.empty())
        return true;
    const std::string word = UpperCase(Line.substr(0, Line.find(' ')));   // the first word
    if (word == "SUBJECT:")
        MailMessage.Subject = From(Line, 9, 256);
    else if (word == "FROM:")
        MailMessage.From = From(Line, 7, 256);
    else if (word == "CONTENT-TYPE:")
        MailMessage.ContentType = From(Line, 15, 256);
    else if (word == "MESSAGE-ID:")
        MailMessage.MessageId = From(Line, 13, 256);
    const std::string upper = UpperCase(Line);
    const std::size_t boundary = upper.find("BOUNDARY=");
    if (boundary != std::string::npos)
        Target.Boundary = CutBoundary(Line, boundary);
    if (Contains(upper, "CONTENT-TRANSFER-ENCODING"))
        FTransferEncoding = From(Line, 28, 256);
    if (Contains(upper, "NAME"))
        FAttachName = NthWordView(Line, '"', 2);
    return false;
}

void TNMPOP3::ReadParts()
{
    TMailMessage scratch;   // takes the boundary keys of part headers, which are not used
    const TStringList& raw = MailMessage.RawBody;
    const std::string& key = MailMessage.Boundary;
    bool found = false;
    while (!key.empty() && !found && Pop3LineCursor < raw.Count()) {
        found = mime::Delimiter(raw[Pop3LineCursor++], key) != DelimiterKind::None;
        PumpWhileParsing();
    }
    if (!found)
        throw Exception("Multipart message without its boundary line");
    bool closed = false;
    do {
        if (FPartMode == PartToFile && FPartFiles >= MaxPartFiles) {
            KeepRestAsText(MailMessage);
            return;
        }
        // The parse of one part is one wait: each part has the whole time-out, when one runs.
        if (FTimer->Enabled())
            TimerOn();
        ReadHeader(true, scratch);
        closed = ReadBody(MailMessage);
    } while (!closed && Pop3LineCursor < raw.Count());
}

void TNMPOP3::KeepRestAsText(TMailMessage& Target)
{
    Target.Body.Add("\r\nOnly the first " + std::to_string(MaxPartFiles) +
                    " parts were written to files; the other parts follow as text");
    const TStringList& raw = MailMessage.RawBody;
    // From the delimiter that began the part not written.
    for (int i = Pop3LineCursor - 1; i < raw.Count(); ++i) {
        Target.Body.Add(raw[i]);
        LineStored();
    }
    Pop3LineCursor = raw.Count();
}

void TNMPOP3::LineStored()
{
    ++FBytesRecvd;
    if (OnPacketRecvd)
        OnPacketRecvd(this);
    PumpWhileParsing();
}

void TNMPOP3::PumpWhileParsing()
{
    if (++FLinesSincePump < PumpCheckLines)
        return;
    FLinesSincePump = 0;
    const auto now = std::chrono::steady_clock::now();
    if (now - FLastPump < PumpInterval)
        return;
    FLastPump = now;
    WaitPass([] { return true; });
    if (CancelRequested) {
        CancelRequested = false;
        throw EAbortError("Retrieval aborted");
    }
}

bool TNMPOP3::ReadBody(TMailMessage& Target)
{
    std::unique_ptr<TFileStream> part;
    std::string partName;
    bool toFile = FPartMode == PartToFile;
    if (toFile) {
        ++FPartFiles;
        part = CreatePartFile(partName);
        if (!part) {
            toFile = false;   // the part stays in the text, after the note
            NoteUnwritten(AttachmentName(), Target);
        }
    }
    StatusMessage(1, "Extracting file");
    const TStringList& raw = MailMessage.RawBody;
    if (Pop3LineCursor >= raw.Count())
        return false;
    std::string pending;   // part file bytes not yet written
    long long written = 0;
    bool failed = false;   // a write failed: the rest of the part is dropped
    auto flush = [&] {
        try {
            part->WriteBuffer(pending.data(), static_cast<long long>(pending.size()));
            written += static_cast<long long>(pending.size());
        } catch (const EWriteError&) {
            failed = true;
        }
        pending.clear();
    };
    DelimiterKind delimiter = DelimiterKind::None;
    while (Pop3LineCursor < raw.Count()) {
        const std::string& line = raw[Pop3LineCursor++];
        delimiter = mime::Delimiter(line, Target.Boundary);
        if (delimiter != DelimiterKind::None)
            break;
        if (!toFile) {
            Target.Body.Add(line);
        } else if (!failed) {
            pending += line;
            pending += "\r\n";
            if (pending.size() >= PartWriteBlock)
                flush();
        }
        LineStored();
    }
    if (part) {
        if (!failed)
            flush();
        part.reset();
        if (failed) {
            DeleteFile(partName);
            NoteFileMoved(partName, "");
            NoteUnwritten(AttachmentName(), Target);
        } else if (written > 0) {
            ExtractPart(partName, Target);
        }
    }
    FPartMode = PartToFile;
    return delimiter == DelimiterKind::Closing;
}

std::string TNMPOP3::AttachmentName() const
{
    const std::string name = PlainFileName(FAttachName);
    return name.empty() ? "text.tmp" : name;
}

std::string TNMPOP3::FreeAttachmentName()
{
    const std::string name = AttachmentName();
    const std::size_t dot = name.rfind('.');
    std::string base = name.substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    if (extension.size() > MaxExtension) {
        base = name;
        extension.clear();
    }
    // The numbers this retrieval gave the name are taken: start after them, so that many
    // parts of one name cost one look each, not one per earlier part.
    for (int& next = FNextNumber[name];; ++next) {
        const std::string suffix = next == 0 ? "" : "_" + std::to_string(next);
        const std::string candidate = CutAtCharacter(base, NameMax - suffix.size() - extension.size()) + suffix + extension;
        if (!NameTaken(FFolder + candidate)) {
            ++next;
            return candidate;
        }
    }
}

void TNMPOP3::NoteUnwritten(const std::string& Name, TMailMessage& Target)
{
    Target.Body.Add("\r\nFile \"" + Name + "\" could not be written");
}

void TNMPOP3::ExtractPart(const std::string& TempName, TMailMessage& Target)
{
    std::string name = FreeAttachmentName();
    if (OnDecodeStart)
        OnDecodeStart(name);
    const std::string target = FFolder + name;
    // Encoding names are case-insensitive (RFC 2045): mailers write "x-uuencode".
    const bool uuencoded = Contains(UpperCase(FTransferEncoding), "X-UUENCODE");
    bool stored = false;
    if (uuencoded || Contains(LowerCase(FTransferEncoding), "base64")) {
        StatusMessage(1, "Decoding file");
        stored = DecodePart(TempName, target, uuencoded);
        if (stored)
            MailMessage.Files.push_back(target);
    } else {
        stored = RenameFile(TempName, target);   // never replaces; a failure leaves the part file
        if (stored)
            NoteFileMoved(TempName, target);
    }
    if (!stored) {
        NoteUnwritten(name, Target);
        return;
    }
    Target.Body.Add("\r\nFile \"" + name + "\" extracted");
    Target.Attachments.Add(name);
}

bool TNMPOP3::DecodePart(const std::string& TempName, const std::string& Target, bool Uuencoded)
{
    std::unique_ptr<TFileStream> out;
    try {
        TFileStream in(TempName, fmOpenRead);
        out = std::make_unique<TFileStream>(Target, fmCreateNew, PrivateFileMode);
        struct Detach {
            TNMUUProcessor* Codec;
            ~Detach() { Codec->InStream = Codec->OutStream = nullptr; }
        } detach{FCodec};
        FCodec->InStream = &in;
        FCodec->OutStream = out.get();
        FCodec->Method = Uuencoded ? uuCode : uuMime;
        if (in.Size() > 0)
            FCodec->Decode();
        return true;
    } catch (const EFCreateError&) {
    } catch (const EFOpenError&) {
    } catch (const EWriteError&) {
        out.reset();
        DeleteFile(Target);   // a part of the file would pass for all of it
    }
    return false;
}

bool TNMPOP3::PartFolderReady()
{
    if (!FFolder.empty())
        return true;
    if (!FAttachFilePath.empty()) {
        FFolder = FAttachFilePath;
        return true;
    }
    MailMessage.PartFolder = partfolder::Make();
    if (MailMessage.PartFolder.empty())
        return false;
    FFolder = MailMessage.PartFolder + "/";
    return true;
}

std::unique_ptr<TFileStream> TNMPOP3::CreatePartFile(std::string& Name)
{
    if (!PartFolderReady())
        return nullptr;
    // The counter starts at 0 in every run: a number whose name is there (from an earlier
    // run, an attachment of that name, or put there since the look) is passed over, never
    // opened.
    for (;;) {
        do {
            ++Pop3TempFileCounter;
            Name = FFolder + "Temp" + std::to_string(Pop3TempFileCounter) + ".mme";
        } while (NameTaken(Name));
        try {
            auto file = std::make_unique<TFileStream>(Name, fmCreateNew, PrivateFileMode);
            MailMessage.Files.push_back(Name);
            return file;
        } catch (const EFCreateError&) {
            if (!NameTaken(Name))
                return nullptr;
        }
    }
}

void TNMPOP3::NoteFileMoved(const std::string& From, const std::string& To)
{
    std::vector<std::string>& files = MailMessage.Files;
    const auto at = std::find(files.begin(), files.end(), From);
    if (at == files.end())
        return;
    if (To.empty())
        files.erase(at);
    else
        *at = To;
}
