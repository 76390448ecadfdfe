// Handle records of the driver: one record per ODBC handle, each starting
// with its handle type and the link to the next record of its list.
//
// Records are plain data, allocated zero-filled through DrvAlloc and released
// through DrvFree; every pointer and ODBC length field is full width.
#ifndef KIVODBC_RECORDS_H
#define KIVODBC_RECORDS_H

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace kivodbc {

constexpr int16_t kEnvHandle = 1;
constexpr int16_t kConnHandle = 2;
constexpr int16_t kStmtHandle = 3;
constexpr int16_t kDescHandle = 4;

constexpr size_t kArgumentSize = 1026;     // 1025 characters and the NUL
constexpr size_t kMessageSize = 512;       // 511 characters and the NUL
constexpr size_t kDataSourceSize = 36;     // at most 32 characters
constexpr size_t kMaxDataSourceLength = 32;
constexpr size_t kCursorNameSize = 20;
constexpr size_t kPatternSize = 257;

// Allocation kinds of a descriptor.
constexpr int16_t kDescBuiltIn = 1;
constexpr int16_t kDescExplicit = 2;

// Default C type of a new descriptor item.
constexpr int16_t kDescItemDefaultCType = 99;

void* DrvAlloc(size_t size);
void DrvFree(void* block);

// A zero-filled record of this type from DrvAlloc; null when memory runs out.
template <typename Record>
Record* NewRecord() {
  return static_cast<Record*>(DrvAlloc(sizeof(Record)));
}

// The set of live handle records the typed views below look in: a record is
// registered once allocated and unregistered before it is freed.
void Register(const void* record);
void Unregister(const void* record);

struct ConnRecord;
struct StmtRecord;
struct EngineTable;
struct ParseRoot;
struct ParseNode;
struct EngineRequest;

// One record of a descriptor (a bound column or parameter).
struct DescItem {
  DescItem* next;
  int16_t number;
  int16_t cType;  // 99 until set
  int16_t precision;
  int16_t scale;
  SQLLEN* octetLengthPtr;
  SQLLEN octetLength;
  SQLPOINTER dataPtr;
  SQLLEN* indicatorPtr;
  int16_t attribute;  // 24 at creation
  int16_t flags[5];   // 0, 0, 0, 0, 1 at creation
  int32_t extra[2];
  int32_t lastValue;  // -1 at creation
  void* ownedData;
  size_t ownedSize;
  int32_t owned;
  // Frees what the owned block holds (buffers it points at), when set.
  void (*releaseOwned)(void* block);
};

struct DescRecord {
  int16_t handleType;  // 4
  DescRecord* next;    // next descriptor of the connection
  uint16_t code;
  char argument[kArgumentSize];
  int16_t allocKind;  // kDescBuiltIn or kDescExplicit
  ConnRecord* conn;
  SQLULEN bindType;
  SQLULEN* rowsProcessedPtr;
  SQLUSMALLINT* arrayStatusPtr;
  SQLLEN zeroOffset;
  SQLLEN* bindOffsetPtr;  // points at zeroOffset until the application sets one
  StmtRecord* stmt;       // for a statement's implementation descriptors
  DescItem* firstItem;
};

// The engine connection behind a connected ConnRecord.
struct EngineSession {
  uint16_t typeCount;
  const void* typeTable;
  int16_t transactionCapable;
  int16_t catalogFlag;
  int16_t multipleTransactions;  // 1
  int32_t isolationMask;         // 2
  int32_t defaultIsolation;      // 2
  char connectPath[256];
  char userName[64];
  uint32_t lastError;
  void* accessibleTables;
  void* sqlStatements;
  void* tablePasswords;
  int32_t autocommit;
  int16_t compression;
  int16_t serverTypes;  // 6
  int16_t memoBlockSize;
  char tableExtension[5];
  char* tableExtensionPtr;
  int16_t charSet;       // 1 ANSI, 2 OEM
  int16_t lockingMode;   // 0 compatible, 1 proprietary
  int16_t rightsCheck;   // 1 on, 2 off
  int16_t tableType;     // 1 NTX, 2 CDX, 3 own tables
  uint8_t readOnly;
  uint8_t trimTrailingSpaces;
  uint8_t dictionary;
  uint32_t engineConnection;
};

struct EnvRecord {
  int16_t handleType;  // 1
  ConnRecord* firstConn;
  int32_t version;  // 2 or 3
  uint16_t code;
  int32_t hostFlag;
  char text[kMessageSize];
};

struct CursorNames;

struct ConnRecord {
  int16_t handleType;  // 2
  ConnRecord* next;
  StmtRecord* firstStmt;
  DescRecord* firstDesc;  // explicit descriptors and every statement's built-in ones
  uint16_t code;
  char argument[kArgumentSize];
  char engineText[kMessageSize];
  EnvRecord* env;
  char dataSource[kDataSourceSize];  // non-empty while connected
  EngineSession* session;
  int32_t isolation;  // -1 before connect
  int32_t autocommit;
  SQLULEN bindType;
  int16_t concurrency;   // 1
  int16_t cursorType;    // 0
  int16_t retrieveData;  // 1
  int16_t useBookmarks;  // 0
  int32_t metadataId;
  CursorNames* cursorNames;  // the names its statements hold; made at the first
};

// What a statement is doing, as SQLCancel from another thread finds it (its
// cancelState): no call under way; a stretch that stops when asked (the
// engine running its SQL, or one of the driver's own row loops); such a
// stretch asked to stop; or a call with nothing SQLCancel can stop.
constexpr int32_t kIdle = 0;
constexpr int32_t kRunning = 1;
constexpr int32_t kCancelRequested = 2;
constexpr int32_t kBusy = 3;

// Statement kinds: none, the catalog results (type information among them)
// and an executed select with an open cursor.
constexpr int32_t kKindNone = 0;
constexpr int32_t kKindTypeInfo = 5;
constexpr int32_t kKindSelect = 12;

// Indexes of a statement's built-in descriptors.
enum BuiltInDesc { kArd = 0, kApd = 1, kIrd = 2, kIpd = 3 };

struct CursorState {
  int32_t open;
  uint32_t engineRequest;
  int32_t needData;
};

struct StmtRecord {
  int16_t handleType;  // 3
  StmtRecord* next;
  uint16_t code;
  char argument[kArgumentSize];
  char engineText[kMessageSize];
  ConnRecord* conn;
  int16_t dynamicFunction;  // SQL_DIAG code of the prepared statement
  char cursorName[kCursorNameSize];
  int32_t kind;
  int32_t catalogSubKind;
  int32_t catalogRow;  // -2 at allocation
  int32_t metadataId;
  int16_t typeInfoType;
  void* catalogRequest;
  char patterns[2][kPatternSize];
  char columnPattern[kPatternSize];    // column pattern of SQLColumnPrivileges
  char keyTables[2][kPatternSize];     // primary-key and foreign-key tables of SQLForeignKeys
  EngineTable* engineTable;            // opened by a catalog kind that needs one
  char catalogTable[256];              // the table of the current catalog row
  char catalogQualifier[256];          // and its qualifier
  ParseRoot* parseTree;                // the statement's parsed text, if any
  EngineRequest* request;              // the engine statement behind it
  int32_t prepared;                    // set by a successful SQLPrepare
  SQLLEN putOffset;                    // -1 when no data at execution is under way
  ParseNode* dataItem;                 // the parameter node SQLPutData feeds, if any
  int32_t positionedRow;               // -1: pending data belongs to parameters
  DescItem* positionedItem;            // the column binding SQLPutData feeds for SQLSetPos, if any
  CursorState cursor;
  int32_t position;  // -1
  SQLLEN rowCount;
  SQLLEN cursorRowCount;  // -1
  int32_t affectedRows;  // rows the current call changed
  DescRecord builtIn[4];
  DescRecord* ard;
  DescRecord* apd;
  SQLULEN* rowsFetchedPtr;
  int32_t transactionTouched;
  int32_t transactionFlag;
  int16_t concurrency;
  int16_t cursorType;
  int16_t retrieveData;
  int16_t useBookmarks;
  int32_t currentRow;
  void* rowPtr;
  int16_t fetchState;  // -1
  int32_t enableAutoIpd;  // 1
  void* fetchBookmarkPtr;
  int32_t truncated;         // a value of the current execution was cut
  int32_t getDataColumn;     // the column SQLGetData read last; -1 none
  // kIdle, kBusy during a call, kRunning in a stretch SQLCancel stops, and
  // kCancelRequested once SQLCancel came from another thread. It, the engine
  // statement a stretch of engine SQL runs on (0 in a driver row loop) and
  // the mark of the last cancel declined on it (HY018, read by the thread
  // that asked) are read and written through std::atomic_ref.
  int32_t cancelState;
  uint32_t runningStatement;
  uint32_t declinedCancel;
  SQLLEN getDataOffset;      // what earlier SQLGetData calls of it returned
  int32_t getDataDone;       // the whole value of that column has been returned
  SQLUSMALLINT* rowStatusPtr;  // the row statuses of the last SQLExtendedFetch
};

// Records live in zero-filled raw memory, so they must stay plain data.
static_assert(std::is_trivially_copyable_v<EnvRecord> && std::is_trivially_copyable_v<ConnRecord> &&
              std::is_trivially_copyable_v<StmtRecord> && std::is_trivially_copyable_v<DescRecord> &&
              std::is_trivially_copyable_v<DescItem> && std::is_trivially_copyable_v<EngineSession>);

// Typed views of an ODBC handle; null when the handle is null or of another type.
EnvRecord* AsEnv(SQLHANDLE handle);
ConnRecord* AsConn(SQLHANDLE handle);
StmtRecord* AsStmt(SQLHANDLE handle);
DescRecord* AsDesc(SQLHANDLE handle);

// The environment that decides the ODBC version of a handle's diagnostics.
EnvRecord* OwningEnv(SQLSMALLINT handleType, SQLHANDLE handle);

// A descriptor's item by record number. The lookup form returns the shared
// empty item (read-only) when the number lies below the highest item, and
// null with 2187 posted on the descriptor when it lies above. The creating
// form puts a new item at the head of the list (null with 2101 posted when
// memory runs out).
struct CreateItem {};
const DescItem* FindDescItem(DescRecord* desc, int16_t number);
DescItem* FindDescItem(DescRecord* desc, int16_t number, CreateItem);
void FreeDescItems(DescRecord* desc);
// Frees an item's owned block and what it holds; the item keeps no block.
void ReleaseItemOwned(DescItem* item);

// 1 when an upper-cased host file name holds "MSQRY32.EXE".
int32_t HostFlagFor(const char* hostFileName);

}  // namespace kivodbc

#endif
