#pragma once
// Runs the real vtxt binary as a child process with chosen standard streams.
#include <string>
#include <vector>

struct ProcessResult {
    int exitCode = -1;  // -1: did not start or was killed
    std::string out;
    std::string err;
    std::string terminal;  // what the child wrote to its terminal (pty runs only)
};

struct ProcessOptions {
    std::string input;             // written to the child's standard input, then closed
    std::string extraInput;        // when not empty: a pipe holding it, passed as descriptor extraDescriptor
    int extraDescriptor = 5;       // (not on Windows)
    bool errorToTerminal = false;  // standard error on a pseudo terminal (not on Windows)
    // A controlling terminal; each time its output ends with a prompt, the next answer is typed.
    std::vector<std::string> terminalAnswers;  // (not on Windows)
    std::string outputFile;                    // when not empty: standard output goes to this file
};

// The path of the vtxt binary under test, in the host's syntax.
std::string vtxtPath();
ProcessResult runVtxt(const std::vector<std::string>& args, const ProcessOptions& options = {});
