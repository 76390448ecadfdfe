// Catalog calls, engine tables and the semantic pass against real engine
// tables in the test data directory.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "driver_fixture.h"
#include "data/enginetable.h"
#include "results/fetch.h"
#include "handles/messages.h"
#include "sql/parser.h"
#include "sql/scanner.h"
#include "sql/semantic.h"

namespace kivodbc::testing {
namespace {

const SQLCHAR* S(const char* text) { return reinterpret_cast<const SQLCHAR*>(text); }

class CatalogTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    std::filesystem::remove_all(DataDirectory());
    std::filesystem::create_directories(DataDirectory());
    KIVHANDLE engine = 0;
    ASSERT_EQ(KivConnect(DataDirectory().c_str(), &engine), 0u);
    KIVHANDLE table = 0;
    ASSERT_EQ(KivCreateTable(engine, "items", nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, 0, KIV_RIGHTS_NO_CHECK, 0,
                             "ID,AUTOINC;NAME,CHAR,20;AMOUNT,NUMERIC,10,2;BORN,DATE;NOTE,MEMO;QTY,INTEGER;"
                             "T,TIMESTAMP;FLAG,LOGICAL;SMALL,SHORTINT;PRICE,MONEY;RATE,DOUBLE;AT,TIME",
                             &table),
              0u);
    KIVHANDLE index = 0;
    ASSERT_EQ(KivCreateIndex(table, nullptr, "BYID", "ID", nullptr, nullptr, KIV_INDEX_UNIQUE, &index), 0u);
    ASSERT_EQ(KivCreateIndex(table, nullptr, "BYNAME", "NAME", nullptr, nullptr, 0, &index), 0u);
    ASSERT_EQ(KivCloseTable(table), 0u);
    for (const char* name : {"orders", "a_b", "axb"}) {
      ASSERT_EQ(KivCreateTable(engine, name, nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, 0, KIV_RIGHTS_NO_CHECK, 0,
                               "CODE,CHAR,10", &table),
                0u);
      ASSERT_EQ(KivCloseTable(table), 0u);
    }
    ASSERT_EQ(KivDisconnect(engine), 0u);
    conn_ = ConnectedBy("DSN=KivData");
    stmt_ = NewStatement(conn_);
  }
  // The data directory is shared with other tests: leave it empty.
  void TearDown() override {
    DriverTest::TearDown();
    std::filesystem::remove_all(DataDirectory());
    std::filesystem::create_directories(DataDirectory());
  }
  StmtRecord* Stmt() const { return AsStmt(stmt_); }
  EngineSession* Session() const { return AsConn(conn_)->session; }
  std::vector<std::string> WalkTables() {
    std::vector<std::string> names;
    auto* request = static_cast<CatalogRequest*>(Stmt()->catalogRequest);
    char table[256];
    char qualifier[256];
    while (request != nullptr && NextCatalogTable(request, table, qualifier) == 0) names.push_back(table);
    return names;
  }

  SQLHDBC conn_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
};

// firstPattern: "" when the call leaves the first pattern field alone, null
// for the column pattern cut to 128 characters.
struct CallCase {
  const char* what;
  std::function<SQLRETURN(SQLHSTMT)> call;
  SQLRETURN rc;
  uint16_t code;
  int32_t kind;
  int32_t subKind;
  const char* firstPattern;
};

