// Field values of the current record, converted between the engine's text
// form and runtime values by the field's engine type; the structure queries
// and the deleted flag.
#include <kivwin/win.h>

#include "current.h"

namespace qelxpp {

using namespace detail;

namespace detail {

bool CurrentRecord(ThreadRow& row, xpp::Array& rec) {
    const Value& slot = row.areas[CurrentArea(row) - 1];
    if (slot.IsNil()) return false;
    rec = slot.Arr();
    return true;
}

bool FieldRowOf(const xpp::Array& rec, const Value& n, xpp::Array& field) {
    xpp::Array st = rec.Get(WA_STRUCT).Arr();
    int64_t i = n.IsNum() ? n.Int() : 0;
    if (n.IsNum() && i >= 1 && static_cast<size_t>(i) <= st.Len()) {
        field = st.Get(static_cast<size_t>(i)).Arr();
        return true;
    }
    xpp::RuntimeError(xpp::EG_BOUND, 1132, "array access", xpp::Array{Value(st), n});
    return false;
}

bool NotIn850(const std::string& text, const std::string& fieldName) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x80 || kivwin::AnsiToOem(std::string_view(&c, 1))[0] != '?') continue;
        QELSHOWERROR(-999, "Character not in code page 850:[" + fieldName + ", " + std::string(1, c) + "]");
        return true;
    }
    return false;
}

// Numeric and character fields take the field's width; the fields the
// engine keeps in binary (their length is the storage length) take a width
// that holds the number.
std::string NumberText(const Value& x, const xpp::Array& field) {
    const std::string letter = field.Get(FLD_TYPE).Str();
    int len = static_cast<int>(field.Get(FLD_LEN).Int()), dec = static_cast<int>(field.Get(FLD_DEC).Int());
    if (letter == "F" || letter == "I" || letter == "R" || letter == "Y" || letter == "A")
        return xpp::LTrim(xpp::Str(x, 40, dec));
    return xpp::Str(x, len, dec);
}

}  // namespace detail

namespace {

// The value of a field's text by engine type code.
Value FromText(int code, const std::string& text) {
    switch (code) {
        case KIV_FT_LOGICAL: return text == "T";
        case KIV_FT_NUMERIC: case KIV_FT_DOUBLE: case KIV_FT_INTEGER: case KIV_FT_SHORTINT:
        case KIV_FT_AUTOINC: case KIV_FT_CURDOUBLE:
            return xpp::Val(text + " ");
        case KIV_FT_DATE: case KIV_FT_COMPACTDATE: return xpp::SToD(text);
        case KIV_FT_BINARY: return xpp::Bin2Var(text);
        default: return text;
    }
}

// The value of a field the engine has none for (5068).
Value EmptyOf(int code, int64_t length) {
    switch (code) {
        case KIV_FT_LOGICAL: return false;
        case KIV_FT_NUMERIC: case KIV_FT_DOUBLE: case KIV_FT_CURDOUBLE: return xpp::Number::Double(0, 1);
        case KIV_FT_INTEGER: case KIV_FT_SHORTINT: case KIV_FT_AUTOINC: return 0;
        case KIV_FT_DATE: case KIV_FT_COMPACTDATE: return xpp::Date();
        case KIV_FT_CHARACTER: return xpp::Space(length);
        case KIV_FT_BINARY: return {};
        default: return "";
    }
}

}  // namespace

Value FIELDGET(const Value& nField) {
    Entry e("_FIELDGET");
    if (!e.Ok()) return {};
    ThreadRow& row = e.Row();
    xpp::Array rec, field;
    if (!CurrentRecord(row, rec) || !FieldRowOf(rec, nField, field)) return {};
    const std::string name = field.Get(FLD_NAME).Str();
    const int code = static_cast<int>(field.Get(FLD_ENGTYPE).Int());
    const KIVHANDLE h = TableOf(rec);
    uint32_t len = static_cast<uint32_t>(field.Get(FLD_LEN).Int());
    int64_t r = 0;
    if (code == KIV_FT_MEMO || code == KIV_FT_VARCHAR)
        r = KIV(row, KivGetMemoLength, h, name.c_str(), &len);
    else if (code == KIV_FT_BINARY || code == KIV_FT_IMAGE)
        r = KIV(row, KivGetBinaryLength, h, name.c_str(), &len);
    if (r == KIV_ERR_NO_CURRENT_RECORD) return EmptyOf(code, 0);
    if (r != 0) {
        ReportFailure(r);
        return {};
    }
    std::string buf(static_cast<size_t>(len) + 32, ' ');
    len = static_cast<uint32_t>(buf.size());
    r = KIV(row, KivGetField, h, name.c_str(), buf.data(), &len, uint16_t{0});
    if (r == KIV_ERR_NO_CURRENT_RECORD) return EmptyOf(code, field.Get(FLD_LEN).Int());
    if (r != 0) {
        ReportFailure(r);
        return {};
    }
    return FromText(code, buf.substr(0, std::min<size_t>(len, buf.size())));
}

