#include "statement.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "dates.h"
#include "dictionary.h"
#include "paths.h"
#include "sqlfunctions.h"
#include "sqlsession.h"
#include "table.h"

namespace qel32 {

namespace {

std::string FirstWords(const std::string& text, int n) {
    std::string out;
    size_t i = 0;
    for (int w = 0; w < n; ++w) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        size_t j = i;
        while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j])) && text[j] != '(') ++j;
        if (j == i) break;
        out += (out.empty() ? "" : " ") + Upper(text.substr(i, j - i));
        i = j;
    }
    return out;
}

// A result column's definition when SQLite knows no declared type.
FieldDef GuessedField(const std::string& name) {
    FieldDef f;
    const std::string upper = Upper(name);
    if (upper.rfind("COUNT(", 0) == 0) f.type = KIV_FT_INTEGER;
    else if (upper.rfind("SUM(", 0) == 0 || upper.rfind("AVG(", 0) == 0 || upper.rfind("TOTAL(", 0) == 0) {
        f.type = KIV_FT_DOUBLE;  // full precision
    } else {
        f.type = KIV_FT_CHARACTER;
        f.maxLength = 254;
    }
    return f;
}

// Field names of a result must be distinct and storable.
void MakeNamesUsable(std::vector<FieldDef>& fields) {
    for (size_t i = 0; i < fields.size(); ++i) {
        std::string& n = fields[i].name;
        for (char& c : n)
            if (c == ',' || c == ';' || static_cast<unsigned char>(c) < 0x20) c = '_';
        if (n.empty()) n = "EXPR_" + std::to_string(i + 1);
        if (n.size() > 120) n.resize(120);
        const std::string base = n;
        for (int k = 2;; ++k) {
            bool clash = false;
            for (size_t j = 0; j < i; ++j) clash = clash || EqualsNoCase(fields[j].name, n);
            if (!clash) break;
            n = base + "_" + std::to_string(k);
        }
    }
}

// Words of an SQL text with their offsets: names (dots, '$', '#', '\\', '/'
// and ':' included, so that file names stay whole), quoted names and
// literals, and single punctuation characters.
struct Token {
    std::string text;
    size_t offset;
    bool Is(const char* word) const { return EqualsNoCase(text, word); }
};

std::vector<Token> Tokenize(const std::string& sql) {
    std::vector<Token> tokens;
    auto nameChar = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#' || c == '.' ||
               c == '\\' || c == '/' || c == ':';
    };
    size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        const size_t start = i;
        if (c == '"' || c == '\'') {
            for (++i; i < sql.size(); ++i) {
                if (sql[i] == c) {
                    if (i + 1 < sql.size() && sql[i + 1] == c) {
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
            }
        } else if (nameChar(c)) {
            while (i < sql.size() && nameChar(sql[i])) ++i;
        } else {
            ++i;
        }
        tokens.push_back({sql.substr(start, i - start), start});
    }
    return tokens;
}

// A quoted name without its quotes.
std::string Unquoted(const std::string& name) {
    if (name.size() < 2 || name.front() != '"') return name;
    std::string out;
    for (size_t i = 1; i + 1 < name.size(); ++i) {
        out += name[i];
        if (name[i] == '"' && name[i + 1] == '"') ++i;
    }
    return out;
}

bool IsName(const Token& t) {
    return !t.text.empty() && (t.text[0] == '"' || std::isalpha(static_cast<unsigned char>(t.text[0])) || t.text[0] == '_' ||
                               t.text[0] == '#');
}

