#include "cli/Main.h"

#include "cli/Pruefen.h"
#include "cli/Signals.h"
#include "retrieval/PollEventSource.h"
#include "storage/ProgramFolder.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
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

struct PruefenOptions {
    RunRequest request;
    bool json = false;
    bool notify = false;
};

PruefenOptions ReadPruefen(Arguments& args) {
    PruefenOptions o;
    std::optional<std::string> domain;
    while (!args.done()) {
        const std::string a = args.take();
        if (a == "--dienst")
            o.request.xovi = ReadService(args.value(a));
        else if (a == "--max")
            o.request.limit = ReadLimit(args.value(a));
        else if (a == "--ohne-pruefe")
            o.request.withCrossCheck = false;
        else if (a == "--json")
            o.json = true;
        else if (a == "--benachrichtigen")
            o.notify = true;
        else if (a.starts_with("-") && a != "-")
            throw UsageError{"Unbekannte Option: " + a};
        else if (domain)
            throw UsageError{"Unerwartetes Argument: " + a};
        else
            domain = a;
    }
    if (!domain || domain->empty())
        throw UsageError{"pruefen braucht eine Domain."};
    o.request.domain = *domain;
    return o;
}

} // namespace

bool IsCommand(int argc, char** argv) {
    if (argc < 2)
        return false;
    const std::string_view first = argv[1];
    return first == "pruefen" || first == "ueberwachen";
}

std::string CommandsUsage(const std::string& program) {
    return "       " + program + " pruefen DOMAIN [--dienst seokicks|xovi] [--max N] [--ohne-pruefe]\n"
           "                 [--json] [--benachrichtigen]\n";
}

std::string CommandsHelp() {
    return "Befehle (ohne Fenster, ohne Anzeige):\n"
           "  pruefen DOMAIN    Check und Prüfe für DOMAIN mit dem Schlüssel aus config.txt,\n"
           "                    denselben Berichten und demselben Verlauf wie im Fenster.\n"
           "                    Fortschritt und Meldungen auf die Standardfehlerausgabe, die\n"
           "                    Zusammenfassung der Änderungen auf die Standardausgabe.\n"
           "    --dienst D        seokicks (Vorgabe) oder xovi\n"
           "    --max N           höchstens N Backlinks abrufen (Vorgabe 100)\n"
           "    --ohne-pruefe     nur der Check, keine Prüfe\n"
           "    --json            Zählungen und Berichtspfade als ein JSON-Objekt ausgeben\n"
           "    --benachrichtigen bei Verlusten eine Desktop-Benachrichtigung zeigen\n"
           "\n"
           "Rückgabewerte der Befehle: 0 fertig, nichts verloren; 3 fertig, mindestens ein Link\n"
           "entfernt, nofollow geworden oder Seite nicht erreichbar; 1 Fehler (Meldung auf der\n"
           "Standardfehlerausgabe); 2 falscher Aufruf; 130 bzw. 143 abgebrochen (SIGINT, SIGTERM).\n";
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
    PruefenOptions options;
    try {
        options = ReadPruefen(args);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s %s: %s\nHilfe: %s --help\n", kProgram.data(), command.c_str(), e.what.c_str(),
                     kProgram.data());
        return kExitUsage;
    }

    const std::string exeDir = ExecutableDir();
    const storage::InstallLayout layout = storage::BuiltInLayout();
    std::string folder =
        storage::ChooseProgramFolder(exeDir, layout, std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    retrieval::PollEventSource events;
    std::atomic<int> stop{0};
    const StopOnSignals signals(events, stop);
    RunContext context{folder, storage::IsInstalledLayout(exeDir, layout), events, stop,
                       ::isatty(STDERR_FILENO) == 1};
    const RunOutcome outcome = RunDomain(options.request, context);
    if (!outcome.error.empty())
        std::fprintf(stderr, "%s\n", outcome.error.c_str());
    if (options.json)
        std::printf("%s\n", OutcomeJson(options.request, outcome).c_str());
    else if (!outcome.summary.empty() && outcome.exitCode != kExitFailed)
        std::printf("%s\n", outcome.summary.c_str());
    std::fflush(stdout);
    return outcome.exitCode;
}

} // namespace cli
