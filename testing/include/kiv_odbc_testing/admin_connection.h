// Plain ODBC calls through the driver manager for tests that look at a
// database from outside: statements on any connection handle, and an
// administrator's connection to the test PostgreSQL server. Failures throw
// std::runtime_error carrying the driver's diagnostics.
#ifndef KIV_ODBC_TESTING_ADMIN_CONNECTION_H
#define KIV_ODBC_TESTING_ADMIN_CONNECTION_H

#include <sql.h>

#include <optional>
#include <string>
#include <vector>

namespace kivodbc::testing {

class PostgresServer;

// One fetched row; a NULL value is std::nullopt.
using Row = std::vector<std::optional<std::string>>;

// All diagnostic records of a handle as "STATE: message" lines.
std::string DiagnosticText(SQLSMALLINT type, SQLHANDLE handle);

// Runs `sql` on the connection `dbc` with the texts `parameters` bound to
// its markers and returns the rows of its first result (none for a
// statement without one).
std::vector<Row> QueryOn(SQLHDBC dbc, const std::string& sql, const std::vector<std::string>& parameters = {});

// Runs a statement without a result on `dbc`.
void ExecuteOn(SQLHDBC dbc, const std::string& sql, const std::vector<std::string>& parameters = {});

// The first value of the first row; throws when there is no row or it is NULL.
std::string ScalarOn(SQLHDBC dbc, const std::string& sql, const std::vector<std::string>& parameters = {});

// The process id of the server backend serving the PostgreSQL connection `dbc`.
int BackendPidOf(SQLHDBC dbc);

class AdminConnection {
 public:
  // Connects through unixODBC with a connection string of its own (no data
  // source needed) as the server's superuser to `database`.
  AdminConnection(const PostgresServer& server, const std::string& database);
  ~AdminConnection();
  AdminConnection(const AdminConnection&) = delete;
  AdminConnection& operator=(const AdminConnection&) = delete;

  SQLHDBC Handle() const { return dbc_; }
  const std::string& Database() const { return database_; }

  void Execute(const std::string& sql, const std::vector<std::string>& parameters = {}) {
    ExecuteOn(dbc_, sql, parameters);
  }
  std::vector<Row> Query(const std::string& sql, const std::vector<std::string>& parameters = {}) {
    return QueryOn(dbc_, sql, parameters);
  }
  std::string Scalar(const std::string& sql, const std::vector<std::string>& parameters = {}) {
    return ScalarOn(dbc_, sql, parameters);
  }

  // SELECT count(*) FROM `table` (SQL text, e.g. a quoted or qualified name).
  long long CountRows(const std::string& table);
  // pg_backend_pid() of this connection.
  int BackendPid() { return BackendPidOf(dbc_); }
  // pg_terminate_backend(pid): true when the server signalled the backend.
  bool TerminateBackend(int pid);
  // The backends connected to `database` (pg_stat_activity), this one excluded.
  std::vector<int> BackendPids(const std::string& database);
  // Waits up to `seconds` until no backend but this one is connected to `database`.
  bool WaitUntilNoBackends(const std::string& database, double seconds = 10);

 private:
  std::string database_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

}  // namespace kivodbc::testing

#endif
