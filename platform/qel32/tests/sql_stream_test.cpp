// A SELECT's result is read from SQL as its cursor moves: the same rows as
// a result built whole, every way the cursor is moved; the connection's own
// changes wait until pending results are read; failures come with the call
// that meets them; results closed half read leave nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "qel32_test.h"
#include "test_support.h"

using namespace qeltest;

namespace {

constexpr uint32_t kPeople = 1500;

// Row i of "people": accented names (Windows-1252), empty names beside
// dates that read as NULL when empty, and numbers of 18 digits.
std::string NameOf(uint32_t i) {
    if (i % 7 == 0) return "";
    static const char* kNames[] = {"Zo\xEB", "\xC6r\xF8sk\xF8" "bing", "J\xFCrgen", "Fran\xE7oise", "plain"};
    return std::string(kNames[i % 5]) + " " + std::to_string(i);
}

std::string CityOf(uint32_t i) {
    static const char* kCities[] = {"Odense", "K\xF8" "benhavn", "Malm\xF6", "Gen\xE8ve"};
    return kCities[i % 4];
}

std::string BigOf(uint32_t i) { return std::to_string(123456789012345678LL - i); }
std::string AmountOf(uint32_t i) { return std::to_string(1234567890123456LL + i) + "." + std::to_string(10 + i % 90); }

// A cursor's rows read forward from the top (test_support's Rows, which
// moves with KivGotoTop and KivSkip), one entry per row; an empty field
// shows as "~".
std::vector<std::string> RowList(KIVHANDLE cursor, bool backward = false) {
    std::vector<std::string> rows;
    uint32_t n = 0;
    KivGetNumFields(cursor, &n);
    auto row = [&] {
        std::string out;
        for (uint32_t i = 1; i <= n; ++i) {
            uint16_t empty = 0;
            KivIsEmpty(cursor, KIV_FIELD(i), &empty);
            std::string v = Get(cursor, KIV_FIELD(i), 1);
            v = v.substr(std::min(v.size(), v.find_first_not_of(' ')));
            out += (i > 1 ? "|" : "") + (empty ? std::string("~") : v);
        }
        return out;
    };
    if (!backward) {
        for (KivGotoTop(cursor); !AtEof(cursor); KivSkip(cursor, 1)) rows.push_back(row());
        return rows;
    }
    for (KivGotoBottom(cursor); !AtBof(cursor) && !AtEof(cursor); KivSkip(cursor, -1)) rows.push_back(row());
    std::reverse(rows.begin(), rows.end());
    return rows;
}

class SqlStream : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        KivSetDateFormat("YYYY-MM-DD");
        // The same rows in a DBF table and in one of the engine's own, whose
        // plain selects copy the stored fields.
        for (const char* name : {"people.dbf", "owned.kdt"}) Fill(name);
        KIV_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    }
    void Fill(const char* name) {
        KIVHANDLE t = Create(name, std::string(name).find(".kdt") != std::string::npos ? KIV_TABLE_KDT : KIV_TABLE_CDX,
                             "ID,N,6;NAME,C,24;CITY,C,12;BORN,D;BIG,N,20;AMOUNT,N,20,2");
        for (uint32_t i = 1; i <= kPeople; ++i) {
            KIV_ASSERT_OK(KivAppendRecord(t));
            KIV_ASSERT_OK(Set(t, "ID", std::to_string(i)));
            if (!NameOf(i).empty()) {
                KIV_ASSERT_OK(Set(t, "NAME", NameOf(i)));
            }
            KIV_ASSERT_OK(Set(t, "CITY", CityOf(i)));
            if (i % 5 != 0) {
                KIV_ASSERT_OK(Set(t, "BORN", "19" + std::to_string(10 + i % 90) + "-03-04"));
            }
            KIV_ASSERT_OK(Set(t, "BIG", BigOf(i)));
            KIV_ASSERT_OK(Set(t, "AMOUNT", AmountOf(i)));
        }
        KIV_ASSERT_OK(KivCloseTable(t));
    }
    void TearDown() override {
        KivCloseSQLStatement(st);
        EngineFixture::TearDown();
        KivSetDateFormat("MM/DD/YYYY");
    }
    KIVHANDLE Run(const std::string& sql) {
        KIVHANDLE cursor = 0;
        EXPECT_EQ(KIV_OK, KivExecuteSQLDirect(st, sql.c_str(), &cursor)) << sql << ": " << LastErrorText();
        return cursor;
    }
    uint32_t Count(KIVHANDLE cursor) {
        uint32_t n = 0;
        EXPECT_EQ(KIV_OK, KivGetRecordCount(cursor, KIV_COUNT_IGNORE_FILTERS, &n)) << LastErrorText();
        return n;
    }
    std::string Field(KIVHANDLE cursor, const char* name) {
        std::string v = Get(cursor, name, 1);
        return v.substr(std::min(v.size(), v.find_first_not_of(' ')));
    }

    KIVHANDLE st = 0;
};

