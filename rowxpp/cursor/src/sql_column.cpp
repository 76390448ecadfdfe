// SQLColumn: one result column and the table that maps its ODBC SQL type
// to value type, C type, buffer size and blank value. SQLRow: the current
// row with its originals, blanks and editing state.
#include <algorithm>

#include <sql.h>
#include <sqlext.h>

#include "rowxpp/sql_select.h"
#include "xpp/functions.h"

namespace rowxpp {
namespace {

int64_t IntOr0(const xpp::Value& v) { return v.IsNum() ? v.Int() : 0; }

xpp::Value SelfOf(xpp::Object& o) { return xpp::Value(o.shared_from_this()); }

}  // namespace

// ================================================================ SQLColumn

xpp::Class& SQLColumn::ClassObject() {
    static xpp::ClassSlot slot;
    return slot.Get("SQLColumn", nullptr, [](xpp::Class& c) {
        c.AddMessage("init", [](xpp::Object& o, xpp::Args& a) -> xpp::Value {
            static_cast<SQLColumn&>(o).Init(a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]);
            return SelfOf(o);
        });
        c.AddMessage("string2usual", [](xpp::Object& o, xpp::Args& a) -> xpp::Value {
            return static_cast<SQLColumn&>(o).String2Usual(a[1].Str());
        });
    });
}

xpp::Class& SQLCOLUMN() { return SQLColumn::ClassObject(); }

std::shared_ptr<SQLColumn> SQLColumn::New(const xpp::Value& no, const xpp::Value& label, const xpp::Value& sqlType,
                                          const xpp::Value& size, const xpp::Value& decimals,
                                          const xpp::Value& display, const xpp::Value& nullable,
                                          const xpp::Value& datesFlag) {
    ClassObject();
    auto column = std::make_shared<SQLColumn>();
    column->Init(no, label, sqlType, size, decimals, display, nullable, datesFlag);
    return column;
}

SQLColumn& SQLColumn::Init(const xpp::Value& no, const xpp::Value& label, const xpp::Value& sqlType,
                           const xpp::Value& size, const xpp::Value& decimals, const xpp::Value& display,
                           const xpp::Value& nullable, const xpp::Value& datesFlag) {
    SQLType = IntOr0(sqlType);
    Decimals = IntOr0(decimals);
    Length = IntOr0(size);
    isNullable = nullable.IsLogical() && nullable.Log();
    Index = IntOr0(no);
    Name = AliasName = label.IsChar() ? label.Str() : std::string();
    ValType = "C";
    TargetType = SQL_C_CHAR;
    NullSize = 1;
    DisplaySize = IntOr0(display);
    bool dates = datesFlag.IsLogical() && datesFlag.Log();
    switch (sqlType.IsNil() ? 0 : SQLType) {
        case SQL_CHAR:
            BufferSize = Length + 1;
            DefValue = xpp::Space(Length);
            break;
        case SQL_BIT:
            ValType = "L";
            BufferSize = 2;
            DefValue = false;
            break;
        case SQL_VARCHAR:
        case SQL_LONGVARCHAR:
            BufferSize = Length + 1;
            DefValue = "";
            break;
        case SQL_DATE:
        case SQL_TYPE_DATE:
            ValType = "D";
            BufferSize = DisplaySize + 1;
            DefValue = xpp::Date();
            break;
        case SQL_INTEGER:
        case SQL_SMALLINT:
        case SQL_TINYINT:
            ValType = "N";
            TargetType = SQL_C_LONG;
            BufferSize = 4;
            DefValue = 0;
            Decimals = 0;
            break;
        case SQL_BIGINT:
            ValType = "N";
            BufferSize = DisplaySize + 1;
            DefValue = 0;
            Decimals = 0;
            break;
        case SQL_DECIMAL:
        case SQL_NUMERIC:
            // read as text: a double would lose the 16th to 18th digit
            ValType = "N";
            BufferSize = DisplaySize + 1;
            DefValue = xpp::Number::Double(0.0, static_cast<int>(std::clamp<int64_t>(Decimals, 0, 15)));
            break;
        case SQL_REAL:
        case SQL_FLOAT:
        case SQL_DOUBLE:
            ValType = "N";
            TargetType = SQL_C_DOUBLE;
            BufferSize = 8;
            DefValue = xpp::Number::Double(0.0, 1);
            break;
        case SQL_WCHAR:
            BufferSize = Length + 2;
            NullSize = 2;
            DefValue = xpp::Space(Length);
            break;
        case SQL_WVARCHAR:
        case SQL_WLONGVARCHAR:
            BufferSize = Length + 2;
            NullSize = 2;
            DefValue = "";
            break;
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY:
            TargetType = SQL_C_BINARY;
            BufferSize = Length;
            NullSize = 0;
            DefValue = "";
            break;
        case SQL_UNKNOWN_TYPE:
            ValType = "U";
            BufferSize = Length + 2;
            DefValue = xpp::Value();
            break;
        default:
            if (SQLType == SQL_TYPE_TIMESTAMP && dates) {
                ValType = "D";
                BufferSize = DisplaySize + 1;
                DefValue = xpp::Date();
            } else {
                BufferSize = DisplaySize + 2;
                DefValue = xpp::Space(Length);
            }
            break;
    }
    return *this;
}

