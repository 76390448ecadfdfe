#include "sql/statement.h"

#include <algorithm>
#include <cstdint>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <type_traits>
#include <unordered_set>

#include "util/engine.h"
#include "kivwin/win.h"
#include "handles/messages.h"
#include "sql/parser.h"
#include "sql/parsetree.h"
#include "qel32.h"
#include "sql/semantic.h"
#include "data/tablerecord.h"
#include "data/valuetext.h"

namespace kivodbc {
namespace {

constexpr uint16_t kOrdinalCloseCursor = 19;
constexpr uint16_t kOrdinalPrepare = 267;
constexpr uint16_t kOrdinalSetCharSet = 269;
constexpr uint16_t kOrdinalSetLocking = 270;
constexpr uint16_t kOrdinalSetReadOnly = 271;
constexpr uint16_t kOrdinalSetRights = 272;
constexpr uint16_t kOrdinalSetTableType = 273;
constexpr uint16_t kOrdinalResetStatement = 274;
constexpr uint16_t kOrdinalCreateStatement = 263;
constexpr uint16_t kOrdinalSetPassword = 293;
constexpr uint16_t kOrdinalClearPasswords = 294;
constexpr uint16_t kOrdinalPrepareDescribe = 305;
constexpr uint16_t kOrdinalCheckText = 408;
constexpr uint16_t kOrdinalClearLastError = 186;

constexpr uint32_t kEngineUnbound = 2004;
constexpr uint32_t kNoResultColumns = KIV_ERR_EMPTY_ARGUMENT;   // 5004
constexpr uint32_t kEmptyStatementCache = 5021;
constexpr int32_t kParameterTextSize = 1025;
constexpr int32_t kParameterBinarySize = 1028;
constexpr char kSelectPrefix[] = "SELECT * FROM \"";

uint32_t Keep(EngineSession* session, uint32_t code) {
  if (session != nullptr) session->lastError = code;
  return code;
}

bool IsLayout(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsWordSeparator(char c) { return c == '\b' || IsLayout(c); }

bool StartsWithNoCase(const char* word, size_t length, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (length < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(word[i])) != prefix[i]) return false;
  return true;
}

// Finds the closer of the quote opened at `open`; a doubled quote inside
// stays inside. npos when there is none.
size_t CloserOf(const char* text, size_t length, size_t open) {
  const char closer = text[open] == '[' ? ']' : text[open];
  for (size_t i = open + 1; i < length; ++i) {
    if (text[i] != closer) continue;
    if (closer != ']' && i + 1 < length && text[i + 1] == closer) {
      ++i;
      continue;
    }
    return i;
  }
  return std::string::npos;
}

void DescribeFromBuffer(EngineSession* session, EngineRequest* request) {
  request->columns->clear();
  const auto* entries = static_cast<const KivColumnDescription*>(request->describe);
  const size_t fits = kDescribeBufferSize / sizeof(KivColumnDescription);
  const size_t count = std::min<size_t>(request->describeCount, fits);
  for (size_t i = 0; i < count; ++i) {
    EngineColumn column;
    const KivColumnDescription& entry = entries[i];
    column.name.assign(entry.name, strnlen(entry.name, sizeof entry.name));
    if (DescribeEngineField(entry.type, entry.length, entry.decimals, session->tableType == 3, false, &column) != 0) {
      column.engineType = entry.type;
      column.sqlType = SQL_CHAR;
      column.columnSize = static_cast<int32_t>(entry.length);
    }
    request->columns->push_back(std::move(column));
  }
}

void FreeDescribe(EngineRequest* request) {
  DrvFree(request->describe);
  request->describe = nullptr;
  request->describeCount = 0;
  if (request->columns != nullptr) request->columns->clear();
}

uint32_t ApplyTablePasswords(EngineSession* session, EngineRequest* request) {
  auto setPassword = Engine<decltype(&KivSetStatementPassword)>(kOrdinalSetPassword);
  if (setPassword == nullptr) return kEngineUnbound;
  for (auto* entry = static_cast<TablePassword*>(session->tablePasswords); entry != nullptr; entry = entry->next)
    if (uint32_t code = setPassword(request->statement, entry->table, entry->password)) return code;
  request->passwordsApplied = 1;
  return 0;
}

}  // namespace

// The cursor names a connection's statements hold, upper-cased, and the
// generated numbers below the next one whose names are free: a name is
// given in about constant time however many statements are open.
struct CursorNames {
  std::unordered_set<std::string> inUse;
  std::set<long> freeNumbers;
  long next = 0;
};

namespace {

constexpr char kGeneratedPrefix[] = "SQL_CUR_";

std::string GeneratedName(long number) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%05ld", kGeneratedPrefix, number);
  return name;
}

// The number of a generated name (upper-cased), else -1.
long GeneratedNumber(const std::string& key) {
  constexpr size_t prefix = sizeof kGeneratedPrefix - 1;
  if (key.size() < prefix + 5 || key.size() > prefix + 9 || key.compare(0, prefix, kGeneratedPrefix) != 0) return -1;
  long number = 0;
  for (size_t i = prefix; i < key.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(key[i]))) return -1;
    number = number * 10 + (key[i] - '0');
  }
  return GeneratedName(number) == key ? number : -1;
}

