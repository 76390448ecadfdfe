// Tests of the expression evaluator: values of each operator and function,
// the exact rule for texts, type and syntax errors with their positions, and
// index keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "dates.h"
#include "errors.h"
#include "expr.h"
#include "fields.h"

using namespace qel32;

namespace {

FieldDef Def(const char* name, uint16_t type, uint32_t length, uint16_t decimals = 0) {
    FieldDef f;
    f.name = name;
    f.type = type;
    f.length = length;
    f.decimals = decimals;
    return f;
}

// One record of a table with a field of each kind an expression reads.
class FakeRecord : public RecordSource {
public:
    FakeRecord() {
        fields_ = {Def("NAME", KIV_FT_CHARACTER, 10),  Def("FIRST", KIV_FT_CHARACTER, 8),
                   Def("AMOUNT", KIV_FT_NUMERIC, 10, 2), Def("QTY", KIV_FT_NUMERIC, 5),
                   Def("BORN", KIV_FT_DATE, 8),          Def("ACTIVE", KIV_FT_LOGICAL, 1),
                   Def("NOTES", KIV_FT_MEMO, 10),        Def("CLOCK", KIV_FT_TIME, 4),
                   Def("STAMP", KIV_FT_TIMESTAMP, 8)};
        values_ = {Value::OfText("Smith     "),
                   Value::OfText("John    "),
                   Value::OfNumber(12.5),
                   Value::OfNumber(3),
                   Value::OfDate(JulianFromYmd(1990, 5, 17)),
                   Value::OfLogical(true),
                   Value::OfText("Likes red apples and pears"),
                   Value::OfTime((13 * 60 + 5) * 60000),
                   Value::OfStamp(JulianFromYmd(2024, 3, 15), (10 * 60 + 30) * 60000)};
    }
    int FieldIndex(std::string_view name) const override {
        for (size_t i = 0; i < fields_.size(); ++i) {
            const std::string& f = fields_[i].name;
            if (f.size() == name.size() &&
                std::equal(f.begin(), f.end(), name.begin(),
                           [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) ==
                                                       std::toupper(static_cast<unsigned char>(b)); }))
                return static_cast<int>(i);
        }
        return -1;
    }
    const FieldDef& Field(int index) const override { return fields_.at(static_cast<size_t>(index)); }
    Value FieldValue(int index) override { return values_.at(static_cast<size_t>(index)); }
    uint32_t RecordNumber() override { return 7; }
    bool Deleted() override { return false; }

    void Set(const char* name, Value v) { values_.at(static_cast<size_t>(FieldIndex(name))) = std::move(v); }

private:
    std::vector<FieldDef> fields_;
    std::vector<Value> values_;
};

// "C:text", "N:12.50" (numbers as STR gives them, leading blanks dropped),
// "D:YYYYMMDD", "L:T", "T:HH:MM:SS", "S:YYYYMMDD HH:MM:SS".
std::string Show(const XValue& v) {
    static const char kLetters[] = "CNDLTS";
    std::string text = XValueText(v);
    if (v.type == XValue::Type::Numeric) text.erase(0, text.find_first_not_of(' '));
    return std::string(1, kLetters[static_cast<int>(v.type)]) + ":" + text;
}

std::string Eval(const std::string& text, bool exact = false) {
    FakeRecord record;
    return Show(Expression::Parse(text, record)->Evaluate(record, exact));
}

struct Case {
    const char* expression;
    const char* expected;
};

void ExpectCases(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        try {
            EXPECT_EQ(c.expected, Eval(c.expression)) << c.expression;
        } catch (const EngineError& e) {
            ADD_FAILURE() << c.expression << ": " << e.what();
        }
    }
}

}  // namespace

