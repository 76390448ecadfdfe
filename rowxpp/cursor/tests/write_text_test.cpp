// The texts and parameters of the generated INSERT, UPDATE and DELETE
// statements, the value formatter, the key definition, and the positioned
// clause of a driver that names its cursors (scripted through the call
// table).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "write_support.h"
#include "xpp/functions.h"

using namespace rowxpp;
using namespace rowxpp_test;

namespace {

std::string Show(const xpp::Array& params) {
    std::string s;
    for (const xpp::Value& v : params.Items()) {
        if (auto p = v.As<SQLValue>()) {
            s += "SQLValue(" + xpp::Var2Char(p->Value) + "," + xpp::Var2Char(p->SQLType) + "," + xpp::Var2Char(p->CType) +
                 "," + xpp::Var2Char(p->Precision) + "," + xpp::Var2Char(p->Scale) + "," + xpp::Var2Char(p->Bytes) +
                 ")";
        } else {
            s += xpp::ValType(v) + ":" + xpp::Var2Char(v);
        }
        s += ";";
    }
    return s;
}

TEST(FormatBuffer, EachTypeInEachUse) {
    struct Case {
        xpp::Value value;
        int64_t sqlType;
        const char* insert;  // the INSERT value text
        const char* set;     // the SET item text
        const char* search;  // the search text
        const char* params;  // what one use appends
        // what the search appends, when not the same
        const char* searchParams = nullptr;
    };
    const std::vector<Case> cases = {
        {"ab", SQL_VARCHAR, "?", "=?", "=?", "C:ab;"},
        {"ab", SQL_CHAR, "?", "=?", "=?", "C:ab;"},
        {"ab", SQL_WVARCHAR, "?", "=?", "=?", "C:ab;"},
        {"2024-03-05 10:20:30.5", SQL_TYPE_TIMESTAMP, "{ts '2024-03-05 10:20:30.5'}",
         "={ts '2024-03-05 10:20:30.5'}", "={ts '2024-03-05 10:20:30.5'}", ""},
        {"2024-03-05 10:20:30", SQL_DATETIME, "{ts '2024-03-05 10:20:30'}", "={ts '2024-03-05 10:20:30'}",
         "={ts '2024-03-05 10:20:30'}", ""},
        {"10:20:30", SQL_TYPE_TIME, "{t '10:20:30'}", "={t '10:20:30'}", "={t '10:20:30'}", ""},
        {"   ", SQL_TYPE_TIMESTAMP, " NULL", "= NULL", " IS NULL", ""},
        // a value that is no plain date-time never reaches the text
        {"2024'}; drop", SQL_TYPE_TIMESTAMP, "?", "=?", "=?", "SQLValue(2024'}; drop,93,1,12,0,12);"},
        {"1'0", SQL_TYPE_TIME, "?", "=?", "=?", "SQLValue(1'0,92,1,3,0,3);"},
        {"0123456789", SQL_LONGVARCHAR, "?", "=?", "=?", "SQLValue(0123456789,-1,1,10,0,10);"},
        // an empty long value is written NULL and found as itself
        {"", SQL_LONGVARCHAR, " NULL", "= NULL", "=?", "", "SQLValue(,-1,1,0,0,0);"},
        {"  ", SQL_LONGVARCHAR, " NULL", "= NULL", "=?", "", "SQLValue(  ,-1,1,2,0,2);"},
        {std::string("\0\1", 2), SQL_LONGVARBINARY, "?", "=?", "=?", ""},
        {"", SQL_VARBINARY, " NULL", "= NULL", "=?", "", "SQLValue(,-3,-2,0,0,0);"},
        {42, SQL_INTEGER, "42", "=42", "=42", ""},
        {12345678901LL, SQL_BIGINT, "12345678901", "=12345678901", "=12345678901", ""},
        {9007199254740993LL, SQL_BIGINT, "9007199254740993", "=9007199254740993", "=9007199254740993", ""},
        {-7, SQL_DECIMAL, "-7", "=-7", "=-7", ""},
        {0.25, SQL_DOUBLE, "?", "=?", "=?", "N:0.25;"},
        {0.5, SQL_REAL, "?", "=?", "=?", "N:0.5;"},
        {0.5, SQL_FLOAT, "?", "=?", "=?", "N:0.5;"},
        {xpp::SToD("20240305"), SQL_TYPE_DATE, "{d '2024-03-05'}", "={d '2024-03-05'}", "={d '2024-03-05'}", ""},
        {xpp::Date(), SQL_TYPE_DATE, " NULL", "= NULL", " IS NULL", ""},
        {true, SQL_BIT, "?", "=?", "=?", "L:.T.;"},
        {false, SQL_BIT, "?", "=?", "=?", "L:.F.;"},
        {false, SQL_INTEGER, "?", "=?", "=?", "L:.F.;"},
        {xpp::Value(), SQL_INTEGER, " NULL", "= NULL", " IS NULL", ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(xpp::Var2Char(k.value) + " as " + std::to_string(k.sqlType));
        xpp::Array a, b, c;
        EXPECT_EQ(FORMATBUFFER(k.value, k.sqlType, a, " NULL", "?", ""), k.insert);
        EXPECT_EQ(FORMATBUFFER(k.value, k.sqlType, b, "= NULL", "=?", "="), k.set);
        EXPECT_EQ(FORMATBUFFER(k.value, k.sqlType, c, " IS NULL", "=?", "=", true), k.search);
        if (k.sqlType != SQL_LONGVARBINARY) {
            EXPECT_EQ(Show(a), k.params);
        }
        EXPECT_EQ(Show(a), Show(b));
        if (k.searchParams) EXPECT_EQ(Show(c), k.searchParams);
        else EXPECT_EQ(Show(a), Show(c));
    }
    // numbers without a literal travel as parameters in every use
    for (double d : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        SCOPED_TRACE(d);
        xpp::Array p;
        EXPECT_EQ(FORMATBUFFER(xpp::Number::FromDouble(d), SQL_NUMERIC, p, " NULL", "?", ""), "?");
        EXPECT_EQ(FORMATBUFFER(xpp::Number::FromDouble(d), SQL_DECIMAL, p, " IS NULL", "=?", "=", true), "=?");
        ASSERT_EQ(p.Len(), 2u);
        EXPECT_EQ(std::isnan(p.Get(1).Dbl()), std::isnan(d));
        EXPECT_EQ(std::isinf(p.Get(2).Dbl()), std::isinf(d));
    }
    // binary values travel as binary SQLValues of their column's type
    xpp::Array p;
    FORMATBUFFER(std::string("\0\1", 2), SQL_VARBINARY, p, " NULL", "?", "");
    auto v = p.Get(1).As<SQLValue>();
    ASSERT_TRUE(v);
    EXPECT_EQ(v->Value.Str(), std::string("\0\1", 2));
    EXPECT_EQ(v->SQLType.Int(), SQL_VARBINARY);
    EXPECT_EQ(v->CType.Int(), SQL_C_BINARY);
    EXPECT_EQ(v->Precision.Int(), 2);
    EXPECT_EQ(v->Bytes.Int(), 2);
}

// Columns A (not nullable), B (nullable), C (not nullable), on SQLite by
// default. (The SQLite driver describes every result column as nullable;
// the PostgreSQL driver tells them apart.)
const char* kPostgresAbc =
    "CREATE TABLE abc (\"A\" INTEGER NOT NULL, \"B\" INTEGER, \"C\" INTEGER NOT NULL DEFAULT 0)";

struct Abc {
    std::shared_ptr<SQLConnection> c;
    explicit Abc(const char* create = "CREATE TABLE abc (A INTEGER NOT NULL, B INTEGER, C INTEGER NOT NULL DEFAULT 0)",
                 const char* dsn = "SQLite")
        : c(Connected(dsn)) {
        c->Execute("DROP TABLE abc");
        c->Execute(create);
        c->Execute("INSERT INTO abc (\"A\", \"B\", \"C\") VALUES (7, 1, 2)");
    }
    ~Abc() {
        c->Execute("DROP TABLE abc");
        c->Destroy();
    }
};

TEST(CursorWriteText, InsertOfNilsAndUpdateByKeyByteForByte) {
    Abc t(kPostgresAbc, "PostgreSQL");
    ASSERT_NE(t.c->Handle, 0);
    auto s = t.c->Cursor("SELECT \"A\", \"B\", \"C\" FROM abc");
    ASSERT_NE(s->Execute(), kExecFailed);

    // not modified: nothing runs
    {
        TextLog log;
        EXPECT_TRUE(s->UpdateRow());
        EXPECT_EQ(s->RowsUpdated(), 0);
        EXPECT_EQ(log.Log().Total(), 0u);
    }
    // the key A fetched as 7; B to NIL, C to 5: no parameters at all
    ASSERT_TRUE(s->SetPrimaryKey("A"));
    s->FieldPut("B", xpp::Value());
    s->FieldPut("C", 5);
    {
        TextLog log;
        EXPECT_TRUE(s->UpdateRow());
        EXPECT_EQ(log.Starting("update"), std::vector<std::string>{"update abc set \"B\"= NULL,\"C\"=5 where \"A\"=7"});
        EXPECT_EQ(log.Log().Count(21), 0);
    }
    // a new row of NILs only: NULL into the last nullable column
    s->Append();
    s->FieldPut("B", xpp::Value());
    {
        TextLog log;
        CapturedErrors raised;
        s->DisplayErrors = false;
        s->UpdateRow();
        EXPECT_EQ(log.Starting("insert"), std::vector<std::string>{"insert into abc(\"B\") values ( NULL)"});
    }
    s->CancelUpdate();
    s->Destroy();
}

TEST(CursorWriteText, InsertOfNilsWithoutNullableColumnNamesTheFirst) {
    Abc t("CREATE TABLE abc (\"A\" INTEGER NOT NULL DEFAULT 3, \"B\" INTEGER NOT NULL DEFAULT 0, "
          "\"C\" INTEGER NOT NULL DEFAULT 0)",
          "PostgreSQL");
    ASSERT_NE(t.c->Handle, 0);
    auto s = t.c->Cursor("SELECT \"A\", \"B\", \"C\" FROM abc");
    ASSERT_NE(s->Execute(), kExecFailed);
    s->DisplayErrors = false;
    s->Append();
    TextLog log;
    EXPECT_FALSE(s->UpdateRow());
    EXPECT_EQ(log.Starting("insert"), std::vector<std::string>{"insert into abc(\"A\") values ( NULL)"});
    // the marks stay after the failed write
    EXPECT_TRUE(s->isRowModified());
    EXPECT_TRUE(s->Row()->isAppend);
    s->CancelUpdate();
    s->Destroy();
}

TEST(CursorWriteText, CharacterKeyIsTheLastParameterAndValuesGoInMarkerOrder) {
    auto c = Connected("SQLite");
    ASSERT_NE(c->Handle, 0);
    c->Execute("DROP TABLE kv");
    c->Execute("CREATE TABLE kv (K VARCHAR(10), V VARCHAR(10), W VARCHAR(10))");
    c->Execute("INSERT INTO kv VALUES ('key1', 'v', 'w')");
    auto s = c->Cursor("SELECT K, V, W FROM kv");
    ASSERT_NE(s->Execute(), kExecFailed);
    ASSERT_TRUE(s->SetPrimaryKey(xpp::Array{"K"}));
    s->FieldPut("V", "one");
    s->FieldPut("W", "two");
    TextLog log;
    EXPECT_TRUE(s->UpdateRow());
    EXPECT_EQ(log.Starting("update"), std::vector<std::string>{"update kv set \"V\"=?,\"W\"=? where \"K\"=?"});
    EXPECT_EQ(s->RowsUpdated(), 1);
    // the parameters as bound, in marker order
    auto binds = log.Log().Binds();
    ASSERT_EQ(binds.size(), 3u);
    EXPECT_EQ(binds[0].number, 1);
    EXPECT_EQ(binds[2].number, 3);
    Table rows = ReadBack(c->Handle, "SELECT K, V, W FROM kv");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<Cell>{"key1", "one", "two"}));
    s->Destroy();
    c->Execute("DROP TABLE kv");
    c->Destroy();
}

