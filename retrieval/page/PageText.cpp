#include "retrieval/page/PageText.h"

#include "text/Ascii.h"
#include "text/Utf8.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <iconv.h>
#include <idn2.h>
#include <memory>
#include <vector>

namespace retrieval {
namespace {

constexpr std::size_t kPrescanBytes = 4096;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// An encoding of the web's Encoding standard with its labels, and the glibc converter that reads
// it. The encodings without a converter here are decoded by the code below.
struct Encoding {
    std::string_view name;
    const char* iconv;
    std::string_view labels; // separated by single spaces
};

constexpr Encoding kEncodings[] = {
    {"UTF-8", nullptr, "unicode-1-1-utf-8 unicode11utf8 unicode20utf8 utf-8 utf8 x-unicode20utf8"},
    {"IBM866", "IBM866", "866 cp866 csibm866 ibm866"},
    {"ISO-8859-2", "ISO-8859-2",
     "csisolatin2 iso-8859-2 iso-ir-101 iso8859-2 iso88592 iso_8859-2 iso_8859-2:1987 l2 latin2"},
    {"ISO-8859-3", "ISO-8859-3",
     "csisolatin3 iso-8859-3 iso-ir-109 iso8859-3 iso88593 iso_8859-3 iso_8859-3:1988 l3 latin3"},
    {"ISO-8859-4", "ISO-8859-4",
     "csisolatin4 iso-8859-4 iso-ir-110 iso8859-4 iso88594 iso_8859-4 iso_8859-4:1988 l4 latin4"},
    {"ISO-8859-5", "ISO-8859-5",
     "csisolatincyrillic cyrillic iso-8859-5 iso-ir-144 iso8859-5 iso88595 iso_8859-5 iso_8859-5:1988"},
    {"ISO-8859-6", "ISO-8859-6",
     "arabic asmo-708 csiso88596e csiso88596i csisolatinarabic ecma-114 iso-8859-6 iso-8859-6-e iso-8859-6-i "
     "iso-ir-127 iso8859-6 iso88596 iso_8859-6 iso_8859-6:1987"},
    {"ISO-8859-7", "ISO-8859-7",
     "csisolatingreek ecma-118 elot_928 greek greek8 iso-8859-7 iso-ir-126 iso8859-7 iso88597 iso_8859-7 "
     "iso_8859-7:1987 sun_eu_greek"},
    {"ISO-8859-8", "ISO-8859-8",
     "csiso88598e csisolatinhebrew hebrew iso-8859-8 iso-8859-8-e iso-ir-138 iso8859-8 iso88598 iso_8859-8 "
     "iso_8859-8:1988 visual"},
    {"ISO-8859-8-I", "ISO-8859-8", "csiso88598i iso-8859-8-i logical"},
    {"ISO-8859-10", "ISO-8859-10", "csisolatin6 iso-8859-10 iso-ir-157 iso8859-10 iso885910 l6 latin6"},
    {"ISO-8859-13", "ISO-8859-13", "iso-8859-13 iso8859-13 iso885913"},
    {"ISO-8859-14", "ISO-8859-14", "iso-8859-14 iso8859-14 iso885914"},
    {"ISO-8859-15", "ISO-8859-15", "csisolatin9 iso-8859-15 iso8859-15 iso885915 iso_8859-15 l9"},
    {"ISO-8859-16", "ISO-8859-16", "iso-8859-16"},
    {"KOI8-R", "KOI8-R", "cskoi8r koi koi8 koi8-r koi8_r"},
    // The standard's KOI8-U has the Belarusian letters of KOI8-RU.
    {"KOI8-U", "KOI8-RU", "koi8-ru koi8-u"},
    {"macintosh", "MACINTOSH", "csmacintosh mac macintosh x-mac-roman"},
    {"windows-874", "WINDOWS-874", "dos-874 iso-8859-11 iso8859-11 iso885911 tis-620 windows-874"},
    {"windows-1250", "WINDOWS-1250", "cp1250 windows-1250 x-cp1250"},
    {"windows-1251", "WINDOWS-1251", "cp1251 windows-1251 x-cp1251"},
    {"windows-1252", nullptr,
     "ansi_x3.4-1968 ascii cp1252 cp819 csisolatin1 ibm819 iso-8859-1 iso-ir-100 iso8859-1 iso88591 "
     "iso_8859-1 iso_8859-1:1987 l1 latin1 us-ascii windows-1252 x-cp1252"},
    {"windows-1253", "WINDOWS-1253", "cp1253 windows-1253 x-cp1253"},
    {"windows-1254", "WINDOWS-1254",
     "cp1254 csisolatin5 iso-8859-9 iso-ir-148 iso8859-9 iso88599 iso_8859-9 iso_8859-9:1989 l5 latin5 "
     "windows-1254 x-cp1254"},
    {"windows-1255", nullptr, "cp1255 windows-1255 x-cp1255"},
    {"windows-1256", "WINDOWS-1256", "cp1256 windows-1256 x-cp1256"},
    {"windows-1257", "WINDOWS-1257", "cp1257 windows-1257 x-cp1257"},
    {"windows-1258", nullptr, "cp1258 windows-1258 x-cp1258"},
    {"x-mac-cyrillic", "MAC-CYRILLIC", "x-mac-cyrillic x-mac-ukrainian"},
    // The standard decodes GBK with its gb18030 decoder.
    {"GBK", "GB18030", "chinese csgb2312 csiso58gb231280 gb2312 gb_2312 gb_2312-80 gbk iso-ir-58 x-gbk"},
    {"gb18030", "GB18030", "gb18030"},
    {"Big5", "BIG5-HKSCS", "big5 big5-hkscs cn-big5 csbig5 x-x-big5"},
    {"EUC-JP", "EUC-JP", "cseucpkdfmtjapanese euc-jp x-euc-jp"},
    {"ISO-2022-JP", "ISO-2022-JP", "csiso2022jp iso-2022-jp"},
    {"Shift_JIS", "WINDOWS-31J", "csshiftjis ms932 ms_kanji shift-jis shift_jis sjis windows-31j x-sjis"},
    {"EUC-KR", "CP949",
     "cseuckr csksc56011987 euc-kr iso-ir-149 korean ks_c_5601-1987 ks_c_5601-1989 ksc5601 ksc_5601 "
     "windows-949"},
    // Encodings that let markup hide from filters: a page in one reads as one U+FFFD.
    {"replacement", nullptr, "csiso2022kr hz-gb-2312 iso-2022-cn iso-2022-cn-ext iso-2022-kr replacement"},
    {"UTF-16BE", "UTF-16BE", "unicodefffe utf-16be"},
    {"UTF-16LE", "UTF-16LE", "csunicode iso-10646-ucs-2 ucs-2 unicode unicodefeff utf-16 utf-16le"},
    {"x-user-defined", nullptr, "x-user-defined"},
};

// Bytes 0x80 to 0xFF of single-byte encodings as the Encoding standard's indexes give them; U+FFFD
// where an index has no entry. glibc's converters for these two merge a letter with the combining
// mark that follows it (e + U+0301 becomes U+00E9), so a domain before a mark would vanish from
// the text, and they leave bytes undefined that the standard maps.
using HighHalf = std::array<char16_t, 128>;
constexpr HighHalf kWindows1255High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x008A, 0x2039, 0x008C,
    0x008D, 0x008E, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122,
    0x009A, 0x203A, 0x009C, 0x009D, 0x009E, 0x009F, 0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x20AA, 0x00A5, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x00D7, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF, 0x00B0, 0x00B1, 0x00B2, 0x00B3,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00F7, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x05B0,
    0x05B1, 0x05B2, 0x05B3, 0x05B4, 0x05B5, 0x05B6, 0x05B7, 0x05B8, 0x05B9, 0x05BA, 0x05BB, 0x05BC, 0x05BD,
    0x05BE, 0x05BF, 0x05C0, 0x05C1, 0x05C2, 0x05C3, 0x05F0, 0x05F1, 0x05F2, 0x05F3, 0x05F4, 0xFFFD, 0xFFFD,
    0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0x05D0, 0x05D1, 0x05D2, 0x05D3, 0x05D4, 0x05D5, 0x05D6, 0x05D7,
    0x05D8, 0x05D9, 0x05DA, 0x05DB, 0x05DC, 0x05DD, 0x05DE, 0x05DF, 0x05E0, 0x05E1, 0x05E2, 0x05E3, 0x05E4,
    0x05E5, 0x05E6, 0x05E7, 0x05E8, 0x05E9, 0x05EA, 0xFFFD, 0xFFFD, 0x200E, 0x200F, 0xFFFD,
};
constexpr HighHalf kWindows1258High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x008A, 0x2039, 0x0152,
    0x008D, 0x008E, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122,
    0x009A, 0x203A, 0x0153, 0x009D, 0x009E, 0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF, 0x00B0, 0x00B1, 0x00B2, 0x00B3,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x00C5, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x0300, 0x00CD,
    0x00CE, 0x00CF, 0x0110, 0x00D1, 0x0309, 0x00D3, 0x00D4, 0x01A0, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA,
    0x00DB, 0x00DC, 0x01AF, 0x0303, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x0301, 0x00ED, 0x00EE, 0x00EF, 0x0111, 0x00F1, 0x0323, 0x00F3, 0x00F4,
    0x01A1, 0x00F6, 0x00F7, 0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x01B0, 0x20AB, 0x00FF,
};

