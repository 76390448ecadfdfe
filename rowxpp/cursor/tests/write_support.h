// Helpers of the write-back tests: reading a table back through unixODBC
// directly, beside the cursor that wrote it, and the statement texts that
// reached the driver manager.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <string>
#include <vector>

#include "cursor_support.h"

namespace rowxpp_test {

using Cell = std::optional<std::string>;
using Table = std::vector<std::vector<Cell>>;

// Every row of `sql` on the connection `dbc`, each column as its bytes
// (binary columns as they are stored, others as text); NULL as nullopt.
inline Table ReadBack(int64_t dbc, const std::string& sql) {
    Table rows;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (SQLAllocHandle(SQL_HANDLE_STMT, rowxpp::ToHandle(dbc), &stmt) != SQL_SUCCESS) return rows;
    std::string text = sql;
    if (SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS))) {
        SQLSMALLINT columns = 0;
        SQLNumResultCols(stmt, &columns);
        std::vector<SQLSMALLINT> cTypes;
        for (SQLSMALLINT i = 1; i <= columns; ++i) {
            SQLSMALLINT type = 0, digits = 0, nullable = 0, length = 0;
            SQLULEN size = 0;
            SQLCHAR name[256];
            SQLDescribeCol(stmt, static_cast<SQLUSMALLINT>(i), name, sizeof name, &length, &type, &size, &digits,
                           &nullable);
            bool binary = type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
            cTypes.push_back(binary ? SQL_C_BINARY : SQL_C_CHAR);
        }
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
            std::vector<Cell> row;
            for (SQLSMALLINT i = 1; i <= columns; ++i) {
                SQLSMALLINT cType = cTypes[static_cast<size_t>(i - 1)];
                std::string value;
                bool isNull = false;
                for (;;) {
                    char buffer[4096];
                    SQLLEN length = 0;
                    SQLRETURN rc = SQLGetData(stmt, static_cast<SQLUSMALLINT>(i), cType, buffer, sizeof buffer, &length);
                    if (!SQL_SUCCEEDED(rc)) break;
                    if (length == SQL_NULL_DATA) {
                        isNull = true;
                        break;
                    }
                    size_t room = sizeof buffer - (cType == SQL_C_CHAR ? 1 : 0);
                    size_t got = length == SQL_NO_TOTAL || static_cast<size_t>(length) > room
                                     ? room
                                     : static_cast<size_t>(length);
                    value.append(buffer, got);
                    if (rc == SQL_SUCCESS) break;
                }
                row.push_back(isNull ? Cell() : Cell(value));
            }
            rows.push_back(row);
        }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return rows;
}

// Records the calls like CallLog and keeps, at the moment of the call, the
// text of every SQLExecDirect; `answer` may answer a call in the driver's
// place.
class TextLog {
public:
    explicit TextLog(CallLog::Answer answer = {})
        : then_(std::move(answer)), log_([this](int index, const std::vector<int64_t>& a) -> std::optional<int64_t> {
              if (index == 26) texts_.emplace_back(reinterpret_cast<const char*>(a[1]), static_cast<size_t>(a[2]));
              return then_ ? then_(index, a) : std::nullopt;
          }) {}
    const std::vector<std::string>& Texts() const { return texts_; }
    // The texts that begin with `start`.
    std::vector<std::string> Starting(const std::string& start) const {
        std::vector<std::string> found;
        for (const std::string& t : texts_)
            if (t.rfind(start, 0) == 0) found.push_back(t);
        return found;
    }
    const CallLog& Log() const { return log_; }

private:
    CallLog::Answer then_;
    std::vector<std::string> texts_;
    CallLog log_;
};

}  // namespace rowxpp_test
