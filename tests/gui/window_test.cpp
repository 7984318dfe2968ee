// The main window as the user sees it: title, menu bar, resources, the edit
// control's styles, font, margins and colours.
#include <windows.h>

#include <string>
#include <vector>

#include "app/settings.h"
#include "app/view_settings.h"
#include "gui/gui_harness.h"
#include "gui/window_hooks.h"
#include "resources/resource.h"

namespace {

// One line per menu item: the captions of its popups, then its own caption
// and identifier; separators as "-".
void DescribeMenu(HMENU menu, const std::wstring& path, std::vector<std::wstring>* lines)
{
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t caption[256] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = caption;
        info.cch = 255;
        ASSERT_TRUE(GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info));
        if ((info.fType & MFT_SEPARATOR) != 0) {
            lines->push_back(path + L"-");
        } else if (info.hSubMenu != nullptr) {
            lines->push_back(path + caption + L" >");
            DescribeMenu(info.hSubMenu, path + caption + L" > ", lines);
        } else {
            lines->push_back(path + caption + L" = " + std::to_wstring(info.wID));
        }
    }
}

class MainWindow : public EditorTest {};

TEST_F(MainWindow, ShowsProgramNameAsTitleOfAnUntitledDocument)
{
    StartEditor();
    EXPECT_EQ(WindowText(main()), L"Tarnwick");
    EXPECT_EQ(ClassName(main()), L"Tarnwick");
    EXPECT_TRUE(IsWindowVisible(main()));
    EXPECT_EQ(GetWindowLongW(main(), GWL_STYLE) & WS_OVERLAPPEDWINDOW, static_cast<LONG>(WS_OVERLAPPEDWINDOW));
    EXPECT_EQ(GetDlgCtrlID(edit()), IDC_EDIT);
    EXPECT_EQ(EditText(), L"");
}

