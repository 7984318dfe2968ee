#include "platform/result_codes.h"

namespace {

struct ResultEntry {
    ResultCode code;
    const char16_t* title;
    const char16_t* message;
};

constexpr ResultEntry RESULT_TABLE[] = {
    {RESULT_INVALID_ARGUMENT, u"Error", u"Error"},
    {RESULT_OUT_OF_MEMORY, u"Memory Error", u"Memory allocation failed."},
    {RESULT_MEMORY_PROTECT_FAILED, u"Memory Error", u"Memory access failed."},
    {RESULT_LIMIT_EXCEEDED, u"Limit Error", u"The file exceeds the size and/or sanity limit."},
    {RESULT_THREAD_FAILED, u"Error", u"Thread creation failed."},
    {RESULT_WINDOW_FAILED, u"Error", u"Window creation failed."},
    {RESULT_OPEN_FAILED, u"Open Error", u"The file cannot be opened."},
    {RESULT_READ_FAILED, u"Read Error", u"File read failed."},
    {RESULT_SAVE_FAILED, u"Save Error", u"The file cannot be saved."},
    {RESULT_WRITE_FAILED, u"Write Error", u"File write failed."},
    {RESULT_DISK_FULL, u"Storage Error", u"There is not enough free disk space."},
    {RESULT_BAD_FORMAT, u"Open Error", u"The file is not a valid KZX/VTXT format file."},
    {RESULT_NEWER_VERSION, u"Open Error", u"The file may require a newer version of Tarnwick."},
    {RESULT_CHECKSUM_FAILED, u"Checksum Error", u"Checksum failed. The file may be corrupt."},
    {RESULT_UNEXPECTED_EOF, u"Unexpected End of File Error", u"The file may be corrupt, incomplete, or incompatible."},
    {RESULT_WRONG_PASSWORD, u"Password Error", u"The password you have entered is incorrect."},
    {RESULT_PASSWORD_MISMATCH, u"Password Error", u"Password and Confirm do not match. Try again."},
    {RESULT_ASK_SAVE, nullptr, u"Do you want to save changes?"},
    {RESULT_NOT_TEXT, u"Open Error", u"The file is not a text file."},
};

}  // namespace

bool LookupResultText(ResultCode code, ResultText* text)
{
    if (code == RESULT_OK) {
        return false;
    }
    for (const ResultEntry& entry : RESULT_TABLE) {
        if (entry.code == code) {
            *text = {entry.title, entry.message};
            return true;
        }
    }
    *text = {u"Error", u"Error"};
    return true;
}