TEST(ExprValues, OperandsAndLiterals) {
    ExpectCases({
        {"NAME", "C:Smith     "},        {"name", "C:Smith     "},    {"T->NAME", "C:Smith     "},
        {"field->qty", "N:3"},           {"AMOUNT", "N:12.50"},       {"BORN", "D:19900517"},
        {"ACTIVE", "L:T"},               {"NOTES", "C:Likes red apples and pears"},
        {"CLOCK", "T:13:05:00"},         {"STAMP", "S:20240315 10:30:00"},
        {"\"a'b\"", "C:a'b"},            {"'a\"b'", "C:a\"b"},          {"[a\"b'c]", "C:a\"b'c"},
        {".T.", "L:T"},                  {".f.", "L:F"},               {".TRUE.", "L:T"},
        {".False.", "L:F"},              {"1.25", "N:1.25"},           {".5", "N:0.5"},
        {"  7  ", "N:7"},
    });
}

TEST(ExprValues, Arithmetic) {
    ExpectCases({
        {"NAME + FIRST", "C:Smith     John    "},
        {"NAME - FIRST", "C:SmithJohn         "},  // the left's blanks go to the end
        {"AMOUNT * QTY", "N:37.50"},       {"AMOUNT / 4", "N:3.13"},       {"QTY % 2", "N:1"},
        {"-QTY + 1", "N:-2"},              {"+QTY", "N:3"},                {"10 / 0", "N:0.00"},
        {"QTY % 0", "N:0"},                {"2 + 3 * 4", "N:14"},          {"(2 + 3) * 4", "N:20"},
        {"10 - 4 - 3", "N:3"},             {"2 * -3", "N:-6"},             {"- - 2", "N:2"},
        {"BORN + 1", "D:19900518"},        {"1 + BORN", "D:19900518"},     {"BORN - 17", "D:19900430"},
        {"STOD('19900601') - BORN", "N:15"}, {"CTOD('') + 5", "D:        "},
    });
}

TEST(ExprValues, ComparisonsAndLogic) {
    ExpectCases({
        {"AMOUNT = 12.5", "L:T"},   {"AMOUNT = 12.50001", "L:F"}, {"QTY <> 3", "L:F"},   {"QTY # 4", "L:T"},
        {"QTY != 3", "L:F"},        {"QTY < 4", "L:T"},           {"QTY <= 3", "L:T"},   {"QTY > 3", "L:F"},
        {"QTY >= 4", "L:F"},        {"0.1 + 0.2 = 0.3", "L:T"},   {"-1 < 0", "L:T"},
        {"'mit' $ NAME", "L:T"},    {"'xyz' $ NAME", "L:F"},      {"'' $ NAME", "L:F"},
        {"BORN < CTOD('01/01/2000')", "L:T"}, {"BORN = STOD('19900517')", "L:T"},
        {"ACTIVE = .T.", "L:T"},    {".F. < .T.", "L:T"},         {"CLOCK > CTOT('12:00')", "L:T"},
        {"STAMP = CTOTS('2024-03-15 10:30')", "L:T"}, {"STAMP < CTOTS('03/15/2024 10:31')", "L:T"},
        {".NOT. ACTIVE", "L:F"},    {"!ACTIVE", "L:F"},           {"NOT ACTIVE", "L:F"}, {"not .f.", "L:T"},
        {"ACTIVE .AND. QTY = 3", "L:T"},      {"ACTIVE AND QTY = 4", "L:F"},    {"ACTIVE and QTY = 3", "L:T"},
        {".F. .OR. QTY = 3", "L:T"},          {"QTY = 4 OR NAME = 'Sm'", "L:T"},
        {".NOT. .F. .AND. .F.", "L:F"},       {".T. .OR. .T. .AND. .F.", "L:T"}, {"(.T. .OR. .T.) .AND. .F.", "L:F"},
        {"(empty(NOTES)) AND (NAME='Smith') AND (QTY=3)", "L:F"},
        {"(ACTIVE=.TRUE.) AND (BORN=ctod(\"05/17/1990\")) AND (AMOUNT=12.5)", "L:T"},
        {"(NAME=\"Sm\"+ Chr(34) + \"ith\")", "L:F"},
    });
}

