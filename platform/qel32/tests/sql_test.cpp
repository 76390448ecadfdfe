// SQL, cursors, transactions and the data dictionary through the engine's
// C interface.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "qel32_test.h"
#include "test_support.h"

using namespace qeltest;


class Sql : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        KivSetDateFormat("YYYY-MM-DD");
        KIVHANDLE t = Create("customer.dbf", KIV_TABLE_CDX, "ID,N,4;NAME,C,12;SINCE,D;NOTE,M");
        const char* rows[][4] = {{"1", "Alder", "2020-01-02", "first"}, {"2", "Birch", "2021-05-06", ""},
                                 {"3", "Cedar", "2022-09-10", "third"}};
        for (auto& r : rows) {
            KIV_ASSERT_OK(KivAppendRecord(t));
            for (int i = 0; i < 4; ++i) KIV_ASSERT_OK(Set(t, KIV_FIELD(i + 1), r[i]));
        }
        KIV_ASSERT_OK(KivCloseTable(t));
        t = Create("orders.kdt", KIV_TABLE_KDT, "ID,AUTOINC;CUSTID,INTEGER;AMOUNT,MONEY;PAID,LOGICAL");
        const char* orders[][3] = {{"1", "10.50", "T"}, {"1", "4.25", "F"}, {"3", "100", "T"}};
        for (auto& r : orders) {
            KIV_ASSERT_OK(KivAppendRecord(t));
            for (int i = 0; i < 3; ++i) KIV_ASSERT_OK(Set(t, KIV_FIELD(i + 2), r[i]));
        }
        KIV_ASSERT_OK(KivCloseTable(t));
    }
    void TearDown() override {
        EngineFixture::TearDown();
        KivSetDateFormat("MM/DD/YYYY");
    }
};

TEST_F(Sql, SelectsJoinsAndAggregatesOverBothTableTypes) {
    EXPECT_EQ("Alder|2020-01-02;Cedar|2022-09-10;", RowsOf(conn, "SELECT name, since FROM customer WHERE id <> 2 ORDER BY name"));
    EXPECT_EQ("Alder|14.75;Cedar|100;",
              RowsOf(conn, "SELECT c.name, SUM(o.amount) FROM customer c JOIN orders o ON o.custid = c.id "
                           "GROUP BY c.name ORDER BY 1"));
    EXPECT_EQ("3;", RowsOf(conn, "select count(*) from orders"));
    // Names as files, with an extension, with escapes.
    EXPECT_EQ("Birch;", RowsOf(conn, "SELECT name FROM customer.dbf WHERE since = {d '2021-05-06'}"));
    EXPECT_EQ("CEDAR;", RowsOf(conn, "SELECT {fn UCASE(name)} FROM \"customer.dbf\" WHERE id = 3"));
    EXPECT_EQ("first;third;", RowsOf(conn, "SELECT note FROM customer WHERE note IS NOT NULL ORDER BY id"));
}

TEST_F(Sql, ChangesWithParametersCountRowsAndReachPlainHandles) {
    KIVHANDLE st = 0;
    KIV_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    KIV_ASSERT_OK(KivPrepareSQL(st, "INSERT INTO customer (id, name, since, note) VALUES (?, :name, ?, ?)"));
    KIV_ASSERT_OK(KivSetLong(st, KIV_FIELD(1), 4));
    KIV_ASSERT_OK(KivSetString(st, KIV_FIELD(2), "Dogwood", 7));
    KIV_ASSERT_OK(KivSetJulian(st, KIV_FIELD(3), 2460000));
    KIV_ASSERT_OK(KivSetString(st, KIV_FIELD(4), "a\nmemo", 6));
    KIVHANDLE cursor = 1;
    KIV_ASSERT_OK(KivExecuteSQL(st, &cursor));
    EXPECT_EQ(0u, cursor);
    uint32_t count = 0;
    KIV_ASSERT_OK(KivGetRecordCount(st, 2, &count));
    EXPECT_EQ(1u, count);

    KIV_ASSERT_OK(KivPrepareSQL(st, "UPDATE orders SET paid = ? WHERE custid = ?"));
    KIV_ASSERT_OK(KivSetLogical(st, KIV_FIELD(1), 1));
    KIV_ASSERT_OK(KivSetLong(st, KIV_FIELD(2), 1));
    KIV_ASSERT_OK(KivExecuteSQL(st, nullptr));
    KIV_ASSERT_OK(KivGetRecordCount(st, 1, &count));
    EXPECT_EQ(2u, count);

    KIV_ASSERT_OK(KivExecuteSQLDirect(st, "DELETE FROM customer WHERE name = 'Birch'", nullptr));
    KIV_ASSERT_OK(KivGetRecordCount(st, 2, &count));
    EXPECT_EQ(1u, count);
    KIV_ASSERT_OK(KivExecuteSQLDirect(st, "INSERT INTO orders (custid, amount) VALUES (4, 1.5)", nullptr));
    uint32_t autoinc = 0;
    KIV_ASSERT_OK(KivGetLastAutoinc(st, &autoinc));
    EXPECT_EQ(4u, autoinc);
    KIV_ASSERT_OK(KivExecuteSQLDirect(st, "SELECT * FROM orders", &cursor));
    EXPECT_EQ(KIV_ERR_NO_ROW_COUNT, KivGetRecordCount(st, 2, &count));
    KivCloseTable(cursor);
    KIV_ASSERT_OK(KivCloseSQLStatement(st));
    EXPECT_EQ(KIV_ERR_STATEMENT_CLOSED, KivCloseSQLStatement(st));

    // A plain handle opened afterwards sees it all.
    KIVHANDLE t = Open("customer.dbf");
    std::string seen;
    for (KivGotoTop(t); !AtEof(t); KivSkip(t, 1)) {
        uint16_t deleted = 0;
        KivIsRecordDeleted(t, &deleted);
        if (!deleted) seen += Get(t, "NAME", 1) + "/" + Get(t, "SINCE") + "/" + Get(t, "NOTE") + ";";
    }
    EXPECT_EQ("Alder/2020-01-02/first;Cedar/2022-09-10/third;Dogwood/2023-02-24/a\nmemo;", seen);
    KIVHANDLE o = Open("orders.kdt");
    KIV_ASSERT_OK(KivGotoTop(o));
    EXPECT_EQ("T", Get(o, "PAID"));
    KIV_ASSERT_OK(KivGotoBottom(o));
    EXPECT_EQ("1.5000", Get(o, "AMOUNT"));
}

