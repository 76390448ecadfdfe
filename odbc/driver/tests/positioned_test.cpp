// SQLSetPos, SQLBulkOperations and scroll options from a C program through
// unixODBC's driver manager to the built driver and the engine: rows changed
// through a cursor over an engine table are read back through a second
// statement.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "qel32.h"
#include "qel32_test.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kivodbc::testing::FirstDiag;
using kivodbc::testing::OdbcConfig;

OdbcConfig& Config() {
  static OdbcConfig* config = new OdbcConfig("[Morvane Rivulet ODBC]\nDriver=" KIVODBC_DRIVER_PATH "\n", "");
  return *config;
}

SQLCHAR* Sql(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

std::string Trimmed(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// A folder of its own per test with the table "parts" (NAME CHAR(10), QTY
// INTEGER): bolt 10, nut 20, screw 30, washer 40. The connection reaches it
// through the driver manager.
class Positioned : public ::testing::Test {
 protected:
  void SetUp() override {
    Config().Activate();
    folder_ = (Config().Root() / ::testing::UnitTest::GetInstance()->current_test_info()->name()).string();
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    KIVHANDLE engine = 0;
    KIVHANDLE table = 0;
    ASSERT_EQ(KivConnect(folder_.c_str(), &engine), 0u);
    ASSERT_EQ(KivCreateTable(engine, "parts", nullptr, KIV_TABLE_KDT, KIV_CHAR_ANSI, 0, KIV_RIGHTS_NO_CHECK, 0,
                             "NAME,CHAR,10;QTY,INTEGER", &table),
              0u);
    int32_t qty = 10;
    for (const char* name : {"bolt", "nut", "screw", "washer"}) {
      ASSERT_EQ(KivAppendRecord(table), 0u);
      ASSERT_EQ(KivSetString(table, "NAME", name, static_cast<uint32_t>(std::strlen(name))), 0u);
      ASSERT_EQ(KivSetLong(table, "QTY", qty), 0u);
      ASSERT_EQ(KivWriteRecord(table), 0u);
      qty += 10;
    }
    ASSERT_EQ(KivCloseTable(table), 0u);
    ASSERT_EQ(KivDisconnect(engine), 0u);

    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
    ASSERT_EQ(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
    ASSERT_TRUE(SQL_SUCCEEDED(Connect(""))) << FirstDiag(dbc_).message;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
  }
  void TearDown() override {
    KivTestClearFaults();
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    fs::remove_all(folder_);
  }
  SQLRETURN Connect(const std::string& options) {
    const std::string text = "DRIVER={Morvane Rivulet ODBC};DataDirectory=" + folder_ + options;
    return SQLDriverConnect(dbc_, nullptr, Sql(text.c_str()), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  }

  // Runs a select of "parts": a plain select of one table is left by the
  // engine to the driver's own cursor over the table.
  SQLRETURN OpenCursor(SQLULEN cursorType, const char* text = "SELECT NAME, QTY FROM parts",
                       SQLULEN concurrency = SQL_CONCUR_LOCK) {
    EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(cursorType), 0), SQL_SUCCESS);
    EXPECT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(concurrency), 0),
              SQL_SUCCESS);
    return SQLExecDirect(stmt_, Sql(text), SQL_NTS);
  }
  void BindNameAndQty() {
    ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_CHAR, name_, sizeof name_, &nameLength_), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, &qty_, 0, &qtyLength_), SQL_SUCCESS);
  }
  void SetName(const char* name) {
    std::strcpy(name_, name);
    nameLength_ = SQL_NTS;
  }
  // A cursor with bookmarks on and the name, quantity and bookmark bound.
  void OpenWithBookmarks(SQLULEN cursorType, SQLSMALLINT bookmarkType) {
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_USE_BOOKMARKS, reinterpret_cast<SQLPOINTER>(SQL_UB_VARIABLE), 0),
              SQL_SUCCESS);
    ASSERT_EQ(OpenCursor(cursorType), SQL_SUCCESS) << FirstDiag(stmt_).message;
    ASSERT_NO_FATAL_FAILURE(BindNameAndQty());
    ASSERT_EQ(SQLBindCol(stmt_, 0, bookmarkType, &bookmark_, sizeof bookmark_, &bookmarkLength_), SQL_SUCCESS);
  }
  SQLULEN RowNumber() {
    SQLULEN number = 0;
    EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_ROW_NUMBER, &number, 0, nullptr), SQL_SUCCESS);
    return number;
  }
  SQLRETURN Scroll(SQLSMALLINT orientation, SQLLEN offset = 0) {
    return SQLFetchScroll(stmt_, orientation, offset);
  }

  // Every row of "parts" as "name|qty", read through the engine's own SQL
  // (a condition keeps the select from the driver's cursor).
  std::vector<std::string> Table() {
    SQLHSTMT reader = nullptr;
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &reader), SQL_SUCCESS);
    EXPECT_EQ(SQLExecDirect(reader, Sql("SELECT NAME, QTY FROM parts WHERE 1 = 1"), SQL_NTS), SQL_SUCCESS)
        << FirstDiag(reader).message;
    std::vector<std::string> rows;
    while (SQLFetch(reader) == SQL_SUCCESS) {
      char name[32] = {};
      char qty[32] = {};
      SQLLEN length = 0;
      EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(reader, 1, SQL_C_CHAR, name, sizeof name, &length)));
      EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(reader, 2, SQL_C_CHAR, qty, sizeof qty, &length)));
      rows.push_back(Trimmed(name) + "|" + (length == SQL_NULL_DATA ? std::string("null") : std::string(qty)));
    }
    SQLFreeHandle(SQL_HANDLE_STMT, reader);
    return rows;
  }

  std::string folder_;
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
  char name_[16] = {};
  SQLLEN nameLength_ = 0;
  SQLINTEGER qty_ = 0;
  SQLLEN qtyLength_ = 0;
  SQLINTEGER bookmark_ = 0;
  SQLLEN bookmarkLength_ = 0;
  SQLUSMALLINT status_ = 99;
  SQLULEN rows_ = 0;
};

