#include "storage/ProgramFolder.h"

#include "app/contract/Error.h"
#include "storage/Files.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storage {

namespace {

constexpr const char* kDataFolderName = "quandrel-halmfang/";

std::string WithSlash(std::string path) {
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

// HOME, or the account's home where the environment does not name one.
std::string HomeFolder(const char* home) {
    if (home != nullptr && home[0] == '/')
        return home;
    if (const passwd* account = ::getpwuid(::getuid()); account != nullptr && account->pw_dir != nullptr)
        return account->pw_dir;
    return "/";
}

} // namespace

InstallLayout BuiltInLayout() {
    return {QH_INSTALL_BINDIR, QH_INSTALL_MARKER};
}

bool IsInstalledLayout(const std::string& executableDir, const InstallLayout& layout) {
    std::string_view dir = executableDir;
    while (dir.size() > 1 && dir.back() == '/')
        dir.remove_suffix(1);
    if (layout.binDir.empty() || !dir.ends_with(layout.binDir))
        return false;
    const std::size_t cut = dir.size() - layout.binDir.size();
    if (cut < 2 || dir[cut - 1] != '/')
        return false;
    std::string marker(dir.substr(0, cut));
    marker.append(layout.marker);
    return FileExists(marker);
}

std::string UserDataFolder(const char* xdgDataHome, const char* home) {
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/')
        return WithSlash(xdgDataHome) + kDataFolderName;
    return WithSlash(HomeFolder(home)) + ".local/share/" + kDataFolderName;
}

std::string ChooseProgramFolder(const std::string& executableDir, const InstallLayout& layout,
                                const char* xdgDataHome, const char* home) {
    if (IsInstalledLayout(executableDir, layout))
        return UserDataFolder(xdgDataHome, home);
    return WithSlash(executableDir);
}

void MakePrivateFolder(const std::string& folder) {
    const std::string path = WithSlash(folder);
    for (std::size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        const std::string level = path.substr(0, pos);
        if (DirectoryExists(level))
            continue;
        if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST)
            throw toolkit::Error("Datenordner konnte nicht angelegt werden: " + level + " (" +
                                 text::SystemReason(errno) + ")");
    }
    if (!DirectoryExists(path))
        throw toolkit::Error("Datenordner konnte nicht angelegt werden: " + path + " (" +
                             text::SystemReason(ENOTDIR) + ")");
}

} // namespace storage
