// The throwaway PostgreSQL server: private servers stopped, killed and
// started again, failures that fail, and the admin connection's views.
#include "kiv_odbc_testing/postgres_server.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "kiv_odbc_testing/data_sources.h"
#include "odbc_session.h"

namespace kivodbc::testing {
namespace {

namespace fs = std::filesystem;

uid_t ExpectedServerUser() {
  if (::geteuid() != 0) return ::geteuid();
  const passwd* entry = ::getpwnam("postgres");
  return entry != nullptr ? entry->pw_uid : 0;
}

uid_t OwnerOf(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
}

TEST(PostgresServer, APrivateServerStopsStartsAndSurvivesAKill) {
  std::unique_ptr<PostgresServer> server = PostgresServer::Create();
  const fs::path folder = server->Folder();
  ASSERT_TRUE(server->IsRunning());
  // As root the server and its folder belong to the user postgres, otherwise to the caller.
  EXPECT_EQ(OwnerOf(folder), ExpectedServerUser());
  EXPECT_EQ(OwnerOf("/proc/" + std::to_string(server->Pid())), ExpectedServerUser());
  {
    AdminConnection admin(*server, "postgres");
    admin.Execute("CREATE TABLE kept (id integer)");
    admin.Execute("INSERT INTO kept VALUES (1)");
  }

  server->Stop();
  EXPECT_FALSE(server->IsRunning());
  EXPECT_EQ(server->Pid(), 0);
  EXPECT_THROW(AdminConnection(*server, "postgres"), std::runtime_error);

  server->Start();
  AdminConnection admin(*server, "postgres");
  EXPECT_EQ(admin.CountRows("kept"), 1);

  server->Kill();
  EXPECT_FALSE(server->IsRunning());
  EXPECT_THROW(admin.CountRows("kept"), std::runtime_error);

  server->Start();
  AdminConnection again(*server, "postgres");
  EXPECT_EQ(again.CountRows("kept"), 1);

  server.reset();
  EXPECT_FALSE(fs::exists(folder));
}

TEST(PostgresServer, AServerThatCannotStartThrowsWithItsLog) {
  // A socket path longer than the system allows: initdb works, the server does not start.
  const fs::path folder = fs::path("/tmp") / ("kiv-postgres-long-" + std::to_string(::getpid()) + std::string(100, 'x'));
  try {
    PostgresServer::Create(folder);
    ADD_FAILURE() << "the server started";
  } catch (const std::runtime_error& e) {
    const std::string text = e.what();
    EXPECT_NE(text.find("pg_ctl start"), std::string::npos) << text;
    EXPECT_NE(text.find("too long"), std::string::npos) << text;
  }
  EXPECT_FALSE(fs::exists(folder));
}

TEST(PostgresServer, AttachingWhereNoServerRunsThrows) {
  char pattern[] = "/tmp/kiv-postgres-none-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  EXPECT_THROW(PostgresServer::Attach(pattern), std::runtime_error);
  fs::remove_all(pattern);
}

TEST(PostgresServer, TheAdminConnectionSeesAndEndsAnotherSession) {
  TestDataSources& sources = TestDataSources::Get();
  AdminConnection& admin = sources.Admin();
  const std::string database = sources.PostgresDatabase();
  {
    OdbcSession session;
    ASSERT_TRUE(SQL_SUCCEEDED(session.Connect(TestDataSources::kPostgres))) << session.Why();
    const int pid = BackendPidOf(session.dbc());
    EXPECT_NE(pid, admin.BackendPid());
    EXPECT_EQ(admin.BackendPids(database), std::vector<int>{pid});

    EXPECT_TRUE(admin.TerminateBackend(pid));
    EXPECT_THROW(ScalarOn(session.dbc(), "SELECT 1"), std::runtime_error);
    EXPECT_TRUE(admin.WaitUntilNoBackends(database));
    EXPECT_FALSE(admin.TerminateBackend(pid));
  }
  // A backend that ended by itself leaves the list too.
  {
    OdbcSession session;
    ASSERT_TRUE(SQL_SUCCEEDED(session.Connect(TestDataSources::kPostgres))) << session.Why();
    EXPECT_EQ(admin.BackendPids(database).size(), 1u);
  }
  EXPECT_TRUE(admin.WaitUntilNoBackends(database));
}

}  // namespace
}  // namespace kivodbc::testing