using Rows = std::vector<std::string>;

TEST_F(Positioned, TheDriverReportsTheFunctions) {
  for (SQLUSMALLINT function : {SQL_API_SQLSETPOS, SQL_API_SQLBULKOPERATIONS, SQL_API_SQLSETSCROLLOPTIONS}) {
    SQLUSMALLINT supported = SQL_FALSE;
    EXPECT_EQ(SQLGetFunctions(dbc_, function, &supported), SQL_SUCCESS);
    EXPECT_EQ(supported, SQL_TRUE) << function;
  }
}

TEST_F(Positioned, KeysetCursorUpdatesDeletesAndAddsRows) {
  ASSERT_EQ(OpenCursor(SQL_CURSOR_KEYSET_DRIVEN), SQL_SUCCESS) << FirstDiag(stmt_).message;
  ASSERT_NO_FATAL_FAILURE(BindNameAndQty());
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, &status_, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &rows_, 0), SQL_SUCCESS);

  // Update the second row.
  ASSERT_EQ(Scroll(SQL_FETCH_ABSOLUTE, 2), SQL_SUCCESS);
  EXPECT_EQ(Trimmed(name_), "nut");
  SetName("nail");
  qty_ = 25;
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(status_, SQL_ROW_UPDATED);
  EXPECT_EQ(rows_, 1u);

  // Delete the third; coming back onto its key shows it gone.
  ASSERT_EQ(Scroll(SQL_FETCH_NEXT), SQL_SUCCESS);
  EXPECT_EQ(Trimmed(name_), "screw");
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(status_, SQL_ROW_DELETED);
  ASSERT_EQ(Scroll(SQL_FETCH_FIRST), SQL_SUCCESS);
  EXPECT_EQ(Scroll(SQL_FETCH_ABSOLUTE, 3), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(status_, SQL_ROW_DELETED);
  EXPECT_EQ(rows_, 1u);
  // Nor can it be refreshed or deleted again.
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(status_, SQL_ROW_DELETED);
  EXPECT_EQ(FirstDiag(stmt_).native, 2174);
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(FirstDiag(stmt_).native, 2174);
  EXPECT_EQ(status_, SQL_ROW_ERROR);

  // Add a row: it is the last row of the keyset, and the cursor stays where it was.
  ASSERT_EQ(Scroll(SQL_FETCH_FIRST), SQL_SUCCESS);
  SetName("rivet");
  qty_ = 50;
  ASSERT_EQ(SQLSetPos(stmt_, 0, SQL_ADD, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(status_, SQL_ROW_ADDED);
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(Trimmed(name_), "bolt");
  ASSERT_EQ(Scroll(SQL_FETCH_LAST), SQL_SUCCESS);
  EXPECT_EQ(Trimmed(name_), "rivet");
  EXPECT_EQ(qty_, 50);
  EXPECT_EQ(RowNumber(), 5u);

  EXPECT_EQ(Table(), (Rows{"bolt|10", "nail|25", "washer|40", "rivet|50"}));
}

TEST_F(Positioned, ADynamicCursorChangesRowsAndSeesTheOnesItAdds) {
  ASSERT_NO_FATAL_FAILURE(OpenWithBookmarks(SQL_CURSOR_DYNAMIC, SQL_C_SLONG));
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, &status_, 0), SQL_SUCCESS);
  ASSERT_EQ(Scroll(SQL_FETCH_ABSOLUTE, 3), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(Trimmed(name_), "screw");
  qty_ = 33;
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(status_, SQL_ROW_UPDATED);
  SetName("clip");
  qty_ = 80;
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_ADD, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(bookmark_, 5);
  ASSERT_EQ(Scroll(SQL_FETCH_FIRST), SQL_SUCCESS);
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << FirstDiag(stmt_).message;
  ASSERT_EQ(Scroll(SQL_FETCH_LAST), SQL_SUCCESS);
  EXPECT_EQ(Trimmed(name_), "clip");
  EXPECT_EQ(Table(), (Rows{"nut|20", "screw|33", "washer|40", "clip|80"}));
}

TEST_F(Positioned, ExtendedFetchComesBackOntoADeletedRow) {
  ASSERT_EQ(OpenCursor(SQL_CURSOR_KEYSET_DRIVEN), SQL_SUCCESS) << FirstDiag(stmt_).message;
  ASSERT_NO_FATAL_FAILURE(BindNameAndQty());
  SQLULEN count = 0;
  SQLUSMALLINT statuses[1] = {99};
  ASSERT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_ABSOLUTE, 2, &count, statuses), SQL_SUCCESS);
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(statuses[0], SQL_ROW_DELETED);
  ASSERT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &count, statuses), SQL_SUCCESS);
  EXPECT_EQ(Trimmed(name_), "screw");
  statuses[0] = 99;
  EXPECT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_PRIOR, 0, &count, statuses), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(statuses[0], SQL_ROW_DELETED);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Table(), (Rows{"bolt|10", "screw|30", "washer|40"}));
}

