// A private ODBC configuration for tests: a temporary folder with
// odbcinst.ini and odbc.ini that ODBCSYSINI and ODBCINI point at, and a data
// directory for the engine.
#ifndef KIVODBC_TEST_SUPPORT_H
#define KIVODBC_TEST_SUPPORT_H

#include <sql.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace kivodbc::testing {

class OdbcConfig {
 public:
  // `drivers` and `sources` are the bodies of odbcinst.ini and odbc.ini;
  // "@DATA@" in them stands for the data directory, "@ROOT@" for the folder.
  OdbcConfig(const std::string& drivers, const std::string& sources) {
    namespace fs = std::filesystem;
    root_ = fs::temp_directory_path() / ("kivodbc-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    fs::remove_all(root_);
    fs::create_directories(root_ / "data");
    std::ofstream(root_ / "odbcinst.ini") << Expand(drivers);
    std::ofstream(root_ / "odbc.ini") << Expand(sources);
    Activate();
  }
  // Points the installer library at this configuration (again).
  void Activate() const {
    ::setenv("ODBCSYSINI", root_.c_str(), 1);
    ::setenv("ODBCINI", (root_ / "odbc.ini").c_str(), 1);
  }
  ~OdbcConfig() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  OdbcConfig(const OdbcConfig&) = delete;
  OdbcConfig& operator=(const OdbcConfig&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path DataDirectory() const { return root_ / "data"; }

 private:
  std::string Expand(std::string text) const {
    for (auto [key, value] : {std::pair<std::string, std::string>{"@DATA@", (root_ / "data").string()},
                              std::pair<std::string, std::string>{"@ROOT@", root_.string()}}) {
      for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
        text.replace(at, key.size(), value);
    }
    return text;
  }

  static inline int counter_ = 0;
  std::filesystem::path root_;
};

// The first diagnostic record of a handle, read through SQLGetDiagRec.
struct Diag {
  std::string state;
  SQLINTEGER native = 0;
  std::string message;
};

inline Diag FirstDiag(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLCHAR message[600] = {};
  Diag d;
  SQLGetDiagRec(type, handle, 1, state, &d.native, message, sizeof message, nullptr);
  d.state = reinterpret_cast<char*>(state);
  d.message = reinterpret_cast<char*>(message);
  return d;
}

inline Diag FirstDiag(SQLHSTMT stmt) { return FirstDiag(SQL_HANDLE_STMT, stmt); }

}  // namespace kivodbc::testing

#endif
