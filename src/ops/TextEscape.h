// Texts from a cache (URLs, names, headers) written into files that other
// programs read: a timeline CSV or JSON Lines file, an HTML report. Every
// text of an index is hostile: these make sure it stays text in the file
// it is written to, and that the file stays valid UTF-8.
//
// Bytes that do not form valid UTF-8 (overlong forms, surrogates, stray
// continuation bytes) are taken as the Latin-1 characters of the same
// value, as `oriel-cli list --json` shows them, so no byte is lost.
#pragma once

#include <string>
#include <string_view>

namespace oriel {

// A JSON string literal with its quotes: '"', '\' and the control
// characters escaped, other valid UTF-8 as it stands.
void AppendJsonString(std::string& out, std::string_view text);

// One RFC 4180 field, always quoted, quotes doubled. Control characters
// (line breaks among them) are written as "\xHH" so that each record is
// one line for line-based tools. A text that begins with '=', '+', '-' or
// '@' would be taken for a formula by a spreadsheet: it gets a leading
// apostrophe, which the spreadsheet shows as text and does not keep.
void AppendCsvField(std::string& out, std::string_view text);

// True for a text that a spreadsheet would take for a formula: it begins
// with '=', '+', '-' or '@'.
bool LooksLikeFormula(std::string_view text);

// The same without the quotes and the apostrophe, for text that follows
// other text inside one field (or one JSON string).
void AppendCsvText(std::string& out, std::string_view text);
void AppendJsonText(std::string& out, std::string_view text);

// Text for HTML (element content and quoted attribute values alike): '&',
// '<', '>', '"' and '\'' as references, control characters (which XML
// does not allow) and the noncharacters U+FFFE and U+FFFF as "\xHH".
void AppendHtmlText(std::string& out, std::string_view text);
std::string HtmlText(std::string_view text);

} // namespace oriel
