#include "text/SpreadsheetSafe.h"

namespace text {

namespace {

bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// = + - @ and their full-width forms, which some spreadsheets also read as the start of a formula.
bool StartsFormula(std::string_view text) {
    if (text.empty())
        return false;
    if (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@')
        return true;
    for (const std::string_view wide : {"\xEF\xBC\x9D", "\xEF\xBC\x8B", "\xEF\xBC\x8D", "\xEF\xBC\xA0"})
        if (text.starts_with(wide))
            return true;
    return false;
}

} // namespace

bool NeedsSpreadsheetGuard(std::string_view cell) {
    if (!cell.empty() && (cell[0] == '\t' || cell[0] == '\r' || cell[0] == '\n'))
        return true;
    std::size_t first = 0;
    while (first < cell.size() && IsAsciiSpace(cell[first]))
        ++first;
    return StartsFormula(cell.substr(first));
}

std::string SpreadsheetSafe(std::string_view cell) {
    return NeedsSpreadsheetGuard(cell) ? "'" + std::string(cell) : std::string(cell);
}

} // namespace text
