// Entry points: tables, field definitions, values, editing, locks, navigation.
#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <thread>

#include "api.h"
#include "api_index.h"
#include "codepages.h"
#include "dates.h"
#include "paths.h"
#include "kivwin/win.h"
#include "dictionary.h"
#include "statement.h"
#include "table.h"

namespace qel32 {

namespace {

struct OpenTableEntry {
    std::weak_ptr<Table> table;
    std::thread::id thread;
};

std::mutex gTablesMutex;
std::vector<OpenTableEntry> gTables;

void Register(const std::shared_ptr<Table>& table) {
    std::lock_guard lock(gTablesMutex);
    std::erase_if(gTables, [](const auto& e) { return e.table.expired(); });
    gTables.push_back({table, std::this_thread::get_id()});
}

std::vector<std::shared_ptr<Table>> OpenTables(bool thisThreadOnly) {
    std::lock_guard lock(gTablesMutex);
    std::vector<std::shared_ptr<Table>> out;
    for (const auto& e : gTables)
        if (auto t = e.table.lock(); t && (!thisThreadOnly || e.thread == std::this_thread::get_id()))
            out.push_back(t);
    return out;
}

uint32_t Crc32(const uint8_t* data, size_t n) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

const char* DefaultExtension(uint16_t type) { return type == KIV_TABLE_KDT ? ".kdt" : ".dbf"; }

bool AllUpper(std::string_view s) {
    bool letters = false;
    for (char c : s) {
        if (std::islower(static_cast<unsigned char>(c))) return false;
        letters = letters || std::isupper(static_cast<unsigned char>(c));
    }
    return letters;
}

std::string TablePathForOpen(const Connection& c, const std::string& name, uint16_t type) {
    if (name.empty()) Throw(KIV_ERR_EMPTY_ARGUMENT, "No table name given");
    const std::string mapped = MapPath(name, c.directory());
    if (!Extension(FilePart(mapped)).empty()) {
        if (!FileExists(mapped)) Throw(KIV_ERR_FILE_NOT_FOUND, "Table " + name + " not found");
        return mapped;
    }
    std::vector<const char*> exts;
    if (type == KIV_TABLE_DEFAULT) exts = {".dbf", ".kdt"};
    else exts = {DefaultExtension(type)};
    for (const char* ext : exts)
        if (std::string found = FindWithExtension(mapped, ext); !found.empty()) return found;
    Throw(KIV_ERR_FILE_NOT_FOUND, "Table " + name + " not found");
}

std::string TablePathForCreate(const std::string& directory, const std::string& name, uint16_t type) {
    if (name.empty()) Throw(KIV_ERR_EMPTY_ARGUMENT, "No table name given");
    const std::string mapped = MapPath(name, directory);
    if (!Extension(FilePart(mapped)).empty()) return mapped;
    const std::string ext = DefaultExtension(type);
    return mapped + (AllUpper(FilePart(mapped)) ? Upper(ext) : ext);
}

OpenRequest RequestFromOptions(uint16_t charType, uint16_t lockType, uint32_t options, const char* alias,
                               const std::string& path) {
    OpenRequest r;
    r.charType = charType == KIV_CHAR_OEM ? KIV_CHAR_OEM : KIV_CHAR_ANSI;
    r.lockType = lockType;
    if (options & KIV_OPEN_DRIVER_LAYOUT) {
        r.exclusive = (options & KIV_OPEN_DRV_EXCLUSIVE) != 0;
        const uint32_t wanted = options & 0xF0u;
        if (wanted) {
            r.privileges = static_cast<uint8_t>(wanted | 0x10u);
            r.readOnly = !(wanted & 0xE0u);
        }
    } else {
        r.exclusive = (options & KIV_OPEN_EXCLUSIVE) != 0;
        r.readOnly = (options & KIV_OPEN_READ_ONLY) != 0;
    }
    r.alias = alias && *alias ? std::string(alias) : Upper(StripExtension(FilePart(path)));
    return r;
}

std::shared_ptr<Table> AddTable(Connection* conn, std::shared_ptr<TableFile> file, const OpenRequest& request,
                                KIVHANDLE* out) {
    auto table = std::make_shared<Table>(conn->shared_from_this(), std::move(file), request);
    *out = HandleTable::Instance().Add(table);
    conn->AddTable(*out);
    Register(table);
    return table;
}


// Setters address parameters when the handle is an SQL statement.
Statement* StatementOf(KIVHANDLE handle) {
    Object* object = HandleTable::Instance().Find(handle);
    return object && object->kind() == Kind::Statement ? static_cast<Statement*>(object) : nullptr;
}

int FieldIndexOf(Table& t, KIVFIELD field) {
    int i;
    t.Field(field, &i);
    return i;
}

KIVRESULT CloseTableHandle(KIVHANDLE handle) {
    TableOf(handle);
    const auto owned = HandleTable::Instance().Remove(handle);
    auto* table = static_cast<Table*>(owned.get());
    table->connection()->RemoveTable(handle);
    table->Close();
    return KIV_OK;
}

// Appends every visible record of source to target, fields matched by name.
void CopyRecords(Table& source, Table& target) {
    source.Flush();
    const uint32_t savedRec = source.recno();
    const bool hadRecord = source.haveRecord();
    std::vector<std::pair<int, int>> pairs;
    const auto& sf = source.file().fields();
    for (size_t i = 0; i < sf.size(); ++i) {
        const int j = target.file().FieldIndex(sf[i].name.c_str());
        if (j >= 0) pairs.emplace_back(static_cast<int>(i), j);
    }
    for (source.GoTop(); !source.eof(); source.Skip(1)) {
        target.Append();
        for (auto [i, j] : pairs) {
            const FieldDef& tf = target.file().fields()[static_cast<size_t>(j)];
            if (tf.type == KIV_FT_AUTOINC || tf.type == KIV_FT_ROWVERSION || tf.type == KIV_FT_MODTIME) continue;
            const Value v = source.GetValue(i);
            if (IsBlobType(tf.type)) target.SetBytes(j, v.kind == Value::Kind::Empty ? std::string() : v.text);
            else target.SetValue(j, v);
        }
        if (source.image()[0] == '*') target.Delete(true);
        target.Flush();
    }
    target.UnlockAll();
    if (hadRecord) {
        try {
            source.GoTo(savedRec);
        } catch (const EngineError&) {
        }
    }
}

// Raw keys: setters on an index handle write the key's fields into a record
// of the handle's own. Returns false when the handle is no index handle.
bool SetRawKeyField(KIVHANDLE handle, KIVFIELD field, const Value* value, std::string_view raw, bool empty,
                    KIVRESULT& rc);

}  // namespace

// Tables and result cursors; the hot path of every record call.
Table* TableOf(KIVHANDLE handle) {
    Object* object = HandleTable::Instance().Find(handle);
    if (object && (object->kind() == Kind::Table || object->kind() == Kind::Cursor)) return static_cast<Table*>(object);
    if (object && object->kind() == Kind::Index) return &static_cast<IndexHandle*>(object)->table;
    Throw(KIV_ERR_INVALID_HANDLE, "Invalid handle " + std::to_string(handle));
}

IndexHandle* IndexOf(KIVHANDLE handle) {
    Object* object = HandleTable::Instance().Find(handle);
    return object && object->kind() == Kind::Index ? static_cast<IndexHandle*>(object) : nullptr;
}

Table* NavigationOf(KIVHANDLE handle) {
    if (IndexHandle* index = IndexOf(handle)) {
        index->table.UseOrder(index);
        return &index->table;
    }
    Table* table = TableOf(handle);
    table->UseOrder(table->ownOrder());
    return table;
}

namespace {

bool SetRawKeyField(KIVHANDLE handle, KIVFIELD field, const Value* value, std::string_view raw, bool empty,
                    KIVRESULT& rc) {
    IndexHandle* index = IndexOf(handle);
    if (!index) return false;
    TableFile& file = index->table.file();
    if (index->rawImage.empty()) index->rawImage = file.BlankImage();
    const int i = file.FieldIndex(field);
    if (i < 0) Throw(KIV_ERR_FIELD_NOT_FOUND, "The key has no field " + std::string(reinterpret_cast<uintptr_t>(field) < KIV_FIELD_NUMBER_LIMIT ? std::to_string(reinterpret_cast<uintptr_t>(field)) : std::string(field)));
    const FieldDef& f = file.fields()[static_cast<size_t>(i)];
    if (IsBlobType(f.type)) Throw(KIV_ERR_NOT_APPLICABLE, "Memo fields are no key segments");
    rc = KIV_OK;
    if (empty) {
        SetEmptyImage(f, index->rawImage.data(), file.type());
    } else if (value) {
        rc = EncodeField(f, index->rawImage.data(), file.type(), *value);
    } else {
        const size_t n = std::min<size_t>(raw.size(), f.length);
        std::memcpy(&index->rawImage[f.offset], raw.data(), n);
        rc = raw.size() > f.length ? KIV_ERR_VALUE_CUT : KIV_OK;
    }
    return true;
}

// Packing and emptying a table cannot be undone: inside a transaction they
// are refused before the handle's pending changes are written or dropped.
void RefuseInTransaction(const Table& t, const char* what) {
    if (t.connection() && t.connection()->InTransaction())
        Throw(KIV_ERR_NOT_APPLICABLE, "Table " + t.alias() + " cannot be " + what + " inside a transaction");
}

}  // namespace

void CloseTablesOf(Connection& connection) {
    for (KIVHANDLE h : connection.Tables()) {
        try {
            CloseTableHandle(h);
        } catch (const EngineError&) {
            // the connection goes away regardless
        }
    }
}

}  // namespace qel32

