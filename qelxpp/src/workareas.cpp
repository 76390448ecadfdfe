// Work areas: opening tables, selecting, closing; table creation and zap.
#include "state.h"

namespace qelxpp {

using namespace detail;

namespace {

std::string LetterOf(int code) {
    static const char* const letters = "LNDCMOGVDFIRSTAXY";
    return code >= 1 && code <= 17 ? std::string(1, letters[code - 1]) : std::string("C");
}

int TableTypeOf(const Value& driver) {
    if (driver.IsNil()) return static_cast<int>(State().nTableType.load());
    const std::string t = driver.IsChar() ? driver.Str() : std::string();
    return t.find("CDX") != std::string::npos ? 2 : t.find("NTX") != std::string::npos ? 1 : 3;
}

// Connects a thread on its first use, as the loading thread was connected.
bool EnsureConnection(ThreadRow& row) {
    if (!row.connHandle.IsNil()) return true;
    Value h = QELCONNECT();
    if (h.Int() < 0) return false;
    row.connHandle = h;
    InstallDisconnectAtEnd();
    KIV_UNRECORDED(row, KivSetDateFormat, "YYYYMMDD");
    return true;
}

// The base name: after the last "\", before the last dot that follows it.
std::string BaseName(const std::string& file) {
    size_t s = xpp::RAt("\\", file);
    std::string tail = file.substr(s);
    size_t d = xpp::RAt(".", tail);
    return d == 0 ? tail : tail.substr(0, d - 1);
}

}  // namespace

Value DBUSEAREA(const Value& lNew, const Value& cDriver, const Value& cFile, const Value& cAlias,
                const Value& lShared, const Value&, const Value& lProduction) {
    Entry e("_DBUSEAREA");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    if (!cAlias.IsNil() && !cAlias.IsChar()) {
        xpp::RuntimeError(xpp::EG_ARG, 1001, "DBUSEAREA", xpp::Array{cAlias});
        return false;
    }
    int type = TableTypeOf(cDriver);
    int slot = 0;
    if (lNew.IsLogical() && lNew.Log()) {
        for (int i = 1; i <= kMaxAreas && !slot; ++i)
            if (row.areas[i - 1].IsNil()) slot = i;
        if (!slot) {
            QELSHOWERROR(-999, "All available work areas are in use");
            return false;
        }
        row.currentArea = slot;
    } else {
        slot = CurrentArea(row);
        if (!row.areas[slot - 1].IsNil()) {
            QELSHOWERROR(-999, "Current work area is in use:" + NumText(slot) + "]");
            return false;
        }
    }
    if (!EnsureConnection(row)) return false;
    std::string file = xpp::Upper(xpp::AllTrim(cFile.IsChar() ? cFile.Str() : std::string()));
    std::string base = BaseName(file);
    std::string alias = cAlias.IsNil() ? base : xpp::AllTrim(xpp::Upper(cAlias.Str()));
    bool shared = lShared.IsNil() ? !xpp::Set(xpp::SET_EXCLUSIVE).Log() : lShared.Log();
    xpp::NetErr(false);
    KIVHANDLE h = 0;
    int64_t r = KIV(row, KivOpenTable, static_cast<KIVHANDLE>(row.connHandle.Int()), file.c_str(), alias.c_str(),
                    static_cast<uint16_t>(type), uint16_t{2}, uint16_t{1}, uint16_t{2},
                    static_cast<uint32_t>(shared ? 4 : 1), &h);
    if (r != 0) {
        if (r != kNotLoaded) xpp::NetErr(true);
        return false;
    }
    auto fail = [&](int64_t result) {
        ReportFailure(result);
        KIV_UNRECORDED(row, KivCloseTable, h);  // no slot refers to it
        return Value(false);
    };
    uint32_t nFields = 0;
    if ((r = KIV(row, KivGetNumFields, h, &nFields)) != 0) return fail(r);
    xpp::Array aStruct, aNames;
    int64_t pos = 2;
    for (uint32_t i = 1; i <= nFields; ++i) {
        std::string buf(128, ' ');
        uint32_t n = 128;
        r = TextRead(KIV(row, KivGetFieldName, h, i, buf.data(), &n));
        row.lastResult = r;
        if (r != 0) return fail(r);
        std::string name = buf.substr(0, std::min<uint32_t>(n, 128));
        uint16_t code = 0;
        buf.push_back('\0');
        if ((r = KIV(row, KivGetFieldType, h, buf.c_str(), &code)) != 0) return fail(r);
        uint32_t len = 0;
        if ((r = KIV(row, KivGetFieldLength, h, name.c_str(), &len)) != 0) return fail(r);
        std::string letter = LetterOf(code);
        uint16_t dec = 0;
        if (letter == "N" || letter == "F" || letter == "Y")
            if ((r = KIV(row, KivGetFieldDecimals, h, name.c_str(), &dec)) != 0) return fail(r);
        aStruct.Add(xpp::Array{Value(name), Value(letter), Value(static_cast<int64_t>(len)), Value(static_cast<int>(dec)),
                               Value(pos), Value(static_cast<int>(code))});
        aNames.Add(xpp::Upper(xpp::AllTrim(name)));
        pos += len;
    }
    bool replicate = xpp::AScan(State().aReplAliases, Value(base)) > 0;
    row.areas[slot - 1] = xpp::Array{Value(alias), Value(static_cast<int64_t>(h)), Value(static_cast<int64_t>(h)),
                                     Value(!shared), Value(file), Value(aStruct), Value(xpp::Array()), Value(0),
                                     Value(), Value(pos - 1), Value(replicate), Value(0), Value(base), Value(type),
                                     Value(aNames)};
    if (lProduction.IsLogical() && lProduction.Log()) {
        // The production index: the file named like the table, with the
        // index extension of its type. Only a dot after the last "\" starts
        // an extension.
        size_t d = xpp::RAt(".", file);
        std::string stem = d > xpp::RAt("\\", file) ? file.substr(0, d - 1) : file;
        if (xpp::File(stem + ORDBAGEXT().Str()) && ORDLISTADD(stem).Log()) ORDSETFOCUS(1);
    }
    return true;
}

Value DBSELECTAREA(const Value& x) {
    Entry e("_DBSELECTAREA");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    if (x.IsNil()) return true;
    if (x.IsChar()) {
        int64_t n = SELECT(x).Int();
        if (n == 0) {
            QELSHOWERROR(-999, "Alias doesn't exist:[" + x.Str() + "]");
            return false;
        }
        row.currentArea = n;
        return true;
    }
    if (!x.IsNum()) {
        QELSHOWERROR(-999, "Unknown alias type:[" + xpp::ValType(x) + "]");
        return false;
    }
    int64_t n = x.Int();
    if (n == 0) {
        for (int i = 1; i <= kMaxAreas && !n; ++i)
            if (row.areas[i - 1].IsNil()) n = i;
        if (n == 0) {
            QELSHOWERROR(-999, "All available work areas are in use");
            return false;
        }
    } else if (n < 1 || n > kMaxAreas) {
        QELSHOWERROR(-999, "Work area number out of range:[" + NumText(n) + "]");
        return false;
    }
    row.currentArea = n;
    return true;
}

Value SELECT(const Value& x) {
    Entry e("_SELECT");
    if (!e.Ok()) return 0;
    if (x.IsNil()) return CurrentArea(e.Row());
    std::string wanted = xpp::Upper(xpp::AllTrim(x.IsChar() ? x.Str() : std::string()));
    for (int i = 1; i <= kMaxAreas; ++i) {
        const Value& slot = e.Row().areas[i - 1];
        if (!slot.IsNil() && slot.Arr().Get(WA_ALIAS).Str() == wanted) return i;
    }
    return 0;
}

Value ALIAS(const Value& n) {
    Entry e("_ALIAS");
    if (!e.Ok()) return "";
    int64_t area = n.IsNil() ? CurrentArea(e.Row()) : n.Int();
    if (area < 1 || area > kMaxAreas || e.Row().areas[area - 1].IsNil()) return "";
    return e.Row().areas[area - 1].Arr().Get(WA_ALIAS);
}

Value USED() {
    Entry e("_USED");
    if (!e.Ok()) return false;
    return !e.Row().areas[CurrentArea(e.Row()) - 1].IsNil();
}

Value USEDINDEX() {
    Entry e("USEDINDEX");
    if (!e.Ok()) return false;
    const Value& slot = e.Row().areas[CurrentArea(e.Row()) - 1];
    return !slot.IsNil() && !slot.Arr().Get(WA_INDEXFILE).IsNil();
}

Value QELGETTABLEHANDLE(const Value& name) {
    Entry e("QELGETTABLEHANDLE");
    if (!e.Ok()) return 0;
    KIVHANDLE h = 0;
    if (KIV(e.Row(), KivGetTableHandle, CText(name), &h) != 0) return 0;
    return static_cast<int64_t>(h);
}

// Frees the slots holding a table in every thread, one row at a time under
// that row's lock, so that no slot is freed while its owner works on it.
Value QELCLOSETABLE(const Value& nHandle) {
    xpp::Frame frame("QELCLOSETABLE", 0);
    ThreadRow* own = CheckedRow();
    if (!own) return false;
    if (nHandle.Int() <= 0) return true;
    for (ThreadRow& row : State().rows) {
        std::lock_guard<std::recursive_mutex> g(row.lock);
        for (Value& slot : row.areas)
            if (!slot.IsNil() && slot.Arr().Get(WA_TABLE).Int() == nHandle.Int()) slot = Value();
    }
    std::lock_guard<std::recursive_mutex> g(own->lock);
    int64_t r = KIV(*own, KivCloseTable, static_cast<KIVHANDLE>(nHandle.Int()));
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    return true;
}

namespace detail {

// The field-definition text of a structure array, in the engine's type
// words for KDT tables and in letters for NTX and CDX.
std::string FieldDefinitions(const xpp::Array& aStruct, int tableType) {
    std::string out;
    for (const Value& v : aStruct.Items()) {
        xpp::Array f = v.Arr();
        std::string name = f.Get(1).IsChar() ? f.Get(1).Str() : xpp::Var2Char(f.Get(1));
        std::string letter = xpp::Upper(f.Get(2).IsChar() ? f.Get(2).Str() : std::string());
        int64_t len = f.Get(3).Int(), dec = f.Get(4).Int();
        std::string L = NumText(len), D = NumText(dec), part;
        if (tableType == 3) {
            if (letter == "C") part = "CHAR," + L;
            else if (letter == "D") part = "DATE";
            else if (letter == "M") part = "MEMO";
            else if (letter == "L") part = "LOGICAL";
            else if (letter == "V") part = "VARCHAR," + L;
            else if (letter == "R") part = "SHORTINT";
            else if (letter == "I") part = "INTEGER";
            else if (letter == "F") part = "DOUBLE," + D;
            else if (letter == "S") part = "TIME";
            else if (letter == "T") part = "TIMESTAMP";
            else if (letter == "Y") part = "CURDOUBLE," + D;
            else if (letter == "A") part = "AUTOINC";
            else if (letter == "X") part = "RAW," + L;
            else if (letter == "O") part = "BINARY";
            else if (letter == "G") part = "IMAGE";
            else if (letter == "N") part = dec > 0 ? "DOUBLE," + D : len <= 4 ? "SHORTINT" : len <= 9 ? "INTEGER" : "DOUBLE,0";
            else part = letter;
        } else {
            part = letter;
            if (letter == "C") part += "," + L;
            else if (letter == "N") part += "," + L + "," + D;
        }
        if (!out.empty()) out += ";";
        out += name + "," + part;
    }
    return out;
}

}  // namespace detail

Value DBCREATE(const Value& cFile, const Value& aStruct, const Value&) {
    Entry e("_DBCREATE");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    if (!EnsureConnection(row)) return false;
    int type = static_cast<int>(State().nTableType.load());
    std::string defs = FieldDefinitions(aStruct.IsArray() ? aStruct.Arr() : xpp::Array(), type);
    KIVHANDLE h = 0;
    int64_t r = KIV(row, KivCreateTable, static_cast<KIVHANDLE>(row.connHandle.Int()), CText(cFile), nullptr,
                    static_cast<uint16_t>(type), uint16_t{2}, uint16_t{0}, uint16_t{2}, uint16_t{0}, defs.c_str(), &h);
    if (r == 0) r = KIV(row, KivCloseTable, h);
    if (r != 0) {
        ReportFailure(r);
        return false;
    }
    return true;
}

Value DBZAP() {
    Entry e("_DBZAP");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    int area = CurrentArea(row);
    if (QelNotUsed(row, true, area)) return false;
    xpp::Array r = row.areas[area - 1].Arr();
    int64_t result = KIV(row, KivZapTable, static_cast<KIVHANDLE>(r.Get(WA_TABLE).Int()));
    if (result != 0) {
        ReportFailure(result);
        return false;
    }
    if (r.Get(WA_REPLICATE).Log()) REPLICATEROW(row, 4, r.Get(WA_TABLENAME), 0);
    r.Set(WA_PENDING, 0);
    return true;
}

}  // namespace qelxpp
