// What the engine's SQL means: the ODBC scalar functions, dates and
// numbers of computed columns, nulls per table type, statements that change
// all their rows or none, and errors that name the fault.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "qel32_test.h"
#include "test_support.h"

using namespace qeltest;

namespace {

class SqlSemantics : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        KivSetDateFormat("YYYY-MM-DD");
    }
    void TearDown() override {
        EngineFixture::TearDown();
        KivSetDateFormat("MM/DD/YYYY");
    }
    // The one value of a one-row select, and its field type.
    std::string Value(const std::string& expr, uint16_t* type = nullptr) {
        const KIVHANDLE c = Exec(conn, "SELECT " + expr);
        if (!c) return "<no cursor>";
        std::string rows = Rows(c);
        if (type) KivGetFieldType(c, KIV_FIELD(1), type);
        KivCloseTable(c);
        if (!rows.empty() && rows.back() == ';') rows.pop_back();
        return rows;
    }
};

TEST_F(SqlSemantics, EveryAdvertisedScalarFunctionAnswers) {
    struct Case { const char* expr; const char* expected; } cases[] = {
        // strings
        {"{fn ASCII('A')}", "65"},
        {"{fn BIT_LENGTH('abc')}", "24"},
        {"{fn CHAR(66)}", "B"},
        {"{fn CHAR_LENGTH('ab  ')}", "4"},
        {"{fn CHARACTER_LENGTH('abc')}", "3"},
        {"{fn CONCAT('ab', 'cd')}", "abcd"},
        {"{fn DIFFERENCE('Robert', 'Rupert')}", "4"},
        {"{fn DIFFERENCE('Robert', 'Smith')}", "0"},
        {"{fn INSERT('abcdef', 2, 3, 'XY')}", "aXYef"},
        {"{fn LCASE('AbC')}", "abc"},
        {"{fn LEFT('abcdef', 2)}", "ab"},
        {"{fn LENGTH('ab  ')}", "2"},
        {"{fn LOCATE('c', 'abcabc')}", "3"},
        {"{fn LOCATE('c', 'abcabc', 4)}", "6"},
        {"{fn LOCATE('z', 'abc')}", "0"},
        {"{fn LTRIM('  ab')} || '|'", "ab|"},
        {"{fn OCTET_LENGTH('abc')}", "3"},
        {"{fn POSITION('c' IN 'abc')}", "3"},
        {"{fn REPEAT('ab', 3)}", "ababab"},
        {"{fn REPLACE('aXbX', 'X', 'y')}", "ayby"},
        {"{fn RIGHT('abcdef', 2)}", "ef"},
        {"{fn RTRIM('ab  ')} || '|'", "ab|"},
        {"{fn SOUNDEX('Robert')}", "R163"},
        {"{fn CHAR_LENGTH({fn SPACE(3)})}", "3"},
        {"{fn SUBSTRING('abcdef', 2, 3)}", "bcd"},
        {"{fn UCASE('abc')}", "ABC"},
        // numbers
        {"{fn ABS(-2)}", "2"},
        {"{fn ACOS(1)}", "0"},
        {"{fn ASIN(0)}", "0"},
        {"{fn ATAN(0)}", "0"},
        {"{fn ATAN2(0, 1)}", "0"},
        {"{fn CEILING(1.2)}", "2"},
        {"{fn COS(0)}", "1"},
        {"{fn ROUND({fn COT(1)}, 4)}", "0.6421"},
        {"{fn ROUND({fn DEGREES({fn PI()})}, 0)}", "180"},
        {"{fn EXP(0)}", "1"},
        {"{fn FLOOR(1.8)}", "1"},
        {"{fn ROUND({fn LOG({fn EXP(2)})}, 6)}", "2"},
        {"{fn LOG10(100)}", "2"},
        {"{fn MOD(7, 3)}", "1"},
        {"{fn PI()}", "3.141592653589793"},
        {"{fn POWER(2, 10)}", "1024"},
        {"{fn RADIANS(180)}", "3.141592653589793"},
        {"{fn RAND(7)} >= 0 AND {fn RAND()} < 1", "1"},
        {"{fn ROUND(2.567, 2)}", "2.57"},
        {"{fn SIGN(-3)}", "-1"},
        {"{fn SIN(0)}", "0"},
        {"{fn SQRT(16)}", "4"},
        {"{fn TAN(0)}", "0"},
        {"{fn TRUNCATE(2.567, 2)}", "2.56"},
        {"{fn TRUNCATE(-2.567, 1)}", "-2.5"},
        // dates and times
        {"{fn CURDATE()} = {fn CURRENT_DATE()}", "1"},
        {"{fn CHAR_LENGTH({fn CURTIME()})} + {fn CHAR_LENGTH({fn CURRENT_TIME()})}", "16"},
        {"{fn CHAR_LENGTH({fn NOW()})} + {fn CHAR_LENGTH({fn CURRENT_TIMESTAMP()})}", "38"},
        {"{fn DAYNAME({d '2026-02-05'})}", "Thursday"},
        {"{fn DAYOFMONTH({d '2026-02-05'})}", "5"},
        {"{fn DAYOFWEEK({d '2026-02-05'})}", "5"},
        {"{fn DAYOFWEEK({d '2026-02-08'})}", "1"},
        {"{fn DAYOFYEAR({d '2026-02-05'})}", "36"},
        {"{fn EXTRACT(YEAR FROM {d '2026-02-05'})}", "2026"},
        {"{fn EXTRACT(MINUTE FROM {ts '2026-02-05 10:11:12'})}", "11"},
        {"{fn HOUR({t '13:14:15'})}", "13"},
        {"{fn MINUTE({t '13:14:15'})}", "14"},
        {"{fn SECOND({ts '2026-02-05 13:14:15'})}", "15"},
        {"{fn MONTH({d '2026-02-05'})}", "2"},
        {"{fn MONTHNAME({d '2026-02-05'})}", "February"},
        {"{fn QUARTER({d '2026-08-01'})}", "3"},
        {"{fn TIMESTAMPADD(SQL_TSI_DAY, 30, {ts '2026-02-05 10:00:00'})}", "2026-03-07 10:00:00"},
        {"{fn TIMESTAMPADD(SQL_TSI_MONTH, 1, {ts '2026-01-31 00:00:00'})}", "2026-02-28 00:00:00"},
        {"{fn TIMESTAMPADD(SQL_TSI_HOUR, -2, {ts '2026-01-01 01:00:00'})}", "2025-12-31 23:00:00"},
        {"{fn TIMESTAMPDIFF(SQL_TSI_DAY, {d '2026-01-01'}, {d '2026-02-05'})}", "35"},
        {"{fn TIMESTAMPDIFF(SQL_TSI_MONTH, {d '2026-01-31'}, {d '2026-03-01'})}", "1"},
        {"{fn TIMESTAMPDIFF(SQL_TSI_YEAR, {d '2020-06-01'}, {d '2026-05-31'})}", "5"},
        {"{fn TIMESTAMPDIFF(SQL_TSI_MINUTE, {ts '2026-01-01 10:00:00'}, {ts '2026-01-01 11:30:00'})}", "90"},
        {"{fn WEEK({d '2026-01-01'})}", "1"},
        {"{fn WEEK({d '2026-02-05'})}", "6"},
        {"{fn YEAR({d '2026-02-05'})}", "2026"},
        // system
        {"{fn IFNULL(NULL, 'x')}", "x"},
        {"{fn USER()} = ''", "1"},
        // conversion
        {"{fn CONVERT('42', SQL_INTEGER)}", "42"},
        {"{fn CONVERT(3.7, SQL_INTEGER)}", "3"},
        {"{fn CONVERT(12, SQL_VARCHAR)} || 'x'", "12x"},
        {"{fn CONVERT('2026-02-05', SQL_DATE)}", "2026-02-05"},
        {"CAST('2.5' AS DOUBLE) * 2", "5"},
        // null in, null out
        {"{fn LEFT(NULL, 2)} IS NULL AND {fn YEAR(NULL)} IS NULL AND {fn LOCATE('a', NULL)} IS NULL", "1"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, Value(c.expr)) << c.expr;
    EXPECT_EQ(dir.path(), Value("{fn DATABASE()}"));
    // A wrong interval or date is an error, not a guess.
    for (const char* bad : {"SELECT {fn TIMESTAMPADD(SQL_TSI_FORTNIGHT, 1, {d '2026-01-01'})}",
                            "SELECT {fn YEAR('not a date')}", "SELECT CAST('2026-13-45' AS DATE)"}) {
        KIVRESULT rc = KIV_OK;
        Exec(conn, bad, &rc);
        EXPECT_EQ(KIV_ERR_SQL, rc) << bad;
    }
}

// Counts beyond 64 bits and results outside 0001-01-01 to 9999-12-31 are
// errors naming the function, never a wrapped or clamped date.
TEST_F(SqlSemantics, TimestampArithmeticOutOfRangeIsAnError) {
    const char* const bad[] = {
        "{fn TIMESTAMPADD(SQL_TSI_DAY, 99999999999999999999, {d '2026-02-05'})}",
        "{fn TIMESTAMPADD(SQL_TSI_DAY, -99999999999999999999, {d '2026-02-05'})}",
        "{fn TIMESTAMPADD(SQL_TSI_DAY, 9223372036854775807, {d '2026-02-05'})}",
        "{fn TIMESTAMPADD(SQL_TSI_SECOND, -9223372036854775807, {d '2026-02-05'})}",
        "{fn TIMESTAMPADD(SQL_TSI_YEAR, 1000000, {d '2026-02-05'})}",
        "{fn TIMESTAMPADD(SQL_TSI_MONTH, 9223372036854775807, {d '2026-02-05'})}",
        "{fn TIMESTAMPADD(SQL_TSI_DAY, 1, {d '9999-12-31'})}",
        "{fn TIMESTAMPADD(SQL_TSI_SECOND, -1, {ts '0001-01-01 00:00:00'})}",
        "{fn TIMESTAMPADD(SQL_TSI_YEAR, -2026, {d '2026-02-05'})}",
        "{fn TIMESTAMPDIFF(SQL_TSI_FRAC_SECOND, {d '0001-01-01'}, {d '9999-12-31'})}",
    };
    for (const char* expr : bad) {
        KIVRESULT rc = KIV_OK;
        const KIVHANDLE c = Exec(conn, std::string("SELECT ") + expr, &rc);
        if (c) {
            EXPECT_EQ("<error>", Rows(c)) << expr;
            KivCloseTable(c);
            continue;
        }
        EXPECT_EQ(KIV_ERR_SQL, rc) << expr;
        const std::string function = std::string(expr).find("TIMESTAMPADD") != std::string::npos ? "TIMESTAMPADD"
                                                                                                   : "TIMESTAMPDIFF";
        EXPECT_NE(LastErrorText().find(function), std::string::npos) << expr << ": " << LastErrorText();
    }
    // the ends themselves are still reached
    EXPECT_EQ("9999-12-31 00:00:00", Value("{fn TIMESTAMPADD(SQL_TSI_DAY, 1, {d '9999-12-30'})}"));
    EXPECT_EQ("0001-01-01 00:00:00", Value("{fn TIMESTAMPADD(SQL_TSI_YEAR, -2025, {d '2026-01-01'})}"));
    EXPECT_EQ("2026-02-06 00:00:00", Value("{fn TIMESTAMPADD(SQL_TSI_DAY, 1.9, {d '2026-02-05'})}"));
}

TEST_F(SqlSemantics, DatesCastAndLiteralReadBackAsDates) {
    struct Case { const char* expr; const char* text; uint16_t type; } cases[] = {
        {"CAST('2026-02-05' AS DATE)", "2026-02-05", KIV_FT_DATE},
        {"DATE '2026-02-05'", "2026-02-05", KIV_FT_DATE},
        {"{d '2026-02-05'}", "2026-02-05", KIV_FT_DATE},
        {"CAST('2026-02-05 10:11:12' AS DATE)", "2026-02-05", KIV_FT_DATE},
        {"CAST('10:11:12' AS TIME)", "10:11:12", KIV_FT_TIME},
        {"TIME '10:11:12'", "10:11:12", KIV_FT_TIME},
        {"CAST('2026-02-05 10:11:12' AS TIMESTAMP)", "2026-02-05 10:11:12", KIV_FT_TIMESTAMP},
        {"TIMESTAMP '2026-02-05 10:11:12'", "2026-02-05 10:11:12", KIV_FT_TIMESTAMP},
        {"{ts '2026-02-05 10:11:12'}", "2026-02-05 10:11:12", KIV_FT_TIMESTAMP},
    };
    for (const auto& c : cases) {
        uint16_t type = 0;
        EXPECT_EQ(c.text, Value(c.expr, &type)) << c.expr;
        EXPECT_EQ(c.type, type) << c.expr;
    }
    // A date column of a table compares with the literals.
    KIVHANDLE t = Create("days.dbf", KIV_TABLE_CDX, "D,D");
    KIV_ASSERT_OK(KivAppendRecord(t));
    KIV_ASSERT_OK(Set(t, "D", "2026-02-05"));
    KIV_ASSERT_OK(KivCloseTable(t));
    EXPECT_EQ("1;", RowsOf(conn, "SELECT COUNT(*) FROM days WHERE d = DATE '2026-02-05' AND d = CAST('2026-02-05' AS DATE)"));
    // A column named like a type is still a column.
    EXPECT_EQ("2026-02-05;", RowsOf(conn, "SELECT days.d FROM days"));
}

TEST_F(SqlSemantics, ComputedNumbersKeepTheirPrecision) {
    uint16_t type = 0;
    EXPECT_EQ("0.3333333333333333", Value("1.0/3", &type));
    EXPECT_EQ(KIV_FT_DOUBLE, type);
    // Described before a run as the run gives it.
    KIVHANDLE st = 0;
    KIV_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    KivColumnDescription cols[2];
    uint32_t count = 2;
    KIV_ASSERT_OK(KivPrepareSQLDescribe(st, "SELECT 1.0/3, {fn PI()}", cols, sizeof cols, &count));
    ASSERT_EQ(2u, count);
    EXPECT_EQ(KIV_FT_DOUBLE, cols[0].type);
    EXPECT_EQ(KIV_FT_DOUBLE, cols[1].type);
    KIVHANDLE cursor = 0;
    KIV_ASSERT_OK(KivExecuteSQL(st, &cursor));
    double d = 0;
    KIV_ASSERT_OK(KivGetDouble(cursor, KIV_FIELD(2), &d));
    EXPECT_EQ(M_PI, d);
    KivCloseTable(cursor);
    KivCloseSQLStatement(st);

    // NUMERIC(p,s) holds every value of p digits with s decimals, on both table types.
    for (const char* table : {"amounts.dbf", "amounts.kdt"}) {
        KIVRESULT rc = KIV_OK;
        const std::string name = table;
        Exec(conn, "CREATE TABLE \"" + name + "\" (a NUMERIC(10,2), b NUMERIC(5,0), c NUMERIC(4,4))");
        Exec(conn, "INSERT INTO \"" + name + "\" VALUES (99999999.99, -99999, 0.9999)");
        Exec(conn, "INSERT INTO \"" + name + "\" VALUES (-99999999.99, 99999, -0.9999)");
        EXPECT_EQ("99999999.99|-99999|0.9999;-99999999.99|99999|-0.9999;", RowsOf(conn, "SELECT * FROM \"" + name + "\""))
            << table;
        Exec(conn, "INSERT INTO \"" + name + "\" (b) VALUES (9999999)", &rc);
        EXPECT_NE(KIV_OK, rc) << table;
        EXPECT_EQ("2;", RowsOf(conn, "SELECT COUNT(*) FROM \"" + name + "\"")) << table;
    }
}

// Empty fields in SQL read as the record reads of the table type read them:
// in the engine's own tables every empty field is null; in DBF tables dates
// and memo-like fields are null, numbers read 0, logicals false and
// character fields as no text.
TEST_F(SqlSemantics, NullsFollowTheRecordReadsOfTheTableType) {
    for (const char* table : {"kinds.dbf", "kinds.kdt"}) {
        const bool dbf = std::string(table).find(".dbf") != std::string::npos;
        KIVHANDLE t = Create(table, dbf ? KIV_TABLE_CDX : KIV_TABLE_KDT, "ID,N,3;AMT,N,8,2;C,C,5;L,L;D,D;M,M");
        KIV_ASSERT_OK(KivAppendRecord(t));  // every field empty but ID
        KIV_ASSERT_OK(Set(t, "ID", "1"));
        KIV_ASSERT_OK(KivAppendRecord(t));  // written values
        for (const auto& [field, value] : {std::pair<const char*, const char*>{"ID", "2"}, {"AMT", "0"}, {"C", "x"},
                                           {"L", "T"}, {"D", "2026-02-05"}, {"M", "memo"}})
            KIV_ASSERT_OK(Set(t, field, value));
        KIV_ASSERT_OK(KivCloseTable(t));
        const std::string from = std::string(" FROM \"") + table + "\" WHERE ";
        struct Case { const char* where; const char* dbfRows; const char* kdtRows; } cases[] = {
            {"amt IS NULL", "", "1;"},
            {"amt = 0", "1;2;", "2;"},
            {"c IS NULL", "", "1;"},
            {"c = ''", "1;", ""},
            {"l IS NULL", "", "1;"},
            {"l = 0", "1;", ""},
            {"d IS NULL", "1;", "1;"},
            {"m IS NULL", "1;", "1;"},
            {"amt IS NOT NULL AND c IS NOT NULL", "1;2;", "2;"},
        };
        for (const auto& c : cases)
            EXPECT_EQ(dbf ? c.dbfRows : c.kdtRows, RowsOf(conn, "SELECT id" + from + c.where + " ORDER BY id"))
                << table << ": " << c.where;
    }
}

TEST_F(SqlSemantics, AFailedStatementChangesNothing) {
    for (const char* table : {"items.dbf", "items.kdt"}) {
        const std::string name = std::string("\"") + table + "\"";
        Exec(conn, "CREATE TABLE " + name + " (id INTEGER, c CHAR(3), n NUMERIC(3,0))");
        for (int i = 1; i <= 5; ++i)
            Exec(conn, "INSERT INTO " + name + " VALUES (" + std::to_string(i) + ", 'ok', " + std::to_string(i) + ")");
        const std::string before = RowsOf(conn, "SELECT * FROM " + name + " ORDER BY id");
        for (bool inTransaction : {false, true}) {
            if (inTransaction) {
                KIV_ASSERT_OK(KivBeginTransaction(conn));
            }
            const char* failing[] = {
                "INSERT INTO %s VALUES (9, 'too long', 1)",
                "INSERT INTO %s VALUES (9, 'ok', 12345)",
                "INSERT INTO %s SELECT id + 10, c, n * 3000 FROM %s",  // the fourth row is out of range
                "UPDATE %s SET c = CASE WHEN id = 4 THEN 'too long' ELSE 'new' END",  // the fourth row fails
                "UPDATE %s SET n = n * 3000",
            };
            for (const char* pattern : failing) {
                std::string sql = pattern;
                for (size_t at; (at = sql.find("%s")) != std::string::npos;) sql.replace(at, 2, name);
                KIVRESULT rc = KIV_OK;
                Exec(conn, sql, &rc);
                EXPECT_NE(KIV_OK, rc) << sql;
                EXPECT_EQ(before, RowsOf(conn, "SELECT * FROM " + name + " ORDER BY id")) << table << ": " << sql;
            }
            if (inTransaction) {
                // What the transaction did before a failed statement stays.
                Exec(conn, "UPDATE " + name + " SET c = 'tx' WHERE id = 1");
                KIVRESULT rc = KIV_OK;
                Exec(conn, "UPDATE " + name + " SET c = 'far too long'", &rc);
                EXPECT_NE(KIV_OK, rc);
                EXPECT_EQ("tx;", RowsOf(conn, "SELECT c FROM " + name + " WHERE id = 1"));
                KIV_ASSERT_OK(KivRollbackTransaction(conn));
                EXPECT_EQ(before, RowsOf(conn, "SELECT * FROM " + name + " ORDER BY id"));
            }
        }
        KIVRESULT rc = KIV_OK;
        Exec(conn, "SELECT * FROM " + name, &rc);  // the table is not left locked or open
        EXPECT_EQ(KIV_OK, rc);
    }
}

TEST_F(SqlSemantics, ErrorsNameTheFault) {
    KIVHANDLE st = 0;
    KIV_ASSERT_OK(KivCreateSQLStatement(conn, &st));
    struct Case { const char* sql; const char* words; } cases[] = {
        {"SELEC 1", "near \"SELEC\": syntax error at position 1"},
        {"SELECT 1 FROM", "incomplete input"},
        {"SELECT 1 /* never closed", "Unterminated comment at position 10"},
        {"SELECT (1 + 2", "incomplete input"},
    };
    for (const auto& c : cases) {
        // Prepared alone (the error comes again at the execution that follows), and run directly.
        EXPECT_EQ(KIV_ERR_SQL, KivPrepareSQL(st, c.sql)) << c.sql;
        KIVHANDLE cursor = 0;
        EXPECT_EQ(KIV_ERR_SQL, KivExecuteSQL(st, &cursor)) << c.sql;
        const std::string text = LastErrorText();
        EXPECT_NE(std::string::npos, text.find(c.words)) << text;
        EXPECT_NE(std::string::npos, text.find("ERROR 7200: NativeError = 21")) << text;
        EXPECT_EQ(KIV_ERR_SQL, KivExecuteSQLDirect(st, c.sql, &cursor)) << c.sql;
        EXPECT_NE(std::string::npos, LastErrorText().find(c.words)) << LastErrorText();
    }
    // Comments that are closed are comments.
    EXPECT_EQ("1", Value("1 /* one */ -- the end"));
    KivCloseSQLStatement(st);
}

}  // namespace

