// "Check" through the window, against loopback servers standing in for both services.
#include "FormFixture.h"
#include "retrieval/Parsing.h"
#include "storage/Reports.h"
#include "table/BacklinkTable.h"
#include "tests/support/LoopbackServer.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <set>

using namespace std::chrono_literals;
using app::TForm1;
using Kind = app::QtMessageBox::Kind;
using testsupport::LoopbackServer;
using testsupport::Request;
using testsupport::Response;

namespace {

constexpr const char* kSeokicksPath = "/SEOkicksService/V1/inlinkData";
constexpr const char* kXoviPath = "/index.php";
const std::string kTitle = "Quandrel Halmfang 0.1b";

std::string Fixture(const char* name) {
    std::ifstream in(std::string(QH_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::vector<std::string>> Cells(const table::BacklinkTable& t) {
    std::vector<std::vector<std::string>> rows;
    for (std::int32_t row = 0; row < t.RowCount(); ++row)
        rows.push_back(t.RowCells(row));
    return rows;
}

std::size_t CountLines(const std::string& text) {
    std::size_t n = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++n;
    return n;
}

class Check : public FormFixture {
protected:
    // Plain http for SEOkicks, https with the test certificate for XOVI, as the services are.
    TForm1& makeCheckForm(const QString& domain = QStringLiteral("schuhhaus-beispiel.de")) {
        TForm1& form = makeForm();
        form.checkConnection.seokicksBase = seokicks_.baseUrl() + kSeokicksPath + "?appid=";
        form.checkConnection.xoviBase = xovi_.baseUrl() + kXoviPath + "?key=";
        form.checkConnection.fetch.caFile = testsupport::TestCertificateFile();
        form.checkConnection.fetch.connectTimeout = 3s;
        form.checkConnection.fetch.stallTimeout = 3s;
        form.checkConnection.fetch.totalTimeout = 10s;
        form.xovi_api->setText(QStringLiteral("xk-123"));
        form.seokicks->setText(QStringLiteral("sc-456"));
        form.Domainname->setEditText(domain);
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
        return form;
    }

    void serveSeokicks(const std::string& body) {
        seokicks_.handle(kSeokicksPath, [body](const Request&) { return Response::Text(body); });
    }
    void serveXovi(const std::string& body) {
        xovi_.handle(kXoviPath, [body](const Request&) { return Response::Text(body); });
    }

    static void clickCheck(TForm1& form) { QTest::mouseClick(form.Button1, Qt::LeftButton); }

    // Every file below the program folder, relative to it.
    std::set<std::string> files() const {
        std::set<std::string> names;
        QDirIterator it(dir_.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            names.insert(QDir(dir_.path()).relativeFilePath(it.next()).toStdString());
        return names;
    }

    static std::string reportBase(const std::string& folder, const std::string& domain) {
        return folder + storage::DomainStamp(domain) + "_" + storage::DateStamp();
    }

    // A failed fetch: one error box saying `reason`, the table as it was, no temporary file and
    // no report, the history saved.
    void expectFailedCheck(TForm1& form, const std::vector<std::vector<std::string>>& tableBefore,
                           const std::string& reason) {
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].kind, Kind::Error);
        EXPECT_NE(boxes_[0].text.find(reason), std::string::npos) << boxes_[0].text;
        EXPECT_EQ(boxes_[0].text.find("xk-123"), std::string::npos) << boxes_[0].text;
        EXPECT_EQ(boxes_[0].text.find("sc-456"), std::string::npos) << boxes_[0].text;
        EXPECT_EQ(Cells(form.table()), tableBefore);
        EXPECT_EQ(files(), std::set<std::string>{"domains.txt"});
        EXPECT_EQ(readFile("domains.txt"), "schuhhaus-beispiel.de\r\n");
        EXPECT_EQ(form.windowTitle(), QString::fromStdString(kTitle));
        EXPECT_TRUE(form.Button1->isEnabled());
    }

    // A table left by an earlier command, which a failed check must not touch.
    static std::vector<std::vector<std::string>> fillEarlierTable(TForm1& form) {
        form.table().ResetWithHeaders({"Nr.", "Link-URL", "Ankertext"});
        form.table().AppendRecord({"http://alt.example/", "alt"});
        return Cells(form.table());
    }

    LoopbackServer seokicks_{LoopbackServer::Scheme::Http};
    LoopbackServer xovi_{LoopbackServer::Scheme::Https};
};

TEST_F(Check, SeokicksFillsTableWritesRawAnswerAndReportsAndLeavesTheCaption) {
    const std::string answer = Fixture("seokicks_answer.xml");
    serveSeokicks(answer);
    TForm1& form = makeCheckForm();
    form.maxerg->setText(QStringLiteral("20000"));
    QTest::mouseClick(form.RadioButton1, Qt::LeftButton);
    QStringList captions;
    QObject::connect(&form, &QWidget::windowTitleChanged, [&](const QString& t) { captions << t; });

    QElapsedTimer clock;
    clock.start();
    clickCheck(form);
    EXPECT_GE(clock.elapsed(), 1000); // the wait after the request

    ASSERT_EQ(seokicks_.requests().size(), 1u);
    EXPECT_EQ(seokicks_.requests()[0].query,
              "appid=sc-456&query=schuhhaus-beispiel.de&details=2&results=20000&page=1");
    EXPECT_EQ(seokicks_.requests()[0].headers["user-agent"], "Quandrel Halmfang 0.1b");
    EXPECT_TRUE(xovi_.requests().empty());
    EXPECT_EQ(form.maxerg->text(), QStringLiteral("20000"));

    const table::BacklinkTable& t = form.table();
    ASSERT_EQ(t.RowCount(), 6);
    EXPECT_EQ(t.ColCount(), 5);
    EXPECT_EQ(t.RowCells(0),
              (std::vector<std::string>{"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"}));
    EXPECT_EQ(t.RowCells(1), std::vector<std::string>(5));
    EXPECT_EQ(t.RowCells(2),
              (std::vector<std::string>{"2", "http://www.laufblog-beispiel.de/2023/05/neue-schuhe/",
                                        "Schuhhaus Beispiel", "1", "https://schuhhaus-beispiel.de/"}));
    EXPECT_EQ(t.GetCell(0, 3), "3");
    EXPECT_EQ(t.GetCell(2, 3), " Wanderschuhe & Zubehör  ");
    EXPECT_EQ(t.GetCell(0, 5), "5");
    EXPECT_EQ(t.GetCell(1, 5), "https://news.example.com/lokal/eroeffnung");
    EXPECT_GT(t.ColWidth(1), 64); // fitted to the long URLs

    EXPECT_EQ(readFile("tmp_seokicks.txt"), answer);
    toolkit::LineBuffer split;
    split.setText(retrieval::SplitTags(answer));
    EXPECT_EQ(form.Memo1.text(), split.text());
    const std::string base = reportBase("reporting/seokicks/", "schuhhaus-beispiel.de");
    EXPECT_EQ(files(),
              (std::set<std::string>{"domains.txt", "tmp_seokicks.txt", base + ".csv", base + ".html"}));
    const std::string csv = readFile(base + ".csv");
    EXPECT_EQ(csv.rfind("Nr.,Link-URL,Ankertext,Follow,Ziel-URL\r\n", 0), 0u) << csv;
    EXPECT_EQ(CountLines(csv), 6u);
    EXPECT_NE(readFile(base + ".html").find("news.example.com/lokal/eroeffnung"), std::string::npos);
    EXPECT_EQ(readFile("domains.txt"), "schuhhaus-beispiel.de\r\n");

    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].kind, Kind::Message);
    EXPECT_EQ(boxes_[0].text, "Report gespeichert");
    EXPECT_TRUE(captions.isEmpty()) << captions.join('|').toStdString();
    EXPECT_TRUE(form.Button1->isEnabled());
}

TEST_F(Check, XoviShowsEachRecordNumberInTheCaptionAndWritesTheSplitAnswer) {
    const std::string answer = Fixture("xovi_answer.xml");
    serveXovi(answer);
    TForm1& form = makeCheckForm();
    QTest::mouseClick(form.XOVI, Qt::LeftButton);
    std::vector<std::pair<QString, qint64>> captions;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&form, &QWidget::windowTitleChanged,
                     [&](const QString& t) { captions.emplace_back(t, clock.nsecsElapsed()); });

