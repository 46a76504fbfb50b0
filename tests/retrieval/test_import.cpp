// Link lists imported into the table: every format the import reads (fixtures written from the
// tools' published column lists), the refusal of bad files with the table left as it was, and
// what an import leaves behind (rows added without duplicates, reports, history).
#include "retrieval/ImportCommand.h"
#include "retrieval/import/LinkFile.h"
#include "storage/History.h"
#include "storage/Reports.h"
#include "storage/Sqlite.h"
#include "tests/storage/StorageTestSupport.h"

#include <gtest/gtest.h>
#include <zip.h>

namespace retrieval {
inline void PrintTo(const ImportCounts& c, std::ostream* out) {
    *out << CountsText(c);
}
} // namespace retrieval

namespace {

using storage_test::Harness;
using Rows = std::vector<std::vector<std::string>>;

std::string ImportData(const std::string& name) {
    return std::string(QH_TEST_DATA_DIR) + "/import/" + name;
}

// The records of the table (rows 2 on), without the number column.
Rows Records(const table::BacklinkTable& table) {
    Rows rows;
    for (std::int32_t r = 2; r < table.RowCount(); ++r) {
        std::vector<std::string> cells = table.RowCells(r);
        cells.erase(cells.begin());
        rows.push_back(std::move(cells));
    }
    return rows;
}

// A ZIP archive made here, each entry deflated.
std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& entries) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_source_keep(buffer);
    zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    for (const auto& [name, data] : entries) {
        zip_source_t* source = zip_source_buffer_create(data.data(), data.size(), 0, &error);
        zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    }
    zip_close(archive);
    zip_source_open(buffer);
    zip_source_seek(buffer, 0, SEEK_END);
    const zip_int64_t size = zip_source_tell(buffer);
    zip_source_seek(buffer, 0, SEEK_SET);
    std::string out(static_cast<std::size_t>(size), '\0');
    zip_source_read(buffer, out.data(), static_cast<zip_uint64_t>(size));
    zip_source_close(buffer);
    zip_source_free(buffer);
    zip_error_fini(&error);
    return out;
}

