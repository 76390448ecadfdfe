// Entry points: what kind of order an index handle is (descending, unique,
// the table's primary key).
#include "api.h"
#include "api_index.h"
#include "dictionary.h"
#include "paths.h"

namespace qel32 {

namespace {

IndexHandle* KindOf(KIVHANDLE handle) {
    IndexHandle* index = IndexOf(handle);
    if (!index) Throw(KIV_ERR_INVALID_HANDLE, "Invalid index handle " + std::to_string(handle));
    return index;
}

// Whether the order is the primary key that the data dictionary names for
// the index's table. Only a table opened through a dictionary connection has
// one: the dictionary entry whose file is the table's file says which order
// it is (property 202). A free table has no primary key.
bool IsPrimaryKey(IndexHandle& index) {
    const std::shared_ptr<Dictionary>& dictionary = index.table.connection()->dictionary;
    if (!dictionary) return false;
    const std::string& file = index.table.file().path();
    for (const std::string& name : dictionary->Objects(KIV_DD_OBJ_TABLE)) {
        const auto entry = dictionary->FindTable(name);
        if (!entry || !EqualsNoCase(entry->file, file)) continue;
        const auto primary = dictionary->TableProperty(name, KIV_DD_PROP_PRIMARY_KEY);
        return primary && EqualsNoCase(*primary, index.tag.name());
    }
    return false;
}

}  // namespace

}  // namespace qel32

using namespace qel32;

extern "C" {

KIVRESULT KivIsIndexDescending(KIVHANDLE index, uint16_t* descending) {
    return Api("KivIsIndexDescending", [&] {
        *Out(descending) = KindOf(index)->tag.descending() ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivIsIndexUnique(KIVHANDLE index, uint16_t* unique) {
    return Api("KivIsIndexUnique", [&] {
        *Out(unique) = KindOf(index)->tag.unique() ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivIsIndexPrimaryKey(KIVHANDLE index, uint16_t* primary) {
    return Api("KivIsIndexPrimaryKey", [&] {
        *Out(primary) = IsPrimaryKey(*KindOf(index)) ? 1 : 0;
        return KIV_OK;
    });
}

}  // extern "C"
