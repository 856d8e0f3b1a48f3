#include "common/linux/Win32Error.h"

#include "common/Win32Errors.h"

#include <cerrno>
#include <cstring>

namespace brindlecove {

namespace {

struct TErrnoMapping {
    int Errno;
    std::uint32_t Code;
};

constexpr TErrnoMapping ErrnoMappings[] = {
    {ENOENT, winerror::FileNotFound},     {ENOTDIR, winerror::PathNotFound},
    {EMFILE, winerror::TooManyOpenFiles}, {ENFILE, winerror::TooManyOpenFiles},
    {EACCES, winerror::AccessDenied},     {EPERM, winerror::AccessDenied},
    {EISDIR, winerror::AccessDenied},     {ENOMEM, winerror::NotEnoughMemory},
    {EIO, winerror::ReadFault},           {EBUSY, winerror::SharingViolation},
    {EINVAL, winerror::InvalidParameter}, {ENAMETOOLONG, winerror::FilenameExcedRange},
    {EFBIG, winerror::FileTooLarge},      {EROFS, winerror::AccessDenied},
    {ENOSPC, winerror::DiskFull},         {EDQUOT, winerror::DiskFull},
};

struct TCodeText {
    std::uint32_t Code;
    const char* Text;
};

// The wording of the English Windows message table.
constexpr TCodeText CodeTexts[] = {
    {winerror::Success, "The operation completed successfully."},
    {winerror::FileNotFound, "The system cannot find the file specified."},
    {winerror::PathNotFound, "The system cannot find the path specified."},
    {winerror::TooManyOpenFiles, "The system cannot open the file."},
    {winerror::AccessDenied, "Access is denied."},
    {winerror::NotEnoughMemory,
     "Not enough memory resources are available to process this command."},
    {winerror::ReadFault, "The system cannot read from the specified device."},
    {winerror::SharingViolation,
     "The process cannot access the file because it is being used by another process."},
    {winerror::InvalidParameter, "The parameter is incorrect."},
    {winerror::DiskFull, "There is not enough space on the disk."},
    {winerror::FilenameExcedRange, "The filename or extension is too long."},
    {winerror::FileTooLarge, "The file size exceeds the limit allowed and cannot be saved."},
    {winerror::NotSupported, "The request is not supported."},
    {winerror::BufferOverflow, "The file name is too long."},
    {winerror::InsufficientBuffer, "The data area passed to a system call is too small."},
    {winerror::NoData, "The pipe is being closed."},
    {winerror::CanNotComplete, "Cannot complete this function."},
    {winerror::NotFound, "Element not found."},
    {winerror::ObjectAlreadyExists, "The object already exists."},
    {winerror::InvalidHandle, "The handle is invalid."},
};

} // namespace

std::uint32_t Win32ErrorFromErrno(int err) {
    for (const auto& mapping : ErrnoMappings) {
        if (mapping.Errno == err) {
            return mapping.Code;
        }
    }
    return ErrnoCodeBit | (static_cast<std::uint32_t>(err) & 0xFFFFu);
}

std::string Win32ErrorText(std::uint32_t code) {
    if ((code & ErrnoCodeBit) != 0 && (code & ~(ErrnoCodeBit | 0xFFFFu)) == 0) {
        const int err = static_cast<int>(code & 0xFFFFu);
        char buffer[256] = {};
        // GNU strerror_r answers a pointer that may or may not be the buffer.
        const char* text = strerror_r(err, buffer, sizeof buffer);
        return std::string(text) + ".";
    }
    for (const auto& entry : CodeTexts) {
        if (entry.Code == code) {
            return entry.Text;
        }
    }
    return {};
}

} // namespace brindlecove