TEST_F(Sql, BadValuesFailWithoutWritingAnything) {
    KIVRESULT rc;
    Exec(conn, "INSERT INTO customer (id, name) VALUES (99999, 'x')", &rc);
    EXPECT_EQ(KIV_ERR_INT_RANGE, rc);
    Exec(conn, "INSERT INTO customer (id, name) VALUES (5, 'a name that is far too long')", &rc);
    EXPECT_EQ(KIV_ERR_VALUE_CUT, rc);
    EXPECT_EQ("3;", RowsOf(conn, "SELECT count(*) FROM customer"));
}

TEST_F(Sql, ErrorsCarryTheNativeNumber) {
    struct Case { const char* sql; const char* native; } cases[] = {
        {"SELECT * FROM nowhere", "NativeError = 2122;"},
        {"SELECT nosuchcolumn FROM customer", "NativeError = 2121;"},
        {"SELEC name FROM customer", "NativeError = 2117;"},
        {"SELECT * FROM customer WHERE {x 1}", "NativeError = 2118;"},
    };
    for (const auto& c : cases) {
        KIVRESULT rc;
        Exec(conn, c.sql, &rc);
        EXPECT_EQ(KIV_ERR_SQL, rc) << c.sql;
        const std::string text = LastErrorText();
        EXPECT_NE(std::string::npos, text.find("ERROR 7200:")) << text;
        EXPECT_NE(std::string::npos, text.find(c.native)) << text;
        EXPECT_NE(std::string::npos, text.find("[Morvane SQL Engine]")) << text;
    }
}

TEST_F(Sql, DescribeBeforeExecute) {
    KIVHANDLE st = 0;
    KIV_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    KivColumnDescription cols[8];
    uint32_t count = 8;
    KIV_ASSERT_OK(KivPrepareSQLDescribe(st, "SELECT id, name, since, note, count(*) FROM customer", cols, sizeof cols, &count));
    ASSERT_EQ(5u, count);
    const uint16_t types[] = {KIV_FT_NUMERIC, KIV_FT_CHARACTER, KIV_FT_DATE, KIV_FT_MEMO, KIV_FT_INTEGER};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(types[i], cols[i].type) << cols[i].name;
    EXPECT_STREQ("NAME", cols[1].name);
    EXPECT_EQ(12u, cols[1].length);
    EXPECT_EQ(4u, cols[0].length);
    // Computed columns are described from what a run of the statement gives, aliased or not.
    count = 8;
    KIV_ASSERT_OK(KivPrepareSQLDescribe(
        st, "SELECT name AS who, COUNT(*) AS n, sum(id) total, (SELECT COUNT(*) FROM customer), id || 'x' FROM customer",
        cols, sizeof cols, &count));
    ASSERT_EQ(5u, count);
    const uint16_t computed[] = {KIV_FT_CHARACTER, KIV_FT_INTEGER, KIV_FT_INTEGER, KIV_FT_INTEGER, KIV_FT_CHARACTER};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(computed[i], cols[i].type) << cols[i].name;
    EXPECT_STREQ("n", cols[1].name);
    EXPECT_STREQ("total", cols[2].name);
    count = 8;
    KIV_ASSERT_OK(KivPrepareSQLDescribe(st, "DELETE FROM customer WHERE 1 = 0", cols, sizeof cols, &count));
    EXPECT_EQ(0u, count);
    KivCloseSQLStatement(st);
}

TEST_F(Sql, StaticCursorsKeepTheirRowsAndRefuseLocks) {
    const KIVHANDLE c = Exec(conn, "SELECT id, name FROM customer ORDER BY id DESC");
    uint16_t type = 0, ht = 0, live = 9;
    KIV_ASSERT_OK(KivGetTableType(c, &type));
    EXPECT_EQ(KIV_TABLE_KDT, type);
    KIV_ASSERT_OK(KivGetHandleType(c, &ht));
    EXPECT_EQ(KIV_HT_CURSOR, ht);
    KIV_ASSERT_OK(KivSqlPeekStatement(c, &live));
    EXPECT_EQ(0, live);
    KIV_ASSERT_OK(KivGotoRecord(c, 2));
    EXPECT_EQ("Birch", Get(c, "NAME", 1));
    EXPECT_EQ(KIV_ERR_STATIC_VIEW, KivLockRecord(c, 0));
    EXPECT_EQ(KIV_ERR_STATIC_VIEW, Set(c, "NAME", "x"));
    const std::string first = Rows(c);
    EXPECT_EQ("3|Cedar;2|Birch;1|Alder;", first);
    KIV_ASSERT_OK(KivGotoRecord(c, 3));
    EXPECT_EQ(3u, RecNo(c));
    EXPECT_EQ(first, Rows(c));  // re-read: same numbers, same rows
    KIVHANDLE t = Open("customer.dbf");
    EXPECT_EQ(KIV_ERR_DD_UNKNOWN_NAME == 0, false);
    KIV_ASSERT_OK(KivSqlPeekStatement(c, &live));
    EXPECT_EQ(KIV_ERR_NOT_APPLICABLE, KivSqlPeekStatement(t, &live));
    KIV_ASSERT_OK(KivCloseTable(c));
}

