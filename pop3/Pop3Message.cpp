#include "pop3/Nmpop3.h"
#include "pop3/Pop3Reply.h"

#include "runtime/Stream.h"
#include "runtime/SysUtils.h"

#include <sys/stat.h>

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

// The boundary key after "BOUNDARY=" at `at` of the line: the quoted text, or the text up
// to the next ";" or blank.
std::string CutBoundary(std::string_view line, std::size_t at)
{
    std::string_view rest = line.substr(at, 256);
    if (!rest.empty() && rest.front() == '"') {
        rest.remove_prefix(1);
        return std::string(rest.substr(0, rest.find('"')));
    }
    const std::size_t end = rest.find_first_of("; \t\r\n");
    return std::string(rest.substr(0, end));
}

// Temporary part file contents are collected and written in blocks of this size.
constexpr std::size_t PartWriteBlock = 65536;

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
    if (out.find_first_not_of('.') == std::string::npos)
        return "";   // "", "." and ".." name no file of their own
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
        FAttachName.clear();
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
        if (Contains(LowerCase(MailMessage.ContentType), "multipart")) {
            ReadParts();
        } else if (!Parse) {
            MailMessage.Body.Assign(MailMessage.RawBody);
        } else if (Contains(UpperCase(FTransferEncoding), "BASE64")) {
            FPartMode = PartToFile;
            ReadBody(MailMessage);
            if (MailMessage.Attachments.Count() == 0)
                throw Exception("Empty Base64 body: nothing to decode");
            MailMessage.Body.LoadFromFile(FAttachFilePath + MailMessage.Attachments[0]);
        } else {
            ReadBody(MailMessage);
        }
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
        Target.Boundary = CutBoundary(Line, boundary + 9);
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
    while (!key.empty() && !found && Pop3LineCursor < raw.Count())
        found = Contains(raw[Pop3LineCursor++], key);
    if (!found)
        throw Exception("Multipart message without its boundary line");
    bool closed = false;
    do {
        ReadHeader(true, scratch);
        closed = ReadBody(MailMessage);
    } while (!closed && Pop3LineCursor < raw.Count());
}

bool TNMPOP3::ReadBody(TMailMessage& Target)
{
    std::unique_ptr<TFileStream> part;
    std::string partName;
    if (FPartMode == PartToFile) {
        // The counter starts at 0 in every run: numbers whose file exists (from an earlier
        // run, or an attachment of that name) are passed over rather than emptied.
        do {
            ++Pop3TempFileCounter;
            partName = FAttachFilePath + "Temp" + std::to_string(Pop3TempFileCounter) + ".mme";
        } while (NameTaken(partName));
        part = std::make_unique<TFileStream>(partName, fmCreate);
    }
    StatusMessage(1, "Extracting file");
    const TStringList& raw = MailMessage.RawBody;
    if (Pop3LineCursor >= raw.Count())
        return false;
    std::string pending;   // part file bytes not yet written
    long long written = 0;
    const std::string* delimiter = nullptr;
    while (Pop3LineCursor < raw.Count()) {
        const std::string& line = raw[Pop3LineCursor++];
        if (!Target.Boundary.empty() && Contains(line, Target.Boundary)) {
            delimiter = &line;
            break;
        }
        if (part) {
            pending += line;
            pending += "\r\n";
            if (pending.size() >= PartWriteBlock) {
                part->WriteBuffer(pending.data(), static_cast<long long>(pending.size()));
                written += static_cast<long long>(pending.size());
                pending.clear();
            }
        } else {
            Target.Body.Add(line);
        }
        ++FBytesRecvd;
        if (OnPacketRecvd)
            OnPacketRecvd(this);
    }
    if (part) {
        part->WriteBuffer(pending.data(), static_cast<long long>(pending.size()));
        written += static_cast<long long>(pending.size());
        part.reset();
        if (written > 0)
            ExtractPart(partName, Target);
    }
    // The closing delimiter is the key followed by "--" (RFC 2046); looking only at the
    // line's last characters would take every delimiter of a short key, or of a key that
    // ends in "--", for the closing one and drop the parts after it.
    const bool closing = delimiter && StartsWith(std::string_view(*delimiter).substr(delimiter->find(Target.Boundary) + Target.Boundary.size()), "--");
    FPartMode = PartToFile;
    return closing;
}

void TNMPOP3::ExtractPart(const std::string& TempName, TMailMessage& Target)
{
    std::string name = PlainFileName(FAttachName);
    if (name.empty())
        name = "text.tmp";
    const std::size_t dot = name.rfind('.');
    const std::string base = name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    for (int k = 1; NameTaken(FAttachFilePath + name); ++k)
        name = base + "_" + std::to_string(k) + extension;
    if (OnDecodeStart)
        OnDecodeStart(name);
    Target.Body.Add("\r\nFile \"" + name + "\" extracted");
    Target.Attachments.Add(name);
    const std::string target = FAttachFilePath + name;
    // Encoding names are case-insensitive (RFC 2045): mailers write "x-uuencode".
    const bool uuencoded = Contains(UpperCase(FTransferEncoding), "X-UUENCODE");
    if (uuencoded || Contains(LowerCase(FTransferEncoding), "base64")) {
        TFileStream in(TempName, fmOpenRead);
        TFileStream out(target, fmCreate);
        struct Detach {
            TNMUUProcessor* Codec;
            ~Detach() { Codec->InStream = Codec->OutStream = nullptr; }
        } detach{FCodec};
        FCodec->InStream = &in;
        FCodec->OutStream = &out;
        FCodec->Method = uuencoded ? uuCode : uuMime;
        StatusMessage(1, "Decoding file");
        if (in.Size() > 0)
            FCodec->Decode();
    } else {
        RenameFile(TempName, target);   // never replaces; a failure leaves the part file
    }
}
