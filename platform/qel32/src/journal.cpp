#include "journal.h"

#include "kivwin/win.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "errors.h"
#include "paths.h"
#include "storage.h"

namespace qel32 {

namespace {

constexpr char kJournalMagic[8] = {'K', 'I', 'V', 'J', 'R', 'N', 'L', '1'};
constexpr char kMarkMagic[8] = {'K', 'I', 'V', 'T', 'X', 'M', 'K', '1'};
constexpr const char* kJournalInfix = "-kivjournal-";
constexpr const char* kMarkInfix = "-kivtx-";
constexpr const char* kDraftInfix = "-kivdraft-";

std::atomic<uint32_t> gSerial{0};

std::string SysText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

void PutLE32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
uint32_t LE32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void SyncData(int fd, const std::string& path) {
    if (::fdatasync(fd) != 0) Throw(KIV_ERR_IO, SysText("Cannot write", path));
}

// Brings the names of the folder holding path to the disk.
void SyncFolder(const std::string& path) {
    const std::string dir = DirectoryPart(path);
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) Throw(KIV_ERR_IO, SysText("Cannot open the folder of", path));
    const int rc = ::fsync(fd);
    ::close(fd);
    if (rc != 0) Throw(KIV_ERR_IO, SysText("Cannot write the folder of", path));
}

// The whole file (at most what a journal can hold sensibly).
bool ReadWhole(int fd, std::string& out) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    out.assign(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t r = ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += static_cast<size_t>(r);
    }
    out.resize(done);
    return true;
}

// The owner's lock on a whole file: held for the life of the file.
bool LockWhole(int fd) {
    struct flock fl{};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    for (;;) {
        if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
        if (errno != EINTR) return false;
    }
}

// The path from the root: journals and marks name each other so, since the
// process that recovers them may work in another folder.
std::string Absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) Throw(KIV_ERR_IO, SysText("Cannot find the folder of", path));
    return std::string(cwd) + "/" + path;
}

// Makes a new file "<base><infix><pid>-<serial>", locked; fills path. The
// file is made and locked under a draft name first and only then linked
// under its own: another process looking for a dead one's files never finds
// it unlocked, between its creation and its lock, and takes it away.
int CreateLocked(const std::string& table, const char* infix, std::string& path) {
    const std::string base = Absolute(table);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string number = std::to_string(::getpid()) + "-" + std::to_string(gSerial.fetch_add(1));
        path = base + infix + number;
        const std::string draft = base + kDraftInfix + number;
        const int fd = ::open(draft.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;  // left by a dead process of the same number
            Throw(KIV_ERR_IO, SysText("Cannot create", draft));
        }
        if (!LockWhole(fd)) {
            ::close(fd);
            ::unlink(draft.c_str());
            Throw(KIV_ERR_IO, SysText("Cannot lock", draft));
        }
        // renamed, not linked: the open file keeps the name it now has
        int renamed = ::renameat2(AT_FDCWD, draft.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
        if (renamed != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // a file system without the no-replace rename
            renamed = FileExists(path) ? (errno = EEXIST, -1) : ::rename(draft.c_str(), path.c_str());
        }
        if (renamed != 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(draft.c_str());
            if (error == EEXIST) continue;  // left by a dead process of the same number
            errno = error;
            Throw(KIV_ERR_IO, SysText("Cannot create", path));
        }
        return fd;
    }
    Throw(KIV_ERR_IO, "Cannot create a journal beside " + base);
}

