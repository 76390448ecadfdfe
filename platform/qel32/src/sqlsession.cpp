#include "sqlsession.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <atomic>
#include <map>

#include "dates.h"
#include "codepages.h"
#include "dictionary.h"
#include "errors.h"
#include "paths.h"
#include "kivwin/win.h"
#include "sqlfunctions.h"
#include "table.h"

namespace qel32 {

// ------------------------------------------------------------------ errors

void ThrowSqlError(int nativeId, const std::string& message) {
    char head[64];
    std::snprintf(head, sizeof head, "ERROR 7200: NativeError = %04d; ", nativeId);
    Throw(KIV_ERR_SQL, std::string(head) + "[Morvane SQL Engine] " + message);
}

void ThrowSqlError(sqlite3* db, const std::string& message) {
    const std::string text = message.empty() ? std::string(sqlite3_errmsg(db)) : message;
    int id = 2119;
    if (text.find("no such table") != std::string::npos) id = 2122;
    else if (text.find("no such column") != std::string::npos) id = 2121;
    else if (text.find("ambiguous column") != std::string::npos) id = 2137;
    else if (text.find("incomplete input") != std::string::npos) id = 2113;
    else if (text.find("unrecognized token") != std::string::npos) id = 2114;
    else if (text.find("syntax error") != std::string::npos) id = 2117;
    ThrowSqlError(id, text);
}

// ------------------------------------------------------------------ types

uint32_t NumericWidth(uint32_t precision, uint16_t decimals) {
    // Sign and point; and the 0 before the point when all digits are decimals.
    return std::max<uint32_t>(precision, decimals) + 1 + (decimals ? 1 : 0) + (decimals >= precision ? 1 : 0);
}

uint32_t NumericPrecision(uint32_t width, uint16_t decimals) {
    const uint32_t room = 1 + (decimals ? 1 : 0);
    return width > room ? width - room : 1;
}

// Compares as SQLite's NOCASE does, trailing blanks not counting.
constexpr const char* kNoCaseRtrim = "NOCASE_RTRIM";

int CompareNoCaseRtrim(void*, int leftBytes, const void* left, int rightBytes, const void* right) {
    const auto* a = static_cast<const unsigned char*>(left);
    const auto* b = static_cast<const unsigned char*>(right);
    size_t na = static_cast<size_t>(leftBytes), nb = static_cast<size_t>(rightBytes);
    while (na && a[na - 1] == ' ') --na;
    while (nb && b[nb - 1] == ' ') --nb;
    const size_t n = std::min(na, nb);
    for (size_t i = 0; i < n; ++i) {
        const int ca = a[i] < 0x80 ? std::tolower(a[i]) : a[i];
        const int cb = b[i] < 0x80 ? std::tolower(b[i]) : b[i];
        if (ca != cb) return ca - cb;
    }
    return na < nb ? -1 : na > nb ? 1 : 0;
}

std::string DeclaredType(const FieldDef& f) {
    const std::string len = std::to_string(f.type == KIV_FT_VARCHAR ? f.maxLength : f.length);
    switch (f.type) {
        case KIV_FT_LOGICAL: return "LOGICAL";
        case KIV_FT_NUMERIC:
            // Its precision: the width without the places of sign and point.
            return "NUMERIC(" + std::to_string(NumericPrecision(f.length, f.decimals)) + "," + std::to_string(f.decimals) + ")";
        case KIV_FT_DATE: return "DATE";
        // Trailing blanks do not count when CHAR values are compared.
        case KIV_FT_CHARACTER: return "CHAR(" + len + ") COLLATE RTRIM";
        case KIV_FT_MEMO: return "MEMO";
        case KIV_FT_BINARY: return "BLOB";
        case KIV_FT_IMAGE: return "IMAGE";
        case KIV_FT_VARCHAR: return "VARCHAR(" + len + ")";
        case KIV_FT_COMPACTDATE: return "SHORTDATE";
        case KIV_FT_DOUBLE: return "DOUBLE(" + std::to_string(f.decimals) + ")";
        case KIV_FT_INTEGER: return "INTEGER";
        case KIV_FT_SHORTINT: return "SHORTINT";
        case KIV_FT_TIME: return "TIME";
        case KIV_FT_TIMESTAMP: return "TIMESTAMP";
        case KIV_FT_AUTOINC: return "AUTOINC";
        case KIV_FT_RAW: return "RAW(" + len + ")";
        case KIV_FT_CURDOUBLE: return "CURDOUBLE(" + std::to_string(f.decimals) + ")";
        case KIV_FT_MONEY: return "MONEY";
        case KIV_FT_CICHARACTER: return "CICHARACTER(" + len + ") COLLATE " + std::string(kNoCaseRtrim);
        case KIV_FT_ROWVERSION: return "ROWVERSION";
        case KIV_FT_MODTIME: return "MODTIME";
        case KIV_FT_GENERAL: return "GENERAL";
        case KIV_FT_PICTURE: return "PICTURE";
    }
    return "";
}

bool FieldFromDeclaredType(std::string_view declared, FieldDef& f) {
    std::string text = Upper(declared);
    const size_t collate = text.find(" COLLATE");
    if (collate != std::string::npos) text.resize(collate);
    std::string word;
    size_t i = 0;
    while (i < text.size() && (std::isalpha(static_cast<unsigned char>(text[i])) || text[i] == '_')) word += text[i++];
    std::vector<uint32_t> nums;
    const size_t open = text.find('(', i);
    if (open != std::string::npos) {
        uint32_t n = 0;
        bool any = false;
        for (size_t k = open + 1; k < text.size() && text[k] != ')'; ++k) {
            if (std::isdigit(static_cast<unsigned char>(text[k]))) {
                n = n * 10 + static_cast<uint32_t>(text[k] - '0');
                any = true;
            } else if (text[k] == ',') {
                nums.push_back(n);
                n = 0;
                any = false;
            }
        }
        if (any) nums.push_back(n);
    }
    // SQL's own names first, then the engine's words by their prefix rule.
    static const std::map<std::string, uint16_t> kSqlNames = {
        {"INT", KIV_FT_INTEGER},      {"BIGINT", KIV_FT_NUMERIC},   {"SMALLINT", KIV_FT_SHORTINT},
        {"TINYINT", KIV_FT_SHORTINT}, {"FLOAT", KIV_FT_DOUBLE},     {"REAL", KIV_FT_DOUBLE},
        {"DECIMAL", KIV_FT_NUMERIC},  {"TEXT", KIV_FT_MEMO},        {"BOOLEAN", KIV_FT_LOGICAL},
        {"BIT", KIV_FT_LOGICAL},      {"DATETIME", KIV_FT_TIMESTAMP}, {"CLOB", KIV_FT_MEMO},
        {"VARBINARY", KIV_FT_BINARY}, {"LONGVARCHAR", KIV_FT_MEMO}, {"LONGVARBINARY", KIV_FT_BINARY},
    };
    uint16_t type = 0;
    if (auto it = kSqlNames.find(word); it != kSqlNames.end()) type = it->second;
    else if (word.size() > 1) type = FieldTypeFromName(word, KIV_TABLE_KDT);
    if (!type) return false;
    f.type = type;
    f.decimals = 0;
    f.maxLength = 0;
    switch (type) {
        case KIV_FT_CHARACTER: case KIV_FT_CICHARACTER: case KIV_FT_RAW: case KIV_FT_VARCHAR:
            f.maxLength = nums.empty() ? (type == KIV_FT_VARCHAR ? 254 : 1) : nums[0];
            break;
        case KIV_FT_NUMERIC:
            // NUMERIC(p,s) holds every value of p digits, s of them after
            // the point: the field has room for the sign and the point too.
            f.decimals = static_cast<uint16_t>(nums.size() > 1 ? nums[1] : 0);
            f.maxLength = nums.empty() ? 20 : NumericWidth(nums[0], f.decimals);
            if (f.maxLength > 32) f.maxLength = 32;
            if (f.decimals && f.decimals + 2u > f.maxLength) f.maxLength = f.decimals + 2u;
            break;
        case KIV_FT_DOUBLE: case KIV_FT_CURDOUBLE:
            f.decimals = static_cast<uint16_t>(nums.empty() ? 0 : nums[0]);
            break;
        default: break;
    }
    return true;
}

// ------------------------------------------------------------------ escapes

std::string RewriteEscapeClauses(std::string_view s);

namespace {

size_t SkipQuoted(std::string_view s, size_t i) {
    const char open = s[i];
    const char close = open == '[' ? ']' : open;
    for (++i; i < s.size(); ++i) {
        if (s[i] == close) {
            if (close != ']' && i + 1 < s.size() && s[i + 1] == close) {
                ++i;  // doubled quote
                continue;
            }
            return i + 1;
        }
    }
    return s.size();
}

// The end of the brace escape starting at i ('{'), or npos.
size_t EscapeEnd(std::string_view s, size_t i) {
    int depth = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '\'' || c == '"') { i = SkipQuoted(s, i); continue; }
        if (c == '{') ++depth;
        if (c == '}' && --depth == 0) return i;
        ++i;
    }
    return std::string_view::npos;
}

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

