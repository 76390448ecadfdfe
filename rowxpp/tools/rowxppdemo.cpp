// rowxppdemo: a small ROWXPP program. For each data source it connects and
// prints what the driver reports; on the SQLite data source it creates a
// table and inserts rows with parameters of every kind, then updates them;
// on the KIVODBC data source it updates rows inside a transaction and rolls
// the change back, so the data source is left as it was. Then, on both, it
// reads the customers and their orders: through a cursor (SQLSelect), and
// through data sets (SQLDataSet), the orders in a child data set that
// follows the current customer. The SQLite data source gets the sample's
// customers and orders from the demo itself.
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
#include "rowxpp/sql_dataset.h"
#include "rowxpp/sql_select.h"
#include "rowxpp/sql_statement.h"
#include "xpp/xpp.h"

namespace {

using rowxpp::SQLConnection;
using rowxpp::SQLDataSet;
using rowxpp::SQLSelect;
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

// The sample's customers and orders, written into the SQLite data source
// afresh, without keys as in the sample, and in another order than the one
// the readings sort by. The amounts are FLOAT, since the SQLite driver
// describes a DECIMAL column as text.
void CustomersAndOrders(SQLConnection& c) {
    c.Execute("DROP TABLE IF EXISTS customer");
    c.Execute("DROP TABLE IF EXISTS orders");
    c.Execute("CREATE TABLE customer (ID INTEGER, NAME VARCHAR(30))");
    c.Execute("CREATE TABLE orders (ORDERNO INTEGER, CUSTID INTEGER, AMOUNT FLOAT, ORDERED DATE)");
    struct Customer {
        int id;
        const char* name;
    };
    for (const Customer& r : {Customer{3, "Ostend Traders"}, Customer{1, "Harbour Supplies"},
                              Customer{2, "North Mill Ltd"}})
        c.Execute("INSERT INTO customer VALUES (?, ?)", xpp::Array{r.id, r.name});
    struct Order {
        int number, customer;
        double amount;
        int year, month, day;
    };
    for (const Order& r : {Order{1003, 1, 75.25, 2024, 2, 12}, Order{1002, 3, 1200, 2024, 2, 11},
                           Order{1001, 1, 250.5, 2024, 1, 5}})
        c.Execute("INSERT INTO orders VALUES (?, ?, ?, ?)",
                  xpp::Array{r.number, r.customer, r.amount, xpp::Date::FromYMD(r.year, r.month, r.day)});
}

std::string NumberText(const xpp::Value& v, int decimals = 0) {
    return v.IsNum() ? xpp::AllTrim(xpp::Str(v, 12, decimals)) : xpp::Var2Char(v);
}

std::string Day(const xpp::Value& v) {
    if (!v.IsDate() || v.Dat().IsEmpty()) return xpp::Var2Char(v);
    std::string s = xpp::DToS(v.Dat());
    return s.substr(0, 4) + "-" + s.substr(4, 2) + "-" + s.substr(6, 2);
}

// The customers by name through a cursor: GoTop, then Skip until Eof.
void CustomersThroughCursor(SQLConnection& c) {
    auto cursor = c.Cursor("SELECT ID, NAME FROM customer ORDER BY NAME");
    if (cursor->Execute() == rowxpp::kExecFailed) {
        Say("  SQLSelect failed: " + xpp::Trim(cursor->ErrorMessage()));
        cursor->Destroy();
        return;
    }
    Say("  SQLSelect, customers by name (RecCount " + std::to_string(cursor->RecCount()) + "):");
    for (cursor->GoTop(); !cursor->Eof(); cursor->Skip())
        Say("    " + NumberText(cursor->FieldGet("ID")) + "  " + xpp::Trim(cursor->FieldGet("NAME").Str()));
    cursor->Destroy();
}

// The orders of the customer the child data set follows.
void PrintOrders(SQLDataSet& customers, SQLDataSet& orders) {
    const int64_t n = orders.RecCount();
    Say("    " + xpp::Trim(customers.FieldGet("NAME").Str()) + ": " + std::to_string(n) +
        (n == 1 ? " order" : " orders"));
    for (orders.GoTop(); !orders.Eof(); orders.Skip())
        Say("      " + NumberText(orders.FieldGet("ORDERNO")) + "  " + Day(orders.FieldGet("ORDERED")) + "  " +
            NumberText(orders.FieldGet("AMOUNT"), 2));
}

// The customers by name in a data set, and their orders in a child data
// set whose parameter block reads the customer the parent stands on.
void CustomersThroughDataSets(SQLConnection& c) {
    auto customers = c.DataSet("SELECT ID, NAME FROM customer ORDER BY NAME");
    std::weak_ptr<SQLDataSet> parent = customers;
    auto orders = c.DataSet("SELECT ORDERNO, ORDERED, AMOUNT FROM orders WHERE CUSTID = ? ORDER BY ORDERNO",
                            xpp::Block([parent](xpp::Args&) -> xpp::Value {
                                auto p = parent.lock();
                                return xpp::Array{p ? p->FieldGet("ID") : xpp::Value()};
                            }));
    customers->SetRelation(xpp::Value(orders));
    Say("  SQLDataSet, customers by name (RecCount " + std::to_string(customers->RecCount()) +
        "), their orders in a child data set:");
    customers->GoTop();
    PrintOrders(*customers, *orders);
    customers->GoBottom();
    PrintOrders(*customers, *orders);
    customers->ClearRelation();
    orders->Destroy();
    customers->Destroy();
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
        if (dsn == sqlite) {
            OnSqlite(*c);
            CustomersAndOrders(*c);
        } else {
            OnKivodbc(*c);
        }
        CustomersThroughCursor(*c);
        CustomersThroughDataSets(*c);
        c->Destroy();
    }
    xpp::Quit(0);
}
