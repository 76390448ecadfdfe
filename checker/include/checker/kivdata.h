// The dataset over one engine table or statement cursor: opening and closing,
// the record buffers, fetching records,
// positioning, bookmarks, record numbers and counts, and field values in both
// directions. The table and query components derive from it and supply the
// opening of the engine cursor (OpenEngineCursor).
//
// Record buffer, one per buffered row, in this order:
//   1. the record image: record-size bytes as KivGetRecord fills them
//      (field bytes at the KivGetFieldOffset offsets);
//   2. the calculated fields: CalcFieldsSize bytes, each a null-flag byte
//      followed by the field's data;
//   3. the blob caches: one TKivBlobCache pointer per blob field (engine
//      types 5 to 8), sizeof(void*) bytes each;
//   4. the record info, 8 bytes: 32-bit record number, a status byte (0), the
//      bookmark-flag byte and two unused bytes;
//   5. the bookmark: bookmark-size bytes as KivGetBookmark60 writes them; its
//      first 32 bits are the position KivGotoBookmark and KivGotoRecord take.
//
// Later changes fill hooks that this class calls: indexes, ranges, scopes and
// key buffers, filters, record editing
// and blob streams. Each such hook is a protected virtual named
// after its job that does nothing (or answers "none") until then.
#ifndef CHECKER_KIVDATA_H
#define CHECKER_KIVDATA_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "checker/kivcnnct.h"
#include "checker/kiverror.h"
#include "checker/kivfields.h"
#include "kivds/db.h"
#include "qel32.h"

namespace checker {

// The "-1" of a closed or missing handle (engine handles are never 0xFFFFFFFF).
constexpr KIVHANDLE kClosedHandle = 0xFFFFFFFFu;

enum TKivTableTypes { ttKivCDX = 0, ttKivNTX = 1, ttKivKDT = 2, ttKivDefault = 3 };
enum TKivSequencedLevel { slStandard, slExact };

// Table options.
enum class TKivLockTypes { Proprietary, Compatible };
enum class TKivCharTypes { ANSI, OEM };
enum class TKivRespectFilters { IGNORE_WHEN_COUNTING, RESPECT_WHEN_COUNTING };
enum class TKivRespectScopes { IGNORE_SCOPES_WHEN_COUNTING, RESPECT_SCOPES_WHEN_COUNTING };
enum class TKivRecordCacheTypes { rcNone, rcStandard, rcAggressive };
enum class TKivAOFTypes { atDynamic, atKeySet, atFixed };
enum class TKivRecordLockingModes { lmPessimistic, lmOptimistic };

// The options of one dataset. Setters marked "closed only" raise "Table must
// not be Active." (5121) while the dataset is active.
class TKivTableOptions : public kivds::TPersistent {
 public:
  explicit TKivTableOptions(TKivDataSet* dataSet) : dataSet_(dataSet) {}