TEST_F(Positioned, RowWiseAndColumnWiseBindingsAndBindOffsets) {
  struct Row {
    SQLINTEGER qty;
    SQLLEN qtyLength;
    char name[12];
    SQLLEN nameLength;
  };
  struct Case {
    const char* label;
    bool rowWise;
    SQLLEN offset;  // bytes added to every bound address
  };
  const Case cases[] = {{"column-wise", false, 0}, {"column-wise with offset", false, 2 * sizeof(Row)},
                        {"row-wise", true, 0},     {"row-wise with offset", true, sizeof(Row)}};
  int added = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
    ASSERT_EQ(SQLFreeStmt(stmt_, SQL_UNBIND), SQL_SUCCESS);
    Row rows[3] = {};
    SQLLEN offset = c.offset;
    Row* base = rows;
    const auto bindType = c.rowWise ? static_cast<SQLULEN>(sizeof(Row)) : static_cast<SQLULEN>(SQL_BIND_BY_COLUMN);
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(bindType), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_OFFSET_PTR, &offset, 0), SQL_SUCCESS);
    ASSERT_EQ(OpenCursor(SQL_CURSOR_KEYSET_DRIVEN), SQL_SUCCESS) << FirstDiag(stmt_).message;
    ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_CHAR, base->name, sizeof base->name, &base->nameLength), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, &base->qty, 0, &base->qtyLength), SQL_SUCCESS);
    Row& row = *reinterpret_cast<Row*>(reinterpret_cast<char*>(rows) + c.offset);
    ASSERT_EQ(Scroll(SQL_FETCH_FIRST), SQL_SUCCESS);
    EXPECT_EQ(Trimmed(row.name), "bolt");
    row.qty += 1;
    row.nameLength = SQL_NTS;
    ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << FirstDiag(stmt_).message;
    std::strcpy(row.name, "pin");
    row.qty = 60 + added;
    ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_ADD, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << FirstDiag(stmt_).message;
    ++added;
    ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_OFFSET_PTR, nullptr, 0), SQL_SUCCESS);
  }
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0),
            SQL_SUCCESS);
  EXPECT_EQ(Table(), (Rows{"bolt|14", "nut|20", "screw|30", "washer|40", "pin|60", "pin|61", "pin|62", "pin|63"}));
}

