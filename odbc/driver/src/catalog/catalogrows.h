// The rows of the catalog results, produced one at a time at fetch, and
// their column values.
#ifndef KIVODBC_CATALOGROWS_H
#define KIVODBC_CATALOGROWS_H

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "catalog/catalog.h"
#include "handles/records.h"

namespace kivodbc {

// Moves a catalog result to its next row: 0, 100 at the end (the position
// becomes -2), or a failure code.
uint32_t AdvanceCatalogRow(StmtRecord* stmt);

// One value (column 1 on) of the current catalog row, converted to `cType`: 0, 2102 (cut),
// 100 when the value was returned already, or a failure code.
uint32_t CatalogColumnData(StmtRecord* stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target,
                           SQLLEN bufferLength, SQLLEN* length, SQLLEN* indicator);

// Releases the listing state of a catalog request (closing an engine
// enumeration it holds open). Null does nothing.
void FreeCatalogListing(EngineSession* session, CatalogListing* listing);

}  // namespace kivodbc

#endif