TEST(CursorWriteText, SetPrimaryKeyAddsReplacesAndRefuses) {
    Abc t;
    ASSERT_NE(t.c->Handle, 0);
    auto s = t.c->Cursor("SELECT A, B, C FROM abc");
    // not open, not prepared: prepared for the key
    auto table = [&] { return s->SQLTables().Arr().Get(1).As<SQLTable>(); };
    auto keys = [&] {
        std::vector<int64_t> k;
        for (const xpp::Value& v : table()->KeyColumns.Items()) k.push_back(v.Int());
        return k;
    };
    ASSERT_TRUE(s->SetPrimaryKey(xpp::Array{"A"}));
    EXPECT_TRUE(s->isPrepared);
    EXPECT_TRUE(s->SetPrimaryKey("c"));
    EXPECT_EQ(keys(), (std::vector<int64_t>{1, 3}));
    EXPECT_TRUE(s->SetPrimaryKey(2));
    EXPECT_EQ(keys(), (std::vector<int64_t>{1, 3, 2}));
    EXPECT_TRUE(s->SetPrimaryKey(xpp::Array{"C"}, " abc "));
    EXPECT_EQ(keys(), (std::vector<int64_t>{3}));
    EXPECT_TRUE(s->SetPrimaryKey(xpp::Value()));
    EXPECT_TRUE(keys().empty());

    struct Bad {
        xpp::Value keys, table;
        const char* message;
    };
    for (const Bad& b : {Bad{xpp::Array{"A", "nosuch"}, xpp::Value(), "Invalid SQL cursor column specified: nosuch"},
                         Bad{9, xpp::Value(), "Invalid SQL cursor column specified: 9"},
                         Bad{"A", "other", "Invalid SQL table name specified: OTHER"}}) {
        SCOPED_TRACE(b.message);
        ASSERT_TRUE(s->SetPrimaryKey(xpp::Array{"B"}));
        CapturedErrors raised;
        EXPECT_FALSE(s->SetPrimaryKey(b.keys, b.table));
        ASSERT_EQ(raised.Errors().size(), 1u);
        EXPECT_EQ(raised.Errors()[0]->description.Str(), b.message);
        EXPECT_EQ(raised.Errors()[0]->subCode.Int(), 0);
    }
    // a bad column leaves no key at all; a bad table leaves the key alone
    EXPECT_EQ(keys(), (std::vector<int64_t>{2}));
    ASSERT_TRUE(s->SetPrimaryKey(xpp::Array{"B"}));
    {
        CapturedErrors raised;
        EXPECT_FALSE(s->SetPrimaryKey(xpp::Array{"A", "nosuch"}));
    }
    EXPECT_TRUE(keys().empty());
    s->Destroy();
}

