// The tables and sort columns a cursor reads from its statement text,
// SQLLIST2ARRAY and SQLTable; SQLValue as a program builds it.
#include <gtest/gtest.h>

#include "cursor_support.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

using namespace rowxpp;
using namespace rowxpp_test;

namespace {

// A cursor whose statement text and column labels a test sets, so that
// the tables are read without asking a driver.
class TextCursor : public SQLSelect {
public:
    void Read(const std::string& text, const std::vector<std::string>& labels) {
        SQLString(text);
        aColNames = xpp::Array();
        for (const std::string& l : labels) aColNames.Add(xpp::Upper(l));
        nColCount = static_cast<int64_t>(labels.size());
        isProcedure = false;
        GetTableName_();
    }
};

std::string Names(const xpp::Value& tables, bool written) {
    std::string out;
    if (!tables.IsArray()) return "NIL";
    for (const xpp::Value& t : tables.Arr().Items()) {
        auto table = t.As<SQLTable>();
        out += "<" + (written ? table->DelName : table->Name) + ">";
    }
    return out;
}

TEST(StatementTables, NamesSortColumnsAndProcedures) {
    auto c = Connected("SQLite");
    ASSERT_NE(c->Handle, 0);
    ASSERT_EQ(c->IdentifierQuoteChar.Str(), "\"");
    auto s = std::make_shared<TextCursor>();
    s->Init(xpp::Value(), xpp::Value(c), xpp::Value(), xpp::Value());
    struct Case {
        const char* text;
        const char* names;
        const char* written;
        const char* sortOrder;
        int64_t orderBy;
        bool procedure;
    };
    const std::vector<std::string> labels = {"a", "b", "name"};
    const std::vector<Case> cases = {
        {"SELECT * FROM customer WHERE id = 1", "<customer>", "<customer>", "{}", 0, false},
        {"select a, b from t1, t2 order by b, 1", "<t1><t2>", "<t1><t2>", "{2, 1}", 2, false},
        {"select * from t1 x, t2 y", "<t1>", "<t1>", "{}", 0, false},
        {"select * from t1 ,t2", "<t1><t2>", "<t1><t2>", "{}", 0, false},
        {"select * from t1 a", "<t1>", "<t1>", "{}", 0, false},
        {"select * from [Order Details] where a = 1", "<Order Details>", "<[Order Details]>", "{}", 0, false},
        {"select * from \"my table\", t2 order by a", "<my table><t2>", "<\"my table\"><t2>", "{1}", 1, false},
        {"select * from `odd`", "<odd>", "<`odd`>", "{}", 0, false},
        {"select * from customer;", "<customer>", "<customer>", "{}", 0, false},
        {"select * from t1, customer;", "<t1><customer>", "<t1><customer>", "{}", 0, false},
        {"select * from t order by name desc", "<t>", "<t>", "{3}", 3, false},
        {"select * from t order by t.name, b", "<t>", "<t>", "{2}", 2, false},
        {"select * from t order by nothing, 7, 2", "<t>", "<t>", "{2}", 2, false},
        // the subquery's FROM is the first one
        {"select a, (select max(b) from u) from t", "<u)>", "<u)>", "{}", 0, false},
        {"{call proc(1)}", "", "", "{}", 0, true},
        {"exec proc", "", "", "{}", 0, true},
        {"select 1", "", "", "{}", 0, true},
        // tabs and line breaks are blanks
        {"select a, b\nfrom\tt1,\r\n  t2\nwhere a = 1\norder by\nb", "<t1><t2>", "<t1><t2>", "{2}", 2, false},
        {"SELECT *\nFROM customer\nORDER BY name", "<customer>", "<customer>", "{3}", 3, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text);
        s->Read(k.text, labels);
        EXPECT_EQ(Names(s->SQLTables(), false), k.names);
        EXPECT_EQ(Names(s->SQLTables(), true), k.written);
        EXPECT_EQ(xpp::Var2Char(s->SortOrder), k.sortOrder);
        EXPECT_EQ(s->OrderBy, k.orderBy);
        EXPECT_EQ(s->isProcedure, k.procedure);
    }
    s->Destroy();
    c->Destroy();
}

TEST(StatementTables, ExecutedCursorReadsItsTablesAndSortColumns) {
    auto c = WithKinds(Kinds()[0]);
    ASSERT_NE(c->Handle, 0);
    auto s = c->Cursor("SELECT id, name AS label, code\nFROM kinds\nORDER BY code, label DESC");
    ASSERT_NE(s->Execute(), kExecFailed);
    EXPECT_EQ(Names(s->SQLTables(), true), "<kinds>");
    EXPECT_EQ(xpp::Var2Char(s->SortOrder), "{3, 2}");
    EXPECT_EQ(s->OrderBy, 3);
    EXPECT_FALSE(s->isProcedure);
    // Prepare reads them as well
    auto p = c->Cursor("select id from \"kinds\" k order by 1");
    EXPECT_TRUE(p->Prepare());
    EXPECT_EQ(Names(p->SQLTables(), true), "<\"kinds\">");
    EXPECT_EQ(p->OrderBy, 1);
    p->Destroy();
    s->Destroy();
    c->Execute("DROP TABLE kinds");
    c->Destroy();
}

TEST(StatementTables, ListSplitting) {
    struct Case {
        const char* list;
        const char* names;
        const char* written;
    };
    const char* delimiters = "\"`\"();[],";
    for (const Case& k : std::vector<Case>{
             {"a, b, c", "{a, b, c}", "{a, b, c}"},
             {"  a  ,b where", "{a, b}", "{a, b}"},
             {", a", "{a}", "{a}"},
             {"[x y], `z`", "{x y, z}", "{[x y], `z`}"},
             // a comma inside quotes still splits
             {"\"a,b\" c", "{a, b\"}", "{\"a\", b\"}"},
             // a parenthesis closes itself
             {"(z)", "{z)}", "{(z)(}"},
             {"a;", "{a}", "{a}"},
         }) {
        SCOPED_TRACE(k.list);
        xpp::Array split = SQLLIST2ARRAY(k.list, delimiters);
        ASSERT_EQ(split.Len(), 2u);
        EXPECT_EQ(split.Get(1).Arr().Len(), split.Get(2).Arr().Len());
        EXPECT_EQ(xpp::Var2Char(split.Get(1)), k.names);
        EXPECT_EQ(xpp::Var2Char(split.Get(2)), k.written);
    }
    // an empty list gives one empty name
    xpp::Array empty = SQLLIST2ARRAY("", delimiters);
    ASSERT_EQ(empty.Get(1).Arr().Len(), 1u);
    EXPECT_EQ(empty.Get(1).Arr().Get(1).Str(), "");
}

TEST(StatementTables, TableObjectAndKeyColumns) {
    xpp::Value made = xpp::Send(xpp::Value(SQLTable::New()), "init", {"  Order Details ", "[Order Details]"});
    auto t = made.As<SQLTable>();
    ASSERT_TRUE(t);
    EXPECT_EQ(t->Name, "Order Details");
    EXPECT_EQ(t->DelName, "[Order Details]");
    EXPECT_EQ(SQLTable::New(" t ")->DelName, "t");
    EXPECT_TRUE(&SQLTABLE() == &SQLTABLE());
    for (int i = 0; i < 2; ++i) xpp::Send(made, "SetKeyColumn", {3});
    t->SetKeyColumn(1);
    EXPECT_EQ(xpp::Var2Char(xpp::Send(made, "KeyColumns")), "{3, 1}");
    t->SetKeyColumn(0);
    EXPECT_EQ(t->KeyColumns.Len(), 0u);
    t->SetKeyColumn(2);
    t->SetKeyColumn(xpp::Value());
    EXPECT_EQ(t->KeyColumns.Len(), 0u);
}

TEST(ParameterValues, MembersAsPassed) {
    auto full = SQLValue::New("abc", -1, 1, 3, 0, 3);
    xpp::Value v(full);
    const char* members[] = {"Value", "SQLType", "CType", "Precision", "Scale", "Bytes", "cargo"};
    const char* shown[] = {"abc", "-1", "1", "3", "0", "3", "NIL"};
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(xpp::Var2Char(xpp::Send(v, members[i])), shown[i]) << members[i];
    auto replication = SQLValue::New("memo", -1, 1);
    EXPECT_EQ(replication->Value.Str(), "memo");
    EXPECT_TRUE(replication->Precision.IsNil());
    EXPECT_TRUE(replication->Scale.IsNil());
    EXPECT_TRUE(replication->Bytes.IsNil());
    EXPECT_TRUE(replication->cargo.IsNil());
    EXPECT_TRUE(&SQLVALUE() == &SQLVALUE());
    EXPECT_EQ(full->classObject().Name(), "SQLValue");
}

}  // namespace
