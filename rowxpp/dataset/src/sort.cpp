// SQLDataSet: sorting the cached rows, the binary search of Seek and the
// scan of Locate, with the row comparisons they use.
#include <algorithm>
#include <functional>

#include "rowxpp/sql_dataset.h"
#include "rowxpp/sql_error.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

xpp::Value FieldOf(const xpp::Value& row, const xpp::Array& fields, size_t i) {
    return row.Arr().Get(static_cast<size_t>(fields.Get(i).Int()));
}

bool Sortable(const xpp::Value& blank) {
    char t = blank.Type();
    return t == 'C' || t == 'N' || t == 'D';
}

}  // namespace

namespace {

// Key order over fields[start..count]: whether x comes after y (`after`)
// or before it; equal keys answer .F.
bool Ordered(const xpp::Value& x, const xpp::Value& y, const xpp::Array& fields, size_t start, size_t count,
             bool after) {
    for (size_t i = start; i <= count; ++i) {
        xpp::Value a = FieldOf(x, fields, i), b = FieldOf(y, fields, i);
        if (after ? xpp::Lt(a, b) : xpp::Gt(a, b)) return false;
        if (!xpp::Eq(a, b)) return true;
    }
    return false;
}

}  // namespace

bool ISLT(const xpp::Value& x, const xpp::Value& y, const xpp::Array& fields, size_t start, size_t count) {
    return Ordered(x, y, fields, start, count, false);
}

bool ISGT(const xpp::Value& x, const xpp::Value& y, const xpp::Array& fields, size_t start, size_t count) {
    return Ordered(x, y, fields, start, count, true);
}

bool ISAROWEQ(const xpp::Value& row, const xpp::Array& fields, const xpp::Array& values, size_t count) {
    for (size_t i = 1; i <= count; ++i)
        if (xpp::Ne(FieldOf(row, fields, i), values.Get(i))) return false;
    return true;
}

bool ISAROWLT(const xpp::Value& row, const xpp::Array& fields, const xpp::Array& values, size_t count) {
    for (size_t i = 1; i <= count; ++i)
        if (xpp::Lt(FieldOf(row, fields, i), values.Get(i))) return true;
    return false;
}

bool ISAROWGTEQ(const xpp::Value& row, const xpp::Array& fields, const xpp::Array& values, size_t start,
                size_t count) {
    for (size_t i = start; i <= count; ++i) {
        xpp::Value a = FieldOf(row, fields, i), b = values.Get(i);
        if (xpp::Gt(a, b)) return true;
        if (!xpp::Eq(a, b)) return false;
    }
    return true;
}

xpp::Block ISCOLEQ(int64_t position, const xpp::Value& value) {
    return xpp::Block([position, value](xpp::Args& a) -> xpp::Value {
        if (!a[1].IsArray() || position < 1 || static_cast<size_t>(position) > a[1].Arr().Len()) return false;
        return xpp::Eq(a[1].Arr().Get(static_cast<size_t>(position)), value);
    });
}

