// A DLL named crypt32.dll planted beside the program (as in an unpacked
// download folder) must never run inside the editor, which holds the
// plaintext. The test runs the real tarnwick.exe from a folder holding such a
// DLL, with Wine told to prefer a DLL found on the search path to its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "gui/gui_harness.h"
#include "support/test_support.h"

namespace {

// Tells Wine to load crypt32 from the search path before its own for the
// programs of these names: the override WINEDLLOVERRIDES=crypt32=n,b gives, per
// program. (Wine takes WINEDLLOVERRIDES from the environment it was started in
// and passes it on unchanged to the processes a program starts, so a test that
// runs inside Wine sets the same override in the registry.)
constexpr const wchar_t* OVERRIDE_KEYS[] = {L"Software\\Wine\\AppDefaults\\tarnwick.exe\\DllOverrides",
                                            L"Software\\Wine\\AppDefaults\\dll_probe.exe\\DllOverrides"};

bool PreferPlantedCrypt32(bool prefer)
{
    bool done = true;
    for (const wchar_t* key : OVERRIDE_KEYS) {
        if (prefer) {
            constexpr wchar_t ORDER[] = L"native,builtin";
            done = RegSetKeyValueW(HKEY_CURRENT_USER, key, L"crypt32", REG_SZ, ORDER, sizeof ORDER) == ERROR_SUCCESS &&
                   done;
        } else {
            RegDeleteTreeW(HKEY_CURRENT_USER, key);
            RegDeleteKeyW(HKEY_CURRENT_USER, key);
        }
    }
    return done;
}

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && ClassName(window) == L"Tarnwick") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

class DllPlanting : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = makeTempDir("planted");
        folder_ = WindowsPath(dir_);
        ASSERT_TRUE(Plant(TARNWICK_EXE_PATH, L"tarnwick.exe"));
        ASSERT_TRUE(Plant(PLANTED_DLL_PATH, L"crypt32.dll"));
        ASSERT_TRUE(Plant(DLL_PROBE_PATH, L"dll_probe.exe"));
        ASSERT_TRUE(PreferPlantedCrypt32(true));
    }
    void TearDown() override
    {
        PreferPlantedCrypt32(false);
        if (process_.hProcess != nullptr) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, WAIT_TIMEOUT_MS);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        for (const std::string& name : listDirectory(dir_)) {
            DeleteFileW(WindowsPath(joinPath(dir_, name)).c_str());
        }
        RemoveDirectoryW(folder_.c_str());
    }

    bool Plant(const char* built, const wchar_t* name)
    {
        return CopyFileW(WindowsPath(built).c_str(), (folder_ + L"\\" + name).c_str(), FALSE) != FALSE;
    }
    bool Start(const wchar_t* program)
    {
        std::wstring commandLine = L"\"" + folder_ + L"\\" + program + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder_.c_str(),
                              &startup, &process_) != FALSE;
    }
    // Waits for the started program to end; its exit code, or -1.
    int WaitForExit(DWORD timeoutMs)
    {
        DWORD code = static_cast<DWORD>(-1);
        if (WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process_.hProcess, &code);
        }
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
        process_ = {};
        return static_cast<int>(code);
    }
    bool PlantedDllLoaded() const
    {
        return GetFileAttributesW((folder_ + L"\\crypt32.dll.loaded").c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::string dir_;
    std::wstring folder_;
    PROCESS_INFORMATION process_{};
};

TEST_F(DllPlanting, ACrypt32BesideTheEditorNeverRunsInIt)
{
    // A program that loads Crypt32.dll by its bare name gets the planted one:
    // the folder and the environment are set up as an attacker would want them.
    ASSERT_TRUE(Start(L"dll_probe.exe"));
    ASSERT_EQ(WaitForExit(60000), 0);
    ASSERT_TRUE(PlantedDllLoaded()) << "Wine did not prefer the planted DLL; the test could not tell";
    ASSERT_TRUE(DeleteFileW((folder_ + L"\\crypt32.dll.loaded").c_str()));

    // The editor looks up its memory protection in Crypt32.dll while its
    // window is created.
    ASSERT_TRUE(Start(L"tarnwick.exe"));
    WindowSearch search{process_.dwProcessId, nullptr};
    EXPECT_TRUE(WaitFor(
        [&]() {
            EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        60000));
    EXPECT_FALSE(PlantedDllLoaded());
    if (search.found != nullptr) {
        PostMessageW(search.found, WM_CLOSE, 0, 0);
    }
    EXPECT_EQ(WaitForExit(60000), 0);
    EXPECT_FALSE(PlantedDllLoaded());
}

}  // namespace
