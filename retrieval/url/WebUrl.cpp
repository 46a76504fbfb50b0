#include "retrieval/url/WebUrl.h"

#include "retrieval/url/Punycode.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <idn2.h>
#include <unordered_map>
#include <utility>

namespace retrieval {

namespace {

constexpr int kEof = -1;

bool IsAlpha(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsHex(int c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
int HexValue(int c) { return IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = Lower(c);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view lowerB) {
    return a.size() == lowerB.size() && LowerAscii(a) == lowerB;
}

std::optional<std::uint16_t> DefaultPort(std::string_view scheme) {
    if (scheme == "http" || scheme == "ws")
        return 80;
    if (scheme == "https" || scheme == "wss")
        return 443;
    if (scheme == "ftp")
        return 21;
    return std::nullopt;
}

bool IsSpecialScheme(std::string_view scheme) {
    return scheme == "file" || DefaultPort(scheme).has_value();
}

// ---------------------------------------------------------------------------------------------
// UTF-8.

// The code point at `pos` and its length; U+FFFD for one byte of an invalid sequence.
std::pair<char32_t, std::size_t> DecodeAt(std::string_view s, std::size_t pos) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[pos + i]); };
    const unsigned char lead = b(0);
    if (lead < 0x80)
        return {lead, 1};
    std::size_t len = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (len == 0 || lead > 0xF4 || pos + len > s.size())
        return {0xFFFD, 1};
    char32_t cp = lead & (0xFF >> (len + 1));
    for (std::size_t i = 1; i < len; ++i) {
        if ((b(i) & 0xC0) != 0x80)
            return {0xFFFD, 1};
        cp = (cp << 6) | (b(i) & 0x3F);
    }
    const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return {0xFFFD, 1};
    return {cp, len};
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::u32string ToUtf32(std::string_view s) {
    std::u32string out;
    for (std::size_t pos = 0; pos < s.size();) {
        const auto [cp, len] = DecodeAt(s, pos);
        out += cp;
        pos += len;
    }
    return out;
}

std::string ToUtf8(std::u32string_view s) {
    std::string out;
    for (char32_t cp : s)
        AppendUtf8(out, cp);
    return out;
}

// Valid UTF-8, invalid sequences replaced; unchanged (and not copied twice) when already valid.
std::string ValidUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t pos = 0; pos < s.size();) {
        const auto [cp, len] = DecodeAt(s, pos);
        if (cp == 0xFFFD && len == 1)
            AppendUtf8(out, cp);
        else
            out.append(s.substr(pos, len));
        pos += len;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Percent-encoding. Every byte of a non-ASCII code point is in every set.

enum class EncodeSet { C0, Fragment, Query, SpecialQuery, Path, Userinfo };

bool InSet(unsigned char b, EncodeSet set) {
    if (b < 0x20 || b > 0x7E)
        return true;
    const auto in = [b](std::string_view chars) { return chars.find(static_cast<char>(b)) != std::string_view::npos; };
    switch (set) {
    case EncodeSet::C0:
        return false;
    case EncodeSet::Fragment:
        return in(" \"<>`");
    case EncodeSet::Query:
        return in(" \"#<>");
    case EncodeSet::SpecialQuery:
        return in(" \"#<>'");
    case EncodeSet::Path:
        return in(" \"#<>?^`{}");
    case EncodeSet::Userinfo:
        return in(" \"#<>?^`{}/:;=@[\\]|");
    }
    return true;
}

void AppendEncoded(std::string& out, char c, EncodeSet set) {
    const auto b = static_cast<unsigned char>(c);
    if (!InSet(b, set)) {
        out += c;
        return;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
}

std::string PercentDecode(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && IsHex(s[i + 1]) && IsHex(s[i + 2])) {
            out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Hosts.

bool IsForbiddenHost(char c) {
    return c == '\0' || c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '#' || c == '/' || c == ':' ||
           c == '<' || c == '>' || c == '?' || c == '@' || c == '[' || c == '\\' || c == ']' || c == '^' || c == '|';
}

bool IsForbiddenDomain(char c) {
    const auto b = static_cast<unsigned char>(c);
    return IsForbiddenHost(c) || b < 0x20 || c == '%' || b == 0x7F;
}

std::vector<std::string_view> Split(std::string_view s, char separator) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = s.find(separator, start);
        out.push_back(s.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return out;
        start = end + 1;
    }
}

// The IPv4 number parser; values beyond 2^32 saturate, which is as good as failure to the caller.
std::optional<std::uint64_t> ParseIpv4Number(std::string_view s) {
    if (s.empty())
        return std::nullopt;
    unsigned radix = 10;
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        radix = 16;
    } else if (s.size() >= 2 && s[0] == '0') {
        s.remove_prefix(1);
        radix = 8;
    }
    std::uint64_t value = 0;
    for (char c : s) {
        const bool ok = radix == 16 ? IsHex(c) : IsDigit(c) && (radix == 10 || c < '8');
        if (!ok)
            return std::nullopt;
        value = std::min<std::uint64_t>(value * radix + static_cast<unsigned>(HexValue(c)), std::uint64_t{1} << 40);
    }
    return value;
}

bool EndsInNumber(std::string_view s) {
    std::vector<std::string_view> parts = Split(s, '.');
    if (parts.back().empty()) {
        if (parts.size() == 1)
            return false;
        parts.pop_back();
    }
    const std::string_view last = parts.back();
    if (!last.empty() && std::all_of(last.begin(), last.end(), IsDigit))
        return true;
    return ParseIpv4Number(last).has_value();
}

std::optional<std::string> ParseIpv4(std::string_view s) {
    std::vector<std::string_view> parts = Split(s, '.');
    if (parts.back().empty() && parts.size() > 1)
        parts.pop_back();
    if (parts.size() > 4)
        return std::nullopt;
    std::vector<std::uint64_t> numbers;
    for (std::string_view part : parts) {
        const auto n = ParseIpv4Number(part);
        if (!n)
            return std::nullopt;
        numbers.push_back(*n);
    }
    for (std::size_t i = 0; i + 1 < numbers.size(); ++i)
        if (numbers[i] > 255)
            return std::nullopt;
    if (numbers.back() >= (std::uint64_t{1} << (8 * (5 - numbers.size()))))
        return std::nullopt;
    std::uint64_t address = numbers.back();
    for (std::size_t i = 0; i + 1 < numbers.size(); ++i)
        address += numbers[i] << (8 * (3 - i));
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += std::to_string((address >> shift) & 0xFF);
        if (shift > 0)
            out += '.';
    }
    return out;
}

std::optional<std::string> ParseIpv6(std::string_view s) {
    std::array<std::uint16_t, 8> address{};
    std::size_t pieceIndex = 0;
    std::optional<std::size_t> compress;
    std::size_t p = 0;
    const auto at = [&](std::size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : kEof; };
    if (at(p) == ':') {
        if (at(p + 1) != ':')
            return std::nullopt;
        p += 2;
        compress = ++pieceIndex;
    }
    while (at(p) != kEof) {
        if (pieceIndex == 8)
            return std::nullopt;
        if (at(p) == ':') {
            if (compress)
                return std::nullopt;
            ++p;
            compress = ++pieceIndex;
            continue;
        }
        unsigned value = 0;
        std::size_t length = 0;
        while (length < 4 && IsHex(at(p))) {
            value = value * 16 + static_cast<unsigned>(HexValue(at(p)));
            ++p;
            ++length;
        }
        if (at(p) == '.') {
            if (length == 0)
                return std::nullopt;
            p -= length;
            if (pieceIndex > 6)
                return std::nullopt;
            int numbersSeen = 0;
            while (at(p) != kEof) {
                if (numbersSeen > 0) {
                    if (at(p) == '.' && numbersSeen < 4)
                        ++p;
                    else
                        return std::nullopt;
                }
                if (!IsDigit(at(p)))
                    return std::nullopt;
                int piece = -1;
                while (IsDigit(at(p))) {
                    const int number = at(p) - '0';
                    if (piece == -1)
                        piece = number;
                    else if (piece == 0)
                        return std::nullopt;
                    else
                        piece = piece * 10 + number;
                    if (piece > 255)
                        return std::nullopt;
                    ++p;
                }
                address[pieceIndex] = static_cast<std::uint16_t>(address[pieceIndex] * 0x100 + piece);
                ++numbersSeen;
                if (numbersSeen == 2 || numbersSeen == 4)
                    ++pieceIndex;
            }
            if (numbersSeen != 4)
                return std::nullopt;
            break;
        }
        if (at(p) == ':') {
            ++p;
            if (at(p) == kEof)
                return std::nullopt;
        } else if (at(p) != kEof) {
            return std::nullopt;
        }
        address[pieceIndex++] = static_cast<std::uint16_t>(value);
    }
    if (compress) {
        std::size_t swaps = pieceIndex - *compress;
        pieceIndex = 7;
        while (pieceIndex != 0 && swaps > 0) {
            std::swap(address[pieceIndex], address[*compress + swaps - 1]);
            --pieceIndex;
            --swaps;
        }
    } else if (pieceIndex != 8) {
        return std::nullopt;
    }

    // The first longest run of two or more zero pieces is written "::".
    std::size_t bestStart = 8, bestLength = 1;
    for (std::size_t i = 0; i < 8;) {
        std::size_t j = i;
        while (j < 8 && address[j] == 0)
            ++j;
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "[";
    for (std::size_t i = 0; i < 8; ++i) {
        if (i == bestStart) {
            out += i == 0 ? "::" : ":";
            i += bestLength - 1;
            continue;
        }
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (address[i] >> shift) & 0xF;
            if (digit != 0 || started || shift == 0) {
                out += kHex[digit];
                started = true;
            }
        }
        if (i != 7)
            out += ':';
    }
    return out + "]";
}

std::optional<std::string> ParseOpaqueHost(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (IsForbiddenHost(c))
            return std::nullopt;
        AppendEncoded(out, c, EncodeSet::C0);
    }
    return out;
}

