// "Prüfe" and the filter items of the Tools menu through the window, with loopback servers for
// the service and the linking pages. Every fetched page costs the full second of paced wait, so
// the tests keep to a few pages each.
#include "FormFixture.h"
#include "app/CategoryPanel.h"
#include "app/ProgressStatus.h"
#include "app/TableModel.h"
#include "storage/History.h"
#include "storage/Reports.h"
#include "tests/support/FakeRenderer.h"
#include "tests/support/LoopbackServer.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <mutex>
#include <regex>
#include <thread>

using namespace std::chrono_literals;
using app::TForm1;
using testsupport::LoopbackServer;
using testsupport::Request;
using testsupport::Response;
using Strings = std::vector<std::string>;

namespace {

constexpr const char* kSeokicksPath = "/SEOkicksService/V1/inlinkData";
const std::string kTitle = "Quandrel Halmfang 0.1b";
const QString kDomain = QString::fromUtf8("müller.example");

// A SEOkicks answer (details=2) listing these linking pages.
std::string SeokicksAnswer(const Strings& urls) {
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

template <typename T>
std::vector<T> Pick(const std::vector<T>& rows, std::initializer_list<std::size_t> which) {
    std::vector<T> picked;
    for (std::size_t i : which)
        picked.push_back(rows[i]);
    return picked;
}

// Link-URL and anchor rows under the three XOVI headers; with `statuses`, a status column 3 from
// row 2 on, as a cross-check leaves it.
void FillTable(table::BacklinkTable& t, const Rows& records, const Strings& statuses = {}) {
    t.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext"});
    for (const auto& record : records)
        t.AppendRecord(record);
    if (statuses.empty())
        return;
    t.SetColCount(4);
    t.SetCell(3, 0, "Status");
    for (std::size_t i = 0; i < statuses.size(); ++i)
        t.SetCell(3, static_cast<std::int32_t>(i) + 2, statuses[i]);
}

// Six checked records, two of them failed with a reason.
void FillCheckedTable(table::BacklinkTable& t) {
    Rows records;
    for (int i = 0; i < 6; ++i)
        records.push_back({"http://seite-" + std::to_string(i) + ".example/", "Anker " + std::to_string(i)});
    FillTable(t, records, {"gefunden", "Fehler", "nicht gefunden", "gefunden", "Fehler", "gefunden"});
    t.SetCellNote(3, 3, "HTTP-Status 404");
    t.SetCellNote(3, 6, "Zeitüberschreitung");
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

    void serveSeokicks(const Strings& urls) {
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

    // The tooltips the grid shows in a column, from table row 1 on ("" where there is none).
    static Strings tips(TForm1& form, std::int32_t col) {
        const QAbstractItemModel* model = form.StringGrid1->model();
        Strings out;
        for (int row = 0; row < model->rowCount(); ++row)
            out.push_back(Rendered(model->data(model->index(row, col - 1), Qt::ToolTipRole).toString())
                              .toStdString());
        return out;
    }

    // The marks the grid shows in a column, from table row 1 on.
    static std::vector<table::CellMark> markColumn(TForm1& form, std::int32_t col) {
        const QAbstractItemModel* model = form.StringGrid1->model();
        std::vector<table::CellMark> out;
        for (int row = 0; row < model->rowCount(); ++row)
            out.push_back(static_cast<table::CellMark>(
                model->data(model->index(row, col - 1), app::BacklinkModel::kMarkRole).toInt()));
        return out;
    }

    static std::string backlinkReport(const char* extension) {
        return "reporting/backlinks/" + storage::DomainStamp(kDomain.toStdString()) + "_" +
               storage::DateStamp() + extension;
    }

    LoopbackServer service_{LoopbackServer::Scheme::Http};
    LoopbackServer pages_{LoopbackServer::Scheme::Http};
};

// Every kind of page once: the status words and reports as the text rule gives them; notes,
// colours and the details file from the links on each page.
TEST_F(CrossCheckWindow, PruefeAfterACheckMarksEveryPageAndWritesTheReports) {
    pages_.handle("/gefunden", [](const Request&) {
        return Page("<p>Neu bei <a href=\"http://m\xC3\xBCller.example/\">M\xC3\xBCller</a></p>");
    });
    // Linked in another case: missed by the text rule, found by the link check.
    pages_.handle("/gross", [](const Request&) {
        return Page("<p>Mehr bei <a href=\"http://M\xC3\xBCller.example/\">M\xC3\xBCller</a></p>");
    });
    pages_.handle("/latin1", [](const Request&) {
        return Page("<p>Link: m\xFCller.example</p>", "text/html; charset=ISO-8859-1");
    });
    pages_.handle("/idn", [](const Request&) {
        return Page("<a href=\"http://www.xn--mller-kva.example/\">Shop</a>");
    });
    pages_.handle("/nofollow", [](const Request&) {
        return Page("<a rel=\"nofollow\" href=\"http://m\xC3\xBCller.example/a\">A</a>"
                    "<a rel=\"nofollow\" href=\"http://m\xC3\xBCller.example/b\"><img alt=\"B\"></a>");
    });
    pages_.handle("/umzug", [](const Request&) { return Response::Redirect("/neu", 301); });
    pages_.handle("/neu", [](const Request&) {
        Response r = Page("<a href=\"http://m\xC3\xBCller.example/\">M\xC3\xBCller</a>");
        r.headers.emplace_back("X-Robots-Tag", "noindex");
        return r;
    });
    const Strings paths = {"/gefunden", "/gross", "/weg", "/latin1", "/idn", "/nofollow", "/umzug"};
    Strings urls;
    for (const std::string& path : paths)
        urls.push_back(pageUrl(path));
    serveSeokicks(urls);
    TForm1& form = makeWindow();
    form.resize(1000, 420);
    runSeokicksCheck(form);
    ASSERT_EQ(form.table().RowCount(), 9);
    Rows expected = Cells(form.table());

    QStringList captions;
    QObject::connect(&form, &QWidget::windowTitleChanged, [&](const QString& t) { captions << t; });
    bool checkedDuringWait = false;
    QTimer::singleShot(300, &form, [&] {
        checkedDuringWait = true;
        ExpectCommandsEnabled(form, false);
        // Neither a second command nor a filter starts while the first one waits.
        form.Button3Click();
        form.Button1Click();
        form.table().SetCurrentCell(5, 2);
        form.BLgefunden1Click();
        form.zurcksetzen1Click();
        EXPECT_FALSE(form.tableFilter().hasSnapshot());
        EXPECT_EQ(form.table().RowCount(), 9);
    });
    QElapsedTimer clock;
    clock.start();
    clickPruefe(form);

    EXPECT_TRUE(checkedDuringWait);
    EXPECT_GE(clock.elapsed(), 7000); // one second after each of the seven fetches
    EXPECT_EQ(service_.requests().size(), 1u);
    Strings fetched;
    for (const Request& r : pages_.requests())
        fetched.push_back(r.path);
    // The first page with a link asks for its host's robots.txt (none there: all allowed).
    Strings expectedFetches = paths;
    expectedFetches.insert(expectedFetches.begin() + 1, "/robots.txt");
    expectedFetches.push_back("/neu");
    EXPECT_EQ(fetched, expectedFetches);

    // A status column is added; the records stay as they were.
    const Strings statuses = {"Status",   "",         "gefunden", "nicht gefunden", "Fehler",
                              "gefunden", "gefunden", "gefunden", "gefunden"};
    for (std::size_t row = 0; row < expected.size(); ++row)
        expected[row].push_back(statuses[row]);
    const table::BacklinkTable& t = form.table();
    EXPECT_EQ(Cells(t), expected);
    const Strings notes = {"",
                           "Link vorhanden (follow) – Ankertext „Müller“",
                           "Link vorhanden (follow) – Ankertext „Müller“\n"
                           "Textsuche erkennt die Schreibweise im Link nicht: Müller.example",
                           "HTTP-Status 404",
                           "Domain nur im Text erwähnt, kein Link",
                           "Link vorhanden (follow) – Ankertext „Shop“",
                           "2 Links, alle rel=nofollow",
                           "Link vorhanden (follow) – Ankertext „Müller“\n"
                           "aber Seite auf noindex (X-Robots-Tag); weitergeleitet nach " +
                               pageUrl("/neu")};
    EXPECT_EQ(tips(form, 5), notes);
    using table::CellMark;
    const std::vector<CellMark> marks = {CellMark::None,      CellMark::Found,     CellMark::NotFound,
                                         CellMark::Failed,    CellMark::FoundWeak, CellMark::Found,
                                         CellMark::FoundWeak, CellMark::FoundWeak};
    EXPECT_EQ(markColumn(form, 5), marks);
    // As painted: four calm colours, and the lighter green carries a dark corner.
    const QImage shot = form.StringGrid1->viewport()->grab().toImage();
    const auto pixel = [&](int row, bool corner) {
        const QRect cell = form.StringGrid1->visualRect(form.StringGrid1->model()->index(row - 1, 4));
        return shot.pixelColor(corner ? cell.topRight() + QPoint(-2, 2) : cell.bottomRight() - QPoint(3, 3));
    };
    const std::set<QRgb> backgrounds = {pixel(2, false).rgb(), pixel(3, false).rgb(), pixel(4, false).rgb(),
                                        pixel(5, false).rgb()};
    EXPECT_EQ(backgrounds.size(), 4u);
    EXPECT_EQ(pixel(7, false), pixel(5, false));
    EXPECT_GT(pixel(2, false).green(), pixel(2, false).red());
    EXPECT_GT(pixel(3, false).red(), pixel(3, false).blue());
    EXPECT_EQ(pixel(2, true), pixel(2, false));
    EXPECT_LT(pixel(5, true).lightness(), 128);

    EXPECT_EQ(form.Memo1.lines(), t.ColumnText(1));
    EXPECT_EQ(form.Memo3.text().rfind("<a href=\"http://m\xC3\xBCller.example/\">", 0), 0u); // the last page

    QStringList expectedCaptions;
    for (const std::string& url : urls)
        expectedCaptions << QString::fromStdString(kTitle + " checke: " + url);
    expectedCaptions << QString::fromStdString(kTitle + " Gegenprüfung fertig gestellt ... ");
    EXPECT_EQ(captions, expectedCaptions);

    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].kind, app::QtMessageBox::Kind::Message);
    EXPECT_EQ(boxes_[0].text, "Report gespeichert");
    const std::string csv = readFile(backlinkReport(".csv"));
    EXPECT_EQ(csv.rfind("Nr.,Link-URL,Ankertext,Follow,Ziel-URL,Status\r\n", 0), 0u) << csv;
    EXPECT_TRUE(Contains(csv, ",\"nicht gefunden\"\r\n"));
    // The notes stay in the window and the details file.
    EXPECT_FALSE(Contains(csv, "HTTP-Status"));
    EXPECT_TRUE(Contains(readFile(backlinkReport(".html")), "<table"));
    EXPECT_FALSE(Contains(readFile(backlinkReport(".html")), "HTTP-Status"));
    const auto u = [this](const char* path) { return pageUrl(path); };
    EXPECT_EQ(readFile(backlinkReport("_details.csv")),
              "Nr.,Link-URL,Status,Links,rel,Ankertext,Ziel-URL,HTTP-Status,Endadresse,Robots,Grund,Änderung\r\n"
              "2," +
                  u("/gefunden") + ",gefunden,1,follow,Müller,http://xn--mller-kva.example/,200," + u("/gefunden") +
                  ",,,neu\r\n"
                  "3," +
                  u("/gross") + ",nicht gefunden,1,follow,Müller,http://xn--mller-kva.example/,200," + u("/gross") +
                  ",,,neu\r\n"
                  "4," +
                  u("/weg") +
                  ",Fehler,,,,,,,,HTTP-Status 404,neu\r\n"
                  "5," +
                  u("/latin1") + ",gefunden,0,,,,200," + u("/latin1") +
                  ",,,neu\r\n"
                  "6," +
                  u("/idn") + ",gefunden,1,follow,Shop,http://www.xn--mller-kva.example/,200," + u("/idn") +
                  ",,,neu\r\n"
                  "7," +
                  u("/nofollow") + ",gefunden,2,nofollow,A,http://xn--mller-kva.example/a,200," + u("/nofollow") +
                  ",,,neu\r\n"
                  "7," +
                  u("/nofollow") + ",gefunden,2,nofollow,B,http://xn--mller-kva.example/b,200," + u("/nofollow") +
                  ",,,neu\r\n"
                  "8," +
                  u("/umzug") + ",gefunden,1,follow,Müller,http://xn--mller-kva.example/,200," + u("/neu") +
                  ",noindex (X-Robots-Tag),,neu\r\n");
    ExpectCommandsEnabled(form, true);

    // Colours and notes move with their rows through a filter (kept rows packed from row 1) and back.
    clickCell(form, 5, 3);
    form.BLgefunden1->trigger();
    EXPECT_EQ(markColumn(form, 5), Pick(marks, {1, 4, 5, 6, 7}));
    EXPECT_EQ(tips(form, 5), Pick(notes, {1, 4, 5, 6, 7}));
    form.zurcksetzen1->trigger();
    EXPECT_EQ(markColumn(form, 5), marks);
    EXPECT_EQ(tips(form, 5), notes);
}

// The second Prüfe is compared with the first: a page that lost its link is named in the
// changes report, the status line and the row's note; the first Prüfe only lays the base.
TEST_F(CrossCheckWindow, SecondPruefeReportsTheLinkThatDisappeared) {
    const std::string link = "<a href=\"http://m\xC3\xBCller.example/\">M\xC3\xBCller</a>";
    pages_.handle("/bleibt", [link](const Request&) { return Page(link); });
    pages_.handle("/verliert", [link](const Request&) { return Page(link); });
    TForm1& form = makeWindow();
    FillTable(form.table(), {{pageUrl("/bleibt"), "a"}, {pageUrl("/verliert"), "b"}});
    clickPruefe(form);
    EXPECT_EQ(form.LabelVerlauf->text().toStdString(),
              "Erste Prüfung dieser Domain: Sie ist die Grundlage für den Vergleich bei der nächsten Prüfung.");
    EXPECT_TRUE(form.LabelVerlauf->isVisible());

    pages_.handle("/verliert", [](const Request&) { return Page("<p>Nichts mehr</p>"); });
    boxes_.clear();
    clickPruefe(form);
    const std::string summary = form.LabelVerlauf->text().toStdString();
    std::smatch when;
    ASSERT_TRUE(std::regex_match(summary, when,
                                 std::regex("Seit der Prüfung vom (\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d): 1 Link entfernt")))
        << summary;
    EXPECT_EQ(readFile(backlinkReport("_aenderungen.csv")),
              "Link-URL,Änderung,vorher,jetzt,Datum der vorherigen Prüfung\r\n" + pageUrl("/verliert") +
                  ",Link entfernt,\"gefunden; 1 Link, follow; Ankertext „Müller“; Ziel http://xn--mller-kva.example/\","
                  "nicht gefunden; kein Link," +
                  when[1].str() + "\r\n");
    EXPECT_TRUE(Contains(readFile(backlinkReport("_aenderungen.html")), "<p>" + summary + "</p>"));
    EXPECT_EQ(tips(form, 4)[2], "Kein Link auf die Domain\nSeit " + when[1].str() + ": Link entfernt");
    const QAbstractItemModel* model = form.StringGrid1->model();
    std::vector<table::CellMark> rowMarks;
    for (int row = 0; row < model->rowCount(); ++row)
        rowMarks.push_back(static_cast<table::CellMark>(
            model->headerData(row, Qt::Vertical, app::BacklinkModel::kMarkRole).toInt()));
    EXPECT_EQ(rowMarks, (std::vector<table::CellMark>{table::CellMark::None, table::CellMark::None,
                                                       table::CellMark::RowLoss}));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Report gespeichert");
}

TEST_F(CrossCheckWindow, UntouchedStartTableFetchesTheThreeEmptyUrlsAsFailures) {
    TForm1& form = makeWindow();
    clickPruefe(form);

    EXPECT_EQ(form.table().ColCount(), 6);
    EXPECT_EQ(form.table().ColumnText(5), (Strings{"Status", "", "Fehler", "Fehler", "Fehler"}));
    const Strings reasons = tips(form, 5);
    for (std::size_t row = 1; row < reasons.size(); ++row)
        EXPECT_NE(reasons[row], "") << "row " << row + 1;
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
    FillTable(t, {{pageUrl("/erste"), "a"}, {pageUrl("/zweite"), "b"}, {tlsPages.baseUrl() + "/sicher", "c"}},
              {"gefunden", "Fehler", "gefunden"});
    clickCell(form, 3, 2);
    form.BLgefunden1->trigger();
    ASSERT_EQ(t.RowCount(), 3);

    clickPruefe(form);
    EXPECT_TRUE(pages_.requests().empty());
    ASSERT_EQ(tlsPages.requests().size(), 1u);
    EXPECT_EQ(t.ColumnText(4), (Strings{"Status", "", "gefunden"}));
    EXPECT_EQ(t.ColumnText(3), (Strings{"Status", "gefunden", "gefunden"}));
    EXPECT_TRUE(form.tableFilter().hasSnapshot()); // a command leaves the snapshot alone
}

// A close while the command waits after a page, or while a page hangs, is refused until the
// command has unwound; then the window closes, the row being fetched stays unmarked and nothing
// is written.
TEST_F(CrossCheckWindow, ClosingDuringTheWaitOrASlowPageEndsTheCommandWithoutAReport) {
    for (const char* path : {"/a", "/b"})
        pages_.handle(path, [](const Request&) { return Page("m\xC3\xBCller.example"); });
    pages_.handle("/haengt", [](const Request&) {
        Response r;
        r.neverAnswer = true;
        return r;
    });
    const struct {
        const char* name;
        Strings paths;
        Strings statuses;
    } cases[] = {{"wait", {"/a", "/b"}, {"Status", "", "gefunden", ""}},
                 {"slow page", {"/haengt", "/b"}, {"Status", "", "", ""}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TForm1& form = makeWindow();
        form.pageFetch = retrieval::PageFetchOptions(); // the full 60 s
        FillTable(form.table(), {{pageUrl(c.paths[0]), ""}, {pageUrl(c.paths[1]), ""}});
        const std::size_t requestsBefore = pages_.requests().size();
        QTimer::singleShot(300, &form, [&] { EXPECT_FALSE(form.close()); });
        QElapsedTimer clock;
        clock.start();
        clickPruefe(form);

        EXPECT_LT(clock.elapsed(), 10'000);
        EXPECT_EQ(pages_.requests().size() - requestsBefore, 1u);
        EXPECT_FALSE(form.isVisible());
        EXPECT_FALSE(form.busy());
        EXPECT_TRUE(boxes_.empty());
        EXPECT_EQ(form.table().ColumnText(3), c.statuses);
        EXPECT_EQ(tips(form, 3), Strings(3));
        EXPECT_EQ(files(), std::set<std::string>{});
        EXPECT_EQ(form.windowTitle().toStdString(), kTitle);
    }
}

// Four at a time over four host names, all served on loopback through the page server as the
// environment's proxy: never more than four requests at once, one per host, and a second between
// the end of one and the start of the next to the same host.
TEST_F(CrossCheckWindow, FourAtATimeKeepsEachHostAtASecond) {
    using Clock = std::chrono::steady_clock;
    std::mutex mutex;
    std::map<std::string, std::vector<std::pair<Clock::time_point, Clock::time_point>>> seen; // by host
    int inFlight = 0;
    int mostInFlight = 0;
    Strings urls;
    for (int page = 0; page < 8; ++page) {
        const std::string path = "/p" + std::to_string(page);
        urls.push_back("http://h" + std::to_string(page % 4) + ".example" + path);
        pages_.handle(path, [&](const Request& r) {
            const auto start = Clock::now();
            {
                std::lock_guard lock(mutex);
                mostInFlight = std::max(mostInFlight, ++inFlight);
            }
            std::this_thread::sleep_for(200ms);
            std::lock_guard lock(mutex);
            --inFlight;
            seen[r.headers.at("host")].emplace_back(start, Clock::now());
            return Page("m\xC3\xBCller.example");
        });
    }
    const char* before = std::getenv("http_proxy");
    const std::string saved = before != nullptr ? before : "";
    ::setenv("http_proxy", pages_.baseUrl().c_str(), 1);
    TForm1& form = makeWindow();
    form.GleichzeitigeAbrufe->setValue(4);
    EXPECT_EQ(readFile("abrufe.txt"), "4\r\n");
    Rows records;
    for (const std::string& url : urls)
        records.push_back({url, ""});
    FillTable(form.table(), records);
    clickPruefe(form);
    if (before != nullptr)
        ::setenv("http_proxy", saved.c_str(), 1);
    else
        ::unsetenv("http_proxy");

    EXPECT_EQ(form.table().ColumnText(3), (Strings{"Status", "", "gefunden", "gefunden", "gefunden", "gefunden",
                                                   "gefunden", "gefunden", "gefunden", "gefunden"}));
    EXPECT_EQ(mostInFlight, 4);
    ASSERT_EQ(seen.size(), 4u);
    for (const auto& [host, requests] : seen) {
        ASSERT_EQ(requests.size(), 2u) << host;
        EXPECT_GE(requests[1].first - requests[0].second, 1000ms) << host;
    }
    // The details file lists the rows in table order, whatever order they finished in.
    const std::string details = readFile(backlinkReport("_details.csv"));
    std::size_t at = 0;
    for (const std::string& url : urls) {
        at = details.find("," + url + ",", at);
        EXPECT_NE(at, std::string::npos) << url;
    }
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Report gespeichert");
    EXPECT_EQ(makeForm().GleichzeitigeAbrufe->value(), 4); // read back at the next start
}

// "Abbrechen" after three pages, while the fourth hangs: its transfer is cut at once, the three
// pages are in the reports and the history, the run stays unfinished; Esc does the same.
TEST_F(CrossCheckWindow, StoppedAfterThreePagesReportsWhatWasChecked) {
    for (const char* path : {"/1", "/2", "/3", "/5"})
        pages_.handle(path, [](const Request&) { return Page("<a href=\"http://m\xC3\xBCller.example/\">M</a>"); });
    pages_.handle("/4", [](const Request&) {
        Response r;
        r.neverAnswer = true;
        return r;
    });
    for (const bool byEscape : {false, true}) {
        SCOPED_TRACE(byEscape ? "Esc" : "Abbrechen");
        boxes_.clear();
        TForm1& form = makeWindow();
        form.pageFetch = retrieval::PageFetchOptions(); // the full 60 s
        FillTable(form.table(), {{pageUrl("/1"), ""}, {pageUrl("/2"), ""}, {pageUrl("/3"), ""},
                                 {pageUrl("/4"), ""}, {pageUrl("/5"), ""}});
        EXPECT_FALSE(form.Abbrechen->isEnabled());
        int captions = 0;
        QObject::connect(&form, &QWidget::windowTitleChanged, [&] {
            if (++captions == 3) // the third page is done and the fourth on its way
                QTimer::singleShot(300, &form, [&] {
                    EXPECT_TRUE(form.Abbrechen->isEnabled());
                    // The status bar shows the fourth page on its way.
                    EXPECT_TRUE(form.Fortschritt->ProgressBar1->isVisible());
                    EXPECT_EQ(form.Fortschritt->ProgressBar1->text(), QStringLiteral("3 / 5"));
                    EXPECT_EQ(form.Fortschritt->LabelSeite->text().toStdString(), pageUrl("/4"));
                    EXPECT_TRUE(form.Fortschritt->LabelZeit->text().startsWith(QStringLiteral("0:0")));
                    if (byEscape)
                        QTest::keyClick(&form, Qt::Key_Escape);
                    else
                        QTest::mouseClick(form.Abbrechen, Qt::LeftButton);
                });
        });
        QElapsedTimer clock;
        clock.start();
        clickPruefe(form);

        EXPECT_LT(clock.elapsed(), 10'000);
        EXPECT_EQ(form.windowTitle().toStdString(), kTitle + " Gegenprüfung abgebrochen ...");
        EXPECT_EQ(form.table().ColumnText(3), (Strings{"Status", "", "gefunden", "gefunden", "gefunden", "", ""}));
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].text, "Report gespeichert");
        const std::string details = readFile(backlinkReport("_details.csv"));
        for (const char* path : {"/1", "/2", "/3"})
            EXPECT_TRUE(Contains(details, "," + pageUrl(path) + ",gefunden,"));
        EXPECT_FALSE(Contains(details, pageUrl("/4")));
        EXPECT_TRUE(Contains(readFile(backlinkReport(".csv")), "gefunden"));
        ExpectCommandsEnabled(form, true);
        EXPECT_FALSE(form.Abbrechen->isEnabled());
        EXPECT_FALSE(form.Fortschritt->ProgressBar1->isVisible());
        EXPECT_TRUE(form.isVisible());

        storage::History::Opened opened = storage::History::Open(folder_);
        ASSERT_TRUE(opened.history);
        const auto runs = opened.history->CrossCheckRuns("xn--mller-kva.example");
        ASSERT_FALSE(runs.fault);
        ASSERT_FALSE(runs.value.empty());
        EXPECT_FALSE(runs.value.back().finished);
    }
}

TEST_F(CrossCheckWindow, StatusFiltersKeepNumbersAndReasonsAndResetUndoesTheLastOne) {
    TForm1& form = makeWindow();
    table::BacklinkTable& t = form.table();
    FillCheckedTable(t);
    const Rows full = Cells(t);
    const Rows found = Pick(full, {0, 2, 5, 7});

    form.zurcksetzen1->trigger(); // nothing to undo
    EXPECT_EQ(Cells(t), full);

    clickCell(form, 3, 4);
    form.BLgefunden1->trigger();
    EXPECT_EQ(Cells(t), found);
    EXPECT_EQ(form.StringGrid1->model()->rowCount(), 3);
    form.BLnichtgefunden1->trigger();
    EXPECT_EQ(Cells(t), Rows{full[0]});
    form.zurcksetzen1->trigger(); // back to the "gefunden" rows, not to the full table
    EXPECT_EQ(Cells(t), found);
    EXPECT_FALSE(form.tableFilter().hasSnapshot());
    form.zurcksetzen1->trigger();
    EXPECT_EQ(Cells(t), found);

    // Start over from the full table.
    FillCheckedTable(t);
    clickCell(form, 3, 3);
    form.BLSpendertotFehler1->trigger();
    EXPECT_EQ(Cells(t), Pick(full, {0, 3, 6}));
    EXPECT_EQ(tips(form, 3), (Strings{"HTTP-Status 404", "Zeitüberschreitung"}));
    form.zurcksetzen1->trigger();
    EXPECT_EQ(Cells(t), full);
    EXPECT_EQ(tips(form, 3), (Strings{"", "", "HTTP-Status 404", "", "", "Zeitüberschreitung", ""}));

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
    Rows expected = Cells(t);
    clickCell(form, 3, 2);
    form.BLgefunden1->trigger();
    ASSERT_EQ(t.RowCount(), 4);

    runSeokicksCheck(form);
    ASSERT_EQ(t.RowCount(), 3);
    EXPECT_TRUE(form.tableFilter().hasSnapshot());

    form.zurcksetzen1->trigger();
    EXPECT_FALSE(form.tableFilter().hasSnapshot());
    expected[0] = {"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"};
    for (std::size_t row = 1; row < expected.size(); ++row)
        expected[row].push_back("");
    EXPECT_EQ(Cells(t), expected);
    EXPECT_EQ(tips(form, 3)[2], "HTTP-Status 404");
    EXPECT_TRUE(boxes_.empty());
}

} // namespace

// "Seiten mit JavaScript im Browser nachprüfen": on where a browser is found, and "Prüfe" then shows
// pages built with scripts in it; kept in browser.txt as soon as it changes (a click on its text
// works the box), read back at the next start; without a browser off, disabled and explained.
TEST_F(CrossCheckWindow, BrowserCheckGoesToPruefeAndIsKept) {
    pages_.handle("/js", [](const Request&) {
        return Page("<script>document.write('<a href=\"http://m\xC3\xBCller.example/\">M</a>')</script>");
    });
    auto owned = std::make_unique<testsupport::FakeRenderer>(retrieval::Rendered{
        retrieval::RenderEnd::Complete, "<body><a href=\"http://m\xC3\xBCller.example/\">M</a></body>"});
    testsupport::FakeRenderer& browser = *owned;
    TForm1& form = makeWindow();
    form.setPageRenderer(std::move(owned));
    EXPECT_TRUE(form.BrowserPruefen->isEnabled() && form.BrowserPruefen->isChecked());
    EXPECT_EQ(form.BrowserPruefen->accessibleName().toStdString(),
              "Seiten mit JavaScript im Browser nachprüfen");
    EXPECT_EQ(form.LabelBrowser->text(), form.BrowserPruefen->accessibleName());
    EXPECT_TRUE(form.HinweisBrowser->isHidden());

    const std::string unread = "Links nicht geprüft: Die Seite baut ihren Inhalt mit JavaScript; ";
    for (const bool on : {true, false}) {
        SCOPED_TRACE(on ? "on" : "off");
        FillTable(form.table(), {{pageUrl("/js"), ""}});
        clickPruefe(form);
        EXPECT_EQ(form.table().GetCell(3, 2), "gefunden");
        const std::string note = form.table().GetCellNote(3, 2);
        EXPECT_EQ(note.substr(0, note.find("\nSeit ")),
                  on ? "Link vorhanden (follow) – Ankertext „M“\nLink per JavaScript gesetzt"
                     : unread + "Prüfung im Browser ist ausgeschaltet");
        EXPECT_EQ(browser.urls(), Strings{pageUrl("/js")});
        form.CategoryPanel2->setCollapsed(false);
        QTest::mouseClick(form.LabelBrowser, Qt::LeftButton);
        EXPECT_EQ(form.BrowserPruefen->isChecked(), !on);
        EXPECT_EQ(readFile("browser.txt"), on ? "0\r\n" : "1\r\n");
        if (on)
            continue;
        QTest::mouseClick(form.BrowserPruefen, Qt::LeftButton);
        EXPECT_EQ(readFile("browser.txt"), "0\r\n");
    }

    TForm1& again = makeForm(); // the next start
    again.setPageRenderer(std::make_unique<testsupport::FakeRenderer>());
    EXPECT_FALSE(again.BrowserPruefen->isChecked()) << "as it was left";
    again.setPageRenderer(nullptr);
    EXPECT_FALSE(again.BrowserPruefen->isEnabled() || again.BrowserPruefen->isChecked());
    EXPECT_FALSE(again.HinweisBrowser->isHidden());
    EXPECT_EQ(again.HinweisBrowser->text().toStdString(),
              "Kein Browser gefunden (chromium-headless-shell oder chromium installieren)");
    EXPECT_EQ(readFile("browser.txt"), "0\r\n") << "the stored choice stays";
}
