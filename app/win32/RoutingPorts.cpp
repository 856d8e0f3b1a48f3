#include "app/win32/RoutingPorts.h"

#include <windows.h>

namespace brindlecove {

namespace {

// TO BE REPLACED by routing/win32's IP Helper adapter: no routing at all.
class TUnsupportedIpHelper final : public IIpHelperPort {
public:
    DWORD GetAdaptersInfo(IP_ADAPTER_INFO*, ULONG*) override { return iphlperror::NotSupported; }
    DWORD GetIpForwardTable(MIB_IPFORWARDTABLE*, ULONG*, BOOL) override {
        return iphlperror::NotSupported;
    }
    DWORD CreateIpForwardEntry(const MIB_IPFORWARDROW*) override {
        return iphlperror::NotSupported;
    }
    DWORD DeleteIpForwardEntry(const MIB_IPFORWARDROW*) override {
        return iphlperror::NotSupported;
    }
    DWORD GetBestInterface(DWORD, DWORD*) override { return iphlperror::NotSupported; }
    ULONG inet_addr(LPCSTR) override { return InaddrNone; }
    BOOL GetVersionExA(OSVERSIONINFOA*) override { return 0; }
    DWORD GetLastError() override { return iphlperror::NotSupported; }
    std::string ErrorText(DWORD code) override {
        char* buffer = nullptr;
        const ::DWORD length =
            ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
        std::string text = length > 0 && buffer != nullptr ? std::string(buffer, length) : "";
        ::LocalFree(buffer);
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
            text.pop_back();
        }
        return text;
    }
};

// TO BE REPLACED by routing/win32's registry adapter: persistent routes are never deleted.
class TUnsupportedRegistry final : public IRegistryPort {
public:
    bool DeleteLocalMachineValue(const std::string&, const std::string&) override { return false; }
};

} // namespace

TRoutingPorts CreateRoutingPorts() {
    return {std::make_unique<TUnsupportedIpHelper>(), std::make_unique<TUnsupportedRegistry>()};
}

} // namespace brindlecove
