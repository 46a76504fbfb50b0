#include "storage/Reports.h"

#include "storage/Files.h"
#include "table/BacklinkTable.h"
#include "text/SpreadsheetSafe.h"

#include <cstdlib>
#include <langinfo.h>
#include <locale.h>

namespace storage {

namespace {

constexpr const char* kGermanShortDate = "%d.%m.%Y";

std::string RemoveChars(std::string_view text, std::string_view unwanted) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (unwanted.find(c) == std::string_view::npos)
            out += c;
    return out;
}

// The LC_TIME locale name the environment chooses, by the usual precedence.
std::string EnvironmentTimeLocale() {
    for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(var);
        if (value != nullptr && *value != '\0')
            return value;
    }
    return {};
}

bool IsPlainCLocale(const std::string& name) {
    return name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

std::string FormatDate(const std::tm& date, const char* format, locale_t locale) {
    char buffer[256];
    const std::size_t n = locale != nullptr ? ::strftime_l(buffer, sizeof buffer, format, &date, locale)
                                            : std::strftime(buffer, sizeof buffer, format, &date);
    return std::string(buffer, n);
}

enum class CsvQuoting {
    Report,  // also for any character from 1 to 32, space included: the reports' own rule
    Rfc4180, // only for a comma, a double quote, CR or LF
};

bool NeedsCsvQuotes(std::string_view cell, CsvQuoting rule) {
    for (char c : cell) {
        const auto code = static_cast<unsigned char>(c);
        if (c == ',' || c == '"')
            return true;
        if (rule == CsvQuoting::Report ? (code >= 1 && code <= 32) : (c == '\r' || c == '\n'))
            return true;
    }
    return false;
}

// The cell made safe for a spreadsheet, then quoted by `rule`; the apostrophe never changes
// whether a cell needs quotes.
void AppendCsvCell(std::string& out, std::string_view cell, CsvQuoting rule = CsvQuoting::Report) {
    const bool quoted = NeedsCsvQuotes(cell, rule);
    if (quoted)
        out += '"';
    if (text::NeedsSpreadsheetGuard(cell))
        out += '\'';
    if (!quoted) {
        out += cell;
        return;
    }
    for (char c : cell) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

// The fragment is pasted into web pages and its cells carry third-party text, so markup in a
// cell must not become markup of the page. '&' stays: cells hold XML text whose entities
// already read correctly in HTML.
void AppendHtmlText(std::string& out, std::string_view cell) {
    for (char c : cell) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
}

} // namespace

std::string ShortDate(const std::tm& date, const std::string& localeName) {
    const std::string name = localeName.empty() ? EnvironmentTimeLocale() : localeName;
    if (IsPlainCLocale(name))
        return FormatDate(date, kGermanShortDate, nullptr);
    const locale_t locale = ::newlocale(LC_TIME_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    if (locale == static_cast<locale_t>(nullptr))
        return FormatDate(date, kGermanShortDate, nullptr);
    const char* format = ::nl_langinfo_l(D_FMT, locale);
    std::string out =
        FormatDate(date, format != nullptr && *format != '\0' ? format : kGermanShortDate, locale);
    ::freelocale(locale);
    return out;
}

std::string DateStamp(const std::tm& date, const std::string& localeName) {
    return RemoveChars(ShortDate(date, localeName), ".:-/");
}

std::string DateStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return DateStamp(local, std::string());
}

std::string DomainStamp(std::string_view domain) {
    return RemoveChars(domain, ".:-/\"");
}

std::string CsvText(const table::BacklinkTable& table) {
    std::string out;
    const std::int32_t rows = table.RowCount();
    for (std::int32_t row = 0; row < rows; ++row) {
        const std::vector<std::string> cells = table.RowCells(row);
        for (std::size_t col = 0; col < cells.size(); ++col) {
            if (col > 0)
                out += ',';
            AppendCsvCell(out, cells[col]);
        }
        out += "\r\n";
    }
    return out;
}

void WriteCsv(const table::BacklinkTable& table, const std::string& path) {
    WriteFileAtomic(path, CsvText(table));
}

void WriteDetailsCsv(const std::string& path, const std::vector<std::vector<std::string>>& lines) {
    std::string out;
    const auto appendLine = [&out](const auto& cells) {
        bool first = true;
        for (const auto& cell : cells) {
            if (!first)
                out += ',';
            first = false;
            AppendCsvCell(out, cell, CsvQuoting::Rfc4180);
        }
        out += "\r\n";
    };
    appendLine(kDetailsHeader);
    for (const std::vector<std::string>& line : lines)
        appendLine(line);
    WriteFileAtomic(path, out);
}

void AppendDetailsCsvLine(std::string& out, std::initializer_list<std::string_view> cells) {
    bool first = true;
    for (const std::string_view cell : cells) {
        if (!first)
            out += ',';
        first = false;
        AppendCsvCell(out, cell, CsvQuoting::Rfc4180);
    }
    out += "\r\n";
}

void BuildHtml(const table::BacklinkTable& table, toolkit::LineBuffer& memo11) {
    memo11.clear();
    memo11.append("  <table>");
    const std::int32_t rows = table.RowCount();
    const std::int32_t cols = table.ColCount();
    for (std::int32_t row = 0; row < rows; ++row) {
        memo11.append("  <tr>");
        for (std::int32_t col = 0; col < cols; ++col) {
            const std::string& cell = table.GetCell(col, row);
            std::string line = "    <td align=\"left\" valign=\"top\">";
            if (cell.empty())
                line += ' ';
            else
                AppendHtmlText(line, cell);
            line += "</td>";
            memo11.append(std::move(line));
        }
        memo11.append("  </tr>");
    }
    memo11.append("  </table>");
}

void WriteReports(toolkit::Window& window, std::string_view folderLiteral, const std::string& dateStamp,
                  const AlsoWrite& alsoWrite) {
    const std::string folder = ProgramPath(window.shared.programFolder, folderLiteral);
    // A level that cannot be made shows up as the failure of the first write below.
    MakeMissingDirectories(folder);

    const std::string base = folder + DomainStamp(window.fields.domainText()) + "_" + dateStamp;
    window.shared.reportPath = base + ".csv";
    WriteCsv(window.table, window.shared.reportPath);

    BuildHtml(window.table, window.memo11);
    window.shared.reportPath = base + ".html";
    WriteFileAtomic(window.shared.reportPath, window.memo11.text());
    if (alsoWrite)
        alsoWrite(base);

    window.box.showMessage("Report gespeichert");
}

void WriteReports(toolkit::Window& window, std::string_view folderLiteral, const AlsoWrite& alsoWrite) {
    WriteReports(window, folderLiteral, DateStamp(), alsoWrite);
}

} // namespace storage
