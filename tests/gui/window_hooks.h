#pragma once
// Hooks of the calling thread that let a test make the system refuse a window
// the program asks for, and look into edit controls as they go away.
#include <windows.h>

#include <string>
#include <vector>

// While it lives, the system refuses to create the windows of one class on
// this thread (dialogs, class "#32770", also by caption): the call that would
// create one fails, as it does when no window can be made.
class WindowCreationRefusal {
public:
    // className compared without regard to case; caption null: any caption.
    explicit WindowCreationRefusal(const wchar_t* className, const wchar_t* caption = nullptr);
    ~WindowCreationRefusal();
    WindowCreationRefusal(const WindowCreationRefusal&) = delete;
    WindowCreationRefusal& operator=(const WindowCreationRefusal&) = delete;
    // Windows refused so far.
    int Refused() const
    {
        return refused_;
    }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);

    std::wstring className_;
    const wchar_t* caption_;
    int refused_ = 0;
    HHOOK hook_;
};

// What an edit control held when it was destroyed.
struct DestroyedEdit {
    std::wstring text;
    bool multiLine = false;
    // Multi-line controls only: characters of the control's whole buffer that
    // are neither blanks nor zeros, and the first of them.
    std::size_t leftovers = 0;
    std::wstring sample;
};

// While it lives, records every edit control of this thread as it receives
// WM_DESTROY, before the control frees anything.
class EditDestructionWatch {
public:
    EditDestructionWatch();
    ~EditDestructionWatch();
    EditDestructionWatch(const EditDestructionWatch&) = delete;
    EditDestructionWatch& operator=(const EditDestructionWatch&) = delete;
    const std::vector<DestroyedEdit>& Seen() const
    {
        return seen_;
    }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);

    std::vector<DestroyedEdit> seen_;
    HHOOK hook_;
};

// Characters of a multi-line edit control's whole buffer (EM_GETHANDLE) that
// are neither blanks nor zeros; sample receives the first few of them.
std::size_t EditBufferLeftovers(HWND edit, std::wstring* sample = nullptr);
// Whether a class name is that of an edit control ("Edit", also with the
// version prefix of a side-by-side class).
bool IsEditClass(HWND window);
