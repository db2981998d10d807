// The command families, one file each, registered on the program in the
// order `zelkor --help` lists them.
#pragma once

#include "cli/program.h"

namespace zelkor::cli {

void AddPortsCommand(Program &program);   // ports
void AddInfoCommands(Program &program);   // info, apdu
void AddKeysCommand(Program &program);    // keys
void AddDumpCommands(Program &program);   // dump, restore
void AddFileCommands(Program &program);   // diff, convert
void AddDecodeCommands(Program &program); // acl, value
void AddBlockCommands(Program &program);  // read, write, value-op

}  // namespace zelkor::cli
