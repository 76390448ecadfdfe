#include "results/parameters.h"

#include "results/execute.h"

#include <cstring>

#include "handles/messages.h"
#include "sql/paramconvert.h"
#include "sql/parsetree.h"
#include "results/positioned.h"
#include "data/tablerecord.h"
#include "handles/typetable.h"

namespace kivodbc {

ParameterSigns SignsOfStatement(const StmtRecord* stmt) {
  size_t count = 0;
  const TypeEntry* entries = TypeTableOf(stmt->conn != nullptr ? stmt->conn->session : nullptr, &count);
  return SignsOfTypeTable(entries, count);
}

namespace {

// The generic integer C types take the variant the type table gives their SQL type.
int16_t SettleSignedness(int16_t cType, const ParameterSigns& signs) {
  switch (cType) {
    case SQL_C_LONG: return signs.integerUnsigned ? SQL_C_ULONG : SQL_C_SLONG;
    case SQL_C_SHORT: return signs.smallintUnsigned ? SQL_C_USHORT : SQL_C_SSHORT;
    case SQL_C_TINYINT: return signs.tinyintUnsigned ? SQL_C_UTINYINT : SQL_C_STINYINT;
    default: return cType;
  }
}

int16_t PrecisionHint(int16_t cType) {
  switch (cType) {
    case SQL_C_NUMERIC: return 15;
    case SQL_C_SBIGINT: return 19;
    case SQL_C_UBIGINT: return 20;
    default: return 0;
  }
}

ParseNode* ParameterNode(const StmtRecord* stmt, int32_t number) {
  if (stmt->parseTree == nullptr) return nullptr;
  for (ParseNode* node = stmt->parseTree->parameters; node != nullptr; node = node->next)
    if (node->ordinal == number) return node;
  return nullptr;
}

// The APD binding of a parameter number; null when there is none.
DescItem* BindingOf(const StmtRecord* stmt, int32_t number) {
  for (DescItem* item = stmt->apd->firstItem; item != nullptr; item = item->next)
    if (item->number == number) return item;
  return nullptr;
}

SQLLEN BindOffset(const StmtRecord* stmt) {
  const SQLLEN* offset = stmt->apd->bindOffsetPtr;
  return offset != nullptr ? *offset : 0;
}

template <typename T>
T* AtOffset(T* address, SQLLEN offset) {
  if (address == nullptr) return nullptr;
  return reinterpret_cast<T*>(reinterpret_cast<char*>(address) + offset);
}

void SetFirstParameterStatus(StmtRecord* stmt, SQLUSMALLINT status) {
  if (SQLUSMALLINT* statuses = stmt->builtIn[kIpd].arrayStatusPtr) statuses[0] = status;
}

// The node's value, emptied and typed for a new conversion; null when memory runs out.
ParameterValue* FreshValue(ParseNode* node) {
  if (node->parameterValue == nullptr) {
    node->parameterValue = static_cast<ParameterValue*>(DrvAlloc(sizeof(ParameterValue)));
    if (node->parameterValue == nullptr) return nullptr;
  }
  ParameterValue* value = node->parameterValue;
  ReleaseParameterValue(value);
  std::memset(static_cast<void*>(value), 0, sizeof *value);
  value->valueType = node->category;
  value->sqlType = node->sqlType;
  value->textCapacity = node->resolvedPrecision;
  value->scale = node->resolvedScale;
  return value;
}

void EndDataAtExecution(StmtRecord* stmt) {
  stmt->cursor.needData = 0;
  stmt->putOffset = -1;
  stmt->dataItem = nullptr;
}

}  // namespace

int16_t DefaultParameterCType(int16_t sqlType) {
  switch (sqlType) {
    case SQL_CHAR: case SQL_NUMERIC: case SQL_DECIMAL: case SQL_VARCHAR: case SQL_BIGINT: case SQL_LONGVARCHAR:
      return SQL_C_CHAR;
    case SQL_INTEGER: return SQL_C_LONG;
    case SQL_SMALLINT: return SQL_C_SHORT;
    case SQL_TINYINT: return SQL_C_TINYINT;
    case SQL_FLOAT: case SQL_DOUBLE: return SQL_C_DOUBLE;
    case SQL_REAL: return SQL_C_FLOAT;
    case SQL_DATE: case SQL_TIME: case SQL_TIMESTAMP: case SQL_TYPE_DATE: case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
      return sqlType;
    case SQL_BIT: return SQL_C_BIT;
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY: return SQL_C_BINARY;
    default: return 0;
  }
}

int16_t ParameterValueTypeOf(int16_t sqlType) {
  switch (sqlType) {
    case SQL_CHAR: case SQL_NUMERIC: case SQL_DECIMAL: case SQL_SMALLINT: case SQL_VARCHAR: case SQL_LONGVARCHAR:
      return kValueText;
    case SQL_INTEGER: return kValueInteger;
    case SQL_FLOAT: case SQL_REAL: case SQL_DOUBLE: return kValueDouble;
    case SQL_DATE: case SQL_TYPE_DATE: return kValueDate;
    case SQL_TIME: case SQL_TYPE_TIME: return kValueTime;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: return kValueTimestamp;
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY: return kValueBinary;
    default:
      // The codes -5 to -10: big integers, bits, tiny integers and the wide texts.
      return sqlType >= SQL_WLONGVARCHAR && sqlType <= SQL_BIGINT ? kValueText : 0;
  }
}

SQLRETURN BindParameter(SQLHSTMT handle, SQLUSMALLINT number, SQLSMALLINT ioType, SQLSMALLINT cTypeArgument,
                        SQLSMALLINT sqlTypeArgument, SQLULEN columnSize, SQLSMALLINT, SQLPOINTER value, SQLLEN,
                        SQLLEN* lengthOrIndicator) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  int16_t cType = MapDateTimeTypeCode(stmt, cTypeArgument);
  const int16_t sqlType = MapDateTimeTypeCode(stmt, sqlTypeArgument);
  if (stmt->cursor.needData != 0) return PostStatementError(stmt, kInvalidCursorState);
  // No value ever goes back to the application: an output parameter is refused.
  if (ioType == SQL_PARAM_OUTPUT) return PostStatementError(stmt, kFeatureNotImplemented);
  if (cType == SQL_C_DEFAULT) {
    cType = DefaultParameterCType(sqlType);
    if (cType == 0) return PostStatementError(stmt, kNotSupported);
  }
  cType = SettleSignedness(cType, SignsOfStatement(stmt));

