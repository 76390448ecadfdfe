// The dataset base: states, record buffers, navigation and editing, fields
// and field definitions, index definitions, parameters, data sources and
// data links. A descendant supplies the record source by overriding the
// Internal... operations and the record-buffer callbacks.
#ifndef KIVDS_DB_H
#define KIVDS_DB_H

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kivds/classes.h"
#include "kivds/rtl.h"

namespace kivds {

class TDataSet;
class TDataSource;
class TDataLink;
class TField;

// ---- Enumerations --------------------------------------------------------

enum TDataSetState {
  dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter, dsNewValue,
  dsOldValue, dsCurValue, dsBlockRead, dsInternalCalc, dsOpening
};
// edit, insert, set-key, calc-fields, filter and new-value
inline bool IsWriteState(TDataSetState s) { return s >= dsEdit && s <= dsNewValue; }

enum TDataEvent {
  deFieldChange, deRecordChange, deDataSetChange, deDataSetScroll, deLayoutChange,
  deUpdateRecord, deUpdateState, deCheckBrowseMode, dePropertyChange, deFieldListChange,
  deFocusControl
};

enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag { bfCurrent, bfBOF, bfEOF, bfInserted };
enum TResyncModeFlag : unsigned { rmExact = 1, rmCenter = 2 };
enum TDataAction { daFail, daAbort, daRetry };
enum TLocateOptionFlag : unsigned { loCaseInsensitive = 1, loPartialKey = 2 };
enum TFilterOptionFlag : unsigned { foCaseInsensitive = 1, foNoPartialCompare = 2 };
enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };
enum TUpdateKind { ukModify, ukInsert, ukDelete };
enum TUpdateAction { uaFail, uaAbort, uaSkip, uaRetry, uaApplied };
enum TUpdateMode { upWhereAll, upWhereChanged, upWhereKeyOnly };
enum TUpdateStatus { usUnmodified, usModified, usInserted, usDeleted };
enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc };

// Field types; the numbers are part of the interface.
enum TFieldType {
  ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD,
  ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic,
  ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString,
  ftLargeint, ftADT, ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant,
  ftInterface, ftIDispatch, ftGuid, ftTimeStamp, ftFMTBcd
};
bool IsBlobType(TFieldType t);

using TRecordBuffer = uint8_t*;
using TBookmark = std::vector<uint8_t>;

// ---- Process-wide hooks --------------------------------------------------

// Asks for a user name and password; false when the user cancels. Empty
// until the GUI layer (or a test) installs one.
using TLoginDialogProc = std::function<bool(const std::string& databaseName,
                                            std::string& userName, std::string& password,
                                            bool nameReadOnly)>;
TLoginDialogProc& LoginDialogExProc();

// The application's handler for exceptions that an event handler let escape
// (shown to the user by the GUI layer). Empty when none is installed.
using TApplicationExceptionHandler =
    std::function<void(std::exception_ptr error, TComponent* sender)>;
TApplicationExceptionHandler& ApplicationExceptionHandler();

// ---- Fields --------------------------------------------------------------

using TFieldNotifyEvent = std::function<void(TField* field)>;

// One column of a dataset. Values pass through the dataset's GetFieldData /
// SetFieldData in the field type's native buffer layout:
//   string: Size + 1 chars, zero-terminated; smallint/word/boolean: 16 bits;
//   integer/autoinc: 32 bits; largeint: 64 bits; float/currency: double;
//   BCD/FMTBcd: TBcd; date: 32-bit day number counted from 0001-01-01 = 1;
//   time: 32-bit milliseconds of the day; date-time: double milliseconds
//   counted like the date; bytes: Size bytes; var-bytes: 16-bit length then
//   Size bytes. Blob fields have no buffer; they read and write through the
//   dataset's blob stream.
class TField : public TComponent {
 public:
  TField(TComponent* owner, TFieldType type);
  ~TField() override;

  TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);
  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(const std::string& name) { fieldName_ = name; }
  const std::string& DisplayLabel() const { return displayLabel_; }
  void SetDisplayLabel(const std::string& s) { displayLabel_ = s; }
  std::string DisplayName() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }
  int FieldNo() const { return fieldNo_; }
  void SetFieldNo(int n) { fieldNo_ = n; }
  TFieldType DataType() const { return dataType_; }
  int Size() const { return size_; }
  virtual void SetSize(int size) { size_ = size; }
  virtual int DataSize() const;  // bytes of the native buffer
  TFieldKind FieldKind() const { return fieldKind_; }
  void SetFieldKind(TFieldKind k) { fieldKind_ = k; }
  bool Calculated() const { return fieldKind_ == fkCalculated || fieldKind_ == fkLookup; }
  bool IsBlob() const { return IsBlobType(dataType_); }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v) { readOnly_ = v; }
  bool Required() const { return required_; }
  void SetRequired(bool v) { required_ = v; }
  const std::string& DefaultExpression() const { return defaultExpression_; }
  void SetDefaultExpression(const std::string& s) { defaultExpression_ = s; }
  bool Modified() const { return modified_; }
  void SetModified(bool v) { modified_ = v; }
  // Offset of a calculated field's slot (null-flag byte, then data) within
  // the calculated-field area of a record buffer; set by BindFields.
  int Offset() const { return offset_; }
  void SetOffset(int offset) { offset_ = offset; }

  // Native buffer access through the dataset; GetData(nullptr) only tests.
  bool GetData(void* buffer) const;
  void SetData(const void* buffer);  // nullptr clears
  bool IsNull() const { return !GetData(nullptr); }
  void Clear() { SetData(nullptr); }

  virtual Variant GetAsVariant() const = 0;  // Null when empty
  virtual void SetAsVariant(const Variant& value) = 0;
  Variant Value() const { return GetAsVariant(); }
  void SetValue(const Variant& v);
  virtual std::string AsString() const;
  virtual void SetAsString(const std::string& s) { SetValue(Variant(s)); }
  int AsInteger() const;
  void SetAsInteger(int v) { SetValue(Variant(v)); }
  int64_t AsLargeInt() const;
  void SetAsLargeInt(int64_t v) { SetValue(Variant(v)); }
  double AsFloat() const;
  void SetAsFloat(double v) { SetValue(Variant(v)); }
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime v) { SetValue(Variant::FromDate(v)); }
  Currency AsCurrency() const;
  void SetAsCurrency(Currency v) { SetValue(Variant(v)); }
  bool AsBoolean() const;
  void SetAsBoolean(bool v) { SetValue(Variant(v)); }
  virtual TBcd AsBCD() const;
  virtual void SetAsBCD(const TBcd& v) { SetValue(Variant(BcdToStr(v))); }

  // Copies the other field's value (Null clears).
  virtual void Assign(const TField& source);
  // Runs OnValidate for a value about to be stored.
  void Validate(const void* buffer);
  void Change() {
    if (OnChange) OnChange(this);
  }

  TFieldNotifyEvent OnValidate;
  TFieldNotifyEvent OnChange;

 protected:
  [[noreturn]] void ConversionError(const char* typeName) const;
  void SetDataType(TFieldType t) { dataType_ = t; }

 private:
  TDataSet* dataSet_ = nullptr;
  std::string fieldName_, displayLabel_, defaultExpression_;
  int fieldNo_ = 0;
  TFieldType dataType_;
  int size_ = 0;
  TFieldKind fieldKind_ = fkData;
  bool readOnly_ = false, required_ = false, modified_ = false;
  int offset_ = 0;
};

class TStringField : public TField {
 public:
  explicit TStringField(TComponent* owner, TFieldType type = ftString) : TField(owner, type) {
    SetSize(20);
  }
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  std::string AsString() const override;
};

// Integer fields of 16, 32 and 64 bits; ftWord is unsigned.
class TIntegerField : public TField {
 public:
  explicit TIntegerField(TComponent* owner, TFieldType type = ftInteger) : TField(owner, type) {}
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
};
class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(TComponent* owner) : TIntegerField(owner, ftSmallint) {}
};
class TWordField : public TIntegerField {
 public:
  explicit TWordField(TComponent* owner) : TIntegerField(owner, ftWord) {}
};
class TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(TComponent* owner) : TIntegerField(owner, ftAutoInc) {}
};
class TLargeintField : public TIntegerField {
 public:
  explicit TLargeintField(TComponent* owner) : TIntegerField(owner, ftLargeint) {}
};

class TBooleanField : public TField {
 public:
  explicit TBooleanField(TComponent* owner) : TField(owner, ftBoolean) {}
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
};

class TFloatField : public TField {
 public:
  explicit TFloatField(TComponent* owner, TFieldType type = ftFloat) : TField(owner, type) {}
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  bool Currency() const { return currency_; }
  void SetCurrency(bool v) { currency_ = v; }
  int Precision() const { return precision_; }
  void SetPrecision(int p) { precision_ = p; }

