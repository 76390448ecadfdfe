// Descriptor fields and records: SQLSetDescField, SQLSetDescRec,
// SQLGetDescField, SQLGetDescRec and SQLCopyDesc. Application descriptors
// (explicit ones and a statement's built-in row and parameter descriptors)
// keep their records here; the implementation descriptors describe results
// and parameters of their statement.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "api.h"
#include "results/fetch.h"
#include "handles/messages.h"
#include "results/parameters.h"
#include "handles/records.h"
#include "handles/typetable.h"
#include "data/valuetext.h"

namespace kivodbc {
namespace {

constexpr uint16_t kCannotModifyIrd = 2180;
constexpr uint16_t kInvalidDescriptorField = 2183;
constexpr uint16_t kStatementNotPrepared = 2178;

bool IsIrd(const DescRecord* d) { return d->stmt != nullptr && d == &d->stmt->builtIn[kIrd]; }
bool IsIpd(const DescRecord* d) { return d->stmt != nullptr && d == &d->stmt->builtIn[kIpd]; }
bool IsImplementation(const DescRecord* d) { return IsIrd(d) || IsIpd(d); }

bool IsHeaderField(SQLSMALLINT field) {
  switch (field) {
    case SQL_DESC_ARRAY_SIZE:
    case SQL_DESC_ARRAY_STATUS_PTR:
    case SQL_DESC_BIND_OFFSET_PTR:
    case SQL_DESC_BIND_TYPE:
    case SQL_DESC_COUNT:
    case SQL_DESC_ROWS_PROCESSED_PTR:
    case SQL_DESC_ALLOC_TYPE: return true;
  }
  return false;
}

// Fields an application may set without effect here.
bool IsAcceptedField(SQLSMALLINT field) {
  switch (field) {
    case 6: case 8: case 9: case 10: case 11: case 12: case 13: case 14: case 15: case 16: case 17: case 18:
    case 22: case 23: case 26: case 27: case 28: case 29: case 32: case 33:
    case SQL_DESC_LENGTH: case SQL_DESC_NULLABLE: case SQL_DESC_NAME: case SQL_DESC_UNNAMED:
    case SQL_DESC_ALLOC_TYPE: return true;
  }
  return false;
}

int16_t HighestRecord(const DescRecord* desc) {
  int16_t highest = 0;
  for (const DescItem* item = desc->firstItem; item != nullptr; item = item->next)
    highest = std::max(highest, item->number);
  return highest;
}

const DescItem* ExistingItem(const DescRecord* desc, SQLSMALLINT number) {
  for (const DescItem* item = desc->firstItem; item != nullptr; item = item->next)
    if (item->number == number) return item;
  return nullptr;
}

void RemoveItemsAbove(DescRecord* desc, SQLSMALLINT count) {
  for (DescItem** link = &desc->firstItem; *link != nullptr;) {
    DescItem* item = *link;
    if (item->number > count) {
      *link = item->next;
      ReleaseItemOwned(item);
      DrvFree(item);
    } else {
      link = &item->next;
    }
  }
}

template <typename T>
SQLRETURN Put(SQLPOINTER value, SQLINTEGER* length, T number) {
  if (value != nullptr) std::memcpy(value, &number, sizeof number);
  if (length != nullptr) *length = static_cast<SQLINTEGER>(sizeof number);
  return SQL_SUCCESS;
}

// The verbose type of a concise C type: the date and time types are datetimes.
int16_t VerboseType(int16_t conciseType) {
  return conciseType >= SQL_TYPE_DATE && conciseType <= SQL_TYPE_TIMESTAMP ? SQL_DATETIME : conciseType;
}

int16_t IntervalCode(int16_t conciseType) {
  return conciseType >= SQL_TYPE_DATE && conciseType <= SQL_TYPE_TIMESTAMP ? conciseType - SQL_TYPE_DATE + 1 : 0;
}

SQLRETURN SetRecordField(DescRecord* desc, SQLSMALLINT number, SQLSMALLINT field, SQLPOINTER value) {
  const auto integer = static_cast<SQLLEN>(reinterpret_cast<intptr_t>(value));
  // The statement's parameter descriptor takes its types from the parameter bindings.
  const bool implementation = IsIpd(desc);
  if (implementation && field != SQL_DESC_PRECISION && field != SQL_DESC_SCALE) return SQL_SUCCESS;
  if (number < 0) return PostDescError(desc, kInvalidDescriptorIndex);
  DescItem* item = FindDescItem(desc, number, CreateItem{});
  if (item == nullptr) return ResultOfCode(desc->code);
  switch (field) {
    case SQL_DESC_CONCISE_TYPE:
    case SQL_DESC_TYPE:
      if (field == SQL_DESC_CONCISE_TYPE || (integer != SQL_DATETIME && integer != SQL_INTERVAL))
        item->cType = MapDateTimeTypeCode(nullptr, static_cast<int16_t>(integer));
      item->octetLengthPtr = nullptr;
      item->dataPtr = nullptr;
      item->indicatorPtr = nullptr;
      break;
    case SQL_DESC_DATETIME_INTERVAL_CODE:
      if (integer >= SQL_CODE_DATE && integer <= SQL_CODE_TIMESTAMP)
        item->cType = static_cast<int16_t>(SQL_TYPE_DATE + integer - SQL_CODE_DATE);
      break;
    case SQL_DESC_DATA_PTR: item->dataPtr = value; break;
    case SQL_DESC_INDICATOR_PTR: item->indicatorPtr = static_cast<SQLLEN*>(value); break;
    case SQL_DESC_OCTET_LENGTH_PTR: item->octetLengthPtr = static_cast<SQLLEN*>(value); break;
    case SQL_DESC_OCTET_LENGTH: item->octetLength = integer; break;
    case SQL_DESC_PRECISION: item->precision = static_cast<int16_t>(integer); break;
    case SQL_DESC_SCALE: item->scale = static_cast<int16_t>(integer); break;
  }
  return SQL_SUCCESS;
}

bool IsRecordField(SQLSMALLINT field) {
  switch (field) {
    case SQL_DESC_CONCISE_TYPE:
    case SQL_DESC_TYPE:
    case SQL_DESC_DATETIME_INTERVAL_CODE:
    case SQL_DESC_DATA_PTR:
    case SQL_DESC_INDICATOR_PTR:
    case SQL_DESC_OCTET_LENGTH_PTR:
    case SQL_DESC_OCTET_LENGTH:
    case SQL_DESC_PRECISION:
    case SQL_DESC_SCALE: return true;
  }
  return false;
}

// ---- The implementation descriptors: the row descriptor answers from the
// statement's column description, the parameter descriptor from its
// parameter description.

// The statement's pending diagnostic moved onto the descriptor.
SQLRETURN FromStatement(DescRecord* desc, SQLRETURN rc) {
  StmtRecord* stmt = desc->stmt;
  if (stmt->code == 0) return rc;
  desc->code = stmt->code;
  std::memcpy(desc->argument, stmt->argument, sizeof desc->argument);
  return rc;
}

// One ODBC 2 column attribute of the descriptor's statement as a number.
SQLRETURN ColumnNumber(DescRecord* desc, SQLSMALLINT column, SQLUSMALLINT attribute, SQLLEN* number) {
  *number = 0;
  return FromStatement(desc, ColAttributes(desc->stmt, static_cast<SQLUSMALLINT>(column), attribute, nullptr, 0,
                                           nullptr, number));
}

// One ODBC 2 column attribute as text into the caller's buffer.
SQLRETURN ColumnText(DescRecord* desc, SQLSMALLINT column, SQLUSMALLINT attribute, SQLPOINTER value,
                     SQLINTEGER capacity, SQLINTEGER* length) {
  char text[kArgumentSize] = {};
  SQLSMALLINT textLength = 0;
  const SQLRETURN rc = ColAttributes(desc->stmt, static_cast<SQLUSMALLINT>(column), attribute, text,
                                     static_cast<SQLSMALLINT>(sizeof text), &textLength, nullptr);
  if (!SQL_SUCCEEDED(rc)) return FromStatement(desc, rc);
  desc->stmt->code = 0;
  const int copied = CopyOutStringLong(static_cast<char*>(value), capacity, length, text);
  if (copied != 0 && value != nullptr) return PostDescError(desc, static_cast<uint32_t>(copied));
  return SQL_SUCCESS;
}

template <typename T>
SQLRETURN PutNumber(SQLRETURN rc, SQLPOINTER value, SQLINTEGER* length, SQLLEN number) {
  if (!SQL_SUCCEEDED(rc)) return rc;
  Put<T>(value, length, static_cast<T>(number));
  return rc;
}

// The type-table entry of a result column, found by its type name.
const TypeEntry* ColumnTypeEntry(DescRecord* desc, SQLSMALLINT column) {
  char name[130] = {};
  if (!SQL_SUCCEEDED(ColAttributes(desc->stmt, static_cast<SQLUSMALLINT>(column), SQL_COLUMN_TYPE_NAME, name,
                                   sizeof name, nullptr, nullptr)))
    return nullptr;
  size_t count = 0;
  const TypeEntry* entries = TypeTableOf(desc->stmt->conn->session, &count);
  for (size_t i = 0; i < count; ++i)
    if (entries[i].typeName != nullptr && std::strcmp(entries[i].typeName, name) == 0) return &entries[i];
  return nullptr;
}

int16_t RadixOf(SQLLEN sqlType) {
  return (sqlType >= SQL_NUMERIC && sqlType <= SQL_DOUBLE) || sqlType == SQL_TINYINT || sqlType == SQL_BIGINT ? 10
                                                                                                               : 0;
}

SQLRETURN ReadRowField(DescRecord* desc, SQLSMALLINT number, SQLSMALLINT field, SQLPOINTER value,
                       SQLINTEGER capacity, SQLINTEGER* length) {
  SQLLEN n = 0;
  SQLRETURN rc = SQL_SUCCESS;
  switch (field) {
    case SQL_DESC_COUNT:
      rc = ColumnNumber(desc, number, SQL_COLUMN_COUNT, &n);
      return PutNumber<SQLSMALLINT>(rc, value, length, n);
    case SQL_DESC_CONCISE_TYPE:
    case SQL_DESC_TYPE:
    case SQL_DESC_DATETIME_INTERVAL_CODE:
      rc = ColumnNumber(desc, number, SQL_COLUMN_TYPE, &n);
      if (field == SQL_DESC_TYPE) n = VerboseType(static_cast<int16_t>(n));
      if (field == SQL_DESC_DATETIME_INTERVAL_CODE) n = IntervalCode(static_cast<int16_t>(n));
      return PutNumber<SQLSMALLINT>(rc, value, length, n);
    case SQL_DESC_UNSIGNED:
    case SQL_DESC_FIXED_PREC_SCALE:
    case SQL_DESC_UPDATABLE:
    case SQL_DESC_SEARCHABLE:
      // The ODBC 3 field numbers are the ODBC 2 attribute ids.
      rc = ColumnNumber(desc, number, static_cast<SQLUSMALLINT>(field), &n);
      return PutNumber<SQLSMALLINT>(rc, value, length, n);
    case SQL_DESC_PRECISION:
      rc = ColumnNumber(desc, number, SQL_COLUMN_PRECISION, &n);
      return PutNumber<SQLSMALLINT>(rc, value, length, n);
    case SQL_DESC_SCALE:
      rc = ColumnNumber(desc, number, SQL_COLUMN_SCALE, &n);
      return PutNumber<SQLSMALLINT>(rc, value, length, n);
    case SQL_DESC_NULLABLE:
      rc = ColumnNumber(desc, number, SQL_COLUMN_NULLABLE, &n);
      return PutNumber<SQLSMALLINT>(rc, value, length, n);
    case SQL_DESC_UNNAMED: {
      char name[2] = {};
      SQLSMALLINT nameLength = 0;
      rc = FromStatement(desc, ColAttributes(desc->stmt, static_cast<SQLUSMALLINT>(number), SQL_COLUMN_NAME, name,
                                             sizeof name, &nameLength, nullptr));
      desc->stmt->code = 0;
      if (rc == SQL_SUCCESS_WITH_INFO) {
        desc->code = 0;
        rc = SQL_SUCCESS;
      }
      return PutNumber<SQLSMALLINT>(rc, value, length, nameLength > 0 ? SQL_NAMED : SQL_UNNAMED);
    }
    case SQL_DESC_LENGTH:
      rc = ColumnNumber(desc, number, SQL_COLUMN_PRECISION, &n);
      return PutNumber<SQLULEN>(rc, value, length, n);
    case SQL_DESC_OCTET_LENGTH:
      rc = ColumnNumber(desc, number, SQL_COLUMN_LENGTH, &n);
      return PutNumber<SQLLEN>(rc, value, length, n);
    case SQL_DESC_DISPLAY_SIZE:
    case SQL_DESC_AUTO_UNIQUE_VALUE:
    case SQL_DESC_CASE_SENSITIVE:
      rc = ColumnNumber(desc, number, static_cast<SQLUSMALLINT>(field), &n);
      if (field == SQL_DESC_DISPLAY_SIZE) return PutNumber<SQLLEN>(rc, value, length, n);
      return PutNumber<SQLINTEGER>(rc, value, length, n);
    case SQL_DESC_NUM_PREC_RADIX:
      rc = ColumnNumber(desc, number, SQL_COLUMN_TYPE, &n);
      return PutNumber<SQLINTEGER>(rc, value, length, RadixOf(n));
    case SQL_DESC_DATETIME_INTERVAL_PRECISION:
      rc = ColumnNumber(desc, number, SQL_COLUMN_TYPE, &n);
      return PutNumber<SQLINTEGER>(rc, value, length, 0);
    case SQL_DESC_NAME:
    case SQL_DESC_BASE_COLUMN_NAME: return ColumnText(desc, number, SQL_COLUMN_NAME, value, capacity, length);
    case SQL_DESC_LABEL: return ColumnText(desc, number, SQL_COLUMN_LABEL, value, capacity, length);
    case SQL_DESC_TYPE_NAME: return ColumnText(desc, number, SQL_COLUMN_TYPE_NAME, value, capacity, length);
    case SQL_DESC_TABLE_NAME:
    case SQL_DESC_BASE_TABLE_NAME: return ColumnText(desc, number, SQL_COLUMN_TABLE_NAME, value, capacity, length);
    case SQL_DESC_SCHEMA_NAME: return ColumnText(desc, number, SQL_COLUMN_OWNER_NAME, value, capacity, length);
    case SQL_DESC_CATALOG_NAME: return ColumnText(desc, number, SQL_COLUMN_QUALIFIER_NAME, value, capacity, length);
    case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX:
    case SQL_DESC_LOCAL_TYPE_NAME: {
      rc = ColumnNumber(desc, number, SQL_COLUMN_TYPE, &n);
      if (!SQL_SUCCEEDED(rc)) return rc;
      const TypeEntry* entry = number == 0 ? nullptr : ColumnTypeEntry(desc, number);
      const char* text = entry == nullptr                        ? nullptr
                         : field == SQL_DESC_LITERAL_PREFIX      ? entry->literalPrefix
                         : field == SQL_DESC_LITERAL_SUFFIX      ? entry->literalSuffix
                                                                 : entry->localTypeName;
      const int copied = CopyOutStringLong(static_cast<char*>(value), capacity, length, text != nullptr ? text : "");
      if (copied != 0 && value != nullptr) return PostDescError(desc, static_cast<uint32_t>(copied));
      return SQL_SUCCESS;
    }
  }
  return PostDescError(desc, kInvalidDescriptorField);
}

SQLRETURN ReadParameterField(DescRecord* desc, SQLSMALLINT number, SQLSMALLINT field, SQLPOINTER value,
                             SQLINTEGER capacity, SQLINTEGER* length) {
  StmtRecord* stmt = desc->stmt;
  if (field == SQL_DESC_COUNT) {
    SQLSMALLINT count = 0;
    const SQLRETURN rc = FromStatement(desc, NumParams(stmt, &count));
    return PutNumber<SQLSMALLINT>(rc, value, length, count);
  }
  SQLSMALLINT sqlType = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  const SQLRETURN rc = FromStatement(desc, DescribeParam(stmt, static_cast<SQLUSMALLINT>(number), &sqlType, &size,
                                                         &digits, &nullable));
  switch (field) {
    case SQL_DESC_CONCISE_TYPE: return PutNumber<SQLSMALLINT>(rc, value, length, sqlType);
    case SQL_DESC_TYPE: return PutNumber<SQLSMALLINT>(rc, value, length, VerboseType(sqlType));
    case SQL_DESC_DATETIME_INTERVAL_CODE: return PutNumber<SQLSMALLINT>(rc, value, length, IntervalCode(sqlType));
    case SQL_DESC_LENGTH: return PutNumber<SQLULEN>(rc, value, length, static_cast<SQLLEN>(size));
    case SQL_DESC_OCTET_LENGTH: return PutNumber<SQLLEN>(rc, value, length, static_cast<SQLLEN>(size));
    case SQL_DESC_PRECISION: return PutNumber<SQLSMALLINT>(rc, value, length, static_cast<SQLLEN>(size));
    case SQL_DESC_SCALE: return PutNumber<SQLSMALLINT>(rc, value, length, digits);
    case SQL_DESC_NULLABLE: return PutNumber<SQLSMALLINT>(rc, value, length, nullable);
    case SQL_DESC_PARAMETER_TYPE: return PutNumber<SQLSMALLINT>(rc, value, length, SQL_PARAM_INPUT);
    case SQL_DESC_UNNAMED: return PutNumber<SQLSMALLINT>(rc, value, length, SQL_UNNAMED);
    case SQL_DESC_NUM_PREC_RADIX: return PutNumber<SQLINTEGER>(rc, value, length, RadixOf(sqlType));
    case SQL_DESC_NAME:
      if (!SQL_SUCCEEDED(rc)) return rc;
      CopyOutStringLong(static_cast<char*>(value), capacity, length, "");
      return SQL_SUCCESS;
  }
  return PostDescError(desc, kInvalidDescriptorField);
}

// Makes the target's records from an implementation descriptor's
// descriptions: each column or parameter with the C type that suits its SQL
// type, character types with room for the terminator.
SQLRETURN CopyImplementation(DescRecord* source, DescRecord* target) {
  StmtRecord* stmt = source->stmt;
  const bool rows = IsIrd(source);
  SQLLEN count = 0;
  if (rows) {
    if (!SQL_SUCCEEDED(ColAttributes(stmt, 1, SQL_COLUMN_COUNT, nullptr, 0, nullptr, &count)))
      return PostDescError(target, stmt->code);
  } else {
    SQLSMALLINT params = 0;
    if (!SQL_SUCCEEDED(NumParams(stmt, &params))) return PostDescError(target, stmt->code);
    count = params;
  }
  FreeDescItems(target);
  const SQLLEN first = rows && stmt->useBookmarks != SQL_UB_OFF ? 0 : 1;
  for (SQLLEN i = first; i <= count; ++i) {
    SQLSMALLINT sqlType = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    const auto number = static_cast<SQLUSMALLINT>(i);
    const SQLRETURN rc = rows ? DescribeCol(stmt, number, nullptr, 0, nullptr, &sqlType, &size, &digits, &nullable)
                              : DescribeParam(stmt, number, &sqlType, &size, &digits, &nullable);
    if (!SQL_SUCCEEDED(rc)) return PostDescError(target, stmt->code);
    DescItem* item = FindDescItem(target, static_cast<int16_t>(i), CreateItem{});
    if (item == nullptr) return ResultOfCode(target->code);
    const int16_t cType = DefaultColumnCType(sqlType, false);
    item->cType = cType != 0 ? cType : SQL_C_CHAR;
    item->precision = static_cast<int16_t>(size);
    item->scale = digits;
    const SQLLEN octets = TypeOctetLength(sqlType, static_cast<int32_t>(size), false);
    item->octetLength = item->cType == SQL_C_CHAR ? static_cast<SQLLEN>(size) + 1 : std::max<SQLLEN>(octets, 0);
  }
  return SQL_SUCCESS;
}

}  // namespace

SQLRETURN SetDescField(SQLHDESC handle, SQLSMALLINT number, SQLSMALLINT field, SQLPOINTER value, SQLINTEGER) {
  DescRecord* desc = AsDesc(handle);
  if (desc == nullptr) return SQL_INVALID_HANDLE;
  desc->code = 0;
  // An implementation row descriptor describes the result: the application
  // only points it at its status array and rows-processed count.
  if (IsIrd(desc) && field != SQL_DESC_ARRAY_STATUS_PTR && field != SQL_DESC_ROWS_PROCESSED_PTR)
    return PostDescError(desc, IsHeaderField(field) || IsRecordField(field) || IsAcceptedField(field)
                                   ? kCannotModifyIrd
                                   : kInvalidDescriptorField);
  if (IsRecordField(field)) return SetRecordField(desc, number, field, value);
  const auto integer = static_cast<SQLLEN>(reinterpret_cast<intptr_t>(value));
  switch (field) {
    case SQL_DESC_ARRAY_SIZE: return integer == 1 ? SQL_SUCCESS : PostDescError(desc, kOptionValueChanged);
    case SQL_DESC_ARRAY_STATUS_PTR: desc->arrayStatusPtr = static_cast<SQLUSMALLINT*>(value); return SQL_SUCCESS;
    case SQL_DESC_BIND_TYPE: desc->bindType = static_cast<SQLULEN>(integer); return SQL_SUCCESS;
    case SQL_DESC_ROWS_PROCESSED_PTR: desc->rowsProcessedPtr = static_cast<SQLULEN*>(value); return SQL_SUCCESS;
    case SQL_DESC_BIND_OFFSET_PTR:
      desc->bindOffsetPtr = value != nullptr ? static_cast<SQLLEN*>(value) : &desc->zeroOffset;
      return SQL_SUCCESS;
    case SQL_DESC_COUNT:
      if (integer < 0) return PostDescError(desc, kInvalidDescriptorIndex);
      RemoveItemsAbove(desc, static_cast<SQLSMALLINT>(integer));
      return SQL_SUCCESS;
  }
  if (IsAcceptedField(field)) return SQL_SUCCESS;
  return PostDescError(desc, kInvalidDescriptorField);
}

SQLRETURN SetDescRec(SQLHDESC handle, SQLSMALLINT number, SQLSMALLINT type, SQLSMALLINT subtype, SQLLEN length,
                     SQLSMALLINT precision, SQLSMALLINT scale, SQLPOINTER data, SQLLEN* stringLength,
                     SQLLEN* indicator) {
  DescRecord* desc = AsDesc(handle);
  if (desc == nullptr) return SQL_INVALID_HANDLE;
  const struct {
    SQLSMALLINT field;
    SQLPOINTER value;
  } steps[] = {
      {SQL_DESC_TYPE, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(type))},
      {SQL_DESC_DATETIME_INTERVAL_CODE, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(subtype))},
      {SQL_DESC_OCTET_LENGTH, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(length))},
      {SQL_DESC_PRECISION, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(precision))},
      {SQL_DESC_SCALE, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(scale))},
      {SQL_DESC_OCTET_LENGTH_PTR, stringLength},
      {SQL_DESC_DATA_PTR, data},
      {SQL_DESC_INDICATOR_PTR, indicator},
  };
  uint16_t warning = 0;
  for (const auto& step : steps) {
    const SQLRETURN rc = SetDescField(desc, number, step.field, step.value, 0);
    if (rc == SQL_ERROR || rc == SQL_INVALID_HANDLE) return rc;
    if (rc == SQL_SUCCESS_WITH_INFO) warning = desc->code;
  }
  if (warning != 0) return PostDescError(desc, warning);
  return SQL_SUCCESS;
}

