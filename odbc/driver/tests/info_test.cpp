// SQLGetInfo answers with their widths, the data-type tables of each kind of
// connection, SQLGetTypeInfo and SQLGetFunctions.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "driver_fixture.h"
#include "handles/typetable.h"

namespace kivodbc {
namespace {

using testing::DiagOf;
using testing::DriverTest;
using testing::Text;

enum class W { kText, kSmall, kLarge };

struct Answer {
  SQLUSMALLINT type;
  W width;
  uint32_t number;
  std::string text;
};

Answer T(SQLUSMALLINT type, std::string text) { return {type, W::kText, 0, std::move(text)}; }
Answer S(SQLUSMALLINT type, uint32_t n) { return {type, W::kSmall, n, {}}; }
Answer L(SQLUSMALLINT type, uint32_t n) { return {type, W::kLarge, n, {}}; }

// Reads one answer into a buffer filled with a marker, so that a value
// written wider than its type shows.
void ExpectAnswer(SQLHDBC conn, const Answer& a) {
  unsigned char buffer[300];
  std::memset(buffer, 0xAB, sizeof buffer);
  SQLSMALLINT length = -1;
  ASSERT_EQ(GetInfo(conn, a.type, buffer, sizeof buffer, &length), SQL_SUCCESS) << a.type;
  switch (a.width) {
    case W::kText:
      EXPECT_EQ(reinterpret_cast<char*>(buffer), a.text) << a.type;
      EXPECT_EQ(length, static_cast<SQLSMALLINT>(a.text.size())) << a.type;
      break;
    case W::kSmall: {
      SQLUSMALLINT value = 0;
      std::memcpy(&value, buffer, sizeof value);
      EXPECT_EQ(value, a.number) << a.type;
      EXPECT_EQ(length, 2) << a.type;
      EXPECT_EQ(buffer[2], 0xAB) << a.type;
      break;
    }
    case W::kLarge: {
      SQLUINTEGER value = 0;
      std::memcpy(&value, buffer, sizeof value);
      EXPECT_EQ(value, a.number) << a.type;
      EXPECT_EQ(length, 4) << a.type;
      EXPECT_EQ(buffer[4], 0xAB) << a.type;
      break;
    }
  }
}

const std::set<SQLUSMALLINT> kUnanswered = {3, 4, 5, 10, 76, 122, 125, 126, 135, 173, 200, 9999, 10006, 10023, 65000};

class Info : public DriverTest {};

TEST_F(Info, EveryInfoTypeWithItsWidth) {
  SQLHDBC conn = ConnectedBy("DSN=KivData");
  std::vector<Answer> answers = {
      S(0, 0), S(1, 0), T(2, "KivData"), T(6, "KIVODBC.DLL"), T(7, "03.00.0000"), L(8, 191), S(9, 1),
      T(11, "N"), S(12, 1), T(13, "Morvane"), T(14, "\\"), S(15, 1), T(16, DataDirectory()), T(17, "Morvane"),
      T(18, "05.50.0.0"), T(19, "N"), T(20, "N"), T(21, "Y"), S(22, 0), S(23, 1), S(24, 1), T(25, "N"), L(26, 2),
      T(27, "Y"), S(28, 4), T(29, "\""), S(30, 128), S(31, 19), S(32, 0), S(33, 200), S(34, 255), S(35, 255),
      T(36, "N"), T(37, "Y"), T(38, "Y"), T(39, ""), T(40, "Stored Procedure"), T(41, "."), T(42, "Database"),
      L(43, 3), L(44, 7), T(45, "table"), S(46, 1), T(47, "Anonymous"), L(48, 3), L(49, 0xFFFFFF),
      L(50, 0xFFFFFF), L(51, 7), L(52, 0x1FFFFF), L(53, 32255), L(54, 261631), L(55, 32255), L(56, 261631),
      L(57, 167169), L(58, 32255), L(59, 32255), L(60, 32255), L(61, 32255), L(62, 0), L(63, 32255), L(64, 32255),
      L(65, 32255), L(66, 199937), L(67, 232705), L(68, 32255), L(69, 261631), L(70, 261631), L(71, 0), L(72, 2),
      T(73, "Y"), S(74, 2), S(75, 1), T(77, "03.00"), L(78, 1), L(79, 31), L(80, 0), L(81, 11), L(82, 82), L(83, 4),
      S(84, 0), S(85, 1), L(86, 584), T(87, "Y"), S(88, 2), T(89, ""), T(90, "N"), L(92, 1), S(93, 4), T(94, ""),
      L(95, 31), L(96, 3), S(97, 20), S(98, 0), S(99, 20), S(100, 0), S(101, 0), L(102, 4082), T(103, "N"),
      L(104, 65536), S(106, 0), S(107, 63), L(109, 510), L(110, 510), T(111, "N"), L(112, 2048), T(113, "Y"),
      S(114, 1), L(115, 125), S(116, 0), L(118, 1), L(120, 2), L(121, 3), L(132, 5633), L(134, 1), L(141, 1),
      L(143, 1), L(144, 990799), L(145, 115), L(146, 990785), L(147, 115), L(148, 3), L(150, 990799), L(151, 83),
      L(152, 1), L(153, 2), L(154, 3), L(160, 16135), L(169, 31), L(170, 3), T(171, "03.00.0000"), L(172, 3),
      T(10000, ""), L(10001, 0), T(10002, "N"), T(10003, "N"), T(10004, ""), S(10005, 1024), L(10021, 0),
      L(10022, 0), L(65003, 125)};
  // Every other type from 82 to 172 answers a 32-bit 0.
  std::set<SQLUSMALLINT> named;
  for (const Answer& a : answers) named.insert(a.type);
  for (SQLUSMALLINT t = 82; t <= 172; ++t)
    if (!named.count(t) && !kUnanswered.count(t)) answers.push_back(L(t, 0));
  for (const Answer& a : answers) ExpectAnswer(conn, a);
  // Everything else is not answered by the driver.
  for (SQLUSMALLINT t = 0; t < 200; ++t) {
    bool answered = false;
    for (const Answer& a : answers) answered = answered || a.type == t;
    if (answered) continue;
    EXPECT_EQ(GetInfo(conn, t, nullptr, 0, nullptr), SQL_ERROR) << t;
    EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, conn).state, "IM001") << t;
  }
  for (SQLUSMALLINT t : kUnanswered) EXPECT_EQ(GetInfo(conn, t, nullptr, 0, nullptr), SQL_ERROR) << t;
}