const Encoding& Named(std::string_view name) {
    for (const Encoding& e : kEncodings)
        if (e.name == name)
            return e;
    return kEncodings[0];
}

const Encoding& kUtf8 = Named("UTF-8");
const Encoding& kUtf16Be = Named("UTF-16BE");
const Encoding& kUtf16Le = Named("UTF-16LE");
const Encoding& kWindows1252 = Named("windows-1252");
const Encoding& kReplacementEncoding = Named("replacement");
const Encoding& kUserDefined = Named("x-user-defined");
const Encoding& kWindows1255 = Named("windows-1255");
const Encoding& kWindows1258 = Named("windows-1258");

// "Get an encoding": the label without surrounding whitespace, matched ignoring ASCII case.
const Encoding* ForLabel(std::string_view rawLabel) {
    const std::string label = text::ascii::Lower(text::ascii::Trim(rawLabel));
    if (label.empty() || label.find(' ') != std::string::npos)
        return nullptr;
    for (const Encoding& e : kEncodings) {
        std::string_view labels = e.labels;
        while (!labels.empty()) {
            const std::size_t space = labels.find(' ');
            if (labels.substr(0, space) == label)
                return &e;
            labels.remove_prefix(space == std::string_view::npos ? labels.size() : space + 1);
        }
    }
    return nullptr;
}