SQLRETURN GetDescField(SQLHDESC handle, SQLSMALLINT number, SQLSMALLINT field, SQLPOINTER value,
                       SQLINTEGER capacity, SQLINTEGER* length) {
  DescRecord* desc = AsDesc(handle);
  if (desc == nullptr) return SQL_INVALID_HANDLE;
  desc->code = 0;
  switch (field) {
    case SQL_DESC_ALLOC_TYPE:
      return Put<SQLSMALLINT>(value, length, desc->allocKind == kDescBuiltIn ? SQL_DESC_ALLOC_AUTO : SQL_DESC_ALLOC_USER);
    case SQL_DESC_ARRAY_SIZE: return Put<SQLULEN>(value, length, 1);
    case SQL_DESC_ARRAY_STATUS_PTR: return Put<SQLPOINTER>(value, length, desc->arrayStatusPtr);
    case SQL_DESC_ROWS_PROCESSED_PTR: return Put<SQLPOINTER>(value, length, desc->rowsProcessedPtr);
  }
  if (IsImplementation(desc)) {
    if (field == SQL_DESC_BIND_TYPE) return Put<SQLINTEGER>(value, length, static_cast<SQLINTEGER>(desc->bindType));
    if (field == SQL_DESC_BIND_OFFSET_PTR) return Put<SQLPOINTER>(value, length, nullptr);
    // A record beyond the described ones holds no data.
    if (field != SQL_DESC_COUNT && number > 0) {
      SQLSMALLINT count = 0;
      SQLINTEGER ignored = 0;
      if (GetDescField(desc, 0, SQL_DESC_COUNT, &count, 0, &ignored) == SQL_SUCCESS && number > count)
        return SQL_NO_DATA;
      desc->code = 0;
    }
    desc->stmt->code = 0;
    return IsIrd(desc) ? ReadRowField(desc, number, field, value, capacity, length)
                       : ReadParameterField(desc, number, field, value, capacity, length);
  }
  switch (field) {
    case SQL_DESC_BIND_OFFSET_PTR:
      return Put<SQLPOINTER>(value, length, desc->bindOffsetPtr == &desc->zeroOffset ? nullptr : desc->bindOffsetPtr);
    case SQL_DESC_BIND_TYPE: return Put<SQLINTEGER>(value, length, static_cast<SQLINTEGER>(desc->bindType));
    case SQL_DESC_COUNT: return Put<SQLSMALLINT>(value, length, HighestRecord(desc));
  }
  if (!IsRecordField(field) && field != SQL_DESC_NULLABLE && field != SQL_DESC_NAME)
    return PostDescError(desc, kInvalidDescriptorField);
  const DescItem* item = ExistingItem(desc, number);
  if (item == nullptr) {
    if (number < 0) return PostDescError(desc, kInvalidDescriptorIndex);
    return SQL_NO_DATA;
  }
  switch (field) {
    case SQL_DESC_CONCISE_TYPE: return Put<SQLSMALLINT>(value, length, item->cType);
    case SQL_DESC_TYPE: return Put<SQLSMALLINT>(value, length, VerboseType(item->cType));
    case SQL_DESC_DATETIME_INTERVAL_CODE: return Put<SQLSMALLINT>(value, length, IntervalCode(item->cType));
    case SQL_DESC_DATA_PTR: return Put<SQLPOINTER>(value, length, item->dataPtr);
    case SQL_DESC_INDICATOR_PTR: return Put<SQLPOINTER>(value, length, item->indicatorPtr);
    case SQL_DESC_OCTET_LENGTH_PTR: return Put<SQLPOINTER>(value, length, item->octetLengthPtr);
    case SQL_DESC_OCTET_LENGTH: return Put<SQLLEN>(value, length, item->octetLength);
    case SQL_DESC_PRECISION: return Put<SQLSMALLINT>(value, length, item->precision);
    case SQL_DESC_SCALE: return Put<SQLSMALLINT>(value, length, item->scale);
    case SQL_DESC_NULLABLE: return Put<SQLSMALLINT>(value, length, SQL_NULLABLE_UNKNOWN);
    case SQL_DESC_NAME:
      const int copied = CopyOutStringLong(static_cast<char*>(value), capacity, length, "");
      if (copied != 0 && value != nullptr) return PostDescError(desc, static_cast<uint32_t>(copied));
      return SQL_SUCCESS;
  }
  return PostDescError(desc, kInvalidDescriptorField);
}

