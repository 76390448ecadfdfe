// Wide numbers through a cursor on the real data sources: keys of 15 to 18
// digits read back as their stored digits, and the row written by such a
// key is that row and no other; NaN and long unconstrained numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "write_support.h"
#include "xpp/functions.h"

using namespace rowxpp;
using namespace rowxpp_test;

namespace {

// One key column and the stored texts of its rows.
struct KeyCase {
    const char* dsn;
    const char* type;
    std::vector<const char*> keys;
};

// The name a row gets once its key is found: "u" and the key's place.
std::string NewName(size_t place) { return "u" + std::to_string(place); }

// The place of `text` among the keys, as an index; keys.size() when none.
size_t PlaceOf(const KeyCase& k, const std::string& text) {
    for (size_t i = 0; i < k.keys.size(); ++i)
        if (text == k.keys[i]) return i;
    return k.keys.size();
}

TEST(CursorWideNumbers, KeysReadTheirDigitsAndAnUpdateChangesOnlyItsRow) {
    const std::vector<KeyCase> cases = {
        {"PostgreSQL", "NUMERIC(15,0)", {"300000000000000", "300000000000001"}},
        {"PostgreSQL", "NUMERIC(18,8)", {"9999999999.99999999", "9999999999.99999998"}},
        {"PostgreSQL", "BIGINT", {"9007199254740993", "9007199254740992"}},
        {"PostgreSQL", "NUMERIC(15,2)",
         {"9999999999999.99", "9999999999999.98", "-9999999999999.99", "-9999999999999.98"}},
        {"KIVODBC", "NUMERIC(15,0)", {"300000000000000", "300000000000001"}},
        {"KIVODBC", "NUMERIC(15,2)",
         {"9999999999999.99", "9999999999999.98", "-9999999999999.99", "-9999999999999.98"}},
        {"KIVODBC", "NUMERIC(18,8)", {"3000000.12345678", "3000000.12345679"}},
        {"KIVODBC", "BIGINT", {"9007199254740994", "9007199254740996"}},
    };
    for (const KeyCase& k : cases) {
        for (const char* order : {"", " ORDER BY id"}) {
            SCOPED_TRACE(std::string(k.dsn) + " " + k.type + order);
            auto c = Connected(k.dsn);
            ASSERT_NE(c->Handle, 0);
            c->Execute("DROP TABLE nk");
            std::string key = std::string(k.dsn) == "KIVODBC" ? "" : " PRIMARY KEY";
            ASSERT_NE(c->Execute(std::string("CREATE TABLE nk (id ") + k.type + key + ", name VARCHAR(10))"),
                      kExecFailed);
            for (const char* v : k.keys)
                ASSERT_NE(c->Execute(std::string("INSERT INTO nk (id, name) VALUES (") + v + ", 'old')"), kExecFailed);

            auto s = c->Cursor(std::string("SELECT id, name FROM nk") + order);
            ASSERT_NE(s->Execute(), kExecFailed);
            ASSERT_TRUE(s->SetPrimaryKey("id"));
            std::vector<bool> seen(k.keys.size(), false);
            for (bool more = s->GoTop(); more && !s->Eof(); more = s->Skip()) {
                std::string shown = xpp::LTrim(xpp::Str(s->FieldGet("id")));
                size_t place = PlaceOf(k, shown);
                ASSERT_LT(place, k.keys.size()) << "read " << shown;
                EXPECT_FALSE(seen[place]) << shown;
                seen[place] = true;
                EXPECT_EQ(s->FieldGet("id").Type(), 'N');
                s->FieldPut("name", NewName(place));
                EXPECT_TRUE(s->UpdateRow()) << shown;
            }
            for (size_t i = 0; i < seen.size(); ++i) EXPECT_TRUE(seen[i]) << k.keys[i];
            s->Destroy();

            // each row changed by its own key, read on a second connection
            auto other = Connected(k.dsn);
            ASSERT_NE(other->Handle, 0);
            Table rows = ReadBack(other->Handle, "SELECT id, name FROM nk");
            ASSERT_EQ(rows.size(), k.keys.size());
            for (const auto& row : rows) {
                ASSERT_TRUE(row[0] && row[1]);
                // the stored text, as the driver shows it, is the key's number
                size_t place = k.keys.size();
                for (size_t i = 0; i < k.keys.size(); ++i)
                    if (xpp::Eq(xpp::Val(*row[0]), xpp::Val(k.keys[i]))) place = i;
                ASSERT_LT(place, k.keys.size()) << *row[0];
                EXPECT_EQ(xpp::RTrim(*row[1]), NewName(place)) << *row[0];
            }
            other->Destroy();
            c->Execute("DROP TABLE nk");
            c->Destroy();
        }
    }
}

TEST(CursorWideNumbers, NaNAndLongUnconstrainedNumbersReadWhole) {
    auto c = Connected("PostgreSQL");
    ASSERT_NE(c->Handle, 0);
    c->Execute("DROP TABLE nn");
    ASSERT_NE(c->Execute("CREATE TABLE nn (id INTEGER PRIMARY KEY, v NUMERIC)"), kExecFailed);
    const std::string longText = "1234567890123456789012345678901234567.89";  // 40 characters
    ASSERT_EQ(longText.size(), 40u);
    for (const std::string& row : std::vector<std::string>{"(1, 'NaN')", "(2, " + longText + ")", "(3, '-Infinity')", "(4, 'Infinity')",
                                   "(5, 12345678901234.567)", "(6, NULL)"})
        ASSERT_NE(c->Execute("INSERT INTO nn (id, v) VALUES " + row), kExecFailed);
    auto s = c->Cursor("SELECT id, v FROM nn ORDER BY id");
    ASSERT_NE(s->Execute(), kExecFailed);
    ASSERT_TRUE(s->GoTop());
    EXPECT_TRUE(std::isnan(s->FieldGet("v").Dbl()));
    ASSERT_TRUE(s->Skip());
    xpp::Value whole = s->FieldGet("v");
    EXPECT_EQ(whole.Dbl(), std::strtod(longText.c_str(), nullptr));
    EXPECT_EQ(xpp::Int(whole).Dbl(), 1234567890123456789012345678901234567.0);
    ASSERT_TRUE(s->Skip());
    EXPECT_EQ(s->FieldGet("v").Dbl(), -HUGE_VAL);
    ASSERT_TRUE(s->Skip());
    EXPECT_EQ(s->FieldGet("v").Dbl(), HUGE_VAL);
    ASSERT_TRUE(s->Skip());
    EXPECT_EQ(xpp::LTrim(xpp::Str(s->FieldGet("v"))), "12345678901234.567");
    EXPECT_TRUE(s->FieldGet("v").Num().IsExact());
    ASSERT_TRUE(s->Skip());
    EXPECT_TRUE(s->isNull("v"));
    EXPECT_EQ(s->FieldGet("v").Type(), 'N');
    s->Destroy();
    c->Execute("DROP TABLE nn");
    c->Destroy();
}

}  // namespace
