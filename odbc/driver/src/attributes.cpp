// The environment's ODBC version and the statement attributes the driver
// manager reads at every statement allocation (the four descriptors).
#include <cstdint>
#include <cstring>

#include "api.h"
#include "messages.h"
#include "records.h"

namespace kivodbc {

SQLRETURN SetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  EnvRecord* env = AsEnv(handle);
  if (env == nullptr) return SQL_INVALID_HANDLE;
  env->code = 0;
  const auto number = static_cast<SQLINTEGER>(reinterpret_cast<intptr_t>(value));
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION:
      // ODBC 3.80 applications are served as ODBC 3 ones, without a warning
      // that a driver manager would take for a failure.
      if (number == SQL_OV_ODBC2) env->version = SQL_OV_ODBC2;
      else if (number == SQL_OV_ODBC3 || number == SQL_OV_ODBC3_80) env->version = SQL_OV_ODBC3;
      else return PostEnvError(env, kInvalidAttributeValue);
      return SQL_SUCCESS;
    case SQL_ATTR_OUTPUT_NTS:
      if (number == SQL_TRUE) return SQL_SUCCESS;
      return PostEnvError(env, kFeatureNotImplemented);
  }
  return PostEnvError(env, kInvalidAttribute);
}

SQLRETURN GetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER, SQLINTEGER* length) {
  EnvRecord* env = AsEnv(handle);
  if (env == nullptr) return SQL_INVALID_HANDLE;
  env->code = 0;
  SQLINTEGER number = 0;
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION: number = env->version; break;
    case SQL_ATTR_OUTPUT_NTS: number = SQL_TRUE; break;
    default: return PostEnvError(env, kInvalidAttribute);
  }
  if (value != nullptr) std::memcpy(value, &number, sizeof number);
  if (length != nullptr) *length = sizeof number;
  return SQL_SUCCESS;
}

SQLRETURN GetStmtAttr(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER, SQLINTEGER* length) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  SQLHDESC desc = nullptr;
  switch (attribute) {
    case SQL_ATTR_APP_ROW_DESC: desc = stmt->ard; break;
    case SQL_ATTR_APP_PARAM_DESC: desc = stmt->apd; break;
    case SQL_ATTR_IMP_ROW_DESC: desc = &stmt->builtIn[kIrd]; break;
    case SQL_ATTR_IMP_PARAM_DESC: desc = &stmt->builtIn[kIpd]; break;
    default: return PostStatementError(stmt, kFeatureNotImplemented);
  }
  // Descriptor handles are full pointers.
  if (value != nullptr) std::memcpy(value, &desc, sizeof desc);
  if (length != nullptr) *length = sizeof desc;
  return SQL_SUCCESS;
}

}  // namespace kivodbc
