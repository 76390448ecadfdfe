// Handles that the record calls accept: tables and cursors, and index
// handles, which name their table and, for navigation, its order.
#pragma once

#include "table.h"

namespace qel32 {

// The table of a table, cursor or index handle.
Table* TableOf(KIVHANDLE handle);
// The same, switching the table to the handle's order: an index handle's
// order, or the table's own order for a table handle.
Table* NavigationOf(KIVHANDLE handle);
// The index handle, or null.
IndexHandle* IndexOf(KIVHANDLE handle);

// Opens an index file for a table handle and makes handles for its orders.
Table::OpenIndexFile& OpenIndexFor(Table& table, const std::string& path, bool automatic);

}  // namespace qel32
