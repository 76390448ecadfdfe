#include "storage.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>

#include "codepages.h"
#include "errors.h"
#include "journal.h"
#include "paths.h"
#include "kivwin/win.h"

namespace qel32 {

namespace {

constexpr off_t kLockBase = off_t(1) << 40;
constexpr off_t kOpenByte = kLockBase - 1;
constexpr off_t kHeaderByte = kLockBase - 2;
constexpr off_t kAppendByte = kLockBase - 3;
constexpr off_t kRecoveryByte = kLockBase - 4;
constexpr off_t kTableRange = off_t(1) << 33;

constexpr uint8_t kKdtMagic[4] = {'K', 'D', 'T', 1};
constexpr uint32_t kKdtDescriptor = 144;
constexpr uint32_t kDbfDescriptor = 32;
constexpr uint32_t kMemoHeader = 512;
// The change counter: in DBF headers four of the bytes kept for multi-user
// use (other tools leave them alone); in ours the spare end of the first
// field descriptor.
constexpr off_t kDbfCounter = 20;
constexpr off_t kKdtCounter = 32 + 140;
// The declared length of a varchar field (its data lives in the memo file,
// the record holds a block number): in bytes that the DBF field descriptor
// keeps reserved, which other tools leave alone.
constexpr uint32_t kDbfDeclaredLength = 24;
// And the engine's own letter of a field written with a memo letter other
// readers know ('V' varchar as 'M', 'W' binary as 'P'), in another of them.
constexpr uint32_t kDbfEngineLetter = 28;
// The field flags of Visual FoxPro descriptors, which other readers take
// from any version: 0x04 marks a binary value.
constexpr uint32_t kDbfFieldFlags = 18;
constexpr uint8_t kDbfBinaryFlag = 0x04;
constexpr uint32_t kVfpBacklink = 263;

std::recursive_mutex gRegistryMutex;
std::map<std::pair<dev_t, ino_t>, std::weak_ptr<TableFile>> gRegistry;
// Set when the registry above is destroyed (the program's end, or the
// library's unloading): a table still open then closes without it. Plain
// data, so it can still be read after the registry is gone.
bool gRegistryGone = false;
struct RegistryEnd {
    ~RegistryEnd() { gRegistryGone = true; }
} gRegistryEnd;

uint32_t LE32(const uint8_t* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }
uint16_t LE16(const uint8_t* p) { uint16_t v; std::memcpy(&v, p, 2); return v; }
void PutLE32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
void PutLE16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
uint32_t BE32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
void PutBE32(uint8_t* p, uint32_t v) { p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v); }
uint16_t BE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
void PutBE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }

std::string SysText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

void StampDate(uint8_t* p) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    p[0] = static_cast<uint8_t>(tm.tm_year % 100 + (tm.tm_year >= 100 ? 100 : 0));
    p[1] = static_cast<uint8_t>(tm.tm_mon + 1);
    p[2] = static_cast<uint8_t>(tm.tm_mday);
}

bool IsDbfVersion(uint8_t version) {
    return version == 0x03 || version == 0x83 || version == 0x8B || version == 0xF5 || version == 0x30 || version == 0x31 ||
           version == 0x04 || version == 0x8E || version == 0x7B || version == 0x43 || version == 0xB3;
}

// Another table of the folder that shares a memo file name with tablePath
// (a file of the same stem, not a memo or index file, that starts like a
// table); empty when there is none.
std::string MemoOwner(const std::string& tablePath) {
    const std::string dir = DirectoryPart(tablePath);
    const std::string own = FilePart(tablePath);
    const std::string stem = StripExtension(own);
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return "";
    std::string owner;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == own || !EqualsNoCase(StripExtension(name), stem)) continue;
        const std::string ext = Upper(Extension(name));
        if (ext == ".DBT" || ext == ".FPT" || ext == ".KDM" || ext == ".CDX" || ext == ".NTX" || ext == ".KDI" ||
            ext == ".KIVNEW")
            continue;
        const std::string path = dir.empty() ? name : (dir == "/" ? "/" : dir + "/") + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        uint8_t head[4] = {};
        const bool table = ::pread(fd, head, 4, 0) == 4 && (std::memcmp(head, kKdtMagic, 4) == 0 || IsDbfVersion(head[0]));
        ::close(fd);
        if (table) {
            owner = path;
            break;
        }
    }
    ::closedir(d);
    return owner;
}

}  // namespace

// Keeps the header-byte lock for the life of the guard, so that appends and
// blob allocations of several processes do not interleave. Guards nest: the
// lock goes with the outermost one of the process.
class TableFile::HeaderGuard {
public:
    HeaderGuard(TableFile& file, bool active) : file_(file), active_(active) {
        if (!active_) return;
        std::lock_guard lock(file_.headerMutex_);
        if (file_.headerDepth_++ == 0) Set(F_WRLCK);
    }
    ~HeaderGuard() {
        if (!active_) return;
        std::lock_guard lock(file_.headerMutex_);
        if (--file_.headerDepth_ == 0) Set(F_UNLCK);
    }
    HeaderGuard(const HeaderGuard&) = delete;
    HeaderGuard& operator=(const HeaderGuard&) = delete;

private:
    void Set(short type) {
        struct flock fl{};
        fl.l_type = type;
        fl.l_whence = SEEK_SET;
        fl.l_start = kHeaderByte;
        fl.l_len = 1;
        while (::fcntl(file_.fd_, F_OFD_SETLKW, &fl) != 0 && errno == EINTR) {
        }
    }
    TableFile& file_;
    bool active_;
};

void WriteAt(int fd, const void* data, size_t n, off_t at, const std::string& path) {
    const char* p = static_cast<const char*>(data);
    while (n) {
        const ssize_t w = ::pwrite(fd, p, n, at);
        if (w < 0) {
            if (errno == EINTR) continue;
            Throw(KIV_ERR_IO, SysText("Cannot write", path));
        }
        p += w;
        n -= static_cast<size_t>(w);
        at += w;
    }
}

void TableFile::WriteAll(int fd, const void* data, size_t n, off_t at) { WriteAt(fd, data, n, at, NameOf(fd)); }

void TableFile::ReadAll(int fd, void* data, size_t n, off_t at) {
    char* p = static_cast<char*>(data);
    while (n) {
        const ssize_t r = ::pread(fd, p, n, at);
        if (r < 0) {
            if (errno == EINTR) continue;
            Throw(KIV_ERR_IO, SysText("Cannot read", NameOf(fd)));
        }
        if (r == 0) Throw(KIV_ERR_CORRUPT_FILE, "Unexpected end of file in " + NameOf(fd));
        p += r;
        n -= static_cast<size_t>(r);
        at += r;
    }
}

