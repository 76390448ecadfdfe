// SQLDataSet: adding and removing cached rows, undoing a row's changes,
// and writing the deletions, the added rows and the changed rows back
// through the cursor's write statement.
#include <algorithm>

#include "rowxpp/sql_dataset.h"
#include "rowxpp/sql_error.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

constexpr int64_t kGuidType = -11;

bool IsRecord(const xpp::Value& v, int64_t fieldCount) {
    return v.IsArray() && v.Arr().Len() == static_cast<size_t>(fieldCount);
}

}  // namespace

std::vector<xpp::Value> SQLDataSet::RowsOf_(const xpp::Value& data) {
    std::vector<xpp::Value> rows;
    if (data.IsNil()) {
        rows.emplace_back();
    } else if (data.IsNum()) {
        for (int64_t i = 1; i <= data.Int(); ++i) rows.emplace_back();
    } else if (data.IsArray()) {
        xpp::Array list = data.Arr();
        if (list.Len() == 0) return rows;
        if (list.Get(1).IsArray()) {
            // only the first record's length is looked at; a later record
            // of another length leaves its row blank
            if (IsRecord(list.Get(1), FCount_)) rows = list.Items();
        } else if (IsRecord(data, FCount_)) {
            rows.push_back(data);
        }
    } else if (auto other = data.As<SQLDataSet>()) {
        if (other->FCount() == FCount_) {
            const int64_t n = other->RecCount();
            for (int64_t i = 1; i <= n; ++i) rows.push_back(other->RecordGet(i));
        }
    }
    return rows;
}

SQLDataSet& SQLDataSet::Append(const xpp::Value& data) {
    XPP_FRAME("SQLDATASET:APPEND");
    xpp::Sync sync(*this);
    Refresh(true);
    for (const xpp::Value& record : RowsOf_(data)) {
        DataSet.Add(xpp::AClone(BlankRecord));
        if (!record.IsNil()) RecordPut(record, static_cast<int64_t>(DataSet.Len()));
    }
    return GoBottom();
}

bool SQLDataSet::Insert(const xpp::Value& row, const xpp::Value& data) {
    XPP_FRAME("SQLDATASET:INSERT");
    xpp::Sync sync(*this);
    Refresh(true);
    int64_t at = row.IsNil() ? RecNo_.load() : (row.IsNum() ? row.Int() : -1);
    const auto count = static_cast<int64_t>(DataSet.Len());
    if (at < 0 || at > count) return false;
    if (at == 0) at = 1;
    std::vector<xpp::Value> records = RowsOf_(data);
    for (size_t i = records.size(); i >= 1; --i) {
        DataSet.InsertAt(static_cast<size_t>(at), xpp::AClone(BlankRecord));
        if (!records[i - 1].IsNil()) RecordPut(records[i - 1], at);
    }
    GoTo(at);
    return true;
}

bool SQLDataSet::Delete(const xpp::Value& row) {
    XPP_FRAME("SQLDATASET:DELETE");
    xpp::Sync sync(*this);
    Refresh(true);
    const int64_t n = row.IsNil() ? RecNo_.load() : (row.IsNum() ? row.Int() : 0);
    return RemoveRow_(n, true);
}

bool SQLDataSet::RemoveRow_(int64_t n, bool remember) {
    const auto count = static_cast<int64_t>(DataSet.Len());
    const int64_t current = RecNo_.load();
    if (n < 1 || n > count) return false;
    xpp::Array cached = DataSet.Get(static_cast<size_t>(n)).Arr();
    xpp::Value state = cached.Get(static_cast<size_t>(FCount_ + 1));
    if (remember && !(state.IsNum() && state.Dbl() == 0))
        DeletedList_.Add(cached.Get(static_cast<size_t>(FCount_ + 2)));
    if (n == count) lEof_ = true;
    DataSet.Remove(static_cast<size_t>(n));
    for (size_t i = 1; i <= isColumnEmpty_.Len(); ++i) isColumnEmpty_.Set(i, xpp::Value());
    // a row removed before the current one leaves the same row current
    int64_t next = n < current ? current - 1 : current;
    RecNo_ = std::min(next, count - 1);
    lBof_ = RecNo_.load() == 0;
    RefreshChildren();
    return true;
}

