// A dataset over rows held in memory, for testing the dataset base without
// an engine. Each row has a stable id that serves as its bookmark. With a
// master source the rows shown are those whose detail key fields equal the
// master's current values.
#ifndef KIVDS_TESTS_MEMDATASET_H
#define KIVDS_TESTS_MEMDATASET_H

#include <string>
#include <vector>

#include "kivds/db.h"

namespace kivds::testing {

struct MemColumn {
  std::string name;
  TFieldType type;
  int size = 0;
  bool required = false;
};

struct MemRow {
  int id;
  std::vector<Variant> values;
};

class MemDataSet : public TDataSet {
 public:
  MemDataSet(TComponent* owner, std::vector<MemColumn> columns);
  ~MemDataSet() override;

  void AddRow(std::vector<Variant> values);
  const std::vector<MemRow>& Rows() const { return rows_; }
  // Values of one column over the rows currently visible, in order.
  std::vector<std::string> Column(const std::string& name);

  void SetMasterSource(TDataSource* source) { masterLink_.SetDataSource(source); }
  void SetMasterFields(const std::string& masterFields, const std::string& detailFields);

  bool GetFieldData(TField* field, void* buffer) override;
  void SetFieldData(TField* field, const void* buffer) override;
  bool BookmarkValid(const void* bookmark) override;
  int CompareBookmarks(const void* a, const void* b) override;

 protected:
  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& buffer) override;
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) override;
  int GetRecordSize() override { return recordSize_; }
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() override { return open_; }
  void InternalFirst() override { cursor_ = -1; }
  void InternalLast() override;
  void InternalInitRecord(TRecordBuffer buffer) override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalGotoBookmark(const void* bookmark) override;
  void InternalSetToRecord(TRecordBuffer buffer) override;
  void GetBookmarkData(TRecordBuffer buffer, void* data) override;
  void SetBookmarkData(TRecordBuffer buffer, const void* data) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override;
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  void InternalInitFieldDefs() override;
  void ClearCalcFields(TRecordBuffer buffer) override;
  int GetRecordCount() override;
  int GetRecNo() override;
  TDataSource* GetDataSource() override { return masterLink_.DataSource(); }

 private:
  std::vector<int> Visible();  // row indexes shown, in order
  int SlotOffset(int fieldNo) const { return slotOffsets_.at(fieldNo - 1); }
  TRecordBuffer CurrentBuffer();
  void LoadRow(const MemRow& row, TRecordBuffer buffer);
  void StoreRow(TRecordBuffer buffer, MemRow& row);
  int InfoOffset() const { return recordSize_ + CalcFieldsSize(); }

  std::vector<MemColumn> columns_;
  std::vector<MemRow> rows_;
  int nextId_ = 1;
  bool open_ = false;
  int cursor_ = -1;  // index into Visible(); -1 before the first, size() after the last
  int recordSize_ = 0;
  std::vector<int> slotOffsets_;
  TMasterDataLink masterLink_{this};
  std::string detailFields_;
};

}  // namespace kivds::testing

#endif
