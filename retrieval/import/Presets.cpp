#include "retrieval/import/Presets.h"

#include "text/Ascii.h"

#include <algorithm>

namespace retrieval {

namespace {

using Names = std::vector<std::string_view>;

// Header keys as HeaderKey makes them. Each tool's set follows its published export columns.
struct Preset {
    std::string_view format;
    Names signature; // all present: this tool's file
    Names source, anchor, follow, target;
    FollowKind followKind;
};

const Preset kPresets[] = {
    // This program's own reports (reporting/*/*.csv).
    {"Quandrel-Halmfang-Bericht",
     {"nr", "linkurl", "ankertext", "follow", "zielurl"},
     {"linkurl"},
     {"ankertext"},
     {"follow"},
     {"zielurl"},
     FollowKind::FollowFlag},
    // Majestic: SourceURL, AnchorText, ..., FlagNoFollow, ..., TargetURL.
    {"Majestic",
     {"sourceurl", "targeturl", "flagnofollow"},
     {"sourceurl"},
     {"anchortext"},
     {"flagnofollow"},
     {"targeturl"},
     FollowKind::NofollowFlag},
    // Semrush backlinks: Page ascore, Source title, Source url, Target url, Anchor, External links,
    // Internal links, Nofollow, Sponsored, Ugc, Text, Frame, Form, Image, Sitewide, First seen,
    // Last seen, New link, Lost link.
    {"Semrush",
     {"pageascore", "sourceurl", "targeturl"},
     {"sourceurl"},
     {"anchor"},
     {"nofollow"},
     {"targeturl"},
     FollowKind::NofollowFlag},
    // Ahrefs backlinks: Referring page title, Referring page URL, ..., Target URL, Left context,
    // Anchor, Right context, Type, ..., Nofollow, UGC, Sponsored, ...; older exports: Link URL
    // for the target and Link Anchor.
    {"Ahrefs",
     {"referringpageurl"},
     {"referringpageurl"},
     {"anchor", "linkanchor", "anchortext"},
     {"nofollow"},
     {"targeturl", "linkurl"},
     FollowKind::NofollowFlag},
    // Moz Link Explorer inbound links: URL, Title, Anchor Text, Spam Score, Domain Authority,
    // Page Authority, Target URL, Link Type (follow/nofollow), ...
    {"Moz",
     {"domainauthority", "targeturl"},
     {"url", "sourceurl", "linkingurl"},
     {"anchortext"},
     {"linktype", "followtype"},
     {"targeturl"},
     FollowKind::Word},
    {"Moz",
     {"pageauthority", "targeturl"},
     {"url", "sourceurl", "linkingurl"},
     {"anchortext"},
     {"linktype", "followtype"},
     {"targeturl"},
     FollowKind::Word},
    // Bing Webmaster Tools backlinks: Source Url, Anchor Text, Target Url (some exports add the
    // referring domain).
    {"Bing Webmaster Tools",
     {"sourceurl", "anchortext", "targeturl"},
     {"sourceurl"},
     {"anchortext"},
     {},
     {"targeturl"},
     FollowKind::None},
};

// Search Console's lists of linking pages ("Latest links", "More sample links"): the linking page
// and the date of the last crawl, in the interface's language.
const Names kSearchConsoleSource = {
    "linkingpage",                   // English
    "verweisendeseite",              // German
    "verlinkendeseite",              // German (older)
    "pagederéférence",               // French
    "pagedelien",                    // French
    "pagequirenvoie",                // French
    "pagesourcedulien",              // French
    "páginaqueenlaza",               // Spanish
    "páginaconenlace",               // Spanish
    "páginadeenlace",                // Spanish
    "paginachecontieneillink",       // Italian
    "paginadicollegamento",          // Italian
    "paginacheesegueilcollegamento", // Italian
    "linkendepagina",                // Dutch
    "verwijzendepagina",             // Dutch
    "páginadevinculação",            // Portuguese
    "páginadeorigem",                // Portuguese
    "páginaquefazlink",              // Portuguese
    "páginacomlink",                 // Portuguese
    "stronazlinkiem",                // Polish
    "stronaodsyłająca",              // Polish
    "stronalinkująca",               // Polish
};
const Names kSearchConsoleCrawled = {
    "lastcrawled",          // English
    "zuletztgecrawlt",      // German
    "dernièreexploration",  // French
    "últimorastreo",        // Spanish
    "últimoseguimiento",    // Spanish
    "ultimascansione",      // Italian
    "laatstgecrawld",       // Dutch
    "últimorastreamento",   // Portuguese
    "últimarastreamento",   // Portuguese
    "ostatnieskanowanie",   // Polish
    "ostatniaindeksacja",   // Polish
    "ostatnieindeksowanie", // Polish
};
// The other files of the Links report's export count links; they name no linking pages.
const Names kSearchConsoleCounts = {
    "incominglinks",    "linkingsites",     "linkingpages",      "targetpages",         "toplinkingsites",
    "toplinkedpages",   "linkingtext",      "eingehendelinks",   "verweisendewebsites", "verweisendeseiten",
    "zielseiten",       "linktext",         "lienstotaux",       "liensentrants",       "sitesréférents",
    "enlacesentrantes", "sitiosqueenlazan", "linkinentrata",     "sitichecollegano",    "inkomendelinks",
    "linkendesites",    "linksrecebidos",   "sitesquefazemlink", "linkiprzychodzące",   "witrynyzlinkami",
};

// Words that name a column whatever the tool, where no preset fits.
const Names kGenericSource = {"linkingpage",      "linkingurl",   "sourceurl",     "sourcepage",
                              "referringpageurl", "referringurl", "referringpage", "backlinkurl",
                              "backlink",         "fromurl",      "quellurl",      "quelle",
                              "verweisendeurl",   "linkurl",      "url",           "source"};
const Names kGenericAnchor = {"anchortext", "anchor", "linkanchor", "ankertext", "anker", "linktext"};
const Names kGenericTarget = {"targeturl", "target", "targetpage", "destinationurl", "tourl",
                              "zielurl",   "ziel",   "zielseite",  "linkedpage"};
const Names kGenericNofollow = {"nofollow", "flagnofollow", "isnofollow"};
const Names kGenericFollow = {"follow", "dofollow", "isfollow"};
const Names kGenericType = {"linktype", "followtype", "relattribute", "rel", "type", "linkart"};

int Find(const std::vector<std::string>& keys, const Names& names) {
    for (const std::string_view name : names) {
        const auto it = std::find(keys.begin(), keys.end(), name);
        if (it != keys.end())
            return static_cast<int>(it - keys.begin());
    }
    return -1;
}

bool Has(const std::vector<std::string>& keys, const Names& names) {
    return std::all_of(names.begin(), names.end(), [&](std::string_view n) {
        return std::find(keys.begin(), keys.end(), n) != keys.end();
    });
}

// Appends the lower-case form of one UTF-8 letter from Latin-1 Supplement or Latin Extended-A.
void AppendLower(std::string& out, char32_t cp) {
    if ((cp >= 0xC0 && cp <= 0xDE && cp != 0xD7))
        cp += 0x20;
    else if (cp >= 0x100 && cp <= 0x17F && cp != 0x130 && cp != 0x138 && cp != 0x149 && cp != 0x178)
        cp = ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) ? (cp % 2 == 1 ? cp + 1 : cp)
                                                                            : (cp % 2 == 0 ? cp + 1 : cp);
    if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::string HeaderKey(std::string_view header) {
    std::string key;
    key.reserve(header.size());
    for (std::size_t i = 0; i < header.size(); ++i) {
        const auto c = static_cast<unsigned char>(header[i]);
        if (c < 0x80) {
            if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))
                key += static_cast<char>(c);
            else if (c >= 'A' && c <= 'Z')
                key += text::ascii::Lower(static_cast<char>(c));
            continue;
        }
        // Two-byte letters are lowered; longer sequences (symbols, other scripts) stay as written,
        // apart from the byte order mark and no-break spaces, which are dropped.
        if ((c & 0xE0) == 0xC0 && i + 1 < header.size()) {
            const char32_t cp =
                (char32_t(c & 0x1F) << 6) | (static_cast<unsigned char>(header[i + 1]) & 0x3F);
            ++i;
            if (cp == 0xA0 || cp < 0xC0 || cp == 0xD7 || cp == 0xF7)
                continue;
            AppendLower(key, cp);
            continue;
        }
        if (header.substr(i).starts_with("\xEF\xBB\xBF") || header.substr(i).starts_with("\xE2\x80\xAF")) {
            i += 2;
            continue;
        }
        key += static_cast<char>(c);
    }
    return key;
}

