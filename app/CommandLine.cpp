#include "app/CommandLine.h"

#include "app/contract/Window.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace app {

namespace {

std::string Usage(const QString& program) {
    const std::string name = program.toStdString();
    return "Aufruf: " + name +
           " [Option]\n"
           "\n"
           "Listet die Backlinks einer Domain aus zwei Backlink-Diensten auf, speichert sie als\n"
           "CSV- und HTML-Bericht und prüft, ob die verlinkenden Seiten die Domain noch nennen.\n"
           "Ohne Option öffnet sich das Programmfenster.\n"
           "\n"
           "Optionen:\n"
           "  -h, --help       diese Hilfe anzeigen\n"
           "  -v, --version    die Version anzeigen\n";
}

} // namespace

CommandLineOutcome ReadCommandLine(const QStringList& arguments, bool strict) {
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
        outcome.out = std::string(toolkit::kTitleText) + "\n";
    } else if (strict && (!clean || !parser.positionalArguments().isEmpty())) {
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
