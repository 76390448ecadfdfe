// One open table file, shared by every handle of the process that has it
// open: the header, the field definitions, record and blob I/O, and the
// record and table locks.
//
// Crash safety: records are written in place or past the end before the
// header's record count is rewritten, so a process killed at any moment
// leaves a header whose count names only complete records. Blobs are always
// written to fresh blocks before the record that points at them; the memo
// file's next-free pointer is rewritten last.
//
// Locks hold between handles of this process (an owner table) and between
// processes (open-file-description byte-range locks far past the end of the
// file: one byte per record, a range for the whole table, one byte for the
// open mode and one that serialises appends).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "fields.h"
#include "index.h"

namespace qel32 {

class Journal;

// The change log kept beside a table (see TableFile).
std::string ChangeLogPath(const std::string& tablePath);
// Test counters of this process: how often orders were rebuilt to catch up
// with other processes' changes, and how many records they caught up with
// one by one.
uint64_t OrderRebuilds();
uint64_t RecordsCaughtUp();

// Writes n bytes at the offset; a failure names path (KIV_ERR_IO).
void WriteAt(int fd, const void* data, size_t n, off_t at, const std::string& path);

class TableFile final : public std::enable_shared_from_this<TableFile>, public IndexedTable {
public:
    // Opens an existing table. typeHint decides between the two DBF types when
    // the file does not tell. Throws EngineError.
    static std::shared_ptr<TableFile> Open(const std::string& path, uint16_t typeHint, bool exclusive);
    // Creates a new table (failing when the file exists) and opens it. A
    // scratch table (a query result that lives only while it is open) skips
    // the flush to disk that a real table's header gets.
    static std::shared_ptr<TableFile> Create(const std::string& path, uint16_t type,
                                             std::vector<FieldDef> fields, uint16_t memoBlockSize,
                                             bool exclusive, bool scratch = false);
    ~TableFile();

    TableFile(const TableFile&) = delete;
    TableFile& operator=(const TableFile&) = delete;

    // Registers one more handle on an already open file.
    void Attach(bool exclusive);
    void Detach();

    // Those marked override are what the indexes read (IndexedTable, index.h).
    const std::string& path() const override { return path_; }
    uint8_t codePage() const override { return codePage_; }
    uint16_t type() const override { return type_; }
    const std::vector<FieldDef>& fields() const override { return fields_; }
    uint32_t recordLength() const override { return recordLength_; }
    bool exclusive() const { return exclusive_; }
    bool writable() const { return writable_; }
    bool hasMemo() const { return memoFd_ >= 0; }

    // Index of a field by designator, or -1.
    int FieldIndex(KIVFIELD field) const;

    uint32_t Count(bool fresh) override;
    uint32_t ReadRecords(uint32_t recno, uint32_t n, uint8_t* out) override;
    // Writes a record. Inside a transaction (journal) a shared open holds
    // the new image in memory until the transaction ends, as it holds the
    // records it appends: other processes, their orders and their SQL read
    // only committed records, while this process reads its own changes. At
    // the commit the held images are written (their journal notes were
    // made before the first change); an undo drops them. An exclusive open
    // writes in place, under the journal.
    void WriteRecord(uint32_t recno, const uint8_t* image, Journal* journal = nullptr);
    // Takes back a change of the transaction of journal: a held image is
    // dropped, a record written in place gets its before-image back.
    void UndoChange(uint32_t recno, const uint8_t* before, const Journal* journal);
    bool AwaitsFirstWrite(uint32_t recno) override;
    // A record as stored (scrambled on encrypted tables), for journals;
    // false when the file does not hold it.
    bool ReadStored(uint32_t recno, uint8_t* out);
    void WriteStored(uint32_t recno, const uint8_t* stored);
    // Appends a record (the image's autoinc fields filled in) and returns its
    // number. The record reaches the disk, and the header's count, with its
    // first WriteRecord: other processes never see it without its values. In
    // shared mode the new record is locked for owner, and the process holds
    // the table's append reservation until its appended records are written
    // (other processes wait for it, a while); a table lock held by another
    // owner refuses the append.
    //
    // Inside a transaction (journal) a shared open holds the records it
    // appends in memory until the transaction ends, as one run at the end of
    // the table: the process keeps the append reservation and the locks of
    // the records to come meanwhile, so other processes see none of them
    // before the commit, and their appends (and those of other connections
    // of this process) wait for it as for any reservation. Reads, writes and
    // locks of this process find the held records as if they were stored.
    uint32_t Append(const void* owner, uint8_t* image, Journal* journal = nullptr);
    // Whether recno is one of the appended records held in memory for the
    // transaction of journal.
    bool HeldFor(uint32_t recno, const Journal* journal);
    // The transaction of journal ends: its held records (changed ones
    // first, then appended ones) are written (after the journal's notes of
    // them), or dropped when it was undone.
    void EndHolding(const Journal* journal, bool keep);
    void Zap();
    // Takes back an appended record: cut off when it is still the last one,
    // else marked deleted.
    void RemoveAppended(uint32_t recno);
    // Removes deleted records by writing a new file and renaming it over.
    void Pack();
    // A blank record image with the table's empty values.
    std::vector<uint8_t> BlankImage() const;
    uint32_t LastAutoinc() const { return lastAutoinc_; }

