#include <algorithm>

#include "kivds/db.h"

namespace kivds {

// ---- TDataSource ---------------------------------------------------------

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  while (!links_.empty()) links_.back()->SetDataSource(nullptr);
  SetDataSet(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet != nullptr && IsLinkedTo(dataSet)) DatabaseError("Circular datalinks are not allowed", this);
  if (dataSet_ != nullptr) dataSet_->RemoveDataSource(this);
  dataSet_ = dataSet;
  if (dataSet_ != nullptr) dataSet_->AddDataSource(this);
  NotifyDataLinks(deUpdateState, 0);
  state_ = State();
}

void TDataSource::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  NotifyDataLinks(deUpdateState, 0);
}

TDataSetState TDataSource::State() const {
  return (dataSet_ != nullptr && enabled_) ? dataSet_->State() : dsInactive;
}

bool TDataSource::IsLinkedTo(const TDataSet* dataSet) const {
  // Follow this source's dataset, its master source's dataset, and so on.
  const TDataSource* s = this;
  for (int depth = 0; s != nullptr && depth < 1000; ++depth) {
    TDataSet* ds = s->DataSet();
    if (ds == nullptr) return false;
    if (ds == dataSet) return true;
    s = ds->GetDataSource();
  }
  return s != nullptr;
}

void TDataSource::Edit() {
  if (autoEdit_ && State() == dsBrowse) dataSet_->Edit();
}

void TDataSource::AddDataLink(TDataLink* link) {
  links_.push_back(link);
  if (dataSet_ != nullptr) dataSet_->UpdateBufferCount();
}

void TDataSource::RemoveDataLink(TDataLink* link) {
  std::erase(links_, link);
  if (dataSet_ != nullptr) dataSet_->UpdateBufferCount();
}

void TDataSource::NotifyDataLinks(TDataEvent event, intptr_t info) {
  // A link may detach (or attach others) while it is told; walk a copy and
  // skip links that left.
  std::vector<TDataLink*> copy = links_;
  for (TDataLink* link : copy)
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->DataEvent(event, info);
}

void TDataSource::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deUpdateState) {
    if (State() != state_) {
      state_ = State();
      NotifyDataLinks(deUpdateState, 0);
      if (OnStateChange) OnStateChange(this);
    }
    return;
  }
  if (event == deUpdateRecord && OnUpdateData) OnUpdateData(this);
  NotifyDataLinks(event, info);
  if ((event == deFieldChange || event == deRecordChange || event == deDataSetChange ||
       event == deDataSetScroll || event == deLayoutChange) &&
      OnDataChange)
    OnDataChange(this, event == deFieldChange ? reinterpret_cast<TField*>(info) : nullptr);
}

// ---- TDataLink -----------------------------------------------------------

TDataLink::~TDataLink() {
  if (dataSource_ != nullptr) dataSource_->RemoveDataLink(this);
  dataSource_ = nullptr;
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == dataSource_) return;
  if (source != nullptr && GetDetailDataSet() != nullptr &&
      source->IsLinkedTo(GetDetailDataSet()))
    DatabaseError("Circular datalinks are not allowed");
  if (dataSource_ != nullptr) dataSource_->RemoveDataLink(this);
  dataSource_ = source;
  if (dataSource_ != nullptr) dataSource_->AddDataLink(this);
  UpdateState();
}

TDataSet* TDataLink::DataSet() const { return dataSource_ ? dataSource_->DataSet() : nullptr; }

void TDataLink::SetBufferCount(int count) {
  count = std::max(1, count);
  if (count == bufferCount_) return;
  bufferCount_ = count;
  if (DataSet() != nullptr) DataSet()->UpdateBufferCount();
}

int TDataLink::ActiveRecord() const {
  TDataSet* ds = DataSet();
  return (ds != nullptr && active_) ? ds->activeRecord_ - firstRecord_ : 0;
}

void TDataLink::SetActiveRecord(int index) {
  TDataSet* ds = DataSet();
  if (ds == nullptr || !active_) return;
  const int target = firstRecord_ + index;
  if (target >= 0 && target < ds->recordCount_) ds->activeRecord_ = target;
}

