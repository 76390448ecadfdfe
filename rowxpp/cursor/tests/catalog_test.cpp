// The catalog lists against the same catalog functions called directly
// through unixODBC, and the arguments they hand the driver manager.
#include <gtest/gtest.h>

#include <functional>

#include "rowxpp/sql_catalog.h"
#include "write_support.h"
#include "xpp/functions.h"

using namespace rowxpp;
using namespace rowxpp_test;

namespace {

// A name argument: absent (NIL, a null pointer) or a text.
using Arg = std::optional<std::string>;

SQLCHAR* P(Arg& a) { return a ? reinterpret_cast<SQLCHAR*>(a->data()) : nullptr; }
SQLSMALLINT L(const Arg& a) { return a ? static_cast<SQLSMALLINT>(a->size()) : 0; }
xpp::Value V(const Arg& a) { return a ? xpp::Value(*a) : xpp::Value(); }

// One list with its arguments and the same call made directly.
struct ListCase {
    const char* what;
    std::function<std::shared_ptr<SQLCatalogQuery>(const xpp::Value& connection, int64_t& result)> list;
    std::function<SQLRETURN(SQLHSTMT)> direct;
};

// The rows of the direct call: nullopt when it was refused.
std::optional<Table> Direct(int64_t dbc, const std::function<SQLRETURN(SQLHSTMT)>& call) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, ToHandle(dbc), &stmt);
    SQLRETURN rc = call(stmt);
    if (!SQL_SUCCEEDED(rc)) {
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return std::nullopt;
    }
    Table rows;
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    while (SQL_SUCCEEDED(SQLFetch(stmt))) {
        std::vector<Cell> row;
        for (SQLSMALLINT i = 1; i <= columns; ++i) {
            char buffer[1024];
            SQLLEN length = 0;
            SQLRETURN got = SQLGetData(stmt, static_cast<SQLUSMALLINT>(i), SQL_C_CHAR, buffer, sizeof buffer, &length);
            if (!SQL_SUCCEEDED(got) || length == SQL_NULL_DATA) row.push_back(std::nullopt);
            else row.push_back(std::string(buffer, std::min<size_t>(static_cast<size_t>(length), sizeof buffer - 1)));
        }
        rows.push_back(row);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return rows;
}

// Whether the list's current row shows `row`: NULL as NIL as fetched,
// numbers by value, texts but for trailing blanks.
void ExpectRow(SQLSelect& s, const std::vector<Cell>& row) {
    ASSERT_EQ(static_cast<size_t>(s.FCount()), row.size());
    for (size_t i = 1; i <= row.size(); ++i) {
        SCOPED_TRACE(s.FieldName(static_cast<int64_t>(i)));
        const Cell& want = row[i - 1];
        xpp::Value original = s.Row()->Original.Get(i);
        xpp::Value got = s.FieldGet(static_cast<int64_t>(i));
        if (!want) {
            EXPECT_TRUE(original.IsNil()) << xpp::Var2Char(got);
        } else if (got.IsNum()) {
            EXPECT_EQ(xpp::Var2Char(got), xpp::Var2Char(xpp::Val(*want)));
        } else if (got.IsLogical()) {
            EXPECT_EQ(got.Log(), *want == "1");
        } else {
            EXPECT_EQ(xpp::RTrim(xpp::Var2Char(got)), xpp::RTrim(*want));
        }
    }
}

// Every row of the open list against `rows`.
void ExpectRows(SQLSelect& s, const Table& rows) {
    size_t n = 0;
    if (!rows.empty()) {
        EXPECT_FALSE(s.Eof());
    }
    while (n < rows.size() && !s.Eof()) {
        SCOPED_TRACE(n + 1);
        ExpectRow(s, rows[n]);
        ++n;
        if (!s.Skip()) break;
    }
    EXPECT_EQ(n, rows.size());
    EXPECT_TRUE(s.Eof() || rows.empty());
}

struct Source {
    const char* dsn;
    const char* setup[3];
    const char* procedure;  // a procedure name that lists a few rows
};

