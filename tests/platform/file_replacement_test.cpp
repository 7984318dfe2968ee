// The file layer from the outside: what ends up at the target, what is left
// beside it, and what happens when someone changes the folder meanwhile.
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "container/container_session.h"
#include "platform/fault_injection.h"
#include "platform/file_replacement.h"
#include "platform/system_path.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class FileLayer : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetFaults();
        directory = makeTempDir("file-layer");
        initReplacement(&replacement);
    }
    void TearDown() override
    {
        abandonReplacement(&replacement);
        resetFaults();
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::u8path(directory), ignored);
    }
    std::string pathOf(const std::string& name) const
    {
        return joinPath(directory, name);
    }
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names = listDirectory(directory);
        std::sort(names.begin(), names.end());
        return names;
    }
    // Writes bytes through a begun replacement.
    bool writeAll(const Bytes& bytes)
    {
        std::uint32_t written = 0;
        return writeFile(replacement.file, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written) &&
               written == bytes.size();
    }
    // The whole layer: begin, write, finish, commit.
    bool replaceWith(const std::string& target, const Bytes& bytes, std::uint32_t flags = 0)
    {
        const std::u16string path = toUtf16(target);
        return beginReplacement(&replacement, path.c_str(), flags) && writeAll(bytes) &&
               finishReplacement(&replacement) && commitReplacement(&replacement);
    }

    std::string directory;
    FileReplacement replacement;
};

TEST_F(FileLayer, ReplacesAnExistingFileAndCreatesAMissingOne)
{
    writeBytes(pathOf("doc.vtxt"), {1, 1, 1});
    ASSERT_TRUE(replaceWith(pathOf("doc.vtxt"), {2, 2})) << replacement.failure;
    ASSERT_TRUE(replaceWith(pathOf("new.vtxt"), {3})) << replacement.failure;
    EXPECT_EQ(readBytes(pathOf("doc.vtxt")), (Bytes{2, 2}));
    EXPECT_EQ(readBytes(pathOf("new.vtxt")), (Bytes{3}));
    EXPECT_EQ(entries(), (std::vector<std::string>{"doc.vtxt", "new.vtxt"}));
}

TEST_F(FileLayer, KeepExistingRefusesATakenNameAtTheStartAndAtTheCommit)
{
    writeBytes(pathOf("taken.txt"), {9});
    EXPECT_FALSE(replaceWith(pathOf("taken.txt"), {1}, REPLACE_KEEP_EXISTING));
    EXPECT_EQ(replacement.failure, REPLACE_FAILURE_EXISTS);
    // A file that appears while the new one is written is not replaced either.
    const std::u16string late = toUtf16(pathOf("late.txt"));
    ASSERT_TRUE(beginReplacement(&replacement, late.c_str(), REPLACE_KEEP_EXISTING));
    ASSERT_TRUE(writeAll({1, 2}));
    writeBytes(pathOf("late.txt"), {7});
    ASSERT_TRUE(finishReplacement(&replacement));
    EXPECT_FALSE(commitReplacement(&replacement));
    EXPECT_EQ(replacement.failure, REPLACE_FAILURE_EXISTS);
    EXPECT_EQ(readBytes(pathOf("late.txt")), (Bytes{7}));
    EXPECT_EQ(readBytes(pathOf("taken.txt")), (Bytes{9}));
    EXPECT_EQ(entries(), (std::vector<std::string>{"late.txt", "taken.txt"}));
}

TEST_F(FileLayer, RefusesDirectoriesAndBadNamesBeforeCreatingAnything)
{
    std::filesystem::create_directory(std::filesystem::u8path(pathOf("folder")));
    EXPECT_FALSE(replaceWith(pathOf("folder"), {1}));
    EXPECT_EQ(replacement.failure, REPLACE_FAILURE_DIRECTORY);
    // An unpaired surrogate names no file exactly, on either system.
    std::u16string unpaired = toUtf16(pathOf("a"));
    unpaired += char16_t(0xD800);
    unpaired += u"b.vtxt";
    EXPECT_FALSE(beginReplacement(&replacement, unpaired.c_str(), 0));
    EXPECT_EQ(replacement.failure, REPLACE_FAILURE_BAD_NAME);
    EXPECT_FALSE(replaceWith(pathOf("no-such-folder") + "/x.vtxt", {1}));
    EXPECT_EQ(replacement.failure, REPLACE_FAILURE_SYSTEM);
    EXPECT_NE(replacement.systemError, 0u);
    EXPECT_EQ(entries(), (std::vector<std::string>{"folder"}));
}

