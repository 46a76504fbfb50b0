#pragma once
// "Links importieren": a link list read from a file fills the table as a Check does, in the
// SEOkicks columns (Nr., Link-URL, Ankertext, Follow, Ziel-URL). A second import adds to such a
// table and leaves out every Link-URL it already holds. The reports go to reporting/liste/, and the
// history stores the import as a Check run of the service "liste" with the file's name.

#include "app/contract/Window.h"
#include "retrieval/import/LinkFile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace table {
class BacklinkTable;
}

namespace retrieval {

inline constexpr const char* kListService = "liste";
inline constexpr const char* kListReportFolder = "\\reporting\\liste\\";

struct ImportCounts {
    std::int64_t fresh = 0;     // rows added
    std::int64_t duplicate = 0; // Link-URLs the table or the list had already
    std::int64_t skipped = 0;   // rows whose linking-page cell holds no http(s) address
    bool operator==(const ImportCounts&) const = default;
};
// "3 neu, 1 doppelt, 0 übersprungen".
std::string CountsText(const ImportCounts& counts);

// The domain field's text in the forms its addresses may show.
DomainForms DomainFormsOf(std::string_view domainText);

// Whether an import adds to the table as it stands (it holds the SEOkicks columns) or starts it anew.
bool ImportAddsTo(const table::BacklinkTable& table);

// What importing the list with these columns would give; the table stays as it is.
ImportCounts CountImport(const table::BacklinkTable& table, const LinkList& list, const ColumnRoles& roles);

// The rows into the table alone (adding to it where ImportAddsTo, else anew), with the progress
// told every few thousand rows; what RunImport does before its reports. The list's rows are let go
// of as they are added: it is spent afterwards.
ImportCounts AddToTable(table::BacklinkTable& table, LinkList& list, const ColumnRoles& roles,
                        const std::function<void(std::int64_t done)>& progress = {});

// Fills the table (spending the list), writes the reports and stores the run. Where the domain field is empty
// it gets the registrable domain most targets lie on. Throws toolkit::Error before anything changes when the
// linking-page column is missing or no domain can be had.
ImportCounts RunImport(toolkit::Window& window, LinkList& list, const ColumnRoles& roles);

// Reads the file with the columns recognised in it and imports it (command line, watch list).
ImportCounts ImportFile(toolkit::Window& window, const std::string& path);

// The registrable domain most target addresses of the list lie on; empty when it has none.
std::string MostCommonTargetDomain(const LinkList& list, int targetColumn);

} // namespace retrieval