// Symbols and emoji that UTS 46 keeps as they are and IDNA2008 refuses: Latin-1 signs, currency,
// arrows, mathematical and technical symbols, box drawing, geometric shapes, miscellaneous
// symbols, dingbats, emoji; without the few among them that have compatibility mappings. Others
// IDNA2008 refuses are not guessed at.
bool IsKeptSymbol(char32_t cp) {
    if (cp < 0x2000)
        return (cp >= 0xA1 && cp <= 0xA7) || cp == 0xA9 || cp == 0xAB || cp == 0xAC || cp == 0xAE || cp == 0xB0 ||
               cp == 0xB1 || cp == 0xB6 || cp == 0xBB || cp == 0xBF || cp == 0xD7 || cp == 0xF7;
    if (cp == 0x20A8 || cp == 0x222C || cp == 0x222D || cp == 0x222F || cp == 0x2230 || cp == 0x2329 ||
        cp == 0x232A || cp == 0x2A0C || (cp >= 0x2A74 && cp <= 0x2A76) || cp == 0x2ADC)
        return false;
    return (cp >= 0x20A0 && cp <= 0x20CF) || (cp >= 0x2190 && cp <= 0x245F) || (cp >= 0x2500 && cp <= 0x27BF) ||
           (cp >= 0x2900 && cp <= 0x2BFF) || (cp >= 0x1F000 && cp <= 0x1F0FF) || (cp >= 0x1F300 && cp <= 0x1F6FF) ||
           (cp >= 0x1F780 && cp <= 0x1F8FF) || (cp >= 0x1F900 && cp <= 0x1FAFF);
}