CursorNames& NamesOf(ConnRecord* conn) {
  if (conn->cursorNames == nullptr) conn->cursorNames = new CursorNames;
  return *conn->cursorNames;
}

// The statement's name is free when no other statement of the connection
// holds it (letter case aside).
bool CursorNameFree(const StmtRecord* stmt, const std::string& key) {
  if (stmt->cursorName[0] != 0 && kivwin::AnsiUpperCase(stmt->cursorName) == key) return true;
  return NamesOf(stmt->conn).inUse.count(key) == 0;
}

uint32_t StoreCursorName(StmtRecord* stmt, std::string_view name) {
  if (name.empty() || name.size() > kMaxCursorNameLength) return kInvalidCursorName;
  const std::string key = kivwin::AnsiUpperCase(name);
  if (!CursorNameFree(stmt, key)) return kCursorNameInUse;
  ReleaseCursorName(stmt);
  CursorNames& names = NamesOf(stmt->conn);
  names.inUse.insert(key);
  const long number = GeneratedNumber(key);
  if (number >= 0 && number < names.next) names.freeNumbers.erase(number);
  std::memcpy(stmt->cursorName, name.data(), name.size());
  stmt->cursorName[name.size()] = 0;
  return 0;
}

// The lowest generated name no statement holds.
void GenerateCursorName(StmtRecord* stmt) {
  CursorNames& names = NamesOf(stmt->conn);
  long number;
  if (!names.freeNumbers.empty()) {
    number = *names.freeNumbers.begin();
  } else {
    while (names.inUse.count(GeneratedName(names.next)) != 0) ++names.next;
    number = names.next++;
  }
  StoreCursorName(stmt, GeneratedName(number));
}

void ResetExecutionState(StmtRecord* stmt) {
  stmt->prepared = 0;
  stmt->cursor.needData = 0;
  stmt->putOffset = -1;
  stmt->dataItem = nullptr;
  stmt->rowCount = -1;
  if (stmt->builtIn[kIrd].rowsProcessedPtr != nullptr) *stmt->builtIn[kIrd].rowsProcessedPtr = static_cast<SQLULEN>(-1);
  stmt->currentRow = 0;
  stmt->rowPtr = nullptr;
  stmt->fetchState = -1;
}

uint32_t AssignParameterBuffers(ParseRoot* root, int32_t markers) {
  for (ParseNode* node = root->parameters; node != nullptr; node = node->next) {
    int32_t size = 0;
    switch (node->category) {
      case kCategoryText: size = kParameterTextSize; break;
      case kCategoryDecimal: size = node->resolvedPrecision + 3; break;
      case kCategoryBinary: size = kParameterBinarySize; break;
      case kCategoryInteger: case kCategoryFloating: case kCategoryDate: case kCategoryTime:
      case kCategoryTimestamp:
        continue;
      case 0: return markers != 0 ? kInternalError : kParameterTypeUnknown;
      default: return kNotSupported;
    }
    node->buffer = static_cast<char*>(ParseArenaAlloc(root, size));
    if (node->buffer == nullptr) return kMemoryError;
  }
  return 0;
}

