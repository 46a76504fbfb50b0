#include "app/contract/Error.h"
#include "storage/Settings.h"
#include "tests/storage/StorageTestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace storage_test;
namespace fs = std::filesystem;

TEST(Settings, LoadReadsTheFirstTwoLinesInAnyLineEnds) {
    struct Case {
        std::string bytes, xoviApi, seokicks;
        Lines read;
    };
    for (const auto& [bytes, xoviApi, seokicks, read] :
         {Case{ReadBytes(DataFile("config_one_line.txt")), "abc-KEY-123", "", {"abc-KEY-123"}},
          Case{ReadBytes(DataFile("config_bom_lf.txt")),
               "kéy",
               "secret code",
               {"kéy", "secret code", "third line"}}}) {
        SCOPED_TRACE(bytes);
        Harness h;
        WriteBytes(h.folder / "config.txt", bytes);
        storage::LoadSettings(h.window);
        EXPECT_EQ(h.fields.xoviApi, xoviApi);
        EXPECT_EQ(h.fields.seokicks, seokicks);
        EXPECT_EQ(h.memo3.lines(), read);
    }
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

// After config.txt failed to read, "Speichern" reads it again first: a field still showing its
// starting text takes the stored value. While it still fails (here, also for root: reading our
// own memory at address 0), the user is asked before it is replaced; "Nein" keeps it.
TEST(Settings, SaveAfterAnUnreadableConfigReadsItAgainOrAsks) {
    for (const bool readsAgain : {true, false}) {
        SCOPED_TRACE(readsAgain);
        Harness h;
        const std::string path = h.folder / "config.txt";
        fs::create_symlink("/proc/self/mem", path);
        EXPECT_NE(ErrorText([&] { storage::LoadSettings(h.window); }).find(path), std::string::npos);
        if (readsAgain) {
            fs::remove(path);
            WriteBytes(path, "old-key\r\nold-code\r\n");
        }
        h.fields.xoviApi = "new-key";
        storage::SaveSettings(h.window);
        if (readsAgain) {
            EXPECT_TRUE(h.box.questions.empty());
            EXPECT_EQ(ReadBytes(path), "new-key\r\nold-code\r\n");
            EXPECT_EQ(h.fields.seokicks, "old-code");
        } else {
            EXPECT_EQ(h.box.questions, Lines{"Datei konnte nicht gelesen werden: " + path +
                                             " (Ein-/Ausgabefehler).\nDie gespeicherten Zugangsdaten "
                                             "gehen dabei verloren. Trotzdem überschreiben?"});
            EXPECT_TRUE(fs::is_symlink(path));
        }
    }
}

// A data folder that could not be made at start (below a link to a drive not yet mounted) has not
// been read: once the drive is there, neither "Check" nor "Speichern" replaces what it holds.
TEST(Settings, FilesOfADataFolderThatCouldNotBeMadeAreReadBeforeTheyAreReplaced) {
    const struct {
        const char* file;
        std::string stored;
        void (*action)(Harness&);
        std::string expected;
    } cases[] = {
        {"domains.txt", "alt.example\r\n", [](Harness& h) { storage::RecordDomain(h.window); },
         "alt.example\r\nneu.example\r\n"},
        {"config.txt", "old-key\r\nold-code\r\n", [](Harness& h) { storage::SaveSettings(h.window); },
         "old-key\r\nold-code\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Harness h;
        fs::create_symlink(h.folder / "drive", h.folder / "share");
        h.shared.programFolder = h.folder / "share/quandrel-halmfang/";
        h.fields.domain = "neu.example";
        EXPECT_NE(ErrorText([&] { storage::MakeDataFolder(h.shared); }).find("Datenordner"),
                  std::string::npos);
        // Not yet mounted: the write fails.
        EXPECT_NE(ErrorText([&] { c.action(h); }).find(c.file), std::string::npos);

        fs::create_directories(h.folder / "drive/quandrel-halmfang");
        WriteBytes(h.shared.programFolder + c.file, c.stored);
        c.action(h);
        EXPECT_EQ(ReadBytes(h.shared.programFolder + c.file), c.expected);
        EXPECT_TRUE(h.box.questions.empty());
    }
}

TEST(History, AnsiOrUtf8FilesKeepUmlautsAndEmptyEntries) {
    for (const auto& [file, entries] :
         {std::pair{"domains_ansi.txt", Lines{"müller-bau.example", "straße.example", "", "GRÖSSE.example"}},
          std::pair{"domains_utf8_lf.txt", Lines{"first.example", "ärger.example", "last.example"}}}) {
        Harness h;
        fs::copy_file(DataFile(file), h.folder / "domains.txt");
        storage::LoadHistory(h.window);
        EXPECT_EQ(h.fields.history, entries) << file;
    }
}

TEST(History, MissingFileLeavesTheListAlone) {
    Harness h;
    storage::LoadHistory(h.window);
    EXPECT_EQ(h.fields.historySets, 0);
    EXPECT_TRUE(h.fields.history.empty());
}

// A history that exists but fails to read (here, also for root: reading our own memory at
// address 0) is never replaced; once it reads again, the domain joins it.
TEST(History, AnUnreadableHistoryIsLeftAloneUntilItReadsAgain) {
    Harness h;
    const std::string path = h.folder / "domains.txt";
    fs::create_symlink("/proc/self/mem", path);
    EXPECT_NE(ErrorText([&] { storage::LoadHistory(h.window); }).find(path), std::string::npos);
    h.fields.domain = "neu.example";
    EXPECT_EQ(ErrorText([&] { storage::RecordDomain(h.window); }),
              "Datei konnte nicht gelesen werden: " + path +
                  " (Ein-/Ausgabefehler). Die Datei bleibt unverändert.");
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_TRUE(h.fields.history.empty());

    fs::remove(path);
    WriteBytes(path, "alt.example\r\n");
    storage::RecordDomain(h.window);
    EXPECT_EQ(ReadBytes(path), "alt.example\r\nneu.example\r\n");
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
        {{"a.example", "B.example", "a.example", "b.example", "B.example"},
         {"a.example", "B.example", "b.example"}},
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

// browser.txt: what was saved is read back; anything else leaves it to whether a browser is there.
TEST(Settings, BrowserCheckReadsBackWhatWasSavedElseTheFallback) {
    Harness h;
    const std::string folder = h.folder.path();
    const std::string file = h.folder / "browser.txt";
    for (const bool fallback : {true, false})
        EXPECT_EQ(storage::LoadBrowserCheck(folder, fallback), fallback) << "no file";
    storage::SaveBrowserCheck(folder, false);
    EXPECT_EQ(ReadBytes(file), "0\r\n");
    EXPECT_FALSE(storage::LoadBrowserCheck(folder, true));
    storage::SaveBrowserCheck(folder, true);
    EXPECT_EQ(ReadBytes(file), "1\r\n");
    EXPECT_TRUE(storage::LoadBrowserCheck(folder, false));
    WriteBytes(file, "0\n");
    EXPECT_FALSE(storage::LoadBrowserCheck(folder, true)) << "LF line end";
    for (const char* odd : {"", "ja\r\n", "10\r\n", " 1\r\n"}) {
        WriteBytes(file, odd);
        for (const bool fallback : {true, false})
            EXPECT_EQ(storage::LoadBrowserCheck(folder, fallback), fallback) << '"' << odd << '"';
    }
    fs::remove(file);
    fs::create_directory(file);
    EXPECT_TRUE(storage::LoadBrowserCheck(folder, true)) << "a folder in its place";
    EXPECT_THROW(storage::SaveBrowserCheck(folder, false), toolkit::Error);
}