// The journals a commit mark lists.
std::vector<std::string> ListedJournals(const std::string& mark) {
    std::vector<std::string> out;
    const int fd = ::open(mark.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    std::string data;
    ReadWhole(fd, data);
    ::close(fd);
    if (data.size() < 8 || std::memcmp(data.data(), kMarkMagic, 8) != 0) return out;
    for (size_t at = 8; at + 4 <= data.size();) {
        const uint32_t n = LE32(reinterpret_cast<const uint8_t*>(&data[at]));
        if (at + 4 + n > data.size()) break;
        out.emplace_back(data, at + 4, n);
        at += 4 + n;
    }
    return out;
}

// A commit mark is removed once no journal it lists is left.
void RemoveMarkIfDone(const std::string& mark) {
    for (const std::string& journal : ListedJournals(mark))
        if (FileExists(journal)) return;
    ::unlink(mark.c_str());
}

// Opens a file left by another process; -1 unless its owner is gone (the
// file unlocked and still under its name).
int OpenAbandoned(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (!LockWhole(fd) || ::fstat(fd, &st) != 0 || st.st_nlink == 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void RecoverJournal(TableFile& file, const std::string& path) {
    const int fd = OpenAbandoned(path);
    if (fd < 0) return;
    std::string data;
    const bool read = ReadWhole(fd, data);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data());
    if (!read || data.size() < 16 || std::memcmp(p, kJournalMagic, 8) != 0 || LE32(p + 8) != file.recordLength()) {
        ::close(fd);
        // Its maker died before the header was whole: no mark lists it, nothing was changed.
        if (read && data.size() < 16) ::unlink(path.c_str());
        return;
    }
    const uint32_t markLength = LE32(p + 12);
    if (16 + static_cast<size_t>(markLength) > data.size()) {
        ::close(fd);
        ::unlink(path.c_str());
        return;
    }
    const std::string mark(data, 16, markLength);
    if (FileExists(mark)) {
        // Not committed: undo, newest change first. A note cut short was
        // written before its change, so that change never happened.
        struct Note {
            uint8_t kind;
            uint32_t recno;
            size_t image;
        };
        std::vector<Note> notes;
        const size_t len = file.recordLength();
        for (size_t at = 16 + markLength; at + 5 <= data.size();) {
            const Note note{p[at], LE32(p + at + 1), at + 5};
            const size_t size = note.kind == 'B' ? 5 + len : 5;
            if (at + size > data.size() || (note.kind != 'B' && note.kind != 'A')) break;
            notes.push_back(note);
            at += size;
        }
        for (auto it = notes.rbegin(); it != notes.rend(); ++it) {
            if (it->kind == 'A') file.RemoveAppended(it->recno);
            else if (it->recno <= file.Count(true)) file.WriteStored(it->recno, p + it->image);
        }
    }
    ::unlink(path.c_str());
    ::close(fd);
    if (FileExists(mark)) RemoveMarkIfDone(mark);
}

}  // namespace

Journal::~Journal() {
    try {
        Finish(true);
    } catch (...) {
        // nothing to report from here; files left behind are cleared at the next open
        Abandon();
    }
}

Journal::Part& Journal::PartFor(const std::shared_ptr<TableFile>& file) {
    for (auto& part : parts_)
        if (part.file == file) return part;
    if (markFd_ < 0) {
        markFd_ = CreateLocked(file->path(), kMarkInfix, markPath_);
        WriteAt(markFd_, kMarkMagic, 8, 0, markPath_);
        markLength_ = 8;
    }
    Part part;
    part.file = file;
    part.fd = CreateLocked(file->path(), kJournalInfix, part.path);
    try {
        // The journal names the mark before the mark lists it, and notes
        // come after both: a journal the mark does not list holds no note,
        // and a journal it lists always names it.
        std::vector<uint8_t> head(16 + markPath_.size());
        std::memcpy(head.data(), kJournalMagic, 8);
        PutLE32(head.data() + 8, file->recordLength());
        PutLE32(head.data() + 12, static_cast<uint32_t>(markPath_.size()));
        std::memcpy(head.data() + 16, markPath_.data(), markPath_.size());
        WriteAt(part.fd, head.data(), head.size(), 0, part.path);
        part.length = static_cast<off_t>(head.size());
        std::vector<uint8_t> entry(4 + part.path.size());
        PutLE32(entry.data(), static_cast<uint32_t>(part.path.size()));
        std::memcpy(entry.data() + 4, part.path.data(), part.path.size());
        WriteAt(markFd_, entry.data(), entry.size(), markLength_, markPath_);
        markLength_ += static_cast<off_t>(entry.size());
    } catch (...) {
        ::unlink(part.path.c_str());
        ::close(part.fd);
        throw;
    }
    parts_.push_back(std::move(part));
    return parts_.back();
}

off_t Journal::Note(const std::shared_ptr<TableFile>& file, uint32_t recno, bool appended) {
    Part& part = PartFor(file);
    const uint32_t len = file->recordLength();
    std::vector<uint8_t> note(appended ? 5 : 5 + len);
    note[0] = appended ? 'A' : 'B';
    PutLE32(&note[1], recno);
    if (!appended && !file->ReadStored(recno, &note[5]))
        Throw(KIV_ERR_IO, "Record " + std::to_string(recno) + " cannot be read for the transaction journal");
    const off_t before = part.length;
    WriteAt(part.fd, note.data(), note.size(), part.length, part.path);
    part.length += static_cast<off_t>(note.size());
    SyncPart(part);
    return before;
}

void Journal::SyncPart(Part& part) {
    if (!part.durable) {
        // The mark lists the journals a recovery looks for, and both names
        // must be found after a crash.
        SyncData(markFd_, markPath_);
        if (DirectoryPart(markPath_) != DirectoryPart(part.path)) SyncFolder(markPath_);
        SyncFolder(part.path);
        part.durable = true;
    }
    SyncData(part.fd, part.path);
    // Other processes learn that a transaction may be under way before
    // anything the journal protects is written.
    part.file->NoteTransaction();
}

void Journal::NoteAppends(const TableFile& file, uint32_t first, uint32_t last) {
    for (auto& part : parts_) {
        if (part.file.get() != &file) continue;
        std::vector<uint8_t> notes(static_cast<size_t>(last - first + 1) * 5);
        for (uint32_t recno = first; recno <= last; ++recno) {
            uint8_t* note = &notes[static_cast<size_t>(recno - first) * 5];
            note[0] = 'A';
            PutLE32(note + 1, recno);
        }
        WriteAt(part.fd, notes.data(), notes.size(), part.length, part.path);
        part.length += static_cast<off_t>(notes.size());
        SyncPart(part);
        return;
    }
    Throw(KIV_ERR_IO, "The transaction journal of " + file.path() + " is missing");
}

void Journal::EndHolding(bool keep) {
    // One table at a time: a table whose records cannot be written stays held.
    while (!holding_.empty()) {
        holding_.back()->EndHolding(this, keep);
        holding_.pop_back();
    }
}

void Journal::CutBack(const TableFile& file, off_t length) {
    for (auto& part : parts_) {
        if (part.file.get() != &file || length >= part.length) continue;
        if (::ftruncate(part.fd, length) != 0) Throw(KIV_ERR_IO, SysText("Cannot write", part.path));
        part.length = length;
    }
}

void Journal::Commit() { Finish(true); }

void Journal::Discard() { Finish(false); }

void Journal::Abandon() {
    try {
        EndHolding(false);
    } catch (...) {
        holding_.clear();
    }
    for (auto& part : parts_) ::close(part.fd);
    parts_.clear();
    if (markFd_ >= 0) ::close(markFd_);
    markFd_ = -1;
}

void Journal::Finish(bool markFirst) {
    // Held records reach the file (their notes first) before the commit;
    // after an undo none is left but those the undo could not reach.
    EndHolding(markFirst);
    if (markFd_ < 0) return;
    // What the journals protect reaches the disk before they lose their
    // force: the commit's writes before the mark goes, an undo before the
    // journals go.
    for (auto& part : parts_) part.file->Sync();
    if (markFirst) {
        if (::unlink(markPath_.c_str()) != 0 && errno != ENOENT) Throw(KIV_ERR_IO, SysText("Cannot remove", markPath_));
        SyncFolder(markPath_);  // the commit point
    }
    // Each file is removed while still locked, so nobody takes it for abandoned.
    for (auto& part : parts_) {
        ::unlink(part.path.c_str());
        ::close(part.fd);
    }
    std::vector<Part> ended;
    ended.swap(parts_);
    if (!markFirst) ::unlink(markPath_.c_str());
    ::close(markFd_);
    markFd_ = -1;
    for (auto& part : ended) part.file->EndTransactionNote();
}

namespace {

// The journals and commit marks beside a table.
// fresh: read the folder now, not the open's snapshot of it.
void ListBeside(const TableFile& file, bool fresh, std::vector<std::string>& journals, std::vector<std::string>& marks) {
    const std::string dir = DirectoryPart(file.path());
    const std::string name = FilePart(file.path());
    for (const std::string& entry : fresh ? kivwin::ReadFolder(dir) : kivwin::FolderEntries(dir)) {
        if (entry.compare(0, name.size(), name) != 0) continue;
        const std::string rest = entry.substr(name.size());
        const std::string path = dir.empty() ? entry : dir + "/" + entry;
        if (rest.rfind(kJournalInfix, 0) == 0) journals.push_back(path);
        else if (rest.rfind(kMarkInfix, 0) == 0) marks.push_back(path);
        else if (rest.rfind(kDraftInfix, 0) == 0) marks.push_back(path);
    }
}

// A draft of a journal or mark whose process died before it took its name:
// "<table>-kivdraft-<pid>-<serial>". Only a dead process's draft is taken
// away (a live one may be between making its draft and locking it).
bool DeadDraft(const std::string& path) {
    const size_t at = path.rfind(kDraftInfix);
    if (at == std::string::npos) return false;
    const long pid = std::strtol(path.c_str() + at + std::strlen(kDraftInfix), nullptr, 10);
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace

bool JournalsBeside(const TableFile& file) {
    std::vector<std::string> journals, marks;
    ListBeside(file, true, journals, marks);
    return !journals.empty();
}

void RecoverJournals(TableFile& file, bool atOpen) {
    std::vector<std::string> journals, marks;
    ListBeside(file, !atOpen, journals, marks);
    for (const std::string& journal : journals) RecoverJournal(file, journal);
    // Marks whose owner died after its journals went, and drafts of dead processes.
    for (const std::string& mark : marks) {
        if (mark.find(kDraftInfix) != std::string::npos) {
            if (DeadDraft(mark)) ::unlink(mark.c_str());
            continue;
        }
        const int fd = OpenAbandoned(mark);
        if (fd < 0) continue;
        RemoveMarkIfDone(mark);
        ::close(fd);
    }
}

}  // namespace qel32