TEST(ExprValues, TextFunctions) {
    ExpectCases({
        {"UPPER(NAME)", "C:SMITH     "},   {"lower(FIRST)", "C:john    "},  {"TRIM(NAME)", "C:Smith"},
        {"RTRIM(NAME)", "C:Smith"},        {"LTRIM('  a ')", "C:a "},       {"ALLTRIM('  a  ')", "C:a"},
        {"SUBSTR(NAME, 2, 3)", "C:mit"},   {"SUBSTR(NAME, 4)", "C:th     "}, {"SUBSTR(NAME, 0, 2)", "C:Sm"},
        {"SUBSTR('abcdef', -2)", "C:ef"},  {"SUBSTR('abc', -9, 2)", "C:ab"}, {"SUBSTR('abc', 10)", "C:"},
        {"SUBSTR('abc', 2, -1)", "C:"},    {"SUBSTR('abc', 2, 100)", "C:bc"}, {"SUBSTR('', 1, 1)", "C:"},
        {"LEFT('abc', 2)", "C:ab"},        {"LEFT('abc', 9)", "C:abc"},     {"LEFT('abc', -1)", "C:"},
        {"RIGHT('abc', 2)", "C:bc"},       {"RIGHT('abc', 5)", "C:abc"},    {"RIGHT('abc', -5)", "C:"},
        {"LEN(NAME)", "N:10"},             {"LEN(TRIM(NAME))", "N:5"},      {"LEN(NOTES)", "N:26"},
        {"LEN('')", "N:0"},                {"CHR(65)", "C:A"},              {"Chr(34)", "C:\""},
        {"CHR(321)", "C:A"},               {"ASC('a')", "N:97"},            {"ASC('')", "N:0"},
        {"SPACE(3)", "C:   "},             {"SPACE(-1)", "C:"},             {"PADR('ab', 4)", "C:ab  "},
        {"PADL('ab', 4, '*')", "C:**ab"},  {"PADR('abcdef', 3)", "C:abc"},  {"PADL('ab', 3, '')", "C: ab"},
        {"AT('th', NAME)", "N:4"},         {"AT('zz', NAME)", "N:0"},       {"AT('', NAME)", "N:0"},
        {"CONTAINS(NOTES, 'RED pears')", "L:T"}, {"CONTAINS(NOTES, 'red grapes')", "L:F"},
        {"CONTAINS(NOTES, 'app*')", "L:T"},      {"CONTAINS(NOTES, '  ')", "L:F"},
        {"IIF(ACTIVE, 'yes', 'no')", "C:yes"},   {"iif(QTY > 5, 1, 2)", "N:2"},
        {"EMPTY(NAME)", "L:F"},   {"EMPTY(SPACE(3))", "L:T"}, {"EMPTY(0)", "L:T"},    {"EMPTY(AMOUNT)", "L:F"},
        {"EMPTY(CTOD(''))", "L:T"}, {"EMPTY(.F.)", "L:T"},    {"EMPTY(CTOT(''))", "L:T"},
        {"DELETED()", "L:F"},     {"RECNO()", "N:7"},
        {"DESCEND(5)", "N:-5"},   {"DESCEND(.T.)", "L:F"},    {"DESCEND('A')", "C:\xBE"},
    });
}

TEST(ExprValues, NumbersToTextAndBack) {
    ExpectCases({
        {"STR(QTY)", "C:    3"},              // the field's own width
        {"STR(AMOUNT)", "C:     12.50"},
        {"STR(5)", "C:         5"},           // ten digits
        {"STR(1.5)", "C:         1.5"},       // ten digits, the point and one decimal
        {"STR(AMOUNT, 6, 1)", "C:  12.5"},    {"STR(AMOUNT, 4)", "C:  13"},   // half away from zero
        {"STR(-2.5, 3)", "C: -3"},            {"STR(12345, 3)", "C:***"},     {"STR(-0.001, 5, 2)", "C: 0.00"},
        {"STR(AMOUNT * QTY)", "C:        37.50"}, {"STR(1/3, 6, 3)", "C: 0.333"}, {"STR(12, 0)", "C:*"},
        {"VAL('12.345')", "N:12.345"},        {"VAL(' -7x')", "N:-7"},        {"VAL('abc')", "N:0"},
        {"STR(VAL('2.50'))", "C:         2.50"}, {"VAL(STR(AMOUNT)) = AMOUNT", "L:T"},
    });
}

