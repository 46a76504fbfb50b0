#include "retrieval/page/LinkFinder.h"

#include "retrieval/url/WebUrl.h"
#include "text/Ascii.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <gumbo.h>
#include <idn2.h>
#include <malloc.h>
#include <new>
#include <optional>
#include <time.h>

namespace retrieval {

namespace {

// The parse's own processor time: on a busy machine an ordinary page must not run out of time
// because other programs took the processor.
std::chrono::nanoseconds ThreadCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// Bounds on what one link keeps, against megabyte-long attributes and anchors.
constexpr std::size_t kMaxAnchorChars = 300;
constexpr std::size_t kMaxTargetChars = 8192;
constexpr std::size_t kMaxHrefBytes = 64 * 1024;
constexpr std::size_t kMaxAnchorNodes = 2000; // nodes looked at below one link
constexpr unsigned kChecksEvery = 256;        // allocations between looks at the clock
// Text bytes read for one anchor, white space included.
constexpr std::size_t kMaxAnchorBytes = 64 * 1024;

// ---------------------------------------------------------------------------------------------
// The parser's memory. gumbo has no limits of its own: its tree takes 30 times the page for
// dense markup, deep nesting makes its parse quadratic, and freeing a deep tree recurses once
// per level. So every block it takes is counted and kept in a list; a parse over its budget is
// left by longjmp from the allocator (only C frames and trivial ones of ours lie in between),
// and the tree is freed by walking that list, never by gumbo itself.

// Two links keep the alignment malloc gives; the size is malloc's own, so that the budget
// counts what the blocks really take.
struct alignas(16) BlockHeader {
    BlockHeader* prev;
    BlockHeader* next;
};
static_assert(sizeof(BlockHeader) == 16 && alignof(std::max_align_t) <= 16);

struct ParseBudget {
    std::jmp_buf exit;
    BlockHeader* blocks = nullptr;
    std::size_t live = 0;
    std::size_t peak = 0;
    std::size_t limit = 0;
    unsigned calls = 0;
    std::chrono::nanoseconds deadline{}; // of ThreadCpuTime
    const std::atomic<bool>* stop = nullptr;
    LinkScan outcome = LinkScan::Complete;

    ParseBudget() = default;
    ParseBudget(const ParseBudget&) = delete;
    ParseBudget& operator=(const ParseBudget&) = delete;
    ~ParseBudget() {
        while (blocks != nullptr) {
            BlockHeader* next = blocks->next;
            std::free(blocks);
            blocks = next;
        }
    }
};

[[noreturn]] void LeaveParse(ParseBudget& budget, LinkScan why) {
    budget.outcome = why;
    std::longjmp(budget.exit, 1);
}

void* Allocate(void* userdata, std::size_t size) {
    auto& budget = *static_cast<ParseBudget*>(userdata);
    if (++budget.calls % kChecksEvery == 0) {
        if (budget.stop != nullptr && budget.stop->load(std::memory_order_relaxed))
            LeaveParse(budget, LinkScan::Stopped);
        if (ThreadCpuTime() > budget.deadline)
            LeaveParse(budget, LinkScan::TooSlow);
    }
    if (size > budget.limit - budget.live)
        LeaveParse(budget, LinkScan::TooLarge);
    void* raw = std::malloc(sizeof(BlockHeader) + size);
    if (raw == nullptr)
        LeaveParse(budget, LinkScan::TooLarge);
    const std::size_t taken = malloc_usable_size(raw);
    if (taken > budget.limit - budget.live) {
        std::free(raw);
        LeaveParse(budget, LinkScan::TooLarge);
    }
    auto* block = static_cast<BlockHeader*>(raw);
    block->prev = nullptr;
    block->next = budget.blocks;
    if (budget.blocks != nullptr)
        budget.blocks->prev = block;
    budget.blocks = block;
    budget.live += taken;
    budget.peak = std::max(budget.peak, budget.live);
    return block + 1;
}

void Deallocate(void* userdata, void* ptr) {
    if (ptr == nullptr)
        return;
    auto& budget = *static_cast<ParseBudget*>(userdata);
    BlockHeader* block = static_cast<BlockHeader*>(ptr) - 1;
    if (block->prev != nullptr)
        block->prev->next = block->next;
    else
        budget.blocks = block->next;
    if (block->next != nullptr)
        block->next->prev = block->prev;
    budget.live -= malloc_usable_size(block);
    std::free(block);
}

// Null when the parse was left early; budget.outcome says why. Nothing here may need a
// destructor: the allocator leaves this frame by longjmp.
GumboOutput* ParseWithin(ParseBudget& budget, const GumboOptions& options, std::string_view text) {
    if (setjmp(budget.exit) != 0)
        return nullptr;
    return gumbo_parse_with_options(&options, text.data(), text.size());
}

// ---------------------------------------------------------------------------------------------
// Text helpers.

// The anchor text as it is shown: runs of white space (no-break space included) become one space,
// none at the ends, at most kMaxAnchorChars characters and then "…". Reading stops there, so that
// a megabyte-long text costs no more than a short one.
class AnchorText {
public:
    // `text` ends at its NUL, as gumbo gives it; `shown` is false for an image's alt text.
    void add(const char* text, bool shown = true) {
        for (std::size_t i = 0; text[i] != '\0' && !full(); ++i, ++read_) {
            const bool nbsp = text[i] == '\xC2' && text[i + 1] == '\xA0';
            if (text::ascii::IsSpace(text[i]) || nbsp) {
                pendingSpace_ = !out_.empty();
                i += nbsp ? 1 : 0;
                continue;
            }
            if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) { // a character begins
                hasText_ = hasText_ || shown;
                if (pendingSpace_ && !take(' '))
                    return;
                pendingSpace_ = false;
                if (!take(text[i]))
                    return;
            } else {
                out_ += text[i];
            }
        }
        cut_ = cut_ || (read_ >= kMaxAnchorBytes && !out_.empty());
    }
    // Where a rendered page separates: between blocks, table cells, at a line break.
    void separate() { pendingSpace_ = !out_.empty(); }

