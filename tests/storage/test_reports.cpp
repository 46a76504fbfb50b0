#include "app/contract/Error.h"
#include "storage/Reports.h"
#include "tests/storage/StorageTestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace storage_test;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kSeokicksHeaders = {"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"};

void FillOneSeokicksRecord(table::BacklinkTable& table) {
    table.ResetWithHeaders(kSeokicksHeaders);
    table.AppendRecord(
        {"http://blog.example/post?a=1&b=2", "Größe \"XL\", neu", "follow", "https://my-site.example/"});
}

} // namespace

TEST(Reports, OneSeokicksRecordMatchesExpectedFilesAndCreatesFolders) {
    Harness h;
    FillOneSeokicksRecord(h.table);
    h.fields.domain = "my-site.example/";
    ASSERT_FALSE(fs::exists(h.folder / "reporting"));

    storage::WriteReports(h.window, "\\reporting\\seokicks\\", "06122026");

    const std::string dir = h.folder / "reporting/seokicks/";
    EXPECT_EQ(ReadBytes(dir + "mysiteexample_06122026.csv"), ReadBytes(DataFile("seokicks_one_record.csv")));
    EXPECT_EQ(ReadBytes(dir + "mysiteexample_06122026.html"),
              ReadBytes(DataFile("seokicks_one_record.html")));
    EXPECT_EQ(FolderEntries(dir),
              (std::vector<std::string>{"mysiteexample_06122026.csv", "mysiteexample_06122026.html"}));
    EXPECT_EQ(h.memo11.count(), 23u);
    EXPECT_EQ(h.shared.reportPath, dir + "mysiteexample_06122026.html");
    EXPECT_EQ(h.box.messages, std::vector<std::string>{"Report gespeichert"});
}

