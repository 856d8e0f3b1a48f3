#pragma once
// Owners of the Win32 handles the Windows edition opens: each closes its handle the way the system
// wants it closed when the owner goes. Every Windows source uses these; none makes its own.
//
//   TKernelHandle  CloseHandle     (files and other kernel objects; INVALID_HANDLE_VALUE is none)
//   TRegistryKey   RegCloseKey
//   TWindowHandle  DestroyWindow   (only while the window still exists)
//   TGdiObject<T>  DeleteObject    (TFontHandle for fonts, TBitmapHandle for bitmaps)
//   TMenuHandle    DestroyMenu
//   TIconHandle    DestroyIcon     (never for a shared icon: LoadImage with LR_SHARED)
//   TMemoryDC      DeleteDC        (a device context of CreateCompatibleDC)
//   TScreenDC      ReleaseDC       (a window's or the screen's device context from GetDC)

#include <utility>
#include <windows.h>

namespace brindlecove {

// One handle owned alone. TTraits names the handle type, tells a handle from none and closes one.
template <class TTraits>
class TScopedHandle {
public:
    using THandle = typename TTraits::THandle;

    TScopedHandle() = default;
    explicit TScopedHandle(THandle handle) : FHandle(handle) {}
    TScopedHandle(const TScopedHandle&) = delete;
    TScopedHandle& operator=(const TScopedHandle&) = delete;
    TScopedHandle(TScopedHandle&& other) noexcept : FHandle(other.Release()) {}
    TScopedHandle& operator=(TScopedHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    ~TScopedHandle() { Reset(); }

    THandle Get() const { return FHandle; }
    bool Valid() const { return TTraits::Valid(FHandle); }
    explicit operator bool() const { return Valid(); }
    // Gives the handle up without closing it.
    THandle Release() { return std::exchange(FHandle, THandle{}); }
    // Closes the handle held (if any) and takes `handle`.
    void Reset(THandle handle = THandle{}) {
        const THandle old = std::exchange(FHandle, handle);
        if (TTraits::Valid(old)) {
            TTraits::Close(old);
        }
    }
    // For a function that answers a handle through a pointer (RegOpenKeyExA and the like): closes
    // the handle held and answers where to put the new one.
    THandle* Receive() {
        Reset();
        return &FHandle;
    }

private:
    THandle FHandle{};
};

struct TKernelHandleTraits {
    using THandle = HANDLE;
    static bool Valid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { ::CloseHandle(handle); }
};
using TKernelHandle = TScopedHandle<TKernelHandleTraits>;

struct TRegistryKeyTraits {
    using THandle = HKEY;
    static bool Valid(HKEY key) { return key != nullptr; }
    static void Close(HKEY key) { ::RegCloseKey(key); }
};
using TRegistryKey = TScopedHandle<TRegistryKeyTraits>;

// A window destroys its children with it: an owner of a child may find its window gone already.
struct TWindowTraits {
    using THandle = HWND;
    static bool Valid(HWND window) { return window != nullptr; }
    static void Close(HWND window) {
        if (::IsWindow(window) != FALSE) {
            ::DestroyWindow(window);
        }
    }
};
using TWindowHandle = TScopedHandle<TWindowTraits>;

template <class TObject>
struct TGdiObjectTraits {
    using THandle = TObject;
    static bool Valid(TObject object) { return object != nullptr; }
    static void Close(TObject object) { ::DeleteObject(object); }
};
template <class TObject>
using TGdiObject = TScopedHandle<TGdiObjectTraits<TObject>>;
using TFontHandle = TGdiObject<HFONT>;
using TBitmapHandle = TGdiObject<HBITMAP>;

struct TMenuTraits {
    using THandle = HMENU;
    static bool Valid(HMENU menu) { return menu != nullptr; }
    static void Close(HMENU menu) { ::DestroyMenu(menu); }
};
using TMenuHandle = TScopedHandle<TMenuTraits>;

struct TIconTraits {
    using THandle = HICON;
    static bool Valid(HICON icon) { return icon != nullptr; }
    static void Close(HICON icon) { ::DestroyIcon(icon); }
};
using TIconHandle = TScopedHandle<TIconTraits>;

struct TMemoryDCTraits {
    using THandle = HDC;
    static bool Valid(HDC dc) { return dc != nullptr; }
    static void Close(HDC dc) { ::DeleteDC(dc); }
};
using TMemoryDC = TScopedHandle<TMemoryDCTraits>;

// The device context of a window, or of the whole screen for no window, released with the window
// it came from.
class TScreenDC {
public:
    explicit TScreenDC(HWND window = nullptr) : FWindow(window), FDC(::GetDC(window)) {}
    TScreenDC(const TScreenDC&) = delete;
    TScreenDC& operator=(const TScreenDC&) = delete;
    ~TScreenDC() {
        if (FDC != nullptr) {
            ::ReleaseDC(FWindow, FDC);
        }
    }

    HDC Get() const { return FDC; }
    explicit operator bool() const { return FDC != nullptr; }

private:
    HWND FWindow;
    HDC FDC;
};

} // namespace brindlecove
