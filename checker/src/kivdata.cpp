// TKivDataSet: opening and closing, record buffers, fetching, positioning,
// bookmarks, record numbers and counts.
#include "imagebytes.h"
#include "checker/kivdata.h"

#include <algorithm>
#include <cstring>

namespace checker {

using namespace kivds;

namespace {

constexpr uint32_t kRecordInfoSize = 8;
constexpr int kInfoStatus = 4;
constexpr int kInfoFlag = 5;

void WriteInt32(uint8_t* p, int32_t v) { std::memcpy(p, &v, 4); }

}  // namespace

TThreadList<TKivDataSet*>& KivDataSetList() {
  static TThreadList<TKivDataSet*> list;
  return list;
}

// ---- Table options -------------------------------------------------------

void TKivTableOptions::CheckClosed() const {
  if (dataSet_ != nullptr && dataSet_->Active()) KivDataSetError(dataSet_, "Table must not be Active.");
}

void TKivTableOptions::SetKivLockType(TKivLockTypes v) {
  CheckClosed();
  lockType_ = v;
}

void TKivTableOptions::SetKivCharType(TKivCharTypes v) {
  CheckClosed();
  charType_ = v;
}

void TKivTableOptions::SetKivRightsCheck(bool v) {
  CheckClosed();
  rightsCheck_ = v;
}

void TKivTableOptions::SetKivRecordCache(TKivRecordCacheTypes v) {
  recordCache_ = v;
  if (dataSet_ == nullptr || !dataSet_->Active()) return;
  const uint16_t count = v == TKivRecordCacheTypes::rcNone ? 0 : v == TKivRecordCacheTypes::rcStandard ? 10 : 100;
  CheckQELResult(dataSet_, KivCacheRecords(dataSet_->BaseHandle(), count));
}

// ---- Life cycle ----------------------------------------------------------

TKivDataSet::TKivDataSet(TComponent* owner) : TDataSet(owner) { KivDataSetList().Add(this); }

TKivDataSet::~TKivDataSet() {
  Destroying();
  try {
    Close();
  } catch (...) {
    // A destructor never throws (an event handler may have); the buffers are
    // freed and the engine handle is closed regardless.
    try {
      SetBufListSize(0);
    } catch (...) {
    }
    if (baseHandle_ != kClosedHandle) KivCloseTable(baseHandle_);
    baseHandle_ = activeHandle_ = kClosedHandle;
  }
  FreePreEditCopy();
  if (kivConnection_ != nullptr) kivConnection_->RemoveDataSet(this);
  KivDataSetList().Remove(this);
  KivDataSetList().Pack();
}

void TKivDataSet::OpenOnCursor(KIVHANDLE cursor) {
  Close();
  if (cursor == 0 || cursor == kClosedHandle) {
    activeHandle_ = kClosedHandle;
    return;
  }
  activeHandle_ = cursor;
  try {
    Open();
  } catch (...) {
    activeHandle_ = kClosedHandle;
    throw;
  }
}

// ---- Opening and closing -------------------------------------------------

KIVHANDLE TKivDataSet::NavigationHandle() const {
  return (activeHandle_ != 0 && activeHandle_ != kClosedHandle) ? activeHandle_ : baseHandle_;
}

void TKivDataSet::InternalOpen() {
  // 1-2: a new engine cursor, or the one handed in before opening.
  if (baseHandle_ != kClosedHandle) KivDataSetError(this, "Table is already open.");
  if (activeHandle_ == kClosedHandle) {
    baseHandle_ = OpenEngineCursor();
  } else {
    baseHandle_ = activeHandle_;
    uint16_t type = 0;
    CheckQELResult(this, KivGetTableType(baseHandle_, &type));
    engineTableType_ = type;
  }

  // 3: record size, options word, can-modify and the exclusive flag of a cursor.
  uint32_t length = 0;
  CheckQELResult(this, KivGetRecordLength(baseHandle_, &length));
  recordSize_ = length;
  uint32_t options = 0;
  CheckQELResult(this, KivGetTableOpenOptions(baseHandle_, &options));
  openOptions_ = options;
  canModify_ = (options & KIV_TOPT_READ_ONLY) == 0;
  if (canModify_ && (options & KIV_TOPT_EXCLUSIVE) != 0) {
    uint16_t live = 1;
    if (KivSqlPeekStatement(baseHandle_, &live) == KIV_OK && live == 0) exclusive_ = true;
  }

  // 4: record cache.
  if (tableOptions_.KivRecordCache() == TKivRecordCacheTypes::rcNone)
    CheckQELResult(this, KivCacheRecords(baseHandle_, 0));
  else if (tableOptions_.KivRecordCache() == TKivRecordCacheTypes::rcAggressive)
    CheckQELResult(this, KivCacheRecords(baseHandle_, 100));

  // 5: index page size of the first index, 0 when there is none or it fails.
  KIVHANDLE firstIndex = 0;
  uint16_t indexCount = 1;
  uint16_t pageSize = 0;
  const KIVRESULT rc = KivGetAllIndexes(baseHandle_, &firstIndex, &indexCount);
  if ((rc == KIV_OK || rc == KIV_ERR_BUFFER_TOO_SMALL) && indexCount > 0) {
    if (KivGetIndexPageSize(firstIndex, &pageSize) != KIV_OK) pageSize = 0;
  }
  tableOptions_.SetKivIndexPageSize(pageSize);

  // 6-7: provisional sizes, key buffers.
  recordBufferSize_ = recordSize_;
  uint32_t bookmarkLength = 0;
  CheckQELResult(this, KivGetBookmarkLength(NavigationHandle(), &bookmarkLength));
  bookmarkSize_ = bookmarkLength;
  AllocateKeyBuffers();

  // 8-9: field definitions, fields and their adjustments.
  FieldDefs().SetUpdated(false);
  FieldDefs().Update();
  if (DefaultFields()) CreateFields();
  ApplyFieldAdjustments();

  // 10: bind and lay out the record buffer.
  BindFields(true);
  ComputeBufferOffsets();

  // 11: indexes, order, scope, filter, first record.
  indexDefs_.SetUpdated(false);
  indexDefs_.Update();
  if (baseHandle_ != 0) SwitchToActiveIndex();
  if (scoped_) ActivateScope();
  if (Filtered()) ActivateFilter();
  if (baseHandle_ != 0) InternalFirst();
}

void TKivDataSet::ComputeBufferOffsets() {
  blobFieldNos_.clear();
  for (int i = 0; i < qelFieldDefs_.Count(); ++i)
    if (qelFieldDefs_[i]->IsBlob()) blobFieldNos_.push_back(qelFieldDefs_[i]->FieldNo);
  blobCacheOffset_ = recordSize_ + static_cast<uint32_t>(CalcFieldsSize());
  // One pointer per blob field: 8 bytes each on 64-bit Linux.
  recordInfoOffset_ = blobCacheOffset_ + static_cast<uint32_t>(sizeof(TKivBlobCache*) * blobFieldNos_.size());
  bookmarkOffset_ = recordInfoOffset_ + kRecordInfoSize;
  uint32_t bookmarkLength = 0;
  CheckQELResult(this, KivGetBookmarkLength(NavigationHandle(), &bookmarkLength));
  bookmarkSize_ = bookmarkLength;
  recordBufferSize_ = bookmarkOffset_ + bookmarkSize_;
  SetBookmarkSize(static_cast<int>(bookmarkSize_));
}

void TKivDataSet::SwitchToActiveIndex() {
  const bool active = Active();
  if (active) {
    CheckBrowseMode();
    UpdateCursorPos();
  }
  activeHandle_ = indexKind_ == 0 ? baseHandle_ : OpenOrderHandle();
  // While opening, the base allocates the buffers after InternalOpen.
  if (!active) return;
  try {
    SetBufListSize(0);
    ComputeBufferOffsets();
    SetBufListSize(BufferCount() + 1);
  } catch (...) {
    SetState(dsInactive);
    CloseCursor();
    throw;
  }
}

void TKivDataSet::InternalClose() {
  if (InState(csDesigning)) {
    KivCacheOpenTables(0);
    KivCacheOpenCursors(0);
  }
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  FreeKeyBuffers();
  FreePreEditCopy();
  const KIVHANDLE base = baseHandle_;
  baseHandle_ = kClosedHandle;
  activeHandle_ = kClosedHandle;
  canModify_ = false;
  if (base != kClosedHandle) KivCloseTable(base);  // a failure to close is not reported
}

// ---- Record buffers ------------------------------------------------------

TRecordBuffer TKivDataSet::AllocRecordBuffer() {
  auto* buffer = new uint8_t[recordBufferSize_]();
  for (size_t i = 0; i < blobFieldNos_.size(); ++i) {
    TKivBlobCache* cache = new TKivBlobCache(this, blobFieldNos_[i]);
    std::memcpy(buffer + blobCacheOffset_ + i * sizeof cache, &cache, sizeof cache);
  }
  return buffer;
}

void TKivDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
  if (buffer == nullptr) return;
  for (size_t i = 0; i < blobFieldNos_.size(); ++i) {
    TKivBlobCache* cache = nullptr;
    std::memcpy(&cache, buffer + blobCacheOffset_ + i * sizeof cache, sizeof cache);
    delete cache;
  }
  delete[] buffer;
  buffer = nullptr;
}