SQLRETURN GetDescRec(SQLHDESC handle, SQLSMALLINT number, SQLCHAR* name, SQLSMALLINT capacity,
                     SQLSMALLINT* nameLength, SQLSMALLINT* type, SQLSMALLINT* subtype, SQLLEN* length,
                     SQLSMALLINT* precision, SQLSMALLINT* scale, SQLSMALLINT* nullable) {
  DescRecord* desc = AsDesc(handle);
  if (desc == nullptr) return SQL_INVALID_HANDLE;
  const struct {
    SQLSMALLINT field;
    SQLPOINTER out;
  } steps[] = {{SQL_DESC_NULLABLE, nullable},  {SQL_DESC_SCALE, scale},
               {SQL_DESC_PRECISION, precision}, {SQL_DESC_OCTET_LENGTH, length},
               {SQL_DESC_DATETIME_INTERVAL_CODE, subtype}, {SQL_DESC_TYPE, type}};
  for (const auto& step : steps) {
    if (step.out == nullptr) continue;
    const SQLRETURN rc = GetDescField(desc, number, step.field, step.out, 0, nullptr);
    if (rc != SQL_SUCCESS) return rc;
  }
  if (name == nullptr && nameLength == nullptr) return SQL_SUCCESS;
  SQLINTEGER fullLength = 0;
  const SQLRETURN rc = GetDescField(desc, number, SQL_DESC_NAME, name, capacity, &fullLength);
  if (nameLength != nullptr) *nameLength = static_cast<SQLSMALLINT>(fullLength);
  return rc;
}

