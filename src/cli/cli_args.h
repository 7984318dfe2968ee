#pragma once
// The command line of vtxt: subcommands, their options, and the usage and
// help texts. Parsing never reads a file and never asks for anything.
#include <string>
#include <vector>

enum class Command { None, Encrypt, Decrypt, Cat, Info, Verify, Passwd };

enum class PasswordSourceKind { Prompt, File, Descriptor };

// Where a password comes from. A password itself is never an argument.
struct PasswordSource {
    PasswordSourceKind kind = PasswordSourceKind::Prompt;
    std::string path;  // File: a path, or "-" for standard input
    int descriptor = -1;
};

struct CommandLine {
    Command command = Command::None;
    bool showHelp = false;
    bool showVersion = false;
    std::string input;                // the first input file; "-" is standard input
    std::vector<std::string> inputs;  // every input file (info and verify take several)
    std::string output;               // "-" is standard output; empty when not given
    bool hasOutput = false;
    bool force = false;
    bool raw = false;
    bool json = false;
    bool fromUtf16 = false;
    bool keepHint = false;
    bool noHint = false;  // passwd: remove the hint
    bool hasHint = false;
    std::string hint;                 // UTF-8
    bool allowEmptyPassword = false;  // a new password may be empty
    bool quiet = false;               // no progress and no notes
    bool askPassword = false;
    bool hasPassword = false;  // a --password-file or --password-fd was given
    PasswordSource password;
    PasswordSource newPassword;
};

// Parses the arguments after the program name. On a usage error returns false
// with a one-line reason in *error (line->command tells which usage to show).
bool parseCommandLine(const std::vector<std::string>& args, CommandLine* line, std::string* error);
// The short usage of one command (or of the tool for Command::None).
std::string usageText(Command command);
// The full help of one command (or of the tool).
std::string helpText(Command command);
std::string versionText();
