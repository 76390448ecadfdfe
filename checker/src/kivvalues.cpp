// TKivDataSet: field definitions and field values in both directions, empty
// values and default values.
#include <cmath>
#include <cstring>

#include "imagebytes.h"
#include "checker/kivdata.h"

namespace checker {

using namespace kivds;

namespace {

// Replaces every `from` by `to`.
std::string Replaced(std::string text, char from, char to) {
  if (from != to)
    for (char& c : text)
      if (c == from) c = to;
  return text;
}

}  // namespace

// ---- Field definitions ---------------------------------------------------

TFieldClass TKivDataSet::GetFieldClass(TFieldType type) {
  if (type == ftString) return [](TComponent* owner) -> TField* { return new TKivStringField(owner); };
  if (type == ftBCD) return [](TComponent* owner) -> TField* { return new TKivBCDField(owner); };
  return TDataSet::GetFieldClass(type);
}

void TKivDataSet::InternalInitFieldDefs() {
  uint32_t count = 0;
  CheckQELResult(this, KivGetNumFields(baseHandle_, &count));
  FieldDefs().Clear();
  qelFieldDefs_.Clear();
  for (uint32_t n = 1; n <= count; ++n) AddEngineFieldDef(baseHandle_, static_cast<uint16_t>(n));
}

void TKivDataSet::InitFieldDefs() {
  if (IsCursorOpen()) {
    InternalInitFieldDefs();
    return;
  }
  // Closed: a handle of its own for the definitions only.
  const KIVHANDLE handle = OpenEngineCursor();
  try {
    uint32_t count = 0;
    CheckQELResult(this, KivGetNumFields(handle, &count));
    FieldDefs().Clear();
    qelFieldDefs_.Clear();
    for (uint32_t n = 1; n <= count; ++n) AddEngineFieldDef(handle, static_cast<uint16_t>(n));
  } catch (...) {
    KivCloseTable(handle);
    throw;
  }
  CheckQELResult(this, KivCloseTable(handle));
}

void TKivDataSet::AddEngineFieldDef(KIVHANDLE handle, uint16_t fieldNo) {
  const KIVFIELD field = KIV_FIELD(fieldNo);
  uint16_t type = 0;
  CheckQELResult(this, KivGetFieldType(handle, field, &type));
  uint32_t length = 0;
  CheckQELResult(this, KivGetFieldLength(handle, field, &length));
  uint16_t decimals = 0;
  if (type == KIV_FT_NUMERIC) CheckQELResult(this, KivGetFieldDecimals(handle, field, &decimals));
  const TEngineFieldMapping mapping = MapEngineFieldType(
      this, type, length, decimals, engineTableType_, tableOptions_.KivNumericsAsFloats());
  char name[129] = {};
  uint32_t nameLength = sizeof name;
  CheckQELResult(this, KivGetFieldName(handle, fieldNo, name, &nameLength));
  const std::string fieldName(name, strnlen(name, std::min<uint32_t>(nameLength, 128)));

  TFieldDef* fieldDef = FieldDefs().Add(fieldName, mapping.type, mapping.size, false);
  if (mapping.precision != 0) fieldDef->SetPrecision(mapping.precision);

  uint32_t offset = 0;
  CheckQELResult(this, KivGetFieldOffset(handle, field, &offset));
  uint8_t permissions = 0;
  CheckQELResult(this, KivGetColumnPermissions(handle, field, &permissions));
  TQELFieldDef* def = qelFieldDefs_.Add();
  def->Name = fieldName;
  def->FieldNo = fieldNo;
  def->Offset = offset;
  def->Length = length;
  def->EngineType = type;
  def->Decimals = decimals;
  def->Assigned = 0;
  def->Permissions = permissions;
}

void TKivDataSet::ApplyFieldAdjustments() {
  for (TField* field : Fields()) {
    const TQELFieldDef* def = qelFieldDefs_.Find(field->FieldName());
    if (def == nullptr) continue;
    if (field->DataType() == ftBCD) {
      if (auto* kivBcd = dynamic_cast<TKivBCDField*>(field)) {
        if (def->EngineType == KIV_FT_NUMERIC || def->EngineType == KIV_FT_ROWVERSION)
          kivBcd->SetCurrency(false);
      } else if (auto* bcd = dynamic_cast<TBCDField*>(field)) {
        bcd->SetCurrency(true);
      }
    }
    if (auto* text = dynamic_cast<TKivStringField*>(field); text && def->EngineType == KIV_FT_CICHARACTER)
      text->caseInsensitive_ = true;
  }
}

// ---- Reading values ------------------------------------------------------

TRecordBuffer TKivDataSet::CurrentStateBuffer() {
  switch (State()) {
    case dsBrowse:
    case dsBlockRead:
    case dsEdit:
    case dsInsert:
    case dsNewValue: return ActiveBuffer();  // none while the dataset is empty
    case dsSetKey: return KeyBufferRecord();
    case dsCalcFields: return CalcBuffer();
    case dsFilter: return filterBuffer_;
    case dsOldValue: return PreEditCopy();
    default: return nullptr;
  }
}

bool TKivDataSet::GetFieldData(TField* field, void* buffer) {
  TRecordBuffer record = CurrentStateBuffer();
  if (record == nullptr) return false;
  if (field->FieldNo() > 0) return ReadFieldValue(field, buffer, record);
  const TDataSetState state = State();
  if (state != dsBrowse && state != dsEdit && state != dsInsert && state != dsCalcFields &&
      state != dsFilter)
    return false;
  const uint8_t* slot = record + recordSize_ + field->Offset();
  if (slot[0] == 0) return false;
  if (buffer != nullptr) std::memcpy(buffer, slot + 1, static_cast<size_t>(field->DataSize()));
  return true;
}

bool TKivDataSet::ReadFieldValue(TField* field, void* dest, TRecordBuffer record) {
  const TQELFieldDef* def = qelFieldDefs_.ByNumber(field->FieldNo());
  if (def == nullptr) return false;
  const uint8_t* p = record + def->Offset;
  const uint32_t length = def->Length;
  bool empty = IsEmptyFieldImage(engineTableType_, def->EngineType, p, length);
  if (def->IsBlob()) {
    // The contents go through the blob stream; only the empty test is here.
    if (State() == dsEdit || State() == dsInsert) {
      const TKivBlobCache* cache = BlobCacheOf(record, *def);
      if (cache != nullptr && cache->Modified()) empty = cache->Empty();
    }
    return !empty;
  }
  if (empty) return false;
  if (def->EngineType == KIV_FT_NUMERIC) return ReadNumericText(field, p, length, dest);
  if (dest == nullptr) return true;

  auto* out = static_cast<uint8_t*>(dest);
  switch (def->EngineType) {
    case KIV_FT_LOGICAL: {
      const char c = static_cast<char>(p[0]);
      const uint16_t value = (c == '1' || c == 'T' || c == 'Y' || c == 't' || c == 'y') ? 1 : 0;
      std::memcpy(out, &value, 2);
      return true;
    }
    case KIV_FT_DATE:
    case KIV_FT_COMPACTDATE: {
      int32_t native;
      if (def->EngineType == KIV_FT_DATE && length == 4) {
        native = ReadImage<int32_t>(p) - kJulianOffset;
      } else {
        const std::string text = def->EngineType == KIV_FT_COMPACTDATE
                                     ? CompactDateToText(p)
                                     : std::string(reinterpret_cast<const char*>(p), length);
        double julian = 0;
        CheckQELResult(this, KivConvertStringToJulian(text.c_str(), static_cast<uint16_t>(text.size()), &julian));
        native = static_cast<int32_t>(std::trunc(julian)) - kJulianOffset;
      }
      std::memcpy(out, &native, 4);
      return true;
    }
    case KIV_FT_CHARACTER:
    case KIV_FT_CICHARACTER: {
      const size_t room = std::min<size_t>(length, static_cast<size_t>(std::max(field->Size(), 0)));
      size_t n = strnlen(reinterpret_cast<const char*>(p), room);
      while (n > 0 && p[n - 1] == ' ') --n;
      std::memcpy(out, p, n);
      out[n] = 0;
      return true;
    }
    case KIV_FT_DOUBLE:
    case KIV_FT_CURDOUBLE: std::memcpy(out, p, 8); return true;
    case KIV_FT_INTEGER:
    case KIV_FT_AUTOINC:
    case KIV_FT_TIME: std::memcpy(out, p, 4); return true;
    case KIV_FT_SHORTINT: std::memcpy(out, p, 2); return true;
    case KIV_FT_TIMESTAMP:
    case KIV_FT_MODTIME: {
      const int32_t day = ReadImage<int32_t>(p);
      const int32_t ms = ReadImage<int32_t>(p + 4);
      double native = static_cast<double>(static_cast<int64_t>(day) - kJulianOffset) * kMSecsPerDay + ms;
      if (native < 0) native = 0;
      std::memcpy(out, &native, 8);
      return true;
    }
    case KIV_FT_RAW:
      std::memcpy(out, p, std::min<size_t>(length, static_cast<size_t>(std::max(field->Size(), 0))));
      return true;
    case KIV_FT_MONEY: {
      int64_t scaled;
      std::memcpy(&scaled, p, 8);
      const TBcd value = CurrencyToBcd(Currency::FromScaled(scaled), 20, 4);
      std::memcpy(out, &value, sizeof value);
      return true;
    }
    case KIV_FT_ROWVERSION: {
      int64_t number;
      std::memcpy(&number, p, 8);
      const TBcd value = StrToBcd(std::to_string(number));
      std::memcpy(out, &value, sizeof value);
      return true;
    }
    default: return true;
  }
}

bool TKivDataSet::ReadNumericText(TField* field, const uint8_t* p, uint32_t length, void* dest) {
  // The text is converted even when only the presence of a value is asked:
  // a text that does not convert reports the field as having no value, and
  // never leaves the bytes of a previous value in the caller's buffer.
  const char sep = FormatSettings().DecimalSeparator;
  const std::string text(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), length));
  try {
    switch (field->DataType()) {
      case ftSmallint: {
        const int v = StrToInt(text);
        if (v < INT16_MIN || v > INT16_MAX) return false;
        const int16_t value = static_cast<int16_t>(v);
        if (dest != nullptr) std::memcpy(dest, &value, 2);
        return true;
      }
      case ftBCD:
      case ftFMTBcd: {
        const size_t start = text.find_first_not_of(' ');
        const TBcd value =
            StrToBcd(Replaced(start == std::string::npos ? std::string() : text.substr(start), '.', sep));
        if (dest != nullptr) std::memcpy(dest, &value, sizeof value);
        return true;
      }
      default: {
        const double value = StrToFloat(Replaced(text, '.', sep));
        if (dest != nullptr) std::memcpy(dest, &value, 8);
        return true;
      }
    }
  } catch (const EConvertError&) {
    return false;
  }
}