    // Blob values.
    std::string ReadBlob(const FieldDef& f, const uint8_t* image) override;
    uint32_t BlobLength(const FieldDef& f, const uint8_t* image);
    BlobRef WriteBlob(const FieldDef& f, std::string_view data);

    // Encryption: record images (but their deletion flag) and blob data are
    // stored scrambled with a key made from the table's password.
    bool encrypted() const { return encrypted_; }
    bool hasKey() const { return key_ != 0; }
    // Gives the password; on an encrypted table a wrong one is refused.
    void SetKey(std::string_view password);
    void ClearKey() { key_ = 0; }
    // Writes table and memo file anew, encrypted with the key or plain, and
    // puts them in place of the old ones. Needs an exclusive open.
    void Rewrite(bool encrypt);

    // Brings the table's and the memo file's data to the disk (a commit
    // is durable once they are). Throws EngineError.
    void Sync();

    // Bumped on every change made through this process.
    uint64_t stamp() const { return stamp_.load(std::memory_order_acquire); }
    // Shared opens: a mark in the header that every process writing a record
    // sets anew (to a value never used before) once the record is written,
    // read from a shared mapping of the header without a system call. What
    // was read after the mark had a value holds while it keeps it. 0 when
    // the table has no room for the mark or the open is exclusive.
    uint32_t WriteMark() const {
        return headerMap_ ? __atomic_load_n(reinterpret_cast<const uint32_t*>(headerMap_ + markOffset_), __ATOMIC_ACQUIRE)
                          : 0;
    }
    bool HasWriteMark() const { return headerMap_ != nullptr; }
    // The mark's lowest bit tells that a transaction may be under way in a
    // shared open: it writes its changes in place, and when its process
    // died they are undone (RecoverDeadTransactions) before any other
    // process locks a record or the table. A transaction sets the bit once
    // its journal exists; whoever finds no journal left clears it.
    static constexpr uint32_t kTransactionBit = 1;
    // The next bit is set while a commit writes its records, which it does
    // holding the header lock: a read that meets it (or a write) is made
    // again beside the commit.
    static constexpr uint32_t kCommitBit = 2;
    void NoteTransaction();
    void RecoverDeadTransactions();
    // A transaction ended: clears the bit when no journal is left beside
    // the table.
    void EndTransactionNote();

    // Locks. owner identifies the handle, journal its open transaction.
    // Return KIV_OK or a conflict code.
    KIVRESULT LockRecord(const void* owner, uint32_t recno, const Journal* journal = nullptr);
    void UnlockRecord(const void* owner, uint32_t recno);
    // While records are held or kept for a transaction, only its own
    // handles (journal) may lock the table.
    KIVRESULT LockTable(const void* owner, const Journal* journal = nullptr);
    // A record the transaction of journal changes stays locked against
    // every other handle and process until the transaction ends, whatever
    // its handles unlock meanwhile: neither its commit nor its undo lands
    // on another's later change. Called with the record locked.
    void KeepLocked(uint32_t recno, const Journal* journal);
    // The transaction ended: the record's lock ends too, unless a handle
    // holds it.
    void ReleaseKept(uint32_t recno, const Journal* journal);
    void UnlockTable(const void* owner);
    bool HoldsRecord(const void* owner, uint32_t recno);
    bool HoldsTable(const void* owner);

    std::mutex& mutex() { return mutex_; }