TKivBlobCache* TKivDataSet::BlobCacheOf(TRecordBuffer buffer, const TQELFieldDef& def) const {
  auto it = std::find(blobFieldNos_.begin(), blobFieldNos_.end(), def.FieldNo);
  if (buffer == nullptr || it == blobFieldNos_.end()) return nullptr;
  TKivBlobCache* cache = nullptr;
  std::memcpy(&cache, buffer + blobCacheOffset_ + static_cast<size_t>(it - blobFieldNos_.begin()) * sizeof cache,
              sizeof cache);
  return cache;
}

void TKivDataSet::ResetBlobCaches(TRecordBuffer buffer) {
  for (size_t i = 0; i < blobFieldNos_.size(); ++i) {
    TKivBlobCache* cache = nullptr;
    std::memcpy(&cache, buffer + blobCacheOffset_ + i * sizeof cache, sizeof cache);
    if (cache != nullptr) cache->Reset();
  }
}

void TKivDataSet::InitRecord(TRecordBuffer buffer) {
  TDataSet::InitRecord(buffer);
  uint8_t* info = RecordInfo(buffer);
  WriteInt32(info, -1);
  info[kInfoStatus] = 0;
  info[kInfoFlag] = 0;
  std::memset(buffer + bookmarkOffset_, 0, std::min<uint32_t>(bookmarkSize_, 4));
}

