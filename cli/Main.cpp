#include "cli/Main.h"

#include "cli/Notify.h"
#include "cli/Pruefen.h"
#include "cli/Signals.h"
#include "retrieval/RunHistory.h"
#include "retrieval/http/PollEventSource.h"
#include "storage/Changes.h"
#include "storage/FolderLock.h"
#include "storage/History.h"
#include "storage/ProgramFolder.h"
#include "storage/Watch.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cli {

namespace {

constexpr std::string_view kProgram = "quandrel-halmfang";

struct UsageError {
    std::string what;
};

// The options of one command, read one by one.
class Arguments {
public:
    Arguments(int argc, char** argv) : args_(argv + 2, argv + argc) {}
    bool done() const { return next_ >= args_.size(); }
    std::string take() { return args_[next_++]; }
    const std::string& peek() const { return args_[next_]; }
    std::string value(const std::string& option) {
        if (done())
            throw UsageError{"Die Option " + option + " braucht einen Wert."};
        return take();
    }

private:
    std::vector<std::string> args_;
    std::size_t next_ = 0;
};

bool ReadService(const std::string& text) {
    if (text == "seokicks")
        return false;
    if (text == "xovi")
        return true;
    throw UsageError{"Unbekannter Dienst: " + text + " (seokicks oder xovi)"};
}

std::string ReadLimit(const std::string& text) {
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n < 1 || n > INT_MAX)
        throw UsageError{"--max braucht eine ganze Zahl ab 1, nicht: " + text};
    return text;
}

std::string ExecutableDir() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    const std::string exe(path, static_cast<std::size_t>(n));
    const std::size_t slash = exe.rfind('/');
    return slash == 0 ? "/" : exe.substr(0, slash);
}

constexpr std::chrono::seconds kDefaultLockWait{300};

std::chrono::seconds ReadSeconds(const std::string& text) {
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n < 0 || n > 86400)
        throw UsageError{"--warten braucht Sekunden von 0 bis 86400, nicht: " + text};
    return std::chrono::seconds(n);
}

// The list file as given; a watch entry keeps it absolute, since the timer runs elsewhere.
std::string ListPath(const std::string& path, bool absolute) {
    if (path.empty())
        throw UsageError{"--liste braucht eine Datei."};
    if (!absolute || path.front() == '/')
        return path;
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr)
        return path;
    return std::string(cwd) + "/" + path;
}

struct PruefenOptions {
    RunRequest request;
    bool json = false;
    bool notify = false;
    std::chrono::seconds lockWait = kDefaultLockWait;
};

PruefenOptions ReadPruefen(Arguments& args) {
    PruefenOptions o;
    std::optional<std::string> domain;
    bool serviceOptions = false;
    while (!args.done()) {
        const std::string a = args.take();
        if (a == "--dienst") {
            o.request.xovi = ReadService(args.value(a));
            serviceOptions = true;
        } else if (a == "--max") {
            o.request.limit = ReadLimit(args.value(a));
            serviceOptions = true;
        } else if (a == "--liste") {
            o.request.listFile = ListPath(args.value(a), false);
        } else if (a == "--ohne-pruefe") {
            o.request.withCrossCheck = false;
        } else if (a == "--ohne-browser") {
            o.request.browser = false;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--benachrichtigen") {
            o.notify = true;
        } else if (a == "--warten") {
            o.lockWait = ReadSeconds(args.value(a));
        } else if (a.starts_with("-") && a != "-") {
            throw UsageError{"Unbekannte Option: " + a};
        } else if (domain) {
            throw UsageError{"Unerwartetes Argument: " + a};
        } else {
            domain = a;
        }
    }
    if (!domain || domain->empty())
        throw UsageError{"pruefen braucht eine Domain."};
    if (serviceOptions && !o.request.listFile.empty())
        throw UsageError{"--dienst und --max gelten nicht zusammen mit --liste."};
    o.request.domain = *domain;
    return o;
}

enum class WatchAction { None, Add, Remove, List, Due };

struct WatchOptions {
    WatchAction action = WatchAction::None;
    std::string domain;
    RunRequest request; // the service and limit of an entry to add
    std::string interval{storage::kIntervalWeekly};
    bool notify = true; // the scheduled run speaks up when links were lost
    std::chrono::seconds lockWait = kDefaultLockWait;
    bool browser = true;
};