// A byte order mark and ASCII text in UTF-16LE.
std::string Utf16Le(std::string_view ascii) {
    std::string out = "\xFF\xFE";
    for (const char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

constexpr const char* kDomain = "müller.example";
const std::string kHome = "https://müller.example/";

// UTF-16 of ASCII and Latin-1 text, with or without its byte order mark.
std::string Utf16(std::string_view utf8, bool bigEndian, bool mark) {
    std::string out = mark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        unsigned c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0xC0)
            c = ((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F);
        out += bigEndian ? static_cast<char>(c >> 8) : static_cast<char>(c & 0xFF);
        out += bigEndian ? static_cast<char>(c & 0xFF) : static_cast<char>(c >> 8);
    }
    return out;
}

struct FormatCase {
    const char* file; // in tests/data/import, or written from `bytes`
    std::string bytes;
    const char* format; // as Describe begins
    const char* encoding;
    retrieval::ImportCounts counts;
    Rows records; // Link-URL, Ankertext, Follow, Ziel-URL
};

TEST(Import, EachFormatFillsTheSeokicksColumns) {
    const FormatCase cases[] = {
        {"search_console_latest_links.csv",
         "",
         "Google Search Console",
         "UTF-8",
         {3, 1, 0},
         {{"https://blog.example.org/2024/05/gartenbau-tipps/", "", "", ""},
          {"https://forum.example.net/thread/4711?page=2", "", "", ""},
          {"http://verzeichnis.example.com/garten.html", "", "", ""}}},
        {"search_console_neueste_links_de.csv",
         "",
         "Google Search Console",
         "UTF-8 mit BOM",
         {2, 0, 0},
         {{"https://nachrichten.example.de/lokal/gartenmesse", "", "", ""},
          {"https://www.vereine.example/links", "", "", ""}}},
        {"search_console_links_export.zip",
         "",
         "Google Search Console aus „Latest links.csv“",
         "UTF-8",
         {3, 1, 0},
         {{"https://blog.example.org/2024/05/gartenbau-tipps/", "", "", ""},
          {"https://forum.example.net/thread/4711?page=2", "", "", ""},
          {"http://verzeichnis.example.com/garten.html", "", "", ""}}},
        {"ahrefs_backlinks_utf16.csv",
         "",
         "Ahrefs",
         "UTF-16LE",
         {3, 0, 0},
         {{"https://gartenblog.example/mai/", "Gartenbau Müller", "1", kHome},
          {"https://forum.example.net/t/123", "hier", "0", "https://müller.example/hecken/"},
          {"https://links.example.org/", "Müller", "", kHome}}},
        {"semrush_backlinks.csv",
         "",
         "Semrush",
         "UTF-8",
         {2, 1, 0},
         {{"https://parks.example.com/artikel/7", "Gartenbau Müller", "1", kHome},
          {"https://sammlung.example/links.html", "=HYPERLINK(\"http://böse.example\")", "0",
           "https://müller.example/kontakt"}}},
        {"majestic_backlinks.csv",
         "",
         "Majestic",
         "UTF-8",
         {2, 0, 0},
         {{"https://gartenverband.example/mitglieder", "Müller GmbH", "1", kHome},
          {"http://kommentare.example/seite?id=9", "Tipps", "0", "https://müller.example/blog/"}}},
        {"moz_inbound_links.csv",
         "",
         "Moz",
         "UTF-8",
         {2, 0, 0},
         {{"https://presse.example/garten", "Gartenbau Müller", "1", kHome},
          {"https://kommentar.example/beitrag/3", "Müller", "0", kHome}}},
        {"bing_backlinks.csv",
         "",
         "Bing Webmaster Tools",
         "UTF-8",
         {2, 0, 0},
         {{"https://www.stadtportal.example/gewerbe", "Gartenbau", "", kHome},
          {"https://branchen.example/garten/muenchen", "Müller", "", "https://müller.example/standorte/"}}},
        {"quoted_multiline.tsv",
         "",
         "Bing Webmaster Tools",
         "UTF-8",
         {2, 0, 0},
         {{"https://zitate.example/a", "Zeile eins\nZeile \"zwei\"", "", kHome},
          {"https://zitate.example/b", "<b>fett</b>", "", kHome}}},
        {"plain_list.txt",
         "",
         "Adressliste",
         "UTF-8",
         {2, 1, 2},
         {{"https://partner-a.example/empfehlungen", "", "", ""},
          {"https://partner-b.example/garten?ref=muller", "", "", ""}}},
        {"windows1252_semicolon.csv",
         "",
         "CSV",
         "Windows-1252",
         {2, 0, 0},
         {{"https://händler.example/partner", "Gärtnerei Müller", "", kHome},
          {"https://verband.example/mitglieder", "Müller & Söhne", "", "https://müller.example/ueber-uns"}}},
        // No header: the column on the domain is the target, whichever comes first.
        {"headerless.csv",
         "",
         "CSV",
         "UTF-8",
         {3, 0, 0},
         {{"https://blog.example.org/a", "", "", kHome},
          {"https://blog.example.org/b", "", "", "https://müller.example/shop"},
          {"https://news.example.com/c", "", "", kHome}}},
        // The first sheet is the one the workbook names first, whatever its file.
        {"links.xlsx",
         "",
         "Excel-Arbeitsmappe (erstes Blatt)",
         "",
         {2, 0, 0},
         {{"https://tabelle.example/a", "Gartenbau Müller", "", kHome},
          {"https://tabelle.example/b", "42", "", ""}}},
        // A spreadsheet's delimiter line; commas inside the addresses stay theirs.
        {"sep.csv",
         "sep=;\r\nSource url;Anchor;Target url\r\nhttps://a.example/x?a=1,2;Anker, "
         "zwei;https://müller.example/\r\n",
         "CSV · UTF-8 · Semikolon",
         "UTF-8",
         {1, 0, 0},
         {{"https://a.example/x?a=1,2", "Anker, zwei", "", kHome}}},
        {"utf16be.txt",
         Utf16("https://a.example/ä\n", true, true),
         "Adressliste",
         "UTF-16BE",
         {1, 0, 0},
         {{"https://a.example/ä", "", "", ""}}},
        {"utf16le_ohne_bom.csv",
         Utf16("Linking page\tLast crawled\nhttps://b.example/\t2024-05-01\n", false, false),
         "Google Search Console",
         "UTF-16LE",
         {1, 0, 0},
         {{"https://b.example/", "", "", ""}}},
        // Header names with their case, spaces and punctuation of any kind.
        {"schreibweisen.csv",
         "SOURCE-URL,anchor_text,Target  URL\nhttps://c.example/,Anker,https://müller.example/\n",
         "Bing Webmaster Tools",
         "UTF-8",
         {1, 0, 0},
         {{"https://c.example/", "Anker", "", kHome}}},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.file);
        Harness h;
        h.fields.domain = kDomain;
        std::string path = ImportData(c.file);
        if (!c.bytes.empty()) {
            path = h.folder / c.file;
            storage_test::WriteBytes(path, c.bytes);
        }
        retrieval::LinkList list;
        try {
            list = retrieval::ReadLinkFile(path, retrieval::DomainFormsOf(kDomain));
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        EXPECT_TRUE(retrieval::Describe(list).starts_with(c.format)) << retrieval::Describe(list);
        EXPECT_EQ(list.encoding, c.encoding);
        EXPECT_EQ(retrieval::CountImport(h.table, list, list.roles), c.counts);
        EXPECT_EQ(retrieval::RunImport(h.window, list, list.roles), c.counts);
        EXPECT_EQ(h.table.RowCells(0),
                  (std::vector<std::string>{"Nr.", "Link-URL", "Ankertext", "Follow", "Ziel-URL"}));
        EXPECT_EQ(Records(h.table), c.records);
    }
}

// Search Console's lists in the interface languages; in one whose names are not known, the
// addresses beside dates still make it one.
TEST(Import, SearchConsoleListsInEachLanguage) {
    const std::pair<const char*, const char*> headers[] = {
        {"Linking page", "Last crawled"},
        {"LINKING PAGE", "LAST CRAWLED"},
        {"Verweisende Seite", "Zuletzt gecrawlt"},
        {"Page de référence", "Dernière exploration"},
        {"Página que enlaza", "Último rastreo"},
        {"Pagina di collegamento", "Ultima scansione"},
        {"Linkende pagina", "Laatst gecrawld"},
        {"Página de vinculação", "Último rastreamento"},
        {"Strona z linkiem", "Ostatnie skanowanie"},
        {"Связанная страница", "Последнее сканирование"},
    };
    for (const auto& [page, crawled] : headers) {
        SCOPED_TRACE(page);
        const std::string text = std::string(page) + "," + crawled + "\nhttps://a.example/1,17.05.2024\n" +
                                 "https://a.example/2,\"May 2, 2024\"\n";
        const retrieval::LinkList list = retrieval::ReadLinkBytes(text, "links.csv", {});
        EXPECT_EQ(list.format, "Google Search Console");
        EXPECT_EQ(list.roles, (retrieval::ColumnRoles{0, -1, -1, -1, retrieval::FollowKind::None}));
        EXPECT_EQ(list.sheet.rows(), 2u);
    }
}

// A long list is let go of while the table fills; a Link-URL seen long before is still known.
TEST(Import, DuplicatesFarApartAreFoundWhileTheListIsLetGo) {
    std::string text;
    for (int i = 0; i < 30000; ++i)
        text += "https://a.example/seite-" + std::to_string(i) + "\n";
    text += "HTTPS://A.EXAMPLE:443/seite-0#oben\nhttps://a.example/seite-29999\nhttps://a.example/neu\n";
    Harness h;
    retrieval::LinkList list = retrieval::ReadLinkBytes(text, "lang.txt", {});
    const retrieval::ColumnRoles roles = list.roles;
    EXPECT_EQ(retrieval::AddToTable(h.table, list, roles), (retrieval::ImportCounts{30001, 2, 0}));
    EXPECT_EQ(h.table.GetCell(1, 2), "https://a.example/seite-0");
    EXPECT_EQ(h.table.GetCell(1, 30002), "https://a.example/neu");
}

struct BadCase {
    const char* name;
    std::string bytes; // written to a file of that name; empty: the fixture of that name
    std::vector<std::string> says;
};

TEST(Import, BadFilesAreRefusedWithWhatAndWhereAndTheTableStaysAsItWas) {
    std::string manyRows;
    for (int i = 0; i <= 1'000'000; ++i)
        manyRows += "http://a.example/" + std::to_string(i) + "\n";
    const BadCase cases[] = {
        {"broken_quote.csv", "", {"„broken_quote.csv“, Zeile 3", "Anführungszeichen"}},
        {"picture.png", "", {"picture.png", "Binärdaten"}},
        {"old_format.xls", "", {"alten Format (.xls)", "CSV UTF-8"}},
        {"search_console_counts_only.zip", "", {"keine Liste verweisender Seiten", "„Top linked pages.csv“"}},
        {"Top linked pages.csv",
         "Target page,Incoming links,Linking sites\nhttps://müller.example/,40,9\n",
         {"zählt nur Links"}},
        {"zählungen.csv",
         "Seite;Links\nhttps://müller.example/;40\nhttps://müller.example/a;3\n",
         {"zählt nur Links"}},
        {"bombe.zip",
         MakeZip({{"Latest links.csv", "Linking page,Last crawled\n" + std::string(64 << 20, ' ')}}),
         {"bombe.zip", "Zip-Bombe"}},
        {"viele.txt", manyRows, {"Zeile 1.000.001", "mehr als 1.000.000 Zeilen"}},
        {"lang.csv",
         "Source url,Anchor\nhttps://a.example/," + std::string((1 << 20) + 10, 'x') + "\n",
         {"„lang.csv“, Zeile 2", "länger als 1 MiB"}},
        {"utf16.csv", Utf16Le("http://a\n") + std::string("\x00\xD8x\0", 4), {"UTF-16LE", "Zeile 2"}},
        {"bom.csv",
         "\xEF\xBB\xBFLinking page\nhttps://a.example/\xFF\n",
         {"als UTF-8 gekennzeichnet", "Zeile 2"}},
        {"brief.txt", "Liebe Grüße aus München,\nwir melden uns nächste Woche.\n", {"keine Linkliste"}},
        {"leer.csv", "", {"leer"}},
        {"viele.zip",
         [] {
             std::vector<std::pair<std::string, std::string>> entries;
             for (int i = 0; i <= 1000; ++i)
                 entries.emplace_back("teil-" + std::to_string(i) + ".csv", "https://a.example/\n");
             return MakeZip(entries);
         }(),
         {"mehr als 1.000 Einträge"}},
        {"entitaeten.xlsx",
         MakeZip(
             {{"xl/workbook.xml", "<!DOCTYPE w [<!ENTITY a \"aaaa\">]><workbook><sheets><sheet r:id=\"r\"/>"
                                  "</sheets></workbook>"}}),
         {"entitaeten.xlsx", "Dokumenttyp", "als „CSV UTF-8“ speichern"}},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.fields.domain = kDomain;
        std::string path = ImportData(c.name);
        if (std::string(c.name) == "leer.csv" || !c.bytes.empty()) {
            path = h.folder / c.name;
            storage_test::WriteBytes(path, c.bytes);
        }
        // One list imported before: it stays as it is.
        retrieval::ImportFile(h.window, ImportData("bing_backlinks.csv"));
        const Rows before = Records(h.table);
        const std::vector<std::string> folder = storage_test::FolderEntries(h.folder.path());
        const std::string message = storage_test::ErrorText([&] { retrieval::ImportFile(h.window, path); });
        for (const std::string& part : c.says)
            EXPECT_NE(message.find(part), std::string::npos) << message << " lacks " << part;
        EXPECT_EQ(Records(h.table), before);
        EXPECT_EQ(storage_test::FolderEntries(h.folder.path()), folder);
    }
}

// A second list adds to the first without the Link-URLs it has; each import writes its reports
// (cells spreadsheet-safe) and is stored as a Check run of the service "liste" with its file.
TEST(Import, ASecondListAddsToTheFirstAndEachIsReportedAndStored) {
    Harness h;
    h.fields.domain = "";
    // No domain typed: the one most targets lie on.
    EXPECT_EQ(retrieval::ImportFile(h.window, ImportData("semrush_backlinks.csv")),
              (retrieval::ImportCounts{2, 1, 0}));
    EXPECT_EQ(h.fields.domain, kDomain);
    retrieval::LinkList second =
        retrieval::ReadLinkBytes("https://sammlung.example/links.html\nhttps://neu.example/seite\n",
                                 "Zwischenablage", retrieval::DomainFormsOf(kDomain));
    EXPECT_EQ(retrieval::RunImport(h.window, second, second.roles), (retrieval::ImportCounts{1, 1, 0}));
    const Rows records = Records(h.table);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2], (std::vector<std::string>{"https://neu.example/seite", "", "", ""}));
    EXPECT_EQ(h.table.GetCell(0, 4), "4");

    const std::string base =
        h.folder / ("reporting/liste/" + storage::DomainStamp(kDomain) + "_" + storage::DateStamp());
    const std::string csv = storage_test::ReadBytes(base + ".csv");
    EXPECT_NE(csv.find("\"'=HYPERLINK(\"\"http://böse.example\"\")\""), std::string::npos) << csv;
    EXPECT_NE(storage_test::ReadBytes(base + ".html").find("https://neu.example/seite"), std::string::npos);
    EXPECT_EQ(h.box.messages, (std::vector<std::string>{"Report gespeichert", "Report gespeichert"}));
    EXPECT_TRUE(h.box.errors.empty());

    storage::sqlite::Database db(storage::HistoryPath(h.folder.path()),
                                 storage::sqlite::Database::Mode::OpenExisting, 1000);
    storage::sqlite::Statement runs(
        db, "SELECT service, source_file, record_count, domain FROM check_runs ORDER BY id");
    std::vector<std::string> stored;
    while (runs.step())
        stored.push_back(runs.text(0) + "|" + runs.text(1) + "|" + std::to_string(runs.integer(2)) + "|" +
                         runs.text(3));
    EXPECT_EQ(stored, (std::vector<std::string>{"liste|semrush_backlinks.csv|2|müller.example",
                                                "liste|Zwischenablage|3|müller.example"}));
}

TEST(Import, WithoutDomainOrTargetsNothingChanges) {
    Harness h;
    h.fields.domain = "Domainname"; // the field as the window starts
    const std::string message = storage_test::ErrorText(
        [&] { retrieval::ImportFile(h.window, ImportData("search_console_latest_links.csv")); });
    EXPECT_NE(message.find("Bitte eine Domain eingeben"), std::string::npos) << message;
    EXPECT_EQ(h.table.RowCount(), table::BacklinkTable::kStartCount);
    EXPECT_TRUE(storage_test::FolderEntries(h.folder.path()).empty());
}

} // namespace