std::string RewriteBody(std::string_view body) {
    const std::string t = Trim(body);
    size_t k = 0;
    while (k < t.size() && (std::isalpha(static_cast<unsigned char>(t[k])) || t[k] == '?' || t[k] == '=')) ++k;
    const std::string keyword = Upper(t.substr(0, k));
    const std::string rest = Trim(std::string_view(t).substr(k));
    if (keyword == "D") return "kiv_date(" + rest + ")";
    if (keyword == "T") return "kiv_time(" + rest + ")";
    if (keyword == "TS") return "kiv_timestamp(" + rest + ")";
    if (keyword == "FN" || keyword == "OJ") return RewriteEscapes(rest);
    if (keyword == "CALL") return "EXECUTE PROCEDURE " + RewriteEscapes(rest);
    if (keyword == "?=CALL") return "EXECUTE PROCEDURE " + RewriteEscapes(rest);
    if (keyword == "ESCAPE") return "ESCAPE " + rest;
    Throw(KIV_ERR_SQL, "ERROR 7200: NativeError = 2118; [Morvane SQL Engine] Malformed escape clause: {" +
                           std::string(body) + "}");
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool WordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The end of the number literal starting at i (a digit, or a point before
// one), and whether it has a point or an exponent.
size_t NumberEnd(std::string_view s, size_t i, bool& decimal) {
    decimal = false;
    while (i < s.size() && IsDigit(s[i])) ++i;
    if (i < s.size() && s[i] == '.') {
        decimal = true;
        for (++i; i < s.size() && IsDigit(s[i]);) ++i;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && IsDigit(s[j])) {
            decimal = true;
            for (i = j; i < s.size() && IsDigit(s[i]);) ++i;
        }
    }
    return i;
}

size_t SignificantDigits(std::string_view number) {
    size_t n = 0;
    for (char c : number) {
        if (c == 'e' || c == 'E') break;
        if (IsDigit(c) && (n || c != '0')) ++n;
    }
    return n;
}

// Whether a '-' written at the end of `out` is the sign of what follows,
// not a subtraction: nothing, an operator, an opening parenthesis, a comma
// or a keyword comes before it.
bool SignBefore(const std::string& out) {
    size_t e = out.size();
    while (e && std::isspace(static_cast<unsigned char>(out[e - 1]))) --e;
    if (!e || out[e - 1] != '-') return false;
    --e;
    while (e && std::isspace(static_cast<unsigned char>(out[e - 1]))) --e;
    if (!e) return true;
    const char before = out[e - 1];
    if (!WordChar(before)) return std::strchr("(,=<>+-*/%|", before) != nullptr;
    size_t b = e;
    while (b && WordChar(out[b - 1])) --b;
    static const char* const kKeywords[] = {"SELECT", "WHERE", "AND", "OR", "NOT", "WHEN", "THEN", "ELSE",
                                            "BETWEEN", "HAVING", "ON", "IN", "IS", "LIKE", "RETURN", "SET"};
    const std::string word = Upper(std::string_view(out).substr(b, e - b));
    for (const char* k : kKeywords)
        if (word == k) return true;
    return false;
}

}  // namespace

std::string RewriteEscapes(std::string_view s) { return RewriteSqlForms(RewriteEscapeClauses(s)); }

