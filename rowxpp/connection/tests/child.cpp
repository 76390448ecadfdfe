// Plays a program that leaves a PostgreSQL transaction open when it ends,
// for the tests of the library's end:
//   rowxpp_child normal TABLE   ends normally (Quit)
//   rowxpp_child error TABLE    ends through a runtime error nobody handles
// The data sources come from the caller's environment (ODBCSYSINI).
#include <cstdio>
#include <cstring>
#include <string>

#include "kiv_odbc_testing/admin_connection.h"
#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_connection.h"
#include "xpp/xpp.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    auto connection = rowxpp::SQLConnection::New("PostgreSQL", "", "");
    if (connection->Handle == 0 || !connection->BeginTransaction()) return 3;
    kivodbc::testing::ExecuteOn(rowxpp::ToHandle(connection->Handle),
                                std::string("INSERT INTO ") + argv[2] + " VALUES (1)");
    if (std::strcmp(argv[1], "error") == 0) xpp::Array{1}.Get(3);  // the default error block ends the program
    xpp::Quit(0);
}
