#pragma once
// Delimited text (CSV and TSV with comma, semicolon or tab; RFC 4180 quoting, line breaks in quoted
// fields) and plain lists (one entry a line, # comments) cut into the cells of a LinkSheet.

#include "retrieval/import/LinkSheet.h"

#include <string>
#include <string_view>

namespace retrieval {

struct TextShape {
    char delimiter = '\0'; // '\t', ';' or ','; '\0': a plain list
    std::size_t from = 0;  // where the records start: behind a spreadsheet's "sep=;" line
};

// The delimiter that cuts the first records into the same number of fields, if any does.
TextShape DetectShape(std::string_view text);

// Cut `sheet.text()` in place (quoted fields are unescaped where they stand). Empty lines are no
// rows. Throws ImportError naming `name` and the line for broken quoting, a record longer than
// kMaxImportLineBytes, more than kMaxImportRows + 1 records or kMaxImportColumns fields.
void ReadDelimited(LinkSheet& sheet, const TextShape& shape, std::string_view name);
// One cell a line, trimmed; empty lines and lines starting with # are left out.
void ReadPlainList(LinkSheet& sheet, std::string_view name);

// "In „name“, Zeile N: what" as an ImportError.
[[noreturn]] void FailAtLine(std::string_view name, std::size_t line, const std::string& what);

} // namespace retrieval
