#include "retrieval/Parsing.h"

#include "app/contract/LineBuffer.h"
#include "text/Ascii.h"

#include <algorithm>
#include <cstddef>

namespace retrieval {

namespace {

struct Layout {
    std::string_view tag;
    std::vector<std::size_t> offsets;
    std::size_t cleanedColumn; // index into offsets whose cell loses its CDATA markers; npos: none
};

const Layout& LayoutOf(Service service) {
    static const Layout seokicks{"<url>", {1, 6, 11, 19}, 1};
    static const Layout xovi{"<linkingUrl>", {1, 5}, std::string_view::npos};
    return service == Service::Seokicks ? seokicks : xovi;
}

// `lowerNeedle` must be lower case ASCII.
bool MatchesIgnoringCase(std::string_view text, std::size_t at, std::string_view lowerNeedle) {
    if (text.size() - at < lowerNeedle.size())
        return false;
    for (std::size_t k = 0; k < lowerNeedle.size(); ++k)
        if (text::ascii::Lower(text[at + k]) != lowerNeedle[k])
            return false;
    return true;
}

// One left-to-right pass that drops every non-overlapping occurrence; what the removal joins
// together is not searched again, as with a replace-all.
std::string RemoveAllIgnoringCase(std::string_view text, std::string_view lowerNeedle) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (MatchesIgnoringCase(text, i, lowerNeedle)) {
            i += lowerNeedle.size();
        } else {
            out.push_back(text[i]);
            ++i;
        }
    }
    return out;
}

std::string CleanAnchor(std::string_view line) {
    if (line.find_first_of("<]") == std::string_view::npos)
        return std::string(line);
    return RemoveAllIgnoringCase(RemoveAllIgnoringCase(line, "<![cdata["), "]]>");
}

} // namespace

std::string SplitTags(std::string_view text) {
    const auto brackets = static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return c == '<' || c == '>'; }));
    std::string out(text.size() + 2 * brackets, '\0');
    char* o = out.data();
    for (const char c : text) {
        if (c == '<') {
            *o++ = '\r';
            *o++ = '\n';
            *o++ = '<';
        } else if (c == '>') {
            *o++ = '>';
            *o++ = '\r';
            *o++ = '\n';
        } else {
            *o++ = c;
        }
    }
    return out;
}

std::vector<std::string_view> Lines(std::string_view text) {
    return toolkit::SplitLinesView(text);
}

std::vector<Record> ExtractRecords(const std::vector<std::string_view>& lines, Service service) {
    const Layout& layout = LayoutOf(service);
    const auto isTag = [&](std::string_view line) { return line == layout.tag; };

    std::vector<Record> records;
    records.reserve(static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), isTag)));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!isTag(lines[i]))
            continue;
        Record record;
        record.reserve(layout.offsets.size());
        for (std::size_t c = 0; c < layout.offsets.size(); ++c) {
            const std::size_t at = i + layout.offsets[c];
            // A record tag near the end of a cut-off answer still gives a full row.
            if (at >= lines.size())
                record.emplace_back();
            else if (c == layout.cleanedColumn)
                record.push_back(CleanAnchor(lines[at]));
            else
                record.emplace_back(lines[at]);
        }
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<std::string> Headers(Service service) {
    if (service == Service::Seokicks)
        return {"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"};
    return {"Nr.", "Link-URL", "Ankertext"};
}

} // namespace retrieval
