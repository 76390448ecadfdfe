// Entry points: indexes, keys and seeking, scopes, filters, expressions, locate.
#include <cmath>
#include <cstring>

#include "api.h"
#include "api_index.h"
#include "paths.h"

namespace qel32 {

namespace {

IndexHandle* IndexFor(KIVHANDLE handle) {
    IndexHandle* index = IndexOf(handle);
    if (!index) Throw(KIV_ERR_INVALID_HANDLE, "Invalid index handle " + std::to_string(handle));
    return index;
}

// The order a seek or key call works in: an index handle's, or the index
// order a table handle navigates in.
IndexHandle* OrderFor(KIVHANDLE handle) {
    if (IndexHandle* index = IndexOf(handle)) {
        index->table.UseOrder(index);
        return index;
    }
    Table* table = TableOf(handle);
    if (auto* index = dynamic_cast<IndexHandle*>(table->order())) return index;
    Throw(KIV_ERR_NOT_APPLICABLE, "Table " + table->alias() + " is in natural order: no index to use");
}

std::unique_ptr<Expression> ParseFor(Table& table, const char* text) {
    const std::string t = Text(text);
    if (t.find_first_not_of(' ') == std::string::npos) Throw(KIV_ERR_EMPTY_ARGUMENT, "No expression given");
    ImageSource fields(table.file(), nullptr, 0);
    return Expression::Parse(t, fields);
}

const char* IndexExtension(uint16_t tableType) {
    return tableType == KIV_TABLE_NTX ? ".ntx" : tableType == KIV_TABLE_KDT ? ".kdi" : ".cdx";
}

std::string IndexPath(Table& table, const std::string& given) {
    const std::string dir = DirectoryPart(table.file().path());
    std::string path = MapPath(given.empty() ? StripExtension(FilePart(table.file().path())) : given, dir);
    if (Extension(FilePart(path)).empty()) {
        const std::string found = FindWithExtension(path, IndexExtension(table.type()));
        if (!found.empty()) return found;
        const std::string stem = FilePart(path);
        bool upper = false;
        for (char c : stem) upper = upper || std::isupper(static_cast<unsigned char>(c));
        return path + (upper ? Upper(IndexExtension(table.type())) : std::string(IndexExtension(table.type())));
    }
    return path;
}

// Every index handle of a table, files in numbering order.
std::vector<KIVHANDLE> AllIndexes(Table& table) {
    std::vector<KIVHANDLE> out;
    for (const auto& open : table.openIndexes) out.insert(out.end(), open.handles.begin(), open.handles.end());
    return out;
}

// The key bytes a caller passes: raw key bytes, or a text to convert.
std::string KeyBytes(const Tag& tag, const void* key, uint32_t length, uint16_t dataType) {
    const std::string_view given(static_cast<const char*>(key), key ? length : 0);
    if (dataType == KIV_KEY_RAW) return std::string(given.substr(0, std::min<size_t>(given.size(), tag.keyLength())));
    return tag.key().KeyFromText(given.substr(0, std::min<size_t>(given.size(), given.find('\0'))));
}

bool HasPrefix(std::string_view key, std::string_view prefix) { return key.substr(0, prefix.size()) == prefix; }

KIVRESULT Seek(KIVHANDLE nav, const void* key, uint32_t keyLength, uint16_t dataType, uint16_t seekType, bool last,
               uint16_t* found) {
    Out(found);
    IndexHandle* index = OrderFor(nav);
    Table& table = index->table;
    const std::string stored = index->tag.Stored(KeyBytes(index->tag, key, keyLength, dataType));
    const uint32_t size = index->Size(table.file(), true);  // brings the order up to date first
    const uint32_t first = index->First();
    bool hit = false;
    if (last) {
        const uint32_t end = index->tag.UpperBoundPrefix(stored);  // one past the last entry with the key
        if (end > first && end - first <= size && table.MoveBackTo(end - first)) {
            hit = HasPrefix(index->tag.KeyAt(first + table.position() - 1), stored);
        }
        if (!hit) table.SetEofPublic();
    } else {
        const uint32_t at = std::max(index->tag.LowerBound(stored), first);
        if (table.MoveTo(at - first + 1)) {
            hit = HasPrefix(index->tag.KeyAt(first + table.position() - 1), stored);
            if (!hit && seekType != KIV_SEEK_SOFT) table.SetEofPublic();
        }
    }
    table.found = hit;
    *found = hit ? 1 : 0;
    return KIV_OK;
}

KIVRESULT SetCondition(const char* function, KIVHANDLE handle, const char* expression,
                       std::unique_ptr<Expression> Table::*slot) {
    return Api(function, [&] {
        Table* table = TableOf(handle);
        auto parsed = ParseFor(*table, expression);
        if (parsed->type() != XValue::Type::Logical)
            Throw(KIV_ERR_EXPRESSION, "The condition \"" + Text(expression) + "\" is not logical");
        table->*slot = std::move(parsed);
        return KIV_OK;
    });
}

KIVRESULT GetCondition(const char* function, KIVHANDLE handle, char* buf, uint32_t* len,
                       std::unique_ptr<Expression> Table::*slot) {
    return Api(function, [&] {
        Table* table = TableOf(handle);
        if (!(table->*slot)) {
            if (len) *len = 0;
            Throw(KIV_ERR_NO_FILTER, "No condition is set");
        }
        return CopyOut((table->*slot)->text(), buf, len);
    });
}

KIVRESULT ClearCondition(const char* function, KIVHANDLE handle, std::unique_ptr<Expression> Table::*slot) {
    return Api(function, [&] {
        Table* table = TableOf(handle);
        if (!(table->*slot)) Throw(KIV_ERR_NO_FILTER, "No condition is set");
        (table->*slot).reset();
        return KIV_OK;
    });
}

// Scans forward from the current record for one the locate condition holds for.
bool LocateFromHere(Table& table) {
    while (!table.eof()) {
        if (table.haveRecord()) {
            auto source = table.Source();
            if (table.locateCondition->EvaluateLogical(source, table.exact)) return true;
        }
        table.Skip(1);
    }
    return false;
}

}  // namespace

Table::OpenIndexFile& OpenIndexFor(Table& table, const std::string& path, bool automatic) {
    for (auto it = table.openIndexes.begin(); it != table.openIndexes.end(); ++it) {
        if (it->file->path() != path) continue;
        if (automatic || !it->automatic) return *it;
        // Opening the production index by name moves it among the named files.
        Table::OpenIndexFile entry = std::move(*it);
        table.openIndexes.erase(it);
        entry.automatic = false;
        auto pos = table.openIndexes.begin();
        while (pos != table.openIndexes.end() && !pos->automatic) ++pos;
        return *table.openIndexes.insert(pos, std::move(entry));
    }
    IndexFile* file = table.file().OpenIndex(path);
    Table::OpenIndexFile entry{file, automatic, {}};
    for (auto& tag : file->tags())
        entry.handles.push_back(HandleTable::Instance().Add(std::make_shared<IndexHandle>(table, *file, *tag)));
    auto pos = table.openIndexes.begin();
    if (!automatic)
        while (pos != table.openIndexes.end() && !pos->automatic) ++pos;
    else
        pos = table.openIndexes.end();
    return *table.openIndexes.insert(pos, std::move(entry));
}

}  // namespace qel32

