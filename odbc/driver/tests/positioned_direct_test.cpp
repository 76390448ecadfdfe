// Positioned calls made on the driver directly: the refusals a driver
// manager would answer itself before they reach the driver, and the scroll
// options' order of steps.
#include <cstring>
#include <string>

#include "results/execute.h"
#include "results/fetch.h"
#include "handles/messages.h"
#include "results/parameters.h"
#include "results/positioned.h"
#include "sql/statement.h"
#include "table_fixture.h"
#include "data/tablerecord.h"

namespace kivodbc::testing {
namespace {

const SQLCHAR* S(const char* text) { return reinterpret_cast<const SQLCHAR*>(text); }

class PositionedDirectTest : public TableTest {
 protected:
  // Runs a select of the test table through the driver's own cursor.
  void OpenCursor(const char* text = "SELECT NAME FROM items", SQLULEN cursorType = SQL_CURSOR_KEYSET_DRIVEN) {
    ASSERT_EQ(SetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(cursorType), 0), SQL_SUCCESS);
    ASSERT_EQ(SetStmtAttr(stmt_, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK), 0), SQL_SUCCESS);
    KivTestFailCall("KivCheckSQL", KIV_ERR_SQL_DECLINED, "left to the driver", 1);
    ASSERT_EQ(Prepare(stmt_, S(text), SQL_NTS), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).message;
    ASSERT_EQ(Execute(stmt_), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).message;
    ASSERT_EQ(BindCol(stmt_, 1, SQL_C_CHAR, name_, sizeof name_, &length_), SQL_SUCCESS);
  }
  // An update of the first row whose name is awaited; the token asked for.
  void AwaitName(SQLPOINTER* token) {
    ASSERT_NO_FATAL_FAILURE(OpenCursor());
    ASSERT_EQ(Fetch(stmt_), SQL_SUCCESS);
    length_ = SQL_DATA_AT_EXEC;
    ASSERT_EQ(SetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_NEED_DATA);
    ASSERT_EQ(ParamData(stmt_, token), SQL_NEED_DATA);
  }
  // The names of the table, read through the table layer.
  std::string Names() {
    EngineTable* table = Open("items");
    std::string names;
    while (table != nullptr && StepTableRecord(table) == 0) {
      char name[32] = {};
      SQLLEN length = 0;
      int mark = 0;
      EXPECT_EQ(ReadTableField(table, 0, 0, kValueText, name, sizeof name, &length, &mark), 0u);
      names += std::string(name) + ";";
    }
    if (table != nullptr) {
      EXPECT_EQ(CloseEngineTable(Session(), table), 0u);
    }
    return names;
  }
  char name_[32] = {};
  SQLLEN length_ = 0;
};

const char* const kUnchanged = "one;two;three;four;five;";

