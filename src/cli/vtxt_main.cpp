// vtxt: Tarnwick documents from the command line.
#ifdef _WIN32
#include <windows.h>
#endif

#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/cli_cleanup.h"
#include "cli/cli_commands.h"
#include "cli/cli_console.h"
#include "cli/cli_files.h"
#include "cli/cli_memory.h"
#include "cli/cli_password.h"

namespace {

int runCommand(const CommandLine& line)
{
    switch (line.command) {
        case Command::Encrypt:
            return runEncrypt(line);
        case Command::Decrypt:
        case Command::Cat:
            return runDecrypt(line);
        case Command::Info:
            return runInfo(line);
        case Command::Verify:
            return runVerify(line);
        case Command::Passwd:
            return runPasswd(line);
        case Command::None:
            break;
    }
    return EXIT_USAGE;
}

int reportUsageError(const CommandLine& line, const std::vector<std::string>& args, const std::string& error)
{
    printError(error);
    std::string usage = usageText(line.command);
    usage += line.command == Command::None ? "" : "Try 'vtxt " + std::string(args[0]) + " --help'.\n";
    writeText(StandardStream::Error, usage);
    return EXIT_USAGE;
}

int runTool(const std::vector<std::string>& args)
{
    disableCoreDumps();
    installInterruptCleanup();
    CommandLine line;
    std::string error;
    if (!parseCommandLine(args, &line, &error) || !checkStandardInputUse(line, &error)) {
        return reportUsageError(line, args, error);
    }
    setQuiet(line.quiet);
    if (line.showVersion) {
        return writeText(StandardStream::Output, versionText()) ? 0 : EXIT_OTHER_FAILURE;
    }
    if (line.showHelp) {
        return writeText(StandardStream::Output, helpText(line.command)) ? 0 : EXIT_OTHER_FAILURE;
    }
    return runCommand(line);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv)
{
    // Libraries from the system folder only: a DLL planted beside vtxt.exe
    // must never run in the process that handles the password and the text.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    std::vector<std::string> args;
    for (int k = 1; k < argc; ++k) {
        args.push_back(argumentFromWide(argv[k]));
    }
    return runTool(args);
}
#else
int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return runTool(args);
}
#endif