xpp::Value SQLColumn::String2Usual(const std::string& text) const {
    if (ValType == "N") {
        if (TargetType == SQL_C_DOUBLE) return xpp::Number::FromDouble(xpp::Bin2F(text.substr(0, 8)));
        return xpp::Val(text + " ");
    }
    if (ValType == "D") {
        std::string digits = xpp::StrTran(xpp::StrTran(text, "-"), "/");
        return xpp::SToD(xpp::Left(digits, 8));
    }
    if (ValType == "L") return !text.empty() && xpp::At(text, "1T") > 0;
    return text;
}

// =================================================================== SQLRow

xpp::Class& SQLRow::ClassObject() {
    static xpp::ClassSlot slot;
    return slot.Get("SQLRow", nullptr, [](xpp::Class& c) {
        c.AddMessage("init", [](xpp::Object& o, xpp::Args& a) -> xpp::Value {
            static_cast<SQLRow&>(o).Init(a[1]);
            return SelfOf(o);
        });
        c.AddMessage("clear", [](xpp::Object& o, xpp::Args&) -> xpp::Value {
            static_cast<SQLRow&>(o).Clear();
            return SelfOf(o);
        });
        c.AddMessage("cancelupdate", [](xpp::Object& o, xpp::Args&) -> xpp::Value {
            static_cast<SQLRow&>(o).CancelUpdate();
            return SelfOf(o);
        });
        c.AddMessage("setupdated", [](xpp::Object& o, xpp::Args&) -> xpp::Value {
            static_cast<SQLRow&>(o).SetUpdated();
            return SelfOf(o);
        });
        c.AddMessage("setphantom", [](xpp::Object& o, xpp::Args&) -> xpp::Value {
            static_cast<SQLRow&>(o).SetPhantom();
            return SelfOf(o);
        });
        c.AddMessage("setappendmode", [](xpp::Object& o, xpp::Args&) -> xpp::Value {
            static_cast<SQLRow&>(o).SetAppendMode();
            return SelfOf(o);
        });
        c.AddMessage("forcemodified", [](xpp::Object& o, xpp::Args& a) -> xpp::Value {
            static_cast<SQLRow&>(o).ForceModified(a[1], a[2]);
            return SelfOf(o);
        });
    });
}

xpp::Class& SQLROW() { return SQLRow::ClassObject(); }

std::shared_ptr<SQLRow> SQLRow::New(const xpp::Value& columns) {
    ClassObject();
    auto row = std::make_shared<SQLRow>();
    row->Init(columns);
    return row;
}

