#include <gtest/gtest.h>

#include "memdataset.h"

using namespace kivds;
using kivds::testing::MemDataSet;

namespace {

const char* StateName(TDataSetState s) {
  static const char* names[] = {"Inactive", "Browse", "Edit", "Insert", "SetKey", "CalcFields",
                                "Filter", "NewValue", "OldValue", "CurValue", "BlockRead",
                                "InternalCalc", "Opening"};
  return names[s];
}

// A dataset of five people with every event written to a journal.
class JournalFixture : public ::testing::Test {
 protected:
  JournalFixture() {
    ds_ = new MemDataSet(&owner_, {{"ID", ftInteger}, {"NAME", ftString, 10}});
    ds_->SetName("People");
    for (int i = 0; i < 5; ++i) ds_->AddRow({i + 1, std::string(1, char('A' + i))});
    auto log = [this](const char* what) {
      return [this, what](TDataSet*) { journal_.push_back(what); };
    };
    ds_->BeforeOpen = log("BeforeOpen");
    ds_->AfterOpen = log("AfterOpen");
    ds_->BeforeClose = log("BeforeClose");
    ds_->AfterClose = log("AfterClose");
    ds_->BeforeInsert = log("BeforeInsert");
    ds_->AfterInsert = log("AfterInsert");
    ds_->BeforeEdit = log("BeforeEdit");
    ds_->AfterEdit = log("AfterEdit");
    ds_->BeforePost = log("BeforePost");
    ds_->AfterPost = log("AfterPost");
    ds_->BeforeCancel = log("BeforeCancel");
    ds_->AfterCancel = log("AfterCancel");
    ds_->BeforeDelete = log("BeforeDelete");
    ds_->AfterDelete = log("AfterDelete");
    ds_->BeforeScroll = log("BeforeScroll");
    ds_->AfterScroll = log("AfterScroll");
    ds_->BeforeRefresh = log("BeforeRefresh");
    ds_->AfterRefresh = log("AfterRefresh");
    ds_->OnNewRecord = log("OnNewRecord");
    source_ = new TDataSource(&owner_);
    source_->SetDataSet(ds_);
    source_->OnStateChange = [this](TDataSource* s) {
      journal_.push_back(std::string("state:") + StateName(s->State()));
    };
  }

  std::vector<std::string> Take() { return std::exchange(journal_, {}); }
  std::string Name() { return ds_->FieldByName("NAME")->AsString(); }

