// Helpers of the data-set tests: small tables on each test data source.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rowxpp/sql_dataset.h"
#include "statement_support.h"

namespace rowxpp_test {

inline const char* const kDataSetDrivers[] = {"SQLite", "PostgreSQL", "KIVODBC"};

// The key clause of an integer column (the engine behind KIVODBC declares
// no keys) and a fixed-width text type, whose blank is ten blanks.
inline std::string KeyClause(const std::string& dsn) { return dsn == "KIVODBC" ? "" : " PRIMARY KEY"; }
inline std::string Text10(const std::string&) { return "CHAR(10)"; }

// Makes `table` (id, name, qty) afresh with the given rows.
struct Person {
    int id;
    const char* name;
    int qty;
};
inline std::shared_ptr<rowxpp::SQLConnection> WithPeople(const char* dsn, const std::string& table,
                                                         const std::vector<Person>& rows) {
    auto c = Connected(dsn);
    if (c->Handle == 0) return c;
    c->Execute("DROP TABLE " + table);
    c->Execute("CREATE TABLE " + table + " (id INTEGER" + KeyClause(dsn) + ", name " + Text10(dsn) +
               ", qty INTEGER)");
    for (const Person& p : rows) {
        c->Execute("INSERT INTO " + table + " (id, name, qty) VALUES (" + std::to_string(p.id) + ", '" + p.name +
                   "', " + std::to_string(p.qty) + ")");
    }
    return c;
}

// A table of n rows (id 1..n, name "r<id>", qty id * 10).
inline std::shared_ptr<rowxpp::SQLConnection> WithRows(const char* dsn, const std::string& table, int n) {
    std::vector<std::string> names;
    std::vector<Person> rows;
    names.reserve(static_cast<size_t>(n));
    for (int i = 1; i <= n; ++i) {
        std::string name = "r";
        name += std::to_string(i);
        names.push_back(name);
    }
    for (int i = 1; i <= n; ++i) rows.push_back({i, names[static_cast<size_t>(i - 1)].c_str(), i * 10});
    return WithPeople(dsn, table, rows);
}

// Sets onError of the data set's cursor to a block that keeps the SQLSTATE
// of each report, but for the warning of a cursor that cannot be made
// updatable (01S02).
// Reports may come from the thread that cancels.
struct States {
    std::shared_ptr<std::vector<std::string>> seen = std::make_shared<std::vector<std::string>>();
    std::shared_ptr<std::mutex> lock = std::make_shared<std::mutex>();
    xpp::Block Block() const {
        auto into = seen;
        auto guard = lock;
        return xpp::Block([into, guard](xpp::Args& a) {
            auto errors = a[4].Arr();
            std::string state = errors.Len() > 0 ? errors.Get(1).As<rowxpp::SQLError>()->SQLState.Str() : "";
            std::lock_guard<std::mutex> held(*guard);
            if (state != "01S02") into->push_back(state);
            return xpp::Value();
        });
    }
    bool Has(const std::string& state) const {
        std::lock_guard<std::mutex> held(*lock);
        for (const auto& s : *seen)
            if (s == state) return true;
        return false;
    }
};

// Ids of the cached rows after the lazy refresh, read through FieldGet.
inline std::vector<int64_t> Ids(rowxpp::SQLDataSet& ds, const char* field = "id") {
    std::vector<int64_t> ids;
    const int64_t n = ds.RecCount();
    for (int64_t i = 1; i <= n; ++i) ids.push_back(ds.FieldGet(field, i).Int());
    return ids;
}

}  // namespace rowxpp_test
