// Work in the area of another alias: fields, the record number and code
// blocks, with the caller's current area put back afterwards.
#include "current.h"

namespace qelxpp {

using namespace detail;

namespace {

// Selects an area for the life of the guard. The caller's current area is
// put back directly on every exit, also when an error block leaves by a
// BREAK.
class InArea {
public:
    InArea(ThreadRow& row, const Value& xAlias)
        : row_(row), old_(row.currentArea), selected_(DBSELECTAREA(xAlias).Log()) {}
    ~InArea() { row_.currentArea = old_; }
    bool Selected() const { return selected_; }
    InArea(const InArea&) = delete;
    InArea& operator=(const InArea&) = delete;

private:
    ThreadRow& row_;
    Value old_;
    bool selected_;
};

// Runs `work` in the area of xAlias under the procedure name `procName`.
// The readers run in the caller's area when the alias is refused; the
// writers then write nothing and give NIL.
enum class Refused { RunHere, WriteNothing };
template <class Work>
Value InAreaOf(std::string_view procName, const Value& xAlias, Refused refused, Work&& work) {
    Entry e(procName);
    if (!e.Ok()) return {};
    InArea area(e.Row(), xAlias);
    if (!area.Selected() && refused == Refused::WriteNothing) return {};
    return work();
}

}  // namespace

// A name the other area does not have gives NIL and asks the engine nothing.
Value FIELDWGET(const Value& xAlias, const Value& cName) {
    return InAreaOf("_FIELDWGET", xAlias, Refused::RunHere, [&] {
        Value pos = FIELDPOS(cName);
        return pos.Int() > 0 ? FIELDGET(pos) : Value();
    });
}

// A name the other area does not have is reported as "Assert"; nothing is
// written, as through an alias that does not exist.
Value FIELDWPUT(const Value& xAlias, const Value& cName, const Value& xValue) {
    return InAreaOf("_FIELDWPUT", xAlias, Refused::WriteNothing, [&] {
        Value pos = FIELDPOS(cName);
        if (pos.Int() <= 0) {
            QELSHOWERROR(-100, "Assert");
            return Value();
        }
        return FIELDPUT(pos, xValue);
    });
}

Value FIELDWGET2(const Value& xAlias, const Value& nField) {
    return InAreaOf("_FIELDWGET2", xAlias, Refused::RunHere, [&] { return FIELDGET(nField); });
}

Value FIELDWPUT2(const Value& xAlias, const Value& nField, const Value& xValue) {
    return InAreaOf("_FIELDWPUT2", xAlias, Refused::WriteNothing, [&] { return FIELDPUT(nField, xValue); });
}

Value QELWRECNO(const Value& xAlias) {
    return InAreaOf("QELWRECNO", xAlias, Refused::RunHere, [] { return RECNO(); });
}

// The block always gets ten further values, NIL for those not given.
Value QELWBLOCK(const Value& xAlias, const Value& bBlock, const Value& x1, const Value& x2, const Value& x3,
                const Value& x4, const Value& x5, const Value& x6, const Value& x7, const Value& x8, const Value& x9,
                const Value& x10) {
    return InAreaOf("QELWBLOCK", xAlias, Refused::RunHere,
                    [&] { return xpp::Eval(bBlock, xpp::Args{x1, x2, x3, x4, x5, x6, x7, x8, x9, x10}); });
}

// A get/set block for a field of another alias. The field's position is
// fixed now; a name the area does not have gives a block that reads NIL
// and writes nothing.
Value FIELDWBLOCK(const Value& cField, const Value& xAlias) {
    xpp::Frame frame("_FIELDWBLOCK", 0);
    const int64_t pos = QELWBLOCK(xAlias, xpp::Block([cField](xpp::Args&) { return FIELDPOS(cField); })).Int();
    return xpp::Block([xAlias, pos](xpp::Args& a) -> Value {
        if (pos <= 0) return {};
        Value x = a.Get(1);
        return x.IsNil() ? FIELDWGET2(xAlias, pos) : FIELDWPUT2(xAlias, pos, x);
    });
}

}  // namespace qelxpp
