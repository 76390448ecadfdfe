// Ordering and searching the cache: Sort by fields and by a block, the
// binary search of Seek and the scan of Locate with the browse filter.
#include <gtest/gtest.h>

#include <map>

#include "dataset_support.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"
#include "xpp/testing.h"

using namespace rowxpp;
using namespace rowxpp_test;

namespace {

// A data set over (id, name, qty) with the given rows, filled, plus a
// computed logical field "flag".
std::shared_ptr<SQLDataSet> Over(const std::vector<Person>& rows) {
    auto c = WithPeople("SQLite", "dss", rows);
    if (c->Handle == 0) return nullptr;
    auto ds = SQLDataSet::New("SELECT id, name, qty FROM dss ORDER BY id", c, {}, "id", {}, {}, {}, true);
    ds->AddColumn("flag", xpp::Block([](xpp::Args&) { return xpp::Value(false); }));
    ds->FetchData();
    return ds;
}

std::vector<int64_t> Qty(SQLDataSet& ds) { return Ids(ds, "qty"); }

TEST(DataSetSort, ByFieldsAndByBlock) {
    auto ds = Over({{1, "b", 30}, {2, "a", 10}, {3, "c", 20}, {4, "a", 5}});
    ASSERT_TRUE(ds);
    ASSERT_EQ(ds->RecCount(), 4);
    ds->GoTo(2);
    ds->Sort("qty");
    EXPECT_EQ(Qty(*ds), (std::vector<int64_t>{5, 10, 20, 30}));
    EXPECT_EQ(ds->OrderBy, 3);
    EXPECT_TRUE(ISEQUAL(ds->SortOrder, xpp::Array{3}));
    EXPECT_EQ(ds->RecNo(), 2);  // the number stays
    ds->Sort("qty", false);
    EXPECT_EQ(Qty(*ds), (std::vector<int64_t>{30, 20, 10, 5}));
    ds->Sort(xpp::Array{"name", "qty"});
    EXPECT_EQ(Ids(*ds), (std::vector<int64_t>{4, 2, 1, 3}));
    EXPECT_TRUE(ISEQUAL(ds->SortOrder, xpp::Array{2, 3}));
    ds->Sort(xpp::Array{"name", "qty"}, false);
    EXPECT_EQ(Ids(*ds), (std::vector<int64_t>{3, 1, 2, 4}));
    // a logical field cannot be sorted: nothing changes
    ds->Sort("flag");
    EXPECT_EQ(Ids(*ds), (std::vector<int64_t>{3, 1, 2, 4}));
    EXPECT_EQ(ds->OrderBy, 2);
    // a block: the order is no longer known, so Seek needs fields
    ds->Sort(xpp::Block([](xpp::Args& a) { return xpp::Value(a[1].Arr().Get(1).Int() < a[2].Arr().Get(1).Int()); }));
    EXPECT_EQ(Ids(*ds), (std::vector<int64_t>{1, 2, 3, 4}));
    EXPECT_EQ(ds->OrderBy, 0);
    EXPECT_EQ(ds->SortOrder.Len(), 0u);
    CapturedErrors errors;
    EXPECT_FALSE(ds->Seek(10));
    EXPECT_FALSE(ds->Seek(xpp::Value(), "qty"));
    ASSERT_EQ(errors.Errors().size(), 2u);
    EXPECT_EQ(errors.Errors()[0]->description.Str(), "Can not seek unsorted data set!");
    EXPECT_EQ(errors.Errors()[1]->description.Str(), "Invalid seek expression!");
    EXPECT_EQ(ds->RecNo(), 2);
}

// A block that is no strict order ("=" of texts with EXACT off) over many
// rows: every row stays, once.
TEST(DataSetSort, BlockThatIsNoStrictOrderKeepsEveryRow) {
    auto ds = SQLDataSet::New();
    xpp::Value exact = xpp::Set(xpp::SET_EXACT, false);
    for (int i = 0; i < 10000; ++i) {
        ds->DataSet.Add(xpp::Array{std::string(1, static_cast<char>('A' + i % 7)) + std::to_string(i % 13), 1,
                                   xpp::Value()});
    }
    ds->Sort(xpp::Block([](xpp::Args& a) {
        return xpp::Value(xpp::Le(a[1].Arr().Get(1), a[2].Arr().Get(1)));
    }));
    xpp::Set(xpp::SET_EXACT, exact);
    EXPECT_EQ(ds->DataSet.Len(), 10000u);
    std::map<std::string, int> seen;
    for (const xpp::Value& row : ds->DataSet.Items()) ++seen[row.Arr().Get(1).Str()];
    int total = 0;
    for (const auto& [key, n] : seen) total += n;
    EXPECT_EQ(total, 10000);
    EXPECT_EQ(seen.size(), 91u);
}

TEST(DataSetSeek, FirstOfEqualRowsSoftAndPartialTexts) {
    auto ds = Over({{1, "AA", 10}, {2, "ABC", 20}, {3, "ABD", 20}, {4, "B", 20}, {5, "C", 30}});
    ASSERT_TRUE(ds);
    ds->Sort("qty");
    ds->GoTo(5);
    EXPECT_TRUE(ds->Seek(20));
    EXPECT_EQ(ds->RecNo(), 2);

    auto tens = Over({{1, "a", 10}, {2, "b", 20}, {3, "c", 30}, {4, "d", 40}, {5, "e", 50}});
    ASSERT_TRUE(tens);
    tens->Sort("qty");
    struct Case {
        int value;
        bool soft;
        bool found;
        int64_t recNo;
    };
    const Case cases[] = {
        {35, false, false, 3}, {35, true, false, 4}, {60, true, false, 3}, {5, true, false, 1},
        {50, false, true, 5},  {10, false, true, 1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.value);
        tens->GoTo(3);
        EXPECT_EQ(tens->Seek(k.value, xpp::Value(), k.soft), k.found);
        EXPECT_EQ(tens->RecNo(), k.recNo);
    }
    // a range
    tens->GoTo(1);
    EXPECT_FALSE(tens->Seek(20, "qty", false, 3, 5));
    EXPECT_TRUE(tens->Seek(40, "qty", false, 3, 5));
    EXPECT_EQ(tens->RecNo(), 4);

    // with EXACT off "AB" equals the texts it begins
    xpp::Value exact = xpp::Set(xpp::SET_EXACT, false);
    ds->Sort("name");
    xpp::Array key{"AB  "};
    EXPECT_TRUE(ds->Seek(key, "name"));
    EXPECT_EQ(ds->FieldGet("name").Str(), "ABC");
    EXPECT_EQ(key.Get(1).Str(), "AB");  // the caller's key is trimmed in a trimmed data set
    // two fields
    ds->Sort(xpp::Array{"qty", "name"});
    EXPECT_TRUE(ds->Seek(xpp::Array{20, "B"}));
    EXPECT_EQ(ds->FieldGet("id").Int(), 4);
    xpp::Set(xpp::SET_EXACT, exact);
}

TEST(DataSetLocate, ConditionsContinueCountAndBrowseFilter) {
    auto ds = Over({{1, "a", 10}, {2, "b", 20}, {3, "c", 20}, {4, "d", 30}, {5, "e", 20}});
    ASSERT_TRUE(ds);
    EXPECT_TRUE(ds->Locate(xpp::Block([](xpp::Args& a) {
        return xpp::Value(a[1].Arr().Get(3).Int() == 30 && a[2].Int() == 4);
    })));
    EXPECT_EQ(ds->RecNo(), 4);
    EXPECT_TRUE(ds->Locate(20, "qty"));
    EXPECT_EQ(ds->RecNo(), 2);
    EXPECT_TRUE(ds->Locate(20, "qty", true));  // the current row matches
    EXPECT_EQ(ds->RecNo(), 2);
    ds->GoTo(4);
    EXPECT_TRUE(ds->Locate(20, "qty", true));
    EXPECT_EQ(ds->RecNo(), 5);
    EXPECT_TRUE(ds->Locate(xpp::Array{20, xpp::Block([](xpp::Args& a) { return xpp::Value(a[2].Int() > 2); })},
                           xpp::Array{"qty", "id"}));
    EXPECT_EQ(ds->RecNo(), 3);
    EXPECT_TRUE(ds->Locate(xpp::Array{20, "e"}, xpp::Array{"qty", "name"}));
    EXPECT_EQ(ds->RecNo(), 5);
    ds->GoTo(1);
    EXPECT_FALSE(ds->Locate(30, "qty", {}, 3));  // row 4 is beyond the count
    EXPECT_EQ(ds->RecNo(), 1);
    EXPECT_FALSE(ds->Locate(99, "qty"));
    EXPECT_EQ(ds->RecNo(), 1);

    // a match the browse filter hides goes on to the next visible one
    ds->BrowseFilter = xpp::Block([](xpp::Args& a) { return xpp::Value(a[1].Arr().Get(1).Int() != 2); });
    EXPECT_TRUE(ds->Locate(20, "qty"));
    EXPECT_EQ(ds->RecNo(), 3);
    ds->BrowseFilter = xpp::Block([](xpp::Args& a) { return xpp::Value(a[1].Arr().Get(1).Int() < 5); });
    ds->GoTo(4);
    EXPECT_FALSE(ds->Locate(20, "qty", true));
    EXPECT_TRUE(ds->lEof().Log());
}

// Without a field list every element of the condition is tested.
TEST(DataSetLocate, EveryElementCountsWithoutFields) {
    auto ds = Over({{1, "a", 10}, {2, "b", 20}, {3, "c", 30}, {4, "d", 40}});
    ASSERT_TRUE(ds);
    auto qtyFrom20 = xpp::Block([](xpp::Args& a) { return xpp::Value(a[1].Arr().Get(3).Int() >= 20); });
    auto id4 = xpp::Block([](xpp::Args& a) { return xpp::Value(a[1].Arr().Get(1).Int() == 4); });
    EXPECT_TRUE(ds->Locate(xpp::Array{qtyFrom20, id4}));
    EXPECT_EQ(ds->RecNo(), 4);
    // a value element stands for a field that is not there
    ds->GoTo(1);
    CapturedErrors errors;
    EXPECT_FALSE(ds->Locate(xpp::Array{qtyFrom20, 40}));
    EXPECT_EQ(ds->RecNo(), 1);
    ASSERT_EQ(errors.Errors().size(), 1u);
    EXPECT_EQ(errors.Errors()[0]->description.Str().rfind("Invalid Field: ", 0), 0u);
}

}  // namespace