    bool full() const { return cut_ || read_ >= kMaxAnchorBytes; }
    bool hasText() const { return hasText_; }
    std::string text() const { return cut_ ? out_ + "\xE2\x80\xA6" : out_; }

private:
    bool take(char c) {
        if (chars_ == kMaxAnchorChars) {
            cut_ = true;
            return false;
        }
        out_ += c;
        ++chars_;
        return true;
    }

    std::string out_;
    std::size_t chars_ = 0;
    std::size_t read_ = 0;
    bool pendingSpace_ = false;
    bool hasText_ = false;
    bool cut_ = false;
};

// At most `limit` characters (code points), then "…".
std::string CutChars(std::string text, std::size_t limit) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;
        if (chars++ == limit) {
            text.resize(i);
            return text + "\xE2\x80\xA6";
        }
    }
    return text;
}

std::vector<std::string_view> Tokens(std::string_view text, std::string_view separators) {
    std::vector<std::string_view> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find_first_of(separators, pos), text.size());
        if (end > pos)
            out.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Hosts and addresses.

// IDNA ASCII form in lower case without a final dot; the text itself (ASCII lower-cased) where
// IDNA rejects it, so that equal spellings still match.
std::string ComparableHost(std::string_view host) {
    while (!host.empty() && host.back() == '.')
        host.remove_suffix(1);
    if (host.empty() || text::ascii::IsAscii(host))
        return text::ascii::Lower(host);
    const std::string text(host);
    char* converted = nullptr;
    std::string out;
    if (text.find('\0') == std::string::npos &&
        idn2_to_ascii_8z(text.c_str(), &converted, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL) == IDN2_OK)
        out = text::ascii::Lower(converted);
    else
        out = text::ascii::Lower(host);
    idn2_free(converted);
    return out;
}

// The address links on the page resolve against, as a browser sets it: the first <base href>,
// read against the page address; the page address where that is no URL or a data: or
// javascript: one. A base of another scheme (about:blank, file:) stays: relative links on such a
// page lead to no web page.
class Resolver {
public:
    explicit Resolver(std::string_view pageUrl) : base_(ParseWebUrl(pageUrl)) {}

    void rebase(std::string_view href) {
        std::optional<WebUrl> next = resolve(href);
        if (next && next->scheme != "data" && next->scheme != "javascript")
            base_ = std::move(next);
    }

    std::optional<WebUrl> resolve(std::string_view href) const {
        if (href.size() > kMaxHrefBytes)
            return std::nullopt;
        return ParseWebUrl(href, base_ ? &*base_ : nullptr);
    }

private:
    std::optional<WebUrl> base_;
};

