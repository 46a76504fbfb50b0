// "Check" through the window, against loopback servers standing in for both services.
#include "FormFixture.h"
#include "app/ProgressStatus.h"
#include "storage/FolderLock.h"
#include "storage/Reports.h"
#include "tests/support/LoopbackServer.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>

using namespace std::chrono_literals;
using app::TForm1;
using Kind = app::QtMessageBox::Kind;
using testsupport::LoopbackServer;
using testsupport::Request;
using testsupport::Response;
using Service = QRadioButton* TForm1::*;
using Strings = std::vector<std::string>;

namespace {

const Service kSeokicks = &TForm1::RadioButton1;
const Service kXovi = &TForm1::XOVI;
constexpr const char* kSeokicksPath = "/SEOkicksService/V1/inlinkData";
constexpr const char* kXoviPath = "/index.php";
const std::string kTitle = "Quandrel Halmfang 0.1b";
const std::string kXoviQuery = "key=xk-123&service=links&method=getbacklinks&domain=";

std::string Fixture(const char* name) {
    std::ifstream in(std::string(QH_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Response Silent() {
    Response r;
    r.neverAnswer = true;
    return r;
}

class Check : public FormFixture {
protected:
    // Plain http for SEOkicks, https with the test certificate for XOVI, as the services are.
    TForm1& makeCheckForm(Service service = nullptr) {
        TForm1& form = makeForm();
        form.checkConnection.seokicksBase = seokicks_.baseUrl() + kSeokicksPath + "?appid=";
        form.checkConnection.xoviBase = xovi_.baseUrl() + kXoviPath + "?key=";
        form.checkConnection.fetch.caFile = testsupport::TestCertificateFile();
        form.checkConnection.fetch.connectTimeout = 3s;
        form.checkConnection.fetch.stallTimeout = 3s;
        form.checkConnection.fetch.totalTimeout = 10s;
        form.xovi_api->setText(QStringLiteral("xk-123"));
        form.seokicks->setText(QStringLiteral("sc-456"));
        form.Domainname->setEditText(QStringLiteral("schuhhaus-beispiel.de"));
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
        if (service != nullptr)
            QTest::mouseClick(form.*service, Qt::LeftButton);
        return form;
    }

    void serveSeokicks(const std::string& body) {
        seokicks_.handle(kSeokicksPath, [body](const Request&) { return Response::Text(body); });
    }
    void serveXovi(const std::string& body) {
        xovi_.handle(kXoviPath, [body](const Request&) { return Response::Text(body); });
    }
    std::size_t requestCount() const { return seokicks_.requests().size() + xovi_.requests().size(); }

    static void clickCheck(TForm1& form) { QTest::mouseClick(form.Button1, Qt::LeftButton); }

    static std::string reportBase(const std::string& folder) {
        return folder + storage::DomainStamp("schuhhaus-beispiel.de") + "_" + storage::DateStamp();
    }

    // A table left by an earlier command, which a failed or ended check must not touch.
    static Rows fillEarlierTable(TForm1& form) {
        form.table().ResetWithHeaders({"Nr.", "Link-URL", "Ankertext"});
        form.table().AppendRecord({"http://alt.example/", "alt"});
        return Cells(form.table());
    }

    LoopbackServer seokicks_{LoopbackServer::Scheme::Http};
    LoopbackServer xovi_{LoopbackServer::Scheme::Https};
};

// Memo1 splits its own text, which ends every line with CR LF, so the answer's last bytes
// decide its last line; the rows do not depend on them.
TEST_F(Check, SeokicksFillsTableWritesRawAnswerAndReportsAndLeavesTheCaption) {
    const std::string answer = Fixture("seokicks_answer.xml");
    serveSeokicks(answer);
    TForm1& form = makeCheckForm(kSeokicks);
    form.maxerg->setText(QStringLiteral("20000"));
    QStringList captions;
    QObject::connect(&form, &QWidget::windowTitleChanged, [&](const QString& t) { captions << t; });
    QElapsedTimer clock;
    clock.start();
    clickCheck(form);
    EXPECT_GE(clock.elapsed(), 1000); // the wait after the request

    ASSERT_EQ(seokicks_.requests().size(), 1u);
    EXPECT_EQ(seokicks_.requests()[0].query,
              "appid=sc-456&query=schuhhaus-beispiel.de&details=2&results=20000&page=1");
    EXPECT_EQ(seokicks_.requests()[0].headers["user-agent"], kTitle);
    EXPECT_TRUE(xovi_.requests().empty());
    EXPECT_EQ(form.maxerg->text(), QStringLiteral("20000")); // the cap is XOVI's alone

    const table::BacklinkTable& t = form.table();
    ASSERT_EQ(t.RowCount(), 6);
    EXPECT_EQ(t.RowCells(0), (Strings{"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"}));
    EXPECT_EQ(t.RowCells(1), Strings(5));
    EXPECT_EQ(t.RowCells(2), (Strings{"2", "http://www.laufblog-beispiel.de/2023/05/neue-schuhe/",
                                      "Schuhhaus Beispiel", "1", "https://schuhhaus-beispiel.de/"}));
    EXPECT_EQ(t.ColumnText(0), (Strings{"Nr.", "", "2", "3", "4", "5"}));
    EXPECT_EQ(t.GetCell(2, 3), " Wanderschuhe & Zubehör  ");
    EXPECT_EQ(t.GetCell(1, 5), "https://news.example.com/lokal/eroeffnung");
    EXPECT_GT(t.ColWidth(1), 64); // fitted to the long URLs

    EXPECT_EQ(readFile("tmp_seokicks.txt"), answer + "\r\n"); // a line list: the last line ends too
    const std::string record =
        "\r\n<url>\r\nhttp://www.laufblog-beispiel.de/2023/05/neue-schuhe/\r\n</url>\r\n";
    EXPECT_TRUE(Contains(form.Memo1.text(), record));
    EXPECT_TRUE(form.Memo1.text().ends_with("</inlinkdata>\r\n\n\r\n")); // the answer ends in LF
    const std::string base = reportBase("reporting/seokicks/");
    EXPECT_EQ(files(),
              (std::set<std::string>{"domains.txt", "tmp_seokicks.txt", base + ".csv", base + ".html", "halmfang.db"}));
    // The run is in the history, the service code is not.
    EXPECT_TRUE(Contains(readFile("halmfang.db"), "news.example.com/lokal/eroeffnung"));
    EXPECT_FALSE(Contains(readFile("halmfang.db"), "sc-456"));
    const std::string csv = readFile(base + ".csv");
    EXPECT_EQ(csv.rfind("Nr.,Link-URL,Ankertext,Follow,Ziel-URL\r\n", 0), 0u) << csv;
    EXPECT_EQ(std::ranges::count(csv, '\n'), 6);
    EXPECT_TRUE(Contains(readFile(base + ".html"), "news.example.com/lokal/eroeffnung"));
    EXPECT_EQ(readFile("domains.txt"), "schuhhaus-beispiel.de\r\n");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].kind, Kind::Message);
    EXPECT_EQ(boxes_[0].text, "Report gespeichert");
    EXPECT_TRUE(captions.isEmpty()) << captions.join('|').toStdString();
    ExpectCommandsEnabled(form, true);

    const Rows rows = Cells(t);
    const std::string bare = answer.substr(0, answer.size() - 1);
    for (const auto& [ending, memoEnd] :
         {std::pair{"", "</inlinkdata>\r\n\r\n"}, std::pair{"\r\n", "</inlinkdata>\r\n\r\n"}}) {
        SCOPED_TRACE(testing::PrintToString(std::string(ending)));
        serveSeokicks(bare + ending);
        clickCheck(form);
        EXPECT_EQ(readFile("tmp_seokicks.txt"), bare + "\r\n");
        EXPECT_TRUE(Contains(form.Memo1.text(), record));
        EXPECT_TRUE(form.Memo1.text().ends_with(memoEnd)) << testing::PrintToString(form.Memo1.text());
        EXPECT_EQ(Cells(t), rows);
    }
}

TEST_F(Check, XoviShowsEachRecordNumberInTheCaptionAndWritesTheSplitAnswer) {
    serveXovi(Fixture("xovi_answer.xml"));
    TForm1& form = makeCheckForm(kXovi);
    std::vector<std::pair<std::string, qint64>> captions;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&form, &QWidget::windowTitleChanged,
                     [&](const QString& t) { captions.emplace_back(t.toStdString(), clock.nsecsElapsed()); });
    clickCheck(form);

    ASSERT_EQ(xovi_.requests().size(), 1u);
    EXPECT_EQ(xovi_.requests()[0].query, kXoviQuery + "schuhhaus-beispiel.de&limit=100&format=xml");
    EXPECT_TRUE(seokicks_.requests().empty());

    // One caption per record, each after a paced wait of 100 ms; the last one stays.
    ASSERT_EQ(captions.size(), 3u);
    for (std::size_t i = 0; i < captions.size(); ++i) {
        EXPECT_EQ(captions[i].first, kTitle + " hole Backlink-Nr.:" + std::to_string(i + 2));
        if (i > 0) {
            EXPECT_GE(captions[i].second - captions[i - 1].second, 100'000'000);
        }
    }
    EXPECT_EQ(form.windowTitle().toStdString(), captions.back().first);

    const table::BacklinkTable& t = form.table();
    ASSERT_EQ(t.RowCount(), 5);
    EXPECT_EQ(t.RowCells(0), (Strings{"Nr.", "Link-URL", "Ankertext"}));
    EXPECT_EQ(t.RowCells(2),
              (Strings{"2", "https://www.laufblog-beispiel.de/2023/05/neue-schuhe/", "Schuhhaus Beispiel"}));
    EXPECT_EQ(t.RowCells(4), (Strings{"4", "http://verzeichnis.example.net/einkaufen/schuhe.html", ""}));

    const std::string tmp = readFile("tmp_xovi_bkl.txt");
    EXPECT_EQ(tmp, form.Memo3.text());
    EXPECT_TRUE(
        Contains(tmp, "\r\n<linkingUrl>\r\nhttps://www.laufblog-beispiel.de/2023/05/neue-schuhe/\r\n"));
    const std::string base = reportBase("reporting/xovi_api/backlink/");
    EXPECT_EQ(files(),
              (std::set<std::string>{"domains.txt", "tmp_xovi_bkl.txt", base + ".csv", base + ".html", "halmfang.db"}));
    EXPECT_EQ(std::ranges::count(readFile(base + ".csv"), '\n'), 5);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Report gespeichert");
}

// Only what a request line cannot carry is encoded in the domain; maxerg is capped above 10000.
TEST_F(Check, XoviQueryCarriesTheDomainAsTypedAndTheCappedLimit) {
    serveXovi("");
    TForm1& form = makeCheckForm(kXovi);
    const std::string plain = "schuhhaus-beispiel.de";
    const std::string odd = "a&b=c d.example/m\xC3\xBCller\t#x!\"$'()*+,;:<>?@[\\]^_`{|}~%41%";
    const struct {
        std::string domain;
        const char* typed;
        const char* sent; // also what maxerg shows afterwards
        std::string inQuery;
    } cases[] = {{plain, "20000", "1000", plain},
                 {plain, "10000", "10000", plain},
                 {plain, "-5", "-5", plain},
                 {plain, "10001", "1000", plain},
                 {odd, "100", "100", "a&b=c%20d.example/m%C3%BCller%09%23x!\"$'()*+,;:<>?@[\\]^_`{|}~%41%"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.domain + " / " + c.typed);
        form.Domainname->setEditText(QString::fromStdString(c.domain));
        form.maxerg->setText(QString::fromLatin1(c.typed));
        clickCheck(form);
        ASSERT_FALSE(xovi_.requests().empty()) << (boxes_.empty() ? "" : boxes_.back().text);
        EXPECT_EQ(xovi_.requests().back().query, kXoviQuery + c.inQuery + "&limit=" + c.sent + "&format=xml");
        EXPECT_EQ(form.maxerg->text(), QString::fromLatin1(c.sent));
    }
    EXPECT_EQ(xovi_.requests().size(), std::size(cases));
    EXPECT_EQ(readFile("domains.txt"), plain + "\r\n" + odd + "\r\n");
    // An answer without records: headers and the empty row, and still the reports.
    EXPECT_EQ(Cells(form.table()), (Rows{{"Nr.", "Link-URL", "Ankertext"}, Strings(3)}));
    EXPECT_EQ(boxes_.size(), std::size(cases));
    EXPECT_EQ(readFile("tmp_xovi_bkl.txt"), "");
}

TEST_F(Check, NeitherServiceChosenOnlyRecordsTheDomain) {
    writeFile("domains.txt", "alt.example\r\n");
    TForm1& form = makeCheckForm();
    const Rows before = fillEarlierTable(form);
    clickCheck(form);
    EXPECT_EQ(requestCount(), 0u);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(Cells(form.table()), before);
    EXPECT_EQ(form.windowTitle().toStdString(), kTitle);
    EXPECT_EQ(files(), std::set<std::string>{"domains.txt"});
    EXPECT_EQ(readFile("domains.txt"), "alt.example\r\nschuhhaus-beispiel.de\r\n");
}

// Every failure: one error box naming its cause and no credential, the table as it was, no
// temporary file and no report, the history saved, maxerg untouched, the commands free again.
TEST_F(Check, EachFailureShowsOneErrorBoxAndLeavesTableAndFilesAlone) {
    seokicks_.handle("/kaputt", [](const Request&) { return Response::Text("kaputt", 500); });
    seokicks_.handle("/kreis", [](const Request& r) { return Response::Redirect(r.target); });
    xovi_.handle("/still", [](const Request&) { return Silent(); });
    serveXovi(Fixture("xovi_answer.xml"));
    TForm1& form = makeCheckForm();
    const Rows before = fillEarlierTable(form);
    const retrieval::FetchOptions normal = form.checkConnection.fetch;
    retrieval::FetchOptions slow = normal, small = normal, untrusting = normal;
    slow.stallTimeout = 1s;
    slow.totalTimeout = 2s;
    small.maxBodyBytes = 1000;
    untrusting.caFile.clear(); // the system's store, which knows no test certificate
    const std::string closed = "http://127.0.0.1:" + std::to_string(testsupport::ClosedPort());
    const std::string s = seokicks_.baseUrl(), x = xovi_.baseUrl() + kXoviPath;
    const struct {
        const char* reason;
        Service service;
        std::string base; // the request up to the credential's value
        retrieval::FetchOptions options;
        std::size_t requests;
        const char* maxerg = "100";
    } cases[] = {
        {"Verbindung abgelehnt", kSeokicks, closed + "/?appid=", normal, 0},
        {"HTTP-Status 500", kSeokicks, s + "/kaputt?appid=", normal, 1},
        {"Weiterleitungen", kSeokicks, s + "/kreis?appid=", normal, 11}, // the request and ten redirects
        {"HTTP-Status 404", kXovi, xovi_.baseUrl() + "/nirgends.php?key=", normal, 1},
        {"Zeitüberschreitung", kXovi, xovi_.baseUrl() + "/still?key=", slow, 1},
        {"Antwort zu groß", kXovi, x + "?key=", small, 1},
        {"Zertifikat", kXovi, x + "?key=", untrusting, 0}, // the key is never sent
        // A maxerg that is no number stops XOVI before any request.
        {"keine gültige ganze Zahl", kXovi, x + "?key=", normal, 0, "abc"},
        {"keine gültige ganze Zahl", kXovi, x + "?key=", normal, 0, ""},
        {"keine gültige ganze Zahl", kXovi, x + "?key=", normal, 0, "2147483648"},
        {"keine gültige ganze Zahl", kXovi, x + "?key=", normal, 0, "1e3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.reason) + " / maxerg " + c.maxerg);
        boxes_.clear();
        (c.service == kXovi ? form.checkConnection.xoviBase : form.checkConnection.seokicksBase) = c.base;
        form.checkConnection.fetch = c.options;
        form.maxerg->setText(QString::fromUtf8(c.maxerg));
        QTest::mouseClick(form.*c.service, Qt::LeftButton);
        const std::size_t requestsBefore = requestCount();
        QElapsedTimer clock;
        clock.start();
        clickCheck(form);

        EXPECT_LT(clock.elapsed(), 8000);
        EXPECT_EQ(requestCount() - requestsBefore, c.requests);
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].kind, Kind::Error);
        EXPECT_TRUE(Contains(boxes_[0].text, c.reason));
        for (const char* secret : {"xk-123", "sc-456"})
            EXPECT_FALSE(Contains(boxes_[0].text, secret));
        EXPECT_EQ(Cells(form.table()), before);
        EXPECT_EQ(files(), std::set<std::string>{"domains.txt"});
        EXPECT_EQ(readFile("domains.txt"), "schuhhaus-beispiel.de\r\n");
        EXPECT_EQ(form.windowTitle().toStdString(), kTitle);
        EXPECT_EQ(form.maxerg->text(), QString::fromUtf8(c.maxerg));
        ExpectCommandsEnabled(form, true);
    }
}

