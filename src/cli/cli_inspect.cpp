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
#include "cipher/checksum.h"
#include "cipher/key_setup.h"
#include "cipher/payload.h"
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

void appendJsonString(std::string* out, const std::u16string& text)
{
    *out += '"';
    for (std::size_t k = 0; k < text.size(); ++k) {
        const char16_t unit = text[k];
        char escape[8];
        if (unit == u'"' || unit == u'\\') {
            *out += '\\';
            *out += static_cast<char>(unit);
        } else if (unit == u'\n') {
            *out += "\\n";
        } else if (unit == u'\r') {
            *out += "\\r";
        } else if (unit == u'\t') {
            *out += "\\t";
        } else if (unit < 0x20 || unit == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
            *out += escape;
        } else if (unit >= 0xD800 && unit <= 0xDBFF && k + 1 < text.size() && text[k + 1] >= 0xDC00 &&
                   text[k + 1] <= 0xDFFF) {
            *out += utf16ToUtf8(text.substr(k, 2));
            ++k;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            // An unpaired surrogate has no UTF-8 form; JSON can still carry it.
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
            *out += escape;
        } else {
            *out += utf16ToUtf8(text.substr(k, 1));
        }
    }
    *out += '"';
}

// A hint or entry name for a terminal: control characters shown as escapes.
std::string printable(const std::u16string& text)
{
    std::string out;
    std::size_t start = 0;
    for (std::size_t k = 0; k <= text.size(); ++k) {
        if (k < text.size() && text[k] >= 0x20 && text[k] != 0x7F) {
            continue;
        }
        out += utf16ToUtf8(text.substr(start, k - start));
        if (k < text.size()) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(text[k]));
            out += escape;
        }
        start = k + 1;
    }
    return out;
}

std::string describeInfo(const std::string& file, const ContainerHeader& header, std::uint32_t generation)
{
    std::string date;
    std::string time;
    formatFileTime((static_cast<std::uint64_t>(header.savedTimeHigh) << 32) | header.savedTimeLow, &date, &time);
    const bool shortText = (header.flags & HEADER_FLAG_SHORT_TEXT) != 0;
    std::string out;
    out += "file:          " + printable(utf8ToUtf16(file)) + "\n";
    out += "generation:    " + std::to_string(generation) + "\n";
    out += "cipher scheme: " + std::to_string(header.cipherScheme) + "\n";
    out += "shuffle level: " + std::to_string(header.shuffleLevel) + "\n";
    out += "block size:    " + std::to_string(header.blockSize) + "\n";
    out += "plain size:    " + std::to_string(headerPlainSize(header)) +
           (shortText ? " (a short text of fewer than 32 bytes, padded)" : "") + "\n";
    out += "saved:         " + date + " " + time + " UTC\n";
    out += "entry name:    " + printable(headerString(header.entryName, HEADER_ENTRY_NAME_UNITS)) +
           (isWideEntry(header) ? " (UTF-16 text)" : "") + "\n";
    out += "hint:          " + printable(headerString(header.hint, HEADER_HINT_UNITS)) + "\n";
    if (!withinOpenLimits(header)) {
        out += "limits:        too large for the editor to open\n";
    }
    return out;
}

