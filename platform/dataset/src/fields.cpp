#include <cmath>
#include <cstring>

#include "kivds/db.h"

namespace kivds {

bool IsBlobType(TFieldType t) {
  return t == ftBlob || t == ftMemo || t == ftGraphic || t == ftFmtMemo || t == ftParadoxOle ||
         t == ftDBaseOle || t == ftTypedBinary || t == ftOraBlob || t == ftOraClob;
}

TLoginDialogProc& LoginDialogExProc() {
  static TLoginDialogProc proc;
  return proc;
}

TApplicationExceptionHandler& ApplicationExceptionHandler() {
  static TApplicationExceptionHandler handler;
  return handler;
}

// ---- TField --------------------------------------------------------------

TField::TField(TComponent* owner, TFieldType type) : TComponent(owner), dataType_(type) {}

TField::~TField() { SetDataSet(nullptr); }

void TField::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_ != nullptr) {
    dataSet_->CheckInactive();
    dataSet_->Fields().Remove(this);
  }
  if (dataSet != nullptr) {
    dataSet->CheckInactive();
    dataSet->Fields().Add(this);
  }
  dataSet_ = dataSet;
}

int TField::DataSize() const {
  switch (dataType_) {
    case ftString:
    case ftFixedChar: return size_ + 1;
    case ftSmallint:
    case ftWord:
    case ftBoolean: return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime: return 4;
    case ftLargeint:
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
    case ftTimeStamp: return 8;
    case ftBCD:
    case ftFMTBcd: return static_cast<int>(sizeof(TBcd));
    case ftBytes: return size_;
    case ftVarBytes: return size_ + 2;
    default: return 0;
  }
}

