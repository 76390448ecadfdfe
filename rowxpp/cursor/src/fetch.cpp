// Fetching rows into a cursor's row buffer, navigation over the result set
// and its record count.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "cursor_calls.h"
#include "rowxpp/sql_error.h"
#include "rowxpp/sql_select.h"
#include "statement_text.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

using cursor::At;
using cursor::H;
using cursor::Ok;

constexpr int64_t kPiece = 32766;

// Whether `state` is one of the comma-separated states of `list`.
bool In(const std::string& state, std::string_view list) { return !state.empty() && xpp::At(state, list) > 0; }

// Up to `limit` bytes of `bytes`, cut at its first zero byte.
std::string UpToZero(const char* bytes, int64_t limit) {
    if (limit <= 0) return std::string();
    const void* zero = std::memchr(bytes, 0, static_cast<size_t>(limit));
    size_t n = zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : static_cast<size_t>(limit);
    return std::string(bytes, n);
}

// Whether a number's text is more than blanks, a sign, digits and a point:
// an exponent ("1.0e+20"), NaN or an infinity ("NaN", "-Infinity").
bool NotPlainDecimal(std::string_view t) { return t.find_first_not_of(" +-.0123456789") != std::string_view::npos; }

// Reads column `column` with SQLGetData in pieces, appending to `into`;
// false when not even the first call succeeded.
bool ReadPieces(int64_t handle, int64_t column, int64_t cType, int64_t nullSize, std::string& into) {
    std::string buffer(static_cast<size_t>(kPiece), ' ');
    bool read = false;
    for (;;) {
        SQLLEN length = 0;
        int64_t rc = OdbcCall<39>(H(handle), static_cast<SQLUSMALLINT>(column), static_cast<SQLSMALLINT>(cType),
                                  static_cast<SQLPOINTER>(buffer.data()), static_cast<SQLLEN>(kPiece), &length);
        if (!Ok(rc)) break;
        read = true;
        if (length >= kPiece || length == SQL_NO_TOTAL) {
            into.append(buffer, 0, static_cast<size_t>(kPiece - nullSize));
            continue;
        }
        if (length > 0) into.append(buffer, 0, static_cast<size_t>(length));
        break;
    }
    return read;
}

}  // namespace

std::string GETRESTOFDATA_(int64_t handle, int64_t column, int64_t cType, int64_t nullSize) {
    std::string rest;
    ReadPieces(handle, column, cType, std::clamp<int64_t>(nullSize, 0, 2), rest);
    return rest;
}

// ------------------------------------------------------------------ fetching

std::string SQLSelect::FirstState_() {
    xpp::Value state = GETDIAGFIELD_(SQL_HANDLE_STMT, Handle, 1, SQL_DIAG_SQLSTATE, true);
    return state.IsChar() ? state.Str() : std::string();
}

bool SQLSelect::WritePending_() {
    if (!Row_->isRowModified) {
        RowsUpdated_ = 0;
        return true;
    }
    if (UpdateRow()) return true;
    // The row stays as it is, so that the program can mend or cancel it.
    RAISEERROR_(0, "Can not write the changed row!");
    return false;
}

void SQLSelect::MoveRecNo_(int64_t orientation, int64_t offset) {
    switch (orientation) {
        case SQL_FETCH_NEXT: ++nRecNo; break;
        case SQL_FETCH_FIRST: nRecNo = 1; break;
        case SQL_FETCH_LAST: nRecNo = RecCount(); break;
        case SQL_FETCH_PRIOR: --nRecNo; break;
        case SQL_FETCH_ABSOLUTE: nRecNo = offset; break;
        case SQL_FETCH_RELATIVE: nRecNo += offset; break;
        default: break;
    }
}