bool TableFile::RangeLock(off_t start, off_t len, short type, bool wait) {
    struct flock fl{};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = len;
    for (;;) {
        if (::fcntl(fd_, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return true;
        if (errno == EINTR) continue;
        return false;
    }
}

void TableFile::TakeOpenLock() {
    // Every process that has the file open holds a read lock on the open byte;
    // an exclusive open needs the write lock, which no other process can then get.
    if (!RangeLock(kOpenByte, 1, exclusive_ ? F_WRLCK : F_RDLCK, false))
        Throw(KIV_ERR_SHARING, "Table " + path_ + " is in use by another user");
}

std::shared_ptr<TableFile> TableFile::Open(const std::string& path, uint16_t typeHint, bool exclusive) {
    std::lock_guard registryLock(gRegistryMutex);
    // Memo file, type and journals are all looked up in one reading of the folder.
    kivwin::FolderSnapshot folder;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        Throw(KIV_ERR_FILE_NOT_FOUND, "Table file " + path + " not found");
    const auto key = std::make_pair(st.st_dev, st.st_ino);
    if (auto it = gRegistry.find(key); it != gRegistry.end()) {
        if (auto existing = it->second.lock()) {
            existing->Attach(exclusive);
            return existing;
        }
    }
    std::shared_ptr<TableFile> file(new TableFile);
    file->path_ = path;
    file->exclusive_ = exclusive;
    // Read-write whenever the file allows it, also for read-only handles: other
    // handles of this process may share the file, and locks need it.
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    file->writable_ = fd >= 0;
    if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Throw(errno == ENOENT ? KIV_ERR_FILE_NOT_FOUND : KIV_ERR_IO, SysText("Cannot open", path));
    file->fd_ = fd;
    if (exclusive && !file->writable_) Throw(KIV_ERR_READ_ONLY, "Table " + path + " cannot be opened exclusively read-only");
    file->TakeOpenLock();
    file->type_ = typeHint;
    file->ReadHeader();
    file->OpenMemo(false, 0);
    file->MapWriteMark();
    // Transactions of processes that died are undone before anyone reads.
    if (file->writable_) {
        file->RangeLock(kRecoveryByte, 1, F_WRLCK, true);
        RecoverJournals(*file, true);
        file->RangeLock(kRecoveryByte, 1, F_UNLCK, false);
    }
    file->dev_ = st.st_dev;
    file->ino_ = st.st_ino;
    file->handles_ = 1;
    gRegistry[key] = file;
    return file;
}

std::shared_ptr<TableFile> TableFile::Create(const std::string& path, uint16_t type, std::vector<FieldDef> fields,
                                             uint16_t memoBlockSize, bool exclusive, bool scratch) {
    // Integers, doubles, date-times and currency exist only in Visual FoxPro
    // tables (version 0x30), whose memo fields hold 4-byte block numbers:
    // other DBF versions read those letters as something else. Readers of
    // that version look for FoxPro memos (.fpt): tables of type 1 keep theirs
    // in that format then too.
    bool vfp = false, memo = false;
    if (IsDbfType(type)) {
        for (const auto& f : fields) vfp = vfp || IsVfpOnlyField(f);
        for (auto& f : fields)
            if (IsBlobType(f.type)) f.length = vfp ? 4 : 0;
    }
    LayoutFields(fields, type);
    std::lock_guard registryLock(gRegistryMutex);
    std::shared_ptr<TableFile> file(new TableFile);
    file->path_ = path;
    file->type_ = type;
    file->memoFormat_ = !IsDbfType(type) ? MemoFormat::Kdm
                        : type == KIV_TABLE_CDX || vfp ? MemoFormat::Fpt
                                                       : MemoFormat::Dbt;
    file->fields_ = std::move(fields);
    file->recordLength_ = RecordLength(file->fields_);
    file->IndexFieldNames();
    file->exclusive_ = exclusive;
    file->writable_ = true;

    for (const auto& f : file->fields_) memo = memo || IsBlobType(f.type);

    // The header is built in memory and written to a temporary name first, so a
    // half-written table never appears under its real name.
    std::vector<uint8_t> header;
    const bool dbf = IsDbfType(type);
    if (dbf) {
        // Version 0x30 headers end with room for the path of a database container.
        file->headerLength_ =
            32 + kDbfDescriptor * static_cast<uint32_t>(file->fields_.size()) + 1 + (vfp ? kVfpBacklink : 0);
        header.assign(file->headerLength_, 0);
        header[0] = vfp ? 0x30 : memo ? (type == KIV_TABLE_NTX ? 0x8B : 0xF5) : 0x03;
        if (vfp && memo) header[28] = 0x02;  // the table has a memo file
        file->version_ = header[0];
        StampDate(&header[1]);
        PutLE32(&header[4], 0);
        PutLE16(&header[8], static_cast<uint16_t>(file->headerLength_));
        PutLE16(&header[10], static_cast<uint16_t>(file->recordLength_));
        header[29] = kCodePage1252;
        file->codePage_ = kCodePage1252;
        file->counterOffset_ = kDbfCounter;
        uint8_t* d = &header[32];
        for (const auto& f : file->fields_) {
            std::memcpy(d, f.name.data(), f.name.size());
            d[11] = static_cast<uint8_t>(f.letter);
            PutLE32(d + 12, f.offset);
            d[16] = static_cast<uint8_t>(f.length);
            d[17] = static_cast<uint8_t>(f.decimals);
            if (f.type == KIV_FT_VARCHAR) PutLE32(d + kDbfDeclaredLength, f.maxLength);
            if (f.type == KIV_FT_VARCHAR) d[kDbfEngineLetter] = 'V';
            if (f.type == KIV_FT_BINARY) d[kDbfEngineLetter] = 'W';
            if (f.type == KIV_FT_BINARY) d[kDbfFieldFlags] = kDbfBinaryFlag;  // bytes, not text of a code page
            d += kDbfDescriptor;
        }
        *d = 0x0D;
    } else {
        file->headerLength_ = 32 + kKdtDescriptor * static_cast<uint32_t>(file->fields_.size()) + 1;
        header.assign(file->headerLength_, 0);
        std::memcpy(&header[0], kKdtMagic, 4);
        PutLE32(&header[4], 0);
        PutLE32(&header[8], file->headerLength_);
        PutLE32(&header[12], file->recordLength_);
        PutLE32(&header[16], 1);
        PutLE32(&header[20], static_cast<uint32_t>(file->fields_.size()));
        PutLE32(&header[28], memoBlockSize ? memoBlockSize : 64);
        if (!file->fields_.empty()) file->counterOffset_ = kKdtCounter;
        uint8_t* d = &header[32];
        for (const auto& f : file->fields_) {
            std::memcpy(d, f.name.data(), f.name.size());
            PutLE16(d + 128, f.type);
            PutLE16(d + 130, f.decimals);
            PutLE32(d + 132, f.length);
            PutLE32(d + 136, f.maxLength);
            d += kKdtDescriptor;
        }
        *d = 0x0D;
    }
    header.push_back(0x1A);

    if (FileExists(path)) Throw(KIV_ERR_TABLE_EXISTS, "Table " + path + " already exists");
    const std::string temp = path + ".kivnew";
    int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Throw(KIV_ERR_IO, SysText("Cannot create", path));
    file->fd_ = fd;
    try {
        file->WriteAll(fd, header.data(), header.size(), 0);
        if (!scratch && ::fsync(fd) != 0) Throw(KIV_ERR_IO, SysText("Cannot write", path));
        // The memo file exists before the table does: a table is never seen
        // without the memo file its fields need.
        if (memo) file->OpenMemo(true, memoBlockSize);
        // A change log left by an earlier table of this name names records
        // this one never had.
        ::unlink(ChangeLogPath(path).c_str());
        // link() refuses an existing target, which rename() would replace.
        if (::link(temp.c_str(), path.c_str()) != 0) {
            const int err = errno;
            ::unlink(temp.c_str());
            if (err == EEXIST) Throw(KIV_ERR_TABLE_EXISTS, "Table " + path + " already exists");
            errno = err;
            Throw(KIV_ERR_IO, SysText("Cannot create", path));
        }
        ::unlink(temp.c_str());
        file->TakeOpenLock();
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) Throw(KIV_ERR_IO, SysText("Cannot read", path));
    file->dev_ = st.st_dev;
    file->ino_ = st.st_ino;
    file->handles_ = 1;
    gRegistry[{st.st_dev, st.st_ino}] = file;
    return file;
}

namespace {

// The write mark: four bytes of the DBF header's multi-user area that other
// tools leave alone; in our own header the spare end of the second field
// descriptor. The change counter takes the four bytes before it (DBF) and
// the first descriptor's spare end (ours). The counter moves before a
// record is written and tells indexes, on disk and in other processes, that
// they are outdated; the mark moves after it and tells read-ahead.
constexpr off_t kDbfWriteMark = 24;
constexpr off_t kKdtWriteMark = 32 + kKdtDescriptor + 140;

std::atomic<uint32_t> gWriteMarks{0};

// The process id, asked once instead of at every write; a forked child asks
// again, so that its marks are never its parent's.
pid_t gProcessId = ::getpid();
void RenewProcessId() { gProcessId = ::getpid(); }
const int gProcessIdRenewal = ::pthread_atfork(nullptr, nullptr, RenewProcessId);

}  // namespace

void TableFile::MapWriteMark() {
    if (exclusive_) return;
    if (type_ == KIV_TABLE_KDT) {
        if (fields_.size() < 2) return;
        markOffset_ = kKdtWriteMark;
    } else {
        markOffset_ = kDbfWriteMark;
    }
    void* map = ::mmap(nullptr, static_cast<size_t>(markOffset_) + 4, PROT_READ, MAP_SHARED, fd_, 0);
    if (map == MAP_FAILED) return;  // then every read goes to the file
    headerMap_ = static_cast<const uint8_t*>(map);
}

uint32_t TableFile::ReadMark() {
    if (headerMap_) return WriteMark();
    uint8_t b[4];
    ReadAll(fd_, b, 4, markOffset_);
    return LE32(b);
}

void TableFile::SetMark(uint32_t value) {
    uint8_t b[4];
    PutLE32(b, value);
    WriteAll(fd_, b, 4, markOffset_);
}

void TableFile::MoveWriteMark() {
    // Set also when this process could not map the header: other processes
    // trust their read-ahead while the mark keeps its value.
    if (!markOffset_ || !writable_) return;
    // A value of this process's own: the process id and a count, mixed; the
    // transaction bit stays as it is.
    uint64_t z = (static_cast<uint64_t>(gProcessId) << 32) | gWriteMarks.fetch_add(1);
    z = (z ^ (z >> 31)) * 0x9E3779B97F4A7C15ULL;
    const uint32_t kept = kTransactionBit | kCommitBit;
    SetMark((static_cast<uint32_t>(z ^ (z >> 32)) & ~kept) | (ReadMark() & kept));
}

void TableFile::NoteTransaction() {
    // Once set after the journal exists, nobody clears the bit while it does.
    if (exclusive_ || !markOffset_ || !writable_ || (ReadMark() & kTransactionBit)) return;
    HeaderGuard guard(*this, true);
    const uint32_t mark = ReadMark();
    if (!(mark & kTransactionBit)) SetMark(mark | kTransactionBit);
}

void TableFile::RecoverDeadTransactions() {
    if (exclusive_ || !markOffset_ || !writable_ || !(ReadMark() & kTransactionBit)) return;
    // One recovery at a time: a process finding a journal another one is
    // undoing waits for the undo.
    RangeLock(kRecoveryByte, 1, F_WRLCK, true);
    try {
        RecoverJournals(*this);
        EndTransactionNote();
    } catch (...) {
        RangeLock(kRecoveryByte, 1, F_UNLCK, false);
        throw;
    }
    RangeLock(kRecoveryByte, 1, F_UNLCK, false);
}

void TableFile::EndTransactionNote() {
    if (exclusive_ || !markOffset_ || !writable_) return;
    // Under the header lock, which a transaction takes to set the bit after
    // its journal exists: a journal made meanwhile is seen here.
    HeaderGuard guard(*this, true);
    uint32_t mark = ReadMark();
    // A commit holds the header lock while its bit is set: one found here
    // was left by a process that died (and was undone since).
    if (mark & kCommitBit) SetMark(mark &= ~kCommitBit);
    if ((mark & kTransactionBit) && !JournalsBeside(*this)) SetMark(mark & ~kTransactionBit);
}

TableFile::~TableFile() {
    try {
        Finish();
    } catch (const EngineError&) {
        // an index file that cannot be written is rebuilt at its next open
    }
    if (!gRegistryGone) {
        std::lock_guard registryLock(gRegistryMutex);
        auto it = gRegistry.find({dev_, ino_});
        if (it != gRegistry.end() && it->second.expired()) gRegistry.erase(it);
    }
    if (headerMap_) ::munmap(const_cast<uint8_t*>(headerMap_), static_cast<size_t>(markOffset_) + 4);
    if (memoFd_ >= 0) ::close(memoFd_);
    if (fd_ >= 0) ::close(fd_);
    CloseLog();
}

void TableFile::Finish() {
    UnmapAppend(true);  // first: the indexes note the table file's final size
    SaveIndexes();
}

void TableFile::Attach(bool exclusive) {
    std::lock_guard lock(mutex_);
    if (exclusive || exclusive_)
        Throw(KIV_ERR_SHARING, "Table " + path_ + " is in use" + (exclusive_ ? " exclusively" : ""));
    ++handles_;
}

void TableFile::Detach() {
    std::lock_guard lock(mutex_);
    --handles_;
}

void TableFile::ReadHeader() {
    uint8_t head[32];
    ReadAll(fd_, head, 32, 0);
    fields_.clear();
    if (std::memcmp(head, kKdtMagic, 4) == 0) {
        type_ = KIV_TABLE_KDT;
        memoFormat_ = MemoFormat::Kdm;
        count_ = LE32(head + 4);
        headerLength_ = LE32(head + 8);
        recordLength_ = LE32(head + 12);
        nextAutoinc_ = LE32(head + 16);
        const uint32_t n = LE32(head + 20);
        memoBlockSize_ = LE32(head + 28);
        encrypted_ = (head[24] & 1) != 0;
        check_ = head[25] | (head[26] << 8) | (head[27] << 16);
        if (n > 10000 || headerLength_ != 32 + kKdtDescriptor * n + 1 || !memoBlockSize_)
            Throw(KIV_ERR_CORRUPT_FILE, "Table header of " + path_ + " is damaged");
        std::vector<uint8_t> d(kKdtDescriptor * n);
        if (n) ReadAll(fd_, d.data(), d.size(), 32);
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* p = &d[i * kKdtDescriptor];
            FieldDef f;
            f.name.assign(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), 128));
            f.type = LE16(p + 128);
            f.decimals = LE16(p + 130);
            f.maxLength = LE32(p + 136);
            fields_.push_back(f);
        }
        if (n) {
            counterOffset_ = kKdtCounter;
            changes_ = LE32(&d[140]);
        }
    } else {
        const uint8_t version = head[0];
        version_ = version;
        codePage_ = head[29];
        if (!IsDbfVersion(version))
            Throw(KIV_ERR_CORRUPT_FILE, path_ + " is not a table file");
        count_ = LE32(head + 4);
        headerLength_ = LE16(head + 8);
        recordLength_ = LE16(head + 10);
        encrypted_ = head[15] == 1;
        check_ = head[16] | (head[17] << 8) | (head[18] << 16);
        counterOffset_ = kDbfCounter;
        changes_ = LE32(head + kDbfCounter);
        if (headerLength_ < 33) Throw(KIV_ERR_CORRUPT_FILE, "Table header of " + path_ + " is damaged");
        std::vector<uint8_t> d(headerLength_ - 32);
        ReadAll(fd_, d.data(), d.size(), 32);
        for (size_t pos = 0; pos + kDbfDescriptor <= d.size() && d[pos] != 0x0D; pos += kDbfDescriptor) {
            const uint8_t* p = &d[pos];
            FieldDef f;
            f.name.assign(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), 11));
            while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
            f.letter = static_cast<char>(p[11]);
            f.type = TypeFromDbfLetter(f.letter);
            if (p[kDbfEngineLetter] == 'V' && f.letter == 'M') f.type = KIV_FT_VARCHAR;
            if (p[kDbfEngineLetter] == 'W' && f.letter == 'P') f.type = KIV_FT_BINARY;
            if (!f.type) Throw(KIV_ERR_CORRUPT_FILE, "Field " + f.name + " of " + path_ + " has an unknown type");
            f.maxLength = p[16];
            if (IsBlobType(f.type)) f.length = p[16];  // 10 digits, or 4 bytes in version 0x30
            // Character fields longer than 255 keep the high byte in the decimals.
            if (f.type == KIV_FT_CHARACTER) f.maxLength = p[16] + 256u * p[17];
            if (f.type == KIV_FT_VARCHAR) {
                // The declared length (files of older writers: the pointer's length).
                const uint32_t declared = LE32(p + kDbfDeclaredLength);
                if (declared >= 1 && declared <= 65000) f.maxLength = declared;
            }
            else f.decimals = p[17];
            if (f.type == KIV_FT_NUMERIC && f.maxLength > 32) f.maxLength = 32;
            fields_.push_back(f);
        }
        const std::string stem = StripExtension(path_);
        // Version 0x30 alone does not decide: tables of type 1 may have that
        // version too, with FoxPro memos (.fpt; those of older versions of the
        // engine a .dbt file) or none. With a .fpt file the hint decides.
        const bool vfpVersion = version == 0x30 || version == 0x31;
        const bool fpt = !FindWithExtension(stem, ".fpt").empty();
        if (vfpVersion && fpt && type_ == KIV_TABLE_NTX) {
            // a type 1 table with FoxPro memos
        } else if (version == 0xF5 || fpt) type_ = KIV_TABLE_CDX;
        else if (version == 0x83 || version == 0x8B || !FindWithExtension(stem, ".dbt").empty()) type_ = KIV_TABLE_NTX;
        else if (vfpVersion) type_ = type_ == KIV_TABLE_NTX ? KIV_TABLE_NTX : KIV_TABLE_CDX;
        else if (type_ != KIV_TABLE_NTX && type_ != KIV_TABLE_CDX)
            type_ = FindWithExtension(stem, ".cdx").empty() ? KIV_TABLE_NTX : KIV_TABLE_CDX;
        memoFormat_ = fpt || type_ == KIV_TABLE_CDX ? MemoFormat::Fpt : MemoFormat::Dbt;
    }
    // The stored lengths must agree with the layout rules of the type.
    std::vector<FieldDef> laidOut = fields_;
    try {
        if (IsDbfType(type_)) {
            for (auto& f : laidOut)
                if (f.type == KIV_FT_NUMERIC && f.decimals + 2u > f.maxLength) f.decimals = 0;
        }
        LayoutFields(laidOut, type_);
    } catch (const EngineError& e) {
        Throw(KIV_ERR_CORRUPT_FILE, "Field definitions of " + path_ + " are damaged: " + e.what());
    }
    if (RecordLength(laidOut) != recordLength_)
        Throw(KIV_ERR_CORRUPT_FILE, "Record length of " + path_ + " does not match its fields");
    fields_ = std::move(laidOut);
    IndexFieldNames();
    // Records past the header's count were never committed; ignore them. A count
    // larger than the file can hold is damage.
    struct stat st;
    if (::fstat(fd_, &st) == 0) {
        const off_t room = st.st_size - static_cast<off_t>(headerLength_);
        const uint64_t fit = room > 0 ? static_cast<uint64_t>(room) / recordLength_ : 0;
        if (count_ > fit) Throw(KIV_ERR_CORRUPT_FILE, "Record count of " + path_ + " exceeds the file");
    }
    lastAutoinc_ = nextAutoinc_ > 1 ? nextAutoinc_ - 1 : 0;
    stored_ = count_;
}

