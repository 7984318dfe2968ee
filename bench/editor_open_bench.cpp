// Times the editor's open of a large container, run under Wine by make bench:
// the real window opens the file from its command line, a helper answers the
// password prompt, and hooks on the user-interface thread time WM_SETTEXT
// into the edit control. A probe thread meanwhile sends WM_NULL to the window
// every few milliseconds; its slowest answer is how long the user would have
// waited for the window to react. Prints figures; asserts nothing about time.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "gui/gui_harness.h"
#include "resources/resource.h"
#include "support/test_support.h"

namespace {

std::int64_t Now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

double Milliseconds(std::int64_t ticks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

// Set by the hooks, read after the open has finished.
std::atomic<std::int64_t> gSetTextStart{0};
std::atomic<std::int64_t> gSetTextEnd{0};

bool IsEditControl(HWND window)
{
    return gApp != nullptr && window == gApp->editWindow;
}

LRESULT CALLBACK BeforeCall(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && IsEditControl(call->hwnd) && call->message == WM_SETTEXT && gSetTextStart == 0) {
        gSetTextStart = Now();
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK AfterCall(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && IsEditControl(call->hwnd) && call->message == WM_SETTEXT && gSetTextEnd == 0) {
        gSetTextEnd = Now();
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// About 8 MiB of plain lines, as a long document would hold.
std::string LargeDocument(std::size_t bytes)
{
    const std::string line = "The quick brown fox jumps over the lazy dog, and then it rests a while.\r\n";
    std::string text;
    text.reserve(bytes + line.size());
    while (text.size() + line.size() <= bytes) {
        text += line;
    }
    text.append(bytes - text.size(), '.');
    return text;
}

class EditorOpen : public EditorTest, public ::testing::WithParamInterface<DWORD> {};

TEST_P(EditorOpen, EightMebibyteDocument)
{
    const DWORD wrap = GetParam();
    WriteSetting(L"Wrap", wrap);
    gSetTextStart = 0;
    gSetTextEnd = 0;
    constexpr std::size_t DOCUMENT_BYTES = 8u << 20;
    const std::string directory = makeTempDir("editor-open-bench");
    const std::string path = joinPath(directory, "large.vtxt");
    const std::string text = LargeDocument(DOCUMENT_BYTES);
    {
        ContainerSession session{};
        initSession(&session);
        const std::u16string path16 = toUtf16(path);
        ASSERT_EQ(saveContainer(&session, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                                path16.c_str(), u"pw", u"", chooseShuffleLevel(text.size())),
                  RESULT_OK);
    }

    std::atomic<std::int64_t> passwordGiven{0};
    DialogResponder responder(GetCurrentThreadId(), nullptr, {[&](HWND dialog) {
                                  SetDlgItemTextW(dialog, IDC_PASSWORD, L"pw");
                                  passwordGiven = Now();
                                  ClickButton(dialog, IDOK);
                              }});
    HHOOK before = SetWindowsHookExW(WH_CALLWNDPROC, BeforeCall, nullptr, GetCurrentThreadId());
    HHOOK after = SetWindowsHookExW(WH_CALLWNDPROCRET, AfterCall, nullptr, GetCurrentThreadId());
    ASSERT_NE(before, nullptr);
    ASSERT_NE(after, nullptr);

    const std::u16string path16 = toUtf16(path);
    const std::wstring commandLine = L"\"" + std::wstring(path16.begin(), path16.end()) + L"\"";
    StartEditor(commandLine.c_str());

    // The probe: a round trip through the window's thread every 5 ms.
    std::atomic<bool> probing{true};
    std::atomic<std::int64_t> slowest{0};
    std::atomic<std::int64_t> slowestWhileDeciphering{0};
    const HWND window = main();
    std::thread probe([&] {
        while (probing) {
            const std::int64_t sent = Now();
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &ignored);
            const std::int64_t took = Now() - sent;
            if (passwordGiven != 0 && took > slowest) {
                slowest = took;
            }
            if (passwordGiven != 0 && gSetTextStart.load() == 0 && took > slowestWhileDeciphering) {
                slowestWhileDeciphering = took;
            }
            Sleep(5);
        }
    });

    const bool finished = PumpUntil([this] { return app()->runState == RUN_IDLE; }, 600000);
    const std::int64_t done = Now();
    probing = false;
    probe.join();
    UnhookWindowsHookEx(before);
    UnhookWindowsHookEx(after);
    responder.Finish();
    ASSERT_TRUE(finished);
    ASSERT_NE(gSetTextStart.load(), 0);
    ASSERT_NE(gSetTextEnd.load(), 0);
    EXPECT_EQ(static_cast<std::size_t>(GetWindowTextLengthW(edit())), text.size());

    std::printf("Editor open of an 8 MiB container (shuffle level %u, word wrap %s), under Wine:\n",
                chooseShuffleLevel(text.size()), wrap != 0 ? "on" : "off");
    std::printf("  password given to text handed to the edit control: %9.1f ms (worker: read, decipher, decode)\n",
                Milliseconds(gSetTextStart - passwordGiven));
    std::printf("  WM_SETTEXT holding the user-interface thread:     %9.1f ms\n",
                Milliseconds(gSetTextEnd - gSetTextStart));
    std::printf("  password given to job finished:                   %9.1f ms\n", Milliseconds(done - passwordGiven));
    std::printf("  slowest WM_NULL round trip before WM_SETTEXT:     %9.1f ms\n",
                Milliseconds(slowestWhileDeciphering));
    std::printf("  slowest WM_NULL round trip while it ran:          %9.1f ms\n", Milliseconds(slowest));
}

INSTANTIATE_TEST_SUITE_P(WordWrap, EditorOpen, ::testing::Values(DWORD{0}, DWORD{1}),
                         [](const ::testing::TestParamInfo<DWORD>& wrap) { return wrap.param != 0 ? "On" : "Off"; });

}  // namespace
