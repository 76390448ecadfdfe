#include "table.h"

#include <algorithm>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "kivwin/win.h"
#include "codepages.h"
#include "dates.h"
#include "dictionary.h"
#include "sqlsession.h"
#include "paths.h"

namespace qel32 {

std::atomic<bool> gShowDeleted{true};

// ---------------------------------------------------------------- Connection

std::string Connection::tableFolder() const {
    if (!dictionary) {
        std::string chosen = CurrentDatabase();
        if (!chosen.empty()) return chosen;
    }
    return directory_;
}

Connection::Connection(Kind kind, std::string given, std::string directory, uint16_t serverTypes,
                       uint16_t connectionType)
    : Object(kind),
      given_(std::move(given)),
      directory_(std::move(directory)),
      serverTypes_(serverTypes),
      connectionType_(connectionType) {}

Connection::~Connection() {
    if (!transaction_) return;
    // Going without a commit keeps what was written, as the journal does.
    try {
        transaction_->journal.Commit();
    } catch (...) {
        transaction_->journal.Abandon();
    }
    EndTransaction();
}

void Connection::EndTransaction() {
    for (const auto& [file, recno] : transaction_->kept) file->ReleaseKept(recno, &transaction_->journal);
    transaction_.reset();
}

SqlSession& Connection::Sql() {
    if (!sql_) sql_ = std::make_unique<SqlSession>(*this);
    return *sql_;
}

void Connection::CloseSql() { sql_.reset(); }

void Connection::FinishResults() {
    if (sql_) sql_->FinishPendingResults();
}

void Connection::AddStatement(KIVHANDLE statement) {
    std::lock_guard lock(mutex_);
    statements_.insert(statement);
}

void Connection::RemoveStatement(KIVHANDLE statement) {
    std::lock_guard lock(mutex_);
    statements_.erase(statement);
}

std::vector<KIVHANDLE> Connection::Statements() {
    std::lock_guard lock(mutex_);
    return std::vector<KIVHANDLE>(statements_.begin(), statements_.end());
}

void Connection::AddTable(KIVHANDLE table) {
    std::lock_guard lock(mutex_);
    tables_.insert(table);
}

void Connection::RemoveTable(KIVHANDLE table) {
    std::lock_guard lock(mutex_);
    tables_.erase(table);
}

std::vector<KIVHANDLE> Connection::Tables() {
    std::lock_guard lock(mutex_);
    return std::vector<KIVHANDLE>(tables_.begin(), tables_.end());
}

void Connection::Begin() {
    FinishResults();
    if (transaction_) Throw(KIV_ERR_INVALID_ARGUMENT, "A transaction is already open on this connection");
    transaction_ = std::make_unique<Transaction>();
}

void Connection::Commit() {
    if (!transaction_) Throw(KIV_ERR_INVALID_ARGUMENT, "No transaction is open on this connection");
    transaction_->journal.Commit();
    EndTransaction();
    if (sql_) sql_->ReleaseTables();
}

void Connection::CommitWork() {
    FinishResults();
    for (KIVHANDLE h : Tables())
        if (auto* t = dynamic_cast<Table*>(HandleTable::Instance().Find(h))) t->Flush();
    Commit();
    EndSqlTransaction(true);
}

void Connection::RollbackWork(const std::string& savepoint) {
    FinishResults();
    for (KIVHANDLE h : Tables())
        if (auto* t = dynamic_cast<Table*>(HandleTable::Instance().Find(h))) t->Cancel();
    Rollback(savepoint);
    if (savepoint.empty()) EndSqlTransaction(false);
}

void Connection::EndSqlTransaction(bool commit) {
    // A transaction SQL began ends with the engine's: the SQL session's own
    // (which holds nothing else) follows.
    if (sql_ && !sqlite3_get_autocommit(sql_->db()))
        sqlite3_exec(sql_->db(), commit ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
}

void Connection::Savepoint(const std::string& name) {
    FinishResults();
    if (!transaction_) Throw(KIV_ERR_INVALID_ARGUMENT, "No transaction is open on this connection");
    if (name.empty()) Throw(KIV_ERR_EMPTY_ARGUMENT, "A savepoint needs a name");
    transaction_->savepoints.emplace_back(Upper(name), transaction_->log.size());
}

bool Connection::HasSavepoint(const std::string& name) const {
    if (!transaction_) return false;
    const std::string wanted = Upper(name);
    for (const auto& s : transaction_->savepoints)
        if (s.first == wanted) return true;
    return false;
}

void Connection::ReleaseSavepoint(const std::string& name) {
    if (!transaction_) return;
    auto& marks = transaction_->savepoints;
    const std::string wanted = Upper(name);
    auto it = std::find_if(marks.rbegin(), marks.rend(), [&](const auto& s) { return s.first == wanted; });
    if (it != marks.rend()) marks.erase(std::prev(it.base()), marks.end());
}

void Connection::DropSavepoint(const std::string& name) {
    if (!transaction_) return;
    auto& marks = transaction_->savepoints;
    const std::string wanted = Upper(name);
    auto it = std::find_if(marks.rbegin(), marks.rend(), [&](const auto& s) { return s.first == wanted; });
    if (it != marks.rend()) marks.erase(std::prev(it.base()));
}

void Connection::LogChange(const std::shared_ptr<TableFile>& file, uint32_t recno, bool appended) {
    if (!transaction_) return;
    Journal& journal = transaction_->journal;
    // A record the table holds in memory for this transaction was appended
    // by it, and that is its first change; its note is written with it.
    if (file->HeldFor(recno, &journal)) {
        if (appended) transaction_->log.push_back(UndoEntry{file, recno, true, {}, journal.Length(file)});
        return;
    }
    // Only the first change of a record inside the transaction matters.
    if (!transaction_->logged.emplace(file.get(), recno).second) return;
    UndoEntry entry{file, recno, appended, {}};
    if (!appended) {
        entry.before.resize(file->recordLength());
        if (file->ReadRecords(recno, 1, entry.before.data()) != 1) {
            transaction_->logged.erase({file.get(), recno});
            Throw(KIV_ERR_IO, "Record " + std::to_string(recno) + " cannot be read for the transaction log");
        }
    }
    entry.journalAt = journal.Note(file, recno, appended);
    transaction_->log.push_back(std::move(entry));
    file->KeepLocked(recno, &journal);
    transaction_->kept.emplace_back(file, recno);
}

void Connection::ForgetAppend(const TableFile& file, uint32_t recno) {
    if (!transaction_) return;
    auto& log = transaction_->log;
    for (auto it = log.rbegin(); it != log.rend(); ++it) {
        if (it->file.get() != &file || it->recno != recno || !it->appended || it->takenBack) continue;
        it->takenBack = true;
        return;
    }
}

bool Connection::CutNotedAppend(const TableFile& file, uint32_t recno) {
    if (!transaction_ || transaction_->log.empty()) return false;
    UndoEntry& e = transaction_->log.back();
    if (e.file.get() != &file || e.recno != recno || !e.appended || e.takenBack) return false;
    // The journal forgets it first: a crash from here on leaves that number
    // (perhaps another's record by then) alone.
    transaction_->journal.CutBack(file, e.journalAt);
    e.takenBack = true;
    transaction_->logged.erase({&file, recno});
    return true;
}

void Connection::Rollback(const std::string& savepoint) {
    if (!transaction_) Throw(KIV_ERR_INVALID_ARGUMENT, "No transaction is open on this connection");
    size_t keep = 0;
    if (!savepoint.empty()) {
        const std::string name = Upper(savepoint);
        auto it = std::find_if(transaction_->savepoints.rbegin(), transaction_->savepoints.rend(),
                               [&](const auto& s) { return s.first == name; });
        if (it == transaction_->savepoints.rend()) Throw(KIV_ERR_INVALID_ARGUMENT, "No savepoint " + savepoint);
        keep = it->second;
        transaction_->savepoints.erase(it.base(), transaction_->savepoints.end());
    }
    auto& log = transaction_->log;
    KIVRESULT failure = KIV_OK;
    std::string text;
    while (log.size() > keep) {
        UndoEntry& e = log.back();
        try {
            if (e.takenBack) {
                // nothing of it is left to undo
            } else if (e.appended) e.file->RemoveAppended(e.recno);
            else e.file->UndoChange(e.recno, e.before.data(), &transaction_->journal);
            // Undone: a crash from here on must not undo it again.
            transaction_->journal.CutBack(*e.file, e.journalAt);
        } catch (const EngineError& err) {
            if (!failure) {
                failure = err.code();
                text = err.what();
            }
        }
        transaction_->logged.erase({e.file.get(), e.recno});
        log.pop_back();
    }
    if (savepoint.empty()) {
        if (failure) transaction_->journal.Abandon();  // the next open finishes the undo
        else transaction_->journal.Discard();
        EndTransaction();
        if (sql_) sql_->ReleaseTables();
    }
    if (failure) Throw(failure, text);
}

void KeysetOrder::Removed(uint32_t recno) {
    for (size_t i = records_.size(); i > 0; --i) {
        if (records_[i - 1] != recno) continue;
        records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(i - 1));
        return;
    }
}

uint32_t KeysetOrder::PositionOf(uint32_t recno) const {
    for (size_t i = 0; i < records_.size(); ++i)
        if (records_[i] == recno) return static_cast<uint32_t>(i + 1);
    return 0;
}

// --------------------------------------------------------------------- Table

Table::Table(std::shared_ptr<Connection> connection, std::shared_ptr<TableFile> file, const OpenRequest& request,
             Kind kind, std::unique_ptr<RowOrder> order)
    : Object(kind),
      connection_(std::move(connection)),
      file_(std::move(file)),
      request_(request),
      ownOrder_(order ? std::move(order) : std::make_unique<PhysicalOrder>()),
      order_(ownOrder_.get()) {
    image_ = file_->BlankImage();
    readAhead_ = file_->exclusive() || file_->HasWriteMark() ? 256 : 1;
}

Table::~Table() {
    if (!closed_) {
        try {
            Close();
        } catch (...) {
            // a destructor reports nothing; Close() is the place for errors
        }
    }
}

void Table::Close() {
    if (closed_) return;
    closed_ = true;
    source_.reset();  // the rest of a result is not read
    KIVRESULT failure = KIV_OK;
    std::string text;
    try {
        Flush();
    } catch (const EngineError& e) {
        failure = e.code();
        text = e.what();
    }
    for (uint32_t rec : lockedRecords_) file_->UnlockRecord(this, rec);
    lockedRecords_.clear();
    file_->UnlockTable(this);
    order_ = ownOrder_.get();
    for (auto& open : openIndexes)
        for (KIVHANDLE h : open.handles) HandleTable::Instance().Remove(h);
    openIndexes.clear();
    file_->Detach();
    // The last handle writes the indexes now, so that a failure is this
    // close's to report; the handle closes all the same.
    if (file_.use_count() == 1) {
        try {
            file_->Finish();
        } catch (const EngineError& e) {
            if (!failure) {
                failure = e.code();
                text = e.what();
            }
        }
    }
    file_.reset();
    for (const auto& path : removeOnClose) ::unlink(path.c_str());
    if (failure) Throw(failure, text);
}

uint32_t Table::OptionWord() const {
    uint32_t word = 0;
    if (request_.exclusive) word |= KIV_TOPT_EXCLUSIVE;
    if (request_.readOnly) word |= KIV_TOPT_READ_ONLY;
    if (!request_.readOnly && (request_.privileges & 0x20)) word |= KIV_TOPT_UPDATE;
    if (!request_.readOnly && (request_.privileges & 0x40)) word |= KIV_TOPT_INSERT;
    return word;
}

const FieldDef& Table::Field(KIVFIELD field, int* index) const {
    // Callers pass the same name texts again and again: remember where each
    // text pointer led, and trust it when the text still reads the same.
    const auto number = reinterpret_cast<uintptr_t>(field);
    NameHit& hit = nameHits_[(number >> 3) & 7];
    if (number >= KIV_FIELD_NUMBER_LIMIT && hit.name == field) {
        const FieldDef& f = file_->fields()[static_cast<size_t>(hit.index)];
        const size_t n = f.name.size();
        if (std::strncmp(field, f.name.data(), n) == 0) {
            const char* rest = field + n;
            while (*rest == ' ') ++rest;
            if (*rest == '\0') {
                if (index) *index = hit.index;
                return f;
            }
        }
    }
    const int i = file_->FieldIndex(field);
    if (i >= 0 && number >= KIV_FIELD_NUMBER_LIMIT) hit = NameHit{field, i};
    if (i < 0) {
        const auto number = reinterpret_cast<uintptr_t>(field);
        Throw(KIV_ERR_FIELD_NOT_FOUND,
              number < KIV_FIELD_NUMBER_LIMIT ? "Field number " + std::to_string(number) + " does not exist"
                                              : "Field " + std::string(field) + " does not exist");
    }
    if (index) *index = i;
    return file_->fields()[static_cast<size_t>(i)];
}

// ---------------------------------------------------------------- reading

void Table::Load(uint32_t recno, bool fresh) {
    const uint32_t len = file_->recordLength();
    // What was read ahead holds while neither this process nor (shared
    // opens) another one wrote a record since.
    if (!fresh && readAhead_ > 1 && cacheStamp_ == file_->stamp() && cacheMark_ == file_->WriteMark() &&
        recno >= cacheFirst_ && recno < cacheFirst_ + cacheCount_) {
        std::memcpy(image_.data(), &cache_[static_cast<size_t>(recno - cacheFirst_) * len], len);
    } else if (!fresh && readAhead_ > 1) {
        // Read a window around the record in the direction of travel.
        uint32_t first = recno;
        if (recno_ > recno && recno > readAhead_) first = recno - readAhead_ + 1;
        else if (recno_ > recno) first = 1;
        cache_.resize(static_cast<size_t>(readAhead_) * len);
        cacheStamp_ = file_->stamp();
        cacheMark_ = file_->WriteMark();
        cacheFirst_ = first;
        cacheCount_ = file_->ReadRecords(first, readAhead_, cache_.data());
        if (recno >= cacheFirst_ + cacheCount_) Throw(KIV_ERR_CORRUPT_FILE, "Record " + std::to_string(recno) + " cannot be read");
        std::memcpy(image_.data(), &cache_[static_cast<size_t>(recno - cacheFirst_) * len], len);
    } else {
        if (file_->ReadRecords(recno, 1, image_.data()) != 1)
            Throw(KIV_ERR_CORRUPT_FILE, "Record " + std::to_string(recno) + " cannot be read");
    }
    recno_ = recno;
    haveRecord_ = true;
}

bool Table::LoadedVisible() {
    if (image_[0] == '*' && (file_->type() == KIV_TABLE_KDT || !gShowDeleted.load(std::memory_order_relaxed)))
        return false;
    if (filter || aof) {
        ImageSource source(*file_, image_.data(), recno_);
        if (filter && !filter->EvaluateLogical(source, exact)) return false;
        if (aof && !aof->EvaluateLogical(source, exact)) return false;
    }
    return true;
}

bool Table::CurrentVisible() { return haveRecord_ && LoadedVisible(); }

uint32_t Table::recno() const {
    if (order_->PositionsAreRecordNumbers()) return pos_;
    if (eof_) return file_->Count(false) + 1;
    return haveRecord_ ? recno_ : 0;
}

void Table::UseOrder(RowOrder* order) {
    if (order == order_) return;
    Flush();
    if (order != ownOrder_.get()) ReadWholeResult();  // an index orders every row
    order_ = order;
    if (haveRecord_) {
        pos_ = order_->PositionOf(recno_);
    } else if (eof_) {
        pos_ = Size(false) + 1;
    } else {
        pos_ = 0;
    }
}

bool Table::GoToRecordInOrder(uint32_t recno) {
    Flush();
    const uint32_t position = order_->PositionOf(recno);
    if (!position) return false;
    if (!LoadAt(position, true)) return false;
    bof_ = eof_ = false;
    return true;
}

bool Table::MoveTo(uint32_t position) {
    Flush();
    const uint32_t size = Size(true);
    if (position >= 1 && ScanForward(position, size)) {
        bof_ = eof_ = false;
        return true;
    }
    SetEof();
    bof_ = false;
    return false;
}

bool Table::MoveBackTo(uint32_t position) {
    Flush();
    if (position >= 1 && position <= Size(true) && ScanBackward(position)) {
        bof_ = eof_ = false;
        return true;
    }
    SetEof();
    bof_ = false;
    return false;
}

XValue Table::Evaluate(const Expression& expression) {
    ImageSource source(*file_, image_.data(), recno_);
    return expression.Evaluate(source, exact);
}

bool Table::LoadAt(uint32_t position, bool fresh) {
    const uint32_t recno = order_->RecordAt(position);
    pos_ = position;
    if (recno < 1 || recno > file_->Count(false)) {
        // A record the order still names but the file no longer holds.
        recno_ = recno;
        haveRecord_ = false;
        return false;
    }
    Load(recno, fresh);
    return LoadedVisible();
}

void Table::SetEof() {
    pos_ = Size(false) + 1;
    recno_ = file_->Count(false) + 1;
    eof_ = true;
    haveRecord_ = false;
    hiddenPos_ = 0;
    image_ = file_->BlankImage();
}

uint32_t Table::ScanForward(uint32_t from, uint32_t size) {
    for (uint32_t p = from;; ++p) {
        if (p > size) {
            if (!source_ && !sourceFailure_) return 0;
            // A result read as it is needed: the next rows, a run at a time.
            constexpr uint32_t kRun = 256;
            ReadResult(p > UINT32_MAX - kRun ? UINT32_MAX : p + kRun - 1);
            size = Size(false);
            if (p > size) return 0;
        }
        if (LoadAt(p, false)) return p;
    }
}

void Table::ReadResult(uint32_t rows) {
    if ((!source_ && !sourceFailure_) || appendingResult_ || file_->Count(false) >= rows) return;
    if (!source_) Throw(sourceFailure_, sourceFailureText_);
    // Appending moves the record pointer: the caller's place is kept.
    const KeptPlace kept(*this);
    appendingResult_ = true;
    try {
        while (file_->Count(false) < rows) {
            if (!source_->AppendNext(*this)) {
                source_.reset();
                break;
            }
        }
    } catch (const EngineError& e) {
        sourceFailure_ = e.code();
        sourceFailureText_ = e.what();
    } catch (...) {
        sourceFailure_ = KIV_ERR_OUT_OF_MEMORY;
        sourceFailureText_ = "The result could not be read to its end";
    }
    appendingResult_ = false;
    if (sourceFailure_) {
        source_.reset();
        Throw(sourceFailure_, sourceFailureText_);
    }
}

Table::KeptPlace::KeptPlace(Table& table)
    : table_(table),
      pos_(table.pos_),
      recno_(table.recno_),
      hiddenPos_(table.hiddenPos_),
      bof_(table.bof_),
      eof_(table.eof_),
      haveRecord_(table.haveRecord_),
      image_(table.image_) {}

Table::KeptPlace::~KeptPlace() {
    table_.pos_ = pos_;
    table_.recno_ = recno_;
    table_.hiddenPos_ = hiddenPos_;
    table_.bof_ = bof_;
    table_.eof_ = eof_;
    table_.haveRecord_ = haveRecord_;
    table_.image_.swap(image_);
}

uint32_t Table::ScanBackward(uint32_t from) {
    for (uint32_t p = from; p >= 1; --p)
        if (LoadAt(p, false)) return p;
    return 0;
}

void Table::GoTop() {
    Flush();
    const uint32_t r = ScanForward(1, Size(true));
    if (!r) {
        SetEof();
        bof_ = true;
        return;
    }
    bof_ = eof_ = false;
}

void Table::GoBottom() {
    Flush();
    ReadWholeResult();
    const uint32_t size = Size(true);
    pos_ = size + 1;
    const uint32_t r = size ? ScanBackward(size) : 0;
    if (!r) {
        SetEof();
        bof_ = true;
        return;
    }
    bof_ = eof_ = false;
}

void Table::GoBOF() {
    Flush();
    Size(true);
    // Before the first record: a skip forward gives the first visible one.
    pos_ = 0;
    recno_ = 0;
    bof_ = true;
    eof_ = false;
    haveRecord_ = false;
    image_ = file_->BlankImage();
}

void Table::Skip(int32_t n) {
    Flush();
    if (n == 0) {
        if (haveRecord_) Load(recno_, true);
        return;
    }
    if (n > 0) {
        if (eof_ && !hiddenPos_) return;
        uint32_t p = haveRecord_ ? pos_ : hiddenPos_;
        uint32_t size = Size(false);
        for (int32_t i = 0; i < n; ++i) {
            uint32_t next = ScanForward(p + 1, size);
            if (!next) {
                size = Size(true);  // another process may have appended
                next = ScanForward(p + 1, size);
            }
            if (!next) {
                SetEof();
                bof_ = false;
                return;
            }
            p = next;
        }
        bof_ = eof_ = false;
        return;
    }
    uint32_t p;
    if (eof_ && !hiddenPos_) ReadWholeResult();
    if (eof_) p = hiddenPos_ ? hiddenPos_ : Size(true) + 1;
    else if (!haveRecord_) return;  // before the first record already
    else p = pos_;
    const int64_t steps = -static_cast<int64_t>(n);
    for (int64_t i = 0; i < steps; ++i) {
        const uint32_t prev = p > 1 ? ScanBackward(p - 1) : 0;
        if (!prev) {
            // Past the beginning: BOF, on the first visible record.
            if (!ScanForward(1, Size(false))) SetEof();
            else eof_ = false;
            bof_ = true;
            return;
        }
        p = prev;
    }
    bof_ = eof_ = false;
}

void Table::GoTo(uint32_t position) {
    Flush();
    if (!order_->PositionsAreRecordNumbers()) {
        // A physical record number: go there, then find it in the order.
        const uint32_t count = file_->Count(true);
        if (position < 1 || position > count) {
            SetEof();
            bof_ = false;
            Throw(KIV_ERR_NO_SUCH_RECORD, "Record " + std::to_string(position) + " does not exist");
        }
        Load(position, true);
        pos_ = order_->PositionOf(position);
        if (!LoadedVisible()) {
            const uint32_t at = pos_;
            SetEof();
            bof_ = false;
            hiddenPos_ = at;
            return;
        }
        bof_ = eof_ = false;
        return;
    }
    if (position > Size(false)) ReadResult(position);
    const uint32_t size = position > Size(false) ? Size(true) : Size(false);
    if (position < 1 || position > size) {
        SetEof();
        bof_ = false;
        Throw(KIV_ERR_NO_SUCH_RECORD, "Record " + std::to_string(position) + " does not exist");
    }
    if (!LoadAt(position, true)) {
        SetEof();
        bof_ = false;
        hiddenPos_ = position;
        return;
    }
    bof_ = eof_ = false;
}

uint32_t Table::CountVisible() {
    Flush();
    ReadWholeResult();
    const uint32_t size = Size(true);
    if (gShowDeleted.load() && file_->type() != KIV_TABLE_KDT && !filter && !aof &&
        dynamic_cast<PhysicalOrder*>(order_))
        return size;
    // Counting hidden records means reading them; keep the position.
    const KeptPlace kept(*this);
    uint32_t visible = 0;
    for (uint32_t p = 1; p <= size; ++p)
        if (LoadAt(p, false)) ++visible;
    return visible;
}

void Table::RequireRecord() const {
    if (!haveRecord_) Throw(KIV_ERR_NO_CURRENT_RECORD, "No current record in " + alias());
}

// ---------------------------------------------------------------- values

std::string Table::GetBlob(int index) {
    RequireRecord();
    const FieldDef& f = file_->fields()[static_cast<size_t>(index)];
    auto it = pendingBlobs_.find(index);
    std::string data = it != pendingBlobs_.end() ? it->second : file_->ReadBlob(f, image_.data());
    const bool text = f.type == KIV_FT_MEMO || f.type == KIV_FT_VARCHAR;
    if (text) data = StoredToAnsi(data, file_->codePage(), request_.charType == KIV_CHAR_OEM);
    return data;
}

uint32_t Table::BlobLength(int index) {
    RequireRecord();
    const FieldDef& f = file_->fields()[static_cast<size_t>(index)];
    auto it = pendingBlobs_.find(index);
    if (it != pendingBlobs_.end()) return static_cast<uint32_t>(it->second.size());
    return file_->BlobLength(f, image_.data());
}

Value Table::GetValue(int index) {
    RequireRecord();
    const FieldDef& f = file_->fields()[static_cast<size_t>(index)];
    if (IsBlobType(f.type)) {
        std::string data = GetBlob(index);
        return data.empty() ? Value::Empty() : Value::OfBytes(data);
    }
    Value v = DecodeField(f, image_.data(), file_->type());
    if (f.type == KIV_FT_CHARACTER || f.type == KIV_FT_CICHARACTER)
        v.text = StoredToAnsi(v.text, file_->codePage(), request_.charType == KIV_CHAR_OEM);
    return v;
}

std::string Table::GetText(int index, bool trim) {
    const FieldDef& f = file_->fields()[static_cast<size_t>(index)];
    std::string text = ValueToText(f, GetValue(index));
    // Memo and blob values come back whole, trailing blanks included.
    if (trim && f.type != KIV_FT_RAW && !IsBlobType(f.type))
        while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

bool Table::IsEmpty(int index) {
    RequireRecord();
    const FieldDef& f = file_->fields()[static_cast<size_t>(index)];
    auto it = pendingBlobs_.find(index);
    if (it != pendingBlobs_.end()) return it->second.empty();
    return IsEmptyImage(f, image_.data(), file_->type());
}

void Table::CheckWrite(uint8_t privilege) const {
    if (isStatic && !appendingResult_) Throw(KIV_ERR_STATIC_VIEW, "This cursor is a static view: its rows cannot be changed");
    if (request_.readOnly) Throw(KIV_ERR_READ_ONLY, "Table " + alias() + " is open read-only");
    if (!(request_.privileges & privilege)) Throw(KIV_ERR_PERMISSION, "Permission denied on table " + alias());
}

KIVRESULT Table::SetValue(int index, const Value& value) {
    RequireRecord();
    CheckWrite(0x20);
    const FieldDef& f = file_->fields()[static_cast<size_t>(index)];
    if (IsBlobType(f.type)) {
        if (value.kind == Value::Kind::Empty) return SetBytes(index, std::string_view());
        if (value.kind == Value::Kind::Text || value.kind == Value::Kind::Bytes) return SetBytes(index, value.text);
        return SetBytes(index, ValueToText(f, value));
    }
    if (f.type == KIV_FT_ROWVERSION || f.type == KIV_FT_MODTIME)
        Throw(KIV_ERR_PERMISSION, "Field " + f.name + " is maintained by the engine");
    Value v = value;
    if ((f.type == KIV_FT_CHARACTER || f.type == KIV_FT_CICHARACTER) &&
        (v.kind == Value::Kind::Text || v.kind == Value::Kind::Bytes))
        v.text = AnsiToStored(v.text, file_->codePage(), request_.charType == KIV_CHAR_OEM, f.name);
    // Encoding checks and converts before it writes: a refused value leaves
    // the buffer as it was.
    const KIVRESULT rc = EncodeField(f, image_.data(), file_->type(), v);
    dirty_ = true;
    return rc;
}

KIVRESULT Table::SetBytes(int index, std::string_view bytes) {
    RequireRecord();
    CheckWrite(0x20);
    const FieldDef& f = file_->fields()[static_cast<size_t>(index)];
    if (!IsBlobType(f.type)) return SetValue(index, Value::OfText(bytes));
    KIVRESULT rc = KIV_OK;
    std::string data(bytes);
    if (f.type == KIV_FT_VARCHAR && data.size() > f.maxLength) {
        data.resize(f.maxLength);
        rc = KIV_ERR_VALUE_CUT;
    }
    const bool text = f.type == KIV_FT_MEMO || f.type == KIV_FT_VARCHAR;
    if (text) data = AnsiToStored(data, file_->codePage(), request_.charType == KIV_CHAR_OEM, f.name);
    pendingBlobs_[index] = std::move(data);
    dirty_ = true;
    return rc;
}

KIVRESULT Table::SetRaw(int index, std::string_view raw) {
    RequireRecord();
    CheckWrite(0x20);
    const FieldDef& f = file_->fields()[static_cast<size_t>(index)];
    // Blob references belong to the engine: raw writes never change them.
    if (IsBlobType(f.type)) return KIV_OK;
    const size_t n = raw.size() < f.length ? raw.size() : f.length;
    std::memcpy(&image_[f.offset], raw.data(), n);
    if (n < f.length) {
        std::vector<uint8_t> blank = file_->BlankImage();
        std::memcpy(&image_[f.offset + n], &blank[f.offset + n], f.length - n);
    }
    dirty_ = true;
    return raw.size() > f.length ? KIV_ERR_VALUE_CUT : KIV_OK;
}

void Table::SetEmpty(int index) {
    RequireRecord();
    CheckWrite(0x20);
    const FieldDef& f = file_->fields()[static_cast<size_t>(index)];
    if (IsBlobType(f.type)) {
        pendingBlobs_[index].clear();
    } else {
        SetEmptyImage(f, image_.data(), file_->type());
    }
    dirty_ = true;
}

void Table::SetRecordImage(std::string_view image) {
    RequireRecord();
    CheckWrite(0x20);
    const uint32_t len = file_->recordLength();
    std::vector<uint8_t> next = image_;
    const size_t n = image.size() < len ? image.size() : len;
    std::memcpy(next.data(), image.data(), n);
    next[0] = image_[0];  // the deletion flag is not the caller's to write
    // The stored blob references stay; the caller's bytes there are ignored.
    for (const auto& f : file_->fields())
        if (IsBlobType(f.type)) std::memcpy(&next[f.offset], &image_[f.offset], f.length);
    image_.swap(next);
    dirty_ = true;
}

// ---------------------------------------------------------------- editing

void Table::StampAutoFields() {
    for (const auto& f : file_->fields()) {
        uint8_t* p = &image_[f.offset];
        if (f.type == KIV_FT_ROWVERSION) {
            int64_t old;
            std::memcpy(&old, p, 8);
            const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
            const int64_t next = IsEmptyImage(f, image_.data(), file_->type()) || now > old ? now : old + 1;
            std::memcpy(p, &next, 8);
        } else if (f.type == KIV_FT_MODTIME) {
            const uint32_t jd = static_cast<uint32_t>(TodayJulian());
            const uint32_t ms = static_cast<uint32_t>(NowMilliseconds());
            std::memcpy(p, &jd, 4);
            std::memcpy(p + 4, &ms, 4);
        }
    }
}

void Table::Flush() {
    if (!dirty_) return;
    // Results of this connection's SQL still being read were taken before
    // this change: they are read first.
    if (WritesTableData()) connection_->FinishResults();
    if (!haveRecord_) {
        dirty_ = false;
        pendingBlobs_.clear();
        return;
    }
    CheckWrite(0x20);
    bool implicitLock = false;
    if (!file_->exclusive() && !file_->HoldsRecord(this, recno_)) {
        // (Read-only files fail in the write below anyway.)
        if (file_->LockRecord(this, recno_, connection_ ? connection_->journal() : nullptr) != KIV_OK)
            Throw(KIV_ERR_RECORD_LOCKED, "Record " + std::to_string(recno_) + " of " + alias() +
                                             " is locked by another user");
        implicitLock = true;
    }
    try {
        for (const auto& [index, data] : pendingBlobs_) {
            const FieldDef& f = file_->fields()[static_cast<size_t>(index)];
            WriteBlobRef(f, image_.data(), file_->type(), file_->WriteBlob(f, data));
        }
        StampAutoFields();
        connection_->LogChange(file_, recno_, false);
        file_->WriteRecord(recno_, image_.data(), connection_ ? connection_->journal() : nullptr);
    } catch (...) {
        if (implicitLock) file_->UnlockRecord(this, recno_);
        if (!appended_.empty()) firstWriteFailed_ = true;
        throw;
    }
    if (implicitLock) file_->UnlockRecord(this, recno_);
    pendingBlobs_.clear();
    appended_.clear();
    firstWriteFailed_ = false;
    dirty_ = false;
}

void Table::Append() {
    Flush();
    if (WritesTableData()) connection_->FinishResults();
    CheckWrite(0x40);
    std::vector<uint8_t> previous = file_->BlankImage();
    previous.swap(image_);
    StampAutoFields();
    uint32_t recno;
    try {
        recno = file_->Append(this, image_.data(), connection_ ? connection_->journal() : nullptr);
    } catch (...) {
        image_.swap(previous);
        throw;
    }
    if (!file_->exclusive()) lockedRecords_.insert(recno);
    dirty_ = true;  // the new record is written with the next flush
    appended_ = image_;
    firstWriteFailed_ = false;
    lastAutoinc_ = file_->LastAutoinc();
    connection_->LogChange(file_, recno, true);
    order_->Added(recno);
    pos_ = order_->PositionOf(recno);
    recno_ = recno;
    haveRecord_ = true;
    bof_ = eof_ = false;
}

void Table::Delete(bool deleted) {
    RequireRecord();
    CheckWrite(deleted ? 0x80 : 0x20);
    image_[0] = deleted ? '*' : ' ';
    dirty_ = true;
    Flush();
}

KIVRESULT Table::Cancel() {
    if (!dirty_) return KIV_ERR_NOTHING_TO_CANCEL;
    pendingBlobs_.clear();
    if (!appended_.empty() && haveRecord_ && firstWriteFailed_ && file_->AwaitsFirstWrite(recno_)) {
        TakeBackAppend();
        return KIV_OK;
    }
    if (!appended_.empty() && haveRecord_) {
        // The appended record stays, blank as it was appended.
        image_ = appended_;
        Flush();
        return KIV_OK;
    }
    dirty_ = false;
    if (haveRecord_) Load(recno_, true);
    return KIV_OK;
}

void Table::TakeBackAppend() {
    // The first write failed: the append is taken back, as if the process
    // had stopped between append and write. Inside a transaction whose
    // journal noted changes after the append, its rollback owns the record:
    // it stays, deleted and blank.
    const uint32_t recno = recno_;
    Journal* journal = connection_ ? connection_->journal() : nullptr;
    if (journal && !file_->HeldFor(recno, journal) && !connection_->CutNotedAppend(*file_, recno)) {
        image_ = appended_;
        image_[0] = '*';
        Flush();
        return;
    }
    file_->RemoveAppended(recno);
    if (connection_) connection_->ForgetAppend(*file_, recno);
    if (lockedRecords_.erase(recno)) file_->UnlockRecord(this, recno);
    order_->Removed(recno);
    appended_.clear();
    firstWriteFailed_ = false;
    dirty_ = false;
    // Where the record would have been: past the last record.
    haveRecord_ = false;
    recno_ = 0;
    pos_ = Size(false) + 1;
    bof_ = false;
    eof_ = true;
    image_ = file_->BlankImage();
}

void Table::Refresh() {
    RequireRecord();
    if (!appended_.empty()) {
        // Not on disk yet: what is stored is the blank appended record.
        pendingBlobs_.clear();
        image_ = appended_;
        Flush();
        return;
    }
    dirty_ = false;
    pendingBlobs_.clear();
    Load(recno_, true);
}

// ---------------------------------------------------------------- locks

void Table::LockRecord(uint32_t position) {
    if (isStatic) Throw(KIV_ERR_STATIC_VIEW, "This table is based on a static view and cannot be locked");
    uint32_t recno;
    if (position == 0) {
        RequireRecord();
        recno = recno_;
    } else {
        recno = order_->PositionsAreRecordNumbers() && position <= Size(false) ? order_->RecordAt(position) : position;
    }
    if (recno > file_->Count(true)) Throw(KIV_ERR_NO_SUCH_RECORD, "Record " + std::to_string(recno) + " does not exist");
    if (const KIVRESULT rc = file_->LockRecord(this, recno, connection_ ? connection_->journal() : nullptr);
        rc == KIV_ERR_READ_ONLY)
        Throw(rc, "Table " + alias() + " is open read-only");
    else if (rc != KIV_OK)
        Throw(KIV_ERR_RECORD_LOCKED, "Record " + std::to_string(recno) + " of " + alias() + " is locked by another user");
    if (!file_->exclusive()) lockedRecords_.insert(recno);
    // The lock holder works on what is stored now.
    if (recno == recno_ && haveRecord_ && !dirty_) Load(recno_, true);
}

void Table::UnlockRecord(uint32_t position) {
    const uint32_t recno =
        position == 0 ? recno_
                      : (order_->PositionsAreRecordNumbers() && position <= Size(false) ? order_->RecordAt(position) : position);
    if (recno == recno_) Flush();
    if (lockedRecords_.erase(recno)) file_->UnlockRecord(this, recno);
}

void Table::LockTable() {
    if (isStatic) Throw(KIV_ERR_STATIC_VIEW, "This table is based on a static view and cannot be locked");
    if (const KIVRESULT rc = file_->LockTable(this, connection_ ? connection_->journal() : nullptr);
        rc == KIV_ERR_READ_ONLY)
        Throw(rc, "Table " + alias() + " is open read-only");
    else if (rc != KIV_OK)
        Throw(KIV_ERR_TABLE_LOCKED, "Table " + alias() + " is locked by another user");
    if (haveRecord_ && !dirty_) Load(recno_, true);
}

void Table::UnlockAll() {
    Flush();
    for (uint32_t rec : lockedRecords_) file_->UnlockRecord(this, rec);
    lockedRecords_.clear();
    file_->UnlockTable(this);
}

// ---------------------------------------------------------------- index orders

void IndexHandle::Bounds() const {
    const uint64_t version = tag.version() * 4 + (hasTop ? 1 : 0) + (hasBottom ? 2 : 0);
    if (cachedVersion_ == version) return;
    first_ = hasTop ? tag.LowerBound(top) : 0;
    last_ = hasBottom ? tag.UpperBoundPrefix(bottom) : tag.Size();
    if (last_ < first_) last_ = first_;
    cachedVersion_ = version;
}

uint32_t IndexHandle::Size(TableFile& file, bool fresh) {
    file.Count(fresh);
    if (fresh) file.SyncIndexes();
    Bounds();
    return last_ - first_;
}

uint32_t IndexHandle::RecordAt(uint32_t position) const {
    Bounds();
    return tag.RecordAt(first_ + position - 1);
}

uint32_t IndexHandle::PositionOf(uint32_t recno) const {
    TableFile& file = table.file();
    if (recno < 1 || recno > file.Count(false)) return 0;
    std::vector<uint8_t> image(file.recordLength());
    if (file.ReadRecords(recno, 1, image.data()) != 1) return 0;
    std::string key;
    if (!const_cast<Tag&>(tag).KeyOf(image.data(), recno, key)) return 0;
    Bounds();
    const uint32_t at = tag.Find(key, recno);
    if (at >= last_ || at < first_) return 0;
    return at - first_ + 1;
}

}  // namespace qel32