std::string TableFile::memoPathFor(bool create) const {
    const char* ext = memoFormat_ == MemoFormat::Dbt ? ".dbt" : memoFormat_ == MemoFormat::Fpt ? ".fpt" : ".kdm";
    const std::string stem = StripExtension(path_);
    if (!create) return FindWithExtension(stem, ext);
    // New memo files follow the case of the table's extension.
    const std::string tableExt = Extension(path_);
    const bool upper = !tableExt.empty() && std::isupper(static_cast<unsigned char>(tableExt[1]));
    return stem + (upper ? Upper(ext) : std::string(ext));
}

void TableFile::OpenMemo(bool create, uint16_t memoBlockSize) {
    bool needed = false;
    for (const auto& f : fields_) needed = needed || IsBlobType(f.type);
    if (!needed) return;
    const std::string memoPath = memoPathFor(create);
    memoPath_ = memoPath;
    if (create) {
        memoBlockSize_ = memoFormat_ == MemoFormat::Dbt ? 512 : (memoBlockSize ? memoBlockSize : 64);
        if (memoBlockSize_ < 32) memoBlockSize_ = 32;
        uint8_t header[kMemoHeader] = {};
        const uint32_t firstFree = (kMemoHeader + memoBlockSize_ - 1) / memoBlockSize_;
        if (memoFormat_ == MemoFormat::Dbt) {
            PutLE32(header, firstFree);
            PutLE16(header + 20, static_cast<uint16_t>(memoBlockSize_));
        } else if (memoFormat_ == MemoFormat::Fpt) {
            PutBE32(header, firstFree);
            PutBE16(header + 6, static_cast<uint16_t>(memoBlockSize_));
        } else {
            PutLE32(header, firstFree);
            PutLE32(header + 4, memoBlockSize_);
            std::memcpy(header + 8, "KDM1", 4);
        }
        // A memo file of that name may belong to another table (x.dbf beside
        // a new x.tmp): it is never cut. One no table owns is replaced.
        const std::string existing = memoPathFor(false);
        if (!existing.empty()) {
            const std::string owner = MemoOwner(path_);
            if (!owner.empty())
                Throw(KIV_ERR_TABLE_EXISTS, "Memo file " + existing + " belongs to table " + owner);
        }
        memoFd_ = ::open(memoPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (memoFd_ < 0) Throw(KIV_ERR_IO, SysText("Cannot create", memoPath));
        WriteAll(memoFd_, header, sizeof header, 0);
        return;
    }
    if (memoPath.empty())
        Throw(KIV_ERR_FILE_NOT_FOUND, "Memo file " + memoPathFor(true) + " of table " + path_ + " not found");
    memoFd_ = ::open(memoPath.c_str(), writable_ ? O_RDWR | O_CLOEXEC : O_RDONLY | O_CLOEXEC);
    if (memoFd_ < 0) Throw(KIV_ERR_IO, SysText("Cannot open", memoPath));
    uint8_t header[32];
    ReadAll(memoFd_, header, sizeof header, 0);
    if (memoFormat_ == MemoFormat::Dbt) {
        memoBlockSize_ = LE16(header + 20);
        if (!memoBlockSize_) memoBlockSize_ = 512;  // older files carry no size
    } else if (memoFormat_ == MemoFormat::Fpt) {
        memoBlockSize_ = BE16(header + 6);
    } else {
        memoBlockSize_ = LE32(header + 4);
    }
    if (!memoBlockSize_) Throw(KIV_ERR_CORRUPT_FILE, "Memo file " + memoPath_ + " is damaged: no block size");
}

uint64_t TableFile::MemoSize() const {
    struct stat st;
    if (::fstat(memoFd_, &st) != 0) Throw(KIV_ERR_IO, SysText("Cannot read", memoPath_));
    return static_cast<uint64_t>(st.st_size);
}

namespace {

char FoldCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

uint32_t NameHash(std::string_view name) {
    uint32_t h = 2166136261u;
    for (char c : name) h = (h ^ static_cast<uint8_t>(FoldCase(c))) * 16777619u;
    return h;
}

}  // namespace

void TableFile::IndexFieldNames() {
    size_t size = 8;
    while (size < fields_.size() * 2) size *= 2;
    nameSlots_.assign(size, -1);
    for (size_t i = 0; i < fields_.size(); ++i) {
        size_t slot = NameHash(fields_[i].name) & (size - 1);
        while (nameSlots_[slot] >= 0) slot = (slot + 1) & (size - 1);
        nameSlots_[slot] = static_cast<int32_t>(i);
    }
}

int TableFile::FieldIndex(KIVFIELD field) const {
    const auto number = reinterpret_cast<uintptr_t>(field);
    if (number < KIV_FIELD_NUMBER_LIMIT) {
        if (number < 1 || number > fields_.size()) return -1;
        return static_cast<int>(number - 1);
    }
    std::string_view name(field);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    // Every record call names its field: hash the name, without case, into a
    // small open table built when the file was opened.
    const size_t mask = nameSlots_.size() - 1;
    for (size_t slot = NameHash(name) & mask;; slot = (slot + 1) & mask) {
        const int32_t i = nameSlots_[slot];
        if (i < 0) return -1;
        const std::string& candidate = fields_[static_cast<size_t>(i)].name;
        if (candidate.size() != name.size()) continue;
        size_t k = 0;
        while (k < name.size() && FoldCase(candidate[k]) == FoldCase(name[k])) ++k;
        if (k == name.size()) return i;
    }
}

uint32_t TableFile::Count(bool fresh) {
    if (fresh && !exclusive_) {
        uint8_t b[4];
        ReadAll(fd_, b, 4, 4);
        std::lock_guard lock(mutex_);
        // While records of this process are pending or held, no other process appends.
        stored_ = LE32(b);
        if (pending_.empty() && !heldBy_) count_ = stored_;
    }
    return count_;
}

uint32_t TableFile::ReadStoredRun(uint32_t recno, uint32_t n, uint8_t* out) {
    const size_t bytes = static_cast<size_t>(n) * recordLength_;
    size_t done = 0;
    off_t at = RecordOffset(recno);
    while (done < bytes) {
        const ssize_t r = ::pread(fd_, out + done, bytes - done, at + static_cast<off_t>(done));
        if (r < 0) {
            if (errno == EINTR) continue;
            Throw(KIV_ERR_IO, SysText("Cannot read", path_));
        }
        if (r == 0) break;
        done += static_cast<size_t>(r);
    }
    return static_cast<uint32_t>(done / recordLength_);
}

uint32_t TableFile::ReadBesideCommits(uint32_t recno, uint32_t n, uint8_t* out, bool mayRecover) {
    {
        // Holding the header lock already, this process waits for no other
        // (a recovery would need it): no commit of another process is
        // under way.
        std::lock_guard lock(headerMutex_);
        if (headerDepth_ > 0) mayRecover = false;
    }
    for (;;) {
        {
            // A commit keeps the header lock while its bit is set. (This
            // file's own writes read the record they replace, which they
            // hold locked, as it stands.)
            HeaderGuard guard(*this, true);
            if (!mayRecover || !(ReadMark() & kCommitBit)) return ReadStoredRun(recno, n, out);
        }
        // Set behind the lock: a commit whose process died, undone before
        // anything is read, or one of another thread of this process,
        // which is still writing.
        RecoverDeadTransactions();
        {
            HeaderGuard guard(*this, true);
            const uint32_t mark = ReadMark();
            if ((mark & kCommitBit) && !(mark & kTransactionBit)) SetMark(mark & ~kCommitBit);
            if (!(mark & kCommitBit) || !(mark & kTransactionBit)) return ReadStoredRun(recno, n, out);
        }
        ::usleep(100);
    }
}

uint32_t TableFile::ReadRecords(uint32_t recno, uint32_t n, uint8_t* out) { return ReadRecordsFrom(recno, n, out, true); }

uint32_t TableFile::ReadRecordsFrom(uint32_t recno, uint32_t n, uint8_t* out, bool mayRecover) {
    if (recno < 1 || n == 0) return 0;
    uint32_t got;
    if (!headerMap_ && (exclusive_ || !writable_)) {
        got = ReadStoredRun(recno, n, out);
    } else if (!headerMap_) {
        // No mark to tell a commit (a table of ours with one field): the
        // read waits for the header lock, which a commit holds.
        HeaderGuard guard(*this, true);
        got = ReadStoredRun(recno, n, out);
    } else {
        // No read sees part of another process's commit: one that starts
        // while a commit writes, or meets a write, is made again beside it.
        const uint32_t before = WriteMark();
        if ((before & kCommitBit) || (got = ReadStoredRun(recno, n, out), WriteMark() != before))
            got = ReadBesideCommits(recno, n, out, mayRecover);
    }
    if (encrypted_) {
        RequireKey();
        for (uint32_t i = 0; i < got; ++i)
            Scramble(out + static_cast<size_t>(i) * recordLength_ + 1, recordLength_ - 1, recno + i);
    }
    if (pendingCount_.load(std::memory_order_acquire) || holding_.load(std::memory_order_acquire)) {
        // Records this process appended and has not written yet read (here
        // only) as the blank records they were appended as; held ones as
        // they were written.
        std::lock_guard lock(pendingMutex_);
        if (heldBy_ && recno + n > heldFirst_) {
            const uint32_t from = std::max(recno, heldFirst_);
            const uint32_t to = std::min(recno + n, heldFirst_ + held_);  // past the last
            if (from < to && from <= recno + got) {
                CopyHeld(from, to - 1, out + static_cast<size_t>(from - recno) * recordLength_, false);
                got = std::max(got, to - recno);
            }
        }
        for (uint32_t p : pending_) {
            if (p < recno || p >= recno + n || p > recno + got) continue;
            const std::vector<uint8_t> blank = BlankImage();
            std::memcpy(out + static_cast<size_t>(p - recno) * recordLength_, blank.data(), recordLength_);
            if (p == recno + got) ++got;
        }
    }
    if (updating_.load(std::memory_order_acquire)) {
        // Changed records held for a transaction of this process read as changed.
        std::lock_guard lock(pendingMutex_);
        auto overlay = [&](uint32_t r, const HeldUpdate& held) {
            if (r >= recno && r - recno < got)
                std::memcpy(out + static_cast<size_t>(r - recno) * recordLength_, held.image.data(), recordLength_);
        };
        if (updates_.size() < got) {
            for (const auto& [r, held] : updates_) overlay(r, held);
        } else {
            for (uint32_t r = recno; r - recno < got; ++r)
                if (auto it = updates_.find(r); it != updates_.end()) overlay(r, it->second);
        }
    }
    return got;
}

bool TableFile::ReadStored(uint32_t recno, uint8_t* out) {
    if (recno < 1) return false;
    if (holding_.load(std::memory_order_acquire)) {
        std::lock_guard lock(pendingMutex_);
        if (InHeld(recno)) {
            CopyHeld(recno, recno, out, true);
            return true;
        }
    }
    const ssize_t r = ::pread(fd_, out, recordLength_, RecordOffset(recno));
    return r == static_cast<ssize_t>(recordLength_);
}

void TableFile::WriteStored(uint32_t recno, const uint8_t* stored) {
    std::lock_guard lock(mutex_);
    // The indexes do not follow these writes (a journal's undo): the change
    // counter tells every index, of this process or another, that it is
    // outdated.
    HeaderGuard guard(*this, !exclusive_);
    NoteChange(&recno, 1);
    WriteAll(fd_, stored, recordLength_, RecordOffset(recno));
    MoveWriteMark();
    Touch();
}

void TableFile::WriteRecord(uint32_t recno, const uint8_t* image, Journal* journal) {
    if (!writable_) Throw(KIV_ERR_READ_ONLY, "Table " + path_ + " is open read-only");
    std::unique_lock lock(mutex_);
    if (journal && !exclusive_ && !InHeld(recno) && !IsPending(recno)) {
        // Held in memory until its transaction ends; the orders of this
        // process follow it now.
        if (!indexFiles_.empty()) {
            std::vector<uint8_t> old(recordLength_);
            const bool had = ReadRecordsFrom(recno, 1, old.data(), false) == 1;
            MaintainIndexes(recno, had ? old.data() : nullptr, image);
        }
        bool first;
        {
            std::lock_guard guard(pendingMutex_);
            HeldUpdate& held = updates_[recno];
            first = held.image.empty();
            held.journal = journal;
            held.image.assign(image, image + recordLength_);
            updating_.store(true, std::memory_order_release);
        }
        if (first) journal->Holding(shared_from_this());
        Touch();
        return;
    }
    if (InHeld(recno)) {
        // Held in memory until its transaction ends.
        const bool appending = TakePending(recno);
        if (!indexFiles_.empty()) MaintainIndexes(recno, appending ? nullptr : HeldImage(recno), image);
        {
            std::lock_guard guard(pendingMutex_);
            std::memcpy(HeldImage(recno), image, recordLength_);
        }
        Touch();
        return;
    }
    // The change counter moves before the record, the write mark after it.
    HeaderGuard guard(*this, !exclusive_);
    NoteChange(&recno, 1);
    const bool appending = TakePending(recno);
    bool keyed = false;
    try {
        if (!indexFiles_.empty()) {
            std::vector<uint8_t> old;
            if (!appending) {
                old.resize(recordLength_);
                if (ReadRecordsFrom(recno, 1, old.data(), false) != 1) old.clear();
            }
            MaintainIndexes(recno, old.empty() ? nullptr : old.data(), image);
            keyed = appending;
        }
        appendBuffer_.assign(image, image + recordLength_);
        if (encrypted_) {
            RequireKey();
            Scramble(appendBuffer_.data() + 1, recordLength_ - 1, recno);
        }
        if (appending && recno == count_) appendBuffer_.push_back(0x1A);
        const off_t at = RecordOffset(recno);
        if (appending) MapForAppend(at + static_cast<off_t>(appendBuffer_.size()));
        WriteFile(appendBuffer_.data(), appendBuffer_.size(), at);
    } catch (...) {
        if (appending) {
            // Still unwritten: it keeps awaiting its first write, without keys.
            if (keyed) MaintainIndexes(recno, image, nullptr);
            std::lock_guard guard(pendingMutex_);
            pending_.insert(std::lower_bound(pending_.begin(), pending_.end(), recno), recno);
            pendingCount_.store(static_cast<uint32_t>(pending_.size()), std::memory_order_release);
        }
        throw;
    }
    if (appending) Settle();  // the record is on disk: now the header may count it
    MoveWriteMark();
    Touch();
}

bool TableFile::IsPending(uint32_t recno) {
    if (!pendingCount_.load(std::memory_order_acquire)) return false;
    std::lock_guard lock(pendingMutex_);
    return std::binary_search(pending_.begin(), pending_.end(), recno);
}

void TableFile::UndoChange(uint32_t recno, const uint8_t* before, const Journal* journal) {
    {
        std::lock_guard lock(mutex_);
        auto it = updates_.find(recno);
        if (it != updates_.end() && it->second.journal == journal) {
            if (!indexFiles_.empty()) MaintainIndexes(recno, it->second.image.data(), before);
            std::lock_guard guard(pendingMutex_);
            updates_.erase(it);
            updating_.store(!updates_.empty(), std::memory_order_release);
            Touch();
            return;
        }
    }
    WriteRecord(recno, before);
}

void TableFile::WriteUpdates(const Journal* journal) {
    std::vector<uint32_t> mine;
    for (const auto& [recno, held] : updates_)
        if (held.journal == journal) mine.push_back(recno);
    if (mine.empty()) return;
    std::sort(mine.begin(), mine.end());
    // The change counter moves before the records, the write mark after them.
    HeaderGuard guard(*this, true);
    NoteChange(mine.data(), mine.size());
    std::vector<uint8_t> out(recordLength_);
    for (const uint32_t recno : mine) {
        std::memcpy(out.data(), updates_[recno].image.data(), recordLength_);
        if (encrypted_) {
            RequireKey();
            Scramble(out.data() + 1, recordLength_ - 1, recno);
        }
        WriteAll(fd_, out.data(), recordLength_, RecordOffset(recno));
    }
    {
        std::lock_guard lock(pendingMutex_);
        for (const uint32_t recno : mine) updates_.erase(recno);
        updating_.store(!updates_.empty(), std::memory_order_release);
    }
    MoveWriteMark();
    Touch();
}

void TableFile::DropUpdates(const Journal* journal) {
    std::vector<uint32_t> mine;
    for (const auto& [recno, held] : updates_)
        if (held.journal == journal) mine.push_back(recno);
    if (mine.empty()) return;
    std::vector<uint8_t> stored(recordLength_);
    for (const uint32_t recno : mine) {
        if (!indexFiles_.empty()) {
            // The orders go back to the record as stored.
            const bool had = ::pread(fd_, stored.data(), recordLength_, RecordOffset(recno)) ==
                             static_cast<ssize_t>(recordLength_);
            if (had && encrypted_ && key_) Scramble(stored.data() + 1, recordLength_ - 1, recno);
            MaintainIndexes(recno, updates_[recno].image.data(), had ? stored.data() : nullptr);
        }
        std::lock_guard lock(pendingMutex_);
        updates_.erase(recno);
        updating_.store(!updates_.empty(), std::memory_order_release);
    }
    Touch();
}

void TableFile::Settle() {
    const uint32_t complete = pending_.empty() ? count_ : pending_.front() - 1;
    if (complete > stored_) {
        WriteHeaderCount(complete);
        stored_ = complete;
    }
    if (pending_.empty()) ReleaseReservation();
}

void TableFile::WriteHeaderCount(uint32_t count) {
    uint8_t b[16];
    PutLE32(b, count);
    if (type_ == KIV_TABLE_KDT) {
        // count, header length, record length and the autoinc counter in one write
        PutLE32(b + 4, headerLength_);
        PutLE32(b + 8, recordLength_);
        PutLE32(b + 12, nextAutoinc_);
        WriteFile(b, 16, 4);
    } else {
        WriteFile(b, 4, 4);
    }
}

bool TableFile::AwaitsFirstWrite(uint32_t recno) {
    std::lock_guard lock(pendingMutex_);
    return std::binary_search(pending_.begin(), pending_.end(), recno);
}

bool TableFile::TakePending(uint32_t recno) {
    std::lock_guard lock(pendingMutex_);
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (*it != recno) continue;
        pending_.erase(it);
        pendingCount_.store(static_cast<uint32_t>(pending_.size()), std::memory_order_release);
        return true;
    }
    return false;
}