// The host the domain field names: the text itself, or the host of an address typed there.
std::string DomainHost(std::string_view domain) {
    domain = text::ascii::Trim(domain);
    if (domain.empty() || domain.find('\0') != std::string_view::npos)
        return {};
    std::string address(domain);
    if (address.find("://") == std::string::npos)
        address = "http://" + address;
    const std::optional<WebUrl> url = ParseWebUrl(address);
    if (!url || !url->host)
        return {};
    return ComparableHost(*url->host);
}

bool IsDomainOrSubdomain(std::string_view host, std::string_view domain) {
    if (host.size() == domain.size())
        return host == domain;
    return host.size() > domain.size() && host.ends_with(domain) &&
           host[host.size() - domain.size() - 1] == '.';
}

// The host links must lie on: "www.example.de" is typed as often as "example.de" and means the
// same site, so a leading "www." is dropped, unless only a top-level name would remain.
std::string LinkDomain(std::string_view domain) {
    std::string host = DomainHost(domain);
    if (host.starts_with("www.") && host.find('.', 5) != std::string::npos)
        host.erase(0, 4);
    return host;
}

// ---------------------------------------------------------------------------------------------
// Robots directives.

void ApplyRobotsTokens(std::string_view directives, bool& noindex, bool& nofollow) {
    for (const std::string_view token : Tokens(directives, ", \t\r\n\f")) {
        const std::string t = text::ascii::Lower(token);
        if (t == "noindex" || t == "none")
            noindex = true;
        if (t == "nofollow" || t == "none")
            nofollow = true;
    }
}

bool IsValuedDirective(std::string_view name) {
    return name == "unavailable_after" || name == "max-snippet" || name == "max-image-preview" ||
           name == "max-video-preview";
}

// "noindex, nofollow" for every crawler, or "googlebot: noindex" for one; a name before a colon
// that is no directive of its own names the crawler for the rest of the value.
void ApplyRobotsHeader(std::string_view value, RobotsDirectives& robots) {
    std::string agent;
    for (std::string_view part : Tokens(value, ",")) {
        part = text::ascii::Trim(part);
        const std::size_t colon = part.find(':');
        if (colon != std::string_view::npos) {
            const std::string before = text::ascii::Lower(text::ascii::Trim(part.substr(0, colon)));
            if (IsValuedDirective(before))
                continue;
            agent = before;
            part = part.substr(colon + 1);
        }
        if (agent.empty() || agent == "googlebot")
            ApplyRobotsTokens(part, robots.headerNoindex, robots.headerNofollow);
    }
}

// ---------------------------------------------------------------------------------------------
// The tree.

bool IsHtml(const GumboNode* node, GumboTag tag) {
    return node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == tag &&
           node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
}

const char* Attribute(const GumboNode* node, const char* name) {
    const GumboAttribute* attribute = gumbo_get_attribute(&node->v.element.attributes, name);
    return attribute != nullptr ? attribute->value : nullptr;
}

struct RawLink {
    const GumboNode* element;
    std::string_view href;
    std::string_view rel;
};

// Elements a browser shows apart from the text around them.
constexpr GumboTag kSeparatingTags[] = {
    GUMBO_TAG_ADDRESS, GUMBO_TAG_ARTICLE, GUMBO_TAG_ASIDE,   GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_BR,
    GUMBO_TAG_CAPTION, GUMBO_TAG_CENTER,  GUMBO_TAG_DD,      GUMBO_TAG_DETAILS,    GUMBO_TAG_DIR,
    GUMBO_TAG_DIV,     GUMBO_TAG_DL,      GUMBO_TAG_DT,      GUMBO_TAG_FIELDSET,   GUMBO_TAG_FIGCAPTION,
    GUMBO_TAG_FIGURE,  GUMBO_TAG_FOOTER,  GUMBO_TAG_FORM,    GUMBO_TAG_H1,         GUMBO_TAG_H2,
    GUMBO_TAG_H3,      GUMBO_TAG_H4,      GUMBO_TAG_H5,      GUMBO_TAG_H6,         GUMBO_TAG_HEADER,
    GUMBO_TAG_HGROUP,  GUMBO_TAG_HR,      GUMBO_TAG_LEGEND,  GUMBO_TAG_LI,         GUMBO_TAG_LISTING,
    GUMBO_TAG_MAIN,    GUMBO_TAG_MENU,    GUMBO_TAG_NAV,     GUMBO_TAG_OL,         GUMBO_TAG_OPTION,
    GUMBO_TAG_P,       GUMBO_TAG_PRE,     GUMBO_TAG_SECTION, GUMBO_TAG_SUMMARY,    GUMBO_TAG_TABLE,
    GUMBO_TAG_TBODY,   GUMBO_TAG_TD,      GUMBO_TAG_TFOOT,   GUMBO_TAG_TH,         GUMBO_TAG_THEAD,
    GUMBO_TAG_TR,      GUMBO_TAG_UL,      GUMBO_TAG_XMP,     GUMBO_TAG_PLAINTEXT,
};

