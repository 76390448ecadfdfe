// TKivDataSet: the order (IndexName, IndexFieldNames, the dictionary's
// default index), index definitions and index files, key buffers and ranges,
// text scopes and the master-detail link.
#include <cstring>

#include "imagebytes.h"
#include "checker/kivdata.h"
#include "checker/kivindex.h"

namespace checker {

using namespace kivds;

namespace {

// Key buffer layout: a Modified byte, an Exclusive byte, two spare bytes, the
// 32-bit key field count and the 32-bit size of the whole buffer; then the
// record image; then one 16-bit length per engine field (kUnsetLength = not
// set).
constexpr size_t kKeyHeader = 12;
constexpr size_t kKeyModified = 0;
constexpr size_t kKeyExclusive = 1;
constexpr size_t kKeyCount = 4;
constexpr size_t kKeySize = 8;
constexpr uint16_t kUnsetLength = 0xFFFF;

constexpr int kRangeStart = 1;
constexpr int kRangeEnd = 2;
constexpr int kAppliedStart = 3;
constexpr int kAppliedEnd = 4;
constexpr int kSavedKey = 5;

// The longest scope text is this many characters plus one; the refusal
// names this number. (The engine's own limit for a scope key is this number
// of bytes: it refuses a longer text when the scope is activated.)
constexpr size_t kMaxScopeText = 4082;
// Room for any key the engine builds (its keys and scopes stay below this).
constexpr uint32_t kKeyRoom = 4084;

void WriteInt32(uint8_t* p, int32_t v) { std::memcpy(p, &v, 4); }

// The text an engine text call wrote into `buf` of capacity `room`.
std::string TextOut(const char* buf, uint32_t length, uint32_t room) {
  return std::string(buf, strnlen(buf, std::min(length, room)));
}

// The file-name part of a path with either separator.
std::string FilePartOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// ---- Key buffers ---------------------------------------------------------

namespace {

struct KeyLayout {
  uint32_t recordSize;
  uint32_t fieldCount;
  size_t lengths() const { return kKeyHeader + recordSize; }
  size_t size() const { return kKeyHeader + recordSize + 2u * fieldCount; }
};

KeyLayout LayoutOf(const std::vector<uint8_t>& key, uint32_t recordSize) {
  return KeyLayout{recordSize, static_cast<uint32_t>((key.size() - kKeyHeader - recordSize) / 2)};
}

uint16_t FieldLength(const std::vector<uint8_t>& key, uint32_t recordSize, int fieldNo) {
  uint16_t v;
  std::memcpy(&v, key.data() + LayoutOf(key, recordSize).lengths() + 2u * static_cast<size_t>(fieldNo - 1), 2);
  return v;
}

}  // namespace

void TKivDataSet::AllocateKeyBuffers() {
  uint32_t fieldCount = 0;
  CheckQELResult(this, KivGetNumFields(baseHandle_, &fieldCount));
  const KeyLayout layout{recordSize_, fieldCount};
  for (std::vector<uint8_t>& key : keyBuffers_) {
    key.assign(layout.size(), 0);
    WriteInt32(key.data() + kKeySize, static_cast<int32_t>(layout.size()));
  }
  for (int slot = 0; slot < 6; ++slot) InitKeyBuffer(slot);
  keyBufferIndex_ = kRangeStart;
}

void TKivDataSet::InitKeyBuffer(int slot) {
  std::vector<uint8_t>& key = keyBuffers_[slot];
  if (key.empty()) return;
  const KeyLayout layout = LayoutOf(key, recordSize_);
  key[kKeyModified] = 0;
  key[kKeyExclusive] = 0;
  WriteInt32(key.data() + kKeyCount, 0);
  std::memset(key.data() + layout.lengths(), 0xFF, 2u * layout.fieldCount);
  CheckQELResult(this, KivGetNullRecord(baseHandle_, key.data() + kKeyHeader, recordSize_));
}

void TKivDataSet::FreeKeyBuffers() {
  for (std::vector<uint8_t>& key : keyBuffers_) std::vector<uint8_t>().swap(key);
}

TRecordBuffer TKivDataSet::KeyBufferRecord() {
  std::vector<uint8_t>& key = keyBuffers_[keyBufferIndex_];
  return key.empty() ? nullptr : key.data() + kKeyHeader;
}

void TKivDataSet::SetKeyFieldLength(TField* field, int length) {
  std::vector<uint8_t>& key = keyBuffers_[keyBufferIndex_];
  if (key.empty() || field->FieldNo() < 1) return;
  const KeyLayout layout = LayoutOf(key, recordSize_);
  if (static_cast<uint32_t>(field->FieldNo()) > layout.fieldCount) return;
  const uint16_t value = static_cast<uint16_t>(std::min(std::max(length, 0), 0xFFFE));
  std::memcpy(key.data() + layout.lengths() + 2u * static_cast<size_t>(field->FieldNo() - 1), &value, 2);
}

void TKivDataSet::CheckSetKeyState() {
  if (State() != dsSetKey) KivDataSetError(this, "Dataset not in edit mode");
}

bool TKivDataSet::KeyExclusive() {
  CheckSetKeyState();
  return keyBuffers_[keyBufferIndex_][kKeyExclusive] != 0;
}

void TKivDataSet::SetKeyExclusive(bool value) {
  CheckSetKeyState();
  keyBuffers_[keyBufferIndex_][kKeyExclusive] = value ? 1 : 0;
}

int TKivDataSet::KeyFieldCount() {
  CheckSetKeyState();
  return ReadImage<int32_t>(keyBuffers_[keyBufferIndex_].data() + kKeyCount);
}

void TKivDataSet::SetKeyFieldCount(int count) {
  CheckSetKeyState();
  WriteInt32(keyBuffers_[keyBufferIndex_].data() + kKeyCount, std::max(count, 0));
}

// ---- The active index ----------------------------------------------------

bool TKivDataSet::HasActiveIndex() const {
  return indexKind_ != 0 && HasBaseHandle() && activeHandle_ != kClosedHandle && activeHandle_ != baseHandle_;
}

bool TKivDataSet::ActiveIndexHasSegments() {
  if (!HasActiveIndex()) return false;
  uint16_t count = 0;
  return KivGetNumSegments(activeHandle_, &count) == KIV_OK && count > 0;
}

std::vector<std::string> TKivDataSet::ActiveIndexSegments() {
  if (!HasActiveIndex()) KivDataSetError(this, "Internal Error: GetSegmentFieldNum : No Active Index");
  return SegmentNames(activeHandle_);
}

std::vector<std::string> TKivDataSet::SegmentNames(KIVHANDLE index) {
  uint16_t count = 0;
  CheckQELResult(this, KivGetNumSegments(index, &count));
  std::vector<std::string> names;
  for (uint16_t segment = 1; segment <= count; ++segment) {
    char name[511] = {};
    uint32_t length = 510;
    CheckQELResult(this, KivGetSegmentFieldname(index, segment, name, &length));
    names.push_back(TextOut(name, length, 510));
  }
  return names;
}

bool TKivDataSet::IsActiveIndexSegment(TField* field) {
  if (!HasActiveIndex()) return false;
  for (const std::string& name : ActiveIndexSegments())
    if (SameText(name, field->FieldName())) return true;
  return false;
}

bool TKivDataSet::ActiveIndexHasScope() {
  if (!HasActiveIndex()) return false;
  for (uint16_t which : {KIV_SCOPE_TOP, KIV_SCOPE_BOTTOM}) {
    uint32_t length = 0;
    const KIVRESULT rc = KivGetScope(activeHandle_, which, nullptr, &length);
    if (rc == KIV_OK || rc == KIV_ERR_BUFFER_TOO_SMALL) return true;
  }
  return false;
}

bool TKivDataSet::GetIsIndexField(TField* field) {
  if (State() == dsSetKey && !ActiveIndexHasSegments()) return true;
  if (field->FieldNo() < 1) return false;
  return IsActiveIndexSegment(field);
}

// ---- Choosing the order ----------------------------------------------------

KIVHANDLE TKivDataSet::OpenOrderHandle() {
  KIVHANDLE index = 0;
  switch (indexKind_) {
    case 1: CheckQELResult(this, KivGetIndexHandle(baseHandle_, indexName_.c_str(), &index)); break;
    case 2: {
      indexDefs_.Update();
      const TIndexDef* def = indexDefs_.GetIndexForFields(indexFieldNames_, false);
      if (def == nullptr) KivDataSetError(this, "Not a valid index field name:" + indexFieldNames_);
      CheckQELResult(this, KivGetIndexHandle(baseHandle_, def->Name().c_str(), &index));
      break;
    }
    case 3: CheckQELResult(this, KivGetIndexHandle(baseHandle_, defaultIndexName_.c_str(), &index)); break;
    default: return baseHandle_;
  }
  return index;
}

void TKivDataSet::SwitchOrder(const std::function<void()>& change) {
  if (Active()) CheckBrowseMode();
  const std::string oldName = indexName_, oldFields = indexFieldNames_;
  const int oldKind = indexKind_;
  change();
  if (HasBaseHandle()) {
    try {
      if (scoped_) SetScoped(false);
      else ResetRange();
      SwitchToActiveIndex();
    } catch (...) {
      indexName_ = oldName;
      indexFieldNames_ = oldFields;
      indexKind_ = oldKind;
      throw;
    }
  }
  if (Active()) Resync(0);
}

void TKivDataSet::SetIndexName(const std::string& name) {
  SwitchOrder([&] {
    indexName_ = name;
    indexFieldNames_.clear();
    indexKind_ = name.empty() ? 0 : UpperCase(name) == "KIV_DEFAULT" ? 3 : 1;
  });
  if (Active() && masterLink_.Active() && !masterLink_.Fields().empty()) MasterChanged();
}

void TKivDataSet::SetIndexFieldNames(const std::string& names) {
  const std::string text = Trim(names);
  SwitchOrder([&] {
    indexFieldNames_ = text;
    indexName_.clear();
    indexKind_ = text.empty() ? 0 : 2;
  });
}

void TKivDataSet::SetIndexDefs(const TIndexDefs& defs) { indexDefs_.Assign(defs); }

void TKivDataSet::UpdateEngineIndexDefs() {
  const bool temporary = !HasBaseHandle();
  const KIVHANDLE handle = temporary ? OpenEngineCursor() : baseHandle_;
  try {
    indexDefs_.Clear();
    uint16_t count = 0;
    CheckQELResult(this, KivGetNumIndexes(handle, &count));
    std::vector<KIVHANDLE> indexes(count);
    if (count > 0) CheckQELResult(this, KivGetAllIndexes(handle, indexes.data(), &count));
    for (uint16_t i = 0; i < count && i < indexes.size(); ++i) {
      char name[261] = {};
      uint32_t length = 260;
      CheckQELResult(this, KivGetIndexName(indexes[i], name, &length));
      const std::string indexName = TextOut(name, length, 260);
      std::string fields;
      for (const std::string& segment : SegmentNames(indexes[i])) fields += (fields.empty() ? "" : ";") + segment;
      unsigned options = 0;
      uint16_t answer = 0;
      CheckQELResult(this, KivIsIndexDescending(indexes[i], &answer));
      if (answer == 1) options |= ixDescending;
      CheckQELResult(this, KivIsIndexUnique(indexes[i], &answer));
      if (answer == 1) options |= ixUnique;
      CheckQELResult(this, KivIsIndexPrimaryKey(indexes[i], &answer));
      if (answer == 1) options |= ixPrimary;
      indexDefs_.Add(indexName, UpperCase(fields), options);
    }
  } catch (...) {
    if (temporary) KivCloseTable(handle);
    throw;
  }
  if (temporary) KivCloseTable(handle);
}

void TKivDataSet::ReadDefaultIndexFromDictionary() {
  TKivConnection* connection = kivConnection_;
  const std::string table = GetTableName();
  if (connection == nullptr || !connection->IsDictionaryConnection() || connection->ConnectionHandle() == 0 ||
      table.empty())
    return;
  char buf[201] = {};
  uint32_t length = 200;
  const KIVRESULT rc =
      KivDDGetTableProperty(connection->ConnectionHandle(), table.c_str(), KIV_DD_PROP_DEFAULT_INDEX, buf, &length);
  const bool askedForDefault = UpperCase(indexName_) == "KIV_DEFAULT";
  if (rc == KIV_ERR_DD_NO_PROPERTY) {
    defaultIndexName_.clear();
    if (askedForDefault) {
      indexName_.clear();
      indexKind_ = 0;
    }
    return;
  }
  if (rc != KIV_OK) return;
  defaultIndexName_ = TextOut(buf, length, 200);
  // An order chosen by field names is kept.
  if (askedForDefault || (indexName_.empty() && indexFieldNames_.empty() && !InState(csLoading))) {
    indexKind_ = 3;
    indexName_ = "KIV_DEFAULT";
  }
}

// ---- Index files ---------------------------------------------------------

void TKivDataSet::OpenIndexFile(const std::string& name) {
  if (!Active()) KivDataSetError(this, "Table must be Active.");
  const std::string path =
      name.find_first_of("/\\") != std::string::npos ? name : GetDatabasePath() + "\\" + name;
  KIVHANDLE handles[50] = {};
  uint16_t count = 50;
  CheckQELResult(this, KivOpenIndex(baseHandle_, path.c_str(), handles, &count));
  indexDefs_.SetUpdated(false);
}

void TKivDataSet::CloseIndexFile(const std::string& name) {
  if (!Active()) KivDataSetError(this, "Table must be Active.");
  const std::string wanted = FilePartOf(name);
  auto fileOf = [&](KIVHANDLE index) {
    char buf[261] = {};
    uint32_t length = 260;
    CheckQELResult(this, KivGetIndexFilename(index, 2, buf, &length));
    return FilePartOf(TextOut(buf, length, 260));
  };
  // Leave the order first when it lives in that file.
  if (HasActiveIndex() && SameText(fileOf(activeHandle_), wanted)) SetIndexName("");
  uint16_t count = 0;
  CheckQELResult(this, KivGetNumIndexes(baseHandle_, &count));
  std::vector<KIVHANDLE> indexes(count);
  if (count > 0) CheckQELResult(this, KivGetAllIndexes(baseHandle_, indexes.data(), &count));
  for (uint16_t i = 0; i < count && i < indexes.size(); ++i) {
    if (!SameText(fileOf(indexes[i]), wanted)) continue;
    CheckQELResult(this, KivCloseIndex(indexes[i]));
    break;
  }
  indexDefs_.SetUpdated(false);
}

TKivIndexFiles::TKivIndexFiles(TKivDataSet* owner) : owner_(owner) {
  if (owner == nullptr) KivDataSetError(nullptr, "TKivIndexFiles instances require a non-nil owner");
  SetSorted(true);
  SetDuplicates(TDuplicates::dupIgnore);
}

int TKivIndexFiles::Add(const std::string& s) {
  if (owner_->Active()) owner_->OpenIndexFile(s);
  owner_->IndexDefs().SetUpdated(false);
  return TStringList::Add(s);
}

void TKivIndexFiles::Insert(int, const std::string& s) { Add(s); }  // the list keeps its order

void TKivIndexFiles::Delete(int index) {
  if (owner_->Active()) owner_->CloseIndexFile(Get(index));
  owner_->IndexDefs().SetUpdated(false);
  TStringList::Delete(index);
}

void TKivIndexFiles::Clear() {
  if (owner_->Active())
    for (int i = 0; i < Count(); ++i) owner_->CloseIndexFile(Get(i));
  owner_->IndexDefs().SetUpdated(false);
  TStringList::Clear();
}

// ---- Ranges --------------------------------------------------------------

void TKivDataSet::BeginKeyEdit(int slot) {
  if (!HasActiveIndex()) KivDataSetError(this, "Index is not set.");
  CheckBrowseMode();
  keyBufferIndex_ = slot;
  keyBuffers_[kSavedKey] = keyBuffers_[slot];
  InitKeyBuffer(slot);
  SetState(dsSetKey);
  keyBuffers_[slot][kKeyModified] = 1;
  SetModified(true);
  DataEvent(deDataSetChange, 0);
}

void TKivDataSet::EndKeyEdit(bool commit) {
  DataEvent(deCheckBrowseMode, 0);
  if (commit) keyBuffers_[keyBufferIndex_][kKeyModified] = Modified() ? 1 : 0;
  else keyBuffers_[keyBufferIndex_] = keyBuffers_[kSavedKey];
  SetState(dsBrowse);
  DataEvent(deDataSetChange, 0);
}

void TKivDataSet::Post() {
  if (State() != dsSetKey) {
    TDataSet::Post();
    return;
  }
  UpdateRecord();
  EndKeyEdit(true);
}

void TKivDataSet::Cancel() {
  if (State() != dsSetKey) {
    TDataSet::Cancel();
    return;
  }
  EndKeyEdit(false);
}

void TKivDataSet::SetRangeStart() { BeginKeyEdit(kRangeStart); }
void TKivDataSet::SetRangeEnd() { BeginKeyEdit(kRangeEnd); }

void TKivDataSet::ApplyRange() {
  CheckBrowseMode();
  if (ApplyRangeScopes()) First();
}

bool TKivDataSet::ApplyRangeScopes() {
  if (scoped_) KivDataSetError(this, "Cannot set range on table when there is an active scope.");
  const size_t compared = kKeyHeader + recordSize_;
  auto same = [&](int a, int b) {
    return keyBuffers_[a].size() >= compared && keyBuffers_[b].size() >= compared &&
           std::memcmp(keyBuffers_[a].data(), keyBuffers_[b].data(), compared) == 0;
  };
  if (same(kRangeStart, kAppliedStart) && same(kRangeEnd, kAppliedEnd)) return false;
  struct Bound {
    int slot, applied;
    uint16_t scope;
    int16_t step;
  };
  for (const Bound& bound : {Bound{kRangeStart, kAppliedStart, KIV_SCOPE_TOP, 1},
                             Bound{kRangeEnd, kAppliedEnd, KIV_SCOPE_BOTTOM, -1}}) {
    if (keyBuffers_[bound.slot][kKeyModified] == 0) continue;
    std::string key = BuildRawKeyFromBuffer(bound.slot, false);
    // Only the engine's own tables step a key past an exclusive bound.
    if (keyBuffers_[bound.slot][kKeyExclusive] != 0 && engineOpenType_ == KIV_TABLE_KDT) {
      uint16_t keyLength = 0;
      CheckQELResult(this, KivGetKeyLength(activeHandle_, &keyLength));
      key.resize(std::max<size_t>(key.size(), keyLength), '\0');
      CheckQELResult(this, KivStepIndexKey(activeHandle_, key.data(), keyLength, bound.step));
    }
    CheckQELResult(this, KivSetScope(activeHandle_, bound.scope, key.data(), static_cast<uint32_t>(key.size()),
                                     KIV_KEY_RAW));
    keyBuffers_[bound.applied] = keyBuffers_[bound.slot];
  }
  return true;
}

std::string TKivDataSet::BuildRawKeyFromBuffer(int slot, bool partial) {
  const std::vector<uint8_t>& key = keyBuffers_[slot];
  CheckQELResult(this, KivInitRawKey(activeHandle_));
  const bool skipUnset =
      tableOptions_.KivAutoKeyFieldCount() || ReadImage<int32_t>(key.data() + kKeyCount) != 0;
  for (const std::string& segment : SegmentNames(activeHandle_)) {
    const TQELFieldDef* def = qelFieldDefs_.Find(segment);
    if (def == nullptr) continue;  // a segment that is no plain field (an expression)
    const uint16_t recorded = FieldLength(key, recordSize_, def->FieldNo);
    if (recorded == kUnsetLength) {
      if (!skipUnset) CheckQELResult(this, KivSetEmpty(activeHandle_, segment.c_str()));
      continue;
    }
    const bool character = def->EngineType == KIV_FT_CHARACTER || def->EngineType == KIV_FT_CICHARACTER;
    const uint32_t length = partial && character ? std::min<uint32_t>(recorded, def->Length) : def->Length;
    const uint8_t* bytes = key.data() + kKeyHeader + def->Offset;
    if (character) CheckQELResult(this, KivSetField(activeHandle_, segment.c_str(), bytes, length));
    else CheckQELResult(this, KivSetFieldRaw(activeHandle_, segment.c_str(), bytes, length));
  }
  std::string raw(kKeyRoom, '\0');
  uint32_t length = kKeyRoom;
  CheckQELResult(this, KivBuildRawKey(activeHandle_, raw.data(), &length));
  raw.resize(std::min(length, kKeyRoom));
  return raw;
}

void TKivDataSet::CancelRange() {
  CheckBrowseMode();
  UpdateCursorPos();
  if (ResetRange()) Resync(0);
}

bool TKivDataSet::ResetRange() {
  if (scoped_) return true;
  if (keyBuffers_[kAppliedStart].empty()) return false;
  if (keyBuffers_[kAppliedStart][kKeyModified] == 0 && keyBuffers_[kAppliedEnd][kKeyModified] == 0) return false;
  CheckQELResult(this, KivClearAllScopes(baseHandle_));
  uint16_t bof = 0, eof = 0;
  CheckQELResult(this, KivAtBOF(baseHandle_, &bof));
  CheckQELResult(this, KivAtEOF(baseHandle_, &eof));
  if (bof != 0 && eof != 0) CheckQELResult(this, KivGotoTop(activeHandle_));
  InitKeyBuffer(kAppliedStart);
  InitKeyBuffer(kAppliedEnd);
  return true;
}

// ---- Text scopes ---------------------------------------------------------

namespace {

void CheckScopeText(TKivDataSet* dataSet, const std::string& text) {
  if (text.size() > kMaxScopeText + 1) KivDataSetError(dataSet, "Scope text length exceeded 4082");
}

}  // namespace

void TKivDataSet::SetScopeBegin(const std::string& text) {
  CheckScopeText(this, text);
  scopeBegin_ = text;
}

void TKivDataSet::SetScopeEnd(const std::string& text) {
  CheckScopeText(this, text);
  scopeEnd_ = text;
}

void TKivDataSet::SetScoped(bool value) {
  if (value == scoped_) return;
  if (!Active()) {
    scoped_ = value;
    return;
  }
  if (value) {
    ActivateScope();
    scoped_ = true;
    uint16_t visible = 0;
    const KIVRESULT rc = KivIsRecordVisible(activeHandle_, &visible);
    if (rc == KIV_ERR_NO_CURRENT_RECORD) visible = 0;
    else CheckQELResult(this, rc);
    if (visible != 0) Resync(0);
    else First();
    return;
  }
  DeactivateScope();
  scoped_ = false;
  if (Bof() && Eof()) {
    First();
    return;
  }
  const KIVRESULT rc = KivGotoRecord(baseHandle_, static_cast<uint32_t>(ReadImage<int32_t>(ActiveBuffer() + bookmarkOffset_)));
  if (rc == KIV_ERR_NO_SUCH_RECORD) {
    // The record is gone: the one after it.
    Next();
    return;
  }
  CheckQELResult(this, rc);
  Resync(0);
}

void TKivDataSet::ActivateScope() {
  if (!HasActiveIndex()) KivDataSetError(this, "Cannot activate scope when there is no active index.");
  for (uint16_t which : {KIV_SCOPE_TOP, KIV_SCOPE_BOTTOM}) {
    char buf[kKeyRoom] = {};
    uint32_t length = kMaxScopeText;
    const KIVRESULT rc = KivGetScope(activeHandle_, which, buf, &length);
    if (rc == KIV_OK || rc == KIV_ERR_BUFFER_TOO_SMALL)
      KivDataSetError(this, "Cannot activate scope when there is an active range.");
  }
  if (!scopeBegin_.empty())
    CheckQELResult(this, KivSetScope(activeHandle_, KIV_SCOPE_TOP, scopeBegin_.data(),
                                     static_cast<uint32_t>(scopeBegin_.size()), KIV_KEY_TEXT));
  if (!scopeEnd_.empty())
    CheckQELResult(this, KivSetScope(activeHandle_, KIV_SCOPE_BOTTOM, scopeEnd_.data(),
                                     static_cast<uint32_t>(scopeEnd_.size()), KIV_KEY_TEXT));
}

void TKivDataSet::DeactivateScope() {
  if (!HasActiveIndex()) return;
  for (uint16_t which : {KIV_SCOPE_TOP, KIV_SCOPE_BOTTOM}) {
    const KIVRESULT rc = KivClearScope(activeHandle_, which);
    if (rc != KIV_ERR_NO_SCOPE) CheckQELResult(this, rc);
  }
}

// ---- Master-detail -------------------------------------------------------

void TKivDataSet::ListenToMaster() {
  masterLink_.OnMasterChange = [this] { MasterChanged(); };
  masterLink_.OnMasterDisable = [this] { MasterDisabled(); };
}

void TKivDataSet::SetMasterSource(TDataSource* source) {
  if (source != nullptr && source->IsLinkedTo(this)) KivDataSetError(this, "Circular Data Link");
  ListenToMaster();
  masterLink_.SetDataSource(source);
  if (source == nullptr) masterLink_.SetFieldNames("");
}

void TKivDataSet::SetMasterFields(const std::string& names) {
  ListenToMaster();
  masterLink_.SetFieldNames(names);
}

void TKivDataSet::MasterChanged() {
  if (!Active()) return;  // opening applies the master's range
  CheckBrowseMode();
  ApplyMasterRange();
  ApplyRange();
}

void TKivDataSet::MasterDisabled() {
  if (Active()) CancelRange();
}

void TKivDataSet::AssignMasterKeyFields() {
  const std::vector<TField*>& masters = masterLink_.Fields();
  if (masters.empty() || !HasActiveIndex()) return;
  const std::vector<std::string> segments = ActiveIndexSegments();
  for (size_t i = 0; i < masters.size() && i < segments.size(); ++i) FieldByName(segments[i])->Assign(*masters[i]);
}

void TKivDataSet::ApplyMasterRange() {
  const std::vector<std::string> segments = ActiveIndexSegments();
  const std::vector<TField*>& masters = masterLink_.Fields();
  const TDataSetState previous = SetTempState(dsSetKey);
  try {
    keyBufferIndex_ = kRangeStart;
    InitKeyBuffer(kRangeStart);
    keyBuffers_[kRangeStart][kKeyModified] = 1;
    for (size_t i = 0; i < masters.size(); ++i) {
      if (i >= segments.size()) KivDataSetError(this, "Internal Error: GetSegmentFieldNum : No Active Index");
      FieldByName(segments[i])->Assign(*masters[i]);
    }
    WriteInt32(keyBuffers_[kRangeStart].data() + kKeyCount, static_cast<int32_t>(masters.size()));
  } catch (...) {
    RestoreState(previous);
    throw;
  }
  RestoreState(previous);
  keyBuffers_[kRangeEnd] = keyBuffers_[kRangeStart];
}

void TKivDataSet::OpenCursor(bool infoQuery) {
  TDataSet::OpenCursor(infoQuery);
  if (!masterLink_.Active() || masterLink_.Fields().empty() || !HasActiveIndex()) return;
  // The detail opens on the rows of the master's current record.
  ApplyMasterRange();
  ApplyRangeScopes();
  InternalFirst();
}

}  // namespace checker
