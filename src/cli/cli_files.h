#pragma once
// Files of the tool, all through the core's file layer (platform/): whole
// inputs read into wiped memory, containers read from a path or from standard
// input, and outputs written through a temporary file that takes the target's
// place only when everything was written.
#include <cstdint>
#include <string>

#include "cli/cli_memory.h"
#include "container/container_session.h"
#include "platform/file_replacement.h"
#include "platform/platform.h"

// The status of a run whose reader closed the pipe of standard output: what a
// shell reports for a program ended by SIGPIPE (128 + 13), as for cat. No
// message is printed.
inline constexpr int EXIT_CLOSED_PIPE = 141;

// Reads the whole of path ("-" is standard input) into *out. More than limit
// bytes give RESULT_LIMIT_EXCEEDED. Returns 0 or the exit status, after
// printing the reason.
int readWholeInput(const std::string& path, std::size_t limit, LockedBuffer* out);

// The core's form of a path: its exact UTF-16 image (platform/system_path.h).
// False, after printing why, for a name this system cannot take exactly
// (on Windows one with an unpaired surrogate).
bool corePath(const std::string& path, std::u16string* out);
// The same image without the check, for a query that simply finds no file.
std::u16string pathUnits(const std::string& path);
#ifdef _WIN32
// A command-line argument of Windows as the tool's UTF-8, with an unpaired
// surrogate kept (in its three-byte form) so that corePath can refuse it
// instead of dropping it and naming another file.
std::string argumentFromWide(const wchar_t* argument);
#endif
// True, after printing the refusal, when output ("-" is standard output) is the
// same file as input ("-" is standard input): the run would destroy its input.
bool refuseOutputOverInput(const std::string& input, const std::string& output);
// Prints why a save (saveContainer / saveContainerInto) of name failed and
// returns the exit status: the result code, with the file layer's reason.
int reportSaveFailure(const ContainerSession& session, ResultCode code, const std::string& name);

// A container to open: a path as it is, or standard input copied into a
// temporary file first (the core reads containers from paths).
class ContainerInput {
public:
    ContainerInput() = default;
    ~ContainerInput();
    ContainerInput(const ContainerInput&) = delete;
    ContainerInput& operator=(const ContainerInput&) = delete;
    // Returns 0 or the exit status after printing the reason.
    int open(const std::string& path);
    const char16_t* path() const
    {
        return path_.c_str();
    }
    // The name to show in messages.
    const std::string& name() const
    {
        return name_;
    }
    std::uint64_t size() const
    {
        return size_;
    }

private:
    std::u16string path_;
    std::string name_;
    char16_t* spoolPath_ = nullptr;
    int spoolSlot_ = -1;
    std::uint64_t size_ = 0;
};

// An output file: standard output for "-", otherwise a replacement of the
// file layer (a new temporary file beside the real target that takes its
// place on commit). Destroying an uncommitted output deletes its temporary file.
class OutputFile {
public:
    OutputFile();
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Checks the target and creates the temporary file, so that an output the
    // run cannot write is refused before any password is asked. An existing
    // file is refused unless force; so is one with other hard links (force
    // splits it from them). privateFile: owner-only whatever the target's mode.
    // Returns 0 or the exit status after printing the reason.
    int open(const std::string& target, bool force, bool privateFile);
    // Starts changing the existing file at path where it is (passwd): its
    // links are written through; one with other hard links is refused unless
    // force. Returns 0 or the exit status after printing the reason.
    int openInPlace(const std::string& path, bool force);
    // Appends bytes; returns 0 or the exit status after printing the reason
    // (EXIT_CLOSED_PIPE, silently, when the reader of standard output is gone).
    int write(const void* bytes, std::size_t count);
    bool isStandardOutput() const
    {
        return standardOutput_;
    }
    // The name to show in messages.
    const std::string& name() const
    {
        return name_;
    }
    // The replacement for the core's saveContainerInto, which commits or
    // abandons it (null for standard output); discard() afterwards.
    FileReplacement* replacement()
    {
        return standardOutput_ ? nullptr : &replacement_;
    }
    // Flushes and closes the temporary file and puts it in the target's
    // place. Returns 0 or the exit status after printing the reason.
    int commit();
    // Closes and deletes the temporary file.
    void discard();

private:
    int begin(const std::string& target, std::uint32_t flags, bool inPlace);

    FileReplacement replacement_;
    std::string name_;
    int slot_ = -1;
    bool standardOutput_ = false;
};
