#include "connect/session.h"

#include <odbcinst.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "util/engine.h"
#include "handles/messages.h"
#include "qel32.h"
#include "handles/typetable.h"

namespace kivodbc {
namespace {

constexpr uint16_t kIsamError = 2004;
constexpr uint16_t kIsamMemoryError = 2008;
constexpr uint16_t kIsamPathTooLong = 2009;
constexpr uint16_t kNotCapableIsolation = 2003;
constexpr uint16_t kDictionaryConnection = 6;
constexpr uint16_t kDictionaryConnectionToo = 7;

char Letter(const char* text, size_t index) {
  return std::strlen(text) > index ? static_cast<char>(std::toupper(static_cast<unsigned char>(text[index]))) : 0;
}

int Decimal(const char* text, int fallback) { return text[0] == 0 ? fallback : std::atoi(text); }

// Fills an empty field of the block from the data source.
void CompleteField(const std::string& dsn, const char* key, char* field, size_t capacity) {
  if (field[0] != 0) return;
  CopyField(field, capacity, ReadDsnKey(dsn, key, capacity));
}

void ReleaseSession(EngineSession* session, bool disconnect) {
  if (disconnect && session->engineConnection != 0) {
    if (auto engineDisconnect = Engine<decltype(&KivDisconnect)>(kOrdinalDisconnect))
      engineDisconnect(session->engineConnection);
  }
  FreeRightsList(session);
  DrvFree(session);
}

bool SameText(const char* a, const char* b) { return EqualsIgnoreCase(a, b); }

// Splits a table's full file name into folder and file name.
uint32_t SplitTablePath(EngineSession* session, const char* path, std::string* directory, std::string* file) {
  const bool absolute = path[0] == '/' || path[0] == '\\' || (std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':');
  if (!absolute) {
    *directory = session->connectPath;
    *file = path;
    return 0;
  }
  auto pathPart = Engine<decltype(&KivGetPathPart)>(kOrdinalGetPathPart);
  if (pathPart == nullptr) return kIsamError;
  char part[261] = {};
  uint32_t length = sizeof part;
  if (uint32_t code = pathPart(path, KIV_PATH_DIRECTORY, part, &length)) return code;
  *directory = part;
  if (directory->size() > 1 && (directory->back() == '/' || directory->back() == '\\')) directory->pop_back();
  length = sizeof part;
  std::memset(part, 0, sizeof part);
  if (uint32_t code = pathPart(path, KIV_PATH_FILE, part, &length)) return code;
  *file = part;
  return 0;
}

uint32_t AddRightsEntry(EngineSession* session, const char* name, const char* second) {
  std::string directory;
  std::string file = second;
  if (name[0] == 0) {
    if (uint32_t code = SplitTablePath(session, second, &directory, &file)) return code;
  }
  RightsEntry probe = {};
  if (directory.size() >= sizeof probe.directory || file.size() >= sizeof probe.file ||
      std::strlen(name) >= sizeof probe.name)
    return kIsamPathTooLong;
  auto* head = static_cast<RightsEntry*>(session->accessibleTables);
  for (RightsEntry* e = head; e != nullptr; e = e->next) {
    if (SameText(e->directory, directory.c_str()) && SameText(e->file, file.c_str()) && SameText(e->name, name))
      return 0;
  }
  auto* entry = static_cast<RightsEntry*>(DrvAlloc(sizeof(RightsEntry)));
  if (entry == nullptr) return kIsamMemoryError;
  CopyField(entry->directory, sizeof entry->directory, directory);
  CopyField(entry->file, sizeof entry->file, file);
  CopyField(entry->name, sizeof entry->name, name);
  entry->next = head;
  session->accessibleTables = entry;
  return 0;
}

}  // namespace

uint32_t LoadRightsList(EngineSession* session) {
  auto handleType = Engine<decltype(&KivGetHandleType)>(kOrdinalGetHandleType);
  auto findFirst = Engine<decltype(&KivFindFirstTable62)>(kOrdinalFindFirstTable62);
  auto findNext = Engine<decltype(&KivFindNextTable62)>(kOrdinalFindNextTable62);
  auto findClose = Engine<decltype(&KivFindClose)>(kOrdinalFindClose);
  if (handleType == nullptr || findFirst == nullptr || findNext == nullptr || findClose == nullptr)
    return kIsamError;
  uint16_t type = 0;
  if (handleType(session->engineConnection, &type) != 0) return 0;
  std::string pattern;
  if (type != kDictionaryConnection && type != kDictionaryConnectionToo)
    pattern = std::string(session->connectPath) + "/*" + session->tableExtension;
  char name[256] = {};
  char path[256] = {};
  uint32_t nameLength = sizeof name;
  uint32_t pathLength = sizeof path;
  KIVHANDLE search = 0;
  if (findFirst(session->engineConnection, pattern.c_str(), name, &nameLength, path, &pathLength, &search) != 0)
    return 0;
  uint32_t result = 0;
  for (;;) {
    name[sizeof name - 1] = 0;
    path[sizeof path - 1] = 0;
    if (uint32_t code = AddRightsEntry(session, name, path)) {
      result = code;
      break;
    }
    std::memset(name, 0, sizeof name);
    std::memset(path, 0, sizeof path);
    nameLength = sizeof name;
    pathLength = sizeof path;
    const uint32_t code = findNext(search, name, &nameLength, path, &pathLength);
    if (code == KIV_ERR_NO_MORE_TABLES) break;
    if (code != 0) {
      session->lastError = code;
      result = kIsamError;
      break;
    }
  }
  findClose(search);
  return result;
}

std::string ReadDsnKey(const std::string& dsn, const char* key, size_t capacity, const char* fallback) {
  std::vector<char> buffer(capacity + 1, 0);
  SQLGetPrivateProfileString(dsn.c_str(), key, fallback, buffer.data(), static_cast<int>(capacity), "odbc.ini");
  buffer[capacity > 0 ? capacity - 1 : 0] = 0;
  return buffer.data();
}

bool CheckEngineLibraryVersion() {
  auto getVersion = reinterpret_cast<decltype(&KivGetLibraryVersion)>(
      EngineBinding::Instance().ResolveByName("KivGetLibraryVersion"));
  if (getVersion == nullptr) return false;
  uint32_t version = 0;
  getVersion(&version);
  // A newer library is accepted without a word: its interface is a superset.
  return version < kEngineLibraryVersion;
}

namespace {

// 2140 for an engine that cannot be bound, with the loader's reason.
uint32_t EngineUnbound(char* errorText) {
  BuildDiagnosticText(kUnableToConnect, errorText);
  const std::string reason = EngineBinding::Instance().LastFailure();
  if (!reason.empty()) std::snprintf(errorText + std::strlen(errorText), kMessageSize - std::strlen(errorText), ": %s",
                                     reason.c_str());
  return kUnableToConnect;
}

}  // namespace

void ReadConnectOptions(const std::string& dsn, EngineSession* session, ConnectBlock* given) {
  ConnectBlock local = {};
  ConnectBlock* block = given != nullptr ? given : &local;
  if (!dsn.empty() && dsn != " ") {
    const struct {
      const char* key;
      char* field;
      size_t capacity;
    } keys[] = {
        {"Locking", block->locking, sizeof block->locking},
        {"CharSet", block->charSet, sizeof block->charSet},
        {"MorvaneLocking", block->morvaneLocking, sizeof block->morvaneLocking},
        {"DefaultType", block->defaultType, sizeof block->defaultType},
        {"Compression", block->compression, sizeof block->compression},
        {"MaxTableCloseCache", block->maxTableCloseCache, sizeof block->maxTableCloseCache},
        {"Rows", block->rows, sizeof block->rows},
        {"ServerTypes", block->serverTypes, sizeof block->serverTypes},
        {"MemoBlockSize", block->memoBlockSize, sizeof block->memoBlockSize},
        {"TableExtension", block->tableExtension, sizeof block->tableExtension},
        {"RightsChecking", block->rightsChecking, sizeof block->rightsChecking},
        {"UseAOF", block->useAof, sizeof block->useAof},
        {"UseReadAhead", block->useReadAhead, sizeof block->useReadAhead},
        {"ReadOnly", block->readOnly, sizeof block->readOnly},
        {"TrimTrailingSpaces", block->trimTrailingSpaces, sizeof block->trimTrailingSpaces},
    };
    for (const auto& k : keys) CompleteField(dsn, k.key, k.field, k.capacity);
  }

  session->charSet = Letter(block->charSet, 0) == 'O' ? 2 : 1;
  session->lockingMode = Letter(block->morvaneLocking, 1) == 'F' ? 0 : 1;
  switch (Letter(block->defaultType, 0)) {
    case 'C': session->tableType = 1; break;
    case 'F': session->tableType = 2; break;
    default: session->tableType = 3; break;
  }
  switch (Letter(block->compression, 0)) {
    case 'A': session->compression = 4; break;
    case 'I': session->compression = 12; break;
    case 'N': session->compression = 8; break;
    default: session->compression = 0; break;
  }
  if (auto cacheTables = Engine<decltype(&KivCacheOpenTables)>(kOrdinalCacheOpenTables))
    cacheTables(static_cast<uint16_t>(Decimal(block->maxTableCloseCache, 25)));
  if (auto showDeleted = Engine<decltype(&KivShowDeleted)>(kOrdinalShowDeleted))
    showDeleted(Letter(block->rows, 0) == 'T' ? 1 : 0);
  session->serverTypes = static_cast<int16_t>(Decimal(block->serverTypes, 6));
  if (block->serverTypes[0] != 0) {
    auto setServerType = Engine<decltype(&KivSetServerType)>(kOrdinalSetServerType);
    if (setServerType != nullptr && setServerType(static_cast<uint16_t>(session->serverTypes)) != 0) {
      if (auto showError = Engine<decltype(&KivShowError)>(kOrdinalShowError))
        showError("Invalid Server Types Value in Connection String");
    }
  }
  session->memoBlockSize = static_cast<int16_t>(Decimal(block->memoBlockSize, 0));
  const char* extension = block->tableExtension;
  if (extension[0] == 0) {
    CopyField(session->tableExtension, sizeof session->tableExtension, session->tableType == 3 ? ".kdt" : ".dbf");
  } else if (extension[0] == '.') {
    CopyField(session->tableExtension, sizeof session->tableExtension, std::string_view(extension).substr(0, 4));
  } else {
    CopyField(session->tableExtension, sizeof session->tableExtension,
              "." + std::string(std::string_view(extension).substr(0, 3)));
  }
  session->tableExtensionPtr = session->tableExtension;
  session->rightsCheck = Letter(block->rightsChecking, 1) == 'F' ? 2 : 1;
  session->readOnly = Letter(block->readOnly, 0) == 'T' ? 1 : 0;
  session->trimTrailingSpaces = Letter(block->trimTrailingSpaces, 0) == 'T' ? 1 : 0;
}

uint32_t OpenEngineSession(const char* dataDirectory, const std::string& dsn, ConnectBlock* block,
                           const char* user, const char* password, EngineSession** out, char* errorText,
                           bool* engineOlder) {
  *out = nullptr;
  *engineOlder = CheckEngineLibraryVersion();
  errorText[0] = 0;
  auto* session = static_cast<EngineSession*>(DrvAlloc(sizeof(EngineSession)));
  if (session == nullptr) {
    BuildDiagnosticText(kIsamError, errorText);
    return kIsamError;
  }
  if (std::strlen(dataDirectory) >= sizeof session->connectPath) {
    DrvFree(session);
    BuildDiagnosticText(kIsamPathTooLong, errorText);
    return kIsamPathTooLong;
  }
  session->transactionCapable = 1;
  session->multipleTransactions = 1;
  session->isolationMask = SQL_TXN_READ_COMMITTED;
  session->defaultIsolation = SQL_TXN_READ_COMMITTED;
  session->autocommit = 1;
  std::string path = dataDirectory;
  if (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  CopyField(session->connectPath, sizeof session->connectPath, path);
  CopyField(session->userName, sizeof session->userName, user[0] != 0 ? user : "Anonymous");

  auto connect = Engine<decltype(&KivConnect60)>(kOrdinalConnect60);
  if (connect == nullptr) {
    DrvFree(session);
    return EngineUnbound(errorText);
  }
  auto connectionPath = Engine<decltype(&KivGetConnectionPath)>(kOrdinalGetConnectionPath);
  auto transactionsDisabled = Engine<decltype(&KivGetTransactionsDisabled)>(kOrdinalGetTransactionsDisabled);
  auto handleType = Engine<decltype(&KivGetHandleType)>(kOrdinalGetHandleType);
  if (connectionPath == nullptr || transactionsDisabled == nullptr || handleType == nullptr) {
    DrvFree(session);
    return EngineUnbound(errorText);
  }
  if (auto setting = Engine<decltype(&KivSetConnectSetting)>(kOrdinalSetConnectSetting)) setting(1);
  ReadConnectOptions(dsn, session, block);

  // Engine failures keep the engine's text; everything opened so far is released.
  auto fail = [&](uint32_t code, bool connected) {
    session->lastError = code;
    BuildDiagnosticText(code, errorText);
    ReleaseSession(session, connected);
    return code;
  };
  uint32_t code = connect(dataDirectory, static_cast<uint16_t>(session->serverTypes), user, password,
                          static_cast<uint32_t>(session->compression), &session->engineConnection);
  if (code != 0) return fail(code, false);

  char enginePath[256] = {};
  uint32_t length = sizeof enginePath;
  if (connectionPath(session->engineConnection, enginePath, &length) == 0) {
    enginePath[sizeof enginePath - 1] = 0;
    CopyField(session->connectPath, sizeof session->connectPath, enginePath);
  } else {
    CopyField(session->connectPath, sizeof session->connectPath, dataDirectory);
  }
  uint16_t disabled = 0;
  if ((code = transactionsDisabled(session->engineConnection, &disabled)) != 0) return fail(code, true);
  if (disabled == 1) session->transactionCapable = 0;
  uint16_t type = 0;
  if ((code = handleType(session->engineConnection, &type)) != 0) return fail(code, true);
  session->dictionary = type == kDictionaryConnection || type == kDictionaryConnectionToo;
  SelectTypeTable(session);
  if (session->rightsCheck == 1) {
    if ((code = LoadRightsList(session)) != 0) {
      BuildDiagnosticText(kIsamError, errorText);
      ReleaseSession(session, true);
      return kIsamError;
    }
  }
  *out = session;
  return 0;
}

void FreeRightsList(EngineSession* session) {
  for (auto* entry = static_cast<RightsEntry*>(session->accessibleTables); entry != nullptr;) {
    RightsEntry* next = entry->next;
    DrvFree(entry);
    entry = next;
  }
  session->accessibleTables = nullptr;
}

uint32_t EngineTransactionOpen(EngineSession* session, bool* open) {
  *open = false;
  auto inTransaction = Engine<decltype(&KivInTransaction)>(kOrdinalInTransaction);
  if (inTransaction == nullptr) return kIsamError;
  uint16_t value = 0;
  if (uint32_t code = inTransaction(session->engineConnection, &value)) {
    session->lastError = code;
    return code;
  }
  *open = value != 0;
  return 0;
}

namespace {

uint32_t EndEngineTransaction(EngineSession* session, uint16_t ordinal) {
  bool open = false;
  if (uint32_t code = EngineTransactionOpen(session, &open)) return code;
  if (!open) return 0;
  auto end = Engine<decltype(&KivCommitTransaction)>(ordinal);
  if (end == nullptr) return kIsamError;
  if (uint32_t code = end(session->engineConnection)) {
    session->lastError = code;
    return code;
  }
  return 0;
}

}  // namespace

uint32_t CommitEngineTransaction(EngineSession* session) {
  return EndEngineTransaction(session, kOrdinalCommitTransaction);
}

uint32_t RollbackEngineTransaction(EngineSession* session) {
  return EndEngineTransaction(session, kOrdinalRollbackTransaction);
}

uint32_t CheckIsolationLevel(const EngineSession* session, int32_t level) {
  return (level & session->isolationMask) != 0 ? 0 : kNotCapableIsolation;
}

}  // namespace kivodbc
