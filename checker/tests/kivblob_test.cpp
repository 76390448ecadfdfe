// Blob caches and blob streams against the real engine.
#include <string>

#include "test_support.h"

namespace checker::testing {
namespace {

using namespace kivds;

// A dataset that writes its changed blobs the way posting does.
class BlobTable : public TestTable {
 public:
  using TestTable::TestTable;
  void WriteBlobsAndRecord() {
    WriteBlobChanges(ActiveBuffer());
    CheckQELResult(this, KivWriteRecord(BaseHandle()));
  }
};

class BlobTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    MakeTable("docs", KIV_TABLE_KDT, "NAME,C,10;TEXT,MEMO;DATA,BINARY", [](KIVHANDLE t) {
      KIV_ASSERT_OK(KivAppendRecord(t));
      KIV_ASSERT_OK(KivSetString(t, "NAME", "one", 3));
      KIV_ASSERT_OK(KivSetString(t, "TEXT", "first text", 10));
      KIV_ASSERT_OK(KivWriteRecord(t));
      KIV_ASSERT_OK(KivAppendRecord(t));
      KIV_ASSERT_OK(KivSetString(t, "NAME", "two", 3));
      KIV_ASSERT_OK(KivWriteRecord(t));
    });
  }
};

TEST_F(BlobTest, ABinaryBlobWithNulBytesSurvivesWritingAndReadingBack) {
  const std::string bytes("\0\x01\xff\0tail\r\n\0", 11);
  {
    BlobTable ds(nullptr, conn, "docs");
    ds.Open();
    ds.Edit();
    auto stream = ds.CreateBlobStream(ds.FieldByName("DATA"), bmWrite);
    stream->WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    stream.reset();
    EXPECT_TRUE(ds.FieldByName("DATA")->Modified());
    EXPECT_EQ(ds.FieldByName("DATA")->AsString(), bytes) << "read back from the cache before posting";
    CallRecorder calls;
    ds.WriteBlobsAndRecord();
    const std::vector<std::string> log = calls.Take();
    EXPECT_EQ(CountOf(log, "KivSetBinary"), 1) << "binary contents go through the binary setter";
    EXPECT_EQ(CountOf(log, "KivSetField"), 0);
    ds.Cancel();
  }
  BlobTable again(nullptr, conn, "docs");
  again.Open();
  EXPECT_EQ(again.FieldByName("DATA")->AsString(), bytes);
  EXPECT_EQ(again.FieldByName("TEXT")->AsString(), "first text");
}

TEST_F(BlobTest, ASecondReadOfTheSameRecordComesFromTheCache) {
  TestTable ds(nullptr, conn, "docs");
  ds.Open();
  CallRecorder calls;
  EXPECT_EQ(ds.FieldByName("TEXT")->AsString(), "first text");
  EXPECT_EQ(ds.FieldByName("TEXT")->AsString(), "first text");
  std::vector<std::string> log = calls.Take();
  EXPECT_EQ(CountOf(log, "KivGetField"), 1);
  EXPECT_EQ(CountOf(log, "KivGetMemoLength"), 1);
  // The next record is read afresh.
  ds.Next();
  EXPECT_EQ(ds.FieldByName("TEXT")->AsString(), "");
  ds.Prior();
  EXPECT_EQ(ds.FieldByName("TEXT")->AsString(), "first text");
  EXPECT_EQ(CountOf(calls.Take(), "KivGetField"), 1);
}

TEST_F(BlobTest, AValueTheEngineHasNotGotReadsAsEmpty) {
  TestTable ds(nullptr, conn, "docs");
  ds.Open();
  for (KIVRESULT code : {KIV_ERR_NO_CURRENT_RECORD, KIV_ERR_NO_SUCH_RECORD}) {
    ds.Refresh();
    KivTestFailCall("KivGetMemoLength", code, "no value", 1);
    EXPECT_EQ(ds.FieldByName("TEXT")->AsString(), "") << code;
  }
  ds.Refresh();
  KivTestFailCall("KivGetMemoLength", KIV_ERR_IO, "disk gone", 1);
  EXPECT_THROW(ds.FieldByName("TEXT")->AsString(), EKIVDatabaseError);
}

TEST_F(BlobTest, StreamsRefuseWhatTheirModeAndStateDoNotAllow) {
  TestTable ds(nullptr, conn, "docs");
  ds.Open();
  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { ds.CreateBlobStream(ds.FieldByName("TEXT"), bmWrite); }),
            "Table must be in Edit or Insert state to open blob stream in Write Mode.");
  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { ds.CreateBlobStream(ds.FieldByName("TEXT"), bmReadWrite); }),
            "Table must be in Edit or Insert state to open blob stream in Write Mode.");
  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { ds.CreateBlobStream(ds.FieldByName("NAME"), bmRead); }),
            "Invalid blob open on non-blob field.");
  auto reader = ds.CreateBlobStream(ds.FieldByName("TEXT"), bmRead);
  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { reader->Write("x", 1); }), "Error modifying read only blob.");
  EXPECT_EQ(reader->ReadAll(), "first text") << "the refused write changed nothing";
  reader.reset();
  ds.Edit();
  auto writer = ds.CreateBlobStream(ds.FieldByName("TEXT"), bmReadWrite);
  writer->Seek(0, TSeekOrigin::soEnd);
  writer->WriteBuffer("!", 1);
  writer.reset();
  EXPECT_EQ(ds.FieldByName("TEXT")->AsString(), "first text!");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("TEXT")->AsString(), "first text");
}

}  // namespace
}  // namespace checker::testing
