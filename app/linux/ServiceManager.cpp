#include "app/linux/ServiceManager.h"

#include <cstdlib>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>

namespace brindlecove {

void TServiceManager::Ready() const {
    ::sd_notify(0, "READY=1");
}

void TServiceManager::Status(const std::string& line) const {
    std::string state = "STATUS=" + line;
    for (char& c : state) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = ' ';
        }
    }
    ::sd_notify(0, state.c_str());
}

void TServiceManager::Stopping() const {
    ::sd_notify(0, "STOPPING=1");
}

void TServiceManager::WatchdogAlive() const {
    ::sd_notify(0, "WATCHDOG=1");
}

std::uint32_t TServiceManager::WatchdogInterval() const {
    std::uint64_t usec = 0;
    if (::sd_watchdog_enabled(0, &usec) <= 0) {
        return 0;
    }
    const std::uint64_t half = usec / 2000;
    return half == 0 ? 1 : half > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(half);
}

const char* WarningPrefix(std::FILE* stream) {
    const char* journal = std::getenv("JOURNAL_STREAM");
    struct stat info {};
    if (journal == nullptr || stream == nullptr || ::fstat(::fileno(stream), &info) != 0) {
        return "";
    }
    unsigned long long device = 0;
    unsigned long long inode = 0;
    char end = 0;
    if (std::sscanf(journal, "%llu:%llu%c", &device, &inode, &end) != 2) {
        return "";
    }
    return device == info.st_dev && inode == info.st_ino ? SD_WARNING : "";
}

} // namespace brindlecove