// ---- Writing values ------------------------------------------------------

void TKivDataSet::SetFieldData(TField* field, const void* buffer) {
  const TDataSetState state = State();
  if (!IsWriteState(state) && state != dsInternalCalc) KivDataSetError(this, "Dataset not in edit mode");
  if (state == dsSetKey &&
      (field->FieldNo() < 0 || (ActiveIndexHasSegments() && !IsActiveIndexSegment(field))))
    DatabaseError("Field '" + field->DisplayName() + "' is not indexed and cannot be modified", this);
  TRecordBuffer record = CurrentStateBuffer();
  if (record == nullptr) return;  // no buffer in this state: nothing to store

  if (field->FieldNo() < 1) {
    uint8_t* slot = record + recordSize_ + field->Offset();
    slot[0] = buffer != nullptr ? 1 : 0;
    if (buffer != nullptr) std::memcpy(slot + 1, buffer, static_cast<size_t>(field->DataSize()));
  } else {
    if (state == dsCalcFields) KivDataSetError(this, "Dataset not in edit mode");
    if (field->ReadOnly() && state != dsSetKey && state != dsFilter)
      DatabaseError("Field '" + field->DisplayName() + "' cannot be modified", this);
    if (state == dsEdit || state == dsInsert) field->Validate(buffer);
    TQELFieldDef* def = qelFieldDefs_.ByNumber(field->FieldNo());
    if (def == nullptr) KivDataSetError(this, "Field '" + field->DisplayName() + "' not found");
    if (field->FieldKind() != fkInternalCalc) {
      if (state == dsEdit && !def->UpdateAllowed()) {
        KivSetLastError(KIV_ERR_PERMISSION,
                        ("Update permission not granted on this field: " + field->FieldName() + ".").c_str());
        CheckQELResult(this, KIV_ERR_PERMISSION);
      }
      if (state == dsInsert && !def->InsertAllowed()) {
        KivSetLastError(KIV_ERR_PERMISSION,
                        ("Insert permission not granted on this field: " + field->FieldName() + ".").c_str());
        CheckQELResult(this, KIV_ERR_PERMISSION);
      }
    }
    WriteFieldValue(*def, field->DataType(), buffer, record);
    def->Assigned = 1;
  }
  if (state == dsSetKey) {
    const int length = field->DataType() == ftString
                           ? (buffer != nullptr ? static_cast<int>(strnlen(static_cast<const char*>(buffer),
                                                                           static_cast<size_t>(field->DataSize())))
                                                : 0)
                           : 1;
    SetKeyFieldLength(field, length);
  }
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue)
    DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field));
}

