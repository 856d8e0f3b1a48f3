#pragma once
// A file descriptor owned alone, closed when its owner goes, and reading a whole descriptor.

#include <cstdint>
#include <string>
#include <utility>

namespace brindlecove {

class TUniqueFd {
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd) : FFd(fd) {}
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;
    TUniqueFd(TUniqueFd&& other) noexcept : FFd(other.Release()) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    ~TUniqueFd() { Reset(); }

    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    int Release() { return std::exchange(FFd, -1); }
    // Closes the descriptor held (if any) and takes `fd`.
    void Reset(int fd = -1);
    // Closes now and answers close's result (0, or -1 with errno set).
    int Close();

private:
    int FFd = -1;
};

// Reads from `fd` to its end and appends to `contents`. Answers 0, the Win32 code of a read error,
// or ERROR_FILE_TOO_LARGE once `contents` would pass maxSize.
std::uint32_t ReadToEnd(int fd, std::uint64_t maxSize, std::string& contents);

} // namespace brindlecove
