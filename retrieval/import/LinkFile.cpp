#include "retrieval/import/LinkFile.h"

#include "retrieval/import/Delimited.h"
#include "retrieval/import/TextDecode.h"
#include "retrieval/import/Xlsx.h"
#include "retrieval/import/ZipArchive.h"
#include "text/Ascii.h"
#include "text/SystemReason.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace retrieval {

namespace {

constexpr std::size_t kSampleRows = 1000;

std::string Quoted(std::string_view name) {
    return "„" + std::string(name) + "“";
}

// A count: digits, grouped by thousands with '.', ',' or a space ("1.234"); never a date.
bool IsNumber(std::string_view cell) {
    cell = text::ascii::Trim(cell);
    std::size_t group = 0, groups = 0;
    for (const char c : cell) {
        if (c >= '0' && c <= '9') {
            ++group;
        } else if (c == '.' || c == ',' || c == ' ') {
            if (group == 0 || (groups > 0 && group != 3) || (groups == 0 && group > 3))
                return false;
            ++groups;
            group = 0;
        } else {
            return false;
        }
    }
    return group > 0 && (groups == 0 || group == 3);
}

// A date as the crawl dates of Search Console show it: digits, short, no address, not a count.
bool IsDateLike(std::string_view cell) {
    cell = text::ascii::Trim(cell);
    return !cell.empty() && cell.size() <= 40 && !IsNumber(cell) && !IsWebAddress(cell) &&
           std::any_of(cell.begin(), cell.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct ColumnSample {
    std::size_t filled = 0;
    std::size_t addresses = 0;
    std::size_t numbers = 0;
    std::size_t dates = 0;
    std::size_t onDomain = 0;
    std::set<std::string> hosts;
    bool addressColumn() const { return addresses > 0 && addresses * 2 >= filled; }
};

bool OnDomain(const std::string& host, const DomainForms& domain) {
    for (const std::string& d : domain)
        if (!d.empty() && (host == d || (host.size() > d.size() && host.ends_with(d) &&
                                         host[host.size() - d.size() - 1] == '.')))
            return true;
    return false;
}

std::vector<ColumnSample> Sample(const LinkSheet& sheet, const DomainForms& domain) {
    std::vector<ColumnSample> columns(sheet.columns());
    const std::size_t rows = std::min(sheet.rows(), kSampleRows);
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const std::string_view cell = text::ascii::Trim(sheet.cell(r, c));
            if (cell.empty())
                continue;
            ColumnSample& s = columns[c];
            ++s.filled;
            if (IsWebAddress(cell)) {
                ++s.addresses;
                std::string host = AddressHost(cell);
                s.onDomain += OnDomain(host, domain);
                s.hosts.insert(std::move(host));
            } else if (IsNumber(cell)) {
                ++s.numbers;
            } else if (IsDateLike(cell)) {
                ++s.dates;
            }
        }
    return columns;
}

bool RowHasAddress(const LinkSheet& sheet, std::size_t row) {
    for (std::size_t c = 0; c < sheet.columns(); ++c)
        if (IsWebAddress(text::ascii::Trim(sheet.cell(row, c))))
            return true;
    return false;
}

[[noreturn]] void CountsOnly(std::string_view name) {
    throw NotAListError(
        Quoted(name) +
        " zählt nur Links (wie „Top linking sites“, „Top linked pages“ oder „Top linking text“ der "
        "Search Console) und nennt keine verweisenden Seiten. In der Search Console unter Links > "
        "„Neueste Links“ die Liste der verweisenden Seiten exportieren.");
}

// Header, preset, and the columns that the header leaves open found by their content.
void Recognise(LinkList& list, const DomainForms& domain, bool plainList) {
    LinkSheet& sheet = list.sheet;
    if (sheet.rows() == 0)
        throw NotAListError(Quoted(list.name) + " ist leer.");
    if (!plainList && sheet.rows() > 1 && !RowHasAddress(sheet, 0))
        sheet.takeHeader();
    if (sheet.rows() > kMaxImportRows)
        throw ImportError(Quoted(list.name) + " hat mehr als " + GroupedNumber(kMaxImportRows) +
                          " Zeilen. Bitte in kleineren Teilen importieren.");

    PresetMatch match;
    if (sheet.hasHeader())
        match = MatchPreset(sheet.header());
    ColumnRoles roles = match.roles;
    const std::vector<ColumnSample> samples = Sample(sheet, domain);
    const auto isAddressColumn = [&](int c) {
        return c >= 0 && static_cast<std::size_t>(c) < samples.size() &&
               samples[static_cast<std::size_t>(c)].addressColumn();
    };
    std::vector<int> addressColumns;
    for (std::size_t c = 0; c < samples.size(); ++c)
        if (samples[c].addressColumn())
            addressColumns.push_back(static_cast<int>(c));

    // A name alone does not make a column of addresses where the file has others.
    if (match.format.empty() && roles.source >= 0 && !isAddressColumn(roles.source) &&
        !addressColumns.empty())
        roles.source = -1;
    if (match.format.empty() && roles.target >= 0 && !isAddressColumn(roles.target))
        roles.target = -1;

    if (match.counts && addressColumns.empty())
        CountsOnly(list.name);
    if (roles.source < 0) {
        // One column of addresses beside nothing but numbers of no known meaning: a file of counts.
        std::size_t numeric = 0, other = 0;
        for (std::size_t c = 0; c < samples.size(); ++c) {
            const int col = static_cast<int>(c);
            if (samples[c].filled == 0 || samples[c].addressColumn() || col == roles.anchor ||
                col == roles.follow)
                continue;
            ++(samples[c].numbers == samples[c].filled ? numeric : other);
        }
        if (addressColumns.size() == 1 && numeric > 0 && other == 0)
            CountsOnly(list.name);
        std::vector<int> open;
        for (const int c : addressColumns)
            if (c != roles.target)
                open.push_back(c);
        if (roles.target < 0 && open.size() >= 2) {
            // The target column: the one on the domain, or failing that the one with fewest hosts.
            const auto best = std::max_element(open.begin(), open.end(), [&](int a, int b) {
                const ColumnSample& sa = samples[static_cast<std::size_t>(a)];
                const ColumnSample& sb = samples[static_cast<std::size_t>(b)];
                return sa.onDomain < sb.onDomain;
            });
            const ColumnSample& sb = samples[static_cast<std::size_t>(*best)];
            if (sb.onDomain * 2 >= sb.addresses && sb.onDomain > 0) {
                roles.target = *best;
            } else {
                const auto fewest = std::min_element(open.begin(), open.end(), [&](int a, int b) {
                    return samples[static_cast<std::size_t>(a)].hosts.size() <
                           samples[static_cast<std::size_t>(b)].hosts.size();
                });
                const std::size_t least = samples[static_cast<std::size_t>(*fewest)].hosts.size();
                if (std::count_if(open.begin(), open.end(), [&](int c) {
                        return samples[static_cast<std::size_t>(c)].hosts.size() == least;
                    }) == 1)
                    roles.target = *fewest;
            }
            open.erase(std::remove(open.begin(), open.end(), roles.target), open.end());
        }
        if (!open.empty())
            roles.source = open.front();
    }
    if (roles.source < 0)
        throw NotAListError(
            Quoted(list.name) +
            " ist keine Linkliste: keine Spalte enthält Adressen, die mit http:// oder https:// "
            "beginnen.");
    if (roles.target == roles.source)
        roles.target = -1;

    // Search Console's lists in a language whose header names are not known: addresses and dates.
    if (match.format.empty() && sheet.columns() == 2 && roles.source == 0 && samples[1].filled > 0 &&
        samples[1].dates == samples[1].filled)
        match.format = "Google Search Console";

    list.roles = roles;
    if (!match.format.empty())
        list.format = list.format.empty() || plainList ? match.format : match.format + ", " + list.format;
    else if (list.format.empty())
        list.format = list.delimiter == '\t' ? "TSV" : "CSV";
}

LinkList ReadText(std::string bytes, std::string name, const DomainForms& domain) {
    LinkList list;
    list.name = std::move(name);
    DecodedText decoded = DecodeText(std::move(bytes), list.name);
    list.encoding = std::move(decoded.encoding);
    list.sheet.text() = std::move(decoded.text);
    const TextShape shape = DetectShape(list.sheet.text());
    list.delimiter = shape.delimiter;
    const bool plain = shape.delimiter == '\0';
    if (!plain) {
        ReadDelimited(list.sheet, shape, list.name);
    } else {
        ReadPlainList(list.sheet, list.name);
        list.format = "Adressliste";
    }
    Recognise(list, domain, plain);
    return list;
}

bool ListLike(std::string_view entry) {
    const std::string lower = text::ascii::Lower(entry);
    return !lower.ends_with("/") && lower.find("__macosx/") == std::string::npos &&
           (lower.ends_with(".csv") || lower.ends_with(".tsv") || lower.ends_with(".txt"));
}

LinkList ReadZip(const std::string& bytes, std::string name, const DomainForms& domain) {
    ZipArchive zip(bytes, name);
    if (IsXlsx(zip)) {
        LinkList list;
        list.name = std::move(name);
        list.format = "Excel-Arbeitsmappe (erstes Blatt)";
        ReadXlsx(zip, list.sheet, list.name);
        Recognise(list, domain, false);
        return list;
    }
    // Search Console's export: the one file that lists linking pages; the others count.
    std::string others;
    for (const ZipArchive::Entry& entry : zip.entries()) {
        if (entry.directory)
            continue;
        if (!others.empty())
            others += ", ";
        others += Quoted(entry.name);
        if (!ListLike(entry.name))
            continue;
        std::string data = zip.read(entry, kMaxImportBytes);
        if (LooksLikeZip(data))
            continue;
        try {
            // Messages name the file in the archive; the list keeps the archive's name.
            LinkList list = ReadText(std::move(data), name + " › " + entry.name, domain);
            list.name = std::move(name);
            list.member = entry.name;
            return list;
        } catch (const NotAListError&) {
            // A file of counts, or none of links: the next one may be the list.
        }
    }
    throw ImportError("Das ZIP-Archiv " + Quoted(name) + " enthält keine Liste verweisender Seiten" +
                      (others.empty() ? std::string() : " (nur " + others + ")") +
                      ". In der Search Console unter Links > „Neueste Links“ oder „Weitere Beispiel-Links“ "
                      "exportieren.");
}

} // namespace

bool IsWebAddress(std::string_view cell) {
    std::size_t skip = 0;
    if (cell.size() > 7 && text::ascii::Lower(cell.substr(0, 7)) == "http://")
        skip = 7;
    else if (cell.size() > 8 && text::ascii::Lower(cell.substr(0, 8)) == "https://")
        skip = 8;
    else
        return false;
    if (cell[skip] == '/' || cell[skip] == '?' || cell[skip] == '#' || cell[skip] == ':')
        return false;
    return std::none_of(cell.begin() + static_cast<std::ptrdiff_t>(skip), cell.end(),
                        [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == '\x7F'; });
}

std::string AddressHost(std::string_view address) {
    const std::size_t scheme = address.find("://");
    std::string_view rest = scheme == std::string_view::npos ? address : address.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#\\"));
    if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos)
        rest.remove_prefix(at + 1);
    if (!rest.starts_with("[")) {
        if (const std::size_t colon = rest.find(':'); colon != std::string_view::npos)
            rest = rest.substr(0, colon);
    } else if (const std::size_t close = rest.find(']'); close != std::string_view::npos) {
        rest = rest.substr(0, close + 1);
    }
    while (!rest.empty() && rest.back() == '.')
        rest.remove_suffix(1);
    return text::ascii::Lower(rest);
}

