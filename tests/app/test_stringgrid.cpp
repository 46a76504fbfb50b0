#include "FormFixture.h"
#include "app/TableModel.h"
#include "table/BacklinkTable.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QHelpEvent>
#include <QImage>
#include <QItemSelection>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <functional>
#include <set>

using app::TForm1;
using StringGrid = FormFixture;

namespace {

const std::vector<std::string> kSeokicksHeaders{"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"};

// What the view shows of cell (col, row) of the table: fixed cells come from the headers.
QString shown(const app::StringGrid& grid, int col, int row) {
    const QAbstractItemModel* model = grid.model();
    if (row == 0 && col == 0)
        return grid.backlinkModel()->cornerText();
    if (row == 0)
        return model->headerData(col - 1, Qt::Horizontal, Qt::DisplayRole).toString();
    if (col == 0)
        return model->headerData(row - 1, Qt::Vertical, Qt::DisplayRole).toString();
    return model->index(row - 1, col - 1).data().toString();
}

// The view shows every cell of the table, each column as wide as the table says.
void ExpectInStep(const app::StringGrid& grid, const table::BacklinkTable& table) {
    ASSERT_EQ(grid.model()->rowCount(), table.RowCount() - 1);
    ASSERT_EQ(grid.model()->columnCount(), table.ColCount() - 1);
    for (int row = 0; row < table.RowCount(); ++row)
        for (int col = 0; col < table.ColCount(); ++col)
            EXPECT_EQ(shown(grid, col, row), app::QtText(table.GetCell(col, row))) << col << "," << row;
    EXPECT_EQ(grid.verticalHeader()->width(), table.ColWidth(0));
    for (int col = 1; col < table.ColCount(); ++col)
        EXPECT_EQ(grid.horizontalHeader()->sectionSize(col - 1), table.ColWidth(col)) << col;
}

} // namespace

TEST_F(StringGrid, StartsWithFiveByFiveEmptyCellsOfWidth64) {
    TForm1& form = makeForm();
    app::StringGrid* grid = form.findChild<app::StringGrid*>("StringGrid1");
    ASSERT_EQ(grid, form.StringGrid1);
    ExpectInStep(*grid, form.table());
    EXPECT_EQ(grid->verticalHeader()->width(), 64);
    EXPECT_EQ(grid->currentIndex(), grid->model()->index(0, 0));
    EXPECT_EQ(grid->font().pixelSize(), 11);
}

TEST_F(StringGrid, CellsCannotBeEditedAndSelectingOneSetsTheCurrentCell) {
    TForm1& form = makeForm();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    app::StringGrid* grid = form.StringGrid1;
    const QModelIndex cell = grid->model()->index(2, 3);
    EXPECT_FALSE(grid->model()->flags(cell).testFlag(Qt::ItemIsEditable));

    const QPoint centre = grid->visualRect(cell).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_EQ(form.table().Col(), 4);
    EXPECT_EQ(form.table().Row(), 3);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, centre);
    QTest::keyClick(grid, Qt::Key_F2);
    EXPECT_EQ(grid->viewport()->findChild<QLineEdit*>(), nullptr);

    QTest::keyClick(grid, Qt::Key_Left);
    EXPECT_EQ(form.table().Col(), 3);
}

TEST_F(StringGrid, FollowsRecordsHeadersWidthsAndResets) {
    TForm1& form = makeForm();
    app::StringGrid* grid = form.StringGrid1;
    table::BacklinkTable& table = form.table();

    table.ResetWithHeaders(kSeokicksHeaders);
    table.AppendRecord(
        {"https://a.example/some/long/path/page.html", "Anker", "follow", "https://b.example/"});
    table.AppendRecord({"https://c.example/", "Anker <b>zwei</b>", "nofollow", "https://b.example/"});
    table.FitColumnWidths(40);

    ExpectInStep(*grid, table);
    EXPECT_EQ(shown(*grid, 0, 0), QStringLiteral("Nr."));
    EXPECT_EQ(shown(*grid, 0, 3), QStringLiteral("3"));
    // Widths come from the table, which measures in the grid's own font.
    EXPECT_EQ(grid->horizontalHeader()->sectionSize(0),
              QFontMetrics(grid->font()).horizontalAdvance("https://a.example/some/long/path/page.html") + 6);

    // A later, narrower XOVI result: fewer columns, no trace of the old ones, widths kept in step.
    table.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext"});
    table.AppendRecord({"https://x.example/", "x"});
    table.FitColumnWidths(40);
    ExpectInStep(*grid, table);
    EXPECT_EQ(grid->model()->columnCount(), 2);
    EXPECT_EQ(shown(*grid, 1, 2), QStringLiteral("https://x.example/"));
}