  if (ParseNode* node = ParameterNode(stmt, number)) {
    node->sqlType = sqlType;
    if (const int16_t valueType = ParameterValueTypeOf(sqlType)) node->category = valueType;
  }

  DescItem* item = BindingOf(stmt, number);
  if (item == nullptr) item = FindDescItem(stmt->apd, static_cast<int16_t>(number), CreateItem{});
  if (item == nullptr) return PostStatementError(stmt, kMemoryError);
  item->cType = cType;
  item->precision = PrecisionHint(cType);
  item->scale = 0;
  item->dataPtr = value;
  item->extra[0] = static_cast<int32_t>(columnSize);
  item->octetLengthPtr = lengthOrIndicator;
  item->indicatorPtr = lengthOrIndicator;
  return SQL_SUCCESS;
}

SQLRETURN DescribeParam(SQLHSTMT handle, SQLUSMALLINT number, SQLSMALLINT* sqlType, SQLULEN* columnSize,
                        SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  if (stmt->parseTree == nullptr) return PostStatementError(stmt, kInvalidCursorState);
  const ParseNode* node = stmt->parseTree->parameters;
  for (SQLUSMALLINT i = 1; node != nullptr && i < number; ++i) node = node->next;
  if (number == 0 || node == nullptr) return PostStatementError(stmt, kInvalidParameterNumber);
  if (sqlType != nullptr) *sqlType = node->sqlType;
  if (columnSize != nullptr) *columnSize = node->precision > 0 ? static_cast<SQLULEN>(node->precision) : 0;
  // A marker's scale is unknown (-1); the application reads it as none.
  if (digits != nullptr) *digits = node->scale > 0 ? node->scale : 0;
  if (nullable != nullptr) *nullable = SQL_NULLABLE_UNKNOWN;
  return SQL_SUCCESS;
}

SQLRETURN NumParams(SQLHSTMT handle, SQLSMALLINT* count) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  if (stmt->parseTree == nullptr) return PostStatementError(stmt, kInvalidCursorState);
  SQLSMALLINT n = 0;
  for (const ParseNode* node = stmt->parseTree->parameters; node != nullptr; node = node->next) ++n;
  if (count != nullptr) *count = n;
  return SQL_SUCCESS;
}

SQLRETURN ParamOptions(SQLHSTMT handle, SQLULEN rows, SQLULEN* rowsProcessed) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  stmt->builtIn[kIpd].rowsProcessedPtr = rowsProcessed;
  // One parameter set is executed whatever the count.
  if (rows != 1) return PostStatementError(stmt, kOptionValueChanged);
  return SQL_SUCCESS;
}

