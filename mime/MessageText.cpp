// MessageText: the MIME structure of a message walked for its text and attachment names.
#include "mime/MailText.h"

#include "mime/Charset.h"
#include "mime/Entity.h"
#include "mime/HtmlText.h"
#include "mime/Transfer.h"

#include <vector>

namespace mime {

namespace {

// Deeper nesting than this is read as plain text: no real mail comes near it.
constexpr int MaxDepth = 32;
// The name the program has always given a part that carries none.
constexpr const char* UnnamedPart = "text.tmp";

struct Reading {
    std::string Text;
    bool HaveText = false;
    std::vector<std::string> Names;
};

struct Part {
    Entity Raw;
    std::string Type;         // "text/plain" when the part says nothing
    std::string Disposition;  // "", "inline" or "attachment"
    std::string Name;         // UTF-8, "" when none
};

Part ReadPart(std::string_view raw)
{
    Part p;
    p.Raw = SplitEntity(raw);
    const std::string_view type = FieldValue(p.Raw.Header, "Content-Type");
    const std::string_view disposition = FieldValue(p.Raw.Header, "Content-Disposition");
    p.Type = MainValue(type);
    if (p.Type.empty() || p.Type.find('/') == std::string::npos)
        p.Type = "text/plain";
    p.Disposition = MainValue(disposition);
    p.Name = Parameter(disposition, "filename");
    if (p.Name.empty())
        p.Name = Parameter(type, "name");
    return p;
}

// The part's text in UTF-8 with "\n" line ends and no line end after its last line.
std::string PartText(const Part& p)
{
    const std::string_view type = FieldValue(p.Raw.Header, "Content-Type");
    const std::string bytes = DecodeTransfer(p.Raw.Body, FieldValue(p.Raw.Header, "Content-Transfer-Encoding"));
    std::string text = CharsetText(bytes, Parameter(type, "charset"));
    if (p.Type == "text/html")
        return HtmlText(text);
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        lines += text[i] == '\r' ? '\n' : text[i];
    }
    if (!lines.empty() && lines.back() == '\n')
        lines.pop_back();
    return lines;
}

bool Readable(const Part& p)
{
    return (p.Type == "text/plain" || p.Type == "text/html") && p.Disposition != "attachment";
}

void Walk(std::string_view raw, int depth, Reading& r);

// Of the alternatives, plain text first, then the others in the sender's order; the first
// that gives text is read, the rest are left out (they say the same).
void WalkAlternative(const std::vector<std::string_view>& parts, int depth, Reading& r)
{
    std::vector<std::string_view> order;
    for (std::string_view part : parts)
        if (ReadPart(part).Type == "text/plain")
            order.push_back(part);
    for (std::string_view part : parts)
        if (ReadPart(part).Type != "text/plain")
            order.push_back(part);
    for (std::size_t i = 0; i < order.size(); ++i) {
        Reading tried;
        tried.HaveText = r.HaveText;
        Walk(order[i], depth + 1, tried);
        if (tried.HaveText != r.HaveText || i + 1 == order.size()) {
            r.Text += tried.Text;
            r.HaveText = tried.HaveText;
            r.Names.insert(r.Names.end(), tried.Names.begin(), tried.Names.end());
            return;
        }
    }
}

void Walk(std::string_view raw, int depth, Reading& r)
{
    const Part p = ReadPart(raw);
    if (p.Type.compare(0, 10, "multipart/") == 0 && depth < MaxDepth) {
        const std::string boundary = RawParameterValue(FieldValue(p.Raw.Header, "Content-Type"), "boundary");
        const std::vector<std::string_view> parts = BodyParts(p.Raw.Body, boundary);
        if (!parts.empty()) {
            if (p.Type == "multipart/alternative")
                WalkAlternative(parts, depth, r);
            else
                for (std::string_view part : parts)
                    Walk(part, depth + 1, r);
            return;
        }
    }
    const bool readable = Readable(p) || (p.Type.compare(0, 10, "multipart/") == 0 && p.Disposition != "attachment");
    if (readable && !r.HaveText) {
        r.Text = PartText(p);
        r.HaveText = true;
    } else if (readable && p.Name.empty()) {
        // Text that follows the body inline (a list's footer) is part of what people read.
        r.Text += "\n" + PartText(p);
    } else {
        r.Names.push_back(p.Name.empty() ? UnnamedPart : p.Name);
    }
}

}  // namespace

std::string MessageText(std::string_view rawMessage)
{
    Reading r;
    Walk(rawMessage, 0, r);
    std::string out = std::move(r.Text);
    for (const std::string& name : r.Names)
        out += "\n\nFile \"" + name + "\" extracted";
    return out;
}

}  // namespace mime