// A select of stored columns, and the same select with a computed column
// added: that one is built whole before its first row, this one is read
// as the cursor moves. Both give the same rows, read forward, read from
// the bottom back, and counted before anything was read.
struct SameRowsCase {
    const char* label;
    const char* columns;
    const char* rest;
    size_t rows;
};

void PrintTo(const SameRowsCase& c, std::ostream* os) { *os << c.label; }

class SqlStreamSameRows : public SqlStream, public ::testing::WithParamInterface<SameRowsCase> {};

TEST_P(SqlStreamSameRows, AsTheResultBuiltWhole) {
    const SameRowsCase& c = GetParam();
    const std::string streamed = std::string("SELECT ") + c.columns + " " + c.rest;
    const std::string whole = std::string("SELECT ") + c.columns + ", 0 AS whole_ " + c.rest;
    KIVHANDLE reference = Run(whole);
    std::vector<std::string> expected = RowList(reference);
    KIV_ASSERT_OK(KivCloseTable(reference));
    for (std::string& row : expected) row.resize(row.size() - 2);  // "|0"
    ASSERT_EQ(c.rows, expected.size());

    KIVHANDLE cursor = Run(streamed);
    EXPECT_EQ(expected, RowList(cursor)) << "forward";
    KIV_ASSERT_OK(KivCloseTable(cursor));
    cursor = Run(streamed);
    EXPECT_EQ(expected, RowList(cursor, true)) << "from the bottom back";
    KIV_ASSERT_OK(KivCloseTable(cursor));
    cursor = Run(streamed);
    EXPECT_EQ(c.rows, Count(cursor)) << "counted first";
    EXPECT_EQ(expected, RowList(cursor)) << "after the count";
    KIV_ASSERT_OK(KivCloseTable(cursor));
}

INSTANTIATE_TEST_SUITE_P(
    Engine, SqlStreamSameRows,
    ::testing::Values(
        SameRowsCase{"Plain", "id, name, city, born, big, amount", "FROM people", kPeople},
        SameRowsCase{"CopiedPlain", "id, name, city, born, big, amount", "FROM owned", kPeople},
        SameRowsCase{"CopiedWhereAndOrder", "big, id, name", "FROM owned WHERE city = 'Odense' ORDER BY name DESC, id",
                     kPeople / 4},
        SameRowsCase{"WhereAndOrder", "id, name, big", "FROM people WHERE city = 'Odense' ORDER BY name DESC, id",
                     kPeople / 4},
        SameRowsCase{"Join", "a.id, b.id, b.name, a.amount",
                     "FROM people a JOIN people b ON a.city = b.city WHERE a.id <= 8 ORDER BY a.id, b.id",
                     8 * kPeople / 4},
        SameRowsCase{"SelfJoinUnordered", "a.id, b.big", "FROM people a JOIN people b ON a.city = b.city WHERE b.id <= 3",
                     3 * kPeople / 4},
        SameRowsCase{"GroupBy", "city, born", "FROM people GROUP BY city, born ORDER BY city, born", 4 * 37},
        SameRowsCase{"Distinct", "DISTINCT city", "FROM people", 4},
        SameRowsCase{"Empty", "id, name", "FROM people WHERE id < 0", 0}),
    [](const ::testing::TestParamInfo<SameRowsCase>& info) { return std::string(info.param.label); });

