// Parameter binding, data at execution and SQLValue, through unixODBC to the
// real drivers.
#include <gtest/gtest.h>

#include "kiv_odbc_testing/admin_connection.h"
#include "rowxpp/sql_error.h"
#include "statement_support.h"
#include "xpp/functions.h"

using namespace rowxpp;
using kivodbc::testing::QueryOn;
using kivodbc::testing::Row;
using rowxpp_test::BindCall;
using rowxpp_test::CallLog;
using rowxpp_test::CapturedErrors;
using rowxpp_test::Connected;

namespace {

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s.push_back(static_cast<char>(c));
    return s;
}

struct BindCase {
    const char* name;
    xpp::Value param;
    int64_t cType, sqlType, size, digits, bufferLength;
    std::string bytes;
    int64_t indicator;
};

TEST(Binding, EveryKindOfValueBindsAsTheTypeTableSays) {
    auto c = Connected("SQLite");
    const std::string a255(255, 'a'), a256(256, 'b');
    const std::string zeros20(20, '\0');
    const std::string march5 = Bytes({0xE8, 0x07, 0x03, 0x00, 0x05, 0x00}) + std::string(10, '\0');
    const BindCase cases[] = {
        {"empty text", "", 1, 1, 1, 0, 1, std::string(1, '\0'), 0},
        {"255 characters", a255, 1, 1, 255, 0, 255, a255, 255},
        {"256 characters", a256, 1, -1, 256, 0, 256, a256, 256},
        {"32767", 32767, 5, 5, 5, 0, 2, xpp::L2Bin(32767), 2},
        {"32768", 32768, 4, 4, 10, 0, 4, xpp::L2Bin(32768), 4},
        {"-32768", -32768, 5, 5, 5, 0, 2, xpp::L2Bin(-32768), 2},
        {"-32769", -32769, 4, 4, 10, 0, 4, xpp::L2Bin(-32769), 4},
        {"2147483647", 2147483647LL, 4, 4, 10, 0, 4, xpp::L2Bin(2147483647LL), 4},
        {"2147483648", 2147483648LL, 1, 1, 10, 0, 10, "2147483648", 10},
        {"-2147483649", -2147483649LL, 1, 1, 11, 0, 11, "-2147483649", 11},
        {"1.5", 1.5, 8, 8, 10, 0, 8, xpp::F2Bin(1.5), 8},
        {"3.0 as a double", xpp::Number::Double(3.0, 2), 5, 5, 5, 0, 2, xpp::L2Bin(3), 2},
        {"an exact decimal", xpp::Val("9999999999999.99"), 1, 1, 16, 0, 16, "9999999999999.99", 16},
        {"an exact decimal of 18 digits", xpp::Val("-99999999.9999999999"), 1, 1, 20, 0, 20, "-99999999.9999999999", 20},
        {"a whole exact decimal", xpp::Val("12.00"), 5, 5, 5, 0, 2, xpp::L2Bin(12), 2},
        {"a wide whole exact decimal", xpp::Val("300000000000000.00"), 1, 1, 15, 0, 15, "300000000000000", 15},
        {"empty date", xpp::Date(), 11, 11, 16, 0, 16, zeros20, -1},
        {"2024-03-05", xpp::Date::FromYMD(2024, 3, 5), 11, 11, 16, 0, 16, march5, 16},
        {".T.", true, 1, -7, 1, 0, 1, "1", 1},
        {".F.", false, 1, -7, 1, 0, 1, "0", 1},
        {"NIL", xpp::Value(), 1, 1, 1, 0, 1, std::string(1, '\0'), -1},
        {"{1}", xpp::Array{1}, 1, 1, 1, 0, 1, std::string(1, '\0'), -1},
        {"SQLValue NULL", SQLValue::New("abc", -1, 1, 3, 0, -1), 1, -1, 3, 0, 3, "abc", -1},
        {"SQLValue binary", SQLValue::New(Bytes({0, 1, 2, 255}), -3, -2, 4, 0, 4), -2, -3, 4, 0, 4,
         Bytes({0, 1, 2, 255}), 4},
        {"SQLValue with scale", SQLValue::New("12.345", 3, 1, 10, 3, 6), 1, 3, 10, 3, 6, "12.345", 6},
        {"SQLValue replication form", SQLValue::New("memo", -1, 1), 1, -1, 4, 0, 4, "memo", 4},
        {"SQLValue SQL_NTS", SQLValue::New("nts", 1, 1, 3, 0, SQL_NTS), 1, 1, 3, 0, 3, "nts", 3},
        {"SQLValue at execution", SQLValue::New("later", -1, 1, 5, 0, SQL_LEN_DATA_AT_EXEC(5)), 1, -1, 5, 0, 5,
         "later", SQL_LEN_DATA_AT_EXEC(5)},
    };
    for (const BindCase& k : cases) {
        SCOPED_TRACE(k.name);
        auto s = c->NewStatement("SELECT ?");
        CallLog log;
        log.valueBytes = [&k](int64_t) { return k.bytes.size(); };
        // data at execution is not answered here: the execution's result does not matter
        s->DisplayErrors = false;
        s->Execute({xpp::Array{k.param}});
        auto binds = log.Binds();
        ASSERT_EQ(binds.size(), 1u);
        const BindCall& b = binds[0];
        EXPECT_EQ(b.number, 1);
        EXPECT_EQ(b.cType, k.cType);
        EXPECT_EQ(b.sqlType, k.sqlType);
        EXPECT_EQ(b.size, k.size);
        EXPECT_EQ(b.digits, k.digits);
        EXPECT_EQ(b.bufferLength, k.bufferLength);
        EXPECT_EQ(b.bytes, k.bytes);
        EXPECT_EQ(b.indicator, k.indicator);
        // the parameter was reset before it was bound
        ASSERT_FALSE(log.ArgumentsOf(55).empty());
        EXPECT_EQ(log.ArgumentsOf(55).front()[1], SQL_RESET_PARAMS);
        EXPECT_EQ(s->MemLock().Len(), 0u);
        s->Destroy();
    }
    c->Destroy();
}