  TKivLockTypes KivLockType() const { return lockType_; }
  void SetKivLockType(TKivLockTypes v);  // closed only
  TKivCharTypes KivCharType() const { return charType_; }
  void SetKivCharType(TKivCharTypes v);  // closed only
  TKivRespectFilters KivFilterOptions() const { return filterOptions_; }
  void SetKivFilterOptions(TKivRespectFilters v) { filterOptions_ = v; }
  bool KivFreshRecordCount() const { return freshRecordCount_; }
  void SetKivFreshRecordCount(bool v) { freshRecordCount_ = v; }
  TKivRespectScopes KivScopeOptions() const { return scopeOptions_; }
  void SetKivScopeOptions(TKivRespectScopes v) { scopeOptions_ = v; }
  bool KivAOFResolveImmediate() const { return aofResolveImmediate_; }
  void SetKivAOFResolveImmediate(bool v) { aofResolveImmediate_ = v; }
  bool KivRightsCheck() const { return rightsCheck_; }
  void SetKivRightsCheck(bool v);  // closed only
  bool KivOptimizedFilters() const { return optimizedFilters_; }
  // With an active Filtered table: the filter moves to the other kind and
  // the cursor goes to the first record; a failure keeps the old value.
  void SetKivOptimizedFilters(bool v);
  uint16_t KivIndexPageSize() const { return indexPageSize_; }
  void SetKivIndexPageSize(uint16_t v) { indexPageSize_ = v; }
  TKivRecordCacheTypes KivRecordCache() const { return recordCache_; }
  // While active: KivCacheRecords (base, 0, 10 or 100).
  void SetKivRecordCache(TKivRecordCacheTypes v);
  TKivAOFTypes KivAOFType() const { return aofType_; }
  void SetKivAOFType(TKivAOFTypes v) { aofType_ = v; }
  bool KivAutoKeyFieldCount() const { return autoKeyFieldCount_; }
  void SetKivAutoKeyFieldCount(bool v) { autoKeyFieldCount_ = v; }
  bool KivCalcFieldsBeforeFilter() const { return calcFieldsBeforeFilter_; }
  void SetKivCalcFieldsBeforeFilter(bool v) { calcFieldsBeforeFilter_ = v; }
  TKivRecordLockingModes KivRecordLockingMode() const { return lockingMode_; }
  void SetKivRecordLockingMode(TKivRecordLockingModes v) { lockingMode_ = v; }
  bool KivPreserveSpaces() const { return preserveSpaces_; }
  void SetKivPreserveSpaces(bool v) { preserveSpaces_ = v; }
  bool KivNumericsAsFloats() const { return numericsAsFloats_; }
  void SetKivNumericsAsFloats(bool v) { numericsAsFloats_ = v; }

 private:
  void CheckClosed() const;

  TKivDataSet* dataSet_;
  TKivLockTypes lockType_ = TKivLockTypes::Proprietary;
  TKivCharTypes charType_ = TKivCharTypes::ANSI;
  TKivRespectFilters filterOptions_ = TKivRespectFilters::IGNORE_WHEN_COUNTING;
  bool freshRecordCount_ = false;
  TKivRespectScopes scopeOptions_ = TKivRespectScopes::IGNORE_SCOPES_WHEN_COUNTING;
  bool aofResolveImmediate_ = false;
  bool rightsCheck_ = true;
  bool optimizedFilters_ = true;
  uint16_t indexPageSize_ = 0;
  TKivRecordCacheTypes recordCache_ = TKivRecordCacheTypes::rcStandard;
  TKivAOFTypes aofType_ = TKivAOFTypes::atDynamic;
  bool autoKeyFieldCount_ = false;
  bool calcFieldsBeforeFilter_ = false;
  TKivRecordLockingModes lockingMode_ = TKivRecordLockingModes::lmPessimistic;
  bool preserveSpaces_ = false;
  bool numericsAsFloats_ = false;
};

// The cache of one blob field in one record buffer: the field's contents,
// loaded on demand from the engine record they belong to, and the changes a
// blob stream made to them until the record is posted. Reading a record
// resets the caches of its buffer.
class TKivBlobCache {
 public:
  TKivBlobCache(TKivDataSet* dataSet, uint16_t fieldNo) : dataSet_(dataSet), fieldNo_(fieldNo) {}
  TKivDataSet* DataSet() const { return dataSet_; }
  uint16_t FieldNo() const { return fieldNo_; }
  // Forgets loaded contents and unsaved changes.
  void Reset() {
    contents_.Clear();
    handle_ = kNoHandle;
    record_ = 0;
    modified_ = false;
  }
  // Something is cached: the contents of engine record Record().
  bool Loaded() const { return record_ != 0; }
  KIVHANDLE Handle() const { return handle_; }
  uint32_t Record() const { return record_; }
  bool Modified() const { return modified_; }  // holds unsaved changes
  bool Empty() const { return const_cast<kivds::TMemoryStream&>(contents_).Size() == 0; }
  std::string Data() const;
  // Replaces the contents, as a write stream that truncates would.
  void SetData(const std::string& data);

  // Makes the contents those of field `fieldNo` of engine record `record`
  // on `handle`. Unless `force`, cached contents of that same record and
  // field are kept (only rewound). Record 0 caches nothing. A value the
  // engine has not got (5068, 5022) reads as empty.
  void LoadBlob(KIVHANDLE handle, uint16_t fieldNo, bool force, uint32_t record);
  // Writes changed contents to the engine's current record and marks them
  // saved. Binary blobs go through the binary setter with their length, so
  // NUL bytes and every byte value arrive unchanged.
  void FlushBlob();

