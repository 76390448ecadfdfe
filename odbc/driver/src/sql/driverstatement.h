// Statements the driver runs itself, recognised before any preparation of a
// direct execution: "use" (the current database) and "call" of the table
// maintenance and encryption procedures.
#ifndef KIVODBC_DRIVERSTATEMENT_H
#define KIVODBC_DRIVERSTATEMENT_H

#include <cstdint>
#include <string>

#include "handles/records.h"

namespace kivodbc {

constexpr size_t kMaxDriverArgument = 512;

// Removes layout characters and single quotes from the end, then from the start.
std::string TrimQuotesAndBlanks(const std::string& text);

// Runs `text` when it is a driver statement: `*handled` is set for "use" and
// the seven procedure words whether they succeed or not. Returns 0 or the
// failure's code (an engine code stays the session's last error); nothing is
// posted.
uint32_t ExecuteDriverStatement(const std::string& text, StmtRecord* stmt, bool* handled);

// Opens a table by name in the current database (the connection's data
// directory when none was chosen) for a maintenance operation.
uint32_t OpenNamedTable(const std::string& name, EngineSession* session, uint32_t* table);

}  // namespace kivodbc

#endif
