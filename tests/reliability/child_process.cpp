#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

std::vector<char*> argumentVector(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

void applyLimit(int resource, std::uint64_t value)
{
    if (value == 0) {
        return;
    }
    struct rlimit limit {};
    limit.rlim_cur = static_cast<rlim_t>(value);
    limit.rlim_max = static_cast<rlim_t>(value);
    setrlimit(resource, &limit);
}

}  // namespace

ChildOutcome runChild(const std::string& program, const std::vector<std::string>& args, const ChildLimits& limits)
{
    char errorPath[] = "/tmp/tarnwick-child-stderr-XXXXXX";
    const int errorFd = mkstemp(errorPath);
    std::vector<char*> argv = argumentVector(program, args);
    ChildOutcome outcome;
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
        dup2(errorFd, STDERR_FILENO);
        applyLimit(RLIMIT_AS, limits.addressSpaceBytes);
        applyLimit(RLIMIT_CPU, limits.cpuSeconds);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) {
        outcome.exited = WIFEXITED(status);
        outcome.exitCode = outcome.exited ? WEXITSTATUS(status) : -1;
        outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    std::ifstream error(errorPath);
    outcome.standardError.assign(std::istreambuf_iterator<char>(error), std::istreambuf_iterator<char>());
    close(errorFd);
    unlink(errorPath);
    return outcome;
}

pid_t startChildOnPipe(const std::string& program, const std::vector<std::string>& args, int* pipeWriter)
{
    int ends[2];
    if (pipe(ends) != 0) {
        return -1;
    }
    std::vector<char*> argv = argumentVector(program, args);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(ends[0], STDIN_FILENO);
        close(ends[1]);
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(ends[0]);
    *pipeWriter = ends[1];
    return pid;
}

void stopChild(pid_t pid)
{
    if (pid <= 0) {
        return;
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}