int64_t ASEEK(const xpp::Array& rows, const xpp::Value& value, const xpp::Value& index, const xpp::Value& soft,
              const xpp::Value& low, const xpp::Value& high, bool& found) {
    found = false;
    const auto len = static_cast<int64_t>(rows.Len());
    int64_t lo = low.IsNum() ? low.Int() : 1;
    int64_t hi = high.IsNum() ? high.Int() : len;
    const bool lSoft = soft.IsLogical() && soft.Log();
    if (len == 0 || hi < lo) return 0;
    // the range never leaves the array
    lo = std::max<int64_t>(lo, 1);
    hi = std::min(hi, len);
    if (hi < lo) return 0;
    xpp::Value key = value;
    xpp::Value idx = index;
    if (idx.IsArray() && idx.Arr().Len() == 1) {
        idx = idx.Arr().Get(1);
        if (key.IsArray()) key = key.Arr().Len() > 0 ? key.Arr().Get(1) : xpp::Value();
    }
    size_t cols = 0;
    if (idx.IsArray()) cols = std::min(idx.Arr().Len(), key.IsArray() ? key.Arr().Len() : 0);
    auto element = [&](int64_t n) -> xpp::Value {
        xpp::Value r = rows.Get(static_cast<size_t>(n));
        if (idx.IsNum()) return r.IsArray() ? r.Arr().Get(static_cast<size_t>(idx.Int())) : xpp::Value();
        return r;
    };
    auto equal = [&](int64_t n) {
        if (idx.IsArray()) return ISAROWEQ(rows.Get(static_cast<size_t>(n)), idx.Arr(), key.Arr(), cols);
        return xpp::Eq(element(n), key);
    };
    auto less = [&](int64_t n) {
        if (idx.IsArray()) return ISAROWLT(rows.Get(static_cast<size_t>(n)), idx.Arr(), key.Arr(), cols);
        return xpp::Lt(element(n), key);
    };
    auto greaterEq = [&](int64_t n) {
        if (idx.IsArray()) return ISAROWGTEQ(rows.Get(static_cast<size_t>(n)), idx.Arr(), key.Arr(), 1, cols);
        return xpp::Ge(element(n), key);
    };
    int64_t mid = lo + (hi - lo + 1) / 2;
    hi = hi + 1;
    const int64_t end = hi;
    lo = lo - 1;
    for (;;) {
        if (equal(mid) && (mid <= lo + 1 || less(mid - 1))) {
            found = true;
            return mid;
        }
        if (greaterEq(mid)) {
            hi = mid;
            mid = lo + (hi - lo) / 2;
            if (mid <= lo) break;
        } else {
            lo = mid;
            mid = lo + (hi - lo + 1) / 2;
            if (mid >= hi) break;
        }
    }
    return lSoft && hi < end ? hi : 0;
}

SQLDataSet& SQLDataSet::Sort(const xpp::Value& order, const xpp::Value& ascending) {
    XPP_FRAME("SQLDATASET:SORT");
    xpp::Sync sync(*this);
    Refresh(true);
    if (DataSet.Len() < 1) return *this;
    xpp::Value by = order.IsNil() ? xpp::Value(SortOrder) : order;
    const bool up = !(ascending.IsLogical() && !ascending.Log());
    if (xpp::Empty(by)) return *this;
    if (by.IsArray() && by.Arr().Len() == 1) by = by.Arr().Get(1);
    xpp::Block compare;
    xpp::Array positions;
    if (by.IsBlock()) {
        compare = by.Blk();
    } else if (by.IsArray()) {
        const size_t count = by.Arr().Len();
        for (const xpp::Value& f : by.Arr().Items()) {
            int64_t i = FieldPos(f, true);
            if (i <= 0 || !Sortable(BlankRecord.Get(static_cast<size_t>(i)))) return *this;
            positions.Add(i);
        }
        compare = xpp::Block([positions, count, up](xpp::Args& a) -> xpp::Value {
            return up ? ISLT(a[1], a[2], positions, 1, count) : ISGT(a[1], a[2], positions, 1, count);
        });
    } else {
        int64_t i = FieldPos(by, true);
        if (i <= 0 || !Sortable(BlankRecord.Get(static_cast<size_t>(i)))) return *this;
        positions.Add(i);
        const auto at = static_cast<size_t>(i);
        compare = xpp::Block([at, up](xpp::Args& a) -> xpp::Value {
            xpp::Value x = a[1].Arr().Get(at), y = a[2].Arr().Get(at);
            return up ? xpp::Lt(x, y) : xpp::Gt(x, y);
        });
    }
    xpp::ASort(DataSet, 1, DataSet.Len(), compare);
    OrderBy = positions.Len() > 0 ? positions.Get(1).Int() : 0;
    SortOrder = positions;
    RefreshChildren();
    return *this;
}