bool TField::GetData(void* buffer) const {
  if (dataSet_ == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  return dataSet_->GetFieldData(const_cast<TField*>(this), buffer);
}

void TField::SetData(const void* buffer) {
  if (dataSet_ == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  dataSet_->SetFieldData(this, buffer);
}

void TField::SetValue(const Variant& v) {
  if (v.IsNullOrEmpty()) Clear();
  else SetAsVariant(v);
}

void TField::ConversionError(const char* typeName) const {
  DatabaseError("Cannot access field '" + DisplayName() + "' as type " + typeName);
}

std::string TField::AsString() const { return GetAsVariant().ToString(); }

namespace {
// Runs a conversion and turns its failure into the field's error.
template <class F>
auto Converted(const TField& field, const char* typeName, F f) -> decltype(f(Variant())) {
  Variant v = field.GetAsVariant();
  if (v.IsNull()) return decltype(f(v)){};
  try {
    return f(v);
  } catch (const EConvertError&) {
    DatabaseError("Cannot access field '" + field.DisplayName() + "' as type " + typeName);
  }
}
// Converts a value about to be stored; a failure names the field.
template <class F>
auto ConvertForField(const TField& field, const Variant& value, const char* what, F f)
    -> decltype(f(value)) {
  try {
    return f(value);
  } catch (const EConvertError&) {
    DatabaseError("'" + value.ToString() + "' is not a valid " + what + " for field '" +
                  field.DisplayName() + "'");
  }
}
}  // namespace

int TField::AsInteger() const {
  return Converted(*this, "Integer", [](const Variant& v) { return v.ToInt(); });
}
int64_t TField::AsLargeInt() const {
  return Converted(*this, "Largeint", [](const Variant& v) { return v.ToInt64(); });
}
double TField::AsFloat() const {
  return Converted(*this, "Float", [](const Variant& v) { return v.ToDouble(); });
}
TDateTime TField::AsDateTime() const {
  return Converted(*this, "DateTime", [](const Variant& v) { return v.ToDateTime(); });
}
Currency TField::AsCurrency() const {
  return Converted(*this, "Currency", [](const Variant& v) { return v.ToCurrency(); });
}
bool TField::AsBoolean() const {
  return Converted(*this, "Boolean", [](const Variant& v) { return v.ToBool(); });
}
TBcd TField::AsBCD() const {
  return Converted(*this, "BCD", [](const Variant& v) { return StrToBcd(v.ToString()); });
}

void TField::Assign(const TField& source) {
  if (source.IsNull()) Clear();
  else SetAsVariant(source.GetAsVariant());
}

void TField::Validate(const void*) {
  if (OnValidate) OnValidate(this);
}

// ---- Field classes -------------------------------------------------------

Variant TStringField::GetAsVariant() const {
  std::vector<char> buf(DataSize() + 1, 0);
  if (!GetData(buf.data())) return Variant::Null();
  return Variant(std::string(buf.data()));
}

std::string TStringField::AsString() const {
  Variant v = GetAsVariant();
  return v.IsNull() ? std::string() : v.ToString();
}

void TStringField::SetAsVariant(const Variant& value) {
  std::string s = value.ToString();
  if (static_cast<int>(s.size()) > Size()) s.resize(Size());
  std::vector<char> buf(DataSize(), 0);
  std::memcpy(buf.data(), s.data(), s.size());
  SetData(buf.data());
}

Variant TIntegerField::GetAsVariant() const {
  uint8_t buf[8] = {};
  if (!GetData(buf)) return Variant::Null();
  switch (DataType()) {
    case ftSmallint: { int16_t v; std::memcpy(&v, buf, 2); return Variant(int(v)); }
    case ftWord: { uint16_t v; std::memcpy(&v, buf, 2); return Variant(int(v)); }
    case ftLargeint: { int64_t v; std::memcpy(&v, buf, 8); return Variant(v); }
    default: { int32_t v; std::memcpy(&v, buf, 4); return Variant(int(v)); }
  }
}

void TIntegerField::SetAsVariant(const Variant& value) {
  const int64_t v = ConvertForField(*this, value, "integer value",
                                      [](const Variant& x) { return x.ToInt64(); });
  int64_t lo = INT32_MIN, hi = INT32_MAX;
  if (DataType() == ftSmallint) lo = INT16_MIN, hi = INT16_MAX;
  if (DataType() == ftWord) lo = 0, hi = UINT16_MAX;
  if (DataType() == ftLargeint) lo = INT64_MIN, hi = INT64_MAX;
  if (v < lo || v > hi)
    DatabaseError(std::to_string(v) + " is not a valid value for field '" + DisplayName() +
                  "'. The allowed range is " + std::to_string(lo) + " to " + std::to_string(hi));
  uint8_t buf[8] = {};
  if (DataType() == ftSmallint || DataType() == ftWord) {
    uint16_t x = static_cast<uint16_t>(v);
    std::memcpy(buf, &x, 2);
  } else if (DataType() == ftLargeint) {
    std::memcpy(buf, &v, 8);
  } else {
    int32_t x = static_cast<int32_t>(v);
    std::memcpy(buf, &x, 4);
  }
  SetData(buf);
}

Variant TBooleanField::GetAsVariant() const {
  uint16_t v = 0;
  if (!GetData(&v)) return Variant::Null();
  return Variant(v != 0);
}

void TBooleanField::SetAsVariant(const Variant& value) {
  const bool b = ConvertForField(*this, value, "boolean value",
                                   [](const Variant& x) { return x.ToBool(); });
  uint16_t v = b ? 1 : 0;
  SetData(&v);
}

Variant TFloatField::GetAsVariant() const {
  double v = 0;
  if (!GetData(&v)) return Variant::Null();
  return Variant(v);
}

void TFloatField::SetAsVariant(const Variant& value) {
  const double v = ConvertForField(*this, value, "floating point value",
                                     [](const Variant& x) { return x.ToDouble(); });
  SetData(&v);
}

Variant TBCDField::GetAsVariant() const {
  TBcd b;
  if (!GetData(&b)) return Variant::Null();
  return Variant(BcdToCurrency(b));
}

std::string TBCDField::AsString() const {
  TBcd b;
  return GetData(&b) ? BcdToStr(b) : std::string();
}

TBcd TBCDField::AsBCD() const {
  TBcd b;
  return GetData(&b) ? b : TBcd{};
}

void TBCDField::SetAsBCD(const TBcd& v) { SetData(&v); }

void TBCDField::SetAsVariant(const Variant& value) {
  const TBcd b = ConvertForField(*this, value, "BCD value", [](const Variant& x) {
    switch (x.kind()) {
      case Variant::Kind::Currency: return CurrencyToBcd(x.ToCurrency(), 64, 4);
      case Variant::Kind::Integer:
      case Variant::Kind::String: return StrToBcd(x.ToString());
      default: return DoubleToBcd(x.ToDouble());
    }
  });
  SetData(&b);
}

Variant TFMTBCDField::GetAsVariant() const {
  TBcd b;
  if (!GetData(&b)) return Variant::Null();
  return Variant(BcdToDouble(b));
}

namespace {
// Native buffers of date and time fields, see TField.
TDateTime NativeToDateTime(TFieldType type, const uint8_t* buf) {
  if (type == ftDate) {
    int32_t days;
    std::memcpy(&days, buf, 4);
    return static_cast<double>(days - DateDelta);
  }
  if (type == ftTime) {
    int32_t ms;
    std::memcpy(&ms, buf, 4);
    return static_cast<double>(ms) / MSecsPerDay;
  }
  double ms;
  std::memcpy(&ms, buf, 8);
  const double days = std::trunc(ms / MSecsPerDay);
  const double frac = (ms - days * MSecsPerDay) / MSecsPerDay;
  const double d = days - DateDelta;
  return d >= 0 ? d + frac : d - frac;
}

void DateTimeToNative(TFieldType type, TDateTime value, uint8_t* buf) {
  const double days = std::trunc(value);
  const int64_t ms = std::llround(std::fabs(value - days) * MSecsPerDay);
  if (type == ftDate) {
    int32_t d = static_cast<int32_t>(days) + DateDelta;
    std::memcpy(buf, &d, 4);
  } else if (type == ftTime) {
    int32_t t = static_cast<int32_t>(ms);
    std::memcpy(buf, &t, 4);
  } else {
    double native = (days + DateDelta) * MSecsPerDay + static_cast<double>(ms);
    std::memcpy(buf, &native, 8);
  }
}
}  // namespace

Variant TDateTimeField::GetAsVariant() const {
  uint8_t buf[8] = {};
  if (!GetData(buf)) return Variant::Null();
  return Variant::FromDate(NativeToDateTime(DataType(), buf));
}

void TDateTimeField::SetAsVariant(const Variant& value) {
  const TDateTime v = ConvertForField(*this, value, "date and time",
                                        [](const Variant& x) { return x.ToDateTime(); });
  uint8_t buf[8] = {};
  DateTimeToNative(DataType(), v, buf);
  SetData(buf);
}

std::string TDateTimeField::AsString() const {
  Variant v = GetAsVariant();
  if (v.IsNull()) return {};
  if (DataType() == ftDate) return DateToStr(v.ToDateTime());
  if (DataType() == ftTime) return TimeToStr(v.ToDateTime());
  return DateTimeToStr(v.ToDateTime());
}

Variant TBytesField::GetAsVariant() const {
  std::vector<uint8_t> buf(DataSize(), 0);
  if (!GetData(buf.data())) return Variant::Null();
  if (DataType() == ftVarBytes) {
    uint16_t n;
    std::memcpy(&n, buf.data(), 2);
    n = std::min<uint16_t>(n, static_cast<uint16_t>(Size()));
    return Variant(std::string(reinterpret_cast<char*>(buf.data()) + 2, n));
  }
  return Variant(std::string(reinterpret_cast<char*>(buf.data()), buf.size()));
}

void TBytesField::SetAsVariant(const Variant& value) {
  std::string s = value.ToString();
  if (static_cast<int>(s.size()) > Size()) s.resize(Size());
  std::vector<uint8_t> buf(DataSize(), 0);
  if (DataType() == ftVarBytes) {
    uint16_t n = static_cast<uint16_t>(s.size());
    std::memcpy(buf.data(), &n, 2);
    std::memcpy(buf.data() + 2, s.data(), s.size());
  } else {
    std::memcpy(buf.data(), s.data(), s.size());
  }
  SetData(buf.data());
}

std::string TBlobField::AsString() const {
  if (DataSet() == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  auto stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  return stream ? stream->ReadAll() : std::string();
}

void TBlobField::SetAsString(const std::string& s) {
  if (DataSet() == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  auto stream = DataSet()->CreateBlobStream(this, bmWrite);
  if (!s.empty()) stream->WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
}

Variant TBlobField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(AsString());
}

void TBlobField::SetAsVariant(const Variant& value) { SetAsString(value.ToString()); }

int64_t TBlobField::BlobSize() const { return static_cast<int64_t>(AsString().size()); }

// ---- TFields -------------------------------------------------------------

TField* TFields::FindField(std::string_view name) const {
  for (TField* f : list_)
    if (SameText(f->FieldName(), name)) return f;
  return nullptr;
}

TField* TFields::FieldByName(std::string_view name) const {
  TField* f = FindField(name);
  if (f == nullptr) DatabaseError("Field '" + std::string(name) + "' not found", dataSet_);
  return f;
}

TField* TFields::FieldByNumber(int fieldNo) const {
  for (TField* f : list_)
    if (f->FieldNo() == fieldNo) return f;
  return nullptr;
}

int TFields::IndexOf(const TField* field) const {
  for (size_t i = 0; i < list_.size(); ++i)
    if (list_[i] == field) return static_cast<int>(i);
  return -1;
}

void TFields::Add(TField* field) { list_.push_back(field); }

void TFields::Remove(TField* field) { std::erase(list_, field); }

// ---- Definitions ---------------------------------------------------------

TField* TFieldDef::CreateField(TComponent* owner, TDataSet* dataSet) const {
  TFieldClass make = dataSet->GetFieldClass(dataType_);
  if (make == nullptr) DatabaseError("Field '" + name_ + "' is of an unknown type", dataSet);
  TField* field = make(owner);
  field->SetFieldName(name_);
  if (dataType_ == ftString || dataType_ == ftFixedChar || dataType_ == ftBytes ||
      dataType_ == ftVarBytes || dataType_ == ftBCD || dataType_ == ftFMTBcd || field->IsBlob())
    field->SetSize(size_);
  if (auto* bcd = dynamic_cast<TBCDField*>(field)) bcd->SetPrecision(precision_);
  if (auto* flt = dynamic_cast<TFloatField*>(field); flt && precision_ > 0)
    flt->SetPrecision(precision_);
  field->SetRequired(required_);
  field->SetFieldNo(fieldNo_);
  field->SetDataSet(dataSet);
  return field;
}

TFieldDef* TFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required) {
  return TCollection<TFieldDef>::Add(name, type, size, required, Count() + 1);
}

int TFieldDefs::IndexOf(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Items(i)->Name(), name)) return i;
  return -1;
}

