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

// A handle type whose null value is none, closed by one function.
template <class THandleType, auto CloseFunction>
struct TClosedBy {
    using THandle = THandleType;
    static bool Valid(THandle handle) { return handle != nullptr; }
    static void Close(THandle handle) { CloseFunction(handle); }
};

struct TKernelHandleTraits {
    using THandle = HANDLE;
    static bool Valid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { ::CloseHandle(handle); }
};
using TKernelHandle = TScopedHandle<TKernelHandleTraits>;

using TRegistryKey = TScopedHandle<TClosedBy<HKEY, &::RegCloseKey>>;

// A window destroys its children with it: an owner of a child may find its window gone already.
inline void DestroyIfWindow(HWND window) {
    if (::IsWindow(window) != FALSE) {
        ::DestroyWindow(window);
    }
}
using TWindowHandle = TScopedHandle<TClosedBy<HWND, &DestroyIfWindow>>;

template <class TObject>
using TGdiObject = TScopedHandle<TClosedBy<TObject, &::DeleteObject>>;
using TFontHandle = TGdiObject<HFONT>;
using TBitmapHandle = TGdiObject<HBITMAP>;

using TMenuHandle = TScopedHandle<TClosedBy<HMENU, &::DestroyMenu>>;
using TIconHandle = TScopedHandle<TClosedBy<HICON, &::DestroyIcon>>;
using TMemoryDC = TScopedHandle<TClosedBy<HDC, &::DeleteDC>>;

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
