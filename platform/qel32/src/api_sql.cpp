// Entry points: transactions, SQL statements and cursors, the data dictionary.
#include <cstring>

#include "api.h"
#include "dictionary.h"
#include "paths.h"
#include "sqlsession.h"
#include "statement.h"
#include "table.h"

namespace qel32 {

namespace {

class DictionarySearch : public Object {
public:
    DictionarySearch() : Object(Kind::Find) {}
    std::vector<std::string> names;
    size_t next = 0;
};

Statement* StatementFor(KIVHANDLE handle) {
    auto* st = dynamic_cast<Statement*>(HandleTable::Instance().Find(handle));
    if (!st) Throw(KIV_ERR_INVALID_HANDLE, "Invalid statement handle " + std::to_string(handle));
    return st;
}

std::shared_ptr<Dictionary> DictionaryOf(KIVHANDLE connection) {
    auto conn = Lookup<Connection>(connection);
    if (!conn->dictionary) Throw(KIV_ERR_NOT_APPLICABLE, "The connection has no data dictionary");
    return conn->dictionary;
}

KIVRESULT AddCursor(Statement& st, const std::shared_ptr<Table>& cursor, KIVHANDLE* out) {
    if (!cursor) return KIV_OK;
    *out = HandleTable::Instance().Add(cursor);
    st.connection().AddTable(*out);
    return KIV_OK;
}

KIVRESULT CopyProperty(const std::optional<std::string>& value, char* buf, uint32_t* len) {
    if (!value) {
        if (len) *len = 0;
        Throw(KIV_ERR_DD_NO_PROPERTY, "The property has no value");
    }
    return CopyOut(*value, buf, len);
}

}  // namespace

}  // namespace qel32

using namespace qel32;

