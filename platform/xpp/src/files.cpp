// File functions with share modes that hold between threads and processes.
//
// A share mode is kept with open-file-description locks on bytes far
// beyond any data: a handle that reads holds a shared lock on byte A_R, one
// that writes on A_W, one that denies reading on D_R, one that denies
// writing on D_W. An open first checks that nobody else holds what it would
// conflict with (D_R when it reads, A_W when it denies writing, ...), under
// an exclusive lock on a gate byte so that two opens cannot pass each other
// (between threads and between processes alike). The locks live on a
// descriptor of their own, so that any access mode can take them, and go
// with FClose (or with the process).
#include <fcntl.h>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>

#include "internal.h"
#include "kivwin/win.h"
#include "xpp/files.h"
#include "xpp/functions.h"

namespace xpp {

namespace {

constexpr off_t kShareBase = static_cast<off_t>(0x7FFFFFFF00000000LL);

std::mutex g_lock;
std::map<int64_t, int> g_lockFds;  // handle -> descriptor holding its share locks

int DosCode(int err) {
    switch (err) {
        case 0: return DOSERR_NONE;
        case ENOENT: return DOSERR_FILE_NOT_FOUND;
        case ENOTDIR: return DOSERR_PATH_NOT_FOUND;
        case EMFILE:
        case ENFILE: return DOSERR_TOO_MANY_OPEN;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS: return DOSERR_ACCESS_DENIED;
        case EBADF: return DOSERR_INVALID_HANDLE;
        case EEXIST: return DOSERR_FILE_EXISTS;
        default: return DOSERR_GENERAL;
    }
}

void SetDos(int code) { detail::State().dosError = code; }

// A name in Windows form as a path of this system (kivwin::MapPath).
std::string Native(std::string_view name) { return name.empty() ? std::string() : kivwin::MapPath(name); }

enum ShareByte : off_t { kGate = 0, kAccessRead = 1, kAccessWrite = 2, kDenyRead = 3, kDenyWrite = 4 };

bool LockByte(int fd, off_t byte, short type, bool wait = false) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = kShareBase + byte;
    fl.l_len = 1;
    while (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) != 0) {
        if (!wait || errno != EINTR) return false;
    }
    return true;
}

// True when another open file description holds a lock on the byte.
bool HeldByOthers(int fd, off_t byte) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kShareBase + byte;
    fl.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

// Opens `name` with `flags` and takes the share locks of `mode`. Answers
// the handle or -1 (DosError set).
int64_t OpenShared(std::string_view name, int flags, int mode, bool truncate) {
    std::string path = Native(name);
    int fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetDos(DosCode(errno));
        return -1;
    }
    int access = mode & 3;
    int share = mode & 0x70;
    bool reads = access == FO_READ || access == FO_READWRITE;
    bool writes = access == FO_WRITE || access == FO_READWRITE;
    bool denyRead = share == FO_EXCLUSIVE || share == FO_DENYREAD;
    bool denyWrite = share == FO_EXCLUSIVE || share == FO_DENYWRITE;

    bool gated = true;
    int lockFd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (lockFd < 0) {
        // a file we may only read: no gate (it needs a write lock), the
        // checks below still hold but two opens may pass each other
        lockFd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        gated = false;
    }
    if (lockFd < 0) {
        SetDos(DosCode(errno));
        close(fd);
        return -1;
    }
    if (gated) LockByte(lockFd, kGate, F_WRLCK, true);
    bool conflict = (reads && HeldByOthers(lockFd, kDenyRead)) || (writes && HeldByOthers(lockFd, kDenyWrite)) ||
                    (denyRead && HeldByOthers(lockFd, kAccessRead)) ||
                    (denyWrite && HeldByOthers(lockFd, kAccessWrite));
    bool ok = !conflict;
    if (ok && reads) ok = LockByte(lockFd, kAccessRead, F_RDLCK);
    if (ok && writes) ok = LockByte(lockFd, kAccessWrite, F_RDLCK);
    if (ok && denyRead) ok = LockByte(lockFd, kDenyRead, F_RDLCK);
    if (ok && denyWrite) ok = LockByte(lockFd, kDenyWrite, F_RDLCK);
    if (gated) LockByte(lockFd, kGate, F_UNLCK);
    if (!ok) {
        close(lockFd);
        close(fd);
        SetDos(DOSERR_SHARING_VIOLATION);
        return -1;
    }
    if (truncate && ftruncate(fd, 0) != 0) {
        SetDos(DosCode(errno));
        close(lockFd);
        close(fd);
        return -1;
    }
    {
        std::lock_guard<std::mutex> g(g_lock);
        g_lockFds[fd] = lockFd;
    }
    SetDos(DOSERR_NONE);
    return fd;
}

