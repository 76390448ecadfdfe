// Reading a handle's pending diagnostic back: SQLError (ODBC 2) and
// SQLGetDiagRec / SQLGetDiagField (ODBC 3). Each handle holds one record.
#ifndef KIVODBC_DIAGNOSTICS_H
#define KIVODBC_DIAGNOSTICS_H

#include <sql.h>
#include <sqlext.h>

#include "handles/records.h"

namespace kivodbc {

// SQLCancel from another thread that found the statement in a call it cannot
// stop: HY018 becomes the statement's diagnostic as this thread reads it,
// while the running call keeps its own record. Returns SQL_ERROR.
SQLRETURN PostDeclinedCancel(StmtRecord* stmt);
// This thread's next call on the statement: the declined cancel is read no more.
void ForgetDeclinedCancel(StmtRecord* stmt);

SQLRETURN Error(SQLHENV env, SQLHDBC conn, SQLHSTMT stmt, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                SQLSMALLINT capacity, SQLSMALLINT* length);
SQLRETURN GetDiagRec(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state,
                     SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT capacity, SQLSMALLINT* length);
SQLRETURN GetDiagField(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT field,
                       SQLPOINTER value, SQLSMALLINT capacity, SQLSMALLINT* length);

}  // namespace kivodbc

#endif
