// Driver functions behind the exported entry points that act on handles as
// such (their implementations are in api/). Exports call these, and the
// driver calls them between its own functions, never through an exported name.
#ifndef KIVODBC_API_H
#define KIVODBC_API_H

#include <sql.h>
#include <sqlext.h>

namespace kivodbc {

struct StmtRecord;

// Allocation and release behind the exported functions. Each returns an
// ODBC return code and posts its diagnostics on the handle it reports on.
SQLRETURN AllocEnv(SQLHENV* out);
SQLRETURN AllocConnect(SQLHENV env, SQLHDBC* out);
SQLRETURN AllocStmt(SQLHDBC conn, SQLHSTMT* out);
SQLRETURN AllocDesc(SQLHDBC conn, SQLHDESC* out);
SQLRETURN AllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* out);
SQLRETURN FreeEnv(SQLHENV env);
SQLRETURN FreeConnect(SQLHDBC conn);
SQLRETURN FreeStmt(SQLHSTMT stmt, SQLUSMALLINT option);
SQLRETURN FreeDesc(SQLHDESC desc);
SQLRETURN FreeHandle(SQLSMALLINT type, SQLHANDLE handle);

SQLRETURN Connect(SQLHDBC conn, const SQLCHAR* dataSource, SQLSMALLINT dataSourceLength, const SQLCHAR* user,
                  SQLSMALLINT userLength, const SQLCHAR* password, SQLSMALLINT passwordLength);
SQLRETURN DriverConnect(SQLHDBC conn, SQLHWND window, const SQLCHAR* in, SQLSMALLINT inLength, SQLCHAR* out,
                        SQLSMALLINT outCapacity, SQLSMALLINT* outLength, SQLUSMALLINT completion);
SQLRETURN BrowseConnect(SQLHDBC conn);
SQLRETURN Disconnect(SQLHDBC conn);

SQLRETURN GetInfo(SQLHDBC conn, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT capacity, SQLSMALLINT* length);
SQLRETURN GetTypeInfo(SQLHSTMT stmt, SQLSMALLINT type);

SQLRETURN SetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length);
SQLRETURN GetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                     SQLINTEGER* length);
SQLRETURN SetConnectOption(SQLHDBC conn, SQLUSMALLINT option, SQLULEN value);
SQLRETURN GetConnectOption(SQLHDBC conn, SQLUSMALLINT option, SQLPOINTER value);
SQLRETURN SetConnectAttr(SQLHDBC conn, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length);
SQLRETURN GetConnectAttr(SQLHDBC conn, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                         SQLINTEGER* length);
SQLRETURN SetStmtOption(SQLHSTMT stmt, SQLUSMALLINT option, SQLULEN value);
SQLRETURN GetStmtOption(SQLHSTMT stmt, SQLUSMALLINT option, SQLPOINTER value);
SQLRETURN SetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length);
SQLRETURN GetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                      SQLINTEGER* length);

// Transactions: completion SQL_COMMIT or SQL_ROLLBACK, on one connection or
// on every connection of an environment.
SQLRETURN Transact(SQLHENV env, SQLHDBC conn, SQLUSMALLINT completion);
SQLRETURN EndTran(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT completion);
SQLRETURN CloseCursor(SQLHSTMT stmt);

SQLRETURN SetDescField(SQLHDESC desc, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value, SQLINTEGER length);
SQLRETURN SetDescRec(SQLHDESC desc, SQLSMALLINT record, SQLSMALLINT type, SQLSMALLINT subtype, SQLLEN length,
                     SQLSMALLINT precision, SQLSMALLINT scale, SQLPOINTER data, SQLLEN* stringLength,
                     SQLLEN* indicator);
SQLRETURN GetDescField(SQLHDESC desc, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                       SQLINTEGER capacity, SQLINTEGER* length);
SQLRETURN GetDescRec(SQLHDESC desc, SQLSMALLINT record, SQLCHAR* name, SQLSMALLINT capacity,
                     SQLSMALLINT* nameLength, SQLSMALLINT* type, SQLSMALLINT* subtype, SQLLEN* length,
                     SQLSMALLINT* precision, SQLSMALLINT* scale, SQLSMALLINT* nullable);
SQLRETURN CopyDesc(SQLHDESC source, SQLHDESC target);
// The ODBC 3 column description: descriptor fields of the implementation row
// descriptor, the ODBC 2 length, precision and scale from SQLColAttributes.
SQLRETURN ColAttribute(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text,
                       SQLSMALLINT capacity, SQLSMALLINT* textLength, SQLLEN* number);

// Which entry points the driver carries (every exported one).
SQLRETURN GetFunctions(SQLHDBC conn, SQLUSMALLINT function, SQLUSMALLINT* supported);

// Marks an exported call on a statement as under way (kBusy) for its
// length, unless another call on it is under way already.
class StatementCall {
 public:
  explicit StatementCall(SQLHSTMT handle);
  StatementCall(const StatementCall&) = delete;
  StatementCall& operator=(const StatementCall&) = delete;
  ~StatementCall();

 private:
  StmtRecord* stmt_ = nullptr;
};

// SQLCancel: stops what another thread's call on the statement runs, or ends
// data at execution.
SQLRETURN Cancel(SQLHSTMT stmt);

}  // namespace kivodbc

#endif