// A result of many rows is kept whole: enough rows to fill the run's storage
// several times over, one value longer than a whole block of it, and nulls,
// integers beyond 32 bits, fractions, text and blobs row after row.
TEST_F(Sql, StaticCursorsKeepLargeResultsOfEveryKind) {
    const KIVHANDLE c = Exec(conn,
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
        "SELECT i, i * 4294967296 AS big, i / 4.0 AS part, "
        "CASE WHEN i % 3 = 0 THEN NULL ELSE printf('%0400d', i) END AS label, "
        "CASE WHEN i = 1500 THEN printf('%.*c', 1500000, 'x') ELSE 'short' END AS note, "
        "CASE WHEN i % 2 = 0 THEN x'00ff' || CAST(i AS BLOB) END AS raw FROM n",
        nullptr, 0);
    ASSERT_NE(0u, c);
    uint32_t count = 0;
    KIV_ASSERT_OK(KivGetRecordCount(c, KIV_COUNT_RESPECT_FILTERS, &count));
    EXPECT_EQ(3000u, count);
    struct Case { uint32_t row; const char* id; const char* big; const char* part; const char* label; };
    const Case cases[] = {{1, "1", "4294967296", "0.25", "1"}, {3, "3", "12884901888", "0.75", ""},
                          {1500, "1500", "6442450944000", "375", ""}, {2999, "2999", "12880606920704", "749.75", "2999"},
                          {3000, "3000", "12884901888000", "750", ""}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.row);
        KIV_ASSERT_OK(KivGotoRecord(c, k.row));
        EXPECT_EQ(k.id, Get(c, "I", 1));
        EXPECT_EQ(k.big, Get(c, "BIG", 1));
        EXPECT_EQ(k.part, Get(c, "PART", 1));
        const std::string label = Get(c, "LABEL", 1);
        if (*k.label) EXPECT_EQ(std::string(400 - std::strlen(k.label), '0') + k.label, label);
        else EXPECT_EQ("", label);
        uint32_t length = 0;
        KIV_ASSERT_OK(KivGetMemoLength(c, "NOTE", &length));
        EXPECT_EQ(k.row == 1500 ? 1500000u : 5u, length);
        const std::string raw = Get(c, "RAW", 1);
        EXPECT_EQ(k.row % 2 == 0 ? std::string("\x00\xff", 2) + std::to_string(k.row) : "", raw);
    }
    KIV_ASSERT_OK(KivGotoRecord(c, 1500));
    EXPECT_EQ(std::string(1500000, 'x'), Get(c, "NOTE", 1));
    KIV_ASSERT_OK(KivCloseTable(c));
}

// A text longer than its declared column (here from the second half of a
// union) widens the result's column; a statement failing after some rows
// leaves no result file behind.
TEST_F(Sql, StaticCursorsWidenColumnsAndCleanUpAfterFailures) {
    TempDir results;
    const char* saved = std::getenv("TMPDIR");
    const std::string before = saved ? saved : "";
    setenv("TMPDIR", results.path().c_str(), 1);
    const KIVHANDLE c = Exec(conn,
        "SELECT name, id FROM customer WHERE id < 3 UNION ALL SELECT 'a name longer than twelve', 9 ORDER BY 2",
        nullptr, 0);
    ASSERT_NE(0u, c);
    uint32_t length = 0;
    KIV_ASSERT_OK(KivGetFieldLength(c, "NAME", &length));
    EXPECT_EQ(25u, length);
    EXPECT_EQ("Alder|1;Birch|2;a name longer than twelve|9;", Rows(c));
    KIV_ASSERT_OK(KivCloseTable(c));
    // The third row overflows abs().
    KIVRESULT rc = KIV_OK;
    EXPECT_EQ(0u, Exec(conn, "SELECT id, name FROM customer WHERE abs(-9223372036854775805 - id) > 0",
                       &rc, 0));
    EXPECT_NE(KIV_OK, rc);
    EXPECT_TRUE(std::filesystem::is_empty(results.path()));
    if (saved) setenv("TMPDIR", before.c_str(), 1);
    else unsetenv("TMPDIR");
}

// A select of stored columns of one of the engine's own tables, with a
// condition and an order: the result holds each field as the table stores it
// (in the order the select names them, empty ones empty), SQL reads only the
// values the condition and the order need, and the result is a snapshot.
TEST_F(Sql, PlainSelectsOfOwnTablesCopyTheirFields) {
    KIVHANDLE t = Create("stock.kdt", KIV_TABLE_KDT, "ID,INTEGER;NAME,C,10;PRICE,N,8,2;DAY,D;OK,LOGICAL;RATE,DOUBLE");
    const char* rows[][6] = {{"1", "bolt", "0.25", "2024-02-29", "T", "1.5"},
                             {"2", "nut", "12.50", "1999-12-31", "F", "-2"},
                             {"3", "", "", "", "", ""},
                             {"4", "washer", "3", "2000-01-01", "T", "0.125"}};
    for (auto& r : rows) {
        KIV_ASSERT_OK(KivAppendRecord(t));
        for (int i = 0; i < 6; ++i) {
            if (*r[i]) {
                KIV_ASSERT_OK(Set(t, KIV_FIELD(i + 1), r[i]));
            }
        }
    }
    KIV_ASSERT_OK(KivCloseTable(t));
    KIVHANDLE st = 0;
    KIV_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    KIV_ASSERT_OK(KivPrepareSQL(st, "SELECT rate, day, name, id, ok, price FROM stock WHERE id >= ? ORDER BY id DESC"));
    KIV_ASSERT_OK(KivSetLong(st, KIV_FIELD(1), 2));
    const uint64_t before = KivTestSqlValuesRead();
    KIVHANDLE c = 0;
    KIV_ASSERT_OK(KivExecuteSQL(st, &c));
    const uint64_t read = KivTestSqlValuesRead() - before;
    // (Record 3 holds only its ID; its empty logical reads as false.)
    const std::string expected = "0.125|2000-01-01|washer|4|T|3.00;|||3|F|;-2|1999-12-31|nut|2|F|12.50;";
    EXPECT_EQ(expected, Rows(c));
    EXPECT_LE(read, 2u * 4u);  // the ID of each record, for the condition and the order
    // The general road (a computed column) gives the same values.
    EXPECT_EQ("0.125|2000-01-01|washer|4|T|3.00|5;|||3|F||4;-2|1999-12-31|nut|2|F|12.50|3;",
              RowsOf(conn, "SELECT rate, day, name, id, ok, price, id + 1 FROM stock WHERE id >= 2 ORDER BY id DESC"));
    // Changes after the run do not reach the result.
    t = Open("stock.kdt");
    KIV_ASSERT_OK(KivGotoRecord(t, 4));
    KIV_ASSERT_OK(Set(t, "NAME", "changed"));
    KIV_ASSERT_OK(KivWriteRecord(t));
    KIV_ASSERT_OK(KivCloseTable(t));
    EXPECT_EQ(expected, Rows(c));
    KIV_ASSERT_OK(KivCloseTable(c));
    KIV_ASSERT_OK(KivCloseSQLStatement(st));
}