extern "C" {

// ------------------------------------------------------------ transactions

KIVRESULT KivBeginTransaction(KIVHANDLE connection) {
    return Api("KivBeginTransaction", [&] {
        Lookup<Connection>(connection)->Begin();
        return KIV_OK;
    });
}

KIVRESULT KivCommitTransaction(KIVHANDLE connection) {
    return Api("KivCommitTransaction", [&] {
        Lookup<Connection>(connection)->CommitWork();
        return KIV_OK;
    });
}

KIVRESULT KivRollbackTransaction(KIVHANDLE connection) {
    return Api("KivRollbackTransaction", [&] {
        Lookup<Connection>(connection)->RollbackWork();
        return KIV_OK;
    });
}

KIVRESULT KivInTransaction(KIVHANDLE connection, uint16_t* open) {
    return Api("KivInTransaction", [&] {
        *Out(open) = Lookup<Connection>(connection)->InTransaction() ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivRollbackTransaction80(KIVHANDLE connection, const char* savepoint, uint32_t) {
    return Api("KivRollbackTransaction80", [&] {
        Lookup<Connection>(connection)->RollbackWork(Text(savepoint));
        return KIV_OK;
    });
}

KIVRESULT KivCreateSavepoint(KIVHANDLE connection, const char* savepoint, uint32_t) {
    return Api("KivCreateSavepoint", [&] {
        Lookup<Connection>(connection)->Savepoint(Text(savepoint));
        return KIV_OK;
    });
}

// ------------------------------------------------------------ statements

KIVRESULT KivCreateSQLStatement(KIVHANDLE connection, KIVHANDLE* statement) {
    return Api("KivCreateSQLStatement", [&] {
        Out(statement);
        *statement = 0;
        auto* conn = Lookup<Connection>(connection);
        *statement = HandleTable::Instance().Add(std::make_shared<Statement>(conn->shared_from_this()));
        conn->AddStatement(*statement);
        return KIV_OK;
    });
}

KIVRESULT KivCloseSQLStatement(KIVHANDLE statement) {
    return Api("KivCloseSQLStatement", [&] {
        auto* st = dynamic_cast<Statement*>(HandleTable::Instance().Find(statement));
        if (!st) Throw(KIV_ERR_STATEMENT_CLOSED, "The statement is closed");
        st->connection().RemoveStatement(statement);
        const auto owned = HandleTable::Instance().Remove(statement);
        return KIV_OK;
    });
}

KIVRESULT KivResetSQLStatement(KIVHANDLE statement) {
    return Api("KivResetSQLStatement", [&] {
        StatementFor(statement)->Reset();
        return KIV_OK;
    });
}

static KIVRESULT SetSetting(const char* function, KIVHANDLE statement, uint16_t value, uint16_t Statement::*member,
                            uint16_t low, uint16_t high) {
    return Api(function, [&] {
        auto st = StatementFor(statement);
        if (value < low || value > high)
            Throw(KIV_ERR_INVALID_ARGUMENT, std::string(function) + ": invalid value " + std::to_string(value));
        (*st).*member = value;
        return KIV_OK;
    });
}

KIVRESULT KivStmtSetTableLockType(KIVHANDLE statement, uint16_t v) {
    return SetSetting("KivStmtSetTableLockType", statement, v, &Statement::lockType, 0, 1);
}
KIVRESULT KivStmtSetTableCharType(KIVHANDLE statement, uint16_t v) {
    return SetSetting("KivStmtSetTableCharType", statement, v, &Statement::charType, 1, 2);
}
KIVRESULT KivStmtSetTableRights(KIVHANDLE statement, uint16_t v) {
    return SetSetting("KivStmtSetTableRights", statement, v, &Statement::rights, 1, 2);
}
KIVRESULT KivStmtSetTableReadOnly(KIVHANDLE statement, uint16_t v) {
    return SetSetting("KivStmtSetTableReadOnly", statement, v, &Statement::readOnly, 1, 2);
}
KIVRESULT KivStmtSetTableType(KIVHANDLE statement, uint16_t v) {
    return SetSetting("KivStmtSetTableType", statement, v, &Statement::tableType, 1, 3);
}
KIVRESULT KivStmtConstrainUpdates(KIVHANDLE statement, uint16_t v) {
    return SetSetting("KivStmtConstrainUpdates", statement, v, &Statement::constrain, 1, 2);
}
KIVRESULT KivStmtReadAllColumns(KIVHANDLE statement, uint16_t v) {
    return SetSetting("KivStmtReadAllColumns", statement, v, &Statement::readAll, 1, 2);
}

KIVRESULT KivPrepareSQL(KIVHANDLE statement, const char* text) {
    return Api("KivPrepareSQL", [&] {
        StatementFor(statement)->Prepare(Text(text));
        return KIV_OK;
    });
}

KIVRESULT KivPrepareSQLDescribe(KIVHANDLE statement, const char* text, void* buf, uint32_t bufSize, uint32_t* count) {
    return Api("KivPrepareSQLDescribe", [&] {
        Out(count);
        auto st = StatementFor(statement);
        st->Prepare(Text(text));
        const auto fields = st->Describe();
        const uint32_t room = std::min<uint32_t>(*count, bufSize / sizeof(KivColumnDescription));
        auto* out = static_cast<KivColumnDescription*>(buf);
        for (uint32_t i = 0; i < fields.size() && i < room && out; ++i) {
            KivColumnDescription d{};
            std::strncpy(d.name, fields[i].name.c_str(), sizeof d.name - 1);
            d.type = fields[i].type;
            d.decimals = fields[i].decimals;
            d.length = fields[i].type == KIV_FT_VARCHAR ? fields[i].maxLength : fields[i].length;
            std::memcpy(&out[i], &d, sizeof d);
        }
        *count = static_cast<uint32_t>(fields.size());
        return fields.size() > room ? KIV_ERR_BUFFER_TOO_SMALL : KIV_OK;
    });
}

KIVRESULT KivCheckSQL(KIVHANDLE statement, const char* text) {
    return Api("KivCheckSQL", [&] {
        auto st = StatementFor(statement);
        if (Text(text).find_first_not_of(" \t\r\n;") == std::string::npos)
            Throw(KIV_ERR_EMPTY_ARGUMENT, "The SQL statement is empty");
        if (st->LeftToCaller(Text(text))) Throw(KIV_ERR_SQL_DECLINED, "The statement is left to the caller");
        return KIV_OK;
    });
}

KIVRESULT KivVerifySQL(KIVHANDLE statement, const char* text) {
    return Api("KivVerifySQL", [&] {
        auto st = StatementFor(statement);
        Statement probe(st->connection().shared_from_this());
        probe.tableType = st->tableType;
        probe.Prepare(Text(text));
        return KIV_OK;
    });
}

KIVRESULT KivExecuteSQL(KIVHANDLE statement, KIVHANDLE* cursor) {
    return Api("KivExecuteSQL", [&] {
        if (cursor) *cursor = 0;
        auto st = StatementFor(statement);
        auto result = st->Execute();
        if (result && !cursor) {
            result->Close();
            return KIV_OK;
        }
        return AddCursor(*st, result, cursor);
    });
}

KIVRESULT KivExecuteSQLDirect(KIVHANDLE statement, const char* text, KIVHANDLE* cursor) {
    return Api("KivExecuteSQLDirect", [&] {
        if (cursor) *cursor = 0;
        auto st = StatementFor(statement);
        st->Prepare(Text(text));
        auto result = st->Execute();
        if (result && !cursor) {
            result->Close();
            return KIV_OK;
        }
        return AddCursor(*st, result, cursor);
    });
}

KIVRESULT KivInterruptSQL(KIVHANDLE statement) {
    return Api("KivInterruptSQL", [&] {
        sqlite3_interrupt(StatementFor(statement)->connection().Sql().db());
        return KIV_OK;
    });
}

KIVRESULT KivSetStatementPassword(KIVHANDLE statement, const char* table, const char* password) {
    return Api("KivSetStatementPassword", [&] {
        auto st = StatementFor(statement);
        if (Text(table).empty()) Throw(KIV_ERR_EMPTY_ARGUMENT, "No table name given");
        if (Text(password).empty()) Throw(KIV_ERR_PASSWORD_MISSING, "No password given for " + Text(table));
        st->passwords[Upper(StripExtension(FilePart(Text(table))))] = Text(password);
        return KIV_OK;
    });
}

KIVRESULT KivClearStatementPasswords(KIVHANDLE statement) {
    return Api("KivClearStatementPasswords", [&] {
        StatementFor(statement)->passwords.clear();
        return KIV_OK;
    });
}

KIVRESULT KivGetSQLStmtParams(const char*) {
    return Api("KivGetSQLStmtParams", [] { return KIV_OK; });
}

KIVRESULT KivSqlPeekStatement(KIVHANDLE cursor, uint16_t* live) {
    return Api("KivSqlPeekStatement", [&] {
        auto t = Lookup<Table>(cursor);
        if (t->kind() != Kind::Cursor) Throw(KIV_ERR_NOT_APPLICABLE, "The handle is a table, not a cursor");
        *Out(live) = t->isLive ? 1 : 0;
        return KIV_OK;
    });
}

// ------------------------------------------------------------ dictionary

KIVRESULT KivDDCreate(const char* path, const char* description) {
    return Api("KivDDCreate", [&] {
        if (Text(path).empty()) Throw(KIV_ERR_EMPTY_ARGUMENT, "No dictionary path given");
        Dictionary::Create(MapPath(Text(path)), Text(description));
        return KIV_OK;
    });
}

KIVRESULT KivDDGetTableProperty(KIVHANDLE connection, const char* table, uint16_t property, char* buf, uint32_t* len) {
    return Api("KivDDGetTableProperty",
               [&] { return CopyProperty(DictionaryOf(connection)->TableProperty(Text(table), property), buf, len); });
}

KIVRESULT KivDDGetFieldProperty(KIVHANDLE connection, const char* table, const char* field, uint16_t property,
                                char* buf, uint32_t* len) {
    return Api("KivDDGetFieldProperty", [&] {
        return CopyProperty(DictionaryOf(connection)->FieldProperty(Text(table), Text(field), property), buf, len);
    });
}

KIVRESULT KivDDGetUserProperty(KIVHANDLE connection, const char* user, uint16_t property, char* buf, uint16_t* len) {
    return Api("KivDDGetUserProperty", [&] {
        Out(len);
        uint32_t wide = *len;
        const KIVRESULT rc = CopyProperty(DictionaryOf(connection)->UserProperty(Text(user), property), buf, &wide);
        *len = static_cast<uint16_t>(std::min<uint32_t>(wide, 0xFFFF));
        return rc;
    });
}

KIVRESULT KivDDGetObjectProperty(KIVHANDLE connection, const char* object, uint16_t property, char* buf,
                                 uint32_t* len) {
    return Api("KivDDGetObjectProperty",
               [&] { return CopyProperty(DictionaryOf(connection)->ObjectProperty(Text(object), property), buf, len); });
}

KIVRESULT KivDDGetDatabaseProperty(KIVHANDLE connection, uint16_t property, char* buf, uint32_t* len) {
    return Api("KivDDGetDatabaseProperty", [&] {
        auto dictionary = DictionaryOf(connection);
        if (property != KIV_DD_PROP_DATA_PATH) return CopyProperty(std::nullopt, buf, len);
        return CopyOut(dictionary->directory(), buf, len);
    });
}

KIVRESULT KivDDGetTableRights(KIVHANDLE connection, const char* table, uint8_t* rights) {
    return Api("KivDDGetTableRights", [&] {
        *Out(rights) = DictionaryOf(connection)->TableRights(Text(table));
        return KIV_OK;
    });
}

KIVRESULT KivDDRenameObject(KIVHANDLE connection, const char* oldName, const char* newName, uint16_t type, uint32_t) {
    return Api("KivDDRenameObject", [&] {
        DictionaryOf(connection)->Rename(Text(oldName), Text(newName), type);
        return KIV_OK;
    });
}

KIVRESULT KivDDFindFirstObject(KIVHANDLE connection, uint16_t type, const char*, char* buf, uint32_t* len,
                               KIVHANDLE* find) {
    return Api("KivDDFindFirstObject", [&] {
        Out(find);
        *find = 0;
        auto search = std::make_shared<DictionarySearch>();
        search->names = DictionaryOf(connection)->Objects(type);
        if (search->names.empty()) Throw(KIV_ERR_DD_NO_MORE_OBJECTS, "No objects of type " + std::to_string(type));
        *find = HandleTable::Instance().Add(search);
        return CopyOut(search->names[search->next++], buf, len);
    });
}

KIVRESULT KivDDFindNextObject(KIVHANDLE find, char* buf, uint32_t* len) {
    return Api("KivDDFindNextObject", [&] {
        auto search = Lookup<DictionarySearch>(find);
        if (search->next >= search->names.size()) Throw(KIV_ERR_DD_NO_MORE_OBJECTS);
        return CopyOut(search->names[search->next++], buf, len);
    });
}

KIVRESULT KivDDFindClose(KIVHANDLE find) {
    return Api("KivDDFindClose", [&] {
        Lookup<DictionarySearch>(find);
        HandleTable::Instance().Remove(find);
        return KIV_OK;
    });
}

}  // extern "C"
