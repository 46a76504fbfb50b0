#pragma once
// The toolkit contract implemented over Qt.

#include "app/contract/Toolkit.h"

#include <QFont>
#include <QFontMetrics>

namespace app {

// Tahoma at pixel size 11, plain. Where Tahoma is missing Qt substitutes a font, and the
// metrics below then measure in the font the grid really uses.
QFont GridFont();

class QtTextWidth final : public toolkit::TextWidth {
public:
    explicit QtTextWidth(const QFont& font = GridFont()) : metrics_(font) {}
    std::int32_t width(std::string_view text) const override;

private:
    QFontMetrics metrics_;
};

} // namespace app
