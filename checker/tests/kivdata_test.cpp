// The dataset cursor over real engine tables.
#include <cstring>
#include <stdexcept>

#include "test_support.h"

using namespace checker;
using namespace checker::testing;
using namespace kivds;

namespace {

const std::vector<std::string> kNames = {"Ada", "Bea", "Cid", "Dot", "Eve"};

std::string NameOf(TKivDataSet& ds) { return ds.FieldByName("NAME")->AsString(); }

std::vector<std::string> Forward(TKivDataSet& ds) {
  std::vector<std::string> out;
  for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(NameOf(ds));
  return out;
}

std::vector<std::string> Backward(TKivDataSet& ds) {
  std::vector<std::string> out;
  for (ds.Last(); !ds.Bof(); ds.Prior()) out.push_back(NameOf(ds));
  return out;
}

class DataSetTest : public EngineFixture {};

// -- iteration ----------------------------------------------------------------

TEST_F(DataSetTest, IteratesForwardAndBackwardOverTheSameRowsOfEachTableType) {
  const std::pair<const char*, uint16_t> tables[] = {
      {"kdt", KIV_TABLE_KDT}, {"cdx", KIV_TABLE_CDX}, {"ntx", KIV_TABLE_NTX}};
  for (auto [name, type] : tables) {
    SCOPED_TRACE(name);
    MakePeople(name, type, kNames);
    TestTable ds(nullptr, conn, name);
    ds.SetSourceTableType(type == KIV_TABLE_KDT ? ttKivKDT : type == KIV_TABLE_CDX ? ttKivCDX : ttKivNTX);
    ds.Open();
    EXPECT_EQ(ds.EngineTableType(), type);
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(Forward(ds), kNames);
    std::vector<std::string> reversed(kNames.rbegin(), kNames.rend());
    EXPECT_EQ(Backward(ds), reversed);
    EXPECT_EQ(ds.RecordCount(), 5);
    ds.Close();
  }
}

TEST_F(DataSetTest, RecordNumbersFollowTheCursor) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  int expected = 1;
  for (ds.First(); !ds.Eof(); ds.Next()) EXPECT_EQ(ds.RecNo(), expected++);
  ds.Last();
  EXPECT_EQ(ds.RecNo(), 5);
  EXPECT_EQ(NameOf(ds), "Eve");
}

TEST_F(DataSetTest, ABufferWindowOfSeveralRowsScrollsBothWays) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  TestTable ds(nullptr, conn, "people");
  TDataSource source(nullptr);
  source.SetDataSet(&ds);
  struct Grid : TDataLink {} grid;
  grid.SetBufferCount(3);
  grid.SetDataSource(&source);
  ds.Open();
  EXPECT_EQ(Forward(ds), kNames);
  EXPECT_EQ(Backward(ds), std::vector<std::string>(kNames.rbegin(), kNames.rend()));
  ds.MoveBy(2);
  EXPECT_EQ(NameOf(ds), "Cid");
  grid.SetDataSource(nullptr);
}

TEST_F(DataSetTest, AnEmptyTableHasRecordNumberZero) {
  MakeTable("empty", KIV_TABLE_KDT, "NAME,C,10");
  TestTable ds(nullptr, conn, "empty");
  ds.Open();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecNo(), 0);
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_TRUE(ds.FieldByName("NAME")->IsNull());
  ds.Last();
  EXPECT_EQ(ds.RecNo(), 0);
}