TEST(Binding, ThreeParametersLieBackToBackInOneBlock) {
    auto c = Connected("SQLite");
    auto s = c->NewStatement("SELECT ?, ?, ?");
    // while the statement executes, aMemLock holds the address lists of
    // both blocks
    std::string heldAtExecution;
    CallLog log([&](int index, const std::vector<int64_t>&) -> std::optional<int64_t> {
        if (index == 26) heldAtExecution = xpp::Var2Char(s->MemLock());
        return std::nullopt;
    });
    log.valueBytes = [](int64_t number) { return std::vector<size_t>{3, 4, 8}[static_cast<size_t>(number - 1)]; };
    // "abc", 7 (a SMALLINT in four bytes), 2.5 (eight bytes)
    EXPECT_GE(s->Execute({"abc", 7, 2.5}), -1);
    auto binds = log.Binds();
    ASSERT_EQ(binds.size(), 3u);
    EXPECT_EQ(binds[0].bytes + binds[1].bytes + binds[2].bytes, "abc" + xpp::L2Bin(7) + xpp::F2Bin(2.5));
    EXPECT_EQ(binds[1].valueAddress, binds[0].valueAddress + 3);
    EXPECT_EQ(binds[2].valueAddress, binds[1].valueAddress + 4);
    EXPECT_EQ(binds[1].indicatorAddress, binds[0].indicatorAddress + 8);
    EXPECT_EQ(binds[2].indicatorAddress, binds[1].indicatorAddress + 8);
    auto list = [](int64_t a, int64_t b, int64_t c) {
        return "{" + std::to_string(a) + ", " + std::to_string(b) + ", " + std::to_string(c) + "}";
    };
    EXPECT_EQ(heldAtExecution,
              "{" + list(binds[0].valueAddress, binds[1].valueAddress, binds[2].valueAddress) + ", " +
                  list(binds[0].indicatorAddress, binds[1].indicatorAddress, binds[2].indicatorAddress) + "}");
    EXPECT_EQ(s->MemLock().Len(), 0u);
    s->Destroy();
    c->Destroy();
}

