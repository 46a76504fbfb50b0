// Datei > Verlauf…: the runs stored for the domain in the field, their comparison and its file.
#include "FormFixture.h"
#include "app/HistoryWindow.h"
#include "storage/History.h"

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QTableWidget>

using Strings = std::vector<std::string>;

namespace {

const std::string kKey = "xn--mller-kva.example";

storage::PageRow Row(std::string url, std::string status, std::optional<std::int64_t> links,
                     std::int64_t follow, std::int64_t http = 200) {
    storage::PageRow row;
    row.url = std::move(url);
    row.status = std::move(status);
    row.httpStatus = http;
    row.linkCount = links;
    row.followCount = links ? std::optional<std::int64_t>(follow) : std::nullopt;
    return row;
}

Strings TableRow(const QTableWidget* table, int row) {
    Strings cells;
    for (int col = 0; col < table->columnCount(); ++col)
        cells.push_back(table->item(row, col) ? table->item(row, col)->text().toStdString() : "");
    return cells;
}

class HistoryWindowTest : public FormFixture {
protected:
    app::HistoryWindow* openHistory(app::TForm1& form) {
        form.Domainname->setEditText(QString::fromUtf8("müller.example"));
        form.Verlauf1->trigger();
        return form.findChild<app::HistoryWindow*>();
    }
};

} // namespace

