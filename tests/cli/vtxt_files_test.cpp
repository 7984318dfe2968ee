// vtxt's files from the outside: the file acted on is the file named (links
// followed, hard links not split, names taken byte for byte), an output that
// cannot be written is refused before any password is asked, and errors name
// the file and the system's reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "cli/process_runner.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

class VtxtFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = makeTempDir("vtxt-files");
        writeBytes(key(), {'s', 'e', 'c', 'r', 'e', 't', '\n'});
        writeBytes(joinPath(dir, "other-key.txt"), {'o', 't', 'h', 'e', 'r', '\n'});
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(fs::u8path(dir), ignored);
    }
    std::string path(const std::string& name) const
    {
        return joinPath(dir, name);
    }
    std::string key() const
    {
        return joinPath(dir, "key.txt");
    }
    std::string otherKey() const
    {
        return joinPath(dir, "other-key.txt");
    }
    // Encrypts text into target with the password "secret"; expects success.
    void encrypt(const std::string& text, const std::string& target)
    {
        const std::string plain = path("plain.txt");
        writeBytes(plain, std::vector<std::uint8_t>(text.begin(), text.end()));
        const ProcessResult run = runVtxt({"encrypt", plain, "-o", target, "--password-file", key()});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        fs::remove(fs::u8path(plain));
    }
    // The text of a container, or "<exit N>" when it does not open with the password file.
    std::string textOf(const std::string& container, const std::string& passwordFile)
    {
        const ProcessResult run = runVtxt({"cat", container, "--password-file", passwordFile});
        return run.exitCode == 0 ? run.out : "<exit " + std::to_string(run.exitCode) + ">";
    }
    std::vector<std::string> entries(const std::string& folder) const
    {
        std::vector<std::string> names = listDirectory(folder);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir;
};

// Every error message of a failed open names the file and gives the system's reason.
TEST_F(VtxtFiles, ErrorsNameTheFileAndTheSystemsReason)
{
    const std::string missing = path("nosuch.txt");
    const ProcessResult run = runVtxt({"encrypt", missing, "-o", path("out.vtxt"), "--password-file", key()});
    EXPECT_EQ(run.exitCode, 14) << run.err;
    // Two lines, both about the file: what failed, and why.
    std::size_t lines = 0;
    std::size_t named = 0;
    for (std::size_t at = 0; at < run.err.size();) {
        const std::size_t end = run.err.find('\n', at);
        const std::string line = run.err.substr(at, end == std::string::npos ? std::string::npos : end - at);
        ++lines;
        named += line.rfind("vtxt: " + missing + ": ", 0) == 0 ? 1 : 0;
        at = end == std::string::npos ? run.err.size() : end + 1;
    }
    EXPECT_EQ(lines, 2u) << run.err;
    EXPECT_EQ(named, 2u) << run.err;
    EXPECT_FALSE(fileExists(path("out.vtxt")));
}

// An output that cannot be written is refused before the password is asked:
// here the password file does not even exist, and is never looked at.
TEST_F(VtxtFiles, RefusesAnUnwritableOutputBeforeThePassword)
{
    encrypt("text", path("doc.vtxt"));
    writeBytes(path("plain.txt"), {'p'});
    const std::string nowhere = joinPath(path("no-such-folder"), "out");
    const std::string noKey = path("no-key.txt");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"decrypt", path("doc.vtxt"), "-o", nowhere, "--password-file", noKey},
          std::vector<std::string>{"encrypt", path("plain.txt"), "-o", nowhere, "--password-file", noKey}}) {
        const ProcessResult run = runVtxt(args);
        EXPECT_EQ(run.exitCode, 16) << args[0] << ": " << run.err;
        EXPECT_NE(run.err.find("Save Error"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("no-key.txt"), std::string::npos) << run.err;
    }
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"doc.vtxt", "key.txt", "other-key.txt", "plain.txt"}));
}

#ifndef _WIN32
mode_t modeOf(const std::string& name)
{
    struct stat info {};
    return ::lstat(name.c_str(), &info) == 0 ? (info.st_mode & 07777) : 07777;
}

