// Connecting a connection handle to the engine: by data source (SQLConnect)
// or by connection string with an optional prompt (SQLDriverConnect), and
// disconnecting.
#include <cstring>
#include <string>

#include "api.h"
#include "connect/connstring.h"
#include "handles/messages.h"
#include "connect/prompt.h"
#include "handles/records.h"
#include "api/lifetime.h"
#include "connect/session.h"
#include "sql/statement.h"
#include "data/valuetext.h"

namespace kivodbc {
namespace {

constexpr uint16_t kTransactionCapabilityError = 2120;
constexpr uint16_t kTransactionStillActive = 2161;
constexpr uint32_t kLoginFailed = 7078;

std::string TextArgument(const SQLCHAR* text, SQLSMALLINT length, size_t maximum) {
  const char* chars = reinterpret_cast<const char*>(text);
  return std::string(chars != nullptr ? chars : "", ArgumentLength(chars, length, maximum));
}

// The code of a failed open is posted with the message OpenEngineSession
// already wrote into the connection's engine text.
SQLRETURN PostOpenFailure(ConnRecord* conn, uint32_t code) {
  conn->code = static_cast<uint16_t>(code);
  conn->argument[0] = 0;
  return ResultOfCode(code);
}

// Takes a freshly opened session into the connection. Autocommit and the
// isolation level that the application set before the connect stay in force.
uint32_t AdoptSession(ConnRecord* conn, EngineSession* session, const std::string& dsn) {
  if (session->transactionCapable < 0 || session->transactionCapable > 4) {
    conn->session = session;
    CloseEngineSession(conn);
    return kTransactionCapabilityError;
  }
  conn->session = session;
  if (conn->isolation == -1 || CheckIsolationLevel(session, conn->isolation) != 0)
    conn->isolation = session->defaultIsolation;
  if (session->transactionCapable == 0) conn->autocommit = 1;
  session->autocommit = conn->autocommit;
  CopyField(conn->dataSource, kDataSourceSize, dsn.empty() ? " " : dsn);
  return 0;
}

}  // namespace

SQLRETURN Connect(SQLHDBC handle, const SQLCHAR* dataSource, SQLSMALLINT dataSourceLength, const SQLCHAR* user,
                  SQLSMALLINT userLength, const SQLCHAR* password, SQLSMALLINT passwordLength) {
  ConnRecord* conn = AsConn(handle);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  if (conn->dataSource[0] != 0) return PostConnError(conn, kConnectionInUse);

  const std::string dsn = TextArgument(dataSource, dataSourceLength, kMaxDsnLength);
  std::string uid = TextArgument(user, userLength, 63);
  if (uid.empty()) uid = ReadDsnKey(dsn, "UID", 64);
  std::string pwd = TextArgument(password, passwordLength, 63);
  if (pwd.empty()) pwd = ReadDsnKey(dsn, "PWD", 64);
  const std::string directory = ReadDsnKey(dsn, "DataDirectory", 256, ".");

  CloseEngineSession(conn);
  conn->code = 0;
  EngineSession* session = nullptr;
  bool engineOlder = false;
  const uint32_t code = OpenEngineSession(directory.c_str(), dsn, nullptr, uid.c_str(), pwd.c_str(), &session,
                                          conn->engineText, &engineOlder);
  if (code != 0) {
    conn->dataSource[0] = 0;
    return PostOpenFailure(conn, code);
  }
  if (uint32_t adopted = AdoptSession(conn, session, dsn)) return PostConnError(conn, adopted);
  return engineOlder ? PostConnError(conn, kEngineLibraryOlder) : SQL_SUCCESS;
}

SQLRETURN DriverConnect(SQLHDBC handle, SQLHWND window, const SQLCHAR* in, SQLSMALLINT inLength, SQLCHAR* out,
                        SQLSMALLINT outCapacity, SQLSMALLINT* outLength, SQLUSMALLINT completion) {
  ConnRecord* conn = AsConn(handle);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  if (conn->dataSource[0] != 0) return PostConnError(conn, kConnectionInUse);

  // A private copy of exactly the given text; the caller's string is never written.
  const char* inText = reinterpret_cast<const char*>(in);
  const std::string text(inText != nullptr ? inText : "", inText != nullptr ? ResolveLength(inText, inLength) : 0);
  ConnectBlock block = {};
  std::string dsn;
  std::string badKey;
  if (uint32_t code = ParseConnectionString(text, &block, &dsn, &badKey)) return PostConnError(conn, code, badKey);

  if (!dsn.empty()) {
    const struct {
      const char* key;
      char* field;
      size_t capacity;
      const char* fallback;
    } keys[] = {{"DataDirectory", block.dataDirectory, sizeof block.dataDirectory, "."},
                {"UID", block.user, sizeof block.user, ""},
                {"PWD", block.password, sizeof block.password, ""},
                {"RemoteHost", block.remoteHost, sizeof block.remoteHost, ""},
                {"RemotePort", block.remotePort, sizeof block.remotePort, ""}};
    for (const auto& k : keys)
      if (k.field[0] == 0) CopyField(k.field, k.capacity, ReadDsnKey(dsn, k.key, k.capacity, k.fallback));
  }

  // A prompt needs a window to belong to: without one the connect goes on
  // with what the string and the data source give, as with no prompting.
  EngineSession* session = nullptr;
  bool engineOlder = false;
  for (;;) {
    const bool mayPrompt = window != nullptr && completion != SQL_DRIVER_NOPROMPT;
    if (mayPrompt && (completion == SQL_DRIVER_PROMPT || block.dataDirectory[0] == 0)) {
      if (RunConnectPrompt(window, dsn, &block) != 0) return SQL_NO_DATA;
    }
    if (block.dataDirectory[0] == 0) return PostConnError(conn, kUnableToConnect);
    CloseEngineSession(conn);
    conn->code = 0;
    const uint32_t code = OpenEngineSession(block.dataDirectory, dsn, &block, block.user, block.password, &session,
                                            conn->engineText, &engineOlder);
    if (code == 0) break;
    if (code == kLoginFailed && mayPrompt &&
        (completion == SQL_DRIVER_COMPLETE || completion == SQL_DRIVER_COMPLETE_REQUIRED)) {
      completion = SQL_DRIVER_PROMPT;
      continue;
    }
    return PostOpenFailure(conn, code);
  }
  if (uint32_t adopted = AdoptSession(conn, session, dsn)) return PostConnError(conn, adopted);

  const std::string result = BuildOutConnectionString(block, dsn);
  if (const int copied = CopyOutString(reinterpret_cast<char*>(out), outCapacity, outLength, result.c_str()))
    return PostConnError(conn, static_cast<uint32_t>(copied));
  // An older engine is a warning, not a failure: the connect goes on.
  return engineOlder ? PostConnError(conn, kEngineLibraryOlder) : SQL_SUCCESS;
}

SQLRETURN BrowseConnect(SQLHDBC handle) {
  ConnRecord* conn = AsConn(handle);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  return PostConnError(conn, kNotSupported);
}

SQLRETURN Disconnect(SQLHDBC handle) {
  ConnRecord* conn = AsConn(handle);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  if (conn->session != nullptr) {
    bool open = false;
    if (uint32_t code = EngineTransactionOpen(conn->session, &open)) return PostConnError(conn, code);
    if (open) return PostConnError(conn, kTransactionStillActive);
  }
  for (DescRecord* desc = conn->firstDesc; desc != nullptr;) {
    DescRecord* next = desc->next;
    if (desc->allocKind == kDescExplicit && FreeDesc(desc) != SQL_SUCCESS) {
      conn->code = desc->code;
      SetArgumentText(conn->argument, desc->argument);
      return ResultOfCode(conn->code);
    }
    desc = next;
  }
  for (StmtRecord* stmt = conn->firstStmt; stmt != nullptr; stmt = stmt->next) {
    if (FreeStmt(stmt, SQL_CLOSE) != SQL_SUCCESS) {
      conn->code = stmt->code;
      SetArgumentText(conn->argument, stmt->argument);
      std::memcpy(conn->engineText, stmt->engineText, kMessageSize);
      return ResultOfCode(conn->code);
    }
  }
  // Prepared statements hold engine tables and statements of this session:
  // they go with it, and the statements are prepared again after a connect.
  for (StmtRecord* stmt = conn->firstStmt; stmt != nullptr; stmt = stmt->next) {
    ReleaseStatementPreparation(stmt);
    stmt->prepared = 0;
  }
  conn->dataSource[0] = 0;
  // The engine connection ends with the ODBC one: nothing of it is used
  // again, and its files should not stay open behind the application's back.
  const uint32_t code = CloseEngineSession(conn);
  return code == 0 ? SQL_SUCCESS : ResultOfCode(code);
}

}  // namespace kivodbc
