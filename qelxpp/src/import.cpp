// Table import: every record of another table into the current work area's
// table, fields matched by name. Equal type letters let the engine copy the
// whole contents at once; otherwise the records are copied one by one,
// values of differing types converted, with a progress line.
#include "current.h"

namespace qelxpp {

using namespace detail;

namespace detail {

// A source value converted for a target field of another type letter.
Value DBIMPORT2(const Value& x, const xpp::Array& from, const xpp::Array& to) {
    const std::string cTo = to.Get(FLD_TYPE).Str();
    const int nLen = static_cast<int>(to.Get(FLD_LEN).Int());
    const int nDec = static_cast<int>(from.Get(FLD_DEC).Int());
    if (x.IsNil()) {
        if (cTo == "C") return xpp::Space(nLen);
        if (cTo == "N") return 0;
        if (cTo == "L") return false;
        if (cTo == "D") return xpp::CToD("");
        return {};
    }
    if (x.IsChar()) {
        if (cTo == "C") return xpp::Left(x.Str(), nLen);
        if (cTo == "N") return xpp::Val(x.Str());
        if (cTo == "L") return x.Str() == "T";
        if (cTo == "D") return xpp::CToD(x.Str());
    } else if (x.IsNum()) {
        if (cTo == "N") return xpp::Val(xpp::Str(x, nLen, nDec));
        if (cTo == "C") return xpp::Str(x, nLen, nDec);
        if (cTo == "L") return x.Dbl() == 1;
    } else if (x.IsLogical()) {
        if (cTo == "C") return x.Log() ? "T" : "F";
        if (cTo == "N") return x.Log() ? 1 : 0;
    } else if (x.IsDate()) {
        if (cTo == "C") return xpp::DToC(x.Dat());
    }
    return {};
}

}  // namespace detail

namespace {

bool CopiedByRecord(const std::string& letter) {
    return letter == "C" || letter == "N" || letter == "L" || letter == "D";
}

// The numbers the engine keeps in binary: read and written one field at a
// time, converted as numbers.
bool BinaryNumber(const std::string& letter) {
    return letter == "F" || letter == "I" || letter == "R" || letter == "Y" || letter == "A";
}

// A structure row as the conversion sees it: a binary number is an "N".
xpp::Array AsConverted(const xpp::Array& field) {
    if (!BinaryNumber(field.Get(FLD_TYPE).Str())) return field;
    xpp::Array copy = xpp::AClone(field);
    copy.Set(FLD_TYPE, "N");
    return copy;
}

struct MapRow {
    size_t src, tgt;
    bool convert;
};

}  // namespace

// The source is an open area with the alias given, else the table file of
// that name opened exclusive for the time of the import (and closed at its
// end). The target is the current area again on every way out.
Value DBIMPORT(const Value& cAliasIn, const Value&, const Value&, const Value&, const Value&, const Value&,
               const Value&, const Value&) {
    Entry e("DBIMPORT");
    if (!e.Ok()) return false;
    ThreadRow& row = e.Row();
    const int nOldArea = CurrentArea(row);
    if (QelNotUsed(row, true, nOldArea)) return false;
    xpp::Array target;
    CurrentRecord(row, target);
    const KIVHANDLE hTarget = TableOf(target);
    const xpp::Array aTgt = DBSTRUCT().Arr();

    const std::string cAlias = xpp::Upper(xpp::AllTrim(cAliasIn.IsChar() ? cAliasIn.Str() : std::string()));
    int nSrcArea = 0;
    for (int i = 1; i <= kMaxAreas && nSrcArea == 0; ++i) {
        const Value& slot = row.areas[i - 1];
        if (!slot.IsNil() && slot.Arr().Get(WA_ALIAS).IsChar() && slot.Arr().Get(WA_ALIAS).Str() == cAlias)
            nSrcArea = i;
    }
    bool lOpened = false;
    if (nSrcArea != 0) {
        row.currentArea = nSrcArea;
    } else {
        DBUSEAREA(true, Value(), cAlias, Value(), false, Value());
        lOpened = true;
        nSrcArea = CurrentArea(row);
    }
    auto finish = [&](bool result) {
        if (lOpened && nSrcArea != nOldArea) {
            row.currentArea = nSrcArea;
            DBCLOSEAREA();
        }
        row.currentArea = nOldArea;
        return Value(result);
    };
    xpp::Array source;
    if (nSrcArea == nOldArea || !CurrentRecord(row, source)) return finish(false);
    const xpp::Array aSrc = DBSTRUCT().Arr();
    const KIVHANDLE hSource = TableOf(source);

    std::vector<MapRow> map;
    bool anyConvert = false;
    for (size_t i = 1; i <= aTgt.Len(); ++i) {
        const xpp::Array t = aTgt.Get(i).Arr();
        for (size_t j = 1; j <= aSrc.Len(); ++j) {
            const xpp::Array s = aSrc.Get(j).Arr();
            if (s.Get(FLD_NAME).Str() != t.Get(FLD_NAME).Str()) continue;
            const bool convert = s.Get(FLD_TYPE).Str() != t.Get(FLD_TYPE).Str();
            map.push_back({j, i, convert});
            anyConvert = anyConvert || convert;
            break;
        }
    }

    if (!anyConvert) {
        row.currentArea = nOldArea;
        if (const int64_t w = LeaveRow(row, target)) {
            ReportFailure(w);
            return finish(false);
        }
        uint32_t before = 0;
        KIV_UNRECORDED(row, KivGetRecordCount, hTarget, uint16_t{2}, &before);
        xpp::QOut({Value("Please wait!  Modifying Database Structure...")});
        // The engine copies the records it shows: deleted ones are shown
        // for the copy, which keeps their mark.
        const bool shown = SETDELETED(true).Log();
        int64_t r = KIV(row, KivCopyTableContents, hSource, hTarget, uint16_t{2});
        if (r != 0) ReportFailure(r);
        SETDELETED(shown);
        if (r != 0) return finish(false);
        // The engine's copy sends nothing itself: the new rows go out here.
        SendRecords(row, target, static_cast<int64_t>(before) + 1, false);
        row.lastResult = r;
        return finish(true);
    }

    xpp::Array aValues(aTgt.Len());
    row.currentArea = nSrcArea;
    const int64_t nTotal = std::max<int64_t>(LASTREC().Int(), 1);
    int64_t nCount = 0, nShow = 21;
    // Deleted records are copied too, and deleted in the target, as the
    // engine's copy does: the walk shows them whatever SETDELETED says.
    const bool shown = SETDELETED(true).Log();
    DBGOTOP();
    while (!EOF_().Log()) {
        ++nCount;
        if (++nShow > 20) {
            xpp::DevPos(24, 0);
            xpp::DevOut(Value("Append record: " + xpp::Str(Value(static_cast<int64_t>(static_cast<double>(nCount) / static_cast<double>(nTotal) * 100))) + " %  "), "bg+/n");
            nShow = 0;
        }
        const Value aRecord = RECORDGET();
        const bool deleted = DELETED().Log();
        // Fields the record array does not carry (memos, binary numbers and
        // the like) are read one by one, and written one by one when the
        // target's record array does not carry them either.
        for (size_t i = 1; i <= aValues.Len(); ++i) aValues.Set(i, Value());
        std::vector<std::pair<size_t, Value>> extra;
        for (const MapRow& m : map) {
            const xpp::Array from = aSrc.Get(m.src).Arr(), to = aTgt.Get(m.tgt).Arr();
            const std::string srcLetter = from.Get(FLD_TYPE).Str(), tgtLetter = to.Get(FLD_TYPE).Str();
            Value v = !CopiedByRecord(srcLetter) ? FIELDGET(static_cast<int64_t>(m.src))
                      : aRecord.IsArray()       ? aRecord.Arr().Get(m.src)
                                                : Value();
            // A number into a binary number keeps its value: the field's
            // length is its storage length, not a width.
            if (m.convert && !(BinaryNumber(tgtLetter) && v.IsNum())) v = DBIMPORT2(v, AsConverted(from), AsConverted(to));
            if (CopiedByRecord(tgtLetter))
                aValues.Set(m.tgt, v);
            else
                extra.emplace_back(m.tgt, v);
        }
        row.currentArea = nOldArea;
        DBAPPEND();
        RECORDPUT(Value(aValues));
        for (const auto& [field, value] : extra) FIELDPUT(static_cast<int64_t>(field), value);
        if (deleted) DBDELETE();
        row.currentArea = nSrcArea;
        DBSKIP();
    }
    SETDELETED(shown);
    return finish(true);
}

}  // namespace qelxpp