TEST(ExprValues, Dates) {
    ExpectCases({
        {"DTOS(BORN)", "C:19900517"},          {"DTOC(BORN)", "C:05/17/1990"},
        {"DTOC(CTOD(''))", "C:          "},    {"DTOS(CTOD(''))", "C:        "},
        {"CTOD('05/17/1990')", "D:19900517"},  {"CTOD('1990-05-17')", "D:19900517"}, {"ctod(\"19900517\")", "D:19900517"},
        {"CTOD('garbage')", "D:        "},     {"CTOD('02/30/1990')", "D:        "},
        {"STOD('19900517')", "D:19900517"},    {"STOD('')", "D:        "},           {"STOD('1990')", "D:        "},
        {"YEAR(BORN)", "N:1990"},              {"MONTH(BORN)", "N:5"},                {"DAY(BORN)", "N:17"},
        {"YEAR(CTOD(''))", "N:0"},             {"YEAR(STAMP)", "N:2024"},             {"DTOS(STAMP)", "C:20240315"},
        {"DATE() = DATE()", "L:T"},            {"DATE() > BORN", "L:T"},
        {"CTOT('13:05')", "T:13:05:00"},       {"CTOT('1:05 PM')", "T:13:05:00"},     {"CTOT('12:30 AM')", "T:00:30:00"},
        {"ctot('09:00:01.5')", "T:09:00:01.500"}, {"CTOT('25:00')", "T:00:00:00"},
        {"ctots(\"03/15/2024 10:30:00\")", "S:20240315 10:30:00"},
        {"CTOTS('2024-03-15T08:00')", "S:20240315 08:00:00"}, {"CTOTS('')", "S:         00:00:00"},
    });
}

TEST(ExprValues, DatesFollowTheThreadsFormat) {
    SetThreadDateFormat("DD.MM.YYYY");
    ExpectCases({
        {"DTOC(BORN)", "C:17.05.1990"},
        {"CTOD('17.05.1990')", "D:19900517"},
        {"CTOD('1990-05-17')", "D:19900517"},
        {"CTOD('05/17/1990')", "D:        "},
    });
    SetThreadDateFormat("MM/DD/YYYY");
}

TEST(ExprValues, ExactSettingDecidesTextEquality) {
    struct ExactCase {
        const char* expression;
        bool partial, exact;
    } cases[] = {
        {"NAME = 'Sm'", true, false},          {"NAME = 'Smith'", true, true},
        {"NAME = 'Smithson'", false, false},   {"NAME = ''", true, false},
        {"NAME = 'Smith   '", true, true},     {"NAME = 'Smith      '", false, true},
        {"'Sm' = NAME", false, false},         {"NAME == 'Smith'", false, false},
        {"NAME == 'Smith     '", true, true},  {"NAME <> 'Sm'", false, true},
        {"NAME # 'Smith'", false, false},      {"NAME >= 'Sm'", true, true},
        {"NAME > 'Sm'", false, true},          {"NAME < 'Smz'", true, true},
        {"NAME <= 'Sm'", true, false},         {"UPPER(NAME) = 'SMI'", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.partial ? "L:T" : "L:F", Eval(c.expression, false)) << c.expression << " exact off";
        EXPECT_EQ(c.exact ? "L:T" : "L:F", Eval(c.expression, true)) << c.expression << " exact on";
    }
}

