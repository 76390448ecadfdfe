/*
 * qel32.h - the client engine's C interface.
 *
 * Every function returns a KIVRESULT: 0 on success, otherwise an engine code;
 * the calling thread's last error (KivGetLastError) then holds that code and
 * its text. Successful calls leave the last error alone.
 *
 * Handles are small 32-bit numbers (never 0, never 0xFFFFFFFF) for
 * connections, tables, cursors, indexes, SQL statements and searches. A handle
 * that was closed, or that names an object of the wrong kind, gives
 * KIV_ERR_INVALID_HANDLE.
 *
 * Texts out: the caller passes a buffer and, by reference, its capacity in
 * bytes. The engine writes at most that many bytes, adds a NUL only when room
 * is left, and stores the text's full length back. When the text does not fit,
 * the call copies what fits and returns KIV_ERR_BUFFER_TOO_SMALL with the
 * needed length stored. A NULL buffer with capacity 0 probes for the length.
 *
 * Field designators (KIVFIELD): either a 1-based field number, passed as
 * KIV_FIELD(n), or a field name. Names are read up to the NUL or to the first
 * trailing run of blanks and compared without regard to case. On statement
 * handles the same argument is a 1-based parameter number.
 */
#ifndef QEL32_H
#define QEL32_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t KIVHANDLE;
typedef uint32_t KIVRESULT;
typedef const char* KIVFIELD;

#define KIV_FIELD(n) ((KIVFIELD)(uintptr_t)(n))
/* Values below this are field numbers, not pointers to names. */
#define KIV_FIELD_NUMBER_LIMIT 0x10000u

#define KIV_API __attribute__((visibility("default")))

/* ---------------------------------------------------------------------
 * Result codes
 * ------------------------------------------------------------------- */
#define KIV_OK                        0u
#define KIV_ERR_TRUNCATED          2002u /* table layer: value truncated */
#define KIV_ERR_SQL_DECLINED       2003u /* the engine leaves this SQL text to the caller */
#define KIV_ERR_OUT_OF_MEMORY      5001u
#define KIV_ERR_TABLE_EXISTS       5002u
#define KIV_ERR_INT_RANGE          5003u /* integer value does not fit */
#define KIV_ERR_EMPTY_ARGUMENT     5004u
#define KIV_ERR_BUFFER_TOO_SMALL   5005u /* also: "exists" when probing with length 0 */
#define KIV_ERR_FILE_NOT_FOUND     5006u
#define KIV_ERR_IO                 5007u
#define KIV_ERR_CORRUPT_FILE       5008u
#define KIV_ERR_INVALID_HANDLE     5009u
#define KIV_ERR_INVALID_ARGUMENT   5010u
#define KIV_ERR_UNCLOSED_QUOTE     5011u
#define KIV_ERR_FIELD_NOT_FOUND    5012u
#define KIV_ERR_BAD_FIELD_DEF      5013u
#define KIV_ERR_NOT_APPLICABLE     5017u
#define KIV_ERR_BAD_LOCK_MODE      5019u
#define KIV_ERR_NO_SUCH_RECORD     5022u
#define KIV_ERR_CONNECTION_GONE    5024u
#define KIV_ERR_RECORD_LOCKED      5035u /* another handle or process holds the record */
#define KIV_ERR_TABLE_LOCKED       5036u /* another handle or process holds the table */
#define KIV_ERR_NO_FILTER          5037u
#define KIV_ERR_NO_SCOPE           5038u
#define KIV_ERR_READ_ONLY          5040u
#define KIV_ERR_NO_RELATIVE_POS    5041u
#define KIV_ERR_SHARING            5042u /* file opened exclusively elsewhere, or open elsewhere when exclusive is asked */
#define KIV_ERR_CONVERSION         5048u
#define KIV_ERR_PERMISSION         5054u
#define KIV_ERR_NO_MORE_TABLES     5059u
#define KIV_ERR_STATIC_VIEW        5064u
#define KIV_ERR_NO_CURRENT_RECORD  5068u /* no current record / no value */
#define KIV_ERR_VALUE_CUT          5071u /* value longer than the field: written cut */
#define KIV_ERR_EXPRESSION         5075u /* an expression cannot be parsed or evaluated */
#define KIV_ERR_OFFSET_BEYOND      5082u
#define KIV_ERR_NOTHING_TO_CANCEL  5085u
#define KIV_ERR_NOTHING_LOCKED     5087u
#define KIV_ERR_PASSWORD_MISSING   5097u
#define KIV_ERR_PASSWORD_REQUIRED  5098u
#define KIV_ERR_STATEMENT_CLOSED   5106u
#define KIV_ERR_NO_ROW_COUNT       5117u
#define KIV_ERR_DD_UNKNOWN_NAME    5132u
#define KIV_ERR_DD_NO_MORE_OBJECTS 5137u
#define KIV_ERR_DD_NO_PROPERTY     5138u
#define KIV_ERR_NOT_AVAILABLE      5299u /* "function not available in this engine build" */
#define KIV_ERR_LOGIN              7078u
#define KIV_ERR_NO_PRIVILEGE       7087u
#define KIV_ERR_SQL                7200u
#define KIV_ERR_SQL_STATEMENT      7209u

/* ---------------------------------------------------------------------
 * Constants
 * ------------------------------------------------------------------- */
/* server-type bits */
#define KIV_SERVER_LOCAL    1
#define KIV_SERVER_REMOTE   2
#define KIV_SERVER_INTERNET 4

/* table types */
#define KIV_TABLE_DEFAULT 0 /* let the dictionary (or the file) decide */
#define KIV_TABLE_NTX     1
#define KIV_TABLE_CDX     2
#define KIV_TABLE_KDT     3

/* character types */
#define KIV_CHAR_ANSI 1
#define KIV_CHAR_OEM  2

/* lock types */
#define KIV_LOCK_COMPATIBLE  0
#define KIV_LOCK_PROPRIETARY 1

/* rights checking */
#define KIV_RIGHTS_CHECK    1
#define KIV_RIGHTS_NO_CHECK 2

