// Array functions.
#include <algorithm>

#include "xpp/error.h"
#include "xpp/functions.h"

namespace xpp {

namespace {

// The 0-based range [first, last) of `start`/`count` (1-based) over `len` elements.
void Range(size_t len, size_t start, size_t count, size_t& first, size_t& last) {
    if (start < 1) start = 1;
    first = std::min(start - 1, len);
    last = count >= len - first ? len : first + count;
}

// Order of the default sort across types.
int TypeRank(char t) {
    switch (t) {
        case 'U': return 0;
        case 'L': return 1;
        case 'N': return 2;
        case 'D': return 3;
        case 'C': return 4;
        default: return 5;
    }
}

bool DefaultBefore(const Value& x, const Value& y) {
    int rx = TypeRank(x.Type()), ry = TypeRank(y.Type());
    if (rx != ry) return rx < ry;
    if (rx == 0 || rx == 5) return false;
    if (x.IsChar()) return x.Str() < y.Str();  // bytes, whatever the EXACT setting
    return Lt(x, y);
}

}  // namespace

Value ArrayGet(const Value& a, size_t i) {
    if (!a.IsArray()) return RuntimeError(EG_ARG, 1068, "array access", Array{a, static_cast<int64_t>(i)});
    return a.Arr().Get(i);
}

void ArrayPut(const Value& a, size_t i, Value v) {
    if (!a.IsArray()) {
        RuntimeError(EG_ARG, 1069, "array assign", Array{a, static_cast<int64_t>(i), v});
        return;
    }
    a.Arr().Set(i, std::move(v));
}

Array MakeArray(size_t n) { return Array(n); }

Array MakeArray(size_t n, size_t m) {
    Array a(n);
    for (size_t i = 1; i <= n; ++i) a.Set(i, Array(m));
    return a;
}

Value AAdd(const Array& a, Value v) {
    a.Add(v);
    return v;
}

void ASize(const Array& a, size_t n) { a.Resize(n); }

void ADel(const Array& a, size_t i) {
    std::vector<Value> items = a.Items();
    if (i < 1 || i > items.size()) return;
    items.erase(items.begin() + static_cast<ptrdiff_t>(i - 1));
    items.emplace_back();
    a.Assign(std::move(items));
}

void AIns(const Array& a, size_t i) {
    std::vector<Value> items = a.Items();
    if (i < 1 || i > items.size()) return;
    for (size_t k = items.size() - 1; k >= i; --k) items[k] = std::move(items[k - 1]);
    items[i - 1] = Value();
    a.Assign(std::move(items));
}

size_t AScan(const Array& a, const Value& value, size_t start, size_t count) {
    if (value.IsArray() || value.IsObject()) {
        // the same array or object: no comparison that could run other code
        size_t first, last;
        Range(a.Len(), start, count, first, last);
        return a.FindSame(value.Identity(), first, last);
    }
    std::vector<Value> items = a.Items();
    size_t first, last;
    Range(items.size(), start, count, first, last);
    for (size_t i = first; i < last; ++i) {
        const Value& e = items[i];
        if (e.Type() != value.Type()) continue;
        if (ExactEq(e, value)) return i + 1;
    }
    return 0;
}

size_t AScan(const Array& a, const Block& block, size_t start, size_t count) {
    std::vector<Value> items = a.Items();
    size_t first, last;
    Range(items.size(), start, count, first, last);
    for (size_t i = first; i < last; ++i) {
        Value r = block(items[i], static_cast<int64_t>(i + 1));
        if (r.IsLogical() && r.Log()) return i + 1;
    }
    return 0;
}

Array AEval(const Array& a, const Block& block, size_t start, size_t count, bool byRef) {
    size_t first, last;
    Range(a.Len(), start, count, first, last);
    for (size_t i = first; i < last && i < a.Len(); ++i) {
        Value e = a.Get(i + 1);
        if (byRef) {
            Ref cell(e);
            block(cell, static_cast<int64_t>(i + 1));
            if (i < a.Len()) a.Set(i + 1, cell.Get());
        } else {
            block(e, static_cast<int64_t>(i + 1));
        }
    }
    return a;
}

Array AClone(const Array& a) {
    std::vector<Value> items = a.Items();
    for (Value& v : items)
        if (v.IsArray()) v = AClone(v.Arr());
    return Array(std::move(items));
}

Array ASort(const Array& a, size_t start, size_t count, const Block& block) {
    std::vector<Value> items = a.Items();
    size_t first, last;
    Range(items.size(), start, count, first, last);
    size_t n = last - first;
    if (n < 2) return a;
    auto before = [&](const Value& x, const Value& y) {
        if (!block.IsSet()) return DefaultBefore(x, y);
        Value r = block(x, y);
        return r.IsLogical() && r.Log();
    };
    // A bottom-up merge sort: every step takes one element from one of two
    // runs, so whatever the block answers, each element lands exactly once.
    std::vector<Value> src(items.begin() + static_cast<ptrdiff_t>(first),
                           items.begin() + static_cast<ptrdiff_t>(last));
    std::vector<Value> dst(n);
    for (size_t width = 1; width < n; width *= 2) {
        for (size_t lo = 0; lo < n; lo += 2 * width) {
            size_t mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) {
                // take from the right run only when it strictly goes first: stable
                if (before(src[j], src[i])) dst[k++] = src[j++];
                else dst[k++] = src[i++];
            }
            while (i < mid) dst[k++] = src[i++];
            while (j < hi) dst[k++] = src[j++];
        }
        src.swap(dst);
    }
    std::move(src.begin(), src.end(), items.begin() + static_cast<ptrdiff_t>(first));
    a.Assign(std::move(items));
    return a;
}

Array AFill(const Array& a, const Value& v, size_t start, size_t count) {
    std::vector<Value> items = a.Items();
    size_t first, last;
    Range(items.size(), start, count, first, last);
    for (size_t i = first; i < last; ++i) items[i] = v;
    a.Assign(std::move(items));
    return a;
}

}  // namespace xpp