std::string RewriteEscapeClauses(std::string_view s) {
    static const std::string kLongOpen = "--(*VENDOR(MICROSOFT),PRODUCT(ODBC)";
    std::string out;
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '\'' || c == '"' || c == '[') {
            const size_t end = SkipQuoted(s, i);
            out.append(s.substr(i, end - i));
            i = end;
            continue;
        }
        if (c == '{') {
            const size_t end = EscapeEnd(s, i);
            if (end == std::string_view::npos)
                Throw(KIV_ERR_SQL, "ERROR 7200: NativeError = 2118; [Morvane SQL Engine] Malformed escape clause: " +
                                       std::string(s.substr(i)));
            out += RewriteBody(s.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        if (c == '-' && Upper(s.substr(i, kLongOpen.size())) == kLongOpen) {
            const size_t end = s.find("*)--", i);
            if (end == std::string_view::npos)
                Throw(KIV_ERR_SQL, "ERROR 7200: NativeError = 2118; [Morvane SQL Engine] Malformed escape clause: " +
                                       std::string(s.substr(i)));
            const size_t from = i + kLongOpen.size();
            out += RewriteBody(s.substr(from, end - from));
            i = end + 4;
            continue;
        }
        if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            // Comments pass unchanged; one left open would hide the rest.
            const size_t end = s.find("*/", i + 2);
            if (end == std::string_view::npos)
                ThrowSqlError(2113, "Unterminated comment at position " + std::to_string(i + 1));
            out.append(s.substr(i, end + 2 - i));
            i = end + 2;
            continue;
        }
        if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
            const size_t end = std::min(s.find('\n', i), s.size());
            out.append(s.substr(i, end - i));
            i = end;
            continue;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t j = i;
            while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_')) ++j;
            const std::string word = Upper(s.substr(i, j - i));
            if (word == "KIV_DEFAULT_CS") out += "BINARY";
            else if (word == "KIV_DEFAULT_CI") out += "NOCASE";
            else out.append(s.substr(i, j - i));
            i = j;
            continue;
        }
        if (IsDigit(c) || (c == '.' && i + 1 < s.size() && IsDigit(s[i + 1]))) {
            // A decimal literal of more digits than a double keeps goes on as
            // its text, which numeric columns store digit for digit; its sign
            // goes with it.
            bool decimal;
            const size_t end = NumberEnd(s, i, decimal);
            const std::string_view number = s.substr(i, end - i);
            if (decimal && SignificantDigits(number) > 15 && (end == s.size() || !WordChar(s[end]))) {
                std::string text(number);
                if (SignBefore(out)) {
                    while (out.back() != '-') out.pop_back();
                    out.pop_back();
                    text.insert(0, 1, '-');
                }
                out += "'" + text + "'";
            } else {
                out.append(number);
            }
            i = end;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

// ------------------------------------------------------------------ virtual tables

struct KivVtab {
    sqlite3_vtab base{};
    SqlSession* session = nullptr;
    std::string name;
    std::string file;
    uint16_t type = 0;
    std::vector<FieldDef> fields;
    uint16_t tableType = 0;
    std::shared_ptr<Table> table;  // open while statements use it
    int cursors = 0;
    bool inSqlTransaction = false;  // written inside BEGIN ... COMMIT | ROLLBACK
};

namespace {

struct KivCursor {
    sqlite3_vtab_cursor base{};
    std::shared_ptr<TableFile> file;
    uint32_t recno = 0;
    uint32_t count = 0;
    bool single = false;
    // Records found in an order of the table, in record order, when the
    // cursor reads only those.
    bool found = false;
    std::vector<uint32_t> hits;
    size_t hitAt = 0;
    // Comparisons of number fields with numbers that a scan checks on the
    // record before SQLite sees it (SQLite checks the rows it gets again).
    struct Check {
        size_t field;
        char op;
        double value;
    };
    std::vector<Check> checks;
    std::vector<uint8_t> chunk;
    uint32_t chunkFirst = 0, chunkCount = 0;
    uint64_t chunkStamp = 0;
    const uint8_t* image = nullptr;
};

constexpr uint32_t kChunk = 256;

// Records the SQL tables read from their files, and the field values read
// from them, for the test hooks.
std::atomic<uint64_t> g_recordsRead{0};
std::atomic<uint64_t> g_valuesRead{0};

int Fail(sqlite3_vtab* vt, const std::exception& e) {
    sqlite3_free(vt->zErrMsg);
    vt->zErrMsg = sqlite3_mprintf("%s", e.what());
    if (auto* ee = dynamic_cast<const EngineError*>(&e)) SetLastError(ee->code(), ee->what());
    return SQLITE_ERROR;
}

std::string Unquote(const char* arg) {
    std::string s = arg ? arg : "";
    if (s.size() >= 2 && s.front() == '\'' && s.back() == '\'') {
        std::string out;
        for (size_t i = 1; i + 1 < s.size(); ++i) {
            out += s[i];
            if (s[i] == '\'' && s[i + 1] == '\'') ++i;
        }
        return out;
    }
    return s;
}

std::string QuoteIdent(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

std::string QuoteLiteral(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

uint32_t LittleEndian(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// The bytes of a table file that describe its fields: the version (or the
// engine's own mark) and the field descriptors, without the change counter
// the engine's own tables keep among them. Empty when the file cannot be read.
std::string FieldLayout(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string();
    std::string out;
    uint8_t head[32];
    if (::pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head)) {
        const bool kdt = std::memcmp(head, "KDT", 3) == 0;
        const uint32_t length = kdt ? LittleEndian(head + 8, 4) : LittleEndian(head + 8, 2);
        if (length > 32 && length <= (1u << 22)) {
            std::string descriptors(length - 32, '\0');
            if (::pread(fd, descriptors.data(), descriptors.size(), 32) == static_cast<ssize_t>(descriptors.size())) {
                if (kdt && descriptors.size() >= 144) std::memset(&descriptors[140], 0, 4);
                out.assign(reinterpret_cast<const char*>(head), kdt ? 4 : 1);
                out += descriptors;
            }
        }
    }
    ::close(fd);
    return out;
}

int Connect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** err) {
    auto vt = std::make_unique<KivVtab>();
    vt->session = static_cast<SqlSession*>(aux);
    if (argc < 5) {
        *err = sqlite3_mprintf("kiv tables need a file and a type");
        return SQLITE_ERROR;
    }
    vt->name = argv[2] ? argv[2] : "";
    vt->file = Unquote(argv[3]);
    vt->type = static_cast<uint16_t>(std::atoi(argv[4]));
    try {
        auto file = TableFile::Open(vt->file, vt->type, false);
        vt->fields = file->fields();
        vt->tableType = file->type();
        file->Detach();
    } catch (const std::exception& e) {
        *err = sqlite3_mprintf("%s", e.what());
        return SQLITE_ERROR;
    }
    std::string ddl = "CREATE TABLE x(";
    for (size_t i = 0; i < vt->fields.size(); ++i)
        ddl += (i ? ", " : "") + QuoteIdent(vt->fields[i].name) + " " + DeclaredType(vt->fields[i]);
    ddl += ")";
    const int rc = sqlite3_declare_vtab(db, ddl.c_str());
    if (rc != SQLITE_OK) return rc;
    *out = &vt.release()->base;
    return SQLITE_OK;
}

int Disconnect(sqlite3_vtab* base) {
    auto* vt = reinterpret_cast<KivVtab*>(base);
    vt->session->tablesKept.erase(vt);
    if (vt->table) {
        try {
            vt->table->Close();
        } catch (const std::exception&) {
        }
    }
    delete vt;
    return SQLITE_OK;
}

void ReleaseTable(KivVtab* vt);

// Whether two field lists describe the same record layout.
bool SameLayout(const std::vector<FieldDef>& a, const std::vector<FieldDef>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].length != b[i].length ||
            a[i].decimals != b[i].decimals || a[i].offset != b[i].offset || a[i].letter != b[i].letter)
            return false;
    return true;
}

void EnsureTable(KivVtab* vt) {
    if (vt->table && vt->table->request().charType != vt->session->charType) ReleaseTable(vt);
    if (vt->table) return;
    Connection& conn = vt->session->connection();
    auto file = TableFile::Open(vt->file, vt->type, false);
    // A statement prepared before the table was made again never reads the
    // new records at the old layout's offsets.
    if (file->type() != vt->tableType || !SameLayout(file->fields(), vt->fields)) {
        file->Detach();
        ThrowSqlError(2122, "Table " + vt->name + " has changed since the statement was prepared");
    }
    if (file->encrypted() && !file->hasKey()) {
        const auto& pw = vt->session->passwords;
        auto it = pw.find(Upper(vt->name));
        if (it == pw.end()) it = pw.find(Upper(StripExtension(FilePart(vt->file))));
        if (it != pw.end()) {
            try {
                file->SetKey(it->second);
            } catch (...) {
                file->Detach();
                throw;
            }
        }
    }
    OpenRequest request;
    request.charType = vt->session->charType;
    request.readOnly = !file->writable();
    request.alias = Upper(StripExtension(FilePart(vt->file)));
    vt->table = std::make_shared<Table>(conn.shared_from_this(), file, request);
}

void ReleaseTable(KivVtab* vt) {
    if (vt->cursors == 0 && vt->table) {
        vt->session->tablesKept.erase(vt);
        auto table = std::move(vt->table);
        table->Close();
    }
}

// At a statement's end: inside the connection's transaction the table stays
// open for the next statement, until the transaction ends.
void ReleaseTableAfterStatement(KivVtab* vt) {
    if (vt->session->connection().InTransaction()) {
        if (vt->table) vt->session->tablesKept.insert(vt);
        return;
    }
    ReleaseTable(vt);
}

bool EmptyReadsNull(uint16_t fieldType, uint16_t tableType);

// Fields whose SQL value the scan computes from the record as a number.
bool ScanCheckable(const FieldDef& f) {
    return f.type == KIV_FT_NUMERIC || f.type == KIV_FT_LOGICAL || f.type == KIV_FT_INTEGER || f.type == KIV_FT_DOUBLE;
}

char OpLetter(unsigned char op) {
    switch (op) {
        case SQLITE_INDEX_CONSTRAINT_EQ: return 'E';
        case SQLITE_INDEX_CONSTRAINT_GT: return 'G';
        case SQLITE_INDEX_CONSTRAINT_GE: return 'g';
        case SQLITE_INDEX_CONSTRAINT_LT: return 'L';
        case SQLITE_INDEX_CONSTRAINT_LE: return 'l';
        default: return 0;
    }
}

// The value a field of those reads as in SQL; false when it reads as null.
bool SqlNumber(const FieldDef& f, const uint8_t* image, uint16_t tableType, double& out) {
    bool empty;
    if (f.type == KIV_FT_NUMERIC) {
        empty = !ParseNumericText(std::string_view(reinterpret_cast<const char*>(image) + f.offset, f.length), out);
    } else {
        empty = IsEmptyImage(f, image, tableType);
        if (!empty) DecodeNumber(f, image, tableType, out);
    }
    if (empty) {
        out = 0;
        return !EmptyReadsNull(f.type, tableType);
    }
    if (f.type == KIV_FT_NUMERIC && f.decimals == 0 && std::fabs(out) < 9e18) out = static_cast<double>(std::llround(out));
    return true;
}

// The order of the table's production index whose key is the one field
// `column` (ascending, for every record), or null. Character fields only
// when the statement reads the stored bytes as they are (ANSI).
Tag* FieldOrder(KivVtab* vt, int column) {
    if (!vt->table || column < 0 || static_cast<size_t>(column) >= vt->fields.size()) return nullptr;
    const FieldDef& f = vt->fields[static_cast<size_t>(column)];
    switch (f.type) {
        case KIV_FT_CHARACTER:
            if (vt->session->charType != KIV_CHAR_ANSI) return nullptr;
            break;
        case KIV_FT_NUMERIC: case KIV_FT_INTEGER: case KIV_FT_DOUBLE: case KIV_FT_SHORTINT: case KIV_FT_AUTOINC:
        case KIV_FT_DATE:
            break;
        default: return nullptr;
    }
    TableFile& file = vt->table->file();
    const std::string production =
        vt->tableType == KIV_TABLE_NTX
            ? std::string()
            : FindWithExtension(StripExtension(vt->file), vt->tableType == KIV_TABLE_KDT ? ".kdi" : ".cdx");
    if (production.empty() || !IndexFileServes(production, vt->file)) return nullptr;
    IndexFile* index = file.FindIndexFile(production);
    if (!index) index = file.OpenIndex(production);
    for (auto& tag : index->tags()) {
        if (tag->condition() || tag->descending()) continue;
        const auto segments = tag->key().SegmentFields();
        if (segments.size() == 1 && EqualsNoCase(segments[0], f.name)) return tag.get();
    }
    return nullptr;
}

// Constraints the cursor answers from an order, one letter each in idxStr
// after "column:": E equal, G greater, g greater or equal, L less, l less or
// equal. SQLite still checks every row it gets, so an order only narrows
// the records read.
int BestIndex(sqlite3_vtab* base, sqlite3_index_info* info) {
    auto* vt = reinterpret_cast<KivVtab*>(base);
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& c = info->aConstraint[i];
        if (c.usable && c.iColumn == -1 && c.op == SQLITE_INDEX_CONSTRAINT_EQ) {
            info->aConstraintUsage[i].argvIndex = 1;
            info->aConstraintUsage[i].omit = 1;
            info->idxNum = 1;
            info->estimatedCost = 1;
            info->estimatedRows = 1;
            info->idxFlags = SQLITE_INDEX_SCAN_UNIQUE;
            return SQLITE_OK;
        }
    }
    info->idxNum = 0;
    info->estimatedCost = 1e6;
    const bool opened = !vt->table;
    try {
        EnsureTable(vt);
        // The best column: one with an equality, else one with a range.
        int best = -1;
        bool bestEqual = false;
        for (int i = 0; i < info->nConstraint; ++i) {
            const auto& c = info->aConstraint[i];
            if (!c.usable || c.iColumn < 0) continue;
            const bool equal = c.op == SQLITE_INDEX_CONSTRAINT_EQ;
            const bool range = c.op == SQLITE_INDEX_CONSTRAINT_GT || c.op == SQLITE_INDEX_CONSTRAINT_GE ||
                               c.op == SQLITE_INDEX_CONSTRAINT_LT || c.op == SQLITE_INDEX_CONSTRAINT_LE;
            if (!equal && !range) continue;
            if (best >= 0 && (bestEqual || !equal)) continue;
            Tag* tag = FieldOrder(vt, c.iColumn);
            if (!tag || (!equal && vt->fields[static_cast<size_t>(c.iColumn)].type == KIV_FT_CHARACTER)) continue;
            best = c.iColumn;
            bestEqual = equal;
        }
        if (best >= 0) {
            std::string ops = std::to_string(best) + ":";
            int arg = 0;
            for (int i = 0; i < info->nConstraint; ++i) {
                const auto& c = info->aConstraint[i];
                if (!c.usable || c.iColumn != best) continue;
                char op = 0;
                switch (c.op) {
                    case SQLITE_INDEX_CONSTRAINT_EQ: op = 'E'; break;
                    case SQLITE_INDEX_CONSTRAINT_GT: op = bestEqual ? 0 : 'G'; break;
                    case SQLITE_INDEX_CONSTRAINT_GE: op = bestEqual ? 0 : 'g'; break;
                    case SQLITE_INDEX_CONSTRAINT_LT: op = bestEqual ? 0 : 'L'; break;
                    case SQLITE_INDEX_CONSTRAINT_LE: op = bestEqual ? 0 : 'l'; break;
                }
                if (!op) continue;
                ops += op;
                info->aConstraintUsage[i].argvIndex = ++arg;
            }
            info->idxNum = 2;
            info->idxStr = sqlite3_mprintf("%s", ops.c_str());
            info->needToFreeIdxStr = 1;
            info->estimatedCost = bestEqual ? 10 : 1e4;
            info->estimatedRows = bestEqual ? 10 : 1000;
        } else {
            // A scan: comparisons of number fields are checked on the records.
            std::string plan;
            int arg = 0;
            for (int i = 0; i < info->nConstraint; ++i) {
                const auto& c = info->aConstraint[i];
                if (!c.usable || c.iColumn < 0 || !ScanCheckable(vt->fields[static_cast<size_t>(c.iColumn)])) continue;
                const char op = OpLetter(c.op);
                if (!op) continue;
                plan += std::to_string(c.iColumn) + op;
                info->aConstraintUsage[i].argvIndex = ++arg;
            }
            if (!plan.empty()) {
                info->idxNum = 3;
                info->idxStr = sqlite3_mprintf("%s", plan.c_str());
                info->needToFreeIdxStr = 1;
                info->estimatedCost = 5e5;
            }
        }
    } catch (const std::exception&) {
        // Without the table's orders the cursor scans.
    }
    if (opened) {
        try {
            ReleaseTable(vt);
        } catch (const std::exception&) {
        }
    }
    return SQLITE_OK;
}

