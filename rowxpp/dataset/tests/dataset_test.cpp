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

namespace {

// Every exported method answers by name, in any case, as its direct call:
// two data sets over the same rows take the same calls, one directly, the
// other through xpp::Send.
TEST(DataSetByName, EveryExportedMethodAnswersAsItsDirectCall) {
    auto c = WithPeople("SQLite", "dsb", {{1, "a", 10}, {2, "b", 20}, {3, "c", 30}});
    ASSERT_NE(c->Handle, 0);
    const char* text = "SELECT id, name, qty FROM dsb ORDER BY id";
    auto direct = SQLDataSet::New(text, c, {}, "id");
    auto named = SQLDataSet::New(text, c, {}, "id");
    auto childOf = [&](const std::shared_ptr<SQLDataSet>& ds) {
        return xpp::Value(SQLDataSet::New("SELECT id FROM dsb WHERE id = ?", c, xpp::Block([ds](xpp::Args&) -> xpp::Value {
                                              return xpp::Array{ds->FieldGet("id")};
                                          })));
    };
    xpp::Value directChild = childOf(direct), namedChild = childOf(named);
    auto block = xpp::Block([](xpp::Args&) { return xpp::Value(); });
    auto computed = xpp::Block([](xpp::Args&) { return xpp::Value(7); });
    auto on2 = SQLSelect::New("SELECT id, name, qty FROM dsb WHERE id = 2", c, 1, 0);
    on2->Execute();
    using Call = std::function<xpp::Value(SQLDataSet&, const xpp::Value& self)>;
    struct Case {
        const char* name;
        std::vector<xpp::Value> args;
        Call call;
    };
    const std::vector<Case> cases = {
        {"FCount", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.FCount()); }},
        {"fieldcount", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.FieldCount()); }},
        {"RECCOUNT", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.RecCount()); }},
        {"RecNo", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.RecNo()); }},
        {"Bof", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Bof()); }},
        {"Eof", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Eof()); }},
        {"GoBottom", {}, [](SQLDataSet& d, const xpp::Value& s) { return d.GoBottom(), s; }},
        {"GoTop", {}, [](SQLDataSet& d, const xpp::Value& s) { return d.GoTop(), s; }},
        {"GoTo", {2}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.GoTo(2)); }},
        {"Skip", {1}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Skip(1)); }},
        {"Skipper", {-1}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Skipper(-1)); }},
        {"FieldPos", {"QTY"}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.FieldPos("QTY")); }},
        {"FieldName", {2}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.FieldName(2)); }},
        {"isColumnEmpty", {"qty"}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.isColumnEmpty("qty")); }},
        {"FieldGet", {"name", 3}, [](SQLDataSet& d, const xpp::Value&) { return d.FieldGet("name", 3); }},
        {"FastFieldGet", {3}, [](SQLDataSet& d, const xpp::Value&) { return d.FastFieldGet(3); }},
        {"RecordGet", {1}, [](SQLDataSet& d, const xpp::Value&) { return d.RecordGet(1); }},
        {"GetColumnData", {"qty"}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.GetColumnData("qty")); }},
        {"FieldPut", {"qty", 99, 1}, [](SQLDataSet& d, const xpp::Value&) { return d.FieldPut("qty", 99, 1); }},
        {"RecordPut", {xpp::Array{2, "bb", 21}, 2},
         [](SQLDataSet& d, const xpp::Value&) { return d.RecordPut(xpp::Array{2, "bb", 21}, 2); }},
        {"isRowModified", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.isRowModified()); }},
        {"CancelUpdate", {1}, [](SQLDataSet& d, const xpp::Value& s) { return d.CancelUpdate(1), s; }},
        {"Sort", {"qty", false}, [](SQLDataSet& d, const xpp::Value& s) { return d.Sort("qty", false), s; }},
        {"Sort", {"id"}, [](SQLDataSet& d, const xpp::Value& s) { return d.Sort("id"), s; }},
        {"Seek", {2}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Seek(2)); }},
        {"Locate", {30, "qty"}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Locate(30, "qty")); }},
        {"Insert", {1}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Insert(1)); }},
        {"Append", {}, [](SQLDataSet& d, const xpp::Value& s) { return d.Append(), s; }},
        {"Delete", {1}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Delete(1)); }},
        {"AddColumn", {"seven", computed},
         [computed](SQLDataSet& d, const xpp::Value& s) { return d.AddColumn("seven", computed), s; }},
        {"DelColumn", {"seven"}, [](SQLDataSet& d, const xpp::Value& s) { return d.DelColumn("seven"), s; }},
        {"DelEmptyColumns", {}, [](SQLDataSet& d, const xpp::Value& s) { return d.DelEmptyColumns(), s; }},
        {"Refresh", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Refresh()); }},
        {"Refresh", {true}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Refresh(true)); }},
        {"FetchData", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.FetchData()); }},
        {"Execute", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Execute()); }},
        {"RefreshRow", {xpp::Value(on2)},
         [on2](SQLDataSet& d, const xpp::Value& s) { return d.RefreshRow(xpp::Value(on2)), s; }},
        {"SetPrimaryKey", {"id"}, [](SQLDataSet& d, const xpp::Value&) { return d.SetPrimaryKey("id"); }},
        {"Commit", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Commit()); }},
        {"UpdateRow", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.UpdateRow()); }},
        {"MoreResults", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.MoreResults()); }},
        {"Deleted", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Deleted()); }},
        {"UsePositionDelete", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.UsePositionDelete()); }},
        {"UsePositionUpdate", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.UsePositionUpdate()); }},
        {"DateTimeAsDate", {}, [](SQLDataSet& d, const xpp::Value&) { return d.DateTimeAsDate(); }},
        {"ErrorCode", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.ErrorCode()); }},
        {"ErrorMessage", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.ErrorMessage()); }},
        {"Concurrency", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Concurrency()); }},
        {"CursorType", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.CursorType()); }},
        {"Handle", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Handle()); }},
        {"GetSQLColumn", {"name"},
         [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.GetSQLColumn("name")->Name); }},
        {"onError", {block}, [block](SQLDataSet& d, const xpp::Value&) { return d.onError(block); }},
        {"QueryTimeout", {5}, [](SQLDataSet& d, const xpp::Value&) { return d.QueryTimeout(5); }},
        {"DisplayErrors", {false}, [](SQLDataSet& d, const xpp::Value&) { return d.DisplayErrors(false); }},
        {"SetRelation", {}, nullptr},
        {"RefreshChildren", {}, [](SQLDataSet& d, const xpp::Value& s) { return d.RefreshChildren(), s; }},
        {"ClearRelation", {}, [](SQLDataSet& d, const xpp::Value& s) { return d.ClearRelation(), s; }},
        {"Cancel", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Cancel()); }},
        {"Init", {text, xpp::Value(c), xpp::Value(), "id"},
         [text, c](SQLDataSet& d, const xpp::Value& s) { return d.Init(text, xpp::Value(c), {}, "id", {}, {}, {}, {}, {}), s; }},
        {"Close", {}, [](SQLDataSet& d, const xpp::Value&) { return xpp::Value(d.Close()); }},
        {"Destroy", {}, [](SQLDataSet& d, const xpp::Value& s) { return d.Destroy(), s; }},
    };
    const xpp::Value directSelf(direct), namedSelf(named);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        xpp::Value expected, got;
        if (!k.call) {  // SetRelation: each data set gets its own child
            direct->SetRelation(directChild);
            expected = directSelf;
            got = xpp::Send(namedSelf, k.name, {namedChild});
            EXPECT_EQ(named->ChildRelations().Len(), 1u);
        } else {
            expected = k.call(*direct, directSelf);
            xpp::Args args;
            for (const xpp::Value& v : k.args) args.Add(v);
            got = xpp::Send(namedSelf, k.name, args);
            if (std::string(k.name) == "GetSQLColumn") got = got.As<SQLColumn>()->Name;
        }
        if (expected.IsObject() && expected.As<SQLDataSet>() == direct) {
            EXPECT_EQ(got.As<SQLDataSet>(), named);
        } else {
            EXPECT_TRUE(ISEQUAL(got, expected)) << ASSTRING(got) << " / " << ASSTRING(expected);
        }
        // the two data sets stay alike
        EXPECT_TRUE(ISEQUAL(xpp::Value(named->DataSet), xpp::Value(direct->DataSet)));
        EXPECT_EQ(named->RecNo(), direct->RecNo());
    }
    on2->Destroy();
    c->Execute("DROP TABLE dsb");
    c->Disconnect();
}

}  // namespace
