// rowxpp_fill_bench: filling an SQLDataSet against reading the same rows
// with the plain ODBC C API, on the SQLite ODBC driver over a temporary
// file, through unixODBC.
//
//   rowxpp_fill_bench [rows]      (default 1000000)
//
// The table holds five columns (integer, VARCHAR(20), decimal, date,
// integer). The plain side sets the data set's statement attributes
// (read-only, forward-only), binds every column, calls SQLFetch per row,
// reads each value and frees its statement, as the fill drops its own (the
// driver lets go of the result then). Each side runs in a child process of its own, three
// times; the best processor time counts. Memory per row: the peak resident
// size (VmHWM) less the resident size before the statement, and, for the
// data set, what the cache keeps once the cursor is dropped.
#include <sql.h>
#include <sqlext.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "kiv_odbc_testing/admin_connection.h"
#include "kiv_odbc_testing/driver_libraries.h"
#include "kiv_odbc_testing/odbc_config.h"
#include "rowxpp/sql_dataset.h"
#include "xpp/xpp.h"

namespace {

double CpuNow() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "rowxpp_fill_bench: %s\n", what.c_str());
    std::_Exit(1);
}

// A field of /proc/self/status in kB.
long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
    return 0;
}

const char* kSelect = "SELECT id, name, amount, born, qty FROM fill";

struct Result {
    double seconds = 0;
    long peakKb = 0;
    long keptKb = 0;
    double dropSeconds = 0;  // of `seconds`: freeing the statement
    long rows = 0;
};

Result PlainSide(const std::string& connect) {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::string text = connect;
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr, 0,
                                        nullptr, SQL_DRIVER_NOPROMPT)))
        Fail("plain connect");
    Result r;
    const long before = StatusKb("VmRSS");
    const double t0 = CpuNow();
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    SQLSetStmtAttr(stmt, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY), SQL_IS_INTEGER);
    SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_FORWARD_ONLY), SQL_IS_INTEGER);
    std::string sql = kSelect;
    if (!SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS)))
        Fail("plain select: " + kivodbc::testing::DiagnosticText(SQL_HANDLE_STMT, stmt));
    SQLINTEGER id = 0, qty = 0;
    char name[64], amount[64];
    SQL_DATE_STRUCT born{};
    SQLLEN ind[5] = {};
    SQLBindCol(stmt, 1, SQL_C_LONG, &id, 4, &ind[0]);
    SQLBindCol(stmt, 2, SQL_C_CHAR, name, sizeof name, &ind[1]);
    SQLBindCol(stmt, 3, SQL_C_CHAR, amount, sizeof amount, &ind[2]);
    SQLBindCol(stmt, 4, SQL_C_TYPE_DATE, &born, sizeof born, &ind[3]);
    SQLBindCol(stmt, 5, SQL_C_LONG, &qty, 4, &ind[4]);
    long long sum = 0;
    while (SQL_SUCCEEDED(SQLFetch(stmt))) {
        // each value read
        sum += id + qty + born.day + static_cast<long long>(std::strtod(amount, nullptr)) +
               static_cast<long long>(std::string(name, static_cast<size_t>(std::max<SQLLEN>(ind[1], 0))).size());
        ++r.rows;
    }
    r.peakKb = StatusKb("VmHWM") - before;
    const double t1 = CpuNow();
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    r.seconds = CpuNow() - t0;
    r.dropSeconds = CpuNow() - t1;
    r.keptKb = StatusKb("VmRSS") - before;
    if (sum == 42) std::printf(" ");
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return r;
}

Result DataSetSide(const std::string& connect) {
    auto c = rowxpp::SQLConnection::New();
    if (!c->DriverConnect(xpp::Value(), connect, SQL_DRIVER_NOPROMPT)) Fail("ROWXPP connect: " + c->ErrorMessage());
    Result r;
    const long before = StatusKb("VmRSS");
    const double t0 = CpuNow();
    auto ds = rowxpp::SQLDataSet::New(kSelect, c);
    r.rows = ds->FetchData();
    r.seconds = CpuNow() - t0;
    r.peakKb = StatusKb("VmHWM") - before;
    r.keptKb = StatusKb("VmRSS") - before;
    if (c->ActiveStatements() != 0) Fail("the fill left its statement");
    return r;
}