void TableFile::WriteFile(const void* data, size_t n, off_t at) {
    if (appendMap_ && static_cast<size_t>(at) + n <= appendMapLength_) std::memcpy(appendMap_ + at, data, n);
    else WriteAll(fd_, data, n, at);
}

bool TableFile::MapForAppend(off_t end) {
    if (!exclusive_ || !writable_) return false;
    const auto need = static_cast<size_t>(end);
    if (appendMap_ && need <= appendMapLength_) return true;
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t size = static_cast<size_t>(st.st_size);
    size_t want = std::max<size_t>({need, size + std::min<size_t>(size, size_t(64) << 20), size_t(1) << 20});
    want = (want + page - 1) / page * page;
    // The blocks are taken now: a full disk is an error here, never a fault
    // on a write through the mapping.
    if (want > size && ::posix_fallocate(fd_, static_cast<off_t>(size), static_cast<off_t>(want - size)) != 0) {
        if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
            // the file keeps a tail past its end-of-file mark, which nothing reads
        }
        return false;
    }
    void* map = ::mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map == MAP_FAILED) return false;
    UnmapAppend(false);
    appendMap_ = static_cast<uint8_t*>(map);
    appendMapLength_ = want;
    return true;
}

void TableFile::UnmapAppend(bool cutBack) {
    if (!appendMap_) return;
    ::munmap(appendMap_, appendMapLength_);
    appendMap_ = nullptr;
    appendMapLength_ = 0;
    // The records end with the end-of-file mark after the last one.
    if (cutBack && ::ftruncate(fd_, RecordOffset(stored_ + 1) + 1) != 0) {
        // a longer file reads the same
    }
}

