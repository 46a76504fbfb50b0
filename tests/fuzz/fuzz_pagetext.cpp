// Page decoding and the domain test. Input: the Content-Type header, a line feed, the domain, a
// line feed, the page body.
#include "retrieval/PageText.h"
#include "storage/Files.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

std::string_view TakeLine(std::string_view& rest) {
    const std::size_t lf = rest.find('\n');
    const std::string_view line = rest.substr(0, lf);
    rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string_view contentType = TakeLine(rest);
    const std::string_view domain = TakeLine(rest);
    const std::string text = retrieval::DecodePage(rest, contentType);
    if (!storage::IsValidUtf8(text))
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
