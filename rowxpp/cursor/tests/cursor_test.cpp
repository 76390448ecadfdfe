// SQLSelect against the real data sources through unixODBC: description
// and binding of every kind of column, the life cycle, the properties and
// field access.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "cursor_support.h"
#include "rowxpp/flash_hook.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

using namespace rowxpp;
using namespace rowxpp_test;

namespace {

struct Expected {
    const char* name;
    const char* alias;
    int64_t sqlType;
    const char* valType;
    int64_t targetType;
    int64_t bufferSize;
    int64_t nullSize;
    const char* defValue;  // as VAR2CHAR shows it
    int64_t decimals;
    bool autoUnique, updatable, searchable;
    const char* table;
};

struct DriverColumns {
    const char* dsn;
    int64_t lastBound;
    int64_t cursorType;
    std::vector<Expected> columns;
};

const std::vector<DriverColumns>& ExpectedColumns() {
    static const std::vector<DriverColumns> all = {
        {"SQLite", 2, SQL_CURSOR_STATIC,
         {{"id", "id", 4, "N", 4, 4, 1, "0", 0, true, false, true, "kinds"},
          {"label", "label", 12, "C", 1, 21, 1, "", 0, false, true, true, "kinds"},
          {"note", "note", -1, "C", 1, 65537, 1, "", 0, false, true, true, "kinds"},
          {"code", "code", 12, "C", 1, 5, 1, "", 0, false, true, true, "kinds"},
          {"born", "born", 91, "D", 1, 11, 1, "  /  /    ", 0, false, true, true, "kinds"},
          {"stamp", "stamp", 93, "C", 1, 34, 1, "                                ", 0, false, true, true, "kinds"},
          {"price", "price", 12, "C", 1, 11, 1, "", 0, false, true, true, "kinds"},
          {"ratio", "ratio", 8, "N", 8, 8, 1, "0.0", 0, false, true, true, "kinds"},
          {"flag", "flag", -7, "L", 1, 2, 1, ".F.", 0, false, true, true, "kinds"},
          {"big", "big", -5, "N", 1, 21, 1, "0", 0, false, true, true, "kinds"},
          {"data", "data", 12, "C", 1, 256, 1, "", 0, false, true, true, "kinds"}}},
        {"PostgreSQL", 10, SQL_CURSOR_KEYSET_DRIVEN,
         {{"id", "id", 4, "N", 4, 4, 1, "0", 0, true, false, true, "kinds"},
          {"name", "label", 12, "C", 1, 21, 1, "", 0, false, true, true, "kinds"},
          {"note", "note", -1, "C", 1, 8191, 1, "", 0, false, true, true, "kinds"},
          {"code", "code", 1, "C", 1, 5, 1, "    ", 0, false, true, true, "kinds"},
          {"born", "born", 91, "D", 1, 11, 1, "  /  /    ", 0, false, true, true, "kinds"},
          {"stamp", "stamp", 93, "C", 1, 28, 1, "                          ", 6, false, true, true, "kinds"},
          {"price", "price", 2, "N", 1, 13, 1, "0.00", 2, false, true, true, "kinds"},
          {"ratio", "ratio", 6, "N", 8, 8, 1, "0.0", 0, false, true, true, "kinds"},
          {"flag", "flag", -7, "L", 1, 2, 1, ".F.", 0, false, true, true, "kinds"},
          {"big", "big", -5, "N", 1, 21, 1, "0", 0, false, true, true, "kinds"},
          {"data", "data", -4, "C", -2, 0, 0, "", 0, false, true, true, "kinds"}}},
        {"KIVODBC", 2, SQL_CURSOR_DYNAMIC,
         {{"id", "id", 4, "N", 4, 4, 1, "0", 0, false, true, true, ""},
          {"label", "label", 1, "C", 1, 21, 1, "                    ", 0, false, true, true, ""},
          {"note", "note", -1, "C", 1, 2147483641, 1, "", 0, false, true, true, ""},
          {"code", "code", 1, "C", 1, 5, 1, "    ", 0, false, true, true, ""},
          {"born", "born", 91, "D", 1, 11, 1, "  /  /    ", 0, false, true, true, ""},
          {"stamp", "stamp", 93, "C", 1, 25, 1, "                       ", 0, false, true, true, ""},
          {"price", "price", 2, "N", 1, 13, 1, "0.00", 2, false, true, true, ""},
          {"ratio", "ratio", 8, "N", 8, 8, 1, "0.0", 0, false, true, true, ""},
          {"flag", "flag", -7, "L", 1, 2, 1, ".F.", 0, false, true, true, ""},
          {"big", "big", 2, "N", 1, 23, 1, "0", 0, false, true, true, ""},
          {"data", "data", -4, "C", -2, 2147483647, 0, "", 0, false, true, false, ""}}},
    };
    return all;
}

TEST(CursorDescribe, EveryKindOfColumnOnEachDriver) {
    for (const DriverColumns& d : ExpectedColumns()) {
        SCOPED_TRACE(d.dsn);
        const KindsTable& k = *std::find_if(Kinds().begin(), Kinds().end(),
                                            [&](const KindsTable& t) { return std::string(t.dsn) == d.dsn; });
        auto c = WithKinds(k);
        ASSERT_NE(c->Handle, 0);
        Reported reported;
        CaptureErrors(*c, reported);
        auto s = c->Cursor(kKindsSelect);
        // the drivers refuse attribute 10 silently
        EXPECT_FALSE(s->SimulateCursor());
        EXPECT_FALSE(s->UsePositionUpdate(true));
        EXPECT_FALSE(s->UsePositionDelete(true));
        CallLog log;
        EXPECT_NE(s->Execute(), kExecFailed) << s->ErrorMessage();
        EXPECT_TRUE(s->isCursorOpen);
        EXPECT_TRUE(s->Scrollable());
        EXPECT_EQ(s->CursorType().Int(), d.cursorType);
        // the first row is read, the rows are counted as the statement ran
        EXPECT_EQ(s->RecNo(), 1);
        EXPECT_FALSE(s->Eof());
        EXPECT_EQ(s->RecCountMember(), 1);
        ASSERT_EQ(s->FCount(), static_cast<int64_t>(d.columns.size()));
        for (size_t i = 0; i < d.columns.size(); ++i) {
            const Expected& e = d.columns[i];
            SCOPED_TRACE(e.alias);
            auto col = s->GetSQLColumn(static_cast<int64_t>(i + 1));
            ASSERT_TRUE(col);
            EXPECT_EQ(col->Index, static_cast<int64_t>(i + 1));
            EXPECT_EQ(col->Name, e.name);
            EXPECT_EQ(col->AliasName, e.alias);
            EXPECT_EQ(col->SQLType, e.sqlType);
            EXPECT_EQ(col->ValType, e.valType);
            EXPECT_EQ(col->TargetType, e.targetType);
            EXPECT_EQ(col->BufferSize, e.bufferSize);
            EXPECT_EQ(col->NullSize, e.nullSize);
            EXPECT_EQ(xpp::Var2Char(col->DefValue), e.defValue);
            EXPECT_EQ(col->Decimals, e.decimals);
            EXPECT_EQ(col->isAutoUnique, e.autoUnique);
            EXPECT_EQ(col->isUpdatable, e.updatable);
            EXPECT_EQ(col->isSearchable, e.searchable);
            EXPECT_EQ(xpp::Var2Char(col->TableName), e.table);
        }
        EXPECT_EQ(s->AutoUniqueColumn, d.columns[0].autoUnique ? 1 : 0);
        EXPECT_EQ(s->FieldPos("LABEL"), 2);
        EXPECT_EQ(s->FieldName("LABEL"), "label");
        // the leading run is bound: up to the first column over the limit
        auto binds = log.ArgumentsOf(36);
        ASSERT_EQ(static_cast<int64_t>(binds.size()), d.lastBound);
        for (size_t i = 0; i < binds.size(); ++i) EXPECT_EQ(binds[i][1], static_cast<int64_t>(i + 1));
        EXPECT_EQ(s->BoundColumns(), d.lastBound);
        EXPECT_EQ(s->RowBufferSize(), c->BufferSize);
        EXPECT_EQ(static_cast<int64_t>(s->ColInfo().Len()), s->nColCount);
        // the first unbound column's information holds the limit
        EXPECT_EQ(s->ColInfo().Get(static_cast<size_t>(d.lastBound) + 1).Arr().Get(2).Int(), c->BufferSize);
        EXPECT_TRUE(s->RowBuffer.Same(s->Row()->Buffer));
        EXPECT_TRUE(s->CursorName().size() > 0);
        EXPECT_EQ(reported.calls, 0) << reported.report;

        // Refresh binds again without describing
        CallLog again;
        EXPECT_NE(s->Refresh(), kExecFailed);
        EXPECT_EQ(again.Count(34), 0);
        EXPECT_EQ(static_cast<int64_t>(again.ArgumentsOf(36).size()), d.lastBound);
        EXPECT_EQ(s->BoundColumns(), d.lastBound);
        EXPECT_FALSE(s->isRefresh);

        // a read-only forward-only cursor is not scrollable
        auto f = c->Cursor(kKindsSelect, 1, 0);
        EXPECT_FALSE(f->UsePositionUpdate(true));
        EXPECT_NE(f->Execute(), kExecFailed);
        EXPECT_FALSE(f->Scrollable());
        f->Destroy();
        s->Destroy();
        EXPECT_EQ(c->ActiveStatements(), 0u);
        EXPECT_EQ(reported.calls, 0) << reported.report;
        c->Execute("DROP TABLE kinds");
        c->Destroy();
    }
}

TEST(CursorDescribe, LoweredLimitBindsOnlyTheColumnsBeforeTheFirstWiderOne) {
    auto c = WithKinds(Kinds()[0]);
    ASSERT_NE(c->Handle, 0);
    // id 4, label 21, then the long text: a limit of 21 binds both
    for (auto [limit, bound] : {std::pair<int64_t, int64_t>{21, 2}, {20, 1}, {3, 0}}) {
        SCOPED_TRACE(limit);
        c->BufferSize = limit;
        auto s = c->Cursor("SELECT id, name AS label, note, code FROM kinds");
        CallLog log;
        ASSERT_NE(s->Execute(), kExecFailed);
        EXPECT_EQ(static_cast<int64_t>(log.ArgumentsOf(36).size()), bound);
        EXPECT_EQ(s->BoundColumns(), bound);
        EXPECT_EQ(s->RowBufferSize(), std::max<int64_t>(16, limit));
        s->Destroy();
    }
    c->Execute("DROP TABLE kinds");
    c->Destroy();
}

TEST(CursorLifecycle, RepeatedCyclesReleaseEveryBufferAndLeaveNoStatement) {
    for (const KindsTable& k : Kinds()) {
        SCOPED_TRACE(k.dsn);
        auto c = WithKinds(k);
        ASSERT_NE(c->Handle, 0);
        int releases = 0;
        for (int i = 0; i < 1000; ++i) {
            auto s = c->Cursor(kKindsSelect);
            ASSERT_NE(s->Execute(), kExecFailed);
            ASSERT_NE(s->Execute(), kExecFailed);
            ASSERT_NE(s->Refresh(), kExecFailed);
            s->Destroy();
            releases += s->BoundColumns() == -1;
        }
        EXPECT_EQ(releases, 1000);
        EXPECT_EQ(c->ActiveStatements(), 0u);
        c->Execute("DROP TABLE kinds");
        c->Destroy();
    }
}

TEST(CursorLifecycle, MissingTablePrepareAndProperties) {
    for (const char* dsn : {"SQLite", "PostgreSQL", "KIVODBC"}) {
        SCOPED_TRACE(dsn);
        auto c = WithKinds(*std::find_if(Kinds().begin(), Kinds().end(),
                                         [&](const KindsTable& t) { return std::string(t.dsn) == dsn; }));
        ASSERT_NE(c->Handle, 0);
        Reported reported;
        CaptureErrors(*c, reported);
        auto bad = c->Cursor("SELECT * FROM no_such_table");
        EXPECT_EQ(bad->Execute(), kExecFailed);
        EXPECT_FALSE(bad->isCursorOpen);
        EXPECT_TRUE(bad->Bof());
        EXPECT_TRUE(bad->Eof());
        EXPECT_EQ(bad->RecCountMember(), -1);
        EXPECT_EQ(reported.calls, 1);
        bad->Destroy();

        auto p = c->Cursor("SELECT id, name FROM kinds");
        CallLog log;
        EXPECT_EQ(p->FCount(), 2);
        EXPECT_TRUE(p->isPrepared);
        EXPECT_FALSE(p->isCursorOpen);
        EXPECT_EQ(log.Count(25) + log.Count(26), 0);  // nothing executed
        p->Destroy();

        reported.calls = 0;
        // Only the SQLite driver refuses to prepare a text over a missing
        // table; the others prepare without asking the data source.
        auto u = c->Cursor("SELECT * FROM no_such_table");
        if (std::string(dsn) == "SQLite") {
            EXPECT_EQ(u->FCount(), -1);
            EXPECT_EQ(u->CursorName(), "");
            EXPECT_TRUE(u->GetSQLColumn(1) == nullptr);
        }
        u->Destroy();

        auto s = c->Cursor("SELECT id FROM kinds");
        // The value handed to the driver; only the PostgreSQL driver answers
        // it back (the others read 0).
        bool readsBack = std::string(dsn) == "PostgreSQL";
        CallLog sets;
        EXPECT_EQ(s->QueryTimeout(0.5), 1);
        EXPECT_EQ(sets.ArgumentsOf(14).back()[2], 1);
        if (readsBack) {
            EXPECT_EQ(s->GetAttribute(SQL_ATTR_QUERY_TIMEOUT).Int(), 1);
        }
        EXPECT_EQ(s->QueryTimeout(2.9), 2);
        EXPECT_EQ(sets.ArgumentsOf(14).back()[2], 2);
        if (readsBack) {
            EXPECT_EQ(s->GetAttribute(SQL_ATTR_QUERY_TIMEOUT).Int(), 2);
        }
        EXPECT_EQ(s->QueryTimeout(0), 0);
        if (std::string(dsn) != "KIVODBC") {
            EXPECT_EQ(s->MaxRows(100.7), 100);
        } else {
            s->MaxRows(100.7);
        }
        int64_t kept = s->nMaxRows;
        EXPECT_EQ(s->MaxRows("10"), kept);
        EXPECT_FALSE(s->DateTimeAsDate("x"));
        EXPECT_TRUE(s->DateTimeAsDate(true));
        EXPECT_NE(s->Execute(), kExecFailed);
        EXPECT_FALSE(s->CursorName().empty());
        EXPECT_EQ(s->Concurrency(1).Int(), 1);  // the assigned value, whatever the driver said
        EXPECT_TRUE(s->Close());
        EXPECT_FALSE(s->isCursorOpen);
        s->Destroy();
        EXPECT_EQ(c->ActiveStatements(), 0u);
        c->Execute("DROP TABLE kinds");
        c->Destroy();
    }
}

TEST(CursorExecute, ArgumentFormsBindTheirParameters) {
    auto c = WithKinds(Kinds()[0]);
    ASSERT_NE(c->Handle, 0);
    struct Case {
        xpp::Args args;
        int binds;
    };
    const char* sql = "SELECT id FROM kinds WHERE name <> ? AND code <> ? AND born <> ?";
    std::vector<Case> cases = {{{1, "a", xpp::Date::FromYMD(2024, 1, 2)}, 3}, {{xpp::Array{1, "a"}}, 2}, {{xpp::Value()}, 0}};
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        auto s = c->Cursor(i == 1 ? "SELECT id FROM kinds WHERE name <> ? AND code <> ?"
                                  : (i == 2 ? "SELECT id FROM kinds" : sql));
        CallLog log;
        EXPECT_NE(s->Execute(cases[i].args), kExecFailed) << s->ErrorMessage();
        EXPECT_EQ(log.Count(21), cases[i].binds);
        EXPECT_EQ(s->ParamList.IsNil(), cases[i].binds == 0);
        s->Destroy();
    }
    c->Execute("DROP TABLE kinds");
    c->Destroy();
}