const std::vector<Source>& Sources() {
    static const std::vector<Source> all = {
        {"SQLite",
         {"CREATE TABLE cat_parent (id INTEGER PRIMARY KEY, name VARCHAR(10))",
          "CREATE TABLE cat_child (id INTEGER PRIMARY KEY, parent INTEGER REFERENCES cat_parent (id))",
          "CREATE INDEX cat_child_parent ON cat_child (parent)"},
         "cat_parent"},
        {"PostgreSQL",
         {"CREATE TABLE cat_parent (id INTEGER PRIMARY KEY, name VARCHAR(10))",
          "CREATE TABLE cat_child (id INTEGER PRIMARY KEY, parent INTEGER REFERENCES cat_parent (id))",
          "CREATE INDEX cat_child_parent ON cat_child (parent)"},
         "abs"},
        {"KIVODBC",
         {"CREATE TABLE cat_parent (id INTEGER, name CHAR(10))", "CREATE TABLE cat_child (id INTEGER, parent INTEGER)",
          "INSERT INTO cat_parent (id, name) VALUES (1, 'x')"},
         "cat_parent"},
    };
    return all;
}

template <class List>
std::shared_ptr<SQLCatalogQuery> MakeList(const xpp::Value& connection, int64_t& result, xpp::Args args) {
    auto list = List::New(connection);
    result = list->Execute(args);
    return list;
}