// Texts reach SQL whole, a NUL byte inside one included.
TEST_F(Sql, TextsWithANulByteKeepTheirLength) {
    KIVHANDLE t = Open("customer.dbf");
    KIV_ASSERT_OK(KivGotoRecord(t, 2));
    KIV_ASSERT_OK(KivSetField(t, KIV_FIELD(2), "Bi\0ch", 5));
    KIV_ASSERT_OK(KivWriteRecord(t));
    KIV_ASSERT_OK(KivCloseTable(t));
    EXPECT_EQ("1|416C646572;2|4269006368;3|4365646172;",
              RowsOf(conn, "SELECT id, hex(rtrim(name)) FROM customer WHERE id > 0 ORDER BY id"));
}

TEST_F(Sql, LiveCursorsWriteThroughAndSeeOtherHandles) {
    const KIVHANDLE c = Exec(conn, "SELECT * FROM customer WHERE id >= 2 ORDER BY id DESC", nullptr, 2);
    uint16_t live = 0;
    KIV_ASSERT_OK(KivSqlPeekStatement(c, &live));
    EXPECT_EQ(1, live);
    KIV_ASSERT_OK(KivGotoTop(c));
    EXPECT_EQ("Cedar", Get(c, "NAME", 1));
    EXPECT_EQ(1u, RecNo(c));  // cursor rows are numbered 1..N

    KIVHANDLE t = Open("customer.dbf");
    KIV_ASSERT_OK(KivGotoRecord(t, 2));
    KIV_ASSERT_OK(Set(t, "NAME", "Beech"));
    KIV_ASSERT_OK(KivWriteRecord(t));
    KIV_ASSERT_OK(KivGotoRecord(c, 2));
    EXPECT_EQ("Beech", Get(c, "NAME", 1));

    KIV_ASSERT_OK(KivLockRecord(c, 0));
    KIV_ASSERT_OK(Set(c, "NOTE", "via cursor"));
    KIV_ASSERT_OK(KivWriteRecord(c));
    KIV_ASSERT_OK(KivUnlockTable(c));
    KIV_ASSERT_OK(KivRefreshRecord(t));
    EXPECT_EQ("via cursor", Get(t, "NOTE"));
    KIV_ASSERT_OK(KivCloseTable(c));
}

TEST_F(Sql, RollbackRestoresRecordsAndMemos) {
    KIVHANDLE t = Open("customer.dbf");
    KIV_ASSERT_OK(KivBeginTransaction(conn));
    uint16_t open = 0;
    KIV_ASSERT_OK(KivInTransaction(conn, &open));
    EXPECT_EQ(1, open);
    Exec(conn, "UPDATE customer SET note = 'changed', name = 'Changed' WHERE id = 1");
    Exec(conn, "DELETE FROM customer WHERE id = 2");
    Exec(conn, "INSERT INTO customer (id, name) VALUES (7, 'Added')");
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(Set(t, "NAME", "Handle"));
    KIV_ASSERT_OK(KivWriteRecord(t));
    KIV_ASSERT_OK(KivGotoRecord(t, 3));
    KIV_ASSERT_OK(Set(t, "NOTE", "also changed"));
    EXPECT_EQ("4;", RowsOf(conn, "SELECT count(*) FROM customer"));  // 3 - 1 + 2
    KIV_ASSERT_OK(KivRollbackTransaction(conn));
    KIV_ASSERT_OK(KivInTransaction(conn, &open));
    EXPECT_EQ(0, open);
    EXPECT_EQ("1|Alder|first;2|Birch|;3|Cedar|third;", RowsOf(conn, "SELECT id, name, note FROM customer ORDER BY id"));
    uint32_t count = 0;
    KIV_ASSERT_OK(KivGetRecordCount(t, KIV_COUNT_IGNORE_FILTERS, &count));
    EXPECT_EQ(3u, count);  // the appends were cut off again
}

TEST_F(Sql, SavepointsAndCommit) {
    KIV_ASSERT_OK(KivBeginTransaction(conn));
    Exec(conn, "UPDATE customer SET name = 'One' WHERE id = 1");
    KIV_ASSERT_OK(KivCreateSavepoint(conn, "mark", 0));
    Exec(conn, "UPDATE customer SET name = 'Two' WHERE id = 2");
    KIV_ASSERT_OK(KivRollbackTransaction80(conn, "MARK", 0));
    uint16_t open = 0;
    KIV_ASSERT_OK(KivInTransaction(conn, &open));
    EXPECT_EQ(1, open);
    KIV_ASSERT_OK(KivCommitTransaction(conn));
    EXPECT_EQ("One;Birch;", RowsOf(conn, "SELECT name FROM customer WHERE id < 3 ORDER BY id"));
    EXPECT_NE(KIV_OK, KivCommitTransaction(conn));
}

TEST_F(Sql, CreateAndDropTables) {
    Exec(conn, "CREATE TABLE parts (code CHAR(8), qty INTEGER, price NUMERIC(8,2), seen DATE, info MEMO)");
    Exec(conn, "INSERT INTO parts VALUES ('A1', 3, 9.99, '2024-02-29', 'note')");
    EXPECT_EQ("A1|3|9.99|2024-02-29|note;", RowsOf(conn, "SELECT * FROM parts"));
    EXPECT_TRUE(std::filesystem::exists(dir.File("parts.dbf")));
    Exec(conn, "DROP TABLE parts");
    EXPECT_FALSE(std::filesystem::exists(dir.File("parts.dbf")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("parts.fpt")));
}

TEST_F(Sql, StatementsOfAClosedConnectionAreGone) {
    KIVHANDLE st = 0;
    KIV_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    KIV_ASSERT_OK(KivPrepareSQL(st, "SELECT * FROM customer"));
    KIV_ASSERT_OK(KivDisconnect(conn));
    KIVHANDLE cursor = 0;
    EXPECT_EQ(KIV_ERR_INVALID_HANDLE, KivExecuteSQL(st, &cursor));
    EXPECT_EQ(KIV_ERR_STATEMENT_CLOSED, KivCloseSQLStatement(st));
    KIV_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));
}

TEST_F(Sql, FolderConnectionsHaveAnEmptyCatalogue) {
    EXPECT_EQ("", RowsOf(conn, "select name from system.tables order by 1"));
    uint16_t ht = 0;
    KIV_ASSERT_OK(KivGetHandleType(conn, &ht));
    EXPECT_EQ(KIV_HT_CONNECTION, ht);
}

// ---------------------------------------------------------------- dictionary

