#include "cli/cli_args.h"

#include <cstdlib>

#ifndef VTXT_VERSION
#define VTXT_VERSION "23.8.0"
#endif

namespace {

struct CommandName {
    const char* name;
    Command command;
};

constexpr CommandName COMMAND_NAMES[] = {
    {"encrypt", Command::Encrypt}, {"decrypt", Command::Decrypt}, {"cat", Command::Cat},
    {"info", Command::Info},       {"verify", Command::Verify},   {"passwd", Command::Passwd},
};

// Which options each command takes.
enum OptionFlag : unsigned {
    OPT_OUTPUT = 1u << 0,
    OPT_FORCE = 1u << 1,
    OPT_RAW = 1u << 2,
    OPT_JSON = 1u << 3,
    OPT_HINT = 1u << 4,
    OPT_KEEP_HINT = 1u << 5,
    OPT_FROM_UTF16 = 1u << 6,
    OPT_PASSWORD = 1u << 7,
    OPT_NEW_PASSWORD = 1u << 8,
    OPT_ASK_PASSWORD = 1u << 9,
    OPT_NO_HINT = 1u << 10,
    OPT_ALLOW_EMPTY = 1u << 11,
    OPT_SEVERAL_INPUTS = 1u << 12,
};

unsigned optionsOf(Command command)
{
    switch (command) {
        case Command::Encrypt:
            return OPT_OUTPUT | OPT_FORCE | OPT_HINT | OPT_FROM_UTF16 | OPT_PASSWORD | OPT_ALLOW_EMPTY;
        case Command::Decrypt:
            return OPT_OUTPUT | OPT_FORCE | OPT_RAW | OPT_PASSWORD;
        case Command::Cat:
            return OPT_RAW | OPT_PASSWORD;
        case Command::Info:
            return OPT_JSON | OPT_SEVERAL_INPUTS;
        case Command::Verify:
            return OPT_PASSWORD | OPT_ASK_PASSWORD | OPT_SEVERAL_INPUTS;
        case Command::Passwd:
            return OPT_HINT | OPT_KEEP_HINT | OPT_NO_HINT | OPT_PASSWORD | OPT_NEW_PASSWORD | OPT_ALLOW_EMPTY |
                   OPT_FORCE;
        case Command::None:
            break;
    }
    return 0;
}

const char* commandName(Command command)
{
    for (const CommandName& entry : COMMAND_NAMES) {
        if (entry.command == command) {
            return entry.name;
        }
    }
    return "";
}

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// A source that reads standard input by its name: "-" or descriptor 0.
bool namesStandardInput(const PasswordSource& source)
{
    return (source.kind == PasswordSourceKind::File && source.path == "-") ||
           (source.kind == PasswordSourceKind::Descriptor && source.descriptor == 0);
}

// Options that look like a way to give a password as an argument.
bool isPasswordArgument(const std::string& name)
{
    return name == "--password" || name == "--new-password" || name == "--passphrase" || name == "--pass" ||
           name == "--pw" || name == "-p";
}

[[maybe_unused]] bool parseDescriptor(const std::string& text, int* descriptor)
{
    if (text.empty() || text.size() > 9) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    *descriptor = std::atoi(text.c_str());
    return true;
}

struct Parser {
    const std::vector<std::string>& args;
    CommandLine* line;
    std::string* error;
    std::size_t index = 0;
    bool passwordSeen = false;
    bool newPasswordSeen = false;

    bool fail(const std::string& message)
    {
        *error = message;
        return false;
    }

    // The value of an option given as "--name=value" or "--name value".
    bool takeValue(const std::string& name, bool hasInline, const std::string& inlineValue, std::string* value)
    {
        if (hasInline) {
            *value = inlineValue;
            return true;
        }
        if (index + 1 >= args.size()) {
            return fail("option " + name + " needs a value");
        }
        *value = args[++index];
        return true;
    }

    bool takePasswordSource(const std::string& name, bool descriptor, bool hasInline, const std::string& inlineValue,
                            PasswordSource* source, bool* seen)
    {
        if (*seen) {
            return fail("give one of --password-file and --password-fd (and of their --new- forms) once");
        }
        *seen = true;
        std::string value;
        if (!takeValue(name, hasInline, inlineValue, &value)) {
            return false;
        }
        if (descriptor) {
#ifdef _WIN32
            return fail(name + " is not available on Windows; use a password file");
#else
            source->kind = PasswordSourceKind::Descriptor;
            if (!parseDescriptor(value, &source->descriptor)) {
                return fail(name + " needs a file descriptor number, not '" + value + "'");
            }
            return true;
#endif
        }
        if (value.empty()) {
            return fail(name + " needs a file name");
        }
        source->kind = PasswordSourceKind::File;
        source->path = value;
        return true;
    }

