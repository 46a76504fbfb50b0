#pragma once
// A damaged file moved aside for a closer look, when several processes may find it damaged at once.
// DamagedFileLinux.cpp does it with flock and renameat2.

#include <cstdint>
#include <optional>
#include <string>

namespace storage {

// Which file a path names (device and inode on Linux).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOf(const std::string& path);

// Moves the damaged file `damaged` at `path` aside as `name` in its folder (or `name`-2, -3, ...
// when that exists: nothing is replaced), with its -wal and -shm files. Each process locks the
// file first, and only one that still finds `damaged` at `path` moves it, so that none moves
// another process's fresh file or its -wal and -shm. Returns the name it got; none, with `fault`
// set, when it could not be moved; none with `fault` empty when `path` no longer names `damaged`.
std::optional<std::string> MoveDamagedAside(const std::string& path, const FileIdentity& damaged,
                                            const std::string& name, std::string& fault);

} // namespace storage
