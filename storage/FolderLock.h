#pragma once
// The lock that keeps a scheduled run and a command of the window from working on one program
// folder at once. FolderLockLinux.cpp takes it with flock on the folder itself.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace storage {

// An exclusive lock on the program folder, held for the lifetime of the object. The lock goes
// with the process, so one that crashed never leaves the folder locked.
class FolderLock {
public:
    // Null when another process holds it still after `wait`, or once `keepWaiting` (asked between
    // tries) says no.
    static std::unique_ptr<FolderLock> Acquire(const std::string& programFolder,
                                               std::chrono::milliseconds wait,
                                               const std::function<bool()>& keepWaiting = {});
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    struct Handle;
    explicit FolderLock(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> h_;
};

} // namespace storage
