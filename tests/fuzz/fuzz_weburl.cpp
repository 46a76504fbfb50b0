// The URL parser. Input: a base address, a line feed, the address to read against it. A parsed
// address's serialization reads back as itself (a property of the WHATWG parser).
#include "retrieval/url/WebUrl.h"
#include "tests/fuzz/FuzzInput.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string_view baseText = fuzz::TakeLine(rest);
    const auto base = retrieval::ParseWebUrl(baseText);
    const auto url = retrieval::ParseWebUrl(rest, base ? &*base : nullptr);
    for (const auto* parsed : {&base, &url}) {
        if (!*parsed)
            continue;
        const std::string href = (*parsed)->href();
        const auto again = retrieval::ParseWebUrl(href);
        if (!again || again->href() != href)
            std::abort();
    }
    return 0;
}
