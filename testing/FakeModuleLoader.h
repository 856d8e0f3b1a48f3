#pragma once
// A loader for the RAS binding that serves a library made of the test's own functions, and keeps
// the order of everything it was asked.

#include "ras/RasBinding.h"

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace brindlecove::testing {

class TFakeModuleLoader final : public IModuleLoader {
public:
    bool LibraryPresent = true;
    bool ThrowOnLoad = false;
    std::map<std::string, TProc> Exports;

    UINT ErrorMode = 0;
    UINT ErrorModeDuringLoad = 0;
    std::vector<std::string> Calls;    // "SetErrorMode 32769", "LoadLibraryA rasapi32.dll", ...
    std::vector<std::string> Resolved; // names asked of GetProcAddress, in order

    UINT SetErrorMode(UINT mode) override {
        Calls.push_back("SetErrorMode " + std::to_string(mode));
        const UINT previous = ErrorMode;
        ErrorMode = mode;
        return previous;
    }
    TModule LoadLibraryA(LPCSTR fileName) override {
        Calls.push_back(std::string("LoadLibraryA ") + fileName);
        ErrorModeDuringLoad = ErrorMode;
        if (ThrowOnLoad) {
            throw std::runtime_error("loader failure");
        }
        return LibraryPresent ? this : nullptr;
    }
    TProc GetProcAddress(TModule module, LPCSTR name) override {
        Resolved.emplace_back(name);
        if (module != this) {
            return nullptr;
        }
        const auto found = Exports.find(name);
        return found == Exports.end() ? nullptr : found->second;
    }
    BOOL FreeLibrary(TModule module) override {
        Calls.emplace_back(module == this ? "FreeLibrary" : "FreeLibrary (bad handle)");
        return 1;
    }
};

} // namespace brindlecove::testing
