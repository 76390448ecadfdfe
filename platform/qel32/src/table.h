// Connections and table handles: a table handle has its own record pointer,
// its buffer of the current record with pending changes, its read-ahead
// cache and the locks it holds.
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "handles.h"
#include "expr.h"
#include "index.h"
#include "journal.h"
#include "storage.h"

namespace qel32 {

class Table;
class Dictionary;
class SqlSession;

// Before-images of the records a connection changed inside its transaction.
struct UndoEntry {
    std::shared_ptr<TableFile> file;
    uint32_t recno;
    bool appended;               // the record did not exist before
    std::vector<uint8_t> before; // the stored image before the first change
    off_t journalAt = 0;         // the table's journal length before this change
    bool takenBack = false;      // an append the handle took back: nothing to undo
};

// The log lives in memory; the journal keeps it on disk, so that a crash
// undoes an unfinished transaction.
struct Transaction {
    Journal journal;
    std::deque<UndoEntry> log;  // (grows without moving its entries)
    // The records the log holds, so that a record's later changes are known
    // as such without searching the log.
    std::set<std::pair<const TableFile*, uint32_t>> logged;
    std::vector<std::pair<std::string, size_t>> savepoints;  // name, log size at the mark
    // The records kept locked until the transaction ends.
    std::vector<std::pair<std::shared_ptr<TableFile>, uint32_t>> kept;
};

// The process's current database folder ("" when none was chosen).
std::string CurrentDatabase();

class Connection : public Object, public std::enable_shared_from_this<Connection> {
public:
    Connection(Kind kind, std::string given, std::string directory, uint16_t serverTypes, uint16_t connectionType);
    ~Connection() override;

    const std::string& given() const { return given_; }
    const std::string& directory() const { return directory_; }
    // The folder the connection's SQL finds and makes free tables in: the
    // database "use" chose for the process, else the connection's folder.
    std::string tableFolder() const;
    uint16_t serverTypes() const { return serverTypes_; }
    uint16_t connectionType() const { return connectionType_; }

    void AddTable(KIVHANDLE table);
    void RemoveTable(KIVHANDLE table);
    std::vector<KIVHANDLE> Tables();

    // Transactions: the log is kept while one is open.
    bool InTransaction() const { return transaction_ != nullptr; }
    // The journal of the open transaction, else null.
    Journal* journal() { return transaction_ ? &transaction_->journal : nullptr; }
    void Begin();
    void Commit();
    void Rollback(const std::string& savepoint = std::string());
    void Savepoint(const std::string& name);
    bool HasSavepoint(const std::string& name) const;
    // Forgets the savepoint and the ones after it; their changes stay.
    void ReleaseSavepoint(const std::string& name);
    // Forgets that savepoint alone: the ones taken after it stay.
    void DropSavepoint(const std::string& name);
    // The same with the pending changes of the connection's table handles
    // written first (commit) or dropped (rollback), as the engine calls and
    // SQL's COMMIT and ROLLBACK do.
    void CommitWork();
    void RollbackWork(const std::string& savepoint = std::string());
    // Called before a stored record changes (or right after an append).
    void LogChange(const std::shared_ptr<TableFile>& file, uint32_t recno, bool appended);
    // An append held for the transaction was taken back: a rollback leaves
    // that record number alone.
    void ForgetAppend(const TableFile& file, uint32_t recno);
    // The same for an append the journal noted, when nothing was noted
    // after it: the note is cut off. False when that cannot be.
    bool CutNotedAppend(const TableFile& file, uint32_t recno);