TEST_F(Positioned, AnIgnoredColumnAndANullAreWrittenAsAsked) {
  ASSERT_EQ(OpenCursor(SQL_CURSOR_KEYSET_DRIVEN), SQL_SUCCESS) << FirstDiag(stmt_).message;
  ASSERT_NO_FATAL_FAILURE(BindNameAndQty());
  ASSERT_EQ(Scroll(SQL_FETCH_ABSOLUTE, 2), SQL_SUCCESS);
  SetName("changed");
  nameLength_ = SQL_IGNORE;
  qty_ = 21;
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << FirstDiag(stmt_).message;
  ASSERT_EQ(Scroll(SQL_FETCH_ABSOLUTE, 3), SQL_SUCCESS);
  SetName("stud");
  qtyLength_ = SQL_NULL_DATA;
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(Table(), (Rows{"bolt|10", "nut|21", "stud|null", "washer|40"}));
}

TEST_F(Positioned, AValueSentAtExecutionRunsTheUpdateWhenItIsIn) {
  ASSERT_EQ(OpenCursor(SQL_CURSOR_KEYSET_DRIVEN), SQL_SUCCESS) << FirstDiag(stmt_).message;
  ASSERT_NO_FATAL_FAILURE(BindNameAndQty());
  ASSERT_EQ(Scroll(SQL_FETCH_ABSOLUTE, 4), SQL_SUCCESS);
  nameLength_ = SQL_LEN_DATA_AT_EXEC(0);
  qty_ = 44;
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_NEED_DATA) << FirstDiag(stmt_).message;
  // Nothing is written before the value is in, and the cursor waits for it.
  EXPECT_EQ(Table(), (Rows{"bolt|10", "nut|20", "screw|30", "washer|40"}));
  EXPECT_EQ(Scroll(SQL_FETCH_FIRST), SQL_ERROR);
  SQLPOINTER token = nullptr;
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA) << FirstDiag(stmt_).message;
  EXPECT_EQ(token, static_cast<SQLPOINTER>(name_));
  ASSERT_EQ(SQLPutData(stmt_, Sql("lock"), 4), SQL_SUCCESS) << FirstDiag(stmt_).message;
  ASSERT_EQ(SQLPutData(stmt_, Sql("nut"), SQL_NTS), SQL_SUCCESS) << FirstDiag(stmt_).message;
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(Table(), (Rows{"bolt|10", "nut|20", "screw|30", "locknut|44"}));

  // A cancelled wait writes nothing and frees the cursor.
  nameLength_ = SQL_DATA_AT_EXEC;
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_ADD, SQL_LOCK_NO_CHANGE), SQL_NEED_DATA);
  ASSERT_EQ(SQLCancel(stmt_), SQL_SUCCESS);
  EXPECT_EQ(Scroll(SQL_FETCH_FIRST), SQL_SUCCESS);
  EXPECT_EQ(Table(), (Rows{"bolt|10", "nut|20", "screw|30", "locknut|44"}));
}

TEST_F(Positioned, AReadOnlyCursorRefusesChangesBeforeConvertingAnything) {
  ASSERT_EQ(OpenCursor(SQL_CURSOR_KEYSET_DRIVEN, "SELECT NAME, QTY FROM parts", SQL_CONCUR_READ_ONLY), SQL_SUCCESS)
      << FirstDiag(stmt_).message;
  // A value the integer column could not take.
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, name_, sizeof name_, &nameLength_), SQL_SUCCESS);
  ASSERT_EQ(Scroll(SQL_FETCH_FIRST), SQL_SUCCESS);
  SetName("many");
  for (SQLUSMALLINT operation : {SQL_UPDATE, SQL_DELETE, SQL_ADD}) {
    EXPECT_EQ(SQLSetPos(stmt_, 1, operation, SQL_LOCK_NO_CHANGE), SQL_ERROR) << operation;
    EXPECT_EQ(FirstDiag(stmt_).native, 2175) << operation;
    EXPECT_EQ(FirstDiag(stmt_).message, "[Kestrane][Morvane ODBC Driver]Cursor is read-only.");
  }
  EXPECT_EQ(SQLBulkOperations(stmt_, SQL_ADD), SQL_ERROR);
  EXPECT_EQ(FirstDiag(stmt_).state, "HY092");
  // Reading is still fine.
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
  EXPECT_EQ(Table(), (Rows{"bolt|10", "nut|20", "screw|30", "washer|40"}));
}

