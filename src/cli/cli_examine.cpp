// info and verify: what can be told about a container without writing its text.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli_commands.h"
#include "cli/cli_console.h"
#include "cli/cli_document.h"
#include "cli/cli_files.h"
#include "cli/cli_memory.h"
#include "cli/cli_password.h"
#include "cli/cli_progress.h"
#include "cli/cli_structure.h"
#include "cipher/checksum.h"
#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/container_session.h"
#include "platform/byte_order.h"
#include "platform/secure_wipe.h"

namespace {

// A header string (NUL-terminated within its field) as a UTF-16 string.
std::u16string headerString(const char16_t* units, std::size_t capacity)
{
    std::size_t length = 0;
    while (length < capacity && units[length] != 0) {
        ++length;
    }
    return std::u16string(units, length);
}

// UTC from a FILETIME (100-ns units since 1601), as "YYYY-MM-DD", "HH:MM:SS".
void formatFileTime(std::uint64_t fileTime, std::string* date, std::string* time)
{
    const long long seconds = static_cast<long long>(fileTime / 10000000ull) - 11644473600ll;
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long dayOfEra = z - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long mp = (5 * dayOfYear + 2) / 153;
    const long long day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld", year, month, day);
    *date = buffer;
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld", rest / 3600, rest / 60 % 60, rest % 60);
    *time = buffer;
}

std::string describeInfo(const std::string& file, const ContainerHeader& header, std::uint32_t generation)
{
    std::string date;
    std::string time;
    formatFileTime((static_cast<std::uint64_t>(header.savedTimeHigh) << 32) | header.savedTimeLow, &date, &time);
    const bool shortText = (header.flags & HEADER_FLAG_SHORT_TEXT) != 0;
    std::string out;
    out += "file:          " + escapeForTerminal(file) + "\n";
    out += "generation:    " + std::to_string(generation) + "\n";
    out += "cipher scheme: " + std::to_string(header.cipherScheme) + "\n";
    out += "shuffle level: " + std::to_string(header.shuffleLevel) + "\n";
    out += "block size:    " + std::to_string(header.blockSize) + "\n";
    out += "plain size:    " + std::to_string(headerPlainSize(header)) +
           (shortText ? " (a short text of fewer than 32 bytes, padded)" : "") + "\n";
    out += "saved:         " + date + " " + time + " UTC\n";
    out += "entry name:    " + escapeForTerminal(headerString(header.entryName, HEADER_ENTRY_NAME_UNITS)) +
           (hasWideEntryName(header) ? " (UTF-16 text)" : "") + "\n";
    out += "hint:          " + escapeForTerminal(headerString(header.hint, HEADER_HINT_UNITS)) + "\n";
    if (!withinOpenLimits(header)) {
        out += "limits:        too large for the editor to open\n";
    }
    return out;
}

// A JSON number when a double holds it exactly, else its digits as a string
// (only a damaged or hostile header has such a size).
std::string jsonInteger(std::uint64_t value)
{
    constexpr std::uint64_t EXACT_IN_A_DOUBLE = std::uint64_t{1} << 53;
    return value <= EXACT_IN_A_DOUBLE ? std::to_string(value) : "\"" + std::to_string(value) + "\"";
}

std::string describeInfoJson(const std::string& file, const ContainerHeader& header, std::uint32_t generation)
{
    std::string date;
    std::string time;
    const std::uint64_t fileTime = (static_cast<std::uint64_t>(header.savedTimeHigh) << 32) | header.savedTimeLow;
    formatFileTime(fileTime, &date, &time);
    std::string out = "{";
    out += "\"file\": ";
    appendJsonString(&out, std::string_view(file));
    out += ", \"generation\": " + std::to_string(generation);
    out += ", \"scheme\": " + std::to_string(header.cipherScheme);
    out += ", \"flags\": " + std::to_string(header.flags);
    out += std::string(", \"shortText\": ") + ((header.flags & HEADER_FLAG_SHORT_TEXT) != 0 ? "true" : "false");
    out += ", \"shuffleLevel\": " + std::to_string(header.shuffleLevel);
    out += ", \"blockSize\": " + std::to_string(header.blockSize);
    out += ", \"plainSize\": " + jsonInteger(headerPlainSize(header));
    out += ", \"savedTime\": \"" + date + "T" + time + "Z\"";
    // Every save time is above 2^53, where a reader's doubles would round it.
    out += ", \"savedFileTime\": \"" + std::to_string(fileTime) + "\"";
    out += ", \"entryName\": ";
    appendJsonString(&out, headerString(header.entryName, HEADER_ENTRY_NAME_UNITS));
    out += std::string(", \"encoding\": ") + (hasWideEntryName(header) ? "\"utf-16le\"" : "\"utf-8\"");
    out += ", \"hint\": ";
    appendJsonString(&out, headerString(header.hint, HEADER_HINT_UNITS));
    out += std::string(", \"withinLimits\": ") + (withinOpenLimits(header) ? "true" : "false");
    out += "}\n";
    return out;
}

// One verification finding on standard output.
void report(const std::string& text)
{
    writeText(StandardStream::Output, text + "\n");
}

// Opens input's header into session; 0, or the exit status after reporting
// (with the system's reason) and, for verify, the failed header.
int openHeader(const ContainerInput& input, ContainerSession* session, bool reportHeader)
{
    initSession(session);
    const ResultCode code = openContainer(session, input.path());
    if (code == RESULT_OK) {
        return 0;
    }
    const std::string reason = systemReason(code, input.name());
    teardownSession(session);
    if (reportHeader) {
        report("header: failed");
    }
    return reportResult(code, input.name(), reason);
}

// Deciphers the whole payload into nowhere and compares the plaintext sum.
int checkPassword(const ContainerInput& input, const PasswordSource& source)
{
    LockedRecord<ContainerSession> session;
    LockedRecord<PasswordRecord> password;
    if (!session || !password) {
        return reportResult(RESULT_OUT_OF_MEMORY, input.name());
    }
    if (const int status = openHeader(input, session.get(), false); status != 0) {
        return status;
    }
    if (!withinOpenLimits(session->header)) {
        teardownSession(session.get());
        return reportResult(RESULT_LIMIT_EXCEEDED, input.name());
    }
    if (const int status = readPassword(source, session->header.hint, password.get()); status != 0) {
        teardownSession(session.get());
        return status;
    }
    setupKey(session.get(), password->units);
    wipeObject(*password);
    ResultCode code = session->result;
    if (code == RESULT_OK) {
        const FileHandle file = session->sourceFile;
        ProgressMeter progress("checking the password", input.size(), input.size(),
                               [file] { return filePosition(file); });
        std::uint8_t nowhere[1] = {0};
        code = decryptPayload(session.get(), nowhere, 0);
        progress.finish(code == RESULT_OK);
    }
    const std::string reason = systemReason(code, input.name());
    teardownSession(session.get());
    if (code == RESULT_WRONG_PASSWORD) {
        report("password: the sum of the text does not match (a wrong password, or a damaged text)");
    } else if (code != RESULT_OK) {
        report("password: the payload failed a check while deciphering");
    } else {
        report("password: ok, the sum of the text matches");
    }
    return code == RESULT_OK ? 0 : reportResult(code, input.name(), reason);
}

// Opens file as *input and reads its header into *session (locked memory).
// Returns 0 or the exit status after printing the reason.
int openInputHeader(const std::string& file, ContainerInput* input, LockedRecord<ContainerSession>* session,
                    bool strict)
{
    if (const int status = input->open(file); status != 0) {
        return status;
    }
    if (!*session) {
        return reportResult(RESULT_OUT_OF_MEMORY, input->name());
    }
    return openHeader(*input, session->get(), strict);
}

int showInfo(const CommandLine& line, const std::string& file, bool first)
{
    ContainerInput input;
    LockedRecord<ContainerSession> session;
    if (const int status = openInputHeader(file, &input, &session, false); status != 0) {
        return status;
    }
    teardownSession(session.get());
    std::string text = line.json || first ? std::string() : std::string("\n");
    text += line.json ? describeInfoJson(file, session->header, session->generation)
                      : describeInfo(file, session->header, session->generation);
    if (!writeText(StandardStream::Output, text)) {
        return EXIT_OTHER_FAILURE;
    }
    return 0;
}

int verifyFile(const CommandLine& line, const std::string& file, bool first)
{
    if (line.inputs.size() > 1) {
        report(std::string(first ? "" : "\n") + "file: " + escapeForTerminal(file));
    }
    ContainerInput input;
    LockedRecord<ContainerSession> session;
    if (const int status = openInputHeader(file, &input, &session, true); status != 0) {
        return status;
    }
    report("header: ok (generation " + std::to_string(session->generation) + ", cipher scheme " +
           std::to_string(session->header.cipherScheme) + ")");
    ResultCode code = RESULT_OK;
    {
        const FileHandle source = session->sourceFile;
        ProgressMeter progress("verifying", input.size(), input.size(), [source] { return filePosition(source); });
        code = walkContainerStructure(session.get(), report);
        progress.finish(code == RESULT_OK);
    }
    const std::string reason = systemReason(code, input.name());
    teardownSession(session.get());
    if (code != RESULT_OK) {
        return reportResult(code, input.name(), reason);
    }
    if (!line.askPassword && !line.hasPassword) {
        report("password: not checked (give --ask-password or --password-file to check the text as well)");
        return 0;
    }
    return checkPassword(input, line.password);
}

// Runs one file's work for each input, on after a failure; the status of the
// first file that failed, or 0.
template <class Work>
int forEachInput(const CommandLine& line, Work work)
{
    int status = 0;
    for (std::size_t k = 0; k < line.inputs.size(); ++k) {
        const int result = work(line, line.inputs[k], k == 0);
        if (status == 0) {
            status = result;
        }
    }
    return status;
}

}  // namespace

int runInfo(const CommandLine& line)
{
    return forEachInput(line, showInfo);
}

int runVerify(const CommandLine& line)
{
    return forEachInput(line, verifyFile);
}
