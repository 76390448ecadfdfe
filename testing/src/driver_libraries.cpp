#include "kiv_odbc_testing/driver_libraries.h"

#include <filesystem>

namespace kivodbc::testing {

std::string FindOdbcDriverLibrary(const std::string& file) {
  static constexpr const char* kFolders[] = {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc",
                                             "/usr/lib/odbc"};
  for (const char* folder : kFolders) {
    const std::filesystem::path path = std::filesystem::path(folder) / file;
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return path.string();
  }
  return {};
}

std::string SqliteOdbcDriverPath() { return FindOdbcDriverLibrary("libsqlite3odbc.so"); }

std::string PostgresOdbcDriverPath() { return FindOdbcDriverLibrary("psqlodbca.so"); }

}  // namespace kivodbc::testing