TEST_F(VtxtFiles, PasswdWritesThroughASymbolicLink)
{
    fs::create_directory(path("real"));
    fs::create_directory(path("links"));
    const std::string real = joinPath(path("real"), "doc.vtxt");
    encrypt("linked text", real);
    const std::string link = joinPath(path("links"), "doc.vtxt");
    fs::create_symlink("../real/doc.vtxt", link);
    const ProcessResult run = runVtxt({"passwd", link, "--password-file", key(), "--new-password-file", otherKey()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(textOf(real, otherKey()), "linked text");
    EXPECT_EQ(textOf(link, otherKey()), "linked text");
    EXPECT_EQ(entries(path("real")), std::vector<std::string>{"doc.vtxt"});
    EXPECT_EQ(entries(path("links")), std::vector<std::string>{"doc.vtxt"});
}

TEST_F(VtxtFiles, PasswdRefusesToSplitHardLinksUnlessForced)
{
    encrypt("shared text", path("doc.vtxt"));
    fs::create_hard_link(path("doc.vtxt"), path("other-name.vtxt"));
    ProcessResult run =
        runVtxt({"passwd", path("doc.vtxt"), "--password-file", key(), "--new-password-file", otherKey()});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("hard links"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--force"), std::string::npos) << run.err;
    EXPECT_EQ(textOf(path("doc.vtxt"), key()), "shared text");
    EXPECT_EQ(fs::hard_link_count(path("doc.vtxt")), 2u);

    run = runVtxt({"passwd", path("doc.vtxt"), "--password-file", key(), "--new-password-file", otherKey(), "--force"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(textOf(path("doc.vtxt"), otherKey()), "shared text");
    EXPECT_EQ(textOf(path("other-name.vtxt"), key()), "shared text");
}

// A name whose bytes are an overlong "../" is its own file; it once named the
// file one folder up.
TEST_F(VtxtFiles, OverlongDotsInANameActOnThatFileOnly)
{
    fs::create_directory(path("inner"));
    encrypt("victim", path("victim.vtxt"));
    const std::string evil = joinPath(path("inner"), "\xC0\xAE\xC0\xAE\xC0\xAFvictim.vtxt");
    encrypt("mine", evil);
    const std::vector<std::uint8_t> victimBefore = readBytes(path("victim.vtxt"));
    const ProcessResult run = runVtxt({"passwd", evil, "--password-file", key(), "--new-password-file", otherKey()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readBytes(path("victim.vtxt")), victimBefore);
    EXPECT_EQ(textOf(evil, otherKey()), "mine");
    EXPECT_EQ(entries(path("inner")), std::vector<std::string>{"\xC0\xAE\xC0\xAE\xC0\xAFvictim.vtxt"});
}

TEST_F(VtxtFiles, NamesThatAreNotUtf8WorkForEveryCommand)
{
    const std::string latin1 = path("caf\xE9.vtxt");
    encrypt("caf\xC3\xA9", latin1);
    EXPECT_EQ(textOf(latin1, key()), "caf\xC3\xA9");
    ProcessResult run = runVtxt({"passwd", latin1, "--password-file", key(), "--new-password-file", otherKey()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = runVtxt({"decrypt", latin1, "-o", path("back\xFF.txt"), "--password-file", otherKey()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readBytes(path("back\xFF.txt")), (std::vector<std::uint8_t>{'c', 'a', 'f', 0xC3, 0xA9}));
    EXPECT_EQ(runVtxt({"info", latin1}).exitCode, 0);
}

// Runs vtxt with standard input from a file and standard output to a pipe
// whose reader can go away at once; returns the wait status.
int runWithStreams(const std::vector<std::string>& args, const std::string& input, bool closeReader, std::string* error)
{
    int errorPipe[2];
    int outputPipe[2];
    if (::pipe(errorPipe) != 0 || ::pipe(outputPipe) != 0) {
        return -1;
    }
    const std::string binary = vtxtPath();
    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open(input.c_str(), O_RDONLY);
        ::dup2(in, 0);
        ::dup2(outputPipe[1], 1);
        ::dup2(errorPipe[1], 2);
        ::close(outputPipe[0]);
        ::close(errorPipe[0]);
        std::vector<char*> argv{const_cast<char*>(binary.c_str())};
        for (const std::string& argument : args) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outputPipe[1]);
    ::close(errorPipe[1]);
    if (closeReader) {
        ::close(outputPipe[0]);
    }
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(errorPipe[0], buffer, sizeof buffer)) > 0) {
        error->append(buffer, static_cast<std::size_t>(got));
    }
    ::close(errorPipe[0]);
    if (!closeReader) {
        while (::read(outputPipe[0], buffer, sizeof buffer) > 0) {
        }
        ::close(outputPipe[0]);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

TEST_F(VtxtFiles, RefusesToDecryptStandardInputOntoItsOwnFile)
{
    encrypt("keep me", path("self.vtxt"));
    const std::vector<std::uint8_t> before = readBytes(path("self.vtxt"));
    std::string error;
    const int status = runWithStreams({"decrypt", "-", "-o", path("self.vtxt"), "--force", "--password-file", key()},
                                      path("self.vtxt"), false, &error);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << error;
    EXPECT_NE(error.find("the output is the input file"), std::string::npos) << error;
    EXPECT_EQ(readBytes(path("self.vtxt")), before);
}

// A reader that goes away (head -1) ends the run quietly, with the status a
// shell shows for cat ended by SIGPIPE.
TEST_F(VtxtFiles, ClosedPipeEndsOutputQuietly)
{
    encrypt(std::string(4 << 20, 'x'), path("big.vtxt"));
    std::string error;
    int status = runWithStreams({"cat", path("big.vtxt"), "--password-file", key()}, key(), true, &error);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 141);
    EXPECT_TRUE(error.empty()) << error;
    // A container streamed to standard output ends the same way.
    writeBytes(path("plain.txt"), std::vector<std::uint8_t>(4 << 20, 'y'));
    error.clear();
    status = runWithStreams({"encrypt", path("plain.txt"), "-o", "-", "--password-file", key()}, key(), true, &error);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 141);
    EXPECT_TRUE(error.empty()) << error;
}

TEST_F(VtxtFiles, OutputsGetTheModesTheyShould)
{
    encrypt("group readable", path("doc.vtxt"));
    ASSERT_EQ(::chmod(path("doc.vtxt").c_str(), 0640), 0);
    ProcessResult run =
        runVtxt({"passwd", path("doc.vtxt"), "--password-file", key(), "--new-password-file", otherKey()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(modeOf(path("doc.vtxt")), 0640u);
    // Plaintext replacing a readable file is owner-only all the same.
    writeBytes(path("out.txt"), {'o'});
    ASSERT_EQ(::chmod(path("out.txt").c_str(), 0644), 0);
    run = runVtxt({"decrypt", path("doc.vtxt"), "-o", path("out.txt"), "--force", "--password-file", otherKey()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(modeOf(path("out.txt")), 0600u);
}
#endif

}  // namespace
