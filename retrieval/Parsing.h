#pragma once
// Turning a service answer into backlink records: tag splitting, line rules, fixed offsets.

#include <string>
#include <string_view>
#include <vector>

namespace retrieval {

enum class Service { Seokicks, Xovi };

using Record = std::vector<std::string>; // cells for columns 1..4 (SEOkicks) or 1..2 (XOVI)

std::string SplitTags(std::string_view text);
// Lines split at CR LF only; the views point into `text`, which must outlive them.
std::vector<std::string_view> Lines(std::string_view text);
std::vector<Record> ExtractRecords(const std::vector<std::string_view>& lines, Service service);
std::vector<std::string> Headers(Service service);

} // namespace retrieval
