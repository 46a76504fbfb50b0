#include "retrieval/CheckCommand.h"

#include "app/contract/Error.h"
#include "retrieval/Parsing.h"
#include "retrieval/RunHistory.h"
#include "storage/Files.h"
#include "storage/Reports.h"
#include "storage/Settings.h"
#include "table/BacklinkTable.h"

#include <cstdint>
#include <cstdio>
#include <future>
#include <optional>
#include <utility>

namespace retrieval {

namespace {

constexpr std::int32_t kMinimumWidth = 40;
constexpr std::int32_t kXoviLimitThreshold = 10000;
constexpr const char* kXoviLimitReplacement = "1000";

void FillTable(table::BacklinkTable& table, Service service, std::vector<Record>&& records,
               const std::function<void()>& beforeEach) {
    table.ResetWithHeaders(Headers(service));
    for (Record& record : records) {
        if (beforeEach)
            beforeEach();
        table.AppendRecord(std::move(record));
        table.FitColumnWidths(kMinimumWidth);
    }
}

// The stored key and code as typed and as a request carries them.
std::vector<std::string> Credentials(const toolkit::WindowFields& fields) {
    std::vector<std::string> values;
    for (const std::string& value : {fields.xoviApiText(), fields.seokicksText()}) {
        values.push_back(value);
        values.push_back(EncodeForRequestLine(value));
    }
    return values;
}

// The split answer and its records depend on the answer alone.
struct ParsedAnswer {
    std::string split;
    std::vector<Record> records;
};

ParsedAnswer ParseSeokicks(const std::string& answer) {
    ParsedAnswer parsed;
    parsed.split = SplitTags(answer);
    parsed.records = ExtractRecords(Lines(parsed.split), Service::Seokicks);
    return parsed;
}

void RunSeokicks(toolkit::Window& w, const CheckSetup& setup) {
    std::unique_ptr<HttpClient> client = setup.makeClient(setup.tlsTransport);
    client->hideInMessages(Credentials(w.fields));
    w.memo1.clear();
    const std::string url = SeokicksUrl(setup.seokicksBase, w.fields.seokicksText(), w.fields.domainText(),
                                        w.fields.maxergText());
    ParsedAnswer parsed;
    bool emptyLastLine = false;
    {
        const std::string answer = client->Get(url);
        w.memo1.setText(answer);
        // Parsed on a thread of its own during the wait, which the window spends idle. Declared
        // after the answer: leaving by an exception waits for the thread before the answer goes.
        std::future<ParsedAnswer> parsing =
            std::async(std::launch::async | std::launch::deferred, ParseSeokicks, std::cref(answer));
        w.waiter.pacedWait(1000);
        // Memo1's text, which ends its last line with CR LF like every line list.
        const std::string_view lineEnd = answer.empty() || answer.ends_with("\r\n") ? "" : "\r\n";
        storage::WriteFileAtomic(storage::ProgramPath(w.shared.programFolder, "\\tmp_seokicks.txt"),
                                 {answer, lineEnd});
        parsed = parsing.get();
        // Memo1 splits its own text, which has a CR LF after the answer's last line; where the
        // split answer already ends in one, that CR LF makes an empty last line. The records
        // are the same either way: a cell on that line is empty, as is one beyond the last.
        emptyLastLine = !answer.empty() && !answer.ends_with("\r\n") && parsed.split.ends_with("\r\n");
    }

    w.memo1.takeText(std::move(parsed.split));
    if (emptyLastLine)
        w.memo1.append({});
    FillTable(w.table, Service::Seokicks, std::move(parsed.records), {});
    client.reset();
    storage::WriteReports(w, "\\reporting\\seokicks\\");
    RecordCheckRun(w, "SEOkicks");
}

// The table as it stood, to be put back when the row-by-row filling is stopped.
class TableCopy {
public:
    explicit TableCopy(const table::BacklinkTable& table)
        : rows_(table.RowCount()), cols_(table.ColCount()), current_{table.Col(), table.Row()} {
        for (std::int32_t r = 0; r < rows_; ++r)
            cells_.push_back({table.RowCells(r), table.RowNotes(r), table.RowMarks(r)});
    }

