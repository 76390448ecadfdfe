// Environment, connection and statement attributes and options, and the
// transaction calls. The ODBC 2 option functions are where options take
// effect; the ODBC 3 attribute functions route to them.
//
// Result convention: a pending 2169 ("Option value changed.") gives
// SQL_SUCCESS_WITH_INFO, any other pending code SQL_ERROR.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "api.h"
#include "connect/connstring.h"
#include "handles/messages.h"
#include "handles/records.h"
#include "connect/session.h"
#include "data/valuetext.h"

namespace kivodbc {
namespace {

constexpr uint16_t kTransactionStillActive = 2161;
constexpr size_t kMaxQualifierLength = 260;

// The SQL_ATTR_ numbers that are not in every header.
constexpr SQLINTEGER kAttrOutputNts = 10001;
constexpr SQLINTEGER kAttrConnectionPooling = 201;
constexpr SQLINTEGER kAttrCpMatch = 202;

template <typename T>
void Put(SQLPOINTER value, SQLINTEGER* length, T number) {
  if (value != nullptr) std::memcpy(value, &number, sizeof number);
  if (length != nullptr) *length = static_cast<SQLINTEGER>(sizeof number);
}

SQLULEN Number(SQLPOINTER value) { return static_cast<SQLULEN>(reinterpret_cast<uintptr_t>(value)); }

bool HasTransactions(const ConnRecord* conn) {
  return conn->session != nullptr && conn->session->transactionCapable != 0;
}

// Cursor type and concurrency: the value taken and whether it was changed.
int16_t CursorTypeValue(SQLULEN value, uint32_t* code) {
  if (value <= SQL_CURSOR_DYNAMIC) return static_cast<int16_t>(value);
  *code = kOptionValueChanged;
  return SQL_CURSOR_DYNAMIC;
}

int16_t ConcurrencyValue(SQLULEN value, uint32_t* code) {
  if (value == SQL_CONCUR_READ_ONLY || value == SQL_CONCUR_LOCK) return static_cast<int16_t>(value);
  *code = kOptionValueChanged;
  return SQL_CONCUR_LOCK;
}

// A statement with a result may not change its cursor under it.
bool ChangesOpenCursor(const StmtRecord* stmt, int16_t current, int16_t wanted) {
  return stmt->kind != kKindNone && current != wanted;
}

uint32_t CopyUpFromStatement(ConnRecord* conn, StmtRecord* stmt) {
  conn->code = stmt->code;
  SetArgumentText(conn->argument, stmt->argument);
  std::memcpy(conn->engineText, stmt->engineText, kMessageSize);
  return stmt->code;
}

uint32_t SetAutocommit(ConnRecord* conn, SQLULEN value) {
  if (value != SQL_AUTOCOMMIT_OFF && value != SQL_AUTOCOMMIT_ON) return kDriverNotCapable;
  if (conn->session == nullptr) {
    // Kept until the connect, which takes it into the session.
    conn->autocommit = static_cast<int32_t>(value);
    return 0;
  }
  if (!HasTransactions(conn)) return value == SQL_AUTOCOMMIT_ON ? 0 : kDriverNotCapable;
  if (value == SQL_AUTOCOMMIT_ON && conn->autocommit == 0) {
    // Turning autocommit on commits the open work first.
    if (Transact(nullptr, conn, SQL_COMMIT) != SQL_SUCCESS) return conn->code;
  }
  conn->autocommit = static_cast<int32_t>(value);
  conn->session->autocommit = static_cast<int32_t>(value);
  return 0;
}

uint32_t SetIsolation(ConnRecord* conn, SQLULEN value) {
  const auto level = static_cast<int32_t>(value);
  if (conn->session == nullptr) {
    // Checked against the session's levels at the connect.
    conn->isolation = level;
    return 0;
  }
  if (!HasTransactions(conn)) return kDriverNotCapable;
  if (level == conn->isolation) return 0;
  for (StmtRecord* stmt = conn->firstStmt; stmt != nullptr; stmt = stmt->next)
    if (stmt->transactionTouched != 0) return kTransactionStillActive;
  if (uint32_t code = CheckIsolationLevel(conn->session, level)) return code;
  conn->isolation = level;
  return 0;
}

// Statement options set on the connection: the connection default and every
// statement of the connection.
uint32_t SetStatementDefault(ConnRecord* conn, SQLUSMALLINT option, SQLULEN value) {
  uint32_t code = 0;
  switch (option) {
    case SQL_QUERY_TIMEOUT:
    case SQL_MAX_ROWS:
    case SQL_MAX_LENGTH:
    case SQL_KEYSET_SIZE: return value == 0 ? 0 : kOptionValueChanged;
    case SQL_ROWSET_SIZE: return value == 1 ? 0 : kOptionValueChanged;
    case SQL_NOSCAN:
    case SQL_ASYNC_ENABLE: return value == 0 ? 0 : kFeatureNotImplemented;
    case SQL_BIND_TYPE:
      conn->bindType = value;
      for (StmtRecord* stmt = conn->firstStmt; stmt != nullptr; stmt = stmt->next) stmt->ard->bindType = value;
      return 0;
    case SQL_CURSOR_TYPE:
    case SQL_CONCURRENCY: {
      const bool cursorType = option == SQL_CURSOR_TYPE;
      const int16_t taken = cursorType ? CursorTypeValue(value, &code) : ConcurrencyValue(value, &code);
      for (StmtRecord* stmt = conn->firstStmt; stmt != nullptr; stmt = stmt->next) {
        if (ChangesOpenCursor(stmt, cursorType ? stmt->cursorType : stmt->concurrency, taken)) {
          PostStatementError(stmt, kInvalidCursorState);
          return kInvalidCursorState;
        }
      }
      (cursorType ? conn->cursorType : conn->concurrency) = taken;
      for (StmtRecord* stmt = conn->firstStmt; stmt != nullptr; stmt = stmt->next)
        (cursorType ? stmt->cursorType : stmt->concurrency) = taken;
      return code;
    }
    case SQL_RETRIEVE_DATA:
    case SQL_USE_BOOKMARKS: {
      const auto taken = static_cast<int16_t>(value);
      (option == SQL_RETRIEVE_DATA ? conn->retrieveData : conn->useBookmarks) = taken;
      for (StmtRecord* stmt = conn->firstStmt; stmt != nullptr; stmt = stmt->next)
        (option == SQL_RETRIEVE_DATA ? stmt->retrieveData : stmt->useBookmarks) = taken;
      return 0;
    }
  }
  return kDriverNotCapable;
}

uint32_t SetConnectOptionCode(ConnRecord* conn, SQLUSMALLINT option, SQLULEN value) {
  if (option <= SQL_USE_BOOKMARKS) return SetStatementDefault(conn, option, value);
  switch (option) {
    case SQL_ACCESS_MODE:
    case SQL_OPT_TRACE:
    case SQL_TRANSLATE_DLL:
    case SQL_TRANSLATE_OPTION:
    case SQL_QUIET_MODE: return value == 0 ? 0 : kOptionValueChanged;
    case SQL_AUTOCOMMIT: return SetAutocommit(conn, value);
    case SQL_LOGIN_TIMEOUT: return 0;
    case SQL_OPT_TRACEFILE: return kOptionValueChanged;
    case SQL_TXN_ISOLATION: return SetIsolation(conn, value);
    case SQL_CURRENT_QUALIFIER: {
      const char* wanted = reinterpret_cast<const char*>(static_cast<uintptr_t>(value));
      if (conn->session == nullptr || wanted == nullptr ||
          !EqualsIgnoreCase(wanted, conn->session->connectPath))
        return kDriverNotCapable;
      return 0;
    }
  }
  return kDriverNotCapable;
}

// The connection options that read back: a number, or a text.
struct OptionValue {
  uint32_t code = 0;
  bool isText = false;
  SQLUINTEGER number = 0;
  std::string text;
};

OptionValue GetConnectOptionValue(const ConnRecord* conn, SQLUSMALLINT option) {
  OptionValue v;
  switch (option) {
    case SQL_AUTOCOMMIT: v.number = conn->autocommit != 0 ? 1 : 0; break;
    case SQL_TXN_ISOLATION:
      if (conn->session != nullptr ? !HasTransactions(conn) : conn->isolation == -1) v.code = kDriverNotCapable;
      v.number = static_cast<SQLUINTEGER>(conn->isolation);
      break;
    case SQL_CURRENT_QUALIFIER:
      v.isText = true;
      v.text = conn->session != nullptr ? conn->session->connectPath : "";
      break;
    case SQL_OPT_TRACEFILE:
    case SQL_TRANSLATE_DLL: v.isText = true; break;
    case SQL_ODBC_CURSORS:
    case SQL_PACKET_SIZE: v.code = kDriverNotCapable; break;
    case SQL_ACCESS_MODE:
    case SQL_LOGIN_TIMEOUT:
    case SQL_OPT_TRACE:
    case SQL_TRANSLATE_OPTION:
    case SQL_QUIET_MODE: break;
    default: v.code = kDriverNotCapable; break;
  }
  return v;
}

void ClearStatementCodes(StmtRecord* stmt) {
  stmt->code = 0;
  stmt->rowCount = 0;
}

uint32_t SetStmtOptionCode(StmtRecord* stmt, SQLUSMALLINT option, SQLULEN value) {
  uint32_t code = 0;
  switch (option) {
    case SQL_NOSCAN:
    case SQL_ASYNC_ENABLE: return value == 0 ? 0 : kFeatureNotImplemented;
    case SQL_BIND_TYPE: stmt->ard->bindType = value; return 0;
    case SQL_CURSOR_TYPE: {
      const int16_t taken = CursorTypeValue(value, &code);
      if (ChangesOpenCursor(stmt, stmt->cursorType, taken)) return kInvalidCursorState;
      stmt->cursorType = taken;
      return code;
    }
    case SQL_CONCURRENCY: {
      const int16_t taken = ConcurrencyValue(value, &code);
      if (ChangesOpenCursor(stmt, stmt->concurrency, taken)) return kInvalidCursorState;
      stmt->concurrency = taken;
      return code;
    }
    case SQL_SIMULATE_CURSOR: return kDriverNotCapable;
    case SQL_RETRIEVE_DATA: stmt->retrieveData = static_cast<int16_t>(value); return 0;
    case SQL_USE_BOOKMARKS: stmt->useBookmarks = static_cast<int16_t>(value); return 0;
    case SQL_ROWSET_SIZE: return value == 1 ? 0 : kOptionValueChanged;
    case SQL_QUERY_TIMEOUT:
    case SQL_MAX_ROWS:
    case SQL_MAX_LENGTH:
    case SQL_KEYSET_SIZE: return value == 0 ? 0 : kOptionValueChanged;
  }
  return kDriverNotCapable;
}

// The cursor type as the statement's result has it: an open catalog result
// (kinds 1 to 11) is read forward only whatever type was asked for.
int16_t OpenCursorType(const StmtRecord* stmt) {
  return stmt->kind >= 1 && stmt->kind <= 11 ? static_cast<int16_t>(SQL_CURSOR_FORWARD_ONLY) : stmt->cursorType;
}

uint32_t GetStmtOptionValue(const StmtRecord* stmt, SQLUSMALLINT option, SQLULEN* out) {
  switch (option) {
    case SQL_QUERY_TIMEOUT:
    case SQL_MAX_ROWS:
    case SQL_NOSCAN:
    case SQL_MAX_LENGTH:
    case SQL_ASYNC_ENABLE:
    case SQL_KEYSET_SIZE: *out = 0; return 0;
    case SQL_BIND_TYPE: *out = stmt->ard->bindType; return 0;
    case SQL_CURSOR_TYPE: *out = static_cast<SQLULEN>(OpenCursorType(stmt)); return 0;
    case SQL_CONCURRENCY: *out = static_cast<SQLULEN>(stmt->concurrency); return 0;
    case SQL_RETRIEVE_DATA: *out = static_cast<SQLULEN>(stmt->retrieveData); return 0;
    case SQL_USE_BOOKMARKS: *out = static_cast<SQLULEN>(stmt->useBookmarks); return 0;
    case SQL_ROWSET_SIZE: *out = 1; return 0;
    case SQL_GET_BOOKMARK:
      if (stmt->currentRow <= 0 || stmt->useBookmarks == SQL_UB_OFF) return kDriverNotCapable;
      *out = static_cast<SQLULEN>(stmt->currentRow);
      return 0;
    case SQL_ROW_NUMBER: *out = stmt->currentRow == -3 ? 0 : static_cast<SQLULEN>(stmt->currentRow); return 0;
  }
  return kDriverNotCapable;
}

// Switching a statement's application descriptor: null restores the
// statement's own, an explicit descriptor of the connection is taken, any
// other statement's (or slot's) built-in descriptor is refused.
uint32_t SwitchDescriptor(StmtRecord* stmt, DescRecord** slot, DescRecord* own, SQLPOINTER value) {
  if (value == nullptr) {
    *slot = own;
    return 0;
  }
  DescRecord* desc = AsDesc(value);
  if (desc == nullptr || desc->conn != stmt->conn) return kInvalidAttributeValue;
  if (desc->allocKind == kDescBuiltIn && desc != own) return kImplicitDescriptor;
  *slot = desc;
  return 0;
}

uint32_t TransactConnection(ConnRecord* conn, bool commit) {
  if (!HasTransactions(conn)) return 0;
  for (StmtRecord* stmt = conn->firstStmt; stmt != nullptr; stmt = stmt->next) {
    stmt->kind = kKindNone;
    if (FreeStmt(stmt, SQL_CLOSE) != SQL_SUCCESS) return CopyUpFromStatement(conn, stmt);
  }
  EngineSession* session = conn->session;
  const uint32_t code = commit ? CommitEngineTransaction(session) : RollbackEngineTransaction(session);
  if (code != 0) {
    BuildDiagnosticText(session, conn->engineText);
    conn->code = static_cast<uint16_t>(code);
    conn->argument[0] = 0;
    return code;
  }
  for (StmtRecord* stmt = conn->firstStmt; stmt != nullptr; stmt = stmt->next) {
    stmt->transactionTouched = 0;
    stmt->transactionFlag = 0;
  }
  return 0;
}

}  // namespace

// ---- Environment

SQLRETURN SetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  EnvRecord* env = AsEnv(handle);
  if (env == nullptr) return SQL_INVALID_HANDLE;
  env->code = 0;
  const SQLULEN number = Number(value);
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION:
      if (env->firstConn != nullptr) return PostEnvError(env, kFunctionSequenceError);
      // ODBC 3.80 applications are served as ODBC 3 ones, without a warning
      // that a driver manager would take for a failure.
      if (number == SQL_OV_ODBC2) env->version = SQL_OV_ODBC2;
      else if (number == SQL_OV_ODBC3 || number == SQL_OV_ODBC3_80) env->version = SQL_OV_ODBC3;
      else return PostEnvError(env, kOptionValueChanged);
      return SQL_SUCCESS;
    case kAttrConnectionPooling:
    case kAttrCpMatch: return number == 0 ? SQL_SUCCESS : PostEnvError(env, kOptionValueChanged);
    case kAttrOutputNts:
      if (number == SQL_TRUE) return SQL_SUCCESS;
      return PostEnvError(env, kFeatureNotImplementedHyc00);
  }
  return PostEnvError(env, kInvalidAttribute);
}