bool TDataLink::Edit() {
  if (!editing_ && dataSource_ != nullptr) dataSource_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::UpdateState() {
  TDataSet* ds = DataSet();
  const bool active = dataSource_ != nullptr && dataSource_->State() != dsInactive;
  if (active != active_) {
    active_ = active;
    firstRecord_ = 0;
    ActiveChanged();
  }
  const bool editing = active_ && ds != nullptr &&
                       (ds->State() == dsEdit || ds->State() == dsInsert || ds->State() == dsSetKey);
  if (editing != editing_) {
    editing_ = editing;
    EditingChanged();
  }
}

void TDataLink::KeepActiveInWindow() {
  TDataSet* ds = DataSet();
  if (ds == nullptr) return;
  const int active = ds->activeRecord_;
  if (active < firstRecord_) firstRecord_ = active;
  if (active >= firstRecord_ + bufferCount_) firstRecord_ = active - bufferCount_ + 1;
  if (firstRecord_ < 0) firstRecord_ = 0;
}

void TDataLink::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (!active_) return;
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case deDataSetChange:
      KeepActiveInWindow();
      DataSetChanged();
      break;
    case deDataSetScroll:
      KeepActiveInWindow();
      DataSetScrolled(static_cast<int>(info));
      break;
    case deLayoutChange:
      KeepActiveInWindow();
      LayoutChanged();
      break;
    case deUpdateRecord: UpdateRecord(); break;
    case deCheckBrowseMode: CheckBrowseMode(); break;
    case deFocusControl: FocusControl(reinterpret_cast<TField*>(info)); break;
    default: break;
  }
}

void TMasterDataLink::SetFieldNames(const std::string& names) {
  if (names == fieldNames_) return;
  fieldNames_ = names;
  ActiveChanged();
}

void TMasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active() && !fieldNames_.empty()) {
    try {
      DataSet()->GetFieldList(fields_, fieldNames_);
    } catch (const EDatabaseError&) {
      fields_.clear();
      throw;
    }
  }
  if (detail_ != nullptr && detail_->InState(csDestroying)) return;
  if (Active() && !fields_.empty()) {
    if (OnMasterChange) OnMasterChange();
  } else if (OnMasterDisable) {
    OnMasterDisable();
  }
}

void TMasterDataLink::CheckBrowseMode() {
  if (detail_ != nullptr && detail_->Active()) detail_->CheckBrowseMode();
}

void TMasterDataLink::RecordChanged(TField* field) {
  if (!Active() || fields_.empty() || !OnMasterChange) return;
  if (field == nullptr || std::find(fields_.begin(), fields_.end(), field) != fields_.end())
    OnMasterChange();
}

// ---- TDataSet: life cycle ------------------------------------------------

TDataSet::TDataSet(TComponent* owner) : TComponent(owner), fields_(this), fieldDefs_(this) {}

TDataSet::~TDataSet() {
  // The descendant has closed its cursor; what is left are our own buffers
  // and the objects that point at us.
  std::vector<TDataSource*> sources = dataSources_;
  for (TDataSource* s : sources) s->SetDataSet(nullptr);
  std::vector<TField*> fields(fields_.begin(), fields_.end());
  state_ = dsInactive;
  for (TField* f : fields) f->SetDataSet(nullptr);
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  if (streamedActive_) {
    streamedActive_ = false;
    try {
      SetActive(true);
    } catch (...) {
      if (InState(csDesigning) && ApplicationExceptionHandler())
        ApplicationExceptionHandler()(std::current_exception(), this);
      else
        throw;
    }
  }
}