TEST(ExprValues, EvaluatesEachRecordFromOneParse) {
    FakeRecord record;
    auto e = Expression::Parse("AMOUNT > 10 .AND. UPPER(NAME) = 'SM'", record);
    EXPECT_TRUE(e->EvaluateLogical(record, false));
    record.Set("AMOUNT", Value::OfNumber(9));
    EXPECT_FALSE(e->EvaluateLogical(record, false));
    record.Set("AMOUNT", Value::OfNumber(11));
    record.Set("NAME", Value::OfText("smart     "));
    EXPECT_TRUE(e->EvaluateLogical(record, false));
    record.Set("NAME", Value::OfText("Jones     "));
    EXPECT_FALSE(e->EvaluateLogical(record, false));
}

TEST(ExprValues, EmptyFieldValuesReadAsTheirTypesEmptyValue) {
    FakeRecord record;
    for (const char* name : {"AMOUNT", "BORN", "ACTIVE", "NOTES", "CLOCK", "STAMP"}) record.Set(name, Value::Empty());
    auto e = Expression::Parse("EMPTY(AMOUNT) .AND. EMPTY(BORN) .AND. EMPTY(ACTIVE) .AND. EMPTY(NOTES) .AND. "
                               "EMPTY(CLOCK) .AND. EMPTY(STAMP) .AND. DTOS(BORN) = '        '",
                               record);
    EXPECT_TRUE(e->EvaluateLogical(record, true));
}

TEST(ExprTypes, ResultTypeIsKnownAfterParsing) {
    FakeRecord record;
    struct TypeCase {
        const char* expression;
        XValue::Type type;
    } cases[] = {
        {"NAME+FIRST", XValue::Type::Character}, {"AMOUNT*2", XValue::Type::Numeric},
        {"BORN+1", XValue::Type::Date},          {"BORN-BORN", XValue::Type::Numeric},
        {"QTY>1", XValue::Type::Logical},        {"DESCEND(BORN)", XValue::Type::Numeric},
        {"CTOT('')", XValue::Type::Time},        {"CTOTS('')", XValue::Type::Timestamp},
        {"IIF(ACTIVE, BORN, DATE())", XValue::Type::Date},
    };
    for (const auto& c : cases) EXPECT_EQ(c.type, Expression::Parse(c.expression, record)->type()) << c.expression;
    auto numeric = Expression::Parse("QTY", record);
    try {
        numeric->EvaluateLogical(record, false);
        ADD_FAILURE() << "a numeric expression evaluated as logical";
    } catch (const EngineError& e) {
        EXPECT_EQ(KIV_ERR_EXPRESSION, e.code());
    }
}