TEST_F(DataSetTest, DeletedRecordsAreSkippedAndCountedAsTheOptionsSay) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  KIVHANDLE t = 0;
  KIV_ASSERT_OK(KivOpenTable(conn, "people", nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, 0, 2, 0, &t));
  KIV_ASSERT_OK(KivGotoRecord(t, 2));
  KIV_ASSERT_OK(KivDeleteRecord(t));
  KIV_ASSERT_OK(KivCloseTable(t));

  TestTable ds(nullptr, conn, "people");
  ds.Open();
  EXPECT_EQ(Forward(ds), (std::vector<std::string>{"Ada", "Cid", "Dot", "Eve"}));
  EXPECT_EQ(ds.RecordCount(), 5) << "mode 2 counts every record";
  ds.KivTableOptions().SetKivFilterOptions(TKivRespectFilters::RESPECT_WHEN_COUNTING);
  EXPECT_EQ(ds.RecordCount(), 4);
  ds.KivTableOptions().SetKivFreshRecordCount(true);
  EXPECT_EQ(ds.RecordCount(), 4);
}

// -- bookmarks ----------------------------------------------------------------

TEST_F(DataSetTest, ABookmarkComesBackToTheSameRecord) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  EXPECT_EQ(ds.BookmarkSize(), 4);
  ds.MoveBy(2);
  const TBookmark third = ds.GetBookmark();
  ASSERT_EQ(third.size(), 4u);
  ds.Last();
  const TBookmark last = ds.GetBookmark();
  EXPECT_EQ(NameOf(ds), "Eve");
  ds.GotoBookmark(third);
  EXPECT_EQ(NameOf(ds), "Cid");
  EXPECT_EQ(ds.RecNo(), 3);
  ds.Next();
  EXPECT_EQ(NameOf(ds), "Dot") << "the window around the bookmark is consistent";
  ds.GotoBookmark(last);
  EXPECT_EQ(NameOf(ds), "Eve");

  EXPECT_LT(ds.CompareBookmarks(third.data(), last.data()), 0);
  EXPECT_GT(ds.CompareBookmarks(last.data(), third.data()), 0);
  EXPECT_EQ(ds.CompareBookmarks(third.data(), third.data()), 0);
  EXPECT_LT(ds.CompareBookmarks(nullptr, third.data()), 0);
  EXPECT_EQ(ds.CompareBookmarks(nullptr, nullptr), 0);

  EXPECT_TRUE(ds.BookmarkValid(third.data()));
  const uint32_t nowhere = 99;
  EXPECT_FALSE(ds.BookmarkValid(&nowhere));
  EXPECT_FALSE(ds.BookmarkValid(nullptr));
  ds.Close();
  EXPECT_FALSE(ds.BookmarkValid(third.data()));
}

TEST_F(DataSetTest, ABookmarkOfADeletedDbfRecordIsValidOnlyWhileDeletedRecordsShow) {
  MakePeople("people", KIV_TABLE_CDX, kNames);
  TestTable ds(nullptr, conn, "people");
  ds.SetSourceTableType(ttKivCDX);
  KivShowDeleted(1);
  ds.Open();
  ds.MoveBy(1);
  const TBookmark second = ds.GetBookmark();
  KIVHANDLE t = 0;
  KIV_ASSERT_OK(KivOpenTable(conn, "people", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, 0, 2, 0, &t));
  KIV_ASSERT_OK(KivGotoRecord(t, 2));
  KIV_ASSERT_OK(KivDeleteRecord(t));
  KIV_ASSERT_OK(KivWriteRecord(t));
  KIV_ASSERT_OK(KivCloseTable(t));
  EXPECT_TRUE(ds.BookmarkValid(second.data()));
  KivShowDeleted(0);
  EXPECT_FALSE(ds.BookmarkValid(second.data()));
}

TEST_F(DataSetTest, SetRecNoGoesToTheRecordAndFailsBeyondTheEnd) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  int scrolls = 0;
  ds.AfterScroll = [&](TDataSet*) { ++scrolls; };
  ds.SetRecNoValue(4);
  EXPECT_EQ(NameOf(ds), "Dot");
  EXPECT_EQ(ds.RecNo(), 4);
  EXPECT_EQ(scrolls, 1);
  try {
    ds.SetRecNoValue(9);
    FAIL() << "no record 9";
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.EngineErrorCode, KIV_ERR_NO_SUCH_RECORD);
  }
}