// Appends one parameter node per marker, described as text unless the
// application has bound the parameter as binary or double.
uint32_t AppendParameterNodes(StmtRecord* stmt, int32_t markers, const DriverResult* result) {
  ParseRoot* root = stmt->parseTree;
  ParseNode* last = nullptr;
  for (int32_t i = 1; i <= markers; ++i) {
    ParseNode* node = NewParseNode(root, kNodeParameter);
    if (node == nullptr) return kMemoryError;
    node->ordinal = i;
    if (last == nullptr) root->parameters = node;
    else last->next = node;
    last = node;
    root->parameterCount = markers;
    if (uint32_t code = CheckParsedStatement(stmt, root, node, false, result)) return code;
    node->sqlType = SQL_VARCHAR;
    node->category = kCategoryText;
    node->precision = node->resolvedPrecision = 1024;
    node->scale = node->resolvedScale = -1;
    for (const DescItem* item = stmt->apd->firstItem; item != nullptr; item = item->next) {
      if (item->number != i) continue;
      if (item->cType == SQL_C_BINARY) {
        node->sqlType = SQL_BINARY;
        node->category = kCategoryBinary;
      } else if (item->cType == SQL_C_DOUBLE) {
        node->sqlType = SQL_DOUBLE;
        node->category = kCategoryFloating;
      }
    }
  }
  return AssignParameterBuffers(root, markers);
}

}  // namespace

uint32_t AcquireEngineStatement(EngineSession* session, uint32_t* handle) {
  *handle = 0;
  for (auto* entry = static_cast<EngineStatementEntry*>(session->sqlStatements); entry != nullptr;
       entry = entry->next) {
    if (entry->inUse) continue;
    entry->inUse = 1;
    *handle = entry->handle;
    return 0;
  }
  auto create = Engine<decltype(&KivCreateSQLStatement)>(kOrdinalCreateStatement);
  if (create == nullptr) return kEngineUnbound;
  uint32_t statement = 0;
  if (uint32_t code = create(session->engineConnection, &statement)) return code;
  auto* entry = static_cast<EngineStatementEntry*>(DrvAlloc(sizeof(EngineStatementEntry)));
  if (entry == nullptr) {
    if (auto close = Engine<decltype(&KivCloseSQLStatement)>(kOrdinalCloseSQLStatement)) close(statement);
    return KIV_ERR_OUT_OF_MEMORY;
  }
  entry->handle = statement;
  entry->inUse = 1;
  entry->next = static_cast<EngineStatementEntry*>(session->sqlStatements);
  session->sqlStatements = entry;
  *handle = statement;
  return 0;
}

uint32_t ReturnEngineStatement(EngineSession* session, EngineRequest* request) {
  auto** link = reinterpret_cast<EngineStatementEntry**>(&session->sqlStatements);
  if (*link == nullptr) return kEmptyStatementCache;
  while (*link != nullptr && (*link)->handle != request->statement) link = &(*link)->next;
  uint32_t first = 0;
  auto note = [&first](uint32_t code) {
    if (first == 0) first = code;
  };
  if (request->cursor != 0) {
    auto close = Engine<decltype(&KivCloseTable)>(kOrdinalCloseCursor);
    note(close != nullptr ? close(request->cursor) : kEngineUnbound);
    request->cursor = 0;
  }
  if (request->statement == 0) return first;
  auto reset = Engine<decltype(&KivResetSQLStatement)>(kOrdinalResetStatement);
  auto clear = Engine<decltype(&KivClearStatementPasswords)>(kOrdinalClearPasswords);
  const uint32_t resetCode = reset != nullptr ? reset(request->statement) : kEngineUnbound;
  const uint32_t clearCode = resetCode != 0 ? 0 : (clear != nullptr ? clear(request->statement) : kEngineUnbound);
  note(resetCode);
  note(clearCode);
  EngineStatementEntry* entry = *link;
  if (resetCode != 0 || clearCode != 0) {
    // A statement that could not be cleaned is never handed out again.
    if (auto closeStatement = Engine<decltype(&KivCloseSQLStatement)>(kOrdinalCloseSQLStatement))
      closeStatement(request->statement);
    if (entry != nullptr) {
      *link = entry->next;
      DrvFree(entry);
    }
  } else if (entry != nullptr) {
    entry->inUse = 0;
  }
  request->statement = 0;
  return first;
}

