// Runs the tests. Started as "kiv_odbc_testing_tests --report FILE" the
// program instead writes what its own data sources are to FILE: tests start
// it so to compare two test processes.
#include <gtest/gtest.h>

#include <cstring>

int ReportDataSources(const char* file);

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--report") == 0) return ReportDataSources(argv[2]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
