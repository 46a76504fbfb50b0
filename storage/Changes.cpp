#include "storage/Changes.h"

#include "storage/Reports.h"

#include <algorithm>
#include <array>
#include <unordered_map>

namespace storage {

namespace {

constexpr std::string_view kError = "Fehler";

bool Failed(const PageRow& row) {
    return row.status == kError;
}

bool Blocking(std::int64_t httpStatus) {
    return httpStatus == 401 || httpStatus == 403 || httpStatus == 429 || httpStatus == 503;
}

// Link counts are known only for pages whose links were read.
bool HasLinks(const PageRow& row) {
    return row.linkCount.value_or(0) > 0;
}
bool HasNoLinks(const PageRow& row) {
    return row.linkCount && *row.linkCount == 0;
}
bool HasFollowed(const PageRow& row) {
    return row.followCount.value_or(0) > 0;
}
bool AllNofollow(const PageRow& row) {
    return HasLinks(row) && row.followCount && *row.followCount == 0;
}

// 10000 as "10.000".
std::string Count(std::size_t n) {
    std::string digits = std::to_string(n);
    for (std::size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, ".");
    return digits;
}

std::string Describe(const PageRow& row) {
    if (Failed(row))
        return row.reason.empty() ? std::string(kError) : std::string(kError) + ": " + row.reason;
    std::string out = row.status;
    if (!row.linkCount)
        return out + "; Links nicht geprüft";
    const auto links = static_cast<std::size_t>(*row.linkCount);
    if (links == 0)
        return out + "; kein Link";
    out += "; " + Count(links) + (links == 1 ? " Link" : " Links");
    const auto followed = static_cast<std::size_t>(row.followCount.value_or(0));
    out += followed == links ? (links == 1 ? ", follow" : ", alle follow")
                             : (followed == 0 ? ", kein follow" : ", davon " + Count(followed) + " follow");
    if (!row.anchor.empty())
        out += "; Ankertext \xE2\x80\x9E" + row.anchor + "\xE2\x80\x9C";
    if (!row.target.empty())
        out += "; Ziel " + row.target;
    return out;
}

// The words whose "vorher" is the last row that could fetch the page.
bool ComparesLastSeen(std::string_view word) {
    return word == kChangeLinkRemoved || word == kChangeNowNofollow || word == kChangeNowFollow ||
           word == kChangeTarget || word == kChangeAnchor;
}

struct SummaryPart {
    std::string_view word;
    const char* one;  // "1 Link entfernt"
    const char* many; // "3 Links entfernt"
};
constexpr std::array<SummaryPart, 10> kSummaryOrder = {{
    {kChangeLinkRemoved, "Link entfernt", "Links entfernt"},
    {kChangeNowNofollow, "nofollow geworden", "nofollow geworden"},
    {kChangeUnreachable, "Seite nicht erreichbar", "Seiten nicht erreichbar"},
    {kChangeBlocked, "blockiert", "blockiert"},
    {kChangeUnlisted, "nicht mehr gelistet", "nicht mehr gelistet"},
    {kChangeNowFollow, "follow geworden", "follow geworden"},
    {kChangeBack, "wieder da", "wieder da"},
    {kChangeNew, "neu", "neu"},
    {kChangeTarget, "Linkziel geändert", "Linkziele geändert"},
    {kChangeAnchor, "Ankertext geändert", "Ankertexte geändert"},
}};

void AppendHtml(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
}

std::string DateText(std::time_t time) {
    return time == 0 ? std::string() : RunTimeText(time);
}

} // namespace

std::string_view ChangeWord(const PageRow& now, const PageRow* previous, const PageRow* lastSeen, bool known) {
    if (!known)
        return kChangeNew;
    if (Failed(now))
        return Blocking(now.httpStatus) ? kChangeBlocked : kChangeUnreachable;
    if (lastSeen != nullptr) {
        if (HasLinks(*lastSeen) && HasNoLinks(now))
            return kChangeLinkRemoved;
        if (HasFollowed(*lastSeen) && AllNofollow(now))
            return kChangeNowNofollow;
        if (AllNofollow(*lastSeen) && HasFollowed(now))
            return kChangeNowFollow;
    }
    if (HasLinks(now) &&
        ((previous != nullptr && Failed(*previous)) || lastSeen == nullptr || HasNoLinks(*lastSeen)))
        return kChangeBack;
    if (lastSeen != nullptr && HasLinks(*lastSeen) && HasLinks(now)) {
        if (now.target != lastSeen->target)
            return kChangeTarget;
        if (now.anchor != lastSeen->anchor)
            return kChangeAnchor;
    }
    return kChangeNone;
}

Comparison Compare(const std::vector<PageRow>& rows, const ComparisonBase& base) {
    Comparison out;
    out.hasBase = base.exists;
    out.baseTime = base.previousTime;
    // By Link-URL: the position of its first row in the previous Prüfe.
    std::unordered_map<std::string_view, std::size_t> previous;
    const bool matched = base.previousRow.size() == rows.size();
    if (!matched) {
        previous.reserve(base.previous.size());
        for (std::size_t i = 0; i < base.previous.size(); ++i)
            previous.emplace(base.previous[i].url, i);
    }
    const auto previousRow = [&](std::size_t i) -> std::ptrdiff_t {
        if (matched)
            return base.previousRow[i];
        const auto p = previous.find(rows[i].url);
        return p != previous.end() ? static_cast<std::ptrdiff_t>(p->second) : -1;
    };
    std::vector<bool> listed(base.previous.size()); // the new Prüfe has the Link-URL too

    out.words.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const PageRow& row = rows[i];
        const std::ptrdiff_t at = previousRow(i);
        const PageRow* before = nullptr;
        if (at >= 0) {
            before = &base.previous[static_cast<std::size_t>(at)];
            listed[static_cast<std::size_t>(at)] = true;
        }
        // Last seen in the previous Prüfe when it could fetch the page, else further back.
        const PageRow* seen = nullptr;
        std::time_t seenTime = 0;
        if (before != nullptr && !Failed(*before)) {
            seen = before;
            seenTime = base.previousTime;
        } else if (const auto s = base.lastSeen.find(row.url); s != base.lastSeen.end()) {
            seen = &s->second.row;
            seenTime = s->second.runTime;
        }
        const bool known = before != nullptr || base.known.count(row.url) != 0;
        const std::string_view word = ChangeWord(row, before, seen, known);
        out.words.push_back(word);
        if (word == kChangeNone)
            continue;
        ChangeEntry entry{row.url, word, {}, Describe(row), 0};
        if (seen != nullptr && (ComparesLastSeen(word) || before == nullptr)) {
            entry.before = Describe(*seen);
            entry.beforeTime = seenTime;
        } else if (before != nullptr) {
            entry.before = Describe(*before);
            entry.beforeTime = base.previousTime;
        }
        out.entries.push_back(std::move(entry));
    }

