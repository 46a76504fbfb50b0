#include "app/CommandLine.h"

#include "app/contract/Window.h"
#include "cli/Main.h"
#include "retrieval/render/PageRenderer.h"
#include "retrieval/sandbox/LinkWorker.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QStringView>
#include <algorithm>
#include <iterator>

namespace app {

namespace {

std::string Usage(const QString& program) {
    const std::string name = program.toStdString();
    return "Aufruf: " + name + " [Option]\n" + cli::CommandsUsage(name) +
           "\n"
           "Listet die Backlinks einer Domain aus zwei Backlink-Diensten auf, speichert sie als\n"
           "CSV- und HTML-Bericht und prüft, ob die verlinkenden Seiten die Domain noch nennen.\n"
           "Ohne Option und Befehl öffnet sich das Programmfenster.\n"
           "\n"
           "Optionen:\n"
           "  -h, --help       diese Hilfe anzeigen\n"
           "  -v, --version    die Version anzeigen\n"
           "\n" + cli::CommandsHelp();
}

// The toolkit's own options, as Qt reads them with one or two dashes; it takes them out of the
// arguments once it starts, a value with them.
struct ToolkitOption {
    const char* name;
    bool takesValue;
};
constexpr ToolkitOption kToolkitOptions[] = {
    {"platform", true},    {"platformpluginpath", true}, {"platformtheme", true}, {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},    {"qwindowtitle", true},  {"session", true},
    {"display", true},     {"geometry", true},           {"style", true},         {"stylesheet", true},
    {"fontengine", true},  {"graphicssystem", true},     {"name", true},          {"title", true},
    {"visual", true},      {"ncols", true},              {"reverse", false},      {"widgetcount", false},
    {"nograb", false},     {"dograb", false},            {"cmap", false}};

// The arguments without the toolkit's options, so that ours can be judged before the toolkit
// starts and needs a display.
QStringList WithoutToolkitOptions(const QStringList& arguments) {
    QStringList rest;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (i == 0 || !argument.startsWith(QLatin1Char('-'))) {
            rest.append(argument);
            continue;
        }
        QStringView name = QStringView(argument).mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        const bool joined = equals >= 0; // -style=fusion: Qt takes a joined value for the style only
        if (joined)
            name = name.left(equals);
        const auto option = std::find_if(std::begin(kToolkitOptions), std::end(kToolkitOptions),
                                         [name](const ToolkitOption& o) { return name == QLatin1String(o.name); });
        if (option == std::end(kToolkitOptions) ||
            (joined && name != QLatin1String("style") && name != QLatin1String("stylesheet"))) {
            rest.append(argument);
            continue;
        }
        if (option->takesValue && !joined)
            ++i;
    }
    return rest;
}

} // namespace

CommandLineOutcome ReadCommandLine(const QStringList& given, bool toolkitStarted) {
    const QStringList arguments = toolkitStarted ? given : WithoutToolkitOptions(given);
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
    parser.addOption(help);
    parser.addOption(version);
    const bool clean = parser.parse(arguments);
    const QString program =
        arguments.isEmpty() ? QStringLiteral("quandrel-halmfang") : QFileInfo(arguments.first()).fileName();

    CommandLineOutcome outcome;
    if (parser.isSet(help)) {
        outcome.openWindow = false;
        outcome.out = Usage(program);
    } else if (parser.isSet(version)) {
        outcome.openWindow = false;
        outcome.out = std::string(toolkit::kTitleText) + "\n" + retrieval::SandboxLine() + "\n" +
                      retrieval::BrowserLine() + "\n";
    } else if (!clean || !parser.positionalArguments().isEmpty()) {
        outcome.openWindow = false;
        outcome.exitCode = 2;
        std::string what;
        if (!parser.unknownOptionNames().isEmpty()) {
            const std::string name = parser.unknownOptionNames().first().toStdString();
            what = "Unbekannte Option: " + std::string(name.size() == 1 ? "-" : "--") + name;
        } else if (!parser.positionalArguments().isEmpty())
            what = "Unerwartetes Argument: " + parser.positionalArguments().first().toStdString();
        else
            what = parser.errorText().toStdString();
        outcome.err = program.toStdString() + ": " + what + "\nHilfe: " + program.toStdString() + " --help\n";
    }
    return outcome;
}

} // namespace app