/* open options (application layout) */
#define KIV_OPEN_SHARED          0
#define KIV_OPEN_EXCLUSIVE       1
#define KIV_OPEN_READ_ONLY       2
#define KIV_OPEN_SHARED_EXPLICIT 4
#define KIV_OPEN_REINDEX_ON_COLLATION 256
#define KIV_OPEN_IGNORE_COLLATION     512
/* open options (driver layout, selected by KIV_OPEN_DRIVER_LAYOUT):
   low bits 4 exclusive / 1 shared; 0x10 read, 0x20 update, 0x40 insert,
   0x80 delete requested. */
#define KIV_OPEN_DRIVER_LAYOUT   0x20000u
#define KIV_OPEN_DRV_SHARED      0x1u
#define KIV_OPEN_DRV_EXCLUSIVE   0x4u
#define KIV_OPEN_DRV_READ        0x10u
#define KIV_OPEN_DRV_UPDATE      0x20u
#define KIV_OPEN_DRV_INSERT      0x40u
#define KIV_OPEN_DRV_DELETE      0x80u

/* table option word reported by KivGetTableOpenOptions */
#define KIV_TOPT_EXCLUSIVE 0x01u
#define KIV_TOPT_READ_ONLY 0x02u
#define KIV_TOPT_UPDATE    0x20u
#define KIV_TOPT_INSERT    0x40u

/* column permission bits */
#define KIV_COLPERM_SELECT 1
#define KIV_COLPERM_UPDATE 2
#define KIV_COLPERM_INSERT 4

/* field-type codes */
#define KIV_FT_LOGICAL      1
#define KIV_FT_NUMERIC      2
#define KIV_FT_DATE         3
#define KIV_FT_CHARACTER    4
#define KIV_FT_MEMO         5
#define KIV_FT_BINARY       6
#define KIV_FT_IMAGE        7
#define KIV_FT_VARCHAR      8
#define KIV_FT_COMPACTDATE  9
#define KIV_FT_DOUBLE      10
#define KIV_FT_INTEGER     11
#define KIV_FT_SHORTINT    12
#define KIV_FT_TIME        13
#define KIV_FT_TIMESTAMP   14
#define KIV_FT_AUTOINC     15
#define KIV_FT_RAW         16
#define KIV_FT_CURDOUBLE   17
#define KIV_FT_MONEY       18
#define KIV_FT_CICHARACTER 20
#define KIV_FT_ROWVERSION  21
#define KIV_FT_MODTIME     22
#define KIV_FT_GENERAL     51
#define KIV_FT_PICTURE     52

/* memo data types (KivGetMemoDataType) */
#define KIV_MEMO_TEXT   5
#define KIV_MEMO_BINARY 6

/* binary kind for KivSetBinary */
#define KIV_BINARY_KIND 6

/* record-count modes */
#define KIV_COUNT_RESPECT_FILTERS 1
#define KIV_COUNT_IGNORE_FILTERS  2
#define KIV_COUNT_RESPECT_SCOPES  3
#define KIV_COUNT_FRESH           4 /* added to a mode, or alone (= IGNORE_FILTERS): re-read from the file */
#define KIV_COUNT_CARDINALITY     8192
#define KIV_COUNT_CARDINALITY_SMALL 0x8000

/* seek */
#define KIV_KEY_RAW  1
#define KIV_KEY_TEXT 2
#define KIV_SEEK_SOFT 1
#define KIV_SEEK_HARD 2

/* scopes */
#define KIV_SCOPE_TOP    1
#define KIV_SCOPE_BOTTOM 2

/* AOF options */
#define KIV_AOF_DYNAMIC 0
#define KIV_AOF_KEYSET  4
#define KIV_AOF_FIXED   8
#define KIV_AOF_RESOLVE_NOW   1
#define KIV_AOF_RESOLVE_LATER 2

/* index create options and flags */
#define KIV_INDEX_UNIQUE     1
#define KIV_INDEX_COMPOUND   2
#define KIV_INDEX_DESCENDING 8
#define KIV_INDEXFLAG_UNIQUE     0x01
#define KIV_INDEXFLAG_DESCENDING 0x40

/* key types */
#define KIV_KEY_LOGICAL   1
#define KIV_KEY_NUMERIC   2
#define KIV_KEY_DATE      3
#define KIV_KEY_CHARACTER 4

/* handle types (KivGetHandleType) */
#define KIV_HT_TABLE          1
#define KIV_HT_INDEX          2
#define KIV_HT_CURSOR         3
#define KIV_HT_STATEMENT      4
#define KIV_HT_CONNECTION     5
#define KIV_HT_DD_CONNECTION  6
#define KIV_HT_FIND           8
#define KIV_HT_MANAGEMENT     9

/* dictionary objects and properties */
#define KIV_DD_OBJ_TABLE      1
#define KIV_DD_OBJ_RELATION   7 /* a referential-integrity relation between two tables */
#define KIV_DD_OBJ_PROCEDURE 10
#define KIV_DD_PROP_DATA_PATH       100
#define KIV_DD_PROP_PRIMARY_KEY     202
#define KIV_DD_PROP_DEFAULT_INDEX   213
#define KIV_DD_PROP_PROC_INPUT      800
#define KIV_DD_PROP_PROC_OUTPUT     801
#define KIV_DD_PROP_USER_GROUPS    1102
/* properties of a relation: the parent (primary-key) table and its key
   columns, the child (foreign-key) table and its columns (column names
   joined by ';', in key order), and the update and delete rules as words */
#define KIV_DD_PROP_RI_PARENT_TABLE   1300
#define KIV_DD_PROP_RI_PARENT_COLUMNS 1301
#define KIV_DD_PROP_RI_CHILD_TABLE    1302
#define KIV_DD_PROP_RI_CHILD_COLUMNS  1303
#define KIV_DD_PROP_RI_UPDATE_RULE    1304
#define KIV_DD_PROP_RI_DELETE_RULE    1305
/* any other property of a procedure is its description */
#define KIV_DD_PROP_PROC_DESCRIPTION  802
/* properties of a field of the column catalogue (KivDDGetFieldProperty) */
#define KIV_DD_PROP_FIELD_COMMENT        1
#define KIV_DD_PROP_FIELD_DEFAULT_VALUE  1400

/* dictionary table rights byte */
#define KIV_DD_RIGHT_SELECT 0x01
#define KIV_DD_RIGHT_UPDATE 0x02
#define KIV_DD_RIGHT_INSERT 0x10
#define KIV_DD_RIGHT_DELETE 0x20