bool SQLSelect::FetchNext_() {
    XPP_FRAME("SQLSELECT:__FETCHNEXT");
    if (!isCursorOpen) return false;
    if (!WritePending_()) return false;
    if (Eof_ && !Bof_) return false;
    Row_->Clear();
    ErrorCode = OdbcCall<37>(H(Handle));
    ++nRecNo;
    if (Ok(ErrorCode)) {
        FetchRow();
        Bof_ = Eof_ = false;
        return true;
    }
    if (ErrorCode == SQL_NO_DATA) {
        Eof_ = true;
        if (Bof_ && (!isScrollable || RecCount() == 0)) {
            nRecNo = nRecCount = 0;
            Row_->SetPhantom();
            return false;
        }
        if (isScrollable) {
            nRecNo = RecCount() == 0 ? nRecNo - 1 : nRecCount;
            ErrorCode = OdbcCall<38>(H(Handle), static_cast<SQLSMALLINT>(SQL_FETCH_LAST), static_cast<SQLLEN>(0));
            if (ErrorCode == SQL_NO_DATA) Row_->SetPhantom();
            else FetchRow();
            return false;
        }
        // A forward-only cursor past its last row stands on nothing.
        Row_->SetPhantom();
        return false;
    }
    Row_->SetPhantom();
    std::string state = FirstState_();
    if (state == "HY109") Row_->isReallyDeleted = true;
    else if (state != "24000" && !state.empty()) DisplayError_();
    return false;
}

bool SQLSelect::FetchScroll_(int64_t orientation, int64_t offset) {
    XPP_FRAME("SQLSELECT:__FETCHSCROLL");
    if (!isCursorOpen) return false;
    if (!WritePending_()) return false;
    // under a row limit the last row is the limit's, not the table's
    if (orientation == SQL_FETCH_LAST && nMaxRows > 0 && RecCount() > 0) {
        orientation = SQL_FETCH_ABSOLUTE;
        offset = nRecCount;
    }
    Bof_ = Eof_ = false;
    Row_->Clear();
    ErrorCode = OdbcCall<38>(H(Handle), static_cast<SQLSMALLINT>(orientation), static_cast<SQLLEN>(offset));
    bool backward = orientation == SQL_FETCH_PRIOR || offset < 0;
    switch (ErrorCode) {
        case SQL_SUCCESS:
            MoveRecNo_(orientation, offset);
            FetchRow();
            return true;
        case SQL_SUCCESS_WITH_INFO: {
            if (backward && nRecNo <= 1) {
                Bof_ = true;
                nRecNo = 1;
                ErrorCode = OdbcCall<37>(H(Handle));
                if (ErrorCode == SQL_NO_DATA) Row_->SetPhantom();
                else FetchRow();
                return false;
            }
            // Truncated data is no sign of a deleted row.
            std::string state = FirstState_();
            bool truncated = In(state, "01004,01S07");
            MoveRecNo_(orientation, offset);
            // A move that went past either end (a driver may answer it with
            // a warning) stands on the first or last row like one answered
            // with SQL_NO_DATA.
            bool offTheSet = false;
            if (nRecNo < 1) {
                nRecNo = 1;
                Bof_ = offTheSet = true;
                ErrorCode = OdbcCall<38>(H(Handle), static_cast<SQLSMALLINT>(SQL_FETCH_FIRST), static_cast<SQLLEN>(0));
                if (ErrorCode == SQL_SUCCESS_WITH_INFO) truncated = In(FirstState_(), "01004,01S07");
            } else if (RecCount() > 0 && nRecNo > nRecCount) {
                nRecNo = RecCount();
                Eof_ = offTheSet = true;
                ErrorCode = OdbcCall<38>(H(Handle), static_cast<SQLSMALLINT>(SQL_FETCH_LAST), static_cast<SQLLEN>(0));
                if (ErrorCode == SQL_SUCCESS_WITH_INFO) truncated = In(FirstState_(), "01004,01S07");
            }
            if (ErrorCode == SQL_NO_DATA) {
                Row_->SetPhantom();
                Row_->isReallyDeleted = true;
            } else {
                Row_->isReallyDeleted = ErrorCode != SQL_SUCCESS && !(ErrorCode == SQL_SUCCESS_WITH_INFO && truncated);
                FetchRow();
            }
            return !offTheSet;
        }
        case SQL_NO_DATA:
            if (backward) {
                Bof_ = true;
                nRecNo = 1;
                ErrorCode = OdbcCall<37>(H(Handle));
            } else {
                Eof_ = true;
                nRecNo = RecCount();
                ErrorCode = OdbcCall<38>(H(Handle), static_cast<SQLSMALLINT>(SQL_FETCH_LAST), static_cast<SQLLEN>(0));
            }
            if (ErrorCode == SQL_NO_DATA) Row_->SetPhantom();
            else FetchRow();
            return false;
        default: {
            std::string state = FirstState_();
            Row_->SetPhantom();
            if (state == "HY109") Row_->isReallyDeleted = true;
            else if (!In(state, "HY106,24000") && !state.empty()) DisplayError_();
            return false;
        }
    }
}