SQLRETURN GetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER, SQLINTEGER* length) {
  EnvRecord* env = AsEnv(handle);
  if (env == nullptr) return SQL_INVALID_HANDLE;
  env->code = 0;
  SQLUINTEGER number = 0;
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION: number = static_cast<SQLUINTEGER>(env->version); break;
    case kAttrConnectionPooling:
    case kAttrCpMatch: number = 0; break;
    case kAttrOutputNts: number = SQL_TRUE; break;
    default: return PostEnvError(env, kInvalidAttribute);
  }
  Put(value, length, number);
  return SQL_SUCCESS;
}

// ---- Connection

SQLRETURN SetConnectOption(SQLHDBC handle, SQLUSMALLINT option, SQLULEN value) {
  ConnRecord* conn = AsConn(handle);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  if (option == SQL_ATTR_CONNECTION_TIMEOUT || option == SQL_ATTR_METADATA_ID)
    return SetConnectAttr(handle, option, reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(value)), 0);
  const uint32_t code = SetConnectOptionCode(conn, option, value);
  if (code == kInvalidCursorState || code == 0 || conn->code == 0) return PostConnError(conn, code);
  return ResultOfCode(conn->code);
}

SQLRETURN GetConnectOption(SQLHDBC handle, SQLUSMALLINT option, SQLPOINTER value) {
  ConnRecord* conn = AsConn(handle);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  const OptionValue v = GetConnectOptionValue(conn, option);
  if (v.code != 0) return PostConnError(conn, v.code);
  if (v.isText) {
    // ODBC 2 text options come in a buffer of SQL_MAX_OPTION_STRING_LENGTH bytes.
    if (value != nullptr) CopyOutString(static_cast<char*>(value), SQL_MAX_OPTION_STRING_LENGTH, nullptr, v.text.c_str());
  } else {
    Put(value, nullptr, v.number);
  }
  return SQL_SUCCESS;
}

