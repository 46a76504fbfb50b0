#include "app/CommandLine.h"
#include "app/Unit1.h"
#include "cli/Main.h"
#include "retrieval/sandbox/LinkWorker.h"

#include <QApplication>
#include <cstdio>

namespace {

// Prints what the command line asked for; true when that already answers it and no window opens.
bool Answered(const app::CommandLineOutcome& outcome) {
    std::fputs(outcome.out.c_str(), stdout);
    std::fputs(outcome.err.c_str(), stderr);
    return !outcome.openWindow;
}

} // namespace

int main(int argc, char** argv) {
    if (const auto worker = retrieval::RunLinkWorkerIfAsked(argc, argv)) // the link check's sandbox
        return *worker;
    // The console commands run without a window toolkit, so they need no display.
    if (cli::IsCommand(argc, argv))
        return cli::Main(argc, argv);
    // --help, --version and an unknown option are answered before the toolkit starts, so they need
    // no display.
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw.append(QString::fromLocal8Bit(argv[i]));
    if (const auto early = app::ReadCommandLine(raw, false); Answered(early))
        return early.exitCode;

    QApplication application(argc, argv);
    // The toolkit has taken its own options (-platform, -style, ...); the rest must be ours.
    if (const auto outcome = app::ReadCommandLine(QApplication::arguments(), true); Answered(outcome))
        return outcome.exitCode;
    QApplication::setApplicationName(QStringLiteral("quandrel-halmfang"));
    QGuiApplication::setDesktopFileName(QStringLiteral(QH_APP_ID));
    app::TForm1 form;
    form.show();
    return QApplication::exec();
}
