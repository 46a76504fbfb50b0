#pragma once
// What the columns of known exports mean: header names of Google Search Console (its "links"
// lists in several interface languages), Bing Webmaster Tools and the common backlink tools, read
// with case, spaces and punctuation ignored; and how each says whether a link is nofollow.

#include <string>
#include <string_view>
#include <vector>

namespace retrieval {

// How a column tells follow from nofollow.
enum class FollowKind {
    None,
    NofollowFlag, // true/1/yes/+ means nofollow (Semrush "Nofollow", Majestic "FlagNoFollow")
    FollowFlag,   // true/1/yes means followed (a "Follow" column, as SEOkicks writes it)
    Word,         // the words "nofollow" and "dofollow"/"follow" (a link type column)
};

struct ColumnRoles {
    int source = -1; // the linking page
    int anchor = -1;
    int follow = -1;
    int target = -1;
    FollowKind followKind = FollowKind::None;
    bool operator==(const ColumnRoles&) const = default;
};

struct PresetMatch {
    std::string format; // the tool, for the user; empty when no preset matched
    ColumnRoles roles;  // the columns found by name; -1 where none
    bool searchConsole = false;
    // The header names counts, as Search Console's top linking sites, linked pages and linking
    // text do: where no column holds addresses, a file of counts and no list.
    bool counts = false;
};

// Lower case (ASCII and the Latin letters with accents), without spaces, punctuation and symbols.
std::string HeaderKey(std::string_view header);

PresetMatch MatchPreset(const std::vector<std::string>& header);

// "1" followed, "0" nofollow, "" where the cell says nothing understood.
std::string FollowValue(std::string_view cell, FollowKind kind);

// The names of the presets, for messages and documentation.
std::vector<std::string> PresetNames();

} // namespace retrieval
