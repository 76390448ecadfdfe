// The catalog functions: each checks and stores its request in the
// statement; SQLFetch later produces the rows. Also the walk over the
// accessible tables that several of them share, and the fixed column
// tables that describe their results.
#ifndef KIVODBC_CATALOG_H
#define KIVODBC_CATALOG_H

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "handles/records.h"

namespace kivodbc {

// Statement kinds of the catalog results (kKindTypeInfo is 5).
constexpr int32_t kKindTables = 1;
constexpr int32_t kKindColumns = 2;
constexpr int32_t kKindStatistics = 3;
constexpr int32_t kKindSpecialColumns = 4;
constexpr int32_t kKindPrimaryKeys = 6;
constexpr int32_t kKindForeignKeys = 7;
constexpr int32_t kKindProcedures = 8;
constexpr int32_t kKindProcedureColumns = 9;
constexpr int32_t kKindColumnPrivileges = 10;
constexpr int32_t kKindTablePrivileges = 11;

// Sub-kinds: which row builder a catalog kind uses.
constexpr int32_t kSubKindTableList = 1;
constexpr int32_t kSubKindTableTypes = 2;
constexpr int32_t kSubKindBothKeyTables = 3;
constexpr int32_t kSubKindForeignKeyTable = 4;
constexpr int32_t kSubKindPrimaryKeyTable = 5;
constexpr int32_t kSubKindUniqueIndexes = 6;
constexpr int32_t kSubKindAllIndexes = 7;

// What a listing of relations, procedures or privileges keeps between
// fetches (catalogrows.cpp).
struct CatalogListing;

// A walk over the session's accessible tables for one catalog statement.
struct CatalogRequest {
  int16_t position;  // -1 at creation
  char tablePattern[256];
  uint16_t tablePatternLength;
  char qualifierPattern[256];
  uint16_t qualifierPatternLength;
  void* next;  // next candidate of the session's accessible-table list
  EngineSession* session;
  CatalogListing* listing;  // made at the first fetch of the listings that need one
};

// 0 with `*out` set, or 2004 when memory runs out (also the session's last error).
uint32_t NewCatalogRequest(EngineSession* session, const char* qualifier, size_t qualifierLength, const char* table,
                           size_t tableLength, CatalogRequest** out);
void FreeCatalogRequest(CatalogRequest* request);
// The next table that matches: 0 with its name and qualifier (256 bytes
// each), 2001 at the end, 2009 for a name of 256 or more characters.
uint32_t NextCatalogTable(CatalogRequest* request, char* table, char* qualifier);

// Releases what a catalog call left in the statement (its request and its
// opened table). Called when the statement's cursor is closed.
void ReleaseCatalogState(StmtRecord* stmt);

// One column of a catalog result as SQLDescribeCol and SQLColAttribute see it.
struct CatalogColumn {
  const char* name;
  int16_t sqlType;
  const char* typeName;
  int32_t displaySize;
  int32_t length;
  int32_t precision;
  int16_t nullable;
  int16_t caseSensitive;
};
// The result columns of catalog kind 1-11; null (and 0) for another kind.
const CatalogColumn* CatalogResultColumns(int32_t kind, int* count);

SQLRETURN Tables(SQLHSTMT stmt, const SQLCHAR* qualifier, SQLSMALLINT qualifierLength, const SQLCHAR* owner,
                 SQLSMALLINT ownerLength, const SQLCHAR* table, SQLSMALLINT tableLength, const SQLCHAR* type,
                 SQLSMALLINT typeLength);
SQLRETURN Columns(SQLHSTMT stmt, const SQLCHAR* qualifier, SQLSMALLINT qualifierLength, const SQLCHAR* owner,
                  SQLSMALLINT ownerLength, const SQLCHAR* table, SQLSMALLINT tableLength, const SQLCHAR* column,
                  SQLSMALLINT columnLength);
SQLRETURN Statistics(SQLHSTMT stmt, const SQLCHAR* qualifier, SQLSMALLINT qualifierLength, const SQLCHAR* owner,
                     SQLSMALLINT ownerLength, const SQLCHAR* table, SQLSMALLINT tableLength, SQLUSMALLINT unique,
                     SQLUSMALLINT accuracy);
SQLRETURN SpecialColumns(SQLHSTMT stmt, SQLUSMALLINT identifierType, const SQLCHAR* qualifier,
                         SQLSMALLINT qualifierLength, const SQLCHAR* owner, SQLSMALLINT ownerLength,
                         const SQLCHAR* table, SQLSMALLINT tableLength, SQLUSMALLINT scope, SQLUSMALLINT nullable);
SQLRETURN PrimaryKeys(SQLHSTMT stmt, const SQLCHAR* qualifier, SQLSMALLINT qualifierLength, const SQLCHAR* owner,
                      SQLSMALLINT ownerLength, const SQLCHAR* table, SQLSMALLINT tableLength);
SQLRETURN ForeignKeys(SQLHSTMT stmt, const SQLCHAR* pkQualifier, SQLSMALLINT pkQualifierLength,
                      const SQLCHAR* pkOwner, SQLSMALLINT pkOwnerLength, const SQLCHAR* pkTable,
                      SQLSMALLINT pkTableLength, const SQLCHAR* fkQualifier, SQLSMALLINT fkQualifierLength,
                      const SQLCHAR* fkOwner, SQLSMALLINT fkOwnerLength, const SQLCHAR* fkTable,
                      SQLSMALLINT fkTableLength);
SQLRETURN Procedures(SQLHSTMT stmt, const SQLCHAR* qualifier, SQLSMALLINT qualifierLength, const SQLCHAR* owner,
                     SQLSMALLINT ownerLength, const SQLCHAR* procedure, SQLSMALLINT procedureLength);
SQLRETURN ProcedureColumns(SQLHSTMT stmt, const SQLCHAR* qualifier, SQLSMALLINT qualifierLength,
                           const SQLCHAR* owner, SQLSMALLINT ownerLength, const SQLCHAR* procedure,
                           SQLSMALLINT procedureLength, const SQLCHAR* column, SQLSMALLINT columnLength);
SQLRETURN ColumnPrivileges(SQLHSTMT stmt, const SQLCHAR* qualifier, SQLSMALLINT qualifierLength,
                           const SQLCHAR* owner, SQLSMALLINT ownerLength, const SQLCHAR* table,
                           SQLSMALLINT tableLength, const SQLCHAR* column, SQLSMALLINT columnLength);
SQLRETURN TablePrivileges(SQLHSTMT stmt, const SQLCHAR* qualifier, SQLSMALLINT qualifierLength,
                          const SQLCHAR* owner, SQLSMALLINT ownerLength, const SQLCHAR* table,
                          SQLSMALLINT tableLength);

}  // namespace kivodbc

#endif