void TDataSet::SetActive(bool value) {
  if (InState(csLoading)) {
    streamedActive_ = value;
    return;
  }
  if (value == Active()) return;
  if (value) {
    DoBeforeOpen();
    try {
      OpenCursor(false);
      UpdateBufferCount();
      if (static_cast<int>(buffers_.size()) != bufferCount_ + 1) SetBufListSize(bufferCount_ + 1);
      ClearBuffers();
      SetState(dsBrowse);
      GetNextRecord();
      GetNextRecords();
      bof_ = true;
      DataEvent(deDataSetChange, 0);
    } catch (...) {
      SetState(dsInactive);
      CloseCursor();
      throw;
    }
    DoAfterOpen();
  } else {
    if (!InState(csDestroying)) DoBeforeClose();
    SetState(dsInactive);
    CloseCursor();
    if (!InState(csDestroying)) DoAfterClose();
  }
}

void TDataSet::OpenCursor(bool /*infoQuery*/) {
  defaultFields_ = fields_.Count() == 0;
  InternalOpen();
}

void TDataSet::CloseCursor() {
  SetBufListSize(0);
  ClearBuffers();
  if (IsCursorOpen()) InternalClose();
}

void TDataSet::SetBufListSize(int count) {
  for (TRecordBuffer& b : buffers_) FreeRecordBuffer(b);
  buffers_.clear();
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  for (int i = 0; i < count; ++i) buffers_.push_back(AllocRecordBuffer());
}

void TDataSet::UpdateBufferCount() {
  int count = 1;
  for (TDataSource* s : dataSources_)
    for (TDataLink* l : s->links_) count = std::max(count, l->BufferCount());
  if (count == bufferCount_) return;
  bufferCount_ = count;
  if (!Active() || state_ != dsBrowse) return;
  // Rebuild the window around the current record.
  UpdateCursorPos();
  SetBufListSize(bufferCount_ + 1);
  Resync(0);
}

void TDataSet::CheckActive() const {
  if (state_ == dsInactive) DatabaseError("Cannot perform this operation on a closed dataset", this);
}

void TDataSet::CheckInactive() const {
  if (state_ != dsInactive) DatabaseError("Cannot perform this operation on an open dataset", this);
}

void TDataSet::CheckCanModify() {
  if (!GetCanModify()) DatabaseError("Cannot modify a read-only dataset", this);
}

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  modified_ = false;
  DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
  TDataSetState previous = state_;
  state_ = value;
  ++tempStateDepth_;
  return previous;
}

void TDataSet::RestoreState(TDataSetState previous) {
  state_ = previous;
  if (tempStateDepth_ > 0) --tempStateDepth_;
}

void TDataSet::AddDataSource(TDataSource* s) {
  dataSources_.push_back(s);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* s) {
  std::erase(dataSources_, s);
  if (!InState(csDestroying)) UpdateBufferCount();
}

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deFieldChange) {
    auto* field = reinterpret_cast<TField*>(info);
    if (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc) modified_ = true;
    if (state_ != dsSetKey && autoCalcFields_ && calcFieldsSize_ > 0 && ActiveBuffer() != nullptr)
      GetCalcFields(ActiveBuffer());
    field->Change();
  }
  if (tempStateDepth_ > 0) return;
  if (disableCount_ > 0) {
    // Controls hear about a close at once; everything else waits.
    if (event == deUpdateState && state_ == dsInactive && disableState_ != dsInactive) {
      disableState_ = dsInactive;
      for (TDataSource* s : std::vector<TDataSource*>(dataSources_)) s->DataEvent(event, info);
    }
    return;
  }
  for (TDataSource* s : std::vector<TDataSource*>(dataSources_)) s->DataEvent(event, info);
}

void TDataSet::DisableControls() {
  if (disableCount_++ == 0) disableState_ = state_;
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0 || --disableCount_ > 0) return;
  if (disableState_ != state_) DataEvent(deUpdateState, 0);
  if (state_ != dsInactive) DataEvent(deDataSetChange, 0);
}

void TDataSet::CheckOperation(const std::function<void()>& operation,
                              const TDataSetErrorEvent& onError) {
  while (true) {
    try {
      operation();
      return;
    } catch (EDatabaseError& e) {
      TDataAction action = daFail;
      if (onError) onError(this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) throw EAbort();
    }
  }
}

void TDataSet::InternalHandleException() {
  if (ApplicationExceptionHandler()) ApplicationExceptionHandler()(std::current_exception(), this);
  else throw;
}

