#pragma once
// The program's few command-line options: --help and --version answer without opening a window;
// anything else the program does not know ends it with status 2.

#include <QStringList>
#include <string>

namespace app {

struct CommandLineOutcome {
    bool openWindow = true;
    int exitCode = 0;
    std::string out; // for standard output
    std::string err; // for standard error
};

// `arguments` starts with the program name. Before the toolkit has started its own options (such
// as -platform with its value) are passed over and the rest must be ours; once it has started,
// what it has left over must be ours.
CommandLineOutcome ReadCommandLine(const QStringList& arguments, bool toolkitStarted);

} // namespace app
