// rowxpp_bench: what ROWXPP's statements add to plain ODBC, on the SQLite
// ODBC driver over a temporary file, through unixODBC.
//
//   rowxpp_bench [rows]      (default 100000)
//
// (1) Prepared INSERTs of three parameters (integer, text, double) in one
//     transaction: SQLStatement:Prepare once, then Execute(i, name, amount)
//     per row; against a plain program making the calls ROWXPP makes per row
//     (SQLFreeStmt with SQL_RESET_PARAMS, three SQLBindParameter, SQLExecute,
//     SQLRowCount) on its own buffers.
// (2) One-shot parameterised statements in one transaction:
//     SQLConnection:Execute(text, params) per row; against plain allocate,
//     bind, SQLExecDirect, free.
// Both sides write tables of their own; the rows must agree. For information,
// a plain program that binds once and executes many. Times are the thread's
// processor time (the driver runs in this thread), the best of three rounds.
#include <sql.h>
#include <sqlext.h>
#include <stdlib.h>

#include <time.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "kiv_odbc_testing/admin_connection.h"
#include "kiv_odbc_testing/driver_libraries.h"
#include "kiv_odbc_testing/odbc_config.h"
#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_statement.h"
#include "xpp/xpp.h"

namespace {

// The calling thread's processor time: steadier than the wall clock on a
// shared machine, and the whole of the work here runs on this thread.
struct Clock {
    using time_point = double;
    static double now() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
    }
};
using rowxpp::SQLConnection;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "rowxpp_bench: %s\n", what.c_str());
    std::exit(1);
}

double Since(Clock::time_point t) { return Clock::now() - t; }

void Must(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
    if (!SQL_SUCCEEDED(rc)) Fail(what + ": " + kivodbc::testing::DiagnosticText(type, handle));
}

// The values of row i.
struct RowValues {
    SQLINTEGER id;
    char name[32];
    SQLLEN nameLength;
    double amount;
};

RowValues ValuesOf(int i) {
    RowValues v;
    v.id = i;
    v.nameLength = std::snprintf(v.name, sizeof v.name, "customer %d", i);
    v.amount = (i % 100000) / 100.0 + 0.25;
    return v;
}

const char* kCreate = "CREATE TABLE %s (id INTEGER, name VARCHAR(30), amount DOUBLE)";

void Direct(SQLHDBC dbc, const std::string& sql) { kivodbc::testing::ExecuteOn(dbc, sql); }

void CreateTable(SQLHDBC dbc, const std::string& table) {
    char sql[200];
    std::snprintf(sql, sizeof sql, kCreate, table.c_str());
    Direct(dbc, sql);
}

// The plain program's per-row binding, as ROWXPP binds: SMALLINT for the small
// ids, INTEGER beyond; the text as SQL_CHAR; the double.
void BindRow(SQLHSTMT stmt, RowValues& v, SQLLEN* indicators) {
    indicators[0] = v.id <= 32767 ? 2 : 4;
    indicators[1] = v.nameLength;
    indicators[2] = 8;
    if (v.id <= 32767)
        Must(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SHORT, SQL_SMALLINT, 5, 0, &v.id, 2, &indicators[0]),
             SQL_HANDLE_STMT, stmt, "bind 1");
    else
        Must(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, &v.id, 4, &indicators[0]),
             SQL_HANDLE_STMT, stmt, "bind 1");
    Must(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, static_cast<SQLULEN>(v.nameLength), 0, v.name,
                          v.nameLength, &indicators[1]),
         SQL_HANDLE_STMT, stmt, "bind 2");
    Must(SQLBindParameter(stmt, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 10, 0, &v.amount, 8, &indicators[2]),
         SQL_HANDLE_STMT, stmt, "bind 3");
}

