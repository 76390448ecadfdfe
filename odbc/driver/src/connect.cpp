// Opening and closing the engine connection behind a connection handle:
// the data source's data directory is read from "odbc.ini" and connected to
// through the engine.
#include <odbcinst.h>

#include <cstring>
#include <string>

#include "api.h"
#include "engine.h"
#include "messages.h"
#include "records.h"
#include "valuetext.h"

namespace kivodbc {
namespace {

constexpr int16_t kDefaultServerTypes = 6;

std::string TextArgument(const SQLCHAR* text, SQLSMALLINT length, size_t maximum) {
  const char* chars = reinterpret_cast<const char*>(text);
  return std::string(chars != nullptr ? chars : "", ArgumentLength(chars, length, maximum));
}

void CopyField(char* field, size_t size, const std::string& text) {
  const size_t n = std::min(text.size(), size - 1);
  std::memcpy(field, text.data(), n);
  field[n] = 0;
}

}  // namespace

SQLRETURN Connect(SQLHDBC handle, const SQLCHAR* dataSource, SQLSMALLINT dataSourceLength, const SQLCHAR* user,
                  SQLSMALLINT userLength, const SQLCHAR* password, SQLSMALLINT passwordLength) {
  ConnRecord* conn = AsConn(handle);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  if (conn->dataSource[0] != 0) return PostConnError(conn, kConnectionInUse);

  const std::string dsn = TextArgument(dataSource, dataSourceLength, kMaxDataSourceLength);
  const std::string uid = TextArgument(user, userLength, 63);
  const std::string pwd = TextArgument(password, passwordLength, 255);
  char directory[256] = {};
  SQLGetPrivateProfileString(dsn.c_str(), "DataDirectory", ".", directory, sizeof directory, "odbc.ini");

  auto connect = EngineBinding::Instance().Function<EngineConnect60>(kOrdinalConnect60);
  if (connect == nullptr) return PostConnError(conn, kUnableToConnect);

  auto* session = static_cast<EngineSession*>(DrvAlloc(sizeof(EngineSession)));
  if (session == nullptr) return PostConnError(conn, kMemoryError);
  session->serverTypes = kDefaultServerTypes;
  session->multipleTransactions = 1;
  session->isolationMask = SQL_TXN_READ_COMMITTED;
  session->defaultIsolation = SQL_TXN_READ_COMMITTED;
  session->transactionCapable = 1;
  session->autocommit = 1;
  session->charSet = 1;
  session->rightsCheck = 1;
  std::string path = directory;
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  CopyField(session->connectPath, sizeof session->connectPath, path);
  CopyField(session->userName, sizeof session->userName, uid.empty() ? "Anonymous" : uid);

  const uint32_t code = connect(session->connectPath, static_cast<uint16_t>(session->serverTypes), uid.c_str(),
                                pwd.c_str(), 0, &session->engineConnection);
  if (code != 0) {
    DrvFree(session);
    return PostConnError(conn, code);
  }
  CloseEngineSession(conn);  // a session kept from an earlier connect
  conn->session = session;
  conn->isolation = session->defaultIsolation;
  conn->autocommit = 1;
  CopyField(conn->dataSource, kDataSourceSize, dsn.empty() ? " " : dsn);
  return SQL_SUCCESS;
}

SQLRETURN Disconnect(SQLHDBC handle) {
  ConnRecord* conn = AsConn(handle);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  conn->dataSource[0] = 0;
  const uint32_t code = CloseEngineSession(conn);
  return code == 0 ? SQL_SUCCESS : ResultOfCode(code);
}

}  // namespace kivodbc