TEST(CatalogLists, EachListAnswersWhatTheCatalogFunctionAnswersOnEachDriver) {
    for (const Source& src : Sources()) {
        SCOPED_TRACE(src.dsn);
        auto c = Connected(src.dsn);
        ASSERT_NE(c->Handle, 0);
        c->Execute("DROP TABLE cat_child");
        c->Execute("DROP TABLE cat_parent");
        for (const char* sql : src.setup) ASSERT_NE(c->Execute(sql), kExecFailed) << sql;
        Shown shown;
        shown.Catch(c->onError);
        // A scan to the end of every list reports nothing: KIVODBC's catalog
        // results say they read forward only, and are read so.
        auto onlyExpected = [&] {
            for (size_t i = 0; i < shown.states.size(); ++i) ADD_FAILURE() << shown.reports[i];
            shown = Shown();
            shown.Catch(c->onError);
        };
        xpp::Value conn(c);
        Arg none, empty(""), parent("cat_parent"), child("cat_child"), id("id"), proc(src.procedure),
            percent("%");
        std::vector<ListCase> cases = {
            {"tables, no arguments",
             [&](const xpp::Value& k, int64_t& r) { return MakeList<SQLListTables>(k, r, {}); },
             [&](SQLHSTMT h) { return SQLTables(h, P(none), 0, P(none), 0, P(none), 0, P(none), 0); }},
            {"tables, an empty table name",
             [&](const xpp::Value& k, int64_t& r) { return MakeList<SQLListTables>(k, r, {V(none), V(none), V(empty)}); },
             [&](SQLHSTMT h) { return SQLTables(h, P(none), 0, P(none), 0, P(empty), 0, P(none), 0); }},
            {"tables by name",
             [&](const xpp::Value& k, int64_t& r) { return MakeList<SQLListTables>(k, r, {V(none), V(none), V(parent)}); },
             [&](SQLHSTMT h) { return SQLTables(h, P(none), 0, P(none), 0, P(parent), L(parent), P(none), 0); }},
            {"columns",
             [&](const xpp::Value& k, int64_t& r) { return MakeList<SQLListColumns>(k, r, {V(none), V(none), V(child)}); },
             [&](SQLHSTMT h) { return SQLColumns(h, P(none), 0, P(none), 0, P(child), L(child), P(none), 0); }},
            {"column privileges",
             [&](const xpp::Value& k, int64_t& r) {
                 return MakeList<SQLListColumnPrivileges>(k, r, {V(none), V(none), V(child), V(percent)});
             },
             [&](SQLHSTMT h) {
                 return SQLColumnPrivileges(h, P(none), 0, P(none), 0, P(child), L(child), P(percent), L(percent));
             }},
            {"primary keys",
             [&](const xpp::Value& k, int64_t& r) {
                 return MakeList<SQLListPrimaryKeys>(k, r, {V(none), V(none), V(parent)});
             },
             [&](SQLHSTMT h) { return SQLPrimaryKeys(h, P(none), 0, P(none), 0, P(parent), L(parent)); }},
            {"foreign keys",
             [&](const xpp::Value& k, int64_t& r) {
                 return MakeList<SQLListForeignKeys>(k, r, {V(none), V(none), V(parent), V(none), V(none), V(child)});
             },
             [&](SQLHSTMT h) {
                 return SQLForeignKeys(h, P(none), 0, P(none), 0, P(parent), L(parent), P(none), 0, P(none), 0,
                                       P(child), L(child));
             }},
            {"procedures",
             [&](const xpp::Value& k, int64_t& r) { return MakeList<SQLListProcedures>(k, r, {V(none), V(none), V(proc)}); },
             [&](SQLHSTMT h) { return SQLProcedures(h, P(none), 0, P(none), 0, P(proc), L(proc)); }},
            {"procedure columns",
             [&](const xpp::Value& k, int64_t& r) {
                 return MakeList<SQLListProcedureColumns>(k, r, {V(none), V(none), V(proc)});
             },
             [&](SQLHSTMT h) { return SQLProcedureColumns(h, P(none), 0, P(none), 0, P(proc), L(proc), P(none), 0); }},
            {"special columns",
             [&](const xpp::Value& k, int64_t& r) {
                 return MakeList<SQLListSpecialColumns>(k, r, {xpp::Value(), V(none), V(none), V(parent)});
             },
             [&](SQLHSTMT h) {
                 return SQLSpecialColumns(h, SQL_BEST_ROWID, P(none), 0, P(none), 0, P(parent), L(parent),
                                          SQL_SCOPE_SESSION, SQL_NULLABLE);
             }},
            {"statistics",
             [&](const xpp::Value& k, int64_t& r) { return MakeList<SQLListStatistics>(k, r, {V(none), V(none), V(child)}); },
             [&](SQLHSTMT h) {
                 return SQLStatistics(h, P(none), 0, P(none), 0, P(child), L(child), SQL_INDEX_ALL, SQL_QUICK);
             }},
            {"table privileges",
             [&](const xpp::Value& k, int64_t& r) {
                 return MakeList<SQLListTablePrivileges>(k, r, {V(none), V(none), V(parent)});
             },
             [&](SQLHSTMT h) { return SQLTablePrivileges(h, P(none), 0, P(none), 0, P(parent), L(parent)); }},
            {"type info",
             [&](const xpp::Value& k, int64_t& r) { return MakeList<SQLListTypeInfo>(k, r, {}); },
             [&](SQLHSTMT h) { return SQLGetTypeInfo(h, SQL_ALL_TYPES); }},
        };
        for (const ListCase& k : cases) {
            SCOPED_TRACE(k.what);
            std::optional<Table> want = Direct(c->Handle, k.direct);
            int64_t result = 0;
            auto list = k.list(conn, result);
            if (!want) {
                // refused both ways; the object answers the next Execute
                EXPECT_EQ(result, kExecFailed);
                EXPECT_EQ(list->ErrorCode, 65535);
                EXPECT_FALSE(list->isCursorOpen);
                EXPECT_FALSE(shown.states.empty());
                EXPECT_EQ(list->Refresh(), kExecFailed);
                EXPECT_EQ(list->ErrorCode, 65535);
                list->Destroy();
                shown = Shown();
                shown.Catch(c->onError);
                continue;
            }
            ASSERT_EQ(result, 0) << list->ErrorMessage();
            EXPECT_TRUE(list->isCursorOpen);
            // the driver's count; 0 only where it knows none
            auto counted = [&] {
                int64_t n = list->RecCount();
                if (std::string(src.dsn) == "KIVODBC" && n == 0) return;
                EXPECT_EQ(n, static_cast<int64_t>(want->size()));
            };
            counted();
            ExpectRows(*list, *want);
            // the same rows again
            ASSERT_EQ(list->Refresh(), 0);
            counted();
            ExpectRows(*list, *want);
            onlyExpected();
            list->Destroy();
        }
        EXPECT_EQ(c->ActiveStatements(), 0u);
        c->Execute("DROP TABLE cat_child");
        c->Execute("DROP TABLE cat_parent");
        c->Destroy();
    }
}

// What one catalog call was handed after the statement handle: each name
// as its text ("<null>" for a null pointer) and each number as it is.
std::vector<std::string> Handed(const std::vector<int64_t>& a, const std::string& layout) {
    std::vector<std::string> out;
    size_t i = 1;
    for (char kind : layout) {
        if (kind == 'n') {
            int64_t length = a[i + 1];
            out.push_back(a[i] == 0 ? "<null>" : std::string(reinterpret_cast<const char*>(a[i]),
                                                             static_cast<size_t>(length)));
            out.push_back(std::to_string(length));
            i += 2;
        } else {
            out.push_back(std::to_string(a[i]));
            i += 1;
        }
    }
    return out;
}