// A history that exists but could not be read at start is never replaced: "Check" stops where a
// history write error stops it, before any request.
TEST_F(Check, AnUnreadableHistoryIsLeftAloneAndTheCheckStopsBeforeAnyRequest) {
    // Fails to read also for root: reading our own memory at address 0.
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), dir_.filePath("domains.txt")));
    serveSeokicks(Fixture("seokicks_answer.xml"));
    TForm1& form = makeCheckForm(kSeokicks);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_TRUE(Contains(boxes_[0].text, folder_ + "domains.txt"));
    clickCheck(form);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].kind, Kind::Error);
    EXPECT_TRUE(Contains(boxes_[1].text, folder_ + "domains.txt"));
    EXPECT_TRUE(Contains(boxes_[1].text, "bleibt unverändert"));
    EXPECT_EQ(requestCount(), 0u);
    EXPECT_TRUE(QFileInfo(dir_.filePath("domains.txt")).isSymLink());
    EXPECT_EQ(form.Domainname->count(), 0);
}

// A modal box opened during the fetch (an error box of "Speichern", say) and left open longer than
// the fetch may take does not stall the transfer: it goes on in the box's event loop.
TEST_F(Check, AModalBoxOpenLongerThanTheTimeOutDoesNotStallTheFetch) {
    seokicks_.handle(kSeokicksPath, [](const Request&) {
        Response r = Response::Text(Fixture("seokicks_answer.xml"));
        r.delay = 300ms;
        return r;
    });
    TForm1& form = makeCheckForm(kSeokicks);
    form.checkConnection.fetch.totalTimeout = 1s;
    QElapsedTimer boxOpen;
    QTimer::singleShot(50, &form, [&] {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Fehler"), QStringLiteral("offen"),
                        QMessageBox::Ok, &form);
        QTimer::singleShot(2000, &box, &QDialog::accept);
        boxOpen.start();
        box.exec();
    });
    clickCheck(form);

    EXPECT_GE(boxOpen.elapsed(), 1900);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Report gespeichert");
    EXPECT_EQ(form.table().RowCount(), 6);
}

