// Entry points: library, connections, settings, errors, table searches, dates.
#include <fnmatch.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "api.h"
#include "dates.h"
#include "paths.h"
#include "dictionary.h"
#include "sqlsession.h"
#include "statement.h"
#include "table.h"

namespace qel32 {

namespace {

std::atomic<uint16_t> gServerTypes{KIV_SERVER_LOCAL | KIV_SERVER_REMOTE};
std::atomic<uint32_t> gConnectSetting{0};
std::mutex gSettingsMutex;
std::string gCurrentDatabase;
std::mutex gConnectionsMutex;
std::vector<std::weak_ptr<Connection>> gConnections;

class Management : public Object {
public:
    Management() : Object(Kind::Management) {}
};

class TableSearch : public Object {
public:
    TableSearch() : Object(Kind::Find) {}
    std::vector<std::string> names;  // file names
    std::vector<std::string> paths;  // full paths
    size_t next = 0;
};

uint16_t ConnectionTypeFor(uint16_t types) {
    types &= KIV_SERVER_LOCAL | KIV_SERVER_REMOTE | KIV_SERVER_INTERNET;
    if (types == KIV_SERVER_LOCAL || types == KIV_SERVER_REMOTE || types == KIV_SERVER_INTERNET) return types;
    if (types & KIV_SERVER_LOCAL) return KIV_SERVER_LOCAL;
    if (types & KIV_SERVER_REMOTE) return KIV_SERVER_REMOTE;
    if (types & KIV_SERVER_INTERNET) return KIV_SERVER_INTERNET;
    return KIV_SERVER_LOCAL;
}

bool NamesDictionary(std::string_view path) { return Upper(path).find(".KDD") != std::string::npos; }

KIVRESULT OpenConnection(const char* path, uint16_t serverTypes, const char* user, const char* password,
                         KIVHANDLE* out) {
    Out(out);
    *out = 0;
    const std::string given = Text(path);
    std::shared_ptr<Connection> connection;
    if (NamesDictionary(given)) {
        auto dictionary = Dictionary::Open(MapPath(given));
        dictionary->Login(Text(user).empty() ? std::string() : Text(user), Text(password));
        connection = std::make_shared<Connection>(Kind::DDConnection, given, dictionary->directory(), serverTypes,
                                                  ConnectionTypeFor(serverTypes));
        connection->dictionary = dictionary;
        connection->user = Text(user);
    } else {
        std::string directory = MapPath(given.empty() ? "." : given);
        while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
        if (!DirectoryExists(directory)) Throw(KIV_ERR_FILE_NOT_FOUND, "Data directory " + given + " not found");
        connection = std::make_shared<Connection>(Kind::Connection, given, directory, serverTypes,
                                                  ConnectionTypeFor(serverTypes));
    }
    *out = HandleTable::Instance().Add(connection);
    std::lock_guard lock(gConnectionsMutex);
    std::erase_if(gConnections, [](const auto& w) { return w.expired(); });
    gConnections.push_back(connection);
    return KIV_OK;
}

void CloseSearchDir(DIR* d) {
    if (d) ::closedir(d);
}

KIVRESULT NextTable(TableSearch& s, char* name, uint32_t* nameLen, char* path, uint32_t* pathLen) {
    if (s.next >= s.names.size()) Throw(KIV_ERR_NO_MORE_TABLES);
    const size_t i = s.next++;
    KIVRESULT rc = KIV_OK;
    if (nameLen) rc = CopyOut(s.names[i], name, nameLen);
    if (pathLen && !rc) rc = CopyOut(s.paths[i], path, pathLen);
    return rc;
}

std::shared_ptr<TableSearch> StartSearch(KIVHANDLE connection, const char* mask) {
    auto* conn = Lookup<Connection>(connection);
    std::string text = Text(mask);
    if (conn->dictionary && text.empty()) {
        auto search = std::make_shared<TableSearch>();
        for (const auto& name : conn->dictionary->Objects(KIV_DD_OBJ_TABLE)) {
            search->names.push_back(name);
            search->paths.push_back(conn->dictionary->FindTable(name)->file);
        }
        if (search->names.empty()) Throw(KIV_ERR_NO_MORE_TABLES, "The data dictionary has no tables");
        return search;
    }
    for (char& c : text)
        if (c == '\\') c = '/';
    std::string dir = DirectoryPart(text);
    std::string pattern = FilePart(text);
    if (pattern.empty()) pattern = "*";
    const std::string directory = MapPath(dir.empty() ? conn->directory() : dir, conn->directory());
    auto search = std::make_shared<TableSearch>();
    DIR* d = ::opendir(directory.c_str());
    if (!d) Throw(KIV_ERR_NO_MORE_TABLES, "No tables in " + directory);
    std::vector<std::string> found;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        if (::fnmatch(pattern.c_str(), e->d_name, FNM_CASEFOLD) == 0) found.emplace_back(e->d_name);
    }
    CloseSearchDir(d);
    std::sort(found.begin(), found.end());
    for (const auto& name : found) {
        if (!FileExists(directory + "/" + name)) continue;
        search->names.push_back(name);
        search->paths.push_back(directory + "/" + name);
    }
    if (search->names.empty()) Throw(KIV_ERR_NO_MORE_TABLES, "No tables match " + text);
    return search;
}

}  // namespace