// -- opening and closing ------------------------------------------------------

TEST_F(DataSetTest, ASecondOpenOfTheCursorGivesThePartsText) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  TestTable ds(nullptr, conn, "people");
  ds.SetName("tbl");
  ds.Open();
  try {
    ds.OpenCursorAgain();
    FAIL() << "the cursor is open";
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.Message(), "tbl: Table is already open.");
    EXPECT_STREQ(e.what(), "tbl: Table is already open.");
    EXPECT_EQ(e.EngineErrorCode, kKivOwnError);
    EXPECT_EQ(e.DataSetInstanceName, "tbl");
  }
  EXPECT_EQ(ds.cursorOpens, 1);
  EXPECT_EQ(Forward(ds), kNames) << "the open cursor is untouched";
  ds.Open();  // already active: nothing happens
  EXPECT_EQ(ds.cursorOpens, 1);
}

TEST_F(DataSetTest, ClosingTwiceMakesNoEngineCall) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  auto* ds = new TestTable(nullptr, conn, "people");
  ds->Open();
  const KIVHANDLE base = ds->BaseHandle();
  CallRecorder calls;
  ds->Close();
  const std::vector<std::string> first = calls.Take();
  EXPECT_EQ(CountOf(first, "KivCloseTable"), 1);
  EXPECT_FALSE(ds->Active());
  EXPECT_EQ(ds->BaseHandle(), kClosedHandle);
  EXPECT_EQ(ds->ActiveHandle(), kClosedHandle);
  uint16_t type = 0;
  EXPECT_EQ(KivGetHandleType(base, &type), KIV_ERR_INVALID_HANDLE) << "the engine handle is gone";
  calls.Take();

  ds->Close();
  EXPECT_TRUE(calls.Take().empty()) << "a second close";
  delete ds;
  EXPECT_TRUE(calls.Take().empty()) << "destroying a closed dataset";
}

TEST_F(DataSetTest, DestroyingAnOpenDatasetClosesItsHandle) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  auto* ds = new TestTable(nullptr, conn, "people");
  ds->Open();
  const KIVHANDLE base = ds->BaseHandle();
  delete ds;
  uint16_t type = 0;
  EXPECT_EQ(KivGetHandleType(base, &type), KIV_ERR_INVALID_HANDLE);
}

TEST_F(DataSetTest, DestroyingNeverThrowsAndStillClosesTheHandle) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  TDataSource source(nullptr);
  auto* ds = new TestTable(nullptr, conn, "people");
  source.SetDataSet(ds);
  ds->Open();
  const KIVHANDLE base = ds->BaseHandle();
  source.OnStateChange = [](TDataSource* s) {
    if (s->State() == dsInactive) throw std::runtime_error("a control failed");
  };
  EXPECT_NO_THROW(delete ds);
  uint16_t type = 0;
  EXPECT_EQ(KivGetHandleType(base, &type), KIV_ERR_INVALID_HANDLE);
  EXPECT_EQ(source.DataSet(), nullptr);
}

TEST_F(DataSetTest, AnEmptyOemCharacterFieldStaysEmpty) {
  MakeTable("oemk", KIV_TABLE_KDT, "NAME,C,10;OTHER,C,5", [](KIVHANDLE t) {
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(KivSetString(t, "OTHER", "x", 1));
    KIV_ASSERT_OK(KivWriteRecord(t));
  });
  TestTable ds(nullptr, conn, "oemk");
  ds.KivTableOptions().SetKivCharType(TKivCharTypes::OEM);
  ds.Open();
  EXPECT_TRUE(ds.FieldByName("NAME")->IsNull());
  EXPECT_EQ(ds.FieldByName("OTHER")->AsString(), "x");
}

TEST_F(DataSetTest, AFailingEngineCloseIsSwallowed) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  const KIVHANDLE base = ds.BaseHandle();
  KivTestFailCall("KivCloseTable", KIV_ERR_IO, "cannot close", 1);
  EXPECT_NO_THROW(ds.Close());
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.BaseHandle(), kClosedHandle);
  KIV_EXPECT_OK(KivCloseTable(base));  // the planted failure left it open
}