using namespace qel32;

extern "C" {

// ------------------------------------------------------------ tables

KIVRESULT KivOpenTable(KIVHANDLE connection, const char* name, const char* alias, uint16_t tableType,
                       uint16_t charType, uint16_t lockType, uint16_t rights, uint32_t options, KIVHANDLE* table) {
    return Api("KivOpenTable", [&] {
        (void)rights;
        Out(table);
        *table = 0;
        // The table, its memo and production index files are found in one reading of the folder.
        kivwin::FolderSnapshot folder;
        auto* conn = Lookup<Connection>(connection);
        if (tableType > KIV_TABLE_KDT) Throw(KIV_ERR_INVALID_ARGUMENT, "Invalid table type " + std::to_string(tableType));
        std::string path;
        if (conn->dictionary) {
            // Dictionary tables by name; a file name or path opens a free table.
            const std::string n = Text(name);
            if (auto entry = conn->dictionary->FindTable(n)) {
                path = entry->file;
                if (!tableType) tableType = entry->type;
            } else if (Extension(n).empty() && n.find_first_of("/\\:") == std::string::npos) {
                Throw(KIV_ERR_DD_UNKNOWN_NAME, "Table " + n + " is not in the data dictionary");
            }
        }
        if (path.empty()) path = TablePathForOpen(*conn, Text(name), tableType);
        const OpenRequest request = RequestFromOptions(charType, lockType, options, alias, path);
        // The connection's results still reading the table let it go first.
        if (request.exclusive) conn->FinishResults();
        auto file = TableFile::Open(path, tableType, request.exclusive);
        std::shared_ptr<Table> opened;
        try {
            if (!request.readOnly && !file->writable())
                Throw(KIV_ERR_READ_ONLY, "Table " + path + " cannot be opened for writing");
            opened = AddTable(conn, file, request, table);
        } catch (...) {
            file->Detach();
            throw;
        }
        // The production index opens with its table.
        if (opened->type() != KIV_TABLE_NTX) {
            const std::string production =
                FindWithExtension(StripExtension(path), opened->type() == KIV_TABLE_KDT ? ".kdi" : ".cdx");
            // the production index of this table, not of another table of its stem
            if (!production.empty() && IndexFileServes(production, path)) {
                try {
                    OpenIndexFor(*opened, production, true);
                } catch (...) {
                    CloseTableHandle(*table);
                    *table = 0;
                    throw;
                }
            }
        }
        return KIV_OK;
    });
}

KIVRESULT KivCreateTable(KIVHANDLE connection, const char* name, const char* alias, uint16_t tableType,
                         uint16_t charType, uint16_t lockType, uint16_t rights, uint16_t memoBlockSize,
                         const char* fieldDefs, KIVHANDLE* table) {
    return Api("KivCreateTable", [&] {
        (void)rights;
        Out(table);
        *table = 0;
        auto* conn = Lookup<Connection>(connection);
        uint16_t type = tableType;
        if (type == KIV_TABLE_DEFAULT) type = EqualsNoCase(Extension(Text(name)), ".kdt") ? KIV_TABLE_KDT : KIV_TABLE_CDX;
        if (type > KIV_TABLE_KDT) Throw(KIV_ERR_INVALID_ARGUMENT, "Invalid table type " + std::to_string(tableType));
        auto fields = ParseFieldDefs(Text(fieldDefs), type);
        const std::string path = TablePathForCreate(conn->directory(), Text(name), type);
        auto file = TableFile::Create(path, type, std::move(fields), memoBlockSize, true);
        OpenRequest request = RequestFromOptions(charType, lockType, KIV_OPEN_EXCLUSIVE, alias, path);
        try {
            AddTable(conn, file, request, table);
        } catch (...) {
            file->Detach();
            throw;
        }
        return KIV_OK;
    });
}

KIVRESULT KivCloseTable(KIVHANDLE table) {
    return Api("KivCloseTable", [&] { return CloseTableHandle(table); });
}

KIVRESULT KivCloseAllTables(KIVHANDLE connection) {
    return Api("KivCloseAllTables", [&] {
        CloseTablesOf(*Lookup<Connection>(connection));
        return KIV_OK;
    });
}

KIVRESULT KivGetTableType(KIVHANDLE table, uint16_t* type) {
    return Api("KivGetTableType", [&] {
        *Out(type) = TableOf(table)->type();
        return KIV_OK;
    });
}

KIVRESULT KivGetTableCharType(KIVHANDLE table, uint16_t* charType) {
    return Api("KivGetTableCharType", [&] {
        *Out(charType) = TableOf(table)->request().charType;
        return KIV_OK;
    });
}

KIVRESULT KivGetTableOpenOptions(KIVHANDLE table, uint32_t* options) {
    return Api("KivGetTableOpenOptions", [&] {
        *Out(options) = TableOf(table)->OptionWord();
        return KIV_OK;
    });
}

KIVRESULT KivGetTablePrivileges(KIVHANDLE table, uint8_t* privileges) {
    return Api("KivGetTablePrivileges", [&] {
        const OpenRequest& request = TableOf(table)->request();
        *Out(privileges) = static_cast<uint8_t>(request.privileges & (request.readOnly ? 0x10u : 0xF0u));
        return KIV_OK;
    });
}

KIVRESULT KivGetTableAlias(KIVHANDLE table, char* buf, uint32_t* len) {
    return Api("KivGetTableAlias", [&] { return CopyOut(TableOf(table)->alias(), buf, len); });
}

KIVRESULT KivGetTableFilename(KIVHANDLE table, char* buf, uint32_t* len) {
    return Api("KivGetTableFilename", [&] { return CopyOut(TableOf(table)->file().path(), buf, len); });
}

KIVRESULT KivGetTableHandle(const char* name, KIVHANDLE* table) {
    return Api("KivGetTableHandle", [&] {
        Out(table);
        *table = 0;
        const std::string n = Text(name);
        for (const auto& t : OpenTables(true)) {
            if (EqualsNoCase(t->alias(), n) || EqualsNoCase(FilePart(t->file().path()), n) ||
                EqualsNoCase(StripExtension(FilePart(t->file().path())), n)) {
                *table = t->handle();
                return KIV_OK;
            }
        }
        Throw(KIV_ERR_INVALID_HANDLE, "No open table named " + n);
    });
}

KIVRESULT KivGetRecordLength(KIVHANDLE table, uint32_t* length) {
    return Api("KivGetRecordLength", [&] {
        *Out(length) = TableOf(table)->file().recordLength();
        return KIV_OK;
    });
}

KIVRESULT KivGetNumFields(KIVHANDLE table, uint32_t* count) {
    return Api("KivGetNumFields", [&] {
        *Out(count) = static_cast<uint32_t>(TableOf(table)->file().fields().size());
        return KIV_OK;
    });
}

KIVRESULT KivGetRecordCount(KIVHANDLE handle, uint16_t mode, uint32_t* count) {
    return Api("KivGetRecordCount", [&] {
        Out(count);
        if (auto st = StatementOf(handle)) {
            // On a statement: the rows its last execution changed.
            if (st->rowsAffected < 0) Throw(KIV_ERR_NO_ROW_COUNT);
            *count = static_cast<uint32_t>(st->rowsAffected);
            return KIV_OK;
        }
        auto t = TableOf(handle);
        t->ReadWholeResult();
        if (mode == KIV_COUNT_CARDINALITY || mode == KIV_COUNT_CARDINALITY_SMALL) {
            *count = t->file().Count(true);
            return KIV_OK;
        }
        switch (mode == KIV_COUNT_FRESH ? KIV_COUNT_IGNORE_FILTERS : mode & 3u) {
            case KIV_COUNT_IGNORE_FILTERS: *count = t->file().Count(true); break;
            case KIV_COUNT_RESPECT_FILTERS:
            case KIV_COUNT_RESPECT_SCOPES: *count = t->CountVisible(); break;
            default: Throw(KIV_ERR_INVALID_ARGUMENT, "Invalid record count mode " + std::to_string(mode));
        }
        return KIV_OK;
    });
}

KIVRESULT KivPackTable(KIVHANDLE table) {
    return Api("KivPackTable", [&] {
        auto t = TableOf(table);
        RefuseInTransaction(*t, "packed");
        t->Flush();
        t->file().Pack();
        t->GoTop();
        return KIV_OK;
    });
}

KIVRESULT KivZapTable(KIVHANDLE table) {
    return Api("KivZapTable", [&] {
        auto t = TableOf(table);
        RefuseInTransaction(*t, "emptied");
        if (!t->file().exclusive())
            Throw(KIV_ERR_SHARING, "Table " + t->alias() + " must be opened exclusively to remove all records");
        t->Cancel();
        t->file().Zap();
        t->GoTop();
        return KIV_OK;
    });
}

KIVRESULT KivCopyTableContents(KIVHANDLE source, KIVHANDLE target, uint16_t) {
    return Api("KivCopyTableContents", [&] {
        auto s = TableOf(source);
        auto t = TableOf(target);
        if (s == t) Throw(KIV_ERR_INVALID_ARGUMENT, "A table cannot be copied into itself");
        CopyRecords(*s, *t);
        return KIV_OK;
    });
}

KIVRESULT KivConvertTable(KIVHANDLE table, uint16_t, const char* newName, uint16_t tableType) {
    return Api("KivConvertTable", [&] {
        auto s = TableOf(table);
        if (tableType < KIV_TABLE_NTX || tableType > KIV_TABLE_KDT)
            Throw(KIV_ERR_INVALID_ARGUMENT, "Invalid table type " + std::to_string(tableType));
        std::vector<FieldDef> fields = s->file().fields();
        const std::string path = TablePathForCreate(DirectoryPart(s->file().path()), Text(newName), tableType);
        auto file = TableFile::Create(path, tableType, std::move(fields), 0, true);
        OpenRequest request;
        request.exclusive = true;
        request.charType = s->request().charType;
        request.alias = "CONVERT";
        Table target(s->connection(), file, request);
        CopyRecords(*s, target);
        target.Close();
        return KIV_OK;
    });
}

KIVRESULT KivCacheRecords(KIVHANDLE table, uint16_t count) {
    return Api("KivCacheRecords", [&] {
        TableOf(table)->SetReadAhead(count);
        return KIV_OK;
    });
}

KIVRESULT KivIsTableEncrypted(KIVHANDLE table, uint16_t* encrypted) {
    return Api("KivIsTableEncrypted", [&] {
        *Out(encrypted) = TableOf(table)->file().encrypted() ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivIsEncryptionEnabled(KIVHANDLE table, uint16_t* enabled) {
    return Api("KivIsEncryptionEnabled", [&] {
        *Out(enabled) = TableOf(table)->file().hasKey() ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivEnableEncryption(KIVHANDLE table, const char* password) {
    return Api("KivEnableEncryption", [&] {
        auto t = TableOf(table);
        t->file().SetKey(Text(password));
        if (t->haveRecord() && !t->dirty()) t->Refresh();
        return KIV_OK;
    });
}

KIVRESULT KivDisableEncryption(KIVHANDLE table) {
    return Api("KivDisableEncryption", [&] {
        TableOf(table)->file().ClearKey();
        return KIV_OK;
    });
}

static KIVRESULT RewriteTable(KIVHANDLE table, bool encrypt) {
    auto t = TableOf(table);
    t->Flush();
    t->file().Rewrite(encrypt);
    t->GoTop();
    return KIV_OK;
}

KIVRESULT KivEncryptTable(KIVHANDLE table) {
    return Api("KivEncryptTable", [&] { return RewriteTable(table, true); });
}

KIVRESULT KivDecryptTable(KIVHANDLE table) {
    return Api("KivDecryptTable", [&] { return RewriteTable(table, false); });
}

// ------------------------------------------------------------ field definitions

KIVRESULT KivGetFieldName(KIVHANDLE table, uint32_t fieldNumber, char* buf, uint32_t* len) {
    return Api("KivGetFieldName", [&] {
        return CopyOut(TableOf(table)->Field(KIV_FIELD(fieldNumber)).name, buf, len);
    });
}

KIVRESULT KivGetFieldType(KIVHANDLE table, KIVFIELD field, uint16_t* type) {
    return Api("KivGetFieldType", [&] {
        *Out(type) = TableOf(table)->Field(field).type;
        return KIV_OK;
    });
}

KIVRESULT KivGetFieldLength(KIVHANDLE table, KIVFIELD field, uint32_t* length) {
    return Api("KivGetFieldLength", [&] {
        *Out(length) = TableOf(table)->Field(field).length;
        return KIV_OK;
    });
}

KIVRESULT KivGetFieldMaxLength(KIVHANDLE table, KIVFIELD field, uint32_t* length) {
    return Api("KivGetFieldMaxLength", [&] {
        const auto& f = TableOf(table)->Field(field);
        *Out(length) = f.type == KIV_FT_VARCHAR ? f.maxLength : f.length;
        return KIV_OK;
    });
}

KIVRESULT KivGetFieldDecimals(KIVHANDLE table, KIVFIELD field, uint16_t* decimals) {
    return Api("KivGetFieldDecimals", [&] {
        *Out(decimals) = TableOf(table)->Field(field).decimals;
        return KIV_OK;
    });
}

KIVRESULT KivGetFieldOffset(KIVHANDLE table, KIVFIELD field, uint32_t* offset) {
    return Api("KivGetFieldOffset", [&] {
        *Out(offset) = TableOf(table)->Field(field).offset;
        return KIV_OK;
    });
}

KIVRESULT KivGetColumnPermissions(KIVHANDLE table, KIVFIELD field, uint8_t* permissions) {
    return Api("KivGetColumnPermissions", [&] {
        auto t = TableOf(table);
        const FieldDef& f = t->Field(field);
        uint8_t bits = KIV_COLPERM_SELECT;
        const bool automatic = f.type == KIV_FT_ROWVERSION || f.type == KIV_FT_MODTIME;
        if (!t->request().readOnly && !automatic) {
            if (t->request().privileges & 0x20) bits |= KIV_COLPERM_UPDATE;
            if (t->request().privileges & 0x40) bits |= KIV_COLPERM_INSERT;
        }
        *Out(permissions) = bits;
        return KIV_OK;
    });
}

KIVRESULT KivGetMemoDataType(KIVHANDLE table, KIVFIELD field, uint16_t* type) {
    return Api("KivGetMemoDataType", [&] {
        const FieldDef& f = TableOf(table)->Field(field);
        if (!IsBlobType(f.type)) Throw(KIV_ERR_NOT_APPLICABLE, "Field " + f.name + " is not a memo field");
        *Out(type) = (f.type == KIV_FT_MEMO || f.type == KIV_FT_VARCHAR) ? KIV_MEMO_TEXT : KIV_MEMO_BINARY;
        return KIV_OK;
    });
}

// ------------------------------------------------------------ values

KIVRESULT KivGetRecord(KIVHANDLE table, void* buf, uint32_t* len) {
    return Api("KivGetRecord", [&] {
        auto t = TableOf(table);
        t->RequireRecord();
        const auto& image = t->image();
        return CopyOutBytes(std::string_view(reinterpret_cast<const char*>(image.data()), image.size()), buf, len);
    });
}

KIVRESULT KivSetRecord(KIVHANDLE table, const void* buf, uint32_t len) {
    return Api("KivSetRecord", [&] {
        if (!buf && len) Throw(KIV_ERR_INVALID_ARGUMENT, "No record image given");
        TableOf(table)->SetRecordImage(std::string_view(static_cast<const char*>(buf), len));
        return KIV_OK;
    });
}

KIVRESULT KivGetField(KIVHANDLE table, KIVFIELD field, char* buf, uint32_t* len, uint16_t option) {
    return Api("KivGetField", [&] {
        auto t = TableOf(table);
        int i;
        const FieldDef& f = t->Field(field, &i);
        t->RequireRecord();
        if ((f.type == KIV_FT_CHARACTER || f.type == KIV_FT_CICHARACTER) && t->request().charType == KIV_CHAR_ANSI &&
            !IsForeignCodePage(t->file().codePage()) &&
            (IsDbfType(t->type()) || !IsEmptyImage(f, t->image().data(), t->type()))) {
            // Character data straight from the record buffer, where it is stored in the caller's page.
            std::string_view text(reinterpret_cast<const char*>(t->image().data()) + f.offset, f.length);
            if (option == 1)
                while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
            return CopyOut(text, buf, len);
        }
        if (f.type == KIV_FT_NUMERIC && IsDbfType(t->type()) && !IsEmptyImage(f, t->image().data(), t->type())) {
            // Numeric text straight from the record buffer, once it reads as a number.
            std::string_view text(reinterpret_cast<const char*>(t->image().data()) + f.offset, f.length);
            double ignored;
            if (ParseNumericText(text, ignored)) {
                if (option == 1)
                    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
                return CopyOut(text, buf, len);
            }
        }
        return CopyOut(t->GetText(i, option == 1), buf, len);
    });
}

KIVRESULT KivSetField(KIVHANDLE handle, KIVFIELD field, const void* data, uint32_t len) {
    return Api("KivSetField", [&] {
        KIVRESULT rc;
        const Value text = Value::OfText(std::string_view(static_cast<const char*>(data), data ? len : 0));
        if (SetRawKeyField(handle, field, &text, {}, false, rc)) return rc;
        if (auto st = StatementOf(handle)) {
            st->SetParameter(field, Value::OfText(std::string_view(static_cast<const char*>(data), data ? len : 0)));
            return KIV_OK;
        }
        auto t = TableOf(handle);
        const int i = FieldIndexOf(*t, field);
        return t->SetBytes(i, std::string_view(static_cast<const char*>(data), data ? len : 0));
    });
}

KIVRESULT KivSetFieldRaw(KIVHANDLE handle, KIVFIELD field, const void* data, uint32_t len) {
    return Api("KivSetFieldRaw", [&] {
        KIVRESULT rc;
        if (SetRawKeyField(handle, field, nullptr, std::string_view(static_cast<const char*>(data), data ? len : 0),
                           false, rc))
            return rc;
        auto t = TableOf(handle);
        const int i = FieldIndexOf(*t, field);
        return t->SetRaw(i, std::string_view(static_cast<const char*>(data), data ? len : 0));
    });
}

KIVRESULT KivSetEmpty(KIVHANDLE handle, KIVFIELD field) {
    return Api("KivSetEmpty", [&] {
        KIVRESULT rc;
        if (SetRawKeyField(handle, field, nullptr, {}, true, rc)) return rc;
        if (auto st = StatementOf(handle)) {
            st->SetParameter(field, Value::Empty());
            return KIV_OK;
        }
        auto t = TableOf(handle);
        t->SetEmpty(FieldIndexOf(*t, field));
        return KIV_OK;
    });
}

KIVRESULT KivIsEmpty(KIVHANDLE table, KIVFIELD field, uint16_t* empty) {
    return Api("KivIsEmpty", [&] {
        auto t = TableOf(table);
        *Out(empty) = t->IsEmpty(FieldIndexOf(*t, field)) ? 1 : 0;
        return KIV_OK;
    });
}

static KIVRESULT BlobLengthOf(KIVHANDLE table, KIVFIELD field, uint32_t* length) {
    auto t = TableOf(table);
    int i;
    const FieldDef& f = t->Field(field, &i);
    if (!IsBlobType(f.type)) Throw(KIV_ERR_NOT_APPLICABLE, "Field " + f.name + " is not a memo field");
    *Out(length) = t->BlobLength(i);
    return KIV_OK;
}

KIVRESULT KivGetMemoLength(KIVHANDLE table, KIVFIELD field, uint32_t* length) {
    return Api("KivGetMemoLength", [&] { return BlobLengthOf(table, field, length); });
}

KIVRESULT KivGetBinaryLength(KIVHANDLE table, KIVFIELD field, uint32_t* length) {
    return Api("KivGetBinaryLength", [&] { return BlobLengthOf(table, field, length); });
}

KIVRESULT KivGetBinary(KIVHANDLE table, KIVFIELD field, uint32_t offset, void* buf, uint32_t* len) {
    return Api("KivGetBinary", [&] {
        auto t = TableOf(table);
        int i;
        const FieldDef& f = t->Field(field, &i);
        std::string data = IsBlobType(f.type) ? t->GetBlob(i) : t->GetText(i, false);
        if (offset > data.size() || (offset == data.size() && offset > 0))
            Throw(KIV_ERR_OFFSET_BEYOND, "Offset " + std::to_string(offset) + " is beyond the value of " + f.name);
        return CopyOutBytes(std::string_view(data).substr(offset), buf, len);
    });
}

KIVRESULT KivSetBinary(KIVHANDLE handle, KIVFIELD field, uint16_t kind, uint32_t totalSize, uint32_t offset,
                       const void* data, uint32_t len) {
    return Api("KivSetBinary", [&] {
        (void)kind;
        const std::string_view bytes(static_cast<const char*>(data), data ? len : 0);
        if (auto st = StatementOf(handle)) {
            if (offset) Throw(KIV_ERR_INVALID_ARGUMENT, "Parameters take their whole value at once");
            st->SetParameter(field, Value::OfBytes(bytes));
            return KIV_OK;
        }
        auto t = TableOf(handle);
        int i;
        const FieldDef& f = t->Field(field, &i);
        const std::string_view piece(static_cast<const char*>(data), data ? len : 0);
        if (f.type == KIV_FT_RAW) return t->SetRaw(i, piece);
        if (!IsBlobType(f.type)) return t->SetBytes(i, piece);
        std::string value = offset ? t->GetBlob(i) : std::string();
        if (offset > value.size()) Throw(KIV_ERR_OFFSET_BEYOND, "Offset is beyond the value of " + f.name);
        value.resize(offset);
        value.append(piece);
        if (totalSize && value.size() > totalSize) value.resize(totalSize);
        return t->SetBytes(i, value);
    });
}

KIVRESULT KivSetString(KIVHANDLE handle, KIVFIELD field, const char* text, uint32_t len) {
    return Api("KivSetString", [&] {
        if (auto st = StatementOf(handle)) {
            st->SetParameter(field, Value::OfText(std::string_view(text ? text : "", text ? len : 0)));
            return KIV_OK;
        }
        auto t = TableOf(handle);
        return t->SetBytes(FieldIndexOf(*t, field), std::string_view(text ? text : "", text ? len : 0));
    });
}

static KIVRESULT SetTyped(const char* function, KIVHANDLE handle, KIVFIELD field, const Value& v) {
    return Api(function, [&] {
        if (auto st = StatementOf(handle)) {
            st->SetParameter(field, v);
            return KIV_OK;
        }
        auto t = TableOf(handle);
        return t->SetValue(FieldIndexOf(*t, field), v);
    });
}

KIVRESULT KivSetDouble(KIVHANDLE handle, KIVFIELD field, double value) {
    return SetTyped("KivSetDouble", handle, field, Value::OfNumber(value));
}

KIVRESULT KivSetLogical(KIVHANDLE handle, KIVFIELD field, uint16_t value) {
    return SetTyped("KivSetLogical", handle, field, Value::OfLogical(value != 0));
}

KIVRESULT KivSetLong(KIVHANDLE handle, KIVFIELD field, int32_t value) {
    return SetTyped("KivSetLong", handle, field, Value::OfInteger(value));
}

KIVRESULT KivSetJulian(KIVHANDLE handle, KIVFIELD field, int32_t julianDay) {
    return SetTyped("KivSetJulian", handle, field, Value::OfDate(julianDay));
}

KIVRESULT KivSetMilliseconds(KIVHANDLE handle, KIVFIELD field, int32_t ms) {
    return SetTyped("KivSetMilliseconds", handle, field, Value::OfTime(ms));
}

KIVRESULT KivSetTimeStampRaw(KIVHANDLE handle, KIVFIELD field, const void* raw8) {
    uint32_t parts[2] = {0, 0};
    if (raw8) std::memcpy(parts, raw8, 8);
    return SetTyped("KivSetTimeStampRaw", handle, field,
                    Value::OfStamp(static_cast<int32_t>(parts[0]), static_cast<int32_t>(parts[1])));
}

static Value IsoValue(const char* text, uint32_t len, int what) {
    const std::string t(text ? text : "", text ? strnlen(text, len) : 0);
    int y, m, d;
    auto isoDate = [&](std::string_view s, int32_t& jd) {
        if (s.size() < 10 || std::sscanf(std::string(s.substr(0, 10)).c_str(), "%4d-%2d-%2d", &y, &m, &d) != 3 ||
            !ValidYmd(y, m, d))
            Throw(KIV_ERR_CONVERSION, "\"" + std::string(s) + "\" is not a date");
        jd = JulianFromYmd(y, m, d);
    };
    auto isoTime = [&](std::string_view s) {
        auto ms = ParseTime(s);
        if (!ms) Throw(KIV_ERR_CONVERSION, "\"" + std::string(s) + "\" is not a time");
        return *ms;
    };
    int32_t jd = 0;
    if (what == 0) {
        isoDate(t, jd);
        return Value::OfDate(jd);
    }
    if (what == 1) return Value::OfTime(isoTime(t));
    isoDate(t, jd);
    const std::string rest = t.size() > 11 ? t.substr(11) : std::string();
    return Value::OfStamp(jd, rest.empty() ? 0 : isoTime(rest));
}

KIVRESULT KivSetDateText(KIVHANDLE handle, KIVFIELD field, const char* text, uint32_t len) {
    return Api("KivSetDateText", [&] {
        if (auto st = StatementOf(handle)) {
            st->SetParameter(field, IsoValue(text, len, 0));
            return KIV_OK;
        }
        auto t = TableOf(handle);
        return t->SetValue(FieldIndexOf(*t, field), IsoValue(text, len, 0));
    });
}

KIVRESULT KivSetTimeText(KIVHANDLE handle, KIVFIELD field, const char* text, uint32_t len) {
    return Api("KivSetTimeText", [&] {
        if (auto st = StatementOf(handle)) {
            st->SetParameter(field, IsoValue(text, len, 1));
            return KIV_OK;
        }
        auto t = TableOf(handle);
        return t->SetValue(FieldIndexOf(*t, field), IsoValue(text, len, 1));
    });
}

KIVRESULT KivSetTimeStampText(KIVHANDLE handle, KIVFIELD field, const char* text, uint32_t len) {
    return Api("KivSetTimeStampText", [&] {
        if (auto st = StatementOf(handle)) {
            st->SetParameter(field, IsoValue(text, len, 2));
            return KIV_OK;
        }
        auto t = TableOf(handle);
        return t->SetValue(FieldIndexOf(*t, field), IsoValue(text, len, 2));
    });
}

static Value ValueOf(KIVHANDLE table, KIVFIELD field) {
    auto* t = TableOf(table);
    return t->GetValue(FieldIndexOf(*t, field));
}

// Numbers and dates read straight from the record buffer when the type
// allows; other types go through their text form.
static bool FastNumber(KIVHANDLE table, KIVFIELD field, double& out) {
    auto* t = TableOf(table);
    const FieldDef& f = t->Field(field);
    t->RequireRecord();
    return !IsBlobType(f.type) && DecodeNumber(f, t->image().data(), t->type(), out);
}

KIVRESULT KivGetDouble(KIVHANDLE table, KIVFIELD field, double* value) {
    return Api("KivGetDouble", [&] {
        double d = 0;
        if (!FastNumber(table, field, d)) {
            const Value v = ValueOf(table, field);
            if (v.kind == Value::Kind::Date || v.kind == Value::Kind::Stamp) d = v.julian;
            else if (v.kind == Value::Kind::Time) d = v.ms;
            else if (!ValueToDouble(v, d)) Throw(KIV_ERR_CONVERSION, "Value is not numeric");
        }
        *Out(value) = d;
        return KIV_OK;
    });
}

KIVRESULT KivGetLogical(KIVHANDLE table, KIVFIELD field, uint16_t* value) {
    return Api("KivGetLogical", [&] {
        double d = 0;
        if (!FastNumber(table, field, d)) {
            const Value v = ValueOf(table, field);
            if (v.kind == Value::Kind::Logical) d = v.logical;
            else if (!ValueToDouble(v, d)) Throw(KIV_ERR_CONVERSION, "Value is not logical");
        }
        *Out(value) = d != 0 ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivGetLong(KIVHANDLE table, KIVFIELD field, int32_t* value) {
    return Api("KivGetLong", [&] {
        double d = 0;
        if (!FastNumber(table, field, d)) {
            const Value v = ValueOf(table, field);
            if (v.kind == Value::Kind::Date || v.kind == Value::Kind::Stamp) d = v.julian;
            else if (v.kind == Value::Kind::Time) d = v.ms;
            else if (!ValueToDouble(v, d)) Throw(KIV_ERR_CONVERSION, "Value is not numeric");
        }
        if (d < -2147483648.0 || d > 2147483647.0) Throw(KIV_ERR_INT_RANGE, "Value does not fit 32 bits");
        *Out(value) = static_cast<int32_t>(d < 0 ? d - 0.5 : d + 0.5);
        return KIV_OK;
    });
}

KIVRESULT KivGetJulian(KIVHANDLE table, KIVFIELD field, int32_t* julianDay) {
    return Api("KivGetJulian", [&] {
        auto* t = TableOf(table);
        const FieldDef& f = t->Field(field);
        t->RequireRecord();
        int32_t jd = 0;
        if (!DecodeJulian(f, t->image().data(), t->type(), jd)) {
            const Value v = ValueOf(table, field);
            if (v.kind == Value::Kind::Text) {
                auto p = ParseDate(v.text);
                if (!p) Throw(KIV_ERR_CONVERSION, "Value is not a date");
                jd = *p;
            } else if (v.kind != Value::Kind::Empty) {
                Throw(KIV_ERR_CONVERSION, "Value is not a date");
            }
        }
        *Out(julianDay) = jd;
        return KIV_OK;
    });
}

KIVRESULT KivGetMilliseconds(KIVHANDLE table, KIVFIELD field, int32_t* ms) {
    return Api("KivGetMilliseconds", [&] {
        const Value v = ValueOf(table, field);
        int32_t out = 0;
        if (v.kind == Value::Kind::Time || v.kind == Value::Kind::Stamp) out = v.ms;
        else if (v.kind == Value::Kind::Text) {
            auto p = ParseTime(v.text);
            if (!p) Throw(KIV_ERR_CONVERSION, "Value is not a time");
            out = *p;
        } else if (v.kind != Value::Kind::Empty) Throw(KIV_ERR_CONVERSION, "Value is not a time");
        *Out(ms) = out;
        return KIV_OK;
    });
}

static KIVRESULT BlankImageOut(KIVHANDLE table, void* buf, uint32_t len) {
    auto t = TableOf(table);
    if (!buf) Throw(KIV_ERR_INVALID_ARGUMENT, "No buffer given");
    const std::vector<uint8_t> blank = t->file().BlankImage();
    std::memcpy(buf, blank.data(), std::min<size_t>(len, blank.size()));
    return len < blank.size() ? KIV_ERR_BUFFER_TOO_SMALL : KIV_OK;
}

KIVRESULT KivClearRecordBuffer(KIVHANDLE table, void* buf, uint32_t len) {
    return Api("KivClearRecordBuffer", [&] { return BlankImageOut(table, buf, len); });
}

KIVRESULT KivGetNullRecord(KIVHANDLE table, void* buf, uint32_t len) {
    return Api("KivGetNullRecord", [&] { return BlankImageOut(table, buf, len); });
}

KIVRESULT KivGetLastAutoinc(KIVHANDLE handle, uint32_t* value) {
    return Api("KivGetLastAutoinc", [&] {
        if (auto st = StatementOf(handle)) {
            *Out(value) = st->lastAutoinc;
            return KIV_OK;
        }
        *Out(value) = TableOf(handle)->lastAutoinc();
        return KIV_OK;
    });
}

KIVRESULT KivGetRecordCRC(KIVHANDLE table, uint32_t* crc, uint32_t) {
    return Api("KivGetRecordCRC", [&] {
        auto t = TableOf(table);
        t->RequireRecord();
        std::vector<uint8_t> stored(t->file().recordLength());
        if (t->file().ReadRecords(t->recno(), 1, stored.data()) != 1)
            Throw(KIV_ERR_NO_SUCH_RECORD, "Record " + std::to_string(t->recno()) + " cannot be read");
        *Out(crc) = Crc32(stored.data(), stored.size());
        return KIV_OK;
    });
}

// ------------------------------------------------------------ editing and locks

KIVRESULT KivAppendRecord(KIVHANDLE table) {
    return Api("KivAppendRecord", [&] {
        TableOf(table)->Append();
        return KIV_OK;
    });
}

KIVRESULT KivWriteRecord(KIVHANDLE table) {
    return Api("KivWriteRecord", [&] {
        TableOf(table)->Flush();
        return KIV_OK;
    });
}

KIVRESULT KivWriteAllRecords(void) {
    return Api("KivWriteAllRecords", [&] {
        KIVRESULT first = KIV_OK;
        std::string text;
        for (const auto& t : OpenTables(true)) {
            try {
                t->Flush();
            } catch (const EngineError& e) {
                if (!first) {
                    first = e.code();
                    text = e.what();
                }
            }
        }
        if (first) Throw(first, text);
        return KIV_OK;
    });
}

KIVRESULT KivDeleteRecord(KIVHANDLE table) {
    return Api("KivDeleteRecord", [&] {
        TableOf(table)->Delete(true);
        return KIV_OK;
    });
}

KIVRESULT KivRecallRecord(KIVHANDLE table) {
    return Api("KivRecallRecord", [&] {
        TableOf(table)->Delete(false);
        return KIV_OK;
    });
}

KIVRESULT KivIsRecordDeleted(KIVHANDLE table, uint16_t* deleted) {
    return Api("KivIsRecordDeleted", [&] {
        auto t = TableOf(table);
        t->RequireRecord();
        *Out(deleted) = t->image()[0] == '*' ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivCancelUpdate(KIVHANDLE table) {
    return Api("KivCancelUpdate", [&] { return TableOf(table)->Cancel(); });
}

KIVRESULT KivRefreshRecord(KIVHANDLE table) {
    return Api("KivRefreshRecord", [&] {
        TableOf(table)->Refresh();
        return KIV_OK;
    });
}

KIVRESULT KivLockRecord(KIVHANDLE table, uint32_t recordNumber) {
    return Api("KivLockRecord", [&] {
        TableOf(table)->LockRecord(recordNumber);
        return KIV_OK;
    });
}

KIVRESULT KivUnlockRecord(KIVHANDLE table, uint32_t recordNumber) {
    return Api("KivUnlockRecord", [&] {
        TableOf(table)->UnlockRecord(recordNumber);
        return KIV_OK;
    });
}

KIVRESULT KivLockTable(KIVHANDLE table) {
    return Api("KivLockTable", [&] {
        TableOf(table)->LockTable();
        return KIV_OK;
    });
}

KIVRESULT KivUnlockTable(KIVHANDLE table) {
    return Api("KivUnlockTable", [&] {
        TableOf(table)->UnlockAll();
        return KIV_OK;
    });
}

// ------------------------------------------------------------ navigation

KIVRESULT KivGotoTop(KIVHANDLE nav) {
    return Api("KivGotoTop", [&] {
        NavigationOf(nav)->GoTop();
        return KIV_OK;
    });
}

KIVRESULT KivGotoBottom(KIVHANDLE nav) {
    return Api("KivGotoBottom", [&] {
        NavigationOf(nav)->GoBottom();
        return KIV_OK;
    });
}

KIVRESULT KivGotoBOF(KIVHANDLE nav) {
    return Api("KivGotoBOF", [&] {
        NavigationOf(nav)->GoBOF();
        return KIV_OK;
    });
}

KIVRESULT KivGotoRecord(KIVHANDLE table, uint32_t recordNumber) {
    return Api("KivGotoRecord", [&] {
        TableOf(table)->GoTo(recordNumber);
        return KIV_OK;
    });
}

KIVRESULT KivSkip(KIVHANDLE nav, int32_t count) {
    return Api("KivSkip", [&] {
        NavigationOf(nav)->Skip(count);
        return KIV_OK;
    });
}

KIVRESULT KivAtBOF(KIVHANDLE table, uint16_t* bof) {
    return Api("KivAtBOF", [&] {
        *Out(bof) = TableOf(table)->bof() ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivAtEOF(KIVHANDLE table, uint16_t* eof) {
    return Api("KivAtEOF", [&] {
        *Out(eof) = TableOf(table)->eof() ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivGetRecordNum(KIVHANDLE table, uint16_t, uint32_t* recordNumber) {
    return Api("KivGetRecordNum", [&] {
        *Out(recordNumber) = TableOf(table)->recno();
        return KIV_OK;
    });
}

KIVRESULT KivGetBookmark(KIVHANDLE table, uint32_t* position) {
    return Api("KivGetBookmark", [&] {
        *Out(position) = TableOf(table)->recno();
        return KIV_OK;
    });
}

KIVRESULT KivGetBookmark60(KIVHANDLE nav, void* buf, uint32_t* len) {
    return Api("KivGetBookmark60", [&] {
        const uint32_t recno = TableOf(nav)->recno();
        return CopyOutBytes(std::string_view(reinterpret_cast<const char*>(&recno), 4), buf, len);
    });
}

KIVRESULT KivGetBookmarkLength(KIVHANDLE nav, uint32_t* length) {
    return Api("KivGetBookmarkLength", [&] {
        TableOf(nav);
        *Out(length) = 4;
        return KIV_OK;
    });
}

KIVRESULT KivGotoBookmark(KIVHANDLE table, uint32_t position) {
    return Api("KivGotoBookmark", [&] {
        TableOf(table)->GoTo(position);
        return KIV_OK;
    });
}

KIVRESULT KivCompareBookmarks(const void* bookmark1, const void* bookmark2, int32_t* cmp) {
    return Api("KivCompareBookmarks", [&] {
        if (!bookmark1 || !bookmark2) Throw(KIV_ERR_INVALID_ARGUMENT, "Missing bookmark");
        uint32_t a, b;
        std::memcpy(&a, bookmark1, 4);
        std::memcpy(&b, bookmark2, 4);
        *Out(cmp) = a < b ? -1 : a > b ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivIsRecordVisible(KIVHANDLE nav, uint16_t* visible) {
    return Api("KivIsRecordVisible", [&] {
        auto t = TableOf(nav);
        t->RequireRecord();
        *Out(visible) = t->CurrentVisible() ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivIsFound(KIVHANDLE table, uint16_t* found) {
    return Api("KivIsFound", [&] {
        *Out(found) = TableOf(table)->found ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivClearRelation(KIVHANDLE table) {
    return Api("KivClearRelation", [&] {
        TableOf(table);
        return KIV_OK;  // relations are not supported: there is never one to clear
    });
}

}  // extern "C"
