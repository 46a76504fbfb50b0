// Page decoding and the domain test, and the other readings of a raw page: its refresh, whether it
// is a challenge, whether a line of it says "not found". Input: the Content-Type header, a line
// feed, the domain (also read as a Refresh value and as a title), a line feed, the page body.
#include "retrieval/page/Challenge.h"
#include "retrieval/page/PageText.h"
#include "retrieval/page/Refresh.h"
#include "retrieval/page/SoftNotFound.h"
#include "tests/fuzz/FuzzInput.h"
#include "text/Utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using fuzz::TakeLine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string_view contentType = TakeLine(rest);
    const std::string_view domain = TakeLine(rest);
    const std::string text = retrieval::DecodePage(rest, contentType);
    if (!text::IsValidUtf8(text))
        std::abort();
    const bool mentioned = retrieval::MentionsDomain(text, domain);
    // The domain as typed is always looked for; an empty one never counts.
    if (!domain.empty() && text.find(domain) != std::string::npos && !mentioned)
        std::abort();
    if (domain.empty() && mentioned)
        std::abort();
    retrieval::detail::PrescanEncoding(rest);
    // A refresh followed is always to another web address.
    const auto target = retrieval::RefreshTarget("http://blog.example/a", {{"Refresh", std::string(domain)}},
                                                 contentType, rest);
    if (target && !target->starts_with("http://") && !target->starts_with("https://"))
        std::abort();
    retrieval::FindChallenge(static_cast<long>(400 + size % 200), {{"Server", std::string(contentType)}},
                             rest);
    retrieval::SaysNotFound(domain);
    return 0;
}
