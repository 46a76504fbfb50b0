#include "retrieval/ImportCommand.h"

#include "app/contract/Error.h"
#include "retrieval/Parsing.h"
#include "retrieval/RunHistory.h"
#include "retrieval/url/WebUrl.h"
#include "storage/Reports.h"
#include "storage/Settings.h"
#include "table/BacklinkTable.h"
#include "text/Ascii.h"

#include <functional>
#include <idn2.h>
#include <libpsl.h>
#include <unordered_map>

namespace retrieval {

namespace {

constexpr std::int32_t kFirstRecordRow = 2;
constexpr std::int32_t kLinkUrlColumn = 1;
constexpr std::int32_t kMinimumWidth = 40;
constexpr std::size_t kProgressStep = 8192;
// What the domain field shows before anything is typed.
constexpr std::string_view kDomainFieldStartText = "Domainname";

// The Link-URL as duplicates are told: scheme and host in lower case, IDNA host, no default port,
// no fragment, "/" for an empty path.
void NormaliseInto(std::string_view address, std::string& out) {
    out.clear();
    address = text::ascii::Trim(address);
    const std::size_t schemeEnd = address.find("://");
    if (schemeEnd == std::string_view::npos) {
        out = address;
        return;
    }
    const std::string scheme = text::ascii::Lower(address.substr(0, schemeEnd));
    std::string_view rest = address.substr(schemeEnd + 3);
    const std::size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
    std::string_view authority = rest.substr(0, authorityEnd);
    rest.remove_prefix(authorityEnd);
    rest = rest.substr(0, rest.find('#'));

    std::string_view user;
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        user = authority.substr(0, at + 1);
        authority.remove_prefix(at + 1);
    }
    std::string_view port;
    if (const std::size_t colon = authority.rfind(':');
        colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
        port = authority.substr(colon + 1);
        authority = authority.substr(0, colon);
    }
    while (!authority.empty() && authority.back() == '.')
        authority.remove_suffix(1);
    std::string host;
    if (text::ascii::IsAscii(authority) && authority.find('%') == std::string_view::npos) {
        host = text::ascii::Lower(authority);
    } else if (std::optional<std::string> parsed = ParseWebHost(authority)) {
        host = std::move(*parsed);
    } else {
        host = text::ascii::Lower(authority);
    }
    if ((scheme == "http" && port == "80") || (scheme == "https" && port == "443"))
        port = {};
    out.reserve(address.size());
    out += scheme;
    out += "://";
    out += user;
    out += host;
    if (!port.empty()) {
        out += ':';
        out += port;
    }
    if (rest.empty() || rest.front() == '?')
        out += '/';
    out += rest;
}

// The Link-URLs seen so far, as a part of the hash of their normal form and a reference to where
// each stands: eight bytes a row. An equal hash part is confirmed by the text itself.
class UrlSet {
public:
    using TextOf = std::function<void(std::uint32_t ref, std::string& normal)>;

    UrlSet(std::size_t expected, TextOf textOf) : textOf_(std::move(textOf)) { resize(expected); }