 private:
  bool currency_ = false;
  int precision_ = 15;
};
class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(TComponent* owner) : TFloatField(owner, ftCurrency) { SetCurrency(true); }
};

// Decimal fields held as TBcd. Size is the number of decimals.
class TBCDField : public TField {
 public:
  explicit TBCDField(TComponent* owner, TFieldType type = ftBCD) : TField(owner, type) {
    SetSize(4);
  }
  Variant GetAsVariant() const override;  // a Currency value
  void SetAsVariant(const Variant& value) override;
  std::string AsString() const override;
  TBcd AsBCD() const override;
  void SetAsBCD(const TBcd& v) override;
  bool Currency() const { return currency_; }
  void SetCurrency(bool v) { currency_ = v; }
  int Precision() const { return precision_; }
  void SetPrecision(int p) { precision_ = p; }

 private:
  bool currency_ = false;
  int precision_ = 0;
};
// Wider decimals; the variant value is a double, the text is exact.
class TFMTBCDField : public TBCDField {
 public:
  explicit TFMTBCDField(TComponent* owner) : TBCDField(owner, ftFMTBcd) { SetSize(8); }
  Variant GetAsVariant() const override;
};

class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TComponent* owner, TFieldType type = ftDateTime) : TField(owner, type) {}
  Variant GetAsVariant() const override;  // a date variant
  void SetAsVariant(const Variant& value) override;
  std::string AsString() const override;
};
class TDateField : public TDateTimeField {
 public:
  explicit TDateField(TComponent* owner) : TDateTimeField(owner, ftDate) {}
};
class TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(TComponent* owner) : TDateTimeField(owner, ftTime) {}
};

class TBytesField : public TField {
 public:
  explicit TBytesField(TComponent* owner, TFieldType type = ftBytes) : TField(owner, type) {
    SetSize(16);
  }
  Variant GetAsVariant() const override;  // the bytes as a string
  void SetAsVariant(const Variant& value) override;
};
class TVarBytesField : public TBytesField {
 public:
  explicit TVarBytesField(TComponent* owner) : TBytesField(owner, ftVarBytes) {}
};

// Memo and binary contents, read and written through CreateBlobStream.
class TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* owner, TFieldType type = ftBlob) : TField(owner, type) {}
  int DataSize() const override { return 0; }
  Variant GetAsVariant() const override;  // the contents as a string
  void SetAsVariant(const Variant& value) override;
  std::string AsString() const override;
  void SetAsString(const std::string& s) override;
  int64_t BlobSize() const;
};
class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* owner, TFieldType type = ftMemo) : TBlobField(owner, type) {}
};

using TFieldClass = TField* (*)(TComponent* owner);
template <class T>
TField* NewField(TComponent* owner) {
  return new T(owner);
}

// The dataset's list of field objects. It does not own them: a field belongs
// to its owner component.
class TFields {
 public:
  explicit TFields(TDataSet* dataSet) : dataSet_(dataSet) {}
  int Count() const { return static_cast<int>(list_.size()); }
  TField* operator[](int index) const { return list_.at(index); }
  TField* FindField(std::string_view name) const;
  TField* FieldByName(std::string_view name) const;  // raises when absent
  TField* FieldByNumber(int fieldNo) const;
  int IndexOf(const TField* field) const;
  void Add(TField* field);
  void Remove(TField* field);
  auto begin() const { return list_.begin(); }
  auto end() const { return list_.end(); }

 private:
  TDataSet* dataSet_;
  std::vector<TField*> list_;
};

// ---- Field and index definitions -----------------------------------------

class TFieldDefs;

class TFieldDef : public TCollectionItem {
 public:
  TFieldDef(std::string name, TFieldType type, int size, bool required, int fieldNo)
      : name_(std::move(name)), dataType_(type), size_(size), required_(required),
        fieldNo_(fieldNo) {}
  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return dataType_; }
  int Size() const { return size_; }
  void SetSize(int s) { size_ = s; }
  int Precision() const { return precision_; }
  void SetPrecision(int p) { precision_ = p; }
  bool Required() const { return required_; }
  void SetRequired(bool r) { required_ = r; }
  int FieldNo() const { return fieldNo_; }
  // A new field object of the dataset's class for this type, owned by
  // `owner` and attached to `dataSet`.
  TField* CreateField(TComponent* owner, TDataSet* dataSet) const;

 private:
  std::string name_;
  TFieldType dataType_;
  int size_;
  int precision_ = 0;
  bool required_;
  int fieldNo_;
};

