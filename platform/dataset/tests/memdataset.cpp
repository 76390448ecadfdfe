#include "memdataset.h"

#include <cstring>

namespace kivds::testing {

// Record buffer: per column a null-flag byte and the field's native data;
// then the calculated-field area; then 4 bytes of row id and 1 flag byte.

MemDataSet::MemDataSet(TComponent* owner, std::vector<MemColumn> columns)
    : TDataSet(owner), columns_(std::move(columns)) {
  masterLink_.OnMasterChange = [this] {
    if (Active()) First();
  };
  masterLink_.OnMasterDisable = masterLink_.OnMasterChange;
}

MemDataSet::~MemDataSet() {
  Destroying();
  Close();
}

void MemDataSet::AddRow(std::vector<Variant> values) {
  values.resize(columns_.size(), Variant::Null());
  rows_.push_back({nextId_++, std::move(values)});
}

void MemDataSet::SetMasterFields(const std::string& masterFields, const std::string& detailFields) {
  detailFields_ = detailFields;
  masterLink_.SetFieldNames(masterFields);
}

std::vector<std::string> MemDataSet::Column(const std::string& name) {
  std::vector<std::string> out;
  size_t col = 0;
  while (col < columns_.size() && !SameText(columns_[col].name, name)) ++col;
  for (int i : Visible()) out.push_back(rows_[i].values.at(col).ToString());
  return out;
}

std::vector<int> MemDataSet::Visible() {
  std::vector<int> out;
  std::vector<size_t> keyColumns;
  if (masterLink_.Active() && !masterLink_.Fields().empty()) {
    std::vector<std::string> names;
    ExtractStrings(";", " ", detailFields_, names);
    for (const std::string& n : names)
      for (size_t c = 0; c < columns_.size(); ++c)
        if (SameText(columns_[c].name, n)) keyColumns.push_back(c);
  }
  for (size_t i = 0; i < rows_.size(); ++i) {
    bool shown = true;
    for (size_t k = 0; k < keyColumns.size() && k < masterLink_.Fields().size(); ++k)
      shown = shown && rows_[i].values[keyColumns[k]] == masterLink_.Fields()[k]->Value();
    if (shown) out.push_back(static_cast<int>(i));
  }
  return out;
}

void MemDataSet::InternalInitFieldDefs() {
  FieldDefs().Clear();
  for (const MemColumn& c : columns_) FieldDefs().Add(c.name, c.type, c.size, c.required);
}

void MemDataSet::InternalOpen() {
  FieldDefs().SetUpdated(false);
  FieldDefs().Update();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  slotOffsets_.clear();
  recordSize_ = 0;
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    slotOffsets_.push_back(recordSize_);
    TField* f = Fields().FindField(FieldDefs()[i]->Name());
    recordSize_ += 1 + (f ? f->DataSize() : 0);
  }
  SetBookmarkSize(4);
  cursor_ = -1;
  open_ = true;
}

void MemDataSet::InternalClose() {
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  open_ = false;
}

TRecordBuffer MemDataSet::AllocRecordBuffer() {
  auto* b = new uint8_t[InfoOffset() + 5];
  std::memset(b, 0, InfoOffset() + 5);
  return b;
}

void MemDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
  delete[] buffer;
  buffer = nullptr;
}

void MemDataSet::LoadRow(const MemRow& row, TRecordBuffer buffer) {
  std::memset(buffer, 0, InfoOffset());
  for (TField* f : Fields()) {
    if (f->FieldNo() <= 0) continue;
    const Variant& v = row.values.at(f->FieldNo() - 1);
    uint8_t* slot = buffer + SlotOffset(f->FieldNo());
    if (v.IsNullOrEmpty()) continue;
    slot[0] = 1;
    if (f->DataType() == ftInteger) {
      int32_t x = v.ToInt();
      std::memcpy(slot + 1, &x, 4);
    } else {
      std::string s = v.ToString();
      std::memcpy(slot + 1, s.data(), std::min<size_t>(s.size(), f->DataSize() - 1));
    }
  }
  std::memcpy(buffer + InfoOffset(), &row.id, 4);
  buffer[InfoOffset() + 4] = bfCurrent;
}

void MemDataSet::StoreRow(TRecordBuffer buffer, MemRow& row) {
  for (TField* f : Fields()) {
    if (f->FieldNo() <= 0) continue;
    const uint8_t* slot = buffer + SlotOffset(f->FieldNo());
    Variant& v = row.values.at(f->FieldNo() - 1);
    if (slot[0] == 0) {
      v = Variant::Null();
    } else if (f->DataType() == ftInteger) {
      int32_t x;
      std::memcpy(&x, slot + 1, 4);
      v = Variant(int(x));
    } else {
      v = Variant(std::string(reinterpret_cast<const char*>(slot + 1)));
    }
  }
}

TGetResult MemDataSet::GetRecord(TRecordBuffer buffer, TGetMode mode, bool) {
  const std::vector<int> visible = Visible();
  const int n = static_cast<int>(visible.size());
  if (mode == gmNext) cursor_ = std::min(cursor_ + 1, n);
  else if (mode == gmPrior) cursor_ = std::max(cursor_ - 1, -1);
  if (cursor_ < 0) return mode == gmCurrent ? grError : grBOF;
  if (cursor_ >= n) return mode == gmCurrent ? grError : grEOF;
  LoadRow(rows_[visible[cursor_]], buffer);
  GetCalcFields(buffer);
  return grOK;
}