bool SeparatesText(const GumboNode* element) {
    return element->v.element.tag_namespace == GUMBO_NAMESPACE_HTML &&
           std::ranges::find(kSeparatingTags, element->v.element.tag) != std::end(kSeparatingTags);
}

// The text below a link, an image's alt text in its place; bounded in nodes and length. Each
// level keeps its place among its children, so that a node with a million children costs no
// more than the few of them read.
void CollectAnchor(const GumboNode* link, PageLink& out) {
    struct Level {
        const GumboNode* element;
        unsigned next;
    };
    AnchorText text;
    bool hasImage = false;
    std::vector<Level> levels{{link, 0}};
    std::size_t visited = 0;
    while (!levels.empty() && visited < kMaxAnchorNodes && !text.full()) {
        Level& level = levels.back();
        const GumboVector& children = level.element->v.element.children;
        if (level.next == children.length) {
            if (SeparatesText(level.element))
                text.separate();
            levels.pop_back();
            continue;
        }
        const auto* node = static_cast<const GumboNode*>(children.data[level.next++]);
        ++visited;
        if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_CDATA) {
            text.add(node->v.text.text);
        } else if (node->type == GUMBO_NODE_WHITESPACE) {
            text.separate();
        } else if (node->type == GUMBO_NODE_ELEMENT) {
            if (IsHtml(node, GUMBO_TAG_IMG)) {
                hasImage = true;
                if (const char* alt = Attribute(node, "alt")) {
                    text.separate();
                    text.add(alt, false);
                    text.separate();
                }
            } else if (!IsHtml(node, GUMBO_TAG_SCRIPT) && !IsHtml(node, GUMBO_TAG_STYLE)) {
                if (SeparatesText(node))
                    text.separate();
                levels.push_back({node, 0});
            }
        }
    }
    out.anchor = text.text();
    out.image = hasImage && !text.hasText();
}

// An area's anchor is its alt text.
void ReadAnchor(const GumboNode* element, PageLink& out) {
    if (element->v.element.tag == GUMBO_TAG_A) {
        CollectAnchor(element, out);
        return;
    }
    AnchorText text;
    if (const char* alt = Attribute(element, "alt"))
        text.add(alt, false);
    out.anchor = text.text();
    out.image = true;
}

struct PageFacts {
    std::vector<RawLink> links;
    std::string_view baseHref;
    bool hasBase = false;
    bool capReached = false;
    const GumboNode* title = nullptr;
    const GumboNode* heading = nullptr;
    const char* canonicalHref = nullptr;
    std::size_t scripts = 0;
};

bool HasToken(std::string_view list, std::string_view lower) {
    for (const std::string_view token : Tokens(list, " \t\r\n\f"))
        if (text::ascii::Lower(token) == lower)
            return true;
    return false;
}

// A canonical address counts only in the head, as search engines read it.
bool CanonicalLink(const GumboNode* link) {
    const char* rel = Attribute(link, "rel");
    return rel != nullptr && HasToken(rel, "canonical") && link->parent != nullptr &&
           IsHtml(link->parent, GUMBO_TAG_HEAD) && Attribute(link, "href") != nullptr;
}

// The target of the first Link header entry with rel="canonical", as written.
std::optional<std::string_view> CanonicalHeader(const HeaderList& headers) {
    for (const auto& [name, value] : headers) {
        if (text::ascii::Lower(text::ascii::Trim(name)) != "link")
            continue;
        const std::string_view v = value;
        std::size_t pos = 0;
        for (;;) {
            const std::size_t open = v.find('<', pos);
            const std::size_t close = open == std::string_view::npos ? open : v.find('>', open);
            if (close == std::string_view::npos)
                break;
            // Its parameters run to the next ',' outside quotes.
            std::size_t end = close + 1;
            for (bool quoted = false; end < v.size() && (quoted || v[end] != ','); ++end)
                quoted = v[end] == '"' ? !quoted : quoted;
            for (std::string_view param : Tokens(v.substr(close + 1, end - close - 1), ";")) {
                param = text::ascii::Trim(param);
                const std::size_t equals = param.find('=');
                if (equals == std::string_view::npos ||
                    text::ascii::Lower(text::ascii::Trim(param.substr(0, equals))) != "rel")
                    continue;
                std::string_view rel = text::ascii::Trim(param.substr(equals + 1));
                if (rel.size() >= 2 && rel.front() == '"' && rel.back() == '"')
                    rel = rel.substr(1, rel.size() - 2);
                if (HasToken(rel, "canonical"))
                    return v.substr(open + 1, close - open - 1);
            }
            pos = end;
        }
    }
    return std::nullopt;
}