// Hebrew, Arabic and the other right-to-left scripts' blocks, Arabic presentation forms.
bool IsRightToLeft(char32_t cp) {
    return (cp >= 0x0590 && cp <= 0x08FF) || (cp >= 0xFB1D && cp <= 0xFDFF) || (cp >= 0xFE70 && cp <= 0xFEFF) ||
           (cp >= 0x10800 && cp <= 0x10FFF) || (cp >= 0x1E800 && cp <= 0x1EFFF);
}

bool IsLabelError(int rc) {
    return rc == IDN2_DISALLOWED || rc == IDN2_2HYPHEN || rc == IDN2_HYPHEN_STARTEND;
}

std::optional<std::string> Idn2Lookup(const std::string& text, int& rc) {
    if (text.find('\0') != std::string::npos) {
        rc = IDN2_DISALLOWED;
        return std::nullopt;
    }
    char* converted = nullptr;
    rc = idn2_lookup_u8(reinterpret_cast<const std::uint8_t*>(text.c_str()),
                        reinterpret_cast<std::uint8_t**>(&converted), IDN2_NONTRANSITIONAL);
    std::optional<std::string> out;
    if (rc == IDN2_OK && converted != nullptr)
        out = LowerAscii(converted);
    idn2_free(converted);
    return out;
}