std::string describeInfoJson(const std::string& file, const ContainerHeader& header, std::uint32_t generation)
{
    std::string date;
    std::string time;
    const std::uint64_t fileTime = (static_cast<std::uint64_t>(header.savedTimeHigh) << 32) | header.savedTimeLow;
    formatFileTime(fileTime, &date, &time);
    std::string out = "{";
    out += "\"file\": ";
    appendJsonString(&out, utf8ToUtf16(file));
    out += ", \"generation\": " + std::to_string(generation);
    out += ", \"scheme\": " + std::to_string(header.cipherScheme);
    out += ", \"flags\": " + std::to_string(header.flags);
    out += std::string(", \"shortText\": ") + ((header.flags & HEADER_FLAG_SHORT_TEXT) != 0 ? "true" : "false");
    out += ", \"shuffleLevel\": " + std::to_string(header.shuffleLevel);
    out += ", \"blockSize\": " + std::to_string(header.blockSize);
    out += ", \"plainSize\": " + std::to_string(headerPlainSize(header));
    out += ", \"savedTime\": \"" + date + "T" + time + "Z\"";
    out += ", \"savedFileTime\": " + std::to_string(fileTime);
    out += ", \"entryName\": ";
    appendJsonString(&out, headerString(header.entryName, HEADER_ENTRY_NAME_UNITS));
    out += std::string(", \"encoding\": ") + (isWideEntry(header) ? "\"utf-16le\"" : "\"utf-8\"");
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

// Reads exactly count bytes from the session's file, or as many as there are.
bool readExactly(FileHandle file, std::uint8_t* buffer, std::uint32_t count, std::uint32_t* got)
{
    *got = 0;
    while (*got < count) {
        std::uint32_t part = 0;
        if (!readFile(file, buffer + *got, count - *got, &part)) {
            return false;
        }
        if (part == 0) {
            break;
        }
        *got += part;
    }
    return true;
}

// Walks the blocks and the trailer as the reader does, without the key: each
// block's length and checksum, the end marker and the trailer's size.
ResultCode checkStructure(ContainerSession* session, const ContainerInput& input)
{
    const ContainerHeader& header = session->header;
    const bool older = session->generation < 2;
    const std::uint64_t plain = headerPlainSize(header);
    const std::uint64_t blockCount = header.blockSize == 0 ? 0 : (plain + header.blockSize - 1) / header.blockSize;
    const FileHandle file = session->sourceFile;
    ProgressMeter progress("verifying", input.size(), input.size(), [file] { return filePosition(file); });
    std::uint8_t chunk[65536];
    std::uint64_t remaining = plain;
    std::uint64_t index = 0;
    std::uint32_t running = 0;
    while (remaining > 0) {
        ++index;
        const std::string block =
            "block " + std::to_string(index) + (older ? std::string() : " of " + std::to_string(blockCount));
        const std::uint32_t expected =
            static_cast<std::uint32_t>(remaining < header.blockSize ? remaining : header.blockSize);
        std::uint8_t blockHeader[BLOCK_HEADER_SIZE];
        std::uint32_t got = 0;
        if (!readExactly(file, blockHeader, BLOCK_HEADER_SIZE, &got)) {
            report(block + ": cannot be read");
            return RESULT_READ_FAILED;
        }
        if (got < BLOCK_HEADER_SIZE) {
            report(block + ": the file ends before it");
            return RESULT_UNEXPECTED_EOF;
        }
        const std::uint32_t length = loadLe32(blockHeader);
        const std::uint32_t checksum = loadLe32(blockHeader + 4);
        const bool lengthAccepted = length == expected || (older && length > 0 && length < expected);
        if (!lengthAccepted) {
            report(block + ": its length " + std::to_string(length) + " is wrong (expected " +
                   std::to_string(expected) + ")");
            return RESULT_CHECKSUM_FAILED;
        }
        if (!older) {
            running = 0;
        }
        std::uint32_t left = length;
        while (left > 0) {
            const std::uint32_t part = left < sizeof chunk ? left : static_cast<std::uint32_t>(sizeof chunk);
            if (!readExactly(file, chunk, part, &got)) {
                report(block + ": cannot be read");
                return RESULT_READ_FAILED;
            }
            running = continueRotateAddChecksum(running, chunk, got);
            if (got < part) {
                report(block + ": the file ends inside it");
                return RESULT_UNEXPECTED_EOF;
            }
            left -= part;
        }
        if (running != checksum) {
            report(block + ": checksum failed");
            return RESULT_CHECKSUM_FAILED;
        }
        remaining -= length;
    }
    progress.finish(true);
    report("blocks: " + std::to_string(index) + " checked, every checksum ok");
    std::uint8_t trailer[PAYLOAD_TRAILER_SIZE] = {};
    std::uint32_t got = 0;
    if (!readExactly(file, trailer, PAYLOAD_TRAILER_SIZE, &got)) {
        report("trailer: cannot be read");
        return RESULT_READ_FAILED;
    }
    if (got < 8) {
        report("trailer: the file ends before it is complete");
        return RESULT_UNEXPECTED_EOF;
    }
    if (loadLe32(trailer) != 0) {
        report("trailer: its end marker is damaged");
        return RESULT_CHECKSUM_FAILED;
    }
    if (got < PAYLOAD_TRAILER_SIZE) {
        report("trailer: " + std::to_string(got) + " of 16 bytes (the spare copies of the sum are missing)");
        return RESULT_OK;
    }
    const std::uint32_t sum = loadLe32(trailer + 4);
    const std::uint32_t rotated = loadLe32(trailer + 8);
    const std::uint32_t inverted = loadLe32(trailer + 12);
    if (((rotated >> 1) | (rotated << 31)) != sum || ~inverted != sum) {
        report("trailer: the spare copies of the sum disagree");
        return RESULT_OK;
    }
    report("trailer: ok");
    return RESULT_OK;
}

// Deciphers the whole payload into nowhere and compares the plaintext sum.
int checkPassword(const ContainerInput& input, const PasswordSource& source)
{
    LockedRecord<ContainerSession> session;
    LockedRecord<PasswordRecord> password;
    if (!session || !password) {
        return reportResult(RESULT_OUT_OF_MEMORY, input.name());
    }
    initSession(session.get());
    ResultCode code = openContainer(session.get(), input.path());
    if (code == RESULT_OK && !withinOpenLimits(session->header)) {
        code = RESULT_LIMIT_EXCEEDED;
    }
    if (code != RESULT_OK) {
        teardownSession(session.get());
        return reportResult(code, input.name());
    }
    if (const int status = readPassword(source, session->header.hint, password.get()); status != 0) {
        teardownSession(session.get());
        return status;
    }
    setupKey(session.get(), password->units);
    wipeObject(*password);
    code = session->result;
    if (code == RESULT_OK) {
        const FileHandle file = session->sourceFile;
        ProgressMeter progress("checking the password", input.size(), input.size(),
                               [file] { return filePosition(file); });
        std::uint8_t nowhere[1] = {0};
        code = decryptPayload(session.get(), nowhere, 0);
        progress.finish(code == RESULT_OK);
    }
    teardownSession(session.get());
    if (code == RESULT_WRONG_PASSWORD) {
        report("password: the sum of the text does not match (a wrong password, or a damaged text)");
    } else if (code != RESULT_OK) {
        report("password: the payload failed a check while deciphering");
    } else {
        report("password: ok, the sum of the text matches");
    }
    return code == RESULT_OK ? 0 : reportResult(code, input.name());
}

}  // namespace