TFieldDef* TFieldDefs::Find(std::string_view name) const {
  int i = IndexOf(name);
  if (i < 0) DatabaseError("Field '" + std::string(name) + "' not found", dataSet_);
  return Items(i);
}

void TFieldDefs::Update() {
  if (updated_ || dataSet_ == nullptr) return;
  dataSet_->InitFieldDefs();
  updated_ = true;
}

TIndexDef* TIndexDefs::Add(const std::string& name, const std::string& fields, unsigned options) {
  return TCollection<TIndexDef>::Add(name, fields, options);
}

int TIndexDefs::IndexOf(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Items(i)->Name(), name)) return i;
  return -1;
}

TIndexDef* TIndexDefs::Find(std::string_view name) const {
  int i = IndexOf(name);
  if (i < 0) DatabaseError("Index '" + std::string(name) + "' not found", dataSet_);
  return Items(i);
}

namespace {
std::vector<std::string> SplitNames(std::string_view names) {
  std::vector<std::string> parts, out;
  ExtractStrings(";", "", names, parts);
  for (std::string& p : parts) {
    std::string t = Trim(p);
    if (!t.empty()) out.push_back(t);
  }
  return out;
}
}  // namespace

TIndexDef* TIndexDefs::GetIndexForFields(std::string_view fields, bool caseInsensitive) const {
  const std::vector<std::string> wanted = SplitNames(fields);
  if (wanted.empty()) return nullptr;
  for (int i = 0; i < Count(); ++i) {
    TIndexDef* def = Items(i);
    if (((def->Options() & ixCaseInsensitive) != 0) != caseInsensitive) continue;
    const std::vector<std::string> have = SplitNames(def->Fields());
    if (have.size() < wanted.size()) continue;
    bool match = true;
    for (size_t k = 0; k < wanted.size() && match; ++k) match = SameText(have[k], wanted[k]);
    if (match) return def;
  }
  return nullptr;
}

