// Filling the cache (limits, the skip for unchanged parameters, failures,
// the lazy refresh), field access, navigation and schema changes over a
// SQLite table, and ISEQUAL.
#include <gtest/gtest.h>

#include "dataset_support.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"
#include "xpp/testing.h"

using namespace rowxpp;
using namespace rowxpp_test;

namespace {

const char* kAll = "SELECT id, name, qty FROM dsc ORDER BY id";

// Installs a test clock for the life of the guard.
struct ClockGuard {
    explicit ClockGuard(int64_t ms = 12 * 3600 * 1000) : clock(2460000, ms) {}
    xpp::testing::TestClock clock;
    xpp::testing::Clock* kept = xpp::testing::SetClock(&clock);
    ~ClockGuard() { xpp::testing::SetClock(kept); }
};

// Every cached row has FCount + 2 elements, state last but one.
void ExpectRowsOfSchema(SQLDataSet& ds) {
    size_t width = static_cast<size_t>(ds.FCount() + 2);
    EXPECT_EQ(ds.BlankRecord.Len(), width);
    EXPECT_EQ(ds.FieldList().Len(), width - 2);
    EXPECT_EQ(ds.FieldListU().Len(), width - 2);
    EXPECT_EQ(ds.FieldLen().Len(), width - 2);
    EXPECT_EQ(ds.DataLinksGet().Len(), width - 2);
    EXPECT_EQ(ds.ColumnEmptiness().Len(), width - 2);
    for (const xpp::Value& row : ds.DataSet.Items()) {
        ASSERT_EQ(row.Arr().Len(), width);
        EXPECT_TRUE(row.Arr().Get(width - 1).IsNum());
        EXPECT_TRUE(row.Arr().Get(width).IsArray() || row.Arr().Get(width).IsNil());
    }
}

TEST(DataSetFill, RowAndTimeLimits) {
    auto c = WithRows("SQLite", "dsc", 25);
    ASSERT_NE(c->Handle, 0);
    struct Case {
        const char* name;
        xpp::Value maxRows;
        int passEvery;     // filter keeps ids divisible by it; 0: no filter
        int timeoutAtRow;  // the filter moves the clock past the limit at this id; 0: no limit
        int64_t rows;
        bool truncated;
        int64_t startMs = 12 * 3600 * 1000;  // the clock's time of day at the start
        int64_t everyRowMs = 0;              // the filter moves the clock on by this at every row
        int64_t passedMs = 5000;             // time that passes at row timeoutAtRow
        int64_t wallSetMs = 0;               // the wall clock set on by this at row timeoutAtRow, alone
    };
    constexpr int64_t kHour = 3600 * 1000;
    const std::vector<Case> cases = {
        {"limit 10", 10, 0, 0, 10, true},
        {"limit 10, filter passing 5", 10, 5, 0, 5, false},
        {"limit 0", 0, 0, 0, 0, true},
        {"limit -1", -1, 0, 0, 25, false},
        {"no limit", xpp::Value(), 0, 0, 25, false},
        {"time limit passed at row 3", xpp::Value(), 1, 3, 3, true},
        {"time limit running over midnight", xpp::Value(), 1, 0, 2, true, 86399000, 1000},
        {"wall clock set back an hour, 2 s passing", xpp::Value(), 1, 3, 3, true, 12 * kHour, 0, 2000, -kHour},
        {"wall clock set a day forward", xpp::Value(), 1, 3, 25, false, 12 * kHour, 0, 0, 24 * kHour},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ClockGuard clock(k.startMs);
        xpp::Value filter;
        if (k.passEvery > 0) {
            filter = xpp::Block([&k, &clock](xpp::Args& a) -> xpp::Value {
                int64_t id = a[1].As<SQLSelect>()->FieldGet("id").Int();
                if (id == k.timeoutAtRow) {
                    if (k.wallSetMs != 0) {
                        int64_t wall = 2460000LL * 86400000 + k.startMs + k.wallSetMs;
                        clock.clock.SetWall(static_cast<int32_t>(wall / 86400000), wall % 86400000);
                    }
                    clock.clock.Advance(k.passedMs);
                }
                clock.clock.Advance(k.everyRowMs);
                return id % k.passEvery == 0;
            });
        }
        auto ds = SQLDataSet::New(kAll, c, {}, {}, k.maxRows, {}, filter);
        if (k.wallSetMs != 0) {
            EXPECT_TRUE(ISEQUAL(ds->QueryTimeout(1), 1));
        } else if (k.timeoutAtRow > 0 || k.everyRowMs > 0) {
            EXPECT_TRUE(ISEQUAL(ds->QueryTimeout(2), 2));
        }
        EXPECT_EQ(ds->FetchData(), k.rows);
        EXPECT_EQ(static_cast<int64_t>(ds->DataSet.Len()), k.rows);
        EXPECT_EQ(ds->isTruncated(), k.truncated);
        EXPECT_EQ(ds->RecNo(), k.rows > 0 ? 1 : 0);
        EXPECT_EQ(ds->Bof(), k.rows == 0);
        EXPECT_EQ(ds->Eof(), k.rows == 0);
        ds->Destroy();
    }
    c->Execute("DROP TABLE dsc");
    c->Destroy();
}

TEST(DataSetFill, SkipForEqualParametersAndForcedFills) {
    auto c = WithRows("SQLite", "dsc", 8);
    ASSERT_NE(c->Handle, 0);
    int evaluated = 0;
    xpp::Array last;
    auto ds = SQLDataSet::New("SELECT id, name, qty FROM dsc WHERE id <= ? ORDER BY id", c,
                              xpp::Block([&](xpp::Args&) -> xpp::Value {
                                  ++evaluated;
                                  last = xpp::Array{5};
                                  return last;
                              }));
    evaluated = 0;
    EXPECT_EQ(ds->FetchData(false), 5);
    EXPECT_EQ(evaluated, 1);
    EXPECT_TRUE(ISEQUAL(ds->CurParameters(), last));
    EXPECT_FALSE(ds->CurParameters().Arr().Same(last));
    EXPECT_EQ(ds->FieldPut("qty", 99, 1).Int(), 99);
    EXPECT_EQ(ds->FetchData(false), -1);
    EXPECT_EQ(evaluated, 2);
    EXPECT_EQ(ds->FieldGet("qty", 1).Int(), 99);
    EXPECT_TRUE(ds->isRowModified());
    EXPECT_EQ(ds->FetchData(), 5);
    EXPECT_EQ(ds->FieldGet("qty", 1).Int(), 10);
    EXPECT_FALSE(ds->isRowModified());
    // Refresh() only marks; the next move fills
    c->Execute("DELETE FROM dsc WHERE id = 2");
    EXPECT_EQ(ds->Refresh(), -1);
    EXPECT_EQ(ds->DataSet.Len(), 5u);
    EXPECT_TRUE(ds->isRefreshNeeded());
    ds->GoTop();
    EXPECT_EQ(ds->DataSet.Len(), 5u);  // equal parameters, rows kept
    EXPECT_FALSE(ds->isRefreshNeeded());
    ds->SQLParameters = xpp::Array{6};
    ds->Refresh();
    ds->GoTop();
    EXPECT_EQ(Ids(*ds), (std::vector<int64_t>{1, 3, 4, 5, 6}));
    // a failed execution empties the cache and stays stale
    States states;
    ds->onError(states.Block());
    c->Execute("DROP TABLE dsc");
    EXPECT_EQ(ds->FetchData(), 0);
    EXPECT_EQ(ds->DataSet.Len(), 0u);
    EXPECT_EQ(ds->RecNo(), 0);
    EXPECT_TRUE(ds->isTruncated());
    EXPECT_TRUE(ds->isRefreshNeeded());
    EXPECT_FALSE(states.seen->empty());
    EXPECT_EQ(c->ActiveStatements(), 0u);
    ds->Destroy();
    c->Destroy();
}

TEST(DataSetFill, MarkDuringAFillIsKeptAndTheCursorsLimitHoldsOnRefills) {
    auto c = WithRows("SQLite", "dsc", 6);
    ASSERT_NE(c->Handle, 0);
    SQLDataSet* raw = nullptr;
    bool mark = false;
    auto ds = SQLDataSet::New(kAll, c, xpp::Block([&](xpp::Args&) -> xpp::Value {
                                  if (mark && raw) raw->Refresh();  // a parent moving meanwhile
                                  return xpp::Value();
                              }));
    raw = ds.get();
    EXPECT_EQ(ds->FetchData(), 6);
    EXPECT_FALSE(ds->isRefreshNeeded());
    mark = true;
    EXPECT_EQ(ds->FetchData(), 6);
    EXPECT_TRUE(ds->isRefreshNeeded());
    ds->Destroy();

    // a row limit the program set on the cursor it hands over
    auto cursor = SQLSelect::New(kAll, c, 1, 0);
    EXPECT_EQ(cursor->MaxRows(2), 2);
    auto limited = SQLDataSet::New(cursor);
    for (int fill = 1; fill <= 3; ++fill) EXPECT_EQ(limited->FetchData(), 2) << fill;
    limited->Destroy();
    c->Execute("DROP TABLE dsc");
    c->Destroy();
}

TEST(DataSetFill, CancelledDataSetCachesNothingUntilTheFlagIsReset) {
    auto c = WithRows("SQLite", "dsc", 4);
    ASSERT_NE(c->Handle, 0);
    ClockGuard clock;
    auto ds = SQLDataSet::New(kAll, c);
    EXPECT_TRUE(ds->Cancel());
    // no execution under way: nothing to wait for, nothing sent
    EXPECT_TRUE(clock.clock.Sleeps().empty());
    EXPECT_EQ(ds->FetchData(), 0);
    EXPECT_TRUE(ds->isTruncated());
    ds->isCancelled = false;
    EXPECT_EQ(ds->FetchData(), 4);
    // no handle after the fill: nothing to wait for
    ds->Cancel();
    EXPECT_TRUE(clock.clock.Sleeps().empty());
    ds->Destroy();
    c->Execute("DROP TABLE dsc");
    c->Destroy();
}

TEST(DataSetAccess, FieldAndRecordAccessEdges) {
    auto c = WithRows("SQLite", "dsc", 3);
    ASSERT_NE(c->Handle, 0);
    auto ds = SQLDataSet::New(kAll, c);
    EXPECT_EQ(ds->RecCount(), 3);
    {
        CapturedErrors errors;
        // rows outside the cache answer NIL before any lookup
        EXPECT_TRUE(ds->FieldGet("nosuch", 4).IsNil());
        EXPECT_TRUE(ds->FieldPut("nosuch", 1, 0).IsNil());
        EXPECT_TRUE(ds->RecordGet(4).IsNil());
        EXPECT_EQ(errors.Errors().size(), 0u);
        EXPECT_TRUE(ds->FieldGet("nosuch").IsNil());
        EXPECT_TRUE(ds->FieldPut("nosuch", 1).IsNil());
        EXPECT_EQ(ds->GetColumnData("nosuch").Len(), 0u);
        EXPECT_TRUE(ds->isColumnEmpty("nosuch"));
        ASSERT_EQ(errors.Errors().size(), 4u);
        EXPECT_EQ(errors.Errors()[0]->description.Str(), "Invalid Field: nosuch");
        EXPECT_EQ(errors.Errors()[0]->subSystem.Str(), "RowXpp 3.1.24");
        // lookups
        EXPECT_EQ(ds->FieldPos("name  "), 2);
        EXPECT_EQ(ds->FieldPos(" name"), 0);
        EXPECT_EQ(ds->FieldPos("NA"), 0);
        for (int n : {0, -1, 4}) EXPECT_EQ(ds->FieldPos(n), 0);
        EXPECT_EQ(errors.Errors().size(), 4u);
        EXPECT_EQ(ds->FieldPos(4, true), 0);
        EXPECT_EQ(errors.Errors().size(), 5u);
        EXPECT_EQ(ds->FieldName(xpp::Value()), "");
    }
    // FastFieldGet: row state and originals reachable, nothing beyond
    EXPECT_EQ(ds->FastFieldGet(4, 1).Int(), 1);
    EXPECT_TRUE(ds->FastFieldGet(5, 1).IsArray());
    EXPECT_TRUE(ds->FastFieldGet(6, 1).IsNil());
    EXPECT_TRUE(ds->FastFieldGet(0, 1).IsNil());
    EXPECT_TRUE(ds->FastFieldGet(1, 9).IsNil());
    // states: 1 -> -1 -> -1; a row added in the cache stays 0
    ds->FieldPut("qty", 1, 1);
    EXPECT_EQ(ds->FastFieldGet(4, 1).Int(), -1);
    ds->FieldPut("qty", 2, 1);
    EXPECT_EQ(ds->FastFieldGet(4, 1).Int(), -1);
    ds->DataSet.Add(xpp::AClone(ds->BlankRecord));
    ds->FieldPut("qty", 3, 4);
    EXPECT_EQ(ds->FastFieldGet(4, 4).Int(), 0);
    ds->GoTo(4);
    EXPECT_TRUE(ds->isRowModified());
    ds->GoTo(2);
    EXPECT_FALSE(ds->isRowModified());
    // RecordGet is a copy of the values only
    xpp::Array record = ds->RecordGet(2).Arr();
    ASSERT_EQ(record.Len(), 3u);
    record.Set(3, 777);
    EXPECT_EQ(ds->FieldGet("qty", 2).Int(), 20);
    EXPECT_TRUE(ds->RecordPut(xpp::Array{1, 2}, 2).IsNil());
    EXPECT_EQ(ds->FastFieldGet(4, 2).Int(), 1);
    EXPECT_TRUE(ds->RecordPut(xpp::Array{2, "x", 21}, 2).IsArray());
    EXPECT_EQ(ds->FieldGet("qty", 2).Int(), 21);
    EXPECT_EQ(ds->FastFieldGet(4, 2).Int(), -1);
    // the emptiness cache: true, false on FieldPut without a scan, scanned
    // again after RecordPut
    ds->AddColumn("note", xpp::Block([](xpp::Args&) { return xpp::Value(""); }));
    EXPECT_TRUE(ds->isColumnEmpty("note"));
    ds->FieldPut("note", "x", 1);
    ds->DataSet.Get(1).Arr().Set(4, "");  // behind the cache's back
    EXPECT_FALSE(ds->isColumnEmpty("note"));
    ds->RecordPut(ds->RecordGet(2), 2);
    EXPECT_TRUE(ds->isColumnEmpty("note"));
    EXPECT_EQ(ds->RecNo(), 2);
    ds->Destroy();
    c->Execute("DROP TABLE dsc");
    c->Destroy();
}

TEST(DataSetNavigation, MovesWithAndWithoutFilter) {
    auto c = WithRows("SQLite", "dsc", 5);
    ASSERT_NE(c->Handle, 0);
    auto empty = SQLDataSet::New("SELECT id FROM dsc WHERE id > 99", c);
    empty->GoTop();
    EXPECT_EQ(empty->RecNo(), 0);
    EXPECT_TRUE(empty->Bof());
    EXPECT_TRUE(empty->Eof());
    EXPECT_FALSE(empty->GoTo(1));
    EXPECT_EQ(empty->RecNo(), 0);
    EXPECT_TRUE(empty->GoTo(0));
    EXPECT_EQ(empty->RecCount(), 0);
    EXPECT_FALSE(empty->isRowModified());

    auto ds = SQLDataSet::New(kAll, c);
    EXPECT_TRUE(ds->GoTo(5));
    EXPECT_FALSE(ds->Skip());
    EXPECT_EQ(ds->RecNo(), 5);
    EXPECT_TRUE(ds->Eof());
    EXPECT_EQ(ds->Skipper(3), 0);
    ds->GoTo(3);
    EXPECT_EQ(ds->Skipper(-5), -2);
    EXPECT_TRUE(ds->Bof());
    EXPECT_EQ(ds->RecNo(), 1);
    ds->GoTo(99);
    ds->GoTo(0);
    EXPECT_TRUE(ds->Bof());
    EXPECT_TRUE(ds->Eof());
    EXPECT_EQ(ds->RecNo(), 1);
    EXPECT_TRUE(ds->Skip(2));
    EXPECT_EQ(ds->RecNo(), 3);
    EXPECT_FALSE(ds->Bof());

    std::vector<int64_t> seen;
    ds->BrowseFilter = xpp::Block([&seen](xpp::Args& a) -> xpp::Value {
        seen.push_back(a[2].Int());
        EXPECT_TRUE(a[3].As<SQLDataSet>() != nullptr);
        return a[2].Int() == 2 || a[2].Int() == 4;
    });
    ds->GoTop();
    EXPECT_EQ(ds->RecNo(), 2);
    ds->GoBottom();
    EXPECT_EQ(ds->RecNo(), 4);
    ds->GoTo(2);
    EXPECT_TRUE(ds->Skip(1));
    EXPECT_EQ(ds->RecNo(), 4);
    EXPECT_FALSE(ds->Skip(1));
    EXPECT_EQ(ds->RecNo(), 4);
    EXPECT_TRUE(ds->Eof());
    ds->GoTo(2);
    EXPECT_EQ(ds->Skipper(5), 1);
    EXPECT_EQ(ds->RecNo(), 4);
    EXPECT_EQ(ds->Skipper(-5), -1);  // only row 2 is passed
    EXPECT_EQ(ds->RecNo(), 2);
    EXPECT_TRUE(ds->Bof());
    EXPECT_TRUE(ds->GoTo(3));  // GoTo ignores the filter
    EXPECT_EQ(ds->RecNo(), 3);
    seen.clear();
    EXPECT_TRUE(ds->Skip(0));
    EXPECT_TRUE(seen.empty());
    ds->BrowseFilter = xpp::Block([](xpp::Args&) { return xpp::Value(false); });
    ds->GoTop();
    EXPECT_EQ(ds->RecNo(), 0);
    EXPECT_TRUE(ds->Bof() && ds->Eof());
    ds->GoBottom();
    EXPECT_EQ(ds->RecNo(), 0);
    empty->Destroy();
    ds->Destroy();
    c->Execute("DROP TABLE dsc");
    c->Destroy();
}

TEST(DataSetSchema, FieldKindsAndSchemaChangesKeepRowsInStep) {
    auto c = WithRows("SQLite", "dsc", 3);
    ASSERT_NE(c->Handle, 0);
    // kinds of extra field: placeholder forms, a named computed column, a
    // text with a trailing blank
    auto kinds = SQLDataSet::New(kAll, c, {}, {}, {}, xpp::Array{xpp::Array{"x"}, xpp::Array{"y", 5}, 42, "Price "});
    EXPECT_TRUE(ISEQUAL(kinds->FieldList(), xpp::Array{"id", "name", "qty", "4", "5", "6", "Price"}));
    EXPECT_TRUE(ISEQUAL(kinds->FieldListU(), xpp::Array{"ID", "NAME", "QTY", "4", "5", "6", "PRICE"}));
    EXPECT_FALSE(kinds->lWholeCursor());
    EXPECT_EQ(kinds->RecCount(), 3);
    ExpectRowsOfSchema(*kinds);
    EXPECT_TRUE(kinds->FieldGet(5, 2).IsNil());
    // a computed column made while the cursor is at its end has no blank
    auto atEnd = SQLDataSet::New("SELECT id FROM dsc WHERE id > 99", c, {}, {}, {},
                                 xpp::Array{xpp::Block([](xpp::Args&) { return xpp::Value(1); })});
    EXPECT_TRUE(atEnd->BlankRecord.Get(2).IsNil());

    auto ds = SQLDataSet::New(kAll, c);
    EXPECT_TRUE(ds->lWholeCursor());
    ds->GoTo(2);
    SQLDataSet* raw = ds.get();
    ds->AddColumn("dbl ", xpp::Block([raw](xpp::Args&) -> xpp::Value { return raw->FieldGet("qty").Int() * 2; }));
    EXPECT_EQ(ds->FCount(), 4);
    EXPECT_EQ(ds->RecNo(), 2);
    EXPECT_TRUE(ISEQUAL(ds->GetColumnData("DBL"), xpp::Array{20, 40, 60}));
    EXPECT_TRUE(ISEQUAL(ds->BlankRecord.Get(4), 0));
    ExpectRowsOfSchema(*ds);
    EXPECT_FALSE(ds->lWholeCursor());
    // a refill builds rows of the new schema
    EXPECT_EQ(ds->FetchData(), 3);
    ExpectRowsOfSchema(*ds);
    EXPECT_EQ(ds->FastFieldGet(5, 1).Int(), 1);
    // a second column of the same name is found second
    ds->AddColumn("dbl", xpp::Block([](xpp::Args&) { return xpp::Value("b"); }));
    EXPECT_EQ(ds->FieldPos("dbl"), 4);
    // the last column goes
    ds->DelColumn(5);
    EXPECT_EQ(ds->FCount(), 4);
    ExpectRowsOfSchema(*ds);
    EXPECT_EQ(ds->FastFieldGet(5, 1).Int(), 1);
    {
        CapturedErrors errors;
        ds->DelColumn("nosuch");
        EXPECT_EQ(errors.Errors().size(), 1u);
        EXPECT_EQ(ds->FCount(), 4);
    }
    // three adjacent empty columns
    for (const char* name : {"e1", "e2", "e3"}) ds->AddColumn(name, xpp::Block([](xpp::Args&) { return xpp::Value(""); }));
    ds->AddColumn("last", xpp::Block([](xpp::Args&) { return xpp::Value("z"); }));
    EXPECT_EQ(ds->FCount(), 8);
    ds->DelEmptyColumns();
    EXPECT_TRUE(ISEQUAL(ds->FieldList(), xpp::Array{"id", "name", "qty", "dbl", "last"}));
    ExpectRowsOfSchema(*ds);
    EXPECT_EQ(ds->FetchData(), 3);
    ExpectRowsOfSchema(*ds);
    EXPECT_EQ(ds->FieldGet("qty", 3).Int(), 30);

    // a data set without rows: AddColumn changes the schema only, and
    // every column counts as empty
    atEnd->GoTo(0);
    atEnd->AddColumn("n", xpp::Block([](xpp::Args&) { return xpp::Value(5); }));
    EXPECT_EQ(atEnd->FCount(), 3);
    EXPECT_EQ(atEnd->RecNo(), 0);
    EXPECT_TRUE(ISEQUAL(atEnd->BlankRecord, xpp::Array{0, xpp::Value(), 0, 0, xpp::Value()}));
    atEnd->DelEmptyColumns();
    EXPECT_EQ(atEnd->FCount(), 0);
    EXPECT_TRUE(ISEQUAL(atEnd->BlankRecord, xpp::Array{0, xpp::Value()}));
    EXPECT_EQ(atEnd->FetchData(), 0);

    kinds->Destroy();
    atEnd->Destroy();
    ds->Destroy();
    c->Execute("DROP TABLE dsc");
    c->Destroy();
}

// An AddColumn column is computed again by each fill, on each new row made
// current, as AddColumn computed it.
TEST(DataSetSchema, AddColumnIsComputedAgainByARefill) {
    for (const char* dsn : {"SQLite", "PostgreSQL"}) {
        SCOPED_TRACE(dsn);
        auto c = WithPeople(dsn, "dsa", {{1, "a", 10}, {2, "b", 20}, {3, "c", 30}});
        ASSERT_NE(c->Handle, 0);
        auto ds = SQLDataSet::New("SELECT id, qty FROM dsa ORDER BY id", c);
        ASSERT_EQ(ds->FetchData(), 3);
        SQLDataSet* self = ds.get();
        ds->GoTo(2);
        ds->AddColumn("dbl", xpp::Block([self](xpp::Args&) -> xpp::Value { return self->FieldGet("qty").Int() * 2; }));
        EXPECT_EQ(Ids(*ds, "dbl"), (std::vector<int64_t>{20, 40, 60}));
        c->Execute("UPDATE dsa SET qty = qty + 1");
        EXPECT_EQ(ds->FetchData(), 3);
        EXPECT_EQ(Ids(*ds, "dbl"), (std::vector<int64_t>{22, 42, 62}));
        EXPECT_EQ(ds->RecNo(), 1);
        ds->Destroy();
        c->Execute("DROP TABLE dsa");
        c->Disconnect();
    }
}

TEST(DataSetValues, IsEqualAndDefValue) {
    struct Case {
        xpp::Value x, y;
        bool equal;
    };
    xpp::Array same{1};
    const std::vector<Case> cases = {
        {xpp::Array(), xpp::Array(), true},
        {xpp::Array{1, xpp::Array{2, "a"}}, xpp::Array{1, xpp::Array{2, "a"}}, true},
        {xpp::Array{1, xpp::Array{2, "a"}}, xpp::Array{1, xpp::Array{2, "b"}}, false},
        {"a", "a ", false},
        {"a ", "a", false},
        {1, "1", false},
        {xpp::Value(), xpp::Value(), true},
        {xpp::Array{1, 2}, xpp::Array{1}, false},
        {same, same, true},
        {xpp::Date::FromYMD(2024, 1, 2), xpp::Date::FromYMD(2024, 1, 2), true},
        {true, false, false},
        {xpp::Value(), 0, false},
    };
    for (bool exact : {false, true}) {
        xpp::Value kept = xpp::Set(xpp::SET_EXACT, exact);
        for (size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(ISEQUAL(cases[i].x, cases[i].y), cases[i].equal);
        }
        xpp::Set(xpp::SET_EXACT, kept);
    }
    EXPECT_TRUE(ISEQUAL(DEFVALUE("abc"), ""));
    EXPECT_TRUE(ISEQUAL(DEFVALUE(3.5), 0));
    EXPECT_TRUE(ISEQUAL(DEFVALUE(xpp::Date::FromYMD(2024, 1, 2)), xpp::Date()));
    EXPECT_TRUE(ISEQUAL(DEFVALUE(true), false));
    EXPECT_TRUE(DEFVALUE(xpp::Array{1}).IsNil());
}

}  // namespace