SQLRETURN SetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length) {
  ConnRecord* conn = AsConn(handle);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  if ((attribute >= 0 && attribute <= SQL_USE_BOOKMARKS) ||
      (attribute >= SQL_ATTR_ACCESS_MODE && attribute <= SQL_ATTR_PACKET_SIZE && attribute != SQL_ATTR_CURRENT_CATALOG))
    return SetConnectOption(handle, static_cast<SQLUSMALLINT>(attribute), Number(value));
  switch (attribute) {
    case SQL_ATTR_CURRENT_CATALOG: {
      const char* text = static_cast<const char*>(value);
      const std::string qualifier(text != nullptr ? text : "", ArgumentLength(text, length, kMaxQualifierLength));
      return PostConnError(conn, SetConnectOptionCode(conn, SQL_CURRENT_QUALIFIER,
                                                      static_cast<SQLULEN>(reinterpret_cast<uintptr_t>(qualifier.c_str()))));
    }
    case SQL_ATTR_CONNECTION_TIMEOUT: return PostConnError(conn, Number(value) == 0 ? 0 : kOptionValueChanged);
    case SQL_ATTR_METADATA_ID:
      conn->metadataId = static_cast<int32_t>(Number(value));
      for (StmtRecord* stmt = conn->firstStmt; stmt != nullptr; stmt = stmt->next) stmt->metadataId = conn->metadataId;
      return SQL_SUCCESS;
  }
  return PostConnError(conn, kInvalidAttribute);
}