void TIndexDefs::Assign(const TIndexDefs& source) {
  Clear();
  for (int i = 0; i < source.Count(); ++i) {
    TIndexDef* d = source[i];
    Add(d->Name(), d->Fields(), d->Options())->SetDescFields(d->DescFields());
  }
}

void TIndexDefs::Update() {
  if (updated_ || dataSet_ == nullptr) return;
  dataSet_->UpdateIndexDefs();
  updated_ = true;
}

// ---- Parameters ----------------------------------------------------------

void TParam::SetValue(const Variant& v) {
  value_ = v;
  bound_ = true;
}

void TParam::Clear() { value_ = Variant::Null(); }

int TParam::GetDataSize() const {
  return IsNull() ? 0 : static_cast<int>(value_.ToString().size());
}

void TParam::GetData(void* buffer) const {
  if (IsNull()) return;
  std::string s = value_.ToString();
  std::memcpy(buffer, s.data(), s.size());
}

void TParam::AssignFieldValue(const TField& field, const Variant& value) {
  dataType_ = field.DataType();
  value_ = value;
}

void TParam::Assign(const TParam& source) {
  name_ = source.name_;
  dataType_ = source.dataType_;
  paramType_ = source.paramType_;
  value_ = source.value_;
  bound_ = source.bound_;
}

