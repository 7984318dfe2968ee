// The argument parser of vtxt on any command line: it never reads past its
// input, and what it accepts holds together (one input unless the command
// takes several, standard input read once, never both the text and a password,
// one hint choice, an output for encrypt). Input: the arguments, separated by
// NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "fuzz_support.h"

namespace {

bool readsStandardInput(const PasswordSource& source)
{
    return (source.kind == PasswordSourceKind::File && source.path == "-") ||
           (source.kind == PasswordSourceKind::Descriptor && source.descriptor == 0);
}

void checkAccepted(const CommandLine& line)
{
    FUZZ_CHECK(!versionText().empty());
    FUZZ_CHECK(!helpText(line.command).empty());
    if (line.showHelp || line.showVersion) {
        return;
    }
    FUZZ_CHECK(line.command != Command::None);
    FUZZ_CHECK(!line.inputs.empty() && line.input == line.inputs[0]);
    FUZZ_CHECK(line.inputs.size() == 1 || line.command == Command::Info || line.command == Command::Verify);
    std::size_t standardInputs = 0;
    for (const std::string& input : line.inputs) {
        FUZZ_CHECK(!input.empty());
        standardInputs += input == "-" ? 1 : 0;
    }
    FUZZ_CHECK(standardInputs <= 1);
    if (standardInputs == 1) {
        FUZZ_CHECK(!readsStandardInput(line.password) && !readsStandardInput(line.newPassword));
        FUZZ_CHECK(line.command != Command::Passwd);
    }
    FUZZ_CHECK(!(readsStandardInput(line.password) && readsStandardInput(line.newPassword)));
    FUZZ_CHECK(int{line.hasHint} + int{line.keepHint} + int{line.noHint} <= 1);
    FUZZ_CHECK(!(line.askPassword && line.hasPassword));
    FUZZ_CHECK(line.command != Command::Encrypt || line.hasOutput);
    FUZZ_CHECK(!line.hasOutput || !line.output.empty());
    FUZZ_CHECK(line.password.kind != PasswordSourceKind::File || !line.password.path.empty());
    FUZZ_CHECK(line.password.kind != PasswordSourceKind::Descriptor || line.password.descriptor >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args;
    std::string current;
    for (std::size_t k = 0; k < size; ++k) {
        if (data[k] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[k]);
        }
    }
    if (size > 0) {
        args.push_back(current);
    }
    CommandLine line;
    std::string error;
    if (parseCommandLine(args, &line, &error)) {
        FUZZ_CHECK(error.empty());
        checkAccepted(line);
    } else {
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(!usageText(line.command).empty());
    }
    return 0;
}
