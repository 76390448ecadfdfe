// File functions. Handles are numbers (-1 on failure); the reason of the last
// failure of the calling thread is DosError(). Relative names resolve
// against the process's current folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "xpp/value.h"

namespace xpp {

// FOPEN modes: one access mode plus one share mode.
enum FileMode : int {
    FO_READ = 0,
    FO_WRITE = 1,
    FO_READWRITE = 2,
    FO_COMPAT = 0,      // as FO_DENYNONE
    FO_EXCLUSIVE = 16,  // others may neither read nor write
    FO_DENYWRITE = 32,  // others may not write
    FO_DENYREAD = 48,   // others may not read
    FO_DENYNONE = 64,   // FO_SHARED
    FO_SHARED = 64,
    FO_CREATE = 256,    // added to a mode: a missing file is created, an existing one kept whole
};
enum FileSeek : int { FS_SET = 0, FS_RELATIVE = 1, FS_END = 2 };

// DOSERROR() values the file functions set.
enum DosErrors : int {
    DOSERR_NONE = 0,
    DOSERR_FILE_NOT_FOUND = 2,
    DOSERR_PATH_NOT_FOUND = 3,
    DOSERR_TOO_MANY_OPEN = 4,
    DOSERR_ACCESS_DENIED = 5,
    DOSERR_INVALID_HANDLE = 6,
    DOSERR_SHARING_VIOLATION = 32,
    DOSERR_FILE_EXISTS = 80,
    DOSERR_GENERAL = 31,
};
int DosError();          // the calling thread's last file error
int DosError(int code);  // sets it, answers the old one

// FILE(name): true when a file (or, with wildcards * and ?, any file)
// matches.
bool File(std::string_view name);
// FEXISTS(name, attributes): attributes "-D" excludes folders, "-S" system
// files (none here), "D" asks for a folder.
bool FExists(std::string_view name, std::string_view attributes = "");
// FOPEN(name, mode): the share mode holds between the handles of this
// process, its threads and other processes, until FClose.
int64_t FOpen(std::string_view name, int mode = FO_READ | FO_COMPAT);
int64_t FCreate(std::string_view name, int attribute = 0);  // read-write, truncated
// FREAD(h, @buffer, n): reads up to n bytes into the buffer's first bytes
// (the buffer grows when shorter); answers the count read.
int64_t FRead(int64_t handle, const Ref& buffer, int64_t n);
std::string FReadStr(int64_t handle, int64_t n);
int64_t FWrite(int64_t handle, std::string_view data);
int64_t FWrite(int64_t handle, std::string_view data, int64_t n);
int64_t FSeek(int64_t handle, int64_t offset, int origin = FS_SET);  // answers the new position
int64_t FSize(int64_t handle);                                        // -1 on failure
int64_t FSize(std::string_view name);
bool FClose(int64_t handle);
int FErase(std::string_view name);  // 0, or -1 with DosError()
// DIRECTORY(name): one {name, size, date, time, attributes} per matching
// entry (wildcards * and ? in the last component). Attributes: "A" for a
// file, "D" for a folder (only when `attributes` holds "D"), "H" hidden.
Array Directory(std::string_view name, std::string_view attributes = "");
std::string CurDrive();  // "C": the system has one drive
// SHELLLINKRESOLVE(path): the target of a symbolic link (one level), made
// absolute against the link's folder; "" for anything else. Windows
// shortcut files are not read.
std::string ShellLinkResolve(std::string_view path);

}  // namespace xpp
