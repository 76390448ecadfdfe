// SQLDataSet: the column schema (cursor, cache-only and computed columns)
// and field and record access in the cache.
#include <string>

#include "rowxpp/sql_connection.h"
#include "rowxpp/sql_dataset.h"
#include "rowxpp/sql_error.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

xpp::Block NilBlock() {
    return xpp::Block([](xpp::Args&) { return xpp::Value(); });
}

std::string Digits(int64_t n) { return std::to_string(n); }

// Switches EXACT on for the life of the guard and puts it back.
class ExactOn {
public:
    ExactOn() : kept_(xpp::Set(xpp::SET_EXACT, true)) {}
    ~ExactOn() { xpp::Set(xpp::SET_EXACT, kept_); }
    ExactOn(const ExactOn&) = delete;
    ExactOn& operator=(const ExactOn&) = delete;

private:
    xpp::Value kept_;
};

}  // namespace

xpp::Value DEFVALUE(const xpp::Value& value) {
    switch (value.Type()) {
        case 'C': return std::string();
        case 'N': return 0;
        case 'D': return xpp::Date();
        case 'L': return false;
        default: return xpp::Value();
    }
}

xpp::Block GETBLOCK(int64_t position, bool trim) {
    return xpp::Block([position, trim](xpp::Args& a) -> xpp::Value {
        auto cursor = a[1].As<SQLSelect>();
        if (!cursor || position < 1 || static_cast<size_t>(position) > cursor->RowBuffer.Len()) return xpp::Value();
        xpp::Value v = cursor->RowBuffer.Get(static_cast<size_t>(position));
        if (trim && v.IsChar()) return xpp::RTrim(v.Str());
        return v;
    });
}

xpp::Block SETBLOCK(int64_t position) {
    return xpp::Block([position](xpp::Args& a) -> xpp::Value {
        auto cursor = a[1].As<SQLSelect>();
        xpp::Value v = a[2];
        if (cursor && position >= 1 && static_cast<size_t>(position) <= cursor->RowBuffer.Len())
            cursor->RowBuffer.Set(static_cast<size_t>(position), v);
        return v;
    });
}

// ------------------------------------------------------------------- schema

void SQLDataSet::BlankOf_(int64_t position, const xpp::Value& block) {
    xpp::Value blank;
    if (Cursor_ && !Cursor_->Eof()) blank = DEFVALUE(xpp::Eval(block, xpp::Args{xpp::Value(Cursor_)}));
    BlankRecord.InsertAt(static_cast<size_t>(position), blank);
    BlankRecord.Resize(static_cast<size_t>(FCount_ + 2));
}

SQLDataSet& SQLDataSet::AddField_(const xpp::Value& field) {
    const int64_t p = ++FCount_;
    BlankRecord.Add(xpp::Value());
    isColumnEmpty_.Add(xpp::Value());
    auto insertBlank = [&](const xpp::Value& blank) {
        BlankRecord.InsertAt(static_cast<size_t>(p), blank);
        BlankRecord.Resize(static_cast<size_t>(FCount_ + 2));
    };
    if (field.IsChar()) {
        std::string name = xpp::RTrim(field.Str());
        FieldList_.Add(name);
        FieldListU_.Add(xpp::Upper(name));
        int64_t n = Cursor_ ? Cursor_->FieldPos(xpp::Value(name)) : 0;
        if (n == 0) {
            insertBlank(xpp::Value());
            DataLinksGet_.Add(NilBlock());
            DataLinksSet_.Add(NilBlock());
            FieldLen_.Add(0);
            FieldColumn_.Add(0);
        } else {
            FieldColumn_.Add(n);
            auto column = Cursor_->GetSQLColumn(n);
            xpp::Value blank = column ? column->DefValue : xpp::Value();
            insertBlank(blank);
            bool trim = isTrimmed_ && blank.IsChar() && !blank.Str().empty();
            DataLinksGet_.Add(GETBLOCK(n, trim));
            DataLinksSet_.Add(SETBLOCK(n));
            FieldLen_.Add(trim ? static_cast<int64_t>(blank.Str().size()) : 0);
        }
    } else if (field.IsBlock()) {
        FieldList_.Add(Digits(p));
        FieldListU_.Add(Digits(p));
        DataLinksGet_.Add(field);
        DataLinksSet_.Add(field);
        BlankOf_(p, field);
        FieldLen_.Add(0);
        FieldColumn_.Add(0);
    } else if (field.IsArray() && field.Arr().Len() >= 2 && field.Arr().Get(2).IsBlock()) {
        xpp::Value name = field.Arr().Get(1);
        if (name.IsChar()) {
            FieldListU_.Add(xpp::Upper(xpp::RTrim(name.Str())));
            FieldList_.Add(xpp::RTrim(name.Str()));
        } else {
            FieldList_.Add(Digits(p));
            FieldListU_.Add(Digits(p));
        }
        xpp::Value block = field.Arr().Get(2);
        DataLinksGet_.Add(block);
        DataLinksSet_.Add(block);
        BlankOf_(p, block);
        FieldLen_.Add(0);
        FieldColumn_.Add(0);
    } else {
        FieldList_.Add(Digits(p));
        FieldListU_.Add(Digits(p));
        DataLinksGet_.Add(NilBlock());
        DataLinksSet_.Add(NilBlock());
        insertBlank(xpp::Value());
        FieldLen_.Add(0);
        FieldColumn_.Add(0);
    }
    return *this;
}