    bool option(const std::string& argument)
    {
        std::string name = argument;
        std::string inlineValue;
        bool hasInline = false;
        if (startsWith(argument, "--")) {
            const std::size_t equals = argument.find('=');
            if (equals != std::string::npos) {
                name = argument.substr(0, equals);
                inlineValue = argument.substr(equals + 1);
                hasInline = true;
            }
        } else if (argument.size() > 2 && argument[1] != '-') {
            // "-oFILE"
            name = argument.substr(0, 2);
            inlineValue = argument.substr(2);
            hasInline = true;
        }
        if (isPasswordArgument(name)) {
            return fail("passwords are never taken from the command line; use --password-file FILE" +
                        std::string(
#ifdef _WIN32
                            ""
#else
                            ", --password-fd N"
#endif
                            ) +
                        " or the prompt");
        }
        const unsigned allowed = optionsOf(line->command);
        auto flagOption = [&](unsigned flag, bool* target) {
            if ((allowed & flag) == 0) {
                return fail(std::string("'") + commandName(line->command) + "' takes no option " + name);
            }
            if (hasInline) {
                return fail("option " + name + " takes no value");
            }
            *target = true;
            return true;
        };
        auto valueAllowed = [&](unsigned flag) {
            if ((allowed & flag) == 0) {
                return fail(std::string("'") + commandName(line->command) + "' takes no option " + name);
            }
            return true;
        };
        if (name == "-o" || name == "--output") {
            if (!valueAllowed(OPT_OUTPUT) || !takeValue(name, hasInline, inlineValue, &line->output)) {
                return false;
            }
            if (line->output.empty()) {
                return fail("option " + name + " needs a file name");
            }
            line->hasOutput = true;
            return true;
        }
        if (name == "-f" || name == "--force") {
            return flagOption(OPT_FORCE, &line->force);
        }
        if (name == "--raw") {
            return flagOption(OPT_RAW, &line->raw);
        }
        if (name == "--json") {
            return flagOption(OPT_JSON, &line->json);
        }
        if (name == "--from-utf16") {
            return flagOption(OPT_FROM_UTF16, &line->fromUtf16);
        }
        if (name == "--keep-hint") {
            return flagOption(OPT_KEEP_HINT, &line->keepHint);
        }
        if (name == "--no-hint") {
            return flagOption(OPT_NO_HINT, &line->noHint);
        }
        if (name == "--allow-empty-password") {
            return flagOption(OPT_ALLOW_EMPTY, &line->allowEmptyPassword);
        }
        if (name == "-q" || name == "--quiet") {
            if (hasInline) {
                return fail("option " + name + " takes no value");
            }
            line->quiet = true;  // every command has progress or notes to silence
            return true;
        }
        if (name == "--ask-password") {
            return flagOption(OPT_ASK_PASSWORD, &line->askPassword);
        }
        if (name == "--hint") {
            if (!valueAllowed(OPT_HINT) || !takeValue(name, hasInline, inlineValue, &line->hint)) {
                return false;
            }
            line->hasHint = true;
            return true;
        }
        if (name == "--password-file" || name == "--password-fd") {
            if (!valueAllowed(OPT_PASSWORD)) {
                return false;
            }
            line->hasPassword = true;
            return takePasswordSource(name, name == "--password-fd", hasInline, inlineValue, &line->password,
                                      &passwordSeen);
        }
        if (name == "--new-password-file" || name == "--new-password-fd") {
            if (!valueAllowed(OPT_NEW_PASSWORD)) {
                return false;
            }
            return takePasswordSource(name, name == "--new-password-fd", hasInline, inlineValue, &line->newPassword,
                                      &newPasswordSeen);
        }
        return fail("unknown option " + name);
    }

    bool positional(const std::string& argument)
    {
        if (!line->inputs.empty() && (optionsOf(line->command) & OPT_SEVERAL_INPUTS) == 0) {
            return fail("unexpected argument '" + argument + "'");
        }
        if (argument.empty()) {
            return fail("an empty file name");
        }
        for (const std::string& earlier : line->inputs) {
            if (argument == "-" && earlier == "-") {
                return fail("standard input can be read only once");
            }
        }
        if (line->inputs.empty()) {
            line->input = argument;
        }
        line->inputs.push_back(argument);
        return true;
    }

