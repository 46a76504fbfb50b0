#include "app/contract/Error.h"
#include "storage/Files.h"
#include "storage/ProgramFolder.h"
#include "tests/storage/StorageTestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace storage_test;
namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

} // namespace

TEST(Files, SplitFileLinesEndsLinesAtCrLfOrLf) {
    EXPECT_EQ(storage::SplitFileLines(""), Lines{});
    EXPECT_EQ(storage::SplitFileLines("a"), Lines{"a"});
    EXPECT_EQ(storage::SplitFileLines("a\r\n"), Lines{"a"});
    EXPECT_EQ(storage::SplitFileLines("\r\n"), Lines{""});
    EXPECT_EQ(storage::SplitFileLines("a\r\nb\nc"), (Lines{"a", "b", "c"}));
    EXPECT_EQ(storage::SplitFileLines("a\n\n"), (Lines{"a", ""}));
    EXPECT_EQ(storage::SplitFileLines("a\rb\r\nc\r"), (Lines{"a\rb", "c\r"}));
    EXPECT_EQ(storage::JoinCrLf({"a", "", "b"}), "a\r\n\r\nb\r\n");
}

// A history written by an older version in Windows-1252 and extended by a newer one in UTF-8.
TEST(Files, EachStoredLineIsUtf8OrElseWindows1252) {
    const std::pair<std::string, Lines> cases[] = {
        {"m\xC3\xBCller.example\r\nstra\xDF"
         "e.example\r\n",
         {"müller.example", "straße.example"}},
        {"\xEF\xBB\xBF\xE4rger\ngr\xC3\xBC\xC3\x9F"
         "e\r\n\x80",
         {"ärger", "grüße", "€"}},
        {"a\r\xE4\r\n\r\n", {"a\r\xC3\xA4", ""}},
    };
    for (const auto& [bytes, lines] : cases)
        EXPECT_EQ(storage::DecodeFileLines(bytes), lines) << bytes;
}

TEST(Files, ReadFailuresNameTheFile) {
    TempFolder dir;
    EXPECT_EQ(ErrorText([&] { storage::ReadFileBytes(dir / "missing.txt"); }),
              "Datei konnte nicht gelesen werden: " + (dir / "missing.txt") +
                  " (Datei oder Verzeichnis nicht gefunden)");
    fs::create_directory(dir / "sub");
    EXPECT_EQ(ErrorText([&] { storage::ReadFileBytes(dir / "sub"); }),
              "Datei konnte nicht gelesen werden: " + (dir / "sub") + " (Ist ein Verzeichnis)");
}

TEST(Files, AtomicWriteSetsContentAndModeAndLeavesNothingElse) {
    TempFolder dir;
    const std::string path = dir / "config.txt";
    storage::WriteFileAtomic(path, "one\r\ntwo\r\n", 0600);
    EXPECT_EQ(ReadBytes(path), "one\r\ntwo\r\n");
    EXPECT_EQ(ModeOf(path), 0600u);

    ::chmod(path.c_str(), 0666);
    storage::WriteFileAtomic(path, "x", 0600);
    EXPECT_EQ(ReadBytes(path), "x");
    EXPECT_EQ(ModeOf(path), 0600u);

    storage::WriteFileAtomic(dir / "report.csv", "");
    EXPECT_EQ(ReadBytes(dir / "report.csv"), "");
    EXPECT_EQ(ModeOf(dir / "report.csv"), 0644u);
    const std::string longName(255, 'n');
    storage::WriteFileAtomic(dir / longName, "long");
    EXPECT_EQ(ReadBytes(dir / longName), "long");
    EXPECT_EQ(FolderEntries(dir.path()), (Lines{"config.txt", longName, "report.csv"}));
}

TEST(Files, WriteFailuresNameTheTarget) {
    TempFolder dir;
    fs::create_directory(dir / "taken");
    EXPECT_EQ(ErrorText([&] { storage::WriteFileAtomic(dir / "taken", "x"); }),
              "Datei konnte nicht geschrieben werden: " + (dir / "taken") + " (Ist ein Verzeichnis)");
    EXPECT_TRUE(fs::is_directory(dir / "taken"));
    EXPECT_EQ(ErrorText([&] { storage::WriteFileAtomic(dir / "no/such/file.txt", "x"); }),
              "Datei konnte nicht geschrieben werden: " + (dir / "no/such/file.txt") +
                  " (Datei oder Verzeichnis nicht gefunden)");
    const std::string withNul = (dir / "a") + std::string(1, '\0') + "b";
    EXPECT_EQ(ErrorText([&] { storage::WriteFileAtomic(withNul, "x"); }),
              "Datei konnte nicht geschrieben werden: " + (dir / "a?b") + " (Ungültiger Dateiname)");
    EXPECT_EQ(FolderEntries(dir.path()), Lines{"taken"});
}

