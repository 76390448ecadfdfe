// TKivDataSet: editing, inserting, posting, cancelling, deleting and
// refreshing records on the engine.
//
// Locking: in pessimistic mode (the default) Edit locks the record and the
// lock holds until the post or the cancel; in optimistic mode nothing is
// locked while the user edits: the record's CRC is taken at Edit and compared
// at Post under a short lock, and a difference means another user changed
// the record in between. An exclusive table never locks records.
#include <algorithm>
#include <cstring>
#include <exception>

#include "checker/kivdata.h"
#include "imagebytes.h"

namespace checker {

using namespace kivds;

namespace {

// Whether a character field's bytes hold nothing but blanks (a zero byte
// counts as blank: it pads the empty text of the engine's own tables).
bool BlanksOnly(const uint8_t* p, uint32_t length) {
  return std::all_of(p, p + length, [](uint8_t c) { return c == ' ' || c == 0; });
}

// Raises an engine error of the components' own making: the engine keeps it
// as its last error, so that it reads like any other engine failure.
[[noreturn]] void RaisePlanted(TKivDataSet* dataSet, uint32_t code, const char* text) {
  KivSetLastError(code, text);
  RaiseLastEngineError(dataSet, code);
}

}  // namespace

// ---- Editing -------------------------------------------------------------

void TKivDataSet::InternalEdit() {
  if ((openOptions_ & KIV_TOPT_UPDATE) == 0)
    RaisePlanted(this, KIV_ERR_PERMISSION, "Update permission not granted on this table.");
  const bool optimistic = tableOptions_.KivRecordLockingMode() == TKivRecordLockingModes::lmOptimistic;
  TRecordBuffer buffer = ActiveBuffer();
  const uint32_t position = ReadImage<uint32_t>(buffer + bookmarkOffset_);
  const bool lock = !exclusive_ && !optimistic;
  if (lock) {
    const KIVRESULT rc = KivLockRecord(baseHandle_, position);
    if (rc == KIV_ERR_STATIC_VIEW)
      KivDataSetError(this, "This table is based on a static VIEW. Static VIEWs can not be updated.",
                      kKivStaticViewRefused);
    CheckQELResult(this, rc);
  }
  try {
    // The record as it is stored now, which the lock holder may change.
    ReadRecordIntoBuffer(buffer);
    GetCalcFields(buffer);
    if (!exclusive_ && optimistic) CheckQELResult(this, KivGetRecordCRC(baseHandle_, &editCrc_, 0));
  } catch (...) {
    // The edit does not start: its lock must not outlive it.
    if (lock) KivUnlockRecord(baseHandle_, position);
    throw;
  }
  preEditCopy_.assign(recordSize_ + 1, 0);
  std::memcpy(preEditCopy_.data(), buffer, recordSize_);
  for (int i = 0; i < qelFieldDefs_.Count(); ++i) qelFieldDefs_[i]->Assigned = 0;
}

void TKivDataSet::InternalInsert() {
  if (TRecordBuffer buffer = ActiveBuffer()) std::memset(buffer + bookmarkOffset_, 0, std::min<uint32_t>(bookmarkSize_, 4));
  FreePreEditCopy();
}

void TKivDataSet::DoOnNewRecord() {
  if (State() == dsInsert) {
    if ((openOptions_ & KIV_TOPT_INSERT) == 0)
      RaisePlanted(this, KIV_ERR_PERMISSION, "Insert permission not granted on this table.");
    if (masterLink_.Active()) AssignMasterKeyFields();
  }
  TDataSet::DoOnNewRecord();
}

// ---- Posting -------------------------------------------------------------

void TKivDataSet::InternalPost() {
  const TDataSetState state = State();
  if (state != dsEdit && state != dsInsert) return;
  TDataSet::InternalPost();

  TRecordBuffer buffer = ActiveBuffer();
  const bool optimistic = tableOptions_.KivRecordLockingMode() == TKivRecordLockingModes::lmOptimistic;
  bool lockedHere = false;
  try {
    if (state == dsEdit) {
      CheckQELResult(this, KivGotoRecord(baseHandle_, ReadImage<uint32_t>(buffer + bookmarkOffset_)));
      if (!exclusive_ && optimistic) {
        CheckQELResult(this, KivLockRecord(baseHandle_, 0));
        lockedHere = true;
        uint32_t crc = 0;
        CheckQELResult(this, KivGetRecordCRC(baseHandle_, &crc, 0));
        if (crc != editCrc_) KivDataSetError(this, "Record was changed by another user.", kKivRecordChanged);
      }
    } else if (GetBookmarkFlag(buffer) != bfInserted) {
      // A post that failed after the append comes back here: the record
      // exists already and must not be appended twice.
      CheckQELResult(this, KivAppendRecord(baseHandle_));
      SetBookmarkFlag(buffer, bfInserted);
      uint32_t number = 0;
      CheckQELResult(this, KivGetRecordNum(baseHandle_, 2, &number));
      std::memcpy(buffer + bookmarkOffset_, &number, 4);
      // The engine locks a record it appends to a shared table; that lock
      // is this post's and ends with it.
      lockedHere = !exclusive_;
    }

    for (int i = qelFieldDefs_.Count() - 1; i >= 0; --i) {
      const TQELFieldDef& def = *qelFieldDefs_[i];
      if (!def.Assigned || def.IsBlob() || def.EngineType == KIV_FT_AUTOINC) continue;
      const uint8_t* image = buffer + def.Offset;
      const KIVFIELD field = KIV_FIELD(def.FieldNo);
      if (!def.IsCharacter())
        CheckQELResult(this, KivSetFieldRaw(baseHandle_, field, image, def.Length));
      else if (!tableOptions_.KivPreserveSpaces() && BlanksOnly(image, def.Length))
        CheckQELResult(this, KivSetEmpty(baseHandle_, field));
      else
        CheckQELResult(this, KivSetField(baseHandle_, field, image, def.Length));
    }

    WriteBlobChanges(buffer);

    CheckQELResult(this, KivWriteRecord(baseHandle_));
    if (state == dsEdit && !exclusive_) {
      CheckQELResult(this, KivUnlockRecord(baseHandle_, ReadImage<uint32_t>(buffer + bookmarkOffset_)));
      lockedHere = false;
    } else if (lockedHere) {
      CheckQELResult(this, KivUnlockRecord(baseHandle_, 0));
      lockedHere = false;
    }
  } catch (const std::exception&) {
    // The post's own lock ends here (its result would hide the failure); a
    // pessimistic edit keeps the lock it took at Edit. The engine writes a
    // record's pending changes when it unlocks it, so the fields this post
    // set are dropped first: a failed post stores nothing. The dataset's
    // buffer keeps them for the next try.
    if (lockedHere) {
      KivCancelUpdate(baseHandle_);
      KivUnlockRecord(baseHandle_, 0);
    }
    throw;
  }
}

void TKivDataSet::InternalAddRecord(const void* buffer, bool /*append*/) {
  if (buffer != ActiveBuffer()) KivDataSetError(this, "Unexpected error in InternalAddRecord.");
  InternalPost();
}

// ---- Cancelling, deleting, refreshing ---------------------------------------

void TKivDataSet::InternalCancel() {
  const KIVRESULT rc = KivCancelUpdate(baseHandle_);
  if (rc != KIV_OK && rc != KIV_ERR_NO_CURRENT_RECORD && rc != KIV_ERR_NOTHING_TO_CANCEL) CheckQELResult(this, rc);
  const TDataSetState state = State();
  TRecordBuffer buffer = ActiveBuffer();
  if (state == dsInsert) {
    // The record the new one was inserted before sits in the buffer after
    // it (the spare buffer when the window is full); none when appended at
    // the end or inserted into an empty dataset.
    const int next = ActiveRecordIndex() + 1;
    uint32_t position = 0;
    if (buffer != nullptr && GetBookmarkFlag(buffer) != bfEOF && next <= BufferedRecords())
      position = ReadImage<uint32_t>(Buffer(next) + bookmarkOffset_);
    if (position == 0) {
      InternalLast();
      return;
    }
    CheckQELResult(this, KivGotoBookmark(baseHandle_, position));
  }
  if (buffer == nullptr) return;
  FetchVisibleRecord(buffer, gmCurrent);
  const bool optimistic = tableOptions_.KivRecordLockingMode() == TKivRecordLockingModes::lmOptimistic;
  if (state == dsEdit && !exclusive_ && !optimistic)
    CheckQELResult(this, KivUnlockRecord(baseHandle_, ReadImage<uint32_t>(buffer + bookmarkOffset_)));
}

void TKivDataSet::InternalDelete() {
  try {
    CheckQELResult(this, KivDeleteRecord(baseHandle_));
    CheckQELResult(this, KivWriteRecord(baseHandle_));
  } catch (const std::exception&) {
    KivCancelUpdate(baseHandle_);
    throw;
  }
  uint16_t shown = 0;
  CheckQELResult(this, KivGetDeleted(&shown));
  if (shown == 0) CheckQELResult(this, KivSkip(activeHandle_, 1));
}

void TKivDataSet::InternalRefresh() {
  const KIVRESULT rc = KivRefreshRecord(baseHandle_);
  if (rc != KIV_ERR_NO_CURRENT_RECORD) CheckQELResult(this, rc);
}

TUpdateStatus TKivDataSet::UpdateStatus() {
  KivDataSetError(this, "The method UpdateStatus in TKivDataSet is not supported.");
}

}  // namespace checker