  int64_t Read(void* buffer, int64_t count) { return contents_.Read(buffer, count); }
  int64_t Write(const void* buffer, int64_t count) {
    const int64_t n = contents_.Write(buffer, count);
    modified_ = true;
    return n;
  }
  int64_t Seek(int64_t offset, kivds::TSeekOrigin origin) { return contents_.Seek(offset, origin); }
  void Truncate() {
    contents_.Clear();
    modified_ = true;
  }

 private:
  static constexpr KIVHANDLE kNoHandle = 0xFFFFFFFFu;
  TKivDataSet* dataSet_;
  uint16_t fieldNo_;
  kivds::TMemoryStream contents_;
  KIVHANDLE handle_ = kNoHandle;
  uint32_t record_ = 0;
  bool modified_ = false;
};

class TKivDataSet : public kivds::TDataSet {
 public:
  explicit TKivDataSet(kivds::TComponent* owner);
  ~TKivDataSet() override;

  // -- handles and what the engine said at opening
  KIVHANDLE BaseHandle() const { return baseHandle_; }
  KIVHANDLE ActiveHandle() const { return activeHandle_; }
  // KivGetTableType of the open handle (3 = the engine's own KDT format).
  uint16_t EngineTableType() const { return engineTableType_; }
  uint32_t TableOpenOptions() const { return openOptions_; }
  uint32_t EngineRecordSize() const { return recordSize_; }
  uint32_t RecordBufferSize() const { return recordBufferSize_; }
  uint32_t BlobCacheOffset() const { return blobCacheOffset_; }
  uint32_t RecordInfoOffset() const { return recordInfoOffset_; }
  uint32_t BookmarkOffset() const { return bookmarkOffset_; }
  uint32_t EngineBookmarkSize() const { return bookmarkSize_; }

  // -- published properties
  const std::string& DatabaseName() const { return databaseName_; }
  // Only while closed. A connection of that name (this owner and thread
  // first), else a path, else an alias from "kiv.ini", else a path again.
  virtual void SetDatabaseName(const std::string& name);
  // The folder the tables are in: the alias path, the connection's directory
  // or the DatabaseName, without one trailing separator. May adjust
  // SourceTableType to the alias's table type.
  virtual std::string GetDatabasePath();
  // The table name the errors report; the table component answers its
  // TableName.
  virtual std::string GetTableName() { return {}; }
  TKivTableTypes SourceTableType() const { return tableType_; }
  // Only while closed; refused when the alias of the DatabaseName or of the
  // linked connection names another table type. Stores the type and the
  // engine open type.
  virtual void SetSourceTableType(TKivTableTypes type);
  TKivConnection* KivConnection() const { return kivConnection_; }
  // Only while closed; moves the dataset from the old connection's list to
  // the new one's.
  void SetKivConnection(TKivConnection* connection);
  // The engine table type to open with: 2 for ttKivCDX, 1 for ttKivNTX, 3 otherwise.
  uint16_t EngineOpenType() const { return engineOpenType_; }
  bool Sequenced() const { return sequenced_; }
  void SetSequenced(bool v) { sequenced_ = v; }
  TKivSequencedLevel SequencedLevel() const { return sequencedLevel_; }
  void SetSequencedLevel(TKivSequencedLevel v) { sequencedLevel_ = v; }
  bool StoreActive() const { return storeActive_; }
  void SetStoreActive(bool v) { storeActive_ = v; }
  const std::string& InfoStructure() const { return infoStructure_; }
  void SetInfoStructure(const std::string& v) { infoStructure_ = v; }
  // Index, scope and master properties (setters below).
  const std::string& IndexName() const { return indexName_; }
  const std::string& IndexFieldNames() const { return indexFieldNames_; }
  int ActiveIndexKind() const { return indexKind_; }  // 0 none, 1 name, 2 fields, 3 default
  bool Scoped() const { return scoped_; }
  const std::string& ScopeBegin() const { return scopeBegin_; }
  const std::string& ScopeEnd() const { return scopeEnd_; }
  const std::string& MasterFields() const { return masterLink_.FieldNames(); }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return readOnly_; }
  kivds::TIndexDefs& IndexDefs() { return indexDefs_; }
  TQELFieldDefs& QELFieldDefs() { return qelFieldDefs_; }
  TKivTableOptions& KivTableOptions() { return tableOptions_; }
  kivds::TMasterDataLink& MasterLink() { return masterLink_; }

