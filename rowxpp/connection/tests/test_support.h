// Helpers of the connection tests: the data sources of the test process and
// an error block that keeps what it is handed.
#pragma once

#include <memory>
#include <vector>

#include "kiv_odbc_testing/data_sources.h"
#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_error.h"
#include "xpp/error.h"

namespace rowxpp_test {

// The test process's data sources, then the class (which loads the driver
// manager on its first use).
inline xpp::Class& Loaded() {
    kivodbc::testing::TestDataSources::Get().Activate();
    return rowxpp::SQLCONNECTION();
}

// A statement on the connection `dbc` whose direct execution of `sql`
// failed with SQL_ERROR (null when it did not fail); its diagnostics wait.
inline SQLHSTMT FailedStatement(int64_t dbc, std::string sql) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (SQLAllocHandle(SQL_HANDLE_STMT, rowxpp::ToHandle(dbc), &stmt) != SQL_SUCCESS) return SQL_NULL_HSTMT;
    if (SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS) == SQL_ERROR) return stmt;
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return SQL_NULL_HSTMT;
}

// Installs an error block that records each error object and returns NIL;
// the block before comes back at the end of the scope.
class CapturedErrors {
public:
    CapturedErrors()
        : kept_(xpp::ErrorBlock(xpp::Block([this](xpp::Args& a) -> xpp::Value {
              errors_.push_back(a.Get(1).As<xpp::Error>());
              return xpp::Value();
          }))) {}
    ~CapturedErrors() { xpp::ErrorBlock(kept_); }
    const std::vector<std::shared_ptr<xpp::Error>>& Errors() const { return errors_; }

private:
    std::vector<std::shared_ptr<xpp::Error>> errors_;
    xpp::Block kept_;
};

// What a connection's onError block was handed, and how often.
struct Reported {
    std::string report;
    int64_t returnCode = 0;
    std::vector<std::shared_ptr<rowxpp::SQLError>> errors;
    int calls = 0;
};

// Sets `c`'s onError to a block that fills `into`.
inline void CaptureErrors(rowxpp::SQLConnection& c, Reported& into) {
    c.onError = xpp::Block([&into](xpp::Args& a) {
        ++into.calls;
        into.report = a[2].Str();
        into.returnCode = a[3].Int();
        into.errors.clear();
        for (const xpp::Value& e : a[4].Arr().Items()) into.errors.push_back(e.As<rowxpp::SQLError>());
        return xpp::Value();
    });
}

// Records the ODBC calls made while it lives, by index; `answer` may answer
// a call instead of the driver manager.
class RecordedCalls {
public:
    using Answer = std::function<std::optional<int64_t>(int index)>;
    explicit RecordedCalls(Answer answer = {})
        : answer_(std::move(answer)),
          kept_(rowxpp::SetOdbcCallDecorator([this](int index, const std::vector<int64_t>&) {
              indexes_.push_back(index);
              return answer_ ? answer_(index) : std::nullopt;
          })) {}
    ~RecordedCalls() { rowxpp::SetOdbcCallDecorator(kept_); }
    const std::vector<int>& Indexes() const { return indexes_; }

private:
    Answer answer_;
    std::vector<int> indexes_;
    rowxpp::OdbcCallDecorator kept_;
};

}  // namespace rowxpp_test
