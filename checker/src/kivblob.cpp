// Blob caches of the record buffers, the blob streams the dataset hands to
// its blob fields, and writing changed blobs back when a record is posted.
#include <cstring>

#include "imagebytes.h"
#include "checker/kivdata.h"

namespace checker {

using namespace kivds;

namespace {

// Engine types 6 and 7 are binary; a memo is binary unless the engine says
// it holds text.
bool IsBinaryBlob(TKivDataSet* ds, KIVHANDLE handle, uint16_t fieldNo) {
  uint16_t type = 0;
  CheckQELResult(ds, KivGetFieldType(handle, KIV_FIELD(fieldNo), &type));
  if (type == KIV_FT_BINARY || type == KIV_FT_IMAGE) return true;
  if (type != KIV_FT_MEMO) return false;
  uint16_t memoType = 0;
  CheckQELResult(ds, KivGetMemoDataType(handle, KIV_FIELD(fieldNo), &memoType));
  return memoType != KIV_MEMO_TEXT;
}

// The stream over one blob field's cache.
class TKivBlobStream : public TStream {
 public:
  TKivBlobStream(TKivDataSet* dataSet, TField* field, TBlobStreamMode mode, TKivBlobCache* cache)
      : dataSet_(dataSet), field_(field), mode_(mode), cache_(cache) {}
  ~TKivBlobStream() override {
    if (!modified_) return;
    try {
      field_->SetModified(true);
      dataSet_->DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field_));
    } catch (...) {
      // A destructor never throws; the change itself is in the cache.
    }
  }
  TKivBlobStream(const TKivBlobStream&) = delete;
  TKivBlobStream& operator=(const TKivBlobStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override { return cache_ ? cache_->Read(buffer, count) : 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    if (mode_ == bmRead) KivDataSetError(nullptr, "Error modifying read only blob.");
    if (cache_ == nullptr) KivDataSetError(nullptr, "Cannot write to blob in current state.");
    const int64_t n = cache_->Write(buffer, count);
    modified_ = true;
    return n;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return cache_ ? cache_->Seek(offset, origin) : 0; }
  void MarkModified() { modified_ = true; }

 private:
  TKivDataSet* dataSet_;
  TField* field_;
  TBlobStreamMode mode_;
  TKivBlobCache* cache_;
  bool modified_ = false;
};

}  // namespace

// ---- The cache -------------------------------------------------------------

std::string TKivBlobCache::Data() const {
  auto& contents = const_cast<TMemoryStream&>(contents_);
  return std::string(reinterpret_cast<const char*>(contents.Memory()), static_cast<size_t>(contents.Size()));
}

void TKivBlobCache::SetData(const std::string& data) {
  contents_.Clear();
  contents_.Write(data.data(), static_cast<int64_t>(data.size()));
  contents_.Seek(0, TSeekOrigin::soBeginning);
  modified_ = true;
}

void TKivBlobCache::LoadBlob(KIVHANDLE handle, uint16_t fieldNo, bool force, uint32_t record) {
  if (handle != handle_ || record != record_ || fieldNo != fieldNo_) force = true;
  if (!force) {
    contents_.Seek(0, TSeekOrigin::soBeginning);
    return;
  }
  contents_.Clear();
  handle_ = handle;
  record_ = record;
  fieldNo_ = fieldNo;
  modified_ = false;
  if (record == 0) return;
  const KIVFIELD field = KIV_FIELD(fieldNo);
  try {
    uint32_t current = 0;
    CheckQELResult(nullptr, KivGetRecordNum(handle, 2, &current));
    if (current != record) CheckQELResult(nullptr, KivGotoRecord(handle, record));
    const bool binary = IsBinaryBlob(nullptr, handle, fieldNo);
    uint32_t length = 0;
    const KIVRESULT rc = binary ? KivGetBinaryLength(handle, field, &length) : KivGetMemoLength(handle, field, &length);
    if (rc == KIV_ERR_NO_CURRENT_RECORD) {
      record_ = 0;
      return;
    }
    CheckQELResult(nullptr, rc);
    if (length == 0) return;
    if (!binary) ++length;  // room for the terminating NUL
    contents_.SetSize(length);
    uint32_t got = length;
    if (binary) CheckQELResult(nullptr, KivGetBinary(handle, field, 0, contents_.Memory(), &got));
    else CheckQELResult(nullptr, KivGetField(handle, field, reinterpret_cast<char*>(contents_.Memory()), &got, 0));
    contents_.SetSize(std::min(got, length));
    contents_.Seek(0, TSeekOrigin::soBeginning);
  } catch (const EKIVDatabaseError& e) {
    record_ = 0;
    contents_.Clear();
    if (e.EngineErrorCode == KIV_ERR_NO_CURRENT_RECORD || e.EngineErrorCode == KIV_ERR_NO_SUCH_RECORD) return;
    throw;
  }
}