TEST_F(Check, DuringTheWaitTheCommandsRestAndTheServiceCanBeSwitched) {
    serveSeokicks(Fixture("seokicks_answer.xml"));
    serveXovi(Fixture("xovi_answer.xml"));
    TForm1& form = makeCheckForm(kSeokicks);
    bool checkedDuringWait = false;
    QTimer::singleShot(300, &form, [&] {
        checkedDuringWait = true;
        ExpectCommandsEnabled(form, false);
        EXPECT_TRUE(form.XOVI->isEnabled());
        EXPECT_TRUE(form.RadioButton1->isEnabled());
        // A second "Check", by the mouse or by a direct call, starts nothing.
        QTest::mouseClick(form.Button1, Qt::LeftButton);
        form.Button1Click();
        form.Button3Click();
        QTest::mouseClick(form.XOVI, Qt::LeftButton);
    });
    clickCheck(form);

    EXPECT_TRUE(checkedDuringWait);
    EXPECT_EQ(seokicks_.requests().size(), 1u);
    EXPECT_EQ(xovi_.requests().size(), 1u); // the XOVI branch followed in the same command
    EXPECT_EQ(form.table().ColCount(), 3);
    EXPECT_EQ(form.table().RowCount(), 5);
    EXPECT_EQ(form.windowTitle().toStdString(), kTitle + " hole Backlink-Nr.:4");
    EXPECT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(files().size(), 8u); // domain history, two temporary files, two pairs of reports, run history
    ExpectCommandsEnabled(form, true);
}