  // Renames the table in the data dictionary of the linked connection (only
  // there: free tables are refused).
  void RenameTable(const std::string& newName);
  // Always refused.
  void BatchMove(kivds::TDataSet* source, int mode);
  // "8.10 (QEL major.minor[letter])" from the engine's version.
  std::string Version();
  void SetVersion(const std::string&) {}  // read-only

  // Closes, then opens on a cursor handle the caller hands in;
  // 0 or the closed handle leaves the dataset closed. A failing open resets
  // the handed-in handle and propagates.
  void OpenOnCursor(KIVHANDLE cursor);

  // -- overrides of the dataset base
  bool GetFieldData(kivds::TField* field, void* buffer) override;
  void SetFieldData(kivds::TField* field, const void* buffer) override;
  bool BookmarkValid(const void* bookmark) override;
  int CompareBookmarks(const void* a, const void* b) override;
  bool GetCurrentRecord(kivds::TRecordBuffer buffer) override;
  void CloseBlob(kivds::TField*) override {}
  void DataEvent(kivds::TDataEvent event, intptr_t info) override;
  kivds::TFieldClass GetFieldClass(kivds::TFieldType type) override;
  bool IsSequenced() override { return sequenced_; }

  // -- new operations
  // The record number of the cursor position.
  virtual int GetCursorRecNo();
  // The last autoincrement value the engine gave on the open handle; one
  // beyond the range of int raises ERangeError.
  virtual int GetLastAutoIncValue() = 0;
  // Always refused: the dataset keeps no cached updates.
  kivds::TUpdateStatus UpdateStatus() override;
  // Called by the connection when it disconnects; empty here.
  virtual void ReleaseEngineCursor() {}
  // Called by a dictionary connection once it is connected: a table takes
  // its default index from the dictionary (property 213 of its table).
  virtual void ReadDefaultIndexFromDictionary();

  // -- provider support
  bool PSIsSQLBased() override { return true; }
  bool PSIsSQLSupported() override { return true; }
  std::string PSGetQuoteChar() override { return "\""; }
  void PSReset() override;
  bool PSUpdateRecord(kivds::TUpdateKind kind, kivds::TDataSet* delta) override;
  // Runs the text on the linked connection with this dataset's table
  // options. With `resultSet` the result cursor comes back as a new query
  // over it (closed when the text made no cursor); the answer is the
  // connection's (rows changed, or 0 with a cursor).
  int PSExecuteStatement(const std::string& sql, kivds::TParams* params,
                         std::unique_ptr<kivds::TDataSet>* resultSet) override;
  // The transaction calls of the linked connection; without one (or, for
  // the question, unconnected) nothing happens and no transaction is open.
  bool PSInTransaction() override;
  void PSStartTransaction() override;
  // Commits, or rolls back when `commit` is false.
  void PSEndTransaction(bool commit) override;

  // -- order: IndexName ("KIV_DEFAULT" = the dictionary's default index) or
  // IndexFieldNames; a failed switch keeps the old order and propagates.
  void SetIndexName(const std::string& name);
  void SetIndexFieldNames(const std::string& names);
  void SetIndexDefs(const kivds::TIndexDefs& defs);
  const std::string& DefaultIndexName() const { return defaultIndexName_; }
  bool GetIsIndexField(kivds::TField* field) override;
  // Opens (closes) an index file on the open table; see TKivIndexFiles.
  void OpenIndexFile(const std::string& name);
  void CloseIndexFile(const std::string& name);

