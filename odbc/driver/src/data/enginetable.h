// The driver's view of an engine table: how a table is opened for a catalog
// call or a select, how its fields are described as ODBC columns, and the
// passwords a session keeps for its tables.
#ifndef KIVODBC_ENGINETABLE_H
#define KIVODBC_ENGINETABLE_H

#include <cstdint>
#include <string>
#include <vector>

#include "handles/records.h"

namespace kivodbc {

// Index flags of a column.
constexpr uint8_t kNotIndexed = 0;
constexpr uint8_t kKeyField = 1;
constexpr uint8_t kFirstOfUniqueKey = 2;

struct EngineColumn {
  std::string name;
  uint16_t engineType = 0;
  int16_t sqlType = 0;
  int32_t columnSize = 0;
  int16_t digits = 0;
  int16_t nullable = 1;
  int16_t weight = 0;  // 0-100, how useful the column is for searching
  uint8_t indexFlag = kNotIndexed;
  uint32_t fieldLength = 0;  // bytes in the record
  uint8_t permissions = 0;   // the engine's column attribute
  bool primaryKey = false;
};

// One index the description keeps: its name, flags and key field numbers (1-based).
struct EngineIndex {
  std::string name;
  uint32_t flags = 0;
  std::vector<uint16_t> fields;
  std::vector<uint8_t> descending;  // per key column, as the engine reports it
};

// An opened table and its description. A table that stands for a driver
// result cursor has no engine handle of its own.
struct EngineTable {
  uint32_t handle = 0;
  bool resultCursor = false;
  // What the record layer needs: the session, the table type (3 for the
  // product's own tables), the trim option and the step state.
  EngineSession* session = nullptr;
  uint16_t tableType = 0;
  bool trim = false;
  bool firstStep = true;
  bool backwards = false;
  bool atEnd = false;
  int32_t stepCount = 0;
  std::string name;  // as it was asked for
  std::vector<EngineColumn> columns;
  std::vector<EngineIndex> indexes;
};

// A driver result cursor that a statement may open as a pseudo-table: its
// id (the cursor's address, full width) and the columns it delivers.
struct DriverResult {
  uintptr_t id = 0;
  const std::vector<EngineColumn>* columns = nullptr;
};

// The pseudo-table name of a result cursor: its id in hexadecimal.
std::string PseudoTableName(uintptr_t id);
// True when `name` is exactly the pseudo-table name of `result` (hex digits
// of the full id, nothing cut, nothing after them).
bool NamesDriverResult(const char* name, const DriverResult& result);

// Describes one engine field as an ODBC column: 0, or 2004 for an engine
// type the driver has no column for. `ownTables` is set for the product's
// own table type; `procedureList` for a procedure parameter list.
uint32_t DescribeEngineField(uint16_t engineType, uint32_t length, uint16_t decimals, bool ownTables,
                             bool procedureList, EngineColumn* column);

// Lock modes of OpenEngineTable: 0 none, 1 read, 2 update, 3 insert, 4
// delete, 5 the plain driver layout.
constexpr int kLockRead = 1;

// Opens a table by name (qualifier may be empty) and describes it. On
// success `*out` owns the table; on failure it is null and the result is a
// driver or engine code (the engine's last error describes engine codes).
// `result` is the statement's own driver result cursor, or null.
uint32_t OpenEngineTable(EngineSession* session, const char* qualifier, const char* name, int lockMode,
                         bool exclusive, const DriverResult* result, EngineTable** out);

// Closes the engine table (unless `freeOnly`) and releases the description.
// The first engine error is kept as the session's last error and returned.
uint32_t CloseEngineTable(EngineSession* session, EngineTable* table, bool freeOnly = false);

// An entry of a session's table-password list.
struct TablePassword {
  TablePassword* next;
  char table[256];
  char password[64];
};

// Adds a table password that every engine statement gets.
uint32_t AddTablePassword(EngineSession* session, const char* table, const char* password);
// The password the session keeps for a table (by its file name without
// folder and extension, letter case aside); null when it keeps none.
const char* SessionTablePassword(const EngineSession* session, const std::string& table);
// Forgets the session's passwords of a table.
void RemoveTablePassword(EngineSession* session, const std::string& table);

// Gives an opened engine table the password the session keeps for it, if any.
uint32_t ApplySessionPassword(EngineSession* session, const std::string& name, uint32_t table);

// The path of a table on a free connection: `directory`, '/', the name (a
// '\' in it reads as '/'), the extension when the name has none; ".." steps
// at the start of the name remove one directory each. 0, 2015 when the steps
// leave no directory, 2009 when the path reaches 256 characters.
uint32_t FreeTablePath(const std::string& directory, const std::string& name, const char* extension,
                       std::string* path);

}  // namespace kivodbc

#endif