/* path parts (KivGetPathPart) */
#define KIV_PATH_DIRECTORY 4
#define KIV_PATH_TABLE     5
#define KIV_PATH_FILE      6

/* Julian anchors */
#define KIV_JULIAN_1899_12_30 2415019
#define KIV_JULIAN_DAY_BEFORE_0001_01_01 1721425

/* library version reported by KivGetLibraryVersion */
#define KIV_LIBRARY_VERSION 0x260000u

/* ---------------------------------------------------------------------
 * A. Library, connections, settings
 * ------------------------------------------------------------------- */
KIV_API KIVRESULT KivConnect60(const char* path, uint16_t serverTypes, const char* user,
                               const char* password, uint32_t options, KIVHANDLE* connection);
KIV_API KIVRESULT KivConnect(const char* path, KIVHANDLE* connection);
KIV_API KIVRESULT KivDisconnect(KIVHANDLE connection);
KIV_API KIVRESULT KivFindConnection(const char* path, KIVHANDLE* connection);
KIV_API KIVRESULT KivGetConnectionType(KIVHANDLE connection, uint16_t* type);
KIV_API KIVRESULT KivSetServerType(uint16_t serverTypes);
KIV_API KIVRESULT KivIsConnectionAlive(KIVHANDLE connection, uint16_t* alive);
KIV_API KIVRESULT KivGetServerName(KIVHANDLE connection, char* buf, uint32_t* len);
KIV_API KIVRESULT KivGetServerTime(KIVHANDLE connection, char* dateBuf, uint32_t* dateLen,
                                   char* timeBuf, uint32_t* timeLen, uint32_t* msSinceMidnight);
KIV_API KIVRESULT KivGetNumActiveLinks(KIVHANDLE connection, uint16_t* count);
KIV_API KIVRESULT KivGetActiveLinkInfo(KIVHANDLE connection, uint16_t index, char* buf, uint32_t* len);
KIV_API KIVRESULT KivCacheOpenTables(uint16_t count);
KIV_API KIVRESULT KivCacheOpenCursors(uint16_t count);
KIV_API KIVRESULT KivCloseCachedTables(KIVHANDLE connection);
KIV_API KIVRESULT KivMgConnect(const char* path, const char* user, const char* password, KIVHANDLE* mgmt);
KIV_API KIVRESULT KivMgGetInstallInfo(KIVHANDLE mgmt, char* buf, uint32_t* len);
KIV_API KIVRESULT KivMgDisconnect(KIVHANDLE mgmt);
KIV_API KIVRESULT KivApplicationExit(void);
KIV_API KIVRESULT KivThreadExit(void);
KIV_API KIVRESULT KivGetVersion(uint16_t* major, uint16_t* minor, char* letter, char* description,
                                uint32_t* len);
KIV_API KIVRESULT KivGetLibraryVersion(uint32_t* version);
KIV_API KIVRESULT KivGetCollationLang(char* buf, uint32_t* len);
KIV_API KIVRESULT KivSetDateFormat(const char* format);
KIV_API KIVRESULT KivGetDateFormat(char* buf, uint32_t* len);
KIV_API KIVRESULT KivShowDeleted(uint16_t show);
KIV_API KIVRESULT KivGetDeleted(uint16_t* shown);
KIV_API KIVRESULT KivGetHandleType(KIVHANDLE handle, uint16_t* type);
KIV_API KIVRESULT KivFindFirstTable(KIVHANDLE connection, const char* mask, char* buf, uint32_t* len,
                                    KIVHANDLE* find);
KIV_API KIVRESULT KivFindNextTable(KIVHANDLE find, char* buf, uint32_t* len);
KIV_API KIVRESULT KivFindFirstTable62(KIVHANDLE connection, const char* mask, char* nameBuf,
                                      uint32_t* nameLen, char* pathBuf, uint32_t* pathLen,
                                      KIVHANDLE* find);
KIV_API KIVRESULT KivFindNextTable62(KIVHANDLE find, char* nameBuf, uint32_t* nameLen, char* pathBuf,
                                     uint32_t* pathLen);
KIV_API KIVRESULT KivFindClose(KIVHANDLE find);
/* a connect setting made before every connect; accepted and kept */
KIV_API KIVRESULT KivSetConnectSetting(uint32_t value);
/* 1 when the connection cannot run transactions */
KIV_API KIVRESULT KivGetTransactionsDisabled(KIVHANDLE connection, uint16_t* disabled);
KIV_API KIVRESULT KivGetConnectionPath(KIVHANDLE connection, char* buf, uint32_t* len);
/* parts of a path: KIV_PATH_DIRECTORY, KIV_PATH_TABLE (name without extension), KIV_PATH_FILE */
KIV_API KIVRESULT KivGetPathPart(const char* path, uint16_t part, char* buf, uint32_t* len);
/* collation-aware, case-insensitive comparison; *cmp < 0, 0, > 0 */
KIV_API KIVRESULT KivCompareStrings(KIVHANDLE connection, const char* a, const char* b, int32_t* cmp);
/* the process's current database folder ("use name"); empty when none was chosen */
KIV_API KIVRESULT KivSetCurrentDatabase(const char* name);
KIV_API KIVRESULT KivGetCurrentDatabase(char* buf, uint32_t* len);

/* ---------------------------------------------------------------------
 * B. Errors
 * ------------------------------------------------------------------- */
KIV_API KIVRESULT KivGetLastError(uint32_t* code, char* buf, uint32_t* len);
KIV_API KIVRESULT KivSetLastError(uint32_t code, const char* text);
KIV_API KIVRESULT KivClearLastError(void);
KIV_API KIVRESULT KivGetErrorString(uint32_t code, char* buf, uint32_t* len);
KIV_API KIVRESULT KivShowError(const char* title);

/* ---------------------------------------------------------------------
 * C. Transactions
 * ------------------------------------------------------------------- */