  // -- ranges, built from key buffers edited in set-key state
  void SetRangeStart();
  void SetRangeEnd();
  void ApplyRange();
  void CancelRange();
  // The key buffer being edited: an exclusive bound, and how many leading
  // segments count (0 = every segment).
  bool KeyExclusive();
  void SetKeyExclusive(bool value);
  int KeyFieldCount();
  void SetKeyFieldCount(int count);

  // -- text scopes on the active index
  void SetScoped(bool value);
  void SetScopeBegin(const std::string& text);
  void SetScopeEnd(const std::string& text);
  void ActivateScope();
  void DeactivateScope();

  // -- master-detail
  kivds::TDataSource* MasterSource() { return masterLink_.DataSource(); }
  void SetMasterSource(kivds::TDataSource* source);
  void SetMasterFields(const std::string& names);

  // -- filters, search, Locate and Lookup
  void ActivateFilter();
  void DeactivateFilter();
  bool Locate(const std::string& keyFields, const kivds::Variant& keyValues, unsigned options) override;
  kivds::Variant Lookup(const std::string& keyFields, const kivds::Variant& keyValues,
                        const std::string& resultFields) override;

  // -- blobs
  std::unique_ptr<kivds::TStream> CreateBlobStream(kivds::TField* field, kivds::TBlobStreamMode mode) override;

  // Ends a key edit (set-key state) and otherwise posts or cancels as the
  // base does.
  void Post() override;
  void Cancel() override;

 protected:
  // A new engine handle for the configured table or statement (the query component,
  // 1.106). It may store the engine table type with SetEngineTableType.
  virtual KIVHANDLE OpenEngineCursor() = 0;
  void SetEngineTableType(uint16_t type) { engineTableType_ = type; }
  void SetExclusiveFlag(bool v) { exclusive_ = v; }
  void SetReadOnlyFlag(bool v) { readOnly_ = v; }
  void SetAliasPath(const std::string& path) { aliasPath_ = path; }
  // Told the new name after RenameTable renamed the table in the dictionary.
  virtual void TableRenamed(const std::string&) {}
  const std::string& AliasPath() const { return aliasPath_; }

  // -- overrides of the dataset base
  kivds::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(kivds::TRecordBuffer& buffer) override;
  kivds::TGetResult GetRecord(kivds::TRecordBuffer buffer, kivds::TGetMode mode,
                              bool doCheck) override;
  int GetRecordSize() override { return static_cast<int>(recordSize_); }
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() override { return baseHandle_ != kClosedHandle; }
  void InternalFirst() override;
  void InternalLast() override;
  void InternalInitRecord(kivds::TRecordBuffer buffer) override;
  void InitRecord(kivds::TRecordBuffer buffer) override;
  void InternalGotoBookmark(const void* bookmark) override;
  void InternalSetToRecord(kivds::TRecordBuffer buffer) override;
  void GetBookmarkData(kivds::TRecordBuffer buffer, void* data) override;
  void SetBookmarkData(kivds::TRecordBuffer buffer, const void* data) override;
  kivds::TBookmarkFlag GetBookmarkFlag(kivds::TRecordBuffer buffer) override;
  void SetBookmarkFlag(kivds::TRecordBuffer buffer, kivds::TBookmarkFlag flag) override;
  void InternalInitFieldDefs() override;
  void InitFieldDefs() override;
  void ClearCalcFields(kivds::TRecordBuffer buffer) override;
  int GetRecNo() override;
  void SetRecNo(int n) override;
  int GetRecordCount() override;
  kivds::TDataSource* GetDataSource() override { return masterLink_.DataSource(); }
  void UpdateIndexDefs() override { UpdateEngineIndexDefs(); }
  // Record editing (kivedit.cpp): table permissions, pessimistic or
  // optimistic record locks, writing only the assigned fields.
  void InternalEdit() override;
  void InternalInsert() override;
  void InternalPost() override;
  void InternalAddRecord(const void* buffer, bool append) override;
  void InternalCancel() override;
  void InternalDelete() override;
  void InternalRefresh() override;
  void DoOnNewRecord() override;
  // Gives the key fields of a new record (the active index's segments, in
  // order) the values of the master's fields.
  virtual void AssignMasterKeyFields();
  // The sequenced record number of the cursor position in an index's order:
  // the key number (slExact), else the record count times the relative key
  // position.
  int RecNoInOrder(KIVHANDLE index);
  // KivGetLastAutoinc on `handle`, as an int.
  int LastAutoIncOf(KIVHANDLE handle);
  // The record CRC taken when an optimistic edit began.
  uint32_t editCrc_ = 0;