double PlainPrepared(SQLHDBC dbc, int rows, bool bindOnce) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    std::string sql = bindOnce ? "INSERT INTO p_once VALUES (?, ?, ?)" : "INSERT INTO p_prepared VALUES (?, ?, ?)";
    Must(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0), SQL_HANDLE_DBC,
         dbc, "autocommit off");
    auto started = Clock::now();
    Must(SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), SQL_HANDLE_STMT, stmt, "prepare");
    RowValues v{};
    SQLLEN indicators[3];
    if (bindOnce) {
        // integers bound once as SQL_INTEGER: every id fits
        indicators[0] = 4;
        indicators[1] = 0;
        indicators[2] = 8;
        SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, &v.id, 4, &indicators[0]);
        SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, 30, 0, v.name, sizeof v.name, &indicators[1]);
        SQLBindParameter(stmt, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 10, 0, &v.amount, 8, &indicators[2]);
    }
    for (int i = 1; i <= rows; ++i) {
        v = ValuesOf(i);
        if (bindOnce) {
            indicators[1] = v.nameLength;
        } else {
            SQLFreeStmt(stmt, SQL_RESET_PARAMS);
            BindRow(stmt, v, indicators);
        }
        Must(SQLExecute(stmt), SQL_HANDLE_STMT, stmt, "execute");
        SQLLEN count = 0;
        SQLRowCount(stmt, &count);
        if (count != 1) Fail("plain INSERT counted " + std::to_string(count));
    }
    Must(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_HANDLE_DBC, dbc, "commit");
    double seconds = Since(started);
    SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return seconds;
}

// `sameCalls`: also the calls ROWXPP's one-shot statement makes beyond
// these (the liveness check before allocating, the parameter reset before
// binding, the row count, and the reset and close before the drop).
double PlainOneShot(SQLHDBC dbc, int rows, bool sameCalls = false) {
    std::string sql = sameCalls ? "INSERT INTO p_same VALUES (?, ?, ?)" : "INSERT INTO p_oneshot VALUES (?, ?, ?)";
    Must(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0), SQL_HANDLE_DBC,
         dbc, "autocommit off");
    auto started = Clock::now();
    for (int i = 1; i <= rows; ++i) {
        RowValues v = ValuesOf(i);
        SQLLEN indicators[3];
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        if (sameCalls) {
            SQLULEN dead = 0;
            SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
        }
        Must(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_HANDLE_DBC, dbc, "allocate");
        if (sameCalls) SQLFreeStmt(stmt, SQL_RESET_PARAMS);
        BindRow(stmt, v, indicators);
        Must(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), static_cast<SQLINTEGER>(sql.size())),
             SQL_HANDLE_STMT, stmt, "execute");
        if (sameCalls) {
            SQLLEN count = 0;
            SQLRowCount(stmt, &count);
            SQLFreeStmt(stmt, SQL_RESET_PARAMS);
            SQLFreeStmt(stmt, SQL_CLOSE);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }
    Must(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_HANDLE_DBC, dbc, "commit");
    double seconds = Since(started);
    SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    return seconds;
}

double RowxppPrepared(SQLConnection& c, int rows) {
    if (!c.BeginTransaction()) Fail("ROWXPP: no transaction");
    auto started = Clock::now();
    auto s = c.NewStatement();
    if (!s->Prepare("INSERT INTO r_prepared VALUES (?, ?, ?)")) Fail("ROWXPP prepare: " + s->ErrorMessage());
    for (int i = 1; i <= rows; ++i) {
        RowValues v = ValuesOf(i);
        int64_t r = s->Execute({v.id, std::string(v.name, static_cast<size_t>(v.nameLength)),
                               xpp::Number::Double(v.amount, 2)});
        if (r != 1) Fail("ROWXPP INSERT answered " + std::to_string(r) + ": " + s->ErrorMessage());
    }
    if (!c.CommitTransaction()) Fail("ROWXPP commit");
    double seconds = Since(started);
    c.EndTransaction();
    s->Destroy();
    return seconds;
}

double RowxppOneShot(SQLConnection& c, int rows) {
    // the text made once, as the plain program makes its own
    const xpp::Value sql = "INSERT INTO r_oneshot VALUES (?, ?, ?)";
    if (!c.BeginTransaction()) Fail("ROWXPP: no transaction");
    auto started = Clock::now();
    for (int i = 1; i <= rows; ++i) {
        RowValues v = ValuesOf(i);
        int64_t r = c.Execute(sql, xpp::Array{v.id, std::string(v.name, static_cast<size_t>(v.nameLength)),
                               xpp::Number::Double(v.amount, 2)});
        if (r != 1) Fail("ROWXPP one-shot INSERT answered " + std::to_string(r));
    }
    if (!c.CommitTransaction()) Fail("ROWXPP commit");
    double seconds = Since(started);
    c.EndTransaction();
    return seconds;
}

// A digest of a table's rows: count, sums of ids, name lengths and amounts.
std::string Digest(SQLHDBC dbc, const std::string& table) {
    auto rows = kivodbc::testing::QueryOn(
        dbc, "SELECT count(*), sum(id), sum(length(name)), printf('%.2f', sum(amount)), "
             "sum(typeof(amount) = 'real'), sum(typeof(id) = 'integer') FROM " + table);
    std::string digest;
    for (const auto& value : rows.at(0)) digest += value.value_or("NULL") + " ";
    return digest;
}