class TFieldDefs : public TCollection<TFieldDef> {
 public:
  explicit TFieldDefs(TDataSet* dataSet) : dataSet_(dataSet) {}
  // Field numbers count from 1 in order of addition.
  TFieldDef* Add(const std::string& name, TFieldType type, int size = 0, bool required = false);
  int IndexOf(std::string_view name) const;  // without case; -1 when absent
  TFieldDef* Find(std::string_view name) const;  // raises when absent
  bool Updated() const { return updated_; }
  void SetUpdated(bool u) { updated_ = u; }
  // Asks the dataset for its definitions unless they are up to date.
  void Update();

 private:
  TDataSet* dataSet_;
  bool updated_ = false;
};

enum TIndexOptionFlag : unsigned {
  ixPrimary = 1, ixUnique = 2, ixDescending = 4, ixCaseInsensitive = 8, ixExpression = 16
};

class TIndexDef : public TCollectionItem {
 public:
  TIndexDef(std::string name, std::string fields, unsigned options)
      : name_(std::move(name)), fields_(std::move(fields)), options_(options) {}
  const std::string& Name() const { return name_; }
  const std::string& Fields() const { return fields_; }  // names separated by ';'
  unsigned Options() const { return options_; }
  const std::string& DescFields() const { return descFields_; }
  void SetDescFields(const std::string& s) { descFields_ = s; }

 private:
  std::string name_, fields_, descFields_;
  unsigned options_;
};

class TIndexDefs : public TCollection<TIndexDef> {
 public:
  explicit TIndexDefs(TDataSet* dataSet = nullptr) : dataSet_(dataSet) {}
  TIndexDef* Add(const std::string& name, const std::string& fields, unsigned options);
  int IndexOf(std::string_view name) const;
  TIndexDef* Find(std::string_view name) const;  // raises when absent
  // The first index whose leading fields are `fields` (names compared
  // without case); with `caseInsensitive` only ixCaseInsensitive indexes,
  // else only the others. nullptr when none.
  TIndexDef* GetIndexForFields(std::string_view fields, bool caseInsensitive) const;
  void Assign(const TIndexDefs& source);
  bool Updated() const { return updated_; }
  void SetUpdated(bool u) { updated_ = u; }
  void Update();  // asks the dataset unless up to date

 private:
  TDataSet* dataSet_;
  bool updated_ = false;
};

// ---- Parameters ----------------------------------------------------------

enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

class TParam : public TCollectionItem {
 public:
  TParam(std::string name, TFieldType type = ftUnknown, TParamType paramType = ptUnknown)
      : name_(std::move(name)), dataType_(type), paramType_(paramType) {}
  const std::string& Name() const { return name_; }
  void SetName(const std::string& n) { name_ = n; }
  TFieldType DataType() const { return dataType_; }
  void SetDataType(TFieldType t) { dataType_ = t; }
  TParamType ParamType() const { return paramType_; }
  void SetParamType(TParamType t) { paramType_ = t; }
  bool Bound() const { return bound_; }
  void SetBound(bool b) { bound_ = b; }
  bool IsNull() const { return value_.IsNullOrEmpty(); }

  const Variant& Value() const { return value_; }
  void SetValue(const Variant& v);  // also binds; keeps the data type
  void Clear();                     // Null, keeps the data type
  std::string AsString() const { return value_.ToString(); }
  void SetAsString(const std::string& v) { SetTyped(ftString, Variant(v)); }
  int AsInteger() const { return value_.ToInt(); }
  void SetAsInteger(int v) { SetTyped(ftInteger, Variant(v)); }
  void SetAsSmallInt(int v) { SetTyped(ftSmallint, Variant(v)); }
  void SetAsLargeInt(int64_t v) { SetTyped(ftLargeint, Variant(v)); }
  double AsFloat() const { return value_.ToDouble(); }
  void SetAsFloat(double v) { SetTyped(ftFloat, Variant(v)); }
  Currency AsCurrency() const { return value_.ToCurrency(); }
  void SetAsCurrency(Currency v) { SetTyped(ftCurrency, Variant(v)); }
  TDateTime AsDateTime() const { return value_.ToDateTime(); }
  void SetAsDateTime(TDateTime v) { SetTyped(ftDateTime, Variant::FromDate(v)); }
  void SetAsDate(TDateTime v) { SetTyped(ftDate, Variant::FromDate(v)); }
  void SetAsTime(TDateTime v) { SetTyped(ftTime, Variant::FromDate(v)); }
  bool AsBoolean() const { return value_.ToBool(); }
  void SetAsBoolean(bool v) { SetTyped(ftBoolean, Variant(v)); }
  TBcd AsBCD() const { return StrToBcd(value_.ToString()); }
  void SetAsBCD(const TBcd& v) { SetTyped(ftBCD, Variant(BcdToStr(v))); }
  void SetAsMemo(const std::string& v) { SetTyped(ftMemo, Variant(v)); }
  void SetAsBlob(const std::string& bytes) { SetTyped(ftBlob, Variant(bytes)); }

