#pragma once
// Resource identifiers shared by tarnwick.rc and the code. Plain #defines so
// that the resource compiler reads them too.

// The edit control that fills the main window.
#define IDC_EDIT 101

#define IDI_APP_ICON 102
#define IDD_ABOUT 103
#define IDD_MESSAGE 104
#define IDD_SAVE_CHANGES 105
#define IDD_ENTER_PASSWORD 106
#define IDD_SELECT_PASSWORD 107
#define IDD_FIND 108
#define IDM_MAIN_MENU 109

// Controls of the dialogs.
#define IDC_ABOUT_LINK 1001
#define IDC_ABOUT_ICON 1002
#define IDC_ABOUT_TEXT 1003
#define IDC_MESSAGE_TEXT 1004
#define IDC_PASSWORD 1005
#define IDC_HINT 1006
#define IDC_SHOW_PASSWORD 1007
#define IDC_NEW_PASSWORD 1008
#define IDC_CONFIRM_PASSWORD 1009
#define IDC_FIND_TEXT 1010

// Commands of menu 109, also posted by the keyboard handler and replayed after
// a job. The theme commands are contiguous: theme number = id - IDM_THEME_FIRST.
#define IDM_NEW 40001
#define IDM_OPEN 40002
#define IDM_SAVE 40003
#define IDM_SAVE_AS 40004
#define IDM_EXIT 40005
#define IDM_UNDO 40006
#define IDM_CUT 40007
#define IDM_COPY 40008
#define IDM_PASTE 40009
#define IDM_DELETE 40010
#define IDM_FIND 40011
#define IDM_SELECT_ALL 40012
#define IDM_WORD_WRAP 40013
#define IDM_ABOUT 40014
#define IDM_FONT_CONSOLAS 40015
#define IDM_FONT_COURIER_NEW 40016
#define IDM_FONT_LUCIDA_CONSOLE 40017
#define IDM_FONT_INCREASE 40018
#define IDM_FONT_DECREASE 40019
#define IDM_FONT_RESET 40020
#define IDM_THEME_DEFAULT 40021
#define IDM_THEME_WHITE 40022
#define IDM_THEME_AMBER 40023
#define IDM_THEME_GRAY 40024
#define IDM_THEME_BLACK 40025
#define IDM_THEME_ROYAL 40026
#define IDM_THEME_EMERALD 40027
#define IDM_THEME_CRIMSON 40028
#define IDM_THEME_LAVENDER 40029
#define IDM_THEME_MINT 40030
#define IDM_THEME_PINK 40031
#define IDM_THEME_SKY 40032
#define IDM_THEME_YELLOW 40033
#define IDM_THEME_KHAKI 40034
#define IDM_THEME_HAZEL 40035
#define IDM_MARGIN_EXTRA_SMALL 40036
#define IDM_MARGIN_SMALL 40037
#define IDM_MARGIN_MEDIUM 40038
#define IDM_MARGIN_LARGE 40039
#define IDM_MARGIN_EXTRA_LARGE 40040

// Beyond menu 109's first forty: File > Lock (Unlock while locked).
#define IDM_LOCK 40041

#define IDM_FIRST_COMMAND IDM_NEW
#define IDM_LAST_COMMAND IDM_MARGIN_EXTRA_LARGE
#define IDM_THEME_FIRST IDM_THEME_DEFAULT
#define IDM_THEME_LAST IDM_THEME_HAZEL