TEST_F(MainWindow, MenuBarHasEveryCaptionIdentifierAndSeparator)
{
    StartEditor();
    std::vector<std::wstring> lines;
    DescribeMenu(GetMenu(main()), L"", &lines);
    const std::vector<std::wstring> expected = {
        L"&File >",
        L"&File > &New\tCtrl+N = 40001",
        L"&File > &Open...\tCtrl+O = 40002",
        L"&File > &Save\tCtrl+S = 40003",
        L"&File > Save &As... = 40004",
        L"&File > &Lock\tCtrl+L = 40041",
        L"&File > -",
        L"&File > E&xit = 40005",
        L"&Edit >",
        L"&Edit > &Undo\tCtrl+Z = 40006",
        L"&Edit > -",
        L"&Edit > Cu&t\tCtrl+X = 40007",
        L"&Edit > &Copy\tCtrl+C = 40008",
        L"&Edit > &Paste\tCtrl+V = 40009",
        L"&Edit > &Delete\tDel = 40010",
        L"&Edit > -",
        L"&Edit > &Find...\tCtrl+F = 40011",
        L"&Edit > -",
        L"&Edit > Select &All\tCtrl+A = 40012",
        L"F&ormat >",
        L"F&ormat > &Word Wrap = 40013",
        L"F&ormat > &Color Theme >",
        L"F&ormat > &Color Theme > Windows &Default = 40021",
        L"F&ormat > &Color Theme > -",
        L"F&ormat > &Color Theme > &Amber = 40023",
        L"F&ormat > &Color Theme > &Black = 40025",
        L"F&ormat > &Color Theme > &Crimson = 40028",
        L"F&ormat > &Color Theme > &Emerald = 40027",
        L"F&ormat > &Color Theme > &Gray = 40024",
        L"F&ormat > &Color Theme > &Hazel = 40035",
        L"F&ormat > &Color Theme > &Royal = 40026",
        L"F&ormat > &Color Theme > -",
        L"F&ormat > &Color Theme > &Khaki = 40034",
        L"F&ormat > &Color Theme > &Lavender = 40029",
        L"F&ormat > &Color Theme > &Mint = 40030",
        L"F&ormat > &Color Theme > &Pink = 40031",
        L"F&ormat > &Color Theme > &Sky = 40032",
        L"F&ormat > &Color Theme > &White = 40022",
        L"F&ormat > &Color Theme > &Yellow = 40033",
        L"F&ormat > &Font >",
        L"F&ormat > &Font > &Consolas = 40015",
        L"F&ormat > &Font > Courier &New = 40016",
        L"F&ormat > &Font > &Lucida Console = 40017",
        L"F&ormat > &Font > -",
        L"F&ormat > &Font > &Increase Size\tCtrl++ = 40018",
        L"F&ormat > &Font > &Decrease Size\tCtrl+- = 40019",
        L"F&ormat > &Font > &Reset Size\tCtrl+0 = 40020",
        L"F&ormat > &Margin >",
        L"F&ormat > &Margin > &Extra Small = 40036",
        L"F&ormat > &Margin > &Small = 40037",
        L"F&ormat > &Margin > &Medium = 40038",
        L"F&ormat > &Margin > &Large = 40039",
        L"F&ormat > &Margin > E&xtra Large = 40040",
        L"&Help >",
        L"&Help > &About Tarnwick = 40014",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(MainWindow, ResourcesCarryIconVersionAndManifest)
{
    HMODULE module = GetModuleHandleW(nullptr);
    // The icon offers the sizes a shell asks for, so none is scaled from another.
    HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(IDI_APP_ICON), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    auto* directory = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
    ASSERT_NE(directory, nullptr);
    for (int size : {16, 24, 32, 48, 256}) {
        const int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
        ASSERT_NE(id, 0) << size;
        HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));  // RT_ICON
        ASSERT_NE(image, nullptr) << size;
        HICON icon = CreateIconFromResourceEx(static_cast<BYTE*>(LockResource(LoadResource(module, image))),
                                              SizeofResource(module, image), TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR);
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        EXPECT_EQ(bitmap.bmHeight, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }

    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(manifest, nullptr);
    const std::string text(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                           SizeofResource(module, manifest));
    EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(text.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(text.find("PerMonitorV2"), std::string::npos);
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);

    HRSRC version = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
    ASSERT_NE(version, nullptr);
    const DWORD size = SizeofResource(module, version);
    std::vector<BYTE> block(size);
    CopyMemory(block.data(), LockResource(LoadResource(module, version)), size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, (23u << 16) | 8u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, (23u << 16) | 8u);
    wchar_t* value = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                               reinterpret_cast<void**>(&value), &length));
    EXPECT_STREQ(value, L"Tarnwick");
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\FileDescription",
                               reinterpret_cast<void**>(&value), &length));
    EXPECT_STREQ(value, L"Tarnwick Encrypted Text Editor");
}

TEST_F(MainWindow, OpensAtTheSizeComputedFromTheScreenWithDefaultView)
{
    StartEditor();
    int width = 0;
    int height = 0;
    ComputeInitialSize(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), &width, &height);
    RECT frame{};
    GetWindowRect(main(), &frame);
    EXPECT_EQ(frame.right - frame.left, width);
    EXPECT_EQ(frame.bottom - frame.top, height);
    EXPECT_EQ(FontFace(), L"Courier New");
    EXPECT_EQ(FontHeight(), 16);
    EXPECT_EQ(app()->colorTheme, 0);
    EXPECT_EQ(app()->margin, 4);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(edit(), GWL_STYLE)), 0x503011C4u);
}

struct ScreenCase {
    int screenWidth;
    int screenHeight;
    int width;
    int height;
};

class InitialSize : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(InitialSize, FollowsTheSmallerSideOfTheScreen)
{
    int width = 0;
    int height = 0;
    ComputeInitialSize(GetParam().screenWidth, GetParam().screenHeight, &width, &height);
    EXPECT_EQ(width, GetParam().width);
    EXPECT_EQ(height, GetParam().height);
}

