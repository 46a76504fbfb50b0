#include "retrieval/page/Refresh.h"

#include "retrieval/page/PageText.h"
#include "retrieval/url/WebUrl.h"
#include "text/Ascii.h"
#include "text/Utf8.h"

#include <algorithm>

namespace retrieval {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHtml(std::string_view contentType) {
    const std::string essence =
        text::ascii::Lower(text::ascii::Trim(contentType.substr(0, contentType.find(';'))));
    return essence.empty() || essence == "text/html" || essence == "application/xhtml+xml";
}

std::optional<std::string> WebTarget(std::string_view pageUrl, std::string_view written) {
    std::optional<WebUrl> page = ParseWebUrl(pageUrl);
    if (!page)
        return std::nullopt;
    std::string converted;
    if (!text::IsValidUtf8(written))
        written = converted = text::Windows1252ToUtf8(written);
    std::optional<WebUrl> target = ParseWebUrl(written, &*page);
    if (!target || !target->web() || !target->host)
        return std::nullopt;
    page->fragment.reset();
    WebUrl withoutFragment = *target;
    withoutFragment.fragment.reset();
    if (withoutFragment.href() == page->href())
        return std::nullopt; // a reload, or a jump within the page
    return target->href();
}

} // namespace

namespace detail {

std::optional<DeclarativeRefresh> ParseRefresh(std::string_view s) {
    std::size_t pos = 0;
    const auto skipSpace = [&] {
        while (pos < s.size() && text::ascii::IsSpace(s[pos]))
            ++pos;
    };
    skipSpace();
    DeclarativeRefresh refresh;
    const std::size_t digits = pos;
    long long seconds = 0;
    while (pos < s.size() && IsDigit(s[pos])) {
        seconds = std::min<long long>(seconds * 10 + (s[pos] - '0'), 1'000'000'000);
        ++pos;
    }
    if (pos == digits && (pos >= s.size() || s[pos] != '.'))
        return std::nullopt;
    refresh.delay = std::chrono::seconds(seconds);
    while (pos < s.size() && (IsDigit(s[pos]) || s[pos] == '.'))
        ++pos;
    if (pos < s.size()) {
        if (s[pos] != ';' && s[pos] != ',' && !text::ascii::IsSpace(s[pos]))
            return std::nullopt;
        skipSpace();
        if (pos < s.size() && (s[pos] == ';' || s[pos] == ','))
            ++pos;
        skipSpace();
    }
    if (pos >= s.size())
        return refresh;
    // "url=" and quotes are optional; a value that only starts like them is the address itself.
    std::string_view url = s.substr(pos);
    const auto letter = [&](char lower) {
        if (pos < s.size() && text::ascii::Lower(s[pos]) == lower) {
            ++pos;
            return true;
        }
        return false;
    };
    if (letter('u')) {
        if (!letter('r') || !letter('l')) {
            refresh.url = std::string(url);
            return refresh;
        }
        skipSpace();
        if (pos >= s.size() || s[pos] != '=') {
            refresh.url = std::string(url);
            return refresh;
        }
        ++pos;
        skipSpace();
    }
    std::optional<char> quote;
    if (pos < s.size() && (s[pos] == '\'' || s[pos] == '"'))
        quote = s[pos++];
    url = s.substr(pos);
    if (quote)
        url = url.substr(0, url.find(*quote));
    refresh.url = std::string(url);
    return refresh;
}

} // namespace detail

std::optional<std::string> RefreshTarget(std::string_view pageUrl, const HeaderList& headers,
                                         std::string_view contentType, std::string_view body) {
    // The first valid refresh decides, a reload of the page included.
    std::optional<detail::DeclarativeRefresh> refresh;
    for (const auto& [name, value] : headers)
        if (text::ascii::Lower(text::ascii::Trim(name)) == "refresh" &&
            (refresh = detail::ParseRefresh(value)))
            break;
    if (!refresh && IsHtml(contentType))
        if (const std::optional<std::string> meta = detail::PrescanRefresh(body))
            refresh = detail::ParseRefresh(*meta);
    if (!refresh || !refresh->url || refresh->delay > kMaxRefreshDelay)
        return std::nullopt;
    return WebTarget(pageUrl, *refresh->url);
}

} // namespace retrieval
