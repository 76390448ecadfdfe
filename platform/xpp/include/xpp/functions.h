// Text, number, date, array and binary functions, and the comparison and
// arithmetic operators of the language. Positions and counts are 1-based,
// as in the language; character values are bytes (NULs allowed).
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "xpp/value.h"

namespace xpp {

// ---------------------------------------------------------------- operators
// Over C, N, D, L and NIL. Operands of mismatched types raise the runtime's
// argument error (genCode EG_ARG); the result is then the error block's
// result when it is logical, else .F. NIL equals only NIL (= and == answer
// .F. for NIL against another type, without error). == on arrays, blocks
// and objects compares identity.
bool Eq(const Value& a, const Value& b);       // =   (texts by the EXACT setting)
bool ExactEq(const Value& a, const Value& b);  // ==
bool Ne(const Value& a, const Value& b);       // !=  (the negation of =)
bool Lt(const Value& a, const Value& b);       // <
bool Le(const Value& a, const Value& b);       // <=
bool Gt(const Value& a, const Value& b);       // >
bool Ge(const Value& a, const Value& b);       // >=
bool Contains(const Value& part, const Value& whole);  // $
// Arithmetic: integers stay exact while the result fits 64 bits; other
// numbers give a double. An exact decimal compares with a double as its
// nearest double. + joins
// texts; date + number and date - number move a date, date - date counts
// days. A division by zero raises EG_ZERODIV.
Value Plus(const Value& a, const Value& b);
Value Minus(const Value& a, const Value& b);
Value Times(const Value& a, const Value& b);
Value Divide(const Value& a, const Value& b);

// ------------------------------------------------------------------ numbers
// STR(n): integers right-aligned in 10 places (wider numbers take what they
// need), decimals after a further point.
std::string Str(const Value& n);
// STR(n, len[, dec]): rounded to `dec` places, right-aligned in `len`;
// asterisks when it does not fit.
std::string Str(const Value& n, int len, int dec = 0);
// VAL(text): leading blanks, a sign, digits and one point; integers stay
// exact to 64 bits, and so does a text with a point whose digits fit 64
// bits (up to 18 decimals): an exact decimal with as many decimals as
// digits follow the point. A longer text gives the nearest double. 0 when
// there is no number.
Value Val(std::string_view text);
Value Int(const Value& n);                 // truncation toward zero
// ROUND(): half away from zero; a double is rounded as it is written (its
// shortest text that reads back as the same double), and a number with no
// more decimals than asked is answered unchanged. STR() rounds the same way.
Value Round(const Value& n, int decimals);
Value Abs(const Value& n);
Value Min(const Value& a, const Value& b); // N or D
Value Max(const Value& a, const Value& b); // N or D

// --------------------------------------------------------------------- text
std::string LTrim(std::string_view s);
std::string RTrim(std::string_view s);
inline std::string Trim(std::string_view s) { return RTrim(s); }
std::string AllTrim(std::string_view s);
std::string Upper(std::string_view s);  // Windows-1252 letters included
std::string Lower(std::string_view s);
std::string Left(std::string_view s, int64_t n);
std::string Right(std::string_view s, int64_t n);
// SUBSTR(s, start[, count]): a negative start counts from the end.
std::string SubStr(std::string_view s, int64_t start,
                   int64_t count = std::numeric_limits<int64_t>::max());
// AT(search, s[, start]): 1-based position of the first match at or after
// `start`, 0 when none (and for an empty search).
size_t At(std::string_view search, std::string_view s, size_t start = 1);
size_t RAt(std::string_view search, std::string_view s);  // last match, 0 when none
// STRTRAN(s, search[, replace[, start[, count]]]): replaces matches
// `start`..`start`+`count`-1 (counted from 1).
std::string StrTran(std::string_view s, std::string_view search, std::string_view replace = "",
                    size_t start = 1, size_t count = std::numeric_limits<size_t>::max());
std::string Space(int64_t n);
std::string PadR(std::string_view s, int64_t n, char fill = ' ');
std::string Replicate(std::string_view s, int64_t n);
std::string Chr(int64_t code);  // one byte: code mod 256
size_t Len(const Value& v);     // bytes of a text, elements of an array, 0 otherwise
// EMPTY(): NIL, blanks-only text (space, tab, CR, LF), 0, the empty date,
// .F., an empty array.
bool Empty(const Value& v);
std::string ValType(const Value& v);  // "C", "N", "D", "L", "A", "B", "O", "U"
// CONVTOANSICP(): OEM (code page 850) text to Windows-1252.
std::string ConvToAnsiCP(std::string_view oem);

// -------------------------------------------------------------------- dates
std::string DToS(const Date& d);     // "YYYYMMDD"; 8 blanks for the empty date
Date SToD(std::string_view s);       // empty when not a real date
std::string DToC(const Date& d);     // by SET(SET_DATEFORMAT); blanks for the empty date
Date CToD(std::string_view s);       // by SET(SET_DATEFORMAT); empty when not a real date
int Year(const Date& d);
int Month(const Date& d);
int Day(const Date& d);

// ------------------------------------------------------------------- arrays
// a[i] and a[i] := v on any value: a value that is not an array raises the
// runtime's argument error (an index out of range the bound error); the
// reader then answers the error block's result.
Value ArrayGet(const Value& a, size_t i);
void ArrayPut(const Value& a, size_t i, Value v);
// ARRAY(n[, m]): n NIL elements, or n arrays of m NIL elements.
Array MakeArray(size_t n);
Array MakeArray(size_t n, size_t m);
Value AAdd(const Array& a, Value v);  // answers v
void ASize(const Array& a, size_t n);
// ADEL(a, i): removes element i, the others move up, the last becomes NIL
// (the length stays).
void ADel(const Array& a, size_t i);
// AINS(a, i): inserts NIL at i, the last element falls off (the length stays).
void AIns(const Array& a, size_t i);
// ASCAN(a, value, ...): a character value matches only an equal text (==),
// never by the EXACT-dependent =; arrays and objects by identity; values of
// another type never match. 0 when nothing matches.
size_t AScan(const Array& a, const Value& value, size_t start = 1,
             size_t count = std::numeric_limits<size_t>::max());
// ASCAN(a, block, ...): the first element for which block(element, index)
// answers .T.
size_t AScan(const Array& a, const Block& block, size_t start = 1,
             size_t count = std::numeric_limits<size_t>::max());
// AEVAL(a, block, start, count, byRef): evaluates block(element, index);
// with `byRef` the element is passed by reference and what the block
// assigns to it is stored back into the array. Answers the array.
Array AEval(const Array& a, const Block& block, size_t start = 1,
            size_t count = std::numeric_limits<size_t>::max(), bool byRef = false);
Array AClone(const Array& a);  // a deep copy of nested arrays
// ASORT(a, start, count, block): sorts in place, stably; block(x, y)
// answers .T. when x goes before y. Without a block: ascending, values of
// different types grouped by type. Never reads or writes outside the array
// and keeps every element even for an inconsistent block; an error raised
// in the block propagates and leaves the array as it was.
Array ASort(const Array& a, size_t start = 1, size_t count = std::numeric_limits<size_t>::max(),
            const Block& block = Block());
Array AFill(const Array& a, const Value& v, size_t start = 1,
            size_t count = std::numeric_limits<size_t>::max());

// ------------------------------------------------------------ binary forms
// VAR2CHAR(): the text form of any value: texts as they are, numbers as
// STR without leading blanks, dates by DTOC, ".T."/".F.", "NIL", arrays as
// "{1, abc, {2}}", blocks as "{||...}", objects by class name.
std::string Var2Char(const Value& v);
// VAR2BIN()/BIN2VAR(): any value but code blocks and objects into a binary
// form of the runtime's own and back. Var2Bin raises EG_ARG for a block or
// an object (they are left out); Bin2Var answers NIL for text that is not
// such a form.
std::string Var2Bin(const Value& v);
Value Bin2Var(std::string_view bin);
// Little-endian integers and doubles. Short input reads as zero-filled.
int64_t Bin2I(std::string_view b);   // signed 16 bits
int64_t Bin2W(std::string_view b);   // unsigned 16 bits
int64_t Bin2L(std::string_view b);   // signed 32 bits
int64_t Bin2U(std::string_view b);   // unsigned 32 bits
double Bin2F(std::string_view b);    // 8-byte double
std::string I2Bin(int64_t n);        // 2 bytes
std::string W2Bin(int64_t n);        // 2 bytes
std::string L2Bin(int64_t n);        // 4 bytes
std::string U2Bin(int64_t n);        // 4 bytes
std::string F2Bin(double d);         // 8 bytes
int64_t BAnd(int64_t a, int64_t b);
int64_t BOr(int64_t a, int64_t b);

}  // namespace xpp