// ------------------------------------------------------------- the fetch plan

namespace {

char Kind(const std::string& valType) {
    return valType.size() == 1 && std::strchr("CNDL", valType[0]) != nullptr ? valType[0] : 0;
}

// The first `n` (at most 8) bytes of `p` as a little-endian number; the
// bytes short of eight count as zero.
uint64_t Raw(const char* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n && i < 8; ++i) v |= static_cast<uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    return v;
}

bool Digits(const char* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] < '0' || p[i] > '9') return false;
    return true;
}

int DecimalOf(const char* p, size_t n) {
    int v = 0;
    for (size_t i = 0; i < n; ++i) v = v * 10 + (p[i] - '0');
    return v;
}

// A date of the text of a date column: its digits, with every '-' and '/'
// taken out, the first eight of them read as YYYYMMDD; the empty date when
// those are not eight digits.
xpp::Date DateOf(const char* data, int64_t held) {
    auto separator = [](char c) { return c == '-' || c == '/'; };
    if (held >= 10 && Digits(data, 4) && separator(data[4]) && Digits(data + 5, 2) && separator(data[7]) &&
        Digits(data + 8, 2)) {
        return xpp::Date::FromYMD(DecimalOf(data, 4), DecimalOf(data + 5, 2), DecimalOf(data + 8, 2));
    }
    return xpp::SToD(xpp::Left(xpp::StrTran(xpp::StrTran(UpToZero(data, held), "-"), "/"), 8));
}

}  // namespace

struct SQLSelect::FetchPlan {
    // What FetchRow reads of one column.
    struct Column {
        int64_t cType = 0;
        int64_t size = 0;      // the column's buffer length
        char kind = 0;         // 'C', 'N', 'D' or 'L'; 0 for any other value type
        int64_t decimals = 0;  // numeric columns only
        int64_t sqlType = 0;   // numeric columns only
        std::shared_ptr<SQLColumn> column;
        const char* data = nullptr;      // a bound column's buffer
        const SQLLEN* length = nullptr;  // a bound column's length cell
        xpp::Array info;                 // the description it was taken from
        uint32_t infoVersion = 0;

        // Reads the C type, the buffer length, the value type, and for
        // numbers the decimals and the SQL type from the column's entry of
        // aColInfo.
        void Describe(const xpp::Array& entry) {
            cType = entry.Get(1).Int();
            size = entry.Get(2).Int();
            kind = Kind(entry.Get(3).Str());
            if (kind == 'N') {
                decimals = entry.Get(4).Int();
                if (cType == SQL_C_DOUBLE) sqlType = entry.Get(5).Int();
            }
        }
    };

    xpp::Array colInfo;
    uint32_t colInfoVersion = 0;
    xpp::Value columns;
    xpp::Array columnList;  // the same when it is an array
    uint32_t columnsVersion = 0;
    xpp::Array buffers;
    uint32_t buffersVersion = 0;
    xpp::Array cells;
    uint32_t cellsVersion = 0;
    int64_t lastBound = 0;
    int64_t colCount = 0;
    bool usable = false;
    std::vector<Column> list;
};

