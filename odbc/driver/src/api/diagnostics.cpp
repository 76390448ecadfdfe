#include "api/diagnostics.h"

#include <atomic>
#include <cstring>
#include <optional>
#include <string>

#include "handles/messages.h"
#include "handles/records.h"
#include "data/valuetext.h"

namespace kivodbc {
namespace {

// The last cancel this thread asked for that was declined: its statement,
// the mark left on the statement (a statement freed meanwhile, or another
// one at its address, holds another), and its pending code.
struct DeclinedCancel {
  StmtRecord* stmt = nullptr;
  uint32_t mark = 0;
  uint16_t code = 0;
};
thread_local DeclinedCancel tDeclined;
std::atomic<uint32_t> gDeclinedMarks{0};

// Whether this thread reads the statement's declined cancel instead of the
// record of the call another thread is running.
bool ReadsDeclinedCancel(StmtRecord* stmt) {
  return tDeclined.stmt == stmt && tDeclined.mark != 0 &&
         std::atomic_ref<uint32_t>(stmt->declinedCancel).load(std::memory_order_relaxed) == tDeclined.mark;
}

// What the reading functions see of one handle's pending diagnostic.
struct Pending {
  uint16_t* code = nullptr;
  const char* argument = "";  // text for a trailing "%s"
  const char* buffer = "";    // message source of engine codes
  int version = SQL_OV_ODBC3;
  ConnRecord* conn = nullptr;
  StmtRecord* stmt = nullptr;
  bool isConnection = false;
};

std::optional<Pending> PendingOf(SQLSMALLINT handleType, SQLHANDLE handle) {
  Pending p;
  switch (handleType) {
    case SQL_HANDLE_ENV: {
      EnvRecord* env = AsEnv(handle);
      if (env == nullptr) return std::nullopt;
      p.code = &env->code;
      p.buffer = env->text;
      break;
    }
    case SQL_HANDLE_DBC: {
      ConnRecord* conn = AsConn(handle);
      if (conn == nullptr) return std::nullopt;
      p.code = &conn->code;
      p.argument = conn->argument;
      p.buffer = conn->engineText;
      p.conn = conn;
      p.isConnection = true;
      break;
    }
    case SQL_HANDLE_STMT: {
      StmtRecord* stmt = AsStmt(handle);
      if (stmt == nullptr) return std::nullopt;
      if (ReadsDeclinedCancel(stmt)) {
        // Nothing of the running call's state is read: it changes meanwhile.
        p.code = &tDeclined.code;
        p.conn = stmt->conn;
        break;
      }
      p.code = &stmt->code;
      p.argument = stmt->argument;
      p.buffer = stmt->engineText;
      p.conn = stmt->conn;
      p.stmt = stmt;
      break;
    }
    case SQL_HANDLE_DESC: {
      DescRecord* desc = AsDesc(handle);
      if (desc == nullptr) return std::nullopt;
      p.code = &desc->code;
      p.argument = desc->argument;
      p.conn = desc->conn;
      break;
    }
    default: return std::nullopt;
  }
  if (EnvRecord* env = OwningEnv(handleType, handle)) p.version = env->version == SQL_OV_ODBC2 ? 2 : 3;
  return p;
}

// A driver code's text, or the text kept with it where that adds a detail
// after a colon (why the engine could not be bound); an engine code's text.
std::string MessageSource(const Pending& p) {
  if (!IsDriverCode(*p.code)) return p.buffer;
  const std::string source = DriverMessageSource(*p.code);
  const std::string_view kept = p.buffer;
  if (kept.size() > source.size() + 1 && kept.compare(0, source.size(), source) == 0 && kept[source.size()] == ':')
    return std::string(kept);
  return source;
}

std::string StateOf(const Pending& p) {
  const std::string source = MessageSource(p);
  if (source.size() < 12) return "HY000";
  return p.version == 2 ? source.substr(0, 5) : source.substr(6, 5);
}

// The message from the thirteenth character, a trailing "%s" replaced by the
// argument text, at most 511 characters.
std::string MessageOf(const Pending& p, bool skipRepeatedArgument) {
  const std::string source = MessageSource(p);
  std::string message = source.size() > 12 ? source.substr(12) : std::string();
  if (message.size() >= 2 && message.compare(message.size() - 2, 2, "%s") == 0) {
    message.resize(message.size() - 2);
    std::string argument = p.argument;
    static const std::string kDriverTag = "[Morvane ODBC Driver]";
    const size_t tag = message.find(kDriverTag);
    if (skipRepeatedArgument && tag != std::string::npos) {
      const std::string rest = message.substr(tag + kDriverTag.size());
      if (!rest.empty() && argument.compare(0, rest.size(), rest) == 0) argument.erase(0, rest.size());
    }
    message += argument;
  }
  if (message.size() > kMessageSize - 1) message.resize(kMessageSize - 1);
  return message;
}

const char* DynamicFunctionName(int code) {
  switch (code) {
    case 4: return "ALTER TABLE";
    case 7: return "CALL";
    case 19: return "DELETE WHERE";
    case 32: return "DROP TABLE";
    case 36: return "DROP VIEW";
    case 38: return "DYNAMIC DELETE CURSOR";
    case 48: return "GRANT";
    case 50: return "INSERT";
    case 59: return "REVOKE";
    case 77: return "CREATE TABLE";
    case 81: return "DYNAMIC UPDATE CURSOR";
    case 82: return "UPDATE WHERE";
    case 84: return "CREATE VIEW";
    case 85: return "SELECT CURSOR";
    case -2: return "DROP INDEX";
    case -1: return "CREATE INDEX";
  }
  return "";
}

bool IsOdbc3Subclass(const std::string& state) {
  static const char* const kStates[] = {"01S00", "01S01", "01S02", "01S06", "01S07", "07S01", "08S01", "21S01",
                                        "21S02", "25S01", "25S02", "25S03", "42S01", "42S02", "42S11", "42S12",
                                        "42S21", "42S22", "HY095", "HY097", "HY098", "HY099", "HY100", "HY101",
                                        "HY105", "HY107", "HY109", "HY110", "HY111", "HYT00", "HYT01"};
  for (const char* s : kStates)
    if (state == s) return true;
  return false;
}

template <typename T>
SQLRETURN PutNumber(SQLPOINTER value, SQLSMALLINT* length, T number) {
  if (value != nullptr) std::memcpy(value, &number, sizeof number);
  if (length != nullptr) *length = static_cast<SQLSMALLINT>(sizeof number);
  return SQL_SUCCESS;
}

SQLRETURN PutText(SQLPOINTER value, SQLSMALLINT capacity, SQLSMALLINT* length, const std::string& text,
                  bool warnWhenCut) {
  const int code = CopyOutString(static_cast<char*>(value), capacity, length, text.c_str());
  return code != 0 && warnWhenCut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

bool IsRecordField(SQLSMALLINT field) {
  switch (field) {
    case SQL_DIAG_SQLSTATE:
    case SQL_DIAG_NATIVE:
    case SQL_DIAG_MESSAGE_TEXT:
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN:
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
    case SQL_DIAG_ROW_NUMBER:
    case SQL_DIAG_COLUMN_NUMBER: return true;
  }
  return false;
}

SQLRETURN ReadField(const Pending& p, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                    SQLSMALLINT capacity, SQLSMALLINT* length) {
  if (IsRecordField(field)) {
    if (record < 1) return SQL_ERROR;
    if (record > 1 || *p.code == 0) return SQL_NO_DATA;
  }
  switch (field) {
    case SQL_DIAG_RETURNCODE: return PutNumber<SQLRETURN>(value, length, SQL_SUCCESS);
    case SQL_DIAG_NUMBER: return PutNumber<SQLINTEGER>(value, length, *p.code != 0 ? 1 : 0);
    case SQL_DIAG_ROW_COUNT:
      if (p.stmt == nullptr) return SQL_ERROR;
      return PutNumber<SQLLEN>(value, length, p.stmt->rowCount);
    case SQL_DIAG_CURSOR_ROW_COUNT:
      if (p.stmt == nullptr) return SQL_ERROR;
      return PutNumber<SQLLEN>(value, length, p.stmt->cursorRowCount);
    case SQL_DIAG_DYNAMIC_FUNCTION:
      if (p.stmt == nullptr) return SQL_ERROR;
      return PutText(value, capacity, length, DynamicFunctionName(p.stmt->dynamicFunction), true);
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
      if (p.stmt == nullptr) return SQL_ERROR;
      return PutNumber<SQLINTEGER>(value, length, p.stmt->dynamicFunction);
    case SQL_DIAG_SQLSTATE: return PutText(value, capacity, length, StateOf(p), false);
    case SQL_DIAG_NATIVE: return PutNumber<SQLINTEGER>(value, length, *p.code);
    case SQL_DIAG_MESSAGE_TEXT: return PutText(value, capacity, length, MessageOf(p, p.isConnection), true);
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN: {
      // Origins go by the ODBC 3 state whatever the application's version.
      Pending odbc3View = p;
      odbc3View.version = 3;
      const std::string odbc3 = StateOf(odbc3View);
      const bool odbc = odbc3.compare(0, 2, "IM") == 0 || (field == SQL_DIAG_SUBCLASS_ORIGIN && IsOdbc3Subclass(odbc3));
      return PutText(value, capacity, length, odbc ? "ODBC 3.0" : "ISO 9075", false);
    }
    case SQL_DIAG_CONNECTION_NAME: return PutText(value, capacity, length, "", true);
    case SQL_DIAG_SERVER_NAME: {
      std::string name = p.conn != nullptr ? p.conn->dataSource : "";
      if (name == " ") name.clear();
      return PutText(value, capacity, length, name, false);
    }
    case SQL_DIAG_ROW_NUMBER: return PutNumber<SQLLEN>(value, length, SQL_ROW_NUMBER_UNKNOWN);
    case SQL_DIAG_COLUMN_NUMBER: return PutNumber<SQLINTEGER>(value, length, SQL_NO_COLUMN_NUMBER);
  }
  return SQL_ERROR;
}

bool KnownHandleType(SQLSMALLINT type) { return type >= SQL_HANDLE_ENV && type <= SQL_HANDLE_DESC; }

}  // namespace

SQLRETURN PostDeclinedCancel(StmtRecord* stmt) {
  uint32_t mark = gDeclinedMarks.fetch_add(1, std::memory_order_relaxed) + 1;
  if (mark == 0) mark = gDeclinedMarks.fetch_add(1, std::memory_order_relaxed) + 1;
  std::atomic_ref<uint32_t>(stmt->declinedCancel).store(mark, std::memory_order_relaxed);
  tDeclined = {stmt, mark, kCancelDeclined};
  return SQL_ERROR;
}

void ForgetDeclinedCancel(StmtRecord* stmt) {
  if (tDeclined.stmt == stmt) tDeclined = {};
}

SQLRETURN Error(SQLHENV env, SQLHDBC conn, SQLHSTMT stmt, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                SQLSMALLINT capacity, SQLSMALLINT* length) {
  std::optional<Pending> p;
  if (stmt != nullptr) p = PendingOf(SQL_HANDLE_STMT, stmt);
  else if (conn != nullptr) p = PendingOf(SQL_HANDLE_DBC, conn);
  else if (env != nullptr) p = PendingOf(SQL_HANDLE_ENV, env);
  if (!p) return SQL_INVALID_HANDLE;

  const uint16_t code = *p->code;
  std::string sqlState = "00000";
  std::string text = LoadDriverString(0).substr(6);
  if (code != 0) {
    sqlState = StateOf(*p);
    text = MessageOf(*p, false);
  }
  *p->code = 0;
  if (native != nullptr) *native = code;
  if (state != nullptr) std::memcpy(state, sqlState.c_str(), 6);
  const int copied = CopyOutString(reinterpret_cast<char*>(message), capacity, length, text.c_str());
  if (code == 0) return SQL_NO_DATA;
  return copied != 0 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN GetDiagRec(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state,
                     SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT capacity, SQLSMALLINT* length) {
  if (!KnownHandleType(handleType)) return SQL_ERROR;
  std::optional<Pending> p = PendingOf(handleType, handle);
  if (!p) return SQL_INVALID_HANDLE;
  if (record < 1) return SQL_ERROR;
  if (record > 1 || *p->code == 0) return SQL_NO_DATA;
  if (state != nullptr) {
    const SQLRETURN rc = ReadField(*p, record, SQL_DIAG_SQLSTATE, state, 6, nullptr);
    if (rc != SQL_SUCCESS) return rc;
  }
  if (native != nullptr) {
    const SQLRETURN rc = ReadField(*p, record, SQL_DIAG_NATIVE, native, 0, nullptr);
    if (rc != SQL_SUCCESS) return rc;
  }
  if (message != nullptr || length != nullptr) return ReadField(*p, record, SQL_DIAG_MESSAGE_TEXT, message, capacity, length);
  return SQL_SUCCESS;
}

SQLRETURN GetDiagField(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT field,
                       SQLPOINTER value, SQLSMALLINT capacity, SQLSMALLINT* length) {
  if (!KnownHandleType(handleType)) return SQL_ERROR;
  std::optional<Pending> p = PendingOf(handleType, handle);
  if (!p) return SQL_INVALID_HANDLE;
  return ReadField(*p, record, field, value, capacity, length);
}

}  // namespace kivodbc