TEST_F(DataSetTest, AFailingOpenClosesTheEngineHandleAgain) {
  MakeTable("general", KIV_TABLE_KDT, "NAME,C,10;PICTURE,GENERAL");
  TestTable ds(nullptr, conn, "general");
  ds.SetName("tbl");
  CallRecorder calls;
  try {
    ds.Open();
    FAIL() << "type 51 is unknown to the components";
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.Message(), "tbl: Unknown field type (51) encountered.");
    EXPECT_EQ(e.EngineErrorCode, kKivOwnError);
  }
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.BaseHandle(), kClosedHandle);
  const std::vector<std::string> log = calls.Take();
  EXPECT_EQ(CountOf(log, "KivOpenTable"), 1);
  EXPECT_EQ(CountOf(log, "KivCloseTable"), 1);
}

TEST_F(DataSetTest, EngineFailuresBecomeErrorsWithTheEnginesCodeAndText) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  TestTable ds(nullptr, conn, "people");
  ds.SetName("tbl");
  ds.Open();
  KivTestFailCall("KivGetRecord", KIV_ERR_IO, "disk trouble", 1);
  try {
    ds.Next();
    FAIL() << "the read fails";
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.EngineErrorCode, KIV_ERR_IO);
    EXPECT_EQ(e.Message(), "tbl: disk trouble");
  }
}

TEST_F(DataSetTest, OpensOnAHandedInCursorAndOwnsIt) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  KIVHANDLE statement = 0, cursor = 0;
  KIV_ASSERT_OK(KivCreateSQLStatement(conn, &statement));
  KIV_ASSERT_OK(KivExecuteSQLDirect(statement, "SELECT name FROM people WHERE age > 20", &cursor));
  TestTable ds(nullptr, conn, "unused");
  ds.OpenOnCursor(cursor);
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(ds.cursorOpens, 0) << "the handed-in cursor is adopted";
  EXPECT_EQ(ds.BaseHandle(), cursor);
  EXPECT_EQ(Forward(ds), (std::vector<std::string>{"Cid", "Dot", "Eve"}));
  ds.Close();
  uint16_t type = 0;
  EXPECT_EQ(KivGetHandleType(cursor, &type), KIV_ERR_INVALID_HANDLE) << "closing closed the cursor";
  KivCloseSQLStatement(statement);

  ds.OpenOnCursor(0);
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.ActiveHandle(), kClosedHandle);
}

TEST_F(DataSetTest, AReadOnlyOpenCannotModify) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  TestTable ds(nullptr, conn, "people");
  ds.openOptions = KIV_OPEN_READ_ONLY;
  ds.Open();
  EXPECT_FALSE(ds.CanModify());
  EXPECT_NE(ds.TableOpenOptions() & KIV_TOPT_READ_ONLY, 0u);
  EXPECT_THROW(ds.Edit(), EDatabaseError);
  ds.Close();
  ds.openOptions = 0;
  ds.Open();
  EXPECT_TRUE(ds.CanModify());
}

TEST_F(DataSetTest, ARecordCacheOptionCachesRecordsAtOpening) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  TestTable ds(nullptr, conn, "people");
  {
    CallRecorder calls;
    ds.Open();
    EXPECT_EQ(CountOf(calls.Take(), "KivCacheRecords"), 0) << "rcStandard";
    ds.Close();
    ds.KivTableOptions().SetKivRecordCache(TKivRecordCacheTypes::rcAggressive);
    ds.Open();
    EXPECT_EQ(CountOf(calls.Take(), "KivCacheRecords"), 1);
    EXPECT_EQ(Forward(ds), kNames);
  }
  EXPECT_THROW(ds.KivTableOptions().SetKivCharType(TKivCharTypes::OEM), EKIVDatabaseError);
  try {
    ds.KivTableOptions().SetKivLockType(TKivLockTypes::Compatible);
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Table must not be Active.");
  }
  EXPECT_THROW(ds.SetSourceTableType(ttKivCDX), EKIVDatabaseError);
  EXPECT_THROW(ds.SetDatabaseName("x"), EKIVDatabaseError);
}