// Values as they were stored: accented text, an empty name beside a date
// that reads as NULL, 18 digits with and without decimals; a union (built
// whole) alike.
TEST_F(SqlStream, ValuesKeepEveryCharacterAndDigit) {
    KIVHANDLE c = Run("SELECT id, name, born, big, amount FROM people WHERE id IN (1, 35, 1499) ORDER BY id");
    struct Row { const char* id; std::string name; const char* born; std::string big, amount; };
    const Row rows[] = {{"1", NameOf(1), "1911-03-04", BigOf(1), AmountOf(1)},
                        {"35", "", "", BigOf(35), AmountOf(35)},
                        {"1499", NameOf(1499), "1969-03-04", BigOf(1499), AmountOf(1499)}};
    KIV_ASSERT_OK(KivGotoTop(c));
    for (const Row& r : rows) {
        SCOPED_TRACE(r.id);
        ASSERT_FALSE(AtEof(c));
        EXPECT_EQ(r.id, Field(c, "ID"));
        EXPECT_EQ(r.name, Field(c, "NAME"));
        EXPECT_EQ(r.born, Field(c, "BORN"));
        EXPECT_EQ(r.big, Field(c, "BIG"));
        EXPECT_EQ(r.amount, Field(c, "AMOUNT"));
        KIV_ASSERT_OK(KivSkip(c, 1));
    }
    EXPECT_TRUE(AtEof(c));
    KIV_ASSERT_OK(KivCloseTable(c));
    EXPECT_EQ("Zo\xEB 5;Zo\xEB 10;Zo\xEB 15;\xC6r\xF8sk\xF8" "bing 1;",
              RowsOf(conn, "SELECT name FROM people WHERE id IN (5, 10, 15) UNION ALL "
                           "SELECT name FROM people WHERE id = 1"));
}

// Execution reads the first rows only; moving forward reads on; a count,
// the bottom, a record or bookmark past what was read, or a step back from
// the end reads the rest, each keeping or finding the right row.
TEST_F(SqlStream, TheCursorReadsWhatItsMovesNeed) {
    struct Move {
        const char* label;
        KIVRESULT (*move)(KIVHANDLE);
        uint32_t recno;  // the row the cursor is on afterwards
        bool readsAll;
    };
    const Move moves[] = {
        {"top", [](KIVHANDLE c) { return KivGotoTop(c); }, 1, false},
        {"skip 300", [](KIVHANDLE c) { return KivSkip(c, 300); }, 301, false},
        {"record 700", [](KIVHANDLE c) { return KivGotoRecord(c, 700); }, 700, false},
        {"bookmark 900", [](KIVHANDLE c) { return KivGotoBookmark(c, 900); }, 900, false},
        {"bottom", [](KIVHANDLE c) { return KivGotoBottom(c); }, kPeople, true},
        {"count", [](KIVHANDLE c) {
             uint32_t n = 0;
             const KIVRESULT rc = KivGetRecordCount(c, KIV_COUNT_RESPECT_FILTERS, &n);
             return rc ? rc : n == kPeople ? KIV_OK : KIV_ERR_INVALID_ARGUMENT;
         }, 1, true},
        {"key count", [](KIVHANDLE c) {
             uint32_t n = 0;
             const KIVRESULT rc = KivGetKeyCount(c, 0, &n);
             return rc ? rc : n == kPeople ? KIV_OK : KIV_ERR_INVALID_ARGUMENT;
         }, 1, true},
        {"skip past the end, then back", [](KIVHANDLE c) {
             const KIVRESULT rc = KivSkip(c, kPeople + 5);
             return rc ? rc : KivSkip(c, -1);
         }, kPeople, true},
    };
    for (const char* table : {"people", "owned"})
    for (const Move& m : moves) {
        SCOPED_TRACE(std::string(table) + ": " + m.label);
        const uint64_t before = KivTestSqlRecordsRead();
        KIVHANDLE c = Run(std::string("SELECT id, name FROM ") + table);
        EXPECT_LT(KivTestSqlRecordsRead() - before, kPeople / 2) << "execution reads the first rows only";
        KIV_ASSERT_OK(m.move(c));
        const uint64_t read = KivTestSqlRecordsRead() - before;
        if (m.readsAll) EXPECT_EQ(kPeople, read);
        else EXPECT_LT(read, kPeople) << "no more than the move needs";
        EXPECT_EQ(m.recno, RecNo(c));
        EXPECT_EQ(std::to_string(m.recno), Field(c, "ID"));
        EXPECT_EQ(NameOf(m.recno), Field(c, "NAME"));
        EXPECT_EQ(kPeople, Count(c));
        EXPECT_EQ(m.recno, RecNo(c)) << "a count keeps the row";
        EXPECT_EQ(std::to_string(m.recno), Field(c, "ID"));
        KIV_ASSERT_OK(KivCloseTable(c));
    }
    // A record past the end, read to its end first.
    KIVHANDLE c = Run("SELECT id FROM people");
    EXPECT_EQ(KIV_ERR_NO_SUCH_RECORD, KivGotoRecord(c, kPeople + 1));
    EXPECT_TRUE(AtEof(c));
    EXPECT_EQ(kPeople + 1, RecNo(c));
    KIV_ASSERT_OK(KivSkip(c, -1));
    EXPECT_EQ(std::to_string(kPeople), Field(c, "ID"));
    KIV_ASSERT_OK(KivCloseTable(c));
}

