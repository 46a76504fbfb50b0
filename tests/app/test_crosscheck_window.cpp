// "Prüfe" and the filter items of the Tools menu through the window, with loopback servers for
// the service and the linking pages. Every fetched page costs the full second of paced wait, so
// the tests keep to a few pages each.
#include "FormFixture.h"
#include "app/TableModel.h"
#include "storage/Reports.h"
#include "table/BacklinkTable.h"
#include "tests/support/LoopbackServer.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QComboBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <set>

using namespace std::chrono_literals;
using app::TForm1;
using testsupport::LoopbackServer;
using testsupport::Request;
using testsupport::Response;
using Rows = std::vector<std::vector<std::string>>;

namespace {

constexpr const char* kSeokicksPath = "/SEOkicksService/V1/inlinkData";
const std::string kTitle = "Quandrel Halmfang 0.1b";
const QString kDomain = QString::fromUtf8("müller.example");

Rows Cells(const table::BacklinkTable& t) {
    Rows rows;
    for (std::int32_t row = 0; row < t.RowCount(); ++row)
        rows.push_back(t.RowCells(row));
    return rows;
}

std::vector<std::string> Column(const table::BacklinkTable& t, std::int32_t col) {
    std::vector<std::string> cells;
    for (std::int32_t row = 0; row < t.RowCount(); ++row)
        cells.push_back(t.GetCell(col, row));
    return cells;
}

// A SEOkicks answer (details=2) listing these linking pages.
std::string SeokicksAnswer(const std::vector<std::string>& urls) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<inlinkdata>\n  <overview>\n"
                      "    <query>m\xC3\xBCller.example</query>\n    <details>2</details>\n"
                      "    <results>" +
                      std::to_string(urls.size()) +
                      "</results>\n    <page>1</page>\n    <totalinlinks>9</totalinlinks>\n"
                      "    <totaldomains>3</totaldomains>\n  </overview>\n  <inlinks>\n";
    for (const std::string& url : urls)
        out += "    <inlink>\n      <url>" + url +
               "</url>\n      <anchortext><![CDATA[M\xC3\xBCller]]></anchortext>\n"
               "      <follow>1</follow>\n      <linktype>text</linktype>\n"
               "      <target>http://m\xC3\xBCller.example/</target>\n      <domainpop>5</domainpop>\n"
               "      <pagetitle><![CDATA[Seite]]></pagetitle>\n      <ip>192.0.2.1</ip>\n"
               "      <firstseen>2024-01-01</firstseen>\n    </inlink>\n";
    return out + "  </inlinks>\n</inlinkdata>\n";
}

Response Page(std::string body, const char* contentType = "text/html; charset=utf-8") {
    Response r;
    r.body = std::move(body);
    r.headers.emplace_back("Content-Type", contentType);
    return r;
}

class CrossCheckWindow : public FormFixture {
protected:
    TForm1& makeWindow() {
        TForm1& form = makeForm();
        form.checkConnection.seokicksBase = service_.baseUrl() + kSeokicksPath + "?appid=";
        form.checkConnection.fetch.totalTimeout = 10s;
        form.pageFetch.caFile = testsupport::TestCertificateFile();
        form.pageFetch.connectTimeout = 3s;
        form.pageFetch.totalTimeout = 10s;
        form.seokicks->setText(QStringLiteral("sc-456"));
        form.Domainname->setEditText(kDomain);
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
        return form;
    }

    std::string pageUrl(const std::string& path) const { return pages_.baseUrl() + path; }

    void serveSeokicks(const std::vector<std::string>& urls) {
        const std::string answer = SeokicksAnswer(urls);
        service_.handle(kSeokicksPath, [answer](const Request&) { return Response::Text(answer); });
    }

    void runSeokicksCheck(TForm1& form) {
        QTest::mouseClick(form.RadioButton1, Qt::LeftButton);
        QTest::mouseClick(form.Button1, Qt::LeftButton);
        ASSERT_EQ(boxes_.size(), 1u);
        ASSERT_EQ(boxes_[0].text, "Report gespeichert");
        boxes_.clear();
    }

    static void clickPruefe(TForm1& form) { QTest::mouseClick(form.Button3, Qt::LeftButton); }