void TKivDataSet::WriteFieldValue(const TQELFieldDef& def, TFieldType nativeType, const void* source,
                                  TRecordBuffer record) {
  uint8_t* p = record + def.Offset;
  const uint32_t length = def.Length;
  if (source == nullptr) {
    BlankFieldImage(engineTableType_, def.EngineType, p, length);
    return;
  }
  const auto* in = static_cast<const uint8_t*>(source);
  const char sep = FormatSettings().DecimalSeparator;
  switch (def.EngineType) {
    case KIV_FT_LOGICAL: {
      uint16_t value;
      std::memcpy(&value, in, 2);
      p[0] = value != 0 ? 'T' : 'F';
      return;
    }
    case KIV_FT_NUMERIC: {
      const int len = static_cast<int>(length);
      std::string text;
      if (nativeType == ftSmallint) {
        int16_t value;
        std::memcpy(&value, in, 2);
        text = IntToStr(value);
      } else if (nativeType == ftBCD || nativeType == ftFMTBcd) {
        TBcd value;
        std::memcpy(&value, in, sizeof value);
        text = def.Decimals != 0 ? BcdToStrF(value, len - 2, def.Decimals) : BcdToStrF(value, len - 1, 0);
        text = Replaced(text, sep, '.');
        if (text.empty() || (text.size() == length && text[0] != '-'))
          KivDataSetError(this, "Numeric out of range.");
      } else {
        double value;
        std::memcpy(&value, in, 8);
        text = def.Decimals != 0 ? FloatToStrF(value, TFloatFormat::ffFixed, len - 1, def.Decimals)
                                 : FloatToStrF(value, TFloatFormat::ffFixed, len, 0);
        text = Replaced(text, sep, '.');
      }
      if (text.size() > length || text.find('E') != std::string::npos) KivDataSetError(this, "Numeric out of range.");
      std::memset(p, ' ', length - text.size());
      std::memcpy(p + (length - text.size()), text.data(), text.size());
      return;
    }
    case KIV_FT_DATE:
    case KIV_FT_COMPACTDATE: {
      int32_t native;
      std::memcpy(&native, in, 4);
      if (def.EngineType == KIV_FT_DATE && length == 4) {
        const int32_t julian = native + kJulianOffset;
        std::memcpy(p, &julian, 4);
        return;
      }
      char text[13] = {};
      uint32_t textLength = sizeof text;
      CheckQELResult(this, KivConvertJulianToString(static_cast<double>(native) + kJulianOffset, text, &textLength));
      if (def.EngineType == KIV_FT_COMPACTDATE) {
        TextToCompactDate(std::string_view(text, std::min<uint32_t>(textLength, 8)), p);
        return;
      }
      if (textLength > length) KivDataSetError(this, "Something's wrong with KIV date functions");
      std::memcpy(p, text, textLength);
      return;
    }
    case KIV_FT_CHARACTER:
    case KIV_FT_CICHARACTER: {
      const size_t n = strnlen(reinterpret_cast<const char*>(in), length);
      const bool zeros = !tableOptions_.KivPreserveSpaces() && n == 0 && tableType_ == ttKivKDT;
      std::memset(p, zeros ? 0 : ' ', length);
      std::memcpy(p, in, n);
      return;
    }
    case KIV_FT_DOUBLE:
    case KIV_FT_CURDOUBLE: std::memcpy(p, in, 8); return;
    case KIV_FT_INTEGER:
    case KIV_FT_AUTOINC:
    case KIV_FT_TIME: std::memcpy(p, in, 4); return;
    case KIV_FT_SHORTINT: std::memcpy(p, in, 2); return;
    case KIV_FT_TIMESTAMP:
    case KIV_FT_MODTIME: {
      double native;
      std::memcpy(&native, in, 8);
      const double day = std::trunc(native / kMSecsPerDay);
      const int32_t storedDay = static_cast<int32_t>(day) + kJulianOffset;
      const int32_t ms = static_cast<int32_t>(std::llround(native - day * kMSecsPerDay));
      std::memcpy(p, &storedDay, 4);
      std::memcpy(p + 4, &ms, 4);
      return;
    }
    case KIV_FT_RAW: std::memcpy(p, in, length); return;
    case KIV_FT_MONEY: {
      TBcd value;
      std::memcpy(&value, in, sizeof value);
      const int64_t scaled = BcdToCurrency(value).scaled;
      std::memcpy(p, &scaled, 8);
      return;
    }
    case KIV_FT_ROWVERSION: {
      TBcd value;
      std::memcpy(&value, in, sizeof value);
      const int64_t number = StrToInt64(BcdToStr(value));
      std::memcpy(p, &number, 8);
      return;
    }
    default: return;  // blobs: their contents go through the blob cache
  }
}

