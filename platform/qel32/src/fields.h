// Field definitions, the texts that define a table's fields, and the record
// image encodings of every field type.
//
// Image layout: byte 0 is the deletion flag (' ' live, '*' deleted), then the
// fields in order, each `length` bytes at `offset` = 1 + the lengths before.
//
// DBF tables (types 1 and 2) keep the public encodings: character, numeric,
// date ("YYYYMMDD") and logical as text, memo-like fields as a 10-character
// block number; integer and double as little-endian binary. Our own table
// type (3) uses the binary encodings of the wider type set: dates as a
// 32-bit Julian day, times as milliseconds, blobs as an 8-byte reference
// (32-bit block number, 32-bit length).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qel32.h"

namespace qel32 {

struct FieldDef {
    std::string name;
    uint16_t type = 0;       // engine field-type code
    uint32_t length = 0;     // bytes in the record image
    uint16_t decimals = 0;
    uint32_t offset = 0;     // in the record image
    uint32_t maxLength = 0;  // declared length (varchar: its maximum)
    char letter = 0;         // DBF descriptor letter
};

inline bool IsBlobType(uint16_t type) {
    return (type >= KIV_FT_MEMO && type <= KIV_FT_VARCHAR) || type == KIV_FT_GENERAL ||
           type == KIV_FT_PICTURE;
}
inline bool IsDbfType(uint16_t tableType) {
    return tableType == KIV_TABLE_NTX || tableType == KIV_TABLE_CDX;
}
// DBF fields whose types only the Visual FoxPro tables (version 0x30) define:
// binary integers, doubles, date-times, currency and the null flags.
inline bool IsVfpOnlyField(const FieldDef& f) {
    return f.type == KIV_FT_INTEGER || f.type == KIV_FT_DOUBLE || f.type == KIV_FT_TIMESTAMP ||
           f.type == KIV_FT_MONEY || f.letter == '0';
}
// DBF fields stored as binary bytes, empty when zero: those, and the 4-byte
// memo block numbers of version 0x30 tables.
inline bool IsDbfBinaryField(const FieldDef& f) {
    return IsVfpOnlyField(f) || (IsBlobType(f.type) && f.length == 4);
}

// The field-type code for a type word or letter; the word may be any prefix
// of a type name ("CHAR" is CHARACTER, "T" TIME, "MO" MONEY), but "B" is DOUBLE as in DBF
// headers. 0 when unknown.
uint16_t FieldTypeFromName(std::string_view word, uint16_t tableType);

// Parses "NAME,TYPE[,n[,m]];..." into checked definitions with offsets.
// Throws EngineError(KIV_ERR_BAD_FIELD_DEF) with a text naming the fault.
std::vector<FieldDef> ParseFieldDefs(std::string_view text, uint16_t tableType);

// Checks definitions read from a file or built by a caller and fills in the
// image lengths and offsets. Throws on a fault.
void LayoutFields(std::vector<FieldDef>& fields, uint16_t tableType);

// Total image length: 1 + the sum of the field lengths.
uint32_t RecordLength(const std::vector<FieldDef>& fields);

// The letter that stands for the type in a DBF descriptor, and back.
char DbfLetter(uint16_t type);
uint16_t TypeFromDbfLetter(char letter);

// A value on its way into or out of a record image.
struct Value {
    enum class Kind { Empty, Text, Number, Integer, Date, Time, Stamp, Logical, Bytes };
    Kind kind = Kind::Empty;
    std::string text;  // Text and Bytes
    double number = 0;
    int64_t integer = 0;  // Integer; Money and row versions also as scaled integers
    int32_t julian = 0;
    int32_t ms = 0;
    bool logical = false;

    static Value Empty() { return {}; }
    static Value OfText(std::string_view t) { Value v; v.kind = Kind::Text; v.text = t; return v; }
    static Value OfBytes(std::string_view t) { Value v; v.kind = Kind::Bytes; v.text = t; return v; }
    static Value OfNumber(double d) { Value v; v.kind = Kind::Number; v.number = d; return v; }
    static Value OfInteger(int64_t i) { Value v; v.kind = Kind::Integer; v.integer = i; return v; }
    static Value OfDate(int32_t jd) { Value v; v.kind = Kind::Date; v.julian = jd; return v; }
    static Value OfTime(int32_t ms) { Value v; v.kind = Kind::Time; v.ms = ms; return v; }
    static Value OfStamp(int32_t jd, int32_t ms) { Value v; v.kind = Kind::Stamp; v.julian = jd; v.ms = ms; return v; }
    static Value OfLogical(bool b) { Value v; v.kind = Kind::Logical; v.logical = b; return v; }
};

// Writes the field's empty image.
void SetEmptyImage(const FieldDef& f, uint8_t* image, uint16_t tableType);
// Whether the field's image is its empty value.
bool IsEmptyImage(const FieldDef& f, const uint8_t* image, uint16_t tableType);

// Decodes a non-blob field. Character fields come back as stored.
Value DecodeField(const FieldDef& f, const uint8_t* image, uint16_t tableType);
// Parses the text of a numeric field (blanks around it allowed); false for
// blank or damaged digits.
bool ParseNumericText(std::string_view text, double& out);

// Reads a number without building text: numeric, double, integer and money
// fields, and logicals as 1 or 0. Empty values read as 0. False for other types.
bool DecodeNumber(const FieldDef& f, const uint8_t* image, uint16_t tableType, double& out);
// The Julian day of a date or timestamp field (0 when empty); false for other types.
bool DecodeJulian(const FieldDef& f, const uint8_t* image, uint16_t tableType, int32_t& out);

// Encodes a value into a non-blob field. Returns KIV_OK, or KIV_ERR_VALUE_CUT
// when a character or raw value was longer than the field and was written
// cut. Throws (writing nothing) when the value cannot be converted or does
// not fit a numeric field.
KIVRESULT EncodeField(const FieldDef& f, uint8_t* image, uint16_t tableType, const Value& value);

// Text forms.
std::string ValueToText(const FieldDef& f, const Value& v);
bool ValueToDouble(const Value& v, double& out);

// Blob references inside the image.
struct BlobRef {
    uint32_t block = 0;
    uint32_t length = 0;  // 0 when the file format keeps the length with the data
};
BlobRef ReadBlobRef(const FieldDef& f, const uint8_t* image, uint16_t tableType);
void WriteBlobRef(const FieldDef& f, uint8_t* image, uint16_t tableType, BlobRef ref);

// Parses a decimal text exactly into an integer scaled by 10^scale.
bool ParseScaled(std::string_view text, int scale, int64_t& out);
std::string FormatScaled(int64_t value, int scale);

}  // namespace qel32