TEST(Binding, AValueThatCannotBePackedBindsNothing) {
    auto c = Connected("SQLite");
    auto s = c->NewStatement("SELECT ?, ?");
    CapturedErrors errors;
    CallLog log;
    EXPECT_EQ(s->Execute({"x", SQLValue::New(5, -1, 1, 1, 0, 1)}), kExecFailed);
    ASSERT_EQ(errors.Errors().size(), 1u);
    EXPECT_EQ(errors.Errors()[0]->description.Str(), "Failed to allocate memory");
    EXPECT_EQ(errors.Errors()[0]->subSystem.Str(), kSubSystem);
    EXPECT_EQ(log.Count(21), 0);
    EXPECT_EQ(log.Count(25) + log.Count(26), 0);
    EXPECT_EQ(s->MemLock().Len(), 0u);
    s->Destroy();
    c->Destroy();
}

TEST(Binding, AFailedBindIsShownAndRaisedWithTheParameter) {
    auto c = Connected("SQLite");
    auto s = c->NewStatement("SELECT ?");
    rowxpp_test::Shown shown;
    shown.Catch(s->onError);
    CapturedErrors errors;
    // C type 9999 is no C type: the driver manager refuses it (HY003).
    EXPECT_EQ(s->Execute({SQLValue::New("abc", 1, 9999, 3, 0, 3)}), kExecFailed);
    ASSERT_EQ(shown.states.size(), 1u);
    EXPECT_EQ(shown.states[0], "HY003");
    ASSERT_EQ(errors.Errors().size(), 1u);
    EXPECT_EQ(errors.Errors()[0]->description.Str(), "Param: 1, Type: O, SQLType: 1, Size: 3, Value: SQLValue");
    EXPECT_EQ(errors.Errors()[0]->subCode.Int(), 65535);
    EXPECT_EQ(errors.Errors()[0]->operation.Str(), "SELECT ?\r\n{SQLValue}");
    EXPECT_EQ(s->MemLock().Len(), 0u);
    s->Destroy();
    c->Destroy();
}

// ------------------------------------------------ values through each driver

struct DriverTable {
    const char* dsn;
    const char* create;
    const char* select;
    bool emptyTextIsNull;
};

