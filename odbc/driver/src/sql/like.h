// LIKE pattern matching for catalog name patterns and values: '%' matches
// any run of characters, '_' one character, and an optional escape
// character makes the next pattern character literal. Trailing blanks of the
// value and of the pattern never count; letters compare without regard to
// case unless the exact flag is set.
//
// Matching runs in time proportional to pattern length times value length,
// whatever the pattern: a pattern such as "%a%a%a%a%b" against a long value
// finishes at once.
#ifndef KIVODBC_LIKE_H
#define KIVODBC_LIKE_H

#include <sql.h>

#include <cstddef>
#include <cstdint>

namespace kivodbc {

// What the quick paths of MatchLikeValue need to know about a pattern.
struct LikePatternShape {
  bool leadingPercent = false;
  bool trailingPercent = false;
  // An '_' at either end, or a '%' or '_' anywhere strictly inside.
  bool complex = false;
};
LikePatternShape ClassifyLikePattern(const char* pattern, size_t length);

// Non-zero when `value` matches `pattern`. Lengths may be SQL_NTS. `escape`
// is 0 for none or the escape character itself (the catalog functions pass
// '\'). Without an escape character the common shapes (exact, prefix, suffix
// and contained text) take a quick path; they give the same answers as the
// general matcher.
int MatchLikeValue(char escape, const char* value, SQLLEN valueLength, const char* pattern, SQLLEN patternLength,
                   bool exact);

// The general matcher. An `escape` of 1 stands for the backslash.
int MatchLikePattern(char escape, const char* value, SQLLEN valueLength, const char* pattern, SQLLEN patternLength,
                     bool exact);

// Case folding of the driver's single-byte (Windows-1252) character set.
unsigned char FoldLikeCase(unsigned char c);

}  // namespace kivodbc

#endif
