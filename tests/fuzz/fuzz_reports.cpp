// The CSV and HTML report writers on tables of any cell texts.
#include "app/contract/LineBuffer.h"
#include "storage/Reports.h"
#include "table/BacklinkTable.h"
#include "text/SpreadsheetSafe.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

namespace {

class ByteWidth final : public toolkit::TextWidth {
public:
    std::int32_t width(std::string_view text) const override {
        return static_cast<std::int32_t>(text.size());
    }
};

// Reads the CSV back by its own rules: quoted cells with doubled quotes, ',' between cells, CR LF
// after each row outside quotes.
std::vector<std::vector<std::string>> ParseCsv(const std::string& csv) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    std::size_t i = 0;
    while (i < csv.size()) {
        std::string& cell = rows.back().back();
        if (csv[i] == '"' && cell.empty()) {
            for (++i; i < csv.size(); ++i) {
                if (csv[i] == '"' && i + 1 < csv.size() && csv[i + 1] == '"')
                    cell += csv[i++];
                else if (csv[i] == '"')
                    break;
                else
                    cell += csv[i];
            }
            ++i;
        } else if (csv[i] == ',') {
            rows.back().emplace_back();
            ++i;
        } else if (csv.compare(i, 2, "\r\n") == 0) {
            rows.emplace_back(1);
            i += 2;
        } else {
            cell += csv[i++];
        }
    }
    rows.pop_back(); // after the last CR LF
    return rows;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    ByteWidth measure;
    table::BacklinkTable table(measure);
    const auto cols = input.ConsumeIntegralInRange<std::int32_t>(1, 6);
    const auto rows = input.ConsumeIntegralInRange<std::int32_t>(1, 8);
    table.SetColCount(cols);
    table.SetRowCount(rows);
    for (std::int32_t row = 0; row < rows && input.remaining_bytes() > 0; ++row)
        for (std::int32_t col = 0; col < cols; ++col)
            table.SetCell(col, row, input.ConsumeRandomLengthString(64));

    // Each cell reads back as the spreadsheet-safe form of itself.
    std::vector<std::vector<std::string>> cells;
    for (std::int32_t row = 0; row < rows; ++row) {
        cells.push_back(table.RowCells(row));
        for (std::string& cell : cells.back())
            cell = text::SpreadsheetSafe(cell);
    }
    if (ParseCsv(storage::CsvText(table)) != cells)
        std::abort();

    toolkit::LineBuffer memo11;
    storage::BuildHtml(table, memo11);
    if (memo11.count() != static_cast<std::size_t>(2 + rows * (cols + 2)))
        std::abort();
    storage::DomainStamp(input.ConsumeRemainingBytesAsString());
    return 0;
}