// ---- TDataSet: the buffer window -----------------------------------------

void TDataSet::ClearBuffers() {
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  recordCount_ = 1;
  activeRecord_ = 0;
  currentRecord_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::MoveBuffer(int from, int to) {
  if (from == to) return;
  TRecordBuffer b = buffers_[from];
  buffers_.erase(buffers_.begin() + from);
  buffers_.insert(buffers_.begin() + to, b);
}

void TDataSet::SetCurrentRecord(int index) {
  if (currentRecord_ == index) return;
  TRecordBuffer buffer = buffers_[index];
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted: InternalSetToRecord(buffer); break;
    case bfBOF: InternalFirst(); break;
    case bfEOF: InternalLast(); break;
  }
  currentRecord_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (recordCount_ > 0) SetCurrentRecord(activeRecord_);
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = gmNext;
  if (recordCount_ > 0) {
    SetCurrentRecord(recordCount_ - 1);
    // A record inserted at the end stands where the cursor is.
    if (state_ == dsInsert && currentRecord_ == activeRecord_ &&
        GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
      mode = gmCurrent;
  }
  if (GetRecord(buffers_[recordCount_], mode, true) != grOK) {
    CursorPosChanged();
    return false;
  }
  if (recordCount_ == 0) ActivateBuffers();
  else if (recordCount_ < bufferCount_) ++recordCount_;
  else MoveBuffer(0, recordCount_);
  currentRecord_ = recordCount_ - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (recordCount_ > 0) SetCurrentRecord(0);
  if (GetRecord(buffers_[recordCount_], gmPrior, true) != grOK) {
    CursorPosChanged();
    return false;
  }
  if (recordCount_ == 0) {
    ActivateBuffers();
  } else {
    MoveBuffer(recordCount_, 0);
    if (recordCount_ < bufferCount_) ++recordCount_;
  }
  currentRecord_ = 0;
  return true;
}

int TDataSet::GetNextRecords() {
  int n = 0;
  while (recordCount_ < bufferCount_ && GetNextRecord()) ++n;
  return n;
}

int TDataSet::GetPriorRecords() {
  int n = 0;
  while (recordCount_ < bufferCount_ && GetPriorRecord()) ++n;
  return n;
}

void TDataSet::Resync(unsigned mode) {
  TRecordBuffer spare = buffers_[recordCount_];
  if (mode & rmExact) {
    CursorPosChanged();
    if (GetRecord(spare, gmCurrent, true) != grOK) DatabaseError("Record not found", this);
  } else if (GetRecord(spare, gmCurrent, false) != grOK && GetRecord(spare, gmNext, false) != grOK &&
             GetRecord(spare, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange, 0);
    return;
  }
  int before = (mode & rmCenter) ? (bufferCount_ - 1) / 2 : std::min(activeRecord_, bufferCount_ - 1);
  MoveBuffer(recordCount_, 0);
  ActivateBuffers();
  int n = 0;
  while (n < before && GetPriorRecord()) ++n;
  activeRecord_ = n;
  GetNextRecords();
  DataEvent(deDataSetChange, 0);
}

// ---- TDataSet: navigation ------------------------------------------------

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (modified_) Post();
      else Cancel();
      break;
    case dsSetKey: Post(); break;
    default: break;
  }
}

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(deDataSetChange, 0);
    throw;
  }
  bof_ = true;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(deDataSetChange, 0);
    throw;
  }
  if (recordCount_ > 0) activeRecord_ = recordCount_ - 1;
  eof_ = true;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  if ((distance > 0 && eof_) || (distance < 0 && bof_) || distance == 0) return 0;
  bof_ = false;
  eof_ = false;
  DoBeforeScroll();
  int scrolled = 0;  // how far the window's contents moved
  auto finish = [&] {
    DataEvent(scrolled != 0 ? deDataSetScroll : deDataSetChange, scrolled);
  };
  try {
    while (distance > 0) {
      if (activeRecord_ < recordCount_ - 1) {
        ++activeRecord_;
      } else {
        const bool full = recordCount_ == bufferCount_;
        if (!GetNextRecord()) {
          eof_ = true;
          break;
        }
        if (full) --scrolled;
        else ++activeRecord_;
      }
      --distance;
      ++moved;
    }
    while (distance < 0) {
      if (activeRecord_ > 0) {
        --activeRecord_;
      } else {
        const bool full = recordCount_ == bufferCount_;
        if (!GetPriorRecord()) {
          bof_ = true;
          break;
        }
        if (full) ++scrolled;
      }
      ++distance;
      --moved;
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  DoAfterScroll();
  return moved;
}

// ---- TDataSet: editing ---------------------------------------------------

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeInsert();
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    InternalCancel();
    SetState(dsBrowse);
    Resync(0);
    throw;
  }
  modified_ = false;
  DataEvent(deDataSetChange, 0);
  DoAfterInsert();
  DoAfterScroll();
}

