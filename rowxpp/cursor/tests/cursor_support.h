// Helpers of the cursor tests: the fixture table of every kind of column on
// each test data source.
#pragma once

#include <string>
#include <vector>

#include "rowxpp/sql_select.h"
#include "statement_support.h"

namespace rowxpp_test {

// One data source with the statements that make and fill its fixture table
// "kinds": an auto-unique key, short text, long text, CHAR(4), date,
// timestamp, DECIMAL(10,2), float, boolean, big integer and binary, in this
// order; the select names the short text "label".
struct KindsTable {
    const char* dsn;
    const char* create;
    const char* insert;
};

inline const std::vector<KindsTable>& Kinds() {
    static const std::vector<KindsTable> kinds = {
        {"SQLite",
         "CREATE TABLE kinds (id INTEGER PRIMARY KEY AUTOINCREMENT, name VARCHAR(20), note TEXT, code CHAR(4), "
         "born DATE, stamp TIMESTAMP, price DECIMAL(10,2), ratio FLOAT, flag BOOLEAN, big BIGINT, data BINARY)",
         "INSERT INTO kinds (name, note, code, born, stamp, price, ratio, flag, big, data) VALUES "
         "('abc', 'long', 'AB', '2024-03-05', '2024-03-05 10:20:30', 12.5, 0.25, 1, 9000000000, x'0102')"},
        {"PostgreSQL",
         "CREATE TABLE kinds (id SERIAL PRIMARY KEY, name VARCHAR(20), note TEXT, code CHAR(4), born DATE, "
         "stamp TIMESTAMP, price DECIMAL(10,2), ratio FLOAT, flag BOOLEAN, big BIGINT, data BYTEA)",
         "INSERT INTO kinds (name, note, code, born, stamp, price, ratio, flag, big, data) VALUES "
         "('abc', 'long', 'AB', '2024-03-05', '2024-03-05 10:20:30', 12.5, 0.25, TRUE, 9000000000, '\\x0102')"},
        {"KIVODBC",
         "CREATE TABLE kinds (id AUTOINC, name CHAR(20), note MEMO, code CHAR(4), born DATE, stamp TIMESTAMP, "
         "price NUMERIC(10,2), ratio DOUBLE, flag LOGICAL, big BIGINT, data BLOB)",
         "INSERT INTO kinds (name, note, code, born, stamp, price, ratio, flag, big) VALUES "
         "('abc', 'long', 'AB', {d '2024-03-05'}, {ts '2024-03-05 10:20:30'}, 12.5, 0.25, TRUE, 9000000000)"},
    };
    return kinds;
}

inline const char* kKindsSelect =
    "SELECT id, name AS label, note, code, born, stamp, price, ratio, flag, big, data FROM kinds";

// Connects to `k`'s data source and makes its fixture table afresh.
inline std::shared_ptr<rowxpp::SQLConnection> WithKinds(const KindsTable& k) {
    auto c = Connected(k.dsn);
    if (c->Handle == 0) return c;
    c->Execute("DROP TABLE kinds");
    c->Execute(k.create);
    c->Execute(k.insert);
    return c;
}

}  // namespace rowxpp_test