void TableFile::Reserve() {
    if (exclusive_ || reserved_) return;
    // Another process's appended records are written soon after they are
    // appended: wait for them a while, then report the table as locked.
    for (int waited = 0; !RangeLock(kAppendByte, 1, F_WRLCK, false); ++waited) {
        if (waited >= 5000) Throw(KIV_ERR_TABLE_LOCKED, "Table " + path_ + " is locked by another user");
        ::usleep(1000);
    }
    reserved_ = true;
}

void TableFile::ReleaseReservation() {
    if (!reserved_) return;
    RangeLock(kAppendByte, 1, F_UNLCK, false);
    reserved_ = false;
}

uint32_t TableFile::Append(const void* owner, uint8_t* image, Journal* journal) {
    if (!writable_) Throw(KIV_ERR_READ_ONLY, "Table " + path_ + " is open read-only");
    std::unique_lock lock(mutex_);
    if (!exclusive_ && tableOwner_ && tableOwner_ != owner) Throw(KIV_ERR_TABLE_LOCKED);
    // Records held for another transaction of this process come first: its
    // end is waited for as another process's reservation is.
    for (int waited = 0; heldBy_ && heldBy_ != journal; ++waited) {
        if (waited >= 5000) Throw(KIV_ERR_TABLE_LOCKED, "Table " + path_ + " is locked by another user");
        lock.unlock();
        ::usleep(1000);
        lock.lock();
    }
    const bool hold = journal && !exclusive_ && (heldBy_ || pending_.empty());
    const bool startHolding = hold && !heldBy_;
    if (!heldBy_) {
        Reserve();
        try {
            if (!exclusive_ && pending_.empty()) {
                HeaderGuard guard(*this, true);
                uint8_t b[16];
                ReadAll(fd_, b, type_ == KIV_TABLE_KDT ? 16 : 4, 4);
                count_ = stored_ = LE32(b);
                if (type_ == KIV_TABLE_KDT) nextAutoinc_ = LE32(b + 12);
            }
            // The new record is locked before it exists (held ones: every
            // record to come, for the holding); a table lock of another
            // process makes this fail and nothing is appended.
            if (startHolding) {
                heldFirst_ = count_ + 1;
                heldLocked_ = tableOwner_ != owner;
                if (heldLocked_ && !LockHeldRange(F_WRLCK)) {
                    heldLocked_ = false;
                    Throw(KIV_ERR_TABLE_LOCKED);
                }
            } else if (!exclusive_ && tableOwner_ != owner && !RangeLock(kLockBase + count_ + 1, 1, F_WRLCK, false)) {
                Throw(KIV_ERR_TABLE_LOCKED);
            }
        } catch (...) {
            if (pending_.empty()) ReleaseReservation();
            throw;
        }
    }
    const uint32_t recno = count_ + 1;
    if (!exclusive_) recordOwners_[recno] = owner;
    for (const auto& f : fields_) {
        if (f.type == KIV_FT_AUTOINC) {
            lastAutoinc_ = nextAutoinc_++;
            PutLE32(image + f.offset, lastAutoinc_);
        }
    }
    count_ = recno;
    {
        std::lock_guard guard(pendingMutex_);
        pending_.push_back(recno);
        pendingCount_.store(static_cast<uint32_t>(pending_.size()), std::memory_order_release);
        if (hold) {
            if (startHolding) {
                heldBy_ = journal;
                heldBlank_ = BlankImage();
                holding_.store(true, std::memory_order_release);
            }
            if (held_ % kHeldBlock == 0 && held_ / kHeldBlock == heldBlocks_.size())
                heldBlocks_.emplace_back(new uint8_t[static_cast<size_t>(kHeldBlock) * recordLength_]);
            ++held_;
            std::memcpy(HeldImage(recno), heldBlank_.data(), recordLength_);
        }
    }
    Touch();
    if (startHolding) journal->Holding(shared_from_this());
    return recno;
}

bool TableFile::HeldFor(uint32_t recno, const Journal* journal) {
    std::lock_guard lock(mutex_);
    return heldBy_ == journal && InHeld(recno);
}

bool TableFile::LockHeldRange(short type) {
    // The records from the first held one to the end of the table's range.
    return RangeLock(kLockBase + heldFirst_, kTableRange + 1 - heldFirst_, type, false);
}

void TableFile::EndHolding(const Journal* journal, bool keep) {
    std::lock_guard lock(mutex_);
    const bool appended = heldBy_ && heldBy_ == journal;
    if (!keep) {
        DropUpdates(journal);
        if (appended) DropHeld();
        return;
    }
    // The notes of the appended records first: from there on a crash
    // undoes them.
    if (appended && held_) heldBy_->NoteAppends(*this, heldFirst_, heldFirst_ + held_ - 1);
    // The commit's records reach the file in one hold of the header lock,
    // with the commit bit set in the write mark meanwhile: other processes
    // read either none of them or all.
    HeaderGuard guard(*this, true);
    const uint32_t mark = markOffset_ ? ReadMark() : 0;
    if (markOffset_) SetMark(mark | kCommitBit);
    WriteUpdates(journal);
    if (appended) WriteHeld();
    if (markOffset_) {
        MoveWriteMark();
        SetMark(ReadMark() & ~kCommitBit);
    }
}

void TableFile::CopyHeld(uint32_t first, uint32_t last, uint8_t* out, bool scrambled) {
    for (uint32_t r = first; r <= last; ++r, out += recordLength_) {
        std::memcpy(out, HeldImage(r), recordLength_);
        if (scrambled && encrypted_) {
            RequireKey();
            Scramble(out + 1, recordLength_ - 1, r);
        }
    }
}

void TableFile::ClearHeld() {
    heldBy_ = nullptr;
    holding_.store(false, std::memory_order_release);
    held_ = 0;
    heldBlocks_.clear();
}

void TableFile::WriteHeld() {
    const uint32_t held = held_;
    if (held) {
        // (Their notes were written first: from there on a crash undoes them.)
        HeaderGuard guard(*this, true);
        std::vector<uint32_t> recnos(held);
        for (uint32_t i = 0; i < held; ++i) recnos[i] = heldFirst_ + i;
        NoteChange(recnos.data(), recnos.size());
        // Runs of written records, in one write each (a record appended but
        // never written stays out of the file, as any such append does).
        std::vector<uint8_t> out;
        size_t p = 0;
        for (uint32_t start = heldFirst_; start <= count_;) {
            while (p < pending_.size() && pending_[p] < start) ++p;
            if (p < pending_.size() && pending_[p] == start) {
                ++start;
                continue;
            }
            const uint32_t end = p < pending_.size() ? pending_[p] - 1 : count_;
            const size_t bytes = static_cast<size_t>(end - start + 1) * recordLength_;
            out.reserve(bytes + 1);
            out.resize(bytes);
            CopyHeld(start, end, out.data(), true);
            if (end == count_) out.push_back(0x1A);
            WriteAll(fd_, out.data(), out.size(), RecordOffset(start));
            start = end + 1;
        }
        // The records' locks: those the handles still hold become their
        // own (a table lock of this process covers them all).
        // (Only the transaction's own records are visited, however many
        // others the handles hold.)
        if (heldLocked_ && !tableOwner_) {
            LockHeldRange(F_UNLCK);
            for (uint32_t rec = heldFirst_; rec < heldFirst_ + held; ++rec)
                if (recordOwners_.count(rec)) RangeLock(kLockBase + rec, 1, F_WRLCK, false);
        }
        {
            std::lock_guard guard(pendingMutex_);
            ClearHeld();
        }
        heldLocked_ = false;
        Settle();  // the records are on disk: now the header may count them
        MoveWriteMark();
        Touch();
        return;
    }
    DropHeld();
}

void TableFile::DropHeld() {
    const uint32_t held = held_;
    if (!indexFiles_.empty()) {
        size_t p = 0;
        for (uint32_t r = heldFirst_; r < heldFirst_ + held; ++r) {
            while (p < pending_.size() && pending_[p] < r) ++p;
            if (p < pending_.size() && pending_[p] == r) continue;  // never written: no keys
            MaintainIndexes(r, HeldImage(r), nullptr);
        }
    }
    {
        std::lock_guard guard(pendingMutex_);
        pending_.erase(std::lower_bound(pending_.begin(), pending_.end(), heldFirst_), pending_.end());
        pendingCount_.store(static_cast<uint32_t>(pending_.size()), std::memory_order_release);
        count_ = heldFirst_ - 1;
        ClearHeld();
    }
    if (heldLocked_ && !tableOwner_) LockHeldRange(F_UNLCK);
    heldLocked_ = false;
    if (pending_.empty()) ReleaseReservation();
    Touch();
}

void TableFile::RemoveAppended(uint32_t recno) {
    if (!writable_) Throw(KIV_ERR_READ_ONLY, "Table " + path_ + " is open read-only");
    std::lock_guard lock(mutex_);
    if (InHeld(recno)) {
        // Never in the file: the last one is forgotten, one before others
        // stays as a deleted record (the numbers after it are given out).
        const bool written = !TakePending(recno);
        if (written && !indexFiles_.empty()) MaintainIndexes(recno, HeldImage(recno), nullptr);
        if (recno == count_) {
            std::lock_guard guard(pendingMutex_);
            count_ = recno - 1;
            --held_;
        } else {
            // (A held record no longer awaiting its write has its keys.)
            std::vector<uint8_t> blank = BlankImage();
            blank[0] = '*';
            if (!indexFiles_.empty()) MaintainIndexes(recno, nullptr, blank.data());
            std::lock_guard guard(pendingMutex_);
            std::memcpy(HeldImage(recno), blank.data(), recordLength_);
        }
        if (!held_) DropHeld();
        Touch();
        return;
    }
    if (TakePending(recno)) {
        HeaderGuard guard(*this, !exclusive_);
        NoteChange(&recno, 1);
        // Never written: the last one is forgotten, one before others stays
        // as a deleted record, since the numbers after it are given out.
        if (recno == count_) {
            count_ = recno - 1;
        } else {
            std::vector<uint8_t> blank = BlankImage();
            blank[0] = '*';
            if (!indexFiles_.empty()) MaintainIndexes(recno, nullptr, blank.data());
            if (encrypted_) {
                RequireKey();
                Scramble(blank.data() + 1, recordLength_ - 1, recno);
            }
            WriteAll(fd_, blank.data(), recordLength_, RecordOffset(recno));
        }
        Settle();
        MoveWriteMark();
        Touch();
        return;
    }
    HeaderGuard guard(*this, !exclusive_);
    if (!exclusive_) {
        uint8_t b[4];
        ReadAll(fd_, b, 4, 4);
        stored_ = LE32(b);
        if (pending_.empty()) count_ = stored_;
    }
    NoteChange(&recno, 1);
    if (!indexFiles_.empty() && recno <= count_) {
        std::vector<uint8_t> old(recordLength_);
        if (ReadRecordsFrom(recno, 1, old.data(), false) == 1) MaintainIndexes(recno, old.data(), nullptr);
    }
    // A record is cut off only while nobody appends after it: in a shared
    // open that takes the append reservation.
    bool mayCut = recno == count_ && recno == stored_;
    bool tookReservation = false;
    if (mayCut && !exclusive_ && !reserved_) {
        mayCut = tookReservation = RangeLock(kAppendByte, 1, F_WRLCK, false);
    }
    if (mayCut) {
        count_ = stored_ = recno - 1;
        WriteHeaderCount(stored_);
        const uint8_t eof = 0x1A;
        WriteAll(fd_, &eof, 1, RecordOffset(recno));
    } else if (recno <= count_) {
        const uint8_t deleted = '*';
        WriteAll(fd_, &deleted, 1, RecordOffset(recno));
    }
    if (tookReservation) RangeLock(kAppendByte, 1, F_UNLCK, false);
    MoveWriteMark();
    Touch();
}