struct IconvCloser {
    void operator()(void* cd) const { ::iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

IconvHandle OpenToUtf8(const char* from) {
    iconv_t cd = ::iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return nullptr;
    return IconvHandle(cd);
}

// The encoding a byte order mark at the start names, with the mark's length.
std::pair<const Encoding*, std::size_t> BomEncoding(std::string_view body) {
    if (body.starts_with("\xEF\xBB\xBF"))
        return {&kUtf8, 3};
    if (body.starts_with("\xFE\xFF"))
        return {&kUtf16Be, 2};
    if (body.starts_with("\xFF\xFE"))
        return {&kUtf16Le, 2};
    return {nullptr, 0};
}

// UTF-8 as Unicode defines it: every byte sequence that is not part of a well-formed one (the
// old five- and six-byte forms, code points above U+10FFFF, surrogates, overlong forms) becomes
// U+FFFD, one for each maximal part of a sequence, as browsers decode.
std::string RepairUtf8(std::string_view bytes) {
    if (text::IsValidUtf8(bytes))
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
std::string ConvertToUtf8(std::string_view bytes, const char* from, std::size_t unit) {
    IconvHandle cd = OpenToUtf8(from);
    if (!cd)
        return RepairUtf8(bytes);
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
    return text::IsValidUtf8(out) ? out : RepairUtf8(out);
}

// A code point below U+10000 as UTF-8.
void AppendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// One character per byte: ASCII as it is, 0x80 to 0xFF by the table.
std::string DecodeSingleByte(std::string_view bytes, const HighHalf& high) {
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        AppendUtf8(out, b < 0x80 ? b : high[b - 0x80u]);
    }
    return out;
}

// Bytes 0x80 to 0xFF stand for U+F780 to U+F7FF.
std::string DecodeUserDefined(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        AppendUtf8(out, b < 0x80 ? b : 0xF780 + (b - 0x80u));
    }
    return out;
}

std::string Decode(std::string_view body, const Encoding& encoding) {
    if (&encoding == &kUtf8)
        return RepairUtf8(body);
    if (&encoding == &kWindows1252)
        return text::Windows1252ToUtf8(body);
    if (&encoding == &kReplacementEncoding)
        return body.empty() ? std::string() : std::string(kReplacement);
    if (&encoding == &kUserDefined)
        return DecodeUserDefined(body);
    if (&encoding == &kWindows1255)
        return DecodeSingleByte(body, kWindows1255High);
    if (&encoding == &kWindows1258)
        return DecodeSingleByte(body, kWindows1258High);
    const bool utf16 = &encoding == &kUtf16Be || &encoding == &kUtf16Le;
    return ConvertToUtf8(body, encoding.iconv, utf16 ? 2 : 1);
}

// The encoding the content attribute of a meta element names, as the HTML standard extracts it.
const Encoding* EncodingFromMetaContent(std::string_view s) {
    const std::string lower = text::ascii::Lower(s);
    std::size_t pos = 0;
    for (;;) {
        const std::size_t found = lower.find("charset", pos);
        if (found == std::string::npos)
            return nullptr;
        pos = found + 7;
        while (pos < s.size() && text::ascii::IsSpace(s[pos]))
            ++pos;
        if (pos >= s.size() || s[pos] != '=')
            continue;
        ++pos;
        while (pos < s.size() && text::ascii::IsSpace(s[pos]))
            ++pos;
        if (pos >= s.size())
            return nullptr;
        if (s[pos] == '"' || s[pos] == '\'') {
            const std::size_t close = s.find(s[pos], pos + 1);
            if (close == std::string_view::npos)
                return nullptr;
            return ForLabel(s.substr(pos + 1, close - pos - 1));
        }
        const std::size_t stop = s.find_first_of(std::string_view("\t\n\f\r ;", 6), pos);
        return ForLabel(s.substr(pos, stop == std::string_view::npos ? stop : stop - pos));
    }
}

// The prescan of a byte stream for its encoding, step by step as the HTML standard gives it, over
// the first kPrescanBytes. Whatever runs into the end of those bytes (a tag, a comment, a quoted
// value) counts for nothing.
class Prescan {
public:
    explicit Prescan(std::string_view bytes, std::size_t window = kPrescanBytes, bool keepCase = false)
        : b_(bytes.substr(0, std::min(bytes.size(), window))), keepCase_(keepCase) {}