    clickCheck(form);

    ASSERT_EQ(xovi_.requests().size(), 1u);
    EXPECT_EQ(
        xovi_.requests()[0].query,
        "key=xk-123&service=links&method=getbacklinks&domain=schuhhaus-beispiel.de&limit=100&format=xml");
    EXPECT_TRUE(seokicks_.requests().empty());

    ASSERT_EQ(captions.size(), 3u);
    for (std::size_t i = 0; i < captions.size(); ++i)
        EXPECT_EQ(captions[i].first.toStdString(), kTitle + " hole Backlink-Nr.:" + std::to_string(i + 2));
    EXPECT_GE(captions[1].second - captions[0].second, 100'000'000);
    EXPECT_GE(captions[2].second - captions[1].second, 100'000'000);
    EXPECT_EQ(form.windowTitle().toStdString(), kTitle + " hole Backlink-Nr.:4");

    const table::BacklinkTable& t = form.table();
    ASSERT_EQ(t.RowCount(), 5);
    EXPECT_EQ(t.ColCount(), 3);
    EXPECT_EQ(t.RowCells(0), (std::vector<std::string>{"Nr.", "Link-URL", "Ankertext"}));
    EXPECT_EQ(t.RowCells(2),
              (std::vector<std::string>{"2", "https://www.laufblog-beispiel.de/2023/05/neue-schuhe/",
                                        "Schuhhaus Beispiel"}));
    EXPECT_EQ(t.RowCells(4),
              (std::vector<std::string>{"4", "http://verzeichnis.example.net/einkaufen/schuhe.html", ""}));

