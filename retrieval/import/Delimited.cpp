#include "retrieval/import/Delimited.h"

#include "retrieval/import/TextDecode.h"
#include "text/Ascii.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>

namespace retrieval {

namespace {

constexpr std::size_t kSampleRecords = 50;
constexpr std::array<char, 3> kDelimiters = {'\t', ';', ','};

[[noreturn]] void TooManyRows(std::string_view name, std::size_t line) {
    FailAtLine(name, line,
               "Die Datei hat mehr als " + GroupedNumber(kMaxImportRows) +
                   " Zeilen. Bitte in kleineren Teilen importieren");
}

[[noreturn]] void TooLong(std::string_view name, std::size_t line) {
    FailAtLine(name, line, "Die Zeile ist länger als 1 MiB; so lange Zeilen hat keine Linkliste");
}

std::size_t CountLines(std::string_view text, std::size_t from, std::size_t to) {
    return static_cast<std::size_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(from),
                                               text.begin() + static_cast<std::ptrdiff_t>(to), '\n'));
}

// Fields of the first record, quotes respected: the width the others most likely have.
std::size_t FieldsOfFirstRecord(std::string_view s, const TextShape& shape) {
    std::size_t fields = 1;
    bool quoted = false;
    for (std::size_t i = shape.from; i < s.size(); ++i) {
        if (s[i] == '"')
            quoted = !quoted;
        else if (!quoted && s[i] == shape.delimiter)
            ++fields;
        else if (!quoted && s[i] == '\n')
            break;
    }
    return fields;
}

} // namespace

void FailAtLine(std::string_view name, std::size_t line, const std::string& what) {
    throw ImportError("In „" + std::string(name) + "“, Zeile " + GroupedNumber(line) + ": " + what + ".");
}

TextShape DetectShape(std::string_view text) {
    TextShape shape;
    // A spreadsheet's hint line names the delimiter itself.
    if (text.size() >= 5 && text::ascii::Lower(text.substr(0, 4)) == "sep=" &&
        (text.size() == 5 || text[5] == '\r' || text[5] == '\n')) {
        shape.delimiter = text[4];
        const std::size_t end = text.find('\n');
        shape.from = end == std::string_view::npos ? text.size() : end + 1;
        return shape;
    }
    // Delimiters of each of the first records, quotes respected.
    std::array<std::vector<std::size_t>, kDelimiters.size()> counts;
    std::array<std::size_t, kDelimiters.size()> current{};
    bool quoted = false, content = false;
    std::size_t records = 0;
    for (std::size_t i = 0; i < text.size() && records < kSampleRecords; ++i) {
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == '\n') {
            if (content) {
                for (std::size_t k = 0; k < kDelimiters.size(); ++k)
                    counts[k].push_back(current[k]);
                ++records;
            }
            current = {};
            content = false;
            continue;
        } else if (!quoted) {
            for (std::size_t k = 0; k < kDelimiters.size(); ++k)
                current[k] += c == kDelimiters[k];
        }
        if (!text::ascii::IsSpace(c))
            content = true;
    }
    if (content && records < kSampleRecords)
        for (std::size_t k = 0; k < kDelimiters.size(); ++k)
            counts[k].push_back(current[k]);

    double best = 0;
    for (std::size_t k = 0; k < kDelimiters.size(); ++k) {
        const std::vector<std::size_t>& c = counts[k];
        if (c.empty())
            continue;
        std::map<std::size_t, std::size_t> histogram;
        for (const std::size_t n : c)
            ++histogram[n];
        const auto mode = std::max_element(histogram.begin(), histogram.end(),
                                           [](const auto& a, const auto& b) { return a.second < b.second; });
        const double share = static_cast<double>(mode->second) / static_cast<double>(c.size());
        // Most records alike, and the header among them: a quoted line break in the sample may cut one.
        if (mode->first == 0 || share < 0.8 || c.front() != mode->first)
            continue;
        if (share > best) {
            best = share;
            shape.delimiter = kDelimiters[k];
        }
    }
    return shape;
}