    // Index files open on this file (shared by all its handles in this
    // process), kept up to date by every write.
    IndexFile* OpenIndex(const std::string& path);
    IndexFile* CreateIndexFile(const std::string& path);
    IndexFile* FindIndexFile(const std::string& path);
    void SaveIndexes();
    // What the last handle of the process leaves: the file cut back to its
    // records and the indexes written. Throws what cannot be written (the
    // next open then rebuilds that index).
    void Finish();
    // Writes one index file as it stands now (brought up to date first).
    void SaveIndex(IndexFile& file);
    // Change counter: a number in the table header that every write of every
    // process moves on before it touches a record. An index file keeps the
    // number its orders agree with; in memory the orders agree with
    // indexedChanges(). When another process changed the table since (shared
    // opens), the orders catch up: by the records the change log names, or
    // by a rebuild when the log does not reach back far enough.
    void SyncIndexes();
    uint32_t indexedChanges() const override { return changes_; }
    bool Stat(struct stat& st) const override;

private:
    class HeaderGuard;
    std::mutex headerMutex_;
    int headerDepth_ = 0;
    TableFile() = default;
    void ReadHeader();
    void IndexFieldNames();
    void WriteHeaderCount(uint32_t count);
    // Shared opens: the append reservation, taken when the first appended
    // record is pending and given back when the last one is written.
    void Reserve();
    void ReleaseReservation();
    // An appended record left the pending set: the header counts every
    // record up to the first one still pending.
    void Settle();
    void OpenMemo(bool create, uint16_t memoBlockSize);
    void TakeOpenLock();
    bool RangeLock(off_t start, off_t len, short type, bool wait);
    void Touch() { stamp_.fetch_add(1, std::memory_order_acq_rel); }
    // Held appends: the transaction's journal, the first held record and
    // their number (every one up to count_ is held), their images as
    // written (blank until then, never scrambled) in blocks of
    // kHeldBlock, and whether this process locks the records from
    // heldFirst_ on for the holding. Changed with both mutex_ and
    // pendingMutex_ held; reads take either.
    static constexpr uint32_t kHeldBlock = 1024;
    Journal* heldBy_ = nullptr;
    uint32_t heldFirst_ = 0;
    uint32_t held_ = 0;
    std::vector<std::unique_ptr<uint8_t[]>> heldBlocks_;
    std::vector<uint8_t> heldBlank_;
    bool heldLocked_ = false;
    std::atomic<bool> holding_{false};  // heldBy_ is set
    bool InHeld(uint32_t recno) const {
        return heldBy_ && recno >= heldFirst_ && recno - heldFirst_ < held_;
    }
    uint8_t* HeldImage(uint32_t recno) {
        const uint32_t i = recno - heldFirst_;
        return heldBlocks_[i / kHeldBlock].get() + static_cast<size_t>(i % kHeldBlock) * recordLength_;
    }
    // Copies the held records first..last (stored form when scrambled).
    void CopyHeld(uint32_t first, uint32_t last, uint8_t* out, bool scrambled);
    void ClearHeld();
    bool LockHeldRange(short type);
    // Changed records held for transactions: their images as written,
    // never scrambled. Changed with both mutex_ and pendingMutex_ held;
    // reads take either.
    struct HeldUpdate {
        const Journal* journal = nullptr;
        std::vector<uint8_t> image;
    };
    std::unordered_map<uint32_t, HeldUpdate> updates_;
    std::atomic<bool> updating_{false};  // updates_ is not empty
    bool IsPending(uint32_t recno);
    void WriteUpdates(const Journal* journal);
    void DropUpdates(const Journal* journal);
    // The change counter an index file is saved with: one that matches no
    // table while changes are held, so that no other process takes them.
    uint32_t CounterToSave() const {
        return updating_.load(std::memory_order_acquire) ? changes_ ^ 0x80000000u : changes_;
    }
    void WriteHeld();
    void DropHeld();
    off_t RecordOffset(uint32_t recno) const {
        return static_cast<off_t>(headerLength_) + static_cast<off_t>(recno - 1) * recordLength_;
    }
    // The layout of the memo file: dBase (.dbt), FoxPro (.fpt) or the
    // engine's own (.kdm). Type 1 tables of version 0x30 keep FoxPro memos,
    // as readers of that version expect (older ones of the engine: .dbt).
    enum class MemoFormat : uint8_t { Dbt, Fpt, Kdm };
    MemoFormat memoFormat_ = MemoFormat::Dbt;
    std::string memoPathFor(bool create) const;
    void WriteAll(int fd, const void* data, size_t n, off_t at);
    void ReadAll(int fd, void* data, size_t n, off_t at);

