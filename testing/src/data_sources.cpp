#include "kiv_odbc_testing/data_sources.h"

#include <stdexcept>

#include "kiv_odbc_testing/driver_libraries.h"

namespace kivodbc::testing {

namespace {

std::string Required(const std::string& path, const char* package) {
  if (path.empty()) throw std::runtime_error(std::string("the ODBC driver of the Debian package ") + package +
                                             " is not installed");
  return path;
}

std::string Drivers() {
  return std::string("[") + TestDataSources::kSqliteDriver + "]\nDriver=" +
         Required(SqliteOdbcDriverPath(), "libsqliteodbc") + "\n\n[" + TestDataSources::kPostgresDriver +
         "]\nDriver=" + Required(PostgresOdbcDriverPath(), "odbc-postgresql") + "\n\n[" +
         TestDataSources::kKivodbcDriver + "]\nDescription=The engine's driver\nDriver=" KIV_ODBC_TESTING_KIVODBC_PATH
         "\nFileUsage=0\nAPILevel=1\n";
}

std::string Sources(const PostgresServer& server, const std::string& database) {
  const std::string sqlite = std::string("Driver=") + TestDataSources::kSqliteDriver + "\nDatabase=@ROOT@/sqlite.db\n";
  return std::string("[") + TestDataSources::kSqlite + "]\n" + sqlite + "\n[" + TestDataSources::kPostgres +
         "]\nDriver=" + TestDataSources::kPostgresDriver + "\nServername=" + server.SocketDirectory().string() +
         "\nPort=" + std::to_string(server.Port()) + "\nDatabase=" + database +
         "\nUsername=" + PostgresServer::kSuperUser + "\nBoolsAsChar=0\n\n[" + TestDataSources::kKivodbc +
         "]\nDriver=" + TestDataSources::kKivodbcDriver + "\nDataDirectory=@DATA@\n\n[" + TestDataSources::kDefault +
         "]\n" + sqlite;
}

}  // namespace

// The configuration is in place before the first call of the driver manager
// in the process, since the driver manager keeps what it read of it.
TestDataSources::TestDataSources(PostgresServer& server, std::string database)
    : server_(server), database_(std::move(database)), config_(Drivers(), Sources(server_, database_)) {
  server_.CreateDatabase(database_);
}

TestDataSources& TestDataSources::Get() {
  static TestDataSources sources(SharedPostgresServer(), PostgresServer::NewDatabaseName());
  return sources;
}

TestDataSources::~TestDataSources() {
  admin_.reset();
  // Each process's database goes with it, so that a long run does not fill
  // the server's folder; the fixture's end removes any left by a crash.
  try {
    server_.DropDatabase(database_);
  } catch (...) {
  }
}

AdminConnection& TestDataSources::Admin() {
  if (!admin_) admin_ = std::make_unique<AdminConnection>(server_, database_);
  return *admin_;
}

}  // namespace kivodbc::testing
