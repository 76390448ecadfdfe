// Descriptor fields and records: SQLSetDescField, SQLSetDescRec,
// SQLGetDescField, SQLGetDescRec and SQLCopyDesc. Application descriptors
// (explicit ones and a statement's built-in row and parameter descriptors)
// keep their records here; the implementation descriptors describe results
// and parameters of their statement.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "api.h"
#include "messages.h"
#include "records.h"
#include "typetable.h"
#include "valuetext.h"

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
  // Columns and parameters of a statement are described from its result and
  // its parameter list, which this build does not describe yet.
  if (IsImplementation(desc)) return PostDescError(desc, kFeatureNotImplemented);
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
      if (CopyOutStringLong(static_cast<char*>(value), capacity, length, "") != 0 && value != nullptr)
        return PostDescError(desc, kDataTruncated);
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
  // The parameter descriptor of a statement follows its parameter bindings;
  // a copy into it would be dropped, so it is refused.
  if (IsIpd(target)) return PostDescError(target, kFeatureNotImplemented);
  if (IsImplementation(source)) {
    const StmtRecord* stmt = source->stmt;
    if (IsIrd(source) && stmt->kind == kKindNone && stmt->cursor.open == 0)
      return PostDescError(target, kStatementNotPrepared);
    return PostDescError(target, kFeatureNotImplemented);
  }
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
  target->bindType = source->bindType;
  target->rowsProcessedPtr = source->rowsProcessedPtr;
  target->arrayStatusPtr = source->arrayStatusPtr;
  target->zeroOffset = source->zeroOffset;
  target->bindOffsetPtr = source->bindOffsetPtr == &source->zeroOffset ? &target->zeroOffset : source->bindOffsetPtr;
  return SQL_SUCCESS;
}

}  // namespace kivodbc