int runInfo(const CommandLine& line)
{
    ContainerInput input;
    if (const int status = input.open(line.input); status != 0) {
        return status;
    }
    LockedRecord<ContainerSession> session;
    if (!session) {
        return reportResult(RESULT_OUT_OF_MEMORY, input.name());
    }
    initSession(session.get());
    const ResultCode code = openContainer(session.get(), input.path());
    teardownSession(session.get());
    if (code != RESULT_OK) {
        return reportResult(code, input.name());
    }
    const std::string file = line.input;
    const std::string text = line.json ? describeInfoJson(file, session->header, session->generation)
                                       : describeInfo(file, session->header, session->generation);
    if (!writeText(StandardStream::Output, text)) {
        return EXIT_OTHER_FAILURE;
    }
    return 0;
}

int runVerify(const CommandLine& line)
{
    ContainerInput input;
    if (const int status = input.open(line.input); status != 0) {
        return status;
    }
    LockedRecord<ContainerSession> session;
    if (!session) {
        return reportResult(RESULT_OUT_OF_MEMORY, input.name());
    }
    initSession(session.get());
    ResultCode code = openContainer(session.get(), input.path());
    if (code != RESULT_OK) {
        teardownSession(session.get());
        report("header: failed");
        return reportResult(code, input.name());
    }
    report("header: ok (generation " + std::to_string(session->generation) + ", cipher scheme " +
           std::to_string(session->header.cipherScheme) + ")");
    code = checkStructure(session.get(), input);
    teardownSession(session.get());
    if (code != RESULT_OK) {
        return reportResult(code, input.name());
    }
    if (!line.askPassword && !line.hasPassword) {
        report("password: not checked (give --ask-password or --password-file to check the text as well)");
        return 0;
    }
    return checkPassword(input, line.password);
}
