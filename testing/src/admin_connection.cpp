#include "kiv_odbc_testing/admin_connection.h"

#include <sqlext.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "kiv_odbc_testing/postgres_server.h"

namespace kivodbc::testing {

namespace {

SQLCHAR* Text(const std::string& s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str())); }

[[noreturn]] void Throw(const std::string& what, SQLSMALLINT type, SQLHANDLE handle) {
  throw std::runtime_error(what + ": " + DiagnosticText(type, handle));
}

// A statement handle freed when it goes.
class Statement {
 public:
  explicit Statement(SQLHDBC dbc) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt_))) Throw("SQLAllocHandle", SQL_HANDLE_DBC, dbc);
  }
  ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  SQLHSTMT handle() const { return stmt_; }

 private:
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

// Reads column `column` of the current row as text, in pieces of any length.
std::optional<std::string> ReadText(SQLHSTMT stmt, SQLUSMALLINT column) {
  std::string value;
  char piece[1024];
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_CHAR, piece, sizeof piece, &indicator);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) Throw("SQLGetData", SQL_HANDLE_STMT, stmt);
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    const size_t got = indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof piece)
                           ? sizeof piece - 1
                           : static_cast<size_t>(indicator);
    value.append(piece, got);
    if (rc == SQL_SUCCESS) break;
  }
  return value;
}

}  // namespace

std::string DiagnosticText(SQLSMALLINT type, SQLHANDLE handle) {
  std::string text;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[6] = {};
    SQLCHAR message[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, record, state, &native, message, sizeof message, &length))) break;
    if (!text.empty()) text += "\n";
    text += reinterpret_cast<char*>(state) + std::string(": ") + reinterpret_cast<char*>(message);
  }
  return text.empty() ? "no diagnostics" : text;
}

std::vector<Row> QueryOn(SQLHDBC dbc, const std::string& sql, const std::vector<std::string>& parameters) {
  Statement stmt(dbc);
  std::vector<SQLLEN> lengths(parameters.size());
  for (size_t i = 0; i < parameters.size(); ++i) {
    lengths[i] = static_cast<SQLLEN>(parameters[i].size());
    const SQLRETURN rc = SQLBindParameter(stmt.handle(), static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT,
                                          SQL_C_CHAR, SQL_VARCHAR, parameters[i].size() + 1, 0,
                                          Text(parameters[i]), lengths[i], &lengths[i]);
    if (!SQL_SUCCEEDED(rc)) Throw("SQLBindParameter", SQL_HANDLE_STMT, stmt.handle());
  }
  const SQLRETURN rc = SQLExecDirect(stmt.handle(), Text(sql), SQL_NTS);
  if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(rc)) Throw(sql, SQL_HANDLE_STMT, stmt.handle());
  std::vector<Row> rows;
  SQLSMALLINT columns = 0;
  if (rc == SQL_NO_DATA || !SQL_SUCCEEDED(SQLNumResultCols(stmt.handle(), &columns)) || columns == 0) return rows;
  for (;;) {
    const SQLRETURN fetched = SQLFetch(stmt.handle());
    if (fetched == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(fetched)) Throw("SQLFetch", SQL_HANDLE_STMT, stmt.handle());
    Row row;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) row.push_back(ReadText(stmt.handle(), c));
    rows.push_back(std::move(row));
  }
  return rows;
}

void ExecuteOn(SQLHDBC dbc, const std::string& sql, const std::vector<std::string>& parameters) {
  QueryOn(dbc, sql, parameters);
}

std::string ScalarOn(SQLHDBC dbc, const std::string& sql, const std::vector<std::string>& parameters) {
  const std::vector<Row> rows = QueryOn(dbc, sql, parameters);
  if (rows.empty() || rows[0].empty() || !rows[0][0]) throw std::runtime_error(sql + ": no value");
  return *rows[0][0];
}

int BackendPidOf(SQLHDBC dbc) { return std::stoi(ScalarOn(dbc, "SELECT pg_backend_pid()")); }

AdminConnection::AdminConnection(const PostgresServer& server, const std::string& database) : database_(database) {
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)))
    throw std::runtime_error("SQLAllocHandle(SQL_HANDLE_ENV) failed");
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    throw std::runtime_error("SQLAllocHandle(SQL_HANDLE_DBC) failed");
  }
  const std::string text = server.ConnectionString(database);
  const SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, Text(text), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    const std::string why = DiagnosticText(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    throw std::runtime_error("admin connection to " + database + " (" + text + "): " + why);
  }
}

AdminConnection::~AdminConnection() {
  SQLDisconnect(dbc_);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

long long AdminConnection::CountRows(const std::string& table) {
  return std::stoll(Scalar("SELECT count(*) FROM " + table));
}

bool AdminConnection::TerminateBackend(int pid) {
  return Scalar("SELECT pg_terminate_backend(CAST(? AS integer))", {std::to_string(pid)}) == "1";
}

std::vector<int> AdminConnection::BackendPids(const std::string& database) {
  std::vector<int> pids;
  for (const Row& row : Query("SELECT pid FROM pg_stat_activity WHERE datname = ? AND pid <> pg_backend_pid() "
                              "ORDER BY pid",
                              {database}))
    pids.push_back(std::stoi(row.at(0).value()));
  return pids;
}

bool AdminConnection::WaitUntilNoBackends(const std::string& database, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!BackendPids(database).empty()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace kivodbc::testing