void TKivDataSet::ClearCalcFields(TRecordBuffer buffer) {
  std::memset(buffer + recordSize_, 0, static_cast<size_t>(CalcFieldsSize()));
}

bool TKivDataSet::GetCurrentRecord(TRecordBuffer buffer) {
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return false;
  UpdateCursorPos();
  std::memcpy(buffer, ActiveBuffer(), recordSize_);
  return true;
}

void TKivDataSet::DataEvent(TDataEvent event, intptr_t info) {
  if (event == dePropertyChange) indexDefs_.SetUpdated(false);
  TDataSet::DataEvent(event, info);
}

// ---- Fetching ------------------------------------------------------------

TGetResult TKivDataSet::GetRecord(TRecordBuffer buffer, TGetMode mode, bool /*doCheck*/) {
  if (!HasBaseHandle() || State() == dsInsert) return grError;
  switch (mode) {
    case gmNext: CheckQELResult(this, KivSkip(activeHandle_, 1)); break;
    case gmPrior: CheckQELResult(this, KivSkip(activeHandle_, -1)); break;
    case gmCurrent: break;
    default: return grError;
  }
  const TGetResult result = FetchVisibleRecord(buffer, mode);
  if (result == grOK) {
    uint8_t* info = RecordInfo(buffer);
    info[kInfoStatus] = 0;
    info[kInfoFlag] = 0;
    WriteInt32(info, GetCursorRecNo());
  }
  return result;
}

TGetResult TKivDataSet::FetchVisibleRecord(TRecordBuffer buffer, TGetMode mode) {
  for (;;) {
    uint16_t flag = 0;
    CheckQELResult(this, KivAtEOF(baseHandle_, &flag));
    if (flag != 0 && (mode == gmCurrent || mode == gmNext)) return grEOF;
    flag = 0;
    CheckQELResult(this, KivAtBOF(baseHandle_, &flag));
    if (flag != 0 && (mode == gmCurrent || mode == gmPrior)) return grBOF;

    uint16_t visible = 0;
    const KIVRESULT rc = KivIsRecordVisible(activeHandle_, &visible);
    if (rc == KIV_ERR_NO_CURRENT_RECORD) visible = 0;
    else CheckQELResult(this, rc);

    bool accepted = false;
    if (visible != 0) {
      ReadRecordIntoBuffer(buffer);
      const bool calculatedFirst = tableOptions_.KivCalcFieldsBeforeFilter();
      if (calculatedFirst) GetCalcFields(buffer);
      accepted = true;
      if (OnFilterRecord() && Filtered()) FilterRecord(buffer, accepted);
      if (accepted) {
        if (!calculatedFirst) GetCalcFields(buffer);
        return grOK;
      }
    }
    if (mode == gmCurrent) return grError;
    CheckQELResult(this, KivSkip(activeHandle_, mode == gmNext ? 1 : -1));
  }
}

