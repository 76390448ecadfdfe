// The data sources of a test process, reached as any application reaches
// them: through unixODBC by their names.
#include "kiv_odbc_testing/data_sources.h"

#include <gtest/gtest.h>
#include <odbcinstext.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "odbc_session.h"

namespace kivodbc::testing {
namespace {

namespace fs = std::filesystem;

std::string Probe(SQLHDBC dbc) {
  ExecuteOn(dbc, "CREATE TABLE probe (id INTEGER)");
  ExecuteOn(dbc, "INSERT INTO probe VALUES (7)");
  return ScalarOn(dbc, "SELECT id FROM probe");
}

struct Source {
  const char* name;
  const char* dbms;
};

TEST(DataSources, EachSourceConnectsThroughTheDriverManagerAndRunsAStatement) {
  TestDataSources& sources = TestDataSources::Get();
  for (const Source& source : {Source{TestDataSources::kSqlite, "SQLite"},
                               Source{TestDataSources::kPostgres, "PostgreSQL"},
                               Source{TestDataSources::kKivodbc, ""}}) {
    SCOPED_TRACE(source.name);
    OdbcSession session;
    ASSERT_TRUE(SQL_SUCCEEDED(session.Connect(source.name))) << session.Why();
    EXPECT_EQ(session.Info(SQL_DATA_SOURCE_NAME), source.name);
    if (*source.dbms != '\0') {
      EXPECT_EQ(session.Info(SQL_DBMS_NAME), source.dbms);
    }
    EXPECT_EQ(Probe(session.dbc()), "7");
  }
  // Each wrote where the configuration says.
  EXPECT_GT(fs::file_size(sources.SqliteFile()), 0u);
  bool engineTable = false;
  for (const auto& entry : fs::directory_iterator(sources.EngineFolder()))
    engineTable = engineTable || entry.path().stem() == "probe" || entry.path().stem() == "PROBE";
  EXPECT_TRUE(engineTable) << "no table file in " << sources.EngineFolder();
  EXPECT_EQ(sources.Admin().CountRows("probe"), 1);
}

TEST(DataSources, ThePostgresSourceReachesThisProcesssDatabaseAsTheSuperuser) {
  TestDataSources& sources = TestDataSources::Get();
  OdbcSession session;
  ASSERT_TRUE(SQL_SUCCEEDED(session.Connect(TestDataSources::kPostgres))) << session.Why();
  EXPECT_EQ(ScalarOn(session.dbc(), "SELECT current_database()"), sources.PostgresDatabase());
  EXPECT_EQ(ScalarOn(session.dbc(), "SELECT current_user"), PostgresServer::kSuperUser);
  // The admin connection sees the session from outside.
  const int pid = BackendPidOf(session.dbc());
  EXPECT_EQ(sources.Admin().BackendPids(sources.PostgresDatabase()), std::vector<int>{pid});
}

TEST(DataSources, TheDriverManagerListsTheFourSourcesInOrder) {
  TestDataSources::Get();
  SQLHENV env = SQL_NULL_HENV;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  std::vector<std::string> names, drivers;
  SQLCHAR name[256], description[256];
  SQLSMALLINT nameLength = 0, descriptionLength = 0;
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST_USER;
       SQL_SUCCEEDED(SQLDataSources(env, direction, name, sizeof name, &nameLength, description, sizeof description,
                                    &descriptionLength));
       direction = SQL_FETCH_NEXT) {
    names.emplace_back(reinterpret_cast<char*>(name));
    drivers.emplace_back(reinterpret_cast<char*>(description));
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  EXPECT_EQ(names, (std::vector<std::string>{TestDataSources::kSqlite, TestDataSources::kPostgres,
                                             TestDataSources::kKivodbc, TestDataSources::kDefault}));
  EXPECT_EQ(drivers, (std::vector<std::string>{TestDataSources::kSqliteDriver, TestDataSources::kPostgresDriver,
                                               TestDataSources::kKivodbcDriver, TestDataSources::kSqliteDriver}));
}

// An empty connection string names no data source: asked to complete it
// with a window record that names no prompt library, the driver manager
// takes "DEFAULT" (without completion it finds no data source at all).
TEST(DataSources, AnEmptyConnectionStringConnectsToDefault) {
  TestDataSources& sources = TestDataSources::Get();
  {
    OdbcSession sqlite;
    ASSERT_TRUE(SQL_SUCCEEDED(sqlite.Connect(TestDataSources::kSqlite))) << sqlite.Why();
    ExecuteOn(sqlite.dbc(), "CREATE TABLE marks (id INTEGER)");
  }
  ODBCINSTWND window{};
  struct Case {
    SQLHWND window;
    SQLUSMALLINT completion;
  };
  for (const Case& c : {Case{&window, SQL_DRIVER_COMPLETE}, Case{&window, SQL_DRIVER_COMPLETE_REQUIRED}}) {
    SCOPED_TRACE(c.completion);
    OdbcSession session;
    ASSERT_TRUE(SQL_SUCCEEDED(session.DriverConnect("", c.window, c.completion))) << session.Why();
    EXPECT_EQ(session.Info(SQL_DATA_SOURCE_NAME), TestDataSources::kDefault);
    EXPECT_EQ(session.Info(SQL_DBMS_NAME), "SQLite");
    EXPECT_NE(session.Completed().find(sources.SqliteFile().string()), std::string::npos) << session.Completed();
    // The same file as the "SQLite" source.
    EXPECT_EQ(ScalarOn(session.dbc(), "SELECT count(*) FROM marks"), "0");
  }
}

// Two test processes: each has a database of its own. Under ctest both use
// the fixture's server; a program run by hand starts a server of its own,
// which ends with it.
TEST(DataSources, EachProcessGetsItsOwnDatabase) {
  TestDataSources& sources = TestDataSources::Get();
  const fs::path report = sources.Config().Root() / "child.txt";
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl("/proc/self/exe", "kiv_odbc_testing_tests", "--report", report.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

  std::ifstream in(report);
  std::string folder, pid, database, reached;
  ASSERT_TRUE(std::getline(in, folder) && std::getline(in, pid) && std::getline(in, database) &&
              std::getline(in, reached));
  EXPECT_EQ(reached, database);
  EXPECT_NE(database, sources.PostgresDatabase());
  const char* fixture = ::getenv(PostgresServer::kFolderVariable);
  if (fixture != nullptr && *fixture != '\0') {
    EXPECT_EQ(folder, fixture);
    EXPECT_EQ(sources.Server().Folder(), fixture);
    EXPECT_EQ(std::stoi(pid), sources.Server().Pid());
  } else {
    EXPECT_NE(folder, sources.Server().Folder().string());
    EXPECT_FALSE(fs::exists(folder)) << "the child's own server was left behind";
  }
  // The child's database went with it.
  EXPECT_EQ(sources.Admin().Scalar("SELECT count(*) FROM pg_database WHERE datname = ?", {database}), "0");
  EXPECT_EQ(sources.Admin().Scalar("SELECT count(*) FROM pg_database WHERE datname = ?", {sources.PostgresDatabase()}),
            "1");
}

}  // namespace
}  // namespace kivodbc::testing

// The child's side of EachProcessGetsItsOwnDatabase: the server's folder and
// process id, the database made for this process, and the database that the
// "PostgreSQL" data source reaches, one a line.
int ReportDataSources(const char* file) {
  using namespace kivodbc::testing;
  try {
    TestDataSources& sources = TestDataSources::Get();
    OdbcSession session;
    if (!SQL_SUCCEEDED(session.Connect(TestDataSources::kPostgres))) throw std::runtime_error(session.Why());
    std::ofstream(file) << sources.Server().Folder().string() << "\n"
                        << sources.Server().Pid() << "\n"
                        << sources.PostgresDatabase() << "\n"
                        << ScalarOn(session.dbc(), "SELECT current_database()") << "\n";
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