INSTANTIATE_TEST_SUITE_P(Screens, InitialSize,
                         ::testing::Values(ScreenCase{1920, 1080, 729, 824}, ScreenCase{1366, 768, 518, 585},
                                           ScreenCase{1080, 1920, 729, 824}, ScreenCase{800, 568, 384, 434},
                                           ScreenCase{640, 480, 384, 434}, ScreenCase{1280, 1024, 691, 781}));

TEST_F(MainWindow, EditControlFillsTheClientAreaAfterResizing)
{
    StartEditor();
    SetWindowPos(main(), nullptr, 0, 0, 500, 420, SWP_NOMOVE | SWP_NOZORDER);
    PumpQueued();
    RECT client{};
    GetClientRect(main(), &client);
    RECT child{};
    GetWindowRect(edit(), &child);
    MapWindowPoints(nullptr, main(), reinterpret_cast<POINT*>(&child), 2);
    EXPECT_EQ(child.left, 0);
    EXPECT_EQ(child.top, 0);
    EXPECT_EQ(child.right, client.right);
    EXPECT_EQ(child.bottom, client.bottom);
}

struct DocumentTitleCase {
    const wchar_t* path;
    int container;
    const wchar_t* title;
};

class DocumentTitle : public EditorTest, public ::testing::WithParamInterface<DocumentTitleCase> {};

TEST_P(DocumentTitle, ShowsFileNameAfterLoadOrSaveAndClearsModification)
{
    StartEditor();
    SetEditText(L"text", true);
    wcscpy_s(app()->documentPath, PATH_CAPACITY, GetParam().path);
    app()->documentIsContainer = GetParam().container;

    SendMessageW(main(), WM_DOCUMENT_SYNCED, 999, 0);
    EXPECT_EQ(WindowText(main()), L"Tarnwick");
    EXPECT_NE(SendMessageW(edit(), EM_GETMODIFY, 0, 0), 0);

    SendMessageW(main(), WM_DOCUMENT_SYNCED, 1000, 0);
    EXPECT_EQ(WindowText(main()), GetParam().title);
    EXPECT_EQ(SendMessageW(edit(), EM_GETMODIFY, 0, 0), 0);
}

INSTANTIATE_TEST_SUITE_P(Paths, DocumentTitle,
                         ::testing::Values(DocumentTitleCase{L"C:\\notes\\notes.txt", 0, L"notes.txt - Tarnwick"},
                                           DocumentTitleCase{L"C:\\notes\\notes.vtxt", 1, L"notes - Tarnwick"},
                                           DocumentTitleCase{L"Z:/home/a.b/letter.v1.vtxt", 1, L"letter.v1 - Tarnwick"},
                                           DocumentTitleCase{L"C:\\dir.d\\README", 1, L"README - Tarnwick"},
                                           DocumentTitleCase{L"plain", 0, L"plain - Tarnwick"}));

// The formatting rectangle of the edit control: the margin insets, capped at
// an eighth of the width and a thirty-second of the height.
struct MarginCase {
    UINT command;
    int step;
    int dpi;
    int clientWidth;
    int clientHeight;
    int horizontal;  // expected inset, after the cap
    int vertical;
};

class Margins : public EditorTest, public ::testing::WithParamInterface<MarginCase> {
protected:
    // The edit control lines the text up in whole lines below the top inset
    // and adds its own small margins beside the left and right insets.
    void ExpectFormatRect(int horizontal, int vertical)
    {
        RECT client{};
        GetClientRect(edit(), &client);
        RECT format{};
        SendMessageW(edit(), EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
        const LRESULT own = SendMessageW(edit(), EM_GETMARGINS, 0, 0);
        HDC dc = GetDC(edit());
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(edit(), WM_GETFONT, 0, 0)));
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        SelectObject(dc, old);
        ReleaseDC(edit(), dc);

        EXPECT_EQ(format.left, horizontal + LOWORD(own));
        EXPECT_EQ(format.right, client.right - horizontal - HIWORD(own));
        EXPECT_EQ(format.top, vertical);
        EXPECT_LE(format.bottom, client.bottom - vertical);
        EXPECT_GT(format.bottom, client.bottom - vertical - metrics.tmHeight);
    }
};

