// Whole records of the current work area: as arrays of values, as raw
// buffers, and the engine's setting for showing deleted records.
//
// Record images of DBF tables are text: byte 1 the deletion flag, then each
// field's text at FLD_POS for FLD_LEN bytes. KDT images are not all text (a
// date is a 4-byte day number, a DOUBLE eight bytes of a binary number, an
// empty character field zero bytes), so a date field whose length is not 8
// and the numeric fields kept in binary go through the field calls in the
// text FIELDGET and FIELDPUT use, and fields of other letters keep their
// stored bytes.
//
// The character fields of an image hold code page 850, as stored; the
// caller's side is Windows-1252, as in the field calls. Images are
// converted field by field on their way out and in.
#include <kivwin/win.h>

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

int64_t EngineType(const xpp::Array& field) { return field.Get(FLD_ENGTYPE).Int(); }
bool IsCharacter(const xpp::Array& field) {
    return EngineType(field) == KIV_FT_CHARACTER || EngineType(field) == KIV_FT_CICHARACTER;
}
bool IsTextDate(const xpp::Array& field) { return field.Get(FLD_LEN).Int() == 8; }
// Numbers the image holds in binary.
bool IsBinaryNumber(const xpp::Array& field) {
    switch (EngineType(field)) {
        case KIV_FT_DOUBLE: case KIV_FT_INTEGER: case KIV_FT_SHORTINT: case KIV_FT_AUTOINC: case KIV_FT_CURDOUBLE:
            return true;
        default: return false;
    }
}
// Fields of an image that are read and written through the field calls.
bool ByFieldCall(const xpp::Array& field) {
    return (field.Get(FLD_TYPE).Str() == "D" && !IsTextDate(field)) || IsBinaryNumber(field);
}

// The place of a field in an image of `size` bytes: its first byte and the
// count of its bytes there.
std::pair<size_t, size_t> PlaceOf(const xpp::Array& field, size_t size) {
    const size_t pos = static_cast<size_t>(std::max<int64_t>(field.Get(FLD_POS).Int(), 1)) - 1;
    if (pos >= size) return {size, 0};
    return {pos, std::min(static_cast<size_t>(std::max<int64_t>(field.Get(FLD_LEN).Int(), 0)), size - pos)};
}

// The character fields of an image from the stored code page to the
// caller's, or back.
void ConvertText(std::string& image, const xpp::Array& st, bool toCaller) {
    for (size_t i = 1; i <= st.Len(); ++i) {
        xpp::Array field = st.Get(i).Arr();
        if (!IsCharacter(field)) continue;
        const auto [pos, n] = PlaceOf(field, image.size());
        const std::string_view text(image.data() + pos, n);
        image.replace(pos, n, toCaller ? kivwin::OemToAnsi(text) : kivwin::AnsiToOem(text));
    }
}

// The image's character fields hold only characters the stored code page
// has; the first that does not is reported.
bool TextNotIn850(const std::string& image, const xpp::Array& st) {
    for (size_t i = 1; i <= st.Len(); ++i) {
        xpp::Array field = st.Get(i).Arr();
        if (!IsCharacter(field)) continue;
        const auto [pos, n] = PlaceOf(field, image.size());
        if (NotIn850(image.substr(pos, n), field.Get(FLD_NAME).Str())) return true;
    }
    return false;
}

// A field's value through the engine's field call, in its text form; the
// text of an empty field at end of file is "".
int64_t FieldText(ThreadRow& row, const xpp::Array& rec, const xpp::Array& field, std::string& text) {
    std::string buf(64, ' ');
    uint32_t n = static_cast<uint32_t>(buf.size());
    const std::string name = field.Get(FLD_NAME).Str();
    int64_t r = KIV(row, KivGetField, TableOf(rec), name.c_str(), buf.data(), &n, uint16_t{0});
    text = r == 0 ? buf.substr(0, std::min<size_t>(n, buf.size())) : std::string();
    return r == KIV_ERR_NO_CURRENT_RECORD ? 0 : r;
}

