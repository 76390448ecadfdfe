// rowxppdemo: a small ROWXPP program. For each data source it connects and
// prints what the driver reports; on the SQLite data source it creates a
// table and inserts rows with parameters of every kind, then updates them;
// on the KIVODBC data source it updates rows inside a transaction and rolls
// the change back, so the data source is left as it was.
//
//   rowxppdemo [KIVODBC data source] [SQLite data source]
//              (defaults "KivSample" and "RowxppSqlite")
//
// The data sources come from the ODBC configuration of the environment
// (ODBCSYSINI, ODBCINI).
#include <cstdio>
#include <string>

#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_statement.h"
#include "xpp/xpp.h"

namespace {

using rowxpp::SQLConnection;
using rowxpp::SQLStatement;
using rowxpp::SQLValue;

void Say(const std::string& text) { std::printf("%s\n", text.c_str()); }

std::string Result(int64_t r) {
    switch (r) {
        case rowxpp::kExecNoCount: return "-1 (done, no row count)";
        case rowxpp::kExecFailed: return "-2 (failed)";
        case rowxpp::kExecInfoNoCount: return "-3 (done with information, no row count)";
        default: return std::to_string(r) + (r == 1 ? " row" : " rows");
    }
}

// Errors are printed by the demo itself (ErrorMessage) rather than shown.
std::shared_ptr<SQLConnection> Open(const std::string& dsn) {
    auto c = SQLConnection::New();
    c->onError = xpp::Block([](xpp::Args&) { return xpp::Value(); });
    if (!c->Connect(dsn, "", "")) {
        Say("  cannot connect: " + c->ErrorMessage());
        return nullptr;
    }
    Say("  DbmsName            " + c->DbmsName.Str());
    Say("  DbmsVersion         " + c->DbmsVersion.Str());
    Say("  IdentifierQuoteChar \"" + c->IdentifierQuoteChar.Str() + "\"");
    Say(std::string("  MultipleResults     ") + (c->MultipleResults.Log() ? ".T." : ".F."));
    return c;
}

int64_t Run(SQLStatement& s, const std::string& what, const xpp::Args& params) {
    int64_t r = s.Execute(params);
    Say("  " + what + ": " + Result(r));
    if (r == rowxpp::kExecFailed) Say("    " + xpp::StrTran(xpp::Trim(s.ErrorMessage()), "\r\n", "\n    "));
    return r;
}

void OnSqlite(SQLConnection& c) {
    c.Execute("DROP TABLE IF EXISTS demo");
    c.Execute("CREATE TABLE demo (name VARCHAR(30), qty INTEGER, price DECIMAL(10,2), since DATE, active BOOLEAN, "
              "remark VARCHAR(20), note TEXT)");
    auto insert = c.NewStatement();
    if (!insert->Prepare("INSERT INTO demo VALUES (?, ?, ?, ?, ?, ?, ?)")) {
        Say("  prepare failed: " + insert->ErrorMessage());
        return;
    }
    std::string note(100000, '.');
    for (size_t i = 0; i < note.size(); i += 50) note[i] = '|';
    auto longNote = SQLValue::New(note, SQL_LONGVARCHAR, SQL_C_CHAR, static_cast<int64_t>(note.size()), 0,
                                  SQL_LEN_DATA_AT_EXEC(static_cast<int64_t>(note.size())));
    Run(*insert, "INSERT text, integer, decimal, date, logical, NIL, short note",
        {"Harbour Supplies", 12, 19.95, xpp::Date::FromYMD(2021, 4, 1), true, xpp::Value(), "short"});
    Run(*insert, "INSERT with a 100000-byte note sent at execution",
        {"Northwind Freight", 3, 250.5, xpp::Date::FromYMD(2019, 11, 30), false, xpp::Value(), xpp::Value(longNote)});
    Run(*insert, "INSERT with an empty date and an empty text",
        {"Quayside Tools", 40, 7.25, xpp::Date(), true, "", xpp::Value()});
    insert->Destroy();
    auto update = c.NewStatement("UPDATE demo SET qty = qty + ? WHERE price < ?");
    Run(*update, "UPDATE qty + 5 WHERE price < 100", {5, 100});
    Run(*update, "UPDATE qty + 5 WHERE price < 0", {5, 0});
    update->Destroy();
    auto failing = c.NewStatement("INSERT INTO no_such_table VALUES (?)");
    Run(*failing, "INSERT into a table that does not exist", {1});
    failing->Destroy();
}

void OnKivodbc(SQLConnection& c) {
    if (!c.BeginTransaction()) {
        Say("  no transaction: " + c.ErrorMessage());
        return;
    }
    auto update = c.NewStatement("UPDATE orders SET AMOUNT = AMOUNT * ? WHERE AMOUNT > ?");
    Run(*update, "UPDATE orders AMOUNT * 1.1 WHERE AMOUNT > 100 (in a transaction)", {1.1, 100});
    update->Destroy();
    bool rolledBack = c.RollbackTransaction();
    c.EndTransaction();
    Say(std::string("  ROLLBACK: ") + (rolledBack ? "done, the sample is as it was" : "failed"));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string kivodbc = argc > 1 ? argv[1] : "KivSample";
    const std::string sqlite = argc > 2 ? argv[2] : "RowxppSqlite";
    SQLConnection::ClassObject();
    for (const std::string& dsn : {kivodbc, sqlite}) {
        Say("== ROWXPP on the data source " + dsn);
        auto c = Open(dsn);
        if (!c) continue;
        if (dsn == sqlite) OnSqlite(*c);
        else OnKivodbc(*c);
        c->Destroy();
    }
    Say("(Reading rows back comes with ROWXPP's cursors, which are not built yet.)");
    xpp::Quit(0);
}