  std::vector<std::string> journal_;
  TComponent owner_{nullptr};
  MemDataSet* ds_;
  TDataSource* source_;
};

using Journal = std::vector<std::string>;

TEST_F(JournalFixture, OpenWalkForwardAndBackward) {
  ds_->Open();
  EXPECT_EQ(Take(), (Journal{"BeforeOpen", "state:Browse", "AfterOpen"}));
  EXPECT_TRUE(ds_->Bof());
  EXPECT_FALSE(ds_->Eof());
  EXPECT_EQ(ds_->FieldCount(), 2);

  std::string forward;
  for (; !ds_->Eof(); ds_->Next()) forward += Name();
  EXPECT_EQ(forward, "ABCDE");
  // Five moves succeed; the sixth Next finds the end and still scrolls.
  Journal scrolls;
  for (int i = 0; i < 5; ++i) scrolls.insert(scrolls.end(), {"BeforeScroll", "AfterScroll"});
  EXPECT_EQ(Take(), scrolls);
  ds_->Next();
  EXPECT_TRUE(Take().empty()) << "Next at the end does nothing";

  ds_->Last();
  std::string backward;
  for (; !ds_->Bof(); ds_->Prior()) backward += Name();
  EXPECT_EQ(backward, "EDCBA");
  EXPECT_EQ(ds_->RecNo(), 1);
  EXPECT_EQ(ds_->RecordCount(), 5);

  ds_->First();
  EXPECT_EQ(ds_->MoveBy(3), 3);
  EXPECT_EQ(Name(), "D");
  EXPECT_EQ(ds_->MoveBy(10), 1);
  EXPECT_TRUE(ds_->Eof());
  EXPECT_EQ(ds_->MoveBy(-10), -4);
  EXPECT_TRUE(ds_->Bof());

  Take();
  ds_->Close();
  EXPECT_EQ(Take(), (Journal{"BeforeClose", "state:Inactive", "AfterClose"}));
  EXPECT_EQ(ds_->FieldCount(), 0) << "default fields go with the cursor";
}

TEST_F(JournalFixture, EditPostAndCancel) {
  ds_->Open();
  ds_->Next();
  Take();
  ds_->Edit();
  EXPECT_EQ(ds_->State(), dsEdit);
  ds_->FieldByName("NAME")->SetAsString("Bert");
  EXPECT_TRUE(ds_->Modified());
  ds_->Post();
  EXPECT_EQ(Take(), (Journal{"BeforeEdit", "state:Edit", "AfterEdit", "BeforePost",
                             "state:Browse", "AfterPost"}));
  EXPECT_EQ(Name(), "Bert");
  EXPECT_EQ(ds_->Column("NAME"), (std::vector<std::string>{"A", "Bert", "C", "D", "E"}));

  ds_->Edit();
  ds_->FieldByName("NAME")->SetAsString("Nobody");
  ds_->Cancel();
  EXPECT_EQ(Take(), (Journal{"BeforeEdit", "state:Edit", "AfterEdit", "BeforeCancel",
                             "state:Browse", "AfterCancel"}));
  EXPECT_EQ(Name(), "Bert");
  EXPECT_EQ(ds_->RecNo(), 2);

  // Moving away from an unmodified edit cancels it; a modified one posts.
  ds_->Edit();
  ds_->Next();
  EXPECT_EQ(ds_->State(), dsBrowse);
  ds_->Edit();
  ds_->FieldByName("ID")->SetAsInteger(33);
  ds_->Next();
  EXPECT_EQ(ds_->Column("ID"), (std::vector<std::string>{"1", "2", "33", "4", "5"}));
}

TEST_F(JournalFixture, InsertAppendAndDelete) {
  ds_->Open();
  ds_->MoveBy(2);  // on C
  Take();
  ds_->Insert();
  EXPECT_EQ(Take(), (Journal{"BeforeInsert", "BeforeScroll", "state:Insert", "OnNewRecord",
                             "AfterInsert", "AfterScroll"}));
  EXPECT_TRUE(ds_->FieldByName("NAME")->IsNull());
  ds_->FieldByName("ID")->SetAsInteger(25);
  ds_->FieldByName("NAME")->SetAsString("BC");
  ds_->Post();
  EXPECT_EQ(Take(), (Journal{"BeforePost", "state:Browse", "AfterPost"}));
  EXPECT_EQ(ds_->Column("NAME"), (std::vector<std::string>{"A", "B", "BC", "C", "D", "E"}));
  EXPECT_EQ(Name(), "BC") << "the posted record stays current";

  ds_->Insert();
  ds_->FieldByName("NAME")->SetAsString("gone");
  ds_->Cancel();
  EXPECT_EQ(ds_->Column("NAME").size(), 6u);
  EXPECT_EQ(Name(), "BC") << "cancelling an insert returns to the record it displaced";

  ds_->Append();
  ds_->FieldByName("NAME")->SetAsString("Z");
  ds_->Post();
  EXPECT_EQ(ds_->Column("NAME").back(), "Z");
  EXPECT_EQ(Name(), "Z");

  Take();
  ds_->First();
  ds_->Next();  // B
  Take();
  ds_->Delete();
  EXPECT_EQ(Take(), (Journal{"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}));
  EXPECT_EQ(Name(), "BC") << "the next record becomes current";
  ds_->Last();
  ds_->Delete();
  EXPECT_EQ(Name(), "E") << "deleting the last record moves back";
  EXPECT_EQ(ds_->Column("NAME"), (std::vector<std::string>{"A", "BC", "C", "D", "E"}));
}

TEST_F(JournalFixture, EmptyDatasetEditBecomesInsertAndDeleteFails) {
  MemDataSet empty(&owner_, {{"ID", ftInteger}});
  empty.Open();
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_TRUE(empty.Bof() && empty.Eof());
  EXPECT_THROW(empty.Delete(), EDatabaseError);
  empty.Edit();
  EXPECT_EQ(empty.State(), dsInsert);
  empty.FieldByName("ID")->SetAsInteger(7);
  empty.Post();
  EXPECT_FALSE(empty.IsEmpty());
  EXPECT_EQ(empty.FieldByName("ID")->AsInteger(), 7);
}

TEST_F(JournalFixture, ErrorEventsDecideRetryAbortOrFail) {
  ds_->Open();
  TField* id = ds_->FieldByName("ID");
  id->SetRequired(true);
  ds_->Insert();
  int calls = 0;
  ds_->OnPostError = [&](TDataSet* d, EDatabaseError& e, TDataAction& action) {
    ++calls;
    EXPECT_NE(e.Message().find("Field 'ID' must have a value"), std::string::npos);
    if (calls == 1) {
      d->FieldByName("ID")->SetAsInteger(99);
      action = daRetry;
    }
  };
  ds_->Post();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(id->AsInteger(), 99);

  ds_->Insert();
  ds_->OnPostError = [](TDataSet*, EDatabaseError&, TDataAction& a) { a = daAbort; };
  EXPECT_THROW(ds_->Post(), EAbort);
  EXPECT_EQ(ds_->State(), dsInsert);
  ds_->OnPostError = nullptr;
  EXPECT_THROW(ds_->Post(), EDatabaseError);
  ds_->Cancel();
}

TEST_F(JournalFixture, BookmarksReturnToTheirRecord) {
  ds_->Open();
  ds_->MoveBy(3);
  TBookmark mark = ds_->Bookmark();
  ASSERT_EQ(mark.size(), 4u);
  ds_->First();
  ds_->GotoBookmark(mark);
  EXPECT_EQ(Name(), "D");
  EXPECT_TRUE(ds_->BookmarkValid(mark.data()));
  ds_->Delete();
  EXPECT_FALSE(ds_->BookmarkValid(mark.data()));
  EXPECT_THROW(ds_->GotoBookmark(mark), EDatabaseError);
  EXPECT_LT(ds_->CompareBookmarks(nullptr, mark.data()), 0);
  EXPECT_EQ(ds_->CompareBookmarks(nullptr, nullptr), 0);
}

TEST_F(JournalFixture, DisabledControlsHearOneChangeAtTheEnd) {
  int changes = 0;
  source_->OnDataChange = [&](TDataSource*, TField*) { ++changes; };
  ds_->Open();
  changes = 0;
  ds_->DisableControls();
  ds_->Next();
  ds_->Next();
  ds_->Edit();
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(std::count(journal_.begin(), journal_.end(), "state:Edit"), 0);
  ds_->EnableControls();
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(journal_.back(), "state:Edit");
  EXPECT_FALSE(ds_->ControlsDisabled());
}

TEST_F(JournalFixture, CalculatedFieldsAreComputedForEveryRecord) {
  auto* id = new TIntegerField(&owner_);
  id->SetFieldName("ID");
  id->SetDataSet(ds_);
  auto* name = new TStringField(&owner_);
  name->SetFieldName("NAME");
  name->SetSize(10);
  name->SetDataSet(ds_);
  auto* label = new TStringField(&owner_);
  label->SetFieldName("LABEL");
  label->SetFieldKind(fkCalculated);
  label->SetDataSet(ds_);
  ds_->OnCalcFields = [&](TDataSet*) { label->SetAsString(name->AsString() + "#" + id->AsString()); };
  ds_->Open();
  EXPECT_FALSE(ds_->DefaultFields());
  EXPECT_EQ(ds_->CalcFieldsSize(), label->DataSize() + 1);
  std::vector<std::string> labels;
  for (; !ds_->Eof(); ds_->Next()) labels.push_back(label->AsString());
  EXPECT_EQ(labels, (std::vector<std::string>{"A#1", "B#2", "C#3", "D#4", "E#5"}));
  ds_->First();
  ds_->Edit();
  name->SetAsString("Q");  // AutoCalcFields recomputes on a field change
  EXPECT_EQ(label->AsString(), "Q#1");
  ds_->Cancel();
  ds_->Close();
  EXPECT_EQ(ds_->FieldCount(), 3) << "persistent fields stay";
}

// A link that shows three rows at once, like a grid.
class RowsLink : public TDataLink {
 public:
  std::vector<std::string> Rows() {
    std::vector<std::string> out;
    const int active = ActiveRecord();
    for (int i = 0; i < BufferCount(); ++i) {
      SetActiveRecord(i);
      if (ActiveRecord() != i) break;
      out.push_back(DataSet()->FieldByName("NAME")->AsString());
    }
    SetActiveRecord(active);
    return out;
  }
  int changes = 0;
  int activeChanges = 0;

 protected:
  void DataSetChanged() override { ++changes; }
  void ActiveChanged() override { ++activeChanges; }
};

TEST_F(JournalFixture, MultiRowWindowFollowsTheCursor) {
  RowsLink link;
  link.SetBufferCount(3);
  link.SetDataSource(source_);
  ds_->Open();
  EXPECT_EQ(link.activeChanges, 1);
  EXPECT_EQ(ds_->BufferCount(), 3);
  EXPECT_EQ(link.Rows(), (std::vector<std::string>{"A", "B", "C"}));
  ds_->MoveBy(3);  // D: the window scrolls
  EXPECT_EQ(Name(), "D");
  EXPECT_EQ(link.ActiveRecord(), 2);
  EXPECT_EQ(link.Rows(), (std::vector<std::string>{"B", "C", "D"}));
  ds_->Last();
  EXPECT_EQ(link.Rows(), (std::vector<std::string>{"C", "D", "E"}));
  ds_->MoveBy(-3);  // B
  EXPECT_EQ(Name(), "B");
  EXPECT_EQ(link.ActiveRecord(), 0);
  ds_->Insert();
  EXPECT_EQ(link.Rows(), (std::vector<std::string>{"", "B", "C"}));
  ds_->Cancel();
  EXPECT_EQ(Name(), "B");
  ds_->Close();
  EXPECT_EQ(link.activeChanges, 2);
  EXPECT_FALSE(link.Active());
}

class MasterDetailFixture : public ::testing::Test {
 protected:
  MasterDetailFixture() {
    master_ = new MemDataSet(&owner_, {{"CUSTNO", ftInteger}, {"NAME", ftString, 10}});
    master_->AddRow({1, "Ann"});
    master_->AddRow({2, "Bob"});
    master_->AddRow({3, "Cy"});
    detail_ = new MemDataSet(&owner_, {{"ORDERNO", ftInteger}, {"CUSTNO", ftInteger}});
    for (auto [order, cust] : {std::pair{10, 1}, {11, 2}, {12, 1}, {13, 3}, {14, 2}, {15, 1}})
      detail_->AddRow({order, cust});
    source_ = new TDataSource(&owner_);
    source_->SetDataSet(master_);
    detail_->SetMasterSource(source_);
    detail_->SetMasterFields("CUSTNO", "CUSTNO");
  }
  std::vector<std::string> Orders() {
    std::vector<std::string> out;
    for (detail_->First(); !detail_->Eof(); detail_->Next())
      out.push_back(detail_->FieldByName("ORDERNO")->AsString());
    return out;
  }
  TComponent owner_{nullptr};
  MemDataSet* master_;
  MemDataSet* detail_;
  TDataSource* source_;
};

TEST_F(MasterDetailFixture, DetailShowsTheRowsOfTheCurrentMaster) {
  detail_->Open();
  EXPECT_EQ(Orders().size(), 6u) << "a closed master restricts nothing";
  master_->Open();
  EXPECT_EQ(Orders(), (std::vector<std::string>{"10", "12", "15"}));
  master_->Next();
  EXPECT_EQ(detail_->FieldByName("ORDERNO")->AsInteger(), 11) << "the detail follows at once";
  EXPECT_EQ(Orders(), (std::vector<std::string>{"11", "14"}));
  master_->Last();
  EXPECT_EQ(Orders(), (std::vector<std::string>{"13"}));
  EXPECT_EQ(detail_->RecordCount(), 1);

  // Changing the master's key field moves the detail too.
  master_->Edit();
  master_->FieldByName("CUSTNO")->SetAsInteger(2);
  EXPECT_EQ(Orders(), (std::vector<std::string>{"11", "14"}));
  master_->Cancel();
  EXPECT_EQ(Orders(), (std::vector<std::string>{"13"}));

  master_->Close();
  EXPECT_EQ(Orders().size(), 6u);
}

TEST_F(MasterDetailFixture, CircularLinksAreRefused) {
  TDataSource detailSource(&owner_);
  detailSource.SetDataSet(detail_);
  EXPECT_TRUE(detailSource.IsLinkedTo(master_));
  EXPECT_FALSE(source_->IsLinkedTo(detail_));
  EXPECT_THROW(master_->SetMasterSource(&detailSource), EDatabaseError);
  EXPECT_THROW(detail_->SetMasterSource(&detailSource), EDatabaseError);
}

}  // namespace
