// Changes through the cursor of an executed select: SQLSetPos (position,
// refresh, update, delete, add on the current row), SQLBulkOperations (add,
// and update, delete or fetch of the row a bookmark names) and the scroll
// options of ODBC 1.
//
// Updates and adds take their values from the column bindings. Each binding
// keeps the value to write in its owned block; a value may arrive later as
// data at execution, through SQLParamData and SQLPutData.
#ifndef KIVODBC_POSITIONED_H
#define KIVODBC_POSITIONED_H

#include <sql.h>
#include <sqlext.h>

#include "handles/records.h"

namespace kivodbc {

constexpr uint16_t kRowOutOfRange = 2173;
constexpr uint16_t kCursorReadOnly = 2175;
constexpr uint16_t kExpressionNotAssignable = 2176;

SQLRETURN SetPos(SQLHSTMT stmt, SQLSETPOSIROW row, SQLUSMALLINT operation, SQLUSMALLINT lockType);
SQLRETURN BulkOperations(SQLHSTMT stmt, SQLSMALLINT operation);
// Sets the concurrency, the cursor type or keyset size, and the rowset size
// through the statement options; the first failure ends it, a changed value
// is reported at the end.
SQLRETURN SetScrollOptions(SQLHSTMT stmt, SQLUSMALLINT concurrency, SQLLEN keyset, SQLUSMALLINT rowset);

// Writes the prepared column values of a positioned update (positioned row
// 0) or add (the row), and sets the row status. The positioned row goes back
// to -1.
SQLRETURN ApplyPositionedChange(StmtRecord* stmt);

// SQLParamData and SQLPutData while a positioned update or add waits for
// its column values.
SQLRETURN PositionedParamData(StmtRecord* stmt, SQLPOINTER* token);
SQLRETURN PositionedPutData(StmtRecord* stmt, SQLPOINTER data, SQLLEN length);

}  // namespace kivodbc

#endif
