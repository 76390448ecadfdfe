// The ODBC scalar functions in the engine's SQL: SQLite user functions for
// those SQLite lacks or means otherwise, and the rewriting of the SQL forms
// that are no function calls in SQLite (CAST to a date type, date literals,
// EXTRACT, POSITION, CONVERT, LEFT/RIGHT/INSERT, which SQLite reads as
// keywords, and the SQL_TSI_ interval names).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace qel32 {

class SqlSession;

// Registers the functions on db; user data is the session.
void RegisterSqlFunctions(sqlite3* db, SqlSession* session);

// Rewrites the forms above into calls of the registered functions. Quoted
// texts and comments pass unchanged. Applying it twice changes nothing more.
std::string RewriteSqlForms(std::string_view sql);

// The engine field type (date, time, timestamp) that a select item gives
// when it is one call of a function returning that type; 0 otherwise.
uint16_t DateTypeOfItem(std::string_view item);

}  // namespace qel32