    void putBack(table::BacklinkTable& table) const {
        table.ClearAll();
        table.SetColCount(cols_);
        table.SetRowCount(rows_);
        for (std::int32_t r = 0; r < rows_; ++r) {
            const Row& row = cells_[static_cast<std::size_t>(r)];
            for (std::size_t c = 0; c < row.cells.size(); ++c)
                table.SetCell(static_cast<std::int32_t>(c), r, row.cells[c]);
            table.SetRowNotes(r, row.notes);
            table.SetRowMarks(r, row.marks);
        }
        table.FitColumnWidths(kMinimumWidth);
        table.SetCurrentCell(current_.first, current_.second);
    }

private:
    struct Row {
        std::vector<std::string> cells, notes;
        std::vector<table::CellMark> marks;
    };
    std::int32_t rows_, cols_;
    std::pair<std::int32_t, std::int32_t> current_;
    std::vector<Row> cells_;
};

void RunXovi(toolkit::Window& w, const CheckSetup& setup) {
    if (StrToInt(w.fields.maxergText()) > kXoviLimitThreshold)
        w.fields.setMaxergText(kXoviLimitReplacement);

    std::unique_ptr<HttpClient> client = setup.makeClient(nullptr);
    client->hideInMessages(Credentials(w.fields));
    w.memo3.clear();
    const std::string url =
        XoviUrl(setup.xoviBase, w.fields.xoviApiText(), w.fields.domainText(), w.fields.maxergText());
    w.memo3.takeText(SplitTags(client->Get(url)));
    const std::string split = w.memo3.text();
    const std::string tmpPath = storage::ProgramPath(w.shared.programFolder, "\\tmp_xovi_bkl.txt");
    const std::optional<std::string> tmpBefore =
        storage::FileExists(tmpPath) ? std::optional(storage::ReadFileBytes(tmpPath)) : std::nullopt;
    storage::WriteFileAtomic(tmpPath, split);

    std::vector<Record> records = ExtractRecords(Lines(split), Service::Xovi);
    const auto total = static_cast<std::int64_t>(records.size());
    const TableCopy before(w.table);
    try {
        FillTable(w.table, Service::Xovi, std::move(records), [&w, total] {
            w.fields.setProgress({w.table.RowCount() - 2, total});
            w.fields.setCaption(w.shared.titleText +
                                " hole Backlink-Nr.:" + std::to_string(w.table.RowCount()));
            w.waiter.pacedWait(100);
        });
    } catch (const toolkit::Cancelled&) {
        // Stopped while filling: the table and the answer file are as before the Check. (A closing
        // window leaves them as far as they got.)
        if (setup.stopped && setup.stopped()) {
            before.putBack(w.table);
            if (tmpBefore)
                storage::WriteFileAtomic(tmpPath, *tmpBefore);
            else
                std::remove(tmpPath.c_str());
        }
        throw;
    }
    client.reset();
    storage::WriteReports(w, "\\reporting\\xovi_api\\backlink\\");
    RecordCheckRun(w, "XOVI");
}

} // namespace

void RunCheck(toolkit::Window& window, const CheckSetup& setup) {
    // No message of the command shows the key or the code, whatever characters they hold: the
    // values of the start and of the moment of failure are hidden.
    std::vector<std::string> secrets = Credentials(window.fields);
    const auto noteSecrets = [&] {
        for (std::string& value : Credentials(window.fields))
            secrets.push_back(std::move(value));
    };
    try {
        storage::RecordDomain(window);
        window.fields.setStatusLine({}); // the summary of a Prüfe belongs to the table it checked
        // Each branch looks at the buttons as they are at that moment: a switch to XOVI during the
        // SEOkicks wait runs the XOVI branch next.
        if (window.fields.seokicksChosen())
            RunSeokicks(window, setup);
        if (window.fields.xoviChosen())
            RunXovi(window, setup);
    } catch (const FetchError& e) {
        noteSecrets();
        throw FetchError(MaskValues(e.what(), secrets), MaskValues(e.reason(), secrets), e.httpStatus());
    } catch (const toolkit::Error& e) {
        noteSecrets();
        throw toolkit::Error(MaskValues(e.what(), secrets));
    }
}

std::string EncodeForRequestLine(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte <= 0x20 || byte >= 0x7F || ch == '#') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string SeokicksUrl(const std::string& base, const std::string& code, const std::string& domain,
                        const std::string& maxResults) {
    return base + EncodeForRequestLine(code) + "&query=" + EncodeForRequestLine(domain) +
           "&details=2&results=" + EncodeForRequestLine(maxResults) + "&page=1";
}

std::string XoviUrl(const std::string& base, const std::string& key, const std::string& domain,
                    const std::string& limit) {
    return base + EncodeForRequestLine(key) +
           "&service=links&method=getbacklinks&domain=" + EncodeForRequestLine(domain) +
           "&limit=" + EncodeForRequestLine(limit) + "&format=xml";
}

std::int32_t StrToInt(std::string_view text) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+'))
        i = 1;
    std::int64_t value = 0;
    bool ok = i < text.size();
    for (; ok && i < text.size(); ++i) {
        const char ch = text[i];
        ok = ch >= '0' && ch <= '9';
        value = value * 10 + (ch - '0');
        ok = ok && value <= std::int64_t{INT32_MAX} + 1;
    }
    if (ok) {
        value = negative ? -value : value;
        if (value >= INT32_MIN && value <= INT32_MAX)
            return static_cast<std::int32_t>(value);
    }
    throw toolkit::Error("'" + std::string(text) + "' ist keine gültige ganze Zahl.");
}

} // namespace retrieval