PresetMatch MatchPreset(const std::vector<std::string>& header) {
    std::vector<std::string> keys;
    keys.reserve(header.size());
    for (const std::string& h : header)
        keys.push_back(HeaderKey(h));

    PresetMatch match;
    for (const Preset& preset : kPresets) {
        if (!Has(keys, preset.signature))
            continue;
        match.format = preset.format;
        match.roles.source = Find(keys, preset.source);
        match.roles.anchor = Find(keys, preset.anchor);
        match.roles.target = Find(keys, preset.target);
        match.roles.follow = Find(keys, preset.follow);
        match.roles.followKind = match.roles.follow >= 0 ? preset.followKind : FollowKind::None;
        return match;
    }
    const int gscSource = Find(keys, kSearchConsoleSource);
    if (gscSource >= 0 || (keys.size() == 2 && Find(keys, kSearchConsoleCrawled) == 1)) {
        match.format = "Google Search Console";
        match.searchConsole = true;
        match.roles.source = gscSource >= 0 ? gscSource : 0;
        return match;
    }
    match.counts = Find(keys, kSearchConsoleCounts) >= 0;
    match.roles.source = Find(keys, kGenericSource);
    match.roles.anchor = Find(keys, kGenericAnchor);
    match.roles.target = Find(keys, kGenericTarget);
    if (match.roles.target == match.roles.source)
        match.roles.target = -1;
    if (const int nofollow = Find(keys, kGenericNofollow); nofollow >= 0) {
        match.roles.follow = nofollow;
        match.roles.followKind = FollowKind::NofollowFlag;
    } else if (const int follow = Find(keys, kGenericFollow); follow >= 0) {
        match.roles.follow = follow;
        match.roles.followKind = FollowKind::FollowFlag;
    } else if (const int type = Find(keys, kGenericType); type >= 0) {
        match.roles.follow = type;
        match.roles.followKind = FollowKind::Word;
    }
    return match;
}

