#pragma once
// What the document tests share: containers written and read with the core as
// any other program would, answers for the password, file and message
// dialogs, and a fixture with a folder of its own that runs commands to their
// end.
#include <windows.h>

#include <string>
#include <vector>

#include "gui/gui_harness.h"
#include "jobs/result_codes.h"

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& text);
const char16_t* Units(const std::wstring& text);

// What a container holds, read with the core as any other reader would.
struct ContainerContent {
    ResultCode code = RESULT_OK;
    std::string text;
    std::wstring hint;
};

ContainerContent ReadContainer(const std::string& path, const std::wstring& password);
// A password other than the right one that the file at path refuses. The
// file's only password check is a 32-bit sum of its text, which about one
// wrong password in a thousand meets for a short text; these tests are about
// what the editor does with a refusal, so they take one the core refuses.
std::wstring RefusedPassword(const std::string& path, const std::wstring& base);
void WriteContainer(const std::string& path, const std::string& text, const std::wstring& password,
                    const std::wstring& hint);

// The visible top-level dialog of the user-interface thread owned by owner.
HWND FindOwnedDialog(DWORD uiThread, HWND owner);
// The edit field of the file name, wherever the dialog nests it.
HWND FileNameField(HWND dialog);
// Types a path into the system Open or Save As dialog and presses its OK.
DialogResponse ChooseFile(const std::string& path);
DialogResponse SelectPassword(const std::wstring& password, const std::wstring& confirm, const std::wstring& hint);
// Answers Enter Password, keeping the hint it showed.
DialogResponse EnterPassword(const std::wstring& password, std::wstring* hintShown = nullptr);
DialogResponse Press(int id);

// A folder of its own for each test, and commands run to their end.
class DocumentTest : public EditorTest {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string& name) const;
    bool Modified()
    {
        return SendMessageW(edit(), EM_GETMODIFY, 0, 0) != 0;
    }
    // The whole text, however long.
    std::wstring FullText() const;
    bool Idle()
    {
        return app()->runState == RUN_IDLE;
    }
    // Runs a command whose dialogs the responder answers, then waits until the
    // command and any job it started have ended.
    std::vector<DialogReport> Run(UINT command, std::vector<DialogResponse> responses);
    std::vector<DialogReport> SaveAs(const std::string& path, const std::wstring& password = L"pass word",
                                     const std::wstring& hint = L"the hint");
    std::vector<DialogReport> Open(const std::string& path, std::vector<DialogResponse> more = {});
    // The program's start-up with a path on its command line.
    std::vector<DialogReport> StartWith(const std::wstring& commandLine, std::vector<DialogResponse> responses);

    std::string dir_;
};

// A path of the build machine (a CMake target file) as the program under
// Wine sees it: Linux paths are on drive Z:.
std::wstring WindowsPath(const char* hostPath);