// A name of letters, digits and underscores that starts with a letter.
bool IsPlainWord(const Token& t) {
    if (t.text.empty() || !std::isalpha(static_cast<unsigned char>(t.text[0]))) return false;
    return std::all_of(t.text.begin(), t.text.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

// Where the table name stands in "SELECT * | name, ... FROM table ...", whose
// names pass `isName`; 0 when the text does not begin that way.
size_t PlainSelectTable(const std::vector<Token>& tokens, bool (*isName)(const Token&)) {
    const size_t n = tokens.size();
    if (n == 0 || !tokens[0].Is("SELECT")) return 0;
    size_t i = 1;
    if (i < n && tokens[i].text == "*") {
        ++i;
    } else {
        for (;;) {
            if (i >= n || !isName(tokens[i]) || tokens[i].Is("FROM")) return 0;
            if (++i < n && tokens[i].text == ",") {
                ++i;
                continue;
            }
            break;
        }
    }
    return i + 1 < n && tokens[i].Is("FROM") && isName(tokens[i + 1]) ? i + 1 : 0;
}

// Removes a table file with its memo and index files.
void RemoveTableFiles(const std::string& path) {
    const std::string stem = StripExtension(path);
    for (const char* ext : {".dbt", ".fpt", ".kdm", ".cdx", ".kdi"})
        if (std::string f = FindWithExtension(stem, ext); !f.empty()) ::unlink(f.c_str());
    ::unlink(ChangeLogPath(path).c_str());
    if (::unlink(path.c_str()) != 0) Throw(KIV_ERR_IO, "Cannot remove " + path);
}

std::string TempCursorPath() {
    const char* dir = std::getenv("TMPDIR");
    std::string tmpl = std::string(dir && *dir ? dir : "/tmp") + "/kivcur-XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) Throw(KIV_ERR_IO, "Cannot create a temporary file for a result");
    ::close(fd);
    ::unlink(tmpl.c_str());
    return tmpl + ".kdt";
}

// The engine's error for a failed step of a statement of the session: an
// engine failure inside a virtual table keeps its own code.
[[noreturn]] void ThrowStepError(SqlSession& sql) {
    const uint32_t code = LastErrorCode();
    if (code && code != KIV_ERR_SQL) Throw(code, LastErrorText());
    ThrowSqlError(sql.db());
}

}  // namespace

Statement::Statement(std::shared_ptr<Connection> connection)
    : Object(qel32::Kind::Statement), connection_(std::move(connection)) {}

Statement::~Statement() { sqlite3_finalize(stmt_); }

void Statement::Reset() {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    text_.clear();
    params_.clear();
    rowsAffected = -1;
    kind_ = Kind::Other;
    prepareCode_ = 0;
    prepareText_.clear();
}

void Statement::Prepare(const std::string& text) {
    Reset();
    try {
        PrepareText(text);
    } catch (const EngineError& e) {
        Reset();
        prepareCode_ = e.code();
        prepareText_ = e.what();
        throw;
    }
}

void Statement::CheckPrepared() const {
    if (prepared()) return;
    if (prepareCode_) Throw(prepareCode_, prepareText_);
    Throw(KIV_ERR_INVALID_ARGUMENT, "The statement is not prepared");
}

void Statement::PrepareText(const std::string& text) {
    std::string rewritten = RewriteEscapes(text);
    while (!rewritten.empty() && (std::isspace(static_cast<unsigned char>(rewritten.back())) || rewritten.back() == ';'))
        rewritten.pop_back();
    if (rewritten.find_first_not_of(" \t\r\n") == std::string::npos)
        Throw(KIV_ERR_EMPTY_ARGUMENT, "The SQL statement is empty");
    const std::string head = FirstWords(rewritten, 2);
    if (head == "CREATE TABLE") kind_ = Kind::CreateTable;
    else if (head == "DROP TABLE") kind_ = Kind::DropTable;
    else if (head.rfind("EXECUTE", 0) == 0 || head.rfind("CREATE", 0) == 0 || head.rfind("DROP", 0) == 0 ||
             head.rfind("GRANT", 0) == 0 || head.rfind("REVOKE", 0) == 0 || head.rfind("ALTER", 0) == 0)
        ThrowSqlError(2103, "Not supported: " + head);
    else {
        SqlSession& sql = connection_->Sql();
        sql.tableType = tableType;
        stmt_ = sql.Prepare(rewritten);
        kind_ = sqlite3_column_count(stmt_) > 0 ? Kind::Query : Kind::Change;
    }
    text_ = rewritten;
}

// The expressions of a select's result columns, without their aliases, in
// order; empty when the list has a "*" or cannot be read that simply.
std::vector<std::string> SelectItemTexts(const std::string& sql, size_t* fromAt = nullptr) {
    const auto tokens = Tokenize(sql);
    std::vector<std::string> items;
    if (tokens.empty() || !tokens[0].Is("SELECT")) return items;
    size_t i = 1;
    if (i < tokens.size() && (tokens[i].Is("DISTINCT") || tokens[i].Is("ALL"))) ++i;
    size_t first = i;
    int depth = 0;
    auto close = [&](size_t end) {  // the item of tokens [first, end)
        size_t last = end;
        if (last - first >= 3 && tokens[last - 2].Is("AS")) last -= 2;
        else if (last - first >= 2 && IsName(tokens[last - 1]) && (tokens[last - 2].text == ")" || IsName(tokens[last - 2])))
            last -= 1;  // an alias without AS
        if (last <= first) return false;
        const Token& end_ = tokens[last - 1];
        items.push_back(sql.substr(tokens[first].offset, end_.offset + end_.text.size() - tokens[first].offset));
        const std::string& item = items.back();
        return item != "*" && !(item.size() > 2 && item.compare(item.size() - 2, 2, ".*") == 0);
    };
    for (; i < tokens.size(); ++i) {
        const std::string& t = tokens[i].text;
        if (t == "(") ++depth;
        else if (t == ")") --depth;
        else if (depth == 0 && (t == "," || tokens[i].Is("FROM"))) {
            if (!close(i)) return {};
            if (tokens[i].Is("FROM")) {
                if (fromAt) *fromAt = tokens[i].offset;
                return items;
            }
            first = i + 1;
        }
    }
    if (!close(tokens.size())) return {};
    return items;
}

std::vector<FieldDef> Statement::Describe() {
    std::vector<FieldDef> fields;
    if (kind_ != Kind::Query) return fields;
    const int n = sqlite3_column_count(stmt_);
    // Columns of tables say what they are; computed ones are seen in a run
    // of the statement (with its parameters as they stand), so that the
    // description is what the result will hold.
    bool computed = false;
    for (int i = 0; i < n; ++i) {
        FieldDef probe;
        const char* decl = sqlite3_column_decltype(stmt_, i);
        computed = computed || !decl || !FieldFromDeclaredType(decl, probe);
    }
    Collected run;
    run.seen.assign(static_cast<size_t>(n), SQLITE_NULL);
    run.longest.assign(static_cast<size_t>(n), 1);
    if (computed) {
        SqlSession& sql = connection_->Sql();
        sql.charType = charType;
        sql.tableType = tableType;
        sql.passwords = passwords;
        try {
            Collect(run, false);
        } catch (const EngineError&) {
            // An interrupted run stops here; one that cannot go yet (a
            // missing parameter, a lock) leaves the guesses.
            if (sqlite3_errcode(sql.db()) == SQLITE_INTERRUPT) throw;
            run.seen.assign(static_cast<size_t>(n), SQLITE_NULL);
        }
    }
    fields = ResultFields(run);
    LayoutFields(fields, KIV_TABLE_KDT);
    return fields;
}

void Statement::SetParameter(KIVFIELD field, const Value& value) {
    CheckPrepared();
    const auto number = reinterpret_cast<uintptr_t>(field);
    int index;
    if (number < KIV_FIELD_NUMBER_LIMIT) {
        index = static_cast<int>(number);
    } else {
        std::string name = field;
        if (!name.empty() && name[0] != ':' && name[0] != '?') name = ":" + name;
        index = stmt_ ? sqlite3_bind_parameter_index(stmt_, name.c_str()) : 0;
    }
    const int count = stmt_ ? sqlite3_bind_parameter_count(stmt_) : 0;
    if (index < 1 || index > count)
        Throw(KIV_ERR_INVALID_ARGUMENT, "The statement has no parameter " + std::to_string(index));
    if (params_.size() < static_cast<size_t>(count)) params_.resize(static_cast<size_t>(count));
    params_[static_cast<size_t>(index - 1)] = value;
}

void Statement::Bind(sqlite3_stmt* stmt) {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    const int count = sqlite3_bind_parameter_count(stmt);
    for (int i = 1; i <= count && static_cast<size_t>(i) <= params_.size(); ++i) {
        const Value& v = params_[static_cast<size_t>(i - 1)];
        switch (v.kind) {
            case Value::Kind::Empty: sqlite3_bind_null(stmt, i); break;
            case Value::Kind::Text:
                sqlite3_bind_text(stmt, i, v.text.data(), static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
                break;
            case Value::Kind::Bytes:
                sqlite3_bind_blob(stmt, i, v.text.data(), static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
                break;
            case Value::Kind::Number: sqlite3_bind_double(stmt, i, v.number); break;
            case Value::Kind::Integer: sqlite3_bind_int64(stmt, i, v.integer); break;
            case Value::Kind::Logical: sqlite3_bind_int(stmt, i, v.logical ? 1 : 0); break;
            case Value::Kind::Date: {
                const std::string t = IsoFromJulian(v.julian);
                sqlite3_bind_text(stmt, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
                break;
            }
            case Value::Kind::Time: {
                const std::string t = FormatTime(v.ms);
                sqlite3_bind_text(stmt, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
                break;
            }
            case Value::Kind::Stamp: {
                const std::string t = IsoFromJulian(v.julian) + " " + FormatTime(v.ms);
                sqlite3_bind_text(stmt, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
                break;
            }
        }
    }
}

bool Statement::LeftToCaller(const std::string& text) {
    if (connection_->dictionary) return false;
    const auto tokens = Tokenize(text);
    const size_t at = PlainSelectTable(tokens, IsPlainWord);
    if (at == 0 || at + 1 != tokens.size()) return false;
    const std::string& name = tokens[at].text;
    const std::string file =
        FindWithExtension(MapPath(name, connection_->directory()), tableType == KIV_TABLE_KDT ? ".kdt" : ".dbf");
    // (The caller opens tables in the connection's folder; after "use" the
    // SQL finds them in the chosen one, and then the two files differ.)
    uint16_t type = 0;
    if (file.empty() || connection_->Sql().ResolveTableFile(name, type) != file) return false;
    try {
        return !TableFile::Open(file, tableType, false)->encrypted() || passwords.count(Upper(Unquoted(name)));
    } catch (const std::exception&) {
        return false;
    }
}

// COMMIT or ROLLBACK (not ROLLBACK TO) while SQL has no transaction open
// ends the connection's open one, the one the engine's calls began.
bool Statement::EndsOpenTransaction() {
    Connection& conn = *connection_;
    if (!conn.InTransaction() || !sqlite3_get_autocommit(connection_->Sql().db())) return false;
    std::string words = FirstWords(text_, 4);
    while (!words.empty() && (words.back() == ';' || words.back() == ' ')) words.pop_back();
    const bool commit = words == "COMMIT" || words == "END" || words == "COMMIT TRANSACTION" ||
                        words == "END TRANSACTION";
    const bool rollback = words == "ROLLBACK" || words == "ROLLBACK TRANSACTION";
    if (commit) conn.CommitWork();
    else if (rollback) conn.RollbackWork();
    return commit || rollback;
}

std::shared_ptr<Table> Statement::Execute() {
    CheckPrepared();
    rowsAffected = -1;
    // Results still being read were taken before what this one changes.
    if (kind_ != Kind::Query) connection_->FinishResults();
    SqlSession& sql = connection_->Sql();
    sql.charType = charType;
    sql.tableType = tableType;
    sql.passwords = passwords;
    switch (kind_) {
        case Kind::CreateTable: CreateTable(); return nullptr;
        case Kind::DropTable: DropTable(); return nullptr;
        case Kind::Query: {
            if (readOnly == 2) {
                // A plain select of one table gives a live cursor over it:
                // SELECT * | name, ... FROM table [WHERE ...] [ORDER BY ...]
                const auto tokens = Tokenize(text_);
                const size_t at = PlainSelectTable(tokens, IsName);
                bool plain = at != 0;
                const size_t restAt = at + 1;
                if (plain && restAt < tokens.size())
                    plain = tokens[restAt].Is("WHERE") || tokens[restAt].Is("ORDER");
                for (size_t k = restAt; plain && k < tokens.size(); ++k)
                    plain = !(tokens[k].Is("JOIN") || tokens[k].Is("GROUP") || tokens[k].Is("UNION") ||
                              tokens[k].Is("HAVING") || tokens[k].Is("DISTINCT"));
                if (plain) {
                    const std::string rest = restAt < tokens.size() ? text_.substr(tokens[restAt].offset) : "";
                    return LiveCursor(Unquoted(tokens[at].text), rest);
                }
            }
            if (std::shared_ptr<Table> cursor = CopiedCursor()) {
                lastAutoinc = sql.lastAutoinc;
                return cursor;
            }
            return StaticCursor();
        }
        case Kind::Change: {
            if (EndsOpenTransaction()) return nullptr;
            Bind(stmt_);
            // A statement changes all its rows or none: its changes are
            // logged (in a transaction of its own, or after a mark in the
            // open one) and undone when a row fails. Inside SQL's BEGIN the
            // open one is the connection's, which COMMIT or ROLLBACK ends.
            static const std::string kMark = "\x01STATEMENT";
            Connection& conn = *connection_;
            if (!sqlite3_get_autocommit(sql.db()) && !conn.InTransaction()) conn.Begin();
            const bool own = !conn.InTransaction();
            if (own) conn.Begin();
            else conn.Savepoint(kMark);
            int rc;
            ClearLastError();
            while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
            }
            sqlite3_reset(stmt_);
            if (rc != SQLITE_DONE) {
                // An engine failure inside a virtual table keeps its own code.
                const uint32_t code = LastErrorCode();
                const std::string text = LastErrorText();
                try {
                    if (own) {
                        conn.Rollback();
                    } else {
                        conn.Rollback(kMark);
                        conn.ReleaseSavepoint(kMark);
                    }
                } catch (const EngineError&) {
                }
                if (code && code != KIV_ERR_SQL) Throw(code, text);
                ThrowSqlError(sql.db());
            }
            // (Only the statement's own mark goes: a SAVEPOINT it ran stays.)
            if (own) conn.Commit();
            else conn.DropSavepoint(kMark);
            const std::string head = FirstWords(text_, 1);
            if (head == "INSERT" || head == "UPDATE" || head == "DELETE" || head == "REPLACE")
                rowsAffected = sqlite3_changes(sql.db());
            lastAutoinc = sql.lastAutoinc;
            return nullptr;
        }
        default: return nullptr;
    }
}

char* Statement::Collected::Room(size_t bytes) {
    static constexpr size_t kBlockSize = size_t{1} << 20;
    if (blocks.empty() || blocks.back().size - blocks.back().used < bytes) {
        Block b;
        b.size = std::max(kBlockSize, bytes);
        b.bytes.reset(new char[b.size]);
        blocks.push_back(std::move(b));
    }
    Block& b = blocks.back();
    char* at = b.bytes.get() + b.used;
    b.used += bytes;
    return at;
}

void Statement::Collect(Collected& out, bool keepRows) {
    SqlSession& sql = connection_->Sql();
    Bind(stmt_);
    const int n = sqlite3_column_count(stmt_);
    out.seen.assign(static_cast<size_t>(n), SQLITE_NULL);
    out.longest.assign(static_cast<size_t>(n), 1);
    out.width = static_cast<size_t>(n);
    int rc;
    ClearLastError();
    while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
        for (int c = 0; c < n; ++c) {
            const int type = sqlite3_column_type(stmt_, c);
            int64_t i = 0;
            switch (type) {
                case SQLITE_INTEGER:
                case SQLITE_FLOAT: {
                    double d = 0;
                    if (type == SQLITE_INTEGER) i = sqlite3_column_int64(stmt_, c);
                    else d = sqlite3_column_double(stmt_, c);
                    if (keepRows) {
                        char* p = out.Room(1 + 8);
                        p[0] = static_cast<char>(type);
                        if (type == SQLITE_INTEGER) std::memcpy(p + 1, &i, 8);
                        else std::memcpy(p + 1, &d, 8);
                    }
                    break;
                }
                case SQLITE_TEXT: case SQLITE_BLOB: {
                    const void* data = type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(stmt_, c))
                                                           : sqlite3_column_blob(stmt_, c);
                    const auto length = static_cast<uint32_t>(sqlite3_column_bytes(stmt_, c));
                    out.longest[static_cast<size_t>(c)] = std::max<size_t>(out.longest[static_cast<size_t>(c)], length);
                    if (keepRows) {
                        char* p = out.Room(1 + 4 + length);
                        p[0] = static_cast<char>(type);
                        std::memcpy(p + 1, &length, 4);
                        if (length) std::memcpy(p + 5, data, length);
                    }
                    break;
                }
                default:
                    if (keepRows) out.Room(1)[0] = static_cast<char>(SQLITE_NULL);
            }
            int& s = out.seen[static_cast<size_t>(c)];
            if (type != SQLITE_NULL && (s == SQLITE_NULL || (s == SQLITE_INTEGER && type == SQLITE_FLOAT)))
                s = type;
            else if (type == SQLITE_TEXT || type == SQLITE_BLOB)
                s = type;
            // Integers that need more than 32 bits are kept as doubles.
            if (type == SQLITE_INTEGER && s == SQLITE_INTEGER && (i > 2147483647LL || i < -2147483647LL))
                s = SQLITE_FLOAT;
        }
        if (keepRows) ++out.rowCount;
    }
    sqlite3_reset(stmt_);
    if (rc != SQLITE_DONE) ThrowStepError(sql);
}

// The field of a result column SUM(column), MIN(column) or MAX(column):
// MIN and MAX keep the column's type, a SUM of a NUMERIC column is an exact
// NUMERIC of its decimals. `rest` is the statement from its FROM on; false
// for any other item.
bool Statement::AggregateField(const std::string& item, const std::string& rest, FieldDef& f) {
    const auto tokens = Tokenize(item);
    if (tokens.size() != 4 || tokens[1].text != "(" || tokens[3].text != ")" || !IsName(tokens[2])) return false;
    const bool sum = tokens[0].Is("SUM");
    if (!sum && !tokens[0].Is("MIN") && !tokens[0].Is("MAX")) return false;
    sqlite3_stmt* probe = nullptr;
    try {
        probe = connection_->Sql().Prepare("SELECT " + tokens[2].text + " " + rest);
    } catch (const EngineError&) {
        return false;
    }
    FieldDef column;
    const char* decl = sqlite3_column_decltype(probe, 0);
    const bool known = decl && FieldFromDeclaredType(decl, column);
    sqlite3_finalize(probe);
    if (!known) return false;
    if (!sum) {
        f = column;
        return true;
    }
    if (column.type != KIV_FT_NUMERIC || !column.decimals) return false;
    return FieldFromDeclaredType("NUMERIC(18," + std::to_string(column.decimals) + ")", f);
}

std::vector<FieldDef> Statement::ResultFields(const Collected& run) {
    std::vector<FieldDef> fields;
    const int n = sqlite3_column_count(stmt_);
    size_t fromAt = std::string::npos;
    const std::vector<std::string> items = SelectItemTexts(text_, &fromAt);
    const std::string rest = fromAt == std::string::npos ? std::string() : text_.substr(fromAt);
    for (int c = 0; c < n; ++c) {
        FieldDef f;
        const char* decl = sqlite3_column_decltype(stmt_, c);
        const std::string name = sqlite3_column_name(stmt_, c) ? sqlite3_column_name(stmt_, c) : "";
        const std::string item = items.size() == static_cast<size_t>(n) ? items[static_cast<size_t>(c)] : name;
        if (!decl || !FieldFromDeclaredType(decl, f)) {
            const uint16_t dated = DateTypeOfItem(item);
            if (dated) {
                f.type = dated;
            } else if (rest.empty() || !AggregateField(item, rest, f)) {
                switch (run.seen[static_cast<size_t>(c)]) {
                    case SQLITE_INTEGER: f.type = KIV_FT_INTEGER; break;
                    case SQLITE_FLOAT: f.type = KIV_FT_DOUBLE; break;  // full precision
                    case SQLITE_BLOB: f.type = KIV_FT_BINARY; break;
                    case SQLITE_TEXT:
                        if (run.longest[static_cast<size_t>(c)] > 65000) f.type = KIV_FT_MEMO;
                        else {
                            f.type = KIV_FT_CHARACTER;
                            f.maxLength = static_cast<uint32_t>(run.longest[static_cast<size_t>(c)]);
                        }
                        break;
                    default: f = GuessedField(item);
                }
            }
        }
        f.name = name;
        if (f.type == KIV_FT_AUTOINC || f.type == KIV_FT_ROWVERSION || f.type == KIV_FT_MODTIME) {
            // A result holds the values, not the engine's counters.
            f.type = f.type == KIV_FT_AUTOINC ? KIV_FT_INTEGER : KIV_FT_TIMESTAMP;
            if (f.type == KIV_FT_TIMESTAMP && decl && Upper(decl) == "ROWVERSION") f.type = KIV_FT_DOUBLE;
        }
        if ((f.type == KIV_FT_CHARACTER || f.type == KIV_FT_CICHARACTER) && f.maxLength < run.longest[static_cast<size_t>(c)])
            f.maxLength = static_cast<uint32_t>(std::min<size_t>(run.longest[static_cast<size_t>(c)], 65000));
        fields.push_back(f);
    }
    MakeNamesUsable(fields);
    return fields;
}

std::shared_ptr<Table> Statement::NewStaticCursor(const std::vector<FieldDef>& fields) {
    const std::string path = TempCursorPath();
    auto file = TableFile::Create(path, KIV_TABLE_KDT, fields, 0, true, true);
    OpenRequest request;
    request.exclusive = true;
    request.charType = KIV_CHAR_ANSI;
    request.alias = "CURSOR";
    auto cursor = std::make_shared<Table>(connection_, file, request, qel32::Kind::Cursor);
    cursor->removeOnClose = {path, StripExtension(path) + ".kdm"};
    return cursor;
}

namespace {

// Writes one value of a result row; `v` is the caller's, reused from cell to cell.
void PutResultValue(Table& cursor, const std::vector<FieldDef>& defs, size_t c, Value& v) {
    if (c >= defs.size()) return;
    if (defs[c].type == KIV_FT_MONEY && v.kind == Value::Kind::Number) {
        v.kind = Value::Kind::Text;
        v.text = std::to_string(v.number);
    }
    cursor.SetValue(static_cast<int>(c), v);
}

void CloseQuietly(Table& cursor) {
    try {
        cursor.Close();
    } catch (...) {
    }
}

// The value of column c of the statement's current row; `v` is the
// caller's, reused from cell to cell.
void ColumnValue(sqlite3_stmt* stmt, int c, Value& v) {
    v.text.clear();
    switch (sqlite3_column_type(stmt, c)) {
        case SQLITE_INTEGER:
            v.kind = Value::Kind::Integer;
            v.integer = sqlite3_column_int64(stmt, c);
            break;
        case SQLITE_FLOAT:
            v.kind = Value::Kind::Number;
            v.number = sqlite3_column_double(stmt, c);
            break;
        case SQLITE_TEXT: case SQLITE_BLOB: {
            const bool text = sqlite3_column_type(stmt, c) == SQLITE_TEXT;
            const void* data = text ? static_cast<const void*>(sqlite3_column_text(stmt, c)) : sqlite3_column_blob(stmt, c);
            const auto length = static_cast<size_t>(sqlite3_column_bytes(stmt, c));
            v.kind = text ? Value::Kind::Text : Value::Kind::Bytes;
            if (length) v.text.assign(static_cast<const char*>(data), length);
            break;
        }
        default: v.kind = Value::Kind::Empty;
    }
}

// Whether a column's value is longer than the result field takes.
bool LongerThan(const Value& v, size_t widest) {
    return (v.kind == Value::Kind::Text || v.kind == Value::Kind::Bytes) && v.text.size() > widest;
}

// A running statement of the session whose rows go to a result as its
// cursor needs them. The statement is the result's own, so the statement
// handle can run again, or close, meanwhile.
class PendingRows : public ResultSource, public PendingResult {
public:
    PendingRows(SqlSession& session, sqlite3_stmt* stmt, uint16_t charType, uint16_t tableType)
        : session_(&session), stmt_(stmt), charType_(charType), tableType_(tableType) {
        session.pendingResults.insert(this);
    }
    ~PendingRows() override { Abandon(); }
    PendingRows(const PendingRows&) = delete;
    PendingRows& operator=(const PendingRows&) = delete;

    Table* result = nullptr;

    bool AppendNext(Table& cursor) override {
        if (!stmt_) Throw(KIV_ERR_CONNECTION_GONE, "The connection's SQL ended before the result was read");
        // The settings of the statement that ran, which the virtual tables
        // read, while it steps.
        struct Settings {
            SqlSession& session;
            const uint16_t charType, tableType;
            ~Settings() {
                session.charType = charType;
                session.tableType = tableType;
            }
        } kept{*session_, session_->charType, session_->tableType};
        session_->charType = charType_;
        session_->tableType = tableType_;
        ClearLastError();
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_DONE) return false;
        if (rc != SQLITE_ROW) ThrowStepError(*session_);
        return AppendRow(stmt_, cursor);
    }

    void ReadToEnd() override {
        try {
            result->ReadWholeResult();
        } catch (const std::exception&) {
            // the result reports it at its next call that needs the rows
        }
    }

    void Abandon() override {
        if (session_) session_->pendingResults.erase(this);
        session_ = nullptr;
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }

protected:
    // Appends the row the statement is on (Append, values, Flush), or
    // nothing when it names no row after all; false only when no row can
    // follow. A failure leaves no row appended.
    virtual bool AppendRow(sqlite3_stmt* stmt, Table& cursor) = 0;

private:
    SqlSession* session_;
    sqlite3_stmt* stmt_;
    uint16_t charType_, tableType_;
};

// The rows of a select, its values converted to the result's fields.
class SelectRows : public PendingRows {
public:
    SelectRows(SqlSession& session, sqlite3_stmt* stmt, std::vector<size_t> widest, uint16_t charType,
               uint16_t tableType)
        : PendingRows(session, stmt, charType, tableType), widest_(std::move(widest)) {}

protected:
    bool AppendRow(sqlite3_stmt* stmt, Table& cursor) override {
        const int n = sqlite3_column_count(stmt);
        row_.resize(static_cast<size_t>(n));
        for (int c = 0; c < n; ++c) {
            ColumnValue(stmt, c, row_[static_cast<size_t>(c)]);
            if (LongerThan(row_[static_cast<size_t>(c)], widest_[static_cast<size_t>(c)]))
                Throw(KIV_ERR_VALUE_CUT, std::string("A value of result column ") + sqlite3_column_name(stmt, c) +
                                             " is longer than its field");
        }
        const auto& defs = cursor.file().fields();
        cursor.Append();
        try {
            for (size_t c = 0; c < row_.size(); ++c) PutResultValue(cursor, defs, c, row_[c]);
            cursor.Flush();
        } catch (...) {
            cursor.TakeBackAppend();  // no half row
            throw;
        }
        return true;
    }

private:
    std::vector<size_t> widest_;
    std::vector<Value> row_;
};

// The records a "SELECT rowid ..." of a table picks, their fields copied
// byte for byte from the table (open meanwhile) into the result's.
class CopiedRows : public PendingRows {
public:
    CopiedRows(SqlSession& session, sqlite3_stmt* keys, uint16_t charType, uint16_t tableType,
               std::shared_ptr<Table> source, std::vector<FieldDef> copied)
        : PendingRows(session, keys, charType, tableType), source_(std::move(source)), copied_(std::move(copied)) {}
    ~CopiedRows() override { CloseQuietly(*source_); }

    void Abandon() override {
        PendingRows::Abandon();
        CloseQuietly(*source_);
    }

protected:
    bool AppendRow(sqlite3_stmt* keys, Table& cursor) override {
        // The source's order is the records picked so far; the new one is
        // read from what was read ahead, or left out when it was deleted
        // since SQL picked it.
        source_->order()->Added(static_cast<uint32_t>(sqlite3_column_int64(keys, 0)));
        if (!source_->MoveTo(++picked_)) return true;
        const uint8_t* image = source_->image().data();
        cursor.Append();
        try {
            for (size_t c = 0; c < copied_.size(); ++c)
                cursor.SetRaw(static_cast<int>(c),
                              std::string_view(reinterpret_cast<const char*>(image) + copied_[c].offset, copied_[c].length));
            cursor.Flush();
        } catch (...) {
            cursor.TakeBackAppend();
            throw;
        }
        return true;
    }

private:
    std::shared_ptr<Table> source_;  // over a keyset order
    std::vector<FieldDef> copied_;
    uint32_t picked_ = 0;
};

// Fills a new result, then makes it static and puts it on its first row; a
// failure on the way removes the result.
template <class Fill>
std::shared_ptr<Table> FillStatic(std::shared_ptr<Table> cursor, Fill&& fill) {
    try {
        fill(*cursor);
        cursor->isStatic = true;
        cursor->GoTop();
    } catch (...) {
        CloseQuietly(*cursor);
        throw;
    }
    return cursor;
}

}  // namespace

std::shared_ptr<Table> Statement::StaticCursor() {
    SqlSession& sql = connection_->Sql();
    if (std::shared_ptr<Table> cursor = StreamedCursor()) return cursor;
    if (std::shared_ptr<Table> cursor = StaticCursorInOnePass()) {
        lastAutoinc = sql.lastAutoinc;
        return cursor;
    }
    Collected run;
    Collect(run, true);
    auto cursor = FillStatic(NewStaticCursor(ResultFields(run)), [&](Table& result) {
        const auto& defs = result.file().fields();
        size_t block = 0;
        size_t at = 0;
        Value v;  // reused: its text keeps its room from row to row
        for (size_t r = 0; r < run.rowCount; ++r) {
            result.Append();
            for (size_t c = 0; c < run.width; ++c) {
                while (at >= run.blocks[block].used) {
                    ++block;
                    at = 0;
                }
                const char* p = run.blocks[block].bytes.get() + at;
                const int type = static_cast<unsigned char>(p[0]);
                uint32_t length = 0;
                v.text.clear();
                switch (type) {
                    case SQLITE_INTEGER:
                        v.kind = Value::Kind::Integer;
                        std::memcpy(&v.integer, p + 1, 8);
                        at += 1 + 8;
                        break;
                    case SQLITE_FLOAT:
                        v.kind = Value::Kind::Number;
                        std::memcpy(&v.number, p + 1, 8);
                        at += 1 + 8;
                        break;
                    case SQLITE_TEXT: case SQLITE_BLOB:
                        v.kind = type == SQLITE_TEXT ? Value::Kind::Text : Value::Kind::Bytes;
                        std::memcpy(&length, p + 1, 4);
                        v.text.assign(p + 5, length);
                        at += 1 + 4 + length;
                        break;
                    default:
                        v.kind = Value::Kind::Empty;
                        at += 1;
                }
                PutResultValue(result, defs, c, v);
            }
            result.Flush();
        }
    });
    lastAutoinc = sql.lastAutoinc;
    return cursor;
}

bool Statement::DeclaredResultFields(std::vector<FieldDef>& fields, std::vector<size_t>& widest) {
    const int n = sqlite3_column_count(stmt_);
    for (int c = 0; c < n; ++c) {
        FieldDef probe;
        const char* decl = sqlite3_column_decltype(stmt_, c);
        if (!decl || !FieldFromDeclaredType(decl, probe)) return false;
    }
    Collected none;
    none.seen.assign(static_cast<size_t>(n), SQLITE_NULL);
    none.longest.assign(static_cast<size_t>(n), 1);
    fields = ResultFields(none);
    widest.assign(static_cast<size_t>(n), SIZE_MAX);
    for (size_t c = 0; c < fields.size() && c < widest.size(); ++c)
        if (fields[c].type == KIV_FT_CHARACTER || fields[c].type == KIV_FT_CICHARACTER) widest[c] = fields[c].maxLength;
    return true;
}

std::shared_ptr<Table> Statement::StreamedCursor() {
    // Only a select that changes nothing, and no compound one: the columns
    // of a union take the first select's declared types, but a longer text
    // of another select widens them, which only all the rows tell.
    if (!sqlite3_stmt_readonly(stmt_)) return nullptr;
    for (const Token& t : Tokenize(text_))
        if (t.Is("UNION") || t.Is("INTERSECT") || t.Is("EXCEPT")) return nullptr;
    std::vector<FieldDef> fields;
    std::vector<size_t> widest;
    if (!DeclaredResultFields(fields, widest)) return nullptr;
    SqlSession& sql = connection_->Sql();
    sqlite3_stmt* run = nullptr;
    if (sqlite3_prepare_v2(sql.db(), sqlite3_sql(stmt_), -1, &run, nullptr) != SQLITE_OK || !run) {
        sqlite3_finalize(run);
        return nullptr;
    }
    auto source = std::make_unique<SelectRows>(sql, run, std::move(widest), charType, tableType);
    Bind(run);
    auto cursor = NewStaticCursor(fields);
    cursor->isStatic = true;
    source->result = cursor.get();
    cursor->SetResultSource(std::move(source));
    try {
        cursor->GoTop();  // the first rows
    } catch (const EngineError& e) {
        CloseQuietly(*cursor);
        // A text longer than its column among the first rows: the result
        // is built whole, its columns as wide as the values.
        if (e.code() == KIV_ERR_VALUE_CUT) return nullptr;
        throw;
    } catch (...) {
        CloseQuietly(*cursor);
        throw;
    }
    return cursor;
}

std::shared_ptr<Table> Statement::StaticCursorInOnePass() {
    // Only columns of declared types: their definitions do not depend on the
    // values, unless a text is longer than its column (a union with a longer
    // literal, say), which widens the column. Such a run is given up and the
    // caller collects the rows first.
    std::vector<FieldDef> fields;
    std::vector<size_t> widest;
    if (!DeclaredResultFields(fields, widest)) return nullptr;
    const int n = sqlite3_column_count(stmt_);
    auto cursor = NewStaticCursor(fields);
    try {
        SqlSession& sql = connection_->Sql();
        const auto& defs = cursor->file().fields();
        Bind(stmt_);
        ClearLastError();
        Value v;
        int rc;
        while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
            cursor->Append();
            for (int c = 0; c < n; ++c) {
                ColumnValue(stmt_, c, v);
                if (LongerThan(v, widest[static_cast<size_t>(c)])) {
                    sqlite3_reset(stmt_);
                    CloseQuietly(*cursor);
                    return nullptr;
                }
                PutResultValue(*cursor, defs, static_cast<size_t>(c), v);
            }
            cursor->Flush();
        }
        sqlite3_reset(stmt_);
        if (rc != SQLITE_DONE) ThrowStepError(sql);
        cursor->isStatic = true;
        cursor->GoTop();
    } catch (...) {
        sqlite3_reset(stmt_);
        CloseQuietly(*cursor);
        throw;
    }
    return cursor;
}

sqlite3_stmt* Statement::KeysStatement(const std::string& tableName, const std::string& rest) {
    std::string quoted = "\"";
    for (char c : tableName) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    quoted += "\"";
    return connection_->Sql().Prepare("SELECT rowid FROM " + quoted + " " + rest);
}

std::vector<uint32_t> Statement::SelectedRecords(const std::string& tableName, const std::string& rest) {
    SqlSession& sql = connection_->Sql();
    sqlite3_stmt* keys = KeysStatement(tableName, rest);
    std::vector<uint32_t> records;
    try {
        Bind(keys);
        int rc;
        ClearLastError();
        while ((rc = sqlite3_step(keys)) == SQLITE_ROW) records.push_back(static_cast<uint32_t>(sqlite3_column_int64(keys, 0)));
        if (rc != SQLITE_DONE) ThrowStepError(sql);
    } catch (...) {
        sqlite3_finalize(keys);
        throw;
    }
    sqlite3_finalize(keys);
    return records;
}

std::shared_ptr<Table> Statement::LiveCursor(const std::string& tableName, const std::string& rest) {
    SqlSession& sql = connection_->Sql();
    std::vector<uint32_t> records = SelectedRecords(tableName, rest);
    uint16_t type = 0;
    const std::string path = sql.ResolveTableFile(tableName, type);
    auto file = TableFile::Open(path, type ? type : tableType, false);
    OpenRequest request;
    request.charType = charType;
    request.lockType = lockType;
    request.readOnly = !file->writable();
    request.alias = Upper(StripExtension(FilePart(path)));
    auto cursor = std::make_shared<Table>(connection_, file, request, qel32::Kind::Cursor,
                                          std::make_unique<KeysetOrder>(std::move(records)));
    cursor->isLive = true;
    cursor->GoTop();
    return cursor;
}

std::shared_ptr<Table> Statement::CopiedCursor() {
    // SELECT * | name, ... FROM table [WHERE ...] [ORDER BY ...]: SQL only
    // picks the records (and reads only what the condition and the order
    // need); each result field is the table's field, byte for byte. That
    // holds when both sides store the field alike: the engine's own table
    // type on both, the same definition, no memo-like field (its data lives
    // in the table's own memo file) and no character conversion.
    if (charType != KIV_CHAR_ANSI) return nullptr;
    const auto tokens = Tokenize(text_);
    const size_t at = PlainSelectTable(tokens, IsName);
    if (at == 0) return nullptr;
    const size_t restAt = at + 1;
    if (restAt < tokens.size() && !tokens[restAt].Is("WHERE") && !tokens[restAt].Is("ORDER")) return nullptr;
    for (size_t k = restAt; k < tokens.size(); ++k)
        if (tokens[k].Is("JOIN") || tokens[k].Is("GROUP") || tokens[k].Is("UNION") || tokens[k].Is("HAVING") ||
            tokens[k].Is("DISTINCT") || tokens[k].Is("SELECT"))
            return nullptr;
    std::vector<FieldDef> fields;
    std::vector<size_t> widest;
    if (!DeclaredResultFields(fields, widest)) return nullptr;
    const int n = sqlite3_column_count(stmt_);
    SqlSession& sql = connection_->Sql();
    const std::string tableName = Unquoted(tokens[at].text);
    uint16_t type = 0;
    const std::string path = sql.ResolveTableFile(tableName, type);
    if (path.empty()) return nullptr;
    auto file = TableFile::Open(path, type ? type : tableType, false);
    if (file->type() != KIV_TABLE_KDT || file->encrypted()) return nullptr;
    const auto& stored = file->fields();
    std::vector<int> from;
    for (int c = 0; c < n; ++c) {
        const char* name = sqlite3_column_name(stmt_, c);
        const int i = name ? file->FieldIndex(name) : -1;
        if (i < 0 || IsBlobType(stored[static_cast<size_t>(i)].type)) return nullptr;
        from.push_back(i);
    }
    auto cursor = NewStaticCursor(fields);
    const auto& defs = cursor->file().fields();
    for (size_t c = 0; c < from.size(); ++c) {
        const FieldDef& f = stored[static_cast<size_t>(from[c])];
        if (c >= defs.size() || defs[c].type != f.type || defs[c].length != f.length || defs[c].decimals != f.decimals) {
            CloseQuietly(*cursor);
            return nullptr;
        }
    }
    const std::string rest = restAt < tokens.size() ? text_.substr(tokens[restAt].offset) : "";
    std::vector<FieldDef> copied;
    for (int i : from) copied.push_back(stored[static_cast<size_t>(i)]);
    try {
        OpenRequest request;
        request.charType = charType;
        request.lockType = lockType;
        request.readOnly = true;
        request.alias = Upper(StripExtension(FilePart(path)));
        auto source = std::make_shared<Table>(connection_, file, request, qel32::Kind::Cursor,
                                              std::make_unique<KeysetOrder>(std::vector<uint32_t>()));
        sqlite3_stmt* keys = nullptr;
        try {
            keys = KeysStatement(tableName, rest);
        } catch (...) {
            CloseQuietly(*source);
            throw;
        }
        auto rows = std::make_unique<CopiedRows>(sql, keys, charType, tableType, std::move(source), std::move(copied));
        Bind(keys);
        cursor->isStatic = true;
        rows->result = cursor.get();
        cursor->SetResultSource(std::move(rows));
        cursor->GoTop();  // the first rows
    } catch (...) {
        CloseQuietly(*cursor);
        throw;
    }
    return cursor;
}

void Statement::CreateTable() {
    // CREATE TABLE name ( column type [(n[,m])] [constraints], ... )
    const auto tokens = Tokenize(text_);
    if (tokens.size() < 5 || !IsName(tokens[2]) || tokens[3].text != "(" || tokens.back().text != ")")
        ThrowSqlError(2117, "Unexpected token in CREATE TABLE: " + text_);
    const std::string name = Unquoted(tokens[2].text);
    const std::string body = text_.substr(tokens[3].offset + 1, tokens.back().offset - tokens[3].offset - 1);
    std::vector<std::string> parts;
    int depth = 0;
    std::string current;
    for (char c : body) {
        if (c == '(') ++depth;
        if (c == ')') --depth;
        if (c == ',' && depth == 0) {
            parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.push_back(current);
    std::vector<FieldDef> fields;
    for (const auto& part : parts) {
        const auto words = Tokenize(part);
        if (words.empty()) ThrowSqlError(2113, "Unexpected end of SQL statement");
        if (words[0].Is("PRIMARY") || words[0].Is("CONSTRAINT") || words[0].Is("UNIQUE") || words[0].Is("FOREIGN") ||
            words[0].Is("CHECK"))
            continue;
        if (words.size() < 2 || !IsName(words[0]) || !IsName(words[1])) ThrowSqlError(2117, "Unexpected token: " + part);
        // The type is its word and, when one follows, the parenthesised sizes.
        size_t typeEnd = words[1].offset + words[1].text.size();
        if (words.size() > 2 && words[2].text == "(") {
            const size_t close = part.find(')', words[2].offset);
            if (close == std::string::npos) ThrowSqlError(2113, "Unexpected end of SQL statement");
            typeEnd = close + 1;
        }
        FieldDef f;
        f.name = Unquoted(words[0].text);
        const std::string type = part.substr(words[1].offset, typeEnd - words[1].offset);
        if (!FieldFromDeclaredType(type, f)) ThrowSqlError(2135, "No such type: " + type);
        fields.push_back(f);
    }
    const uint16_t type = tableType ? tableType : KIV_TABLE_CDX;
    try {
        LayoutFields(fields, type);
    } catch (const EngineError& e) {
        ThrowSqlError(2205, e.what());
    }
    const auto& dictionary = connection_->dictionary;
    // On a dictionary connection the table is the dictionary's: made beside
    // it and listed in it with its columns.
    if (dictionary && dictionary->FindTable(name)) ThrowSqlError(2119, "Table already exists: " + name);
    const std::string directory = dictionary ? dictionary->directory() : connection_->tableFolder();
    std::string path = MapPath(name, directory);
    if (Extension(FilePart(path)).empty()) path += type == KIV_TABLE_KDT ? ".kdt" : ".dbf";
    auto file = TableFile::Create(path, type, fields, 0, true);
    const std::vector<FieldDef> made = file->fields();
    file->Detach();
    if (!dictionary) return;
    try {
        dictionary->AddTable(name, path, type, made);
    } catch (...) {
        RemoveTableFiles(path);
        throw;
    }
}

void Statement::DropTable() {
    const auto tokens = Tokenize(text_);
    if (tokens.size() != 3 || !IsName(tokens[2])) ThrowSqlError(2117, "Unexpected token in DROP TABLE: " + text_);
    const std::string name = Unquoted(tokens[2].text);
    SqlSession& sql = connection_->Sql();
    uint16_t type = 0;
    const std::string path = sql.ResolveTableFile(name, type);
    if (path.empty()) ThrowSqlError(2122, "Table not found: " + name);
    // Forget the virtual table first: it may hold the file open.
    std::string quoted = "\"";
    for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    quoted += "\"";
    sqlite3_exec(sql.db(), ("DROP TABLE IF EXISTS temp." + quoted).c_str(), nullptr, nullptr, nullptr);
    {
        auto file = TableFile::Open(path, type, true);  // fails while anyone has it open
        file->Detach();
    }
    RemoveTableFiles(path);
    if (connection_->dictionary && connection_->dictionary->FindTable(name)) connection_->dictionary->RemoveTable(name);
}

}  // namespace qel32
