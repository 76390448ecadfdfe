// The semantic pass of the driver's SQL front end: opens the table of a
// parsed select, expands "*" and "name.*", binds column references to the
// table's columns and gives each its value category, precision and scale.
#ifndef KIVODBC_SEMANTIC_H
#define KIVODBC_SEMANTIC_H

#include <cstdint>

#include "data/enginetable.h"
#include "sql/parsetree.h"
#include "handles/records.h"

namespace kivodbc {

// Checks `node` of the tree `root` for the statement: 0 or a driver or
// engine code, with the statement's message argument set (and for a table
// that cannot be opened, its engine text with " Table name: " and the
// name). Names compare without regard to case unless `exactNames` is set.
// `result` is the statement's own driver result cursor, or null.
uint32_t CheckParsedStatement(StmtRecord* stmt, ParseRoot* root, ParseNode* node, bool exactNames,
                              const DriverResult* result);

// The category, precision and scale of a column of this SQL type; 2103 for
// a type the front end cannot carry.
uint32_t CategoryOfColumn(int16_t sqlType, int32_t columnSize, int16_t digits, int16_t* category,
                          int32_t* precision, int16_t* scale);

}  // namespace kivodbc

#endif