SQLRETURN CopyDesc(SQLHDESC sourceHandle, SQLHDESC targetHandle) {
  DescRecord* target = AsDesc(targetHandle);
  DescRecord* source = AsDesc(sourceHandle);
  if (target == nullptr || source == nullptr) return SQL_INVALID_HANDLE;
  target->code = 0;
  if (IsIrd(target)) return PostDescError(target, kCannotModifyIrd);
  // The parameter descriptor of a statement follows its parameter bindings:
  // it is left as it is.
  if (IsIpd(target)) return SQL_SUCCESS;
  if (IsImplementation(source)) {
    const StmtRecord* stmt = source->stmt;
    const bool prepared = stmt->kind != kKindNone || stmt->cursor.open != 0 || stmt->parseTree != nullptr;
    if (!prepared) return PostDescError(target, kStatementNotPrepared);
    const SQLRETURN rc = CopyImplementation(source, target);
    if (!SQL_SUCCEEDED(rc)) return rc;
  } else {
    if (source == target) return SQL_SUCCESS;
    FreeDescItems(target);
    for (const DescItem* from = source->firstItem; from != nullptr; from = from->next) {
      DescItem* to = FindDescItem(target, from->number, CreateItem{});
      if (to == nullptr) return ResultOfCode(target->code);
      to->cType = from->cType;
      to->precision = from->precision;
      to->scale = from->scale;
      to->octetLengthPtr = from->octetLengthPtr;
      to->octetLength = from->octetLength;
      to->dataPtr = from->dataPtr;
      to->indicatorPtr = from->indicatorPtr;
    }
  }
  target->bindType = source->bindType;
  target->rowsProcessedPtr = source->rowsProcessedPtr;
  target->arrayStatusPtr = source->arrayStatusPtr;
  target->zeroOffset = source->zeroOffset;
  target->bindOffsetPtr = source->bindOffsetPtr == &source->zeroOffset ? &target->zeroOffset : source->bindOffsetPtr;
  return SQL_SUCCESS;
}