// -- the record buffer --------------------------------------------------------

TEST_F(DataSetTest, TheRecordBufferHoldsImageCalculatedFieldsBlobCachesInfoAndBookmark) {
  MakeTable("notes", KIV_TABLE_KDT, "NAME,C,10;TEXT,MEMO;PIC,BINARY", [](KIVHANDLE t) {
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(KivSetString(t, "NAME", "one", 3));
    KIV_ASSERT_OK(KivSetString(t, "TEXT", "hello", 5));
    KIV_ASSERT_OK(KivWriteRecord(t));
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(KivSetString(t, "NAME", "two", 3));
    KIV_ASSERT_OK(KivWriteRecord(t));
  });
  TestTable ds(nullptr, conn, "notes");
  // Persistent fields: the three columns and a calculated one.
  auto* name = new TKivStringField(&ds);
  name->SetFieldName("NAME");
  name->SetSize(10);
  name->SetDataSet(&ds);
  auto* text = new TMemoField(&ds);
  text->SetFieldName("TEXT");
  text->SetDataSet(&ds);
  auto* pic = new TBlobField(&ds);
  pic->SetFieldName("PIC");
  pic->SetDataSet(&ds);
  auto* shout = new TStringField(&ds);
  shout->SetFieldName("SHOUT");
  shout->SetSize(12);
  shout->SetFieldKind(fkCalculated);
  shout->SetDataSet(&ds);
  int recNoInCalc = -1;
  ds.OnCalcFields = [&](TDataSet* d) {
    auto* self = static_cast<TKivDataSet*>(d);
    recNoInCalc = self->RecNo();
    shout->SetAsString(self->FieldByName("NAME")->AsString() + "!");
  };
  ds.Open();

  const uint32_t recordSize = ds.EngineRecordSize();
  EXPECT_EQ(recordSize, 1u + 10u + 8u + 8u);
  EXPECT_EQ(ds.CalcFieldsSize(), 1 + 13);
  EXPECT_EQ(ds.BlobCacheOffset(), recordSize + 14);
  EXPECT_EQ(ds.RecordInfoOffset(), ds.BlobCacheOffset() + 2 * sizeof(void*));
  EXPECT_EQ(ds.BookmarkOffset(), ds.RecordInfoOffset() + 8);
  EXPECT_EQ(ds.EngineBookmarkSize(), 4u);
  EXPECT_EQ(ds.RecordBufferSize(), ds.BookmarkOffset() + 4);

  EXPECT_EQ(shout->AsString(), "one!");
  EXPECT_EQ(recNoInCalc, 1) << "RecNo in calc-fields state reads the calc buffer's bookmark";
  EXPECT_FALSE(text->IsNull());
  EXPECT_TRUE(pic->IsNull());
  // The blob words of the image: -1 with data, 0 without.
  int32_t word = 0;
  const TQELFieldDef* textDef = ds.QELFieldDefs().Find("text");
  ASSERT_NE(textDef, nullptr);
  std::memcpy(&word, ds.ActiveBuffer() + textDef->Offset, 4);
  EXPECT_EQ(word, -1);
  TKivBlobCache* cache = ds.BlobCacheOf(ds.ActiveBuffer(), *textDef);
  ASSERT_NE(cache, nullptr);
  EXPECT_EQ(cache->FieldNo(), 2);
  // Record info: the record number and the bookmark flag.
  int32_t recno = 0;
  std::memcpy(&recno, ds.ActiveBuffer() + ds.RecordInfoOffset(), 4);
  EXPECT_EQ(recno, 1);
  EXPECT_EQ(ds.ActiveBuffer()[ds.RecordInfoOffset() + 5], bfCurrent);

  ds.Next();
  EXPECT_EQ(shout->AsString(), "two!");
  EXPECT_TRUE(text->IsNull());
  std::vector<uint8_t> image(recordSize);
  EXPECT_TRUE(ds.GetCurrentRecord(image.data()));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(image.data()) + 1, 10), "two       ");
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 4) << "persistent fields stay";
}

