#pragma once
// What the tests of documents share: containers written and read with the
// core as any other program would, answers to the password and file dialogs,
// and a fixture that runs the editor's file commands in a folder of its own.
#include <windows.h>

#include <string>
#include <vector>

#include "gui/gui_harness.h"
#include "platform/result_codes.h"

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& text);

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
// The edit field of the file name of a system file dialog, wherever it is nested.
HWND FileNameField(HWND dialog);

// Types a path into the system Open or Save As dialog and presses its OK.
DialogResponse ChooseFile(const std::string& path);
DialogResponse SelectPassword(const std::wstring& password, const std::wstring& confirm, const std::wstring& hint);
// Answers Enter Password, keeping the hint it showed.
DialogResponse EnterPassword(const std::wstring& password, std::wstring* hintShown = nullptr);
DialogResponse Press(int id);

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values);
std::vector<std::uint8_t> Ascii(const char* text);

class Documents : public EditorTest {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string& name) const;
    bool Modified();
    // The whole text, however long.
    std::wstring FullText() const;
    bool Idle();
    // Runs a command whose dialogs the responder answers, then waits until the
    // command and any job it started have ended.
    std::vector<DialogReport> Run(UINT command, std::vector<DialogResponse> responses);
    std::vector<DialogReport> SaveAs(const std::string& path, const std::wstring& password = L"pass word",
                                     const std::wstring& hint = L"the hint");
    std::vector<DialogReport> Open(const std::string& path, std::vector<DialogResponse> more = {});
    // The program's start-up with a path on its command line.
    std::vector<DialogReport> StartWith(const std::wstring& commandLine, std::vector<DialogResponse> responses);

    std::string dir_;
    // How long Run waits for a command and its job.
    DWORD runTimeoutMs_ = WAIT_TIMEOUT_MS;
};