int Open(sqlite3_vtab* base, sqlite3_vtab_cursor** out) {
    auto* vt = reinterpret_cast<KivVtab*>(base);
    try {
        EnsureTable(vt);
    } catch (const std::exception& e) {
        return Fail(base, e);
    }
    auto* cur = new KivCursor;
    cur->file = vt->table->connection() ? std::shared_ptr<TableFile>(vt->table, &vt->table->file()) : nullptr;
    ++vt->cursors;
    *out = &cur->base;
    return SQLITE_OK;
}

int Close(sqlite3_vtab_cursor* base) {
    auto* cur = reinterpret_cast<KivCursor*>(base);
    auto* vt = reinterpret_cast<KivVtab*>(base->pVtab);
    delete cur;
    --vt->cursors;
    try {
        ReleaseTableAfterStatement(vt);
    } catch (const std::exception&) {
    }
    return SQLITE_OK;
}

// Points the cursor at recno's image; false when it is deleted.
bool LoadRow(KivCursor* cur) {
    const uint32_t len = cur->file->recordLength();
    if (cur->chunkStamp != cur->file->stamp() || cur->recno < cur->chunkFirst ||
        cur->recno >= cur->chunkFirst + cur->chunkCount) {
        // A scan reads ahead; records found in an order are read in runs of
        // near neighbours.
        uint32_t span = std::min(kChunk, cur->count - cur->recno + 1);
        if (cur->found) {
            constexpr uint32_t kNear = 8;
            uint32_t last = cur->recno;
            for (size_t k = cur->hitAt + 1; k < cur->hits.size(); ++k) {
                const uint32_t next = cur->hits[k];
                if (next - last > kNear || next - cur->recno >= span) break;
                last = next;
            }
            span = last - cur->recno + 1;
        }
        cur->chunk.resize(static_cast<size_t>(span) * len);
        cur->chunkStamp = cur->file->stamp();
        cur->chunkFirst = cur->recno;
        cur->chunkCount = cur->file->ReadRecords(cur->recno, span, cur->chunk.data());
        g_recordsRead += cur->chunkCount;
        if (cur->chunkCount == 0) Throw(KIV_ERR_CORRUPT_FILE, "Record " + std::to_string(cur->recno) + " cannot be read");
    }
    cur->image = &cur->chunk[static_cast<size_t>(cur->recno - cur->chunkFirst) * len];
    return cur->image[0] != '*';
}