void Report(const char* what, int rows, double plain, double rowxpp) {
    std::printf("%s\n", what);
    std::printf("  plain ODBC  %8.3f s processor time  %10.0f rows/s\n", plain, rows / plain);
    std::printf("  ROWXPP      %8.3f s processor time  %10.0f rows/s\n", rowxpp, rows / rowxpp);
    std::printf("  ratio ROWXPP / plain: %.2f (goal: at most 1.20)\n", rowxpp / plain);
}

}  // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    if (rows <= 0) Fail("the number of rows must be positive");
    const std::string driver = kivodbc::testing::SqliteOdbcDriverPath();
    if (driver.empty()) Fail("the SQLite ODBC driver (Debian package libsqliteodbc) is not installed");
    // A private configuration naming the SQLite ODBC driver; removed at the end.
    const kivodbc::testing::OdbcConfig config("[SqliteBench]\nDriver=" + driver + "\n", "");
    const std::string folder = config.Root().string();
    const std::string connect = "DRIVER=SqliteBench;Database=" + folder + "/bench.db";

    // The plain side's own environment and connection.
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::string text = connect;
    Must(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr, 0, nullptr,
                          SQL_DRIVER_NOPROMPT),
         SQL_HANDLE_DBC, dbc, "connect");
    for (const char* table : {"p_prepared", "p_once", "p_oneshot", "p_same", "r_prepared", "r_oneshot"}) CreateTable(dbc, table);

    auto c = SQLConnection::New();
    if (!c->DriverConnect(xpp::Value(), connect, SQL_DRIVER_NOPROMPT)) Fail("ROWXPP connect: " + c->ErrorMessage());

    std::printf("rowxpp_bench: %d rows per run, SQLite ODBC driver over %s/bench.db\n", rows, folder.c_str());
    // Three rounds, the sides taking turns over emptied tables; each side's
    // best round counts.
    double plainPrepared = 1e30, rowxppPrepared = 1e30, plainOnce = 1e30, plainOneShot = 1e30,
           rowxppOneShot = 1e30, plainSame = 1e30;
    for (int round = 0; round < 3; ++round) {
        for (const char* table : {"p_prepared", "p_once", "p_oneshot", "p_same", "r_prepared", "r_oneshot"})
            Direct(dbc, std::string("DELETE FROM ") + table);
        plainPrepared = std::min(plainPrepared, PlainPrepared(dbc, rows, false));
        rowxppPrepared = std::min(rowxppPrepared, RowxppPrepared(*c, rows));
        plainOnce = std::min(plainOnce, PlainPrepared(dbc, rows, true));
        plainOneShot = std::min(plainOneShot, PlainOneShot(dbc, rows));
        rowxppOneShot = std::min(rowxppOneShot, RowxppOneShot(*c, rows));
        plainSame = std::min(plainSame, PlainOneShot(dbc, rows, true));
    }

    const std::string prepared = Digest(dbc, "p_prepared"), oneShot = Digest(dbc, "p_oneshot");
    if (Digest(dbc, "r_prepared") != prepared) Fail("the prepared INSERTs wrote different rows");
    if (Digest(dbc, "r_oneshot") != oneShot) Fail("the one-shot INSERTs wrote different rows");
    if (Digest(dbc, "p_once") != prepared) Fail("the bind-once INSERTs wrote different rows");
    if (Digest(dbc, "p_same") != oneShot) Fail("the plain INSERTs with ROWXPP's calls wrote different rows");
    std::printf("both sides wrote the same rows (count, sums: %s)\n\n", prepared.c_str());

    Report("(1) prepared INSERT of three parameters, one transaction", rows, plainPrepared, rowxppPrepared);
    std::printf("  for information, plain ODBC binding once: %8.3f s  %10.0f rows/s\n\n", plainOnce,
                rows / plainOnce);
    Report("(2) one-shot parameterised INSERT, one transaction", rows, plainOneShot, rowxppOneShot);
    std::printf("  for information, plain ODBC making ROWXPP's further calls too: %8.3f s (ratio ROWXPP / it: %.2f)\n",
                plainSame, rowxppOneShot / plainSame);

    c->Destroy();
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    xpp::Quit(0);
}