TEST_F(Info, AnswersThatDependOnTheConnection) {
  struct Case {
    std::string keys;
    std::vector<Answer> answers;
  } cases[] = {
      {"DefaultType=Clipper", {S(30, 10), L(102, 256)}},
      {"DefaultType=FoxPro;UID=someone", {S(30, 10), L(102, 240), T(47, "someone"), T(2, "")}},
      {"DefaultType=Morvane", {S(30, 128), L(102, 4082)}},
  };
  for (const Case& c : cases) {
    SQLHDBC conn = ConnectedBy("DataDirectory=" + DataDirectory() + ";" + c.keys);
    for (const Answer& a : c.answers) ExpectAnswer(conn, a);
  }
  // Before a connect (the driver manager refuses the call, a direct one is answered).
  SQLHDBC idle = NewConnection();
  for (const Answer& a : {T(16, ""), T(47, ""), S(23, 1), L(26, 0), S(46, 0), T(37, "N"), L(72, 0), S(30, 128),
                          L(102, 4082)})
    ExpectAnswer(idle, a);
}

TEST_F(Info, TextAnswersAreCutWithAWarningAndANullBufferIsTolerated) {
  SQLHDBC conn = ConnectedBy("DSN=KivData");
  SQLSMALLINT length = 0;
  EXPECT_EQ(GetInfo(conn, SQL_DRIVER_NAME, nullptr, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(length, 11);
  EXPECT_EQ(GetInfo(conn, SQL_TXN_CAPABLE, nullptr, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(length, 2);
  char cut[5] = {};
  EXPECT_EQ(GetInfo(conn, SQL_DRIVER_NAME, cut, sizeof cut, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(cut, "KIVO");
  EXPECT_EQ(length, 11);
  EXPECT_EQ(DiagOf(SQL_HANDLE_DBC, conn).state, "01004");
}

std::vector<std::string> Names(const std::vector<const TypeEntry*>& entries) {
  std::vector<std::string> names;
  for (const TypeEntry* e : entries) names.push_back(e->typeName);
  return names;
}

TEST_F(Info, TypeTablePerConnectionKind) {
  const std::vector<std::string> own = {"LOGICAL",   "BLOB",    "RAW",     "MEMO",  "CHAR",   "NUMERIC",
                                        "INTEGER",   "AUTOINC", "SHORT",   "DOUBLE", "CURDOUBLE", "DATE",
                                        "TIME",      "TIMESTAMP", "VARCHAR", "MONEY", "CICHAR", "ROWVERSION",
                                        "MODTIME"};
  const std::vector<std::string> dbf = {"LOGICAL", "BLOB",   "MEMO", "CHAR",   "NUMERIC",
                                        "INTEGER", "DOUBLE", "DATE", "VARCHAR"};
  const std::string dictionary = DataDirectory() + "/types.kdd";
  ASSERT_EQ(KivDDCreate(dictionary.c_str(), "user ADMIN pw\n"), 0u);
  struct Case {
    std::string text;
    size_t count;
    std::vector<std::string> listed;
  } cases[] = {
      {"DSN=KivData", 26, own},
      {"DataDirectory=" + DataDirectory() + ";DefaultType=Clipper", 25, dbf},
      {"DataDirectory=" + DataDirectory() + ";DefaultType=FoxPro", 25, dbf},
      {"DataDirectory=" + dictionary + ";DefaultType=Clipper;UID=ADMIN;PWD=pw", 26, own},
  };
  for (const Case& c : cases) {
    SQLHDBC conn = ConnectedBy(c.text);
    const EngineSession* session = AsConn(conn)->session;
    ASSERT_NE(session, nullptr) << c.text;
    EXPECT_EQ(session->typeCount, c.count) << c.text;
    SQLHSTMT stmt = NewStatement(conn);
    EXPECT_EQ(Names(ListedTypes(AsStmt(stmt), session, SQL_ALL_TYPES)), c.listed) << c.text;
  }
  std::filesystem::remove(dictionary);
}

TEST_F(Info, TypeInfoRequestsByDateCodesOfBothVersions) {
  SQLHDBC conn = ConnectedBy("DSN=KivData");
  SQLHSTMT stmt = NewStatement(conn);
  StmtRecord* s = AsStmt(stmt);
  ASSERT_EQ(GetTypeInfo(stmt, SQL_TYPE_DATE), SQL_SUCCESS);
  EXPECT_EQ(s->kind, kKindTypeInfo);
  EXPECT_EQ(Names(ListedTypes(s, AsConn(conn)->session, s->typeInfoType)), std::vector<std::string>{"DATE"});
  // A statement with a result first needs closing.
  EXPECT_EQ(GetTypeInfo(stmt, SQL_ALL_TYPES), SQL_ERROR);
  EXPECT_EQ(DiagOf(SQL_HANDLE_STMT, stmt).state, "24000");
  ASSERT_EQ(FreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(GetTypeInfo(stmt, SQL_DATE), SQL_SUCCESS);  // the old code in an ODBC 3 environment
  EXPECT_EQ(Names(ListedTypes(s, AsConn(conn)->session, s->typeInfoType)), std::vector<std::string>{"DATE"});

  SQLHENV odbc2 = nullptr;
  SQLHDBC conn2 = nullptr;
  ASSERT_EQ(AllocEnv(&odbc2), SQL_SUCCESS);
  ASSERT_EQ(AllocConnect(odbc2, &conn2), SQL_SUCCESS);
  ASSERT_EQ(DriverConnect(conn2, nullptr, Text("DSN=KivData"), SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  SQLHSTMT stmt2 = nullptr;
  ASSERT_EQ(AllocStmt(conn2, &stmt2), SQL_SUCCESS);
  ASSERT_EQ(GetTypeInfo(stmt2, SQL_DATE), SQL_SUCCESS);
  const auto rows = ListedTypes(AsStmt(stmt2), AsConn(conn2)->session, AsStmt(stmt2)->typeInfoType);
  EXPECT_EQ(Names(rows), std::vector<std::string>{"DATE"});
  EXPECT_EQ(MapDateTimeTypeCode(AsStmt(stmt2), rows[0]->sqlType), SQL_DATE);
  EXPECT_EQ(FreeEnv(odbc2), SQL_SUCCESS);
}

TEST(TypeTable, TypeEntryOfAColumn) {
  EngineSession own = {};
  own.tableType = 3;
  SelectTypeTable(&own);
  EngineSession dbf = {};
  dbf.tableType = 2;
  SelectTypeTable(&dbf);
  struct Case {
    const EngineSession* session;
    int16_t sqlType;
    uint16_t engineType;
    const char* expected;  // null: no entry
  } cases[] = {
      {&own, SQL_INTEGER, 11, "INTEGER"},  {&own, SQL_INTEGER, 15, "AUTOINC"}, {&own, SQL_DOUBLE, 10, "DOUBLE"},
      {&own, SQL_DOUBLE, 17, "CURDOUBLE"}, {&dbf, SQL_DOUBLE, 17, nullptr},    {&own, SQL_CHAR, 4, "CHAR"},
      {&own, SQL_CHAR, 20, "CICHAR"},      {&own, SQL_LONGVARCHAR, 5, "MEMO"}, {&own, SQL_VARCHAR, 8, "VARCHAR"},
      {&dbf, SQL_VARCHAR, 8, "VARCHAR"},
      {&own, SQL_NUMERIC, 18, "MONEY"},    {&own, SQL_NUMERIC, 21, "ROWVERSION"}, {&own, SQL_NUMERIC, 2, "NUMERIC"},
      {&own, SQL_TIMESTAMP, 22, "MODTIME"}, {&own, SQL_TIMESTAMP, 14, "TIMESTAMP"}, {&own, SQL_BIGINT, 2, "BIGINT"},
      {&own, SQL_WCHAR, 4, nullptr},
  };
  for (const Case& c : cases) {
    const TypeEntry* entry = TypeEntryFor(c.session, c.sqlType, c.engineType);
    if (c.expected == nullptr) {
      EXPECT_EQ(entry, nullptr) << c.sqlType << "/" << c.engineType;
    } else {
      ASSERT_NE(entry, nullptr) << c.sqlType << "/" << c.engineType;
      EXPECT_STREQ(entry->typeName, c.expected);
    }
  }
}

TEST_F(Info, FunctionListAgreesInEveryForm) {
  SQLHDBC conn = NewConnection();
  auto single = [&](SQLUSMALLINT id) {
    SQLUSMALLINT supported = 99;
    EXPECT_EQ(GetFunctions(conn, id, &supported), SQL_SUCCESS);
    return supported;
  };
  for (SQLUSMALLINT id : {1, 21, 23, 24, 40, 54, 58, 69, 72, 1001, 1003, 1012, 1014, 1016, 1021})
    EXPECT_EQ(single(id), SQL_TRUE) << id;
  // Browsing and the privilege catalogs are exported yet reported missing.
  for (SQLUSMALLINT id : {22, 25, 39, 55, 56, 57, 70, 71, 73, 1000, 1002, 1013, 1015, 1022, 3999})
    EXPECT_EQ(single(id), SQL_FALSE) << id;

  SQLUSMALLINT bitmap[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE] = {};
  ASSERT_EQ(GetFunctions(conn, SQL_API_ODBC3_ALL_FUNCTIONS, bitmap), SQL_SUCCESS);
  SQLUSMALLINT all[100] = {};
  ASSERT_EQ(GetFunctions(conn, SQL_API_ALL_FUNCTIONS, all), SQL_SUCCESS);
  EXPECT_EQ(all[0], SQL_FALSE);
  for (SQLUSMALLINT id = 1; id < 4000; ++id) {
    if (id == SQL_API_ODBC3_ALL_FUNCTIONS) continue;
    const bool inBitmap = SQL_FUNC_EXISTS(bitmap, id) == SQL_TRUE;
    ASSERT_EQ(inBitmap, single(id) == SQL_TRUE) << id;
    if (id < 100) {
      ASSERT_EQ(all[id], single(id)) << id;
    }
  }
  EXPECT_FALSE(SQL_FUNC_EXISTS(bitmap, 0));
}

}  // namespace
}  // namespace kivodbc
