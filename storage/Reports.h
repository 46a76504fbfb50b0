#pragma once
// CSV and HTML reports of the backlink table.

#include "app/contract/Window.h"

#include <array>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace table {
class BacklinkTable;
}

namespace storage {

std::string DateStamp(); // today's short date without . : - /
// `date` in the short date form of the LC_TIME locale `localeName` ("" = the one the environment
// names); where that locale has none of its own (C, POSIX) or is not installed, dd.mm.yyyy.
std::string ShortDate(const std::tm& date, const std::string& localeName);
std::string DateStamp(const std::tm& date, const std::string& localeName);
std::string DomainStamp(std::string_view domain); // without . : - / "

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

// The CSV file's content: one line per row, each ended by CR LF.
std::string CsvText(const table::BacklinkTable& table);
void WriteCsv(const table::BacklinkTable& table, const std::string& path);
void BuildHtml(const table::BacklinkTable& table, toolkit::LineBuffer& memo11);

// Writes <domain>_<date>.csv and .html under the folder, then shows "Report gespeichert".
// Throws toolkit::Error when a file cannot be written. `alsoWrite`, when set, writes a further
// file of the command beside them before the message; it gets the reports' path without the
// extension.
using AlsoWrite = std::function<void(const std::string& basePath)>;
void WriteReports(toolkit::Window& window, std::string_view folderLiteral, const AlsoWrite& alsoWrite = {});
// The same with a given date stamp.
void WriteReports(toolkit::Window& window, std::string_view folderLiteral, const std::string& dateStamp,
                  const AlsoWrite& alsoWrite = {});

// The details file of a cross-check: this header, then the lines; RFC 4180 quoting (unlike the
// reports), UTF-8, CR LF.
inline constexpr std::array<std::string_view, 12> kDetailsHeader = {
    "Nr.",      "Link-URL",    "Status",     "Links",  "rel",  "Ankertext",
    "Ziel-URL", "HTTP-Status", "Endadresse", "Robots", "Grund", "Änderung"};
void WriteDetailsCsv(const std::string& path, const std::vector<std::vector<std::string>>& lines);
// One line of such a file (spreadsheet-safe cells, RFC 4180 quoting, CR LF), for the files that
// follow the details file's rules.
void AppendDetailsCsvLine(std::string& out, std::initializer_list<std::string_view> cells);

} // namespace storage