    // The cell as the user picks it, which makes its column the table's current one.
    static void clickCell(TForm1& form, std::int32_t col, std::int32_t row) {
        const QModelIndex index = form.StringGrid1->model()->index(row - 1, col - 1);
        form.StringGrid1->scrollTo(index);
        QTest::mouseClick(form.StringGrid1->viewport(), Qt::LeftButton, {},
                          form.StringGrid1->visualRect(index).center());
        ASSERT_EQ(form.table().Col(), col);
    }

    static QVariant tooltip(TForm1& form, std::int32_t col, std::int32_t row) {
        const QAbstractItemModel* model = form.StringGrid1->model();
        return model->data(model->index(row - 1, col - 1), Qt::ToolTipRole);
    }

    // Every file below the program folder, relative to it.
    std::set<std::string> files() const {
        std::set<std::string> names;
        QDirIterator it(dir_.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            names.insert(QDir(dir_.path()).relativeFilePath(it.next()).toStdString());
        return names;
    }

    static std::string backlinkReport(const char* extension) {
        return "reporting/backlinks/" + storage::DomainStamp(kDomain.toStdString()) + "_" +
               storage::DateStamp() + extension;
    }

    LoopbackServer service_{LoopbackServer::Scheme::Http};
    LoopbackServer pages_{LoopbackServer::Scheme::Http};
};

// A table as a cross-check leaves it, written directly: status column 3, two failures with notes.
void FillCheckedTable(table::BacklinkTable& t) {
    t.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext"});
    const char* const statuses[] = {"gefunden", "Fehler", "nicht gefunden", "gefunden", "Fehler", "gefunden"};
    for (int i = 0; i < 6; ++i)
        t.AppendRecord({"http://seite-" + std::to_string(i) + ".example/", "Anker " + std::to_string(i)});
    t.SetColCount(4);
    t.SetCell(3, 0, "Status");
    for (int i = 0; i < 6; ++i)
        t.SetCell(3, i + 2, statuses[i]);
    t.SetCellNote(3, 3, "HTTP-Status 404");
    t.SetCellNote(3, 6, "Zeitüberschreitung");
}

TEST_F(CrossCheckWindow, PruefeAfterACheckMarksEveryPageAndWritesTheReports) {
    pages_.handle("/gefunden", [](const Request&) {
        return Page("<p>Neu bei <a href=\"http://m\xC3\xBCller.example/\">M\xC3\xBCller</a></p>");
    });
    pages_.handle("/gross", [](const Request&) { return Page("<p>Mehr bei M\xC3\xBCller.example</p>"); });
    pages_.handle("/latin1", [](const Request&) {
        return Page("<p>Link: m\xFCller.example</p>", "text/html; charset=ISO-8859-1");
    });
    pages_.handle("/idn", [](const Request&) {
        return Page("<a href=\"http://www.xn--mller-kva.example/\">Shop</a>");
    });
    const std::vector<std::string> urls = {pageUrl("/gefunden"), pageUrl("/gross"), pageUrl("/weg"),
                                           pageUrl("/latin1"), pageUrl("/idn")};
    serveSeokicks(urls);
    TForm1& form = makeWindow();
    runSeokicksCheck(form);
    ASSERT_EQ(form.table().RowCount(), 7);
    ASSERT_EQ(form.table().ColCount(), 5);
    const Rows beforeRecords = Cells(form.table());

    QStringList captions;
    QObject::connect(&form, &QWidget::windowTitleChanged, [&](const QString& t) { captions << t; });
    bool checkedDuringWait = false;
    QTimer::singleShot(300, &form, [&] {
        checkedDuringWait = true;
        EXPECT_TRUE(form.busy());
        EXPECT_FALSE(form.Button1->isEnabled());
        EXPECT_FALSE(form.Button3->isEnabled());
        for (QAction* a :
             {form.BLgefunden1, form.BLnichtgefunden1, form.BLSpendertotFehler1, form.zurcksetzen1})
            EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
        // Neither a second command nor a filter starts while the first one waits.
        form.Button3Click();
        form.Button1Click();
        form.table().SetCurrentCell(5, 2);
        form.BLgefunden1Click();
        form.zurcksetzen1Click();
        EXPECT_FALSE(form.tableFilter().hasSnapshot());
        EXPECT_EQ(form.table().RowCount(), 7);
    });
    QElapsedTimer clock;
    clock.start();
    clickPruefe(form);
    const qint64 elapsed = clock.elapsed();

    EXPECT_TRUE(checkedDuringWait);
    EXPECT_GE(elapsed, 5000); // one second after each of the five fetches
    EXPECT_EQ(service_.requests().size(), 1u);
    std::vector<std::string> fetched;
    for (const Request& r : pages_.requests())
        fetched.push_back(r.path);
    EXPECT_EQ(fetched, (std::vector<std::string>{"/gefunden", "/gross", "/weg", "/latin1", "/idn"}));

    const table::BacklinkTable& t = form.table();
    ASSERT_EQ(t.ColCount(), 6);
    EXPECT_EQ(Column(t, 5), (std::vector<std::string>{"Status", "", "gefunden", "nicht gefunden", "Fehler",
                                                      "gefunden", "gefunden"}));
    for (std::int32_t row = 0; row < t.RowCount(); ++row) {
        std::vector<std::string> before = beforeRecords[static_cast<std::size_t>(row)];
        before.push_back(t.GetCell(5, row));
        EXPECT_EQ(t.RowCells(row), before) << "row " << row;
    }
    EXPECT_EQ(tooltip(form, 5, 4).toString(), QStringLiteral("HTTP-Status 404"));
    for (std::int32_t row : {2, 3, 5, 6})
        EXPECT_FALSE(tooltip(form, 5, row).isValid()) << "row " << row;
    EXPECT_EQ(form.Memo1.lines(), t.ColumnText(1));
    EXPECT_NE(form.Memo3.text().find("xn--mller-kva"), std::string::npos); // the last page tested

    QStringList expectedCaptions;
    for (const std::string& url : urls)
        expectedCaptions << QString::fromStdString(kTitle + " checke: " + url);
    expectedCaptions << QString::fromStdString(kTitle + " Gegenprüfung fertig gestellt ... ");
    EXPECT_EQ(captions, expectedCaptions);

    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].kind, app::QtMessageBox::Kind::Message);
    EXPECT_EQ(boxes_[0].text, "Report gespeichert");
    EXPECT_EQ(files().count(backlinkReport(".csv")), 1u);
    EXPECT_EQ(files().count(backlinkReport(".html")), 1u);
    const std::string csv = readFile(backlinkReport(".csv"));
    EXPECT_EQ(csv.rfind("Nr.,Link-URL,Ankertext,Follow,Ziel-URL,Status\r\n", 0), 0u) << csv;
    EXPECT_NE(csv.find(",\"nicht gefunden\"\r\n"), std::string::npos) << csv;
    // The reason of a failure stays in the window.
    EXPECT_EQ(csv.find("HTTP-Status"), std::string::npos);
    EXPECT_EQ(readFile(backlinkReport(".html")).find("HTTP-Status"), std::string::npos);

    EXPECT_FALSE(form.busy());
    EXPECT_TRUE(form.Button1->isEnabled());
    EXPECT_TRUE(form.Button3->isEnabled());
    EXPECT_TRUE(form.BLgefunden1->isEnabled());

    // The failed row keeps its reason through a filter and the reset.
    clickCell(form, 5, 4);
    form.BLSpendertotFehler1->trigger();
    ASSERT_EQ(t.RowCount(), 2);
    EXPECT_EQ(t.GetCell(0, 1), "4");
    EXPECT_EQ(t.GetCell(1, 1), pageUrl("/weg"));
    EXPECT_EQ(tooltip(form, 5, 1).toString(), QStringLiteral("HTTP-Status 404"));
    form.zurcksetzen1->trigger();
    EXPECT_EQ(t.RowCount(), 7);
    EXPECT_EQ(tooltip(form, 5, 4).toString(), QStringLiteral("HTTP-Status 404"));
    EXPECT_FALSE(tooltip(form, 5, 1).isValid());
}

