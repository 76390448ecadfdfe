// The engine's xBase expressions: index keys, FOR and WHILE conditions,
// filters, locate and the expression-evaluation entry points.
//
// An expression is parsed once against the fields of a table into a typed
// tree and then evaluated per record. Every type is known after parsing, so
// type errors ("A" + 1, .NOT. "x", IIF with branches of two types) are
// reported by Parse; evaluation itself never fails and never throws except
// for EvaluateLogical on an expression that is not logical.
//
// Language
//   operands   field names (NAME, or ALIAS->NAME with the alias ignored);
//              "text", 'text', [text]; 12, 1.50, .5; .T. .F. .TRUE. .FALSE.
//   operators  from the lowest binding: .OR./OR; .AND./AND; .NOT./NOT/!;
//              = == <> # != < <= > >= $; + -; * / %; unary - and +.
//              "+" joins texts, "-" joins them moving the left text's
//              trailing blanks to the end; date + n, date - n, date - date.
//              Division by zero gives 0.
//   strings    "=" with exact off: true when the right text is a prefix of
//              the left one (the right side's length decides, so x = "" is
//              always true); with exact on: equal after trailing blanks.
//              "==" compares the bytes exactly. < <= > >= compare as "=" does:
//              with exact off the left text is cut to the right one's length.
//              a $ b: a occurs in b.
//   functions  UPPER LOWER TRIM RTRIM LTRIM ALLTRIM SUBSTR LEFT RIGHT LEN
//              STR(n[,len[,dec]]) VAL DTOS DTOC CTOD STOD CTOT CTOTS DATE()
//              YEAR MONTH DAY IIF EMPTY DELETED() RECNO() DESCEND CHR ASC
//              SPACE PADR PADL AT CONTAINS(text, words); names in any case.
//              CTOD/DTOC use the thread's date format (CTOD also reads ISO
//              and YYYYMMDD; a text that is no date gives the empty date).
//              CONTAINS is true when every blank-separated word of its second
//              argument occurs in the first, case-insensitively.
//              Lengths made by SPACE/PADR/PADL/STR are capped at 65535.
//
// A parsed expression is not changed by evaluation: one may serve several
// threads at once (DTOC and CTOD read the calling thread's date format).
//
// Numbers carry a length and decimals for STR without a width: a numeric
// field its own; other numbers 10 digits, plus the point and decimals when
// they have decimals (literals and VAL count their decimals; + - keep the
// larger count, * adds them, / keeps at least 2).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fields.h"

namespace qel32 {

// What an expression reads: the fields of the current record and a few facts
// about it.
class RecordSource {
public:
    virtual ~RecordSource() = default;
    virtual int FieldIndex(std::string_view name) const = 0;  // -1 when unknown; names case-insensitive
    virtual const FieldDef& Field(int index) const = 0;
    // Decoded as DecodeField does (character fields as stored, blank padded);
    // memo-like fields as their text.
    virtual Value FieldValue(int index) = 0;
    virtual uint32_t RecordNumber() = 0;
    virtual bool Deleted() = 0;
};

struct XValue {
    // Time fields and CTOT give Time (ms); timestamp fields and CTOTS give
    // Timestamp (julian + ms).
    enum class Type { Character, Numeric, Date, Logical, Time, Timestamp };
    Type type = Type::Logical;
    std::string text;        // Character
    double number = 0;       // Numeric
    int length = 10;         // Numeric: width and decimals for STR
    int decimals = 0;
    int32_t julian = 0;      // Date, Timestamp; 0 is the empty date
    int32_t ms = 0;          // Time, Timestamp
    bool logical = false;    // Logical
};

const char* TypeName(XValue::Type type);  // "character", "numeric", ...

// The value as text: character as it is, numeric as STR gives it, dates as
// "YYYYMMDD" (blanks when empty), logicals "T"/"F", times "HH:MM:SS[.mmm]",
// timestamps "YYYYMMDD HH:MM:SS[.mmm]".
std::string XValueText(const XValue& value);

class Expression {
public:
    ~Expression();

    // Parses once; field names are resolved against the source's fields.
    // Throws EngineError(KIV_ERR_EXPRESSION) for malformed text and type
    // errors, with a text "... at position P: ..." (P 1-based; the text's
    // length + 1 when the expression ends too early).
    static std::unique_ptr<Expression> Parse(std::string_view text, const RecordSource& fields);

    const std::string& text() const { return text_; }
    XValue::Type type() const;

    // exact: the table's exact setting for "=" on texts.
    XValue Evaluate(RecordSource& record, bool exact) const;
    // Throws EngineError(KIV_ERR_EXPRESSION) when the expression is not logical.
    bool EvaluateLogical(RecordSource& record, bool exact) const;

    // Index keys: bytes that sort by memcmp (then length) in key order, always
    // KeyLength() long. Character keys are the text blank-padded or cut to the
    // width; numbers an order-preserving 8-byte form (negatives too); dates
    // "YYYYMMDD" (blanks sort first); logicals "F" < "T"; times 4 bytes,
    // timestamps 8. An outer DESCEND() inverts every byte. Texts inside a key
    // compare with exact on.
    std::string Key(RecordSource& record) const;
    // The fixed key length. Throws EngineError(KIV_ERR_EXPRESSION) for
    // character expressions without a fixed width (memo fields, SPACE(n) of a
    // field's value, ...).
    int KeyLength() const;
    // The key bytes for a text given by a caller (a seek or scope text):
    // character as given, cut to KeyLength() and shorter for a partial key;
    // numeric as STR(n) or any number text; dates in the thread's format, ISO
    // or "YYYYMMDD" (only separators, as DTOC writes it, is the empty date); logicals "T",
    // "F", ".T.", "Y", "N". An empty text gives the empty (partial) key.
    // Throws EngineError(KIV_ERR_CONVERSION) when the text is no such value.
    std::string KeyFromText(std::string_view text) const;

    // The field names when the expression is a single field or a "+" list of
    // character fields ("LAST+FIRST"); empty otherwise ("UPPER(NAME)").
    std::vector<std::string> SegmentFields() const;

    struct Node;

private:
    Expression() = default;
    std::string text_;
    std::vector<Node> nodes_;  // children before parents; the root is last
};

}  // namespace qel32