// A result half read outlives its statement: the statement runs again, is
// reset or closed, and the result reads on to its end; a result closed half
// read, and one left open when the connection ends, leave no file behind.
TEST_F(SqlStream, ResultsHalfReadOutliveStatementsAndCloseClean) {
    TempDir results;
    const char* saved = std::getenv("TMPDIR");
    const std::string before = saved ? saved : "";
    setenv("TMPDIR", results.path().c_str(), 1);
    std::vector<std::string> all;
    for (uint32_t i = 1; i <= kPeople; ++i) all.push_back(std::to_string(i) + "|" + (NameOf(i).empty() ? "~" : NameOf(i)));

    KIVHANDLE first = Run("SELECT id, name FROM people");
    KIV_ASSERT_OK(KivSkip(first, 10));
    KIVHANDLE second = Run("SELECT id, name FROM people");  // the same statement again
    KIV_ASSERT_OK(KivResetSQLStatement(st));
    KIV_ASSERT_OK(KivCloseSQLStatement(st));
    st = 0;
    EXPECT_EQ(all, RowList(first));
    EXPECT_EQ(all, RowList(second));
    KIV_ASSERT_OK(KivCloseTable(first));
    KIV_ASSERT_OK(KivCloseTable(second));

    KIV_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    KIVHANDLE halfRead = Run("SELECT a.id, b.id FROM people a JOIN people b ON a.city = b.city");
    KIV_ASSERT_OK(KivSkip(halfRead, 20));
    KIV_ASSERT_OK(KivCloseTable(halfRead));
    EXPECT_TRUE(std::filesystem::is_empty(results.path()));

    // The connection ends with a result half read and its statement open.
    KIVHANDLE other = 0, otherSt = 0, left = 0;
    KIV_ASSERT_OK(KivConnect(dir.path().c_str(), &other));
    KIV_ASSERT_OK(KivCreateSQLStatement(other, &otherSt));
    KIV_ASSERT_OK(KivExecuteSQLDirect(otherSt, "SELECT a.id, b.id FROM people a JOIN people b ON a.city = b.city", &left));
    KIV_ASSERT_OK(KivSkip(left, 20));
    KIV_ASSERT_OK(KivDisconnect(other));
    EXPECT_EQ(KIV_ERR_INVALID_HANDLE, KivSkip(left, 1));
    EXPECT_TRUE(std::filesystem::is_empty(results.path()));
    // The table is free again: an exclusive open takes it.
    KIVHANDLE t = Open("people.dbf", KIV_OPEN_EXCLUSIVE);
    ASSERT_NE(0u, t);
    KIV_ASSERT_OK(KivCloseTable(t));
    if (saved) setenv("TMPDIR", before.c_str(), 1);
    else unsetenv("TMPDIR");
}