SQLRETURN GetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                         SQLINTEGER* length) {
  ConnRecord* conn = AsConn(handle);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  switch (attribute) {
    case SQL_ATTR_ASYNC_ENABLE: Put<SQLULEN>(value, length, SQL_ASYNC_ENABLE_OFF); return SQL_SUCCESS;
    case SQL_ATTR_CONNECTION_TIMEOUT: Put<SQLUINTEGER>(value, length, 0); return SQL_SUCCESS;
    case SQL_ATTR_AUTO_IPD: Put<SQLUINTEGER>(value, length, SQL_TRUE); return SQL_SUCCESS;
    case SQL_ATTR_METADATA_ID: Put<SQLUINTEGER>(value, length, static_cast<SQLUINTEGER>(conn->metadataId)); return SQL_SUCCESS;
    case SQL_ATTR_ACCESS_MODE:
    case SQL_ATTR_AUTOCOMMIT:
    case SQL_ATTR_LOGIN_TIMEOUT:
    case SQL_ATTR_TRACE:
    case SQL_ATTR_TRANSLATE_OPTION:
    case SQL_ATTR_TXN_ISOLATION:
    case SQL_ATTR_ODBC_CURSORS:
    case SQL_ATTR_QUIET_MODE:
    case SQL_ATTR_PACKET_SIZE:
    case SQL_ATTR_TRACEFILE:
    case SQL_ATTR_TRANSLATE_LIB:
    case SQL_ATTR_CURRENT_CATALOG: break;
    default: return PostConnError(conn, kInvalidAttribute);
  }
  const OptionValue v = GetConnectOptionValue(conn, static_cast<SQLUSMALLINT>(attribute));
  if (v.code != 0) return PostConnError(conn, v.code);
  if (v.isText) {
    // Within the caller's buffer, with the text's true length.
    const int copied = CopyOutStringLong(static_cast<char*>(value), capacity, length, v.text.c_str());
    if (copied != 0 && value != nullptr) return PostConnError(conn, static_cast<uint32_t>(copied));
    return SQL_SUCCESS;
  }
  if (attribute == SQL_ATTR_QUIET_MODE) {
    Put<SQLPOINTER>(value, length, nullptr);  // a window handle
    return SQL_SUCCESS;
  }
  Put(value, length, v.number);
  return SQL_SUCCESS;
}

