// Parameters bound, described and counted over prepared statements; their
// values gathered for execution; data sent at execution in pieces.
#include <string>
#include <vector>

#include "handles/messages.h"
#include "sql/paramconvert.h"
#include "results/parameters.h"
#include "sql/parsetree.h"
#include "sql/statement.h"
#include "table_fixture.h"
#include "handles/typetable.h"

namespace kivodbc::testing {
namespace {

const SQLCHAR* S(const char* text) { return reinterpret_cast<const SQLCHAR*>(text); }
constexpr const char* kInsert = "insert into items (NAME, PIC, RATE) values (?, ?, ?)";

TEST(ParameterTypes, DefaultCTypeAndValueTypeBySqlType) {
  struct Case {
    int16_t sqlType;
    int16_t cType;
    int16_t valueType;
  } cases[] = {
      {SQL_CHAR, SQL_C_CHAR, kValueText},          {SQL_VARCHAR, SQL_C_CHAR, kValueText},
      {SQL_LONGVARCHAR, SQL_C_CHAR, kValueText},   {SQL_NUMERIC, SQL_C_CHAR, kValueText},
      {SQL_DECIMAL, SQL_C_CHAR, kValueText},       {SQL_BIGINT, SQL_C_CHAR, kValueText},
      {SQL_INTEGER, SQL_C_LONG, kValueInteger},    {SQL_SMALLINT, SQL_C_SHORT, kValueText},
      {SQL_TINYINT, SQL_C_TINYINT, kValueText},    {SQL_BIT, SQL_C_BIT, kValueText},
      {SQL_FLOAT, SQL_C_DOUBLE, kValueDouble},     {SQL_DOUBLE, SQL_C_DOUBLE, kValueDouble},
      {SQL_REAL, SQL_C_FLOAT, kValueDouble},       {SQL_DATE, SQL_DATE, kValueDate},
      {SQL_TYPE_DATE, SQL_TYPE_DATE, kValueDate},  {SQL_TIME, SQL_TIME, kValueTime},
      {SQL_TYPE_TIME, SQL_TYPE_TIME, kValueTime},  {SQL_TIMESTAMP, SQL_TIMESTAMP, kValueTimestamp},
      {SQL_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, kValueTimestamp},
      {SQL_BINARY, SQL_C_BINARY, kValueBinary},    {SQL_VARBINARY, SQL_C_BINARY, kValueBinary},
      {SQL_LONGVARBINARY, SQL_C_BINARY, kValueBinary},
      {SQL_WCHAR, 0, kValueText},                  {SQL_WLONGVARCHAR, 0, kValueText},
      {SQL_GUID, 0, 0},                            {0, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DefaultParameterCType(c.sqlType), c.cType) << c.sqlType;
    EXPECT_EQ(ParameterValueTypeOf(c.sqlType), c.valueType) << c.sqlType;
  }
}

class ParametersTest : public TableTest {
 protected:
  SQLRETURN PrepareText(const char* text) { return Prepare(stmt_, S(text), SQL_NTS); }
  SQLRETURN Bind(SQLUSMALLINT number, SQLSMALLINT cType, SQLSMALLINT sqlType, void* value, SQLLEN* length,
                 SQLSMALLINT ioType = SQL_PARAM_INPUT) {
    return BindParameter(stmt_, number, ioType, cType, sqlType, 0, 0, value, 0, length);
  }
  ParseNode* Node(int32_t number) {
    for (ParseNode* node = Stmt()->parseTree->parameters; node != nullptr; node = node->next)
      if (node->ordinal == number) return node;
    return nullptr;
  }
  const DescItem* Binding(int16_t number) {
    for (const DescItem* item = Stmt()->apd->firstItem; item != nullptr; item = item->next)
      if (item->number == number) return item;
    return nullptr;
  }
  std::string State() { return DiagOf(SQL_HANDLE_STMT, stmt_).state; }
  std::string TextOf(int32_t number) { return ParameterBuffer(Node(number)->parameterValue); }
};

TEST_F(ParametersTest, BindingSettlesTheCTypeAndKeepsItsFields) {
  size_t count = 0;
  const ParameterSigns signs = SignsOfTypeTable(TypeTableOf(Stmt()->conn->session, &count), count);
  SQLLEN length = 0;
  char value[8] = {};
  struct Case {
    int16_t cType;
    int16_t sqlType;
    int16_t expected;
    int16_t precision;
  } cases[] = {
      {SQL_C_DEFAULT, SQL_INTEGER, static_cast<int16_t>(signs.integerUnsigned ? SQL_C_ULONG : SQL_C_SLONG), 0},
      {SQL_C_LONG, SQL_VARCHAR, static_cast<int16_t>(signs.integerUnsigned ? SQL_C_ULONG : SQL_C_SLONG), 0},
      {SQL_C_DEFAULT, SQL_SMALLINT, static_cast<int16_t>(signs.smallintUnsigned ? SQL_C_USHORT : SQL_C_SSHORT), 0},
      {SQL_C_TINYINT, SQL_CHAR, static_cast<int16_t>(signs.tinyintUnsigned ? SQL_C_UTINYINT : SQL_C_STINYINT), 0},
      {SQL_C_DEFAULT, SQL_DECIMAL, SQL_C_CHAR, 0},
      {SQL_C_DEFAULT, SQL_REAL, SQL_C_FLOAT, 0},
      {SQL_C_DEFAULT, SQL_LONGVARBINARY, SQL_C_BINARY, 0},
      {SQL_C_DEFAULT, SQL_TYPE_TIMESTAMP, SQL_C_TYPE_TIMESTAMP, 0},
      {SQL_C_NUMERIC, SQL_NUMERIC, SQL_C_NUMERIC, 15},
      {SQL_C_SBIGINT, SQL_BIGINT, SQL_C_SBIGINT, 19},
      {SQL_C_UBIGINT, SQL_BIGINT, SQL_C_UBIGINT, 20},
      {SQL_C_ULONG, SQL_INTEGER, SQL_C_ULONG, 0},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(BindParameter(stmt_, 2, SQL_PARAM_INPUT, c.cType, c.sqlType, 77, 3, value, 5, &length), SQL_SUCCESS)
        << c.cType << "/" << c.sqlType << " " << DiagOf(SQL_HANDLE_STMT, stmt_).message;
    const DescItem* item = Binding(2);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->cType, c.expected) << c.cType << "/" << c.sqlType;
    EXPECT_EQ(item->precision, c.precision) << c.cType;
    EXPECT_EQ(item->scale, 0);
    EXPECT_EQ(item->dataPtr, value);
    EXPECT_EQ(item->extra[0], 77);
    EXPECT_EQ(item->indicatorPtr, &length);
    EXPECT_EQ(item->octetLengthPtr, &length);
  }
  // Rebinding replaces; a number beyond any marker is kept all the same.
  int count2 = 0;
  for (const DescItem* item = Stmt()->apd->firstItem; item != nullptr; item = item->next) count2 += item->number == 2;
  EXPECT_EQ(count2, 1);
  EXPECT_EQ(Bind(40, SQL_C_CHAR, SQL_CHAR, value, nullptr), SQL_SUCCESS);
  EXPECT_NE(Binding(40), nullptr);

