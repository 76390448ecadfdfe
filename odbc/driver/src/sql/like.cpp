#include "sql/like.h"

#include "kivwin/win.h"

#include <cstring>
#include <vector>

namespace kivodbc {
namespace {

struct Text {
  const char* data;
  size_t size;
};

// The text without its trailing blanks; SQL_NTS resolved, other negative
// lengths read as empty.
Text Trimmed(const char* text, SQLLEN length) {
  if (text == nullptr) return {"", 0};
  size_t n = length == SQL_NTS ? std::strlen(text) : length < 0 ? 0 : static_cast<size_t>(length);
  while (n > 0 && text[n - 1] == ' ') --n;
  return {text, n};
}

bool SameChar(unsigned char a, unsigned char b, bool exact) {
  return a == b || (!exact && FoldLikeCase(a) == FoldLikeCase(b));
}

bool SameText(const char* a, const char* b, size_t n, bool exact) {
  for (size_t i = 0; i < n; ++i)
    if (!SameChar(static_cast<unsigned char>(a[i]), static_cast<unsigned char>(b[i]), exact)) return false;
  return true;
}

bool Contains(Text value, const char* inner, size_t innerSize, bool exact) {
  if (innerSize > value.size) return false;
  for (size_t at = 0; at + innerSize <= value.size; ++at)
    if (SameText(value.data + at, inner, innerSize, exact)) return true;
  return false;
}

// One element of a pattern once its escapes are resolved.
struct Element {
  enum Kind : unsigned char { kAnyRun, kAnyOne, kLiteral } kind;
  unsigned char literal;
};

std::vector<Element> Elements(Text pattern, char escape) {
  std::vector<Element> out;
  out.reserve(pattern.size);
  for (size_t i = 0; i < pattern.size; ++i) {
    const char c = pattern.data[i];
    if (escape != 0 && c == escape && i + 1 < pattern.size) {
      out.push_back({Element::kLiteral, static_cast<unsigned char>(pattern.data[++i])});
    } else if (c == '%') {
      if (out.empty() || out.back().kind != Element::kAnyRun) out.push_back({Element::kAnyRun, 0});
    } else if (c == '_') {
      out.push_back({Element::kAnyOne, 0});
    } else {
      out.push_back({Element::kLiteral, static_cast<unsigned char>(c)});
    }
  }
  return out;
}

}  // namespace

unsigned char FoldLikeCase(unsigned char c) { return kivwin::AnsiUpperChar(c); }

LikePatternShape ClassifyLikePattern(const char* pattern, size_t length) {
  LikePatternShape shape;
  if (length == 0) return shape;
  shape.leadingPercent = pattern[0] == '%';
  shape.trailingPercent = pattern[length - 1] == '%';
  shape.complex = pattern[0] == '_' || pattern[length - 1] == '_';
  for (size_t i = 1; i + 1 < length && !shape.complex; ++i)
    shape.complex = pattern[i] == '%' || pattern[i] == '_';
  return shape;
}

int MatchLikePattern(char escape, const char* valueText, SQLLEN valueLength, const char* patternText,
                     SQLLEN patternLength, bool exact) {
  if (escape == 1) escape = '\\';
  const Text value = Trimmed(valueText, valueLength);
  const std::vector<Element> pattern = Elements(Trimmed(patternText, patternLength), escape);
  // Greedy walk that remembers the last '%': on a mismatch the '%' takes one
  // more character and the walk resumes after it. Each '%' restarts at most
  // once per value position, which bounds the work by pattern x value.
  size_t p = 0;
  size_t v = 0;
  size_t starP = SIZE_MAX;
  size_t starV = 0;
  while (v < value.size) {
    if (p < pattern.size() && pattern[p].kind != Element::kAnyRun &&
        (pattern[p].kind == Element::kAnyOne ||
         SameChar(pattern[p].literal, static_cast<unsigned char>(value.data[v]), exact))) {
      ++p;
      ++v;
    } else if (p < pattern.size() && pattern[p].kind == Element::kAnyRun) {
      starP = p++;
      starV = v;
    } else if (starP != SIZE_MAX) {
      p = starP + 1;
      v = ++starV;
    } else {
      return 0;
    }
  }
  while (p < pattern.size() && pattern[p].kind == Element::kAnyRun) ++p;
  return p == pattern.size() ? 1 : 0;
}

int MatchLikeValue(char escape, const char* valueText, SQLLEN valueLength, const char* patternText,
                   SQLLEN patternLength, bool exact) {
  const Text value = Trimmed(valueText, valueLength);
  const Text pattern = Trimmed(patternText, patternLength);
  if (escape == 0 && value.size > 0 && pattern.size > 0) {
    if (pattern.size == 1 && pattern.data[0] == '%') return 1;
    const LikePatternShape shape = ClassifyLikePattern(pattern.data, pattern.size);
    if (!shape.complex) {
      const char* inner = pattern.data + (shape.leadingPercent ? 1 : 0);
      const size_t innerSize = pattern.size - (shape.leadingPercent ? 1 : 0) - (shape.trailingPercent ? 1 : 0);
      if (!shape.leadingPercent && !shape.trailingPercent)
        return value.size == innerSize && SameText(value.data, inner, innerSize, exact) ? 1 : 0;
      if (shape.leadingPercent && !shape.trailingPercent)
        return value.size >= innerSize && SameText(value.data + value.size - innerSize, inner, innerSize, exact)
                   ? 1
                   : 0;
      if (!shape.leadingPercent)
        return value.size >= innerSize && SameText(value.data, inner, innerSize, exact) ? 1 : 0;
      return Contains(value, inner, innerSize, exact) ? 1 : 0;
    }
  }
  return MatchLikePattern(escape, value.data, static_cast<SQLLEN>(value.size), pattern.data,
                          static_cast<SQLLEN>(pattern.size), exact);
}

}  // namespace kivodbc