namespace {

TEST_F(SqlSemantics, TablesMadeOnADictionaryConnectionAreListedInIt) {
    const std::string kdd = dir.File("shop.kdd");
    KIV_ASSERT_OK(KivDDCreate(kdd.c_str(), "user KIVSYS secret\n"));
    KIVHANDLE dd = 0;
    KIV_ASSERT_OK(KivConnect60(kdd.c_str(), 1, "KIVSYS", "secret", 0, &dd));
    Exec(dd, "CREATE TABLE stock (code CHAR(6), qty INTEGER, price NUMERIC(8,2))");
    EXPECT_EQ("STOCK;", RowsOf(dd, "SELECT UPPER(name) FROM system.tables"));
    EXPECT_EQ("1|code|4|6;2|qty|11|4;3|price|2|10;",
              RowsOf(dd, "SELECT field_num, name, field_type, field_length FROM system.columns WHERE parent = 'stock' "
                         "ORDER BY field_num"));
    Exec(dd, "INSERT INTO stock VALUES ('A1', 3, 9.5)");
    EXPECT_EQ("A1|3|9.50;", RowsOf(dd, "SELECT * FROM stock"));
    char name[64];
    uint32_t len = sizeof name;
    KIVHANDLE find = 0;
    KIV_ASSERT_OK(KivDDFindFirstObject(dd, KIV_DD_OBJ_TABLE, nullptr, name, &len, &find));
    EXPECT_EQ("stock", std::string(name, len));
    KivDDFindClose(find);
    // A second table of the name is refused and leaves the first alone.
    KIVRESULT rc = KIV_OK;
    Exec(dd, "CREATE TABLE stock (other INTEGER)", &rc);
    EXPECT_EQ(KIV_ERR_SQL, rc);
    EXPECT_EQ("A1|3|9.50;", RowsOf(dd, "SELECT * FROM stock"));
    // Dropped: gone from the folder and from the dictionary.
    Exec(dd, "DROP TABLE stock");
    EXPECT_EQ("0|0;", RowsOf(dd, "SELECT (SELECT COUNT(*) FROM system.tables), (SELECT COUNT(*) FROM system.columns)"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("stock.dbf")));
    KIV_ASSERT_OK(KivDisconnect(dd));
}

}  // namespace