// Every I/O call of a replacement, failed in turn: the target keeps its bytes
// and nothing else is left in the folder.
TEST_F(FileLayer, FailureAtEveryCallLeavesTheTargetAndNothingElse)
{
    const Bytes old{5, 4, 3, 2, 1};
    const Bytes fresh(70000, 0x5A);
    writeBytes(pathOf("doc.vtxt"), old);
    resetFaults();
    ASSERT_TRUE(replaceWith(pathOf("doc.vtxt"), fresh));
    const std::uint64_t calls = ioCallCount(FAULT_ALL_IO);
    // One flush of the file and one of the folder, however large the file.
    EXPECT_EQ(ioCallCount(FAULT_FLUSH), 1u);
#ifndef _WIN32
    EXPECT_EQ(ioCallCount(FAULT_SYNC_FOLDER), 1u);
#endif
    for (std::uint64_t k = 1; k <= calls; ++k) {
        writeBytes(pathOf("doc.vtxt"), old);
        resetFaults();
        armFault(FAULT_ALL_IO, k, false);
        EXPECT_FALSE(replaceWith(pathOf("doc.vtxt"), fresh)) << "call " << k;
        abandonReplacement(&replacement);
        EXPECT_EQ(readBytes(pathOf("doc.vtxt")), old) << "call " << k << " of kind " << lastInjectedCall();
        EXPECT_EQ(entries(), std::vector<std::string>{"doc.vtxt"}) << "call " << k;
    }
}

TEST_F(FileLayer, SecondHandleReadsTheFileWhileItIsWritten)
{
    const std::u16string target = toUtf16(pathOf("doc.vtxt"));
    ASSERT_TRUE(beginReplacement(&replacement, target.c_str(), 0));
    ASSERT_TRUE(writeAll({1, 2, 3, 4}));
    const FileHandle reader = openReplacementForRead(&replacement);
    ASSERT_NE(reader, INVALID_FILE);
    std::uint8_t got[8] = {};
    std::uint32_t count = 0;
    ASSERT_TRUE(readFile(reader, got, 8, &count));
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(got[3], 4);
    // Written later, read later, through the same second handle.
    ASSERT_TRUE(writeAll({5}));
    ASSERT_TRUE(readFile(reader, got, 8, &count));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(got[0], 5);
    EXPECT_TRUE(closeFile(reader));
    ASSERT_TRUE(finishReplacement(&replacement));
    ASSERT_TRUE(commitReplacement(&replacement));
    EXPECT_EQ(readBytes(pathOf("doc.vtxt")), (Bytes{1, 2, 3, 4, 5}));
}

// ---- links --------------------------------------------------------------

// Makes name a symbolic link to target (relative); false when this system or
// this user cannot. (Wine 8 reports success for CreateSymbolicLinkW and makes
// nothing, so the link is looked for afterwards.)
bool makeSymbolicLink(const std::string& target, const std::string& name)
{
    std::error_code error;
    std::filesystem::create_symlink(std::filesystem::u8path(target), std::filesystem::u8path(name), error);
    return !error && std::filesystem::is_symlink(std::filesystem::symlink_status(std::filesystem::u8path(name), error));
}

bool makeHardLink(const std::string& existing, const std::string& name)
{
    std::error_code error;
    std::filesystem::create_hard_link(std::filesystem::u8path(existing), std::filesystem::u8path(name), error);
    return !error;
}

bool isSymbolicLink(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_symlink(std::filesystem::u8path(path), error);
}

TEST_F(FileLayer, WritesThroughASymbolicLinkWhichStaysALink)
{
    std::filesystem::create_directory(std::filesystem::u8path(pathOf("real")));
    std::filesystem::create_directory(std::filesystem::u8path(pathOf("links")));
    writeBytes(joinPath(pathOf("real"), "doc.vtxt"), {1});
    if (!makeSymbolicLink(joinPath("..", joinPath("real", "doc.vtxt")), joinPath(pathOf("links"), "doc.vtxt"))) {
        GTEST_SKIP() << "this system cannot make a symbolic link here";
    }
    ASSERT_TRUE(replaceWith(joinPath(pathOf("links"), "doc.vtxt"), {2, 2})) << replacement.failure;
    EXPECT_TRUE(isSymbolicLink(joinPath(pathOf("links"), "doc.vtxt")));
    EXPECT_EQ(readBytes(joinPath(pathOf("real"), "doc.vtxt")), (Bytes{2, 2}));
    // The temporary file was made beside the real file, and is gone.
    EXPECT_EQ(listDirectory(pathOf("real")), std::vector<std::string>{"doc.vtxt"});
    EXPECT_EQ(listDirectory(pathOf("links")), std::vector<std::string>{"doc.vtxt"});
}

