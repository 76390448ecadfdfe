// Result rows to the application: column binding, fetching over the cursor
// of an executed select, single values through SQLGetData, and the
// description of result columns.
#ifndef KIVODBC_FETCH_H
#define KIVODBC_FETCH_H

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "sql/parsetree.h"
#include "handles/records.h"

namespace kivodbc {

constexpr uint16_t kDescriptorTypeOutOfRange = 2142;
constexpr uint16_t kDeletedRow = 2174;
constexpr uint16_t kAddedRowBookmark = 2188;

// Moves one value of the current row into an application buffer: 0, 2102
// (cut), SQL_NO_DATA's 2138 (the whole value was returned already) or a
// failure. Nothing is posted.
uint32_t GetColumnData(StmtRecord* stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target,
                       SQLLEN bufferLength, SQLLEN* length, SQLLEN* indicator);

// The select of an executed or prepared statement; null when it has none.
ParseNode* StatementSelect(const StmtRecord* stmt);
// The n-th select item (1-based); null beyond the last.
ParseNode* SelectItem(ParseNode* select, SQLUSMALLINT column);

// Moves every bound column of the current row into the application's
// buffers: 0, the last warning (2102), or the first failure (posted by the
// caller).
uint32_t TransferBindings(StmtRecord* stmt);

// Statement-level pieces of SQLFreeStmt.
SQLRETURN CloseStatement(StmtRecord* stmt);

SQLRETURN BindCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufferLength,
                  SQLLEN* lengthOrIndicator);
SQLRETURN Fetch(SQLHSTMT stmt);
SQLRETURN ExtendedFetch(SQLHSTMT stmt, SQLUSMALLINT orientation, SQLLEN offset, SQLULEN* rowCount,
                        SQLUSMALLINT* rowStatus);
SQLRETURN FetchScroll(SQLHSTMT stmt, SQLSMALLINT orientation, SQLLEN offset);
SQLRETURN GetData(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufferLength,
                  SQLLEN* lengthOrIndicator);
SQLRETURN NumResultCols(SQLHSTMT stmt, SQLSMALLINT* count);
SQLRETURN DescribeCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT capacity,
                      SQLSMALLINT* nameLength, SQLSMALLINT* sqlType, SQLULEN* columnSize, SQLSMALLINT* digits,
                      SQLSMALLINT* nullable);
SQLRETURN ColAttributes(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT attribute, SQLPOINTER text,
                        SQLSMALLINT bufferLength, SQLSMALLINT* textLength, SQLLEN* number);

}  // namespace kivodbc

#endif
