// SQLDataSet: moving through the cached rows, with and without the browse
// filter. The pointer never leaves the cache: at either end it stays on
// the last or first row and the matching flag is set.
#include "rowxpp/sql_dataset.h"
#include "xpp/functions.h"

namespace rowxpp {

bool SQLDataSet::Bof() {
    Refresh(true);
    return lBof_.Log();
}

bool SQLDataSet::Eof() {
    Refresh(true);
    return lEof_.Log();
}

int64_t SQLDataSet::RecCount() {
    Refresh(true);
    return static_cast<int64_t>(DataSet.Len());
}

bool SQLDataSet::GoTo(const xpp::Value& row) {
    Refresh(true);
    const int64_t old = RecNo_.load();
    const int64_t len = static_cast<int64_t>(DataSet.Len());
    const int64_t n = row.IsNum() ? row.Int() : 0;
    if (n <= 0) {
        lBof_ = true;
        RecNo_ = len > 0 ? 1 : 0;
    } else if (n > len) {
        lEof_ = true;
        RecNo_ = len;
    } else {
        lBof_ = lEof_ = false;
        RecNo_ = n;
    }
    if (RecNo_ != old) RefreshChildren();
    return RecNo_ == n;
}

SQLDataSet& SQLDataSet::GoTop() {
    Refresh(true);
    const int64_t old = RecNo_.load();
    const int64_t len = static_cast<int64_t>(DataSet.Len());
    RecNo_ = len > 0 ? 1 : 0;
    if (RecNo_ != old) RefreshChildren();
    xpp::Value filter = BrowseFilter;
    if (filter.IsBlock() && RecNo_ > 0) {
        xpp::Value self = Self_();
        while (!xpp::Eval(filter, xpp::Args{DataSet.Get(static_cast<size_t>(RecNo_.load())), RecNo_.load(), self})
                    .Log()) {
            if (++RecNo_ > len) {
                RecNo_ = 0;
                lBof_ = lEof_ = true;
                RefreshChildren();
                return *this;
            }
            RefreshChildren();
        }
    }
    lBof_ = lEof_ = (RecNo_ == 0);
    return *this;
}

SQLDataSet& SQLDataSet::GoBottom() {
    Refresh(true);
    const int64_t old = RecNo_.load();
    const int64_t len = static_cast<int64_t>(DataSet.Len());
    RecNo_ = len;
    if (RecNo_ != old) RefreshChildren();
    xpp::Value filter = BrowseFilter;
    if (filter.IsBlock() && RecNo_ > 0) {
        xpp::Value self = Self_();
        while (!xpp::Eval(filter, xpp::Args{DataSet.Get(static_cast<size_t>(RecNo_.load())), RecNo_.load(), self})
                    .Log()) {
            if (--RecNo_ <= 0) {
                RecNo_ = 0;
                lBof_ = lEof_ = true;
                RefreshChildren();
                return *this;
            }
            RefreshChildren();
        }
    }
    lBof_ = lEof_ = (RecNo_ == 0);
    return *this;
}

int64_t SQLDataSet::FilteredWalk_(int64_t n, bool& reached) {
    const bool forward = n >= 0;
    const int64_t wanted = forward ? n : -n;
    Refresh(true);
    xpp::Value filter = BrowseFilter;
    xpp::Array data = DataSet;
    const int64_t len = static_cast<int64_t>(data.Len());
    int64_t last = RecNo_.load();
    int64_t count = 0;
    xpp::Value self = Self_();
    reached = false;
    for (;;) {
        int64_t at = RecNo_.load() + (forward ? 1 : -1);
        if (forward && at > len) {
            RecNo_ = last;
            lEof_ = true;
            return count;
        }
        if (!forward && at <= 0) {
            RecNo_ = last;
            lBof_ = true;
            return -count;
        }
        RecNo_ = at;
        RefreshChildren();
        if (xpp::Eval(filter, xpp::Args{data.Get(static_cast<size_t>(at)), at, self}).Log()) {
            if (++count == wanted) break;
            last = at;
        }
    }
    lBof_ = lEof_ = false;
    reached = true;
    return forward ? count : -count;
}

bool SQLDataSet::Skip(const xpp::Value& n) {
    const int64_t by = n.IsNum() ? n.Int() : 1;
    if (!BrowseFilter.IsBlock() || by == 0) return GoTo(RecNo_.load() + by);
    bool reached = false;
    FilteredWalk_(by, reached);
    return reached;
}

int64_t SQLDataSet::Skipper(const xpp::Value& n) {
    const int64_t by = n.IsNum() ? n.Int() : 0;
    const int64_t old = RecNo_.load();
    if (!BrowseFilter.IsBlock() || by == 0) {
        GoTo(old + by);
        return RecNo_.load() - old;
    }
    bool reached = false;
    return FilteredWalk_(by, reached);
}

}  // namespace rowxpp