TEST_F(PositionedDirectTest, CallsTheDriverManagerWouldStopAreRefused) {
  struct Case {
    const char* label;
    SQLSETPOSIROW row;
    SQLUSMALLINT operation;
    SQLUSMALLINT lock;
    bool fetched;
    uint16_t code;
  };
  const Case cases[] = {
      {"a lock", 1, SQL_POSITION, SQL_LOCK_EXCLUSIVE, true, kDriverNotCapable},
      {"an operation above add", 1, SQL_ADD + 1, SQL_LOCK_NO_CHANGE, true, kDriverNotCapable},
      {"no current row", 1, SQL_REFRESH, SQL_LOCK_NO_CHANGE, false, kInvalidCursorState},
      {"a row beyond the rowset", 2, SQL_DELETE, SQL_LOCK_NO_CHANGE, true, kRowOutOfRange},
      {"an add beyond the rowset", 5, SQL_ADD, SQL_LOCK_NO_CHANGE, true, kRowOutOfRange},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_EQ(FreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
    ASSERT_NO_FATAL_FAILURE(OpenCursor());
    if (c.fetched) {
      ASSERT_EQ(Fetch(stmt_), SQL_SUCCESS);
    }
    EXPECT_EQ(SetPos(stmt_, c.row, c.operation, c.lock), SQL_ERROR);
    EXPECT_EQ(Stmt()->code, c.code);
  }
  EXPECT_EQ(BulkOperations(stmt_, SQL_ADD - 1), SQL_ERROR);
  EXPECT_EQ(Stmt()->code, kDriverNotCapable);
  EXPECT_EQ(BulkOperations(stmt_, SQL_FETCH_BY_BOOKMARK + 1), SQL_ERROR);
  EXPECT_EQ(Stmt()->code, kDriverNotCapable);

  // A statement without a select cursor.
  ASSERT_EQ(FreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(SetPos(stmt_, 1, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(Stmt()->code, kNotSupported);
  EXPECT_EQ(BulkOperations(stmt_, SQL_ADD), SQL_ERROR);
  EXPECT_EQ(Stmt()->code, kNotSupported);
  EXPECT_EQ(Names(), kUnchanged);
}

TEST_F(PositionedDirectTest, ABindingBeyondTheSelectListIsRefused) {
  ASSERT_NO_FATAL_FAILURE(OpenCursor());
  ASSERT_EQ(Fetch(stmt_), SQL_SUCCESS);
  // A binding beyond the select list.
  SQLINTEGER number = 7;
  ASSERT_EQ(BindCol(stmt_, 3, SQL_C_SLONG, &number, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(SetPos(stmt_, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(Stmt()->code, kInvalidColumnNumber);
  EXPECT_EQ(Stmt()->positionedRow, -1);
  EXPECT_EQ(Stmt()->cursor.needData, 0);
  EXPECT_EQ(Names(), kUnchanged);
}

TEST_F(PositionedDirectTest, ARowMarkedToBeIgnoredIsLeftAlone) {
  ASSERT_NO_FATAL_FAILURE(OpenCursor());
  ASSERT_EQ(Fetch(stmt_), SQL_SUCCESS);
  SQLUSMALLINT operations[1] = {SQL_ROW_IGNORE};
  SQLUSMALLINT status = 99;
  ASSERT_EQ(SetStmtAttr(stmt_, SQL_ATTR_ROW_OPERATION_PTR, operations, 0), SQL_SUCCESS);
  ASSERT_EQ(SetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, &status, 0), SQL_SUCCESS);
  std::strcpy(name_, "changed");
  length_ = SQL_NTS;
  for (SQLUSMALLINT operation : {SQL_UPDATE, SQL_DELETE}) {
    EXPECT_EQ(SetPos(stmt_, 0, operation, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
    EXPECT_EQ(status, SQL_ROW_SUCCESS);
  }
  EXPECT_EQ(Names(), kUnchanged);
  operations[0] = SQL_ROW_PROCEED;
  EXPECT_EQ(SetPos(stmt_, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  EXPECT_EQ(status, SQL_ROW_UPDATED);
  EXPECT_EQ(Names(), "changed;two;three;four;five;");
}

TEST_F(PositionedDirectTest, BindingsDroppedWhileAValueIsAwaitedEndTheChange) {
  SQLPOINTER token = nullptr;
  ASSERT_NO_FATAL_FAILURE(AwaitName(&token));
  EXPECT_EQ(token, static_cast<SQLPOINTER>(name_));
  ASSERT_EQ(FreeStmt(stmt_, SQL_UNBIND), SQL_SUCCESS);
  char text[] = "gone";
  EXPECT_EQ(PutData(stmt_, text, SQL_NTS), SQL_ERROR);
  EXPECT_EQ(Stmt()->code, kInvalidCursorState);
  EXPECT_EQ(Stmt()->cursor.needData, 0);
  EXPECT_EQ(Stmt()->positionedRow, -1);
  EXPECT_EQ(Fetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(Names(), kUnchanged);
}

TEST_F(PositionedDirectTest, ALongValueHalfSentIsFreedWithItsBinding) {
  // The sanitizer build finds what would stay behind.
  for (SQLUSMALLINT option : {SQL_UNBIND, SQL_DROP}) {
    SCOPED_TRACE(option);
    if (stmt_ == nullptr) stmt_ = NewStatement(conn_);
    SQLPOINTER token = nullptr;
    ASSERT_NO_FATAL_FAILURE(AwaitName(&token));
    std::string piece(1500, 'x');
    ASSERT_TRUE(SQL_SUCCEEDED(PutData(stmt_, piece.data(), static_cast<SQLLEN>(piece.size()))));
    ASSERT_EQ(FreeStmt(stmt_, option), SQL_SUCCESS);
    if (option == SQL_DROP) {
      stmt_ = nullptr;
    } else {
      ASSERT_EQ(FreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
    }
  }
  EXPECT_EQ(Names(), kUnchanged);
}

TEST_F(PositionedDirectTest, TheBookmarkOfAnAddedRowNamesNoRowOnAnyCursor) {
  Stmt()->useBookmarks = SQL_UB_VARIABLE;
  ASSERT_NO_FATAL_FAILURE(OpenCursor("SELECT NAME FROM items", SQL_CURSOR_FORWARD_ONLY));
  SQLINTEGER bookmark = 0;
  ASSERT_EQ(BindCol(stmt_, 0, SQL_C_SLONG, &bookmark, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(Fetch(stmt_), SQL_SUCCESS);
  std::strcpy(name_, "six");
  length_ = SQL_NTS;
  ASSERT_EQ(SetPos(stmt_, 0, SQL_ADD, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  EXPECT_EQ(bookmark, -3);
  EXPECT_EQ(Stmt()->currentRow, -3);
  EXPECT_EQ(SetPos(stmt_, 1, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(Stmt()->code, kAddedRowBookmark);
  ASSERT_EQ(SetStmtAttr(stmt_, SQL_ATTR_FETCH_BOOKMARK_PTR, &bookmark, 0), SQL_SUCCESS);
  EXPECT_EQ(FetchScroll(stmt_, SQL_FETCH_BOOKMARK, 0), SQL_ERROR);
  EXPECT_EQ(Stmt()->code, kAddedRowBookmark);
  EXPECT_EQ(Names(), "one;two;three;four;five;six;");
}

TEST_F(PositionedDirectTest, ScrollOptionsRunEveryStepAndReportAChangeAtTheEnd) {
  // The first step changes the concurrency asked for; the later ones succeed.
  EXPECT_EQ(SetScrollOptions(stmt_, SQL_CONCUR_VALUES, SQL_SCROLL_KEYSET_DRIVEN, 1), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(Stmt()->code, kOptionValueChanged);
  EXPECT_EQ(Stmt()->concurrency, SQL_CONCUR_LOCK);
  EXPECT_EQ(Stmt()->cursorType, SQL_CURSOR_KEYSET_DRIVEN);
  // Any other keyset size is a keyset size, which is not kept.
  EXPECT_EQ(SetScrollOptions(stmt_, SQL_CONCUR_READ_ONLY, 5, 1), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(Stmt()->code, kOptionValueChanged);
  EXPECT_EQ(Stmt()->concurrency, SQL_CONCUR_READ_ONLY);
  EXPECT_EQ(Stmt()->cursorType, SQL_CURSOR_KEYSET_DRIVEN);
  // A failed step ends the call: an open cursor keeps its type.
  ASSERT_NO_FATAL_FAILURE(OpenCursor());
  EXPECT_EQ(SetScrollOptions(stmt_, SQL_CONCUR_LOCK, SQL_SCROLL_FORWARD_ONLY, 1), SQL_ERROR);
  EXPECT_EQ(Stmt()->code, kInvalidCursorState);
  EXPECT_EQ(Stmt()->cursorType, SQL_CURSOR_KEYSET_DRIVEN);
}

}  // namespace
}  // namespace kivodbc::testing
