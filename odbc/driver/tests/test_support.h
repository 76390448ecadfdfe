// The driver tests' private ODBC configuration and diagnostic reader come
// from the test library (kiv_odbc_testing), which programs over the other
// ODBC drivers use too.
#ifndef KIVODBC_TEST_SUPPORT_H
#define KIVODBC_TEST_SUPPORT_H

#include <sql.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "kiv_odbc_testing/diagnostics.h"
#include "kiv_odbc_testing/odbc_config.h"

#endif
