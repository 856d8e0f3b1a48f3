#pragma once
// The settings file on Linux: Windows profile-file rules on a POSIX file.
//
// Reading: lines end with CR LF, LF or CR. A line "[name]" (blanks around it ignored, text after
// the first ']' ignored) starts a section; "key=value" is a key, with blanks and tabs around the
// key and the value dropped; a line starting with ';' is a comment; other lines are ignored.
// Names match without regard to ASCII letter case, after the blanks around the asked-for names
// are dropped; the first matching section and the first matching key in it win. Keys before the
// first section header form the section with the empty name, as on Windows. A value loses one
// pair of surrounding quotes ("..." or '...'). A NUL byte is an ordinary byte of a line, but a
// value is answered as a C string: up to its first NUL. A UTF-8 byte-order mark is skipped.
// With the section left out (NULL) the answer is the list of section names, with the key left
// out the list of key names of the section, each NUL-terminated with one more NUL at the end; a
// list that does not fit is cut and ends with two NULs, and the count answered is size - 2.
//
// Writing: an existing key's value is replaced in place, keeping the key's spelling and every
// other byte of the file; a new key goes after the last non-blank line of its section; a new
// section goes at the end of the file. Inserted lines end like the file's first line (LF for a
// new file). A NULL value deletes the key and a NULL key deletes the section (Windows' rules):
// every line of the key in the section read, and every section of that name, so that no older
// copy reads back afterwards; deleting what is missing succeeds without touching the file. Names
// and values that would read back as something else are refused with ERROR_INVALID_PARAMETER: CR or
// LF anywhere, a section name with ']', a key that is empty or has '=' or starts with '[', ';' or
// a UTF-8 byte-order mark.
//
// Each write replaces the file whole: the new contents go to a new file in the same folder, which
// is flushed to the disk and renamed over the old one, so a failed write leaves the old file as
// it was. The new file takes the old one's permissions (and, where allowed, its owner); a file
// that is a symbolic link is written through to the file it names, and the link stays. Unlike
// Windows, the folder must be writable. A file that cannot be written (its own permissions, a
// read-only file system) fails with ERROR_ACCESS_DENIED as on Windows, as does anything that is
// not a regular file. Files larger than 64 MiB are not read: reads answer the default and writes
// fail with ERROR_FILE_TOO_LARGE.

#include "app/ProfilePort.h"

#include <string>

namespace brindlecove {

class TLinuxProfile final : public IProfilePort {
public:
    DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                                   DWORD size, LPCSTR fileName) override;
    BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                    LPCSTR fileName) override;
    DWORD LastError() const override { return FLastError; }

    // Removes what saves of `fileName` that never finished (the program was killed) left beside
    // it: the temporary files of this class's own naming, ".NAME." and eight letters or digits.
    static void RemoveUnfinishedSaves(const std::string& fileName);

private:
    BOOL Fail(DWORD code) {
        FLastError = code;
        return 0;
    }

    DWORD FLastError = 0;
};

} // namespace brindlecove