// A label libidn2 refuses as a whole, for IDNA2008 rules that UTS 46 (as the URL standard uses
// it) does not have: hyphens at the ends or in places 3 and 4, symbols. The parts between
// hyphens and kept symbols are mapped by libidn2, the hyphens and symbols kept, the whole encoded.
std::optional<std::string> MapLabelInParts(std::u32string_view label) {
    std::u32string mapped;
    std::u32string part;
    const auto flush = [&] {
        if (part.empty())
            return true;
        int rc = IDN2_OK;
        const auto converted = Idn2Lookup(ToUtf8(part), rc);
        part.clear();
        if (!converted || converted->find('.') != std::string::npos)
            return false;
        if (!converted->starts_with("xn--")) {
            mapped.append(converted->begin(), converted->end());
            return true;
        }
        const auto decoded = PunycodeDecode(std::string_view(*converted).substr(4));
        if (decoded)
            mapped += *decoded;
        return decoded.has_value();
    };
    for (char32_t cp : label) {
        if (cp == U'-' || IsKeptSymbol(cp)) {
            if (!flush())
                return std::nullopt;
            mapped += cp;
        } else {
            part += cp;
        }
    }
    if (!flush())
        return std::nullopt;
    if (std::all_of(mapped.begin(), mapped.end(), [](char32_t c) { return c < 0x80; }))
        return LowerAscii(ToUtf8(mapped));
    const auto encoded = PunycodeEncode(mapped);
    if (!encoded)
        return std::nullopt;
    return "xn--" + *encoded;
}

// An A-label must decode to a non-empty, non-ASCII label that UTS 46 accepts unchanged.
bool IsValidALabel(std::string_view label) {
    const std::string_view tail = label.substr(4);
    if (tail.empty())
        return false;
    const auto decoded = PunycodeDecode(tail);
    if (!decoded || decoded->empty() ||
        std::all_of(decoded->begin(), decoded->end(), [](char32_t c) { return c < 0x80; }))
        return false;
    int rc = IDN2_OK;
    const auto again = Idn2Lookup(ToUtf8(*decoded), rc);
    if (again)
        return *again == label;
    if (!IsLabelError(rc))
        return false;
    const auto mapped = MapLabelInParts(*decoded);
    return mapped && *mapped == label;
}

// Domain to ASCII (UTS 46 ToASCII, nontransitional, CheckHyphens and STD3 rules off).
std::optional<std::string> DomainToAscii(const std::string& domain) {
    const bool ascii = std::all_of(domain.begin(), domain.end(), [](char c) { return (c & 0x80) == 0; });
    std::string result;
    if (ascii) {
        result = LowerAscii(domain);
    } else {
        int rc = IDN2_OK;
        if (auto converted = Idn2Lookup(domain, rc)) {
            result = std::move(*converted);
        } else if (IsLabelError(rc) || rc == IDN2_TOO_BIG_DOMAIN || rc == IDN2_TOO_BIG_LABEL) {
            // Label by label, after the dots UTS 46 maps to a full stop. Not for a domain with
            // right-to-left letters: its every label must pass the bidi rule, which the parts
            // of a label are not checked against as a whole.
            std::u32string text = ToUtf32(domain);
            if (std::any_of(text.begin(), text.end(), IsRightToLeft))
                return std::nullopt;
            for (char32_t& cp : text)
                if (cp == 0x3002 || cp == 0xFF0E || cp == 0xFF61)
                    cp = U'.';
            std::size_t start = 0;
            for (;;) {
                const std::size_t end = std::min(text.find(U'.', start), text.size());
                const std::u32string_view label = std::u32string_view(text).substr(start, end - start);
                const bool asciiLabel = std::all_of(label.begin(), label.end(), [](char32_t c) { return c < 0x80; });
                std::optional<std::string> part;
                if (asciiLabel) {
                    part = LowerAscii(ToUtf8(label));
                } else {
                    part = Idn2Lookup(ToUtf8(label), rc);
                    if (!part && (IsLabelError(rc) || rc == IDN2_TOO_BIG_LABEL))
                        part = MapLabelInParts(label);
                }
                if (!part)
                    return std::nullopt;
                result += *part;
                if (end == text.size())
                    break;
                result += '.';
                start = end + 1;
            }
        } else {
            return std::nullopt;
        }
    }
    for (std::string_view label : Split(result, '.'))
        if (label.starts_with("xn--") && !IsValidALabel(label))
            return std::nullopt;
    if (result.empty())
        return std::nullopt;
    return result;
}

