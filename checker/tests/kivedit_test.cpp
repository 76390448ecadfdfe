// Record editing against the real engine: two connections on one table stand
// for two users; locks, record CRCs, appends and field writes are checked in
// the stored data and in the engine call log.
#include <string>
#include <vector>

#include "checker/kivtable.h"
#include "test_support.h"

using namespace checker;
using namespace checker::testing;
using namespace kivds;

namespace {

using Mode = TKivRecordLockingModes;

// One user: a connection to the test folder and the table PEOPLE on it.
struct User {
  explicit User(const std::string& folder, Mode mode = Mode::lmPessimistic) {
    cn.SetConnectPath(folder);
    tb.SetKivConnection(&cn);
    tb.SetTableName("people");
    tb.KivTableOptions().SetKivRecordLockingMode(mode);
  }
  // Opens the table on the record of NAME `name`.
  void OpenOn(const std::string& name) {
    tb.Open();
    for (tb.First(); !tb.Eof(); tb.Next())
      if (tb.FieldByName("NAME")->AsString() == name) return;
    ADD_FAILURE() << name << " not found";
  }
  TKivConnection cn{nullptr};
  TKivTable tb{nullptr};
};

class EditTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    MakePeople("people", KIV_TABLE_KDT, {"Ada", "Bea", "Cy"});
  }

  // The stored rows as "NAME/AGE", read through a handle of the test's own.
  std::vector<std::string> Stored() {
    std::vector<std::string> rows;
    KIVHANDLE t = 0;
    EXPECT_EQ(KIV_OK, KivOpenTable(conn, "people", nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_PROPRIETARY,
                                   KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t))
        << EngineErrorText();
    uint16_t eof = 0;
    for (KivGotoTop(t); KivAtEOF(t, &eof) == KIV_OK && eof == 0; KivSkip(t, 1)) {
      char name[11] = {};
      uint32_t len = 10;
      KivGetField(t, "NAME", name, &len, 1);
      int32_t age = 0;
      KivGetLong(t, "AGE", &age);
      rows.push_back(std::string(name) + "/" + std::to_string(age));
    }
    KivCloseTable(t);
    return rows;
  }
};

uint32_t CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EKIVDatabaseError& e) {
    return e.EngineErrorCode;
  }
  return 0;
}

// -- locking -------------------------------------------------------------------

TEST_F(EditTest, OptimisticPostRefusesARecordAnotherUserChangedAndLeavesItUnlocked) {
  User a(dir.path(), Mode::lmOptimistic), b(dir.path());
  a.OpenOn("Bea");
  b.OpenOn("Bea");

  CallRecorder calls;
  a.tb.Edit();
  EXPECT_EQ(CountOf(calls.Take(), "KivLockRecord"), 0);  // nothing locked while A edits
  a.tb.FieldByName("NAME")->SetAsString("Beatrix");

  b.tb.Edit();  // B may lock and change the record meanwhile
  b.tb.FieldByName("AGE")->SetAsInteger(99);
  b.tb.Post();

  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { a.tb.Post(); }), "Record was changed by another user.");
  EXPECT_EQ(CodeOf([&] { a.tb.Post(); }), kKivRecordChanged);
  EXPECT_EQ(a.tb.State(), dsEdit);
  // The post's own lock is gone again: B can lock the record.
  b.tb.Edit();
  b.tb.Cancel();
  a.tb.Cancel();
  EXPECT_EQ(Stored(), (std::vector<std::string>{"Ada/10", "Bea/99", "Cy/30"}));
}

TEST_F(EditTest, OptimisticPostWithoutInterferenceWritesAndUnlocks) {
  User a(dir.path(), Mode::lmOptimistic), b(dir.path());
  a.OpenOn("Cy");
  b.OpenOn("Cy");
  a.tb.Edit();
  a.tb.FieldByName("AGE")->SetAsInteger(31);
  a.tb.Post();
  EXPECT_EQ(a.tb.FieldByName("AGE")->AsInteger(), 31);
  b.tb.Edit();  // not left locked
  b.tb.Cancel();
  EXPECT_EQ(Stored()[2], "Cy/31");
}