TEST_F(HistoryWindowTest, ListsTheStoredRunsAndComparesAndSavesTwoOfThem) {
    const std::time_t first = 1'800'000'000;
    const std::time_t second = first + 7 * 86400;
    {
        storage::History::Opened opened = storage::History::Open(folder_);
        ASSERT_TRUE(opened.history) << opened.fault.reason;
        storage::History& h = *opened.history;
        ASSERT_FALSE(
            h.StoreCheck({first - 60, "müller.example", kKey, "SEOkicks", "100", {"Nr.", "Link-URL"}, {}}));
        const auto store = [&](std::time_t time, const std::vector<storage::PageRow>& rows) {
            const auto run = h.BeginCrossCheck(time, "müller.example", kKey);
            ASSERT_FALSE(run.fault);
            ASSERT_FALSE(h.AddCrossRows(run.value, 0, rows));
            ASSERT_FALSE(h.FinishCrossCheck(run.value));
        };
        store(first, {Row("http://a.example/", "gefunden", 2, 2), Row("http://b.example/", "gefunden", 1, 1),
                      Row("http://c.example/", "nicht gefunden", 0, 0)});
        store(second, {Row("http://a.example/", "gefunden", 2, 2), Row("http://b.example/", "gefunden", 1, 0),
                       Row("http://d.example/", "Fehler", std::nullopt, 0, 403)});
        // Begun, never finished: listed, but neither plotted nor offered for a comparison.
        ASSERT_FALSE(h.BeginCrossCheck(second + 60, "müller.example", kKey).fault);
    }
    app::TForm1& form = makeForm();
    app::HistoryWindow* window = openHistory(form);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->Meldung->isVisible());

    const std::string firstDate = storage::RunTimeText(first);
    const std::string secondDate = storage::RunTimeText(second);
    ASSERT_EQ(window->Laeufe->rowCount(), 3);
    EXPECT_EQ(TableRow(window->Laeufe, 0), (Strings{firstDate, "SEOkicks", "3", "2", "1", "0", "3", "0"}));
    EXPECT_EQ(TableRow(window->Laeufe, 1), (Strings{secondDate, "SEOkicks", "3", "2", "0", "1", "2", "1"}));
    EXPECT_EQ(TableRow(window->Laeufe, 2)[0], storage::RunTimeText(second + 60) + " (abgebrochen)");
    EXPECT_EQ(window->Verlaufskurve->series(),
              (std::vector<retrieval::PlotPoint>{{first, 3, 2}, {second, 2, 2}}));
    EXPECT_EQ(window->VergleichMit->count(), 2);
    // Both lines are drawn, and stand out from the plot's background in a light and a dark scheme.
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        QPalette palette = window->palette();
        palette.setColor(QPalette::Base, dark ? QColor(0x1E, 0x1E, 0x1E) : QColor(Qt::white));
        palette.setColor(QPalette::Text, dark ? QColor(0xE0, 0xE0, 0xE0) : QColor(Qt::black));
        window->Verlaufskurve->setPalette(palette);
        const QImage plot = window->Verlaufskurve->grab().toImage();
        std::set<QRgb> colours;
        for (int y = 0; y < plot.height(); ++y)
            for (int x = 0; x < plot.width(); ++x)
                colours.insert(plot.pixel(x, y));
        for (const QColor& line :
             {window->Verlaufskurve->followColour(), window->Verlaufskurve->linkingColour()}) {
            EXPECT_EQ(colours.count(line.rgb()), 1u) << line.name().toStdString();
            EXPECT_GE(Contrast(line, palette.color(QPalette::Base)), 3.0) << line.name().toStdString();
        }
        EXPECT_EQ(colours.count(palette.color(QPalette::Text).rgb()), 1u) << "axes and dates";
    }

    // The last two finished runs are compared at once, as the changes report would.
    const Strings expected[] = {
        {"http://b.example/", "nofollow geworden", "gefunden; 1 Link, follow",
         "gefunden; 1 Link, kein follow", firstDate},
        {"http://d.example/", "neu", "", "Fehler", ""},
        {"http://c.example/", "nicht mehr gelistet", "nicht gefunden; kein Link", "", firstDate}};
    ASSERT_EQ(window->Vergleich->rowCount(), 3);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(TableRow(window->Vergleich, row), expected[row]);
    EXPECT_EQ(window->VergleichZeile->text().toStdString(),
              "Seit der Prüfung vom " + firstDate + ": 1 nofollow geworden, 1 nicht mehr gelistet, 1 neu");

    const QString target = QDir(dir_.path()).filePath(QStringLiteral("vergleich.csv"));
    app::HistoryWindow::setPathHook([&](QWidget*, const QString&) { return target; });
    QTest::mouseClick(window->Speichern, Qt::LeftButton);
    app::HistoryWindow::setPathHook(nullptr);
    EXPECT_EQ(readFile("vergleich.csv"),
              "Link-URL,Änderung,vorher,jetzt,Datum der vorherigen Prüfung\r\n"
              "http://b.example/,nofollow geworden,\"gefunden; 1 Link, follow\",\"gefunden; 1 Link, kein "
              "follow\"," +
                  firstDate +
                  "\r\n"
                  "http://d.example/,neu,,Fehler,\r\n"
                  "http://c.example/,nicht mehr gelistet,nicht gefunden; kein Link,," +
                  firstDate + "\r\n");

    // The same run twice is no comparison.
    window->VergleichVon->setCurrentIndex(1);
    window->compareChosen();
    EXPECT_EQ(window->Vergleich->rowCount(), 0);
    EXPECT_FALSE(window->Speichern->isEnabled());
    EXPECT_TRUE(boxes_.empty());
}

// A history that cannot be read is told inside the window, as plain text.
TEST_F(HistoryWindowTest, UnreadableHistoryIsToldInTheWindow) {
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("halmfang.db")));
    app::TForm1& form = makeForm();
    app::HistoryWindow* window = openHistory(form);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->Meldung->isVisible());
    EXPECT_EQ(window->Meldung->textFormat(), Qt::PlainText);
    EXPECT_TRUE(Contains(window->Meldung->text().toStdString(), "Der Verlauf konnte nicht gelesen werden: "));
    EXPECT_EQ(window->Laeufe->rowCount(), 0);
    EXPECT_FALSE(window->Speichern->isEnabled());
    EXPECT_TRUE(boxes_.empty());
}
