#include "app/QtToolkit.h"

#include <QString>

namespace app {

QFont GridFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    font.setBold(false);
    font.setItalic(false);
    return font;
}

std::int32_t QtTextWidth::width(std::string_view text) const {
    return metrics_.horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

} // namespace app