    // False when the address is in the set already. Every reference in the set must read by then,
    // the new one included once it is in.
    bool insert(const std::string& normal, std::uint32_t ref) {
        if ((used_ + 1) * 5 > slots_.size() * 4)
            grow();
        const std::uint64_t hash = std::hash<std::string>{}(normal);
        const auto tag = static_cast<std::uint32_t>(hash >> 32) | 1; // 0 marks a free slot
        for (std::size_t i = hash % slots_.size();; i = i + 1 == slots_.size() ? 0 : i + 1) {
            Slot& slot = slots_[i];
            if (slot.tag == 0) {
                slot = {tag, ref};
                ++used_;
                return true;
            }
            if (slot.tag == tag) {
                textOf_(slot.ref, other_);
                if (other_ == normal)
                    return false;
            }
        }
    }

private:
    struct Slot {
        std::uint32_t tag = 0;
        std::uint32_t ref = 0;
    };
    void resize(std::size_t expected) { slots_.assign(expected + expected / 3 + 16, Slot{}); }
    void grow() {
        std::vector<Slot> old;
        old.swap(slots_);
        resize(old.size() * 2);
        used_ = 0;
        for (const Slot& s : old)
            if (s.tag != 0) {
                textOf_(s.ref, other_);
                const std::uint64_t hash = std::hash<std::string>{}(other_);
                std::size_t i = hash % slots_.size();
                while (slots_[i].tag != 0)
                    i = i + 1 == slots_.size() ? 0 : i + 1;
                slots_[i] = s;
                ++used_;
            }
    }
    std::vector<Slot> slots_;
    std::size_t used_ = 0;
    TextOf textOf_;
    std::string other_;
};

bool Blank(const LinkSheet& sheet, std::size_t row) {
    for (std::size_t c = 0; c < sheet.columns(); ++c)
        if (!text::ascii::Trim(sheet.cell(row, c)).empty())
            return false;
    return true;
}

std::string_view Cell(const LinkSheet& sheet, std::size_t row, int col) {
    return col < 0 ? std::string_view() : text::ascii::Trim(sheet.cell(row, static_cast<std::size_t>(col)));
}

// Walks the list as an import does: every row with its verdict, new rows to `add`. Where `add`
// puts them into the table (`intoTable`), an earlier Link-URL is looked up there, not in the list.
template <typename Add>
ImportCounts Walk(const table::BacklinkTable& table, bool addsTo, const LinkList& list,
                  const ColumnRoles& roles, bool intoTable, Add&& add,
                  const std::function<void(std::int64_t)>& progress = {}) {
    if (roles.source < 0 || static_cast<std::size_t>(roles.source) >= list.sheet.columns())
        throw toolkit::Error("Bitte die Spalte mit den verweisenden Seiten (Link-URL) wählen.");
    ImportCounts counts;
    const LinkSheet& sheet = list.sheet;
    const std::int32_t tableRows = addsTo ? std::max(table.RowCount() - kFirstRecordRow, 0) : 0;
    // References below tableRows are table rows; the others are rows of the list, or with
    // intoTable the table rows they became.
    UrlSet seen(
        static_cast<std::size_t>(tableRows) + sheet.rows(), [&](std::uint32_t ref, std::string& normal) {
            if (intoTable || ref < static_cast<std::uint32_t>(tableRows))
                NormaliseInto(table.GetCell(kLinkUrlColumn, static_cast<std::int32_t>(ref) + kFirstRecordRow),
                              normal);
            else
                NormaliseInto(Cell(sheet, ref - static_cast<std::uint32_t>(tableRows), roles.source), normal);
        });
    std::string normal;
    for (std::int32_t r = 0; r < tableRows; ++r) {
        NormaliseInto(table.GetCell(kLinkUrlColumn, r + kFirstRecordRow), normal);
        seen.insert(normal, static_cast<std::uint32_t>(r));
    }
    for (std::size_t row = 0; row < sheet.rows(); ++row) {
        if (progress && row % kProgressStep == 0)
            progress(static_cast<std::int64_t>(row));
        const std::string_view source = Cell(sheet, row, roles.source);
        if (!IsWebAddress(source)) {
            counts.skipped += Blank(sheet, row) ? 0 : 1; // an empty row is no entry
            continue;
        }
        NormaliseInto(source, normal);
        const std::uint32_t ref =
            static_cast<std::uint32_t>(tableRows) +
            static_cast<std::uint32_t>(intoTable ? counts.fresh : static_cast<std::int64_t>(row));
        if (!seen.insert(normal, ref)) {
            ++counts.duplicate;
            continue;
        }
        ++counts.fresh;
        add(row, source);
    }
    return counts;
}

} // namespace

std::string CountsText(const ImportCounts& c) {
    return GroupedNumber(static_cast<std::uint64_t>(c.fresh)) + " neu, " +
           GroupedNumber(static_cast<std::uint64_t>(c.duplicate)) + " doppelt, " +
           GroupedNumber(static_cast<std::uint64_t>(c.skipped)) + " übersprungen";
}

DomainForms DomainFormsOf(std::string_view domainText) {
    DomainForms forms;
    const std::string key = DomainKey(domainText);
    if (key.empty())
        return forms;
    forms.push_back(key);
    const std::string typed = AddressHost("http://" + std::string(text::ascii::Trim(domainText)));
    if (!typed.empty() && typed != key)
        forms.push_back(typed);
    return forms;
}

bool ImportAddsTo(const table::BacklinkTable& table) {
    return table.ColCount() == 5 && table.RowCount() >= kFirstRecordRow &&
           table.RowCells(0) == Headers(Service::Seokicks);
}

