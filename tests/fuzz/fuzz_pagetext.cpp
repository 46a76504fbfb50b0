// Page decoding and the domain test. Input: the Content-Type header, a line feed, the domain, a
// line feed, the page body.
#include "retrieval/page/PageText.h"
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
    return 0;
}
