// The number conversion of maxerg and the composition of both service requests. Input: maxerg,
// a line feed, the domain, a line feed, the credential.
#include "app/contract/Error.h"
#include "retrieval/CheckCommand.h"
#include "tests/fuzz/FuzzInput.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace {

using fuzz::TakeLine;

// An optional sign and decimal digits that fit 32 bits, by the standard library.
std::optional<std::int32_t> Reference(std::string_view text) {
    const bool plus = text.starts_with('+');
    if (plus)
        text.remove_prefix(1);
    if (text.empty() || (plus && text.starts_with('-')))
        return std::nullopt;
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// What a request line may carry after the fixed base: no space, control or non-ASCII byte, no '#'.
void RequireSendable(std::string_view url, std::string_view base) {
    for (const char c : url.substr(base.size())) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || c == '#')
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string maxerg(TakeLine(rest));
    const std::string domain(TakeLine(rest));
    const std::string secret(rest);

    std::optional<std::int32_t> converted;
    try {
        converted = retrieval::StrToInt(maxerg);
    } catch (const toolkit::Error& e) {
        // The whole message, also where the text holds a NUL.
        if (!std::string_view(e.what()).ends_with("' ist keine gültige ganze Zahl."))
            std::abort();
    }
    if (converted != Reference(maxerg))
        std::abort();

    RequireSendable(retrieval::SeokicksUrl(retrieval::kSeokicksBase, secret, domain, maxerg),
                    retrieval::kSeokicksBase);
    RequireSendable(retrieval::XoviUrl(retrieval::kXoviBase, secret, domain, maxerg), retrieval::kXoviBase);
    return 0;
}
