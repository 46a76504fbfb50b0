#include "retrieval/import/TextDecode.h"

#include "retrieval/import/LinkSheet.h"
#include "text/Utf8.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <iconv.h>
#include <memory>

namespace retrieval {

namespace {

std::string Quoted(std::string_view name) {
    return "„" + std::string(name) + "“";
}

// The offset of the first byte that is no part of well-formed UTF-8, or npos.
std::size_t FirstInvalidUtf8(std::string_view bytes) {
    if (text::IsValidUtf8(bytes))
        return std::string_view::npos;
    // A message needs the line only.
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        end = end == std::string_view::npos ? bytes.size() : end + 1;
        if (!text::IsValidUtf8(bytes.substr(start, end - start)))
            return start;
        start = end;
    }
    return 0;
}

// UTF-16 without a mark: in the first bytes, nearly every other byte is zero (ASCII text).
const char* Utf16WithoutMark(std::string_view bytes) {
    const std::size_t n = std::min<std::size_t>(bytes.size() & ~std::size_t{1}, 4096);
    if (n < 4)
        return nullptr;
    std::size_t evenZero = 0, oddZero = 0;
    for (std::size_t i = 0; i < n; i += 2) {
        evenZero += bytes[i] == '\0';
        oddZero += bytes[i + 1] == '\0';
    }
    const std::size_t units = n / 2;
    if (oddZero * 10 >= units * 7 && evenZero * 10 < units)
        return "UTF-16LE";
    if (evenZero * 10 >= units * 7 && oddZero * 10 < units)
        return "UTF-16BE";
    return nullptr;
}

struct IconvCloser {
    void operator()(void* cd) const { ::iconv_close(static_cast<iconv_t>(cd)); }
};

// Strict: a broken sequence is an error with its line, never a replacement character.
// The bytes are let go of before the text is trimmed to its size, so that both never stand beside
// the full-size output.
std::string Utf16ToUtf8(std::string&& all, std::size_t mark, const char* from, std::string_view name) {
    const std::string_view bytes = std::string_view(all).substr(mark);
    if (bytes.size() % 2 != 0)
        throw ImportError("Die Datei " + Quoted(name) + " ist als " + from +
                          " gespeichert, endet aber mitten in einem Zeichen.");
    const iconv_t opened = ::iconv_open("UTF-8", from);
    if (opened == reinterpret_cast<iconv_t>(-1))
        throw ImportError(std::string("Zeichensatz ") + from + " ist auf diesem System nicht verfügbar.");
    const std::unique_ptr<void, IconvCloser> cd(opened);
    std::string out(bytes.size() / 2 * 3, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = ::iconv(static_cast<iconv_t>(cd.get()), &in, &inLeft, &outPtr, &outLeft);
    const std::size_t written = static_cast<std::size_t>(outPtr - out.data());
    if (rc == static_cast<std::size_t>(-1)) {
        const std::size_t line = LineAt(std::string_view(out.data(), written), written);
        throw ImportError("Die Datei " + Quoted(name) + " ist als " + from + " gespeichert, Zeile " +
                          GroupedNumber(line) + " enthält aber ein ungültiges Zeichen.");
    }
    out.resize(written);
    std::string().swap(all);
    out.shrink_to_fit();
    return out;
}

bool IsBinaryControl(unsigned char c) {
    return c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v';
}

void RefuseBinary(std::string_view bytes, std::string_view name) {
    if (bytes.starts_with("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
        throw ImportError(
            "Die Datei " + Quoted(name) +
            " ist eine Excel-Datei im alten Format (.xls), die das Programm nicht liest. Bitte in "
            "Excel als „CSV UTF-8“ speichern und diese Datei importieren.");
    if (bytes.starts_with("%PDF"))
        throw ImportError("Die Datei " + Quoted(name) + " ist ein PDF-Dokument und keine Liste.");
}

// A control character that no text list holds (0x1A ends old DOS files and is let through there).
void RefuseControls(std::string_view text, std::string_view name) {
    const auto it = std::find_if(text.begin(), text.end(), [](char c) { return IsBinaryControl(c); });
    if (it == text.end())
        return;
    const std::size_t at = static_cast<std::size_t>(it - text.begin());
    if (*it == '\x1A' && at + 1 == text.size())
        return;
    throw ImportError("Die Datei " + Quoted(name) + " enthält Binärdaten (Steuerzeichen in Zeile " +
                      GroupedNumber(LineAt(text, at)) + ") und ist keine Liste.");
}

} // namespace

std::size_t LineAt(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    return 1 + static_cast<std::size_t>(
                   std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

DecodedText DecodeText(std::string bytes, std::string_view name) {
    DecodedText decoded;
    RefuseBinary(bytes, name);
    const char* utf16 = nullptr;
    std::size_t mark = 0;
    if (bytes.starts_with("\xFF\xFE")) {
        utf16 = "UTF-16LE";
        mark = 2;
    } else if (bytes.starts_with("\xFE\xFF")) {
        utf16 = "UTF-16BE";
        mark = 2;
    } else {
        utf16 = Utf16WithoutMark(bytes);
    }
    if (utf16 != nullptr) {
        decoded.text = Utf16ToUtf8(std::move(bytes), mark, utf16, name);
        decoded.encoding = utf16;
    } else if (bytes.starts_with("\xEF\xBB\xBF")) {
        const std::size_t bad = FirstInvalidUtf8(std::string_view(bytes).substr(3));
        if (bad != std::string_view::npos)
            throw ImportError("Die Datei " + Quoted(name) + " ist als UTF-8 gekennzeichnet, Zeile " +
                              GroupedNumber(LineAt(std::string_view(bytes).substr(3), bad)) +
                              " enthält aber ungültige Bytes.");
        bytes.erase(0, 3);
        decoded.text = std::move(bytes);
        decoded.encoding = "UTF-8 mit BOM";
    } else if (text::IsValidUtf8(bytes)) {
        decoded.text = std::move(bytes);
        decoded.encoding = "UTF-8";
    } else {
        if (bytes.find('\0') != std::string::npos)
            RefuseControls(bytes, name);
        decoded.text = text::Windows1252ToUtf8(bytes);
        decoded.encoding = "Windows-1252";
    }
    RefuseControls(decoded.text, name);
    return decoded;
}

} // namespace retrieval