// A stored file that is a symbolic link stays one: the content goes to the file at the end of
// the chain, whose mode stays; relative targets count from the link's own folder. A dangling
// link's target is made with the mode given.
TEST(Files, AtomicWriteGoesThroughSymbolicLinks) {
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links; // link -> target, "/" = the folder
        std::string target;
        mode_t oldMode; // 0: no target yet
        mode_t mode;
    } cases[] = {
        {"absolute", {{"config.txt", "/store/real.txt"}}, "store/real.txt", 0640, 0640},
        {"relative chain",
         {{"config.txt", "other/hop"}, {"other/hop", "../store/real.txt"}},
         "store/real.txt",
         0604,
         0604},
        {"dangling", {{"config.txt", "store/new.txt"}}, "store/new.txt", 0, 0600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        fs::create_directory(dir / "store");
        fs::create_directory(dir / "other");
        for (const auto& [link, target] : c.links)
            fs::create_symlink(target[0] == '/' ? dir / target.substr(1) : target, dir / link);
        if (c.oldMode != 0) {
            WriteBytes(dir / c.target, "old");
            ::chmod((dir / c.target).c_str(), c.oldMode);
        }
        storage::WriteFileAtomic(dir / "config.txt", "new", 0600);
        EXPECT_TRUE(fs::is_symlink(dir / "config.txt"));
        EXPECT_EQ(ReadBytes(dir / c.target), "new");
        EXPECT_EQ(ModeOf(dir / c.target), c.mode);
        EXPECT_EQ(FolderEntries(dir / "store"), Lines{fs::path(c.target).filename().string()});
    }

    TempFolder dir;
    fs::create_symlink("b", dir / "a");
    fs::create_symlink("a", dir / "b");
    EXPECT_EQ(ErrorText([&] { storage::WriteFileAtomic(dir / "a", "x"); }),
              "Datei konnte nicht geschrieben werden: " + (dir / "a") +
                  " (Zu viele Ebenen symbolischer Verknüpfungen)");
    EXPECT_EQ(FolderEntries(dir.path()), (Lines{"a", "b"}));
}

TEST(ProgramFolder, PathsJoinTheFolderAndTheLiteral) {
    EXPECT_EQ(storage::ProgramPath("/opt/qh/", "\\reporting\\seokicks\\"), "/opt/qh/reporting/seokicks/");
    EXPECT_EQ(storage::ProgramPath("/opt/qh", "\\config.txt"), "/opt/qh/config.txt");
    // Never the file system root when no folder is known.
    EXPECT_EQ(storage::ProgramPath("", "\\config.txt"), "config.txt");
}

// Installed means: the executable in <prefix>/bin with the desktop entry under <prefix>/share.
// Writability plays no part; a root-owned build folder stays portable and vice versa.
TEST(ProgramFolder, InstalledLayoutUsesTheUserDataFolder) {
    TempFolder dir;
    const storage::InstallLayout layout{"bin", "share/applications/org.quandrel.Halmfang.desktop"};
    fs::create_directories(dir / "usr/bin");
    fs::create_directories(dir / "usr/share/applications");
    std::ofstream(dir / "usr/share/applications/org.quandrel.Halmfang.desktop") << "[Desktop Entry]\n";
    fs::create_directories(dir / "build/app");
    fs::create_directories(dir / "copy/bin"); // a bin folder without the rest of an installation

    struct Case {
        std::string exeDir;
        const char* xdg;
        const char* home;
        std::string folder;
    };
    const Case cases[] = {
        {dir / "usr/bin", "/x/data", "/home/u", "/x/data/quandrel-halmfang/"},
        {dir / "usr/bin/", "/x/data/", "/home/u", "/x/data/quandrel-halmfang/"},
        {dir / "usr/bin", nullptr, "/home/u", "/home/u/.local/share/quandrel-halmfang/"},
        {dir / "usr/bin", "", "/home/u/", "/home/u/.local/share/quandrel-halmfang/"},
        {dir / "usr/bin", "relative/data", "/home/u", "/home/u/.local/share/quandrel-halmfang/"},
        {dir / "build/app", "/x/data", "/home/u", (dir / "build/app") + "/"},
        {dir / "copy/bin", "/x/data", "/home/u", (dir / "copy/bin") + "/"},
        {dir / "usr", "/x/data", "/home/u", (dir / "usr") + "/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(storage::ChooseProgramFolder(c.exeDir, layout, c.xdg, c.home), c.folder) << c.exeDir;
}

TEST(ProgramFolder, DataFolderIsCreatedPrivateLevelByLevel) {
    TempFolder dir;
    const std::string folder = (dir / "home/.local/share/quandrel-halmfang") + "/";
    storage::MakePrivateFolder(folder);
    for (const char* level :
         {"home", "home/.local", "home/.local/share", "home/.local/share/quandrel-halmfang"})
        EXPECT_EQ(ModeOf(dir / level), 0700u) << level;
    storage::MakePrivateFolder(folder); // already there: nothing to do, no error

    std::ofstream(dir / "file") << "x";
    EXPECT_EQ(ErrorText([&] { storage::MakePrivateFolder(dir / "file/sub"); }),
              "Datenordner konnte nicht angelegt werden: " + (dir / "file/sub") +
                  " (Ein Teil des Pfades ist kein Verzeichnis)");
}
