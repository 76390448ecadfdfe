// The table component over real engine tables, on folder and dictionary
// connections and through connections opened by path.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "checker/kivtable.h"
#include "test_support.h"

using namespace checker;
using namespace checker::testing;
using namespace kivds;

namespace {

// A table that keeps what it hands to the engine's open.
class RecordingTable : public TKivTable {
 public:
  using TKivTable::TKivTable;
  std::vector<TKivOpenTableArguments> opens;

 protected:
  KIVRESULT EngineOpenTable(const TKivOpenTableArguments& args, KIVHANDLE* table) override {
    opens.push_back(args);
    return TKivTable::EngineOpenTable(args, table);
  }
};

std::vector<std::string> Names(TKivDataSet& ds) {
  std::vector<std::string> out;
  for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName("NAME")->AsString());
  return out;
}

class TableTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    cn.SetConnectPath(dir.path());
  }
  // The table can be opened exclusively, so no handle of it was left open.
  void ExpectNotLeftOpen(const char* name) {
    KIVHANDLE t = 0;
    KIV_EXPECT_OK(KivOpenTable(conn, name, nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI, KIV_LOCK_PROPRIETARY,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
    if (t != 0) KivCloseTable(t);
  }
  TKivConnection cn{nullptr};
};

TEST_F(TableTest, OpensByNameOnAFolderConnectionWithItsOptions) {
  MakePeople("people", KIV_TABLE_CDX, {"Ada", "Bea"});
  struct Case {
    bool exclusive, readOnly, connectionReadOnly;
    TIndexCollationMismatchOptions collation;
    uint32_t options;
  };
  const Case cases[] = {
      {false, false, false, icmError, 0},     {true, false, false, icmError, 1},
      {false, true, false, icmError, 2},      {true, true, false, icmError, 3},
      {true, false, true, icmError, 3},       {false, false, true, icmIgnore, 2 + 512},
      {false, false, false, icmReindex, 256},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    cn.SetReadOnly(c.connectionReadOnly);
    RecordingTable tb(nullptr);
    tb.SetKivConnection(&cn);
    tb.SetTableName("people");
    tb.SetTableType(ttKivCDX);
    tb.SetExclusive(c.exclusive);
    tb.SetReadOnly(c.readOnly);
    tb.SetIndexCollationMismatch(c.collation);
    tb.Open();
    ASSERT_EQ(tb.opens.size(), 1u);
    EXPECT_EQ(tb.opens[0].options, c.options);
    EXPECT_EQ(tb.opens[0].path, dir.path() + "\\people");
    EXPECT_EQ(tb.opens[0].tableType, KIV_TABLE_CDX);
    EXPECT_EQ(tb.opens[0].connection, cn.ConnectionHandle());
    // The engine took the exclusive and read-only bits.
    EXPECT_EQ(tb.TableOpenOptions() & (KIV_TOPT_EXCLUSIVE | KIV_TOPT_READ_ONLY), c.options & 3);
    EXPECT_EQ(tb.ReadOnly(), c.readOnly || c.connectionReadOnly);
    EXPECT_EQ(tb.CanModify(), (c.options & 2) == 0);
    EXPECT_EQ(Names(tb), (std::vector<std::string>{"Ada", "Bea"}));
    EXPECT_EQ(MessageOf([&] { tb.SetIndexCollationMismatch(icmError); }),
              "Cannot perform this operation on an open dataset");
    EXPECT_THROW(tb.SetExclusive(false), EDatabaseError);
    EXPECT_THROW(tb.SetTableName("other"), EDatabaseError);
  }
}

TEST_F(TableTest, LockCharacterAndRightsOptionsReachTheEngine) {
  MakePeople("people", KIV_TABLE_CDX, {"Ada"});
  struct Case {
    TKivLockTypes lock;
    TKivCharTypes chars;
    bool rights;
    uint16_t lockType, charType, rightsValue;
  };
  const Case cases[] = {
      {TKivLockTypes::Proprietary, TKivCharTypes::ANSI, true, 1, 1, 1},
      {TKivLockTypes::Compatible, TKivCharTypes::OEM, false, 0, 2, 2},
  };
  for (const Case& c : cases) {
    RecordingTable tb(nullptr);
    tb.SetKivConnection(&cn);
    tb.SetTableName("people");
    tb.SetTableType(ttKivCDX);
    tb.KivTableOptions().SetKivLockType(c.lock);
    tb.KivTableOptions().SetKivCharType(c.chars);
    tb.KivTableOptions().SetKivRightsCheck(c.rights);
    tb.Open();
    ASSERT_EQ(tb.opens.size(), 1u);
    EXPECT_EQ(tb.opens[0].lockType, c.lockType);
    EXPECT_EQ(tb.opens[0].charType, c.charType);
    EXPECT_EQ(tb.opens[0].rights, c.rightsValue);
    uint16_t charType = 0;
    KIV_EXPECT_OK(KivGetTableCharType(tb.BaseHandle(), &charType));
    EXPECT_EQ(charType, c.charType);
  }
}

TEST_F(TableTest, MissingNamesAndPathsAreRefused) {
  TKivTable tb(nullptr);
  EXPECT_EQ(MessageOf([&] { tb.Open(); }), "Missing TableName property");
  tb.SetTableName("people");
  EXPECT_EQ(MessageOf([&] { tb.Open(); }),
            "One of the DatabaseName property or the KivConnection property must have a value.");
  tb.SetDatabaseName(dir.path());
  try {
    tb.Open();
    ADD_FAILURE() << "opened a missing table";
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.EngineErrorCode, KIV_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(e.TableName, "people");
    EXPECT_EQ(e.DatabasePath, dir.path());
  }
  EXPECT_FALSE(tb.Active());
}

TEST_F(TableTest, OnADictionaryNamesAreDictionaryTablesElseFreeTables) {
  MakePeople("people", KIV_TABLE_CDX, {"Ada", "Bea"});
  MakePeople("extra", KIV_TABLE_KDT, {"Cid"});
  const std::string kdd = dir.path() + "/app.kdd";
  KIV_ASSERT_OK(KivDDCreate(kdd.c_str(), "user KIVSYS secret\ntable PEOPLE people.dbf 2\n"));
  TKivConnection dd(nullptr);
  dd.SetConnectPath(kdd);
  dd.SetLoginPrompt(false);
  dd.SetUsername("KIVSYS");
  dd.SetPassword("secret");

  RecordingTable people(nullptr);
  people.SetKivConnection(&dd);
  people.SetTableName("PEOPLE");
  people.Open();  // connects
  ASSERT_EQ(people.opens.size(), 1u);
  EXPECT_EQ(people.opens[0].path, "PEOPLE");
  EXPECT_EQ(people.opens[0].tableType, KIV_TABLE_DEFAULT);
  EXPECT_EQ(people.SourceTableType(), ttKivCDX);  // as the dictionary says
  EXPECT_EQ(Names(people), (std::vector<std::string>{"Ada", "Bea"}));

  RecordingTable extra(nullptr);
  extra.SetKivConnection(&dd);
  extra.SetTableName("extra");
  CallRecorder calls;
  extra.Open();
  ASSERT_EQ(extra.opens.size(), 2u);
  EXPECT_EQ(extra.opens[1].path, dir.path() + "\\extra");
  EXPECT_EQ(extra.opens[1].tableType, KIV_TABLE_KDT);
  EXPECT_EQ(CountOf(calls.Take(), "KivOpenTable"), 2);
  EXPECT_EQ(Names(extra), (std::vector<std::string>{"Cid"}));
}

TEST_F(TableTest, AFailureAfterTheOpenClosesTheTableAgain) {
  MakePeople("people", KIV_TABLE_KDT, {"Ada"});
  {
    SCOPED_TRACE("a missing index file");
    TKivTable tb(nullptr);
    tb.SetKivConnection(&cn);
    tb.SetTableName("people");
    tb.IndexFiles().Add("missing.kdi");
    CallRecorder calls;
    EXPECT_THROW(tb.Open(), EKIVDatabaseError);
    const std::vector<std::string> log = calls.Take();
    EXPECT_EQ(CountOf(log, "KivOpenIndex"), 1);
    EXPECT_EQ(CountOf(log, "KivCloseTable"), 1);
    EXPECT_FALSE(tb.Active());
  }
  ExpectNotLeftOpen("people");
  {
    SCOPED_TRACE("the table type cannot be read");
    TKivTable tb(nullptr);
    tb.SetKivConnection(&cn);
    tb.SetTableName("people");
    KivTestFailCall("KivGetTableType", KIV_ERR_IO, "cannot read", 1);
    EXPECT_THROW(tb.Open(), EKIVDatabaseError);
  }
  ExpectNotLeftOpen("people");
}

TEST_F(TableTest, IndexFilesOpenBelowTheDatabasePath) {
  MakePeople("people", KIV_TABLE_CDX, {"Bea", "Ada"});
  KIVHANDLE t = 0, index = 0;
  KIV_ASSERT_OK(KivOpenTable(conn, "people", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_PROPRIETARY,
                             KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
  KIV_ASSERT_OK(KivCreateIndex(t, "names.cdx", "BYNAME", "NAME", "", "", 0, &index));
  KIV_ASSERT_OK(KivCloseTable(t));
  TKivTable tb(nullptr);
  tb.SetKivConnection(&cn);
  tb.SetTableName("people");
  tb.SetTableType(ttKivCDX);
  tb.IndexFiles().Add("names.cdx");
  tb.Open();
  uint16_t count = 0;
  KIV_EXPECT_OK(KivGetNumIndexes(tb.BaseHandle(), &count));
  EXPECT_EQ(count, 1);
}

TEST_F(TableTest, IndexFilesOpenAndCloseOnAnOpenTableAndANewTableNameDropsThem) {
  MakePeople("people", KIV_TABLE_CDX, {"Bea", "Ada"});
  {
    KIVHANDLE t = 0, index = 0;
    KIV_ASSERT_OK(KivOpenTable(conn, "people", nullptr, KIV_TABLE_CDX, KIV_CHAR_ANSI, KIV_LOCK_PROPRIETARY,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
    KIV_ASSERT_OK(KivCreateIndex(t, "names.cdx", "BYNAME", "NAME", "", "", 0, &index));
    KIV_ASSERT_OK(KivCreateIndex(t, "ages.cdx", "BYAGE", "AGE", "", "", 0, &index));
    KIV_ASSERT_OK(KivCloseTable(t));
  }
  TKivTable tb(nullptr);
  tb.SetKivConnection(&cn);
  tb.SetTableName("people");
  tb.SetTableType(ttKivCDX);
  tb.IndexFiles().Add("names.cdx");  // closed: only listed
  tb.Open();
  uint16_t count = 0;
  KIV_EXPECT_OK(KivGetNumIndexes(tb.BaseHandle(), &count));
  EXPECT_EQ(count, 1);
  {
    CallRecorder calls;
    tb.IndexFiles().Add("ages.cdx");
    const std::vector<std::string> log = calls.Take();
    EXPECT_EQ(CountOf(log, "KivOpenIndex"), 1);
    tb.IndexDefs().Update();
    EXPECT_EQ(tb.IndexDefs().Count(), 2);
    tb.SetIndexName("BYAGE");
    EXPECT_EQ(Names(tb), (std::vector<std::string>{"Bea", "Ada"}));
    calls.Take();
    tb.IndexFiles().Delete(tb.IndexFiles().IndexOf("ages.cdx"));
    EXPECT_EQ(CountOf(calls.Take(), "KivCloseIndex"), 1);
  }
  EXPECT_EQ(tb.IndexName(), "") << "the order's file was closed";
  KIV_EXPECT_OK(KivGetNumIndexes(tb.BaseHandle(), &count));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(tb.IndexFiles().ToVector(), std::vector<std::string>{"names.cdx"});

  EXPECT_EQ(MessageOf<EKIVDatabaseError>([&] { tb.SetTableName("other"); }),
            "Cannot perform this operation on an open dataset");
  try {
    tb.SetTableName("other");
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.EngineErrorCode, 5121u);
  }
  tb.Close();
  tb.SetTableName("people");
  EXPECT_EQ(tb.IndexFiles().Count(), 1) << "the same name keeps its files";
  tb.SetTableName("other");
  EXPECT_EQ(tb.IndexFiles().Count(), 0);
  EXPECT_EQ(tb.TableName(), "other");
}

TEST_F(TableTest, ATableNameTakesTheDictionarysDefaultIndexAndMarksTheIndexDefinitionsOld) {
  MakePeople("people", KIV_TABLE_KDT, {"Dee", "Ada", "Bea"});
  MakePeople("plain", KIV_TABLE_KDT, {"Dee", "Ada"});
  for (const char* name : {"people", "plain"}) {
    KIVHANDLE t = 0, index = 0;
    KIV_ASSERT_OK(KivOpenTable(conn, name, nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, KIV_LOCK_PROPRIETARY,
                               KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
    KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "BYNAME", "NAME", nullptr, nullptr, 0, &index));
    KIV_ASSERT_OK(KivCloseTable(t));
  }
  const std::string kdd = dir.path() + "/app.kdd";
  KIV_ASSERT_OK(KivDDCreate(kdd.c_str(), "table PEOPLE people.kdt\ntable PLAIN plain.kdt\n"
                                         "property PEOPLE 213 BYNAME\n"));
  TKivConnection dictionary(nullptr);
  SetDictionaryLogin(dictionary, kdd);
  dictionary.Connect();
  TKivTable tb(nullptr);
  tb.SetKivConnection(&dictionary);
  tb.SetTableName("PEOPLE");
  EXPECT_EQ(tb.IndexName(), "KIV_DEFAULT");
  EXPECT_EQ(tb.ActiveIndexKind(), 3);
  EXPECT_EQ(tb.DefaultIndexName(), "BYNAME");
  tb.Open();
  EXPECT_EQ(Names(tb), (std::vector<std::string>{"Ada", "Bea", "Dee"}));
  EXPECT_TRUE(tb.IndexDefs().Updated());
  tb.Close();
  tb.SetTableName("PLAIN");  // no default index: the default order goes
  EXPECT_EQ(tb.IndexName(), "");
  EXPECT_EQ(tb.ActiveIndexKind(), 0);
  EXPECT_FALSE(tb.IndexDefs().Updated()) << "the property change marks them old";
  tb.Open();
  EXPECT_EQ(Names(tb), (std::vector<std::string>{"Dee", "Ada"}));
  tb.Close();
  // An order chosen by name stays when the table has a default index.
  tb.SetIndexName("BYNAME");
  tb.SetTableName("PEOPLE");
  EXPECT_EQ(tb.IndexName(), "BYNAME");
  EXPECT_EQ(tb.ActiveIndexKind(), 1);
}

TEST_F(TableTest, AnAutoincrementValueBeyondIntIsARangeError) {
  MakeTable("counted.kdt", KIV_TABLE_KDT, "ID,AUTOINC;NAME,C,10");
  {
    // The table's next autoincrement value is kept in its header.
    std::fstream file(dir.path() + "/counted.kdt", std::ios::in | std::ios::out | std::ios::binary);
    const uint32_t next = 0x7FFFFFFFu;
    file.seekp(16);
    file.write(reinterpret_cast<const char*>(&next), 4);
  }
  TKivTable tb(nullptr);
  tb.SetKivConnection(&cn);
  tb.SetTableName("counted.kdt");
  tb.Open();
  for (const char* name : {"Ada", "Bea"}) {
    tb.Append();
    tb.FieldByName("NAME")->SetAsString(name);
    tb.Post();
  }
  tb.First();
  EXPECT_EQ(tb.FieldByName("ID")->AsString(), "2147483647");
  EXPECT_THROW(tb.GetLastAutoIncValue(), ERangeError) << "2147483648 does not fit";
}

TEST_F(TableTest, DetailLinkFieldsAreTheMasterFieldsAndTheFieldsOfTheChosenIndex) {
  MakeTable("owners", KIV_TABLE_KDT, "NAME,C,10;CITY,C,10");
  MakeTable("pets", KIV_TABLE_KDT, "OWNER,C,10;NAME,C,10", [](KIVHANDLE t) {
    KIVHANDLE index = 0;
    KIV_ASSERT_OK(KivCreateIndex(t, nullptr, "BYOWNER", "OWNER", nullptr, nullptr, 0, &index));
  });
  TKivTable owners(nullptr), pets(nullptr);
  for (auto [tb, name] : {std::pair{&owners, "owners"}, std::pair{&pets, "pets"}}) {
    tb->SetKivConnection(&cn);
    tb->SetTableName(name);
  }
  std::vector<TField*> master, detail;
  pets.GetDetailLinkFields(master, detail);
  EXPECT_TRUE(master.empty() && detail.empty()) << "no master";
  TDataSource source(nullptr);
  source.SetDataSet(&owners);
  owners.Open();
  pets.SetMasterSource(&source);
  pets.SetMasterFields("NAME");
  pets.SetIndexName("BYOWNER");
  pets.Open();
  master.push_back(nullptr);  // the lists are filled anew
  pets.GetDetailLinkFields(master, detail);
  ASSERT_EQ(master.size(), 1u);
  EXPECT_EQ(master[0], owners.FieldByName("NAME"));
  ASSERT_EQ(detail.size(), 1u);
  EXPECT_EQ(detail[0], pets.FieldByName("OWNER"));
}

TEST_F(TableTest, AnEncryptedTableIsReadWithItsPasswordOnly) {
  MakePeople("people", KIV_TABLE_KDT, {"Ada"});
  MakePeople("plain", KIV_TABLE_KDT, {"Bea"});
  KIVHANDLE t = 0;
  KIV_ASSERT_OK(KivOpenTable(conn, "people", nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, KIV_LOCK_PROPRIETARY,
                             KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
  KIV_ASSERT_OK(KivEnableEncryption(t, "hunter2"));
  KIV_ASSERT_OK(KivEncryptTable(t));
  KIV_ASSERT_OK(KivCloseTable(t));

  {
    TKivTable tb(nullptr);
    tb.SetKivConnection(&cn);
    tb.SetTableName("people");
    tb.SetEncryptionPassword("hunter2");
    tb.Open();
    EXPECT_EQ(Names(tb), (std::vector<std::string>{"Ada"}));
  }
  {
    TKivTable tb(nullptr);
    tb.SetKivConnection(&cn);
    tb.SetTableName("people");
    tb.SetEncryptionPassword("wrong");
    EXPECT_THROW(tb.Open(), EKIVDatabaseError);
  }
  ExpectNotLeftOpen("people");
  {
    TKivTable tb(nullptr);
    tb.SetKivConnection(&cn);
    tb.SetTableName("plain");
    tb.SetEncryptionPassword("ignored");
    CallRecorder calls;
    tb.Open();
    EXPECT_EQ(CountOf(calls.Take(), "KivEnableEncryption"), 0);
    EXPECT_EQ(Names(tb), (std::vector<std::string>{"Bea"}));
  }
}

// -- connections opened by path ----------------------------------------------

TEST_F(TableTest, TablesNamingOnePathShareOneConnection) {
  MakePeople("people", KIV_TABLE_KDT, {"Ada"});
  CallRecorder calls;
  TKivTable first(nullptr), second(nullptr);
  first.SetDatabaseName(dir.path());
  second.SetDatabaseName(dir.path() + "/");
  for (TKivTable* tb : {&first, &second}) {
    tb->SetTableName("people");
    tb->Open();
  }
  EXPECT_EQ(CountOf(calls.Take(), "KivConnect"), 1);
  EXPECT_NE(DynamicConnections().FindConnection(dir.path()), 0u);
  EXPECT_EQ(Names(second), (std::vector<std::string>{"Ada"}));
}

class DynamicConnListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir.path() + "/data");
    const char* old = std::getenv("KIV_DRIVE_C");
    saved = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    setenv("KIV_DRIVE_C", dir.path().c_str(), 1);
  }
  void TearDown() override {
    if (saved)
      setenv("KIV_DRIVE_C", saved->c_str(), 1);
    else
      unsetenv("KIV_DRIVE_C");
    KivTestClearFaults();
  }
  TempDir dir;
  std::optional<std::string> saved;
};

TEST_F(DynamicConnListTest, PathsDifferingInCaseShareOneConnectionDisconnectedOnceAtTheEnd) {
  CallRecorder calls;
  std::vector<KIVHANDLE> handles;
  {
    TDynamicConnList list;
    EXPECT_EQ(list.FindConnection("c:\\data"), 0u);
    const KIVHANDLE data = list.AddConnection("c:\\data");
    EXPECT_EQ(list.FindConnection("C:\\DATA"), data);
    EXPECT_EQ(list.FindConnection("c:\\DATA"), data);
    const KIVHANDLE root = list.AddConnection(dir.path());
    EXPECT_NE(root, data);
    EXPECT_EQ(list.Count(), 2u);
    handles = {data, root};
    const std::vector<std::string> log = calls.Take();
    EXPECT_EQ(CountOf(log, "KivConnect"), 2);
  }
  EXPECT_EQ(CountOf(calls.Take(), "KivDisconnect"), 2);
  for (KIVHANDLE h : handles) {
    uint16_t alive = 1;
    KIV_EXPECT_OK(KivIsConnectionAlive(h, &alive));
    EXPECT_EQ(alive, 0);
  }
}

TEST_F(DynamicConnListTest, APathTheEngineRefusesRaisesAndAddsNothing) {
  TDynamicConnList list;
  try {
    list.AddConnection(dir.path() + "/missing");
    ADD_FAILURE() << "connected to a missing folder";
  } catch (const EKIVDatabaseError& e) {
    EXPECT_EQ(e.EngineErrorCode, KIV_ERR_FILE_NOT_FOUND);
  }
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.FindConnection(dir.path() + "/missing"), 0u);
}

TEST_F(DynamicConnListTest, TheEndOfTheListNeverThrowsAndEndsEveryConnection) {
  std::vector<KIVHANDLE> handles;
  {
    TDynamicConnList list;
    handles = {list.AddConnection(dir.path()), list.AddConnection(dir.path() + "/data")};
    KivTestFailCall("KivDisconnect", KIV_ERR_IO, "cannot disconnect", 1);  // the first one fails
  }
  uint16_t alive = 0;
  KIV_EXPECT_OK(KivIsConnectionAlive(handles[1], &alive));
  EXPECT_EQ(alive, 0);
  KIV_EXPECT_OK(KivDisconnect(handles[0]));  // the injected failure left it open
}

}  // namespace