WatchOptions ReadWatch(Arguments& args) {
    WatchOptions o;
    bool entryOptions = false;
    bool serviceOptions = false;
    const auto setAction = [&o](WatchAction action) {
        if (o.action != WatchAction::None)
            throw UsageError{"Nur eine von --hinzufuegen, --entfernen, --liste, --faellige."};
        o.action = action;
    };
    while (!args.done()) {
        const std::string a = args.take();
        if (a == "--hinzufuegen") {
            setAction(WatchAction::Add);
            o.domain = args.value(a);
        } else if (a == "--entfernen") {
            setAction(WatchAction::Remove);
            o.domain = args.value(a);
        } else if (a == "--liste") {
            // With a file it names the list of an entry; alone it lists the entries.
            const bool file = !args.done() && !args.peek().starts_with("-");
            if (!file && o.action == WatchAction::Add)
                throw UsageError{"--liste braucht hinter --hinzufuegen eine Datei."};
            if (file) {
                o.request.listFile = ListPath(args.take(), true);
                entryOptions = true;
            } else {
                setAction(WatchAction::List);
            }
        } else if (a == "--faellige") {
            setAction(WatchAction::Due);
        } else if (a == "--dienst") {
            o.request.xovi = ReadService(args.value(a));
            entryOptions = serviceOptions = true;
        } else if (a == "--max") {
            o.request.limit = ReadLimit(args.value(a));
            entryOptions = serviceOptions = true;
        } else if (a == "--intervall") {
            const std::string value = args.value(a);
            const auto interval = storage::ReadInterval(value);
            if (!interval)
                throw UsageError{"Unbekanntes Intervall: " + value + " (täglich, wöchentlich oder monatlich)"};
            o.interval = storage::IntervalName(*interval);
            entryOptions = true;
        } else if (a == "--warten") {
            o.lockWait = ReadSeconds(args.value(a));
        } else if (a == "--ohne-browser") {
            o.browser = false;
        } else {
            throw UsageError{a.starts_with("-") ? "Unbekannte Option: " + a : "Unerwartetes Argument: " + a};
        }
    }
    if (o.action == WatchAction::None)
        throw UsageError{"ueberwachen braucht --hinzufuegen, --entfernen, --liste oder --faellige."};
    if (entryOptions && o.action != WatchAction::Add)
        throw UsageError{"--dienst, --max, --intervall und --liste DATEI gehören zu --hinzufuegen."};
    if (!o.request.listFile.empty() && serviceOptions)
        throw UsageError{"--dienst und --max gelten nicht zusammen mit --liste."};
    if ((o.action == WatchAction::Add || o.action == WatchAction::Remove) && o.domain.empty())
        throw UsageError{"Die Domain fehlt."};
    return o;
}

