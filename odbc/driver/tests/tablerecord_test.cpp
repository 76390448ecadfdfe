// The cursor layer's record and field access over engine tables of the
// product's own type and of a DBF type.
#include <cstring>
#include <string>

#include "connect/session.h"
#include "table_fixture.h"
#include "data/tablerecord.h"

namespace kivodbc::testing {
namespace {

// Field indexes of "items" (kItemFields) and "dbfitems" (kDbfFields).
constexpr size_t kName = 0, kAmount = 1, kBorn = 2, kNote = 3, kQty = 4, kT = 5, kFlag = 6, kAt = 8, kPic = 9;
constexpr size_t kDbfName = 0, kDbfAmount = 1, kDbfBorn = 2, kDbfNote = 3, kDbfFlag = 4;

class TableRecordTest : public TableTest {
 protected:
  void TearDown() override {
    for (EngineTable* table : opened_) CloseEngineTable(Session(), table);
    TableTest::TearDown();
  }
  EngineTable* Table(const char* name, uint16_t type = KIV_TABLE_KDT) {
    EngineTable* table = Open(name, type);
    if (table != nullptr) opened_.push_back(table);
    return table;
  }
  static uint32_t Write(EngineTable* table, size_t field, int16_t type, const void* value, SQLLEN length) {
    return SetTableField(table, field, table->columns[field].engineType, type, value, length);
  }
  struct Read {
    uint32_t code;
    SQLLEN length;
    int mark;
    std::string text;
  };
  static Read ReadText(EngineTable* table, size_t field, uint32_t offset = 0, SQLLEN capacity = 4000) {
    std::string buffer(static_cast<size_t>(capacity), '#');
    Read r{};
    r.code = ReadTableField(table, field, offset, kValueText, buffer.data(), capacity, &r.length, &r.mark);
    r.text = buffer.c_str();
    return r;
  }
  std::vector<EngineTable*> opened_;
};

TEST_F(TableRecordTest, StepsGoesToAndNumbersRecords) {
  EngineTable* items = Table("items");
  ASSERT_NE(items, nullptr);
  ResetTableCursor(items);
  std::vector<std::string> names;
  uint32_t code;
  while ((code = StepTableRecord(items)) == 0) names.push_back(ReadText(items, kName).text);
  EXPECT_EQ(code, kRecordEdge);
  EXPECT_EQ(names, (std::vector<std::string>{"one", "two", "three", "four", "five"}));
  EXPECT_EQ(items->stepCount, 5);
  EXPECT_EQ(StepTableRecord(items), kRecordEdge);

  items->backwards = true;
  ResetTableCursor(items);
  ASSERT_EQ(StepTableRecord(items), 0u);
  EXPECT_EQ(ReadText(items, kName).text, "five");
  uint32_t number = 0;
  ASSERT_EQ(CurrentRecordNumber(items, &number), 0u);
  EXPECT_EQ(number, 5u);

  ASSERT_EQ(GoToRecord(items, 3), 0u);
  EXPECT_EQ(ReadText(items, kName).text, "three");
  items->trim = false;
  EXPECT_EQ(ReadText(items, kName).text, "three" + std::string(15, ' '));
  items->trim = true;
  EXPECT_EQ(GoToRecord(items, 6), KIV_ERR_NO_SUCH_RECORD);

  // A record deleted since is missing.
  ASSERT_EQ(GoToRecord(items, 2), 0u);
  ASSERT_EQ(DeleteTableRecord(items), 0u);
  EXPECT_EQ(GoToRecord(items, 2), kRecordEdge);
}

TEST_F(TableRecordTest, WriteThenReadRoundTrips) {
  for (uint16_t type : {uint16_t{KIV_TABLE_KDT}, uint16_t{KIV_TABLE_CDX}}) {
    SCOPED_TRACE(type);
    const bool own = type == KIV_TABLE_KDT;
    EngineTable* table = Table(own ? "items" : "dbfitems.dbf", type);
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(AppendBlankRecord(table), 0u);
    const size_t name = own ? kName : kDbfName, amount = own ? kAmount : kDbfAmount, born = own ? kBorn : kDbfBorn,
                 flag = own ? kFlag : kDbfFlag;
    const SQL_DATE_STRUCT date{2024, 2, 29};
    const double money = 1234.5;
    const int32_t yes = 7;
    ASSERT_EQ(Write(table, name, kValueText, "Grape", SQL_NTS), 0u);
    ASSERT_EQ(Write(table, amount, kValueDouble, &money, 8), 0u);
    ASSERT_EQ(Write(table, born, kValueDate, &date, sizeof date), 0u);
    ASSERT_EQ(Write(table, flag, kValueInteger, &yes, 4), 0u);
    // A value longer than its field is cut and says so.
    EXPECT_EQ(Write(table, name, kValueText, "a name of far more than twenty", SQL_NTS), kValueTruncated);
    ASSERT_EQ(Write(table, name, kValueText, "Grape", 5), 0u);
    ASSERT_EQ(WriteTableRecord(table), 0u);
    uint32_t number = 0;
    ASSERT_EQ(CurrentRecordNumber(table, &number), 0u);
    ASSERT_EQ(GoToRecord(table, number), 0u);

    EXPECT_EQ(ReadText(table, name).text, own ? "Grape" : "Grape");
    EXPECT_EQ(ReadText(table, amount).text.find("1234.50") != std::string::npos, true) << ReadText(table, amount).text;
    double value = 0;
    SQLLEN length = 0;
    int mark = 0;
    ASSERT_EQ(ReadTableField(table, amount, 0, kValueDouble, &value, 8, &length, &mark), 0u);
    EXPECT_DOUBLE_EQ(value, 1234.5);
    EXPECT_EQ(mark, 0);
    ASSERT_EQ(ReadTableField(table, flag, 0, kValueDouble, &value, 8, &length, &mark), 0u);
    EXPECT_DOUBLE_EQ(value, 1.0);
    SQL_DATE_STRUCT back{};
    ASSERT_EQ(ReadTableField(table, born, 0, kValueDate, &back, sizeof back, &length, &mark), 0u);
    EXPECT_EQ(back.year, 2024);
    EXPECT_EQ(back.month, 2);
    EXPECT_EQ(back.day, 29);
    // Cut text keeps its NUL and reports the whole length.
    const Read cut = ReadText(table, name, 0, 3);
    EXPECT_EQ(cut.code, kValueTruncated);
    EXPECT_EQ(cut.text, "Gr");
    EXPECT_GE(cut.length, 5);
    // A null write clears the field.
    ASSERT_EQ(Write(table, born, kValueDate, nullptr, SQL_NULL_DATA), 0u);
    ASSERT_EQ(ReadTableField(table, born, 0, kValueDate, &back, sizeof back, &length, &mark), 0u);
    EXPECT_EQ(length, SQL_NULL_DATA);
  }
}

TEST_F(TableRecordTest, TimesAndTheTimestampFraction) {
  EngineTable* items = Table("items");
  ASSERT_NE(items, nullptr);
  ASSERT_EQ(GoToRecord(items, 1), 0u);
  const SQL_TIMESTAMP_STRUCT stamp{2023, 12, 31, 23, 59, 58, 500000000};
  const SQL_TIME_STRUCT time{7, 8, 9};
  ASSERT_EQ(Write(items, kT, kValueTimestamp, &stamp, sizeof stamp), 0u);
  ASSERT_EQ(Write(items, kAt, kValueTime, &time, sizeof time), 0u);
  ASSERT_EQ(WriteTableRecord(items), 0u);
  int32_t ms = 0;
  ASSERT_EQ(KivGetMilliseconds(items->handle, "T", &ms), 0u);
  EXPECT_EQ(ms, (23 * 3600 + 59 * 60 + 58) * 1000 + 500);

  SQL_TIMESTAMP_STRUCT back{};
  SQLLEN length = 0;
  int mark = 0;
  ASSERT_EQ(ReadTableField(items, kT, 0, kValueTimestamp, &back, sizeof back, &length, &mark), 0u);
  EXPECT_EQ(back.year, 2023);
  EXPECT_EQ(back.month, 12);
  EXPECT_EQ(back.day, 31);
  EXPECT_EQ(back.hour, 23);
  EXPECT_EQ(back.minute, 59);
  EXPECT_EQ(back.second, 58);
  EXPECT_EQ(back.fraction, 500000000u);
  SQL_TIME_STRUCT at{};
  ASSERT_EQ(ReadTableField(items, kAt, 0, kValueTime, &at, sizeof at, &length, &mark), 0u);
  EXPECT_EQ(at.hour, 7);
  EXPECT_EQ(at.minute, 8);
  EXPECT_EQ(at.second, 9);
}

TEST_F(TableRecordTest, EmptiesAndNullsByTableType) {
  struct Case {
    uint16_t type;
    const char* table;
    size_t field;
    int16_t wanted;
    bool null;
    int mark;
  } cases[] = {
      // The product's own tables: every empty field is null.
      {KIV_TABLE_KDT, "items", kName, kValueText, true, 0},
      {KIV_TABLE_KDT, "items", kAmount, kValueDouble, true, 0},
      {KIV_TABLE_KDT, "items", kQty, kValueDouble, true, 0},
      {KIV_TABLE_KDT, "items", kFlag, kValueDouble, true, 0},
      {KIV_TABLE_KDT, "items", kNote, kValueText, true, 0},
      // DBF tables: dates and memos are null, the others empty or zero.
      {KIV_TABLE_CDX, "dbfitems.dbf", kDbfName, kValueText, false, kEmptyField},
      {KIV_TABLE_CDX, "dbfitems.dbf", kDbfAmount, kValueDouble, false, kZeroValue},
      {KIV_TABLE_CDX, "dbfitems.dbf", kDbfAmount, kValueText, false, kEmptyField},  // blank, not zero
      {KIV_TABLE_CDX, "dbfitems.dbf", kDbfFlag, kValueDouble, false, kZeroValue},
      {KIV_TABLE_CDX, "dbfitems.dbf", kDbfBorn, kValueDate, true, kEmptyField},
      {KIV_TABLE_CDX, "dbfitems.dbf", kDbfNote, kValueText, true, kEmptyField},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.table) + " field " + std::to_string(c.field) + " as " + std::to_string(c.wanted));
    EngineTable* table = Table(c.table, c.type);
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(AppendBlankRecord(table), 0u);
    char buffer[64] = {};
    SQLLEN length = 0;
    int mark = -1;
    ASSERT_EQ(ReadTableField(table, c.field, 0, c.wanted, buffer, sizeof buffer, &length, &mark), 0u);
    EXPECT_EQ(length == SQL_NULL_DATA, c.null) << length;
    EXPECT_EQ(mark, c.mark);
    ASSERT_EQ(CloseEngineTable(Session(), table), 0u);
    opened_.pop_back();
  }
}

