// Moving a damaged file aside on Linux: flock on its inode, renameat2 that never replaces.
#include "storage/DamagedFile.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storage {

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::optional<std::string> MoveDamagedAside(const std::string& path, const FileIdentity& damaged,
                                            const std::string& name, std::string& fault) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt; // gone already: moved by another process
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    for (int tries = 0; ::flock(fd, LOCK_EX | LOCK_NB) != 0; ++tries) {
        if (errno != EWOULDBLOCK || tries == 100) {
            fault = "Die Verlaufsdatei ist beschädigt und konnte nicht beiseitegelegt werden (" +
                    text::SystemReason(errno == EWOULDBLOCK ? EBUSY : errno) + ")";
            return std::nullopt;
        }
        ::usleep(50'000);
    }
    // Locked, the file at `path` is still the damaged one, or another process has moved it.
    struct stat held {};
    if (::fstat(fd, &held) != 0 ||
        FileIdentity{static_cast<std::uint64_t>(held.st_dev), static_cast<std::uint64_t>(held.st_ino)} !=
            damaged ||
        IdentityOf(path) != damaged)
        return std::nullopt;
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    for (int n = 1; n <= 100; ++n) {
        const std::string aside = n == 1 ? name : name + "-" + std::to_string(n);
        const std::string asidePath = folder + aside;
        if (IdentityOf(asidePath) || IdentityOf(asidePath + "-wal") || IdentityOf(asidePath + "-shm"))
            continue;
        // The -wal and -shm first: as long as the path names the damaged file they are its own,
        // while once it is gone another process may at once start a fresh file with its own.
        for (const char* suffix : {"-wal", "-shm"})
            ::renameat2(AT_FDCWD, (path + suffix).c_str(), AT_FDCWD, (asidePath + suffix).c_str(),
                        RENAME_NOREPLACE);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, asidePath.c_str(), RENAME_NOREPLACE) == 0)
            return aside;
        if (errno != EEXIST) {
            fault = "Die Verlaufsdatei ist beschädigt und konnte nicht beiseitegelegt werden (" +
                    text::SystemReason(errno) + ")";
            return std::nullopt;
        }
    }
    fault = "Die Verlaufsdatei ist beschädigt und konnte nicht beiseitegelegt werden (" +
            text::SystemReason(EEXIST) + ")";
    return std::nullopt;
}

} // namespace storage
