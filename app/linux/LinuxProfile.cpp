#include "app/linux/LinuxProfile.h"

#include "app/linux/ProfileText.h"
#include "common/Win32Errors.h"
#include "common/linux/UniqueFd.h"
#include "common/linux/Win32Error.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace brindlecove {

namespace {

using profiletext::IsBlank;
using profiletext::Trim;

// Settings files are small; a larger file is not a settings file and is not read into memory.
constexpr std::size_t MaxProfileSize = std::size_t{64} << 20;

// How many symbolic links may lead to the settings file (the kernel's own limit).
constexpr int MaxLinkDepth = 40;

// A string as C code sees it: up to its first NUL.
std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// Copies at most size - 1 characters and a NUL; answers the count copied (size > 0).
DWORD CopyString(std::string_view text, LPSTR buffer, DWORD size) {
    text = UpToNul(text);
    const std::size_t count = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<DWORD>(count);
}

// A list of names in the caller's buffer: each ends with a NUL and one more NUL ends the list. A
// name that does not fit, with room left for the final NUL, is cut and ends the list with two
// NULs; the count is then size - 2, as Windows answers.
class TNameList {
public:
    TNameList(LPSTR buffer, DWORD size) : FBuffer(buffer), FSize(size) {}

    // Adds a name (empty names are left out); false once the list is full.
    bool Add(std::string_view name) {
        name = UpToNul(name);
        if (name.empty()) {
            return true;
        }
        if (FUsed + name.size() + 2 < FSize) {
            std::memcpy(FBuffer + FUsed, name.data(), name.size());
            FUsed += name.size();
            FBuffer[FUsed++] = '\0';
            return true;
        }
        if (FSize >= 2) {
            std::memcpy(FBuffer + FUsed, name.data(), FSize - 2 - FUsed);
            FBuffer[FSize - 2] = '\0';
            FBuffer[FSize - 1] = '\0';
        } else {
            FBuffer[0] = '\0';
        }
        FFull = true;
        return false;
    }

    bool Empty() const { return FUsed == 0 && !FFull; }