void TableFile::Zap() {
    if (!writable_) Throw(KIV_ERR_READ_ONLY, "Table " + path_ + " is open read-only");
    std::lock_guard lock(mutex_);
    HeaderGuard guard(*this, !exclusive_);
    NoteChange();
    // Other processes (shared opens) learn from the log that the whole
    // table changed; with none there, the log goes.
    if (exclusive_) DropChangeLog();
    UnmapAppend(false);
    count_ = stored_ = 0;
    {
        std::lock_guard guard(pendingMutex_);
        pending_.clear();
        pendingCount_.store(0, std::memory_order_release);
    }
    ReleaseReservation();
    for (auto& file : indexFiles_) {
        for (auto& tag : file->tags()) tag->Clear();
        file->dirty = true;
    }
    WriteHeaderCount(0);  // the count first: a crash leaves an empty, readable table
    if (::ftruncate(fd_, headerLength_) != 0) Throw(KIV_ERR_IO, SysText("Cannot write", path_));
    const uint8_t eof = 0x1A;
    WriteAll(fd_, &eof, 1, headerLength_);
    if (memoFd_ >= 0) {
        uint8_t header[kMemoHeader];
        ReadAll(memoFd_, header, kMemoHeader, 0);
        const uint32_t firstFree = (kMemoHeader + memoBlockSize_ - 1) / memoBlockSize_;
        if (memoFormat_ == MemoFormat::Fpt) PutBE32(header, firstFree);
        else PutLE32(header, firstFree);
        WriteAll(memoFd_, header, kMemoHeader, 0);
        if (::ftruncate(memoFd_, static_cast<off_t>(firstFree) * memoBlockSize_) != 0)
            Throw(KIV_ERR_IO, SysText("Cannot write", memoPath_));
    }
    MoveWriteMark();
    Touch();
}

void TableFile::Pack() {
    if (!writable_) Throw(KIV_ERR_READ_ONLY, "Table " + path_ + " is open read-only");
    if (!exclusive_) Throw(KIV_ERR_SHARING, "Table " + path_ + " must be opened exclusively to pack");
    std::lock_guard lock(mutex_);
    NoteChange();
    DropChangeLog();  // its record numbers end with the pack
    std::vector<uint8_t> header(headerLength_);
    ReadAll(fd_, header.data(), headerLength_, 0);
    const std::string temp = path_ + ".kivpack";
    const int out = ::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) Throw(KIV_ERR_IO, SysText("Cannot create", temp));
    uint32_t kept = 0;
    try {
        WriteAll(out, header.data(), headerLength_, 0);
        std::vector<uint8_t> chunk(static_cast<size_t>(recordLength_) * 256);
        off_t at = headerLength_;
        for (uint32_t rec = 1; rec <= count_; rec += 256) {
            const uint32_t n = ReadRecords(rec, std::min<uint32_t>(256, count_ - rec + 1), chunk.data());
            for (uint32_t i = 0; i < n; ++i) {
                const uint8_t* img = &chunk[static_cast<size_t>(i) * recordLength_];
                if (img[0] == '*') continue;
                if (encrypted_) Scramble(const_cast<uint8_t*>(img) + 1, recordLength_ - 1, kept + 1);
                WriteAll(out, img, recordLength_, at);
                at += recordLength_;
                ++kept;
            }
        }
        const uint8_t eof = 0x1A;
        WriteAll(out, &eof, 1, at);
        uint8_t b[4];
        PutLE32(b, kept);
        WriteAll(out, b, 4, 4);
        if (::fsync(out) != 0 || ::rename(temp.c_str(), path_.c_str()) != 0)
            Throw(KIV_ERR_IO, SysText("Cannot replace", path_));
    } catch (...) {
        ::close(out);
        ::unlink(temp.c_str());
        throw;
    }
    // The packed file takes the place of the old one, locks included.
    TakeOverFile(out);
    count_ = stored_ = kept;
    Touch();
    RebuildIndexes();
}

std::vector<uint8_t> TableFile::BlankImage() const {
    std::vector<uint8_t> image(recordLength_);
    image[0] = ' ';
    for (const auto& f : fields_) SetEmptyImage(f, image.data(), type_);
    return image;
}

std::string TableFile::ReadBlob(const FieldDef& f, const uint8_t* image) {
    const BlobRef ref = ReadBlobRef(f, image, type_);
    if (!ref.block || memoFd_ < 0) return std::string();
    const off_t at = static_cast<off_t>(ref.block) * memoBlockSize_;
    // A damaged record or memo file may point anywhere: every block and
    // length is checked against the memo file's size before it is read.
    const uint64_t memoSize = MemoSize();
    auto damaged = [&](const std::string& what) {
        Throw(KIV_ERR_CORRUPT_FILE, "Memo file " + memoPath_ + " is damaged: the memo of field " + f.name + " " + what);
    };
    // A dBASE III memo has no block header: its last one may end a few
    // bytes into its block, at the end of the file.
    const uint64_t header = memoFormat_ == MemoFormat::Dbt ? 1 : 8;
    if (static_cast<uint64_t>(at) + header > memoSize)
        damaged("points at block " + std::to_string(ref.block) + ", past the end of the file");
    uint8_t head[8] = {};
    const size_t headBytes = static_cast<size_t>(std::min<uint64_t>(8, memoSize - static_cast<uint64_t>(at)));
    ReadAll(memoFd_, head, headBytes, at);
    uint32_t length;
    off_t data = at + 8;
    if (memoFormat_ == MemoFormat::Fpt) {
        length = BE32(head + 4);
    } else if (memoFormat_ == MemoFormat::Dbt) {
        if (headBytes == 8 && head[0] == 0xFF && head[1] == 0xFF && head[2] == 0x08 && head[3] == 0x00) {
            length = LE32(head + 4) - 8;
        } else {
            // Older memo files end a text with two end-of-file marks.
            std::string text;
            off_t pos = at;
            char buf[512];
            for (;;) {
                const ssize_t r = ::pread(memoFd_, buf, sizeof buf, pos);
                if (r <= 0) break;
                text.append(buf, static_cast<size_t>(r));
                const size_t end = text.find("\x1A\x1A");
                if (end != std::string::npos) {
                    text.resize(end);
                    break;
                }
                pos += r;
            }
            if (!text.empty() && text.back() == '\x1A') text.pop_back();
            return text;
        }
    } else {
        length = LE32(head + 4);
    }
    if (length > memoSize - static_cast<uint64_t>(data))
        damaged("claims " + std::to_string(length) + " bytes, more than the file holds");
    std::string out(length, '\0');
    if (length) ReadAll(memoFd_, out.data(), length, data);
    if (encrypted_) {
        RequireKey();
        Scramble(reinterpret_cast<uint8_t*>(out.data()), out.size(), (uint64_t(1) << 40) + ref.block);
    }
    return out;
}

uint32_t TableFile::BlobLength(const FieldDef& f, const uint8_t* image) {
    const BlobRef ref = ReadBlobRef(f, image, type_);
    if (!ref.block) return 0;
    if (type_ == KIV_TABLE_KDT && ref.length) return ref.length;
    return static_cast<uint32_t>(ReadBlob(f, image).size());
}

BlobRef TableFile::WriteBlob(const FieldDef& f, std::string_view data) {
    std::lock_guard lock(mutex_);
    return WriteBlobLocked(f, data);
}

BlobRef TableFile::WriteBlobLocked(const FieldDef& f, std::string_view data) {
    if (data.empty()) return BlobRef{};
    if (memoFd_ < 0 || !writable_)
        Throw(KIV_ERR_READ_ONLY, memoFd_ < 0 ? "Table " + path_ + " has no memo file" : "Memo file " + memoPath_ + " is not writable");
    if (data.size() > (1u << 30) - 16) Throw(KIV_ERR_INT_RANGE, "Value of field " + f.name + " is too long");
    HeaderGuard guard(*this, !exclusive_);
    uint8_t header[8];
    ReadAll(memoFd_, header, 8, 0);
    const uint32_t block = memoFormat_ == MemoFormat::Fpt ? BE32(header) : LE32(header);
    const bool text = f.type == KIV_FT_MEMO || f.type == KIV_FT_VARCHAR;
    // Each memo file in its own format: dBase III (.dbt of version 0x83
    // tables) keeps the text alone, the others put an 8-byte header first.
    const bool dbase3 = memoFormat_ == MemoFormat::Dbt && version_ == 0x83;
    const size_t at = dbase3 ? 0 : 8;
    std::vector<uint8_t> out(at + data.size());
    std::memcpy(&out[at], data.data(), data.size());
    if (dbase3) {
        // The text is ended by two end-of-file marks, which therefore cannot be part of it.
        if (data.find("\x1A\x1A") != std::string_view::npos)
            Throw(KIV_ERR_CONVERSION, "Memo file " + memoPath_ + " (dBase III) cannot hold the value of field " +
                                          f.name + ": it holds two end-of-file marks in a row");
        out.push_back(0x1A);
        out.push_back(0x1A);
    } else if (memoFormat_ == MemoFormat::Fpt) {
        PutBE32(&out[0], text ? 1 : 0);
        PutBE32(&out[4], static_cast<uint32_t>(data.size()));
    } else if (memoFormat_ == MemoFormat::Dbt) {
        // dBase IV: the length counts the block's own 8 bytes. End marks
        // follow the text for readers that take the length for the text's.
        out[0] = 0xFF; out[1] = 0xFF; out[2] = 0x08; out[3] = 0x00;
        PutLE32(&out[4], static_cast<uint32_t>(data.size() + 8));
        out.push_back(0x1F);
        out.push_back(0x1F);
    } else {
        PutLE32(&out[0], text ? 1 : 0);
        PutLE32(&out[4], static_cast<uint32_t>(data.size()));
    }
    if (encrypted_) {
        RequireKey();
        Scramble(&out[at], data.size(), (uint64_t(1) << 40) + block);
    }
    const uint32_t blocks = static_cast<uint32_t>((out.size() + memoBlockSize_ - 1) / memoBlockSize_);
    out.resize(static_cast<size_t>(blocks) * memoBlockSize_, 0);
    WriteAll(memoFd_, out.data(), out.size(), static_cast<off_t>(block) * memoBlockSize_);
    const uint32_t next = block + blocks;
    if (memoFormat_ == MemoFormat::Fpt) PutBE32(header, next);
    else PutLE32(header, next);
    WriteAll(memoFd_, header, 4, 0);
    return BlobRef{block, static_cast<uint32_t>(data.size())};
}