TEST_F(StringGrid, ShowsCellsWrittenAheadOnceTheCountGrowsAndRepaintsChangedCells) {
    TForm1& form = makeForm();
    app::StringGrid* grid = form.StringGrid1;
    table::BacklinkTable& table = form.table();

    table.SetCell(2, 9, "ahead");
    table.SetCell(6, 0, "Status");
    EXPECT_EQ(grid->model()->rowCount(), 4);
    table.SetRowCount(10);
    table.SetColCount(7);
    EXPECT_EQ(grid->model()->rowCount(), 9);
    EXPECT_EQ(grid->model()->columnCount(), 6);
    EXPECT_EQ(shown(*grid, 2, 9), QStringLiteral("ahead"));
    EXPECT_EQ(shown(*grid, 6, 0), QStringLiteral("Status"));
    EXPECT_EQ(grid->horizontalHeader()->sectionSize(5), 64);

    QSignalSpy cells(grid->model(), &QAbstractItemModel::dataChanged);
    QSignalSpy headers(grid->model(), &QAbstractItemModel::headerDataChanged);
    table.SetCell(3, 4, "gefunden");
    table.SetCell(0, 4, "4");
    ASSERT_EQ(cells.size(), 1);
    EXPECT_EQ(cells[0][0].toModelIndex(), grid->model()->index(3, 2));
    ASSERT_EQ(headers.size(), 1);
    EXPECT_EQ(headers[0][0].value<Qt::Orientation>(), Qt::Vertical);
    EXPECT_EQ(headers[0][1].toInt(), 3);

    table.SetRowCount(3);
    EXPECT_EQ(grid->model()->rowCount(), 2);
}

TEST_F(StringGrid, HoldsAHundredThousandRows) {
    TForm1& form = makeForm();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    table::BacklinkTable& table = form.table();
    table.ResetWithHeaders(kSeokicksHeaders);
    constexpr int kRecords = 100000;
    for (int i = 0; i < kRecords; ++i) {
        table.AppendRecord({"https://linking.example/page/" + std::to_string(i), "Anker " + std::to_string(i),
                            "follow", "https://target.example/"});
        table.FitColumnWidths(40);
        if (i % 1000 == 0)
            QApplication::processEvents();
    }
    QApplication::processEvents();
    app::StringGrid* grid = form.StringGrid1;
    EXPECT_EQ(grid->model()->rowCount(), kRecords + 1);
    EXPECT_EQ(shown(*grid, 0, kRecords + 1), QString::number(kRecords + 1));
    EXPECT_EQ(shown(*grid, 1, kRecords + 1),
              QStringLiteral("https://linking.example/page/%1").arg(kRecords - 1));
    EXPECT_EQ(grid->verticalHeader()->width(), table.ColWidth(0));
    EXPECT_GT(table.ColWidth(0), 40);
    grid->scrollToBottom();
    QApplication::processEvents();
    EXPECT_EQ(grid->rowAt(grid->viewport()->height() - 2), kRecords);
}