// Whether the current record can pass the scan's comparisons: false only
// when SQLite would drop it (null compares to nothing; numbers beyond a
// double's exact integers are left to SQLite).
bool PassesChecks(KivCursor* cur) {
    if (cur->checks.empty()) return true;
    auto* vt = reinterpret_cast<KivVtab*>(cur->base.pVtab);
    for (const auto& c : cur->checks) {
        double v;
        if (!SqlNumber(vt->fields[c.field], cur->image, vt->tableType, v)) return false;
        if (std::fabs(v) > 4e15) continue;
        bool ok = true;
        switch (c.op) {
            case 'E': ok = v == c.value; break;
            case 'G': ok = v > c.value; break;
            case 'g': ok = v >= c.value; break;
            case 'L': ok = v < c.value; break;
            case 'l': ok = v <= c.value; break;
        }
        if (!ok) return false;
    }
    return true;
}

void Advance(KivCursor* cur) {
    if (cur->found) {
        // The next found record that still exists and is not deleted.
        for (; cur->hitAt < cur->hits.size(); ++cur->hitAt) {
            cur->recno = cur->hits[cur->hitAt];
            if (cur->recno >= 1 && cur->recno <= cur->count && LoadRow(cur)) return;
        }
        cur->recno = cur->count + 1;
        return;
    }
    while (cur->recno <= cur->count && !(LoadRow(cur) && PassesChecks(cur))) ++cur->recno;
}

// The records an order holds for the constraints of a BestIndex plan;
// false when the order is gone or a value is no key of it (then the cursor
// scans).
bool FindInOrder(KivCursor* cur, const char* plan, sqlite3_value** argv) {
    auto* vt = reinterpret_cast<KivVtab*>(cur->base.pVtab);
    const char* colon = plan ? std::strchr(plan, ':') : nullptr;
    if (!colon) return false;
    Tag* tag = FieldOrder(vt, std::atoi(plan));
    if (!tag) return false;
    std::string low, high;
    bool haveLow = false, haveHigh = false;
    int arg = 0;
    for (const char* op = colon + 1; *op; ++op, ++arg) {
        sqlite3_value* v = argv[arg];
        if (sqlite3_value_type(v) == SQLITE_NULL) {  // nothing compares equal to null
            cur->hits.clear();
            return true;
        }
        const std::string text(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                               static_cast<size_t>(sqlite3_value_bytes(v)));
        std::string key;
        try {
            key = tag->Stored(tag->key().KeyFromText(text));
        } catch (const EngineError&) {
            return false;
        }
        if (*op == 'E' || *op == 'G' || *op == 'g') {
            if (!haveLow || key > low) low = key;
            haveLow = true;
        }
        if (*op == 'E' || *op == 'L' || *op == 'l') {
            if (!haveHigh || key < high) high = key;
            haveHigh = true;
        }
    }
    const uint32_t first = haveLow ? tag->LowerBound(low) : 0;
    const uint32_t end = haveHigh ? tag->UpperBoundPrefix(high) : tag->Size();
    cur->hits.clear();
    for (uint32_t i = first; i < end; ++i) cur->hits.push_back(tag->RecordAt(i));
    std::sort(cur->hits.begin(), cur->hits.end());
    return true;
}

int Filter(sqlite3_vtab_cursor* base, int idxNum, const char* idxStr, int, sqlite3_value** argv) {
    auto* cur = reinterpret_cast<KivCursor*>(base);
    try {
        cur->count = cur->file->Count(true);
        cur->chunkCount = 0;
        cur->single = idxNum == 1;
        cur->found = idxNum == 2 && FindInOrder(cur, idxStr, argv);
        cur->hitAt = 0;
        cur->checks.clear();
        if (idxNum == 3 && idxStr) {
            // "<field><op>..." with one argument each; numbers only.
            int arg = 0;
            for (const char* p = idxStr; *p; ++arg) {
                char* end = nullptr;
                const size_t field = std::strtoul(p, &end, 10);
                const char op = *end;
                p = end + 1;
                sqlite3_value* v = argv[arg];
                const int kind = sqlite3_value_type(v);
                if (kind != SQLITE_INTEGER && kind != SQLITE_FLOAT) continue;
                const double value = sqlite3_value_double(v);
                if (std::fabs(value) > 4e15) continue;
                cur->checks.push_back({field, op, value});
            }
        }
        if (cur->single) {
            const sqlite3_int64 rowid = sqlite3_value_int64(argv[0]);
            if (rowid < 1 || rowid > cur->count || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
                cur->recno = cur->count + 1;
            } else {
                cur->recno = static_cast<uint32_t>(rowid);
                if (!LoadRow(cur)) cur->recno = cur->count + 1;
            }
            return SQLITE_OK;
        }
        cur->recno = 1;
        Advance(cur);
    } catch (const std::exception& e) {
        return Fail(base->pVtab, e);
    }
    return SQLITE_OK;
}

int Next(sqlite3_vtab_cursor* base) {
    auto* cur = reinterpret_cast<KivCursor*>(base);
    try {
        if (cur->single) {
            cur->recno = cur->count + 1;
            return SQLITE_OK;
        }
        if (cur->found) ++cur->hitAt;
        else ++cur->recno;
        Advance(cur);
    } catch (const std::exception& e) {
        return Fail(base->pVtab, e);
    }
    return SQLITE_OK;
}

int Eof(sqlite3_vtab_cursor* base) {
    auto* cur = reinterpret_cast<KivCursor*>(base);
    return cur->recno > cur->count;
}

// Whether an empty field reads as null in SQL, as the record reads of the
// table type have it.
bool EmptyReadsNull(uint16_t fieldType, uint16_t tableType) {
    if (!IsDbfType(tableType)) return true;
    return fieldType == KIV_FT_DATE || fieldType == KIV_FT_MEMO || fieldType == KIV_FT_BINARY ||
           fieldType == KIV_FT_IMAGE || fieldType == KIV_FT_COMPACTDATE || fieldType == KIV_FT_TIMESTAMP ||
           fieldType == KIV_FT_MODTIME;
}

