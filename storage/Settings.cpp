#include "storage/Settings.h"

#include "app/contract/Error.h"
#include "storage/Files.h"

#include <cstddef>
#include <sys/types.h>

namespace storage {

namespace {

constexpr const char* kConfigFile = "\\config.txt";
constexpr const char* kHistoryFile = "\\domains.txt";
// The file holds two service credentials.
constexpr mode_t kConfigMode = 0600;

} // namespace

void LoadSettings(toolkit::Window& window) {
    const std::string path = ProgramPath(window.shared.programFolder, kConfigFile);
    if (!FileExists(path))
        return;
    window.memo3.clear();
    window.memo3.lines() = ReadFileLines(path);
    const auto& lines = window.memo3.lines();
    window.fields.setXoviApiText(lines.size() > 0 ? lines[0] : std::string());
    window.fields.setSeokicksText(lines.size() > 1 ? lines[1] : std::string());
}

void SaveSettings(toolkit::Window& window) {
    window.memo3.clear();
    window.memo3.append(window.fields.xoviApiText());
    window.memo3.append(window.fields.seokicksText());
    WriteFileAtomic(ProgramPath(window.shared.programFolder, kConfigFile), window.memo3.text(), kConfigMode);
}

void LoadHistory(toolkit::Window& window) {
    const std::string path = ProgramPath(window.shared.programFolder, kHistoryFile);
    window.shared.historyUnread = FileExists(path);
    if (!window.shared.historyUnread)
        return;
    window.fields.setDomainHistory(ReadFileLines(path));
    window.shared.historyUnread = false;
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

} // namespace storage
