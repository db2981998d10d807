// zelkor COMMAND [options]: whole-card work with the reader from the command
// line. Each command family lives in a file of its own (commands.h).
#include "cli/commands.h"
#include "cli/platform.h"
#include "cli/program.h"

int main(int argc, char **argv) {
    // The card operation in progress still finishes and closes the reader
    // when whoever reads standard output goes away.
    zelkor::cli::platform::IgnoreBrokenPipe();
    zelkor::cli::Program program;
    zelkor::cli::AddPortsCommand(program);
    zelkor::cli::AddInfoCommands(program);
    zelkor::cli::AddKeysCommand(program);
    zelkor::cli::AddDumpCommands(program);
    zelkor::cli::AddFileCommands(program);
    zelkor::cli::AddDecodeCommands(program);
    zelkor::cli::AddBlockCommands(program);
    return program.Run(argc, argv);
}