const SQLSelect::FetchPlan* SQLSelect::FetchPlan_() {
    if (const FetchPlan* p = plan_.get()) {
        bool current = p->colCount == nColCount && p->lastBound == LastBoundCol && p->colInfo.Same(aColInfo) &&
                       p->colInfoVersion == aColInfo.Version() && p->buffers.Same(apColBuffer) &&
                       p->buffersVersion == apColBuffer.Version() && p->cells.Same(apColSize) &&
                       p->cellsVersion == apColSize.Version() && p->columns.IsArray() == aSQLColumns.IsArray() &&
                       p->columns.Identity() == aSQLColumns.Identity() &&
                       (!aSQLColumns.IsArray() || p->columnsVersion == p->columnList.Version());
        for (size_t i = 0; current && i < p->list.size(); ++i)
            current = p->list[i].info.Version() == p->list[i].infoVersion;
        if (current) return p->usable ? p : nullptr;
    }
    auto plan = std::make_shared<FetchPlan>();
    plan->colInfo = aColInfo;
    plan->colInfoVersion = aColInfo.Version();
    plan->columns = aSQLColumns;
    if (aSQLColumns.IsArray()) {
        plan->columnList = aSQLColumns.Arr();
        plan->columnsVersion = plan->columnList.Version();
    }
    plan->buffers = apColBuffer;
    plan->buffersVersion = apColBuffer.Version();
    plan->cells = apColSize;
    plan->cellsVersion = apColSize.Version();
    plan->lastBound = LastBoundCol;
    plan->colCount = nColCount;
    plan_ = plan;
    // Anything out of the shape DescribeColumns_ gives is left to the
    // reading through the arrays, with its errors.
    size_t n = nColCount > 0 ? static_cast<size_t>(nColCount) : 0;
    size_t bound = LastBoundCol > 0 ? static_cast<size_t>(LastBoundCol) : 0;
    xpp::Array columns = aSQLColumns.IsArray() ? aSQLColumns.Arr() : xpp::Array();
    if (aColInfo.Len() < n || columns.Len() < n || apColBuffer.Len() < std::min(bound, n) ||
        apColSize.Len() < std::min(bound, n))
        return nullptr;
    plan->list.resize(n);
    for (size_t i = 1; i <= n; ++i) {
        FetchPlan::Column& c = plan->list[i - 1];
        xpp::Value entry = aColInfo.Get(i);
        if (!entry.IsArray()) return nullptr;
        c.info = entry.Arr();
        c.infoVersion = c.info.Version();
        size_t len = c.info.Len();
        if (len < 3 || (Kind(c.info.Get(3).Str()) == 'N' && len < 5)) return nullptr;
        c.Describe(c.info);
        c.column = columns.Get(i).As<SQLColumn>();
        if (i <= bound) {
            c.data = At<const char>(apColBuffer.Get(i).Int());
            c.length = At<SQLLEN>(apColSize.Get(i).Int());
        }
    }
    plan->usable = true;
    return plan.get();
}