TEST_P(Margins, SetTheFormattingRectangle)
{
    const MarginCase& c = GetParam();
    StartEditor();
    if (c.dpi != 96) {
        SendMessageW(main(), WM_DPICHANGED, MAKEWPARAM(c.dpi, c.dpi), 0);
    }
    // Size the window so that the edit control gets the wanted client area.
    RECT client{};
    GetClientRect(edit(), &client);
    RECT frame{};
    GetWindowRect(main(), &frame);
    SetWindowPos(main(), nullptr, 0, 0, frame.right - frame.left + c.clientWidth - client.right,
                 frame.bottom - frame.top + c.clientHeight - client.bottom, SWP_NOMOVE | SWP_NOZORDER);
    PumpQueued();
    GetClientRect(edit(), &client);
    ASSERT_EQ(client.right, c.clientWidth);
    ASSERT_EQ(client.bottom, c.clientHeight);

    Command(c.command);
    EXPECT_EQ(app()->margin, c.step);
    ExpectFormatRect(c.horizontal, c.vertical);
}

INSTANTIATE_TEST_SUITE_P(Steps, Margins,
                         ::testing::Values(
                             // Wide enough for every inset: 4/0, 12/4, 36/16, 108/52 at 96 dpi.
                             MarginCase{IDM_MARGIN_EXTRA_SMALL, 4, 96, 1000, 900, 4, 0},
                             MarginCase{IDM_MARGIN_SMALL, 12, 96, 1000, 900, 12, 4},
                             MarginCase{IDM_MARGIN_MEDIUM, 36, 96, 1000, 900, 36, 16},
                             MarginCase{IDM_MARGIN_LARGE, 108, 96, 1000, 900, 108, 28},        // 52 capped at 900 / 32
                             MarginCase{IDM_MARGIN_EXTRA_LARGE, 324, 96, 1000, 900, 125, 28},  // 324 capped at 1000 / 8
                             // An edit control 400 pixels wide keeps 50 on each side, not 324.
                             MarginCase{IDM_MARGIN_EXTRA_LARGE, 324, 96, 400, 600, 50, 18},
                             // The vertical cap applies at H / 32 already (>=).
                             MarginCase{IDM_MARGIN_MEDIUM, 36, 96, 600, 512, 36, 16},
                             MarginCase{IDM_MARGIN_MEDIUM, 36, 96, 600, 500, 36, 15},
                             // At 144 dpi the insets grow by half: 6/0, 18/6, 54/24.
                             MarginCase{IDM_MARGIN_EXTRA_SMALL, 4, 144, 1000, 900, 6, 0},
                             MarginCase{IDM_MARGIN_SMALL, 12, 144, 1000, 900, 18, 6},
                             MarginCase{IDM_MARGIN_MEDIUM, 36, 144, 1000, 900, 54, 24}));

