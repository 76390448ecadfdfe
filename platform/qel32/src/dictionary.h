// The data dictionary: a ".KDD" file naming tables (with their files), a
// column catalogue kept apart from the table files, users and groups,
// procedures and properties. The file is an SQLite database; SQL reads it
// as the schema "system".
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fields.h"

namespace qel32 {

class Dictionary {
public:
    // Opens an existing dictionary; throws KIV_ERR_FILE_NOT_FOUND or
    // KIV_ERR_CORRUPT_FILE.
    static std::shared_ptr<Dictionary> Open(const std::string& path);
    // Writes a new dictionary from a description (see KivDDCreate in qel32.h).
    // Table files are named relative to the dictionary's folder.
    static void Create(const std::string& path, std::string_view description);
    ~Dictionary();

    const std::string& path() const { return path_; }
    // The folder that holds the dictionary: its tables' data path.
    std::string directory() const;

    // Checks a login; throws KIV_ERR_LOGIN.
    void Login(const std::string& user, const std::string& password);

    struct TableEntry {
        std::string name;
        std::string file;  // full path
        uint16_t type = 0;
    };
    std::optional<TableEntry> FindTable(const std::string& name);
    // Names of objects of a type (1 tables, 10 procedures), in name order.
    std::vector<std::string> Objects(uint16_t type);
    std::optional<std::string> TableProperty(const std::string& table, uint16_t property);
    // A property of a field of the column catalogue (its comment, its default
    // value); throws KIV_ERR_DD_UNKNOWN_NAME for a field the catalogue lacks.
    std::optional<std::string> FieldProperty(const std::string& table, const std::string& field, uint16_t property);
    std::optional<std::string> UserProperty(const std::string& user, uint16_t property);
    std::optional<std::string> ObjectProperty(const std::string& object, uint16_t property);
    // Rights byte of a table (select 0x01, update 0x02, insert 0x10, delete 0x20).
    uint8_t TableRights(const std::string& table);
    void Rename(const std::string& oldName, const std::string& newName, uint16_t type);
    // Lists a table (made beside the dictionary) with its columns; throws
    // KIV_ERR_TABLE_EXISTS when the name is taken.
    void AddTable(const std::string& name, const std::string& file, uint16_t type, const std::vector<FieldDef>& fields);
    // Takes a table, its columns and properties out of the dictionary.
    void RemoveTable(const std::string& name);

private:
    Dictionary() = default;
    std::string path_;
    sqlite3* db_ = nullptr;
    std::mutex mutex_;
};

// Hashes a password the way the dictionary stores it.
std::string PasswordHash(std::string_view password);

}  // namespace qel32