  // Bytes of the value for binary types (the bytes themselves) and texts.
  int GetDataSize() const;
  void GetData(void* buffer) const;
  // Takes the field's type and the given value; Bound is left as it is.
  void AssignFieldValue(const TField& field, const Variant& value);
  void Assign(const TParam& source);

 private:
  void SetTyped(TFieldType t, const Variant& v) {
    dataType_ = t;
    SetValue(v);
  }
  std::string name_;
  TFieldType dataType_;
  TParamType paramType_;
  Variant value_;
  bool bound_ = false;
};

class TParams : public TCollection<TParam> {
 public:
  TParam* CreateParam(TFieldType type, const std::string& name, TParamType paramType);
  TParam* FindParam(std::string_view name) const;  // without case
  TParam* ParamByName(std::string_view name) const;  // raises when absent
  // For each parameter here, the value, type and binding of the same-named
  // parameter of `source`, when it has one.
  void AssignValues(const TParams& source);
  void Assign(const TParams& source);
  // Finds the ":name" markers of an SQL text. A name is letters, digits and
  // underscores; "::" stands for a literal colon; markers inside '...' or
  // "..." are text. With `doCreate` one input parameter of unknown type is
  // added per distinct name (without case) not yet present, in order of first
  // appearance. Returns the text with each marker replaced by '?' and each
  // "::" by ':'.
  std::string ParseSQL(const std::string& sql, bool doCreate);
};

// ---- Data sources and links ----------------------------------------------

// Connects a dataset to the links (controls, detail datasets) that follow it.
class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool AutoEdit() const { return autoEdit_; }
  void SetAutoEdit(bool v) { autoEdit_ = v; }
  TDataSetState State() const;
  // True when `dataSet` is this source's dataset or the dataset of a master
  // source up the chain from it: linking `dataSet` to this source would be
  // circular.
  bool IsLinkedTo(const TDataSet* dataSet) const;
  void Edit();

  std::function<void(TDataSource*)> OnStateChange;
  std::function<void(TDataSource*, TField*)> OnDataChange;
  std::function<void(TDataSource*)> OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void AddDataLink(TDataLink* link);
  void RemoveDataLink(TDataLink* link);
  void NotifyDataLinks(TDataEvent event, intptr_t info);
  void DataEvent(TDataEvent event, intptr_t info);

  TDataSet* dataSet_ = nullptr;
  bool enabled_ = true;
  bool autoEdit_ = true;
  TDataSetState state_ = dsInactive;
  std::vector<TDataLink*> links_;
};

// Follows one data source. Descendants override the notifications.
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const;
  bool Active() const { return active_; }
  bool Editing() const { return editing_; }
  int BufferCount() const { return bufferCount_; }
  void SetBufferCount(int count);
  // Position of the dataset's active record within this link's window.
  int ActiveRecord() const;
  void SetActiveRecord(int index);
  bool Edit();
  void UpdateRecord();
  virtual TDataSet* GetDetailDataSet() { return nullptr; }

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void UpdateData() {}
  virtual void FocusControl(TField* /*field*/) {}

 private:
  friend class TDataSource;
  void DataEvent(TDataEvent event, intptr_t info);
  void UpdateState();
  void KeepActiveInWindow();

  TDataSource* dataSource_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool updating_ = false;
  int bufferCount_ = 1;
  int firstRecord_ = 0;
};

class TDetailDataLink : public TDataLink {};

// The link of a detail dataset to its master: keeps the master's fields
// named in FieldNames and reports master changes.
class TMasterDataLink : public TDetailDataLink {
 public:
  explicit TMasterDataLink(TDataSet* detail) : detail_(detail) {}
  const std::string& FieldNames() const { return fieldNames_; }
  void SetFieldNames(const std::string& names);
  const std::vector<TField*>& Fields() const { return fields_; }
  TDataSet* GetDetailDataSet() override { return detail_; }