class DataDictionary : public Sql {
protected:
    void SetUp() override {
        Sql::SetUp();
        const std::string description =
            "# the shop\n"
            "user KIVSYS secret\n"
            "user CLERK pw SALES;STAFF\n"
            "table CUSTOMER customer.dbf\n"
            "table ORDERS orders.kdt\n"
            "column CUSTOMER 2 NAME 4 20 0\n"
            "property CUSTOMER 213 BYNAME\n"
            "field-property CUSTOMER NAME 1 The customer's name, as printed\n"
            "field-property CUSTOMER ID 1400 0\n"
            "procedure TOTALS amount,NUMERIC,10,2 total,MONEY,8,4 Sums the orders\n"
            "rights ORDERS 0x01\n";
        kdd = dir.File("shop.kdd");
        KIV_ASSERT_OK(KivDDCreate(kdd.c_str(), description.c_str()));
        KIV_ASSERT_OK(KivConnect60(kdd.c_str(), 1, "KIVSYS", "secret", 0, &dd));
    }
    void TearDown() override {
        KivDisconnect(dd);
        Sql::TearDown();
    }
    std::string kdd;
    KIVHANDLE dd = 0;
};

TEST_F(DataDictionary, TheCheckersTwoQueries) {
    EXPECT_EQ("CUSTOMER;ORDERS;", RowsOf(dd, "select name from system.tables order by 1"));
    KIVHANDLE st = 0, cursor = 0;
    KIV_ASSERT_OK(KivCreateSQLStatement(dd, &st));
    KIV_ASSERT_OK(KivPrepareSQL(st, " select field_num, name, field_type, field_length, field_decimal "
                                    " from system.columns  where parent=:parent  order by 1"));
    KIV_ASSERT_OK(KivSetString(st, KIV_FIELD(1), "CUSTOMER", 8));
    KIV_ASSERT_OK(KivExecuteSQL(st, &cursor));
    // The catalogue says NAME is 20 long; the file says 12: that is the point.
    EXPECT_EQ("1|ID|2|4|0;2|NAME|4|20|0;3|SINCE|3|8|0;4|NOTE|5|10|0;", Rows(cursor));
    uint16_t type = 0;
    KIV_ASSERT_OK(KivGetFieldType(cursor, "field_num", &type));
    EXPECT_EQ(KIV_FT_INTEGER, type);
    KIV_ASSERT_OK(KivGetFieldType(cursor, "name", &type));
    EXPECT_TRUE(type == KIV_FT_CHARACTER || type == KIV_FT_MEMO);
    KivCloseTable(cursor);
    KivCloseSQLStatement(st);
}

TEST_F(DataDictionary, LoginsAreChecked) {
    KIVHANDLE c = 0;
    EXPECT_EQ(KIV_ERR_LOGIN, KivConnect60(kdd.c_str(), 1, "KIVSYS", "wrong", 0, &c));
    EXPECT_NE(std::string::npos, LastErrorText().find("not valid"));
    EXPECT_EQ(KIV_ERR_LOGIN, KivConnect60(kdd.c_str(), 1, "", "", 0, &c));
    EXPECT_EQ(KIV_ERR_LOGIN, KivConnect60(kdd.c_str(), 1, "NOBODY", "", 0, &c));
    EXPECT_EQ(0u, c);
    KIV_ASSERT_OK(KivConnect60(kdd.c_str(), 1, "clerk", "pw", 0, &c));
    uint16_t ht = 0, type = 0;
    KIV_ASSERT_OK(KivGetHandleType(c, &ht));
    EXPECT_EQ(KIV_HT_DD_CONNECTION, ht);
    KIV_ASSERT_OK(KivGetConnectionType(c, &type));
    EXPECT_EQ(KIV_SERVER_LOCAL, type);
    KivDisconnect(c);
    const std::string missing = dir.File("none.kdd");
    EXPECT_EQ(KIV_ERR_FILE_NOT_FOUND, KivConnect60(missing.c_str(), 1, "KIVSYS", "", 0, &c));
}

TEST_F(DataDictionary, TablesOpenByDictionaryNameOrAsFreeFiles) {
    KIVHANDLE t = 0;
    KIV_ASSERT_OK(KivOpenTable(dd, "customer", nullptr, 0, 1, 0, 2, 0, &t));
    KIV_ASSERT_OK(KivGotoTop(t));
    EXPECT_EQ("Alder", Get(t, "NAME", 1));
    KIVHANDLE u = 0;
    EXPECT_EQ(KIV_ERR_DD_UNKNOWN_NAME, KivOpenTable(dd, "SUPPLIER", nullptr, 0, 1, 0, 2, 0, &u));
    KIV_ASSERT_OK(KivOpenTable(dd, "orders.kdt", nullptr, 3, 1, 0, 2, 0, &u));
    EXPECT_EQ("Alder;", RowsOf(dd, "SELECT name FROM customer WHERE id = 1"));
}

// The column catalogue keeps a comment and a default value per field; they
// follow their table when it is renamed and go with it.
TEST_F(DataDictionary, FieldCommentsAndDefaultValues) {
    auto property = [&](const char* table, const char* field, uint16_t number) {
        char buf[100];
        uint32_t len = sizeof buf;
        const KIVRESULT rc = KivDDGetFieldProperty(dd, table, field, number, buf, &len);
        return rc == KIV_OK ? std::string(buf, len) : "<" + std::to_string(rc) + ">";
    };
    const std::string missing = "<" + std::to_string(KIV_ERR_DD_NO_PROPERTY) + ">";
    const std::string unknown = "<" + std::to_string(KIV_ERR_DD_UNKNOWN_NAME) + ">";
    EXPECT_EQ("The customer's name, as printed", property("customer", "name", KIV_DD_PROP_FIELD_COMMENT));
    EXPECT_EQ("0", property("CUSTOMER", "ID", KIV_DD_PROP_FIELD_DEFAULT_VALUE));
    EXPECT_EQ(missing, property("CUSTOMER", "NAME", KIV_DD_PROP_FIELD_DEFAULT_VALUE));
    EXPECT_EQ(missing, property("ORDERS", "AMOUNT", KIV_DD_PROP_FIELD_COMMENT));
    EXPECT_EQ(unknown, property("CUSTOMER", "NOSUCH", KIV_DD_PROP_FIELD_COMMENT));
    EXPECT_EQ(unknown, property("NOSUCH", "NAME", KIV_DD_PROP_FIELD_COMMENT));
    KIV_ASSERT_OK(KivDDRenameObject(dd, "CUSTOMER", "CLIENT", KIV_DD_OBJ_TABLE, 0));
    EXPECT_EQ("0", property("CLIENT", "ID", KIV_DD_PROP_FIELD_DEFAULT_VALUE));
    // A table dropped and made again under the name has none of the old ones.
    EXPECT_EQ(0u, Exec(dd, "DROP TABLE CLIENT"));
    EXPECT_EQ(0u, Exec(dd, "CREATE TABLE CLIENT (ID INTEGER, NAME CHAR(5))"));
    EXPECT_EQ(missing, property("CLIENT", "ID", KIV_DD_PROP_FIELD_DEFAULT_VALUE));
    EXPECT_EQ(missing, property("CLIENT", "NAME", KIV_DD_PROP_FIELD_COMMENT));
}