    // Ends the list; answers the count of characters before its final NUL.
    DWORD Finish() {
        if (FFull) {
            return FSize >= 2 ? FSize - 2 : 0;
        }
        FBuffer[FUsed] = '\0';
        return static_cast<DWORD>(FUsed);
    }

private:
    LPSTR FBuffer;
    DWORD FSize;
    std::size_t FUsed = 0;
    bool FFull = false;
};

// ------------------------------------------------------------------------------------------------
// The file.

// A failure's Win32 code from errno: a missing part of the path is a path not found.
DWORD WriteErrorFromErrno(int err) {
    return err == ENOENT ? winerror::PathNotFound : Win32ErrorFromErrno(err);
}

struct TFileState {
    bool Exists = false;
    struct stat Info {};
    std::string Text;
};

// Reads the whole file; a missing file is no error. With forWriting, the file must also be one
// the caller may write, as Windows asks of a profile it updates.
DWORD LoadFile(const std::string& path, bool forWriting, TFileState& file) {
    const int access = forWriting ? O_RDWR : O_RDONLY;
    // O_NONBLOCK: a named pipe in place of the file must not hang the program.
    const TUniqueFd fd(::open(path.c_str(), access | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.Get() < 0) {
        return errno == ENOENT ? winerror::Success : Win32ErrorFromErrno(errno);
    }
    if (::fstat(fd.Get(), &file.Info) != 0) {
        return Win32ErrorFromErrno(errno);
    }
    if (!S_ISREG(file.Info.st_mode)) {
        return winerror::AccessDenied;
    }
    if (file.Info.st_size < 0 || static_cast<std::uint64_t>(file.Info.st_size) > MaxProfileSize) {
        return winerror::FileTooLarge;
    }
    file.Text.reserve(static_cast<std::size_t>(file.Info.st_size));
    // The file may grow while it is read: the limit holds for what is read, too.
    if (const std::uint32_t error = ReadToEnd(fd.Get(), MaxProfileSize, file.Text); error != 0) {
        return error;
    }
    file.Exists = true;
    return winerror::Success;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that path names once symbolic links are followed, so that writing replaces the file a
// link points to and leaves the link. A dangling link names the file to create.
DWORD ResolveLinks(const std::string& path, std::string& resolved) {
    resolved = path;
    for (int depth = 0;; ++depth) {
        struct stat info {};
        if (::lstat(resolved.c_str(), &info) != 0) {
            return errno == ENOENT ? winerror::Success : WriteErrorFromErrno(errno);
        }
        if (!S_ISLNK(info.st_mode)) {
            return winerror::Success;
        }
        if (depth == MaxLinkDepth) {
            return Win32ErrorFromErrno(ELOOP);
        }
        std::string target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1,
                           '\0');
        const ssize_t length = ::readlink(resolved.c_str(), target.data(), target.size());
        if (length < 0) {
            return WriteErrorFromErrno(errno);
        }
        if (static_cast<std::size_t>(length) >= target.size()) {
            return Win32ErrorFromErrno(ELOOP); // the link changed while it was read: give up
        }
        target.resize(static_cast<std::size_t>(length));
        resolved = target.front() == '/' ? target : FolderOf(resolved) + "/" + target;
    }
}

// The name of a temporary file for the file at `path`, named NAME: "." NAME "." and eight letters
// or digits.
constexpr std::size_t TempSuffixLength = 8;
std::string TempPrefix(const std::string& path) {
    return "." + path.substr(path.rfind('/') + 1, 200) + ".";
}

// A new file beside the settings file, removed unless it is renamed into place.
class TTempFile {
public:
    TTempFile() = default;
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    ~TTempFile() {
        FFd.reset();
        if (!FPath.empty()) {
            ::unlink(FPath.c_str());
        }
    }

    // Creates a file of a unique name beside the file at `target` it will replace, named after it
    // (mode 0666 less the umask, as a new settings file would get).
    DWORD Create(const std::string& target) {
        std::random_device random;
        static constexpr char Letters[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string path = FolderOf(target) + "/" + TempPrefix(target);
            for (std::size_t i = 0; i < TempSuffixLength; ++i) {
                path += Letters[random() % (sizeof Letters - 1)];
            }
            const int fd =
                ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd >= 0) {
                FFd.emplace(fd);
                FPath = std::move(path);
                return winerror::Success;
            }
            if (errno != EEXIST) {
                return WriteErrorFromErrno(errno);
            }
        }
        return Win32ErrorFromErrno(EEXIST);
    }

    int Fd() const { return FFd->Get(); }

    DWORD WriteAll(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t put = ::write(Fd(), bytes.data(), bytes.size());
            if (put < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return Win32ErrorFromErrno(errno);
            }
            bytes.remove_prefix(static_cast<std::size_t>(put));
        }
        return winerror::Success;
    }

    // Flushes the file to the disk, closes it and renames it to target.
    DWORD Commit(const std::string& target) {
        if (::fsync(Fd()) != 0) {
            return Win32ErrorFromErrno(errno);
        }
        if (FFd->Close() != 0) {
            return Win32ErrorFromErrno(errno);
        }
        if (::rename(FPath.c_str(), target.c_str()) != 0) {
            return WriteErrorFromErrno(errno);
        }
        FPath.clear();
        return winerror::Success;
    }

private:
    std::optional<TUniqueFd> FFd;
    std::string FPath;
};

// Replaces the file at path with text in one step; the old file, if any, gives its permissions.
DWORD ReplaceFile(const std::string& path, const TFileState& old, std::string_view text) {
    const std::string folder = FolderOf(path);
    TTempFile temp;
    if (const DWORD error = temp.Create(path)) {
        return error;
    }
    if (old.Exists) {
        struct stat info {};
        if (::fstat(temp.Fd(), &info) == 0 &&
            (info.st_uid != old.Info.st_uid || info.st_gid != old.Info.st_gid)) {
            // Only root may give a file away; for anyone else the new file stays theirs.
            [[maybe_unused]] const int ignored =
                ::fchown(temp.Fd(), old.Info.st_uid, old.Info.st_gid);
        }
        if (::fchmod(temp.Fd(), old.Info.st_mode & 07777) != 0) {
            return Win32ErrorFromErrno(errno);
        }
    }
    if (const DWORD error = temp.WriteAll(text)) {
        return error;
    }
    if (const DWORD error = temp.Commit(path)) {
        return error;
    }
    // The rename is done; making it durable at once is worth a try but cannot undo it.
    const TUniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) {
        ::fsync(dir.Get());
    }
    return winerror::Success;
}

} // namespace

