// The program folder's lock on Linux: flock on the folder itself.
#include "storage/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace storage {

struct FolderLock::Handle {
    explicit Handle(int descriptor) : fd(descriptor) {}
    int fd;
};

std::unique_ptr<FolderLock> FolderLock::Acquire(const std::string& programFolder,
                                                std::chrono::milliseconds wait,
                                                const std::function<bool()>& keepWaiting) {
    // The folder itself is locked: no file of its own in it, and apart from SQLite's locks on
    // halmfang.db, which a descriptor of ours on that file could release.
    const std::string path = programFolder.empty() ? std::string(".") : programFolder;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return std::unique_ptr<FolderLock>(new FolderLock(std::make_unique<Handle>(fd)));
        if (std::chrono::steady_clock::now() >= until || (keepWaiting && !keepWaiting()))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::close(fd);
    return nullptr;
}

FolderLock::FolderLock(std::unique_ptr<Handle> handle) : h_(std::move(handle)) {}

FolderLock::~FolderLock() {
    ::close(h_->fd);
}

} // namespace storage
