#pragma once
// The text of an HTML document for a plain-text view, read with libxml2's HTML parser
// (forgiving: any markup gives some text). Paragraphs, headings, list items, table rows and
// line breaks start lines; scripts, styles and the document head are left out; white space
// is collapsed as a browser does, except inside <pre>. Text nested deeper than 256 elements
// is kept as one run without layout. Nothing throws but std::bad_alloc.

#include <string>
#include <string_view>

namespace mime {

// UTF-8 HTML in, UTF-8 lines joined by "\n" out (a <meta> charset in the document is ignored:
// the caller has decoded it already).
std::string HtmlText(std::string_view html);

}  // namespace mime
