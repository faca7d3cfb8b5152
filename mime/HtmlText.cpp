#include "mime/HtmlText.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <set>

namespace mime {

namespace {

std::string_view Name(const xmlNode* n) { return reinterpret_cast<const char*>(n->name); }

// Elements nested deeper than this are read as plain text (no recursion without bound).
constexpr int MaxDepth = 256;

bool Skipped(std::string_view name)
{
    return name == "script" || name == "style" || name == "head" || name == "title" || name == "template";
}

bool Block(std::string_view name)
{
    static const std::set<std::string_view> blocks = {
        "address", "article", "aside", "blockquote", "center", "dd", "div", "dl", "dt", "footer", "form",
        "h1", "h2", "h3", "h4", "h5", "h6", "header", "hr", "li", "main", "nav", "ol", "p", "pre", "section",
        "table", "tr", "ul", "body", "html", "caption", "fieldset", "figure", "figcaption"};
    return blocks.count(name) != 0;
}

bool Spaced(std::string_view name) { return name == "p" || name == "blockquote" || name == "table" || (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6'); }

// Text gathered as a browser lays it out: runs of white space made one space, lines ended
// at blocks, at most one empty line in a row.
class Layout {
public:
    void Text(std::string_view t, bool pre)
    {
        for (char c : t) {
            const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
            if (pre) {
                if (c == '\n')
                    Break(1);
                else if (c != '\r')
                    FLine += c;
            } else if (space) {
                FSpace = !FLine.empty();
            } else {
                if (FSpace)
                    FLine += ' ';
                FSpace = false;
                FLine += c;
            }
        }
    }
    // End the current line; `lines` 2 leaves an empty line after it.
    void Break(int lines)
    {
        if (!FLine.empty())
            FOut += FLine + '\n';
        FLine.clear();
        FSpace = false;
        if (lines == 2 && !FOut.empty() && FOut.compare(FOut.size() - std::min<std::size_t>(2, FOut.size()), 2, "\n\n") != 0)
            FOut += '\n';
    }
    void Separate() { FSpace = !FLine.empty(); }
    std::string Result()
    {
        Break(1);
        while (!FOut.empty() && FOut.back() == '\n')
            FOut.pop_back();
        return FOut;
    }

private:
    std::string FOut, FLine;
    bool FSpace = false;
};

void Walk(const xmlNode* node, Layout& layout, bool pre, int depth)
{
    for (const xmlNode* n = node; n; n = n->next) {
        if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
            if (n->content)
                layout.Text(reinterpret_cast<const char*>(n->content), pre);
            continue;
        }
        if (n->type != XML_ELEMENT_NODE || Skipped(Name(n)))
            continue;
        const std::string_view name = Name(n);
        if (name == "br") {
            layout.Break(1);
            continue;
        }
        const bool block = Block(name);
        if (block)
            layout.Break(Spaced(name) ? 2 : 1);
        if (name == "td" || name == "th")
            layout.Separate();
        if (depth < MaxDepth) {
            Walk(n->children, layout, pre || name == "pre", depth + 1);
        } else if (xmlChar* text = xmlNodeGetContent(n)) {
            // Deeper than any real mail nests: the words go on as one run, none dropped.
            layout.Text(reinterpret_cast<const char*>(text), pre);
            xmlFree(text);
        }
        if (block)
            layout.Break(Spaced(name) ? 2 : 1);
        if (name == "td" || name == "th")
            layout.Separate();
    }
}

}  // namespace

std::string HtmlText(std::string_view html)
{
    static std::once_flag init;
    std::call_once(init, [] { xmlInitParser(); });
    if (html.empty() || html.size() > INT_MAX)
        return {};
    // Without XML_PARSE_HUGE the parser gives up at 256 levels and keeps no text at all.
    const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET |
                        HTML_PARSE_IGNORE_ENC | HTML_PARSE_NOIMPLIED | XML_PARSE_HUGE;
    htmlDocPtr doc = htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8", options);
    if (!doc)
        return {};
    Layout layout;
    Walk(doc->children, layout, false, 0);
    xmlFreeDoc(doc);
    return layout.Result();
}

}  // namespace mime