void MemDataSet::InternalLast() { cursor_ = static_cast<int>(Visible().size()); }

void MemDataSet::InternalGotoBookmark(const void* bookmark) {
  int id;
  std::memcpy(&id, bookmark, 4);
  const std::vector<int> visible = Visible();
  for (size_t i = 0; i < visible.size(); ++i)
    if (rows_[visible[i]].id == id) {
      cursor_ = static_cast<int>(i);
      return;
    }
  DatabaseError("Record not found", this);
}

void MemDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  InternalGotoBookmark(buffer + InfoOffset());
}

void MemDataSet::GetBookmarkData(TRecordBuffer buffer, void* data) {
  std::memcpy(data, buffer + InfoOffset(), 4);
}

void MemDataSet::SetBookmarkData(TRecordBuffer buffer, const void* data) {
  std::memcpy(buffer + InfoOffset(), data, 4);
}

TBookmarkFlag MemDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(buffer[InfoOffset() + 4]);
}

void MemDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  buffer[InfoOffset() + 4] = static_cast<uint8_t>(flag);
}

void MemDataSet::InternalInitRecord(TRecordBuffer buffer) { std::memset(buffer, 0, InfoOffset()); }

void MemDataSet::ClearCalcFields(TRecordBuffer buffer) {
  std::memset(buffer + recordSize_, 0, CalcFieldsSize());
}

void MemDataSet::InternalPost() {
  TDataSet::InternalPost();
  TRecordBuffer buffer = ActiveBuffer();
  if (State() == dsEdit) {
    int id;
    std::memcpy(&id, buffer + InfoOffset(), 4);
    for (MemRow& r : rows_)
      if (r.id == id) StoreRow(buffer, r);
    return;
  }
  // Insert before the record under the cursor, or at the end.
  MemRow row{nextId_++, std::vector<Variant>(columns_.size(), Variant::Null())};
  StoreRow(buffer, row);
  const std::vector<int> visible = Visible();
  const bool atEnd = GetBookmarkFlag(buffer) == bfEOF || cursor_ < 0 ||
                     cursor_ >= static_cast<int>(visible.size());
  const size_t at = atEnd ? rows_.size() : static_cast<size_t>(visible[cursor_]);
  rows_.insert(rows_.begin() + static_cast<long>(at), row);
  std::memcpy(buffer + InfoOffset(), &row.id, 4);
  InternalGotoBookmark(&row.id);
}

void MemDataSet::InternalDelete() {
  int id;
  std::memcpy(&id, ActiveBuffer() + InfoOffset(), 4);
  std::erase_if(rows_, [id](const MemRow& r) { return r.id == id; });
}

TRecordBuffer MemDataSet::CurrentBuffer() {
  switch (State()) {
    case dsCalcFields: return CalcBuffer();
    case dsInactive: return nullptr;
    default: return ActiveBuffer();
  }
}

bool MemDataSet::GetFieldData(TField* field, void* buffer) {
  TRecordBuffer record = CurrentBuffer();
  if (record == nullptr) return false;
  const uint8_t* slot = field->FieldNo() > 0 ? record + SlotOffset(field->FieldNo())
                                             : record + recordSize_ + field->Offset();
  if (slot[0] == 0) return false;
  if (buffer != nullptr) std::memcpy(buffer, slot + 1, field->DataSize());
  return true;
}

void MemDataSet::SetFieldData(TField* field, const void* buffer) {
  if (!IsWriteState(State())) DatabaseError("Dataset not in edit or insert mode", this);
  if (field->ReadOnly() && State() != dsCalcFields)
    DatabaseError("Field '" + field->DisplayName() + "' cannot be modified", this);
  TRecordBuffer record = CurrentBuffer();
  uint8_t* slot = field->FieldNo() > 0 ? record + SlotOffset(field->FieldNo())
                                       : record + recordSize_ + field->Offset();
  field->Validate(buffer);
  slot[0] = buffer != nullptr ? 1 : 0;
  std::memset(slot + 1, 0, field->DataSize());
  if (buffer != nullptr) std::memcpy(slot + 1, buffer, field->DataSize());
  if (State() != dsCalcFields) DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field));
}

int MemDataSet::GetRecordCount() {
  CheckActive();
  return static_cast<int>(Visible().size());
}

int MemDataSet::GetRecNo() {
  CheckActive();
  if (IsEmpty() || State() == dsInsert) return 0;
  int id;
  std::memcpy(&id, ActiveBuffer() + InfoOffset(), 4);
  const std::vector<int> visible = Visible();
  for (size_t i = 0; i < visible.size(); ++i)
    if (rows_[visible[i]].id == id) return static_cast<int>(i) + 1;
  return 0;
}

bool MemDataSet::BookmarkValid(const void* bookmark) {
  if (bookmark == nullptr || !Active()) return false;
  int id;
  std::memcpy(&id, bookmark, 4);
  for (int i : Visible())
    if (rows_[i].id == id) return true;
  return false;
}

int MemDataSet::CompareBookmarks(const void* a, const void* b) {
  if (a == nullptr || b == nullptr) return TDataSet::CompareBookmarks(a, b);
  int x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return x < y ? -1 : (x > y ? 1 : 0);
}

}  // namespace kivds::testing