    const Encoding* Run();
    // The content of the first <meta http-equiv="refresh"> outside raw text and <noscript>.
    std::optional<std::string> Refresh();

private:
    enum class Got { Attribute, None, End };

    bool At(std::string_view text) const { return b_.substr(pos_).starts_with(text); }
    bool LetterAt(std::size_t i) const {
        return i < b_.size() && ((b_[i] >= 'A' && b_[i] <= 'Z') || (b_[i] >= 'a' && b_[i] <= 'z'));
    }
    bool MetaAt() const;
    Got GetAttribute(std::string& name, std::string& value);
    // The meta element whose attributes start at pos_; null when it names no encoding.
    const Encoding* Meta(bool& end);

    // Past the end tag of a raw-text element whose start tag ended at pos_; false at the window's end.
    bool SkipPast(std::string_view tag);

    std::string_view b_;
    bool keepCase_; // attribute values as written, not lower-cased
    std::size_t pos_ = 0;
};

bool Prescan::MetaAt() const {
    if (b_.size() - pos_ < 6 || b_[pos_] != '<' || text::ascii::Lower(b_.substr(pos_ + 1, 4)) != "meta")
        return false;
    const char after = b_[pos_ + 5];
    return text::ascii::IsSpace(after) || after == '/';
}

Prescan::Got Prescan::GetAttribute(std::string& name, std::string& value) {
    name.clear();
    value.clear();
    while (pos_ < b_.size() && (text::ascii::IsSpace(b_[pos_]) || b_[pos_] == '/'))
        ++pos_;
    if (pos_ >= b_.size())
        return Got::End;
    if (b_[pos_] == '>')
        return Got::None;
    bool spaces = false;
    for (;; ++pos_) {
        if (pos_ >= b_.size())
            return Got::End;
        const char c = b_[pos_];
        if (c == '=' && !name.empty())
            break;
        if (text::ascii::IsSpace(c)) {
            spaces = true;
            break;
        }
        if (c == '/' || c == '>')
            return Got::Attribute;
        name += text::ascii::Lower(c);
    }
    if (spaces) {
        while (pos_ < b_.size() && text::ascii::IsSpace(b_[pos_]))
            ++pos_;
        if (pos_ >= b_.size())
            return Got::End;
        if (b_[pos_] != '=')
            return Got::Attribute;
    }
    ++pos_; // past '='
    while (pos_ < b_.size() && text::ascii::IsSpace(b_[pos_]))
        ++pos_;
    if (pos_ >= b_.size())
        return Got::End;
    const char first = b_[pos_];
    if (first == '"' || first == '\'') {
        for (++pos_; pos_ < b_.size(); ++pos_) {
            if (b_[pos_] == first) {
                ++pos_;
                return Got::Attribute;
            }
            value += keepCase_ ? b_[pos_] : text::ascii::Lower(b_[pos_]);
        }
        return Got::End;
    }
    if (first == '>')
        return Got::Attribute;
    for (; pos_ < b_.size(); ++pos_) {
        const char c = b_[pos_];
        if (text::ascii::IsSpace(c) || c == '>')
            return Got::Attribute;
        value += keepCase_ ? c : text::ascii::Lower(c);
    }
    return Got::End;
}

const Encoding* Prescan::Meta(bool& end) {
    std::vector<std::string> seen;
    bool gotPragma = false;
    enum class Need { Unset, Yes, No } needPragma = Need::Unset;
    bool charsetSet = false;
    const Encoding* charset = nullptr; // null once set: failure
    std::string name, value;
    Got got;
    while ((got = GetAttribute(name, value)) == Got::Attribute) {
        if (std::find(seen.begin(), seen.end(), name) != seen.end())
            continue;
        seen.push_back(name);
        if (name == "http-equiv") {
            gotPragma = gotPragma || value == "content-type";
        } else if (name == "content") {
            const Encoding* fromContent = EncodingFromMetaContent(value);
            if (fromContent != nullptr && !charsetSet) {
                charset = fromContent;
                charsetSet = true;
                needPragma = Need::Yes;
            }
        } else if (name == "charset") {
            charset = ForLabel(value);
            charsetSet = true;
            needPragma = Need::No;
        }
    }
    end = got == Got::End;
    if (end || needPragma == Need::Unset || (needPragma == Need::Yes && !gotPragma) || charset == nullptr)
        return nullptr;
    if (charset == &kUtf16Be || charset == &kUtf16Le)
        return &kUtf8;
    if (charset == &kUserDefined)
        return &kWindows1252;
    return charset;
}

const Encoding* Prescan::Run() {
    if (At(std::string_view("<\0?\0x\0", 6)))
        return &kUtf16Le;
    if (At(std::string_view("\0<\0?\0x", 6)))
        return &kUtf16Be;
    for (; pos_ < b_.size(); ++pos_) {
        if (At("<!--")) {
            // Ends at the first "-->" after the '<'; its dashes may be those of "<!--".
            const std::size_t close = b_.find("-->", pos_ + 2);
            if (close == std::string_view::npos)
                return nullptr;
            pos_ = close + 2;
        } else if (MetaAt()) {
            pos_ += 6;
            bool end = false;
            if (const Encoding* found = Meta(end))
                return found;
            if (end)
                return nullptr;
        } else if (b_[pos_] == '<' && (LetterAt(pos_ + 1) || (At("</") && LetterAt(pos_ + 2)))) {
            pos_ = b_.find_first_of(std::string_view("\t\n\f\r >", 6), pos_);
            if (pos_ == std::string_view::npos)
                return nullptr;
            std::string name, value;
            Got got;
            while ((got = GetAttribute(name, value)) == Got::Attribute) {
            }
            if (got == Got::End)
                return nullptr;
        } else if (At("<!") || At("</") || At("<?")) {
            pos_ = b_.find('>', pos_ + 1);
            if (pos_ == std::string_view::npos)
                return nullptr;
        }
    }
    return nullptr;
}

bool Prescan::SkipPast(std::string_view tag) {
    const std::string close = "</" + std::string(tag);
    const auto at = std::search(b_.begin() + static_cast<std::ptrdiff_t>(pos_), b_.end(), close.begin(),
                                close.end(), [](char a, char b) { return text::ascii::Lower(a) == b; });
    if (at == b_.end())
        return false;
    pos_ = static_cast<std::size_t>(at - b_.begin());
    return true;
}

std::optional<std::string> Prescan::Refresh() {
    // Their content is no markup; a <noscript> is not shown where scripts run, as in a person's browser.
    constexpr std::string_view kSkipped[] = {"script", "style",  "noscript", "template", "textarea",
                                             "title",  "iframe", "xmp",      "noembed",  "noframes"};
    for (; pos_ < b_.size(); ++pos_) {
        if (At("<!--")) {
            const std::size_t close = b_.find("-->", pos_ + 2);
            if (close == std::string_view::npos)
                return std::nullopt;
            pos_ = close + 2;
        } else if (MetaAt()) {
            pos_ += 6;
            std::optional<std::string> equiv, content;
            std::string name, value;
            Got got;
            while ((got = GetAttribute(name, value)) == Got::Attribute) {
                if (name == "http-equiv" && !equiv)
                    equiv = text::ascii::Lower(text::ascii::Trim(value));
                else if (name == "content" && !content)
                    content = value;
            }
            if (got == Got::End)
                return std::nullopt;
            if (equiv == "refresh" && content)
                return content;
        } else if (b_[pos_] == '<' && (LetterAt(pos_ + 1) || (At("</") && LetterAt(pos_ + 2)))) {
            const bool start = b_[pos_ + 1] != '/';
            const std::size_t nameAt = pos_ + (start ? 1 : 2);
            pos_ = b_.find_first_of(std::string_view("\t\n\f\r />", 7), nameAt);
            if (pos_ == std::string_view::npos)
                return std::nullopt;
            const std::string tag = text::ascii::Lower(b_.substr(nameAt, pos_ - nameAt));
            std::string name, value;
            Got got;
            while ((got = GetAttribute(name, value)) == Got::Attribute) {
            }
            if (got == Got::End)
                return std::nullopt;
            if (start && std::find(std::begin(kSkipped), std::end(kSkipped), tag) != std::end(kSkipped) &&
                !SkipPast(tag))
                return std::nullopt;
        } else if (At("<!") || At("</") || At("<?")) {
            pos_ = b_.find('>', pos_ + 1);
            if (pos_ == std::string_view::npos)
                return std::nullopt;
        }
    }
    return std::nullopt;
}

// "Get an XML encoding": what the prescan falls back on when it finds no meta declaration. The
// declaration must open the bytes, and its name, quotes and case are taken literally. The search
// for encoding="..." stays inside the declaration (up to its first '>'), as browsers search; the
// standard's text leaves that end unused, which its editors call an error.
const Encoding* XmlDeclarationEncoding(std::string_view bytes) {
    bytes = bytes.substr(0, std::min(bytes.size(), kPrescanBytes));
    if (!bytes.starts_with("<?xml"))
        return nullptr;
    const std::size_t end = bytes.find('>');
    if (end == std::string_view::npos)
        return nullptr;
    const std::string_view declaration = bytes.substr(0, end);
    const auto atOrBelowSpace = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    std::size_t pos = declaration.find("encoding");
    if (pos == std::string_view::npos)
        return nullptr;
    pos += 8;
    while (pos < declaration.size() && atOrBelowSpace(declaration[pos]))
        ++pos;
    if (pos >= declaration.size() || declaration[pos] != '=')
        return nullptr;
    ++pos;
    while (pos < declaration.size() && atOrBelowSpace(declaration[pos]))
        ++pos;
    if (pos >= declaration.size() || (declaration[pos] != '"' && declaration[pos] != '\''))
        return nullptr;
    const std::size_t close = declaration.find(declaration[pos], pos + 1);
    if (close == std::string_view::npos)
        return nullptr;
    const std::string_view label = declaration.substr(pos + 1, close - pos - 1);
    if (std::any_of(label.begin(), label.end(), atOrBelowSpace))
        return nullptr;
    const Encoding* encoding = ForLabel(label);
    if (encoding == &kUtf16Be || encoding == &kUtf16Le)
        return &kUtf8;
    return encoding;
}

// The prescan as a whole: a meta declaration, else an XML declaration at the start.
const Encoding* PrescanFor(std::string_view body) {
    if (const Encoding* meta = Prescan(body).Run())
        return meta;
    return XmlDeclarationEncoding(body);
}

} // namespace

