#pragma once
// Files of the tool: whole inputs read into wiped memory, containers read from
// a path or from standard input, and outputs written through a temporary file
// that becomes the target only when everything was written.
#include <cstdint>
#include <string>

#include "cli/cli_memory.h"
#include "platform/platform.h"

// Reads the whole of path ("-" is standard input) into *out. More than limit
// bytes give RESULT_LIMIT_EXCEEDED. Returns 0 or the exit status, after
// printing the reason.
int readWholeInput(const std::string& path, std::size_t limit, SecureBuffer* out);

// True when both paths exist and name the same file.
bool isSameFile(const std::string& first, const std::string& second);
// The core's form of a path: UTF-16 (the platform layer converts it back).
std::u16string corePath(const std::string& path);
// The directory part of a path, with its separator ("" for the current one).
std::string directoryOf(const std::string& path);
// The current position of an open file (for progress); 0 when unknown.
std::uint64_t filePosition(FileHandle file);
// The size of an existing file; false when it cannot be read.
bool sizeOfFile(const std::string& path, std::uint64_t* size);

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
    std::string spoolPath_;
    int spoolSlot_ = -1;
    std::uint64_t size_ = 0;
};

// An output file: standard output for "-", otherwise a new temporary file in
// the target's directory that replaces the target on commit. Destroying an
// uncommitted output deletes its temporary file.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Checks the target (an existing file is refused unless force) and creates
    // the temporary file (owner-only when privateFile). Returns 0 or the exit
    // status after printing the reason.
    int open(const std::string& target, bool force, bool privateFile);
    // Appends bytes; returns 0 or the exit status after printing the reason.
    int write(const void* bytes, std::size_t count);
    // The open file for the core to write to.
    FileHandle handle() const
    {
        return handle_;
    }
    bool isStandardOutput() const
    {
        return standardOutput_;
    }
    const std::string& target() const
    {
        return target_;
    }
    // Flushes and closes the temporary file (nothing for standard output).
    // Returns 0 or the exit status after printing the reason.
    int finishWriting();
    // The temporary file's path (empty for standard output).
    const std::string& temporaryPath() const
    {
        return temporary_;
    }
    // Finishes writing and moves the temporary file onto the target.
    // Returns 0 or the exit status after printing the reason.
    int commit();
    // Closes and deletes the temporary file.
    void discard();

private:
    std::string target_;
    std::string temporary_;
    FileHandle handle_ = INVALID_FILE;
    int slot_ = -1;
    bool force_ = false;
    bool standardOutput_ = false;
};
