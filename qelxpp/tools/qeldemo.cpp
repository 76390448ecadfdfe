// The QELXPP demo: an application's database work on engine tables, with
// one table replicated into an SQLite database through the SQLite ODBC
// driver. In a fresh folder it creates the tables, names CUSTOMER for
// replication (its target table made through ROWXPP), appends, edits under
// locks, indexes, seeks, deletes and closes; then it prints the engine
// table beside the replica's rows read back through ROWXPP.
//
//   qeldemo FOLDER
//
// The driver manager must know the driver "SQLite3 ODBC Driver".
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <qelxpp/qelxpp.h>
#include <rowxpp/sql_connection.h>
#include <rowxpp/sql_select.h>
#include <rowxpp/sql_statement.h>

namespace {

using xpp::Value;
using namespace qelxpp;

xpp::Array Field(const char* name, const char* type, int len, int dec) {
    return xpp::Array{Value(name), Value(type), Value(len), Value(dec)};
}

std::string Line(const Value& recNo, const Value& name, const Value& amount, const Value& active,
                 const Value& since) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "%4lld  %-12s %10s  %-3s %s", static_cast<long long>(recNo.Int()),
                  xpp::Trim(name.IsChar() ? name.Str() : std::string()).c_str(),
                  xpp::LTrim(xpp::Str(amount, 10, 2)).c_str(), active.Log() ? "yes" : "no",
                  since.IsDate() ? xpp::DToS(since.Dat()).c_str() : since.IsChar() ? since.Str().c_str() : "");
    return buf;
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "qeldemo: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return Fail("usage: qeldemo FOLDER");
    namespace fs = std::filesystem;
    const fs::path folder = fs::absolute(argv[1]);
    fs::remove_all(folder);
    fs::create_directories(folder);
    if (chdir(folder.c_str()) != 0) return Fail("cannot enter " + folder.string());
    xpp::ErrorBlock(xpp::Block([](xpp::Args& a) -> Value {
        auto e = a.Get(1).As<xpp::Error>();
        std::fprintf(stderr, "qeldemo: error %s\n", e ? xpp::Var2Char(e->description).c_str() : "?");
        return {};
    }));

    // The engine first: the thread's end action is QELXPP's.
    if (!QELLOADDLL().Log()) return Fail("the engine did not load");

    // The replica: an SQLite database with CUSTOMER and its "_RECNO".
    const std::string connect = "DRIVER={SQLite3 ODBC Driver};Database=" + (folder / "replica.db").string();
    {
        auto conn = rowxpp::SQLConnection::New();
        if (!conn->DriverConnect(Value(), connect, 0)) return Fail("cannot reach the SQLite ODBC driver");
        conn->Execute("CREATE TABLE CUSTOMER (_RECNO INTEGER PRIMARY KEY, NAME VARCHAR(20), AMOUNT NUMERIC(10,2), "
                      "ACTIVE INTEGER, SINCE DATE, NOTES TEXT)");
        conn->Destroy();
    }

    QELSQLREPLICATE("customer");
    QELSQLREPLICATECONNECTION(connect);
    QELSETTABLETYPE(2);
    DBCREATE("CUSTOMER.DBF", xpp::Array{Value(Field("NAME", "C", 20, 0)), Value(Field("AMOUNT", "N", 10, 2)),
                                        Value(Field("ACTIVE", "L", 1, 0)), Value(Field("SINCE", "D", 8, 0)),
                                        Value(Field("NOTES", "M", 10, 0))});
    DBCREATE("ORDERS.DBF", xpp::Array{Value(Field("CUSTNO", "N", 6, 0)), Value(Field("ITEM", "C", 20, 0))});

    std::printf("== QELXPP: engine tables with CUSTOMER replicated into SQLite\n");
    if (!DBUSEAREA(true, Value(), "CUSTOMER.DBF", Value(), true).Log()) return Fail("cannot open CUSTOMER");
    struct Customer {
        const char* name;
        double amount;
        bool active;
        const char* since;
    } const customers[] = {{"Miller", 120.5, true, "20060530"}, {"Baker", 0, false, ""},
                           {"Carter", 75.25, true, "20190101"}, {"Dunn", 310, true, "20221115"},
                           {"Evans", 42, false, "20230704"}};
    for (const Customer& c : customers) {
        DBAPPEND();
        FIELDPUT(1, c.name);
        FIELDPUT(2, c.amount);
        FIELDPUT(3, c.active);
        FIELDPUT(4, Value(xpp::SToD(c.since)));
        FIELDPUT(5, std::string("Customer note of ") + c.name);
    }
    DBUNLOCK();
    std::printf("appended %lld customers\n", static_cast<long long>(LASTREC().Int()));

    ORDCREATE(Value(), "NAME", "NAME");
    ORDLISTADD();
    if (DBSEEK("Carter").Log() && RLOCK().Log()) {
        FIELDPUT(2, 99.75);
        DBUNLOCK();
        std::printf("sought Carter (record %lld) and changed the amount under a lock\n",
                    static_cast<long long>(RECNO().Int()));
    }
    if (DBSEEK("Baker").Log() && RLOCK().Log()) {
        DBDELETE();
        DBUNLOCK();
        std::printf("deleted Baker (record %lld)\n", static_cast<long long>(RECNO().Int()));
    }
    DBGOBOTTOM();
    FIELDPUT(3, true);
    DBCLOSEAREA();
    std::printf("closed CUSTOMER\n");

    DBUSEAREA(true, Value(), "ORDERS.DBF", Value(), true);
    DBAPPEND();
    FIELDPUT(1, 1);
    FIELDPUT(2, "Lamp");
    DBCLOSEAREA();

    // The engine table, records not deleted, by record number.
    std::vector<std::string> engine, replica;
    DBUSEAREA(true, Value(), "CUSTOMER.DBF", Value(), true);
    for (DBGOTOP(); !EOF_().Log(); DBSKIP()) {
        if (DELETED().Log()) continue;
        engine.push_back(Line(RECNO(), FIELDGET(1), FIELDGET(2), FIELDGET(3), FIELDGET(4)));
    }
    DBCLOSEAREA();

    // The replica, read back through ROWXPP.
    {
        auto conn = rowxpp::SQLConnection::New();
        if (!conn->DriverConnect(Value(), connect, 0)) return Fail("cannot read the replica");
        auto select = rowxpp::SQLSelect::New("SELECT _RECNO, NAME, AMOUNT, ACTIVE, SINCE FROM CUSTOMER ORDER BY _RECNO",
                                             Value(conn));
        if (select->Execute() < -1) return Fail("cannot query the replica");
        for (select->GoTop(); !select->Eof(); select->Skip()) {
            Value since = select->FieldGet(5);
            if (since.IsChar()) since = xpp::StrTran(since.Str(), "-");
            replica.push_back(Line(select->FieldGet(1), select->FieldGet(2), select->FieldGet(3),
                                   Value(select->FieldGet(4).Int() == 1), since));
        }
        select->Destroy();
        conn->Destroy();
    }

    std::printf("\n%-46s| %s\n", "engine table CUSTOMER", "SQLite replica CUSTOMER");
    std::printf("%-46s| %s\n", "recno name            amount  act since", "_recno name          amount  act since");
    const size_t rows = std::max(engine.size(), replica.size());
    for (size_t i = 0; i < rows; ++i)
        std::printf("%-46s| %s\n", i < engine.size() ? engine[i].c_str() : "", i < replica.size() ? replica[i].c_str() : "");
    // QUIT runs the program's end (the thread's disconnect and the end of
    // its replication connection) before the libraries go down.
    if (engine != replica) {
        std::printf("\nQELXPP demo: the replica differs from the engine table\n");
        xpp::Quit(1);
    }
    std::printf("\nQELXPP demo: %zu rows, engine table and replica match\n", engine.size());
    xpp::Quit(0);
}
