#pragma once
// 6 px per UTF-8 byte unless a text is given its own width; counts how often each text is measured.

#include "app/contract/Toolkit.h"

#include <map>
#include <string>

namespace tabletest {

class FakeTextWidth final : public toolkit::TextWidth {
public:
    static constexpr std::int32_t kPerByte = 6;

    std::int32_t width(std::string_view text) const override {
        ++measured[std::string(text)];
        const auto it = fixed.find(std::string(text));
        return it != fixed.end() ? it->second : static_cast<std::int32_t>(text.size()) * kPerByte;
    }

    std::map<std::string, std::int32_t> fixed;
    mutable std::map<std::string, int> measured;
};

} // namespace tabletest
