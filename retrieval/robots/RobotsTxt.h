#pragma once
// robots.txt as RFC 9309 reads it: the rules of the group for one crawler, and whether a path may
// be crawled under them. The body is untrusted text: a line parser of its own reads at most
// kRobotsMaxBytes of it and keeps nothing but the rules of that one group.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace retrieval {

// The RFC's least parsing limit; what lies beyond it is not read.
inline constexpr std::size_t kRobotsMaxBytes = 500 * 1024;

class RobotsRules {
public:
    enum class Verdict { Allowed, Disallowed, Undecided };

    // No rules: everything may be crawled (a robots.txt that is missing, or 4xx).
    RobotsRules() = default;

    // The rules of the groups whose user-agent is `agent` (a product token such as "Googlebot",
    // matched without regard to case), or else of the groups for "*". Reads the first
    // kRobotsMaxBytes of `body`; a line cut at that limit is left out.
    static RobotsRules Parse(std::string_view body, std::string_view agent);

    // Whether the path and query of an address ("/a/b?c=d", as sent or percent-encoded) may be
    // crawled: the longest matching rule decides, an Allow over a Disallow of the same length.
    // Undecided when the patterns would take more than a bounded number of steps to match.
    Verdict check(std::string_view pathAndQuery) const;

    std::size_t size() const { return rules_.size(); }

private:
    // One string a rule, little beyond the line it came from: a file is kept for the whole run.
    struct Rule {
        std::string pattern;   // normalised; '*' stands for any text (a literal one reads "%2A")
        bool anchored = false; // ended with '$': matches to the end of the path only
        bool allow = false;
        // Octets of the pattern as written, for the longest match.
        std::size_t length() const { return pattern.size() + (anchored ? 1 : 0); }
    };
    static bool Matches(const Rule& rule, std::string_view path, std::uint64_t& steps);

    std::vector<Rule> rules_;
};

// A path or a literal piece of a pattern in the form both are compared in: octets of unreserved
// characters decoded, every other escape in upper case, octets beyond ASCII, controls, spaces,
// characters a URI may not carry and the pattern characters '*' and '$' percent-encoded.
std::string NormalisedRobotsPath(std::string_view text);

} // namespace retrieval
