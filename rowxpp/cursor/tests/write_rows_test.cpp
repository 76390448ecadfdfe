// A written row is the row the cursor stands on, and only that one, on the
// real data sources, read back through unixODBC on a second connection:
// a result described anew forgets the auto-unique column of the one before,
// a key that matches several rows is refused, empty long values are found
// as values, and logicals and numbers without a literal travel as
// parameters.
#include <gtest/gtest.h>

#include "rowxpp/sql_error.h"
#include "write_support.h"
#include "xpp/functions.h"

using namespace rowxpp;
using namespace rowxpp_test;

namespace {

std::string Shown(const Cell& c) { return c ? xpp::RTrim(*c) : std::string("<NULL>"); }

// Each row of `sql` read on a second connection, its cells joined by "|".
std::vector<std::string> Rows(const char* dsn, const std::string& sql) {
    auto other = Connected(dsn);
    std::vector<std::string> found;
    for (const auto& row : ReadBack(other->Handle, sql)) {
        std::string line;
        for (const Cell& cell : row) line += (line.empty() ? "" : "|") + Shown(cell);
        found.push_back(line);
    }
    other->Destroy();
    return found;
}

std::vector<std::string> Descriptions(const CapturedErrors& raised) {
    std::vector<std::string> found;
    for (const auto& e : raised.Errors()) found.push_back(e->description.Str());
    return found;
}

TEST(CursorWriteRows, ResultOfOtherColumnsForgetsTheAutoUniqueColumnBefore) {
    const std::vector<std::pair<const char*, const char*>> sources = {
        {"SQLite", "CREATE TABLE ra (id INTEGER PRIMARY KEY AUTOINCREMENT, name VARCHAR(10))"},
        {"PostgreSQL", "CREATE TABLE ra (id SERIAL PRIMARY KEY, name VARCHAR(10))"},
    };
    for (const auto& [dsn, create] : sources) {
        for (bool prepared : {true, false}) {
            SCOPED_TRACE(std::string(dsn) + (prepared ? " prepared" : " by its text"));
            auto c = Connected(dsn);
            ASSERT_NE(c->Handle, 0);
            c->Execute("DROP TABLE ra");
            c->Execute("DROP TABLE rb");
            ASSERT_NE(c->Execute(create), kExecFailed);
            c->Execute("INSERT INTO ra (name) VALUES ('one')");
            ASSERT_NE(c->Execute("CREATE TABLE rb (name VARCHAR(10), qty INTEGER)"), kExecFailed);
            c->Execute("INSERT INTO rb (name, qty) VALUES ('same', 1)");
            c->Execute("INSERT INTO rb (name, qty) VALUES ('same', 2)");
            CapturedErrors raised;
            auto s = c->Cursor("SELECT id, name FROM ra");
            ASSERT_NE(s->Execute(), kExecFailed);
            EXPECT_EQ(s->AutoUniqueColumn, 1);
            s->Close();
            const char* next = "SELECT name, qty FROM rb ORDER BY qty";
            if (prepared) {
                ASSERT_TRUE(s->Prepare(next));
            } else {
                s->SQLString(xpp::Value(next));
            }
            ASSERT_NE(s->Execute(), kExecFailed);
            EXPECT_EQ(s->AutoUniqueColumn, 0);
            s->FieldPut("qty", 100);
            EXPECT_TRUE(s->UpdateRow());
            EXPECT_EQ(s->RowsUpdated(), 1);
            EXPECT_EQ(Rows(dsn, "SELECT name, qty FROM rb ORDER BY qty"),
                      (std::vector<std::string>{"same|2", "same|100"}));
            EXPECT_TRUE(Descriptions(raised).empty());
            s->Destroy();
            c->Execute("DROP TABLE ra");
            c->Execute("DROP TABLE rb");
            c->Destroy();
        }
    }
}

TEST(CursorWriteRows, KeyThatMatchesSeveralRowsIsRefused) {
    for (const char* dsn : {"SQLite", "PostgreSQL", "KIVODBC"}) {
        SCOPED_TRACE(dsn);
        auto c = Connected(dsn);
        ASSERT_NE(c->Handle, 0);
        c->Execute("DROP TABLE rk");
        ASSERT_NE(c->Execute("CREATE TABLE rk (name VARCHAR(10), qty INTEGER)"), kExecFailed);
        c->Execute("INSERT INTO rk (name, qty) VALUES ('a', 1)");
        c->Execute("INSERT INTO rk (name, qty) VALUES ('b', 1)");
        auto s = c->Cursor("SELECT name, qty FROM rk ORDER BY name");
        ASSERT_NE(s->Execute(), kExecFailed);
        ASSERT_TRUE(s->SetPrimaryKey("qty"));
        s->FieldPut("name", "x");
        {
            CapturedErrors raised;
            EXPECT_FALSE(s->UpdateRow());
            ASSERT_EQ(Descriptions(raised), std::vector<std::string>{"Can not identify the row to write!"});
            EXPECT_EQ(raised.Errors()[0]->subCode.Int(), 0);
            EXPECT_EQ(s->RowsUpdated(), 2);
            EXPECT_TRUE(s->isRowModified());
            EXPECT_EQ(xpp::RTrim(s->FieldGet("name").Str()), "x");
        }
        {
            // a move does not leave the row
            CapturedErrors raised;
            EXPECT_FALSE(s->Skip());
            ASSERT_FALSE(raised.Errors().empty());
            EXPECT_EQ(Descriptions(raised).back(), "Can not write the changed row!");
            EXPECT_EQ(s->RecNo(), 1);
            EXPECT_TRUE(s->isRowModified());
        }
        s->CancelUpdate();
        {
            CapturedErrors raised;
            EXPECT_TRUE(s->Skip());
            EXPECT_EQ(s->RecNo(), 2);
            EXPECT_TRUE(raised.Errors().empty());
        }
        // the statement ran: outside a transaction its change stays
        EXPECT_EQ(Rows(dsn, "SELECT name, qty FROM rk"), (std::vector<std::string>{"x|1", "x|1"}));
        s->Destroy();
        c->Execute("DROP TABLE rk");
        c->Destroy();
    }
}

// A keyless table with an empty and a NULL value of a long column.
struct EmptyBeside {
    const char* dsn;
    const char* create;
    const char* empty;  // the literal of the empty value
};

TEST(CursorWriteRows, EmptyLongValueIsFoundAsAValueBesideNull) {
    const std::vector<EmptyBeside> tables = {
        {"SQLite", "CREATE TABLE rc (name VARCHAR(10), note TEXT, qty INTEGER)", "''"},
        {"PostgreSQL", "CREATE TABLE rc (name VARCHAR(10), note TEXT, qty INTEGER)", "''"},
        {"SQLite", "CREATE TABLE rc (name VARCHAR(10), note BLOB, qty INTEGER)", "x''"},
        {"PostgreSQL", "CREATE TABLE rc (name VARCHAR(10), note BYTEA, qty INTEGER)", "''::bytea"},
    };
    for (const EmptyBeside& t : tables) {
        SCOPED_TRACE(std::string(t.dsn) + ": " + t.create);
        auto c = Connected(t.dsn);
        ASSERT_NE(c->Handle, 0);
        c->Execute("DROP TABLE rc");
        ASSERT_NE(c->Execute(t.create), kExecFailed);
        ASSERT_NE(c->Execute(std::string("INSERT INTO rc (name, note, qty) VALUES ('a', ") + t.empty + ", 1)"),
                  kExecFailed);
        c->Execute("INSERT INTO rc (name, note, qty) VALUES ('a', NULL, 1)");
        CapturedErrors raised;
        auto s = c->Cursor("SELECT name, note, qty FROM rc");
        ASSERT_NE(s->Execute(), kExecFailed);
        // each row in turn gets its own number
        for (int64_t row = 1; row <= 2; ++row) {
            ASSERT_TRUE(s->GoTo(row));
            int64_t qty = s->isNull("note") ? 20 : 10;
            s->FieldPut("qty", qty + row);
            EXPECT_TRUE(s->UpdateRow());
            EXPECT_EQ(s->RowsUpdated(), 1);
        }
        int64_t emptyAt = 0;
        ASSERT_TRUE(s->GoTop());
        if (!s->isNull("note")) emptyAt = 1;
        else emptyAt = 2;
        std::vector<std::string> rows = Rows(t.dsn, "SELECT name, qty FROM rc ORDER BY qty");
        EXPECT_EQ(rows, (std::vector<std::string>{"a|" + std::to_string(10 + emptyAt),
                                                  "a|" + std::to_string(20 + 3 - emptyAt)}));
        // a new row with an empty value is written NULL, and found so later
        s->Append();
        s->FieldPut("name", "b");
        s->FieldPut("note", "");
        s->FieldPut("qty", 5);
        EXPECT_TRUE(s->UpdateRow());
        EXPECT_TRUE(s->isNull("note"));
        s->FieldPut("qty", 6);
        EXPECT_TRUE(s->UpdateRow());
        EXPECT_EQ(s->RowsUpdated(), 1);
        EXPECT_EQ(Rows(t.dsn, "SELECT name, note, qty FROM rc WHERE name = 'b'"),
                  std::vector<std::string>{"b|<NULL>|6"});
        EXPECT_TRUE(Descriptions(raised).empty()) << Descriptions(raised)[0];
        s->Destroy();
        c->Execute("DROP TABLE rc");
        c->Destroy();
    }
}

TEST(CursorWriteRows, EmptyMemoOfTheEngineIsFoundByItsValue) {
    auto c = Connected("KIVODBC");
    ASSERT_NE(c->Handle, 0);
    c->Execute("DROP TABLE rm");
    ASSERT_NE(c->Execute("CREATE TABLE rm (name VARCHAR(10), note MEMO, qty INTEGER)"), kExecFailed);
    c->Execute("INSERT INTO rm (name, note, qty) VALUES ('a', '', 1)");
    c->Execute("INSERT INTO rm (name, note, qty) VALUES ('b', NULL, 2)");
    c->Execute("INSERT INTO rm (name, note, qty) VALUES ('c', 'text', 3)");
    CapturedErrors raised;
    auto s = c->Cursor("SELECT name, note, qty FROM rm ORDER BY qty");
    ASSERT_NE(s->Execute(), kExecFailed);
    for (int64_t row = 1; row <= 3; ++row) {
        SCOPED_TRACE(row);
        ASSERT_TRUE(s->GoTo(row));
        s->FieldPut("qty", 10 + row);
        EXPECT_TRUE(s->UpdateRow());
        EXPECT_EQ(s->RowsUpdated(), 1);
    }
    EXPECT_EQ(Rows("KIVODBC", "SELECT name, qty FROM rm ORDER BY qty"),
              (std::vector<std::string>{"a|11", "b|12", "c|13"}));
    EXPECT_TRUE(Descriptions(raised).empty()) << Descriptions(raised)[0];
    s->Destroy();
    c->Execute("DROP TABLE rm");
    c->Destroy();
}

// The engine's VARCHAR is a text of its declared length: a keyless write
// finds a row by an empty one as by any other value, and writes one back.
TEST(CursorWriteRows, EmptyVarcharOfTheEngineIsSearchedAsAValue) {
    auto c = Connected("KIVODBC");
    ASSERT_NE(c->Handle, 0);
    c->Execute("DROP TABLE rv");
    ASSERT_NE(c->Execute("CREATE TABLE rv (name VARCHAR(10), qty INTEGER)"), kExecFailed);
    c->Execute("INSERT INTO rv (name, qty) VALUES ('', 1)");
    c->Execute("INSERT INTO rv (name, qty) VALUES ('cr\xe8me', 2)");
    CapturedErrors raised;
    auto s = c->Cursor("SELECT name, qty FROM rv ORDER BY qty");
    ASSERT_NE(s->Execute(), kExecFailed);
    auto name = s->GetSQLColumn(1);
    ASSERT_TRUE(name);
    EXPECT_EQ(name->SQLType, SQL_VARCHAR);
    EXPECT_EQ(name->BufferSize, 11);
    for (int64_t row = 1; row <= 2; ++row) {
        SCOPED_TRACE(row);
        ASSERT_TRUE(s->GoTo(row));
        s->FieldPut("qty", 10 + row);
        s->FieldPut("name", "");
        EXPECT_TRUE(s->UpdateRow());
        EXPECT_EQ(s->RowsUpdated(), 1);
    }
    EXPECT_EQ(Rows("KIVODBC", "SELECT name, qty FROM rv ORDER BY qty"),
              (std::vector<std::string>{"<NULL>|11", "<NULL>|12"}));
    EXPECT_TRUE(Descriptions(raised).empty()) << Descriptions(raised)[0];
    s->Destroy();
    c->Execute("DROP TABLE rv");
    c->Destroy();
}

// "T" or "F" for each row's flag, in the order of its id.
const char* kFlags = "SELECT id, CASE WHEN flag THEN 'T' ELSE 'F' END, name FROM pb ORDER BY id";

TEST(CursorWriteRows, LogicalsReachPostgresBooleansWithEitherSetting) {
    for (const char* setting : {"0", "1"}) {
        SCOPED_TRACE(std::string("BoolsAsChar=") + setting);
        Loaded();
        auto c = SQLConnection::New();
        ASSERT_TRUE(c->DriverConnect(xpp::Value(), std::string("DSN=PostgreSQL;BoolsAsChar=") + setting));
        c->Execute("DROP TABLE pb");
        ASSERT_NE(c->Execute("CREATE TABLE pb (id INTEGER PRIMARY KEY, flag BOOLEAN, name VARCHAR(10))"), kExecFailed);
        c->Execute("INSERT INTO pb (id, flag, name) VALUES (1, TRUE, 'a')");
        CapturedErrors raised;
        auto s = c->Cursor("SELECT id, flag, name FROM pb ORDER BY id");
        ASSERT_NE(s->Execute(), kExecFailed);
        ASSERT_TRUE(s->SetPrimaryKey("id"));
        // by key, both ways
        for (bool flag : {false, true}) {
            s->FieldPut("flag", flag);
            EXPECT_TRUE(s->UpdateRow());
            EXPECT_EQ(s->RowsUpdated(), 1);
            EXPECT_EQ(Rows("PostgreSQL", kFlags),
                      std::vector<std::string>{std::string("1|") + (flag ? "T" : "F") + "|a"});
        }
        // a new row with one
        s->Append();
        s->FieldPut("id", 2);
        s->FieldPut("flag", false);
        s->FieldPut("name", "b");
        EXPECT_TRUE(s->UpdateRow());
        EXPECT_EQ(Rows("PostgreSQL", kFlags), (std::vector<std::string>{"1|T|a", "2|F|b"}));
        s->Destroy();
        // without a key the flag is one of the values that find the row
        auto k = c->Cursor("SELECT flag, name FROM pb ORDER BY id");
        ASSERT_NE(k->Execute(), kExecFailed);
        for (int64_t row = 1; row <= 2; ++row) {
            ASSERT_TRUE(k->GoTo(row));
            k->FieldPut("name", row == 1 ? "x" : "y");
            if (row == 2) k->FieldPut("flag", true);
            EXPECT_TRUE(k->UpdateRow());
            EXPECT_EQ(k->RowsUpdated(), 1);
        }
        EXPECT_EQ(Rows("PostgreSQL", kFlags), (std::vector<std::string>{"1|T|x", "2|T|y"}));
        EXPECT_TRUE(Descriptions(raised).empty()) << Descriptions(raised)[0];
        k->Destroy();
        c->Execute("DROP TABLE pb");
        c->Destroy();
    }
}

TEST(CursorWriteRows, LogicalsFindKeylessRowsOnSqliteAndKivodbc) {
    const std::vector<std::pair<const char*, const char*>> tables = {
        {"SQLite", "CREATE TABLE lk (flag BOOLEAN, name VARCHAR(10))"},
        {"KIVODBC", "CREATE TABLE lk (flag LOGICAL, name VARCHAR(10))"},
    };
    for (const auto& [dsn, create] : tables) {
        SCOPED_TRACE(dsn);
        auto c = Connected(dsn);
        ASSERT_NE(c->Handle, 0);
        c->Execute("DROP TABLE lk");
        ASSERT_NE(c->Execute(create), kExecFailed);
        CapturedErrors raised;
        auto s = c->Cursor("SELECT flag, name FROM lk");
        ASSERT_NE(s->Execute(), kExecFailed);
        for (bool flag : {true, false}) {
            s->Append();
            s->FieldPut("flag", flag);
            s->FieldPut("name", flag ? "t" : "f");
            EXPECT_TRUE(s->UpdateRow());
        }
        ASSERT_NE(s->Execute(), kExecFailed);
        for (; !s->Eof(); s->Skip()) {
            bool flag = s->FieldGet("flag").Log();
            s->FieldPut("name", flag ? "yes" : "no");
            s->FieldPut("flag", !flag);
            EXPECT_TRUE(s->UpdateRow());
            EXPECT_EQ(s->RowsUpdated(), 1);
        }
        ASSERT_NE(s->Execute(), kExecFailed);
        int seen = 0;
        for (; !s->Eof(); s->Skip(), ++seen) {
            EXPECT_EQ(xpp::RTrim(s->FieldGet("name").Str()), s->FieldGet("flag").Log() ? "no" : "yes");
        }
        EXPECT_EQ(seen, 2);
        EXPECT_TRUE(Descriptions(raised).empty()) << Descriptions(raised)[0];
        s->Destroy();
        c->Execute("DROP TABLE lk");
        c->Destroy();
    }
}

TEST(CursorWriteRows, NotANumberFindsItsRowAsAParameter) {
    auto c = Connected("PostgreSQL");
    ASSERT_NE(c->Handle, 0);
    c->Execute("DROP TABLE nn");
    ASSERT_NE(c->Execute("CREATE TABLE nn (amount NUMERIC(10,2), nan NUMERIC(10,2), name VARCHAR(10))"), kExecFailed);
    c->Execute("INSERT INTO nn (amount, nan, name) VALUES ('NaN', 1, 'a')");
    c->Execute("INSERT INTO nn (amount, nan, name) VALUES (2, 2, 'b')");
    CapturedErrors raised;
    auto s = c->Cursor("SELECT amount, nan, name FROM nn ORDER BY nan");
    ASSERT_NE(s->Execute(), kExecFailed);
    TextLog log;
    s->FieldPut("name", "changed");
    EXPECT_TRUE(s->UpdateRow());
    EXPECT_EQ(s->RowsUpdated(), 1);
    for (const std::string& text : log.Texts()) {
        std::string bare = xpp::StrTran(xpp::Lower(text), "\"nan\"", "");
        EXPECT_EQ(bare.find("nan"), std::string::npos) << text;
    }
    EXPECT_EQ(Rows("PostgreSQL", "SELECT nan, name FROM nn ORDER BY nan"),
              (std::vector<std::string>{"1.00|changed", "2.00|b"}));
    EXPECT_TRUE(Descriptions(raised).empty()) << Descriptions(raised)[0];
    s->Destroy();
    c->Execute("DROP TABLE nn");
    c->Destroy();
}

}  // namespace