// Anything on the connection that changes data or ends a transaction reads
// the results still pending first, so each stays what it was when it ran;
// another select runs beside a pending one.
struct ChangeCase {
    const char* label;
    void (*change)(KIVHANDLE conn, KIVHANDLE st);
};

void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.label; }

class SqlStreamChanges : public SqlStream, public ::testing::WithParamInterface<ChangeCase> {};

void Sql(KIVHANDLE st, const char* text) {
    KIVHANDLE cursor = 0;
    EXPECT_EQ(KIV_OK, KivExecuteSQLDirect(st, text, &cursor)) << text << ": " << LastErrorText();
    if (cursor) KivCloseTable(cursor);
}

TEST_P(SqlStreamChanges, WaitForPendingResults) {
    KIVHANDLE pending = Run("SELECT p.id, p.name, q.city FROM people p JOIN people q ON q.id = p.id");
    std::vector<std::string> expected;
    for (uint32_t i = 1; i <= kPeople; ++i)
        expected.push_back(std::to_string(i) + "|" + (NameOf(i).empty() ? "~" : NameOf(i)) + "|" + CityOf(i));
    KIV_ASSERT_OK(KivSkip(pending, 5));
    KIVHANDLE other = 0;
    KIV_ASSERT_OK(KivCreateSQLStatement(conn, &other));
    GetParam().change(conn, other);
    KIV_EXPECT_OK(KivCloseSQLStatement(other));
    EXPECT_EQ(std::to_string(6), Field(pending, "ID")) << "the row the cursor was on";
    EXPECT_EQ(expected, RowList(pending));
    KIV_ASSERT_OK(KivCloseTable(pending));
}

