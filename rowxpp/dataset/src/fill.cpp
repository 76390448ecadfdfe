// SQLDataSet: filling the cache from the cursor, the lazy refresh and the
// key handed to each re-executed cursor.
#include <sql.h>
#include <sys/mman.h>
#include <sqlext.h>

#include "rowxpp/sql_dataset.h"
#include "rowxpp/sql_error.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

// Makes the whole pages of `bytes` at `at` present in one call (in large
// pages where the system has them), instead of a fault per page while
// they are filled.
void Present(void* at, size_t bytes) {
    constexpr uintptr_t kPage = 4096;
    constexpr int kPopulateWrite = 23;  // MADV_POPULATE_WRITE (Linux 5.14); refused harmlessly before
    uintptr_t first = (reinterpret_cast<uintptr_t>(at) + kPage - 1) & ~(kPage - 1);
    uintptr_t last = (reinterpret_cast<uintptr_t>(at) + bytes) & ~(kPage - 1);
    if (last <= first) return;
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    madvise(reinterpret_cast<void*>(first), last - first, kPopulateWrite);
}

}  // namespace

int64_t SQLDataSet::FetchData(const xpp::Value& force) {
    XPP_FRAME("SQLDATASET:FETCHDATA");
    xpp::Sync sync(*this);
    std::vector<xpp::Value> rows;
    std::vector<xpp::Value> links = DataLinksGet_.Items();
    xpp::Value filter = CustomFilter;
    const size_t fieldCount = static_cast<size_t>(FCount_);
    const bool limited = MaxRows.IsNum() && MaxRows.Dbl() >= 0;
    const int64_t limit = limited ? MaxRows.Int() : 0;
    const bool timed = nQueryTimeout > 0;
    // a mark that arrives from here on is kept for the next use
    const bool wasStale = isRefreshNeeded_.exchange(false);
    xpp::Value parameters = SQLParameters.IsBlock() ? xpp::Eval(SQLParameters) : SQLParameters;
    const bool whole = lWholeCursor_;
    // the AddColumn columns are computed once the new rows are cached
    std::vector<bool> rowComputed(fieldCount, false);
    bool anyRowComputed = false;
    for (size_t i = 1; i <= fieldCount && i <= FieldColumn_.Len(); ++i)
        anyRowComputed |= rowComputed[i - 1] = FieldColumn_.Get(i).Int() == kRowComputed;
    int64_t counter = 0;
    bool success = true;

    if (force.IsLogical() && !force.Log() && DataSet.Len() > 0 && ISEQUAL(CurParameters_, parameters)) return -1;

    if (!Cursor_) {
        if (wasStale) isRefreshNeeded_ = true;
        RecNo_ = 0;
        RefreshChildren();
        return 0;
    }

    const double deadline = xpp::MonotonicSeconds() + static_cast<double>(nQueryTimeout);

    // Init's execution serves the first fill only when it ran with these
    // parameters
    bool again = isCursorClosed_ || !Cursor_->isCursorOpen ||
                 (initExecuted_ && !ISEQUAL(initParameters_, parameters));
    initExecuted_ = false;
    initParameters_ = xpp::Value();
    if (again) {
        bool display = Cursor_->DisplayErrors;
        Cursor_->DisplayErrors = false;
        {
            std::lock_guard<std::mutex> guard(handleLock_);
            Cursor_->Reset(xpp::Value(SQLString));
        }
        Cursor_->SetAttribute(SQL_ATTR_CONCURRENCY, SQL_CONCUR_READ_ONLY);
        Cursor_->SetAttribute(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY);
        // dropping the statement forgot its attributes: the limits set on
        // the data set and on the cursor are applied again
        if (nQueryTimeout > 0) Cursor_->SetAttribute(SQL_ATTR_QUERY_TIMEOUT, nQueryTimeout);
        if (Cursor_->nMaxRows > 0) Cursor_->SetAttribute(SQL_ATTR_MAX_ROWS, Cursor_->nMaxRows);
        Cursor_->DisplayErrors = display;
        Cursor_->isRefresh = true;
        {
            std::lock_guard<std::mutex> guard(handleLock_);
            executing_ = true;
            executionStart_ = std::chrono::steady_clock::now();
        }
        const int64_t executed = Cursor_->Execute(xpp::Args{parameters});
        {
            std::lock_guard<std::mutex> guard(handleLock_);
            executing_ = false;
        }
        if (executed == kExecFailed) {
            success = false;
            isTruncated_ = true;
        } else if (!xpp::Empty(PrimaryKey_)) {
            Cursor_->SetPrimaryKey(PrimaryKey_);
        }
        Cursor_->isRefresh = false;
    }

    if (success) {
        SQLSelect& cursor = *Cursor_;
        xpp::Value oCursor(Cursor_);
        // Each row is one array: its values, the state and the array of the
        // values as fetched, both made in the large blocks of one batch.
        // Without a filter nothing reads the cursor's row between one row's
        // copy and the next fetch, which clears it: the values are moved
        // out instead of copied.
        const bool moving = !filter.IsBlock();
        std::vector<xpp::Value> values;     // a row's elements, keeping their room
        std::vector<xpp::Value> originals;  // the same for the values as fetched
        xpp::ArrayBatch batch;
        // what goes into the cache holds clones of the cursor's arrays
        auto cloneArrays = [](std::vector<xpp::Value>& list) {
            for (xpp::Value& v : list)
                if (v.IsArray()) v = xpp::AClone(v.Arr());
        };
        auto cloneNested = [](const xpp::Array& a, bool nested) {
            for (size_t i = 1, n = nested ? a.Len() : 0; i <= n; ++i) {
                xpp::Value v = a.Get(i);
                if (v.IsArray()) a.Set(i, xpp::AClone(v.Arr()));
            }
        };
        auto takeOriginals = [&]() {
            const xpp::Array& fetched = cursor.Row()->Original;
            if (moving) {
                bool nested = false;
                xpp::Array taken = batch.TakeFrom(fetched, 0, &nested);
                cloneNested(taken, nested);
                return taken;
            }
            fetched.ItemsInto(originals);
            cloneArrays(originals);
            return batch.Take(originals);
        };
        auto build = [&]() {
            if (moving && whole) {
                bool nested = false;
                xpp::Array row = batch.TakeRow(cursor.RowBuffer, 1, cursor.Row()->Original, &nested);
                cloneNested(row, nested);  // the array of values as fetched is cloned whole
                rows.emplace_back(std::move(row));
                return;
            }
            values.reserve(fieldCount + 2);
            if (whole) {
                cursor.RowBuffer.ItemsInto(values);
                cloneArrays(values);
            } else {
                for (size_t i = 0; i < fieldCount && i < links.size(); ++i)
                    values.push_back(rowComputed[i] ? xpp::Value() : xpp::Eval(links[i], xpp::Args{oCursor}));
            }
            values.push_back(1);
            values.emplace_back(takeOriginals());
            rows.emplace_back(batch.Take(values));
        };
        if (!filter.IsBlock()) {
            // room for the rows the driver says the result has (at most the
            // limit): the list of rows then never moves while it grows
            xpp::Value counted = GETDIAGFIELD_(SQL_HANDLE_STMT, cursor.Handle, 0, SQL_DIAG_CURSOR_ROW_COUNT);
            if (counted.IsNum() && counted.Int() > 0) {
                int64_t expected = limited ? std::min(counted.Int(), limit) : counted.Int();
                rows.reserve(static_cast<size_t>(std::min<int64_t>(expected, int64_t{1} << 24)));
                Present(rows.data(), rows.capacity() * sizeof(xpp::Value));
            }
        }
        auto late = [&]() { return timed && xpp::MonotonicSeconds() >= deadline; };
        if (filter.IsBlock()) {
            while (!cursor.Eof() && !isCancelled && !late()) {
                if (xpp::Eval(filter, xpp::Args{oCursor}).Log()) {
                    if (limited && ++counter > limit) break;
                    build();
                }
                cursor.Skip();
            }
        } else {
            while (!cursor.Eof() && !isCancelled) {
                if ((limited && ++counter > limit) || late()) break;
                build();
                cursor.Skip();
            }
        }
        isTruncated_ = !cursor.Eof();
        OrderBy = cursor.OrderBy;
        SortOrder = xpp::AClone(cursor.SortOrder);
    }

    DropCursor_();

    isCursorClosed_ = true;
    if (!success) isRefreshNeeded_ = true;
    int64_t n = static_cast<int64_t>(rows.size());
    DataSet.Assign(std::move(rows));
    if (anyRowComputed) {
        // as AddColumn computes them: on each row in turn, made current
        const xpp::Array filled = DataSet;
        for (size_t p = 1; p <= fieldCount; ++p) {
            if (!rowComputed[p - 1]) continue;
            xpp::Value get = DataLinksGet_.Get(p);
            for (int64_t i = 1; i <= n && static_cast<size_t>(i) <= filled.Len(); ++i) {
                RecNo_ = i;
                xpp::Value value = xpp::Eval(get);
                filled.Get(static_cast<size_t>(i)).Arr().Set(p, value);
            }
        }
    }
    RecNo_ = n > 0 ? 1 : 0;
    CurParameters_ = parameters.IsArray() ? xpp::Value(xpp::AClone(parameters.Arr())) : parameters;
    lBof_ = lEof_ = (RecNo_ == 0);
    DeletedList_.Clear();
    for (size_t i = 1; i <= isColumnEmpty_.Len(); ++i) isColumnEmpty_.Set(i, xpp::Value());
    RefreshChildren();
    return n;
}

int64_t SQLDataSet::Refresh(const xpp::Value& x) {
    if (x.IsNil()) {
        isRefreshNeeded_ = true;
        return -1;
    }
    xpp::Sync sync(*this);
    if (isRefreshNeeded_) return FetchData(false);
    return -1;
}

void SQLDataSet::RefreshIfNeeded_() {
    if (isRefreshNeeded_) FetchData(false);
}

xpp::Value SQLDataSet::SetPrimaryKey(const xpp::Value& key, const xpp::Value& second) {
    PrimaryKey_ = key;
    if (!Cursor_) return xpp::Value();
    return Cursor_->SetPrimaryKey(key, second);
}

}  // namespace rowxpp