    const std::string tmp = readFile("tmp_xovi_bkl.txt");
    EXPECT_EQ(tmp, form.Memo3.text());
    EXPECT_NE(tmp.find("\r\n<linkingUrl>\r\nhttps://www.laufblog-beispiel.de/2023/05/neue-schuhe/\r\n"),
              std::string::npos);
    const std::string base = reportBase("reporting/xovi_api/backlink/", "schuhhaus-beispiel.de");
    EXPECT_EQ(files(),
              (std::set<std::string>{"domains.txt", "tmp_xovi_bkl.txt", base + ".csv", base + ".html"}));
    EXPECT_EQ(CountLines(readFile(base + ".csv")), 5u);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Report gespeichert");
}

TEST_F(Check, XoviLimitIsCappedAboveTenThousandAndSentAsTyped) {
    serveXovi("");
    TForm1& form = makeCheckForm();
    QTest::mouseClick(form.XOVI, Qt::LeftButton);
    const struct {
        const char* typed;
        const char* sent;
        const char* kept;
    } cases[] = {{"20000", "1000", "1000"},
                 {"10000", "10000", "10000"},
                 {"-5", "-5", "-5"},
                 {"10001", "1000", "1000"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        form.maxerg->setText(QString::fromLatin1(c.typed));
        clickCheck(form);
        ASSERT_FALSE(xovi_.requests().empty());
        EXPECT_EQ(
            xovi_.requests().back().query,
            std::string("key=xk-123&service=links&method=getbacklinks&domain=schuhhaus-beispiel.de&limit=") +
                c.sent + "&format=xml");
        EXPECT_EQ(form.maxerg->text(), QString::fromLatin1(c.kept));
    }
    EXPECT_EQ(xovi_.requests().size(), std::size(cases));
    // An answer without records: headers and the empty row, and still the reports.
    EXPECT_EQ(form.table().RowCount(), 2);
    EXPECT_EQ(form.table().RowCells(0), (std::vector<std::string>{"Nr.", "Link-URL", "Ankertext"}));
    EXPECT_EQ(boxes_.size(), std::size(cases));
    EXPECT_EQ(readFile("tmp_xovi_bkl.txt"), "");
}

TEST_F(Check, DomainGoesIntoTheQueryAsTypedExceptWhatARequestLineCannotCarry) {
    serveXovi("");
    TForm1& form =
        makeCheckForm(QString::fromUtf8("a&b=c d.example/müller\t#x!\"$'()*+,;:<>?@[\\]^_`{|}~%41%"));
    QTest::mouseClick(form.XOVI, Qt::LeftButton);
    clickCheck(form);
    ASSERT_EQ(xovi_.requests().size(), 1u) << (boxes_.empty() ? "" : boxes_[0].text);
    EXPECT_EQ(xovi_.requests()[0].query, "key=xk-123&service=links&method=getbacklinks&domain="
                                         "a&b=c%20d.example/m%C3%BCller%09%23x!\"$'()*+,;:<>?@[\\]^_`{|}~%41%"
                                         "&limit=100&format=xml");
    EXPECT_EQ(readFile("domains.txt"),
              "a&b=c d.example/m\xC3\xBCller\t#x!\"$'()*+,;:<>?@[\\]^_`{|}~%41%\r\n");
}

TEST_F(Check, NeitherServiceChosenOnlyRecordsTheDomain) {
    writeFile("domains.txt", "alt.example\r\n");
    TForm1& form = makeCheckForm();
    const auto before = fillEarlierTable(form);
    clickCheck(form);
    EXPECT_TRUE(seokicks_.requests().empty());
    EXPECT_TRUE(xovi_.requests().empty());
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(Cells(form.table()), before);
    EXPECT_EQ(form.windowTitle(), QString::fromStdString(kTitle));
    EXPECT_EQ(files(), std::set<std::string>{"domains.txt"});
    EXPECT_EQ(readFile("domains.txt"), "alt.example\r\nschuhhaus-beispiel.de\r\n");
}

TEST_F(Check, MaxergThatIsNoNumberStopsXoviBeforeAnyRequest) {
    serveXovi(Fixture("xovi_answer.xml"));
    TForm1& form = makeCheckForm();
    const auto before = fillEarlierTable(form);
    QTest::mouseClick(form.XOVI, Qt::LeftButton);
    for (const char* text : {"abc", "", "2147483648", "1e3"}) {
        SCOPED_TRACE(text);
        boxes_.clear();
        form.maxerg->setText(QString::fromLatin1(text));
        clickCheck(form);
        expectFailedCheck(form, before, "keine gültige ganze Zahl");
        EXPECT_EQ(form.maxerg->text(), QString::fromLatin1(text));
    }
    EXPECT_TRUE(xovi_.requests().empty());
}

TEST_F(Check, ConnectionRefused) {
    TForm1& form = makeCheckForm();
    form.checkConnection.seokicksBase =
        "http://127.0.0.1:" + std::to_string(testsupport::ClosedPort()) + kSeokicksPath + "?appid=";
    const auto before = fillEarlierTable(form);
    QTest::mouseClick(form.RadioButton1, Qt::LeftButton);
    clickCheck(form);
    expectFailedCheck(form, before, "Verbindung abgelehnt");
}

TEST_F(Check, ErrorStatusesFail) {
    seokicks_.handle(kSeokicksPath, [](const Request&) { return Response::Text("kaputt", 500); });
    TForm1& form = makeCheckForm();
    const auto before = fillEarlierTable(form);
    QTest::mouseClick(form.RadioButton1, Qt::LeftButton);
    clickCheck(form);
    expectFailedCheck(form, before, "HTTP-Status 500");

    boxes_.clear();
    form.checkConnection.xoviBase = xovi_.baseUrl() + "/nirgends.php?key="; // answers 404
    QTest::mouseClick(form.XOVI, Qt::LeftButton);
    clickCheck(form);
    expectFailedCheck(form, before, "HTTP-Status 404");
    ASSERT_EQ(xovi_.requests().size(), 1u);
}

TEST_F(Check, ServerThatNeverAnswersFailsWithinTheTimeout) {
    xovi_.handle(kXoviPath, [](const Request&) {
        Response r;
        r.neverAnswer = true;
        return r;
    });
    TForm1& form = makeCheckForm();
    form.checkConnection.fetch.stallTimeout = 1s;
    form.checkConnection.fetch.totalTimeout = 2s;
    const auto before = fillEarlierTable(form);
    QTest::mouseClick(form.XOVI, Qt::LeftButton);
    QElapsedTimer clock;
    clock.start();
    clickCheck(form);
    EXPECT_LT(clock.elapsed(), 8000);
    expectFailedCheck(form, before, "Zeitüberschreitung");
}

TEST_F(Check, AnswerOverTheCapFails) {
    serveXovi(Fixture("xovi_answer.xml"));
    TForm1& form = makeCheckForm();
    form.checkConnection.fetch.maxBodyBytes = 1000;
    const auto before = fillEarlierTable(form);
    QTest::mouseClick(form.XOVI, Qt::LeftButton);
    clickCheck(form);
    expectFailedCheck(form, before, "Antwort zu groß");
}

TEST_F(Check, UntrustedCertificateFails) {
    serveXovi(Fixture("xovi_answer.xml"));
    TForm1& form = makeCheckForm();
    form.checkConnection.fetch.caFile.clear(); // the system's store, which knows no test certificate
    const auto before = fillEarlierTable(form);
    QTest::mouseClick(form.XOVI, Qt::LeftButton);
    clickCheck(form);
    expectFailedCheck(form, before, "Zertifikat");
}

TEST_F(Check, RedirectLoopFails) {
    seokicks_.handle(kSeokicksPath, [](const Request& r) { return Response::Redirect(r.target); });
    TForm1& form = makeCheckForm();
    const auto before = fillEarlierTable(form);
    QTest::mouseClick(form.RadioButton1, Qt::LeftButton);
    clickCheck(form);
    expectFailedCheck(form, before, "Weiterleitungen");
    EXPECT_EQ(seokicks_.requests().size(), 11u); // the request and ten redirects
}

TEST_F(Check, DuringTheWaitTheCommandsRestAndTheServiceCanBeSwitched) {
    serveSeokicks(Fixture("seokicks_answer.xml"));
    serveXovi(Fixture("xovi_answer.xml"));
    TForm1& form = makeCheckForm();
    QTest::mouseClick(form.RadioButton1, Qt::LeftButton);
    bool checkedDuringWait = false;
    QTimer::singleShot(300, &form, [&] {
        checkedDuringWait = true;
        EXPECT_TRUE(form.busy());
        EXPECT_FALSE(form.Button1->isEnabled());
        EXPECT_FALSE(form.Button3->isEnabled());
        for (QAction* a :
             {form.BLgefunden1, form.BLnichtgefunden1, form.BLSpendertotFehler1, form.zurcksetzen1})
            EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
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
    EXPECT_EQ(files().size(), 7u); // history, two temporary files, two pairs of reports
    EXPECT_TRUE(form.Button1->isEnabled());
    EXPECT_TRUE(form.Button3->isEnabled());
    EXPECT_TRUE(form.BLgefunden1->isEnabled());
    EXPECT_FALSE(form.busy());
}

TEST_F(Check, ClosingDuringThePacedWaitEndsTheCommandWithoutWriting) {
    serveSeokicks(Fixture("seokicks_answer.xml"));
    TForm1& form = makeCheckForm();
    const auto before = fillEarlierTable(form);
    QTest::mouseClick(form.RadioButton1, Qt::LeftButton);
    QTimer::singleShot(200, &form, [&] { EXPECT_FALSE(form.close()); }); // refused while it runs
    clickCheck(form);

    EXPECT_EQ(seokicks_.requests().size(), 1u);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.busy());
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(Cells(form.table()), before);
    EXPECT_EQ(files(), std::set<std::string>{"domains.txt"});
}

TEST_F(Check, ClosingDuringTheRecordWaitsWritesNoReport) {
    serveXovi(Fixture("xovi_answer.xml"));
    TForm1& form = makeCheckForm();
    QTest::mouseClick(form.XOVI, Qt::LeftButton);
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

TEST_F(Check, ClosingDuringASlowFetchAbortsIt) {
    xovi_.handle(kXoviPath, [](const Request&) {
        Response r;
        r.neverAnswer = true;
        return r;
    });
    TForm1& form = makeCheckForm();
    form.checkConnection.fetch.stallTimeout = 60s;
    form.checkConnection.fetch.totalTimeout = 120s;
    const auto before = fillEarlierTable(form);
    QTest::mouseClick(form.XOVI, Qt::LeftButton);
    QTimer::singleShot(300, &form, [&] { form.close(); });
    QElapsedTimer clock;
    clock.start();
    clickCheck(form);

    EXPECT_LT(clock.elapsed(), 20'000); // far below the time-outs
    EXPECT_EQ(xovi_.requests().size(), 1u);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(boxes_.empty()) << boxes_[0].text;
    EXPECT_EQ(Cells(form.table()), before);
    EXPECT_EQ(files(), std::set<std::string>{"domains.txt"});
}

// The program as it runs: the event loop ends with status 0 once the command has unwound.
TEST_F(Check, BeendenDuringAFetchEndsTheEventLoopWithStatusZero) {
    xovi_.handle(kXoviPath, [](const Request&) {
        Response r;
        r.neverAnswer = true;
        return r;
    });
    TForm1& form = makeCheckForm();
    QTest::mouseClick(form.XOVI, Qt::LeftButton);
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

TEST_F(Check, AWindowReopenedAfterACloseDuringACommandRunsTheNextOne) {
    std::atomic<int> answered{0};
    xovi_.handle(kXoviPath, [&answered](const Request&) {
        Response r = Response::Text("");
        r.delay = answered++ == 0 ? 500ms : 0ms;
        return r;
    });
    TForm1& form = makeCheckForm();
    QTest::mouseClick(form.XOVI, Qt::LeftButton);
    QTimer::singleShot(100, &form, [&] { form.close(); });
    clickCheck(form);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(boxes_.empty());

    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    clickCheck(form);
    EXPECT_EQ(xovi_.requests().size(), 2u);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Report gespeichert");
    EXPECT_TRUE(form.isVisible());
}

} // namespace