TEST_F(FileLayer, RefusesToSplitHardLinksUnlessAsked)
{
    writeBytes(pathOf("doc.vtxt"), {1});
    if (!makeHardLink(pathOf("doc.vtxt"), pathOf("other.vtxt"))) {
        GTEST_SKIP() << "this file system cannot make a hard link";
    }
    EXPECT_FALSE(replaceWith(pathOf("doc.vtxt"), {2}));
    EXPECT_EQ(replacement.failure, REPLACE_FAILURE_HARD_LINKS);
    EXPECT_EQ(readBytes(pathOf("doc.vtxt")), (Bytes{1}));
    EXPECT_EQ(entries(), (std::vector<std::string>{"doc.vtxt", "other.vtxt"}));
    ASSERT_TRUE(replaceWith(pathOf("doc.vtxt"), {2}, REPLACE_SPLIT_HARD_LINKS));
    EXPECT_EQ(readBytes(pathOf("doc.vtxt")), (Bytes{2}));
    EXPECT_EQ(readBytes(pathOf("other.vtxt")), (Bytes{1}));
}

// The editor's save and vtxt passwd go through saveContainer: the same rules,
// and a way for the editor to tell a hard-link refusal from other failures.
TEST_F(FileLayer, SaveRefusesAHardLinkedDocumentAndSaysWhy)
{
    auto session = std::make_unique<ContainerSession>();
    initSession(session.get());
    const Bytes text(100, 'x');
    const std::u16string doc = toUtf16(pathOf("doc.vtxt"));
    ASSERT_EQ(saveContainer(session.get(), text.data(), text.size(), doc.c_str(), u"pw", nullptr, 7), RESULT_OK);
    EXPECT_FALSE(saveRefusedForHardLinks(session.get()));
    const Bytes saved = readBytes(pathOf("doc.vtxt"));
    if (!makeHardLink(pathOf("doc.vtxt"), pathOf("other.vtxt"))) {
        GTEST_SKIP() << "this file system cannot make a hard link";
    }
    EXPECT_EQ(saveContainer(session.get(), text.data(), text.size(), doc.c_str(), u"new", nullptr, 7),
              RESULT_SAVE_FAILED);
    EXPECT_TRUE(saveRefusedForHardLinks(session.get()));
    EXPECT_EQ(session->saveFailure, REPLACE_FAILURE_HARD_LINKS);
    EXPECT_EQ(readBytes(pathOf("doc.vtxt")), saved);
    EXPECT_EQ(entries(), (std::vector<std::string>{"doc.vtxt", "other.vtxt"}));
    // Another kind of failure is not mistaken for it.
    const std::u16string missing = toUtf16(joinPath(pathOf("absent"), "doc.vtxt"));
    EXPECT_EQ(saveContainer(session.get(), text.data(), text.size(), missing.c_str(), u"pw", nullptr, 7),
              RESULT_SAVE_FAILED);
    EXPECT_FALSE(saveRefusedForHardLinks(session.get()));
}

#ifndef _WIN32
mode_t modeOf(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 07777;
}

TEST_F(FileLayer, GivesTheNewFileTheModeItShouldHave)
{
    writeBytes(pathOf("shared.vtxt"), {1});
    ASSERT_EQ(::chmod(pathOf("shared.vtxt").c_str(), 0640), 0);
    ASSERT_TRUE(replaceWith(pathOf("shared.vtxt"), {2}));
    EXPECT_EQ(modeOf(pathOf("shared.vtxt")), 0640u);
    // Plaintext: owner-only whatever the old mode was.
    ASSERT_TRUE(replaceWith(pathOf("shared.vtxt"), {3}, REPLACE_OWNER_ONLY));
    EXPECT_EQ(modeOf(pathOf("shared.vtxt")), 0600u);
    // A new file: what the process's umask makes of 0666.
    const mode_t mask = ::umask(027);
    ASSERT_TRUE(replaceWith(pathOf("fresh.vtxt"), {4}));
    ::umask(mask);
    EXPECT_EQ(modeOf(pathOf("fresh.vtxt")), 0640u);
}

// The temporary file is swapped for a link to another file between the write
// and the replacement (someone with write access to the folder). Neither the
// mode nor the name of that other file may change, and the replacement must
// not report success for a file it did not write.
struct SwapContext {
    std::string victim;
    std::string stolen;
    int calls = 0;
};