// Answers SQLGetCursorName with `name`, and a positioned statement as the
// driver names: with success and one row, or with SQLSTATE 34000.
struct Positioned {
    std::string name = "SQL_CUR7";
    bool reject = false;
    bool rejected = false;
    std::optional<int64_t> operator()(int index, const std::vector<int64_t>& a) {
        if (index == 22) {
            std::memcpy(reinterpret_cast<char*>(a[1]), name.data(), name.size());
            *reinterpret_cast<SQLSMALLINT*>(a[3]) = static_cast<SQLSMALLINT>(name.size());
            return SQL_SUCCESS;
        }
        if (index == 26) {
            std::string text(reinterpret_cast<const char*>(a[1]), static_cast<size_t>(a[2]));
            rejected = false;
            if (text.find(" where current of ") == std::string::npos) return std::nullopt;
            if (reject) {
                rejected = true;
                return SQL_ERROR;
            }
            return SQL_SUCCESS;
        }
        if (index == 32) {  // the row count of the answered statement
            *reinterpret_cast<SQLLEN*>(a[1]) = 1;
            return SQL_SUCCESS;
        }
        if (index == 43 && rejected && a[3] == SQL_DIAG_SQLSTATE) {
            std::memcpy(reinterpret_cast<char*>(a[4]), "34000", 6);
            return SQL_SUCCESS;
        }
        return std::nullopt;
    }
};

