// The program's own message and confirmation dialogs, from their templates.
#include <windows.h>

#include "dialogs/message_dialogs.h"
#include "gui/gui_harness.h"
#include "resources/resource.h"

namespace {

class MessageDialog : public EditorTest {
protected:
    // Shows code over the main window, answers it with respond, returns what was seen.
    DialogReport Show(ResultCode code, const DialogResponse& respond, INT_PTR* result)
    {
        DialogResponder responder(uiThread(), app()->findDialog, {respond});
        *result = ShowResultCode(main(), code);
        return responder.FinishOne();
    }
};

struct MessageCase {
    ResultCode code;
    const wchar_t* caption;
    const wchar_t* text;
};

class MessageTexts : public MessageDialog, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(MessageTexts, ShowCaptionAndMessageOfTheCode)
{
    StartEditor();
    INT_PTR result = 0;
    const DialogReport seen = Show(
        GetParam().code, [](HWND dialog) { ClickButton(dialog, IDOK); }, &result);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.caption, GetParam().caption);
    EXPECT_EQ(seen.text, GetParam().text);
    EXPECT_EQ(seen.owner, main());
    EXPECT_EQ(result, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, MessageTexts,
    ::testing::Values(MessageCase{19, L"Open Error", L"The file is not a valid KZX/VTXT format file."},
                      MessageCase{14, L"Open Error", L"The file cannot be opened."}, MessageCase{9, L"Error", L"Error"},
                      MessageCase{46, L"Error", L"Error"}, MessageCase{-3, L"Error", L"Error"},
                      MessageCase{7, L"Memory Error", L"Memory allocation failed."},
                      MessageCase{8, L"Memory Error", L"Memory access failed."},
                      MessageCase{12, L"Error", L"Window creation failed."},
                      MessageCase{36, L"Password Error", L"Password and Confirm do not match. Try again."}));

TEST_F(MessageDialog, EscapeAndCloseBoxEndItWithTwo)
{
    StartEditor();
    INT_PTR result = 0;
    const DWORD thread = uiThread();
    EXPECT_TRUE(Show(
                    21, [thread](HWND dialog) { PressEscapeIn(dialog, thread); }, &result)
                    .found);
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(Show(
                    21, [](HWND dialog) { PressCloseBox(dialog); }, &result)
                    .found);
    EXPECT_EQ(result, 2);
    // Enter presses the default button, OK.
    EXPECT_TRUE(Show(
                    21,
                    [thread](HWND dialog) {
                        GUITHREADINFO info{};
                        info.cbSize = sizeof info;
                        GetGUIThreadInfo(thread, &info);
                        PostMessageW(info.hwndFocus != nullptr ? info.hwndFocus : dialog, WM_KEYDOWN, VK_RETURN, 1);
                    },
                    &result)
                    .found);
    EXPECT_EQ(result, 1);
}

TEST_F(MessageDialog, SuccessShowsNothing)
{
    StartEditor();
    DialogResponder responder(uiThread(), app()->findDialog, {});
    EXPECT_EQ(ShowResultCode(main(), RESULT_OK), 0);
    EXPECT_TRUE(responder.Finish().empty());
}

TEST_F(MessageDialog, IsCentredOnItsOwner)
{
    StartEditor();
    SetWindowPos(main(), nullptr, 40, 30, 700, 500, SWP_NOZORDER);
    PumpQueued();
    INT_PTR result = 0;
    const DialogReport seen = Show(
        15, [](HWND dialog) { ClickButton(dialog, IDOK); }, &result);
    ASSERT_TRUE(seen.found);
    RECT owner{};
    GetWindowRect(main(), &owner);
    const int width = seen.rect.right - seen.rect.left;
    const int height = seen.rect.bottom - seen.rect.top;
    EXPECT_EQ(seen.rect.left, owner.left + ((owner.right - owner.left) - width) / 2);
    EXPECT_EQ(seen.rect.top, owner.top + ((owner.bottom - owner.top) - height) / 2);
}

// What a text of the program's own looks like in the message dialog.
struct TextLayout {
    DialogReport report;
    RECT textArea{};    // the static's client area
    RECT textFrame{};   // the static, in dialog client coordinates
    LONG needed = 0;    // the height the text needs, wrapped in the static's width
    RECT button{};      // OK, in dialog client coordinates
    RECT dialogArea{};  // the dialog's client area
    bool centredImage = false;
};

struct TextCase {
    const char* name;
    const wchar_t* text;
    bool wraps;
};

class OwnMessageTexts : public MessageDialog, public ::testing::WithParamInterface<TextCase> {};

TEST_P(OwnMessageTexts, ShowTheWholeTextUnderItsOwnCaption)
{
    StartEditor();
    TextLayout seen;
    DialogResponder responder(uiThread(), app()->findDialog, {[&seen](HWND dialog) {
                                  HWND text = GetDlgItem(dialog, IDC_MESSAGE_TEXT);
                                  GetClientRect(text, &seen.textArea);
                                  GetWindowRect(text, &seen.textFrame);
                                  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&seen.textFrame), 2);
                                  const std::wstring shown = WindowText(text);
                                  HDC dc = GetDC(text);
                                  HGDIOBJ previous =
                                      SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(text, WM_GETFONT, 0, 0)));
                                  RECT measured = seen.textArea;
                                  DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &measured,
                                            DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
                                  SelectObject(dc, previous);
                                  ReleaseDC(text, dc);
                                  seen.needed = measured.bottom - measured.top;
                                  seen.centredImage = (GetWindowLongW(text, GWL_STYLE) & SS_CENTERIMAGE) != 0;
                                  GetWindowRect(GetDlgItem(dialog, IDOK), &seen.button);
                                  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&seen.button), 2);
                                  GetClientRect(dialog, &seen.dialogArea);
                                  ClickButton(dialog, IDOK);
                              }});
    const INT_PTR result = ShowMessageText(main(), L"Own Caption", GetParam().text);
    seen.report = responder.FinishOne();
    ASSERT_TRUE(seen.report.found);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(seen.report.caption, L"Own Caption");
    EXPECT_EQ(seen.report.text, GetParam().text);
    EXPECT_EQ(seen.report.owner, main());
    // Every line of the text fits, the OK button stays below it and inside the dialog.
    EXPECT_GE(seen.textArea.bottom, seen.needed);
    EXPECT_EQ(seen.centredImage, !GetParam().wraps);
    EXPECT_GE(seen.button.top, seen.textFrame.bottom);
    EXPECT_LE(seen.button.bottom, seen.dialogArea.bottom);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, OwnMessageTexts,
    ::testing::Values(TextCase{"OneLine", L"A short text of its own.", false},
                      TextCase{"Wrapped",
                               L"Only the first 8,388,608 bytes of this file of 10,485,760 bytes were loaded. They "
                               L"open as a new document, so that saving cannot replace the file with a part of it.",
                               true}),
    [](const ::testing::TestParamInfo<TextCase>& param) { return std::string(param.param.name); });