SQLRow& SQLRow::Init(const xpp::Value& columns) {
    xpp::Array list = columns.IsArray() ? columns.Arr() : xpp::Array();
    size_t n = list.Len();
    Buffer = xpp::Array(n);
    Original = xpp::Array(n);
    Blank = xpp::Array(n);
    isModified = xpp::Array(n);
    for (size_t i = 1; i <= n; ++i) {
        xpp::Value column = list.Get(i);
        if (auto c = column.As<SQLColumn>()) Blank.Set(i, c->DefValue);
        else if (column.IsObject()) Blank.Set(i, xpp::Send(column, "DefValue"));
        isModified.Set(i, false);
    }
    isRowModified = isDeleted = isReallyDeleted = isAppend = false;
    return *this;
}

namespace {
void Fill(const xpp::Array& a, const xpp::Value& v) { a.Fill(v); }
void CopyInto(const xpp::Array& to, const xpp::Array& from) {
    for (size_t i = 1, n = to.Len(); i <= n; ++i) to.Set(i, from.Get(i));
}
}  // namespace

SQLRow& SQLRow::Clear() {
    isRowModified = isDeleted = isReallyDeleted = isAppend = false;
    Fill(isModified, false);
    Fill(Buffer, xpp::Value());
    Fill(Original, xpp::Value());
    return *this;
}

SQLRow& SQLRow::CancelUpdate() {
    if (isAppend) return Clear();
    isRowModified = isDeleted = false;
    for (size_t i = Buffer.Len(); i >= 1; --i) {
        if (!isModified.Get(i).Log()) continue;
        xpp::Value original = Original.Get(i);
        Buffer.Set(i, original.IsNil() ? Blank.Get(i) : original);
        isModified.Set(i, false);
    }
    return *this;
}

SQLRow& SQLRow::SetUpdated() {
    if (isDeleted) return Clear();
    isRowModified = isAppend = isReallyDeleted = false;
    for (size_t i = Buffer.Len(); i >= 1; --i) {
        if (!isModified.Get(i).Log()) continue;
        Original.Set(i, Buffer.Get(i));
        isModified.Set(i, false);
    }
    return *this;
}

SQLRow& SQLRow::SetPhantom() {
    isRowModified = isDeleted = isReallyDeleted = isAppend = false;
    Fill(isModified, false);
    Fill(Original, xpp::Value());
    CopyInto(Buffer, Blank);
    return *this;
}

SQLRow& SQLRow::SetAppendMode() {
    isRowModified = isAppend = true;
    isDeleted = false;
    Fill(isModified, false);
    Fill(Original, xpp::Value());
    CopyInto(Buffer, Blank);
    return *this;
}

SQLRow& SQLRow::ForceModified(const xpp::Value& originals, const xpp::Value& buffer) {
    // The row works on copies: what the caller handed in stays as it was,
    // whatever the write makes of the row afterwards.
    auto take = [](xpp::Array& into, const xpp::Array& from) {
        if (into.Same(from)) return;
        if (into.Len() == from.Len()) CopyInto(into, from);
        else into = xpp::AClone(from);
    };
    isAppend = originals.IsNil();
    if (isAppend) Fill(Original, xpp::Value());
    else take(Original, originals.Arr());
    isDeleted = buffer.IsNil();
    if (!isDeleted) take(Buffer, buffer.Arr());
    if (isAppend || isDeleted) {
        isRowModified = true;
        Fill(isModified, true);
        return *this;
    }
    isRowModified = false;
    for (size_t i = Buffer.Len(); i >= 1; --i) {
        xpp::Value o = Original.Get(i), b = Buffer.Get(i);
        bool modified;
        if (o.IsNil()) modified = !xpp::Empty(b);
        // Texts differ unless equal but for trailing blanks, whatever EXACT
        // says: a longer text or one put over blanks is a change.
        else if (o.IsChar() && b.IsChar()) modified = xpp::Trim(b.Str()) != xpp::Trim(o.Str());
        else modified = xpp::Ne(b, o);
        isModified.Set(i, modified);
        if (modified) isRowModified = true;
    }
    return *this;
}

}  // namespace rowxpp
