#pragma once
// The five view settings kept in the per-user registry, and the window size
// computed from the screen.

// The key under HKEY_CURRENT_USER.
inline constexpr const wchar_t* SETTINGS_KEY = L"Software\\Orlenda\\Tarnwick";

// Reads "Color", "FontSize", "FontType", "Margin" and "Wrap" (missing ones keep
// their defaults), keeps the raw values as the saved snapshot, validates them,
// and computes the initial window size. Registry failures are silent.
void LoadSettings();
// Writes all five values when any differs from the snapshot, then updates the
// snapshot. Does nothing when nothing changed; failures are silent.
void SaveSettings();
// The initial window size for a primary screen of the given size.
void ComputeInitialSize(int screenWidth, int screenHeight, int* width, int* height);