namespace detail {

// The charset parameter as the MIME Sniffing standard's "parse a MIME type" yields it.
std::string CharsetFromContentType(std::string_view contentType) {
    const auto httpSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    const auto token = [](std::string_view s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                   std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
        });
    };
    const auto quotedStringText = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(), [](char c) {
            const auto b = static_cast<unsigned char>(c);
            return b == '\t' || (b >= 0x20 && b != 0x7F);
        });
    };
    const auto trimEnd = [&](std::string_view s) {
        while (!s.empty() && httpSpace(s.back()))
            s.remove_suffix(1);
        return s;
    };
    std::string_view s = trimEnd(contentType);
    while (!s.empty() && httpSpace(s.front()))
        s.remove_prefix(1);

    const std::size_t slash = s.find('/');
    if (slash == std::string_view::npos || !token(s.substr(0, slash)))
        return {};
    std::size_t pos = std::min(s.find(';', slash), s.size());
    if (!token(trimEnd(s.substr(slash + 1, pos - slash - 1))))
        return {};

    while (pos < s.size()) {
        ++pos; // past ';'
        while (pos < s.size() && httpSpace(s[pos]))
            ++pos;
        const std::size_t nameEnd = std::min(s.find_first_of(";=", pos), s.size());
        const std::string name = text::ascii::Lower(s.substr(pos, nameEnd - pos));
        pos = nameEnd;
        if (pos < s.size() && s[pos] == ';')
            continue;
        if (++pos >= s.size()) // past '='
            break;
        std::string value;
        if (s[pos] == '"') {
            // A quoted string: backslash escapes, an unclosed quote runs to the end, and what
            // follows the closing quote up to the next ';' is dropped.
            for (++pos; pos < s.size() && s[pos] != '"'; ++pos) {
                if (s[pos] == '\\' && ++pos >= s.size()) {
                    value += '\\';
                    break;
                }
                value += s[pos];
            }
            pos = std::min(s.find(';', pos), s.size());
        } else {
            const std::size_t end = std::min(s.find(';', pos), s.size());
            value = trimEnd(s.substr(pos, end - pos));
            pos = end;
            if (value.empty())
                continue;
        }
        // The first valid charset parameter counts; later ones do not replace it.
        if (name == "charset" && quotedStringText(value))
            return value;
    }
    return {};
}

