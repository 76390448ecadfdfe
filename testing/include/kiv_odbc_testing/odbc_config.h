// A private ODBC configuration for tests: a temporary folder with
// odbcinst.ini and odbc.ini that ODBCSYSINI and ODBCINI point at, and a data
// directory for the engine.
#ifndef KIV_ODBC_TESTING_ODBC_CONFIG_H
#define KIV_ODBC_TESTING_ODBC_CONFIG_H

#include <filesystem>
#include <string>

namespace kivodbc::testing {

class OdbcConfig {
 public:
  // `drivers` and `sources` are the bodies of odbcinst.ini and odbc.ini;
  // "@DATA@" in them stands for the data directory, "@ROOT@" for the folder.
  OdbcConfig(const std::string& drivers, const std::string& sources);
  ~OdbcConfig();
  OdbcConfig(const OdbcConfig&) = delete;
  OdbcConfig& operator=(const OdbcConfig&) = delete;

  // Points the installer library at this configuration (again).
  void Activate() const;

  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path DataDirectory() const { return root_ / "data"; }

 private:
  std::string Expand(std::string text) const;

  std::filesystem::path root_;
};

}  // namespace kivodbc::testing

#endif
