// The engine session behind a connected connection handle: the version check
// of the engine library, the engine options that the data-source keys select,
// the engine connect with its follow-up queries, the list of tables the
// rights check allows, and the engine's transaction calls.
#ifndef KIVODBC_SESSION_H
#define KIVODBC_SESSION_H

#include <sql.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "connect/connstring.h"
#include "handles/records.h"

namespace kivodbc {

// The engine library's version that this driver is built for.
constexpr uint32_t kEngineLibraryVersion = 0x260000;

// One table the connection may open (rights checking on).
struct RightsEntry {
  RightsEntry* next;
  char directory[261];
  char file[256];
  char name[256];
};

// A key of the data source's section in "ODBC.INI"; `fallback` when missing.
std::string ReadDsnKey(const std::string& dsn, const char* key, size_t capacity, const char* fallback = "");

// True when the engine library is older than the driver. An engine that
// cannot be bound is no version to check: the connect reports that itself.
bool CheckEngineLibraryVersion();

// Completes the empty fields of `block` from the data source and turns the
// fields into the session's options and engine settings.
void ReadConnectOptions(const std::string& dsn, EngineSession* session, ConnectBlock* block);

// Opens the engine session: 0 with `*out` set, else an error code whose
// message is already written to `errorText` (kMessageSize bytes). A failure
// after the engine connect disconnects again. `block` may be null (every
// option then comes from the data source). `*engineOlder` tells whether the
// engine library is older than the driver; the connect goes on all the same.
uint32_t OpenEngineSession(const char* dataDirectory, const std::string& dsn, ConnectBlock* block,
                           const char* user, const char* password, EngineSession** out, char* errorText,
                           bool* engineOlder);

// Frees the session's table list.
void FreeRightsList(EngineSession* session);
// Fills the session's accessible-table list from the engine: 0 or a driver code.
uint32_t LoadRightsList(EngineSession* session);

// Engine transactions of a session: each asks whether a transaction is open
// and only then commits or rolls back. 0 or the engine code (also stored as
// the session's last error).
uint32_t EngineTransactionOpen(EngineSession* session, bool* open);
uint32_t CommitEngineTransaction(EngineSession* session);
uint32_t RollbackEngineTransaction(EngineSession* session);

// 0 when `level` shares a bit with the session's supported levels, else 2003.
uint32_t CheckIsolationLevel(const EngineSession* session, int32_t level);

}  // namespace kivodbc

#endif