// The same few hosts recur on a page (10,000 links): each needs libidn2 once per thread.
std::optional<std::string> CachedDomainToAscii(const std::string& domain) {
    const bool plain = std::all_of(domain.begin(), domain.end(), [](char c) { return (c & 0x80) == 0; }) &&
                       domain.find("xn--") == std::string::npos && domain.find("XN--") == std::string::npos &&
                       domain.find("xN--") == std::string::npos && domain.find("Xn--") == std::string::npos;
    if (plain)
        return LowerAscii(domain);
    thread_local std::unordered_map<std::string, std::optional<std::string>> cache;
    if (const auto found = cache.find(domain); found != cache.end())
        return found->second;
    if (cache.size() >= 512)
        cache.clear();
    return cache.emplace(domain, DomainToAscii(domain)).first->second;
}

std::optional<std::string> ParseHost(std::string_view input, bool special) {
    if (!input.empty() && input.front() == '[') {
        if (input.size() < 2 || input.back() != ']')
            return std::nullopt;
        return ParseIpv6(input.substr(1, input.size() - 2));
    }
    if (!special)
        return ParseOpaqueHost(input);
    const auto ascii = CachedDomainToAscii(ValidUtf8(PercentDecode(input)));
    if (!ascii || std::any_of(ascii->begin(), ascii->end(), IsForbiddenDomain))
        return std::nullopt;
    if (EndsInNumber(*ascii))
        return ParseIpv4(*ascii);
    return ascii;
}

// ---------------------------------------------------------------------------------------------
// The parser.

bool IsWindowsDriveLetter(std::string_view s, bool normalized) {
    return s.size() == 2 && IsAlpha(s[0]) && (s[1] == ':' || (!normalized && s[1] == '|'));
}

// Whether `rest` starts with a Windows drive letter followed by the end or one of / \ ? #.
bool StartsWithWindowsDriveLetter(std::string_view rest) {
    if (rest.size() < 2 || !IsWindowsDriveLetter(rest.substr(0, 2), false))
        return false;
    return rest.size() == 2 || std::string_view("/\\?#").find(rest[2]) != std::string_view::npos;
}

bool IsSingleDot(std::string_view s) { return s == "." || EqualsNoCase(s, "%2e"); }

bool IsDoubleDot(std::string_view s) {
    return s == ".." || EqualsNoCase(s, ".%2e") || EqualsNoCase(s, "%2e.") || EqualsNoCase(s, "%2e%2e");
}

void ShortenPath(WebUrl& url) {
    if (url.scheme == "file" && url.path.size() == 1 && IsWindowsDriveLetter(url.path[0], true))
        return;
    if (!url.path.empty())
        url.path.pop_back();
}

enum class State {
    SchemeStart,
    Scheme,
    NoScheme,
    SpecialRelativeOrAuthority,
    PathOrAuthority,
    Relative,
    RelativeSlash,
    SpecialAuthoritySlashes,
    SpecialAuthorityIgnoreSlashes,
    Authority,
    Host,
    Port,
    File,
    FileSlash,
    FileHost,
    PathStart,
    Path,
    OpaquePath,
    Query,
    Fragment,
};