void ResultText(sqlite3_context* ctx, const std::string& text) {
    // Given without a length, SQLite keeps the text's terminator too, and a
    // caller reading the value as C text later need not copy it again. (A
    // text holding a NUL byte must pass its length.)
    const bool plain = std::memchr(text.data(), 0, text.size()) == nullptr;
    sqlite3_result_text(ctx, text.c_str(), plain ? -1 : static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// A numeric field's digits where a double would not keep them all: an
// integer field as a 64-bit integer, a field with decimals of more than 15
// significant digits as its text ("-0.5", without blanks). False when a
// double holds the value exactly, or the digits are no plain number.
bool ResultExactDigits(sqlite3_context* ctx, const FieldDef& f, const uint8_t* image) {
    std::string_view s(reinterpret_cast<const char*>(image) + f.offset, f.length);
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    const size_t start = !s.empty() && s.front() == '-' ? 1 : 0;
    size_t digits = 0, significant = 0, points = 0;
    for (size_t k = start; k < s.size(); ++k) {
        if (s[k] == '.') {
            ++points;
        } else if (s[k] >= '0' && s[k] <= '9') {
            ++digits;
            if (significant || s[k] != '0') ++significant;
        } else {
            return false;
        }
    }
    if (digits == 0 || points > 1) return false;
    if (points == 0 && f.decimals == 0) {
        int64_t n = 0;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
        if (ec != std::errc() || end != s.data() + s.size()) return false;  // beyond 64 bits: a double
        sqlite3_result_int64(ctx, n);
        return true;
    }
    if (significant <= 15) return false;
    std::string text(s);
    if (text[start] == '.') text.insert(start, 1, '0');
    if (text.back() == '.') text.pop_back();
    ResultText(ctx, text);
    return true;
}

int Column(sqlite3_vtab_cursor* base, sqlite3_context* ctx, int i) {
    auto* cur = reinterpret_cast<KivCursor*>(base);
    auto* vt = reinterpret_cast<KivVtab*>(base->pVtab);
    const FieldDef& f = vt->fields[static_cast<size_t>(i)];
    const uint16_t type = vt->tableType;
    g_valuesRead.fetch_add(1, std::memory_order_relaxed);
    try {
        if (IsBlobType(f.type) && sqlite3_vtab_nochange(ctx)) return SQLITE_OK;  // an UPDATE that leaves it alone
        // An empty field reads as the record reads of its table type read
        // it: null in the engine's own tables; in DBF tables null for dates,
        // timestamps and memo-like fields, and the field's zero (0, false,
        // no text) for the others.
        double number = 0;
        bool empty;
        if (f.type == KIV_FT_NUMERIC) {
            empty = !ParseNumericText(std::string_view(reinterpret_cast<const char*>(cur->image) + f.offset, f.length),
                                      number);
        } else {
            empty = IsEmptyImage(f, cur->image, type);
        }
        if (empty) {
            if (EmptyReadsNull(f.type, type)) sqlite3_result_null(ctx);
            else if (f.type == KIV_FT_NUMERIC && f.decimals) sqlite3_result_double(ctx, 0.0);
            else if (f.type == KIV_FT_NUMERIC || f.type == KIV_FT_LOGICAL) sqlite3_result_int(ctx, 0);
            else ResultText(ctx, std::string());
            return SQLITE_OK;
        }
        if (IsBlobType(f.type)) {
            std::string data = cur->file->ReadBlob(f, cur->image);
            const bool text = f.type == KIV_FT_MEMO || f.type == KIV_FT_VARCHAR;
            if (text) data = StoredToAnsi(data, cur->file->codePage(), vt->session->charType == KIV_CHAR_OEM);
            if (text) ResultText(ctx, data);
            else sqlite3_result_blob(ctx, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
            return SQLITE_OK;
        }
        if (f.type == KIV_FT_NUMERIC && ResultExactDigits(ctx, f, cur->image)) return SQLITE_OK;
        if (f.type == KIV_FT_NUMERIC || f.type == KIV_FT_LOGICAL || f.type == KIV_FT_DOUBLE || f.type == KIV_FT_INTEGER) {
            // Numbers straight from the record, without a text form.
            if (f.type != KIV_FT_NUMERIC) DecodeNumber(f, cur->image, type, number);
            if (f.type == KIV_FT_DOUBLE || (f.type == KIV_FT_NUMERIC && f.decimals)) sqlite3_result_double(ctx, number);
            else sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(std::llround(number)));
            return SQLITE_OK;
        }
        const Value v = DecodeField(f, cur->image, type);
        switch (v.kind) {
            case Value::Kind::Empty: sqlite3_result_null(ctx); break;
            case Value::Kind::Text: {
                std::string s = v.text;
                while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
                s = StoredToAnsi(s, cur->file->codePage(), vt->session->charType == KIV_CHAR_OEM);
                ResultText(ctx, s);
                break;
            }
            case Value::Kind::Bytes:
                sqlite3_result_blob(ctx, v.text.data(), static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
                break;
            case Value::Kind::Number:
                if (f.type == KIV_FT_NUMERIC && f.decimals == 0 && std::fabs(v.number) < 9e18)
                    sqlite3_result_int64(ctx, std::llround(v.number));
                else sqlite3_result_double(ctx, v.number);
                break;
            case Value::Kind::Integer:
                if (f.type == KIV_FT_MONEY) sqlite3_result_double(ctx, static_cast<double>(v.integer) / 10000.0);
                else sqlite3_result_int64(ctx, v.integer);
                break;
            case Value::Kind::Date: ResultText(ctx, IsoFromJulian(v.julian)); break;
            case Value::Kind::Time: ResultText(ctx, FormatTime(v.ms)); break;
            case Value::Kind::Stamp: ResultText(ctx, IsoFromJulian(v.julian) + " " + FormatTime(v.ms)); break;
            case Value::Kind::Logical: sqlite3_result_int(ctx, v.logical ? 1 : 0); break;
        }
    } catch (const std::exception& e) {
        sqlite3_result_error(ctx, e.what(), -1);
        return SQLITE_ERROR;
    }
    return SQLITE_OK;
}

int Rowid(sqlite3_vtab_cursor* base, sqlite3_int64* rowid) {
    *rowid = reinterpret_cast<KivCursor*>(base)->recno;
    return SQLITE_OK;
}

Value FromSql(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_NULL: return Value::Empty();
        case SQLITE_INTEGER: return Value::OfInteger(sqlite3_value_int64(v));
        case SQLITE_FLOAT: return Value::OfNumber(sqlite3_value_double(v));
        case SQLITE_BLOB:
            return Value::OfBytes(std::string(static_cast<const char*>(sqlite3_value_blob(v)),
                                              static_cast<size_t>(sqlite3_value_bytes(v))));
        default:
            return Value::OfText(std::string(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                                             static_cast<size_t>(sqlite3_value_bytes(v))));
    }
}

bool Automatic(const FieldDef& f) {
    return f.type == KIV_FT_ROWVERSION || f.type == KIV_FT_MODTIME;
}

// Writes the statement's values into the current record of the table.
void ApplyValues(KivVtab* vt, sqlite3_value** values, bool insert) {
    Table& t = *vt->table;
    for (size_t i = 0; i < vt->fields.size(); ++i) {
        const FieldDef& f = vt->fields[i];
        sqlite3_value* v = values[i];
        if (Automatic(f) || sqlite3_value_nochange(v)) continue;
        if (insert && f.type == KIV_FT_AUTOINC && sqlite3_value_type(v) == SQLITE_NULL) continue;
        Value value = FromSql(v);
        if (f.type == KIV_FT_MONEY && value.kind == Value::Kind::Number) {
            value = Value::OfText(std::to_string(value.number));
        }
        const KIVRESULT rc = t.SetValue(static_cast<int>(i), value);
        if (rc == KIV_ERR_VALUE_CUT)
            Throw(KIV_ERR_VALUE_CUT, "The value for column " + f.name + " is longer than the column");
    }
}

// Checks that every value converts before anything is written.
void CheckValues(KivVtab* vt, sqlite3_value** values) {
    std::vector<uint8_t> scratch = vt->table->file().BlankImage();
    for (size_t i = 0; i < vt->fields.size(); ++i) {
        const FieldDef& f = vt->fields[i];
        sqlite3_value* v = values[i];
        if (Automatic(f) || IsBlobType(f.type) || sqlite3_value_nochange(v)) continue;
        if (f.type == KIV_FT_AUTOINC && sqlite3_value_type(v) == SQLITE_NULL) continue;
        Value value = FromSql(v);
        if ((f.type == KIV_FT_CHARACTER || f.type == KIV_FT_CICHARACTER) && value.kind == Value::Kind::Text)
            value.text = AnsiToStored(value.text, vt->table->file().codePage(), vt->session->charType == KIV_CHAR_OEM, f.name);
        if (f.type == KIV_FT_MONEY && value.kind == Value::Kind::Number) value = Value::OfText(std::to_string(value.number));
        if (EncodeField(f, scratch.data(), vt->tableType, value) == KIV_ERR_VALUE_CUT)
            Throw(KIV_ERR_VALUE_CUT, "The value for column " + f.name + " is longer than the column");
        // A NUMERIC column with decimals in the engine's own tables takes no
        // more digits than the precision it is described with (its width
        // keeps a place for the sign, which a positive value need not use).
        if (f.type == KIV_FT_NUMERIC && f.decimals && vt->tableType == KIV_TABLE_KDT) {
            const std::string_view s(reinterpret_cast<const char*>(scratch.data()) + f.offset, f.length);
            const uint32_t precision = NumericPrecision(f.length, f.decimals);
            const size_t wholeRoom = precision > f.decimals ? precision - f.decimals : 0;
            const size_t first = s.find_first_of("123456789");
            const size_t point = std::min(s.find('.'), s.size());
            if (first < point && point - first > wholeRoom)
                Throw(KIV_ERR_VALUE_CUT, "The value for column " + f.name + " has more digits than the column");
        }
    }
}

void JoinSqlTransaction(KivVtab* vt);

int Update(sqlite3_vtab* base, int argc, sqlite3_value** argv, sqlite3_int64* rowid) {
    auto* vt = reinterpret_cast<KivVtab*>(base);
    try {
        EnsureTable(vt);
        JoinSqlTransaction(vt);
        Table& t = *vt->table;
        if (argc == 1) {
            t.GoTo(static_cast<uint32_t>(sqlite3_value_int64(argv[0])));
            t.Delete(true);
            return SQLITE_OK;
        }
        if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
            if (sqlite3_value_type(argv[1]) != SQLITE_NULL)
                Throw(KIV_ERR_INVALID_ARGUMENT, "Record numbers are given by the engine");
            CheckValues(vt, argv + 2);
            t.Append();
            ApplyValues(vt, argv + 2, true);
            t.Flush();
            t.UnlockAll();
            *rowid = t.physicalRecord();
            vt->session->lastAutoinc = t.lastAutoinc();
            return SQLITE_OK;
        }
        const sqlite3_int64 oldRow = sqlite3_value_int64(argv[0]);
        if (sqlite3_value_int64(argv[1]) != oldRow)
            Throw(KIV_ERR_INVALID_ARGUMENT, "Record numbers cannot be changed");
        CheckValues(vt, argv + 2);
        t.GoTo(static_cast<uint32_t>(oldRow));
        ApplyValues(vt, argv + 2, false);
        t.Flush();
    } catch (const std::exception& e) {
        if (vt->table && vt->table->dirty()) vt->table->Cancel();
        return Fail(base, e);
    }
    return SQLITE_OK;
}

// SQL transactions are the connection's: a write inside BEGIN ... joins
// (or begins) its transaction, and COMMIT and ROLLBACK end it as the
// engine's calls do. A statement outside one writes as a single change does.
void JoinSqlTransaction(KivVtab* vt) {
    if (vt->inSqlTransaction || sqlite3_get_autocommit(vt->session->db())) return;
    Connection& conn = vt->session->connection();
    if (!conn.InTransaction()) conn.Begin();
    vt->inSqlTransaction = true;
}

// (A table made inside a transaction joins it without this call: its
// writes join through Update.)
int Begin(sqlite3_vtab* base) {
    try {
        JoinSqlTransaction(reinterpret_cast<KivVtab*>(base));
    } catch (const std::exception& e) {
        return Fail(base, e);
    }
    return SQLITE_OK;
}

int Sync(sqlite3_vtab*) { return SQLITE_OK; }

int EndTransaction(sqlite3_vtab* base, bool commit) {
    auto* vt = reinterpret_cast<KivVtab*>(base);
    try {
        Connection& conn = vt->session->connection();
        const bool joined = vt->inSqlTransaction;
        vt->inSqlTransaction = false;
        if (joined && conn.InTransaction()) {
            if (commit) conn.CommitWork();
            else conn.RollbackWork();
        }
        ReleaseTableAfterStatement(vt);
    } catch (const std::exception& e) {
        return Fail(base, e);
    }
    return SQLITE_OK;
}

int Commit(sqlite3_vtab* base) { return EndTransaction(base, true); }
int Rollback(sqlite3_vtab* base) { return EndTransaction(base, false); }

// SQL savepoints (and the ones SQLite takes around a statement inside a
// transaction) are savepoints of the connection's transaction, named by
// their level. Every table in the transaction hears of each: the first one
// acts.
std::string SavepointName(int level) { return "\x01SQL" + std::to_string(level); }

template <class Fn>
int OnSavepoint(sqlite3_vtab* base, Fn fn) {
    auto* vt = reinterpret_cast<KivVtab*>(base);
    try {
        Connection& conn = vt->session->connection();
        if (conn.InTransaction()) fn(conn);
    } catch (const std::exception& e) {
        return Fail(base, e);
    }
    return SQLITE_OK;
}

int Savepoint(sqlite3_vtab* base, int level) {
    return OnSavepoint(base, [level](Connection& conn) {
        if (!conn.HasSavepoint(SavepointName(level))) conn.Savepoint(SavepointName(level));
    });
}

int Release(sqlite3_vtab* base, int level) {
    return OnSavepoint(base, [level](Connection& conn) { conn.ReleaseSavepoint(SavepointName(level)); });
}

int RollbackTo(sqlite3_vtab* base, int level) {
    return OnSavepoint(base, [level](Connection& conn) {
        // (Unlike a whole rollback, pending edits of the caller's handles stay.)
        if (conn.HasSavepoint(SavepointName(level))) conn.Rollback(SavepointName(level));
    });
}

sqlite3_module MakeModule() {
    sqlite3_module m{};
    m.iVersion = 2;
    m.xCreate = Connect;
    m.xConnect = Connect;
    m.xBestIndex = BestIndex;
    m.xDisconnect = Disconnect;
    m.xDestroy = Disconnect;
    m.xOpen = Open;
    m.xClose = Close;
    m.xFilter = Filter;
    m.xNext = Next;
    m.xEof = Eof;
    m.xColumn = Column;
    m.xRowid = Rowid;
    m.xUpdate = Update;
    m.xBegin = Begin;
    m.xSync = Sync;
    m.xCommit = Commit;
    m.xRollback = Rollback;
    m.xSavepoint = Savepoint;
    m.xRelease = Release;
    m.xRollbackTo = RollbackTo;
    return m;
}

const sqlite3_module kModule = MakeModule();

// ------------------------------------------------------------------ functions

void Exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        const std::string text = err ? err : "unknown error";
        sqlite3_free(err);
        ThrowSqlError(db, text);
    }
}