// Type errors and malformed texts: the position (1-based) and the words the
// message must carry.
TEST(ExprErrors, ReportThePositionAndWhatWasExpected) {
    struct ErrorCase {
        const char* expression;
        int position;
        const char* words;
    } cases[] = {
        {"'A' + 1", 5, "character and numeric"},
        {".NOT. 'x'", 1, "logical"},
        {"!QTY", 1, "logical"},
        {"QTY .AND. ACTIVE", 5, "numeric and logical"},
        {"ACTIVE OR 'x'", 8, "logical and character"},
        {"-NAME", 1, "numeric"},
        {"UPPER(QTY)", 7, "argument 1 of UPPER must be character"},
        {"SUBSTR(NAME, '2')", 14, "argument 2 of SUBSTR must be numeric"},
        {"IIF(ACTIVE, 1, 'a')", 1, "one type"},
        {"IIF(QTY, 1, 2)", 5, "must be logical"},
        {"BORN + BORN", 6, "date and date"},
        {"QTY - BORN", 5, "numeric and date"},
        {"NAME * 2", 6, "character and numeric"},
        {"NAME = 1", 6, "character and numeric"},
        {"'a' $ 1", 5, "character and numeric"},
        {"CLOCK = BORN", 7, "time and date"},
        {"SUBSTR(NAME)", 1, "SUBSTR takes 2 to 3 arguments, not 1"},
        {"DATE(1)", 1, "DATE takes 0 arguments, not 1"},
        {"UPPER()", 1, "UPPER takes 1 argument, not 0"},
        {"", 1, "expected an operand, found the end"},
        {"   ", 4, "expected an operand"},
        {"QTY +", 6, "expected an operand, found the end"},
        {"(QTY + 1", 9, "expected \")\""},
        {"UPPER(NAME", 11, "expected \",\" or \")\""},
        {"NAME = 'Sm", 8, "not closed"},
        {"NAME = [Sm", 8, "not closed by ]"},
        {"NOSUCH = 1", 1, "unknown field NOSUCH"},
        {"QTY = 1 .AND. X->NOSUCH", 18, "unknown field NOSUCH"},
        {"FOO(1)", 1, "unknown function FOO"},
        {"QTY 3", 5, "expected an operator or the end"},
        {"QTY = 3)", 8, "expected an operator or the end"},
        {"QTY = 3 .ANDX. .T.", 9, "unknown word .ANDX."},
        {"QTY = 3 .AND .T.", 9, "expected .T., .F."},
        {"QTY @ 3", 5, "unexpected character '@'"},
        {"A->", 4, "expected a field name"},
        {"QTY = = 3", 7, "expected an operand"},
        {"AND QTY", 1, "expected an operand"},
        {"UPPER(NAME,)", 12, "expected an operand"},
        {"1e5", 2, "expected an operator"},
    };
    FakeRecord record;
    for (const auto& c : cases) {
        try {
            Expression::Parse(c.expression, record);
            ADD_FAILURE() << c.expression << " parsed";
        } catch (const EngineError& e) {
            const std::string text = e.what();
            EXPECT_EQ(KIV_ERR_EXPRESSION, e.code()) << c.expression;
            EXPECT_NE(std::string::npos, text.find("at position " + std::to_string(c.position) + ":"))
                << c.expression << " -> " << text;
            EXPECT_NE(std::string::npos, text.find(c.words)) << c.expression << " -> " << text;
        }
    }
}

TEST(ExprErrors, DeepNestingIsRefusedNotOverflowed) {
    FakeRecord record;
    for (const std::string& text : {std::string(5000, '(') + "1" + std::string(5000, ')'),
                                    std::string(5000, '-') + "1", std::string(5000, '!') + ".T.", [] {
                                        std::string s = "1";
                                        for (int i = 0; i < 5000; ++i) s += "+1";
                                        return s;
                                    }()}) {
        try {
            Expression::Parse(text, record);
            ADD_FAILURE() << "parsed: " << text.substr(0, 20);
        } catch (const EngineError& e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find("nested too deeply")) << text.substr(0, 20);
        }
    }
}

// Every prefix of valid expressions either parses and evaluates or gives an
// expression error; nothing else escapes and nothing crashes.
TEST(ExprErrors, EveryPrefixParsesOrFailsCleanly) {
    const char* const texts[] = {
        "IIF(UPPER(SUBSTR(NAME, 2, 3)) $ 'MIT', STR(AMOUNT * -QTY, 12, 3), DTOC(BORN + 30)) + [x]",
        "(ctod(\"05/17/1990\") <= BORN) .AND. .NOT. EMPTY(PADL(LTRIM(FIRST), 20, '0')) OR RECNO() # 7",
        "DESCEND(DTOS(BORN)) + CHR(ASC(NAME) % 256) + SPACE(AT('h', NAME)) - LEFT(NOTES, LEN(FIRST))",
    };
    FakeRecord record;
    for (const char* full : texts) {
        const std::string text = full;
        for (size_t n = 0; n <= text.size(); ++n) {
            const std::string prefix = text.substr(0, n);
            try {
                auto e = Expression::Parse(prefix, record);
                e->Evaluate(record, false);
            } catch (const EngineError& e) {
                EXPECT_EQ(KIV_ERR_EXPRESSION, e.code()) << prefix;
            }
        }
    }
}

namespace {

std::string KeyOf(const char* expression, FakeRecord& record) {
    return Expression::Parse(expression, record)->Key(record);
}

}  // namespace

