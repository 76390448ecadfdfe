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
    if (driver.IsNil()) return static_cast<int>(State().nTableType.Int());
    const std::string t = driver.IsChar() ? driver.Str() : std::string();
    return t.find("CDX") != std::string::npos ? 2 : t.find("NTX") != std::string::npos ? 1 : 3;
}

// Connects a thread on its first use, as the loading thread was connected.
bool EnsureConnection(ThreadRow& row) {
    if (!row.connHandle.IsNil()) return true;
    Value h = QELCONNECT();
    if (h.Int() < 0) return false;
    row.connHandle = h;
    auto thread = xpp::ThreadObject();
    if (thread->atEnd().IsNil()) thread->atEnd(xpp::Block([](xpp::Args&) { return QELDISCONNECT(); }));
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
        // The production index joins the order list once orders are built.
    }
    return true;
}

}  // namespace qelxpp
