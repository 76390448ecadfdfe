// qelxpp_bench: what the replication of QELXPP costs against plain ODBC, on
// the SQLite ODBC driver over fresh files, through unixODBC.
//
//   qelxpp_bench [rows]      (default 100000)
//
// (1) QELXPP: a replicated CDX table of five columns (C, N, L, D, C); per
//     row one DBAPPEND, five FIELDPUTs and a DBUNLOCK, so that every row is
//     written to the engine table and sent (a DELETE and an INSERT) into a
//     fresh SQLite database.
// (2) Plain ODBC: the same rows into another fresh SQLite database, one
//     prepared INSERT executed per row in autocommit.
// Both in wall-clock time. The goal: (1) within 3 times (2).
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <qelxpp/qelxpp.h>

#include "kiv_odbc_testing/admin_connection.h"
#include "kiv_odbc_testing/driver_libraries.h"

namespace {

using xpp::Value;
namespace fs = std::filesystem;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "qelxpp_bench: %s\n", what.c_str());
    std::exit(1);
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Must(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
    if (!SQL_SUCCEEDED(rc)) Fail(what + ": " + kivodbc::testing::DiagnosticText(type, handle));
}

// "_RECNO" is the replica's row key: every change finds its row by it.
const char* kCreate =
    "CREATE TABLE BENCH (_RECNO INTEGER PRIMARY KEY, NAME VARCHAR(20), AMOUNT NUMERIC(10,2), ACTIVE INTEGER, SINCE DATE, "
    "CITY VARCHAR(20))";

std::string NameOf(int i) { return "customer " + std::to_string(i); }
std::string CityOf(int i) { return "city " + std::to_string(i % 97); }
double AmountOf(int i) { return (i % 10000) / 100.0 + 0.25; }

struct Odbc {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    explicit Odbc(const std::string& connect) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        std::string text = connect;
        Must(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr, 0, nullptr,
                              SQL_DRIVER_NOPROMPT),
             SQL_HANDLE_DBC, dbc, "connect");
    }
    ~Odbc() {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
};

double Replicated(const std::string& connect, int rows) {
    {
        Odbc target(connect);
        kivodbc::testing::ExecuteOn(target.dbc, kCreate);
    }
    if (!qelxpp::QELLOADDLL().Log()) Fail("the engine did not load");
    qelxpp::QELSQLREPLICATE("BENCH");
    qelxpp::QELSQLREPLICATECONNECTION(connect);
    qelxpp::QELSETTABLETYPE(2);
    auto field = [](const char* n, const char* t, int l, int d) { return Value(xpp::Array{n, t, l, d}); };
    if (!qelxpp::DBCREATE("BENCH.DBF", xpp::Array{field("NAME", "C", 20, 0), field("AMOUNT", "N", 10, 2),
                                                   field("ACTIVE", "L", 1, 0), field("SINCE", "D", 8, 0),
                                                   field("CITY", "C", 20, 0)})
             .Log() ||
        !qelxpp::DBUSEAREA(true, Value(), "BENCH.DBF", Value(), true).Log())
        Fail("cannot make the engine table");
    const Value since = xpp::SToD("20060530");
    double started = Now();
    for (int i = 1; i <= rows; ++i) {
        qelxpp::DBAPPEND();
        qelxpp::FIELDPUT(1, NameOf(i));
        qelxpp::FIELDPUT(2, AmountOf(i));
        qelxpp::FIELDPUT(3, i % 2 == 0);
        qelxpp::FIELDPUT(4, since);
        qelxpp::FIELDPUT(5, CityOf(i));
        qelxpp::DBUNLOCK();
    }
    double elapsed = Now() - started;
    qelxpp::DBCLOSEAREA();
    Odbc target(connect);
    if (kivodbc::testing::ScalarOn(target.dbc, "SELECT count(*) FROM BENCH") != std::to_string(rows))
        Fail("the replica does not hold every row");
    return elapsed;
}

double Plain(const std::string& connect, int rows) {
    Odbc db(connect);
    kivodbc::testing::ExecuteOn(db.dbc, kCreate);
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, db.dbc, &stmt);
    std::string sql = "INSERT INTO BENCH (_RECNO, NAME, AMOUNT, ACTIVE, SINCE, CITY) VALUES (?, ?, ?, ?, ?, ?)";
    double started = Now();
    Must(SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), SQL_HANDLE_STMT, stmt, "prepare");
    SQLINTEGER recNo = 0, active = 0;
    char name[32], city[32];
    double amount = 0;
    SQL_DATE_STRUCT date{2006, 5, 30};
    SQLLEN lengths[6] = {0, 0, 0, 0, 0, 0};
    SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, &recNo, 0, &lengths[0]);
    SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, name, sizeof name, &lengths[1]);
    SQLBindParameter(stmt, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &amount, 0, &lengths[2]);
    SQLBindParameter(stmt, 4, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, &active, 0, &lengths[3]);
    SQLBindParameter(stmt, 5, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &date, 0, &lengths[4]);
    SQLBindParameter(stmt, 6, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, city, sizeof city, &lengths[5]);
    for (int i = 1; i <= rows; ++i) {
        recNo = i;
        lengths[1] = std::snprintf(name, sizeof name, "%s", NameOf(i).c_str());
        amount = AmountOf(i);
        active = i % 2 == 0 ? 1 : 0;
        lengths[5] = std::snprintf(city, sizeof city, "%s", CityOf(i).c_str());
        Must(SQLExecute(stmt), SQL_HANDLE_STMT, stmt, "execute");
    }
    double elapsed = Now() - started;
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    if (rows <= 0) Fail("usage: qelxpp_bench [rows]");
    const std::string driver = kivodbc::testing::SqliteOdbcDriverPath();
    if (driver.empty()) Fail("the SQLite ODBC driver (libsqliteodbc) is not installed");
    std::string pattern = (fs::temp_directory_path() / "qelxpp_bench.XXXXXX").string();
    if (!mkdtemp(pattern.data())) Fail("no temporary folder");
    const fs::path folder = pattern;
    if (chdir(folder.c_str()) != 0) Fail("cannot enter " + folder.string());
    auto connect = [&](const char* file) { return "DRIVER=" + driver + ";Database=" + (folder / file).string(); };

    const double replicated = Replicated(connect("replica.db"), rows);
    const double plain = Plain(connect("plain.db"), rows);
    fs::remove_all(folder);
    std::printf("rows: %d\n", rows);
    std::printf("QELXPP append + replicate: %.0f rows/s (%.2f s)\n", rows / replicated, replicated);
    std::printf("plain ODBC prepared INSERT: %.0f rows/s (%.2f s)\n", rows / plain, plain);
    std::printf("ratio QELXPP / plain ODBC: %.2f (goal: at most 3)\n", replicated / plain);
    xpp::Quit(0);
}