TEST_F(TableRecordTest, LongValuesReadInPieces) {
  EngineTable* items = Table("items");
  ASSERT_NE(items, nullptr);
  ASSERT_EQ(GoToRecord(items, 1), 0u);
  std::string memo;
  for (int i = 0; i < 3000; ++i) memo += static_cast<char>('a' + i % 26);
  ASSERT_EQ(Write(items, kNote, kValueText, memo.c_str(), SQL_NTS), 0u);
  std::string picture(2500, '\0');
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>(i * 7);
  ASSERT_EQ(Write(items, kPic, kValueBinary, picture.data(), static_cast<SQLLEN>(picture.size())), 0u);
  ASSERT_EQ(WriteTableRecord(items), 0u);

  // A memo in text pieces of 1,000 bytes (999 characters and the NUL).
  std::string whole;
  uint32_t offset = 0;
  for (;;) {
    const Read piece = ReadText(items, kNote, offset, 1000);
    if (piece.code == kNoDataFound) break;
    ASSERT_TRUE(piece.code == 0 || piece.code == kValueTruncated) << piece.code;
    EXPECT_EQ(piece.length, static_cast<SQLLEN>(memo.size() - offset));
    whole += piece.text;
    offset += static_cast<uint32_t>(piece.text.size());
    ASSERT_LT(offset, 4000u);
  }
  EXPECT_EQ(whole, memo);
  EXPECT_EQ(offset, 3000u);

  // A binary value in pieces: the rest is reported on each cut piece.
  std::string bytes;
  offset = 0;
  for (;;) {
    char buffer[1000];
    SQLLEN length = 0;
    int mark = 0;
    const uint32_t code = ReadTableField(items, kPic, offset, kValueBinary, buffer, sizeof buffer, &length, &mark);
    if (code == kNoDataFound) break;
    ASSERT_TRUE(code == 0 || code == kValueTruncated) << code;
    EXPECT_EQ(length, static_cast<SQLLEN>(picture.size() - offset));
    const size_t got = std::min<size_t>(sizeof buffer, static_cast<size_t>(length));
    bytes.append(buffer, got);
    offset += static_cast<uint32_t>(got);
    ASSERT_LT(offset, 4000u);
  }
  EXPECT_EQ(bytes, picture);
}