TEST_F(DataDictionary, ObjectsPropertiesAndRenames) {
    auto list = [&](uint16_t type) {
        std::string out;
        char buf[201];
        uint32_t len = 200;
        KIVHANDLE find = 0;
        KIVRESULT rc = KivDDFindFirstObject(dd, type, "", buf, &len, &find);
        while (rc == KIV_OK) {
            out += std::string(buf, len) + ";";
            len = 200;
            rc = KivDDFindNextObject(find, buf, &len);
        }
        EXPECT_EQ(KIV_ERR_DD_NO_MORE_OBJECTS, rc);
        if (find) KivDDFindClose(find);
        return out;
    };
    EXPECT_EQ("CUSTOMER;ORDERS;", list(KIV_DD_OBJ_TABLE));
    EXPECT_EQ("TOTALS;", list(KIV_DD_OBJ_PROCEDURE));

    char buf[200];
    uint32_t len = sizeof buf;
    KIV_ASSERT_OK(KivDDGetTableProperty(dd, "CUSTOMER", KIV_DD_PROP_DEFAULT_INDEX, buf, &len));
    EXPECT_EQ("BYNAME", std::string(buf, len));
    len = sizeof buf;
    EXPECT_EQ(KIV_ERR_DD_NO_PROPERTY, KivDDGetTableProperty(dd, "ORDERS", KIV_DD_PROP_DEFAULT_INDEX, buf, &len));
    len = sizeof buf;
    KIV_ASSERT_OK(KivDDGetObjectProperty(dd, "TOTALS", KIV_DD_PROP_PROC_OUTPUT, buf, &len));
    EXPECT_EQ("total,MONEY,8,4", std::string(buf, len));
    uint16_t glen = 0;
    EXPECT_EQ(KIV_ERR_BUFFER_TOO_SMALL, KivDDGetUserProperty(dd, "CLERK", KIV_DD_PROP_USER_GROUPS, nullptr, &glen));
    EXPECT_EQ(11, glen);
    glen = 0;
    EXPECT_EQ(KIV_ERR_DD_NO_PROPERTY, KivDDGetUserProperty(dd, "KIVSYS", KIV_DD_PROP_USER_GROUPS, nullptr, &glen));
    uint8_t rights = 0;
    KIV_ASSERT_OK(KivDDGetTableRights(dd, "ORDERS", &rights));
    EXPECT_EQ(KIV_DD_RIGHT_SELECT, rights);
    len = sizeof buf;
    KIV_ASSERT_OK(KivDDGetDatabaseProperty(dd, KIV_DD_PROP_DATA_PATH, buf, &len));
    EXPECT_EQ(dir.path(), std::string(buf, len));

    KIV_ASSERT_OK(KivDDRenameObject(dd, "ORDERS", "SALES", KIV_DD_OBJ_TABLE, 0));
    EXPECT_EQ("CUSTOMER;SALES;", list(KIV_DD_OBJ_TABLE));
    EXPECT_EQ(KIV_ERR_DD_UNKNOWN_NAME, KivDDRenameObject(dd, "ORDERS", "X", KIV_DD_OBJ_TABLE, 0));
    // Table search of a dictionary connection lists its tables.
    char name[260];
    uint32_t nlen = sizeof name;
    KIVHANDLE find = 0;
    KIV_ASSERT_OK(KivFindFirstTable(dd, "", name, &nlen, &find));
    EXPECT_EQ("CUSTOMER", std::string(name, nlen));
    KivFindClose(find);
}