    bool checkCombinations()
    {
        if (line->input.empty()) {
            return fail(line->command == Command::Encrypt ? "no input file (use - for standard input)"
                                                          : "no input file");
        }
        if (line->command == Command::Encrypt && !line->hasOutput) {
            return fail("no output file: give -o FILE (or -o - for standard output)");
        }
        if (line->command == Command::Passwd && line->input == "-") {
            return fail("passwd changes a file in place; standard input cannot be used");
        }
        if (int{line->hasHint} + int{line->keepHint} + int{line->noHint} > 1) {
            return fail("give only one of --hint, --keep-hint and --no-hint");
        }
        if (line->askPassword && line->hasPassword) {
            return fail("give either --ask-password or a password file, not both");
        }
        const bool passwordFromStdin = namesStandardInput(line->password);
        const bool newPasswordFromStdin = namesStandardInput(line->newPassword);
        bool inputFromStdin = false;
        for (const std::string& input : line->inputs) {
            inputFromStdin = inputFromStdin || input == "-";
        }
        if ((passwordFromStdin || newPasswordFromStdin) && inputFromStdin) {
            return fail("standard input cannot be both the input and a password source");
        }
        if (passwordFromStdin && newPasswordFromStdin) {
            return fail("standard input can hold only one of the two passwords");
        }
        return true;
    }

    bool run()
    {
        if (args.empty()) {
            return fail("no command given");
        }
        const std::string& first = args[0];
        if (first == "--help" || first == "-h" || first == "help") {
            line->showHelp = true;
            if (first == "help" && args.size() > 1) {
                for (const CommandName& entry : COMMAND_NAMES) {
                    if (args[1] == entry.name) {
                        line->command = entry.command;
                    }
                }
                if (line->command == Command::None) {
                    return fail("no command '" + args[1] + "'");
                }
            }
            return true;
        }
        if (first == "--version" || first == "-V") {
            line->showVersion = true;
            return true;
        }
        for (const CommandName& entry : COMMAND_NAMES) {
            if (first == entry.name) {
                line->command = entry.command;
            }
        }
        if (line->command == Command::None) {
            if (startsWith(first, "-")) {
                if (isPasswordArgument(first.substr(0, first.find('=')))) {
                    return fail("passwords are never taken from the command line");
                }
                return fail("unknown option " + first);
            }
            return fail("unknown command '" + first + "'");
        }
        // Help wins over everything else, so "vtxt encrypt --help" always works.
        for (std::size_t k = 1; k < args.size() && args[k] != "--"; ++k) {
            if (args[k] == "--help" || args[k] == "-h") {
                line->showHelp = true;
                return true;
            }
        }
        bool optionsEnded = false;
        for (index = 1; index < args.size(); ++index) {
            const std::string& argument = args[index];
            if (!optionsEnded && argument == "--") {
                optionsEnded = true;
                continue;
            }
            if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
                if (!option(argument)) {
                    return false;
                }
                continue;
            }
            if (!positional(argument)) {
                return false;
            }
        }
        return checkCombinations();
    }
};

}  // namespace

bool parseCommandLine(const std::vector<std::string>& args, CommandLine* line, std::string* error)
{
    *line = CommandLine{};
    error->clear();
    Parser parser{args, line, error};
    return parser.run();
}

std::string versionText()
{
    return "vtxt " VTXT_VERSION "\n";
}

std::string usageText(Command command)
{
    switch (command) {
        case Command::Encrypt:
            return "usage: vtxt encrypt IN -o OUT [--hint TEXT] [--from-utf16] [--password-file FILE] [--force]\n"
                   "                    [--allow-empty-password] [--quiet]\n";
        case Command::Decrypt:
            return "usage: vtxt decrypt IN [-o OUT] [--raw] [--password-file FILE] [--force] [--quiet]\n";
        case Command::Cat:
            return "usage: vtxt cat FILE [--raw] [--password-file FILE] [--quiet]\n";
        case Command::Info:
            return "usage: vtxt info FILE... [--json]\n";
        case Command::Verify:
            return "usage: vtxt verify FILE... [--ask-password | --password-file FILE] [--quiet]\n";
        case Command::Passwd:
            return "usage: vtxt passwd FILE [--hint TEXT | --keep-hint | --no-hint] [--password-file FILE]\n"
                   "                   [--new-password-file FILE] [--allow-empty-password] [--force] [--quiet]\n";
        case Command::None:
            break;
    }
    return "usage: vtxt COMMAND [OPTIONS] FILE\n"
           "commands: encrypt, decrypt, cat, info, verify, passwd (vtxt --help for more)\n";
}

