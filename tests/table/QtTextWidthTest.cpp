// clang-format off
#include <QWidget> // app/QtToolkit.h needs the full type for its QPointer<QWidget>
#include "app/QtToolkit.h"
// clang-format on

#include <QFontMetrics>
#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace {

std::string Utf8(char32_t c) {
    const QString text = QString::fromUcs4(&c, 1);
    return text.toStdString();
}

// Qt's own measure in the grid's font without kerning. The font may join f with f, i or l into
// one glyph; the measure sums advances and joins nothing, by design. A zero-width non-joiner after
// such an f keeps Qt from joining them too.
std::int32_t QtWithoutKerning(std::string text) {
    for (std::size_t at = text.find('f'); at != std::string::npos; at = text.find('f', at + 1))
        if (at + 1 < text.size() && (text[at + 1] == 'f' || text[at + 1] == 'i' || text[at + 1] == 'l'))
            text.insert(at + 1, "\u200C");
    QFont font = app::GridFont();
    font.setKerning(false);
    return QFontMetrics(font).horizontalAdvance(app::QtText(text));
}

TEST(QtTextWidth, EqualsQtWithoutKerning) {
    const app::QtTextWidth measure;
    // The shaped texts carry no f before f, i or l, so the non-joiner changes nothing for them.
    const std::string corpus[] = {
        "", // summed
        "http://www.beispiel-seite.example/ratgeber/gartenmöbel?seite=2&sort=preis#oben",
        "https://blog.seite-31337.example.org/2019/7/beitrag-4711-garten-und-terrasse.html",
        "https://www.beispiel-shop.example/lounge/sofa-set-malaga-4-teilig.html?ref=blog&amp;utm=1",
        "http://xn--grtnerei-lfa.example/%C3%B6ffnungszeiten/~team/index.php?id=7;x=[1]|{2}",
        "Gartenmöbel günstig kaufen – Übersicht & Preise",
        "Ratgeber: Terrassenplatten richtig verlegen … jetzt öffnen!",
        "Öffnungszeiten der Gärtnerei Weiß, Straße 12 • 5 % Rabatt",
        "„Auflage“ ‚Stofffarben‘ »Kaffeefilter« ‹finden› \"zitiert\" 'einfach'",
        "Kaffee, Stoffe, Griffe, Treffen, offen, hoffen, Affen, Waffeln, Löffel, Schiffe", // joins differ
        "Preis: 1.299,– € (inkl. 19 % MwSt.) ± 2 ™ ® © № ½ → ← ↑ ‰ † ‡ ′ ″",
        "ÀÁÂÃÄÅÆÇÈÉÊËÌÍÎÏÐÑÒÓÔÕÖ×ØÙÚÛÜÝÞß àáâãäåæçèéêëìíîïðñòóôõö÷øùúûüýþÿ ŁłŒœŠšŸŽžƒ ˆ˜",
        "Tipp 👍 zum Garten 🌻",                                      // shaped: beyond the table
        "Cafe\u0301 und Me\u0308bel",                               // shaped: combining marks
        "Garten\u00ADmöbel",                                        // shaped: soft hyphen
        "˥˩˧ Tonbuchstaben",                                        // shaped: fonts join tone letters
        "Bahn\tHof\x01\u0085",                                      // shaped: controls
        "Zwischen\u200Braum \u202Elinks\u202C",                     // shaped: format characters
        "مرحبا بالعالم und Hebräisch שלום",                         // shaped: right to left
        "Привет, Ελλάδα, ภาษาไทย, हिन्दी",                           // shaped: beyond the rule
        "kaputt \xC3 \xE2\x82 \xC0\xAF \xED\xA0\x80 \xF0\x9F \xFF", // shaped: invalid UTF-8 as Qt shows it
        "http://seite.example/" + std::string(2000, 'w') + "/ende", // the 1/64 px add up
    };
    for (const std::string& text : corpus)
        EXPECT_EQ(measure.width(text), QtWithoutKerning(text)) << text;

    // Every character of the rule alone, and its neighbours outside it.
    for (const auto& [from, to] : {std::pair<char32_t, char32_t>{0x20, 0x400}, {0x2000, 0x2200}})
        for (char32_t c = from; c < to; ++c)
            EXPECT_EQ(measure.width(Utf8(c)), QtWithoutKerning(Utf8(c)))
                << "U+" << std::hex << std::uint32_t(c);
}

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