std::string EncodingForLabel(std::string_view label) {
    const Encoding* e = ForLabel(label);
    return e == nullptr ? std::string() : std::string(e->name);
}

std::string PrescanEncoding(std::string_view body) {
    const Encoding* e = PrescanFor(body);
    return e == nullptr ? std::string() : std::string(e->name);
}

std::optional<std::string> PrescanRefresh(std::string_view body) {
    return Prescan(body, kRefreshPrescanBytes, true).Refresh();
}

std::optional<std::string> OtherIdnaForm(std::string_view domain) {
    if (domain.empty() || domain.find('\0') != std::string_view::npos || !text::IsValidUtf8(domain))
        return std::nullopt;
    const std::string text(domain);
    char* converted = nullptr;
    std::string other;
    if (!text::ascii::IsAscii(text)) {
        // No case mapping: a domain with capitals has no ASCII form, so case keeps counting.
        if (idn2_to_ascii_8z(text.c_str(), &converted, IDN2_NFC_INPUT | IDN2_NO_TR46) == IDN2_OK)
            other = converted;
    } else if (text::ascii::Lower(text).find("xn--") != std::string::npos) {
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

// A byte order mark goes before the header, the header before the prescan; without any of them
// the body is UTF-8 when it is valid UTF-8 and Windows-1252 otherwise.
std::string DecodePage(std::string_view body, std::string_view contentTypeHeader) {
    if (const auto [bom, length] = BomEncoding(body); bom != nullptr)
        return Decode(body.substr(length), *bom);
    if (const Encoding* header = ForLabel(detail::CharsetFromContentType(contentTypeHeader)))
        return Decode(body, *header);
    if (const Encoding* declared = PrescanFor(body))
        return Decode(body, *declared);
    if (text::IsValidUtf8(body))
        return std::string(body);
    return text::Windows1252ToUtf8(body);
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
