// The real ODBC data sources of a test process, registered in a private
// ODBCSYSINI/ODBCINI:
//   "SQLite"      the SQLite ODBC driver over a file in the test's folder;
//   "PostgreSQL"  the PostgreSQL ODBC driver (ANSI) over a fresh database of
//                 the test server, as its superuser;
//   "KIVODBC"     the built driver over an engine folder of the test;
//   "DEFAULT"     the SQLite file again: the driver manager's choice when a
//                 connection string names no data source.
#ifndef KIV_ODBC_TESTING_DATA_SOURCES_H
#define KIV_ODBC_TESTING_DATA_SOURCES_H

#include <filesystem>
#include <memory>
#include <string>

#include "kiv_odbc_testing/admin_connection.h"
#include "kiv_odbc_testing/odbc_config.h"
#include "kiv_odbc_testing/postgres_server.h"

namespace kivodbc::testing {

class TestDataSources {
 public:
  static constexpr const char* kSqlite = "SQLite";
  static constexpr const char* kPostgres = "PostgreSQL";
  static constexpr const char* kKivodbc = "KIVODBC";
  static constexpr const char* kDefault = "DEFAULT";
  // The drivers' names in odbcinst.ini.
  static constexpr const char* kSqliteDriver = "SQLite3 ODBC Driver";
  static constexpr const char* kPostgresDriver = "PostgreSQL ANSI";
  static constexpr const char* kKivodbcDriver = "Morvane Rivulet ODBC";

  // The data sources of this process, made on first use: the server is
  // reached or started, the database created, the configuration written
  // and activated. Throws when any of it fails.
  static TestDataSources& Get();

  ~TestDataSources();
  TestDataSources(const TestDataSources&) = delete;
  TestDataSources& operator=(const TestDataSources&) = delete;

  // Points the driver manager at this configuration (again).
  void Activate() const { config_.Activate(); }
  const OdbcConfig& Config() const { return config_; }

  std::filesystem::path SqliteFile() const { return config_.Root() / "sqlite.db"; }
  std::filesystem::path EngineFolder() const { return config_.DataDirectory(); }
  PostgresServer& Server() const { return server_; }
  const std::string& PostgresDatabase() const { return database_; }
  // The superuser's connection to this process's database, opened on first use.
  AdminConnection& Admin();

 private:
  TestDataSources(PostgresServer& server, std::string database);

  PostgresServer& server_;
  std::string database_;
  OdbcConfig config_;
  std::unique_ptr<AdminConnection> admin_;
};

}  // namespace kivodbc::testing

#endif