uint32_t CloseIdleEngineStatements(EngineSession* session) {
  auto close = Engine<decltype(&KivCloseSQLStatement)>(kOrdinalCloseSQLStatement);
  uint32_t last = 0;
  auto** link = reinterpret_cast<EngineStatementEntry**>(&session->sqlStatements);
  while (*link != nullptr) {
    EngineStatementEntry* entry = *link;
    if (entry->inUse) {
      link = &entry->next;
      continue;
    }
    last = close != nullptr ? close(entry->handle) : kEngineUnbound;
    *link = entry->next;
    DrvFree(entry);
  }
  return last;
}

void FreeSessionStatements(EngineSession* session) {
  auto close = Engine<decltype(&KivCloseSQLStatement)>(kOrdinalCloseSQLStatement);
  for (auto* entry = static_cast<EngineStatementEntry*>(session->sqlStatements); entry != nullptr;) {
    auto* next = entry->next;
    if (close != nullptr) close(entry->handle);
    DrvFree(entry);
    entry = next;
  }
  session->sqlStatements = nullptr;
  for (auto* entry = static_cast<TablePassword*>(session->tablePasswords); entry != nullptr;) {
    auto* next = entry->next;
    DrvFree(entry);
    entry = next;
  }
  session->tablePasswords = nullptr;
}

uint32_t NewEngineRequest(EngineSession* session, EngineRequest** out) {
  *out = nullptr;
  session->lastError = 0;
  auto* request = static_cast<EngineRequest*>(DrvAlloc(sizeof(EngineRequest)));
  if (request == nullptr) return Keep(session, kIsamMemoryError);
  request->columns = new (std::nothrow) std::vector<EngineColumn>;
  if (request->columns == nullptr) {
    DrvFree(request);
    return Keep(session, kIsamMemoryError);
  }
  uint32_t code = AcquireEngineStatement(session, &request->statement);
  const uint32_t s = request->statement;
  auto option = [&code](uint16_t ordinal, uint16_t value, uint32_t statement) {
    if (code != 0) return;
    auto set = Engine<decltype(&KivStmtSetTableType)>(ordinal);
    code = set != nullptr ? set(statement, value) : kEngineUnbound;
  };
  option(kOrdinalSetCharSet, static_cast<uint16_t>(session->charSet), s);
  option(kOrdinalSetLocking, static_cast<uint16_t>(session->lockingMode), s);
  option(kOrdinalSetRights, static_cast<uint16_t>(session->rightsCheck), s);
  option(kOrdinalSetTableType, static_cast<uint16_t>(session->tableType), s);
  if (session->readOnly) option(kOrdinalSetReadOnly, 1, s);
  if (code != 0) {
    EngineRequest* failed = request;
    ReleaseEngineStatement(&failed, session);
    return Keep(session, code);
  }
  *out = request;
  return 0;
}

uint32_t ReleaseEngineStatement(EngineRequest** requestRef, EngineSession* session) {
  EngineRequest* request = *requestRef;
  if (request == nullptr) return 0;
  *requestRef = nullptr;
  FreeDescribe(request);
  DrvFree(request->text);
  uint32_t code = 0;
  if (session != nullptr && request->statement != 0) code = ReturnEngineStatement(session, request);
  delete request->columns;
  DrvFree(request);
  if (code != 0 && session != nullptr) session->lastError = code;
  return code;
}

