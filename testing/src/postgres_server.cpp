#include "kiv_odbc_testing/postgres_server.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "kiv_odbc_testing/admin_connection.h"
#include "kiv_odbc_testing/driver_libraries.h"

namespace kivodbc::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBinaries = "/usr/lib/postgresql/15/bin";

// Who runs initdb and the server: as root the system user postgres (the
// server refuses to run as root), otherwise the caller.
struct ServerUser {
  bool switchUser = false;
  uid_t uid = 0;
  gid_t gid = 0;
};

ServerUser TheServerUser() {
  ServerUser user;
  if (::geteuid() != 0) return user;
  const passwd* entry = ::getpwnam("postgres");
  if (entry == nullptr)
    throw std::runtime_error("PostgreSQL test server: running as root needs the system user postgres, which is missing");
  user.switchUser = true;
  user.uid = entry->pw_uid;
  user.gid = entry->pw_gid;
  return user;
}

// Runs a program as the server user in `folder`, its output appended to
// `log`; returns its exit status (128 + signal when killed).
int RunAsServerUser(const std::vector<std::string>& argv, const fs::path& folder, const fs::path& log) {
  const ServerUser user = TheServerUser();
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (out < 0 || in < 0) throw std::runtime_error("PostgreSQL test server: cannot open " + log.string());
  const pid_t child = ::fork();
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0) ::_exit(126);
    if (user.switchUser &&
        (::setgroups(1, &user.gid) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0))
      ::_exit(126);
    ::closefrom(3);
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(out);
  ::close(in);
  if (child < 0) throw std::runtime_error("PostgreSQL test server: fork failed");
  int status = 0;
  while (::waitpid(child, &status, 0) < 0)
    if (errno != EINTR) throw std::runtime_error("PostgreSQL test server: waitpid failed");
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::string Binary(const char* name) { return std::string(kBinaries) + "/" + name; }

std::string Tail(const fs::path& file, size_t bytes = 4000) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  return s.size() > bytes ? s.substr(s.size() - bytes) : s;
}