LinkList ReadLinkFile(const std::string& path, const DomainForms& domain) {
    const std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw ImportError("Die Datei " + Quoted(name) + " kann nicht geöffnet werden (" +
                          text::SystemReason(errno) + ").");
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw ImportError(Quoted(name) + " ist keine Datei.");
    if (static_cast<std::uint64_t>(st.st_size) > kMaxImportBytes)
        throw ImportError("Die Datei " + Quoted(name) + " ist größer als " +
                          GroupedNumber(kMaxImportBytes >> 20) +
                          " MiB; so große Listen bitte in Teilen importieren.");
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw ImportError("Die Datei " + Quoted(name) + " kann nicht gelesen werden (" +
                              text::SystemReason(errno) + ").");
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return ReadLinkBytes(std::move(bytes), std::move(name), domain);
}

LinkList ReadLinkBytes(std::string bytes, std::string name, const DomainForms& domain) {
    if (bytes.size() > kMaxImportBytes)
        throw ImportError(Quoted(name) + " ist größer als " + GroupedNumber(kMaxImportBytes >> 20) + " MiB.");
    if (bytes.empty())
        throw ImportError(Quoted(name) + " ist leer.");
    if (LooksLikeZip(bytes))
        return ReadZip(bytes, std::move(name), domain);
    return ReadText(std::move(bytes), std::move(name), domain);
}