// The text of an element as shown, bounded like an anchor.
std::string ShownText(const GumboNode* element) {
    PageLink text;
    CollectAnchor(element, text);
    return text.anchor;
}

// The types a browser runs as script; any other (JSON data, templates) is left alone. Parameters
// are ignored: counting a script too many costs a render, one too few a wrong verdict.
bool IsScriptType(const char* type) {
    if (type == nullptr)
        return true;
    const std::string_view value = type;
    const std::string t = text::ascii::Lower(text::ascii::Trim(value.substr(0, value.find(';'))));
    static constexpr std::string_view kTypes[] = {"",
                                                  "module",
                                                  "application/ecmascript",
                                                  "application/javascript",
                                                  "application/x-ecmascript",
                                                  "application/x-javascript",
                                                  "text/ecmascript",
                                                  "text/javascript",
                                                  "text/javascript1.0",
                                                  "text/javascript1.1",
                                                  "text/javascript1.2",
                                                  "text/javascript1.3",
                                                  "text/javascript1.4",
                                                  "text/javascript1.5",
                                                  "text/jscript",
                                                  "text/livescript",
                                                  "text/x-ecmascript",
                                                  "text/x-javascript"};
    return std::ranges::find(kTypes, t) != std::end(kTypes);
}

// A script element (of HTML or inline SVG) that loads or holds code a browser runs.
bool RunsScript(const GumboNode* node) {
    if (node->v.element.tag_namespace == GUMBO_NAMESPACE_MATHML || !IsScriptType(Attribute(node, "type")))
        return false;
    const bool svg = node->v.element.tag_namespace == GUMBO_NAMESPACE_SVG;
    for (const char* source : {Attribute(node, "src"), svg ? Attribute(node, "href") : nullptr,
                               svg ? Attribute(node, "xlink:href") : nullptr})
        if (source != nullptr && !text::ascii::Trim(source).empty())
            return true;
    const GumboVector& children = node->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
        const auto* child = static_cast<const GumboNode*>(children.data[i]);
        if ((child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_CDATA) &&
            !text::ascii::Trim(child->v.text.text).empty())
            return true;
    }
    return false;
}

// Walks the tree in document order without recursion: the tree may be as deep as the page is long.
void Walk(const GumboNode* root, const LinkLimits& limits, PageFacts& facts, RobotsDirectives& robots) {
    std::vector<const GumboNode*> stack{root};
    while (!stack.empty()) {
        const GumboNode* node = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_DOCUMENT && node->type != GUMBO_NODE_ELEMENT)
            continue; // text; and a template's content, which is no part of the page
        if (node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == GUMBO_TAG_SCRIPT &&
            facts.scripts < kMaxScriptsCounted && RunsScript(node))
            ++facts.scripts;
        if (node->type == GUMBO_NODE_ELEMENT && node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML) {
            const GumboTag tag = node->v.element.tag;
            if (tag == GUMBO_TAG_A || tag == GUMBO_TAG_AREA) {
                if (const char* href = Attribute(node, "href")) {
                    const char* rel = Attribute(node, "rel");
                    if (facts.links.size() < limits.maxLinksExamined)
                        facts.links.push_back({node, href, rel != nullptr ? rel : ""});
                    else
                        facts.capReached = true;
                }
            } else if (tag == GUMBO_TAG_BASE && !facts.hasBase) {
                if (const char* href = Attribute(node, "href")) {
                    facts.baseHref = href;
                    facts.hasBase = true;
                }
            } else if (tag == GUMBO_TAG_TITLE && facts.title == nullptr) {
                facts.title = node;
            } else if (tag == GUMBO_TAG_H1 && facts.heading == nullptr) {
                facts.heading = node;
            } else if (tag == GUMBO_TAG_LINK && facts.canonicalHref == nullptr && CanonicalLink(node)) {
                facts.canonicalHref = Attribute(node, "href");
            } else if (tag == GUMBO_TAG_META) {
                const char* name = Attribute(node, "name");
                const std::string lowered = name != nullptr ? text::ascii::Lower(text::ascii::Trim(name)) : std::string();
                if (lowered == "robots" || lowered == "googlebot")
                    if (const char* content = Attribute(node, "content"))
                        ApplyRobotsTokens(content, robots.metaNoindex, robots.metaNofollow);
            }
        }
        const GumboVector& children =
            node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
        for (unsigned i = children.length; i-- > 0;)
            stack.push_back(static_cast<const GumboNode*>(children.data[i]));
    }
}

