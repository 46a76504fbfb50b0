#include "app/contract/Error.h"
#include "storage/Settings.h"
#include "tests/storage/StorageTestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace storage_test;
namespace fs = std::filesystem;

namespace {} // namespace

TEST(Settings, LoadReadsTwoLinesAndIgnoresTheRest) {
    Harness h;
    WriteBytes(h.folder / "config.txt", "key-1\r\nappid 2\r\nthird\r\n");
    storage::LoadSettings(h.window);
    EXPECT_EQ(h.fields.xoviApi, "key-1");
    EXPECT_EQ(h.fields.seokicks, "appid 2");
    EXPECT_EQ(h.memo3.lines(), (Lines{"key-1", "appid 2", "third"}));
}

TEST(Settings, OneLineConfigLeavesSeokicksEmpty) {
    Harness h;
    fs::copy_file(DataFile("config_one_line.txt"), h.folder / "config.txt");
    storage::LoadSettings(h.window);
    EXPECT_EQ(h.fields.xoviApi, "abc-KEY-123");
    EXPECT_EQ(h.fields.seokicks, "");
}

TEST(Settings, BomAndLfOnlyConfig) {
    Harness h;
    fs::copy_file(DataFile("config_bom_lf.txt"), h.folder / "config.txt");
    storage::LoadSettings(h.window);
    EXPECT_EQ(h.fields.xoviApi, "kéy");
    EXPECT_EQ(h.fields.seokicks, "secret code");
}

TEST(Settings, MissingConfigKeepsTheDefaults) {
    Harness h;
    h.memo3.append("untouched");
    storage::LoadSettings(h.window);
    EXPECT_EQ(h.fields.xoviApi, "XOVI-API-Keys");
    EXPECT_EQ(h.fields.seokicks, "SEO-KICKS-Code");
    EXPECT_EQ(h.memo3.lines(), Lines{"untouched"});

    // A dangling link and a directory are no config file either.
    fs::create_symlink(h.folder / "gone.txt", h.folder / "config.txt");
    storage::LoadSettings(h.window);
    fs::remove(h.folder / "config.txt");
    fs::create_directory(h.folder / "config.txt");
    storage::LoadSettings(h.window);
    EXPECT_EQ(h.fields.xoviApi, "XOVI-API-Keys");
    EXPECT_EQ(h.memo3.lines(), Lines{"untouched"});
}

TEST(Settings, SaveWritesBothFieldsPrivately) {
    Harness h;
    storage::SaveSettings(h.window);
    const std::string path = h.folder / "config.txt";
    EXPECT_EQ(ReadBytes(path), "XOVI-API-Keys\r\nSEO-KICKS-Code\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(FolderEntries(h.folder.path()), Lines{"config.txt"});
    EXPECT_TRUE(h.box.messages.empty());

    h.fields.xoviApi = "Schlüssel";
    h.fields.seokicks = "";
    storage::SaveSettings(h.window);
    EXPECT_EQ(ReadBytes(path), "Schl\xc3\xbcssel\r\n\r\n");
    EXPECT_EQ(h.memo3.lines(), (Lines{"Schlüssel", ""}));

    // What was saved reads back unchanged.
    h.fields.xoviApi = h.fields.seokicks = "other";
    storage::LoadSettings(h.window);
    EXPECT_EQ(h.fields.xoviApi, "Schlüssel");
    EXPECT_EQ(h.fields.seokicks, "");
}

TEST(Settings, FailedSaveKeepsTheOldConfig) {
    Harness h;
    const std::string path = h.folder / "config.txt";
    WriteBytes(path, "old-key\r\nold-code\r\n");
    h.fields.xoviApi = std::string(4000, 'k');
    std::string message;
    {
        FileSizeLimit limit(64);
        message = ErrorText([&] { storage::SaveSettings(h.window); });
    }
    EXPECT_EQ(message, "Datei konnte nicht geschrieben werden: " + path + " (Datei ist zu groß)");
    EXPECT_EQ(ReadBytes(path), "old-key\r\nold-code\r\n");
    EXPECT_EQ(FolderEntries(h.folder.path()), Lines{"config.txt"});

    fs::remove(path);
    fs::create_directory(path);
    message = ErrorText([&] { storage::SaveSettings(h.window); });
    EXPECT_NE(message.find(path), std::string::npos) << message;
}

TEST(History, AnsiFileKeepsItsUmlautsAndEmptyEntries) {
    Harness h;
    fs::copy_file(DataFile("domains_ansi.txt"), h.folder / "domains.txt");
    storage::LoadHistory(h.window);
    EXPECT_EQ(h.fields.history, (Lines{"müller-bau.example", "straße.example", "", "GRÖSSE.example"}));
}

TEST(History, Utf8FileWithLfLineEnds) {
    Harness h;
    fs::copy_file(DataFile("domains_utf8_lf.txt"), h.folder / "domains.txt");
    storage::LoadHistory(h.window);
    EXPECT_EQ(h.fields.history, (Lines{"first.example", "ärger.example", "last.example"}));
}

TEST(History, MissingFileLeavesTheListAlone) {
    Harness h;
    storage::LoadHistory(h.window);
    EXPECT_EQ(h.fields.historySets, 0);
    EXPECT_TRUE(h.fields.history.empty());
}

TEST(History, RecordDomainKeepsFirstOccurrences) {
    Harness h;
    const std::string path = h.folder / "domains.txt";

    storage::RecordDomain(h.window); // untouched field
    storage::RecordDomain(h.window);
    EXPECT_EQ(h.fields.history, Lines{"Domainname"});
    EXPECT_EQ(ReadBytes(path), "Domainname\r\n");

    h.fields.domain = "b.example";
    storage::RecordDomain(h.window);
    h.fields.domain = "";
    storage::RecordDomain(h.window);
    h.fields.domain = "Domainname";
    storage::RecordDomain(h.window);
    EXPECT_EQ(h.fields.history, (Lines{"Domainname", "b.example", ""}));
    EXPECT_EQ(ReadBytes(path), "Domainname\r\nb.example\r\n\r\n");

    // Written in UTF-8 whatever the file was before.
    h.fields.domain = "straße.example";
    storage::RecordDomain(h.window);
    EXPECT_EQ(ReadBytes(path), "Domainname\r\nb.example\r\n\r\nstra\xc3\x9f"
                               "e.example\r\n");
}

TEST(History, RemoveDuplicates) {
    const std::vector<std::pair<Lines, Lines>> cases = {
        {{}, {}},
        {{"x"}, {"x"}},
        {{"a.example", "B.example", "a.example", "b.example", "B.example"},
         {"a.example", "B.example", "b.example"}},
        {{"a", "a", "a"}, {"a"}},
        {{"", "", "x", ""}, {"", "x"}},
        {{"a", "b", "a", "b", "a", "c"}, {"a", "b", "c"}},
        {{"z", "y", "x"}, {"z", "y", "x"}},
    };
    for (const auto& [input, expected] : cases) {
        Lines list = input;
        storage::RemoveDuplicates(list);
        EXPECT_EQ(list, expected) << "input of " << input.size() << " entries";
    }
}