TEST_F(DataSetTest, ReadingARecordResetsItsBlobCaches) {
  MakeTable("notes", KIV_TABLE_KDT, "TEXT,MEMO", [](KIVHANDLE t) {
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(KivSetString(t, "TEXT", "hello", 5));
    KIV_ASSERT_OK(KivWriteRecord(t));
  });
  TestTable ds(nullptr, conn, "notes");
  ds.Open();
  TKivBlobCache* cache = ds.BlobCacheOf(ds.ActiveBuffer(), *ds.QELFieldDefs()[0]);
  ASSERT_NE(cache, nullptr);
  cache->SetData("changed");
  EXPECT_TRUE(cache->Modified());
  ds.Refresh();
  cache = ds.BlobCacheOf(ds.ActiveBuffer(), *ds.QELFieldDefs()[0]);
  EXPECT_FALSE(cache->Modified());
  EXPECT_TRUE(cache->Empty());
}

TEST_F(DataSetTest, AnEditedBlobWithUnsavedChangesIsEmptyExactlyWhenItsCacheIs) {
  MakeTable("notes", KIV_TABLE_KDT, "TEXT,MEMO", [](KIVHANDLE t) {
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(KivWriteRecord(t));
  });
  TestTable ds(nullptr, conn, "notes");
  ds.Open();
  TField* text = ds.FieldByName("TEXT");
  EXPECT_TRUE(text->IsNull());
  ds.Edit();
  ds.BlobCacheOf(ds.ActiveBuffer(), *ds.QELFieldDefs()[0])->SetData("new text");
  EXPECT_FALSE(text->IsNull());
  ds.BlobCacheOf(ds.ActiveBuffer(), *ds.QELFieldDefs()[0])->SetData("");
  EXPECT_TRUE(text->IsNull());
  ds.Cancel();
}

TEST_F(DataSetTest, GetRecordWhileInsertingYieldsAnError) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  ds.Insert();
  EXPECT_EQ(ds.State(), dsInsert);
  TRecordBuffer spare = ds.NewBuffer();
  EXPECT_EQ(ds.FetchInto(spare, gmNext), grError);
  EXPECT_EQ(ds.FetchInto(spare, gmCurrent), grError);
  ds.DisposeBuffer(spare);
  EXPECT_EQ(ds.RecNo(), -1) << "a new record has no record number";
  ds.Cancel();
  EXPECT_EQ(NameOf(ds), "Ada");
  ds.Delete();
  EXPECT_EQ(NameOf(ds), "Bea");
}

TEST_F(DataSetTest, TheFilterEventDecidesAndItsErrorsGoToTheApplicationHandler) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  TestTable ds(nullptr, conn, "people");
  ds.SetOnFilterRecordEvent([](TDataSet* d, bool& accept) {
    EXPECT_EQ(d->State(), dsFilter);
    accept = d->FieldByName("AGE")->AsInteger() % 20 == 0;
  });
  ds.SetFilteredValue(true);
  ds.Open();
  EXPECT_EQ(Forward(ds), (std::vector<std::string>{"Bea", "Dot"}));
  EXPECT_EQ(Backward(ds), (std::vector<std::string>{"Dot", "Bea"}));
  ds.Close();

  ds.SetOnFilterRecordEvent([](TDataSet*, bool&) { throw EDatabaseError("filter broke"); });
  EXPECT_THROW(ds.Open(), EDatabaseError) << "without a handler the error propagates";
  EXPECT_FALSE(ds.Active());
  std::vector<std::string> handled;
  ApplicationExceptionHandler() = [&](std::exception_ptr error, TComponent*) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      handled.push_back(e.what());
    }
  };
  ds.Open();
  ApplicationExceptionHandler() = nullptr;
  EXPECT_EQ(handled.size(), 1u);
  EXPECT_EQ(NameOf(ds), "Ada") << "a handled error leaves the record accepted";
}