bool SQLDataSet::Seek(const xpp::Value& value, const xpp::Value& fields, const xpp::Value& soft,
                      const xpp::Value& low, const xpp::Value& high) {
    XPP_FRAME("SQLDATASET:SEEK");
    Refresh(true);
    xpp::Value given = fields.IsNil() ? xpp::Value(SortOrder) : fields;
    if (given.IsArray() && given.Arr().Len() == 0) {
        RAISEERROR_(0, "Can not seek unsorted data set!");
        return false;
    }
    if (value.IsNil()) {
        RAISEERROR_(0, "Invalid seek expression!");
        return false;
    }
    xpp::Array positions = given.IsArray() ? xpp::AClone(given.Arr()) : xpp::Array{given};
    // an array of the caller is trimmed in place
    xpp::Array key = value.IsArray() ? value.Arr() : xpp::Array{value};
    const size_t count = std::min(key.Len(), positions.Len());
    positions.Resize(count);
    for (size_t i = 1; i <= count; ++i) {
        int64_t p = FieldPos(positions.Get(i), true);
        if (p == 0) return false;
        positions.Set(i, p);
        if (isTrimmed_ && key.Get(i).IsChar()) key.Set(i, xpp::Trim(key.Get(i).Str()));
    }
    bool found = false;
    int64_t at = 0;
    {
        xpp::Sync sync(*this);
        at = ASEEK(DataSet, key, positions, soft, low, high, found);
    }
    if (at == 0) return false;
    GoTo(at);
    return found;
}

bool SQLDataSet::Locate(const xpp::Value& condition, const xpp::Value& fields, const xpp::Value& continueFlag,
                        const xpp::Value& count) {
    XPP_FRAME("SQLDATASET:LOCATE");
    Refresh(true);
    std::function<bool(const xpp::Value&, int64_t)> test;
    if (condition.IsBlock()) {
        xpp::Block block = condition.Blk();
        test = [block](const xpp::Value& row, int64_t n) { return xpp::Eval(block, xpp::Args{row, n}).Log(); };
    } else if (condition.IsArray()) {
        xpp::Array list = condition.Arr();
        // without a field list every element is tested: blocks as they
        // are, a value as the value of a field that is not there
        const bool named = !fields.IsNil();
        xpp::Array names = fields.IsArray() ? fields.Arr() : (named ? xpp::Array{fields} : xpp::Array());
        const size_t cols = named ? std::min(list.Len(), names.Len()) : list.Len();
        xpp::Array blocks;
        for (size_t n = 1; n <= cols; ++n) {
            xpp::Value v = list.Get(n);
            if (v.IsBlock()) {
                blocks.Add(v);
                continue;
            }
            int64_t p = FieldPos(n <= names.Len() ? names.Get(n) : xpp::Value(), true);
            if (p == 0) return false;
            blocks.Add(ISCOLEQ(p, v));
        }
        test = [blocks, cols](const xpp::Value& row, int64_t n) { return EVALLIST(blocks, cols, row, n); };
    } else {
        int64_t p = FieldPos(fields, true);
        if (p <= 0) return false;
        xpp::Block block = ISCOLEQ(p, condition);
        test = [block](const xpp::Value& row, int64_t) { return xpp::Eval(block, xpp::Args{row}).Log(); };
    }
    int64_t found = 0;
    {
        xpp::Sync sync(*this);
        const auto len = static_cast<int64_t>(DataSet.Len());
        int64_t start = continueFlag.IsLogical() && continueFlag.Log() ? std::max<int64_t>(RecNo_.load(), 1) : 1;
        int64_t last = count.IsNum() ? std::min(len, start + count.Int() - 1) : len;
        for (int64_t i = start; i <= last; ++i) {
            if (test(DataSet.Get(static_cast<size_t>(i)), i)) {
                found = i;
                break;
            }
        }
    }
    if (found == 0) return false;
    GoTo(found);
    xpp::Value filter = BrowseFilter;
    if (filter.IsBlock()) {
        const int64_t n = RecNo_.load();
        if (!xpp::Eval(filter, xpp::Args{DataSet.Get(static_cast<size_t>(n)), n, Self_()}).Log()) {
            if (!Skip()) return false;
            return Locate(condition, fields, true, count);
        }
    }
    return true;
}

}  // namespace rowxpp