int16_t ClassifyStatementText(const char* text) {
  if (text == nullptr) return 0;
  auto word = [&text](size_t* length) {
    while (IsWordSeparator(*text)) ++text;
    const char* start = text;
    while (*text != 0 && !IsWordSeparator(*text)) ++text;
    *length = static_cast<size_t>(text - start);
    return start;
  };
  size_t n = 0;
  const char* first = word(&n);
  if (n == 0) return 0;
  struct Entry {
    const char* word;
    int16_t code;
  };
  static constexpr Entry kPlain[] = {{"select", 85}, {"insert", 50}, {"delete", 19},
                                     {"update", 82}, {"alter", 4},   {"execute", 7}};
  for (const Entry& e : kPlain)
    if (StartsWithNoCase(first, n, e.word)) return e.code;
  static constexpr Entry kCreate[] = {{"table", 77}, {"index", -1}, {"unique", -1}, {"procedure", 7}, {"view", 84}};
  static constexpr Entry kDrop[] = {{"table", 32}, {"index", -2}, {"view", 36}, {"procedure", 7}};
  const bool create = StartsWithNoCase(first, n, "create");
  if (!create && !StartsWithNoCase(first, n, "drop")) return 0;
  size_t m = 0;
  const char* second = word(&m);
  if (create) {
    for (const Entry& e : kCreate)
      if (StartsWithNoCase(second, m, e.word)) return e.code;
  } else {
    for (const Entry& e : kDrop)
      if (StartsWithNoCase(second, m, e.word)) return e.code;
  }
  return 0;
}

bool RewriteCallEscape(const std::string& text, std::string* rewritten) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsLayout(text[begin])) ++begin;
  if (begin == end || text[begin] != '{') return false;
  ++begin;
  while (begin < end && IsLayout(text[begin])) ++begin;
  if (end - begin < 5 || !StartsWithNoCase(text.data() + begin, 4, "call") || text[begin + 4] != ' ') return false;
  begin += 5;
  while (end > begin && IsLayout(text[end - 1])) --end;
  if (end == begin || text[end - 1] != '}') return false;
  --end;
  while (end > begin && IsLayout(text[end - 1])) --end;
  std::string out = "execute procedure " + text.substr(begin, end - begin);
  if (out.back() != ')') out += "()";
  *rewritten = std::move(out);
  return true;
}

int32_t CountParameterMarkers(const char* text) {
  if (text == nullptr) return 0;
  const size_t length = std::strlen(text);
  int32_t count = 0;
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (c == '"' || c == '\'' || c == '[') {
      const size_t closer = CloserOf(text, length, i);
      if (closer != std::string::npos) i = closer;
      continue;
    }
    if (c == '?' || c == ':') ++count;
  }
  return count;
}

DriverResult ResultOfStatement(const StmtRecord* stmt) {
  DriverResult result;
  if (stmt->request != nullptr && stmt->request->describeCount != 0) {
    result.id = reinterpret_cast<uintptr_t>(stmt->request);
    result.columns = stmt->request->columns;
  }
  return result;
}

