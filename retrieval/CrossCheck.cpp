#include "retrieval/CrossCheck.h"

#include "app/contract/Error.h"
#include "retrieval/HttpFetch.h"
#include "retrieval/PageText.h"
#include "storage/Reports.h"
#include "table/BacklinkTable.h"

#include <exception>
#include <utility>
#include <vector>

namespace retrieval {

namespace {

constexpr std::int32_t kLinkUrlColumn = 1;
constexpr std::int32_t kFirstRecordRow = 2;
constexpr std::int32_t kWaitAfterFetch = 1000;

// Fetches and tests one page; returns the status word, or throws what the fetch or test raised.
std::string_view CheckPage(toolkit::Window& w, const PageFetcher& fetch, const std::string& url) {
    w.memo3.clear();
    FetchedPage page = fetch(url);
    std::string text = DecodePage(page.body, page.contentType);
    page = {}; // only the text is needed from here on
    w.memo3.setText(text);
    return MentionsDomain(text, w.fields.domainText()) ? kStatusFound : kStatusNotFound;
}

} // namespace

void RunCrossCheck(toolkit::Window& w, const PageFetcher& fetch) {
    table::BacklinkTable& table = w.table;

    // The command works on this list throughout; Memo1 shows it.
    const std::vector<std::string> urls = table.ColumnText(kLinkUrlColumn);
    w.memo1.clear();
    w.memo1.lines() = urls;

    table.SetColCount(table.ColCount() + 1);
    // Fixed once: the column this run writes, even if the table changes during a wait.
    const std::int32_t statusCol = table.ColCount() - 1;
    table.SetCell(statusCol, 0, std::string(kStatusHeader));

    const auto n = static_cast<std::int32_t>(urls.size());
    for (std::int32_t r = kFirstRecordRow; r < n; ++r) {
        const std::string& url = urls[static_cast<std::size_t>(r)];
        std::string reason;
        bool failed = false;
        try {
            table.SetCell(statusCol, r, std::string(CheckPage(w, fetch, url)));
        } catch (const toolkit::Cancelled&) {
            throw;
        } catch (const FetchError& e) {
            failed = true;
            reason = e.reason();
        } catch (const std::exception& e) {
            failed = true;
            reason = e.what();
        } catch (...) {
            failed = true;
            reason = "Unbekannter Fehler";
        }
        if (failed) {
            table.SetCell(statusCol, r, std::string(kStatusError));
            table.SetCellNote(statusCol, r, std::move(reason));
        }
        w.waiter.pacedWait(kWaitAfterFetch);
        w.fields.setCaption(w.shared.titleText + " checke: " + url);
    }

    w.fields.setCaption(w.shared.titleText + " Gegenprüfung fertig gestellt ... ");
    storage::WriteReports(w, "\\reporting\\backlinks\\");
}

} // namespace retrieval