DWORD TLinuxProfile::GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                              LPSTR buffer, DWORD size, LPCSTR fileName) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    std::string_view fallback = defaultValue != nullptr ? defaultValue : "";
    while (!fallback.empty() && fallback.back() == ' ') {
        fallback.remove_suffix(1);
    }
    try {
        TFileState file;
        // An unreadable file reads as a missing one: the program gets its defaults.
        if (fileName == nullptr || LoadFile(fileName, false, file) != winerror::Success) {
            file.Text.clear();
        }
        const std::string_view text = file.Text;

        TNameList names(buffer, size);
        const auto add = [&](std::string_view name) { return names.Add(name); };
        if (section == nullptr) {
            profiletext::ForEachSectionName(text, add);
            return names.Finish();
        }
        if (key == nullptr) {
            profiletext::ForEachKeyName(text, Trim(section), add);
            // A section without keys (or none at all) answers the default, as on Windows.
            return names.Empty() ? CopyString(fallback, buffer, size) : names.Finish();
        }
        const auto value = profiletext::FindValue(text, Trim(section), Trim(key));
        return CopyString(value.value_or(fallback), buffer, size);
    } catch (const std::exception&) {
        // Out of memory: the default, like any file that cannot be read.
        return CopyString(fallback, buffer, size);
    }
}

BOOL TLinuxProfile::WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                               LPCSTR fileName) {
    // Windows flushes its cache of profiles for a NULL section; there is none here to flush.
    if (fileName == nullptr || section == nullptr) {
        return Fail(winerror::InvalidParameter);
    }
    const std::string_view sectionName = Trim(section);
    const std::string_view keyName = key != nullptr ? Trim(key) : std::string_view();
    std::optional<std::string_view> newValue;
    if (key != nullptr && value != nullptr) {
        newValue = value;
        while (!newValue->empty() && IsBlank(newValue->front())) {
            newValue->remove_prefix(1);
        }
    }
    if (!profiletext::WritableNames(sectionName, keyName, key == nullptr, newValue)) {
        return Fail(winerror::InvalidParameter);
    }
    try {
        std::string path;
        if (const DWORD error = ResolveLinks(fileName, path)) {
            return Fail(error);
        }
        TFileState file;
        if (const DWORD error = LoadFile(path, true, file)) {
            return Fail(error);
        }
        if (!file.Exists && !newValue) {
            return 1; // nothing to delete, and no file to create for it
        }
        std::string text;
        if (key == nullptr) {
            text = profiletext::DeleteSection(file.Text, sectionName);
        } else if (!newValue) {
            text = profiletext::DeleteKey(file.Text, sectionName, keyName);
        } else {
            text = profiletext::SetValue(file.Text, sectionName, keyName, *newValue);
        }
        if (file.Exists && text == file.Text) {
            return 1;
        }
        if (const DWORD error = ReplaceFile(path, file, text)) {
            return Fail(error);
        }
        return 1;
    } catch (const std::exception&) {
        return Fail(winerror::NotEnoughMemory);
    }
}

void TLinuxProfile::RemoveUnfinishedSaves(const std::string& fileName) {
    const std::string folder = FolderOf(fileName);
    const std::string prefix = TempPrefix(fileName);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        const bool ours =
            name.size() == prefix.size() + TempSuffixLength && name.starts_with(prefix) &&
            std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                        [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
        if (ours && entry.is_regular_file(error) && !entry.is_symlink(error)) {
            std::filesystem::remove(entry.path(), error);
        }
    }
}

} // namespace brindlecove