KIV_API KIVRESULT KivBeginTransaction(KIVHANDLE connection);
KIV_API KIVRESULT KivCommitTransaction(KIVHANDLE connection);
KIV_API KIVRESULT KivRollbackTransaction(KIVHANDLE connection);
KIV_API KIVRESULT KivInTransaction(KIVHANDLE connection, uint16_t* open);
KIV_API KIVRESULT KivRollbackTransaction80(KIVHANDLE connection, const char* savepoint, uint32_t options);
KIV_API KIVRESULT KivCreateSavepoint(KIVHANDLE connection, const char* savepoint, uint32_t options);

/* ---------------------------------------------------------------------
 * D. Data dictionary
 * ------------------------------------------------------------------- */
KIV_API KIVRESULT KivDDGetTableProperty(KIVHANDLE connection, const char* table, uint16_t property,
                                        char* buf, uint32_t* len);
KIV_API KIVRESULT KivDDGetFieldProperty(KIVHANDLE connection, const char* table, const char* field,
                                        uint16_t property, char* buf, uint32_t* len);
KIV_API KIVRESULT KivDDGetUserProperty(KIVHANDLE connection, const char* user, uint16_t property,
                                       char* buf, uint16_t* len);
KIV_API KIVRESULT KivDDGetObjectProperty(KIVHANDLE connection, const char* object, uint16_t property,
                                         char* buf, uint32_t* len);
KIV_API KIVRESULT KivDDGetDatabaseProperty(KIVHANDLE connection, uint16_t property, char* buf,
                                           uint32_t* len);
KIV_API KIVRESULT KivDDGetTableRights(KIVHANDLE connection, const char* table, uint8_t* rights);
KIV_API KIVRESULT KivDDRenameObject(KIVHANDLE connection, const char* oldName, const char* newName,
                                    uint16_t objectType, uint32_t options);
KIV_API KIVRESULT KivDDFindFirstObject(KIVHANDLE connection, uint16_t objectType, const char* parent,
                                       char* buf, uint32_t* len, KIVHANDLE* find);
KIV_API KIVRESULT KivDDFindNextObject(KIVHANDLE find, char* buf, uint32_t* len);
KIV_API KIVRESULT KivDDFindClose(KIVHANDLE find);
/* Writes a new dictionary file from a description, one entry per line:
     user NAME [PASSWORD [GROUP;GROUP...]]   (without users: KIVSYS with no password)
     table NAME FILE [TYPE]                  (the catalogue is read from the table file)
     column TABLE NUMBER NAME TYPE LENGTH DECIMALS   (adds or replaces a catalogue entry)
     drop-column TABLE NAME
     procedure NAME [INPUT [OUTPUT [DESCRIPTION...]]]   ("-" stands for an empty list)
     relation NAME PARENT PARENT-COLUMNS CHILD CHILD-COLUMNS [UPDATE-RULE [DELETE-RULE]]
         (columns joined by ';'; rules CASCADE, RESTRICT, SETNULL, SETDEFAULT or
          NOACTION, RESTRICT when left out)
     property OBJECT NUMBER VALUE...
     field-property TABLE FIELD NUMBER VALUE...   (KIV_DD_PROP_FIELD_COMMENT, KIV_DD_PROP_FIELD_DEFAULT_VALUE)
     rights TABLE BYTE
   File names are relative to the dictionary's folder; '#' starts a comment line. */
KIV_API KIVRESULT KivDDCreate(const char* path, const char* description);

/* ---------------------------------------------------------------------
 * E. Tables
 * ------------------------------------------------------------------- */
KIV_API KIVRESULT KivOpenTable(KIVHANDLE connection, const char* name, const char* alias,
                               uint16_t tableType, uint16_t charType, uint16_t lockType,
                               uint16_t rights, uint32_t options, KIVHANDLE* table);
/* Field definitions: entries joined by ';'. Letter form "NAME,C,20;AMOUNT,N,10,2;D1,D;M1,M"
   or type words "NAME,CHAR,20;N,DOUBLE,2;T,TIMESTAMP". The table is created and opened
   exclusively. DBF tables with integer, double, timestamp or money fields are written as
   version 0x30 (Visual FoxPro), with FoxPro memo files (.fpt) in both DBF types. */
KIV_API KIVRESULT KivCreateTable(KIVHANDLE connection, const char* name, const char* alias,
                                 uint16_t tableType, uint16_t charType, uint16_t lockType,
                                 uint16_t rights, uint16_t memoBlockSize, const char* fieldDefs,
                                 KIVHANDLE* table);
KIV_API KIVRESULT KivCloseTable(KIVHANDLE table);
KIV_API KIVRESULT KivCloseAllTables(KIVHANDLE connection);
KIV_API KIVRESULT KivGetTableType(KIVHANDLE table, uint16_t* type);
KIV_API KIVRESULT KivGetTableCharType(KIVHANDLE table, uint16_t* charType);
KIV_API KIVRESULT KivGetTableOpenOptions(KIVHANDLE table, uint32_t* options);
/* what this handle may do with the table: 0x10 read, 0x20 update, 0x40 insert,
   0x80 delete (only read on a read-only handle) */
KIV_API KIVRESULT KivGetTablePrivileges(KIVHANDLE table, uint8_t* privileges);
KIV_API KIVRESULT KivGetTableAlias(KIVHANDLE table, char* buf, uint32_t* len);
KIV_API KIVRESULT KivGetTableFilename(KIVHANDLE table, char* buf, uint32_t* len);
KIV_API KIVRESULT KivGetTableHandle(const char* name, KIVHANDLE* table);
KIV_API KIVRESULT KivGetRecordLength(KIVHANDLE table, uint32_t* length);
KIV_API KIVRESULT KivGetNumFields(KIVHANDLE table, uint32_t* count);
KIV_API KIVRESULT KivGetRecordCount(KIVHANDLE handle, uint16_t mode, uint32_t* count);
KIV_API KIVRESULT KivPackTable(KIVHANDLE table);
KIV_API KIVRESULT KivZapTable(KIVHANDLE table);
KIV_API KIVRESULT KivReindex(KIVHANDLE table);
KIV_API KIVRESULT KivCopyTableContents(KIVHANDLE source, KIVHANDLE target, uint16_t options);
KIV_API KIVRESULT KivConvertTable(KIVHANDLE table, uint16_t options, const char* newName, uint16_t tableType);
KIV_API KIVRESULT KivCacheRecords(KIVHANDLE table, uint16_t count);
KIV_API KIVRESULT KivIsTableEncrypted(KIVHANDLE table, uint16_t* encrypted);
KIV_API KIVRESULT KivIsEncryptionEnabled(KIVHANDLE table, uint16_t* enabled);
KIV_API KIVRESULT KivEnableEncryption(KIVHANDLE table, const char* password);
KIV_API KIVRESULT KivDisableEncryption(KIVHANDLE table);
KIV_API KIVRESULT KivEncryptTable(KIVHANDLE table);
KIV_API KIVRESULT KivDecryptTable(KIVHANDLE table);
KIV_API KIVRESULT KivSetStatementPassword(KIVHANDLE statement, const char* table, const char* password);
KIV_API KIVRESULT KivClearStatementPasswords(KIVHANDLE statement);