xpp::Array SQLSelect::FetchRow() {
    XPP_FRAME("SQLSELECT:FETCHROW");
    const FetchPlan* plan = FetchPlan_();
    int64_t nRet = ErrorCode;
    std::string buffer(LastBoundCol < nColCount ? static_cast<size_t>(std::max<int64_t>(RowBufferSize_, 1)) : 0, ' ');
    // without a plan each column is read from the arrays, as described
    FetchPlan::Column read;
    // the row's values are stored in one step per array, and before
    // anything else may look at the row
    std::vector<std::pair<size_t, xpp::Value>>& toBuffer = toBuffer_;
    std::vector<std::pair<size_t, xpp::Value>>& toOriginal = toOriginal_;
    auto store = [&]() {
        if (!toBuffer.empty()) RowBuffer.SetMany(toBuffer);
        if (!toOriginal.empty()) Row_->Original.SetMany(toOriginal);
        toBuffer.clear();
        toOriginal.clear();
    };
    std::optional<xpp::Array> columns;
    if (!plan) columns = aSQLColumns.IsArray() ? aSQLColumns.Arr() : xpp::Array();
    for (int64_t i = 1; i <= nColCount; ++i, nRet = 0) {
        size_t at = static_cast<size_t>(i);
        bool bound = i <= LastBoundCol;
        if (!plan) {
            store();  // reading the arrays may raise an error
            xpp::Array info = aColInfo.Get(at).Arr();
            read.column = columns->Get(at).As<SQLColumn>();
            read.Describe(info);
            if (bound) {
                read.data = At<const char>(apColBuffer.Get(at).Int());
                read.length = At<SQLLEN>(apColSize.Get(at).Int());
            }
        }
        const FetchPlan::Column& c = plan ? plan->list[at - 1] : read;
        const int64_t cType = c.cType;
        int64_t size = c.size;
        int64_t nullSize = c.column ? c.column->NullSize : 1;
        auto blank = [&c]() { return c.column ? c.column->DefValue : xpp::Value(); };
        const char* data = nullptr;
        SQLLEN nLen = 0;
        if (bound) {
            data = c.data;
            nLen = *c.length;
        } else {
            // never more than the row's text buffer holds (a refresh under a
            // lower limit may leave a column unbound that was bound before)
            size = std::min(size, static_cast<int64_t>(buffer.size()));
            nRet = OdbcCall<39>(H(Handle), static_cast<SQLUSMALLINT>(i), static_cast<SQLSMALLINT>(cType),
                                static_cast<SQLPOINTER>(buffer.data()), static_cast<SQLLEN>(size), &nLen);
            data = buffer.data();
        }
        if (!Ok(nRet)) {
            std::string state = FirstState_();
            store();
            if (state == "HY109") {
                Row_->SetPhantom();
                Row_->isReallyDeleted = true;
                break;
            }
            if (In(state, "24000,HY106")) {
                Row_->SetPhantom();
                break;
            }
            RowBuffer.Set(at, blank());
            if (!state.empty()) {
                DisplayError_(nRet);
                if (In(state, "08S01,HY008,HY010,HYC00,HYT01")) break;
            }
            continue;
        }
        if (nLen == SQL_NULL_DATA || nLen == 0) {
            toBuffer.emplace_back(at, blank());
            // an empty text is a value, not NULL
            if (nLen == 0 && c.kind == 'C') toOriginal.emplace_back(at, "");
            continue;
        }
        // the bytes the driver left, never more than the buffer holds
        int64_t held = std::clamp<int64_t>(static_cast<int64_t>(nLen), 0, size);
        xpp::Value value;
        // the whole text of the column, however long
        auto wholeText = [&]() {
            std::string text;
            if (bound) {
                // A bound text cut short is read again whole; SQLGetData
                // starts over at its first byte.
                bool truncated = nLen == SQL_NO_TOTAL || nLen > size - nullSize;
                if (!truncated || !ReadPieces(Handle, i, cType, nullSize, text)) {
                    text.assign(data, static_cast<size_t>(std::min(held, size - nullSize)));
                }
            } else if (nRet == SQL_SUCCESS_WITH_INFO && FirstState_() == "01004") {
                text.assign(data, static_cast<size_t>(std::max<int64_t>(size - nullSize, 0)));
                ReadPieces(Handle, i, cType, nullSize, text);
            } else {
                text.assign(data, static_cast<size_t>(held));
            }
            return text;
        };
        if (c.kind == 'C') {
            value = wholeText();
        } else if (c.kind == 'N') {
            if (cType == SQL_C_LONG || cType == SQL_C_DOUBLE) {
                // the binary value: a bound column's whole buffer
                size_t bytes = static_cast<size_t>(std::max<int64_t>(bound ? size : held, 0));
                if (bytes == 0) {
                    toBuffer.emplace_back(at, blank());
                    continue;
                }
                if (cType == SQL_C_LONG) {
                    value = static_cast<int64_t>(static_cast<int32_t>(Raw(data, std::min<size_t>(bytes, 4))));
                } else {
                    uint64_t bits = Raw(data, std::min<size_t>(bytes, 8));
                    double d;
                    std::memcpy(&d, &bits, sizeof d);
                    // the number with the decimals of its shortest exact text
                    value = xpp::Number::FromDouble(d);
                }
            } else {
                std::string whole = wholeText();
                std::string t = UpToZero(whole.data(), static_cast<int64_t>(whole.size()));
                if (t.empty()) {
                    toBuffer.emplace_back(at, blank());
                    continue;
                }
                // NaN, the infinities and exponents read as the doubles they name
                if (NotPlainDecimal(t))
                    value = xpp::Number::Double(std::strtod(t.c_str(), nullptr), static_cast<int>(c.decimals));
                else
                    value = xpp::Val(t);
                value = c.decimals == 0 ? xpp::Int(value) : xpp::Round(value, static_cast<int>(c.decimals));
            }
        } else if (c.kind == 'D') {
            if (held == 0 || data[0] == 0) {
                toBuffer.emplace_back(at, blank());
                continue;
            }
            value = DateOf(data, held);
        } else if (c.kind == 'L') {
            value = held > 0 && (data[0] == '1' || data[0] == 'T');
        } else {
            value = std::string(data, static_cast<size_t>(held));
        }
        toBuffer.emplace_back(at, value);
        toOriginal.emplace_back(at, std::move(value));
    }
    store();
    return RowBuffer;
}

