#include "app/linux/LinuxSystem.h"

#include "common/Win32Errors.h"
#include "common/linux/Win32Error.h"

#include <cerrno>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brindlecove {

namespace {

// An open file descriptor, closed when it goes out of scope.
class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() {
        if (FFd >= 0) {
            ::close(FFd);
        }
    }
    int Get() const { return FFd; }

private:
    int FFd;
};

} // namespace

std::string TLinuxSystem::ProgramFolder() const {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            const std::string path(buffer.data(), static_cast<std::size_t>(length));
            const std::size_t slash = path.rfind('/');
            return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool TLinuxSystem::PathExists(const std::string& path) const {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::uint32_t TLinuxSystem::ReadWholeFile(const std::string& path, std::uint64_t maxSize,
                                          std::string& contents) const {
    contents.clear();
    const TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (fd.Get() < 0) {
        return Win32ErrorFromErrno(errno);
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        return Win32ErrorFromErrno(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return winerror::AccessDenied;
    }
    std::string data;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Win32ErrorFromErrno(errno);
        }
        if (got == 0) {
            break;
        }
        if (data.size() + static_cast<std::size_t>(got) > maxSize) {
            return winerror::FileTooLarge;
        }
        data.append(chunk, static_cast<std::size_t>(got));
    }
    contents = std::move(data);
    return winerror::Success;
}

std::string TLinuxSystem::ErrorText(std::uint32_t code) const {
    return Win32ErrorText(code);
}

} // namespace brindlecove