ImportCounts CountImport(const table::BacklinkTable& table, const LinkList& list, const ColumnRoles& roles) {
    return Walk(table, ImportAddsTo(table), list, roles, false, [](std::size_t, std::string_view) {});
}

std::string MostCommonTargetDomain(const LinkList& list, int targetColumn) {
    if (targetColumn < 0)
        return {};
    std::unordered_map<std::string, std::int64_t> hosts;
    for (std::size_t row = 0; row < list.sheet.rows(); ++row) {
        const std::string_view target = Cell(list.sheet, row, targetColumn);
        if (IsWebAddress(target))
            ++hosts[AddressHost(target)];
    }
    // Public suffixes decide what a registrable domain is (shop.example.co.uk -> example.co.uk).
    const psl_ctx_t* psl = psl_builtin();
    psl_ctx_t* loaded = psl == nullptr ? psl_latest(nullptr) : nullptr;
    if (loaded != nullptr)
        psl = loaded;
    std::unordered_map<std::string, std::int64_t> domains;
    for (const auto& [host, n] : hosts) {
        std::string ascii = DomainKey(host);
        const char* registrable = psl != nullptr ? psl_registrable_domain(psl, ascii.c_str()) : nullptr;
        std::string domain = registrable != nullptr ? std::string(registrable)
                                                    : (ascii.starts_with("www.") ? ascii.substr(4) : ascii);
        domains[std::move(domain)] += n;
    }
    if (loaded != nullptr)
        psl_free(loaded);
    std::string best;
    std::int64_t most = 0;
    for (const auto& [domain, n] : domains)
        if (n > most || (n == most && domain < best)) {
            best = domain;
            most = n;
        }
    // Shown as a user types it: müller.example, not its IDNA form.
    char* unicode = nullptr;
    if (!best.empty() && idn2_to_unicode_8z8z(best.c_str(), &unicode, 0) == IDN2_OK && unicode != nullptr)
        best = unicode;
    idn2_free(unicode);
    return best;
}

ImportCounts AddToTable(table::BacklinkTable& table, LinkList& list, const ColumnRoles& roles,
                        const std::function<void(std::int64_t)>& progress) {
    const bool addsTo = ImportAddsTo(table);
    if (!addsTo)
        table.ResetWithHeaders(Headers(Service::Seokicks));
    return Walk(
        table, addsTo, list, roles, true,
        [&](std::size_t row, std::string_view source) {
            table.AppendRecord(std::vector<std::string>{
                std::string(source), std::string(Cell(list.sheet, row, roles.anchor)),
                FollowValue(Cell(list.sheet, row, roles.follow), roles.followKind),
                std::string(Cell(list.sheet, row, roles.target))});
            table.FitColumnWidths(kMinimumWidth);
        },
        [&](std::int64_t done) {
            list.sheet.releaseBefore(static_cast<std::size_t>(done));
            if (progress)
                progress(done);
        });
}

ImportCounts RunImport(toolkit::Window& w, LinkList& list, const ColumnRoles& roles) {
    // Everything that can refuse comes before the first change.
    if (roles.source < 0 || static_cast<std::size_t>(roles.source) >= list.sheet.columns())
        throw toolkit::Error("Bitte die Spalte mit den verweisenden Seiten (Link-URL) wählen.");
    const std::string field = w.fields.domainText();
    const std::string_view typed = text::ascii::Trim(field);
    if (typed.empty() || typed == kDomainFieldStartText) {
        const std::string domain = MostCommonTargetDomain(list, roles.target);
        if (domain.empty())
            throw toolkit::Error("Bitte eine Domain eingeben: „" + list.name +
                                 "“ nennt keine Ziel-URLs, aus denen sie sich ablesen ließe.");
        w.fields.setDomainText(domain);
    }
    storage::RecordDomain(w);
    w.fields.setStatusLine({});

    const auto total = static_cast<std::int64_t>(list.sheet.rows());
    const ImportCounts counts = AddToTable(w.table, list, roles, [&](std::int64_t done) {
        w.fields.setProgress({done, total});
    });
    w.fields.setProgress({});
    storage::WriteReports(w, kListReportFolder);
    RecordCheckRun(w, kListService, list.name);
    return counts;
}

ImportCounts ImportFile(toolkit::Window& w, const std::string& path) {
    LinkList list = ReadLinkFile(path, DomainFormsOf(w.fields.domainText()));
    const ColumnRoles roles = list.roles;
    return RunImport(w, list, roles);
}

} // namespace retrieval