  // -- steps for descendants
  // Reads the current engine record into a buffer.
  void ReadRecordIntoBuffer(kivds::TRecordBuffer buffer);
  kivds::TGetResult FetchVisibleRecord(kivds::TRecordBuffer buffer, kivds::TGetMode mode);
  // Adds the definitions of engine field `fieldNo` of `handle`.
  void AddEngineFieldDef(KIVHANDLE handle, uint16_t fieldNo);
  // Computes the buffer offsets from the record size, the calculated fields,
  // the blob fields and the bookmark length.
  void ComputeBufferOffsets();
  // The record buffer the current state reads and writes; nullptr when none.
  kivds::TRecordBuffer CurrentStateBuffer();
  // Field values between the record image and the native field buffers.
  bool ReadFieldValue(kivds::TField* field, void* dest, kivds::TRecordBuffer record);
  void WriteFieldValue(const TQELFieldDef& def, kivds::TFieldType nativeType, const void* source,
                       kivds::TRecordBuffer record);
  // The blob cache of a blob field in a record buffer; nullptr when none.
  TKivBlobCache* BlobCacheOf(kivds::TRecordBuffer buffer, const TQELFieldDef& def) const;
  void ResetBlobCaches(kivds::TRecordBuffer buffer);
  // The handle positions and bookmarks are read on: the active handle when
  // there is one, else the base handle.
  KIVHANDLE NavigationHandle() const;
  bool HasBaseHandle() const { return baseHandle_ != kClosedHandle && baseHandle_ != 0; }
  // Switches to the configured order. Index kind 0 uses the base
  // handle; the other kinds are opened by OpenOrderHandle.
  void SwitchToActiveIndex();

  // -- indexes and key buffers
  // The index handle of index kinds 1 to 3.
  virtual KIVHANDLE OpenOrderHandle();
  virtual void UpdateEngineIndexDefs();
  virtual void AllocateKeyBuffers();
  virtual void FreeKeyBuffers();
  // The record image of the key buffer being edited.
  virtual kivds::TRecordBuffer KeyBufferRecord();
  virtual void SetKeyFieldLength(kivds::TField* field, int length);
  virtual bool ActiveIndexHasSegments();
  virtual bool IsActiveIndexSegment(kivds::TField* field);
  virtual bool ActiveIndexHasScope();
  // Sets the ranges of the key buffers on the engine; false when they were
  // applied already.
  bool ApplyRangeScopes();
  // Clears an applied range; false when there was none.
  bool ResetRange();
  // The engine key of the fields set in a key buffer.
  std::string BuildRawKeyFromBuffer(int slot, bool partial);
  void ApplyMasterRange();
  void MasterChanged();
  void InitKeyBuffer(int slot);
  void CheckSetKeyState();
  void BeginKeyEdit(int slot);
  void EndKeyEdit(bool commit);
  bool HasActiveIndex() const;
  // The segment field names of an index; of the active one, which must exist.
  std::vector<std::string> SegmentNames(KIVHANDLE index);
  std::vector<std::string> ActiveIndexSegments();
  // Applies an order change made by `change`, restoring the old order when
  // the switch fails.
  void SwitchOrder(const std::function<void()>& change);
  void ListenToMaster();
  void MasterDisabled();
  void OpenCursor(bool infoQuery) override;

  // -- filters and search
  bool FindRecord(bool restart, bool goForward) override;
  void SetFiltered(bool value) override;
  void SetFilterText(const std::string& text) override;
  // The Filter text as the engine takes it, and its exact-match setting.
  std::string TranslateFilterText(uint16_t& exact);
  // Finds the first record with the key values; the cursor stays where it
  // was when there is none.
  bool LocateRecord(const std::string& keyFields, const kivds::Variant& keyValues, unsigned options);
  // The engine condition "field = value AND ..." over the filter buffer.
  std::string BuildFilterString(const std::vector<kivds::TField*>& fields, bool caseInsensitive);
  // Steps (forward or backward) until OnFilterRecord accepts a record;
  // false at the end.
  bool ScanWithFilterEvent(bool forward);