TEST(Binding, ValuesStoredThroughEachDriverReadBackAsGiven) {
    const DriverTable drivers[] = {
        {"SQLite", "CREATE TABLE kinds (t VARCHAR(20), e VARCHAR(20), i INTEGER, n DOUBLE, d TIMESTAMP, b INTEGER, z VARCHAR(5), nd TIMESTAMP)",
         "SELECT t, e, i, n, d, b, z, nd FROM kinds", false},
        {"PostgreSQL", "CREATE TABLE kinds (t VARCHAR(20), e VARCHAR(20), i INTEGER, n DOUBLE PRECISION, d TIMESTAMP, b BOOLEAN, z VARCHAR(5), nd TIMESTAMP)",
         "SELECT t, e, i, n, d, CASE WHEN b THEN 1 ELSE 0 END, z, nd FROM kinds", false},
        {"KIVODBC", "CREATE TABLE kinds (t CHAR(20), e CHAR(20), i INTEGER, n NUMERIC(12,4), d DATE, b LOGICAL, z CHAR(5), nd DATE)",
         "SELECT t, e, i, n, d, b, z, nd FROM kinds", true},
    };
    for (const DriverTable& d : drivers) {
        SCOPED_TRACE(d.dsn);
        auto c = Connected(d.dsn);
        ASSERT_NE(c->Handle, 0);
        c->Execute("DROP TABLE kinds");
        ASSERT_GE(c->Execute(d.create), -1) << c->ErrorMessage();
        auto s = c->NewStatement("INSERT INTO kinds (t, e, i, n, d, b, z, nd) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
        EXPECT_EQ(s->Execute({"text", "", 70000, 2.25, xpp::Date::FromYMD(2024, 3, 5), true, xpp::Value(), xpp::Date()}),
                  1)
            << s->ErrorMessage();
        std::vector<Row> rows = QueryOn(ToHandle(c->Handle), d.select);
        ASSERT_EQ(rows.size(), 1u);
        const Row& r = rows[0];
        ASSERT_EQ(r.size(), 8u);
        EXPECT_EQ(xpp::Trim(r[0].value_or("<null>")), "text");
        if (d.emptyTextIsNull) {
            // the engine keeps no empty text apart from a blank field, which reads as NULL
            EXPECT_FALSE(r[1].has_value());
        } else {
            ASSERT_TRUE(r[1].has_value());
            EXPECT_EQ(*r[1], "");
        }
        EXPECT_EQ(r[2].value_or(""), "70000");
        EXPECT_DOUBLE_EQ(std::stod(r[3].value_or("0")), 2.25);
        EXPECT_EQ(r[4].value_or("").substr(0, 10), "2024-03-05");
        EXPECT_EQ(r[5].value_or(""), "1");
        EXPECT_FALSE(r[6].has_value());
        EXPECT_FALSE(r[7].has_value());
        s->Destroy();
        c->Execute("DROP TABLE kinds");
        c->Destroy();
    }
}

TEST(Binding, AnSQLValueBindsNoMoreThanItsValueThroughEachDriver) {
    struct Driver {
        const char* dsn;
        const char* create;
        const char* stored;  // "abc" as the driver reads the column back as text
    };
    for (const Driver& d : {Driver{"SQLite", "CREATE TABLE ov (a BLOB, b VARCHAR(20), n INTEGER)", "X'616263'"},
                            Driver{"PostgreSQL", "CREATE TABLE ov (a BYTEA, b VARCHAR(20), n INTEGER)", "616263"},
                            Driver{"KIVODBC", "CREATE TABLE ov (a CHAR(60), b CHAR(20), n INTEGER)", "abc"}}) {
        SCOPED_TRACE(d.dsn);
        auto c = Connected(d.dsn);
        ASSERT_NE(c->Handle, 0);
        c->Execute("DROP TABLE ov");
        ASSERT_GE(c->Execute(d.create), -1) << c->ErrorMessage();
        auto rows = [&] { return QueryOn(ToHandle(c->Handle), "SELECT a, b, n FROM ov"); };
        // Bytes 40 and 50,000,000 for a value of three bytes: three are bound
        for (int64_t bytes : {int64_t{40}, int64_t{50'000'000}}) {
            SCOPED_TRACE(bytes);
            CallLog log;
            log.valueBytes = [](int64_t) { return size_t{3}; };
            EXPECT_EQ(c->Execute("INSERT INTO ov (a, b) VALUES (?, ?)",
                                 xpp::Array{SQLValue::New("abc", -3, -2, 40, 0, bytes), "secret"}),
                      1)
                << c->ErrorMessage();
            auto binds = log.Binds();
            ASSERT_EQ(binds.size(), 2u);
            EXPECT_EQ(binds[0].bufferLength, 3);
            EXPECT_EQ(binds[0].indicator, 3);
            EXPECT_EQ(binds[0].bytes, "abc");
            std::vector<Row> stored = rows();
            ASSERT_EQ(stored.size(), 1u);
            EXPECT_EQ(xpp::Trim(stored[0][0].value_or("<null>")), d.stored);
            EXPECT_EQ(xpp::Trim(stored[0][1].value_or("<null>")), "secret");
            c->Execute("DELETE FROM ov");
        }
        // A C type of fixed width reads four bytes: a value of two is
        // refused with the parameter named, and nothing is stored.
        {
            CapturedErrors errors;
            CallLog log;
            auto s = c->NewStatement("INSERT INTO ov (b, n) VALUES (?, ?)");
            EXPECT_EQ(s->Execute({"short", SQLValue::New("ab", SQL_INTEGER, SQL_C_LONG, 10, 0, 4)}), kExecFailed);
            ASSERT_EQ(errors.Errors().size(), 1u);
            EXPECT_EQ(errors.Errors()[0]->description.Str(),
                      "Param: 2, CType: 4, Value of 2 bytes, the C type reads 4");
            EXPECT_EQ(log.Count(21), 0);
            EXPECT_EQ(log.Count(25) + log.Count(26), 0);
            EXPECT_TRUE(rows().empty());
            // its four bytes are the number
            EXPECT_EQ(s->Execute({"whole", SQLValue::New(xpp::L2Bin(123456789), SQL_INTEGER, SQL_C_LONG, 10, 0, 4)}), 1)
                << s->ErrorMessage();
            std::vector<Row> stored = rows();
            ASSERT_EQ(stored.size(), 1u);
            EXPECT_EQ(xpp::Trim(stored[0][1].value_or("<null>")), "whole");
            EXPECT_EQ(stored[0][2].value_or("<null>"), "123456789");
            s->Destroy();
        }
        c->Execute("DROP TABLE ov");
        c->Destroy();
    }
}

TEST(Binding, ExactDecimalsStoreAndFindTheirOwnRowThroughEachDriver) {
    const std::vector<const char*> common = {"9999999999999.99", "9999999999999.98", "-9999999999999.99", "12.50",
                                             "-0.05"};
    // 18 digits where the database keeps them (the others hold doubles)
    const std::vector<const char*> wide = {"9999999999999999.99", "9999999999999999.98"};
    for (const char* dsn : {"SQLite", "PostgreSQL", "KIVODBC"}) {
        SCOPED_TRACE(dsn);
        const char* type = "NUMERIC(18,2)";
        std::vector<const char*> keys = common;
        if (std::string(dsn) == "PostgreSQL") keys.insert(keys.end(), wide.begin(), wide.end());
        auto c = Connected(dsn);
        ASSERT_NE(c->Handle, 0);
        c->Execute("DROP TABLE dk");
        ASSERT_GE(c->Execute(std::string("CREATE TABLE dk (id ") + type + ", name VARCHAR(10))"), -1)
            << c->ErrorMessage();
        auto insert = c->NewStatement("INSERT INTO dk (id, name) VALUES (?, 'old')");
        for (const char* k : keys) EXPECT_EQ(insert->Execute({xpp::Val(k)}), 1) << k << insert->ErrorMessage();
        insert->Destroy();
        // an update by each key changes its row alone
        auto update = c->NewStatement("UPDATE dk SET name = ? WHERE id = ?");
        for (size_t i = 0; i < keys.size(); ++i)
            EXPECT_EQ(update->Execute({"n" + std::to_string(i), xpp::Val(keys[i])}), 1) << keys[i];
        update->Destroy();
        std::vector<Row> rows = QueryOn(ToHandle(c->Handle), "SELECT id, name FROM dk");
        ASSERT_EQ(rows.size(), keys.size());
        for (const Row& r : rows) {
            ASSERT_TRUE(r[0] && r[1]);
            size_t place = keys.size();
            for (size_t i = 0; i < keys.size(); ++i)
                if (xpp::Eq(xpp::Val(*r[0]), xpp::Val(keys[i]))) place = i;
            ASSERT_LT(place, keys.size()) << *r[0];
            EXPECT_EQ(xpp::Trim(*r[1]), "n" + std::to_string(place)) << *r[0];
        }
        c->Execute("DROP TABLE dk");
        c->Destroy();
    }
}

// --------------------------------------------------------- data at execution

std::string Pattern(size_t n, char seed) {
    std::string s(n, ' ');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + static_cast<size_t>(seed)) % 26);
    return s;
}