TEST_F(Positioned, AReadOnlyDataSourceRefusesBulkChanges) {
  SQLDisconnect(dbc_);
  ASSERT_TRUE(SQL_SUCCEEDED(Connect(";ReadOnly=True")));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
  ASSERT_EQ(OpenCursor(SQL_CURSOR_KEYSET_DRIVEN), SQL_SUCCESS) << FirstDiag(stmt_).message;
  ASSERT_NO_FATAL_FAILURE(BindNameAndQty());
  ASSERT_EQ(Scroll(SQL_FETCH_FIRST), SQL_SUCCESS);
  EXPECT_EQ(SQLBulkOperations(stmt_, SQL_ADD), SQL_ERROR);
  EXPECT_EQ(FirstDiag(stmt_).native, 2110);
  // Through SQLSetPos the engine refuses the write itself.
  SetName("x");
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(Table(), (Rows{"bolt|10", "nut|20", "screw|30", "washer|40"}));
}

TEST_F(Positioned, RowsBeyondTheRowsetAndAddedRowsAreRefused) {
  ASSERT_NO_FATAL_FAILURE(OpenWithBookmarks(SQL_CURSOR_FORWARD_ONLY, SQL_C_SLONG));
  SQLINTEGER& bookmark = bookmark_;
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(bookmark, 1);
  for (SQLUSMALLINT operation : {SQL_REFRESH, SQL_UPDATE, SQL_ADD}) {
    EXPECT_EQ(SQLSetPos(stmt_, 2, operation, SQL_LOCK_NO_CHANGE), SQL_ERROR) << operation;
    EXPECT_EQ(FirstDiag(stmt_).native, 2173) << operation;
    EXPECT_EQ(FirstDiag(stmt_).state, "HY107") << operation;  // ODBC 3
    EXPECT_EQ(FirstDiag(stmt_).message, "[Kestrane][Morvane ODBC Driver]Row value out of range.");
  }
  // A row added without a keyset has the bookmark -3 and cannot be reached.
  SetName("cotter");
  qty_ = 5;
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_ADD, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(bookmark, -3);
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(FirstDiag(stmt_).native, 2188);
  // The cursor goes on from the row it was on.
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(Trimmed(name_), "nut");
  EXPECT_EQ(bookmark, 2);
  EXPECT_EQ(RowNumber(), 2u);
  EXPECT_EQ(Table(), (Rows{"bolt|10", "nut|20", "screw|30", "washer|40", "cotter|5"}));
}

TEST_F(Positioned, AFailedFieldWriteLeavesTheRecordAsItWas) {
  ASSERT_EQ(OpenCursor(SQL_CURSOR_KEYSET_DRIVEN), SQL_SUCCESS) << FirstDiag(stmt_).message;
  // The newest binding is written first: the name is set before the quantity fails.
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_SLONG, &qty_, 0, &qtyLength_), SQL_SUCCESS);
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_CHAR, name_, sizeof name_, &nameLength_), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, &status_, 0), SQL_SUCCESS);
  ASSERT_EQ(Scroll(SQL_FETCH_ABSOLUTE, 2), SQL_SUCCESS);
  SetName("half");
  qty_ = 99;
  KivTestFailCall("KivSetDouble", KIV_ERR_RECORD_LOCKED, "quantity refused", 2);
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(status_, SQL_ROW_ERROR);
  EXPECT_NE(FirstDiag(stmt_).message.find("quantity refused"), std::string::npos) << FirstDiag(stmt_).message;
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_ADD, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(status_, SQL_ROW_ERROR);
  // Moving on flushes nothing of either.
  ASSERT_EQ(Scroll(SQL_FETCH_NEXT), SQL_SUCCESS);
  ASSERT_EQ(Scroll(SQL_FETCH_LAST), SQL_SUCCESS);
  EXPECT_EQ(Trimmed(name_), "washer");
  EXPECT_EQ(Table(), (Rows{"bolt|10", "nut|20", "screw|30", "washer|40"}));
}

