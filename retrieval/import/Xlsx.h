#pragma once
// The first sheet of an Excel workbook (.xlsx): its rows as text cells, shared strings resolved.
// Read with libxml2's streaming reader, without DTDs, entities or network, within the import limits.

#include "retrieval/import/LinkSheet.h"
#include "retrieval/import/ZipArchive.h"

#include <string_view>

namespace retrieval {

bool IsXlsx(const ZipArchive& archive);

// Throws ImportError naming `name`; one that says to save the sheet as CSV where the workbook
// cannot be read.
void ReadXlsx(ZipArchive& archive, LinkSheet& sheet, std::string_view name);

} // namespace retrieval