TEST_F(MainWindow, FontHeightFollowsSizeAndDpi)
{
    StartEditor();
    EXPECT_EQ(FontHeight(), 16);
    Command(IDM_FONT_INCREASE);
    EXPECT_EQ(FontHeight(), 17);
    Command(IDM_FONT_RESET);
    EXPECT_EQ(FontHeight(), 16);

    // 96 to 144 dpi: 1.5 times the pixel height and wider margins, same window size.
    Command(IDM_MARGIN_MEDIUM);
    RECT before{};
    GetWindowRect(main(), &before);
    RECT suggested{0, 0, 10, 10};
    SendMessageW(main(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    PumpQueued();
    EXPECT_EQ(FontHeight(), 24);
    EXPECT_EQ(app()->dpi, 144);
    RECT after{};
    GetWindowRect(main(), &after);
    EXPECT_EQ(after.right - after.left, before.right - before.left);
    EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
    RECT format{};
    SendMessageW(edit(), EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
    EXPECT_EQ(format.left, 54 + LOWORD(SendMessageW(edit(), EM_GETMARGINS, 0, 0)));

    // Size 10 at 120 dpi gives 13 pixels.
    SendMessageW(main(), WM_DPICHANGED, MAKEWPARAM(120, 120), 0);
    for (int i = 0; i < 6; ++i) {
        Command(IDM_FONT_DECREASE);
    }
    EXPECT_EQ(app()->fontSize, 10);
    EXPECT_EQ(FontHeight(), 13);
}

TEST_F(MainWindow, FontSizeStopsAtItsLimitsWithoutRepainting)
{
    StartEditor();
    for (int i = 0; i < 70; ++i) {
        Command(IDM_FONT_INCREASE);
    }
    EXPECT_EQ(FontHeight(), 80);
    HFONT font = app()->editFont;
    EXPECT_FALSE(CommandRepaints(IDM_FONT_INCREASE));
    EXPECT_EQ(app()->fontSize, 80);
    EXPECT_EQ(app()->editFont, font);

    for (int i = 0; i < 75; ++i) {
        Command(IDM_FONT_DECREASE);
    }
    EXPECT_EQ(FontHeight(), 10);
    font = app()->editFont;
    EXPECT_FALSE(CommandRepaints(IDM_FONT_DECREASE));
    EXPECT_EQ(app()->editFont, font);
    EXPECT_TRUE(CommandRepaints(IDM_FONT_INCREASE));
}

TEST_F(MainWindow, FontFaceCommandsChangeTheFaceAndTheSameFaceChangesNothing)
{
    StartEditor();
    HFONT font = app()->editFont;
    EXPECT_FALSE(CommandRepaints(IDM_FONT_COURIER_NEW));
    EXPECT_EQ(app()->editFont, font);

    EXPECT_TRUE(CommandRepaints(IDM_FONT_CONSOLAS));
    EXPECT_EQ(FontFace(), L"Consolas");
    EXPECT_EQ(app()->fontFace, 2);
    Command(IDM_FONT_LUCIDA_CONSOLE);
    EXPECT_EQ(FontFace(), L"Lucida Console");
    EXPECT_EQ(app()->fontFace, 0);
    EXPECT_EQ(FontHeight(), 16);
}

struct ThemeCase {
    int theme;
    COLORREF back;
    COLORREF text;
    COLORREF readOnly;
};

class Themes : public EditorTest, public ::testing::WithParamInterface<ThemeCase> {
protected:
    struct Painted {
        LRESULT brush;
        COLORREF brushColor;
        COLORREF back;
        COLORREF text;
    };
    Painted Ask(UINT message)
    {
        HDC dc = GetDC(edit());
        SetBkColor(dc, RGB(1, 2, 3));
        SetTextColor(dc, RGB(4, 5, 6));
        Painted p{};
        p.brush = SendMessageW(main(), message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(edit()));
        p.brushColor = GetDCBrushColor(dc);
        p.back = GetBkColor(dc);
        p.text = GetTextColor(dc);
        ReleaseDC(edit(), dc);
        return p;
    }
};

TEST_P(Themes, PaintTheEditControlInTheThemeColours)
{
    const ThemeCase& c = GetParam();
    StartEditor();
    Command(static_cast<UINT>(IDM_THEME_FIRST + c.theme));
    EXPECT_EQ(app()->colorTheme, c.theme);

    const Painted editable = Ask(WM_CTLCOLOREDIT);
    const Painted readOnly = Ask(WM_CTLCOLORSTATIC);
    if (c.theme == 0) {
        // The system's own colours, although white is stored.
        EXPECT_NE(editable.brush, reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH)));
        EXPECT_NE(readOnly.brush, reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH)));
        EXPECT_EQ(editable.text, GetSysColor(COLOR_WINDOWTEXT));
        EXPECT_EQ(app()->backColor, RGB(255, 255, 255));
        return;
    }
    EXPECT_EQ(editable.brush, reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH)));
    EXPECT_EQ(editable.brushColor, c.back);
    EXPECT_EQ(editable.back, c.back);
    EXPECT_EQ(editable.text, c.text);
    EXPECT_EQ(readOnly.brush, reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH)));
    EXPECT_EQ(readOnly.brushColor, c.readOnly);
    EXPECT_EQ(readOnly.back, c.readOnly);
    EXPECT_EQ(readOnly.text, c.text);

    // Another control's colours are left to the system.
    HDC dc = GetDC(main());
    const LRESULT other = SendMessageW(main(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(app()->findDialog));
    ReleaseDC(main(), dc);
    EXPECT_NE(other, reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH)));
}