TEST_F(EditTest, PessimisticEditLocksTheRecordUntilPostOrCancel) {
  for (const bool post : {false, true}) {
    SCOPED_TRACE(post ? "post" : "cancel");
    User a(dir.path()), b(dir.path());
    a.OpenOn("Ada");
    b.OpenOn("Ada");
    a.tb.Edit();
    a.tb.FieldByName("AGE")->SetAsInteger(post ? 11 : 77);
    EXPECT_EQ(CodeOf([&] { b.tb.Edit(); }), KIV_ERR_RECORD_LOCKED);
    EXPECT_EQ(b.tb.State(), dsBrowse);
    // Another record stays free.
    b.tb.Next();
    b.tb.Edit();
    b.tb.Cancel();
    b.tb.Prior();
    if (post) a.tb.Post();
    else a.tb.Cancel();
    EXPECT_EQ(a.tb.FieldByName("AGE")->AsInteger(), post ? 11 : 10);
    b.tb.Edit();
    b.tb.Cancel();
  }
  EXPECT_EQ(Stored()[0], "Ada/11");
}

TEST_F(EditTest, AFailedPostKeepsOnlyThePessimisticEditLock) {
  for (const Mode mode : {Mode::lmPessimistic, Mode::lmOptimistic}) {
    const bool pessimistic = mode == Mode::lmPessimistic;
    SCOPED_TRACE(pessimistic ? "pessimistic" : "optimistic");
    User a(dir.path(), mode), b(dir.path());
    a.OpenOn("Bea");
    b.OpenOn("Bea");
    a.tb.Edit();
    a.tb.FieldByName("AGE")->SetAsInteger(21);
    KivTestFailCall("KivWriteRecord", KIV_ERR_IO, "disk full", 1);
    EXPECT_EQ(CodeOf([&] { a.tb.Post(); }), KIV_ERR_IO);
    EXPECT_EQ(a.tb.State(), dsEdit);
    EXPECT_EQ(CodeOf([&] { b.tb.Edit(); }), pessimistic ? KIV_ERR_RECORD_LOCKED : 0u);
    b.tb.Cancel();
    a.tb.Cancel();
    EXPECT_EQ(a.tb.FieldByName("AGE")->AsInteger(), 20);
    b.tb.Edit();  // the cancel ended the edit lock
    b.tb.Cancel();
  }
  EXPECT_EQ(Stored()[1], "Bea/20");
}

TEST_F(EditTest, AnExclusiveTableNeverLocksRecords) {
  User a(dir.path());
  a.tb.SetExclusive(true);
  a.OpenOn("Ada");
  CallRecorder calls;
  a.tb.Edit();
  a.tb.FieldByName("AGE")->SetAsInteger(12);
  a.tb.Post();
  a.tb.Insert();
  a.tb.FieldByName("NAME")->SetAsString("Dee");
  a.tb.Post();
  const auto log = calls.Take();
  EXPECT_EQ(CountOf(log, "KivLockRecord"), 0);
  EXPECT_EQ(CountOf(log, "KivUnlockRecord"), 0);
  a.tb.Close();
  EXPECT_EQ(Stored(), (std::vector<std::string>{"Ada/12", "Bea/20", "Cy/30", "Dee/0"}));
}

// -- inserting -----------------------------------------------------------------

TEST_F(EditTest, PostingTheSameInsertTwiceAppendsOneRecord) {
  User a(dir.path());
  a.OpenOn("Ada");
  CallRecorder calls;
  a.tb.Append();
  a.tb.FieldByName("NAME")->SetAsString("Dee");
  a.tb.FieldByName("AGE")->SetAsInteger(40);
  // The append succeeds, writing the record fails: the post fails after it.
  KivTestFailCall("KivWriteRecord", KIV_ERR_IO, "disk full", 1);
  EXPECT_EQ(CodeOf([&] { a.tb.Post(); }), KIV_ERR_IO);
  EXPECT_EQ(a.tb.State(), dsInsert);
  a.tb.Post();
  EXPECT_EQ(CountOf(calls.Take(), "KivAppendRecord"), 1);
  EXPECT_EQ(a.tb.FieldByName("NAME")->AsString(), "Dee");
  EXPECT_EQ(a.tb.RecordCount(), 4);
  EXPECT_EQ(Stored(), (std::vector<std::string>{"Ada/10", "Bea/20", "Cy/30", "Dee/40"}));
}

