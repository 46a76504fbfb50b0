#include "retrieval/robots/RobotsTxt.h"

#include <cstdint>

namespace retrieval {

namespace {

// Character comparisons one check may make before it gives up: far beyond any real robots.txt,
// a few milliseconds against one made to be slow.
constexpr std::uint64_t kMaxSteps = std::uint64_t{1} << 24;

bool AsciiAlnum(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool Unreserved(unsigned char c) {
    return AsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

// Reserved characters stand as they are, apart from the two that patterns use.
bool KeptAsItIs(unsigned char c) {
    return Unreserved(c) ||
           std::string_view(":/?#[]@!&'()+,;=").find(static_cast<char>(c)) != std::string_view::npos;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// "Googlebot/2.1" names the product "Googlebot": letters, '-' and '_'.
std::string_view ProductToken(std::string_view value) {
    std::size_t n = 0;
    while (n < value.size() && ((value[n] >= 'a' && value[n] <= 'z') ||
                                (value[n] >= 'A' && value[n] <= 'Z') || value[n] == '-' || value[n] == '_'))
        ++n;
    return value.substr(0, n);
}

bool IsStar(std::string_view value) {
    return value.starts_with('*') && (value.size() == 1 || value[1] == ' ' || value[1] == '\t');
}

// The next line without its end (LF, CR LF or CR); `rest` moves past it.
std::string_view TakeLine(std::string_view& rest) {
    const std::size_t end = rest.find_first_of("\r\n");
    const std::string_view line = rest.substr(0, end);
    if (end == std::string_view::npos) {
        rest = {};
    } else {
        rest.remove_prefix(end +
                           (rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n' ? 2 : 1));
    }
    return line;
}

// The first place at or after `from` where `piece` stands in `text`, counting each comparison.
std::size_t Find(std::string_view text, std::string_view piece, std::size_t from, std::uint64_t& steps) {
    if (piece.empty())
        return from;
    for (std::size_t at = from; at + piece.size() <= text.size(); ++at) {
        std::size_t k = 0;
        while (k < piece.size() && text[at + k] == piece[k])
            ++k;
        steps += k + 1;
        if (k == piece.size())
            return at;
        if (steps > kMaxSteps)
            break;
    }
    return std::string_view::npos;
}

} // namespace

std::string NormalisedRobotsPath(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    const auto encode = [&out](unsigned char c) {
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            const auto octet = static_cast<unsigned char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            if (Unreserved(octet))
                out += static_cast<char>(octet);
            else
                encode(octet);
            i += 2;
        } else if (KeptAsItIs(c)) {
            out += static_cast<char>(c);
        } else {
            encode(c);
        }
    }
    return out;
}

RobotsRules RobotsRules::Parse(std::string_view body, std::string_view agent) {
    if (body.size() > kRobotsMaxBytes) {
        const char next = body[kRobotsMaxBytes];
        body = body.substr(0, kRobotsMaxBytes);
        if (next != '\n' && next != '\r') {
            const std::size_t lastEnd = body.find_last_of("\r\n");
            body = lastEnd == std::string_view::npos ? std::string_view() : body.substr(0, lastEnd + 1);
        }
    }
    if (body.starts_with("\xEF\xBB\xBF"))
        body.remove_prefix(3);

    RobotsRules own;
    RobotsRules star;
    bool ownGroupSeen = false; // a group for the agent, even one without rules, rules out "*"
    bool readingAgents = false;
    bool forOwn = false;
    bool forStar = false;
    while (!body.empty()) {
        std::string_view line = TakeLine(body);
        line = Trimmed(line.substr(0, line.find('#')));
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view key = Trimmed(line.substr(0, colon));
        const std::string_view value = Trimmed(line.substr(colon + 1));
        if (EqualsNoCase(key, "user-agent")) {
            if (!readingAgents)
                forOwn = forStar = false; // a rule came last: a new group starts
            readingAgents = true;
            if (IsStar(value)) {
                forStar = true;
            } else if (const std::string_view token = ProductToken(value);
                       !token.empty() && EqualsNoCase(token, agent)) {
                forOwn = true;
                ownGroupSeen = true;
            }
            continue;
        }
        const bool allow = EqualsNoCase(key, "allow");
        if (!allow && !EqualsNoCase(key, "disallow"))
            continue; // sitemap, crawl-delay and the like belong to no group
        readingAgents = false;
        // An empty pattern says nothing; one that starts with neither '/' nor '*' is no path.
        if ((!forOwn && !forStar) || value.empty() || (value[0] != '/' && value[0] != '*'))
            continue;
        Rule rule;
        rule.allow = allow;
        std::string_view pattern = value;
        rule.anchored = pattern.ends_with('$');
        if (rule.anchored)
            pattern.remove_suffix(1);
        for (std::size_t start = 0;;) {
            const std::size_t star = pattern.find('*', start);
            rule.pattern += NormalisedRobotsPath(pattern.substr(start, star - start));
            if (star == std::string_view::npos)
                break;
            rule.pattern += '*';
            start = star + 1;
        }
        if (forOwn)
            own.rules_.push_back(rule);
        if (forStar)
            star.rules_.push_back(std::move(rule));
    }
    return ownGroupSeen ? own : star;
}

// Pieces between the wildcards are placed as early as they fit, which finds a match if there is one.
bool RobotsRules::Matches(const Rule& rule, std::string_view path, std::uint64_t& steps) {
    std::string_view pattern = rule.pattern;
    std::size_t star = pattern.find('*');
    const std::string_view first = pattern.substr(0, star);
    steps += first.size() + 1;
    if (!path.starts_with(first))
        return false;
    if (star == std::string_view::npos)
        return !rule.anchored || path.size() == first.size();
    std::size_t at = first.size();
    for (;;) {
        pattern.remove_prefix(star + 1);
        star = pattern.find('*');
        const std::string_view piece = pattern.substr(0, star);
        if (star == std::string_view::npos && rule.anchored) {
            steps += piece.size() + 1;
            return path.size() - at >= piece.size() && path.ends_with(piece);
        }
        at = Find(path, piece, at, steps);
        if (at == std::string_view::npos)
            return false;
        if (star == std::string_view::npos)
            return true;
        at += piece.size();
    }
}

RobotsRules::Verdict RobotsRules::check(std::string_view pathAndQuery) const {
    const std::string path = NormalisedRobotsPath(pathAndQuery.empty() ? "/" : pathAndQuery);
    if (path == "/robots.txt")
        return Verdict::Allowed;
    std::uint64_t steps = 0;
    bool matched = false;
    std::size_t bestLength = 0;
    bool bestAllow = true;
    for (const Rule& rule : rules_) {
        // Only a longer match, or an Allow as long as the Disallow found, changes the outcome.
        const std::size_t length = rule.length();
        if (matched && (length < bestLength || (length == bestLength && (!rule.allow || bestAllow))))
            continue;
        const bool matches = Matches(rule, path, steps);
        if (steps > kMaxSteps)
            return Verdict::Undecided;
        if (!matches)
            continue;
        matched = true;
        bestLength = length;
        bestAllow = rule.allow;
    }
    return bestAllow ? Verdict::Allowed : Verdict::Disallowed;
}

} // namespace retrieval