// Ctrl+C and the context menu copy the selection; a double-click or "Link öffnen" opens only
// http and https addresses of the two address columns, through the hook instead of a browser,
// also those a browser would encode first; an address that cannot be read has its own message.
TEST_F(StringGrid, CopiesTheSelectionAndOpensOnlyWebAddresses) {
    std::vector<QUrl> opened;
    app::UrlOpener::setHook([&opened](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    TForm1& form = makeForm();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    table::BacklinkTable& t = form.table();
    t.ResetWithHeaders(kSeokicksHeaders);
    t.AppendRecord({"http://a.example/x", "Anker\tmit Tab", "1",
                    "https://m\xC3\xBC"
                    "ller.example/"});
    t.AppendRecord(
        {"mailto:info@a.example", "\t=HYPERLINK(\"http://attacker.test/\")", "-5", "javascript:alert(1)"});
    t.AppendRecord({"http://a.example/a b|c{d}%", "C", "1", "http://exa mple.example/"});
    t.FitColumnWidths(40);
    app::StringGrid* grid = form.StringGrid1;
    const auto cell = [grid](int col, int row) { return grid->model()->index(row - 1, col - 1); };

    grid->selectionModel()->select(QItemSelection(cell(1, 2), cell(3, 3)),
                                   QItemSelectionModel::ClearAndSelect);
    QApplication::clipboard()->clear();
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    // A cell a spreadsheet would run as a formula stays text.
    const QString copied = "http://a.example/x\tAnker mit Tab\t1\nmailto:info@a.example\t' "
                           "=HYPERLINK(\"http://attacker.test/\")\t'-5";
    EXPECT_EQ(QApplication::clipboard()->text(), copied);
    QApplication::clipboard()->clear();
    std::unique_ptr<QMenu> menu = grid->contextMenuFor(cell(2, 2));
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), "Kopieren");
    EXPECT_EQ(menu->actions()[1]->text(), QString::fromUtf8("Link öffnen"));
    EXPECT_FALSE(menu->actions()[1]->isEnabled()) << "no address column";
    menu->actions()[0]->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), copied);

    const struct {
        int col, row;
        bool byMenu;
        const char* opens;   // null: nothing opened
        const char* refusal; // null: no message
    } cases[] = {{1, 2, false, "http://a.example/x", nullptr},
                 {4, 2, true, "https://xn--mller-kva.example/", nullptr},
                 {1, 3, false, nullptr, "Nur http- und https-Adressen lassen sich öffnen."},
                 {4, 3, true, nullptr, "Nur http- und https-Adressen lassen sich öffnen."},
                 {2, 2, false, nullptr, nullptr},
                 {1, 4, true, "http://a.example/a%20b%7Cc%7Bd%7D%25", nullptr},
                 {4, 4, false, nullptr,
                  "Die Adresse ist ungültig und kann nicht geöffnet werden: http://exa mple.example/"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.col) + "," + std::to_string(c.row));
        opened.clear();
        boxes_.clear();
        if (c.byMenu) {
            menu = grid->contextMenuFor(cell(c.col, c.row));
            ASSERT_TRUE(menu->actions()[1]->isEnabled());
            menu->actions()[1]->trigger();
        } else {
            grid->scrollTo(cell(c.col, c.row));
            // A widget gets press, release, then the double-click itself.
            const QPoint centre = grid->visualRect(cell(c.col, c.row)).center();
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre);
            QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, centre);
        }
        std::vector<std::string> urls;
        for (const QUrl& url : opened)
            urls.push_back(url.toString(QUrl::FullyEncoded).toStdString());
        EXPECT_EQ(urls, c.opens ? std::vector<std::string>{c.opens} : std::vector<std::string>{});
        std::vector<std::string> messages;
        for (const ShownBox& box : boxes_)
            messages.push_back(box.text);
        EXPECT_EQ(messages, c.refusal ? std::vector<std::string>{c.refusal} : std::vector<std::string>{});
    }
    EXPECT_EQ(form.menuBar()->actions().size(), 2) << "Datei and the hidden Tools menu only";
    app::UrlOpener::setHook(nullptr);
}

// Page text reaches the user as written on every surface, never as markup: an <img> in an anchor
// text must not make Qt load a local file when the user hovers the status cell.
TEST_F(StringGrid, ShowsOutsideTextAsWrittenOnEverySurface) {
    TForm1& form = makeForm();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QString picture = dir_.path() + "/bild.png";
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(picture));
    const QString hostile = QString::fromUtf8("gefunden \u2013 Ankertext \u201E<img src=\"") + picture +
                            QString::fromUtf8("\"> <b>x</b> &amp; a[*]b\u201C\nzweite Zeile");
    app::StringGrid* grid = form.StringGrid1;
    table::BacklinkTable& t = form.table();
    t.ResetWithHeaders(kSeokicksHeaders);
    t.AppendRecord({"https://a.example/", "Anker", "follow", "https://b.example/"});

    // Shows the text in a modal box as the program does and returns what the box shows.
    const auto boxText = [](const std::function<void()>& open) {
        app::QtMessageBox::setHook(nullptr);
        QString shown;
        QTimer::singleShot(0, [&shown] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            shown = Rendered(label->text(), label->textFormat());
            box->done(0);
        });
        open();
        return shown;
    };
    const QString oneLine = QString(hostile).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const struct {
        const char* surface;
        QString text;
        std::function<QString(const QString&)> show; // returns what the user sees
    } cases[] = {
        {"tooltip of a cell on hover", hostile,
         [&](const QString& text) {
             t.SetCellNote(3, 1, text.toStdString());
             const QRect cell = grid->visualRect(grid->model()->index(0, 2));
             QHelpEvent hover(QEvent::ToolTip, cell.center(), grid->viewport()->mapToGlobal(cell.center()));
             QApplication::sendEvent(grid->viewport(), &hover);
             const QString tip = QToolTip::isVisible() ? Rendered(QToolTip::text()) : QString();
             QToolTip::hideText();
             return tip;
         }},
        {"message box", hostile,
         [&](const QString& text) { return boxText([&] { form.window().box.showMessage(text.toStdString()); }); }},
        {"error box", hostile,
         [&](const QString& text) { return boxText([&] { form.window().box.showError(text.toStdString()); }); }},
        {"window caption", oneLine,
         [&](const QString& text) {
             form.window().fields.setCaption(text.toStdString());
             return form.windowHandle()->title();
         }},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.show(c.text), c.text) << c.surface;
}