namespace {

constexpr const char* PASSWORD_OPTIONS_HELP =
    "  --password-file FILE   read the password from the first line of FILE\n"
    "                         (its LF or CRLF removed; - is standard input)\n"
#ifndef _WIN32
    "  --password-fd N        read the password from the first line of descriptor N\n"
#endif
    "  -q, --quiet            no progress display and no notes\n";

constexpr const char* NEW_PASSWORD_HELP =
    "  --allow-empty-password accept an empty new password (refused otherwise)\n"
    "A new password must be UTF-8 text without a NUL character.\n";

}  // namespace

std::string helpText(Command command)
{
    std::string text = usageText(command);
    switch (command) {
        case Command::Encrypt:
            text +=
                "\nEncrypts IN (- for standard input) into the container OUT (- for standard\n"
                "output), exactly as the editor saves: the bytes are stored as they are.\n"
                "Without a password file the password is asked twice on the terminal.\n\n"
                "  -o, --output OUT       the container to write (required)\n"
                "  --hint TEXT            a password hint, stored in clear (at most 127 characters)\n"
                "  --from-utf16           IN is UTF-16 (with or without a byte order mark);\n"
                "                         it is stored as UTF-8, as the editor stores text\n"
                "  -f, --force            replace OUT when it exists\n";
            text += PASSWORD_OPTIONS_HELP;
            text += NEW_PASSWORD_HELP;
            break;
        case Command::Decrypt:
            text +=
                "\nDecrypts the container IN (- for standard input) and writes the stored text to\n"
                "OUT, or to standard output when OUT is - or not given. UTF-16 text is written\n"
                "as UTF-8. Nothing is left behind when it fails.\n\n"
                "  -o, --output OUT       where to write the text\n"
                "  --raw                  write the stored bytes unchanged\n"
                "  -f, --force            replace OUT when it exists\n";
            text += PASSWORD_OPTIONS_HELP;
            break;
        case Command::Cat:
            text +=
                "\nWrites the stored text of the container FILE to standard output\n"
                "(the same as vtxt decrypt FILE).\n\n"
                "  --raw                  write the stored bytes unchanged\n";
            text += PASSWORD_OPTIONS_HELP;
            break;
        case Command::Info:
            text +=
                "\nShows the header of each container FILE without asking for a password:\n"
                "generation, cipher scheme, shuffle level, block size, plain size, save time,\n"
                "entry name and hint. Control characters in names and hints show as escapes.\n\n"
                "  --json                 print one JSON object (one line) for each FILE instead\n";
            break;
        case Command::Verify:
            text +=
                "\nChecks each container FILE without writing any text: the header, every block\n"
                "checksum and the trailer; with a password also the sum of the text, which\n"
                "tells whether the password is right and the text intact. Each FILE takes its\n"
                "own password: asked again, or the next line of a password descriptor.\n\n"
                "  --ask-password         ask for the password on the terminal\n";
            text += PASSWORD_OPTIONS_HELP;
            break;
        case Command::Passwd:
            text +=
                "\nChanges the password of the container FILE in place, through a temporary\n"
                "file that replaces FILE only when it is complete. The text never reaches the\n"
                "disk in clear. The current hint is kept (and a note says so) unless --hint\n"
                "or --no-hint is given.\n\n"
                "  --hint TEXT            the new hint (at most 127 characters)\n"
                "  --keep-hint            keep the current hint, without a note\n"
                "  --no-hint              remove the hint\n"
                "  -f, --force            change a file that has other hard links (they keep\n"
                "                         the old contents and password)\n"
                "  --password-file FILE   the current password from the first line of FILE\n"
#ifndef _WIN32
                "  --password-fd N        the current password from descriptor N\n"
#endif
                "  --new-password-file FILE  the new password from the first line of FILE\n"
#ifndef _WIN32
                "  --new-password-fd N    the new password from descriptor N\n"
#endif
                "  -q, --quiet            no progress display and no notes\n";
            text += NEW_PASSWORD_HELP;
            break;
        case Command::None:
            text =
                "usage: vtxt COMMAND [OPTIONS] FILE\n\n"
                "Reads and writes Tarnwick documents (.vtxt containers).\n\n"
                "commands:\n"
                "  encrypt IN -o OUT      encrypt a text into a container\n"
                "  decrypt IN [-o OUT]    decrypt a container\n"
                "  cat FILE               print the text of a container\n"
                "  info FILE...           show the header, no password needed\n"
                "  verify FILE...         check the checksums (and the password)\n"
                "  passwd FILE            change the password and hint\n\n"
                "vtxt COMMAND --help shows the options of a command; vtxt --version the version.\n"
                "Passwords are asked on the terminal or read from a file, never from the\n"
                "command line. Exit status: 0 success, 1 failure, 2 usage error, or the\n"
                "number of the file format's error (for example 35 wrong password).\n";
            break;
    }
    return text;
}
