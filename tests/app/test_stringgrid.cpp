#include "FormFixture.h"
#include "app/TableModel.h"
#include "table/BacklinkTable.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QItemSelection>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

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
            EXPECT_EQ(shown(grid, col, row), app::ToQString(table.GetCell(col, row))) << col << "," << row;
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
// http and https addresses of the two address columns, through the hook instead of a browser.
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
        const char* opens; // null: nothing opened
        bool refused;
    } cases[] = {{1, 2, false, "http://a.example/x", false},
                 {4, 2, true, "https://xn--mller-kva.example/", false},
                 {1, 3, false, nullptr, true},
                 {4, 3, true, nullptr, true},
                 {2, 2, false, nullptr, false}};
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
        EXPECT_EQ(messages, c.refused
                                ? std::vector<std::string>{"Nur http- und https-Adressen lassen sich öffnen."}
                                : std::vector<std::string>{});
    }
    EXPECT_EQ(form.menuBar()->actions().size(), 2) << "Datei and the hidden Tools menu only";
    app::UrlOpener::setHook(nullptr);
}