bool KnownHandle(int64_t handle) {
    std::lock_guard<std::mutex> g(g_lock);
    if (g_lockFds.count(handle)) return true;
    SetDos(DOSERR_INVALID_HANDLE);
    return false;
}

bool HasWildcard(std::string_view s) { return s.find_first_of("*?") != std::string_view::npos; }

// The paths a name matches; wildcards in its last component match names
// without regard to case, as the rest of the name is found.
std::vector<std::string> Matches(std::string_view pattern) {
    std::vector<std::string> out;
    std::string p = Native(pattern);
    if (!HasWildcard(p)) {
        struct stat st;
        if (stat(p.c_str(), &st) == 0) out.push_back(p);
        return out;
    }
    size_t slash = p.find_last_of('/');
    std::string dir = slash == std::string::npos ? std::string() : p.substr(0, slash == 0 ? 1 : slash);
    std::string last = slash == std::string::npos ? p : p.substr(slash + 1);
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return out;
    while (dirent* e = readdir(d))
        if (fnmatch(last.c_str(), e->d_name, FNM_CASEFOLD | FNM_PERIOD) == 0)
            out.push_back(dir.empty() ? std::string(e->d_name) : (dir == "/" ? dir : dir + "/") + e->d_name);
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

bool Excludes(std::string_view attributes, char letter) {
    std::string up = Upper(attributes);
    for (size_t i = 1; i < up.size(); ++i)
        if (up[i] == letter && up[i - 1] == '-') return true;
    return false;
}

bool Includes(std::string_view attributes, char letter) {
    std::string up = Upper(attributes);
    for (size_t i = 0; i < up.size(); ++i)
        if (up[i] == letter && (i == 0 || up[i - 1] != '-')) return true;
    return false;
}

}  // namespace

int DosError() { return detail::State().dosError; }

int DosError(int code) {
    int old = detail::State().dosError;
    detail::State().dosError = code;
    return old;
}

bool File(std::string_view name) { return !Matches(name).empty(); }

bool FExists(std::string_view name, std::string_view attributes) {
    struct stat st;
    if (stat(Native(name).c_str(), &st) != 0) return false;
    bool folder = S_ISDIR(st.st_mode);
    if (folder && Excludes(attributes, 'D')) return false;
    return true;
}

int64_t FOpen(std::string_view name, int mode) {
    int access = mode & 3;
    int flags = access == FO_WRITE ? O_WRONLY : (access == FO_READWRITE ? O_RDWR : O_RDONLY);
    if (mode & FO_CREATE) flags |= O_CREAT;
    return OpenShared(name, flags, mode, false);
}

int64_t FCreate(std::string_view name, int) {
    return OpenShared(name, O_RDWR | O_CREAT, FO_READWRITE | FO_COMPAT, true);
}

int64_t FRead(int64_t handle, const Ref& buffer, int64_t n) {
    if (n <= 0 || !KnownHandle(handle)) return 0;
    std::string data(static_cast<size_t>(n), '\0');
    ssize_t got = read(static_cast<int>(handle), data.data(), data.size());
    if (got < 0) {
        SetDos(DosCode(errno));
        return 0;
    }
    std::string buf = buffer.Get().Str();
    if (buf.size() < static_cast<size_t>(got)) buf.resize(static_cast<size_t>(got), ' ');
    buf.replace(0, static_cast<size_t>(got), data, 0, static_cast<size_t>(got));
    buffer.Set(std::move(buf));
    SetDos(DOSERR_NONE);
    return got;
}

std::string FReadStr(int64_t handle, int64_t n) {
    if (n <= 0 || !KnownHandle(handle)) return "";
    std::string data(static_cast<size_t>(n), '\0');
    ssize_t got = read(static_cast<int>(handle), data.data(), data.size());
    if (got < 0) {
        SetDos(DosCode(errno));
        return "";
    }
    data.resize(static_cast<size_t>(got));
    size_t nul = data.find('\0');  // the text ends at the first NUL
    if (nul != std::string::npos) data.resize(nul);
    SetDos(DOSERR_NONE);
    return data;
}

