#include "ras/win32/Win32ModuleLoader.h"

#include <windows.h>

namespace brindlecove {

UINT TWin32ModuleLoader::SetErrorMode(UINT mode) {
    return ::SetErrorMode(mode);
}

TModule TWin32ModuleLoader::LoadLibraryA(LPCSTR fileName) {
    return ::LoadLibraryA(fileName);
}

TProc TWin32ModuleLoader::GetProcAddress(TModule module, LPCSTR name) {
    // FARPROC and TProc are both "some function": the caller casts to the real signature.
    return reinterpret_cast<TProc>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

BOOL TWin32ModuleLoader::FreeLibrary(TModule module) {
    return ::FreeLibrary(static_cast<HMODULE>(module));
}

} // namespace brindlecove