bool Alive(pid_t pid) {
  if (pid <= 0 || ::kill(pid, 0) != 0) return false;
  // An unreaped dead process answers kill() too.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

// A process id read from a lock file may have gone to another program since.
bool IsPostgres(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  return std::getline(comm, name) && name == "postgres";
}

std::string Quoted(const std::string& text, char quote) {
  std::string quoted(1, quote);
  for (char c : text) quoted += c == quote ? std::string(2, quote) : std::string(1, c);
  return quoted + quote;
}

std::string QuotedIdentifier(const std::string& name) { return Quoted(name, '"'); }

fs::path NewTemporaryFolder() {
  // The socket path must stay short, and as root the server user must reach
  // the folder: both hold in /tmp.
  const fs::path base = ::geteuid() == 0 ? fs::path("/tmp") : fs::temp_directory_path();
  std::string pattern = (base / "kiv-postgres-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("PostgreSQL test server: cannot make a folder in " + base.string());
  return pattern;
}

}  // namespace

PostgresServer::PostgresServer(fs::path folder, bool owned) : folder_(std::move(folder)), owned_(owned) {}

std::unique_ptr<PostgresServer> PostgresServer::Create(const fs::path& folder) {
  fs::path where = folder;
  if (where.empty()) {
    where = NewTemporaryFolder();
  } else {
    if (fs::exists(where / "data" / "postmaster.pid")) {
      // A server left behind by an earlier run in the same folder.
      std::unique_ptr<PostgresServer> old(new PostgresServer(where, false));
      old->Kill();
    }
    fs::remove_all(where);
    fs::create_directories(where);
  }
  std::unique_ptr<PostgresServer> server(new PostgresServer(where, true));
  server->InitCluster();
  server->Start();
  return server;
}

std::unique_ptr<PostgresServer> PostgresServer::Attach(const fs::path& folder) {
  std::unique_ptr<PostgresServer> server(new PostgresServer(folder, false));
  if (!server->IsRunning())
    throw std::runtime_error("PostgreSQL test server: no server runs in " + folder.string() +
                             " (did its fixture fail to start it?)\n" + Tail(folder / "server.log"));
  return server;
}

PostgresServer::~PostgresServer() {
  if (!owned_) return;
  try {
    StopAndRemove();
  } catch (...) {
  }
}

void PostgresServer::InitCluster() {
  const ServerUser user = TheServerUser();
  if (user.switchUser && ::chown(folder_.c_str(), user.uid, user.gid) != 0)
    Fail("cannot give " + folder_.string() + " to the user postgres");
  fs::permissions(folder_, fs::perms::owner_all);
  const int status = RunAsServerUser({Binary("initdb"), "-D", DataDirectory().string(), "-U", kSuperUser, "-A",
                                      "trust", "-E", "UTF8", "--locale=C", "--no-sync"},
                                     folder_, folder_ / "commands.log");
  if (status != 0) Fail("initdb ended with " + std::to_string(status));
  std::ofstream conf(DataDirectory() / "postgresql.conf", std::ios::app);
  conf << "\n# A throwaway server for tests.\n"
       << "listen_addresses = ''\n"
       << "unix_socket_directories = " << Quoted(folder_.string(), '\'') << "\n"
       << "port = " << kPort << "\n"
       << "fsync = off\nfull_page_writes = off\n"
       << "shared_buffers = 16MB\nmax_connections = 200\n";
  if (!conf.flush()) Fail("cannot write postgresql.conf");
}

int PostgresServer::PgCtl(const std::vector<std::string>& arguments) const {
  std::vector<std::string> argv{Binary("pg_ctl"), "-D", DataDirectory().string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunAsServerUser(argv, folder_, folder_ / "commands.log");
}

void PostgresServer::Start() {
  const int status = PgCtl({"-l", (folder_ / "server.log").string(), "-w", "-t", "60", "start"});
  if (status != 0 || !IsRunning()) Fail("pg_ctl start ended with " + std::to_string(status));
}

void PostgresServer::Stop(const std::string& mode) {
  const int status = PgCtl({"-m", mode, "-w", "-t", "60", "stop"});
  if (status != 0) Fail("pg_ctl stop ended with " + std::to_string(status));
}

void PostgresServer::Kill() {
  const pid_t pid = Pid();
  if (pid == 0) return;
  // pg_ctl starts the postmaster in a session of its own: the group holds the backends.
  if (::kill(-pid, SIGKILL) != 0) ::kill(pid, SIGKILL);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Alive(pid)) {
    if (std::chrono::steady_clock::now() > deadline) Fail("the killed server does not end");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The dead postmaster may stay unreaped (its parent is whoever adopted it),
  // and a new one refuses lock files naming a process that still exists.
  std::error_code ignored;
  fs::remove(DataDirectory() / "postmaster.pid", ignored);
  fs::remove(folder_ / (".s.PGSQL." + std::to_string(kPort) + ".lock"), ignored);
}

pid_t PostgresServer::Pid() const {
  std::ifstream lock(DataDirectory() / "postmaster.pid");
  long pid = 0;
  if (!(lock >> pid) || pid <= 0) return 0;
  return Alive(static_cast<pid_t>(pid)) && IsPostgres(static_cast<pid_t>(pid)) ? static_cast<pid_t>(pid) : 0;
}

bool PostgresServer::IsRunning() const { return Pid() != 0 && fs::exists(folder_ / (".s.PGSQL." + std::to_string(kPort))); }

void PostgresServer::StopAndRemove() {
  if (IsRunning()) {
    if (PgCtl({"-m", "immediate", "-w", "-t", "30", "stop"}) != 0) Kill();
  }
  fs::remove_all(folder_);
}

std::string PostgresServer::ConnectionString(const std::string& database) const {
  const std::string driver = PostgresOdbcDriverPath();
  if (driver.empty())
    throw std::runtime_error("the PostgreSQL ODBC driver (Debian package odbc-postgresql) is not installed");
  return "DRIVER=" + driver + ";Servername=" + folder_.string() + ";Port=" + std::to_string(kPort) +
         ";Database=" + database + ";UID=" + kSuperUser;
}

std::string PostgresServer::NewDatabaseName() {
  static std::atomic<int> counter{0};
  return "kiv_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + "_" +
         std::to_string(std::chrono::system_clock::now().time_since_epoch().count() % 1000000);
}

std::string PostgresServer::CreateDatabase(std::string name) const {
  if (name.empty()) name = NewDatabaseName();
  AdminConnection admin(*this, "postgres");
  admin.Execute("CREATE DATABASE " + QuotedIdentifier(name) + " STRATEGY FILE_COPY");
  return name;
}

void PostgresServer::DropDatabase(const std::string& database) const {
  AdminConnection admin(*this, "postgres");
  admin.Execute("DROP DATABASE IF EXISTS " + QuotedIdentifier(database) + " WITH (FORCE)");
}

void PostgresServer::Fail(const std::string& what) const {
  throw std::runtime_error("PostgreSQL test server in " + folder_.string() + ": " + what + "\n--- commands\n" +
                           Tail(folder_ / "commands.log") + "\n--- server log\n" + Tail(folder_ / "server.log"));
}

PostgresServer& SharedPostgresServer() {
  static std::unique_ptr<PostgresServer> server = [] {
    const char* folder = ::getenv(PostgresServer::kFolderVariable);
    if (folder != nullptr && *folder != '\0') return PostgresServer::Attach(folder);
    return PostgresServer::Create();
  }();
  return *server;
}

}  // namespace kivodbc::testing
