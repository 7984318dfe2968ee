#include <windows.h>

#include "gui/window_hooks.h"

#include <cwchar>

#include "gui/gui_harness.h"

namespace {

WindowCreationRefusal* activeRefusal = nullptr;
EditDestructionWatch* activeWatch = nullptr;

// "6.0.0.0!Edit" is "Edit" to a test.
std::wstring BaseClassName(HWND window)
{
    const std::wstring name = ClassName(window);
    const std::size_t bang = name.rfind(L'!');
    return bang == std::wstring::npos ? name : name.substr(bang + 1);
}

}  // namespace

bool IsEditClass(HWND window)
{
    return _wcsicmp(BaseClassName(window).c_str(), L"Edit") == 0;
}

std::size_t EditBufferLeftovers(HWND edit, std::wstring* sample)
{
    auto buffer = reinterpret_cast<HLOCAL>(SendMessageW(edit, EM_GETHANDLE, 0, 0));
    const auto* text = buffer != nullptr ? static_cast<const wchar_t*>(LocalLock(buffer)) : nullptr;
    if (text == nullptr) {
        return 0;
    }
    const std::size_t units = LocalSize(buffer) / sizeof(wchar_t);
    std::size_t leftovers = 0;
    for (std::size_t i = 0; i < units; ++i) {
        if (text[i] != L'\0' && text[i] != L' ') {
            if (sample != nullptr && sample->size() < 16) {
                sample->push_back(text[i]);
            }
            ++leftovers;
        }
    }
    LocalUnlock(buffer);
    return leftovers;
}

WindowCreationRefusal::WindowCreationRefusal(const wchar_t* className, const wchar_t* caption)
    : className_(className), caption_(caption)
{
    activeRefusal = this;
    hook_ = SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

WindowCreationRefusal::~WindowCreationRefusal()
{
    UnhookWindowsHookEx(hook_);
    activeRefusal = nullptr;
}

LRESULT CALLBACK WindowCreationRefusal::Hook(int code, WPARAM wParam, LPARAM lParam)
{
    WindowCreationRefusal* self = activeRefusal;
    if (code == HCBT_CREATEWND && self != nullptr) {
        auto window = reinterpret_cast<HWND>(wParam);
        const auto* create = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
        const wchar_t* caption = create->lpcs->lpszName;
        const bool captionMatches = self->caption_ == nullptr || (caption != nullptr && !IS_INTRESOURCE(caption) &&
                                                                  std::wcscmp(caption, self->caption_) == 0);
        if (captionMatches && _wcsicmp(BaseClassName(window).c_str(), self->className_.c_str()) == 0) {
            ++self->refused_;
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

EditDestructionWatch::EditDestructionWatch()
{
    activeWatch = this;
    hook_ = SetWindowsHookExW(WH_CALLWNDPROC, Hook, nullptr, GetCurrentThreadId());
}

EditDestructionWatch::~EditDestructionWatch()
{
    UnhookWindowsHookEx(hook_);
    activeWatch = nullptr;
}

LRESULT CALLBACK EditDestructionWatch::Hook(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && activeWatch != nullptr && call->message == WM_DESTROY && IsEditClass(call->hwnd)) {
        DestroyedEdit seen;
        seen.text = WindowText(call->hwnd);
        seen.multiLine = (GetWindowLongW(call->hwnd, GWL_STYLE) & ES_MULTILINE) != 0;
        if (seen.multiLine) {
            seen.leftovers = EditBufferLeftovers(call->hwnd, &seen.sample);
        }
        activeWatch->seen_.push_back(seen);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