TEST(CursorDescribe, FailedAllocationRaisesAndLeavesTheColumnUnbound) {
    auto c = WithKinds(Kinds()[1]);
    ASSERT_NE(c->Handle, 0);
    auto s = c->Cursor("SELECT id, name AS label FROM kinds");
    int calls = 0;
    SetColumnAllocator([&](int64_t size) -> int64_t { return ++calls == 3 ? 0 : MemAlloc_(size).Int(); });
    CapturedErrors errors;
    CallLog log;
    EXPECT_NE(s->Execute(), kExecFailed);
    SetColumnAllocator({});
    ASSERT_EQ(errors.Errors().size(), 1u);
    EXPECT_EQ(errors.Errors()[0]->description.Str(), "Failed to allocate memory (kinds.name, 21)");
    EXPECT_EQ(errors.Errors()[0]->subSystem.Str(), "RowXpp 3.1.24");
    EXPECT_EQ(log.ArgumentsOf(36).size(), 1u);
    EXPECT_EQ(s->BoundColumns(), 1);
    EXPECT_EQ(s->RowBufferSize(), 21);
    s->Destroy();
    c->Execute("DROP TABLE kinds");
    c->Destroy();
}

TEST(CursorDescribe, FailedDescriptionKeepsTheColumnsBeforeIt) {
    auto c = WithKinds(Kinds()[0]);
    ASSERT_NE(c->Handle, 0);
    auto s = c->Cursor("SELECT id, name AS label, code, note FROM kinds");
    {
        CallLog refuse([](int index, const std::vector<int64_t>& a) -> std::optional<int64_t> {
            if (index == 34 && a[1] == 3) return SQL_ERROR;
            return std::nullopt;
        });
        ASSERT_NE(s->Execute(), kExecFailed);
    }
    EXPECT_EQ(s->FCount(), 2);
    EXPECT_EQ(s->ColInfo().Len(), 2u);
    EXPECT_EQ(s->ColNames().Len(), 2u);
    EXPECT_EQ(s->SQLColumns().Arr().Len(), 2u);
    EXPECT_EQ(s->RowBuffer.Len(), 2u);
    EXPECT_EQ(s->BoundColumns(), 2);
    EXPECT_EQ(s->FieldPos("code"), 0);
    // the row of the columns described is read
    EXPECT_EQ(s->FieldGet(1).Int(), 1);
    EXPECT_EQ(s->FieldGet("label").Str(), "abc");
    s->Destroy();

    // a table name the driver does not tell reads as "" in the error text
    // (SQLite names the column by its label)
    auto t = c->Cursor("SELECT id, name AS label FROM kinds");
    int calls = 0;
    SetColumnAllocator([&](int64_t size) -> int64_t { return ++calls == 3 ? 0 : MemAlloc_(size).Int(); });
    CapturedErrors errors;
    {
        CallLog refuse([](int index, const std::vector<int64_t>& a) -> std::optional<int64_t> {
            if (index == 35 && a[2] == SQL_DESC_TABLE_NAME) return SQL_ERROR;
            return std::nullopt;
        });
        EXPECT_NE(t->Execute(), kExecFailed);
    }
    SetColumnAllocator({});
    ASSERT_EQ(errors.Errors().size(), 1u);
    EXPECT_EQ(errors.Errors()[0]->description.Str(), "Failed to allocate memory (.label, 21)");
    EXPECT_TRUE(t->GetSQLColumn(2)->TableName.IsNil());
    t->Destroy();
    c->Execute("DROP TABLE kinds");
    c->Destroy();
}