// A close while the command waits after its request, or while the request hangs, is refused
// until the command has unwound; then the window closes and nothing is written. Shown again, the
// window runs the next command.
TEST_F(Check, ClosingDuringThePacedWaitOrASlowFetchEndsTheCommandWithoutWriting) {
    serveSeokicks(Fixture("seokicks_answer.xml"));
    xovi_.handle(kXoviPath, [](const Request&) { return Silent(); });
    TForm1& form = makeCheckForm();
    form.checkConnection.fetch.stallTimeout = 60s;
    form.checkConnection.fetch.totalTimeout = 120s;
    const Rows before = fillEarlierTable(form);
    for (Service service : {kSeokicks, kXovi}) {
        SCOPED_TRACE(service == kXovi ? "slow fetch" : "paced wait");
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        QTest::mouseClick(form.*service, Qt::LeftButton);
        const std::size_t requestsBefore = requestCount();
        QTimer::singleShot(300, &form, [&] { EXPECT_FALSE(form.close()); });
        QElapsedTimer clock;
        clock.start();
        clickCheck(form);

        EXPECT_LT(clock.elapsed(), 20'000); // far below the time-outs
        EXPECT_EQ(requestCount() - requestsBefore, 1u);
        EXPECT_FALSE(form.isVisible());
        EXPECT_FALSE(form.busy());
        EXPECT_TRUE(boxes_.empty()) << boxes_[0].text;
        EXPECT_EQ(Cells(form.table()), before);
        EXPECT_EQ(files(), std::set<std::string>{"domains.txt"});
    }
    serveXovi("");
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    clickCheck(form);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Report gespeichert");
    EXPECT_TRUE(form.isVisible());
}

TEST_F(Check, ClosingDuringTheRecordWaitsWritesNoReport) {
    serveXovi(Fixture("xovi_answer.xml"));
    TForm1& form = makeCheckForm(kXovi);
    QObject::connect(&form, &QWidget::windowTitleChanged, &form, [&](const QString& title) {
        if (title.endsWith(":3"))
            QTimer::singleShot(0, &form, [&] { form.close(); });
    });
    clickCheck(form);

    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(form.table().RowCount(), 3); // row 2 came, row 3 did not
    EXPECT_EQ(files(), (std::set<std::string>{"domains.txt", "tmp_xovi_bkl.txt"}));
}

// "Abbrechen" during the request or while the XOVI rows come in: the table and the files are as
// before the Check, but for the domain list; nothing is said.
TEST_F(Check, AbbrechenLeavesTableAndFilesAsBefore) {
    xovi_.handle("/still", [](const Request&) { return Silent(); });
    serveXovi(Fixture("xovi_answer.xml"));
    const struct {
        const char* name;
        const char* path;
        bool duringRows;
    } cases[] = {{"request", "/still", false}, {"rows", kXoviPath, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TForm1& form = makeCheckForm(kXovi);
        form.checkConnection.xoviBase = xovi_.baseUrl() + c.path + "?key=";
        const Rows before = fillEarlierTable(form);
        const auto stop = [&form] { QTest::mouseClick(form.Abbrechen, Qt::LeftButton); };
        if (c.duringRows)
            QObject::connect(&form, &QWidget::windowTitleChanged, &form, [&](const QString& title) {
                if (title.endsWith(":3"))
                    QTimer::singleShot(0, &form, stop);
            });
        else
            QTimer::singleShot(300, &form, stop);
        clickCheck(form);

        EXPECT_TRUE(form.isVisible());
        EXPECT_FALSE(form.busy());
        EXPECT_TRUE(boxes_.empty()) << boxes_[0].text;
        EXPECT_EQ(Cells(form.table()), before);
        EXPECT_EQ(files(), std::set<std::string>{"domains.txt"});
        EXPECT_FALSE(form.Abbrechen->isEnabled());
    }
}

// The program as it runs: the event loop ends with status 0 once the command has unwound.
TEST_F(Check, BeendenDuringAFetchEndsTheEventLoopWithStatusZero) {
    xovi_.handle(kXoviPath, [](const Request&) { return Silent(); });
    TForm1& form = makeCheckForm(kXovi);
    QTimer safety; // ends a hanging loop with a status the test rejects
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    safety.start(30'000);
    QTimer::singleShot(0, &form, [&] { clickCheck(form); });
    QTimer::singleShot(300, &form, [&] { form.Beenden1->trigger(); });

    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.busy());
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(files(), std::set<std::string>{"domains.txt"});
}

// A run without a window holds the program folder: the window asks; "Nein" starts nothing, "Ja"
// waits in the status bar until the folder is free, or until "Abbrechen".
TEST_F(Check, AFolderHeldByARunWithoutAWindowIsWaitedForOrLeftAlone) {
    serveSeokicks(Fixture("seokicks_answer.xml"));
    const struct {
        const char* name;
        bool wait;    // the answer to the question
        bool release; // the other run ends meanwhile
        bool checked; // the Check ran
    } cases[] = {
        {"try later", false, true, false},
        {"wait for it", true, true, true},
        {"wait, then Abbrechen", true, false, false},
    };
    TForm1& form = makeCheckForm(kSeokicks);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boxes_.clear();
        const std::size_t before = requestCount();
        auto held = storage::FolderLock::Acquire(folder_, 0ms); // as the scheduled run holds it
        ASSERT_TRUE(held);
        app::QtMessageBox::setNextAnswer(c.wait);
        bool waitingShown = false;
        QTimer::singleShot(300, &form, [&] {
            waitingShown = form.statusBar()->isVisible() && form.Abbrechen->isEnabled() &&
                           form.Fortschritt->LabelSeite->text().toStdString() == app::kFolderBusyWaiting;
            if (c.release)
                held.reset();
            else
                QTest::mouseClick(form.Abbrechen, Qt::LeftButton);
        });
        clickCheck(form);
        held.reset();
        ASSERT_FALSE(boxes_.empty());
        EXPECT_EQ(boxes_[0].kind, Kind::Question);
        EXPECT_EQ(boxes_[0].text, app::kFolderBusyQuestion);
        EXPECT_EQ(waitingShown, c.wait);
        EXPECT_EQ(requestCount() > before, c.checked);
        EXPECT_EQ(boxes_.size() == 2 && boxes_[1].text == "Report gespeichert", c.checked);
        EXPECT_FALSE(form.busy());
        EXPECT_FALSE(form.statusBar()->isVisible());
    }
}

} // namespace
