#include "retrieval/PageText.h"

#include "storage/Files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <iconv.h>
#include <idn2.h>
#include <memory>

namespace retrieval {
namespace {

constexpr std::size_t kMetaScanBytes = 4096;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

constexpr std::string_view kUtf8 = "UTF-8";
constexpr std::string_view kUtf16Le = "UTF-16LE";
constexpr std::string_view kUtf16Be = "UTF-16BE";
constexpr std::string_view kWindows1252 = "WINDOWS-1252";

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), AsciiLower);
    return out;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

bool StartsWithNoCase(std::string_view text, std::size_t pos, std::string_view prefix) {
    if (text.size() - pos < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (AsciiLower(text[pos + i]) != prefix[i])
            return false;
    return true;
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

struct IconvCloser {
    void operator()(void* cd) const { ::iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

IconvHandle OpenToUtf8(const std::string& from) {
    iconv_t cd = ::iconv_open("UTF-8", from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return nullptr;
    return IconvHandle(cd);
}

// Labels go to iconv_open, which also reads suffixes such as //IGNORE: only plain names pass.
bool PlainLabel(std::string_view label) {
    if (label.empty() || label.size() > 40)
        return false;
    return std::all_of(label.begin(), label.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
               c == ':';
    });
}

// The iconv name for a charset label, or empty when the label names nothing iconv can read.
std::string IconvName(std::string_view rawLabel) {
    const std::string label = Lower(Trim(rawLabel));
    if (!PlainLabel(label))
        return {};
    if (label == "utf-8" || label == "utf8" || label == "unicode-1-1-utf-8")
        return std::string(kUtf8);
    if (label == "iso-8859-1" || label == "iso8859-1" || label == "iso_8859-1" || label == "latin1" ||
        label == "l1" || label == "us-ascii" || label == "ascii" || label == "windows-1252" ||
        label == "cp1252" || label == "x-cp1252")
        return std::string(kWindows1252);
    if (label == "utf-16" || label == "unicode")
        return "UTF-16";
    std::string name = label;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
    if (!OpenToUtf8(name))
        return {};
    return name;
}

bool IsUtf16Family(std::string_view name) {
    return name.starts_with("UTF-16") || name.starts_with("UTF16") || name.starts_with("UTF-32") ||
           name.starts_with("UTF32") || name.starts_with("UCS-2") || name.starts_with("UCS-4");
}

std::size_t CodeUnitBytes(std::string_view name) {
    if (name.starts_with("UTF-32") || name.starts_with("UTF32") || name.starts_with("UCS-4"))
        return 4;
    if (name.starts_with("UTF-16") || name.starts_with("UTF16") || name.starts_with("UCS-2"))
        return 2;
    return 1;
}

// The encoding a byte order mark at the start names, with the mark's length.
std::pair<std::string_view, std::size_t> BomEncoding(std::string_view body) {
    if (body.starts_with("\xEF\xBB\xBF"))
        return {kUtf8, 3};
    if (body.starts_with("\xFF\xFE"))
        return {kUtf16Le, 2};
    if (body.starts_with("\xFE\xFF"))
        return {kUtf16Be, 2};
    return {{}, 0};
}

// UTF-8 as Unicode defines it: every byte sequence that is not part of a well-formed one (the
// old five- and six-byte forms, code points above U+10FFFF, surrogates, overlong forms) becomes
// U+FFFD, one for each maximal part of a sequence, as browsers decode.
std::string RepairUtf8(std::string_view bytes) {
    if (storage::IsValidUtf8(bytes))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++i;
            continue;
        }
        std::size_t need = 0;
        unsigned lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2;
            lo = lead == 0xE0 ? 0xA0 : 0x80;
            hi = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3;
            lo = lead == 0xF0 ? 0x90 : 0x80;
            hi = lead == 0xF4 ? 0x8F : 0xBF;
        }
        std::size_t end = i + 1;
        bool complete = need > 0;
        for (std::size_t k = 0; k < need; ++k, ++end) {
            const unsigned c = end < bytes.size() ? static_cast<unsigned char>(bytes[end]) : 0;
            if (end >= bytes.size() || c < (k == 0 ? lo : 0x80) || c > (k == 0 ? hi : 0xBF)) {
                complete = false;
                break;
            }
        }
        if (complete)
            out.append(bytes.substr(i, end - i));
        else
            out.append(kReplacement);
        i = end; // a byte that broke the sequence starts the next one
    }
    return out;
}

// Converts with iconv; each invalid sequence becomes U+FFFD and decoding goes on behind it.
std::string ConvertToUtf8(std::string_view bytes, const std::string& from) {
    IconvHandle cd = OpenToUtf8(from);
    if (!cd)
        return storage::IsValidUtf8(bytes) ? std::string(bytes) : storage::Windows1252ToUtf8(bytes);
    const std::size_t unit = CodeUnitBytes(from);
    auto* handle = static_cast<iconv_t>(cd.get());

    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    std::array<char, 16384> buffer;
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t rc = ::iconv(handle, &in, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
        if (rc != static_cast<std::size_t>(-1) || err == E2BIG)
            continue;
        out.append(kReplacement);
        if (err == EILSEQ) {
            const std::size_t skip = std::min(unit, inLeft);
            in += skip;
            inLeft -= skip;
        } else {
            break; // EINVAL: cut short at the end
        }
    }
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    ::iconv(handle, nullptr, nullptr, &outPtr, &outLeft); // ends a shift state, if any
    out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
    // glibc's converters let through what Unicode forbids (code points above U+10FFFF).
    return storage::IsValidUtf8(out) ? out : RepairUtf8(out);
}

std::string Decode(std::string_view body, const std::string& name) {
    const auto [bomName, bomLength] = BomEncoding(body);
    if (name == kUtf8) {
        if (bomName == kUtf8)
            body.remove_prefix(bomLength);
        return RepairUtf8(body);
    }
    if (name == kWindows1252)
        return storage::Windows1252ToUtf8(body);
    if (name == "UTF-16") {
        // A header that says only UTF-16 leaves the byte order to the mark, little-endian without.
        if (bomName == kUtf16Le || bomName == kUtf16Be) {
            body.remove_prefix(bomLength);
            return ConvertToUtf8(body, std::string(bomName));
        }
        return ConvertToUtf8(body, std::string(kUtf16Le));
    }
    if (!bomName.empty() && name == bomName)
        body.remove_prefix(bomLength);
    return ConvertToUtf8(body, name);
}

// Reads one attribute of a tag at `pos`; false at the end of the tag.
bool NextAttribute(std::string_view tag, std::size_t& pos, std::string& name, std::string& value) {
    while (pos < tag.size() && (IsSpace(tag[pos]) || tag[pos] == '/'))
        ++pos;
    if (pos >= tag.size() || tag[pos] == '>')
        return false;
    const std::size_t nameStart = pos;
    while (pos < tag.size() && !IsSpace(tag[pos]) && tag[pos] != '=' && tag[pos] != '>' && tag[pos] != '/')
        ++pos;
    name = Lower(tag.substr(nameStart, pos - nameStart));
    value.clear();
    std::size_t look = pos;
    while (look < tag.size() && IsSpace(tag[look]))
        ++look;
    if (look >= tag.size() || tag[look] != '=')
        return true;
    pos = look + 1;
    while (pos < tag.size() && IsSpace(tag[pos]))
        ++pos;
    if (pos < tag.size() && (tag[pos] == '"' || tag[pos] == '\'')) {
        const char quote = tag[pos++];
        const std::size_t end = tag.find(quote, pos);
        const std::size_t stop = end == std::string_view::npos ? tag.size() : end;
        value = tag.substr(pos, stop - pos);
        pos = end == std::string_view::npos ? tag.size() : end + 1;
    } else {
        const std::size_t valueStart = pos;
        while (pos < tag.size() && !IsSpace(tag[pos]) && tag[pos] != '>')
            ++pos;
        value = tag.substr(valueStart, pos - valueStart);
    }
    return true;
}

std::string CharsetOfMetaTag(std::string_view tag) {
    std::string name, value, content;
    bool contentTypeEquiv = false;
    std::size_t pos = 0;
    while (NextAttribute(tag, pos, name, value)) {
        if (name == "charset" && !Trim(value).empty())
            return std::string(Trim(value));
        if (name == "http-equiv" && Lower(Trim(value)) == "content-type")
            contentTypeEquiv = true;
        else if (name == "content")
            content = value;
    }
    return contentTypeEquiv ? detail::CharsetFromContentType(content) : std::string();
}

} // namespace

