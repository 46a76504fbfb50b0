#include "retrieval/url/Punycode.h"

#include <cstdint>
#include <limits>

namespace retrieval {

namespace {

constexpr std::uint32_t kBase = 36;
constexpr std::uint32_t kTMin = 1;
constexpr std::uint32_t kTMax = 26;
constexpr std::uint32_t kSkew = 38;
constexpr std::uint32_t kDamp = 700;
constexpr std::uint32_t kInitialBias = 72;
constexpr std::uint32_t kInitialN = 0x80;
constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();

bool IsScalar(std::uint32_t cp) {
    return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

char Digit(std::uint32_t d) {
    return static_cast<char>(d < 26 ? 'a' + d : '0' + (d - 26));
}

// The value of a digit, kBase for a character that is none.
std::uint32_t DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<std::uint32_t>(c - '0') + 26;
    if (c >= 'a' && c <= 'z')
        return static_cast<std::uint32_t>(c - 'a');
    if (c >= 'A' && c <= 'Z')
        return static_cast<std::uint32_t>(c - 'A');
    return kBase;
}

std::uint32_t Adapt(std::uint32_t delta, std::uint32_t points, bool first) {
    delta = first ? delta / kDamp : delta / 2;
    delta += delta / points;
    std::uint32_t k = 0;
    while (delta > ((kBase - kTMin) * kTMax) / 2) {
        delta /= kBase - kTMin;
        k += kBase;
    }
    return k + (kBase - kTMin + 1) * delta / (delta + kSkew);
}

std::uint32_t Threshold(std::uint32_t k, std::uint32_t bias) {
    return k <= bias ? kTMin : k >= bias + kTMax ? kTMax : k - bias;
}

} // namespace

std::optional<std::string> PunycodeEncode(std::u32string_view label) {
    std::string out;
    for (const char32_t cp : label) {
        if (!IsScalar(cp))
            return std::nullopt;
        if (cp < 0x80)
            out += static_cast<char>(cp);
    }
    if (label.size() >= kMax)
        return std::nullopt;
    const auto basic = static_cast<std::uint32_t>(out.size());
    if (basic > 0)
        out += '-';
    std::uint32_t n = kInitialN;
    std::uint32_t delta = 0;
    std::uint32_t bias = kInitialBias;
    std::uint32_t handled = basic;
    const auto total = static_cast<std::uint32_t>(label.size());
    while (handled < total) {
        std::uint32_t next = kMax;
        for (const char32_t cp : label)
            if (cp >= n && cp < next)
                next = cp;
        if (next - n > (kMax - delta) / (handled + 1))
            return std::nullopt;
        delta += (next - n) * (handled + 1);
        n = next;
        for (const char32_t cp : label) {
            if (cp < n && ++delta == 0)
                return std::nullopt;
            if (cp != n)
                continue;
            std::uint32_t q = delta;
            for (std::uint32_t k = kBase;; k += kBase) {
                const std::uint32_t t = Threshold(k, bias);
                if (q < t)
                    break;
                out += Digit(t + (q - t) % (kBase - t));
                q = (q - t) / (kBase - t);
            }
            out += Digit(q);
            bias = Adapt(delta, handled + 1, handled == basic);
            delta = 0;
            ++handled;
        }
        ++delta;
        ++n;
    }
    return out;
}

std::optional<std::u32string> PunycodeDecode(std::string_view ascii) {
    for (const char c : ascii)
        if (static_cast<unsigned char>(c) >= 0x80)
            return std::nullopt;
    std::u32string out;
    const std::size_t dash = ascii.rfind('-');
    std::size_t in = 0;
    if (dash != std::string_view::npos) {
        for (std::size_t i = 0; i < dash; ++i)
            out += static_cast<char32_t>(ascii[i]);
        in = dash + 1;
    }
    std::uint32_t n = kInitialN;
    std::uint32_t i = 0;
    std::uint32_t bias = kInitialBias;
    while (in < ascii.size()) {
        const std::uint32_t oldI = i;
        std::uint32_t w = 1;
        for (std::uint32_t k = kBase;; k += kBase) {
            if (in >= ascii.size())
                return std::nullopt;
            const std::uint32_t digit = DigitValue(ascii[in++]);
            if (digit >= kBase || digit > (kMax - i) / w)
                return std::nullopt;
            i += digit * w;
            const std::uint32_t t = Threshold(k, bias);
            if (digit < t)
                break;
            if (w > kMax / (kBase - t))
                return std::nullopt;
            w *= kBase - t;
        }
        const auto points = static_cast<std::uint32_t>(out.size() + 1);
        bias = Adapt(i - oldI, points, oldI == 0);
        if (i / points > kMax - n)
            return std::nullopt;
        n += i / points;
        i %= points;
        if (!IsScalar(n))
            return std::nullopt;
        out.insert(out.begin() + i, static_cast<char32_t>(n));
        ++i;
    }
    return out;
}

} // namespace retrieval
