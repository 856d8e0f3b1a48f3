#include "common/win32/SystemMessage.h"

#include <memory>
#include <windows.h>

namespace brindlecove {

namespace {

// A buffer FormatMessageA allocated, released with LocalFree.
struct TLocalFree {
    void operator()(char* buffer) const { ::LocalFree(buffer); }
};

} // namespace

std::string SystemMessageText(std::uint32_t code) {
    char* raw = nullptr;
    // The system allocates a buffer of the text's size: no text is cut short.
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPSTR>(&raw), 0, nullptr);
    const std::unique_ptr<char, TLocalFree> buffer(raw);
    if (length == 0 || buffer == nullptr) {
        return {};
    }
    std::string text(buffer.get(), length);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

} // namespace brindlecove
