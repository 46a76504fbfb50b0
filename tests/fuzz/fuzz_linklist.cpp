// A link list from any bytes: CSV and TSV, plain lists, encodings, ZIP archives and xlsx sheets.
// Either a German ImportError, or a list whose linking-page column exists and whose import counts
// every row once and adds exactly the new ones to the table.
#include "retrieval/ImportCommand.h"
#include "retrieval/import/LinkFile.h"
#include "table/BacklinkTable.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

class Width : public toolkit::TextWidth {
public:
    std::int32_t width(std::string_view text) const override {
        return static_cast<std::int32_t>(text.size());
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    retrieval::LinkList list;
    try {
        list = retrieval::ReadLinkBytes(std::string(reinterpret_cast<const char*>(data), size), "fuzz.csv",
                                        {"xn--mller-kva.example", "müller.example"});
    } catch (const retrieval::ImportError&) {
        return 0;
    }
    if (list.roles.source < 0 || static_cast<std::size_t>(list.roles.source) >= list.sheet.columns())
        std::abort();
    retrieval::Describe(list);
    for (int c = 0; c < static_cast<int>(list.sheet.columns()); ++c)
        retrieval::ColumnLabel(list, c);
    Width width;
    table::BacklinkTable table(width);
    const retrieval::ImportCounts counted = retrieval::CountImport(table, list, list.roles);
    if (static_cast<std::size_t>(counted.fresh + counted.duplicate + counted.skipped) > list.sheet.rows())
        std::abort();
    const retrieval::ColumnRoles roles = list.roles;
    const retrieval::ImportCounts added = retrieval::AddToTable(table, list, roles);
    if (!(added == counted) || table.RowCount() != 2 + added.fresh)
        std::abort();
    return 0;
}
