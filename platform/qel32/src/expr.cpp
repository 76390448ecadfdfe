#include "expr.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "dates.h"
#include "errors.h"

namespace qel32 {

namespace {

using Type = XValue::Type;

enum class Op : uint8_t {
    Const, Field,
    Or, And, Not, Neg,
    Eq, ExactEq, Ne, Lt, Le, Gt, Ge, Contained,
    Add, Sub, Mul, Div, Mod,
    Upper, Lower, Rtrim, Ltrim, Alltrim, Substr, Left, Right, Len, Str, Val,
    Dtos, Dtoc, Ctod, Stod, Ctot, Ctots, Today, Year, Month, Day,
    Iif, Empty, Deleted, Recno, Descend, Chr, Asc, Space, Padr, Padl, At, Contains,
};

constexpr int kMaxNesting = 100;     // parentheses, calls and prefix operators in the text
constexpr int kMaxTreeDepth = 400;   // operators in a chain ("A+B+C...")
constexpr int kMaxMadeLength = 65535;  // SPACE, PADR, PADL, STR widths
constexpr int kMaxDecimals = 15;

int DefaultLength(int decimals) { return 10 + (decimals > 0 ? decimals + 1 : 0); }

// The decimals of an arithmetic result.
int ResultDecimals(Op op, int a, int b) {
    switch (op) {
        case Op::Mul: return std::min(a + b, kMaxDecimals);
        case Op::Div: return std::max({a, b, 2});
        default: return std::max(a, b);
    }
}

// A number used as a count or position: truncated and kept in a safe range.
int ToInt(double d) {
    if (std::isnan(d)) return 0;
    if (d > 1e9) return 1000000000;
    if (d < -1e9) return -1000000000;
    return static_cast<int>(d);
}

XValue Num(double d, int decimals) {
    XValue v;
    v.type = Type::Numeric;
    v.number = d;
    v.decimals = decimals;
    v.length = DefaultLength(decimals);
    return v;
}
XValue Text(std::string s) {
    XValue v;
    v.type = Type::Character;
    v.text = std::move(s);
    return v;
}
XValue Bool(bool b) {
    XValue v;
    v.type = Type::Logical;
    v.logical = b;
    return v;
}
XValue DateOf(int32_t julian) {
    XValue v;
    v.type = Type::Date;
    v.julian = julian;
    return v;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}
std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
std::string_view RTrim(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}
std::string_view LTrim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    return s;
}

// STR's text: rounded half away from zero, right-aligned in width, stars
// when it does not fit.
std::string FormatNumber(double d, int width, int decimals) {
    width = std::clamp(width, 1, kMaxMadeLength);
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    if (!std::isfinite(d)) return std::string(width, '*');
    const double scale = std::pow(10.0, decimals);
    if (std::fabs(d) * scale < 1e15) d = std::round(d * scale) / scale;
    if (d == 0) d = 0;  // no "-0"
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, d);
    std::string s = buf;
    if (static_cast<int>(s.size()) > width) return std::string(width, '*');
    return std::string(width - s.size(), ' ') + s;
}

// VAL: leading blanks, a sign, digits and a fraction; the rest is ignored.
XValue ParseVal(std::string_view s) {
    s = LTrim(s);
    size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    int decimals = 0;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) { ++i; ++decimals; }
    }
    const std::string digits(s.substr(0, i));
    const double d = digits.empty() ? 0 : std::strtod(digits.c_str(), nullptr);
    return Num(std::isfinite(d) ? d : 0, std::min(decimals, kMaxDecimals));
}

// Clock texts as people write them: "9:05", "09:05:30.250", "9:05 PM".
std::optional<int32_t> ParseClock(std::string_view raw) {
    std::string t = Upper(std::string(RTrim(LTrim(raw))));
    int add = 0;
    bool twelve = false;
    for (const char* suffix : {"AM", "PM"}) {
        if (t.size() >= 2 && t.compare(t.size() - 2, 2, suffix) == 0) {
            twelve = true;
            add = suffix[0] == 'P' ? 12 : 0;
            t = std::string(RTrim(t.substr(0, t.size() - 2)));
        }
    }
    if (t.size() >= 2 && t[1] == ':') t.insert(0, "0");
    auto ms = ParseTime(t);
    if (!ms || !twelve) return ms;
    int hour = *ms / 3600000;
    if (hour < 1 || hour > 12) return std::nullopt;
    return *ms + ((hour % 12) + add - hour) * 3600000;
}

// A date, a blank or a "T", then a clock.
void ParseStamp(std::string_view raw, int32_t& julian, int32_t& ms) {
    std::string_view t = RTrim(LTrim(raw));
    size_t cut = t.find(' ');
    if (cut == std::string_view::npos && t.size() > 10 && t[10] == 'T') cut = 10;
    const std::string_view datePart = t.substr(0, cut);
    julian = ParseDate(datePart).value_or(0);
    ms = 0;
    if (julian && cut != std::string_view::npos) ms = ParseClock(t.substr(cut + 1)).value_or(0);
}

int32_t ShiftDate(int32_t julian, double days) {
    if (julian <= 0 || std::isnan(days)) return julian;
    const double shifted = julian + std::round(std::clamp(days, -1e7, 1e7));
    return static_cast<int32_t>(std::clamp(shifted, 1721426.0, 5373484.0));  // 0001-01-01 .. 9999-12-31
}