uint32_t PrepareEngineRequest(StmtRecord* stmt, const char* text, size_t length, std::string* hexName,
                              int32_t* markers) {
  hexName->clear();
  *markers = 0;
  EngineSession* session = stmt->conn->session;
  if (session == nullptr) return kInvalidCursorState;
  if (uint32_t code = EnsureImplicitTransaction(session)) return code;
  session->lastError = 0;
  if (stmt->request == nullptr)
    if (uint32_t code = NewEngineRequest(session, &stmt->request)) return code;
  EngineRequest* request = stmt->request;
  FreeDescribe(request);
  DrvFree(request->text);
  request->text = static_cast<char*>(DrvAlloc(length + 1));
  if (request->text == nullptr) return Keep(session, kIsamMemoryError);
  if (length > 0) std::memcpy(request->text, text, length);
  request->text[length] = 0;
  if (request->passwordsApplied == 0 && session->tablePasswords != nullptr)
    if (uint32_t code = ApplyTablePasswords(session, request)) return Keep(session, code);
  auto check = Engine<decltype(&KivCheckSQL)>(kOrdinalCheckText);
  if (check == nullptr) return Keep(session, kEngineUnbound);
  if (uint32_t code = check(request->statement, request->text)) return Keep(session, code);

  std::string rewritten;
  if (RewriteCallEscape(request->text, &rewritten)) {
    char* copy = static_cast<char*>(DrvAlloc(rewritten.size() + 1));
    if (copy == nullptr) return Keep(session, kIsamMemoryError);
    std::memcpy(copy, rewritten.c_str(), rewritten.size() + 1);
    DrvFree(request->text);
    request->text = copy;
  }
  stmt->dynamicFunction = ClassifyStatementText(request->text);
  auto prepare = Engine<decltype(&KivPrepareSQL)>(kOrdinalPrepare);
  if (prepare == nullptr) return Keep(session, kEngineUnbound);
  switch (stmt->dynamicFunction) {
    case 7: {
      // Procedures prepare; their output columns are described at execution.
      if (uint32_t code = prepare(request->statement, request->text)) return Keep(session, code);
      break;
    }
    case 32: case 36: case 77: case 84: case -1: case -2:
      if (uint32_t code = CloseIdleEngineStatements(session)) return Keep(session, code);
      prepare(request->statement, request->text);  // a refusal shows at execution
      break;
    case 85: {
      request->describe = DrvAlloc(kDescribeBufferSize);
      if (request->describe == nullptr) return Keep(session, kIsamMemoryError);
      auto describe = Engine<decltype(&KivPrepareSQLDescribe)>(kOrdinalPrepareDescribe);
      if (describe == nullptr) return Keep(session, kEngineUnbound);
      uint32_t count = 0xFFFF;
      // Describing runs a statement with computed columns: it may be canceled.
      if (uint32_t code = RunInterruptible(stmt, request->statement, [&] {
            return describe(request->statement, request->text, request->describe,
                            static_cast<uint32_t>(kDescribeBufferSize), &count);
          })) {
        FreeDescribe(request);
        return Keep(session, code);
      }
      if (count == 0) {
        FreeDescribe(request);
        return Keep(session, kNoResultColumns);
      }
      request->describeCount = static_cast<uint16_t>(std::min<uint32_t>(count, 0xFFFF));
      try {
        DescribeFromBuffer(session, request);
      } catch (const std::bad_alloc&) {
        FreeDescribe(request);
        return Keep(session, kIsamMemoryError);
      }
      *hexName = PseudoTableName(reinterpret_cast<uintptr_t>(request));
      break;
    }
    default:
      prepare(request->statement, request->text);  // a refusal shows at execution
      break;
  }
  *markers = CountParameterMarkers(request->text);
  return 0;
}

uint32_t ReleaseStatementPreparation(StmtRecord* stmt) {
  FreeParseTree(stmt, nullptr);
  return ReleaseEngineStatement(&stmt->request, stmt->conn->session);
}