KIVRESULT TableFile::LockRecord(const void* owner, uint32_t recno, const Journal* journal) {
    RecoverDeadTransactions();
    std::lock_guard lock(mutex_);
    if (!writable_) return KIV_ERR_READ_ONLY;  // no write locks on a file this process may not write
    if (tableOwner_ && tableOwner_ != owner) return KIV_ERR_RECORD_LOCKED;
    auto it = recordOwners_.find(recno);
    if (it != recordOwners_.end()) return it->second == owner ? KIV_OK : KIV_ERR_RECORD_LOCKED;
    const auto kept = kept_.find(recno);
    if (kept != kept_.end() && kept->second != journal) return KIV_ERR_RECORD_LOCKED;
    // (Held records are locked for the holding, kept ones for their transaction.)
    if (!exclusive_ && !tableOwner_ && !InHeld(recno) && kept == kept_.end() &&
        !RangeLock(kLockBase + recno, 1, F_WRLCK, false))
        return KIV_ERR_RECORD_LOCKED;
    recordOwners_[recno] = owner;
    return KIV_OK;
}

void TableFile::UnlockRecord(const void* owner, uint32_t recno) {
    std::lock_guard lock(mutex_);
    auto it = recordOwners_.find(recno);
    if (it == recordOwners_.end() || it->second != owner) return;
    recordOwners_.erase(it);
    if (!exclusive_ && !tableOwner_ && !InHeld(recno) && !kept_.count(recno))
        RangeLock(kLockBase + recno, 1, F_UNLCK, false);
}

void TableFile::KeepLocked(uint32_t recno, const Journal* journal) {
    if (exclusive_) return;  // no other process, and no other handle
    std::lock_guard lock(mutex_);
    kept_.emplace(recno, journal);
}

void TableFile::ReleaseKept(uint32_t recno, const Journal* journal) {
    std::lock_guard lock(mutex_);
    auto it = kept_.find(recno);
    if (it == kept_.end() || it->second != journal) return;
    kept_.erase(it);
    if (!tableOwner_ && !InHeld(recno) && !recordOwners_.count(recno))
        RangeLock(kLockBase + recno, 1, F_UNLCK, false);
}

KIVRESULT TableFile::LockTable(const void* owner, const Journal* journal) {
    RecoverDeadTransactions();
    std::lock_guard lock(mutex_);
    if (!writable_) return KIV_ERR_READ_ONLY;
    if (tableOwner_) return tableOwner_ == owner ? KIV_OK : KIV_ERR_TABLE_LOCKED;
    if (heldBy_ && heldBy_ != journal) return KIV_ERR_TABLE_LOCKED;
    for (const auto& [rec, who] : recordOwners_)
        if (who != owner) return KIV_ERR_TABLE_LOCKED;
    for (const auto& [rec, by] : kept_)
        if (by != journal) return KIV_ERR_TABLE_LOCKED;
    if (!exclusive_ && !RangeLock(kLockBase + 1, kTableRange, F_WRLCK, false)) return KIV_ERR_TABLE_LOCKED;
    tableOwner_ = owner;
    return KIV_OK;
}

void TableFile::UnlockTable(const void* owner) {
    std::lock_guard lock(mutex_);
    if (tableOwner_ != owner) return;
    tableOwner_ = nullptr;
    if (exclusive_) return;
    // Releasing the range drops the record bytes too; take back those still
    // held or kept, and the records held for a transaction.
    RangeLock(kLockBase + 1, kTableRange, F_UNLCK, false);
    for (const auto& [rec, who] : recordOwners_) RangeLock(kLockBase + rec, 1, F_WRLCK, false);
    for (const auto& [rec, by] : kept_) RangeLock(kLockBase + rec, 1, F_WRLCK, false);
    if (heldBy_) heldLocked_ = LockHeldRange(F_WRLCK);
}

bool TableFile::HoldsRecord(const void* owner, uint32_t recno) {
    std::lock_guard lock(mutex_);
    auto it = recordOwners_.find(recno);
    return (it != recordOwners_.end() && it->second == owner) || tableOwner_ == owner;
}

bool TableFile::HoldsTable(const void* owner) {
    std::lock_guard lock(mutex_);
    return tableOwner_ == owner;
}

namespace {

uint64_t KeyOf(std::string_view password) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : std::string("kivtable:") + std::string(password)) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return h | 1;  // never 0, which means "no key"
}

uint32_t CheckOf(uint64_t key) { return static_cast<uint32_t>((key >> 40) & 0xFFFFFF); }

uint64_t SplitMix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace

void TableFile::Scramble(uint8_t* data, size_t n, uint64_t nonce) const {
    uint64_t state = key_ ^ (nonce * 0xD1B54A32D192ED03ULL);
    for (size_t i = 0; i < n; i += 8) {
        const uint64_t word = SplitMix(state);
        for (size_t k = 0; k < 8 && i + k < n; ++k) data[i + k] ^= static_cast<uint8_t>(word >> (8 * k));
    }
}

void TableFile::RequireKey() const {
    if (!key_) Throw(KIV_ERR_PASSWORD_REQUIRED, "Password is required to open encrypted table!");
}

void TableFile::SetKey(std::string_view password) {
    if (password.empty()) Throw(KIV_ERR_PASSWORD_MISSING, "No password given for table " + path_);
    const uint64_t key = KeyOf(password);
    if (encrypted_ && CheckOf(key) != check_)
        Throw(KIV_ERR_PASSWORD_REQUIRED, "The password does not open table " + path_);
    key_ = key;
    Touch();  // read caches hold what was read without the key
}

void TableFile::WriteEncryptionHeader(int fd) {
    uint8_t b[4] = {static_cast<uint8_t>(encrypted_ ? 1 : 0), static_cast<uint8_t>(check_),
                    static_cast<uint8_t>(check_ >> 8), static_cast<uint8_t>(check_ >> 16)};
    if (type_ == KIV_TABLE_KDT) WriteAll(fd, b, 4, 24);
    else {
        WriteAll(fd, b, 1, 15);
        WriteAll(fd, b + 1, 3, 16);
    }
}

void TableFile::Rewrite(bool encrypt) {
    if (!writable_) Throw(KIV_ERR_READ_ONLY, "Table " + path_ + " is open read-only");
    if (!exclusive_) Throw(KIV_ERR_SHARING, "Table " + path_ + " must be opened exclusively to change its encryption");
    if (encrypt == encrypted_) return;
    RequireKey();
    std::lock_guard lock(mutex_);
    const std::string temp = path_ + ".kivcrypt";
    const std::string memoPath = memoFd_ >= 0 ? memoPathFor(false) : std::string();
    const std::string memoTemp = memoPath + ".kivcrypt";
    const int out = ::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) Throw(KIV_ERR_IO, SysText("Cannot create", temp));
    int memoOut = -1;
    const int oldFd = fd_, oldMemo = memoFd_;
    try {
        std::vector<uint8_t> header(headerLength_);
        ReadAll(fd_, header.data(), headerLength_, 0);
        WriteAll(out, header.data(), headerLength_, 0);
        if (oldMemo >= 0) {
            memoOut = ::open(memoTemp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (memoOut < 0) Throw(KIV_ERR_IO, SysText("Cannot create", memoTemp));
            std::vector<uint8_t> memoHeader(kMemoHeader);
            ReadAll(oldMemo, memoHeader.data(), kMemoHeader, 0);
            const uint32_t firstFree = (kMemoHeader + memoBlockSize_ - 1) / memoBlockSize_;
            if (memoFormat_ == MemoFormat::Fpt) PutBE32(memoHeader.data(), firstFree);
            else PutLE32(memoHeader.data(), firstFree);
            WriteAll(memoOut, memoHeader.data(), kMemoHeader, 0);
        }
        std::vector<uint8_t> image(recordLength_);
        const uint32_t count = count_;
        std::vector<std::pair<const FieldDef*, std::string>> blobs;
        for (uint32_t rec = 1; rec <= count; ++rec) {
            // Read under the old state: the old file, the old key use.
            fd_ = oldFd;
            memoFd_ = oldMemo;
            if (ReadRecords(rec, 1, image.data()) != 1) Throw(KIV_ERR_CORRUPT_FILE, "Record " + std::to_string(rec) + " cannot be read");
            blobs.clear();
            for (const auto& f : fields_)
                if (IsBlobType(f.type)) blobs.emplace_back(&f, ReadBlob(f, image.data()));
            // Write under the new state: every blob and record into the new files.
            encrypted_ = encrypt;
            fd_ = out;
            memoFd_ = memoOut;
            for (const auto& [f, data] : blobs) WriteBlobRef(*f, image.data(), type_, WriteBlobLocked(*f, data));
            std::vector<uint8_t> stored = image;
            if (encrypt) Scramble(stored.data() + 1, recordLength_ - 1, rec);
            WriteAll(out, stored.data(), recordLength_, RecordOffset(rec));
            encrypted_ = !encrypt;
        }
        const uint8_t eof = 0x1A;
        WriteAll(out, &eof, 1, RecordOffset(count + 1));
        encrypted_ = encrypt;
        check_ = encrypt ? CheckOf(key_) : 0;
        WriteEncryptionHeader(out);
        if (::fsync(out) != 0 || (memoOut >= 0 && ::fsync(memoOut) != 0)) Throw(KIV_ERR_IO, SysText("Cannot write", temp));
        // The memo file first: the old table still points into the old memo
        // layout only until its own rename.
        if (memoOut >= 0 && ::rename(memoTemp.c_str(), memoPath.c_str()) != 0) Throw(KIV_ERR_IO, SysText("Cannot replace", memoPath));
        if (::rename(temp.c_str(), path_.c_str()) != 0) Throw(KIV_ERR_IO, SysText("Cannot replace", path_));
    } catch (...) {
        fd_ = oldFd;
        memoFd_ = oldMemo;
        encrypted_ = !encrypt;
        ::close(out);
        if (memoOut >= 0) ::close(memoOut);
        ::unlink(temp.c_str());
        if (!memoTemp.empty()) ::unlink(memoTemp.c_str());
        throw;
    }
    fd_ = oldFd;
    TakeOverFile(out);
    memoFd_ = memoOut;
    if (oldMemo >= 0) ::close(oldMemo);
    Touch();
}

void TableFile::Sync() {
    if (::fdatasync(fd_) != 0) Throw(KIV_ERR_IO, SysText("Cannot write", path_));
    if (memoFd_ >= 0 && ::fdatasync(memoFd_) != 0) Throw(KIV_ERR_IO, SysText("Cannot write", memoPath_));
}

bool TableFile::Stat(struct stat& st) const {
    if (::fstat(fd_, &st) != 0) return false;
    // The size the file has once the tail grown for appends is cut back.
    if (appendMap_) st.st_size = RecordOffset(stored_ + 1) + 1;
    return true;
}