TEST_F(DataDictionary, RelationsAreObjectsWithProperties) {
    const std::string path = dir.File("ri.kdd");
    KIV_ASSERT_OK(KivDDCreate(path.c_str(),
                              "table CUSTOMER customer.dbf\n"
                              "table ORDERS orders.kdt\n"
                              "relation R_ORDERS customer ID;NAME orders CUSTID;CUSTNAME cascade setnull\n"
                              "relation R_PLAIN CUSTOMER ID ORDERS CUSTID\n"
                              "procedure NOINPUT - total,MONEY,8,4\n"));
    KIVHANDLE c = 0;
    KIV_ASSERT_OK(KivConnect60(path.c_str(), 1, "KIVSYS", "", 0, &c));
    char buf[100];
    uint32_t len = sizeof buf;
    KIVHANDLE find = 0;
    KIV_ASSERT_OK(KivDDFindFirstObject(c, KIV_DD_OBJ_RELATION, "", buf, &len, &find));
    EXPECT_EQ("R_ORDERS", std::string(buf, len));
    len = sizeof buf;
    KIV_ASSERT_OK(KivDDFindNextObject(find, buf, &len));
    EXPECT_EQ("R_PLAIN", std::string(buf, len));
    len = sizeof buf;
    EXPECT_EQ(KIV_ERR_DD_NO_MORE_OBJECTS, KivDDFindNextObject(find, buf, &len));
    KIV_ASSERT_OK(KivDDFindClose(find));
    struct Case {
        const char* relation;
        uint16_t property;
        const char* value;
    };
    const Case cases[] = {
        {"R_ORDERS", KIV_DD_PROP_RI_PARENT_TABLE, "customer"},
        {"R_ORDERS", KIV_DD_PROP_RI_PARENT_COLUMNS, "ID;NAME"},
        {"R_ORDERS", KIV_DD_PROP_RI_CHILD_TABLE, "orders"},
        {"r_orders", KIV_DD_PROP_RI_CHILD_COLUMNS, "CUSTID;CUSTNAME"},
        {"R_ORDERS", KIV_DD_PROP_RI_UPDATE_RULE, "CASCADE"},
        {"R_ORDERS", KIV_DD_PROP_RI_DELETE_RULE, "SETNULL"},
        {"R_PLAIN", KIV_DD_PROP_RI_UPDATE_RULE, "RESTRICT"},
        {"R_PLAIN", KIV_DD_PROP_RI_DELETE_RULE, "RESTRICT"},
    };
    for (const Case& k : cases) {
        len = sizeof buf;
        KIV_ASSERT_OK(KivDDGetObjectProperty(c, k.relation, k.property, buf, &len)) << k.property;
        EXPECT_EQ(k.value, std::string(buf, len)) << k.property;
    }
    len = sizeof buf;
    EXPECT_EQ(KIV_ERR_DD_NO_PROPERTY, KivDDGetObjectProperty(c, "R_PLAIN", 213, buf, &len));
    // "-" leaves a procedure's list empty.
    len = sizeof buf;
    EXPECT_EQ(KIV_ERR_DD_NO_PROPERTY, KivDDGetObjectProperty(c, "NOINPUT", KIV_DD_PROP_PROC_INPUT, buf, &len));
    len = sizeof buf;
    KIV_ASSERT_OK(KivDDGetObjectProperty(c, "NOINPUT", KIV_DD_PROP_PROC_OUTPUT, buf, &len));
    EXPECT_EQ("total,MONEY,8,4", std::string(buf, len));
    // Renaming a table carries its relations along.
    KIV_ASSERT_OK(KivDDRenameObject(c, "Customer", "CLIENT", KIV_DD_OBJ_TABLE, 0));
    len = sizeof buf;
    KIV_ASSERT_OK(KivDDGetObjectProperty(c, "R_ORDERS", KIV_DD_PROP_RI_PARENT_TABLE, buf, &len));
    EXPECT_EQ("CLIENT", std::string(buf, len));
    KivDisconnect(c);

    // A dictionary without relations lists none.
    find = 0;
    len = sizeof buf;
    EXPECT_EQ(KIV_ERR_DD_NO_MORE_OBJECTS, KivDDFindFirstObject(dd, KIV_DD_OBJ_RELATION, "", buf, &len, &find));
    EXPECT_EQ(0u, find);
    const std::string bad = dir.File("badri.kdd");
    for (const char* line : {"relation R CUSTOMER ID ORDERS\n", "relation R CUSTOMER ID;NAME ORDERS CUSTID\n",
                             "relation R CUSTOMER ID ORDERS CUSTID SOMETIMES\n"}) {
        EXPECT_EQ(KIV_ERR_INVALID_ARGUMENT, KivDDCreate(bad.c_str(), line)) << line;
        EXPECT_FALSE(std::filesystem::exists(bad)) << line;
    }
}

TEST_F(DataDictionary, BadDescriptionsLeaveNoFile) {
    const std::string path = dir.File("bad.kdd");
    EXPECT_EQ(KIV_ERR_INVALID_ARGUMENT, KivDDCreate(path.c_str(), "table X customer.dbf\nfrobnicate\n"));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(KIV_ERR_FILE_NOT_FOUND, KivDDCreate(path.c_str(), "table X missing.dbf\n"));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(KIV_ERR_TABLE_EXISTS, KivDDCreate(kdd.c_str(), ""));
}

// ---------------------------------------------------------------- encryption