namespace detail {

std::string CharsetFromContentType(std::string_view contentType) {
    std::size_t semicolon = contentType.find(';');
    while (semicolon != std::string_view::npos) {
        const std::size_t next = contentType.find(';', semicolon + 1);
        std::string_view param = Trim(contentType.substr(semicolon + 1, next - semicolon - 1));
        semicolon = next;
        const std::size_t eq = param.find('=');
        if (eq == std::string_view::npos || Lower(Trim(param.substr(0, eq))) != "charset")
            continue;
        std::string_view value = Trim(param.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return std::string(Trim(value));
    }
    return {};
}

std::string CharsetFromMeta(std::string_view body) {
    const std::string_view head = body.substr(0, std::min(body.size(), kMetaScanBytes));
    std::size_t pos = 0;
    while ((pos = head.find('<', pos)) != std::string_view::npos) {
        if (head.substr(pos).starts_with("<!--")) {
            const std::size_t end = head.find("-->", pos + 4);
            if (end == std::string_view::npos)
                break;
            pos = end + 3;
            continue;
        }
        if (StartsWithNoCase(head, pos, "<meta") && pos + 5 < head.size() &&
            (IsSpace(head[pos + 5]) || head[pos + 5] == '/')) {
            const std::size_t end = head.find('>', pos);
            const std::string_view tag =
                head.substr(pos + 5, end == std::string_view::npos ? head.npos : end - pos - 5);
            std::string charset = CharsetOfMetaTag(tag);
            if (!charset.empty())
                return charset;
            if (end == std::string_view::npos)
                break;
            pos = end + 1;
            continue;
        }
        ++pos;
    }
    return {};
}

std::optional<std::string> OtherIdnaForm(std::string_view domain) {
    if (domain.empty() || domain.find('\0') != std::string_view::npos || !storage::IsValidUtf8(domain))
        return std::nullopt;
    const std::string text(domain);
    char* converted = nullptr;
    std::string other;
    if (!IsAscii(text)) {
        // No case mapping: a domain with capitals has no ASCII form, so case keeps counting.
        if (idn2_to_ascii_8z(text.c_str(), &converted, IDN2_NFC_INPUT | IDN2_NO_TR46) == IDN2_OK)
            other = converted;
    } else if (Lower(text).find("xn--") != std::string::npos) {
        if (idn2_to_unicode_8z8z(text.c_str(), &converted, 0) == IDN2_OK) {
            // Only a form that leads back to exactly the typed text is the same domain.
            char* back = nullptr;
            if (idn2_to_ascii_8z(converted, &back, IDN2_NFC_INPUT | IDN2_NO_TR46) == IDN2_OK && text == back)
                other = converted;
            idn2_free(back);
        }
    }
    idn2_free(converted);
    if (other.empty() || other == text)
        return std::nullopt;
    return other;
}

} // namespace detail

std::string DecodePage(std::string_view body, std::string_view contentTypeHeader) {
    if (std::string name = IconvName(detail::CharsetFromContentType(contentTypeHeader)); !name.empty())
        return Decode(body, name);
    if (const auto [bomName, bomLength] = BomEncoding(body); !bomName.empty())
        return Decode(body, std::string(bomName));
    if (std::string name = IconvName(detail::CharsetFromMeta(body)); !name.empty()) {
        // A declaration readable as ASCII cannot stand in a UTF-16 or UTF-32 document.
        if (IsUtf16Family(name))
            name = std::string(kUtf8);
        return Decode(body, name);
    }
    if (storage::IsValidUtf8(body))
        return std::string(body);
    return storage::Windows1252ToUtf8(body);
}

bool MentionsDomain(std::string_view pageText, std::string_view domain) {
    if (domain.empty())
        return false;
    if (pageText.find(domain) != std::string_view::npos)
        return true;
    const std::optional<std::string> other = detail::OtherIdnaForm(domain);
    return other && pageText.find(*other) != std::string_view::npos;
}

} // namespace retrieval