Value FIELDPUT(const Value& nField, const Value& xValue) {
    Entry e("_FIELDPUT");
    if (!e.Ok()) return {};
    ThreadRow& row = e.Row();
    xpp::Array rec, field;
    if (!CurrentRecord(row, rec)) {
        QELSHOWERROR(-999, "Workarea not in use");
        return {};
    }
    if (!FieldRowOf(rec, nField, field)) return {};
    // The row owes an update only once the engine has taken the value.
    const std::string name = field.Get(FLD_NAME).Str();
    const KIVHANDLE h = TableOf(rec);
    std::string text;
    if (field.Get(FLD_ENGTYPE).Int() == KIV_FT_BINARY) {
        text = xpp::Var2Bin(xValue);
        if (text.empty()) return {};  // VAR2BIN raised: the stored value stays
    } else if (xValue.IsChar()) {
        const int64_t code = field.Get(FLD_ENGTYPE).Int();
        const bool text = code == KIV_FT_CHARACTER || code == KIV_FT_CICHARACTER || code == KIV_FT_MEMO ||
                          code == KIV_FT_VARCHAR;
        if (text && NotIn850(xValue.Str(), name)) return {};
        int64_t r = KIV(row, KivSetField, h, name.c_str(), xValue.Str().data(), static_cast<uint32_t>(xValue.Str().size()));
        if (r == 0 || r == KIV_ERR_VALUE_CUT) MarkUpdated(rec);
        if (r == KIV_ERR_VALUE_CUT) {
            // A varchar's FLD_LEN is its storage length, not its width: the
            // value as stored is the cut one.
            if (field.Get(FLD_ENGTYPE).Int() == KIV_FT_VARCHAR) return FIELDGET(nField);
            return xpp::Left(xValue.Str(), field.Get(FLD_LEN).Int());
        }
        if (r != 0) {
            ReportFailure(r);
            return {};
        }
        return xValue;
    } else if (xValue.IsNum()) {
        text = NumberText(xValue, field);
    } else if (xValue.IsLogical()) {
        text.assign(1, xValue.Log() ? 'T' : 'F');
    } else if (xValue.IsDate()) {
        text = xpp::DToS(xValue.Dat());
    } else {
        if (KIV(row, KivSetEmpty, h, name.c_str()) == 0) MarkUpdated(rec);
        return {};
    }
    int64_t r = KIV(row, KivSetField, h, name.c_str(), text.data(), static_cast<uint32_t>(text.size()));
    if (r != 0) {
        ReportFailure(r);
        return {};
    }
    MarkUpdated(rec);
    return xValue;
}

Value FCOUNT() {
    Entry e("_FCOUNT");
    if (!e.Ok()) return 0;
    xpp::Array rec;
    if (!CurrentRecord(e.Row(), rec)) return 0;
    return rec.Get(WA_STRUCT).Arr().Len();
}

Value FIELDNAME(const Value& nField) {
    Entry e("_FIELDNAME");
    if (!e.Ok()) return "";
    int64_t n = nField.IsNum() ? nField.Int() : 0;
    xpp::Array rec;
    if (n < 1 || !CurrentRecord(e.Row(), rec)) return "";
    xpp::Array st = rec.Get(WA_STRUCT).Arr();
    if (static_cast<size_t>(n) > st.Len()) return "";
    return st.Get(static_cast<size_t>(n)).Arr().Get(FLD_NAME);
}

Value FIELDPOS(const Value& cName) {
    Entry e("_FIELDPOS");
    if (!e.Ok()) return 0;
    xpp::Array rec;
    if (!CurrentRecord(e.Row(), rec) || !cName.IsChar()) return 0;
    return xpp::AScan(rec.Get(WA_FIELDNAMES).Arr(), Value(xpp::Upper(xpp::AllTrim(cName.Str()))));
}

Value DELETED() {
    Entry e("_DELETED");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    if (QelNotUsed(row, true, CurrentArea(row))) return false;
    xpp::Array rec;
    CurrentRecord(row, rec);
    uint16_t deleted = 0;
    KIV(row, KivIsRecordDeleted, TableOf(rec), &deleted);
    return deleted != 0;
}

}  // namespace qelxpp