TParam* TParams::CreateParam(TFieldType type, const std::string& name, TParamType paramType) {
  return Add(name, type, paramType);
}

TParam* TParams::FindParam(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Items(i)->Name(), name)) return Items(i);
  return nullptr;
}

TParam* TParams::ParamByName(std::string_view name) const {
  TParam* p = FindParam(name);
  if (p == nullptr) DatabaseError("Parameter '" + std::string(name) + "' not found");
  return p;
}

void TParams::AssignValues(const TParams& source) {
  for (int i = 0; i < Count(); ++i) {
    TParam* mine = Items(i);
    if (const TParam* theirs = source.FindParam(mine->Name())) {
      std::string name = mine->Name();
      mine->Assign(*theirs);
      mine->SetName(name);
    }
  }
}

void TParams::Assign(const TParams& source) {
  if (&source == this) return;
  Clear();
  for (int i = 0; i < source.Count(); ++i) Add(source[i]->Name())->Assign(*source[i]);
}

std::string TParams::ParseSQL(const std::string& sql, bool doCreate) {
  auto isNameChar = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_';
  };
  std::string out;
  char quote = 0;
  for (size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
      out += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      out += c;
    } else if (c == ':' && i + 1 < sql.size() && sql[i + 1] == ':') {
      out += ':';
      ++i;
    } else if (c == ':' && i + 1 < sql.size() && isNameChar(sql[i + 1])) {
      size_t end = i + 1;
      while (end < sql.size() && isNameChar(sql[end])) ++end;
      const std::string name = sql.substr(i + 1, end - i - 1);
      if (doCreate && FindParam(name) == nullptr) CreateParam(ftUnknown, name, ptInput);
      out += '?';
      i = end - 1;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace kivds