  // -- blobs
  // For posting: every changed blob cache of `buffer` sets its field's
  // has-data word in the image (-1 with contents, 0 without) and writes its
  // contents to the engine's current record. Call before KivWriteRecord.
  void WriteBlobChanges(kivds::TRecordBuffer buffer);
  // The copy of the record before editing (record editing fills it); the
  // old-value buffer. nullptr while there is none.
  kivds::TRecordBuffer PreEditCopy() { return preEditCopy_.empty() ? nullptr : preEditCopy_.data(); }
  std::vector<uint8_t>& PreEditCopyStorage() { return preEditCopy_; }
  void FreePreEditCopy() { std::vector<uint8_t>().swap(preEditCopy_); }

 private:
  friend class TKivConnection;
  // Stores a table type without the checks of the setter.
  void StoreTableType(TKivTableTypes type);
  void ApplyFieldAdjustments();
  uint8_t* RecordInfo(kivds::TRecordBuffer buffer) const { return buffer + recordInfoOffset_; }
  void FilterRecord(kivds::TRecordBuffer buffer, bool& accept);
  void WriteDefaultValue(const TQELFieldDef& def, kivds::TField* field, kivds::TRecordBuffer buffer);
  bool ReadNumericText(kivds::TField* field, const uint8_t* p, uint32_t length, void* dest);

  KIVHANDLE baseHandle_ = kClosedHandle;
  KIVHANDLE activeHandle_ = kClosedHandle;
  int indexKind_ = 0;
  TKivTableTypes tableType_ = ttKivKDT;
  uint16_t engineOpenType_ = KIV_TABLE_KDT;
  uint16_t engineTableType_ = 0;
  uint32_t recordSize_ = 0;
  uint32_t recordBufferSize_ = 0;
  uint32_t blobCacheOffset_ = 0;
  uint32_t recordInfoOffset_ = 0;
  uint32_t bookmarkOffset_ = 0;
  uint32_t bookmarkSize_ = 0;
  uint32_t openOptions_ = 0;
  bool canModify_ = false;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool sequenced_ = false;
  TKivSequencedLevel sequencedLevel_ = slStandard;
  bool storeActive_ = true;
  bool scoped_ = false;
  std::string infoStructure_;
  std::string indexName_, indexFieldNames_, defaultIndexName_;
  std::string scopeBegin_, scopeEnd_;
  std::string databaseName_, aliasPath_;
  TKivConnection* kivConnection_ = nullptr;
  std::vector<uint16_t> blobFieldNos_;  // engine field numbers of types 5 to 8, in order
  kivds::TRecordBuffer filterBuffer_ = nullptr;
  std::vector<uint8_t> preEditCopy_;
  kivds::TIndexDefs indexDefs_{this};
  TQELFieldDefs qelFieldDefs_{this};
  TKivTableOptions tableOptions_{this};
  kivds::TMasterDataLink masterLink_{this};
  // Key buffers: 1 range start, 2 range end, 3 and 4 the applied range,
  // 5 the copy taken when a key edit starts, 0 unused.
  std::vector<uint8_t> keyBuffers_[6];
  int keyBufferIndex_ = 1;

 protected:
  bool GetCanModify() override { return canModify_ && !readOnly_; }
};

// Every live dataset: each adds itself when created and leaves
// when destroyed; the connection walks it when its name changes.
kivds::TThreadList<TKivDataSet*>& KivDataSetList();

// An alias of "kiv.ini" as datasets read it: its path and table type (";N"
// NTX, ";C" CDX, anything else KDT). False when the alias has no path.
bool FindAliasPath(const std::string& alias, std::string& path, TKivTableTypes& type);

// The version text of the components over an engine version.
std::string KivVersionText(uint16_t major, uint16_t minor, char letter);

}  // namespace checker

#endif
