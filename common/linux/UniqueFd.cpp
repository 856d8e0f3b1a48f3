#include "common/linux/UniqueFd.h"

#include "common/Win32Errors.h"
#include "common/linux/Win32Error.h"

#include <cerrno>
#include <unistd.h>

namespace brindlecove {

void TUniqueFd::Reset(int fd) {
    if (FFd >= 0) {
        ::close(FFd);
    }
    FFd = fd;
}

int TUniqueFd::Close() {
    const int result = FFd >= 0 ? ::close(FFd) : 0;
    FFd = -1;
    return result;
}

std::uint32_t ReadToEnd(int fd, std::uint64_t maxSize, std::string& contents) {
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Win32ErrorFromErrno(errno);
        }
        if (got == 0) {
            return winerror::Success;
        }
        if (contents.size() + static_cast<std::size_t>(got) > maxSize) {
            return winerror::FileTooLarge;
        }
        contents.append(chunk, static_cast<std::size_t>(got));
    }
}

} // namespace brindlecove
