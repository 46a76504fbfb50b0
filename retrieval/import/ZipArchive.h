#pragma once
// A ZIP archive in memory (Search Console's export, an xlsx workbook), read through libzip within
// limits that a crafted archive (a zip bomb) cannot get past: entries, size of each entry and of
// all together, and the ratio of expanded to compressed size, counted as the data comes out.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct zip;

namespace retrieval {

inline constexpr std::size_t kMaxZipEntries = 1000;
inline constexpr std::uint64_t kMaxZipExpanded = std::uint64_t{1} << 30;
inline constexpr std::uint64_t kMaxZipRatio = 200; // beyond the first MiB of an entry

bool LooksLikeZip(std::string_view bytes);

class ZipArchive {
public:
    struct Entry {
        std::string name;
        std::uint64_t size = 0;       // as the archive declares it
        std::uint64_t compressed = 0; // likewise
        std::uint64_t index = 0;
        bool encrypted = false;
        bool directory = false;
    };

    // `bytes` must outlive the archive. Throws ImportError naming `name`.
    ZipArchive(std::string_view bytes, std::string name);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    const std::vector<Entry>& entries() const { return entries_; }
    const Entry* find(std::string_view name) const;
    // The entry's data, at most `limit` bytes; beyond it, beyond the archive's total or the ratio
    // an ImportError.
    std::string read(const Entry& entry, std::uint64_t limit);

private:
    [[noreturn]] void fail(const std::string& what) const;

    std::string name_;
    ::zip* zip_ = nullptr;
    std::vector<Entry> entries_;
    std::uint64_t expanded_ = 0;
};

} // namespace retrieval