void swapTemporaryForLink(std::uint32_t step, const char16_t* temporary, const char16_t*, void* context)
{
    auto* swap = static_cast<SwapContext*>(context);
    if (step != REPLACE_STEP_BEFORE_COMMIT) {
        return;
    }
    ++swap->calls;
    std::string name;
    for (const char16_t* p = temporary; *p != 0; ++p) {
        name += static_cast<char>(*p);  // the test folder's names are ASCII
    }
    ASSERT_EQ(::rename(name.c_str(), swap->stolen.c_str()), 0);
    ASSERT_EQ(::symlink(swap->victim.c_str(), name.c_str()), 0);
}

TEST_F(FileLayer, TemporaryFileSwappedForALinkChangesNothingElseAndFails)
{
    const std::string victim = pathOf("victim.txt");
    writeBytes(victim, {'v'});
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    writeBytes(pathOf("doc.vtxt"), {'o', 'l', 'd'});
    ASSERT_EQ(::chmod(pathOf("doc.vtxt").c_str(), 0644), 0);
    SwapContext swap{victim, pathOf("stolen"), 0};
    setReplaceStepHook(swapTemporaryForLink, &swap);

    EXPECT_FALSE(replaceWith(pathOf("doc.vtxt"), {'n', 'e', 'w'}));
    EXPECT_EQ(swap.calls, 1);
    EXPECT_EQ(replacement.failure, REPLACE_FAILURE_SWAPPED);
    EXPECT_EQ(modeOf(victim), 0600u);
    EXPECT_EQ(readBytes(victim), (Bytes{'v'}));
    EXPECT_EQ(readBytes(pathOf("doc.vtxt")), (Bytes{'o', 'l', 'd'}));
    EXPECT_FALSE(isSymbolicLink(pathOf("doc.vtxt")));

    // The whole save reports the failure too.
    auto session = std::make_unique<ContainerSession>();
    initSession(session.get());
    const Bytes text(64, 't');
    ::unlink(swap.stolen.c_str());
    const std::u16string doc = toUtf16(pathOf("doc.vtxt"));
    EXPECT_EQ(saveContainer(session.get(), text.data(), text.size(), doc.c_str(), u"pw", nullptr, 7),
              RESULT_SAVE_FAILED);
    EXPECT_EQ(session->saveFailure, REPLACE_FAILURE_SWAPPED);
    EXPECT_EQ(modeOf(victim), 0600u);
    EXPECT_EQ(readBytes(pathOf("doc.vtxt")), (Bytes{'o', 'l', 'd'}));
}

// The primitive replaceFile never changes a mode by name: a source that is a
// link would carry the change to whatever it leads to.
TEST(PlatformReplace, NeverChangesTheModeOfWhatASourceLinkLeadsTo)
{
    const std::string directory = makeTempDir("replace-link");
    const std::string victim = joinPath(directory, "victim.txt");
    writeBytes(victim, {'v'});
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    const std::string target = joinPath(directory, "doc.vtxt");
    writeBytes(target, {'o'});
    ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
    const std::string source = joinPath(directory, "doc.tmp");
    ASSERT_EQ(::symlink(victim.c_str(), source.c_str()), 0);
    replaceFile(toUtf16(target).c_str(), toUtf16(source).c_str());
    EXPECT_EQ(modeOf(victim), 0600u);
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::u8path(directory), ignored);
}
#endif

// ---- exact names ---------------------------------------------------------

#ifndef _WIN32
// The name of the file acted on is the name given: an overlong "../" in a
// file name reaches the system as its own bytes.
TEST_F(FileLayer, OverlongDotsNameTheirOwnFile)
{
    const std::string inner = joinPath(directory, "inner");
    std::filesystem::create_directory(inner);
    writeBytes(joinPath(directory, "victim.vtxt"), {'v'});
    const Bytes name{0xC0, 0xAE, 0xC0, 0xAE, 0xC0, 0xAF, 'v', 'i', 'c', 't', 'i', 'm', '.', 'v', 't', 'x', 't'};
    const Bytes folder(inner.begin(), inner.end());
    Bytes full = folder;
    full.push_back('/');
    full.insert(full.end(), name.begin(), name.end());
    std::u16string path(full.size() + 1, u'\0');
    path.resize(decodeSystemPath(full.data(), full.size(), path.data()));

    ASSERT_TRUE(beginReplacement(&replacement, path.c_str(), 0));
    std::uint32_t written = 0;
    const std::uint8_t bytes[] = {'n'};
    ASSERT_TRUE(writeFile(replacement.file, bytes, 1, &written));
    ASSERT_TRUE(finishReplacement(&replacement));
    ASSERT_TRUE(commitReplacement(&replacement));
    EXPECT_EQ(readBytes(joinPath(directory, "victim.vtxt")), (Bytes{'v'}));
    const std::string exact(full.begin(), full.end());
    EXPECT_EQ(readBytes(exact), (Bytes{'n'}));
    const FileHandle file = openFileForRead(path.c_str());
    ASSERT_NE(file, INVALID_FILE);
    closeFile(file);
}
#else
TEST_F(FileLayer, UnpairedSurrogatesAreRefusedBeforeTheSystemSeesThem)
{
    writeBytes(joinPath(directory, "ab.vtxt"), {'v'});
    std::u16string path = toUtf16(joinPath(directory, "a"));
    path += char16_t(0xD800);
    path += u"b.vtxt";
    EXPECT_EQ(openFileForRead(path.c_str()), INVALID_FILE);
    EXPECT_EQ(lastSystemErrorCode(), static_cast<std::uint32_t>(ERROR_INVALID_NAME));
    EXPECT_EQ(createNewFile(path.c_str()), INVALID_FILE);
    EXPECT_FALSE(deleteFile(path.c_str()));
    EXPECT_EQ(readBytes(joinPath(directory, "ab.vtxt")), (Bytes{'v'}));
    EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"ab.vtxt"});
}
#endif

