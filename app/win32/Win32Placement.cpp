#include "app/win32/Win32Placement.h"

#include "app/WindowLayout.h"
#include "common/win32/Handles.h"

#include <array>
#include <cstdint>
#include <string>

namespace brindlecove {

namespace {

bool WriteDword(HKEY key, const char* name, ::DWORD value) {
    return ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof value) == ERROR_SUCCESS;
}

bool WriteText(HKEY key, const std::string& name, const std::string& value) {
    return ::RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<::DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool ReadDword(HKEY key, const char* name, ::DWORD& value) {
    ::DWORD type = 0;
    ::DWORD size = sizeof value;
    return ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD;
}

bool ReadText(HKEY key, const std::string& name, std::string& value) {
    char buffer[256] = {};
    ::DWORD type = 0;
    ::DWORD size = sizeof buffer - 1;
    if (::RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                           &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return false;
    }
    value.assign(buffer);
    return true;
}

} // namespace

bool SaveWindowPlacement(HWND window, int dpi) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (::GetWindowPlacement(window, &placement) == FALSE) {
        return false;
    }
    TRegistryKey key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, PlacementKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_WRITE, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    const std::string minMax =
        FormatPlacementNumbers({placement.ptMinPosition.x, placement.ptMinPosition.y,
                                placement.ptMaxPosition.x, placement.ptMaxPosition.y});
    const RECT& normal = placement.rcNormalPosition;
    const std::string norm =
        FormatPlacementNumbers({normal.left, normal.top, normal.right, normal.bottom});
    return WriteDword(key.Get(), "FormVersion", 0) &&
           WriteDword(key.Get(), "Flags", placement.flags) &&
           WriteDword(key.Get(), "PixelsPerInch", static_cast<::DWORD>(dpi)) &&
           WriteText(key.Get(), PlacementValueName("MinMaxPos", screenWidth, screenHeight),
                     minMax) &&
           WriteText(key.Get(), "MinMaxPos", minMax) &&
           WriteText(key.Get(), PlacementValueName("NormPos", screenWidth, screenHeight), norm) &&
           WriteText(key.Get(), "NormPos", norm);
}

bool RestoreWindowPlacement(HWND window, int dpi) {
    TRegistryKey key;
    const LONG status =
        ::RegOpenKeyExA(HKEY_CURRENT_USER, PlacementKey, 0, KEY_READ, key.Receive());
    if (status == ERROR_FILE_NOT_FOUND) {
        return true; // nothing stored yet: the window stays centred
    }
    if (status != ERROR_SUCCESS) {
        return false;
    }
    ::DWORD version = 0;
    ReadDword(key.Get(), "FormVersion", version);
    if (static_cast<std::int32_t>(version) < 0) {
        return true;
    }
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (::GetWindowPlacement(window, &placement) == FALSE) {
        return false;
    }
    ::DWORD flags = placement.flags;
    ReadDword(key.Get(), "Flags", flags);
    ::DWORD pixelsPerInch = static_cast<::DWORD>(dpi);
    ReadDword(key.Get(), "PixelsPerInch", pixelsPerInch);
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    const auto read = [&](const char* base, std::string& text) {
        return ReadText(key.Get(), PlacementValueName(base, screenWidth, screenHeight), text) ||
               ReadText(key.Get(), base, text);
    };
    std::string minMaxText;
    std::string normText;
    const bool hasMinMax = read("MinMaxPos", minMaxText);
    const bool hasNorm = read("NormPos", normText);
    const std::array<int, 4> minMax =
        ParsePlacementNumbers(minMaxText, {placement.ptMinPosition.x, placement.ptMinPosition.y,
                                           placement.ptMaxPosition.x, placement.ptMaxPosition.y});
    const RECT& current = placement.rcNormalPosition;
    const std::array<int, 4> norm =
        ParsePlacementNumbers(normText, {current.left, current.top, current.right, current.bottom});
    if (!(hasMinMax || hasNorm) || static_cast<int>(pixelsPerInch) != dpi || norm[0] >= norm[2]) {
        return true;
    }
    placement.flags = flags;
    placement.showCmd = ::IsWindowVisible(window) != FALSE ? SW_SHOWNORMAL : SW_HIDE;
    placement.ptMinPosition = {minMax[0], minMax[1]};
    placement.ptMaxPosition = {minMax[2], minMax[3]};
    placement.rcNormalPosition = {norm[0], norm[1], norm[2], norm[3]};
    return ::SetWindowPlacement(window, &placement) != FALSE;
}

} // namespace brindlecove