TEST(CatalogLists, ArgumentsHandedToTheDriverManager) {
    auto c = Connected("SQLite");
    ASSERT_NE(c->Handle, 0);
    xpp::Value conn(c);
    struct Case {
        const char* what;
        std::function<std::shared_ptr<SQLCatalogQuery>()> make;
        std::vector<std::optional<xpp::Args>> calls;  // Execute arguments, one call each; none: Refresh
        int entry;
        std::string layout;  // n: a name with its length, i: a number
        std::vector<std::vector<std::string>> handed;
    };
    auto tables = [&] { return std::shared_ptr<SQLCatalogQuery>(SQLListTables::New(conn)); };
    const std::string N = "<null>";
    const std::vector<Case> cases = {
        {"tables without arguments: four null names", tables, {xpp::Args{}}, 54, "nnnn",
         {{N, "0", N, "0", N, "0", N, "0"}}},
        {"an empty name is no null pointer", tables, {xpp::Args{xpp::Value(), xpp::Value(), ""}}, 54, "nnnn",
         {{N, "0", N, "0", "", "0", N, "0"}}},
        {"names with their byte lengths, unchanged", tables,
         {xpp::Args{xpp::Value(), xpp::Value(), "T1", "TABLE,VIEW"}}, 54, "nnnn",
         {{N, "0", N, "0", "T1", "2", "TABLE,VIEW", "10"}}},
        {"a later call without arguments clears, Refresh replays", tables,
         {xpp::Args{xpp::Value(), xpp::Value(), "T1"}, xpp::Args{}, xpp::Args{xpp::Value(), "s", "T_2%"}, {}}, 54,
         "nnnn",
         {{N, "0", N, "0", "T1", "2", N, "0"},
          {N, "0", N, "0", N, "0", N, "0"},
          {N, "0", "s", "1", "T_2%", "4", N, "0"},
          {N, "0", "s", "1", "T_2%", "4", N, "0"}}},
        {"a name that is no text is absent", tables, {xpp::Args{xpp::Value(), 5, xpp::Array{}}}, 54, "nnnn",
         {{N, "0", N, "0", N, "0", N, "0"}}},
        {"columns: catalog and schema only",
         [&] { return std::shared_ptr<SQLCatalogQuery>(SQLListColumns::New(conn)); }, {xpp::Args{"c", "s"}}, 46,
         "nnnn", {{"c", "1", "s", "1", N, "0", N, "0"}}},
        {"column privileges", [&] { return std::shared_ptr<SQLCatalogQuery>(SQLListColumnPrivileges::New(conn)); },
         {xpp::Args{"c", "s", "t", "col"}}, 45, "nnnn", {{"c", "1", "s", "1", "t", "1", "col", "3"}}},
        {"foreign keys: all twelve elements",
         [&] { return std::shared_ptr<SQLCatalogQuery>(SQLListForeignKeys::New(conn)); },
         {xpp::Args{"pc", "ps", "pt", "fc", "fs", "ftab"}}, 47, "nnnnnn",
         {{"pc", "2", "ps", "2", "pt", "2", "fc", "2", "fs", "2", "ftab", "4"}}},
        {"primary keys", [&] { return std::shared_ptr<SQLCatalogQuery>(SQLListPrimaryKeys::New(conn)); },
         {xpp::Args{xpp::Value(), xpp::Value(), "T"}}, 48, "nnn", {{N, "0", N, "0", "T", "1"}}},
        {"procedure columns",
         [&] { return std::shared_ptr<SQLCatalogQuery>(SQLListProcedureColumns::New(conn)); },
         {xpp::Args{xpp::Value(), xpp::Value(), "p", "x"}}, 49, "nnnn", {{N, "0", N, "0", "p", "1", "x", "1"}}},
        {"procedures", [&] { return std::shared_ptr<SQLCatalogQuery>(SQLListProcedures::New(conn)); },
         {xpp::Args{xpp::Value(), "sch"}}, 50, "nnn", {{N, "0", "sch", "3", N, "0"}}},
        {"special columns: defaults 1, 2, 1; given values, 0 included",
         [&] { return std::shared_ptr<SQLCatalogQuery>(SQLListSpecialColumns::New(conn)); },
         {xpp::Args{xpp::Value(), xpp::Value(), xpp::Value(), "T"}, xpp::Args{2, xpp::Value(), xpp::Value(), "T", 0, 0}},
         51, "innnii", {{"1", N, "0", N, "0", "T", "1", "2", "1"}, {"2", N, "0", N, "0", "T", "1", "0", "0"}}},
        {"statistics: defaults unique 1, reserved 0",
         [&] { return std::shared_ptr<SQLCatalogQuery>(SQLListStatistics::New(conn)); },
         {xpp::Args{xpp::Value(), xpp::Value(), "T"}, xpp::Args{xpp::Value(), xpp::Value(), "T", 0, 1}}, 52,
         "nnnii", {{N, "0", N, "0", "T", "1", "1", "0"}, {N, "0", N, "0", "T", "1", "0", "1"}}},
        {"table privileges", [&] { return std::shared_ptr<SQLCatalogQuery>(SQLListTablePrivileges::New(conn)); },
         {xpp::Args{"c"}}, 53, "nnn", {{"c", "1", N, "0", N, "0"}}},
        {"type info: only a number is a type",
         [&] { return std::shared_ptr<SQLCatalogQuery>(SQLListTypeInfo::New(conn)); },
         {xpp::Args{}, xpp::Args{"4"}, xpp::Args{4}, {}}, 9, "i", {{"0"}, {"0"}, {"4"}, {"4"}}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        auto list = k.make();
        // the names are read while the call runs: they live no longer
        std::vector<std::vector<std::string>> handed;
        CallLog log([&](int index, const std::vector<int64_t>& a) -> std::optional<int64_t> {
            if (index == k.entry) {
                EXPECT_EQ(a[0], list->Handle);
                handed.push_back(Handed(a, k.layout));
            }
            return std::nullopt;
        });
        for (size_t i = 0; i < k.calls.size(); ++i) {
            if (k.calls[i]) list->Execute(*k.calls[i]);
            else list->Refresh();
        }
        EXPECT_EQ(handed, k.handed);
        // every call but the first closed the result before it
        EXPECT_EQ(log.Count(56), static_cast<int>(k.calls.size()) - 1);
        list->Destroy();
    }
    c->Destroy();
}

TEST(CatalogLists, EditingAnswersConstantsWithoutTheDriver) {
    auto c = Connected("SQLite");
    ASSERT_NE(c->Handle, 0);
    auto list = SQLListTypeInfo::New(xpp::Value(c));
    // before any Execute, Refresh passes the twelve zeros: all types
    ASSERT_EQ(list->Refresh(), 0);
    EXPECT_TRUE(list->isCursorOpen);
    EXPECT_FALSE(list->Eof());
    EXPECT_EQ(list->RecNo(), 1);
    xpp::Value first = list->FieldGet(1);
    xpp::Value me(std::static_pointer_cast<SQLSelect>(list));
    CallLog log;
    EXPECT_TRUE(list->FieldPut(1, "x").IsNil());
    EXPECT_TRUE(xpp::Send(me, "fieldput", xpp::Args{1, "x"}).IsNil());
    EXPECT_TRUE(xpp::Send(me, "delete").IsNil());
    EXPECT_TRUE(xpp::Send(me, "append").IsNil());
    EXPECT_TRUE(xpp::Send(me, "cancelupdate").IsNil());
    EXPECT_FALSE(xpp::Send(me, "setprimarykey", xpp::Args{1}).Log());
    EXPECT_FALSE(xpp::Send(me, "updaterow", xpp::Args{true}).Log());
    EXPECT_TRUE(xpp::Send(me, "prepare").Log());
    EXPECT_FALSE(list->Commit());
    list->RecordPut(list->RecordGet());
    EXPECT_FALSE(list->isRowModified());
    EXPECT_EQ(xpp::Var2Char(list->FieldGet(1)), xpp::Var2Char(first));
    EXPECT_EQ(log.Total(), 0u);
    // counted by the driver as the list ran
    EXPECT_GT(list->RecCount(), 1);
    EXPECT_EQ(log.Total(), 0u);
    EXPECT_TRUE(list->isDerivedFrom("SQLCatalogQuery"));
    // once closed, the count re-runs the list and never builds a counting
    // statement
    {
        TextLog texts;
        list->Close();
        EXPECT_GE(list->RecCount(), 0);
        EXPECT_TRUE(list->isCursorOpen);
        EXPECT_TRUE(texts.Texts().empty());
        EXPECT_EQ(texts.Log().Count(9), 1);
    }
    EXPECT_EQ(SQLLISTTYPEINFO().Name(), "SQLListTypeInfo");
    EXPECT_TRUE(SQLLISTTABLES().DerivesFrom("SQLSelect"));
    list->Destroy();

    // a cursor type that cannot be read leaves the list scrollable
    {
        CallLog noType([](int index, const std::vector<int64_t>&) -> std::optional<int64_t> {
            return index == 15 ? std::optional<int64_t>(SQL_ERROR) : std::nullopt;
        });
        auto types = SQLListTypeInfo::New(xpp::Value(c));
        types->DisplayErrors = false;
        EXPECT_EQ(types->Execute(), 0);
        EXPECT_EQ(noType.Count(15), 1);
        EXPECT_TRUE(types->Scrollable());
        EXPECT_TRUE(types->Skip());
        EXPECT_EQ(types->RecNo(), 2);
        types->Destroy();
    }

    // an empty list: open, at its end, counted 0
    auto none = SQLListTables::New(xpp::Value(c));
    ASSERT_EQ(none->Execute(xpp::Args{xpp::Value(), xpp::Value(), "no_such_table_here"}), 0);
    EXPECT_TRUE(none->isCursorOpen);
    EXPECT_TRUE(none->Eof());
    EXPECT_EQ(none->RecCount(), 0);
    // a failed call closes it; it answers the next Execute
    CallLog refuse([](int index, const std::vector<int64_t>&) -> std::optional<int64_t> {
        return index == 54 ? std::optional<int64_t>(SQL_STILL_EXECUTING) : std::nullopt;
    });
    none->DisplayErrors = false;
    EXPECT_EQ(none->Execute(), kExecFailed);
    EXPECT_EQ(none->ErrorCode, SQL_STILL_EXECUTING);
    EXPECT_FALSE(none->isCursorOpen);
    none->Destroy();
    c->Destroy();
}

TEST(CatalogLists, TablesOfOneSchemaAreCountedAndNavigated) {
    const std::vector<std::pair<const char*, xpp::Value>> sources = {{"SQLite", xpp::Value()},
                                                                     {"PostgreSQL", "public"}};
    for (const auto& [dsn, schema] : sources) {
        SCOPED_TRACE(dsn);
        auto c = Connected(dsn);
        ASSERT_NE(c->Handle, 0);
        for (const char* t : {"catla", "catlb", "catlc"}) {
            c->Execute(std::string("DROP TABLE ") + t);
            ASSERT_NE(c->Execute(std::string("CREATE TABLE ") + t + " (id INTEGER)"), kExecFailed);
        }
        CapturedErrors raised;
        TextLog texts;
        auto list = SQLListTables::New(xpp::Value(c));
        ASSERT_EQ(list->Execute(xpp::Args{xpp::Value(), schema, "catl%", "TABLE"}), 0) << list->ErrorMessage();
        int64_t rows = 0;
        std::vector<std::string> names;
        for (; !list->Eof(); list->Skip()) {
            ++rows;
            names.push_back(xpp::RTrim(list->FieldGet("TABLE_NAME").Str()));
        }
        EXPECT_EQ(names, (std::vector<std::string>{"catla", "catlb", "catlc"}));
        EXPECT_EQ(list->RecCount(), rows);
        EXPECT_TRUE(list->GoBottom());
        EXPECT_EQ(list->RecNo(), rows);
        EXPECT_TRUE(list->Skip(-1));
        EXPECT_EQ(list->RecNo(), rows - 1);
        EXPECT_EQ(xpp::RTrim(list->FieldGet("TABLE_NAME").Str()), "catlb");
        EXPECT_TRUE(list->Seek("catlc", "TABLE_NAME"));
        EXPECT_EQ(list->RecNo(), 3);
        EXPECT_TRUE(list->Seek("catla", "TABLE_NAME"));
        EXPECT_EQ(list->RecNo(), 1);
        EXPECT_FALSE(list->Seek("catlz", "TABLE_NAME"));
        // never a count statement
        EXPECT_TRUE(texts.Texts().empty());
        EXPECT_TRUE(raised.Errors().empty());
        list->Destroy();
        for (const char* t : {"catla", "catlb", "catlc"}) c->Execute(std::string("DROP TABLE ") + t);
        c->Destroy();
    }
}

}  // namespace
