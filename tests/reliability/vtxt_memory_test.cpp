// While vtxt waits for a password it must already have made itself safe to
// hold one: no core file can be written, and its password buffer is locked
// in memory (so it is never swapped out). Looked at from the outside, in
// /proc, while the real tool blocks on a password pipe.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "child_process.h"
#include "support/test_support.h"

namespace {

// AddressSanitizer turns mlock into a no-op, so a sanitizer build of the tool
// cannot show its locks; everything else is checked there too.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool LOCKS_VISIBLE = false;
#else
constexpr bool LOCKS_VISIBLE = true;
#endif

std::string procFile(pid_t pid, const char* name)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// "Max core file size  0  0  bytes" in /proc/PID/limits.
bool coreFilesDisabled(pid_t pid)
{
    std::istringstream limits(procFile(pid, "limits"));
    std::string line;
    while (std::getline(limits, line)) {
        if (line.rfind("Max core file size", 0) == 0) {
            std::istringstream fields(line.substr(18));
            std::string soft;
            fields >> soft;
            return soft == "0";
        }
    }
    return false;
}

// VmLck of /proc/PID/status, in KiB.
long lockedKib(pid_t pid)
{
    std::istringstream status(procFile(pid, "status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmLck:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

TEST(VtxtMemory, NoCoreFileAndLockedPasswordWhileItWaitsForOne)
{
    const std::string directory = makeTempDir("vtxt-memory");
    const std::string text = joinPath(directory, "text.txt");
    const std::string document = joinPath(directory, "doc.vtxt");
    const std::string password = joinPath(directory, "pw");
    writeBytes(text, {'h', 'i', '\n'});
    writeBytes(password, {'s', 'e', 'c', 'r', 'e', 't', '\n'});
    const ChildOutcome made =
        runChild(TARNWICK_VTXT_PATH, {"encrypt", text, "-o", document, "--password-file", password});
    ASSERT_EQ(made.exitCode, 0) << made.standardError;

    int writer = -1;
    const pid_t pid = startChildOnPipe(TARNWICK_VTXT_PATH, {"cat", document, "--password-fd", "0"}, &writer);
    ASSERT_GT(pid, 0);
    bool noCore = false;
    long locked = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        noCore = coreFilesDisabled(pid);
        locked = lockedKib(pid);
        if (noCore && (locked > 0 || !LOCKS_VISIBLE)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    close(writer);
    stopChild(pid);
    EXPECT_TRUE(noCore) << "vtxt can still write a core file while it holds a password";
    if (LOCKS_VISIBLE) {
        EXPECT_GT(locked, 0) << "no memory of vtxt is locked while it waits for the password";
    }
}

}  // namespace
