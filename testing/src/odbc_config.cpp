#include "kiv_odbc_testing/odbc_config.h"

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <utility>

namespace kivodbc::testing {

namespace {
std::atomic<int> counter{0};
}

OdbcConfig::OdbcConfig(const std::string& drivers, const std::string& sources) {
  namespace fs = std::filesystem;
  root_ = fs::temp_directory_path() / ("kivodbc-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  fs::remove_all(root_);
  fs::create_directories(root_ / "data");
  std::ofstream(root_ / "odbcinst.ini") << Expand(drivers);
  std::ofstream(root_ / "odbc.ini") << Expand(sources);
  Activate();
}

OdbcConfig::~OdbcConfig() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void OdbcConfig::Activate() const {
  ::setenv("ODBCSYSINI", root_.c_str(), 1);
  ::setenv("ODBCINI", (root_ / "odbc.ini").c_str(), 1);
}

std::string OdbcConfig::Expand(std::string text) const {
  for (auto [key, value] : {std::pair<std::string, std::string>{"@DATA@", (root_ / "data").string()},
                            std::pair<std::string, std::string>{"@ROOT@", root_.string()}}) {
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
      text.replace(at, key.size(), value);
  }
  return text;
}

}  // namespace kivodbc::testing
