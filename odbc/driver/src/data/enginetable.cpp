#include "data/enginetable.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

#include "connect/connstring.h"
#include "handles/messages.h"
#include "util/engine.h"
#include "qel32.h"

namespace kivodbc {
namespace {

constexpr uint32_t kIsamError = 2004;
constexpr uint32_t kIsamPathTooLong = 2009;
constexpr uint32_t kIsamColumnNameTooLong = 2012;
constexpr uint32_t kIsamNoDirectoryLeft = 2015;
constexpr size_t kMaxPath = 256;
constexpr int32_t kLongVarcharSize = 2147483640;
constexpr int32_t kLongBinarySize = 2147483647;
constexpr uint32_t kOwnTables = 3;

constexpr uint16_t kOrdinalCloseCursor = 16;
constexpr uint16_t kOrdinalCloseTable = 19;
constexpr uint16_t kOrdinalFieldDecimals = 59;
constexpr uint16_t kOrdinalFieldLength = 60;
constexpr uint16_t kOrdinalFieldName = 61;
constexpr uint16_t kOrdinalFieldType = 64;
constexpr uint16_t kOrdinalIndexName = 71;
constexpr uint16_t kOrdinalFieldCount = 78;
constexpr uint16_t kOrdinalTableEncrypted = 118;
constexpr uint16_t kOrdinalOpenTable = 124;
constexpr uint16_t kOrdinalTablePassword = 148;
constexpr uint16_t kOrdinalColumnAttribute = 165;
constexpr uint16_t kOrdinalIndexFlags = 178;
constexpr uint16_t kOrdinalSetLastError = 194;
constexpr uint16_t kOrdinalIndexByOrder = 204;
constexpr uint16_t kOrdinalCacheRecords = 242;
constexpr uint16_t kOrdinalDatabaseProperty = 311;
constexpr uint16_t kOrdinalTableProperty = 316;
constexpr uint16_t kOrdinalIndexKeyFields = 349;
constexpr uint16_t kOrdinalKeyDescending = 259;
constexpr uint16_t kOrdinalFieldMaxLength = 425;

// Sets the engine's last error to `code` with `text` and returns the code.
uint32_t ReportEngineError(uint32_t code, const std::string& text) {
  if (auto setLastError = Engine<decltype(&KivSetLastError)>(kOrdinalSetLastError)) setLastError(code, text.c_str());
  return code;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsAbsolute(const std::string& name) {
  return (!name.empty() && IsSeparator(name[0])) ||
         (name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':');
}

bool HasExtension(const std::string& name) {
  const size_t slash = name.find_last_of("/\\:");
  const size_t dot = name.find_last_of('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

uint32_t LockOptions(int lockMode, bool exclusive, uint32_t* options) {
  static constexpr uint32_t kOptions[] = {0x8020000, 0x8020010, 0x8020030, 0x8020050, 0x8020090, 0x20000};
  if (lockMode < 0 || lockMode > 5) return KIV_ERR_BAD_LOCK_MODE;
  *options = kOptions[lockMode] + (exclusive ? 4u : 1u);
  return 0;
}

// Reads the fields and indexes of an open table into its description.
uint32_t DescribeTable(EngineSession* session, EngineTable* table) {
  auto fieldCount = Engine<decltype(&KivGetNumFields)>(kOrdinalFieldCount);
  auto fieldName = Engine<decltype(&KivGetFieldName)>(kOrdinalFieldName);
  auto fieldType = Engine<decltype(&KivGetFieldType)>(kOrdinalFieldType);
  auto fieldLength = Engine<decltype(&KivGetFieldLength)>(kOrdinalFieldLength);
  auto fieldMaxLength = Engine<decltype(&KivGetFieldMaxLength)>(kOrdinalFieldMaxLength);
  auto fieldDecimals = Engine<decltype(&KivGetFieldDecimals)>(kOrdinalFieldDecimals);
  auto columnAttribute = Engine<decltype(&KivGetColumnPermissions)>(kOrdinalColumnAttribute);
  auto indexByOrder = Engine<decltype(&KivGetIndexHandleByOrder)>(kOrdinalIndexByOrder);
  auto indexFlags = Engine<decltype(&KivGetIndexFlags)>(kOrdinalIndexFlags);
  auto indexKeyFields = Engine<decltype(&KivGetIndexKeyFields)>(kOrdinalIndexKeyFields);
  auto indexName = Engine<decltype(&KivGetIndexName)>(kOrdinalIndexName);
  if (!fieldCount || !fieldName || !fieldType || !fieldLength || !fieldMaxLength || !fieldDecimals || !columnAttribute ||
      !indexByOrder || !indexFlags || !indexKeyFields || !indexName)
    return kIsamError;
  const bool ownTables = session->tableType == kOwnTables;
  uint32_t count = 0;
  if (uint32_t code = fieldCount(table->handle, &count)) return code;
  table->columns.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    EngineColumn& column = table->columns[i];
    char name[130] = {};
    uint32_t length = sizeof name;
    uint32_t code = fieldName(table->handle, i + 1, name, &length);
    if (code == KIV_ERR_BUFFER_TOO_SMALL) {
      std::string longName(length + 1, '\0');
      uint32_t longLength = length + 1;
      if (fieldName(table->handle, i + 1, longName.data(), &longLength) != 0) return kIsamColumnNameTooLong;
      column.name = longName.c_str();
    } else if (code != 0) {
      return code;
    } else {
      column.name = std::string(name, std::min<size_t>(length, sizeof name - 1));
    }
    uint16_t type = 0;
    uint32_t fieldBytes = 0;
    uint32_t longest = 0;
    uint16_t decimals = 0;
    uint8_t permissions = 0;
    if ((code = fieldType(table->handle, KIV_FIELD(i + 1), &type)) ||
        (code = fieldLength(table->handle, KIV_FIELD(i + 1), &fieldBytes)) ||
        (code = fieldMaxLength(table->handle, KIV_FIELD(i + 1), &longest)) ||
        (code = fieldDecimals(table->handle, KIV_FIELD(i + 1), &decimals)) ||
        (code = columnAttribute(table->handle, KIV_FIELD(i + 1), &permissions)))
      return code;
    if ((code = DescribeEngineField(type, longest, decimals, ownTables, false, &column))) return code;
    column.fieldLength = fieldBytes;
    column.permissions = permissions;
  }

  std::string primaryKey;
  if (session->dictionary) {
    auto tableProperty = Engine<decltype(&KivDDGetTableProperty)>(kOrdinalTableProperty);
    char value[256] = {};
    uint32_t length = sizeof value - 1;
    if (tableProperty != nullptr &&
        tableProperty(session->engineConnection, table->name.c_str(), KIV_DD_PROP_PRIMARY_KEY, value, &length) == 0)
      primaryKey = value;
  }
  for (uint16_t order = 1;; ++order) {
    KIVHANDLE index = 0;
    if (indexByOrder(table->handle, order, &index) != 0) break;
    EngineIndex entry;
    uint32_t code = indexFlags(index, &entry.flags);
    uint16_t fields[16] = {};
    uint16_t fieldCountOut = 15;
    if (code == 0) code = indexKeyFields(index, fields, &fieldCountOut);
    char name[256] = {};
    uint32_t nameLength = sizeof name - 1;
    if (code == 0) code = indexName(index, name, &nameLength);
    if (code != 0) return code;
    entry.name = name;
    if ((entry.flags & KIV_INDEXFLAG_DESCENDING) != 0) continue;
    const bool unique = (entry.flags & KIV_INDEXFLAG_UNIQUE) != 0;
    if (unique && !ownTables) continue;
    for (uint16_t k = 0; k < std::min<uint16_t>(fieldCountOut, 15); ++k)
      if (fields[k] >= 1 && fields[k] <= table->columns.size()) entry.fields.push_back(fields[k]);
    if (entry.fields.empty()) continue;
    auto keyDescending = Engine<decltype(&KivIsKeyColumnDescending)>(kOrdinalKeyDescending);
    for (size_t k = 0; k < entry.fields.size(); ++k) {
      uint16_t descending = 0;
      if (keyDescending != nullptr) keyDescending(index, static_cast<uint16_t>(k + 1), &descending);
      entry.descending.push_back(descending != 0 ? 1 : 0);
    }
    EngineColumn& first = table->columns[entry.fields[0] - 1];
    if (unique && entry.fields.size() == 1) first.indexFlag = kFirstOfUniqueKey;
    else if (first.indexFlag == kNotIndexed) first.indexFlag = kKeyField;
    if (!primaryKey.empty() && EqualsIgnoreCase(primaryKey.c_str(), entry.name.c_str()))
      for (uint16_t field : entry.fields) table->columns[field - 1].primaryKey = true;
    table->indexes.push_back(std::move(entry));
  }
  for (EngineColumn& column : table->columns) {
    if (column.indexFlag == kFirstOfUniqueKey) {
      column.weight = 100;
    } else if (column.indexFlag == kNotIndexed && column.weight != 0 && column.weight != 100) {
      column.weight = static_cast<int16_t>(std::max(1, column.weight / 2));
    }
  }
  return 0;
}

uint32_t CloseHandle(uint32_t handle, uint16_t ordinal) {
  auto close = Engine<decltype(&KivCloseTable)>(ordinal);
  return close != nullptr ? close(handle) : kIsamError;
}

}  // namespace

std::string PseudoTableName(uintptr_t id) {
  char text[2 * sizeof(uintptr_t) + 1];
  std::snprintf(text, sizeof text, "%" PRIxPTR, id);
  return text;
}

bool NamesDriverResult(const char* name, const DriverResult& result) {
  if (name == nullptr || result.columns == nullptr) return false;
  const size_t length = std::strlen(name);
  if (length == 0 || length > 2 * sizeof(uintptr_t)) return false;
  uintptr_t id = 0;
  for (size_t i = 0; i < length; ++i) {
    const char c = name[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    id = (id << 4) | static_cast<uintptr_t>(digit);
  }
  return id == result.id;
}

uint32_t DescribeEngineField(uint16_t engineType, uint32_t length, uint16_t decimals, bool ownTables,
                             bool procedureList, EngineColumn* column) {
  auto set = [column](int16_t sqlType, int32_t size, int16_t digits, int weight) {
    column->sqlType = sqlType;
    column->columnSize = size;
    column->digits = digits;
    column->weight = static_cast<int16_t>(std::clamp(weight, 0, 100));
    column->nullable = 1;
  };
  const int len = static_cast<int>(std::min<uint32_t>(length, 0x7FFFFFF));
  switch (engineType) {
    case KIV_FT_LOGICAL: set(SQL_BIT, 1, 0, 5); break;
    case KIV_FT_NUMERIC: {
      int size = len;
      if (decimals > 0) size -= ownTables ? 2 : 1;
      size = std::max(size, 1);
      int weight = std::min(8 * len - 16, 99);
      if (size <= 7) weight = std::min(weight, 30);
      else if (size <= 14) weight = std::min(weight, 60);
      else if (size <= 20) weight = std::min(weight, 90);
      set(SQL_NUMERIC, size, static_cast<int16_t>(decimals), weight);
      break;
    }
    case KIV_FT_DATE: case KIV_FT_COMPACTDATE: set(SQL_DATE, 10, 0, 30); break;
    case KIV_FT_CHARACTER: case KIV_FT_CICHARACTER: set(SQL_CHAR, len, 0, std::min(6 * len, 99)); break;
    case KIV_FT_MEMO: set(SQL_LONGVARCHAR, kLongVarcharSize, 0, 0); break;
    case KIV_FT_BINARY: case KIV_FT_IMAGE: case KIV_FT_GENERAL: case KIV_FT_PICTURE:
      set(SQL_LONGVARBINARY, kLongBinarySize, 0, 0);
      break;
    case KIV_FT_VARCHAR: set(SQL_VARCHAR, procedureList ? 64000 : len, 0, std::min(6 * len - 36, 99)); break;
    case KIV_FT_DOUBLE: case KIV_FT_CURDOUBLE: set(SQL_DOUBLE, 15, 0, 90); break;
    case KIV_FT_INTEGER: set(SQL_INTEGER, 10, 0, 60); column->nullable = ownTables ? 1 : 0; break;
    case KIV_FT_SHORTINT: set(SQL_SMALLINT, 5, 0, 30); column->nullable = ownTables ? 1 : 0; break;
    case KIV_FT_TIME: set(SQL_TIME, 8, 0, 50); column->nullable = ownTables ? 1 : 0; break;
    case KIV_FT_TIMESTAMP: case KIV_FT_MODTIME: set(SQL_TIMESTAMP, 23, 0, 80); break;
    case KIV_FT_AUTOINC: set(SQL_INTEGER, 10, 0, 100); column->nullable = 0; break;
    case KIV_FT_RAW: set(SQL_BINARY, len, 0, 0); break;
    case KIV_FT_MONEY: set(SQL_NUMERIC, 19, 4, 80); break;
    case KIV_FT_ROWVERSION: set(SQL_NUMERIC, 19, 0, 100); break;
    default: return kIsamError;
  }
  column->engineType = engineType;
  column->fieldLength = length;
  return 0;
}

uint32_t FreeTablePath(const std::string& directory, const std::string& name, const char* extension,
                       std::string* path) {
  std::string rest = name;
  std::replace(rest.begin(), rest.end(), '\\', '/');
  std::string base = directory;
  std::replace(base.begin(), base.end(), '\\', '/');
  if (IsAbsolute(name)) {
    base.clear();
  } else {
    while (rest.compare(0, 2, "..") == 0 && (rest.size() == 2 || rest[2] == '/')) {
      while (base.size() > 1 && base.back() == '/') base.pop_back();
      const size_t slash = base.find_last_of('/');
      if (base.empty() || base == "/" || slash == std::string::npos) return kIsamNoDirectoryLeft;
      base.erase(slash == 0 ? 1 : slash);
      rest.erase(0, rest.size() > 2 ? 3 : 2);
    }
    if (rest.empty()) return kIsamNoDirectoryLeft;
    if (!base.empty() && base.back() != '/') base += '/';
  }
  std::string full = base + rest;
  if (!HasExtension(rest) && extension != nullptr) full += extension;
  if (full.size() >= kMaxPath) return kIsamPathTooLong;
  *path = std::move(full);
  return 0;
}

uint32_t OpenEngineTable(EngineSession* session, const char* qualifierText, const char* nameText, int lockMode,
                         bool exclusive, const DriverResult* result, EngineTable** out) {
  *out = nullptr;
  std::string qualifier = qualifierText != nullptr ? qualifierText : "";
  const std::string name = nameText != nullptr ? nameText : "";
  if (!qualifier.empty() && EqualsIgnoreCase(qualifier.c_str(), session->connectPath)) qualifier.clear();

  if (result != nullptr && NamesDriverResult(name.c_str(), *result)) {
    auto* table = new (std::nothrow) EngineTable;
    if (table == nullptr) return kIsamError;
    table->resultCursor = true;
    table->session = session;
    table->tableType = static_cast<uint16_t>(session->tableType);
    table->trim = session->trimTrailingSpaces != 0;
    table->name = name;
    table->columns = *result->columns;
    *out = table;
    return 0;
  }

  if (session->readOnly) lockMode = kLockRead;
  uint32_t options = 0;
  if (LockOptions(lockMode, exclusive, &options) != 0)
    return ReportEngineError(KIV_ERR_BAD_LOCK_MODE, "Invalid lock mode " + std::to_string(lockMode));
  if (name.size() > 255) return kIsamPathTooLong;

  std::string engineName;
  uint16_t tableType = session->tableType;
  const bool temporary = !name.empty() && name[0] == '#';
  if (session->dictionary || temporary) {
    if (!qualifier.empty()) {
      if (!session->dictionary)
        return ReportEngineError(KIV_ERR_NO_RELATIVE_POS,
                                 qualifier + " - link object is not supported on free connection.");
      engineName = ":" + qualifier + "::" + name;
      if (engineName.size() > kMaxPath) return kIsamPathTooLong;
    } else {
      engineName = name;
    }
    if (!temporary) tableType = 0;
  } else {
    if (!qualifier.empty())
      return ReportEngineError(KIV_ERR_NO_RELATIVE_POS,
                               qualifier + " - link object is not supported on free connection.");
    if (uint32_t code = FreeTablePath(session->connectPath, name, session->tableExtension, &engineName)) return code;
  }

  auto open = Engine<decltype(&KivOpenTable)>(kOrdinalOpenTable);
  auto encrypted = Engine<decltype(&KivIsTableEncrypted)>(kOrdinalTableEncrypted);
  auto cacheRecords = Engine<decltype(&KivCacheRecords)>(kOrdinalCacheRecords);
  if (open == nullptr || encrypted == nullptr || cacheRecords == nullptr) return kIsamError;
  auto openNamed = [&](const std::string& what, KIVHANDLE* handle) {
    return open(session->engineConnection, what.c_str(), nullptr, tableType, static_cast<uint16_t>(session->charSet),
                static_cast<uint16_t>(session->lockingMode), static_cast<uint16_t>(session->rightsCheck), options,
                handle);
  };
  KIVHANDLE handle = 0;
  uint32_t code = openNamed(engineName, &handle);
  bool filePath = !session->dictionary && !temporary;
  if (code == KIV_ERR_DD_UNKNOWN_NAME && session->dictionary && !temporary && qualifier.empty() &&
      !IsAbsolute(name)) {
    auto databaseProperty = Engine<decltype(&KivDDGetDatabaseProperty)>(kOrdinalDatabaseProperty);
    char dataPath[kMaxPath + 1] = {};
    uint32_t length = kMaxPath;
    if (databaseProperty == nullptr ||
        databaseProperty(session->engineConnection, KIV_DD_PROP_DATA_PATH, dataPath, &length) != 0)
      return code;
    std::string path;
    const bool dotted = name.find('.') != std::string::npos;
    if (uint32_t pathCode = FreeTablePath(dataPath, name, dotted ? nullptr : session->tableExtension, &path))
      return pathCode;
    tableType = session->tableType;
    code = openNamed(path, &handle);
    filePath = true;
  }
  if (code != 0) return code;

  if (filePath && SessionTablePassword(session, name) != nullptr) {
    if ((code = ApplySessionPassword(session, name, handle)) != 0) {
      CloseHandle(handle, kOrdinalCloseTable);
      return code;
    }
  } else if (filePath) {
    uint16_t isEncrypted = 0;
    if ((code = encrypted(handle, &isEncrypted)) == 0 && isEncrypted != 0)
      code = ReportEngineError(KIV_ERR_PASSWORD_REQUIRED, "Password is required to open encrypted table!");
    if (code != 0) {
      CloseHandle(handle, kOrdinalCloseTable);
      return code;
    }
  }
  if ((code = cacheRecords(handle, lockMode == kLockRead ? 10 : 0)) != 0) {
    CloseHandle(handle, kOrdinalCloseTable);
    return code;
  }

  auto* table = new (std::nothrow) EngineTable;
  if (table == nullptr) {
    CloseHandle(handle, kOrdinalCloseTable);
    return kIsamError;
  }
  table->handle = handle;
  table->session = session;
  table->tableType = tableType != 0 ? tableType : static_cast<uint16_t>(session->tableType);
  table->trim = session->trimTrailingSpaces != 0;
  table->name = name;
  if ((code = DescribeTable(session, table)) != 0) {
    CloseHandle(handle, kOrdinalCloseTable);
    delete table;
    return code;
  }
  *out = table;
  return 0;
}

uint32_t CloseEngineTable(EngineSession* session, EngineTable* table, bool freeOnly) {
  if (table == nullptr) return 0;
  uint32_t code = 0;
  if (!freeOnly && !table->resultCursor && table->handle != 0) code = CloseHandle(table->handle, kOrdinalCloseCursor);
  delete table;
  if (code != 0 && session != nullptr) session->lastError = code;
  return code;
}

uint32_t AddTablePassword(EngineSession* session, const char* table, const char* password) {
  auto* entry = static_cast<TablePassword*>(DrvAlloc(sizeof(TablePassword)));
  if (entry == nullptr) return kMemoryError;
  std::snprintf(entry->table, sizeof entry->table, "%s", table);
  std::snprintf(entry->password, sizeof entry->password, "%s", password);
  entry->next = static_cast<TablePassword*>(session->tablePasswords);
  session->tablePasswords = entry;
  return 0;
}

namespace {

// A table's name as passwords are kept for it: no folder, no extension, upper case.
std::string PasswordKey(const std::string& table) {
  const size_t folder = table.find_last_of("/\\:");
  std::string key = folder == std::string::npos ? table : table.substr(folder + 1);
  const size_t dot = key.rfind('.');
  if (dot != std::string::npos) key.resize(dot);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

}  // namespace

const char* SessionTablePassword(const EngineSession* session, const std::string& table) {
  const std::string key = PasswordKey(table);
  for (auto* entry = static_cast<const TablePassword*>(session->tablePasswords); entry != nullptr; entry = entry->next)
    if (PasswordKey(entry->table) == key) return entry->password;
  return nullptr;
}

void RemoveTablePassword(EngineSession* session, const std::string& table) {
  const std::string key = PasswordKey(table);
  auto** link = reinterpret_cast<TablePassword**>(&session->tablePasswords);
  while (*link != nullptr) {
    TablePassword* entry = *link;
    if (PasswordKey(entry->table) == key) {
      *link = entry->next;
      DrvFree(entry);
    } else {
      link = &entry->next;
    }
  }
}

uint32_t ApplySessionPassword(EngineSession* session, const std::string& name, uint32_t table) {
  const char* password = SessionTablePassword(session, name);
  if (password == nullptr) return 0;
  auto enable = Engine<decltype(&KivEnableEncryption)>(kOrdinalTablePassword);
  return enable != nullptr ? enable(table, password) : kIsamError;
}

}  // namespace kivodbc
