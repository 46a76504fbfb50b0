#pragma once
// Where the program keeps its files. Run from where it was built or unpacked, it keeps them beside
// the executable; installed, it never writes into the installation but into the user's data folder.

#include <string>
#include <string_view>

namespace storage {

// The installed layout: the executable in <prefix>/<binDir>, the desktop entry at
// <prefix>/<marker>. Both relative, as laid out by the install rules.
struct InstallLayout {
    std::string_view binDir;
    std::string_view marker;
};
InstallLayout BuiltInLayout(); // the layout this program was built with

bool IsInstalledLayout(const std::string& executableDir, const InstallLayout& layout);

// "$XDG_DATA_HOME/quandrel-halmfang/", or "$HOME/.local/share/quandrel-halmfang/" when
// XDG_DATA_HOME is unset, empty or relative (such values are to be ignored). Null means unset.
std::string UserDataFolder(const char* xdgDataHome, const char* home);

// The program folder, ending with '/': the user's data folder for an installed executable,
// otherwise the executable's own directory.
std::string ChooseProgramFolder(const std::string& executableDir, const InstallLayout& layout,
                                const char* xdgDataHome, const char* home);

// Creates the missing levels of `folder`, each with mode 0700; throws toolkit::Error naming the
// folder when it cannot be made.
void MakePrivateFolder(const std::string& folder);

} // namespace storage
