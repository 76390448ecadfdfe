// The catalog lists: SQLCatalogQuery, a read-only static cursor filled by an
// ODBC catalog function instead of a statement, and its eleven members, one
// per catalog function.
#include "rowxpp/sql_catalog.h"

#include <algorithm>

#include "cursor_calls.h"
#include "xpp/functions.h"
#include "xpp/runtime.h"

namespace rowxpp {
namespace {

using cursor::H;
using cursor::Ok;

constexpr size_t kArguments = 12;

}  // namespace

// ============================================================ SQLCatalogQuery

xpp::Class& SQLCatalogQuery::ClassObject() {
    static xpp::ClassSlot slot;
    return slot.Get("SQLCatalogQuery", &SQLSelect::ClassObject(), [](xpp::Class& c) {
        // answers NIL where the cursor answers itself
        c.AddMessage("cancelupdate", [](xpp::Object&, xpp::Args&) -> xpp::Value { return xpp::Value(); });
    });
}

SQLCatalogQuery& SQLCatalogQuery::Init(const xpp::Value& connection) {
    SQLSelect::Init(xpp::Value(), connection, SQL_CONCUR_READ_ONLY, SQL_CURSOR_STATIC);
    P = xpp::Array(kArguments);
    for (size_t i = 1; i <= kArguments; ++i) P.Set(i, 0);
    nRecCount = 0;
    return *this;
}

int64_t SQLCatalogQuery::Refresh() {
    XPP_FRAME("SQLCATALOGQUERY:REFRESH");
    return Execute(xpp::Args{xpp::Value(P)});
}

SQLCatalogQuery& SQLCatalogQuery::CloseCursor_() {
    SQLSelect::Reset_(false);
    if (isCursorOpen) {
        isCursorOpen = false;
        OdbcCall<56>(H(Handle));
    }
    nRecCount = 0;
    return *this;
}

int64_t SQLCatalogQuery::Describe_() {
    XPP_FRAME("SQLCATALOGQUERY:__DESCRIBE");
    if (!Ok(ErrorCode)) {
        DisplayError_();
        return kExecFailed;
    }
    DescribeColumns_();
    isCursorOpen = true;
    // counted like any cursor's rows (0 when the driver knows no count)
    GetRowCount();
    nRecCount = -1;
    if (FetchNext_()) {
        // a type that cannot be read leaves the cursor scrollable
        xpp::Value type = GetAttribute(SQL_ATTR_CURSOR_TYPE);
        if (type.IsNum()) isScrollable = type.Int() != SQL_CURSOR_FORWARD_ONLY;
        RecCount();
    }
    return 0;
}

bool SQLCatalogQuery::Replays_(const xpp::Args& args) const {
    xpp::Value first = args[1];
    return first.IsArray() && first.Arr().Same(P);
}

void SQLCatalogQuery::StoreNames_(const xpp::Args& args, size_t from, size_t count, size_t at) {
    for (size_t i = 1; i <= kArguments; ++i) P.Set(i, 0);
    for (size_t k = 0; k < count; ++k) {
        xpp::Value name = args[from + k];
        // anything but text is an absent name
        if (!name.IsChar()) continue;
        P.Set(at + 2 * k, name);
        P.Set(at + 2 * k + 1, static_cast<int64_t>(name.Str().size()));
    }
}

xpp::Value SQLCatalogQuery::Option_(const xpp::Value& value, int64_t byDefault) {
    return value.IsNil() ? xpp::Value(byDefault) : value;
}

SQLCatalogQuery::Name SQLCatalogQuery::NameAt_(size_t at) const {
    Name name;
    xpp::Value text = P.Get(at);
    if (!text.IsChar()) return name;
    name.present = true;
    name.text = text.Str();
    xpp::Value length = P.Get(at + 1);
    int64_t n = length.IsNum() ? length.Int() : 0;
    // never beyond the text itself
    name.length = static_cast<SQLSMALLINT>(std::clamp<int64_t>(n, 0, std::min<int64_t>(name.text.size(), 32767)));
    return name;
}

SQLUSMALLINT SQLCatalogQuery::NumberAt_(size_t at) const {
    xpp::Value v = P.Get(at);
    return static_cast<SQLUSMALLINT>(v.IsNum() ? v.Int() : 0);
}

template <int Entry, size_t Count>
int64_t SQLCatalogQuery::RunNames_(const xpp::Args& args) {
    CloseCursor_();
    if (!Replays_(args)) StoreNames_(args, 1, Count, 1);
    Name a = NameAt_(1), b = NameAt_(3), c = NameAt_(5);
    if constexpr (Count == 3) {
        ErrorCode = OdbcCall<Entry>(H(Handle), a.Text(), a.length, b.Text(), b.length, c.Text(), c.length);
    } else if constexpr (Count == 4) {
        Name d = NameAt_(7);
        ErrorCode = OdbcCall<Entry>(H(Handle), a.Text(), a.length, b.Text(), b.length, c.Text(), c.length, d.Text(),
                                    d.length);
    } else {
        static_assert(Count == 6);
        Name d = NameAt_(7), e = NameAt_(9), f = NameAt_(11);
        ErrorCode = OdbcCall<Entry>(H(Handle), a.Text(), a.length, b.Text(), b.length, c.Text(), c.length, d.Text(),
                                    d.length, e.Text(), e.length, f.Text(), f.length);
    }
    return Describe_();
}

// ================================================================== the lists

#define ROWXPP_CATALOG_CLASS(ListClass, Function)                                                            \
    xpp::Class& ListClass::ClassObject() {                                                                   \
        static xpp::ClassSlot slot;                                                                          \
        return slot.Get(#ListClass, &SQLCatalogQuery::ClassObject());                                        \
    }                                                                                                        \
    xpp::Class& Function() { return ListClass::ClassObject(); }                                              \
    std::shared_ptr<ListClass> ListClass::New(const xpp::Value& connection) {                                \
        ClassObject();                                                                                       \
        auto list = std::make_shared<ListClass>();                                                           \
        list->Init(connection);                                                                              \
        return list;                                                                                         \
    }                                                                                                        \
    ListClass& ListClass::Init(const xpp::Value& connection) {                                               \
        XPP_FRAME(#Function ":INIT");                                                                        \
        SQLCatalogQuery::Init(connection);                                                                   \
        return *this;                                                                                        \
    }

ROWXPP_CATALOG_CLASS(SQLListColumnPrivileges, SQLLISTCOLUMNPRIVILEGES)
ROWXPP_CATALOG_CLASS(SQLListColumns, SQLLISTCOLUMNS)
ROWXPP_CATALOG_CLASS(SQLListForeignKeys, SQLLISTFOREIGNKEYS)
ROWXPP_CATALOG_CLASS(SQLListPrimaryKeys, SQLLISTPRIMARYKEYS)
ROWXPP_CATALOG_CLASS(SQLListProcedureColumns, SQLLISTPROCEDURECOLUMNS)
ROWXPP_CATALOG_CLASS(SQLListProcedures, SQLLISTPROCEDURES)
ROWXPP_CATALOG_CLASS(SQLListSpecialColumns, SQLLISTSPECIALCOLUMNS)
ROWXPP_CATALOG_CLASS(SQLListStatistics, SQLLISTSTATISTICS)
ROWXPP_CATALOG_CLASS(SQLListTablePrivileges, SQLLISTTABLEPRIVILEGES)
ROWXPP_CATALOG_CLASS(SQLListTables, SQLLISTTABLES)
ROWXPP_CATALOG_CLASS(SQLListTypeInfo, SQLLISTTYPEINFO)

#undef ROWXPP_CATALOG_CLASS

int64_t SQLListColumnPrivileges::Execute(const xpp::Args& args) {
    XPP_FRAME("SQLLISTCOLUMNPRIVILEGES:EXECUTE");
    return RunNames_<45, 4>(args);
}

int64_t SQLListColumns::Execute(const xpp::Args& args) {
    XPP_FRAME("SQLLISTCOLUMNS:EXECUTE");
    return RunNames_<46, 4>(args);
}

int64_t SQLListForeignKeys::Execute(const xpp::Args& args) {
    XPP_FRAME("SQLLISTFOREIGNKEYS:EXECUTE");
    return RunNames_<47, 6>(args);
}

int64_t SQLListPrimaryKeys::Execute(const xpp::Args& args) {
    XPP_FRAME("SQLLISTPRIMARYKEYS:EXECUTE");
    return RunNames_<48, 3>(args);
}

int64_t SQLListProcedureColumns::Execute(const xpp::Args& args) {
    XPP_FRAME("SQLLISTPROCEDURECOLUMNS:EXECUTE");
    return RunNames_<49, 4>(args);
}

int64_t SQLListProcedures::Execute(const xpp::Args& args) {
    XPP_FRAME("SQLLISTPROCEDURES:EXECUTE");
    return RunNames_<50, 3>(args);
}

int64_t SQLListTablePrivileges::Execute(const xpp::Args& args) {
    XPP_FRAME("SQLLISTTABLEPRIVILEGES:EXECUTE");
    return RunNames_<53, 3>(args);
}

int64_t SQLListTables::Execute(const xpp::Args& args) {
    XPP_FRAME("SQLLISTTABLES:EXECUTE");
    return RunNames_<54, 4>(args);
}

int64_t SQLListSpecialColumns::Execute(const xpp::Args& args) {
    XPP_FRAME("SQLLISTSPECIALCOLUMNS:EXECUTE");
    CloseCursor_();
    if (!Replays_(args)) {
        StoreNames_(args, 2, 3, 2);
        P.Set(1, Option_(args[1], SQL_BEST_ROWID));
        P.Set(8, Option_(args[5], SQL_SCOPE_SESSION));
        P.Set(9, Option_(args[6], SQL_NULLABLE));
    }
    Name a = NameAt_(2), b = NameAt_(4), c = NameAt_(6);
    ErrorCode = OdbcCall<51>(H(Handle), NumberAt_(1), a.Text(), a.length, b.Text(), b.length, c.Text(), c.length,
                             NumberAt_(8), NumberAt_(9));
    return Describe_();
}

int64_t SQLListStatistics::Execute(const xpp::Args& args) {
    XPP_FRAME("SQLLISTSTATISTICS:EXECUTE");
    CloseCursor_();
    if (!Replays_(args)) {
        StoreNames_(args, 1, 3, 1);
        P.Set(7, Option_(args[4], SQL_INDEX_ALL));
        P.Set(8, Option_(args[5], SQL_QUICK));
    }
    Name a = NameAt_(1), b = NameAt_(3), c = NameAt_(5);
    ErrorCode = OdbcCall<52>(H(Handle), a.Text(), a.length, b.Text(), b.length, c.Text(), c.length, NumberAt_(7),
                             NumberAt_(8));
    return Describe_();
}

int64_t SQLListTypeInfo::Execute(const xpp::Args& args) {
    XPP_FRAME("SQLLISTTYPEINFO:EXECUTE");
    CloseCursor_();
    // only the type is stored: the rest of the arguments stay as they are
    if (!Replays_(args)) P.Set(1, args[1].IsNum() ? args[1] : xpp::Value(SQL_ALL_TYPES));
    xpp::Value type = P.Get(1);
    ErrorCode = OdbcCall<9>(H(Handle), static_cast<SQLSMALLINT>(type.IsNum() ? type.Int() : 0));
    return Describe_();
}

}  // namespace rowxpp
