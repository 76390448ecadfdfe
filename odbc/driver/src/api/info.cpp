// What the driver tells applications about itself: SQLGetInfo and
// SQLGetTypeInfo.
#include <cstring>
#include <string>

#include "api.h"
#include "handles/messages.h"
#include "handles/records.h"
#include "handles/typetable.h"
#include "data/valuetext.h"

namespace kivodbc {
namespace {

enum class Width { kText, kSmall, kLarge, kNone };

struct InfoAnswer {
  Width width = Width::kNone;
  uint32_t number = 0;
  std::string text;
};

InfoAnswer Text(std::string text) { return {Width::kText, 0, std::move(text)}; }
InfoAnswer Small(uint32_t value) { return {Width::kSmall, value, {}}; }
InfoAnswer Large(uint32_t value) { return {Width::kLarge, value, {}}; }

bool HasTransactions(const EngineSession* s) { return s != nullptr && s->transactionCapable != 0; }

// The answer for one info type; Width::kNone when the driver has none.
InfoAnswer InfoFor(const ConnRecord* conn, SQLUSMALLINT type) {
  const EngineSession* s = conn->session;
  switch (type) {
    case 0: case 1: return Small(0);
    case 2: return Text(std::strcmp(conn->dataSource, " ") == 0 ? "" : conn->dataSource);
    case 6: return Text("KIVODBC.DLL");
    case 7: return Text("03.00.0000");
    case 8: return Large(191);
    case 9: case 12: case 15: return Small(1);
    case 11: case 19: case 20: case 25: case 36: return Text("N");
    case 13: case 17: return Text("Morvane");
    case 14: return Text("\\");
    case 16: return Text(s != nullptr ? s->connectPath : "");
    case 18: return Text("05.50.0.0");
    case 21: case 27: case 38: case 73: return Text("Y");
    case 22: return Small(0);
    case 23: case 24: return Small(!HasTransactions(s) || s->catalogFlag == 0 ? 1 : 0);
    case 26: return Large(HasTransactions(s) ? static_cast<uint32_t>(s->defaultIsolation) : 0);
    case 28: case 93: return Small(4);
    case 29: return Text("\"");
    case 30: return Small(s != nullptr && s->tableType != 3 ? 10 : 128);
    case 31: return Small(19);
    case 32: return Small(0);
    case 33: return Small(200);
    case 34: case 35: return Small(255);
    case 37: return Text(HasTransactions(s) && s->multipleTransactions != 0 ? "Y" : "N");
    case 39: case 89: case 94: case 10000: case 10004: return Text("");
    case 40: return Text("Stored Procedure");
    case 41: return Text(".");
    case 42: return Text("Database");
    case 43: case 48: return Large(3);
    case 44: case 51: return Large(7);
    case 45: return Text("table");
    case 46: return Small(s != nullptr ? static_cast<uint32_t>(s->transactionCapable) : 0);
    case 47: return Text(s != nullptr ? s->userName : "");
    case 49: case 50: return Large(0xFFFFFF);
    case 52: return Large(0x1FFFFF);
    case 53: case 55: case 58: case 59: case 60: case 61: case 63: case 64: case 65: case 68: return Large(32255);
    case 54: case 56: case 69: case 70: return Large(261631);
    case 57: return Large(167169);
    case 66: return Large(199937);
    case 67: return Large(232705);
    case 62: case 71: case 80: return Large(0);
    case 72: return Large(HasTransactions(s) ? static_cast<uint32_t>(s->isolationMask) : 0);
    case 74: case 88: return Small(2);
    case 75: case 85: case 114: return Small(1);
    case 77: return Text("03.00");
    case 78: case 92: case 118: case 134: case 141: case 143: case 152: return Large(1);
    case 79: case 95: case 169: return Large(31);
    case 81: return Large(11);
    case 82: return Large(82);
    case 83: return Large(4);
    case 84: case 98: case 100: case 101: case 106: case 116: return Small(0);
    case 86: return Large(584);
    case 87: case 113: return Text("Y");
    case 90: case 103: case 111: case 10003: return Text("N");
    case 96: case 121: case 148: case 154: case 170: case 172: return Large(3);
    case 97: case 99: return Small(20);
    case 102:
      if (s != nullptr && s->tableType == 1) return Large(256);
      if (s != nullptr && s->tableType == 2) return Large(240);
      return Large(4082);
    case 104: return Large(65536);
    case 107: return Small(63);
    case 109: case 110: return Large(510);
    case 112: return Large(2048);
    case 115: return Large(125);
    case 120: case 153: return Large(2);
    case 132: return Large(5633);
    case 144: case 150: return Large(990799);
    case 145: case 147: return Large(115);
    case 146: return Large(990785);
    case 151: return Large(83);
    case 160: return Large(16135);
    case 171: return Text("03.00.0000");
    // Parameters are not described: a "Y"/"N" text by the ODBC definition.
    case SQL_DESCRIBE_PARAMETER: return Text("N");
    case 10001: case 10021: case 10022: return Large(0);
    case 10005: return Small(1024);
    case 65003: return Large(125);
    case 122: case 125: case 126: case 135: return {};
  }
  if (type >= 82 && type <= 172) return Large(0);
  return {};
}

}  // namespace

SQLRETURN GetInfo(SQLHDBC handle, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT capacity, SQLSMALLINT* length) {
  ConnRecord* conn = AsConn(handle);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  const InfoAnswer answer = InfoFor(conn, type);
  switch (answer.width) {
    case Width::kNone: return PostConnError(conn, kNotSupported);
    case Width::kText:
      if (const int copied = CopyOutString(static_cast<char*>(value), capacity, length, answer.text.c_str()))
        return PostConnError(conn, static_cast<uint32_t>(copied));
      return SQL_SUCCESS;
    case Width::kSmall: {
      const auto number = static_cast<SQLUSMALLINT>(answer.number);
      if (value != nullptr) std::memcpy(value, &number, sizeof number);
      if (length != nullptr) *length = sizeof number;
      return SQL_SUCCESS;
    }
    case Width::kLarge: {
      const auto number = static_cast<SQLUINTEGER>(answer.number);
      if (value != nullptr) std::memcpy(value, &number, sizeof number);
      if (length != nullptr) *length = sizeof number;
      return SQL_SUCCESS;
    }
  }
  return SQL_SUCCESS;
}

SQLRETURN GetTypeInfo(SQLHSTMT handle, SQLSMALLINT type) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  stmt->rowCount = 0;
  if (stmt->kind != 0 || stmt->cursor.needData != 0) return PostStatementError(stmt, kInvalidCursorState);
  if (stmt->cursor.open != 0) FreeStmt(stmt, SQL_CLOSE);
  stmt->kind = kKindTypeInfo;
  stmt->catalogSubKind = 0;
  stmt->typeInfoType = MapDateTimeTypeCode(stmt, type);
  stmt->catalogRow = -1;
  stmt->cursorRowCount = -1;
  if (stmt->rowsFetchedPtr != nullptr) *stmt->rowsFetchedPtr = static_cast<SQLULEN>(-1);
  stmt->currentRow = 0;
  stmt->fetchState = -1;
  return SQL_SUCCESS;
}

}  // namespace kivodbc