TEST_F(TableRecordTest, FailedWriteKeepsItsOwnError) {
  EngineTable* items = Table("items");
  ASSERT_NE(items, nullptr);
  ASSERT_EQ(GoToRecord(items, 1), 0u);
  ASSERT_EQ(Write(items, kName, kValueText, "changed", SQL_NTS), 0u);
  KivTestFailCall("KivWriteRecord", KIV_ERR_RECORD_LOCKED, "record held elsewhere", 1);
  uint32_t code = 0;
  const std::string log = EngineCalls([&] { code = WriteTableRecord(items); });
  EXPECT_EQ(code, KIV_ERR_RECORD_LOCKED);
  EXPECT_EQ(Count(log, "KivCancelUpdate"), 1u) << log;
  EXPECT_EQ(Session()->lastError, KIV_ERR_RECORD_LOCKED);
  uint32_t last = 0;
  char text[600] = {};
  uint32_t room = sizeof text;
  KivGetLastError(&last, text, &room);
  EXPECT_EQ(last, KIV_ERR_RECORD_LOCKED);
  EXPECT_NE(std::string(text).find("record held elsewhere"), std::string::npos) << text;
  // The pending change was discarded.
  ASSERT_EQ(GoToRecord(items, 1), 0u);
  EXPECT_EQ(ReadText(items, kName).text, "one");
}