// A status tint keeps its text and the corner marker readable in a light and a dark colour
// scheme, switched while the window is open, and so do the loss and new-row markers of the number
// column against the header: measured on the pixels the grid paints.
TEST_F(StringGrid, MarkedCellsStayReadableInLightAndDarkSchemes) {
    TForm1& form = makeForm();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    table::BacklinkTable& t = form.table();
    t.ResetWithHeaders({"Nr.", "Status"});
    using table::CellMark;
    const CellMark marks[] = {CellMark::Found, CellMark::FoundWeak, CellMark::NotFound, CellMark::Failed};
    for (const CellMark mark : marks) {
        t.AppendRecord({"\u2588\u2588\u2588\u2588"}); // full blocks: text pixels without anti-aliasing
        t.SetCellMark(1, t.RowCount() - 1, mark);
    }
    const int firstRow = t.RowCount() - 1 - 4; // of the view
    const CellMark rowMarks[] = {CellMark::RowLoss, CellMark::RowNew, CellMark::None};
    for (const CellMark mark : rowMarks) {
        t.AppendRecord({""});
        t.SetCellMark(0, t.RowCount() - 1, mark);
    }
    t.FitColumnWidths(40);
    app::StringGrid* grid = form.StringGrid1;
    grid->setCurrentIndex({});
    grid->clearSelection();

    const auto scheme = [](QColor base, QColor text) {
        QPalette palette = QApplication::palette();
        for (const auto role : {QPalette::Base, QPalette::Window, QPalette::Button})
            palette.setColor(role, base);
        for (const auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
            palette.setColor(role, text);
        return palette;
    };
    const struct {
        const char* name;
        QPalette palette;
    } schemes[] = {{"dark", scheme(QColor(0x1E, 0x1E, 0x1E), QColor(0xE0, 0xE0, 0xE0))},
                   {"light", scheme(Qt::white, Qt::black)}};
    for (const auto& s : schemes) {
        form.setPalette(s.palette);
        QApplication::processEvents();
        std::set<QRgb> tints;
        for (int row = 0; row < 4; ++row) {
            SCOPED_TRACE(std::string(s.name) + " scheme, mark " + std::to_string(static_cast<int>(marks[row])));
            const QModelIndex cell = grid->model()->index(firstRow + row, 0);
            const QImage image = grid->viewport()->grab(grid->visualRect(cell)).toImage();
            const QColor background = image.pixelColor(0, 0);
            EXPECT_EQ(background, cell.data(Qt::BackgroundRole).value<QColor>());
            double text = 1;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width() - 12; ++x) // left of the corner marker
                    text = std::max(text, Contrast(image.pixelColor(x, y), background));
            EXPECT_GE(text, 4.5);
            if (marks[row] == CellMark::FoundWeak) {
                EXPECT_GE(Contrast(image.pixelColor(image.width() - 2, 1), background), 4.5) << "corner";
            }
            tints.insert(background.rgb());
        }
        // The marker: the strongest colour left of the number against the header beside it.
        std::vector<QColor> markers;
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(std::string(s.name) + " scheme, row marker " + std::to_string(i));
            QHeaderView* header = grid->verticalHeader();
            const int row = firstRow + 4 + i;
            const QImage image = header->viewport()
                                     ->grab(QRect(0, header->sectionViewportPosition(row), header->width(),
                                                  header->sectionSize(row)))
                                     .toImage();
            const int middle = image.height() / 2;
            const QColor background = image.pixelColor(image.width() - 4, middle);
            QColor marker = background;
            for (int x = 0; x < 10; ++x)
                if (Contrast(image.pixelColor(x, middle), background) > Contrast(marker, background))
                    marker = image.pixelColor(x, middle);
            if (rowMarks[i] == CellMark::None) {
                for (int x = 0; x < 10; ++x)
                    for (const QColor& seen : markers)
                        EXPECT_NE(image.pixelColor(x, middle), seen) << "no marker without a mark";
                continue;
            }
            EXPECT_GE(Contrast(marker, background), 3.0);
            EXPECT_EQ(tints.count(marker.rgb()), 0u) << "unlike the status tints";
            markers.push_back(marker);
        }
        ASSERT_EQ(markers.size(), 2u);
        EXPECT_NE(markers[0], markers[1]) << "loss and new rows apart";
    }
}