void TKivDataSet::FilterRecord(TRecordBuffer buffer, bool& accept) {
  const TDataSetState previous = SetTempState(dsFilter);
  const TRecordBuffer savedFilterBuffer = filterBuffer_;
  filterBuffer_ = buffer;
  auto restore = [&] {
    filterBuffer_ = savedFilterBuffer;
    RestoreState(previous);
  };
  try {
    OnFilterRecord()(this, accept);
  } catch (...) {
    restore();
    if (!ApplicationExceptionHandler()) throw;
    ApplicationExceptionHandler()(std::current_exception(), this);
    return;
  }
  restore();
}

void TKivDataSet::ReadRecordIntoBuffer(TRecordBuffer buffer) {
  uint32_t length = recordBufferSize_;
  CheckQELResult(this, KivGetRecord(baseHandle_, buffer, &length));
  uint32_t bookmarkLength = bookmarkSize_;
  CheckQELResult(this, KivGetBookmark60(NavigationHandle(), buffer + bookmarkOffset_, &bookmarkLength));
  for (int i = 0; i < qelFieldDefs_.Count(); ++i) {
    const TQELFieldDef& def = *qelFieldDefs_[i];
    if (!def.IsBlob()) continue;
    uint16_t empty = 0;
    CheckQELResult(this, KivIsEmpty(baseHandle_, KIV_FIELD(def.FieldNo), &empty));
    WriteInt32(buffer + def.Offset, empty != 0 ? 0 : -1);
  }
  const TDataSetState state = State();
  if (state == dsBrowse || state == dsEdit || state == dsInsert || state == dsCalcFields ||
      state == dsNewValue)
    ResetBlobCaches(buffer);
  if (tableOptions_.KivCharType() == TKivCharTypes::OEM) {
    // The engine converts OEM text to ANSI when it hands out a field.
    for (int i = 0; i < qelFieldDefs_.Count(); ++i) {
      const TQELFieldDef& def = *qelFieldDefs_[i];
      if (!def.IsCharacter()) continue;
      uint8_t* at = buffer + def.Offset;
      // An empty value has nothing to convert (and must not turn into blanks).
      if (IsEmptyFieldImage(engineTableType_, def.EngineType, at, def.Length)) continue;
      const uint8_t behind = at[def.Length];
      uint32_t fieldLength = def.Length + 1;
      CheckQELResult(this, KivGetField(baseHandle_, KIV_FIELD(def.FieldNo), reinterpret_cast<char*>(at),
                                       &fieldLength, 0));
      at[def.Length] = behind;
    }
  }
}

// ---- Positioning and bookmarks ------------------------------------------

void TKivDataSet::InternalFirst() { CheckQELResult(this, KivGotoBOF(activeHandle_)); }

void TKivDataSet::InternalLast() {
  CheckQELResult(this, KivGotoBottom(activeHandle_));
  CheckQELResult(this, KivSkip(activeHandle_, 1));
}

void TKivDataSet::InternalGotoBookmark(const void* bookmark) {
  if (State() == dsInsert) return;
  uint32_t position = 0;
  std::memcpy(&position, bookmark, 4);
  const KIVRESULT rc = KivGotoBookmark(baseHandle_, position);
  if (rc != KIV_ERR_NO_SUCH_RECORD) CheckQELResult(this, rc);
}

void TKivDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  InternalGotoBookmark(buffer + bookmarkOffset_);
}

void TKivDataSet::GetBookmarkData(TRecordBuffer buffer, void* data) {
  std::memcpy(data, buffer + bookmarkOffset_, bookmarkSize_);
}

void TKivDataSet::SetBookmarkData(TRecordBuffer buffer, const void* data) {
  std::memcpy(buffer + bookmarkOffset_, data, bookmarkSize_);
}

TBookmarkFlag TKivDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(RecordInfo(buffer)[kInfoFlag]);
}

void TKivDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  RecordInfo(buffer)[kInfoFlag] = static_cast<uint8_t>(flag);
}

int TKivDataSet::CompareBookmarks(const void* a, const void* b) {
  if (a == nullptr || b == nullptr) return TDataSet::CompareBookmarks(a, b);
  int32_t cmp = 0;
  CheckQELResult(this, KivCompareBookmarks(a, b, &cmp));
  return cmp < 0 ? -1 : cmp > 0 ? 1 : 0;
}