TEST_F(CrossCheckWindow, UntouchedStartTableFetchesTheThreeEmptyUrlsAsFailures) {
    TForm1& form = makeWindow();
    clickPruefe(form);

    const table::BacklinkTable& t = form.table();
    EXPECT_EQ(t.ColCount(), 6);
    EXPECT_EQ(Column(t, 5), (std::vector<std::string>{"Status", "", "Fehler", "Fehler", "Fehler"}));
    for (std::int32_t row : {2, 3, 4})
        EXPECT_FALSE(tooltip(form, 5, row).toString().isEmpty()) << "row " << row;
    EXPECT_TRUE(pages_.requests().empty());
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Report gespeichert");
    EXPECT_EQ(files().count(backlinkReport(".csv")), 1u);
    EXPECT_EQ(form.windowTitle().toStdString(), kTitle + " Gegenprüfung fertig gestellt ... ");
}

// After a filter the first kept record stands in row 1, which the command skips; an https page is
// fetched with its certificate verified.
TEST_F(CrossCheckWindow, PruefeOnAFilteredTableSkipsRowOne) {
    LoopbackServer tlsPages{LoopbackServer::Scheme::Https};
    tlsPages.handle("/sicher", [](const Request&) { return Page("via m\xC3\xBCller.example"); });
    TForm1& form = makeWindow();
    table::BacklinkTable& t = form.table();
    t.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext"});
    t.AppendRecord({pageUrl("/erste"), "a"});
    t.AppendRecord({pageUrl("/zweite"), "b"});
    t.AppendRecord({tlsPages.baseUrl() + "/sicher", "c"});
    t.SetColCount(4);
    t.SetCell(3, 0, "Status");
    t.SetCell(3, 2, "gefunden");
    t.SetCell(3, 3, "Fehler");
    t.SetCell(3, 4, "gefunden");
    clickCell(form, 3, 2);
    form.BLgefunden1->trigger();
    ASSERT_EQ(t.RowCount(), 3);

    clickPruefe(form);
    EXPECT_TRUE(pages_.requests().empty());
    ASSERT_EQ(tlsPages.requests().size(), 1u);
    EXPECT_EQ(Column(t, 4), (std::vector<std::string>{"Status", "", "gefunden"}));
    EXPECT_EQ(Column(t, 3), (std::vector<std::string>{"Status", "gefunden", "gefunden"}));
    EXPECT_TRUE(form.tableFilter().hasSnapshot()); // a command leaves the snapshot alone
}