TEST_F(DataSetTest, OemTablesAreReadThroughTheEnginesConversion) {
  MakeTable("oem", KIV_TABLE_CDX, "NAME,C,10");
  KIVHANDLE t = 0;
  KIV_ASSERT_OK(KivOpenTable(conn, "oem", nullptr, KIV_TABLE_CDX, KIV_CHAR_OEM, 0, 2, 0, &t));
  KIV_ASSERT_OK(KivAppendRecord(t));
  KIV_ASSERT_OK(KivSetString(t, "NAME", "M\xfcller", 6));  // Windows-1252 in, code page 850 stored
  KIV_ASSERT_OK(KivWriteRecord(t));
  KIV_ASSERT_OK(KivCloseTable(t));

  TestTable oem(nullptr, conn, "oem");
  oem.SetSourceTableType(ttKivCDX);
  oem.KivTableOptions().SetKivCharType(TKivCharTypes::OEM);
  oem.Open();
  EXPECT_EQ(NameOf(oem), "M\xfcller");
  oem.Close();

  TestTable ansi(nullptr, conn, "oem");
  ansi.SetSourceTableType(ttKivCDX);
  ansi.Open();
  EXPECT_EQ(NameOf(ansi), "M\x81ller") << "the stored OEM bytes";
}

TEST_F(DataSetTest, AtDesignTimeClosingAlsoEmptiesTheEnginesCaches) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  TestTable ds(nullptr, conn, "people");
  ds.SetDesigning(true);
  ds.Open();
  CallRecorder calls;
  ds.Close();
  const std::vector<std::string> log = calls.Take();
  EXPECT_EQ(CountOf(log, "KivCacheOpenTables"), 1);
  EXPECT_EQ(CountOf(log, "KivCacheOpenCursors"), 1);
  EXPECT_EQ(CountOf(log, "KivCloseTable"), 1);
}

TEST_F(DataSetTest, SetRecNoOnAFilteredDatasetSkipsFromTheTop) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  TestTable ds(nullptr, conn, "people");
  ds.SetOnFilterRecordEvent([](TDataSet*, bool& accept) { accept = true; });
  ds.SetFilteredValue(true);
  ds.Open();
  CallRecorder calls;
  ds.SetRecNoValue(3);
  const std::vector<std::string> log = calls.Take();
  EXPECT_EQ(CountOf(log, "KivGotoTop"), 1);
  EXPECT_EQ(CountOf(log, "KivGotoRecord"), 0);
  EXPECT_EQ(NameOf(ds), "Cid");
}

TEST_F(DataSetTest, ScopeCountingCountsTheVisibleRecords) {
  MakePeople("people", KIV_TABLE_KDT, kNames);
  KIVHANDLE t = 0;
  KIV_ASSERT_OK(KivOpenTable(conn, "people", nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, 0, 2, 0, &t));
  KIV_ASSERT_OK(KivGotoRecord(t, 5));
  KIV_ASSERT_OK(KivDeleteRecord(t));
  KIV_ASSERT_OK(KivCloseTable(t));
  TestTable ds(nullptr, conn, "people");
  ds.Open();
  ds.KivTableOptions().SetKivScopeOptions(TKivRespectScopes::RESPECT_SCOPES_WHEN_COUNTING);
  EXPECT_EQ(ds.RecordCount(), 4);
}

