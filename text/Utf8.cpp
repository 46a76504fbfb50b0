#include "text/Utf8.h"

#include "app/contract/Error.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <iconv.h>

namespace text {

namespace {

void AppendUtf8(std::string& out, unsigned codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

} // namespace

bool IsValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        unsigned lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            if (b == 0xE0)
                lo = 0xA0; // no overlong forms
            else if (b == 0xED)
                hi = 0x9F; // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            if (b == 0xF0)
                lo = 0x90;
            else if (b == 0xF4)
                hi = 0x8F; // nothing above U+10FFFF
        } else {
            return false;
        }
        if (n - i < len)
            return false;
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        if (second < lo || second > hi)
            return false;
        for (std::size_t k = 2; k < len; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            if (c < 0x80 || c > 0xBF)
                return false;
        }
        i += len;
    }
    return true;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
    iconv_t cd = ::iconv_open("UTF-8", "WINDOWS-1252");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw toolkit::Error("Zeichensatz Windows-1252 ist nicht verfügbar (" + SystemReason(errno) + ")");

    std::string out;
    out.reserve(bytes.size() * 2);
    char buffer[4096];
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc != static_cast<std::size_t>(-1))
            break;
        if (err == EILSEQ || err == EINVAL) {
            // The five bytes the code page leaves undefined; Windows reads them as the C1 controls.
            AppendUtf8(out, static_cast<unsigned char>(*in));
            ++in;
            --inLeft;
        } else if (err != E2BIG) {
            ::iconv_close(cd);
            throw toolkit::Error("Text konnte nicht umgewandelt werden (" + SystemReason(err) + ")");
        }
    }
    ::iconv_close(cd);
    return out;
}

} // namespace text