TEST_F(TableRecordTest, MovesAndChangesBeginTheImplicitTransaction) {
  EngineTable* items = Table("items");
  ASSERT_NE(items, nullptr);
  Session()->autocommit = 0;
  const std::string log = EngineCalls([&] {
    ResetTableCursor(items);
    EXPECT_EQ(StepTableRecord(items), 0u);
    EXPECT_EQ(StepTableRecord(items), 0u);
  });
  EXPECT_EQ(Count(log, "KivBeginTransaction"), 1u) << log;
  KivTestFailCall("KivBeginTransaction", KIV_ERR_IO, "no journal", 1);
  ASSERT_EQ(RollbackEngineTransaction(Session()), 0u);
  EXPECT_EQ(GoToRecord(items, 1), KIV_ERR_IO);
  Session()->autocommit = 1;
}

TEST(TableRecordText, TextToInt) {
  EXPECT_EQ(TextToInt("20240229", 4), 2024);
  EXPECT_EQ(TextToInt("20240229" + 4, 2), 2);
  EXPECT_EQ(TextToInt("        ", 4), 0);
  EXPECT_EQ(TextToInt(std::string(200, '1').c_str(), 200), TextToInt(std::string(127, '1').c_str(), 127));
}

}  // namespace
}  // namespace kivodbc::testing