int64_t FWrite(int64_t handle, std::string_view data) { return FWrite(handle, data, static_cast<int64_t>(data.size())); }

int64_t FWrite(int64_t handle, std::string_view data, int64_t n) {
    if (!KnownHandle(handle)) return 0;
    size_t want = n < 0 ? 0 : std::min(static_cast<size_t>(n), data.size());
    size_t done = 0;
    while (done < want) {
        ssize_t w = write(static_cast<int>(handle), data.data() + done, want - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            SetDos(DosCode(errno));
            return static_cast<int64_t>(done);
        }
        done += static_cast<size_t>(w);
    }
    SetDos(DOSERR_NONE);
    return static_cast<int64_t>(done);
}

int64_t FSeek(int64_t handle, int64_t offset, int origin) {
    if (!KnownHandle(handle)) return -1;
    int whence = origin == FS_END ? SEEK_END : (origin == FS_RELATIVE ? SEEK_CUR : SEEK_SET);
    off_t r = lseek(static_cast<int>(handle), offset, whence);
    if (r < 0) {
        SetDos(DosCode(errno));
        return -1;
    }
    SetDos(DOSERR_NONE);
    return r;
}

int64_t FSize(int64_t handle) {
    if (!KnownHandle(handle)) return -1;
    struct stat st;
    if (fstat(static_cast<int>(handle), &st) != 0) return -1;
    return st.st_size;
}

int64_t FSize(std::string_view name) {
    struct stat st;
    if (stat(Native(name).c_str(), &st) != 0) {
        SetDos(DosCode(errno));
        return -1;
    }
    return st.st_size;
}

bool FClose(int64_t handle) {
    int lockFd;
    {
        std::lock_guard<std::mutex> g(g_lock);
        auto it = g_lockFds.find(handle);
        if (it == g_lockFds.end()) {
            SetDos(DOSERR_INVALID_HANDLE);
            return false;
        }
        lockFd = it->second;
        g_lockFds.erase(it);
    }
    close(lockFd);
    bool ok = close(static_cast<int>(handle)) == 0;
    SetDos(ok ? DOSERR_NONE : DosCode(errno));
    return ok;
}

int FErase(std::string_view name) {
    if (unlink(Native(name).c_str()) != 0) {
        SetDos(DosCode(errno));
        return -1;
    }
    SetDos(DOSERR_NONE);
    return 0;
}

Array Directory(std::string_view name, std::string_view attributes) {
    Array out;
    bool folders = Includes(attributes, 'D');
    bool hidden = Includes(attributes, 'H');
    std::string pattern(name);
    if (pattern.empty()) pattern = "*";
    for (const std::string& path : Matches(pattern)) {
        struct stat st;
        if (stat(path.c_str(), &st) != 0) continue;
        bool isDir = S_ISDIR(st.st_mode);
        size_t slash = path.find_last_of('/');
        std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
        bool isHidden = !base.empty() && base[0] == '.';
        if ((isDir && !folders) || (isHidden && !hidden)) continue;
        tm local;
        localtime_r(&st.st_mtime, &local);
        char time[16];
        std::snprintf(time, sizeof time, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
        std::string attr = isDir ? "D" : "A";
        if (isHidden) attr += "H";
        out.Add(Array{base, static_cast<int64_t>(isDir ? 0 : st.st_size),
                      Date::FromYMD(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday), std::string(time),
                      attr});
    }
    return out;
}

std::string CurDrive() { return "C"; }

std::string ShellLinkResolve(std::string_view path) {
    std::string link(path);
    struct stat st;
    if (link.empty() || lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return "";
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    ssize_t n = readlink(link.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<size_t>(n) >= target.size()) return "";
    target.resize(static_cast<size_t>(n));
    if (target.front() == '/') return target;
    std::string folder;
    if (link.front() != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) return "";
        folder = cwd;
        folder += '/';
    }
    size_t slash = link.find_last_of('/');
    if (slash != std::string::npos) folder += link.substr(0, slash + 1);
    return folder + target;
}

}  // namespace xpp