void TDataSet::InitRecord(TRecordBuffer buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::Insert() {
  BeginInsertAppend();
  UpdateCursorPos();
  if (recordCount_ == 0) {
    ActivateBuffers();
    currentRecord_ = -1;
  } else {
    // The spare buffer takes the active position; the active record and
    // those after it move down one place (the last may fall out).
    MoveBuffer(recordCount_, activeRecord_);
    if (recordCount_ < bufferCount_) ++recordCount_;
    currentRecord_ = activeRecord_ + 1 < recordCount_ ? activeRecord_ + 1 : -1;
  }
  InternalInsert();
  InitRecord(ActiveBuffer());
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer buffer = buffers_[0];
  InternalInsert();
  InitRecord(buffer);
  SetBookmarkFlag(buffer, bfEOF);
  recordCount_ = 1;
  bof_ = false;
  eof_ = false;
  GetPriorRecords();
  activeRecord_ = recordCount_ - 1;
  EndInsertAppend();
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (recordCount_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeEdit();
  UpdateCursorPos();
  CheckOperation([this] { InternalEdit(); }, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  DoAfterEdit();
}

void TDataSet::UpdateRecord() {
  if (!IsWriteState(state_)) DatabaseError("Dataset not in edit or insert mode", this);
  DataEvent(deUpdateRecord, 0);
}

void TDataSet::Post() {
  UpdateRecord();
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  DoBeforePost();
  CheckOperation([this] { InternalPost(); }, OnPostError);
  SetState(dsBrowse);
  Resync(0);
  DoAfterPost();
}

void TDataSet::InternalPost() {
  for (TField* f : fields_)
    if (f->Required() && !f->ReadOnly() && f->FieldKind() == fkData && f->IsNull())
      DatabaseError("Field '" + f->DisplayName() + "' must have a value", this);
}

void TDataSet::Cancel() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  DoBeforeCancel();
  if (state_ == dsEdit) UpdateCursorPos();
  InternalCancel();
  SetState(dsBrowse);
  Resync(0);
  DoAfterCancel();
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  if (recordCount_ == 0) DatabaseError("Cannot perform this operation on an empty dataset", this);
  DataEvent(deCheckBrowseMode, 0);
  DoBeforeDelete();
  DoBeforeScroll();
  UpdateCursorPos();
  CheckOperation([this] { InternalDelete(); }, OnDeleteError);
  SetState(dsBrowse);
  Resync(0);
  DoAfterDelete();
  DoAfterScroll();
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  DoBeforeRefresh();
  InternalRefresh();
  Resync(0);
  DoAfterRefresh();
}

// ---- TDataSet: bookmarks -------------------------------------------------

bool TDataSet::BookmarkAvailable() {
  return state_ != dsInactive && recordCount_ > 0 && GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
  if (!BookmarkAvailable() || bookmarkSize_ <= 0) return {};
  TBookmark b(static_cast<size_t>(bookmarkSize_));
  GetBookmarkData(ActiveBuffer(), b.data());
  return b;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync(rmExact | rmCenter);
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const void*) { return false; }

int TDataSet::CompareBookmarks(const void* a, const void* b) {
  if (a == nullptr && b == nullptr) return 0;
  if (a == nullptr) return -1;
  if (b == nullptr) return 1;
  return 0;
}

// ---- TDataSet: fields ----------------------------------------------------

TFieldClass TDataSet::GetFieldClass(TFieldType type) {
  switch (type) {
    case ftString:
    case ftFixedChar: return &NewField<TStringField>;
    case ftSmallint: return &NewField<TSmallintField>;
    case ftInteger: return &NewField<TIntegerField>;
    case ftWord: return &NewField<TWordField>;
    case ftAutoInc: return &NewField<TAutoIncField>;
    case ftLargeint: return &NewField<TLargeintField>;
    case ftBoolean: return &NewField<TBooleanField>;
    case ftFloat: return &NewField<TFloatField>;
    case ftCurrency: return &NewField<TCurrencyField>;
    case ftBCD: return &NewField<TBCDField>;
    case ftFMTBcd: return &NewField<TFMTBCDField>;
    case ftDate: return &NewField<TDateField>;
    case ftTime: return &NewField<TTimeField>;
    case ftDateTime:
    case ftTimeStamp: return &NewField<TDateTimeField>;
    case ftBytes: return &NewField<TBytesField>;
    case ftVarBytes: return &NewField<TVarBytesField>;
    case ftMemo: return [](TComponent* o) -> TField* { return new TMemoField(o, ftMemo); };
    case ftFmtMemo: return [](TComponent* o) -> TField* { return new TMemoField(o, ftFmtMemo); };
    case ftBlob: return [](TComponent* o) -> TField* { return new TBlobField(o, ftBlob); };
    case ftGraphic: return [](TComponent* o) -> TField* { return new TBlobField(o, ftGraphic); };
    default: return nullptr;
  }
}

void TDataSet::CreateFields() {
  for (int i = 0; i < fieldDefs_.Count(); ++i) fieldDefs_[i]->CreateField(this, this);
}

void TDataSet::DestroyFields() {
  std::vector<TField*> fields(fields_.begin(), fields_.end());
  const TDataSetState saved = state_;
  state_ = dsInactive;  // fields may only leave a closed dataset
  for (TField* f : fields) delete f;
  state_ = saved;
}

void TDataSet::BindFields(bool binding) {
  calcFieldsSize_ = 0;
  for (TField* f : fields_) {
    if (!binding) continue;
    if (f->Calculated()) {
      f->SetFieldNo(-1);
      f->SetOffset(calcFieldsSize_);
      calcFieldsSize_ += f->DataSize() + 1;
    } else {
      const int i = fieldDefs_.IndexOf(f->FieldName());
      if (i < 0) DatabaseError("Field '" + f->DisplayName() + "' not found", this);
      f->SetFieldNo(fieldDefs_[i]->FieldNo());
    }
  }
}

void TDataSet::GetFieldList(std::vector<TField*>& list, std::string_view names) const {
  std::vector<std::string> parts;
  ExtractStrings(";", "", names, parts);
  for (const std::string& p : parts) {
    std::string name = Trim(p);
    if (!name.empty()) list.push_back(fields_.FieldByName(name));
  }
}

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calcFieldsSize_ <= 0 && !OnCalcFields) return;
  const TDataSetState previous = SetTempState(dsCalcFields);
  TRecordBuffer savedCalc = calcBuffer_;
  calcBuffer_ = buffer;
  try {
    CalculateFields(buffer);
  } catch (...) {
    calcBuffer_ = savedCalc;
    RestoreState(previous);
    throw;
  }
  calcBuffer_ = savedCalc;
  RestoreState(previous);
}

