#include "cli/Pruefen.h"

#include "app/contract/Error.h"
#include "cli/ConsoleToolkit.h"
#include "retrieval/CheckCommand.h"
#include "retrieval/CrossCheck.h"
#include "retrieval/SiteRobots.h"
#include "retrieval/ImportCommand.h"
#include "retrieval/http/PageFetch.h"
#include "retrieval/render/PageRenderer.h"
#include "storage/Changes.h"
#include "storage/Settings.h"
#include "table/BacklinkTable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <sys/stat.h>

namespace cli {

namespace {

constexpr std::int32_t kFirstRecordRow = 2;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

bool Exists(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

// The files each report pair was written with, as far as they exist.
void CollectReports(const std::vector<std::string>& bases, RunOutcome& outcome) {
    for (const std::string& base : bases)
        for (const char* suffix : {".csv", ".html", "_details.csv", "_aenderungen.csv", "_aenderungen.html"})
            if (const std::string path = base + suffix; Exists(path)) {
                outcome.reports.push_back(path);
                if (std::string_view(suffix) == "_aenderungen.html")
                    outcome.changesReport = path;
            }
}

void CountStatuses(const table::BacklinkTable& table, RunOutcome& outcome) {
    const std::int32_t statusCol = table.ColCount() - 1;
    for (std::int32_t r = kFirstRecordRow; r < table.RowCount(); ++r) {
        const std::string status = table.GetCell(statusCol, r);
        ++outcome.checked;
        if (status == retrieval::kStatusFound)
            ++outcome.found;
        else if (status == retrieval::kStatusNotFound)
            ++outcome.notFound;
        else
            ++outcome.failedPages;
    }
}

} // namespace

RunOutcome RunDomain(const RunRequest& request, RunContext& context) {
    RunOutcome outcome;
    toolkit::Shared shared;
    shared.programFolder = context.programFolder;
    Progress progress(stderr, context.terminal);
    ConsoleFields fields(progress, shared);
    ConsoleBox box(progress, shared);
    ConsoleWaiter waiter(context.events, context.stop);
    CharWidth width;
    table::BacklinkTable table(width);
    toolkit::LineBuffer memo1, memo3, memo11;
    toolkit::Window window{shared, fields, box, waiter, table, memo1, memo3, memo11};

    // A stop ends a transfer at once, as closing the window does.
    const retrieval::KeepGoing keepGoing = [&stop = context.stop] {
        if (stop.load() != 0)
            throw toolkit::Cancelled();
        return true;
    };
    try {
        if (context.installed)
            storage::MakeDataFolder(shared);
        storage::LoadSettings(window);
        try {
            storage::LoadHistory(window);
        } catch (const toolkit::Error& e) {
            // As in the window: the run goes on, and storing the domain says what is wrong.
            progress.message(e.what());
        }
        fields.domain = request.domain;
        fields.xovi = request.xovi;
        if (!request.limit.empty())
            fields.maxerg = request.limit;

        // A signal stops the run as "Abbrechen" does in the window: a stopped Prüfe still writes its
        // reports for the pages checked and keeps its history run unfinished.
        const auto stopped = [&stop = context.stop] { return stop.load() != 0; };
        retrieval::TlsTransport tls; // the window's component, as it is set up there
        retrieval::CheckSetup setup;
        setup.tlsTransport = &tls;
        setup.stopped = stopped;
        setup.makeClient = [&](const retrieval::TlsTransport* attached) {
            retrieval::FetchOptions options;
            options.tlsTransportAttached = attached != nullptr;
            return std::make_unique<retrieval::CurlHttpClient>(options, keepGoing, &context.events);
        };
        if (!request.listFile.empty()) {
            // A watched list is read again at each run; a user who moved it away learns where it was.
            if (!Exists(request.listFile))
                throw toolkit::Error(
                    "Die Liste " + request.listFile +
                    " gibt es nicht (mehr). Einen neuen Export dort ablegen oder den Eintrag mit "
                    "ueberwachen --hinzufuegen DOMAIN --liste DATEI ändern.");
            const retrieval::ImportCounts counts = retrieval::ImportFile(window, request.listFile);
            outcome.backlinks = std::max(0, table.RowCount() - kFirstRecordRow);
            outcome.summary = std::to_string(outcome.backlinks) + " Backlinks aus der Liste gelesen (" +
                              retrieval::CountsText(counts) + ")";
        } else {
            retrieval::RunCheck(window, setup);
            outcome.backlinks = std::max(0, table.RowCount() - kFirstRecordRow);
            outcome.summary = std::to_string(outcome.backlinks) + " Backlinks von " +
                              (request.xovi ? "XOVI" : "SEOkicks") + " geholt";
        }
        if (stopped())
            throw toolkit::Cancelled();
        if (request.withCrossCheck) {
            retrieval::CrossCheckSetup crossSetup;
            crossSetup.fetch =
                retrieval::MakeCurlPageFetcher(retrieval::PageFetchOptions(), keepGoing, &context.events);
            crossSetup.stopped = stopped;
            crossSetup.robots =
                retrieval::MakeCurlPageFetcher(retrieval::RobotsFetchOptions(), keepGoing, &context.events);
            const bool browser = request.browser && storage::LoadBrowserCheck(context.programFolder, true);
            const std::unique_ptr<retrieval::PageRenderer> renderer =
                browser ? retrieval::FindHeadlessBrowser() : nullptr;
            crossSetup.renderer = renderer.get();
            crossSetup.browserOff = !browser;
            retrieval::RunCrossCheck(window, crossSetup);
            if (stopped())
                throw toolkit::Cancelled();
            CountStatuses(table, outcome);
            outcome.summary = fields.statusLine;
        }
    } catch (const toolkit::Cancelled&) {
        progress.message("Abgebrochen.");
        outcome.exitCode = 128 + context.stop.load();
    } catch (const std::exception& e) {
        // Every message of the commands already has the key and the code masked.
        outcome.exitCode = kExitFailed;
        outcome.error = e.what();
    }
    progress.endLine();
    CollectReports(box.reportBases, outcome);
    outcome.compared = fields.compared;
    outcome.changes = fields.changeCounts;
    outcome.losses = fields.lossCounts;
    for (const auto& loss : outcome.losses)
        outcome.lost += loss.second;
    outcome.historyFailed = box.historyFailed;
    if (outcome.exitCode == kExitDone && outcome.lost > 0)
        outcome.exitCode = kExitLoss;
    return outcome;
}

std::string OutcomeJson(const RunRequest& request, const RunOutcome& outcome) {
    QJsonObject changes;
    for (const auto& [word, n] : outcome.changes)
        changes.insert(Q(word), static_cast<qint64>(n));
    QJsonObject losses;
    for (const auto& [word, n] : outcome.losses)
        losses.insert(Q(word), static_cast<qint64>(n));
    QJsonArray reports;
    for (const std::string& path : outcome.reports)
        reports.append(Q(path));
    QJsonObject o;
    o.insert(QStringLiteral("domain"), Q(request.domain));
    o.insert(QStringLiteral("dienst"), !request.listFile.empty() ? QStringLiteral("liste")
                                       : request.xovi            ? QStringLiteral("xovi")
                                                                 : QStringLiteral("seokicks"));
    if (!request.listFile.empty())
        o.insert(QStringLiteral("liste"), Q(request.listFile));
    o.insert(QStringLiteral("status"), outcome.exitCode);
    if (!outcome.error.empty())
        o.insert(QStringLiteral("fehler"), Q(outcome.error));
    o.insert(QStringLiteral("backlinks"), static_cast<qint64>(outcome.backlinks));
    o.insert(QStringLiteral("geprueft"), static_cast<qint64>(outcome.checked));
    o.insert(QStringLiteral("gefunden"), static_cast<qint64>(outcome.found));
    o.insert(QStringLiteral("nicht_gefunden"), static_cast<qint64>(outcome.notFound));
    o.insert(QStringLiteral("seitenfehler"), static_cast<qint64>(outcome.failedPages));
    o.insert(QStringLiteral("verglichen"), outcome.compared);
    o.insert(QStringLiteral("verlaufsfehler"), outcome.historyFailed);
    o.insert(QStringLiteral("verloren"), static_cast<qint64>(outcome.lost));
    o.insert(QStringLiteral("verluste"), losses);
    o.insert(QStringLiteral("aenderungen"), changes);
    o.insert(QStringLiteral("zusammenfassung"), Q(outcome.summary));
    o.insert(QStringLiteral("berichte"), reports);
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace cli