xpp::Value AtExecution(const std::string& text) {
    return SQLValue::New(text, SQL_LONGVARCHAR, SQL_C_CHAR, static_cast<int64_t>(text.size()), 0,
                         SQL_LEN_DATA_AT_EXEC(static_cast<int64_t>(text.size())));
}

// The length of the note of row `id` and a stretch of it around `at`.
std::string Stored(int64_t dbc, const std::string& column, int id) {
    std::vector<Row> rows = QueryOn(ToHandle(dbc), "SELECT " + column + " FROM notes WHERE id = " + std::to_string(id));
    if (rows.size() != 1 || !rows[0][0]) return "<none>";
    return *rows[0][0];
}

TEST(DataAtExecution, LongValuesGoInPiecesThroughEachDriver) {
    struct Driver {
        const char* dsn;
        const char* create;
    };
    for (const Driver& d : {Driver{"SQLite", "CREATE TABLE notes (id INTEGER, a TEXT, b TEXT)"},
                            Driver{"PostgreSQL", "CREATE TABLE notes (id INTEGER, a TEXT, b TEXT)"},
                            Driver{"KIVODBC", "CREATE TABLE notes (id INTEGER, a MEMO, b MEMO)"}}) {
        SCOPED_TRACE(d.dsn);
        auto c = Connected(d.dsn);
        ASSERT_NE(c->Handle, 0);
        c->Execute("DROP TABLE notes");
        ASSERT_GE(c->Execute(d.create), -1) << c->ErrorMessage();
        int id = 0;
        for (auto [size, pieces] : {std::pair<size_t, int>{65535, 1}, {65536, 2}, {131071, 3}, {300000, 5}}) {
            SCOPED_TRACE(size);
            std::string text = Pattern(size, static_cast<char>(size % 26));
            auto s = c->NewStatement("INSERT INTO notes (id, a) VALUES (?, ?)");
            CallLog log;
            EXPECT_EQ(s->Execute({++id, AtExecution(text)}), 1) << s->ErrorMessage();
            EXPECT_EQ(log.Count(31), pieces);
            std::vector<int64_t> lengths;
            for (const auto& a : log.ArgumentsOf(31)) lengths.push_back(a[2]);
            ASSERT_FALSE(lengths.empty());
            EXPECT_EQ(lengths.front(), std::min<int64_t>(65535, static_cast<int64_t>(size)));
            EXPECT_EQ(Stored(c->Handle, "a", id), text);
            s->Destroy();
        }
        // Two parameters at execution, each found by its own token.
        {
            std::string first = Pattern(70000, 'x'), second = Pattern(1000, 'q');
            auto s = c->NewStatement("INSERT INTO notes (id, a, b) VALUES (?, ?, ?)");
            CallLog log;
            EXPECT_EQ(s->Execute({++id, AtExecution(first), AtExecution(second)}), 1) << s->ErrorMessage();
            EXPECT_EQ(log.Count(31), 3);
            EXPECT_EQ(Stored(c->Handle, "a", id), first);
            EXPECT_EQ(Stored(c->Handle, "b", id), second);
            s->Destroy();
        }
        // An empty value at execution goes as one piece of no bytes (the
        // driver manager refuses SQLParamData after none); its piece shares
        // its address with the next one, and each is still found.
        {
            auto s = c->NewStatement("INSERT INTO notes (id, a, b) VALUES (?, ?, ?)");
            CallLog log;
            EXPECT_EQ(s->Execute({++id, AtExecution(""), AtExecution("tail")}), 1) << s->ErrorMessage();
            auto puts = log.ArgumentsOf(31);
            ASSERT_EQ(puts.size(), 2u);
            EXPECT_EQ(puts[0][2], 0);
            EXPECT_EQ(puts[1][2], 4);
            EXPECT_EQ(Stored(c->Handle, "b", id), "tail");
            s->Destroy();
        }
        // A token that is none of the statement's pieces: cancelled, -2, and
        // the statement runs normally afterwards.
        {
            auto s = c->NewStatement("INSERT INTO notes (id, a) VALUES (?, ?)");
            s->DisplayErrors = false;
            {
                bool first = true;
                static char stranger[4];
                CallLog log([&first](int index, const std::vector<int64_t>& args) -> std::optional<int64_t> {
                    if (index != 30 || !first) return std::nullopt;
                    first = false;
                    *reinterpret_cast<void**>(args[1]) = stranger;
                    return SQL_NEED_DATA;
                });
                EXPECT_EQ(s->Execute({++id, AtExecution("never sent")}), kExecFailed);
                EXPECT_EQ(log.Count(57), 1);
                EXPECT_EQ(log.Count(31), 0);
            }
            EXPECT_EQ(s->Execute({id, AtExecution("sent")}), 1) << s->ErrorMessage();
            EXPECT_EQ(Stored(c->Handle, "a", id), "sent");
            s->Destroy();
        }
        c->Execute("DROP TABLE notes");
        c->Destroy();
    }
}

// -------------------------------------------------------------------- SQLValue

TEST(SQLValueClass, StoresItsSixArgumentsAsGiven) {
    auto v = SQLValue::New("abc", -1, 1, 3, 0, 3);
    EXPECT_EQ(v->Value.Str(), "abc");
    EXPECT_EQ(v->SQLType.Int(), -1);
    EXPECT_EQ(v->CType.Int(), 1);
    EXPECT_EQ(v->Precision.Int(), 3);
    EXPECT_EQ(v->Scale.Int(), 0);
    EXPECT_EQ(v->Bytes.Int(), 3);
    EXPECT_TRUE(v->cargo.IsNil());
    auto replication = SQLValue::New("memo", -1, 1);
    EXPECT_TRUE(replication->Precision.IsNil());
    EXPECT_TRUE(replication->Scale.IsNil());
    EXPECT_TRUE(replication->Bytes.IsNil());
    EXPECT_EQ(&SQLVALUE(), &SQLVALUE());
    EXPECT_EQ(xpp::Value(v).Obj()->className(), "SQLValue");
    EXPECT_EQ(xpp::Send(xpp::Value(v), "bytes").Int(), 3);
}

}  // namespace
