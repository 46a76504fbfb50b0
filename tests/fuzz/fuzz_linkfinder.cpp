// The link check and what the user sees of it. Input: the domain, a line feed, the page's final
// address, a line feed, a line of outside text (X-Robots-Tag value, fetch reason, and the anchor
// and host of a made-up link), a line feed, the page.
#include "retrieval/LinkReport.h"
#include "retrieval/page/LinkFinder.h"
#include "tests/fuzz/FuzzInput.h"
#include "text/Utf8.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using fuzz::TakeLine;

constexpr std::size_t kMaxNoteBytes = 1600;

void Require(bool condition) {
    if (!condition)
        std::abort();
}

// At most two lines of valid UTF-8 without controls, line separators or bidi controls.
void RequireNote(const std::string& note) {
    Require(note.size() <= kMaxNoteBytes && text::IsValidUtf8(note));
    Require(std::count(note.begin(), note.end(), '\n') <= 1);
    for (const char c : note)
        Require(c == '\n' || static_cast<unsigned char>(c) >= 0x20);
    for (const std::string_view banned :
         {"\x7F", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\x8E", "\xE2\x80\x8F", "\xE2\x80\xAA",
          "\xE2\x80\xAB", "\xE2\x80\xAC", "\xE2\x80\xAD", "\xE2\x80\xAE", "\xE2\x81\xA6", "\xE2\x81\xA7",
          "\xE2\x81\xA8", "\xE2\x81\xA9", "\xD8\x9C"})
        Require(note.find(banned) == std::string::npos);
}

void RequireReport(const retrieval::PageCheck& check) {
    RequireNote(retrieval::PageNote(check));
    const auto lines = retrieval::DetailLines(check);
    Require(!lines.empty() && lines.size() <= std::max<std::size_t>(1, check.links.links.size()));
    for (const auto& line : lines)
        Require(line.size() == 11);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string_view domain = TakeLine(rest);
    const std::string_view finalUrl = TakeLine(rest);
    const std::string outside(TakeLine(rest));
    const std::string_view page = rest;

    retrieval::LinkLimits limits;
    limits.maxLinksKept = 5;
    const retrieval::LinkVerdict verdict =
        retrieval::FindLinks(page, finalUrl, {{"X-Robots-Tag", outside}}, domain, limits);
    Require(verdict.links.size() <= std::min(verdict.linkCount, limits.maxLinksKept));
    Require(verdict.followCount <= verdict.linkCount && verdict.examined <= limits.maxLinksExamined);
    if (text::IsValidUtf8(page))
        for (const retrieval::PageLink& link : verdict.links)
            Require(text::IsValidUtf8(link.anchor));
    // What goes over the wire as the page's title and heading stays within what the codec takes.
    Require(verdict.title.size() <= 4096 && verdict.heading.size() <= 4096);

    const char* statuses[] = {"gefunden", "nicht gefunden", "Fehler"};
    retrieval::PageCheck check;
    check.status = statuses[outside.size() % 3];
    check.reason = check.reasonDetail = outside;
    check.finalUrl = finalUrl;
    check.redirects = static_cast<long>(outside.size() % 2);
    check.links = verdict;
    RequireReport(check);

    // Outside text where the page could never put it: in a link's anchor and host.
    retrieval::PageLink made;
    made.anchor = made.hostAsWritten = made.target = check.links.canonical = outside;
    made.image = outside.size() % 5 == 0;
    check.links.links.insert(check.links.links.begin(), made);
    check.links.linkCount += 1;
    RequireReport(check);
    return 0;
}
