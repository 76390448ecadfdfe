// Driver functions behind the exported entry points that live outside the
// record and diagnostic modules. Exports call these, and the driver calls
// them between its own functions, never through an exported name.
#ifndef KIVODBC_API_H
#define KIVODBC_API_H

#include <sql.h>
#include <sqlext.h>

namespace kivodbc {

SQLRETURN Connect(SQLHDBC conn, const SQLCHAR* dataSource, SQLSMALLINT dataSourceLength, const SQLCHAR* user,
                  SQLSMALLINT userLength, const SQLCHAR* password, SQLSMALLINT passwordLength);
SQLRETURN Disconnect(SQLHDBC conn);

SQLRETURN SetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length);
SQLRETURN GetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                     SQLINTEGER* length);
SQLRETURN GetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                      SQLINTEGER* length);

// Which entry points the driver carries (every exported one).
SQLRETURN GetFunctions(SQLHDBC conn, SQLUSMALLINT function, SQLUSMALLINT* supported);

}  // namespace kivodbc

#endif