TEST(CursorFields, LookupMarksAndErrors) {
    auto c = WithKinds(Kinds()[0]);
    ASSERT_NE(c->Handle, 0);
    auto s = c->Cursor("SELECT id, name AS label, code AS Label, note FROM kinds");
    ASSERT_NE(s->Execute(), kExecFailed);
    struct Case {
        xpp::Value field;
        int64_t pos;
    };
    for (bool exact : {false, true}) {
        SCOPED_TRACE(exact);
        xpp::Set(xpp::SET_EXACT, exact);
        for (const Case& k : std::vector<Case>{{0, 0},
                                               {-1, 0},
                                               {5, 0},
                                               {4, 4},
                                               {"label   ", 2},
                                               {" label", 0},
                                               {"LaBeL", 2},
                                               {"lab", 0},
                                               {"NOTE", 4},
                                               {xpp::Date(), 0}}) {
            SCOPED_TRACE(xpp::Var2Char(k.field));
            EXPECT_EQ(s->FieldPos(k.field), k.pos);
            EXPECT_EQ(xpp::Set(xpp::SET_EXACT).Log(), exact);
        }
    }
    xpp::Set(xpp::SET_EXACT, false);
    EXPECT_EQ(s->FieldName("label"), "label");
    EXPECT_EQ(s->FieldName(3), "Label");
    EXPECT_EQ(s->FieldName("nothing"), "");
    {
        CapturedErrors errors;
        EXPECT_EQ(s->FieldPos(5, true), 0);
        EXPECT_TRUE(s->FieldGet("nothing").IsNil());
        EXPECT_TRUE(s->FieldPut(0, 1).IsNil());
        EXPECT_EQ(s->FieldPos("nothing", 1), 0);  // only exactly .T. raises
        ASSERT_EQ(errors.Errors().size(), 3u);
        const char* operations[] = {"SQLSELECT:FIELDPOS", "SQLSELECT:FIELDGET", "SQLSELECT:FIELDPOS"};
        const char* texts[] = {"Invalid Field: 5", "Invalid Field: nothing", "Invalid Field: 0"};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(errors.Errors()[i]->description.Str(), texts[i]);
            EXPECT_EQ(errors.Errors()[i]->subSystem.Str(), "RowXpp 3.1.24");
            EXPECT_EQ(errors.Errors()[i]->subCode.Int(), 0);
            EXPECT_EQ(errors.Errors()[i]->severity.Int(), 2);
            EXPECT_EQ(errors.Errors()[i]->operation.Str(), operations[i]);
        }
    }
    // a row as the fetch leaves it
    auto row = s->Row();
    row->Original.Assign({1, "abc", "AB  ", "long"});
    row->Buffer.Assign({1, "abc", "AB  ", "long"});
    EXPECT_FALSE(s->isNull(2));
    EXPECT_FALSE(s->isNull("nothing"));
    EXPECT_EQ(s->FieldPut("label", "abc   ").Str(), "abc   ");
    EXPECT_EQ(s->FieldGet(2).Str(), "abc   ");
    EXPECT_FALSE(s->isRowModified());
    EXPECT_TRUE(s->RecordPut(xpp::Array{1, 2}).IsNil());
    EXPECT_TRUE(s->RecordPut(xpp::Array{1, "a", "b", "c", "d"}).IsNil());
    EXPECT_FALSE(s->isRowModified());
    xpp::Array copy = s->RecordGet();
    EXPECT_FALSE(copy.Same(s->RowBuffer));
    s->FieldPut(3, "abcdef");
    EXPECT_TRUE(s->isRowModified());
    EXPECT_TRUE(row->isModified.Get(3).Log());
    s->FieldPut(3, "AB");  // marks stay
    EXPECT_TRUE(row->isModified.Get(3).Log());
    EXPECT_EQ(copy.Get(3).Str(), "AB  ");
    EXPECT_FALSE(s->Deleted());
    row->isReallyDeleted = true;
    EXPECT_TRUE(s->Deleted());
    s->CancelUpdate();
    EXPECT_EQ(s->FieldGet(3).Str(), "AB  ");
    s->Destroy();
    c->Execute("DROP TABLE kinds");
    c->Destroy();
}

}  // namespace

