// The rows a fill caches, whichever way it takes them from the cursor
// (moved without a filter, copied with one, read through the get links of
// extra fields), with values of each kind and NULLs; and cached rows that
// outlive their data set.
#include <gtest/gtest.h>

#include "dataset_support.h"
#include "xpp/functions.h"

using namespace rowxpp;
using namespace rowxpp_test;

namespace {

const char* const kKindsDrivers[] = {"SQLite", "PostgreSQL"};
constexpr int kKindRows = 150;  // past the arrays a batch makes as usual

// fr (id, name, amount, born, qty): every seventh name NULL, every fifth
// one empty, every third date NULL, amounts with two decimals.
std::shared_ptr<SQLConnection> WithKinds(const char* dsn) {
    auto c = Connected(dsn);
    if (c->Handle == 0) return c;
    c->Execute("DROP TABLE fr");
    c->Execute("CREATE TABLE fr (id INTEGER" + KeyClause(dsn) +
               ", name VARCHAR(20), amount DECIMAL(10,2), born DATE, qty INTEGER)");
    for (int i = 1; i <= kKindRows; ++i) {
        std::string name = i % 7 == 0 ? "NULL" : i % 5 == 0 ? "''" : "'name " + std::to_string(i) + "'";
        std::string born = i % 3 == 0 ? "NULL" : "'20" + std::to_string(10 + i % 20) + "-0" + std::to_string(1 + i % 9) +
                                                     "-" + std::to_string(10 + i % 19) + "'";
        c->Execute("INSERT INTO fr (id, name, amount, born, qty) VALUES (" + std::to_string(i) + ", " + name + ", " +
                   std::to_string(i) + "." + std::to_string(10 + i % 90) + ", " + born + ", " +
                   std::to_string(-i) + ")");
    }
    return c;
}

const char* kKinds = "SELECT id, name, amount, born, qty FROM fr ORDER BY id";

// The five values of row i as the table holds them; as fetched, a NULL is
// NIL. SQLite describes a DECIMAL column as text.
void ExpectRow(const xpp::Array& values, int i, const std::string& where, bool fetched = false) {
    SCOPED_TRACE(where + ", row " + std::to_string(i));
    EXPECT_EQ(values.Get(1).Int(), i);
    xpp::Value name = values.Get(2);
    if (fetched && i % 7 == 0) {
        EXPECT_TRUE(name.IsNil());
    } else {
        ASSERT_TRUE(name.IsChar());
        EXPECT_EQ(xpp::Trim(name.Str()), i % 7 == 0 || i % 5 == 0 ? "" : "name " + std::to_string(i));
    }
    xpp::Value amount = values.Get(3);
    double expected = i + (10 + i % 90) / 100.0;
    if (amount.IsChar()) {
        EXPECT_DOUBLE_EQ(xpp::Val(amount.Str()).Dbl(), expected);
    } else {
        EXPECT_DOUBLE_EQ(amount.Dbl(), expected);
        EXPECT_EQ(amount.Num().Decimals(), 2);
    }
    xpp::Value born = values.Get(4);
    if (fetched && i % 3 == 0) {
        EXPECT_TRUE(born.IsNil());
    } else {
        ASSERT_TRUE(born.IsDate());
        EXPECT_EQ(born.Dat(), i % 3 == 0 ? xpp::Date() : xpp::Date::FromYMD(2010 + i % 20, 1 + i % 9, 10 + i % 19));
    }
    EXPECT_EQ(values.Get(5).Int(), -i);
}

// The same rows, values and values as fetched, whether the fill moves
// them out of the cursor (no filter), copies them (a filter passing every
// row) or reads them through get links (an extra field).
TEST(DataSetFillRows, EveryWayOfTakingTheRowsCachesTheSameValues) {
    for (const char* dsn : kKindsDrivers) {
        SCOPED_TRACE(dsn);
        auto c = WithKinds(dsn);
        ASSERT_NE(c->Handle, 0);
        xpp::Block all([](xpp::Args&) { return xpp::Value(true); });
        auto moved = SQLDataSet::New(kKinds, c);
        auto copied = SQLDataSet::New(kKinds, c, xpp::Value(), xpp::Value(), xpp::Value(), xpp::Value(), all);
        auto linked = SQLDataSet::New(kKinds, c, xpp::Value(), xpp::Value(), xpp::Value(), xpp::Array{"extra"});
        const std::pair<const char*, std::shared_ptr<SQLDataSet>> ways[] = {
            {"moved", moved}, {"copied", copied}, {"linked", linked}};
        for (const auto& [way, ds] : ways) {
            ASSERT_EQ(ds->FetchData(), kKindRows) << way;
            const size_t fields = static_cast<size_t>(ds->FCount());
            for (int i = 1; i <= kKindRows; ++i) {
                xpp::Array row = ds->DataSet.Get(static_cast<size_t>(i)).Arr();
                ASSERT_EQ(row.Len(), fields + 2) << way;
                ExpectRow(row, i, way);
                EXPECT_EQ(row.Get(fields + 1).Int(), 1) << way;
                xpp::Array fetched = row.Get(fields + 2).Arr();
                ExpectRow(fetched, i, std::string(way) + ", as fetched", true);
                // the values and the values as fetched are separate arrays
                EXPECT_FALSE(row.Same(fetched));
            }
            if (ds == linked) {
                EXPECT_TRUE(ds->FieldGet("extra", 1).IsNil());
                EXPECT_TRUE(ds->FieldPut("extra", "x", 2).IsChar());
                EXPECT_EQ(ds->FieldGet("extra", 2).Str(), "x");
            }
        }
        // a change in one cached row reaches neither the values as fetched
        // nor another data set
        moved->FieldPut("name", "changed", 1);
        EXPECT_EQ(xpp::Trim(moved->FieldGet("name", 1).Str()), "changed");
        EXPECT_EQ(moved->DataSet.Get(1).Arr().Get(7).Arr().Get(2).Str(), "name 1");
        EXPECT_EQ(xpp::Trim(copied->FieldGet("name", 1).Str()), "name 1");
        for (auto& ds : {moved, copied, linked}) ds->Destroy();
        c->Execute("DROP TABLE fr");
        c->Destroy();
    }
}

// Rows taken from a large fill stay whole in the program's hands after
// the data set and its connection are gone, and after a refill.
TEST(DataSetFillRows, CachedRowsOutliveTheDataSet) {
    auto c = Connected("SQLite");
    ASSERT_NE(c->Handle, 0);
    c->Execute("DROP TABLE big");
    c->Execute("CREATE TABLE big (id INTEGER, name VARCHAR(20))");
    const int n = 20000;
    c->Execute("INSERT INTO big WITH RECURSIVE k(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM k WHERE x < " +
               std::to_string(n) + ") SELECT x, 'row ' || x FROM k");
    auto ds = SQLDataSet::New("SELECT id, name FROM big ORDER BY id", c);
    ASSERT_EQ(ds->FetchData(), n);
    std::vector<xpp::Value> kept;
    for (int i = 1; i <= n; i += 997) kept.push_back(ds->DataSet.Get(static_cast<size_t>(i)));
    kept.push_back(ds->DataSet.Get(static_cast<size_t>(n)));
    ASSERT_EQ(ds->FetchData(), n);  // the first fill's rows are released but those kept
    ds->Close();
    ds->Destroy();
    ds.reset();
    c->Execute("DROP TABLE big");
    c->Destroy();
    for (const xpp::Value& v : kept) {
        xpp::Array row = v.Arr();
        ASSERT_EQ(row.Len(), 4u);
        int64_t id = row.Get(1).Int();
        EXPECT_EQ(row.Get(2).Str(), "row " + std::to_string(id));
        EXPECT_EQ(row.Get(4).Arr().Get(2).Str(), "row " + std::to_string(id));
    }
    EXPECT_EQ(kept.back().Arr().Get(1).Int(), n);
}

}  // namespace