// Quotes every unquoted use of a dotted name ("cust.dbf") so that SQLite
// takes it for one table name.
std::string QuoteDottedName(const std::string& sql, const std::string& name) {
    std::string out;
    const std::string upperName = Upper(name);
    size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (c == '\'' || c == '"' || c == '[') {
            const size_t end = SkipQuoted(sql, i);
            out.append(sql, i, end - i);
            i = end;
            continue;
        }
        const bool boundary = i == 0 || !(std::isalnum(static_cast<unsigned char>(sql[i - 1])) || sql[i - 1] == '_');
        if (boundary && Upper(sql.substr(i, name.size())) == upperName) {
            const size_t after = i + name.size();
            if (after >= sql.size() || !(std::isalnum(static_cast<unsigned char>(sql[after])) || sql[after] == '_')) {
                out += QuoteIdent(sql.substr(i, name.size()));
                i = after;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}

}  // namespace

// ------------------------------------------------------------------ session

uint64_t SqlRecordsRead() { return g_recordsRead; }
uint64_t SqlValuesRead() { return g_valuesRead; }

SqlSession::SqlSession(Connection& connection) : connection_(connection) {
    if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db_);
        Throw(KIV_ERR_OUT_OF_MEMORY, "Cannot start the SQL engine");
    }
    sqlite3_create_module(db_, "kiv", &kModule, this);
    RegisterSqlFunctions(db_, this);
    sqlite3_create_collation(db_, kNoCaseRtrim, SQLITE_UTF8, nullptr, CompareNoCaseRtrim);
    try {
        if (connection_.dictionary) {
            sqlite3_stmt* attach = nullptr;
            const std::string uri = "file:" + connection_.dictionary->path() + "?mode=ro";
            sqlite3_prepare_v2(db_, "ATTACH DATABASE ?1 AS system", -1, &attach, nullptr);
            sqlite3_bind_text(attach, 1, uri.c_str(), -1, SQLITE_TRANSIENT);
            const int rc = sqlite3_step(attach);
            sqlite3_finalize(attach);
            if (rc != SQLITE_DONE) ThrowSqlError(db_);
        } else {
            Exec(db_, "ATTACH DATABASE ':memory:' AS system;"
                      "CREATE TABLE system.tables(name TEXT, file TEXT, table_type INTEGER);"
                      "CREATE TABLE system.columns(parent TEXT, field_num INTEGER, name TEXT, field_type INTEGER,"
                      " field_length INTEGER, field_decimal INTEGER);");
        }
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

SqlSession::~SqlSession() {
    // (Abandon takes the result out of the set.)
    while (!pendingResults.empty()) (*pendingResults.begin())->Abandon();
    sqlite3_close_v2(db_);
}

void SqlSession::FinishPendingResults() {
    // (a result being read reads what it needs itself; every record write
    // asks, so nothing pending costs nothing)
    if (finishing_ || pendingResults.empty()) return;
    finishing_ = true;
    const std::set<PendingResult*> pending = pendingResults;
    for (PendingResult* result : pending)
        if (pendingResults.count(result)) result->ReadToEnd();
    finishing_ = false;
}

void SqlSession::ReleaseTables() {
    const std::set<KivVtab*> kept = std::move(tablesKept);
    tablesKept.clear();
    for (KivVtab* vt : kept) {
        try {
            ReleaseTable(vt);
        } catch (const std::exception&) {
            // a table that cannot write its pending record reports it at its next use
        }
    }
}

std::string SqlSession::ResolveTableFile(const std::string& name, uint16_t& type) {
    type = 0;
    if (connection_.dictionary) {
        if (auto entry = connection_.dictionary->FindTable(name)) {
            type = entry->type;
            return entry->file;
        }
    }
    const std::string mapped = MapPath(name, connection_.tableFolder());
    if (!Extension(FilePart(mapped)).empty()) return FileExists(mapped) ? mapped : std::string();
    for (const char* ext : {".dbf", ".kdt"})
        if (std::string found = FindWithExtension(mapped, ext); !found.empty()) return found;
    return std::string();
}

void SqlSession::MakeVirtualTable(const std::string& name) {
    // The file's name and its first open take one reading of the folder.
    kivwin::FolderSnapshot folder;
    uint16_t type = 0;
    const std::string file = ResolveTableFile(name, type);
    if (file.empty()) ThrowSqlError(2122, "Table not found: " + name);
    if (!type) type = tableType == KIV_TABLE_KDT ? KIV_TABLE_CDX : tableType;
    const std::string layout = FieldLayout(file);
    Exec(db_, "CREATE VIRTUAL TABLE temp." + QuoteIdent(name) + " USING kiv(" + QuoteLiteral(file) + ", " +
                  std::to_string(type) + ")");
    virtualTables_[name] = {file, layout};
}

void SqlSession::DropChangedTables() {
    for (auto it = virtualTables_.begin(); it != virtualTables_.end();) {
        const std::string layout = FieldLayout(it->second.file);
        if (!layout.empty() && layout == it->second.layout) {
            ++it;
            continue;
        }
        // A result still reading the table reads it to its end first.
        FinishPendingResults();
        sqlite3_exec(db_, ("DROP TABLE IF EXISTS temp." + QuoteIdent(it->first)).c_str(), nullptr, nullptr, nullptr);
        it = virtualTables_.erase(it);
    }
}

sqlite3_stmt* SqlSession::Prepare(const std::string& text) {
    // Another database chosen: its names mean other files.
    if (std::string folder = connection_.tableFolder(); folder != folder_) {
        if (!virtualTables_.empty()) FinishPendingResults();
        for (const auto& [name, table] : virtualTables_)
            sqlite3_exec(db_, ("DROP TABLE IF EXISTS temp." + QuoteIdent(name)).c_str(), nullptr, nullptr, nullptr);
        virtualTables_.clear();
        folder_ = std::move(folder);
    }
    // A table made again (or replaced by one of another type) since: its
    // columns are declared anew.
    DropChangedTables();
    std::string sql = RewriteEscapes(text);
    for (int attempt = 0; attempt < 64; ++attempt) {
        sqlite3_stmt* stmt = nullptr;
        const char* tail = nullptr;
        const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, &tail);
        if (rc == SQLITE_OK) {
            if (!stmt) ThrowSqlError(2113, "Unexpected end of SQL statement");
            for (; tail && *tail; ++tail) {
                if (!std::isspace(static_cast<unsigned char>(*tail)) && *tail != ';') {
                    sqlite3_finalize(stmt);
                    ThrowSqlError(2117, "Unexpected token: " + std::string(tail));
                }
            }
            return stmt;
        }
        const std::string message = sqlite3_errmsg(db_);
        static const std::string kMissing = "no such table: ";
        if (message.compare(0, kMissing.size(), kMissing) != 0) {
            const int offset = sqlite3_error_offset(db_);
            ThrowSqlError(db_, offset < 0 ? message : message + " at position " + std::to_string(offset + 1));
        }
        std::string name = message.substr(kMissing.size());
        const size_t dot = name.find('.');
        if (dot != std::string::npos) {
            const std::string schema = Upper(name.substr(0, dot));
            if (schema == "MAIN" || schema == "TEMP" || schema == "SYSTEM") ThrowSqlError(2122, "Table not found: " + name);
            // An unquoted "cust.dbf" was read as table "dbf" of a schema "cust".
            const std::string quoted = QuoteDottedName(sql, name);
            if (quoted != sql) {
                sql = quoted;
                sqlite3_stmt* probe = nullptr;
                sqlite3_prepare_v2(db_, ("SELECT 1 FROM temp." + QuoteIdent(name) + " LIMIT 0").c_str(), -1, &probe,
                                   nullptr);
                const bool exists = probe != nullptr;
                sqlite3_finalize(probe);
                if (exists) continue;
            }
        }
        MakeVirtualTable(name);
    }
    ThrowSqlError(2119, "Too many tables in one statement");
}

}  // namespace qel32
