// SQL over engine tables: each connection gets one in-memory SQLite
// database in which engine tables appear as virtual tables (module "kiv")
// that read and write through the engine, so locks, record numbers, pending
// writes and the transaction log stay the engine's. Table names are resolved
// when SQLite first misses them. The data dictionary is attached as the
// schema "system" (an empty one on folder connections).
#pragma once

#include <sqlite3.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fields.h"

namespace qel32 {

class Connection;
struct KivVtab;

// A result of the session's SQL whose statement still runs: its rows are
// read as its cursor needs them.
class PendingResult {
public:
    virtual ~PendingResult() = default;
    // Reads the rest of the result now; a failure stays the result's, for
    // its cursor's next call that needs more rows.
    virtual void ReadToEnd() = 0;
    // The session ends first: the statement goes, and the rows not read
    // with it (the cursor reports that when it needs them).
    virtual void Abandon() = 0;
};

class SqlSession {
public:
    explicit SqlSession(Connection& connection);
    ~SqlSession();
    SqlSession(const SqlSession&) = delete;
    SqlSession& operator=(const SqlSession&) = delete;

    sqlite3* db() const { return db_; }
    Connection& connection() { return connection_; }

    // Prepares a statement, making virtual tables for the engine tables it
    // names. Throws the engine's SQL error (7200).
    sqlite3_stmt* Prepare(const std::string& text);

    // Settings of the statement now running, used by the virtual tables.
    uint16_t charType = KIV_CHAR_ANSI;
    uint16_t tableType = KIV_TABLE_CDX;
    uint32_t lastAutoinc = 0;
    // Passwords of encrypted tables, by upper-cased table name.
    std::map<std::string, std::string> passwords;

    // The file behind a table name of the connection ("" when none).
    std::string ResolveTableFile(const std::string& name, uint16_t& type);

    // Virtual tables whose table stays open between the statements of the
    // connection's transaction; ReleaseTables closes them when it ends.
    std::set<KivVtab*> tablesKept;
    void ReleaseTables();

    // Results still being read; FinishPendingResults reads them to their end.
    std::set<PendingResult*> pendingResults;
    void FinishPendingResults();

private:
    void MakeVirtualTable(const std::string& name);
    Connection& connection_;
    sqlite3* db_ = nullptr;
    // The virtual tables made so far (by name: the file behind it and the
    // bytes describing its fields when it was made), and the folder they
    // were found in.
    struct VirtualTableFile {
        std::string file;
        std::string layout;
    };
    std::map<std::string, VirtualTableFile> virtualTables_;
    std::string folder_;
    bool finishing_ = false;
    // Drops the virtual tables whose file is gone or now has other fields.
    void DropChangedTables();
};

// Records read from table files by the SQL of this process (a test hook
// shows with it which statements read whole tables).
uint64_t SqlRecordsRead();
// Field values SQL has read from records, for the test hook.
uint64_t SqlValuesRead();

// Rewrites the ODBC escapes ({d}, {t}, {ts}, {fn}, {oj}, {call}, and their
// long "--(*vendor(...),product(...) ... *)--" form) and the engine's
// collation names into SQL that SQLite takes.
std::string RewriteEscapes(std::string_view text);

// The engine's SQL error (7200) for SQLite's last error on db.
[[noreturn]] void ThrowSqlError(sqlite3* db, const std::string& message = std::string());
[[noreturn]] void ThrowSqlError(int nativeId, const std::string& message);

// The width of a numeric field that holds every value of `precision` digits
// with `decimals` of them after the point (room for sign and point), and back.
uint32_t NumericWidth(uint32_t precision, uint16_t decimals);
uint32_t NumericPrecision(uint32_t width, uint16_t decimals);

// Type text of a field as SQL declares it ("CHAR(20)", "NUMERIC(10,2)"...).
std::string DeclaredType(const FieldDef& f);
// Field definition for a declared SQL type; false when the type is unknown.
bool FieldFromDeclaredType(std::string_view declared, FieldDef& f);

}  // namespace qel32
