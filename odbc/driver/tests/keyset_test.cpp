// The cursor over a select: the row source, the keyset of record numbers
// spooled to "LEM" files, positioning in every orientation, and the
// spool-file reader underneath.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "sql/keyset.h"
#include "handles/messages.h"
#include "sql/statement.h"
#include "table_fixture.h"
#include "data/tablerecord.h"
#include "data/tempfile.h"

namespace kivodbc::testing {
namespace {

const SQLCHAR* S(const char* text) { return reinterpret_cast<const SQLCHAR*>(text); }

class KeysetTest : public TableTest {
 protected:
  // A select over an engine table, as the driver's own front end runs it.
  ParseNode* SelectOver(SQLHSTMT stmt, const char* table) {
    KivTestFailCall("KivCheckSQL", KIV_ERR_SQL_DECLINED, "left to the driver", 1);
    const std::string text = std::string("SELECT NAME FROM ") + table;
    EXPECT_EQ(Prepare(stmt, S(text.c_str()), SQL_NTS), SQL_SUCCESS) << DiagOf(SQL_HANDLE_STMT, stmt).message;
    ParseNode* select = AsStmt(stmt)->parseTree != nullptr ? AsStmt(stmt)->parseTree->statement : nullptr;
    EXPECT_NE(FirstFromTable(select), nullptr);
    return select;
  }
  ParseNode* Keyset(const char* table = "items") {
    ParseNode* select = SelectOver(stmt_, table);
    Stmt()->cursorType = SQL_CURSOR_KEYSET_DRIVEN;
    EXPECT_EQ(RewindSelect(Stmt(), select), 0u);
    EXPECT_EQ(BuildKeyset(Stmt(), select), 0u) << Stmt()->engineText;
    return select;
  }
  uint32_t Record(ParseNode* select) {
    uint32_t number = 0;
    EXPECT_EQ(CurrentRecordNumber(FirstFromTable(select), &number), 0u);
    return number;
  }
};

struct MoveCase {
  int32_t from;  // the position before the move
  SQLUSMALLINT orientation;
  SQLLEN offset;
  uint32_t code;
  int32_t to;       // the position after it
  uint32_t record;  // the record then current (on success)
};

// Five keys, for records 1 to 5.
const MoveCase kKeysetMoves[] = {
    {kBeforeFirst, SQL_FETCH_NEXT, 0, 0, 0, 1},
    {2, SQL_FETCH_NEXT, 0, 0, 3, 4},
    {4, SQL_FETCH_NEXT, 0, kNoDataFound, kAfterLast, 0},
    {kAfterLast, SQL_FETCH_NEXT, 0, kNoDataFound, kAfterLast, 0},
    {3, SQL_FETCH_FIRST, 0, 0, 0, 1},
    {kBeforeFirst, SQL_FETCH_LAST, 0, 0, 4, 5},
    {kAfterLast, SQL_FETCH_PRIOR, 0, 0, 4, 5},
    {2, SQL_FETCH_PRIOR, 0, 0, 1, 2},
    {0, SQL_FETCH_PRIOR, 0, kNoDataFound, kBeforeFirst, 0},
    {kBeforeFirst, SQL_FETCH_PRIOR, 0, kNoDataFound, kBeforeFirst, 0},
    {2, SQL_FETCH_ABSOLUTE, 5, 0, 4, 5},
    {2, SQL_FETCH_ABSOLUTE, 6, kNoDataFound, kAfterLast, 0},
    {2, SQL_FETCH_ABSOLUTE, -5, 0, 0, 1},
    {2, SQL_FETCH_ABSOLUTE, -1, 0, 4, 5},
    {2, SQL_FETCH_ABSOLUTE, -6, kNoDataFound, kBeforeFirst, 0},
    {2, SQL_FETCH_ABSOLUTE, 0, kNoDataFound, kBeforeFirst, 0},
    {2, SQL_FETCH_RELATIVE, -2, 0, 0, 1},
    {2, SQL_FETCH_RELATIVE, -3, kNoDataFound, kBeforeFirst, 0},
    {2, SQL_FETCH_RELATIVE, 2, 0, 4, 5},
    {2, SQL_FETCH_RELATIVE, 3, kNoDataFound, kAfterLast, 0},
    {2, SQL_FETCH_RELATIVE, 0, 0, 2, 3},
    {kBeforeFirst, SQL_FETCH_RELATIVE, 0, kNoDataFound, kBeforeFirst, 0},
    {kAfterLast, SQL_FETCH_RELATIVE, 0, kNoDataFound, kAfterLast, 0},
    {kBeforeFirst, SQL_FETCH_RELATIVE, 2, 0, 1, 2},     // as ABSOLUTE 2
    {kAfterLast, SQL_FETCH_RELATIVE, -2, 0, 3, 4},      // as ABSOLUTE -2
    {0, SQL_FETCH_BOOKMARK, 3, 0, 2, 3},
    {0, SQL_FETCH_BOOKMARK, 0, kInvalidBookmark, 0, 0},
    {0, SQL_FETCH_BOOKMARK, 6, kInvalidBookmark, 0, 0},
    {0, 7, 0, kFetchTypeOutOfRange, 0, 0},
};

TEST_F(KeysetTest, KeysetPositions) {
  ParseNode* select = Keyset();
  SelectExtension* state = SelectStateOf(select);
  ASSERT_EQ(state->rowCount, 5);
  EXPECT_EQ(state->position, kBeforeFirst);
  for (const MoveCase& c : kKeysetMoves) {
    SCOPED_TRACE("from " + std::to_string(c.from) + " orientation " + std::to_string(c.orientation) + " offset " +
                 std::to_string(c.offset));
    state->position = c.from;
    EXPECT_EQ(PositionCursor(Stmt(), select, c.orientation, c.offset), c.code);
    EXPECT_EQ(state->position, c.to);
    if (c.code == 0) {
      EXPECT_EQ(Record(select), c.record);
    }
  }
}

TEST_F(KeysetTest, EmptyKeyset) {
  ParseNode* select = Keyset("empty");
  SelectExtension* state = SelectStateOf(select);
  EXPECT_EQ(state->rowCount, 0);
  const MoveCase moves[] = {
      {kBeforeFirst, SQL_FETCH_FIRST, 0, kNoDataFound, kAfterLast, 0},
      {kBeforeFirst, SQL_FETCH_LAST, 0, kNoDataFound, kBeforeFirst, 0},
      {kBeforeFirst, SQL_FETCH_NEXT, 0, kNoDataFound, kAfterLast, 0},
      {kAfterLast, SQL_FETCH_PRIOR, 0, kNoDataFound, kBeforeFirst, 0},
      {kBeforeFirst, SQL_FETCH_ABSOLUTE, 1, kNoDataFound, kAfterLast, 0},
      {kBeforeFirst, SQL_FETCH_ABSOLUTE, -1, kNoDataFound, kBeforeFirst, 0},
      {kBeforeFirst, SQL_FETCH_BOOKMARK, 1, kInvalidBookmark, kBeforeFirst, 0},
  };
  for (const MoveCase& c : moves) {
    SCOPED_TRACE("orientation " + std::to_string(c.orientation));
    state->position = c.from;
    EXPECT_EQ(PositionCursor(Stmt(), select, c.orientation, c.offset), c.code);
    EXPECT_EQ(state->position, c.to);
  }
}

TEST_F(KeysetTest, KeyOfARecordDeletedSinceIsReported) {
  ParseNode* select = Keyset();
  EngineTable* other = Open("items");
  ASSERT_NE(other, nullptr);
  ASSERT_EQ(GoToRecord(other, 3), 0u);
  ASSERT_EQ(DeleteTableRecord(other), 0u);
  ASSERT_EQ(CloseEngineTable(Session(), other), 0u);
  EXPECT_EQ(PositionCursor(Stmt(), select, SQL_FETCH_ABSOLUTE, 2), 0u);
  EXPECT_EQ(PositionCursor(Stmt(), select, SQL_FETCH_NEXT, 0), kRecordEdge);
  EXPECT_EQ(SelectStateOf(select)->position, 2);
  EXPECT_EQ(PositionCursor(Stmt(), select, SQL_FETCH_NEXT, 0), 0u);
  EXPECT_EQ(Record(select), 4u);
}

TEST_F(KeysetTest, ForwardOnlyCursorStepsOnly) {
  ParseNode* select = SelectOver(stmt_, "items");
  ASSERT_EQ(RewindSelect(Stmt(), select), 0u);
  SelectExtension* state = SelectStateOf(select);
  EXPECT_EQ(PositionCursor(Stmt(), select, SQL_FETCH_RELATIVE, 0), kNoDataFound);
  EXPECT_EQ(PositionCursor(Stmt(), select, SQL_FETCH_FIRST, 0), kInternalError);
  std::vector<uint32_t> records;
  uint32_t code;
  while ((code = PositionCursor(Stmt(), select, SQL_FETCH_NEXT, 0)) == 0) {
    records.push_back(Record(select));
    EXPECT_EQ(PositionCursor(Stmt(), select, SQL_FETCH_RELATIVE, 0), 0u);
  }
  EXPECT_EQ(code, kNoDataFound);
  EXPECT_EQ(records, (std::vector<uint32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(state->position, kAfterLast);
  EXPECT_EQ(PositionCursor(Stmt(), select, SQL_FETCH_NEXT, 0), kNoDataFound);
  EXPECT_TRUE(SpoolFiles().empty());
}

TEST_F(KeysetTest, DynamicCursorMovesTheTable) {
  ParseNode* select = SelectOver(stmt_, "items");
  Stmt()->cursorType = SQL_CURSOR_DYNAMIC;
  ASSERT_EQ(RewindSelect(Stmt(), select), 0u);
  SelectExtension* state = SelectStateOf(select);
  struct Step {
    SQLUSMALLINT orientation;
    SQLLEN offset;
    uint32_t code;
    int32_t to;
  } steps[] = {
      {SQL_FETCH_PRIOR, 0, kNoDataFound, kBeforeFirst},
      {SQL_FETCH_NEXT, 0, 0, 0},
      {SQL_FETCH_NEXT, 0, 0, 1},
      {SQL_FETCH_LAST, 0, 0, 4},
      {SQL_FETCH_NEXT, 0, kNoDataFound, kAfterLast},
      {SQL_FETCH_NEXT, 0, kNoDataFound, kAfterLast},
      {SQL_FETCH_PRIOR, 0, 0, 4},
      {SQL_FETCH_ABSOLUTE, 3, 0, 2},
      {SQL_FETCH_RELATIVE, -1, 0, 1},
      {SQL_FETCH_RELATIVE, 0, 0, 1},
      {SQL_FETCH_ABSOLUTE, -2, 0, 3},
      {SQL_FETCH_BOOKMARK, 2, 0, 1},
      {SQL_FETCH_FIRST, 0, 0, 0},
      {SQL_FETCH_PRIOR, 0, kNoDataFound, kBeforeFirst},
      {SQL_FETCH_ABSOLUTE, 0, kNoDataFound, kBeforeFirst},
      {SQL_FETCH_RELATIVE, 2, 0, 1},
      {SQL_FETCH_RELATIVE, 9, kNoDataFound, kAfterLast},
      {99, 0, kFetchTypeOutOfRange, kAfterLast},
  };
  int i = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE("step " + std::to_string(i++));
    EXPECT_EQ(PositionCursor(Stmt(), select, s.orientation, s.offset), s.code);
    EXPECT_EQ(state->position, s.to);
    if (s.code == 0) {
      EXPECT_EQ(Record(select), static_cast<uint32_t>(s.to + 1));
      EXPECT_EQ(Stmt()->currentRow, s.to + 1);
    }
  }
}

TEST_F(KeysetTest, SpoolFileLivesAsLongAsTheKeyset) {
  ParseNode* select = Keyset();
  ASSERT_EQ(SpoolFiles().size(), 1u);
  // The file holds the record numbers, four bytes each.
  EXPECT_EQ(std::filesystem::file_size(spool_ / SpoolFiles()[0]), 20u);

  // Execution again drops the old keyset before building the new one.
  ASSERT_EQ(RewindSelect(Stmt(), select), 0u);
  EXPECT_TRUE(SpoolFiles().empty());
  ASSERT_EQ(BuildKeyset(Stmt(), select), 0u);
  ASSERT_EQ(BuildKeyset(Stmt(), select), 0u);
  EXPECT_EQ(SpoolFiles().size(), 1u);

  // A close ends it; the prepared select stays.
  ASSERT_EQ(FreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_TRUE(SpoolFiles().empty());
  ASSERT_NE(Stmt()->parseTree, nullptr);
  ASSERT_EQ(RewindSelect(Stmt(), select), 0u);
  ASSERT_EQ(BuildKeyset(Stmt(), select), 0u);
  EXPECT_EQ(SpoolFiles().size(), 1u);

  // So does a new preparation, and so does the drop.
  ASSERT_EQ(Prepare(stmt_, S("select NAME from items"), SQL_NTS), SQL_SUCCESS);
  EXPECT_TRUE(SpoolFiles().empty());
  select = Keyset();
  EXPECT_EQ(SpoolFiles().size(), 1u);
  ASSERT_EQ(FreeStmt(stmt_, SQL_DROP), SQL_SUCCESS);
  stmt_ = nullptr;
  EXPECT_TRUE(SpoolFiles().empty());
}

TEST_F(KeysetTest, FailedBuildLeavesNoSpoolFile) {
  ParseNode* select = SelectOver(stmt_, "items");
  ASSERT_EQ(RewindSelect(Stmt(), select), 0u);
  KivTestFailCall("KivGetBookmark", KIV_ERR_IO, "record number lost", 1);
  EXPECT_EQ(BuildKeyset(Stmt(), select), KIV_ERR_IO);
  EXPECT_NE(std::string(Stmt()->engineText).find("record number lost"), std::string::npos) << Stmt()->engineText;
  EXPECT_TRUE(SpoolFiles().empty());
  EXPECT_EQ(SelectStateOf(select)->keysetReader, nullptr);

  // A temporary folder that cannot take the file.
  ::setenv("TMPDIR", (spool_ / "missing").c_str(), 1);
  ASSERT_EQ(RewindSelect(Stmt(), select), 0u);
  EXPECT_EQ(BuildKeyset(Stmt(), select), kKeysetCreateError);
  ::setenv("TMPDIR", spool_.c_str(), 1);
  EXPECT_TRUE(SpoolFiles().empty());

  // A keyset whose file has lost its keys cannot be read.
  ASSERT_EQ(RewindSelect(Stmt(), select), 0u);
  ASSERT_EQ(BuildKeyset(Stmt(), select), 0u);
  ASSERT_EQ(SpoolFiles().size(), 1u);
  std::filesystem::resize_file(spool_ / SpoolFiles()[0], 8);
  EXPECT_EQ(PositionCursor(Stmt(), select, SQL_FETCH_ABSOLUTE, 2), 0u);
  EXPECT_EQ(PositionCursor(Stmt(), select, SQL_FETCH_ABSOLUTE, 3), kKeysetReadError);
}

TEST_F(KeysetTest, ColumnValuesLoadIntoTheirNodes) {
  EngineTable* items = Open("items");
  ASSERT_NE(items, nullptr);
  ASSERT_EQ(GoToRecord(items, 2), 0u);
  const double amount = 12.5;
  const int32_t qty = 42;
  const SQL_DATE_STRUCT born{1999, 12, 31};
  const SQL_TIME_STRUCT at{13, 14, 15};
  const std::string note(5000, 'n');
  const char picture[] = {'\x89', 'P', 'N', 'G', '\0', '\1'};
  for (auto [field, type, value, length] :
       {std::tuple<size_t, int16_t, const void*, SQLLEN>{1, kValueDouble, &amount, 8}, {2, kValueDate, &born, 6},
        {3, kValueText, note.c_str(), SQL_NTS}, {4, kValueInteger, &qty, 4}, {8, kValueTime, &at, 6},
        {9, kValueBinary, picture, sizeof picture}})
    ASSERT_EQ(SetTableField(items, field, items->columns[field].engineType, type, value, length), 0u) << field;
  ASSERT_EQ(WriteTableRecord(items), 0u);
  ASSERT_EQ(CloseEngineTable(Session(), items), 0u);

  KivTestFailCall("KivCheckSQL", KIV_ERR_SQL_DECLINED, "left to the driver", 1);
  ASSERT_EQ(Prepare(stmt_, S("SELECT NAME, AMOUNT, BORN, NOTE, QTY, T, AT, PIC FROM items"), SQL_NTS), SQL_SUCCESS)
      << DiagOf(SQL_HANDLE_STMT, stmt_).message;
  ParseNode* select = Stmt()->parseTree->statement;
  ASSERT_EQ(RewindSelect(Stmt(), select), 0u);
  ASSERT_EQ(PositionCursor(Stmt(), select, SQL_FETCH_NEXT, 0), 0u);
  ASSERT_EQ(PositionCursor(Stmt(), select, SQL_FETCH_NEXT, 0), 0u);
  std::vector<ParseNode*> nodes;
  for (ParseNode* item = SelectStateOf(select)->items; item != nullptr; item = item->next) {
    ASSERT_EQ(LoadNodeValue(Stmt(), item->left), 0u) << item->left->name;
    nodes.push_back(item->left);
  }
  ASSERT_EQ(nodes.size(), 8u);
  EXPECT_EQ(std::string(nodes[0]->buffer).substr(0, 3), "two");
  EXPECT_STREQ(nodes[1]->buffer, "12.50");
  SQL_DATE_STRUCT date{};
  std::memcpy(&date, nodes[2]->value, sizeof date);
  EXPECT_EQ(date.year, 1999);
  EXPECT_EQ(date.day, 31);
  EXPECT_EQ(std::string(nodes[3]->buffer), note);  // a memo gets the room of its value
  EXPECT_DOUBLE_EQ(nodes[4]->number, 42.0);
  EXPECT_TRUE(nodes[5]->isNull);  // the product's own tables: empty is null
  SQL_TIME_STRUCT time{};
  std::memcpy(&time, nodes[6]->value, sizeof time);
  EXPECT_EQ(time.minute, 14);
  uint32_t stored = 0;
  std::memcpy(&stored, nodes[7]->buffer, 4);
  ASSERT_EQ(stored, sizeof picture);
  EXPECT_EQ(std::string(nodes[7]->buffer + 4, stored), std::string(picture, sizeof picture));

  // Constants, and kinds without a value.
  ParseNode* literal = NewParseNode(Stmt()->parseTree, kNodeLiteral);
  literal->sqlType = SQL_NUMERIC;
  literal->text = "3.25";
  ASSERT_EQ(LoadNodeValue(Stmt(), literal), 0u);
  EXPECT_STREQ(literal->buffer, "3.25");
  EXPECT_EQ(LoadNodeValue(Stmt(), select), kInternalError);
  nodes[0]->category = 99;
  EXPECT_EQ(LoadNodeValue(Stmt(), nodes[0]), kNotSupported);
}

class TempFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("kivodbc-spool-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "keys").string();
    std::ofstream out(path_, std::ios::binary);
    for (uint32_t key = 10; key <= 50; key += 10) out.write(reinterpret_cast<const char*>(&key), 4);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  static uint32_t KeyAt(TempFileReader* reader, int64_t offset) {
    uint32_t key = 0;
    if (SeekTempFile(reader, offset) != offset) return 0;
    return ReadTempFile(reader, &key, 4) == 4 ? key : 0;
  }
  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(TempFileTest, UnbufferedReaderGoesStraightToTheFile) {
  TempFileReader* reader = nullptr;
  ASSERT_EQ(OpenTempFileReader(path_.c_str(), 4, 0, &reader), 0u);
  EXPECT_EQ(KeyAt(reader, 8), 30u);
  EXPECT_EQ(KeyAt(reader, 0), 10u);
  EXPECT_EQ(KeyAt(reader, 16), 50u);
  uint32_t key = 0;
  EXPECT_EQ(ReadTempFile(reader, &key, 4), 0u);  // the end
  EXPECT_EQ(SeekTempFile(reader, -4), -1);
  CloseTempFileReader(reader, false);
  EXPECT_TRUE(std::filesystem::exists(path_));

  ASSERT_EQ(OpenTempFileReader(path_.c_str(), 4, 0, &reader), 0u);
  CloseTempFileReader(reader, true);
  EXPECT_FALSE(std::filesystem::exists(path_));

  reader = reinterpret_cast<TempFileReader*>(1);
  EXPECT_EQ(OpenTempFileReader(path_.c_str(), 4, 0, &reader), kTempFileReadError);
  EXPECT_EQ(reader, nullptr);
  // A null reader reads nothing and closes quietly.
  EXPECT_EQ(SeekTempFile(nullptr, 8), 0);
  EXPECT_EQ(ReadTempFile(nullptr, &key, 4), 0u);
  CloseTempFileReader(nullptr, true);
}

TEST_F(TempFileTest, BufferedReaderServesWholeRecordsForwards) {
  TempFileReader* reader = nullptr;
  ASSERT_EQ(OpenTempFileReader(path_.c_str(), 4, 2, &reader), 0u);
  EXPECT_EQ(KeyAt(reader, 12), 40u);
  EXPECT_EQ(SeekTempFile(reader, 0), -1);  // behind the buffer
  EXPECT_EQ(KeyAt(reader, 16), 50u);
  uint32_t key = 0;
  EXPECT_EQ(ReadTempFile(reader, &key, 4), 0u);
  CloseTempFileReader(reader, true);

  // Read from the start in one run: every key once, then the end.
  std::ofstream(path_, std::ios::binary).write("\1\0\0\0\2\0\0\0\3\0\0\0", 12);
  ASSERT_EQ(OpenTempFileReader(path_.c_str(), 4, 2, &reader), 0u);
  std::vector<uint32_t> keys;
  while (ReadTempFile(reader, &key, 4) == 4) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<uint32_t>{1, 2, 3}));
  CloseTempFileReader(reader, true);
}

TEST(SpoolFile, CreatedUnderTmpdirWithItsPrefix) {
  const auto dir = std::filesystem::temp_directory_path() / ("kivodbc-lem-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const char* previous = std::getenv("TMPDIR");
  const std::string saved = previous != nullptr ? previous : "";
  ::setenv("TMPDIR", dir.c_str(), 1);
  std::string path;
  const int fd = CreateSpoolFile(&path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(std::filesystem::path(path).parent_path(), dir);
  EXPECT_EQ(std::filesystem::path(path).filename().string().rfind("LEM", 0), 0u) << path;
  ::unsetenv("TMPDIR");
  EXPECT_EQ(TempDirectory(), "/tmp");
  if (previous != nullptr) ::setenv("TMPDIR", saved.c_str(), 1);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kivodbc::testing