uint32_t BindParameterValues(StmtRecord* stmt) {
  EndDataAtExecution(stmt);
  if (SQLULEN* processed = stmt->builtIn[kIpd].rowsProcessedPtr) *processed = 1;
  SetFirstParameterStatus(stmt, SQL_PARAM_SUCCESS);
  if (stmt->parseTree == nullptr) return 0;
  const ParameterSigns signs = SignsOfStatement(stmt);
  const SQLLEN offset = BindOffset(stmt);
  uint32_t result = 0;
  for (ParseNode* node = stmt->parseTree->parameters; node != nullptr; node = node->next) {
    const DescItem* item = BindingOf(stmt, node->ordinal);
    if (item == nullptr) {
      EndDataAtExecution(stmt);
      PostStatementError(stmt, kParameterMissing);
      return kParameterMissing;
    }
    ParameterValue* value = FreshValue(node);
    if (value == nullptr) {
      EndDataAtExecution(stmt);
      PostStatementError(stmt, kMemoryError);
      return kMemoryError;
    }
    const SQLLEN* indicator = AtOffset(item->indicatorPtr, offset);
    const SQLLEN* octetLength = AtOffset(item->octetLengthPtr, offset);
    SQLLEN length = SQL_NULL_DATA;
    if (indicator == nullptr || *indicator != SQL_NULL_DATA)
      length = octetLength != nullptr ? *octetLength : UnboundParameterLength(item->cType);
    if (length == SQL_DATA_AT_EXEC || length <= SQL_LEN_DATA_AT_EXEC_OFFSET) {
      node->dataAtExecution = true;
      stmt->cursor.needData = 1;
      stmt->putOffset = 0;
      continue;
    }
    node->dataAtExecution = false;
    char argument[kArgumentSize] = {};
    const int code = ConvertParameterValue(value, signs, nullptr, item->cType, AtOffset(item->dataPtr, offset), length,
                                           argument, sizeof argument);
    if (code == kDataTruncated) {
      SetFirstParameterStatus(stmt, SQL_PARAM_SUCCESS_WITH_INFO);
      result = kDataTruncated;
    } else if (code != 0) {
      EndDataAtExecution(stmt);
      PostStatementError(stmt, static_cast<uint32_t>(code), argument);
      return static_cast<uint32_t>(code);
    }
  }
  return result;
}

uint32_t FinishDataAtExecution(StmtRecord* stmt) {
  uint32_t result = 0;
  if (stmt->parseTree == nullptr) return 0;
  for (ParseNode* node = stmt->parseTree->parameters; node != nullptr; node = node->next) {
    if (!node->dataAtExecution || node->parameterValue == nullptr) continue;
    if (FinishParameterValue(node->parameterValue) == kDataTruncated) result = kDataTruncated;
  }
  return result;
}

SQLRETURN ParamData(SQLHSTMT handle, SQLPOINTER* token) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  if (stmt->cursor.needData == 0 || (stmt->dataItem != nullptr && stmt->putOffset == -1))
    return PostStatementError(stmt, kInvalidCursorState);
  // The columns of a positioned update or add (positionedRow != -1) go to
  // their bindings; the last one in runs the change.
  if (stmt->positionedRow != -1) return PositionedParamData(stmt, token);
  ParseNode* node = stmt->dataItem != nullptr ? stmt->dataItem->next
                    : stmt->parseTree != nullptr ? stmt->parseTree->parameters
                                                 : nullptr;
  while (node != nullptr && !node->dataAtExecution) node = node->next;
  if (node != nullptr) {
    const DescItem* item = BindingOf(stmt, node->ordinal);
    if (item == nullptr) {
      EndDataAtExecution(stmt);
      return PostStatementError(stmt, kInternalError);
    }
    if (token != nullptr) *token = item->dataPtr;
    stmt->dataItem = node;
    stmt->putOffset = -1;
    return SQL_NEED_DATA;
  }
  EndDataAtExecution(stmt);
  const uint32_t finished = FinishDataAtExecution(stmt);
  if (finished == kDataTruncated) {
    SetFirstParameterStatus(stmt, SQL_PARAM_SUCCESS_WITH_INFO);
    stmt->truncated = 1;
  }
  // Every value is in: the statement runs.
  return ExecuteAfterData(stmt);
}

SQLRETURN PutData(SQLHSTMT handle, SQLPOINTER data, SQLLEN length) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  if (stmt->cursor.needData != 0 && stmt->positionedRow != -1) return PositionedPutData(stmt, data, length);
  if (stmt->cursor.needData == 0 || stmt->dataItem == nullptr) return PostStatementError(stmt, kInvalidCursorState);
  ParseNode* node = stmt->dataItem;
  const DescItem* item = BindingOf(stmt, node->ordinal);
  if (item == nullptr || node->parameterValue == nullptr) {
    EndDataAtExecution(stmt);
    return PostStatementError(stmt, kInternalError);
  }
  if (stmt->putOffset == -1) stmt->putOffset = 0;
  char argument[kArgumentSize] = {};
  const int code = ConvertParameterValue(node->parameterValue, SignsOfStatement(stmt), &stmt->putOffset, item->cType, data,
                                         length, argument, sizeof argument);
  if (code == 0) return SQL_SUCCESS;
  if (code == kDataTruncated) {
    SetFirstParameterStatus(stmt, SQL_PARAM_SUCCESS_WITH_INFO);
    return PostStatementError(stmt, kDataTruncated);
  }
  EndDataAtExecution(stmt);
  return PostStatementError(stmt, static_cast<uint32_t>(code), argument);
}

}  // namespace kivodbc
