// Execution of prepared statements: parameter values handed to the engine
// statement, the engine's execution and the driver's cursor over its result,
// rows affected, and the statements the driver runs itself.
#ifndef KIVODBC_EXECUTE_H
#define KIVODBC_EXECUTE_H

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "handles/records.h"
#include "sql/statement.h"

namespace kivodbc {

constexpr uint16_t kDdlCommittedFirst = 2164;  // warning after the repeated run
constexpr uint16_t kDdlStatementDeleted = 2165;
constexpr uint16_t kParameterPassingFailed = 2004;

// Runs the prepared statement with the values its parameter nodes hold:
// 0, a warning (2102, 2163, 2164) or the failure, posted on the statement.
uint32_t ExecutePrepared(StmtRecord* stmt);

// Runs the request's engine statement: the engine cursor (or 0) becomes the
// request's cursor; `*affected` gets the rows an insert, update or delete
// changed (-1 when not known) and `*function` the statement's function code.
uint32_t ExecuteEngineRequest(StmtRecord* stmt, EngineRequest* request, int16_t cursorType, SQLLEN* affected,
                              int16_t* function);

// The ODBC result of an execution that ended with `code` (SQL_NO_DATA for an
// update or delete without rows under ODBC 3).
SQLRETURN ExecutionResult(StmtRecord* stmt, uint32_t code);

// The end of data at execution: runs the statement and maps its result.
SQLRETURN ExecuteAfterData(StmtRecord* stmt);

SQLRETURN Execute(SQLHSTMT stmt);
SQLRETURN ExecDirect(SQLHSTMT stmt, const SQLCHAR* text, SQLINTEGER length);
SQLRETURN RowCount(SQLHSTMT stmt, SQLLEN* count);
SQLRETURN MoreResults(SQLHSTMT stmt);
SQLRETURN NativeSql(SQLHDBC conn, const SQLCHAR* text, SQLINTEGER length, SQLCHAR* buffer, SQLINTEGER bufferLength,
                    SQLINTEGER* outLength);

}  // namespace kivodbc

#endif