SQLDataSet& SQLDataSet::RefreshRow(const xpp::Value& cursor, const xpp::Value& drop) {
    XPP_FRAME("SQLDATASET:REFRESHROW");
    xpp::Sync sync(*this);
    xpp::Value key = PrimaryKey_.IsArray() ? (PrimaryKey_.Arr().Len() > 0 ? PrimaryKey_.Arr().Get(1) : xpp::Value())
                                           : PrimaryKey_;
    const int64_t keyField = FieldPos(key);
    if (keyField == 0) {
        RAISEERROR_(0, "No primary key defined!");
        return *this;
    }
    auto from = cursor.As<SQLSelect>();
    if (!from) return *this;
    xpp::Value keyValue = from->FieldGet(keyField);
    if (isTrimmed_ && keyValue.IsChar()) keyValue = xpp::Trim(keyValue.Str());
    auto find = [&]() -> int64_t {
        const auto count = static_cast<int64_t>(DataSet.Len());
        for (int64_t i = 1; i <= count; ++i) {
            if (xpp::ExactEq(DataSet.Get(static_cast<size_t>(i)).Arr().Get(static_cast<size_t>(keyField)), keyValue))
                return i;
        }
        return 0;
    };
    const bool gone = (drop.IsLogical() && drop.Log()) || from->Deleted() ||
                      (CustomFilter.IsBlock() && !xpp::Eval(CustomFilter, xpp::Args{cursor}).Log());
    if (gone) {
        // the row leaves the cache only: no DELETE is sent for it later
        RemoveRow_(find(), false);
        return *this;
    }
    std::vector<xpp::Value> values;
    for (const xpp::Value& link : DataLinksGet_.Items()) values.push_back(xpp::Eval(link, xpp::Args{cursor}));
    values.resize(static_cast<size_t>(FCount_));
    values.push_back(1);
    values.push_back(xpp::AClone(from->Row()->Original));
    xpp::Array record(std::move(values));
    const int64_t at = find();
    for (size_t i = 1; i <= isColumnEmpty_.Len(); ++i) isColumnEmpty_.Set(i, xpp::Value());
    if (at > 0) {
        DataSet.Set(static_cast<size_t>(at), record);
        GoTo(at);
    } else {
        DataSet.Add(record);
        GoTo(static_cast<int64_t>(DataSet.Len()));
    }
    return *this;
}

bool SQLDataSet::CommitRow_(const xpp::Array& row, const xpp::Array& buffer) {
    const size_t fields = static_cast<size_t>(FCount_);
    const bool added = row.Get(fields + 1).Dbl() == 0;
    xpp::Value fetched = row.Get(fields + 2);
    // a column that no field shows keeps its value as fetched and so is
    // not written
    for (size_t j = 1; j <= buffer.Len(); ++j) {
        bool known = !added && fetched.IsArray() && j <= fetched.Arr().Len();
        buffer.Set(j, known ? fetched.Arr().Get(j) : xpp::Value());
    }
    for (size_t i = 1; i <= fields; ++i) {
        xpp::Value value = row.Get(i);
        if (!added && value.IsObject()) {
            xpp::Send(value, "commit");
            continue;
        }
        const int64_t j = i <= FieldColumn_.Len() ? FieldColumn_.Get(i).Int() : 0;
        if (j < 1 || static_cast<size_t>(j) > buffer.Len()) continue;
        auto column = Cursor_->GetSQLColumn(j);
        if (!column || !column->isUpdatable) continue;
        if (added && column->SQLType == kGuidType) continue;
        buffer.Set(static_cast<size_t>(j), value);
    }
    // then, in field order, each field without a column of its own hands
    // its value to its set block (a computed field writes it into the
    // cursor's row; a cache-only field's block does nothing)
    xpp::Value oCursor(Cursor_);
    for (size_t i = 1; i <= fields; ++i) {
        const int64_t j = i <= FieldColumn_.Len() ? FieldColumn_.Get(i).Int() : 0;
        xpp::Value value = row.Get(i);
        if (j > 0 || (!added && value.IsObject()) || i > DataLinksSet_.Len()) continue;
        xpp::Eval(DataLinksSet_.Get(i), xpp::Args{oCursor, value});
    }
    return Cursor_->ForceRowUpdate_(added ? xpp::Value() : fetched, xpp::Value(buffer));
}