INSTANTIATE_TEST_SUITE_P(AllFifteen, Themes,
                         ::testing::Values(ThemeCase{0, 0, 0, 0},
                                           ThemeCase{1, RGB(255, 255, 255), RGB(0, 0, 0), RGB(240, 240, 240)},
                                           ThemeCase{2, RGB(24, 20, 6), RGB(240, 192, 0), RGB(50, 46, 28)},
                                           ThemeCase{3, RGB(56, 56, 56), RGB(208, 208, 208), RGB(76, 76, 76)},
                                           ThemeCase{4, RGB(0, 0, 0), RGB(255, 255, 255), RGB(36, 36, 36)},
                                           ThemeCase{5, RGB(0, 0, 102), RGB(0, 204, 255), RGB(0, 0, 126)},
                                           ThemeCase{6, RGB(0, 64, 0), RGB(56, 255, 56), RGB(0, 88, 0)},
                                           ThemeCase{7, RGB(72, 0, 0), RGB(255, 96, 96), RGB(96, 0, 0)},
                                           ThemeCase{8, RGB(242, 230, 255), RGB(48, 0, 112), RGB(226, 214, 239)},
                                           ThemeCase{9, RGB(229, 248, 224), RGB(36, 60, 41), RGB(213, 232, 208)},
                                           ThemeCase{10, RGB(255, 228, 241), RGB(128, 0, 64), RGB(239, 212, 225)},
                                           ThemeCase{11, RGB(223, 240, 255), RGB(64, 64, 128), RGB(207, 224, 239)},
                                           ThemeCase{12, RGB(255, 243, 195), RGB(40, 40, 40), RGB(239, 227, 179)},
                                           ThemeCase{13, RGB(217, 208, 191), RGB(81, 63, 39), RGB(192, 180, 160)},
                                           ThemeCase{14, RGB(75, 60, 51), RGB(223, 187, 161), RGB(91, 76, 67)}));

TEST_F(MainWindow, ThemeReachesTheScreenAndReselectingItDoesNotRepaint)
{
    StartEditor();
    Command(IDM_THEME_BLACK);
    UpdateWindow(main());
    UpdateWindow(edit());
    // A pixel inside the control, away from text: the theme's background.
    HDC dc = GetDC(edit());
    const COLORREF pixel = GetPixel(dc, 2, 2);
    ReleaseDC(edit(), dc);
    EXPECT_EQ(pixel, RGB(0, 0, 0));

    EXPECT_FALSE(CommandRepaints(IDM_THEME_BLACK));
    EXPECT_TRUE(CommandRepaints(IDM_THEME_ROYAL));
}

class WordWrap : public EditorTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WordWrap, RecreatesTheControlKeepingTextAndModification)
{
    const bool modified = GetParam();
    StartEditor();
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(edit(), GWL_STYLE)), 0x503011C4u);
    SetEditText(L"A line long enough to wrap somewhere, and a second sentence.\r\nNext line.", modified);
    HWND before = edit();

    Command(IDM_WORD_WRAP);
    EXPECT_NE(edit(), before);
    EXPECT_FALSE(IsWindow(before));
    EXPECT_EQ(app()->wordWrap, 1u);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(edit(), GWL_STYLE)), 0x50201144u);
    EXPECT_EQ(EditText(), L"A line long enough to wrap somewhere, and a second sentence.\r\nNext line.");
    EXPECT_EQ(SendMessageW(edit(), EM_GETMODIFY, 0, 0) != 0, modified);
    EXPECT_EQ(GetFocus(), edit());
    EXPECT_EQ(FontHeight(), 16);
    EXPECT_EQ(GetDlgCtrlID(edit()), IDC_EDIT);
    RECT client{};
    GetClientRect(main(), &client);
    RECT child{};
    GetWindowRect(edit(), &child);
    EXPECT_EQ(child.right - child.left, client.right);
    EXPECT_EQ(child.bottom - child.top, client.bottom);

    Command(IDM_WORD_WRAP);
    EXPECT_EQ(app()->wordWrap, 0u);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(edit(), GWL_STYLE)), 0x503011C4u);
    EXPECT_EQ(SendMessageW(edit(), EM_GETMODIFY, 0, 0) != 0, modified);
}