TEST_F(CatalogTest, ImmediateChecksAndStoredRequests) {
  const std::string longName(300, 'n');
  const std::vector<CallCase> cases = {
      {"owner dbo", [](SQLHSTMT s) { return Tables(s, nullptr, 0, S("dbo"), SQL_NTS, S("%"), SQL_NTS, nullptr, 0); },
       SQL_ERROR, kFeatureNotImplemented, 0, 0, ""},
      {"owner %", [](SQLHSTMT s) { return Tables(s, nullptr, 0, S("%"), SQL_NTS, S("item%"), SQL_NTS, nullptr, 0); },
       SQL_SUCCESS, 0, kKindTables, kSubKindTableList, "item%"},
      {"table types", [](SQLHSTMT s) { return Tables(s, S(""), 0, S(""), 0, S(""), 0, S("%"), SQL_NTS); },
       SQL_SUCCESS, 0, kKindTables, kSubKindTableTypes, ""},
      {"other type ignored",
       [](SQLHSTMT s) { return Tables(s, S(""), 0, S(""), 0, S(""), 0, S("TABLE"), SQL_NTS); }, SQL_SUCCESS, 0,
       kKindTables, kSubKindTableList, "%"},
      {"length and blanks",
       [](SQLHSTMT s) { return Tables(s, nullptr, 0, nullptr, 0, S("ITEMS   xyz"), 8, nullptr, 0); }, SQL_SUCCESS,
       0, kKindTables, kSubKindTableList, "ITEMS"},
      {"cut to 255",
       [&](SQLHSTMT s) { return Columns(s, nullptr, 0, nullptr, 0, nullptr, 0, S(longName.c_str()), SQL_NTS); },
       SQL_SUCCESS, 0, kKindColumns, 0, nullptr},
      {"special type 3",
       [](SQLHSTMT s) { return SpecialColumns(s, 3, nullptr, 0, nullptr, 0, S("items"), SQL_NTS, 0, 0); },
       SQL_ERROR, kNotSupported, 0, 0, ""},
      {"special row version",
       [](SQLHSTMT s) { return SpecialColumns(s, SQL_ROWVER, nullptr, 0, nullptr, 0, S("items"), SQL_NTS, 0, 0); },
       SQL_SUCCESS, 0, kKindSpecialColumns, SQL_ROWVER, "items"},
      {"column privileges without table",
       [](SQLHSTMT s) { return ColumnPrivileges(s, nullptr, 0, nullptr, 0, S("  "), SQL_NTS, nullptr, 0); },
       SQL_ERROR, 0, 0, 0, ""},
      {"column privileges of a missing table",
       [](SQLHSTMT s) { return ColumnPrivileges(s, nullptr, 0, nullptr, 0, S("nosuch"), SQL_NTS, nullptr, 0); },
       SQL_ERROR, KIV_ERR_FILE_NOT_FOUND, 0, 0, "nosuch"},
      {"statistics of a missing table",
       [](SQLHSTMT s) { return Statistics(s, nullptr, 0, nullptr, 0, S("nosuch"), SQL_NTS, SQL_INDEX_ALL, 0); },
       SQL_SUCCESS, 0, kKindStatistics, kSubKindAllIndexes, "nosuch"},
      {"both key tables",
       [](SQLHSTMT s) {
         return ForeignKeys(s, nullptr, 0, nullptr, 0, S("items"), SQL_NTS, nullptr, 0, nullptr, 0, S("orders"),
                            SQL_NTS);
       },
       SQL_SUCCESS, 0, kKindForeignKeys, kSubKindBothKeyTables, ""},
      {"primary key table only",
       [](SQLHSTMT s) {
         return ForeignKeys(s, nullptr, 0, nullptr, 0, S("items"), SQL_NTS, nullptr, 0, nullptr, 0, nullptr, 0);
       },
       SQL_SUCCESS, 0, kKindForeignKeys, kSubKindPrimaryKeyTable, ""},
      {"foreign key table only",
       [](SQLHSTMT s) {
         return ForeignKeys(s, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, S("orders"), SQL_NTS);
       },
       SQL_SUCCESS, 0, kKindForeignKeys, kSubKindForeignKeyTable, ""},
      {"procedures", [](SQLHSTMT s) { return Procedures(s, nullptr, 0, nullptr, 0, nullptr, 0); }, SQL_SUCCESS, 0,
       kKindProcedures, 0, "%"},
      {"procedure columns",
       [](SQLHSTMT s) { return ProcedureColumns(s, nullptr, 0, nullptr, 0, S("sp%"), SQL_NTS, S("@a"), SQL_NTS); },
       SQL_SUCCESS, 0, kKindProcedureColumns, 0, "@a"},
      {"table privileges", [](SQLHSTMT s) { return TablePrivileges(s, nullptr, 0, nullptr, 0, S("o%"), SQL_NTS); },
       SQL_SUCCESS, 0, kKindTablePrivileges, 0, ""},
  };
  for (const CallCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(stmt_), c.rc);
    EXPECT_EQ(Stmt()->code, c.code);
    EXPECT_EQ(Stmt()->kind, c.kind);
    if (c.firstPattern == nullptr) {
      EXPECT_EQ(std::string(Stmt()->patterns[0]), std::string(128, 'n'));
    } else if (c.firstPattern[0] != 0) {
      EXPECT_STREQ(Stmt()->patterns[0], c.firstPattern);
    }
    if (c.rc == SQL_SUCCESS) {
      EXPECT_EQ(Stmt()->catalogSubKind, c.subKind);
      EXPECT_EQ(Stmt()->catalogRow, -1);
      // A second catalog call on the open result is refused and changes nothing.
      EXPECT_EQ(Procedures(stmt_, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
      EXPECT_EQ(Stmt()->code, kInvalidCursorState);
      EXPECT_EQ(Stmt()->kind, c.kind);
    }
    ASSERT_EQ(FreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
    EXPECT_EQ(Stmt()->catalogRequest, nullptr);
    EXPECT_EQ(Stmt()->engineTable, nullptr);
  }
}

TEST_F(CatalogTest, TableWalksMatchNamePatterns) {
  struct Walk {
    const char* pattern;
    std::vector<std::string> tables;
  };
  const std::vector<Walk> walks = {
      {"%", {"a_b", "axb", "items", "orders"}},
      {"ITEM%", {"items"}},
      {"a_b", {"a_b", "axb"}},
      {"a\\_b", {"a_b"}},  // the walk's escape character is the backslash
      {"items.kdt", {"items.kdt"}},
      {"items.dbf", {}},
      {"%s", {"items", "orders"}},
  };
  for (const Walk& w : walks) {
    ASSERT_EQ(Tables(stmt_, nullptr, 0, nullptr, 0, S(w.pattern), SQL_NTS, nullptr, 0), SQL_SUCCESS) << w.pattern;
    std::vector<std::string> found = WalkTables();
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, w.tables) << w.pattern;
    FreeStmt(stmt_, SQL_CLOSE);
  }
  // With the metadata-id flag names are identifiers: A_B is only A_B.
  ASSERT_EQ(SetStmtAttr(stmt_, SQL_ATTR_METADATA_ID, reinterpret_cast<SQLPOINTER>(SQL_TRUE), 0), SQL_SUCCESS);
  ASSERT_EQ(Columns(stmt_, nullptr, 0, nullptr, 0, S("a_b"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(WalkTables(), std::vector<std::string>{"a_b"});
  EXPECT_STREQ(Stmt()->patterns[0], "");  // an empty identifier stays empty
}

TEST_F(CatalogTest, StatisticsOpenAndDescribeTheTable) {
  ASSERT_EQ(Statistics(stmt_, nullptr, 0, nullptr, 0, S("items"), SQL_NTS, SQL_INDEX_ALL, 0), SQL_SUCCESS);
  const EngineTable* table = Stmt()->engineTable;
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(Stmt()->cursorRowCount, 3);  // the table row and one per index field
  struct Expected {
    const char* name;
    int16_t sqlType;
    int32_t size;
    int16_t digits;
    int16_t nullable;
    int16_t weight;
    uint8_t indexFlag;
  };
  const Expected expected[] = {
      {"ID", SQL_INTEGER, 10, 0, 0, 100, kFirstOfUniqueKey},
      {"NAME", SQL_CHAR, 20, 0, 1, 99, kKeyField},
      {"AMOUNT", SQL_NUMERIC, 8, 2, 1, 30, kNotIndexed},
      {"BORN", SQL_DATE, 10, 0, 1, 15, kNotIndexed},
      {"NOTE", SQL_LONGVARCHAR, 2147483640, 0, 1, 0, kNotIndexed},
      {"QTY", SQL_INTEGER, 10, 0, 1, 30, kNotIndexed},
      {"T", SQL_TIMESTAMP, 23, 0, 1, 40, kNotIndexed},
      {"FLAG", SQL_BIT, 1, 0, 1, 2, kNotIndexed},
      {"SMALL", SQL_SMALLINT, 5, 0, 1, 15, kNotIndexed},
      {"PRICE", SQL_NUMERIC, 19, 4, 1, 40, kNotIndexed},
      {"RATE", SQL_DOUBLE, 15, 0, 1, 45, kNotIndexed},
      {"AT", SQL_TIME, 8, 0, 1, 25, kNotIndexed},
  };
  ASSERT_EQ(table->columns.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const EngineColumn& c = table->columns[i];
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(c.name, expected[i].name);
    EXPECT_EQ(c.sqlType, expected[i].sqlType);
    EXPECT_EQ(c.columnSize, expected[i].size);
    EXPECT_EQ(c.digits, expected[i].digits);
    EXPECT_EQ(c.nullable, expected[i].nullable);
    EXPECT_EQ(c.weight, expected[i].weight);
    EXPECT_EQ(c.indexFlag, expected[i].indexFlag);
  }
  FreeStmt(stmt_, SQL_CLOSE);
  ASSERT_EQ(Statistics(stmt_, nullptr, 0, nullptr, 0, S("items"), SQL_NTS, SQL_INDEX_UNIQUE, 0), SQL_SUCCESS);
  EXPECT_EQ(Stmt()->cursorRowCount, 2);
  EXPECT_EQ(Stmt()->catalogSubKind, kSubKindUniqueIndexes);
}

TEST(EngineFields, DescribedAsOdbcColumns) {
  struct Case {
    uint16_t type;
    uint32_t length;
    uint16_t decimals;
    bool own;
    int16_t sqlType;
    int32_t size;
    int16_t nullable;
    int16_t weight;
  };
  const Case cases[] = {
      {KIV_FT_NUMERIC, 10, 2, false, SQL_NUMERIC, 9, 1, 60},
      {KIV_FT_NUMERIC, 10, 0, false, SQL_NUMERIC, 10, 1, 60},
      {KIV_FT_NUMERIC, 1, 0, false, SQL_NUMERIC, 1, 1, 0},
      {KIV_FT_NUMERIC, 30, 0, false, SQL_NUMERIC, 30, 1, 99},
      {KIV_FT_CHARACTER, 40, 0, false, SQL_CHAR, 40, 1, 99},
      {KIV_FT_VARCHAR, 10, 0, false, SQL_VARCHAR, 10, 1, 24},
      {KIV_FT_VARCHAR, 30, 0, false, SQL_VARCHAR, 30, 1, 99},
      {KIV_FT_MEMO, 10, 0, false, SQL_LONGVARCHAR, 2147483640, 1, 0},
      {KIV_FT_INTEGER, 4, 0, false, SQL_INTEGER, 10, 0, 60},
      {KIV_FT_INTEGER, 4, 0, true, SQL_INTEGER, 10, 1, 60},
      {KIV_FT_AUTOINC, 4, 0, true, SQL_INTEGER, 10, 0, 100},
      {KIV_FT_RAW, 16, 0, false, SQL_BINARY, 16, 1, 0},
      {KIV_FT_PICTURE, 10, 0, false, SQL_LONGVARBINARY, 2147483647, 1, 0},
      {KIV_FT_ROWVERSION, 8, 0, false, SQL_NUMERIC, 19, 1, 100},
  };
  for (const Case& c : cases) {
    EngineColumn column;
    ASSERT_EQ(DescribeEngineField(c.type, c.length, c.decimals, c.own, false, &column), 0u) << c.type;
    EXPECT_EQ(column.sqlType, c.sqlType) << c.type;
    EXPECT_EQ(column.columnSize, c.size) << c.type;
    EXPECT_EQ(column.nullable, c.nullable) << c.type;
    EXPECT_EQ(column.weight, c.weight) << c.type << "/" << c.length;
  }
  EngineColumn column;
  EXPECT_EQ(DescribeEngineField(KIV_FT_VARCHAR, 10, 0, false, true, &column), 0u);
  EXPECT_EQ(column.columnSize, 64000);
  EXPECT_EQ(DescribeEngineField(19, 4, 0, false, false, &column), 2004u);
}

TEST(EngineTablePaths, FreeConnectionNamesBecomePaths) {
  struct Case {
    const char* directory;
    const char* name;
    uint32_t code;
    const char* path;
  };
  const Case cases[] = {
      {"/data/shop", "items", 0, "/data/shop/items.kdt"},
      {"/data/shop", "items.dbf", 0, "/data/shop/items.dbf"},
      {"/data/shop/", "sub\\items", 0, "/data/shop/sub/items.kdt"},
      {"/data/shop", "../old/items", 0, "/data/old/items.kdt"},
      {"/data/shop", "../../items", 0, "/items.kdt"},
      {"/data/shop", "../../../items", 2015, ""},
      {"/data/shop", "..", 2015, ""},
      {"/data/shop", "/abs/items", 0, "/abs/items.kdt"},
      {"/data/shop", "c:\\abs\\items", 0, "c:/abs/items.kdt"},
  };
  for (const Case& c : cases) {
    std::string path;
    EXPECT_EQ(FreeTablePath(c.directory, c.name, ".kdt", &path), c.code) << c.name;
    EXPECT_EQ(path, c.path) << c.name;
  }
  std::string path;
  EXPECT_EQ(FreeTablePath("/data", std::string(250, 'x'), ".kdt", &path), 2009u);
}

TEST_F(CatalogTest, OpenRefusals) {
  EngineTable* table = nullptr;
  EXPECT_EQ(OpenEngineTable(Session(), "far", "items", kLockRead, false, nullptr, &table), KIV_ERR_NO_RELATIVE_POS);
  EXPECT_EQ(table, nullptr);
  uint32_t code = 0;
  char text[200] = {};
  uint32_t length = sizeof text;
  KivGetLastError(&code, text, &length);
  EXPECT_STREQ(text, "far - link object is not supported on free connection.");
  // The connect path as qualifier counts as none.
  ASSERT_EQ(OpenEngineTable(Session(), Session()->connectPath, "items", kLockRead, false, nullptr, &table), 0u);
  EXPECT_EQ(CloseEngineTable(Session(), table), 0u);
  EXPECT_EQ(OpenEngineTable(Session(), "", "items", 6, false, nullptr, &table), KIV_ERR_BAD_LOCK_MODE);
  EXPECT_EQ(OpenEngineTable(Session(), "", std::string(256, 't').c_str(), 0, false, nullptr, &table), 2009u);
  EXPECT_EQ(OpenEngineTable(Session(), "", "../../../../../../../../../../../x", 0, false, nullptr, &table), 2015u);

  // An encrypted table needs its password.
  KIVHANDLE engine = 0;
  ASSERT_EQ(KivConnect(DataDirectory().c_str(), &engine), 0u);
  KIVHANDLE raw = 0;
  ASSERT_EQ(KivOpenTable(engine, "orders", nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, 0, KIV_RIGHTS_NO_CHECK,
                         KIV_OPEN_EXCLUSIVE, &raw),
            0u);
  ASSERT_EQ(KivEnableEncryption(raw, "secret"), 0u);
  ASSERT_EQ(KivEncryptTable(raw), 0u);
  ASSERT_EQ(KivCloseTable(raw), 0u);
  ASSERT_EQ(KivDisconnect(engine), 0u);
  EXPECT_EQ(OpenEngineTable(Session(), "", "orders", kLockRead, false, nullptr, &table), KIV_ERR_PASSWORD_REQUIRED);
  length = sizeof text;
  KivGetLastError(&code, text, &length);
  EXPECT_STREQ(text, "Password is required to open encrypted table!");
}

TEST(PseudoTableNames, CarryTheWholeCursorId) {
  const std::vector<EngineColumn> columns(1);
  const uintptr_t id = static_cast<uintptr_t>(0xFFFF80001234ABCDull);
  const DriverResult result{id, &columns};
  const std::string name = PseudoTableName(id);
  EXPECT_EQ(name, "ffff80001234abcd");
  EXPECT_TRUE(NamesDriverResult(name.c_str(), result));
  EXPECT_TRUE(NamesDriverResult("FFFF80001234ABCD", result));
  EXPECT_FALSE(NamesDriverResult("1234abcd", result)) << "the low 32 bits alone name nothing";
  EXPECT_FALSE(NamesDriverResult("ffff80001234abcdx", result));
  EXPECT_FALSE(NamesDriverResult("0ffff80001234abcd", result)) << "longer than an id";
  EXPECT_FALSE(NamesDriverResult("", result));
}

struct SemanticOutcome {
  uint32_t code = 0;
  std::string argument;
  std::string tree;
};

class SemanticTest : public CatalogTest {
 protected:
  SemanticOutcome Check(const std::string& text, const DriverResult* result = nullptr) {
    SemanticOutcome out;
    out.code = ParseStatementText(Stmt(), text.c_str(), SQL_NTS);
    if (out.code == 0) {
      out.code = CheckParsedStatement(Stmt(), Stmt()->parseTree, Stmt()->parseTree->statement, false, result);
      out.tree = DumpParseTree(Stmt()->parseTree->statement);
    }
    out.argument = Stmt()->argument;
    return out;
  }
  // category/precision/scale of each select item.
  std::vector<std::string> Columns() {
    std::vector<std::string> out;
    const auto* ext = static_cast<const SelectExtension*>(Stmt()->parseTree->statement->extension);
    for (const ParseNode* item = ext->items; item != nullptr; item = item->next)
      out.push_back(std::string(item->left->name != nullptr ? item->left->name : "?") + ":" + std::to_string(item->left->category) + "/" +
                    std::to_string(item->left->resolvedPrecision) + "/" + std::to_string(item->left->resolvedScale));
    return out;
  }
};

TEST_F(SemanticTest, ResolvesColumnsOfARealTable) {
  ASSERT_EQ(Check("select * from items").code, 0u) << Stmt()->argument;
  EXPECT_EQ(Columns(), (std::vector<std::string>{"ID:4/10/0", "NAME:1/20/0", "AMOUNT:2/8/2", "BORN:9/10/0",
                                                 "NOTE:1/2147483640/0", "QTY:4/10/0", "T:11/23/3", "FLAG:4/1/0",
                                                 "SMALL:4/5/0", "PRICE:2/19/4", "RATE:8/15/-1", "AT:10/8/0"}));
  ASSERT_EQ(Check("select x.name, ?, qty, x.* from items x").code, 0u) << Stmt()->argument;
  const std::vector<std::string> columns = Columns();
  ASSERT_EQ(columns.size(), 15u);
  EXPECT_EQ(columns[0], "name:1/20/0");
  EXPECT_EQ(columns[3], "ID:4/10/0");
  const auto* ext = static_cast<const SelectExtension*>(Stmt()->parseTree->statement->extension);
  EXPECT_STREQ(ext->items->left->qualifier, "x");
  EXPECT_EQ(ext->items->left->columnIndex, 1);
}

TEST_F(SemanticTest, RefusesWhatItCannotResolve) {
  struct Case {
    const char* text;
    uint32_t code;
    const char* argument;
  };
  const Case cases[] = {
      {"select z.* from items x", 2122, "z"},
      {"select z.name from items x", 2122, "z"},
      {"select q from items", 2121, "q"},
      {"select * from items, orders", kInternalError, ""},
      {"select name + 1 from items", kInternalError, ""},
      {"select count(*) from items", kInternalError, ""},
      {"SQL", kExpectedNotFound, "CREATE, DROP, SELECT, INSERT, UPDATE, or DELETE"},
  };
  for (const Case& c : cases) {
    const SemanticOutcome out = Check(c.text);
    EXPECT_EQ(out.code, c.code) << c.text;
    EXPECT_EQ(out.argument, c.argument) << c.text;
  }
  const std::string longName(256, 'n');
  EXPECT_EQ(Check("select * from " + longName).code, 2125u);
  EXPECT_EQ(Check("select * from nosuch").code, KIV_ERR_FILE_NOT_FOUND);
  EXPECT_NE(std::string(Stmt()->engineText).find(" Table name: nosuch"), std::string::npos) << Stmt()->engineText;
}

TEST_F(SemanticTest, OpensTheStatementsOwnResultCursor) {
  std::vector<EngineColumn> columns(2);
  DescribeEngineField(KIV_FT_CHARACTER, 10, 0, false, false, &columns[0]);
  columns[0].name = "A";
  DescribeEngineField(KIV_FT_INTEGER, 4, 0, false, false, &columns[1]);
  columns[1].name = "B";
  int cursor = 0;  // stands for the driver's cursor record
  const DriverResult result{reinterpret_cast<uintptr_t>(&cursor), &columns};
  ASSERT_EQ(Check("SELECT * FROM \"" + PseudoTableName(result.id) + "\"", &result).code, 0u) << Stmt()->argument;
  EXPECT_EQ(Columns(), (std::vector<std::string>{"A:1/10/0", "B:4/10/0"}));
  // Another statement's cursor id is no table of this one.
  EXPECT_NE(Check("SELECT * FROM \"" + PseudoTableName(result.id + 8) + "\"", &result).code, 0u);
}

// The rows of a catalog result read through the driver's own fetch, each as
// its columns' texts joined with '|'.
std::vector<std::string> FetchedRows(SQLHSTMT stmt, std::initializer_list<SQLUSMALLINT> columns) {
  std::vector<std::string> rows;
  SQLRETURN rc;
  while ((rc = Fetch(stmt)) == SQL_SUCCESS) {
    std::string row;
    for (SQLUSMALLINT column : columns) {
      char value[300] = {};
      SQLLEN indicator = 0;
      EXPECT_EQ(GetData(stmt, column, SQL_C_CHAR, value, sizeof value, &indicator), SQL_SUCCESS) << column;
      row += (row.empty() ? "" : "|") + (indicator == SQL_NULL_DATA ? std::string("<null>") : std::string(value));
    }
    rows.push_back(row);
  }
  EXPECT_EQ(rc, SQL_NO_DATA);
  return rows;
}

TEST_F(CatalogTest, ColumnPrivilegesGiveOneRowPerPrivilegeOfEachMatchingColumn) {
  ASSERT_EQ(ColumnPrivileges(stmt_, nullptr, 0, nullptr, 0, S("items"), SQL_NTS, S("%D"), SQL_NTS), SQL_SUCCESS);
  const std::vector<std::string> rows = FetchedRows(stmt_, {3, 4, 5, 7, 8});
  ASSERT_FALSE(rows.empty());
  for (const std::string& row : rows) {
    EXPECT_EQ(row.rfind("items|ID|KIVSYS|", 0), 0u) << row;
    EXPECT_TRUE(row.find("|SELECT|") != std::string::npos || row.find("|INSERT|") != std::string::npos ||
                row.find("|UPDATE|") != std::string::npos)
        << row;
  }
  EXPECT_EQ(rows.front(), "items|ID|KIVSYS|SELECT|NO");
  char value[8] = {};
  SQLLEN indicator = 0;
  EXPECT_EQ(GetData(stmt_, 9, SQL_C_CHAR, value, sizeof value, &indicator), SQL_ERROR);  // after the end
}

// A catalog call and the rows it gives by position: each row the texts of
// the listed columns joined with '|'.
struct RowsCase {
  const char* what;
  std::function<SQLRETURN(SQLHSTMT)> call;
  std::initializer_list<SQLUSMALLINT> columns;
  std::vector<std::string> rows;
};

void ExpectRows(SQLHSTMT stmt, const std::vector<RowsCase>& cases) {
  for (const RowsCase& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.call(stmt), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt).message;
    EXPECT_EQ(FetchedRows(stmt, c.columns), c.rows);
    ASSERT_EQ(FreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
  }
}

SQLRETURN ForeignKeysOf(SQLHSTMT s, const char* pkTable, const char* fkTable) {
  return ForeignKeys(s, nullptr, 0, nullptr, 0, S(pkTable), pkTable != nullptr ? SQL_NTS : 0, nullptr, 0, nullptr,
                     0, S(fkTable), fkTable != nullptr ? SQL_NTS : 0);
}

// Free tables: indexes but no primary keys, relations or procedures.
TEST_F(CatalogTest, RowsOverFreeTables) {
  const std::vector<RowsCase> cases = {
      {"statistics: a unique index is 0, another 1",
       [](SQLHSTMT s) { return Statistics(s, nullptr, 0, nullptr, 0, S("items"), SQL_NTS, SQL_INDEX_ALL, 0); },
       {1, 3, 4, 6, 7, 8, 9, 10, 11},
       {"<null>|items|<null>|<null>|0|<null>|<null>|<null>|0", "<null>|items|0|BYID|3|1|ID|A|<null>",
        "<null>|items|1|BYNAME|3|1|NAME|A|<null>"}},
      {"statistics of unique indexes",
       [](SQLHSTMT s) { return Statistics(s, nullptr, 0, nullptr, 0, S("items"), SQL_NTS, SQL_INDEX_UNIQUE, 0); },
       {3, 4, 6, 9},
       {"items|<null>|<null>|<null>", "items|0|BYID|ID"}},
      {"columns of one table by pattern",
       [](SQLHSTMT s) { return Columns(s, nullptr, 0, nullptr, 0, S("items"), SQL_NTS, S("%A%"), SQL_NTS); },
       {3, 4, 5, 6, 7, 8, 9, 11, 17, 18},
       {"items|NAME|1|CHAR|20|20|0|1|2|YES", "items|AMOUNT|2|NUMERIC|8|10|2|1|3|YES",
        "items|FLAG|-7|LOGICAL|1|1|0|1|8|YES", "items|SMALL|5|SHORT|5|2|0|1|9|YES",
        "items|RATE|8|DOUBLE|15|8|0|1|11|YES",
        "items|AT|92|TIME|8|6|0|1|12|YES"}},
      {"special columns without a primary key",
       [](SQLHSTMT s) { return SpecialColumns(s, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, S("items"), SQL_NTS, 0, 0); },
       {2},
       {}},
      {"primary keys without one",
       [](SQLHSTMT s) { return PrimaryKeys(s, nullptr, 0, nullptr, 0, S("items"), SQL_NTS); }, {4}, {}},
      {"no relations", [](SQLHSTMT s) { return ForeignKeysOf(s, "items", nullptr); }, {3}, {}},
      {"no procedures", [](SQLHSTMT s) { return Procedures(s, nullptr, 0, nullptr, 0, nullptr, 0); }, {3}, {}},
      {"no procedure columns",
       [](SQLHSTMT s) { return ProcedureColumns(s, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); }, {3}, {}},
      {"table privileges of an opened table",
       [](SQLHSTMT s) { return TablePrivileges(s, nullptr, 0, nullptr, 0, S("i%"), SQL_NTS); },
       {1, 2, 3, 4, 6, 7},
       {"<null>|<null>|items|KIVSYS|SELECT|NO", "<null>|<null>|items|KIVSYS|INSERT|NO",
        "<null>|<null>|items|KIVSYS|UPDATE|NO", "<null>|<null>|items|KIVSYS|DELETE|NO"}},
  };
  ExpectRows(stmt_, cases);

  // A read-only connection may only read.
  SQLHDBC readOnly = ConnectedBy("DSN=KivData;ReadOnly=True");
  SQLHSTMT stmt = NewStatement(readOnly);
  ExpectRows(stmt, {{"read only", [](SQLHSTMT s) { return TablePrivileges(s, nullptr, 0, nullptr, 0, S("orders"), SQL_NTS); },
                     {3, 6}, {"orders|SELECT"}}});
}

// A dictionary over the free tables, with a primary key, relations between
// the tables, procedures and table rights.
class DictionaryCatalogTest : public CatalogTest {
 protected:
  void SetUp() override {
    CatalogTest::SetUp();
    KIVHANDLE engine = 0;
    ASSERT_EQ(KivConnect(DataDirectory().c_str(), &engine), 0u);
    KIVHANDLE table = 0;
    ASSERT_EQ(KivCreateTable(engine, "lines", nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, 0, KIV_RIGHTS_NO_CHECK, 0,
                             "ITEMID,INTEGER;ITEMNAME,CHAR,20", &table),
              0u);
    ASSERT_EQ(KivCloseTable(table), 0u);
    ASSERT_EQ(KivDisconnect(engine), 0u);
    const std::string dictionary = DataDirectory() + "/dict.kdd";
    ASSERT_EQ(KivDDCreate(dictionary.c_str(),
                          "user KIVSYS kiv\n"
                          "user CLERK pw\n"
                          "table items items.kdt\n"
                          "table lines lines.kdt\n"
                          "table orders orders.kdt\n"
                          "property items 202 BYID\n"
                          "relation R_LINE_ITEM items ID;NAME lines ITEMID;ITEMNAME cascade restrict\n"
                          "relation R_ORDER_ITEM items ID orders CODE noaction setnull\n"
                          "relation R_LINE_ORDER orders CODE lines ITEMNAME\n"
                          "procedure TOTALS amount,NUMERIC,10,2;since,DATE,8;n,AUTOINC,4 total,MONEY,8,4 Sums the "
                          "orders\n"
                          "procedure NOLIST\n"
                          "procedure ODD x,BOGUS,3\n"
                          "rights orders 0x11\n"),
              0u);
    dictConn_ = ConnectedBy("DataDirectory=" + dictionary + ";UID=KIVSYS;PWD=kiv");
    dictStmt_ = NewStatement(dictConn_);
  }
  SQLHDBC dictConn_ = nullptr;
  SQLHSTMT dictStmt_ = nullptr;
};

TEST_F(DictionaryCatalogTest, KeysAndRelations) {
  const std::string path = DataDirectory();  // the dictionary's folder
  const std::vector<RowsCase> cases = {
      {"tables by their dictionary names",
       [](SQLHSTMT s) { return Tables(s, nullptr, 0, nullptr, 0, S("%s"), SQL_NTS, nullptr, 0); },
       {1, 2, 3, 4},
       {path + "|<null>|orders|TABLE", path + "|<null>|lines|TABLE", path + "|<null>|items|TABLE"}},
      {"columns of a dictionary table",
       [](SQLHSTMT s) { return Columns(s, nullptr, 0, nullptr, 0, S("lines"), SQL_NTS, nullptr, 0); },
       {1, 3, 4, 17},
       {path + "|lines|ITEMID|1", path + "|lines|ITEMNAME|2"}},
      {"primary key",
       [](SQLHSTMT s) { return PrimaryKeys(s, nullptr, 0, nullptr, 0, S("items"), SQL_NTS); },
       {1, 2, 3, 4, 5, 6},
       {"<null>|<null>|items|ID|1|BYID"}},
      {"best row id", [](SQLHSTMT s) { return SpecialColumns(s, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, S("items"),
                                                              SQL_NTS, 0, 0); },
       {1, 2, 3, 4, 5, 6, 7, 8},
       {"2|ID|4|AUTOINC|10|4|0|0"}},
      {"both tables",
       [](SQLHSTMT s) { return ForeignKeysOf(s, "items", "lines"); },
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14},
       {"<null>|<null>|items|ID|<null>|<null>|lines|ITEMID|1|0|1|R_LINE_ITEM|BYID|<null>",
        "<null>|<null>|items|NAME|<null>|<null>|lines|ITEMNAME|2|0|1|R_LINE_ITEM|BYID|<null>"}},
      {"both tables, no relation between them",
       [](SQLHSTMT s) { return ForeignKeysOf(s, "lines", "items"); }, {3}, {}},
      {"the foreign-key table: by primary-key table",
       [](SQLHSTMT s) { return ForeignKeysOf(s, nullptr, "LINES"); },
       {3, 4, 7, 8, 9, 10, 11, 12, 13},
       {"items|ID|lines|ITEMID|1|0|1|R_LINE_ITEM|BYID", "items|NAME|lines|ITEMNAME|2|0|1|R_LINE_ITEM|BYID",
        "orders|CODE|lines|ITEMNAME|1|1|1|R_LINE_ORDER|<null>"}},
      {"the primary-key table: every table pointing at it",
       [](SQLHSTMT s) { return ForeignKeysOf(s, "items", nullptr); },
       {3, 4, 7, 8, 9, 10, 11, 12},
       {"items|ID|orders|CODE|1|3|2|R_ORDER_ITEM", "items|ID|lines|ITEMID|1|0|1|R_LINE_ITEM",
        "items|NAME|lines|ITEMNAME|2|0|1|R_LINE_ITEM"}},
  };
  ExpectRows(dictStmt_, cases);

  ASSERT_EQ(ForeignKeysOf(dictStmt_, "items", "lines"), SQL_SUCCESS);
  char value[8] = {};
  SQLLEN indicator = 0;
  EXPECT_EQ(GetData(dictStmt_, 3, SQL_C_CHAR, value, sizeof value, &indicator), SQL_ERROR) << "before the first row";
  EXPECT_EQ(Stmt()->code, 0u);
  ASSERT_EQ(Fetch(dictStmt_), SQL_SUCCESS);
  EXPECT_EQ(GetData(dictStmt_, 15, SQL_C_CHAR, value, sizeof value, &indicator), SQL_ERROR);
  EXPECT_EQ(AsStmt(dictStmt_)->code, kInvalidColumnNumber);
  EXPECT_EQ(GetData(dictStmt_, 10, SQL_C_CHAR, value, sizeof value, nullptr), SQL_SUCCESS);
  EXPECT_EQ(GetData(dictStmt_, 14, SQL_C_CHAR, value, sizeof value, nullptr), SQL_ERROR) << "null needs an indicator";
}

TEST_F(DictionaryCatalogTest, ProceduresAndTheirParameters) {
  const std::vector<RowsCase> cases = {
      {"procedures",
       [](SQLHSTMT s) { return Procedures(s, nullptr, 0, nullptr, 0, nullptr, 0); },
       {1, 2, 3, 4, 5, 6, 7, 8},
       {"<null>|<null>|NOLIST|0|0|0|<null>|2", "<null>|<null>|ODD|0|0|0|<null>|2",
        "<null>|<null>|TOTALS|0|0|0|Sums the orders|2"}},
      {"procedures by pattern",
       [](SQLHSTMT s) { return Procedures(s, nullptr, 0, nullptr, 0, S("t%"), SQL_NTS); }, {3}, {"TOTALS"}},
      {"parameters",
       [](SQLHSTMT s) { return ProcedureColumns(s, nullptr, 0, nullptr, 0, S("TOT%"), SQL_NTS, nullptr, 0); },
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19},
       {"<null>|<null>|TOTALS|amount|1|2|NUMERIC|10|10|2|10|1|<null>|NULL|2|<null>|10|1|YES",
        "<null>|<null>|TOTALS|since|1|91|DATE|4|4|<null>|<null>|1|<null>|NULL|9|1|<null>|2|YES",
        "<null>|<null>|TOTALS|n|1|4|AUTOINC|4|4|<null>|10|0|<null>|NULL|4|<null>|<null>|3|NO",
        "<null>|<null>|TOTALS|total|3|2|MONEY|8|8|<null>|10|1|<null>|NULL|2|<null>|<null>|1|YES"}},
      {"parameters by name pattern",
       [](SQLHSTMT s) { return ProcedureColumns(s, nullptr, 0, nullptr, 0, nullptr, 0, S("%t%"), SQL_NTS); },
       {3, 4, 5, 18},
       {"TOTALS|amount|1|1", "TOTALS|total|3|1"}},
  };
  ExpectRows(dictStmt_, cases);

  // A parameter of a type the driver does not know has no type to report.
  ASSERT_EQ(ProcedureColumns(dictStmt_, nullptr, 0, nullptr, 0, S("ODD"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
  ASSERT_EQ(Fetch(dictStmt_), SQL_SUCCESS);
  char value[32] = {};
  SQLLEN indicator = 0;
  EXPECT_EQ(GetData(dictStmt_, 4, SQL_C_CHAR, value, sizeof value, &indicator), SQL_SUCCESS);
  EXPECT_STREQ(value, "x");
  EXPECT_EQ(GetData(dictStmt_, 6, SQL_C_CHAR, value, sizeof value, &indicator), SQL_ERROR);
  EXPECT_EQ(AsStmt(dictStmt_)->code, kNoTypeEntry);
  EXPECT_EQ(Fetch(dictStmt_), SQL_NO_DATA);
  ASSERT_EQ(FreeStmt(dictStmt_, SQL_CLOSE), SQL_SUCCESS);

  // A description that does not fit is cut with a warning.
  ASSERT_EQ(Procedures(dictStmt_, nullptr, 0, nullptr, 0, S("TOTALS"), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(Fetch(dictStmt_), SQL_SUCCESS);
  char shortValue[5] = {};
  EXPECT_EQ(GetData(dictStmt_, 7, SQL_C_CHAR, shortValue, sizeof shortValue, &indicator), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(shortValue, "Sums");
  EXPECT_EQ(indicator, 15);
  EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, dictStmt_).state, "01004");
  // Closing in the middle of the listing releases the engine's enumeration.
  ASSERT_EQ(FreeStmt(dictStmt_, SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(Procedures(dictStmt_, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  ASSERT_EQ(Fetch(dictStmt_), SQL_SUCCESS);
  ASSERT_EQ(FreeStmt(dictStmt_, SQL_DROP), SQL_SUCCESS);
  dictStmt_ = nullptr;
}

TEST_F(DictionaryCatalogTest, TableRightsOfTheDictionary) {
  ExpectRows(dictStmt_,
             {{"rights of each table",
               [](SQLHSTMT s) { return TablePrivileges(s, nullptr, 0, nullptr, 0, nullptr, 0); },
               {1, 3, 4, 5, 6, 7},
               {"<null>|orders|KIVSYS|KIVSYS|SELECT|YES", "<null>|orders|KIVSYS|KIVSYS|INSERT|YES",
                "<null>|lines|KIVSYS|KIVSYS|SELECT|YES", "<null>|lines|KIVSYS|KIVSYS|INSERT|YES",
                "<null>|lines|KIVSYS|KIVSYS|UPDATE|YES", "<null>|lines|KIVSYS|KIVSYS|DELETE|YES",
                "<null>|items|KIVSYS|KIVSYS|SELECT|YES", "<null>|items|KIVSYS|KIVSYS|INSERT|YES",
                "<null>|items|KIVSYS|KIVSYS|UPDATE|YES", "<null>|items|KIVSYS|KIVSYS|DELETE|YES"}}});
  SQLHDBC clerk = ConnectedBy("DataDirectory=" + DataDirectory() + "/dict.kdd;UID=CLERK;PWD=pw");
  ExpectRows(NewStatement(clerk),
             {{"another user",
               [](SQLHSTMT s) { return TablePrivileges(s, nullptr, 0, nullptr, 0, S("orders"), SQL_NTS); },
               {3, 5, 6, 7},
               {"orders|CLERK|SELECT|NO", "orders|CLERK|INSERT|NO"}}});
}

}  // namespace
}  // namespace kivodbc::testing