/* ---------------------------------------------------------------------
 * F. Field definitions
 * ------------------------------------------------------------------- */
KIV_API KIVRESULT KivGetFieldName(KIVHANDLE table, uint32_t fieldNumber, char* buf, uint32_t* len);
KIV_API KIVRESULT KivGetFieldType(KIVHANDLE table, KIVFIELD field, uint16_t* type);
KIV_API KIVRESULT KivGetFieldLength(KIVHANDLE table, KIVFIELD field, uint32_t* length);
/* the longest value the field takes: a VARCHAR's declared length (its
   record holds a pointer); the record length for every other type */
KIV_API KIVRESULT KivGetFieldMaxLength(KIVHANDLE table, KIVFIELD field, uint32_t* length);
KIV_API KIVRESULT KivGetFieldDecimals(KIVHANDLE table, KIVFIELD field, uint16_t* decimals);
KIV_API KIVRESULT KivGetFieldOffset(KIVHANDLE table, KIVFIELD field, uint32_t* offset);
KIV_API KIVRESULT KivGetColumnPermissions(KIVHANDLE table, KIVFIELD field, uint8_t* permissions);
KIV_API KIVRESULT KivGetMemoDataType(KIVHANDLE table, KIVFIELD field, uint16_t* type);

/* ---------------------------------------------------------------------
 * G. Field and record values
 * ------------------------------------------------------------------- */
KIV_API KIVRESULT KivGetRecord(KIVHANDLE table, void* buf, uint32_t* len);
KIV_API KIVRESULT KivSetRecord(KIVHANDLE table, const void* buf, uint32_t len);
/* option: 0 as stored; 1 trims trailing blanks of character values */
KIV_API KIVRESULT KivGetField(KIVHANDLE table, KIVFIELD field, char* buf, uint32_t* len, uint16_t option);
KIV_API KIVRESULT KivSetField(KIVHANDLE handle, KIVFIELD field, const void* data, uint32_t len);
KIV_API KIVRESULT KivSetFieldRaw(KIVHANDLE handle, KIVFIELD field, const void* data, uint32_t len);
KIV_API KIVRESULT KivSetEmpty(KIVHANDLE handle, KIVFIELD field);
KIV_API KIVRESULT KivIsEmpty(KIVHANDLE table, KIVFIELD field, uint16_t* empty);
KIV_API KIVRESULT KivGetMemoLength(KIVHANDLE table, KIVFIELD field, uint32_t* length);
KIV_API KIVRESULT KivGetBinaryLength(KIVHANDLE table, KIVFIELD field, uint32_t* length);
KIV_API KIVRESULT KivGetBinary(KIVHANDLE table, KIVFIELD field, uint32_t offset, void* buf, uint32_t* len);
KIV_API KIVRESULT KivSetBinary(KIVHANDLE handle, KIVFIELD field, uint16_t kind, uint32_t totalSize,
                               uint32_t offset, const void* data, uint32_t len);
KIV_API KIVRESULT KivSetString(KIVHANDLE handle, KIVFIELD field, const char* text, uint32_t len);
KIV_API KIVRESULT KivSetDouble(KIVHANDLE handle, KIVFIELD field, double value);
KIV_API KIVRESULT KivSetLogical(KIVHANDLE handle, KIVFIELD field, uint16_t value);
KIV_API KIVRESULT KivSetLong(KIVHANDLE handle, KIVFIELD field, int32_t value);
KIV_API KIVRESULT KivSetJulian(KIVHANDLE handle, KIVFIELD field, int32_t julianDay);
KIV_API KIVRESULT KivSetMilliseconds(KIVHANDLE handle, KIVFIELD field, int32_t msSinceMidnight);
/* 8 bytes: u32 Julian day, u32 ms since midnight (little-endian) */
KIV_API KIVRESULT KivSetTimeStampRaw(KIVHANDLE handle, KIVFIELD field, const void* raw8);
/* ISO texts "YYYY-MM-DD", "HH:MM:SS[.mmm]", "YYYY-MM-DD HH:MM:SS[.mmm]" */
KIV_API KIVRESULT KivSetDateText(KIVHANDLE handle, KIVFIELD field, const char* text, uint32_t len);
KIV_API KIVRESULT KivSetTimeText(KIVHANDLE handle, KIVFIELD field, const char* text, uint32_t len);
KIV_API KIVRESULT KivSetTimeStampText(KIVHANDLE handle, KIVFIELD field, const char* text, uint32_t len);
KIV_API KIVRESULT KivGetDouble(KIVHANDLE table, KIVFIELD field, double* value);
KIV_API KIVRESULT KivGetLogical(KIVHANDLE table, KIVFIELD field, uint16_t* value);
KIV_API KIVRESULT KivGetLong(KIVHANDLE table, KIVFIELD field, int32_t* value);
KIV_API KIVRESULT KivGetJulian(KIVHANDLE table, KIVFIELD field, int32_t* julianDay);
KIV_API KIVRESULT KivGetMilliseconds(KIVHANDLE table, KIVFIELD field, int32_t* msSinceMidnight);
KIV_API KIVRESULT KivClearRecordBuffer(KIVHANDLE table, void* buf, uint32_t len);
KIV_API KIVRESULT KivGetNullRecord(KIVHANDLE table, void* buf, uint32_t len);
KIV_API KIVRESULT KivGetLastAutoinc(KIVHANDLE handle, uint32_t* value);
KIV_API KIVRESULT KivGetRecordCRC(KIVHANDLE table, uint32_t* crc, uint32_t options);

