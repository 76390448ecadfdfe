// A cursor reads each column as its description and binding say, also
// after they changed: a refresh that binds new buffers, the same cursor
// reset to a statement of other columns, a column's blank changed by the
// program.
#include <gtest/gtest.h>

#include "cursor_support.h"
#include "xpp/functions.h"

using namespace rowxpp;
using namespace rowxpp_test;

namespace {

std::shared_ptr<SQLConnection> WithPlan(const char* dsn) {
    auto c = Connected(dsn);
    if (c->Handle == 0) return c;
    c->Execute("DROP TABLE fp");
    c->Execute("CREATE TABLE fp (id INTEGER, name VARCHAR(20), born DATE, amount DECIMAL(8,3))");
    c->Execute("INSERT INTO fp VALUES (1, 'one', '2001-02-03', 1.5)");
    c->Execute("INSERT INTO fp VALUES (2, NULL, NULL, NULL)");
    c->Execute("INSERT INTO fp VALUES (-3, 'three', '1999-12-31', -2.125)");
    return c;
}

// A value as a text that tells its type and contents.
std::string Shown(const xpp::Value& v) {
    switch (v.Type()) {
        case 'C': return "C" + v.Str();
        case 'N': return "N" + std::to_string(v.Dbl()) + "/" + std::to_string(v.Num().Decimals());
        case 'D': return "D" + std::to_string(v.Dat().Julian());
        default: return std::string(1, v.Type());
    }
}

std::vector<std::string> Shown(const std::vector<std::vector<xpp::Value>>& rows) {
    std::vector<std::string> out;
    for (const auto& row : rows) {
        std::string line;
        for (const xpp::Value& v : row) line += Shown(v) + "|";
        out.push_back(line);
    }
    return out;
}

// The rows read from the cursor's start, as its row buffer holds them.
std::vector<std::vector<xpp::Value>> Rows(SQLSelect& cursor) {
    std::vector<std::vector<xpp::Value>> rows;
    for (int guard = 0; !cursor.Eof() && guard < 10; ++guard) {
        rows.push_back(cursor.RowBuffer.Items());
        cursor.Skip();
    }
    return rows;
}

TEST(CursorFetchPlan, DescriptionsAndBindingsThatChangeAreFollowed) {
    for (const char* dsn : {"SQLite", "PostgreSQL"}) {
        SCOPED_TRACE(dsn);
        auto c = WithPlan(dsn);
        ASSERT_NE(c->Handle, 0);
        auto cursor = SQLSelect::New("SELECT id, name FROM fp ORDER BY id", c, 1, 0);
        ASSERT_NE(cursor->Execute(), -1);
        auto first = Rows(*cursor);
        ASSERT_EQ(first.size(), 3u);
        EXPECT_EQ(first[0][0].Int(), -3);
        EXPECT_EQ(first[0][1].Str(), "three");
        EXPECT_EQ(first[1][1].Str(), "one");

        // a refresh binds the columns again, into new buffers
        ASSERT_NE(cursor->Refresh(), -1);
        EXPECT_EQ(Shown(Rows(*cursor)), Shown(first));

        // the blank of a NULL is what the column says now
        cursor->GetSQLColumn("name")->DefValue = "none";
        ASSERT_NE(cursor->Refresh(), -1);
        auto blanks = Rows(*cursor);
        ASSERT_EQ(blanks.size(), 3u);
        EXPECT_EQ(blanks[2][1].Str(), "none");

        // the same cursor over other columns in other places
        cursor->Reset(xpp::Value("SELECT amount, born, id, name FROM fp ORDER BY id"));
        ASSERT_NE(cursor->Execute(), -1);
        auto other = Rows(*cursor);
        ASSERT_EQ(other.size(), 3u);
        // SQLite describes a DECIMAL column as text
        if (other[0][0].IsChar()) {
            EXPECT_EQ(other[0][0].Str(), "-2.125");
        } else {
            EXPECT_DOUBLE_EQ(other[0][0].Dbl(), -2.125);
            EXPECT_EQ(other[0][0].Num().Decimals(), 3);
        }
        EXPECT_EQ(other[0][1].Dat(), xpp::Date::FromYMD(1999, 12, 31));
        EXPECT_EQ(other[0][2].Int(), -3);
        EXPECT_EQ(other[0][3].Str(), "three");
        EXPECT_EQ(other[1][1].Dat(), xpp::Date::FromYMD(2001, 2, 3));
        EXPECT_TRUE(other[2][1].IsDate());
        EXPECT_TRUE(other[2][1].Dat().IsEmpty());
        cursor->Destroy();
        c->Execute("DROP TABLE fp");
        c->Destroy();
    }
}

// Date texts as drivers give them, and ones that make no date.
TEST(CursorFetchPlan, DateTexts) {
    auto c = Connected("SQLite");
    ASSERT_NE(c->Handle, 0);
    c->Execute("DROP TABLE fd");
    c->Execute("CREATE TABLE fd (n INTEGER, d DATE)");
    const std::pair<const char*, xpp::Date> cases[] = {
        {"2024-02-29", xpp::Date::FromYMD(2024, 2, 29)},
        {"2024/03/01", xpp::Date::FromYMD(2024, 3, 1)},
        {"2023-02-29", xpp::Date()},          // no such day
        {"2024-1-5", xpp::Date()},            // too few digits
        {"20240105", xpp::Date::FromYMD(2024, 1, 5)},
        {"2024-01-05 10:20:30", xpp::Date::FromYMD(2024, 1, 5)},
        {"x024-01-05", xpp::Date()},
    };
    int n = 0;
    for (const auto& [text, date] : cases)
        c->Execute("INSERT INTO fd VALUES (" + std::to_string(++n) + ", '" + text + "')");
    auto cursor = SQLSelect::New("SELECT d FROM fd ORDER BY n", c, 1, 0);
    ASSERT_NE(cursor->Execute(), -1);
    auto rows = Rows(*cursor);
    ASSERT_EQ(rows.size(), std::size(cases));
    for (size_t i = 0; i < rows.size(); ++i) {
        // whatever the text, the same as the text functions make of it
        std::string digits = xpp::Left(xpp::StrTran(xpp::StrTran(cases[i].first, "-"), "/"), 8);
        EXPECT_EQ(rows[i][0].Dat(), xpp::SToD(digits)) << cases[i].first;
        EXPECT_EQ(rows[i][0].Dat(), cases[i].second) << cases[i].first;
    }
    cursor->Destroy();
    c->Execute("DROP TABLE fd");
    c->Destroy();
}

}  // namespace
