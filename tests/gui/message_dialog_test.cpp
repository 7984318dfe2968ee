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
