#include "storage/Changes.h"

#include "storage/Reports.h"

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace storage {

namespace {

constexpr std::string_view kError = "Fehler";

bool Failed(const PageRow& row) {
    return row.status == kError;
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
    if (row.onDomain)
        return out + (row.redirects > 0 ? "; leitet auf die Domain weiter" : "; liegt auf der Domain selbst");
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

// The words whose "vorher" is the last row that read the page's links.
bool ComparesLastSeen(std::string_view word) {
    return word == kChangeLinkRemoved || word == kChangeNowNofollow || word == kChangeNowFollow ||
           word == kChangeTarget || word == kChangeAnchor;
}

struct SummaryPart {
    std::string_view word;
    const char* one;  // "1 Link entfernt"
    const char* many; // "3 Links entfernt"
};
constexpr std::array<SummaryPart, 13> kSummaryOrder = {{
    {kChangeLinkRemoved, "Link entfernt", "Links entfernt"},
    {kChangeNowNofollow, "nofollow geworden", "nofollow geworden"},
    {kChangeUnreachable, "Seite nicht erreichbar", "Seiten nicht erreichbar"},
    {kChangeBlocked, "blockiert", "blockiert"},
    {kChangeStillUnreachable, "Seite weiterhin nicht erreichbar", "Seiten weiterhin nicht erreichbar"},
    {kChangeOnDomain, "Seite leitet auf die Domain weiter", "Seiten leiten auf die Domain weiter"},
    {kChangeNotChecked, "Seite nicht geprüft", "Seiten nicht geprüft"},
    {kChangeUnlisted, "nicht mehr gelistet", "nicht mehr gelistet"},
    {kChangeNowFollow, "follow geworden", "follow geworden"},
    {kChangeBack, "wieder da", "wieder da"},
    {kChangeNew, "neu", "neu"},
    {kChangeTarget, "Linkziel geändert", "Linkziele geändert"},
    {kChangeAnchor, "Ankertext geändert", "Ankertexte geändert"},
}};

std::vector<std::pair<std::string, std::int64_t>> Counts(const Comparison& c, bool lossesOnly) {
    std::vector<std::pair<std::string, std::int64_t>> out;
    if (!c.hasBase)
        return out;
    std::unordered_map<std::string_view, std::int64_t> counts;
    for (const ChangeEntry& entry : c.entries)
        if (entry.loss || !lossesOnly)
            ++counts[entry.word];
    for (const SummaryPart& part : kSummaryOrder)
        if (const std::int64_t n = counts[part.word]; n > 0)
            out.emplace_back(part.word, n);
    return out;
}

std::string_view KeyOf(const PageRow& row) {
    return row.key.empty() ? std::string_view(row.url) : std::string_view(row.key);
}

// Rows by key in one flat table (open addressing): a comparison looks up every row of a large
// run, which a table of nodes makes slow. A key listed twice is found at its first row.
class KeyIndex {
public:
    explicit KeyIndex(const std::vector<PageRow>& rows) : rows_(rows) {
        std::size_t size = 16;
        while (size < rows.size() * 2)
            size <<= 1;
        slots_.assign(size, 0);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::string_view key = KeyOf(rows[i]);
            std::size_t slot = Slot(key);
            while (slots_[slot] != 0 && KeyOf(rows_[slots_[slot] - 1]) != key)
                slot = (slot + 1) & (slots_.size() - 1);
            if (slots_[slot] == 0)
                slots_[slot] = i + 1;
        }
    }
    const PageRow* find(std::string_view key) const {
        for (std::size_t slot = Slot(key); slots_[slot] != 0; slot = (slot + 1) & (slots_.size() - 1))
            if (KeyOf(rows_[slots_[slot] - 1]) == key)
                return &rows_[slots_[slot] - 1];
        return nullptr;
    }

private:
    std::size_t Slot(std::string_view key) const {
        return std::hash<std::string_view>{}(key) & (slots_.size() - 1);
    }

    const std::vector<PageRow>& rows_;
    std::vector<std::size_t> slots_; // row + 1, 0 for an empty slot
};

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

RowChange ChangeOf(const PageRow& now, const PageRow* latest, const PageRow* lastSeen, bool toldUnreachable) {
    if (latest == nullptr)
        return {kChangeNew};
    const PageState state = StateOf(now);
    const PageState before = StateOf(*latest);
    const bool hadLink = lastSeen != nullptr && HasLinks(*lastSeen);
    switch (state) {
    case PageState::Blocked:
        return {kChangeBlocked};
    case PageState::Unreachable:
        if (before == PageState::Unreachable)
            return {kChangeStillUnreachable};
        return {kChangeUnreachable, hadLink && !toldUnreachable};
    case PageState::OnDomain:
        // A Link-URL on the domain itself from the start is no backlink to check.
        return {now.redirects > 0 ? kChangeOnDomain : kChangeNotChecked};
    case PageState::NotChecked:
        return {kChangeNotChecked};
    case PageState::Seen:
        break;
    }
    if (lastSeen != nullptr) {
        if (HasLinks(*lastSeen) && HasNoLinks(now))
            return {kChangeLinkRemoved, !toldUnreachable};
        if (HasFollowed(*lastSeen) && AllNofollow(now))
            return {kChangeNowNofollow, !toldUnreachable};
        if (AllNofollow(*lastSeen) && HasFollowed(now))
            return {kChangeNowFollow};
    }
    const bool wasAway =
        before == PageState::Blocked || before == PageState::Unreachable || before == PageState::OnDomain;
    if (HasLinks(now) && (wasAway || lastSeen == nullptr || HasNoLinks(*lastSeen)))
        return {kChangeBack};
    if (lastSeen != nullptr && HasLinks(*lastSeen) && HasLinks(now)) {
        if (now.target != lastSeen->target)
            return {kChangeTarget};
        if (now.anchor != lastSeen->anchor)
            return {kChangeAnchor};
    }
    return {kChangeNone};
}

Comparison Compare(const std::vector<PageRow>& rows, const ComparisonBase& base) {
    Comparison out;
    out.hasBase = base.exists;
    out.baseTime = base.previousTime;
    // A page's row in the previous Prüfe. Runs mostly list their pages in the same order: the row
    // after the last one found is tried first, and the index is only built when that fails.
    std::optional<KeyIndex> previousIndex;
    std::size_t guess = 0;
    const auto findPrevious = [&](std::string_view key) -> const PageRow* {
        if (guess < base.previous.size() && KeyOf(base.previous[guess]) == key)
            return &base.previous[guess++];
        if (!previousIndex)
            previousIndex.emplace(base.previous);
        const PageRow* found = previousIndex->find(key);
        if (found != nullptr)
            guess = static_cast<std::size_t>(found - base.previous.data()) + 1;
        return found;
    };
    const auto findEarlier = [&base](std::string_view key) -> const EarlierPage* {
        const auto e = base.earlier.find(key);
        return e != base.earlier.end() ? &e->second : nullptr;
    };
    std::optional<KeyIndex> listedNow;              // the pages of the new Prüfe, when a twin needs it
    std::vector<bool> listed(base.previous.size()); // the new Prüfe has the page too
    std::unordered_set<std::string> told;           // key and word of each report line

    out.words.reserve(rows.size());
    out.losses.reserve(rows.size());
    for (const PageRow& row : rows) {
        std::string_view key = KeyOf(row);
        const PageRow* before = findPrevious(key);
        const EarlierPage* earlier =
            before == nullptr || StateOf(*before) != PageState::Seen ? findEarlier(key) : nullptr;
        std::string other; // the key of its http/https twin, when the page is known by that
        if (before == nullptr && earlier == nullptr && !(other = OtherSchemeKey(key)).empty()) {
            const PageRow* twin = findPrevious(other);
            const EarlierPage* twinEarlier =
                twin == nullptr || StateOf(*twin) != PageState::Seen ? findEarlier(other) : nullptr;
            if ((twin != nullptr || twinEarlier != nullptr) && !listedNow)
                listedNow.emplace(rows);
            if ((twin != nullptr || twinEarlier != nullptr) && listedNow->find(other) == nullptr) {
                before = twin;
                earlier = twinEarlier;
                key = other;
            }
        }
        if (before != nullptr)
            listed[static_cast<std::size_t>(before - base.previous.data())] = true;

        const PageRow* latest = before;
        std::time_t latestTime = base.previousTime;
        if (latest == nullptr && earlier != nullptr) {
            latest = &earlier->latest.row;
            latestTime = earlier->latest.runTime;
        }
        const PageRow* seen = nullptr;
        std::time_t seenTime = 0;
        bool toldUnreachable = false;
        if (before != nullptr && StateOf(*before) == PageState::Seen) {
            seen = before;
            seenTime = base.previousTime;
        } else {
            if (earlier != nullptr && earlier->lastSeen) {
                seen = &earlier->lastSeen->row;
                seenTime = earlier->lastSeen->runTime;
            }
            toldUnreachable = (before != nullptr && StateOf(*before) == PageState::Unreachable) ||
                              (earlier != nullptr && earlier->unreachableSinceSeen);
        }

        const RowChange change = ChangeOf(row, latest, seen, toldUnreachable);
        out.words.push_back(change.word);
        out.losses.push_back(change.loss);
        // A page listed twice is told once.
        if (change.word == kChangeNone ||
            !told.insert(std::string(key) + '\x1F' + std::string(change.word)).second)
            continue;
        ChangeEntry entry{row.url, change.word, {}, Describe(row), 0, change.loss};
        const bool toSeen = seen != nullptr && ComparesLastSeen(change.word);
        if (const PageRow* shown = toSeen ? seen : latest) {
            entry.before = Describe(*shown);
            entry.beforeTime = toSeen ? seenTime : latestTime;
        }
        out.entries.push_back(std::move(entry));
    }

    for (std::size_t i = 0; i < base.previous.size(); ++i)
        if (!listed[i])
            out.entries.push_back(
                {base.previous[i].url, kChangeUnlisted, Describe(base.previous[i]), {}, base.previousTime});
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
    return Counts(c, false);
}

std::vector<std::pair<std::string, std::int64_t>> LossCounts(const Comparison& c) {
    return Counts(c, true);
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