namespace {

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

class Encryption : public Sql, public ::testing::WithParamInterface<const char*> {};

TEST_P(Encryption, DataOnDiskHidesThePlainTextAndNeedsThePassword) {
    const std::string name = GetParam();
    const bool dbf = name.find(".dbf") != std::string::npos;
    KIVHANDLE t = Create(name.c_str(), dbf ? KIV_TABLE_CDX : KIV_TABLE_KDT,
                         dbf ? "NAME,C,16;NOTE,M" : "NAME,CHAR,16;NOTE,MEMO");
    for (const char* who : {"Zanzibar", "Quixote"}) {
        KIV_ASSERT_OK(KivAppendRecord(t));
        KIV_ASSERT_OK(Set(t, "NAME", who));
        KIV_ASSERT_OK(Set(t, "NOTE", std::string("secret memo of ") + who));
    }
    uint16_t flag = 1;
    KIV_ASSERT_OK(KivIsTableEncrypted(t, &flag));
    EXPECT_EQ(0, flag);
    EXPECT_EQ(KIV_ERR_PASSWORD_REQUIRED, KivEncryptTable(t));  // no password given yet
    KIV_ASSERT_OK(KivEnableEncryption(t, "hunter2"));
    KIV_ASSERT_OK(KivEncryptTable(t));
    KIV_ASSERT_OK(KivIsTableEncrypted(t, &flag));
    EXPECT_EQ(1, flag);
    KIV_ASSERT_OK(KivGotoTop(t));
    EXPECT_EQ("Zanzibar", Get(t, "NAME", 1));
    KIV_ASSERT_OK(KivAppendRecord(t));  // written encrypted from the start
    KIV_ASSERT_OK(Set(t, "NAME", "Ulysses"));
    KIV_ASSERT_OK(Set(t, "NOTE", "secret memo of Ulysses"));
    KIV_ASSERT_OK(KivCloseTable(t));

    const std::string stem = dir.File(name.substr(0, name.size() - 4));
    const std::string files = FileBytes(dir.File(name)) + FileBytes(stem + (dbf ? ".fpt" : ".kdm"));
    for (const char* plain : {"Zanzibar", "Quixote", "Ulysses", "secret memo"})
        EXPECT_EQ(std::string::npos, files.find(plain)) << plain;

    t = Open(name.c_str());
    KIV_ASSERT_OK(KivIsEncryptionEnabled(t, &flag));
    EXPECT_EQ(0, flag);
    EXPECT_EQ(KIV_ERR_PASSWORD_REQUIRED, KivGotoTop(t));
    EXPECT_EQ(KIV_ERR_PASSWORD_REQUIRED, KivEnableEncryption(t, "wrong"));
    KIV_ASSERT_OK(KivEnableEncryption(t, "hunter2"));
    KIV_ASSERT_OK(KivGotoBottom(t));
    EXPECT_EQ("secret memo of Ulysses", Get(t, "NOTE"));
    // Appended inside a transaction: held in memory, written encrypted at the commit.
    KIV_ASSERT_OK(KivBeginTransaction(conn));
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(Set(t, "NAME", "Odysseus"));
    KIV_ASSERT_OK(KivWriteRecord(t));
    KIV_ASSERT_OK(KivGotoTop(t));
    KIV_ASSERT_OK(KivGotoBottom(t));
    EXPECT_EQ("Odysseus", Get(t, "NAME", 1));
    KIV_ASSERT_OK(KivCommitTransaction(conn));
    EXPECT_EQ(std::string::npos, FileBytes(dir.File(name)).find("Odysseus"));
    KIV_ASSERT_OK(KivCloseTable(t));
    t = Open(name.c_str());
    KIV_ASSERT_OK(KivEnableEncryption(t, "hunter2"));
    KIV_ASSERT_OK(KivGotoBottom(t));
    EXPECT_EQ("Odysseus", Get(t, "NAME", 1));
    KIV_ASSERT_OK(KivCloseTable(t));

    // SQL reads it with a password registered on the statement.
    KIVHANDLE st = 0, cursor = 0;
    KIV_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    const std::string sql = "SELECT name FROM \"" + name + "\" ORDER BY name";
    EXPECT_NE(KIV_OK, KivExecuteSQLDirect(st, sql.c_str(), &cursor));
    KIV_ASSERT_OK(KivSetStatementPassword(st, name.c_str(), "hunter2"));
    KIV_ASSERT_OK(KivExecuteSQLDirect(st, sql.c_str(), &cursor));
    EXPECT_EQ("Odysseus;Quixote;Ulysses;Zanzibar;", Rows(cursor));
    KivCloseTable(cursor);
    KivCloseSQLStatement(st);
    KivDisconnect(conn);  // drops the statement's view of the table
    KIV_ASSERT_OK(KivConnect(dir.path().c_str(), &conn));

    // Decrypting brings the plain text back to disk.
    t = Open(name.c_str(), KIV_OPEN_EXCLUSIVE);
    KIV_ASSERT_OK(KivEnableEncryption(t, "hunter2"));
    KIV_ASSERT_OK(KivDecryptTable(t));
    KIV_ASSERT_OK(KivCloseTable(t));
    EXPECT_NE(std::string::npos, FileBytes(dir.File(name)).find("Zanzibar"));
    t = Open(name.c_str());
    KIV_ASSERT_OK(KivGotoTop(t));
    EXPECT_EQ("secret memo of Zanzibar", Get(t, "NOTE"));
}

INSTANTIATE_TEST_SUITE_P(BothFormats, Encryption, ::testing::Values("vault.dbf", "vault.kdt"));

// A VARCHAR(n) column of a table the SQL made takes n characters and refuses
// n + 1.
TEST_F(Sql, VarcharColumnHoldsItsDeclaredLength) {
    Exec(conn, "CREATE TABLE notes (SHORT VARCHAR(5), LONG VARCHAR(50))");
    Exec(conn, "INSERT INTO notes VALUES ('abcde', '" + std::string(50, 'z') + "')");
    KIVRESULT rc = KIV_OK;
    Exec(conn, "INSERT INTO notes (SHORT) VALUES ('abcdef')", &rc);
    EXPECT_NE(KIV_OK, rc);
    Exec(conn, "INSERT INTO notes (LONG) VALUES ('" + std::string(51, 'z') + "')", &rc);
    EXPECT_NE(KIV_OK, rc);
    EXPECT_EQ("abcde|" + std::string(50, 'z') + ";", RowsOf(conn, "SELECT SHORT, LONG FROM notes WHERE SHORT = 'abcde'"));
}

// A table made again with other fields (or replaced by a table of the other
// kind) is read by its new layout on the same connection; a statement
// prepared before the change fails clearly instead of reading at old offsets.
TEST_F(Sql, ATableMadeAgainIsReadByItsNewFields) {
    auto make = [&](const char* file, uint16_t type, const char* defs, std::vector<std::pair<int, std::string>> rows) {
        KIVHANDLE t = Create(file, type, defs);
        for (auto& [field, value] : rows) {
            if (field == 1) {
                KIV_EXPECT_OK(KivAppendRecord(t));
            }
            KIV_EXPECT_OK(Set(t, KIV_FIELD(field), value));
        }
        KIV_EXPECT_OK(KivCloseTable(t));
    };
    auto removeAll = [&] {
        for (const char* f : {"tx.dbf", "tx.cdx", "tx.fpt", "tx.kdt", "tx.kdm", "tx.kdi"})
            std::filesystem::remove(dir.path() + "/" + f);
    };
    make("tx.dbf", KIV_TABLE_CDX, "ID,N,5;TX,C,10", {{1, "1"}, {2, "old"}});
    EXPECT_EQ("1|old;", RowsOf(conn, "SELECT * FROM tx"));
    KIVHANDLE before = 0;
    KIV_ASSERT_OK(KivCreateSQLStatement(conn, &before));
    KIV_ASSERT_OK(KivPrepareSQL(before, "SELECT * FROM tx"));

    removeAll();
    make("tx.dbf", KIV_TABLE_CDX, "NAME,C,8;ID,N,5", {{1, "bob"}, {2, "9"}});
    KIVHANDLE stale = 0;
    EXPECT_NE(KIV_OK, KivExecuteSQL(before, &stale));
    EXPECT_NE(LastErrorText().find("changed"), std::string::npos) << LastErrorText();
    if (stale) KivCloseTable(stale);
    KivCloseSQLStatement(before);
    EXPECT_EQ("bob|9;", RowsOf(conn, "SELECT * FROM tx"));
    EXPECT_EQ("bob;", RowsOf(conn, "SELECT NAME FROM tx"));

    removeAll();
    make("tx.kdt", KIV_TABLE_KDT, "CODE,C,6;QTY,INTEGER", {{1, "kdt"}, {2, "7"}});
    EXPECT_EQ("kdt|7;", RowsOf(conn, "SELECT * FROM tx"));
    // records written since change nothing of the layout
    if (KIVHANDLE none = Exec(conn, "INSERT INTO tx VALUES ('more', 8)")) KivCloseTable(none);
    EXPECT_EQ("kdt|7;more|8;", RowsOf(conn, "SELECT * FROM tx ORDER BY QTY"));
}
