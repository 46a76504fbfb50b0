#pragma once
// Outside text (service answers, page text, file contents) as a spreadsheet must read it.

#include <string>
#include <string_view>

namespace text {

// The text of a cell as a spreadsheet must read it: plain text, never a formula or DDE call.
// Every CSV or TSV cell this program writes or copies goes through it first and is then quoted
// by its file's own rule. A cell gets a leading apostrophe (OWASP's advice on CSV injection) when
//   - it begins with TAB, CR or LF, or
//   - its first character after any leading ASCII whitespace (space, TAB, CR, LF, VT, FF) is
//     = + - @ or one of their full-width forms U+FF1D U+FF0B U+FF0D U+FF20.
// Numbers such as "-5" and phone numbers such as "+49 30 1234" are neutralised too: the rule
// does not guess which texts are harmless. Every other cell, the empty one included, comes back
// unchanged. UTF-8 in, UTF-8 out.
std::string SpreadsheetSafe(std::string_view cell);

// Whether SpreadsheetSafe would change the cell.
bool NeedsSpreadsheetGuard(std::string_view cell);

} // namespace text
