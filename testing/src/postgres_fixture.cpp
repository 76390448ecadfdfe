// kiv_postgres_fixture: starts and stops the PostgreSQL server that one ctest
// run shares. The tests find it through the environment variable
// KIV_POSTGRES_SERVER naming the same folder.
//
//   kiv_postgres_fixture start FOLDER   makes a cluster in FOLDER and leaves the server running
//   kiv_postgres_fixture stop FOLDER    stops that server and removes FOLDER
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>

#include "kiv_odbc_testing/postgres_server.h"

int main(int argc, char** argv) {
  using kivodbc::testing::PostgresServer;
  if (argc != 3 || (std::strcmp(argv[1], "start") != 0 && std::strcmp(argv[1], "stop") != 0)) {
    std::fprintf(stderr, "usage: %s start|stop FOLDER\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[2];
  try {
    if (std::strcmp(argv[1], "start") == 0) {
      auto server = PostgresServer::Create(folder);
      server->Release();
      std::printf("PostgreSQL test server %d serves in %s\n", static_cast<int>(server->Pid()), folder.c_str());
    } else if (std::filesystem::exists(folder)) {
      PostgresServer::Attach(folder)->StopAndRemove();
      std::printf("PostgreSQL test server in %s stopped\n", folder.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    // A server that died during the run leaves its folder all the same.
    std::error_code ignored;
    if (std::strcmp(argv[1], "stop") == 0) std::filesystem::remove_all(folder, ignored);
    return 1;
  }
  return 0;
}
