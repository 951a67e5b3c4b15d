// The program's two options. Every other argument is ignored: a run depends
// on the folder it is started in, nothing else.
#ifndef COATEDMIE_COMMAND_LINE_H
#define COATEDMIE_COMMAND_LINE_H

namespace coatedmie {

enum class CommandLineRequest { run, help, version };

// The first "--help" or "--version" among the arguments decides; without
// either the program runs.
CommandLineRequest readCommandLine(int argc, const char* const* argv);

// Print the usage text or "coatedmie <version>" on standard output and return
// the exit status: 0, or kExitOutputFailure when standard output cannot be
// written (with a line on standard error). Neither touches any file.
int printUsage();
int printVersion();

}  // namespace coatedmie

#endif  // COATEDMIE_COMMAND_LINE_H
