#pragma once
// Resource identifiers shared by tarnwick.rc and the code.

#define IDI_APP_ICON 102
#define IDM_MAIN_MENU 109