// ---- Statement

SQLRETURN SetStmtOption(SQLHSTMT handle, SQLUSMALLINT option, SQLULEN value) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  ClearStatementCodes(stmt);
  if (option > SQL_USE_BOOKMARKS) return PostStatementError(stmt, kDriverNotCapable);
  return PostStatementError(stmt, SetStmtOptionCode(stmt, option, value));
}

SQLRETURN GetStmtOption(SQLHSTMT handle, SQLUSMALLINT option, SQLPOINTER value) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  SQLULEN number = 0;
  if (uint32_t code = GetStmtOptionValue(stmt, option, &number)) return PostStatementError(stmt, code);
  Put(value, nullptr, number);
  return SQL_SUCCESS;
}

SQLRETURN SetStmtAttr(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  ClearStatementCodes(stmt);
  const SQLULEN number = Number(value);
  auto offsetPointer = [](DescRecord* desc, SQLPOINTER pointer) {
    desc->bindOffsetPtr = pointer != nullptr ? static_cast<SQLLEN*>(pointer) : &desc->zeroOffset;
  };
  uint32_t code = 0;
  switch (attribute) {
    case SQL_ATTR_ENABLE_AUTO_IPD: stmt->enableAutoIpd = static_cast<int32_t>(number); break;
    case SQL_ATTR_FETCH_BOOKMARK_PTR: stmt->fetchBookmarkPtr = value; break;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR: offsetPointer(stmt->apd, value); break;
    case SQL_ATTR_PARAM_BIND_TYPE: stmt->apd->bindType = number; break;
    case SQL_ATTR_PARAM_OPERATION_PTR: stmt->apd->arrayStatusPtr = static_cast<SQLUSMALLINT*>(value); break;
    case SQL_ATTR_PARAM_STATUS_PTR: stmt->builtIn[kIpd].arrayStatusPtr = static_cast<SQLUSMALLINT*>(value); break;
    case SQL_ATTR_PARAMS_PROCESSED_PTR: stmt->builtIn[kIpd].rowsProcessedPtr = static_cast<SQLULEN*>(value); break;
    case SQL_ATTR_PARAMSET_SIZE:
    case SQL_ATTR_ROW_ARRAY_SIZE: code = number == 1 ? 0 : kOptionValueChanged; break;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR: offsetPointer(stmt->ard, value); break;
    case SQL_ATTR_ROW_OPERATION_PTR: stmt->ard->arrayStatusPtr = static_cast<SQLUSMALLINT*>(value); break;
    case SQL_ATTR_ROW_STATUS_PTR: stmt->builtIn[kIrd].arrayStatusPtr = static_cast<SQLUSMALLINT*>(value); break;
    case SQL_ATTR_ROWS_FETCHED_PTR: stmt->builtIn[kIrd].rowsProcessedPtr = static_cast<SQLULEN*>(value); break;
    case SQL_ATTR_APP_ROW_DESC: code = SwitchDescriptor(stmt, &stmt->ard, &stmt->builtIn[kArd], value); break;
    case SQL_ATTR_APP_PARAM_DESC: code = SwitchDescriptor(stmt, &stmt->apd, &stmt->builtIn[kApd], value); break;
    case SQL_ATTR_METADATA_ID: stmt->metadataId = static_cast<int32_t>(number); break;
    case SQL_ATTR_CURSOR_SENSITIVITY: code = number == SQL_UNSPECIFIED ? 0 : kFeatureNotImplementedHyc00; break;
    case SQL_ATTR_CURSOR_SCROLLABLE: {
      if (number != SQL_NONSCROLLABLE && number != SQL_SCROLLABLE) {
        code = kInvalidAttributeValue;
        break;
      }
      const int16_t type = number == SQL_SCROLLABLE ? SQL_CURSOR_DYNAMIC : SQL_CURSOR_FORWARD_ONLY;
      const bool fits = number == SQL_SCROLLABLE ? stmt->cursorType != SQL_CURSOR_FORWARD_ONLY
                                                 : stmt->cursorType == SQL_CURSOR_FORWARD_ONLY;
      if (stmt->kind != kKindNone && !fits) code = kInvalidCursorState;
      else stmt->cursorType = type;
      break;
    }
    default:
      if (attribute >= 0 && attribute <= SQL_ROW_NUMBER && attribute != SQL_GET_BOOKMARK)
        return SetStmtOption(handle, static_cast<SQLUSMALLINT>(attribute), number);
      code = kInvalidAttribute;
  }
  return PostStatementError(stmt, code);
}