std::string Describe(const LinkList& list) {
    std::string out = list.format;
    if (!list.member.empty())
        out += " aus " + Quoted(list.member);
    if (!list.encoding.empty())
        out += " · " + list.encoding;
    if (list.delimiter == ',')
        out += " · Komma";
    else if (list.delimiter == ';')
        out += " · Semikolon";
    else if (list.delimiter == '\t')
        out += " · Tabulator";
    else if (list.delimiter != '\0')
        out += std::string(" · Trennzeichen ") + list.delimiter;
    if (list.sheet.columns() > 1)
        out += " · " + GroupedNumber(list.sheet.columns()) + " Spalten";
    out += list.sheet.hasHeader() ? " · mit Kopfzeile" : "";
    out += " · " + GroupedNumber(list.sheet.rows()) + (list.sheet.rows() == 1 ? " Zeile" : " Zeilen");
    return out;
}

std::string ColumnLabel(const LinkList& list, int col) {
    const std::vector<std::string>& header = list.sheet.header();
    const std::string number = "Spalte " + std::to_string(col + 1);
    if (col >= 0 && static_cast<std::size_t>(col) < header.size() &&
        !text::ascii::Trim(header[static_cast<std::size_t>(col)]).empty())
        return number + ": " + header[static_cast<std::size_t>(col)];
    return number;
}

} // namespace retrieval