void TKivBlobCache::FlushBlob() {
  if (!modified_) return;
  const KIVHANDLE handle = handle_ != kNoHandle ? handle_ : dataSet_->BaseHandle();
  const KIVFIELD field = KIV_FIELD(fieldNo_);
  const auto size = static_cast<uint32_t>(contents_.Size());
  const void* data = size > 0 ? contents_.Memory() : nullptr;
  if (IsBinaryBlob(dataSet_, handle, fieldNo_))
    CheckQELResult(dataSet_, KivSetBinary(handle, field, KIV_BINARY_KIND, size, 0, data, size));
  else
    CheckQELResult(dataSet_, KivSetField(handle, field, data, size));
  modified_ = false;
}

// ---- The dataset's side --------------------------------------------------

std::unique_ptr<TStream> TKivDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  const TDataSetState state = State();
  if ((mode == bmWrite || mode == bmReadWrite) && state != dsEdit && state != dsInsert)
    KivDataSetError(this, "Table must be in Edit or Insert state to open blob stream in Write Mode.");
  TKivBlobCache* cache = nullptr;
  const bool withBuffer = state == dsBrowse || state == dsEdit || state == dsInsert || state == dsCalcFields ||
                          state == dsNewValue;
  const TRecordBuffer buffer = withBuffer ? CurrentStateBuffer() : nullptr;
  if (buffer != nullptr) {
    uint16_t type = 0;
    CheckQELResult(this, KivGetFieldType(baseHandle_, KIV_FIELD(field->FieldNo()), &type));
    if (type < KIV_FT_MEMO || type > KIV_FT_VARCHAR) KivDataSetError(this, "Invalid blob open on non-blob field.");
    const TQELFieldDef* def = qelFieldDefs_.ByNumber(field->FieldNo());
    cache = def != nullptr ? BlobCacheOf(buffer, *def) : nullptr;
    if (cache != nullptr) {
      const bool force = (state == dsEdit || state == dsInsert) && mode == bmReadWrite && !cache->Modified();
      const auto record = ReadImage<uint32_t>(buffer + bookmarkOffset_);
      try {
        cache->LoadBlob(baseHandle_, static_cast<uint16_t>(field->FieldNo()), force, record);
      } catch (...) {
        CursorPosChanged();
        throw;
      }
    }
    CursorPosChanged();
  }
  auto stream = std::make_unique<TKivBlobStream>(this, field, mode, cache);
  if (mode == bmWrite && cache != nullptr) {
    cache->Truncate();
    stream->MarkModified();
  }
  return stream;
}

void TKivDataSet::WriteBlobChanges(TRecordBuffer buffer) {
  for (int i = 0; i < qelFieldDefs_.Count(); ++i) {
    const TQELFieldDef& def = *qelFieldDefs_[i];
    if (!def.IsBlob()) continue;
    TKivBlobCache* cache = BlobCacheOf(buffer, def);
    if (cache == nullptr || !cache->Modified()) continue;
    const int32_t word = cache->Empty() ? 0 : -1;
    std::memcpy(buffer + def.Offset, &word, 4);
    cache->FlushBlob();
  }
}

}  // namespace checker