struct ConfirmCase {
    const char* name;
    int answer;
    INT_PTR result;
};

class Confirmation : public MessageDialog, public ::testing::WithParamInterface<ConfirmCase> {};

TEST_P(Confirmation, AsksToSaveChangesWithTheProgramsName)
{
    StartEditor();
    const DWORD thread = uiThread();
    const int answer = GetParam().answer;
    DialogResponder responder(uiThread(), app()->findDialog, {[answer, thread](HWND dialog) {
                                  if (answer == 0) {
                                      PressEscapeIn(dialog, thread);
                                  } else {
                                      ClickButton(dialog, answer);
                                  }
                              }});
    const INT_PTR result = AskSaveChangesDialog(main());
    const DialogReport seen = responder.FinishOne();
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.caption, L"Tarnwick");
    EXPECT_EQ(seen.text, L"Do you want to save changes?");
    EXPECT_EQ(result, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Answers, Confirmation,
                         ::testing::Values(ConfirmCase{"Yes", IDOK, IDYES}, ConfirmCase{"No", IDNO, IDNO},
                                           ConfirmCase{"Cancel", IDCANCEL, IDCANCEL},
                                           ConfirmCase{"Escape", 0, IDCANCEL}),
                         [](const ::testing::TestParamInfo<ConfirmCase>& param) { return param.param.name; });

}  // namespace