TEST_F(Positioned, AValueTooLongIsCutWithAWarning) {
  ASSERT_EQ(OpenCursor(SQL_CURSOR_KEYSET_DRIVEN), SQL_SUCCESS) << FirstDiag(stmt_).message;
  ASSERT_NO_FATAL_FAILURE(BindNameAndQty());
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, &status_, 0), SQL_SUCCESS);
  ASSERT_EQ(Scroll(SQL_FETCH_FIRST), SQL_SUCCESS);
  SetName("hexagonalbolt");
  EXPECT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(FirstDiag(stmt_).state, "01004");
  EXPECT_EQ(status_, SQL_ROW_SUCCESS_WITH_INFO);
  EXPECT_EQ(Table()[0], "hexagonalb|10");
}

TEST_F(Positioned, AnEngineResultCannotBeChanged) {
  // A select with a condition is the engine's: its rows are a snapshot.
  ASSERT_EQ(OpenCursor(SQL_CURSOR_KEYSET_DRIVEN, "SELECT NAME, QTY FROM parts WHERE QTY > 0"), SQL_SUCCESS)
      << FirstDiag(stmt_).message;
  ASSERT_NO_FATAL_FAILURE(BindNameAndQty());
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, &status_, 0), SQL_SUCCESS);
  ASSERT_EQ(Scroll(SQL_FETCH_FIRST), SQL_SUCCESS);
  SetName("snapshot");
  for (SQLUSMALLINT operation : {SQL_UPDATE, SQL_ADD, SQL_DELETE}) {
    EXPECT_EQ(SQLSetPos(stmt_, 1, operation, SQL_LOCK_NO_CHANGE), SQL_ERROR) << operation;
    EXPECT_EQ(status_, SQL_ROW_ERROR) << operation;
    EXPECT_EQ(FirstDiag(stmt_).native, static_cast<SQLINTEGER>(KIV_ERR_STATIC_VIEW)) << FirstDiag(stmt_).message;
  }
  EXPECT_EQ(Table(), (Rows{"bolt|10", "nut|20", "screw|30", "washer|40"}));
}