// For information: the data set's cursor alone, read to its end without
// keeping the rows.
Result CursorSide(const std::string& connect) {
    auto c = rowxpp::SQLConnection::New();
    if (!c->DriverConnect(xpp::Value(), connect, SQL_DRIVER_NOPROMPT)) Fail("ROWXPP connect: " + c->ErrorMessage());
    Result r;
    const long before = StatusKb("VmRSS");
    const double t0 = CpuNow();
    auto cursor = rowxpp::SQLSelect::New(kSelect, c, 1, 0);
    cursor->Execute();
    while (!cursor->Eof()) {
        r.rows += cursor->RowBuffer.Len() > 0 ? 1 : 0;
        cursor->Skip();
    }
    r.seconds = CpuNow() - t0;
    r.peakKb = StatusKb("VmHWM") - before;
    cursor->Destroy();
    return r;
}

// Runs `side` in a child process; its result comes back through a pipe.
template <class Side>
Result InChild(Side side, const std::string& connect) {
    int fds[2];
    if (pipe(fds) != 0) Fail("pipe");
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Result r = side(connect);
        std::string line = std::to_string(r.seconds) + " " + std::to_string(r.peakKb) + " " +
                           std::to_string(r.keptKb) + " " + std::to_string(r.rows) + " " +
                           std::to_string(r.dropSeconds) + "\n";
        if (write(fds[1], line.data(), line.size()) < 0) std::_Exit(2);
        std::_Exit(0);
    }
    close(fds[1]);
    std::string out;
    char buffer[256];
    ssize_t n = 0;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("a measuring child failed");
    Result r;
    std::istringstream(out) >> r.seconds >> r.peakKb >> r.keptKb >> r.rows >> r.dropSeconds;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    if (rows <= 0) Fail("the number of rows must be positive");
    const std::string driver = kivodbc::testing::SqliteOdbcDriverPath();
    if (driver.empty()) Fail("the SQLite ODBC driver (Debian package libsqliteodbc) is not installed");
    // A private configuration naming the SQLite ODBC driver; removed at the end.
    const kivodbc::testing::OdbcConfig config("[SqliteFillBench]\nDriver=" + driver + "\n", "");
    const std::string folder = config.Root().string();
    const std::string connect = "DRIVER=SqliteFillBench;Database=" + folder + "/fill.db";
    {
        SQLHENV env = SQL_NULL_HENV;
        SQLHDBC dbc = SQL_NULL_HDBC;
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        std::string text = connect;
        if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr,
                                            0, nullptr, SQL_DRIVER_NOPROMPT)))
            Fail("connect");
        kivodbc::testing::ExecuteOn(dbc, "CREATE TABLE fill (id INTEGER, name VARCHAR(20), amount DECIMAL(10,2), "
                                         "born DATE, qty INTEGER)");
        kivodbc::testing::ExecuteOn(
            dbc, "INSERT INTO fill WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " +
                     std::to_string(rows) +
                     ") SELECT x, 'name ' || x, (x % 100000) / 100.0, date('2000-01-01', '+' || (x % 3650) || "
                     "' days'), x % 7 FROM n");
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    std::printf("rowxpp_fill_bench: %ld rows of five columns, SQLite ODBC driver over %s/fill.db\n", rows,
                folder.c_str());
    Result plain, filled, alone;
    plain.seconds = filled.seconds = alone.seconds = 1e30;
    for (int round = 0; round < 3; ++round) {
        Result p = InChild(PlainSide, connect);
        Result d = InChild(DataSetSide, connect);
        if (p.rows != rows || d.rows != rows) Fail("a side read " + std::to_string(p.rows) + " / " +
                                                   std::to_string(d.rows) + " rows");
        if (p.seconds < plain.seconds) plain = p;
        if (d.seconds < filled.seconds) filled = d;
        Result a = InChild(CursorSide, connect);
        if (a.seconds < alone.seconds) alone = a;
    }
    const double perRow = 1024.0 / static_cast<double>(rows);
    std::printf("  plain ODBC  %8.3f s processor time  peak %7.1f bytes/row  (freeing the statement %.3f s of it)\n",
                plain.seconds, plain.peakKb * perRow, plain.dropSeconds);
    std::printf("  SQLDataSet  %8.3f s processor time  peak %7.1f bytes/row  kept after the fill %7.1f bytes/row\n",
                filled.seconds, filled.peakKb * perRow, filled.keptKb * perRow);
    std::printf("  for information, the cursor alone (no rows kept): %8.3f s processor time\n", alone.seconds);
    std::printf("  ratio SQLDataSet / plain: %.2f (goal: at most 1.50)\n", filled.seconds / plain.seconds);
    return 0;
}