std::string FollowValue(std::string_view cell, FollowKind kind) {
    const std::string word = text::ascii::Lower(text::ascii::Trim(cell));
    if (word.empty() || kind == FollowKind::None)
        return {};
    if (kind == FollowKind::Word) {
        if (word == "nofollow" || word == "no follow" || word == "no-follow")
            return "0";
        if (word == "dofollow" || word == "follow" || word == "do follow" || word == "do-follow")
            return "1";
        return {};
    }
    static const Names kYes = {"true", "1",    "yes", "ja", "y",  "j",   "x",
                               "+",    "wahr", "oui", "sí", "si", "sim", "tak"};
    static const Names kNo = {"false", "0", "no", "nein", "n", "-", "falsch", "non", "não", "nie"};
    const bool yes = std::find(kYes.begin(), kYes.end(), word) != kYes.end();
    const bool no = std::find(kNo.begin(), kNo.end(), word) != kNo.end();
    if (!yes && !no)
        return {};
    const bool followed = kind == FollowKind::NofollowFlag ? no : yes;
    return followed ? "1" : "0";
}

std::vector<std::string> PresetNames() {
    return {"Google Search Console", "Bing Webmaster Tools", "Ahrefs", "Semrush", "Majestic", "Moz"};
}

} // namespace retrieval