/* ---------------------------------------------------------------------
 * H. Record editing and locking
 * ------------------------------------------------------------------- */
KIV_API KIVRESULT KivAppendRecord(KIVHANDLE table);
KIV_API KIVRESULT KivWriteRecord(KIVHANDLE table);
KIV_API KIVRESULT KivWriteAllRecords(void);
KIV_API KIVRESULT KivDeleteRecord(KIVHANDLE table);
KIV_API KIVRESULT KivRecallRecord(KIVHANDLE table);
KIV_API KIVRESULT KivIsRecordDeleted(KIVHANDLE table, uint16_t* deleted);
KIV_API KIVRESULT KivCancelUpdate(KIVHANDLE table);
KIV_API KIVRESULT KivRefreshRecord(KIVHANDLE table);
/* recordNumber 0 = the current record */
KIV_API KIVRESULT KivLockRecord(KIVHANDLE table, uint32_t recordNumber);
KIV_API KIVRESULT KivUnlockRecord(KIVHANDLE table, uint32_t recordNumber);
KIV_API KIVRESULT KivLockTable(KIVHANDLE table);
KIV_API KIVRESULT KivUnlockTable(KIVHANDLE table);

/* ---------------------------------------------------------------------
 * I. Navigation, positions, bookmarks
 * ------------------------------------------------------------------- */
KIV_API KIVRESULT KivGotoTop(KIVHANDLE nav);
KIV_API KIVRESULT KivGotoBottom(KIVHANDLE nav);
KIV_API KIVRESULT KivGotoBOF(KIVHANDLE nav);
KIV_API KIVRESULT KivGotoRecord(KIVHANDLE table, uint32_t recordNumber);
KIV_API KIVRESULT KivSkip(KIVHANDLE nav, int32_t count);
KIV_API KIVRESULT KivAtBOF(KIVHANDLE table, uint16_t* bof);
KIV_API KIVRESULT KivAtEOF(KIVHANDLE table, uint16_t* eof);
/* option is always 2: the physical record number (at EOF: record count + 1) */
KIV_API KIVRESULT KivGetRecordNum(KIVHANDLE table, uint16_t option, uint32_t* recordNumber);
KIV_API KIVRESULT KivGetBookmark(KIVHANDLE table, uint32_t* position);
KIV_API KIVRESULT KivGetBookmark60(KIVHANDLE nav, void* buf, uint32_t* len);
KIV_API KIVRESULT KivGetBookmarkLength(KIVHANDLE nav, uint32_t* length);
KIV_API KIVRESULT KivGotoBookmark(KIVHANDLE table, uint32_t position);
KIV_API KIVRESULT KivCompareBookmarks(const void* bookmark1, const void* bookmark2, int32_t* cmp);
KIV_API KIVRESULT KivIsRecordVisible(KIVHANDLE nav, uint16_t* visible);
KIV_API KIVRESULT KivIsFound(KIVHANDLE table, uint16_t* found);

/* ---------------------------------------------------------------------
 * J. Indexes, keys, seeking
 * ------------------------------------------------------------------- */
KIV_API KIVRESULT KivOpenIndex(KIVHANDLE table, const char* path, KIVHANDLE* handles, uint16_t* count);
KIV_API KIVRESULT KivCloseIndex(KIVHANDLE index);
KIV_API KIVRESULT KivCloseAllIndexes(KIVHANDLE table);
KIV_API KIVRESULT KivCreateIndex(KIVHANDLE table, const char* fileName, const char* tag,
                                 const char* keyExpr, const char* forExpr, const char* whileExpr,
                                 uint32_t options, KIVHANDLE* index);
KIV_API KIVRESULT KivGetAllIndexes(KIVHANDLE table, KIVHANDLE* handles, uint16_t* count);
KIV_API KIVRESULT KivGetNumIndexes(KIVHANDLE table, uint16_t* count);
KIV_API KIVRESULT KivGetIndexHandle(KIVHANDLE table, const char* name, KIVHANDLE* index);
KIV_API KIVRESULT KivGetIndexHandleByOrder(KIVHANDLE table, uint16_t order, KIVHANDLE* index);
KIV_API KIVRESULT KivGetIndexName(KIVHANDLE index, char* buf, uint32_t* len);
KIV_API KIVRESULT KivGetIndexExpr(KIVHANDLE index, char* buf, uint32_t* len);
KIV_API KIVRESULT KivGetIndexCondition(KIVHANDLE index, char* buf, uint32_t* len);
KIV_API KIVRESULT KivGetIndexFilename(KIVHANDLE index, uint16_t form, char* buf, uint32_t* len);
KIV_API KIVRESULT KivGetIndexFlags(KIVHANDLE index, uint32_t* flags);
KIV_API KIVRESULT KivGetIndexPageSize(KIVHANDLE index, uint16_t* pageSize);
KIV_API KIVRESULT KivGetNumSegments(KIVHANDLE index, uint16_t* count);
KIV_API KIVRESULT KivGetSegmentFieldname(KIVHANDLE index, uint16_t segment, char* buf, uint32_t* len);
/* up to 15 key field numbers, ended by 0 */
KIV_API KIVRESULT KivGetIndexKeyFields(KIVHANDLE index, uint16_t* fields, uint16_t* count);
KIV_API KIVRESULT KivIsKeyColumnDescending(KIVHANDLE index, uint16_t column, uint16_t* descending);
KIV_API KIVRESULT KivIsIndexCustom(KIVHANDLE index, uint16_t* custom);
KIV_API KIVRESULT KivGetKeyLength(KIVHANDLE index, uint16_t* length);
KIV_API KIVRESULT KivGetKeyType(KIVHANDLE index, uint16_t* type);
KIV_API KIVRESULT KivGetKeyNum(KIVHANDLE nav, uint16_t option, uint32_t* keyNumber);
KIV_API KIVRESULT KivGetKeyCount(KIVHANDLE nav, uint16_t option, uint32_t* count);
KIV_API KIVRESULT KivGetRelKeyPos(KIVHANDLE nav, double* position);
KIV_API KIVRESULT KivSetRelKeyPos(KIVHANDLE nav, double position);
KIV_API KIVRESULT KivExtractKey(KIVHANDLE index, char* buf, uint32_t* len);
KIV_API KIVRESULT KivInitRawKey(KIVHANDLE index);
KIV_API KIVRESULT KivBuildRawKey(KIVHANDLE index, void* buf, uint32_t* len);
KIV_API KIVRESULT KivStepIndexKey(KIVHANDLE index, void* key, uint32_t keyLength, int16_t direction);
KIV_API KIVRESULT KivSeek(KIVHANDLE nav, const void* key, uint32_t keyLength, uint16_t dataType,
                          uint16_t seekType, uint16_t* found);