TEST_F(CrossCheckWindow, ClosingDuringTheWaitEndsTheCommandWithoutAReport) {
    for (const char* path : {"/a", "/b", "/c"})
        pages_.handle(path, [](const Request&) { return Page("m\xC3\xBCller.example"); });
    TForm1& form = makeWindow();
    table::BacklinkTable& t = form.table();
    t.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext"});
    for (const char* path : {"/a", "/b", "/c"})
        t.AppendRecord({pageUrl(path), ""});
    QTimer::singleShot(300, &form, [&] { EXPECT_FALSE(form.close()); }); // refused while it runs
    clickPruefe(form);

    EXPECT_EQ(pages_.requests().size(), 1u);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.busy());
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(Column(t, 3), (std::vector<std::string>{"Status", "", "gefunden", "", ""}));
    EXPECT_EQ(files(), std::set<std::string>{});
    EXPECT_EQ(form.windowTitle().toStdString(), kTitle);
}

TEST_F(CrossCheckWindow, ClosingDuringASlowPageAbortsItAndLeavesTheRowUnmarked) {
    pages_.handle("/haengt", [](const Request&) {
        Response r;
        r.neverAnswer = true;
        return r;
    });
    TForm1& form = makeWindow();
    form.pageFetch = retrieval::PageFetchOptions(); // the full 60 s
    table::BacklinkTable& t = form.table();
    t.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext"});
    t.AppendRecord({pageUrl("/haengt"), ""});
    t.AppendRecord({pageUrl("/danach"), ""});
    QTimer::singleShot(300, &form, [&] { form.close(); });
    QElapsedTimer clock;
    clock.start();
    clickPruefe(form);

    EXPECT_LT(clock.elapsed(), 10'000);
    EXPECT_EQ(pages_.requests().size(), 1u);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(Column(t, 3), (std::vector<std::string>{"Status", "", "", ""}));
    EXPECT_TRUE(t.GetCellNote(3, 2).empty());
    EXPECT_EQ(files(), std::set<std::string>{});
}

TEST_F(CrossCheckWindow, StatusFiltersKeepNumbersAndReasonsAndResetUndoesTheLastOne) {
    TForm1& form = makeWindow();
    table::BacklinkTable& t = form.table();
    FillCheckedTable(t);
    const Rows full = Cells(t);

    form.zurcksetzen1->trigger(); // nothing to undo
    EXPECT_EQ(Cells(t), full);

    clickCell(form, 3, 4);
    form.BLgefunden1->trigger();
    ASSERT_EQ(t.RowCount(), 4);
    EXPECT_EQ(form.StringGrid1->model()->rowCount(), 3);
    EXPECT_EQ(t.RowCells(0), full[0]);
    EXPECT_EQ(t.RowCells(1), full[2]);
    EXPECT_EQ(t.RowCells(2), full[5]);
    EXPECT_EQ(t.RowCells(3), full[7]);

    form.BLnichtgefunden1->trigger();
    EXPECT_EQ(Cells(t), Rows{full[0]});
    form.zurcksetzen1->trigger(); // back to the "gefunden" rows, not to the full table
    EXPECT_EQ(Cells(t), (Rows{full[0], full[2], full[5], full[7]}));
    EXPECT_FALSE(form.tableFilter().hasSnapshot());
    form.zurcksetzen1->trigger();
    EXPECT_EQ(Cells(t), (Rows{full[0], full[2], full[5], full[7]}));

    // Start over from the full table.
    FillCheckedTable(t);
    clickCell(form, 3, 3);
    form.BLSpendertotFehler1->trigger();
    EXPECT_EQ(Cells(t), (Rows{full[0], full[3], full[6]}));
    EXPECT_EQ(tooltip(form, 3, 1).toString(), QStringLiteral("HTTP-Status 404"));
    EXPECT_EQ(tooltip(form, 3, 2).toString(), QString::fromUtf8("Zeitüberschreitung"));
    form.zurcksetzen1->trigger();
    EXPECT_EQ(Cells(t), full);
    EXPECT_EQ(form.StringGrid1->model()->rowCount(), 7);
    EXPECT_EQ(tooltip(form, 3, 3).toString(), QStringLiteral("HTTP-Status 404"));
    EXPECT_EQ(tooltip(form, 3, 6).toString(), QString::fromUtf8("Zeitüberschreitung"));
    EXPECT_FALSE(tooltip(form, 3, 1).isValid());
    EXPECT_FALSE(tooltip(form, 3, 2).isValid());

    // A link URL never equals a status word.
    clickCell(form, 1, 2);
    form.BLgefunden1->trigger();
    EXPECT_EQ(Cells(t), Rows{full[0]});
    form.zurcksetzen1->trigger();
    EXPECT_EQ(Cells(t), full);
    EXPECT_TRUE(boxes_.empty());
}

// The snapshot outlives a Check: the reset puts the saved rows, reasons included, under the new
// headers, each cell in the column of its position.
TEST_F(CrossCheckWindow, FilterThenCheckThenResetBringsBackTheSavedRows) {
    serveSeokicks({pageUrl("/neu")});
    TForm1& form = makeWindow();
    table::BacklinkTable& t = form.table();
    FillCheckedTable(t);
    const Rows full = Cells(t);
    clickCell(form, 3, 2);
    form.BLgefunden1->trigger();
    ASSERT_EQ(t.RowCount(), 4);

    runSeokicksCheck(form);
    ASSERT_EQ(t.RowCount(), 3);
    const std::vector<std::string> seokicksHeaders = t.RowCells(0);
    EXPECT_EQ(seokicksHeaders.size(), 5u);
    EXPECT_TRUE(form.tableFilter().hasSnapshot());

    form.zurcksetzen1->trigger();
    EXPECT_FALSE(form.tableFilter().hasSnapshot());
    ASSERT_EQ(t.RowCount(), 8);
    EXPECT_EQ(t.RowCells(0), seokicksHeaders);
    for (std::int32_t row = 1; row < 8; ++row) {
        const std::vector<std::string>& saved = full[static_cast<std::size_t>(row)];
        EXPECT_EQ(t.RowCells(row), (std::vector<std::string>{saved[0], saved[1], saved[2], saved[3], ""}))
            << "row " << row;
    }
    EXPECT_EQ(tooltip(form, 3, 3).toString(), QStringLiteral("HTTP-Status 404"));
    EXPECT_TRUE(boxes_.empty());
}

} // namespace
