#include "retrieval/import/ZipArchive.h"

#include "retrieval/import/LinkSheet.h"

#include <algorithm>
#include <memory>
#include <zip.h>

namespace retrieval {

namespace {

constexpr std::uint64_t kRatioFreeBytes = std::uint64_t{1} << 20;

std::string MiB(std::uint64_t bytes) {
    return GroupedNumber(bytes >> 20) + " MiB";
}

} // namespace

bool LooksLikeZip(std::string_view bytes) {
    return bytes.starts_with("PK\x03\x04") || bytes.starts_with("PK\x05\x06");
}

ZipArchive::ZipArchive(std::string_view bytes, std::string name) : name_(std::move(name)) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (source == nullptr) {
        zip_error_fini(&error);
        fail("kann nicht gelesen werden (kein Speicher)");
    }
    zip_ = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (zip_ == nullptr) {
        zip_source_free(source);
        const std::string reason = zip_error_strerror(&error);
        zip_error_fini(&error);
        fail("ist kein lesbares ZIP-Archiv (" + reason + ")");
    }
    zip_error_fini(&error);
    const zip_int64_t count = zip_get_num_entries(zip_, 0);
    if (count < 0 || static_cast<std::uint64_t>(count) > kMaxZipEntries) {
        zip_discard(zip_);
        zip_ = nullptr;
        fail("enthält mehr als " + GroupedNumber(kMaxZipEntries) + " Einträge; so viele hat kein Export");
    }
    for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(zip_, i, 0, &st) != 0 || (st.valid & ZIP_STAT_NAME) == 0)
            continue;
        Entry entry;
        entry.name = st.name;
        entry.size = (st.valid & ZIP_STAT_SIZE) != 0 ? st.size : 0;
        entry.compressed = (st.valid & ZIP_STAT_COMP_SIZE) != 0 ? st.comp_size : 0;
        entry.index = i;
        entry.encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && st.encryption_method != ZIP_EM_NONE;
        entry.directory = !entry.name.empty() && entry.name.back() == '/';
        entries_.push_back(std::move(entry));
    }
}

ZipArchive::~ZipArchive() {
    if (zip_ != nullptr)
        zip_discard(zip_);
}

void ZipArchive::fail(const std::string& what) const {
    throw ImportError("Das ZIP-Archiv „" + name_ + "“ " + what + ".");
}

const ZipArchive::Entry* ZipArchive::find(std::string_view name) const {
    const auto it =
        std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.name == name; });
    return it == entries_.end() ? nullptr : &*it;
}

std::string ZipArchive::read(const Entry& entry, std::uint64_t limit) {
    const std::string where = "„" + entry.name + "“";
    if (entry.encrypted)
        fail("enthält " + where + " verschlüsselt; bitte unverschlüsselt exportieren");
    const auto tooLarge = [&] {
        fail("würde beim Entpacken zu groß (" + where + ": mehr als " + MiB(limit) + ")");
    };
    const auto bomb = [&] {
        fail("entpackt " + where + " auf mehr als das " + std::to_string(kMaxZipRatio) +
             "-Fache seiner Größe; das ist keine Linkliste, sondern womöglich eine Zip-Bombe");
    };
    if (entry.size > limit)
        tooLarge();
    if (entry.size > kRatioFreeBytes &&
        entry.size / std::max<std::uint64_t>(entry.compressed, 1) > kMaxZipRatio)
        bomb();

    const std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(zip_fopen_index(zip_, entry.index, 0),
                                                                 zip_fclose);
    if (!file)
        fail("kann " + where + " nicht öffnen (" + std::string(zip_strerror(zip_)) + ")");
    std::string out;
    out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(entry.size, limit)));
    char buffer[65536];
    for (;;) {
        const zip_int64_t n = zip_fread(file.get(), buffer, sizeof buffer);
        if (n < 0)
            fail("ist beschädigt (" + where + ": " + std::string(zip_file_strerror(file.get())) + ")");
        if (n == 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
        expanded_ += static_cast<std::uint64_t>(n);
        if (out.size() > limit)
            tooLarge();
        if (expanded_ > kMaxZipExpanded)
            fail("würde beim Entpacken zu groß (zusammen mehr als " + MiB(kMaxZipExpanded) + ")");
        if (out.size() > kRatioFreeBytes &&
            out.size() / std::max<std::uint64_t>(entry.compressed, 1) > kMaxZipRatio)
            bomb();
    }
    return out;
}

} // namespace retrieval