KIV_API KIVRESULT KivSeekLast(KIVHANDLE nav, const void* key, uint32_t keyLength, uint16_t dataType,
                              uint16_t* found);
/* What kind of order an index handle is: 1 or 0 in the out value. An order is
   the primary key when the data dictionary its table was opened through names
   it as the table's primary key (property KIV_DD_PROP_PRIMARY_KEY); the orders
   of free tables never are. */
KIV_API KIVRESULT KivIsIndexDescending(KIVHANDLE index, uint16_t* descending);
KIV_API KIVRESULT KivIsIndexUnique(KIVHANDLE index, uint16_t* unique);
KIV_API KIVRESULT KivIsIndexPrimaryKey(KIVHANDLE index, uint16_t* primary);

/* ---------------------------------------------------------------------
 * K. Scopes, filters, expressions, locate, relations
 * ------------------------------------------------------------------- */
KIV_API KIVRESULT KivSetScope(KIVHANDLE index, uint16_t which, const void* key, uint32_t keyLength,
                              uint16_t dataType);
KIV_API KIVRESULT KivGetScope(KIVHANDLE index, uint16_t which, void* buf, uint32_t* len);
KIV_API KIVRESULT KivClearScope(KIVHANDLE index, uint16_t which);
KIV_API KIVRESULT KivClearAllScopes(KIVHANDLE table);
KIV_API KIVRESULT KivSetAOF(KIVHANDLE table, const char* expression, uint16_t options);
KIV_API KIVRESULT KivGetAOF(KIVHANDLE table, char* buf, uint32_t* len);
KIV_API KIVRESULT KivClearAOF(KIVHANDLE table);
KIV_API KIVRESULT KivSetFilter(KIVHANDLE table, const char* expression);
KIV_API KIVRESULT KivGetFilter(KIVHANDLE table, char* buf, uint32_t* len);
KIV_API KIVRESULT KivClearFilter(KIVHANDLE table);
KIV_API KIVRESULT KivSetExact22(KIVHANDLE table, uint16_t exact);
KIV_API KIVRESULT KivGetExact22(KIVHANDLE table, uint16_t* exact);
KIV_API KIVRESULT KivEvalLogicalExpr(KIVHANDLE nav, const char* expression, uint16_t* result);
KIV_API KIVRESULT KivEvalStringExpr(KIVHANDLE table, const char* expression, char* buf, uint32_t* len);
KIV_API KIVRESULT KivEvalNumericExpr(KIVHANDLE table, const char* expression, double* result);
KIV_API KIVRESULT KivExpressionLongToShort(KIVHANDLE table, const char* text, char* buf, uint32_t* len);
KIV_API KIVRESULT KivExpressionShortToLong(KIVHANDLE table, const char* text, char* buf, uint32_t* len);
KIV_API KIVRESULT KivLocate(KIVHANDLE table, const char* expression, uint16_t fromTop, uint16_t* found);
KIV_API KIVRESULT KivContinue(KIVHANDLE table, uint16_t* found);
KIV_API KIVRESULT KivClearRelation(KIVHANDLE table);

/* ---------------------------------------------------------------------
 * L. SQL statements and cursors
 * ------------------------------------------------------------------- */
KIV_API KIVRESULT KivCreateSQLStatement(KIVHANDLE connection, KIVHANDLE* statement);
KIV_API KIVRESULT KivCloseSQLStatement(KIVHANDLE statement);
KIV_API KIVRESULT KivResetSQLStatement(KIVHANDLE statement);
KIV_API KIVRESULT KivStmtSetTableLockType(KIVHANDLE statement, uint16_t lockType);
KIV_API KIVRESULT KivStmtSetTableCharType(KIVHANDLE statement, uint16_t charType);
KIV_API KIVRESULT KivStmtSetTableRights(KIVHANDLE statement, uint16_t rights);
/* 1 read-only cursors, 2 live cursors */
KIV_API KIVRESULT KivStmtSetTableReadOnly(KIVHANDLE statement, uint16_t readOnly);
KIV_API KIVRESULT KivStmtSetTableType(KIVHANDLE statement, uint16_t tableType);
KIV_API KIVRESULT KivStmtConstrainUpdates(KIVHANDLE statement, uint16_t constrain);
KIV_API KIVRESULT KivStmtReadAllColumns(KIVHANDLE statement, uint16_t readAll);
KIV_API KIVRESULT KivPrepareSQL(KIVHANDLE statement, const char* text);
/* One result column as KivPrepareSQLDescribe describes it. */
typedef struct KivColumnDescription {
    char name[130];    /* NUL-terminated */
    uint16_t type;     /* field-type code */
    uint16_t decimals;
    uint16_t reserved;
    uint32_t length;   /* bytes in the record image (varchar: its maximum) */
} KivColumnDescription;
/* Prepares and describes the result columns into buf, an array of
   KivColumnDescription of bufSize bytes; *count in: at most that many columns
   are written, out: the number of result columns (0 for a text without a
   result set). */
KIV_API KIVRESULT KivPrepareSQLDescribe(KIVHANDLE statement, const char* text, void* buf,
                                        uint32_t bufSize, uint32_t* count);
/* KIV_ERR_SQL_DECLINED when the engine leaves the text to the caller */
KIV_API KIVRESULT KivCheckSQL(KIVHANDLE statement, const char* text);
KIV_API KIVRESULT KivVerifySQL(KIVHANDLE statement, const char* text);
KIV_API KIVRESULT KivExecuteSQL(KIVHANDLE statement, KIVHANDLE* cursor);
KIV_API KIVRESULT KivExecuteSQLDirect(KIVHANDLE statement, const char* text, KIVHANDLE* cursor);
/* Stops the statement's connection's SQL running on another thread: that
   execution fails (KIV_ERR_SQL, "interrupted"); the statement stays usable. */
