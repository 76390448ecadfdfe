// A data set over each real data source: filling from a statement text and
// from a given cursor, trimmed columns, cache-only and computed fields, the
// key fallback, a data set without cursor, and the connection answering
// "dataset" by name.
#include <gtest/gtest.h>

#include "dataset_support.h"
#include "xpp/error.h"
#include "xpp/functions.h"
#include "xpp/object.h"

using namespace rowxpp;
using namespace rowxpp_test;

namespace {

// qty of the cursor's current row, times two.
xpp::Value TwiceQty(xpp::Args& a) {
    auto cursor = a[1].As<SQLSelect>();
    if (!cursor) return xpp::Value();
    return cursor->FieldGet("qty").Int() * 2;
}

TEST(DataSetDrivers, TextAndGivenCursorReadTheSameRowsWithEveryKindOfField) {
    const char* text = "SELECT id, name, qty FROM dsp ORDER BY id";
    for (const char* dsn : kDataSetDrivers) {
        SCOPED_TRACE(dsn);
        auto c = WithPeople(dsn, "dsp", {{1, "abc", 5}, {2, "de", 0}, {3, "fgh", 7}});
        ASSERT_NE(c->Handle, 0);
        xpp::Array fields{"extra", xpp::Block(TwiceQty), xpp::Array{"twice", xpp::Block(TwiceQty)}};
        auto byText = SQLDataSet::New(text, c, {}, {}, {}, fields, {}, true);
        auto byCursor = SQLDataSet::New(SQLSelect::New(text, c, 1, 0), {}, {}, {}, {}, fields, {}, true);
        ASSERT_TRUE(byText->Cursor());
        EXPECT_EQ(byText->Concurrency(), 4);
        EXPECT_EQ(byText->CursorType(), 3);
        EXPECT_EQ(byText->FetchData(), 3);
        EXPECT_EQ(byCursor->FetchData(), 3);
        EXPECT_EQ(byText->FCount(), 6);
        EXPECT_EQ(byText->FieldName(5), "5");
        EXPECT_EQ(byText->FieldName("TWICE"), "twice");
        for (const char* field : {"id", "name", "qty", "extra", "5", "twice"}) {
            SCOPED_TRACE(field);
            EXPECT_TRUE(ISEQUAL(byText->GetColumnData(field), byCursor->GetColumnData(field)));
        }
        // trimmed texts come back padded to the width of the column's
        // blank (the SQLite driver describes CHAR(10) as a varying text,
        // whose blank is empty)
        int64_t width = std::string(dsn) == "SQLite" ? 0 : 10;
        EXPECT_EQ(byText->GetSQLColumn("name")->DefValue.Str().size(), static_cast<size_t>(width));
        EXPECT_EQ(byText->FieldLen().Get(2).Int(), width);
        EXPECT_EQ(byText->FieldGet("name", 1).Str(), width == 0 ? "abc" : "abc       ");
        EXPECT_TRUE(ISEQUAL(byText->GetColumnData("name"), xpp::Array{"abc", "de", "fgh"}));
        EXPECT_TRUE(ISEQUAL(byText->GetColumnData("twice"), xpp::Array{10, 0, 14}));
        EXPECT_TRUE(ISEQUAL(byText->GetColumnData(5), xpp::Array{10, 0, 14}));
        // the field that names no column is NIL and keeps what is stored
        EXPECT_TRUE(ISEQUAL(byText->GetColumnData("extra"), xpp::Array{xpp::Value(), xpp::Value(), xpp::Value()}));
        EXPECT_EQ(byText->FieldPut("extra", "kept", 2).Str(), "kept");
        EXPECT_EQ(byText->FieldGet("extra", 2).Str(), "kept");
        EXPECT_TRUE(byText->FieldGet("extra", 1).IsNil());
        // blanks: the column's own, NIL for the cache-only field, the
        // type's blank for the computed ones
        EXPECT_EQ(byText->BlankRecord.Len(), 8u);
        EXPECT_TRUE(byText->BlankRecord.Get(4).IsNil());
        EXPECT_TRUE(ISEQUAL(byText->BlankRecord.Get(5), 0));
        EXPECT_EQ(byText->BlankRecord.Get(7).Int(), 0);
        EXPECT_TRUE(byText->BlankRecord.Get(8).IsNil());
        // the statement is dropped after each fill
        EXPECT_EQ(c->ActiveStatements(), 0u);
        byText->Destroy();
        byCursor->Destroy();
        c->Execute("DROP TABLE dsp");
        c->Destroy();
    }
}

TEST(DataSetDrivers, UntrimmedDataSetCopiesWholeRowsWithStateAndOriginals) {
    for (const char* dsn : kDataSetDrivers) {
        SCOPED_TRACE(dsn);
        auto c = WithPeople(dsn, "dsw", {{1, "abc", 5}, {2, "de", 0}});
        ASSERT_NE(c->Handle, 0);
        auto ds = SQLDataSet::New("SELECT id, name, qty FROM dsw ORDER BY id", c);
        EXPECT_TRUE(ds->lWholeCursor());
        EXPECT_EQ(ds->RecCount(), 2);
        for (size_t i = 1; i <= 2; ++i) {
            xpp::Array row = ds->DataSet.Get(i).Arr();
            ASSERT_EQ(row.Len(), 5u);
            EXPECT_EQ(row.Get(1).Int(), static_cast<int64_t>(i));
            EXPECT_EQ(row.Get(4).Int(), 1);
            EXPECT_EQ(row.Get(5).Arr().Get(1).Int(), static_cast<int64_t>(i));
        }
        EXPECT_EQ(ds->FieldLen().Get(2).Int(), 0);
        ds->Destroy();
        c->Execute("DROP TABLE dsw");
        c->Destroy();
    }
}

TEST(DataSetDrivers, RowidInThirdPlaceBecomesTheKeyOnSQLite) {
    auto c = Connected("SQLite");
    ASSERT_NE(c->Handle, 0);
    c->Execute("DROP TABLE nokey");
    c->Execute("CREATE TABLE nokey (a INTEGER, b VARCHAR(5))");
    c->Execute("INSERT INTO nokey VALUES (1, 'x')");
    auto ds = SQLDataSet::New("SELECT a, b, rowid FROM nokey", c);
    EXPECT_TRUE(ISEQUAL(ds->PrimaryKey(), 3));
    auto given = SQLDataSet::New("SELECT a, b, rowid FROM nokey", c, {}, "a");
    EXPECT_TRUE(ISEQUAL(given->PrimaryKey(), "a"));
    EXPECT_TRUE(ISEQUAL(given->SetPrimaryKey(2), true));
    EXPECT_TRUE(ISEQUAL(given->PrimaryKey(), 2));
    // The connection makes a data set on itself and leaves the filling to it.
    auto own = c->DataSet("SELECT a, b FROM nokey");
    EXPECT_EQ(own->Connection(), c);
    EXPECT_EQ(own->FetchData(), 1);
    EXPECT_TRUE(ISEQUAL(own->FieldGet("B"), "x"));
    own->Destroy();
    ds->Destroy();
    given->Destroy();
    c->Execute("DROP TABLE nokey");
    c->Destroy();
}

TEST(DataSetDrivers, DataSetWithoutCursorAnswersTheNeutralValues) {
    auto c = Connected("SQLite");
    ASSERT_NE(c->Handle, 0);
    for (const xpp::Value& source : {xpp::Value(""), xpp::Value(), xpp::Value(c)}) {
        auto ds = SQLDataSet::New(source, c);
        EXPECT_FALSE(ds->Cursor());
        EXPECT_EQ(ds->Handle(), -1);
        EXPECT_EQ(ds->ErrorCode(), 0);
        EXPECT_EQ(ds->ErrorMessage(), "");
        EXPECT_EQ(ds->GetSQLColumn(1), nullptr);
        EXPECT_TRUE(ds->DateTimeAsDate().IsNil());
        EXPECT_TRUE(ds->onError(xpp::Block([](xpp::Args&) { return xpp::Value(); })).IsNil());
        EXPECT_TRUE(ds->QueryTimeout(30).IsNil());
        EXPECT_EQ(ds->nQueryTimeout, 0);
        EXPECT_TRUE(ds->DisplayErrors(false).IsNil());
        EXPECT_EQ(ds->Concurrency(), 4);
        EXPECT_EQ(ds->CursorType(), 3);
        EXPECT_EQ(ds->FetchData(), 0);
        EXPECT_EQ(ds->RecCount(), 0);
        EXPECT_FALSE(ds->isRowModified());
        EXPECT_TRUE(ds->Close());
    }
    c->Destroy();
}

// A program asks its connection for a data set by name: each of the eight
// arguments reaches the data set, which comes back unfilled and fills on
// demand. Only connections answer the message.
TEST(DataSetDrivers, TheConnectionAnswersDataSetByNameWithEachArgumentInItsPlace) {
    auto c = WithPeople("SQLite", "dsm", {{1, "abc", 5}, {2, "de", 0}, {3, "fgh", 7}, {4, "ij", 9}, {5, "kl", 3}});
    ASSERT_NE(c->Handle, 0);
    // the data set's own flag holds over the connection's
    c->DateTimeAsDate = true;
    // qty >= 1 leaves out 2, the filter 3, the row limit 5
    xpp::Value filter = xpp::Block([](xpp::Args& a) {
        auto cursor = a[1].As<SQLSelect>();
        return xpp::Value(cursor && cursor->FieldGet("id").Int() != 3);
    });
    xpp::Value sent = xpp::Send(xpp::Value(c), "DataSet",
                                {"SELECT id, name, qty FROM dsm WHERE qty >= ? ORDER BY id", xpp::Array{1}, "name", 2,
                                 xpp::Array{"extra"}, filter, true, false});
    auto ds = sent.As<SQLDataSet>();
    ASSERT_NE(ds, nullptr);
    EXPECT_EQ(ds->Connection(), c);
    EXPECT_EQ(ds->SQLString, "SELECT id, name, qty FROM dsm WHERE qty >= ? ORDER BY id");
    EXPECT_TRUE(ISEQUAL(ds->SQLParameters, xpp::Array{1}));
    EXPECT_TRUE(ISEQUAL(ds->PrimaryKey(), "name"));
    EXPECT_TRUE(ISEQUAL(ds->MaxRows, 2));
    EXPECT_EQ(ds->FCount(), 4);
    EXPECT_EQ(ds->FieldName(4), "extra");
    EXPECT_TRUE(ds->CustomFilter.IsBlock());
    EXPECT_TRUE(ds->isTrimmed());
    EXPECT_TRUE(ISEQUAL(ds->DateTimeAsDate(), false));
    // not filled yet
    EXPECT_EQ(ds->DataSet.Len(), 0u);
    EXPECT_TRUE(ds->isRefreshNeeded());
    EXPECT_TRUE(ds->CurParameters().IsNil());

    EXPECT_EQ(ds->FetchData(), 2);
    EXPECT_EQ(Ids(*ds), (std::vector<int64_t>{1, 4}));
    EXPECT_TRUE(ds->isTruncated());
    EXPECT_TRUE(ISEQUAL(ds->CurParameters(), xpp::Array{1}));
    EXPECT_TRUE(ISEQUAL(ds->GetColumnData("name"), xpp::Array{"abc", "ij"}));
    EXPECT_EQ(c->ActiveStatements(), 0u);

    // without arguments: a data set without cursor
    auto bare = xpp::Send(xpp::Value(c), "dataset").As<SQLDataSet>();
    ASSERT_NE(bare, nullptr);
    EXPECT_FALSE(bare->Cursor());
    EXPECT_EQ(bare->Handle(), -1);

    // the class object does not answer it
    {
        CapturedErrors errors;
        EXPECT_TRUE(xpp::Send(xpp::Value(SQLCONNECTION().shared_from_this()), "DataSet", {"SELECT 1"}).IsNil());
        ASSERT_EQ(errors.Errors().size(), 1u);
        EXPECT_EQ(errors.Errors()[0]->genCode.Int(), xpp::EG_NOMETHOD);
    }
    ds->Destroy();
    bare->Destroy();
    c->Execute("DROP TABLE dsm");
    c->Destroy();
}

}  // namespace
