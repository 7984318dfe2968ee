#include "cli/process_runner.h"

#ifdef _WIN32
#include <windows.h>

#include <thread>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#endif

#include <cstring>

#include "support/test_support.h"

std::string vtxtPath()
{
    std::string path = VTXT_BINARY;
#ifdef _WIN32
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    if (path.size() > 1 && path[0] == '\\') {
        path = "Z:" + path;  // the Linux root as Wine shows it
    }
#endif
    return path;
}

#ifdef _WIN32
namespace {

std::wstring quoteArgument(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(2 * backslashes + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring wide(const std::string& text)
{
    const std::u16string units = toUtf16(text);
    return std::wstring(units.begin(), units.end());
}

void drain(HANDLE pipe, std::string* into)
{
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        into->append(buffer, got);
    }
}

}  // namespace

ProcessResult runVtxt(const std::vector<std::string>& args, const ProcessOptions& options)
{
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr, errRead = nullptr,
           errWrite = nullptr;
    CreatePipe(&inRead, &inWrite, &inherit, 0);
    CreatePipe(&errRead, &errWrite, &inherit, 0);
    if (options.outputFile.empty()) {
        CreatePipe(&outRead, &outWrite, &inherit, 0);
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    } else {
        outWrite = CreateFileW(wide(options.outputFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    std::wstring commandLine = quoteArgument(wide(vtxtPath()));
    for (const std::string& argument : args) {
        commandLine += L" " + quoteArgument(wide(argument));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process{};
    // Wine now and then fails to start a process while its server is busy
    // with the suite's other processes; a second try a moment later works.
    constexpr int START_ATTEMPTS = 4;
    BOOL started = FALSE;
    DWORD startError = 0;
    for (int attempt = 0; attempt < START_ATTEMPTS && !started; ++attempt) {
        if (attempt > 0) {
            Sleep(250);
        }
        started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                 nullptr, &startup, &process);
        startError = started ? 0 : GetLastError();
    }
    CloseHandle(inRead);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (!started) {
        CloseHandle(inWrite);
        if (outRead != nullptr) {
            CloseHandle(outRead);
        }
        CloseHandle(errRead);
        result.err = "CreateProcessW failed, error " + std::to_string(startError);
        return result;
    }
    std::thread writer([&] {
        std::size_t done = 0;
        while (done < options.input.size()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(options.input.size() - done, 65536));
            if (!WriteFile(inWrite, options.input.data() + done, chunk, &written, nullptr)) {
                break;
            }
            done += written;
        }
        CloseHandle(inWrite);
    });
    std::thread outReader([&] {
        if (outRead != nullptr) {
            drain(outRead, &result.out);
        }
    });
    drain(errRead, &result.err);
    outReader.join();
    writer.join();
    WaitForSingleObject(process.hProcess, 300000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.exitCode = static_cast<int>(code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (outRead != nullptr) {
        CloseHandle(outRead);
    }
    CloseHandle(errRead);
    return result;
}
#else
namespace {

void setNonBlocking(int descriptor)
{
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK);
}

bool endsWithPrompt(const std::string& text)
{
    const std::size_t colon = text.rfind(": ");
    return colon != std::string::npos && colon + 2 == text.size();
}

}  // namespace

ProcessResult runVtxt(const std::vector<std::string>& args, const ProcessOptions& options)
{
    ProcessResult result;
    int inPipe[2], outPipe[2], errPipe[2], extraPipe[2] = {-1, -1};
    if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0) {
        return result;
    }
    if (!options.extraInput.empty() && pipe(extraPipe) != 0) {
        return result;
    }
    const bool wantTerminal = options.errorToTerminal || !options.terminalAnswers.empty();
    int master = -1, slave = -1;
    if (wantTerminal && openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        return result;
    }
    int outFile = -1;
    if (!options.outputFile.empty()) {
        outFile = open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    // A child that refuses its input and exits before reading it closes the
    // pipe under the writes below: that must be EPIPE here, not a signal that
    // ends the test process. The child gets the default back.
    std::signal(SIGPIPE, SIG_IGN);
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        // A session of its own: without a terminal given here, the child has none.
        setsid();
        if (!options.terminalAnswers.empty()) {
            ioctl(slave, TIOCSCTTY, 0);
        }
        dup2(inPipe[0], 0);
        dup2(outFile >= 0 ? outFile : outPipe[1], 1);
        dup2(options.errorToTerminal ? slave : errPipe[1], 2);
        if (extraPipe[0] >= 0) {
            dup2(extraPipe[0], options.extraDescriptor);
        }
        for (int descriptor = 3; descriptor < 1024; ++descriptor) {
            if (descriptor != options.extraDescriptor || extraPipe[0] < 0) {
                close(descriptor);
            }
        }
        std::vector<std::string> all{vtxtPath()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& argument : all) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    if (outFile >= 0) {
        close(outFile);
    }
    // The parent keeps the terminal's slave side open until the child is gone,
    // so the master never reports a hang-up while the child reopens it.
    if (extraPipe[0] >= 0) {
        close(extraPipe[0]);
        [[maybe_unused]] const ssize_t ignored =
            write(extraPipe[1], options.extraInput.data(), options.extraInput.size());
        close(extraPipe[1]);
    }
    setNonBlocking(inPipe[1]);
    setNonBlocking(outPipe[0]);
    setNonBlocking(errPipe[0]);
    if (master >= 0) {
        setNonBlocking(master);
    }
    std::size_t inputDone = 0;
    int inWrite = inPipe[1];
    if (options.input.empty()) {
        close(inWrite);
        inWrite = -1;
    }
    bool outOpen = true, errOpen = true, masterOpen = master >= 0;
    std::size_t answersGiven = 0;
    std::size_t answeredAt = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
    while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
        pollfd fds[4];
        nfds_t count = 0;
        fds[count++] = {outOpen ? outPipe[0] : -1, POLLIN, 0};
        fds[count++] = {errOpen ? errPipe[0] : -1, POLLIN, 0};
        fds[count++] = {inWrite, POLLOUT, 0};
        fds[count++] = {masterOpen ? master : -1, POLLIN, 0};
        if (poll(fds, count, 1000) < 0 && errno != EINTR) {
            break;
        }
        char buffer[65536];
        if (fds[0].revents != 0) {
            const ssize_t got = read(outPipe[0], buffer, sizeof buffer);
            if (got > 0) {
                result.out.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EAGAIN) {
                outOpen = false;
            }
        }
        if (fds[1].revents != 0) {
            const ssize_t got = read(errPipe[0], buffer, sizeof buffer);
            if (got > 0) {
                result.err.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EAGAIN) {
                errOpen = false;
            }
        }
        if (inWrite >= 0 && fds[2].revents != 0) {
            const ssize_t written = write(inWrite, options.input.data() + inputDone, options.input.size() - inputDone);
            if (written > 0) {
                inputDone += static_cast<std::size_t>(written);
            }
            if ((written < 0 && errno != EAGAIN) || inputDone == options.input.size()) {
                close(inWrite);
                inWrite = -1;
            }
        }
        if (masterOpen && fds[3].revents != 0) {
            const ssize_t got = read(master, buffer, sizeof buffer);
            if (got > 0) {
                result.terminal.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EAGAIN) {
                masterOpen = false;
            }
        }
        if (masterOpen && answersGiven < options.terminalAnswers.size() && result.terminal.size() > answeredAt &&
            endsWithPrompt(result.terminal)) {
            const std::string line = options.terminalAnswers[answersGiven++] + "\n";
            [[maybe_unused]] const ssize_t ignored = write(master, line.data(), line.size());
            answeredAt = result.terminal.size();
        }
    }
    if (inWrite >= 0) {
        close(inWrite);
    }
    int status = 0;
    if (outOpen || errOpen) {
        kill(child, SIGKILL);
    }
    waitpid(child, &status, 0);
    // Whatever the terminal still holds.
    if (masterOpen) {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = read(master, buffer, sizeof buffer)) > 0) {
            result.terminal.append(buffer, static_cast<std::size_t>(got));
        }
    }
    close(outPipe[0]);
    close(errPipe[0]);
    if (master >= 0) {
        close(master);
        close(slave);
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
#endif
