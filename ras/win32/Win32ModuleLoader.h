#pragma once
// The RAS binding's loader on Windows: the system's own loader functions.

#include "ras/RasBinding.h"

namespace brindlecove {

class TWin32ModuleLoader final : public IModuleLoader {
public:
    UINT SetErrorMode(UINT mode) override;
    TModule LoadLibraryA(LPCSTR fileName) override;
    TProc GetProcAddress(TModule module, LPCSTR name) override;
    BOOL FreeLibrary(TModule module) override;
};

} // namespace brindlecove