INSTANTIATE_TEST_SUITE_P(
    Engine, SqlStreamChanges,
    ::testing::Values(
        ChangeCase{"Update", [](KIVHANDLE, KIVHANDLE st) { Sql(st, "UPDATE people SET name = 'x' WHERE id > 1000"); }},
        ChangeCase{"Insert", [](KIVHANDLE, KIVHANDLE st) { Sql(st, "INSERT INTO people (id, name) VALUES (9999, 'y')"); }},
        ChangeCase{"Delete", [](KIVHANDLE, KIVHANDLE st) { Sql(st, "DELETE FROM people WHERE id > 1400"); }},
        ChangeCase{"SqlTransactionRolledBack",
                   [](KIVHANDLE, KIVHANDLE st) {
                       Sql(st, "BEGIN");
                       Sql(st, "UPDATE people SET city = 'z'");
                       Sql(st, "ROLLBACK");
                   }},
        ChangeCase{"SqlTransactionCommitted",
                   [](KIVHANDLE, KIVHANDLE st) {
                       Sql(st, "BEGIN");
                       Sql(st, "DELETE FROM people WHERE id > 1000");
                       Sql(st, "COMMIT");
                   }},
        ChangeCase{"EngineTransactionWithAHandle",
                   [](KIVHANDLE conn, KIVHANDLE) {
                       KIV_EXPECT_OK(KivBeginTransaction(conn));
                       KIVHANDLE t = 0;
                       KIV_EXPECT_OK(KivOpenTable(conn, "people.dbf", nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI,
                                                  KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
                       KIV_EXPECT_OK(KivGotoRecord(t, 1200));
                       KIV_EXPECT_OK(Set(t, "NAME", "changed"));
                       KIV_EXPECT_OK(KivWriteRecord(t));
                       KIV_EXPECT_OK(KivCommitTransaction(conn));
                       KIV_EXPECT_OK(KivCloseTable(t));
                   }},
        ChangeCase{"HandleWriteOutsideATransaction",
                   [](KIVHANDLE conn, KIVHANDLE) {
                       KIVHANDLE t = 0;
                       KIV_EXPECT_OK(KivOpenTable(conn, "people.dbf", nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI,
                                                  KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK, KIV_OPEN_SHARED, &t));
                       KIV_EXPECT_OK(KivGotoRecord(t, 1300));
                       KIV_EXPECT_OK(KivDeleteRecord(t));
                       KIV_EXPECT_OK(KivAppendRecord(t));
                       KIV_EXPECT_OK(Set(t, "ID", "7777"));
                       KIV_EXPECT_OK(KivCloseTable(t));
                   }},
        ChangeCase{"ExclusiveOpenAndZap",
                   [](KIVHANDLE conn, KIVHANDLE) {
                       KIVHANDLE t = 0;
                       KIV_EXPECT_OK(KivOpenTable(conn, "people.dbf", nullptr, KIV_TABLE_DEFAULT, KIV_CHAR_ANSI,
                                                  KIV_LOCK_COMPATIBLE, KIV_RIGHTS_NO_CHECK, KIV_OPEN_EXCLUSIVE, &t));
                       KIV_EXPECT_OK(KivZapTable(t));
                       KIV_EXPECT_OK(KivCloseTable(t));
                   }},
        ChangeCase{"DropAndCreateTheTable",
                   [](KIVHANDLE, KIVHANDLE st) {
                       Sql(st, "DROP TABLE people");
                       Sql(st, "CREATE TABLE people (id INTEGER, name CHAR(5))");
                       Sql(st, "INSERT INTO people VALUES (1, 'new')");
                   }},
        ChangeCase{"AnotherSelectReadBeside",
                   [](KIVHANDLE, KIVHANDLE st) {
                       KIVHANDLE c = 0;
                       KIV_EXPECT_OK(KivExecuteSQLDirect(st, "SELECT id, city FROM people WHERE id > 1200", &c));
                       KIV_EXPECT_OK(KivSkip(c, 3));
                       const std::string id = Get(c, "ID", 1);
                       EXPECT_EQ("1204", id.substr(id.find_first_not_of(' ')));
                       uint32_t n = 0;
                       KIV_EXPECT_OK(KivGetRecordCount(c, KIV_COUNT_IGNORE_FILTERS, &n));
                       EXPECT_EQ(kPeople - 1200, n);
                       KIV_EXPECT_OK(KivCloseTable(c));
                   }}),
    [](const ::testing::TestParamInfo<ChangeCase>& info) { return std::string(info.param.label); });

// Two results read in turns keep each its statement's settings: an OEM
// statement's texts stay converted as OEM while an ANSI one runs beside it.
TEST_F(SqlStream, ResultsReadInTurnsKeepTheirStatementsSettings) {
    KIVHANDLE oem = 0;
    KIV_ASSERT_OK(KivCreateSQLStatement(conn, &oem));
    KIV_ASSERT_OK(KivStmtSetTableCharType(oem, KIV_CHAR_OEM));
    const char* query = "SELECT id, name FROM people";
    KIVHANDLE alone = 0, a = 0, b = 0;
    KIV_ASSERT_OK(KivExecuteSQLDirect(oem, query, &alone));
    EXPECT_EQ(kPeople, Count(alone));
    const std::vector<std::string> oemRows = RowList(alone);
    KIV_ASSERT_OK(KivCloseTable(alone));
    alone = Run(query);
    EXPECT_EQ(kPeople, Count(alone));
    const std::vector<std::string> ansiRows = RowList(alone);
    KIV_ASSERT_OK(KivCloseTable(alone));
    ASSERT_NE(oemRows, ansiRows);

    KIV_ASSERT_OK(KivExecuteSQLDirect(oem, query, &a));
    b = Run(query);
    std::vector<std::string> aRows, bRows;
    KIV_ASSERT_OK(KivGotoTop(a));
    KIV_ASSERT_OK(KivGotoTop(b));
    while (!AtEof(a) || !AtEof(b)) {
        for (KIVHANDLE c : {a, b}) {
            for (int k = 0; k < 300 && !AtEof(c); ++k) {
                const std::string id = Field(c, "ID"), name = Field(c, "NAME");
                (c == a ? aRows : bRows).push_back(id + "|" + (name.empty() ? "~" : name));
                KIV_ASSERT_OK(KivSkip(c, 1));
            }
        }
    }
    EXPECT_EQ(oemRows, aRows);
    EXPECT_EQ(ansiRows, bRows);
    KIV_ASSERT_OK(KivCloseTable(a));
    KIV_ASSERT_OK(KivCloseTable(b));
    KIV_ASSERT_OK(KivCloseSQLStatement(oem));
}

// The same for a result copied from one of the engine's own tables: it
// keeps the table's records as they were when it ran.
TEST_F(SqlStream, CopiedResultsWaitForChangesToo) {
    KIVHANDLE pending = Run("SELECT id, name FROM owned");
    KIV_ASSERT_OK(KivSkip(pending, 5));
    KIVHANDLE t = Open("owned.kdt");
    KIV_ASSERT_OK(KivGotoRecord(t, 1400));
    KIV_ASSERT_OK(Set(t, "NAME", "changed"));
    KIV_ASSERT_OK(KivWriteRecord(t));
    KIV_ASSERT_OK(KivCloseTable(t));
    Sql(st, "DELETE FROM owned WHERE id > 1450");
    std::vector<std::string> expected;
    for (uint32_t i = 1; i <= kPeople; ++i) expected.push_back(std::to_string(i) + "|" + (NameOf(i).empty() ? "~" : NameOf(i)));
    EXPECT_EQ(expected, RowList(pending));
    KIV_ASSERT_OK(KivCloseTable(pending));
    EXPECT_EQ(1450u, Count(pending = Run("SELECT id FROM owned")));
    KIV_ASSERT_OK(KivCloseTable(pending));
}

// An interrupt between reads of a pending result stops it at the next read
// SQL makes: that call fails with the interrupt, the cursor stays on its
// row with the rows read before, later calls that need more rows fail
// alike, and the statement runs again. An SQL failure met on the way (an
// overflow in row 1000) comes back the same way.
TEST_F(SqlStream, FailuresComeWithTheCallThatMeetsThem) {
    struct Case {
        const char* label;
        const char* sql;
        bool interrupt;
        const char* text;
    };
    const Case cases[] = {
        {"interrupted", "SELECT id, name FROM people", true, "interrupted"},
        {"overflow", "SELECT id, name FROM people WHERE abs(-9223372036854775807 - (id = 1000)) > 0", false,
         "integer overflow"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        KIVHANDLE c = Run(k.sql);
        KIV_ASSERT_OK(KivSkip(c, 100));
        if (k.interrupt) {
            KIV_ASSERT_OK(KivInterruptSQL(st));
        }
        KIVRESULT rc = KIV_OK;
        uint32_t reached = 101;
        while (rc == KIV_OK && !AtEof(c)) {
            rc = KivSkip(c, 1);
            if (rc == KIV_OK) ++reached;
        }
        EXPECT_EQ(KIV_ERR_SQL, rc);
        EXPECT_NE(std::string::npos, LastErrorText().find(k.text)) << LastErrorText();
        EXPECT_LT(reached, 1000u);
        EXPECT_FALSE(AtEof(c));
        EXPECT_EQ(reached, RecNo(c)) << "on the last row read";
        EXPECT_EQ(std::to_string(reached), Field(c, "ID"));
        uint32_t n = 0;
        EXPECT_EQ(KIV_ERR_SQL, KivGetRecordCount(c, KIV_COUNT_IGNORE_FILTERS, &n)) << "the rest stays unread";
        EXPECT_EQ(KIV_ERR_SQL, KivGotoBottom(c));
        KIV_ASSERT_OK(KivGotoRecord(c, 50));
        EXPECT_EQ("50", Field(c, "ID"));
        KIV_ASSERT_OK(KivCloseTable(c));
        // The statement runs again, and a change on the connection is not held up.
        c = Run("SELECT id FROM people WHERE id <= 999");
        EXPECT_EQ(999u, Count(c));
        KIV_ASSERT_OK(KivCloseTable(c));
        c = Run(k.sql);
        KIV_ASSERT_OK(KivSkip(c, 10));
        Sql(st, "UPDATE people SET city = city WHERE id = 1");
        KIV_ASSERT_OK(KivCloseTable(c));
    }
}

}  // namespace
