#include "dictionary.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>

#include "errors.h"
#include "paths.h"
#include "storage.h"

namespace qel32 {

namespace {

constexpr const char* kSchema = R"(
CREATE TABLE kdd(version INTEGER NOT NULL);
CREATE TABLE tables(name TEXT NOT NULL COLLATE NOCASE PRIMARY KEY, file TEXT NOT NULL,
                    table_type INTEGER NOT NULL, default_index TEXT, primary_key TEXT,
                    rights INTEGER NOT NULL DEFAULT 51);
CREATE TABLE columns(parent TEXT NOT NULL COLLATE NOCASE, field_num INTEGER NOT NULL, name TEXT NOT NULL,
                     field_type INTEGER NOT NULL, field_length INTEGER NOT NULL, field_decimal INTEGER NOT NULL,
                     PRIMARY KEY(parent, field_num));
CREATE TABLE users(name TEXT NOT NULL COLLATE NOCASE PRIMARY KEY, password TEXT NOT NULL,
                   groups TEXT NOT NULL DEFAULT '');
CREATE TABLE procedures(name TEXT NOT NULL COLLATE NOCASE PRIMARY KEY, input TEXT NOT NULL DEFAULT '',
                        output TEXT NOT NULL DEFAULT '', description TEXT NOT NULL DEFAULT '');
CREATE TABLE properties(object TEXT NOT NULL COLLATE NOCASE, property INTEGER NOT NULL, value TEXT NOT NULL,
                        PRIMARY KEY(object, property));
CREATE TABLE relations(name TEXT NOT NULL COLLATE NOCASE PRIMARY KEY, parent TEXT NOT NULL,
                       parent_columns TEXT NOT NULL, child TEXT NOT NULL, child_columns TEXT NOT NULL,
                       update_rule TEXT NOT NULL, delete_rule TEXT NOT NULL);
CREATE TABLE field_properties(parent TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,
                              property INTEGER NOT NULL, value TEXT NOT NULL, PRIMARY KEY(parent, name, property));
INSERT INTO kdd VALUES(1);
)";

// Dictionaries written before relations (field properties) were kept have
// no table of them.
constexpr const char* kRelationsExist = "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'relations'";
constexpr const char* kFieldPropertiesExist =
    "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'field_properties'";

const char* const kRules[] = {"CASCADE", "RESTRICT", "SETNULL", "SETDEFAULT", "NOACTION"};

// A list of a description line: "-" stands for an empty one.
std::string ListWord(const std::vector<std::string>& words, size_t i) {
    return i < words.size() && words[i] != "-" ? words[i] : std::string();
}

[[noreturn]] void DbError(sqlite3* db, const std::string& what) {
    Throw(KIV_ERR_IO, what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

// A prepared statement that finalises itself.
class Query {
public:
    Query(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) DbError(db, "Dictionary query failed");
    }
    ~Query() { sqlite3_finalize(stmt_); }
    Query& Bind(int i, const std::string& v) {
        sqlite3_bind_text(stmt_, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Query& Bind(int i, int64_t v) {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    bool Step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        DbError(db_, "Dictionary query failed");
    }
    std::string Text(int col) const {
        const auto* p = sqlite3_column_text(stmt_, col);
        return p ? std::string(reinterpret_cast<const char*>(p), sqlite3_column_bytes(stmt_, col)) : std::string();
    }
    int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
    bool Null(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

void Exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string text = err ? err : "unknown error";
        sqlite3_free(err);
        Throw(KIV_ERR_IO, "Dictionary update failed: " + text);
    }
}

// A table's row and the rows of its columns.
void InsertTable(sqlite3* db, const std::string& name, const std::string& file, uint16_t type,
                 const std::vector<FieldDef>& fields) {
    Query(db, "INSERT INTO tables(name, file, table_type) VALUES(?, ?, ?)").Bind(1, name).Bind(2, file).Bind(3, type).Step();
    int n = 0;
    for (const auto& f : fields)
        Query(db, "INSERT INTO columns VALUES(?, ?, ?, ?, ?, ?)")
            .Bind(1, name).Bind(2, ++n).Bind(3, f.name).Bind(4, f.type)
            .Bind(5, f.type == KIV_FT_VARCHAR ? f.maxLength : f.length).Bind(6, f.decimals).Step();
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::string Rest(const std::vector<std::string>& words, size_t from) {
    std::string out;
    for (size_t i = from; i < words.size(); ++i) out += (out.empty() ? "" : " ") + words[i];
    return out;
}

}  // namespace

std::string PasswordHash(std::string_view password) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : std::string("kdd:") + std::string(password)) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

std::shared_ptr<Dictionary> Dictionary::Open(const std::string& path) {
    if (!FileExists(path)) Throw(KIV_ERR_FILE_NOT_FOUND, "Data dictionary " + path + " not found");
    std::shared_ptr<Dictionary> d(new Dictionary);
    d->path_ = path;
    if (sqlite3_open_v2(path.c_str(), &d->db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK)
        Throw(KIV_ERR_IO, "Cannot open data dictionary " + path);
    sqlite3_busy_timeout(d->db_, 5000);
    try {
        Query q(d->db_, "SELECT version FROM kdd");
        if (!q.Step()) Throw(KIV_ERR_CORRUPT_FILE, path + " is not a data dictionary");
    } catch (const EngineError&) {
        Throw(KIV_ERR_CORRUPT_FILE, path + " is not a data dictionary");
    }
    return d;
}

Dictionary::~Dictionary() { sqlite3_close(db_); }

std::string Dictionary::directory() const { return DirectoryPart(path_).empty() ? "." : DirectoryPart(path_); }

void Dictionary::Create(const std::string& path, std::string_view description) {
    if (FileExists(path)) Throw(KIV_ERR_TABLE_EXISTS, "Data dictionary " + path + " already exists");
    const std::string temp = path + ".kivnew";
    ::unlink(temp.c_str());
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(temp.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close(raw);
        Throw(KIV_ERR_IO, "Cannot create data dictionary " + path);
    }
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
    const std::string folder = DirectoryPart(path).empty() ? "." : DirectoryPart(path);
    try {
        Exec(db.get(), "BEGIN");
        Exec(db.get(), kSchema);
        bool users = false;
        std::istringstream in{std::string(description)};
        int lineNo = 0;
        for (std::string line; std::getline(in, line);) {
            ++lineNo;
            const auto w = Words(line);
            if (w.empty() || w[0][0] == '#') continue;
            auto bad = [&](const std::string& why) {
                Throw(KIV_ERR_INVALID_ARGUMENT, "Dictionary description line " + std::to_string(lineNo) + ": " + why);
            };
            const std::string kind = Upper(w[0]);
            if (kind == "USER") {
                if (w.size() < 2 || w.size() > 4) bad("expected: user NAME [PASSWORD [GROUPS]]");
                Query(db.get(), "INSERT INTO users(name, password, groups) VALUES(?, ?, ?)")
                    .Bind(1, w[1]).Bind(2, PasswordHash(w.size() > 2 ? w[2] : "")).Bind(3, w.size() > 3 ? w[3] : "")
                    .Step();
                users = true;
            } else if (kind == "TABLE") {
                if (w.size() < 3 || w.size() > 4) bad("expected: table NAME FILE [TYPE]");
                const std::string file = MapPath(w[2], folder);
                auto tf = TableFile::Open(file, w.size() > 3 ? static_cast<uint16_t>(std::stoi(w[3])) : 0, false);
                InsertTable(db.get(), w[1], w[2], tf->type(), tf->fields());
                tf->Detach();
            } else if (kind == "COLUMN") {
                if (w.size() != 7) bad("expected: column TABLE NUMBER NAME TYPE LENGTH DECIMALS");
                Query(db.get(), "INSERT OR REPLACE INTO columns VALUES(?, ?, ?, ?, ?, ?)")
                    .Bind(1, w[1]).Bind(2, std::stoll(w[2])).Bind(3, w[3]).Bind(4, std::stoll(w[4]))
                    .Bind(5, std::stoll(w[5])).Bind(6, std::stoll(w[6])).Step();
            } else if (kind == "DROP-COLUMN") {
                if (w.size() != 3) bad("expected: drop-column TABLE NAME");
                Query(db.get(), "DELETE FROM columns WHERE parent = ? AND name = ? COLLATE NOCASE")
                    .Bind(1, w[1]).Bind(2, w[2]).Step();
            } else if (kind == "PROCEDURE") {
                if (w.size() < 2) bad("expected: procedure NAME [INPUT [OUTPUT [DESCRIPTION]]]");
                Query(db.get(), "INSERT INTO procedures VALUES(?, ?, ?, ?)")
                    .Bind(1, w[1]).Bind(2, ListWord(w, 2)).Bind(3, ListWord(w, 3)).Bind(4, Rest(w, 4)).Step();
            } else if (kind == "RELATION") {
                if (w.size() < 6 || w.size() > 8)
                    bad("expected: relation NAME PARENT PARENT-COLUMNS CHILD CHILD-COLUMNS [UPDATE [DELETE]]");
                auto count = [](const std::string& list) { return std::count(list.begin(), list.end(), ';'); };
                if (count(w[3]) != count(w[5])) bad("the parent and child column lists differ in length");
                std::string rules[2] = {"RESTRICT", "RESTRICT"};
                for (size_t i = 0; i < 2 && 6 + i < w.size(); ++i) {
                    rules[i] = Upper(w[6 + i]);
                    if (std::find(std::begin(kRules), std::end(kRules), rules[i]) == std::end(kRules))
                        bad("unknown rule \"" + w[6 + i] + "\"");
                }
                Query(db.get(), "INSERT INTO relations VALUES(?, ?, ?, ?, ?, ?, ?)")
                    .Bind(1, w[1]).Bind(2, w[2]).Bind(3, w[3]).Bind(4, w[4]).Bind(5, w[5]).Bind(6, rules[0])
                    .Bind(7, rules[1]).Step();
            } else if (kind == "PROPERTY") {
                if (w.size() < 4) bad("expected: property OBJECT NUMBER VALUE");
                Query(db.get(), "INSERT OR REPLACE INTO properties VALUES(?, ?, ?)")
                    .Bind(1, w[1]).Bind(2, std::stoll(w[2])).Bind(3, Rest(w, 3)).Step();
            } else if (kind == "FIELD-PROPERTY") {
                if (w.size() < 5) bad("expected: field-property TABLE FIELD NUMBER VALUE");
                Query(db.get(), "INSERT OR REPLACE INTO field_properties VALUES(?, ?, ?, ?)")
                    .Bind(1, w[1]).Bind(2, w[2]).Bind(3, std::stoll(w[3])).Bind(4, Rest(w, 4)).Step();
            } else if (kind == "RIGHTS") {
                if (w.size() != 3) bad("expected: rights TABLE BYTE");
                Query(db.get(), "UPDATE tables SET rights = ? WHERE name = ?").Bind(1, std::stoll(w[2], nullptr, 0))
                    .Bind(2, w[1]).Step();
            } else {
                bad("unknown entry \"" + w[0] + "\"");
            }
        }
        if (!users) Query(db.get(), "INSERT INTO users(name, password) VALUES('KIVSYS', ?)").Bind(1, PasswordHash("")).Step();
        Exec(db.get(), "COMMIT");
    } catch (const std::invalid_argument&) {
        db.reset();
        ::unlink(temp.c_str());
        Throw(KIV_ERR_INVALID_ARGUMENT, "Dictionary description holds a number that is not one");
    } catch (...) {
        db.reset();
        ::unlink(temp.c_str());
        throw;
    }
    db.reset();
    if (::link(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        Throw(KIV_ERR_TABLE_EXISTS, "Data dictionary " + path + " already exists");
    }
    ::unlink(temp.c_str());
}

void Dictionary::Login(const std::string& user, const std::string& password) {
    std::lock_guard lock(mutex_);
    if (user.empty()) Throw(KIV_ERR_LOGIN, "A user name and password are required for the data dictionary");
    Query q(db_, "SELECT password FROM users WHERE name = ?");
    q.Bind(1, user);
    if (!q.Step() || q.Text(0) != PasswordHash(password))
        Throw(KIV_ERR_LOGIN, "The user name or password is not valid for the data dictionary");
}

std::optional<Dictionary::TableEntry> Dictionary::FindTable(const std::string& name) {
    std::lock_guard lock(mutex_);
    Query q(db_, "SELECT name, file, table_type FROM tables WHERE name = ?");
    q.Bind(1, name);
    if (!q.Step()) return std::nullopt;
    return TableEntry{q.Text(0), MapPath(q.Text(1), directory()), static_cast<uint16_t>(q.Int(2))};
}

std::vector<std::string> Dictionary::Objects(uint16_t type) {
    std::lock_guard lock(mutex_);
    const char* sql = type == KIV_DD_OBJ_TABLE       ? "SELECT name FROM tables ORDER BY name"
                      : type == KIV_DD_OBJ_PROCEDURE ? "SELECT name FROM procedures ORDER BY name"
                      : type == KIV_DD_OBJ_RELATION  ? "SELECT name FROM relations ORDER BY name"
                                                     : nullptr;
    std::vector<std::string> out;
    if (!sql || (type == KIV_DD_OBJ_RELATION && !Query(db_, kRelationsExist).Step())) return out;
    Query q(db_, sql);
    while (q.Step()) out.push_back(q.Text(0));
    return out;
}

std::optional<std::string> Dictionary::TableProperty(const std::string& table, uint16_t property) {
    std::lock_guard lock(mutex_);
    {
        Query t(db_, "SELECT default_index, primary_key FROM tables WHERE name = ?");
        t.Bind(1, table);
        if (!t.Step()) Throw(KIV_ERR_DD_UNKNOWN_NAME, "Table " + table + " is not in the data dictionary");
        if (property == KIV_DD_PROP_DEFAULT_INDEX && !t.Null(0) && !t.Text(0).empty()) return t.Text(0);
        if (property == KIV_DD_PROP_PRIMARY_KEY && !t.Null(1) && !t.Text(1).empty()) return t.Text(1);
    }
    Query q(db_, "SELECT value FROM properties WHERE object = ? AND property = ?");
    q.Bind(1, table).Bind(2, property);
    if (q.Step()) return q.Text(0);
    return std::nullopt;
}

std::optional<std::string> Dictionary::FieldProperty(const std::string& table, const std::string& field,
                                                     uint16_t property) {
    std::lock_guard lock(mutex_);
    Query c(db_, "SELECT 1 FROM columns WHERE parent = ? AND name = ? COLLATE NOCASE");
    c.Bind(1, table).Bind(2, field);
    if (!c.Step()) Throw(KIV_ERR_DD_UNKNOWN_NAME, "Field " + field + " of " + table + " is not in the data dictionary");
    if (!Query(db_, kFieldPropertiesExist).Step()) return std::nullopt;
    Query q(db_, "SELECT value FROM field_properties WHERE parent = ? AND name = ? AND property = ?");
    q.Bind(1, table).Bind(2, field).Bind(3, property);
    if (q.Step()) return q.Text(0);
    return std::nullopt;
}

std::optional<std::string> Dictionary::UserProperty(const std::string& user, uint16_t property) {
    std::lock_guard lock(mutex_);
    Query u(db_, "SELECT groups FROM users WHERE name = ?");
    u.Bind(1, user);
    if (!u.Step()) Throw(KIV_ERR_DD_UNKNOWN_NAME, "User " + user + " is not in the data dictionary");
    if (property == KIV_DD_PROP_USER_GROUPS) {
        if (u.Text(0).empty()) return std::nullopt;
        return u.Text(0);
    }
    Query q(db_, "SELECT value FROM properties WHERE object = ? AND property = ?");
    q.Bind(1, user).Bind(2, property);
    if (q.Step()) return q.Text(0);
    return std::nullopt;
}

std::optional<std::string> Dictionary::ObjectProperty(const std::string& object, uint16_t property) {
    std::lock_guard lock(mutex_);
    Query p(db_, "SELECT input, output, description FROM procedures WHERE name = ?");
    p.Bind(1, object);
    if (p.Step()) {
        std::string v = property == KIV_DD_PROP_PROC_INPUT    ? p.Text(0)
                        : property == KIV_DD_PROP_PROC_OUTPUT ? p.Text(1)
                                                              : std::string();
        if (property != KIV_DD_PROP_PROC_INPUT && property != KIV_DD_PROP_PROC_OUTPUT) {
            Query q(db_, "SELECT value FROM properties WHERE object = ? AND property = ?");
            q.Bind(1, object).Bind(2, property);
            if (q.Step()) v = q.Text(0);
            else v = p.Text(2);  // any other property of a procedure is its description
        }
        if (v.empty()) return std::nullopt;
        return v;
    }
    if (Query(db_, kRelationsExist).Step()) {
        Query r(db_, "SELECT parent, parent_columns, child, child_columns, update_rule, delete_rule "
                     "FROM relations WHERE name = ?");
        r.Bind(1, object);
        if (r.Step()) {
            if (property < KIV_DD_PROP_RI_PARENT_TABLE || property > KIV_DD_PROP_RI_DELETE_RULE) return std::nullopt;
            return r.Text(property - KIV_DD_PROP_RI_PARENT_TABLE);
        }
    }
    Query q(db_, "SELECT value FROM properties WHERE object = ? AND property = ?");
    q.Bind(1, object).Bind(2, property);
    if (q.Step()) return q.Text(0);
    Query t(db_, "SELECT 1 FROM tables WHERE name = ? UNION SELECT 1 FROM users WHERE name = ?");
    t.Bind(1, object).Bind(2, object);
    if (!t.Step()) Throw(KIV_ERR_DD_UNKNOWN_NAME, object + " is not in the data dictionary");
    return std::nullopt;
}

uint8_t Dictionary::TableRights(const std::string& table) {
    std::lock_guard lock(mutex_);
    Query q(db_, "SELECT rights FROM tables WHERE name = ?");
    q.Bind(1, table);
    if (!q.Step()) Throw(KIV_ERR_DD_UNKNOWN_NAME, "Table " + table + " is not in the data dictionary");
    return static_cast<uint8_t>(q.Int(0));
}

void Dictionary::AddTable(const std::string& name, const std::string& file, uint16_t type,
                          const std::vector<FieldDef>& fields) {
    std::lock_guard lock(mutex_);
    Exec(db_, "BEGIN IMMEDIATE");
    try {
        if (Query(db_, "SELECT 1 FROM tables WHERE name = ?").Bind(1, name).Step())
            Throw(KIV_ERR_TABLE_EXISTS, name + " is already in the data dictionary");
        // Files in the dictionary's folder are named relative to it.
        const std::string folder = directory();
        const std::string stored = DirectoryPart(file) == folder ? FilePart(file) : file;
        InsertTable(db_, name, stored, type, fields);
        Exec(db_, "COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void Dictionary::RemoveTable(const std::string& name) {
    std::lock_guard lock(mutex_);
    Exec(db_, "BEGIN IMMEDIATE");
    try {
        Query(db_, "DELETE FROM columns WHERE parent = ?").Bind(1, name).Step();
        Query(db_, "DELETE FROM properties WHERE object = ?").Bind(1, name).Step();
        if (Query(db_, kFieldPropertiesExist).Step())
            Query(db_, "DELETE FROM field_properties WHERE parent = ?").Bind(1, name).Step();
        Query(db_, "DELETE FROM tables WHERE name = ?").Bind(1, name).Step();
        Exec(db_, "COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void Dictionary::Rename(const std::string& oldName, const std::string& newName, uint16_t type) {
    std::lock_guard lock(mutex_);
    if (newName.empty()) Throw(KIV_ERR_EMPTY_ARGUMENT, "No new name given");
    const char* table = type == KIV_DD_OBJ_TABLE ? "tables" : type == KIV_DD_OBJ_PROCEDURE ? "procedures" : nullptr;
    if (!table) Throw(KIV_ERR_INVALID_ARGUMENT, "Objects of type " + std::to_string(type) + " cannot be renamed");
    Exec(db_, "BEGIN IMMEDIATE");
    try {
        Query exists(db_, type == KIV_DD_OBJ_TABLE ? "SELECT 1 FROM tables WHERE name = ?"
                                                   : "SELECT 1 FROM procedures WHERE name = ?");
        exists.Bind(1, oldName);
        if (!exists.Step()) Throw(KIV_ERR_DD_UNKNOWN_NAME, oldName + " is not in the data dictionary");
        Query(db_, type == KIV_DD_OBJ_TABLE ? "UPDATE tables SET name = ? WHERE name = ?"
                                            : "UPDATE procedures SET name = ? WHERE name = ?")
            .Bind(1, newName).Bind(2, oldName).Step();
        if (type == KIV_DD_OBJ_TABLE) {
            Query(db_, "UPDATE columns SET parent = ? WHERE parent = ?").Bind(1, newName).Bind(2, oldName).Step();
            if (Query(db_, kFieldPropertiesExist).Step())
                Query(db_, "UPDATE field_properties SET parent = ? WHERE parent = ?")
                    .Bind(1, newName).Bind(2, oldName).Step();
            // The relations follow their tables.
            if (Query(db_, kRelationsExist).Step()) {
                Query(db_, "UPDATE relations SET parent = ? WHERE parent = ? COLLATE NOCASE")
                    .Bind(1, newName).Bind(2, oldName).Step();
                Query(db_, "UPDATE relations SET child = ? WHERE child = ? COLLATE NOCASE")
                    .Bind(1, newName).Bind(2, oldName).Step();
            }
        }
        Query(db_, "UPDATE properties SET object = ? WHERE object = ?").Bind(1, newName).Bind(2, oldName).Step();
        Exec(db_, "COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

}  // namespace qel32