// ---- ReplaceFileW outcomes (Windows) ------------------------------------

#ifdef _WIN32
struct ReplaceOutcomeCase {
    const char* name;
    DWORD error;       // what ReplaceFileW fails with, the files left as documented
    bool moveFails;    // the moves that settle the failure fail as well
    bool newFileWins;  // afterwards the new file is at the target (else the old one)
};

class ReplaceFileOutcome : public FileLayer, public ::testing::WithParamInterface<ReplaceOutcomeCase> {};

TEST_P(ReplaceFileOutcome, LeavesTheOldOrTheNewFileNeverNeither)
{
    const Bytes old{'o', 'l', 'd'};
    const Bytes fresh{'n', 'e', 'w', '!'};
    writeBytes(pathOf("doc.vtxt"), old);
    injectReplaceOutcome(GetParam().error);
    if (GetParam().moveFails) {
        armFault(FAULT_MOVE, 1, false);
    }
    const bool replaced = replaceWith(pathOf("doc.vtxt"), fresh);
    abandonReplacement(&replacement);
    EXPECT_EQ(replaced, GetParam().newFileWins);
    ASSERT_TRUE(fileExists(pathOf("doc.vtxt"))) << "nothing at the document's path";
    EXPECT_EQ(readBytes(pathOf("doc.vtxt")), GetParam().newFileWins ? fresh : old);
    EXPECT_EQ(entries(), std::vector<std::string>{"doc.vtxt"});
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ReplaceFileOutcome,
    ::testing::Values(ReplaceOutcomeCase{"UnableToRemoveReplaced", ERROR_UNABLE_TO_REMOVE_REPLACED, false, false},
                      ReplaceOutcomeCase{"UnableToMoveReplacement", ERROR_UNABLE_TO_MOVE_REPLACEMENT, false, false},
                      ReplaceOutcomeCase{"UnableToMoveReplacement2", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, false, true},
                      ReplaceOutcomeCase{"UnableToMoveReplacement2ThenMoveFails", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2,
                                         true, false},
                      ReplaceOutcomeCase{"TargetVanished", ERROR_FILE_NOT_FOUND, false, true},
                      ReplaceOutcomeCase{"SharingViolation", ERROR_SHARING_VIOLATION, false, false},
                      ReplaceOutcomeCase{"AccessDenied", ERROR_ACCESS_DENIED, false, false}),
    [](const ::testing::TestParamInfo<ReplaceOutcomeCase>& entry) { return std::string(entry.param.name); });

// The target vanished and then the move fails too: the old file is gone
// already, and the new one is kept rather than deleted.
TEST_F(FileLayer, TargetVanishedAndMoveFailingKeepsTheNewFileAtItsName)
{
    writeBytes(pathOf("doc.vtxt"), {'o'});
    injectReplaceOutcome(ERROR_FILE_NOT_FOUND);
    armFault(FAULT_MOVE, 1, true);
    const std::u16string target = toUtf16(pathOf("doc.vtxt"));
    ASSERT_TRUE(beginReplacement(&replacement, target.c_str(), 0));
    ASSERT_TRUE(writeAll({'n'}));
    ASSERT_TRUE(finishReplacement(&replacement));
    EXPECT_FALSE(replaceFile(replacement.target, replacement.temporary));
    EXPECT_TRUE(pathExists(replacement.temporary));
}
#endif

}  // namespace
