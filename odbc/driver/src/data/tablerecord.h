// The cursor layer's record and field access on an opened driver table (an
// engine table or the pseudo-table of an engine result cursor): stepping,
// going to a record, reading and writing one field of the current record,
// and appending, writing and deleting records.
//
// Every failure is also kept as the session's last error, from which the
// callers build the diagnostic text.
#ifndef KIVODBC_TABLERECORD_H
#define KIVODBC_TABLERECORD_H

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>

#include "data/enginetable.h"

namespace kivodbc {

// Value types exchanged with the cursor layer.
constexpr int16_t kValueText = 1;
constexpr int16_t kValueNumeric = 2;
constexpr int16_t kValueInteger = 4;
constexpr int16_t kValueDouble = 8;
constexpr int16_t kValueDate = 9;
constexpr int16_t kValueTime = 10;
constexpr int16_t kValueTimestamp = 11;
constexpr int16_t kValueBinary = -2;

// Codes of the record layer.
constexpr uint32_t kRecordEdge = 2001;      // edge of a step, or a missing record
constexpr uint32_t kValueTruncated = 2002;  // cut read, or a value that did not fit
constexpr uint32_t kRecordError = 2004;     // unknown value type, offset past a value
constexpr uint32_t kNoDataFound = 2138;     // the end of a value read in pieces

// Empty marks of a read.
constexpr int kEmptyField = 1;
constexpr int kZeroValue = 2;

// Clears the last error and the step state: the next step starts at the top.
void ResetTableCursor(EngineTable* table);
// The first step goes to the top (or the bottom when stepping backwards),
// the others skip one record. 0, or 2001 at the edge.
uint32_t StepTableRecord(EngineTable* table);
// The decimal value of the first `length` characters (at most 127).
int32_t TextToInt(const char* text, size_t length);
// The length of the current value of a variable field, or the defined
// length of any other field.
uint32_t FieldDataLength(EngineTable* table, size_t field, uint32_t* length);

// Reads field `field` (0-based) of the current record from byte `offset`
// as `wanted` into `target` of `capacity` bytes. `*length` gets the bytes
// delivered (the rest still to read for a cut piece), or SQL_NULL_DATA;
// `*emptyMark` 0, kEmptyField or kZeroValue. Targets: text (NUL added) and
// binary bytes; double; SQL_DATE_STRUCT, SQL_TIME_STRUCT, SQL_TIMESTAMP_STRUCT.
uint32_t ReadTableField(EngineTable* table, size_t field, uint32_t offset, int16_t wanted, void* target,
                        SQLLEN capacity, SQLLEN* length, int* emptyMark);

// Writes `value` of value type `type` into field `field` (0-based) of the
// current record. A length of SQL_NULL_DATA clears the field; text takes
// SQL_NTS. Integers are int32_t, the others as ReadTableField.
uint32_t WriteTableField(EngineTable* table, size_t field, uint16_t engineType, int16_t type, const void* value,
                         SQLLEN length);
// WriteTableField after making sure of the implicit transaction.
uint32_t SetTableField(EngineTable* table, size_t field, uint16_t engineType, int16_t type, const void* value,
                       SQLLEN length);

uint32_t AppendBlankRecord(EngineTable* table);
// A failed write discards the pending changes and keeps the write's error.
uint32_t WriteTableRecord(EngineTable* table);
uint32_t DeleteTableRecord(EngineTable* table);
// Drops the field changes not yet written to the current record (an
// appended record stays, blank). 0 also when nothing was pending.
uint32_t DiscardRecordChanges(EngineTable* table);
uint32_t CurrentRecordNumber(EngineTable* table, uint32_t* number);
// 0, or 2001 when the record is missing or deleted.
uint32_t GoToRecord(EngineTable* table, uint32_t number);

// Begins a transaction when autocommit is off and none is open.
uint32_t EnsureImplicitTransaction(EngineSession* session);

}  // namespace kivodbc

#endif