// Whether an element of RECORDPUT's array fits its field's letter: text for
// C, a number for the numeric letters, a logical for L, a date for D; NIL
// and fields of other letters take anything. An element that does not fit
// is the runtime's argument error of the conversion that would take it.
bool FitsField(const Value& v, const xpp::Array& field) {
    if (v.IsNil()) return true;
    const std::string letter = field.Get(FLD_TYPE).Str();
    const char* conversion = nullptr;
    bool fits = true;
    if (letter == "C") {
        fits = v.IsChar(), conversion = "PADR";
    } else if (letter == "N" || letter == "F" || letter == "I" || letter == "R" || letter == "Y" || letter == "A") {
        fits = v.IsNum(), conversion = "STR";
    } else if (letter == "L") {
        fits = v.IsLogical(), conversion = "RECORDPUT";
    } else if (letter == "D") {
        fits = v.IsDate(), conversion = "DTOS";
    }
    if (!fits) xpp::RuntimeError(xpp::EG_ARG, 1001, conversion, xpp::Array{v});
    return fits;
}

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
    ConvertText(buf, st, true);
    xpp::Array values(st.Len());
    for (size_t i = 1; i <= st.Len(); ++i) {
        xpp::Array field = st.Get(i).Arr();
        const std::string letter = field.Get(FLD_TYPE).Str();
        const int64_t len = field.Get(FLD_LEN).Int();
        std::string text;
        if (ByFieldCall(field)) {
            r = FieldText(row, rec, field, text);
            if (r != 0) {
                ReportFailure(r);
                return {};
            }
        } else {
            text = xpp::SubStr(buf, field.Get(FLD_POS).Int(), len);
        }
        if (letter == "C") {
            values.Set(i, text.find_first_not_of('\0') == std::string::npos ? xpp::Space(len) : text);
        } else if (letter == "N" || IsBinaryNumber(field)) {
            values.Set(i, xpp::Val(text + " "));
        } else if (letter == "L") {
            values.Set(i, xpp::Empty(Value(text)) ? false : text == "T");
        } else if (letter == "D") {
            values.Set(i, xpp::SToD(text));
        }
    }
    return values;
}

// Writes the values of an array into the current record. Every element is
// checked first: one that does not fit its field writes nothing. The record
// starts from the stored one, so fields that take no text keep their bytes;
// exactly the record length goes to the engine. NIL elements become "" in
// the caller's array and empty their field.
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
    for (size_t i = 1; i <= st.Len(); ++i) {
        xpp::Array field = st.Get(i).Arr();
        Value v = values.Get(i);
        if (!FitsField(v, field)) return false;
        if (v.IsChar() && IsCharacter(field) && NotIn850(v.Str(), field.Get(FLD_NAME).Str())) return false;
    }
    std::string buf;
    int64_t r = ReadRecord(row, rec, 32, buf);
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    const size_t recLen = static_cast<size_t>(rec.Get(WA_RECLEN).Int());
    buf.resize(recLen, ' ');
    buf[0] = ' ';
    std::vector<std::pair<std::string, std::string>> byField;  // field name, text ("" empties)
    for (size_t i = 1; i <= st.Len(); ++i) {
        xpp::Array field = st.Get(i).Arr();
        const std::string letter = field.Get(FLD_TYPE).Str();
        const int64_t len = field.Get(FLD_LEN).Int();
        Value v = values.Get(i);
        const bool isNil = v.IsNil();
        if (isNil) values.Set(i, "");
        std::string text;
        if (ByFieldCall(field)) {
            if (!isNil) text = letter == "D" ? xpp::DToS(v.Dat()) : NumberText(v, field);
            byField.emplace_back(field.Get(FLD_NAME).Str(), text);
            continue;
        }
        if (isNil && (letter == "C" || letter == "N" || letter == "L" || letter == "D")) {
            text = xpp::Space(len);
        } else if (letter == "C") {
            text = IsCharacter(field) ? kivwin::AnsiToOem(v.Str()) : v.Str();
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
    for (size_t i = 0; r == 0 && i < byField.size(); ++i) {
        const auto& [name, text] = byField[i];
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
    ConvertText(buf, rec.Get(WA_STRUCT).Arr(), true);
    return buf;
}

// A record that is no text is the runtime's argument error; one whose
// character fields hold a character the table's code page lacks is
// reported. Neither is written.
Value QELSETRECORD(const Value& cRecord) {
    Entry e("QELSETRECORD");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    xpp::Array rec;
    if (!CurrentRecord(row, rec)) return false;
    if (!cRecord.IsChar()) {
        xpp::RuntimeError(xpp::EG_ARG, 1001, "QELSETRECORD", xpp::Array{cRecord});
        return false;
    }
    xpp::Array st = rec.Get(WA_STRUCT).Arr();
    std::string data = cRecord.Str();
    if (TextNotIn850(data, st)) return false;
    ConvertText(data, st, false);
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