TEST(CursorWriteText, PositionedClauseIsReusedAndARejectionFallsBackToTheKey) {
    Abc t;
    ASSERT_NE(t.c->Handle, 0);
    t.c->Execute("INSERT INTO abc (A, B, C) VALUES (8, 1, 2)");
    auto s = t.c->Cursor("SELECT A, B, C FROM abc ORDER BY A");
    ASSERT_NE(s->Execute(), kExecFailed);
    ASSERT_TRUE(s->SetPrimaryKey("A"));
    s->lUsePosUpdate = s->lUsePosDelete = true;
    Positioned driver;
    {
        TextLog log([&](int index, const std::vector<int64_t>& a) { return driver(index, a); });
        s->FieldPut("B", 10);
        EXPECT_TRUE(s->UpdateRow());
        s->FieldPut("B", 11);
        EXPECT_TRUE(s->UpdateRow());
        EXPECT_EQ(log.Starting("update"), (std::vector<std::string>{"update abc set \"B\"=10 where current of SQL_CUR7",
                                                                    "update abc set \"B\"=11 where current of SQL_CUR7"}));
        // the name was asked once
        EXPECT_EQ(log.Log().Count(22), 1);
    }
    // rejected: both flags off for good, the same row written by its key
    driver.reject = true;
    {
        TextLog log([&](int index, const std::vector<int64_t>& a) { return driver(index, a); });
        s->FieldPut("B", 12);
        EXPECT_TRUE(s->UpdateRow());
        EXPECT_EQ(log.Starting("update"), (std::vector<std::string>{"update abc set \"B\"=12 where current of SQL_CUR7",
                                                                    "update abc set \"B\"=12 where \"A\"=7"}));
    }
    EXPECT_FALSE(s->lUsePosUpdate);
    EXPECT_FALSE(s->lUsePosDelete);
    Table rows = ReadBack(t.c->Handle, "SELECT A, B FROM abc ORDER BY A");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<Cell>{"7", "12"}));
    EXPECT_EQ(rows[1], (std::vector<Cell>{"8", "1"}));
    s->Destroy();
}