// ---- New records and default values -------------------------------------

void TKivDataSet::InternalInitRecord(TRecordBuffer buffer) {
  CheckQELResult(this, KivClearRecordBuffer(baseHandle_, buffer, recordSize_));
  for (int i = 0; i < qelFieldDefs_.Count(); ++i) {
    TQELFieldDef& def = *qelFieldDefs_[i];
    def.Assigned = State() == dsEdit ? 1 : 0;
    if (def.EngineType == KIV_FT_AUTOINC) {
      const int32_t none = -1;
      std::memcpy(buffer + def.Offset, &none, 4);
    }
    if (def.IsBlob()) continue;
    TField* field = FindField(def.Name);
    if (field == nullptr || field->DefaultExpression().empty()) continue;
    try {
      WriteDefaultValue(def, field, buffer);
    } catch (const EKIVDatabaseError& e) {
      KivDataSetError(this, "Error setting default field value. (" + field->DisplayName() + ")\r\n" + e.Message(),
                      kKivNoCode);
    } catch (const EConvertError& e) {
      KivDataSetError(this, "Error setting default field value. (" + field->DisplayName() + ")\r\n" + e.Message(),
                      kKivNoCode);
    }
    def.Assigned = 1;
  }
  const TDataSetState state = State();
  if (state == dsBrowse || state == dsEdit || state == dsInsert || state == dsCalcFields ||
      state == dsNewValue)
    ResetBlobCaches(buffer);
}