  // Refusals leave no binding behind.
  struct Refusal {
    int16_t ioType;
    int16_t cType;
    int16_t sqlType;
    const char* state;
  } refusals[] = {{SQL_PARAM_INPUT, SQL_C_DEFAULT, SQL_GUID, "IM001"},
                  {SQL_PARAM_OUTPUT, SQL_C_CHAR, SQL_CHAR, "HYC00"}};
  for (const Refusal& r : refusals) {
    EXPECT_EQ(Bind(9, r.cType, r.sqlType, value, &length, r.ioType), SQL_ERROR);
    EXPECT_EQ(State(), r.state);
    EXPECT_EQ(Binding(9), nullptr);
  }
}

TEST_F(ParametersTest, MarkersAreDescribedCountedAndRetypedByBinding) {
  SQLSMALLINT n = -1;
  EXPECT_EQ(NumParams(stmt_, &n), SQL_ERROR);  // nothing prepared
  EXPECT_EQ(State(), "24000");
  EXPECT_EQ(DescribeParam(stmt_, 1, nullptr, nullptr, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(State(), "24000");

  ASSERT_EQ(PrepareText(kInsert), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  EXPECT_EQ(NumParams(stmt_, &n), SQL_SUCCESS);
  EXPECT_EQ(n, 3);
  SQLLEN length = 0;
  char value[8] = {};
  ASSERT_EQ(Bind(2, SQL_C_DEFAULT, SQL_INTEGER, value, &length), SQL_SUCCESS);
  ASSERT_EQ(Bind(3, SQL_C_CHAR, SQL_GUID, value, &length), SQL_SUCCESS);  // changes the SQL type only
  struct Expect {
    SQLSMALLINT sqlType;
    int16_t category;
  } expected[] = {{SQL_VARCHAR, kCategoryText}, {SQL_INTEGER, kCategoryInteger}, {SQL_GUID, kCategoryText}};
  for (SQLUSMALLINT i = 1; i <= 3; ++i) {
    SQLSMALLINT type = 0, digits = -5, nullable = 0;
    SQLULEN size = 0;
    ASSERT_EQ(DescribeParam(stmt_, i, &type, &size, &digits, &nullable), SQL_SUCCESS);
    EXPECT_EQ(type, expected[i - 1].sqlType) << i;
    EXPECT_EQ(Node(i)->category, expected[i - 1].category) << i;
    EXPECT_EQ(size, 1024u);
    EXPECT_EQ(digits, 0);
    EXPECT_EQ(nullable, SQL_NULLABLE_UNKNOWN);
  }
  for (SQLUSMALLINT bad : {0, 4, 300}) {
    EXPECT_EQ(DescribeParam(stmt_, bad, nullptr, nullptr, nullptr, nullptr), SQL_ERROR) << bad;
    EXPECT_EQ(State(), "07009");
  }
  ASSERT_EQ(PrepareText("select NAME from items"), SQL_SUCCESS);
  EXPECT_EQ(NumParams(stmt_, &n), SQL_SUCCESS);
  EXPECT_EQ(n, 0);
}

TEST_F(ParametersTest, ParamOptionsKeepsOneSet) {
  SQLULEN processed = 99;
  EXPECT_EQ(ParamOptions(stmt_, 1, &processed), SQL_SUCCESS);
  EXPECT_EQ(ParamOptions(stmt_, 5, &processed), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(State(), "01S02");
  EXPECT_EQ(Stmt()->builtIn[kIpd].rowsProcessedPtr, &processed);
  ASSERT_EQ(PrepareText(kInsert), SQL_SUCCESS);
  char name[] = "ab";
  SQLLEN nts = SQL_NTS;
  for (SQLUSMALLINT i = 1; i <= 3; ++i) ASSERT_EQ(Bind(i, SQL_C_CHAR, SQL_VARCHAR, name, &nts), SQL_SUCCESS);
  EXPECT_EQ(BindParameterValues(Stmt()), 0u);
  EXPECT_EQ(processed, 1u);
}

TEST_F(ParametersTest, GatheringConvertsEveryBoundValue) {
  ASSERT_EQ(PrepareText(kInsert), SQL_SUCCESS);
  SQLUSMALLINT status[1] = {99};
  Stmt()->builtIn[kIpd].arrayStatusPtr = status;
  char name[] = "widget";
  SQLINTEGER number = -42;
  char cut[] = "abcdef";
  SQLLEN nullData = SQL_NULL_DATA, three = 3;
  // Parameter 1 without a length pointer is NUL-terminated text; parameter 2
  // without one has the size of its type.
  ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, name, nullptr), SQL_SUCCESS);
  ASSERT_EQ(Bind(2, SQL_C_SLONG, SQL_INTEGER, &number, nullptr), SQL_SUCCESS);
  ASSERT_EQ(Bind(3, SQL_C_CHAR, SQL_VARCHAR, cut, &three), SQL_SUCCESS);
  EXPECT_EQ(BindParameterValues(Stmt()), 0u);
  EXPECT_EQ(TextOf(1), "widget");
  EXPECT_EQ(Node(2)->parameterValue->valueType, kValueInteger);
  EXPECT_EQ(Node(2)->parameterValue->number, -42.0);
  EXPECT_EQ(TextOf(3), "abc");
  EXPECT_EQ(status[0], SQL_PARAM_SUCCESS);
  EXPECT_EQ(Stmt()->cursor.needData, 0);

  // A null indicator.
  ASSERT_EQ(Bind(3, SQL_C_CHAR, SQL_VARCHAR, cut, &nullData), SQL_SUCCESS);
  EXPECT_EQ(BindParameterValues(Stmt()), 0u);
  EXPECT_TRUE(Node(3)->parameterValue->isNull);
  // Failures: text that is no number; a marker without binding.
  char word[] = "twelve";
  SQLLEN nts = SQL_NTS;
  ASSERT_EQ(Bind(2, SQL_C_CHAR, SQL_INTEGER, word, &nts), SQL_SUCCESS);
  EXPECT_EQ(BindParameterValues(Stmt()), 2112u);
  ASSERT_EQ(FreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, name, nullptr), SQL_SUCCESS);
  EXPECT_EQ(BindParameterValues(Stmt()), kParameterMissing);
  EXPECT_EQ(State(), "07002");
  EXPECT_EQ(Stmt()->cursor.needData, 0);
}

class DataAtExecution : public ParametersTest {
 protected:
  void SetUp() override {
    ParametersTest::SetUp();
    ASSERT_EQ(PrepareText(kInsert), SQL_SUCCESS);
    ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, token1_, &atExec_), SQL_SUCCESS);
    ASSERT_EQ(Bind(2, SQL_C_CHAR, SQL_VARCHAR, plain_, &nts_), SQL_SUCCESS);
    ASSERT_EQ(Bind(3, SQL_C_CHAR, SQL_VARCHAR, token3_, &lenAtExec_), SQL_SUCCESS);
    ASSERT_EQ(BindParameterValues(Stmt()), 0u);
  }
  SQLPOINTER NextToken(SQLRETURN expected = SQL_NEED_DATA) {
    SQLPOINTER token = nullptr;
    EXPECT_EQ(ParamData(stmt_, &token), expected) << DiagOf(SQL_HANDLE_STMT, stmt_).message;
    return token;
  }
  SQLRETURN Put(const std::string& piece) {
    return PutData(stmt_, const_cast<char*>(piece.data()), static_cast<SQLLEN>(piece.size()));
  }
  char token1_[4] = {};
  char plain_[6] = "plain";
  char token3_[4] = {};
  SQLLEN atExec_ = SQL_DATA_AT_EXEC;
  SQLLEN lenAtExec_ = SQL_LEN_DATA_AT_EXEC(3000);
  SQLLEN nts_ = SQL_NTS;
};