  std::function<void()> OnMasterChange;
  std::function<void()> OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override { ActiveChanged(); }
  void RecordChanged(TField* field) override;

 private:
  TDataSet* detail_;
  std::string fieldNames_;
  std::vector<TField*> fields_;
};

// ---- The dataset base ----------------------------------------------------

using TDataSetNotifyEvent = std::function<void(TDataSet*)>;
using TDataSetErrorEvent = std::function<void(TDataSet*, EDatabaseError&, TDataAction&)>;
using TFilterRecordEvent = std::function<void(TDataSet*, bool& accept)>;
using TUpdateRecordEvent = std::function<void(TDataSet*, TUpdateKind, TUpdateAction&)>;

// The buffer window: BufferCount record buffers (plus one spare) mirror the
// records around the cursor; ActiveBuffer is the current record. A
// descendant fills buffers in GetRecord, positions its cursor in the
// Internal... operations and says where each buffer came from through the
// bookmark data and flags. A descendant that opens a cursor must call
// Close() in its own destructor.
class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner);
  ~TDataSet() override;

  // -- state
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return state_; }
  bool Modified() const { return modified_; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return recordCount_ == 0; }
  bool CanModify() { return GetCanModify(); }
  bool DefaultFields() const { return defaultFields_; }
  void CheckActive() const;
  void CheckInactive() const;
  void CheckBrowseMode();

  // -- navigation
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int MoveBy(int distance);
  int RecNo() { return GetRecNo(); }
  void SetRecNoValue(int n) { SetRecNo(n); }
  int RecordCount() { return GetRecordCount(); }
  virtual void Resync(unsigned mode);
  void UpdateCursorPos();
  void CursorPosChanged() { currentRecord_ = -1; }
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ > 0; }

  // -- editing
  void Insert();
  void Append();
  void Edit();
  virtual void Post();
  virtual void Cancel();
  void Delete();
  void Refresh();
  void UpdateRecord();
  virtual TUpdateStatus UpdateStatus() { return usUnmodified; }

  // -- bookmarks
  TBookmark GetBookmark();
  TBookmark Bookmark() { return GetBookmark(); }
  void SetBookmark(const TBookmark& b) { GotoBookmark(b); }
  void GotoBookmark(const TBookmark& bookmark);
  bool BookmarkAvailable();
  int BookmarkSize() const { return bookmarkSize_; }
  virtual bool BookmarkValid(const void* bookmark);
  // A null bookmark sorts before any other; two nulls are equal. The base
  // answers 0 for two real bookmarks.
  virtual int CompareBookmarks(const void* a, const void* b);

  // -- fields
  TFields& Fields() { return fields_; }
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  int FieldCount() const { return fields_.Count(); }
  TField* FieldByName(std::string_view name) const { return fields_.FieldByName(name); }
  TField* FindField(std::string_view name) const { return fields_.FindField(name); }
  // The fields named in a ';'-separated list; raises for a missing name.
  void GetFieldList(std::vector<TField*>& list, std::string_view names) const;
  virtual bool GetFieldData(TField* field, void* buffer) = 0;
  virtual void SetFieldData(TField* field, const void* buffer) = 0;
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);
  virtual void CloseBlob(TField*) {}
  virtual bool GetCurrentRecord(TRecordBuffer) { return false; }
  bool AutoCalcFields() const { return autoCalcFields_; }
  void SetAutoCalcFields(bool v) { autoCalcFields_ = v; }
  int CalcFieldsSize() const { return calcFieldsSize_; }
  virtual void DataEvent(TDataEvent event, intptr_t info);
  virtual TFieldClass GetFieldClass(TFieldType type);
  virtual bool GetIsIndexField(TField*) { return false; }

  // -- filtering and searching
  const std::string& Filter() const { return filterText_; }
  void SetFilter(const std::string& text) { SetFilterText(text); }
  bool Filtered() const { return filtered_; }
  void SetFilteredValue(bool value) { SetFiltered(value); }
  unsigned FilterOptions() const { return filterOptions_; }
  void SetFilterOptions(unsigned o) { filterOptions_ = o; }
  const TFilterRecordEvent& OnFilterRecord() const { return onFilterRecord_; }
  void SetOnFilterRecordEvent(TFilterRecordEvent e) { SetOnFilterRecord(std::move(e)); }
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  bool Found() const { return found_; }
  virtual bool Locate(const std::string& keyFields, const Variant& keyValues, unsigned options);
  virtual Variant Lookup(const std::string& keyFields, const Variant& keyValues,
                         const std::string& resultFields);
  virtual bool IsSequenced() { return true; }
  // The fields that link a detail dataset to its master: the master's fields
  // and the detail's fields that take their values, pair by pair. The base
  // has no link and leaves both lists empty.
  virtual void GetDetailLinkFields(std::vector<TField*>& masterFields, std::vector<TField*>& detailFields) {
    masterFields.clear();
    detailFields.clear();
  }

  // -- provider support
  virtual bool PSIsSQLBased() { return false; }
  virtual bool PSIsSQLSupported() { return false; }
  virtual std::string PSGetQuoteChar() { return "\""; }
  virtual bool PSInTransaction() { return false; }
  virtual void PSStartTransaction() {}
  virtual void PSEndTransaction(bool /*commit*/) {}
  virtual void PSReset() {}
  virtual int PSExecuteStatement(const std::string& sql, TParams* params,
                                 std::unique_ptr<TDataSet>* resultSet);
  virtual bool PSUpdateRecord(TUpdateKind, TDataSet* /*delta*/) { return false; }
  virtual std::unique_ptr<TIndexDef> PSGetDefaultOrder() { return nullptr; }
  virtual std::unique_ptr<TIndexDefs> PSGetIndexDefs(unsigned indexTypes);
  virtual TParams* PSGetParams() { return nullptr; }
  virtual void PSSetParams(const TParams&) {}
  virtual std::string PSGetTableName() { return {}; }
  virtual std::string PSGetKeyFields() { return {}; }
  virtual void PSExecute();
  virtual void PSSetCommandText(const std::string&) {}

  // -- events
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert,
      BeforeEdit, AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete,
      AfterDelete, BeforeScroll, AfterScroll, BeforeRefresh, AfterRefresh, OnCalcFields,
      OnNewRecord;
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;
  TUpdateRecordEvent OnUpdateRecord;

  // -- buffers, for descendants and links
  TRecordBuffer ActiveBuffer() const {
    return recordCount_ > 0 ? buffers_[activeRecord_] : nullptr;
  }
  TRecordBuffer CalcBuffer() const { return calcBuffer_; }
  int BufferCount() const { return bufferCount_; }
  int RecordSize() { return GetRecordSize(); }

 protected:
  // -- what a descendant supplies
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) = 0;
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) = 0;
  virtual int GetRecordSize() = 0;
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
  // Checks that every required data field has a value; descendants write
  // the record after calling it.
  virtual void InternalPost();
  virtual void InternalDelete() = 0;
  virtual void InternalGotoBookmark(const void* bookmark) = 0;
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  virtual void GetBookmarkData(TRecordBuffer buffer, void* data) = 0;
  virtual void SetBookmarkData(TRecordBuffer buffer, const void* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  virtual void InternalHandleException();
  virtual void InternalInitFieldDefs() = 0;
  // Optional steps.
  virtual void InternalAddRecord(const void* /*buffer*/, bool /*append*/) {}
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalCancel() {}
  virtual void InternalRefresh() {}
  virtual void InitRecord(TRecordBuffer buffer);
  virtual void InitFieldDefs() { InternalInitFieldDefs(); }
  virtual void UpdateIndexDefs() {}
  virtual void ClearCalcFields(TRecordBuffer) {}
  virtual void CalculateFields(TRecordBuffer buffer);
  virtual bool GetCanModify() { return true; }
  virtual int GetRecNo() { return -1; }
  virtual void SetRecNo(int) {}
  virtual int GetRecordCount() { return -1; }
  virtual bool FindRecord(bool /*restart*/, bool /*goForward*/) { return false; }
  virtual void SetFiltered(bool value) { filtered_ = value; }
  virtual void SetFilterText(const std::string& text) { filterText_ = text; }
  virtual void SetOnFilterRecord(TFilterRecordEvent e) { onFilterRecord_ = std::move(e); }
  virtual TDataSource* GetDataSource() { return nullptr; }
  virtual void OpenCursor(bool infoQuery);
  virtual void CloseCursor();
  void Loaded() override;

  // -- event raisers
  virtual void DoBeforeOpen() { Fire(BeforeOpen); }
  virtual void DoAfterOpen() { Fire(AfterOpen); }
  virtual void DoBeforeClose() { Fire(BeforeClose); }
  virtual void DoAfterClose() { Fire(AfterClose); }
  virtual void DoBeforeInsert() { Fire(BeforeInsert); }
  virtual void DoAfterInsert() { Fire(AfterInsert); }
  virtual void DoBeforeEdit() { Fire(BeforeEdit); }
  virtual void DoAfterEdit() { Fire(AfterEdit); }
  virtual void DoBeforePost() { Fire(BeforePost); }
  virtual void DoAfterPost() { Fire(AfterPost); }
  virtual void DoBeforeCancel() { Fire(BeforeCancel); }
  virtual void DoAfterCancel() { Fire(AfterCancel); }
  virtual void DoBeforeDelete() { Fire(BeforeDelete); }
  virtual void DoAfterDelete() { Fire(AfterDelete); }
  virtual void DoBeforeScroll() { Fire(BeforeScroll); }
  virtual void DoAfterScroll() { Fire(AfterScroll); }
  virtual void DoBeforeRefresh() { Fire(BeforeRefresh); }
  virtual void DoAfterRefresh() { Fire(AfterRefresh); }
  virtual void DoOnCalcFields() { Fire(OnCalcFields); }
  virtual void DoOnNewRecord() { Fire(OnNewRecord); }

  // -- helpers for descendants
  void SetState(TDataSetState value);
  TDataSetState SetTempState(TDataSetState value);
  void RestoreState(TDataSetState previous);
  void SetModified(bool v) { modified_ = v; }
  void SetFound(bool v) { found_ = v; }
  void SetBookmarkSize(int size) { bookmarkSize_ = size; }
  void CheckCanModify();
  void CreateFields();
  void DestroyFields();
  // Numbers data fields from the field definitions and lays out the
  // calculated-field area (CalcFieldsSize).
  void BindFields(bool binding);
  void GetCalcFields(TRecordBuffer buffer);
  void SetCalcBuffer(TRecordBuffer b) { calcBuffer_ = b; }
  // Frees every record buffer and allocates `count` new ones; the window is
  // emptied.
  void SetBufListSize(int count);
  TRecordBuffer Buffer(int index) const { return buffers_.at(index); }
  int ActiveRecordIndex() const { return activeRecord_; }
  int BufferedRecords() const { return recordCount_; }
  void ClearBuffers();
  void CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& onError);

 private:
  friend class TDataLink;
  friend class TDataSource;
  friend class TFieldDefs;
  friend class TIndexDefs;
  void Fire(const TDataSetNotifyEvent& e) {
    if (e) e(this);
  }
  void ActivateBuffers();
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void MoveBuffer(int from, int to);
  void SetCurrentRecord(int index);
  void BeginInsertAppend();
  void EndInsertAppend();
  void UpdateBufferCount();
  void AddDataSource(TDataSource* s);
  void RemoveDataSource(TDataSource* s);

  TDataSetState state_ = dsInactive;
  TDataSetState disableState_ = dsInactive;
  int disableCount_ = 0;
  int tempStateDepth_ = 0;
  bool modified_ = false, bof_ = true, eof_ = true, found_ = false;
  bool defaultFields_ = false, autoCalcFields_ = true, filtered_ = false;
  bool streamedActive_ = false;
  std::string filterText_;
  unsigned filterOptions_ = 0;
  TFilterRecordEvent onFilterRecord_;
  std::vector<TRecordBuffer> buffers_;
  int bufferCount_ = 0, recordCount_ = 0, activeRecord_ = 0, currentRecord_ = -1;
  TRecordBuffer calcBuffer_ = nullptr;
  int calcFieldsSize_ = 0;
  int bookmarkSize_ = 0;
  TFields fields_;
  TFieldDefs fieldDefs_;
  std::vector<TDataSource*> dataSources_;
};

// ---- Provider helpers ----------------------------------------------------

// An index definition made from the ORDER BY clause of an SQL text: named
// columns as they are, column numbers as the dataset's field names, "DESC"
// columns also in DescFields. nullptr without ORDER BY.
std::unique_ptr<TIndexDef> GetIndexForOrderBy(const std::string& sql, TDataSet* dataSet);
// A copy of the index definitions that have one of the options in
// `indexTypes` (every one when `indexTypes` is 0).
std::unique_ptr<TIndexDefs> GetIndexDefs(const TIndexDefs& indexDefs, unsigned indexTypes);
// The table of a single-table SELECT (quotes removed); empty when the FROM
// clause is missing or names more than one table.
std::string GetTableNameFromSQL(const std::string& sql);

}  // namespace kivds

#endif
