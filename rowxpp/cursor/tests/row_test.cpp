// SQLRow and SQLColumn as a program uses them: the row's state transitions
// and the column type table.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include "rowxpp/sql_select.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

using namespace rowxpp;

namespace {

// CHAR(4), INTEGER and VARCHAR(10) columns.
xpp::Value Columns() {
    return xpp::Array{xpp::Value(SQLColumn::New(1, "c", SQL_CHAR, 4, 0, 4, true, false)),
                      xpp::Value(SQLColumn::New(2, "n", SQL_INTEGER, 10, 3, 11, true, false)),
                      xpp::Value(SQLColumn::New(3, "v", SQL_VARCHAR, 10, 0, 10, true, false))};
}

std::string Show(const xpp::Array& a) { return xpp::Var2Char(a); }

TEST(Row, StateTransitions) {
    auto empty = SQLRow::New();
    EXPECT_EQ(empty->Buffer.Len() + empty->Original.Len() + empty->Blank.Len() + empty->isModified.Len(), 0u);

    xpp::Value made = xpp::Send(xpp::Value(SQLRow::New()), "init", {Columns()});
    auto row = made.As<SQLRow>();
    ASSERT_TRUE(row);
    EXPECT_EQ(Show(row->Blank), "{    , 0, }");
    EXPECT_EQ(Show(row->Buffer), "{NIL, NIL, NIL}");
    xpp::Array buffer = row->Buffer;

    xpp::Send(made, "setphantom");
    EXPECT_TRUE(row->Buffer.Same(buffer));
    EXPECT_EQ(Show(buffer), "{    , 0, }");
    EXPECT_EQ(Show(row->Original), "{NIL, NIL, NIL}");

    xpp::Send(made, "SetAppendMode");
    EXPECT_TRUE(row->Buffer.Same(buffer));
    EXPECT_TRUE(row->isAppend);
    EXPECT_TRUE(row->isRowModified);
    row->CancelUpdate();  // a new row is emptied
    EXPECT_EQ(Show(buffer), "{NIL, NIL, NIL}");
    EXPECT_FALSE(row->isAppend);

    // a fetched row, edited in two columns, one without original
    row->Original.Assign({"AB  ", 5, xpp::Value()});
    row->Buffer.Assign({"AB  ", 9, "x"});
    row->isModified.Assign({false, true, true});
    row->isRowModified = true;
    row->CancelUpdate();
    EXPECT_EQ(Show(buffer), "{AB  , 5, }");
    EXPECT_EQ(Show(row->isModified), "{.F., .F., .F.}");
    EXPECT_FALSE(row->isRowModified);

    row->Buffer.Set(2, 7);
    row->isModified.Set(2, true);
    row->SetUpdated();
    EXPECT_EQ(Show(row->Original), "{AB  , 7, NIL}");
    EXPECT_EQ(Show(row->isModified), "{.F., .F., .F.}");

    row->isDeleted = true;
    row->SetUpdated();  // a deleted row is emptied
    EXPECT_EQ(Show(buffer), "{NIL, NIL, NIL}");
    EXPECT_EQ(Show(row->Original), "{NIL, NIL, NIL}");
    EXPECT_FALSE(row->isDeleted);
    EXPECT_TRUE(row->Buffer.Same(buffer));
}

TEST(Row, ForceModified) {
    struct Case {
        xpp::Array originals, buffer;
        const char* marks;
        bool exact;
    };
    const std::vector<Case> cases = {
        {{"AB  ", 5, xpp::Value()}, {"AB", 5, ""}, "{.F., .F., .F.}", false},
        {{"AB  ", 5, xpp::Value()}, {"XY", 6, "Z"}, "{.T., .T., .T.}", false},
        // a longer text, or text over blanks, is a change whatever EXACT says
        {{"abc", 5, "    "}, {"abcdef", 5, "x"}, "{.T., .F., .T.}", false},
        {{"abc", 5, "    "}, {"abcdef", 5, "x"}, "{.T., .F., .T.}", true},
        {{"abc  ", 5, ""}, {"abc", 5.0, ""}, "{.F., .F., .F.}", true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(Show(k.buffer));
        xpp::Set(xpp::SET_EXACT, k.exact);
        auto row = SQLRow::New(Columns());
        row->ForceModified(k.originals, k.buffer);
        // the row works on copies: the caller's arrays stay its own
        EXPECT_FALSE(row->Original.Same(k.originals));
        EXPECT_FALSE(row->Buffer.Same(k.buffer));
        EXPECT_EQ(Show(row->Original), Show(k.originals));
        EXPECT_EQ(Show(row->Buffer), Show(k.buffer));
        EXPECT_EQ(Show(row->isModified), k.marks);
        EXPECT_EQ(row->isRowModified, std::string(k.marks).find(".T.") != std::string::npos);
        EXPECT_FALSE(row->isAppend || row->isDeleted);
        EXPECT_EQ(xpp::Set(xpp::SET_EXACT).Log(), k.exact);
    }
    xpp::Set(xpp::SET_EXACT, false);
    auto row = SQLRow::New(Columns());
    xpp::Array kept = row->Buffer;
    row->ForceModified(xpp::Array{"a", 1, "b"}, xpp::Value());
    EXPECT_TRUE(row->isDeleted);
    EXPECT_TRUE(row->Buffer.Same(kept));
    EXPECT_EQ(Show(row->isModified), "{.T., .T., .T.}");
    row->ForceModified(xpp::Value(), xpp::Array{"a", 1, "b"});
    EXPECT_TRUE(row->isAppend);
    EXPECT_FALSE(row->isDeleted);
    EXPECT_TRUE(row->isRowModified);
}

TEST(Column, TypeTable) {
    struct Case {
        int64_t type;
        bool dates;
        const char* valType;
        int64_t target, buffer, nullSize;
        const char* blank;
        int64_t decimals;
    };
    // size 10, decimals 3, display size 12
    const Case cases[] = {
        {SQL_CHAR, false, "C", 1, 11, 1, "          ", 3},
        {SQL_BIT, false, "L", 1, 2, 1, ".F.", 3},
        {SQL_VARCHAR, false, "C", 1, 11, 1, "", 3},
        {SQL_LONGVARCHAR, false, "C", 1, 11, 1, "", 3},
        {SQL_TYPE_DATE, false, "D", 1, 13, 1, "  /  /    ", 3},
        {SQL_TYPE_TIMESTAMP, true, "D", 1, 13, 1, "  /  /    ", 3},
        {SQL_TYPE_TIMESTAMP, false, "C", 1, 14, 1, "          ", 3},
        {SQL_INTEGER, false, "N", 4, 4, 1, "0", 0},
        {SQL_TINYINT, false, "N", 4, 4, 1, "0", 0},
        {SQL_BIGINT, false, "N", 1, 13, 1, "0", 0},
        {SQL_DECIMAL, false, "N", 1, 13, 1, "0.000", 3},
        {SQL_NUMERIC, false, "N", 1, 13, 1, "0.000", 3},
        {SQL_FLOAT, false, "N", 8, 8, 1, "0.0", 3},
        {SQL_WCHAR, false, "C", 1, 12, 2, "          ", 3},
        {SQL_WVARCHAR, false, "C", 1, 12, 2, "", 3},
        {SQL_LONGVARBINARY, false, "C", -2, 10, 0, "", 3},
        {SQL_UNKNOWN_TYPE, false, "U", 1, 12, 1, "NIL", 3},
        {SQL_GUID, false, "C", 1, 14, 1, "          ", 3},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.type);
        auto c = SQLColumn::New(1, "x", k.type, 10, 3, 12, true, k.dates);
        EXPECT_EQ(c->ValType, k.valType);
        EXPECT_EQ(c->TargetType, k.target);
        EXPECT_EQ(c->BufferSize, k.buffer);
        EXPECT_EQ(c->NullSize, k.nullSize);
        EXPECT_EQ(xpp::Var2Char(c->DefValue), k.blank);
        EXPECT_EQ(c->Decimals, k.decimals);
    }
    auto none = SQLColumn::New(1, "x", xpp::Value(), 4, 0, 4, true, false);
    EXPECT_EQ(none->ValType, "U");

    auto date = SQLColumn::New(1, "d", SQL_TYPE_DATE, 10, 0, 10, true, false);
    for (const char* text : {"20040315", "2004-03-15", "2004/03/15 10:20:00"})
        EXPECT_EQ(date->String2Usual(text).Dat(), xpp::Date::FromYMD(2004, 3, 15)) << text;
    auto bit = SQLColumn::New(1, "b", SQL_BIT, 1, 0, 1, true, false);
    EXPECT_TRUE(bit->String2Usual("1").Log());
    EXPECT_TRUE(bit->String2Usual("T").Log());
    EXPECT_FALSE(bit->String2Usual("0").Log());
    auto big = SQLColumn::New(1, "g", SQL_BIGINT, 19, 0, 20, true, false);
    EXPECT_EQ(big->String2Usual("9000000000").Int(), 9000000000LL);
    auto dbl = SQLColumn::New(1, "f", SQL_DOUBLE, 15, 0, 22, true, false);
    EXPECT_DOUBLE_EQ(dbl->String2Usual(xpp::F2Bin(2.5)).Dbl(), 2.5);
}

}  // namespace