SQLRETURN GetStmtAttr(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER, SQLINTEGER* length) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  // Every statement attribute is an SQLULEN or a full pointer.
  auto pointer = [&](const void* p) { Put(value, length, const_cast<void*>(p)); };
  switch (attribute) {
    case SQL_ATTR_ENABLE_AUTO_IPD: Put<SQLULEN>(value, length, static_cast<SQLULEN>(stmt->enableAutoIpd)); break;
    case SQL_ATTR_FETCH_BOOKMARK_PTR: pointer(stmt->fetchBookmarkPtr); break;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
      pointer(stmt->apd->bindOffsetPtr == &stmt->apd->zeroOffset ? nullptr : stmt->apd->bindOffsetPtr);
      break;
    case SQL_ATTR_PARAM_BIND_TYPE: Put<SQLULEN>(value, length, stmt->apd->bindType); break;
    case SQL_ATTR_PARAM_OPERATION_PTR: pointer(stmt->apd->arrayStatusPtr); break;
    case SQL_ATTR_PARAM_STATUS_PTR: pointer(stmt->builtIn[kIpd].arrayStatusPtr); break;
    case SQL_ATTR_PARAMS_PROCESSED_PTR: pointer(stmt->builtIn[kIpd].rowsProcessedPtr); break;
    case SQL_ATTR_PARAMSET_SIZE:
    case SQL_ATTR_ROW_ARRAY_SIZE: Put<SQLULEN>(value, length, 1); break;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR:
      pointer(stmt->ard->bindOffsetPtr == &stmt->ard->zeroOffset ? nullptr : stmt->ard->bindOffsetPtr);
      break;
    case SQL_ATTR_ROW_OPERATION_PTR: pointer(stmt->ard->arrayStatusPtr); break;
    case SQL_ATTR_ROW_STATUS_PTR: pointer(stmt->builtIn[kIrd].arrayStatusPtr); break;
    case SQL_ATTR_ROWS_FETCHED_PTR: pointer(stmt->builtIn[kIrd].rowsProcessedPtr); break;
    case SQL_ATTR_APP_ROW_DESC: pointer(stmt->ard); break;
    case SQL_ATTR_APP_PARAM_DESC: pointer(stmt->apd); break;
    case SQL_ATTR_IMP_ROW_DESC: pointer(&stmt->builtIn[kIrd]); break;
    case SQL_ATTR_IMP_PARAM_DESC: pointer(&stmt->builtIn[kIpd]); break;
    case SQL_ATTR_METADATA_ID: Put<SQLULEN>(value, length, static_cast<SQLULEN>(stmt->metadataId)); break;
    case SQL_ATTR_CURSOR_SENSITIVITY: Put<SQLULEN>(value, length, SQL_UNSPECIFIED); break;
    case SQL_ATTR_CURSOR_SCROLLABLE:
      if (stmt->cursorType < 0 || stmt->cursorType > static_cast<int16_t>(SQL_CURSOR_DYNAMIC))
        return PostStatementError(stmt, kInternalError);
      Put<SQLULEN>(value, length, OpenCursorType(stmt) == SQL_CURSOR_FORWARD_ONLY ? SQL_NONSCROLLABLE : SQL_SCROLLABLE);
      break;
    default: {
      if (attribute < 0 || attribute > SQL_ROW_NUMBER) return PostStatementError(stmt, kInvalidAttribute);
      SQLULEN number = 0;
      if (uint32_t code = GetStmtOptionValue(stmt, static_cast<SQLUSMALLINT>(attribute), &number))
        return PostStatementError(stmt, code);
      Put(value, length, number);
    }
  }
  return SQL_SUCCESS;
}

