// Finding rows of a cursor without a new query: Seek, a binary search over
// a result sorted by its statement, and Locate, a scan forward.
#include <algorithm>

#include "cursor_calls.h"
#include "rowxpp/sql_select.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

xpp::Value FieldOf(SQLSelect& cursor, const xpp::Array& fields, size_t i) {
    return cursor.RowBuffer.Get(static_cast<size_t>(fields.Get(i).Int()));
}

}  // namespace

bool ISROWEQ(SQLSelect& cursor, const xpp::Array& fields, const xpp::Array& key, size_t n) {
    for (size_t i = 1; i <= n; ++i) {
        if (xpp::Ne(FieldOf(cursor, fields, i), key.Get(i))) return false;
    }
    return true;
}

bool ISROWGTEQ(SQLSelect& cursor, const xpp::Array& fields, const xpp::Array& key, size_t i, size_t n) {
    if (i > n) return true;
    xpp::Value value = FieldOf(cursor, fields, i);
    if (xpp::Gt(value, key.Get(i))) return true;
    if (xpp::Eq(value, key.Get(i))) return ISROWGTEQ(cursor, fields, key, i + 1, n);
    return false;
}

xpp::Block ISFIELDEQ(int64_t position, const xpp::Value& value) {
    return xpp::Block([position, value](xpp::Args& a) -> xpp::Value {
        auto cursor = a[1].As<SQLSelect>();
        if (!cursor) return false;
        return xpp::Eq(cursor->RowBuffer.Get(static_cast<size_t>(position)), value);
    });
}

bool EVALLIST(const xpp::Array& blocks, size_t count, const xpp::Value& a, const xpp::Value& b) {
    for (size_t i = 1; i <= count; ++i) {
        xpp::Value block = blocks.Get(i);
        if (!block.IsBlock()) return false;
        xpp::Value answer = block.Blk()(a, b);
        if (!answer.IsLogical() || !answer.Log()) return false;
    }
    return true;
}

bool SQLSelect::isPrevLower_(const xpp::Array& fields, const xpp::Array& key, size_t n) {
    XPP_FRAME("SQLSELECT:__ISPREVLOWER");
    FetchScroll_(SQL_FETCH_PRIOR);
    bool lower = false;
    for (size_t i = 1; i <= n && !lower; ++i) lower = xpp::Lt(FieldOf(*this, fields, i), key.Get(i));
    FetchNext_();
    return lower;
}

bool SQLSelect::Seek(const xpp::Value& key, const xpp::Value& fields, const xpp::Value& soft, const xpp::Value& first,
                     const xpp::Value& last) {
    XPP_FRAME("SQLSELECT:SEEK");
    int64_t old = nRecNo;
    int64_t low = first.IsNum() ? first.Int() : 1;
    int64_t high = last.IsNum() ? last.Int() : RecCount();
    bool isSoft = soft.IsLogical() && soft.Log();
    if (fields.IsNil() && SortOrder.Len() == 0) {
        RAISEERROR_(0, "Can not seek unsorted result set!");
        return false;
    }
    if (high < low) return false;
    if (key.IsNil()) {
        RAISEERROR_(0, "Invalid seek expression!");
        return false;
    }
    xpp::Array list;
    if (fields.IsNil()) list = xpp::AClone(SortOrder);
    else if (fields.IsArray()) list = xpp::AClone(fields.Arr());
    else list = xpp::Array{fields};
    xpp::Array keys = key.IsArray() ? key.Arr() : xpp::Array{key};
    size_t n = std::min(list.Len(), keys.Len());
    for (size_t i = 1; i <= n; ++i) {
        int64_t position = FieldPos(list.Get(i), true);
        if (position == 0) return false;
        list.Set(i, position);
    }
    GoTo(low + (high - low + 1) / 2);
    int64_t end = high = high + 1;
    low = low - 1;
    for (;;) {
        if (ISROWEQ(*this, list, keys, n) && (nRecNo <= low + 1 || isPrevLower_(list, keys, n))) return true;
        if (ISROWGTEQ(*this, list, keys, 1, n)) {
            high = nRecNo;
            if (!FetchScroll_(SQL_FETCH_ABSOLUTE, low + (high - low) / 2) || nRecNo <= low) break;
        } else {
            low = nRecNo;
            if (!FetchScroll_(SQL_FETCH_ABSOLUTE, low + (high - low + 1) / 2) || nRecNo >= high) break;
        }
    }
    if (isSoft && high < end) GoTo(high);
    else GoTo(old);
    return false;
}

bool SQLSelect::Locate(const xpp::Value& condition, const xpp::Value& field, const xpp::Value& continueFlag,
                       const xpp::Value& maximum) {
    XPP_FRAME("SQLSELECT:LOCATE");
    int64_t old = nRecNo;
    if (!isCursorOpen && Refresh() == kExecFailed) return false;
    xpp::Block test;
    if (condition.IsBlock()) {
        test = condition.Blk();
    } else if (condition.IsArray()) {
        // every condition is tested; a value needs its field, and a single
        // field stands for a list of one
        xpp::Array conditions = condition.Arr();
        xpp::Array names = field.IsArray() ? field.Arr() : xpp::Array{field};
        size_t count = conditions.Len();
        if (count == 0) return false;
        xpp::Array blocks(count);
        for (size_t i = 1; i <= count; ++i) {
            xpp::Value c = conditions.Get(i);
            if (c.IsBlock()) {
                blocks.Set(i, c);
                continue;
            }
            int64_t position = FieldPos(i <= names.Len() ? names.Get(i) : xpp::Value(), true);
            if (position <= 0) return false;
            blocks.Set(i, xpp::Value(ISFIELDEQ(position, c)));
        }
        test = xpp::Block([blocks, count](xpp::Args& a) -> xpp::Value { return EVALLIST(blocks, count, a[1], a[2]); });
    } else {
        int64_t position = FieldPos(field, true);
        if (position <= 0) return false;
        test = ISFIELDEQ(position, condition);
    }
    // Only rows are tested: not the position of an empty result, nor the
    // one past the last row of a forward-only cursor.
    bool onRow = nRecNo >= 1 && !(Bof_ && Eof_) && (isScrollable || !Eof_);
    if (!(continueFlag.IsLogical() && continueFlag.Log())) {
        if (isScrollable || (Bof_ && Eof_)) {
            onRow = GoTop();
        } else if (nRecNo != 1 || !onRow) {
            // a forward-only cursor cannot go back to its first row
            return false;
        }
    }
    int64_t examined = 0;
    while (onRow) {
        xpp::Value answer = test(Self_(), xpp::Value(nRecNo));
        if (answer.IsLogical() && answer.Log()) return true;
        if ((maximum.IsNum() && ++examined >= maximum.Int()) || !FetchNext_()) break;
    }
    if (isScrollable) GoTo(old);
    return false;
}

}  // namespace rowxpp