// Leading and trailing C0 controls and spaces go, tab and newlines anywhere.
std::string Preprocess(std::string_view input) {
    while (!input.empty() && static_cast<unsigned char>(input.front()) <= 0x20)
        input.remove_prefix(1);
    while (!input.empty() && static_cast<unsigned char>(input.back()) <= 0x20)
        input.remove_suffix(1);
    std::string out;
    out.reserve(input.size());
    for (char c : input)
        if (c != '\t' && c != '\n' && c != '\r')
            out += c;
    return ValidUtf8(out);
}

void CopyAuthority(WebUrl& url, const WebUrl& base) {
    url.username = base.username;
    url.password = base.password;
    url.host = base.host;
    url.hostAsWritten = base.hostAsWritten;
    url.port = base.port;
}

} // namespace

bool WebUrl::special() const { return IsSpecialScheme(scheme); }

std::string WebUrl::href() const {
    std::string out = scheme + ":";
    if (host) {
        out += "//";
        if (!username.empty() || !password.empty()) {
            out += username;
            if (!password.empty())
                out += ":" + password;
            out += "@";
        }
        out += *host;
        if (port)
            out += ":" + std::to_string(*port);
    }
    if (opaquePath) {
        out += path.empty() ? std::string() : path[0];
    } else {
        if (!host && path.size() > 1 && path[0].empty())
            out += "/.";
        for (const std::string& segment : path) {
            out += '/';
            out += segment;
        }
    }
    if (query)
        out += "?" + *query;
    if (fragment)
        out += "#" + *fragment;
    return out;
}

std::optional<std::string> ParseWebHost(std::string_view input) { return ParseHost(input, true); }

