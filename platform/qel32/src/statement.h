// An engine SQL statement: settings, parameters, preparation with a
// description of the result, execution into a cursor.
#pragma once

#include <sqlite3.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fields.h"
#include "handles.h"

namespace qel32 {

class Connection;
class Table;

class Statement : public Object {
public:
    explicit Statement(std::shared_ptr<Connection> connection);
    ~Statement() override;

    Connection& connection() { return *connection_; }

    // Settings (KivStmtSet...).
    uint16_t lockType = KIV_LOCK_COMPATIBLE;
    uint16_t charType = KIV_CHAR_ANSI;
    uint16_t rights = KIV_RIGHTS_NO_CHECK;
    uint16_t readOnly = 1;  // 1 read-only cursors, 2 live cursors
    uint16_t tableType = KIV_TABLE_CDX;
    uint16_t constrain = 2;
    uint16_t readAll = 2;

    void Prepare(const std::string& text);
    // True for a text the caller reads better itself: a plain
    // SELECT * | name, ... FROM table over a free folder, whose table file is
    // the one the caller opens for the statement's table type (and the one
    // this engine's SQL would read), not encrypted unless the statement
    // holds its password.
    bool LeftToCaller(const std::string& text);
    void Reset();
    bool prepared() const { return !text_.empty(); }
    // Definitions of the result columns of the prepared text (empty when it
    // gives no result set).
    std::vector<FieldDef> Describe();
    void SetParameter(KIVFIELD number, const Value& value);
    // Runs the prepared text; the result cursor, or null without a result set.
    std::shared_ptr<Table> Execute();

    // Rows changed by the last execution, -1 when there is no count.
    int64_t rowsAffected = -1;
    uint32_t lastAutoinc = 0;
    // Passwords of encrypted tables the statement reads, by upper-cased name.
    std::map<std::string, std::string> passwords;

private:
    enum class Kind { Query, Change, CreateTable, DropTable, Other };
    void PrepareText(const std::string& text);
    bool EndsOpenTransaction();
    bool AggregateField(const std::string& item, const std::string& rest, FieldDef& f);
    // Throws why the statement cannot run: the failure of its preparation,
    // or that it was never prepared.
    void CheckPrepared() const;
    void Bind(sqlite3_stmt* stmt);
    // The rows of a run of the statement and the kinds of values its columns held.
    struct Collected {
        // The kept rows, cell after cell, packed in large blocks (no
        // allocation per row or per value): a kind byte (SQLite's type code),
        // then 8 bytes of integer or double, or a 4-byte length and the bytes
        // of text or a blob; nothing for a null. A cell never spans blocks.
        struct Block {
            std::unique_ptr<char[]> bytes;
            size_t size = 0;
            size_t used = 0;
        };
        std::vector<Block> blocks;
        size_t rowCount = 0;
        size_t width = 0;  // cells per row
        // Room for the next cell's `bytes` bytes.
        char* Room(size_t bytes);
        std::vector<int> seen;
        std::vector<size_t> longest;
    };
    // Runs the statement, noting the kinds of values each column held (and
    // the rows, when asked).
    void Collect(Collected& out, bool keepRows);
    std::vector<FieldDef> ResultFields(const Collected& run);
    std::shared_ptr<Table> StaticCursor();
    // The static result of a read-only select whose columns all have
    // declared types, filled as its cursor reads it; null when the
    // statement asks for a result built whole first (see the definition).
    std::shared_ptr<Table> StreamedCursor();
    // The result fields of a select whose columns all have declared types,
    // with the longest text each character field takes; false for other
    // selects.
    bool DeclaredResultFields(std::vector<FieldDef>& fields, std::vector<size_t>& widest);
    // The static result built while the statement runs, or null when its
    // columns need the values first (see the definition).
    std::shared_ptr<Table> StaticCursorInOnePass();
    // An empty result table of these columns, removed when closed.
    std::shared_ptr<Table> NewStaticCursor(const std::vector<FieldDef>& fields);
    // "SELECT rowid FROM table rest", prepared (the caller's to finalize).
    sqlite3_stmt* KeysStatement(const std::string& table, const std::string& rest);
    // The record numbers "SELECT rowid FROM table rest" gives, in its order.
    std::vector<uint32_t> SelectedRecords(const std::string& table, const std::string& rest);
    std::shared_ptr<Table> LiveCursor(const std::string& table, const std::string& rest);
    // The static result of a plain select of stored columns of one table of
    // the engine's own type, its fields copied as stored, filled as its
    // cursor reads it; null when the text or the table asks for the general
    // road.
    std::shared_ptr<Table> CopiedCursor();
    void CreateTable();
    void DropTable();

    std::shared_ptr<Connection> connection_;
    std::string text_;  // after escape rewriting
    Kind kind_ = Kind::Other;
    sqlite3_stmt* stmt_ = nullptr;
    std::vector<Value> params_;
    // Why the last preparation failed, reported again by a later execution.
    KIVRESULT prepareCode_ = 0;
    std::string prepareText_;
};

}  // namespace qel32
