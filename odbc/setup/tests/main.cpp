#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "kivforms/forms.h"

// Each test process gets its own ODBC configuration: a fresh folder with an
// odbcinst.ini that registers the built setup library, and the user's
// odbc.ini beside it. The installer caches reads keyed by file name, not by
// path, so the variables are set once, before the first installer call.
int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::string pattern = (std::filesystem::temp_directory_path() / "kivset-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 2;
  const std::string folder = pattern;
  {
    std::ofstream inst(folder + "/odbcinst.ini");
    // The driver library is not needed to configure data sources; any
    // existing file will do for its Driver key.
    inst << "[Morvane Rivulet Test]\n"
         << "Description=Morvane Rivulet ODBC Driver (test)\n"
         << "Driver=" << KIVSET_LIBRARY_PATH << "\n"
         << "Setup=" << KIVSET_LIBRARY_PATH << "\n";
    std::ofstream(folder + "/odbc.ini").flush();
  }
  setenv("ODBCSYSINI", folder.c_str(), 1);
  setenv("ODBCINI", (folder + "/odbc.ini").c_str(), 1);

  ::testing::InitGoogleTest(&argc, argv);
  int result;
  {
    kivforms::TApplication app(argc, argv);
    app.Title = "Setup Test";
    result = RUN_ALL_TESTS();
  }
  std::filesystem::remove_all(folder);
  return result;
}