// ---------------------------------------------------------------- navigation

bool SQLSelect::Skip(const xpp::Value& n) {
    XPP_FRAME("SQLSELECT:SKIP");
    int64_t rows = n.IsNum() ? n.Int() : 1;
    if (rows == 1) return FetchNext_();
    if (rows == -1) return FetchScroll_(SQL_FETCH_PRIOR);
    if (rows == 0) return Bof_ && Eof_ ? FetchNext_() : FetchScroll_(SQL_FETCH_RELATIVE, 0);
    return FetchScroll_(SQL_FETCH_RELATIVE, rows);
}

bool SQLSelect::GoTo(const xpp::Value& row) {
    XPP_FRAME("SQLSELECT:GOTO");
    int64_t r = row.IsNum() ? row.Int() : 0;
    if (r <= 1) return FetchScroll_(SQL_FETCH_FIRST);
    if (RecCount() > 0 && r >= nRecCount) return FetchScroll_(SQL_FETCH_LAST);
    return FetchScroll_(SQL_FETCH_ABSOLUTE, r);
}

bool SQLSelect::GoTop() {
    XPP_FRAME("SQLSELECT:GOTOP");
    return Bof_ && Eof_ ? FetchNext_() : FetchScroll_(SQL_FETCH_FIRST);
}

bool SQLSelect::GoBottom() {
    XPP_FRAME("SQLSELECT:GOBOTTOM");
    return FetchScroll_(SQL_FETCH_LAST);
}

int64_t SQLSelect::Skipper(const xpp::Value& n) {
    XPP_FRAME("SQLSELECT:SKIPPER");
    int64_t rows = n.IsNum() ? n.Int() : 0;
    if (!isScrollable) {
        int64_t moved = 0;
        while (moved < rows && FetchNext_()) ++moved;
        return moved;
    }
    if (rows == 1) return FetchNext_() ? 1 : 0;
    if (rows == -1) return FetchScroll_(SQL_FETCH_PRIOR) ? -1 : 0;
    if (rows == 0) {
        Skip(0);
        return 0;
    }
    int64_t from = nRecNo;
    FetchScroll_(SQL_FETCH_RELATIVE, rows);
    return rows > 0 ? std::min(nRecNo - from, rows) : std::max(nRecNo - from, rows);
}

// -------------------------------------------------------------- record count