namespace {

// A cursor on the engine's driver still open when the program ends is
// closed by the program's end after the engine's own static objects are gone.
TEST(CursorLifecycle, AnEngineCursorLeftOpenAtTheProgramsEndEndsCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto c = rowxpp_test::Connected("KIVODBC");
            if (c->Handle == 0) std::_Exit(3);
            c->Execute("DROP TABLE leftopen");
            c->Execute("CREATE TABLE leftopen (n INTEGER)");
            c->Execute("INSERT INTO leftopen (n) VALUES (1)");
            auto s = c->Cursor("SELECT n FROM leftopen");
            if (s->Execute() == -2 || !s->isCursorOpen) std::_Exit(4);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(CursorExecute, TheDriversChoiceOfCursorIsNoNewsButOtherWarningsAre) {
    auto c = WithKinds(*std::find_if(Kinds().begin(), Kinds().end(),
                                     [](const KindsTable& k) { return std::string(k.dsn) == "PostgreSQL"; }));
    ASSERT_NE(c->Handle, 0);
    // the default handler: a log file and the flash window
    std::filesystem::path log = std::filesystem::temp_directory_path() /
                                ("cursor-info-" + std::to_string(::getpid()) + ".log");
    std::filesystem::remove(log);
    c->ErrorLogFile = log.string();
    std::vector<std::string> flashed;
    struct Hooked {
        FlashHook kept;
        ~Hooked() { SetFlashHook(kept); }
    } hooked{SetFlashHook([&](const xpp::Value& text, const xpp::Value&, const xpp::Value&) {
        flashed.push_back(text.Str());
    })};
    auto s = c->Cursor(kKindsSelect);
    ASSERT_NE(s->Execute(), kExecFailed);
    ASSERT_NE(s->Refresh(), kExecFailed);
    EXPECT_TRUE(flashed.empty()) << flashed[0];
    EXPECT_FALSE(std::filesystem::exists(log));

    // the driver took concurrency 3
    EXPECT_EQ(s->Concurrency().Int(), SQL_CONCUR_ROWVER);
    // a warning of another kind on the execution is still reported
    Reported reported;
    CaptureErrors(*c, reported);
    s->onError = c->onError;
    {
        CallLog truncated([&](int index, const std::vector<int64_t>& a) -> std::optional<int64_t> {
            if (index != 26 || a[0] != s->Handle) return std::nullopt;
            SQLRETURN rc = SQLExecDirect(ToHandle(a[0]), reinterpret_cast<SQLCHAR*>(a[1]), static_cast<SQLINTEGER>(a[2]));
            if (!SQL_SUCCEEDED(rc)) return rc;
            // a name cut short leaves its 01004 in the statement's diagnostics
            SQLCHAR name[2];
            SQLSMALLINT length = 0;
            return SQLGetCursorName(ToHandle(a[0]), name, sizeof name, &length);
        });
        ASSERT_NE(s->Execute(), kExecFailed);
    }
    EXPECT_EQ(reported.calls, 1);
    ASSERT_FALSE(reported.errors.empty());
    EXPECT_EQ(reported.errors[0]->SQLState.Str(), "01004");
    EXPECT_EQ(reported.returnCode, SQL_SUCCESS_WITH_INFO);
    s->Destroy();
    c->Execute("DROP TABLE kinds");
    c->Destroy();
}

}  // namespace