    // The data dictionary of a dictionary connection, else null.
    std::shared_ptr<Dictionary> dictionary;
    std::string user;
    // The SQL session, made at the first statement.
    SqlSession& Sql();
    // Results of the connection's SQL still being read are read to their
    // end: done before anything on the connection changes data or ends a
    // transaction, so that a result stays what it was when it ran.
    void FinishResults();
    void CloseSql();
    // Statements of the connection, closed with it.
    void AddStatement(KIVHANDLE statement);
    void RemoveStatement(KIVHANDLE statement);
    std::vector<KIVHANDLE> Statements();

private:
    std::string given_;
    std::string directory_;
    uint16_t serverTypes_;
    uint16_t connectionType_;
    std::mutex mutex_;
    std::set<KIVHANDLE> tables_;
    std::set<KIVHANDLE> statements_;
    std::unique_ptr<Transaction> transaction_;
    std::unique_ptr<SqlSession> sql_;
    void EndSqlTransaction(bool commit);
    // The transaction is over: its records' locks end, and it goes.
    void EndTransaction();
};

// The order a handle visits rows in: position p (1..Size) names a record.
class RowOrder {
public:
    virtual ~RowOrder() = default;
    virtual uint32_t Size(TableFile& file, bool fresh) = 0;
    virtual uint32_t RecordAt(uint32_t position) const = 0;
    // The position of a record, 0 when the order does not hold it.
    virtual uint32_t PositionOf(uint32_t recno) const = 0;
    // A record appended through the handle joins the order.
    virtual void Added(uint32_t) {}
    // An appended record that was never written leaves the order again.
    virtual void Removed(uint32_t) {}
    // Whether callers see positions as record numbers (physical and keyset
    // orders) or the physical numbers of the records (index orders).
    virtual bool PositionsAreRecordNumbers() const { return true; }
};

// Record-number order over the whole file.
class PhysicalOrder : public RowOrder {
public:
    uint32_t Size(TableFile& file, bool fresh) override { return file.Count(fresh); }
    uint32_t RecordAt(uint32_t position) const override { return position; }
    uint32_t PositionOf(uint32_t recno) const override { return recno; }
};

// A fixed list of record numbers (a live cursor's rows).
class KeysetOrder : public RowOrder {
public:
    explicit KeysetOrder(std::vector<uint32_t> records) : records_(std::move(records)) {}
    uint32_t Size(TableFile&, bool) override { return static_cast<uint32_t>(records_.size()); }
    uint32_t RecordAt(uint32_t position) const override { return records_[position - 1]; }
    uint32_t PositionOf(uint32_t recno) const override;
    void Added(uint32_t recno) override { records_.push_back(recno); }
    void Removed(uint32_t recno) override;

private:
    std::vector<uint32_t> records_;
};

struct OpenRequest {
    uint16_t charType = KIV_CHAR_ANSI;
    uint16_t lockType = KIV_LOCK_COMPATIBLE;
    bool exclusive = false;
    bool readOnly = false;
    uint8_t privileges = 0xF0;  // read 0x10, update 0x20, insert 0x40, delete 0x80
    std::string alias;
};

class IndexHandle;

// The rows still to come of a result that fills as it is read.
class ResultSource {
public:
    virtual ~ResultSource() = default;
    // Appends the next row to `result` (Append, values, Flush); false when
    // there is none. A failure throws with no row appended.
    virtual bool AppendNext(Table& result) = 0;
};

// Engine-wide setting: whether deleted records of DBF tables are visible.
extern std::atomic<bool> gShowDeleted;

class Table : public Object {
public:
    Table(std::shared_ptr<Connection> connection, std::shared_ptr<TableFile> file, const OpenRequest& request,
          Kind kind = Kind::Table, std::unique_ptr<RowOrder> order = nullptr);
    ~Table() override;

    TableFile& file() { return *file_; }
    const std::shared_ptr<Connection>& connection() const { return connection_; }
    const OpenRequest& request() const { return request_; }
    const std::string& alias() const { return request_.alias; }
    uint16_t type() const { return file_->type(); }
    uint32_t OptionWord() const;

    // Field lookup; throws KIV_ERR_FIELD_NOT_FOUND.
    const FieldDef& Field(KIVFIELD field, int* index = nullptr) const;