SQLRETURN Prepare(SQLHSTMT handle, const SQLCHAR* textArgument, SQLINTEGER lengthArgument) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  stmt->affectedRows = 0;
  if (stmt->kind != kKindNone || stmt->cursor.needData != 0) return PostStatementError(stmt, kInvalidCursorState);
  if (textArgument == nullptr) textArgument = reinterpret_cast<const SQLCHAR*>("");
  if (stmt->conn->session == nullptr) return PostStatementError(stmt, kFunctionSequenceError);
  if (stmt->parseTree != nullptr) ReleaseStatementPreparation(stmt);
  ResetExecutionState(stmt);
  stmt->currentRow = 0;
  const char* text = reinterpret_cast<const char*>(textArgument);
  const size_t length = ResolveLength(text, lengthArgument);

  std::string hexName;
  int32_t markers = 0;
  uint32_t code = PrepareEngineRequest(stmt, text, length, &hexName, &markers);
  const bool declined = code == KIV_ERR_SQL_DECLINED;
  if (declined) {
    ReleaseEngineStatement(&stmt->request, stmt->conn->session);
    markers = 0;
  } else if (code != 0) {
    ReleaseEngineStatement(&stmt->request, stmt->conn->session);
    return PostStatementError(stmt, code);
  }
  // Parameters are numbered in 16 bits: a text with more markers cannot be run.
  if (markers > INT16_MAX) {
    ReleaseEngineStatement(&stmt->request, stmt->conn->session);
    return PostStatementError(stmt, kInvalidParameterNumber);
  }

  const DriverResult result = ResultOfStatement(stmt);
  if (declined || !hexName.empty()) {
    const std::string select = declined ? std::string(text, length) : kSelectPrefix + hexName + "\"";
    code = ParseStatementText(stmt, select.c_str(), static_cast<SQLLEN>(select.size()));
  } else {
    code = ParseStatementText(stmt, "SQL", 3);
  }
  if (code == 0 && stmt->parseTree->statement != nullptr && stmt->parseTree->statement->kind == kNodeSelect) {
    code = CheckParsedStatement(stmt, stmt->parseTree, stmt->parseTree->statement, false,
                                result.columns != nullptr ? &result : nullptr);
  }
  if (code == 0) code = AppendParameterNodes(stmt, markers, result.columns != nullptr ? &result : nullptr);
  if (code != 0) {
    // The front end has written the message already: keep it.
    const uint16_t saved = static_cast<uint16_t>(code);
    ReleaseStatementPreparation(stmt);
    stmt->code = saved;
    if (stmt->conn->session != nullptr) stmt->conn->session->lastError = code;
    return ResultOfCode(code);
  }
  if (stmt->parseTree->statement != nullptr && stmt->parseTree->statement->kind == kNodeSelect &&
      stmt->cursorName[0] == 0)
    GenerateCursorName(stmt);
  stmt->prepared = 1;
  return SQL_SUCCESS;
}

void ReleaseCursorName(StmtRecord* stmt) {
  if (stmt->cursorName[0] == 0) return;
  CursorNames& names = NamesOf(stmt->conn);
  const std::string key = kivwin::AnsiUpperCase(stmt->cursorName);
  names.inUse.erase(key);
  const long number = GeneratedNumber(key);
  if (number >= 0 && number < names.next) names.freeNumbers.insert(number);
  stmt->cursorName[0] = 0;
}

void FreeCursorNames(ConnRecord* conn) {
  delete conn->cursorNames;
  conn->cursorNames = nullptr;
}

SQLRETURN SetCursorName(SQLHSTMT handle, const SQLCHAR* name, SQLSMALLINT length) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  if (name == nullptr) return PostStatementError(stmt, kInvalidCursorName);
  const char* text = reinterpret_cast<const char*>(name);
  // A NUL inside the given length ends the name.
  const SQLLEN size = length == SQL_NTS ? static_cast<SQLLEN>(std::strlen(text))
                      : length > 0      ? static_cast<SQLLEN>(strnlen(text, static_cast<size_t>(length)))
                                        : length;
  if (size <= 0 || size > static_cast<SQLLEN>(kMaxCursorNameLength)) return PostStatementError(stmt, kInvalidCursorName);
  return PostStatementError(stmt, StoreCursorName(stmt, std::string_view(text, static_cast<size_t>(size))));
}

SQLRETURN GetCursorName(SQLHSTMT handle, SQLCHAR* buffer, SQLSMALLINT capacity, SQLSMALLINT* length) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  if (stmt->cursorName[0] == 0) GenerateCursorName(stmt);
  return PostStatementError(stmt, static_cast<uint32_t>(CopyOutString(reinterpret_cast<char*>(buffer), capacity,
                                                                      length, stmt->cursorName)));
}

const EngineColumn* ColumnOfItem(const ParseNode* item, const EngineTable** table) {
  const ParseNode* value = item->left;
  if (value == nullptr || value->kind != kNodeColumnRef || value->tableRef == nullptr) return nullptr;
  const auto* ext = static_cast<const TableRefExtension*>(value->tableRef->extension);
  if (ext == nullptr || ext->table == nullptr || value->columnIndex < 0 ||
      static_cast<size_t>(value->columnIndex) >= ext->table->columns.size())
    return nullptr;
  if (table != nullptr) *table = ext->table;
  return &ext->table->columns[static_cast<size_t>(value->columnIndex)];
}

}  // namespace kivodbc
