#include <cstring>

#include <gtest/gtest.h>

#include "memdataset.h"

using namespace kivds;
using kivds::testing::MemDataSet;

namespace {

// Field access through a dataset that stores integers and strings.
class FieldFixture : public ::testing::Test {
 protected:
  FieldFixture() {
    ds_ = new MemDataSet(&owner_, {{"N", ftInteger}, {"S", ftString, 5}});
    ds_->AddRow({7, "abc"});
    ds_->AddRow({Variant::Null(), Variant::Null()});
    ds_->Open();
    n_ = ds_->FieldByName("N");
    s_ = ds_->FieldByName("S");
  }
  TComponent owner_{nullptr};
  MemDataSet* ds_;
  TField* n_;
  TField* s_;
};

TEST_F(FieldFixture, TypedAccessorsConvertAndNullsReadAsEmpty) {
  EXPECT_EQ(n_->AsInteger(), 7);
  EXPECT_EQ(n_->AsString(), "7");
  EXPECT_DOUBLE_EQ(n_->AsFloat(), 7.0);
  EXPECT_EQ(n_->AsCurrency().scaled, 70000);
  EXPECT_TRUE(n_->AsBoolean());
  EXPECT_EQ(s_->AsString(), "abc");
  EXPECT_THROW(s_->AsInteger(), EDatabaseError);
  ds_->Next();
  EXPECT_TRUE(n_->IsNull());
  EXPECT_TRUE(n_->Value().IsNull());
  EXPECT_EQ(n_->AsInteger(), 0);
  EXPECT_EQ(s_->AsString(), "");
}

TEST_F(FieldFixture, WritingNeedsEditModeAndCutsStrings) {
  EXPECT_THROW(s_->SetAsString("x"), EDatabaseError);
  ds_->Edit();
  s_->SetAsString("abcdefgh");
  EXPECT_EQ(s_->AsString(), "abcde");
  n_->SetAsString("12");
  EXPECT_EQ(n_->AsInteger(), 12);
  EXPECT_THROW(n_->SetAsString("twelve"), EDatabaseError);
  n_->SetValue(Variant::Null());
  EXPECT_TRUE(n_->IsNull());
  s_->SetReadOnly(true);
  EXPECT_THROW(s_->SetAsString("x"), EDatabaseError);
  ds_->Cancel();
  EXPECT_EQ(n_->AsInteger(), 7);
}

TEST_F(FieldFixture, ValidateAndChangeEventsRunOnEveryWrite) {
  std::vector<std::string> seen;
  s_->OnValidate = [&](TField*) { seen.push_back("validate"); };
  s_->OnChange = [&](TField*) { seen.push_back("change:" + s_->AsString()); };
  ds_->Edit();
  s_->SetAsString("q");
  EXPECT_EQ(seen, (std::vector<std::string>{"validate", "change:q"}));
  s_->OnValidate = [](TField* f) { DatabaseError("bad value for " + f->FieldName()); };
  EXPECT_THROW(s_->SetAsString("r"), EDatabaseError);
  EXPECT_EQ(s_->AsString(), "q");
  ds_->Cancel();
}

TEST_F(FieldFixture, AssignCopiesValueOrNull) {
  ds_->Edit();
  s_->Assign(*n_);
  EXPECT_EQ(s_->AsString(), "7");
  ds_->Cancel();
  ds_->Last();
  ds_->Edit();
  n_->SetAsInteger(1);
  TField* sourceNull = s_;
  n_->Assign(*sourceNull);
  EXPECT_TRUE(n_->IsNull());
  ds_->Cancel();
}

// Field classes over a plain native buffer, without an engine.
class BufferDataSet : public MemDataSet {
 public:
  using MemDataSet::MemDataSet;
  std::vector<uint8_t> store = std::vector<uint8_t>(128, 0);
  bool has = false;
  bool GetFieldData(TField* f, void* buffer) override {
    if (has && buffer) std::memcpy(buffer, store.data(), f->DataSize());
    return has;
  }
  void SetFieldData(TField* f, const void* buffer) override {
    has = buffer != nullptr;
    if (buffer) std::memcpy(store.data(), buffer, f->DataSize());
  }
};

TEST(FieldBuffers, NativeLayoutsRoundTrip) {
  TComponent owner(nullptr);
  BufferDataSet ds(&owner, {});
  auto check = [&](TField* f, const Variant& in, const std::string& text) {
    f->SetDataSet(&ds);
    f->SetValue(in);
    EXPECT_EQ(f->AsString(), text) << f->FieldName();
    f->SetDataSet(nullptr);
  };
  auto* date = new TDateField(&owner);
  check(date, Variant::FromDate(EncodeDate(2000, 1, 1)), "01/01/2000");
  int32_t days;
  std::memcpy(&days, ds.store.data(), 4);
  EXPECT_EQ(days, 730120) << "days from 0001-01-01 = 1";

  auto* stamp = new TDateTimeField(&owner);
  check(stamp, Variant::FromDate(EncodeDate(2000, 1, 1) + 0.5), "01/01/2000 12:00:00");
  double ms;
  std::memcpy(&ms, ds.store.data(), 8);
  EXPECT_DOUBLE_EQ(ms, 730120.5 * 86400000.0);

  auto* time = new TTimeField(&owner);
  check(time, Variant::FromDate(0.75), "18:00:00");

  auto* bcd = new TBCDField(&owner);
  check(bcd, Variant("-123.4567"), "-123.4567");
  bcd->SetDataSet(&ds);
  EXPECT_EQ(bcd->AsCurrency().scaled, -1234567);
  bcd->SetDataSet(nullptr);

  auto* small = new TSmallintField(&owner);
  small->SetDataSet(&ds);
  EXPECT_THROW(small->SetAsInteger(40000), EDatabaseError);
  small->SetAsInteger(-2);
  EXPECT_EQ(small->AsInteger(), -2);
  small->SetDataSet(nullptr);

  auto* flag = new TBooleanField(&owner);
  check(flag, Variant(true), "True");
}

}  // namespace