TEST(CursorWriteText, DriverWithoutCursorNameSwitchesPositionedModeOff) {
    Abc t;
    ASSERT_NE(t.c->Handle, 0);
    auto s = t.c->Cursor("SELECT A, B, C FROM abc");
    ASSERT_NE(s->Execute(), kExecFailed);
    ASSERT_TRUE(s->SetPrimaryKey("A"));
    s->lUsePosUpdate = s->lUsePosDelete = true;
    TextLog log([](int index, const std::vector<int64_t>&) -> std::optional<int64_t> {
        if (index == 22) return SQL_ERROR;
        return std::nullopt;
    });
    s->FieldPut("B", 3);
    EXPECT_TRUE(s->UpdateRow());
    EXPECT_EQ(log.Starting("update"), std::vector<std::string>{"update abc set \"B\"=3 where \"A\"=7"});
    EXPECT_FALSE(s->lUsePosUpdate);
    EXPECT_FALSE(s->lUsePosDelete);
    s->Destroy();
}

TEST(CursorWriteText, DeleteAndAppendMarks) {
    Abc t;
    ASSERT_NE(t.c->Handle, 0);
    auto s = t.c->Cursor("SELECT A, B, C FROM abc");
    ASSERT_NE(s->Execute(), kExecFailed);
    // a new row not yet written is only cleared
    s->Append();
    s->FieldPut("A", 9);
    s->Delete();
    EXPECT_FALSE(s->isRowModified());
    EXPECT_FALSE(s->Row()->isAppend);
    EXPECT_FALSE(s->Deleted());
    ASSERT_TRUE(s->GoTop());
    s->Delete();
    EXPECT_TRUE(s->Deleted());
    EXPECT_TRUE(s->isRowModified());
    s->Delete();
    EXPECT_TRUE(s->Deleted());
    s->CancelUpdate();
    EXPECT_FALSE(s->Deleted());
    s->Destroy();
}

TEST(CursorWriteText, ForcedWriteOfLoadedValues) {
    Abc t;
    ASSERT_NE(t.c->Handle, 0);
    auto s = t.c->Cursor("SELECT A, B, C FROM abc");
    ASSERT_NE(s->Prepare(), false);
    ASSERT_TRUE(s->SetPrimaryKey("A"));
    // not open: written only when forced
    TextLog log;
    EXPECT_TRUE(s->ForceRowUpdate_(xpp::Array{7, 1, 2}, xpp::Array{7, 4, 2}));
    EXPECT_EQ(log.Starting("update"), std::vector<std::string>{"update abc set \"B\"=4 where \"A\"=7"});
    EXPECT_TRUE(s->RowBuffer.Same(s->Row()->Buffer));
    EXPECT_TRUE(s->ForceRowUpdate_(xpp::Value(), xpp::Array{8, xpp::Value(), 3}));
    EXPECT_TRUE(s->ForceRowUpdate_(xpp::Array{7, 4, 2}, xpp::Value()));
    EXPECT_EQ(log.Starting("insert"), std::vector<std::string>{"insert into abc(\"A\",\"C\") values (8,3)"});
    EXPECT_EQ(log.Starting("delete"), std::vector<std::string>{"delete from abc where \"A\"=7"});
    Table rows = ReadBack(t.c->Handle, "SELECT A, B, C FROM abc");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<Cell>{"8", std::nullopt, "3"}));
    s->Destroy();
}

}  // namespace