TEST(ExprKeys, NumbersSortInKeyOrder) {
    FakeRecord record;
    auto key = Expression::Parse("AMOUNT", record);
    auto down = Expression::Parse("DESCEND(AMOUNT)", record);
    EXPECT_EQ(8, key->KeyLength());
    EXPECT_EQ(8, down->KeyLength());
    std::vector<std::string> up, reversed;
    for (double d : {-1e300, -5.0, -0.5, -0.0, 0.0, 1e-300, 3.0, 20.0, 1e300}) {
        record.Set("AMOUNT", Value::OfNumber(d));
        up.push_back(key->Key(record));
        reversed.push_back(down->Key(record));
        EXPECT_EQ(8u, up.back().size());
    }
    for (size_t i = 1; i < up.size(); ++i) {
        const bool zeros = i == 4;  // -0 and 0 are one key
        EXPECT_EQ(zeros ? 0 : -1, std::clamp(up[i - 1].compare(up[i]), -1, 1)) << i;
        EXPECT_EQ(zeros ? 0 : 1, std::clamp(reversed[i - 1].compare(reversed[i]), -1, 1)) << i;
    }
}

TEST(ExprKeys, DatesAndLogicalsSortInKeyOrder) {
    FakeRecord record;
    auto key = Expression::Parse("BORN", record);
    auto down = Expression::Parse("DESCEND(BORN)", record);
    std::vector<std::string> up, reversed;
    for (int32_t jd : {0, JulianFromYmd(1899, 12, 30), JulianFromYmd(1990, 5, 17), JulianFromYmd(2024, 1, 1)}) {
        record.Set("BORN", jd ? Value::OfDate(jd) : Value::Empty());
        up.push_back(key->Key(record));
        reversed.push_back(down->Key(record));
    }
    EXPECT_EQ("        ", up[0]);
    EXPECT_EQ("19900517", up[2]);
    EXPECT_TRUE(std::is_sorted(up.begin(), up.end()));
    EXPECT_TRUE(std::is_sorted(reversed.rbegin(), reversed.rend()));
    EXPECT_EQ(up.end(), std::adjacent_find(up.begin(), up.end()));

    auto flag = Expression::Parse("ACTIVE", record);
    EXPECT_EQ(1, flag->KeyLength());
    EXPECT_EQ("T", flag->Key(record));
    record.Set("ACTIVE", Value::OfLogical(false));
    EXPECT_EQ("F", flag->Key(record));
}

TEST(ExprKeys, CharacterKeysHaveTheExpressionsWidth) {
    FakeRecord record;
    struct KeyCase {
        const char* expression;
        int length;
        const char* key;
    } cases[] = {
        {"NAME", 10, "Smith     "},
        {"TRIM(NAME)", 10, "Smith     "},
        {"NAME+FIRST", 18, "Smith     John    "},
        {"TRIM(NAME)+FIRST", 18, "SmithJohn         "},
        {"UPPER(NAME)+STR(QTY)", 15, "SMITH         3"},
        {"LEFT(NAME, 3)", 3, "Smi"},
        {"SUBSTR(NAME, 2, 20)", 10, "mith      "},
        {"DTOS(BORN)+NAME", 18, "19900517Smith     "},
        {"STR(AMOUNT, 7, 1)", 7, "   12.5"},
        {"PADL(TRIM(FIRST), 6, '0')", 6, "00John"},
        {"IIF(ACTIVE, NAME, 'x')", 10, "Smith     "},
        {"DTOC(BORN)", 10, "05/17/1990"},
    };
    for (const auto& c : cases) {
        auto e = Expression::Parse(c.expression, record);
        EXPECT_EQ(c.length, e->KeyLength()) << c.expression;
        EXPECT_EQ(c.key, e->Key(record)) << c.expression;
    }
    std::string down = KeyOf("NAME", record);
    for (char& ch : down) ch = static_cast<char>(~static_cast<unsigned char>(ch));
    EXPECT_EQ(down, KeyOf("DESCEND(NAME)", record));
    for (const char* varying : {"NOTES", "NOTES + NAME", "SPACE(QTY)", "PADR(NAME, QTY)"}) {
        auto e = Expression::Parse(varying, record);
        try {
            e->KeyLength();
            ADD_FAILURE() << varying << " has a key length";
        } catch (const EngineError& err) {
            EXPECT_EQ(KIV_ERR_EXPRESSION, err.code()) << varying;
        }
    }
    // A fixed width from a constant argument.
    EXPECT_EQ(15, Expression::Parse("LEFT(NOTES, 5) + NAME", record)->KeyLength());
}