SQLDataSet& SQLDataSet::AddColumn(const xpp::Value& name, const xpp::Value& block) {
    XPP_FRAME("SQLDATASET:ADDCOLUMN");
    xpp::Sync sync(*this);
    const int64_t oldRecNo = RecNo_.load();
    const int64_t count = RecCount();
    xpp::Value get = block.IsNil() ? xpp::Value(NilBlock()) : block;
    std::string cName = name.IsChar() ? xpp::RTrim(name.Str()) : std::string();
    const int64_t p = ++FCount_;
    BlankRecord.Add(xpp::Value());
    FieldList_.Add(cName);
    FieldListU_.Add(xpp::Upper(cName));
    DataLinksGet_.Add(get);
    DataLinksSet_.Add(get);
    FieldLen_.Add(0);
    FieldColumn_.Add(kRowComputed);
    isColumnEmpty_.Add(xpp::Value());
    // rows refilled from now on are built field by field, in this schema
    lWholeCursor_ = false;
    BlankRecord.InsertAt(static_cast<size_t>(p), DEFVALUE(xpp::Eval(get)));
    BlankRecord.Resize(static_cast<size_t>(FCount_ + 2));
    GoTop();
    for (int64_t i = 1; i <= count && static_cast<size_t>(i) <= DataSet.Len(); ++i) {
        RecNo_ = i;
        xpp::Array row = DataSet.Get(static_cast<size_t>(i)).Arr();
        row.Add(xpp::Value());
        row.InsertAt(static_cast<size_t>(p), xpp::Eval(get));
        row.Resize(static_cast<size_t>(FCount_ + 2));
    }
    RecNo_ = oldRecNo;
    return *this;
}

SQLDataSet& SQLDataSet::DelColumn(const xpp::Value& field) {
    XPP_FRAME("SQLDATASET:DELCOLUMN");
    xpp::Sync sync(*this);
    xpp::Array rows = DataSet;
    const size_t count = rows.Len();
    const int64_t p = FieldPos(field, true);
    if (p == 0) return *this;
    --FCount_;
    const size_t at = static_cast<size_t>(p);
    FieldList_.Remove(at);
    FieldListU_.Remove(at);
    DataLinksGet_.Remove(at);
    DataLinksSet_.Remove(at);
    FieldLen_.Remove(at);
    FieldColumn_.Remove(at);
    isColumnEmpty_.Remove(at);
    BlankRecord.Remove(at);
    lWholeCursor_ = false;
    for (size_t i = 1; i <= count; ++i) {
        xpp::Value row = rows.Get(i);
        if (row.IsArray() && row.Arr().Len() >= at) row.Arr().Remove(at);
    }
    return *this;
}

SQLDataSet& SQLDataSet::DelEmptyColumns() {
    int64_t p = 1;
    while (p <= FCount_) {
        if (isColumnEmpty(p)) DelColumn(p);
        else ++p;
    }
    return *this;
}

// ------------------------------------------------------------- field access

int64_t SQLDataSet::FieldPos(const xpp::Value& field, const xpp::Value& raise) {
    XPP_FRAME("SQLDATASET:FIELDPOS");
    if (field.IsNum()) {
        double d = field.Dbl();
        if (d >= 1 && d <= static_cast<double>(FCount_) && d == static_cast<double>(field.Int())) return field.Int();
    } else if (field.IsChar()) {
        std::string key = xpp::Upper(xpp::RTrim(field.Str()));
        size_t found = 0;
        {
            ExactOn exact;
            found = xpp::AScan(FieldListU_, xpp::Value(key));
        }
        if (found > 0) return static_cast<int64_t>(found);
    }
    if (raise.IsLogical() && raise.Log()) RAISEERROR_(0, "Invalid Field: " + ASSTRING(field));
    return 0;
}

std::string SQLDataSet::FieldName(const xpp::Value& field) {
    if (!field.IsNum() && !field.IsChar()) return "";
    int64_t p = FieldPos(field);
    return p > 0 ? FieldList_.Get(static_cast<size_t>(p)).Str() : std::string();
}

xpp::Value SQLDataSet::RowAt_(const xpp::Value& row, int64_t& number) {
    number = row.IsNil() ? RecNo_.load() : (row.IsNum() ? row.Int() : 0);
    if (number < 1 || number > static_cast<int64_t>(DataSet.Len())) return xpp::Value();
    return DataSet.Get(static_cast<size_t>(number));
}

