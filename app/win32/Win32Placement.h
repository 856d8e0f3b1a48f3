#pragma once
// The main window's size and place kept in the registry between runs, under
// HKEY_CURRENT_USER\frmBrindlecove: the values FormVersion, Flags, PixelsPerInch, and MinMaxPos and
// NormPos, each also under a name carrying the screen size ("NormPos(1920x1080)"), which is read
// first.

#include <windows.h>

namespace brindlecove {

// The registry key, under HKEY_CURRENT_USER, that keeps the window's placement.
inline constexpr const char* PlacementKey = "frmBrindlecove";

// Writes the window's placement (GetWindowPlacement) for a screen of `dpi`; false when the system
// or the registry refused.
bool SaveWindowPlacement(HWND window, int dpi);

// Moves the window to the placement stored for this screen. Nothing stored, a negative
// FormVersion, another dpi or an empty rectangle leave the window where it is and answer true;
// false when the system or the registry refused.
bool RestoreWindowPlacement(HWND window, int dpi);

} // namespace brindlecove
