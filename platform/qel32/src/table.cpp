#include "table.h"

#include <chrono>
#include <cstring>

#include "kivwin/win.h"
#include "dates.h"
#include "paths.h"

namespace qel32 {

std::atomic<bool> gShowDeleted{true};

// ---------------------------------------------------------------- Connection

Connection::Connection(std::string given, std::string directory, uint16_t serverTypes, uint16_t connectionType)
    : Object(Kind::Connection),
      given_(std::move(given)),
      directory_(std::move(directory)),
      serverTypes_(serverTypes),
      connectionType_(connectionType) {}

Connection::~Connection() = default;

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

// --------------------------------------------------------------------- Table

Table::Table(std::shared_ptr<Connection> connection, std::shared_ptr<TableFile> file, const OpenRequest& request)
    : Object(Kind::Table), connection_(std::move(connection)), file_(std::move(file)), request_(request) {
    image_ = file_->BlankImage();
    readAhead_ = file_->exclusive() ? 256 : 1;
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
    file_->Detach();
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
    const int i = file_->FieldIndex(field);
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
    if (!fresh && readAhead_ > 1 && cacheStamp_ == file_->stamp() && recno >= cacheFirst_ &&
        recno < cacheFirst_ + cacheCount_) {
        std::memcpy(image_.data(), &cache_[static_cast<size_t>(recno - cacheFirst_) * len], len);
    } else if (!fresh && readAhead_ > 1) {
        // Read a window around the record in the direction of travel.
        uint32_t first = recno;
        if (recno_ > recno && recno > readAhead_) first = recno - readAhead_ + 1;
        else if (recno_ > recno) first = 1;
        cache_.resize(static_cast<size_t>(readAhead_) * len);
        cacheStamp_ = file_->stamp();
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

bool Table::LoadedVisible() const {
    if (image_[0] != '*') return true;
    if (file_->type() == KIV_TABLE_KDT) return false;
    return gShowDeleted.load(std::memory_order_relaxed);
}

bool Table::CurrentVisible() const { return haveRecord_ && LoadedVisible(); }

void Table::SetEof() {
    recno_ = file_->Count(false) + 1;
    eof_ = true;
    haveRecord_ = false;
    image_ = file_->BlankImage();
}

uint32_t Table::ScanForward(uint32_t from, uint32_t count) {
    for (uint32_t r = from; r <= count; ++r) {
        Load(r, false);
        if (LoadedVisible()) return r;
    }
    return 0;
}

uint32_t Table::ScanBackward(uint32_t from) {
    for (uint32_t r = from; r >= 1; --r) {
        Load(r, false);
        if (LoadedVisible()) return r;
    }
    return 0;
}

void Table::GoTop() {
    Flush();
    const uint32_t count = file_->Count(true);
    const uint32_t r = ScanForward(1, count);
    if (!r) {
        SetEof();
        bof_ = true;
        return;
    }
    bof_ = eof_ = false;
}

void Table::GoBottom() {
    Flush();
    const uint32_t count = file_->Count(true);
    recno_ = count + 1;
    const uint32_t r = count ? ScanBackward(count) : 0;
    if (!r) {
        SetEof();
        bof_ = true;
        return;
    }
    bof_ = eof_ = false;
}

void Table::GoBOF() {
    Flush();
    file_->Count(true);
    // Before the first record: a skip forward gives the first visible one.
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
        if (eof_) return;
        uint32_t r = haveRecord_ ? recno_ : 0;
        uint32_t count = file_->Count(false);
        for (int32_t i = 0; i < n; ++i) {
            uint32_t next = ScanForward(r + 1, count);
            if (!next) {
                count = file_->Count(true);  // another process may have appended
                next = ScanForward(r + 1, count);
            }
            if (!next) {
                SetEof();
                bof_ = false;
                return;
            }
            r = next;
        }
        bof_ = eof_ = false;
        return;
    }
    uint32_t r;
    if (eof_) r = file_->Count(true) + 1;
    else if (!haveRecord_) return;  // before the first record already
    else r = recno_;
    const int64_t steps = -static_cast<int64_t>(n);
    for (int64_t i = 0; i < steps; ++i) {
        const uint32_t prev = r > 1 ? ScanBackward(r - 1) : 0;
        if (!prev) {
            // Past the beginning: BOF, on the first visible record.
            const uint32_t first = ScanForward(1, file_->Count(false));
            if (!first) {
                SetEof();
            } else {
                eof_ = false;
            }
            bof_ = true;
            return;
        }
        r = prev;
    }
    bof_ = eof_ = false;
}

void Table::GoTo(uint32_t recno) {
    Flush();
    const uint32_t count = recno > file_->Count(false) ? file_->Count(true) : file_->Count(false);
    if (recno < 1 || recno > count) {
        SetEof();
        bof_ = false;
        Throw(KIV_ERR_NO_SUCH_RECORD, "Record " + std::to_string(recno) + " does not exist");
    }
    Load(recno, true);
    if (!LoadedVisible()) {
        SetEof();
        bof_ = false;
        return;
    }
    bof_ = eof_ = false;
}

uint32_t Table::CountVisible() {
    Flush();
    const uint32_t count = file_->Count(true);
    if (gShowDeleted.load() && file_->type() != KIV_TABLE_KDT) return count;
    // Counting hidden records means reading them; keep the position.
    const uint32_t savedRec = recno_;
    const bool savedBof = bof_, savedEof = eof_, savedHave = haveRecord_;
    const std::vector<uint8_t> savedImage = image_;
    uint32_t visible = 0;
    for (uint32_t r = 1; r <= count; ++r) {
        Load(r, false);
        if (LoadedVisible()) ++visible;
    }
    recno_ = savedRec;
    bof_ = savedBof;
    eof_ = savedEof;
    haveRecord_ = savedHave;
    image_ = savedImage;
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
    if (text && request_.charType == KIV_CHAR_OEM) data = kivwin::OemToAnsi(data);
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
    if ((f.type == KIV_FT_CHARACTER || f.type == KIV_FT_CICHARACTER) && request_.charType == KIV_CHAR_OEM)
        v.text = kivwin::OemToAnsi(v.text);
    return v;
}

std::string Table::GetText(int index, bool trim) {
    const FieldDef& f = file_->fields()[static_cast<size_t>(index)];
    std::string text = ValueToText(f, GetValue(index));
    if (trim && f.type != KIV_FT_RAW && !(IsBlobType(f.type) && f.type != KIV_FT_MEMO && f.type != KIV_FT_VARCHAR))
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
    if ((f.type == KIV_FT_CHARACTER || f.type == KIV_FT_CICHARACTER) && request_.charType == KIV_CHAR_OEM &&
        (v.kind == Value::Kind::Text || v.kind == Value::Kind::Bytes))
        v.text = kivwin::AnsiToOem(v.text);
    std::vector<uint8_t> next = image_;
    const KIVRESULT rc = EncodeField(f, next.data(), file_->type(), v);
    image_.swap(next);
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
    if (text && request_.charType == KIV_CHAR_OEM) data = kivwin::AnsiToOem(data);
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
    if (!haveRecord_) {
        dirty_ = false;
        pendingBlobs_.clear();
        return;
    }
    CheckWrite(0x20);
    bool implicitLock = false;
    if (!file_->exclusive() && !file_->HoldsRecord(this, recno_)) {
        if (file_->LockRecord(this, recno_) != KIV_OK)
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
        file_->WriteRecord(recno_, image_.data());
    } catch (...) {
        if (implicitLock) file_->UnlockRecord(this, recno_);
        throw;
    }
    if (implicitLock) file_->UnlockRecord(this, recno_);
    pendingBlobs_.clear();
    dirty_ = false;
}

void Table::Append() {
    Flush();
    CheckWrite(0x40);
    std::vector<uint8_t> previous = file_->BlankImage();
    previous.swap(image_);
    StampAutoFields();
    uint32_t recno;
    try {
        recno = file_->Append(this, image_.data());
    } catch (...) {
        image_.swap(previous);
        throw;
    }
    if (!file_->exclusive()) lockedRecords_.insert(recno);
    lastAutoinc_ = file_->LastAutoinc();
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
    dirty_ = false;
    pendingBlobs_.clear();
    if (haveRecord_) Load(recno_, true);
    return KIV_OK;
}

void Table::Refresh() {
    RequireRecord();
    dirty_ = false;
    pendingBlobs_.clear();
    Load(recno_, true);
}

// ---------------------------------------------------------------- locks

void Table::LockRecord(uint32_t recno) {
    if (recno == 0) {
        RequireRecord();
        recno = recno_;
    }
    if (recno > file_->Count(true)) Throw(KIV_ERR_NO_SUCH_RECORD, "Record " + std::to_string(recno) + " does not exist");
    if (file_->LockRecord(this, recno) != KIV_OK)
        Throw(KIV_ERR_RECORD_LOCKED, "Record " + std::to_string(recno) + " of " + alias() + " is locked by another user");
    if (!file_->exclusive()) lockedRecords_.insert(recno);
    // The lock holder works on what is stored now.
    if (recno == recno_ && haveRecord_ && !dirty_) Load(recno_, true);
}

void Table::UnlockRecord(uint32_t recno) {
    if (recno == 0) recno = recno_;
    if (recno == recno_) Flush();
    if (lockedRecords_.erase(recno)) file_->UnlockRecord(this, recno);
}

void Table::LockTable() {
    if (file_->LockTable(this) != KIV_OK)
        Throw(KIV_ERR_TABLE_LOCKED, "Table " + alias() + " is locked by another user");
    if (haveRecord_ && !dirty_) Load(recno_, true);
}

void Table::UnlockAll() {
    Flush();
    for (uint32_t rec : lockedRecords_) file_->UnlockRecord(this, rec);
    lockedRecords_.clear();
    file_->UnlockTable(this);
}

}  // namespace qel32
