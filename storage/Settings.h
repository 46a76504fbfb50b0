#pragma once
// config.txt (two credentials) and domains.txt (the domain history). All throw toolkit::Error
// with a German message naming the file and the reason when a file cannot be read or written.

#include "app/contract/Window.h"

#include <string>
#include <vector>

namespace storage {

// Makes the user's data folder, shared.programFolder, at start (MakePrivateFolder). Where it
// cannot be made, both files are marked unread, as an unreadable file is, and the error goes on.
void MakeDataFolder(toolkit::Shared& shared);
// A config.txt that exists but cannot be read is marked unread in window.shared; SaveSettings then
// reads it again (a field still at its starting text takes the stored value) and, while that still
// fails, asks the user before replacing it.
void LoadSettings(toolkit::Window& window);
void SaveSettings(toolkit::Window& window);
// A domains.txt that exists but cannot be read is marked unread in window.shared; RecordDomain
// then reads it again and, while that still fails, leaves it alone and throws.
// A file whose folder is missing stays unread until it can be looked for.
void LoadHistory(toolkit::Window& window);
void RecordDomain(toolkit::Window& window);
void RemoveDuplicates(std::vector<std::string>& list);

// "Gleichzeitige Abrufe", kept in a file of its own (abrufe.txt, one line) so that config.txt
// keeps its two lines. A missing, unreadable or odd file gives 1; values are held to 1..16.
inline constexpr int kMinParallelFetches = 1;
inline constexpr int kMaxParallelFetches = 16;
int LoadParallelFetches(const std::string& programFolder);
// Throws toolkit::Error naming the file when it cannot be written.
void SaveParallelFetches(const std::string& programFolder, int value);

// "Seiten mit JavaScript im Browser nachprüfen", kept in browser.txt (one line, 1 or 0). No file,
// an unreadable or an odd one gives `fallback` (on where a browser is found).
bool LoadBrowserCheck(const std::string& programFolder, bool fallback);
// Throws toolkit::Error naming the file when it cannot be written.
void SaveBrowserCheck(const std::string& programFolder, bool on);

} // namespace storage