    // Position.
    bool bof() const { return bof_; }
    bool eof() const { return eof_; }
    bool haveRecord() const { return haveRecord_; }
    // The record number callers see: the physical number (at EOF the count
    // + 1); for result cursors the row's position.
    uint32_t recno() const;
    uint32_t position() const { return pos_; }
    // Navigation follows this order from now on; the record stays current.
    void UseOrder(RowOrder* order);
    RowOrder* ownOrder() { return ownOrder_.get(); }
    RowOrder* order() { return order_; }
    // The physical record the handle is on.
    uint32_t physicalRecord() const { return recno_; }
    // Cursors over results: static ones cannot be locked or changed.
    bool isStatic = false;
    bool isLive = false;
    // A static cursor whose rows come from `source` as they are needed:
    // moving forward reads the rows it reaches, a count, a move to the
    // bottom or backward from the end reads them all. Calls that look at
    // the result file itself read it whole first (ReadWholeResult).
    void SetResultSource(std::unique_ptr<ResultSource> source) { source_ = std::move(source); }
    bool resultPending() const { return source_ != nullptr; }
    // Reads the result until it holds `rows` rows or has no more; the
    // record pointer stays. A failure of the source is thrown here and
    // again by every later call that needs rows past those read.
    void ReadResult(uint32_t rows);
    void ReadWholeResult() { ReadResult(UINT32_MAX); }
    void GoTop();
    void GoBottom();
    void GoBOF();
    void Skip(int32_t count);
    // Physical move; throws KIV_ERR_NO_SUCH_RECORD (at EOF afterwards) for a
    // number that names no record. A hidden record leaves the table at EOF.
    void GoTo(uint32_t recno);
    uint32_t CountVisible();
    bool CurrentVisible();

    // The current record (pending changes included).
    const std::vector<uint8_t>& image() const { return image_; }
    void RequireRecord() const;

    // Values.
    std::string GetText(int index, bool trim);
    std::string GetBlob(int index);
    uint32_t BlobLength(int index);
    Value GetValue(int index);
    bool IsEmpty(int index);
    KIVRESULT SetValue(int index, const Value& value);
    KIVRESULT SetBytes(int index, std::string_view bytes);
    KIVRESULT SetRaw(int index, std::string_view image);
    void SetEmpty(int index);
    void SetRecordImage(std::string_view image);

    // Editing.
    void Append();
    void Flush();
    void Delete(bool deleted);
    KIVRESULT Cancel();
    void TakeBackAppend();
    void Refresh();
    bool dirty() const { return dirty_; }

    // Locks.
    void LockRecord(uint32_t recno);
    void UnlockRecord(uint32_t recno);
    void LockTable();
    void UnlockAll();

    void SetReadAhead(uint32_t records) { readAhead_ = records ? records : 1; }
    uint32_t lastAutoinc() const { return lastAutoinc_; }

    // Closes: writes pending changes (reporting a failure) and releases locks.
    void Close();
    // Files removed when the handle closes (a result cursor's own files).
    std::vector<std::string> removeOnClose;

    // Filters and the array of records (AOF) decide visibility too; exact
    // is the "=" rule for texts in them.
    std::unique_ptr<Expression> filter;
    std::unique_ptr<Expression> aof;
    std::unique_ptr<Expression> locateCondition;
    bool exact = false;
    bool found = false;
    // Index files of the handle with the index handles of their orders:
    // files opened by name first, in opening order, then the production
    // index that opened with the table.
    struct OpenIndexFile {
        IndexFile* file;
        bool automatic;
        std::vector<KIVHANDLE> handles;
    };
    std::vector<OpenIndexFile> openIndexes;
    // Moves forward from a position to the first visible record; false (and
    // EOF) when there is none.
    bool MoveTo(uint32_t position);
    // Moves backward from a position to the last visible record.
    bool MoveBackTo(uint32_t position);
    // Evaluates an expression on the current record (the empty record at EOF).
    XValue Evaluate(const Expression& expression);
    ImageSource Source() { return ImageSource(*file_, image_.data(), recno_); }
    // Moves to a physical record in the current order; false when the order
    // does not hold it or it is not visible.
    bool GoToRecordInOrder(uint32_t recno);
    bool Visible() { return CurrentVisible(); }
    void SetEofPublic() { SetEof(); bof_ = false; }

private:
    void Load(uint32_t recno, bool fresh);
    bool LoadAt(uint32_t position, bool fresh);
    void SetEof();
    bool LoadedVisible();
    uint32_t Size(bool fresh) { return order_->Size(*file_, fresh); }
    uint32_t ScanForward(uint32_t from, uint32_t size);
    uint32_t ScanBackward(uint32_t from);
    void CheckWrite(uint8_t privilege) const;
    // Whether the handle's writes reach a table others read (a result's own
    // file is the cursor's alone).
    bool WritesTableData() const { return connection_ && (kind() != Kind::Cursor || isLive); }
    void StampAutoFields();
    // The record pointer and buffer as they were, put back when it goes
    // (reads that move them on the caller's behalf).
    class KeptPlace {
    public:
        explicit KeptPlace(Table& table);
        ~KeptPlace();
        KeptPlace(const KeptPlace&) = delete;
        KeptPlace& operator=(const KeptPlace&) = delete;

