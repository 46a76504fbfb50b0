#pragma once
// A link list read from a file or pasted text, whatever its kind: Search Console's lists of linking
// pages (alone or in the ZIP of its Links export), Bing's and the backlink tools' exports, any CSV
// or TSV, plain lists of addresses, the first sheet of an xlsx workbook. What was recognised (kind,
// encoding, delimiter, the columns) comes with the cells, so that a user can see it and choose
// another linking-page column before anything is imported.

#include "retrieval/import/LinkSheet.h"
#include "retrieval/import/Presets.h"

#include <string>
#include <string_view>
#include <vector>

namespace retrieval {

struct LinkList {
    std::string name;      // the file's name without its folder, or "Zwischenablage"
    std::string format;    // "Semrush", "Google Search Console", "CSV", "Adressliste", ...
    std::string encoding;  // "UTF-8", "UTF-16LE", ...; empty for an xlsx sheet
    char delimiter = '\0'; // of a CSV or TSV
    std::string member;    // the file of a ZIP archive that was read
    ColumnRoles roles;
    LinkSheet sheet;
};

// The domain in the forms its addresses may show (typed, IDNA), lower case; it tells the target
// column from the linking-page column where the header does not. May be empty.
using DomainForms = std::vector<std::string>;

// Throws ImportError naming the file (and the line) when it cannot be read as a link list.
LinkList ReadLinkFile(const std::string& path, const DomainForms& domain);
LinkList ReadLinkBytes(std::string bytes, std::string name, const DomainForms& domain);

// An http or https address: the scheme, a host, and no white space.
bool IsWebAddress(std::string_view cell);
// The host of such an address, lower case, without user, port and a final dot.
std::string AddressHost(std::string_view address);

// One line for the user: kind, the ZIP entry, encoding, delimiter, columns and rows.
std::string Describe(const LinkList& list);
// The name of a column: its header, or "Spalte N".
std::string ColumnLabel(const LinkList& list, int col);

} // namespace retrieval