std::string CurrentDatabase() {
    std::lock_guard lock(gSettingsMutex);
    return gCurrentDatabase;
}

std::shared_ptr<Connection> FindConnectionByDirectory(const std::string& directory) {
    std::lock_guard lock(gConnectionsMutex);
    for (const auto& w : gConnections)
        if (auto c = w.lock(); c && c->directory() == directory) return c;
    return nullptr;
}

void CloseTablesOf(Connection& connection);

}  // namespace qel32

using namespace qel32;

extern "C" {

// ------------------------------------------------------------ connections

KIVRESULT KivConnect60(const char* path, uint16_t serverTypes, const char* user, const char* password,
                       uint32_t options, KIVHANDLE* connection) {
    return Api("KivConnect60", [&] {
        (void)options;
        return OpenConnection(path, serverTypes, user, password, connection);
    });
}

KIVRESULT KivConnect(const char* path, KIVHANDLE* connection) {
    return Api("KivConnect", [&] { return OpenConnection(path, gServerTypes.load(), "", "", connection); });
}

KIVRESULT KivDisconnect(KIVHANDLE connection) {
    return Api("KivDisconnect", [&] {
        auto* conn = dynamic_cast<Connection*>(HandleTable::Instance().Find(connection));
        if (!conn) Throw(KIV_ERR_CONNECTION_GONE, "Connection " + std::to_string(connection) + " is not open");
        for (KIVHANDLE st : conn->Statements()) HandleTable::Instance().Remove(st);
        CloseTablesOf(*conn);
        conn->CloseSql();
        if (conn->InTransaction()) conn->Commit();  // what was written stays
        const auto owned = HandleTable::Instance().Remove(connection);
        return KIV_OK;
    });
}

KIVRESULT KivFindConnection(const char* path, KIVHANDLE* connection) {
    return Api("KivFindConnection", [&] {
        Out(connection);
        *connection = 0;
        std::string directory = MapPath(Text(path).empty() ? "." : Text(path));
        while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
        if (auto c = FindConnectionByDirectory(directory)) *connection = c->handle();
        return KIV_OK;
    });
}

KIVRESULT KivGetConnectionType(KIVHANDLE connection, uint16_t* type) {
    return Api("KivGetConnectionType", [&] {
        *Out(type) = Lookup<Connection>(connection)->connectionType();
        return KIV_OK;
    });
}

KIVRESULT KivSetServerType(uint16_t serverTypes) {
    return Api("KivSetServerType", [&] {
        gServerTypes = serverTypes;
        return KIV_OK;
    });
}

KIVRESULT KivIsConnectionAlive(KIVHANDLE connection, uint16_t* alive) {
    return Api("KivIsConnectionAlive", [&] {
        *Out(alive) = dynamic_cast<Connection*>(HandleTable::Instance().Find(connection)) ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivGetServerName(KIVHANDLE connection, char* buf, uint32_t* len) {
    return Api("KivGetServerName", [&] {
        Lookup<Connection>(connection);
        return CopyOut("LOCAL", buf, len);
    });
}

KIVRESULT KivGetServerTime(KIVHANDLE connection, char* dateBuf, uint32_t* dateLen, char* timeBuf,
                           uint32_t* timeLen, uint32_t* ms) {
    return Api("KivGetServerTime", [&] {
        Lookup<Connection>(connection);
        const int32_t now = NowMilliseconds();
        const int32_t today = TodayJulian();
        if (ms) *ms = static_cast<uint32_t>(now);
        KIVRESULT rc = dateLen ? CopyOut(FormatDate(today), dateBuf, dateLen) : KIV_OK;
        if (timeLen && !rc) rc = CopyOut(FormatTime(now - now % 1000), timeBuf, timeLen);
        return rc;
    });
}

KIVRESULT KivGetNumActiveLinks(KIVHANDLE connection, uint16_t* count) {
    return Api("KivGetNumActiveLinks", [&] {
        Lookup<Connection>(connection);
        *Out(count) = 0;
        return KIV_OK;
    });
}

KIVRESULT KivGetActiveLinkInfo(KIVHANDLE connection, uint16_t index, char*, uint32_t*) {
    return Api("KivGetActiveLinkInfo", [&]() -> KIVRESULT {
        Lookup<Connection>(connection);
        Throw(KIV_ERR_INVALID_ARGUMENT, "No active link " + std::to_string(index));
    });
}

KIVRESULT KivCacheOpenTables(uint16_t) { return Api("KivCacheOpenTables", [] { return KIV_OK; }); }
KIVRESULT KivCacheOpenCursors(uint16_t) { return Api("KivCacheOpenCursors", [] { return KIV_OK; }); }

KIVRESULT KivCloseCachedTables(KIVHANDLE connection) {
    return Api("KivCloseCachedTables", [&] {
        Lookup<Connection>(connection);
        return KIV_OK;
    });
}

KIVRESULT KivMgConnect(const char*, const char*, const char*, KIVHANDLE* mgmt) {
    return Api("KivMgConnect", [&] {
        *Out(mgmt) = HandleTable::Instance().Add(std::make_shared<Management>());
        return KIV_OK;
    });
}

KIVRESULT KivMgGetInstallInfo(KIVHANDLE mgmt, char* buf, uint32_t* len) {
    return Api("KivMgGetInstallInfo", [&] {
        Lookup<Management>(mgmt);
        return CopyOut("Local engine, single user", buf, len);
    });
}

KIVRESULT KivMgDisconnect(KIVHANDLE mgmt) {
    return Api("KivMgDisconnect", [&] {
        Lookup<Management>(mgmt);
        HandleTable::Instance().Remove(mgmt);
        return KIV_OK;
    });
}

KIVRESULT KivApplicationExit(void) { return Api("KivApplicationExit", [] { return KIV_OK; }); }
KIVRESULT KivThreadExit(void) { return Api("KivThreadExit", [] { return KIV_OK; }); }

KIVRESULT KivGetVersion(uint16_t* major, uint16_t* minor, char* letter, char* description, uint32_t* len) {
    return Api("KivGetVersion", [&] {
        if (major) *major = 8;
        if (minor) *minor = 10;
        if (letter) *letter = ' ';
        if (description && len) return CopyOut("Local engine", description, len);
        if (len) *len = 0;
        return KIV_OK;
    });
}

KIVRESULT KivGetLibraryVersion(uint32_t* version) {
    return Api("KivGetLibraryVersion", [&] {
        *Out(version) = KIV_LIBRARY_VERSION;
        return KIV_OK;
    });
}

// The language is the environment's KIV_COLLATION ("USA" when unset or
// empty); it is reported, not applied to comparisons.
KIVRESULT KivGetCollationLang(char* buf, uint32_t* len) {
    return Api("KivGetCollationLang", [&] {
        const char* lang = std::getenv("KIV_COLLATION");
        return CopyOut(lang && *lang ? lang : "USA", buf, len);
    });
}

KIVRESULT KivSetDateFormat(const char* format) {
    return Api("KivSetDateFormat", [&] {
        const std::string f = Upper(Text(format));
        if (f.find("YY") == std::string::npos || f.find("MM") == std::string::npos ||
            f.find("DD") == std::string::npos)
            Throw(KIV_ERR_INVALID_ARGUMENT, "Invalid date format \"" + Text(format) + "\"");
        SetThreadDateFormat(f);
        return KIV_OK;
    });
}

KIVRESULT KivGetDateFormat(char* buf, uint32_t* len) {
    return Api("KivGetDateFormat", [&] { return CopyOut(ThreadDateFormat(), buf, len); });
}

KIVRESULT KivShowDeleted(uint16_t show) {
    return Api("KivShowDeleted", [&] {
        gShowDeleted = show != 0;
        return KIV_OK;
    });
}

KIVRESULT KivGetDeleted(uint16_t* shown) {
    return Api("KivGetDeleted", [&] {
        *Out(shown) = gShowDeleted.load() ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivGetHandleType(KIVHANDLE handle, uint16_t* type) {
    return Api("KivGetHandleType", [&] {
        auto object = HandleTable::Instance().Find(handle);
        if (!object) Throw(KIV_ERR_INVALID_HANDLE, "Invalid handle " + std::to_string(handle));
        *Out(type) = static_cast<uint16_t>(object->kind());
        return KIV_OK;
    });
}

KIVRESULT KivFindFirstTable(KIVHANDLE connection, const char* mask, char* buf, uint32_t* len, KIVHANDLE* find) {
    return Api("KivFindFirstTable", [&] {
        Out(find);
        *find = 0;
        auto search = StartSearch(connection, mask);
        *find = HandleTable::Instance().Add(search);
        return NextTable(*search, buf, len, nullptr, nullptr);
    });
}

KIVRESULT KivFindNextTable(KIVHANDLE find, char* buf, uint32_t* len) {
    return Api("KivFindNextTable", [&] { return NextTable(*Lookup<TableSearch>(find), buf, len, nullptr, nullptr); });
}

KIVRESULT KivFindFirstTable62(KIVHANDLE connection, const char* mask, char* nameBuf, uint32_t* nameLen,
                              char* pathBuf, uint32_t* pathLen, KIVHANDLE* find) {
    return Api("KivFindFirstTable62", [&] {
        Out(find);
        *find = 0;
        auto search = StartSearch(connection, mask);
        // Free tables have no dictionary name: the first text is empty.
        if (!Lookup<Connection>(connection)->dictionary || Text(mask).size())
            for (auto& n : search->names) n.clear();
        *find = HandleTable::Instance().Add(search);
        return NextTable(*search, nameBuf, nameLen, pathBuf, pathLen);
    });
}

KIVRESULT KivFindNextTable62(KIVHANDLE find, char* nameBuf, uint32_t* nameLen, char* pathBuf, uint32_t* pathLen) {
    return Api("KivFindNextTable62",
               [&] { return NextTable(*Lookup<TableSearch>(find), nameBuf, nameLen, pathBuf, pathLen); });
}

KIVRESULT KivFindClose(KIVHANDLE find) {
    return Api("KivFindClose", [&] {
        Lookup<TableSearch>(find);
        HandleTable::Instance().Remove(find);
        return KIV_OK;
    });
}

KIVRESULT KivSetConnectSetting(uint32_t value) {
    return Api("KivSetConnectSetting", [&] {
        gConnectSetting = value;
        return KIV_OK;
    });
}

KIVRESULT KivGetTransactionsDisabled(KIVHANDLE connection, uint16_t* disabled) {
    return Api("KivGetTransactionsDisabled", [&] {
        Lookup<Connection>(connection);
        *Out(disabled) = 0;
        return KIV_OK;
    });
}

KIVRESULT KivGetConnectionPath(KIVHANDLE connection, char* buf, uint32_t* len) {
    return Api("KivGetConnectionPath", [&] { return CopyOut(Lookup<Connection>(connection)->directory(), buf, len); });
}

KIVRESULT KivGetPathPart(const char* path, uint16_t part, char* buf, uint32_t* len) {
    return Api("KivGetPathPart", [&] {
        std::string p = Text(path);
        const size_t sep = p.find_last_of("/\\");
        const std::string dir = sep == std::string::npos ? std::string() : p.substr(0, sep + 1);
        const std::string file = sep == std::string::npos ? p : p.substr(sep + 1);
        switch (part) {
            case KIV_PATH_DIRECTORY: return CopyOut(dir, buf, len);
            case KIV_PATH_FILE: return CopyOut(file, buf, len);
            case KIV_PATH_TABLE: {
                const size_t dot = file.find_last_of('.');
                return CopyOut(dot == std::string::npos ? file : file.substr(0, dot), buf, len);
            }
            default: Throw(KIV_ERR_INVALID_ARGUMENT, "Unknown path part " + std::to_string(part));
        }
    });
}

KIVRESULT KivCompareStrings(KIVHANDLE connection, const char* a, const char* b, int32_t* cmp) {
    return Api("KivCompareStrings", [&] {
        Lookup<Connection>(connection);
        const std::string x = Upper(Text(a)), y = Upper(Text(b));
        const int c = x.compare(y);
        *Out(cmp) = c < 0 ? -1 : c > 0 ? 1 : 0;
        return KIV_OK;
    });
}

KIVRESULT KivSetCurrentDatabase(const char* name) {
    return Api("KivSetCurrentDatabase", [&] {
        const std::string n = Text(name);
        std::string dir = n.empty() ? std::string() : MapPath(n);
        if (!dir.empty() && !DirectoryExists(dir)) Throw(KIV_ERR_FILE_NOT_FOUND, "Database " + n + " not found");
        std::lock_guard lock(gSettingsMutex);
        gCurrentDatabase = dir;
        return KIV_OK;
    });
}

KIVRESULT KivGetCurrentDatabase(char* buf, uint32_t* len) {
    return Api("KivGetCurrentDatabase", [&] {
        std::lock_guard lock(gSettingsMutex);
        return CopyOut(gCurrentDatabase, buf, len);
    });
}

// ------------------------------------------------------------ errors

KIVRESULT KivGetLastError(uint32_t* code, char* buf, uint32_t* len) {
    // Reading the last error never changes it.
    if (gTestHooksActive.load(std::memory_order_relaxed)) {
        if (KIVRESULT planted = TestHookEnter("KivGetLastError", false)) return planted;
    }
    if (code) *code = LastErrorCode();
    if (!len) return KIV_OK;
    return CopyOut(LastErrorText(), buf, len);
}

KIVRESULT KivSetLastError(uint32_t code, const char* text) {
    SetLastError(code, Text(text));
    return KIV_OK;
}

KIVRESULT KivClearLastError(void) {
    ClearLastError();
    return KIV_OK;
}

KIVRESULT KivGetErrorString(uint32_t code, char* buf, uint32_t* len) {
    return Api("KivGetErrorString", [&] { return CopyOut(CodeText(code), buf, len); });
}

KIVRESULT KivShowError(const char* title) {
    std::fprintf(stderr, "%s: %u %s\n", title ? title : "Engine error", LastErrorCode(), LastErrorText().c_str());
    return KIV_OK;
}

// ------------------------------------------------------------ dates

KIVRESULT KivConvertStringToJulian(const char* text, uint16_t len, double* julian) {
    return Api("KivConvertStringToJulian", [&] {
        Out(julian);
        const std::string t = text ? std::string(text, strnlen(text, len ? len : 8)) : std::string();
        auto jd = JulianFromCompact(t);
        if (!jd) Throw(KIV_ERR_CONVERSION, "\"" + t + "\" is not a date");
        *julian = *jd;
        return KIV_OK;
    });
}

KIVRESULT KivConvertJulianToString(double julian, char* buf, uint32_t* len) {
    return Api("KivConvertJulianToString", [&] {
        if (julian < 0 || julian > 5373484) Throw(KIV_ERR_CONVERSION, "Julian day out of range");
        return CopyOut(CompactFromJulian(static_cast<int32_t>(julian)), buf, len);
    });
}

KIVRESULT KivConvertDateToJulian(const char* text, uint16_t len, double* julian) {
    return Api("KivConvertDateToJulian", [&] {
        Out(julian);
        const std::string t = text ? std::string(text, len ? strnlen(text, len) : std::strlen(text)) : std::string();
        auto jd = ParseDate(t);
        if (!jd) Throw(KIV_ERR_CONVERSION, "\"" + t + "\" is not a date");
        *julian = *jd;
        return KIV_OK;
    });
}

}  // extern "C"