void ReadDelimited(LinkSheet& sheet, const TextShape& shape, std::string_view name) {
    std::string& s = sheet.text();
    const char d = shape.delimiter;
    const std::size_t n = s.size();
    std::size_t pos = shape.from;
    std::size_t line = 1 + CountLines(s, 0, pos);
    const std::size_t lines = CountLines(s, pos, n) + 1;
    sheet.reserve(lines, lines * FieldsOfFirstRecord(s, shape));
    std::size_t rows = 0;
    const auto atLineEnd = [&](std::size_t at) {
        return at >= n || s[at] == '\n' || (s[at] == '\r' && (at + 1 == n || s[at + 1] == '\n'));
    };
    while (pos < n) {
        const std::size_t rowPos = pos;
        const std::size_t rowLine = line;
        if (s[pos] == '\n' || (s[pos] == '\r' && pos + 1 < n && s[pos + 1] == '\n')) {
            pos += s[pos] == '\r' ? 2 : 1;
            ++line;
            continue;
        }
        if (++rows > kMaxImportRows + 1)
            TooManyRows(name, rowLine);
        sheet.beginRow(rowPos);
        // Cells are moved together as they are read (a quoted one loses its quotes), each one byte
        // behind the one before; the text never grows, so the copy never overtakes the reading.
        std::size_t w = rowPos;
        for (;;) {
            if (sheet.cellsInLastRow() >= kMaxImportColumns)
                FailAtLine(name, rowLine,
                           "Die Zeile hat mehr als " + GroupedNumber(kMaxImportColumns) + " Spalten");
            if (pos < n && s[pos] == '"') {
                std::size_t r = pos + 1;
                for (;;) {
                    const void* q = std::memchr(s.data() + r, '"', n - r);
                    if (q == nullptr)
                        FailAtLine(
                            name, rowLine,
                            "Ein Feld beginnt mit einem Anführungszeichen, das bis zum Ende der Datei nicht "
                            "geschlossen wird");
                    const std::size_t qi = static_cast<std::size_t>(static_cast<const char*>(q) - s.data());
                    if (qi - rowPos > kMaxImportLineBytes)
                        FailAtLine(name, rowLine,
                                   "Ein Feld in Anführungszeichen reicht über mehr als 1 MiB; fehlt ein "
                                   "schließendes Anführungszeichen?");
                    line += CountLines(s, r, qi);
                    std::memmove(s.data() + w, s.data() + r, qi - r);
                    w += qi - r;
                    if (qi + 1 < n && s[qi + 1] == '"') {
                        s[w++] = '"';
                        r = qi + 2;
                        continue;
                    }
                    r = qi + 1;
                    break;
                }
                pos = r;
                while (pos < n && s[pos] == ' ')
                    ++pos;
                if (pos < n && s[pos] != d && !atLineEnd(pos))
                    FailAtLine(
                        name, line,
                        "Hinter einem Feld in Anführungszeichen folgt weiterer Text statt des Trennzeichens; "
                        "Anführungszeichen in einem Feld müssen verdoppelt sein");
            } else {
                std::size_t e = pos;
                while (e < n && s[e] != d && s[e] != '\n')
                    ++e;
                std::size_t end = e;
                if (end > pos && s[end - 1] == '\r' && (e == n || s[e] == '\n'))
                    --end;
                if (w != pos)
                    std::memmove(s.data() + w, s.data() + pos, end - pos);
                w += end - pos;
                pos = e;
            }
            sheet.endCell(w);
            ++w; // the delimiter's place
            if (pos - rowPos > kMaxImportLineBytes)
                TooLong(name, rowLine);
            if (pos >= n)
                break;
            if (s[pos] == d) {
                ++pos;
                continue;
            }
            if (s[pos] == '\r')
                ++pos;
            ++pos;
            ++line;
            break;
        }
    }
    sheet.finish();
}

void ReadPlainList(LinkSheet& sheet, std::string_view name) {
    const std::string& s = sheet.text();
    const std::size_t n = s.size();
    const std::size_t lines = CountLines(s, 0, n) + 1;
    sheet.reserve(lines, lines);
    std::size_t pos = 0, line = 1, rows = 0;
    while (pos < n) {
        const void* nl = std::memchr(s.data() + pos, '\n', n - pos);
        const std::size_t e =
            nl == nullptr ? n : static_cast<std::size_t>(static_cast<const char*>(nl) - s.data());
        if (e - pos > kMaxImportLineBytes)
            TooLong(name, line);
        const std::string_view entry = text::ascii::Trim(std::string_view(s).substr(pos, e - pos));
        if (!entry.empty() && entry.front() != '#') {
            if (++rows > kMaxImportRows)
                TooManyRows(name, line);
            const auto start = static_cast<std::size_t>(entry.data() - s.data());
            sheet.beginRow(start);
            sheet.endCell(start + entry.size());
        }
        pos = e + 1;
        ++line;
    }
    sheet.finish();
}

} // namespace retrieval
