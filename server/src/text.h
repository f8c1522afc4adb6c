#pragma once
// Turning stored field bytes into safe display text.

#include <string>
#include <string_view>

namespace vesquin::scored {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// Valid UTF-8 is kept; anything else is read as Latin-1 (0x80..0x9F as Windows-1252,
// as browsers do) so that a name typed in an old code page still reads right.
std::string DisplayText(std::string_view bytes);

// Escapes & < > " ' for use in element content and attribute values.
std::string HtmlEscape(std::string_view utf8);

// A JSON string literal with quotes. Also escapes < > & so the text is inert if pasted into HTML.
std::string JsonString(std::string_view utf8);

// For log lines: every byte outside printable ASCII becomes \xHH and a backslash \\, so that
// nothing a client sends can move an operator's terminal or forge a line of its own.
std::string EscapeForLog(std::string_view bytes);

}  // namespace vesquin::scored