int64_t SQLSelect::RecCount() {
    XPP_FRAME("SQLSELECT:RECCOUNT");
    if (nRecCount >= 0) return nRecCount;
    if (!isCursorOpen && Refresh() == kExecFailed) return -1;
    // a limit in force caps what the driver or a count statement says
    auto keep = [this](int64_t count) {
        if (nMaxRows > 0 && count > nMaxRows) count = nMaxRows;
        return nRecCount = count;
    };
    // The cursor row count is a header field: record 0. A negative value
    // means the driver does not know.
    xpp::Value counted = GETDIAGFIELD_(SQL_HANDLE_STMT, Handle, 0, SQL_DIAG_CURSOR_ROW_COUNT);
    if (counted.IsNum() && counted.Int() >= 0) return keep(counted.Int());
    // An empty result was counted 0 by the first fetch already.
    if (SQLStatement::RecCount() > 0) return keep(SQLStatement::RecCount());
    if (isProcedure || isDerivedFrom("SQLCatalogQuery")) return nRecCount = 0;

    std::string text = Blanked(cStatement);
    std::string low = xpp::Lower(text);
    size_t from = xpp::At("from ", low);
    if (from == 0) return -1;
    // Grouped, distinct and united rows are counted over the whole
    // statement; so is a statement whose first FROM belongs to a subquery.
    // A statement that limits its rows keeps its order, which chooses them.
    std::string head = xpp::AllTrim(low);
    bool limited = xpp::At(" limit ", low) > 0 || xpp::At(" offset ", low) > 0 ||
                   xpp::At(" fetch first ", low) > 0 || xpp::At(" fetch next ", low) > 0 ||
                   head.rfind("select top ", 0) == 0 || head.rfind("select distinct top ", 0) == 0;
    std::string whole = cStatement;
    size_t order = xpp::RAt(" order by ", low);
    if (!limited && order > 0 && low.find(')', order) == std::string::npos) whole.resize(order - 1);
    while (!whole.empty() && std::strchr(" \t\r\n;", whole.back()) != nullptr) whole.pop_back();
    std::string derived = "select count (*) from (" + whole + ") x";
    int64_t count = -1;
    if (limited || xpp::At(" group by ", low) > 0 || xpp::At(" having ", low) > 0 || xpp::At("distinct", low) > 0 ||
        xpp::At(" union ", low) > 0) {
        count = CountWith_(derived, ParamList);
    } else {
        std::string simple = "select count (*) " + cStatement.substr(from - 1);
        std::string lowSimple = xpp::Lower(Blanked(simple));
        size_t cut = xpp::At(" order by ", lowSimple);
        if (cut > 0) simple.resize(cut);
        count = CountWith_(simple, ParamList);
        if (count < 0) count = CountWith_(derived, ParamList);
    }
    if (count >= 0) keep(count);
    return count >= 0 ? nRecCount : count;
}

int64_t SQLSelect::CountWith_(const std::string& text, const xpp::Value& params) {
    XPP_FRAME("SQLSELECT:RECCOUNT");
    auto counter = SQLStatement::New(text, xpp::Value(Connection));
    counter->DisplayErrors = false;
    int64_t count = -1;
    if (counter->Handle != 0 && counter->Execute(xpp::Args{params}) != kExecFailed) {
        int64_t rc = OdbcCall<37>(H(counter->Handle));
        if (Ok(rc)) {
            SQLINTEGER cell = 0;
            SQLLEN length = 0;
            rc = OdbcCall<39>(H(counter->Handle), static_cast<SQLUSMALLINT>(1), static_cast<SQLSMALLINT>(SQL_C_LONG),
                              static_cast<SQLPOINTER>(&cell), static_cast<SQLLEN>(sizeof cell), &length);
            if (Ok(rc) && length != SQL_NULL_DATA) count = cell;
        }
        ErrorCode = rc;
    }
    counter->Destroy();
    return count;
}

}  // namespace rowxpp