TEST_F(EditTest, APostedInsertLeavesTheNewRecordFreeForOthers) {
  User a(dir.path()), b(dir.path());
  a.OpenOn("Ada");
  a.tb.Insert();
  a.tb.FieldByName("NAME")->SetAsString("Dee");
  a.tb.Post();
  b.OpenOn("Dee");
  b.tb.Edit();
  b.tb.FieldByName("AGE")->SetAsInteger(41);
  b.tb.Post();
  EXPECT_EQ(Stored()[3], "Dee/41");
}

TEST_F(EditTest, CancelledInsertWritesNothingAndReturnsToTheRecord) {
  User a(dir.path());
  a.OpenOn("Bea");
  CallRecorder calls;
  a.tb.Insert();
  a.tb.FieldByName("NAME")->SetAsString("Dee");
  a.tb.Cancel();
  EXPECT_EQ(CountOf(calls.Take(), "KivAppendRecord"), 0);
  EXPECT_EQ(a.tb.FieldByName("NAME")->AsString(), "Bea");
  a.tb.Append();
  a.tb.Cancel();
  EXPECT_EQ(Stored().size(), 3u);
}

// -- which fields are written, and how -------------------------------------------

TEST_F(EditTest, OnlyAssignedFieldsAreWrittenFromTheLastToTheFirst) {
  User a(dir.path());
  a.OpenOn("Ada");
  CallRecorder calls;
  a.tb.Edit();
  a.tb.FieldByName("AGE")->SetAsInteger(15);
  a.tb.Post();
  auto log = calls.Take();
  EXPECT_EQ(CountOf(log, "KivSetFieldRaw"), 1);
  EXPECT_EQ(CountOf(log, "KivSetField"), 0);

  a.tb.Insert();
  a.tb.FieldByName("NAME")->SetAsString("Dee");
  a.tb.FieldByName("AGE")->SetAsInteger(44);
  a.tb.Post();
  log = calls.Take();
  std::vector<std::string> writes;
  for (const std::string& call : log)
    if (call == "KivSetField" || call == "KivSetFieldRaw" || call == "KivSetEmpty") writes.push_back(call);
  EXPECT_EQ(writes, (std::vector<std::string>{"KivSetFieldRaw", "KivSetField"}));  // AGE, then NAME
}

TEST_F(EditTest, ABlanksOnlyCharacterFieldIsWrittenEmptyUnlessSpacesArePreserved) {
  MakeTable("kdtnames", KIV_TABLE_KDT, "NAME,C,6", [](KIVHANDLE t) {
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(KivSetString(t, "NAME", "abc", 3));
    KIV_ASSERT_OK(KivWriteRecord(t));
  });
  MakeTable("dbfnames", KIV_TABLE_CDX, "NAME,C,6", [](KIVHANDLE t) {
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(KivSetString(t, "NAME", "abc", 3));
    KIV_ASSERT_OK(KivWriteRecord(t));
  });
  struct Case {
    const char* table;
    TKivTableTypes type;
    const char* value;
    bool preserve;
    const char* call;
    std::string stored;  // the field's bytes on disk
  };
  const std::string zeros(6, '\0');
  const Case cases[] = {
      // The engine's own tables store an empty text as zeros, blanks as blanks.
      {"kdtnames", ttKivKDT, "   ", false, "KivSetEmpty", zeros},
      {"kdtnames", ttKivKDT, "   ", true, "KivSetField", "      "},
      {"kdtnames", ttKivKDT, "", false, "KivSetEmpty", zeros},
      {"kdtnames", ttKivKDT, " x ", false, "KivSetField", " x    "},
      {"dbfnames", ttKivCDX, "   ", false, "KivSetEmpty", "      "},
      {"dbfnames", ttKivCDX, "   ", true, "KivSetField", "      "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.table) + " '" + c.value + "' preserve " + std::to_string(c.preserve));
    TKivConnection cn(nullptr);
    cn.SetConnectPath(dir.path());
    TKivTable tb(nullptr);
    tb.SetKivConnection(&cn);
    tb.SetTableName(c.table);
    tb.SetTableType(c.type);
    tb.KivTableOptions().SetKivPreserveSpaces(c.preserve);
    tb.Open();
    CallRecorder calls;
    tb.Edit();
    tb.FieldByName("NAME")->SetAsString(c.value);
    tb.Post();
    const auto log = calls.Take();
    EXPECT_EQ(CountOf(log, c.call), 1);
    std::string image(tb.EngineRecordSize(), '\0');
    uint32_t length = tb.EngineRecordSize();
    KIV_EXPECT_OK(KivGetRecord(tb.BaseHandle(), image.data(), &length));
    uint32_t offset = 0;
    KIV_EXPECT_OK(KivGetFieldOffset(tb.BaseHandle(), "NAME", &offset));
    EXPECT_EQ(image.substr(offset, 6), c.stored);
    // Leave the next case the text it started from.
    tb.Edit();
    tb.FieldByName("NAME")->SetAsString("abc");
    tb.Post();
  }
}