    private:
        Table& table_;
        uint32_t pos_, recno_, hiddenPos_;
        bool bof_, eof_, haveRecord_;
        std::vector<uint8_t> image_;
    };

    std::shared_ptr<Connection> connection_;
    std::shared_ptr<TableFile> file_;
    OpenRequest request_;
    std::unique_ptr<RowOrder> ownOrder_;
    RowOrder* order_ = nullptr;
    bool closed_ = false;

    uint32_t pos_ = 0;
    uint32_t recno_ = 0;
    bool bof_ = true;
    bool eof_ = true;
    bool haveRecord_ = false;
    // At EOF after going to a hidden record: that record's position, from
    // which the next skip counts (0 otherwise).
    uint32_t hiddenPos_ = 0;
    std::vector<uint8_t> image_;
    bool dirty_ = false;
    std::map<int, std::string> pendingBlobs_;
    std::vector<uint8_t> appended_;  // blank image of an appended record not yet written
    bool firstWriteFailed_ = false;  // the appended record's first write failed
    std::set<uint32_t> lockedRecords_;
    uint32_t lastAutoinc_ = 0;
    std::unique_ptr<ResultSource> source_;
    bool appendingResult_ = false;  // the source is adding a row
    KIVRESULT sourceFailure_ = KIV_OK;
    std::string sourceFailureText_;

    // Field names as the caller last passed them, by pointer (see Field()).
    struct NameHit {
        const char* name = nullptr;
        int index = -1;
    };
    mutable NameHit nameHits_[8];

    std::vector<uint8_t> cache_;
    uint32_t cacheFirst_ = 0;
    uint32_t cacheCount_ = 0;
    uint64_t cacheStamp_ = 0;
    uint32_t cacheMark_ = 0;
    uint32_t readAhead_ = 1;
};

// An order of a table handle: navigation through it moves the table's one
// record pointer in key order, within the handle's scopes.
class IndexHandle : public Object, public RowOrder {
public:
    IndexHandle(Table& table, IndexFile& file, Tag& tag) : Object(Kind::Index), table(table), file(file), tag(tag) {}

    Table& table;
    IndexFile& file;
    Tag& tag;

    // Scopes, as stored keys, and the texts they were given as.
    bool hasTop = false, hasBottom = false;
    std::string top, bottom;
    std::string topGiven, bottomGiven;
    void ScopesChanged() { cachedVersion_ = 0; }

    // Raw keys are built field by field in a record of their own.
    std::vector<uint8_t> rawImage;

    uint32_t Size(TableFile& file, bool fresh) override;
    uint32_t RecordAt(uint32_t position) const override;
    uint32_t PositionOf(uint32_t recno) const override;
    bool PositionsAreRecordNumbers() const override { return false; }
    // The entry range the scopes leave: [first, last).
    uint32_t First() const {
        Bounds();
        return first_;
    }

private:
    void Bounds() const;
    mutable uint64_t cachedVersion_ = 0;
    mutable uint32_t first_ = 0, last_ = 0;
};

}  // namespace qel32
