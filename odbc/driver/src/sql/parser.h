// The parser of the driver's SQL front end. It accepts the select over one
// pseudo-table (or engine table) that the driver answers itself and the
// engine pseudo statement "SQL"; everything else is a syntax error code.
#ifndef KIVODBC_PARSER_H
#define KIVODBC_PARSER_H

#include <cstddef>
#include <cstdint>

#include "sql/parsetree.h"
#include "handles/records.h"

namespace kivodbc {

// Parses `text` (`length` bytes, SQL_NTS allowed) into a new tree: 0 with the
// root hung on the statement (replacing its current tree), or a driver code
// with the statement's message argument set and no tree left behind.
uint32_t ParseStatementText(StmtRecord* stmt, const char* text, SQLLEN length);

// The same without a statement: the root goes to `*out`, the message
// argument to `argument` (kArgumentSize bytes).
uint32_t ParseText(const char* text, size_t length, uint32_t engineConnection, char* argument, ParseRoot** out);

}  // namespace kivodbc

#endif