    std::string path_;
    uint16_t type_ = 0;
    uint8_t version_ = 0;  // DBF tables: the header's version byte
    uint8_t codePage_ = 0;  // DBF tables: the header's code page mark (see codepages.h)
    std::vector<FieldDef> fields_;
    uint32_t recordLength_ = 0;
    uint32_t headerLength_ = 0;
    uint32_t count_ = 0;
    // Appended records not yet written (held ones included). The header
    // counts records up to the first of them; stored_ is the count the
    // header holds.
    // Changed with both mutex_ and pendingMutex_ held; reads take either.
    std::vector<uint32_t> pending_;  // ascending
    std::mutex pendingMutex_;
    std::atomic<uint32_t> pendingCount_{0};
    bool TakePending(uint32_t recno);  // false when recno is not pending
    uint32_t stored_ = 0;
    bool reserved_ = false;
    uint32_t nextAutoinc_ = 1;
    uint32_t lastAutoinc_ = 0;
    int fd_ = -1;
    int memoFd_ = -1;
    std::string memoPath_;
    // The file an error names: the memo file or the table.
    const std::string& NameOf(int fd) const { return fd == memoFd_ && fd >= 0 ? memoPath_ : path_; }
    // The memo file's size, to check the blocks a record points at.
    uint64_t MemoSize() const;
    uint32_t memoBlockSize_ = 512;
    bool encrypted_ = false;
    uint32_t check_ = 0;  // 24 bits of the key, to refuse a wrong password
    uint64_t key_ = 0;
    void Scramble(uint8_t* data, size_t n, uint64_t nonce) const;
    BlobRef WriteBlobLocked(const FieldDef& f, std::string_view data);
    void RequireKey() const;
    void WriteEncryptionHeader(int fd);
    // A rewritten file (renamed over the old one) takes the old one's place.
    void TakeOverFile(int fd);
    // Exclusive opens: appended records and the header's count are written
    // through a shared mapping of the file, so that an append costs no system
    // call. The file grows ahead of the records in steps and is cut back to
    // them when the table closes (a crash leaves the tail past the end-of-file
    // mark, which nothing reads).
    uint8_t* appendMap_ = nullptr;
    size_t appendMapLength_ = 0;
    bool MapForAppend(off_t end);
    void UnmapAppend(bool cutBack);
    void WriteFile(const void* data, size_t n, off_t at);
    const uint8_t* headerMap_ = nullptr;
    off_t markOffset_ = 0;
    uint32_t ReadStoredRun(uint32_t recno, uint32_t n, uint8_t* out);
    // Reads of this file's own work, which holds mutex_, never run a
    // recovery (mayRecover false).
    uint32_t ReadRecordsFrom(uint32_t recno, uint32_t n, uint8_t* out, bool mayRecover);
    uint32_t ReadBesideCommits(uint32_t recno, uint32_t n, uint8_t* out, bool mayRecover);
    void MapWriteMark();
    void MoveWriteMark();
    uint32_t ReadMark();
    void SetMark(uint32_t value);
    bool writable_ = false;
    bool exclusive_ = false;
    int handles_ = 0;
    std::atomic<uint64_t> stamp_{1};

    // The change counter: where it lives in the header (0: the header has no
    // room for it), the value the orders in memory agree with, whether a
    // change of another process has outdated them, and (exclusive opens)
    // whether the counter on disk was moved on since the indexes were saved.
    off_t counterOffset_ = 0;
    uint32_t changes_ = 0;
    bool indexesStale_ = false;
    bool changeNoted_ = false;
    bool dateStamped_ = false;
    uint32_t ReadCounter();
    // Called before every write to the table file (shared opens: with the
    // header lock held), with the numbers of the records the write changes
    // (none: the whole table may change).
    void NoteChange(const uint32_t* recnos = nullptr, size_t n = 0);
    // With the header lock held: brings the orders up to date if they are
    // outdated.
    void CatchUpIndexes();
    // The counter value the orders agreed with when a change of another
    // process was first noticed (valid while indexesStale_).
    uint32_t indexedFrom_ = 0;
    // The change log beside the table (path_ + ".kivchg"): a ring of slots
    // that writers of shared opens fill, with the header lock held, as they
    // move the counter on: slot v % kChangeSlots holds v and the record that
    // change v wrote (0: any record). Other processes read the records the
    // slots name since their orders' counter; a slot that holds another
    // value (overwritten, never written, or a writer that keeps no log)
    // makes them rebuild the orders instead.
    static constexpr uint32_t kChangeSlots = 4096;
    int logFd_ = -1;
    bool logWritable_ = false;
    bool logFailed_ = false;
    int LogFd(bool write);
    void CloseLog();
    void DropChangeLog();
    void LogChanges(uint32_t first, const uint32_t* recnos, size_t n);
    // With the header lock held: the records changes from+1..to name, or
    // false when the log does not tell them all.
    bool LoggedRecords(uint32_t from, uint32_t to, std::vector<uint32_t>& recnos);
    // Brings the orders from counter value from to to: record by record
    // when the log tells which, else by a rebuild. recnos, when given, are
    // what the log told (read with the header lock).
    void CatchUpFrom(const std::vector<uint32_t>* recnos);
    void CatchUpRecords(const std::vector<uint32_t>& recnos);

    std::vector<uint8_t> appendBuffer_;
    std::vector<int32_t> nameSlots_;  // open hash of field names, -1 = empty
    std::vector<std::unique_ptr<IndexFile>> indexFiles_;
    // Moves a record's keys from its old image to its new one in every order.
    void MaintainIndexes(uint32_t recno, const uint8_t* oldImage, const uint8_t* newImage);
    void RebuildIndexes();
    std::mutex mutex_;
    std::unordered_map<uint32_t, const void*> recordOwners_;
    std::unordered_map<uint32_t, const Journal*> kept_;  // records kept locked for transactions
    const void* tableOwner_ = nullptr;

    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

}  // namespace qel32