KIV_API KIVRESULT KivInterruptSQL(KIVHANDLE statement);
KIV_API KIVRESULT KivGetSQLStmtParams(const char* text);
KIV_API KIVRESULT KivSqlPeekStatement(KIVHANDLE cursor, uint16_t* live);

/* ---------------------------------------------------------------------
 * M. Dates
 * ------------------------------------------------------------------- */
/* "YYYYMMDD" (the first 8 bytes of text) to a Julian day number; blank gives 0 */
KIV_API KIVRESULT KivConvertStringToJulian(const char* text, uint16_t len, double* julian);
/* Julian day number to "YYYYMMDD"; 0 gives 8 blanks */
KIV_API KIVRESULT KivConvertJulianToString(double julian, char* buf, uint32_t* len);
/* a date text in the thread's date format (or ISO, or "YYYYMMDD") to a Julian day number */
KIV_API KIVRESULT KivConvertDateToJulian(const char* text, uint16_t len, double* julian);

/* ---------------------------------------------------------------------
 * Driver binding: the driver's engine operations by ordinal, mapped onto
 * the named functions above. Resolve the name with dlsym.
 * ------------------------------------------------------------------- */
typedef struct KivOrdinalEntry {
    uint16_t ordinal;
    const char* name;
} KivOrdinalEntry;

static const KivOrdinalEntry kivOrdinalTable[] = {
    {2, "KivAppendRecord"},        {4, "KivAtBOF"},
    {5, "KivAtEOF"},               {6, "KivBeginTransaction"},
    {16, "KivCloseTable"},         {19, "KivCloseTable"},
    {20, "KivCommitTransaction"},  {27, "KivCreateTable"},
    {28, "KivDecryptTable"},       {31, "KivDeleteRecord"},
    {32, "KivDisconnect"},         {33, "KivEncryptTable"},
    {45, "KivGetBinary"},          {46, "KivGetBinaryLength"},
    {47, "KivGetBookmark"},        {52, "KivGetCurrentDatabase"},
    {54, "KivGetDouble"},          {56, "KivGetErrorString"},
    {58, "KivGetField"},           {59, "KivGetFieldDecimals"},
    {60, "KivGetFieldLength"},     {61, "KivGetFieldName"},
    {64, "KivGetFieldType"},       {71, "KivGetIndexName"},
    {74, "KivGetLastError"},       {75, "KivGetLogical"},
    {77, "KivGetMemoLength"},      {78, "KivGetNumFields"},
    {84, "KivGetRecordCount"},     {85, "KivGetRecordNum"},
    {102, "KivGotoBookmark"},      {103, "KivGotoBottom"},
    {104, "KivGotoRecord"},        {105, "KivGotoTop"},
    {106, "KivInTransaction"},     {107, "KivIsEmpty"},
    {118, "KivIsTableEncrypted"},  {124, "KivOpenTable"},
    {125, "KivPackTable"},         {128, "KivReindex"},
    {129, "KivRollbackTransaction"}, {132, "KivSetBinary"},
    {134, "KivSetDateText"},       {137, "KivSetCurrentDatabase"},
    {138, "KivSetDouble"},         {139, "KivSetEmpty"},
    {142, "KivSetField"},          {145, "KivSetLogical"},
    {146, "KivSetLong"},           {148, "KivEnableEncryption"},
    {155, "KivSetString"},         {156, "KivShowDeleted"},
    {157, "KivShowError"},         {158, "KivSkip"},
    {163, "KivWriteRecord"},       {164, "KivZapTable"},
    {165, "KivGetColumnPermissions"}, {170, "KivFindClose"},
    {178, "KivGetIndexFlags"},     {183, "KivConvertStringToJulian"},
    {184, "KivConvertJulianToString"}, {186, "KivClearLastError"},
    {188, "KivGetJulian"},         {191, "KivSetConnectSetting"},
    {193, "KivSetJulian"},         {194, "KivSetLastError"},
    {196, "KivCancelUpdate"},      {201, "KivSetServerType"},
    {202, "KivGetHandleType"},     {204, "KivGetIndexHandleByOrder"},
    {209, "KivGetTransactionsDisabled"}, {242, "KivCacheRecords"},
    {243, "KivGetPathPart"},       {244, "KivSetTimeText"},
    {246, "KivSetLong"},           {249, "KivSetMilliseconds"},
    {250, "KivGetMilliseconds"},   {259, "KivIsKeyColumnDescending"},
    {262, "KivCloseSQLStatement"}, {263, "KivCreateSQLStatement"},
    {264, "KivExecuteSQL"},        {267, "KivPrepareSQL"},
    {268, "KivSetTimeStampText"},  {269, "KivStmtSetTableCharType"},
    {270, "KivStmtSetTableLockType"}, {271, "KivStmtSetTableReadOnly"},
    {272, "KivStmtSetTableRights"}, {273, "KivStmtSetTableType"},
    {274, "KivResetSQLStatement"}, {279, "KivCacheOpenTables"},
    {291, "KivEnableEncryption"},  {292, "KivDisableEncryption"},
    {293, "KivSetStatementPassword"}, {294, "KivClearStatementPasswords"},
    {305, "KivPrepareSQLDescribe"}, {311, "KivDDGetDatabaseProperty"},
    {315, "KivConnect60"},         {316, "KivDDGetTableProperty"}, {317, "KivDDGetFieldProperty"},
    {319, "KivDDFindFirstObject"}, {320, "KivDDFindNextObject"},
    {321, "KivDDFindClose"},       {349, "KivGetIndexKeyFields"},
    {358, "KivDDGetObjectProperty"}, {392, "KivDDGetTableRights"},
    {393, "KivGetTablePrivileges"},
    {401, "KivVerifySQL"},         {402, "KivFindFirstTable62"},
    {403, "KivFindNextTable62"},   {408, "KivCheckSQL"},
    {423, "KivGetConnectionPath"},  {424, "KivInterruptSQL"},
    {425, "KivGetFieldMaxLength"},
};

#ifdef __cplusplus
}
#endif

#endif /* QEL32_H */