// -- permissions -------------------------------------------------------------------

TEST_F(EditTest, MissingTablePermissionsFailBeforeAnyLock) {
  struct Case {
    uint32_t granted;  // besides reading
    bool insert;
    const char* message;
  };
  const Case cases[] = {
      {KIV_OPEN_DRV_INSERT | KIV_OPEN_DRV_DELETE, false, "Update permission not granted on this table."},
      {KIV_OPEN_DRV_UPDATE | KIV_OPEN_DRV_DELETE, true, "Insert permission not granted on this table."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TestTable tb(nullptr, conn, "people");
    tb.openOptions = KIV_OPEN_DRIVER_LAYOUT | KIV_OPEN_DRV_SHARED | KIV_OPEN_DRV_READ | c.granted;
    tb.Open();
    CallRecorder calls;
    const auto act = [&] {
      if (c.insert) tb.Insert();
      else tb.Edit();
    };
    EXPECT_EQ(MessageOf<EKIVDatabaseError>(act), c.message);
    EXPECT_EQ(CodeOf(act), KIV_ERR_PERMISSION);
    EXPECT_EQ(tb.State(), dsBrowse);
    const auto log = calls.Take();
    EXPECT_EQ(CountOf(log, "KivLockRecord"), 0);
    EXPECT_EQ(CountOf(log, "KivAppendRecord"), 0);
  }
  EXPECT_EQ(Stored().size(), 3u);
}

// -- deleting, refreshing, the rest ---------------------------------------------------

TEST_F(EditTest, DeleteRemovesTheRecordAndAFailedDeleteCancelsTheEngineUpdate) {
  User a(dir.path());
  a.OpenOn("Bea");
  {
    CallRecorder calls;
    KivTestFailCall("KivDeleteRecord", KIV_ERR_RECORD_LOCKED, "locked", 1);
    EXPECT_EQ(CodeOf([&] { a.tb.Delete(); }), KIV_ERR_RECORD_LOCKED);
    const auto log = calls.Take();
    EXPECT_EQ(CountOf(log, "KivCancelUpdate"), 1);
    EXPECT_EQ(CountOf(log, "KivWriteRecord"), 0);
  }
  EXPECT_EQ(a.tb.FieldByName("NAME")->AsString(), "Bea");
  a.tb.Delete();
  // Deleted records are hidden: the dataset stands on the next one.
  EXPECT_EQ(a.tb.FieldByName("NAME")->AsString(), "Cy");
  EXPECT_EQ(Stored(), (std::vector<std::string>{"Ada/10", "Cy/30"}));
}

TEST_F(EditTest, RefreshShowsAnotherUsersChange) {
  User a(dir.path()), b(dir.path());
  a.OpenOn("Cy");
  b.OpenOn("Cy");
  b.tb.Edit();
  b.tb.FieldByName("AGE")->SetAsInteger(33);
  b.tb.Post();
  EXPECT_EQ(a.tb.FieldByName("AGE")->AsInteger(), 30);
  a.tb.Refresh();
  EXPECT_EQ(a.tb.FieldByName("AGE")->AsInteger(), 33);
}

TEST_F(EditTest, RefreshOfAnEmptyTableIsQuiet) {
  MakeTable("empty", KIV_TABLE_KDT, "NAME,C,10");
  TestTable tb(nullptr, conn, "empty");
  tb.Open();
  tb.Refresh();
  EXPECT_TRUE(tb.IsEmpty());
}

TEST_F(EditTest, UpdateStatusIsRefused) {
  TestTable tb(nullptr, conn, "people");
  tb.Open();
  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { tb.UpdateStatus(); }),
            "The method UpdateStatus in TKivDataSet is not supported.");
}

}  // namespace
