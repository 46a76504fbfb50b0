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

// `arguments` starts with the program name. With `strict` off only --help and --version count and
// everything else is left for the toolkit (whose own options such as -platform are not known yet);
// with `strict` on, what the toolkit has left over must be ours.
CommandLineOutcome ReadCommandLine(const QStringList& arguments, bool strict);

} // namespace app