TEST(ExprKeys, SeekTextsGiveTheKeysOfTheirValues) {
    FakeRecord record;
    auto name = Expression::Parse("NAME", record);
    EXPECT_EQ("Sm", name->KeyFromText("Sm"));                    // partial
    EXPECT_EQ("Smith and ", name->KeyFromText("Smith and more"));  // cut to the key
    EXPECT_EQ("", name->KeyFromText(""));
    auto down = Expression::Parse("DESCEND(NAME)", record);
    EXPECT_EQ(0u, down->Key(record).find(down->KeyFromText("Sm")));  // still a prefix of the record's key

    auto amount = Expression::Parse("AMOUNT", record);
    for (double d : {5.0, -0.5, 12.5, 0.0}) {
        record.Set("AMOUNT", Value::OfNumber(d));
        char text[32];
        std::snprintf(text, sizeof text, "%10g", d);  // as STR(n) writes it
        EXPECT_EQ(amount->Key(record), amount->KeyFromText(text)) << text;
    }
    EXPECT_EQ("", amount->KeyFromText("   "));

    auto born = Expression::Parse("BORN", record);
    SetThreadDateFormat("DD.MM.YYYY");
    for (const char* text : {"17.05.1990", "1990-05-17", "19900517"}) EXPECT_EQ("19900517", born->KeyFromText(text)) << text;
    EXPECT_EQ("        ", born->KeyFromText("  .  .    "));
    SetThreadDateFormat("MM/DD/YYYY");
    EXPECT_EQ("19900517", born->KeyFromText("05/17/1990"));

    auto active = Expression::Parse("ACTIVE", record);
    for (const char* text : {"T", "t", ".T.", "Y"}) EXPECT_EQ("T", active->KeyFromText(text)) << text;
    for (const char* text : {"F", ".F.", "n"}) EXPECT_EQ("F", active->KeyFromText(text)) << text;

    auto stamp = Expression::Parse("STAMP", record);
    EXPECT_EQ(stamp->Key(record), stamp->KeyFromText("2024-03-15 10:30"));
    auto clock = Expression::Parse("CLOCK", record);
    EXPECT_EQ(clock->Key(record), clock->KeyFromText("1:05 PM"));

    struct Bad {
        Expression* e;
        const char* text;
    } bad[] = {{amount.get(), "12x"}, {born.get(), "02/30/1990"}, {born.get(), "soon"},
               {active.get(), "maybe"}, {clock.get(), "noon"}, {stamp.get(), "later"}};
    for (const auto& b : bad) {
        try {
            b.e->KeyFromText(b.text);
            ADD_FAILURE() << b.text << " made a key";
        } catch (const EngineError& err) {
            EXPECT_EQ(KIV_ERR_CONVERSION, err.code()) << b.text;
        }
    }
}

TEST(ExprKeys, SegmentFieldsOnlyForPlainFieldLists) {
    FakeRecord record;
    struct SegmentCase {
        const char* expression;
        std::vector<std::string> fields;
    } cases[] = {
        {"name", {"NAME"}},
        {"NAME+FIRST", {"NAME", "FIRST"}},
        {"T->NAME + FIRST + NAME", {"NAME", "FIRST", "NAME"}},
        {"AMOUNT", {"AMOUNT"}},
        {"BORN", {"BORN"}},
        {"UPPER(NAME)", {}},
        {"NAME+UPPER(FIRST)", {}},
        {"QTY+AMOUNT", {}},
        {"NAME-FIRST", {}},
        {"DESCEND(NAME)", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.fields, Expression::Parse(c.expression, record)->SegmentFields()) << c.expression;
}