TEST_F(DataAtExecution, TokensComeInParameterOrderAndPiecesAppend) {
  EXPECT_EQ(Stmt()->cursor.needData, 1);
  EXPECT_EQ(Stmt()->putOffset, 0);
  EXPECT_EQ(TextOf(2), "plain");
  EXPECT_EQ(NextToken(), token1_);
  EXPECT_EQ(Put("first"), SQL_SUCCESS);
  EXPECT_EQ(NextToken(), token3_);
  const std::string piece(1000, 'x');
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Put(piece), SQL_SUCCESS) << i;
  EXPECT_EQ(TextOf(1), "first");
  EXPECT_EQ(TextOf(3), std::string(3000, 'x'));
  // Every value is in: the statement runs, and the engine refuses it (the
  // fixture's table has no such columns).
  NextToken(SQL_ERROR);
  EXPECT_NE(Stmt()->code, kFeatureNotImplemented);
  EXPECT_NE(Stmt()->code, 0);
  EXPECT_EQ(Stmt()->cursor.needData, 0);
  EXPECT_EQ(Stmt()->dataItem, nullptr);
}

TEST_F(DataAtExecution, CallsOutOfSequenceAreRefused) {
  char value[4] = {};
  SQLLEN length = 0;
  EXPECT_EQ(Put("early"), SQL_ERROR);  // no token handed out yet
  EXPECT_EQ(State(), "24000");
  EXPECT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, value, &length), SQL_ERROR);
  EXPECT_EQ(State(), "24000");
  EXPECT_EQ(FreeStmt(stmt_, SQL_RESET_PARAMS), SQL_ERROR);
  EXPECT_EQ(PrepareText(kInsert), SQL_ERROR);
  EXPECT_EQ(NextToken(), token1_);
  NextToken(SQL_ERROR);  // nothing put since the last token
  EXPECT_EQ(State(), "24000");
  // A closed statement ends the sequence.
  ASSERT_EQ(FreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(Put("late"), SQL_ERROR);
  NextToken(SQL_ERROR);
  EXPECT_EQ(State(), "24000");
}

TEST_F(DataAtExecution, AFailedPieceAbandonsTheSequence) {
  ASSERT_EQ(FreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  char digits[4] = {};
  ASSERT_EQ(Bind(2, SQL_C_CHAR, SQL_INTEGER, digits, &atExec_), SQL_SUCCESS);
  ASSERT_EQ(BindParameterValues(Stmt()), 0u);
  EXPECT_EQ(NextToken(), token1_);
  EXPECT_EQ(Put("a"), SQL_SUCCESS);
  EXPECT_EQ(NextToken(), digits);
  // Text that is no number ends the sequence.
  EXPECT_EQ(Put("twelve"), SQL_ERROR);
  EXPECT_EQ(State(), "22018");
  EXPECT_EQ(Stmt()->cursor.needData, 0);
  NextToken(SQL_ERROR);
  EXPECT_EQ(State(), "24000");
}

}  // namespace
}  // namespace kivodbc::testing