void TableFile::TakeOverFile(int fd) {
    UnmapAppend(false);
    const int old = fd_;
    fd_ = fd;
    struct stat st;
    if (::fstat(fd_, &st) == 0) {
        std::lock_guard registryLock(gRegistryMutex);
        gRegistry.erase({dev_, ino_});
        dev_ = st.st_dev;
        ino_ = st.st_ino;
        gRegistry[{dev_, ino_}] = weak_from_this();
    }
    RangeLock(kOpenByte, 1, F_WRLCK, false);  // the exclusive open holds the new file too
    ::close(old);
}

IndexFile* TableFile::FindIndexFile(const std::string& path) {
    for (auto& f : indexFiles_)
        if (f->path() == path) return f.get();
    return nullptr;
}

IndexFile* TableFile::OpenIndex(const std::string& path) {
    if (IndexFile* f = FindIndexFile(path)) return f;
    // The file is read with the header locked: its counter is then compared
    // with a table no other process is changing.
    HeaderGuard guard(*this, !exclusive_);
    CatchUpIndexes();
    indexFiles_.push_back(std::make_unique<IndexFile>(*this, path, false));
    return indexFiles_.back().get();
}

IndexFile* TableFile::CreateIndexFile(const std::string& path) {
    if (IndexFile* f = FindIndexFile(path)) return f;
    HeaderGuard guard(*this, !exclusive_);
    CatchUpIndexes();
    indexFiles_.push_back(std::make_unique<IndexFile>(*this, path, !FileExists(path)));
    return indexFiles_.back().get();
}

uint32_t TableFile::ReadCounter() {
    if (!counterOffset_) return 0;
    uint8_t b[4];
    ReadAll(fd_, b, 4, counterOffset_);
    return LE32(b);
}

void TableFile::NoteChange(const uint32_t* recnos, size_t n) {
    if (!counterOffset_ || !writable_) return;
    uint8_t b[4];
    if (exclusive_) {
        // Nobody else writes: moving the counter once after each save of the
        // indexes is enough to tell a crash's leftovers from current files.
        if (!changeNoted_) {
            PutLE32(b, ++changes_);
            WriteAll(fd_, b, 4, counterOffset_);
            changeNoted_ = true;
        }
    } else {
        const uint32_t onDisk = ReadCounter();
        if (onDisk != changes_) {  // another process wrote since
            if (!indexesStale_) indexedFrom_ = changes_;
            indexesStale_ = true;
        }
        // One step for each record named, so that the log can name each.
        if (n > kChangeSlots) recnos = nullptr;
        const uint32_t steps = recnos && n ? static_cast<uint32_t>(n) : 1;
        changes_ = onDisk + steps;
        PutLE32(b, changes_);
        WriteAll(fd_, b, 4, counterOffset_);
        LogChanges(onDisk + 1, recnos, recnos ? steps : 0);
    }
    if (!dateStamped_ && IsDbfType(type_)) {
        uint8_t date[3];
        StampDate(date);
        WriteAll(fd_, date, 3, 1);
        dateStamped_ = true;
    }
}

namespace {

constexpr uint8_t kChangeLogMagic[8] = {'K', 'I', 'V', 'C', 'H', 'G', 1, 0};
constexpr off_t kChangeLogHeader = 16;
std::atomic<uint64_t> gOrderRebuilds{0};
std::atomic<uint64_t> gRecordsCaughtUp{0};

}  // namespace

uint64_t OrderRebuilds() { return gOrderRebuilds.load(); }
uint64_t RecordsCaughtUp() { return gRecordsCaughtUp.load(); }

std::string ChangeLogPath(const std::string& tablePath) { return tablePath + ".kivchg"; }

int TableFile::LogFd(bool write) {
    if (logFd_ >= 0 && (logWritable_ || !write)) return logFd_;
    if (write && logFailed_) return -1;
    const std::string path = ChangeLogPath(path_);
    const int fd = write ? ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)
                         : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // Without a log every other process rebuilds its orders, as it
        // does for a writer that keeps none.
        if (write) logFailed_ = true;
        return -1;
    }
    uint8_t head[kChangeLogHeader] = {};
    const constexpr off_t size = kChangeLogHeader + off_t(kChangeSlots) * 8;
    struct stat st;
    bool usable = ::pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
                  std::memcmp(head, kChangeLogMagic, 8) == 0 && LE32(head + 8) == kChangeSlots &&
                  ::fstat(fd, &st) == 0 && st.st_size >= size;
    if (!usable && write) {
        // A new log (writers make it with the header lock held), or one of
        // another layout: started anew, every slot empty.
        std::memset(head, 0, sizeof head);
        std::memcpy(head, kChangeLogMagic, 8);
        PutLE32(head + 8, kChangeSlots);
        usable = ::ftruncate(fd, 0) == 0 && ::ftruncate(fd, size) == 0 &&
                 ::pwrite(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head);
    }
    if (!usable) {
        ::close(fd);
        if (write) logFailed_ = true;
        return -1;
    }
    CloseLog();
    logFd_ = fd;
    logWritable_ = write;
    return fd;
}

void TableFile::DropChangeLog() {
    CloseLog();
    ::unlink(ChangeLogPath(path_).c_str());
}

void TableFile::CloseLog() {
    if (logFd_ >= 0) ::close(logFd_);
    logFd_ = -1;
    logWritable_ = false;
}

void TableFile::LogChanges(uint32_t first, const uint32_t* recnos, size_t n) {
    const int fd = LogFd(true);
    if (fd < 0) return;
    const size_t count = n ? n : 1;
    uint8_t slot[8];
    for (size_t i = 0; i < count; ++i) {
        const uint32_t value = first + static_cast<uint32_t>(i);
        PutLE32(slot, value);
        PutLE32(slot + 4, n ? recnos[i] : 0);
        const off_t at = kChangeLogHeader + off_t(value % kChangeSlots) * 8;
        if (::pwrite(fd, slot, 8, at) != 8) {
            // The slot keeps an older value: readers rebuild.
            return;
        }
    }
}

bool TableFile::LoggedRecords(uint32_t from, uint32_t to, std::vector<uint32_t>& recnos) {
    const uint32_t n = to - from;
    if (n == 0 || n > kChangeSlots) return n == 0;
    const int fd = LogFd(false);
    if (fd < 0) return false;
    std::vector<uint8_t> slots(static_cast<size_t>(n) * 8);
    // At most two runs of the ring.
    uint32_t done = 0;
    while (done < n) {
        const uint32_t index = (from + 1 + done) % kChangeSlots;
        const uint32_t run = std::min(n - done, kChangeSlots - index);
        const ssize_t want = static_cast<ssize_t>(run) * 8;
        if (::pread(fd, slots.data() + static_cast<size_t>(done) * 8, static_cast<size_t>(want),
                    kChangeLogHeader + off_t(index) * 8) != want)
            return false;
        done += run;
    }
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* slot = &slots[static_cast<size_t>(i) * 8];
        const uint32_t recno = LE32(slot + 4);
        if (LE32(slot) != from + 1 + i || recno == 0) return false;
        recnos.push_back(recno);
    }
    std::sort(recnos.begin(), recnos.end());
    recnos.erase(std::unique(recnos.begin(), recnos.end()), recnos.end());
    return true;
}

void TableFile::CatchUpFrom(const std::vector<uint32_t>* recnos) {
    if (recnos) {
        bool unique = false;
        for (auto& file : indexFiles_)
            for (auto& tag : file->tags()) unique = unique || tag->unique();
        // A unique order may have to take in a record that did not change
        // (one whose key another record left): such orders are rebuilt.
        if (!unique) {
            CatchUpRecords(*recnos);
            return;
        }
    }
    gOrderRebuilds.fetch_add(1);
    RebuildIndexes();
}

void TableFile::CatchUpRecords(const std::vector<uint32_t>& recnos) {
    const uint32_t count = Count(true);
    std::vector<uint8_t> image(recordLength_);
    std::string key;
    for (const uint32_t recno : recnos) {
        const bool present = recno <= count && ReadRecords(recno, 1, image.data()) == 1 && !AwaitsFirstWrite(recno);
        for (auto& file : indexFiles_) {
            for (auto& tag : file->tags()) {
                tag->EraseRecord(recno);
                if (present && tag->KeyOf(image.data(), recno, key)) tag->Insert(key, recno);
            }
            file->dirty = true;
        }
    }
    gRecordsCaughtUp.fetch_add(recnos.size());
}

void TableFile::CatchUpIndexes() {
    if (exclusive_ || !counterOffset_) return;
    const uint32_t onDisk = ReadCounter();
    if (!indexesStale_ && onDisk == changes_) return;
    if (!indexFiles_.empty()) {
        std::vector<uint32_t> recnos;
        const bool logged = LoggedRecords(indexesStale_ ? indexedFrom_ : changes_, onDisk, recnos);
        CatchUpFrom(logged ? &recnos : nullptr);
    }
    changes_ = onDisk;
    indexesStale_ = false;
}

void TableFile::SyncIndexes() {
    if (exclusive_ || indexFiles_.empty() || !counterOffset_) return;
    if (!indexesStale_ && ReadCounter() == changes_) return;
    // The counter and the log are read with the header lock, which a
    // writer keeps from moving them until its records are written; the
    // orders are then brought up to date without the lock, so that writers
    // go on meanwhile: the records hold at least what that counter names,
    // and a write meanwhile moves it on for the next catch-up (taking a
    // record in again is harmless).
    uint32_t onDisk;
    std::vector<uint32_t> recnos;
    bool logged;
    {
        HeaderGuard guard(*this, true);
        onDisk = ReadCounter();
        logged = LoggedRecords(indexesStale_ ? indexedFrom_ : changes_, onDisk, recnos);
    }
    CatchUpFrom(logged ? &recnos : nullptr);
    changes_ = onDisk;
    indexesStale_ = false;
}

void TableFile::SaveIndex(IndexFile& file) {
    if (!writable_) return;
    HeaderGuard guard(*this, !exclusive_);
    CatchUpIndexes();
    struct stat st;
    if (!Stat(st)) return;
    file.Save(st, CounterToSave());
    changeNoted_ = false;
}

void TableFile::MaintainIndexes(uint32_t recno, const uint8_t* oldImage, const uint8_t* newImage) {
    std::string oldKey, newKey;
    for (auto& file : indexFiles_) {
        for (auto& tag : file->tags()) {
            const bool hadKey = oldImage && tag->KeyOf(oldImage, recno, oldKey);
            const bool hasKey = newImage && tag->KeyOf(newImage, recno, newKey);
            if (hadKey && hasKey && oldKey == newKey) continue;
            if (hadKey) tag->Erase(oldKey, recno);
            if (hasKey) tag->Insert(newKey, recno);
            file->dirty = true;
        }
    }
}

void TableFile::RebuildIndexes() {
    for (auto& file : indexFiles_) {
        for (auto& tag : file->tags()) tag->Build();
        file->dirty = true;
    }
}

void TableFile::SaveIndexes() {
    if (!writable_) return;
    HeaderGuard guard(*this, !exclusive_);
    CatchUpIndexes();
    struct stat st;
    if (!Stat(st)) return;
    bool saved = false;
    for (auto& file : indexFiles_) {
        if (!file->dirty && file->savedChanges == CounterToSave()) continue;
        file->Save(st, CounterToSave());
        saved = true;
    }
    if (saved) changeNoted_ = false;
}

}  // namespace qel32