using namespace qel32;

extern "C" {

// ------------------------------------------------------------ index files and orders

KIVRESULT KivOpenIndex(KIVHANDLE table, const char* path, KIVHANDLE* handles, uint16_t* count) {
    return Api("KivOpenIndex", [&] {
        Table* t = TableOf(table);
        const std::string file = IndexPath(*t, Text(path));
        if (!FileExists(file)) Throw(KIV_ERR_FILE_NOT_FOUND, "Index file " + Text(path) + " not found");
        auto& open = OpenIndexFor(*t, file, false);
        if (count) {
            const size_t room = handles ? *count : 0;
            for (size_t i = 0; i < open.handles.size() && i < room; ++i) handles[i] = open.handles[i];
            *count = static_cast<uint16_t>(open.handles.size());
        }
        return KIV_OK;
    });
}

KIVRESULT KivCreateIndex(KIVHANDLE table, const char* fileName, const char* tag, const char* keyExpr,
                         const char* forExpr, const char* whileExpr, uint32_t options, KIVHANDLE* index) {
    return Api("KivCreateIndex", [&] {
        Out(index);
        *index = 0;
        Table* t = TableOf(table);
        if (t->request().readOnly) Throw(KIV_ERR_READ_ONLY, "Table " + t->alias() + " is open read-only");
        t->ReadWholeResult();  // keys for every row of a result
        const std::string path = IndexPath(*t, Text(fileName));
        // another table of the stem owns the file: its orders are not ours to add to
        if (FileExists(path) && !IndexFileServes(path, t->file().path()))
            Throw(KIV_ERR_TABLE_EXISTS, "Index file " + path + " belongs to table " +
                                            StripExtension(path) + Extension(IndexFileOwner(path)));
        std::string name = Text(tag);
        IndexFile* file = t->file().CreateIndexFile(path);
        if (!file->multiTag()) name = Upper(StripExtension(FilePart(path)));
        else if (name.empty()) {
            for (size_t n = file->tags().size() + 1;; ++n) {
                name = "TAG" + std::to_string(n);
                if (!file->FindTag(name)) break;
            }
        }
        uint32_t flags = 0;
        if (options & KIV_INDEX_UNIQUE) flags |= KIV_INDEXFLAG_UNIQUE;
        if (options & KIV_INDEX_DESCENDING) flags |= KIV_INDEXFLAG_DESCENDING;
        Tag* created = file->AddTag(name, Text(keyExpr), Text(forExpr), Text(whileExpr), flags);
        t->file().SaveIndex(*file);
        // A file not open yet opens as the production index does: after the
        // files opened by name, until KivOpenIndex names it. So the orders of
        // files opened by name later keep their numbers ahead of it; a file
        // already open keeps its place.
        auto& open = OpenIndexFor(*t, path, true);
        for (KIVHANDLE h : open.handles)
            if (&IndexFor(h)->tag == created) *index = h;
        if (!*index) {
            open.handles.push_back(HandleTable::Instance().Add(std::make_shared<IndexHandle>(*t, *file, *created)));
            *index = open.handles.back();
        }
        return KIV_OK;
    });
}

static void CloseIndexEntry(Table& table, size_t which) {
    auto& open = table.openIndexes[which];
    for (KIVHANDLE h : open.handles)
        if (table.order() == static_cast<RowOrder*>(IndexOf(h))) table.UseOrder(table.ownOrder());
    for (KIVHANDLE h : open.handles) HandleTable::Instance().Remove(h);
    table.openIndexes.erase(table.openIndexes.begin() + static_cast<std::ptrdiff_t>(which));
}

KIVRESULT KivCloseIndex(KIVHANDLE index) {
    return Api("KivCloseIndex", [&] {
        IndexHandle* ix = IndexFor(index);
        Table& table = ix->table;
        for (size_t i = 0; i < table.openIndexes.size(); ++i) {
            if (table.openIndexes[i].file == &ix->file) {
                CloseIndexEntry(table, i);
                break;
            }
        }
        return KIV_OK;
    });
}

KIVRESULT KivCloseAllIndexes(KIVHANDLE table) {
    return Api("KivCloseAllIndexes", [&] {
        Table* t = TableOf(table);
        while (!t->openIndexes.empty()) CloseIndexEntry(*t, t->openIndexes.size() - 1);
        return KIV_OK;
    });
}

KIVRESULT KivReindex(KIVHANDLE table) {
    return Api("KivReindex", [&] {
        Table* t = TableOf(table);
        t->Flush();
        for (auto& open : t->openIndexes) {
            for (auto& tag : open.file->tags()) tag->Build();
            open.file->dirty = true;
        }
        t->file().SaveIndexes();
        return KIV_OK;
    });
}

KIVRESULT KivGetAllIndexes(KIVHANDLE table, KIVHANDLE* handles, uint16_t* count) {
    return Api("KivGetAllIndexes", [&] {
        Out(count);
        const auto all = AllIndexes(*TableOf(table));
        const size_t room = handles ? *count : 0;
        for (size_t i = 0; i < all.size() && i < room; ++i) handles[i] = all[i];
        *count = static_cast<uint16_t>(std::min(all.size(), room));
        if (all.size() > room) {
            *count = static_cast<uint16_t>(all.size());
            return KIV_ERR_BUFFER_TOO_SMALL;
        }
        return KIV_OK;
    });
}

KIVRESULT KivGetNumIndexes(KIVHANDLE table, uint16_t* count) {
    return Api("KivGetNumIndexes", [&] {
        *Out(count) = static_cast<uint16_t>(AllIndexes(*TableOf(table)).size());
        return KIV_OK;
    });
}

KIVRESULT KivGetIndexHandle(KIVHANDLE table, const char* name, KIVHANDLE* index) {
    return Api("KivGetIndexHandle", [&] {
        Out(index);
        *index = 0;
        Table* t = TableOf(table);
        if (!name) {
            auto* current = dynamic_cast<IndexHandle*>(t->order());
            if (!current) Throw(KIV_ERR_NOT_APPLICABLE, "Table " + t->alias() + " is in natural order");
            *index = current->handle();
            return KIV_OK;
        }
        std::string wanted = Text(name);
        while (!wanted.empty() && wanted.back() == ' ') wanted.pop_back();
        for (KIVHANDLE h : AllIndexes(*t)) {
            if (EqualsNoCase(IndexFor(h)->tag.name(), wanted)) {
                *index = h;
                return KIV_OK;
            }
        }
        Throw(KIV_ERR_NOT_APPLICABLE, "No index order " + wanted + " on table " + t->alias());
    });
}

KIVRESULT KivGetIndexHandleByOrder(KIVHANDLE table, uint16_t order, KIVHANDLE* index) {
    return Api("KivGetIndexHandleByOrder", [&] {
        Out(index);
        *index = 0;
        const auto all = AllIndexes(*TableOf(table));
        if (order < 1 || order > all.size()) Throw(KIV_ERR_NOT_APPLICABLE, "No index order " + std::to_string(order));
        *index = all[order - 1u];
        return KIV_OK;
    });
}

KIVRESULT KivGetIndexName(KIVHANDLE index, char* buf, uint32_t* len) {
    return Api("KivGetIndexName", [&] { return CopyOut(IndexFor(index)->tag.name(), buf, len); });
}

KIVRESULT KivGetIndexExpr(KIVHANDLE index, char* buf, uint32_t* len) {
    return Api("KivGetIndexExpr", [&] { return CopyOut(IndexFor(index)->tag.keyText(), buf, len); });
}

KIVRESULT KivGetIndexCondition(KIVHANDLE index, char* buf, uint32_t* len) {
    return Api("KivGetIndexCondition", [&] { return CopyOut(IndexFor(index)->tag.forText(), buf, len); });
}

KIVRESULT KivGetIndexFilename(KIVHANDLE index, uint16_t, char* buf, uint32_t* len) {
    return Api("KivGetIndexFilename", [&] { return CopyOut(IndexFor(index)->file.path(), buf, len); });
}

KIVRESULT KivGetIndexFlags(KIVHANDLE index, uint32_t* flags) {
    return Api("KivGetIndexFlags", [&] {
        *Out(flags) = IndexFor(index)->tag.flags();
        return KIV_OK;
    });
}

KIVRESULT KivGetIndexPageSize(KIVHANDLE index, uint16_t* pageSize) {
    return Api("KivGetIndexPageSize", [&] {
        IndexFor(index);
        *Out(pageSize) = 1024;
        return KIV_OK;
    });
}

KIVRESULT KivGetNumSegments(KIVHANDLE index, uint16_t* count) {
    return Api("KivGetNumSegments", [&] {
        *Out(count) = static_cast<uint16_t>(IndexFor(index)->tag.key().SegmentFields().size());
        return KIV_OK;
    });
}

KIVRESULT KivGetSegmentFieldname(KIVHANDLE index, uint16_t segment, char* buf, uint32_t* len) {
    return Api("KivGetSegmentFieldname", [&] {
        const auto fields = IndexFor(index)->tag.key().SegmentFields();
        if (segment < 1 || segment > fields.size())
            Throw(KIV_ERR_FIELD_NOT_FOUND, "The key has no segment " + std::to_string(segment));
        return CopyOut(fields[segment - 1u], buf, len);
    });
}

KIVRESULT KivGetIndexKeyFields(KIVHANDLE index, uint16_t* fields, uint16_t* count) {
    return Api("KivGetIndexKeyFields", [&] {
        Out(count);
        IndexHandle* ix = IndexFor(index);
        const auto names = ix->tag.key().SegmentFields();
        const size_t room = fields ? *count : 0;
        size_t n = 0;
        for (const auto& name : names) {
            if (n >= 15) break;
            const int i = ix->table.file().FieldIndex(name.c_str());
            if (i < 0) continue;
            if (n < room) fields[n] = static_cast<uint16_t>(i + 1);
            ++n;
        }
        if (n < room) fields[n] = 0;
        *count = static_cast<uint16_t>(n);
        return n + 1 > room && fields ? KIV_ERR_BUFFER_TOO_SMALL : KIV_OK;
    });
}

KIVRESULT KivIsKeyColumnDescending(KIVHANDLE index, uint16_t, uint16_t* descending) {
    return Api("KivIsKeyColumnDescending", [&] {
        *Out(descending) = IndexFor(index)->tag.descending() ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivIsIndexCustom(KIVHANDLE index, uint16_t* custom) {
    return Api("KivIsIndexCustom", [&] {
        IndexFor(index);
        *Out(custom) = 0;  // orders always hold every record their condition admits
        return KIV_OK;
    });
}

KIVRESULT KivGetKeyLength(KIVHANDLE index, uint16_t* length) {
    return Api("KivGetKeyLength", [&] {
        *Out(length) = static_cast<uint16_t>(IndexFor(index)->tag.keyLength());
        return KIV_OK;
    });
}

KIVRESULT KivGetKeyType(KIVHANDLE index, uint16_t* type) {
    return Api("KivGetKeyType", [&] {
        *Out(type) = IndexFor(index)->tag.keyType();
        return KIV_OK;
    });
}

// ------------------------------------------------------------ positions in an order

KIVRESULT KivGetKeyNum(KIVHANDLE nav, uint16_t, uint32_t* keyNumber) {
    return Api("KivGetKeyNum", [&] {
        Table* t = NavigationOf(nav);
        *Out(keyNumber) = t->haveRecord() ? t->position() : 0;
        return KIV_OK;
    });
}

KIVRESULT KivGetKeyCount(KIVHANDLE nav, uint16_t option, uint32_t* count) {
    return Api("KivGetKeyCount", [&] {
        Table* t = NavigationOf(nav);
        t->ReadWholeResult();
        *Out(count) = option == KIV_COUNT_RESPECT_FILTERS ? t->CountVisible() : t->order()->Size(t->file(), true);
        return KIV_OK;
    });
}

KIVRESULT KivGetRelKeyPos(KIVHANDLE nav, double* position) {
    return Api("KivGetRelKeyPos", [&] {
        Out(position);
        Table* t = NavigationOf(nav);
        t->ReadWholeResult();
        const uint32_t size = t->order()->Size(t->file(), false);
        if (!size) Throw(KIV_ERR_NO_RELATIVE_POS, "The order is empty");
        if (t->eof()) *position = 1.0;
        else if (!t->haveRecord()) *position = 0.0;
        else *position = size == 1 ? 0.0 : static_cast<double>(t->position() - 1) / (size - 1);
        return KIV_OK;
    });
}

KIVRESULT KivSetRelKeyPos(KIVHANDLE nav, double position) {
    return Api("KivSetRelKeyPos", [&] {
        Table* t = NavigationOf(nav);
        if (position >= 1.0) {
            t->GoBottom();
            return KIV_OK;
        }
        t->ReadWholeResult();
        const uint32_t size = t->order()->Size(t->file(), true);
        const double p = position < 0 ? 0 : position;
        t->MoveTo(1 + static_cast<uint32_t>(std::floor(p * (size ? size - 1 : 0) + 0.5)));
        return KIV_OK;
    });
}

KIVRESULT KivExtractKey(KIVHANDLE index, char* buf, uint32_t* len) {
    return Api("KivExtractKey", [&] {
        IndexHandle* ix = IndexFor(index);
        ix->table.RequireRecord();
        return CopyOut(XValueText(ix->table.Evaluate(ix->tag.key())), buf, len);
    });
}

// ------------------------------------------------------------ raw keys

KIVRESULT KivInitRawKey(KIVHANDLE index) {
    return Api("KivInitRawKey", [&] {
        IndexHandle* ix = IndexFor(index);
        ix->rawImage = ix->table.file().BlankImage();
        return KIV_OK;
    });
}

KIVRESULT KivBuildRawKey(KIVHANDLE index, void* buf, uint32_t* len) {
    return Api("KivBuildRawKey", [&] {
        IndexHandle* ix = IndexFor(index);
        if (ix->rawImage.empty()) ix->rawImage = ix->table.file().BlankImage();
        ImageSource source(ix->table.file(), ix->rawImage.data(), 0);
        return CopyOutBytes(ix->tag.key().Key(source), buf, len);
    });
}

KIVRESULT KivStepIndexKey(KIVHANDLE index, void* key, uint32_t keyLength, int16_t direction) {
    return Api("KivStepIndexKey", [&] {
        IndexFor(index);
        if (!key) Throw(KIV_ERR_INVALID_ARGUMENT, "No key given");
        auto* bytes = static_cast<uint8_t*>(key);
        // The next or previous key of the same length, as a big-endian number.
        for (uint32_t i = keyLength; i-- > 0;) {
            if (direction > 0) {
                if (++bytes[i] != 0) break;
            } else {
                if (bytes[i]-- != 0) break;
            }
        }
        return KIV_OK;
    });
}

KIVRESULT KivSeek(KIVHANDLE nav, const void* key, uint32_t keyLength, uint16_t dataType, uint16_t seekType,
                  uint16_t* found) {
    return Api("KivSeek", [&] { return Seek(nav, key, keyLength, dataType, seekType, false, found); });
}

KIVRESULT KivSeekLast(KIVHANDLE nav, const void* key, uint32_t keyLength, uint16_t dataType, uint16_t* found) {
    return Api("KivSeekLast", [&] { return Seek(nav, key, keyLength, dataType, KIV_SEEK_HARD, true, found); });
}

// ------------------------------------------------------------ scopes

KIVRESULT KivSetScope(KIVHANDLE index, uint16_t which, const void* key, uint32_t keyLength, uint16_t dataType) {
    return Api("KivSetScope", [&] {
        IndexHandle* ix = IndexFor(index);
        if (which != KIV_SCOPE_TOP && which != KIV_SCOPE_BOTTOM)
            Throw(KIV_ERR_INVALID_ARGUMENT, "Invalid scope " + std::to_string(which));
        if (keyLength > 4082) Throw(KIV_ERR_INVALID_ARGUMENT, "A scope key is at most 4082 bytes long");
        const std::string stored = ix->tag.Stored(KeyBytes(ix->tag, key, keyLength, dataType));
        const std::string given(static_cast<const char*>(key), key ? keyLength : 0);
        if (which == KIV_SCOPE_TOP) {
            ix->hasTop = true;
            ix->top = stored;
            ix->topGiven = given;
        } else {
            ix->hasBottom = true;
            ix->bottom = stored;
            ix->bottomGiven = given;
        }
        ix->ScopesChanged();
        return KIV_OK;
    });
}

KIVRESULT KivGetScope(KIVHANDLE index, uint16_t which, void* buf, uint32_t* len) {
    return Api("KivGetScope", [&] {
        IndexHandle* ix = IndexFor(index);
        const bool has = which == KIV_SCOPE_TOP ? ix->hasTop : ix->hasBottom;
        if (!has) Throw(KIV_ERR_NO_SCOPE, "No scope is set");
        return CopyOutBytes(which == KIV_SCOPE_TOP ? ix->topGiven : ix->bottomGiven, buf, len);
    });
}

KIVRESULT KivClearScope(KIVHANDLE index, uint16_t which) {
    return Api("KivClearScope", [&] {
        IndexHandle* ix = IndexFor(index);
        bool& has = which == KIV_SCOPE_TOP ? ix->hasTop : ix->hasBottom;
        if (!has) Throw(KIV_ERR_NO_SCOPE, "No scope is set");
        has = false;
        ix->ScopesChanged();
        return KIV_OK;
    });
}

KIVRESULT KivClearAllScopes(KIVHANDLE table) {
    return Api("KivClearAllScopes", [&] {
        for (KIVHANDLE h : AllIndexes(*TableOf(table))) {
            IndexHandle* ix = IndexFor(h);
            ix->hasTop = ix->hasBottom = false;
            ix->ScopesChanged();
        }
        return KIV_OK;
    });
}

// ------------------------------------------------------------ filters

KIVRESULT KivSetAOF(KIVHANDLE table, const char* expression, uint16_t) {
    return SetCondition("KivSetAOF", table, expression, &Table::aof);
}
KIVRESULT KivGetAOF(KIVHANDLE table, char* buf, uint32_t* len) {
    return GetCondition("KivGetAOF", table, buf, len, &Table::aof);
}
KIVRESULT KivClearAOF(KIVHANDLE table) { return ClearCondition("KivClearAOF", table, &Table::aof); }
KIVRESULT KivSetFilter(KIVHANDLE table, const char* expression) {
    return SetCondition("KivSetFilter", table, expression, &Table::filter);
}
KIVRESULT KivGetFilter(KIVHANDLE table, char* buf, uint32_t* len) {
    return GetCondition("KivGetFilter", table, buf, len, &Table::filter);
}
KIVRESULT KivClearFilter(KIVHANDLE table) { return ClearCondition("KivClearFilter", table, &Table::filter); }

KIVRESULT KivSetExact22(KIVHANDLE table, uint16_t exact) {
    return Api("KivSetExact22", [&] {
        TableOf(table)->exact = exact != 0;
        return KIV_OK;
    });
}

KIVRESULT KivGetExact22(KIVHANDLE table, uint16_t* exact) {
    return Api("KivGetExact22", [&] {
        *Out(exact) = TableOf(table)->exact ? 1 : 0;
        return KIV_OK;
    });
}

// ------------------------------------------------------------ expressions

KIVRESULT KivEvalLogicalExpr(KIVHANDLE nav, const char* expression, uint16_t* result) {
    return Api("KivEvalLogicalExpr", [&] {
        Table* t = TableOf(nav);
        auto parsed = ParseFor(*t, expression);
        auto source = t->Source();
        *Out(result) = parsed->EvaluateLogical(source, t->exact) ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivEvalStringExpr(KIVHANDLE table, const char* expression, char* buf, uint32_t* len) {
    return Api("KivEvalStringExpr", [&] {
        Table* t = TableOf(table);
        auto parsed = ParseFor(*t, expression);
        return CopyOut(XValueText(t->Evaluate(*parsed)), buf, len);
    });
}

KIVRESULT KivEvalNumericExpr(KIVHANDLE table, const char* expression, double* result) {
    return Api("KivEvalNumericExpr", [&] {
        Table* t = TableOf(table);
        auto parsed = ParseFor(*t, expression);
        if (parsed->type() != XValue::Type::Numeric)
            Throw(KIV_ERR_EXPRESSION, "The expression \"" + Text(expression) + "\" is not numeric");
        *Out(result) = t->Evaluate(*parsed).number;
        return KIV_OK;
    });
}

KIVRESULT KivExpressionLongToShort(KIVHANDLE table, const char* text, char* buf, uint32_t* len) {
    return Api("KivExpressionLongToShort", [&] {
        TableOf(table);
        return CopyOut(Text(text), buf, len);
    });
}

KIVRESULT KivExpressionShortToLong(KIVHANDLE table, const char* text, char* buf, uint32_t* len) {
    return Api("KivExpressionShortToLong", [&] {
        TableOf(table);
        return CopyOut(Text(text), buf, len);
    });
}

KIVRESULT KivLocate(KIVHANDLE table, const char* expression, uint16_t, uint16_t* found) {
    return Api("KivLocate", [&] {
        Out(found);
        Table* t = TableOf(table);
        auto parsed = ParseFor(*t, expression);
        if (parsed->type() != XValue::Type::Logical)
            Throw(KIV_ERR_EXPRESSION, "The condition \"" + Text(expression) + "\" is not logical");
        t->locateCondition = std::move(parsed);
        t->GoTop();
        t->found = LocateFromHere(*t);
        *found = t->found ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivContinue(KIVHANDLE table, uint16_t* found) {
    return Api("KivContinue", [&] {
        Out(found);
        Table* t = TableOf(table);
        if (!t->locateCondition) Throw(KIV_ERR_NOT_APPLICABLE, "No locate to continue");
        t->Skip(1);
        t->found = LocateFromHere(*t);
        *found = t->found ? 1 : 0;
        return KIV_OK;
    });
}

}  // extern "C"
