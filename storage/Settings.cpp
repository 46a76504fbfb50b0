#include "storage/Settings.h"

#include "app/contract/Error.h"
#include "storage/Files.h"
#include "storage/ProgramFolder.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <sys/types.h>

namespace storage {

namespace {

constexpr const char* kConfigFile = "\\config.txt";
constexpr const char* kHistoryFile = "\\domains.txt";
constexpr const char* kParallelFile = "\\abrufe.txt";
constexpr const char* kBrowserFile = "\\browser.txt";
// The file holds two service credentials.
constexpr mode_t kConfigMode = 0600;
// The starting texts of the credential fields.
constexpr const char* kXoviApiStart = "XOVI-API-Keys";
constexpr const char* kSeokicksStart = "SEO-KICKS-Code";

// The lines of a stored file, or none where there is no such file. `unread` tells whether the
// file may hold what the window lacks: it exists but cannot be read (then this throws), or its
// folder is not there to look into (a data folder on a drive not yet mounted).
std::optional<std::vector<std::string>> ReadStored(const std::string& programFolder, const char* literal,
                                                   bool& unread) {
    const std::string path = ProgramPath(programFolder, literal);
    const bool exists = FileExists(path);
    unread = exists || !DirectoryExists(programFolder.empty() ? "." : programFolder);
    if (!exists)
        return std::nullopt;
    std::vector<std::string> lines = ReadFileLines(path);
    unread = false;
    return lines;
}

std::string Line(const std::vector<std::string>& lines, std::size_t index) {
    return index < lines.size() ? lines[index] : std::string();
}

} // namespace

void MakeDataFolder(toolkit::Shared& shared) {
    try {
        MakePrivateFolder(shared.programFolder);
    } catch (const toolkit::Error&) {
        // Nothing could be read from it: what it may hold is read before anything replaces it.
        shared.settingsUnread = true;
        shared.historyUnread = true;
        throw;
    }
}

void LoadSettings(toolkit::Window& window) {
    const auto lines = ReadStored(window.shared.programFolder, kConfigFile, window.shared.settingsUnread);
    if (!lines)
        return;
    window.memo3.clear();
    window.memo3.lines() = *lines;
    window.fields.setXoviApiText(Line(*lines, 0));
    window.fields.setSeokicksText(Line(*lines, 1));
}

void SaveSettings(toolkit::Window& window) {
    // Saving now would replace credentials the fields never got: read the file again first. A
    // field the user left at its starting text takes the stored value.
    if (window.shared.settingsUnread) {
        try {
            if (const auto stored =
                    ReadStored(window.shared.programFolder, kConfigFile, window.shared.settingsUnread)) {
                if (window.fields.xoviApiText() == kXoviApiStart)
                    window.fields.setXoviApiText(Line(*stored, 0));
                if (window.fields.seokicksText() == kSeokicksStart)
                    window.fields.setSeokicksText(Line(*stored, 1));
            }
        } catch (const toolkit::Error& e) {
            if (!window.box.askYesNo(std::string(e.what()) +
                                     ".\nDie gespeicherten Zugangsdaten gehen dabei verloren. "
                                     "Trotzdem überschreiben?"))
                return;
        }
    }
    window.memo3.clear();
    window.memo3.append(window.fields.xoviApiText());
    window.memo3.append(window.fields.seokicksText());
    WriteFileAtomic(ProgramPath(window.shared.programFolder, kConfigFile), window.memo3.text(), kConfigMode);
    window.shared.settingsUnread = false;
}

void LoadHistory(toolkit::Window& window) {
    if (const auto lines = ReadStored(window.shared.programFolder, kHistoryFile, window.shared.historyUnread))
        window.fields.setDomainHistory(*lines);
}

void RecordDomain(toolkit::Window& window) {
    // Writing the list now would replace entries it never got; the file may have become readable.
    if (window.shared.historyUnread) {
        try {
            LoadHistory(window);
        } catch (const toolkit::Error& e) {
            throw toolkit::Error(std::string(e.what()) + ". Die Datei bleibt unverändert.");
        }
    }
    std::vector<std::string> list = window.fields.domainHistory();
    list.push_back(window.fields.domainText());
    RemoveDuplicates(list);
    window.fields.setDomainHistory(list);
    WriteFileAtomic(ProgramPath(window.shared.programFolder, kHistoryFile), JoinCrLf(list));
    window.shared.historyUnread = false;
}

void RemoveDuplicates(std::vector<std::string>& list) {
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(list.size());
    if (n < 2)
        return;
    // The outer bound is fixed at the start; once i has passed the shrinking list's end the
    // inner range is empty and entry i is never read.
    for (std::ptrdiff_t i = 0; i <= n - 2; ++i) {
        for (std::ptrdiff_t j = static_cast<std::ptrdiff_t>(list.size()) - 1; j >= i + 1; --j) {
            if (list[static_cast<std::size_t>(i)] == list[static_cast<std::size_t>(j)])
                list.erase(list.begin() + j);
        }
    }
}

int LoadParallelFetches(const std::string& programFolder) {
    try {
        const std::string path = ProgramPath(programFolder, kParallelFile);
        if (!FileExists(path))
            return kMinParallelFetches;
        const std::vector<std::string> lines = ReadFileLines(path);
        const std::string line = lines.empty() ? std::string() : lines.front();
        if (line.empty() || line.size() > 2 || line.find_first_not_of("0123456789") != std::string::npos)
            return kMinParallelFetches;
        return std::clamp(std::stoi(line), kMinParallelFetches, kMaxParallelFetches);
    } catch (const toolkit::Error&) {
        return kMinParallelFetches;
    }
}

void SaveParallelFetches(const std::string& programFolder, int value) {
    value = std::clamp(value, kMinParallelFetches, kMaxParallelFetches);
    WriteFileAtomic(ProgramPath(programFolder, kParallelFile), std::to_string(value) + "\r\n");
}

bool LoadBrowserCheck(const std::string& programFolder, bool fallback) {
    try {
        const std::string path = ProgramPath(programFolder, kBrowserFile);
        if (!FileExists(path))
            return fallback;
        const std::vector<std::string> lines = ReadFileLines(path);
        const std::string line = lines.empty() ? std::string() : lines.front();
        return line == "1" || (line != "0" && fallback);
    } catch (const toolkit::Error&) {
        return fallback;
    }
}

void SaveBrowserCheck(const std::string& programFolder, bool on) {
    WriteFileAtomic(ProgramPath(programFolder, kBrowserFile), on ? "1\r\n" : "0\r\n");
}

} // namespace storage
