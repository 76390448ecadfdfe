// The scanner of the driver's SQL front end: blanks and comments, tokens,
// and number literals. Every failure is a driver code, with the text that
// replaces the message's "%s" written to `argument` (kArgumentSize bytes).
#ifndef KIVODBC_SCANNER_H
#define KIVODBC_SCANNER_H

#include <sql.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kivodbc {

// Token kinds.
constexpr int16_t kTokenEnd = 0;
constexpr int16_t kTokenSymbol = 1;
constexpr int16_t kTokenNumber = 2;
constexpr int16_t kTokenString = 3;
constexpr int16_t kTokenIdentifier = 4;  // a delimited name, or a word that is not reserved
constexpr int16_t kTokenReserved = 5;
constexpr int16_t kTokenWord = 7;        // an undelimited word before classification

constexpr size_t kTokenSize = 1025;  // 1024 characters and the NUL
constexpr size_t kMaxTokenLength = 1024;

constexpr uint16_t kUnexpectedEnd = 2113;
constexpr uint16_t kTokenTooLarge = 2114;
constexpr uint16_t kExpectedNotFound = 2115;
constexpr uint16_t kMalformedNumber = 2116;
constexpr uint16_t kUnexpectedToken = 2117;
constexpr uint16_t kMalformedEscape = 2118;

struct ScanPosition {
  const char* at;
  size_t remaining;
};

// Skips blanks and comments. A "--" that opens the long escape form
// ("--(*vendor(Microsoft),product(ODBC) ... *)--") is not a comment: the
// skipping stops in front of it.
uint32_t SkipBlanksAndComments(char* argument, ScanPosition* position);

// Reads one token after blanks and comments. `token` gets its text (for a
// string literal the value, quotes undone), `kind` its kind, `next` the
// position after it.
uint32_t ScanToken(char* argument, ScanPosition position, char* token, int16_t* kind, ScanPosition* next);

// kTokenReserved for FROM, SELECT, SET and SQL (any case), else kTokenIdentifier.
int16_t ClassifyWord(const char* word);

// A number literal: an optional sign and a number, or "true"/"false".
struct NumberLiteral {
  std::string text;   // "-" in front when negated; ".T." / ".F." for true / false
  double value = 0;
  int16_t sqlType = SQL_INTEGER;
  int16_t scale = 0;
};
uint32_t ScanNumberLiteral(char* argument, ScanPosition* position, NumberLiteral* out);

// Copies `text` into an argument buffer, cut to fit.
void SetScanArgument(char* argument, const std::string& text);
void AppendScanArgument(char* argument, const std::string& text);

}  // namespace kivodbc

#endif