void ReadRel(std::string_view rel, PageLink& link) {
    for (const std::string_view token : Tokens(rel, " \t\r\n\f")) {
        const std::string t = text::ascii::Lower(token);
        link.nofollow = link.nofollow || t == "nofollow";
        link.sponsored = link.sponsored || t == "sponsored";
        link.ugc = link.ugc || t == "ugc";
    }
}

} // namespace

LinkVerdict FindLinks(std::string_view page, std::string_view finalUrl, const HeaderList& headers,
                      std::string_view domain, const LinkLimits& limits, const std::atomic<bool>* stop) {
    LinkVerdict verdict;
    for (const auto& [name, value] : headers)
        if (text::ascii::Lower(name) == "x-robots-tag")
            ApplyRobotsHeader(value, verdict.robots);

    const std::string domainHost = LinkDomain(domain);
    if (domainHost.empty()) {
        verdict.scan = LinkScan::NoDomain;
        return verdict;
    }
    // Its own links would all count, and none of them is a backlink.
    if (IsDomainOrSubdomain(DomainHost(finalUrl), domainHost)) {
        verdict.scan = LinkScan::OnDomain;
        return verdict;
    }

    ParseBudget budget;
    budget.limit = limits.maxParserBytes;
    budget.deadline = ThreadCpuTime() + limits.maxParseTime;
    budget.stop = stop;
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &Allocate;
    options.deallocator = &Deallocate;
    options.userdata = &budget;
    options.max_errors = 0; // the errors are of no use here and would only take memory
    // gumbo reads one byte past the end of its input where a character reference ends the page
    // ("&amp" without ";"): it gets a copy that ends in a NUL.
    const std::string terminated(page);
    const GumboOutput* output = ParseWithin(budget, options, terminated);
    verdict.parserPeakBytes = budget.peak;
    if (output == nullptr) {
        verdict.scan = budget.outcome;
        return verdict;
    }

    PageFacts facts;
    Walk(output->document, limits, facts, verdict.robots);
    verdict.examined = facts.links.size();
    verdict.scripts = facts.scripts;
    verdict.scan = facts.capReached ? LinkScan::CapReached : LinkScan::Complete;

    Resolver resolver(finalUrl);
    if (facts.hasBase)
        resolver.rebase(facts.baseHref);
    verdict.title = facts.title != nullptr ? ShownText(facts.title) : std::string();
    verdict.heading = facts.heading != nullptr ? ShownText(facts.heading) : std::string();
    std::optional<WebUrl> canonical;
    if (facts.canonicalHref != nullptr) {
        canonical = resolver.resolve(facts.canonicalHref);
    } else if (const std::optional<std::string_view> header = CanonicalHeader(headers)) {
        const Resolver fromPage(finalUrl); // a header's reference is the answer's address, not <base>
        canonical = fromPage.resolve(*header);
    }
    if (canonical && canonical->web() && canonical->host)
        verdict.canonical = CutChars(canonical->href(), kMaxTargetChars);
    for (const RawLink& raw : facts.links) {
        std::optional<WebUrl> url = resolver.resolve(raw.href);
        if (!url || !url->web() || !url->host)
            continue;
        if (!IsDomainOrSubdomain(ComparableHost(*url->host), domainHost))
            continue;
        PageLink link;
        ReadRel(raw.rel, link);
        ++verdict.linkCount;
        verdict.followCount += link.followed() ? 1 : 0;
        if (verdict.links.size() >= limits.maxLinksKept)
            continue;
        link.target = CutChars(url->href(), kMaxTargetChars);
        link.hostAsWritten = std::move(url->hostAsWritten);
        ReadAnchor(raw.element, link);
        verdict.links.push_back(std::move(link));
    }
    return verdict; // the tree goes with the budget
}

std::string LinkDomainHost(std::string_view domain) {
    return LinkDomain(domain);
}

} // namespace retrieval
