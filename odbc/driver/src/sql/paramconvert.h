// Parameter value conversion: one application value, a C type with its
// length or indicator, turned into the value the driver hands to the engine
// for a statement parameter (or a column written back through SQLSetPos).
// It is also the append step of SQLPutData: text and binary pieces add to
// what earlier calls stored.
#ifndef KIVODBC_PARAMCONVERT_H
#define KIVODBC_PARAMCONVERT_H

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>

#include "data/tablerecord.h"
#include "handles/typetable.h"

namespace kivodbc {

// The engine-side representation of a parameter is chosen at preparation,
// one of the value types of the cursor layer: text, decimal text
// (kValueNumeric: textCapacity digits, `scale` of them after the point),
// integer and double (both held as a double), date, time, timestamp, and
// binary (a buffer of a 32-bit byte count, then the bytes).

constexpr uint32_t kParameterBufferSize = 1024;

// The value of one parameter. Plain data: it lives zero-filled inside the
// parameter node; ReleaseParameterValue frees a grown buffer.
struct ParameterValue {
  int16_t valueType;
  int16_t sqlType;  // as bound
  int16_t scale;
  int32_t textCapacity;  // digits of a decimal text
  int32_t isNull;
  double number;  // value types 4 and 8
  DATE_STRUCT date;
  TIME_STRUCT time;
  TIMESTAMP_STRUCT timestamp;
  char fixed[kParameterBufferSize];  // text, decimal text and binary values
  char* grown;  // replaces `fixed` once a value outgrew it (DrvAlloc)
  uint32_t grownSize;
  // A hexadecimal digit of a binary value that waits for its pair in the
  // next SQLPutData piece: 0 none, else 0x10 | the digit's value.
  int32_t pendingNibble;
};

// The unsigned attributes of the connection's type table that decide how
// sign-neutral C types are read.
struct ParameterSigns {
  bool integerUnsigned;
  bool smallintUnsigned;
  bool tinyintUnsigned;
  bool bigintUnsigned;
};
ParameterSigns SignsOfTypeTable(const TypeEntry* entries, size_t count);

// The buffer of a text, decimal or binary value and its size.
char* ParameterBuffer(ParameterValue* param);
const char* ParameterBuffer(const ParameterValue* param);
uint32_t ParameterBufferSize(const ParameterValue* param);
// A binary value's byte count and bytes.
uint32_t ParameterByteCount(const ParameterValue* param);
const unsigned char* ParameterBytes(const ParameterValue* param);
void ReleaseParameterValue(ParameterValue* param);

// The length a parameter bound without a length/indicator pointer has:
// SQL_NTS for character and binary data, the type's size otherwise.
SQLLEN UnboundParameterLength(int16_t cType);

// Converts one value into `param`.
//
// `appendOffset` is null except for SQLPutData, where it holds what earlier
// pieces stored (0 for the first) and is advanced. `lengthOrIndicator` is the
// value's length, SQL_NTS, SQL_NULL_DATA or SQL_DEFAULT_PARAM.
// `argument` (`argumentSize` bytes, may be null) receives the message
// argument of 2116, the offending text; it is cleared for 2232.
//
// Returns 0; 2102 when the value is stored cut (SQL_SUCCESS_WITH_INFO); or
// an error: 2101 no memory, 2103 not supported (SQL_DEFAULT_PARAM, an unknown
// C or value type), 2109 a conversion the value type does not take or text
// that is no date/time/hexadecimal, 2111 out of range or a binary value
// shorter than the structure it stands for, 2112 text that is no number,
// 2116 a malformed decimal text, 2119 binary data for a decimal or number of
// another SQL type, 2232 too many integer digits for a decimal.
int ConvertParameterValue(ParameterValue* param, const ParameterSigns& signs, SQLLEN* appendOffset, int16_t cType,
                          const void* value, SQLLEN lengthOrIndicator, char* argument, size_t argumentSize);

// Ends a value sent in pieces: 2102 when a binary value's hexadecimal text
// had an odd number of digits (the last one is dropped), else 0.
int FinishParameterValue(ParameterValue* param);

}  // namespace kivodbc

#endif
