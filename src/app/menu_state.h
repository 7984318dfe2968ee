#pragma once
// Greys the Edit commands that cannot act and checks the current view
// settings, each time the Edit or Format menu is about to open.
#include <windows.h>

// popup: the menu from WM_INITMENUPOPUP; position: its place in the parent
// menu (1 Edit, 2 Format; any other position changes nothing).
void UpdateMenuState(HMENU popup, UINT position);
