// Tag splitting and record extraction on any answer text.
#include "retrieval/Parsing.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view answer(reinterpret_cast<const char*>(data), size);
    const std::string split = retrieval::SplitTags(answer);
    const auto brackets = static_cast<std::size_t>(
        std::count_if(answer.begin(), answer.end(), [](char c) { return c == '<' || c == '>'; }));
    if (split.size() != answer.size() + 2 * brackets)
        std::abort();
    const auto lines = retrieval::Lines(split);
    for (const auto service : {retrieval::Service::Seokicks, retrieval::Service::Xovi}) {
        const std::string_view tag = service == retrieval::Service::Seokicks ? "<url>" : "<linkingUrl>";
        const std::size_t cells = service == retrieval::Service::Seokicks ? 4 : 2;
        const auto records = retrieval::ExtractRecords(lines, service);
        if (records.size() != static_cast<std::size_t>(std::count(lines.begin(), lines.end(), tag)))
            std::abort();
        for (const auto& record : records)
            if (record.size() != cells)
                std::abort();
    }
    return 0;
}
