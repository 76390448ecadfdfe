// Reading rows through a cursor on the real data sources: values of every
// kind, long and truncated texts, navigation, the record count and rows
// deleted under a keyset cursor.
#include <gtest/gtest.h>

#include "cursor_support.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

using namespace rowxpp;
using namespace rowxpp_test;

namespace {

const KindsTable& KindsOf(const std::string& dsn) {
    return *std::find_if(Kinds().begin(), Kinds().end(), [&](const KindsTable& t) { return t.dsn == dsn; });
}

const char* const kDrivers[] = {"SQLite", "PostgreSQL", "KIVODBC"};

// The key clause of an integer column: the PostgreSQL driver answers a
// cursor over a table without key with a warning (01S02) on execution;
// the engine behind KIVODBC declares no keys.
std::string Key(const std::string& dsn) { return dsn == "KIVODBC" ? "" : " PRIMARY KEY"; }

// A connection with the table nav (n, g) holding n = 1..10, g = n % 3.
std::shared_ptr<SQLConnection> WithNav(const char* dsn) {
    auto c = Connected(dsn);
    if (c->Handle == 0) return c;
    c->Execute("DROP TABLE nav");
    c->Execute("CREATE TABLE nav (n INTEGER" + Key(dsn) + ", g INTEGER)");
    for (int i = 1; i <= 10; ++i) {
        c->Execute("INSERT INTO nav (n, g) VALUES (" + std::to_string(i) + ", " + std::to_string(i % 3) + ")");
    }
    return c;
}

// What reaches a connection's onError, but for the PostgreSQL driver's
// warning on executing a cursor it cannot make updatable (01S02).
struct Reports {
    int calls = 0;
    std::string report;
    std::vector<std::string> states;
    void Catch(SQLConnection& c) {
        c.onError = xpp::Block([this](xpp::Args& a) {
            auto errors = a[4].Arr();
            std::string state = errors.Len() > 0 ? errors.Get(1).As<rowxpp::SQLError>()->SQLState.Str() : std::string();
            if (state != "01S02") {
                ++calls;
                report += a[2].Str();
                states.push_back(state);
            }
            return xpp::Value();
        });
    }
};

void DropAndClose(const std::shared_ptr<SQLConnection>& c, const char* table) {
    c->Execute(std::string("DROP TABLE ") + table);
    c->Destroy();
}

// ------------------------------------------------------------------ values

struct DriverValues {
    const char* dsn;
    const char* second;  // a row with NULL, '' and a big integer, or ""
    std::vector<std::pair<const char*, std::string>> first;  // field, VAR2CHAR of its value
    const char* stampAsDate;
};

TEST(CursorFetch, ValuesOfEveryKindOnEachDriver) {
    const std::vector<DriverValues> all = {
        {"SQLite",
         "INSERT INTO kinds (name, note, code, born, stamp, big) VALUES "
         "(NULL, '', 'x', '2024-01-31 00:00:00', '2024-01-31 10:20:30', 9007199254740993)",
         {{"id", "1"}, {"label", "abc"}, {"note", "long"}, {"code", "AB"}, {"born", "03/05/2024"},
          {"stamp", "2024-03-05 10:20:30"}, {"price", "12.5"}, {"ratio", "0.25"}, {"flag", ".T."},
          {"big", "9000000000"}, {"data", "X'0102'"}},
         "03/05/2024"},
        {"PostgreSQL",
         "INSERT INTO kinds (name, note, code, born, stamp, big) VALUES "
         "(NULL, '', 'x', '2024-01-31', '2024-01-31 10:20:30', 9007199254740993)",
         {{"id", "1"}, {"label", "abc"}, {"note", "long"}, {"code", "AB  "}, {"born", "03/05/2024"},
          {"stamp", "2024-03-05 10:20:30"}, {"price", "12.50"}, {"ratio", "0.25"}, {"flag", ".T."},
          {"big", "9000000000"}, {"data", std::string("\x01\x02", 2)}},
         "03/05/2024"},
        {"KIVODBC",
         "",
         {{"id", "1"}, {"label", "abc                 "}, {"note", "long"}, {"code", "AB  "}, {"born", "03/05/2024"},
          {"stamp", "2024-03-05 10:20:30.000"}, {"price", "12.50"}, {"ratio", "0.25"}, {"flag", ".T."},
          {"big", "9000000000"}, {"data", ""}},
         "03/05/2024"},
    };
    for (const DriverValues& d : all) {
        SCOPED_TRACE(d.dsn);
        auto c = WithKinds(KindsOf(d.dsn));
        ASSERT_NE(c->Handle, 0);
        if (*d.second) {
            ASSERT_NE(c->Execute(d.second), kExecFailed);
        }
        Reports reported;
        reported.Catch(*c);
        auto s = c->Cursor(std::string(kKindsSelect) + " ORDER BY id");
        ASSERT_NE(s->Execute(), kExecFailed);
        ASSERT_TRUE(s->GoTop());
        for (const auto& [field, shown] : d.first) EXPECT_EQ(xpp::Var2Char(s->FieldGet(field)), shown) << field;
        EXPECT_TRUE(s->FieldGet("big").Num().IsInteger());
        EXPECT_FALSE(s->isNull("label"));
        if (*d.second) {
            ASSERT_TRUE(s->Skip());
            // NULL and the empty text differ
            EXPECT_TRUE(s->isNull("label"));
            EXPECT_TRUE(s->isNull("price"));
            EXPECT_FALSE(s->isNull("note"));
            EXPECT_EQ(s->Row()->Original.Get(2).Type(), 'U');
            EXPECT_EQ(s->Row()->Original.Get(3).Str(), "");
            EXPECT_EQ(s->FieldGet("note").Str(), "");
            EXPECT_EQ(xpp::Var2Char(s->FieldGet("born")), "01/31/2024");
            xpp::Value big = s->FieldGet("big");
            EXPECT_TRUE(big.Num().IsInteger());
            EXPECT_EQ(big.Int(), 9007199254740993LL);
            EXPECT_EQ(xpp::Var2Char(s->FieldGet("price")), d.dsn == std::string("SQLite") ? "" : "0.00");
            EXPECT_FALSE(s->Skip());
            EXPECT_TRUE(s->Eof());
        }
        if (*d.stampAsDate) {
            auto dates = c->Cursor(std::string(kKindsSelect) + " ORDER BY id");
            dates->DateTimeAsDate(true);
            ASSERT_NE(dates->Execute(), kExecFailed);
            EXPECT_EQ(xpp::Var2Char(dates->FieldGet("stamp")), d.stampAsDate);
            dates->Destroy();
        }
        EXPECT_EQ(reported.calls, 0) << reported.report;
        s->Destroy();
        DropAndClose(c, "kinds");
    }
}

// --------------------------------------------------------------- long texts

// 70,000 characters in which no stretch of 26 repeats at a piece border.
std::string LongText() {
    std::string t;
    t.reserve(70000);
    for (int i = 0; t.size() < 70000; ++i) t += static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return t;
}

TEST(CursorFetch, SeventyThousandCharactersReadBackWhole) {
    const char* types[] = {"TEXT", "TEXT", "MEMO"};
    std::string text = LongText();
    for (int d = 0; d < 3; ++d) {
        SCOPED_TRACE(kDrivers[d]);
        auto c = Connected(kDrivers[d]);
        ASSERT_NE(c->Handle, 0);
        c->Execute("DROP TABLE longs");
        ASSERT_NE(c->Execute("CREATE TABLE longs (id INTEGER" + Key(kDrivers[d]) + ", t " + types[d] + ")"), kExecFailed);
        ASSERT_NE(c->Execute("INSERT INTO longs (id, t) VALUES (1, ?)", xpp::Array{text}), kExecFailed);
        ASSERT_NE(c->Execute("INSERT INTO longs (id, t) VALUES (2, 'short')"), kExecFailed);
        // the default limit, and a limit of 4096 that reads the text unbound
        for (int64_t limit : {int64_t{65535}, int64_t{4096}}) {
            SCOPED_TRACE(limit);
            c->BufferSize = limit;
            Reports reported;
            reported.Catch(*c);
            auto s = c->Cursor("SELECT t, id FROM longs ORDER BY id");
            CallLog log;
            ASSERT_NE(s->Execute(), kExecFailed);
            // unbound: the first piece fills the row's text buffer, the
            // rest comes in pieces of 32766 bytes
            std::vector<std::vector<int64_t>> reads;
            for (const auto& a : log.ArgumentsOf(39)) {
                if (a[0] == s->Handle && a[1] == 1) reads.push_back(a);
            }
            if (s->BoundColumns() == 0) {
                ASSERT_GE(reads.size(), 2u);
                EXPECT_EQ(reads[0][4], limit);
                for (size_t i = 1; i < reads.size(); ++i) EXPECT_EQ(reads[i][4], 32766);
            }
            std::string read = s->FieldGet("t").Str();
            EXPECT_EQ(read.size(), text.size());
            EXPECT_TRUE(read == text);
            EXPECT_EQ(s->FieldGet("id").Int(), 1);
            ASSERT_TRUE(s->Skip());
            EXPECT_EQ(s->FieldGet("t").Str(), "short");
            EXPECT_EQ(reported.calls, 0) << reported.report;
            s->Destroy();
        }
        DropAndClose(c, "longs");
    }
}

TEST(CursorFetch, BoundTextsCutShortReadWholeAndOnce) {
    struct Case {
        const char* dsn;
        std::string longer;
    };
    for (const Case& k : {Case{"SQLite", "abcdefghij"}, Case{"PostgreSQL", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"}}) {
        SCOPED_TRACE(k.dsn);
        auto c = Connected(k.dsn);
        ASSERT_NE(c->Handle, 0);
        c->Execute("DROP TABLE cut");
        ASSERT_NE(c->Execute("CREATE TABLE cut (a VARCHAR(5), b INTEGER" + Key(k.dsn) + ", c VARCHAR(5))"), kExecFailed);
        ASSERT_NE(c->Execute("INSERT INTO cut (a, b, c) VALUES (?, 1, ?)", xpp::Array{k.longer, k.longer}),
                  kExecFailed);
        ASSERT_NE(c->Execute("INSERT INTO cut (a, b, c) VALUES ('x', 2, 'y')"), kExecFailed);
        Reports reported;
        reported.Catch(*c);
        auto s = c->Cursor("SELECT a, b, c FROM cut ORDER BY b");
        CallLog log;
        ASSERT_NE(s->Execute(), kExecFailed);
        ASSERT_EQ(s->BoundColumns(), 3);
        auto whole = [&](const char* how) {
            SCOPED_TRACE(how);
            EXPECT_EQ(s->FieldGet("a").Str(), k.longer);
            EXPECT_EQ(s->FieldGet("c").Str(), k.longer);
            EXPECT_EQ(s->Row()->Original.Get(1).Str(), k.longer);
            EXPECT_EQ(s->FieldGet("b").Int(), 1);
            EXPECT_FALSE(s->Deleted());
        };
        whole("first fetch");
        // only the two cut columns are read again
        auto reads = log.ArgumentsOf(39);
        ASSERT_EQ(reads.size(), 2u);
        EXPECT_EQ(reads[0][1], 1);
        EXPECT_EQ(reads[1][1], 3);
        ASSERT_TRUE(s->Skip());
        EXPECT_EQ(s->FieldGet("a").Str(), "x");
        ASSERT_TRUE(s->Skip(-1));
        whole("Skip(-1)");
        ASSERT_TRUE(s->GoBottom());
        EXPECT_EQ(s->FieldGet("c").Str(), "y");
        EXPECT_FALSE(s->Deleted());
        ASSERT_TRUE(s->GoTop());
        whole("GoTop");
        EXPECT_EQ(reported.calls, 0) << reported.report;
        s->Destroy();
        DropAndClose(c, "cut");
    }
}

TEST(CursorFetch, BoundColumnsCostOneFetchPerRow) {
    auto c = WithNav("SQLite");
    ASSERT_NE(c->Handle, 0);
    c->Execute("ALTER TABLE nav ADD COLUMN t TEXT");
    c->Execute("UPDATE nav SET t = 'row' || n");
    auto s = c->Cursor("SELECT n, g, t FROM nav ORDER BY n");
    ASSERT_NE(s->Execute(), kExecFailed);
    ASSERT_EQ(s->BoundColumns(), 2);  // the text is too wide to bind
    for (int i = 2; i <= 4; ++i) {
        CallLog log;
        ASSERT_TRUE(s->Skip());
        EXPECT_EQ(log.Count(37), 1);
        EXPECT_EQ(log.Count(38), 0);
        auto reads = log.ArgumentsOf(39);
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(reads[0][1], 3);
        EXPECT_EQ(s->FieldGet("t").Str(), "row" + std::to_string(i));
    }
    // all bound: no call but the fetch
    auto b = c->Cursor("SELECT n, g FROM nav ORDER BY n");
    ASSERT_NE(b->Execute(), kExecFailed);
    CallLog log;
    ASSERT_TRUE(b->Skip());
    EXPECT_EQ(log.Total(), 1u);
    EXPECT_EQ(b->FieldGet("n").Int(), 2);
    EXPECT_TRUE(b->FetchRow().Same(b->RowBuffer));
    b->Destroy();
    s->Destroy();
    DropAndClose(c, "nav");
}

TEST(CursorFetch, RefreshUnderALowerLimitReadsANewlyUnboundColumnWhole) {
    auto c = Connected("SQLite");
    ASSERT_NE(c->Handle, 0);
    c->Execute("DROP TABLE wide");
    ASSERT_NE(c->Execute("CREATE TABLE wide (id INTEGER, v VARCHAR(60), w VARCHAR(3))"), kExecFailed);
    std::string value = xpp::Replicate("0123456789", 5);
    ASSERT_NE(c->Execute("INSERT INTO wide (id, v, w) VALUES (1, ?, 'end')", xpp::Array{value}), kExecFailed);
    auto s = c->Cursor("SELECT id, v, w FROM wide");
    ASSERT_NE(s->Execute(), kExecFailed);
    ASSERT_EQ(s->BoundColumns(), 3);
    EXPECT_EQ(s->RowBufferSize(), 16);
    // v (61 bytes) is no longer bound; the row's text buffer stays 16
    c->BufferSize = 4;
    ASSERT_NE(s->Refresh(), kExecFailed);
    EXPECT_EQ(s->BoundColumns(), 1);
    EXPECT_EQ(s->FieldGet("v").Str(), value);
    EXPECT_EQ(s->FieldGet("w").Str(), "end");
    s->Destroy();
    DropAndClose(c, "wide");
}

// --------------------------------------------------------------- navigation

struct Step {
    const char* what;
    std::function<int64_t(SQLSelect&)> move;
    int64_t result;  // logical results as 1/0
    int64_t recNo;
    bool bof, eof;
    int64_t n;  // the row's value of n (0 on a phantom)
};

int64_t B(bool b) { return b ? 1 : 0; }

// Opens the ordered cursor over nav with the given settings and walks the
// steps from its first row.
std::shared_ptr<SQLSelect> Walk(SQLConnection& c, int64_t concurrency, int64_t type, bool scrollable,
                                const std::vector<Step>& steps) {
    auto s = c.Cursor("SELECT n, g FROM nav ORDER BY n", concurrency, type);
    EXPECT_NE(s->Execute(), kExecFailed);
    EXPECT_EQ(s->Scrollable(), scrollable);
    for (const Step& k : steps) {
        SCOPED_TRACE(k.what);
        EXPECT_EQ(k.move(*s), k.result);
        EXPECT_EQ(s->RecNo(), k.recNo);
        EXPECT_EQ(s->Bof(), k.bof);
        EXPECT_EQ(s->Eof(), k.eof);
        EXPECT_EQ(s->FieldGet("n").Int(), k.n);
    }
    return s;
}

TEST(CursorNavigation, ScrollableCursorOnEachDriver) {
    const std::vector<Step> steps = {
        {"Execute", [](SQLSelect&) { return 1; }, 1, 1, false, false, 1},
        {"Skip()", [](SQLSelect& s) { return B(s.Skip()); }, 1, 2, false, false, 2},
        {"Skip(0)", [](SQLSelect& s) { return B(s.Skip(0)); }, 1, 2, false, false, 2},
        {"Skip(3)", [](SQLSelect& s) { return B(s.Skip(3)); }, 1, 5, false, false, 5},
        {"Skip(-1)", [](SQLSelect& s) { return B(s.Skip(-1)); }, 1, 4, false, false, 4},
        {"GoTo(8)", [](SQLSelect& s) { return B(s.GoTo(8)); }, 1, 8, false, false, 8},
        {"Skipper(5) on 8", [](SQLSelect& s) { return s.Skipper(5); }, 2, 10, false, true, 10},
        {"GoTo(0)", [](SQLSelect& s) { return B(s.GoTo(0)); }, 1, 1, false, false, 1},
        {"Skip(-1) on 1", [](SQLSelect& s) { return B(s.Skip(-1)); }, 0, 1, true, false, 1},
        {"Skip() off the start", [](SQLSelect& s) { return B(s.Skip()); }, 1, 2, false, false, 2},
        {"Skipper(-3) on 2", [](SQLSelect& s) { return s.Skipper(-3); }, -1, 1, true, false, 1},
        {"GoBottom", [](SQLSelect& s) { return B(s.GoBottom()); }, 1, 10, false, false, 10},
        {"Skip() past the end", [](SQLSelect& s) { return B(s.Skip()); }, 0, 10, false, true, 10},
        {"Skip() at the end", [](SQLSelect& s) { return B(s.Skip()); }, 0, 10, false, true, 10},
        {"GoTo(-5)", [](SQLSelect& s) { return B(s.GoTo(-5)); }, 1, 1, false, false, 1},
        {"GoTo(12)", [](SQLSelect& s) { return B(s.GoTo(12)); }, 1, 10, false, false, 10},
        {"Skipper(-1)", [](SQLSelect& s) { return s.Skipper(-1); }, -1, 9, false, false, 9},
        {"Skip(20)", [](SQLSelect& s) { return B(s.Skip(20)); }, 0, 10, false, true, 10},
        {"Skipper(0)", [](SQLSelect& s) { return s.Skipper(0); }, 0, 10, false, false, 10},
        {"Skipper(-4)", [](SQLSelect& s) { return s.Skipper(-4); }, -4, 6, false, false, 6},
        {"Skipper(1)", [](SQLSelect& s) { return s.Skipper(1); }, 1, 7, false, false, 7},
        {"GoTop", [](SQLSelect& s) { return B(s.GoTop()); }, 1, 1, false, false, 1},
    };
    for (const char* dsn : kDrivers) {
        SCOPED_TRACE(dsn);
        auto c = WithNav(dsn);
        ASSERT_NE(c->Handle, 0);
        Reports reported;
        reported.Catch(*c);
        auto s = Walk(*c, SQL_CONCUR_VALUES, SQL_CURSOR_DYNAMIC, true, steps);
        EXPECT_EQ(s->RecCount(), 10);
        // as a program sends them
        xpp::Value v(s);
        EXPECT_TRUE(xpp::Send(v, "GoBottom").Log());
        EXPECT_EQ(xpp::Send(v, "Skipper", {-2}).Int(), -2);
        EXPECT_TRUE(xpp::Send(v, "GoTo", {4}).Log());
        EXPECT_TRUE(xpp::Send(v, "Skip").Log());
        EXPECT_EQ(xpp::Send(v, "RecNo").Int(), 5);
        EXPECT_EQ(xpp::Send(v, "RecCount").Int(), 10);
        EXPECT_TRUE(xpp::Send(v, "GoTop").Log());
        EXPECT_EQ(xpp::Send(v, "FetchRow").Arr().Get(1).Int(), 1);
        EXPECT_EQ(reported.calls, 0) << reported.report;
        s->Destroy();

        // an empty result: nothing to stand on
        auto e = c->Cursor("SELECT n, g FROM nav WHERE n > 10");
        ASSERT_NE(e->Execute(), kExecFailed);
        EXPECT_EQ(e->RecCountMember(), 0);
        EXPECT_TRUE(e->Bof());
        EXPECT_TRUE(e->Eof());
        EXPECT_EQ(e->RecNo(), 0);
        EXPECT_FALSE(e->Skip());
        EXPECT_EQ(e->FieldGet("n").Int(), 0);
        e->Destroy();
        EXPECT_EQ(reported.calls, 0) << reported.report;
        DropAndClose(c, "nav");
    }
}

TEST(CursorNavigation, ForwardOnlyCursorOnEachDriver) {
    const std::vector<Step> steps = {
        {"Execute", [](SQLSelect&) { return 1; }, 1, 1, false, false, 1},
        {"Skip()", [](SQLSelect& s) { return B(s.Skip()); }, 1, 2, false, false, 2},
        {"Skipper(-1)", [](SQLSelect& s) { return s.Skipper(-1); }, 0, 2, false, false, 2},
        {"Skipper(0)", [](SQLSelect& s) { return s.Skipper(0); }, 0, 2, false, false, 2},
        {"Skipper(3)", [](SQLSelect& s) { return s.Skipper(3); }, 3, 5, false, false, 5},
        {"Skipper(4)", [](SQLSelect& s) { return s.Skipper(4); }, 4, 9, false, false, 9},
        // one row left: the step past the end stands on nothing
        {"Skipper(3) with one left", [](SQLSelect& s) { return s.Skipper(3); }, 1, 11, false, true, 0},
        {"Skip() at the end", [](SQLSelect& s) { return B(s.Skip()); }, 0, 11, false, true, 0},
    };
    for (const char* dsn : kDrivers) {
        SCOPED_TRACE(dsn);
        auto c = WithNav(dsn);
        ASSERT_NE(c->Handle, 0);
        Reports reported;
        reported.Catch(*c);
        auto s = Walk(*c, SQL_CONCUR_READ_ONLY, SQL_CURSOR_FORWARD_ONLY, false, steps);
        EXPECT_FALSE(s->Deleted());
        EXPECT_EQ(reported.calls, 0) << reported.report;
        s->Destroy();

        // moving back is refused: shown on SQLite only
        auto f = c->Cursor("SELECT n, g FROM nav ORDER BY n", 1, 0);
        ASSERT_NE(f->Execute(), kExecFailed);
        ASSERT_TRUE(f->Skip());
        EXPECT_FALSE(f->Skip(-1));
        EXPECT_EQ(f->FieldGet("n").Int(), 0);
        if (std::string(dsn) == "SQLite") {
            ASSERT_EQ(reported.calls, 1);
            EXPECT_EQ(reported.states.at(0), "01000");
        } else {
            EXPECT_EQ(reported.calls, 0) << reported.report;
        }
        f->Destroy();
        DropAndClose(c, "nav");
    }
}

// ------------------------------------------------------------- record count

// The texts each statement of `log` was prepared or executed with.
struct Texts {
    std::vector<std::string> seen;
    CallLog::Answer Recorder() {
        return [this](int index, const std::vector<int64_t>& a) -> std::optional<int64_t> {
            if (index == 20 || index == 26) seen.emplace_back(reinterpret_cast<const char*>(a[1]), a[2]);
            return std::nullopt;
        };
    }
};

TEST(CursorRecCount, TrueCountOnEachDriver) {
    struct Case {
        const char* text;
        xpp::Value params;
        int64_t count;
    };
    const std::vector<Case> cases = {
        {"SELECT n, g FROM nav ORDER BY n", xpp::Value(), 10},
        {"SELECT n FROM nav WHERE n > ? AND n < ? ORDER BY n", xpp::Array{2, 9}, 6},
        {"SELECT g, COUNT(*) FROM nav GROUP BY g HAVING COUNT(*) > 3", xpp::Value(), 1},
        {"SELECT DISTINCT g FROM nav", xpp::Value(), 3},
        {"SELECT n, (SELECT MAX(n) FROM nav) FROM nav WHERE n <= 4", xpp::Value(), 4},
        {"SELECT n\nFROM nav\nWHERE n <= 7", xpp::Value(), 7},
    };
    for (const char* dsn : kDrivers) {
        SCOPED_TRACE(dsn);
        bool counts = std::string(dsn) == "KIVODBC";
        auto c = WithNav(dsn);
        ASSERT_NE(c->Handle, 0);
        for (const Case& k : cases) {
            SCOPED_TRACE(k.text);
            auto s = c->Cursor(k.text);
            // counted as the statement runs
            Texts texts;
            CallLog log(texts.Recorder());
            ASSERT_NE(s->Execute(xpp::Args{k.params}), kExecFailed);
            EXPECT_EQ(s->RecCountMember(), k.count);
            EXPECT_EQ(s->RecCount(), k.count);
            bool diagnostic = false;
            for (const auto& a : log.ArgumentsOf(43)) diagnostic |= a[2] == 0 && a[3] == SQL_DIAG_CURSOR_ROW_COUNT;
            EXPECT_TRUE(diagnostic);
            // the statement's own text, then any count
            ASSERT_FALSE(texts.seen.empty());
            EXPECT_EQ(texts.seen[0], k.text);
            texts.seen.erase(texts.seen.begin());
            if (counts) {
                ASSERT_FALSE(texts.seen.empty());
                EXPECT_EQ(texts.seen[0].rfind("select count (*) ", 0), 0u) << texts.seen[0];
                EXPECT_EQ(static_cast<size_t>(log.Count(21)),
                          k.params.IsArray() ? 2 * (texts.seen.size() + 1) : 0u);
            } else {
                EXPECT_TRUE(texts.seen.empty());
            }
            CallLog again;
            EXPECT_EQ(s->RecCount(), k.count);
            EXPECT_EQ(again.Total(), 0u);
            s->Destroy();
        }
        // the Part's own count text, with its parameters
        if (counts) {
            auto s = c->Cursor("SELECT n, g FROM nav WHERE n > ? ORDER BY n");
            Texts texts;
            CallLog log(texts.Recorder());
            ASSERT_NE(s->Execute({3}), kExecFailed);
            EXPECT_EQ(s->RecCount(), 7);
            ASSERT_EQ(texts.seen.size(), 2u);
            EXPECT_EQ(texts.seen[1], "select count (*) FROM nav WHERE n > ? ");
            ASSERT_EQ(log.Binds().size(), 2u);
            s->Destroy();
        }
        EXPECT_EQ(c->ActiveStatements(), 0u);
        DropAndClose(c, "nav");
    }
}

TEST(CursorRecCount, CountThatCannotRunIsAskedAgain) {
    auto c = WithNav("KIVODBC");
    ASSERT_NE(c->Handle, 0);
    auto s = c->Cursor("SELECT n FROM nav");
    {
        // the count statements are refused, the cursor's own runs
        int refused = 0;
        CallLog refuse([&refused](int index, const std::vector<int64_t>& a) -> std::optional<int64_t> {
            if (index == 26 && std::string(reinterpret_cast<const char*>(a[1]), a[2]).rfind("select count", 0) == 0) {
                ++refused;
                return SQL_ERROR;
            }
            return std::nullopt;
        });
        ASSERT_NE(s->Execute(), kExecFailed);
        EXPECT_EQ(refused, 2);  // the plain count, then the derived one
        EXPECT_EQ(s->RecCountMember(), -1);
        EXPECT_EQ(s->RecCount(), -1);
        EXPECT_EQ(refused, 4);
        EXPECT_EQ(s->RecCountMember(), -1);
    }
    EXPECT_EQ(s->RecCount(), 10);
    EXPECT_EQ(c->ActiveStatements(), 1u);  // the count statements are gone
    s->Destroy();
    DropAndClose(c, "nav");
}

TEST(CursorRecCount, StatementsThatLimitTheirRowsCountThem) {
    auto c = WithNav("KIVODBC");
    ASSERT_NE(c->Handle, 0);
    struct Case {
        const char* text;
        int64_t count;
    };
    for (const Case& k : std::vector<Case>{{"SELECT n FROM nav ORDER BY n LIMIT 3", 3},
                                           {"SELECT n FROM nav ORDER BY n LIMIT 3 OFFSET 8", 2}}) {
        SCOPED_TRACE(k.text);
        auto s = c->Cursor(k.text);
        Texts texts;
        CallLog log(texts.Recorder());
        ASSERT_NE(s->Execute(), kExecFailed);
        EXPECT_EQ(s->RecCount(), k.count);
        ASSERT_EQ(texts.seen.size(), 2u);
        EXPECT_EQ(texts.seen[1], std::string("select count (*) from (") + k.text + ") x");
        EXPECT_TRUE(s->GoBottom());
        EXPECT_EQ(s->RecNo(), k.count);
        EXPECT_EQ(s->FieldGet("n").Int(), 10 - (k.count == 2 ? 0 : 7));
        s->Destroy();
    }
    // TOP and FETCH FIRST, which the engine does not run, are read as
    // the same LIMIT
    for (const char* text :
         {"SELECT TOP 3 n FROM nav ORDER BY n", "SELECT n FROM nav ORDER BY n FETCH FIRST 3 ROWS ONLY"}) {
        SCOPED_TRACE(text);
        auto s = c->Cursor(text);
        Texts texts;
        CallLog log([&texts, recorder = texts.Recorder()](int index, const std::vector<int64_t>& a)
                        -> std::optional<int64_t> {
            recorder(index, a);
            if (index != 26) return std::nullopt;
            std::string sql(reinterpret_cast<const char*>(a[1]), static_cast<size_t>(a[2]));
            std::string run = "SELECT n FROM nav ORDER BY n LIMIT 3";
            if (sql.rfind("select count", 0) == 0) run = "select count (*) from (" + run + ") x";
            return SQLExecDirect(ToHandle(a[0]), reinterpret_cast<SQLCHAR*>(run.data()), SQL_NTS);
        });
        ASSERT_NE(s->Execute(), kExecFailed);
        EXPECT_EQ(s->RecCount(), 3);
        ASSERT_EQ(texts.seen.size(), 2u);
        EXPECT_EQ(texts.seen[1], std::string("select count (*) from (") + text + ") x");
        s->Destroy();
    }
    DropAndClose(c, "nav");
}

TEST(CursorRecCount, CountIsTheResultsNotTheTablesLater) {
    auto c = WithNav("KIVODBC");
    ASSERT_NE(c->Handle, 0);
    auto s = c->Cursor("SELECT n FROM nav WHERE n > 0 ORDER BY n");
    ASSERT_NE(s->Execute(), kExecFailed);
    auto other = Connected("KIVODBC");
    ASSERT_NE(other->Execute("DELETE FROM nav WHERE n >= 2 AND n <= 4"), kExecFailed);
    other->Destroy();
    EXPECT_EQ(s->RecCount(), 10);
    EXPECT_TRUE(s->GoTo(7));
    EXPECT_EQ(s->FieldGet("n").Int(), 7);
    EXPECT_TRUE(s->Seek(10, "n"));
    EXPECT_EQ(s->RecNo(), 10);
    s->Destroy();
    DropAndClose(c, "nav");
}

TEST(CursorRecCount, LimitTheDriverDidNotTakeIsNotKept) {
    {
        // KIVODBC answers a limit with 01S02 and keeps none
        auto c = WithNav("KIVODBC");
        ASSERT_NE(c->Handle, 0);
        auto s = c->Cursor("SELECT n FROM nav ORDER BY n");
        EXPECT_EQ(s->MaxRows(3), 0);
        EXPECT_EQ(s->MaxRows(), 0);
        ASSERT_NE(s->Execute(), kExecFailed);
        EXPECT_EQ(s->RecCount(), 10);
        s->Destroy();
        DropAndClose(c, "nav");
    }
    // the PostgreSQL driver reads three rows, and the count says so
    auto c = WithNav("PostgreSQL");
    ASSERT_NE(c->Handle, 0);
    auto s = c->Cursor("SELECT n FROM nav ORDER BY n");
    EXPECT_EQ(s->MaxRows(3), 3);
    ASSERT_NE(s->Execute(), kExecFailed);
    int rows = 0;
    for (; !s->Eof(); s->Skip()) ++rows;
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(s->RecCount(), 3);
    EXPECT_TRUE(s->GoBottom());
    EXPECT_EQ(s->RecNo(), 3);
    EXPECT_EQ(s->FieldGet("n").Int(), 3);
    s->Destroy();
    DropAndClose(c, "nav");
}

// ------------------------------------------------------------ deleted rows

TEST(CursorFetch, RowDeletedUnderAKeysetCursorReadsDeleted) {
    auto c = WithNav("KIVODBC");
    ASSERT_NE(c->Handle, 0);
    Reports reported;
    reported.Catch(*c);
    auto s = SQLSelect::New("SELECT n, g FROM nav", xpp::Value(c), 4, 1);
    ASSERT_NE(s->Execute(), kExecFailed);
    ASSERT_TRUE(s->Scrollable());
    EXPECT_EQ(s->FieldGet("n").Int(), 1);
    auto other = Connected("KIVODBC");
    ASSERT_NE(other->Handle, 0);
    ASSERT_NE(other->Execute("DELETE FROM nav WHERE n = 3"), kExecFailed);
    other->Destroy();
    EXPECT_TRUE(s->GoTo(3));
    EXPECT_TRUE(s->Deleted());
    EXPECT_TRUE(s->Row()->isReallyDeleted);
    EXPECT_TRUE(s->Skip());
    EXPECT_FALSE(s->Deleted());
    EXPECT_EQ(s->FieldGet("n").Int(), 4);
    EXPECT_EQ(reported.calls, 0) << reported.report;
    s->Destroy();
    DropAndClose(c, "nav");
}

}  // namespace