std::string ProgramFolder(bool& installed) {
    const std::string exeDir = ExecutableDir();
    const storage::InstallLayout layout = storage::BuiltInLayout();
    std::string folder =
        storage::ChooseProgramFolder(exeDir, layout, std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    installed = storage::IsInstalledLayout(exeDir, layout);
    return folder;
}

std::string LastRunText(std::time_t time) {
    return time == 0 ? "nie" : storage::RunTimeText(time);
}

// One run under the folder lock; a lock not had within the wait skips it with exit status 1.
RunOutcome LockedRun(const RunRequest& request, RunContext& context, std::chrono::seconds wait) {
    if (context.installed) {
        try {
            storage::MakePrivateFolder(context.programFolder); // the lock is on the folder
        } catch (const std::exception&) {
            // The run says why it cannot use the folder.
            return RunDomain(request, context);
        }
    }
    const auto lock = storage::FolderLock::Acquire(context.programFolder, wait, [&context] {
        context.events.wait(std::chrono::milliseconds(0)); // takes a signal in
        return context.stop.load() == 0;
    });
    if (!lock && context.stop.load() != 0) {
        RunOutcome stopped;
        stopped.exitCode = 128 + context.stop.load();
        return stopped;
    }
    if (!lock) {
        RunOutcome skipped;
        skipped.exitCode = kExitFailed;
        skipped.error = "Übersprungen: Ein anderer Lauf, etwa ein Befehl im Programmfenster, arbeitet noch im "
                        "Programmordner " + context.programFolder + ".";
        return skipped;
    }
    return RunDomain(request, context);
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return kExitFailed;
}

// After a scheduled run nobody waits for the process: it stays for a while so that "Bericht
// öffnen" in its notifications can still open the report.
constexpr std::chrono::minutes kActionWait{10};

int RunWatch(const WatchOptions& o, RunContext& context) {
    const std::time_t now = std::time(nullptr);
    if (context.installed) {
        try {
            storage::MakePrivateFolder(context.programFolder);
        } catch (const std::exception& e) {
            return Fail(e.what());
        }
    }
    storage::History::Opened opened = storage::History::Open(context.programFolder, now);
    if (!opened.notice.empty())
        std::fprintf(stderr, "%s\n", opened.notice.c_str());
    if (!opened.history)
        return Fail("Die Überwachungsliste ist nicht lesbar: " + opened.fault.reason);
    storage::History& history = *opened.history;

    switch (o.action) {
    case WatchAction::Add: {
        storage::WatchEntry entry{o.domain,
                                  retrieval::DomainKey(o.domain),
                                  o.request.xovi ? "xovi" : "seokicks",
                                  o.request.limit.empty() ? "100" : o.request.limit,
                                  o.interval,
                                  0,
                                  {}};
        if (!o.request.listFile.empty()) {
            struct stat st {};
            if (::stat(o.request.listFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                return Fail("Die Liste " + o.request.listFile + " gibt es nicht.");
            entry.service = "liste";
            entry.limit.clear();
            entry.listPath = o.request.listFile;
        }
        if (const storage::Fault fault = history.SaveWatch(entry))
            return Fail(fault.reason);
        std::printf("%s wird %s geprüft.\n", o.domain.c_str(), o.interval.c_str());
        return kExitDone;
    }
    case WatchAction::Remove: {
        const auto removed = history.RemoveWatch(retrieval::DomainKey(o.domain));
        if (removed.fault)
            return Fail(removed.fault.reason);
        if (!removed.value)
            return Fail(o.domain + " steht nicht in der Überwachungsliste.");
        return kExitDone;
    }
    case WatchAction::List: {
        const auto list = history.WatchList();
        if (list.fault)
            return Fail(list.fault.reason);
        for (const storage::WatchEntry& e : list.value)
            std::printf("%s\t%s\t%s\t%s\t%s%s\n", e.domain.c_str(), e.service.c_str(),
                        e.service == "liste" ? e.listPath.c_str() : e.limit.c_str(), e.interval.c_str(),
                        LastRunText(e.lastRun).c_str(), storage::IsDue(e, now) ? "\tfällig" : "");
        return kExitDone;
    }
    case WatchAction::Due:
    case WatchAction::None:
        break;
    }

    const auto list = history.WatchList();
    if (list.fault)
        return Fail(list.fault.reason);
    int status = kExitDone;
    std::unique_ptr<Notifier> notifier;
    if (o.notify)
        notifier = MakeNotifier(true);
    for (const storage::WatchEntry& e : list.value) {
        if (!storage::IsDue(e, now))
            continue;
        RunRequest request{e.domain, e.service == "xovi", e.limit, true, o.browser, {}};
        if (e.service == "liste")
            request.listFile = e.listPath.empty() ? std::string("(keine Datei)") : e.listPath;
        const std::time_t started = std::time(nullptr);
        const RunOutcome outcome = LockedRun(request, context, o.lockWait);
        if (outcome.exitCode > kExitLoss) // stopped by a signal: the rest waits for the next run
            return outcome.exitCode;
        if (!outcome.error.empty())
            std::fprintf(stderr, "%s: %s\n", e.domain.c_str(), outcome.error.c_str());
        if (outcome.exitCode == kExitFailed) {
            status = kExitFailed;
            continue;
        }
        std::printf("%s: %s\n", e.domain.c_str(), outcome.summary.c_str());
        std::fflush(stdout);
        if (const storage::Fault fault = history.SetWatchLastRun(e.domainKey, started))
            std::fprintf(stderr, "%s: %s\n", e.domain.c_str(), fault.reason.c_str());
        if (outcome.exitCode == kExitLoss && status == kExitDone)
            status = kExitLoss;
        if (notifier)
            notifier->notifyLoss(request, outcome);
    }
    if (notifier)
        notifier->waitForActions(kActionWait, context.events, context.stop);
    return status;
}

} // namespace

bool IsCommand(int argc, char** argv) {
    if (argc < 2)
        return false;
    const std::string_view first = argv[1];
    return first == "pruefen" || first == "ueberwachen";
}

std::string CommandsUsage(const std::string& program) {
    return "       " + program +
           " pruefen DOMAIN [--dienst seokicks|xovi] [--max N] [--liste DATEI]\n"
           "                 [--ohne-pruefe] [--json] [--benachrichtigen] [--warten S] [--ohne-browser]\n"
           "       " +
           program +
           " ueberwachen --hinzufuegen DOMAIN [--dienst seokicks|xovi] [--max N]\n"
           "                 [--liste DATEI] [--intervall täglich|wöchentlich|monatlich]\n"
           "       " +
           program +
           " ueberwachen --entfernen DOMAIN | --liste\n"
           "       " +
           program + " ueberwachen --faellige [--warten S] [--ohne-browser]\n";
}

std::string CommandsHelp() {
    return "Befehle (ohne Fenster, ohne Anzeige):\n"
           "  pruefen DOMAIN    Check und Prüfe für DOMAIN mit dem Schlüssel aus config.txt,\n"
           "                    denselben Berichten und demselben Verlauf wie im Fenster.\n"
           "                    Fortschritt und Meldungen auf die Standardfehlerausgabe, die\n"
           "                    Zusammenfassung der Änderungen auf die Standardausgabe.\n"
           "    --dienst D        seokicks (Vorgabe) oder xovi\n"
           "    --max N           höchstens N Backlinks abrufen (Vorgabe 100)\n"
           "    --liste DATEI     die Backlinks aus DATEI lesen statt einen Dienst zu fragen:\n"
           "                      Search-Console-Export (CSV oder ZIP), Bing, Ahrefs, Semrush,\n"
           "                      Majestic, Moz, jede CSV/TSV, eine Adresse je Zeile, .xlsx;\n"
           "                      Berichte unter reporting/liste/\n"
           "    --ohne-pruefe     nur der Check, keine Prüfe\n"
           "    --json            Zählungen und Berichtspfade als ein JSON-Objekt ausgeben\n"
           "    --benachrichtigen bei Verlusten eine Desktop-Benachrichtigung zeigen\n"
           "    --warten S        so viele Sekunden warten, solange das Fenster im selben\n"
           "                      Programmordner arbeitet (Vorgabe 300), sonst abbrechen\n"
           "    --ohne-browser    Seiten, die ihren Inhalt mit JavaScript bauen, nicht im\n"
           "                      Browser nachprüfen; ihre Links gelten dann als nicht geprüft\n"
           "  ueberwachen       die Überwachungsliste in halmfang.db:\n"
           "    --hinzufuegen DOMAIN  aufnehmen (Intervall: Vorgabe wöchentlich); mit\n"
           "                          --liste DATEI wird DATEI bei jedem Lauf neu gelesen\n"
           "    --entfernen DOMAIN    streichen\n"
           "    --liste               Domain, Dienst, Max (oder Liste), Intervall, letzter Lauf\n"
           "                          (Tab-getrennt)\n"
           "    --faellige            jede fällige Domain prüfen wie pruefen; bei Verlusten eine\n"
           "                          Desktop-Benachrichtigung. Arbeitet das Fenster im selben\n"
           "                          Ordner länger als --warten, wird die Domain übersprungen.\n"
           "                          --ohne-browser wie bei pruefen.\n"
           "\n"
           "Rückgabewerte der Befehle: 0 fertig, nichts verloren; 3 fertig, seit der letzten Prüfung\n"
           "mindestens ein Link verloren (entfernt, nofollow geworden oder seine Seite nicht mehr\n"
           "erreichbar; jeder Verlust zählt einmal); 1 Fehler (Meldung auf der Standardfehlerausgabe);\n"
           "2 falscher Aufruf; 130 bzw. 143 abgebrochen (SIGINT, SIGTERM oder SIGHUP).\n";
}

int Main(int argc, char** argv) {
    Arguments args(argc, argv);
    const std::string command = argv[1];
    for (int i = 2; i < argc; ++i)
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
            std::printf("Aufruf: %s [Option]\n%s\n%s", kProgram.data(), CommandsUsage(std::string(kProgram)).c_str(),
                        CommandsHelp().c_str());
            return kExitDone;
        }
    PruefenOptions pruefen;
    WatchOptions watch;
    try {
        if (command == "pruefen")
            pruefen = ReadPruefen(args);
        else
            watch = ReadWatch(args);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s %s: %s\nHilfe: %s --help\n", kProgram.data(), command.c_str(), e.what.c_str(),
                     kProgram.data());
        return kExitUsage;
    }

    bool installed = false;
    const std::string folder = ProgramFolder(installed);
    retrieval::PollEventSource events;
    std::atomic<int> stop{0};
    const StopOnSignals signals(events, stop);
    RunContext context{folder, installed, events, stop, ::isatty(STDERR_FILENO) == 1};
    if (command != "pruefen")
        return RunWatch(watch, context);

    const RunOutcome outcome = LockedRun(pruefen.request, context, pruefen.lockWait);
    if (!outcome.error.empty())
        std::fprintf(stderr, "%s\n", outcome.error.c_str());
    if (pruefen.json)
        std::printf("%s\n", OutcomeJson(pruefen.request, outcome).c_str());
    else if (!outcome.summary.empty() && outcome.exitCode != kExitFailed)
        std::printf("%s\n", outcome.summary.c_str());
    std::fflush(stdout);
    // On the command line the user is there: the notification offers no action to wait for.
    if (pruefen.notify)
        MakeNotifier(false)->notifyLoss(pruefen.request, outcome);
    return outcome.exitCode;
}

} // namespace cli
