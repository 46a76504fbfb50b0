// The stored line-list reader and the hidden text buffers' line rules.
#include "app/contract/LineBuffer.h"
#include "storage/Files.h"
#include "text/Utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Every stored line comes back as UTF-8 without a line feed, and what is written reads back.
    const auto lines = storage::DecodeFileLines(bytes);
    for (const auto& line : lines)
        if (!text::IsValidUtf8(line) || line.find('\n') != std::string::npos)
            std::abort();
    // (A first line that starts with U+FEFF loses it as a byte order mark when read again.)
    const bool markFirst = !lines.empty() && lines[0].starts_with("\xEF\xBB\xBF");
    if (!markFirst && storage::DecodeFileLines(storage::JoinCrLf(lines)) != lines)
        std::abort();

    // A buffer set as text holds the same lines as one that took its text back.
    toolkit::LineBuffer buffer;
    buffer.setText(bytes);
    const std::size_t count = buffer.count();
    toolkit::LineBuffer copy;
    copy.setText(buffer.text());
    if (copy.lines() != buffer.lines() || buffer.lines().size() != count)
        std::abort();
    return 0;
}
