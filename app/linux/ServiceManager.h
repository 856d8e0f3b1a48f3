#pragma once
// What the program tells systemd when systemd started it as a notify service (NOTIFY_SOCKET set),
// through libsystemd: ready, a status line, stopping, and the watchdog's keep-alive. Started any
// other way, every call does nothing.

#include <cstdint>
#include <cstdio>
#include <string>

namespace brindlecove {

class TServiceManager {
public:
    // Start-up is done: the first supervision pass has run.
    void Ready() const;
    // One line for `systemctl status` to show; line breaks and other control characters become
    // blanks, so a name can add no assignment of its own.
    void Status(const std::string& line) const;
    // The program is ending (SIGTERM or SIGINT came).
    void Stopping() const;
    void WatchdogAlive() const;
    // How often WatchdogAlive must come, in milliseconds: half the time the unit's WatchdogSec=
    // allows; 0 when no watchdog is set for this process.
    std::uint32_t WatchdogInterval() const;
};

// "<4>" when `stream` is connected to the journal (JOURNAL_STREAM names its device and inode),
// so that journald files a line written after it with the warning priority; "" otherwise.
const char* WarningPrefix(std::FILE* stream);

} // namespace brindlecove