// ---- Transactions and cursors

SQLRETURN Transact(SQLHENV envHandle, SQLHDBC connHandle, SQLUSMALLINT completion) {
  const bool commit = completion == SQL_COMMIT;
  const bool valid = completion == SQL_COMMIT || completion == SQL_ROLLBACK;
  if (connHandle != nullptr) {
    ConnRecord* conn = AsConn(connHandle);
    if (conn == nullptr) return SQL_INVALID_HANDLE;
    conn->code = 0;
    if (!valid) return PostConnError(conn, kOptionTypeOutOfRange);
    return TransactConnection(conn, commit) == 0 ? SQL_SUCCESS : SQL_ERROR;
  }
  EnvRecord* env = AsEnv(envHandle);
  if (env == nullptr) return SQL_INVALID_HANDLE;
  env->code = 0;
  if (!valid) return PostEnvError(env, kOptionTypeOutOfRange);
  bool failed = false;
  for (ConnRecord* conn = env->firstConn; conn != nullptr; conn = conn->next) {
    conn->code = 0;
    if (TransactConnection(conn, commit) != 0 && !failed) {
      failed = true;
      env->code = conn->code;
      std::memcpy(env->text, conn->engineText, kMessageSize);
    }
  }
  return failed ? SQL_ERROR : SQL_SUCCESS;
}

SQLRETURN EndTran(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT completion) {
  const auto type = static_cast<SQLUSMALLINT>(completion);
  switch (handleType) {
    case SQL_HANDLE_ENV: return Transact(handle, nullptr, type);
    case SQL_HANDLE_DBC: return Transact(nullptr, handle, type);
    case SQL_HANDLE_STMT:
    case SQL_HANDLE_DESC: return PostError(handleType, handle, kInvalidAttribute);
  }
  return SQL_ERROR;
}

SQLRETURN CloseCursor(SQLHSTMT handle) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  if (stmt->kind == kKindNone) return PostStatementError(stmt, kInvalidCursorState);
  return FreeStmt(stmt, SQL_CLOSE);
}

}  // namespace kivodbc