    for (std::size_t i = 0; i < base.previous.size(); ++i) {
        const PageRow& row = base.previous[i];
        // A Link-URL listed twice counts at its first row.
        if (!listed[i] && (matched || previous.find(row.url)->second == i))
            out.entries.push_back({row.url, kChangeUnlisted, Describe(row), {}, base.previousTime});
    }
    return out;
}

std::string RunTimeText(std::time_t time) {
    std::tm local{};
    ::localtime_r(&time, &local);
    char text[32];
    std::strftime(text, sizeof text, "%d.%m.%Y %H:%M", &local);
    return text;
}

std::vector<std::pair<std::string, std::int64_t>> ChangeCounts(const Comparison& c) {
    std::vector<std::pair<std::string, std::int64_t>> out;
    if (!c.hasBase)
        return out;
    std::unordered_map<std::string_view, std::int64_t> counts;
    for (const ChangeEntry& entry : c.entries)
        ++counts[entry.word];
    for (const SummaryPart& part : kSummaryOrder)
        if (const std::int64_t n = counts[part.word]; n > 0)
            out.emplace_back(part.word, n);
    return out;
}

std::int64_t LossCount(const std::vector<std::pair<std::string, std::int64_t>>& counts) {
    std::int64_t lost = 0;
    for (const auto& [word, n] : counts)
        if (word == kChangeLinkRemoved || word == kChangeNowNofollow || word == kChangeUnreachable)
            lost += n;
    return lost;
}