xpp::Value SQLDataSet::FieldGet(const xpp::Value& field, const xpp::Value& row) {
    XPP_FRAME("SQLDATASET:FIELDGET");
    xpp::Sync sync(*this);
    RefreshIfNeeded_();
    int64_t n = 0;
    xpp::Value r = RowAt_(row, n);
    if (!r.IsArray()) return xpp::Value();
    int64_t p = FieldPos(field, true);
    if (p == 0) return xpp::Value();
    xpp::Value v = r.Arr().Get(static_cast<size_t>(p));
    int64_t width = FieldLen_.Get(static_cast<size_t>(p)).Int();
    if (width > 0 && v.IsChar()) return xpp::PadR(v.Str(), width);
    return v;
}

xpp::Value SQLDataSet::FastFieldGet(const xpp::Value& position, const xpp::Value& row) {
    xpp::Sync sync(*this);
    int64_t n = 0;
    xpp::Value r = RowAt_(row, n);
    if (!r.IsArray() || !position.IsNum()) return xpp::Value();
    int64_t p = position.Int();
    if (p < 1 || p > FCount_ + 2 || static_cast<size_t>(p) > r.Arr().Len()) return xpp::Value();
    return r.Arr().Get(static_cast<size_t>(p));
}

xpp::Value SQLDataSet::FieldPut(const xpp::Value& field, const xpp::Value& value, const xpp::Value& row) {
    XPP_FRAME("SQLDATASET:FIELDPUT");
    xpp::Sync sync(*this);
    RefreshIfNeeded_();
    int64_t n = 0;
    xpp::Value r = RowAt_(row, n);
    if (!r.IsArray()) return xpp::Value();
    int64_t p = FieldPos(field, true);
    if (p == 0) return xpp::Value();
    xpp::Array cached = r.Arr();
    const size_t state = static_cast<size_t>(FCount_ + 1);
    xpp::Value s = cached.Get(state);
    if (s.IsNum() && s.Dbl() > 0) cached.Set(state, xpp::Times(s, -1));
    xpp::Value empty = isColumnEmpty_.Get(static_cast<size_t>(p));
    if (empty.IsLogical() && empty.Log() && !xpp::Empty(value)) isColumnEmpty_.Set(static_cast<size_t>(p), false);
    for (const xpp::Value& child : ChildRelations_.Items()) {
        if (auto ds = child.As<SQLDataSet>()) ds->Refresh();
        else xpp::Send(child, "refresh");
    }
    cached.Set(static_cast<size_t>(p), value);
    return value;
}

xpp::Value SQLDataSet::RecordGet(const xpp::Value& row) {
    Refresh(true);
    xpp::Sync sync(*this);
    int64_t n = 0;
    xpp::Value r = RowAt_(row, n);
    if (!r.IsArray()) return xpp::Value();
    xpp::Array copy = xpp::AClone(r.Arr());
    copy.Resize(static_cast<size_t>(FCount_));
    return copy;
}

xpp::Value SQLDataSet::RecordPut(const xpp::Value& values, const xpp::Value& row) {
    Refresh(true);
    xpp::Sync sync(*this);
    int64_t n = 0;
    xpp::Value r = RowAt_(row, n);
    if (!r.IsArray() || !values.IsArray() || values.Arr().Len() != static_cast<size_t>(FCount_)) return xpp::Value();
    xpp::Array cached = r.Arr();
    const size_t state = static_cast<size_t>(FCount_ + 1);
    xpp::Value s = cached.Get(state);
    if (s.IsNum() && s.Dbl() > 0) cached.Set(state, xpp::Times(s, -1));
    for (size_t i = 1; i <= isColumnEmpty_.Len(); ++i) isColumnEmpty_.Set(i, xpp::Value());
    RefreshChildren();
    std::vector<xpp::Value> given = values.Arr().Items();
    for (size_t i = 1; i <= given.size(); ++i) cached.Set(i, given[i - 1]);
    return values;
}

xpp::Array SQLDataSet::GetColumnData(const xpp::Value& field) {
    XPP_FRAME("SQLDATASET:GETCOLUMNDATA");
    xpp::Sync sync(*this);
    RefreshIfNeeded_();
    xpp::Array column;
    int64_t p = FieldPos(field, true);
    if (p == 0) return column;
    for (const xpp::Value& row : DataSet.Items()) column.Add(row.Arr().Get(static_cast<size_t>(p)));
    return column;
}

bool SQLDataSet::isColumnEmpty(const xpp::Value& field) {
    XPP_FRAME("SQLDATASET:ISCOLUMNEMPTY");
    int64_t p = FieldPos(field, true);
    if (p == 0) return true;
    Refresh(true);
    xpp::Sync sync(*this);
    if (static_cast<size_t>(p) > isColumnEmpty_.Len()) return true;
    xpp::Value entry = isColumnEmpty_.Get(static_cast<size_t>(p));
    if (entry.IsNil()) {
        bool empty = true;
        for (const xpp::Value& row : DataSet.Items()) {
            if (!xpp::Empty(row.Arr().Get(static_cast<size_t>(p)))) {
                empty = false;
                break;
            }
        }
        isColumnEmpty_.Set(static_cast<size_t>(p), empty);
        return empty;
    }
    return entry.Log();
}

}  // namespace rowxpp