void TKivDataSet::WriteDefaultValue(const TQELFieldDef& def, TField* field, TRecordBuffer buffer) {
  const std::string text = Trim(field->DefaultExpression());
  switch (def.EngineType) {
    case KIV_FT_LOGICAL: {
      const std::string upper = UpperCase(text);
      const uint16_t value = (upper == "TRUE" || upper == "T" || upper == ".T." || upper == "1") ? 1 : 0;
      WriteFieldValue(def, ftBoolean, &value, buffer);
      return;
    }
    case KIV_FT_NUMERIC:
      if (engineTableType_ != KIV_TABLE_KDT || tableOptions_.KivNumericsAsFloats()) {
        const double value = StrToFloat(text);
        WriteFieldValue(def, ftFloat, &value, buffer);
      } else {
        const TBcd value = StrToBcd(text);
        WriteFieldValue(def, ftBCD, &value, buffer);
      }
      return;
    case KIV_FT_DATE:
    case KIV_FT_COMPACTDATE: {
      const int32_t native = static_cast<int32_t>(StrToDate(text)) + DateDelta;
      WriteFieldValue(def, ftDate, &native, buffer);
      return;
    }
    case KIV_FT_CHARACTER:
    case KIV_FT_CICHARACTER:
      // Only a quoted text is a value; the quotes are not part of it.
      if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'') {
        const std::string value = text.substr(1, text.size() - 2);
        WriteFieldValue(def, ftString, value.c_str(), buffer);
      }
      return;
    case KIV_FT_DOUBLE:
    case KIV_FT_CURDOUBLE: {
      const double value = StrToFloat(text);
      WriteFieldValue(def, ftFloat, &value, buffer);
      return;
    }
    case KIV_FT_INTEGER:
    case KIV_FT_SHORTINT: {
      const int value = StrToInt(text);
      const bool fits = def.EngineType == KIV_FT_SHORTINT ? (value >= -32767 && value <= 32767)
                                                          : value != INT32_MIN;
      if (!fits) KivDataSetError(this, "Numeric out of range:" + text, kKivNoCode);
      if (def.EngineType == KIV_FT_SHORTINT) {
        const int16_t small = static_cast<int16_t>(value);
        WriteFieldValue(def, ftSmallint, &small, buffer);
      } else {
        const int32_t whole = value;
        WriteFieldValue(def, ftInteger, &whole, buffer);
      }
      return;
    }
    case KIV_FT_TIME: {
      const TDateTime time = StrToTime(text);
      const int32_t ms = static_cast<int32_t>(std::llround((time - std::trunc(time)) * kMSecsPerDay));
      WriteFieldValue(def, ftTime, &ms, buffer);
      return;
    }
    case KIV_FT_TIMESTAMP:
    case KIV_FT_MODTIME: {
      const double native = (StrToDateTime(text) + DateDelta) * kMSecsPerDay;
      WriteFieldValue(def, ftDateTime, &native, buffer);
      return;
    }
    case KIV_FT_MONEY:
    case KIV_FT_ROWVERSION: {
      const TBcd value = StrToBcd(text);
      WriteFieldValue(def, ftBCD, &value, buffer);
      return;
    }
    default: return;
  }
}

}  // namespace checker
