// Helpers of the statement tests: a recording of ODBC calls with their
// arguments, and a connection per data source.
#pragma once

#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "rowxpp/odbc_calls.h"
#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_statement.h"
#include "rowxpp/sql_error.h"
#include "test_support.h"

namespace rowxpp_test {

// One SQLBindParameter as the driver manager was handed it, with the
// indicator cell and `valueBytes` bytes of the value buffer read at the call.
struct BindCall {
    int64_t number = 0, cType = 0, sqlType = 0, size = 0, digits = 0, bufferLength = 0;
    int64_t valueAddress = 0, indicatorAddress = 0, indicator = 0;
    std::string bytes;
};

// Records the ODBC calls made while it lives (index and arguments) and the
// parameter bindings; `answer` may answer a call instead of the driver
// manager. `valueBytes` tells how many bytes of each bound value to read.
class CallLog {
public:
    using Answer = std::function<std::optional<int64_t>(int index, const std::vector<int64_t>& args)>;
    explicit CallLog(Answer answer = {})
        : answer_(std::move(answer)),
          kept_(rowxpp::SetOdbcCallDecorator([this](int index, const std::vector<int64_t>& args) {
              std::lock_guard<std::mutex> guard(lock_);
              calls_.push_back({index, args});
              if (index == 21) binds_.push_back(Read(args));
              return answer_ ? answer_(index, args) : std::nullopt;
          })) {}
    ~CallLog() { rowxpp::SetOdbcCallDecorator(kept_); }

    // How many bytes of the value buffer of bind `number` to keep.
    std::function<size_t(int64_t number)> valueBytes = [](int64_t) { return size_t{0}; };

    std::vector<BindCall> Binds() const {
        std::lock_guard<std::mutex> guard(lock_);
        return binds_;
    }
    int Count(int index) const {
        std::lock_guard<std::mutex> guard(lock_);
        int n = 0;
        for (const auto& c : calls_) n += c.first == index;
        return n;
    }
    std::vector<std::vector<int64_t>> ArgumentsOf(int index) const {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<std::vector<int64_t>> found;
        for (const auto& c : calls_)
            if (c.first == index) found.push_back(c.second);
        return found;
    }
    // Every call in order: its index and arguments.
    std::vector<std::pair<int, std::vector<int64_t>>> Calls() const {
        std::lock_guard<std::mutex> guard(lock_);
        return calls_;
    }
    size_t Total() const {
        std::lock_guard<std::mutex> guard(lock_);
        return calls_.size();
    }

private:
    BindCall Read(const std::vector<int64_t>& a) {
        BindCall b{a[1], a[3], a[4], a[5], a[6], a[8], a[7], a[9], 0, {}};
        if (b.indicatorAddress != 0) std::memcpy(&b.indicator, reinterpret_cast<const void*>(b.indicatorAddress), 8);
        size_t n = valueBytes(b.number);
        if (n > 0 && b.valueAddress != 0) b.bytes.assign(reinterpret_cast<const char*>(b.valueAddress), n);
        return b;
    }

    mutable std::mutex lock_;
    Answer answer_;
    std::vector<std::pair<int, std::vector<int64_t>>> calls_;
    std::vector<BindCall> binds_;
    rowxpp::OdbcCallDecorator kept_;
};

// A connected connection to a data source of the test process.
inline std::shared_ptr<rowxpp::SQLConnection> Connected(const char* dsn) {
    Loaded();
    return rowxpp::SQLConnection::New(dsn, "", "");
}

// What onError blocks were handed, by SQLSTATE of the first record.
struct Shown {
    std::vector<std::string> states;
    std::vector<std::string> reports;
    void Catch(xpp::Value& onError) {
        onError = xpp::Block([this](xpp::Args& a) {
            std::string state;
            auto errors = a[4].Arr();
            if (errors.Len() > 0) state = errors.Get(1).As<rowxpp::SQLError>()->SQLState.Str();
            states.push_back(state);
            reports.push_back(a[2].Str());
            return xpp::Value();
        });
    }
};

}  // namespace rowxpp_test