void TDataSet::CalculateFields(TRecordBuffer buffer) {
  ClearCalcFields(buffer);
  DoOnCalcFields();
}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField* field, TBlobStreamMode) {
  DatabaseError("Field '" + field->DisplayName() + "' has no blob storage", this);
}

bool TDataSet::Locate(const std::string&, const Variant&, unsigned) { return false; }

Variant TDataSet::Lookup(const std::string&, const Variant&, const std::string&) {
  return Variant::Null();
}

int TDataSet::PSExecuteStatement(const std::string&, TParams*, std::unique_ptr<TDataSet>*) {
  DatabaseError("Provider support is not available", this);
}

std::unique_ptr<TIndexDefs> TDataSet::PSGetIndexDefs(unsigned) { return nullptr; }

void TDataSet::PSExecute() { DatabaseError("Provider support is not available", this); }

// ---- Provider helpers ----------------------------------------------------

namespace {

// Splits an SQL text into words; quoted names stay one word without quotes,
// and each comma is a word of its own.
std::vector<std::string> SqlWords(const std::string& sql) {
  std::vector<std::string> words;
  std::string current;
  auto flush = [&] {
    if (!current.empty()) words.push_back(current);
    current.clear();
  };
  for (size_t i = 0; i < sql.size(); ++i) {
    char c = sql[i];
    if (c == '"' || c == '[' || c == '`') {
      const char close = c == '[' ? ']' : c;
      size_t end = sql.find(close, i + 1);
      if (end == std::string::npos) end = sql.size();
      current += sql.substr(i + 1, end - i - 1);
      i = end;
    } else if (c == ',' || c == ';' || c == '(' || c == ')') {
      flush();
      words.push_back(std::string(1, c));
    } else if (static_cast<unsigned char>(c) <= ' ') {
      flush();
    } else {
      current += c;
    }
  }
  flush();
  return words;
}

}  // namespace