bool SQLDataSet::Commit() {
    XPP_FRAME("SQLDATASET:COMMIT");
    xpp::Sync sync(*this);
    if (!Cursor_) return false;
    bool result = true;
    RowsUpdated_ = 0;
    for (size_t i = 1; i <= DeletedList_.Len();) {
        if (Cursor_->ForceRowUpdate_(DeletedList_.Get(i), xpp::Value())) {
            ++RowsUpdated_;
            DeletedList_.Remove(i);
        } else {
            result = false;
            ++i;
        }
    }
    xpp::Array buffer = Cursor_->Row()->Buffer;
    const size_t state = static_cast<size_t>(FCount_ + 1);
    for (const xpp::Value& r : DataSet.Items()) {
        xpp::Array row = r.Arr();
        xpp::Value s = row.Get(state);
        if (!s.IsNum() || s.Dbl() > 0) continue;
        if (CommitRow_(row, buffer)) {
            ++RowsUpdated_;
            row.Set(state, 1);
            // what the row holds now: the values written and, in the
            // columns not written, the values as fetched (NIL for NULL), so
            // that a row without key is found again by its next write
            row.Set(state + 1, xpp::AClone(Cursor_->Row()->Original));
        } else {
            result = false;
        }
    }
    DropCursor_();
    return result;
}

SQLDataSet& SQLDataSet::CancelUpdate(const xpp::Value& row) {
    XPP_FRAME("SQLDATASET:CANCELUPDATE");
    xpp::Sync sync(*this);
    Refresh(true);
    const auto count = static_cast<int64_t>(DataSet.Len());
    int64_t current = RecNo_.load();
    const int64_t n = row.IsNil() ? std::min<int64_t>(current, count) : (row.IsNum() ? row.Int() : 0);
    if (n < 1 || n > count) return *this;
    xpp::Array cached = DataSet.Get(static_cast<size_t>(n)).Arr();
    const size_t state = static_cast<size_t>(FCount_ + 1);
    xpp::Value s = cached.Get(state);
    if (!s.IsNum() || s.Dbl() > 0) return *this;
    if (s.Dbl() == 0) {
        Delete(n);
        return *this;
    }
    xpp::Value fetched = cached.Get(state + 1);
    for (size_t i = 1; i < state; ++i) {
        const int64_t j = i <= FieldColumn_.Len() ? FieldColumn_.Get(i).Int() : 0;
        if (j < 1 || !fetched.IsArray() || static_cast<size_t>(j) > fetched.Arr().Len()) continue;
        // what a fill would have stored: the blank for NULL, trimmed texts
        // in a trimmed data set
        xpp::Value v = fetched.Arr().Get(static_cast<size_t>(j));
        if (v.IsNil()) v = BlankRecord.Get(i);
        else if (v.IsChar() && FieldLen_.Get(i).Int() > 0) v = xpp::RTrim(v.Str());
        cached.Set(i, v);
    }
    cached.Set(state, 1);
    for (size_t i = 1; i <= isColumnEmpty_.Len(); ++i) isColumnEmpty_.Set(i, xpp::Value());
    RefreshChildren();
    return *this;
}

}  // namespace rowxpp