TEST_F(Positioned, BulkOperationsAddUpdateDeleteAndFetchByBookmark) {
  ASSERT_NO_FATAL_FAILURE(OpenWithBookmarks(SQL_CURSOR_KEYSET_DRIVEN, SQL_C_VARBOOKMARK));
  SQLINTEGER& bookmark = bookmark_;
  SQLLEN& bookmarkLength = bookmarkLength_;
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, &status_, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &rows_, 0), SQL_SUCCESS);

  // Add: the new row's bookmark comes back.
  ASSERT_EQ(Scroll(SQL_FETCH_FIRST), SQL_SUCCESS);
  SetName("spring");
  qty_ = 70;
  ASSERT_EQ(SQLBulkOperations(stmt_, SQL_ADD), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(bookmark, 5);
  EXPECT_EQ(status_, SQL_ROW_ADDED);

  // Update by bookmark: the row the bookmark names, not the current one.
  bookmark = 2;
  bookmarkLength = sizeof bookmark;
  SetName("nut2");
  qty_ = 22;
  ASSERT_EQ(SQLBulkOperations(stmt_, SQL_UPDATE_BY_BOOKMARK), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(status_, SQL_ROW_UPDATED);

  // Delete by bookmark, then the fetch of it reports it gone.
  bookmark = 3;
  ASSERT_EQ(SQLBulkOperations(stmt_, SQL_DELETE_BY_BOOKMARK), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(status_, SQL_ROW_DELETED);
  EXPECT_EQ(SQLBulkOperations(stmt_, SQL_FETCH_BY_BOOKMARK), SQL_ERROR);
  EXPECT_EQ(status_, SQL_ROW_DELETED);
  EXPECT_EQ(FirstDiag(stmt_).native, 2174);

  // Fetch by bookmark fills the bound columns.
  bookmark = 5;
  std::memset(name_, 0, sizeof name_);
  ASSERT_EQ(SQLBulkOperations(stmt_, SQL_FETCH_BY_BOOKMARK), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(Trimmed(name_), "spring");
  EXPECT_EQ(qty_, 70);
  EXPECT_EQ(rows_, 1u);

  // Bookmarks that name no row.
  struct Refusal {
    SQLINTEGER bookmark;
    SQLINTEGER native;
  };
  for (const Refusal& r : {Refusal{-3, 2188}, Refusal{0, 2172}, Refusal{9, 2172}}) {
    bookmark = r.bookmark;
    EXPECT_EQ(SQLBulkOperations(stmt_, SQL_FETCH_BY_BOOKMARK), SQL_ERROR) << r.bookmark;
    EXPECT_EQ(FirstDiag(stmt_).native, r.native) << r.bookmark;
  }
  bookmarkLength = SQL_NULL_DATA;
  EXPECT_EQ(SQLBulkOperations(stmt_, SQL_DELETE_BY_BOOKMARK), SQL_ERROR);
  EXPECT_EQ(FirstDiag(stmt_).state, "HY092");

  EXPECT_EQ(Table(), (Rows{"bolt|10", "nut2|22", "washer|40", "spring|70"}));
}

TEST_F(Positioned, BookmarkOperationsNeedAKeysetOrADynamicCursor) {
  ASSERT_EQ(OpenCursor(SQL_CURSOR_FORWARD_ONLY), SQL_SUCCESS) << FirstDiag(stmt_).message;
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  for (SQLSMALLINT operation : {SQL_UPDATE_BY_BOOKMARK, SQL_DELETE_BY_BOOKMARK, SQL_FETCH_BY_BOOKMARK}) {
    EXPECT_EQ(SQLBulkOperations(stmt_, operation), SQL_ERROR) << operation;
    EXPECT_EQ(FirstDiag(stmt_).native, 2184) << operation;
  }
}

TEST_F(Positioned, ScrollOptionsSetConcurrencyCursorTypeAndRowset) {
  struct Case {
    SQLUSMALLINT concurrency;
    SQLLEN keyset;
    SQLUSMALLINT rowset;
    SQLRETURN result;
    SQLULEN cursorType;
  };
  const Case cases[] = {
      {SQL_CONCUR_READ_ONLY, SQL_SCROLL_FORWARD_ONLY, 1, SQL_SUCCESS, SQL_CURSOR_FORWARD_ONLY},
      {SQL_CONCUR_LOCK, SQL_SCROLL_KEYSET_DRIVEN, 1, SQL_SUCCESS, SQL_CURSOR_KEYSET_DRIVEN},
      {SQL_CONCUR_READ_ONLY, SQL_SCROLL_DYNAMIC, 1, SQL_SUCCESS, SQL_CURSOR_DYNAMIC},
      // The driver's scrolling cursors are keyset-driven or dynamic; a rowset
      // above one is not kept either. The change is said at the end.
      {SQL_CONCUR_LOCK, SQL_SCROLL_STATIC, 1, SQL_SUCCESS_WITH_INFO, SQL_CURSOR_DYNAMIC},
      {SQL_CONCUR_LOCK, SQL_SCROLL_KEYSET_DRIVEN, 10, SQL_SUCCESS_WITH_INFO, SQL_CURSOR_KEYSET_DRIVEN},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SQLSetScrollOptions(stmt_, c.concurrency, c.keyset, c.rowset), c.result) << c.keyset;
    if (c.result == SQL_SUCCESS_WITH_INFO) {
      EXPECT_EQ(FirstDiag(stmt_).state, "01S02");
    }
    SQLULEN value = 0;
    EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_CONCURRENCY, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, c.concurrency) << c.keyset;
    EXPECT_EQ(SQLGetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, c.cursorType) << c.keyset;
  }
}

// A dynamic cursor whose current row another connection deletes goes on
// from that row's place: NEXT reads the row after it, PRIOR the one before,
// RELATIVE counts from there.
TEST_F(Positioned, DynamicScanGoesOnFromARowDeletedElsewhere) {
  SQLHDBC other = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &other), SQL_SUCCESS);
  const std::string text = "DRIVER={Morvane Rivulet ODBC};DataDirectory=" + folder_;
  ASSERT_TRUE(SQL_SUCCEEDED(
      SQLDriverConnect(other, nullptr, Sql(text.c_str()), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)));
  SQLHSTMT deleter = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, other, &deleter), SQL_SUCCESS);
  for (const char* name : {"pin", "rivet"}) {  // six rows
    const std::string insert = std::string("INSERT INTO parts VALUES ('") + name + "', 50)";
    ASSERT_EQ(SQLExecDirect(deleter, Sql(insert.c_str()), SQL_NTS), SQL_SUCCESS) << FirstDiag(deleter).message;
  }
  ASSERT_EQ(OpenCursor(SQL_CURSOR_DYNAMIC), SQL_SUCCESS) << FirstDiag(stmt_).message;
  ASSERT_NO_FATAL_FAILURE(BindNameAndQty());
  struct Step {
    const char* deleted;  // deleted by the other connection before the move
    SQLSMALLINT orientation;
    SQLLEN offset;
    const char* read;  // null: no row
  };
  const Step steps[] = {
      {nullptr, SQL_FETCH_NEXT, 0, "bolt"},   {nullptr, SQL_FETCH_NEXT, 0, "nut"},
      {nullptr, SQL_FETCH_NEXT, 0, "screw"},  {"screw", SQL_FETCH_NEXT, 0, "washer"},
      {nullptr, SQL_FETCH_PRIOR, 0, "nut"},   {"nut", SQL_FETCH_PRIOR, 0, "bolt"},
      {nullptr, SQL_FETCH_NEXT, 0, "washer"}, {"washer", SQL_FETCH_RELATIVE, 2, "rivet"},
      {"rivet", SQL_FETCH_NEXT, 0, nullptr},  {nullptr, SQL_FETCH_PRIOR, 0, "pin"},
      {"pin", SQL_FETCH_RELATIVE, -1, "bolt"},
  };
  for (const Step& step : steps) {
    if (step.deleted != nullptr) {
      const std::string remove = std::string("DELETE FROM parts WHERE NAME = '") + step.deleted + "'";
      ASSERT_EQ(SQLExecDirect(deleter, Sql(remove.c_str()), SQL_NTS), SQL_SUCCESS) << FirstDiag(deleter).message;
    }
    const SQLRETURN rc = Scroll(step.orientation, step.offset);
    if (step.read == nullptr) {
      EXPECT_EQ(rc, SQL_NO_DATA) << step.orientation;
    } else {
      EXPECT_EQ(rc, SQL_SUCCESS) << step.read << " " << FirstDiag(stmt_).message;
      EXPECT_EQ(Trimmed(name_), step.read);
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, deleter);
  SQLDisconnect(other);
  SQLFreeHandle(SQL_HANDLE_DBC, other);
}

