#pragma once
// The subcommands. Each returns the process's exit status: 0, a result code
// of the format, 1 for any other failure, 2 for a usage error.
#include "cli/cli_args.h"

int runEncrypt(const CommandLine& line);
// decrypt and cat.
int runDecrypt(const CommandLine& line);
int runInfo(const CommandLine& line);
int runVerify(const CommandLine& line);
int runPasswd(const CommandLine& line);