SQLRETURN ColAttribute(SQLHSTMT handle, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text,
                       SQLSMALLINT capacity, SQLSMALLINT* textLength, SQLLEN* number) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  if (field == 0) field = SQL_DESC_COUNT;
  // The ODBC 2 length, precision and scale keep their ODBC 2 meaning.
  if (field >= SQL_COLUMN_LENGTH && field <= SQL_COLUMN_SCALE)
    return ColAttributes(stmt, column, field, text, capacity, textLength, number);
  DescRecord* ird = &stmt->builtIn[kIrd];
  ird->code = 0;
  ird->argument[0] = 0;
  const auto record = static_cast<SQLSMALLINT>(column);
  SQLRETURN rc = SQL_SUCCESS;
  switch (field) {
    case SQL_DESC_CONCISE_TYPE: case SQL_DESC_UNSIGNED: case SQL_DESC_FIXED_PREC_SCALE: case SQL_DESC_UPDATABLE:
    case SQL_DESC_SEARCHABLE: case SQL_DESC_COUNT: case SQL_DESC_TYPE: case SQL_DESC_PRECISION: case SQL_DESC_SCALE:
    case SQL_DESC_DATETIME_INTERVAL_CODE: case SQL_DESC_NULLABLE: case SQL_DESC_UNNAMED: {
      SQLSMALLINT value = 0;
      rc = ReadRowField(ird, record, static_cast<SQLSMALLINT>(field), &value, 0, nullptr);
      if (SQL_SUCCEEDED(rc) && number != nullptr) *number = value;
      break;
    }
    case SQL_DESC_TYPE_NAME: case SQL_DESC_TABLE_NAME: case SQL_DESC_SCHEMA_NAME: case SQL_DESC_CATALOG_NAME:
    case SQL_DESC_LABEL: case SQL_DESC_BASE_COLUMN_NAME: case SQL_DESC_BASE_TABLE_NAME:
    case SQL_DESC_LITERAL_PREFIX: case SQL_DESC_LITERAL_SUFFIX: case SQL_DESC_LOCAL_TYPE_NAME: case SQL_DESC_NAME: {
      SQLINTEGER length = 0;
      rc = ReadRowField(ird, record, static_cast<SQLSMALLINT>(field), text, capacity, &length);
      if (SQL_SUCCEEDED(rc) && textLength != nullptr) *textLength = static_cast<SQLSMALLINT>(length);
      break;
    }
    case SQL_DESC_DISPLAY_SIZE: case SQL_DESC_AUTO_UNIQUE_VALUE: case SQL_DESC_CASE_SENSITIVE:
    case SQL_DESC_DATETIME_INTERVAL_PRECISION: case SQL_DESC_NUM_PREC_RADIX: case SQL_DESC_LENGTH:
    case SQL_DESC_OCTET_LENGTH: {
      // Read at full width, whatever width the field has in the descriptor.
      SQLLEN value = 0;
      rc = ReadRowField(ird, record, static_cast<SQLSMALLINT>(field), &value, 0, nullptr);
      if (field != SQL_DESC_DISPLAY_SIZE && field != SQL_DESC_LENGTH && field != SQL_DESC_OCTET_LENGTH)
        value = static_cast<SQLINTEGER>(value);
      if (SQL_SUCCEEDED(rc) && number != nullptr) *number = value;
      break;
    }
    default: rc = PostDescError(ird, kInvalidDescriptorField); break;
  }
  stmt->code = ird->code;
  std::memcpy(stmt->argument, ird->argument, sizeof stmt->argument);
  return rc;
}

}  // namespace kivodbc
