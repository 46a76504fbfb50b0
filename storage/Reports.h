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
