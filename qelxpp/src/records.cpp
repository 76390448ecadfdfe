// Whole records of the current work area: as arrays of values, as raw
// buffers, and the engine's setting for showing deleted records.
//
// Record images of DBF tables are text: byte 1 the deletion flag, then each
// field's text at FLD_POS for FLD_LEN bytes. KDT images are not all text (a
// date is a 4-byte day number, an empty character field zero bytes), so a
// date field whose length is not 8 goes through the field calls in its
// "YYYYMMDD" form, and fields of other letters keep their stored bytes.
#include "current.h"

namespace qelxpp {

using namespace detail;

namespace {

// The raw record into `out` (a buffer of the record length + `extra`).
int64_t ReadRecord(ThreadRow& row, const xpp::Array& rec, int64_t extra, std::string& out) {
    std::string buf(static_cast<size_t>(rec.Get(WA_RECLEN).Int() + extra), ' ');
    uint32_t len = static_cast<uint32_t>(buf.size());
    int64_t r = KIV(row, KivGetRecord, TableOf(rec), buf.data(), &len);
    out = r == 0 ? buf.substr(0, std::min<size_t>(len, buf.size())) : std::string();
    return r;
}

bool IsTextDate(const xpp::Array& field) { return field.Get(FLD_LEN).Int() == 8; }

}  // namespace

Value RECORDGET() {
    Entry e("_RECORDGET");
    if (!e.Ok()) return {};
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (!CurrentRecord(row, rec)) return {};
    std::string buf;
    int64_t r = ReadRecord(row, rec, 32, buf);
    if (r != 0) {
        ReportFailure(r);
        return {};
    }
    xpp::Array st = rec.Get(WA_STRUCT).Arr();
    xpp::Array values(st.Len());
    for (size_t i = 1; i <= st.Len(); ++i) {
        xpp::Array field = st.Get(i).Arr();
        const std::string letter = field.Get(FLD_TYPE).Str();
        const int64_t len = field.Get(FLD_LEN).Int();
        const std::string text = xpp::SubStr(buf, field.Get(FLD_POS).Int(), len);
        if (letter == "C") {
            values.Set(i, text.find_first_not_of('\0') == std::string::npos ? xpp::Space(len) : text);
        } else if (letter == "N") {
            values.Set(i, xpp::Val(text + " "));
        } else if (letter == "L") {
            values.Set(i, xpp::Empty(Value(text)) ? false : text == "T");
        } else if (letter == "D" && IsTextDate(field)) {
            values.Set(i, xpp::SToD(text));
        } else if (letter == "D") {
            std::string date(64, ' ');
            uint32_t n = static_cast<uint32_t>(date.size());
            const std::string name = field.Get(FLD_NAME).Str();
            r = KIV(row, KivGetField, TableOf(rec), name.c_str(), date.data(), &n, uint16_t{0});
            if (r != 0 && r != KIV_ERR_NO_CURRENT_RECORD) {
                ReportFailure(r);
                return {};
            }
            values.Set(i, r == 0 ? xpp::SToD(date.substr(0, std::min<size_t>(n, date.size()))) : xpp::Date());
        }
    }
    return values;
}

// Writes the values of an array into the current record. The record starts
// from the stored one, so fields that take no text keep their bytes; exactly
// the record length goes to the engine. NIL elements become "" in the
// caller's array and empty their field.
Value RECORDPUT(const Value& aValues) {
    Entry e("_RECORDPUT");
    if (!e.Ok()) return {};
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (!CurrentRecord(row, rec)) return {};
    xpp::Array st = rec.Get(WA_STRUCT).Arr();
    if (!aValues.IsArray() || aValues.Arr().Len() < st.Len()) {
        xpp::ArrayGet(aValues, aValues.IsArray() ? aValues.Arr().Len() + 1 : 1);  // the runtime's error
        return false;
    }
    xpp::Array values = aValues.Arr();
    std::string buf;
    int64_t r = ReadRecord(row, rec, 32, buf);
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    const size_t recLen = static_cast<size_t>(rec.Get(WA_RECLEN).Int());
    buf.resize(recLen, ' ');
    buf[0] = ' ';
    std::vector<std::pair<std::string, std::string>> dates;  // field name, "YYYYMMDD" ("" empties)
    for (size_t i = 1; i <= st.Len(); ++i) {
        xpp::Array field = st.Get(i).Arr();
        const std::string letter = field.Get(FLD_TYPE).Str();
        const int64_t len = field.Get(FLD_LEN).Int();
        Value v = values.Get(i);
        const bool isNil = v.IsNil();
        if (isNil) values.Set(i, "");
        std::string text;
        if (letter == "D" && !IsTextDate(field)) {
            if (isNil || v.IsDate()) dates.emplace_back(field.Get(FLD_NAME).Str(), isNil ? "" : xpp::DToS(v.Dat()));
            continue;
        }
        if (isNil && (letter == "C" || letter == "N" || letter == "L" || letter == "D")) {
            text = xpp::Space(len);
        } else if (letter == "C") {
            text = v.IsChar() ? v.Str() : xpp::Var2Char(v);
        } else if (letter == "N") {
            text = xpp::Str(v, static_cast<int>(len), static_cast<int>(field.Get(FLD_DEC).Int()));
        } else if (letter == "L") {
            text = v.Log() ? "T" : "F";
        } else if (letter == "D") {
            text = xpp::DToS(v.Dat());
        } else {
            continue;
        }
        const size_t pos = static_cast<size_t>(field.Get(FLD_POS).Int()) - 1;
        if (pos + static_cast<size_t>(len) <= recLen) buf.replace(pos, static_cast<size_t>(len), xpp::PadR(text, len));
    }
    const KIVHANDLE h = TableOf(rec);
    r = KIV(row, KivSetRecord, h, buf.data(), static_cast<uint32_t>(recLen));
    for (size_t i = 0; r == 0 && i < dates.size(); ++i) {
        const auto& [name, text] = dates[i];
        r = text.empty() ? KIV(row, KivSetEmpty, h, name.c_str())
                         : KIV(row, KivSetField, h, name.c_str(), text.data(), static_cast<uint32_t>(text.size()));
    }
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    MarkUpdated(rec);
    return {};
}

Value QELGETRECORD() {
    Entry e("QELGETRECORD");
    if (!e.Ok()) return {};
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (!CurrentRecord(row, rec)) return {};
    std::string buf;
    int64_t r = ReadRecord(row, rec, 128, buf);
    if (r != 0) {
        ReportFailure(r);
        return {};
    }
    return buf;
}

Value QELSETRECORD(const Value& cRecord) {
    Entry e("QELSETRECORD");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (!CurrentRecord(row, rec)) return false;
    const std::string& data = cRecord.Str();
    int64_t r = KIV(row, KivSetRecord, TableOf(rec), data.data(), static_cast<uint32_t>(data.size()));
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    MarkUpdated(rec);
    return true;
}

// The engine's own setting: no work area, no handle.
Value SETDELETED(const Value& lShow) {
    Entry e("SETDELETED");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    uint16_t shown = 0;
    int64_t r = KIV(row, KivGetDeleted, &shown);
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    if (lShow.IsLogical()) {
        r = KIV(row, KivShowDeleted, static_cast<uint16_t>(lShow.Log() ? 1 : 0));
        if (r != 0) ReportFailure(r);
    }
    return shown != 0;
}

}  // namespace qelxpp
