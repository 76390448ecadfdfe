// A throwaway PostgreSQL 15 server for tests: a cluster made with initdb in a
// temporary folder, served by pg_ctl on a Unix socket in that folder, no TCP,
// trust authentication for the superuser "postgres". Run as root, initdb and
// the server run as the system user postgres, which owns the folder.
// Anything that fails throws std::runtime_error with the server's log, so a
// server that cannot start fails the test.
#ifndef KIV_ODBC_TESTING_POSTGRES_SERVER_H
#define KIV_ODBC_TESTING_POSTGRES_SERVER_H

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kivodbc::testing {

class PostgresServer {
 public:
  static constexpr const char* kSuperUser = "postgres";
  static constexpr int kPort = 5432;
  // The environment variable through which a ctest fixture hands its
  // server's folder to the tests.
  static constexpr const char* kFolderVariable = "KIV_POSTGRES_SERVER";

  // Makes a cluster in `folder` (a new temporary folder when empty; an
  // existing folder is cleared first) and starts it. The object owns the
  // server: its destructor stops it and removes the folder.
  static std::unique_ptr<PostgresServer> Create(const std::filesystem::path& folder = {});
  // The running server that another process made in `folder`; the object
  // neither stops nor removes it.
  static std::unique_ptr<PostgresServer> Attach(const std::filesystem::path& folder);

  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // Starts the server again after Stop or Kill.
  void Start();
  // pg_ctl stop with the given shutdown mode ("smart", "fast", "immediate").
  void Stop(const std::string& mode = "fast");
  // Kills the postmaster and its backends with SIGKILL and waits until they are gone.
  void Kill();
  bool IsRunning() const;
  // The postmaster's process id, 0 when it is not running.
  pid_t Pid() const;

  // Stops the server (immediately) and removes its folder.
  void StopAndRemove();
  // Leaves the server running when this object goes.
  void Release() { owned_ = false; }

  const std::filesystem::path& Folder() const { return folder_; }
  // Where the server's socket lies (the Servername of a connection).
  const std::filesystem::path& SocketDirectory() const { return folder_; }
  int Port() const { return kPort; }

  // An ODBC connection string for `database` through the PostgreSQL driver, as the superuser.
  std::string ConnectionString(const std::string& database) const;
  // A name no database of any test process has had.
  static std::string NewDatabaseName();
  // Creates a database named `name` (a new name when empty) and returns the name.
  std::string CreateDatabase(std::string name = {}) const;
  // Drops `database`, ending the sessions still connected to it.
  void DropDatabase(const std::string& database) const;

 private:
  PostgresServer(std::filesystem::path folder, bool owned);
  void InitCluster();
  std::filesystem::path DataDirectory() const { return folder_ / "data"; }
  int PgCtl(const std::vector<std::string>& arguments) const;
  [[noreturn]] void Fail(const std::string& what) const;

  std::filesystem::path folder_;
  bool owned_;
};

// The server of this test process: the fixture's when the environment names
// one (kFolderVariable), else one started for this process and stopped at its end.
PostgresServer& SharedPostgresServer();

}  // namespace kivodbc::testing

#endif