INSTANTIATE_TEST_SUITE_P(ModificationFlag, WordWrap, ::testing::Bool());

TEST_F(MainWindow, WordWrapOnAnEmptyDocument)
{
    StartEditor();
    Command(IDM_WORD_WRAP);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(edit(), GWL_STYLE)), 0x50201144u);
    EXPECT_EQ(EditText(), L"");
    EXPECT_EQ(SendMessageW(edit(), EM_GETLIMITTEXT, 0, 0), 0x800000);
}

TEST_F(MainWindow, EditCommandsReachTheEditControl)
{
    StartEditor();
    SetEditText(L"hello world", false);
    Command(IDM_SELECT_ALL);
    DWORD start = 1;
    DWORD end = 0;
    SendMessageW(edit(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 11u);

    SendMessageW(edit(), EM_SETSEL, 5, 11);
    Command(IDM_DELETE);
    EXPECT_EQ(EditText(), L"hello");
    Command(IDM_UNDO);
    EXPECT_EQ(EditText(), L"hello world");
    SendMessageW(edit(), EM_SETSEL, 0, 6);
    Command(IDM_CUT);
    EXPECT_EQ(EditText(), L"world");
    SendMessageW(edit(), EM_SETSEL, 5, 5);
    Command(IDM_PASTE);
    EXPECT_EQ(EditText(), L"worldhello ");
    SendMessageW(edit(), EM_SETSEL, 0, 5);
    Command(IDM_COPY);
    SendMessageW(edit(), EM_SETSEL, 11, 11);
    Command(IDM_PASTE);
    EXPECT_EQ(EditText(), L"worldhello world");
}

TEST_F(MainWindow, FindCommandOnAnEmptyDocumentShowsNothing)
{
    StartEditor();
    Command(IDM_FIND);
    EXPECT_FALSE(IsWindowVisible(app()->findDialog));
    EXPECT_EQ(app()->findDialogVisible, 0);

    SetEditText(L"some text", false);
    app()->findPosition = 7;
    Command(IDM_FIND);
    EXPECT_TRUE(IsWindowVisible(app()->findDialog));
    EXPECT_EQ(app()->findDialogVisible, 1);
    EXPECT_EQ(app()->findPosition, 0);
    EXPECT_EQ(WindowText(app()->findDialog), L"Find First");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(app()->findDialog, IDOK)));
    EXPECT_EQ(GetFocus(), GetDlgItem(app()->findDialog, IDC_FIND_TEXT));
}

}  // namespace

namespace {

// Records the texts an edit control is given, to see what WipeEditText writes.
std::vector<std::wstring>* recordedTexts = nullptr;
WNDPROC recordedProc = nullptr;

LRESULT CALLBACK RecordTexts(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT && recordedTexts != nullptr) {
        recordedTexts->push_back(reinterpret_cast<const wchar_t*>(lParam));
    }
    return CallWindowProcW(recordedProc, window, message, wParam, lParam);
}

struct WipeCase {
    bool multiLine;
    int length;
};

class WipeText : public ::testing::TestWithParam<WipeCase> {};