bool TKivDataSet::BookmarkValid(const void* bookmark) {
  if (!Active() || bookmark == nullptr) return false;
  CursorPosChanged();
  uint32_t position = 0;
  std::memcpy(&position, bookmark, 4);
  if (KivGotoBookmark(baseHandle_, position) != KIV_OK) return false;
  uint16_t eof = 0;
  if (KivAtEOF(baseHandle_, &eof) != KIV_OK || eof != 0) return false;
  if (tableType_ == ttKivCDX || tableType_ == ttKivNTX) {
    uint16_t deleted = 0;
    if (KivIsRecordDeleted(baseHandle_, &deleted) != KIV_OK) return false;
    if (deleted == 1) {
      uint16_t shown = 0;
      if (KivGetDeleted(&shown) != KIV_OK || shown == 0) return false;
    }
  }
  return true;
}

// ---- Record numbers and counts ------------------------------------------

int TKivDataSet::GetCursorRecNo() {
  if ((indexName_.empty() && indexFieldNames_.empty()) || !sequenced_) {
    uint32_t number = 0;
    CheckQELResult(this, KivGetRecordNum(baseHandle_, 2, &number));
    return static_cast<int>(number);
  }
  return RecNoInOrder(activeHandle_);
}

int TKivDataSet::RecNoInOrder(KIVHANDLE index) {
  if (sequencedLevel_ == slExact) {
    uint32_t key = 0;
    CheckQELResult(this, KivGetKeyNum(index, 1, &key));
    return static_cast<int>(key);
  }
  uint32_t count = 0;
  CheckQELResult(this, KivGetRecordCount(baseHandle_, 2, &count));
  double position = 0.0;
  const KIVRESULT rc = KivGetRelKeyPos(index, &position);
  if (rc == KIV_ERR_NO_RELATIVE_POS) position = 0.0;
  else CheckQELResult(this, rc);
  return static_cast<int>(static_cast<double>(count) * position);
}

int TKivDataSet::LastAutoIncOf(KIVHANDLE handle) {
  uint32_t value = 0;
  CheckQELResult(this, KivGetLastAutoinc(handle, &value));
  if (value > static_cast<uint32_t>(INT32_MAX)) throw ERangeError();
  return static_cast<int>(value);
}

int TKivDataSet::GetRecNo() {
  CheckActive();
  if (State() == dsCalcFields) return ReadImage<int32_t>(CalcBuffer() + bookmarkOffset_);
  if (IsEmpty()) return 0;
  return ReadImage<int32_t>(RecordInfo(ActiveBuffer()));
}

void TKivDataSet::SetRecNo(int n) {
  CheckBrowseMode();
  DoBeforeScroll();
  if (indexKind_ != 0) {
    uint32_t count = 0;
    CheckQELResult(this, KivGetRecordCount(baseHandle_, 2, &count));
    const double position = count == 0 ? 0.0 : std::min(1.0, static_cast<double>(n) / count);
    CheckQELResult(this, KivSetRelKeyPos(activeHandle_, position));
  } else if (Filtered()) {
    CheckQELResult(this, KivGotoTop(baseHandle_));
    CheckQELResult(this, KivSkip(baseHandle_, n - 1));
  } else {
    CheckQELResult(this, KivGotoRecord(baseHandle_, static_cast<uint32_t>(n)));
  }
  Resync(rmCenter);
  DoAfterScroll();
}

int TKivDataSet::GetRecordCount() {
  CheckActive();
  uint16_t mode = KIV_COUNT_IGNORE_FILTERS;
  if (tableOptions_.KivFilterOptions() == TKivRespectFilters::RESPECT_WHEN_COUNTING)
    mode = KIV_COUNT_RESPECT_FILTERS;
  else if (tableOptions_.KivScopeOptions() == TKivRespectScopes::RESPECT_SCOPES_WHEN_COUNTING)
    mode = KIV_COUNT_RESPECT_SCOPES;
  KIVHANDLE handle = activeHandle_;
  if (mode == KIV_COUNT_RESPECT_FILTERS && indexKind_ != 0) {
    uint32_t flags = 0;
    CheckQELResult(this, KivGetIndexFlags(activeHandle_, &flags));
    if (tableType_ == ttKivKDT || (flags & 1u) == 0) {
      char condition[510] = {};
      uint32_t length = sizeof condition;
      CheckQELResult(this, KivGetIndexCondition(activeHandle_, condition, &length));
      if (strnlen(condition, std::min<uint32_t>(length, sizeof condition)) == 0)
        handle = ActiveIndexHasScope() ? activeHandle_ : baseHandle_;
    }
  }
  if (tableOptions_.KivFreshRecordCount()) mode = static_cast<uint16_t>(mode + KIV_COUNT_FRESH);
  uint32_t count = 0;
  CheckQELResult(this, KivGetRecordCount(handle, mode, &count));
  return static_cast<int>(count);
}

}  // namespace checker
