#include "api/lifetime.h"

#include <unistd.h>

#include <cstring>
#include <string>

#include "api.h"
#include "connect/session.h"
#include "handles/messages.h"
#include "results/fetch.h"
#include "sql/statement.h"
#include "util/engine.h"

namespace kivodbc {

namespace {

void InitDescriptor(DescRecord* desc, int16_t allocKind, ConnRecord* conn) {
  desc->handleType = kDescHandle;
  desc->allocKind = allocKind;
  desc->conn = conn;
  desc->bindOffsetPtr = &desc->zeroOffset;
}

// Unlinks `target` from a singly linked list whose head is `head`.
template <typename Record>
void Unlink(Record*& head, Record* target) {
  for (Record** link = &head; *link != nullptr; link = &(*link)->next) {
    if (*link == target) {
      *link = target->next;
      target->next = nullptr;
      return;
    }
  }
}

std::string HostFileName() {
  char path[261] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

// Copies a child's pending diagnostic to its parent's fields.
void CopyUp(uint16_t code, const char* argument, const char* text, uint16_t* parentCode, char* parentArgument,
            char* parentText) {
  *parentCode = code;
  if (parentArgument != nullptr) SetArgumentText(parentArgument, argument);
  std::memcpy(parentText, text, kMessageSize);
}

}  // namespace

SQLRETURN AllocEnv(SQLHENV* out) {
  if (out == nullptr) return SQL_ERROR;
  auto* env = NewRecord<EnvRecord>();
  *out = env;
  if (env == nullptr) return SQL_ERROR;
  env->handleType = kEnvHandle;
  env->version = SQL_OV_ODBC2;
  Register(env);
  env->hostFlag = HostFlagFor(HostFileName().c_str());
  return SQL_SUCCESS;
}

SQLRETURN AllocConnect(SQLHENV envHandle, SQLHDBC* out) {
  EnvRecord* env = AsEnv(envHandle);
  if (env == nullptr) return SQL_INVALID_HANDLE;
  env->code = 0;
  if (out == nullptr) return SQL_ERROR;
  auto* conn = NewRecord<ConnRecord>();
  *out = conn;
  if (conn == nullptr) return PostEnvError(env, kMemoryError);
  conn->handleType = kConnHandle;
  conn->env = env;
  Register(conn);
  conn->isolation = -1;
  conn->autocommit = SQL_AUTOCOMMIT_ON;
  conn->concurrency = SQL_CONCUR_READ_ONLY;
  conn->cursorType = SQL_CURSOR_FORWARD_ONLY;
  conn->retrieveData = SQL_RD_ON;
  conn->useBookmarks = SQL_UB_OFF;
  conn->next = env->firstConn;
  env->firstConn = conn;
  return SQL_SUCCESS;
}

SQLRETURN AllocStmt(SQLHDBC connHandle, SQLHSTMT* out) {
  ConnRecord* conn = AsConn(connHandle);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  if (out == nullptr) return SQL_ERROR;
  auto* stmt = NewRecord<StmtRecord>();
  *out = stmt;
  if (stmt == nullptr) return PostConnError(conn, kMemoryError);
  stmt->handleType = kStmtHandle;
  stmt->conn = conn;
  stmt->catalogRow = -2;
  stmt->metadataId = conn->metadataId;
  stmt->position = -1;
  stmt->cursorRowCount = -1;
  stmt->concurrency = conn->concurrency;
  stmt->cursorType = conn->cursorType;
  stmt->retrieveData = conn->retrieveData;
  stmt->useBookmarks = conn->useBookmarks;
  stmt->fetchState = -1;
  stmt->getDataColumn = -1;
  stmt->enableAutoIpd = 1;
  for (int i = kArd; i <= kIpd; ++i) {
    DescRecord* desc = &stmt->builtIn[i];
    InitDescriptor(desc, kDescBuiltIn, conn);
    if (i == kIrd || i == kIpd) desc->stmt = stmt;
    desc->next = conn->firstDesc;
    conn->firstDesc = desc;
    Register(desc);
  }
  Register(stmt);
  stmt->builtIn[kArd].bindType = conn->bindType;
  stmt->ard = &stmt->builtIn[kArd];
  stmt->apd = &stmt->builtIn[kApd];
  stmt->putOffset = -1;
  stmt->positionedRow = -1;
  stmt->rowCount = -1;
  stmt->next = conn->firstStmt;
  conn->firstStmt = stmt;
  // The engine statement is taken now on a connected connection, else at
  // the first prepare.
  if (conn->session != nullptr) {
    if (const uint32_t code = NewEngineRequest(conn->session, &stmt->request)) {
      for (DescRecord& desc : stmt->builtIn) {
        Unlink(conn->firstDesc, &desc);
        Unregister(&desc);
      }
      Unlink(conn->firstStmt, stmt);
      Unregister(stmt);
      DrvFree(stmt);
      *out = nullptr;
      return PostConnError(conn, code);
    }
  }
  return SQL_SUCCESS;
}

SQLRETURN AllocDesc(SQLHDBC connHandle, SQLHDESC* out) {
  ConnRecord* conn = AsConn(connHandle);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  conn->argument[0] = 0;
  conn->engineText[0] = 0;
  if (out == nullptr) return SQL_ERROR;
  auto* desc = NewRecord<DescRecord>();
  *out = desc;
  if (desc == nullptr) return PostConnError(conn, kMemoryError);
  InitDescriptor(desc, kDescExplicit, conn);
  desc->next = conn->firstDesc;
  conn->firstDesc = desc;
  Register(desc);
  return SQL_SUCCESS;
}

SQLRETURN AllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* out) {
  switch (type) {
    case SQL_HANDLE_ENV: {
      const SQLRETURN rc = AllocEnv(out);
      if (SQL_SUCCEEDED(rc)) static_cast<EnvRecord*>(*out)->version = SQL_OV_ODBC3;
      return rc;
    }
    case SQL_HANDLE_DBC: return AllocConnect(input, out);
    case SQL_HANDLE_STMT: return AllocStmt(input, out);
    case SQL_HANDLE_DESC: return AllocDesc(input, out);
  }
  // An unknown handle type allocates nothing and says so.
  if (EnvRecord* env = AsEnv(input)) return PostEnvError(env, kInvalidAttribute);
  if (ConnRecord* conn = AsConn(input)) return PostConnError(conn, kInvalidAttribute);
  return SQL_ERROR;
}

uint32_t CloseEngineSession(ConnRecord* conn) {
  EngineSession* session = conn->session;
  if (session == nullptr) return 0;
  uint32_t code = 0;
  FreeSessionStatements(session);
  if (session->engineConnection != 0) {
    if (auto disconnect = EngineBinding::Instance().Function<EngineDisconnect>(kOrdinalDisconnect)) {
      code = disconnect(session->engineConnection);
    } else {
      code = kUnableToConnect;
    }
  }
  conn->session = nullptr;
  FreeRightsList(session);
  DrvFree(session);
  if (code != 0) PostConnError(conn, code);
  return code;
}

namespace {

// Frees every item of a descriptor but the one numbered 0 (the bookmark
// column or parameter), which stays as the only item.
void FreeDescItemsButZero(DescRecord* desc) {
  DescItem* kept = nullptr;
  for (DescItem* item = desc->firstItem; item != nullptr;) {
    DescItem* next = item->next;
    if (item->number == 0 && kept == nullptr) {
      kept = item;
      kept->next = nullptr;
    } else {
      ReleaseItemOwned(item);
      DrvFree(item);
    }
    item = next;
  }
  desc->firstItem = kept;
}

}  // namespace

SQLRETURN FreeStmt(SQLHSTMT handle, SQLUSMALLINT option) {
  StmtRecord* stmt = AsStmt(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  stmt->code = 0;
  stmt->affectedRows = 0;
  switch (option) {
    case SQL_CLOSE: return CloseStatement(stmt);
    case SQL_UNBIND:
      FreeDescItemsButZero(stmt->ard);
      return SQL_SUCCESS;
    case SQL_RESET_PARAMS:
      if (stmt->cursor.needData != 0) return PostStatementError(stmt, kInvalidCursorState);
      FreeDescItemsButZero(stmt->apd);
      return SQL_SUCCESS;
    case SQL_DROP: break;
    default: return PostStatementError(stmt, kOptionTypeOutOfRange);
  }
  // A failed close is reported, and the statement goes all the same; the
  // connection's transaction is not the statement's to roll back.
  SQLRETURN rc = CloseStatement(stmt);
  ConnRecord* conn = stmt->conn;
  const uint32_t released = ReleaseStatementPreparation(stmt);
  if (SQL_SUCCEEDED(rc) && released != 0) rc = PostStatementError(stmt, released);
  if (!SQL_SUCCEEDED(rc))
    CopyUp(stmt->code, stmt->argument, stmt->engineText, &conn->code, conn->argument, conn->engineText);
  for (DescRecord& desc : stmt->builtIn) {
    Unlink(conn->firstDesc, &desc);
    FreeDescItems(&desc);
    Unregister(&desc);
  }
  ReleaseCursorName(stmt);
  Unlink(conn->firstStmt, stmt);
  Unregister(stmt);
  DrvFree(stmt);
  return SQL_SUCCEEDED(rc) ? SQL_SUCCESS : rc;
}

SQLRETURN FreeDesc(SQLHDESC handle) {
  DescRecord* desc = AsDesc(handle);
  if (desc == nullptr) return SQL_INVALID_HANDLE;
  // A statement's own descriptor is part of the statement, never freed alone.
  if (desc->allocKind == kDescBuiltIn) return PostDescError(desc, kImplicitDescriptor);
  ConnRecord* conn = desc->conn;
  Unlink(conn->firstDesc, desc);
  for (StmtRecord* stmt = conn->firstStmt; stmt != nullptr; stmt = stmt->next) {
    if (stmt->ard == desc) stmt->ard = &stmt->builtIn[kArd];
    if (stmt->apd == desc) stmt->apd = &stmt->builtIn[kApd];
  }
  desc->code = 0;
  FreeDescItems(desc);
  Unregister(desc);
  DrvFree(desc);
  return SQL_SUCCESS;
}

SQLRETURN FreeConnect(SQLHDBC handle) {
  ConnRecord* conn = AsConn(handle);
  if (conn == nullptr) return SQL_INVALID_HANDLE;
  conn->code = 0;
  // Every statement is dropped; the first failure is kept on the connection,
  // which then stays allocated so that the failure can be read.
  bool failed = false;
  for (StmtRecord* stmt = conn->firstStmt; stmt != nullptr;) {
    StmtRecord* next = stmt->next;
    if (!SQL_SUCCEEDED(FreeStmt(stmt, SQL_DROP)) && !failed) {
      failed = true;
      CopyUp(stmt->code, stmt->argument, stmt->engineText, &conn->code, conn->argument, conn->engineText);
    }
    stmt = next;
  }
  if (conn->session != nullptr) {
    ConnRecord saved = *conn;  // keeps an earlier failure over the session's
    const uint32_t code = CloseEngineSession(conn);
    if (failed && code != 0)
      CopyUp(saved.code, saved.argument, saved.engineText, &conn->code, conn->argument, conn->engineText);
    failed = failed || code != 0;
  }
  conn->dataSource[0] = 0;
  if (failed) return SQL_ERROR;
  for (DescRecord* desc = conn->firstDesc; desc != nullptr;) {
    DescRecord* next = desc->next;
    FreeDescItems(desc);
    Unregister(desc);
    DrvFree(desc);  // only explicit descriptors remain once the statements are gone
    desc = next;
  }
  Unlink(conn->env->firstConn, conn);
  Unregister(conn);
  FreeCursorNames(conn);
  DrvFree(conn);
  return SQL_SUCCESS;
}

SQLRETURN FreeEnv(SQLHENV handle) {
  EnvRecord* env = AsEnv(handle);
  if (env == nullptr) return SQL_INVALID_HANDLE;
  env->code = 0;
  bool failed = false;
  for (ConnRecord* conn = env->firstConn; conn != nullptr;) {
    ConnRecord* next = conn->next;
    if (!SQL_SUCCEEDED(FreeConnect(conn)) && !failed) {
      failed = true;
      // The environment keeps no argument text: a "%s" of the message reads as empty there.
      CopyUp(conn->code, nullptr, conn->engineText, &env->code, nullptr, env->text);
    }
    conn = next;
  }
  if (failed) return SQL_ERROR;
  Unregister(env);
  DrvFree(env);
  return SQL_SUCCESS;
}

SQLRETURN FreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  switch (type) {
    case SQL_HANDLE_ENV: return FreeEnv(handle);
    case SQL_HANDLE_DBC: return FreeConnect(handle);
    case SQL_HANDLE_STMT: {
      StmtRecord* stmt = AsStmt(handle);
      if (stmt == nullptr) return SQL_INVALID_HANDLE;
      stmt->ard = &stmt->builtIn[kArd];
      stmt->apd = &stmt->builtIn[kApd];
      return FreeStmt(stmt, SQL_DROP);
    }
    case SQL_HANDLE_DESC: return FreeDesc(handle);
  }
  return SQL_ERROR;
}

}  // namespace kivodbc
