#pragma once
// CSV and HTML reports of the backlink table.

#include "app/contract/Window.h"

#include <string>
#include <string_view>

namespace table {
class BacklinkTable;
}

namespace storage {

// Program folder + a relative literal such as "\reporting\seokicks\"; backslashes become '/'.
std::string ProgramPath(const std::string& programFolder, std::string_view literal);

std::string DateStamp();                       // today's short date without . : - /
std::string DomainStamp(std::string_view domain); // without . : - / "

void WriteCsv(const table::BacklinkTable& table, const std::string& path);
void BuildHtml(const table::BacklinkTable& table, toolkit::LineBuffer& memo11);
// Writes <domain>_<date>.csv and .html under the folder, then shows "Report gespeichert".
// Throws toolkit::Error when a file cannot be written.
void WriteReports(toolkit::Window& window, std::string_view folderLiteral);

} // namespace storage