// An encrypted table whose password the session holds is read by the
// driver's own cursor, which changes its rows in place; without the
// password a plain select of it is refused.
TEST_F(Positioned, EncryptedTableUpdatesInPlaceWithThePassword) {
  ASSERT_EQ(SQLExecDirect(stmt_, Sql("call KivEnableEncryption('parts', 'secret')"), SQL_NTS), SQL_SUCCESS)
      << FirstDiag(stmt_).message;
  ASSERT_EQ(SQLExecDirect(stmt_, Sql("call KivEncryptTable('parts')"), SQL_NTS), SQL_SUCCESS)
      << FirstDiag(stmt_).message;
  SQLFreeStmt(stmt_, SQL_CLOSE);
  ASSERT_EQ(OpenCursor(SQL_CURSOR_KEYSET_DRIVEN), SQL_SUCCESS) << FirstDiag(stmt_).message;
  ASSERT_NO_FATAL_FAILURE(BindNameAndQty());
  ASSERT_EQ(Scroll(SQL_FETCH_NEXT), SQL_SUCCESS) << FirstDiag(stmt_).message;
  EXPECT_EQ(Trimmed(name_), "bolt");
  qty_ = 11;
  ASSERT_EQ(SQLSetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << FirstDiag(stmt_).message;
  SQLFreeStmt(stmt_, SQL_CLOSE);
  EXPECT_EQ(Table(), (Rows{"bolt|11", "nut|20", "screw|30", "washer|40"}));

  SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  ASSERT_TRUE(SQL_SUCCEEDED(Connect("")));
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
  EXPECT_EQ(OpenCursor(SQL_CURSOR_KEYSET_DRIVEN), SQL_ERROR);
  EXPECT_EQ(FirstDiag(stmt_).native, static_cast<SQLINTEGER>(KIV_ERR_PASSWORD_REQUIRED)) << FirstDiag(stmt_).message;
}

}  // namespace
