// Seek and Locate on cursors over the real data sources.
#include <gtest/gtest.h>

#include "cursor_support.h"
#include "xpp/functions.h"

using namespace rowxpp;
using namespace rowxpp_test;

namespace {

// Rows (k, n): A 1, B 2, B 3, B 4, C 5.
std::shared_ptr<SQLConnection> WithLetters(const char* dsn) {
    auto c = Connected(dsn);
    if (c->Handle == 0) return c;
    c->Execute("DROP TABLE letters");
    c->Execute("CREATE TABLE letters (k CHAR(3), n INTEGER)");
    for (const char* row : {"('A', 1)", "('B', 2)", "('B', 3)", "('B', 4)", "('C', 5)"}) {
        c->Execute(std::string("INSERT INTO letters (k, n) VALUES ") + row);
    }
    return c;
}

std::string K(SQLSelect& s) { return xpp::RTrim(s.FieldGet("k").Str()); }

TEST(CursorSeek, BinarySearchOnSortedResultsOnEachDriver) {
    for (const char* dsn : {"SQLite", "PostgreSQL", "KIVODBC"}) {
        SCOPED_TRACE(dsn);
        auto c = WithLetters(dsn);
        ASSERT_NE(c->Handle, 0);
        CapturedErrors raised;
        auto s = c->Cursor("SELECT k, n FROM letters ORDER BY k, n");
        ASSERT_NE(s->Execute(), kExecFailed) << s->ErrorMessage();

        // the first of three equal rows, whichever the search meets first
        ASSERT_TRUE(s->GoTo(5));
        EXPECT_TRUE(s->Seek("B"));
        EXPECT_EQ(s->RecNo(), 2);
        EXPECT_EQ(s->FieldGet("n").Int(), 2);
        EXPECT_TRUE(s->Seek("C"));
        EXPECT_EQ(s->RecNo(), 5);
        EXPECT_TRUE(s->Seek("A"));
        EXPECT_EQ(s->RecNo(), 1);
        // a one-element key on a two-column sort compares the first column;
        // two elements compare both
        EXPECT_TRUE(s->Seek(xpp::Array{"B"}));
        EXPECT_EQ(s->RecNo(), 2);
        EXPECT_TRUE(s->Seek(xpp::Array{"B", 4}));
        EXPECT_EQ(s->RecNo(), 4);

        // below all rows: not found, back on the old row; soft: row 1
        ASSERT_TRUE(s->GoTo(3));
        EXPECT_FALSE(s->Seek("0"));
        EXPECT_EQ(s->RecNo(), 3);
        EXPECT_FALSE(s->Seek("0", xpp::Value(), true));
        EXPECT_EQ(s->RecNo(), 1);
        // between rows with soft: the first row above the key
        EXPECT_FALSE(s->Seek("BB", xpp::Value(), true));
        EXPECT_EQ(K(*s), "C");
        // above all with soft: back on the old row
        ASSERT_TRUE(s->GoTo(2));
        EXPECT_FALSE(s->Seek("D", xpp::Value(), true));
        EXPECT_EQ(s->RecNo(), 2);
        // first > last: nothing searched, nothing moved
        EXPECT_FALSE(s->Seek("A", xpp::Value(), xpp::Value(), 4, 3));
        EXPECT_EQ(s->RecNo(), 2);
        // a field list by name
        EXPECT_TRUE(s->Seek(5, "n"));
        EXPECT_EQ(s->RecNo(), 5);
        EXPECT_TRUE(raised.Errors().empty());

        // program errors
        struct Bad {
            xpp::Value key, fields;
            const char* message;
        };
        for (const Bad& b : {Bad{xpp::Value(), xpp::Value(), "Invalid seek expression!"},
                             Bad{"A", "nosuch", "Invalid Field: nosuch"}}) {
            CapturedErrors errors;
            ASSERT_TRUE(s->GoTo(3));
            EXPECT_FALSE(s->Seek(b.key, b.fields));
            ASSERT_EQ(errors.Errors().size(), 1u);
            EXPECT_EQ(errors.Errors()[0]->description.Str(), b.message);
            EXPECT_EQ(s->RecNo(), 3);
        }
        s->Destroy();

        // no ORDER BY
        auto u = c->Cursor("SELECT k, n FROM letters");
        ASSERT_NE(u->Execute(), kExecFailed);
        {
            CapturedErrors errors;
            EXPECT_FALSE(u->Seek("A"));
            ASSERT_EQ(errors.Errors().size(), 1u);
            EXPECT_EQ(errors.Errors()[0]->description.Str(), "Can not seek unsorted result set!");
            EXPECT_EQ(errors.Errors()[0]->subCode.Int(), 0);
        }
        u->Destroy();

        // an empty result: last 0 < first 1
        auto e = c->Cursor("SELECT k, n FROM letters WHERE n > 99 ORDER BY k");
        ASSERT_NE(e->Execute(), kExecFailed);
        EXPECT_FALSE(e->Seek("A"));
        EXPECT_EQ(e->RecNo(), 0);
        e->Destroy();
        c->Execute("DROP TABLE letters");
        c->Destroy();
    }
}

TEST(CursorLocate, BlocksValuesAndListsOnEachDriver) {
    for (const char* dsn : {"SQLite", "PostgreSQL", "KIVODBC"}) {
        SCOPED_TRACE(dsn);
        auto c = WithLetters(dsn);
        ASSERT_NE(c->Handle, 0);
        auto s = c->Cursor("SELECT k, n FROM letters ORDER BY n");
        ASSERT_NE(s->Execute(), kExecFailed) << s->ErrorMessage();

        // a block receives the cursor and the row number
        std::vector<int64_t> seen;
        SQLSelect* self = nullptr;
        xpp::Block block([&](xpp::Args& a) -> xpp::Value {
            self = a[1].As<SQLSelect>().get();
            seen.push_back(a[2].Int());
            return a[2].Int() == 4;
        });
        ASSERT_TRUE(s->GoTo(2));
        EXPECT_TRUE(s->Locate(block));
        EXPECT_EQ(s->RecNo(), 4);
        EXPECT_EQ(seen, (std::vector<int64_t>{1, 2, 3, 4}));
        EXPECT_EQ(self, s.get());

        struct Case {
            const char* what;
            xpp::Value condition, field, continueFlag, maximum;
            int64_t start;
            bool found;
            int64_t at;  // the row afterwards
        };
        xpp::Block isFive([](xpp::Args& a) -> xpp::Value {
            return a[1].As<SQLSelect>()->FieldGet("n").Int() == 5;
        });
        const std::vector<Case> cases = {
            {"a value", "B", "k", xpp::Value(), xpp::Value(), 5, true, 2},
            {"a value it begins with", "", "k", xpp::Value(), xpp::Value(), 5, true, 1},
            {"a value by number", 3, 2, xpp::Value(), xpp::Value(), 5, true, 3},
            {"two values, both must match", xpp::Array{"B", 4}, xpp::Array{"k", "n"}, xpp::Value(), xpp::Value(), 1,
             true, 4},
            {"a value and a block", xpp::Array{"C", xpp::Value(isFive)}, xpp::Array{"k", "n"}, xpp::Value(),
             xpp::Value(), 1, true, 5},
            {"continue on a matching row", "B", "k", true, xpp::Value(), 3, true, 3},
            {"continue from the row", "C", "k", true, xpp::Value(), 3, true, 5},
            {"maximum 1 examines only the starting row", "C", "k", true, 1, 3, false, 3},
            {"maximum 3 from the top", "C", "k", xpp::Value(), 3, 2, false, 2},
            {"no match: back on the old row", "Z", "k", xpp::Value(), xpp::Value(), 3, false, 3},
        };
        for (const Case& k : cases) {
            SCOPED_TRACE(k.what);
            ASSERT_TRUE(s->GoTo(k.start));
            EXPECT_EQ(s->Locate(k.condition, k.field, k.continueFlag, k.maximum), k.found);
            EXPECT_EQ(s->RecNo(), k.at);
        }

        // a bad field name raises and answers .F. without moving
        for (const auto& [condition, field] : {std::pair<xpp::Value, xpp::Value>{"A", "nosuch"},
                                               {xpp::Array{"A", 1}, xpp::Array{"k", "nosuch"}}}) {
            CapturedErrors errors;
            ASSERT_TRUE(s->GoTo(3));
            EXPECT_FALSE(s->Locate(condition, field));
            ASSERT_EQ(errors.Errors().size(), 1u);
            EXPECT_EQ(errors.Errors()[0]->description.Str(), "Invalid Field: nosuch");
            EXPECT_EQ(s->RecNo(), 3);
        }

        // the phantom after the last row is never tested
        seen.clear();
        xpp::Block never([&](xpp::Args& a) -> xpp::Value {
            seen.push_back(a[2].Int());
            return a[1].As<SQLSelect>()->FieldGet("n").Int() == 0;
        });
        ASSERT_TRUE(s->GoTo(1));
        EXPECT_FALSE(s->Locate(never));
        EXPECT_EQ(seen, (std::vector<int64_t>{1, 2, 3, 4, 5}));
        EXPECT_EQ(s->RecNo(), 1);
        s->Destroy();
        c->Execute("DROP TABLE letters");
        c->Destroy();
    }
}

TEST(CursorLocate, EveryConditionIsTestedAndOnlyOnRows) {
    for (const char* dsn : {"SQLite", "PostgreSQL", "KIVODBC"}) {
        SCOPED_TRACE(dsn);
        auto c = WithLetters(dsn);
        ASSERT_NE(c->Handle, 0);
        auto s = c->Cursor("SELECT k, n FROM letters ORDER BY n");
        ASSERT_NE(s->Execute(), kExecFailed) << s->ErrorMessage();
        int calls = 0;
        xpp::Block neverTrue([&](xpp::Args&) -> xpp::Value {
            ++calls;
            return false;
        });
        xpp::Block isB([&](xpp::Args& a) -> xpp::Value {
            ++calls;
            return K(*a[1].As<SQLSelect>()) == "B";
        });
        struct Case {
            const char* what;
            xpp::Value condition, field;
            bool found;
            int64_t at;  // the row afterwards, from row 4
            int calls;   // of the blocks
            const char* raised;
        };
        const std::vector<Case> cases = {
            {"a block alone in a list", xpp::Array{xpp::Value(neverTrue)}, xpp::Value(), false, 4, 5, nullptr},
            {"a block in a list lands on the first match", xpp::Array{xpp::Value(isB)}, xpp::Value(), true, 2, 2,
             nullptr},
            {"a list of one value with a single field", xpp::Array{"zzz"}, "k", false, 4, 0, nullptr},
            {"a list of one value with a single field that matches", xpp::Array{"C"}, "k", true, 5, 0, nullptr},
            {"an empty list", xpp::Array(), "k", false, 4, 0, nullptr},
            {"a value without its field", xpp::Array{xpp::Value(isB), "B"}, "k", false, 4, 0, "Invalid Field: "},
            {"a value without any field", xpp::Array{"B"}, xpp::Value(), false, 4, 0, "Invalid Field: "},
        };
        for (const Case& k : cases) {
            SCOPED_TRACE(k.what);
            ASSERT_TRUE(s->GoTo(4));
            calls = 0;
            CapturedErrors raised;
            EXPECT_EQ(s->Locate(k.condition, k.field), k.found);
            EXPECT_EQ(s->RecNo(), k.at);
            EXPECT_EQ(calls, k.calls);
            if (k.raised) {
                ASSERT_EQ(raised.Errors().size(), 1u);
                EXPECT_EQ(raised.Errors()[0]->description.Str().rfind(k.raised, 0), 0u)
                    << raised.Errors()[0]->description.Str();
            } else {
                EXPECT_TRUE(raised.Errors().empty());
            }
        }
        s->Destroy();

        // a forward-only cursor cannot go back to its top
        std::vector<int64_t> seen;
        xpp::Block any([&](xpp::Args& a) -> xpp::Value {
            seen.push_back(a[2].Int());
            return true;
        });
        auto f = c->Cursor("SELECT k, n FROM letters ORDER BY n", 1, 0);
        ASSERT_NE(f->Execute(), kExecFailed) << f->ErrorMessage();
        ASSERT_FALSE(f->Scrollable());
        // on its first row it starts there
        EXPECT_TRUE(f->Locate("A", "k"));
        EXPECT_EQ(f->RecNo(), 1);
        ASSERT_TRUE(f->Skip());
        ASSERT_TRUE(f->Skip());
        ASSERT_EQ(f->RecNo(), 3);
        {
            CapturedErrors raised;
            EXPECT_FALSE(f->Locate("", "k"));
            EXPECT_FALSE(f->Locate(any));
            EXPECT_TRUE(seen.empty());
            EXPECT_EQ(f->RecNo(), 3);
            EXPECT_EQ(f->FieldGet("n").Int(), 3);
            EXPECT_TRUE(raised.Errors().empty());
        }
        // with the continue flag it goes on from its row
        EXPECT_TRUE(f->Locate("C", "k", true));
        EXPECT_EQ(f->RecNo(), 5);
        EXPECT_EQ(f->FieldGet("n").Int(), 5);
        // past the last row nothing is tested
        EXPECT_FALSE(f->Skip());
        EXPECT_FALSE(f->Locate(any, xpp::Value(), true));
        EXPECT_TRUE(seen.empty());
        f->Destroy();
        c->Execute("DROP TABLE letters");
        c->Destroy();
    }
}

}  // namespace