std::string SummaryLine(const Comparison& c) {
    if (!c.hasBase)
        return "Erste Prüfung dieser Domain: Sie ist die Grundlage für den Vergleich bei der nächsten Prüfung.";
    std::string parts;
    for (const auto& count : ChangeCounts(c)) {
        const std::int64_t n = count.second;
        const SummaryPart& part = *std::find_if(kSummaryOrder.begin(), kSummaryOrder.end(),
                                                [&count](const SummaryPart& p) { return p.word == count.first; });
        parts += (parts.empty() ? "" : ", ") + Count(static_cast<std::size_t>(n)) + " " + (n == 1 ? part.one : part.many);
    }
    return "Seit der Prüfung vom " + RunTimeText(c.baseTime) + ": " + (parts.empty() ? "keine Änderungen" : parts);
}

std::string NoteLine(const Comparison& c, std::size_t row) {
    if (!c.hasBase || row >= c.words.size())
        return {};
    return "Seit " + RunTimeText(c.baseTime) + ": " + std::string(c.words[row]);
}

std::string ChangesCsv(const Comparison& c) {
    std::string out;
    AppendDetailsCsvLine(out, {kChangesHeader[0], kChangesHeader[1], kChangesHeader[2], kChangesHeader[3],
                        kChangesHeader[4]});
    for (const ChangeEntry& e : c.entries)
        AppendDetailsCsvLine(out, {e.url, e.word, e.before, e.now, DateText(e.beforeTime)});
    return out;
}

std::string ChangesHtml(const Comparison& c, std::string_view domain) {
    std::string out =
        "<!DOCTYPE html>\r\n<html lang=\"de\">\r\n<head>\r\n<meta charset=\"utf-8\">\r\n<title>Änderungen ";
    AppendHtml(out, domain);
    out += "</title>\r\n<style>\r\n"
           "@page { size: A4; margin: 15mm; }\r\n"
           "body { font-family: sans-serif; font-size: 10pt; margin: 1em; }\r\n"
           "table { border-collapse: collapse; width: 100%; table-layout: fixed; }\r\n"
           "th, td { border: 1px solid #999; padding: 2px 4px; text-align: left; vertical-align: top; "
           "overflow-wrap: anywhere; }\r\n"
           "th { background: #eee; }\r\n"
           "thead { display: table-header-group; }\r\n"
           "tr { break-inside: avoid; }\r\n"
           "</style>\r\n</head>\r\n<body>\r\n<h1>Änderungen ";
    AppendHtml(out, domain);
    out += "</h1>\r\n<p>";
    AppendHtml(out, SummaryLine(c));
    out += "</p>\r\n<table>\r\n<thead><tr>";
    for (const std::string_view title : kChangesHeader) {
        out += "<th>";
        AppendHtml(out, title);
        out += "</th>";
    }
    out += "</tr></thead>\r\n<tbody>\r\n";
    for (const ChangeEntry& e : c.entries) {
        out += "<tr>";
        for (const std::string_view cell : {std::string_view(e.url), e.word, std::string_view(e.before),
                                            std::string_view(e.now)}) {
            out += "<td>";
            AppendHtml(out, cell);
            out += "</td>";
        }
        out += "<td>";
        AppendHtml(out, DateText(e.beforeTime));
        out += "</td></tr>\r\n";
    }
    out += "</tbody>\r\n</table>\r\n</body>\r\n</html>\r\n";
    return out;
}

} // namespace storage
