// The cursor over an executed select: its row source (the FROM table
// stepped record by record), the keyset of record numbers spooled to a
// "LEM" file, and the positioning that every fetch path uses.
#ifndef KIVODBC_KEYSET_H
#define KIVODBC_KEYSET_H

#include <sql.h>

#include <cstdint>

#include "data/enginetable.h"
#include "sql/parsetree.h"
#include "handles/records.h"

namespace kivodbc {

constexpr uint32_t kKeysetReadError = 2146;  // "Unable to do ORDER BY"
constexpr uint32_t kKeysetCreateError = 2170;
constexpr uint32_t kFetchTypeOutOfRange = 2171;
constexpr uint32_t kInvalidBookmark = 2172;

constexpr int32_t kBeforeFirst = -1;
constexpr int32_t kAfterLast = -2;

SelectExtension* SelectStateOf(ParseNode* select);
// The table of the select's first FROM element; null when it has none.
EngineTable* FirstFromTable(ParseNode* select);

// Row source: the next row of a FROM list (2138 at its end); rewinding
// starts it again from the first record.
uint32_t RewindScan(EngineTable* table);
uint32_t RewindFromList(StmtRecord* stmt, ParseNode* from);
uint32_t AdvanceRowSource(StmtRecord* stmt, ParseNode* from);
// Advances the select's row source; with a condition, until it holds.
uint32_t AdvanceUntil(StmtRecord* stmt, ParseNode* select, ParseNode* condition);

// At execution: drops the keyset and rewinds the row source.
uint32_t RewindSelect(StmtRecord* stmt, ParseNode* select);
// Spools the record numbers of every row; afterwards the cursor is before
// the first row and the row count is the number of keys.
uint32_t BuildKeyset(StmtRecord* stmt, ParseNode* select);
// Adds a record number at the end of the select's keyset, which then has one
// row more: 0, or 2170 with the keyset released.
uint32_t AppendKeysetRecord(ParseNode* select, uint32_t record);
// Closes and deletes the keyset of a select, or of every select of a tree.
void ReleaseKeyset(ParseNode* select);
void ReleaseKeysets(ParseRoot* root);

// Loads the current row's value of a column reference, or the value of a
// constant, into the node: 0, 2103 for a value type without a load, 2119
// for another node kind, or the table layer's failure.
uint32_t LoadNodeValue(StmtRecord* stmt, ParseNode* node);

// Moves to a row: 0 with the table on it, 2138 at either end, 2001 when
// the keyset's record is gone, or another failure.
uint32_t PositionCursor(StmtRecord* stmt, ParseNode* select, SQLUSMALLINT orientation, SQLLEN offset);

}  // namespace kivodbc

#endif