TEST(Reports, ThreeLevelFolderAndEmptyDomainAndReplacement) {
    Harness h;
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

TEST(Reports, CsvQuotesOnlyCommaQuoteAndCodesUpTo32) {
    Harness h;
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

TEST(Reports, HtmlEscapesAngleBracketsButKeepsAmpersands) {
    Harness h;
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

TEST(Reports, Stamps) {
    EXPECT_EQ(storage::DomainStamp("my-site.example/"), "mysiteexample");
    EXPECT_EQ(storage::DomainStamp("a\"b:c/d-e.f"), "abcdef");
    EXPECT_EQ(storage::DomainStamp("Ärger_Straße x\\y"), "Ärger_Straße x\\y");

    EXPECT_EQ(storage::ProgramPath("/opt/qh/", "\\reporting\\seokicks\\"), "/opt/qh/reporting/seokicks/");
    EXPECT_EQ(storage::ProgramPath("/opt/qh", "\\config.txt"), "/opt/qh/config.txt");
    // Never the file system root when no folder is known.
    EXPECT_EQ(storage::ProgramPath("", "\\config.txt"), "config.txt");
}

TEST(Reports, UnwritableCsvStopsBeforeAnythingElse) {
    Harness h;
    FillOneSeokicksRecord(h.table);
    h.fields.domain = "d.example";
    const std::string dir = h.folder / "reporting/seokicks/";
    fs::create_directories(dir + "dexample_06122026.csv");

    const std::string message =
        ErrorText([&] { storage::WriteReports(h.window, "\\reporting\\seokicks\\", "06122026"); });
    EXPECT_NE(message.find("Datei konnte nicht geschrieben werden: " + dir + "dexample_06122026.csv ("),
              std::string::npos)
        << message;
    EXPECT_FALSE(fs::exists(dir + "dexample_06122026.html"));
    EXPECT_EQ(h.memo11.count(), 0u);
    EXPECT_TRUE(h.box.messages.empty());
}

TEST(Reports, FailingHtmlLeavesTheCsvInPlace) {
    Harness h;
    FillOneSeokicksRecord(h.table);
    h.fields.domain = "my-site.example/";
    const std::string dir = h.folder / "reporting/seokicks/";
    fs::create_directories(dir + "mysiteexample_06122026.html");

    const std::string message =
        ErrorText([&] { storage::WriteReports(h.window, "\\reporting\\seokicks\\", "06122026"); });
    EXPECT_NE(message.find(dir + "mysiteexample_06122026.html (Ist ein Verzeichnis)"), std::string::npos)
        << message;
    EXPECT_EQ(ReadBytes(dir + "mysiteexample_06122026.csv"), ReadBytes(DataFile("seokicks_one_record.csv")));
    EXPECT_EQ(h.shared.reportPath, dir + "mysiteexample_06122026.html");
    EXPECT_TRUE(h.box.messages.empty());
}

TEST(Reports, FolderLevelThatCannotBeMadeFailsAtTheWrite) {
    Harness h;
    FillOneSeokicksRecord(h.table);
    h.fields.domain = "x";
    WriteBytes(h.folder / "reporting", "a file in the way");

    const std::string message =
        ErrorText([&] { storage::WriteReports(h.window, "\\reporting\\seokicks\\", "06122026"); });
    EXPECT_NE(message.find(h.folder / "reporting/seokicks/x_06122026.csv"), std::string::npos) << message;
    EXPECT_EQ(ReadBytes(h.folder / "reporting"), "a file in the way");
}

namespace {

std::tm SixthOfDecember2026() {
    std::tm date{};
    date.tm_mday = 6;
    date.tm_mon = 11;
    date.tm_year = 2026 - 1900;
    return date;
}

// Sets an environment variable for its lifetime.
class EnvSetting {
public:
    EnvSetting(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            hadOld_ = true;
            old_ = old;
        }
        ::setenv(name, value, 1);
    }
    ~EnvSetting() {
        if (hadOld_)
            ::setenv(name_, old_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    bool hadOld_ = false;
    std::string old_;
};

bool LocaleInstalled(const char* name) {
    const locale_t loc = ::newlocale(LC_TIME_MASK, name, static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr))
        return false;
    ::freelocale(loc);
    return true;
}

} // namespace

TEST(DateStamp, PlainLocalesGiveTheGermanForm) {
    const std::tm date = SixthOfDecember2026();
    EXPECT_EQ(storage::ShortDate(date, "C"), "06.12.2026");
    EXPECT_EQ(storage::DateStamp(date, "C"), "06122026");
    EXPECT_EQ(storage::DateStamp(date, "POSIX"), "06122026");
    EXPECT_EQ(storage::DateStamp(date, "C.UTF-8"), "06122026");
    EXPECT_EQ(storage::DateStamp(date, "xx_NOWHERE.UTF-8"), "06122026");
}

TEST(DateStamp, TodayFollowsTheEnvironment) {
    EnvSetting lcAll("LC_ALL", "C");
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char expected[16];
    std::strftime(expected, sizeof expected, "%d%m%Y", &local);
    EXPECT_EQ(storage::DateStamp(), expected);
}

TEST(DateStamp, GermanLocale) {
    if (!LocaleInstalled("de_DE.UTF-8"))
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    EXPECT_EQ(storage::ShortDate(SixthOfDecember2026(), "de_DE.UTF-8"), "06.12.2026");
    EXPECT_EQ(storage::DateStamp(SixthOfDecember2026(), "de_DE.UTF-8"), "06122026");
}

TEST(DateStamp, UsLocaleAlsoWhenChosenByLcTime) {
    if (!LocaleInstalled("en_US.UTF-8"))
        GTEST_SKIP() << "locale en_US.UTF-8 is not installed";
    EXPECT_EQ(storage::ShortDate(SixthOfDecember2026(), "en_US.UTF-8"), "12/06/2026");
    EXPECT_EQ(storage::DateStamp(SixthOfDecember2026(), "en_US.UTF-8"), "12062026");

    EnvSetting lcAll("LC_ALL", "");
    EnvSetting lcTime("LC_TIME", "en_US.UTF-8");
    EnvSetting lang("LANG", "C");
    EXPECT_EQ(storage::DateStamp(SixthOfDecember2026(), ""), "12062026");
}