bool NumbersEqual(double a, double b) {
    return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

// -1, 0, 1. Texts follow the exact rule described in expr.h.
int Compare(const XValue& a, const XValue& b, bool exact) {
    switch (a.type) {
        case Type::Character: {
            std::string_view x = a.text, y = b.text;
            if (exact) {
                x = RTrim(x);
                y = RTrim(y);
            } else if (x.size() > y.size()) {
                x = x.substr(0, y.size());
            }
            const int c = x.compare(y);
            return c < 0 ? -1 : c > 0;
        }
        case Type::Numeric:
            if (NumbersEqual(a.number, b.number)) return 0;
            return a.number < b.number ? -1 : 1;
        case Type::Date: return a.julian < b.julian ? -1 : a.julian > b.julian;
        case Type::Logical: return static_cast<int>(a.logical) - static_cast<int>(b.logical);
        case Type::Time: return a.ms < b.ms ? -1 : a.ms > b.ms;
        case Type::Timestamp:
            if (a.julian != b.julian) return a.julian < b.julian ? -1 : 1;
            return a.ms < b.ms ? -1 : a.ms > b.ms;
    }
    return 0;
}

bool IsEmpty(const XValue& v) {
    switch (v.type) {
        case Type::Character:
            return std::all_of(v.text.begin(), v.text.end(),
                               [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; });
        case Type::Numeric: return v.number == 0;
        case Type::Date: return v.julian <= 0;
        case Type::Logical: return !v.logical;
        case Type::Time: return v.ms == 0;
        case Type::Timestamp: return v.julian <= 0 && v.ms == 0;
    }
    return true;
}

bool ContainsWords(std::string_view text, std::string_view words) {
    const std::string hay = Upper(std::string(text));
    const std::string needles = Upper(std::string(words));
    bool any = false;
    size_t i = 0;
    while (i < needles.size()) {
        while (i < needles.size() && needles[i] == ' ') ++i;
        size_t e = i;
        while (e < needles.size() && needles[e] != ' ') ++e;
        if (e > i) {
            std::string_view word(needles.data() + i, e - i);
            while (!word.empty() && word.back() == '*') word.remove_suffix(1);  // "SMI*": any word start
            if (!word.empty()) {
                if (hay.find(word) == std::string::npos) return false;
                any = true;
            }
        }
        i = e;
    }
    return any;
}

void PutBigEndian(std::string& out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string NumberKey(double d) {
    if (d == 0 || std::isnan(d)) d = 0;
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    bits = (bits & 0x8000000000000000ull) ? ~bits : bits | 0x8000000000000000ull;
    std::string out;
    PutBigEndian(out, bits, 8);
    return out;
}

std::string ValueKey(const XValue& v, int width) {
    std::string out;
    switch (v.type) {
        case Type::Character:
            out = v.text;
            out.resize(static_cast<size_t>(width), ' ');
            return out;
        case Type::Numeric: return NumberKey(v.number);
        case Type::Date: return CompactFromJulian(v.julian);
        case Type::Logical: return v.logical ? "T" : "F";
        case Type::Time: PutBigEndian(out, static_cast<uint32_t>(std::max(v.ms, 0)), 4); return out;
        case Type::Timestamp:
            PutBigEndian(out, static_cast<uint32_t>(std::max(v.julian, 0)), 4);
            PutBigEndian(out, static_cast<uint32_t>(std::max(v.ms, 0)), 4);
            return out;
    }
    return out;
}

void Invert(std::string& key) {
    for (char& c : key) c = static_cast<char>(~static_cast<unsigned char>(c));
}

Type TypeOfField(uint16_t fieldType) {
    switch (fieldType) {
        case KIV_FT_LOGICAL: return Type::Logical;
        case KIV_FT_NUMERIC: case KIV_FT_DOUBLE: case KIV_FT_CURDOUBLE: case KIV_FT_INTEGER:
        case KIV_FT_SHORTINT: case KIV_FT_AUTOINC: case KIV_FT_MONEY: case KIV_FT_ROWVERSION:
            return Type::Numeric;
        case KIV_FT_DATE: case KIV_FT_COMPACTDATE: return Type::Date;
        case KIV_FT_TIME: return Type::Time;
        case KIV_FT_TIMESTAMP: case KIV_FT_MODTIME: return Type::Timestamp;
        default: return Type::Character;  // character, memo-like and raw data
    }
}

}  // namespace

struct Expression::Node {
    Op op = Op::Const;
    Type type = Type::Logical;
    int pos = 1;          // 1-based position in the text, for messages
    int depth = 1;
    int kids[3] = {-1, -1, -1};
    int nkids = 0;
    int width = -1;       // character: the fixed width, -1 when it varies
    int numLength = 10;   // numeric: length and decimals, -1 when they vary
    int numDecimals = 0;
    int field = -1;
    uint16_t fieldType = 0;
    std::string name;     // Field: the field's own name
    XValue value;         // Const
};

using Node = Expression::Node;

const char* TypeName(Type type) {
    switch (type) {
        case Type::Character: return "character";
        case Type::Numeric: return "numeric";
        case Type::Date: return "date";
        case Type::Logical: return "logical";
        case Type::Time: return "time";
        case Type::Timestamp: return "timestamp";
    }
    return "?";
}

std::string XValueText(const XValue& v) {
    switch (v.type) {
        case Type::Character: return v.text;
        case Type::Numeric: return FormatNumber(v.number, v.length, v.decimals);
        case Type::Date: return CompactFromJulian(v.julian);
        case Type::Logical: return v.logical ? "T" : "F";
        case Type::Time: return FormatTime(v.ms);
        case Type::Timestamp: return CompactFromJulian(v.julian) + " " + FormatTime(v.ms);
    }
    return {};
}

namespace {

// ---------------------------------------------------------------- tokens

enum class Tok { End, Ident, Number, String, True, False, Op, LParen, RParen, Comma };

struct Token {
    Tok kind = Tok::End;
    std::string text;  // identifiers upper-cased; operators canonical
    std::string raw;   // identifiers as written; literal contents
    int pos = 1;
};

struct FunctionDef {
    const char* name;
    Op op;
    const char* args;  // per argument C N D(ate or timestamp) L *(any); '[' starts the optional ones
};

const FunctionDef kFunctions[] = {
    {"UPPER", Op::Upper, "C"},      {"LOWER", Op::Lower, "C"},       {"TRIM", Op::Rtrim, "C"},
    {"RTRIM", Op::Rtrim, "C"},      {"LTRIM", Op::Ltrim, "C"},       {"ALLTRIM", Op::Alltrim, "C"},
    {"SUBSTR", Op::Substr, "CN[N"}, {"LEFT", Op::Left, "CN"},        {"RIGHT", Op::Right, "CN"},
    {"LEN", Op::Len, "C"},          {"STR", Op::Str, "N[NN"},        {"VAL", Op::Val, "C"},
    {"DTOS", Op::Dtos, "D"},        {"DTOC", Op::Dtoc, "D"},         {"CTOD", Op::Ctod, "C"},
    {"STOD", Op::Stod, "C"},        {"CTOT", Op::Ctot, "C"},         {"CTOTS", Op::Ctots, "C"},
    {"DATE", Op::Today, ""},        {"YEAR", Op::Year, "D"},         {"MONTH", Op::Month, "D"},
    {"DAY", Op::Day, "D"},          {"IIF", Op::Iif, "L**"},         {"EMPTY", Op::Empty, "*"},
    {"DELETED", Op::Deleted, ""},   {"RECNO", Op::Recno, ""},        {"DESCEND", Op::Descend, "*"},
    {"CHR", Op::Chr, "N"},          {"ASC", Op::Asc, "C"},           {"SPACE", Op::Space, "N"},
    {"PADR", Op::Padr, "CN[C"},     {"PADL", Op::Padl, "CN[C"},      {"AT", Op::At, "CC"},
    {"CONTAINS", Op::Contains, "CC"},
};

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

class Parser {
public:
    Parser(std::string_view text, const RecordSource& source, std::vector<Node>& nodes)
        : text_(text), source_(source), nodes_(nodes) {}

    void Run() {
        Lex();
        ParseOr();
        if (Peek().kind != Tok::End) Fail(Peek().pos, "expected an operator or the end, found " + Describe(Peek()));
    }

private:
    [[noreturn]] void Fail(int pos, const std::string& what) const {
        Throw(KIV_ERR_EXPRESSION,
              "Expression error at position " + std::to_string(pos) + ": " + what + " in \"" + std::string(text_) + "\"");
    }

    static std::string Describe(const Token& t) {
        switch (t.kind) {
            case Tok::End: return "the end of the expression";
            case Tok::String: return "the text \"" + t.raw + "\"";
            case Tok::Ident: return "\"" + t.raw + "\"";
            default: return "\"" + t.text + "\"";
        }
    }

    // ------------------------------------------------------------ lexer

    void Lex() {
        const std::string_view s = text_;
        size_t i = 0;
        while (i < s.size()) {
            const char c = s[i];
            Token t;
            t.pos = static_cast<int>(i) + 1;
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') { ++i; continue; }
            if (c == '"' || c == '\'' || c == '[') {
                const char close = c == '[' ? ']' : c;
                const size_t end = s.find(close, i + 1);
                if (end == std::string_view::npos) Fail(t.pos, std::string("the text opened here is not closed by ") + close);
                t.kind = Tok::String;
                t.raw = std::string(s.substr(i + 1, end - i - 1));
                i = end + 1;
            } else if (IsDigit(c) || (c == '.' && i + 1 < s.size() && IsDigit(s[i + 1]))) {
                size_t e = i;
                while (e < s.size() && IsDigit(s[e])) ++e;
                if (e < s.size() && s[e] == '.' && !(e + 1 < s.size() && IsIdentStart(s[e + 1]))) {
                    ++e;
                    while (e < s.size() && IsDigit(s[e])) ++e;
                }
                t.kind = Tok::Number;
                t.raw = std::string(s.substr(i, e - i));
                t.text = t.raw;
                i = e;
            } else if (c == '.') {
                size_t e = i + 1;
                while (e < s.size() && std::isalpha(static_cast<unsigned char>(s[e]))) ++e;
                const std::string word = Upper(std::string(s.substr(i + 1, e - i - 1)));
                if (e >= s.size() || s[e] != '.' || word.empty()) Fail(t.pos, "expected .T., .F., .AND., .OR. or .NOT.");
                if (word == "T" || word == "TRUE" || word == "Y") t.kind = Tok::True;
                else if (word == "F" || word == "FALSE" || word == "N") t.kind = Tok::False;
                else if (word == "AND" || word == "OR" || word == "NOT") t.kind = Tok::Op;
                else Fail(t.pos, "unknown word ." + word + ".");
                t.text = "." + word + ".";
                if (t.kind == Tok::Op) t.text = word;
                i = e + 1;
            } else if (IsIdentStart(c)) {
                size_t e = i;
                while (e < s.size() && IsIdentChar(s[e])) ++e;
                t.kind = Tok::Ident;
                t.raw = std::string(s.substr(i, e - i));
                t.text = Upper(t.raw);
                i = e;
            } else {
                static const char* const kOps[] = {"==", "<>", "<=", ">=", "!=", "->", "=", "<", ">",
                                                   "#",  "$",  "+",  "-",  "*",  "/",  "%", "!"};
                const char* found = nullptr;
                for (const char* op : kOps)
                    if (s.compare(i, std::strlen(op), op) == 0) { found = op; break; }
                if (c == '(') { t.kind = Tok::LParen; t.text = "("; ++i; }
                else if (c == ')') { t.kind = Tok::RParen; t.text = ")"; ++i; }
                else if (c == ',') { t.kind = Tok::Comma; t.text = ","; ++i; }
                else if (found) {
                    t.kind = Tok::Op;
                    t.text = found;
                    if (t.text == "!") t.text = "NOT";
                    if (t.text == "#" || t.text == "!=") t.text = "<>";
                    i += std::strlen(found);
                } else {
                    Fail(t.pos, std::string("unexpected character '") + c + "'");
                }
            }
            tokens_.push_back(std::move(t));
        }
        Token end;
        end.pos = static_cast<int>(s.size()) + 1;
        tokens_.push_back(end);
    }

    const Token& Peek() const { return tokens_[next_]; }
    const Token& Take() { return tokens_[next_ < tokens_.size() - 1 ? next_++ : next_]; }
    bool IsOp(const char* op) const {
        const Token& t = Peek();
        // The words AND, OR and NOT serve as operators as well as .AND. and friends.
        return (t.kind == Tok::Op || t.kind == Tok::Ident) && t.text == op;
    }
    void Expect(Tok kind, const char* what) {
        if (Peek().kind != kind) Fail(Peek().pos, std::string("expected ") + what + ", found " + Describe(Peek()));
        Take();
    }

    // ------------------------------------------------------------ tree

    struct DepthGuard {
        Parser& p;
        explicit DepthGuard(Parser& parser, int pos) : p(parser) {
            if (++p.depth_ > kMaxNesting) p.Fail(pos, "the expression is nested too deeply");
        }
        ~DepthGuard() { --p.depth_; }
    };

    int Add(Node n, std::initializer_list<int> kids) {
        for (int k : kids) {
            n.kids[n.nkids++] = k;
            n.depth = std::max(n.depth, nodes_[k].depth + 1);
        }
        if (n.depth > kMaxTreeDepth) Fail(n.pos, "the expression is nested too deeply");
        nodes_.push_back(std::move(n));
        return static_cast<int>(nodes_.size()) - 1;
    }
    const Node& At(int i) const { return nodes_[i]; }

    static Node Make(Op op, Type type, int pos) {
        Node n;
        n.op = op;
        n.type = type;
        n.pos = pos;
        return n;
    }

    static int Sum(int a, int b) { return a < 0 || b < 0 ? -1 : a + b; }

    [[noreturn]] void Mismatch(const Token& op, int l, int r) const {
        Fail(op.pos, "\"" + op.text + "\" cannot combine " + TypeName(At(l).type) + " and " + TypeName(At(r).type));
    }

    int Binary(const Token& op, Op code, int l, int r) {
        const Type a = At(l).type, b = At(r).type;
        Node n = Make(code, Type::Logical, op.pos);
        switch (code) {
            case Op::Or: case Op::And:
                if (a != Type::Logical || b != Type::Logical) Mismatch(op, l, r);
                break;
            case Op::Eq: case Op::ExactEq: case Op::Ne: case Op::Lt: case Op::Le: case Op::Gt: case Op::Ge:
                if (a != b) Mismatch(op, l, r);
                break;
            case Op::Contained:
                if (a != Type::Character || b != Type::Character) Mismatch(op, l, r);
                break;
            case Op::Add: case Op::Sub:
                if (a == Type::Character && b == Type::Character) {
                    n.type = Type::Character;
                    n.width = Sum(At(l).width, At(r).width);
                } else if (a == Type::Numeric && b == Type::Numeric) {
                    n.type = Type::Numeric;
                } else if (a == Type::Date && b == Type::Numeric) {
                    n.type = Type::Date;
                } else if (a == Type::Numeric && b == Type::Date && code == Op::Add) {
                    n.type = Type::Date;
                } else if (a == Type::Date && b == Type::Date && code == Op::Sub) {
                    n.type = Type::Numeric;
                    n.numDecimals = 0;
                    n.numLength = DefaultLength(0);
                    return Add(n, {l, r});
                } else {
                    Mismatch(op, l, r);
                }
                break;
            default:  // * / %
                if (a != Type::Numeric || b != Type::Numeric) Mismatch(op, l, r);
                n.type = Type::Numeric;
                break;
        }
        if (n.type == Type::Numeric) {
            const int da = At(l).numDecimals, db = At(r).numDecimals;
            n.numDecimals = da < 0 || db < 0 ? -1 : ResultDecimals(code, da, db);
            n.numLength = n.numDecimals < 0 ? -1 : DefaultLength(n.numDecimals);
        }
        return Add(n, {l, r});
    }

    // ------------------------------------------------------------ grammar

    int ParseOr() {
        DepthGuard guard(*this, Peek().pos);
        int l = ParseAnd();
        while (IsOp("OR")) {
            const Token op = Take();
            l = Binary(op, Op::Or, l, ParseAnd());
        }
        return l;
    }

    int ParseAnd() {
        int l = ParseNot();
        while (IsOp("AND")) {
            const Token op = Take();
            l = Binary(op, Op::And, l, ParseNot());
        }
        return l;
    }

    int ParseNot() {
        if (IsOp("NOT")) {
            DepthGuard guard(*this, Peek().pos);
            const Token op = Take();
            const int x = ParseNot();
            if (At(x).type != Type::Logical)
                Fail(op.pos, std::string("NOT needs a logical operand, not ") + TypeName(At(x).type));
            return Add(Make(Op::Not, Type::Logical, op.pos), {x});
        }
        return ParseRelation();
    }

    int ParseRelation() {
        static const struct { const char* text; Op op; } kRel[] = {
            {"=", Op::Eq}, {"==", Op::ExactEq}, {"<>", Op::Ne}, {"<", Op::Lt}, {"<=", Op::Le},
            {">", Op::Gt}, {">=", Op::Ge},      {"$", Op::Contained},
        };
        int l = ParseSum();
        for (;;) {
            const Op* code = nullptr;
            for (const auto& r : kRel)
                if (Peek().kind == Tok::Op && Peek().text == r.text) code = &r.op;
            if (!code) return l;
            const Token op = Take();
            l = Binary(op, *code, l, ParseSum());
        }
    }

    int ParseSum() {
        int l = ParseProduct();
        while (Peek().kind == Tok::Op && (Peek().text == "+" || Peek().text == "-")) {
            const Token op = Take();
            l = Binary(op, op.text == "+" ? Op::Add : Op::Sub, l, ParseProduct());
        }
        return l;
    }

    int ParseProduct() {
        int l = ParseUnary();
        while (Peek().kind == Tok::Op && (Peek().text == "*" || Peek().text == "/" || Peek().text == "%")) {
            const Token op = Take();
            l = Binary(op, op.text == "*" ? Op::Mul : op.text == "/" ? Op::Div : Op::Mod, l, ParseUnary());
        }
        return l;
    }

    int ParseUnary() {
        if (Peek().kind == Tok::Op && (Peek().text == "-" || Peek().text == "+")) {
            DepthGuard guard(*this, Peek().pos);
            const Token op = Take();
            const int x = ParseUnary();
            if (At(x).type != Type::Numeric)
                Fail(op.pos, "unary \"" + op.text + "\" needs a numeric operand, not " + TypeName(At(x).type));
            if (op.text == "+") return x;
            Node n = Make(Op::Neg, Type::Numeric, op.pos);
            n.numLength = At(x).numLength;
            n.numDecimals = At(x).numDecimals;
            return Add(n, {x});
        }
        return ParsePrimary();
    }

    int ParsePrimary() {
        const Token t = Take();
        switch (t.kind) {
            case Tok::Number: {
                Node n = Make(Op::Const, Type::Numeric, t.pos);
                const size_t dot = t.raw.find('.');
                const int decimals = dot == std::string::npos ? 0 : static_cast<int>(t.raw.size() - dot - 1);
                n.value = Num(std::strtod(t.raw.c_str(), nullptr), std::min(decimals, kMaxDecimals));
                if (!std::isfinite(n.value.number)) Fail(t.pos, "the number " + t.raw + " is too large");
                n.value.length = std::max(n.value.length, static_cast<int>(t.raw.size()));
                n.numLength = n.value.length;
                n.numDecimals = n.value.decimals;
                return Add(n, {});
            }
            case Tok::String: {
                Node n = Make(Op::Const, Type::Character, t.pos);
                n.value = Text(t.raw);
                n.width = static_cast<int>(t.raw.size());
                return Add(n, {});
            }
            case Tok::True: case Tok::False: {
                Node n = Make(Op::Const, Type::Logical, t.pos);
                n.value = Bool(t.kind == Tok::True);
                return Add(n, {});
            }
            case Tok::LParen: {
                const int x = ParseOr();
                Expect(Tok::RParen, "\")\"");
                return x;
            }
            case Tok::Ident:
                if (t.text == "AND" || t.text == "OR" || t.text == "NOT") break;
                if (Peek().kind == Tok::LParen) return ParseCall(t);
                if (Peek().kind == Tok::Op && Peek().text == "->") {
                    Take();
                    if (Peek().kind != Tok::Ident) Fail(Peek().pos, "expected a field name after \"->\", found " + Describe(Peek()));
                    return FieldNode(Take());
                }
                return FieldNode(t);
            default: break;
        }
        Fail(t.pos, "expected an operand, found " + Describe(t));
    }

    int FieldNode(const Token& t) {
        const int index = source_.FieldIndex(t.raw);
        if (index < 0) Fail(t.pos, "unknown field " + t.raw);
        const FieldDef& f = source_.Field(index);
        Node n = Make(Op::Field, TypeOfField(f.type), t.pos);
        n.field = index;
        n.fieldType = f.type;
        n.name = f.name;
        if (f.type == KIV_FT_CHARACTER || f.type == KIV_FT_CICHARACTER || f.type == KIV_FT_RAW) {
            n.width = static_cast<int>(f.length);
        } else if (f.type == KIV_FT_VARCHAR && f.maxLength > 0) {
            n.width = static_cast<int>(f.maxLength);
        }
        if (n.type == Type::Numeric) {
            n.numDecimals = std::min<int>(f.decimals, kMaxDecimals);
            n.numLength = f.type == KIV_FT_NUMERIC ? static_cast<int>(f.length) : DefaultLength(n.numDecimals);
        }
        return Add(n, {});
    }

    int ParseCall(const Token& name) {
        const FunctionDef* def = nullptr;
        for (const auto& f : kFunctions)
            if (name.text == f.name) def = &f;
        if (!def) Fail(name.pos, "unknown function " + name.raw);
        Take();  // "("
        std::vector<int> args;
        std::vector<int> argPos;
        if (Peek().kind != Tok::RParen) {
            for (;;) {
                argPos.push_back(Peek().pos);
                args.push_back(ParseOr());
                if (Peek().kind != Tok::Comma) break;
                Take();
            }
        }
        Expect(Tok::RParen, "\",\" or \")\"");

        const std::string signature = def->args;
        const size_t optional = signature.find('[');
        const size_t most = signature.size() - (optional == std::string::npos ? 0 : 1);
        const size_t least = optional == std::string::npos ? signature.size() : optional;
        if (args.size() < least || args.size() > most) {
            const std::string count = least == most ? std::to_string(least) : std::to_string(least) + " to " + std::to_string(most);
            Fail(name.pos, std::string(def->name) + " takes " + count + " argument" + (most == 1 ? "" : "s") + ", not " +
                               std::to_string(args.size()));
        }
        std::string kinds = signature;
        if (optional != std::string::npos) kinds.erase(optional, 1);
        for (size_t i = 0; i < args.size(); ++i) {
            const Type got = At(args[i]).type;
            Type want;
            switch (kinds[i]) {
                case 'C': want = Type::Character; break;
                case 'N': want = Type::Numeric; break;
                case 'L': want = Type::Logical; break;
                case 'D':
                    want = Type::Date;
                    if (got == Type::Timestamp) continue;
                    break;
                default: continue;
            }
            if (got != want)
                Fail(argPos[i], "argument " + std::to_string(i + 1) + " of " + def->name + " must be " + TypeName(want) +
                                    ", not " + TypeName(got));
        }
        return Add(CallNode(*def, name.pos, args), {});
    }

    // A constant numeric argument's value, for the widths of SPACE(10) and the like.
    bool ConstInt(int node, int& out) const {
        if (At(node).op != Op::Const) return false;
        out = ToInt(At(node).value.number);
        return true;
    }

    Node CallNode(const FunctionDef& def, int pos, const std::vector<int>& args) {
        Node n = Make(def.op, Type::Character, pos);
        for (int a : args) {
            n.kids[n.nkids++] = a;
            n.depth = std::max(n.depth, At(a).depth + 1);
        }
        const int w0 = args.empty() ? -1 : At(args[0]).width;
        int k = 0;
        auto numeric = [&](int decimals) {
            n.type = Type::Numeric;
            n.numDecimals = decimals;
            n.numLength = decimals < 0 ? -1 : DefaultLength(decimals);
        };
        switch (def.op) {
            case Op::Upper: case Op::Lower: case Op::Rtrim: case Op::Ltrim: case Op::Alltrim: n.width = w0; break;
            case Op::Substr:
                n.width = w0;
                if (args.size() == 3 && ConstInt(args[2], k)) n.width = std::max(0, w0 < 0 ? k : std::min(k, w0));
                break;
            case Op::Left: case Op::Right:
                n.width = w0;
                if (ConstInt(args[1], k)) n.width = std::max(0, w0 < 0 ? k : std::min(k, w0));
                break;
            case Op::Str:
                if (args.size() >= 2) {
                    n.width = ConstInt(args[1], k) ? std::clamp(k, 1, kMaxMadeLength) : -1;
                } else {
                    n.width = At(args[0]).numLength;
                }
                break;
            case Op::Dtos: n.width = 8; break;
            case Op::Dtoc: n.width = static_cast<int>(ThreadDateFormat().size()); break;
            case Op::Chr: n.width = 1; break;
            case Op::Space: n.width = ConstInt(args[0], k) ? std::clamp(k, 0, kMaxMadeLength) : -1; break;
            case Op::Padr: case Op::Padl: n.width = ConstInt(args[1], k) ? std::clamp(k, 0, kMaxMadeLength) : -1; break;
            case Op::Len: case Op::Year: case Op::Month: case Op::Day: case Op::Recno: case Op::Asc: case Op::At:
                numeric(0);
                break;
            case Op::Val: numeric(args.size() == 1 && At(args[0]).op == Op::Const ? ParseVal(At(args[0]).value.text).decimals : -1); break;
            case Op::Ctod: case Op::Stod: case Op::Today: n.type = Type::Date; break;
            case Op::Ctot: n.type = Type::Time; break;
            case Op::Ctots: n.type = Type::Timestamp; break;
            case Op::Empty: case Op::Deleted: case Op::Contains: n.type = Type::Logical; break;
            case Op::Iif: {
                const Node& a = At(args[1]);
                const Node& b = At(args[2]);
                if (a.type != b.type)
                    Fail(pos, std::string("the two results of IIF must have one type, not ") + TypeName(a.type) + " and " +
                                  TypeName(b.type));
                n.type = a.type;
                n.width = a.width == b.width ? a.width : -1;
                if (a.width >= 0 && b.width >= 0) n.width = std::max(a.width, b.width);
                n.numLength = a.numLength == b.numLength ? a.numLength : -1;
                n.numDecimals = a.numDecimals == b.numDecimals ? a.numDecimals : -1;
                break;
            }
            case Op::Descend: {
                const Node& a = At(args[0]);
                n.type = a.type;
                n.width = a.width;
                n.numLength = a.numLength;
                n.numDecimals = a.numDecimals;
                if (a.type == Type::Date || a.type == Type::Time || a.type == Type::Timestamp) numeric(0);
                break;
            }
            default: break;
        }
        if (n.depth > kMaxTreeDepth) Fail(pos, "the expression is nested too deeply");
        return n;
    }

    std::string_view text_;
    const RecordSource& source_;
    std::vector<Node>& nodes_;
    std::vector<Token> tokens_;
    size_t next_ = 0;
    int depth_ = 0;
};

// ---------------------------------------------------------------- evaluation

struct Evaluator {
    const std::vector<Node>& nodes;
    RecordSource& record;
    bool exact;

    XValue FieldValue(const Node& n) const {
        const Value v = record.FieldValue(n.field);
        XValue out;
        out.type = n.type;
        switch (n.type) {
            case Type::Character: out.text = v.text; break;
            case Type::Numeric: {
                double d = 0;
                if (!ValueToDouble(v, d) || !std::isfinite(d)) d = 0;
                if (n.fieldType == KIV_FT_MONEY && v.kind == Value::Kind::Integer) d /= 10000.0;
                out.number = d;
                out.length = n.numLength;
                out.decimals = n.numDecimals;
                break;
            }
            case Type::Date: case Type::Timestamp:
                out.julian = v.kind == Value::Kind::Date || v.kind == Value::Kind::Stamp ? v.julian : 0;
                out.ms = v.kind == Value::Kind::Stamp ? v.ms : 0;
                break;
            case Type::Time: out.ms = v.kind == Value::Kind::Time ? v.ms : 0; break;
            case Type::Logical: out.logical = v.kind == Value::Kind::Logical && v.logical; break;
        }
        return out;
    }

    XValue Kid(const Node& n, int i) const { return Eval(n.kids[i]); }

    XValue Eval(int index) const {
        const Node& n = nodes[index];
        switch (n.op) {
            case Op::Const: return n.value;
            case Op::Field: return FieldValue(n);
            case Op::Or: return Bool(Kid(n, 0).logical || Kid(n, 1).logical);
            case Op::And: return Bool(Kid(n, 0).logical && Kid(n, 1).logical);
            case Op::Not: return Bool(!Kid(n, 0).logical);
            case Op::Neg: {
                XValue v = Kid(n, 0);
                v.number = -v.number;
                return v;
            }
            case Op::Eq: case Op::ExactEq: case Op::Ne: case Op::Lt: case Op::Le: case Op::Gt: case Op::Ge:
                return Relation(n.op, Kid(n, 0), Kid(n, 1));
            case Op::Contained: {
                const XValue a = Kid(n, 0), b = Kid(n, 1);
                // An empty text is not said to occur anywhere.
                return Bool(!a.text.empty() && b.text.find(a.text) != std::string::npos);
            }
            case Op::Add: case Op::Sub: case Op::Mul: case Op::Div: case Op::Mod:
                return Arithmetic(n.op, Kid(n, 0), Kid(n, 1));
            default: return Call(n);
        }
    }

    XValue Relation(Op op, const XValue& a, const XValue& b) const {
        if (op == Op::ExactEq && a.type == Type::Character) return Bool(a.text == b.text);
        if ((op == Op::Eq || op == Op::Ne) && a.type == Type::Character && !exact) {
            const bool prefix = a.text.size() >= b.text.size() && a.text.compare(0, b.text.size(), b.text) == 0;
            return Bool(op == Op::Eq ? prefix : !prefix);
        }
        const int c = Compare(a, b, exact);
        switch (op) {
            case Op::Eq: case Op::ExactEq: return Bool(c == 0);
            case Op::Ne: return Bool(c != 0);
            case Op::Lt: return Bool(c < 0);
            case Op::Le: return Bool(c <= 0);
            case Op::Gt: return Bool(c > 0);
            default: return Bool(c >= 0);
        }
    }

    static XValue Arithmetic(Op op, XValue a, const XValue& b) {
        if (a.type == Type::Character) {
            if (op == Op::Add) {
                a.text += b.text;
            } else {
                const size_t kept = RTrim(a.text).size();
                const size_t blanks = a.text.size() - kept;
                a.text.resize(kept);
                a.text += b.text;
                a.text.append(blanks, ' ');
            }
            return a;
        }
        if (a.type == Type::Date && b.type == Type::Date) return Num(static_cast<double>(a.julian) - b.julian, 0);
        if (a.type == Type::Date) return DateOf(ShiftDate(a.julian, op == Op::Add ? b.number : -b.number));
        if (b.type == Type::Date) return DateOf(ShiftDate(b.julian, a.number));
        double r = 0;
        switch (op) {
            case Op::Add: r = a.number + b.number; break;
            case Op::Sub: r = a.number - b.number; break;
            case Op::Mul: r = a.number * b.number; break;
            case Op::Div: r = b.number == 0 ? 0 : a.number / b.number; break;
            default: r = b.number == 0 ? 0 : std::fmod(a.number, b.number); break;
        }
        return Num(r, ResultDecimals(op, a.decimals, b.decimals));
    }

    XValue Call(const Node& n) const {
        switch (n.op) {
            case Op::Upper: return Text(Upper(Kid(n, 0).text));
            case Op::Lower: return Text(Lower(Kid(n, 0).text));
            case Op::Rtrim: return Text(std::string(RTrim(Kid(n, 0).text)));
            case Op::Ltrim: return Text(std::string(LTrim(Kid(n, 0).text)));
            case Op::Alltrim: return Text(std::string(LTrim(RTrim(Kid(n, 0).text))));
            case Op::Substr: {
                const XValue s = Kid(n, 0);
                const int size = static_cast<int>(s.text.size());
                int start = ToInt(Kid(n, 1).number);
                // Position 0 is the first character; negative positions count from the end.
                start = start > 0 ? start - 1 : start < 0 ? std::max(0, size + start) : 0;
                if (start >= size) return Text("");
                int count = n.nkids > 2 ? ToInt(Kid(n, 2).number) : size - start;
                count = std::clamp(count, 0, size - start);
                return Text(s.text.substr(static_cast<size_t>(start), static_cast<size_t>(count)));
            }
            case Op::Left: case Op::Right: {
                const XValue s = Kid(n, 0);
                const size_t count = static_cast<size_t>(std::clamp(ToInt(Kid(n, 1).number), 0, static_cast<int>(s.text.size())));
                return Text(n.op == Op::Left ? s.text.substr(0, count) : s.text.substr(s.text.size() - count));
            }
            case Op::Len: return Num(static_cast<double>(Kid(n, 0).text.size()), 0);
            case Op::Str: {
                const XValue v = Kid(n, 0);
                int width = v.length, decimals = v.decimals;
                if (n.nkids > 1) {
                    width = ToInt(Kid(n, 1).number);
                    decimals = n.nkids > 2 ? ToInt(Kid(n, 2).number) : 0;
                }
                return Text(FormatNumber(v.number, width, decimals));
            }
            case Op::Val: return ParseVal(Kid(n, 0).text);
            case Op::Dtos: return Text(CompactFromJulian(Kid(n, 0).julian));
            case Op::Dtoc: return Text(FormatDate(Kid(n, 0).julian));
            case Op::Ctod: return DateOf(ParseDate(Kid(n, 0).text).value_or(0));
            case Op::Stod: return DateOf(JulianFromCompact(Kid(n, 0).text).value_or(0));
            case Op::Ctot: {
                XValue v;
                v.type = Type::Time;
                v.ms = ParseClock(Kid(n, 0).text).value_or(0);
                return v;
            }
            case Op::Ctots: {
                XValue v;
                v.type = Type::Timestamp;
                ParseStamp(Kid(n, 0).text, v.julian, v.ms);
                return v;
            }
            case Op::Today: return DateOf(TodayJulian());
            case Op::Year: case Op::Month: case Op::Day: {
                const int32_t julian = Kid(n, 0).julian;
                if (julian <= 0) return Num(0, 0);
                int y, m, d;
                YmdFromJulian(julian, y, m, d);
                return Num(n.op == Op::Year ? y : n.op == Op::Month ? m : d, 0);
            }
            case Op::Iif: return Kid(n, 0).logical ? Kid(n, 1) : Kid(n, 2);
            case Op::Empty: return Bool(IsEmpty(Kid(n, 0)));
            case Op::Deleted: return Bool(record.Deleted());
            case Op::Recno: return Num(record.RecordNumber(), 0);
            case Op::Descend: return Descend(Kid(n, 0));
            case Op::Chr: return Text(std::string(1, static_cast<char>(ToInt(Kid(n, 0).number) & 0xFF)));
            case Op::Asc: {
                const std::string s = Kid(n, 0).text;
                return Num(s.empty() ? 0 : static_cast<unsigned char>(s[0]), 0);
            }
            case Op::Space: return Text(std::string(static_cast<size_t>(std::clamp(ToInt(Kid(n, 0).number), 0, kMaxMadeLength)), ' '));
            case Op::Padr: case Op::Padl: {
                std::string s = Kid(n, 0).text;
                const size_t width = static_cast<size_t>(std::clamp(ToInt(Kid(n, 1).number), 0, kMaxMadeLength));
                char fill = ' ';
                if (n.nkids > 2) {
                    const std::string f = Kid(n, 2).text;
                    if (!f.empty()) fill = f[0];
                }
                if (s.size() >= width) return Text(s.substr(0, width));
                if (n.op == Op::Padr) return Text(s + std::string(width - s.size(), fill));
                return Text(std::string(width - s.size(), fill) + s);
            }
            case Op::At: {
                const std::string needle = Kid(n, 0).text, hay = Kid(n, 1).text;
                const size_t at = needle.empty() ? std::string::npos : hay.find(needle);
                return Num(at == std::string::npos ? 0 : static_cast<double>(at + 1), 0);
            }
            case Op::Contains: return Bool(ContainsWords(Kid(n, 0).text, Kid(n, 1).text));
            default: return Bool(false);
        }
    }

    // A value that sorts the other way round.
    static XValue Descend(XValue v) {
        switch (v.type) {
            case Type::Character: Invert(v.text); return v;
            case Type::Numeric: v.number = -v.number; return v;
            case Type::Logical: v.logical = !v.logical; return v;
            case Type::Date: return Num(-static_cast<double>(v.julian), 0);
            case Type::Time: return Num(-static_cast<double>(v.ms), 0);
            case Type::Timestamp: return Num(-(static_cast<double>(v.julian) * 86400000.0 + v.ms), 0);
        }
        return v;
    }
};

}  // namespace

Expression::~Expression() = default;

std::unique_ptr<Expression> Expression::Parse(std::string_view text, const RecordSource& fields) {
    std::unique_ptr<Expression> e(new Expression);
    e->text_ = std::string(text);
    Parser(e->text_, fields, e->nodes_).Run();
    return e;
}

XValue::Type Expression::type() const { return nodes_.back().type; }

XValue Expression::Evaluate(RecordSource& record, bool exact) const {
    return Evaluator{nodes_, record, exact}.Eval(static_cast<int>(nodes_.size()) - 1);
}

bool Expression::EvaluateLogical(RecordSource& record, bool exact) const {
    if (type() != Type::Logical)
        Throw(KIV_ERR_EXPRESSION, std::string("The expression \"") + text_ + "\" is " + TypeName(type()) + ", not logical");
    return Evaluate(record, exact).logical;
}

namespace {

// The node a key is made of and whether an outer DESCEND turns it round.
const Node& KeyNode(const std::vector<Node>& nodes, bool& descending) {
    const Node& root = nodes.back();
    descending = root.op == Op::Descend;
    return descending ? nodes[root.kids[0]] : root;
}

int KeyLengthOf(const Node& n, const std::string& text) {
    switch (n.type) {
        case Type::Character:
            if (n.width < 0) Throw(KIV_ERR_EXPRESSION, "The key expression \"" + text + "\" has no fixed length");
            return n.width;
        case Type::Numeric: case Type::Date: case Type::Timestamp: return 8;
        case Type::Time: return 4;
        case Type::Logical: return 1;
    }
    return 0;
}

}  // namespace

int Expression::KeyLength() const {
    bool descending;
    return KeyLengthOf(KeyNode(nodes_, descending), text_);
}

std::string Expression::Key(RecordSource& record) const {
    bool descending;
    const Node& n = KeyNode(nodes_, descending);
    const int width = KeyLengthOf(n, text_);
    const int index = static_cast<int>(&n - nodes_.data());
    std::string key = ValueKey(Evaluator{nodes_, record, true}.Eval(index), width);
    if (descending) Invert(key);
    return key;
}

std::string Expression::KeyFromText(std::string_view text) const {
    bool descending;
    const Node& n = KeyNode(nodes_, descending);
    const int width = KeyLengthOf(n, text_);
    auto bad = [&] {
        Throw(KIV_ERR_CONVERSION, "\"" + std::string(text) + "\" is no " + TypeName(n.type) + " key value");
    };
    const std::string_view trimmed = RTrim(LTrim(text));
    std::string key;
    XValue v;
    v.type = n.type;
    switch (n.type) {
        case Type::Character:
            key = std::string(text.substr(0, static_cast<size_t>(width)));
            break;
        case Type::Numeric:
            if (trimmed.empty()) break;
            if (!ValueToDouble(Value::OfText(trimmed), v.number)) bad();
            key = ValueKey(v, width);
            break;
        case Type::Date: {
            if (trimmed.empty()) break;
            if (std::none_of(trimmed.begin(), trimmed.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); })) {
                key = CompactFromJulian(0);  // the empty date, as DTOC writes it
                break;
            }
            const auto julian = ParseDate(trimmed);
            if (!julian) bad();
            key = CompactFromJulian(*julian);
            break;
        }
        case Type::Logical: {
            if (trimmed.empty()) break;
            const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(trimmed[0] == '.' && trimmed.size() > 1 ? trimmed[1] : trimmed[0])));
            if (c == 'T' || c == 'Y') key = "T";
            else if (c == 'F' || c == 'N') key = "F";
            else bad();
            break;
        }
        case Type::Time: {
            if (trimmed.empty()) break;
            const auto ms = ParseClock(trimmed);
            if (!ms) bad();
            v.ms = *ms;
            key = ValueKey(v, width);
            break;
        }
        case Type::Timestamp:
            if (trimmed.empty()) break;
            ParseStamp(trimmed, v.julian, v.ms);
            if (!v.julian) bad();
            key = ValueKey(v, width);
            break;
    }
    if (descending) Invert(key);
    return key;
}

std::vector<std::string> Expression::SegmentFields() const {
    std::vector<std::string> names;
    const Node& root = nodes_.back();
    if (root.op == Op::Field) return {root.name};
    // A "+" chain of character fields, from the left.
    bool plain = true;
    auto walk = [&](auto&& self, const Node& n) -> void {
        if (!plain) return;
        if (n.op == Op::Add && n.type == Type::Character) {
            self(self, nodes_[n.kids[0]]);
            self(self, nodes_[n.kids[1]]);
        } else if (n.op == Op::Field && n.type == Type::Character) {
            names.push_back(n.name);
        } else {
            plain = false;
        }
    };
    walk(walk, root);
    if (!plain) return {};
    return names;
}

}  // namespace qel32