// A multi-line control is overwritten in its own buffer, however long the
// text, and then emptied; a single-line one, which gives no buffer, is given
// blanks of the text's full length first.
TEST_P(WipeText, OverwritesTheWholeTextThenEmpties)
{
    const DWORD style = WS_POPUP | (GetParam().multiLine ? ES_MULTILINE : ES_AUTOHSCROLL);
    HWND edit = CreateWindowExW(0, L"EDIT", nullptr, style, 0, 0, 100, 100, nullptr, nullptr, GetModuleHandleW(nullptr),
                                nullptr);
    ASSERT_NE(edit, nullptr);
    SendMessageW(edit, EM_LIMITTEXT, 0x800000, 0);
    const auto length = static_cast<std::size_t>(GetParam().length);
    // Short lines: one long line takes the control seconds under Wine.
    std::wstring text(length, L'k');
    for (std::size_t i = 100; GetParam().multiLine && i + 1 < length; i += 100) {
        text[i] = L'\r';
        text[i + 1] = L'\n';
    }
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    std::vector<std::wstring> texts;
    recordedTexts = &texts;
    recordedProc =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordTexts)));

    WipeEditText(edit);

    recordedTexts = nullptr;
    EXPECT_EQ(GetWindowTextLengthW(edit), 0);
    std::vector<std::wstring> expected;
    if (!GetParam().multiLine && length > 0) {
        expected.push_back(std::wstring(length, L' '));
    }
    expected.push_back(L"");
    EXPECT_TRUE(texts == expected) << texts.size() << " texts given";
    if (GetParam().multiLine) {
        EXPECT_EQ(EditBufferLeftovers(edit), 0u);
    }
    DestroyWindow(edit);
}

INSTANTIATE_TEST_SUITE_P(Lengths, WipeText,
                         ::testing::Values(WipeCase{true, 0}, WipeCase{true, 1}, WipeCase{true, 100},
                                           WipeCase{true, 10000}, WipeCase{false, 0}, WipeCase{false, 1},
                                           WipeCase{false, 255}));

TEST(CenterWindow, CentresOverAWindowOrTheWorkArea)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 100, 80, 601, 400, nullptr, nullptr,
                                 instance, nullptr);
    HWND child = CreateWindowExW(0, L"STATIC", L"centred", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, owner, nullptr,
                                 instance, nullptr);
    ASSERT_NE(owner, nullptr);
    ASSERT_NE(child, nullptr);

    CenterWindow(child, owner);
    RECT placed{};
    GetWindowRect(child, &placed);
    EXPECT_EQ(placed.left, 100 + (601 - 200) / 2);
    EXPECT_EQ(placed.top, 80 + (400 - 100) / 2);
    EXPECT_EQ(placed.right - placed.left, 200);

    RECT area{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    CenterWindow(child, nullptr);
    GetWindowRect(child, &placed);
    EXPECT_EQ(placed.left, area.left + ((area.right - area.left) - 200) / 2);
    EXPECT_EQ(placed.top, area.top + ((area.bottom - area.top) - 100) / 2);

    DestroyWindow(child);
    DestroyWindow(owner);
}

class ReadOnlyView : public EditorTest {};

TEST_F(ReadOnlyView, ReadOnlyEditorIsPaintedInTheReadOnlyColour)
{
    StartEditor();
    Command(IDM_THEME_EMERALD);
    SendMessageW(edit(), EM_SETREADONLY, TRUE, 0);
    RedrawWindow(edit(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    HDC dc = GetDC(edit());
    const COLORREF pixel = GetPixel(dc, 2, 2);
    ReleaseDC(edit(), dc);
    EXPECT_EQ(pixel, RGB(0, 88, 0));

    SendMessageW(edit(), EM_SETREADONLY, FALSE, 0);
    RedrawWindow(edit(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    dc = GetDC(edit());
    const COLORREF editable = GetPixel(dc, 2, 2);
    ReleaseDC(edit(), dc);
    EXPECT_EQ(editable, RGB(0, 64, 0));
}

TEST_F(ReadOnlyView, ActivationPutsTheFocusIntoTheEditor)
{
    StartEditor();
    SetFocus(nullptr);
    SendMessageW(main(), WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(GetFocus(), edit());
    SetFocus(nullptr);
    SendMessageW(main(), WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_NE(GetFocus(), edit());
    EXPECT_NE(GetClassLongPtrW(main(), GCLP_HICON), 0);
}

}  // namespace
