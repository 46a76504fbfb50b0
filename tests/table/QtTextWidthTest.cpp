// clang-format off
#include <QWidget> // app/QtToolkit.h needs the full type for its QPointer<QWidget>
#include "app/QtToolkit.h"
// clang-format on

#include <gtest/gtest.h>
#include <string>

namespace {

TEST(QtTextWidth, GridFontGivesPositiveGrowingWidths) {
    const app::QtTextWidth measure;
    EXPECT_EQ(measure.width(""), 0);

    const std::string url = "http://www.beispiel-seite.example/ratgeber/gartenmöbel?seite=2&sort=preis";
    std::int32_t previous = 0;
    for (std::size_t length = 1; length <= url.size(); ++length) {
        // Cut only between whole UTF-8 characters.
        if (length < url.size() && (static_cast<unsigned char>(url[length]) & 0xC0) == 0x80)
            continue;
        const std::int32_t width = measure.width(std::string_view(url).substr(0, length));
        ASSERT_GT(width, 0) << length;
        ASSERT_GE(width, previous) << length;
        previous = width;
    }
    EXPECT_GT(previous, measure.width("http://www.beispiel-seite.example/"));
    EXPECT_GT(measure.width("Ü"), 0);
    EXPECT_GT(measure.width(std::string(12000, 'W')), 65535) << "no 16-bit width on the way";
}

} // namespace
