#pragma once
// Runs a program as a child process for the tests that drive vtxt from the
// outside: with optional resource limits, standard input from a file or a
// pipe left open, and its exit status or the signal that ended it.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct ChildLimits {
    std::uint64_t addressSpaceBytes = 0;  // RLIMIT_AS; 0 leaves it alone
    std::uint64_t cpuSeconds = 0;         // RLIMIT_CPU; a guard against endless work, 0 leaves it alone
};

struct ChildOutcome {
    bool exited = false;
    int exitCode = -1;
    int signal = 0;
    std::string standardError;
};

// Runs program with args to its end; standard output goes to /dev/null.
ChildOutcome runChild(const std::string& program, const std::vector<std::string>& args,
                      const ChildLimits& limits = ChildLimits{});

// Starts program with its standard input on a pipe whose writing end the
// caller holds (and closes to let it go on). Returns the process id.
pid_t startChildOnPipe(const std::string& program, const std::vector<std::string>& args, int* pipeWriter);

// Kills and reaps a child started by startChildOnPipe.
void stopChild(pid_t pid);