std::unique_ptr<TIndexDefs> GetIndexDefs(const TIndexDefs& indexDefs, unsigned indexTypes) {
  auto selected = std::make_unique<TIndexDefs>();
  for (int i = 0; i < indexDefs.Count(); ++i) {
    const TIndexDef* d = indexDefs[i];
    if (indexTypes != 0 && (d->Options() & indexTypes) == 0) continue;
    selected->Add(d->Name(), d->Fields(), d->Options())->SetDescFields(d->DescFields());
  }
  return selected;
}

std::unique_ptr<TIndexDef> GetIndexForOrderBy(const std::string& sql, TDataSet* dataSet) {
  std::vector<std::string> w = SqlWords(sql);
  size_t i = 0;
  for (; i + 1 < w.size(); ++i)
    if (SameText(w[i], "ORDER") && SameText(w[i + 1], "BY")) break;
  if (i + 1 >= w.size()) return nullptr;
  std::string fields, desc;
  for (i += 2; i < w.size(); ++i) {
    if (w[i] == "," ) continue;
    if (w[i] == ";" || SameText(w[i], "LIMIT") || SameText(w[i], "FOR") || w[i] == ")") break;
    std::string name = w[i];
    int number = 0;
    if (TryStrToInt(name, number) && dataSet != nullptr && number >= 1 &&
        number <= dataSet->FieldCount())
      name = dataSet->Fields()[number - 1]->FieldName();
    bool descending = false;
    if (i + 1 < w.size() && (SameText(w[i + 1], "DESC") || SameText(w[i + 1], "ASC"))) {
      descending = SameText(w[i + 1], "DESC");
      ++i;
    }
    fields += (fields.empty() ? "" : ";") + name;
    if (descending) desc += (desc.empty() ? "" : ";") + name;
  }
  if (fields.empty()) return nullptr;
  auto def = std::make_unique<TIndexDef>("", fields, 0);
  def->SetDescFields(desc);
  return def;
}

std::string GetTableNameFromSQL(const std::string& sql) {
  std::vector<std::string> w = SqlWords(sql);
  for (size_t i = 0; i < w.size(); ++i) {
    if (!SameText(w[i], "FROM")) continue;
    if (i + 1 >= w.size() || w[i + 1] == "(") return {};
    // A second table (comma or JOIN) makes the answer ambiguous.
    for (size_t k = i + 2; k < w.size(); ++k) {
      if (w[k] == ",") return {};
      if (SameText(w[k], "JOIN")) return {};
      if (SameText(w[k], "WHERE") || SameText(w[k], "ORDER") || SameText(w[k], "GROUP")) break;
    }
    return w[i + 1];
  }
  return {};
}

}  // namespace kivds
