// The ODBC catalog as read-only cursors: one class per catalog function
// (SQLListTables, SQLListColumns, ...) over their common base
// SQLCatalogQuery, which keeps the arguments of the last call for Refresh.
#pragma once

#include <memory>
#include <string>

#include <sql.h>

#include "rowxpp/sql_select.h"

namespace rowxpp {

// The base of the catalog lists; it has no class function of its own.
class SQLCatalogQuery : public SQLSelect {
public:
    static xpp::Class& ClassObject();
    xpp::Class& classObject() const override { return ClassObject(); }

    // A read-only static cursor on `connection`; the arguments all absent.
    SQLCatalogQuery& Init(const xpp::Value& connection);

    // Runs the last catalog call again with the same arguments.
    int64_t Refresh() override;

    // Nothing of a catalog list can be edited: these change nothing and
    // make no ODBC call.
    xpp::Value FieldPut(const xpp::Value&, const xpp::Value&) override { return xpp::Value(); }
    xpp::Value Delete() override { return xpp::Value(); }
    xpp::Value Append() override { return xpp::Value(); }
    bool SetPrimaryKey(const xpp::Value& = xpp::Value(), const xpp::Value& = xpp::Value()) override { return false; }
    bool Prepare(const xpp::Value& = xpp::Value()) override { return true; }
    bool UpdateRow(const xpp::Value& = xpp::Value()) override { return false; }
    SQLSelect& CancelUpdate() override { return *this; }

    // The arguments of the last call: twelve elements, a name followed by
    // its length in bytes, a numeric option, or 0 for an absent argument.
    const xpp::Array& Arguments() const { return P; }

protected:
    // Closes the result of the call before.
    SQLCatalogQuery& CloseCursor_();
    // Opens the result of the call that has just run (its code in
    // ErrorCode): 0, or -2 after reporting the failure.
    int64_t Describe_();
    // Whether `args` replays P (Refresh passes P itself).
    bool Replays_(const xpp::Args& args) const;
    // P all 0, then the name arguments args[from...] (count of them) stored
    // as text and length from element `at` on.
    void StoreNames_(const xpp::Args& args, size_t from, size_t count, size_t at);
    // A numeric option: `value`, or `byDefault` for NIL.
    static xpp::Value Option_(const xpp::Value& value, int64_t byDefault);

    // One name argument of the call, read from P[at] and P[at + 1].
    struct Name {
        bool present = false;
        std::string text;
        SQLSMALLINT length = 0;
        SQLCHAR* Text() { return present ? reinterpret_cast<SQLCHAR*>(text.data()) : nullptr; }
    };
    Name NameAt_(size_t at) const;
    // A numeric argument of the call, read from P[at] (0 when not a number).
    SQLUSMALLINT NumberAt_(size_t at) const;
    // Execute of a list whose arguments are `Count` names: closes, stores
    // the names (unless replaying), calls entry `Entry` of the call table
    // and opens its result.
    template <int Entry, size_t Count>
    int64_t RunNames_(const xpp::Args& args);

    xpp::Array P;
};

#define ROWXPP_CATALOG_LIST(ListClass, Function)                                                             \
    class ListClass : public SQLCatalogQuery {                                                               \
    public:                                                                                                  \
        static xpp::Class& ClassObject();                                                                    \
        xpp::Class& classObject() const override { return ClassObject(); }                                   \
        /* new(oConnection) */                                                                               \
        static std::shared_ptr<ListClass> New(const xpp::Value& connection = xpp::Value());                  \
        ListClass& Init(const xpp::Value& connection);                                                       \
        int64_t Execute(const xpp::Args& args = {}) override;                                                \
    };                                                                                                       \
    xpp::Class& Function();

// Execute(catalog, schema, table, column)
ROWXPP_CATALOG_LIST(SQLListColumnPrivileges, SQLLISTCOLUMNPRIVILEGES)
// Execute(catalog, schema, table, column)
ROWXPP_CATALOG_LIST(SQLListColumns, SQLLISTCOLUMNS)
// Execute(pkCatalog, pkSchema, pkTable, fkCatalog, fkSchema, fkTable)
ROWXPP_CATALOG_LIST(SQLListForeignKeys, SQLLISTFOREIGNKEYS)
// Execute(catalog, schema, table)
ROWXPP_CATALOG_LIST(SQLListPrimaryKeys, SQLLISTPRIMARYKEYS)
// Execute(catalog, schema, procedure, column)
ROWXPP_CATALOG_LIST(SQLListProcedureColumns, SQLLISTPROCEDURECOLUMNS)
// Execute(catalog, schema, procedure)
ROWXPP_CATALOG_LIST(SQLListProcedures, SQLLISTPROCEDURES)
// Execute(identifierType = 1, catalog, schema, table, scope = 2, nullable = 1)
ROWXPP_CATALOG_LIST(SQLListSpecialColumns, SQLLISTSPECIALCOLUMNS)
// Execute(catalog, schema, table, unique = 1, reserved = 0)
ROWXPP_CATALOG_LIST(SQLListStatistics, SQLLISTSTATISTICS)
// Execute(catalog, schema, table)
ROWXPP_CATALOG_LIST(SQLListTablePrivileges, SQLLISTTABLEPRIVILEGES)
// Execute(catalog, schema, table, tableTypes)
ROWXPP_CATALOG_LIST(SQLListTables, SQLLISTTABLES)
// Execute(dataType): all types unless a number is given
ROWXPP_CATALOG_LIST(SQLListTypeInfo, SQLLISTTYPEINFO)

#undef ROWXPP_CATALOG_LIST

}  // namespace rowxpp
