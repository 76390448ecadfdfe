// How a dataset finds its data: DatabaseName resolution to connections,
// paths and aliases, the table type rules, the version text and the
// operations that need a dictionary or a connection.
#include <thread>

#include "checker/kivcnnct.h"
#include "checker/kivtable.h"
#include "test_support.h"

using namespace checker;
using namespace checker::testing;
using namespace kivds;

namespace {

class SetupTest : public EngineFixture {};

// -- DatabaseName ------------------------------------------------------------

TEST_F(SetupTest, DatabaseNameFindsAConnectionByNameOrOwnerDotName) {
  TComponent form(nullptr);
  form.SetName("frm");
  auto* cn = new TKivConnection(&form);
  cn->SetName("cn");
  cn->SetConnectPath(dir.path() + "/");
  for (const char* name : {"cn", "CN", "frm.cn", "FRM.CN"}) {
    SCOPED_TRACE(name);
    TKivTable tb(nullptr);
    tb.SetDatabaseName(name);
    EXPECT_EQ(tb.KivConnection(), cn);
    EXPECT_EQ(tb.DatabaseName(), name);
    EXPECT_EQ(tb.GetDatabasePath(), dir.path());
    EXPECT_EQ(cn->GetDataSetCount(), 1);
  }
  EXPECT_EQ(cn->GetDataSetCount(), 0);  // each left the list when destroyed
}

TEST_F(SetupTest, DatabaseNamePrefersTheOwnersConnectionOnThisThread) {
  TComponent a(nullptr), b(nullptr), c(nullptr);
  auto named = [](TKivConnection* cn) {
    cn->SetName("db");
    return cn;
  };
  TKivConnection* cThisThread = named(new TKivConnection(&c));
  TKivConnection* bThisThread = named(new TKivConnection(&b));
  TKivConnection* aOtherThread = nullptr;
  std::thread([&] { aOtherThread = named(new TKivConnection(&a)); }).join();

  struct Case {
    TComponent* owner;
    TKivConnection* expected;
  };
  const Case cases[] = {
      {&b, bThisThread},       // same owner and thread
      {&a, cThisThread},       // the thread counts before the owner
      {nullptr, cThisThread},  // the first of this thread
  };
  for (const Case& k : cases) {
    auto* tb = new TKivTable(k.owner);
    tb->SetDatabaseName("DB");
    EXPECT_EQ(tb->KivConnection(), k.expected);
    if (k.owner == nullptr) delete tb;
  }
  EXPECT_EQ(aOtherThread->GetDataSetCount(), 0);
}

TEST_F(SetupTest, DatabasePathDropsOneTrailingSeparator) {
  const std::pair<const char*, const char*> cases[] = {
      {"c:\\data\\", "c:\\data"}, {"/srv/data/", "/srv/data"}, {"/srv/data", "/srv/data"},
      {"\\", "\\"},               {"/", "/"},                   {"", ""},
  };
  for (auto [name, path] : cases) {
    TKivTable tb(nullptr);
    tb.SetDatabaseName(name);
    EXPECT_EQ(tb.GetDatabasePath(), path) << name;
    EXPECT_EQ(tb.KivConnection(), nullptr);
  }
}

class AliasTest : public SetupTest {
 protected:
  void SetUp() override {
    SetupTest::SetUp();
    WriteTextFile(dir.path() + "/kiv.ini", "[Databases]\nNTXDB=" + dir.path() + "/;N\nCDXDB=" + dir.path() +
                                               ";c\nKDTDB=" + dir.path() + "\nODD=" + dir.path() + ";k\n");
    here = std::make_unique<InFolder>(dir.path());
  }
  void TearDown() override {
    here.reset();
    SetupTest::TearDown();
  }
  std::unique_ptr<InFolder> here;
};

TEST_F(AliasTest, AnAliasGivesThePathAndFixesTheTableType) {
  struct Case {
    const char* alias;
    TKivTableTypes type;
    TKivTableTypes refused;
  };
  const Case cases[] = {
      {"NTXDB", ttKivNTX, ttKivKDT}, {"ntxdb", ttKivNTX, ttKivCDX}, {"CDXDB", ttKivCDX, ttKivNTX},
      {"KDTDB", ttKivKDT, ttKivCDX}, {"ODD", ttKivKDT, ttKivNTX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.alias);
    TKivTable tb(nullptr);
    tb.SetDatabaseName(c.alias);
    EXPECT_EQ(tb.SourceTableType(), c.type);
    EXPECT_EQ(tb.GetDatabasePath(), dir.path());
    EXPECT_EQ(MessageOf([&] { tb.SetSourceTableType(c.refused); }),
              "The table type must remain identical to the table type associated with the alias.");
    tb.SetSourceTableType(c.type);
    EXPECT_EQ(tb.SourceTableType(), c.type);
  }
}

TEST_F(AliasTest, AnUnknownNameIsTakenAsAPath) {
  TKivTable tb(nullptr);
  tb.SetDatabaseName("nosuchalias");
  EXPECT_EQ(tb.GetDatabasePath(), "nosuchalias");
  tb.SetSourceTableType(ttKivCDX);
  EXPECT_EQ(tb.SourceTableType(), ttKivCDX);
}

TEST_F(AliasTest, ATableOfAnNtxAliasOpensAsNtx) {
  MakePeople("people", KIV_TABLE_NTX, {"Ada", "Bea"});
  TKivTable tb(nullptr);
  tb.SetDatabaseName("NTXDB");
  tb.SetTableName("people");
  tb.Open();
  EXPECT_EQ(tb.EngineTableType(), KIV_TABLE_NTX);
  EXPECT_EQ(tb.RecordCount(), 2);
}

TEST_F(AliasTest, TheConnectionsAliasDecidesTheTypeOfItsDatasets) {
  TKivConnection cn(nullptr);
  cn.SetAliasName("CDXDB");
  TKivTable tb(nullptr);
  tb.SetKivConnection(&cn);
  EXPECT_EQ(tb.GetDatabasePath(), dir.path());
  EXPECT_EQ(tb.SourceTableType(), ttKivCDX);
  EXPECT_EQ(MessageOf([&] { tb.SetSourceTableType(ttKivKDT); }),
            "The table type must remain identical to the table type associated with the alias.");
}

// -- the link to a connection ------------------------------------------------

TEST_F(SetupTest, ADatasetMovesBetweenConnectionsOnlyWhileClosed) {
  MakePeople("people", KIV_TABLE_KDT, {"Ada"});
  TKivConnection first(nullptr), second(nullptr);
  first.SetConnectPath(dir.path());
  second.SetConnectPath(dir.path());
  TKivTable tb(nullptr);
  tb.SetTableName("people");
  tb.SetKivConnection(&first);
  tb.SetKivConnection(&second);
  EXPECT_EQ(first.GetDataSetCount(), 0);
  ASSERT_EQ(second.GetDataSetCount(), 1);
  EXPECT_EQ(second.GetDataSet(0), &tb);
  tb.Open();
  EXPECT_TRUE(second.IsConnected());  // opening connects
  EXPECT_EQ(MessageOf([&] { tb.SetKivConnection(&first); }), "Table must not be Active.");
  EXPECT_EQ(MessageOf([&] { tb.SetDatabaseName("x"); }), "Cannot perform this operation on an open dataset");
  EXPECT_EQ(tb.KivConnection(), &second);
  tb.Close();
  tb.SetKivConnection(nullptr);
  EXPECT_EQ(second.GetDataSetCount(), 0);
}

// -- other operations --------------------------------------------------------

TEST(VersionText, FormatsTheEngineVersion) {
  struct Case {
    uint16_t major, minor;
    char letter;
    const char* text;
  };
  const Case cases[] = {
      {8, 1, 'a', "8.10 (QEL 8.01a)"}, {8, 10, ' ', "8.10 (QEL 8.10)"}, {9, 0, '\0', "8.10 (QEL 9.00)"},
      {7, 9, 'b', "8.10 (QEL 7.09b)"}, {10, 12, 'c', "8.10 (QEL 10.12c)"},
  };
  for (const Case& c : cases) EXPECT_EQ(KivVersionText(c.major, c.minor, c.letter), c.text);
  TKivTable tb(nullptr);
  EXPECT_EQ(tb.Version(), "8.10 (QEL 8.10)");  // what this engine reports
}

TEST_F(SetupTest, RenameTableWorksOnDictionaryTablesOnly) {
  MakePeople("people", KIV_TABLE_KDT, {"Ada"});
  const std::string kdd = dir.path() + "/app.kdd";
  KIV_ASSERT_OK(KivDDCreate(kdd.c_str(), "table PEOPLE people.kdt\n"));

  TKivConnection folder(nullptr);
  folder.SetConnectPath(dir.path());
  TKivTable free(nullptr);
  free.SetKivConnection(&folder);
  free.SetTableName("people");
  EXPECT_EQ(MessageOf([&] { free.RenameTable("persons"); }),
            "The method RenameTable in TKivDataSet is not supported on free tables.");
  EXPECT_EQ(MessageOf([&] { free.BatchMove(nullptr, 0); }), "The method BatchMove in TKivDataSet is not supported.");

  TKivConnection dictionary(nullptr);
  SetDictionaryLogin(dictionary, kdd);
  dictionary.Connect();
  TKivTable tb(nullptr);
  tb.SetKivConnection(&dictionary);
  tb.SetTableName("PEOPLE");
  tb.RenameTable("PERSONS");
  EXPECT_EQ(tb.TableName(), "PERSONS");
  tb.Open();
  EXPECT_EQ(tb.RecordCount(), 1);
}

TEST(ProviderSupport, StatementsNeedAConnectionAndTableNamesLoseTheirExtension) {
  TKivTable tb(nullptr);
  EXPECT_EQ(MessageOf([&] { tb.PSExecuteStatement("select 1", nullptr, nullptr); }),
            "A TKivConnection component is required for TClientDataSet/IProvider support. Use either the "
            "KivConnection  property or the Database property to specify a TKivConnection instance.");
  EXPECT_TRUE(tb.PSIsSQLBased());
  EXPECT_EQ(tb.PSGetQuoteChar(), "\"");
  const std::pair<const char*, const char*> names[] = {
      {"people.dbf", "people"}, {"x.kdt", "x"}, {"a.b", "a.b"}, {"people", "people"}, {"my.people", "my.people"},
  };
  for (auto [name, shown] : names) {
    tb.PSSetCommandText(name);
    EXPECT_EQ(tb.PSGetTableName(), shown) << name;
  }
  tb.PSSetCommandText("");
  EXPECT_EQ(tb.TableName(), "my.people");  // an empty command text changes nothing
}

}  // namespace