namespace {

// Statements whose WHERE compares a field that an order of the table's
// production index has as its key read only the records the order names,
// and find what a scan finds.
TEST_F(SqlSemantics, IndexedComparisonsReadOnlyTheRecordsTheyFind) {
    for (const char* table : {"people.dbf", "people.kdt"}) {
        const bool dbf = std::string(table).find(".dbf") != std::string::npos;
        KIVHANDLE t = Create(table, dbf ? KIV_TABLE_CDX : KIV_TABLE_KDT, "ID,N,6;NAME,C,16;DAY,D;FLAG,L");
        for (int i = 1; i <= 3000; ++i) {
            KIV_ASSERT_OK(KivAppendRecord(t));
            if (i != 3000) {  // the last without an id
                KIV_ASSERT_OK(Set(t, "ID", std::to_string(i)));
            }
            KIV_ASSERT_OK(Set(t, "NAME", "person " + std::to_string(i)));
            KIV_ASSERT_OK(KivSetJulian(t, "DAY", 2461000 + i % 100));
            KIV_ASSERT_OK(KivSetLogical(t, "FLAG", i % 2));
        }
        KIVHANDLE ix = 0;
        for (const char* key : {"ID", "NAME", "DAY"})
            KIV_ASSERT_OK(KivCreateIndex(t, nullptr, key, key, nullptr, nullptr, 0, &ix));
        KIV_ASSERT_OK(KivGotoRecord(t, 1500));
        KIV_ASSERT_OK(KivDeleteRecord(t));
        KIV_ASSERT_OK(KivCloseTable(t));
        const std::string from = std::string("SELECT id FROM \"") + table + "\" WHERE ";
        struct Case { const char* where; uint64_t mostRead; } cases[] = {
            {"id = 1499", 1},
            {"id = 1500", 1},  // deleted
            {"id = 1501.0", 1},
            {"id = 99999", 0},
            {"id = NULL", 0},
            {"id BETWEEN 100 AND 109", 10},
            {"id > 2995", 5},
            {"id < 3 OR id IS NULL", 3000},  // not one constraint: a scan
            {"id >= 1498 AND id < 1502 AND flag = 1", 5},
            {"name = 'person 77'", 11},  // texts are found by their beginning: 77 and 770 to 779
            {"name = 'person 7'", 111},
            {"day = '2026-02-05' AND id < 50", 30},
            {"id < 0", 1},  // an empty id (0 in DBF tables)
            // Fields without an order: the scan checks numbers on the records.
            {"flag = 1 AND +id < 20", 3000},
            {"flag > 0.5 AND flag <= 1 AND +id < 9", 3000},
            {"flag = 'x'", 3000},
        };
        for (const auto& c : cases) {
            const std::string sql = from + c.where + " ORDER BY id";
            const uint64_t before = KivTestSqlRecordsRead();
            const std::string rows = RowsOf(conn, sql);
            const uint64_t read = KivTestSqlRecordsRead() - before;
            EXPECT_LE(read, c.mostRead) << table << ": " << c.where;
            // The same rows as a scan, which a "+" before the field makes it.
            std::string scanned = from + c.where;
            for (const char* field : {"id", "name", "day", "flag"})
                for (size_t at = scanned.find(std::string(" ") + field + " ", scanned.find("WHERE"));
                     at != std::string::npos; at = scanned.find(std::string(" ") + field + " ", at + 3))
                    scanned.replace(at, 1, " +");
            const uint64_t beforeScan = KivTestSqlRecordsRead();
            EXPECT_EQ(RowsOf(conn, scanned + " ORDER BY id"), rows) << table << ": " << c.where;
            EXPECT_GE(KivTestSqlRecordsRead() - beforeScan, 3000u) << scanned;
        }
        // The orders follow the statement's own changes.
        Exec(conn, std::string("UPDATE \"") + table + "\" SET id = 777777 WHERE id = 5");
        EXPECT_EQ("777777;", RowsOf(conn, from + "id = 777777"));
        EXPECT_EQ("", RowsOf(conn, from + "id = 5"));
        Exec(conn, std::string("INSERT INTO \"") + table + "\" (id, name) VALUES (5, 'again')");
        EXPECT_EQ("5;", RowsOf(conn, from + "id = 5"));
    }
}

}  // namespace
