#pragma once
// The program's console commands, run before any window toolkit starts: `pruefen` and
// `ueberwachen`.

#include <string>

namespace cli {

// Whether the first argument names a console command.
bool IsCommand(int argc, char** argv);
// Runs it; returns the exit status.
int Main(int argc, char** argv);

// The commands' lines of --help: their synopsis, then what they do.
std::string CommandsUsage(const std::string& program);
std::string CommandsHelp();

} // namespace cli