std::optional<WebUrl> ParseWebUrl(std::string_view rawInput, const WebUrl* base) {
    const std::string input = Preprocess(rawInput);
    const std::string_view in(input);
    const auto n = static_cast<std::ptrdiff_t>(in.size());
    WebUrl url;
    State state = State::SchemeStart;
    std::string buffer;
    bool atSignSeen = false, insideBrackets = false, passwordTokenSeen = false;
    bool special = false; // url.special(), kept with the scheme
    const auto remaining = [&](std::ptrdiff_t p) {
        return p + 1 < n ? in.substr(static_cast<std::size_t>(p + 1)) : std::string_view();
    };

    for (std::ptrdiff_t p = 0;; ++p) {
        const int c = p < n ? static_cast<unsigned char>(in[static_cast<std::size_t>(p)]) : kEof;
        const bool slash = c == '/' || (special && c == '\\');
        switch (state) {
        case State::SchemeStart:
            if (IsAlpha(c)) {
                buffer += Lower(static_cast<char>(c));
                state = State::Scheme;
            } else {
                state = State::NoScheme;
                --p;
            }
            break;
        case State::Scheme:
            if (IsAlpha(c) || IsDigit(c) || c == '+' || c == '-' || c == '.') {
                buffer += Lower(static_cast<char>(c));
            } else if (c == ':') {
                url.scheme = std::move(buffer);
                special = url.special();
                buffer.clear();
                if (url.scheme == "file") {
                    state = State::File;
                } else if (special && base != nullptr && base->scheme == url.scheme) {
                    state = State::SpecialRelativeOrAuthority;
                } else if (special) {
                    state = State::SpecialAuthoritySlashes;
                } else if (remaining(p).starts_with('/')) {
                    state = State::PathOrAuthority;
                    ++p;
                } else {
                    url.opaquePath = true;
                    url.path.assign(1, std::string());
                    state = State::OpaquePath;
                }
            } else {
                buffer.clear();
                state = State::NoScheme;
                p = -1;
            }
            break;
        case State::NoScheme:
            if (base == nullptr || (base->opaquePath && c != '#'))
                return std::nullopt;
            if (base->opaquePath) {
                url.scheme = base->scheme;
                special = url.special();
                url.path = base->path;
                url.opaquePath = true;
                url.query = base->query;
                url.fragment = "";
                state = State::Fragment;
            } else {
                state = base->scheme != "file" ? State::Relative : State::File;
                --p;
            }
            break;
        case State::SpecialRelativeOrAuthority:
            if (c == '/' && remaining(p).starts_with('/')) {
                state = State::SpecialAuthorityIgnoreSlashes;
                ++p;
            } else {
                state = State::Relative;
                --p;
            }
            break;
        case State::PathOrAuthority:
            if (c == '/') {
                state = State::Authority;
            } else {
                state = State::Path;
                --p;
            }
            break;
        case State::Relative:
            url.scheme = base->scheme;
            special = url.special();
            if (c == '/' || (special && c == '\\')) {
                state = State::RelativeSlash;
            } else {
                CopyAuthority(url, *base);
                url.path = base->path;
                url.query = base->query;
                if (c == '?') {
                    url.query = "";
                    state = State::Query;
                } else if (c == '#') {
                    url.fragment = "";
                    state = State::Fragment;
                } else if (c != kEof) {
                    url.query.reset();
                    ShortenPath(url);
                    state = State::Path;
                    --p;
                }
            }
            break;
        case State::RelativeSlash:
            if (special && (c == '/' || c == '\\')) {
                state = State::SpecialAuthorityIgnoreSlashes;
            } else if (c == '/') {
                state = State::Authority;
            } else {
                CopyAuthority(url, *base);
                state = State::Path;
                --p;
            }
            break;
        case State::SpecialAuthoritySlashes:
            state = State::SpecialAuthorityIgnoreSlashes;
            if (c == '/' && remaining(p).starts_with('/'))
                ++p;
            else
                --p;
            break;
        case State::SpecialAuthorityIgnoreSlashes:
            if (c != '/' && c != '\\') {
                state = State::Authority;
                --p;
            }
            break;
        case State::Authority:
            if (c == '@') {
                if (atSignSeen)
                    buffer = "%40" + buffer;
                atSignSeen = true;
                for (char b : buffer) {
                    if (b == ':' && !passwordTokenSeen) {
                        passwordTokenSeen = true;
                        continue;
                    }
                    AppendEncoded(passwordTokenSeen ? url.password : url.username, b, EncodeSet::Userinfo);
                }
                buffer.clear();
            } else if (c == kEof || slash || c == '?' || c == '#') {
                if (atSignSeen && buffer.empty())
                    return std::nullopt;
                p -= static_cast<std::ptrdiff_t>(buffer.size()) + 1;
                buffer.clear();
                state = State::Host;
            } else {
                buffer += static_cast<char>(c);
            }
            break;
        case State::Host:
            if (c == ':' && !insideBrackets) {
                if (buffer.empty())
                    return std::nullopt;
                url.host = ParseHost(buffer, special);
                if (!url.host)
                    return std::nullopt;
                url.hostAsWritten = std::move(buffer);
                buffer.clear();
                state = State::Port;
            } else if (c == kEof || slash || c == '?' || c == '#') {
                --p;
                if (special && buffer.empty())
                    return std::nullopt;
                url.host = ParseHost(buffer, special);
                if (!url.host)
                    return std::nullopt;
                url.hostAsWritten = std::move(buffer);
                buffer.clear();
                state = State::PathStart;
            } else {
                insideBrackets = c == '[' ? true : c == ']' ? false : insideBrackets;
                buffer += static_cast<char>(c);
            }
            break;
        case State::Port:
            if (IsDigit(c)) {
                buffer += static_cast<char>(c);
            } else if (c == kEof || slash || c == '?' || c == '#') {
                if (!buffer.empty()) {
                    unsigned long port = 0;
                    for (char d : buffer) {
                        port = port * 10 + static_cast<unsigned>(d - '0');
                        if (port > 65535)
                            return std::nullopt;
                    }
                    if (DefaultPort(url.scheme) == port)
                        url.port.reset();
                    else
                        url.port = static_cast<std::uint16_t>(port);
                    buffer.clear();
                }
                state = State::PathStart;
                --p;
            } else {
                return std::nullopt;
            }
            break;
        case State::File:
            url.scheme = "file";
            special = true;
            url.host = "";
            url.hostAsWritten.clear();
            if (c == '/' || c == '\\') {
                state = State::FileSlash;
            } else if (base != nullptr && base->scheme == "file") {
                url.host = base->host;
                url.hostAsWritten = base->hostAsWritten;
                url.path = base->path;
                url.query = base->query;
                if (c == '?') {
                    url.query = "";
                    state = State::Query;
                } else if (c == '#') {
                    url.fragment = "";
                    state = State::Fragment;
                } else if (c != kEof) {
                    url.query.reset();
                    if (!StartsWithWindowsDriveLetter(in.substr(static_cast<std::size_t>(p))))
                        ShortenPath(url);
                    else
                        url.path.clear();
                    state = State::Path;
                    --p;
                }
            } else {
                state = State::Path;
                --p;
            }
            break;
        case State::FileSlash:
            if (c == '/' || c == '\\') {
                state = State::FileHost;
            } else {
                if (base != nullptr && base->scheme == "file") {
                    url.host = base->host;
                    url.hostAsWritten = base->hostAsWritten;
                    if (!StartsWithWindowsDriveLetter(in.substr(static_cast<std::size_t>(p))) &&
                        !base->path.empty() && IsWindowsDriveLetter(base->path[0], true))
                        url.path.push_back(base->path[0]);
                }
                state = State::Path;
                --p;
            }
            break;
        case State::FileHost:
            if (c == kEof || c == '/' || c == '\\' || c == '?' || c == '#') {
                --p;
                if (IsWindowsDriveLetter(buffer, false)) {
                    state = State::Path; // the buffer becomes the path's first segment
                } else if (buffer.empty()) {
                    url.host = "";
                    state = State::PathStart;
                } else {
                    url.host = ParseHost(buffer, true);
                    if (!url.host)
                        return std::nullopt;
                    if (*url.host == "localhost")
                        url.host = "";
                    url.hostAsWritten = std::move(buffer);
                    buffer.clear();
                    state = State::PathStart;
                }
            } else {
                buffer += static_cast<char>(c);
            }
            break;
        case State::PathStart:
            if (special) {
                state = State::Path;
                if (c != '/' && c != '\\')
                    --p;
            } else if (c == '?') {
                url.query = "";
                state = State::Query;
            } else if (c == '#') {
                url.fragment = "";
                state = State::Fragment;
            } else if (c != kEof) {
                state = State::Path;
                if (c != '/')
                    --p;
            }
            break;
        case State::Path:
            if (c == kEof || slash || c == '?' || c == '#') {
                if (IsDoubleDot(buffer)) {
                    ShortenPath(url);
                    if (!slash)
                        url.path.emplace_back();
                } else if (IsSingleDot(buffer) && !slash) {
                    url.path.emplace_back();
                } else if (!IsSingleDot(buffer)) {
                    if (url.scheme == "file" && url.path.empty() && IsWindowsDriveLetter(buffer, false))
                        buffer[1] = ':';
                    url.path.push_back(std::move(buffer));
                }
                buffer.clear();
                if (c == '?') {
                    url.query = "";
                    state = State::Query;
                } else if (c == '#') {
                    url.fragment = "";
                    state = State::Fragment;
                }
            } else {
                AppendEncoded(buffer, static_cast<char>(c), EncodeSet::Path);
            }
            break;
        case State::OpaquePath:
            if (c == '?') {
                url.query = "";
                state = State::Query;
            } else if (c == '#') {
                url.fragment = "";
                state = State::Fragment;
            } else if (c == ' ') {
                const std::string_view rest = remaining(p);
                url.path[0] += rest.starts_with('?') || rest.starts_with('#') ? "%20" : " ";
            } else if (c != kEof) {
                AppendEncoded(url.path[0], static_cast<char>(c), EncodeSet::C0);
            }
            break;
        case State::Query:
            if (c == '#') {
                url.fragment = "";
                state = State::Fragment;
            } else if (c != kEof) {
                AppendEncoded(*url.query, static_cast<char>(c), special ? EncodeSet::SpecialQuery : EncodeSet::Query);
            }
            break;
        case State::Fragment:
            if (c != kEof)
                AppendEncoded(*url.fragment, static_cast<char>(c), EncodeSet::Fragment);
            break;
        }
        if (c == kEof && p >= n)
            break;
    }
    return url;
}

} // namespace retrieval