TEST_F(DataSetTest, TheIndexPageSizeComesFromTheFirstOpenIndex) {
  MakePeople("plain", KIV_TABLE_KDT, kNames);
  MakePeople("indexed", KIV_TABLE_KDT, {"Eve", "Ada", "Cid"});
  KIVHANDLE t = 0, index = 0;
  KIV_ASSERT_OK(KivOpenTable(conn, "indexed", nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, 0, 2, KIV_OPEN_EXCLUSIVE, &t));
  KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "BYNAME", "NAME", nullptr, nullptr, 0, &index));
  KIV_ASSERT_OK(KivCloseTable(t));

  TestTable plain(nullptr, conn, "plain");
  plain.Open();
  EXPECT_EQ(plain.KivTableOptions().KivIndexPageSize(), 0);
  TestTable indexed(nullptr, conn, "indexed");
  indexed.Open();
  uint16_t expected = 0;
  KIVHANDLE first = 0;
  uint16_t count = 1;
  KivGetAllIndexes(indexed.BaseHandle(), &first, &count);
  ASSERT_GE(count, 1) << "the production index opens with the table";
  KIV_ASSERT_OK(KivGetIndexPageSize(first, &expected));
  EXPECT_EQ(indexed.KivTableOptions().KivIndexPageSize(), expected);
  EXPECT_NE(expected, 0);
  EXPECT_EQ(indexed.ActiveHandle(), indexed.BaseHandle()) << "no order chosen: the table's own";
  EXPECT_EQ(Forward(indexed), (std::vector<std::string>{"Eve", "Ada", "Cid"}));
}

TEST_F(DataSetTest, EveryDatasetIsInTheProcessWideList) {
  auto contains = [](TKivDataSet* ds) {
    std::vector<TKivDataSet*>& list = KivDataSetList().LockList();
    const bool found = std::find(list.begin(), list.end(), ds) != list.end();
    KivDataSetList().UnlockList();
    return found;
  };
  auto* ds = new TestTable(&owner, conn, "x");
  EXPECT_TRUE(contains(ds));
  delete ds;
  EXPECT_FALSE(contains(ds));
}

TEST_F(DataSetTest, CreationDefaults) {
  TestTable ds(nullptr, conn, "x");
  EXPECT_EQ(ds.SourceTableType(), ttKivKDT);
  EXPECT_EQ(ds.EngineOpenType(), KIV_TABLE_KDT);
  EXPECT_EQ(ds.BaseHandle(), kClosedHandle);
  EXPECT_EQ(ds.ActiveHandle(), kClosedHandle);
  EXPECT_EQ(ds.ActiveIndexKind(), 0);
  EXPECT_FALSE(ds.Sequenced());
  EXPECT_FALSE(ds.IsSequenced());
  EXPECT_EQ(ds.SequencedLevel(), slStandard);
  EXPECT_TRUE(ds.StoreActive());
  EXPECT_TRUE(ds.AutoCalcFields());
  EXPECT_FALSE(ds.Filtered());
  EXPECT_FALSE(ds.Scoped());
  ds.SetSourceTableType(ttKivCDX);
  EXPECT_EQ(ds.EngineOpenType(), KIV_TABLE_CDX);
  ds.SetSourceTableType(ttKivNTX);
  EXPECT_EQ(ds.EngineOpenType(), KIV_TABLE_NTX);
  ds.SetSourceTableType(ttKivDefault);
  EXPECT_EQ(ds.EngineOpenType(), KIV_TABLE_KDT);
  const TKivTableOptions& o = ds.KivTableOptions();
  EXPECT_EQ(o.KivLockType(), TKivLockTypes::Proprietary);
  EXPECT_EQ(o.KivCharType(), TKivCharTypes::ANSI);
  EXPECT_EQ(o.KivRecordCache(), TKivRecordCacheTypes::rcStandard);
  EXPECT_TRUE(o.KivRightsCheck());
  EXPECT_TRUE(o.KivOptimizedFilters());
  EXPECT_FALSE(o.KivPreserveSpaces());
  EXPECT_FALSE(o.KivNumericsAsFloats());
}

}  // namespace
